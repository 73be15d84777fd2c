// The diagnostic log beside the component's library file.
#include "diagnostics/log.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <mutex>
#include <vector>

#include "common/numbered_files.hpp"
#include "common/platform.hpp"
#include "common/text.hpp"
#include "common/ansi.hpp"

namespace quorvane::diagnostics {
namespace {

std::mutex overrideMutex;
std::optional<std::u16string> folderOverride;

std::u16string Digits(int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  return text::FromUtf8(buffer);
}

}  // namespace

std::u16string ComponentFolder() { return platform::ComponentFolder(); }

void SetLogFolderForTesting(std::optional<std::u16string> folder) {
  std::lock_guard lock(overrideMutex);
  folderOverride = std::move(folder);
}

std::u16string LogFolder() {
  {
    std::lock_guard lock(overrideMutex);
    if (folderOverride) return *folderOverride;
  }
  return ComponentFolder();
}

std::u16string JoinLogPath(std::u16string_view folder, std::u16string_view fileName) {
  std::u16string path(folder);
  // A drive's root ("C:\\") already ends in its separator.
  if (path.empty() || (path.back() != u'/' && path.back() != platform::kPathSeparator)) path += platform::kPathSeparator;
  path += fileName;
  return path;
}

std::u16string FormatLogLine(const std::tm& when, std::u16string_view message) {
  std::u16string line = Digits(when.tm_mday, 2);
  line += u'-';
  line += platform::MonthAbbreviation(when);
  line += u'-';
  line += Digits(when.tm_year + 1900, 4);
  line += u", ";
  line += platform::TimeOfDay(when);
  line += u" : ";
  // A name in the message (a file name can hold any character but "/" and NUL) must neither end
  // the line early, forging a line of its own, nor send a terminal that shows the log escape
  // sequences: control characters are written as visible escapes.
  line += text::Printable(message);
  return line;
}

// Best effort, never failing towards the caller: each step is guarded on its own, its failure is
// ignored and the next step runs. The line is written and the file closed only when this call
// opened it: when number 2 is taken, the file open under it belongs to someone else (the text
// writer draws its numbers from the same table) and must be neither written to nor closed.
void WriteLog(const std::u16string& logFileName, const std::u16string& message) {
  std::u16string path;
  try {
    // Without a known folder there is nowhere beside the component to write to.
    const std::u16string folder = LogFolder();
    if (!folder.empty()) path = JoinLogPath(folder, logFileName);
  } catch (...) {
  }

  bool opened = false;
  try {
    if (!path.empty()) {
      files::Open(kLogFileNumber, path, files::OpenMode::Append);
      opened = true;
    }
  } catch (...) {
  }

  // Date and time come from one reading of the clock, so that a line written at midnight does
  // not carry one day's date with the next day's time.
  std::string line;
  try {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (platform::LocalTime(now, local)) line = ansi::FromUtf16(FormatLogLine(local, message)) + "\r\n";
  } catch (...) {
  }

  try {
    if (opened && !line.empty()) files::Write(kLogFileNumber, line);
  } catch (...) {
  }

  try {
    if (opened) files::Close(kLogFileNumber);
  } catch (...) {
  }
}

}  // namespace quorvane::diagnostics
