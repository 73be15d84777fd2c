// quorvane convert: one input, one output, through the control like any host.
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "command.hpp"
#include "output.hpp"
#include "quorvane/control.hpp"
#include "quorvane/utf.hpp"

namespace quorvane::cli {
namespace {

// Names a user may give --type, and the extensions the output's name may carry, each naming one
// format. An extension that names several formats (".xml", ".mht" aside) is not guessed from.
const std::map<std::string, std::int32_t>& TypeNames() {
  static const std::map<std::string, std::int32_t> names{
      {"pptx", 24}, {"pptm", 25}, {"potx", 26}, {"potm", 27}, {"ppsx", 28}, {"ppsm", 29},
      {"ppt", 1},   {"pot", 5},   {"pps", 7},   {"pdf", 32},  {"xps", 33},  {"odp", 35},
      {"rtf", 6},   {"htm", 12},  {"mht", 20},  {"wmf", 15},  {"emf", 100}, {"gif", 16},
      {"jpg", 17},  {"png", 18},  {"bmp", 19},  {"tif", 21},  {"doc", 101}, {"word-rtf", 106},
      {"word-htm", 108}, {"txt", 200}, {"utf16", 107},
  };
  return names;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// --type: a catalogue code ("24", "-1") or a name; nullopt when it is neither.
std::optional<std::int32_t> ParseType(const std::string& text) {
  const auto named = TypeNames().find(Lower(text));
  if (named != TypeNames().end()) return named->second;
  std::int32_t code = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, code);
  if (error == std::errc() && stop == end && !text.empty()) return code;
  return std::nullopt;
}

// The format the output's extension names, when it names exactly one.
std::optional<std::int32_t> TypeFromExtension(const std::filesystem::path& output) {
  std::string extension = Lower(output.extension().string());
  if (extension.size() < 2) return std::nullopt;
  extension.erase(0, 1);
  if (extension == "word-rtf" || extension == "word-htm" || extension == "utf16") return std::nullopt;
  const auto named = TypeNames().find(extension);
  if (named == TypeNames().end()) return std::nullopt;
  return named->second;
}

struct ConvertOptions {
  std::string input;
  std::string output;
  std::string type;
  std::int32_t start = 0;
  std::int32_t end = 0;
  bool multi = false;
  bool numbers = false;
  bool notes = false;
  bool notesOnly = false;
  bool noKeepRunning = false;
};

// Prints each failure the control reports, as it is reported.
class ErrorPrinter : public QuorvaneXEvents {
 public:
  void onerror(std::int32_t& intErrorNumber, std::u16string& strErrorText) override {
    std::cerr << kProgram << ": error " << intErrorNumber << ": " << ToUtf8(strErrorText) << "\n";
  }
};

int RunConvert(const ConvertOptions& options) {
  std::int32_t type = 6;  // the control's default
  if (!options.type.empty()) {
    const auto parsed = ParseType(options.type);
    if (!parsed) {
      std::cerr << kProgram << " convert: unknown type '" << options.type << "'\nRun '" << kProgram
                << " convert --help' for the names.\n";
      return kExitUsage;
    }
    type = *parsed;
  } else if (const auto guessed = TypeFromExtension(options.output)) {
    type = *guessed;
  }

  // A host with a file dialog passes absolute names; relative ones are made absolute here.
  const auto absolute = [](const std::string& name) {
    return name.empty() ? name : std::filesystem::absolute(std::filesystem::path(name)).lexically_normal().string();
  };

  QuorvaneX control;
  control.Advise(std::make_shared<ErrorPrinter>());
  control.put_InputFile(Utf8ToUtf16(absolute(options.input)));
  control.put_OutputFile(Utf8ToUtf16(absolute(options.output)));
  control.put_TargetFileType(type);
  control.put_StartSlide(options.start);
  control.put_EndSlide(options.end);
  control.put_MultiFileOutput(options.multi ? kVariantTrue : kVariantFalse);
  control.put_ShowSlideAndShapeNumber(options.numbers ? kVariantTrue : kVariantFalse);
  control.put_IncludeNotes(options.notes || options.notesOnly ? kVariantTrue : kVariantFalse);
  control.put_NotesOnly(options.notesOnly ? kVariantTrue : kVariantFalse);
  control.put_OptimizeForSpeed(options.noKeepRunning ? kVariantFalse : kVariantTrue);

  std::int32_t result = 0;
  try {
    result = control.ConvertFile();
  } catch (const AutomationError& failure) {
    std::cerr << kProgram << ": conversion failed: " << ToUtf8(failure.description()) << " (" << failure.number()
              << ")\n";
    return kExitSoftware;
  }
  if (result == 0) return kExitOk;
  // The failure was printed as it was reported; the exit status carries its code.
  return result < 0 ? -result : kExitSoftware;
}

}  // namespace

Command AddConvert(CLI::App& root) {
  auto options = std::make_shared<ConvertOptions>();
  CLI::App* app = root.add_subcommand("convert", "Convert one presentation into another format.");
  app->add_option("input", options->input, "the presentation to convert")->required();
  app->add_option("output", options->output,
                  "the file to write, or the name prefix of the files written one per slide")
      ->required();
  app->add_option("-t,--type", options->type,
                  "the output format: a code of 'quorvane formats' or one of pptx pptm potx potm ppsx ppsm ppt pot "
                  "pps pdf xps odp rtf htm mht wmf emf gif jpg png bmp tif doc word-rtf word-htm txt utf16; "
                  "without it, the output's extension decides where it names one of these");
  app->add_option("--start", options->start, "first slide (1-based; 0 for the first)");
  app->add_option("--end", options->end, "last slide (0 for the last)");
  app->add_flag("--multi", options->multi, "one output file per slide (or per document)");
  app->add_flag("--numbers", options->numbers, "label the text with slide and shape numbers");
  app->add_flag("--notes", options->notes, "include the speaker notes");
  app->add_flag("--notes-only", options->notesOnly, "only the speaker notes (implies --notes)");
  app->add_flag("--no-keep-running", options->noKeepRunning,
                "end the office engines after the conversion instead of keeping them warm");
  app->footer(
      "Failures are printed as 'quorvane: error <code>: <message>' and the exit status is the code without\n"
      "its sign (0 success, 64 usage error, 70 failed automation call).\n"
      "Examples:\n"
      "  quorvane convert deck.pptx deck.txt --notes --numbers\n"
      "  quorvane convert deck.pptx part.pptx --start 2 --end 4 --numbers\n"
      "  quorvane convert deck.pptx out/slide --type png");
  return {app, [options] { return RunConvert(*options); }};
}

}  // namespace quorvane::cli
