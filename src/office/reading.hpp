#pragma once
// A structured reading of a presentation: what a person reads on each slide, in reading order, with
// enough of its structure (list levels and numbering, tables with merged cells, chart data, links,
// alternative texts, notes) for a writer of Markdown, JSON or HTML to render it without knowing
// the engine or the file format behind it.
//
// A presentation is read slide by slide (Presentation::Read): the sink receives the deck's
// properties first, then one slide at a time, so that memory stays bounded by one slide whatever
// the length of the deck. Strings are UTF-8.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::office::reading {

struct Deck {
  std::string title;     // docProps/core.xml dc:title
  std::string author;    // dc:creator
  std::string created;   // dcterms:created, as written (W3CDTF)
  std::string modified;  // dcterms:modified
  std::string application;         // docProps/app.xml Application
  std::string applicationVersion;  // AppVersion
  std::int32_t slideCount = 0;
  double widthPoints = 0;  // slide size
  double heightPoints = 0;
  std::int32_t widthPixels = 0;  // at 96 dots per inch, as the slide pictures are drawn
  std::int32_t heightPixels = 0;
  std::vector<std::string> media;  // the package's media parts (pictures, sound, video), by part name
  std::vector<std::string> themeFonts;  // the theme's major and minor Latin typefaces
};

struct Run {
  std::string text;
  std::string link;   // an external URL, "slide N" for a jump to a slide; empty: none
  std::string field;  // the a:fld type of a field ("slidenum", "datetime1", ...); empty: plain text
  std::string font;   // the run's Latin typeface when it names one
};

enum class Bullet { kNone, kCharacter, kNumber };

struct Paragraph {
  std::int32_t level = 0;  // a:pPr lvl, 0 for the first level
  Bullet bullet = Bullet::kNone;
  std::string bulletCharacter;  // kCharacter: the character
  std::string numbering;        // kNumber: the a:buAutoNum scheme ("arabicPeriod", ...)
  std::int32_t number = 0;      // kNumber: this paragraph's number (the start, counted on)
  bool rightToLeft = false;
  std::string language;  // the first run's lang
  std::vector<Run> runs;

  std::string Text() const;
  // The runs joined into spans of neighbours with the same link (an empty link: plain text).
  struct Span {
    std::string text;
    std::string link;
  };
  std::vector<Span> LinkSpans() const;
};

struct Cell {
  std::vector<Paragraph> paragraphs;
  std::int32_t columnSpan = 1;
  std::int32_t rowSpan = 1;
  bool covered = false;  // inside another cell's span; its content belongs to that cell
};

struct Table {
  bool headerRow = false;  // a:tblPr firstRow
  std::vector<std::vector<Cell>> rows;  // every row as wide as the grid
};

struct Series {
  std::string name;
  std::vector<std::string> categories;
  std::vector<std::optional<double>> values;  // parallel to categories where both are given
};

struct Chart {
  std::string title;
  std::string type;  // the plot's element name without "Chart" ("bar", "line", "pie", ...)
  std::vector<Series> series;
};

enum class ShapeKind { kText, kPicture, kTable, kChart, kMedia, kOther };

struct Shape {
  ShapeKind kind = ShapeKind::kOther;
  std::string placeholder;  // the p:ph type ("title", "body", "obj" for one without type); empty: none
  std::string name;         // p:cNvPr name
  std::string alternativeText;  // p:cNvPr descr, else its title
  std::string group;        // the name of the outermost group it belongs to; empty: none
  double x = 0, y = 0, width = 0, height = 0;  // points, on the slide
  std::vector<Paragraph> paragraphs;
  std::optional<reading::Table> table;
  std::optional<reading::Chart> chart;
};

struct Slide {
  std::int32_t number = 0;
  bool hidden = false;
  std::string layout;  // the layout's name
  std::string title;   // the title placeholder's text, paragraphs joined by a space
  std::vector<Shape> shapes;  // reading order: rows top to bottom, each left to right
  std::vector<Paragraph> notes;
};

class Sink {
 public:
  virtual ~Sink() = default;
  virtual void OnDeck(const Deck& deck) = 0;
  virtual void OnSlide(const Slide& slide) = 0;
};

const char* KindName(ShapeKind kind);

}  // namespace quorvane::office::reading
