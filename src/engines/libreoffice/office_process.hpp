#pragma once
// The office as a process: soffice.bin started headless, in a process group of its own, with a
// private profile folder, listening on a named pipe for the remote bridge.
//
// Nothing here speaks UNO; this is fork/exec, signals, waitpid and /proc. The functions take the
// process id, so that one thread can kill an office while another is blocked in a call to it.
//
// Ownership: whoever spawned a process reaps it (Reap) after it ended or was killed. A spawned
// office gets SIGKILL from the kernel when the thread that spawned it ends (PR_SET_PDEATHSIG), so
// that no office outlives the host even when the host crashes; spawn it from a thread that lives
// as long as the office should.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvane::engines::libreoffice {

// Exit code of soffice.bin after it has made a fresh profile: it wants to be started again.
inline constexpr int kOfficeRestartExitCode = 81;

struct OfficeLaunch {
  std::string program;     // soffice.bin
  std::string pipeName;    // --accept=pipe,name=<pipeName>;urp;StarOffice.ComponentContext
  std::string profileDir;  // absolute folder of the private user installation (see ProfileUrl)
  std::string logPath;     // receives the office's stdout and stderr (appended)
  std::string tempDir;     // the office's TMPDIR, TMP and TEMP: its temporary files go with its folder
};

// The URL of the profile folder as the office is given it.
std::string ProfileUrl(const OfficeLaunch& launch);

// The command line of an office for `launch` (argv[0] first).
std::vector<std::string> OfficeArguments(const OfficeLaunch& launch);

// The environment of an office: the host's, with LC_CTYPE set to C.UTF-8 (and LC_ALL moved to LANG)
// so that the office reads and writes file names as UTF-8 whatever the host's locale is, and with
// TMPDIR, TMP and TEMP naming `tempDir`, so that nothing an office leaves when it is killed (its
// lu*.tmp folder) outlives its private folder.
std::vector<std::string> OfficeEnvironment(const std::vector<std::string>& hostEnvironment, const std::string& tempDir);

// Starts the office; returns its pid (also its process group). Throws kRpcServerUnavailable when the
// program cannot be run (missing, not executable), with the program and the system's reason.
pid_t SpawnOffice(const OfficeLaunch& launch);

struct ProcessState {
  enum class Kind { Running, Exited, Signalled, Gone } kind = Kind::Running;
  int code = 0;  // exit code or signal number
};

// Without blocking: running, or how it ended (reaping it). A process that is no child of ours any
// more (reaped elsewhere, SIGCHLD ignored) is Gone once it no longer exists.
ProcessState PollProcess(pid_t pid);

// "exited with code 81", "was killed by signal 9 (Killed)", ...
std::string DescribeEnd(const ProcessState& state);

// SIGKILL to the process group (and the process, should it have left the group).
void KillGroup(pid_t pid);

// Waits up to `timeout` for the process to end and reaps it; false when it is still running.
bool Reap(pid_t pid, std::chrono::milliseconds timeout);

// Resident memory of every process in the process group `group` together (0 when none is left).
std::uint64_t GroupResidentBytes(pid_t group);

// The same, sampled often: the processes of the group are looked up in /proc (a scan of every
// process) only at every kRescanEvery-th sample; the samples between read only theirs.
class GroupMemorySampler {
 public:
  static constexpr int kRescanEvery = 10;
  explicit GroupMemorySampler(pid_t group);
  std::uint64_t Sample();
  pid_t group() const { return group_; }

 private:
  pid_t group_;
  std::vector<pid_t> members_;
  int calls_ = 0;
};

// A new folder `<parent>/<prefix>XXXXXX` only this user can enter; throws kRpcServerUnavailable.
std::string MakePrivateFolder(const std::string& parent, const std::string& prefix);

// Removes a folder tree, ignoring failures (a leftover temp folder is no reason to fail a call).
void RemoveTree(const std::string& path) noexcept;

// The last `maxBytes` of a text file as one line (newlines become " | "); empty when unreadable.
std::string TailOfFile(const std::string& path, std::size_t maxBytes);

}  // namespace quorvane::engines::libreoffice
