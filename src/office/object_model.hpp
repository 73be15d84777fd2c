#pragma once
// The office object model as the converters call it: exactly the PowerPoint and Word members the
// component uses, with their arguments, as abstract classes. Engines (the native presentation
// engine, the renderer, the Word stand-in, the scripted test office) implement them; converters
// never know which engine answers.
//
// Contract for every implementation:
// - Objects are shared: every accessor returns a counted reference (std::shared_ptr), as
//   automation does. A reference stays usable as long as it is held; an object whose owner went
//   away (a closed presentation, a quit application) fails its calls rather than crash.
// - Every member may fail, and fails only by throwing quorvane::AutomationError with a failure
//   number (a run-time error number or an HRESULT) and a description. Engines pick the numbers
//   the converters' failure paths distinguish: 429 when an application cannot be created,
//   0x80004005 when a picture filter is not supported, 0x80048240 for an invalid request, 55 for a
//   file already open, 75 for a path or file access error, 0x80070057 for a bad parameter.
// - Indexes are 1-based. Tri-state answers are 32-bit integers, -1 true and 0 false.
// - Strings are UTF-16; file names are the host's paths, unchanged.
#include <cstdint>
#include <memory>
#include <string>

#include "office/reading.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::office {

using Tristate = std::int32_t;
inline constexpr Tristate kMsoTrue = -1;
inline constexpr Tristate kMsoFalse = 0;

