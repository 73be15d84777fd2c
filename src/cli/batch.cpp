#include "batch.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "output.hpp"
#include "quorvane/automation_error.hpp"
#include "quorvane/catalog.hpp"
#include "quorvane/control.hpp"
#include "quorvane/utf.hpp"

namespace quorvane::cli {
namespace {

// How often the waiting thread redraws the bar when no event comes (the elapsed time moves on
// while an office renders a large deck).
constexpr auto kTickInterval = std::chrono::milliseconds(250);

// The order in which the workers take the jobs. One worker takes them as they come, so that each
// result can be delivered as soon as it is ready. Several take the largest inputs first: a large
// deck taken last would leave the other workers idle while it finishes, and file size is the best
// guess of a conversion's cost available before it starts (an input that cannot be read counts as
// empty). The results are still delivered in input order.
std::vector<std::size_t> TakingOrder(const std::vector<ConversionJob>& jobs, std::size_t threads) {
  std::vector<std::size_t> order(jobs.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  if (threads < 2) return order;
  std::vector<std::uintmax_t> sizes(jobs.size(), 0);
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(jobs[i].inputPath, error);
    if (!error) sizes[i] = size;
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });
  return order;
}

// The hand-over between the workers and the thread that delivers results in input order.
struct Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::size_t> order;  // the jobs in the order workers take them
  std::size_t next = 0;            // the place in `order` of the next job a worker takes
  std::size_t running = 0;  // workers that have not ended
  std::vector<std::optional<ConversionResult>> results;
};

using service::FailedCall;

void Work(const std::vector<ConversionJob>& jobs, const ConversionSettings& settings,
          const std::function<std::unique_ptr<Converter>()>& makeConverter, StatusLine& status, Shared& shared) {
  // Whatever happens to this worker, every job it took gets a result, so the deliverer never waits
  // for nothing.
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t taken = kNone;
  const auto post = [&](std::size_t index, ConversionResult result) {
    status.Finished(index);
    std::lock_guard lock(shared.mutex);
    shared.results[index] = std::move(result);
    shared.changed.notify_all();
  };
  const auto take = [&]() -> std::size_t {
    std::lock_guard lock(shared.mutex);
    return shared.next < shared.order.size() ? shared.order[shared.next++] : kNone;
  };
  try {
    const std::unique_ptr<Converter> converter = makeConverter();
    while ((taken = take()) != kNone) {
      const std::size_t index = taken;
      // The bar names an input from the moment its conversion starts: opening a large deck can
      // take a while before its first Progress.
      status.Progress(index, 0.0f);
      ConversionResult result =
          converter->Convert(jobs[taken], settings, [&status, index](float percent) { status.Progress(index, percent); });
      taken = kNone;
      post(index, std::move(result));
    }
    // The control ends here, and with it the engines it kept (a failure to end them has been
    // reported through onerror, to no job).
  } catch (const std::exception& error) {
    if (taken != kNone) post(taken, FailedCall(std::string("internal error: ") + error.what()));
  } catch (...) {
    if (taken != kNone) post(taken, FailedCall("internal error"));
  }
  std::lock_guard lock(shared.mutex);
  --shared.running;
  shared.changed.notify_all();
}

}  // namespace

void RunConversions(const std::vector<ConversionJob>& jobs, const ConversionSettings& settings, std::size_t workers,
                    const std::function<std::unique_ptr<Converter>()>& makeConverter, StatusLine& status,
                    const std::function<void(std::size_t index, const ConversionResult& result)>& deliver) {
  Shared shared;
  shared.results.resize(jobs.size());
  const std::size_t threads = std::clamp<std::size_t>(workers, 1, std::max<std::size_t>(jobs.size(), 1));
  shared.order = TakingOrder(jobs, threads);
  std::vector<std::thread> pool;
  for (std::size_t i = 0; i < threads && !jobs.empty(); ++i) {
    std::lock_guard lock(shared.mutex);
    try {
      pool.emplace_back(Work, std::cref(jobs), std::cref(settings), std::cref(makeConverter), std::ref(status),
                        std::ref(shared));
      ++shared.running;
    } catch (const std::system_error&) {
      break;  // fewer workers than asked for; with none, every input fails below
    }
  }

  for (std::size_t index = 0; index < jobs.size(); ++index) {
    std::optional<ConversionResult> result;
    {
      std::unique_lock lock(shared.mutex);
      while (!shared.results[index]) {
        // A worker that failed leaves the rest of the queue to the others; when none is left, the
        // inputs nobody took fail here.
        if (shared.running == 0) {
          shared.results[index] = FailedCall("no worker was left to convert it");
          break;
        }
        lock.unlock();
        status.Tick();
        lock.lock();
        shared.changed.wait_for(lock, kTickInterval, [&] { return shared.results[index].has_value(); });
      }
      result = std::move(shared.results[index]);
      shared.results[index].reset();
    }
    deliver(index, *result);
  }
  for (std::thread& thread : pool) thread.join();
}

}  // namespace quorvane::cli
