// Conversion through Word against the scripted office: what each Word document receives in both
// modes, the per-slide names, the notes rules, progress, values read afresh from Progress
// handlers, and every row of the failure path with its report, cleanup and release of the
// applications.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/text.hpp"
#include "control/control.hpp"
#include "quorvane/catalog.hpp"
#include "quorvane/control.hpp"
#include "support/scripted_office.hpp"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::Deck;
using testing::NotesBody;
using testing::ScriptedOffice;

constexpr std::int32_t kInvalidRequest = failure::kPowerPointInvalidRequest;
const std::u16string kInput = u"/in/deck.pptx";
using Content = std::vector<std::string>;

struct Recorder : QuorvaneXEvents {
  void Progress() override {
    progress.push_back(control->get_PercentageComplete());
    if (onProgress) onProgress(progress.size());
  }
  void onerror(std::int32_t& number, std::u16string& text) override { errors.emplace_back(number, text::ToUtf8(text)); }
  QuorvaneX* control = nullptr;
  std::function<void(std::size_t)> onProgress;  // called with the number of Progress events so far
  std::vector<float> progress;
  std::vector<std::pair<std::int32_t, std::string>> errors;
};

std::string Message(std::int32_t code) { return text::ToUtf8(catalog::ErrorMessage(code)); }

class ThroughWord : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv-word-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // Five slides, each with its notes "Notes <n>"; a wide page so that height and width differ.
    Deck deck;
    for (int n = 1; n <= 5; ++n) {
      const std::u16string number = text::Decimal(n);
      deck.Slide({testing::Title(u"Slide " + number)}).Notes({testing::SlideImage(), NotesBody(u"Notes " + number)});
    }
    office_->AddFile(kInput, deck.Size(960, 540));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // A fresh control on the office, set up for a conversion of `code` into /out/deck.doc.
  std::unique_ptr<QuorvaneX> Control(std::int32_t code = 101, VariantBool multi = kVariantFalse,
                                     VariantBool optimize = kVariantTrue) {
    auto x = std::make_unique<QuorvaneX>(office_);
    x->put_InputFile(kInput);
    x->put_OutputFile(u"/out/deck.doc");
    x->put_TargetFileType(code);
    x->put_MultiFileOutput(multi);
    x->put_OptimizeForSpeed(optimize);
    recorder_ = std::make_shared<Recorder>();
    recorder_->control = x.get();
    x->Advise(recorder_);
    return x;
  }

  // What each Word document received, one list per document.
  std::vector<Content> Documents() const {
    std::vector<Content> all;
    for (const auto& d : office_->WordDocuments()) all.push_back(d->content);
    return all;
  }
  // Every Document.SaveAs, as "<file name> <format>".
  std::vector<std::string> Saves() const {
    std::vector<std::string> saves;
    for (const auto& d : office_->WordDocuments())
      for (const auto& s : d->saves) saves.push_back(text::ToUtf8(s.fileName) + " " + std::to_string(s.format));
    return saves;
  }
  // The calls that close documents and presentations and end the applications, in order.
  std::vector<std::string> Closes() const {
    std::vector<std::string> closes;
    for (const auto& entry : office_->Log())
      for (const char* prefix : {"Document.Close", "Presentation.Close", "PowerPoint.Quit", "Word.Quit"})
        if (entry.starts_with(prefix)) closes.push_back(entry);
    return closes;
  }
  std::size_t CountOf(std::string_view prefix) const { return office_->Log(prefix).size(); }

  fs::path dir_;
  std::shared_ptr<ScriptedOffice> office_ = std::make_shared<ScriptedOffice>();
  std::shared_ptr<Recorder> recorder_;
};

// --- One document ------------------------------------------------------------------------------

