#include "common/text.hpp"

namespace quorvane {

namespace {

// Writes code point `c` as UTF-16 at `to`; returns the end. What is no character becomes U+FFFD.
char16_t* PutUtf16(char16_t* to, char32_t c) {
  if (c >= 0x10000 && c <= 0x10FFFF) {
    c -= 0x10000;
    *to++ = static_cast<char16_t>(0xD800 + (c >> 10));
    *to++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  } else {
    *to++ = c > 0x10FFFF || text::IsSurrogate(c) ? char16_t{0xFFFD} : static_cast<char16_t>(c);
  }
  return to;
}

std::size_t Utf8Size(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

// A byte that is not part of valid UTF-8 travels through UTF-16 as the unpaired low surrogate
// U+DC80 + (byte - 0x80) (text::IsEscapedByte): names the system holds as arbitrary bytes survive
// the round trip. With `keepEscapedBytes` false it becomes U+FFFD like every unpaired surrogate.
std::string ToUtf8(std::u16string_view s, bool keepEscapedBytes) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char32_t c = text::DecodeAt(s, i);
    if (keepEscapedBytes && text::IsEscapedByte(c)) {
      out += static_cast<char>(c - 0xDC00);
    } else {
      text::AppendUtf8(out, text::IsSurrogate(c) ? 0xFFFD : c);
    }
  }
  return out;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view s) { return ToUtf8(s, true); }

std::u16string Utf8ToUtf16(std::string_view s) {
  // Never more UTF-16 units than UTF-8 bytes: written into place, then cut to size.
  std::u16string out(s.size(), u'\0');
  char16_t* to = out.data();
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      *to++ = static_cast<char16_t>(b);
      ++i;
      continue;
    }
    char32_t c = 0;
    std::size_t len = 0;  // 0: not the start of a valid sequence
    auto cont = [&](std::size_t k) { return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80; };
    auto at = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(s[i + k]) & 0x3F); };
    if (b >= 0xC2 && b < 0xE0 && cont(1)) {
      c = ((b & 0x1F) << 6) | at(1);
      len = 2;
    } else if (b >= 0xE0 && b < 0xF0 && cont(1) && cont(2)) {
      c = ((b & 0x0F) << 12) | (at(1) << 6) | at(2);
      len = (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) ? 0 : 3;
    } else if (b >= 0xF0 && b < 0xF5 && cont(1) && cont(2) && cont(3)) {
      c = ((b & 0x07) << 18) | (at(1) << 12) | (at(2) << 6) | at(3);
      len = (c < 0x10000 || c > 0x10FFFF) ? 0 : 4;
    }
    if (len == 0) {
      // One byte that starts no valid sequence; what follows it is decoded afresh.
      *to++ = static_cast<char16_t>(0xDC00 + b);
      ++i;
      continue;
    }
    to = PutUtf16(to, c);
    i += len;
  }
  out.resize(static_cast<std::size_t>(to - out.data()));
  return out;
}

std::u16string PrintableText(std::u16string_view s) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string out;
  out.reserve(s.size());
  const auto hex = [&](char16_t prefix, unsigned value, int digits) {
    out += u'\\';
    out += prefix;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
  };
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c == u'\n') {
      out += u"\\n";
    } else if (c == u'\r') {
      out += u"\\r";
    } else if (c == u'\t') {
      out += u"\\t";
    } else if (c == 0x1B) {
      out += u"\\e";
    } else if (c < 0x20 || c == 0x7F) {
      hex(u'x', c, 2);
    } else if (text::IsEscapedByte(c)) {
      hex(u'x', static_cast<unsigned>(c - 0xDC00), 2);
    } else if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
      hex(u'u', c, 4);
    } else if (text::IsSurrogate(c)) {
      const std::size_t first = i;
      if (text::IsSurrogate(text::DecodeAt(s, i)))
        hex(u'u', c, 4);
      else
        out += s.substr(first, 2);
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace quorvane

namespace quorvane::text {

std::u16string TrimSpaces(std::u16string_view s) {
  const auto first = s.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return {};
  const auto last = s.find_last_not_of(u' ');
  return std::u16string(s.substr(first, last - first + 1));
}

bool IsUsableFileName(std::u16string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c == 0) return false;
    const char32_t character = DecodeAt(name, i);
    if (IsSurrogate(character) && !IsEscapedByte(character)) return false;
  }
  return true;
}

std::string ToValidUtf8(std::u16string_view s) { return quorvane::ToUtf8(s, false); }

char32_t DecodeAt(std::u16string_view s, std::size_t& i) {
  const char32_t c = s[i];
  if (IsHighSurrogate(c) && i + 1 < s.size() && IsLowSurrogate(s[i + 1])) {
    ++i;
    return 0x10000 + ((c - 0xD800) << 10) + (s[i] - 0xDC00);
  }
  return c;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  char16_t units[2];
  out.append(units, quorvane::PutUtf16(units, c));
}

std::u16string FromWide(std::wstring_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (const wchar_t c : s) AppendUtf16(out, static_cast<char32_t>(c));
  return out;
}

std::size_t Utf8PrefixLength(std::u16string_view s, std::size_t limit) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char32_t c = DecodeAt(s, i);
    const std::size_t bytes = IsEscapedByte(c) ? 1 : Utf8Size(IsSurrogate(c) ? 0xFFFD : c);
    if (n + bytes > limit) break;
    n += bytes;
  }
  return n;
}


std::u16string Decimal(std::int64_t n) {
  const std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

char16_t FoldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c < 0xC0) return c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 32);
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs upper/lower as even/odd, except the runs around U+0138 and U+0178.
    if (c == 0x178) return 0xFF;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 1) ? static_cast<char16_t>(c + 1) : c;
    if (c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) return (c % 2 == 0) ? static_cast<char16_t>(c + 1) : c;
    return c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);  // Greek
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);                 // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  return c;
}

std::u16string Fold(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = FoldCase(c);
  return out;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

std::size_t FindIgnoreCase(std::u16string_view haystack, std::u16string_view needle) {
  return Fold(haystack).find(Fold(needle));
}

std::string PercentEncoded(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~' || c == '/') {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace quorvane::text
