#include "server.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <httplib.h>

#include "conversion.hpp"
#include "local_socket.hpp"
#include "log.hpp"
#include "metrics.hpp"
#include "pool.hpp"
#include "quorvane/catalog.hpp"
#include "quorvane/control.hpp"
#include "quorvane/office_limits.hpp"
#include "quorvane/utf.hpp"

namespace quorvane::service {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kWatchInterval = std::chrono::milliseconds(100);

// A time no wait reaches.
Clock::time_point Forever() { return Clock::now() + std::chrono::hours(24 * 365); }
constexpr std::size_t kMaxFieldBytes = 1024;
constexpr std::size_t kMaxFields = 16;
constexpr const char* kUploadPrefix = "quorvane-upload-";
constexpr const char* kRequestIdHeader = "X-Request-Id";
// How often the office is looked at while none answers.
constexpr auto kProbeInterval = std::chrono::seconds(10);

std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
}

// A private folder for one request's files, removed with what it holds when the last holder lets
// go (after the answer has been sent). Its name carries the server's process id, so that a server
// that died leaves folders the next one recognises and removes.
class UploadFolder {
 public:
  static std::shared_ptr<UploadFolder> Make() {
    std::string pattern = TemporaryFolder() + "/" + kUploadPrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error(std::string("cannot make a folder for the upload: ") + std::strerror(errno));
    return std::shared_ptr<UploadFolder>(new UploadFolder(pattern));
  }
  ~UploadFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  explicit UploadFolder(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

// Removes the upload folders of servers that are no longer running.
void SweepUploads() {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(TemporaryFolder(), error)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(kUploadPrefix)) continue;
    const long pid = std::strtol(name.c_str() + std::strlen(kUploadPrefix), nullptr, 10);
    if (pid <= 0 || pid == ::getpid() || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) {
      std::error_code ignored;
      if (pid != ::getpid()) fs::remove_all(entry.path(), ignored);
    }
  }
}

// The socket of the connection a request came on: the one whose ends are the request's addresses.
// -1 when none matches (the connection is gone already).
int ConnectionSocket(const httplib::Request& req) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
    const int fd = std::atoi(entry.path().filename().c_str());
    sockaddr_storage local{};
    sockaddr_storage peer{};
    socklen_t localSize = sizeof local;
    socklen_t peerSize = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localSize) != 0) continue;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0) continue;
    const auto port = [](const sockaddr_storage& a) {
      if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
      if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
      return std::uint16_t{0};
    };
    const auto address = [](const sockaddr_storage& a) {
      char text[INET6_ADDRSTRLEN] = "";
      if (a.ss_family == AF_INET) inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(a).sin_addr, text, sizeof text);
      if (a.ss_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(a).sin6_addr, text, sizeof text);
      return std::string(text);
    };
    if (port(local) == req.local_port && port(peer) == req.remote_port && address(peer) == req.remote_addr) return fd;
  }
  return -1;
}

// The last part of a name a client gave (either kind of slash), letters, digits, '.', '-' and '_'
// kept and the rest made '_'; what a Content-Disposition may carry. Never names a file here.
std::string SafeName(const std::string& given) {
  const auto slash = given.find_last_of("/\\");
  std::string name = given.substr(slash == std::string::npos ? 0 : slash + 1);
  for (char& c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '-' || c == '_';
    if (!ok) c = '_';
  }
  while (!name.empty() && name.front() == '.') name.erase(0, 1);
  if (name.size() > 100) name.resize(100);
  return name;
}

