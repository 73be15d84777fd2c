// The checks and the naming rule of quorvane/output_options.hpp.
#include "quorvane/output_options.hpp"

#include <string>

namespace quorvane {
namespace {

constexpr std::int32_t kMaxPixelSide = 20000;
constexpr std::int32_t kMaxDotsPerInch = 2400;

// A "{n}" or "{n:0W}" at `at` (W a digit 1 to 9): its length and width (0 for "{n}"); length 0 when
// the text there is no slide number.
struct Placeholder {
  std::size_t length = 0;
  int width = 0;
};

Placeholder PlaceholderAt(std::u16string_view pattern, std::size_t at) {
  const std::u16string_view rest = pattern.substr(at);
  if (rest.starts_with(u"{n}")) return {3, 0};
  if (rest.size() >= 6 && rest.starts_with(u"{n:0") && rest[4] >= u'1' && rest[4] <= u'9' && rest[5] == u'}')
    return {6, rest[4] - u'0'};
  return {};
}

}  // namespace

std::string OutputOptionsProblem(const OutputOptions& options) {
  const auto number = [](std::int32_t value) { return std::to_string(value); };
  if (options.pixelWidth < 0) return "the width " + number(options.pixelWidth) + " is negative";
  if (options.pixelHeight < 0) return "the height " + number(options.pixelHeight) + " is negative";
  if (options.dotsPerInch < 0) return "the resolution " + number(options.dotsPerInch) + " is negative";
  if (options.pixelWidth > kMaxPixelSide || options.pixelHeight > kMaxPixelSide)
    return "a picture side may be at most " + number(kMaxPixelSide) + " pixels";
  if (options.dotsPerInch > kMaxDotsPerInch)
    return "the resolution may be at most " + number(kMaxDotsPerInch) + " dots per inch";
  if (options.dotsPerInch > 0 && (options.pixelWidth > 0 || options.pixelHeight > 0))
    return "give a resolution or a size in pixels, not both";
  if (options.jpegQuality < 0 || options.jpegQuality > 100)
    return "the JPEG quality " + number(options.jpegQuality) + " is outside 1 to 100";
  const std::u16string_view pattern = options.namePattern;
  if (pattern.empty()) return {};
  bool slideNumber = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == u'}') return "the name pattern has a '}' that closes no {n}";
    if (pattern[i] != u'{') continue;
    const Placeholder placeholder = PlaceholderAt(pattern, i);
    if (placeholder.length == 0) return "the name pattern has a '{' that is neither {n} nor {n:0W} (W 1 to 9)";
    slideNumber = true;
    i += placeholder.length - 1;
  }
  if (!slideNumber) return "the name pattern has no {n}: every slide would get the same name";
  if (pattern.back() == u'/') return "the name pattern names a folder, not a file";
  return {};
}

std::u16string PatternName(std::u16string_view pattern, std::int32_t slide) {
  std::u16string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const Placeholder placeholder = pattern[i] == u'{' ? PlaceholderAt(pattern, i) : Placeholder{};
    if (placeholder.length == 0) {
      out += pattern[i];
      continue;
    }
    const std::string digits = std::to_string(slide);
    for (std::size_t pad = digits.size(); pad < static_cast<std::size_t>(placeholder.width); ++pad) out += u'0';
    out.append(digits.begin(), digits.end());
    i += placeholder.length - 1;
  }
  return out;
}

}  // namespace quorvane
