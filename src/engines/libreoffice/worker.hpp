#pragma once
// A worker: one office process and the one thread that talks to it.
//
// The thread spawns the office (so that the office dies with the thread, see office_process.hpp),
// connects, and then runs one job at a time on the session. The caller of Run waits for the job
// with a deadline; past it, the caller kills the office's process group, which breaks the
// connection, so the blocked call on the worker thread ends by itself, and Run fails with kTimeout.
// A job owns its data (it is copied to the thread), so a thread that is left behind touches nothing
// of the caller's.
//
// A worker is used by one caller at a time (the pool checks it out); Kill and the queries may come
// from any thread.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engines/libreoffice/office_process.hpp"

namespace quorvane::engines::libreoffice {

class OfficeSession;

// "LibreOffice did not finish <what> within <budget> s; the office was ended"
std::string TimeoutDescription(const std::string& what, std::chrono::milliseconds budget);

class Worker {
 public:
  using Clock = std::chrono::steady_clock;
  using Job = std::function<void(OfficeSession&)>;

  // Makes the private folder (profile, log) and the thread; starts no office yet. Throws
  // kOfficeUnavailable when the folder cannot be made.
  Worker(std::string programDirectory, const std::string& scratchDirectory, int serial);
  // Stop().
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Starts the office and connects to it. An office that exits with kOfficeRestartExitCode (fresh
  // profile) is started once more. Throws kTimeout past the deadline (the office is killed), or
  // kOfficeUnavailable naming how the office ended and the last lines it printed.
  void Start(Clock::time_point deadline, std::chrono::milliseconds budget);

  // Runs `job` on the session. Throws what the job threw; kOfficeUnavailable instead when the office
  // ended or the connection broke meanwhile (the worker is broken afterwards); kTimeout past the
  // deadline, naming `what` ("converting 'a.pptx' to 'a.pdf'") and the budget.
  void Run(Job job, Clock::time_point deadline, std::chrono::milliseconds budget, const std::string& what);

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
  std::optional<std::uint64_t> ResidentBytes() const;

  // The state the worker thread shares with the callers (worker.cpp).
  struct Shared;

 private:
  OfficeLaunch Launch() const;

  std::shared_ptr<Shared> shared_;
  std::string programDirectory_;
  std::string folder_;
  std::string pipeName_;
  std::atomic<int> conversions_{0};
  std::atomic<bool> converting_{false};
  bool stopped_ = false;
};

}  // namespace quorvane::engines::libreoffice
