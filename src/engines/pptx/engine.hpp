#pragma once
// The native presentation engine: PowerPoint's object model over Office Open XML presentation
// packages (.pptx, .pptm, .ppsx, .ppsm, .potx, .potm), read and written in the process.
#include <memory>

#include "engines/pptx/limits.hpp"
#include "office/object_model.hpp"

namespace quorvane::engines::pptx {

// A new application. Each application holds its presentations and its own clipboard; Quit ends
// it and closes everything it holds.
std::shared_ptr<office::ppt::Application> CreateApplication(const Limits& limits = kDefaultLimits);

}  // namespace quorvane::engines::pptx
