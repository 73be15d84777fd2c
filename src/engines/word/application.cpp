// The Word stand-in's object model (engine.hpp): Application, Documents, Document, PageSetup and
// Selection over the document model, and saving in Word's formats.
#include <cmath>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "common/failures.hpp"
#include "common/numbered_files.hpp"
#include "common/owned_folder.hpp"
#include "common/text.hpp"
#include "engines/shared/clipboard.hpp"
#include "engines/shared/renderer.hpp"
#include "engines/word/document.hpp"
#include "engines/word/engine.hpp"
#include "engines/word/pictures.hpp"
#include "engines/word/writers.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::engines::word {

namespace ow = office::word;

namespace {

constexpr std::int32_t kSaveChanges = -1;  // WdSaveOptions
constexpr std::int32_t kLineBreak = 6;     // WdBreakType
constexpr std::int32_t kTextWrappingBreak = 11;

// Word's way of saying what failed: "Document.Close : Object has been deleted.", the member, then
// the registry's description of `number` and whatever follows it.
AutomationError Failed(std::u16string_view member, std::int32_t number, std::u16string_view more = {}) {
  return AutomationError(number, std::u16string(member) + u" : " + std::u16string(failure::Description(number)) +
                                     std::u16string(more));
}

// How each save format is written.
enum class Writer { kAnsiText, kUnicodeText, kDocx, kRtf, kHtml, kOffice };

struct SaveFormat {
  std::int32_t number;
  Writer writer;
  const char* officeFilter;  // kOffice: the Writer export filter of the renderer
};

constexpr SaveFormat kSaveFormats[] = {
    {0, Writer::kOffice, "MS Word 97"},
    {1, Writer::kOffice, "MS Word 97 Vorlage"},
    {2, Writer::kAnsiText, nullptr},
    {6, Writer::kRtf, nullptr},
    {7, Writer::kUnicodeText, nullptr},
    {8, Writer::kHtml, nullptr},
    {12, Writer::kDocx, nullptr},
    {16, Writer::kDocx, nullptr},
    {17, Writer::kOffice, "writer_pdf_Export"},
    {23, Writer::kOffice, "writer8"},
};
static_assert(std::size(kSaveFormats) == 10);

const SaveFormat* FindSaveFormat(std::int32_t number) {
  for (const auto& format : kSaveFormats)
    if (format.number == number) return &format;
  return nullptr;
}

struct DocumentState;

// One application: whether it runs, its open documents (the last one is the active document, where
// the selection is), the picture drawer and the lease on the renderer.
struct ApplicationState {
  bool running = true;
  std::vector<std::shared_ptr<DocumentState>> documents;
  PictureDrawer drawer;
  std::shared_ptr<const RendererLease> renderer;