TEST_F(ThroughWord, OneDocumentHoldsTheRangeWithPageBreaksBetweenSlides) {
  struct Row {
    const char* name;
    std::int32_t code, start, end;
    Content content;
    std::string save;
  };
  const Row rows[] = {
      {"DOC, slides 3 to 5: breaks before 4 and 5 only", 101, 3, 5,
       {"slide 3", "break 7", "slide 4", "break 7", "slide 5"}, "/out/deck.doc 1"},
      {"RTF, one slide: no break", 106, 2, 2, {"slide 2"}, "/out/deck.doc 6"},
      {"HTML, whole presentation", 108, 0, 0,
       {"slide 1", "break 7", "slide 2", "break 7", "slide 3", "break 7", "slide 4", "break 7", "slide 5"},
       "/out/deck.doc 8"},
      {"code outside the table: format number code - 100", 22, 1, 1, {"slide 1"}, "/out/deck.doc -78"},
      {"negative code", -1, 1, 1, {"slide 1"}, "/out/deck.doc -101"},
  };
  for (const auto& row : rows) {
    office_ = std::make_shared<ScriptedOffice>();
    SetUp();
    auto x = Control(row.code);
    x->put_StartSlide(row.start);
    x->put_EndSlide(row.end);
    EXPECT_EQ(x->ConvertFile(), 0) << row.name;
    EXPECT_EQ(office_->Log("Presentations.Open"),
              std::vector<std::string>{"Presentations.Open(/in/deck.pptx, 1, 1, 0)"})
        << row.name;
    EXPECT_EQ(Documents(), std::vector<Content>{row.content}) << row.name;
    EXPECT_EQ(Saves(), std::vector<std::string>{row.save}) << row.name;
    ASSERT_EQ(office_->WordDocuments().size(), 1u) << row.name;
    const auto& document = *office_->WordDocuments()[0];
    EXPECT_EQ(document.pageHeight, 540.0f) << row.name;
    EXPECT_EQ(document.pageWidth, 960.0f) << row.name;
    EXPECT_EQ(Closes(), (std::vector<std::string>{"Document.Close(-1)", "Presentation.Close"})) << row.name;
    EXPECT_TRUE(recorder_->errors.empty()) << row.name;
  }
}

TEST_F(ThroughWord, OneDocumentSavesUnderOutputFileAsItIs) {
  auto x = Control(106);
  x->internal().OutputFile = u"  /out/My Deck  ";  // as a host could leave it through the internal field
  EXPECT_EQ(x->ConvertFile(), 0);
  EXPECT_EQ(Saves(), std::vector<std::string>{"  /out/My Deck   6"});
}

TEST_F(ThroughWord, PageSetupReadsTheSlideSizeThenSetsHeightBeforeWidth) {
  auto x = Control();
  x->put_StartSlide(1);
  x->put_EndSlide(1);
  ASSERT_EQ(x->ConvertFile(), 0);
  std::vector<std::string> calls;
  for (const auto& entry : office_->Log())
    if (entry.find("PageSetup") != std::string::npos || entry.starts_with("Documents.Add")) calls.push_back(entry);
  EXPECT_EQ(calls, (std::vector<std::string>{"Documents.Add", "Presentation.PageSetup", "PageSetup.SlideHeight",
                                             "Document.PageSetup", "PageSetup.put_PageHeight(540)",
                                             "Presentation.PageSetup", "PageSetup.SlideWidth", "Document.PageSetup",
                                             "PageSetup.put_PageWidth(960)"}));
}

// --- One document per slide --------------------------------------------------------------------

