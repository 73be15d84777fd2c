#pragma once
// The scripted office: an in-memory PowerPoint and Word behind office::ApplicationProvider, for
// tests that must drive every path of the converters exactly, without files and without a real
// office.
//
// A test describes presentations with a small builder (Deck, Title, Table, Group, ...), registers
// them under file names, hands the office to a control, runs a conversion and then asserts on:
// - the call log: one readable line per object-model call, e.g. "Slides.Item(3)";
// - the records of what the office was asked to produce: saves, slide exports, Word documents;
// - the live state of opened presentations (texts after label insertion, ungrouped shapes).
// Failures are injected by member name ("the 2nd Slide.Export fails with 0x80048240"); anything
// more unusual is done by a provider of the test's own.
//
// Ownership: ScriptedOffice shares one state object with every automation object it hands out, so
// objects stay safe to call after the office variable, a presentation or an application has gone:
// calls on a closed presentation or a quit application fail, they never touch freed memory. The
// model (Deck, SlideData, ShapeData) is a tree of shared nodes without back references.
//
// Failure numbers the office answers with, besides injected ones:
// - 0x80048240 (PowerPoint's invalid request): an index out of range, a member that does not apply
//   to the shape (PlaceholderFormat of a non-placeholder, Table of a non-table, GroupItems or
//   Ungroup of a non-group, TextRange of a shape without text frame, a missing table cell), any
//   call on a closed presentation or an ungrouped (deleted) group, pasting an empty clipboard;
// - 53 (file not found): opening a file that is not registered, as the engines answer for a missing
//   input, so that every converter's failure path takes its generic row for it;
// - 462 (server unavailable): any call on an application that has quit, or on an object of it;
// - Word's own numbers (kWord* below) for a closed document, no open document, an empty clipboard.
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "office/object_model.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::testing {

namespace ppt = office::ppt;
namespace word = office::word;
using office::Tristate;

// Placeholder type of the slide picture on a notes page. It has no published number; any value
// outside 1..19 serves, and this one is used throughout the tests.
inline constexpr std::int32_t kPlaceholderSlideImage = 101;

// Failure numbers of the office that automation_error.hpp does not name.
inline constexpr std::int32_t kServerUnavailable = 462;                                      // the application has quit
inline constexpr std::int32_t kWordDisconnected = static_cast<std::int32_t>(0x80010108u);    // closed document
inline constexpr std::int32_t kWordNoDocument = static_cast<std::int32_t>(0x800A1098u);      // Word error 4248
inline constexpr std::int32_t kWordClipboardEmpty = static_cast<std::int32_t>(0x800A11FDu);  // Word error 4605
inline constexpr std::int32_t kWordCommandFailed = static_cast<std::int32_t>(0x800A1066u);   // Word error 4198

// ---------------------------------------------------------------------------------------------
// Model: what a presentation holds. Builders produce it; opened presentations hold a deep copy.
// ---------------------------------------------------------------------------------------------

// One shape. Fields a test may also set by hand for something the builders do not offer.
struct ShapeData {
  std::int32_t type = 1;                           // Shape.Type (MsoShapeType)
  std::int32_t placeholderType = 0;                // PlaceholderFormat.Type, when type is 14
  bool hasTextFrame = true;                        // HasTextFrame; without a frame HasText is 0 and TextRange fails
  bool textFrameFails = false;                     // asking for TextFrame itself fails (the notes page's slide picture)
  std::u16string text{};                           // TextRange.Text: paragraphs joined by CR, line breaks VT
  std::vector<std::vector<std::u16string>> cells{};  // tables: rows of cell texts; a short row lacks cells
  std::int32_t columns = 0;                        // tables: Columns.Count
  std::vector<std::shared_ptr<ShapeData>> items{};   // groups: GroupItems, in order
  bool deleted = false;                            // set on a group once Ungroup has replaced it by its items

  // A deep copy: no node is shared with this one.
  std::shared_ptr<ShapeData> Clone() const;
};

// One slide: its shapes in z-order, and the shapes of its notes page.
struct SlideData {
  std::vector<std::shared_ptr<ShapeData>> shapes;
  std::vector<std::shared_ptr<ShapeData>> notes;

  std::shared_ptr<SlideData> Clone() const;
  // Texts of the slide's shapes, one per shape in order; empty for a shape without text frame.
  std::vector<std::u16string> Texts() const;
};

// A presentation, built fluently:
//   Deck().Slide({Title(u"T"), Body(u"B")}).Notes({SlideImage(), NotesBody(u"n")}).Slide({Picture()})
struct Deck {
  std::vector<std::shared_ptr<SlideData>> slides;
  float slideWidth = 720;  // points: 10 in x 7.5 in
  float slideHeight = 540;

