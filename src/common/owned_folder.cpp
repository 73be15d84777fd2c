#include "common/owned_folder.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <utility>

#include "common/failures.hpp"
#include "common/text.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::cleanup {

namespace {

int OpenFolder(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
}

}  // namespace

TemporaryFolder::TemporaryFolder() {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / "quorvane-render-XXXXXX").string();
  if (!::mkdtemp(pattern.data()))
    throw AutomationError(failure::kEAccessDenied, u"Cannot make a temporary folder for the renderer in \"" +
                                                       text::FromUtf8(base.string()) + u"\": " +
                                                       text::FromUtf8(std::strerror(errno)) + u".");
  path_ = pattern;
  hold_ = OwnedFolder(path_);
}

TemporaryFolder::~TemporaryFolder() { RemoveFolder(path_); }

void RemoveFolder(const std::string& path) noexcept {
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, ignored))) return;
  }
}

OwnedFolder::OwnedFolder(const std::string& path) : registration_(path), removal_([path] { RemoveFolder(path); }) {
  fd_ = OpenFolder(path);
  if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) Close();
}

OwnedFolder::~OwnedFolder() { Close(); }

OwnedFolder::OwnedFolder(OwnedFolder&& other) noexcept
    : registration_(std::move(other.registration_)),
      removal_(std::move(other.removal_)),
      fd_(std::exchange(other.fd_, -1)) {}

OwnedFolder& OwnedFolder::operator=(OwnedFolder&& other) noexcept {
  if (this != &other) {
    Close();
    registration_ = std::move(other.registration_);
    removal_ = std::move(other.removal_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void OwnedFolder::Close() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::vector<std::string> SweepLeftovers(const std::string& parent, const std::vector<std::string>& prefixes,
                                        std::chrono::seconds minimumAge) {
  std::vector<std::string> removed;
  DIR* folder = ::opendir(parent.c_str());
  if (folder == nullptr) return removed;
  std::vector<std::string> candidates;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    for (const std::string& prefix : prefixes) {
      if (name.size() > prefix.size() && name.starts_with(prefix)) candidates.push_back(parent + "/" + name);
    }
  }
  ::closedir(folder);
  const std::time_t now = std::time(nullptr);
  for (const std::string& path : candidates) {
    struct stat st {};
    // Only this user's own folders, never a link to somewhere else.
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) continue;
    if (now - st.st_mtime < static_cast<std::time_t>(minimumAge.count())) continue;
    const int fd = OpenFolder(path);
    if (fd < 0) continue;
    // Held while it is removed, so that no other sweeper takes it for its own meanwhile.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      RemoveFolder(path);
      std::error_code ignored;
      if (!std::filesystem::exists(path, ignored)) removed.push_back(path);
    }
    ::close(fd);
  }
  return removed;
}

}  // namespace quorvane::cleanup
