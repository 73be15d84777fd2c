// quorvane convert: one input to one output, or many inputs into a folder, through the control like
// any host (properties, ConvertFile, the Progress and onerror events).
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "batch.hpp"
#include "command.hpp"
#include "output.hpp"
#include "quorvane/catalog.hpp"
#include "quorvane/control.hpp"
#include "quorvane/documents.hpp"
#include "quorvane/office_limits.hpp"
#include "quorvane/utf.hpp"
#include "service/local_socket.hpp"
#include "standard_streams.hpp"
#include "status_line.hpp"

namespace quorvane::cli {
namespace {

namespace fs = std::filesystem;

// The renderer's pool of office processes takes its size from this variable when the process first
// uses it: -j N conversions at once need N offices.
constexpr const char* kRenderWorkersVariable = "QUORVANE_RENDER_WORKERS";
constexpr int kMaxJobs = 64;
constexpr std::int32_t kPdfType = 32;
constexpr std::int32_t kJpegType = 17;

using service::AsciiLower;

using service::CodeNamed;
using service::ParseType;
using service::TypeNames;

// The format the output's extension names: the one whose --type name is that extension and is
// its own extension too (".htm" is 12; "word-htm" is no extension). nullopt for a name without an
// extension, or with one that names no format or several (".xml"): the command does not guess.
std::optional<std::int32_t> TypeFromExtension(const fs::path& output) {
  std::string extension = AsciiLower(output.extension().string());
  if (extension.size() < 2) return std::nullopt;
  extension.erase(0, 1);
  const auto named = CodeNamed(extension);
  if (!named || ToUtf8(catalog::Extension(*named)) != extension) return std::nullopt;
  return named;
}

struct ConvertOptions {
  std::string input;
  std::vector<std::string> more;  // the output, or with --dir further inputs
  std::string dir;
  std::string type;
  std::int32_t start = 0;
  std::int32_t end = 0;
  bool multi = false;
  bool numbers = false;
  bool notes = false;
  bool notesOnly = false;
  bool noKeepRunning = false;
  bool noServer = false;
  bool limitsGiven = false;  // --timeout or --office-memory
  int jobs = 1;
  bool jobsGiven = false;
  bool json = false;
  bool quiet = false;
  bool progress = false;
  bool verbose = false;
  OutputOptions output;  // --width ... --pdfa
};

// A host with a file dialog passes absolute names; relative ones are made absolute here.
std::string Absolute(const std::string& name) {
  return name.empty() ? name : fs::absolute(fs::path(name)).lexically_normal().string();
}

int UsageError(const std::string& message, const std::string& hint = "usage") {
  std::cerr << kProgram << " convert: " << Printable(message) << "\nRun '" << kProgram << " convert --help' for " << hint
            << ".\n";
  return kExitUsage;
}

// The targets the control exports slide by slide as pictures (GIF, JPG, PNG, BMP, TIF, EMF): their
// OutputFile is the prefix of the pictures' names. WMF and MHT, which the catalogue also lists as
// not single-file, are saved as one file.
bool IsSlidePictureTarget(std::int32_t type) { return catalog::RouteOf(type) == catalog::Route::SlidePictures; }

// The output of `input` in `folder`: its name without the extension, then the target's extension
// as the control names it. A slide picture target gets the bare name instead, which the control
// uses as the prefix of the pictures' names ("deck" -> "deckSlide1.PNG").
std::string OutputInFolder(QuorvaneX& control, const fs::path& folder, const std::string& input,
                           std::int32_t type) {
  std::int32_t lFiletype = type;
  VariantBool bare = kVariantFalse;
  const std::string extension = ToUtf8(control.LookUpSaveAsExtension(lFiletype, bare));
  const std::string stem = fs::path(input).stem().string();
  if (IsSlidePictureTarget(type) || extension.empty()) return (folder / stem).string();
  return (folder / (stem + "." + extension)).string();
}

// The cause of a failure as a number: a run-time error number in decimal, an HRESULT (negative)
// as eight hexadecimal digits.
std::string CauseNumber(std::int32_t number) {
  if (number >= 0) return std::to_string(number);
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(number));
  return buffer;
}

// The line under a failure's error lines that says why it failed, "" when the control kept no cause.
std::string CauseLine(const ConversionResult& result) {
  if (result.causeNumber == 0 && result.causeText.empty()) return {};
  const std::string text = result.causeText.empty() ? "failure" : Printable(result.causeText);
  return "  cause: " + text + " (" + CauseNumber(result.causeNumber) + ")\n";
}

// One line of --json output. Paths that are not valid UTF-8 are written with U+FFFD in place of
// the bytes that are not. "cause" is null on success.
std::string JsonLine(const ConversionJob& job, const ConversionResult& result) {
  nlohmann::ordered_json cause = nullptr;
  if (result.causeNumber != 0 || !result.causeText.empty())
    cause = {{"number", result.causeNumber}, {"description", result.causeText}};
  const nlohmann::ordered_json line{
      {"input", job.input},
      {"output", job.outputPath},
      {"code", result.code},
      {"error", result.errorText},
      {"cause", cause},
      {"seconds", std::round(result.seconds * 1000.0) / 1000.0},
      {"slides", result.slides},
  };
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// Where the diagnostic log ends before a run, so that --verbose can show the lines the run adds.
struct LogMark {
  std::string path;
  std::uintmax_t size = 0;
};

LogMark MarkLog() {
  LogMark mark{ToUtf8(QuorvaneX::DiagnosticLogPath())};
  std::error_code error;
  if (!mark.path.empty()) {
    const std::uintmax_t size = fs::file_size(mark.path, error);
    if (!error) mark.size = size;
  }
  return mark;
}

// The lines added to the log since `mark`, each as "quorvane: log: <line>", escaped for the terminal.
std::string LogLinesSince(const LogMark& mark) {
  if (mark.path.empty()) return std::string(kProgram) + ": log: the folder of the diagnostic log is unknown\n";
  std::string out = std::string(kProgram) + ": log file: " + Printable(mark.path) + "\n";
  std::ifstream in(mark.path, std::ios::binary);
  if (!in) return out;
  in.seekg(0, std::ios::end);
  const auto end = static_cast<std::uintmax_t>(in.tellg());
  // A log that shrank was replaced meanwhile: all of it is new.
  in.seekg(static_cast<std::streamoff>(end >= mark.size ? mark.size : 0));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out += std::string(kProgram) + ": log: " + Printable(line) + "\n";
  }
  return out;
}

// The output format: --type, else the output's extension. nullopt after a usage error was reported.
std::optional<std::int32_t> ChooseType(const ConvertOptions& options, bool batch, const std::string& output) {
  if (!options.type.empty()) {
    const auto parsed = ParseType(options.type);
    if (!parsed) UsageError("unknown type '" + options.type + "'", "the names");
    return parsed;
  }
  if (batch) {
    UsageError("--dir needs --type: the outputs' format cannot be told from their names");
    return std::nullopt;
  }
  if (output == kStandardStream) {
    UsageError("writing to standard output ('-') needs --type: there is no name to tell the format from");
    return std::nullopt;
  }
  if (const auto guessed = TypeFromExtension(output)) return guessed;
  const std::string extension = fs::path(output).extension().string();
  if (extension.size() < 2)
    UsageError("the output '" + output + "' has no extension to tell its format from; give --type", "the types");
  else
    UsageError("the output extension '" + extension + "' names no format the command knows; give --type", "the types");
  return std::nullopt;
}

// --type md and --type json (or an output ending in .md or .json): the reading of the deck as a
// document, written by the component's own writers outside the control's catalogue.
std::optional<DocumentKind> DocumentKindOf(const ConvertOptions& options, bool batch, const std::string& output) {
  std::string name = options.type;
  if (name.empty() && !batch) {
    name = AsciiLower(fs::path(output).extension().string());
    if (!name.empty()) name.erase(0, 1);
  }
  return service::ParseDocumentType(name);
}

int RunDocuments(const std::vector<std::string>& inputs, const std::string& output, const std::string& dir,
                 DocumentKind kind) {
  for (const std::string& input : inputs)
    if (input == kStandardStream) return UsageError("Markdown and JSON documents are read from files, not from '-'");
  if (output == kStandardStream || dir == kStandardStream)
    return UsageError("Markdown and JSON documents are written to files, not to '-'");
  const std::string extension = kind == DocumentKind::kMarkdown ? ".md" : ".json";
  if (!dir.empty()) {
    std::error_code error;
    fs::create_directories(Absolute(dir), error);
    if (error) {
      std::cerr << kProgram << " convert: cannot create the output folder '" << Printable(dir)
                << "': " << error.message() << "\n";
      return kExitCantCreate;
    }
  }
  int exitStatus = kExitOk;
  for (const std::string& input : inputs) {
    const std::string target =
        dir.empty() ? Absolute(output) : (fs::path(Absolute(dir)) / (fs::path(input).stem().string() + extension)).string();
    try {
      ExportDocument(Absolute(input), target, kind);
    } catch (const AutomationError& error) {
      std::cerr << kProgram << ": " << Printable(input) << ": " << Printable(ToUtf8(error.description())) << "\n";
      exitStatus = -catalog::kConversionFailed;
    }
  }
  return exitStatus;
}

int RunConvert(const ConvertOptions& options) {
  const bool batch = !options.dir.empty();
  std::vector<std::string> inputs{options.input};
  std::string output;
  if (batch) {
    inputs.insert(inputs.end(), options.more.begin(), options.more.end());
  } else if (options.more.empty()) {
    return UsageError("output is required");
  } else if (options.more.size() > 1) {
    return UsageError("more than one output given; to convert several inputs into a folder use --dir");
  } else {
    output = options.more.front();
  }
  if (const auto document = DocumentKindOf(options, batch, output)) {
    // A document holds every slide with its notes; options that would shape it otherwise are refused
    // rather than ignored.
    const OutputOptions& o = options.output;
    if (options.start || options.end || options.multi || options.numbers || options.notes || options.notesOnly ||
        options.json || o.pixelWidth || o.pixelHeight || o.dotsPerInch || o.jpegQuality || !o.namePattern.empty() ||
        o.hiddenSlides || o.notesPages || o.pdfa)
      return UsageError("Markdown and JSON documents hold every slide and its notes: --start, --end, --multi, "
                        "--numbers, --notes, --notes-only, --json and the picture and PDF options do not apply");
    return RunDocuments(inputs, output, options.dir, *document);
  }

  const auto chosen = ChooseType(options, batch, output);
  if (!chosen) return kExitUsage;
  const std::int32_t type = *chosen;
  if (const std::string problem = OutputOptionsProblem(options.output); !problem.empty()) return UsageError(problem);
  const OutputOptions& o = options.output;
  if ((o.pixelWidth || o.pixelHeight || o.dotsPerInch || o.jpegQuality || !o.namePattern.empty()) &&
      !IsSlidePictureTarget(type))
    return UsageError("--width, --height, --dpi, --jpeg-quality and --name-pattern apply to slide pictures only");
  if (batch && !o.namePattern.empty())
    return UsageError("--name-pattern names the pictures of one input; it cannot be used with --dir");
  if (o.jpegQuality && type != kJpegType) return UsageError("--jpeg-quality applies to JPEG pictures (--type jpg) only");
  if ((o.hiddenSlides || o.notesPages || o.pdfa) && type != kPdfType)
    return UsageError("--hidden-slides, --notes-pages and --pdfa apply to PDF (--type pdf) only");

  // "-" stands for standard input or output: one presentation in, one file out.
  const bool fromStdin = !batch && options.input == kStandardStream;
  const bool toStdout = !batch && output == kStandardStream;
  if (batch) {
    for (const std::string& input : inputs)
      if (input == kStandardStream) return UsageError("'-' (standard input) cannot be one input of a batch (--dir)");
    if (options.dir == kStandardStream) return UsageError("--dir '-' names no folder");
  }
  if (fromStdin || toStdout) {
    // Standard input and output serve the formats written as one file.
    std::int32_t lFiletype = type;
    if (QuorvaneX().FileTypeSupportsSingleFileOutput(lFiletype) == kVariantFalse)
      return UsageError("type '" + options.type + "' is written as several files; '-' serves only formats written "
                        "as one file");
  }
  if (toStdout) {
    if (options.multi) return UsageError("--multi writes several files, which standard output ('-') cannot take");
    if (options.json) return UsageError("--json and '-' as the output would both write to standard output");
  }

  // Name every output before anything is converted: two inputs that would write the same output
  // are a mistake of the command line, not a failure to report after one has overwritten the other.
  std::vector<ConversionJob> jobs;
  if (batch) {
    const fs::path folder = Absolute(options.dir);
    QuorvaneX namer;
    std::map<std::string, std::string> claimed;
    for (const std::string& input : inputs) {
      ConversionJob job{input, Absolute(input), OutputInFolder(namer, folder, input, type)};
      const auto [previous, fresh] = claimed.emplace(job.outputPath, input);
      if (!fresh) {
        return UsageError("'" + previous->second + "' and '" + input + "' would both be written to '" +
                          job.outputPath + "'");
      }
      jobs.push_back(std::move(job));
    }
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
      fs::create_directories(folder, error);
      if (error) {
        std::cerr << kProgram << " convert: cannot create the output folder '" << Printable(options.dir)
                  << "': " << error.message() << "\n";
        return kExitCantCreate;
      }
    }
  } else {
    jobs.push_back(ConversionJob{options.input, Absolute(options.input), Absolute(output)});
  }

