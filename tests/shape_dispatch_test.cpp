// The late-bound shape adapter: the members the group-text routine addresses by name, their
// kinds and arguments, enumeration of group items, and failures of the object model passing
// through unchanged.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "common/text.hpp"
#include "office/shape_dispatch.hpp"

namespace quorvane {
namespace {

namespace ppt = office::ppt;

std::string U8(std::u16string_view s) { return text::ToUtf8(s); }

constexpr std::int32_t kInvalidRequest = failure::kPowerPointInvalidRequest;

// A hand-made shape: a text box, a picture or a group. `failing` names the one member that
// throws (as "Type", "GroupItems", "Item", "TextRange", ...).
struct FakeShape final : ppt::Shape, std::enable_shared_from_this<FakeShape> {
  std::int32_t type = 17;
  office::Tristate hasTextFrame = office::kMsoTrue;
  std::u16string text;
  std::vector<std::shared_ptr<FakeShape>> items;
  std::u16string failing;
  int calls = 0;  // object-model calls answered, of every kind

  void Check(std::u16string_view member) {
    ++calls;
    if (member == failing) throw AutomationError(kInvalidRequest, u"The request failed: " + std::u16string(member));
  }

  office::Tristate HasTextFrame() override { return Check(u"HasTextFrame"), hasTextFrame; }
  std::shared_ptr<ppt::TextFrame> TextFrame() override;
  std::int32_t Type() override { return Check(u"Type"), type; }
  std::shared_ptr<ppt::PlaceholderFormat> PlaceholderFormat() override {
    throw AutomationError(kInvalidRequest, u"not a placeholder");
  }
  std::shared_ptr<ppt::Table> Table() override { throw AutomationError(kInvalidRequest, u"not a table"); }
  void Ungroup() override { throw AutomationError(kInvalidRequest, u"not supported here"); }
  std::shared_ptr<ppt::GroupItems> GroupItems() override;
};

struct FakeTextRange final : ppt::TextRange {
  explicit FakeTextRange(std::shared_ptr<FakeShape> s) : shape(std::move(s)) {}
  std::shared_ptr<FakeShape> shape;
  std::u16string Text() override { return shape->Check(u"Text"), shape->text; }
  void InsertBefore(const std::u16string& t) override { shape->text = t + shape->text; }
};

struct FakeTextFrame final : ppt::TextFrame {
  explicit FakeTextFrame(std::shared_ptr<FakeShape> s) : shape(std::move(s)) {}
  std::shared_ptr<FakeShape> shape;
  office::Tristate HasText() override {
    shape->Check(u"HasText");
    return shape->hasTextFrame && !shape->text.empty() ? office::kMsoTrue : office::kMsoFalse;
  }
  std::shared_ptr<ppt::TextRange> TextRange() override {
    shape->Check(u"TextRange");
    if (!shape->hasTextFrame) throw AutomationError(kInvalidRequest, u"This shape has no text frame.");
    return std::make_shared<FakeTextRange>(shape);
  }
};

struct FakeGroupItems final : ppt::GroupItems {
  explicit FakeGroupItems(std::shared_ptr<FakeShape> s) : shape(std::move(s)) {}
  std::shared_ptr<FakeShape> shape;
  std::int32_t Count() override { return shape->Check(u"Count"), static_cast<std::int32_t>(shape->items.size()); }
  std::shared_ptr<ppt::Shape> Item(std::int32_t index) override {
    shape->Check(u"Item");
    if (index < 1 || index > Count()) throw AutomationError(kInvalidRequest, u"Index out of bounds.");
    return shape->items[static_cast<std::size_t>(index) - 1];
  }
};

std::shared_ptr<ppt::TextFrame> FakeShape::TextFrame() {
  Check(u"TextFrame");
  return std::make_shared<FakeTextFrame>(shared_from_this());
}

std::shared_ptr<ppt::GroupItems> FakeShape::GroupItems() {
  Check(u"GroupItems");
  if (type != ppt::kMsoGroup) throw AutomationError(kInvalidRequest, u"This member can only be accessed for a group.");
  return std::make_shared<FakeGroupItems>(shared_from_this());
}

std::shared_ptr<FakeShape> TextBox(std::u16string text) {
  auto s = std::make_shared<FakeShape>();
  s->text = std::move(text);
  return s;
}

std::shared_ptr<FakeShape> Picture() {
  auto s = std::make_shared<FakeShape>();
  s->type = 13;
  s->hasTextFrame = office::kMsoFalse;
  return s;
}

std::shared_ptr<FakeShape> Group(std::vector<std::shared_ptr<FakeShape>> items) {
  auto s = std::make_shared<FakeShape>();
  s->type = ppt::kMsoGroup;
  s->hasTextFrame = office::kMsoFalse;
  s->items = std::move(items);
  return s;
}

Variant Get(Dispatch& object, std::u16string_view name) { return object.Call(name, DISPATCH_PROPERTYGET); }
std::shared_ptr<Dispatch> GetObject(Dispatch& object, std::u16string_view name) {
  const Variant v = Get(object, name);
  EXPECT_EQ(v.vt(), VT_DISPATCH) << U8(name);
  return v.vt() == VT_DISPATCH ? v.dispatch() : nullptr;
}
std::shared_ptr<Dispatch> Item(Dispatch& items, Variant index) {
  std::vector<Variant> args = {std::move(index)};
  const Variant v = items.Call(u"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
  return v.vt() == VT_DISPATCH ? v.dispatch() : nullptr;
}

TEST(ShapeDispatch, AnswersTheMembersByNameWithoutRegardToCase) {
  auto group = Group({TextBox(u"A")});
  auto shape = office::MakeShapeDispatch(group);
  auto items = GetObject(*shape, u"GroupItems");
  auto frame = GetObject(*office::MakeShapeDispatch(TextBox(u"x")), u"TextFrame");
  auto range = GetObject(*frame, u"TextRange");
  auto enumerator = GetObject(*items, u"_NewEnum");
  const struct {
    std::string object;
    Dispatch* target;
    std::vector<std::u16string_view> names;
    std::vector<std::u16string_view> unknown;
  } rows[] = {
      {"shape", shape.get(), {u"Type", u"GroupItems", u"HasTextFrame", u"TextFrame"}, {u"Text", u"Count", u"Name"}},
      {"group items", items.get(), {u"Count", u"Item", u"_NewEnum"}, {u"Type", u"Items"}},
      {"enumerator", enumerator.get(), {u"Next", u"Reset"}, {u"Count"}},
      {"text frame", frame.get(), {u"HasText", u"TextRange"}, {u"Text", u"HasTextFrame"}},
      {"text range", range.get(), {u"Text"}, {u"TextRange", u""}},
  };
  for (const auto& row : rows) {
    ASSERT_NE(row.target, nullptr) << row.object;
    for (const auto name : row.names) {
      DispId id = 0, lower = 1, upper = 2;
      EXPECT_EQ(row.target->GetIDOfName(name, id), S_OK_) << row.object << "." << U8(name);
      std::u16string up(name);
      for (auto& c : up)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
      EXPECT_EQ(row.target->GetIDOfName(text::Fold(name), lower), S_OK_) << row.object << "." << U8(name);
      EXPECT_EQ(row.target->GetIDOfName(up, upper), S_OK_) << row.object << "." << U8(name);
      EXPECT_EQ(lower, id) << row.object << "." << U8(name);
      EXPECT_EQ(upper, id) << row.object << "." << U8(name);
    }
    for (const auto name : row.unknown) {
      DispId id = 0;
      EXPECT_EQ(row.target->GetIDOfName(name, id), DISP_E_UNKNOWNNAME) << row.object << "." << U8(name);
    }
  }
  DispId item = -1;
  ASSERT_EQ(items->GetIDOfName(u"item", item), S_OK_);
  EXPECT_EQ(item, 0) << "Item is the collection's default member";
}

TEST(ShapeDispatch, ReadsShapeTextFrameAndTextRange) {
  const struct {
    std::string label;
    std::shared_ptr<FakeShape> shape;
    std::vector<std::u16string_view> path;  // properties read one after the other
    Variant expected;
  } rows[] = {
      {"text box type", TextBox(u"Hello"), {u"Type"}, Variant(17)},
      {"group type", Group({}), {u"Type"}, Variant(6)},
      {"text box has a frame", TextBox(u"Hello"), {u"HasTextFrame"}, Variant(-1)},
      {"picture has none", Picture(), {u"HasTextFrame"}, Variant(0)},
      {"frame has text", TextBox(u"Hello"), {u"TextFrame", u"HasText"}, Variant(-1)},
      {"empty frame", TextBox(u""), {u"TextFrame", u"HasText"}, Variant(0)},
      {"text", TextBox(u"Hello\rWorld"), {u"textframe", u"TEXTRANGE", u"text"}, Variant(u"Hello\rWorld")},
      {"group count", Group({TextBox(u"A"), Picture()}), {u"GroupItems", u"Count"}, Variant(2)},
  };
  for (const auto& row : rows) {
    std::shared_ptr<Dispatch> object = office::MakeShapeDispatch(row.shape);
    Variant value;
    for (std::size_t i = 0; i < row.path.size(); ++i) {
      value = Get(*object, row.path[i]);
      if (i + 1 < row.path.size()) object = value.dispatch();
    }
    EXPECT_EQ(value, row.expected) << row.label;
  }
  EXPECT_EQ(office::MakeShapeDispatch(nullptr), nullptr);
}

TEST(ShapeDispatch, GroupItemsInCollectionOrderByItemAndByEnumerator) {
  auto nested = Group({TextBox(u"C")});
  auto shape = office::MakeShapeDispatch(Group({TextBox(u"A"), Picture(), nested}));
  auto items = GetObject(*shape, u"GroupItems");
  ASSERT_EQ(Get(*items, u"Count"), Variant(3));

  const std::vector<Variant> expectedTypes = {Variant(17), Variant(13), Variant(6)};
  const Variant indexes[][3] = {
      {Variant(1), Variant(2), Variant(3)},
      {Variant(static_cast<std::int16_t>(1)), Variant(u"2"), Variant(3.0)},
  };
  for (const auto& row : indexes) {
    for (std::size_t i = 0; i < 3; ++i) {
      auto item = Item(*items, row[i]);
      ASSERT_NE(item, nullptr) << i;
      EXPECT_EQ(Get(*item, u"Type"), expectedTypes[i]) << i;
    }
  }

  auto enumerator = GetObject(*items, u"_NewEnum");
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<Variant> types;
    for (;;) {
      const Variant next = enumerator->Call(u"Next", DISPATCH_METHOD);
      if (next.is_empty()) break;
      ASSERT_EQ(next.vt(), VT_DISPATCH);
      types.push_back(Get(*next.dispatch(), u"Type"));
    }
    EXPECT_EQ(types, expectedTypes) << "pass " << pass;
    EXPECT_TRUE(enumerator->Call(u"Next", DISPATCH_METHOD).is_empty()) << "stays at the end";
    enumerator->Call(u"Reset", DISPATCH_METHOD);
  }

  // The nested group answers in turn.
  auto inner = GetObject(*Item(*items, Variant(3)), u"GroupItems");
  auto c = GetObject(*GetObject(*Item(*inner, Variant(1)), u"TextFrame"), u"TextRange");
  EXPECT_EQ(Get(*c, u"Text"), Variant(u"C"));
}

TEST(ShapeDispatch, ObjectModelFailuresPassThroughWithTheirNumberAndDescription) {
  const struct {
    std::string label;
    std::function<Variant()> call;
    std::u16string description;
  } rows[] = {
      {"Type fails",
       [] {
         auto s = TextBox(u"A");
         s->failing = u"Type";
         return Get(*office::MakeShapeDispatch(s), u"Type");
       },
       u"The request failed: Type"},
      {"GroupItems of a non-group", [] { return Get(*office::MakeShapeDispatch(TextBox(u"A")), u"GroupItems"); },
       u"This member can only be accessed for a group."},
      {"TextRange without a frame",
       [] { return Get(*GetObject(*office::MakeShapeDispatch(Picture()), u"TextFrame"), u"TextRange"); },
       u"This shape has no text frame."},
      {"Item out of range",
       [] {
         auto items = GetObject(*office::MakeShapeDispatch(Group({TextBox(u"A")})), u"GroupItems");
         Item(*items, Variant(2));
         return Variant();
       },
       u"Index out of bounds."},
      {"Text fails",
       [] {
         auto s = TextBox(u"A");
         auto range = GetObject(*GetObject(*office::MakeShapeDispatch(s), u"TextFrame"), u"TextRange");
         s->failing = u"Text";
         return Get(*range, u"Text");
       },
       u"The request failed: Text"},
  };
  for (const auto& row : rows) {
    try {
      row.call();
      ADD_FAILURE() << row.label << ": no failure";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), kInvalidRequest) << row.label;
      EXPECT_EQ(U8(e.description()), U8(row.description)) << row.label;
    }
  }