  // Appends a slide. Its notes page is that of a fresh PowerPoint slide: the slide picture, then an
  // empty notes body placeholder.
  Deck& Slide(std::vector<ShapeData> shapes = {});
  // Replaces the notes page of the last slide. A deck without slides is a test bug: logic_error.
  Deck& Notes(std::vector<ShapeData> shapes);
  // Appends `count` slides, each with one title placeholder "Slide <its number>".
  Deck& TitledSlides(int count);
  Deck& Size(float width, float height);

  Deck Clone() const;
};

// Shape builders. Placeholders have type 14 and a text frame.
ShapeData Placeholder(std::int32_t placeholderType, std::u16string text = {});
ShapeData Title(std::u16string text);           // placeholder type 1
ShapeData Body(std::u16string text);            // placeholder type 2
ShapeData TextBox(std::u16string text);         // type 17
ShapeData AutoShape(std::u16string text = {});  // type 1; without text its frame is empty
ShapeData Picture();                            // type 13, no text frame
ShapeData Graphic(std::int32_t type);           // any shape without text frame: chart 3, line 9, SmartArt 24 ...
// Type 19. Columns.Count is the longest row unless `columns` is given.
ShapeData Table(std::vector<std::vector<std::u16string>> rows, std::int32_t columns = -1);
ShapeData Group(std::vector<ShapeData> items);  // type 6, nests to any depth
// Notes page shapes: the slide picture (a placeholder whose TextFrame request fails) and the body.
ShapeData SlideImage();
ShapeData NotesBody(std::u16string text);

// ---------------------------------------------------------------------------------------------
// State and records the office keeps for the test to inspect.
// ---------------------------------------------------------------------------------------------

// One PowerPoint or Word application. A test may change it while it runs: an empty name makes the
// control's probe drop it; running = false stands for an application ended behind its back.
struct ApplicationState {
  std::u16string name;
  std::u16string version;           // PowerPoint only
  bool running = true;              // false after Quit: every later call on it or its objects fails with 462
  std::int32_t displayAlerts = -1;  // Word only, as put_DisplayAlerts left it
  bool visible = true;              // Word only, as put_Visible left it
};

// A presentation opened (Presentations.Open) or created (Presentations.Add).
struct PresentationState {
  std::u16string fileName;  // as passed to Open; empty for Add
  bool closed = false;  // after Close every call on it and its objects fails with 0x80048240
  Deck deck;            // live content: label insertion, pastes and ungrouping show here
  std::shared_ptr<ApplicationState> application;
};

// One Presentation.SaveAs that succeeded.
struct SaveRecord {
  std::u16string fileName;
  std::int32_t format = 0;
  std::u16string source;  // file name of the presentation saved; empty for one made by Add
  float slideWidth = 0;
  float slideHeight = 0;
  std::vector<std::vector<std::u16string>> slides;  // SlideData::Texts of every slide, at the save
};

// One Slide.Export that succeeded.
struct ExportRecord {
  std::u16string fileName;
  std::u16string filter;
  std::int32_t scaleWidth = 0;
  std::int32_t scaleHeight = 0;
  std::u16string source;  // file name of its presentation
};

// A Word document made by Documents.Add.
struct DocumentState {
  float pageWidth = 612;  // points, as put_PageWidth left them (Letter until set)
  float pageHeight = 792;
  // What the selection calls appended, in order: "slide <n>" for a pasted slide (its number in
  // its presentation when it was copied), "break <type>", "paragraph", "text <UTF-8 text>".
  std::vector<std::string> content;
  struct Save {
    std::u16string fileName;
    std::int32_t format = 0;
  };
  std::vector<Save> saves;
  bool closed = false;  // after Close every call on it fails with kWordDisconnected
  std::shared_ptr<ApplicationState> application;
};

// ---------------------------------------------------------------------------------------------
// Call log and failure injection.
// ---------------------------------------------------------------------------------------------

// Where the object that received a call sits, worked out when the call is made.
struct Site {
  std::u16string file;     // file name of its presentation; empty for Add's, Word's and the applications'
  std::int32_t slide = 0;  // number of its slide; 0 for objects above slides
  bool notes = false;      // it belongs to the slide's notes page
  std::int32_t shape = 0;  // index in the page's Shapes of its shape (of the group or table holding it,
                           // for a group item or a cell); 0 for slides and collections
};

