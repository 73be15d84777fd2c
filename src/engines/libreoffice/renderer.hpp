#pragma once
// The renderer: what the native engine cannot do itself (drawing slides, writing legacy and
// foreign formats) is done by LibreOffice, run as separate processes and driven over its UNO
// remote bridge.
//
// Processes. Each worker is one soffice.bin, headless, in a process group of its own, with a
// private profile folder and a private named pipe. A crash, hang or leak of the office never
// reaches the host: the host only ever talks to it through the pipe.
//
// Pool and keep-alive. The workers form one pool per process, shared by every client. It holds no
// office until the first conversion needs one, then keeps it warm for the next. A conversion
// runs on one worker at a time; when several clients convert at once the pool grows up to
// RendererOptions::maxWorkers (by default the environment variable QUORVANE_RENDER_WORKERS as the
// process first uses the renderer, else kDefaultMaxWorkers), and callers beyond that wait for a free
// worker. A host that runs N conversions at once sets the variable to N before its first one. The pool lives as
// long as somebody holds a RendererLease: Renderer::Acquire hands out leases (copyable, like a
// shared pointer), and when the last one goes away every office is ended. So an application that
// holds a lease while it lives keeps the office warm between conversions, and one that takes a
// lease per conversion ends the office after each.
//
// Watch. Every call is bounded by the process's office limits (quorvane/office_limits.hpp, read at
// the start of the call): a deadline covering the wait for a worker, its start and the whole
// conversion, which is the base deadline plus the per-slide allowance for every slide the office
// loads (SlidesToLoad) and every picture it draws; and a bound on the resident memory of the
// office's process group, sampled while the caller waits. The office calls run on the worker's own
// thread while the caller waits; past the deadline or above the bound the office is killed (SIGKILL
// to its group), replaced at the next need, and the call fails with failure::kWin32Timeout or
// failure::kEOutOfMemory. An office that died between two conversions is noticed before the next
// (process state, then a cheap call) and replaced. A worker is retired after
// RendererOptions::recycleAfter conversions or when its resident memory exceeds
// RendererOptions::memoryCeilingBytes, or half the office memory bound when that is less, after a conversion.
//
// Safety. Inputs are loaded hidden and read-only, with links not updated, macros never run and an
// interaction handler that answers every question with "abort", so that nothing prompts, waits
// or fetches: an encrypted or password-protected input fails at once with failure::kEAccessDenied
// (compound files are recognised before the office sees them). Each profile starts with macros
// disabled, links from untrusted documents blocked and file locking off.
// Outputs are written into a private folder beside the target and renamed into place when
// complete, so a failed call leaves no half-written file.
//
// Failures: AutomationError with the numbers of failures.hpp and a description naming the file and
// the cause. E_FAIL (failure::kEFail) means only "this format cannot be written".
//
// Effects on the host process: the component itself needs no library of LibreOffice. The first
// office start (or Available) loads the renderer's UNO plugin, libquorvane-uno.so, and with it
// LibreOffice's UNO runtime (types and the bridge, not the office); the office start then sets
// URE_BOOTSTRAP, when it is not set, to that installation's fundamentalrc; the workers' threads block SIGPIPE; the offices are child processes
// (reaped by the renderer; a host that reaps every child itself only makes them look ended sooner).
// An office dies with its worker thread (PR_SET_PDEATHSIG), so none outlives a crashed host. An
// office's temporary files go into its worker's private folder (see worker.hpp); the socket files a
// killed office leaves in /tmp are removed when its worker ends. An early exit of the host
// (quorvane::PrepareForProcessExit) kills every office and removes all of that. The first Acquire
// of the process removes what processes that died without cleaning up left in the temporary folder
// (SweepLeftovers).
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "engines/libreoffice/failures.hpp"
#include "quorvane/office_limits.hpp"

