// Reading the version text as the regional settings write numbers.
#include <gtest/gtest.h>

#include <clocale>
#include <optional>

#include "office/regional_number.hpp"
#include "support/fixtures.hpp"

namespace quorvane::office {
namespace {

using quorvane::testing::ScopedLocale;

TEST(RegionalNumber, ParsesWithTheGivenSeparators) {
  const NumberFormat english{u".", u","};
  const NumberFormat german{u",", u"."};
  const NumberFormat plain{u".", u""};
  struct Row {
    const char* name;
    std::u16string text;
    NumberFormat format;
    std::optional<double> expected;
  };
  const Row rows[] = {
      {"english 12.0", u"12.0", english, 12.0},
      {"english 16.0", u"16.0", english, 16.0},
      {"english grouping ignored", u"1,2.5", english, 12.5},
      {"german period groups: 12.0 is 120", u"12.0", german, 120.0},
      {"german 14.0 is 140", u"14.0", german, 140.0},
      {"german comma decimal", u"12,5", german, 12.5},
      {"plain", u"8.0", plain, 8.0},
      {"spaces around", u"  9.0 ", plain, 9.0},
      {"sign", u"-1.5", plain, -1.5},
      {"integer", u"15", plain, 15.0},
      {"empty", u"", plain, std::nullopt},
      {"letters", u"16.0a", plain, std::nullopt},
      {"two decimals", u"1.2.3", plain, std::nullopt},
      {"sign only", u"-", plain, std::nullopt},
      {"separator only", u".", plain, std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(ParseRegionalNumber(row.text, row.format), row.expected) << row.name;
}

TEST(RegionalNumber, ProcessLocaleGivesTheSeparators) {
  {
    ScopedLocale german("de_DE.UTF-8");
    if (!german.ok()) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/setup.sh generates it)";
    const auto f = CurrentNumberFormat();
    EXPECT_EQ(f.decimal, u",");
    EXPECT_EQ(f.grouping, u".");
    EXPECT_EQ(ParseRegionalNumber(u"12.0", f), 120.0);
  }
  ScopedLocale c("C");
  const auto f = CurrentNumberFormat();
  EXPECT_EQ(f.decimal, u".");
  EXPECT_EQ(f.grouping, u"");
  EXPECT_EQ(ParseRegionalNumber(u"12.0", f), 12.0);
}

}  // namespace
}  // namespace quorvane::office
