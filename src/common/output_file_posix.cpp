// The one way output files are written (output_file.hpp).
#include "common/output_file.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "common/cleanup.hpp"
#include "common/owned_folder.hpp"
#include "common/unique_fd.hpp"

namespace quorvane::output {

namespace {

// Links followed before a chain counts as a circle (the system's own limit).
constexpr int kMaxLinks = 40;

constexpr std::size_t kCopyBuffer = 256 * 1024;

std::string SystemReason(int error) { return std::strerror(error); }

[[noreturn]] void Fail(Cause cause, int error, const std::string& path, const std::string& reason) {
  throw OutputError(cause, error, path, reason);
}

// A failure of the system while writing `path`, its cause named.
[[noreturn]] void FailWith(int error, const std::string& path, const std::string& doing) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: Fail(Cause::kDiskFull, error, path, "the disk is full (" + SystemReason(error) + ")");
    case EROFS: Fail(Cause::kReadOnly, error, path, "the file system is read-only");
    case EPERM: Fail(Cause::kReadOnly, error, path, "the file is protected from changes (" + SystemReason(error) + ")");
    case EACCES: Fail(Cause::kNoPermission, error, path, "permission denied while " + doing);
    case ENOENT:
    case ENOTDIR: Fail(Cause::kFolderMissing, error, path, "its folder does not exist");
    case EISDIR: Fail(Cause::kIsFolder, error, path, "it is a folder");
    case ELOOP: Fail(Cause::kLinkLoop, error, path, "it became a link while it was written");
    case ENAMETOOLONG: Fail(Cause::kNameTooLong, error, path, "the name is longer than the system allows");
    default: Fail(Cause::kWriteFailed, error, path, doing + " failed (" + SystemReason(error) + ")");
  }
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The longest file name the folder's file system takes.
std::size_t NameMax(const std::string& folder) {
  const long max = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return max > 0 ? static_cast<std::size_t>(max) : NAME_MAX;
}

// The process's file creation mask, read without changing it (umask() would, for every thread).
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  }
  return 022;
}

// Opens a stream target for writing. O_NONBLOCK makes the open of a FIFO without a reader fail at
// once (ENXIO) instead of waiting for one; writes then block as usual. A regular file reached
// through a descriptor of the process is appended to, as the descriptor it names would.
int OpenStream(const Target& target, const std::string& requested) {
  const int fd = ::open(target.path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENXIO) Fail(Cause::kNoReader, error, requested, "nothing reads from the pipe");
    FailWith(error, requested, "opening it");
  }
  UniqueFd guard(fd);
  int flags = ::fcntl(fd, F_GETFL);
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) flags |= O_APPEND;
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) FailWith(errno, requested, "opening it");
  return guard.release();
}

// A file nobody else can see, in the system's temporary folder, gone when it is closed.
int UnnamedTemporary(const std::string& requested) {
  const char* base = std::getenv("TMPDIR");
  const std::string folder = base != nullptr && *base == '/' ? base : "/tmp";
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::string pattern = folder + "/.quorvane-XXXXXX";
  fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) FailWith(errno, requested, "making a temporary file in " + folder);
  ::unlink(pattern.c_str());
  return fd;
}

void CopyAll(int from, int to, const std::string& path) {
  if (::lseek(from, 0, SEEK_SET) < 0) FailWith(errno, path, "reading the finished file");
  std::vector<char> buffer(kCopyBuffer);
  for (;;) {
    const ssize_t n = ::read(from, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      FailWith(errno, path, "reading the finished file");
    }
    if (n == 0) return;
    WriteAll(to, std::string_view(buffer.data(), static_cast<std::size_t>(n)), path);
  }
}

void CloseOrFail(UniqueFd& fd, const std::string& path) {
  if (::close(fd.release()) != 0 && errno != EINTR) FailWith(errno, path, "writing");
}

