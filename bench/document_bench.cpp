// Markdown and JSON documents of the generated 500-slide deck against the text export of the same
// deck: time (median of several runs) and peak resident memory of each, every run in a child
// process of its own so that one run's peak does not hide another's. The documents should take at
// most three times the text export's time; the summary prints the ratios.
//
// Usage: quorvane_document_bench [RUNS] (default 5)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "quorvane/control.hpp"
#include "quorvane/documents.hpp"

namespace {

namespace fs = std::filesystem;

struct Measure {
  double seconds = 0;
  long peakKb = 0;
};

// Runs `job` in a child process; its wall time and its peak resident set.
Measure InChild(const std::function<bool()>& job) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) ::_exit(job() ? 0 : 1);
  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "a run failed\n");
    std::exit(1);
  }
  return {seconds, usage.ru_maxrss};
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const fs::path dir = fs::temp_directory_path() / ("quorvane-document-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string deck = (dir / "generated.pptx").string();
  quorvane::engines::pptx::builder::Write(quorvane::engines::pptx::builder::Generated(500), deck);

  struct Kind {
    const char* name;
    std::function<bool()> job;
  };
  const Kind kinds[] = {
      {"text export (200)",
       [&] {
         quorvane::QuorvaneX control;
         control.put_InputFile(quorvane::text::FromUtf8(deck));
         control.put_OutputFile(quorvane::text::FromUtf8((dir / "out.txt").string()));
         control.put_TargetFileType(200);
         control.put_IncludeNotes(quorvane::kVariantTrue);
         return control.ConvertFile() == 0;
       }},
      {"markdown",
       [&] {
         quorvane::ExportDocument(deck, (dir / "out.md").string(), quorvane::DocumentKind::kMarkdown);
         return true;
       }},
      {"json",
       [&] {
         quorvane::ExportDocument(deck, (dir / "out.json").string(), quorvane::DocumentKind::kJson);
         return true;
       }},
  };
  std::printf("%-20s %12s %12s %10s\n", "kind", "median_s", "peak_rss_mb", "x_text");
  double textSeconds = 0;
  for (const Kind& kind : kinds) {
    std::vector<double> times;
    long peak = 0;
    for (int i = 0; i < runs; ++i) {
      const Measure m = InChild(kind.job);
      times.push_back(m.seconds);
      peak = std::max(peak, m.peakKb);
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    if (textSeconds == 0) textSeconds = median;
    std::printf("%-20s %12.3f %12.1f %10.2f\n", kind.name, median, static_cast<double>(peak) / 1024.0,
                median / textSeconds);
  }
  fs::remove_all(dir);
  return 0;
}
