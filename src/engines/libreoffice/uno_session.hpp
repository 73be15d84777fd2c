#pragma once
// One connection to one running office over the UNO remote bridge, and the conversions done
// through it.
//
// OfficeSession is an interface. Its implementation lives in a plugin module, libquorvane-uno.so
// (uno/uno_session.cpp, the only place that includes the UNO headers), which is what links against
// LibreOffice's UNO libraries. The component itself does not: it loads the plugin with dlopen the
// first time a session is needed, so that the component loads and converts without an office (text
// export, the native formats) on a machine where LibreOffice is not installed. Connect finds the
// plugin beside the loaded component, else at its build-tree place, else in the installed library
// folder; when it cannot be loaded, Connect fails with kRpcServerUnavailable saying why.
//
// Threading: a session is made, used and destroyed on one thread (its worker's). A call on it may
// block for as long as the office takes; abandoning it is the worker's business (it kills the
// office, after which every pending and later call ends with a broken connection).
//
// Failures are AutomationErrors (failures.hpp) naming the file and the cause: kEAccessDenied when the
// office asked for a password, kWin32InvalidData when the input cannot be read as a document of the
// filter's kind, kEFail when the office has no such export filter, kDispBadIndex for a slide
// outside the presentation, kStgCantSave when writing fails, kRpcServerUnavailable when the connection
// broke (broken() is true afterwards and the session is useless) or the plugin cannot be loaded.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engines/libreoffice/renderer.hpp"

namespace quorvane::engines::libreoffice {

// A document conversion with every name resolved.
struct ConvertJob {
  std::string inputPath;  // for messages
  std::string inputUrl;
  std::string outputPath;  // the final name, for messages
  std::string outputUrl;   // where the office writes (the staged file)
  std::string filterName;
  FilterOptions options;
};

// One picture of a slide with every name resolved.
struct PictureJob {
  std::int32_t slide = 1;  // 1-based
  std::string outputPath;  // the final name, for messages
  std::string outputUrl;   // the staged file
  const PictureFilter* filter = nullptr;
  std::int32_t pixelWidth = 0;
  std::int32_t pixelHeight = 0;
  std::int32_t quality = 0;  // JPEG quality, 1 to 100; 0: the filter's default
};

// The socket files an office with this pipe name and profile makes in the system's temporary folder:
// the pipe it accepts on, and its single-instance pipe (named after a hash of the profile URL). An
// office that is killed leaves them behind; the worker removes them once the office has ended.
std::vector<std::string> OfficeSocketFiles(const std::string& pipeName, const std::string& profileUrl);

class OfficeSession {
 public:
  using Clock = std::chrono::steady_clock;

  // Connects to the office listening on `pipeName`, retrying until `deadline`. Between tries it asks
  // `officeEnded`; when that answers true it gives up and returns nullptr. Throws kRpcServerUnavailable
  // when the plugin cannot be loaded, when the UNO runtime of this process cannot be started (from
  // DefaultProgramDirectory(), the installation the component was built against) or when the
  // deadline passes.
  static std::unique_ptr<OfficeSession> Connect(const std::string& pipeName, Clock::time_point deadline,
                                                const std::function<bool()>& officeEnded);

  // Loads the plugin if that has not been done (once per process; later calls only report the
  // outcome). Throws kRpcServerUnavailable when it cannot be loaded.
  static void LoadPlugin();

  virtual ~OfficeSession() = default;
  OfficeSession(const OfficeSession&) = delete;
  OfficeSession& operator=(const OfficeSession&) = delete;

  // A cheap call the office answers while it is healthy.
  virtual void Probe() = 0;
  // Loads, checks the filter against the document, stores, closes.
  virtual void Convert(const ConvertJob& job) = 0;
  // Loads once, writes every picture in order, closes.
  virtual void ExportPictures(const std::string& inputPath, const std::string& inputUrl,
                              const std::vector<PictureJob>& jobs) = 0;
  // Asks the office to end; failures are ignored (the worker kills what does not end).
  virtual void Terminate() noexcept = 0;

  virtual bool broken() const = 0;

 protected:
  OfficeSession() = default;
};

// What the component hands the plugin's factory. Both sides are built from this header in one
// build, with the same compiler; kUnoPluginVersion in the factory's name guards against a stale
// plugin from another build.
struct UnoConnectRequest {
  std::string pipeName;
  OfficeSession::Clock::time_point deadline;
  const std::function<bool()>* officeEnded = nullptr;
  std::string programDirectory;  // of the UNO runtime: DefaultProgramDirectory()
};

// The plugin's one exported function: a new session (owned by the caller), or nullptr when the
// office ended before it answered. Throws what OfficeSession::Connect throws.
using UnoConnectFunction = OfficeSession* (*)(const UnoConnectRequest& request);
inline constexpr const char* kUnoPluginFile = "libquorvane-uno.so";
inline constexpr const char* kUnoConnectSymbol = "quorvane_uno_connect_v1";

namespace detail {
// For tests: forgets the outcome of loading the plugin and, when `path` is not empty, makes the
// next load try only `path`. An empty `path` restores the normal search.
void ResetUnoPluginForTesting(const std::string& path);
}  // namespace detail

}  // namespace quorvane::engines::libreoffice
