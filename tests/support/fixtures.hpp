#pragma once
// Small fixtures the tests share: a locale for one test, a file that even root cannot write, and one
// conversion through a control.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <clocale>
#include <cstdint>
#include <filesystem>
#include <string>

#include "common/text.hpp"
#include "quorvane/control.hpp"

namespace quorvane::testing {

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

}  // namespace quorvane::testing
