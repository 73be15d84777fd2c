// The provider a control uses when its host gives none: the engines of this platform.
#include <string>

#include "common/text.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/word/engine.hpp"
#include "office/object_model.hpp"

namespace quorvane::office {
namespace {

class EngineProvider final : public ApplicationProvider {
 public:
  std::shared_ptr<ppt::Application> CreatePowerPoint() override { return engines::pptx::CreateApplication(); }
  // The Word stand-in draws every pasted slide and writes most formats through the renderer, so
  // without LibreOffice there is no Word application at all.
  std::shared_ptr<word::Application> CreateWord() override {
    std::string why;
    if (!engines::word::OfficeAvailable(&why))
      throw AutomationError(failure::kCannotCreateObject,
                            u"Automation object cannot be created: the Word engine needs LibreOffice (" +
                                text::FromUtf8(why) + u").");
    return engines::word::CreateApplication();
  }
};

}  // namespace

std::shared_ptr<ApplicationProvider> DefaultApplicationProvider() { return std::make_shared<EngineProvider>(); }

}  // namespace quorvane::office
