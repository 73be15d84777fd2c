// quorvane: the command-line host of the conversion control.
//
// Each subcommand is a pair of functions: AddX registers it with the parser and owns its options,
// RunX does its work on a control of its own and returns the exit status. Everything written to
// standard output is UTF-8, tab-separated, one header line first and nothing after the last row,
// so that scripts can read it; messages for people go to standard error.
//
// Exit status: 0 success, 64 a command line the tool does not understand, 70 an internal failure,
// 74 standard output could not be written.
#include <CLI/CLI.hpp>

#include <charconv>
#include <clocale>
#include <cstdint>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "command.hpp"
#include "output.hpp"
#include "quorvane/catalog.hpp"
#include "quorvane/control.hpp"
#include "quorvane/documents.hpp"

#include "quorvane/version.hpp"
#include "signals.hpp"

namespace quorvane::cli {
namespace {

std::string YesNo(VariantBool value) { return value != kVariantFalse ? "yes" : "no"; }
std::string TrueFalse(VariantBool value) { return value != kVariantFalse ? "true" : "false"; }

// Shortest text that reads back as the same double, independent of the locale ("0", "12", "14.5").
std::string FormatNumber(double value) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (error != std::errc{}) throw std::logic_error("number does not fit its buffer");
  return std::string(buffer, end);
}

// ---- formats --------------------------------------------------------------------------------

struct FormatsOptions {
  bool shortList = false;
};

// The control's answers for `code`, as one row of the formats table.
std::vector<std::string> FormatRow(QuorvaneX& control, std::int32_t position, std::int32_t code,
                                   std::u16string_view description) {
  std::int32_t lFiletype = code;
  VariantBool bare = kVariantFalse;
  VariantBool wildcard = kVariantTrue;
  const std::u16string extension = control.LookUpSaveAsExtension(lFiletype, bare);
  const std::u16string pattern = control.LookUpSaveAsExtension(lFiletype, wildcard);
  const VariantBool singleFile = control.FileTypeSupportsSingleFileOutput(lFiletype);
  return {std::to_string(position), std::to_string(code), ToUtf8(extension), ToUtf8(pattern), YesNo(singleFile),
          ToUtf8(description)};
}

// The list the control offers a host (the long one unless an installed PowerPoint is older than
// 2007), or with --short the short list, described by the catalogue and answered by the control.
int RunFormats(const FormatsOptions& options) {
  QuorvaneX control;
  Table table({"position", "code", "extension", "wildcard", "single_file", "description"});
  if (options.shortList) {
    std::int32_t position = 0;
    for (const auto& entry : catalog::FileTypeList(false))
      table.AddRow(FormatRow(control, ++position, entry.code, entry.description));
  } else {
    const Variant count = control.get_lNumberOfFileTypes();
    if (!count.is_integer()) throw std::logic_error("the control's number of file types is not an integer");
    for (std::int32_t position = 1; position <= count.integer(); ++position) {
      std::u16string sFileType;
      std::int32_t lFiletype = 0;
      control.GetFileType(position, sFileType, lFiletype);
      table.AddRow(FormatRow(control, position, lFiletype, sFileType));
    }
  }
  WriteTsv(std::cout, table);
  return kExitOk;
}

Command AddFormats(CLI::App& root) {
  auto options = std::make_shared<FormatsOptions>();
  CLI::App* app = root.add_subcommand("formats", "List the output formats a host can choose from.");
  app->add_flag("--short", options->shortList,
                "List the 24 formats offered under a PowerPoint older than 2007 instead");
  app->footer(
      "Columns: position, code, extension, wildcard, single_file (yes/no), description.\n"
      "Example:\n"
      "  quorvane formats --short | cut -f2,3");
  return {app, [options] { return RunFormats(*options); }};
}

// ---- errors ---------------------------------------------------------------------------------

// Every code of the error catalogue with the control's message for it. The control's own count
// (GetAllPossibleErrorsCount) says 17, yet -18 exists: the list follows the catalogue, all 18.
int RunErrors() {
  QuorvaneX control;
  Table table({"code", "message"});
  for (const auto& entry : catalog::Errors()) {
    Variant intErrorNumber(entry.code);
    table.AddRow({std::to_string(entry.code), ToUtf8(control.GetErrorString(intErrorNumber))});
  }
  WriteTsv(std::cout, table);
  return kExitOk;
}

Command AddErrors(CLI::App& root) {
  CLI::App* app = root.add_subcommand("errors", "List the result codes of a failed conversion with their messages.");
  app->footer(
      "Columns: code, message.\n"
      "Example:\n"
      "  quorvane errors | grep '^-5'");
  return {app, [] { return RunErrors(); }};
}

// ---- info -----------------------------------------------------------------------------------

struct InfoOptions {
  std::vector<std::string> decks;
  bool json = false;
};

std::string Joined(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (const std::string& item : items) {
    if (!out.empty()) out += separator;
    out += item;
  }
  return out;
}

std::string Numbers(const std::vector<std::int32_t>& numbers) {
  std::vector<std::string> items;
  for (const std::int32_t n : numbers) items.push_back(std::to_string(n));
  return Joined(items, ",");
}

// One record per deck; a deck that cannot be read is reported in its record and makes the exit
// status 1 once every deck has been told about.
int RunInfo(const InfoOptions& options) {
  Table table({"path", "status", "slides", "hidden", "width_pt", "height_pt", "width_px", "height_px", "notes",
               "media", "fonts", "application", "titles", "error"});
  int exitStatus = kExitOk;
  for (const std::string& deck : options.decks) {
    const DeckInspection info = Inspect(deck);
    if (!info.ok) exitStatus = 1;
    if (options.json) {
      std::cout << InspectionJson(info) << "\n";
      continue;
    }
    std::vector<std::string> titles;
    for (const std::string& title : info.titles) titles.push_back(Printable(title));
    const std::string status = info.ok ? "ok" : info.encrypted ? "encrypted" : "damaged";
    table.AddRow({Printable(deck), status, std::to_string(info.slideCount), Numbers(info.hiddenSlides),
                  FormatNumber(info.widthPoints), FormatNumber(info.heightPoints), std::to_string(info.widthPixels),
                  std::to_string(info.heightPixels), info.slidesWithNotes.empty() ? "no" : "yes",
                  Printable(Joined(info.media, ",")), Printable(Joined(info.fonts, ",")), Printable(info.application),
                  Joined(titles, " | "), Printable(info.error)});
  }
  if (!options.json) WriteTsv(std::cout, table);
  return exitStatus;
}

Command AddInfo(CLI::App& root) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* app = root.add_subcommand("info", "Tell what presentations hold: slides, size, titles, notes, media, "
                                              "fonts, and whether a file is encrypted or damaged.");
  app->add_option("deck", options->decks, "Presentation files")->required()->type_name("DECK");
  app->add_flag("--json", options->json, "One JSON object per deck and line instead of the table");
  app->footer(
      "Columns: path, status (ok, encrypted, damaged), slides, hidden (slide numbers), width_pt, height_pt, "
      "width_px, height_px, notes (yes/no), media (parts), fonts, application, titles (' | '), error.\n"
      "Exit status 1 when any deck could not be read; the others are still reported.\n"
      "Example:\n"
      "  quorvane info decks/*.pptx --json");
  return {app, [options] { return RunInfo(*options); }};
}

