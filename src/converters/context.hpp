#pragma once
// What a converter works with: the control's settings, its progress, its error reporting, the
// applications and the text writer. The control is the one context of the component; each
// converter is a class that takes the context, runs once and answers the result code.
#include <cstdint>
#include <string>

#include "converters/text_writer.hpp"
#include "office/applications.hpp"
#include "quorvane/output_options.hpp"
#include "quorvane/variant.hpp"

namespace quorvane::converters {

// The control's properties that say what to convert. A conversion reads them as it goes (a
// handler of Progress may change them) and rewrites StartSlide and EndSlide in place when it
// clamps the range to the presentation (NormalizeSlideRange).
struct Settings {
  std::u16string InputFile;
  std::u16string OutputFile;
  std::int32_t StartSlide = 0;
  std::int32_t EndSlide = 0;
  std::int32_t TargetFileType = 6;
  VariantBool MultiFileOutput = kVariantFalse;
  VariantBool ShowSlideAndShapeNumber = kVariantFalse;
  VariantBool IncludeNotes = kVariantFalse;
  VariantBool NotesOnly = kVariantFalse;
  // Picture size, quality and names, PDF options: set through the C++ and C interfaces only.
  OutputOptions Options;
};

class Progress {
 public:
  // Sets PercentageComplete and raises Progress.
  virtual void SetPercentageComplete(float value) = 0;
  // PercentageComplete + step in single precision, 100 at the most.
  virtual void AdvanceProgress(float step) = 0;

 protected:
  ~Progress() = default;
};

struct Context {
  Settings& settings;
  Progress& progress;
  office::Reporter& errors;
  office::Applications& applications;
  TextWriter& writer;
};

// The conversions, one class each, all of this shape.
class Converter {
 public:
  explicit Converter(Context& context) : c_(context), s_(context.settings), apps_(context.applications) {}
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  virtual ~Converter() = default;

  // Runs the conversion once: 0, or the result code it reported.
  virtual std::int32_t Run() = 0;

 protected:
  Context& c_;
  Settings& s_;
  office::Applications& apps_;
};

// Entry points with the operations' names: each runs its converter once on `context`.
std::int32_t ConvertWithSaveAs(Context& context);
std::int32_t ExportSlideImages(Context& context);
std::int32_t ConvertThroughWord(Context& context);
std::int32_t ConvertToText(Context& context);

// Clamps the range to the presentation: the bounds are swapped when StartSlide > EndSlide,
// StartSlide is at least 1, an EndSlide beyond the last slide or below 1 becomes the last slide.
void NormalizeSlideRange(Settings& settings, office::ppt::Presentation& presentation);

// Target code to the three-letter graphic filter name ("GIF", "JPG", ...); empty when none.
std::u16string ImageFilterName(std::int32_t code);

}  // namespace quorvane::converters