// Gives a finished file the mode (and, where the process may, the owner) of the file it replaces,
// or those of a newly created file, and syncs it unless told otherwise.
void Finish(int fd, const Target& target, const std::string& requested, bool sync = true) {
  if (target.kind == Target::Kind::kFile) {
    // Not every process may give a file away; the file is then the writer's, as a new one would be.
    [[maybe_unused]] const int given = ::fchown(fd, target.owner, target.group);
    if (::fchmod(fd, target.mode) != 0) FailWith(errno, requested, "setting its permissions");
  } else if (::fchmod(fd, 0666 & ~CurrentUmask()) != 0) {
    FailWith(errno, requested, "setting its permissions");
  }
  if (sync && ::fsync(fd) != 0) FailWith(errno, requested, "writing");
}

void RenameOrFail(const std::string& from, const Target& target, const std::string& requested) {
  if (::rename(from.c_str(), target.path.c_str()) == 0) return;
  FailWith(errno, requested, "putting it in place");
}

}  // namespace

OutputError::OutputError(Cause cause, int error, const std::string& path, const std::string& reason)
    : std::runtime_error("Cannot save \"" + path + "\": " + reason + "."),
      cause_(cause),
      error_(error),
      path_(path),
      reason_(reason) {}

Target ResolveTarget(const std::string& requested) {
  const auto fail = [&](Cause cause, int error, const std::string& reason) { Fail(cause, error, requested, reason); };
  if (requested.empty() || requested.find('\0') != std::string::npos || requested.back() == '/')
    fail(Cause::kBadName, 0, "the name is not a file name");

  std::string path = requested;
  for (int links = 0;; ++links) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      const int error = errno;
      if (error == ENOENT && links > 0) fail(Cause::kDanglingLink, error, "the link points to no file");
      if (error == ENOENT) {
        Target target;
        target.path = path;
        target.folder = FolderOf(path);
        struct stat folder {};
        if (::stat(target.folder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
          fail(Cause::kFolderMissing, ENOENT, "its folder does not exist");
        const std::size_t max = NameMax(target.folder);
        if (NameOf(path).size() > max)
          fail(Cause::kNameTooLong, ENAMETOOLONG,
               "the name is longer than the " + std::to_string(max) + " bytes the file system allows");
        return target;
      }
      if (error == ENAMETOOLONG) {
        fail(Cause::kNameTooLong, error,
             "the name is longer than the " + std::to_string(NameMax(FolderOf(path))) +
                 " bytes the file system allows");
      }
      if (error == ENOTDIR) fail(Cause::kFolderMissing, error, "its folder does not exist");
      if (error == ELOOP) fail(Cause::kLinkLoop, error, "the links lead round in a circle");
      if (error == EACCES) fail(Cause::kNoPermission, error, "permission denied to its folder");
      fail(Cause::kWriteFailed, error, "it cannot be looked up (" + SystemReason(error) + ")");
    }

    if (S_ISLNK(info.st_mode)) {
      // A descriptor of the process (/dev/stdout leads to /proc/self/fd/1): its link names no path
      // ("pipe:[...]"), so it is opened as it is.
      if (path.starts_with("/proc/")) {
        struct stat opened {};
        if (::stat(path.c_str(), &opened) != 0) fail(Cause::kDanglingLink, errno, "the link points to no file");
        if (S_ISDIR(opened.st_mode)) fail(Cause::kLinkToFolder, EISDIR, "the link points to a folder");
        Target target;
        target.kind = Target::Kind::kStream;
        target.path = path;
        target.folder = FolderOf(path);
        return target;
      }
      if (links >= kMaxLinks) fail(Cause::kLinkLoop, ELOOP, "the links lead round in a circle");
      std::vector<char> buffer(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : PATH_MAX) + 1);
      const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
      if (n < 0) fail(Cause::kWriteFailed, errno, "the link cannot be read (" + SystemReason(errno) + ")");
      const std::string to(buffer.data(), static_cast<std::size_t>(n));
      if (to.empty()) fail(Cause::kDanglingLink, ENOENT, "the link points to no file");
      path = to.front() == '/' ? to : FolderOf(path) + "/" + to;
      continue;
    }

    Target target;
    target.path = path;
    target.folder = FolderOf(path);
    if (S_ISDIR(info.st_mode)) {
      if (links > 0) fail(Cause::kLinkToFolder, EISDIR, "the link points to a folder");
      fail(Cause::kIsFolder, EISDIR, "it is a folder");
    }
    if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode)) {
      target.kind = Target::Kind::kStream;
      return target;
    }
    if (!S_ISREG(info.st_mode)) fail(Cause::kNotAFile, 0, "it is neither a file nor a stream");
    // Root passes every permission test, so the bits are read here: a file nobody may write
    // is not replaced by anybody.
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) fail(Cause::kReadOnly, EACCES, "the file is read-only");
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
      const int error = errno;
      if (error == EPERM) fail(Cause::kReadOnly, error, "the file is protected from changes (immutable)");
      if (error == EROFS) fail(Cause::kReadOnly, error, "the file system is read-only");
      if (error == EACCES) fail(Cause::kNoPermission, error, "permission denied");
      fail(Cause::kWriteFailed, error, "its access cannot be checked (" + SystemReason(error) + ")");
    }
    target.kind = Target::Kind::kFile;
    target.mode = info.st_mode & 07777;
    target.owner = info.st_uid;
    target.group = info.st_gid;
    return target;
  }
}

