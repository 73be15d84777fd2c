#include "common/office_limits.hpp"

#include <cstdlib>
#include <mutex>

namespace quorvane {
namespace {

struct Settings {
  std::mutex mutex;
  OfficeLimits set;
};

Settings& TheSettings() {
  static auto* settings = new Settings;  // never destroyed: offices may be stopped during static destruction
  return *settings;
}

// A whole number from 1 to `maximum`, else 0.
unsigned long long WholeNumber(const char* text, unsigned long long maximum) {
  if (text == nullptr || *text == '\0') return 0;
  unsigned long long value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return 0;
    value = value * 10 + static_cast<unsigned long long>(*c - '0');
    if (value > maximum) return 0;
  }
  return value;
}

}  // namespace

namespace office_limits {

OfficeLimits Resolve(const OfficeLimits& set, const char* memoryMib, const char* baseSeconds,
                     const char* slideMilliseconds) {
  OfficeLimits out = set;
  if (out.memoryBytes == 0) {
    unsigned long long mib = WholeNumber(memoryMib, kMaxMemoryMib);
    out.memoryBytes = mib != 0 ? mib << 20 : kDefaultOfficeMemoryBytes;
  }
  if (out.baseDeadline.count() <= 0) {
    unsigned long long seconds = WholeNumber(baseSeconds, kMaxBaseSeconds);
    out.baseDeadline = seconds != 0 ? std::chrono::milliseconds(seconds * 1000) : kDefaultOfficeBaseDeadline;
  }
  if (out.perSlide.count() <= 0) {
    unsigned long long milliseconds = WholeNumber(slideMilliseconds, kMaxSlideMilliseconds);
    out.perSlide =
        milliseconds != 0 ? std::chrono::milliseconds(milliseconds) : kDefaultOfficeSlideAllowance;
  }
  return out;
}

}  // namespace office_limits

OfficeLimits GetOfficeLimits() {
  OfficeLimits set;
  {
    Settings& settings = TheSettings();
    std::lock_guard lock(settings.mutex);
    set = settings.set;
  }
  return office_limits::Resolve(set, std::getenv(office_limits::kMemoryVariable),
                                std::getenv(office_limits::kBaseDeadlineVariable),
                                std::getenv(office_limits::kSlideAllowanceVariable));
}

void SetOfficeLimits(const OfficeLimits& limits) {
  Settings& settings = TheSettings();
  std::lock_guard lock(settings.mutex);
  settings.set = limits;
}

void ConversionStop::Request(const std::string& reason) {
  std::lock_guard lock(mutex_);
  if (requested_.load()) return;
  reason_ = reason;
  requested_ = true;
}

std::string ConversionStop::reason() const {
  std::lock_guard lock(mutex_);
  return reason_;
}

namespace {
thread_local std::shared_ptr<const ConversionStop> gWatched;
std::atomic<std::uint64_t> gOfficesStarted{0};
}  // namespace

void office_limits::CountOfficeStart() noexcept { ++gOfficesStarted; }

std::uint64_t OfficesStarted() noexcept { return gOfficesStarted.load(); }

void WatchForStop(std::shared_ptr<const ConversionStop> stop) { gWatched = std::move(stop); }

std::shared_ptr<const ConversionStop> WatchedStop() { return gWatched; }

}  // namespace quorvane
