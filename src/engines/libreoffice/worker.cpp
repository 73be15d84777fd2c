#include "engines/libreoffice/worker.hpp"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "common/office_limits.hpp"
#include "engines/libreoffice/failures.hpp"
#include "engines/libreoffice/renderer.hpp"
#include "engines/libreoffice/uno_session.hpp"

namespace quorvane::engines::libreoffice {

namespace {

// Settings every office starts with: no macros, no fetching of linked content from other places,
// no lock files next to the inputs, no OpenCL probing.
struct ProfileSetting {
  const char* path;
  const char* name;
  const char* value;
};

constexpr ProfileSetting kProfileSettings[] = {
    {"/org.openoffice.Office.Common/Security/Scripting", "MacroSecurityLevel", "3"},
    {"/org.openoffice.Office.Common/Security/Scripting", "DisableMacrosExecution", "true"},
    {"/org.openoffice.Office.Common/Security/Scripting", "BlockUntrustedRefererLinks", "true"},
    {"/org.openoffice.Office.Common/Misc", "UseLocking", "false"},
    {"/org.openoffice.Office.Common/Misc", "UseOpenCL", "false"},
};

// The user settings file of a fresh profile (user/registrymodifications.xcu).
std::string ProfileSettingsFile() {
  std::string xcu =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" xmlns:xs=\"http://www.w3.org/2001/XMLSchema\""
      " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n";
  for (const ProfileSetting& setting : kProfileSettings) {
    xcu += std::string("<item oor:path=\"") + setting.path + "\"><prop oor:name=\"" + setting.name +
           "\" oor:op=\"fuse\"><value>" + setting.value + "</value></prop></item>\n";
  }
  return xcu + "</oor:items>\n";
}

// --- The prepared profile -------------------------------------------------------------------
// An office given an empty profile fills it at its first start and then starts over (exit code
// 81), which costs a cold conversion about a fifth of its time. The first worker whose office
// ended cleanly keeps its filled profile in the user's cache folder; later workers, in this
// process or any other, start from a copy of it and start once. The cache is keyed by the office's
// program file, so an updated office makes a new one; our settings are applied over it again.

// "$XDG_CACHE_HOME/quorvane" or "$HOME/.cache/quorvane"; empty when neither is set.
std::filesystem::path CacheFolder() {
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg == '/')
    return std::filesystem::path(xdg) / "quorvane";
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/')
    return std::filesystem::path(home) / ".cache" / "quorvane";
  return {};
}

// The cached profile for the office in `programDirectory`: named after its program file's size and
// time, so that another version of the office has its own. Empty without a cache folder or office.
std::filesystem::path PreparedProfile(const std::string& programDirectory) {
  const std::filesystem::path cache = CacheFolder();
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::path(programDirectory) / "soffice.bin";
  const auto size = std::filesystem::file_size(program, ec);
  if (cache.empty() || ec) return {};
  const auto time = std::filesystem::last_write_time(program, ec).time_since_epoch().count();
  if (ec) return {};
  char name[64];
  std::snprintf(name, sizeof name, "office-profile-%llx-%llx", static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(time));
  return cache / name;
}

// Our settings, added after whatever the file holds (later items win).
void ApplySettings(const std::filesystem::path& xcu) {
  std::ifstream in(xcu);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t end = text.rfind("</oor:items>");
  if (end == std::string::npos) {
    std::ofstream(xcu, std::ios::trunc) << ProfileSettingsFile();
    return;
  }
  const std::string ours = ProfileSettingsFile();
  const std::size_t items = ours.find("<item ");
  text.replace(end, std::string::npos, ours.substr(items));
  std::ofstream(xcu, std::ios::trunc) << text;
}

// Fills `user` (an empty profile folder) from the prepared profile; false when there is none. One
// that cannot serve (no settings file, unreadable) is removed, so that this worker keeps a new one.
bool CopyPreparedProfile(const std::filesystem::path& prepared, const std::filesystem::path& user) {
  std::error_code ec;
  if (prepared.empty() || !std::filesystem::exists(prepared, ec)) return false;
  if (std::filesystem::is_regular_file(prepared / "user" / "registrymodifications.xcu", ec))
    std::filesystem::copy(prepared / "user", user, std::filesystem::copy_options::recursive, ec);
  else
    ec = std::make_error_code(std::errc::no_such_file_or_directory);
  if (ec) {
    std::filesystem::remove_all(prepared, ec);
    std::filesystem::remove_all(user, ec);
    std::filesystem::create_directories(user, ec);
    return false;
  }
  ApplySettings(user / "registrymodifications.xcu");
  return true;
}

// Keeps `user`, the profile of an office that started and ended cleanly, as the prepared profile:
// copied beside it first and renamed into place, so that a reader never sees half of it. A profile
// some other process kept meanwhile stays.
void KeepPreparedProfile(const std::filesystem::path& user, const std::filesystem::path& prepared) {
  std::error_code ec;
  if (prepared.empty() || std::filesystem::exists(prepared, ec)) return;
  std::filesystem::create_directories(prepared.parent_path(), ec);
  const std::filesystem::path staging = prepared.string() + ".new-" + std::to_string(getpid());
  std::filesystem::remove_all(staging, ec);
  std::filesystem::create_directories(staging, ec);
  if (!ec) std::filesystem::copy(user, staging / "user", std::filesystem::copy_options::recursive, ec);
  // The office's own scratch and logs are not part of what a new office needs.
  if (!ec) std::filesystem::remove_all(staging / "user" / "temp", ec);
  if (ec || std::rename(staging.c_str(), prepared.c_str()) != 0) std::filesystem::remove_all(staging, ec);
}

constexpr std::size_t kLogTailBytes = 600;

std::string RandomTag() {
  std::random_device device;
  char text[16];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(device()));
  return text;
}

