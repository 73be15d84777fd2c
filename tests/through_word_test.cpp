// Conversion through Word against the scripted office: what each Word document receives in both
// modes, the per-slide names and progress, the notes rules, values read afresh from Progress handlers,
// and every row of the failure path with its report, cleanup and release of the applications.
#include <limits>

#include "quorvane/catalog.hpp"
#include "support/converter_test.hpp"

namespace quorvane {
namespace {

using testing::Deck;
using testing::NotesBody;
using Content = std::vector<std::string>;
using Strings = std::vector<std::string>;
using Numbers = std::vector<std::int32_t>;
constexpr std::int32_t kInvalid = failure::kPowerPointInvalidRequest, kWordFailed = testing::kWordCommandFailed;
const Strings kBoth = {"Document.Close(-1)", "Presentation.Close"};

// Five slides, each with its notes "Notes <n>", on a wide page so that height and width differ.
Deck FiveSlides() {
  Deck deck;
  for (const std::u16string n : {u"1", u"2", u"3", u"4", u"5"})
    deck.Slide({testing::Title(u"Slide " + n)}).Notes({testing::SlideImage(), NotesBody(u"Notes " + n)});
  return deck.Size(960, 540);
}

class ThroughWord : public testing::ConverterTest {
 protected:
  // Converting slides 1 to 3 of `deck` to `code` into /out/deck.doc.
  QuorvaneX* Control(std::int32_t code = 101, VariantBool multi = kVariantFalse, VariantBool optimize = kVariantTrue,
                     const Deck& deck = FiveSlides()) {
    QuorvaneX* x = Fresh(deck, code, u"/out/deck.doc", optimize);
    x->put_StartSlide(1);
    x->put_EndSlide(3);
    x->put_MultiFileOutput(multi);
    return x;
  }
  std::vector<Content> Documents() const {
    std::vector<Content> all;
    for (const auto& d : office_->WordDocuments()) all.push_back(d->content);
    return all;
  }
  // Every Document.SaveAs, as "<file name> <format>".
  Strings Saves() const {
    Strings saves;
    for (const auto& d : office_->WordDocuments())
      for (const auto& s : d->saves) saves.push_back(text::ToUtf8(s.fileName) + " " + std::to_string(s.format));
    return saves;
  }
  // The calls that close documents and presentations and end the applications, in order.
  Strings Closes() const {
    Strings closes;
    for (const auto& entry : office_->Log())
      for (const char* prefix : {"Document.Close", "Presentation.Close", "PowerPoint.Quit", "Word.Quit"})
        if (entry.starts_with(prefix)) closes.push_back(entry);
    return closes;
  }
  static Strings Messages(const Numbers& codes) {
    Strings texts;
    for (const std::int32_t code : codes) texts.push_back(text::ToUtf8(catalog::ErrorMessage(code)));
    return texts;
  }
};

// One document holds the range with page breaks between slides, on the slide's page size, saved under
// OutputFile as it is (spaces kept) in the format code - 100. One document per slide (any non-zero
// MultiFileOutput) takes the extension off the trimmed name only when the name ends with "." and the
// extension (in any letter case), whatever the length of the name.
TEST_F(ThroughWord, DocumentsAndTheirNames) {
  struct Row { std::u16string output; std::int32_t code, start, end; VariantBool multi; Strings saves; Content one = {}; };
  const Row rows[] = {
      {u"/out/deck.doc", 101, 3, 5, 0, {"/out/deck.doc 1"}, {"slide 3", "break 7", "slide 4", "break 7", "slide 5"}},
      {u"  /out/My Deck  ", 106, 2, 2, 0, {"  /out/My Deck   6"}, {"slide 2"}},
      {u"/out/deck.doc", 22, 1, 1, 0, {"/out/deck.doc -78"}, {"slide 1"}},
      {u"/out/deck.rtf", 106, 1, 3, -1, {"/out/deck_Slide1.RTF 6", "/out/deck_Slide2.RTF 6", "/out/deck_Slide3.RTF 6"}},
      {u"/out/deck.DoC", 101, 1, 1, -1, {"/out/deck_Slide1.DOC 1"}},
      {u"/out/deck.doc", 22, 1, 2, -1, {"/out/deck.doc_Slide1. -78", "/out/deck.doc_Slide2. -78"}},
      {u"  /out/deck.rtf  ", 106, 1, 1, -1, {"/out/deck_Slide1.RTF 6"}},
      {u"/out/deck.doc", 101, 4, 5, 1, {"/out/deck_Slide4.DOC 1", "/out/deck_Slide5.DOC 1"}},
      {u"/out/deck.doc", 101, 9, 9, 0, {"/out/deck.doc 1"}, {}},  // start above the last slide: an empty document
  };
  for (const auto& row : rows) {
    const std::string name = text::ToUtf8(row.output) + " " + std::to_string(row.code) + (row.multi ? " multi" : "");
    auto x = Control(row.code, row.multi);
    x->internal().OutputFile = row.output;  // unlike the setter, keeps surrounding spaces
    x->put_StartSlide(row.start);
    x->put_EndSlide(row.end);
    EXPECT_EQ(x->ConvertFile(), 0) << name;
    EXPECT_EQ(Saves(), row.saves) << name;
    std::vector<Content> documents{row.one};
    Strings closes(row.multi ? row.saves.size() : 1, "Document.Close(-1)");
    closes.push_back("Presentation.Close");
    if (row.multi) documents.clear();
    for (std::int32_t i = row.start; row.multi && i <= row.end; ++i) documents.push_back({"slide " + std::to_string(i)});
    EXPECT_EQ(Documents(), documents) << name;
    EXPECT_EQ(Closes(), closes) << name;
    for (const auto& d : office_->WordDocuments()) EXPECT_TRUE(d->pageWidth == 960 && d->pageHeight == 540) << name;
    EXPECT_TRUE(events_->errors.empty()) << name;
    // 0 first, then a step per slide to 100, and 100 once more at the end (a start past the end: the
    // division by zero of the other converters' progress tests)
    const auto isSlide = [](const std::string& item) { return item.starts_with("slide"); };
    const std::size_t slides = row.multi ? row.saves.size() : std::size_t(std::count_if(row.one.begin(), row.one.end(), isSlide));
    ASSERT_EQ(events_->progress.size(), slides + 2) << name;
    EXPECT_EQ(events_->progress.front(), 0) << name;
    if (slides > 0) { EXPECT_NEAR(events_->progress[slides], 100, 0.01) << name; }
    EXPECT_EQ(events_->progress.back(), 100) << name;
  }
}

// Slide 1 has notes "Notes 1", slide 2's notes body is empty; in one document per slide the content
// is the same, split by slide and without the break. The notes text comes from the notes page's
// placeholders, whatever other shapes stand in front; their count is read once per slide.
TEST_F(ThroughWord, NotesRules) {
  using namespace testing;
  struct Row { const char* name; VariantBool includeNotes, notesOnly; Content content; };
  const Content slides = {"slide 1", "break 7", "slide 2"}, notesOnly = {"paragraph", "text Notes 1"};
  const Row rows[] = {
      {"no notes", 0, 0, slides}, {"NotesOnly without IncludeNotes has no effect", 0, -1, slides},
      {"slides and notes", -1, 0, {"slide 1", "paragraph", "text Notes 1", "break 7", "slide 2"}},
      {"notes only: no picture, no break", -1, -1, notesOnly}, {"notes only with NotesOnly 1", -1, 1, notesOnly},
      {"IncludeNotes 1: neither", 1, -1, {}},
  };
  const Deck deck = Deck().Slide({Title(u"One")}).Notes({SlideImage(), NotesBody(u"Notes 1")}).Slide({Title(u"Two")});
  for (const auto& row : rows) {
    for (const VariantBool multi : {kVariantFalse, kVariantTrue}) {
      const std::string name = std::string(row.name) + (multi ? ", per slide" : ", one document");
      auto x = Control(101, multi, kVariantTrue, deck);
      x->put_IncludeNotes(row.includeNotes);
      x->put_NotesOnly(row.notesOnly);
      EXPECT_EQ(x->ConvertFile(), 0) << name;
      Content all, expected = row.content;
      for (const auto& d : Documents()) all.insert(all.end(), d.begin(), d.end());
      if (multi) std::erase(expected, "break 7");
      EXPECT_EQ(all, expected) << name;
      EXPECT_EQ(office_->WordDocuments().size(), multi ? 2u : 1u) << name;
      const bool picture = row.includeNotes == 0 || (row.includeNotes == -1 && row.notesOnly == 0);
      EXPECT_EQ(CountOf("Slide.Copy"), picture ? 2u : 0u) << name;
    }
  }
  const std::pair<std::vector<ShapeData>, Content> notes[] = {
      {{SlideImage(), NotesBody(u"first\rsecond"), Placeholder(13, u"7"), NotesBody(u"")},
       {"paragraph", "text first\rsecond", "paragraph", "text 7"}},
      {{SlideImage(), NotesBody(u"")}, {}}, {{Picture(), NotesBody(u"kept")}, {"paragraph", "text kept"}},
      {{TextBox(u"box"), SlideImage(), NotesBody(u"B")}, {"paragraph", "text B"}},  // the box is no placeholder
  };
  for (const auto& [shapes, content] : notes) {
    auto x = Control(101, kVariantFalse, kVariantTrue, Deck().Slide({Title(u"T")}).Notes(shapes));
    x->put_IncludeNotes(kVariantTrue);
    x->put_NotesOnly(kVariantTrue);
    EXPECT_EQ(x->ConvertFile(), 0);
    EXPECT_EQ(Documents(), std::vector<Content>{content});
    EXPECT_EQ(CountOf("Placeholders.Count"), 1u);
  }
}

// Changes a Progress handler makes after slide 1 apply from the next slide.
TEST_F(ThroughWord, ProgressHandlerChangesApplyFromTheNextSlide) {
  struct Row { const char* name; VariantBool multi; std::function<void(QuorvaneX&)> change;
               std::vector<Content> documents; Strings saves; };
  const Row rows[] = {
      {"notes switched on", 0, [](QuorvaneX& x) { x.put_IncludeNotes(-1), x.put_NotesOnly(-1); },
       {{"slide 1", "paragraph", "text Notes 2", "paragraph", "text Notes 3"}}, {"/out/deck.doc 1"}},
      {"StartSlide raised: no more breaks, same loop bounds", 0, [](QuorvaneX& x) { x.put_StartSlide(3); },
       {{"slide 1", "slide 2", "slide 3"}}, {"/out/deck.doc 1"}},
      {"OutputFile changed: saved under the new name", 0, [](QuorvaneX& x) { x.put_OutputFile(u"/out/other.rtf"); },
       {{"slide 1", "break 7", "slide 2", "break 7", "slide 3"}}, {"/out/other.rtf 1"}},
      {"per slide: the format number follows the code, the names do not", -1,
       [](QuorvaneX& x) { x.put_TargetFileType(106), x.put_OutputFile(u"/out/other.rtf"); },
       {{"slide 1"}, {"slide 2"}, {"slide 3"}}, {"/out/deck_Slide1.DOC 1", "/out/deck_Slide2.DOC 6", "/out/deck_Slide3.DOC 6"}},
  };
  for (const auto& row : rows) {
    auto x = Control(101, row.multi);
    events_->onProgress = [&, control = x](std::size_t events) {
      if (events == 2) row.change(*control);
    };
    EXPECT_EQ(x->ConvertFile(), 0) << row.name;
    EXPECT_EQ(Documents(), row.documents) << row.name;
    EXPECT_EQ(Saves(), row.saves) << row.name;
  }
}

// Every row: the failure enters the path once (nothing is retried), is reported with its catalogue
// text, then what is held is closed and both applications are handed back. A format number below the
// 32-bit range (no member) fails as an overflow, before Word is asked to save.
TEST_F(ThroughWord, FailurePathRows) {
  struct Row { const char* name; VariantBool multi; std::string member; std::int32_t nth, number, result;
               Strings closes; };
  const Row rows[] = {
      {"open: not created", 0, "Presentations.Open", 1, failure::kCannotCreateObject, -9, {}},
      {"open: library not loaded", 0, "Presentations.Open", 1, failure::kLibraryNotLoaded, -1, {}},
      {"open: PowerPoint's failure", 0, "Presentations.Open", 1, failure::kEFail, -10, {}},
      {"slide count", 0, "Slides.Count", 1, kInvalid, -10, {"Presentation.Close"}},
      {"Documents.Add", 0, "Documents.Add", 1, failure::kCannotCreateObject, -9, {"Presentation.Close"}},
      {"slide copy", 0, "Slide.Copy", 2, kInvalid, -10, kBoth},
      {"save: the unsaved document is closed with save", 0, "Document.SaveAs", 1, kWordFailed, -10, kBoth},
      {"document close: closed again", 0, "Document.Close", 1, kWordFailed, -10,
       {"Document.Close(-1)", "Document.Close(-1)", "Presentation.Close"}},
      // The closed document is not closed a second time: Word would fail that, and the failure would
      // leave the conversion instead of the reported -10.
      {"presentation close after the document's", 0, "Presentation.Close", 1, kInvalid, -10,
       {"Document.Close(-1)", "Presentation.Close", "Presentation.Close"}},
      {"per slide: second save", -1, "Document.SaveAs", 2, kWordFailed, -10,
       {"Document.Close(-1)", "Document.Close(-1)", "Presentation.Close"}},
      {"format number overflow", 0, "", 0, 0, -10, kBoth},
  };
  for (const auto& row : rows) {
    for (const VariantBool optimize : {kVariantTrue, kVariantFalse}) {
      const std::string name = std::string(row.name) + (optimize ? ", applications kept" : ", applications ended");
      auto x = Control(row.member.empty() ? std::numeric_limits<std::int32_t>::min() : 101, row.multi, optimize);
      if (!row.member.empty()) office_->FailOn(row.member, row.nth, row.number);
      EXPECT_EQ(x->ConvertFile(), row.result) << name;
      EXPECT_EQ(events_->texts, Messages({row.result})) << name;
      EXPECT_EQ(events_->errors, Numbers{row.result}) << name;
      EXPECT_EQ(x->get_ErrorString(), catalog::ErrorMessage(row.result)) << name;
      Strings closes = row.closes;
      if (!optimize) closes.insert(closes.end(), {"PowerPoint.Quit", "Word.Quit(false)"});
      EXPECT_EQ(Closes(), closes) << name;
      const std::string member = row.member.empty() ? "Document.SaveAs" : row.member;
      EXPECT_EQ(CountOf(member), std::size_t(row.nth) + (member.ends_with("Close") ? 1 : 0)) << name << ": not repeated";
    }
  }
}

// Starting and ending the applications, after a success and on the failure path (a failed copy); a
// failure while cleaning up leaves the call, after the report, and nothing after the failed close runs.
TEST_F(ThroughWord, StartAndReleaseResults) {
  struct Row { const char* name; std::string member; bool copyFails; Numbers errors; Strings closes; };
  const Strings pptEnded = {"Document.Close(-1)", "Presentation.Close", "PowerPoint.Quit"};
  Strings wordTried = pptEnded;
  wordTried.insert(wordTried.end(), {"Word.Quit(false)", "Word.Quit(false)"});
  const Row rows[] = {
      {"PowerPoint cannot be created", "CreatePowerPoint", false, {-12}, {}},
      {"Word cannot be created: PowerPoint stays", "CreateWord", false, {-14}, {}},
      {"PowerPoint not ended: Word not asked", "PowerPoint.Quit", false, {-13}, pptEnded},
      {"Word not ended", "Word.Quit", false, {-15}, wordTried},
      {"failure path, PowerPoint not ended: Word not asked", "PowerPoint.Quit", true, {-10, -13}, pptEnded},
      {"failure path, Word not ended", "Word.Quit", true, {-10, -15}, wordTried},
  };
  for (const auto& row : rows) {
    auto x = Control(101, kVariantFalse, kVariantFalse);
    if (row.copyFails) office_->FailOn("Slide.Copy", 1, kInvalid);
    office_->FailFrom(row.member, 1, row.copyFails ? kInvalid : failure::kCannotCreateObject);
    EXPECT_EQ(x->ConvertFile(), row.errors.back()) << row.name;
    EXPECT_EQ(events_->errors, row.errors) << row.name;
    EXPECT_EQ(events_->texts, Messages(row.errors)) << row.name;
    if (row.errors.back() == -14) { EXPECT_EQ(x->get_ErrorString(), u"Unable to create Word application. Please install Word."); }
    EXPECT_EQ(Closes(), row.closes) << row.name;
    EXPECT_EQ(CountOf("Presentations.Open"), row.closes.empty() ? 0u : 1u) << row.name;
    EXPECT_EQ(CountOf("CreateWord") == 0, row.errors.back() == -12) << row.name;
  }
  for (const char* member : {"Document.Close", "Presentation.Close"}) {
    auto x = Control(101, kVariantFalse, kVariantFalse);
    office_->FailOn("Slide.Copy", 1, kInvalid);
    office_->FailOn(member, 1, kWordFailed, u"closing failed");
    std::string description;
    EXPECT_EQ(testing::ThrownNumber([&] { x->ConvertFile(); }, &description), kWordFailed) << member;
    EXPECT_EQ(description, "closing failed") << member;
    EXPECT_EQ(events_->errors, Numbers{-10}) << member;
    EXPECT_EQ(CountOf("PowerPoint.Quit") + CountOf("Word.Quit"), 0u) << member;
  }
}

}  // namespace
}  // namespace quorvane
