#include "pool.hpp"

#include <algorithm>
#include <exception>
#include <utility>

namespace quorvane::service {

std::optional<ConversionResult> Ticket::WaitUntil(std::chrono::steady_clock::time_point until) {
  std::unique_lock lock(mutex_);
  done_.wait_until(lock, until, [this] { return result_.has_value(); });
  return result_;
}

float Ticket::progress() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

bool Ticket::started() const {
  std::lock_guard lock(mutex_);
  return started_;
}

ConversionPool::ConversionPool(std::size_t workers, std::size_t queueLength) : queueLength_(queueLength) {
  for (std::size_t i = 0; i < std::max<std::size_t>(workers, 1); ++i) threads_.emplace_back([this] { Work(); });
}

ConversionPool::~ConversionPool() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    ending_ = true;
  }
  StopAll("the server is ending");
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

std::shared_ptr<Ticket> ConversionPool::Submit(ConversionJob job, ConversionSettings settings, bool evenWhenFull) {
  auto ticket = std::make_shared<Ticket>(std::move(job), std::move(settings));
  {
    std::lock_guard lock(mutex_);
    if (closed_) return nullptr;
    // Tickets a free worker is about to take do not count as waiting.
    const std::size_t idle = threads_.size() - std::min(threads_.size(), running_);
    if (!evenWhenFull && queue_.size() + 1 > idle + queueLength_) return nullptr;
    queue_.push_back(ticket);
  }
  changed_.notify_all();
  return ticket;
}

void ConversionPool::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
}

void ConversionPool::StopAll(const std::string& reason) {
  std::lock_guard lock(mutex_);
  for (const auto& ticket : queue_) ticket->Stop(reason);
  for (const auto& ticket : active_) ticket->Stop(reason);
}

bool ConversionPool::WaitIdle(std::chrono::steady_clock::time_point until) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, until, [this] { return queue_.empty() && running_ == 0; });
}

std::size_t ConversionPool::waiting() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

std::size_t ConversionPool::running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

void ConversionPool::OnFinished(Finished handler) {
  std::lock_guard lock(mutex_);
  onFinished_ = std::move(handler);
}

void ConversionPool::Work() {
  LocalConverter converter;
  for (;;) {
    std::shared_ptr<Ticket> ticket;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return ending_ || !queue_.empty(); });
      if (queue_.empty()) return;
      ticket = std::move(queue_.front());
      queue_.pop_front();
      active_.push_back(ticket);
      ++running_;
    }
    ConversionResult result;
    const bool convert = !ticket->stop_->requested();
    if (!convert) {
      // Stopped while it waited: its client is gone or its time is up; nothing is converted.
      result = FailedCall(ticket->stop_->reason() + " before the conversion started");
    } else {
      {
        std::lock_guard lock(ticket->mutex_);
        ticket->started_ = true;
      }
      WatchForStop(ticket->stop_);
      try {
        result = converter.Convert(ticket->job_, ticket->settings_, [&ticket](float percent) {
          std::lock_guard lock(ticket->mutex_);
          ticket->progress_ = percent;
        });
      } catch (const std::exception& error) {
        result = FailedCall(std::string("internal error: ") + error.what());
      } catch (...) {
        result = FailedCall("internal error");
      }
      WatchForStop(nullptr);
    }
    Finished onFinished;
    {
      std::lock_guard lock(mutex_);
      onFinished = onFinished_;
    }
    if (onFinished && convert) onFinished(ticket->job_, ticket->settings_, result);
    {
      std::lock_guard lock(ticket->mutex_);
      ticket->result_ = std::move(result);
    }
    ticket->done_.notify_all();
    {
      std::lock_guard lock(mutex_);
      std::erase(active_, ticket);
      --running_;
    }
    changed_.notify_all();
  }
}

}  // namespace quorvane::service
