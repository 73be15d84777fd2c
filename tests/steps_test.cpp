// The converters' step mechanism and progress arithmetic; what each resolution leads to is tested through
// the converters' failure paths.
#include <gtest/gtest.h>

#include "converters/steps.hpp"

namespace quorvane::converters {
namespace {

TEST(Steps, AnyExceptionBecomesAFailureButOneInsideThePathEscapes) {
  Failure seen;
  Steps steps({[&](const Failure& f) {
                 seen = f;
                 return Resolution::Skip;
               },
               [](const Failure&) {}});
  steps.Run([] { throw std::bad_alloc(); });
  EXPECT_EQ(seen.number, 7);
  steps.Run([] { throw std::runtime_error("boom"); });
  EXPECT_EQ(seen.number, 5);
  EXPECT_EQ(seen.description, u"boom");
  steps.Run([] { throw AutomationError(failure::kPowerPointInvalidRequest, u"Invalid request"); });
  EXPECT_EQ(seen.number, failure::kPowerPointInvalidRequest);
  EXPECT_EQ(seen.description, u"Invalid request");
  Steps inside({[](const Failure&) -> Resolution { throw AutomationError(91, u"inside"); }, [](const Failure&) {}});
  try {
    inside.Run([] { throw AutomationError(5, u"step"); });
    ADD_FAILURE() << "expected the path's failure";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), 91);
  }
}

TEST(Steps, ProgressStepArithmetic) {
  const struct {
    std::int32_t start, end; float step; std::int32_t failure;
  } rows[] = {{1, 1, 100.0f, 0},  {2, 4, 100.0f / 3.0f, 0}, {6, 5, 0, 11},         {8, 5, -50.0f, 0},
              {0, INT32_MAX, 0, 6}, {1, INT32_MAX, 100.0f / 2147483647.0f, 0}, {INT32_MIN, 1, 0, 6}};
  for (const auto& row : rows) {
    try {
      EXPECT_FLOAT_EQ(ProgressStep(row.start, row.end), row.step) << row.start << ".." << row.end;
      EXPECT_EQ(row.failure, 0) << row.start << ".." << row.end;
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), row.failure) << row.start << ".." << row.end;
    }
  }
}

}  // namespace
}  // namespace quorvane::converters
