// The UNO side of the renderer: the plugin module libquorvane-uno.so, the one part of the component
// that links against LibreOffice's UNO libraries (see uno_session.hpp). The generated headers come
// from cppumaker at build time and are included as system headers, so that their warnings stay out
// of this build.
#include "engines/libreoffice/uno_session.hpp"

#include <unistd.h>

#include <atomic>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/XExporter.hpp>
#include <com/sun/star/document/XFilter.hpp>
#include <com/sun/star/drawing/XDrawPages.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/io/IOException.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/task/ErrorCodeRequest.hpp>
#include <com/sun/star/task/PasswordRequest.hpp>
#include <com/sun/star/task/XInteractionAbort.hpp>
#include <com/sun/star/task/XInteractionApprove.hpp>
#include <com/sun/star/task/XInteractionDisapprove.hpp>
#include <com/sun/star/task/XInteractionHandler.hpp>
#include <com/sun/star/task/XInteractionRequest.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/implbase1.hxx>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <rtl/ref.hxx>
#include <rtl/ustring.hxx>
#include <thread>

#include "engines/libreoffice/failures.hpp"

namespace quorvane::engines::libreoffice {

namespace uno = ::com::sun::star::uno;
namespace beans = ::com::sun::star::beans;
namespace lang = ::com::sun::star::lang;
namespace task = ::com::sun::star::task;
using uno::Reference;
using uno::UNO_QUERY;
using uno::UNO_QUERY_THROW;

namespace {

// Values of css::document::UpdateDocMode and css::document::MacroExecMode.
constexpr sal_Int16 kNoUpdate = 0;            // UpdateDocMode::NO_UPDATE
constexpr sal_Int16 kNeverExecute = 0;        // MacroExecMode::NEVER_EXECUTE
constexpr sal_Int32 kExportFilterFlag = 0x2;  // SfxFilterFlags::EXPORT
// An ErrCode with this bit is a warning: the document loaded and the office only wants it said.
constexpr sal_uInt32 kWarningMask = 0x80000000u;

rtl::OUString Ou(std::string_view text) {
  return rtl::OUString(text.data(), static_cast<sal_Int32>(text.size()), RTL_TEXTENCODING_UTF8);
}

std::string U8(const rtl::OUString& text) { return rtl::OUStringToOString(text, RTL_TEXTENCODING_UTF8).getStr(); }

beans::PropertyValue Property(std::string_view name, const uno::Any& value) {
  beans::PropertyValue p;
  p.Name = Ou(name);
  p.Value = value;
  return p;
}

uno::Sequence<beans::PropertyValue> Sequence(const std::vector<beans::PropertyValue>& values) {
  return uno::Sequence<beans::PropertyValue>(values.data(), static_cast<sal_Int32>(values.size()));
}

// "Unsupported URL <file:///...>: "type detection failed"" -> the quoted part; else the message.
std::string Reason(const uno::Exception& e) {
  std::string text = U8(e.Message);
  if (std::size_t at = text.find(" at ./"); at != std::string::npos) text.resize(at);  // source location
  return text.empty() ? "no reason given" : text;
}

// The process's own UNO runtime: types and the bridge services, nothing of the office. Made once,
// from the LibreOffice this plugin was built and linked against (whichever office it then talks
// to). URE_BOOTSTRAP has to name that installation's fundamentalrc before the runtime is made, or
// the office's types stay unknown here and the first remote call that needs them fails.
Reference<uno::XComponentContext> LocalContext(const std::string& programDirectory) {
  static std::mutex mutex;
  static Reference<uno::XComponentContext>* context = nullptr;  // never released: lives to the end
  std::lock_guard lock(mutex);
  if (context != nullptr) return *context;
  std::string bootstrap = programDirectory + "/fundamentalrc";
  if (access(bootstrap.c_str(), R_OK) != 0) {
    Fail(failure::kRpcServerUnavailable,
         "The UNO runtime of LibreOffice cannot be started in this process: '" + bootstrap + "' is missing");
  }
  if (std::getenv("URE_BOOTSTRAP") == nullptr) {
    std::string value = "vnd.sun.star.pathname:" + bootstrap;
    setenv("URE_BOOTSTRAP", value.c_str(), 0);
  }
  try {
    context = new Reference<uno::XComponentContext>(cppu::defaultBootstrap_InitialComponentContext());
  } catch (const uno::Exception& e) {
    Fail(failure::kRpcServerUnavailable,
         "The UNO runtime of LibreOffice cannot be started in this process: " + Reason(e));
  }
  return *context;
}

// Answers every question of the office with "abort" (a warning with "approve": the document is
// there, the office only wants to tell). Records whether a password was asked for.
class AbortingInteractionHandler : public cppu::WeakImplHelper1<task::XInteractionHandler> {
 public:
  void SAL_CALL handle(const Reference<task::XInteractionRequest>& request) override {
    uno::Any what = request->getRequest();
    task::PasswordRequest password;
    task::ErrorCodeRequest code;
    bool warning = false;
    if (what >>= password) {
      passwordAsked_ = true;
    } else if (what >>= code) {
      warning = (static_cast<sal_uInt32>(code.ErrCode) & kWarningMask) != 0;
      if (!warning) {
        char text[48];
        std::snprintf(text, sizeof text, "LibreOffice error 0x%08X", static_cast<unsigned>(code.ErrCode));
        Note(text);
      }
    } else {
      std::string type = U8(what.getValueTypeName());
      Note(type == "com.sun.star.document.BrokenPackageRequest" ? "the package is damaged"
                                                                : "LibreOffice asked " + type);
    }
    uno::Sequence<Reference<task::XInteractionContinuation>> choices = request->getContinuations();
    Reference<task::XInteractionContinuation> abort, approve, disapprove;
    for (sal_Int32 i = 0; i < choices.getLength(); ++i) {
      const Reference<task::XInteractionContinuation>& c = choices[i];
      if (Reference<task::XInteractionAbort>(c, UNO_QUERY).is()) abort = c;
      if (Reference<task::XInteractionApprove>(c, UNO_QUERY).is()) approve = c;
      if (Reference<task::XInteractionDisapprove>(c, UNO_QUERY).is()) disapprove = c;
    }
    Reference<task::XInteractionContinuation> choice = warning && approve.is() ? approve
                                                       : abort.is()            ? abort
                                                                               : disapprove;
    if (choice.is()) choice->select();
  }

