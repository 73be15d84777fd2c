// Cost of conversions through the Word stand-in: a generated 50-slide deck (notes on some slides)
// converted with slides and notes through one QuorvaneX with OptimizeForSpeed on, for every Word
// format the catalogue and the stand-in serve, as one document and as one document per slide.
// Prints per row the wall time and the bytes written (all files of the row). The first row also
// pays for starting the office; it is run once untimed first.
//
// Usage: quorvane_word_bench [slides]   (default 50). Files go to a private folder under the
// temporary directory, removed at the end. Exits non-zero when a conversion fails.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/text.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "quorvane/control.hpp"

namespace {

namespace fs = std::filesystem;
namespace builder = quorvane::engines::pptx::builder;
using Clock = std::chrono::steady_clock;

std::uintmax_t FolderBytes(const fs::path& folder) {
  std::uintmax_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) total += entry.file_size();
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const int slides = argc > 1 ? std::atoi(argv[1]) : 50;
  const fs::path root = fs::temp_directory_path() / ("quorvane-word-bench-" + std::to_string(getpid()));
  fs::create_directories(root);
  const fs::path deck = root / "deck.pptx";
  builder::Write(builder::Generated(slides), deck.string());

  quorvane::QuorvaneX control;
  control.put_OptimizeForSpeed(quorvane::kVariantTrue);
  auto convert = [&](std::int32_t code, const fs::path& out, bool multi) {
    control.put_InputFile(quorvane::text::FromUtf8(deck.string()));
    control.put_OutputFile(quorvane::text::FromUtf8(out.string()));
    control.put_TargetFileType(code);
    control.put_MultiFileOutput(multi ? quorvane::kVariantTrue : quorvane::kVariantFalse);
    control.put_IncludeNotes(quorvane::kVariantTrue);
    control.put_NotesOnly(quorvane::kVariantFalse);
    return control.ConvertFile();
  };

  struct Row {
    std::int32_t code;
    const char* what;
    const char* extension;
  };
  const Row rows[] = {
      {101, ".dot (101)", "doc"}, {106, "RTF (106)", "rtf"},   {108, "HTML (108)", "htm"},
      {112, ".docx (112)", "docx"}, {117, "PDF (117)", "pdf"}, {123, ".odt (123)", "odt"},
      {102, "text (102)", "txt"},
  };
  // Warm-up: starts the office.
  if (convert(112, root / "warm.docx", false) != 0) return 1;
  std::printf("%d slides, slides and notes\n%-14s %10s %12s %10s %12s\n", slides, "format", "one doc s",
              "one doc KB", "per slide s", "per slide KB");
  for (const auto& row : rows) {
    double seconds[2];
    std::uintmax_t bytes[2];
    for (const bool multi : {false, true}) {
      const fs::path folder = root / (std::to_string(row.code) + (multi ? "-multi" : ""));
      fs::create_directories(folder);
      const auto start = Clock::now();
      if (convert(row.code, folder / (std::string("out.") + row.extension), multi) != 0) {
        std::fprintf(stderr, "code %d failed: %s\n", row.code, quorvane::text::ToUtf8(control.get_ErrorString()).c_str());
        return 1;
      }
      seconds[multi] = std::chrono::duration<double>(Clock::now() - start).count();
      bytes[multi] = FolderBytes(folder);
    }
    std::printf("%-14s %10.2f %12ju %10.2f %12ju\n", row.what, seconds[0], bytes[0] / 1024, seconds[1],
                bytes[1] / 1024);
  }
  fs::remove_all(root);
  return 0;
}
