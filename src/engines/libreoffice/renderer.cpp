#include "engines/libreoffice/renderer.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "common/owned_folder.hpp"
#include "engines/libreoffice/compound_file.hpp"
#include "engines/libreoffice/pool.hpp"
#include "engines/libreoffice/staging.hpp"
#include "engines/libreoffice/uno_session.hpp"
#include "engines/libreoffice/worker.hpp"
#include "engines/pptx/zip.hpp"
#include "quorvane/utf.hpp"

#ifndef QUORVANE_LIBREOFFICE_PROGRAM_DIR
#define QUORVANE_LIBREOFFICE_PROGRAM_DIR "/usr/lib/libreoffice/program"
#endif

namespace quorvane::engines::libreoffice {

namespace {

constexpr double kHundredthMmPerInch = 2540.0;
constexpr double kPictureDotsPerInch = 96.0;
// Where offices make their socket files, whatever their TMPDIR says.
constexpr const char* kSocketFolder = "/tmp";
// A private folder younger than this is never swept: its owner may not have locked it yet.
constexpr std::chrono::seconds kLeftoverMinimumAge{10};
// The renderer bridge's private folders (copies of decks handed to the office, pictures drawn).
constexpr const char* kRenderFolderPrefix = "quorvane-render-";

// The pool and the settings of this process. Never destroyed, so that a lease that outlives
// static destruction still finds them.
struct Registry {
  std::mutex mutex;
  std::weak_ptr<detail::Pool> pool;
  RendererOptions options;
  bool swept = false;  // the leftovers of ended processes, at the first Acquire
};

Registry& TheRegistry() {
  static Registry* registry = [] {
    auto* made = new Registry;
    made->options.maxWorkers = DefaultMaxWorkers(std::getenv(kWorkersVariable));
    return made;
  }();
  return *registry;
}

// The input as the office will get it: absolute, an existing readable file, not encrypted.
std::string CheckedInput(const std::string& input) {
  if (input.empty()) Fail(failure::kWin32FileNotFound, "No input file was given");
  std::string path = AbsolutePath(input);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    int error = errno;
    if (error == ENOENT || error == ENOTDIR)
      Fail(failure::kWin32FileNotFound, "The file '" + input + "' does not exist");
    Fail(failure::kStgReadFault, "The file '" + input + "' cannot be read (" + std::strerror(error) + ")");
  }
  if (!S_ISREG(st.st_mode)) Fail(failure::kStgReadFault, "'" + input + "' is not a file");
  if (access(path.c_str(), R_OK) != 0) {
    Fail(failure::kStgReadFault, "The file '" + input + "' cannot be read (" + std::strerror(errno) + ")");
  }
  if (SniffProtection(path) == Protection::Encrypted) {
    Fail(failure::kEAccessDenied, "The file '" + input + "' is encrypted (protected by a password)");
  }
  return path;
}

// The bounds of a call that started at `started`, loads `input` (checked) and draws `drawn` pictures.
CallBounds StartCall(std::chrono::steady_clock::time_point started, const std::string& input, std::int64_t drawn,
                     std::string what) {
  OfficeLimits limits = GetOfficeLimits();
  std::chrono::milliseconds budget = CallBudget(limits, SlidesToLoad(input), drawn);
  return CallBounds{started + budget, budget, limits.memoryBytes, std::move(what), WatchedStop()};
}

// Counts the occurrences of `needle` in a text handed over in chunks.
class Counter {
 public:
  explicit Counter(std::string_view needle) : needle_(needle) {}
  void Add(std::string_view chunk) {
    carry_.append(chunk);
    for (std::size_t at = carry_.find(needle_); at != std::string::npos; at = carry_.find(needle_, at + 1)) ++count_;
    std::size_t keep = std::min(carry_.size(), needle_.size() - 1);
    carry_.erase(0, carry_.size() - keep);
  }
  std::int64_t count() const { return count_; }

