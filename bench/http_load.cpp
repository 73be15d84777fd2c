// HTTP load on `quorvane serve`: many conversions from concurrent clients, with the offices killed at
// random if asked, and a count of what must never happen.
//
// Starts `quorvane serve --port 0 -j 2` with private TMPDIR, XDG_RUNTIME_DIR and XDG_CACHE_HOME, reads
// the port from its "listening" log line, waits for /ready, then sends N POST /convert requests
// (multipart `file` + `type=pdf`) from C client threads, round-robin over every .pptx, .ppt and .odp
// of the corpus. Reports:
// - throughput (requests per second of the whole load) and latency percentiles (p50, p95, p99, max);
// - the answers by HTTP status and JSON `code`, and the decks that got anything but 200 with what
//   they got (the hostile decks of the corpus: encrypted, truncated, empty);
// - the peak resident memory of the server and its offices together (sampled every 100 ms through
//   /proc: the server and all its descendants), against the same before the load and after it;
// - the upload folders (quorvane-upload-*) made during the load and left in the server's TMPDIR while
//   the server still runs,
//   other new entries there, and what is left there and which processes still run once the server
//   has exited on SIGTERM.
// With --kill-office an office process of the server (soffice.bin, SIGKILL) is killed every ~2 s
// during the load: every request must still be answered (200 or a JSON error).
//
// Usage: quorvane_http_load [--kill-office] [--requests N] [--clients C] [--seed S] [--exclude TEXT]...
//        (default 200 requests, 8 clients, seed 1; --exclude leaves out the decks whose corpus path
//        holds TEXT). The server is the build's `quorvane`
//        (QUORVANE_CLI), the corpus QUORVANE_CORPUS_DIR, or the environment's QUORVANE_CORPUS_DIR.
// Exits 1 when a request got no answer (transport error, or no answer within 360 s), when an upload
// folder was still there 60 s after the load, when the server did not exit 0 on SIGTERM, or when files or processes were
// left after it exited.
#include <httplib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

constexpr int kReadTimeoutSeconds = 360;  // above the server's default deadline of 300 s
// The server makes one folder per request in its TMPDIR, named so; none may outlive its answer. (The
// server's own folder of that name, made at start for its look at the office, is there before the
// load and stays until it exits.)
constexpr const char* kUploadPrefix = "quorvane-upload-";

struct Options {
  bool killOffice = false;
  int requests = 200;
  int clients = 8;
  unsigned seed = 1;
  std::vector<std::string> exclude;  // decks whose corpus path holds one of these are left out
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// --- processes -------------------------------------------------------------------------------------

struct Process {
  pid_t pid = 0;
  pid_t parent = 0;
  long rssKiB = 0;
  std::string name;
};

// Every live process below `root` (zombies left out), from /proc.
std::vector<Process> Descendants(pid_t root) {
  std::vector<Process> all;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream status(entry.path() / "status");
    if (!status) continue;
    Process p;
    p.pid = std::stoi(name);
    bool zombie = false;
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("Name:", 0) == 0) p.name = line.substr(line.find_first_not_of(" \t", 5));
      if (line.rfind("PPid:", 0) == 0) p.parent = std::stoi(line.substr(5));
      if (line.rfind("VmRSS:", 0) == 0) p.rssKiB = std::stol(line.substr(6));
      if (line.rfind("State:", 0) == 0 && line.find('Z') != std::string::npos) zombie = true;
    }
    if (!zombie) all.push_back(p);
  }
  std::vector<Process> found;
  std::set<pid_t> inside{root};
  for (bool grew = true; grew;) {
    grew = false;
    for (const Process& p : all) {
      if (!inside.contains(p.pid) && inside.contains(p.parent)) {
        inside.insert(p.pid);
        found.push_back(p);
        grew = true;
      }
    }
  }
  return found;
}

long ResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

// Resident memory of the server alone and of the server with all its descendants.
struct Memory {
  long serverKiB = 0;
  long totalKiB = 0;
};
Memory Sample(pid_t server) {
  Memory m;
  m.serverKiB = ResidentKiB(server);
  m.totalKiB = m.serverKiB;
  for (const Process& p : Descendants(server)) m.totalKiB += p.rssKiB;
  return m;
}

