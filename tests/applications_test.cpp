// Obtaining, reusing and ending the applications, the version queries, and the slide-range rule.
#include <gtest/gtest.h>

#include "control/control.hpp"
#include "support/fixtures.hpp"
#include "support/scripted_office.hpp"

namespace quorvane {
namespace {

using testing::ScriptedOffice;
using Report = std::pair<std::int32_t, std::u16string>;

struct Fixture : QuorvaneXEvents {
  Fixture() { control.Advise(std::shared_ptr<QuorvaneXEvents>(std::shared_ptr<void>(), this)); }
  void onerror(std::int32_t& n, std::u16string& t) override { seen.emplace_back(n, t); }
  detail::Control& c() { return control.internal(); }
  std::size_t Count(std::string_view prefix) const { return office->Log(prefix).size(); }
  std::vector<Report> seen;  // first: it outlives the control, which may still report as it goes
  std::shared_ptr<ScriptedOffice> office = std::make_shared<ScriptedOffice>();
  QuorvaneX control{office};
};

TEST(StartPowerPoint, ReusesAHeldOneThatAnswersAndTriesBeforeMinus12) {
  const struct {
    const char* name; bool hold, heldNameEmpty, heldGone; int creationFailures, creations; bool started;
  } rows[] = {
      {"nothing held", false, false, false, 0, 1, true},
      {"first creation fails", false, false, false, 1, 2, true},
      {"creation always fails: tried twice", false, false, false, 99, 2, false},
      {"held and answering: reused", true, false, false, 99, 0, true},
      {"held with empty name: tried three times", true, true, false, 99, 3, false},
      {"held with empty name, replaced", true, true, false, 0, 1, true},
      {"held but gone: tried twice", true, false, true, 99, 2, false},
      {"held but gone, replaced", true, false, true, 1, 2, true},
  };
  for (const auto& row : rows) {
    Fixture f;
    if (row.hold) {
      f.c().PowerPointApplication = f.office->CreatePowerPoint();
      if (row.heldNameEmpty) f.office->state().powerPoints.back()->name.clear();
      if (row.heldGone) f.office->state().powerPoints.back()->running = false;
    }
    const std::size_t before = f.Count("CreatePowerPoint");
    if (row.creationFailures > 0)
      f.office->FailOn("CreatePowerPoint", 1, failure::kCannotCreateObject).Times(row.creationFailures);
    EXPECT_EQ(f.c().StartPowerPoint(), row.started ? kVariantTrue : kVariantFalse) << row.name;
    EXPECT_EQ(f.Count("CreatePowerPoint") - before, std::size_t(row.creations)) << row.name;
    EXPECT_EQ(f.c().PowerPointApplication != nullptr, row.started) << row.name;
    const std::u16string text = u"Unable to create PowerPoint application...is it installed?";
    EXPECT_EQ(f.seen, (row.started ? std::vector<Report>{} : std::vector<Report>{{-12, text}})) << row.name;
  }
}

TEST(StartWord, HidesANewWordAndReportsMinus14WithTheLaterText) {
  Fixture ok;
  EXPECT_EQ(ok.c().StartWord(), kVariantTrue);
  EXPECT_EQ(ok.office->state().words[0]->displayAlerts, 0);
  EXPECT_FALSE(ok.office->state().words[0]->visible);
  EXPECT_EQ(ok.c().StartWord(), kVariantTrue);
  EXPECT_EQ(ok.Count("CreateWord"), 1u) << "reused after a probe";
  for (const char* failing : {"CreateWord", "Word.put_DisplayAlerts", "Word.put_Visible"}) {
    Fixture f;
    f.office->FailFrom(failing, 1, failure::kCannotCreateObject);
    EXPECT_EQ(f.c().StartWord(), kVariantFalse) << failing;
    EXPECT_EQ(f.Count("CreateWord"), 2u) << failing;
    EXPECT_EQ(f.c().WordApplication, nullptr) << failing;
    EXPECT_EQ(f.seen, (std::vector<Report>{{-14, u"Unable to Create Word application...is it installed?"}})) << failing;
    EXPECT_EQ(f.control.get_ErrorString(), u"Unable to create Word application. Please install Word.") << failing;
  }
}

TEST(QuitApplications, OnlyExactlyTrueKeepsThemAndFailuresReportMinus13AndMinus15) {
  for (const VariantBool optimize : {-1, 0, 1, -2}) {
    Fixture f;
    const bool kept = optimize == -1;
    f.control.put_OptimizeForSpeed(optimize);
    ASSERT_EQ(f.c().StartPowerPoint(), kVariantTrue);
    ASSERT_EQ(f.c().StartWord(), kVariantTrue);
    EXPECT_EQ(f.c().QuitPowerPoint(), kVariantTrue) << optimize;
    EXPECT_EQ(f.c().QuitWord(), kVariantTrue) << optimize;
    EXPECT_EQ(f.c().PowerPointApplication != nullptr, kept) << optimize;
    EXPECT_EQ(f.c().WordApplication != nullptr, kept) << optimize;
    EXPECT_EQ(f.office->state().powerPoints[0]->running, kept) << optimize;
    EXPECT_EQ(f.office->Log("Word.Quit"), kept ? std::vector<std::string>{} : std::vector<std::string>{"Word.Quit(false)"});
  }
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
  EXPECT_EQ(f.Count("Word.Quit"), 2u) << "Word is asked once more, and its second failure stays inside";
  EXPECT_EQ(f.seen, (std::vector<Report>{{-13, u"Unable to destroy PowerPoint application..."},
                                         {-15, u"Unable to destroy Word application."}}));
}

TEST(QuitApplications, TerminateOrDestructionEndsKeptOnes) {
  Fixture f;
  ASSERT_EQ(f.c().StartPowerPoint(), kVariantTrue);
  ASSERT_EQ(f.c().StartWord(), kVariantTrue);
  f.control.UserControl_Terminate();
  EXPECT_TRUE(f.c().PowerPointApplication == nullptr && f.c().WordApplication == nullptr);
  EXPECT_FALSE(f.office->state().powerPoints[0]->running || f.office->state().words[0]->running);
  EXPECT_EQ(f.control.get_OptimizeForSpeed(), kVariantFalse);
  EXPECT_TRUE(f.seen.empty());
  auto office = std::make_shared<ScriptedOffice>();
  {
    QuorvaneX control(office);
    ASSERT_EQ(control.internal().StartPowerPoint(), kVariantTrue);
  }
  EXPECT_FALSE(office->state().powerPoints[0]->running);
}

TEST(VersionQueries, ThresholdsByVersionTextInTheLocale) {
  const struct {
    const char* locale; std::u16string version; double number; VariantBool atLeast2007, atLeast2010;
  } rows[] = {
      {"C", u"12.0", 12, -1, 0}, {"C", u"14.0", 14, -1, -1}, {"C", u"11.0", 11, 0, 0}, {"C", u"sixteen", 0, -1, -1},
      {"de_DE.UTF-8", u"12.0", 120, -1, 0}, {"de_DE.UTF-8", u"12,5", 12.5, -1, 0},
  };
  for (const auto& row : rows) {
    testing::ScopedLocale locale(row.locale);
    if (!locale.ok()) {
      ADD_FAILURE() << "locale " << row.locale << " missing: scripts/setup.sh generates it";
      continue;
    }
    const std::string name = std::string(row.locale) + " " + std::string(row.version.begin(), row.version.end());
    Fixture f;
    f.office->state().powerPointVersion = row.version;
    std::u16string text = u"unchanged";
    EXPECT_EQ(f.control.PowerPointVersion(text), row.number) << name;
    EXPECT_EQ(text, row.version) << name;
    EXPECT_EQ(f.control.PowerPointVersionAtLeast2007(), row.atLeast2007) << name;
    EXPECT_EQ(f.control.PowerPointVersionAtLeast2010(), row.atLeast2010) << name;
    EXPECT_EQ(f.control.get_lNumberOfFileTypes().integer(), row.atLeast2007 ? 36 : 24) << name;
  }
}

TEST(NormalizeSlideRange, RangeRules) {
  const struct {
    std::int32_t start, end, slides, expectedStart, expectedEnd;
  } rows[] = {{0, 0, 12, 1, 12},   {5, 0, 12, 1, 5},   {8, 3, 12, 3, 8}, {3, 30, 12, 3, 12},  {20, 25, 12, 20, 12},
              {0, 0, 0, 1, 0},     {-4, -2, 12, 1, 12}, {8, 8, 5, 8, 5},  {1, -1, 3, 1, 1},    {INT32_MAX, INT32_MIN, 3, 1, 3}};
  for (const auto& row : rows) {
    Fixture f;
    f.office->AddFile(u"deck.pptx", testing::Deck().TitledSlides(row.slides));
    auto presentation = f.office->CreatePowerPoint()->Presentations()->Open(u"deck.pptx", 0, 0, 0);
    f.control.put_StartSlide(row.start);
    f.control.put_EndSlide(row.end);
    converters::NormalizeSlideRange(f.c(), *presentation);
    EXPECT_EQ(f.control.get_StartSlide(), row.expectedStart) << row.start << ".." << row.end << " of " << row.slides;
    EXPECT_EQ(f.control.get_EndSlide(), row.expectedEnd) << row.start << ".." << row.end << " of " << row.slides;
  }
}

}  // namespace
}  // namespace quorvane
