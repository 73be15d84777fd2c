// The control object: path trimming, progress events and sinks, resizing, termination, refusals
// from inside an event handler, and which converter each target code reaches at the range edges.
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

TEST(Control, ResizeKeepsTheSizeAndTheBitmapIs32By28With256Colours) {
  QuorvaneX x;
  for (auto [w, h] : {std::pair{0, 0}, {1000, 1000}, {-5, 7}}) {
    x.Resize(w, h);
    EXPECT_EQ(x.get_Width(), 32) << w << "x" << h;
    EXPECT_EQ(x.get_Height(), 28) << w << "x" << h;
  }
  const auto& bmp = QuorvaneX::DesignTimeBitmap();
  ASSERT_GT(bmp.size(), 54u);
  auto u32 = [&](std::size_t at) { return bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24; };
  EXPECT_EQ(std::string(bmp.begin(), bmp.begin() + 2), "BM");
  EXPECT_EQ(u32(2), bmp.size());
  EXPECT_EQ(u32(18), 32u);
  EXPECT_EQ(u32(22), 28u);
  EXPECT_EQ(bmp[28], 8);
  EXPECT_EQ(u32(46), 256u);
}

TEST(Control, TerminateSetsOptimizeForSpeedFalseAndStaysUsable) {
  QuorvaneX x;
  x.UserControl_Terminate();
  EXPECT_EQ(x.get_OptimizeForSpeed(), kVariantFalse);
  x.put_OptimizeForSpeed(kVariantTrue);
  EXPECT_EQ(x.get_OptimizeForSpeed(), kVariantTrue);
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

TEST(Control, EachTargetCodeReachesItsConverterAtTheRangeEdges) {
  using detail::Route;
  const std::pair<std::int32_t, Route> rows[] = {
      {1, Route::SaveAs},        {15, Route::SaveAs},      {16, Route::SlideImages},
      {19, Route::SlideImages},  {20, Route::SaveAs},      {21, Route::SlideImages},
      {7, Route::SaveAs},        {10, Route::SaveAs},      {24, Route::SaveAs},
      {29, Route::SaveAs},       {32, Route::SaveAs},      {37, Route::SaveAs},
      {30, Route::ThroughWord},  {31, Route::ThroughWord}, {100, Route::SlideImages},
      {107, Route::Text},        {200, Route::Text},       {0, Route::ThroughWord},
      {8, Route::ThroughWord},   {9, Route::ThroughWord},  {22, Route::ThroughWord},
      {38, Route::ThroughWord},  {101, Route::ThroughWord}, {106, Route::ThroughWord},
      {108, Route::ThroughWord}, {201, Route::ThroughWord}, {-1, Route::ThroughWord},
      {INT32_MAX, Route::ThroughWord}};
  for (const auto& [code, converter] : rows)
    EXPECT_EQ(static_cast<int>(detail::RouteFor(code)), static_cast<int>(converter)) << code;
}

}  // namespace
}  // namespace quorvane
