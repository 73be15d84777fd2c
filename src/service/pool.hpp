#pragma once
// The server's workers: each a thread with a control of its own (and through it a warm office),
// taking conversions from one queue in the order they came.
//
// A conversion is a Ticket. Whoever submitted it waits for it, watches its progress, and may stop
// it: a ticket stopped while it waits is never converted; one stopped while it converts has its
// office stopped (quorvane::ConversionStop) and fails. The queue has a length: a submission beyond
// the running conversions and that many waiting ones is refused, unless it asks to wait anyway.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "conversion.hpp"
#include "quorvane/office_limits.hpp"

namespace quorvane::service {

class Ticket {
 public:
  Ticket(ConversionJob job, ConversionSettings settings)
      : job_(std::move(job)), settings_(std::move(settings)), stop_(std::make_shared<ConversionStop>()) {}

  // Waits until the conversion has a result or `until` passes; the result, if it has one.
  std::optional<ConversionResult> WaitUntil(std::chrono::steady_clock::time_point until);
  // Stops the conversion (see the file's comment); `reason` ends the failure's description.
  void Stop(const std::string& reason) { stop_->Request(reason); }
  // The control's PercentageComplete, from 0 to 100.
  float progress() const;
  bool started() const;

 private:
  friend class ConversionPool;
  ConversionJob job_;
  ConversionSettings settings_;
  std::shared_ptr<ConversionStop> stop_;
  mutable std::mutex mutex_;
  std::condition_variable done_;
  bool started_ = false;
  float progress_ = 0;
  std::optional<ConversionResult> result_;
};

class ConversionPool {
 public:
  // `workers` threads (at least 1); `queueLength` waiting tickets at most.
  ConversionPool(std::size_t workers, std::size_t queueLength);
  // Stops what is waiting and running, and ends the workers.
  ~ConversionPool();
  ConversionPool(const ConversionPool&) = delete;
  ConversionPool& operator=(const ConversionPool&) = delete;

  // The ticket of a new conversion; nullptr when the pool is closed, or when the queue is full and
  // `evenWhenFull` is false.
  std::shared_ptr<Ticket> Submit(ConversionJob job, ConversionSettings settings, bool evenWhenFull = false);
  // Takes no more tickets.
  void Close();
  // Stops every ticket waiting or converting, with `reason`.
  void StopAll(const std::string& reason);
  // Waits until nothing waits or runs, or `until` passes; whether nothing does.
  bool WaitIdle(std::chrono::steady_clock::time_point until);

  std::size_t workers() const { return threads_.size(); }
  std::size_t waiting() const;
  std::size_t running() const;

  // Called with every conversion that ran (on the worker's thread).
  using Finished = std::function<void(const ConversionJob&, const ConversionSettings&, const ConversionResult&)>;
  void OnFinished(Finished handler);

 private:
  void Work();

  const std::size_t queueLength_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Ticket>> queue_;
  std::vector<std::shared_ptr<Ticket>> active_;  // converting now
  std::size_t running_ = 0;
  bool closed_ = false;
  bool ending_ = false;
  Finished onFinished_;
  std::vector<std::thread> threads_;
};

}  // namespace quorvane::service