// The extension comes off the trimmed name only when the name ends with "." and the extension (in
// any letter case); nothing else is removed, whatever the length of the name.
TEST_F(ThroughWord, PerSlideDocumentNames) {
  struct Row {
    const char* name;
    std::u16string output;
    std::int32_t code, start, end;
    std::vector<std::string> saves;
  };
  const Row rows[] = {
      {"RTF, extension removed", u"/out/deck.rtf", 106, 1, 3,
       {"/out/deck_Slide1.RTF 6", "/out/deck_Slide2.RTF 6", "/out/deck_Slide3.RTF 6"}},
      {"no extension: whole name kept", u"/out/deck", 101, 1, 1, {"/out/deck_Slide1.DOC 1"}},
      {"extension only in the folder name", u"/Documents/deck", 101, 1, 1, {"/Documents/deck_Slide1.DOC 1"}},
      {"extension in another case", u"/out/deck.DoC", 101, 1, 1, {"/out/deck_Slide1.DOC 1"}},
      {"extension not at the end", u"/out/deck.doc.bak", 101, 1, 1, {"/out/deck.doc.bak_Slide1.DOC 1"}},
      {"extension without its dot", u"/out/deckdoc", 101, 1, 1, {"/out/deckdoc_Slide1.DOC 1"}},
      {"HTML gives HTM", u"/out/deck.htm", 108, 1, 1, {"/out/deck_Slide1.HTM 8"}},
      {"longer extension kept", u"/out/deck.html", 108, 1, 1, {"/out/deck.html_Slide1.HTM 8"}},
      {"code outside the table: empty extension, bare dot", u"/out/deck.doc", 22, 1, 2,
       {"/out/deck.doc_Slide1. -78", "/out/deck.doc_Slide2. -78"}},
      {"name shorter than four characters", u"a", 101, 1, 1, {"a_Slide1.DOC 1"}},
      {"name that is only the extension", u".doc", 101, 1, 1, {"_Slide1.DOC 1"}},
      {"spaces trimmed first", u"  /out/deck.rtf  ", 106, 1, 1, {"/out/deck_Slide1.RTF 6"}},
      {"numbers of the range", u"/out/deck.doc", 101, 4, 5, {"/out/deck_Slide4.DOC 1", "/out/deck_Slide5.DOC 1"}},
  };
  for (const auto& row : rows) {
    office_ = std::make_shared<ScriptedOffice>();
    SetUp();
    auto x = Control(row.code, kVariantTrue);
    x->internal().OutputFile = row.output;  // unlike the setter, keeps surrounding spaces
    x->put_StartSlide(row.start);
    x->put_EndSlide(row.end);
    EXPECT_EQ(x->ConvertFile(), 0) << row.name;
    EXPECT_EQ(Saves(), row.saves) << row.name;
    // One document per slide, each holding its slide without a page break, closed with save.
    std::vector<Content> expected;
    std::vector<std::string> closes;
    for (std::int32_t i = row.start; i <= row.end; ++i) {
      expected.push_back({"slide " + std::to_string(i)});
      closes.push_back("Document.Close(-1)");
    }
    closes.push_back("Presentation.Close");
    EXPECT_EQ(Documents(), expected) << row.name;
    EXPECT_EQ(Closes(), closes) << row.name;
    for (const auto& d : office_->WordDocuments()) EXPECT_EQ(d->pageWidth, 960.0f) << row.name;
  }
}

TEST_F(ThroughWord, AnyNonZeroMultiFileOutputMeansOneDocumentPerSlide) {
  auto x = Control(101, 1);
  x->put_StartSlide(1);
  x->put_EndSlide(2);
  EXPECT_EQ(x->ConvertFile(), 0);
  EXPECT_EQ(Saves(), (std::vector<std::string>{"/out/deck_Slide1.DOC 1", "/out/deck_Slide2.DOC 1"}));
}

// Word receives the names as given; on this platform a trailing dot is part of the file name.
TEST_F(ThroughWord, PerSlideFilesOnDiskForACodeWithoutExtension) {
  office_->options().writeFiles = true;
  auto x = Control(22, kVariantTrue);
  x->put_OutputFile(text::FromUtf8((dir_ / "deck.doc").string()));
  x->put_StartSlide(1);
  x->put_EndSlide(2);
  EXPECT_EQ(x->ConvertFile(), 0);
  EXPECT_TRUE(fs::exists(dir_ / "deck.doc_Slide1."));
  EXPECT_TRUE(fs::exists(dir_ / "deck.doc_Slide2."));
  EXPECT_FALSE(fs::exists(dir_ / "deck.doc"));
}

// --- Progress ----------------------------------------------------------------------------------

TEST_F(ThroughWord, ProgressSequences) {
  struct Row {
    const char* name;
    Deck deck;
    std::int32_t start, end;
    std::vector<float> progress;
    std::int32_t result;
    std::size_t documents;  // in one-document mode; the per-slide mode makes one per slide done
  };
  const Row rows[] = {
      {"one slide", Deck().TitledSlides(4), 2, 2, {0, 100, 100}, 0, 1},
      {"three slides", Deck().TitledSlides(4), 2, 4, {0, 33.333332f, 66.666664f, 100, 100}, 0, 1},
      {"empty presentation: division by zero", Deck(), 0, 0, {0}, -10, 0},
      {"start one above end: division by zero", Deck().TitledSlides(4), 5, 5, {0}, -10, 0},
      {"start further above end: no slide, empty document", Deck().TitledSlides(4), 9, 9, {0, 100}, 0, 1},
  };
  for (const auto& row : rows) {
    for (const VariantBool multi : {kVariantFalse, kVariantTrue}) {
      const std::string name = std::string(row.name) + (multi ? ", per slide" : ", one document");
      office_ = std::make_shared<ScriptedOffice>();
      office_->AddFile(kInput, row.deck);
      auto x = Control(101, multi);
      x->put_StartSlide(row.start);
      x->put_EndSlide(row.end);
      EXPECT_EQ(x->ConvertFile(), row.result) << name;
      EXPECT_EQ(recorder_->progress, row.progress) << name;
      const std::size_t slides = row.progress.size() > 2 ? row.progress.size() - 2 : 0;
      EXPECT_EQ(office_->WordDocuments().size(), multi ? slides : row.documents) << name;
      if (row.result != 0) {
        EXPECT_EQ(recorder_->errors, (decltype(recorder_->errors){{-10, Message(-10)}})) << name;
        EXPECT_EQ(x->get_ErrorString(), u"Conversion Failed. PowerPoint installed?") << name;
      }
    }
  }
}

