#pragma once
// UTF-16 (the control's strings) to and from UTF-8, for hosts. An unpaired surrogate or an invalid
// UTF-8 sequence becomes U+FFFD.
#include <string>
#include <string_view>

#include "quorvane/export.hpp"

namespace quorvane {

QUORVANE_API std::string Utf16ToUtf8(std::u16string_view text);
QUORVANE_API std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace quorvane