  bool passwordAsked() const { return passwordAsked_; }
  // What the office asked about last (other than passwords and warnings); empty when nothing.
  std::string question() const {
    std::lock_guard lock(mutex_);
    return question_;
  }

 private:
  void Note(std::string text) {
    std::lock_guard lock(mutex_);
    question_ = std::move(text);
  }

  std::atomic<bool> passwordAsked_{false};
  mutable std::mutex mutex_;
  std::string question_;
};

// Closes a loaded document when it goes out of scope, whatever happened.
class DocumentGuard {
 public:
  explicit DocumentGuard(Reference<lang::XComponent> document) : document_(std::move(document)) {}
  ~DocumentGuard() {
    if (!document_.is()) return;
    try {
      Reference<::com::sun::star::util::XCloseable> closeable(document_, UNO_QUERY);
      if (closeable.is()) {
        closeable->close(true);
      } else {
        document_->dispose();
      }
    } catch (const uno::Exception&) {
      try {
        document_->dispose();
      } catch (const uno::Exception&) {
        // The office may be gone; nothing is left to close.
      }
    }
  }
  DocumentGuard(const DocumentGuard&) = delete;
  DocumentGuard& operator=(const DocumentGuard&) = delete;

 private:
  Reference<lang::XComponent> document_;
};

struct DocumentKind {
  const char* service;
  const char* noun;
};

constexpr DocumentKind kKinds[] = {
    {"com.sun.star.presentation.PresentationDocument", "presentation"},
    {"com.sun.star.drawing.DrawingDocument", "drawing"},
    {"com.sun.star.text.TextDocument", "text document"},
    {"com.sun.star.sheet.SpreadsheetDocument", "spreadsheet"},
    {"com.sun.star.formula.FormulaProperties", "formula"},
};

std::string NounOf(std::string_view service) {
  for (const DocumentKind& kind : kKinds) {
    if (service == kind.service) return kind.noun;
  }
  return std::string(service);
}

std::string KindOf(const Reference<lang::XComponent>& document) {
  Reference<lang::XServiceInfo> info(document, UNO_QUERY);
  if (info.is()) {
    for (const DocumentKind& kind : kKinds) {
      if (info->supportsService(Ou(kind.service))) return kind.noun;
    }
  }
  return "document of another kind";
}

uno::Any ToAny(const FilterValue& value) {
  struct Visitor {
    uno::Any operator()(bool v) const { return uno::Any(v); }
    uno::Any operator()(std::int32_t v) const { return uno::Any(static_cast<sal_Int32>(v)); }
    uno::Any operator()(double v) const { return uno::Any(v); }
    uno::Any operator()(const std::string& v) const { return uno::Any(Ou(v)); }
  };
  return std::visit(Visitor{}, value);
}

struct FilterFacts {
  std::string documentService;
  sal_Int32 flags = 0;
};

struct State {
  Reference<lang::XComponent> bridge;
  Reference<uno::XComponentContext> remote;
  Reference<::com::sun::star::frame::XDesktop2> desktop;
  Reference<::com::sun::star::container::XNameAccess> filters;
  std::map<std::string, std::optional<FilterFacts>> filterCache;

