#pragma once
// The application session: obtaining, probing, reusing and ending the PowerPoint and Word
// applications a conversion talks to, and the version queries. It knows nothing of the control;
// what it reports goes through a Reporter (the control is the one in the component).
#include <cstdint>
#include <memory>
#include <string>

#include "office/object_model.hpp"
#include "quorvane/variant.hpp"

namespace quorvane::office {

// Where failures are reported: the catalogue code with its text (the catalogue's message when the
// text is empty), and the cause behind it.
class Reporter {
 public:
  virtual void RaiseError(std::int32_t code, const std::u16string& text) = 0;
  // Keeps the number and description as the cause of the failure being reported.
  virtual void KeepFailureCause(std::int32_t number, std::u16string description) = 0;
  // Keeps them only when the conversion has no cause yet: a failure to end an application during
  // a failure path does not hide the failure that path reports.
  virtual void KeepFailureCauseIfNone(std::int32_t number, std::u16string description) = 0;
  // Replaces the text the last report left for the host to read.
  virtual void ReplaceErrorString(std::u16string text) = 0;

 protected:
  ~Reporter() = default;
};

class Applications {
 public:
  Applications(std::shared_ptr<ApplicationProvider> provider, Reporter& reporter);
  Applications(const Applications&) = delete;
  Applications& operator=(const Applications&) = delete;

  // False: the applications are ended after every conversion. True: they are kept for the next.
  VariantBool OptimizeForSpeed = kVariantTrue;
  std::shared_ptr<ppt::Application> PowerPointApplication;
  std::shared_ptr<word::Application> WordApplication;
  double CachedPowerPointVersion = 0;
  std::u16string CachedPowerPointVersionText;

  // Reuses the application held when it still answers, else creates one; creation is tried again
  // after a failure. False after reporting -12 (PowerPoint) or -14 (Word).
  VariantBool StartPowerPoint();
  VariantBool StartWord();
  // Ends the application unless OptimizeForSpeed keeps it. False after reporting -13 or -15.
  VariantBool QuitPowerPoint();
  VariantBool QuitWord();
  // Asked once of a separate application, then cached; 0 and "" when it cannot be told.
  double PowerPointVersion(std::u16string& sPowerPointVersion);
  VariantBool PowerPointVersionAtLeast2007();
  VariantBool PowerPointVersionAtLeast2010();

 private:
  VariantBool PowerPointVersionAtLeast(double threshold);

  std::shared_ptr<ApplicationProvider> provider_;
  Reporter& reporter_;
};

}  // namespace quorvane::office
