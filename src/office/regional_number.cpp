#include "office/regional_number.hpp"

#include <charconv>
#include <climits>
#include <clocale>
#include <cstring>
#include <cmath>
#include <cstdlib>
#include <cwchar>

#include "common/text.hpp"

namespace quorvane::office {
namespace {

// localeconv() reports separators in the locale's own multibyte encoding.
std::u16string Widen(const char* s) {
  if (s == nullptr) return {};
  std::mbstate_t state{};
  std::u16string out;
  const char* p = s;
  const char* end = s + std::strlen(s);
  while (p < end) {
    wchar_t wc = 0;
    const std::size_t n = std::mbrtowc(&wc, p, static_cast<std::size_t>(end - p), &state);
    if (n == 0 || n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
      out += static_cast<char16_t>(static_cast<unsigned char>(*p));
      ++p;
      continue;
    }
    text::AppendUtf16(out, static_cast<char32_t>(wc));
    p += n;
  }
  return out;
}

}  // namespace

NumberFormat CurrentNumberFormat() {
  const std::lconv* lc = std::localeconv();
  NumberFormat f;
  f.decimal = Widen(lc->decimal_point);
  if (f.decimal.empty()) f.decimal = u".";
  // Only a locale that actually groups digits has a grouping separator.
  if (lc->grouping != nullptr && lc->grouping[0] > 0 && lc->grouping[0] != CHAR_MAX) f.grouping = Widen(lc->thousands_sep);
  if (f.grouping == f.decimal) f.grouping.clear();
  return f;
}

std::optional<double> ParseRegionalNumber(std::u16string_view input, const NumberFormat& format) {
  const std::u16string trimmed = text::TrimSpaces(input);
  std::u16string_view s = trimmed;
  std::string canonical;
  if (!s.empty() && (s[0] == u'+' || s[0] == u'-')) {
    if (s[0] == u'-') canonical += '-';
    s.remove_prefix(1);
  }
  bool digits = false;
  bool decimalSeen = false;
  while (!s.empty()) {
    if (s[0] >= u'0' && s[0] <= u'9') {
      canonical += static_cast<char>(s[0]);
      digits = true;
      s.remove_prefix(1);
    } else if (!format.decimal.empty() && s.starts_with(format.decimal) && !decimalSeen) {
      canonical += '.';
      decimalSeen = true;
      s.remove_prefix(format.decimal.size());
    } else if (!format.grouping.empty() && s.starts_with(format.grouping) && !decimalSeen) {
      s.remove_prefix(format.grouping.size());
    } else {
      return std::nullopt;
    }
  }
  if (!digits) return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
  if (ec != std::errc() || end != canonical.data() + canonical.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace quorvane::office
