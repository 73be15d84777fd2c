// Until the model is built: the application cannot be created.
#include "engines/pptx/engine.hpp"

namespace quorvane::engines::pptx {

std::shared_ptr<office::ppt::Application> CreateApplication(const Limits&) {
  throw AutomationError(failure::kCannotCreateObject, u"Automation object cannot be created: no PowerPoint engine is available.");
}

}  // namespace quorvane::engines::pptx
