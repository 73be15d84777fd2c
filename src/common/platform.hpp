#pragma once
// What the component asks of the operating system, behind one header with one implementation per
// platform (platform_posix.cpp, platform_windows.cpp). Everything above common/ reaches the system
// through here or through the standard library, never through a platform's own headers.
//
// Paths are UTF-8 strings everywhere in the component. On Windows they are handed to the system as
// UTF-16, so that every name the file system allows can be opened; "/" and "\" both separate.
// Descriptors are the C run-time's (open, read, write, close); failures set errno.
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// What Windows' file modes never are.
#ifndef S_ISLNK
#define S_ISLNK(mode) false
#endif
#ifndef S_ISSOCK
#define S_ISSOCK(mode) false
#endif

namespace quorvane::platform {

#ifdef _WIN32
inline constexpr char16_t kPathSeparator = u'\\';
// Flags without a meaning on Windows: descriptors are not inherited by child processes there, and
// a file name is never a pipe to wait for.
inline constexpr int kCloseOnExec = 0;
inline constexpr int kNoFollow = 0;
inline constexpr int kNonBlock = 0;
inline constexpr int kNoCtty = 0;
using ssize_type = long long;
#else
inline constexpr char16_t kPathSeparator = u'/';
inline constexpr int kCloseOnExec = 02000000;  // O_CLOEXEC
inline constexpr int kNoFollow = 0400000;      // O_NOFOLLOW
inline constexpr int kNonBlock = 04000;        // O_NONBLOCK
inline constexpr int kNoCtty = 0400;           // O_NOCTTY
using ssize_type = ssize_t;
#endif

// The longest file name, in bytes of UTF-8 (Windows counts 255 UTF-16 units, which take at least
// as many bytes).
inline constexpr std::size_t kNameMax = 255;

// A UTF-8 path as the standard library's path, with its characters intact on every platform.
inline std::filesystem::path FilesystemPath(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
// And back.
inline std::string Utf8Path(const std::filesystem::path& path) {
  const std::u8string s = path.u8string();
  return std::string(s.begin(), s.end());
}

// open(2) of a UTF-8 path: binary, not inherited by child processes.
int Open(const std::string& path, int flags, int mode = 0666);
// stat(2) and lstat(2) of a UTF-8 path: 0, or -1 with errno. Windows has no links to follow.
int Stat(const std::string& path, struct stat& info);
int StatLink(const std::string& path, struct stat& info);
// Reads or writes at `offset` without moving the descriptor's position (pread / pwrite).
ssize_type ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset);
ssize_type WriteAt(int fd, const void* buffer, std::size_t size, std::uint64_t offset);
int Truncate(int fd, std::uint64_t size);
// Puts what was written to `fd` on the disk (fsync).
int Sync(int fd);
// Makes a descriptor opened with kNonBlock block again.
int SetBlocking(int fd);

// Which file a name or descriptor is, for telling whether two names are the same file: the device
// (the volume) and the file's number on it.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
  friend auto operator<=>(const FileId&, const FileId&) = default;
};
std::optional<FileId> IdentifyFile(const std::string& path);
std::optional<FileId> IdentifyFile(int fd);

// Makes a new folder or file from `pattern`, whose last six characters are "XXXXXX", replaced by
// the name actually made (mkdtemp / mkostemp). The folder is private to the user where the system
// allows it; the file is opened for reading and writing, not inherited. false / -1 with errno.
bool MakeUniqueFolder(std::string& pattern);
int MakeUniqueFile(std::string& pattern);

// Marks the folder `path` as held by this process for as long as the returned descriptor stays
// open; the system lets go when the process ends, however it ends. -1 when the folder cannot be
// opened or another process holds it.
int LockFolder(const std::string& path);
void UnlockFolder(int fd) noexcept;
// When the folder `path` (not a link) that belongs to the user running the process last changed;
// nothing for anything else.
std::optional<std::time_t> OwnFolderChanged(const std::string& path);

// Whether a failure's errno says that the disk or the user's quota is full.
bool IsDiskFull(int error);

// The folder of the file that holds the component's code: its library, or the program the
// component is linked into. Empty when it cannot be told.
std::u16string ComponentFolder();

// The local time of `when`; false when it cannot be told.
bool LocalTime(std::time_t when, std::tm& local);
bool UtcTime(std::time_t when, std::tm& utc);
// The month's abbreviated name in the system's language, and the time of day in the system's
// regional time format (empty when the system gives none).
std::u16string MonthAbbreviation(const std::tm& when);
std::u16string TimeOfDay(const std::tm& when);

}  // namespace quorvane::platform
