#include "common/numbered_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <map>
#include <utility>
#include <mutex>

#include "common/failures.hpp"
#include "common/output_file.hpp"
#include "common/text.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::files {
namespace {

struct Entry {
  int fd = -1;
  dev_t device = 0;
  ino_t inode = 0;
};

std::mutex mutex;
std::array<Entry, kMaxFileNumber + 1> table;  // index 0 unused

// Files under a ReadHold, by device and inode, with their hold counts.
std::mutex holdsMutex;
std::map<std::pair<std::uint64_t, std::uint64_t>, int> holds;

bool Held(const struct stat& file) {
  std::lock_guard lock(holdsMutex);
  return holds.contains({static_cast<std::uint64_t>(file.st_dev), static_cast<std::uint64_t>(file.st_ino)});
}

[[noreturn]] void Fail(std::int32_t number) { throw failure::Error(number); }

// The platform's text for the number, then what was found, so that whoever reads the failure sees
// its cause: "Path/File access error: \"out.txt\" is read-only".
[[noreturn]] void Fail(std::int32_t number, const std::string& path, const std::string& reason) {
  throw AutomationError(number, std::u16string(failure::Description(number)) + u": \"" + text::FromUtf8(path) +
                                    u"\" " + text::FromUtf8(reason));
}

// A failure of a write or close (opens fail through ThrowRunTimeError).
[[noreturn]] void FailFromErrno(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      Fail(failure::kDiskFull);
    case EMFILE:
    case ENFILE:
      Fail(failure::kTooManyFiles);
    case EIO:
      Fail(failure::kDeviceIoError);
    default:
      break;
  }
  Fail(failure::kPathFileAccessError);
}

Entry& Slot(std::int16_t number) {
  if (number < 1 || number > kMaxFileNumber) Fail(failure::kBadFileNameOrNumber);
  return table[static_cast<std::size_t>(number)];
}

// The checks of Open that need no descriptor; the caller holds `mutex`.
void CheckLocked(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos)
    Fail(failure::kPathFileAccessError);
  // The same file may not be open twice for writing: check before anything is created or cut.
  // (Devices and pipes may be written by many.)
  struct stat existing {};
  if (::stat(name.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) Fail(failure::kPathFileAccessError, name, "is a folder");
    if (Held(existing))
      Fail(failure::kPermissionDenied, name, "is a presentation open for reading");
    if (S_ISREG(existing.st_mode)) {
      for (const auto& other : table)
        if (other.fd >= 0 && other.device == existing.st_dev && other.inode == existing.st_ino)
          Fail(failure::kFileAlreadyOpen, name, "is open for writing already");
    }
  }
  try {
    output::ResolveTarget(name);
  } catch (const output::OutputError& error) {
    ThrowRunTimeError(error);
  }
}

}  // namespace

void ThrowRunTimeError(const output::OutputError& error) {
  const std::string& path = error.path();
  const std::string reason = "cannot be written: " + error.reason();
  switch (error.cause()) {
    case output::Cause::kFolderMissing: Fail(failure::kPathNotFound, path, reason);
    case output::Cause::kNameTooLong: Fail(failure::kBadFileName, path, reason);
    case output::Cause::kDiskFull: Fail(failure::kDiskFull, path, reason);
    case output::Cause::kNoReader: Fail(failure::kDeviceIoError, path, reason);
    case output::Cause::kWriteFailed:
      if (error.error() == EMFILE || error.error() == ENFILE) Fail(failure::kTooManyFiles, path, reason);
      if (error.error() == EIO) Fail(failure::kDeviceIoError, path, reason);
      break;
    default: break;
  }
  Fail(failure::kPathFileAccessError, path, reason);
}

void CheckForWriting(std::u16string_view path) {
  std::lock_guard lock(mutex);
  CheckLocked(text::ToUtf8(path));
}

std::int16_t FreeFile() {
  std::lock_guard lock(mutex);
  for (std::int16_t n = 1; n <= kMaxFileNumber; ++n)
    if (table[static_cast<std::size_t>(n)].fd < 0) return n;
  Fail(failure::kTooManyFiles);
}

void Open(std::int16_t number, std::u16string_view path, OpenMode mode) {
  std::lock_guard lock(mutex);
  Entry& entry = Slot(number);
  if (entry.fd >= 0) Fail(failure::kFileAlreadyOpen);
  const std::string name = text::ToUtf8(path);
  CheckLocked(name);
  int fd = -1;
  try {
    fd = output::OpenInPlace(name, mode == OpenMode::Append);
  } catch (const output::OutputError& error) {
    ThrowRunTimeError(error);
  }
  struct stat opened {};
  ::fstat(fd, &opened);
  entry = {fd, opened.st_dev, opened.st_ino};
}

void Write(std::int16_t number, std::string_view bytes) {
  std::lock_guard lock(mutex);
  Entry& entry = Slot(number);
  if (entry.fd < 0) Fail(failure::kBadFileNameOrNumber);
  while (!bytes.empty()) {
    const ssize_t n = ::write(entry.fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      FailFromErrno(errno);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void Close(std::int16_t number) {
  std::lock_guard lock(mutex);
  if (number < 1 || number > kMaxFileNumber) return;
  Entry& entry = table[static_cast<std::size_t>(number)];
  if (entry.fd < 0) return;
  const int fd = entry.fd;
  entry = {};
  if (::close(fd) != 0 && errno != EINTR) FailFromErrno(errno);
}

ReadHold::ReadHold(const std::string& path) {
  struct stat file {};
  if (path.empty() || ::stat(path.c_str(), &file) != 0) return;
  device_ = static_cast<std::uint64_t>(file.st_dev);
  inode_ = static_cast<std::uint64_t>(file.st_ino);
  std::lock_guard lock(holdsMutex);
  ++holds[{device_, inode_}];
  held_ = true;
}

ReadHold::~ReadHold() {
  if (!held_) return;
  std::lock_guard lock(holdsMutex);
  const auto it = holds.find({device_, inode_});
  if (it != holds.end() && --it->second == 0) holds.erase(it);
}

bool IsHeldForReading(const std::string& path) {
  struct stat file {};
  return !path.empty() && ::stat(path.c_str(), &file) == 0 && Held(file);
}

bool IsOpen(std::int16_t number) {
  std::lock_guard lock(mutex);
  return number >= 1 && number <= kMaxFileNumber && table[static_cast<std::size_t>(number)].fd >= 0;
}

}  // namespace quorvane::files