namespace quorvane::engines::libreoffice {

inline constexpr int kDefaultRecycleAfter = 200;
inline constexpr std::uint64_t kDefaultMemoryCeilingBytes = std::uint64_t{2} << 30;  // 2 GiB
inline constexpr std::size_t kDefaultMaxWorkers = 2;
inline constexpr const char* kWorkersVariable = "QUORVANE_RENDER_WORKERS";
// The most workers the environment may ask for: each is a whole office process.
inline constexpr std::size_t kMaxWorkersLimit = 64;
// The longest a health check of an idle worker may take before the worker is replaced.
inline constexpr std::chrono::seconds kProbeTimeout{10};
// How long an ending office may take to end by itself before it is killed.
inline constexpr std::chrono::seconds kTerminateGrace{5};

struct RendererOptions {
  // At least 1. The process-wide settings start from DefaultMaxWorkers(QUORVANE_RENDER_WORKERS).
  std::size_t maxWorkers = kDefaultMaxWorkers;
  int recycleAfter = kDefaultRecycleAfter;  // conversions per office; 0 or less: never
  std::uint64_t memoryCeilingBytes = kDefaultMemoryCeilingBytes;
  // The folder of the soffice.bin to run; empty: DefaultProgramDirectory(). (The UNO runtime of this
  // process always comes from DefaultProgramDirectory(), the installation the UNO plugin was built
  // and linked against.)
  std::string programDirectory;
  // Where the private profile folders are made; empty: the system's temporary folder.
  std::string scratchDirectory;
};

// The program folder of the LibreOffice the component was built against.
std::string DefaultProgramDirectory();

// The slides a load of `path` costs the office: counted in the file where that is cheap (the slide
// parts of an Office Open XML package, the pages of an OpenDocument presentation), else estimated
// from its size (one slide per kBytesPerEstimatedSlide, at least 1). Never throws.
std::int64_t SlidesToLoad(const std::string& path);
inline constexpr std::uint64_t kBytesPerEstimatedSlide = 32 * 1024;

// The deadline budget of a call that loads `slidesLoaded` slides and draws `slidesDrawn` pictures:
// base plus the per-slide allowance for each, the allowance at most kMaxSlideAllowance.
std::chrono::milliseconds CallBudget(const OfficeLimits& limits, std::int64_t slidesLoaded, std::int64_t slidesDrawn);
inline constexpr std::chrono::hours kMaxSlideAllowance{2};

// Removes what workers of processes that have ended left in `folder` (their private folders and
// the socket files of their offices) and the renderer's private folders there. Never throws.
void SweepLeftovers(const std::string& folder);

// The pool's maximum when nobody configured one: the environment's value when it is a whole number
// from 1 to kMaxWorkersLimit, else kDefaultMaxWorkers.
std::size_t DefaultMaxWorkers(const char* environmentValue);

// A value of the filter's FilterData.
using FilterValue = std::variant<bool, std::int32_t, double, std::string>;

struct FilterOptions {
  std::string options;                                    // the filter's option string; empty: none
  std::vector<std::pair<std::string, FilterValue>> data;  // FilterData entries, in order
};

// A picture format of ExportSlides.
struct PictureFilter {
  std::string_view name;        // as the caller names it: "PNG", "GIF", "JPG", "BMP", "TIF", "EMF", "WMF"
  std::string_view officeName;  // the office's graphic filter short name
  bool raster;                  // drawn at a pixel size (false: a vector metafile)
};

// The filter of `name` (letter case ignored), or nullptr when the renderer does not serve it.
const PictureFilter* FindPictureFilter(std::string_view name);

struct SlideExport {
  std::int32_t slide = 1;  // 1-based, hidden slides included
  std::string path;        // the picture file
  std::string filter = "PNG";
  // Pixel size of raster pictures. 0 x 0: 96 dots per inch of the slide size; one of them 0: that
  // side follows the slide's aspect ratio. Ignored for metafiles.
  std::int32_t pixelWidth = 0;
  std::int32_t pixelHeight = 0;
  std::int32_t quality = 0;  // JPEG quality, 1 to 100; 0: the filter's default
};

// The largest side of a picture the renderer draws.
inline constexpr std::int32_t kMaxPixelSide = 20000;

// Pixel size of a slide picture: the slide size in 1/100 mm, the requested size (SlideExport's rule).
std::pair<std::int32_t, std::int32_t> SlidePixelSize(std::int32_t slideWidth100thMm, std::int32_t slideHeight100thMm,
                                                     std::int32_t requestedWidth, std::int32_t requestedHeight);

// One worker as the pool sees it (for diagnostics and tests).
struct WorkerStatus {
  pid_t pid = 0;
  bool busy = false;  // a conversion is running on it (not merely a health check)
  int conversions = 0;
};

namespace detail {
class Pool;
}

// A keep-alive handle on the process's renderer pool, and the way to convert through it.
// Copyable; the pool and its offices live while any copy does. Thread-safe.
class RendererLease {
 public:
  // Loads `input`, stores it to `output` with the office's export filter `filterName` ("impress_pdf_Export",
  // "MS PowerPoint 97", "impress8", "Impress MS PowerPoint 2007 XML", "writer_pdf_Export", ...).
  // A name the office has no export filter for fails with kEFail; an input that loads as
  // another kind of document than the filter writes (a text file given to a presentation filter, a
  // presentation given to a Writer filter) fails with kWin32InvalidData.
  void ConvertDocument(const std::string& input, const std::string& output, const std::string& filterName,
                       const FilterOptions& options = {}) const;

  // Loads `input` once and writes one picture per entry, in order. All pictures appear, or none.
  void ExportSlides(const std::string& input, const std::vector<SlideExport>& slides) const;

  std::vector<WorkerStatus> Workers() const;

  // Starts an office in the background when the pool has none idle or starting and is below its
  // maximum, so that the call about to come finds it started (or starting). Never throws.
  void Prestart() const noexcept;

 private:
  friend class Renderer;
  explicit RendererLease(std::shared_ptr<detail::Pool> pool) : pool_(std::move(pool)) {}
  std::shared_ptr<detail::Pool> pool_;
};

class Renderer {
 public:
  // A lease on the pool; makes the pool (not yet any office) when nobody holds one.
  static RendererLease Acquire();

  // Whether an office can be run at all: soffice.bin under RendererOptions::programDirectory is
  // executable, the UNO runtime's fundamentalrc is there and the UNO plugin loads. When not, `why`
  // says what is missing.
  static bool Available(std::string* why = nullptr);

  // Process-wide settings. They apply to the next call (maxWorkers) and to the next office started
  // (the rest). The offices' memory bound and deadlines are quorvane::SetOfficeLimits'.
  static void Configure(const RendererOptions& options);
  static RendererOptions Options();
};

}  // namespace quorvane::engines::libreoffice
