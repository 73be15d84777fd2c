// Output files on Windows, by the rule of output_file.hpp: written beside the target under a
// temporary name and moved over it (MoveFileEx, replacing) only when complete and flushed; a failure
// leaves the old file as it was. Windows has no links or pipes among file names to follow or write
// through, and a file is read-only by its attribute.
#include "common/output_file.hpp"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "common/owned_folder.hpp"
#include "common/platform.hpp"
#include "common/text.hpp"

namespace quorvane::output {

namespace {

std::string SystemReason(int error) { return std::strerror(error); }

[[noreturn]] void Fail(Cause cause, int error, const std::string& path, const std::string& reason) {
  throw OutputError(cause, error, path, reason);
}

[[noreturn]] void FailWith(int error, const std::string& path, const std::string& doing) {
  switch (error) {
    case ENOSPC: Fail(Cause::kDiskFull, error, path, "the disk is full (" + SystemReason(error) + ")");
    case EACCES: Fail(Cause::kNoPermission, error, path, "permission denied while " + doing);
    case ENOENT: Fail(Cause::kFolderMissing, error, path, "its folder does not exist");
    case EISDIR: Fail(Cause::kIsFolder, error, path, "it is a folder");
    case ENAMETOOLONG: Fail(Cause::kNameTooLong, error, path, "the name is longer than the system allows");
    default: Fail(Cause::kWriteFailed, error, path, doing + " failed (" + SystemReason(error) + ")");
  }
}

std::wstring Wide(const std::string& utf8) {
  const std::u16string u = text::FromUtf8(utf8);
  return std::wstring(u.begin(), u.end());
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
  // A drive's root keeps its separator.
  return slash == 0 || (slash == 2 && path[1] == ':') ? path.substr(0, slash + 1) : path.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() || IsSeparator(folder.back()) ? folder + name : folder + "\\" + name;
}

// Replaces `to` with `from` (both on one volume), writing the move through to the disk.
bool Replace(const std::string& from, const std::string& to) {
  if (::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  switch (::GetLastError()) {
    case ERROR_DISK_FULL: errno = ENOSPC; break;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND: errno = ENOENT; break;
    case ERROR_NOT_SAME_DEVICE: errno = EXDEV; break;
    default: errno = EACCES; break;
  }
  return false;
}

void CopyAll(int from, int to, const std::string& path) {
  std::vector<char> buffer(256 * 1024);
  for (std::uint64_t at = 0;;) {
    const auto n = platform::ReadAt(from, buffer.data(), buffer.size(), at);
    if (n < 0) FailWith(errno, path, "reading the finished file");
    if (n == 0) return;
    WriteAll(to, std::string_view(buffer.data(), static_cast<std::size_t>(n)), path);
    at += static_cast<std::uint64_t>(n);
  }
}

void CloseOrFail(int fd, const std::string& path) {
  if (::_close(fd) != 0) FailWith(errno, path, "writing");
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
  if (requested.empty() || requested.find('\0') != std::string::npos || IsSeparator(requested.back()))
    fail(Cause::kBadName, 0, "the name is not a file name");
  // Characters no Windows file name may hold (past a drive's colon).
  const std::size_t nameStart = requested.size() >= 2 && requested[1] == ':' ? 2 : 0;
  if (requested.find_first_of("<>\"|?*:", nameStart) != std::string::npos)
    fail(Cause::kBadName, 0, "the name holds a character that file names may not hold");
  Target target;
  target.path = requested;
  target.folder = FolderOf(requested);
  const DWORD attributes = ::GetFileAttributesW(Wide(requested).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD folder = ::GetFileAttributesW(Wide(target.folder).c_str());
    if (folder == INVALID_FILE_ATTRIBUTES || (folder & FILE_ATTRIBUTE_DIRECTORY) == 0)
      fail(Cause::kFolderMissing, ENOENT, "its folder does not exist");
    const std::string name = requested.substr(requested.find_last_of("/\\:") + 1);
    if (text::FromUtf8(name).size() > 255)
      fail(Cause::kNameTooLong, ENAMETOOLONG, "the name is longer than the 255 characters the file system allows");
    return target;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) fail(Cause::kIsFolder, EISDIR, "it is a folder");
  if (attributes & FILE_ATTRIBUTE_READONLY) fail(Cause::kReadOnly, EACCES, "the file is read-only");
  if (attributes & FILE_ATTRIBUTE_DEVICE) {
    target.kind = Target::Kind::kStream;
    return target;
  }
  target.kind = Target::Kind::kFile;
  return target;
}

void WriteAll(int fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    const unsigned chunk = bytes.size() > 0x10000000u ? 0x10000000u : static_cast<unsigned>(bytes.size());
    const int n = ::_write(fd, bytes.data(), chunk);
    if (n < 0) FailWith(errno, path, "writing");
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
  std::string pattern = Join(target_.folder, ".quorvane-XXXXXX");
  const int fd = platform::MakeUniqueFile(pattern);
  if (fd < 0) {
    if (errno == EACCES) Fail(Cause::kNoPermission, errno, requested_, "permission denied to write in its folder");
    FailWith(errno, requested_, "making a file in its folder");
  }
  fd_ = fd;
  temporary_ = std::make_unique<Temporary>(Temporary{pattern, cleanup::TemporaryPath(pattern)});
}

PendingFile::~PendingFile() {
  if (fd_ >= 0) ::_close(fd_);
  if (temporary_) ::DeleteFileW(Wide(temporary_->path).c_str());
}

const std::string& PendingFile::temporaryPath() const {
  static const std::string none;
  return temporary_ ? temporary_->path : none;
}

void PendingFile::CloseDescriptor() {
  if (fd_ >= 0) ::_close(std::exchange(fd_, -1));
}

void PendingFile::Commit() { CommitSynced(true); }

void PendingFile::CommitSynced(bool sync) {
  if (!temporary_) return;
  if (fd_ < 0) {
    fd_ = platform::Open(temporary_->path, _O_RDWR);
    if (fd_ < 0) FailWith(errno, requested_, "reading the finished file");
  }
  if (sync && platform::Sync(fd_) != 0) FailWith(errno, requested_, "writing");
  CloseOrFail(std::exchange(fd_, -1), requested_);
  if (!Replace(temporary_->path, target_.path)) FailWith(errno, requested_, "putting it in place");
  temporary_.reset();
}

void CommitAll(const std::vector<std::unique_ptr<PendingFile>>& files) {
  for (const auto& file : files) file->CommitSynced(true);
}

// --- Writing -----------------------------------------------------------------------------------

void WriteFile(const std::string& path, const std::function<void(int fd)>& fill) {
  PendingFile file(path);
  if (!file.stream()) {
    fill(file.fd());
    file.Commit();
    return;
  }
  // A device cannot take back what it was sent: the content is made in full first.
  std::error_code ec;
  std::string pattern = platform::Utf8Path(std::filesystem::temp_directory_path(ec) / ".quorvane-XXXXXX");
  const int content = platform::MakeUniqueFile(pattern);
  if (content < 0) FailWith(errno, path, "making a temporary file");
  cleanup::TemporaryPath registration(pattern);
  try {
    fill(content);
    const int out = platform::Open(file.target().path, _O_WRONLY);
    if (out < 0) FailWith(errno, path, "opening it");
    try {
      CopyAll(content, out, path);
    } catch (...) {
      ::_close(out);
      throw;
    }
    CloseOrFail(out, path);
  } catch (...) {
    ::_close(content);
    ::DeleteFileW(Wide(pattern).c_str());
    throw;
  }
  ::_close(content);
  ::DeleteFileW(Wide(pattern).c_str());
}

void WriteFile(const std::string& path, std::string_view bytes) {
  WriteFile(path, [&](int fd) { WriteAll(fd, bytes, path); });
}

void PutInPlace(const std::string& source, const std::string& path) {
  const Target target = ResolveTarget(path);
  const DWORD attributes = ::GetFileAttributesW(Wide(source).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    Fail(Cause::kWriteFailed, ENOENT, path, "the finished file is missing");
  if (target.kind != Target::Kind::kStream && Replace(source, target.path)) return;
  const int in = platform::Open(source, _O_RDONLY);
  if (in < 0) FailWith(errno, path, "reading the finished file");
  try {
    WriteFile(path, [&](int fd) { CopyAll(in, fd, path); });
  } catch (...) {
    ::_close(in);
    throw;
  }
  ::_close(in);
}

int OpenInPlace(const std::string& path, bool append) {
  const Target target = ResolveTarget(path);
  const int flags = _O_WRONLY | (target.kind == Target::Kind::kStream ? 0 : _O_CREAT | (append ? _O_APPEND : _O_TRUNC));
  const int fd = platform::Open(target.path, flags, _S_IREAD | _S_IWRITE);
  if (fd < 0) FailWith(errno, path, "opening it");
  return fd;
}

// --- Folders of outputs ------------------------------------------------------------------------

StagingFolder::StagingFolder(const std::string& parent, std::string_view prefix, const std::string& requested) {
  std::string pattern = Join(parent, std::string(prefix) + "XXXXXX");
  if (!platform::MakeUniqueFolder(pattern)) {
    const int error = errno;
    Fail(error == ENOENT ? Cause::kFolderMissing : Cause::kNoPermission, error, requested,
         "cannot write in its folder (" + SystemReason(error) + ")");
  }
  path_ = pattern;
  registration_ = cleanup::TemporaryPath(path_);
}

StagingFolder::~StagingFolder() { cleanup::RemoveFolder(path_); }

void MoveIntoPlace(const std::string& from, const std::string& to, bool mergeFolders) {
  const DWORD fromAttributes = ::GetFileAttributesW(Wide(from).c_str());
  const DWORD toAttributes = ::GetFileAttributesW(Wide(to).c_str());
  const bool folders = fromAttributes != INVALID_FILE_ATTRIBUTES && (fromAttributes & FILE_ATTRIBUTE_DIRECTORY);
  if (folders && toAttributes != INVALID_FILE_ATTRIBUTES && (toAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (!mergeFolders) Fail(Cause::kWriteFailed, EEXIST, to, "it cannot be put in place (the folder exists)");
    std::error_code ec;
    std::vector<std::string> names;
    for (std::filesystem::directory_iterator it(platform::FilesystemPath(from), ec), end; !ec && it != end;
         it.increment(ec))
      names.push_back(platform::Utf8Path(it->path().filename()));
    if (ec) Fail(Cause::kWriteFailed, ec.value(), to, "it cannot be put in place (" + ec.message() + ")");
    for (const std::string& name : names) MoveIntoPlace(Join(from, name), Join(to, name), true);
    return;
  }
  if (Replace(from, to)) return;
  const int error = errno;
  if (error == ENOSPC) Fail(Cause::kDiskFull, error, to, "the disk is full");
  Fail(error == ENOENT ? Cause::kFolderMissing : Cause::kWriteFailed, error, to,
       "it cannot be put in place (" + SystemReason(error) + ")");
}

StagedFolder::StagedFolder(std::string folder, std::vector<std::string> names)
    : folder_(std::move(folder)), names_(std::move(names)) {
  while (folder_.size() > 1 && IsSeparator(folder_.back()) && !(folder_.size() == 3 && folder_[1] == ':'))
    folder_.pop_back();
  if (folder_.empty() || folder_.find('\0') != std::string::npos)
    Fail(Cause::kBadName, 0, folder_, "the name is not a folder name");
  const DWORD attributes = ::GetFileAttributesW(Wide(folder_).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      Fail(Cause::kNotAFile, ENOTDIR, folder_, "a file of that name is in the way of the folder");
    existed_ = true;
    for (const auto& name : names_) {
      try {
        targets_.push_back(ResolveTarget(Join(folder_, name)));
      } catch (const OutputError& error) {
        const Cause cause = error.cause() == Cause::kFolderMissing ? Cause::kNotAFile : error.cause();
        Fail(cause, error.error(), folder_, "\"" + name + "\" in it: " + error.reason());
      }
      if (targets_.back().kind == Target::Kind::kStream)
        Fail(Cause::kNotAFile, 0, folder_, "\"" + name + "\" in it is a device, not a file");
    }
  } else {
    targets_.resize(names_.size());
  }
  staging_ = std::make_unique<StagingFolder>(FolderOf(folder_), ".quorvane-stage-", folder_);
  if (!::CreateDirectoryW(Wide(StagedPath("")).c_str(), nullptr) ||
      !::CreateDirectoryW(Wide(Join(staging_->path(), "old")).c_str(), nullptr))
    Fail(Cause::kWriteFailed, EACCES, folder_, "the staging folder cannot be made");
}

StagedFolder::~StagedFolder() = default;

std::string StagedFolder::StagedPath(const std::string& name) const {
  return Join(Join(staging_->path(), "new"), name);
}

void StagedFolder::Commit() {
  if (!existed_) {
    MoveIntoPlace(Join(staging_->path(), "new"), folder_, false);
    placedWhole_ = true;
    return;
  }
  try {
    for (std::size_t i = 0; i < names_.size(); ++i) {
      const std::string& name = names_[i];
      const bool replaces = targets_[i].kind == Target::Kind::kFile;
      const std::string target = Join(folder_, name);
      const auto place = [&](const std::string& from, const std::string& to) {
        try {
          MoveIntoPlace(from, to, false);
        } catch (const OutputError& error) {
          throw OutputError(error.cause(), error.error(), target, error.reason());
        }
      };
      if (replaces) place(target, Join(Join(staging_->path(), "old"), name));
      placed_.push_back({target, replaces, i});
      place(StagedPath(name), target);
    }
  } catch (...) {
    Rollback();
    throw;
  }
}

void StagedFolder::Rollback() noexcept {
  if (placedWhole_) {
    ::MoveFileExW(Wide(folder_).c_str(), Wide(Join(staging_->path(), "new")).c_str(), 0);
    placedWhole_ = false;
    return;
  }
  for (auto it = placed_.rbegin(); it != placed_.rend(); ++it) {
    const std::string& name = names_[it->index];
    ::MoveFileExW(Wide(it->target).c_str(), Wide(StagedPath(name)).c_str(), MOVEFILE_REPLACE_EXISTING);
    if (it->replaced)
      ::MoveFileExW(Wide(Join(Join(staging_->path(), "old"), name)).c_str(), Wide(it->target).c_str(),
                    MOVEFILE_REPLACE_EXISTING);
  }
  placed_.clear();
}

}  // namespace quorvane::output
