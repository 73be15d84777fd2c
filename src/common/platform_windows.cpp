// The platform seam on Windows: UTF-16 file names, the C run-time's descriptors over the system's
// handles, the regional settings of the user.
#include "common/platform.hpp"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <random>
#include <vector>

#include "common/text.hpp"

namespace quorvane::platform {
namespace {

std::wstring Wide(const std::string& utf8) {
  const std::u16string u = text::FromUtf8(utf8);
  return std::wstring(u.begin(), u.end());
}

std::u16string Narrow(const wchar_t* s, std::size_t n) { return std::u16string(s, s + n); }

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(::_get_osfhandle(fd)); }

int ErrnoFromLastError() {
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_INVALID_HANDLE: return EBADF;
    default: return EIO;
  }
}

// Six characters for a unique name: letters and digits, from a generator seeded once per process.
void FillUnique(std::string& pattern) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 generator{std::random_device{}() ^ static_cast<unsigned>(::GetCurrentProcessId())};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
  for (std::size_t i = pattern.size() - 6; i < pattern.size(); ++i) pattern[i] = kChars[pick(generator)];
}

bool IsPattern(const std::string& pattern) { return pattern.size() >= 6 && pattern.ends_with("XXXXXX"); }

SYSTEMTIME SystemTimeOf(const std::tm& when) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(when.tm_year + 1900);
  st.wMonth = static_cast<WORD>(when.tm_mon + 1);
  st.wDay = static_cast<WORD>(when.tm_mday);
  st.wDayOfWeek = static_cast<WORD>(when.tm_wday);
  st.wHour = static_cast<WORD>(when.tm_hour);
  st.wMinute = static_cast<WORD>(when.tm_min);
  st.wSecond = static_cast<WORD>(when.tm_sec);
  return st;
}

}  // namespace

int Open(const std::string& path, int flags, int mode) {
  return ::_wopen(Wide(path).c_str(), flags | _O_BINARY | _O_NOINHERIT, mode);
}

int Stat(const std::string& path, struct stat& info) {
  struct _stat64 st {};
  if (::_wstat64(Wide(path).c_str(), &st) != 0) return -1;
  info = {};
  info.st_mode = st.st_mode;
  info.st_size = static_cast<decltype(info.st_size)>(st.st_size);
  info.st_mtime = static_cast<decltype(info.st_mtime)>(st.st_mtime);
  return 0;
}

int StatLink(const std::string& path, struct stat& info) { return Stat(path, info); }

ssize_type ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!::ReadFile(HandleOf(fd), buffer, want, &got, &at)) {
    if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
    errno = ErrnoFromLastError();
    return -1;
  }
  return static_cast<ssize_type>(got);
}

ssize_type WriteAt(int fd, const void* buffer, std::size_t size, std::uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD wrote = 0;
  const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!::WriteFile(HandleOf(fd), buffer, want, &wrote, &at)) {
    errno = ErrnoFromLastError();
    return -1;
  }
  return static_cast<ssize_type>(wrote);
}

int Truncate(int fd, std::uint64_t size) { return ::_chsize_s(fd, static_cast<long long>(size)) == 0 ? 0 : -1; }
int Sync(int fd) { return ::_commit(fd); }
int SetBlocking(int) { return 0; }

std::optional<FileId> IdentifyFile(int fd) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(HandleOf(fd), &info)) return std::nullopt;
  return FileId{info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::optional<FileId> IdentifyFile(const std::string& path) {
  // Opened for no access at all: a file that another program holds open is still identified.
  HANDLE h = ::CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = ::GetFileInformationByHandle(h, &info);
  ::CloseHandle(h);
  if (!ok) return std::nullopt;
  return FileId{info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool MakeUniqueFolder(std::string& pattern) {
  if (!IsPattern(pattern)) {
    errno = EINVAL;
    return false;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    FillUnique(pattern);
    if (::CreateDirectoryW(Wide(pattern).c_str(), nullptr)) return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) {
      errno = ErrnoFromLastError();
      return false;
    }
  }
  errno = EEXIST;
  return false;
}

int MakeUniqueFile(std::string& pattern) {
  if (!IsPattern(pattern)) {
    errno = EINVAL;
    return -1;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    FillUnique(pattern);
    const int fd = Open(pattern, _O_RDWR | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

int LockFolder(const std::string& path) {
  // Opened without sharing: a second holder's open fails, and nobody removes or renames the
  // folder while the handle is open.
  HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY);
  if (fd < 0) ::CloseHandle(h);
  return fd;
}

void UnlockFolder(int fd) noexcept {
  if (fd >= 0) ::_close(fd);
}

std::optional<std::time_t> OwnFolderChanged(const std::string& path) {
  // A folder under the user's temporary folder is the user's own; links are not followed.
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return std::nullopt;
  const std::uint64_t ticks = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                              data.ftLastWriteTime.dwLowDateTime;
  return static_cast<std::time_t>(ticks / 10000000u - 11644473600u);
}

bool IsDiskFull(int error) { return error == ENOSPC; }

std::u16string ComponentFolder() {
  // The module that holds this function: Quorvane.ocx, or the program the core is linked into.
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ComponentFolder), &module))
    return {};
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      std::u16string file = Narrow(buffer.data(), n);
      const std::size_t slash = file.find_last_of(u"\\/");
      if (slash == std::u16string::npos) return {};
      // A drive's root keeps its separator ("C:\"), as the system writes it.
      return file.substr(0, slash == 2 && file[1] == u':' ? 3 : slash);
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

bool LocalTime(std::time_t when, std::tm& local) { return ::localtime_s(&local, &when) == 0; }
bool UtcTime(std::time_t when, std::tm& utc) { return ::gmtime_s(&utc, &when) == 0; }

std::u16string MonthAbbreviation(const std::tm& when) {
  const SYSTEMTIME st = SystemTimeOf(when);
  wchar_t buffer[80];
  const int n = ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, L"MMM", buffer, 80, nullptr);
  return n > 1 ? Narrow(buffer, static_cast<std::size_t>(n - 1)) : std::u16string();
}

std::u16string TimeOfDay(const std::tm& when) {
  const SYSTEMTIME st = SystemTimeOf(when);
  wchar_t buffer[80];
  const int n = ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, buffer, 80);
  return n > 1 ? Narrow(buffer, static_cast<std::size_t>(n - 1)) : std::u16string();
}

}  // namespace quorvane::platform
