#include "common/owned_folder.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <utility>

#include "common/failures.hpp"
#include "common/platform.hpp"
#include "common/text.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::cleanup {

TemporaryFolder::TemporaryFolder() {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = platform::Utf8Path(base / "quorvane-render-XXXXXX");
  if (!platform::MakeUniqueFolder(pattern))
    throw AutomationError(failure::kEAccessDenied, u"Cannot make a temporary folder for the renderer in \"" +
                                                       text::FromUtf8(platform::Utf8Path(base)) + u"\": " +
                                                       text::FromUtf8(std::strerror(errno)) + u".");
  path_ = pattern;
  hold_ = OwnedFolder(path_);
}

TemporaryFolder::~TemporaryFolder() { RemoveFolder(path_); }

void RemoveFolder(const std::string& path) noexcept {
  for (int attempt = 0; attempt < 5; ++attempt) {
    std::error_code ignored;
    const std::filesystem::path folder = platform::FilesystemPath(path);
    std::filesystem::remove_all(folder, ignored);
    if (!std::filesystem::exists(std::filesystem::symlink_status(folder, ignored))) return;
  }
}

OwnedFolder::OwnedFolder(const std::string& path) : registration_(path), removal_([path] { RemoveFolder(path); }) {
  fd_ = platform::LockFolder(path);
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
  platform::UnlockFolder(fd_);
  fd_ = -1;
}

std::vector<std::string> SweepLeftovers(const std::string& parent, const std::vector<std::string>& prefixes,
                                        std::chrono::seconds minimumAge) {
  std::vector<std::string> removed;
  std::vector<std::string> candidates;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(platform::FilesystemPath(parent), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = platform::Utf8Path(it->path().filename());
    for (const std::string& prefix : prefixes) {
      if (name.size() > prefix.size() && name.starts_with(prefix)) candidates.push_back(parent + "/" + name);
    }
  }
  const std::time_t now = std::time(nullptr);
  for (const std::string& path : candidates) {
    // Only this user's own folders, never a link to somewhere else.
    const std::optional<std::time_t> changed = platform::OwnFolderChanged(path);
    if (!changed || now - *changed < static_cast<std::time_t>(minimumAge.count())) continue;
    // Held while it is removed, so that no other sweeper takes it for its own meanwhile.
    const int fd = platform::LockFolder(path);
    if (fd < 0) continue;
    RemoveFolder(path);
    std::error_code ignored;
    if (!std::filesystem::exists(platform::FilesystemPath(path), ignored)) removed.push_back(path);
    platform::UnlockFolder(fd);
  }
  return removed;
}

}  // namespace quorvane::cleanup
