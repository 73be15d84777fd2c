// The text export: file contents byte for byte in both encodings and both layouts, the notes
// rules, progress, every row of the failure path with its report, cleanup and log line, and what
// a failed run leaves: the old output as it was, no file held open.
#include <functional>

#include "support/converter_test.hpp"

namespace quorvane::detail {
namespace {

using namespace quorvane::testing;
using Codes = std::vector<std::int32_t>;
using Lines = std::vector<std::string>;
constexpr std::int32_t kInvalid = failure::kPowerPointInvalidRequest, kEFail = failure::kEFail,
                       kEInvalidArg = failure::kEInvalidArg;

std::string Utf16Le(std::u16string_view s) {
  std::string out;
  for (const char16_t u : s) out += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  return out;
}

// The bytes the writer produces for `pieces`, one WriteToTextFile each (any text under C.UTF-8).
std::string Encoded(std::int32_t target, const std::vector<std::u16string>& pieces) {
  std::string out;
  for (const auto& p : pieces) out += target == 200 ? text::ToUtf8(p) + "\r\n" : Utf16Le(p);
  return out;
}

class TextExport : public ConverterTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(locale_.ok()) << "C.UTF-8 is part of every glibc";
    Reset();
  }
  // A fresh office, control and folder: code 107, InputFile "deck.pptx", OutputFile out.txt.
  void Reset(VariantBool optimizeForSpeed = kVariantTrue) {
    for (const auto& entry : fs::directory_iterator(dir_.path())) fs::remove_all(entry);
    Fresh(Deck(), 107, PathOf("out.txt"), optimizeForSpeed, u"deck.pptx");
  }
  Control& c() { return control_->internal(); }
  std::int32_t Convert(const Deck& deck) {
    office_->AddFile(u"deck.pptx", deck);
    return control_->ConvertFile();
  }
  std::u16string PathOf(const std::string& name) const { return text::FromUtf8((dir_ / name).string()); }
  std::string Output(const std::string& name = "out.txt") const { return ReadFile(dir_ / name); }
  // The log's messages, up to the platform's text of the number.
  Lines LogHeads() const {
    Lines heads = Logged();
    for (auto& head : heads) head = head.substr(0, head.find(": \""));
    return heads;
  }

  ScopedLocale locale_{"C.UTF-8", LC_CTYPE};
};

TEST_F(TextExport, EveryRowOfTheFailurePath) {
  static constexpr const char* kMissingInput = "(input file not registered)";
  static constexpr const char* kMissingFolder = "(output folder missing)";
  const Lines none;
  const struct {
    const char* name;
    const char* member;  // its nth call fails with `number`, `times` times (0: from then on)
    int nth;
    std::int32_t number;
    int times;
    std::int32_t result;
    Codes errors;
    std::size_t opens, closes;
    Lines logged;
  } rows[] = {
      {"429: -9", "Presentations.Open", 1, 429, 1, -9, {-9}, 1, 0, {"429 - Scripted failure"}},
      {"48: -1", "Slide.Shapes", 1, 48, 1, -1, {-1}, 1, 1, {"48 - Scripted failure"}},
      {"75: -18", "Shapes.Count", 1, 75, 1, -18, {-18}, 1, 1, {"75 - Scripted failure"}},
      {"55 once: reported, repeated, success", "Presentations.Open", 1, 55, 1, 0, {-3}, 2, 1, none},
      {"55 every time: -10 after three tries", "Presentations.Open", 1, 55, 0, -10, {-3, -3, -3, -10}, 3, 0,
       {"55 - Scripted failure"}},
      {"55 while the file is open: closed, the next write fails", "Shapes.Count", 2, 55, 1, -10, {-3, -10}, 1, 1,
       {"52 - Bad file name or number"}},
      {"E_INVALIDARG: skipped", "Shapes.Count", 1, kEInvalidArg, 1, 0, {}, 1, 1, none},
      {"E_INVALIDARG at the open: nothing to read then", "Presentations.Open", 1, kEInvalidArg, 1, -10, {-10}, 1, 0,
       {"91 - Object variable or With block variable not set"}},
      {"invalid request: repeated", "Shapes.Count", 1, kInvalid, 1, 0, {}, 1, 1, none},
      {"invalid request every time: -10 after three tries", "Shapes.Count", 1, kInvalid, 0, -10, {-10}, 1, 1,
       {"-2147188160 - Scripted failure"}},
      {"other failure: -10", "Slide.NotesPage", 1, kEFail, 1, -10, {-10}, 1, 1, {"-2147467259 - Scripted failure"}},
      {"missing input: three opens, then -10", kMissingInput, 0, 0, 0, -10, {-10}, 3, 0,
       {"53 - Presentations.Open : PowerPoint could not open the file."}},
      {"missing output folder: -10", kMissingFolder, 0, 0, 0, -10, {-10}, 1, 1, {"76 - Path not found"}},
  };
  for (const auto& row : rows) {
    for (const VariantBool optimize : {kVariantTrue, kVariantFalse}) {
      const std::string name = std::string(row.name) + (optimize ? ", kept running" : ", ended");
      Reset(optimize);
      c().IncludeNotes = kVariantTrue;
      if (row.nth > 0) office_->FailOn(row.member, row.nth, row.number).Times(row.times);
      if (row.member == kMissingInput) c().InputFile = u"missing.pptx";
      if (row.member == kMissingFolder) c().OutputFile = PathOf("missing/out.txt");
      EXPECT_EQ(Convert(Deck().TitledSlides(2)), row.result) << name;
      EXPECT_EQ(events_->errors, row.errors) << name;
      EXPECT_EQ(CountOf("Presentations.Open"), row.opens) << name;
      EXPECT_EQ(CountOf("Presentation.Close"), row.closes) << name;
      EXPECT_EQ(CountOf("PowerPoint.Quit"), optimize ? 0u : 1u) << name;
      EXPECT_EQ(LogHeads(), row.logged) << name;
      EXPECT_EQ(c().TextFileNumber, 0) << name << ": no text file is left open";
    }
  }
}

