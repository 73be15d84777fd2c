#include "control/control.hpp"

namespace quorvane::detail {

// Not built yet: the route is in place and reports the generic conversion failure.
std::int32_t Control::ExportSlideImages() {
  RaiseError(-10, {});
  return -10;
}

}  // namespace quorvane::detail
