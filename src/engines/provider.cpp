// The provider a control uses when its host gives none: the engines of this platform.
#include "engines/pptx/engine.hpp"
#include "office/object_model.hpp"

namespace quorvane::office {
namespace {

class EngineProvider final : public ApplicationProvider {
 public:
  std::shared_ptr<ppt::Application> CreatePowerPoint() override { return engines::pptx::CreateApplication(); }
  std::shared_ptr<word::Application> CreateWord() override {
    throw AutomationError(failure::kCannotCreateObject,
                          u"Automation object cannot be created: no Word engine is available.");
  }
};

}  // namespace

std::shared_ptr<ApplicationProvider> DefaultApplicationProvider() { return std::make_shared<EngineProvider>(); }

}  // namespace quorvane::office
