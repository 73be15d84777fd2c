// QuorvaneX forwards every member to its Control.
#include "common/failures.hpp"
#include "common/text.hpp"
#include "control/control.hpp"
#include "converters/slide_text.hpp"
#include "diagnostics/log.hpp"
#include "quorvane/catalog.hpp"

namespace quorvane {

QuorvaneXEvents::~QuorvaneXEvents() = default;

QuorvaneX::QuorvaneX() : QuorvaneX(nullptr) {}
QuorvaneX::QuorvaneX(std::shared_ptr<office::ApplicationProvider> provider)
    : impl_(std::make_unique<detail::Control>(std::move(provider))) {}
QuorvaneX::~QuorvaneX() = default;

void QuorvaneX::UserControl_Terminate() { impl_->UserControl_Terminate(); }
VariantBool QuorvaneX::get_OptimizeForSpeed() const { return impl_->OptimizeForSpeed; }
void QuorvaneX::put_OptimizeForSpeed(VariantBool value) { impl_->OptimizeForSpeed = value; }
std::u16string QuorvaneX::get_InputFile() const { return impl_->InputFile; }
void QuorvaneX::put_InputFile(const std::u16string& value) { impl_->put_InputFile(value); }
std::u16string QuorvaneX::get_OutputFile() const { return impl_->OutputFile; }
void QuorvaneX::put_OutputFile(const std::u16string& value) { impl_->put_OutputFile(value); }
std::int32_t QuorvaneX::get_TargetFileType() const { return impl_->TargetFileType; }
void QuorvaneX::put_TargetFileType(std::int32_t value) { impl_->TargetFileType = value; }
std::int32_t QuorvaneX::get_StartSlide() const { return impl_->StartSlide; }
void QuorvaneX::put_StartSlide(std::int32_t value) { impl_->StartSlide = value; }
std::int32_t QuorvaneX::get_EndSlide() const { return impl_->EndSlide; }
void QuorvaneX::put_EndSlide(std::int32_t value) { impl_->EndSlide = value; }
VariantBool QuorvaneX::get_MultiFileOutput() const { return impl_->MultiFileOutput; }
void QuorvaneX::put_MultiFileOutput(VariantBool value) { impl_->MultiFileOutput = value; }
VariantBool QuorvaneX::get_ShowSlideAndShapeNumber() const { return impl_->ShowSlideAndShapeNumber; }
void QuorvaneX::put_ShowSlideAndShapeNumber(VariantBool value) { impl_->ShowSlideAndShapeNumber = value; }
float QuorvaneX::get_PercentageComplete() const { return impl_->PercentageComplete; }
std::u16string QuorvaneX::get_ErrorString() const { return impl_->ErrorString; }
void QuorvaneX::put_ErrorString(const std::u16string& value) { impl_->ErrorString = value; }
double QuorvaneX::PowerPointVersion(std::u16string& sPowerPointVersion) { return impl_->PowerPointVersion(sPowerPointVersion); }
VariantBool QuorvaneX::FileTypeSupportsSingleFileOutput(std::int32_t& lFiletype) {
  return catalog::SupportsSingleFileOutput(lFiletype) ? kVariantTrue : kVariantFalse;
}
std::int32_t QuorvaneX::GetAllPossibleErrorsCount() { return catalog::kAllPossibleErrorsCount; }
std::u16string QuorvaneX::GetErrorString(Variant& intErrorNumber) { return detail::Control::GetErrorString(intErrorNumber); }
Variant QuorvaneX::get_lNumberOfFileTypes() { return impl_->lNumberOfFileTypes(); }
VariantBool QuorvaneX::GetFileType(std::int32_t lExtindex, std::u16string& sFileType, std::int32_t& lFiletype) {
  return impl_->GetFileType(lExtindex, sFileType, lFiletype);
}
std::u16string QuorvaneX::LookUpSaveAsExtension(std::int32_t& lFiletype, VariantBool& bIncludeWildCard) {
  return detail::Control::LookUpSaveAsExtension(lFiletype, bIncludeWildCard);
}
std::int32_t QuorvaneX::ConvertFile() { return impl_->ConvertFile(); }
VariantBool QuorvaneX::get_IncludeNotes() const { return impl_->IncludeNotes; }
void QuorvaneX::put_IncludeNotes(VariantBool value) { impl_->IncludeNotes = value; }
VariantBool QuorvaneX::get_NotesOnly() const { return impl_->NotesOnly; }
void QuorvaneX::put_NotesOnly(VariantBool value) { impl_->NotesOnly = value; }
std::u16string QuorvaneX::TextFromGroupShape(std::shared_ptr<Dispatch>& oSh) {
  return converters::TextFromGroupShape(oSh);
}
void QuorvaneX::OpenTextFileForWriting(std::u16string& sOutputFileName) { impl_->OpenTextFileForWriting(sOutputFileName); }
void QuorvaneX::CloseTextFileForWriting() { impl_->CloseTextFileForWriting(); }
void QuorvaneX::WriteToTextFile(std::u16string& Value) { impl_->WriteToTextFile(Value); }
VariantBool QuorvaneX::PowerPointVersionAtLeast2010() { return impl_->PowerPointVersionAtLeast2010(); }
VariantBool QuorvaneX::PowerPointVersionAtLeast2007() { return impl_->PowerPointVersionAtLeast2007(); }

std::uint32_t QuorvaneX::Advise(std::shared_ptr<QuorvaneXEvents> sink) { return impl_->Advise(std::move(sink)); }
bool QuorvaneX::Unadvise(std::uint32_t cookie) { return impl_->Unadvise(cookie); }

FailureCause QuorvaneX::LastFailureCause() const { return impl_->LastCause; }
OutputOptions QuorvaneX::GetOutputOptions() const { return impl_->Options; }
void QuorvaneX::SetOutputOptions(const OutputOptions& options) {
  const std::string problem = OutputOptionsProblem(options);
  if (!problem.empty()) throw AutomationError(failure::kEInvalidArg, text::FromUtf8(problem) + u".");
  impl_->Options = options;
}
std::u16string QuorvaneX::DiagnosticLogPath() {
  const std::u16string folder = diagnostics::LogFolder();
  return folder.empty() ? folder : diagnostics::JoinLogPath(folder, diagnostics::kLogFileName);
}

void QuorvaneX::Resize(std::int32_t width, std::int32_t height) { impl_->Resize(width, height); }
std::int32_t QuorvaneX::get_Width() const { return impl_->Width; }
std::int32_t QuorvaneX::get_Height() const { return impl_->Height; }

}  // namespace quorvane
