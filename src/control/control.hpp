#pragma once
// The control's state and private operations.
//
// QuorvaneX (the public class) forwards to one Control. Control holds every field that lives
// longer than one call (settings, progress, last error text, the application references, the
// cached PowerPoint version, the text output file) and carries the operations every subsystem
// defines on it: the dispatcher here, error reporting in catalog/, the application handling in
// office/, the converters in converters/, the log in diagnostics/. There is no global state except
// the process-wide numbered-file table.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "office/object_model.hpp"
#include "quorvane/control.hpp"
#include "quorvane/variant.hpp"

namespace quorvane::detail {

// The converter that serves a target code.
enum class Converter { SaveAs, SlideImages, ThroughWord, Text };
Converter RouteFor(std::int32_t targetFileType);

// The picture box the control always takes the size of.
inline constexpr std::int32_t kPicPFXWidth = 32;
inline constexpr std::int32_t kPicPFXHeight = 28;

class Control {
 public:
  explicit Control(std::shared_ptr<office::ApplicationProvider> provider);
  ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // --- Fields, with the values every instance starts with ---------------------------------
  std::u16string InputFile;
  std::u16string OutputFile;
  std::int32_t StartSlide = 0;
  std::int32_t EndSlide = 0;
  std::int32_t TargetFileType = 6;
  VariantBool MultiFileOutput = kVariantFalse;
  VariantBool ShowSlideAndShapeNumber = kVariantFalse;
  VariantBool IncludeNotes = kVariantFalse;
  VariantBool NotesOnly = kVariantFalse;
  float PercentageComplete = 0;
  VariantBool OptimizeForSpeed = kVariantTrue;
  std::u16string ErrorString;
  // Why the reported failure happened (QuorvaneX::LastFailureCause); cleared by ConvertFile.
  FailureCause LastCause;
  std::shared_ptr<office::ppt::Application> PowerPointApplication;
  std::shared_ptr<office::word::Application> WordApplication;
  double CachedPowerPointVersion = 0;
  std::u16string CachedPowerPointVersionText;
  std::int16_t TextFileNumber = 0;
  std::int32_t Width = kPicPFXWidth;
  std::int32_t Height = kPicPFXHeight;

  office::ApplicationProvider& provider() { return *provider_; }

  // --- Properties with rules of their own --------------------------------------------------
  void put_InputFile(std::u16string_view value);
  void put_OutputFile(std::u16string_view value);

  // --- Events ------------------------------------------------------------------------------
  std::uint32_t Advise(std::shared_ptr<QuorvaneXEvents> sink);
  bool Unadvise(std::uint32_t cookie);
  void RaiseProgress();
  void RaiseOnError(std::int32_t& intErrorNumber, std::u16string& strErrorText);

  // --- Control object ----------------------------------------------------------------------
  // The only way PercentageComplete changes; raises Progress at every call.
  void SetPercentageComplete(float value);
  // Progress after a slide: PercentageComplete + step in single precision, 100 at the most.
  void AdvanceProgress(float step);
  void UserControl_Terminate();
  void Resize(std::int32_t width, std::int32_t height);

  // --- Dispatcher --------------------------------------------------------------------------
  std::int32_t ConvertFile();
  void NormalizeSlideRange(office::ppt::Presentation& presentation);

  // --- Error catalogue ---------------------------------------------------------------------
  // Stores the text (or, when empty, the catalogue message of `code`) in ErrorString, then
  // raises onerror with a reference to ErrorString.
  void RaiseError(std::int32_t code, const std::u16string& text);
  static std::u16string GetErrorString(const Variant& intErrorNumber);
  // Keeps the cause of the failure being reported in LastCause. A failure path keeps the failure it
  // handles; KeepFailureCauseIfNone keeps one only when the conversion has none yet (a failure to
  // end an application during a failure path does not hide the failure that path reports).
  void KeepFailureCause(std::int32_t number, std::u16string description);
  void KeepFailureCauseIfNone(std::int32_t number, std::u16string description);

  // --- File-type catalogue -----------------------------------------------------------------
  Variant lNumberOfFileTypes();
  VariantBool GetFileType(std::int32_t lExtindex, std::u16string& sFileType, std::int32_t& lFiletype);
  static std::u16string LookUpSaveAsExtension(std::int32_t lFiletype, VariantBool bIncludeWildCard);

  // --- Office applications and version queries ---------------------------------------------
  VariantBool StartPowerPoint();
  VariantBool QuitPowerPoint();
  VariantBool StartWord();
  VariantBool QuitWord();
  double PowerPointVersion(std::u16string& sPowerPointVersion);
  VariantBool PowerPointVersionAtLeast2007();
  VariantBool PowerPointVersionAtLeast2010();

  // --- Converters --------------------------------------------------------------------------
  std::int32_t ConvertWithSaveAs();
  std::int32_t ExportSlideImages();
  std::int32_t ConvertThroughWord();
  std::int32_t ConvertToText();

  // Path checks of the save-as conversion: 0, or the code it has reported.
  std::int32_t CheckOutputPath();
  // PowerPoint's save; false when it failed. The failure is not reported; its number and
  // description are kept as the conversion's failure cause.
  VariantBool SavePresentationAs(office::ppt::Presentation& presentation, const std::u16string& fileName,
                                 std::int32_t fileType);
  // Target code to the three-letter graphic filter name ("GIF", "JPG", ...); empty when none.
  static std::u16string ImageFilterName(std::int32_t code);
  // The labelled text of one shape of one slide; never fails.
  std::u16string ExtractSlideText(office::ppt::Presentation& presentation, std::int32_t slideIndex,
                                  std::int32_t shapeIndex);

  // --- Diagnostic log ----------------------------------------------------------------------
  // Appends one line to the log beside the component; never fails towards its caller.
  void WriteLog(const std::u16string& logFileName, const std::u16string& message);

  // --- Text writer and group text ----------------------------------------------------------
  void OpenTextFileForWriting(const std::u16string& sOutputFileName);
  void WriteToTextFile(const std::u16string& Value);
  void CloseTextFileForWriting();
  std::u16string TextFromGroupShape(const std::shared_ptr<Dispatch>& oSh);

 private:
  VariantBool PowerPointVersionAtLeast(double threshold);

  struct Sink {
    std::uint32_t cookie;
    std::shared_ptr<QuorvaneXEvents> sink;
  };
  std::shared_ptr<office::ApplicationProvider> provider_;
  std::vector<Sink> sinks_;
  std::uint32_t nextCookie_ = 1;
  bool converting_ = false;
};

}  // namespace quorvane::detail
