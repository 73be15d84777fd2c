// Slide pictures through the control against the scripted office: file names and filters, the two
// ways of opening, progress, values read afresh, and every row of the failure path with its report,
// cleanup and log line.
#include "support/converter_test.hpp"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::Deck;
using testing::ScriptedOffice;
using Numbers = std::vector<std::int32_t>;
using Strings = std::vector<std::string>;
constexpr std::int32_t kInvalid = failure::kPowerPointInvalidRequest, kEFail = failure::kEFail;

class ImageExport : public testing::ConverterTest {
 protected:
  // Converting `deck` to `code` into prefix /out/deck.
  QuorvaneX* Control(const Deck& deck = Deck().TitledSlides(5), std::int32_t code = 16,
                     VariantBool optimize = kVariantTrue) {
    return Fresh(deck, code, u"/out/deck", optimize);
  }
  Strings Exports() const {
    Strings names;
    for (const auto& e : office_->state().exports) names.push_back(text::ToUtf8(e.fileName) + " " + text::ToUtf8(e.filter));
    return names;
  }
};

// Version 8 opens the file twice and keeps the second (the first stays open); later ones open once.
TEST_F(ImageExport, VersionEightOpensTwiceAndKeepsTheSecond) {
  const Strings twice = {"Presentations.Open(/in/deck.pptx, 0, 0, -1)", "Presentations.Open(/in/deck.pptx, 1, 0, 0)"};
  const Strings once = {"Presentations.Open(/in/deck.pptx, 1, 1, 0)"};
  const std::pair<std::u16string, Strings> rows[] = {{u"8.0", twice}, {u"80", twice}, {u"9.0", once}, {u"16.0", once}};
  for (const auto& [version, opens] : rows) {
    auto x = Control(Deck().TitledSlides(2));
    office_->state().powerPointVersion = version;
    EXPECT_EQ(x->ConvertFile(), 0) << text::ToUtf8(version);
    EXPECT_EQ(office_->Log("Presentations.Open"), opens) << text::ToUtf8(version);
    const auto& opened = office_->state().presentations;
    ASSERT_EQ(opened.size(), opens.size());
    EXPECT_TRUE(opened.back()->closed && (opened.size() == 1 || !opened.front()->closed)) << text::ToUtf8(version);
    EXPECT_EQ(office_->state().exports.size(), 2u);
    EXPECT_EQ(office_->state().exports.front().source, u"/in/deck.pptx");
  }
}

// A failure injected into the office and everything that follows, with PowerPoint kept and ended:
// onerror codes, presentations closed, slides exported (of 3), log lines.
TEST_F(ImageExport, FailurePathRows) {
  struct Row { const char* name; std::function<void(ScriptedOffice&)> inject; std::int32_t result; Numbers errors;
               std::size_t closes; Strings log; std::size_t exports; };
  const std::string s = " - Scripted failure";
  const Row rows[] = {
      {"429 on an export", [](auto& o) { o.FailOn("Slide.Export", 2, 429); }, -9, {-9}, 1, {"429" + s}, 1},
      {"48 on an export", [](auto& o) { o.FailOn("Slide.Export", 1, 48); }, -1, {-1}, 1, {"48" + s}, 0},
      {"filter refused with E_FAIL", [](auto& o) { o.FailFrom("Slide.Export", 1, kEFail); }, -17, {-17}, 1,
       {"-2147467259" + s}, 0},
      {"75", [](auto& o) { o.FailOn("Slide.Export", 3, 75, u"Path/File access error"); }, -10, {-10}, 1,
       {"75 - Path/File access error"}, 2},
      {"462 on the version", [](auto& o) { o.FailOn("PowerPoint.Version", 1, 462); }, -10, {-10}, 0, {"462" + s}, 0},
      {"70 on closing", [](auto& o) { o.FailOn("Presentation.Close", 1, 70); }, -10, {-10}, 2, {"70" + s}, 3},
      {"55 once: reported, repeated", [](auto& o) { o.FailOn("Slide.Export", 2, 55); }, 0, {-3}, 1, {}, 3},
      {"55 always: three reports, then -10", [](auto& o) { o.FailFrom("Slide.Export", 2, 55); }, -10, {-3, -3, -3, -10},
       1, {"55" + s}, 1},
      {"invalid request, no groups: repeat limit", [](auto& o) { o.FailFrom("Slide.Export", 1, kInvalid); }, -10, {-10},
       1, {"-2147188160" + s}, 0},
      {"invalid request once: repeated", [](auto& o) { o.FailOn("Slide.Export", 2, kInvalid); }, 0, {}, 1, {}, 3},
      {"PowerPoint cannot start: no log", [](auto& o) { o.FailFrom("CreatePowerPoint", 1, 429); }, -12, {-12}, 0, {}, 0},
  };
  for (const auto optimize : {kVariantTrue, kVariantFalse}) {
    for (const auto& row : rows) {
      const std::string name = std::string(row.name) + (optimize ? "" : " (PowerPoint ended)");
      auto x = Control(Deck().TitledSlides(5), 16, optimize);
      x->put_EndSlide(3);
      row.inject(*office_);
      EXPECT_EQ(x->ConvertFile(), row.result) << name;
      EXPECT_EQ(events_->errors, row.errors) << name;
      EXPECT_EQ(office_->Log("Presentation.Close").size(), row.closes) << name;
      EXPECT_EQ(office_->Log("PowerPoint.Quit").size(), optimize || row.result == -12 ? 0u : 1u) << name;
      EXPECT_EQ(office_->state().exports.size(), row.exports) << name;
      EXPECT_EQ(Logged(), row.log) << name;
    }
  }
  auto x = Control();  // the log's file number already open: closed, and the failed export performed again
  files::Open(diagnostics::kLogFileNumber, text::FromUtf8((dir_ / "held.txt").string()), files::OpenMode::Output);
  office_->FailOn("Slide.Export", 1, 55);
  x->put_EndSlide(1);
  EXPECT_EQ(x->ConvertFile(), 0);
  EXPECT_FALSE(files::IsOpen(diagnostics::kLogFileNumber));
  EXPECT_EQ(office_->Log("Slide.Export").size(), 2u);
}

