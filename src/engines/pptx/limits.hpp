#pragma once
// Limits applied to every package the engine reads. Files come from anywhere: each limit turns a
// hostile or damaged file into a clear failure instead of exhausting memory, time or the stack.
#include <cstdint>

namespace quorvane::engines::pptx {

struct Limits {
  // Sum of the uncompressed sizes of the parts actually read.
  std::uint64_t maxTotalUncompressed = 4ull << 30;
  // One part, uncompressed.
  std::uint64_t maxPartSize = 512ull << 20;
  // A part that inflates more than this many times its compressed size, once beyond the grace
  // size, is refused (a zip bomb).
  std::uint32_t maxCompressionRatio = 100;
  std::uint64_t compressionRatioGrace = 1ull << 20;
  // Entries in the zip directory.
  std::uint32_t maxParts = 20000;
  // Element nesting of one XML part.
  std::uint32_t maxXmlDepth = 256;
  // Nesting of groups inside groups.
  std::uint32_t maxGroupDepth = 64;
  // Characters of one text range.
  std::uint32_t maxTextLength = 16u << 20;
  // Slides of one presentation.
  std::uint32_t maxSlides = 100000;
};

inline constexpr Limits kDefaultLimits{};

}  // namespace quorvane::engines::pptx