std::string Stem(const std::string& name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The extension of an uploaded deck's name, when it is a plausible one: the office and the engine
// tell some formats by it.
std::string UploadExtension(const std::string& safeName) {
  const auto dot = safeName.rfind('.');
  if (dot == std::string::npos) return {};
  const std::string ext = AsciiLower(safeName.substr(dot + 1));
  if (ext.empty() || ext.size() > 8) return {};
  for (const char c : ext)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return {};
  return ext;
}

std::optional<bool> ParseBool(const std::string& text) {
  const std::string value = AsciiLower(text);
  if (value == "true" || value == "1" || value == "yes" || value == "on") return true;
  if (value == "false" || value == "0" || value == "no" || value == "off" || value.empty()) return false;
  return std::nullopt;
}

std::optional<std::int32_t> ParseInt(const std::string& text) {
  if (text.empty()) return 0;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < 0 || value > 1'000'000) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::string MediaType(const std::string& extension) {
  static const std::map<std::string, std::string> types{
      {"pdf", "application/pdf"},
      {"xps", "application/oxps"},
      {"zip", "application/zip"},
      {"txt", "text/plain; charset=utf-8"},
      {"htm", "text/html"},
      {"html", "text/html"},
      {"mht", "multipart/related"},
      {"rtf", "application/rtf"},
      {"doc", "application/msword"},
      {"png", "image/png"},
      {"jpg", "image/jpeg"},
      {"gif", "image/gif"},
      {"bmp", "image/bmp"},
      {"tif", "image/tiff"},
      {"emf", "image/emf"},
      {"wmf", "image/wmf"},
      {"odp", "application/vnd.oasis.opendocument.presentation"},
      {"ppt", "application/vnd.ms-powerpoint"},
      {"pps", "application/vnd.ms-powerpoint"},
      {"pot", "application/vnd.ms-powerpoint"},
      {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
      {"ppsx", "application/vnd.openxmlformats-officedocument.presentationml.slideshow"},
      {"potx", "application/vnd.openxmlformats-officedocument.presentationml.template"},
      {"pptm", "application/vnd.ms-powerpoint.presentation.macroEnabled.12"},
      {"xml", "application/xml"},
      {"md", "text/markdown; charset=utf-8"},
      {"json", "application/json"},
  };
  const auto found = types.find(AsciiLower(extension));
  return found != types.end() ? found->second : "application/octet-stream";
}

// Zips every file under `folder` (names relative to it) into `zipPath`; false when it cannot.
bool ZipFolder(const std::string& folder, const std::string& zipPath) {
  int error = 0;
  zip_t* archive = zip_open(zipPath.c_str(), ZIP_CREATE | ZIP_EXCL, &error);
  if (archive == nullptr) return false;
  std::error_code walkError;
  for (const auto& entry : fs::recursive_directory_iterator(folder, walkError)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), folder).generic_string();
    zip_source_t* source = zip_source_file(archive, entry.path().c_str(), 0, -1);
    if (source == nullptr || zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
      if (source != nullptr) zip_source_free(source);
      zip_discard(archive);
      return false;
    }
  }
  if (walkError || zip_close(archive) != 0) {
    zip_discard(archive);
    return false;
  }
  return true;
}

// A constant-time comparison, so that a token cannot be guessed from answer times.
bool SameSecret(const std::string& a, const std::string& b) {
  unsigned char difference = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i % (b.empty() ? 1 : b.size())]);
  return difference == 0;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
  if (what.empty()) return text;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size())
    text.replace(at, what.size(), with);
  return text;
}

// A small presentation that the office must open and draw for /ready to say that it answers.
constexpr const char* kProbeDeck = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.2"
 office:mimetype="application/vnd.oasis.opendocument.presentation"><office:body><office:presentation>
<draw:page draw:name="1"><draw:frame svg:x="2cm" svg:y="2cm" svg:width="10cm" svg:height="3cm">
<draw:text-box><text:p>ready</text:p></draw:text-box></draw:frame></draw:page>
</office:presentation></office:body></office:document>
)";

}  // namespace

class Server::Impl {
 public:
  explicit Impl(ServerOptions options) : options_(std::move(options)) {}

  void Run();
  void Drain();

 private:
  void Route();
  void Convert(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader);
  void Ready(httplib::Response& res);
  void Probe();
  bool ProbeOffice();
  void Fail(httplib::Response& res, int status, std::int32_t code, const std::string& message,
            const std::string& cause = {}) const;
  Gauges ReadGauges() const;
  int RetryAfterSeconds() const;

