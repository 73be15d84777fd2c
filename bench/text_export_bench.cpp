// Text export throughput of the native engine against its floor.
//
// For each deck (a generated 500-slide deck and every Office Open XML deck of the corpus that
// opens and has slides):
// - export/<deck>: one text export through the control (code 200, notes included, no numbers)
//   into a temporary file, as a host runs it;
// - floor/<deck>: what no export can avoid: open the package, inflate the slide and notes parts
//   of the slide list (Package::ReadPart) and parse each (xml::Document::Parse), one at a time.
// Both report MB (10^6 bytes) of slide XML per second, the uncompressed size of those same slide
// and notes parts. A summary after the runs gives the ratio export / floor per deck and the memory
// one export needs: the peak of parsed XML held at once (pugixml's allocations, counted here) and
// the growth of the process's peak resident set during one export.
//
// Usage: quorvane_text_export_bench [google benchmark flags], e.g.
//   --benchmark_filter=generated   only the generated deck
//   --benchmark_min_time=0.2       shorter runs
// The corpus folder comes from QUORVANE_CORPUS_DIR (environment, else the build's default).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "diagnostics/log.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/package.hpp"
#include "engines/pptx/xml.hpp"
#include "quorvane/control.hpp"

namespace {

namespace fs = std::filesystem;
namespace pptx = quorvane::engines::pptx;

// --- Counting the parsed XML alive ------------------------------------------------------------
// pugixml allocates every document's memory through these; the engine does not set its own.

std::atomic<std::int64_t> xmlLive{0};
std::atomic<std::int64_t> xmlPeak{0};

void* CountedAllocate(std::size_t size) {
  void* block = std::malloc(size);
  if (block == nullptr) return nullptr;
  const std::int64_t now = xmlLive += static_cast<std::int64_t>(malloc_usable_size(block));
  std::int64_t peak = xmlPeak.load();
  while (now > peak && !xmlPeak.compare_exchange_weak(peak, now)) {
  }
  return block;
}

void CountedDeallocate(void* block) {
  if (block == nullptr) return;
  xmlLive -= static_cast<std::int64_t>(malloc_usable_size(block));
  std::free(block);
}

// --- Resident memory --------------------------------------------------------------------------

// A field of /proc/self/status in kB ("VmRSS", "VmHWM"); 0 when unreadable.
std::int64_t StatusKb(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::atoll(line.c_str() + field.size() + 1);
  }
  return 0;
}

