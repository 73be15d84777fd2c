#include "log.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <random>

namespace quorvane::service {
namespace {

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
  return text;
}

}  // namespace

void LogLine(const std::string& level, const std::string& event, nlohmann::json fields) {
  nlohmann::ordered_json line{{"time", UtcNow()}, {"level", level}, {"event", event}};
  for (auto& [key, value] : fields.items()) line[key] = value;
  const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

std::string NewRequestId() {
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  std::uint64_t value = 0;
  {
    std::lock_guard lock(mutex);
    value = generator();
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

std::string RequestIdFrom(const std::string& sent) {
  if (sent.empty() || sent.size() > 64) return NewRequestId();
  for (const char c : sent) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                    c == '_' || c == '.';
    if (!ok) return NewRequestId();
  }
  return sent;
}

}  // namespace quorvane::service
