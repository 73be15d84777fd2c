// The provider a control uses when its host gives none.
#include "office/object_model.hpp"

namespace quorvane::office {
namespace {

// No engine is registered yet: creating either application fails the way automation does when
// the application is not installed.
class UnavailableProvider final : public ApplicationProvider {
 public:
  std::shared_ptr<ppt::Application> CreatePowerPoint() override {
    throw AutomationError(failure::kCannotCreateObject, u"Automation object cannot be created: no PowerPoint engine is available.");
  }
  std::shared_ptr<word::Application> CreateWord() override {
    throw AutomationError(failure::kCannotCreateObject, u"Automation object cannot be created: no Word engine is available.");
  }
};

}  // namespace

std::shared_ptr<ApplicationProvider> DefaultApplicationProvider() { return std::make_shared<UnavailableProvider>(); }

}  // namespace quorvane::office