// Gives freed heap back to the system and restarts the peak resident set from the current one;
// false when the kernel does not allow resetting the peak.
bool ResetPeakRss() {
  malloc_trim(0);
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

// --- Decks ------------------------------------------------------------------------------------

struct Deck {
  std::string name;
  fs::path path;
  std::vector<std::string> parts;  // slide and notes parts, in slide order
  std::uint64_t xmlBytes = 0;      // their uncompressed size
  std::size_t slides = 0;
  std::uint64_t largestPart = 0;
};

// The slide parts of the slide list (p:sldIdLst) and each slide's notes part, as the export reads
// them. Throws what the package and XML layers throw.
void FindParts(Deck& deck) {
  const auto package = pptx::Package::Open(deck.path.string());
  std::string presentation;
  for (const auto& rel : package->Relationships("/")) {
    if (rel.type == pptx::builder::rel_type::kOfficeDocument && !rel.partName.empty()) presentation = rel.partName;
  }
  if (presentation.empty()) throw std::runtime_error("no presentation part");
  const auto relationships = package->Relationships(presentation);
  const auto document = pptx::xml::Document::Parse(package->ReadPart(presentation), presentation);
  for (const auto& id : pptx::xml::ChildrenNamed(pptx::xml::Path(document->root(), "p:sldIdLst"), "p:sldId")) {
    const std::string_view rid = pptx::xml::Attr(id, "r:id");
    for (const auto& rel : relationships) {
      if (rel.id != rid || rel.type != pptx::builder::rel_type::kSlide || !package->HasPart(rel.partName)) continue;
      deck.parts.push_back(rel.partName);
      ++deck.slides;
      for (const auto& notes : package->Relationships(rel.partName)) {
        if (notes.type == pptx::builder::rel_type::kNotesSlide && package->HasPart(notes.partName)) {
          deck.parts.push_back(notes.partName);
          break;
        }
      }
      break;
    }
  }
  for (const auto& part : deck.parts) {
    const std::uint64_t size = package->ReadPart(part).size();
    deck.xmlBytes += size;
    deck.largestPart = std::max(deck.largestPart, size);
  }
}

fs::path TempDir() {
  static const fs::path dir = fs::temp_directory_path() / ("qv-bench-" + std::to_string(::getpid()));
  return dir;
}

// The generated deck and every corpus deck that opens and has slides; what is left out is said.
std::vector<Deck> Decks() {
  std::vector<Deck> decks;
  Deck generated{"generated-500", TempDir() / "generated-500.pptx", {}, 0, 0, 0};
  pptx::builder::Write(pptx::builder::Generated(500), generated.path.string());
  FindParts(generated);
  decks.push_back(generated);

  const char* env = std::getenv("QUORVANE_CORPUS_DIR");
  const fs::path corpus = env != nullptr ? fs::path(env) : fs::path(QUORVANE_CORPUS_DIR);
  std::vector<fs::path> files;
  if (fs::is_directory(corpus)) {
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
      const std::string extension = entry.path().extension().string();
      if (entry.is_regular_file() && (extension == ".pptx" || extension == ".ppsx" || extension == ".pptm"))
        files.push_back(entry.path());
    }
  } else {
    std::cerr << "corpus not found at " << corpus << ": only the generated deck is measured\n";
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    Deck deck{fs::relative(file, corpus).generic_string(), file, {}, 0, 0, 0};
    try {
      FindParts(deck);
    } catch (const std::exception&) {
      std::cerr << "skipped " << deck.name << ": does not open\n";
      continue;
    }
    if (deck.slides == 0) {
      std::cerr << "skipped " << deck.name << ": no slides\n";
      continue;
    }
    decks.push_back(std::move(deck));
  }
  return decks;
}

// --- The two loops ----------------------------------------------------------------------------

// One text export of the whole deck; false (with the control's message) when it fails.
bool Export(quorvane::QuorvaneX& control, const Deck& deck, std::string* error = nullptr) {
  control.put_InputFile(quorvane::text::FromUtf8(deck.path.string()));
  control.put_OutputFile(quorvane::text::FromUtf8((TempDir() / "out.txt").string()));
  control.put_TargetFileType(200);
  control.put_StartSlide(0);
  control.put_EndSlide(0);
  control.put_IncludeNotes(quorvane::kVariantTrue);
  control.put_ShowSlideAndShapeNumber(quorvane::kVariantFalse);
  if (control.ConvertFile() == 0) return true;
  if (error != nullptr) *error = quorvane::text::ToUtf8(control.get_ErrorString());
  return false;
}

void SetCounters(benchmark::State& state, const Deck& deck) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * deck.xmlBytes));
  state.counters["MB/s"] =
      benchmark::Counter(static_cast<double>(deck.xmlBytes) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["slides"] = static_cast<double>(deck.slides);
}

void BenchExport(benchmark::State& state, const Deck* deck) {
  quorvane::QuorvaneX control;  // kept across iterations, as a host with OptimizeForSpeed does
  for (auto _ : state) {
    std::string error;
    if (!Export(control, *deck, &error)) {
      state.SkipWithError(("export failed: " + error).c_str());
      return;
    }
  }
  SetCounters(state, *deck);
}

void BenchFloor(benchmark::State& state, const Deck* deck) {
  for (auto _ : state) {
    const auto package = pptx::Package::Open(deck->path.string());
    for (const auto& part : deck->parts) {
      auto document = pptx::xml::Document::Parse(package->ReadPart(part), part);
      benchmark::DoNotOptimize(document);
    }
  }
  SetCounters(state, *deck);
}

// --- Summary ----------------------------------------------------------------------------------

struct Memory {
  double xmlPeakKb = 0;     // parsed XML alive at once during one export
  double rssGrowthKb = -1;  // peak resident set during one export over the resident set before it
};