void WriteAll(int fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      FailWith(errno, path, "writing");
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

// --- PendingFile -------------------------------------------------------------------------------

struct PendingFile::Temporary {
  std::string path;
  cleanup::TemporaryPath registration;
};

PendingFile::PendingFile(const std::string& path) : requested_(path), target_(ResolveTarget(path)) {
  if (stream()) return;
  // Beside the target, so that the rename stays on one file system; a short name of fixed length.
  std::string pattern = (target_.folder == "/" ? std::string() : target_.folder) + "/.quorvane-XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == EACCES || error == EPERM)
      Fail(Cause::kNoPermission, error, requested_, "permission denied to write in its folder");
    FailWith(error, requested_, "making a file in its folder");
  }
  fd_ = fd;
  temporary_ = std::make_unique<Temporary>(Temporary{pattern, cleanup::TemporaryPath(pattern)});
}

PendingFile::~PendingFile() {
  if (fd_ >= 0) ::close(fd_);
  if (temporary_) ::unlink(temporary_->path.c_str());
}

const std::string& PendingFile::temporaryPath() const {
  static const std::string none;
  return temporary_ ? temporary_->path : none;
}

void PendingFile::CloseDescriptor() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

void PendingFile::Commit() { CommitSynced(true); }

void PendingFile::CommitSynced(bool sync) {
  if (!temporary_) return;
  if (fd_ < 0) {
    fd_ = ::open(temporary_->path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd_ < 0) FailWith(errno, requested_, "reading the finished file");
  }
  Finish(fd_, target_, requested_, sync);
  UniqueFd fd(std::exchange(fd_, -1));
  CloseOrFail(fd, requested_);
  RenameOrFail(temporary_->path, target_, requested_);
  temporary_.reset();
}

void CommitAll(const std::vector<std::unique_ptr<PendingFile>>& files) {
  // One flush of each file system involved instead of one per file: thousands of small files
  // would otherwise wait for the disk thousands of times.
  std::vector<dev_t> synced;
  for (const auto& file : files) {
    if (file->stream()) continue;
    struct stat info {};
    const std::string& path = file->temporaryPath();
    if (::stat(path.c_str(), &info) != 0) FailWith(errno, file->target().path, "reading the finished file");
    if (std::find(synced.begin(), synced.end(), info.st_dev) != synced.end()) continue;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0 || ::syncfs(fd.get()) != 0) FailWith(errno, file->target().path, "writing");
    synced.push_back(info.st_dev);
  }
  for (const auto& file : files) file->CommitSynced(false);
}

// --- Writing -----------------------------------------------------------------------------------

