// The platform seam on Linux and the other POSIX systems.
#include "common/platform.hpp"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <cwchar>
#include <system_error>
#include <vector>

#include "common/text.hpp"

static_assert(quorvane::platform::kCloseOnExec == O_CLOEXEC && quorvane::platform::kNoFollow == O_NOFOLLOW &&
              quorvane::platform::kNonBlock == O_NONBLOCK && quorvane::platform::kNoCtty == O_NOCTTY);

namespace quorvane::platform {
namespace {

// The program's own file, for when the loader names the program rather than a library.
std::string ProgramFile() {
  std::vector<char> buffer(4096);
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

FileId FromStat(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace

int Open(const std::string& path, int flags, int mode) { return ::open(path.c_str(), flags | O_CLOEXEC, mode); }
int Stat(const std::string& path, struct stat& info) { return ::stat(path.c_str(), &info); }
int StatLink(const std::string& path, struct stat& info) { return ::lstat(path.c_str(), &info); }

ssize_type ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
  return ::pread(fd, buffer, size, static_cast<off_t>(offset));
}
ssize_type WriteAt(int fd, const void* buffer, std::size_t size, std::uint64_t offset) {
  return ::pwrite(fd, buffer, size, static_cast<off_t>(offset));
}
int Truncate(int fd, std::uint64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)); }
int Sync(int fd) { return ::fsync(fd); }

int SetBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags < 0 ? -1 : ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

std::optional<FileId> IdentifyFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FromStat(st);
}

std::optional<FileId> IdentifyFile(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return FromStat(st);
}

bool MakeUniqueFolder(std::string& pattern) { return ::mkdtemp(pattern.data()) != nullptr; }
int MakeUniqueFile(std::string& pattern) { return ::mkostemp(pattern.data(), O_CLOEXEC); }

int LockFolder(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void UnlockFolder(int fd) noexcept {
  if (fd >= 0) ::close(fd);
}

std::optional<std::time_t> OwnFolderChanged(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return std::nullopt;
  return st.st_mtime;
}

bool IsDiskFull(int error) { return error == ENOSPC || error == EDQUOT; }

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

bool LocalTime(std::time_t when, std::tm& local) { return ::localtime_r(&when, &local) != nullptr; }
bool UtcTime(std::time_t when, std::tm& utc) { return ::gmtime_r(&when, &utc) != nullptr; }
std::u16string MonthAbbreviation(const std::tm& when) { return FormatTime(L"%b", when); }
std::u16string TimeOfDay(const std::tm& when) { return FormatTime(L"%X", when); }

}  // namespace quorvane::platform
