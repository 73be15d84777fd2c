// The control's catalogue members and RaiseError.
#include <charconv>
#include <cmath>
#include <utility>

#include "common/text.hpp"
#include "control/control.hpp"
#include "quorvane/catalog.hpp"

namespace quorvane::detail {

void Control::RaiseError(std::int32_t code, const std::u16string& text) {
  ErrorString = text.empty() ? std::u16string(catalog::ErrorMessage(code)) : text;
  // The handler sees the reporter's copy of the code, and ErrorString itself as the text.
  std::int32_t number = code;
  RaiseOnError(number, ErrorString);
}

void Control::KeepFailureCause(std::int32_t number, std::u16string description) {
  LastCause = {number, std::move(description)};
}

void Control::KeepFailureCauseIfNone(std::int32_t number, std::u16string description) {
  if (LastCause.number == 0 && LastCause.description.empty()) KeepFailureCause(number, std::move(description));
}

void Control::ReplaceErrorString(std::u16string text) { ErrorString = std::move(text); }

// Compares the value numerically with the codes. Integers of every width, reals, Booleans and
// numeric text (as the platform compares text with a number) are accepted; anything else,
// including an empty variant, answers the empty string.
std::u16string Control::GetErrorString(const Variant& intErrorNumber) {
  const Variant v = intErrorNumber.Dereferenced();
  if (v.is_integer() || v.base_type() == VT_BOOL) return std::u16string(catalog::ErrorMessage(v.integer()));
  double number = 0;
  if (v.base_type() == VT_R4 || v.base_type() == VT_R8) {
    number = v.real();
  } else if (v.base_type() == VT_BSTR) {
    const std::string s = text::ToUtf8(text::TrimSpaces(v.string()));
    if (s.empty() || s.size() > 32) return {};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), number);
    if (ec != std::errc() || end != s.data() + s.size()) return {};
  } else {
    return {};
  }
  if (!std::isfinite(number) || number != std::trunc(number) || std::fabs(number) > 1e9) return {};
  return std::u16string(catalog::ErrorMessage(static_cast<std::int64_t>(number)));
}

Variant Control::lNumberOfFileTypes() {
  const bool longList = PowerPointVersionAtLeast2007() == kVariantTrue;
  return Variant(static_cast<std::int16_t>(catalog::FileTypeList(longList).size()));
}

VariantBool Control::GetFileType(std::int32_t lExtindex, std::u16string& sFileType, std::int32_t& lFiletype) {
  const auto list = catalog::FileTypeList(PowerPointVersionAtLeast2007() == kVariantTrue);
  if (lExtindex >= 1 && static_cast<std::size_t>(lExtindex) <= list.size()) {
    const auto& entry = list[static_cast<std::size_t>(lExtindex) - 1];
    sFileType = std::u16string(entry.description);
    lFiletype = entry.code;
  }
  return kVariantTrue;
}

std::u16string Control::LookUpSaveAsExtension(std::int32_t lFiletype, VariantBool bIncludeWildCard) {
  const std::u16string extension(catalog::Extension(lFiletype));
  if (bIncludeWildCard == kVariantTrue) return u"*." + extension;
  return extension;
}

}  // namespace quorvane::detail
