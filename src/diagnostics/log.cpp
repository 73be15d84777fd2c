#include "control/control.hpp"

namespace quorvane::detail {

// Not built yet.
void Control::WriteLog(const std::u16string&, const std::u16string&) {}

}  // namespace quorvane::detail
