#pragma once
// The server's log: one JSON object per line on standard error, for collectors that read
// containers' output. Every line has "time" (UTC, ISO 8601 with milliseconds), "level" and
// "event"; lines about a request have its "request_id".
#include <string>

#include <nlohmann/json.hpp>

namespace quorvane::service {

void LogLine(const std::string& level, const std::string& event, nlohmann::json fields = nlohmann::json::object());

// A new request id: 16 random hexadecimal digits.
std::string NewRequestId();
// The id a client sent (X-Request-Id) when it is a sane one: 1 to 64 letters, digits, '-', '_' or
// '.'; else a new one.
std::string RequestIdFrom(const std::string& sent);

}  // namespace quorvane::service