  // The same failure seen through Invoke: DISP_E_EXCEPTION with the model's number and text.
  auto s = TextBox(u"A");
  s->failing = u"HasTextFrame";
  auto shape = office::MakeShapeDispatch(s);
  DispId id = 0;
  ASSERT_EQ(shape->GetIDOfName(u"HasTextFrame", id), S_OK_);
  Variant result(u"untouched");
  ExcepInfo excep;
  EXPECT_EQ(shape->Invoke(id, DISPATCH_PROPERTYGET, {}, &result, &excep), DISP_E_EXCEPTION);
  EXPECT_EQ(excep.number, kInvalidRequest);
  EXPECT_EQ(U8(excep.description), "The request failed: HasTextFrame");
  EXPECT_EQ(result, Variant(u"untouched"));
  EXPECT_EQ(shape->Invoke(id, DISPATCH_PROPERTYGET, {}, nullptr, nullptr), DISP_E_EXCEPTION);
}

TEST(ShapeDispatch, RefusesWrongKindsCountsAndIndexes) {
  auto shape = office::MakeShapeDispatch(Group({TextBox(u"A")}));
  auto items = GetObject(*shape, u"GroupItems");
  auto enumerator = GetObject(*items, u"_NewEnum");
  auto id = [](Dispatch& d, std::u16string_view name) {
    DispId found = 0;
    EXPECT_EQ(d.GetIDOfName(name, found), S_OK_) << U8(name);
    return found;
  };
  const struct {
    std::string label;
    Dispatch* target;
    DispId id;
    std::uint16_t kind;
    std::vector<Variant> args;
    HResult hr;
  } rows[] = {
      {"put on Type", shape.get(), id(*shape, u"Type"), DISPATCH_PROPERTYPUT, {Variant(1)}, DISP_E_MEMBERNOTFOUND},
      {"method call of Type", shape.get(), id(*shape, u"Type"), DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND},
      {"unknown id", shape.get(), 999, DISPATCH_PROPERTYGET, {}, DISP_E_MEMBERNOTFOUND},
      {"argument for Type", shape.get(), id(*shape, u"Type"), DISPATCH_PROPERTYGET, {Variant(1)}, DISP_E_BADPARAMCOUNT},
      {"Item without index", items.get(), 0, DISPATCH_METHOD, {}, DISP_E_BADPARAMCOUNT},
      {"Item with two indexes", items.get(), 0, DISPATCH_METHOD, {Variant(1), Variant(1)}, DISP_E_BADPARAMCOUNT},
      {"Item by text", items.get(), 0, DISPATCH_METHOD, {Variant(u"first")}, DISP_E_TYPEMISMATCH},
      {"Item index too big", items.get(), 0, DISPATCH_METHOD, {Variant(4294967296.0)}, DISP_E_OVERFLOW},
      {"Item as property", items.get(), 0, DISPATCH_PROPERTYGET, {Variant(1)}, S_OK_},
      {"Next as property", enumerator.get(), id(*enumerator, u"Next"), DISPATCH_PROPERTYGET, {}, DISP_E_MEMBERNOTFOUND},
      {"put on Count", items.get(), id(*items, u"Count"), DISPATCH_PROPERTYPUT, {Variant(3)}, DISP_E_MEMBERNOTFOUND},
  };
  for (const auto& row : rows) {
    auto args = row.args;
    EXPECT_EQ(row.target->Invoke(row.id, row.kind, args, nullptr, nullptr), row.hr) << row.label;
  }
}

TEST(ShapeDispatch, EveryRequestReachesTheObjectModelWhenItIsMade) {
  auto s = TextBox(u"before");
  auto range = GetObject(*GetObject(*office::MakeShapeDispatch(s), u"TextFrame"), u"TextRange");
  EXPECT_EQ(Get(*range, u"Text"), Variant(u"before"));
  s->text = u"after";
  EXPECT_EQ(Get(*range, u"Text"), Variant(u"after"));

  auto group = Group({TextBox(u"A")});
  auto items = GetObject(*office::MakeShapeDispatch(group), u"GroupItems");
  EXPECT_EQ(Get(*items, u"Count"), Variant(1));
  group->items.push_back(TextBox(u"B"));
  EXPECT_EQ(Get(*items, u"Count"), Variant(2));
}

}  // namespace
}  // namespace quorvane
