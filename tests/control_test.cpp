// The control object: initial state, setter rules, progress events, sinks, resizing, termination.
#include <gtest/gtest.h>

#include <vector>

#include "control/control.hpp"
#include "quorvane/control.hpp"

namespace quorvane {
namespace {

struct Recorder : QuorvaneXEvents {
  explicit Recorder(QuorvaneX* c = nullptr) : control(c) {}
  void Progress() override { progress.push_back(control ? control->get_PercentageComplete() : -1.0f); }
  void onerror(std::int32_t& number, std::u16string& text) override { errors.emplace_back(number, text); }
  QuorvaneX* control;
  std::vector<float> progress;
  std::vector<std::pair<std::int32_t, std::u16string>> errors;
};

TEST(Control, NewInstanceHasDefaults) {
  QuorvaneX x;
  EXPECT_EQ(x.get_TargetFileType(), 6);
  EXPECT_EQ(x.get_OptimizeForSpeed(), kVariantTrue);
  EXPECT_EQ(x.get_StartSlide(), 0);
  EXPECT_EQ(x.get_EndSlide(), 0);
  EXPECT_EQ(x.get_PercentageComplete(), 0.0f);
  EXPECT_EQ(x.get_MultiFileOutput(), kVariantFalse);
  EXPECT_EQ(x.get_ShowSlideAndShapeNumber(), kVariantFalse);
  EXPECT_EQ(x.get_IncludeNotes(), kVariantFalse);
  EXPECT_EQ(x.get_NotesOnly(), kVariantFalse);
  EXPECT_EQ(x.get_InputFile(), u"");
  EXPECT_EQ(x.get_OutputFile(), u"");
  EXPECT_EQ(x.get_ErrorString(), u"");
  EXPECT_EQ(x.internal().PowerPointApplication, nullptr);
  EXPECT_EQ(x.internal().WordApplication, nullptr);
  EXPECT_EQ(x.internal().CachedPowerPointVersion, 0.0);
  EXPECT_EQ(x.internal().CachedPowerPointVersionText, u"");
}

TEST(Control, PathSettersTrimOnlySpaces) {
  struct Row {
    const char* name;
    std::u16string given, stored;
  };
  const Row rows[] = {
      {"two spaces each side", u"  /tmp/deck.pptx  ", u"/tmp/deck.pptx"},
      {"leading tab kept", u"\t/tmp/deck.pptx", u"\t/tmp/deck.pptx"},
      {"trailing tab and space", u"/tmp/a \t ", u"/tmp/a \t"},
      {"inner spaces kept", u" /tmp/my deck.pptx ", u"/tmp/my deck.pptx"},
      {"only spaces", u"    ", u""},
      {"no-break space kept", u"\u00A0a\u00A0", u"\u00A0a\u00A0"},
      {"empty", u"", u""},
  };
  for (const auto& row : rows) {
    QuorvaneX x;
    x.put_InputFile(row.given);
    x.put_OutputFile(row.given);
    EXPECT_EQ(x.get_InputFile(), row.stored) << row.name;
    EXPECT_EQ(x.get_OutputFile(), row.stored) << row.name;
  }
}

TEST(Control, SettersStoreWhatTheyAreGiven) {
  QuorvaneX x;
  x.put_StartSlide(-5);
  x.put_EndSlide(1 << 30);
  x.put_TargetFileType(9999);
  x.put_MultiFileOutput(1);
  x.put_ShowSlideAndShapeNumber(-2);
  x.put_IncludeNotes(7);
  x.put_NotesOnly(-1);
  x.put_OptimizeForSpeed(1);
  x.put_ErrorString(u"host text");
  EXPECT_EQ(x.get_StartSlide(), -5);
  EXPECT_EQ(x.get_EndSlide(), 1 << 30);
  EXPECT_EQ(x.get_TargetFileType(), 9999);
  EXPECT_EQ(x.get_MultiFileOutput(), 1);
  EXPECT_EQ(x.get_ShowSlideAndShapeNumber(), -2);
  EXPECT_EQ(x.get_IncludeNotes(), 7);
  EXPECT_EQ(x.get_NotesOnly(), -1);
  EXPECT_EQ(x.get_OptimizeForSpeed(), 1);
  EXPECT_EQ(x.get_ErrorString(), u"host text");
}

TEST(Control, EverySetPercentageCompleteRaisesOneProgressWithTheNewValue) {
  QuorvaneX x;
  auto rec = std::make_shared<Recorder>(&x);
  x.Advise(rec);
  for (float v : {0.0f, 33.3f, 33.3f, 100.0f, 100.0f}) x.internal().SetPercentageComplete(v);
  EXPECT_EQ(rec->progress, (std::vector<float>{0.0f, 33.3f, 33.3f, 100.0f, 100.0f}));
  EXPECT_EQ(x.get_PercentageComplete(), 100.0f);
}

TEST(Control, SinksAreCalledInOrderAndCanBeRemoved) {
  QuorvaneX x;
  std::vector<int> order;
  struct Tagged : QuorvaneXEvents {
    Tagged(std::vector<int>& o, int t) : out(o), tag(t) {}
    void Progress() override { out.push_back(tag); }
    std::vector<int>& out;
    int tag;
  };
  const auto a = x.Advise(std::make_shared<Tagged>(order, 1));
  const auto b = x.Advise(std::make_shared<Tagged>(order, 2));
  EXPECT_NE(a, 0u);
  EXPECT_NE(a, b);
  EXPECT_EQ(x.Advise(nullptr), 0u);
  x.internal().SetPercentageComplete(1);
  EXPECT_TRUE(x.Unadvise(a));
  EXPECT_FALSE(x.Unadvise(a));
  x.internal().SetPercentageComplete(2);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 2}));
}

