#include "conversion.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <system_error>
#include <utility>

#include "quorvane/automation_error.hpp"
#include "quorvane/utf.hpp"

namespace quorvane::service {
namespace {

VariantBool Bool(bool value) { return value ? kVariantTrue : kVariantFalse; }

}  // namespace

std::string AsciiLower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

ConversionResult FailedCall(const std::string& what) {
  ConversionResult result;
  result.failedCall = true;
  result.code = failure::kEFail;
  result.errorText = what;
  result.errors.push_back("conversion failed: " + what);
  return result;
}

std::optional<std::int32_t> CodeNamed(const std::string& name) {
  const std::string lower = AsciiLower(name);
  for (const catalog::Format& format : catalog::Formats())
    if (!format.commandName.empty() && format.commandName == lower) return format.code;
  return std::nullopt;
}

std::optional<std::int32_t> ParseType(const std::string& text) {
  if (const auto named = CodeNamed(text)) return named;
  std::int32_t code = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, code);
  if (error == std::errc() && stop == end && !text.empty()) return code;
  return std::nullopt;
}

std::optional<DocumentKind> ParseDocumentType(const std::string& text) {
  const std::string name = AsciiLower(text);
  if (name == "md" || name == "markdown") return DocumentKind::kMarkdown;
  if (name == "json") return DocumentKind::kJson;
  return std::nullopt;
}

std::string TypeNames() {
  std::string names;
  for (const catalog::Format& format : catalog::Formats()) {
    if (format.commandName.empty()) continue;
    if (!names.empty()) names += ' ';
    names += format.commandName;
  }
  return names;
}

// The control's events, routed to the conversion running on it.
class LocalConverter::Events : public QuorvaneXEvents {
 public:
  explicit Events(QuorvaneX& control) : control_(control) {}

  void Start(ConversionResult& result, const Converter::Progress& progress) {
    result_ = &result;
    progress_ = &progress;
  }

  void Progress() override {
    if (progress_ != nullptr && *progress_) (*progress_)(control_.get_PercentageComplete());
  }

  void onerror(std::int32_t& intErrorNumber, std::u16string& strErrorText) override {
    if (result_ == nullptr) return;
    const std::string text = Utf16ToUtf8(strErrorText);
    result_->errors.push_back("error " + std::to_string(intErrorNumber) + ": " + text);
    reported_.emplace_back(intErrorNumber, text);
  }

  // The message reported with `code`, else the last one reported, else the control's ErrorString.
  std::string MessageFor(std::int32_t code) {
    for (const auto& [number, text] : reported_)
      if (number == code) return text;
    if (!reported_.empty()) return reported_.back().second;
    return Utf16ToUtf8(control_.get_ErrorString());
  }

  void Finish() {
    result_ = nullptr;
    progress_ = nullptr;
    reported_.clear();
  }

 private:
  QuorvaneX& control_;
  ConversionResult* result_ = nullptr;
  const Converter::Progress* progress_ = nullptr;
  std::vector<std::pair<std::int32_t, std::string>> reported_;
};

LocalConverter::LocalConverter() = default;

LocalConverter::~LocalConverter() = default;