  // The facts of an export filter; nothing when the office has no filter of that name.
  const std::optional<FilterFacts>& Filter(const std::string& name) {
    auto found = filterCache.find(name);
    if (found != filterCache.end()) return found->second;
    if (!filters.is()) {
      filters.set(remote->getServiceManager()->createInstanceWithContext("com.sun.star.document.FilterFactory", remote),
                  UNO_QUERY_THROW);
    }
    std::optional<FilterFacts> facts;
    rtl::OUString key = Ou(name);
    if (!name.empty() && filters->hasByName(key)) {
      uno::Sequence<beans::PropertyValue> properties;
      filters->getByName(key) >>= properties;
      FilterFacts f;
      for (sal_Int32 i = 0; i < properties.getLength(); ++i) {
        const beans::PropertyValue& p = properties[i];
        if (p.Name == "DocumentService") {
          rtl::OUString service;
          p.Value >>= service;
          f.documentService = U8(service);
        } else if (p.Name == "Flags") {
          p.Value >>= f.flags;
        }
      }
      facts = f;
    }
    return filterCache.emplace(name, std::move(facts)).first->second;
  }

  // Loads an input the safe way; see renderer.hpp.
  Reference<lang::XComponent> Load(const std::string& path, const std::string& url) {
    rtl::Reference<AbortingInteractionHandler> handler(new AbortingInteractionHandler);
    std::vector<beans::PropertyValue> properties = {
        Property("Hidden", uno::Any(true)),
        Property("ReadOnly", uno::Any(true)),
        Property("AsTemplate", uno::Any(false)),
        Property("UpdateDocMode", uno::Any(kNoUpdate)),
        Property("MacroExecutionMode", uno::Any(kNeverExecute)),
        Property("InteractionHandler", uno::Any(Reference<task::XInteractionHandler>(handler.get()))),
    };
    Reference<lang::XComponent> document;
    std::string reason;
    try {
      document = desktop->loadComponentFromURL(Ou(url), "_blank", 0, Sequence(properties));
    } catch (const lang::DisposedException&) {
      throw;
    } catch (const uno::Exception& e) {
      reason = Reason(e);
    }
    if (handler->passwordAsked()) {
      DocumentGuard close(document);
      Fail(failure::kEAccessDenied, "The file '" + path + "' is protected by a password");
    }
    if (!document.is()) {
      std::string question = handler->question();
      if (!question.empty()) reason = reason.empty() ? question : question + "; " + reason;
      Fail(failure::kWin32InvalidData, "The file '" + path + "' cannot be read as a document" +
                                           (reason.empty() ? std::string() : " (" + reason + ")"));
    }
    return document;
  }
};

// The session over one bridge.
class UnoOfficeSession final : public OfficeSession {
 public:
  explicit UnoOfficeSession(std::unique_ptr<State> state) : state_(std::move(state)) {}
  ~UnoOfficeSession() override;

  void Probe() override;
  void Convert(const ConvertJob& job) override;
  void ExportPictures(const std::string& inputPath, const std::string& inputUrl,
                      const std::vector<PictureJob>& jobs) override;
  void Terminate() noexcept override;
  bool broken() const override { return broken_; }