// Division by zero ends the run through the failure path: the presentation is closed and both
// applications are handed back.
TEST_F(ThroughWord, EmptyPresentationClosesAndReleasesEverything) {
  office_->AddFile(kInput, Deck());
  auto x = Control(101, kVariantFalse, kVariantFalse);
  EXPECT_EQ(x->ConvertFile(), -10);
  EXPECT_EQ(x->get_StartSlide(), 1);
  EXPECT_EQ(x->get_EndSlide(), 0);
  EXPECT_EQ(Closes(), (std::vector<std::string>{"Presentation.Close", "PowerPoint.Quit", "Word.Quit(false)"}));
  EXPECT_EQ(CountOf("Documents.Add"), 0u);
}

// --- Notes -------------------------------------------------------------------------------------

// Slide 1 has notes "Notes 1"; slide 2's notes body is empty.
TEST_F(ThroughWord, NotesRules) {
  struct Row {
    const char* name;
    VariantBool includeNotes, notesOnly;
    Content content;
  };
  const Content slides = {"slide 1", "break 7", "slide 2"};
  const Content notesOnly = {"paragraph", "text Notes 1"};
  const Row rows[] = {
      {"no notes", 0, 0, slides},
      {"NotesOnly without IncludeNotes has no effect", 0, -1, slides},
      {"slides and notes", -1, 0, {"slide 1", "paragraph", "text Notes 1", "break 7", "slide 2"}},
      {"notes only: no picture, no break", -1, -1, notesOnly},
      {"notes only with NotesOnly 1", -1, 1, notesOnly},
      {"IncludeNotes 1: neither", 1, 0, {}},
      {"IncludeNotes 1 with NotesOnly: neither", 1, -1, {}},
      {"IncludeNotes -2: neither", -2, 0, {}},
  };
  for (const auto& row : rows) {
    for (const VariantBool multi : {kVariantFalse, kVariantTrue}) {
      const std::string name = std::string(row.name) + (multi ? ", per slide" : ", one document");
      office_ = std::make_shared<ScriptedOffice>();
      office_->AddFile(kInput, Deck()
                                   .Slide({testing::Title(u"One")})
                                   .Notes({testing::SlideImage(), NotesBody(u"Notes 1")})
                                   .Slide({testing::Title(u"Two")}));
      auto x = Control(101, multi);
      x->put_IncludeNotes(row.includeNotes);
      x->put_NotesOnly(row.notesOnly);
      EXPECT_EQ(x->ConvertFile(), 0) << name;
      if (multi) {
        // The same content, split by slide and without the break.
        Content all;
        for (const auto& d : Documents()) all.insert(all.end(), d.begin(), d.end());
        Content expected = row.content;
        std::erase(expected, "break 7");
        EXPECT_EQ(all, expected) << name;
        EXPECT_EQ(office_->WordDocuments().size(), 2u) << name;
      } else {
        EXPECT_EQ(Documents(), std::vector<Content>{row.content}) << name;
      }
      const bool picture = row.includeNotes == 0 || (row.includeNotes == -1 && row.notesOnly == 0);
      EXPECT_EQ(CountOf("Slide.Copy"), picture ? 2u : 0u) << name;
    }
  }
}

