#pragma once
// UTF-16 (the control's strings) to and from UTF-8, for hosts, and the conversion the component
// itself puts every file name through. A byte that is not part of valid UTF-8 becomes the unpaired
// surrogate U+DC80 + (byte - 0x80) on the way in and that byte again on the way out, so that a file
// name that is not UTF-8 is kept exactly. Any other unpaired surrogate becomes U+FFFD.
#include <string>
#include <string_view>

#include "quorvane/export.hpp"

namespace quorvane {

QUORVANE_API std::string Utf16ToUtf8(std::u16string_view text);
QUORVANE_API std::u16string Utf8ToUtf16(std::string_view text);

// The text with every character that could move a terminal's cursor, start an escape sequence or
// break a line written as a visible escape: "\n", "\r", "\t", "\e" (ESC), "\xHH" for the other C0
// controls, DEL and the bytes of a name that is not UTF-8, "\uHHHH" for the C1 controls, the line
// and paragraph separators and other unpaired surrogates. Everything else is kept, backslashes
// included. For showing a file name, or a message that holds one, on a terminal or in a log.
QUORVANE_API std::u16string PrintableText(std::u16string_view text);

}  // namespace quorvane