namespace ppt {

class Application;
class Presentations;
class Presentation;
class PageSetup;
class Slides;
class Slide;
class NotesPage;
class Shapes;
class Placeholders;
class Shape;
class TextFrame;
class TextRange;
class PlaceholderFormat;
class Table;
class Cell;
class GroupItems;

// MsoShapeType values the component compares.
inline constexpr std::int32_t kMsoGroup = 6;
inline constexpr std::int32_t kMsoPlaceholder = 14;
inline constexpr std::int32_t kMsoTable = 19;

// PpPlaceholderType values the component compares.
inline constexpr std::int32_t kPlaceholderTitle = 1;
inline constexpr std::int32_t kPlaceholderBody = 2;
inline constexpr std::int32_t kPlaceholderCenterTitle = 3;
inline constexpr std::int32_t kPlaceholderSubtitle = 4;

class Application {
 public:
  virtual ~Application() = default;
  // Non-empty while the application answers; fails once it has gone away.
  virtual std::u16string Name() = 0;
  // Version text, a number with a decimal part ("16.0").
  virtual std::u16string Version() = 0;
  virtual std::shared_ptr<ppt::Presentations> Presentations() = 0;
  // Ends the application and everything it holds.
  virtual void Quit() = 0;
};

class Presentations {
 public:
  virtual ~Presentations() = default;
  // Opens a presentation file. The file on disk is never written by opening it, whatever the flags.
  virtual std::shared_ptr<Presentation> Open(const std::u16string& fileName, Tristate readOnly,
                                             Tristate untitled, Tristate withWindow) = 0;
  // A new empty presentation.
  virtual std::shared_ptr<Presentation> Add(Tristate withWindow) = 0;
};

// What Presentation::ExportAsFixedFormat writes besides the visible slides.
struct FixedFormatOptions {
  bool printHiddenSlides = false;  // hidden slides too
  bool notesPages = false;         // the notes pages instead of the slides
  bool pdfa = false;               // PDF/A-2b (ISO 19005-2, level B)
};

class Presentation {
 public:
  virtual ~Presentation() = default;
  virtual std::shared_ptr<ppt::Slides> Slides() = 0;
  virtual std::shared_ptr<ppt::PageSetup> PageSetup() = 0;
  // Writes the presentation in the format `fileFormat` (a PpSaveAsFileType number). Fails when
  // that format cannot be written.
  virtual void SaveAs(const std::u16string& fileName, std::int32_t fileFormat, Tristate embedTrueTypeFonts) = 0;
  // Writes the presentation as a PDF file with `options` (the automation's ExportAsFixedFormat with
  // a PDF type, PrintHiddenSlides and the notes pages output type). An engine that writes no PDF
  // fails with 0x80004005, as this default does.
  virtual void ExportAsFixedFormat(const std::u16string& fileName, const FixedFormatOptions& options) {
    (void)options;
    throw AutomationError(static_cast<std::int32_t>(0x80004005u),
                          u"Presentation.ExportAsFixedFormat : \"" + fileName + u"\" cannot be written as a PDF here.");
  }
  // Closes without saving; unsaved changes are dropped.
  virtual void Close() = 0;
  // Reads the presentation for what its slides say (office/reading.hpp): the deck first, then one
  // slide at a time. An engine that cannot read its presentations this way fails with 438.
  virtual void Read(reading::Sink& sink);
};

class PageSetup {
 public:
  virtual ~PageSetup() = default;
  // Slide size in points.
  virtual float SlideHeight() = 0;
  virtual float SlideWidth() = 0;
  virtual void put_SlideHeight(float value) = 0;
  virtual void put_SlideWidth(float value) = 0;
};

class Slides {
 public:
  virtual ~Slides() = default;
  virtual std::int32_t Count() = 0;
  virtual std::shared_ptr<Slide> Item(std::int32_t index) = 0;
  // Pastes the slide last copied (Slide::Copy); with index -1 it is appended after the last slide.
  virtual void Paste(std::int32_t index) = 0;
};

class Slide {
 public:
  virtual ~Slide() = default;
  // Puts the slide on the application's clipboard.
  virtual void Copy() = 0;
  virtual std::shared_ptr<ppt::Shapes> Shapes() = 0;
  virtual std::shared_ptr<ppt::NotesPage> NotesPage() = 0;
  // Writes one picture of the slide with the graphic filter `filterName` ("PNG", "GIF", ...).
  // Scale 0, 0 asks for the default size. An unsupported filter fails with 0x80004005.
  virtual void Export(const std::u16string& fileName, const std::u16string& filterName, std::int32_t scaleWidth,
                      std::int32_t scaleHeight) = 0;
  // Export with the JPEG filter's quality (1 to 100; 0 the filter's default). An engine whose
  // filters take no quality exports as Export does, as this default does.
  virtual void ExportWithQuality(const std::u16string& fileName, const std::u16string& filterName,
                                 std::int32_t scaleWidth, std::int32_t scaleHeight, std::int32_t quality) {
    (void)quality;
    Export(fileName, filterName, scaleWidth, scaleHeight);
  }
};

// The notes page of a slide; only its shapes are read.
class NotesPage {
 public:
  virtual ~NotesPage() = default;
  virtual std::shared_ptr<ppt::Shapes> Shapes() = 0;
};

class Shapes {
 public:
  virtual ~Shapes() = default;
  virtual std::int32_t Count() = 0;
  virtual std::shared_ptr<Shape> Item(std::int32_t index) = 0;
  virtual std::shared_ptr<ppt::Placeholders> Placeholders() = 0;
};

class Placeholders {
 public:
  virtual ~Placeholders() = default;
  virtual std::int32_t Count() = 0;
  virtual std::shared_ptr<Shape> Item(std::int32_t index) = 0;
};

class Shape {
 public:
  virtual ~Shape() = default;
  virtual Tristate HasTextFrame() = 0;
  // Every shape answers a text frame; for a shape without one, HasText is false and asking
  // for its TextRange fails.
  virtual std::shared_ptr<ppt::TextFrame> TextFrame() = 0;
  // MsoShapeType.
  virtual std::int32_t Type() = 0;
  virtual std::shared_ptr<ppt::PlaceholderFormat> PlaceholderFormat() = 0;
  virtual std::shared_ptr<ppt::Table> Table() = 0;
  // A group becomes its member shapes.
  virtual void Ungroup() = 0;
  // The member shapes of a group, in order. The component reaches this member only late-bound,
  // through the dispatch adapter of a shape.
  virtual std::shared_ptr<ppt::GroupItems> GroupItems() = 0;
};

class GroupItems {
 public:
  virtual ~GroupItems() = default;
  virtual std::int32_t Count() = 0;
  virtual std::shared_ptr<Shape> Item(std::int32_t index) = 0;
};

class TextFrame {
 public:
  virtual ~TextFrame() = default;
  virtual Tristate HasText() = 0;
  virtual std::shared_ptr<ppt::TextRange> TextRange() = 0;
};

class TextRange {
 public:
  virtual ~TextRange() = default;
  // Paragraphs joined by CR (U+000D), line breaks as VT (U+000B).
  virtual std::u16string Text() = 0;
  virtual void InsertBefore(const std::u16string& text) = 0;
};

class PlaceholderFormat {
 public:
  virtual ~PlaceholderFormat() = default;
  // PpPlaceholderType.
  virtual std::int32_t Type() = 0;
};

class Table {
 public:
  virtual ~Table() = default;
  // Table.Rows.Count and Table.Columns.Count.
  virtual std::int32_t RowsCount() = 0;
  virtual std::int32_t ColumnsCount() = 0;
  virtual std::shared_ptr<ppt::Cell> Cell(std::int32_t row, std::int32_t column) = 0;
};

class Cell {
 public:
  virtual ~Cell() = default;
  virtual std::shared_ptr<ppt::Shape> Shape() = 0;
};

}  // namespace ppt