 private:
  std::string_view needle_;
  std::string carry_;
  std::int64_t count_ = 0;
};

// How much of a presentation's text is read to count its slides; past it, what was counted is
// taken (a bigger deck only gets a shorter deadline than it might).
constexpr std::uint64_t kMaxCountedBytes = std::uint64_t{64} << 20;
constexpr std::string_view kOdfPage = "<draw:page ";

struct CountedEnough {};

// The slides of a zip package: the slide parts of an Office Open XML presentation, else the pages
// in an OpenDocument content.xml. 0 when it is neither or cannot be read.
std::int64_t SlidesOfPackage(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::unique_ptr<pptx::zip::Reader> zip = pptx::zip::Reader::Open(fd);
  std::int64_t slides = 0;
  std::optional<std::uint64_t> content;
  for (std::uint64_t i = 0; i < zip->size(); ++i) {
    std::string name = zip->Entry(i).name;
    if (name == "content.xml") content = i;
    if (!name.starts_with("ppt/slides/slide") || !name.ends_with(".xml")) continue;
    std::string_view number = std::string_view(name).substr(16, name.size() - 16 - 4);
    if (!number.empty() && std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      ++slides;
    }
  }
  if (slides > 0 || !content) return slides;
  Counter pages(kOdfPage);
  std::uint64_t read = 0;
  try {
    zip->Read(*content, [&](std::string_view chunk) {
      pages.Add(chunk);
      read += chunk.size();
      if (read >= kMaxCountedBytes) throw CountedEnough{};
    });
  } catch (const CountedEnough&) {
  }
  return pages.count();
}

// The pages of a flat OpenDocument presentation (XML), or 0.
std::int64_t SlidesOfFlatXml(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  Counter pages(kOdfPage);
  std::string chunk(64 * 1024, '\0');
  std::uint64_t read = 0;
  while (in && read < kMaxCountedBytes) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    auto got = static_cast<std::size_t>(in.gcount());
    if (got == 0) break;
    pages.Add(std::string_view(chunk.data(), got));
    read += got;
  }
  return pages.count();
}

}  // namespace

std::int64_t SlidesToLoad(const std::string& path) {
  std::error_code ec;
  std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) size = 0;
  std::int64_t counted = 0;
  try {
    char head[4] = {};
    std::ifstream(path, std::ios::binary).read(head, sizeof head);
    if (std::string_view(head, 4) == std::string_view("PK\x03\x04", 4)) {
      counted = SlidesOfPackage(path);
    } else if (head[0] == '<' || (head[0] == '\xEF' && head[1] == '\xBB')) {
      counted = SlidesOfFlatXml(path);
    }
  } catch (...) {
    counted = 0;  // damaged: the office will say so; the size decides the deadline
  }
  if (counted > 0) return counted;
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(size / kBytesPerEstimatedSlide));
}

std::chrono::milliseconds CallBudget(const OfficeLimits& limits, std::int64_t slidesLoaded, std::int64_t slidesDrawn) {
  std::int64_t slides = std::max<std::int64_t>(0, slidesLoaded) + std::max<std::int64_t>(0, slidesDrawn);
  std::chrono::milliseconds cap = kMaxSlideAllowance;
  std::chrono::milliseconds allowance =
      limits.perSlide.count() > 0 && slides > cap.count() / limits.perSlide.count() ? cap : limits.perSlide * slides;
  return limits.baseDeadline + std::min(allowance, cap);
}

void SweepLeftovers(const std::string& folder) {
  for (const std::string& removed :
       cleanup::SweepLeftovers(folder, {kWorkerFolderPrefix, kRenderFolderPrefix}, kLeftoverMinimumAge)) {
    // The single-instance socket of the office that used this folder as its profile.
    if (!std::filesystem::path(removed).filename().string().starts_with(kWorkerFolderPrefix)) continue;
    std::vector<std::string> sockets = OfficeSocketFiles("", FileUrl(removed));
    if (sockets.size() > 1) ::unlink(sockets[1].c_str());
  }
  // The accept sockets name their host's process: "OSL_PIPE_<uid>_quorvane-<pid>-...". An office
  // ends with its host, so a socket of a process that is gone belongs to nobody.
  std::string prefix = "OSL_PIPE_" + std::to_string(::getuid()) + "_quorvane-";
  std::error_code ec;
  for (std::filesystem::directory_iterator it(kSocketFolder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (!name.starts_with(prefix)) continue;
    long long owner = std::atoll(name.c_str() + prefix.size());
    if (owner <= 0 || owner == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH) ::unlink(it->path().c_str());
  }
}

std::string DefaultProgramDirectory() { return QUORVANE_LIBREOFFICE_PROGRAM_DIR; }

std::size_t DefaultMaxWorkers(const char* environmentValue) {
  if (environmentValue == nullptr || *environmentValue == '\0') return kDefaultMaxWorkers;
  std::size_t workers = 0;
  for (const char* c = environmentValue; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || workers > kMaxWorkersLimit) return kDefaultMaxWorkers;
    workers = workers * 10 + static_cast<std::size_t>(*c - '0');
  }
  return workers >= 1 && workers <= kMaxWorkersLimit ? workers : kDefaultMaxWorkers;
}

void RendererLease::Prestart() const noexcept {
  try {
    const OfficeLimits limits = GetOfficeLimits();
    pool_->Prestart(CallBounds{std::chrono::steady_clock::now() + limits.baseDeadline, limits.baseDeadline,
                               limits.memoryBytes, "starting", WatchedStop()},
                    Renderer::Options());
  } catch (...) {
    // The call itself starts the office, and reports why it cannot.
  }
}