  // Standard input and output go through private files of a private folder, removed when the
  // conversion is done and by a signal that ends the command before.
  std::string error;
  std::optional<PrivateFolder> privateFolder =
      fromStdin || toStdout ? PrivateFolder::Make(error) : std::optional<PrivateFolder>();
  std::string privateOutput;
  if (fromStdin || toStdout) {
    if (!privateFolder) {
      std::cerr << kProgram << " convert: " << Printable(error) << "\n";
      return kExitCantCreate;
    }
    if (fromStdin) {
      const auto copy = CopyStandardInput(privateFolder->path(), error);
      if (!copy) {
        std::cerr << kProgram << " convert: " << Printable(error) << "\n";
        return kExitIoError;
      }
      jobs.front().inputPath = *copy;
    }
    if (toStdout) {
      std::int32_t lFiletype = type;
      VariantBool bare = kVariantFalse;
      const std::string extension = ToUtf8(QuorvaneX().LookUpSaveAsExtension(lFiletype, bare));
      privateOutput = privateFolder->path() + "/standard-output" + (extension.empty() ? "" : "." + extension);
      jobs.front().outputPath = privateOutput;
    }
  }

  // Each worker converts on its own control; the renderer's pool grows to as many offices. A
  // variable the user set is left alone unless -j says otherwise.
  const std::size_t workers = static_cast<std::size_t>(options.jobs);
  if (options.jobsGiven || std::getenv(kRenderWorkersVariable) == nullptr)
    ::setenv(kRenderWorkersVariable, std::to_string(workers).c_str(), 1);

