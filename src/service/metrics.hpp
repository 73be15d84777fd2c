#pragma once
// What the server counts, and its Prometheus text exposition.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::service {

// What is read at the moment of a scrape rather than counted.
struct Gauges {
  std::size_t waiting = 0;
  std::size_t running = 0;
  std::size_t workers = 0;
  bool draining = false;
  std::uint64_t officesStarted = 0;
  std::uint64_t residentBytes = 0;  // the server and every process it started
};

class Metrics {
 public:
  void CountConversion(std::int32_t type, std::int32_t code, double seconds);
  void CountRequest(const std::string& path, int status);
  std::string Exposition(const Gauges& gauges) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<std::int32_t, std::int32_t>, std::uint64_t> conversions_;  // (type, code)
  std::vector<std::uint64_t> buckets_ = std::vector<std::uint64_t>(kBounds.size(), 0);
  std::uint64_t count_ = 0;
  double sum_ = 0;
  std::map<std::pair<std::string, int>, std::uint64_t> requests_;  // (path, status)

  static inline const std::vector<double> kBounds{0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 120, 300};
};

// The resident memory of this process and all its descendants (offices, their helpers), from /proc.
std::uint64_t TreeResidentBytes();

}  // namespace quorvane::service
