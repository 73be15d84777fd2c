// Obtaining, reusing and ending the applications, the version queries, and the slide-range rule.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>

#include "control/control.hpp"
#include "support/scripted_office.hpp"
#include "support/fixtures.hpp"

namespace quorvane {
namespace {

using quorvane::testing::ScopedLocale;

using ::testing::ElementsAre;
using testing::ScriptedOffice;

struct ErrorRecorder : QuorvaneXEvents {
  void onerror(std::int32_t& n, std::u16string& t) override { seen.emplace_back(n, t); }
  std::vector<std::pair<std::int32_t, std::u16string>> seen;
};

struct Fixture {
  Fixture() : office(std::make_shared<ScriptedOffice>()), control(office), errors(std::make_shared<ErrorRecorder>()) {
    control.Advise(errors);
  }
  detail::Control& c() { return control.internal(); }
  std::shared_ptr<ScriptedOffice> office;
  QuorvaneX control;
  std::shared_ptr<ErrorRecorder> errors;
};

TEST(StartPowerPoint, CreationAttemptsBeforeMinus12) {
  struct Row {
    const char* name;
    bool holdOne;          // an application is held before the start
    bool heldNameEmpty;    // ... and its Name probe answers empty
    bool heldNameFails;    // ... or the probe fails (it has gone away)
    int creationFailures;  // the next creations fail with 429
    int expectedCreations;
    bool started;
  };
  const Row rows[] = {
      {"nothing held, creation works", false, false, false, 0, 1, true},
      {"nothing held, first creation fails", false, false, false, 1, 2, true},
      {"nothing held, creation always fails: tried twice", false, false, false, 99, 2, false},
      {"held and answering: reused", true, false, false, 99, 0, true},
      {"held with empty name: tried three times", true, true, false, 99, 3, false},
      {"held with empty name, replaced", true, true, false, 0, 1, true},
      {"held but gone: tried twice", true, false, true, 99, 2, false},
      {"held but gone, replaced", true, false, true, 1, 2, true},
  };
  for (const auto& row : rows) {
    Fixture f;
    if (row.holdOne) {
      f.c().PowerPointApplication = f.office->CreatePowerPoint();
      if (row.heldNameEmpty) f.office->PowerPoints().back()->name.clear();
      if (row.heldNameFails) f.office->PowerPoints().back()->running = false;
    }
    f.office->ClearLog();
    if (row.creationFailures > 0)
      f.office->FailOn("CreatePowerPoint", 1, failure::kCannotCreateObject).Times(row.creationFailures);
    const VariantBool started = f.c().StartPowerPoint();
    EXPECT_EQ(started, row.started ? kVariantTrue : kVariantFalse) << row.name;
    EXPECT_EQ(static_cast<int>(f.office->Log("CreatePowerPoint").size()), row.expectedCreations) << row.name;
    if (row.started) {
      EXPECT_NE(f.c().PowerPointApplication, nullptr) << row.name;
      EXPECT_TRUE(f.errors->seen.empty()) << row.name;
    } else {
      EXPECT_EQ(f.c().PowerPointApplication, nullptr) << row.name;
      ASSERT_EQ(f.errors->seen.size(), 1u) << row.name;
      EXPECT_EQ(f.errors->seen[0].first, -12) << row.name;
      EXPECT_EQ(f.errors->seen[0].second, u"Unable to create PowerPoint application...is it installed?") << row.name;
      EXPECT_EQ(f.control.get_ErrorString(), u"Unable to create PowerPoint application...is it installed?");
    }
  }
}

TEST(StartWord, ConfiguresANewApplicationAndReportsMinus14WithTheLaterText) {
  {
    Fixture f;
    EXPECT_EQ(f.c().StartWord(), kVariantTrue);
    EXPECT_THAT(f.office->Log(), ElementsAre("CreateWord", "Word.put_DisplayAlerts(0)", "Word.put_Visible(false)"));
    EXPECT_EQ(f.c().StartWord(), kVariantTrue);  // reused after a probe
    EXPECT_EQ(f.office->Log("CreateWord").size(), 1u);
    EXPECT_EQ(f.office->Log("Word.Name").size(), 1u);
  }
  struct Row {
    const char* name;
    const char* failing;
    int expectedCreations;
  };
  const Row rows[] = {
      {"creation fails", "CreateWord", 2},
      {"alerts cannot be switched off", "Word.put_DisplayAlerts", 2},
      {"cannot be hidden", "Word.put_Visible", 2},
  };
  for (const auto& row : rows) {
    Fixture f;
    f.office->FailFrom(row.failing, 1, failure::kCannotCreateObject);
    EXPECT_EQ(f.c().StartWord(), kVariantFalse) << row.name;
    EXPECT_EQ(static_cast<int>(f.office->Log("CreateWord").size()), row.expectedCreations) << row.name;
    EXPECT_EQ(f.c().WordApplication, nullptr) << row.name;
    ASSERT_EQ(f.errors->seen.size(), 1u) << row.name;
    EXPECT_EQ(f.errors->seen[0].first, -14) << row.name;
    EXPECT_EQ(f.errors->seen[0].second, u"Unable to Create Word application...is it installed?") << row.name;
    EXPECT_EQ(f.control.get_ErrorString(), u"Unable to create Word application. Please install Word.") << row.name;
  }
}

TEST(QuitApplications, OnlyExactlyTrueKeepsThem) {
  struct Row {
    VariantBool optimize;
    bool kept;
  };
  for (const Row row : {Row{-1, true}, Row{0, false}, Row{1, false}, Row{-2, false}}) {
    Fixture f;
    f.control.put_OptimizeForSpeed(row.optimize);
    ASSERT_EQ(f.c().StartPowerPoint(), kVariantTrue);
    ASSERT_EQ(f.c().StartWord(), kVariantTrue);
    EXPECT_EQ(f.c().QuitPowerPoint(), kVariantTrue) << row.optimize;
    EXPECT_EQ(f.c().QuitWord(), kVariantTrue) << row.optimize;
    EXPECT_EQ(f.c().PowerPointApplication != nullptr, row.kept) << row.optimize;
    EXPECT_EQ(f.c().WordApplication != nullptr, row.kept) << row.optimize;
    EXPECT_EQ(f.office->PowerPoints()[0]->running, row.kept) << row.optimize;
    EXPECT_EQ(f.office->Words()[0]->running, row.kept) << row.optimize;
    EXPECT_EQ(f.office->Log("Word.Quit").size(), row.kept ? 0u : 1u) << row.optimize;
    if (!row.kept) {
      EXPECT_EQ(f.office->Log("Word.Quit")[0], "Word.Quit(false)");
    }
  }
}

TEST(QuitApplications, FailuresReportMinus13AndMinus15AndDropTheReference) {
  Fixture f;
  f.control.put_OptimizeForSpeed(0);
  ASSERT_EQ(f.c().StartPowerPoint(), kVariantTrue);
  ASSERT_EQ(f.c().StartWord(), kVariantTrue);
  f.office->FailOn("PowerPoint.Quit", 1, failure::kPowerPointInvalidRequest);
  f.office->FailOn("Word.Quit", 1, failure::kPowerPointInvalidRequest).Times(2);
  EXPECT_EQ(f.c().QuitPowerPoint(), kVariantFalse);
  EXPECT_EQ(f.c().QuitWord(), kVariantFalse);
  EXPECT_EQ(f.c().PowerPointApplication, nullptr);
  EXPECT_EQ(f.c().WordApplication, nullptr);
  EXPECT_EQ(f.office->Log("Word.Quit").size(), 2u) << "Word is asked once more, and its second failure stays inside";
  ASSERT_EQ(f.errors->seen.size(), 2u);
  EXPECT_EQ(f.errors->seen[0], std::make_pair(-13, std::u16string(u"Unable to destroy PowerPoint application...")));
  EXPECT_EQ(f.errors->seen[1], std::make_pair(-15, std::u16string(u"Unable to destroy Word application.")));
}

TEST(QuitApplications, TerminateEndsKeptApplicationsAndTheControlStaysUsable) {
  Fixture f;
  ASSERT_EQ(f.c().StartPowerPoint(), kVariantTrue);
  ASSERT_EQ(f.c().StartWord(), kVariantTrue);
  f.control.UserControl_Terminate();
  EXPECT_EQ(f.control.get_OptimizeForSpeed(), kVariantFalse);
  EXPECT_EQ(f.c().PowerPointApplication, nullptr);
  EXPECT_EQ(f.c().WordApplication, nullptr);
  EXPECT_FALSE(f.office->PowerPoints()[0]->running);
  EXPECT_FALSE(f.office->Words()[0]->running);
  EXPECT_EQ(f.c().StartPowerPoint(), kVariantTrue);
  EXPECT_EQ(f.office->Log("CreatePowerPoint").size(), 2u);
}

TEST(QuitApplications, DestroyingTheControlEndsKeptApplications) {
  auto office = std::make_shared<ScriptedOffice>();
  {
    QuorvaneX control(office);
    ASSERT_EQ(control.internal().StartPowerPoint(), kVariantTrue);
  }
  ASSERT_EQ(office->PowerPoints().size(), 1u);
  EXPECT_FALSE(office->PowerPoints()[0]->running);
}

TEST(QuitApplications, KeptApplicationIsReusedAndAGoneOneReplaced) {
  Fixture f;
  ASSERT_EQ(f.c().StartPowerPoint(), kVariantTrue);
  ASSERT_EQ(f.c().QuitPowerPoint(), kVariantTrue);
  ASSERT_EQ(f.c().StartPowerPoint(), kVariantTrue);
  EXPECT_EQ(f.office->Log("CreatePowerPoint").size(), 1u);
  f.office->PowerPoints()[0]->running = false;  // ended behind the control's back
  ASSERT_EQ(f.c().StartPowerPoint(), kVariantTrue);
  EXPECT_EQ(f.office->Log("CreatePowerPoint").size(), 2u);
  EXPECT_TRUE(f.errors->seen.empty());
}

TEST(VersionQueries, ThresholdsByVersionText) {
  struct Row {
    const char* locale;
    std::u16string version;
    double number;
    VariantBool atLeast2007, atLeast2010;
  };
  const Row rows[] = {
      {"C", u"12.0", 12, -1, 0},   {"C", u"14.0", 14, -1, -1},   {"C", u"11.0", 11, 0, 0},
      {"C", u"16.0", 16, -1, -1},  {"C", u"8.0", 8, 0, 0},       {"C", u"120", 120, -1, 0},
      {"C", u"140", 140, -1, -1},  {"C", u"", 0, -1, -1},        {"C", u"sixteen", 0, -1, -1},
      {"de_DE.UTF-8", u"12.0", 120, -1, 0}, {"de_DE.UTF-8", u"14.0", 140, -1, -1},
      {"de_DE.UTF-8", u"11.0", 110, 0, 0},  {"de_DE.UTF-8", u"12,5", 12.5, -1, 0},
  };
  for (const auto& row : rows) {
    ScopedLocale locale(row.locale);
    if (!locale.ok()) {
      ADD_FAILURE() << "locale " << row.locale << " missing: scripts/setup.sh generates it";
      continue;
    }
    const std::string name = std::string(row.locale) + " " + std::string(row.version.begin(), row.version.end());
    Fixture f;
    f.office->options().powerPointVersion = row.version;
    std::u16string text = u"unchanged";
    EXPECT_EQ(f.control.PowerPointVersion(text), row.number) << name;
    EXPECT_EQ(text, row.version) << name;
    EXPECT_EQ(f.control.PowerPointVersionAtLeast2007(), row.atLeast2007) << name;
    EXPECT_EQ(f.control.PowerPointVersionAtLeast2010(), row.atLeast2010) << name;
    EXPECT_EQ(f.control.get_lNumberOfFileTypes().integer(), row.atLeast2007 ? 36 : 24) << name;
  }
}

TEST(VersionQueries, ASeparateApplicationIsAskedOnceAndReleasedWithoutQuit) {
  Fixture f;
  std::u16string text;
  EXPECT_EQ(f.control.PowerPointVersion(text), 16.0);
  EXPECT_EQ(f.c().PowerPointApplication, nullptr) << "the conversions' application is not touched";
  f.control.UserControl_Terminate();
  EXPECT_EQ(f.control.PowerPointVersion(text), 16.0);
  f.control.PowerPointVersionAtLeast2007();
  std::u16string description;
  std::int32_t code = 0;
  f.control.GetFileType(1, description, code);
  EXPECT_THAT(f.office->Log(), ElementsAre("CreatePowerPoint", "PowerPoint.Version"));
  EXPECT_TRUE(f.errors->seen.empty());
}

TEST(VersionQueries, WithoutPowerPointTheAnswerIsAskedAgainAndIsTrue) {
  Fixture f;
  f.office->FailFrom("CreatePowerPoint", 1, failure::kCannotCreateObject);
  std::u16string text = u"x";
  EXPECT_EQ(f.control.PowerPointVersion(text), 0.0);
  EXPECT_EQ(text, u"");
  EXPECT_EQ(f.control.PowerPointVersionAtLeast2007(), kVariantTrue);
  EXPECT_EQ(f.control.PowerPointVersionAtLeast2010(), kVariantTrue);
  EXPECT_EQ(f.office->Log("CreatePowerPoint").size(), 3u);
  f.office->ClearFailures();
  f.office->options().powerPointVersion = u"11.0";
  EXPECT_EQ(f.control.PowerPointVersionAtLeast2007(), kVariantFalse);
  std::u16string description;
  std::int32_t code = 0;
  f.control.GetFileType(1, description, code);
  EXPECT_EQ(code, 6);
  EXPECT_EQ(description, u"RTF/DOC - Rich Text Format");
  EXPECT_TRUE(f.errors->seen.empty());
}

TEST(NormalizeSlideRange, RangeRules) {
  struct Row {
    std::int32_t start, end, slides;
    std::int32_t expectedStart, expectedEnd;
  };
  const Row rows[] = {
      {0, 0, 12, 1, 12},  {5, 0, 12, 1, 5},    {8, 3, 12, 3, 8},    {3, 30, 12, 3, 12},
      {20, 25, 12, 20, 12}, {0, 0, 0, 1, 0},   {-4, -2, 12, 1, 12}, {6, 6, 5, 6, 5},
      {8, 8, 5, 8, 5},    {2, 4, 10, 2, 4},    {1, -1, 3, 1, 1},    {INT32_MAX, INT32_MIN, 3, 1, 3},
  };
  for (const auto& row : rows) {
    Fixture f;
    testing::Deck deck;
    deck.TitledSlides(row.slides);
    f.office->AddFile(u"deck.pptx", deck);
    auto app = f.office->CreatePowerPoint();
    auto presentation = app->Presentations()->Open(u"deck.pptx", 0, 0, 0);
    f.control.put_StartSlide(row.start);
    f.control.put_EndSlide(row.end);
    f.c().NormalizeSlideRange(*presentation);
    EXPECT_EQ(f.control.get_StartSlide(), row.expectedStart) << row.start << ".." << row.end << " of " << row.slides;
    EXPECT_EQ(f.control.get_EndSlide(), row.expectedEnd) << row.start << ".." << row.end << " of " << row.slides;
  }
}

}  // namespace
}  // namespace quorvane