  ConversionSettings settings;
  settings.targetFileType = type;
  settings.startSlide = options.start;
  settings.endSlide = options.end;
  settings.multiFileOutput = options.multi;
  settings.showSlideAndShapeNumber = options.numbers;
  settings.includeNotes = options.notes;
  settings.notesOnly = options.notesOnly;
  settings.optimizeForSpeed = !options.noKeepRunning;
  settings.output = options.output;

  std::vector<std::string> names;
  for (const ConversionJob& job : jobs) names.push_back(Printable(fs::path(job.input).filename().string()));
  const bool bar = !options.quiet && (options.progress || ::isatty(STDERR_FILENO) == 1);
  StatusLine status(stderr, bar, std::move(names));
  const LogMark logMark = options.verbose ? MarkLog() : LogMark{};

  // A server of the user's converts when one answers, unless the command shapes the office itself.
  const bool local = options.noServer || options.noKeepRunning || options.limitsGiven;
  const std::string socketPath = service::DefaultSocketPath();
  const auto makeConverter = [local, &socketPath]() -> std::unique_ptr<Converter> {
    if (local) return std::make_unique<service::LocalConverter>();
    return std::make_unique<service::ServerConverter>(socketPath);
  };

  int exitStatus = kExitOk;
  RunConversions(jobs, settings, workers, makeConverter, status, [&](std::size_t index, const ConversionResult& result) {
    const ConversionJob& job = jobs[index];
    // A single conversion keeps the plain "quorvane: error <code>: <message>"; in a batch each
    // message names its input. The cause follows, indented. Names and messages are escaped.
    const std::string who =
        batch ? std::string(kProgram) + ": " + Printable(job.input) + ": " : std::string(kProgram) + ": ";
    std::string messages;
    for (const std::string& reported : result.errors) messages += who + Printable(reported) + "\n";
    if (!result.ok()) messages += CauseLine(result);
    if (!messages.empty()) status.Message(messages);
    if (options.json) {
      std::cout << JsonLine(job, result);
      std::cout.flush();
    }
    if (exitStatus == kExitOk && !result.ok()) {
      // The first failure in input order decides: the code without its sign, 70 for a failed
      // automation call (or a code that is not a catalogue failure).
      exitStatus = !result.failedCall && result.code < 0 && result.code >= -255 ? -result.code : kExitSoftware;
    }
  });
  status.Close();
  if (options.verbose) std::cerr << LogLinesSince(logMark);

