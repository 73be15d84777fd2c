// The save-as conversion against the scripted office, with real input files in a scratch folder:
// modes and progress, labels, per-slide names, the path checks (also names that differ as text but
// denote one file), and every point of failure with what it closes and reports.
#include <gtest/gtest.h>

#include <functional>

#include "common/text.hpp"
#include "control/control.hpp"
#include "support/fixtures.hpp"
#include "support/scripted_office.hpp"

namespace quorvane::detail {
namespace {

using namespace testing;
using Report = std::pair<std::int32_t, std::u16string>;
using Texts = std::vector<std::vector<std::u16string>>;
constexpr std::int32_t kPdf = 32, kPptx = 24, kWebArchive = 20, kInvalid = failure::kPowerPointInvalidRequest;
const std::u16string kSaveText = u"Unable to convert to file type specified. PowerPoint version may not support it.";
const std::u16string kScripted(kScriptedFailure);
const std::u16string kSame = u"Input and Output Filename are same";

std::u16string U(const std::string& s) { return text::FromUtf8(s); }

struct Events : QuorvaneXEvents {
  explicit Events(Control& c) : control(c) {}
  void Progress() override { progress.push_back(control.PercentageComplete); }
  void onerror(std::int32_t& number, std::u16string& text) override { reports.emplace_back(number, text); }
  std::string Describe() const { return ::testing::PrintToString(reports); }
  Control& control;
  std::vector<float> progress;
  std::vector<Report> reports;
};

// A scratch folder that is the current directory while the test runs, a scripted office and a
// control that uses it. The input is a real file, registered with the office under the same name.
class SaveAsTest : public ::testing::Test {
 protected:
  SaveAsTest() {
    fs::current_path(dir_.path());
    Fresh();
  }
  ~SaveAsTest() override {
    control_.reset();
    fs::current_path(previous_);
  }
  void Fresh(VariantBool optimizeForSpeed = kVariantTrue) {
    control_.reset();
    office_ = std::make_shared<ScriptedOffice>();
    control_ = std::make_unique<Control>(office_);
    control_->OptimizeForSpeed = optimizeForSpeed;
    control_->OutputFile = U(Path("out.pdf"));
    control_->TargetFileType = kPdf;
    events_ = std::make_shared<Events>(*control_);
    control_->Advise(events_);
  }
  std::string Path(const std::string& relative) const { return (dir_ / relative).string(); }
  void Input(const Deck& deck, const std::string& relative = "deck.pptx") {
    WriteFile(dir_ / relative, "input");
    office_->AddFile(U(Path(relative)), deck);
    control_->InputFile = U(Path(relative));
  }
  // The Close calls in order: "input" for the opened presentation, "new" for an added one.
  std::vector<std::string> Closes() const {
    std::vector<std::string> closes;
    for (const auto& call : office_->Calls())
      if (call.member == "Presentation.Close") closes.push_back(call.site.file.empty() ? "new" : "input");
    return closes;
  }
  // Saved file names, relative to the folder.
  std::vector<std::string> Saved() const {
    std::vector<std::string> names;
    for (const auto& save : office_->Saves()) names.push_back(text::ToUtf8(save.fileName).substr(Path("").size()));
    return names;
  }
  bool PowerPointCreated() const { return !office_->Log("CreatePowerPoint").empty(); }

