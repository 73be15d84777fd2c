// The save-as conversion against the scripted office, with real input files in a scratch folder:
// modes and progress, labels, per-slide names, the path checks (also names that differ as text but
// denote one file), and every point of failure with what it closes and reports.
#include <functional>

#include "support/converter_test.hpp"

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

// The scratch folder is the current directory while the test runs. The input is a real file,
// registered with the office under the same name.
class SaveAsTest : public ConverterTest {
 protected:
  SaveAsTest() {
    fs::current_path(dir_.path());
    Fresh();
  }
  ~SaveAsTest() override { fs::current_path(previous_); }
  void Fresh(VariantBool optimizeForSpeed = kVariantTrue) {
    ConverterTest::Fresh(Deck(), kPdf, U(Path("out.pdf")), optimizeForSpeed, u"");
  }
  Control& c() { return control_->internal(); }
  std::vector<Report> Reports() const {
    std::vector<Report> reports;
    for (std::size_t i = 0; i < events_->errors.size(); ++i) reports.emplace_back(events_->errors[i], U(events_->texts[i]));
    return reports;
  }
  std::string Describe() const { return ::testing::PrintToString(Reports()); }
  std::string Path(const std::string& relative) const { return (dir_ / relative).string(); }
  void Input(const Deck& deck, const std::string& relative = "deck.pptx") {
    WriteFile(dir_ / relative, "input");
    office_->AddFile(U(Path(relative)), deck);
    c().InputFile = U(Path(relative));
  }
  // The Close calls in order: "input" for the opened presentation, "new" for an added one.
  std::vector<std::string> Closes() const {
    std::vector<std::string> closes;
    for (const auto& call : office_->state().log)
      if (call.member == "Presentation.Close") closes.push_back(call.site.file.empty() ? "new" : "input");
    return closes;
  }
  // Saved file names, relative to the folder.
  std::vector<std::string> Saved() const {
    std::vector<std::string> names;
    for (const auto& save : office_->state().saves) names.push_back(text::ToUtf8(save.fileName).substr(Path("").size()));
    return names;
  }

  fs::path previous_ = fs::current_path();
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
    c().TargetFileType = row.target;
    c().StartSlide = row.start;
    c().EndSlide = row.end;
    c().MultiFileOutput = row.multi;
    c().ShowSlideAndShapeNumber = row.labels;
    EXPECT_EQ(c().ConvertFile(), 0) << row.name << ": " << Describe();
    EXPECT_TRUE(Reports().empty()) << row.name << ": " << Describe();
    ASSERT_EQ(events_->progress.size(), row.progress.size()) << row.name;
    for (std::size_t i = 0; i < row.progress.size(); ++i) EXPECT_NEAR(events_->progress[i], row.progress[i], 1e-3) << row.name;
    EXPECT_EQ(Saved(), row.saved) << row.name;
    const auto& saves = office_->state().saves;
    for (std::size_t i = 0; i < saves.size() && i < row.savedSlideCounts.size(); ++i) {
      EXPECT_EQ(static_cast<int>(saves[i].slides.size()), row.savedSlideCounts[i]) << row.name << " save " << i;
      EXPECT_EQ(saves[i].format, row.target) << row.name;
      EXPECT_EQ(saves[i].source.empty(), !row.savedFromInput) << row.name;
      EXPECT_EQ(std::pair(saves[i].slideWidth, saves[i].slideHeight), std::pair(960.0f, 540.0f)) << row.name;
    }
    EXPECT_EQ(std::pair(c().StartSlide, c().EndSlide), std::pair(row.startAfter, row.endAfter)) << row.name;
    for (const auto& p : office_->state().presentations) EXPECT_TRUE(p->closed) << row.name;
    EXPECT_EQ(ReadFile(dir_ / "deck.pptx"), "input") << row.name;
  }
}

TEST_F(SaveAsTest, LabelsGoIntoTheCopiesByteForByte) {
  Input(Deck()
            .Slide({Title(u"first")})
            .Slide({Title(u"T"), Picture(), Body(u"B\rsecond paragraph"), AutoShape(), Table({{u"cell"}}),
                    Group({TextBox(u"inner")}), TextBox(u"")})
            .Slide({Title(u"third")}));
  c().StartSlide = 2;
  c().EndSlide = 3;
  c().ShowSlideAndShapeNumber = kVariantTrue;
  ASSERT_EQ(c().ConvertFile(), 0) << Describe();
  ASSERT_EQ(office_->state().saves.size(), 1u);
  EXPECT_EQ(office_->state().saves[0].slides,
            (Texts{{u"----- Slide(2) Shape(1) -----\nT", u"", u"----- Slide(2) Shape(3) -----\nB\rsecond paragraph",
                    u"----- Slide(2) Shape(4) -----\n", u"", u"", u"----- Slide(2) Shape(7) -----\n"},
                   {u"----- Slide(3) Shape(1) -----\nthird"}}));
  EXPECT_EQ(office_->state().presentations[0]->deck.slides[1]->Texts()[0], u"T") << "the input keeps its texts";
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
    c().OutputFile = U(Path(row.output));
    c().TargetFileType = row.target;
    c().MultiFileOutput = kVariantTrue;
    EXPECT_EQ(c().ConvertFile(), 0) << row.output << ": " << Describe();
    std::string second = row.first;
    second[second.rfind("Slide1") + 5] = '2';
    EXPECT_EQ(Saved(), (std::vector<std::string>{row.first, second})) << row.output;
  }
}

