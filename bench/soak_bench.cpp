// Soak: many conversions of real and hostile decks through the command, with its offices killed
// or stopped at random, and a count of everything that must never happen.
//
// Each run converts one input (a corpus deck, or a hostile deck written by the test support's
// makers) to text, PDF or a legacy presentation with `quorvane convert`, into an output file that
// holds a known old content. While it runs, one of four things happens to it at random: nothing;
// its office is killed (SIGKILL); its office is stopped (SIGSTOP, so that only the deadline ends
// it); the command itself is interrupted (SIGINT). Afterwards the bench checks:
// - the result: converted (exit 0 and a new output), failed with a catalogue code (exit 1 to 18,
//   or the signal's status after SIGINT), or a fault (any other status, a hang past the watchdog);
// - the output: after a failure it still holds the old content byte for byte (an interrupted run
//   may also have put a whole new output in place just before the signal came);
// - leftovers: every file the run left in its private temporary folder or beside the output, and
//   every process still alive after the command ended (the bench is the subreaper of the
//   command's descendants, so an office that outlived it is seen).
// Peak memory is the largest resident size of the command and its descendants together, sampled
// every 50 ms.
//
// Usage: quorvane_soak_bench [runs] [seed]   (default 100 runs, seed 1). The command is the
// build's `quorvane` (QUORVANE_CLI), the corpus QUORVANE_CORPUS_DIR. Exits 1 when any fault,
// damaged output, leftover file or leftover process was seen.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "deckmaker/hostile_decks.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kWatchdog = std::chrono::seconds(300);
constexpr const char* kOldContent = "old output: must survive a failed conversion\n";

// Corpus decks of the three families, each converting in a few seconds.
const char* const kCorpusDecks[] = {
    "docling/powerpoint_sample.pptx", "docx4j/AutoShapes.pptx",          "markitdown/test.pptx",
    "officeparser/test.odp",          "openxml-sdk/O12Typical.pptx",     "poi/SampleShow.ppt",
    "poi/alterman_security.ppt",      "poi/layouts.pptx",                "poi/with_japanese.pptx",
    "python-pptx/shp-shapes.pptx",    "shapecrawler/002.pptx",           "tika/testPPT_various2.pptx",
};

struct Target {
  const char* type;
  const char* extension;
};
const Target kTargets[] = {{"txt", "txt"}, {"pdf", "pdf"}, {"ppt", "ppt"}};

enum class Disruption { None, KillOffice, StopOffice, Interrupt };
const char* Name(Disruption d) {
  switch (d) {
    case Disruption::None: return "none";
    case Disruption::KillOffice: return "office killed";
    case Disruption::StopOffice: return "office stopped";
    case Disruption::Interrupt: return "command interrupted";
  }
  return "?";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Parent of `pid` and its resident size in KiB, from /proc; false when it is gone or has ended
// (a zombie waiting to be collected).
bool ProcessInfo(pid_t pid, pid_t& parent, long& rssKiB, std::string& name) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  if (!status) return false;
  parent = 0;
  rssKiB = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Name:", 0) == 0) name = line.substr(line.find_first_not_of(" \t", 5));
    if (line.rfind("PPid:", 0) == 0) parent = std::stoi(line.substr(5));
    if (line.rfind("VmRSS:", 0) == 0) rssKiB = std::stol(line.substr(6));
    if (line.rfind("State:", 0) == 0 && line.find('Z') != std::string::npos) return false;
  }
  return true;
}

struct Process {
  pid_t pid;
  long rssKiB;
  std::string name;
};

// Every process below `root` (the bench itself, as subreaper, collects orphans).
std::vector<Process> Descendants(pid_t root) {
  std::map<pid_t, std::pair<pid_t, Process>> all;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    pid_t parent = 0;
    long rss = 0;
    std::string command;
    if (ProcessInfo(pid, parent, rss, command)) all[pid] = {parent, Process{pid, rss, command}};
  }
  std::vector<Process> found;
  std::set<pid_t> inside{root};
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& [pid, entry] : all) {
      if (!inside.contains(pid) && inside.contains(entry.first)) {
        inside.insert(pid);
        found.push_back(entry.second);
        grew = true;
      }
    }
  }
  return found;
}

