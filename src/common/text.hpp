#pragma once
// Text helpers shared by the subsystems: UTF-16 <-> UTF-8 and the characters of UTF-16 text, the
// control's space trimming, decimal formatting and case-insensitive comparison, all
// locale-independent. Every conversion between the encodings goes through here.
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
constexpr bool IsEscapedByte(char32_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

// UTF-16 to UTF-8 that is always valid, for text inside documents (XML, HTML): every unpaired
// surrogate, escaped bytes included, becomes U+FFFD.
std::string ToValidUtf8(std::u16string_view s);

constexpr bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
constexpr bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// The character that starts at s[i], `i` left on its last unit (so that a loop's ++i passes it):
// the code point of a surrogate pair, or the unit itself, an unpaired surrogate included (what
// that becomes is the caller's choice).
char32_t DecodeAt(std::u16string_view s, std::size_t& i);

// Appends code point `c` as UTF-8. `c` is no surrogate (callers replace those first).
void AppendUtf8(std::string& out, char32_t c);
// Appends code point `c` as UTF-16: a surrogate pair above U+FFFF; a surrogate or a number above
// U+10FFFF, which are no characters, as U+FFFD.
void AppendUtf16(std::u16string& out, char32_t c);

// wchar_t text (UTF-32 on this platform) to UTF-16, what is no character as U+FFFD.
std::u16string FromWide(std::wstring_view s);

// The length in bytes of the longest start of ToUtf8(s) that fits in `limit` bytes and ends
// between two characters (a surrogate pair and an escaped byte each count as one).
std::size_t Utf8PrefixLength(std::u16string_view s, std::size_t limit);

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
