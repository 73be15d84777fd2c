// The plans the deck builder refuses, and golden text exports: small decks made with the deck
// builder, exported through the control and the native engine as Unicode text (107) and ANSI text (200) with every combination of slide and
// shape numbers and notes, compared byte for byte with the files under tests/golden/<deck>/.
//
// The expected files were checked by hand against the export rules. When the output changes on
// purpose, regenerate them with
//   QUORVANE_UPDATE_GOLDEN=1 ./quorvane_tests --gtest_filter='PptxGolden*'
// and read the difference before committing it. On a mismatch the actual output is written under
// golden-actual/ in the test's working folder. Code 200 runs under the C.UTF-8 character set, so
// its "ANSI" bytes are UTF-8.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <sstream>
#include <functional>
#include <map>
#include <utility>
#include <regex>
#include <set>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "diagnostics/log.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "quorvane/documents.hpp"
#include "support/fixtures.hpp"

namespace quorvane::engines::pptx {
namespace {

namespace fs = std::filesystem;
namespace b = builder;

// Given by the build as an absolute path: __FILE__ may be relative (a compiler cache rewrites it).
const fs::path kGoldenDir = QUORVANE_GOLDEN_DIR;

// --- The decks ------------------------------------------------------------------------------------

b::SlidePlan SlideOf(std::vector<b::ShapePlan> shapes) {
  b::SlidePlan slide;
  slide.shapes = std::move(shapes);
  return slide;
}

b::DeckPlan DeckOf(std::vector<b::SlidePlan> slides) {
  b::DeckPlan deck;
  deck.slides = std::move(slides);
  return deck;
}

// Title and body, centre title and subtitle; no notes parts at all, so every notes page is the
// one the engine makes up (slide picture and an empty body).
b::DeckPlan Titles() {
  return DeckOf({SlideOf({b::Title(u"Quarterly review"), b::Body(u"Revenue up\rCosts down")}),
                 SlideOf({b::CenterTitle(u"Closing"), b::Subtitle(u"Thanks\vQuestions?")})});
}

// Text in every kind of text-bearing shape, with paragraphs, line breaks, tabs, an empty
// paragraph, a trailing paragraph mark, runs split mid-word, characters XML escapes, and shapes
// whose text frame is empty or missing.
b::DeckPlan TextShapes() {
  b::ShapePlan split = b::TextBox(u"Split across runs");
  split.runBreaks = {3, 9};
  b::ShapePlan noBody = b::TextBox({});
  noBody.omitTextBody = true;
  b::SlidePlan first = SlideOf(
      {b::Title(u"Text shapes"), b::Body(u"First paragraph\rSecond with a\vline break\r\rAfter an empty paragraph"),
       b::TextBox(u"Tab\tseparated"), b::AutoShape("ellipse", u"An ellipse"), b::AutoShape("rect"),
       b::Freeform(u"A freeform"), noBody, split, b::TextBox(u"Escaped: <&> \"quoted\" 'apostrophe'")});
  first.notes = b::NotesPage(u"Speaker notes\rSecond line");
  return DeckOf({std::move(first),
                 SlideOf({b::Body(u"Line one\r\nLine two\nLine three"), b::TextBox(u"Ends with a paragraph mark\r")})});
}

// Shapes without text: a slide holding only a picture, pictures, lines and charts next to text,
// and a slide without any shape.
b::DeckPlan Objects() {
  b::SlidePlan second =
      SlideOf({b::Title(u"Objects"), b::Picture(), b::Connector(), b::Chart(), b::AutoShape("rightArrow", u"Next")});
  second.notes = b::NotesPage(u"Objects have no text");
  return DeckOf({SlideOf({b::Picture()}), std::move(second), SlideOf({})});
}

// Tables: 2 x 2; empty cells, a horizontal and a vertical merge, several paragraphs and a line
// break in a cell; a row shorter than the grid (its missing cell cannot be read); a table in a
// table placeholder (a placeholder to the object model, so not exported as a table).
b::DeckPlan Tables() {
  b::ShapePlan merged = b::Table({{u"Region", u"Q1", u"Q2"}, {u"North", u"3", u""},
                                  {u"", u"Two\rparagraphs", u"Line\vbreak"}, {u"Total", u"", u""}});
  merged.table.merges = {b::MergeSpec{1, 0, 2, 1}, b::MergeSpec{3, 1, 1, 2}};
  b::ShapePlan shortRow = b::Table({{u"a", u"b", u"c"}, {u"d"}});
  shortRow.table.columns = 3;
  b::ShapePlan inPlaceholder = b::Table({{u"In a placeholder"}});
  inPlaceholder.placeholder = b::PlaceholderSpec{"tbl", 1u, false, {}};
  b::SlidePlan second = SlideOf({b::Title(u"Merged and empty cells"), merged});
  second.notes = b::NotesPage(u"Merged cells keep their place");
  return DeckOf({SlideOf({b::Title(u"Tables"), b::Table({{u"A", u"B"}, {u"C", u"D"}})}), std::move(second),
                 SlideOf({shortRow, inPlaceholder})});
}

// Groups: two text boxes; nesting three deep with text at every level; items without text only;
// a group whose only text is in a nested group; a table inside a group (no text frame).
b::DeckPlan Groups() {
  b::ShapePlan emptyBox = b::TextBox({});
  b::ShapePlan nested = b::Group({b::TextBox(u"Outer"),
       b::Group({b::AutoShape("rect", u"Inner shape"), emptyBox, b::Group({b::TextBox(u"Deepest\rtwo paragraphs")})}),
       b::Freeform(u"Outer again")});
  b::SlidePlan second =
      SlideOf({b::Title(u"Nested groups"), nested, b::Group({b::Picture(), b::Connector(), b::AutoShape("rect")})});
  second.notes = b::NotesPage(u"Groups nest");
  return DeckOf({SlideOf({b::Title(u"Groups"), b::Group({b::TextBox(u"A"), b::TextBox(u"B")})}), std::move(second),
                 SlideOf({b::Group({b::Group({b::TextBox(u"Only nested")})}),
                          b::Group({b::Table({{u"not collected"}}), b::TextBox(u"collected")})})});
}

// Placeholders other than title, body and subtitle: date, footer, slide number (a field that
// shows the slide's number, counted from firstSlideNum), an object placeholder (no type), a
// vertical title, an empty title, a picture placeholder; fields inside a text box.
b::DeckPlan Placeholders() {
  b::ShapePlan vertical = b::Title(u"Vertical title");
  vertical.placeholder = b::PlaceholderSpec{"title", std::nullopt, true, {}};
  b::ShapePlan picture = b::Picture();
  picture.placeholder = b::PlaceholderSpec{"pic", 2u, false, {}};
  b::ShapePlan page = b::TextBox(u"Page  of 9");
  page.fields = {b::FieldSpec{5, "slidenum", u"99"}};
  b::ShapePlan dated = b::TextBox(u"Date: ");
  dated.fields = {b::FieldSpec{6, "datetime1", u"5/1/2024"}};
  b::SlidePlan second = SlideOf({vertical, page, dated, picture});
  second.notes = b::NotesPage(u"Notes show the slide number too");
  b::DeckPlan deck = DeckOf({SlideOf({b::Title({}), b::Body(u"Body under an empty title"),
                       b::PlaceholderShape("dt", 10u, u"2024-05-01"), b::PlaceholderShape("ftr", 11u, u"Confidential"),
                       b::SlideNumberPlaceholder(12u, u"#"), b::PlaceholderShape("", 13u, u"Object placeholder")}),
              std::move(second)});
  deck.firstSlideNumber = 7;
  return deck;
}

// Notes pages: notes text with paragraphs and a line break; no notes part; an empty notes body;
// notes that are exactly the "no text" marker; a page whose first three shapes have no text frame;
// other placeholders and a text box on the page; a page without any shape that has a text frame.
b::DeckPlan Notes() {
  b::SlidePlan withNotes = SlideOf({b::Title(u"With notes")});
  withNotes.notes = b::NotesPage(u"First notes paragraph\rSecond\vwith a break");
  b::SlidePlan emptyBody = SlideOf({b::Title(u"Empty notes body")});
  emptyBody.notes = b::NotesPage({});
  b::SlidePlan marker = SlideOf({b::Title(u"Marker")});
  marker.notes = b::NotesPage(u"ApplesAndOranges");
  b::ShapePlan slideImage = b::PlaceholderShape("sldImg", std::nullopt);
  slideImage.omitTextBody = true;
  b::SlidePlan late = SlideOf({b::Title(u"Text frame comes fourth")});
  late.notes =
      std::vector<b::ShapePlan>{slideImage, b::Picture(), b::Connector(), b::Body(u"Notes after three shapes")};
  late.addNotesPlaceholders = false;
  b::SlidePlan others = SlideOf({b::Title(u"Other notes placeholders")});
  others.notes = std::vector<b::ShapePlan>{b::Body(u"Body notes"), b::TextBox(u"A text box is no placeholder"),
                                           b::PlaceholderShape("ftr", 3u, u"Notes footer")};
  b::SlidePlan none = SlideOf({b::Title(u"No text frame on the notes page")});
  none.notes = std::vector<b::ShapePlan>{slideImage, b::Picture()};
  none.addNotesPlaceholders = false;
  return DeckOf({std::move(withNotes), SlideOf({b::Title(u"Without notes")}), std::move(emptyBody), std::move(marker),
                 std::move(late), std::move(others), std::move(none)});
}

// Text beyond ASCII (accents, CJK, Hangul, Hebrew, Cyrillic, emoji with modifiers and joiners,
// mathematical letters outside the basic plane) and a hidden slide, which is exported like any.
b::DeckPlan Unicode() {
  b::SlidePlan hidden = SlideOf({b::Title(u"Hidden slide"), b::Body(u"Still exported")});
  hidden.hidden = true;
  hidden.notes = b::NotesPage(u"Notes of a hidden slide \U0001F648");
  b::SlidePlan first = SlideOf({b::Title(u"Unicode: caf\u00E9, na\u00EFve, \u00D8resund"),
                                b::Body(u"\u65E5\u672C\u8A9E\u306E\u30C6\u30AD\u30B9\u30C8\r\u4E2D\u6587\r"
                                        u"\uD55C\uAD6D\uC5B4"),
                                b::TextBox(u"Emoji: \U0001F680\U0001F389 and \U0001F44D\U0001F3FD"),
                                b::TextBox(u"\u05E9\u05DC\u05D5\u05DD \u043F\u0440\u0438\u0432\u0435\u0442")});
  first.notes = b::NotesPage(u"\u30CE\u30FC\u30C8 \u2014 notes");
  return DeckOf({std::move(first), std::move(hidden),
                 SlideOf({b::TextBox(u"\U0001D538\U0001D553 e\u0301 \U0001F468\u200D\U0001F469\u200D\U0001F467")})});
}

// Equations: math alone, math after text in the same shape, and math inside a group.
b::DeckPlan Equations() {
  b::ShapePlan withText = b::Equation({u"a", u"+", u"b"});
  withText.text = u"Sum:";
  return DeckOf({SlideOf({b::Title(u"Equations"), b::Equation({u"E", u"=", u"m", u"c\u00B2"}), withText,
                          b::Group({b::Equation({u"x", u"\u2264", u"y"}), b::TextBox(u"grouped")})})});
}

struct Deck {
  const char* name;
  std::function<b::DeckPlan()> make;
};
const Deck kDecks[] = {{"titles", Titles}, {"text_shapes", TextShapes}, {"objects", Objects}, {"tables", Tables},
                       {"groups", Groups}, {"placeholders", Placeholders}, {"notes", Notes}, {"unicode", Unicode},
                       {"equations", Equations}, {"sample", b::Sample}};

// Every combination of code, slide and shape numbers, notes and notes only: "<code>[-numbers][-notes|-notesonly]".
std::vector<std::string> Variants() {
  std::vector<std::string> out;
  for (const char* code : {"107", "200"})
    for (const char* rest : {"", "-numbers", "-notes", "-numbers-notes", "-numbers-notesonly"})
      out.push_back(std::string(code) + rest);
  return out;
}

TEST(PptxGolden, TextExportsMatchTheCheckedFiles) {
  testing::ScopedLocale utf8("C.UTF-8", LC_CTYPE);
  ASSERT_TRUE(utf8.ok()) << "the C.UTF-8 locale is missing: code 200 cannot be compared";
  testing::TempFolder dir;
  diagnostics::SetLogFolderForTesting(text::FromUtf8(dir.path().string()));
  const std::shared_ptr<void> logBack(nullptr, [](void*) { diagnostics::SetLogFolderForTesting(std::nullopt); });
  const char* update = std::getenv("QUORVANE_UPDATE_GOLDEN");
  QuorvaneX control;  // the default provider: the native engine
  for (const auto& deck : kDecks) {
    const fs::path input = dir / (std::string(deck.name) + ".pptx");
    ASSERT_NO_THROW(b::Write(deck.make(), input.string())) << deck.name;
    for (const std::string& variant : Variants()) {
      const std::string name = std::string(deck.name) + "/" + variant + ".txt";
      SCOPED_TRACE(name);
      const fs::path output = dir / "out.txt", golden = kGoldenDir / name;
      control.put_ShowSlideAndShapeNumber(variant.find("numbers") != std::string::npos ? kVariantTrue : kVariantFalse);
      ASSERT_EQ(testing::ConvertWith(control, input, output, std::stoi(variant),
                                     {.start = 0, .end = 0, .notes = variant.find("notes") != std::string::npos,
                                      .notesOnly = variant.find("notesonly") != std::string::npos}), 0)
          << text::ToUtf8(control.get_ErrorString());
      const std::string actual = testing::ReadFile(output);
      if (update != nullptr && std::string(update) == "1") {
        fs::create_directories(golden.parent_path());
        testing::WriteFile(golden, actual);
        continue;
      }
      ASSERT_TRUE(fs::exists(golden)) << golden << " is missing; QUORVANE_UPDATE_GOLDEN=1 writes it (check it by hand)";
      const std::string expected = testing::ReadFile(golden);
      if (expected == actual) continue;
      const fs::path written = fs::current_path() / "golden-actual" / name;
      fs::create_directories(written.parent_path());
      testing::WriteFile(written, actual);
      EXPECT_EQ(actual, expected) << "the export differs from " << golden << "; actual file: " << written
                                  << "\nIf the change is intended, rewrite the golden files with "
                                  << "QUORVANE_UPDATE_GOLDEN=1 and check the difference by hand.";
    }
  }
}

// The words of `text`: runs of ASCII letters and digits, and runs of other characters than ASCII
// (Markdown may put its ASCII marks between the two).
std::set<std::string> Words(std::string_view text) {
  std::set<std::string> words;
  std::string word;
  int kind = 0;  // of the word: 1 ASCII, 2 other
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const int now = std::isalnum(byte) ? 1 : byte >= 0x80 ? 2 : 0;
    if (now != kind && !word.empty()) words.insert(std::exchange(word, {}));
    if (now != 0) word += c;
    kind = now;
  }
  if (!word.empty()) words.insert(word);
  return words;
}

// A text export with slide and shape numbers, per slide: the text without the header lines and the
// table cells' coordinates.
std::map<int, std::string> TextExportBySlide(const std::string& text) {
  static const std::regex header(R"(^----- Slide\((\d+)\) Shape\(\d+\) .*-----$)"), cell(R"(^\(\d+,\d+\): $)");
  std::map<int, std::string> slides;
  int slide = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::smatch m;
    if (std::regex_match(line, m, header))
      slide = std::stoi(m[1]);
    else if (!std::regex_match(line, cell))
      slides[slide] += line + "\n";
  }
  return slides;
}

