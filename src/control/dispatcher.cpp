// ConvertFile: routes a conversion to the converter that serves TargetFileType.
#include "control/control.hpp"
#include "quorvane/catalog.hpp"

namespace quorvane::detail {

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
  switch (catalog::RouteOf(TargetFileType)) {
    case catalog::Route::SaveAs:
      return converters::ConvertWithSaveAs(context);
    case catalog::Route::SlidePictures:
      return converters::ExportSlideImages(context);
    case catalog::Route::Text:
      return converters::ConvertToText(context);
    case catalog::Route::ThroughWord:
      break;
  }
  return converters::ConvertThroughWord(context);
}

converters::Context Control::ConversionContext() { return {*this, *this, *this, *this, *this}; }

}  // namespace quorvane::detail