TEST_F(TextExport, ReportsBeforeCleaningUpAndAQuitFailureIsMinus13) {
  struct AtReport : QuorvaneXEvents {  // what was closed and ended when the failure was reported
    explicit AtReport(ScriptedOffice& o) : office(o) {}
    void onerror(std::int32_t&, std::u16string&) override {
      seen.push_back(std::to_string(office.Log("Presentation.Close").size()) +
                     std::to_string(office.Log("PowerPoint.Quit").size()));
    }
    ScriptedOffice& office;
    Lines seen;
  };
  Reset(kVariantFalse);
  auto atReport = std::make_shared<AtReport>(*office_);
  control_->Advise(atReport);
  office_->FailOn("Shapes.Count", 1, kEFail);
  EXPECT_EQ(Convert(Deck().TitledSlides(1)), -10);
  EXPECT_EQ(atReport->seen, Lines{"00"});
  EXPECT_EQ(CountOf("Presentation.Close"), 1u);
  Reset(kVariantFalse);
  office_->FailOn("PowerPoint.Quit", 1, kServerUnavailable);
  EXPECT_EQ(Convert(Deck().TitledSlides(1)), -13);
  EXPECT_EQ(events_->errors, Codes{-13});
  Reset(kVariantFalse);
  office_->FailOn("PowerPoint.Quit", 1, kServerUnavailable);
  office_->FailOn("Shapes.Count", 1, kEFail);
  EXPECT_EQ(Convert(Deck().TitledSlides(1)), -10);
  EXPECT_EQ(events_->errors, (Codes{-10, -13}));
  EXPECT_TRUE(LogHeads().empty());
  Reset();
  office_->FailOn("Shapes.Count", 1, kEFail);
  office_->FailOn("Presentation.Close", 1, kInvalid);
  try {
    Convert(Deck().TitledSlides(1));
    ADD_FAILURE() << "a failure during cleanup ends the call";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), kInvalid);
  }
  EXPECT_EQ(events_->errors, Codes{-10});
  EXPECT_EQ(c().TextFileNumber, 0) << "the text file is closed first";
}