double MiB(long kib) { return static_cast<double>(kib) / 1024.0; }

// --- the server ------------------------------------------------------------------------------------

struct Server {
  pid_t pid = -1;
  int port = 0;
  fs::path log;
  std::thread reader;
  std::mutex mutex;
  std::map<std::string, int> linesByLevel;
};

// Starts the server with its standard error on a pipe whose lines go to `server.log`; returns once its
// "listening" line told the port (false when it ended or said nothing for 120 s).
bool Start(Server& server, const fs::path& quorvane, const fs::path& work) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return false;
  server.pid = fork();
  if (server.pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);  // ends with the bench
    setenv("TMPDIR", (work / "tmp").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (work / "run").c_str(), 1);
    setenv("XDG_CACHE_HOME", (work / "cache").c_str(), 1);
    dup2(pipeFds[1], 2);
    close(pipeFds[0]);
    close(pipeFds[1]);
    execl(quorvane.c_str(), "quorvane", "serve", "--port", "0", "-j", "2", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  server.log = work / "serve.log";
  std::promise<int> portFound;
  auto portFuture = portFound.get_future();
  server.reader = std::thread([&server, fd = pipeFds[0], promise = std::move(portFound)]() mutable {
    std::ofstream log(server.log);
    FILE* in = fdopen(fd, "r");
    bool told = false;
    char* line = nullptr;
    size_t size = 0;
    while (getline(&line, &size, in) > 0) {
      log << line << std::flush;
      const Json entry = Json::parse(line, nullptr, false);
      if (entry.is_discarded() || !entry.is_object()) continue;
      {
        std::lock_guard lock(server.mutex);
        server.linesByLevel[entry.value("level", std::string("?"))]++;
      }
      if (!told && entry.value("event", std::string()) == "listening" && entry.contains("http")) {
        const std::string address = entry["http"].get<std::string>();
        promise.set_value(std::atoi(address.substr(address.rfind(':') + 1).c_str()));
        told = true;
      }
    }
    free(line);
    fclose(in);
    if (!told) promise.set_value(0);
  });
  if (portFuture.wait_for(std::chrono::seconds(120)) != std::future_status::ready) return false;
  server.port = portFuture.get();
  return server.port > 0;
}

