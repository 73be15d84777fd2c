#include "signals.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "quorvane/process.hpp"

namespace quorvane::cli {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct OwnPaths {
  std::mutex mutex;
  int next = 1;
  std::map<int, std::string> paths;
};

OwnPaths& Paths() {
  static auto* paths = new OwnPaths;  // used by the signal thread until the process ends
  return *paths;
}

sigset_t Handled() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kSignals) sigaddset(&set, signal);
  return set;
}

// Set as the signal thread starts ending the process. The conversion it interrupts may then fail
// and main return while the cleanup is still at work: the exit waits here for the signal thread,
// which ends the process itself.
std::atomic<bool> gEnding{false};

void WaitForTheSignalThread() {
  if (!gEnding.load()) return;
  for (;;) ::pause();
}

[[noreturn]] void EndOn(int signal) {
  gEnding = true;
  quorvane::PrepareForProcessExit();
  {
    OwnPaths& own = Paths();
    std::lock_guard lock(own.mutex);
    for (const auto& [number, path] : own.paths) {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  }
  // End as the signal would have: its default action, with the signal unblocked on this thread.
  ::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);
}

// What the first signal does instead of ending the process (DrainOnSignal); kept until the process
// ends, as the signal thread may still read it.
struct Drain {
  std::mutex mutex;
  std::function<void(int, pid_t)> action;
};

Drain& TheDrain() {
  static auto* drain = new Drain;
  return *drain;
}

}  // namespace

void EndCleanlyOnSignals() {
  const sigset_t set = Handled();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::atexit(WaitForTheSignalThread);
  std::thread([set] {
    for (;;) {
      siginfo_t info{};
      while (sigwaitinfo(&set, &info) < 0) {
      }
      const int signal = info.si_signo;
      std::function<void(int, pid_t)> drain;
      {
        std::lock_guard lock(TheDrain().mutex);
        drain = std::exchange(TheDrain().action, nullptr);
      }
      if (!drain) EndOn(signal);
      drain(signal, info.si_pid);
    }
  }).detach();
}

void DrainOnSignal(std::function<void(int signal, pid_t sender)> drain) {
  std::lock_guard lock(TheDrain().mutex);
  TheDrain().action = std::move(drain);
}

int RemoveOnSignal(const std::string& path) {
  OwnPaths& own = Paths();
  std::lock_guard lock(own.mutex);
  own.paths.emplace(own.next, path);
  return own.next++;
}

void ForgetOnSignal(int number) {
  OwnPaths& own = Paths();
  std::lock_guard lock(own.mutex);
  own.paths.erase(number);
}

}  // namespace quorvane::cli