void RendererLease::ConvertDocument(const std::string& input, const std::string& output, const std::string& filterName,
                                    const FilterOptions& options) const {
  std::shared_ptr<detail::Pool> pool = pool_;
  RendererOptions settings = Renderer::Options();
  auto started = std::chrono::steady_clock::now();
  std::string inputPath = CheckedInput(input);
  CallBounds call = StartCall(started, inputPath, 0, "converting '" + input + "' to '" + output + "'");
  if (filterName.empty()) Fail(failure::kEFail, "No export filter was given for '" + output + "'");
  StagedOutput staged(output);
  ConvertJob job{input, FileUrl(inputPath), output, FileUrl(staged.stagedPath()), filterName, options};
  pool->Run(call, settings, [job](OfficeSession& session) { session.Convert(job); });
  staged.Commit();
}

void RendererLease::ExportSlides(const std::string& input, const std::vector<SlideExport>& slides) const {
  std::shared_ptr<detail::Pool> pool = pool_;
  RendererOptions settings = Renderer::Options();
  auto started = std::chrono::steady_clock::now();
  std::string inputPath = CheckedInput(input);
  if (slides.empty()) return;
  CallBounds call = StartCall(started, inputPath, static_cast<std::int64_t>(slides.size()),
                              "drawing the slides of '" + input + "'");
  std::vector<std::unique_ptr<StagedOutput>> staged;
  std::vector<PictureJob> jobs;
  for (const SlideExport& slide : slides) {
    const PictureFilter* filter = FindPictureFilter(slide.filter);
    if (filter == nullptr) {
      Fail(failure::kEFail, "The picture format '" + slide.filter + "' cannot be written (slide " +
                                std::to_string(slide.slide) + " to '" + slide.path + "')");
    }
    if (slide.pixelWidth < 0 || slide.pixelHeight < 0 || slide.pixelWidth > kMaxPixelSide ||
        slide.pixelHeight > kMaxPixelSide) {
      Fail(failure::kDispOverflow, "The picture size " + std::to_string(slide.pixelWidth) + " x " +
                                       std::to_string(slide.pixelHeight) + " of '" + slide.path + "' is outside 0 to " +
                                       std::to_string(kMaxPixelSide) + " pixels");
    }
    staged.push_back(std::make_unique<StagedOutput>(slide.path));
    jobs.push_back(PictureJob{slide.slide, slide.path, FileUrl(staged.back()->stagedPath()), filter, slide.pixelWidth,
                              slide.pixelHeight, std::clamp(slide.quality, 0, 100)});
  }
  std::string inputUrl = FileUrl(inputPath);
  pool->Run(call, settings,
            [input, inputUrl, jobs](OfficeSession& session) { session.ExportPictures(input, inputUrl, jobs); });
  for (const std::unique_ptr<StagedOutput>& output : staged) output->Commit();
}

std::vector<WorkerStatus> RendererLease::Workers() const { return pool_->Status(); }

RendererLease Renderer::Acquire() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  std::shared_ptr<detail::Pool> pool = registry.pool.lock();
  if (!pool) {
    if (!registry.swept) {
      registry.swept = true;
      std::string scratch = detail::ScratchDirectory(registry.options);
      SweepLeftovers(scratch);
      std::string temporary = detail::ScratchDirectory(RendererOptions{});
      if (temporary != scratch) SweepLeftovers(temporary);
    }
    pool = std::make_shared<detail::Pool>();
    registry.pool = pool;
  }
  return RendererLease(std::move(pool));
}

bool Renderer::Available(std::string* why) {
  RendererOptions options = Options();
  std::string folder = options.programDirectory.empty() ? DefaultProgramDirectory() : options.programDirectory;
  std::string program = folder + "/soffice.bin";
  if (access(program.c_str(), X_OK) != 0) {
    if (why != nullptr) *why = "LibreOffice is not installed: '" + program + "' cannot be run";
    return false;
  }
  std::string bootstrap = DefaultProgramDirectory() + "/fundamentalrc";
  if (access(bootstrap.c_str(), R_OK) != 0) {
    if (why != nullptr) *why = "LibreOffice is incomplete: '" + bootstrap + "' is missing";
    return false;
  }
  try {
    OfficeSession::LoadPlugin();
  } catch (const AutomationError& e) {
    if (why != nullptr) *why = Utf16ToUtf8(e.description());
    return false;
  }
  return true;
}

void Renderer::Configure(const RendererOptions& options) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.options = options;
}

RendererOptions Renderer::Options() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  return registry.options;
}

}  // namespace quorvane::engines::libreoffice