// Folders and files a run left behind in `folder` (and below, one level).
std::vector<std::string> Leftovers(const fs::path& folder, const std::set<std::string>& expected) {
  std::vector<std::string> left;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename();
    if (!expected.contains(name)) left.push_back(entry.path().string());
  }
  return left;
}

// Whether `output`, written by a run that was interrupted, is a whole conversion of `input` (the
// signal came after the output was put in place): text equal to an undisturbed conversion, a PDF
// with its end marker, a compound file of whole sectors.
bool IsWholeOutput(const fs::path& quorvane, const fs::path& input, const fs::path& output, const Target& target,
                   const fs::path& scratch) {
  const std::string bytes = ReadFile(output);
  if (std::string(target.type) == "pdf")
    return bytes.rfind("%PDF-", 0) == 0 && bytes.find("%%EOF", bytes.size() > 64 ? bytes.size() - 64 : 0) != std::string::npos;
  if (std::string(target.type) == "ppt")
    return bytes.rfind("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 0) == 0 && bytes.size() % 512 == 0;
  const fs::path reference = scratch / "reference.txt";
  const std::string command = "'" + quorvane.string() + "' convert '" + input.string() + "' '" + reference.string() +
                              "' --type txt --quiet >/dev/null 2>&1";
  const bool same = std::system(command.c_str()) == 0 && ReadFile(reference) == bytes;
  fs::remove(reference);
  return same;
}

struct Totals {
  int converted = 0, failedWithCode = 0, faults = 0, damaged = 0, leftoverFiles = 0, leftoverProcesses = 0;
  long peakKiB = 0;
  double seconds = 0;
  std::map<std::string, int> byDisruption;
};

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 100;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1u;
  const fs::path quorvane = QUORVANE_CLI;
  const fs::path corpus = QUORVANE_CORPUS_DIR;
  if (!fs::exists(quorvane) || !fs::is_directory(corpus)) {
    std::cerr << "soak: needs the command at " << quorvane << " and the corpus at " << corpus << "\n";
    return 2;
  }
  // Orphaned descendants of the command come to the bench, so that none escapes the count.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  signal(SIGPIPE, SIG_IGN);
  setvbuf(stdout, nullptr, _IOLBF, 0);  // one line per run, as it ends

  char pattern[] = "/tmp/quorvane-soak-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 2;
  const fs::path work = pattern;
  const fs::path in = work / "in", out = work / "out", tmp = work / "tmp";
  fs::create_directories(in);
  fs::create_directories(out);
  fs::create_directories(tmp);

  std::vector<fs::path> inputs;
  for (const char* deck : kCorpusDecks)
    if (fs::exists(corpus / deck)) inputs.push_back(corpus / deck);
  const std::size_t corpusCount = inputs.size();
  for (const auto& deck : quorvane::testing::hostile::HostileDecks()) {
    const fs::path folder = in / deck.name;  // each in a folder of its own: the names may repeat
    fs::create_directories(folder);
    deck.write((folder / deck.fileName).string());
    inputs.push_back(folder / deck.fileName);
  }
  if (corpusCount == 0 || inputs.size() == corpusCount) {
    std::cerr << "soak: no corpus decks or no hostile decks\n";
    return 2;
  }

  std::mt19937 random(seed);
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  Totals totals;
  const auto started = Clock::now();

  for (int run = 1; run <= runs; ++run) {
    const fs::path input = pick(10) < 7 ? inputs[pick(corpusCount)] : inputs[corpusCount + pick(inputs.size() - corpusCount)];
    const Target target = kTargets[pick(std::size(kTargets))];
    const auto disruption = static_cast<Disruption>(pick(4));
    const fs::path output = out / ("run" + std::to_string(run) + "." + target.extension);
    std::ofstream(output, std::ios::binary) << kOldContent;

    const pid_t child = fork();
    if (child == 0) {
      setenv("TMPDIR", tmp.c_str(), 1);
      setpgid(0, 0);
      const int null = ::open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execl(quorvane.c_str(), "quorvane", "convert", input.c_str(), output.c_str(), "--type", target.type,
            "--timeout", "5", "--quiet", static_cast<char*>(nullptr));
      _exit(127);
    }
    const auto begin = Clock::now();
    const auto strikeAt = begin + std::chrono::milliseconds(300 + pick(2500));
    bool struck = disruption == Disruption::None;
    int status = 0;
    bool hung = false;
    for (;;) {
      const pid_t done = waitpid(child, &status, WNOHANG);
      if (done == child) break;
      const auto processes = Descendants(getpid());
      long rss = 0;
      for (const Process& p : processes) rss += p.rssKiB;
      totals.peakKiB = std::max(totals.peakKiB, rss);
      if (!struck && Clock::now() >= strikeAt) {
        for (const Process& p : processes) {
          if (disruption == Disruption::Interrupt && p.pid == child) {
            kill(child, SIGINT);
            struck = true;
          } else if (disruption != Disruption::Interrupt && p.name.rfind("soffice", 0) == 0) {
            kill(p.pid, disruption == Disruption::KillOffice ? SIGKILL : SIGSTOP);
            struck = true;
          }
        }
        if (!struck && disruption != Disruption::Interrupt) struck = true;  // no office in this run
      }
      if (Clock::now() - begin > kWatchdog) {
        hung = true;
        kill(-child, SIGKILL);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // Orphans the command left (it is gone): count and end them. Ended ones are collected first.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    const auto orphans = Descendants(getpid());
    for (const Process& p : orphans) std::printf("     left running: %d %s\n", p.pid, p.name.c_str());
    for (const Process& p : orphans) {
      kill(p.pid, SIGCONT);
      kill(p.pid, SIGKILL);
    }
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }

    const bool exited = WIFEXITED(status);
    const int code = exited ? WEXITSTATUS(status) : -1;
    const bool interrupted = WIFSIGNALED(status) && WTERMSIG(status) == SIGINT && disruption == Disruption::Interrupt;
    const std::string now = ReadFile(output);
    std::string verdict;
    if (!hung && exited && code == 0 && !now.empty() && now != kOldContent) {
      ++totals.converted;
      verdict = "converted";
    } else if (!hung && ((exited && code >= 1 && code <= 18) || interrupted)) {
      ++totals.failedWithCode;
      verdict = interrupted ? "interrupted" : "failed " + std::to_string(code);
      if (interrupted && now != kOldContent && IsWholeOutput(quorvane, input, output, target, work)) {
        verdict += " after its output was in place";
      } else if (now != kOldContent) {
        ++totals.damaged;
        verdict += ", OUTPUT DAMAGED";
      }
    } else {
      ++totals.faults;
      verdict = hung ? "HUNG" : "FAULT status " + std::to_string(status);
    }
    const auto files = Leftovers(tmp, {});
    const std::set<std::string> outputs = [&] {
      std::set<std::string> names;
      for (int r = 1; r <= run; ++r)
        for (const Target& t : kTargets) names.insert("run" + std::to_string(r) + "." + t.extension);
      return names;
    }();
    const auto besideOutput = Leftovers(out, outputs);
    totals.leftoverFiles += static_cast<int>(files.size() + besideOutput.size());
    totals.leftoverProcesses += static_cast<int>(orphans.size());
    totals.byDisruption[Name(disruption)]++;
    std::printf("%3d  %-5s %-20s %-50s %s%s%s\n", run, target.type, Name(disruption),
                input.filename().string().substr(0, 50).c_str(), verdict.c_str(),
                files.empty() && besideOutput.empty() ? "" : ", LEFTOVER FILES",
                orphans.empty() ? "" : ", LEFTOVER PROCESSES");
    for (const auto& f : files) fs::remove_all(f);
    for (const auto& f : besideOutput) fs::remove_all(f);
  }
  totals.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  fs::remove_all(work);

  std::printf("\nruns %d in %.0f s (seed %u): converted %d, failed with a code %d, faults %d\n", runs, totals.seconds,
              seed, totals.converted, totals.failedWithCode, totals.faults);
  std::printf("outputs damaged %d, leftover files %d, leftover processes %d, peak memory %.0f MiB\n", totals.damaged,
              totals.leftoverFiles, totals.leftoverProcesses, static_cast<double>(totals.peakKiB) / 1024.0);
  for (const auto& [name, count] : totals.byDisruption) std::printf("  %s: %d\n", name.c_str(), count);
  return totals.faults + totals.damaged + totals.leftoverFiles + totals.leftoverProcesses == 0 ? 0 : 1;
}