void WriteFile(const std::string& path, const std::function<void(int fd)>& fill) {
  PendingFile file(path);
  if (!file.stream()) {
    fill(file.fd());
    file.Commit();
    return;
  }
  // A stream cannot take back what it was sent: the content is made in full first.
  UniqueFd out(OpenStream(file.target(), path));
  UniqueFd content(UnnamedTemporary(path));
  fill(content.get());
  CopyAll(content.get(), out.get(), path);
  CloseOrFail(out, path);
}

void WriteFile(const std::string& path, std::string_view bytes) {
  WriteFile(path, [&](int fd) { WriteAll(fd, bytes, path); });
}

void PutInPlace(const std::string& source, const std::string& path) {
  const Target target = ResolveTarget(path);
  struct stat from {};
  if (::stat(source.c_str(), &from) != 0 || !S_ISREG(from.st_mode))
    Fail(Cause::kWriteFailed, errno, path, "the finished file is missing");
  struct stat folder {};
  if (target.kind != Target::Kind::kStream && ::stat(target.folder.c_str(), &folder) == 0 &&
      folder.st_dev == from.st_dev) {
    UniqueFd fd(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) FailWith(errno, path, "reading the finished file");
    Finish(fd.get(), target, path);
    CloseOrFail(fd, path);
    if (::rename(source.c_str(), target.path.c_str()) == 0) return;
    if (errno != EXDEV) FailWith(errno, path, "putting it in place");
  }
  UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) FailWith(errno, path, "reading the finished file");
  WriteFile(path, [&](int fd) { CopyAll(in.get(), fd, path); });
}

int OpenInPlace(const std::string& path, bool append) {
  const Target target = ResolveTarget(path);
  if (target.kind == Target::Kind::kStream) return OpenStream(target, path);
  // O_NOFOLLOW: the name was found to be no link; one that appears since is not followed.
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (append ? O_APPEND : O_TRUNC);
  const int fd = ::open(target.path.c_str(), flags, 0666);
  if (fd < 0) FailWith(errno, path, "opening it");
  return fd;
}

// --- Folders of outputs ------------------------------------------------------------------------

StagingFolder::StagingFolder(const std::string& parent, std::string_view prefix, const std::string& requested) {
  std::string pattern = parent + (parent.ends_with('/') ? "" : "/") + std::string(prefix) + "XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    const int error = errno;
    Fail(error == ENOENT || error == ENOTDIR ? Cause::kFolderMissing : Cause::kNoPermission, error, requested,
         "cannot write in its folder (" + SystemReason(error) + ")");
  }
  path_ = pattern;
  registration_ = cleanup::TemporaryPath(path_);
}

StagingFolder::~StagingFolder() { cleanup::RemoveFolder(path_); }

