#pragma once
// OutputOptions: how the slide pictures and the PDF are made, beyond what the control's
// properties say. A C++ (and C) setting of the control only: the automation interface does not
// carry it, and every default leaves the output as the properties alone make it.
#include <cstdint>
#include <string>

#include "quorvane/export.hpp"

namespace quorvane {

struct OutputOptions {
  // Slide pictures (GIF, JPEG, PNG, BMP, TIFF). A width and/or a height in pixels (one of them 0:
  // that side follows the slide's ratio), or a resolution in dots per inch of the slide's size;
  // all 0: 96 dots per inch. Metafiles (EMF) have no pixel size and ignore these.
  std::int32_t pixelWidth = 0;
  std::int32_t pixelHeight = 0;
  std::int32_t dotsPerInch = 0;
  // JPEG quality, 1 (smallest) to 100 (best); 0: the renderer's default.
  std::int32_t jpegQuality = 0;
  // The pictures' names from a pattern instead of OutputFile + "Slide" + number + "." + filter:
  // "{n}" stands for the slide's number, "{n:03}" for it zero-padded to 3 digits (any width from
  // 1 to 9). A relative name is taken in the folder of OutputFile. Empty: the usual names.
  std::u16string namePattern{};
  // PDF (target 32): hidden slides included, the notes pages instead of the slides, PDF/A-2b.
  bool hiddenSlides = false;
  bool notesPages = false;
  bool pdfa = false;

  bool operator==(const OutputOptions&) const = default;
};

// What is wrong with `options`, naming the field ("pixelWidth is negative"); empty when nothing is.
// Refused: a negative size or resolution, a resolution together with a size, a resolution above
// 2400, a side above 20000 pixels, a JPEG quality outside 0 to 100, a pattern without "{n" or
// with a "{" that opens no slide number.
QUORVANE_API std::string OutputOptionsProblem(const OutputOptions& options);

// The file name `pattern` gives slide `slide` (see namePattern); the pattern must have passed
// OutputOptionsProblem.
QUORVANE_API std::u16string PatternName(std::u16string_view pattern, std::int32_t slide);

}  // namespace quorvane
