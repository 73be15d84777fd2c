#include "common/numbered_files.hpp"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <map>
#include <utility>
#include <mutex>

#include "common/failures.hpp"
#include "common/output_file.hpp"
#include "common/platform.hpp"
#include "common/text.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::files {
namespace {

struct Entry {
  int fd = -1;
  platform::FileId id;
};

std::mutex mutex;
std::array<Entry, kMaxFileNumber + 1> table;  // index 0 unused

// Files under a ReadHold, by device and file number, with their hold counts.
std::mutex holdsMutex;
std::map<std::pair<std::uint64_t, std::uint64_t>, int> holds;

bool Held(const std::optional<platform::FileId>& file) {
  std::lock_guard lock(holdsMutex);
  return file && holds.contains({file->device, file->file});
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
  if (platform::IsDiskFull(error)) Fail(failure::kDiskFull);
  switch (error) {
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
  if (platform::Stat(name, existing) == 0) {
    if (S_ISDIR(existing.st_mode)) Fail(failure::kPathFileAccessError, name, "is a folder");
    const std::optional<platform::FileId> id = platform::IdentifyFile(name);
    if (Held(id))
      Fail(failure::kPermissionDenied, name, "is a presentation open for reading");
    if (S_ISREG(existing.st_mode) && id) {
      for (const auto& other : table)
        if (other.fd >= 0 && other.id == *id) Fail(failure::kFileAlreadyOpen, name, "is open for writing already");
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
  entry = {fd, platform::IdentifyFile(fd).value_or(platform::FileId{})};
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
  const std::optional<platform::FileId> file = path.empty() ? std::nullopt : platform::IdentifyFile(path);
  if (!file) return;
  device_ = file->device;
  inode_ = file->file;
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
  return !path.empty() && Held(platform::IdentifyFile(path));
}

bool IsOpen(std::int16_t number) {
  std::lock_guard lock(mutex);
  return number >= 1 && number <= kMaxFileNumber && table[static_cast<std::size_t>(number)].fd >= 0;
}

}  // namespace quorvane::files
