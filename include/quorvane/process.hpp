#pragma once
// For a host that is about to end its process early (on SIGINT or SIGTERM, say).
#include "quorvane/export.hpp"

namespace quorvane {

// Ends the processes the component runs (offices) and removes its temporary files and folders:
// staging beside outputs, office profiles, private copies of inputs. Conversions still running
// fail; the component is not to be used afterwards. Call it from an ordinary thread, not from a
// signal handler, then end the process. Never throws; a second call does nothing.
QUORVANE_API void PrepareForProcessExit() noexcept;

}  // namespace quorvane
