// Golden text exports: small decks made with the deck builder, exported through the control and
// the native engine as Unicode text (107) and ANSI text (200) with every combination of slide and
// shape numbers and notes, compared byte for byte with the files under tests/golden/<deck>/.
//
// The expected files were checked by hand against the export rules (labels, header lines, the line
// break after every piece, the writer's extra CR LF for code 200, UTF-16LE without a byte-order
// mark for 107, the notes header without a line break of its own for 107, table cell lines, the
// extra line break after a group). When the output changes on purpose, regenerate them with
//   QUORVANE_UPDATE_GOLDEN=1 ./quorvane_tests --gtest_filter='PptxGolden*'
// and read the difference before committing it. On a mismatch the actual output is written under
// golden-actual/ in the test's working folder. QUORVANE_GOLDEN_KEEP=1 keeps the built decks.
//
// Code 200 runs under the C.UTF-8 character set, so its "ANSI" bytes are UTF-8.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "diagnostics/log.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "quorvane/control.hpp"
#include "support/fixtures.hpp"

namespace quorvane::engines::pptx {
namespace {

using quorvane::testing::ScopedLocale;

namespace fs = std::filesystem;
namespace b = builder;

// Given by the build as an absolute path: __FILE__ may be relative (a compiler cache rewrites it).
const fs::path kGoldenDir = QUORVANE_GOLDEN_DIR;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

bool EnvSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && std::string(value) == "1";
}

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
  b::ShapePlan merged = b::Table({{u"Region", u"Q1", u"Q2"},
                                  {u"North", u"3", u""},
                                  {u"", u"Two\rparagraphs", u"Line\vbreak"},
                                  {u"Total", u"", u""}});
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
  b::ShapePlan nested = b::Group(
      {b::TextBox(u"Outer"),
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
  b::DeckPlan deck =
      DeckOf({SlideOf({b::Title({}), b::Body(u"Body under an empty title"),
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

const std::vector<Deck>& Decks() {
  static const std::vector<Deck> decks = {
      {"titles", Titles},       {"text_shapes", TextShapes},    {"objects", Objects}, {"tables", Tables},
      {"groups", Groups},       {"placeholders", Placeholders}, {"notes", Notes},     {"unicode", Unicode},
      {"equations", Equations}, {"sample", b::Sample},
  };
  return decks;
}

// --- The exports ----------------------------------------------------------------------------------

struct Variant {
  const char* name;
  std::int32_t target;
  VariantBool numbers;
  VariantBool notes;
  VariantBool notesOnly;
};

const std::vector<Variant>& Variants() {
  static const std::vector<Variant> variants = {
      {"107", 107, kVariantFalse, kVariantFalse, kVariantFalse},
      {"107-numbers", 107, kVariantTrue, kVariantFalse, kVariantFalse},
      {"107-notes", 107, kVariantFalse, kVariantTrue, kVariantFalse},
      {"107-numbers-notes", 107, kVariantTrue, kVariantTrue, kVariantFalse},
      {"107-numbers-notesonly", 107, kVariantTrue, kVariantTrue, kVariantTrue},
      {"200", 200, kVariantFalse, kVariantFalse, kVariantFalse},
      {"200-numbers", 200, kVariantTrue, kVariantFalse, kVariantFalse},
      {"200-notes", 200, kVariantFalse, kVariantTrue, kVariantFalse},
      {"200-numbers-notes", 200, kVariantTrue, kVariantTrue, kVariantFalse},
      {"200-numbers-notesonly", 200, kVariantTrue, kVariantTrue, kVariantTrue},
  };
  return variants;
}

// Bytes shown with control characters and non-ASCII bytes escaped, for failure messages.
std::string Shown(const std::string& bytes) {
  std::ostringstream out;
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\r') {
      out << "\\r";
    } else if (c == '\n') {
      out << "\\n";
    } else if (c < 0x20 || c >= 0x7F) {
      static const char kHex[] = "0123456789abcdef";
      out << "\\x" << kHex[c >> 4] << kHex[c & 15];
    } else {
      out << ch;
    }
  }
  return out.str();
}

// Where two byte strings first differ, with some context of both.
std::string FirstDifference(const std::string& expected, const std::string& actual) {
  std::size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  const std::size_t from = at > 24 ? at - 24 : 0;
  return "first difference at byte " + std::to_string(at) + " (expected " + std::to_string(expected.size()) +
         " bytes, got " + std::to_string(actual.size()) + ")\n  expected: ..." + Shown(expected.substr(from, 72)) +
         "\n  actual:   ..." + Shown(actual.substr(from, 72));
}

class PptxGolden : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv-golden-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    diagnostics::SetLogFolderForTesting(text::FromUtf8(dir_.string()));
  }
  void TearDown() override {
    diagnostics::SetLogFolderForTesting(std::nullopt);
    if (EnvSet("QUORVANE_GOLDEN_KEEP")) {
      std::cout << "[   KEPT   ] decks and exports in " << dir_.string() << "\n";
    } else {
      fs::remove_all(dir_);
    }
  }
  fs::path dir_;
};

TEST_F(PptxGolden, TextExportsMatchTheCheckedFiles) {
  ScopedLocale utf8("C.UTF-8", LC_CTYPE);
  ASSERT_TRUE(utf8.ok()) << "the C.UTF-8 locale is missing: code 200 cannot be compared";
  const bool update = EnvSet("QUORVANE_UPDATE_GOLDEN");
  const fs::path actualDir = fs::current_path() / "golden-actual";
  std::size_t compared = 0;
  QuorvaneX control;  // the default provider: the native engine
  for (const auto& deck : Decks()) {
    const fs::path input = dir_ / (std::string(deck.name) + ".pptx");
    ASSERT_NO_THROW(b::Write(deck.make(), input.string())) << deck.name;
    for (const auto& variant : Variants()) {
      const std::string name = std::string(deck.name) + "/" + variant.name + ".txt";
      SCOPED_TRACE(name);
      const fs::path output = dir_ / (std::string(deck.name) + "-" + variant.name + ".txt");
      control.put_InputFile(text::FromUtf8(input.string()));
      control.put_OutputFile(text::FromUtf8(output.string()));
      control.put_TargetFileType(variant.target);
      control.put_StartSlide(0);
      control.put_EndSlide(0);
      control.put_ShowSlideAndShapeNumber(variant.numbers);
      control.put_IncludeNotes(variant.notes);
      control.put_NotesOnly(variant.notesOnly);
      ASSERT_EQ(control.ConvertFile(), 0) << text::ToUtf8(control.get_ErrorString());
      const std::string actual = ReadBytes(output);
      const fs::path golden = kGoldenDir / name;
      if (update) {
        WriteBytes(golden, actual);
        continue;
      }
      ASSERT_TRUE(fs::exists(golden)) << golden.string()
                                      << " is missing; QUORVANE_UPDATE_GOLDEN=1 writes it (check it by hand)";
      const std::string expected = ReadBytes(golden);
      ++compared;
      if (expected != actual) {
        const fs::path written = actualDir / name;
        WriteBytes(written, actual);
        ADD_FAILURE() << name << ": the export differs from the golden file\n"
                      << FirstDifference(expected, actual) << "\n  golden: " << golden.string()
                      << "\n  actual: " << written.string()
                      << "\nIf the change is intended, rewrite the golden files with\n  QUORVANE_UPDATE_GOLDEN=1 "
                         "./quorvane_tests --gtest_filter='PptxGolden*'\nand check the difference by hand.";
      }
    }
  }
  if (!update) {
    EXPECT_EQ(compared, Decks().size() * Variants().size());
  }
}

// Every file under tests/golden/ belongs to a deck and a variant of this test: a file left behind
// by a renamed deck would otherwise go unnoticed.
TEST(PptxGoldenFiles, EveryGoldenFileIsCompared) {
  std::set<std::string> known;
  for (const auto& deck : Decks()) {
    for (const auto& variant : Variants()) known.insert(std::string(deck.name) + "/" + variant.name + ".txt");
  }
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(kGoldenDir)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = fs::relative(entry.path(), kGoldenDir).generic_string();
    if (relative == "README.md") continue;
    ++files;
    EXPECT_TRUE(known.count(relative)) << relative << " is not produced by any deck and variant";
  }
  EXPECT_EQ(files, known.size());
}

}  // namespace
}  // namespace quorvane::engines::pptx
