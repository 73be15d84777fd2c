// The late-bound shape adapter over shapes of the scripted office: members by name in any case,
// group items by index and by enumerator, refused calls, and object-model failures passing through.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "common/text.hpp"
#include "office/shape_dispatch.hpp"
#include "support/scripted_office.hpp"

namespace quorvane {
namespace {

using namespace testing;

struct Adapter {
  std::shared_ptr<ScriptedOffice> office = std::make_shared<ScriptedOffice>();
  std::shared_ptr<Dispatch> Of(const ShapeData& shape) {
    office->AddFile(u"deck.pptx", Deck().Slide({shape}));
    auto p = office->CreatePowerPoint()->Presentations()->Open(u"deck.pptx", 0, 0, 0);
    return office::MakeShapeDispatch(p->Slides()->Item(1)->Shapes()->Item(1));
  }
  ShapeData& Live() { return *office->state().presentations.back()->deck.slides[0]->shapes[0]; }
};

Variant Get(Dispatch& object, std::u16string_view name) { return object.Call(name, DISPATCH_PROPERTYGET); }
std::shared_ptr<Dispatch> Obj(Dispatch& object, std::u16string_view name) { return Get(object, name).dispatch(); }
std::shared_ptr<Dispatch> Item(Dispatch& items, Variant index) {
  std::vector<Variant> args = {std::move(index)};
  return items.Call(u"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, args).dispatch();
}

// Type, HasTextFrame, TextFrame, HasText, TextRange, Text, GroupItems, _NewEnum and Next are also
// asked by the group text of the slide text tests. Names are found without regard to case.
TEST(ShapeDispatch, GroupItemsInOrderByAnyIndexAndByEnumerator) {
  Adapter a;
  auto items = Obj(*a.Of(Group({TextBox(u"A"), Picture(), Group({TextBox(u"C")})})), u"groupITEMS");
  DispId id = -1;
  EXPECT_EQ(items->GetIDOfName(u"Items", id), DISP_E_UNKNOWNNAME);
  ASSERT_EQ(items->GetIDOfName(u"item", id), S_OK_);
  EXPECT_EQ(id, 0) << "Item is the collection's default member";
  EXPECT_EQ(office::MakeShapeDispatch(nullptr), nullptr);
  const std::vector<Variant> types = {Variant(17), Variant(13), Variant(6)};
  const Variant indexes[] = {Variant(1), Variant(u"2"), Variant(3.0)};
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(Get(*Item(*items, indexes[i]), u"Type"), types[i]) << i;
  auto enumerator = Obj(*items, u"_NewEnum");
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<Variant> seen;
    for (Variant next; !(next = enumerator->Call(u"Next", DISPATCH_METHOD)).is_empty();)
      seen.push_back(Get(*next.dispatch(), u"Type"));
    EXPECT_EQ(seen, types) << "pass " << pass;
    EXPECT_TRUE(enumerator->Call(u"Next", DISPATCH_METHOD).is_empty()) << "stays at the end";
    enumerator->Call(u"Reset", DISPATCH_METHOD);
  }
  auto inner = Obj(*Item(*items, Variant(3)), u"GroupItems");
  EXPECT_EQ(Get(*Obj(*Obj(*Item(*inner, Variant(1)), u"TextFrame"), u"TextRange"), u"Text"), Variant(u"C"));
  a.Live().items.push_back(TextBox(u"D").Clone());
  EXPECT_EQ(Get(*items, u"COUNT"), Variant(4)) << "read at every request";
}

}  // namespace
}  // namespace quorvane
