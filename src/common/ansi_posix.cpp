#include "common/ansi.hpp"

#include <climits>
#include <cwchar>
#include <string_view>

#include <langinfo.h>

#include "common/text.hpp"

namespace quorvane::ansi {
namespace {

// Appends the multibyte form of `c` in the current locale; false when it has none. `state` is left
// in the initial state after a failure, so that the text can go on.
bool Append(std::string& out, wchar_t c, std::mbstate_t& state) {
  char buffer[MB_LEN_MAX];
  const std::size_t n = std::wcrtomb(buffer, c, &state);
  if (n == static_cast<std::size_t>(-1)) {
    state = std::mbstate_t{};
    return false;
  }
  out.append(buffer, n);
  return true;
}

// Whether the locale's character set writes U+0000..U+007F as the same single bytes, as UTF-8, the
// ISO 8859 and Windows code pages and ASCII itself do; then ASCII text needs no conversion call.
bool AsciiCompatible() {
  const std::string_view codeset = nl_langinfo(CODESET);
  return codeset == "UTF-8" || codeset == "ANSI_X3.4-1968" || codeset.starts_with("ISO-8859") ||
         codeset.starts_with("CP125") || codeset.starts_with("KOI8");
}

}  // namespace

std::string FromUtf16(std::u16string_view text) {
  static_assert(sizeof(wchar_t) >= 4, "code points above U+FFFF need a 32-bit wchar_t");
  std::string out;
  out.reserve(text.size());
  std::mbstate_t state{};
  const bool ascii = AsciiCompatible();
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (ascii && c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    c = text::DecodeAt(text, i);
    if (text::IsSurrogate(c)) c = U'?';  // unpaired: no character set has a form for it
    if (!Append(out, static_cast<wchar_t>(c), state) && !Append(out, L'?', state)) out += '?';
  }
  // Back to the initial shift state: wcrtomb with a null buffer would drop the sequence, so the
  // terminating L'\0' is converted and its zero byte taken off again.
  if (!std::mbsinit(&state)) {
    char buffer[MB_LEN_MAX];
    const std::size_t n = std::wcrtomb(buffer, L'\0', &state);
    if (n != static_cast<std::size_t>(-1) && n > 0) out.append(buffer, n - 1);
  }
  return out;
}

}  // namespace quorvane::ansi
