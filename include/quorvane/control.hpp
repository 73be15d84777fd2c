#pragma once
// QuorvaneX: the presentation conversion control.
//
// A host creates the control, sets its properties, calls ConvertFile and reads the result code
// (0 success, -1 to -18 a failure of the error catalogue). While a conversion runs, the control
// raises Progress (read PercentageComplete) and, on a failure, onerror with the code and the
// message, synchronously, on the caller's thread.
//
// Members carry the names of the control's type library. Properties appear as a C++ host of a
// dual interface sees them (get_X / put_X); strings are UTF-16; Booleans are 16-bit automation
// Booleans (true = -1). Setters store what they are given: nothing is validated before
// ConvertFile.
//
// Threading: a control belongs to the thread that created it; calls and events happen on it.
// Failures: only the members documented so throw, and only quorvane::AutomationError ("a failed
// automation call").
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quorvane/automation_error.hpp"
#include "quorvane/dispatch.hpp"
#include "quorvane/export.hpp"
#include "quorvane/variant.hpp"

namespace quorvane {

namespace office {
class ApplicationProvider;
}
namespace detail {
class Control;
}

// What a conversion's failure path saw: the failure's number (a run-time error number of the
// scripting platform or an HRESULT, as AutomationError carries them) and its description, e.g.
// 53 and "no file at /in/deck.pptx" behind -5, or -2147024894 and "The file \"/in/deck.pptx\" was
// not found." behind a text export's -10. The result code and ErrorString say which catalogue
// failure it was; this says why. number 0 and an empty description: none.
struct FailureCause {
  std::int32_t number = 0;
  std::u16string description;
};

// Receiver of the control's events (the event interface __QuorvaneX).
class QUORVANE_API QuorvaneXEvents {
 public:
  virtual ~QuorvaneXEvents();
  // Raised at every change of PercentageComplete.
  virtual void Progress() {}
  // Raised once per failure. strErrorText refers to the control's ErrorString itself: assigning
  // to it changes ErrorString. intErrorNumber refers to the reporter's copy of the code.
  virtual void onerror(std::int32_t& intErrorNumber, std::u16string& strErrorText) {
    (void)intErrorNumber;
    (void)strErrorText;
  }
};

class QUORVANE_API QuorvaneX {
 public:
  // A control whose applications come from the default provider.
  QuorvaneX();
  // A control whose applications come from `provider` (a host's own engines, or a test office).
  explicit QuorvaneX(std::shared_ptr<office::ApplicationProvider> provider);
  // Destroying the control runs UserControl_Terminate: kept applications are ended.
  ~QuorvaneX();
  QuorvaneX(const QuorvaneX&) = delete;
  QuorvaneX& operator=(const QuorvaneX&) = delete;

  // --- _QuorvaneX, in slot order -----------------------------------------------------------
  void UserControl_Terminate();
  VariantBool get_OptimizeForSpeed() const;
  void put_OptimizeForSpeed(VariantBool value);
  std::u16string get_InputFile() const;
  void put_InputFile(const std::u16string& value);  // leading/trailing U+0020 removed
  std::u16string get_OutputFile() const;
  void put_OutputFile(const std::u16string& value);  // leading/trailing U+0020 removed
  std::int32_t get_TargetFileType() const;
  void put_TargetFileType(std::int32_t value);
  std::int32_t get_StartSlide() const;
  void put_StartSlide(std::int32_t value);
  std::int32_t get_EndSlide() const;
  void put_EndSlide(std::int32_t value);
  VariantBool get_MultiFileOutput() const;
  void put_MultiFileOutput(VariantBool value);
  VariantBool get_ShowSlideAndShapeNumber() const;
  void put_ShowSlideAndShapeNumber(VariantBool value);
  float get_PercentageComplete() const;
  std::u16string get_ErrorString() const;
  void put_ErrorString(const std::u16string& value);
  double PowerPointVersion(std::u16string& sPowerPointVersion);
  VariantBool FileTypeSupportsSingleFileOutput(std::int32_t& lFiletype);
  std::int32_t GetAllPossibleErrorsCount();
  std::u16string GetErrorString(Variant& intErrorNumber);
  Variant get_lNumberOfFileTypes();  // a VT_I2 variant
  VariantBool GetFileType(std::int32_t lExtindex, std::u16string& sFileType, std::int32_t& lFiletype);
  std::u16string LookUpSaveAsExtension(std::int32_t& lFiletype, VariantBool& bIncludeWildCard);
  // Converts InputFile into OutputFile as TargetFileType says. Returns 0 or a negative catalogue
  // code. Throws AutomationError only when a failure happens inside a converter's failure path.
  std::int32_t ConvertFile();
  VariantBool get_IncludeNotes() const;
  void put_IncludeNotes(VariantBool value);
  VariantBool get_NotesOnly() const;
  void put_NotesOnly(VariantBool value);
  // Text of a group shape and its nested groups, addressed late-bound. Throws AutomationError.
  std::u16string TextFromGroupShape(std::shared_ptr<Dispatch>& oSh);
  // The text writer. These catch nothing: each throws AutomationError on failure.
  void OpenTextFileForWriting(std::u16string& sOutputFileName);
  void CloseTextFileForWriting();
  void WriteToTextFile(std::u16string& Value);
  VariantBool PowerPointVersionAtLeast2010();
  VariantBool PowerPointVersionAtLeast2007();

  // --- Events (connection point of __QuorvaneX) ---------------------------------------------
  // Advises a sink; returns its cookie (never 0). Sinks are called in the order advised.
  std::uint32_t Advise(std::shared_ptr<QuorvaneXEvents> sink);
  // Removes a sink; false when the cookie is unknown.
  bool Unadvise(std::uint32_t cookie);

  // --- Beyond the automation interface -----------------------------------------------------
  // The cause of the failure the last ConvertFile reported (the one its result code stands for):
  // set by the failure paths of the converters, by the checks of the input and output names and by
  // a failure to start an office application; cleared when ConvertFile starts, so it is empty
  // after a conversion that reported nothing.
  FailureCause LastFailureCause() const;
  // The diagnostic log the failure paths of the picture and text exports append to
  // ("Quorvane.log" beside the component's library file); empty when that folder is unknown.
  static std::u16string DiagnosticLogPath();

  // --- Container --------------------------------------------------------------------------
  // The container resizes the control; the control keeps the size of its picture box.
  void Resize(std::int32_t width, std::int32_t height);
  std::int32_t get_Width() const;
  std::int32_t get_Height() const;
  // The picture box's bitmap (32 x 28 pixels, 256 colours) as a BMP file image.
  static const std::vector<std::uint8_t>& DesignTimeBitmap();

  // The internal control, for the dispatch surface and the component's own tests.
  detail::Control& internal() { return *impl_; }

 private:
  std::unique_ptr<detail::Control> impl_;
};

}  // namespace quorvane
