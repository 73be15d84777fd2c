// Text in the system's ANSI code page (GetACP), as the text writer and the log write it on Windows.
#include "common/ansi.hpp"

#include <windows.h>

#include <string_view>

#include "common/text.hpp"

namespace quorvane::ansi {

std::string FromUtf16(std::u16string_view text) {
  if (text.empty()) return {};
  // An unpaired surrogate has no form in any code page: "?" stands for it, as for every character
  // the code page lacks.
  std::u16string clean(text);
  for (std::size_t i = 0; i < clean.size(); ++i) {
    const char32_t c = text::DecodeAt(clean, i);
    if (text::IsSurrogate(c)) clean[i] = u'?';
  }
  const auto* wide = reinterpret_cast<const wchar_t*>(clean.data());
  const int length = static_cast<int>(clean.size());
  const UINT codePage = ::GetACP();
  // Code pages that take no default character (UTF-8, UTF-7) are given none.
  const bool takesDefault = codePage != CP_UTF8 && codePage != CP_UTF7;
  const int n = ::WideCharToMultiByte(codePage, 0, wide, length, nullptr, 0, takesDefault ? "?" : nullptr, nullptr);
  if (n <= 0) return std::string(clean.size(), '?');
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(codePage, 0, wide, length, out.data(), n, takesDefault ? "?" : nullptr, nullptr);
  return out;
}

}  // namespace quorvane::ansi
