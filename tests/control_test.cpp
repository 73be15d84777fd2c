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
      {u"  \t/tmp/my deck\u00A0 \t  ", u"\t/tmp/my deck\u00A0 \t"}, {u"    ", u""}};
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
  EXPECT_NE(a, b);
  x.internal().SetPercentageComplete(33.3f);
  x.internal().SetPercentageComplete(33.3f);
  EXPECT_TRUE(x.Unadvise(a));
  x.internal().SetPercentageComplete(100);
  const std::vector<std::pair<int, float>> expected = {{1, 33.3f}, {2, 33.3f}, {3, 33.3f}, {1, 33.3f}, {2, 33.3f},
                                                       {2, 100.0f}};
  EXPECT_EQ(heard, expected);
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
