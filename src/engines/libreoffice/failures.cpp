// Also compiled into the UNO plugin: an AutomationError thrown there is caught by the component
// (type_info is compared by name across modules).
#include "engines/libreoffice/failures.hpp"

#include "quorvane/utf.hpp"

namespace quorvane::engines::libreoffice {

void Fail(std::int32_t number, std::string_view description) {
  throw AutomationError(number, Utf8ToUtf16(description));
}

}  // namespace quorvane::engines::libreoffice
