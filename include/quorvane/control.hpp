#pragma once
// QuorvaneX: the presentation conversion control.
//
// A host creates the control, sets its properties, calls ConvertFile and reads the result code
// (0 success, -1 to -18 a failure of the error catalogue; quorvane/catalog.hpp says which
// converter gives which code). While a conversion runs, the control raises Progress (read
// PercentageComplete) and, on a failure, onerror with the code and the message, synchronously, on
// the caller's thread.
//
// Event handlers run inside the call that raised the event. From a handler of a conversion,
// ConvertFile and UserControl_Terminate on the same control throw AutomationError 5 ("... cannot
// be called while a conversion runs."); nothing else is refused. A setter called from a handler
// can change the running conversion, which reads its properties again after its first Progress:
// the slide range once that handler has returned (and does not normalise it again), the others as
// it goes (OptimizeForSpeed at its end). During a text export (107, 200) the text-writer members
// act on the file the export is writing. Destroying the control from a handler (or from a host
// object that TextFromGroupShape calls) is not allowed: the running call would go on over a
// destroyed control. (qv_control_destroy of the C interface defers it instead.)
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
#include "quorvane/output_options.hpp"
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
  // Destroying the control runs UserControl_Terminate: kept applications are ended. Never from
  // inside one of its own calls (see above).
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
  // The slide range, 1-based. Once the input is open, ConvertFile rewrites both in place: swapped
  // when StartSlide > EndSlide, then a StartSlide below 1 becomes 1, and an EndSlide below 1 or
  // past the last slide becomes the last slide. So 0 and 0 (the default) mean every slide, but
  // StartSlide 3 with EndSlide 0 means slides 1 to 3. A StartSlide past the last slide after the
  // swap stays: ConvertFile then fails with -10 (one past) or converts no slide and returns 0.
  // The rewritten values stay for the next conversion: set both before every ConvertFile.
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
  // code. Throws AutomationError only when a failure happens inside a converter's failure path, and
  // 5 when called while a conversion on this control runs.
  std::int32_t ConvertFile();
  VariantBool get_IncludeNotes() const;
  void put_IncludeNotes(VariantBool value);
  VariantBool get_NotesOnly() const;
  void put_NotesOnly(VariantBool value);
  // Text of a group shape and its nested groups, addressed late-bound: each request looks up the
  // name as written here (GetIDOfName; get_id_of_name of a C host object), then invokes it without
  // arguments, as DISPATCH_PROPERTYGET | DISPATCH_METHOD, or DISPATCH_METHOD for Next.
  //   oSh: "Type" (a number; anything but 6, a group, gives "" at once), "GroupItems" (an object).
  //   GroupItems: "_NewEnum" (an object). That object: "Next", again until it answers VT_EMPTY.
  //   Each item Next answers (an object): "Type"; 6: the item's own text, by this same walk, in
  //   place. Else "HasTextFrame"; non-zero: "TextFrame", then "HasText" on it; non-zero:
  //   "TextFrame" again, "TextRange" on it, "Text" on that (coerced to a string), appended with
  //   "\r\n".
  // Nothing else is asked (no Count, Item or Reset); numbers are coerced to 32-bit integers; no
  // object is kept after the call. Throws AutomationError, and returns nothing collected, on the
  // first failure: a failed request with its failure number (a DISP_E_EXCEPTION's own number if
  // not 0, else the HRESULT); 13 for an answer that is not a number or not an object where one is
  // needed; 91 for a null object (a null oSh too); 6 for a number beyond 32 bits; 28 for groups
  // nested more than 256 deep.
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
  // How the slide pictures and the PDF are made (quorvane/output_options.hpp); kept for every
  // later ConvertFile, like the properties. Options that OutputOptionsProblem refuses throw
  // AutomationError 0x80070057 with that problem and change nothing.
  OutputOptions GetOutputOptions() const;
  void SetOutputOptions(const OutputOptions& options);
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