// The text frame is tested on the j-th placeholder of the notes page and the text read from it,
// whatever other shapes stand in front; the count of placeholders is read once per slide.
TEST_F(ThroughWord, NotesTextComesFromThePlaceholders) {
  struct Row {
    const char* name;
    std::vector<testing::ShapeData> notes;
    std::int32_t result;
    Content content;
  };
  const Row rows[] = {
      {"every non-empty placeholder text in order",
       {testing::SlideImage(), NotesBody(u"first\rsecond"), testing::Placeholder(13, u"7"), NotesBody(u"")},
       0,
       {"paragraph", "text first\rsecond", "paragraph", "text 7"}},
      {"no text anywhere", {testing::SlideImage(), NotesBody(u"")}, 0, {}},
      {"picture in front of the placeholders: the notes text is still taken",
       {testing::Picture(), NotesBody(u"kept")},
       0,
       {"paragraph", "text kept"}},
      {"text box in front of the slide picture: the box is no placeholder, the picture is passed over",
       {testing::TextBox(u"box"), testing::SlideImage(), NotesBody(u"B")},
       0,
       {"paragraph", "text B"}},
  };
  for (const auto& row : rows) {
    office_ = std::make_shared<ScriptedOffice>();
    office_->AddFile(kInput, Deck().Slide({testing::Title(u"T")}).Notes(row.notes));
    auto x = Control(101);
    x->put_IncludeNotes(kVariantTrue);
    x->put_NotesOnly(kVariantTrue);
    EXPECT_EQ(x->ConvertFile(), row.result) << row.name;
    EXPECT_EQ(Documents(), std::vector<Content>{row.content}) << row.name;
    EXPECT_EQ(CountOf("Placeholders.Count"), 1u) << row.name;
  }
}

// --- Values read afresh --------------------------------------------------------------------------

TEST_F(ThroughWord, ProgressHandlerChangesApplyFromTheNextSlide) {
  struct Row {
    const char* name;
    VariantBool multi;
    std::function<void(QuorvaneX&)> change;  // made after slide 1's Progress
    std::vector<Content> documents;
    std::vector<std::string> saves;
  };
  const Row rows[] = {
      {"notes switched on",
       kVariantFalse,
       [](QuorvaneX& x) {
         x.put_IncludeNotes(-1);
         x.put_NotesOnly(-1);
       },
       {{"slide 1", "paragraph", "text Notes 2", "paragraph", "text Notes 3"}},
       {"/out/deck.doc 1"}},
      {"StartSlide raised: no more breaks, same loop bounds", kVariantFalse, [](QuorvaneX& x) { x.put_StartSlide(3); },
       {{"slide 1", "slide 2", "slide 3"}}, {"/out/deck.doc 1"}},
      {"OutputFile changed: one document saved under the new name", kVariantFalse,
       [](QuorvaneX& x) { x.put_OutputFile(u"/out/other.rtf"); },
       {{"slide 1", "break 7", "slide 2", "break 7", "slide 3"}}, {"/out/other.rtf 1"}},
      {"per slide: format number follows the code, the names do not", kVariantTrue,
       [](QuorvaneX& x) {
         x.put_TargetFileType(106);
         x.put_OutputFile(u"/out/other.rtf");
       },
       {{"slide 1"}, {"slide 2"}, {"slide 3"}},
       {"/out/deck_Slide1.DOC 1", "/out/deck_Slide2.DOC 6", "/out/deck_Slide3.DOC 6"}},
  };
  for (const auto& row : rows) {
    office_ = std::make_shared<ScriptedOffice>();
    SetUp();
    auto x = Control(101, row.multi);
    x->put_StartSlide(1);
    x->put_EndSlide(3);
    QuorvaneX& control = *x;
    recorder_->onProgress = [&](std::size_t events) {
      if (events == 2) row.change(control);
    };
    EXPECT_EQ(x->ConvertFile(), 0) << row.name;
    EXPECT_EQ(Documents(), row.documents) << row.name;
    EXPECT_EQ(Saves(), row.saves) << row.name;
  }
}

// --- Failure path ------------------------------------------------------------------------------