TEST_F(TextExport, SkippedStepsLeaveTheirPartOut) {
  // Slide 1 has a fresh notes page (an empty body), slide 2 the notes "n".
  const auto deck = Deck().Slide({Title(u"one")}).Slide({Title(u"two")}).Notes({SlideImage(), NotesBody(u"n")});
  const struct {
    const char* name;
    std::function<void(ScriptedOffice&, Control&)> arrange;
    std::vector<std::u16string> pieces;
  } rows[] = {
      {"NotesOnly without IncludeNotes has no effect", [](ScriptedOffice&, Control& c) {
         c.IncludeNotes = 0;
         c.NotesOnly = -1;
       }, {u"one\r\n", u"two\r\n"}},
      {"IncludeNotes 1 with headers: nothing at all", [](ScriptedOffice&, Control& c) {
         c.IncludeNotes = 1;
         c.ShowSlideAndShapeNumber = -1;
       }, {}},
      {"slide 1's shape count", [](ScriptedOffice& o, Control&) { o.FailOn("Slide.Shapes", 1, kEInvalidArg); },
       {u"", u"two\r\n", u"n"}},
      {"slide 1's notes-page count", [](ScriptedOffice& o, Control&) { o.FailOn("NotesPage.Shapes", 1, kEInvalidArg); },
       {u"one\r\n", u"two\r\n", u"n"}},
      {"the text frame test of slide 2's notes body",
       [](ScriptedOffice& o, Control&) { o.FailOn("Shape.HasTextFrame", 1, kEInvalidArg).OnNotes().OnSlide(2).OnShape(2); },
       {u"one\r\n", u"", u"two\r\n"}},
      {"slide 2's placeholder count",
       [](ScriptedOffice& o, Control&) { o.FailOn("Placeholders.Count", 1, kEInvalidArg).OnSlide(2); },
       {u"one\r\n", u"", u"two\r\n"}},
  };
  for (const auto& row : rows) {
    Reset();
    c().IncludeNotes = kVariantTrue;
    row.arrange(*office_, c());
    EXPECT_EQ(Convert(deck), 0) << row.name;
    EXPECT_TRUE(events_->errors.empty()) << row.name;
    EXPECT_EQ(Output(), Encoded(107, row.pieces)) << row.name;
  }
  Reset();  // notes placeholder reads fail quietly
  c().IncludeNotes = c().NotesOnly = kVariantTrue;
  office_->FailOn("Placeholders.Item", 2, kEFail);
  office_->FailOn("TextRange.Text", 1, 429).OnNotes();
  EXPECT_EQ(Convert(Deck().Slide().Notes({SlideImage(), NotesBody(u"a"), NotesBody(u"b"), NotesBody(u"c")})), 0);
  EXPECT_EQ(Output(), Encoded(107, {u"c"}));
  EXPECT_TRUE(events_->errors.empty());
}

TEST_F(TextExport, InvalidRequestUngroupsTheCurrentShapeOfTheSlide) {
  // Per-slide layout: the text test of shape 2 (a group) is refused; it is ungrouped and the test
  // repeated, now on the group's first item.
  c().MultiFileOutput = kVariantTrue;
  office_->FailOn("Shape.HasTextFrame", 1, kInvalid).OnShape(2);
  EXPECT_EQ(Convert(Deck().Slide({Title(u"T"), Group({TextBox(u"A"), TextBox(u"B")})})), 0);
  EXPECT_EQ(Output("out.txtSlide1.txt"), Encoded(107, {u"T", u"A"}));
  EXPECT_EQ(office_->state().presentations.at(0)->deck.slides.at(0)->shapes.size(), 3u);
  // Notes step: the notes-shape counter picks the slide's shape.
  Reset();
  c().IncludeNotes = kVariantTrue;
  c().NotesOnly = kVariantTrue;
  office_->FailOn("Shape.HasTextFrame", 2, kInvalid).OnNotes();
  EXPECT_EQ(Convert(Deck().Slide({Title(u"T"), Group({TextBox(u"A")})}).Notes({SlideImage(), NotesBody(u"n")})), 0);
  EXPECT_EQ(Output(), Encoded(107, {u"n"}));
  std::vector<std::int32_t> ungrouped;
  for (const auto& call : office_->state().log)
    if (call.member == "Shape.Ungroup" && !call.site.notes && call.site.slide == 1) ungrouped.push_back(call.site.shape);
  EXPECT_EQ(ungrouped, std::vector<std::int32_t>{2});
  // An ungrouping that fails (a title is no group) is ignored and the step repeated.
  Reset();
  office_->FailOn("Slide.Shapes", 1, kInvalid);
  EXPECT_EQ(Convert(Deck().Slide({Title(u"T")})), 0);
  EXPECT_EQ(Output(), Encoded(107, {u"T\r\n"}));
}

}  // namespace
}  // namespace quorvane::detail