// An invalid request ungroups the slide's groups one level and tries again, three times at most.
TEST_F(ImageExport, InvalidRequestUngroupsTheGroupsOfTheSlide) {
  using namespace testing;
  auto x = Control(Deck().Slide({Title(u"one")}).Slide(
      {Title(u"two"), Group({TextBox(u"a"), Group({TextBox(u"b")})}), Picture(), Group({TextBox(u"c")})}));
  office_->FailOn("Slide.Export", 2, kInvalid);
  EXPECT_EQ(x->ConvertFile(), 0);
  EXPECT_TRUE(events_->errors.empty());
  EXPECT_EQ(office_->Log("Shape.Ungroup").size(), 2u);
  Numbers types;
  for (const auto& shape : office_->state().presentations.front()->deck.slides[1]->shapes) types.push_back(shape->type);
  EXPECT_EQ(types, (Numbers{14, 17, 6, 13, 17})) << "both groups became their members; the nested one came up";
  EXPECT_EQ(Exports(), (Strings{"/out/deckSlide1.GIF GIF", "/out/deckSlide2.GIF GIF"}));
  EXPECT_FALSE(fs::exists(dir_ / "Quorvane.log"));
  x = Control(Deck().Slide({Group({Group({Group({TextBox(u"deep")})})})}));
  office_->FailFrom("Slide.Export", 1, kInvalid);
  EXPECT_EQ(x->ConvertFile(), -10);
  EXPECT_EQ(office_->Log("Slide.Export").size() + office_->Log("Shape.Ungroup").size(), 6u) << "three tries";
  EXPECT_EQ(events_->errors, Numbers{-10});
  EXPECT_EQ(Logged(), Strings{"-2147188160 - Scripted failure"});
}

// Failures inside the failure path leave the conversion; failures of the quit are reported; a host
// whose onerror fails after the presentation was closed does not make it close again.
TEST_F(ImageExport, FailuresWhileCleaningUp) {
  struct Row { const char* name; std::vector<std::pair<const char*, std::int32_t>> failures; std::int32_t escaping;
               VariantBool optimize; std::int32_t result; Numbers errors; Strings log; };
  const Row rows[] = {
      {"ungrouping fails", {{"Slide.Export", kInvalid}, {"Shape.Type", 91}}, 91, kVariantTrue, 0, {}, {}},
      {"closing fails, after the report", {{"Slide.Export", 75}, {"Presentation.Close", 462}}, 462, kVariantTrue, 0,
       {-10}, {}},
      {"quit after success", {{"PowerPoint.Quit", 462}}, 0, kVariantFalse, -13, {-13}, {}},
      {"quit on the failure path: the log names the first failure", {{"PowerPoint.Quit", 462}, {"Slide.Export", kEFail}},
       0, kVariantFalse, -17, {-17, -13}, {"-2147467259 - Scripted failure"}},
  };
  for (const auto& row : rows) {
    auto x = Control(Deck().Slide({testing::Group({testing::TextBox(u"a")})}), 16, row.optimize);
    for (const auto& [member, number] : row.failures) office_->FailOn(member, 1, number);
    std::int32_t result = 0;
    EXPECT_EQ(testing::ThrownNumber([&] { result = x->ConvertFile(); }), row.escaping) << row.name;
    EXPECT_EQ(result, row.result) << row.name;
    EXPECT_EQ(events_->errors, row.errors) << row.name;
    EXPECT_EQ(Logged(), row.log) << row.name;
  }
  struct Throwing : QuorvaneXEvents {
    void onerror(std::int32_t& number, std::u16string&) override {
      errors.push_back(number);
      if (number == -13) throw AutomationError(5, u"handler failed");
    }
    Numbers errors;
  };
  auto x = Control(Deck().TitledSlides(1), 16, kVariantFalse);
  office_->FailOn("PowerPoint.Quit", 1, 462);
  auto throwing = std::make_shared<Throwing>();
  x->Advise(throwing);
  EXPECT_EQ(x->ConvertFile(), -10);
  EXPECT_EQ(throwing->errors, (Numbers{-13, -10}));
  EXPECT_EQ(office_->Log("Presentation.Close").size(), 1u);
  EXPECT_EQ(Logged(), Strings{"5 - handler failed"});
}

}  // namespace
}  // namespace quorvane
