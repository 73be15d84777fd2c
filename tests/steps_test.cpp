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

}  // namespace
}  // namespace quorvane::converters
