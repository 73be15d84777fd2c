#include "control/control.hpp"

namespace quorvane::detail {

std::u16string Control::TextFromGroupShape(const std::shared_ptr<Dispatch>&) {
  throw AutomationError(failure::kInvalidCall, u"Group text is not available yet.");
}

}  // namespace quorvane::detail