// ---- version --------------------------------------------------------------------------------

// The component's version and what the control finds out about PowerPoint. Without PowerPoint the
// version text is empty, its number 0, and both thresholds answer true.
int RunVersion() {
  QuorvaneX control;
  std::u16string sPowerPointVersion;
  const double number = control.PowerPointVersion(sPowerPointVersion);
  Table table({"key", "value"});
  table.AddRow({"component", quorvane_library_version()});
  table.AddRow({"powerpoint_version", ToUtf8(sPowerPointVersion)});
  table.AddRow({"powerpoint_version_number", FormatNumber(number)});
  table.AddRow({"at_least_2007", TrueFalse(control.PowerPointVersionAtLeast2007())});
  table.AddRow({"at_least_2010", TrueFalse(control.PowerPointVersionAtLeast2010())});
  WriteTsv(std::cout, table);
  return kExitOk;
}

Command AddVersion(CLI::App& root) {
  CLI::App* app = root.add_subcommand("version", "Show the component's version and the PowerPoint version it finds.");
  app->footer(
      "Keys: component, powerpoint_version, powerpoint_version_number, at_least_2007, at_least_2010.\n"
      "Example:\n"
      "  quorvane version | awk -F'\\t' '$1 == \"at_least_2007\" { print $2 }'");
  return {app, [] { return RunVersion(); }};
}