// Every row: the failure enters the path once (nothing is retried), is reported with its catalogue
// text, then what is held is closed and both applications are handed back.
TEST_F(ThroughWord, FailurePathRows) {
  struct Row {
    const char* name;
    VariantBool multi, includeNotes;
    std::string member;
    std::int32_t nth, number, result;
    std::vector<std::string> closes;  // before the applications are ended
  };
  const std::vector<std::string> presentation = {"Presentation.Close"};
  const std::vector<std::string> both = {"Document.Close(-1)", "Presentation.Close"};
  const Row rows[] = {
      {"open: automation object not created", 0, 0, "Presentations.Open", 1, failure::kCannotCreateObject, -9, {}},
      {"open: library not loaded", 0, 0, "Presentations.Open", 1, failure::kLibraryNotLoaded, -1, {}},
      {"open: PowerPoint's failure", 0, 0, "Presentations.Open", 1, failure::kEFail, -10, {}},
      {"slide count", 0, 0, "Slides.Count", 1, kInvalidRequest, -10, presentation},
      {"Documents.Add", 0, 0, "Documents.Add", 1, failure::kCannotCreateObject, -9, presentation},
      {"page height", 0, 0, "PageSetup.put_PageHeight", 1, kInvalidRequest, -10, both},
      {"slide copy", 0, 0, "Slide.Copy", 2, kInvalidRequest, -10, both},
      {"page break", 0, 0, "Selection.InsertBreak", 1, testing::kWordCommandFailed, -10, both},
      {"paste", 0, 0, "Selection.Paste", 1, failure::kLibraryNotLoaded, -1, both},
      {"notes placeholders count", 0, -1, "Placeholders.Count", 1, kInvalidRequest, -10, both},
      {"notes text", 0, -1, "TextRange.Text", 1, kInvalidRequest, -10, both},
      {"notes insertion", 0, -1, "Selection.InsertAfter", 1, testing::kWordCommandFailed, -10, both},
      {"save: the unsaved document is closed with save", 0, 0, "Document.SaveAs", 1, testing::kWordCommandFailed,
       -10, both},
      {"document close: closed again", 0, 0, "Document.Close", 1, testing::kWordCommandFailed, -10,
       {"Document.Close(-1)", "Document.Close(-1)", "Presentation.Close"}},
      // The closed document is not closed a second time: Word would fail that, and the failure
      // would leave the conversion instead of the reported -10.
      {"presentation close after the document was closed", 0, 0, "Presentation.Close", 1, kInvalidRequest, -10,
       {"Document.Close(-1)", "Presentation.Close", "Presentation.Close"}},
      {"per slide: second document not created", -1, 0, "Documents.Add", 2, kInvalidRequest, -10,
       {"Document.Close(-1)", "Presentation.Close"}},
      {"per slide: second save", -1, 0, "Document.SaveAs", 2, testing::kWordCommandFailed, -10,
       {"Document.Close(-1)", "Document.Close(-1)", "Presentation.Close"}},
  };
  for (const auto& row : rows) {
    for (const VariantBool optimize : {kVariantTrue, kVariantFalse}) {
      const std::string name = std::string(row.name) + (optimize ? ", applications kept" : ", applications ended");
      office_ = std::make_shared<ScriptedOffice>();
      SetUp();
      auto x = Control(101, row.multi, optimize);
      x->put_StartSlide(1);
      x->put_EndSlide(3);
      x->put_IncludeNotes(row.includeNotes);
      office_->FailOn(row.member, row.nth, row.number);
      EXPECT_EQ(x->ConvertFile(), row.result) << name;
      EXPECT_EQ(recorder_->errors, (decltype(recorder_->errors){{row.result, Message(row.result)}})) << name;
      EXPECT_EQ(text::ToUtf8(x->get_ErrorString()), Message(row.result)) << name;
      std::vector<std::string> closes = row.closes;
      if (!optimize) {
        closes.push_back("PowerPoint.Quit");
        closes.push_back("Word.Quit(false)");
      }
      EXPECT_EQ(Closes(), closes) << name;
      EXPECT_EQ(CountOf(row.member), static_cast<std::size_t>(row.nth) + (row.member.ends_with("Close") ? 1 : 0))
          << name << ": the failed call is not repeated in the body";
    }
  }
}

TEST_F(ThroughWord, ReleaseFailuresInTheFailurePath) {
  struct Row {
    const char* name;
    std::string member;
    std::int32_t result;
    std::vector<std::string> closes;
  };
  const Row rows[] = {
      {"PowerPoint not ended: Word not asked", "PowerPoint.Quit", -13,
       {"Document.Close(-1)", "Presentation.Close", "PowerPoint.Quit"}},
      {"Word not ended", "Word.Quit", -15,
       {"Document.Close(-1)", "Presentation.Close", "PowerPoint.Quit", "Word.Quit(false)", "Word.Quit(false)"}},
  };
  for (const auto& row : rows) {
    office_ = std::make_shared<ScriptedOffice>();
    SetUp();
    auto x = Control(101, kVariantFalse, kVariantFalse);
    office_->FailOn("Slide.Copy", 1, kInvalidRequest);
    office_->FailFrom(row.member, 1, kInvalidRequest);
    EXPECT_EQ(x->ConvertFile(), row.result) << row.name;
    EXPECT_EQ(recorder_->errors, (decltype(recorder_->errors){{-10, Message(-10)}, {row.result, Message(row.result)}}))
        << row.name;
    EXPECT_EQ(Closes(), row.closes) << row.name;
  }
}