  if (toStdout && exitStatus == kExitOk) {
    if (!CopyToStandardOutput(privateOutput, error)) {
      std::cerr << kProgram << " convert: " << Printable(error) << "\n";
      return kExitIoError;
    }
  }
  return exitStatus;
}

}  // namespace

Command AddConvert(CLI::App& root) {
  auto options = std::make_shared<ConvertOptions>();
  CLI::App* app = root.add_subcommand(
      "convert",
      "Convert one presentation into another format, or several into a folder.\n"
      "  quorvane convert INPUT OUTPUT [OPTIONS]\n"
      "  quorvane convert -d DIR --type TYPE INPUT... [OPTIONS]");
  app->add_option("input", options->input, "the presentation to convert; - reads it from standard input")
      ->required()
      ->type_name("FILE");
  app->add_option("output", options->more,
                  "the file to write (- writes it to standard output, for formats written as one file), or the "
                  "name prefix of the files written one per slide; with -d, more inputs")
      ->type_name("FILE");
  app->add_option("-d,--dir", options->dir,
                  "convert every input into this folder (made when missing); each output is named after its "
                  "input with the format's extension, or is the prefix of its slides' files for picture formats")
      ->type_name("DIR");
  app->add_option("-t,--type", options->type,
                  "TargetFileType: a code of 'quorvane formats' or one of " + TypeNames() +
                      "; or md / json for the deck's text and structure as a Markdown or JSON document" +
                      "; without it, the output's extension names the format (an extension that names none of "
                      "these is a usage error)")
      ->type_name("TYPE");
  app->add_option("--start", options->start, "StartSlide: first slide (1-based; 0 for the first)")->type_name("N");
  app->add_option("--end", options->end, "EndSlide: last slide (0 for the last)")->type_name("N");
  app->add_flag("--multi", options->multi, "MultiFileOutput: one output file per slide (or per document)");
  app->add_flag("--numbers", options->numbers, "ShowSlideAndShapeNumber: label the output with slide and shape numbers");
  app->add_flag("--notes", options->notes, "IncludeNotes: include the speaker notes");
  app->add_flag("--notes-only", options->notesOnly, "NotesOnly: only the speaker notes (implies --notes)");
  app->add_flag("--no-keep-running", options->noKeepRunning,
                "OptimizeForSpeed false: end the office engines after each conversion instead of keeping them "
                "warm");
  app->add_flag("--no-server", options->noServer,
                "convert in this process even when 'quorvane serve' runs for this user (without it, a running "
                "server converts, and the command converts itself when none answers)");
  app->add_option("-j,--jobs", options->jobs,
                  "convert N inputs at once, each on its own control and office (default 1)")
      ->type_name("N")
      ->check(CLI::Range(1, kMaxJobs))
      ->each([options](const std::string&) { options->jobsGiven = true; });
  // The offices' bounds are the component's process-wide limits, set as the command line is read.
  app->add_option_function<std::int64_t>(
         "--timeout",
         [options](std::int64_t seconds) {
           options->limitsGiven = true;
           OfficeLimits limits = GetOfficeLimits();
           limits.baseDeadline = std::chrono::seconds(seconds);
           SetOfficeLimits(limits);
         },
         "an office call may take SECONDS plus two seconds per slide it loads or draws (default 120)")
      ->type_name("SECONDS")
      ->check(CLI::Range(1, 86400));
  app->add_option_function<std::uint64_t>(
         "--office-memory",
         [options](std::uint64_t mib) {
           options->limitsGiven = true;
           OfficeLimits limits = GetOfficeLimits();
           limits.memoryBytes = mib << 20;
           SetOfficeLimits(limits);
         },
         "an office that uses more than MIB MiB of memory is stopped and the conversion fails (default 4096)")
      ->type_name("MIB")
      ->check(CLI::Range(1, 1 << 20));
  app->add_option("--width", options->output.pixelWidth,
                  "pictures: width in pixels; without --height the height follows the slide's ratio")
      ->type_name("PIXELS");
  app->add_option("--height", options->output.pixelHeight,
                  "pictures: height in pixels; without --width the width follows the slide's ratio")
      ->type_name("PIXELS");
  app->add_option("--dpi", options->output.dotsPerInch,
                  "pictures: resolution in dots per inch of the slide's size (default 96); not with --width or "
                  "--height")
      ->type_name("N");
  app->add_option("--jpeg-quality", options->output.jpegQuality, "JPEG pictures: quality from 1 to 100")
      ->type_name("N");
  app->add_option_function<std::string>(
         "--name-pattern", [options](const std::string& pattern) { options->output.namePattern = Utf8ToUtf16(pattern); },
         "pictures: name each file by PATTERN instead of OUTPUTSlideN.EXT; {n} is the slide number, {n:03} the "
         "same zero-padded to 3 digits; a relative name is taken in the folder of OUTPUT")
      ->type_name("PATTERN");
  app->add_flag("--hidden-slides", options->output.hiddenSlides, "PDF: include the hidden slides");
  app->add_flag("--notes-pages", options->output.notesPages, "PDF: the notes pages instead of the slides");
  app->add_flag("--pdfa", options->output.pdfa, "PDF: write PDF/A-2b for archiving");
  app->add_flag("--json", options->json,
                "print one JSON object per input on standard output: input, output, code, error, cause "
                "({number, description} or null), seconds, slides");
  app->add_flag("-q,--quiet", options->quiet, "no progress bar");
  app->add_flag("-v,--verbose", options->verbose,
                "after the conversions, show the diagnostic log's path and the lines they added to it");
  app->add_flag("--progress", options->progress, "show the progress bar even when standard error is not a terminal");
  app->footer(
      "Progress is shown on standard error when it is a terminal. Failures are printed as\n"
      "'quorvane: error <code>: <message>' (in a batch: 'quorvane: INPUT: error <code>: <message>'), followed\n"
      "by '  cause: <description> (<number>)', what the conversion met; control characters in names are\n"
      "shown escaped (\\n, \\e, \\xHH). Results come in input order. The picture and text exports also log\n"
      "each failure in Quorvane.log beside libquorvane.so (-v shows its path and the new lines).\n"
      "Exit status: 0 when every input converted, else the code of the first failure without its sign (70 a\n"
      "failed automation call); 64 usage error; 73 the output folder cannot be made; 74 standard input or\n"
      "output cannot be read or written.\n"
      "Examples:\n"
      "  quorvane convert deck.pptx deck.pdf\n"
      "  quorvane convert deck.pptx deck --type png                      # deckSlide1.PNG, ...\n"
      "  quorvane convert deck.pptx out/deck --type png --width 640 --name-pattern 'slide-{n:03}.png'\n"
      "  quorvane convert deck.pptx deck.pdf --notes-pages --pdfa\n"
      "  quorvane convert deck.pptx deck.txt --notes --numbers           # text for search indexing\n"
      "  quorvane convert deck.pptx part.pptx --start 2 --end 4 --numbers\n"
      "  quorvane convert - - --type pdf < deck.pptx > deck.pdf\n"
      "  quorvane convert -d pdf --type pdf -j 2 decks/*.pptx\n"
      "  quorvane convert -d txt --type txt --json decks/*.pptx > results.jsonl");
  return {app, [options] { return RunConvert(*options); }};
}

}  // namespace quorvane::cli