  ServerOptions options_;
  std::unique_ptr<ConversionPool> pool_;
  std::unique_ptr<LocalDoor> local_;
  httplib::Server http_;
  Metrics metrics_;
  std::string formatsJson_;
  std::string errorsJson_;
  std::shared_ptr<UploadFolder> own_;  // the probe deck's folder

  std::atomic<bool> draining_{false};
  std::atomic<int> answering_{0};  // HTTP requests routed and not yet answered whole
  std::mutex mutex_;
  std::condition_variable changed_;
  bool drainAsked_ = false;
  bool drained_ = false;

  std::mutex probeMutex_;
  std::optional<Clock::time_point> probedAt_;
  bool officeAnswers_ = false;
  std::string officeProblem_;
};

void Server::Impl::Fail(httplib::Response& res, int status, std::int32_t code, const std::string& message,
                        const std::string& cause) const {
  res.status = status;
  const nlohmann::ordered_json body{{"request_id", res.get_header_value(kRequestIdHeader)},
                                    {"status", status},
                                    {"code", code},
                                    {"message", message},
                                    {"cause", cause}};
  res.set_content(body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n", "application/json");
}

Gauges Server::Impl::ReadGauges() const {
  Gauges g;
  g.waiting = pool_->waiting();
  g.running = pool_->running();
  g.workers = pool_->workers();
  g.draining = draining_.load();
  g.officesStarted = OfficesStarted();
  g.residentBytes = TreeResidentBytes();
  return g;
}

// What a client refused for a full queue should wait: the queue's work at the mean time of a
// conversion so far, spread over the workers; 1 to 120 s.
int Server::Impl::RetryAfterSeconds() const {
  const double waiting = static_cast<double>(pool_->waiting() + pool_->running());
  const double seconds = 2.0 * waiting / static_cast<double>(std::max<std::size_t>(pool_->workers(), 1));
  return std::clamp(static_cast<int>(std::ceil(seconds)), 1, 120);
}

bool Server::Impl::ProbeOffice() {
  const std::string input = own_->path() + "/probe.fodp";
  const std::string output = own_->path() + "/probe.pdf";
  ConversionSettings settings;
  settings.targetFileType = 32;
  const auto ticket = pool_->Submit({"probe.fodp", input, output}, settings, /*evenWhenFull=*/true);
  if (!ticket) return false;
  const auto result = ticket->WaitUntil(Clock::now() + options_.deadline);
  if (!result) ticket->Stop("the look at the office ran past its deadline");
  const ConversionResult answer = result ? *result : *ticket->WaitUntil(Forever());
  std::error_code ignored;
  fs::remove(output, ignored);
  std::lock_guard lock(probeMutex_);
  probedAt_ = Clock::now();
  officeAnswers_ = answer.ok();
  officeProblem_ = answer.ok() ? "" : (answer.causeText.empty() ? answer.errorText : answer.causeText);
  if (!answer.ok()) LogLine("warning", "office_not_ready", {{"code", answer.code}, {"cause", officeProblem_}});
  return officeAnswers_;
}

// Never waits: what the prober found last.
void Server::Impl::Ready(httplib::Response& res) {
  if (draining_) return Fail(res, 503, 0, "The server is ending: it takes no new work.");
  std::lock_guard lock(probeMutex_);
  if (!probedAt_) return Fail(res, 503, 0, "The offices are starting.");
  if (!officeAnswers_) return Fail(res, 503, 0, "No office answers.", officeProblem_);
  res.set_content(R"({"status":"ready"})" "\n", "application/json");
}

// Converts the probe deck as the server starts (so that the offices are warm before the first
// request), and again every little while for as long as no office answers.
void Server::Impl::Probe() {
  for (;;) {
    const bool answers = ProbeOffice();
    std::unique_lock lock(mutex_);
    const auto drain = [this] { return drainAsked_; };
    if (answers) return changed_.wait(lock, drain);
    if (changed_.wait_for(lock, kProbeInterval, drain)) return;
  }
}

void Server::Impl::Convert(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
  const std::string id = res.get_header_value(kRequestIdHeader);
  const auto started = Clock::now();
  if (draining_) {
    res.set_header("Retry-After", "5");
    return Fail(res, 503, 0, "The server is ending: it takes no new work.");
  }
  if (!req.is_multipart_form_data())
    return Fail(res, 400, 0, "The deck must come as multipart/form-data, in the field 'file'.");

  std::shared_ptr<UploadFolder> folder;
  try {
    folder = UploadFolder::Make();
  } catch (const std::exception& error) {
    return Fail(res, 500, 0, "The server cannot store the upload.", error.what());
  }
  std::map<std::string, std::string> fields;
  std::string part;
  std::string uploadName;
  std::string problem;
  int files = 0;
  std::uint64_t uploaded = 0;
  std::ofstream deck;
  std::string inputPath;
  const bool read = reader(
      [&](const httplib::MultipartFormData& header) {
        part = header.name;
        if (part != "file") {
          if (fields.size() >= kMaxFields) problem = "Too many fields.";
          return problem.empty();
        }
        if (++files > 1) {
          problem = "Only one deck may be sent, in the field 'file'.";
          return false;
        }
        uploadName = SafeName(header.filename);
        const std::string extension = UploadExtension(uploadName);
        inputPath = folder->path() + "/deck" + (extension.empty() ? "" : "." + extension);
        deck.open(inputPath, std::ios::binary);
        if (!deck) problem = "The server cannot store the upload.";
        return problem.empty();
      },
      [&](const char* data, std::size_t length) {
        // A client that trickles its upload gets the same deadline as a conversion.
        if (Clock::now() > started + options_.deadline) {
          problem = "The upload took longer than the request's deadline.";
          return false;
        }
        if (part == "file") {
          uploaded += length;
          deck.write(data, static_cast<std::streamsize>(length));
          if (!deck) problem = "The server cannot store the upload.";
          return problem.empty();
        }
        std::string& value = fields[part];
        if (value.size() + length > kMaxFieldBytes) {
          problem = "The field '" + SafeName(part) + "' is longer than " + std::to_string(kMaxFieldBytes) + " bytes.";
          return false;
        }
        value.append(data, length);
        return true;
      });
  deck.close();
  if (res.status == 413 || uploaded > options_.maxUploadBytes)
    return Fail(res, 413, 0, "The upload is larger than the server takes.",
                "at most " + std::to_string(options_.maxUploadBytes >> 20) + " MiB");
  if (!problem.empty()) return Fail(res, Clock::now() > started + options_.deadline ? 408 : 400, 0, problem);
  if (!read) return Fail(res, 400, 0, "The upload ended before it was complete.");
  if (files == 0) return Fail(res, 400, 0, "The deck must come in the field 'file'.");

  ConversionSettings settings;
  settings.document = ParseDocumentType(fields["type"]);
  const auto type = settings.document ? std::optional<std::int32_t>(0) : ParseType(fields["type"]);
  if (!type) {
    return Fail(res, 400, 0,
                fields["type"].empty() ? "The field 'type' is missing." : "The type '" + fields["type"] + "' is unknown.",
                "a code of GET /formats or one of " + TypeNames() + " md json");
  }
  settings.targetFileType = *type;
  const auto start = ParseInt(fields["start"]);
  const auto end = ParseInt(fields["end"]);
  if (!start || !end) return Fail(res, 400, 0, "'start' and 'end' are slide numbers from 1 (0: from the first, to the last).");
  settings.startSlide = *start;
  settings.endSlide = *end;
  struct Flag {
    const char* name;
    bool* value;
  };
  for (const Flag& flag : {Flag{"labels", &settings.showSlideAndShapeNumber}, Flag{"notes", &settings.includeNotes},
                           Flag{"notes-only", &settings.notesOnly}, Flag{"multi-file", &settings.multiFileOutput}}) {
    const auto value = ParseBool(fields[flag.name]);
    if (!value) return Fail(res, 400, 0, std::string("The field '") + flag.name + "' is true or false.");
    *flag.value = *value;
  }
  for (const auto& [name, value] : fields) {
    static const char* const known[] = {"type", "start", "end", "labels", "notes", "notes-only", "multi-file"};
    if (std::find(std::begin(known), std::end(known), name) == std::end(known))
      return Fail(res, 400, 0, "The field '" + SafeName(name) + "' is unknown.");
  }

  const std::string outFolder = folder->path() + "/out";
  fs::create_directory(outFolder);
  const std::string extension = settings.document == DocumentKind::kMarkdown ? "md"
                                : settings.document                          ? "json"
                                                          : Utf16ToUtf8(catalog::Extension(settings.targetFileType));
  const bool pictures = !settings.document && catalog::RouteOf(settings.targetFileType) == catalog::Route::SlidePictures;
  const std::string outputPath = outFolder + "/deck" + (pictures || extension.empty() ? "" : "." + extension);

  const auto ticket = pool_->Submit({"deck", inputPath, outputPath}, settings);
  if (!ticket) {
    res.set_header("Retry-After", std::to_string(RetryAfterSeconds()));
    if (draining_) return Fail(res, 503, 0, "The server is ending: it takes no new work.");
    return Fail(res, 503, 0, "The server is busy: its queue is full.",
                std::to_string(options_.queueLength) + " conversions wait already");
  }
  const auto deadline = started + options_.deadline;
  const int connection = ConnectionSocket(req);
  bool late = false;
  bool gone = false;
  std::optional<ConversionResult> result;
  while (!(result = ticket->WaitUntil(std::min(deadline, Clock::now() + kWatchInterval)))) {
    if (!late && Clock::now() >= deadline) {
      late = true;
      ticket->Stop("the request ran past its deadline of " + std::to_string(options_.deadline.count()) + " s");
    }
    if (!gone && PeerGone(connection)) {
      gone = true;
      ticket->Stop("the client went away");
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  LogLine(result->ok() ? "info" : "warning", "converted",
          {{"request_id", id},
           {"type", settings.targetFileType},
           {"code", result->code},
           {"bytes_in", uploaded},
           {"seconds", seconds},
           {"client_gone", gone},
           {"late", late}});
  if (gone) return Fail(res, 499, result->code, "The client went away.");

  // The private folder's name means nothing to the client: causes name the deck as it was sent.
  const std::string shown = uploadName.empty() ? "deck" : uploadName;
  const auto tell = [&](const std::string& text) {
    // The component's own private folders (its copies of the deck, its offices') go the same way.
    static const std::regex privateFolder(R"((/[^'"\s]*)?/\.?quorvane-[a-z]+-[A-Za-z0-9_-]+/)");
    return std::regex_replace(Replace(Replace(text, inputPath, shown), folder->path() + "/", ""), privateFolder, "");
  };
  if (!result->ok()) {
    const int status = late ? 504 : result->failedCall ? 500 : 422;
    return Fail(res, status, result->code, tell(result->errorText), tell(result->causeText));
  }

  std::vector<fs::path> outputs;
  std::error_code walkError;
  for (const auto& entry : fs::recursive_directory_iterator(outFolder, walkError))
    if (entry.is_regular_file()) outputs.push_back(entry.path());
  const std::string stem = Stem(uploadName).empty() ? "deck" : Stem(uploadName);
  std::string answer;
  std::string answerName;
  if (outputs.size() == 1 && !settings.multiFileOutput && outputs.front().parent_path() == outFolder) {
    answer = outputs.front().string();
    answerName = stem + outputs.front().extension().string();
  } else {
    answer = folder->path() + "/answer.zip";
    answerName = stem + ".zip";
    if (!ZipFolder(outFolder, answer)) return Fail(res, 500, 0, "The server cannot pack the outputs into a zip.");
  }
  std::error_code sizeError;
  const auto size = fs::file_size(answer, sizeError);
  if (sizeError) return Fail(res, 500, 0, "The output cannot be read.", sizeError.message());
  auto file = std::make_shared<std::ifstream>(answer, std::ios::binary);
  res.set_header("Content-Disposition", "attachment; filename=\"" + answerName + "\"");
  res.set_content_provider(
      static_cast<std::size_t>(size), MediaType(fs::path(answerName).extension().string().substr(1)),
      [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        char buffer[1 << 16];
        file->clear();
        file->seekg(static_cast<std::streamoff>(offset));
        file->read(buffer, static_cast<std::streamsize>(std::min(length, sizeof buffer)));
        const auto got = file->gcount();
        if (got <= 0) return false;
        return sink.write(buffer, static_cast<std::size_t>(got));
      },
      [folder, file](bool) { file->close(); });  // the folder goes once the answer has
}

void Server::Impl::Route() {
  http_.set_payload_max_length(options_.maxUploadBytes + (std::size_t{1} << 20));
  http_.set_read_timeout(options_.readTimeout);
  http_.set_write_timeout(options_.readTimeout);
  // Enough threads that the cheap endpoints answer while every worker converts and the queue is full.
  const std::size_t threads = options_.workers + options_.queueLength + 8;
  http_.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };

  http_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    res.set_header(kRequestIdHeader, RequestIdFrom(req.get_header_value(kRequestIdHeader)));
    ++answering_;
    if (options_.token.empty() || req.path == "/health" || req.path == "/ready")
      return httplib::Server::HandlerResponse::Unhandled;
    const std::string sent = req.get_header_value("Authorization");
    if (sent.starts_with("Bearer ") && SameSecret(sent.substr(7), options_.token))
      return httplib::Server::HandlerResponse::Unhandled;
    res.set_header("WWW-Authenticate", "Bearer");
    Fail(res, 401, 0, "This server wants a bearer token.");
    return httplib::Server::HandlerResponse::Handled;
  });
  http_.set_error_handler(httplib::Server::HandlerWithResponse([this](const httplib::Request&, httplib::Response& res) {
    if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    const int status = res.status;
    Fail(res, status, 0,
         status == 404   ? "There is no such endpoint."
         : status == 413 ? "The upload is larger than the server takes."
         : status == 405 ? "The endpoint does not take this method."
                         : "The request cannot be served.");
    return httplib::Server::HandlerResponse::Handled;
  }));
  // A handler that throws (a folder that cannot be made, say) answers 500 with what it met.
  http_.set_exception_handler([this](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
    std::string what = "unknown";
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    Fail(res, 500, 0, "The server failed to answer the request.", what);
  });
  // Called once the answer has been written (or could not be).
  http_.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
    if (res.has_header(kRequestIdHeader)) --answering_;
    static const char* const known[] = {"/convert", "/formats", "/errors", "/health", "/ready", "/metrics"};
    const bool isKnown = std::find(std::begin(known), std::end(known), req.path) != std::end(known);
    metrics_.CountRequest(isKnown ? req.path : "other", res.status);
    LogLine(res.status >= 500 ? "warning" : "info", "request",
            {{"request_id", res.get_header_value(kRequestIdHeader)},
             {"method", req.method},
             {"path", isKnown ? req.path : "other"},
             {"status", res.status},
             {"remote", req.remote_addr}});
  });

  http_.Post("/convert", [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
    Convert(req, res, reader);
  });
  http_.Get("/formats", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(formatsJson_, "application/json");
  });
  http_.Get("/errors", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(errorsJson_, "application/json");
  });
  http_.Get("/health", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(R"({"status":"alive"})" "\n", "application/json");
  });
  http_.Get("/ready", [this](const httplib::Request&, httplib::Response& res) { Ready(res); });
  http_.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(metrics_.Exposition(ReadGauges()), "text/plain; version=0.0.4");
  });
}

