// The engine's entry point: a new application of the presentation model.
#include "engines/pptx/engine.hpp"

#include "engines/pptx/model.hpp"
#include "engines/shared/render_bridge.hpp"

namespace quorvane::engines::pptx {

// The renderer's save formats join the engine's own before the first application answers.
std::shared_ptr<office::ppt::Application> CreateApplication(const Limits& limits) {
  render_bridge::RegisterSaveFormats();
  return MakeApplication(limits);
}

}  // namespace quorvane::engines::pptx