Memory MeasureMemory(quorvane::QuorvaneX& control, const Deck& deck) {
  Memory memory;
  const bool canReset = ResetPeakRss();
  const std::int64_t before = StatusKb("VmRSS");
  xmlPeak = xmlLive.load();
  const std::int64_t xmlBefore = xmlLive.load();
  Export(control, deck);
  memory.xmlPeakKb = static_cast<double>(xmlPeak.load() - xmlBefore) / 1024.0;
  if (canReset) memory.rssGrowthKb = static_cast<double>(StatusKb("VmHWM") - before);
  return memory;
}

// Collects the runs while the console reporter prints them, then prints one line per deck.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter(const std::vector<Deck>& decks, std::map<std::string, Memory> memory)
      : decks_(decks), memory_(std::move(memory)) {}

  // With repetitions, the mean of the repetitions stands for the benchmark.
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (run.error_occurred) continue;
      const bool mean = run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean";
      if (run.run_type == Run::RT_Aggregate && !mean) continue;
      const auto rate = run.counters.find("MB/s");
      if (rate == run.counters.end()) continue;
      const std::string name = run.run_name.str();
      if (mean || !means_.count(name)) rates_[name] = rate->second.value;
      if (mean) means_.insert(name);
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-58s %7s %9s %10s %10s %6s %11s %11s %11s\n", "deck", "slides", "XML MB", "export MB/s",
                "floor MB/s", "ratio", "largest KB", "XML peak KB", "RSS grow KB");
    for (const auto& deck : decks_) {
      const auto exported = rates_.find("export/" + deck.name);
      const auto floor = rates_.find("floor/" + deck.name);
      if (exported == rates_.end() || floor == rates_.end()) continue;
      const Memory& memory = memory_[deck.name];
      std::printf("%-58s %7zu %9.3f %10.1f %10.1f %6.2f %11.1f %11.1f %11.0f\n", deck.name.c_str(), deck.slides,
                  static_cast<double>(deck.xmlBytes) / 1e6, exported->second, floor->second,
                  floor->second / exported->second, static_cast<double>(deck.largestPart) / 1024.0, memory.xmlPeakKb,
                  memory.rssGrowthKb);
    }
  }

 private:
  const std::vector<Deck>& decks_;
  std::map<std::string, Memory> memory_;
  std::map<std::string, double> rates_;
  std::set<std::string> means_;
};

// Whether --benchmark_filter selects the export or the floor of `deck` (a leading "-" negates).
bool Selected(const Deck& deck) {
  std::string filter = benchmark::GetBenchmarkFilter();
  if (filter.empty() || filter == "all" || filter == ".") return true;
  const bool negated = filter[0] == '-';
  if (negated) filter.erase(0, 1);
  const std::regex pattern(filter);
  const bool matches =
      std::regex_search("export/" + deck.name, pattern) || std::regex_search("floor/" + deck.name, pattern);
  return matches != negated;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  std::setlocale(LC_CTYPE, "C.UTF-8");  // the ANSI text of code 200 as UTF-8, as the tool runs
  pugi::set_memory_management_functions(CountedAllocate, CountedDeallocate);
  fs::create_directories(TempDir());
  quorvane::diagnostics::SetLogFolderForTesting(quorvane::text::FromUtf8(TempDir().string()));

  const std::vector<Deck> decks = Decks();
  std::map<std::string, Memory> memory;
  {
    quorvane::QuorvaneX control;
    for (const auto& deck : decks) {
      if (!Selected(deck)) continue;
      Export(control, deck);  // warm: the application starts, the first file is read once
      memory[deck.name] = MeasureMemory(control, deck);
    }
  }
  for (const auto& deck : decks) {
    benchmark::RegisterBenchmark(("export/" + deck.name).c_str(), BenchExport, &deck)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("floor/" + deck.name).c_str(), BenchFloor, &deck)->Unit(benchmark::kMillisecond);
  }
  SummaryReporter reporter(decks, std::move(memory));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  fs::remove_all(TempDir());
  return 0;
}
