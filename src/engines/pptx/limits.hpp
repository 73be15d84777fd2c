#pragma once
// Limits applied to every package the engine reads, and to every file it hands to the office.
// Files come from anywhere: each limit turns a hostile or damaged file into a clear failure instead
// of exhausting memory, time, disk or the stack.
#include <cstdint>

namespace quorvane::engines::pptx {

struct Limits {
  // Sum of the uncompressed sizes of the parts actually read (for a file handed to the office:
  // of all its entries).
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
  // Elements of one XML part (the largest slide of the real decks we test with has 80,000).
  std::uint32_t maxXmlElements = 200000;
  // Elements of all XML parts of a file handed to the office, which loads them all at once (the
  // largest real deck we test with has 313,000 in 40 slides; this leaves room for decks of several
  // hundred such slides).
  std::uint64_t maxTotalXmlElements = 3000000;
  // Nesting of groups inside groups.
  std::uint32_t maxGroupDepth = 64;
  // Characters of one text range.
  std::uint32_t maxTextLength = 16u << 20;
  // Slides of one presentation.
  std::uint32_t maxSlides = 100000;
  // Bytes one save may write (the package file).
  std::uint64_t maxSaveSize = 4ull << 30;
  // A legacy binary file (an OLE compound file) handed to the office, and each of its streams.
  std::uint64_t maxCompoundFileSize = 1ull << 30;
};

inline constexpr Limits kDefaultLimits{};

}  // namespace quorvane::engines::pptx