  fs::path previous_ = fs::current_path();
  TempFolder dir_;
  std::shared_ptr<ScriptedOffice> office_;
  std::unique_ptr<Control> control_;
  std::shared_ptr<Events> events_;
};

TEST_F(SaveAsTest, ModesRangesAndProgress) {
  const float third = 100.0f / 3;
  const struct {
    const char* name; int slides; std::int32_t target, start, end; VariantBool multi, labels;
    std::vector<float> progress; std::vector<std::string> saved; std::vector<int> savedSlideCounts;
    bool savedFromInput;                // the whole-presentation mode saves the opened input
    std::int32_t startAfter, endAfter;  // the range as normalised
  } rows[] = {
      {"defaults: whole", 10, kPdf, 0, 0, 0, 0, {0, 50, 100}, {"out.pdf"}, {10}, true, 1, 10},
      {"web archive ignores range and flags", 10, kWebArchive, 2, 3, -1, -1, {0, 50, 100}, {"out.pdf"}, {10}, true, 2, 3},
      {"full range with labels: selected", 3, kPdf, 0, 0, 0, -1, {0, third, 2 * third, 100}, {"out.pdf"}, {3}, false, 1, 3},
      {"2 to 4 of 10: selected", 10, kPdf, 2, 4, 0, 0, {0, third, 2 * third, 100}, {"out.pdf"}, {3}, false, 2, 4},
      {"one slide of 10: selected", 10, kPdf, 3, 3, 0, 0, {0, 100}, {"out.pdf"}, {1}, false, 3, 3},
      {"one slide of 1: whole", 1, kPdf, 1, 1, 0, 0, {0, 50, 100}, {"out.pdf"}, {1}, true, 1, 1},
      {"one file per slide", 3, kPdf, 0, 0, -1, 0, {0, third, 2 * third, 100},
       {"outSlide1.pdf", "outSlide2.pdf", "outSlide3.pdf"}, {1, 1, 1}, false, 1, 3},
      {"one file per slide, labels ignored", 10, kPdf, 9, 10, -1, -1, {0, 50, 100}, {"outSlide9.pdf", "outSlide10.pdf"},
       {1, 1}, false, 9, 10},
      {"MultiFileOutput 1 counts as true", 2, kPdf, 0, 0, 1, 0, {0, 50, 100}, {"outSlide1.pdf", "outSlide2.pdf"}, {1, 1},
       false, 1, 2},
      {"start two above end: selected saves no slide", 5, kPdf, 8, 8, 0, 0, {0}, {"out.pdf"}, {0}, false, 8, 5},
      {"start two above end: one file per slide writes nothing", 5, kPdf, 8, 8, -1, 0, {0}, {}, {}, false, 8, 5},
      {"start two above end: web archive saves the whole", 5, kWebArchive, 8, 8, -1, 0, {0, 50, 100}, {"out.pdf"}, {5},
       true, 8, 5},
  };
  for (const auto& row : rows) {
    Fresh();
    Input(Deck().TitledSlides(row.slides).Size(960, 540));
    control_->TargetFileType = row.target;
    control_->StartSlide = row.start;
    control_->EndSlide = row.end;
    control_->MultiFileOutput = row.multi;
    control_->ShowSlideAndShapeNumber = row.labels;
    EXPECT_EQ(control_->ConvertFile(), 0) << row.name << ": " << events_->Describe();
    EXPECT_TRUE(events_->reports.empty()) << row.name << ": " << events_->Describe();
    ASSERT_EQ(events_->progress.size(), row.progress.size()) << row.name;
    for (std::size_t i = 0; i < row.progress.size(); ++i) EXPECT_NEAR(events_->progress[i], row.progress[i], 1e-3) << row.name;
    if (!row.progress.empty()) {
      EXPECT_LE(events_->progress.back(), 100.0f) << row.name;
    }
    EXPECT_EQ(Saved(), row.saved) << row.name;
    const auto& saves = office_->Saves();
    for (std::size_t i = 0; i < saves.size() && i < row.savedSlideCounts.size(); ++i) {
      EXPECT_EQ(static_cast<int>(saves[i].slides.size()), row.savedSlideCounts[i]) << row.name << " save " << i;
      EXPECT_EQ(saves[i].format, row.target) << row.name;
      EXPECT_EQ(saves[i].embedFonts, 0) << row.name;
      EXPECT_EQ(saves[i].source.empty(), !row.savedFromInput) << row.name;
      EXPECT_EQ(std::pair(saves[i].slideWidth, saves[i].slideHeight), std::pair(960.0f, 540.0f)) << row.name;
    }
    EXPECT_EQ(std::pair(control_->StartSlide, control_->EndSlide), std::pair(row.startAfter, row.endAfter)) << row.name;
    for (const auto& p : office_->OpenedPresentations()) EXPECT_TRUE(p->closed) << row.name;
    EXPECT_EQ(ReadFile(dir_ / "deck.pptx"), "input") << row.name;
    EXPECT_EQ(office_->Log("Presentations.Open"), std::vector<std::string>{"Presentations.Open(" + Path("deck.pptx") + ", 0, 0, 0)"})
        << row.name;
  }
}

// A handler that changes the range while slides are copied does not change which slides are.
TEST_F(SaveAsTest, SelectedSlidesInOrderWithTheRangeReadOnce) {
  struct Narrowing : QuorvaneXEvents {
    explicit Narrowing(Control& c) : control(c) {}
    void Progress() override {
      if (control.PercentageComplete == 0) return;  // the range is read after progress 0
      control.StartSlide = 1;
      control.EndSlide = 1;
    }
    Control& control;
  };
  Input(Deck().TitledSlides(5));
  control_->Advise(std::make_shared<Narrowing>(*control_));
  control_->StartSlide = 2;
  control_->EndSlide = 4;
  ASSERT_EQ(control_->ConvertFile(), 0);
  ASSERT_EQ(office_->Saves().size(), 1u);
  EXPECT_EQ(office_->Saves()[0].slides, (Texts{{u"Slide 2"}, {u"Slide 3"}, {u"Slide 4"}}));
}

TEST_F(SaveAsTest, LabelsGoIntoTheCopiesByteForByte) {
  Input(Deck()
            .Slide({Title(u"first")})
            .Slide({Title(u"T"), Picture(), Body(u"B\rsecond paragraph"), AutoShape(), Table({{u"cell"}}),
                    Group({TextBox(u"inner")}), TextBox(u"")})
            .Slide({Title(u"third")}));
  control_->StartSlide = 2;
  control_->EndSlide = 3;
  control_->ShowSlideAndShapeNumber = kVariantTrue;
  ASSERT_EQ(control_->ConvertFile(), 0) << events_->Describe();
  ASSERT_EQ(office_->Saves().size(), 1u);
  EXPECT_EQ(office_->Saves()[0].slides,
            (Texts{{u"----- Slide(2) Shape(1) -----\nT", u"", u"----- Slide(2) Shape(3) -----\nB\rsecond paragraph",
                    u"----- Slide(2) Shape(4) -----\n", u"", u"", u"----- Slide(2) Shape(7) -----\n"},
                   {u"----- Slide(3) Shape(1) -----\nthird"}}));
  EXPECT_EQ(office_->OpenedPresentations()[0]->deck.slides[1]->Texts()[0], u"T") << "the input keeps its texts";
}

TEST_F(SaveAsTest, PerSlideNames) {
  const struct {
    std::string output;  // set directly: the setter would trim
    std::int32_t target;
    std::string first;  // the first of two
  } rows[] = {
      {"deck", kPdf, "deckSlide1.pdf"},       {"deck.PDF", kPdf, "deckSlide1.pdf"},
      {"deck.ppt", 1, "deckSlide1.ppt"},      {"deck.pdf.files/deck", kPdf, "deck.pdf.files/deckSlide1.pdf"},
      {"deck.ppt", kPptx, "deck.pptSlide1.pptx"}, {".pdf", kPdf, "Slide1.pdf"}, {"deck.pdf  ", kPdf, "deckSlide1.pdf"},
  };
  for (const auto& row : rows) {
    Fresh();
    fs::create_directories(dir_ / "deck.pdf.files");
    Input(Deck().TitledSlides(2), "input.pptx");
    control_->OutputFile = U(Path(row.output));
    control_->TargetFileType = row.target;
    control_->MultiFileOutput = kVariantTrue;
    EXPECT_EQ(control_->ConvertFile(), 0) << row.output << ": " << events_->Describe();
    std::string second = row.first;
    second[second.rfind("Slide1") + 5] = '2';
    EXPECT_EQ(Saved(), (std::vector<std::string>{row.first, second})) << row.output;
  }
}

TEST_F(SaveAsTest, PathChecksComeBeforePowerPoint) {
  WriteFile(dir_ / "deck.pptx", "input");
  fs::create_directories(dir_ / "folder.pptx");
  fs::create_symlink(Path("deck.pptx"), dir_ / "link.pptx");
  const std::string r = dir_.path().string(), deck = r + "/deck.pptx";
  const std::u16string notFound = u"Input file not found. Please check the path", noPath = u"Output path not found";
  const struct {
    const char* name; std::string input, output; std::int32_t result; std::u16string text;
  } rows[] = {
      {"no input", "", r + "/out.pdf", -2, u"Input file name not provided."},
      {"neither name", "", "", -2, u"Input file name not provided."},
      {"no output", deck, "", -3, u"Output file name not provided."},
      {"input missing", r + "/missing.pptx", r + "/out.pdf", -5, notFound},
      {"input a folder", r + "/folder.pptx", r + "/out.pdf", -5, notFound},
      {"missing input before a bare output", r + "/missing.pptx", "out.pdf", -5, notFound},
      {"same text", deck, deck, -6, kSame},
      {"same text but for case", deck, r + "/DECK.PPTX", -6, kSame},
      {"output a link to the input", deck, r + "/link.pptx", -6, kSame},
      {"relative input", "deck.pptx", deck, -6, kSame},
      {"bare output", deck, "out.pdf", -11, noPath},
      {"output folder missing", deck, r + "/missing/out.pdf", -11, noPath},
      {"input name with NUL", deck + std::string(1, '\0') + "x", r + "/out.pdf", -10, u"Bad file name or number"},
  };
  for (const auto& row : rows) {
    for (const VariantBool optimize : {kVariantTrue, kVariantFalse}) {
      Fresh(optimize);
      control_->InputFile = U(row.input);
      control_->OutputFile = U(row.output);
      control_->PercentageComplete = 42;
      EXPECT_EQ(control_->ConvertFile(), row.result) << row.name;
      EXPECT_EQ(events_->reports, (std::vector<Report>{{row.result, row.text}})) << row.name << ": " << events_->Describe();
      EXPECT_EQ(control_->ErrorString, row.text) << row.name;
      EXPECT_FALSE(PowerPointCreated()) << row.name;
      EXPECT_TRUE(events_->progress.empty()) << row.name;
      EXPECT_EQ(control_->PercentageComplete, 42.0f) << row.name;
    }
  }
}

TEST_F(SaveAsTest, NamesThatPassThePathChecks) {
  WriteFile(dir_ / "Deck.pptx", "input");
  WriteFile(dir_ / "existing.pdf", "old");
  fs::create_directories(dir_ / "sub");
  const std::string r = dir_.path().string();
  const struct {
    const char* name; std::string input, output;
  } rows[] = {
      {"output exists and is another file", r + "/Deck.pptx", r + "/existing.pdf"},
      {"output in a sub-folder through ..", r + "/Deck.pptx", r + "/sub/../sub/out.pdf"},
      {"input pattern matching a file", r + "/D?ck.*", r + "/out.pdf"},
  };
  for (const auto& row : rows) {
    Fresh();
    office_->AddFile(U(row.input), Deck().TitledSlides(2));
    control_->InputFile = U(row.input);
    control_->OutputFile = U(row.output);
    EXPECT_EQ(control_->ConvertFile(), 0) << row.name << ": " << events_->Describe();
    EXPECT_EQ(office_->Log("Presentations.Open"), std::vector<std::string>{"Presentations.Open(" + row.input + ", 0, 0, 0)"})
        << row.name;
    ASSERT_EQ(office_->Saves().size(), 1u) << row.name;
    EXPECT_EQ(text::ToUtf8(office_->Saves()[0].fileName), row.output) << row.name;
  }
  EXPECT_EQ(ReadFile(dir_ / "Deck.pptx"), "input");
}

// With the office writing marker files the outputs exist: a later conversion whose input is an
// earlier output refuses every name of that file, and a slide's name that is the input ends the
// run before that slide is saved.
TEST_F(SaveAsTest, NoOutputOverwritesTheInputWhateverNamesIt) {
  Input(Deck().TitledSlides(3));
  office_->options().writeFiles = true;
  control_->OutputFile = U(Path("out.pptx"));
  control_->TargetFileType = kPptx;
  ASSERT_EQ(control_->ConvertFile(), 0) << events_->Describe();
  ASSERT_TRUE(fs::exists(dir_ / "out.pptx"));
  fs::create_hard_link(dir_ / "out.pptx", dir_ / "hard.pptx");
  fs::create_symlink(dir_ / "out.pptx", dir_ / "soft.pptx");
  fs::create_directories(dir_ / "sub");
  for (const std::string output : {"./out.pptx", "hard.pptx", "soft.pptx", "sub/../out.pptx"}) {
    Fresh();
    office_->AddFile(U(Path("out.pptx")), Deck().TitledSlides(3));
    control_->InputFile = U(Path("out.pptx"));
    control_->OutputFile = U(Path(output));
    EXPECT_EQ(control_->ConvertFile(), -6) << output;
    EXPECT_FALSE(PowerPointCreated()) << output;
  }
  const struct {
    const char* name; std::string input; std::int32_t result; std::vector<std::string> saved, closes;
  } rows[] = {
      {"second slide's name", "deckSlide2.pptx", -10, {"deckSlide1.pptx"}, {"new", "input"}},
      {"first slide's name but for case", "DeckSlide1.pptx", -10, {}, {"input"}},
      {"through a link", "real.pptx", -10, {"deckSlide1.pptx", "deckSlide2.pptx"}, {"new", "new", "input"}},
      {"a name no slide takes", "deckSlide9.pptx", 0, {"deckSlide1.pptx", "deckSlide2.pptx", "deckSlide3.pptx"},
       {"new", "new", "new", "input"}},
  };
  for (const auto& row : rows) {
    Fresh();
    Input(Deck().TitledSlides(3), row.input);
    if (row.input == "real.pptx") fs::create_symlink(dir_ / "real.pptx", dir_ / "deckSlide3.pptx");
    control_->OutputFile = U(Path("deck.pptx"));
    control_->TargetFileType = kPptx;
    control_->MultiFileOutput = kVariantTrue;
    EXPECT_EQ(control_->ConvertFile(), row.result) << row.name;
    if (row.result != 0) {
      EXPECT_EQ(events_->reports, (std::vector<Report>{{-10, kSame}})) << row.name;
    }
    EXPECT_EQ(Saved(), row.saved) << row.name;
    EXPECT_EQ(Closes(), row.closes) << row.name;
    EXPECT_EQ(ReadFile(dir_ / row.input), "input") << row.name;
  }
}

// Every point of failure after the path checks: the result, what the host was told, what was
// closed (in order), and that PowerPoint is handed back as OptimizeForSpeed says.
TEST_F(SaveAsTest, FailurePath) {
  enum Mode { Whole, Selected, PerSlide };
  const auto failOn = [](std::string member, int nth, std::u16string description = kScripted) {
    return [=](ScriptedOffice& o, Control&) { o.FailOn(member, nth, kInvalid, description); };
  };
  const auto refuse = [](ScriptedOffice& o, Control&) { o.options().unsupportedSaveFormats = {kPdf}; };
  const auto both = [](auto a, auto b) { return [=](ScriptedOffice& o, Control& c) {
      a(o, c);
      b(o, c);
    }; };
  const std::u16string byZero = u"Division by zero";
  const struct {
    const char* name;
    Mode mode;
    std::function<void(ScriptedOffice&, Control&)> arrange;
    std::int32_t result;
    std::u16string text;
    std::vector<std::string> closes;
  } rows[] = {
      {"open fails", Whole, failOn("Presentations.Open", 1), -10, kScripted, {}},
      {"open fails without a description", Whole, failOn("Presentations.Open", 1, u""), -10,
       u"Conversion Failed. PowerPoint installed?", {}},
      {"normalising the range fails", Whole, failOn("Slides.Count", 1), -10, kScripted, {"input"}},
      {"a range of no slides", Whole, [](ScriptedOffice&, Control& c) { c.StartSlide = c.EndSlide = 4; }, -10, byZero,
       {"input"}},
      {"a presentation without slides", Whole, [](ScriptedOffice& o, Control& c) { o.AddFile(c.InputFile, Deck()); }, -10,
       byZero, {"input"}},
      {"save refused", Whole, refuse, -16, kSaveText, {"input"}},
      {"save fails with a description of its own", Whole,
       [](ScriptedOffice& o, Control&) { o.FailOn("Presentation.SaveAs", 1, failure::kEFail, u"Disk full"); }, -16,
       kSaveText, {"input"}},
      {"closing the input fails", Whole, failOn("Presentation.Close", 1), -10, kScripted, {"input", "input"}},
      {"a progress handler fails", Whole,
       [](ScriptedOffice&, Control& c) {
         struct Failing : QuorvaneXEvents {
           void Progress() override { throw AutomationError(failure::kInvalidCall, u"handler"); }
         };
         c.Advise(std::make_shared<Failing>());
       },
       -10, u"handler", {"input"}},
      {"adding fails", Selected, failOn("Presentations.Add", 1), -10, kScripted, {"input"}},
      {"setting the width fails", Selected, failOn("PageSetup.put_SlideWidth", 1), -10, kScripted, {"new", "input"}},
      {"copying the second slide fails", Selected, failOn("Slide.Copy", 2), -10, kScripted, {"new", "input"}},
      {"labelling fails", Selected, failOn("TextRange.InsertBefore", 2), -10, kScripted, {"new", "input"}},
      {"save refused", Selected, refuse, -16, kSaveText, {"new", "input"}},
      {"closing the new presentation fails", Selected, failOn("Presentation.Close", 1), -10, kScripted,
       {"new", "new", "input"}},
      {"closing the input fails", Selected, failOn("Presentation.Close", 2), -10, kScripted, {"new", "input", "input"}},
      {"closing fails in the failure path too", Selected,
       both(refuse, [](ScriptedOffice& o, Control&) { o.FailFrom("Presentation.Close", 1, kInvalid, u"close"); }), -16,
       kSaveText, {"new", "input"}},
      {"second save refused", PerSlide, failOn("Presentation.SaveAs", 2), -16, kSaveText, {"new", "new", "input"}},
      {"third copy fails", PerSlide, failOn("Slide.Copy", 3), -10, kScripted, {"new", "new", "new", "input"}},
      {"closing the second new presentation fails", PerSlide, failOn("Presentation.Close", 2), -10, kScripted,
       {"new", "new", "new", "input"}},
      {"closing the input fails", PerSlide, failOn("Presentation.Close", 4), -10, kScripted,
       {"new", "new", "new", "input", "input"}},
  };
  for (const auto& row : rows) {
    for (const VariantBool optimize : {kVariantTrue, kVariantFalse}) {
      const std::string name = std::string(row.name) + (optimize == kVariantTrue ? " (kept)" : " (ended)");
      Fresh(optimize);
      Input(Deck().TitledSlides(3));
      control_->StartSlide = row.mode == Selected ? 2 : 0;
      control_->ShowSlideAndShapeNumber = row.mode == Selected ? kVariantTrue : kVariantFalse;
      control_->MultiFileOutput = row.mode == PerSlide ? kVariantTrue : kVariantFalse;
      row.arrange(*office_, *control_);
      std::int32_t result = 0;
      ASSERT_NO_THROW(result = control_->ConvertFile()) << name;
      EXPECT_EQ(result, row.result) << name;
      EXPECT_EQ(events_->reports, (std::vector<Report>{{row.result, row.text}})) << name << ": " << events_->Describe();
      EXPECT_EQ(control_->ErrorString, row.text) << name;
      EXPECT_EQ(Closes(), row.closes) << name;
      EXPECT_EQ(office_->Log("PowerPoint.Quit").size(), optimize == kVariantTrue ? 0u : 1u) << name;
      EXPECT_EQ(control_->PowerPointApplication != nullptr, optimize == kVariantTrue) << name;
      EXPECT_EQ(ReadFile(dir_ / "deck.pptx"), "input") << name;
    }
  }
}

TEST_F(SaveAsTest, AFailedStepIsNotPerformedAgainAndEarlierSlideFilesStay) {
  Input(Deck().TitledSlides(3));
  office_->FailOn("Slide.Copy", 1, kInvalid);
  control_->StartSlide = 2;
  EXPECT_EQ(control_->ConvertFile(), -10);
  EXPECT_EQ(office_->Log("Slide.Copy").size(), 1u);
  EXPECT_TRUE(office_->Log("Slides.Paste").empty());
  EXPECT_TRUE(office_->Saves().empty());
  EXPECT_EQ(events_->progress, std::vector<float>{0});
  Fresh();
  Input(Deck().TitledSlides(3));
  office_->options().writeFiles = true;
  office_->FailOn("Presentation.SaveAs", 2, kInvalid);
  control_->OutputFile = U(Path("deck.pdf"));
  control_->MultiFileOutput = kVariantTrue;
  EXPECT_EQ(control_->ConvertFile(), -16);
  EXPECT_TRUE(fs::exists(dir_ / "deckSlide1.pdf"));
  EXPECT_FALSE(fs::exists(dir_ / "deckSlide2.pdf"));
  EXPECT_FALSE(fs::exists(dir_ / "deckSlide3.pdf"));
}

TEST_F(SaveAsTest, HandingPowerPointBack) {
  const std::u16string quitText = u"Unable to destroy PowerPoint application...";
  const auto quitFails = [](ScriptedOffice& o) { o.FailOn("PowerPoint.Quit", 1, kInvalid); };
  const struct {
    const char* name;
    std::function<void(ScriptedOffice&)> arrange;
    std::int32_t result;
    std::vector<Report> reports;
  } rows[] = {
      {"ending fails after a success", quitFails, -13, {{-13, quitText}}},
      {"ending fails after a refused save",
       [&](ScriptedOffice& o) {
         o.options().unsupportedSaveFormats = {kPdf};
         quitFails(o);
       },
       -16, {{-16, kSaveText}, {-13, quitText}}},
      {"ending fails after another failure",
       [&](ScriptedOffice& o) {
         o.FailOn("Slides.Count", 1, kInvalid);
         quitFails(o);
       },
       -10, {{-10, kScripted}, {-13, quitText}}},
      {"PowerPoint cannot be started", [](ScriptedOffice& o) { o.FailFrom("CreatePowerPoint", 1, failure::kCannotCreateObject); },
       -12, {{-12, u"Unable to create PowerPoint application...is it installed?"}}},
  };
  for (const auto& row : rows) {
    Fresh(kVariantFalse);
    Input(Deck().TitledSlides(2));
    control_->PercentageComplete = 42;
    row.arrange(*office_);
    EXPECT_EQ(control_->ConvertFile(), row.result) << row.name;
    EXPECT_EQ(events_->reports, row.reports) << row.name << ": " << events_->Describe();
    EXPECT_EQ(control_->ErrorString, row.reports.back().second) << row.name;
    EXPECT_EQ(control_->PowerPointApplication, nullptr) << row.name;
  }
  EXPECT_TRUE(office_->Log("Presentations.Open").empty()) << "after -12 nothing more is asked";
  EXPECT_TRUE(events_->progress.empty());
  EXPECT_EQ(control_->PercentageComplete, 42.0f);
  Fresh();
  Input(Deck().TitledSlides(2));
  ASSERT_EQ(control_->ConvertFile(), 0);
  ASSERT_EQ(control_->ConvertFile(), 0);
  EXPECT_EQ(office_->PowerPoints().size(), 1u) << "a kept PowerPoint serves the next conversion";
  EXPECT_TRUE(office_->PowerPoints()[0]->running);
}

}  // namespace
}  // namespace quorvane::detail
