#pragma once
// The deck builder: small, valid presentation packages with exactly the content asked for.
//
// A DeckPlan describes slides and their shapes; Render turns it into the parts of a package (XML
// written as text, with one slide master, one slide layout, a theme, presentation properties and
// document properties), Build puts those parts into a new Package, Write saves it. Blank() is the
// deck a new presentation starts from. Decks for tests and demonstrations, and what the object
// model must read back from a plan, are the deck maker's (tools/deckmaker/).
//
// Text follows the object model's convention: one UTF-16 string per text body, CR (or LF, or CR LF)
// starts a new paragraph, VT is a line break (a:br), TAB stays a tab character in the run text.
// Fields (a slide number, a date) are inserted at given offsets of that string. Other control
// characters cannot be written in XML and are refused; an unpaired surrogate is written as U+FFFD.
//
// Output is deterministic: the same plan gives the same bytes (no clock, no random identifiers).
//
// Failures: a plan the builder cannot write (a slide size out of range, a table merge outside the
// table, a field offset beyond the text, a control character in text, groups nested deeper than
// kMaxNesting) throws std::invalid_argument naming the slide and shape. Build and Write pass on the
// package layer's failures (AutomationError) unchanged.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engines/pptx/package.hpp"

namespace quorvane::engines::pptx::builder {

inline constexpr std::int64_t kDefaultSlideWidth = 12192000;  // 13.333 in
inline constexpr std::int64_t kDefaultSlideHeight = 6858000;  // 7.5 in
inline constexpr std::int64_t kNotesWidth = 6858000;
inline constexpr std::int64_t kNotesHeight = 9144000;
// Deepest nesting of groups the builder writes (deep enough to go past the reader's limits).
inline constexpr int kMaxNesting = 1000;

enum class ShapeKind {
  Title,        // p:sp with p:ph type="title"
  CenterTitle,  // p:sp with p:ph type="ctrTitle"
  Subtitle,     // p:sp with p:ph type="subTitle" idx="1"
  Body,         // p:sp with p:ph type="body" idx="1"
  Placeholder,  // p:sp with the p:ph given in ShapePlan::placeholder (date, footer, slide number, obj ...)
  TextBox,      // p:sp with p:cNvSpPr txBox="1"
  AutoShape,    // p:sp with a:prstGeom (ShapePlan::preset)
  Freeform,     // p:sp with a:custGeom (ShapePlan::path)
  Picture,      // p:pic showing a small PNG made by the builder (one media part per deck)
  Table,        // p:graphicFrame holding a:tbl
  Group,        // p:grpSp holding ShapePlan::children
  Connector,    // p:cxnSp
  Chart,        // p:graphicFrame pointing to a chart part (a column chart with literal values)
  Equation,     // p:sp inside mc:AlternateContent: a14:m in the Choice, a picture in the Fallback
};

// The p:ph element of a placeholder.
struct PlaceholderSpec {
  std::string type;                  // p:ph@type as written ("title", "dt", "sldNum", ...); empty: none (obj)
  std::optional<std::uint32_t> idx;  // p:ph@idx
  bool vertical = false;             // orient="vert"
  std::string size;                  // p:ph@sz ("half", "quarter"); empty: none
};

// A field inside a text body. It is written as a:fld at `offset` (a UTF-16 offset into the text, at
// most its length); its a:t is `shown`. Fields at the same offset keep their order.
struct FieldSpec {
  std::size_t offset = 0;
  std::string type = "slidenum";  // a:fld@type ("slidenum", "datetime1", ...)
  std::u16string shown;
};

// Position and size in EMU.
struct Frame {
  std::int64_t x = 0;
  std::int64_t y = 0;
  std::int64_t cx = 0;
  std::int64_t cy = 0;
};

// A merged range of table cells: the top-left cell carries gridSpan / rowSpan, the cells it covers
// carry hMerge / vMerge (their text is written as given, normally empty).
struct MergeSpec {
  std::size_t row = 0;  // 0-based
  std::size_t column = 0;
  std::size_t rows = 1;
  std::size_t columns = 1;
};

struct TableSpec {
  // Row by row; a row shorter than the grid gives a deliberately short a:tr (fewer a:tc than columns).
  std::vector<std::vector<std::u16string>> cells;
  std::size_t columns = 0;  // a:gridCol count; 0: the longest row's length
  std::vector<MergeSpec> merges;
};

struct ChartPoint {
  std::u16string category;
  double value = 0;
};

struct ShapePlan {
  ShapeKind kind = ShapeKind::TextBox;
  std::u16string name;  // p:cNvPr@name; empty: "<kind> <id - 1>" as PowerPoint names shapes
  // Position and size. A placeholder without a frame writes an empty p:spPr (inherits from the
  // layout); another shape without one gets a frame of its own, different per shape.
  std::optional<Frame> frame;
  // Text of p:sp kinds (and the text written before the math of an Equation).
  std::u16string text;
  std::vector<FieldSpec> fields;
  // UTF-16 offsets where a new a:r starts inside a paragraph (to split text over several runs).
  std::vector<std::size_t> runBreaks;
  // p:sp kinds: write no p:txBody at all (a shape with an empty text frame).
  bool omitTextBody = false;
  // Makes the shape a placeholder: required for Placeholder; allowed on Picture and Table (p:ph in
  // their p:nvPr); for Title / CenterTitle / Subtitle / Body it replaces the default p:ph.
  std::optional<PlaceholderSpec> placeholder;
  std::string preset = "rect";  // AutoShape geometry (a:prstGeom@prst)
  // Freeform path points in a 100000 x 100000 path space; empty: a triangle.
  std::vector<std::pair<std::int64_t, std::int64_t>> path;
  TableSpec table;
  std::vector<ShapePlan> children;   // Group members in order
  std::vector<ChartPoint> chart;     // Chart data; empty: three sample points
  std::vector<std::u16string> math;  // Equation: the text of each m:t, in order
  std::u16string description;        // p:cNvPr@descr (alternative text); empty: none
};

struct SlidePlan {
  std::vector<ShapePlan> shapes;
  // The notes page, when set. The builder puts the slide-picture placeholder (sldImg) first and a
  // notes body placeholder (type="body" idx="1") after it, unless `notes` holds such placeholders
  // itself (addNotesPlaceholders false writes exactly the shapes given).
  std::optional<std::vector<ShapePlan>> notes;
  bool addNotesPlaceholders = true;
  bool hidden = false;  // p:sld show="0"
  std::u16string name;  // p:cSld@name; empty: none
};

struct DeckPlan {
  std::int64_t slideWidthEmu = kDefaultSlideWidth;
  std::int64_t slideHeightEmu = kDefaultSlideHeight;
  std::int32_t firstSlideNumber = 1;  // p:presentation@firstSlideNum
  std::vector<SlidePlan> slides;
  std::u16string title;  // docProps/core.xml dc:title; empty: none
};

// --- Shorthands for plans -----------------------------------------------------------------------
ShapePlan Title(std::u16string text);
ShapePlan CenterTitle(std::u16string text);
ShapePlan Subtitle(std::u16string text);
ShapePlan Body(std::u16string text);
ShapePlan PlaceholderShape(std::string type, std::optional<std::uint32_t> idx, std::u16string text = {});
// A slide-number placeholder (type="sldNum") whose text is one slide-number field showing `shown`.
ShapePlan SlideNumberPlaceholder(std::uint32_t idx = 12, std::u16string shown = u"1");
ShapePlan TextBox(std::u16string text);
ShapePlan AutoShape(std::string preset, std::u16string text = {});
ShapePlan Freeform(std::u16string text = {});
ShapePlan Picture();
ShapePlan Table(std::vector<std::vector<std::u16string>> cells);
ShapePlan Group(std::vector<ShapePlan> children);
ShapePlan Connector();
ShapePlan Chart();
ShapePlan Equation(std::vector<std::u16string> math);
// The notes page PowerPoint makes for notes text: a body placeholder with `text` and a slide-number
// placeholder (the builder adds the slide picture in front).
std::vector<ShapePlan> NotesPage(std::u16string text);

// --- Building -----------------------------------------------------------------------------------
struct BuiltPart {
  std::string name;  // absolute part name
  std::string contentType;
  std::string bytes;
};

struct BuiltRelationships {
  std::string source;  // "/" for the package's own
  std::vector<Relationship> relationships;
};

// The parts of the package a plan describes, in a fixed order, with the relationships of each
// source part (targets relative, partName filled in).
struct BuiltDeck {
  std::vector<BuiltPart> parts;
  std::vector<BuiltRelationships> relationships;

