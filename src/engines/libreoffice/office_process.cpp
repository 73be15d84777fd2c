#include "engines/libreoffice/office_process.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "common/owned_folder.hpp"
#include "engines/libreoffice/failures.hpp"
#include "engines/libreoffice/staging.hpp"

namespace quorvane::engines::libreoffice {

namespace {

std::string SystemReason(int error) { return std::strerror(error); }

// Child side of SpawnOffice, between fork and exec: async-signal-safe calls only.
[[noreturn]] void ExecOffice(const char* program, char* const* argv, char* const* envp, int logFd, int errorFd,
                             pid_t parent) {
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);  // the spawning thread is already gone

  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2})
    sigaction(sig, &defaults, nullptr);

  int nullFd = open("/dev/null", O_RDONLY);
  if (nullFd >= 0) dup2(nullFd, 0);
  if (logFd >= 0) {
    dup2(logFd, 1);
    dup2(logFd, 2);
  }
  // Every other descriptor of the host closes on exec; the error pipe is one of them.
  if (syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC) != 0) {
    long maxFd = sysconf(_SC_OPEN_MAX);
    if (maxFd < 0 || maxFd > 65536) maxFd = 65536;
    for (int fd = 3; fd < maxFd; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  execve(program, argv, envp);
  int error = errno;
  ssize_t ignored = write(errorFd, &error, sizeof error);
  (void)ignored;
  _exit(127);
}

}  // namespace

std::string ProfileUrl(const OfficeLaunch& launch) { return FileUrl(launch.profileDir); }

std::vector<std::string> OfficeArguments(const OfficeLaunch& launch) {
  return {
      launch.program,
      "--headless",
      "--invisible",
      "--nologo",
      "--norestore",
      "--nodefault",
      "--nolockcheck",
      "--nofirststartwizard",
      "--accept=pipe,name=" + launch.pipeName + ";urp;StarOffice.ComponentContext",
      "-env:UserInstallation=" + ProfileUrl(launch),
  };
}

std::vector<std::string> OfficeEnvironment(const std::vector<std::string>& hostEnvironment,
                                           const std::string& tempDir) {
  std::vector<std::string> out;
  std::string all;
  bool hasLang = false;
  for (const std::string& entry : hostEnvironment) {
    if (entry.starts_with("LC_ALL=")) {
      all = entry.substr(7);
      continue;
    }
    if (entry.starts_with("LC_CTYPE=") || entry.starts_with("TMPDIR=") || entry.starts_with("TMP=") ||
        entry.starts_with("TEMP="))
      continue;
    if (entry.starts_with("LANG=")) hasLang = true;
    out.push_back(entry);
  }
  if (!all.empty()) {
    // LC_ALL would override LC_CTYPE; its other categories live on through LANG.
    if (hasLang) {
      for (std::string& entry : out)
        if (entry.starts_with("LANG=")) entry = "LANG=" + all;
    } else {
      out.push_back("LANG=" + all);
    }
  }
  out.push_back("LC_CTYPE=C.UTF-8");
  for (const char* name : {"TMPDIR=", "TMP=", "TEMP="}) out.push_back(name + tempDir);
  return out;
}

pid_t SpawnOffice(const OfficeLaunch& launch) {
  if (access(launch.program.c_str(), X_OK) != 0) {
    Fail(failure::kRpcServerUnavailable,
         "LibreOffice cannot be started: '" + launch.program + "' is not an executable (" + SystemReason(errno) + ")");
  }
  std::vector<std::string> args = OfficeArguments(launch);
  std::vector<std::string> hostEnv;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) hostEnv.emplace_back(*e);
  std::vector<std::string> env = OfficeEnvironment(hostEnv, launch.tempDir);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int logFd = open(launch.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  int errorPipe[2];
  if (pipe2(errorPipe, O_CLOEXEC) != 0) {
    int error = errno;
    if (logFd >= 0) close(logFd);
    Fail(failure::kRpcServerUnavailable, "LibreOffice cannot be started: no pipe (" + SystemReason(error) + ")");
  }
  pid_t parent = getpid();
  pid_t pid = fork();
  if (pid == 0) ExecOffice(launch.program.c_str(), argv.data(), envp.data(), logFd, errorPipe[1], parent);
  int forkError = errno;
  close(errorPipe[1]);
  if (logFd >= 0) close(logFd);
  if (pid < 0) {
    close(errorPipe[0]);
    Fail(failure::kRpcServerUnavailable,
         "LibreOffice cannot be started: fork failed (" + SystemReason(forkError) + ")");
  }
  // Closing the group to a race: the child sets its own group too.
  setpgid(pid, pid);
  int execError = 0;
  ssize_t got;
  do {
    got = read(errorPipe[0], &execError, sizeof execError);
  } while (got < 0 && errno == EINTR);
  close(errorPipe[0]);
  if (got == static_cast<ssize_t>(sizeof execError)) {
    Reap(pid, std::chrono::seconds(5));
    Fail(failure::kRpcServerUnavailable,
         "LibreOffice cannot be started: '" + launch.program + "' could not be run (" + SystemReason(execError) + ")");
  }
  return pid;
}

