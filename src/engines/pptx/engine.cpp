// The engine's entry point: a new application of the presentation model.
#include "engines/pptx/engine.hpp"

#include "engines/pptx/model.hpp"

namespace quorvane::engines::pptx {

std::shared_ptr<office::ppt::Application> CreateApplication(const Limits& limits) { return MakeApplication(limits); }

}  // namespace quorvane::engines::pptx
