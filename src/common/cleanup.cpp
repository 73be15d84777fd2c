#include "common/cleanup.hpp"

#include "quorvane/process.hpp"

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace quorvane::cleanup {
namespace {

struct Registry {
  std::mutex mutex;
  std::uint64_t next = 1;
  std::map<std::uint64_t, std::string> paths;
  std::map<std::uint64_t, std::function<void()>> hooks;
  bool ran = false;
};

// Never destroyed: registrations of static objects may outlive any ordinary static.
Registry& TheRegistry() {
  static auto* registry = new Registry;
  return *registry;
}

void Forget(std::uint64_t id, bool hook) {
  if (id == 0) return;
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  if (hook)
    registry.hooks.erase(id);
  else
    registry.paths.erase(id);
}

}  // namespace

TemporaryPath::TemporaryPath(std::string path) : path_(std::move(path)) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  id_ = registry.next++;
  registry.paths.emplace(id_, path_);
}

TemporaryPath::~TemporaryPath() { Release(); }

TemporaryPath::TemporaryPath(TemporaryPath&& other) noexcept
    : id_(std::exchange(other.id_, 0)), path_(std::move(other.path_)) {}

TemporaryPath& TemporaryPath::operator=(TemporaryPath&& other) noexcept {
  if (this != &other) {
    Release();
    id_ = std::exchange(other.id_, 0);
    path_ = std::move(other.path_);
  }
  return *this;
}

void TemporaryPath::Release() { Forget(std::exchange(id_, 0), false); }

Hook::Hook(std::function<void()> action) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  id_ = registry.next++;
  registry.hooks.emplace(id_, std::move(action));
}

Hook::~Hook() { Forget(std::exchange(id_, 0), true); }

Hook::Hook(Hook&& other) noexcept : id_(std::exchange(other.id_, 0)) {}

Hook& Hook::operator=(Hook&& other) noexcept {
  if (this != &other) {
    Forget(std::exchange(id_, 0), true);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

void RunExitCleanup() noexcept {
  Registry& registry = TheRegistry();
  std::vector<std::function<void()>> hooks;
  {
    std::lock_guard lock(registry.mutex);
    if (registry.ran) return;
    registry.ran = true;
    for (auto& [id, hook] : registry.hooks) hooks.push_back(hook);
  }
  // Outside the lock: a hook may end work whose owners unregister their own paths and hooks.
  for (auto& hook : hooks) {
    try {
      hook();
    } catch (...) {
    }
  }
  std::vector<std::string> paths;
  {
    std::lock_guard lock(registry.mutex);
    for (auto& [id, path] : registry.paths) paths.push_back(path);
  }
  for (const std::string& path : paths) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
}

}  // namespace quorvane::cleanup

namespace quorvane {
void PrepareForProcessExit() noexcept { cleanup::RunExitCleanup(); }
}  // namespace quorvane