  void Enter(std::u16string_view member) const {
    if (!running)
      throw Failed(member, failure::kServerUnavailable, u".");
  }
  std::shared_ptr<DocumentState> Active() const { return documents.empty() ? nullptr : documents.back(); }
};

struct DocumentState {
  DocumentContent content;
  bool open = true;
  bool changed = false;  // since Add or the last save
  bool saved = false;    // SaveAs succeeded once: savedName and savedFormat are set
  std::u16string savedName;
  std::int32_t savedFormat = 0;
};

// Writes `document` to `fileName` in `format`. The document is only read.
void Save(ApplicationState& app, const DocumentContent& document, const std::u16string& fileName,
          std::int32_t formatNumber) {
  const SaveFormat* format = FindSaveFormat(formatNumber);
  if (!format)
    throw AutomationError(failure::kEInvalidArg, u"Document.SaveAs : The file format " + text::Decimal(formatNumber) +
                                                     u" is not one this application can write.");
  if (fileName.empty() || !text::IsUsableFileName(fileName))
    throw AutomationError(failure::kPathFileAccessError,
                          u"Document.SaveAs : \"" + fileName + u"\" is not a valid file name.");
  const std::string path = text::ToUtf8(fileName);
  if (files::IsHeldForReading(path))
    throw AutomationError(failure::kPermissionDenied, u"Document.SaveAs : \"" + fileName +
                                                          u"\" is the file of an open presentation.");
  std::error_code ec;
  const std::filesystem::path target(path);
  if (std::filesystem::is_directory(target, ec))
    throw AutomationError(failure::kPathFileAccessError, u"Document.SaveAs : \"" + fileName + u"\" is a folder.");
  const std::filesystem::path folder = target.parent_path().empty() ? "." : target.parent_path();
  if (!std::filesystem::is_directory(folder, ec))
    throw AutomationError(failure::kPathNotFound,
                          u"Document.SaveAs : The folder of \"" + fileName + u"\" does not exist.");

  switch (format->writer) {
    case Writer::kAnsiText:
    case Writer::kUnicodeText:
      WriteText(document, format->writer == Writer::kUnicodeText, path);
      return;
    case Writer::kDocx: {
      cleanup::TemporaryFolder scratch;
      WriteDocx(document, app.drawer.Draw(document, PictureKind::kMetafile, scratch.path()), path);
      return;
    }
    case Writer::kRtf: {
      cleanup::TemporaryFolder scratch;
      WriteRtf(document, app.drawer.Draw(document, PictureKind::kMetafile, scratch.path()), path);
      return;
    }
    case Writer::kHtml: {
      cleanup::TemporaryFolder scratch;
      WriteHtml(document, app.drawer.Draw(document, PictureKind::kPng, scratch.path()), path);
      return;
    }
    case Writer::kOffice: {
      // Refused before anything is drawn when no office could write it.
      if (!TheRenderer().BuiltIn())
        throw AutomationError(failure::kEFail, u"Document.SaveAs : This format needs the office, which this build "
                                               u"does not include.");
      cleanup::TemporaryFolder scratch;
      const std::string docx = scratch.path() + "/document.docx";
      WriteDocx(document, app.drawer.Draw(document, PictureKind::kMetafile, scratch.path()), docx);
      if (!app.renderer) app.renderer = TheRenderer().Acquire();
      app.renderer->ConvertDocument(docx, path, format->officeFilter, {});
      return;
    }
  }
}

// What a document's objects share: the application and the document, and the check every member makes.
class DocumentObjectBase {
 public:
  DocumentObjectBase(std::shared_ptr<ApplicationState> app, std::shared_ptr<DocumentState> document)
        : app_(std::move(app)), document_(std::move(document)) {}

 protected:
  DocumentState& Enter(std::u16string_view member) const {
    app_->Enter(member);
    if (!document_->open) throw Failed(member, failure::kWordObjectDeleted);
    return *document_;
  }

  std::shared_ptr<ApplicationState> app_;
  std::shared_ptr<DocumentState> document_;
};

class PageSetupObject final : public ow::PageSetup, DocumentObjectBase {
 public:
  using DocumentObjectBase::DocumentObjectBase;

  void put_PageHeight(float value) override { Set(u"PageSetup.PageHeight", value, &DocumentContent::setPageHeight); }
  void put_PageWidth(float value) override { Set(u"PageSetup.PageWidth", value, &DocumentContent::setPageWidth); }

 private:
  void Set(std::u16string_view member, float value, void (DocumentContent::*setter)(float)) {
    DocumentState& document = Enter(member);
    if (!std::isfinite(value) || value < kMinPageSide || value > kMaxPageSide)
      throw Failed(member, failure::kWordValueOutOfRange);
    (document.content.*setter)(value);
    document.changed = true;
  }
};

class DocumentObject final : public ow::Document, DocumentObjectBase {
 public:
  using DocumentObjectBase::DocumentObjectBase;

  std::shared_ptr<ow::PageSetup> PageSetup() override {
    Enter(u"Document.PageSetup");
    return std::make_shared<PageSetupObject>(app_, document_);
  }

  void SaveAs(const std::u16string& fileName, std::int32_t fileFormat) override {
    DocumentState& document = Enter(u"Document.SaveAs");
    Save(*app_, document.content, fileName, fileFormat);
    document.saved = true;
    document.savedName = fileName;
    document.savedFormat = fileFormat;
    document.changed = false;
  }

  // With -1, changes made since the last save go to the same file in the same format; a document
  // never saved is closed without writing anything (there is nobody to ask for a name). Any other
  // value drops the changes. A failed save leaves the document open.
  void Close(std::int32_t saveChanges) override {
    DocumentState& document = Enter(u"Document.Close");
    if (saveChanges == kSaveChanges && document.saved && document.changed)
      Save(*app_, document.content, document.savedName, document.savedFormat);
    document.open = false;
    std::erase(app_->documents, document_);
  }
};

class DocumentsObject final : public ow::Documents {
 public:
  explicit DocumentsObject(std::shared_ptr<ApplicationState> app) : app_(std::move(app)) {}