 private:
  std::unique_ptr<State> state_;
  bool broken_ = false;
};

UnoOfficeSession::~UnoOfficeSession() {
  try {
    state_->filters.clear();
    state_->desktop.clear();
    state_->remote.clear();
    if (state_->bridge.is()) state_->bridge->dispose();
  } catch (const uno::Exception&) {
    // A broken bridge has nothing left to dispose.
  }
}

OfficeSession* ConnectSession(const UnoConnectRequest& request) {
  const std::string& pipeName = request.pipeName;
  Reference<uno::XComponentContext> local = LocalContext(request.programDirectory);
  auto state = std::make_unique<State>();
  std::string lastReason = "the office did not open its pipe";
  for (;;) {
    if ((*request.officeEnded)()) return nullptr;
    try {
      Reference<::com::sun::star::connection::XConnection> connection =
          ::com::sun::star::connection::Connector::create(local)->connect(Ou("pipe,name=" + pipeName));
      Reference<::com::sun::star::bridge::XBridge> bridge =
          ::com::sun::star::bridge::BridgeFactory::create(local)->createBridge("", "urp", connection, nullptr);
      state->bridge.set(bridge, UNO_QUERY_THROW);
      state->remote.set(bridge->getInstance("StarOffice.ComponentContext"), UNO_QUERY_THROW);
      state->desktop = ::com::sun::star::frame::Desktop::create(state->remote);
      return new UnoOfficeSession(std::move(state));
    } catch (const ::com::sun::star::connection::NoConnectException& e) {
      lastReason = Reason(e);
    } catch (const uno::Exception& e) {
      // Connected too early or to an office on its way out: start over with a fresh bridge.
      lastReason = Reason(e);
      state = std::make_unique<State>();
    }
    if (OfficeSession::Clock::now() >= request.deadline) {
      Fail(failure::kRpcServerUnavailable, "LibreOffice did not answer on its pipe in time (" + lastReason + ")");
    }
    // Often: the office opens its pipe well into its start, and every moment after that is waited
    // for by the conversion (a failed attempt on a pipe that is not there yet costs little).
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void UnoOfficeSession::Probe() {
  try {
    state_->desktop->getCurrentComponent();
  } catch (const uno::Exception& e) {
    broken_ = true;
    Fail(failure::kRpcServerUnavailable, "LibreOffice does not answer: " + Reason(e));
  }
}

void UnoOfficeSession::Convert(const ConvertJob& job) {
  try {
    const std::optional<FilterFacts>& filter = state_->Filter(job.filterName);
    if (!filter || (filter->flags & kExportFilterFlag) == 0) {
      Fail(failure::kEFail,
           "LibreOffice has no export filter '" + job.filterName + "' to write '" + job.outputPath + "'");
    }
    Reference<lang::XComponent> document = state_->Load(job.inputPath, job.inputUrl);
    DocumentGuard close(document);
    Reference<lang::XServiceInfo> info(document, UNO_QUERY);
    if (!filter->documentService.empty() && (!info.is() || !info->supportsService(Ou(filter->documentService)))) {
      Fail(failure::kWin32InvalidData, "The file '" + job.inputPath + "' was read as a " + KindOf(document) +
                                           ", not as the " + NounOf(filter->documentService) + " the filter '" +
                                           job.filterName + "' writes");
    }
    std::vector<beans::PropertyValue> store = {
        Property("FilterName", uno::Any(Ou(job.filterName))),
        Property("Overwrite", uno::Any(true)),
    };
    if (!job.options.options.empty()) store.push_back(Property("FilterOptions", uno::Any(Ou(job.options.options))));
    if (!job.options.data.empty()) {
      std::vector<beans::PropertyValue> data;
      for (const auto& [name, value] : job.options.data) data.push_back(Property(name, ToAny(value)));
      store.push_back(Property("FilterData", uno::Any(Sequence(data))));
    }
    Reference<::com::sun::star::frame::XStorable> storable(document, UNO_QUERY_THROW);
    try {
      storable->storeToURL(Ou(job.outputUrl), Sequence(store));
    } catch (const lang::DisposedException&) {
      throw;
    } catch (const uno::Exception& e) {
      Fail(failure::kStgCantSave, "'" + job.inputPath + "' could not be written to '" + job.outputPath +
                                      "' with the filter '" + job.filterName + "' (" + Reason(e) + ")");
    }
  } catch (const lang::DisposedException& e) {
    broken_ = true;
    Fail(failure::kRpcServerUnavailable,
         "The connection to LibreOffice broke while converting '" + job.inputPath + "' (" + Reason(e) + ")");
  } catch (const uno::Exception& e) {
    Fail(failure::kWin32InvalidData, "LibreOffice failed while converting '" + job.inputPath + "' (" + Reason(e) + ")");
  }
}

void UnoOfficeSession::ExportPictures(const std::string& inputPath, const std::string& inputUrl,
                                      const std::vector<PictureJob>& jobs) {
  try {
    Reference<lang::XComponent> document = state_->Load(inputPath, inputUrl);
    DocumentGuard close(document);
    Reference<::com::sun::star::drawing::XDrawPagesSupplier> supplier(document, UNO_QUERY);
    if (!supplier.is()) {
      Fail(failure::kWin32InvalidData,
           "The file '" + inputPath + "' was read as a " + KindOf(document) + ", which has no slides to draw");
    }
    Reference<::com::sun::star::drawing::XDrawPages> pages = supplier->getDrawPages();
    sal_Int32 count = pages->getCount();
    Reference<uno::XInterface> exporterObject = state_->remote->getServiceManager()->createInstanceWithContext(
        "com.sun.star.drawing.GraphicExportFilter", state_->remote);
    Reference<::com::sun::star::document::XExporter> exporter(exporterObject, UNO_QUERY_THROW);
    Reference<::com::sun::star::document::XFilter> filter(exporterObject, UNO_QUERY_THROW);
    for (const PictureJob& job : jobs) {
      if (job.slide < 1 || job.slide > count) {
        Fail(failure::kDispBadIndex, "Slide " + std::to_string(job.slide) + " of '" + inputPath +
                                         "' does not exist (it has " + std::to_string(count) + " slides)");
      }
      Reference<lang::XComponent> page(pages->getByIndex(job.slide - 1), UNO_QUERY_THROW);
      std::vector<beans::PropertyValue> data;
      if (job.filter->raster) {
        Reference<beans::XPropertySet> pageProperties(page, UNO_QUERY_THROW);
        sal_Int32 width = 0;
        sal_Int32 height = 0;
        pageProperties->getPropertyValue("Width") >>= width;
        pageProperties->getPropertyValue("Height") >>= height;
        auto [pixelWidth, pixelHeight] = SlidePixelSize(width, height, job.pixelWidth, job.pixelHeight);
        data.push_back(Property("PixelWidth", uno::Any(static_cast<sal_Int32>(pixelWidth))));
        data.push_back(Property("PixelHeight", uno::Any(static_cast<sal_Int32>(pixelHeight))));
        if (job.quality > 0) data.push_back(Property("Quality", uno::Any(static_cast<sal_Int32>(job.quality))));
      }
      std::vector<beans::PropertyValue> descriptor = {
          Property("FilterName", uno::Any(Ou(job.filter->officeName))),
          Property("URL", uno::Any(Ou(job.outputUrl))),
          Property("FilterData", uno::Any(Sequence(data))),
      };
      exporter->setSourceDocument(page);
      bool written = false;
      try {
        written = filter->filter(Sequence(descriptor));
      } catch (const lang::DisposedException&) {
        throw;
      } catch (const uno::Exception& e) {
        Fail(failure::kStgCantSave, "Slide " + std::to_string(job.slide) + " of '" + inputPath +
                                        "' could not be written to '" + job.outputPath + "' (" + Reason(e) + ")");
      }
      if (!written) {
        Fail(failure::kStgCantSave, "Slide " + std::to_string(job.slide) + " of '" + inputPath +
                                        "' could not be written to '" + job.outputPath + "' as " +
                                        std::string(job.filter->name));
      }
    }
  } catch (const lang::DisposedException& e) {
    broken_ = true;
    Fail(failure::kRpcServerUnavailable,
         "The connection to LibreOffice broke while drawing the slides of '" + inputPath + "' (" + Reason(e) + ")");
  } catch (const uno::Exception& e) {
    Fail(failure::kWin32InvalidData,
         "LibreOffice failed while drawing the slides of '" + inputPath + "' (" + Reason(e) + ")");
  }
}

void UnoOfficeSession::Terminate() noexcept {
  try {
    if (state_->desktop.is()) state_->desktop->terminate();
  } catch (...) {
    // The office often ends before it answers; the worker kills one that does not end.
  }
}

}  // namespace

}  // namespace quorvane::engines::libreoffice

// The factory the component looks up after loading this module. Exceptions (AutomationError) pass
// through to the caller in the component.
extern "C" __attribute__((visibility("default"))) quorvane::engines::libreoffice::OfficeSession* quorvane_uno_connect_v1(
    const quorvane::engines::libreoffice::UnoConnectRequest& request) {
  return quorvane::engines::libreoffice::ConnectSession(request);
}
