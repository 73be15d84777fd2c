#pragma once
// Reading a number as the user's regional settings write it (the version text of PowerPoint).
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::office {

struct NumberFormat {
  std::u16string decimal = u".";
  std::u16string grouping;  // empty when the locale groups nothing
};

// The process locale's separators (LC_NUMERIC).
NumberFormat CurrentNumberFormat();

// Parses `text` as a number written in `format`: optional spaces around, an optional sign, digits
// in which the grouping separator is ignored, and at most one decimal separator. Under a locale
// whose grouping separator is the period, "12.0" reads as 120. nullopt when the text is not
// numeric.
std::optional<double> ParseRegionalNumber(std::u16string_view text, const NumberFormat& format);

}  // namespace quorvane::office
