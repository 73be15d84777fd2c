#include "engines/libreoffice/pool.hpp"

#include <algorithm>
#include <filesystem>

#include "engines/libreoffice/failures.hpp"
#include "engines/libreoffice/uno_session.hpp"

namespace quorvane::engines::libreoffice::detail {

std::string ScratchDirectory(const RendererOptions& options) {
  if (!options.scratchDirectory.empty()) return options.scratchDirectory;
  std::error_code ec;
  std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
  return ec ? std::string("/tmp") : temp.string();
}

Pool::~Pool() {
  {
    // A background start is cut short: nobody will use its office.
    std::lock_guard lock(mutex_);
    ending_ = true;
    if (prestarting_) prestarting_->Kill();
  }
  if (prestarter_.joinable()) prestarter_.join();
  std::vector<Slot> slots;
  {
    std::lock_guard lock(mutex_);
    slots.swap(slots_);
  }
  for (Slot& slot : slots) slot.worker->Stop();
}

void Pool::Run(const CallBounds& call, const RendererOptions& options, const Worker::Job& job) {
  std::shared_ptr<Worker> worker = Checkout(call, options);
  try {
    worker->SetConverting(true);
    worker->Run(job, call);
    worker->SetConverting(false);
  } catch (...) {
    worker->SetConverting(false);
    worker->CountConversion();
    Checkin(worker, worker->Healthy(), options.maxWorkers);
    throw;
  }
  worker->CountConversion();
  bool worn = options.recycleAfter > 0 && worker->conversions() >= options.recycleAfter;
  std::optional<std::uint64_t> resident = worker->ResidentBytes();
  // An office that keeps more than half its memory bound after a conversion would likely pass the
  // bound in the next one, and that conversion would fail: it is retired now instead.
  const std::uint64_t ceiling =
      call.memoryBytes > 0 ? std::min(options.memoryCeilingBytes, call.memoryBytes / 2) : options.memoryCeilingBytes;
  bool bloated = resident && *resident > ceiling;
  Checkin(worker, worker->Healthy() && !worn && !bloated, options.maxWorkers);
}

std::shared_ptr<Worker> Pool::Checkout(const CallBounds& call, const RendererOptions& options) {
  std::size_t maximum = std::max<std::size_t>(options.maxWorkers, 1);
  std::unique_lock lock(mutex_);
  bool claimed = false;
  for (;;) {
    auto idle = std::find_if(slots_.begin(), slots_.end(), [](const Slot& s) { return !s.busy; });
    if (idle != slots_.end()) {
      idle->busy = true;
      std::shared_ptr<Worker> worker = idle->worker;
      lock.unlock();
      // An office may have died or hung since its last conversion: look before using it.
      bool healthy = worker->Healthy();
      if (healthy) {
        CallBounds probe{std::min(call.deadline, Worker::Clock::now() + kProbeTimeout), kProbeTimeout,
                         call.memoryBytes, "answering a health check", nullptr};
        try {
          worker->Run([](OfficeSession& session) { session.Probe(); }, probe);
        } catch (const AutomationError&) {
          healthy = false;
        }
      }
      if (healthy) return worker;
      Discard(worker);
      if (Worker::Clock::now() >= call.deadline)
        Fail(failure::kWin32Timeout, TimeoutDescription(call.what, call.budget));
      lock.lock();
      continue;
    }
    // The office a background start is making is the first waiting caller's.
    if (prestartRunning_ && (claimed || !prestartClaimed_)) {
      prestartClaimed_ = claimed = true;
      if (!freed_.wait_until(lock, call.deadline, [&] {
            return !prestartRunning_ ||
                   std::any_of(slots_.begin(), slots_.end(), [](const Slot& s) { return !s.busy; });
          })) {
        Fail(failure::kWin32Timeout, "No LibreOffice worker became free for " + call.what + " within the call's deadline");
      }
      continue;
    }
    if (slots_.size() + starting_ < maximum) {
      ++starting_;
      int serial = ++serial_;
      lock.unlock();
      std::shared_ptr<Worker> worker;
      try {
        std::string program = options.programDirectory.empty() ? DefaultProgramDirectory() : options.programDirectory;
        worker = std::make_shared<Worker>(program, ScratchDirectory(options), serial);
        worker->Start(call);
      } catch (...) {
        if (worker) worker->Stop();
        lock.lock();
        --starting_;
        freed_.notify_all();
        throw;
      }
      lock.lock();
      --starting_;
      slots_.push_back(Slot{worker, true});
      return worker;
    }
    if (!freed_.wait_until(lock, call.deadline, [&] {
          return slots_.size() + starting_ < maximum ||
                 std::any_of(slots_.begin(), slots_.end(), [](const Slot& s) { return !s.busy; });
        })) {
      Fail(failure::kWin32Timeout,
           "No LibreOffice worker became free for " + call.what + " within the call's deadline");
    }
  }
}

void Pool::Prestart(const CallBounds& call, const RendererOptions& options) {
  std::lock_guard lock(mutex_);
  const bool idle = std::any_of(slots_.begin(), slots_.end(), [](const Slot& s) { return !s.busy; });
  if (ending_ || idle || starting_ > 0 || prestartRunning_ ||
      slots_.size() >= std::max<std::size_t>(options.maxWorkers, 1))
    return;
  // The thread of an earlier start has done its work (it clears prestartRunning_ last).
  if (prestarter_.joinable()) prestarter_.join();
  prestartRunning_ = true;
  ++starting_;
  const int serial = ++serial_;
  prestarter_ = std::thread([this, call, options, serial] {
    std::shared_ptr<Worker> worker;
    try {
      std::string program = options.programDirectory.empty() ? DefaultProgramDirectory() : options.programDirectory;
      worker = std::make_shared<Worker>(program, ScratchDirectory(options), serial);
      {
        std::lock_guard guard(mutex_);
        if (ending_) Fail(failure::kRpcServerUnavailable, "the renderer is ending");
        prestarting_ = worker;
      }
      worker->Start(call);
    } catch (...) {
      // The caller waiting for it starts one of its own, and says why that fails.
      if (worker) worker->Stop();
      worker.reset();
    }
    std::lock_guard guard(mutex_);
    --starting_;
    if (worker) slots_.push_back(Slot{worker, false});
    prestarting_.reset();
    prestartRunning_ = false;
    prestartClaimed_ = false;
    freed_.notify_all();
  });
}

void Pool::Checkin(const std::shared_ptr<Worker>& worker, bool keep, std::size_t maxWorkers) {
  {
    std::lock_guard lock(mutex_);
    // A pool above its (lowered) maximum shrinks as its workers come back.
    if (keep && slots_.size() <= std::max<std::size_t>(maxWorkers, 1)) {
      for (Slot& slot : slots_) {
        if (slot.worker == worker) slot.busy = false;
      }
      freed_.notify_all();
      return;
    }
  }
  Discard(worker);
}

void Pool::Discard(const std::shared_ptr<Worker>& worker) {
  {
    std::lock_guard lock(mutex_);
    std::erase_if(slots_, [&](const Slot& s) { return s.worker == worker; });
    freed_.notify_all();
  }
  worker->Stop();
}

std::vector<WorkerStatus> Pool::Status() {
  std::lock_guard lock(mutex_);
  std::vector<WorkerStatus> out;
  for (const Slot& slot : slots_)
    out.push_back(WorkerStatus{slot.worker->pid(), slot.worker->converting(), slot.worker->conversions()});
  return out;
}

}  // namespace quorvane::engines::libreoffice::detail
