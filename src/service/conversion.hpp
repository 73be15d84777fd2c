#pragma once
// One conversion as the command and the server run it: the control's settings, the files, what
// came of it, and where it runs (a control of this process, or a server of the same user).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "quorvane/catalog.hpp"
#include "quorvane/control.hpp"
#include "quorvane/documents.hpp"
#include "quorvane/output_options.hpp"

namespace quorvane::service {

// The control's properties that are the same for every input of a run.
struct ConversionSettings {
  std::int32_t targetFileType = 6;
  std::int32_t startSlide = 0;
  std::int32_t endSlide = 0;
  bool multiFileOutput = false;
  bool showSlideAndShapeNumber = false;
  bool includeNotes = false;
  bool notesOnly = false;
  bool optimizeForSpeed = true;
  OutputOptions output;  // checked already (OutputOptionsProblem)
  // The deck's text and structure as a Markdown or JSON document instead of targetFileType
  // (quorvane/documents.hpp); a failure is kConversionFailed with the failure as its cause.
  std::optional<DocumentKind> document;
};

struct ConversionJob {
  std::string input;       // as the user named it (what messages and results show)
  std::string inputPath;   // absolute, handed to the control as InputFile
  std::string outputPath;  // absolute, handed to the control as OutputFile
};

struct ConversionResult {
  // The control's result code (0 or a catalogue code), or the failure number of a failed
  // automation call when failedCall is true.
  std::int32_t code = 0;
  bool failedCall = false;
  // What the control reported through onerror (each "error <code>: <message>"), or the failed
  // call's description; empty on success.
  std::vector<std::string> errors;
  std::string errorText;  // the message of the failure the code stands for ("" on success)
  // Why it failed, as the control's failure path saw it (QuorvaneX::LastFailureCause): the
  // failure number and its description; 0 and "" when the control kept none.
  std::int32_t causeNumber = 0;
  std::string causeText;
  double seconds = 0;
  // Slides of the converted range (the control's StartSlide to EndSlide once it has clamped them);
  // 0 when the conversion failed.
  std::int32_t slides = 0;

  bool ok() const { return !failedCall && code == catalog::kSuccess; }
};

// A conversion that something other than the control's own failure ended (memory ran out, a
// thread could not be made, the server went away) carries E_FAIL and `what`.
ConversionResult FailedCall(const std::string& what);

// The code a name of the formats table stands for ("pdf", in any letter case); nullopt for another.
std::optional<std::int32_t> CodeNamed(const std::string& name);
// The code a type names: a catalogue code ("32", "-1") or a name of the formats table ("pdf", in
// any letter case); nullopt when it is neither.
std::optional<std::int32_t> ParseType(const std::string& text);
// The document a type names: "md" or "markdown", "json" (any letter case); nullopt for another.
std::optional<DocumentKind> ParseDocumentType(const std::string& text);
// `text` with the ASCII capitals made small (type names and extensions are ASCII).
std::string AsciiLower(std::string text);
// The names a type may be given by, in the table's order, separated by spaces.
std::string TypeNames();

// Where conversions run. Progress reports the control's PercentageComplete as it moves.
class Converter {
 public:
  using Progress = std::function<void(float percent)>;
  virtual ~Converter() = default;
  virtual ConversionResult Convert(const ConversionJob& job, const ConversionSettings& settings,
                                   const Progress& progress) = 0;
};

// Conversions on a control of this process, made on the thread that first converts (a control
// belongs to the thread that made it) and kept, with its engines warm, for the next.
class LocalConverter : public Converter {
 public:
  LocalConverter();
  ~LocalConverter() override;
  ConversionResult Convert(const ConversionJob& job, const ConversionSettings& settings,
                           const Progress& progress) override;

 private:
  class Events;
  std::unique_ptr<QuorvaneX> control_;
  std::shared_ptr<Events> events_;
};

// The settings and results as the server and its clients exchange them.
nlohmann::json SettingsJson(const ConversionSettings& settings);
ConversionSettings SettingsFromJson(const nlohmann::json& json);  // throws nlohmann::json::exception
nlohmann::json ResultJson(const ConversionResult& result);
ConversionResult ResultFromJson(const nlohmann::json& json);  // throws nlohmann::json::exception

}  // namespace quorvane::service