// Set by the exit cleanup: no office starts any more.
std::atomic<bool> gEnding{false};

// "converting ..." -> "Converting ..."
std::string Sentence(const std::string& what) {
  std::string out = what;
  if (!out.empty() && out[0] >= 'a' && out[0] <= 'z') out[0] = static_cast<char>(out[0] - 'a' + 'A');
  return out;
}

}  // namespace

std::string TimeoutDescription(const std::string& what, std::chrono::milliseconds budget) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g s", static_cast<double>(budget.count()) / 1000.0);
  return Sentence(what) + ": the office did not finish within " + seconds + " and was stopped";
}

std::string MemoryDescription(const std::string& what, std::uint64_t boundBytes) {
  constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
  char amount[48];
  if (boundBytes % kMiB == 0) {
    std::snprintf(amount, sizeof amount, "%llu MiB", static_cast<unsigned long long>(boundBytes / kMiB));
  } else if (boundBytes > kMiB) {
    std::snprintf(amount, sizeof amount, "%.1f MiB", static_cast<double>(boundBytes) / static_cast<double>(kMiB));
  } else {
    std::snprintf(amount, sizeof amount, "%llu bytes", static_cast<unsigned long long>(boundBytes));
  }
  return Sentence(what) + ": the office used more than " + amount + " of memory and was stopped";
}

std::string StopDescription(const std::string& what, const std::string& reason) {
  return Sentence(what) + ": " + reason + " and the office was stopped";
}

bool ProcessEnding() { return gEnding.load(); }

// What the caller and the worker thread share. The thread holds it too, so that a thread left
// behind (see Stop) never touches freed memory.
struct Worker::Shared {
  using SessionJob = std::function<void(std::unique_ptr<OfficeSession>&)>;

  // The mailbox: one job at a time.
  std::mutex mutex;
  std::condition_variable changed;
  SessionJob job;
  std::uint64_t posted = 0;
  std::uint64_t finished = 0;
  std::exception_ptr error;
  bool quit = false;
  bool exited = false;