// ---- command line ---------------------------------------------------------------------------

// Flushes standard output; a status of a command whose output did not reach its reader becomes 74.
int FlushOutput(int status) {
  if (std::cout.flush()) return status;
  std::cerr << kProgram << ": cannot write to standard output\n";
  return kExitIoError;
}

// "quorvane" or "quorvane formats": how a message names the command it is about.
std::string CommandPath(const CLI::App* app) {
  std::string path = app->get_name();
  for (const CLI::App* parent = app->get_parent(); parent != nullptr; parent = parent->get_parent())
    path = parent->get_name() + " " + path;
  return path;
}

// Reports a command line the parser rejected and returns the usage status. An argument left over
// is named as an unknown subcommand, an unknown option or an unexpected argument, from the first
// command along the chosen path that left one over; other rejections keep the parser's message.
int ReportUsageError(CLI::App& root, const CLI::ParseError& error) {
  const CLI::App* where = &root;
  std::string message = error.what();
  for (const CLI::App* app = &root; app != nullptr;) {
    const std::vector<std::string> left = app->remaining();
    if (!left.empty()) {
      const std::string& argument = left.front();
      where = app;
      if (argument.starts_with('-'))
        message = "unknown option '" + argument + "'";
      else if (app == &root)
        message = "unknown subcommand '" + argument + "'";
      else
        message = "unexpected argument '" + argument + "'";
      break;
    }
    const auto chosen = app->get_subcommands();
    app = chosen.empty() ? nullptr : chosen.front();
    if (app != nullptr) where = app;
  }
  const std::string path = CommandPath(where);
  std::cerr << path << ": " << Printable(message) << "\nRun '" << path << " --help' for usage.\n";
  return kExitUsage;
}

int Main(int argc, char** argv) {
  CLI::App root("Host of the Quorvane presentation conversion control: converts presentations, and lists the "
                "output formats, the error messages and the version that the control reports.",
                std::string(kProgram));
  root.require_subcommand(0, 1);
  root.footer(
      "Output is UTF-8, tab-separated, with a header line.\n"
      "Exit status: 0 success, 64 usage error, 70 internal failure, 74 output not written.\n"
      "Examples:\n"
      "  quorvane formats\n"
      "  quorvane errors\n"
      "  quorvane version\n"
      "  quorvane convert deck.pptx deck.txt --notes\n"
      "  quorvane info deck.pptx\n"
      "  quorvane serve --port 8080\n"
      "  quorvane formats --help");

  const std::vector<Command> commands{AddFormats(root), AddErrors(root), AddVersion(root), AddConvert(root), AddInfo(root),
                                       AddServe(root)};

  try {
    root.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << root.help();  // the help of the subcommand that asked for it
    return FlushOutput(kExitOk);
  } catch (const CLI::ParseError& error) {
    return ReportUsageError(root, error);
  }

  for (const Command& command : commands) {
    if (command.app->parsed()) return FlushOutput(command.run());
  }
  std::cerr << root.help();
  return kExitUsage;
}

}  // namespace
}  // namespace quorvane::cli

int main(int argc, char** argv) {
  // The user's regional settings: the character set of text files, number formats, month names.
  std::setlocale(LC_ALL, "");
  // Before any thread starts: an interrupted conversion leaves no office or temporary file behind.
  quorvane::cli::EndCleanlyOnSignals();
  try {
    return quorvane::cli::Main(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << quorvane::cli::kProgram << ": internal error: " << error.what() << "\n";
  } catch (...) {
    std::cerr << quorvane::cli::kProgram << ": internal error\n";
  }
  return quorvane::cli::kExitSoftware;
}
