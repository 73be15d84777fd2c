#include "engines/libreoffice/renderer.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "engines/libreoffice/compound_file.hpp"
#include "engines/libreoffice/pool.hpp"
#include "engines/libreoffice/staging.hpp"
#include "engines/libreoffice/uno_session.hpp"
#include "quorvane/utf.hpp"

#ifndef QUORVANE_LIBREOFFICE_PROGRAM_DIR
#define QUORVANE_LIBREOFFICE_PROGRAM_DIR "/usr/lib/libreoffice/program"
#endif

namespace quorvane::engines::libreoffice {

namespace {

constexpr double kHundredthMmPerInch = 2540.0;
constexpr double kPictureDotsPerInch = 96.0;
constexpr long kMaxTimeoutSeconds = 86400;

// The pool and the settings of this process. Never destroyed, so that a lease that outlives
// static destruction still finds them.
struct Registry {
  std::mutex mutex;
  std::weak_ptr<detail::Pool> pool;
  RendererOptions options;
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
  if (input.empty()) Fail(failure::kFileNotFound, "No input file was given");
  std::string path = AbsolutePath(input);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    int error = errno;
    if (error == ENOENT || error == ENOTDIR) Fail(failure::kFileNotFound, "The file '" + input + "' does not exist");
    Fail(failure::kCannotRead, "The file '" + input + "' cannot be read (" + std::strerror(error) + ")");
  }
  if (!S_ISREG(st.st_mode)) Fail(failure::kCannotRead, "'" + input + "' is not a file");
  if (access(path.c_str(), R_OK) != 0) {
    Fail(failure::kCannotRead, "The file '" + input + "' cannot be read (" + std::strerror(errno) + ")");
  }
  if (SniffProtection(path) == Protection::Encrypted) {
    Fail(failure::kEncrypted, "The file '" + input + "' is encrypted (protected by a password)");
  }
  return path;
}

detail::CallContext StartCall(const RendererOptions& options, std::string what) {
  std::chrono::milliseconds budget = EffectiveTimeout(options.timeout, std::getenv(kTimeoutVariable));
  return detail::CallContext{std::chrono::steady_clock::now() + budget, budget, std::move(what)};
}

}  // namespace

std::string DefaultProgramDirectory() { return QUORVANE_LIBREOFFICE_PROGRAM_DIR; }

std::chrono::milliseconds EffectiveTimeout(const std::optional<std::chrono::milliseconds>& configured,
                                           const char* environmentValue) {
  if (configured) return std::max(*configured, std::chrono::milliseconds(1));
  if (environmentValue != nullptr && *environmentValue != '\0') {
    long seconds = 0;
    bool digits = true;
    for (const char* c = environmentValue; *c != '\0'; ++c) {
      if (*c < '0' || *c > '9' || seconds > kMaxTimeoutSeconds) {
        digits = false;
        break;
      }
      seconds = seconds * 10 + (*c - '0');
    }
    if (digits && seconds >= 1 && seconds <= kMaxTimeoutSeconds) return std::chrono::seconds(seconds);
  }
  return kDefaultTimeout;
}

std::size_t DefaultMaxWorkers(const char* environmentValue) {
  if (environmentValue == nullptr || *environmentValue == '\0') return kDefaultMaxWorkers;
  std::size_t workers = 0;
  for (const char* c = environmentValue; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || workers > kMaxWorkersLimit) return kDefaultMaxWorkers;
    workers = workers * 10 + static_cast<std::size_t>(*c - '0');
  }
  return workers >= 1 && workers <= kMaxWorkersLimit ? workers : kDefaultMaxWorkers;
}

void RendererLease::ConvertDocument(const std::string& input, const std::string& output, const std::string& filterName,
                                    const FilterOptions& options) const {
  std::shared_ptr<detail::Pool> pool = pool_;
  RendererOptions settings = Renderer::Options();
  detail::CallContext call = StartCall(settings, "converting '" + input + "' to '" + output + "'");
  std::string inputPath = CheckedInput(input);
  if (filterName.empty()) Fail(failure::kFormatNotServed, "No export filter was given for '" + output + "'");
  StagedOutput staged(output);
  ConvertJob job{input, FileUrl(inputPath), output, FileUrl(staged.stagedPath()), filterName, options};
  pool->Run(call, settings, [job](OfficeSession& session) { session.Convert(job); });
  staged.Commit();
}

void RendererLease::ExportSlides(const std::string& input, const std::vector<SlideExport>& slides) const {
  std::shared_ptr<detail::Pool> pool = pool_;
  RendererOptions settings = Renderer::Options();
  detail::CallContext call = StartCall(settings, "drawing the slides of '" + input + "'");
  std::string inputPath = CheckedInput(input);
  if (slides.empty()) return;
  std::vector<std::unique_ptr<StagedOutput>> staged;
  std::vector<PictureJob> jobs;
  for (const SlideExport& slide : slides) {
    const PictureFilter* filter = FindPictureFilter(slide.filter);
    if (filter == nullptr) {
      Fail(failure::kFormatNotServed, "The picture format '" + slide.filter + "' cannot be written (slide " +
                                          std::to_string(slide.slide) + " to '" + slide.path + "')");
    }
    if (slide.pixelWidth < 0 || slide.pixelHeight < 0 || slide.pixelWidth > kMaxPixelSide ||
        slide.pixelHeight > kMaxPixelSide) {
      Fail(failure::kOutOfRange, "The picture size " + std::to_string(slide.pixelWidth) + " x " +
                                     std::to_string(slide.pixelHeight) + " of '" + slide.path + "' is outside 0 to " +
                                     std::to_string(kMaxPixelSide) + " pixels");
    }
    staged.push_back(std::make_unique<StagedOutput>(slide.path));
    jobs.push_back(PictureJob{slide.slide, slide.path, FileUrl(staged.back()->stagedPath()), filter, slide.pixelWidth,
                              slide.pixelHeight});
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