  // The office process.
  std::mutex processMutex;
  pid_t pid = 0;
  bool ended = false;  // reaped, or gone
  ProcessState endState;
  std::atomic<bool> started{false};
  std::atomic<bool> killed{false};
  std::atomic<bool> broken{false};

  void SetPid(pid_t value) {
    std::lock_guard lock(processMutex);
    pid = value;
    ended = false;
  }

  pid_t Pid() {
    std::lock_guard lock(processMutex);
    return ended ? 0 : pid;
  }

  ProcessState Poll() {
    std::lock_guard lock(processMutex);
    if (pid == 0) return {ProcessState::Kind::Gone, 0};
    if (ended) return endState;
    ProcessState state = PollProcess(pid);
    if (state.kind != ProcessState::Kind::Running) {
      ended = true;
      endState = state;
    }
    return state;
  }

  bool Running() { return Poll().kind == ProcessState::Kind::Running; }

  void Kill() {
    killed = true;
    broken = true;
    std::lock_guard lock(processMutex);
    if (pid != 0 && !ended) KillGroup(pid);
  }

  bool WaitEnd(std::chrono::milliseconds timeout) {
    auto until = Clock::now() + timeout;
    auto pause = std::chrono::milliseconds(2);
    while (Running()) {
      if (Clock::now() >= until) return false;
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    return true;
  }
};

namespace {

void ThreadMain(std::shared_ptr<Worker::Shared> shared) {
  // A write to the pipe of an office that just died must fail with EPIPE, not end the host. The
  // bridge's own threads are made from this one and inherit the mask.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

  std::unique_ptr<OfficeSession> session;
  std::unique_lock lock(shared->mutex);
  for (;;) {
    shared->changed.wait(lock, [&] { return shared->quit || shared->posted != shared->finished; });
    if (shared->posted == shared->finished) break;
    Worker::Shared::SessionJob job = std::move(shared->job);
    std::uint64_t ticket = shared->posted;
    lock.unlock();
    std::exception_ptr error;
    try {
      job(session);
    } catch (...) {
      error = std::current_exception();
    }
    job = nullptr;
    lock.lock();
    shared->error = error;
    shared->finished = ticket;
    shared->changed.notify_all();
  }
  lock.unlock();
  session.reset();
  lock.lock();
  shared->exited = true;
  shared->changed.notify_all();
}

// Posts a job and waits for it, watching the office: past the deadline or above the memory bound,
// kills the office and fails.
void Post(const std::shared_ptr<Worker::Shared>& shared, Worker::Shared::SessionJob job, const CallBounds& bounds) {
  const auto stopped = [&bounds] { return bounds.stop != nullptr && bounds.stop->requested(); };
  if (stopped()) Fail(failure::kWin32Timeout, StopDescription(bounds.what, bounds.stop->reason()));
  std::unique_lock lock(shared->mutex);
  if (shared->finished != shared->posted) {
    // A job abandoned at its deadline is still running: the office was killed, the worker is done.
    Fail(failure::kRpcServerUnavailable, "LibreOffice is not answering (an earlier call is still pending)");
  }
  shared->job = std::move(job);
  shared->error = nullptr;
  std::uint64_t ticket = ++shared->posted;
  shared->changed.notify_all();
  auto done = [&] { return shared->finished == ticket; };
  std::optional<GroupMemorySampler> memory;
  while (!done()) {
    auto now = Worker::Clock::now();
    if (now >= bounds.deadline) {
      lock.unlock();
      shared->Kill();
      Fail(failure::kWin32Timeout, TimeoutDescription(bounds.what, bounds.budget));
    }
    const bool watch = bounds.memoryBytes > 0 || bounds.stop != nullptr;
    auto until = watch ? std::min(bounds.deadline, now + kMemorySampleInterval) : bounds.deadline;
    if (shared->changed.wait_until(lock, until, done)) break;
    if (stopped()) {
      lock.unlock();
      shared->Kill();
      Fail(failure::kWin32Timeout, StopDescription(bounds.what, bounds.stop->reason()));
    }
    if (bounds.memoryBytes == 0) continue;
    pid_t office = shared->Pid();
    if (office == 0) continue;
    // The office of a start appears (and may be started again) while it is waited for.
    if (!memory || memory->group() != office) memory.emplace(office);
    lock.unlock();
    std::uint64_t resident = memory->Sample();
    if (resident > bounds.memoryBytes) {
      shared->Kill();
      Fail(failure::kEOutOfMemory, MemoryDescription(bounds.what, bounds.memoryBytes));
    }
    lock.lock();
  }
  std::exception_ptr error = shared->error;
  shared->error = nullptr;
  lock.unlock();
  if (error) std::rethrow_exception(error);
}

}  // namespace

Worker::Worker(std::string programDirectory, const std::string& scratchDirectory, int serial)
    : shared_(std::make_shared<Shared>()), programDirectory_(std::move(programDirectory)) {
  if (ProcessEnding()) Fail(failure::kRpcServerUnavailable, "LibreOffice cannot be started: the process is ending");
  folder_ = MakePrivateFolder(scratchDirectory, kWorkerFolderPrefix);
  folderHold_ = cleanup::OwnedFolder(folder_);
  std::error_code ignored;
  std::filesystem::create_directories(folder_ + "/user", ignored);
  std::filesystem::create_directories(folder_ + "/tmp", ignored);
  prepared_ = PreparedProfile(programDirectory_);
  preparedCopied_ = CopyPreparedProfile(prepared_, folder_ + "/user");
  if (!preparedCopied_) std::ofstream(folder_ + "/user/registrymodifications.xcu") << ProfileSettingsFile();
  pipeName_ = "quorvane-" + std::to_string(getpid()) + "-" + std::to_string(serial) + "-" + RandomTag();
  for (const std::string& socket : OfficeSocketFiles(pipeName_, ProfileUrl(Launch()))) sockets_.emplace_back(socket);
  // An early exit kills the office, then removes its sockets and folder itself (the thread that owns
  // this worker may be removing them at the same time, and the process ends right after the
  // cleanup), and keeps new offices from starting.
  std::vector<std::string> socketPaths;
  for (const cleanup::TemporaryPath& socket : sockets_) socketPaths.push_back(socket.path());
  exitHook_ = cleanup::Hook([shared = shared_, folder = folder_, socketPaths] {
    gEnding = true;
    shared->Kill();
    shared->WaitEnd(kTerminateGrace);
    for (const std::string& socket : socketPaths) ::unlink(socket.c_str());
    RemoveTree(folder);
  });
  try {
    std::thread(ThreadMain, shared_).detach();
  } catch (const std::system_error& e) {
    RemoveTree(folder_);
    Fail(failure::kRpcServerUnavailable, std::string("LibreOffice cannot be started: no thread (") + e.what() + ")");
  }
}

Worker::~Worker() { Stop(); }

OfficeLaunch Worker::Launch() const {
  return OfficeLaunch{programDirectory_ + "/soffice.bin", pipeName_, folder_, folder_ + "/office.log",
                      folder_ + "/tmp"};
}

void Worker::Start(const CallBounds& bounds) {
  office_limits::CountOfficeStart();
  OfficeLaunch launch = Launch();
  std::shared_ptr<Shared> shared = shared_;
  Clock::time_point deadline = bounds.deadline;
  auto start = [launch, shared, deadline](std::unique_ptr<OfficeSession>& session) {
    for (int attempt = 0;; ++attempt) {
      if (shared->killed || ProcessEnding()) {
        Fail(failure::kRpcServerUnavailable, "LibreOffice was stopped while starting");
      }
      pid_t pid = SpawnOffice(launch);
      shared->SetPid(pid);
      if (shared->killed || ProcessEnding()) {
        shared->Kill();
        Fail(failure::kRpcServerUnavailable, "LibreOffice was stopped while starting");
      }
      // The plugin loads while the office starts; without it no session can be made, and the
      // office started for nothing is ended.
      try {
        OfficeSession::LoadPlugin();
      } catch (...) {
        shared->Kill();
        throw;
      }
      session =
          OfficeSession::Connect(launch.pipeName, deadline, [&shared] { return shared->killed || !shared->Running(); });
      if (session) return;
      ProcessState state = shared->Poll();
      if (state.kind == ProcessState::Kind::Exited && state.code == kOfficeRestartExitCode && attempt == 0) continue;
      if (state.kind == ProcessState::Kind::Running) {
        Fail(failure::kRpcServerUnavailable, "LibreOffice was stopped while starting");
      }
      std::string tail = TailOfFile(launch.logPath, kLogTailBytes);
      Fail(failure::kRpcServerUnavailable, "LibreOffice (" + launch.program + ") " + DescribeEnd(state) +
                                               " while starting" + (tail.empty() ? std::string() : ": " + tail));
    }
  };
  CallBounds starting = bounds;
  starting.what = "starting";
  Post(shared_, start, starting);
  shared_->started = true;
}

void Worker::Run(Job job, const CallBounds& bounds) {
  auto run = [job = std::move(job)](std::unique_ptr<OfficeSession>& session) {
    if (!session) Fail(failure::kRpcServerUnavailable, "LibreOffice is not running");
    job(*session);
  };
  try {
    Post(shared_, run, bounds);
  } catch (const AutomationError& e) {
    if (e.number() == failure::kWin32Timeout || e.number() == failure::kEOutOfMemory) throw;
    ProcessState state = shared_->Poll();
    if (state.kind != ProcessState::Kind::Running) {
      shared_->broken = true;
      Fail(failure::kRpcServerUnavailable, "LibreOffice " + DescribeEnd(state) + " while " + bounds.what);
    }
    if (e.number() == failure::kRpcServerUnavailable) shared_->Kill();  // alive but unreachable: end it
    throw;
  }
}

bool Worker::Healthy() { return shared_->started && !shared_->broken && shared_->Running(); }

void Worker::Kill() { shared_->Kill(); }

void Worker::Stop() noexcept {
  if (stopped_) return;
  stopped_ = true;
  bool endedCleanly = false;
  // An office that started from the prepared profile has nothing to keep: it is ended at once
  // rather than asked to end, which a one-off conversion would wait for.
  if (Healthy() && !preparedCopied_) {
    try {
      auto terminate = [](std::unique_ptr<OfficeSession>& session) {
        if (!session) return;
        session->Terminate();
        session.reset();
      };
      Post(shared_, terminate, CallBounds{Clock::now() + kTerminateGrace, kTerminateGrace, 0, "ending", nullptr});
      shared_->WaitEnd(kTerminateGrace);
      const ProcessState state = shared_->Poll();
      endedCleanly = state.kind == ProcessState::Kind::Exited && state.code == 0;
    } catch (...) {
      // Killed below.
    }
    shared_->WaitEnd(kTerminateGrace);
  }
  shared_->Kill();
  shared_->WaitEnd(kTerminateGrace);
  // End the thread. One that does not come back (a call that ignores the dead connection) is left
  // behind; it holds nothing but the shared state.
  {
    std::unique_lock lock(shared_->mutex);
    shared_->quit = true;
    shared_->changed.notify_all();
    shared_->changed.wait_for(lock, kTerminateGrace, [&] { return shared_->exited; });
  }
  if (!shared_->Running()) {
    for (const cleanup::TemporaryPath& socket : sockets_) ::unlink(socket.path().c_str());
    sockets_.clear();
  }
  if (endedCleanly && !preparedCopied_) KeepPreparedProfile(folder_ + "/user", prepared_);
  RemoveTree(folder_);
  folderHold_ = cleanup::OwnedFolder();
  exitHook_ = cleanup::Hook();
}

pid_t Worker::pid() const { return shared_->Pid(); }

std::optional<std::uint64_t> Worker::ResidentBytes() const {
  pid_t current = shared_->Pid();
  if (current == 0) return std::nullopt;
  return GroupResidentBytes(current);
}

}  // namespace quorvane::engines::libreoffice
