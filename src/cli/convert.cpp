// quorvane convert: one input to one output, or many inputs into a folder, through the control like
// any host (properties, ConvertFile, the Progress and onerror events).
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
#include "quorvane/control.hpp"
#include "quorvane/office_limits.hpp"
#include "quorvane/utf.hpp"
#include "status_line.hpp"

namespace quorvane::cli {
namespace {

namespace fs = std::filesystem;

// The renderer's pool of office processes takes its size from this variable when the process first
// uses it: -j N conversions at once need N offices.
constexpr const char* kRenderWorkersVariable = "QUORVANE_RENDER_WORKERS";
constexpr int kMaxJobs = 64;

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
std::optional<std::int32_t> TypeFromExtension(const fs::path& output) {
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
  int jobs = 1;
  bool jobsGiven = false;
  bool json = false;
  bool quiet = false;
  bool progress = false;
};

// A host with a file dialog passes absolute names; relative ones are made absolute here.
std::string Absolute(const std::string& name) {
  return name.empty() ? name : fs::absolute(fs::path(name)).lexically_normal().string();
}

int UsageError(const std::string& message, const std::string& hint = "usage") {
  std::cerr << kProgram << " convert: " << message << "\nRun '" << kProgram << " convert --help' for " << hint
            << ".\n";
  return kExitUsage;
}

// The targets the control exports slide by slide as pictures (GIF, JPG, PNG, BMP, TIF, EMF): their
// OutputFile is the prefix of the pictures' names. WMF and MHT, which the catalogue also lists as
// not single-file, are saved as one file.
bool IsSlidePictureTarget(std::int32_t type) {
  return (type >= 16 && type <= 19) || type == 21 || type == 100;
}

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

// One line of --json output. Paths that are not valid UTF-8 are written with U+FFFD in place of
// the bytes that are not.
std::string JsonLine(const ConversionJob& job, const ConversionResult& result) {
  const nlohmann::ordered_json line{
      {"input", job.input},
      {"output", job.outputPath},
      {"code", result.code},
      {"error", result.errorText},
      {"seconds", std::round(result.seconds * 1000.0) / 1000.0},
      {"slides", result.slides},
  };
  return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
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

  std::int32_t type = 6;  // the control's default
  if (!options.type.empty()) {
    const auto parsed = ParseType(options.type);
    if (!parsed) return UsageError("unknown type '" + options.type + "'", "the names");
    type = *parsed;
  } else if (batch) {
    return UsageError("--dir needs --type: the outputs' format cannot be told from their names");
  } else if (const auto guessed = TypeFromExtension(output)) {
    type = *guessed;
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
        std::cerr << kProgram << " convert: cannot create the output folder '" << options.dir
                  << "': " << error.message() << "\n";
        return kExitCantCreate;
      }
    }
  } else {
    jobs.push_back(ConversionJob{options.input, Absolute(options.input), Absolute(output)});
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

  std::vector<std::string> names;
  for (const ConversionJob& job : jobs) names.push_back(fs::path(job.input).filename().string());
  const bool bar = !options.quiet && (options.progress || ::isatty(STDERR_FILENO) == 1);
  StatusLine status(stderr, bar, std::move(names));

  int exitStatus = kExitOk;
  RunConversions(jobs, settings, workers, status, [&](std::size_t index, const ConversionResult& result) {
    const ConversionJob& job = jobs[index];
    // A single conversion keeps the plain "quorvane: error <code>: <message>"; in a batch each
    // message names its input.
    const std::string who = batch ? std::string(kProgram) + ": " + job.input + ": " : std::string(kProgram) + ": ";
    std::string messages;
    for (const std::string& error : result.errors) messages += who + error + "\n";
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
  app->add_option("input", options->input, "the presentation to convert")->required()->type_name("FILE");
  app->add_option("output", options->more,
                  "the file to write, or the name prefix of the files written one per slide; with -d, more "
                  "inputs")
      ->type_name("FILE");
  app->add_option("-d,--dir", options->dir,
                  "convert every input into this folder (made when missing); each output is named after its "
                  "input with the format's extension, or is the prefix of its slides' files for picture formats")
      ->type_name("DIR");
  app->add_option("-t,--type", options->type,
                  "TargetFileType: a code of 'quorvane formats' or one of pptx pptm potx potm ppsx ppsm ppt pot "
                  "pps pdf xps odp rtf htm mht wmf emf gif jpg png bmp tif doc word-rtf word-htm txt utf16; "
                  "without it, the output's extension decides where it names one of these (else 6, rtf)")
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
  app->add_option("-j,--jobs", options->jobs,
                  "convert N inputs at once, each on its own control and office (default 1)")
      ->type_name("N")
      ->check(CLI::Range(1, kMaxJobs))
      ->each([options](const std::string&) { options->jobsGiven = true; });
  // The offices' bounds are the component's process-wide limits, set as the command line is read.
  app->add_option_function<std::int64_t>(
         "--timeout",
         [](std::int64_t seconds) {
           OfficeLimits limits = GetOfficeLimits();
           limits.baseDeadline = std::chrono::seconds(seconds);
           SetOfficeLimits(limits);
         },
         "an office call may take SECONDS plus two seconds per slide it loads or draws (default 120)")
      ->type_name("SECONDS")
      ->check(CLI::Range(1, 86400));
  app->add_option_function<std::uint64_t>(
         "--office-memory",
         [](std::uint64_t mib) {
           OfficeLimits limits = GetOfficeLimits();
           limits.memoryBytes = mib << 20;
           SetOfficeLimits(limits);
         },
         "an office that uses more than MIB MiB of memory is stopped and the conversion fails (default 4096)")
      ->type_name("MIB")
      ->check(CLI::Range(1, 1 << 20));
  app->add_flag("--json", options->json,
                "print one JSON object per input on standard output: input, output, code, error, seconds, slides");
  app->add_flag("-q,--quiet", options->quiet, "no progress bar");
  app->add_flag("--progress", options->progress, "show the progress bar even when standard error is not a terminal");
  app->footer(
      "Progress is shown on standard error when it is a terminal. Failures are printed as\n"
      "'quorvane: error <code>: <message>' (in a batch: 'quorvane: INPUT: error <code>: <message>'); results\n"
      "come in input order. Exit status: 0 when every input converted, else the code of the first failure\n"
      "without its sign (70 a failed automation call); 64 usage error; 73 the output folder cannot be made.\n"
      "Examples:\n"
      "  quorvane convert deck.pptx deck.pdf\n"
      "  quorvane convert deck.pptx deck --type png                      # deckSlide1.PNG, ...\n"
      "  quorvane convert deck.pptx deck.txt --notes --numbers           # text for search indexing\n"
      "  quorvane convert deck.pptx part.pptx --start 2 --end 4 --numbers\n"
      "  quorvane convert -d pdf --type pdf -j 2 decks/*.pptx\n"
      "  quorvane convert -d txt --type txt --json decks/*.pptx > results.jsonl");
  return {app, [options] { return RunConvert(*options); }};
}

}  // namespace quorvane::cli
