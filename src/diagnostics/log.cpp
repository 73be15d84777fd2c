// The diagnostic log beside the component's library file.
#include "diagnostics/log.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <mutex>
#include <vector>

#include "common/numbered_files.hpp"
#include "common/text.hpp"
#include "common/ansi.hpp"

namespace quorvane::diagnostics {
namespace {

std::mutex overrideMutex;
std::optional<std::u16string> folderOverride;

// The program's own file, for when the loader names the program rather than a library.
std::string ProgramFile() {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

// One strftime conversion (`format` holds one directive) in the locale's wide characters; empty
// when the locale gives nothing or something unreasonably long.
std::u16string FormatTime(const wchar_t* format, const std::tm& when) {
  for (std::size_t size = 64; size <= 4096; size *= 4) {
    std::vector<wchar_t> buffer(size);
    const std::size_t n = std::wcsftime(buffer.data(), buffer.size(), format, &when);
    if (n > 0) return text::FromWide(std::wstring_view(buffer.data(), n));
  }
  return {};
}

std::u16string Digits(int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  return text::FromUtf8(buffer);
}

}  // namespace

std::u16string ComponentFolder() {
  // The loader names the object that holds this function: libquorvane.so when the component is
  // loaded as a library; the program itself (as it was started: argv[0]) when the core is linked
  // into a program. For the program, /proc/self/exe is the reliable name.
  Dl_info info{};
  std::string file;
  if (::dladdr(reinterpret_cast<void*>(&ComponentFolder), &info) != 0 && info.dli_fname != nullptr)
    file = info.dli_fname;
  if (file.empty() || file.find('/') == std::string::npos || file == program_invocation_name) file = ProgramFile();
  if (file.empty()) return {};
  std::error_code error;
  // A relative name is the loader's, taken against the current folder.
  std::filesystem::path path = std::filesystem::absolute(file, error);
  if (error) return {};
  return text::FromUtf8(path.parent_path().native());
}

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
  if (path.empty() || path.back() != u'/') path += u'/';
  path += fileName;
  return path;
}

std::u16string FormatLogLine(const std::tm& when, std::u16string_view message) {
  std::u16string line = Digits(when.tm_mday, 2);
  line += u'-';
  line += FormatTime(L"%b", when);
  line += u'-';
  line += Digits(when.tm_year + 1900, 4);
  line += u", ";
  line += FormatTime(L"%X", when);
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
    if (::localtime_r(&now, &local) != nullptr) line = ansi::FromUtf16(FormatLogLine(local, message)) + "\r\n";
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
