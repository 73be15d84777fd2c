// The save-as conversion against the scripted office, with real input files in a temporary folder:
// modes and progress, order of calls, labels, per-slide names, the path checks (also names that
// differ as text but denote one file), and every row of the failure path with what it closes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "control/control.hpp"
#include "support/scripted_office.hpp"

namespace quorvane::detail {
namespace {

namespace fs = std::filesystem;
using testing::Deck;
using testing::ScriptedOffice;

constexpr std::int32_t kPdf = 32;
constexpr std::int32_t kPptx = 24;
constexpr std::int32_t kWebArchive = 20;
constexpr std::int32_t kInvalidRequest = failure::kPowerPointInvalidRequest;

const std::u16string kSaveText = u"Unable to convert to file type specified. PowerPoint version may not support it.";
const std::u16string kConversionFailed = u"Conversion Failed. PowerPoint installed?";
const std::u16string kScripted(testing::kScriptedFailure);

std::u16string U(const std::string& s) { return text::FromUtf8(s); }
std::string A(const std::u16string& s) { return text::ToUtf8(s); }

using Report = std::pair<std::int32_t, std::u16string>;

struct Events : QuorvaneXEvents {
  explicit Events(Control& c) : control(c) {}
  void Progress() override { progress.push_back(control.PercentageComplete); }
  void onerror(std::int32_t& number, std::u16string& text) override { reports.emplace_back(number, text); }
  Control& control;
  std::vector<float> progress;
  std::vector<Report> reports;
};

std::string Describe(const std::vector<Report>& reports) {
  std::ostringstream out;
  for (const auto& [code, message] : reports) out << "(" << code << ", " << A(message) << ") ";
  return out.str();
}

// A temporary folder (the current directory while the test runs), a scripted office and a control
// that uses it. The input is a real file, registered with the office under the same name.
class SaveAsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() / ("quorvane-saveas-" + std::to_string(::getpid()) + "-" + info->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    previous_ = fs::current_path();
    fs::current_path(root_);
    Fresh();
  }
  void TearDown() override {
    control_.reset();
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // A new office and control: what a row of a table starts from.
  void Fresh(VariantBool optimizeForSpeed = kVariantTrue) {
    control_.reset();
    office_ = std::make_shared<ScriptedOffice>();
    control_ = std::make_unique<Control>(office_);
    control_->OptimizeForSpeed = optimizeForSpeed;
    events_ = std::make_shared<Events>(*control_);
    control_->Advise(events_);
  }

  std::string Path(const std::string& relative) const { return (root_ / relative).string(); }
  void RealFile(const std::string& relative, const std::string& content = "input") {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << content;
  }
  std::string Content(const std::string& relative) const {
    std::ifstream in(root_ / relative);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Creates the input file, registers `deck` under its name and points InputFile at it.
  void Input(const Deck& deck, const std::string& relative = "deck.pptx") {
    RealFile(relative);
    office_->AddFile(U(Path(relative)), deck);
    control_->InputFile = U(Path(relative));
  }

  Control& control() { return *control_; }
  ScriptedOffice& office() { return *office_; }
  Events& events() { return *events_; }

  // The Close calls in order: "input" for the opened presentation, "new" for an added one.
  std::vector<std::string> Closes() const {
    std::vector<std::string> closes;
    for (const auto& call : office_->Calls())
      if (call.member == "Presentation.Close") closes.push_back(call.site.file.empty() ? "new" : "input");
    return closes;
  }
  std::vector<std::string> SavedNames() const {
    std::vector<std::string> names;
    for (const auto& save : office_->Saves()) names.push_back(A(save.fileName));
    return names;
  }
  bool PowerPointCreated() const { return !office_->Log("CreatePowerPoint").empty(); }

  fs::path root_;

 private:
  fs::path previous_;
  std::shared_ptr<ScriptedOffice> office_;
  std::unique_ptr<Control> control_;
  std::shared_ptr<Events> events_;
};

// Compares progress values with a little room for single-precision rounding; the last value
// never exceeds 100.
void ExpectProgress(const std::vector<float>& actual, const std::vector<float>& expected, const std::string& name) {
  ASSERT_EQ(actual.size(), expected.size()) << name;
  for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_NEAR(actual[i], expected[i], 1e-3) << name << " #" << i;
  if (!actual.empty()) {
    EXPECT_LE(actual.back(), 100.0f) << name;
  }
}

TEST_F(SaveAsTest, ModesRangesAndProgress) {
  struct Row {
    const char* name;
    int slides;
    std::int32_t target, start, end;
    VariantBool multi, labels;
    std::int32_t result;
    std::vector<float> progress;
    std::vector<std::string> saved;     // relative names, in order
    std::vector<int> savedSlideCounts;  // slides of each saved presentation
    bool savedFromInput;                // the whole-presentation mode saves the opened input
    std::int32_t startAfter, endAfter;  // the range as normalised
  };
  const float third = 100.0f / 3;
  const Row rows[] = {
      {"defaults: whole", 10, kPdf, 0, 0, 0, 0, 0, {0, 50, 100}, {"out.pdf"}, {10}, true, 1, 10},
      {"full range given: whole", 3, kPdf, 1, 3, 0, 0, 0, {0, 50, 100}, {"out.pdf"}, {3}, true, 1, 3},
      {"web archive ignores range and flags", 10, kWebArchive, 2, 3, -1, -1, 0, {0, 50, 100}, {"out.pdf"}, {10}, true,
       2, 3},
      {"full range with labels: selected", 3, kPdf, 0, 0, 0, -1, 0, {0, third, 2 * third, 100}, {"out.pdf"}, {3},
       false, 1, 3},
      {"2 to 4 of 10: selected", 10, kPdf, 2, 4, 0, 0, 0, {0, third, 2 * third, 100}, {"out.pdf"}, {3}, false, 2, 4},
      {"swapped range", 10, kPdf, 4, 2, 0, 0, 0, {0, third, 2 * third, 100}, {"out.pdf"}, {3}, false, 2, 4},
      {"one slide of 10: selected", 10, kPdf, 3, 3, 0, 0, 0, {0, 100}, {"out.pdf"}, {1}, false, 3, 3},
      {"one slide of 1: whole", 1, kPdf, 1, 1, 0, 0, 0, {0, 50, 100}, {"out.pdf"}, {1}, true, 1, 1},
      {"end beyond the deck is clamped", 5, kPdf, 4, 99, 0, 0, 0, {0, 50, 100}, {"out.pdf"}, {2}, false, 4, 5},
      {"one file per slide", 3, kPdf, 0, 0, -1, 0, 0, {0, third, 2 * third, 100},
       {"outSlide1.pdf", "outSlide2.pdf", "outSlide3.pdf"}, {1, 1, 1}, false, 1, 3},
      {"one file per slide, labels ignored", 10, kPdf, 9, 10, -1, -1, 0, {0, 50, 100},
       {"outSlide9.pdf", "outSlide10.pdf"}, {1, 1}, false, 9, 10},
      {"MultiFileOutput 1 counts as true", 2, kPdf, 0, 0, 1, 0, 0, {0, 50, 100}, {"outSlide1.pdf", "outSlide2.pdf"},
       {1, 1}, false, 1, 2},
      {"start two above end: selected saves no slide", 5, kPdf, 8, 8, 0, 0, 0, {0}, {"out.pdf"}, {0}, false, 8, 5},
      {"start two above end: one file per slide writes nothing", 5, kPdf, 8, 8, -1, 0, 0, {0}, {}, {}, false, 8, 5},
      {"start two above end: web archive saves the whole", 5, kWebArchive, 8, 8, -1, 0, 0, {0, 50, 100}, {"out.pdf"},
       {5}, true, 8, 5},
  };
  for (const auto& row : rows) {
    Fresh();
    Input(Deck().TitledSlides(row.slides).Size(960, 540));
    control().OutputFile = U(Path("out.pdf"));
    control().TargetFileType = row.target;
    control().StartSlide = row.start;
    control().EndSlide = row.end;
    control().MultiFileOutput = row.multi;
    control().ShowSlideAndShapeNumber = row.labels;

    EXPECT_EQ(control().ConvertFile(), row.result) << row.name << ": " << Describe(events().reports);
    EXPECT_TRUE(events().reports.empty()) << row.name << ": " << Describe(events().reports);
    ExpectProgress(events().progress, row.progress, row.name);
    std::vector<std::string> expectedNames;
    for (const auto& name : row.saved) expectedNames.push_back(Path(name));
    EXPECT_EQ(SavedNames(), expectedNames) << row.name;
    const auto& saves = office().Saves();
    for (std::size_t i = 0; i < saves.size() && i < row.savedSlideCounts.size(); ++i) {
      EXPECT_EQ(static_cast<int>(saves[i].slides.size()), row.savedSlideCounts[i]) << row.name << " save " << i;
      EXPECT_EQ(saves[i].format, row.target) << row.name;
      EXPECT_EQ(saves[i].embedFonts, 0) << row.name;
      EXPECT_EQ(saves[i].source.empty(), !row.savedFromInput) << row.name;
      EXPECT_EQ(saves[i].slideWidth, 960.0f) << row.name;
      EXPECT_EQ(saves[i].slideHeight, 540.0f) << row.name;
    }
    EXPECT_EQ(control().StartSlide, row.startAfter) << row.name;
    EXPECT_EQ(control().EndSlide, row.endAfter) << row.name;
    // Everything opened or added is closed again; the input file itself is never written.
    for (const auto& p : office().OpenedPresentations()) EXPECT_TRUE(p->closed) << row.name;
    EXPECT_EQ(Content("deck.pptx"), "input") << row.name;
    EXPECT_EQ(office().Log("Presentations.Open"),
              std::vector<std::string>{"Presentations.Open(" + Path("deck.pptx") + ", 0, 0, 0)"})
        << row.name;
  }
}

TEST_F(SaveAsTest, SelectedSlidesCopyInOrderAndCarrySlideNumbersOfTheInput) {
  Input(Deck().TitledSlides(4).Size(960, 540));
  control().OutputFile = U(Path("out.pptx"));
  control().TargetFileType = kPptx;
  control().StartSlide = 2;
  control().EndSlide = 3;
  ASSERT_EQ(control().ConvertFile(), 0) << Describe(events().reports);

  // Only the calls that make the output, in their order.
  std::vector<std::string> calls;
  for (const auto& entry : office().Log()) {
    for (const char* prefix : {"Presentations.", "PageSetup.", "Slide.Copy", "Slides.Paste", "Slides.Item",
                               "Presentation.SaveAs", "Presentation.Close", "PowerPoint.Quit"})
      if (entry.starts_with(prefix)) calls.push_back(entry);
  }
  const std::vector<std::string> expected = {
      "Presentations.Open(" + Path("deck.pptx") + ", 0, 0, 0)",
      "Presentations.Add(0)",
      "PageSetup.SlideHeight",
      "PageSetup.put_SlideHeight(540)",
      "PageSetup.SlideWidth",
      "PageSetup.put_SlideWidth(960)",
      "Slides.Item(2)",
      "Slide.Copy",
      "Slides.Paste(-1)",
      "Slides.Item(3)",
      "Slide.Copy",
      "Slides.Paste(-1)",
      "Presentation.SaveAs(" + Path("out.pptx") + ", 24, 0)",
      "Presentation.Close",
      "Presentation.Close",
  };
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(Closes(), (std::vector<std::string>{"new", "input"}));
  ASSERT_EQ(office().Saves().size(), 1u);
  EXPECT_EQ(office().Saves()[0].slides, (std::vector<std::vector<std::u16string>>{{u"Slide 2"}, {u"Slide 3"}}));
}

TEST_F(SaveAsTest, LabelsByteForByte) {
  using namespace testing;
  Input(Deck()
            .Slide({Title(u"first")})
            .Slide({Title(u"T"), Picture(), Body(u"B\rsecond paragraph"), AutoShape(), Table({{u"cell"}}),
                    Group({TextBox(u"inner")}), TextBox(u"")})
            .Slide({Title(u"third")}));
  control().OutputFile = U(Path("out.pdf"));
  control().TargetFileType = kPdf;
  control().StartSlide = 2;
  control().EndSlide = 3;
  control().ShowSlideAndShapeNumber = kVariantTrue;
  ASSERT_EQ(control().ConvertFile(), 0) << Describe(events().reports);

  ASSERT_EQ(office().Saves().size(), 1u);
  const std::vector<std::vector<std::u16string>> expected = {
      {u"----- Slide(2) Shape(1) -----\nT", u"", u"----- Slide(2) Shape(3) -----\nB\rsecond paragraph",
       u"----- Slide(2) Shape(4) -----\n", u"", u"", u"----- Slide(2) Shape(7) -----\n"},
      {u"----- Slide(3) Shape(1) -----\nthird"},
  };
  EXPECT_EQ(office().Saves()[0].slides, expected);
  EXPECT_EQ(office().Log("TextRange.InsertBefore(----- Slide(2) Shape(1) -----\\n)").size(), 1u);
  EXPECT_EQ(office().Log("TextRange.InsertBefore").size(), 5u);
  // The labels go into the copies: the input presentation keeps its texts.
  EXPECT_EQ(office().OpenedPresentations()[0]->deck.slides[1]->Texts()[0], u"T");
  // Each slide's shape count is read once, on the new presentation's slide 1, then 2.
  EXPECT_EQ(office().Log("Shapes.Count").size(), 2u);
}

TEST_F(SaveAsTest, PerSlideNames) {
  struct Row {
    const char* name;
    std::u16string output;  // relative to the folder, spaces kept
    std::int32_t target;
    std::vector<std::string> files;
  };
  const Row rows[] = {
      {"extension removed", u"deck.pdf", kPdf, {"deckSlide1.pdf", "deckSlide2.pdf"}},
      {"no extension", u"deck", kPdf, {"deckSlide1.pdf", "deckSlide2.pdf"}},
      {"extension in other case", u"deck.PDF", kPdf, {"deckSlide1.pdf", "deckSlide2.pdf"}},
      {"four-letter extension removed whole", u"deck.pptx", kPptx, {"deckSlide1.pptx", "deckSlide2.pptx"}},
      {"three-letter extension", u"deck.ppt", 1, {"deckSlide1.ppt", "deckSlide2.ppt"}},
      {"extension only inside a folder name", u"deck.pdf.files/deck", kPdf,
       {"deck.pdf.files/deckSlide1.pdf", "deck.pdf.files/deckSlide2.pdf"}},
      {"extension in the middle", u"deck.pdf.old", kPdf, {"deck.pdf.oldSlide1.pdf", "deck.pdf.oldSlide2.pdf"}},
      {"another format's extension stays", u"deck.ppt", kPptx, {"deck.pptSlide1.pptx", "deck.pptSlide2.pptx"}},
      {"without the period", u"deckpdf", kPdf, {"deckpdfSlide1.pdf", "deckpdfSlide2.pdf"}},
      {"a short name", u"x", kPdf, {"xSlide1.pdf", "xSlide2.pdf"}},
      {"only the extension", u".pdf", kPdf, {"Slide1.pdf", "Slide2.pdf"}},
      {"spaces around the name", u"deck.pdf  ", kPdf, {"deckSlide1.pdf", "deckSlide2.pdf"}},
  };
  for (const auto& row : rows) {
    Fresh();
    fs::create_directories(root_ / "deck.pdf.files");
    Input(Deck().TitledSlides(2), "input.pptx");
    control().OutputFile = U(Path("")) + row.output;  // set directly: the setter would trim
    control().TargetFileType = row.target;
    control().MultiFileOutput = kVariantTrue;
    EXPECT_EQ(control().ConvertFile(), 0) << row.name << ": " << Describe(events().reports);
    std::vector<std::string> expected;
    for (const auto& file : row.files) expected.push_back(Path(file));
    EXPECT_EQ(SavedNames(), expected) << row.name;
  }
}

TEST_F(SaveAsTest, PathChecksComeBeforePowerPoint) {
  RealFile("deck.pptx");
  RealFile(".hidden.pptx");
  RealFile("Deck2.pptx");
  RealFile("existing.pdf", "old");
  fs::create_directories(root_ / "folder.pptx");
  fs::create_directories(root_ / "sub");
  fs::create_symlink(Path("deck.pptx"), root_ / "link.pptx");
  const std::string r = root_.string();
  struct Row {
    const char* name;
    std::string input, output;
    std::int32_t result;
    std::u16string text;
  };
  const Row rows[] = {
      {"no input", "", r + "/out.pdf", -2, u"Input file name not provided."},
      {"neither name", "", "", -2, u"Input file name not provided."},
      {"no output", r + "/deck.pptx", "", -3, u"Output file name not provided."},
      {"input missing", r + "/missing.pptx", r + "/out.pdf", -5, u"Input file not found. Please check the path"},
      {"input hidden", r + "/.hidden.pptx", r + "/out.pdf", -5, u"Input file not found. Please check the path"},
      {"input a folder", r + "/folder.pptx", r + "/out.pdf", -5, u"Input file not found. Please check the path"},
      {"input pattern matching nothing", r + "/*.odp", r + "/out.pdf", -5,
       u"Input file not found. Please check the path"},
      {"missing input before a bare output", r + "/missing.pptx", "out.pdf", -5,
       u"Input file not found. Please check the path"},
      {"same text", r + "/deck.pptx", r + "/deck.pptx", -6, u"Input and Output Filename are same"},
      {"same text but for case", r + "/deck.pptx", r + "/DECK.PPTX", -6, u"Input and Output Filename are same"},
      {"output through ./", r + "/deck.pptx", r + "/./deck.pptx", -6, u"Input and Output Filename are same"},
      {"output through ..", r + "/deck.pptx", r + "/sub/../deck.pptx", -6, u"Input and Output Filename are same"},
      {"output a link to the input", r + "/deck.pptx", r + "/link.pptx", -6, u"Input and Output Filename are same"},
      {"input a link to the output", r + "/link.pptx", r + "/deck.pptx", -6, u"Input and Output Filename are same"},
      {"relative input", "deck.pptx", r + "/deck.pptx", -6, u"Input and Output Filename are same"},
      {"./ against a bare name", "./deck.pptx", "deck.pptx", -6, u"Input and Output Filename are same"},
      {"bare output", r + "/deck.pptx", "out.pdf", -11, u"Output path not found"},
      {"output folder missing", r + "/deck.pptx", r + "/missing/out.pdf", -11, u"Output path not found"},
      {"output folder a file", r + "/deck.pptx", r + "/deck.pptx/out.pdf", -11, u"Output path not found"},
      {"backslash is no separator", r + "/deck.pptx", "sub\\out.pdf", -11, u"Output path not found"},
      {"input name with NUL", r + "/deck.pptx" + std::string(1, '\0') + "x", r + "/out.pdf", -10,
       u"Bad file name or number"},
  };
  for (const auto& row : rows) {
    for (const VariantBool optimize : {kVariantTrue, kVariantFalse}) {
      Fresh(optimize);
      control().InputFile = U(row.input);
      control().OutputFile = U(row.output);
      control().TargetFileType = kPdf;
      control().PercentageComplete = 42;
      EXPECT_EQ(control().ConvertFile(), row.result) << row.name;
      EXPECT_EQ(events().reports, (std::vector<Report>{{row.result, row.text}})) << row.name << ": "
                                                                                  << Describe(events().reports);
      EXPECT_EQ(control().ErrorString, row.text) << row.name;
      EXPECT_FALSE(PowerPointCreated()) << row.name;
      EXPECT_TRUE(events().progress.empty()) << row.name;
      EXPECT_EQ(control().PercentageComplete, 42.0f) << row.name;
    }
  }
}

TEST_F(SaveAsTest, NamesThatPassThePathChecks) {
  RealFile("Deck.pptx");
  RealFile("existing.pdf", "old");
  fs::create_directories(root_ / "sub");
  const std::string r = root_.string();
  struct Row {
    const char* name;
    std::string input, output, opened;  // opened: the name PowerPoint is asked to open
  };
  const Row rows[] = {
      {"output exists and is another file", r + "/Deck.pptx", r + "/existing.pdf", r + "/Deck.pptx"},
      {"another file but for case", r + "/Deck.pptx", r + "/./deck.pptx", r + "/Deck.pptx"},
      {"output in a sub-folder through ..", r + "/Deck.pptx", r + "/sub/../sub/out.pdf", r + "/Deck.pptx"},
      {"relative output with ./", r + "/Deck.pptx", "./out.pdf", r + "/Deck.pptx"},
      {"input pattern matching a file", r + "/D?ck.*", r + "/out.pdf", r + "/D?ck.*"},
      {"output in a sub-folder", r + "/Deck.pptx", r + "/sub/out.pdf", r + "/Deck.pptx"},
  };
  for (const auto& row : rows) {
    Fresh();
    office().AddFile(U(row.opened), Deck().TitledSlides(2));
    control().InputFile = U(row.input);
    control().OutputFile = U(row.output);
    control().TargetFileType = kPdf;
    EXPECT_EQ(control().ConvertFile(), 0) << row.name << ": " << Describe(events().reports);
    EXPECT_EQ(office().Log("Presentations.Open"),
              std::vector<std::string>{"Presentations.Open(" + row.opened + ", 0, 0, 0)"})
        << row.name;
    EXPECT_EQ(SavedNames(), std::vector<std::string>{row.output}) << row.name;
  }
  EXPECT_EQ(Content("Deck.pptx"), "input");
}

// With the office writing marker files, the outputs exist on disk: a later conversion that names
// an output of an earlier one as its input refuses every name of that same file.
TEST_F(SaveAsTest, WrittenFilesAreSeenByLaterChecks) {
  Input(Deck().TitledSlides(3));
  office().options().writeFiles = true;
  control().OutputFile = U(Path("out.pptx"));
  control().TargetFileType = kPptx;
  ASSERT_EQ(control().ConvertFile(), 0) << Describe(events().reports);
  ASSERT_TRUE(fs::exists(root_ / "out.pptx"));
  EXPECT_EQ(Content("deck.pptx"), "input");

  fs::create_hard_link(root_ / "out.pptx", root_ / "hard.pptx");
  fs::create_symlink(root_ / "out.pptx", root_ / "soft.pptx");
  for (const std::string output : {"./out.pptx", "hard.pptx", "soft.pptx", "sub/../out.pptx"}) {
    fs::create_directories(root_ / "sub");
    Fresh();
    office().options().writeFiles = true;
    office().AddFile(U(Path("out.pptx")), Deck().TitledSlides(3));
    control().InputFile = U(Path("out.pptx"));
    control().OutputFile = U(Path(output));
    control().TargetFileType = kPptx;
    EXPECT_EQ(control().ConvertFile(), -6) << output;
    EXPECT_FALSE(PowerPointCreated()) << output;
  }
}

// A slide's file name that is the input itself ends the run before that slide is saved, whatever
// text names it: the input is never written.
TEST_F(SaveAsTest, NoSlideFileOverwritesTheInput) {
  struct Row {
    const char* name;
    std::string input;   // the input file, relative
    std::string output;  // OutputFile, relative
    std::int32_t result;
    std::vector<std::string> saved;
    std::vector<std::string> closes;
  };
  const Row rows[] = {
      {"second slide's name", "deckSlide2.pptx", "deck.pptx", -10, {"deckSlide1.pptx"}, {"new", "input"}},
      {"first slide's name but for case", "DeckSlide1.pptx", "deck.pptx", -10, {}, {"input"}},
      {"through a link", "real.pptx", "deck.pptx", -10, {"deckSlide1.pptx", "deckSlide2.pptx"},
       {"new", "new", "input"}},
      {"a name no slide takes", "deckSlide9.pptx", "deck.pptx", 0,
       {"deckSlide1.pptx", "deckSlide2.pptx", "deckSlide3.pptx"}, {"new", "new", "new", "input"}},
  };
  for (const auto& row : rows) {
    Fresh();
    Input(Deck().TitledSlides(3), row.input);
    if (row.input == "real.pptx") fs::create_symlink(root_ / "real.pptx", root_ / "deckSlide3.pptx");
    control().OutputFile = U(Path(row.output));
    control().TargetFileType = kPptx;
    control().MultiFileOutput = kVariantTrue;
    EXPECT_EQ(control().ConvertFile(), row.result) << row.name;
    if (row.result != 0) {
      EXPECT_EQ(events().reports, (std::vector<Report>{{-10, u"Input and Output Filename are same"}})) << row.name;
    }
    std::vector<std::string> expected;
    for (const auto& file : row.saved) expected.push_back(Path(file));
    EXPECT_EQ(SavedNames(), expected) << row.name;
    EXPECT_EQ(Closes(), row.closes) << row.name;
    EXPECT_EQ(Content(row.input), "input") << row.name;
  }
}

TEST_F(SaveAsTest, FilesOfEarlierSlidesStayWhenALaterSaveFails) {
  Input(Deck().TitledSlides(3));
  office().options().writeFiles = true;
  office().FailOn("Presentation.SaveAs", 2, kInvalidRequest);
  control().OutputFile = U(Path("deck.pdf"));
  control().TargetFileType = kPdf;
  control().MultiFileOutput = kVariantTrue;
  EXPECT_EQ(control().ConvertFile(), -16);
  EXPECT_TRUE(fs::exists(root_ / "deckSlide1.pdf"));
  EXPECT_FALSE(fs::exists(root_ / "deckSlide2.pdf"));
  EXPECT_FALSE(fs::exists(root_ / "deckSlide3.pdf"));
  EXPECT_EQ(Content("deck.pptx"), "input");
}

// Every way the conversion can fail after the path checks: the result, what the host was told,
// what was closed (and in which order), and that PowerPoint is handed back as OptimizeForSpeed says.
TEST_F(SaveAsTest, FailurePath) {
  enum Mode { Whole, Selected, PerSlide };
  struct Row {
    const char* name;
    Mode mode;
    std::function<void(ScriptedOffice&, Control&)> arrange;
    std::int32_t result;
    std::u16string text;
    std::vector<std::string> closes;
  };
  const auto failOn = [](std::string member, int nth, std::u16string description = std::u16string(kScripted)) {
    return [=](ScriptedOffice& o, Control&) { o.FailOn(member, nth, kInvalidRequest, description); };
  };
  const auto refuse = [](ScriptedOffice& o, Control&) { o.options().unsupportedSaveFormats = {kPdf}; };
  const Row rows[] = {
      // The whole presentation.
      {"open fails", Whole, failOn("Presentations.Open", 1), -10, kScripted, {}},
      {"open fails without a description", Whole, failOn("Presentations.Open", 1, u""), -10, kConversionFailed, {}},
      {"presentations unavailable", Whole, failOn("PowerPoint.Presentations", 1), -10, kScripted, {}},
      {"normalising the range fails", Whole, failOn("Slides.Count", 1), -10, kScripted, {"input"}},
      {"reading the slide count fails", Whole, failOn("Slides.Count", 2), -10, kScripted, {"input"}},
      {"a range of no slides", Whole,
       [](ScriptedOffice&, Control& c) {
         c.StartSlide = 4;
         c.EndSlide = 4;
       },
       -10, u"Division by zero", {"input"}},
      {"a presentation without slides", Whole, [](ScriptedOffice& o, Control& c) { o.AddFile(c.InputFile, Deck()); },
       -10, u"Division by zero", {"input"}},
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
      // Selected slides (2 and 3 of 3, labelled).
      {"adding fails", Selected, failOn("Presentations.Add", 1), -10, kScripted, {"input"}},
      {"reading the height fails", Selected, failOn("PageSetup.SlideHeight", 1), -10, kScripted, {"new", "input"}},
      {"setting the width fails", Selected, failOn("PageSetup.put_SlideWidth", 1), -10, kScripted, {"new", "input"}},
      {"copying the second slide fails", Selected, failOn("Slide.Copy", 2), -10, kScripted, {"new", "input"}},
      {"pasting fails", Selected, failOn("Slides.Paste", 1), -10, kScripted, {"new", "input"}},
      {"shape count fails", Selected, failOn("Shapes.Count", 1), -10, kScripted, {"new", "input"}},
      {"text frame test fails", Selected, failOn("Shape.HasTextFrame", 1), -10, kScripted, {"new", "input"}},
      {"labelling fails", Selected, failOn("TextRange.InsertBefore", 2), -10, kScripted, {"new", "input"}},
      {"save refused", Selected, refuse, -16, kSaveText, {"new", "input"}},
      {"closing the new presentation fails", Selected, failOn("Presentation.Close", 1), -10, kScripted,
       {"new", "new", "input"}},
      {"closing the input fails", Selected, failOn("Presentation.Close", 2), -10, kScripted, {"new", "input", "input"}},
      {"closing fails in the failure path too", Selected,
       [](ScriptedOffice& o, Control&) {
         o.options().unsupportedSaveFormats = {kPdf};
         o.FailFrom("Presentation.Close", 1, kInvalidRequest, u"close");
       },
       -16, kSaveText, {"new", "input"}},
      // One file per slide (all 3).
      {"second save refused", PerSlide, failOn("Presentation.SaveAs", 2), -16, kSaveText, {"new", "new", "input"}},
      {"second add fails", PerSlide, failOn("Presentations.Add", 2), -10, kScripted, {"new", "input"}},
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
      control().OutputFile = U(Path("out.pdf"));
      control().TargetFileType = kPdf;
      if (row.mode == Selected) {
        control().StartSlide = 2;
        control().ShowSlideAndShapeNumber = kVariantTrue;
      }
      if (row.mode == PerSlide) control().MultiFileOutput = kVariantTrue;
      row.arrange(office(), control());

      std::int32_t result = 0;
      ASSERT_NO_THROW(result = control().ConvertFile()) << name;
      EXPECT_EQ(result, row.result) << name;
      EXPECT_EQ(events().reports, (std::vector<Report>{{row.result, row.text}})) << name << ": "
                                                                                 << Describe(events().reports);
      EXPECT_EQ(control().ErrorString, row.text) << name;
      EXPECT_EQ(Closes(), row.closes) << name;
      // PowerPoint is handed back: ended when it is not to be kept.
      EXPECT_EQ(office().Log("PowerPoint.Quit").size(), optimize == kVariantTrue ? 0u : 1u) << name;
      EXPECT_EQ(control().PowerPointApplication != nullptr, optimize == kVariantTrue) << name;
      EXPECT_EQ(Content("deck.pptx"), "input") << name;
    }
  }
}

TEST_F(SaveAsTest, AFailedStepIsNotPerformedAgain) {
  Input(Deck().TitledSlides(3));
  office().FailOn("Slide.Copy", 1, kInvalidRequest);
  control().OutputFile = U(Path("out.pdf"));
  control().TargetFileType = kPdf;
  control().StartSlide = 2;
  EXPECT_EQ(control().ConvertFile(), -10);
  EXPECT_EQ(office().Log("Slide.Copy").size(), 1u);
  EXPECT_TRUE(office().Log("Slides.Paste").empty());
  EXPECT_TRUE(office().Saves().empty());
  // Progress: 0 only; the failure stopped the run before the first slide was done.
  EXPECT_EQ(events().progress, std::vector<float>{0});
}

TEST_F(SaveAsTest, HandingPowerPointBack) {
  struct Row {
    const char* name;
    std::function<void(ScriptedOffice&)> arrange;
    std::int32_t result;
    std::vector<Report> reports;
  };
  const std::u16string quitText = u"Unable to destroy PowerPoint application...";
  const Row rows[] = {
      {"ending fails after a success", [](ScriptedOffice& o) { o.FailOn("PowerPoint.Quit", 1, kInvalidRequest); }, -13,
       {{-13, quitText}}},
      {"ending fails after a refused save",
       [](ScriptedOffice& o) {
         o.options().unsupportedSaveFormats = {kPdf};
         o.FailOn("PowerPoint.Quit", 1, kInvalidRequest);
       },
       -16, {{-16, kSaveText}, {-13, quitText}}},
      {"ending fails after another failure",
       [](ScriptedOffice& o) {
         o.FailOn("Slides.Count", 1, kInvalidRequest);
         o.FailOn("PowerPoint.Quit", 1, kInvalidRequest);
       },
       -10, {{-10, kScripted}, {-13, quitText}}},
      {"PowerPoint cannot be started",
       [](ScriptedOffice& o) { o.FailFrom("CreatePowerPoint", 1, failure::kCannotCreateObject); }, -12,
       {{-12, u"Unable to create PowerPoint application...is it installed?"}}},
  };
  for (const auto& row : rows) {
    Fresh(kVariantFalse);
    Input(Deck().TitledSlides(2));
    control().OutputFile = U(Path("out.pdf"));
    control().TargetFileType = kPdf;
    control().PercentageComplete = 42;
    row.arrange(office());
    EXPECT_EQ(control().ConvertFile(), row.result) << row.name;
    EXPECT_EQ(events().reports, row.reports) << row.name << ": " << Describe(events().reports);
    EXPECT_EQ(control().ErrorString, row.reports.back().second) << row.name;
    EXPECT_EQ(control().PowerPointApplication, nullptr) << row.name;
  }
  // After -12 nothing more is asked of PowerPoint, and the progress is untouched.
  EXPECT_TRUE(office().Log("Presentations.Open").empty());
  EXPECT_TRUE(events().progress.empty());
  EXPECT_EQ(control().PercentageComplete, 42.0f);
}

TEST_F(SaveAsTest, KeptPowerPointServesTheNextConversion) {
  Input(Deck().TitledSlides(2));
  control().OutputFile = U(Path("out.pdf"));
  control().TargetFileType = kPdf;
  ASSERT_EQ(control().ConvertFile(), 0);
  control().OutputFile = U(Path("again.pdf"));
  ASSERT_EQ(control().ConvertFile(), 0);
  EXPECT_EQ(office().PowerPoints().size(), 1u);
  EXPECT_TRUE(office().PowerPoints()[0]->running);
  EXPECT_TRUE(office().Log("PowerPoint.Quit").empty());
}

// A handler that changes the range while slides are copied does not change which slides are.
TEST_F(SaveAsTest, TheRangeIsReadOnce) {
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
  control().Advise(std::make_shared<Narrowing>(control()));
  control().OutputFile = U(Path("out.pdf"));
  control().TargetFileType = kPdf;
  control().StartSlide = 2;
  control().EndSlide = 4;
  ASSERT_EQ(control().ConvertFile(), 0);
  ASSERT_EQ(office().Saves().size(), 1u);
  EXPECT_EQ(office().Saves()[0].slides,
            (std::vector<std::vector<std::u16string>>{{u"Slide 2"}, {u"Slide 3"}, {u"Slide 4"}}));
}

}  // namespace
}  // namespace quorvane::detail