  std::shared_ptr<ow::Document> Add() override {
    app_->Enter(u"Documents.Add");
    auto document = std::make_shared<DocumentState>();
    app_->documents.push_back(document);
    return std::make_shared<DocumentObject>(app_, std::move(document));
  }

 private:
  std::shared_ptr<ApplicationState> app_;
};

// The insertion point of the active document (the last one added that is still open).
class SelectionObject final : public ow::Selection {
 public:
  explicit SelectionObject(std::shared_ptr<ApplicationState> app) : app_(std::move(app)) {}

  void Paste() override {
    DocumentState& document = Active(u"Selection.Paste");
    auto slide = clipboard::CurrentSlide();
    if (!slide)
      throw Failed(u"Selection.Paste", failure::kWordNotAvailable, u" because the Clipboard is empty or not valid.");
    document.content.AppendPicture(std::move(slide));
    document.changed = true;
  }

  void InsertBreak(std::int32_t type) override {
    DocumentState& document = Active(u"Selection.InsertBreak");
    if (type == ow::kPageBreak) {
      document.content.AppendPageBreak();
    } else if (type == kLineBreak || type == kTextWrappingBreak) {
      document.content.AppendLineBreak();
    } else {
      throw Failed(u"Selection.InsertBreak", failure::kWordNotAvailable,
                   u" because break type " + text::Decimal(type) + u" is not made by this application.");
    }
    document.changed = true;
  }

  void InsertAfter(const std::u16string& text) override {
    DocumentState& document = Active(u"Selection.InsertAfter");
    document.content.AppendText(text);
    if (!text.empty()) document.changed = true;
  }

  void InsertParagraphAfter() override {
    DocumentState& document = Active(u"Selection.InsertParagraphAfter");
    document.content.AppendParagraph();
    document.changed = true;
  }

 private:
  DocumentState& Active(std::u16string_view member) {
    app_->Enter(member);
    const auto document = app_->Active();
    if (!document)
      throw Failed(member, failure::kWordNoDocumentOpen);
    return *document;
  }

  std::shared_ptr<ApplicationState> app_;
};

class ApplicationObject final : public ow::Application {
 public:
  ApplicationObject() : app_(std::make_shared<ApplicationState>()) {}
  ~ApplicationObject() override {
    // An application let go without Quit ends all the same: documents dropped, lease given back.
    if (app_->running) End();
  }
  ApplicationObject(const ApplicationObject&) = delete;
  ApplicationObject& operator=(const ApplicationObject&) = delete;

  std::u16string Name() override {
    app_->Enter(u"Application.Name");
    return std::u16string(kApplicationName);
  }
  // No prompts and no window are all this application ever has.
  void put_DisplayAlerts(std::int32_t) override { app_->Enter(u"Application.DisplayAlerts"); }
  void put_Visible(bool) override { app_->Enter(u"Application.Visible"); }
  std::shared_ptr<ow::Documents> Documents() override {
    app_->Enter(u"Application.Documents");
    return std::make_shared<DocumentsObject>(app_);
  }
  std::shared_ptr<ow::Selection> Selection() override {
    app_->Enter(u"Application.Selection");
    return std::make_shared<SelectionObject>(app_);
  }

  // With saveChanges, documents saved before and changed since are saved again first; a failure
  // there fails Quit and leaves the application running.
  void Quit(bool saveChanges) override {
    app_->Enter(u"Application.Quit");
    if (saveChanges)
      for (const auto& document : app_->documents)
        if (document->saved && document->changed)
          Save(*app_, document->content, document->savedName, document->savedFormat);
    End();
  }

 private:
  void End() {
    app_->running = false;
    for (const auto& document : app_->documents) document->open = false;
    app_->documents.clear();
    app_->drawer.Release();
    app_->renderer.reset();
  }

  std::shared_ptr<ApplicationState> app_;
};

}  // namespace

bool OfficeAvailable(std::string* why) { return TheRenderer().Available(why); }

std::shared_ptr<ow::Application> CreateApplication() { return std::make_shared<ApplicationObject>(); }

}  // namespace quorvane::engines::word
