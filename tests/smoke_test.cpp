#include <gtest/gtest.h>
#include "quorvane/control.hpp"
TEST(Smoke, Creates) { quorvane::QuorvaneX x; EXPECT_EQ(x.get_TargetFileType(), 6); }