void Server::Impl::Run() {
  SweepUploads();
  {
    // The tables a client may ask for, as the control answers them.
    QuorvaneX control;
    nlohmann::ordered_json formats = nlohmann::ordered_json::array();
    const Variant count = control.get_lNumberOfFileTypes();
    for (std::int32_t position = 1; count.is_integer() && position <= count.integer(); ++position) {
      std::u16string description;
      std::int32_t code = 0;
      control.GetFileType(position, description, code);
      VariantBool bare = kVariantFalse;
      std::int32_t lFiletype = code;
      const std::string extension = Utf16ToUtf8(control.LookUpSaveAsExtension(lFiletype, bare));
      formats.push_back({{"position", position},
                         {"code", code},
                         {"extension", extension},
                         {"single_file", control.FileTypeSupportsSingleFileOutput(lFiletype) != kVariantFalse},
                         {"description", Utf16ToUtf8(description)}});
    }
    formatsJson_ = formats.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    nlohmann::ordered_json errors = nlohmann::ordered_json::array();
    for (const auto& entry : catalog::Errors()) {
      Variant number(entry.code);
      errors.push_back({{"code", entry.code}, {"message", Utf16ToUtf8(control.GetErrorString(number))}});
    }
    errorsJson_ = errors.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  }

  pool_ = std::make_unique<ConversionPool>(options_.workers, options_.queueLength);
  own_ = UploadFolder::Make();
  pool_->OnFinished([this](const ConversionJob& job, const ConversionSettings& settings, const ConversionResult& result) {
    if (job.inputPath.starts_with(own_->path() + "/")) return;  // the probe, which is nobody's conversion
    metrics_.CountConversion(settings.targetFileType, result.code, result.seconds);
  });
  std::ofstream(own_->path() + "/probe.fodp") << kProbeDeck;

  std::string socketPath;
  if (options_.socketPath != "-") {
    socketPath = options_.socketPath.empty() ? DefaultSocketPath() : options_.socketPath;
    local_ = std::make_unique<LocalDoor>(*pool_, socketPath);
  }
  int port = 0;
  if (options_.http) {
    Route();
    port = options_.port;
    if (port == 0) {
      port = http_.bind_to_any_port(options_.host);
      if (port < 0) throw std::runtime_error("cannot listen on " + options_.host + ": no free port");
    } else if (!http_.bind_to_port(options_.host, port)) {
      throw std::runtime_error("cannot listen on " + options_.host + ":" + std::to_string(port) + ": " +
                               std::strerror(errno));
    }
  }
  nlohmann::json listening{{"workers", pool_->workers()},
                           {"queue", options_.queueLength},
                           {"max_upload_bytes", options_.maxUploadBytes},
                           {"deadline_seconds", options_.deadline.count()},
                           {"authentication", !options_.token.empty()}};
  listening["http"] = options_.http ? nlohmann::json(options_.host + ":" + std::to_string(port)) : nlohmann::json();
  listening["socket"] = socketPath.empty() ? nlohmann::json() : nlohmann::json(socketPath);
  LogLine("info", "listening", listening);

  std::thread prober([this] { Probe(); });
  std::thread serving;
  if (options_.http) serving = std::thread([this] { http_.listen_after_bind(); });

  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return drainAsked_; });
  }
  LogLine("info", "draining", {{"waiting", pool_->waiting()}, {"running", pool_->running()}, {"grace_seconds", options_.grace.count()}});
  pool_->Close();
  const bool finished = pool_->WaitIdle(Clock::now() + options_.grace);
  if (!finished) {
    // What is left is stopped, and its clients get their answer before the doors close.
    LogLine("warning", "grace_over", {{"waiting", pool_->waiting()}, {"running", pool_->running()}});
    pool_->StopAll("the server ended before the conversion did");
    pool_->WaitIdle(Forever());
  }
  prober.join();
  if (options_.http) {
    // The answers of the conversions that finished are still being sent: stopping the server
    // would cut them off.
    for (int i = 0; i < 600 && answering_.load() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    http_.stop();
    serving.join();
  }
  if (local_) local_->Close();
  pool_.reset();  // stops what is left, ends the offices
  own_.reset();
  LogLine("info", "ended", {{"finished", finished}});
}

void Server::Impl::Drain() {
  draining_ = true;
  std::lock_guard lock(mutex_);
  drainAsked_ = true;
  changed_.notify_all();
}

Server::Server(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Server::~Server() = default;
void Server::Run() { impl_->Run(); }
void Server::Drain() { impl_->Drain(); }

}  // namespace quorvane::service
