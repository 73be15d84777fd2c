// The control object: path trimming, progress events and sinks, resizing, termination, and refusals
// from inside an event handler.
#include <gtest/gtest.h>

#include <vector>

#include "control/control.hpp"
#include "quorvane/control.hpp"

namespace quorvane {
namespace {

TEST(Control, PathSettersTrimOnlySpaces) {
  const std::pair<std::u16string, std::u16string> rows[] = {
      {u"  /tmp/deck.pptx  ", u"/tmp/deck.pptx"}, {u"\t/tmp/d.pptx", u"\t/tmp/d.pptx"}, {u"/tmp/a \t ", u"/tmp/a \t"},
      {u" /tmp/my deck ", u"/tmp/my deck"},      {u"    ", u""},                       {u"\u00A0a\u00A0", u"\u00A0a\u00A0"}};
  for (const auto& [given, stored] : rows) {
    QuorvaneX x;
    x.put_InputFile(given);
    x.put_OutputFile(given);
    EXPECT_EQ(x.get_InputFile(), stored) << std::string(given.begin(), given.end());
    EXPECT_EQ(x.get_OutputFile(), stored) << std::string(given.begin(), given.end());
  }
}

TEST(Control, SinksHearEveryProgressInOrderAndMayLeaveEvenWhileHearing) {
  QuorvaneX x;
  std::vector<std::pair<int, float>> heard;
  struct Tagged : QuorvaneXEvents {
    Tagged(QuorvaneX& c, std::vector<std::pair<int, float>>& o, int t) : control(c), out(o), tag(t) {}
    void Progress() override {
      out.emplace_back(tag, control.get_PercentageComplete());
      if (leaveWhileHearing) control.Unadvise(cookie);
    }
    QuorvaneX& control;
    std::vector<std::pair<int, float>>& out;
    int tag;
    bool leaveWhileHearing = false;
    std::uint32_t cookie = 0;
  };
  auto first = std::make_shared<Tagged>(x, heard, 1), second = std::make_shared<Tagged>(x, heard, 2),
       third = std::make_shared<Tagged>(x, heard, 3);
  const auto a = x.Advise(first), b = x.Advise(second);
  third->leaveWhileHearing = true;
  third->cookie = x.Advise(third);
  EXPECT_NE(a, 0u);
  EXPECT_NE(a, b);
  EXPECT_EQ(x.Advise(nullptr), 0u);
  x.internal().SetPercentageComplete(33.3f);
  x.internal().SetPercentageComplete(33.3f);
  EXPECT_TRUE(x.Unadvise(a));
  EXPECT_FALSE(x.Unadvise(a));
  x.internal().SetPercentageComplete(100);
  const std::vector<std::pair<int, float>> expected = {{1, 33.3f}, {2, 33.3f}, {3, 33.3f}, {1, 33.3f}, {2, 33.3f},
                                                       {2, 100.0f}};
  EXPECT_EQ(heard, expected);
}

// The control keeps its design-time size whatever it is given, and draws a 32 x 28 bitmap of 256 colours.
TEST(Control, ResizeKeepsTheSizeAndTheBitmap) {
  QuorvaneX x;
  x.Resize(1000, -5);
  EXPECT_TRUE(x.get_Width() == 32 && x.get_Height() == 28);
  const auto& bmp = QuorvaneX::DesignTimeBitmap();
  ASSERT_GT(bmp.size(), 54u);
  auto u32 = [&](std::size_t at) {
    return std::size_t(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24);
  };
  EXPECT_TRUE(bmp[0] == 'B' && bmp[1] == 'M' && u32(2) == bmp.size());
  EXPECT_TRUE(u32(18) == 32u && u32(22) == 28u && bmp[28] == 8 && u32(46) == 256u);
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
