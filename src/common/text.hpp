#pragma once
// Text helpers shared by the subsystems: UTF-16 <-> UTF-8, the control's space trimming,
// decimal formatting and case-insensitive comparison, all locale-independent.
#include <cstdint>
#include <string>
#include <string_view>

#include "quorvane/utf.hpp"

namespace quorvane::text {

// UTF-16 to UTF-8 and back (quorvane/utf.hpp), the one conversion every file name goes through: a
// byte that is not valid UTF-8 becomes U+DC80 + (byte - 0x80) and comes back as that byte, so a
// name the system holds as arbitrary bytes is kept exactly. Any other unpaired surrogate becomes
// U+FFFD.
inline std::string ToUtf8(std::u16string_view s) { return Utf16ToUtf8(s); }
inline std::u16string FromUtf8(std::string_view s) { return Utf8ToUtf16(s); }

// Whether `c` stands for a byte that was not valid UTF-8 (see ToUtf8).
inline bool IsEscapedByte(char16_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

// UTF-16 to UTF-8 that is always valid, for text inside documents (XML, HTML): every unpaired
// surrogate, escaped bytes included, becomes U+FFFD.
std::string ToValidUtf8(std::u16string_view s);

// The text with its control characters written as visible escapes (quorvane/utf.hpp), for names
// and messages in the log and on a terminal.
inline std::u16string Printable(std::u16string_view s) { return PrintableText(s); }

// Removes leading and trailing U+0020 only; tabs and other white space stay.
std::u16string TrimSpaces(std::u16string_view s);

// Whether a name reaches the file system unchanged: no NUL, and no unpaired surrogate other than
// an escaped byte (any other would be replaced by the conversion to UTF-8, naming another file).
bool IsUsableFileName(std::u16string_view name);

// Decimal digits, with a leading minus sign for negative numbers.
std::u16string Decimal(std::int64_t n);

// Simple case folding for comparisons "without regard to letter case": ASCII and Latin-1,
// Latin Extended-A, Greek and Cyrillic letters, as the platform's text compare does for them.
char16_t FoldCase(char16_t c);
std::u16string Fold(std::u16string_view s);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
// Position of `needle` in `haystack` ignoring case, or npos.
std::size_t FindIgnoreCase(std::u16string_view haystack, std::u16string_view needle);

// A relative link (URL path) to `path`, a UTF-8 file path: every byte outside A-Z a-z 0-9 - . _ ~
// and "/" as %XX.
std::string PercentEncoded(std::string_view path);

}  // namespace quorvane::text
