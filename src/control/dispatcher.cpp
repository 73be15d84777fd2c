// ConvertFile: routes a conversion to the converter that serves TargetFileType.
#include "control/control.hpp"

namespace quorvane::detail {

Route RouteFor(std::int32_t code) {
  if ((code >= 1 && code <= 7) || (code >= 10 && code <= 15) || code == 20 || (code >= 24 && code <= 29) ||
      (code >= 32 && code <= 37))
    return Route::SaveAs;
  if ((code >= 16 && code <= 19) || code == 21 || code == 100) return Route::SlideImages;
  if (code == 107 || code == 200) return Route::Text;
  // Everything else, including codes no catalogue holds, goes through Word.
  return Route::ThroughWord;
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

  converters::Context context = ConversionContext();
  switch (RouteFor(TargetFileType)) {
    case Route::SaveAs:
      return converters::ConvertWithSaveAs(context);
    case Route::SlideImages:
      return converters::ExportSlideImages(context);
    case Route::Text:
      return converters::ConvertToText(context);
    case Route::ThroughWord:
      break;
  }
  return converters::ConvertThroughWord(context);
}

converters::Context Control::ConversionContext() { return {*this, *this, *this, *this, *this}; }

}  // namespace quorvane::detail