// A slide's name that is the input (under any name of it) ends the run before that slide is saved.
TEST_F(SaveAsTest, NoSlideFileOverwritesTheInput) {
  const struct {
    const char* name; std::string input; std::int32_t result; std::vector<std::string> saved, closes;
  } rows[] = {
      {"second slide's name", "deckSlide2.pptx", -10, {"deckSlide1.pptx"}, {"new", "input"}},
      {"through a link", "real.pptx", -10, {"deckSlide1.pptx", "deckSlide2.pptx"}, {"new", "new", "input"}},
      {"a name no slide takes", "deckSlide9.pptx", 0, {"deckSlide1.pptx", "deckSlide2.pptx", "deckSlide3.pptx"},
       {"new", "new", "new", "input"}},
  };
  for (const auto& row : rows) {
    Fresh();
    Input(Deck().TitledSlides(3), row.input);
    if (row.input == "real.pptx") fs::create_symlink(dir_ / "real.pptx", dir_ / "deckSlide3.pptx");
    c().OutputFile = U(Path("deck.pptx"));
    c().TargetFileType = kPptx;
    c().MultiFileOutput = kVariantTrue;
    EXPECT_EQ(c().ConvertFile(), row.result) << row.name;
    if (row.result != 0) {
      EXPECT_EQ(Reports(), (std::vector<Report>{{-10, kSame}})) << row.name;
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
  const auto refuse = [](ScriptedOffice& o, Control&) { o.FailFrom("Presentation.SaveAs", 1, kInvalid); };
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
      {"closing the new presentation fails", Selected, failOn("Presentation.Close", 1), -10, kScripted,
       {"new", "new", "input"}},
      {"closing fails in the failure path too", Selected,
       [&](ScriptedOffice& o, Control& c) {
         refuse(o, c);
         o.FailFrom("Presentation.Close", 1, kInvalid, u"close");
       },
       -16, kSaveText, {"new", "input"}},
      {"second save refused", PerSlide, failOn("Presentation.SaveAs", 2), -16, kSaveText, {"new", "new", "input"}},
      {"closing the input fails", PerSlide, failOn("Presentation.Close", 4), -10, kScripted,
       {"new", "new", "new", "input", "input"}},
  };
  for (const auto& row : rows) {
    for (const VariantBool optimize : {kVariantTrue, kVariantFalse}) {
      const std::string name = std::string(row.name) + (optimize == kVariantTrue ? " (kept)" : " (ended)");
      Fresh(optimize);
      Input(Deck().TitledSlides(3));
      c().StartSlide = row.mode == Selected ? 2 : 0;
      c().ShowSlideAndShapeNumber = row.mode == Selected ? kVariantTrue : kVariantFalse;
      c().MultiFileOutput = row.mode == PerSlide ? kVariantTrue : kVariantFalse;
      row.arrange(*office_, c());
      std::int32_t result = 0;
      ASSERT_NO_THROW(result = c().ConvertFile()) << name;
      EXPECT_EQ(result, row.result) << name;
      EXPECT_EQ(Reports(), (std::vector<Report>{{row.result, row.text}})) << name << ": " << Describe();
      EXPECT_EQ(Closes(), row.closes) << name;
      EXPECT_EQ(office_->Log("PowerPoint.Quit").size(), optimize == kVariantTrue ? 0u : 1u) << name;
      EXPECT_EQ(c().PowerPointApplication != nullptr, optimize == kVariantTrue) << name;
      EXPECT_EQ(ReadFile(dir_ / "deck.pptx"), "input") << name;
    }
  }
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
      {"ending fails after another failure",
       [&](ScriptedOffice& o) {
         o.FailOn("Slides.Count", 1, kInvalid);
         quitFails(o);
       },
       -10, {{-10, kScripted}, {-13, quitText}}},
  };
  for (const auto& row : rows) {
    Fresh(kVariantFalse);
    Input(Deck().TitledSlides(2));
    row.arrange(*office_);
    EXPECT_EQ(c().ConvertFile(), row.result) << row.name;
    EXPECT_EQ(Reports(), row.reports) << row.name << ": " << Describe();
    EXPECT_EQ(c().PowerPointApplication, nullptr) << row.name;
  }
}

}  // namespace
}  // namespace quorvane::detail