TEST(Control, SinkMayUnadviseItselfWhileAnEventIsRaised) {
  QuorvaneX x;
  struct SelfRemoving : QuorvaneXEvents {
    void Progress() override {
      ++calls;
      control->Unadvise(cookie);
    }
    QuorvaneX* control = nullptr;
    std::uint32_t cookie = 0;
    int calls = 0;
  };
  auto sink = std::make_shared<SelfRemoving>();
  sink->control = &x;
  sink->cookie = x.Advise(sink);
  x.internal().SetPercentageComplete(1);
  x.internal().SetPercentageComplete(2);
  EXPECT_EQ(sink->calls, 1);
}

TEST(Control, ResizeAlwaysKeepsThePictureBoxSize) {
  QuorvaneX x;
  for (auto [w, h] : {std::pair{0, 0}, {1000, 1000}, {-5, 7}, {32, 28}, {1, 400}}) {
    x.Resize(w, h);
    EXPECT_EQ(x.get_Width(), 32) << w << "x" << h;
    EXPECT_EQ(x.get_Height(), 28) << w << "x" << h;
  }
}

TEST(Control, DesignTimeBitmapIs32By28With256Colours) {
  const auto& bmp = QuorvaneX::DesignTimeBitmap();
  ASSERT_GT(bmp.size(), 54u);
  auto u32 = [&](std::size_t at) { return bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24; };
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(u32(2), bmp.size());
  EXPECT_EQ(u32(18), 32u);
  EXPECT_EQ(u32(22), 28u);
  EXPECT_EQ(bmp[28], 8);  // bits per pixel
  EXPECT_EQ(u32(46), 256u);
}

TEST(Control, TerminateSetsOptimizeForSpeedFalseAndStaysUsable) {
  QuorvaneX x;
  x.UserControl_Terminate();
  EXPECT_EQ(x.get_OptimizeForSpeed(), kVariantFalse);
  EXPECT_EQ(x.internal().PowerPointApplication, nullptr);
  EXPECT_EQ(x.internal().WordApplication, nullptr);
  x.put_OptimizeForSpeed(kVariantTrue);
  EXPECT_EQ(x.get_OptimizeForSpeed(), kVariantTrue);
}

TEST(Control, ConvertFileFromAnEventHandlerIsRefused) {
  QuorvaneX x;
  struct Reentrant : QuorvaneXEvents {
    void onerror(std::int32_t&, std::u16string&) override {
      try {
        control->ConvertFile();
      } catch (const AutomationError& e) {
        refused = e.number();
      }
      try {
        control->UserControl_Terminate();
      } catch (const AutomationError& e) {
        terminateRefused = e.number();
      }
    }
    QuorvaneX* control = nullptr;
    std::int32_t refused = 0, terminateRefused = 0;
  };
  auto sink = std::make_shared<Reentrant>();
  sink->control = &x;
  x.Advise(sink);
  x.ConvertFile();  // reports a failure: no PowerPoint here
  EXPECT_EQ(sink->refused, failure::kInvalidCall);
  EXPECT_EQ(sink->terminateRefused, failure::kInvalidCall);
  EXPECT_NO_THROW(x.ConvertFile());  // and the control is usable again afterwards
}

}  // namespace
}  // namespace quorvane
