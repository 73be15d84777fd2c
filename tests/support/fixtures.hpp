#pragma once
// What the tests share, one copy each: a scratch folder, whole-file reads and writes, the corpus and
// where it is, a command's output, a PDF's page count, a locale for one test, a file that even root
// cannot write, and one conversion through a control.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "common/text.hpp"
#include "quorvane/automation_error.hpp"
#include "quorvane/control.hpp"

namespace quorvane::testing {

namespace fs = std::filesystem;

// A fresh folder of the test's own, removed with everything in it on destruction.
class TempFolder {
 public:
  TempFolder() {
    std::string name = (fs::temp_directory_path() / "quorvane-test-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = name;
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& path() const { return path_; }
  fs::path operator/(const fs::path& name) const { return path_ / name; }

 private:
  fs::path path_;
};

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const fs::path& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
}

// What a shell command prints on its standard output.
inline std::string CommandOutput(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

// The page count pdfinfo reports for `pdf`, or -1 when it reports none.
inline int PdfPageCount(const fs::path& pdf) {
  const std::string info = CommandOutput("pdfinfo '" + pdf.string() + "' 2>/dev/null");
  const auto at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

// The test corpus: $QUORVANE_CORPUS_DIR when set, else shared/corpus beside the repository.
inline fs::path CorpusDir() {
  if (const char* dir = std::getenv("QUORVANE_CORPUS_DIR"); dir != nullptr && *dir != '\0') return dir;
  return QUORVANE_CORPUS_DIR;
}

inline bool CorpusPresent() { return fs::exists(CorpusDir() / "MANIFEST.tsv"); }

inline std::string CorpusMissing() {
  return "needs the corpus, which is not at " + CorpusDir().string() +
         " (set QUORVANE_CORPUS_DIR to where it is)";
}

// Every deck the corpus manifest lists, as full paths, in the manifest's order.
inline std::vector<fs::path> CorpusDecks() {
  std::vector<fs::path> decks;
  std::ifstream manifest(CorpusDir() / "MANIFEST.tsv");
  std::string line;
  std::getline(manifest, line);  // the heading
  while (std::getline(manifest, line))
    if (const auto tab = line.find('\t'); tab != std::string::npos && tab > 0)
      decks.push_back(CorpusDir() / line.substr(0, tab));
  return decks;
}

// Switches one locale category (all of them by default) for one test and puts the previous
// setting back. ok() is false when the locale is not installed.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name, int category = LC_ALL)
      : category_(category), previous_(std::setlocale(category, nullptr)) {
    ok_ = std::setlocale(category, name) != nullptr;
  }
  ~ScopedLocale() { std::setlocale(category_, previous_.c_str()); }
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;
  bool ok() const { return ok_; }

 private:
  int category_;
  std::string previous_;
  bool ok_ = false;
};

// Makes a file immutable, which stops root as well (permission bits do not); undone on
// destruction. ok() is false where the file system cannot set the flag.
class ImmutableFile {
 public:
  explicit ImmutableFile(const std::filesystem::path& path) : path_(path) { ok_ = Set(true); }
  ~ImmutableFile() {
    if (ok_) Set(false);
  }
  ImmutableFile(const ImmutableFile&) = delete;
  ImmutableFile& operator=(const ImmutableFile&) = delete;
  bool ok() const { return ok_; }

 private:
  bool Set(bool on) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
      flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
  }
  std::filesystem::path path_;
  bool ok_ = false;
};

// What one conversion asks of the control besides its files and code.
struct ConvertOptions {
  std::int32_t start = 1;
  std::int32_t end = 9999;
  bool multi = false;
  bool notes = false;
  bool notesOnly = false;
};

// Sets every conversion property of `control` (none is left from an earlier conversion) and converts.
inline std::int32_t ConvertWith(QuorvaneX& control, const std::filesystem::path& input,
                                const std::filesystem::path& output, std::int32_t code, ConvertOptions o = {}) {
  const auto flag = [](bool on) { return on ? kVariantTrue : kVariantFalse; };
  control.put_InputFile(text::FromUtf8(input.string()));
  control.put_OutputFile(text::FromUtf8(output.string()));
  control.put_TargetFileType(code);
  control.put_StartSlide(o.start);
  control.put_EndSlide(o.end);
  control.put_MultiFileOutput(flag(o.multi));
  control.put_IncludeNotes(flag(o.notes));
  control.put_NotesOnly(flag(o.notesOnly));
  return control.ConvertFile();
}

// The manifest's note on a corpus deck (its last column: what the file is and holds), or empty.
inline std::string CorpusNote(const std::filesystem::path& deck) {
  std::ifstream manifest(CorpusDir() / "MANIFEST.tsv");
  for (std::string line; std::getline(manifest, line);)
    if (const auto tab = line.find('\t'); tab != std::string::npos && CorpusDir() / line.substr(0, tab) == deck)
      return line.substr(line.rfind('\t') + 1);
  return {};
}

// --- Office tests: a thrown failure's number, an environment variable for one test, a host's events ---

// Runs `call`; the number of the AutomationError it threw (its description into `description`), or
// 0 when it threw none.
inline std::int32_t ThrownNumber(const std::function<void()>& call, std::string* description = nullptr) {
  try {
    call();
  } catch (const AutomationError& e) {
    if (description != nullptr) *description = text::ToUtf8(e.description());
    return e.number();
  }
  return 0;
}

// The same, with the description as the failure holds it.
inline std::int32_t ThrownNumber(const std::function<void()>& call, std::u16string* description) {
  try {
    call();
  } catch (const AutomationError& e) {
    *description = e.description();
    return e.number();
  }
  return 0;
}

// Sets an environment variable for as long as the object lives.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// What a control told its host: the percentage at each Progress event and each onerror's number and
// text. onProgress, when set, runs in each Progress handler with the number of events so far.
struct EventRecorder : QuorvaneXEvents {
  explicit EventRecorder(QuorvaneX& x) : control(&x) {}
  void Progress() override {
    progress.push_back(control->get_PercentageComplete());
    if (onProgress) onProgress(progress.size());
  }
  void onerror(std::int32_t& number, std::u16string& description) override {
    errors.push_back(number);
    texts.push_back(text::ToUtf8(description));
  }
  QuorvaneX* control;
  std::function<void(std::size_t)> onProgress;
  std::vector<float> progress;
  std::vector<std::int32_t> errors;
  std::vector<std::string> texts;
};

// Width and height a PNG's header gives; {0, 0} when `bytes` is no PNG.
inline std::pair<std::uint32_t, std::uint32_t> PngSize(std::string_view bytes) {
  if (bytes.size() < 24 || bytes.substr(0, 8) != "\x89PNG\r\n\x1A\n") return {0, 0};
  const auto at = [&](std::size_t i) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) v = (v << 8) | static_cast<unsigned char>(bytes[i + k]);
    return v;
  };
  return {at(16), at(20)};
}

// The messages of the diagnostic log at `path` (what follows each line's date and time), in order.
inline std::vector<std::string> LogMessages(const fs::path& path) {
  std::vector<std::string> messages;
  const std::string log = ReadFile(path);
  for (std::size_t start = 0, end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::size_t colon = log.find(" : ", start);
    EXPECT_LT(colon, end) << "malformed log line: " << log.substr(start, end - start);
    messages.push_back(colon < end ? log.substr(colon + 3, end - colon - 3) : log.substr(start, end - start));
  }
  return messages;
}

}  // namespace quorvane::testing

// Skips the test when the corpus is missing (saying where it looked), or fails it under CI, where the
// corpus must be there.
#define QUORVANE_NEEDS_CORPUS()                                                      \
  do {                                                                               \
    if (!::quorvane::testing::CorpusPresent()) {                                     \
      if (std::getenv("CI") != nullptr) FAIL() << ::quorvane::testing::CorpusMissing(); \
      GTEST_SKIP() << ::quorvane::testing::CorpusMissing();                          \
    }                                                                                \
  } while (false)