  const BuiltPart* Find(std::string_view partName) const;
  const std::vector<Relationship>* RelationshipsOf(std::string_view source) const;
};

BuiltDeck Render(const DeckPlan& plan);
std::shared_ptr<Package> Build(const DeckPlan& plan);
void Write(const DeckPlan& plan, const std::string& path);

// --- Decks ---------------------------------------------------------------------------------------
// What a new presentation starts from: no slides, the default slide size.
DeckPlan Blank();

// --- Fixed parts, for code that adds them to an existing package ---------------------------------
namespace content_type {
inline constexpr std::string_view kPresentation =
    "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml";
inline constexpr std::string_view kSlide = "application/vnd.openxmlformats-officedocument.presentationml.slide+xml";
inline constexpr std::string_view kSlideLayout =
    "application/vnd.openxmlformats-officedocument.presentationml.slideLayout+xml";
inline constexpr std::string_view kSlideMaster =
    "application/vnd.openxmlformats-officedocument.presentationml.slideMaster+xml";
inline constexpr std::string_view kNotesSlide =
    "application/vnd.openxmlformats-officedocument.presentationml.notesSlide+xml";
inline constexpr std::string_view kNotesMaster =
    "application/vnd.openxmlformats-officedocument.presentationml.notesMaster+xml";
inline constexpr std::string_view kTheme = "application/vnd.openxmlformats-officedocument.theme+xml";
inline constexpr std::string_view kPresProps =
    "application/vnd.openxmlformats-officedocument.presentationml.presProps+xml";
inline constexpr std::string_view kViewProps =
    "application/vnd.openxmlformats-officedocument.presentationml.viewProps+xml";
inline constexpr std::string_view kTableStyles =
    "application/vnd.openxmlformats-officedocument.presentationml.tableStyles+xml";
inline constexpr std::string_view kChart = "application/vnd.openxmlformats-officedocument.drawingml.chart+xml";
inline constexpr std::string_view kCoreProperties = "application/vnd.openxmlformats-package.core-properties+xml";
inline constexpr std::string_view kExtendedProperties =
    "application/vnd.openxmlformats-officedocument.extended-properties+xml";
inline constexpr std::string_view kPng = "image/png";
}  // namespace content_type

namespace rel_type {
inline constexpr std::string_view kOfficeDocument =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
inline constexpr std::string_view kCoreProperties =
    "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties";
inline constexpr std::string_view kExtendedProperties =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties";
inline constexpr std::string_view kSlideMaster =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/slideMaster";
inline constexpr std::string_view kSlideLayout =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/slideLayout";
inline constexpr std::string_view kSlide = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/slide";
inline constexpr std::string_view kNotesSlide =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/notesSlide";
inline constexpr std::string_view kNotesMaster =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/notesMaster";
inline constexpr std::string_view kTheme = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/theme";
inline constexpr std::string_view kPresProps =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/presProps";
inline constexpr std::string_view kViewProps =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/viewProps";
inline constexpr std::string_view kTableStyles =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/tableStyles";
inline constexpr std::string_view kImage = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/image";
inline constexpr std::string_view kChart = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/chart";
}  // namespace rel_type

namespace templates {
// A theme part (a:theme) named `name`.
std::string Theme(std::string_view name);
// A slide master for a slide of the given size, listing one layout as relationship "rId1" and
// relating to its theme as "rId2".
std::string SlideMaster(std::int64_t slideWidth, std::int64_t slideHeight);
// The one slide layout ("Title and Content"), related to its master as "rId1".
std::string SlideLayout();
// A notes master for the default notes page size, related to its own theme as "rId1".
std::string NotesMaster();
std::string PresProps();
std::string ViewProps();
std::string TableStyles();
// The document-wide default text style (p:defaultTextStyle) of presentation.xml.
std::string DefaultTextStyle();
// A small PNG picture (8 x 8 pixels, colour bands).
std::string Png();
}  // namespace templates

}  // namespace quorvane::engines::pptx::builder
