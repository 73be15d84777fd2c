// Watched runs of the system's programs (external_program.hpp).
#include "engines/external_program.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include "common/cleanup.hpp"
#include "common/failures.hpp"
#include "common/text.hpp"
#include "quorvane/automation_error.hpp"
#include "quorvane/office_limits.hpp"

extern char** environ;

namespace quorvane::engines::external_program {

namespace {

using Clock = std::chrono::steady_clock;

// What is kept of the program's standard error: its end, where programs say why they stopped.
constexpr std::size_t kErrorTail = 2048;

[[noreturn]] void Fail(std::int32_t number, const std::string& description) {
  throw AutomationError(number, text::FromUtf8(description.ends_with('.') ? description : description + "."));
}

// The host's environment with the temporary folder variables pointing at `tempDir`.
std::vector<std::string> Environment(const std::string& tempDir) {
  std::vector<std::string> out;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string_view entry(*e);
    if (entry.starts_with("TMPDIR=") || entry.starts_with("TMP=") || entry.starts_with("TEMP=")) continue;
    out.emplace_back(entry);
  }
  for (const char* name : {"TMPDIR=", "TMP=", "TEMP="}) out.push_back(name + tempDir);
  return out;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// The last lines of standard error as one line ("a | b"), without trailing blanks.
std::string OneLine(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') {
      if (!out.empty() && !out.ends_with(" | ")) out += " | ";
    } else if (c != '\r') {
      out += c;
    }
  }
  while (out.ends_with(" | ") || out.ends_with(' ')) out.pop_back();
  while (out.ends_with(" |")) out.resize(out.size() - 2);
  return out;
}

// The running child's process group, for the exit cleanup: killed there unless already reaped.
struct Watch {
  std::mutex mutex;
  pid_t group = 0;
  void Kill() {
    const std::lock_guard lock(mutex);
    if (group > 0) ::kill(-group, SIGKILL);
  }
  void Reaped() {
    const std::lock_guard lock(mutex);
    group = 0;
  }
};

class Spawned {
 public:
  Spawned(const Program& program, const std::vector<std::string>& arguments, const std::string& tempDir) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
      Fail(failure::kRpcServerUnavailable, Who(program) + "no pipe (" + std::strerror(errno) + ")");
    errorRead_ = fds[0];
    const int errorWrite = fds[1];

    std::vector<std::string> args{program.name};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<std::string> env = Environment(tempDir);
    std::vector<char*> argv = Pointers(args), envp = Pointers(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errorWrite, 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2})
      sigaddset(&defaults, sig);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const int error = ::posix_spawnp(&pid_, program.name.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(errorWrite);
    if (error != 0) {
      ::close(errorRead_);
      if (error == ENOENT || error == EACCES)
        Fail(failure::kRpcServerUnavailable, Who(program) + "'" + program.name +
                                                 "' is not installed or cannot be run (" + std::strerror(error) +
                                                 "): install the Debian package \"" + program.package + "\"");
      Fail(failure::kRpcServerUnavailable,
           Who(program) + "'" + program.name + "' cannot be started (" + std::strerror(error) + ")");
    }
    watch_->group = pid_;
    hook_ = cleanup::Hook([watch = watch_] { watch->Kill(); });
  }

  ~Spawned() {
    if (pid_ > 0) Kill();  // left early: nothing of it stays
    ::close(errorRead_);
  }
  Spawned(const Spawned&) = delete;
  Spawned& operator=(const Spawned&) = delete;

  // Reads standard error until the program ends or `until` passes. False at the deadline (the
  // program is still running); else its wait status.
  bool Wait(Clock::time_point until, int& status) {
    bool open = true;
    for (;;) {
      const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
      if (ended == pid_ || (ended < 0 && errno == ECHILD)) {  // ECHILD: a host that reaps its children itself
        if (ended < 0) status = 0;
        Drain();
        watch_->Reaped();
        pid_ = 0;
        return true;
      }
      const auto now = Clock::now();
      if (now >= until) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
      // The pipe tells when there is something to read; once it is closed the end is polled.
      pollfd fd{errorRead_, POLLIN, 0};
      const int wait = static_cast<int>(std::min<long long>(left, open ? 1000 : 20));
      if (!open) {
        ::usleep(static_cast<useconds_t>(wait) * 1000);
        continue;
      }
      if (::poll(&fd, 1, wait) > 0) open = ReadSome();
    }
  }

  void Kill() {
    watch_->Kill();
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    watch_->Reaped();
    pid_ = 0;
  }

  std::string ErrorTail() const { return OneLine(tail_); }

 private:
  static std::string Who(const Program& program) { return "Cannot make " + program.purpose + ": "; }

  // One read of standard error; false at its end.
  bool ReadSome() {
    char buffer[4096];
    const ssize_t got = ::read(errorRead_, buffer, sizeof buffer);
    if (got < 0) return errno == EINTR || errno == EAGAIN;
    if (got == 0) return false;
    tail_.append(buffer, static_cast<std::size_t>(got));
    if (tail_.size() > 2 * kErrorTail) tail_.erase(0, tail_.size() - kErrorTail);
    return true;
  }
  void Drain() {
    ::fcntl(errorRead_, F_SETFL, ::fcntl(errorRead_, F_GETFL) | O_NONBLOCK);
    for (int i = 0; i < 64; ++i) {
      char buffer[4096];
      const ssize_t got = ::read(errorRead_, buffer, sizeof buffer);
      if (got <= 0) break;
      tail_.append(buffer, static_cast<std::size_t>(got));
    }
    if (tail_.size() > kErrorTail) tail_.erase(0, tail_.size() - kErrorTail);
  }

  pid_t pid_ = 0;
  int errorRead_ = -1;
  std::string tail_;
  std::shared_ptr<Watch> watch_ = std::make_shared<Watch>();
  cleanup::Hook hook_;
};

}  // namespace

void Run(const Program& program, const std::vector<std::string>& arguments, std::chrono::milliseconds deadline,
         const std::string& tempDir) {
  Spawned child(program, arguments, tempDir);
  int status = 0;
  if (!child.Wait(Clock::now() + deadline, status)) {
    child.Kill();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(deadline + std::chrono::milliseconds(999));
    Fail(failure::kWin32Timeout, "Cannot make " + program.purpose + ": '" + program.name + "' did not finish within " +
                                     std::to_string(seconds.count()) + " s and was stopped");
  }
  const std::string said = child.ErrorTail();
  const std::string because = said.empty() ? "" : ": " + said;
  if (WIFSIGNALED(status))
    Fail(failure::kRpcServerUnavailable, "Cannot make " + program.purpose + ": '" + program.name +
                                             "' was ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
                                             strsignal(WTERMSIG(status)) + ")" + because);
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
    Fail(failure::kEFail, "Cannot make " + program.purpose + ": '" + program.name + "' exited with code " +
                              std::to_string(WEXITSTATUS(status)) + because);
}


}  // namespace quorvane::engines::external_program