// One call as logged. `text` is the member followed, when it takes arguments, by the arguments in
// parentheses, separated by ", ": strings as UTF-8 without quotes, integers in decimal, Booleans
// true/false (page sizes are not logged).
// Members are named as the object model names them, the application by its product:
//   "PowerPoint.Name", "Presentations.Open(deck.pptx, 0, 0, 0)", "Slides.Item(3)",
//   "Table.Rows.Count", "PageSetup.put_SlideWidth", "Word.Quit(false)", "CreatePowerPoint".
struct Call {
  std::string member;
  std::string text;
  Site site;
};

// "The nth call of `member` fails with `number` and `description`", refined fluently:
//   office->FailOn("Slide.Export", 2, 0x80048240).OnSlide(3).Times(2);
// `member` matches a call whose member or whose whole text equals it ("Slides.Item" or
// "Slides.Item(3)"). Calls are counted from the moment the rule is made, and only those that match
// all its restrictions. An injected failure happens before the call has any effect; the call is
// logged all the same.
struct FailureRule {
  std::string member;
  std::int32_t nth;
  std::int32_t number;
  std::u16string description;
  std::int32_t times = 1;  // matching calls that fail from the nth on; 0: every one
  // When set, only calls on objects of this slide, shape (see Site) or kind of page count.
  std::optional<std::int32_t> slide{}, shape{};
  std::optional<bool> notes{};
  std::int32_t matched = 0;

  FailureRule& OnSlide(std::int32_t value) { slide = value; return *this; }
  FailureRule& OnShape(std::int32_t value) { shape = value; return *this; }
  FailureRule& OnNotes() { notes = true; return *this; }
  FailureRule& Times(std::int32_t value) { times = value; return *this; }
  // Counts `call` when it matches; true when this call is to fail.
  bool Fires(const Call& call);
};

inline constexpr std::u16string_view kScriptedFailure = u"Scripted failure";

// ---------------------------------------------------------------------------------------------
// The office.
// ---------------------------------------------------------------------------------------------

// Everything the office and its objects share: its settings, the call log, and what happened.
struct OfficeState {
  std::u16string powerPointVersion = u"16.0";  // given to PowerPoints as they are created
  std::vector<std::pair<std::u16string, Deck>> files;
  std::vector<Call> log;
  std::list<FailureRule> rules;                // a list, so that FailOn's references stay valid
  struct Clipboard {
    std::shared_ptr<const SlideData> slide;  // a copy taken at Slide.Copy; none when empty
    std::int32_t number = 0;                 // the slide's number in its presentation then
  } clipboard;
  // Applications in order of creation (their count is the number of successful creations).
  std::vector<std::shared_ptr<ApplicationState>> powerPoints;
  std::vector<std::shared_ptr<ApplicationState>> words;
  // Presentations in order of Open or Add.
  std::vector<std::shared_ptr<PresentationState>> presentations;
  std::vector<SaveRecord> saves;
  std::vector<ExportRecord> exports;
  std::vector<std::shared_ptr<DocumentState>> documents;  // in order of Documents.Add
};

// Hand it to a control as its provider: std::make_shared<ScriptedOffice>().
class ScriptedOffice : public office::ApplicationProvider {
 public:
  ScriptedOffice();

  // Each call creates a new application, logged as "CreatePowerPoint" / "CreateWord".
  std::shared_ptr<ppt::Application> CreatePowerPoint() override;
  std::shared_ptr<word::Application> CreateWord() override;

  // The office's settings, its call log and its records, for the test to change and inspect.
  OfficeState& state() const { return *state_; }
  const std::vector<std::shared_ptr<DocumentState>>& WordDocuments() const { return state_->documents; }

  // Makes `deck` openable under `fileName` (compared without regard to letter case, like Windows
  // paths). Each Open gets a fresh deep copy, so the registered deck never changes.
  void AddFile(const std::u16string& fileName, const Deck& deck);

  // --- Failure injection ---------------------------------------------------------------------
  // The nth matching call of `member` fails. The reference stays valid while the office lives.
  FailureRule& FailOn(std::string member, std::int32_t nth, std::int32_t number,
                      std::u16string description = std::u16string(kScriptedFailure));
  // Every matching call of `member` from the nth on fails.
  FailureRule& FailFrom(std::string member, std::int32_t nth, std::int32_t number,
                        std::u16string description = std::u16string(kScriptedFailure));
  void ClearFailures();

  // --- Call log ------------------------------------------------------------------------------
  // The entries that start with `prefix` ("Slide.Export", "Selection.", "Presentations.Open(a"); all by default.
  std::vector<std::string> Log(std::string_view prefix = {}) const;

 private:
  std::shared_ptr<OfficeState> state_;
};

}  // namespace quorvane::testing
