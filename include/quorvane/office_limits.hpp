#pragma once
// Bounds on the office processes the component runs to draw slides and to read and write foreign
// formats: how much memory one office may use and how long one call to it may take.
//
// The limits are process-wide and read at the start of every call, so a change applies to the next
// call. An office that goes above its memory bound, or a call that runs past its deadline, is
// stopped (the office is killed and replaced at the next need) and the call fails with a
// description that says which bound it met: "... the office used more than 4096 MiB of memory and
// was stopped", "... the office did not finish within 240 s and was stopped".
//
// The deadline of a call grows with the deck: the base deadline plus the per-slide allowance for
// every slide the office loads (counted in the file where that is cheap, estimated from the file's
// size where not) and every slide picture it draws.
//
// Hosts that cannot call SetOfficeLimits set environment variables instead, read at every call:
// QUORVANE_RENDER_MEMORY_MIB, QUORVANE_RENDER_TIMEOUT_SECONDS (the base deadline) and
// QUORVANE_RENDER_SLIDE_MILLISECONDS. A value set through SetOfficeLimits wins over the variable.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "quorvane/export.hpp"

namespace quorvane {

struct OfficeLimits {
  // Resident memory of one office, all its processes together. 0: the environment's value, else
  // kDefaultOfficeMemoryBytes.
  std::uint64_t memoryBytes = 0;
  // What every call may take. 0: the environment's value, else kDefaultOfficeBaseDeadline.
  std::chrono::milliseconds baseDeadline{0};
  // What every slide loaded or drawn adds. 0: the environment's value, else kDefaultOfficeSlideAllowance.
  std::chrono::milliseconds perSlide{0};
};

inline constexpr std::uint64_t kDefaultOfficeMemoryBytes = std::uint64_t{4} << 30;  // 4 GiB
inline constexpr std::chrono::milliseconds kDefaultOfficeBaseDeadline{120'000};
inline constexpr std::chrono::milliseconds kDefaultOfficeSlideAllowance{2'000};

// The limits in force now, every field resolved (none is 0).
QUORVANE_API OfficeLimits GetOfficeLimits();

// Sets the limits of the calls that start from now on; a field of 0 goes back to the environment's
// value, else the default.
QUORVANE_API void SetOfficeLimits(const OfficeLimits& limits);

// Stopping a conversion from another thread, for a host that converts on behalf of others: a
// request whose client went away, or that ran out of its time. A thread watches one stop
// (WatchForStop); once Request has been called, the office call that thread is waiting for is
// ended as at a deadline (the office is killed and replaced at the next need) and the call fails
// with failure::kWin32Timeout and a description ending in the reason: "Converting 'a.pptx' to
// 'a.pdf': the request ran past its deadline of 300 s and the office was stopped". Calls the thread
// makes afterwards fail the same way before they start. The conversions the component does without
// an office are bounded by their input limits and run to their end.
class QUORVANE_API ConversionStop {
 public:
  // The first reason given wins; a later call does nothing.
  void Request(const std::string& reason);
  bool requested() const noexcept { return requested_.load(); }
  std::string reason() const;

 private:
  std::atomic<bool> requested_{false};
  mutable std::mutex mutex_;
  std::string reason_;
};

// The stop the calling thread's office calls watch from now on; nullptr: none.
QUORVANE_API void WatchForStop(std::shared_ptr<const ConversionStop> stop);
// The stop the calling thread watches (nullptr: none).
QUORVANE_API std::shared_ptr<const ConversionStop> WatchedStop();

// How many offices the process has started so far: the first of each worker, and every one that
// replaced an office that ended, broke or was stopped at a bound.
QUORVANE_API std::uint64_t OfficesStarted() noexcept;

}  // namespace quorvane
