#pragma once
// What the process must not leave behind when it is ended early: the temporary files and folders
// the component made (staging beside outputs, office profiles, copies of inputs) and the processes
// it started (offices).
//
// Whoever makes such a thing registers it for as long as it exists: a TemporaryPath for a path, a
// Hook for anything else (the renderer's pool registers one that kills its offices). A host that is
// about to end its process on a signal calls RunExitCleanup() from an ordinary thread (the command
// waits for SIGINT and SIGTERM on a thread of its own): the hooks run first, so that no office
// writes into a folder being removed, then every registered path is removed with what it holds.
//
// Thread-safe. Nothing here is async-signal-safe: never call it from a signal handler.
#include <cstdint>
#include <functional>
#include <string>

namespace quorvane::cleanup {

// Registers `path` for removal at exit while the object lives. Destroying or releasing it only
// forgets the path: removing what is no longer needed, or moving it into place, stays the owner's
// job.
class TemporaryPath {
 public:
  TemporaryPath() = default;
  explicit TemporaryPath(std::string path);
  ~TemporaryPath();
  TemporaryPath(TemporaryPath&& other) noexcept;
  TemporaryPath& operator=(TemporaryPath&& other) noexcept;
  TemporaryPath(const TemporaryPath&) = delete;
  TemporaryPath& operator=(const TemporaryPath&) = delete;

  const std::string& path() const { return path_; }
  // Forgets the path now (it has been moved into place or removed).
  void Release();

 private:
  std::uint64_t id_ = 0;
  std::string path_;
};

// Runs `action` at exit while the object lives.
class Hook {
 public:
  Hook() = default;
  explicit Hook(std::function<void()> action);
  ~Hook();
  Hook(Hook&& other) noexcept;
  Hook& operator=(Hook&& other) noexcept;
  Hook(const Hook&) = delete;
  Hook& operator=(const Hook&) = delete;

 private:
  std::uint64_t id_ = 0;
};

// Runs every hook, then removes every registered path (folders with their content). Runs once:
// later calls return at once. Failures are ignored; nothing is thrown.
void RunExitCleanup() noexcept;

}  // namespace quorvane::cleanup
