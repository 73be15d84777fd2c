// ConvertFile: routes a conversion to the converter that serves TargetFileType.
#include "control/control.hpp"
#include "quorvane/catalog.hpp"

namespace quorvane::detail {

Converter RouteFor(std::int32_t code) {
  // catalog::Route names the converters in Converter's order; codes without a row go through Word.
  return static_cast<Converter>(catalog::RouteOf(code));
}

std::int32_t Control::ConvertFile() {
  // A handler of Progress or onerror that starts another conversion on the same control would
  // pull the applications and the open presentation from under the running one.
  if (converting_)
    throw AutomationError(failure::kInvalidCall, u"ConvertFile cannot be called while a conversion runs.");
  converting_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{converting_};
  LastCause = {};

  switch (RouteFor(TargetFileType)) {
    case Converter::SaveAs:
      return ConvertWithSaveAs();
    case Converter::SlideImages:
      return ExportSlideImages();
    case Converter::Text:
      return ConvertToText();
    case Converter::ThroughWord:
      break;
  }
  return ConvertThroughWord();
}

void Control::NormalizeSlideRange(office::ppt::Presentation& presentation) {
  if (StartSlide > EndSlide) std::swap(StartSlide, EndSlide);
  if (StartSlide < 1) StartSlide = 1;
  const std::int32_t n = presentation.Slides()->Count();
  if (EndSlide > n || EndSlide < 1) EndSlide = n;
}

}  // namespace quorvane::detail
