// The control object: path trimming, progress events and sinks, resizing, termination, and refusals
// from inside an event handler.
#include <gtest/gtest.h>

#include <vector>

#include "control/control.hpp"
#include "quorvane/control.hpp"

namespace quorvane {
namespace {

// The control keeps its design-time size whatever it is given, and draws a 32 x 28 bitmap of 256 colours.
TEST(Control, ResizeKeepsTheSizeAndTheBitmap) {
  QuorvaneX x;
  x.Resize(1000, -5);
  const auto& bmp = QuorvaneX::DesignTimeBitmap();
  const auto u32 = [&](std::size_t i) { return bmp.at(i) | bmp.at(i + 1) << 8 | bmp.at(i + 2) << 16 | bmp.at(i + 3) << 24; };
  EXPECT_TRUE(x.get_Width() == 32 && x.get_Height() == 28);
  EXPECT_TRUE(bmp.at(0) == 'B' && bmp.at(1) == 'M' && u32(2) == int(bmp.size()) && u32(18) == 32 && u32(22) == 28);
  EXPECT_TRUE(bmp.at(28) == 8 && u32(46) == 256);
}

TEST(Control, ConvertFileAndTerminateFromAnEventHandlerAreRefused) {
  QuorvaneX x;
  struct Reentrant : QuorvaneXEvents {
    void onerror(std::int32_t&, std::u16string&) override {
      for (auto* refused : {&convert, &terminate}) try {
          refused == &convert ? (void)control->ConvertFile() : control->UserControl_Terminate();
        } catch (const AutomationError& e) {
          *refused = e.number();
        }
    }
    QuorvaneX* control = nullptr;
    std::int32_t convert = 0, terminate = 0;
  };
  auto sink = std::make_shared<Reentrant>();
  sink->control = &x;
  x.Advise(sink);
  x.ConvertFile();  // fails (no input) and reports
  EXPECT_EQ(sink->convert, failure::kInvalidCall);
  EXPECT_EQ(sink->terminate, failure::kInvalidCall);
  EXPECT_EQ(x.get_OptimizeForSpeed(), kVariantTrue);
  EXPECT_NO_THROW(x.ConvertFile());
}

}  // namespace
}  // namespace quorvane
