#include "control/control.hpp"

namespace quorvane::detail {

// Not built yet: the route is in place and reports the generic conversion failure.
std::int32_t Control::ConvertToText() {
  RaiseError(-10, {});
  return -10;
}

}  // namespace quorvane::detail

namespace quorvane::detail {

void Control::OpenTextFileForWriting(const std::u16string&) {
  throw AutomationError(failure::kInvalidCall, u"The text writer is not available yet.");
}
void Control::WriteToTextFile(const std::u16string&) {
  throw AutomationError(failure::kInvalidCall, u"The text writer is not available yet.");
}
void Control::CloseTextFileForWriting() {
  throw AutomationError(failure::kInvalidCall, u"The text writer is not available yet.");
}

}  // namespace quorvane::detail
