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
std::string U8(std::u16string_view s) { return text::ToUtf8(s); }

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

TEST(ShapeDispatch, ObjectModelFailuresPassThroughAndBadCallsAreRefused) {
  const struct {
    std::string label;
    ShapeData shape;
    const char* member;  // fails with its own number and description
    std::function<void(Dispatch&)> call;
  } rows[] = {
      {"Type", TextBox(u"A"), "Shape.Type", [](Dispatch& s) { Get(s, u"Type"); }},
      {"GroupItems of a non-group", TextBox(u"A"), "", [](Dispatch& s) { Get(s, u"GroupItems"); }},
      {"TextRange without a frame", Picture(), "", [](Dispatch& s) { Get(*Obj(s, u"TextFrame"), u"TextRange"); }},
      {"Item out of range", Group({TextBox(u"A")}), "", [](Dispatch& s) { Item(*Obj(s, u"GroupItems"), Variant(2)); }},
      {"Text", TextBox(u"A"), "TextRange.Text", [](Dispatch& s) { Get(*Obj(*Obj(s, u"TextFrame"), u"TextRange"), u"Text"); }},
  };
  for (const auto& row : rows) {
    Adapter a;
    auto shape = a.Of(row.shape);
    if (*row.member) a.office->FailOn(row.member, 1, failure::kEFail, u"model says no");
    try {
      row.call(*shape);
      ADD_FAILURE() << row.label << ": no failure";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), *row.member ? failure::kEFail : failure::kPowerPointInvalidRequest) << row.label;
      if (*row.member) {
        EXPECT_EQ(e.description(), u"model says no") << row.label;
      }
      EXPECT_FALSE(e.description().empty()) << row.label;
    }
  }
  Adapter a;
  auto shape = a.Of(Group({TextBox(u"A")}));
  auto items = Obj(*shape, u"GroupItems");
  auto enumerator = Obj(*items, u"_NewEnum");
  auto id = [](Dispatch& d, std::u16string_view name) {
    DispId found = 0;
    EXPECT_EQ(d.GetIDOfName(name, found), S_OK_) << U8(name);
    return found;
  };
  const DispId type = id(*shape, u"Type");
  const struct {
    std::string label; Dispatch* target; DispId id; std::uint16_t kind; std::vector<Variant> args; HResult hr;
  } refusals[] = {
      {"put on Type", shape.get(), type, DISPATCH_PROPERTYPUT, {Variant(1)}, DISP_E_MEMBERNOTFOUND},
      {"unknown id", shape.get(), 999, DISPATCH_PROPERTYGET, {}, DISP_E_MEMBERNOTFOUND},
      {"argument for Type", shape.get(), type, DISPATCH_PROPERTYGET, {Variant(1)}, DISP_E_BADPARAMCOUNT},
      {"Item without index", items.get(), 0, DISPATCH_METHOD, {}, DISP_E_BADPARAMCOUNT},
      {"Item by text", items.get(), 0, DISPATCH_METHOD, {Variant(u"first")}, DISP_E_TYPEMISMATCH},
      {"Item index too big", items.get(), 0, DISPATCH_METHOD, {Variant(4294967296.0)}, DISP_E_OVERFLOW},
      {"Item as property", items.get(), 0, DISPATCH_PROPERTYGET, {Variant(1)}, S_OK_},
      {"Next as property", enumerator.get(), id(*enumerator, u"Next"), DISPATCH_PROPERTYGET, {}, DISP_E_MEMBERNOTFOUND},
      {"put on Count", items.get(), id(*items, u"Count"), DISPATCH_PROPERTYPUT, {Variant(3)}, DISP_E_MEMBERNOTFOUND},
  };
  for (const auto& row : refusals) {
    auto args = row.args;
    EXPECT_EQ(row.target->Invoke(row.id, row.kind, args, nullptr, nullptr), row.hr) << row.label;
  }
  a.office->FailOn("Shape.HasTextFrame", 1, failure::kEFail, u"model says no");
  Variant result(u"untouched");
  ExcepInfo excep;
  EXPECT_EQ(shape->Invoke(id(*shape, u"HasTextFrame"), DISPATCH_PROPERTYGET, {}, &result, &excep), DISP_E_EXCEPTION);
  EXPECT_EQ(excep.number, failure::kEFail);
  EXPECT_EQ(excep.description, u"model says no");
  EXPECT_EQ(result, Variant(u"untouched"));
}

}  // namespace
}  // namespace quorvane