ProcessState PollProcess(pid_t pid) {
  int status = 0;
  pid_t r;
  do {
    r = waitpid(pid, &status, WNOHANG);
  } while (r < 0 && errno == EINTR);
  if (r == pid) {
    if (WIFEXITED(status)) return {ProcessState::Kind::Exited, WEXITSTATUS(status)};
    if (WIFSIGNALED(status)) return {ProcessState::Kind::Signalled, WTERMSIG(status)};
    return {ProcessState::Kind::Running, 0};
  }
  if (r == 0) return {ProcessState::Kind::Running, 0};
  // Not our child (any more): it may have been reaped by someone else.
  if (kill(pid, 0) != 0 && errno == ESRCH) return {ProcessState::Kind::Gone, 0};
  return {ProcessState::Kind::Running, 0};
}

std::string DescribeEnd(const ProcessState& state) {
  switch (state.kind) {
    case ProcessState::Kind::Running:
      return "is still running";
    case ProcessState::Kind::Exited:
      return "exited with code " + std::to_string(state.code);
    case ProcessState::Kind::Signalled:
      return "was ended by signal " + std::to_string(state.code) + " (" + strsignal(state.code) + ")";
    case ProcessState::Kind::Gone:
      return "has ended";
  }
  return "has ended";
}

void KillGroup(pid_t pid) {
  if (pid <= 0) return;
  kill(-pid, SIGKILL);
  kill(pid, SIGKILL);
}

bool Reap(pid_t pid, std::chrono::milliseconds timeout) {
  auto until = std::chrono::steady_clock::now() + timeout;
  auto pause = std::chrono::milliseconds(2);
  for (;;) {
    if (PollProcess(pid).kind != ProcessState::Kind::Running) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

namespace {

struct StatFacts {
  long long processGroup = -1;
  std::uint64_t residentBytes = 0;
};

// The process group and resident memory of a process, from /proc/<pid>/stat: "pid (comm) state ppid
// pgrp ... rss ..." with pgrp the 5th field and rss (in pages) the 24th. The command name may hold
// blanks and parentheses: the fields after it start after the last ')'.
std::optional<StatFacts> ReadStat(pid_t pid) {
  static const long pageBytes = sysconf(_SC_PAGESIZE);
  std::string path = "/proc/" + std::to_string(pid) + "/stat";
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char text[1024];
  ssize_t got = read(fd, text, sizeof text - 1);
  close(fd);
  if (got <= 0) return std::nullopt;
  text[got] = '\0';
  const char* field = std::strrchr(text, ')');
  if (field == nullptr) return std::nullopt;
  StatFacts facts;
  long long rss = 0;
  for (int number = 3; number <= 24 && *field != '\0'; ++number) {
    while (*field == ')' || *field == ' ') ++field;
    char* end = nullptr;
    long long value = std::strtoll(field, &end, 10);
    if (number == 5) facts.processGroup = value;
    if (number == 24) rss = value;
    field = number == 3 ? field + 1 : end;  // the state is a letter
  }
  if (rss > 0) facts.residentBytes = static_cast<std::uint64_t>(rss) * static_cast<std::uint64_t>(pageBytes);
  return facts;
}

}  // namespace

GroupMemorySampler::GroupMemorySampler(pid_t group) : group_(group) {}

std::uint64_t GroupMemorySampler::Sample() {
  if (calls_++ % kRescanEvery == 0) {
    members_.clear();
    if (DIR* proc = opendir("/proc")) {
      while (const dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
        pid_t pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
        std::optional<StatFacts> facts = ReadStat(pid);
        if (facts && facts->processGroup == group_) members_.push_back(pid);
      }
      closedir(proc);
    }
  }
  std::uint64_t total = 0;
  for (pid_t member : members_) {
    std::optional<StatFacts> facts = ReadStat(member);
    if (facts && facts->processGroup == group_) total += facts->residentBytes;
  }
  return total;
}

std::uint64_t GroupResidentBytes(pid_t group) { return GroupMemorySampler(group).Sample(); }

std::string MakePrivateFolder(const std::string& parent, const std::string& prefix) {
  std::string pattern = parent + "/" + prefix + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    Fail(failure::kRpcServerUnavailable,
         "LibreOffice cannot be started: no private folder in '" + parent + "' (" + SystemReason(errno) + ")");
  }
  return pattern;
}

void RemoveTree(const std::string& path) noexcept { cleanup::RemoveFolder(path); }

std::string TailOfFile(const std::string& path, std::size_t maxBytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  auto size = static_cast<std::size_t>(in.tellg());
  std::size_t start = size > maxBytes ? size - maxBytes : 0;
  in.seekg(static_cast<std::streamoff>(start));
  std::string text(size - start, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      if (!out.empty() && !out.ends_with(" | ")) out += " | ";
    } else if (c != '\r') {
      out += c;
    }
  }
  while (out.ends_with(" | ")) out.resize(out.size() - 3);
  return out;
}

}  // namespace quorvane::engines::libreoffice
