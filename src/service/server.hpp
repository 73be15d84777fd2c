#pragma once
// `quorvane serve`: a pool of warm workers behind two doors, the local socket (local_socket.hpp)
// and an HTTP API.
//
// HTTP: POST /convert takes the deck as a multipart upload (field "file") with the control's
// settings as fields ("type" by code or name, "start", "end", "labels", "notes", "notes-only",
// "multi-file") and answers the output, or a zip of the outputs when there are several; a failure
// is a JSON object {"request_id", "status", "code", "message", "cause"}. GET /formats, /errors,
// /health (the process answers), /ready (an office answers, and the server takes work), /metrics
// (Prometheus text). Every answer carries X-Request-Id, and the log names it.
//
// Nothing a client sends names a file here: an upload is stored under a name of the server's in a
// private folder of its own, removed once the answer has gone. The server keeps nothing between
// requests, so that any number of copies can serve behind a load balancer.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quorvane::service {

struct ServerOptions {
  std::size_t workers = 2;
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port (the log's "listening" line tells which)
  bool http = true;
  std::string socketPath;  // empty: DefaultSocketPath(); "-": no local door
  std::uint64_t maxUploadBytes = std::uint64_t{100} << 20;
  std::size_t queueLength = 16;
  std::chrono::seconds deadline{300};
  std::chrono::seconds grace{30};
  std::chrono::seconds readTimeout{30};  // a client that sends nothing for so long is dropped
  std::string token;                     // empty: no authentication
};

class Server {
 public:
  explicit Server(ServerOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Opens the doors and serves until Drain has finished; throws std::runtime_error with the cause
  // when a door cannot be opened.
  void Run();
  // Takes no new work (503 from /ready and /convert), lets what runs finish for up to the grace
  // period, stops what is left, and makes Run return. Any thread; once.
  void Drain();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorvane::service
