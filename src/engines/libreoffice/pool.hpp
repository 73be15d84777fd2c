#pragma once
// The process's pool of workers, owned by the leases (renderer.hpp): its destructor, which runs
// when the last lease goes away, ends every office.
//
// A call checks a worker out (an idle one, checked for health first; else a new one while the pool
// is below its maximum; else it waits for one to come back), runs its job on it, and checks it in:
// kept for the next call, or stopped when it broke (it was killed at the call's deadline or memory
// bound, say), has done its share of conversions or grew past the memory ceiling.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engines/libreoffice/renderer.hpp"
#include "engines/libreoffice/worker.hpp"

namespace quorvane::engines::libreoffice::detail {

// Where workers make their private folders: RendererOptions::scratchDirectory, else the system's
// temporary folder.
std::string ScratchDirectory(const RendererOptions& options);

class Pool {
 public:
  Pool() = default;
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  // Runs `job` on a worker under `options` (read once by the caller for the whole call).
  void Run(const CallBounds& call, const RendererOptions& options, const Worker::Job& job);

  std::vector<WorkerStatus> Status();

  // Starts a worker in the background for the call about to come (RendererLease::Prestart).
  void Prestart(const CallBounds& call, const RendererOptions& options);

 private:
  struct Slot {
    std::shared_ptr<Worker> worker;
    bool busy = false;
  };

  std::shared_ptr<Worker> Checkout(const CallBounds& call, const RendererOptions& options);
  void Checkin(const std::shared_ptr<Worker>& worker, bool keep, std::size_t maxWorkers);
  void Discard(const std::shared_ptr<Worker>& worker);

  std::mutex mutex_;
  std::condition_variable freed_;
  std::vector<Slot> slots_;
  std::size_t starting_ = 0;
  int serial_ = 0;
  // The background start, and the worker it is starting (until it joins the slots). The next
  // caller waits for that worker rather than start one of its own.
  std::thread prestarter_;
  std::shared_ptr<Worker> prestarting_;
  bool prestartRunning_ = false;
  bool prestartClaimed_ = false;  // a caller waits for it
  bool ending_ = false;
};

}  // namespace quorvane::engines::libreoffice::detail