namespace word {

class Application;
class Documents;
class Document;
class PageSetup;
class Selection;

inline constexpr std::int32_t kPageBreak = 7;  // WdBreakType

class Application {
 public:
  virtual ~Application() = default;
  virtual std::u16string Name() = 0;
  virtual void put_DisplayAlerts(std::int32_t value) = 0;
  virtual void put_Visible(bool value) = 0;
  virtual std::shared_ptr<word::Documents> Documents() = 0;
  virtual std::shared_ptr<word::Selection> Selection() = 0;
  // Quit with SaveChanges; the other arguments omitted.
  virtual void Quit(bool saveChanges) = 0;
};

class Documents {
 public:
  virtual ~Documents() = default;
  // Documents.Add with all arguments omitted: a new blank document.
  virtual std::shared_ptr<Document> Add() = 0;
};

class Document {
 public:
  virtual ~Document() = default;
  virtual std::shared_ptr<word::PageSetup> PageSetup() = 0;
  // SaveAs with FileName and FileFormat (a WdSaveFormat number); the other arguments omitted.
  virtual void SaveAs(const std::u16string& fileName, std::int32_t fileFormat) = 0;
  // Close with SaveChanges (-1 save, 0 do not); the other arguments omitted.
  virtual void Close(std::int32_t saveChanges) = 0;
};

class PageSetup {
 public:
  virtual ~PageSetup() = default;
  // Page size in points.
  virtual void put_PageHeight(float value) = 0;
  virtual void put_PageWidth(float value) = 0;
};

class Selection {
 public:
  virtual ~Selection() = default;
  // Pastes the clipboard at the insertion point (a copied slide arrives as its picture).
  virtual void Paste() = 0;
  virtual void InsertBreak(std::int32_t type) = 0;
  virtual void InsertAfter(const std::u16string& text) = 0;
  virtual void InsertParagraphAfter() = 0;
};

}  // namespace word

// Creates the applications the control uses. The control receives one provider; a host or test
// can inject its own. Each call creates a new application object, or throws AutomationError
// (429 when the application cannot be created).
class ApplicationProvider {
 public:
  virtual ~ApplicationProvider() = default;
  virtual std::shared_ptr<ppt::Application> CreatePowerPoint() = 0;
  virtual std::shared_ptr<word::Application> CreateWord() = 0;
};

// The provider a control gets when the host gives none.
std::shared_ptr<ApplicationProvider> DefaultApplicationProvider();

}  // namespace quorvane::office
