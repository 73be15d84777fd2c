#pragma once
// A worker: one office process and the one thread that talks to it.
//
// The thread spawns the office (so that the office dies with the thread, see office_process.hpp),
// connects, and then runs one job at a time on the session. The caller of Run waits for the job
// and watches the office meanwhile: past the call's deadline, or when the office's process group
// holds more resident memory than the call's bound (sampled every kMemorySampleInterval), the
// caller kills the office's process group, which breaks the connection, so the blocked call on the
// worker thread ends by itself, and Run fails with kWin32Timeout or kEOutOfMemory. A job owns its data
// (it is copied to the thread), so a thread that is left behind touches nothing of the caller's.
//
// Leftovers. The office's profile, log and temporary files (its TMPDIR) live in the worker's
// private folder, which the worker holds (cleanup::OwnedFolder) and removes when it stops; its two
// socket files, which the office makes in /tmp whatever TMPDIR says, are removed once it has ended.
// While a worker lives, an early exit of the process (cleanup::RunExitCleanup) kills its office and
// removes both; afterwards no worker starts an office any more.
//
// A worker is used by one caller at a time (the pool checks it out); Kill and the queries may come
// from any thread.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/cleanup.hpp"
#include "common/owned_folder.hpp"
#include "engines/libreoffice/office_process.hpp"
#include "quorvane/office_limits.hpp"

namespace quorvane::engines::libreoffice {

class OfficeSession;

// How often a waiting caller looks at the office's memory.
inline constexpr std::chrono::milliseconds kMemorySampleInterval{100};

// The name prefix of the workers' private folders.
inline constexpr const char* kWorkerFolderPrefix = "quorvane-office-";

// One call's bounds, and what to call the call in failure messages.
struct CallBounds {
  std::chrono::steady_clock::time_point deadline;
  std::chrono::milliseconds budget{0};  // what the deadline allowed, for messages
  std::uint64_t memoryBytes = 0;        // the office's bound; 0: none
  std::string what;                     // "converting 'a.pptx' to 'a.pdf'"
  std::shared_ptr<const ConversionStop> stop;  // the calling thread's (WatchForStop); may be null
};

// "Converting 'a.pptx' to 'a.pdf': the office did not finish within 240 s and was stopped"
std::string TimeoutDescription(const std::string& what, std::chrono::milliseconds budget);
// "Converting 'a.pptx' to 'a.pdf': the office used more than 4096 MiB of memory and was stopped"
std::string MemoryDescription(const std::string& what, std::uint64_t boundBytes);
// "Converting 'a.pptx' to 'a.pdf': the client went away and the office was stopped"
std::string StopDescription(const std::string& what, const std::string& reason);

// Whether the process is ending (the exit cleanup ran): no office is started any more.
bool ProcessEnding();

class Worker {
 public:
  using Clock = std::chrono::steady_clock;
  using Job = std::function<void(OfficeSession&)>;

  // Makes the private folder (profile, log, temporary files) and the thread; starts no office yet.
  // Throws kRpcServerUnavailable when the folder cannot be made or the process is ending.
  Worker(std::string programDirectory, const std::string& scratchDirectory, int serial);
  // Stop().
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Starts the office and connects to it. An office that exits with kOfficeRestartExitCode (fresh
  // profile) is started once more. Throws kWin32Timeout past the deadline or kEOutOfMemory above the
  // bound (the office is killed), or kRpcServerUnavailable naming how the office ended and the last
  // lines it printed.
  void Start(const CallBounds& bounds);

  // Runs `job` on the session. Throws what the job threw; kRpcServerUnavailable instead when the office
  // ended or the connection broke meanwhile (the worker is broken afterwards); kWin32Timeout past the
  // deadline and kEOutOfMemory above the memory bound (the office is killed), naming what the call
  // did and the bound.
  void Run(Job job, const CallBounds& bounds);

  // Whether another job may be given: started, not broken, the process still running.
  bool Healthy();
  // Kills the office (process group) and marks the worker broken.
  void Kill();
  // Ends the office: asks it to terminate (healthy workers), waits up to kTerminateGrace, kills
  // what is left, reaps it, ends the thread and removes the private folder. Idempotent.
  void Stop() noexcept;

  pid_t pid() const;
  int conversions() const { return conversions_; }
  void CountConversion() { ++conversions_; }
  // Whether a conversion (not a health check) is running; set by the pool around the job.
  bool converting() const { return converting_; }
  void SetConverting(bool value) { converting_ = value; }
  // Of the office's whole process group.
  std::optional<std::uint64_t> ResidentBytes() const;

  // The state the worker thread shares with the callers (worker.cpp).
  struct Shared;

 private:
  OfficeLaunch Launch() const;

  std::shared_ptr<Shared> shared_;
  std::string programDirectory_;
  std::string folder_;
  std::filesystem::path prepared_;  // the prepared profile of this office (empty: none can be kept)
  bool preparedCopied_ = false;     // the profile started from it
  cleanup::OwnedFolder folderHold_;
  std::string pipeName_;
  std::vector<cleanup::TemporaryPath> sockets_;
  cleanup::Hook exitHook_;
  std::atomic<int> conversions_{0};
  std::atomic<bool> converting_{false};
  bool stopped_ = false;
};

}  // namespace quorvane::engines::libreoffice
