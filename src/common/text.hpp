#pragma once
// Text helpers shared by the subsystems: UTF-16 <-> UTF-8, the control's space trimming,
// decimal formatting and case-insensitive comparison, all locale-independent.
#include <cstdint>
#include <string>
#include <string_view>

#include "quorvane/utf.hpp"

namespace quorvane::text {

// UTF-16 to UTF-8 and back (quorvane/utf.hpp); invalid input becomes U+FFFD.
inline std::string ToUtf8(std::u16string_view s) { return Utf16ToUtf8(s); }
inline std::u16string FromUtf8(std::string_view s) { return Utf8ToUtf16(s); }

// Removes leading and trailing U+0020 only; tabs and other white space stay.
std::u16string TrimSpaces(std::u16string_view s);

// Whether a name reaches the file system unchanged: no NUL, and no unpaired surrogate (which the
// conversion to UTF-8 would replace, naming another file).
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
