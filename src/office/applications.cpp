// Obtaining, reusing and ending the PowerPoint and Word applications, and the version queries.
#include "office/applications.hpp"

#include "office/regional_number.hpp"
#include "quorvane/catalog.hpp"

namespace quorvane::office {
namespace {

// Creation is tried again after a failed probe or creation until this many failures are counted.
constexpr int kCreationRetries = 2;

constexpr double kVersion2007 = 12;
constexpr double kVersion2010 = 14;

}  // namespace

Applications::Applications(std::shared_ptr<ApplicationProvider> provider, Reporter& reporter)
    : provider_(std::move(provider)), reporter_(reporter) {}

VariantBool Applications::StartPowerPoint() {
  int retries = 0;
  bool probing = true;
  for (;;) {
    try {
      if (probing) {
        probing = false;
        if (!PowerPointApplication) throw AutomationError(failure::kObjectNotSet, u"Object variable not set");
        if (PowerPointApplication->Name().empty()) PowerPointApplication.reset();
      }
      if (!PowerPointApplication) PowerPointApplication = provider_->CreatePowerPoint();
      if (!PowerPointApplication) throw AutomationError(failure::kCannotCreateObject, u"No application was created");
      return kVariantTrue;
    } catch (const AutomationError& e) {
      PowerPointApplication.reset();
      if (retries < kCreationRetries) {
        ++retries;
        continue;
      }
      reporter_.KeepFailureCause(e.number(), e.description());
      reporter_.RaiseError(catalog::kPowerPointNotCreated, {});
      return kVariantFalse;
    }
  }
}

VariantBool Applications::StartWord() {
  int retries = 0;
  bool probing = true;
  for (;;) {
    try {
      if (probing) {
        probing = false;
        if (!WordApplication) throw AutomationError(failure::kObjectNotSet, u"Object variable not set");
        if (WordApplication->Name().empty()) WordApplication.reset();
      }
      if (!WordApplication) {
        WordApplication = provider_->CreateWord();
        if (!WordApplication) throw AutomationError(failure::kCannotCreateObject, u"No application was created");
        WordApplication->put_DisplayAlerts(0);
        WordApplication->put_Visible(false);
      }
      return kVariantTrue;
    } catch (const AutomationError& e) {
      WordApplication.reset();
      if (retries < kCreationRetries) {
        ++retries;
        continue;
      }
      reporter_.KeepFailureCause(e.number(), e.description());
      reporter_.RaiseError(catalog::kWordNotCreated, {});
      reporter_.ReplaceErrorString(u"Unable to create Word application. Please install Word.");
      return kVariantFalse;
    }
  }
}

VariantBool Applications::QuitPowerPoint() {
  if (OptimizeForSpeed == kVariantTrue) return kVariantTrue;
  try {
    if (PowerPointApplication) {
      PowerPointApplication->Quit();
      PowerPointApplication.reset();
    }
    return kVariantTrue;
  } catch (const AutomationError& e) {
    PowerPointApplication.reset();
    reporter_.KeepFailureCauseIfNone(e.number(), e.description());
    reporter_.RaiseError(catalog::kPowerPointNotDestroyed, {});
    return kVariantFalse;
  }
}

VariantBool Applications::QuitWord() {
  if (OptimizeForSpeed == kVariantTrue) return kVariantTrue;
  try {
    if (WordApplication) {
      WordApplication->Quit(false);
      WordApplication.reset();
    }
    return kVariantTrue;
  } catch (const AutomationError& e) {
    reporter_.KeepFailureCauseIfNone(e.number(), e.description());
    if (WordApplication) {
      // One more attempt; if Word fails again it is let go all the same, and -15 says so.
      try {
        WordApplication->Quit(false);
      } catch (const AutomationError&) {
      }
      WordApplication.reset();
    }
    reporter_.RaiseError(catalog::kWordNotDestroyed, {});
    return kVariantFalse;
  }
}

double Applications::PowerPointVersion(std::u16string& sPowerPointVersion) {
  if (CachedPowerPointVersion == 0) {
    // Each step that fails is passed over; the next one runs. A separate application answers,
    // so the one the conversions use is neither touched nor started.
    std::shared_ptr<ppt::Application> separate;
    try {
      separate = provider_->CreatePowerPoint();
    } catch (const AutomationError&) {
    }
    try {
      if (separate) CachedPowerPointVersionText = separate->Version();
    } catch (const AutomationError&) {
    }
    if (const auto number = ParseRegionalNumber(CachedPowerPointVersionText, CurrentNumberFormat()))
      CachedPowerPointVersion = *number;
    separate.reset();  // released, not quit
  }
  sPowerPointVersion = CachedPowerPointVersionText;
  return CachedPowerPointVersion;
}

VariantBool Applications::PowerPointVersionAtLeast(double threshold) {
  VariantBool result = kVariantTrue;
  std::u16string versionText;
  PowerPointVersion(versionText);
  if (auto v = ParseRegionalNumber(versionText, CurrentNumberFormat())) {
    double version = *v;
    if (version >= 80) version /= 10;
    if (version < threshold) result = kVariantFalse;
  }
  return result;
}

VariantBool Applications::PowerPointVersionAtLeast2007() { return PowerPointVersionAtLeast(kVersion2007); }
VariantBool Applications::PowerPointVersionAtLeast2010() { return PowerPointVersionAtLeast(kVersion2010); }

}  // namespace quorvane::office
