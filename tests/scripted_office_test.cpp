// What the converter tests would not notice if the scripted office got it wrong: objects stay safe
// to call after their presentation, application or office has gone.
#include "support/fixtures.hpp"
#include "support/scripted_office.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace quorvane::testing {
namespace {

TEST(ScriptedOffice, ClosedQuitAndOrphanedObjectsFailInsteadOfCrashing) {
  auto office = std::make_shared<ScriptedOffice>();
  office->AddFile(u"deck.pptx", Deck().Slide({Title(u"T")}));
  auto app = office->CreatePowerPoint();
  auto p = app->Presentations()->Open(u"deck.pptx", 0, 0, 0);
  auto slides = p->Slides();
  auto shape = slides->Item(1)->Shapes()->Item(1);
  p->Close();
  const std::int32_t kInvalid = failure::kPowerPointInvalidRequest;
  EXPECT_EQ(ThrownNumber([&] { slides->Count(); }), kInvalid);
  EXPECT_EQ(ThrownNumber([&] { p->Close(); }), kInvalid);
  auto added = app->Presentations()->Add(0);
  app->Quit();
  EXPECT_EQ(ThrownNumber([&] { added->Slides(); }), kServerUnavailable);
  auto word = office->CreateWord();
  auto document = word->Documents()->Add();
  document->Close(0);
  EXPECT_EQ(ThrownNumber([&] { document->SaveAs(u"x.doc", 0); }), kWordDisconnected);
  office.reset();
  EXPECT_EQ(ThrownNumber([&] { shape->Type(); }), kServerUnavailable);
}

}  // namespace
}  // namespace quorvane::testing