TEST_F(ThroughWord, FailureInsideTheFailurePathLeavesTheCall) {
  struct Row {
    const char* name;
    std::string member;
    std::int32_t nth;
  };
  const Row rows[] = {
      {"document close", "Document.Close", 1},
      {"presentation close", "Presentation.Close", 1},
  };
  for (const auto& row : rows) {
    office_ = std::make_shared<ScriptedOffice>();
    SetUp();
    auto x = Control(101, kVariantFalse, kVariantFalse);
    office_->FailOn("Slide.Copy", 1, kInvalidRequest);
    office_->FailOn(row.member, row.nth, testing::kWordCommandFailed, u"closing failed");
    try {
      x->ConvertFile();
      ADD_FAILURE() << row.name << ": no automation failure";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), testing::kWordCommandFailed) << row.name;
      EXPECT_EQ(e.description(), u"closing failed") << row.name;
    }
    // Reported before the cleanup; nothing after the failed close ran.
    EXPECT_EQ(recorder_->errors, (decltype(recorder_->errors){{-10, Message(-10)}})) << row.name;
    EXPECT_EQ(CountOf("PowerPoint.Quit"), 0u) << row.name;
    EXPECT_EQ(CountOf("Word.Quit"), 0u) << row.name;
  }
}

// A format number below the 32-bit range fails as an overflow, before Word is asked to save.
TEST_F(ThroughWord, FormatNumberOverflowIsAGenericFailure) {
  for (const VariantBool multi : {kVariantFalse, kVariantTrue}) {
    office_ = std::make_shared<ScriptedOffice>();
    SetUp();
    auto x = Control(std::numeric_limits<std::int32_t>::min(), multi);
    EXPECT_EQ(x->ConvertFile(), -10) << int{multi};
    EXPECT_EQ(CountOf("Document.SaveAs"), 0u) << int{multi};
    EXPECT_EQ(Closes(), (std::vector<std::string>{"Document.Close(-1)", "Presentation.Close"})) << int{multi};
  }
}

// --- Starting and ending the applications --------------------------------------------------------

TEST_F(ThroughWord, StartAndReleaseResults) {
  struct Row {
    const char* name;
    std::string member;
    std::int32_t result;
    std::vector<std::pair<std::int32_t, std::string>> errors;
    std::u16string errorString;
    std::vector<std::string> closes;
  };
  const Row rows[] = {
      {"PowerPoint cannot be created", "CreatePowerPoint", -12, {{-12, Message(-12)}}, u"", {}},
      {"Word cannot be created: PowerPoint stays", "CreateWord", -14, {{-14, Message(-14)}},
       u"Unable to create Word application. Please install Word.", {}},
      {"PowerPoint not ended: Word not asked", "PowerPoint.Quit", -13, {{-13, Message(-13)}}, u"",
       {"Document.Close(-1)", "Presentation.Close", "PowerPoint.Quit"}},
      {"Word not ended", "Word.Quit", -15, {{-15, Message(-15)}}, u"",
       {"Document.Close(-1)", "Presentation.Close", "PowerPoint.Quit", "Word.Quit(false)", "Word.Quit(false)"}},
  };
  for (const auto& row : rows) {
    office_ = std::make_shared<ScriptedOffice>();
    SetUp();
    auto x = Control(101, kVariantFalse, kVariantFalse);
    office_->FailFrom(row.member, 1, failure::kCannotCreateObject);
    EXPECT_EQ(x->ConvertFile(), row.result) << row.name;
    EXPECT_EQ(recorder_->errors, row.errors) << row.name;
    if (!row.errorString.empty()) {
      EXPECT_EQ(x->get_ErrorString(), row.errorString) << row.name;
    }
    EXPECT_EQ(Closes(), row.closes) << row.name;
    if (row.result == -12 || row.result == -14) {
      EXPECT_EQ(CountOf("Presentations.Open"), 0u) << row.name;
    }
    if (row.result == -12) {
      EXPECT_EQ(CountOf("CreateWord"), 0u) << row.name;
    }
  }
}

}  // namespace
}  // namespace quorvane