// Markdown per slide: the text under each "## Slide N" heading, the heading included.
std::map<int, std::string> MarkdownBySlide(const std::string& markdown) {
  std::map<int, std::string> slides;
  int slide = 0;
  std::istringstream lines(markdown);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("## Slide ")) slide = std::stoi(line.substr(9));
    slides[slide] += line + "\n";
  }
  return slides;
}

// The checked decks and every Office Open XML deck of the corpus that opens: each word of a slide's
// text export is in that slide's Markdown section, and the JSON document keeps to its schema.
TEST(PptxGolden, MarkdownKeepsEveryWordOfTheTextExportAndJsonItsSchema) {
  testing::ScopedLocale utf8("C.UTF-8", LC_CTYPE);
  ASSERT_TRUE(utf8.ok());
  testing::TempFolder dir;
  diagnostics::SetLogFolderForTesting(text::FromUtf8(dir.path().string()));
  const std::shared_ptr<void> logBack(nullptr, [](void*) { diagnostics::SetLogFolderForTesting(std::nullopt); });
  std::vector<fs::path> decks;
  for (const auto& deck : kDecks) {
    decks.push_back(dir / (std::string(deck.name) + ".pptx"));
    b::Write(deck.make(), decks.back().string());
  }
  if (testing::CorpusPresent())
    for (const fs::path& deck : testing::CorpusDecks())
      if (deck.extension() == ".pptx" || deck.extension() == ".ppsx") decks.push_back(deck);
  QuorvaneX control;
  control.put_ShowSlideAndShapeNumber(kVariantTrue);
  std::string jsonFiles;
  int read = 0;
  for (const fs::path& deck : decks) {
    SCOPED_TRACE(deck.string());
    const fs::path md = dir / "out.md", json = dir / (std::to_string(read) + ".json"), txt = dir / "out.txt";
    try {
      ExportDocument(deck.string(), md.string(), DocumentKind::kMarkdown);
    } catch (const AutomationError&) {
      EXPECT_NE(testing::ConvertWith(control, deck, txt, 200), 0) << "the text export reads what Markdown cannot";
      continue;
    }
    ASSERT_NO_THROW(ExportDocument(deck.string(), json.string(), DocumentKind::kJson));
    jsonFiles += " '" + json.string() + "'";
    ++read;
    auto markdown = MarkdownBySlide(testing::ReadFile(md));
    // A deck without slides has no range to export as text.
    if (testing::ConvertWith(control, deck, txt, 200) != 0) {
      EXPECT_FALSE(markdown.contains(1)) << text::ToUtf8(control.get_ErrorString());
      continue;
    }
    for (const auto& [slide, text] : TextExportBySlide(testing::ReadFile(txt))) {
      const std::string& section = markdown[slide];
      for (const std::string& word : Words(text))
        EXPECT_NE(section.find(word), std::string::npos) << "slide " << slide << ": \"" << word << "\" missing in\n"
                                                         << section;
    }
  }
  EXPECT_GE(read, static_cast<int>(std::size(kDecks)) + (testing::CorpusPresent() ? 1 : 0));  // corpus decks read too
  const std::string check = testing::CommandOutput(
      "/usr/bin/python3 -c 'import json, sys, jsonschema\n"
      "v = jsonschema.Draft202012Validator(json.load(open(sys.argv[1])))\n"
      "for f in sys.argv[2:]:\n"
      "    for e in v.iter_errors(json.load(open(f))): print(f, list(e.absolute_path), e.message)\n"
      "print(\"checked\", len(sys.argv) - 2)' '" QUORVANE_SCHEMA "'" + jsonFiles + " 2>&1");
  EXPECT_EQ(check, "checked " + std::to_string(read) + "\n");
}

}  // namespace
}  // namespace quorvane::engines::pptx
