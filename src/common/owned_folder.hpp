#pragma once
// Private folders whose owner can be told, so that the leftovers of a process that died without
// cleaning up (killed, crashed) are removed by the next one.
//
// The owner holds an exclusive flock on the folder itself for as long as the folder is in use. The
// kernel drops the lock when the owner's process ends, however it ends, so a folder nobody holds
// belongs to no living process; a reused process id changes nothing.
#include <chrono>
#include <string>
#include <vector>

#include "common/cleanup.hpp"

namespace quorvane::cleanup {

// Marks `path` (a folder just made) as this process's and registers it for removal at exit. The exit
// cleanup removes it in a hook (before the registered paths), retrying while an owner that is being
// interrupted removes it at the same time. Destroying the object releases the lock and the
// registration; removing the folder stays the owner's job.
class OwnedFolder {
 public:
  OwnedFolder() = default;
  explicit OwnedFolder(const std::string& path);
  ~OwnedFolder();
  OwnedFolder(OwnedFolder&& other) noexcept;
  OwnedFolder& operator=(OwnedFolder&& other) noexcept;
  OwnedFolder(const OwnedFolder&) = delete;
  OwnedFolder& operator=(const OwnedFolder&) = delete;

  // Whether the lock is held (false when the folder could not be opened or locked).
  bool held() const { return fd_ >= 0; }

 private:
  void Close() noexcept;

  TemporaryPath registration_;
  Hook removal_;
  int fd_ = -1;
};

// A private folder `quorvane-render-XXXXXX` under the system's temporary folder (TMPDIR) for the
// engines' work files, made with mkdtemp (mode 0700, so nobody else can put or read files in it)
// and held as this process's: it is removed with everything in it when the object goes, at an
// early exit, or by a later process should this one die. Throws AutomationError kEAccessDenied when it cannot be made.
class TemporaryFolder {
 public:
  TemporaryFolder();
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  OwnedFolder hold_;
};

// Removes `path` with what it holds, trying again while something else removes parts of it at the
// same time (a concurrent removal makes a single pass stop early). Never throws.
void RemoveFolder(const std::string& path) noexcept;

// Removes every folder `<parent>/<prefix>...` (for each prefix) that no process holds and that has
// not changed for `minimumAge` (a folder a living process has just made and not yet locked is
// young). Returns the folders removed. Never throws.
std::vector<std::string> SweepLeftovers(const std::string& parent, const std::vector<std::string>& prefixes,
                                        std::chrono::seconds minimumAge);

}  // namespace quorvane::cleanup