void MoveIntoPlace(const std::string& from, const std::string& to, bool mergeFolders) {
  if (::rename(from.c_str(), to.c_str()) == 0) return;
  int error = errno;
  if (mergeFolders && (error == EEXIST || error == ENOTEMPTY || error == EISDIR)) {
    struct stat fromInfo {}, toInfo {};
    if (::stat(from.c_str(), &fromInfo) == 0 && S_ISDIR(fromInfo.st_mode) && ::stat(to.c_str(), &toInfo) == 0 &&
        S_ISDIR(toInfo.st_mode)) {
      std::error_code ec;
      std::vector<std::string> names;
      for (std::filesystem::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
      if (!ec) {
        for (const std::string& name : names) MoveIntoPlace(from + "/" + name, to + "/" + name, true);
        return;
      }
      error = ec.value();
    }
  }
  if (error == ENOSPC || error == EDQUOT) Fail(Cause::kDiskFull, error, to, "the disk is full");
  Fail(error == ENOENT || error == ENOTDIR ? Cause::kFolderMissing : Cause::kWriteFailed, error, to,
       "it cannot be put in place (" + SystemReason(error) + ")");
}

StagedFolder::StagedFolder(std::string folder, std::vector<std::string> names)
    : folder_(std::move(folder)), names_(std::move(names)) {
  while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
  if (folder_.empty() || folder_ == "/" || folder_.find('\0') != std::string::npos)
    Fail(Cause::kBadName, 0, folder_, "the name is not a folder name");
  struct stat info {};
  if (::lstat(folder_.c_str(), &info) == 0) {
    // A link to a folder is written through; anything else in the way is refused.
    struct stat target {};
    if (::stat(folder_.c_str(), &target) != 0) Fail(Cause::kDanglingLink, errno, folder_, "the link points to no folder");
    if (!S_ISDIR(target.st_mode))
      Fail(Cause::kNotAFile, ENOTDIR, folder_, "a file of that name is in the way of the folder");
    existed_ = true;
    for (const auto& name : names_) {
      const std::string path = folder_ + "/" + name;
      struct stat file {};
      if (::lstat(path.c_str(), &file) != 0) {
        targets_.push_back({});
        continue;
      }
      Target resolved;
      try {
        resolved = ResolveTarget(path);
      } catch (const OutputError& error) {
        // The file exists: whatever refuses it, the folder cannot take the output.
        const Cause cause = error.cause() == Cause::kFolderMissing ? Cause::kNotAFile : error.cause();
        Fail(cause, error.error(), folder_, "\"" + name + "\" in it: " + error.reason());
      }
      if (resolved.kind == Target::Kind::kStream)
        Fail(Cause::kNotAFile, 0, folder_, "\"" + name + "\" in it is a device or pipe, not a file");
      targets_.push_back(std::move(resolved));
    }
  } else {
    targets_.resize(names_.size());
  }
  // Beside the target folder, so that renames stay on one file system.
  staging_ = std::make_unique<StagingFolder>(FolderOf(folder_), ".quorvane-stage-", folder_);
  // The folder that will be renamed into place: made with the usual permissions (mkdir applies
  // the umask), unlike the private staging folder around it.
  if (::mkdir(StagedPath("").c_str(), 0777) != 0 || ::mkdir((staging_->path() + "/old").c_str(), 0700) != 0)
    Fail(Cause::kWriteFailed, errno, folder_, SystemReason(errno));
}

StagedFolder::~StagedFolder() = default;

std::string StagedFolder::StagedPath(const std::string& name) const { return staging_->path() + "/new/" + name; }

void StagedFolder::Commit() {
  if (!existed_) {
    MoveIntoPlace(staging_->path() + "/new", folder_, false);
    placedWhole_ = true;
    return;
  }
  try {
    for (std::size_t i = 0; i < names_.size(); ++i) {
      const std::string& name = names_[i];
      const Target& existing = targets_[i];
      const bool replaces = existing.kind == Target::Kind::kFile;
      const std::string target = replaces ? existing.path : folder_ + "/" + name;
      const std::string staged = StagedPath(name);
      const auto place = [&](const std::string& from, const std::string& to) {
        try {
          MoveIntoPlace(from, to, false);
        } catch (const OutputError& error) {
          throw OutputError(error.cause(), error.error(), folder_ + "/" + name, error.reason());
        }
      };
      if (replaces) {
        // The new file takes the mode (and, where the process may, the owner) of the one it replaces.
        [[maybe_unused]] const int given = ::chown(staged.c_str(), existing.owner, existing.group);
        ::chmod(staged.c_str(), existing.mode);
        place(target, staging_->path() + "/old/" + name);
      }
      placed_.push_back({target, replaces, i});
      place(staged, target);
    }
  } catch (...) {
    Rollback();
    throw;
  }
}

void StagedFolder::Rollback() noexcept {
  if (placedWhole_) {
    ::rename(folder_.c_str(), (staging_->path() + "/new").c_str());
    placedWhole_ = false;
    return;
  }
  for (auto it = placed_.rbegin(); it != placed_.rend(); ++it) {
    const std::string& name = names_[it->index];
    // The new file goes back to staging (it may not have arrived yet), the kept one back in place.
    ::rename(it->target.c_str(), StagedPath(name).c_str());
    if (it->replaced) ::rename((staging_->path() + "/old/" + name).c_str(), it->target.c_str());
  }
  placed_.clear();
}

}  // namespace quorvane::output
