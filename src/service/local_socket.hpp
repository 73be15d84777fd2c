#pragma once
// The server's local door: a Unix socket in the user's runtime folder through which `quorvane
// convert` hands a server of the same user its conversions by path, so that nothing is copied.
//
// Protocol: the client sends one line, a JSON object {"input", "output", "settings"} (absolute
// paths; settings as SettingsJson); the server answers lines {"progress": percent} while it
// converts and ends with {"result": ResultJson}, or with {"refused": why} when it takes no more
// conversions. A client that goes away stops its conversion. Only the user the server runs as
// may connect (the folder is private, and the peer's credentials are checked).
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "conversion.hpp"
#include "pool.hpp"

namespace quorvane::service {

// $XDG_RUNTIME_DIR/quorvane/serve.sock, else /tmp/quorvane-<uid>/serve.sock.
std::string DefaultSocketPath();

class LocalDoor {
 public:
  // Listens at `path`, making its folder private (0700) when missing. Throws std::runtime_error
  // with the cause when it cannot: the folder is not the user's own and private, another server
  // answers there, the socket cannot be made.
  LocalDoor(ConversionPool& pool, std::string path);
  ~LocalDoor();  // Close()
  LocalDoor(const LocalDoor&) = delete;
  LocalDoor& operator=(const LocalDoor&) = delete;

  // Stops listening, removes the socket and waits for the connections being served.
  void Close();
  const std::string& path() const { return path_; }

 private:
  void Accept();
  void Serve(int connection);

  ConversionPool& pool_;
  std::string path_;
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  std::thread acceptor_;
  struct Connection {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex mutex_;
  std::vector<Connection> connections_;
  std::atomic<bool> closed_{false};
};

// Converts through the server at `socketPath` when one answers, else (and for every conversion
// after a server that went away) on a control of this process.
class ServerConverter : public Converter {
 public:
  explicit ServerConverter(std::string socketPath) : socketPath_(std::move(socketPath)) {}
  ConversionResult Convert(const ConversionJob& job, const ConversionSettings& settings,
                           const Progress& progress) override;

 private:
  std::string socketPath_;
  bool serverGone_ = false;
  LocalConverter local_;
};

// Whether a server answers at `socketPath`.
bool ServerAnswers(const std::string& socketPath);

// Whether the peer of the connected socket `fd` has closed it, or it broke (false for -1).
bool PeerGone(int fd);

}  // namespace quorvane::service
