#pragma once
// The control's state and private operations.
//
// QuorvaneX (the public class) forwards to one Control. Control holds every field that lives
// longer than one call and every operation sees it: the settings a conversion reads
// (converters::Settings), the applications and the cached PowerPoint version
// (office::Applications, which also starts and ends them), the text writer and its file number
// (converters::TextWriter), progress, the last error text and failure cause, and the event sinks.
// It is the conversions' context: it reports their failures (office::Reporter) and their progress
// (converters::Progress). There is no global state except the process-wide numbered-file table.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "converters/context.hpp"
#include "office/applications.hpp"
#include "office/object_model.hpp"
#include "quorvane/control.hpp"
#include "quorvane/variant.hpp"

namespace quorvane::detail {

// The picture box the control always takes the size of.
inline constexpr std::int32_t kPicPFXWidth = 32;
inline constexpr std::int32_t kPicPFXHeight = 28;

class Control final : public converters::Settings,
                      public office::Applications,
                      public converters::TextWriter,
                      public office::Reporter,
                      public converters::Progress {
 public:
  explicit Control(std::shared_ptr<office::ApplicationProvider> provider);
  ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  // --- Fields of its own, with the values every instance starts with ------------------------
  float PercentageComplete = 0;
  std::u16string ErrorString;
  // Why the reported failure happened (QuorvaneX::LastFailureCause); cleared by ConvertFile.
  FailureCause LastCause;
  std::int32_t Width = kPicPFXWidth;
  std::int32_t Height = kPicPFXHeight;

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
  void SetPercentageComplete(float value) override;
  // Progress after a slide: PercentageComplete + step in single precision, 100 at the most.
  void AdvanceProgress(float step) override;
  void UserControl_Terminate();
  void Resize(std::int32_t width, std::int32_t height);

  // --- Dispatcher --------------------------------------------------------------------------
  // Runs the conversion that serves TargetFileType (converters::ConvertWithSaveAs,
  // ExportSlideImages, ConvertToText or ConvertThroughWord) with the control as its context.
  std::int32_t ConvertFile();

  // --- Error catalogue ---------------------------------------------------------------------
  // Stores the text (or, when empty, the catalogue message of `code`) in ErrorString, then
  // raises onerror with a reference to ErrorString.
  void RaiseError(std::int32_t code, const std::u16string& text) override;
  static std::u16string GetErrorString(const Variant& intErrorNumber);
  // Keeps the cause of the failure being reported in LastCause.
  void KeepFailureCause(std::int32_t number, std::u16string description) override;
  void KeepFailureCauseIfNone(std::int32_t number, std::u16string description) override;
  void ReplaceErrorString(std::u16string text) override;

  // --- File-type catalogue -----------------------------------------------------------------
  Variant lNumberOfFileTypes();
  VariantBool GetFileType(std::int32_t lExtindex, std::u16string& sFileType, std::int32_t& lFiletype);
  static std::u16string LookUpSaveAsExtension(std::int32_t lFiletype, VariantBool bIncludeWildCard);

 private:
  // The control as the context of the conversion it runs.
  converters::Context ConversionContext();

  struct Sink {
    std::uint32_t cookie;
    std::shared_ptr<QuorvaneXEvents> sink;
  };
  std::vector<Sink> sinks_;
  std::uint32_t nextCookie_ = 1;
  bool converting_ = false;
};

}  // namespace quorvane::detail
