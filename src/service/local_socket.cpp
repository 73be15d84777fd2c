#include "local_socket.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "log.hpp"

namespace quorvane::service {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxRequestLine = 1 << 16;
constexpr auto kRequestTimeout = std::chrono::seconds(10);
constexpr auto kWatchInterval = std::chrono::milliseconds(100);

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

// A stream socket connected to `path`, or -1.
int ConnectTo(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return -1;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads lines from a socket.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // The next line (without its "\n"); nullopt at the end of the stream, on an error, past `until`
  // or when a line grows beyond `limit`.
  std::optional<std::string> Next(std::optional<Clock::time_point> until, std::size_t limit) {
    for (;;) {
      const auto end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      if (buffer_.size() > limit) return std::nullopt;
      int timeout = -1;
      if (until) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*until - Clock::now()).count();
        if (left <= 0) return std::nullopt;
        timeout = static_cast<int>(left);
      }
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, timeout);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return std::nullopt;
      char chunk[4096];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
  std::string buffer_;
};

// Makes `folder` when missing and checks that it is a folder of this user's that nobody else may
// enter: a socket there is reachable by this user alone.
void PrivateFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) throw std::runtime_error(Errno("cannot make '" + folder + "'"));
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) throw std::runtime_error(Errno("cannot look at '" + folder + "'"));
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0)
    throw std::runtime_error("'" + folder + "' is not a private folder of this user's (mode 0700)");
}

std::string Folder(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace

std::string DefaultSocketPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/quorvane/serve.sock";
  return "/tmp/quorvane-" + std::to_string(::geteuid()) + "/serve.sock";
}

