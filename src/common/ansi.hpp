#pragma once
// The "ANSI" text of the text writer: UTF-16 converted to the character set of the calling
// thread's C locale (LC_CTYPE, as setlocale or uselocale left it), as the platform's conversion to
// the system code page does. Under the default "C" locale that set is ASCII.
#include <string>
#include <string_view>

namespace quorvane::ansi {

// Converts `text` code point by code point: a surrogate pair counts as one code point; a code
// point the character set cannot represent, and an unpaired surrogate, becomes "?". U+0000 stays a
// zero byte. A stateful encoding is returned to its initial shift state at the end. Never fails.
std::string FromUtf16(std::u16string_view text);

}  // namespace quorvane::ansi