// SIGTERM, then the exit status (-1 when it had to be killed after 120 s).
int Stop(Server& server, double& seconds) {
  const auto begin = Clock::now();
  kill(server.pid, SIGTERM);
  int status = 0;
  for (;;) {
    if (waitpid(server.pid, &status, WNOHANG) == server.pid) break;
    if (Clock::now() - begin > std::chrono::seconds(120)) {
      kill(server.pid, SIGKILL);
      waitpid(server.pid, &status, 0);
      seconds = Seconds(Clock::now() - begin);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  seconds = Seconds(Clock::now() - begin);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// --- the load --------------------------------------------------------------------------------------

struct Deck {
  std::string name;  // relative to the corpus
  std::string bytes;
};

struct Answer {
  int deck = 0;
  int status = 0;      // 0: no answer
  std::string code;    // the JSON error's code, "" for 200
  std::string detail;  // transport error or the error's message
  double seconds = 0;
  bool pdf = false;
};

std::vector<Deck> CorpusDecks(const fs::path& corpus, const std::vector<std::string>& exclude) {
  std::vector<Deck> decks;
  for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
    std::string extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    if (!entry.is_regular_file() || (extension != ".pptx" && extension != ".ppt" && extension != ".odp")) continue;
    const std::string name = fs::relative(entry.path(), corpus).string();
    if (std::any_of(exclude.begin(), exclude.end(), [&](const std::string& e) { return name.find(e) != name.npos; }))
      continue;
    decks.push_back({name, ReadFile(entry.path())});
  }
  std::sort(decks.begin(), decks.end(), [](const Deck& a, const Deck& b) { return a.name < b.name; });
  return decks;
}

Answer Convert(httplib::Client& client, const std::vector<Deck>& decks, int index) {
  Answer answer;
  answer.deck = index % static_cast<int>(decks.size());
  const Deck& deck = decks[static_cast<std::size_t>(answer.deck)];
  const httplib::MultipartFormDataItems items = {
      {"file", deck.bytes, fs::path(deck.name).filename().string(), "application/octet-stream"},
      {"type", "pdf", "", ""},
  };
  const auto begin = Clock::now();
  const auto result = client.Post("/convert", items);
  answer.seconds = Seconds(Clock::now() - begin);
  if (!result) {
    answer.detail = httplib::to_string(result.error());
    return answer;
  }
  answer.status = result->status;
  if (answer.status == 200) {
    answer.pdf = result->body.rfind("%PDF-", 0) == 0;
    return answer;
  }
  const Json error = Json::parse(result->body, nullptr, false);
  if (error.is_object() && error.contains("code")) {
    answer.code = error["code"].dump();
    answer.detail = error.value("message", std::string());
  } else {
    answer.code = "(no JSON)";
    answer.detail = result->body.substr(0, 80);
  }
  return answer;
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
  return sorted[std::min(sorted.size(), std::max<std::size_t>(rank, 1)) - 1];
}

std::set<std::string> Entries(const fs::path& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) names.insert(entry.path().filename().string());
  return names;
}

std::string Metric(const std::string& metrics, const std::string& name) {
  std::istringstream lines(metrics);
  std::string found;
  for (std::string line; std::getline(lines, line);)
    if (line.rfind(name, 0) == 0) found += (found.empty() ? "" : ", ") + line.substr(name.size());
  return found.empty() ? "-" : found;
}

int Run(const Options& options) {
  const fs::path quorvane = QUORVANE_CLI;
  const char* corpusEnv = std::getenv("QUORVANE_CORPUS_DIR");
  const fs::path corpus = corpusEnv != nullptr ? fs::path(corpusEnv) : fs::path(QUORVANE_CORPUS_DIR);
  if (!fs::exists(quorvane) || !fs::is_directory(corpus)) {
    std::cerr << "http_load: needs the command at " << quorvane << " and the corpus at " << corpus << "\n";
    return 2;
  }
  const std::vector<Deck> decks = CorpusDecks(corpus, options.exclude);
  if (decks.empty()) {
    std::cerr << "http_load: no .pptx, .ppt or .odp in " << corpus << "\n";
    return 2;
  }
  prctl(PR_SET_CHILD_SUBREAPER, 1);  // offices the server leaves behind come to the bench
  signal(SIGPIPE, SIG_IGN);
  setvbuf(stdout, nullptr, _IOLBF, 0);

  char pattern[] = "/tmp/quorvane-http-load-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 2;
  const fs::path work = pattern;
  for (const char* folder : {"tmp", "run", "cache"}) fs::create_directories(work / folder);
  fs::permissions(work / "run", fs::perms::owner_all, fs::perm_options::replace);
  struct Cleanup {
    fs::path dir;
    ~Cleanup() {
      std::error_code ignored;
      fs::remove_all(dir, ignored);
    }
  } cleanup{work};

  Server server;
  const bool started = Start(server, quorvane, work);
  auto abandon = [&](const std::string& why) {
    std::cerr << "http_load: " << why << "; the server's log:\n" << ReadFile(server.log);
    if (server.pid > 0) {
      kill(server.pid, SIGKILL);
      waitpid(server.pid, nullptr, 0);
    }
    for (const Process& p : Descendants(getpid())) kill(p.pid, SIGKILL);
    if (server.reader.joinable()) server.reader.join();
    return 1;
  };
  if (!started) return abandon("the server told no HTTP port");
  std::printf("server pid %d on 127.0.0.1:%d; %zu corpus decks, %d requests from %d clients, type pdf%s\n", server.pid,
              server.port, decks.size(), options.requests, options.clients,
              options.killOffice ? ", an office killed every ~2 s" : "");
  {
    httplib::Client probe("127.0.0.1", server.port);
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    for (;;) {
      const auto ready = probe.Get("/ready");
      if (ready && ready->status == 200) break;
      if (Clock::now() > deadline) return abandon("the server was not ready in 120 s");
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  }
  const std::set<std::string> tmpBefore = Entries(work / "tmp");
  const Memory before = Sample(server.pid);

  // Memory sampler and office killer, until the load ends.
  std::atomic<bool> loading{true};
  std::atomic<long> peakKiB{before.totalKiB};
  std::atomic<int> kills{0};
  std::thread sampler([&] {
    while (loading) {
      peakKiB = std::max(peakKiB.load(), Sample(server.pid).totalKiB);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  std::thread killer([&] {
    if (!options.killOffice) return;
    std::mt19937 random(options.seed);
    auto next = Clock::now() + std::chrono::milliseconds(std::uniform_int_distribution<int>(1500, 2500)(random));
    while (loading) {
      if (Clock::now() >= next) {
        std::vector<pid_t> offices;
        for (const Process& p : Descendants(server.pid))
          if (p.name == "soffice.bin") offices.push_back(p.pid);
        if (!offices.empty()) {
          kill(offices[std::uniform_int_distribution<std::size_t>(0, offices.size() - 1)(random)], SIGKILL);
          ++kills;
        }
        next = Clock::now() + std::chrono::milliseconds(std::uniform_int_distribution<int>(1500, 2500)(random));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });

  std::vector<Answer> answers(static_cast<std::size_t>(options.requests));
  std::atomic<int> nextRequest{0};
  std::atomic<int> done{0};
  const auto loadBegin = Clock::now();
  std::vector<std::thread> clients;
  for (int c = 0; c < options.clients; ++c) {
    clients.emplace_back([&] {
      httplib::Client client("127.0.0.1", server.port);
      client.set_connection_timeout(10, 0);
      client.set_write_timeout(60, 0);
      client.set_read_timeout(kReadTimeoutSeconds, 0);
      for (int i = nextRequest++; i < options.requests; i = nextRequest++) {
        answers[static_cast<std::size_t>(i)] = Convert(client, decks, i);
        const int n = ++done;
        if (n % 25 == 0) std::printf("  %d/%d answered after %.1f s\n", n, options.requests, Seconds(Clock::now() - loadBegin));
      }
    });
  }
  for (auto& t : clients) t.join();
  const double wall = Seconds(Clock::now() - loadBegin);
  loading = false;
  sampler.join();
  killer.join();

  // After the load: the upload folders go once the answers are sent (or a stopped conversion has let
  // go of its files); wait up to 60 s for the last of them, then look at the rest and the memory.
  const auto loadEnd = Clock::now();
  std::vector<std::string> uploadsLeft, tmpNew;
  double uploadsGoneAfter = 0;
  for (;;) {
    uploadsLeft.clear();
    for (const std::string& name : Entries(work / "tmp"))
      if (name.rfind(kUploadPrefix, 0) == 0 && !tmpBefore.contains(name)) uploadsLeft.push_back(name);
    uploadsGoneAfter = Seconds(Clock::now() - loadEnd);
    if (uploadsLeft.empty() || uploadsGoneAfter > 60) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::this_thread::sleep_for(std::chrono::seconds(std::max(0, 3 - static_cast<int>(uploadsGoneAfter))));
  const Memory after = Sample(server.pid);
  for (const std::string& name : Entries(work / "tmp"))
    if (name.rfind(kUploadPrefix, 0) != 0 && !tmpBefore.contains(name)) tmpNew.push_back(name);
  std::string metrics;
  {
    httplib::Client probe("127.0.0.1", server.port);
    if (const auto m = probe.Get("/metrics"); m && m->status == 200) metrics = m->body;
  }

  double stopSeconds = 0;
  const int exitStatus = Stop(server, stopSeconds);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  const std::vector<Process> orphans = Descendants(getpid());
  for (const Process& p : orphans) kill(p.pid, SIGKILL);
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  if (server.reader.joinable()) server.reader.join();
  const std::set<std::string> tmpAfterExit = Entries(work / "tmp");

  // --- report ----------------------------------------------------------------------------------
  std::vector<double> latencies;
  std::map<std::pair<int, std::string>, int> byAnswer;
  std::map<int, std::set<std::string>> unusual;  // deck -> what it got other than 200
  int noAnswer = 0, notPdf = 0;
  for (const Answer& a : answers) {
    if (a.status == 0) {
      ++noAnswer;
      std::printf("  NO ANSWER: %s after %.1f s (%s)\n", decks[static_cast<std::size_t>(a.deck)].name.c_str(),
                  a.seconds, a.detail.c_str());
      continue;
    }
    latencies.push_back(a.seconds);
    byAnswer[{a.status, a.code}]++;
    if (a.status == 200 && !a.pdf) ++notPdf;
    if (a.status != 200)
      unusual[a.deck].insert(std::to_string(a.status) + " " + a.code + (a.detail.empty() ? "" : " " + a.detail));
  }
  std::sort(latencies.begin(), latencies.end());

  std::printf("\n%d requests in %.2f s: %.2f requests/s\n", options.requests, wall, options.requests / wall);
  std::printf("latency s: p50 %.3f  p95 %.3f  p99 %.3f  max %.3f\n", Percentile(latencies, 50),
              Percentile(latencies, 95), Percentile(latencies, 99), latencies.empty() ? 0.0 : latencies.back());
  std::printf("answers:\n");
  for (const auto& [key, count] : byAnswer)
    std::printf("  %d%s%s: %d\n", key.first, key.second.empty() ? "" : " code ", key.second.c_str(), count);
  if (noAnswer > 0) std::printf("  no answer: %d\n", noAnswer);
  if (notPdf > 0) std::printf("  200 without a PDF: %d\n", notPdf);
  if (!unusual.empty()) {
    std::printf("decks answered otherwise than 200:\n");
    for (const auto& [deck, what] : unusual) {
      std::printf("  %s:", decks[static_cast<std::size_t>(deck)].name.c_str());
      for (const std::string& w : what) std::printf(" [%s]", w.c_str());
      std::printf("\n");
    }
  }
  if (options.killOffice) {
    std::printf("offices killed: %d; restarts counted by the server: %s\n", kills.load(),
                Metric(metrics, "quorvane_office_restarts_total").c_str());
  }
  std::printf("memory MiB (server + offices): before %.0f, peak %.0f, after %.0f (server alone: before %.0f, after %.0f)\n",
              MiB(before.totalKiB), MiB(peakKiB.load()), MiB(after.totalKiB), MiB(before.serverKiB),
              MiB(after.serverKiB));
  if (uploadsLeft.empty())
    std::printf("upload folders in the server's TMPDIR: all gone %.1f s after the last answer\n", uploadsGoneAfter);
  else
    std::printf("upload folders in the server's TMPDIR still there 60 s after the load: %zu\n", uploadsLeft.size());
  for (const std::string& name : uploadsLeft) std::printf("  %s\n", name.c_str());
  std::printf("other new entries there: %s\n", tmpNew.empty() ? "none" : "");
  for (const std::string& name : tmpNew) std::printf("  %s\n", name.c_str());
  std::printf("server: SIGTERM -> exit status %d after %.2f s; log lines by level:", exitStatus, stopSeconds);
  for (const auto& [level, count] : server.linesByLevel) std::printf(" %s %d", level.c_str(), count);
  std::printf("\nleft after the server exited: %zu files or folders in its TMPDIR, %zu processes\n",
              tmpAfterExit.size(), orphans.size());
  for (const std::string& name : tmpAfterExit) std::printf("  file: %s\n", name.c_str());
  for (const Process& p : orphans) std::printf("  process: %d %s\n", p.pid, p.name.c_str());
  const bool ok = noAnswer == 0 && uploadsLeft.empty() && exitStatus == 0 && tmpAfterExit.empty() && orphans.empty();
  std::printf("%s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--kill-office") {
      options.killOffice = true;
    } else if (arg == "--requests" && hasValue) {
      options.requests = std::atoi(argv[++i]);
    } else if (arg == "--clients" && hasValue) {
      options.clients = std::atoi(argv[++i]);
    } else if (arg == "--seed" && hasValue) {
      options.seed = static_cast<unsigned>(std::atoi(argv[++i]));
    } else if (arg == "--exclude" && hasValue) {
      options.exclude.emplace_back(argv[++i]);
    } else {
      std::cerr << "usage: quorvane_http_load [--kill-office] [--requests N] [--clients C] [--seed S] [--exclude TEXT]...\n";
      return 2;
    }
  }
  if (options.requests < 1 || options.clients < 1) {
    std::cerr << "quorvane_http_load: --requests and --clients must be at least 1\n";
    return 2;
  }
  try {
    return Run(options);
  } catch (const std::exception& failure) {
    std::cerr << "quorvane_http_load: " << failure.what() << "\n";
    return 1;
  }
}
