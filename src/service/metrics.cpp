#include "metrics.hpp"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace quorvane::service {
namespace {

std::string Number(double value) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << value;
  return out.str();
}

}  // namespace

void Metrics::CountConversion(std::int32_t type, std::int32_t code, double seconds) {
  std::lock_guard lock(mutex_);
  ++conversions_[{type, code}];
  for (std::size_t i = 0; i < kBounds.size(); ++i)
    if (seconds <= kBounds[i]) ++buckets_[i];
  ++count_;
  sum_ += seconds;
}

void Metrics::CountRequest(const std::string& path, int status) {
  std::lock_guard lock(mutex_);
  ++requests_[{path, status}];
}

std::string Metrics::Exposition(const Gauges& g) const {
  std::lock_guard lock(mutex_);
  std::string out;
  out += "# HELP quorvane_conversions_total Conversions finished, by target type and result code.\n";
  out += "# TYPE quorvane_conversions_total counter\n";
  for (const auto& [key, n] : conversions_)
    out += "quorvane_conversions_total{type=\"" + std::to_string(key.first) + "\",code=\"" +
           std::to_string(key.second) + "\"} " + std::to_string(n) + "\n";
  out += "# HELP quorvane_conversion_seconds Time of a conversion on its worker.\n";
  out += "# TYPE quorvane_conversion_seconds histogram\n";
  for (std::size_t i = 0; i < kBounds.size(); ++i)
    out += "quorvane_conversion_seconds_bucket{le=\"" + Number(kBounds[i]) + "\"} " + std::to_string(buckets_[i]) + "\n";
  out += "quorvane_conversion_seconds_bucket{le=\"+Inf\"} " + std::to_string(count_) + "\n";
  out += "quorvane_conversion_seconds_sum " + Number(sum_) + "\n";
  out += "quorvane_conversion_seconds_count " + std::to_string(count_) + "\n";
  out += "# HELP quorvane_http_requests_total HTTP requests answered, by path and status.\n";
  out += "# TYPE quorvane_http_requests_total counter\n";
  for (const auto& [key, n] : requests_)
    out += "quorvane_http_requests_total{path=\"" + key.first + "\",status=\"" + std::to_string(key.second) + "\"} " +
           std::to_string(n) + "\n";
  const auto gauge = [&out](const char* name, const char* help, const std::string& value, const char* type = "gauge") {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" + name + " " + value + "\n";
  };
  gauge("quorvane_queue_depth", "Conversions waiting for a worker.", std::to_string(g.waiting));
  gauge("quorvane_running_conversions", "Conversions running.", std::to_string(g.running));
  gauge("quorvane_workers", "Workers, each with an office of its own.", std::to_string(g.workers));
  gauge("quorvane_draining", "1 while the server finishes its work before it ends.", g.draining ? "1" : "0");
  gauge("quorvane_office_starts_total", "Offices started.", std::to_string(g.officesStarted), "counter");
  const std::uint64_t restarts = g.officesStarted > g.workers ? g.officesStarted - g.workers : 0;
  gauge("quorvane_office_restarts_total", "Offices started to replace one that ended, broke or was stopped.",
        std::to_string(restarts), "counter");
  gauge("quorvane_resident_memory_bytes", "Resident memory of the server and its offices.",
        std::to_string(g.residentBytes));
  return out;
}

std::uint64_t TreeResidentBytes() {
  namespace fs = std::filesystem;
  std::multimap<long, long> children;  // parent -> child
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (comm) state ppid ...: the name may hold spaces and parentheses; the last ')' ends it.
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    char state = 0;
    long parent = 0;
    if (rest >> state >> parent) children.emplace(parent, std::stol(name));
  }
  std::set<long> tree{static_cast<long>(::getpid())};
  std::vector<long> todo{static_cast<long>(::getpid())};
  while (!todo.empty()) {
    const long pid = todo.back();
    todo.pop_back();
    const auto [begin, end] = children.equal_range(pid);
    for (auto it = begin; it != end; ++it)
      if (tree.insert(it->second).second) todo.push_back(it->second);
  }
  const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  std::uint64_t total = 0;
  for (const long pid : tree) {
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    std::uint64_t size = 0;
    std::uint64_t resident = 0;
    if (statm >> size >> resident) total += resident * page;
  }
  return total;
}

}  // namespace quorvane::service