// Every property is set again for each input: ConvertFile clamps StartSlide and EndSlide in place,
// and the next input must start from what the user asked for.
ConversionResult LocalConverter::Convert(const ConversionJob& job, const ConversionSettings& settings,
                                         const Progress& progress) {
  if (!control_) {
    control_ = std::make_unique<QuorvaneX>();
    events_ = std::make_shared<Events>(*control_);
    control_->Advise(events_);
  }
  QuorvaneX& control = *control_;
  ConversionResult result;
  if (settings.document) {
    const auto started = std::chrono::steady_clock::now();
    try {
      ExportDocument(job.inputPath, job.outputPath, *settings.document);
    } catch (const AutomationError& failure) {
      result.code = catalog::kConversionFailed;
      result.errorText = Utf16ToUtf8(failure.description());
      result.errors.push_back("error " + std::to_string(result.code) + ": " + result.errorText);
      result.causeNumber = failure.number();
      result.causeText = result.errorText;
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
  }
  events_->Start(result, progress);
  control.put_InputFile(Utf8ToUtf16(job.inputPath));
  control.put_OutputFile(Utf8ToUtf16(job.outputPath));
  control.put_TargetFileType(settings.targetFileType);
  control.put_StartSlide(settings.startSlide);
  control.put_EndSlide(settings.endSlide);
  control.put_MultiFileOutput(Bool(settings.multiFileOutput));
  control.put_ShowSlideAndShapeNumber(Bool(settings.showSlideAndShapeNumber));
  control.put_IncludeNotes(Bool(settings.includeNotes || settings.notesOnly));
  control.put_NotesOnly(Bool(settings.notesOnly));
  control.put_OptimizeForSpeed(Bool(settings.optimizeForSpeed));
  control.SetOutputOptions(settings.output);

  const auto started = std::chrono::steady_clock::now();
  try {
    result.code = control.ConvertFile();
    if (result.code == catalog::kSuccess) {
      result.slides = std::max(0, control.get_EndSlide() - control.get_StartSlide() + 1);
    } else {
      result.errorText = events_->MessageFor(result.code);
    }
  } catch (const AutomationError& failure) {
    result.failedCall = true;
    result.code = failure.number();
    result.errorText = Utf16ToUtf8(failure.description());
    result.errors.push_back("conversion failed: " + result.errorText + " (" + std::to_string(failure.number()) + ")");
  }
  if (!result.ok()) {
    const FailureCause cause = control.LastFailureCause();
    result.causeNumber = cause.number;
    result.causeText = Utf16ToUtf8(cause.description);
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  events_->Finish();
  return result;
}

nlohmann::json SettingsJson(const ConversionSettings& s) {
  const OutputOptions& o = s.output;
  return {{"type", s.targetFileType},
          {"start", s.startSlide},
          {"end", s.endSlide},
          {"multi_file", s.multiFileOutput},
          {"labels", s.showSlideAndShapeNumber},
          {"notes", s.includeNotes},
          {"notes_only", s.notesOnly},
          {"keep_running", s.optimizeForSpeed},
          {"width", o.pixelWidth},
          {"height", o.pixelHeight},
          {"dpi", o.dotsPerInch},
          {"jpeg_quality", o.jpegQuality},
          {"name_pattern", Utf16ToUtf8(o.namePattern)},
          {"hidden_slides", o.hiddenSlides},
          {"notes_pages", o.notesPages},
          {"pdfa", o.pdfa}};
}

ConversionSettings SettingsFromJson(const nlohmann::json& j) {
  ConversionSettings s;
  s.targetFileType = j.at("type").get<std::int32_t>();
  s.startSlide = j.at("start").get<std::int32_t>();
  s.endSlide = j.at("end").get<std::int32_t>();
  s.multiFileOutput = j.at("multi_file").get<bool>();
  s.showSlideAndShapeNumber = j.at("labels").get<bool>();
  s.includeNotes = j.at("notes").get<bool>();
  s.notesOnly = j.at("notes_only").get<bool>();
  s.optimizeForSpeed = j.at("keep_running").get<bool>();
  OutputOptions& o = s.output;
  o.pixelWidth = j.at("width").get<std::int32_t>();
  o.pixelHeight = j.at("height").get<std::int32_t>();
  o.dotsPerInch = j.at("dpi").get<std::int32_t>();
  o.jpegQuality = j.at("jpeg_quality").get<std::int32_t>();
  o.namePattern = Utf8ToUtf16(j.at("name_pattern").get<std::string>());
  o.hiddenSlides = j.at("hidden_slides").get<bool>();
  o.notesPages = j.at("notes_pages").get<bool>();
  o.pdfa = j.at("pdfa").get<bool>();
  return s;
}

nlohmann::json ResultJson(const ConversionResult& r) {
  return {{"code", r.code},           {"failed_call", r.failedCall},  {"errors", r.errors},
          {"error", r.errorText},     {"cause_number", r.causeNumber}, {"cause", r.causeText},
          {"seconds", r.seconds},     {"slides", r.slides}};
}

ConversionResult ResultFromJson(const nlohmann::json& j) {
  ConversionResult r;
  r.code = j.at("code").get<std::int32_t>();
  r.failedCall = j.at("failed_call").get<bool>();
  r.errors = j.at("errors").get<std::vector<std::string>>();
  r.errorText = j.at("error").get<std::string>();
  r.causeNumber = j.at("cause_number").get<std::int32_t>();
  r.causeText = j.at("cause").get<std::string>();
  r.seconds = j.at("seconds").get<double>();
  r.slides = j.at("slides").get<std::int32_t>();
  return r;
}

}  // namespace quorvane::service