bool PeerGone(int fd) {
  if (fd < 0) return false;
  pollfd p{fd, POLLRDHUP, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  return (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

bool ServerAnswers(const std::string& socketPath) {
  const int fd = ConnectTo(socketPath);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

LocalDoor::LocalDoor(ConversionPool& pool, std::string path) : pool_(pool), path_(std::move(path)) {
  sockaddr_un address{};
  if (path_.size() >= sizeof address.sun_path) throw std::runtime_error("the socket path '" + path_ + "' is too long");
  PrivateFolder(Folder(path_));
  if (ServerAnswers(path_)) throw std::runtime_error("a server of this user's already answers at '" + path_ + "'");
  ::unlink(path_.c_str());  // what a server that ended without cleaning up left
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) throw std::runtime_error(Errno("cannot make a socket"));
  if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(path_.c_str(), 0600) != 0 || ::listen(listener_, 64) != 0) {
    const std::string why = Errno("cannot listen at '" + path_ + "'");
    ::close(listener_);
    throw std::runtime_error(why);
  }
  if (::pipe2(wake_, O_CLOEXEC) != 0) {
    ::close(listener_);
    ::unlink(path_.c_str());
    throw std::runtime_error(Errno("cannot make a pipe"));
  }
  acceptor_ = std::thread([this] { Accept(); });
}

LocalDoor::~LocalDoor() { Close(); }

void LocalDoor::Close() {
  if (closed_.exchange(true)) return;
  const char byte = 0;
  (void)!::write(wake_[1], &byte, 1);
  acceptor_.join();
  ::close(listener_);
  ::unlink(path_.c_str());
  std::vector<Connection> connections;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
  }
  for (Connection& served : connections) served.thread.join();
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void LocalDoor::Accept() {
  for (;;) {
    pollfd p[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(p, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents != 0) return;
    const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    std::lock_guard lock(mutex_);
    // The threads of connections served already are joined as new ones come.
    std::erase_if(connections_, [](Connection& served) {
      if (!served.done->load()) return false;
      served.thread.join();
      return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    connections_.push_back({std::thread([this, connection, done] {
                              Serve(connection);
                              ::close(connection);
                              *done = true;
                            }),
                            done});
  }
}

void LocalDoor::Serve(int connection) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::geteuid()) {
    LogLine("warning", "local_refused", {{"reason", "the peer is another user"}});
    return;
  }
  LineReader reader(connection);
  const auto line = reader.Next(Clock::now() + kRequestTimeout, kMaxRequestLine);
  if (!line) return;
  const std::string id = NewRequestId();
  ConversionJob job;
  ConversionSettings settings;
  try {
    const nlohmann::json request = nlohmann::json::parse(*line);
    job.input = request.at("input").get<std::string>();
    job.inputPath = job.input;
    job.outputPath = request.at("output").get<std::string>();
    settings = SettingsFromJson(request.at("settings"));
  } catch (const nlohmann::json::exception& error) {
    LogLine("warning", "local_bad_request", {{"request_id", id}, {"cause", error.what()}});
    SendAll(connection, nlohmann::json{{"refused", std::string("a request the server cannot read: ") + error.what()}}
                                .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    return;
  }
  if (job.inputPath.empty() || job.inputPath[0] != '/' || job.outputPath.empty() || job.outputPath[0] != '/') {
    SendAll(connection, nlohmann::json{{"refused", "paths must be absolute"}}.dump() + "\n");
    return;
  }
  const auto ticket = pool_.Submit(job, settings, /*evenWhenFull=*/true);
  if (!ticket) {
    SendAll(connection, nlohmann::json{{"refused", "the server is ending"}}.dump() + "\n");
    return;
  }
  LogLine("info", "local_convert", {{"request_id", id}, {"input", job.inputPath}, {"type", settings.targetFileType}});
  float sent = -1;
  std::optional<ConversionResult> result;
  bool stopped = false;
  while (!(result = ticket->WaitUntil(Clock::now() + kWatchInterval))) {
    if (!stopped && PeerGone(connection)) {
      ticket->Stop("the command that asked for it ended");
      stopped = true;
    }
    const float progress = ticket->progress();
    if (!stopped && progress != sent) {
      sent = progress;
      SendAll(connection, nlohmann::json{{"progress", progress}}.dump() + "\n");
    }
  }
  LogLine(result->ok() ? "info" : "warning", "local_converted",
          {{"request_id", id}, {"code", result->code}, {"seconds", result->seconds}});
  if (!stopped)
    SendAll(connection, nlohmann::json{{"result", ResultJson(*result)}}.dump(
                            -1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

ConversionResult ServerConverter::Convert(const ConversionJob& job, const ConversionSettings& settings,
                                          const Progress& progress) {
  if (serverGone_) return local_.Convert(job, settings, progress);
  std::string request;
  try {
    // A path that is not UTF-8 cannot travel as JSON text: such a file is converted here.
    request = nlohmann::json{{"input", job.inputPath}, {"output", job.outputPath}, {"settings", SettingsJson(settings)}}
                  .dump() + "\n";
  } catch (const nlohmann::json::exception&) {
    return local_.Convert(job, settings, progress);
  }
  const int fd = ConnectTo(socketPath_);
  if (fd >= 0) {
    LineReader reader(fd);
    std::optional<std::string> line;
    bool sent = SendAll(fd, request);
    while (sent && (line = reader.Next(std::nullopt, kMaxRequestLine))) {
      try {
        const nlohmann::json answer = nlohmann::json::parse(*line);
        if (answer.contains("progress")) {
          if (progress) progress(answer["progress"].get<float>());
          continue;
        }
        if (answer.contains("result")) {
          ConversionResult result = ResultFromJson(answer["result"]);
          ::close(fd);
          return result;
        }
      } catch (const nlohmann::json::exception&) {
      }
      break;  // refused, or an answer that cannot be read
    }
    ::close(fd);
  }
  // No server, or one that went away or refused before it answered: the conversion runs here. A
  // server that went away left no output behind (outputs appear whole or not at all).
  serverGone_ = true;
  return local_.Convert(job, settings, progress);
}

}  // namespace quorvane::service
