// The process's office limits: what the environment gives when nothing is set, and the C interface's
// view of them.
#include "common/office_limits.hpp"

#include <gtest/gtest.h>

#include "quorvane/office_limits.hpp"
#include "quorvane/quorvane.h"

namespace quorvane {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// The variables give MiB, seconds and milliseconds; what is set wins over them; what they give that
// is not a whole number within bounds leaves the default.
TEST(OfficeLimits, FromTheEnvironment) {
  const OfficeLimits defaults{kDefaultOfficeMemoryBytes, kDefaultOfficeBaseDeadline, kDefaultOfficeSlideAllowance};
  const char* const huge = "99999999999999999999";
  const struct { const char* name; OfficeLimits set; const char *memoryMib, *baseSeconds, *slideMs; OfficeLimits expected; }
      rows[] = {
      {"nothing set", {}, nullptr, nullptr, nullptr, defaults}, {"empty variables", {}, "", "", "", defaults},
      {"variables", {}, "512", "7", "250", {512ull << 20, seconds(7), milliseconds(250)}},
      {"largest values", {}, "1048576", "86400", "3600000", {1ull << 40, seconds(86400), milliseconds(3600000)}},
      {"too large", {}, "1048577", "86401", "3600001", defaults}, {"zero", {}, "0", "0", "0", defaults},
      {"huge", {}, huge, huge, huge, defaults}, {"negative", {}, "-5", "-5", "-5", defaults},
      {"fraction", {}, "1.5", "1.5", "1.5", defaults}, {"blank after", {}, "3 ", "3 ", "3 ", defaults},
      {"words", {}, "ten", "ten", "ten", defaults},
      {"set wins", {1, milliseconds(1500), milliseconds(2)}, "512", "7", "250", {1, milliseconds(1500), milliseconds(2)}},
      {"set in part", {0, milliseconds(1500), milliseconds(0)}, "512", nullptr, nullptr,
       {512ull << 20, milliseconds(1500), kDefaultOfficeSlideAllowance}}};
  for (const auto& row : rows) {
    const OfficeLimits got = office_limits::Resolve(row.set, row.memoryMib, row.baseSeconds, row.slideMs);
    EXPECT_EQ(got.memoryBytes, row.expected.memoryBytes) << row.name;
    EXPECT_EQ(got.baseDeadline.count(), row.expected.baseDeadline.count()) << row.name;
    EXPECT_EQ(got.perSlide.count(), row.expected.perSlide.count()) << row.name;
  }
}

TEST(OfficeLimits, ThroughTheCInterface) {
  const qv_office_limits set{64ull << 20, 2500, 30};
  qv_set_office_limits(&set);
  EXPECT_EQ(GetOfficeLimits().memoryBytes, 64ull << 20);
  EXPECT_EQ(GetOfficeLimits().baseDeadline.count(), 2500);
  EXPECT_EQ(GetOfficeLimits().perSlide.count(), 30);
  SetOfficeLimits({0, seconds(9), milliseconds(0)});
  qv_office_limits got{};
  qv_get_office_limits(&got);
  EXPECT_EQ(got.memory_bytes, GetOfficeLimits().memoryBytes) << "unset: resolved, never 0";
  EXPECT_EQ(got.base_deadline_ms, 9000u);
  EXPECT_NE(got.per_slide_ms, 0u);
  qv_set_office_limits(nullptr);  // everything back to the environment and the defaults
  qv_get_office_limits(nullptr);  // ignored
  EXPECT_NE(GetOfficeLimits().baseDeadline.count(), 9000);
}

}  // namespace
}  // namespace quorvane
