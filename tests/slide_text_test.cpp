// Slide text extraction: labels, entries and header lines of every kind of shape, the outcome of
// each failing request, and the group text a host can ask for late-bound.
#include <gtest/gtest.h>

#include <functional>

#include "common/text.hpp"
#include "converters/slide_text.hpp"
#include "office/object_dispatch.hpp"
#include "support/fixtures.hpp"
#include "support/scripted_office.hpp"

namespace quorvane::detail {
namespace {

using namespace testing;
constexpr std::int32_t kInvalid = failure::kPowerPointInvalidRequest;

// Shape 2 of slide 2 is the one under test: the header names both.
std::string Header(const std::string& label) { return "----- Slide(2) Shape(2) " + label + " -----\r\n"; }

ShapeData Nested(int depth) {
  ShapeData shape = TextBox(u"deep");
  for (int d = 0; d < depth; ++d) shape = Group({shape});
  return shape;
}

class SlideText : public ::testing::Test {
 protected:
  std::shared_ptr<ppt::Presentation> Open(const ShapeData& shape) {
    office_ = std::make_shared<ScriptedOffice>();
    office_->AddFile(u"deck.pptx", Deck().Slide({}).Slide({Picture(), shape}));
    return office_->CreatePowerPoint()->Presentations()->Open(u"deck.pptx", 0, 0, 0);
  }
  std::string Extract(ppt::Presentation& p, VariantBool show) {
    return text::ToUtf8(converters::ExtractSlideText(p, 2, 2, show == kVariantTrue));
  }
  std::shared_ptr<ScriptedOffice> office_;
};

TEST_F(SlideText, AFailingRequestIsPassedOverAsTheRulesSay) {
  ShapeData noFrameAtAll = Table({{u"t"}});  // HasTextFrame answers false, the TextFrame request fails
  noFrameAtAll.textFrameFails = true;
  const struct {
    const char* name; ShapeData shape;
    const char* member;  // its nth call fails
    int nth; std::string label, text;
  } rows[] = {
      {"HasTextFrame: the test passes", Picture(), "Shape.HasTextFrame", 1, "** TextBox **", ""},
      {"HasText: the test passes", Title(u"T"), "TextFrame.HasText", 1, "** Title **", "T\r\n"},
      {"text frame fails: text box rules only", noFrameAtAll, "", 0, "** TextBox **", ""},
      {"Type in the placeholder test: counts as placeholder", TextBox(u"x"), "Shape.Type", 1, "", ""},
      {"Type in the placeholder test, a real placeholder", Title(u"T"), "Shape.Type", 1, "** Title **", "T\r\n"},
      {"PlaceholderFormat.Type: no label, no text", Title(u"T"), "PlaceholderFormat.Type", 1, "", ""},
      {"text box text: label stays", TextBox(u"x"), "TextRange.Text", 1, "** TextBox **", ""},
      {"Type in the group step: group text asked all the same", Group({TextBox(u"A")}), "Shape.Type", 1, "** Group **",
       "A\r\n\r\n"},
      {"group text fails: no label, no entry", Group({TextBox(u"A"), TextBox(u"B")}), "TextRange.Text", 2, "", ""},
      {"group item fails: nothing of the group", Group({TextBox(u"A"), TextBox(u"B")}), "GroupItems.Item", 2, "", ""},
      {"Type in the table step: table label, loops run", Group({TextBox(u"A")}), "Shape.Type", 4, "** Table **",
       "A\r\n\r\n"},
      {"cell text: the first line of the entry stays", Table({{u"a", u"b"}, {u"c"}}), "TextRange.Text", 2,
       "** Table **", "(1,1): \r\na\r\n(1,2): \r\n(2,1): \r\nc\r\n(2,2): \r\n"},
      {"a cell itself", Table({{u"a", u"b"}}), "Table.Cell", 1, "** Table **", "(1,1): \r\n(1,2): \r\nb\r\n"},
      {"row count", Table({{u"a"}}), "Table.Rows.Count", 1, "** Table **", ""},
      {"group nested too deep", Nested(300), "", 0, "", ""},
  };
  for (const auto& row : rows) {
    auto p = Open(row.shape);
    if (row.nth > 0) office_->FailOn(row.member, row.nth, kInvalid);
    EXPECT_EQ(Extract(*p, kVariantTrue), Header(row.label) + row.text) << row.name;
  }
  auto p = Open(Title(u"T"));
  for (const std::int32_t number : {failure::kEFail, 429}) {
    office_->ClearFailures();
    office_->FailOn("TextRange.Text", 1, number);
    EXPECT_EQ(Extract(*p, kVariantFalse), "") << number << ": ignored whatever its number";
  }
  office_->ClearFailures();
  office_->FailFrom("Slides.Item", 1, kInvalid);
  EXPECT_EQ(Extract(*p, kVariantTrue), Header("")) << "nothing can be reached";
}

TEST_F(SlideText, TableCountersAreNotLimitedTo16Bits) {
  std::vector<std::vector<std::u16string>> rows(32770);  // rows after the first lack their cell
  rows[0] = {u"a"};
  auto p = Open(Table(rows));
  const std::string text = Extract(*p, kVariantFalse);
  EXPECT_TRUE(text.starts_with("(1,1): \r\na\r\n(2,1): \r\n"));
  EXPECT_TRUE(text.ends_with("(32768,1): \r\n(32769,1): \r\n(32770,1): \r\n"));
}

TEST_F(SlideText, GroupTextCollectsItemsInOrderAndCatchesNothing) {
  const struct {
    const char* name; ShapeData shape; std::string text;
    const char* member;  // when set, its nth call fails with `number`, which must come through
    int nth; std::int32_t number;
  } rows[] = {
      {"not a group", TextBox(u"x"), "", "", 0, 0},
      {"nested in place", Group({Group({TextBox(u"A")}), TextBox(u"B"), Group({Group({AutoShape(u"C")})})}),
       "A\r\nB\r\nC\r\n", "", 0, 0},
      {"HasText only of items with a frame", Group({Picture(), Graphic(9)}), "", "TextFrame.HasText", 1, 0},
      {"second item's text", Group({TextBox(u"A"), TextBox(u"B")}), "", "TextRange.Text", 2, kInvalid},
      {"nested group's items", Group({TextBox(u"A"), Group({TextBox(u"B")})}), "", "GroupItems.Count", 2,
       failure::kEFail},
      {"the shape's type", TextBox(u"x"), "", "Shape.Type", 1, 429},
      {"too deep", Nested(300), "", "", 0, 28},
  };
  for (const auto& row : rows) {
    auto p = Open(row.shape);
    auto shape = office::MakeShapeDispatch(p->Slides()->Item(2)->Shapes()->Item(2));
    if (*row.member) office_->FailOn(row.member, row.nth, row.number ? row.number : kInvalid);
    std::u16string got;
    EXPECT_EQ(ThrownNumber([&] { got = converters::TextFromGroupShape(shape); }), row.number) << row.name;
    EXPECT_EQ(text::ToUtf8(got), row.text) << row.name;
  }
  EXPECT_EQ(ThrownNumber([] { converters::TextFromGroupShape(nullptr); }), failure::kObjectNotSet);
}

// A late-bound shape of the host's own whose Type is a text that is no number.
struct TextTyped : Dispatch {
  HResult GetIDOfName(std::u16string_view name, DispId& id) override {
    id = 0;
    return text::EqualsIgnoreCase(name, u"Type") ? S_OK_ : DISP_E_UNKNOWNNAME;
  }
  HResult Invoke(DispId, std::uint16_t, std::span<Variant>, Variant* result, ExcepInfo*) override {
    *result = Variant(u"group");
    return S_OK_;
  }
};

TEST(GroupTextLateBound, ATypeThatIsNoNumberIsATypeMismatch) {
  EXPECT_EQ(ThrownNumber([] { converters::TextFromGroupShape(std::make_shared<TextTyped>()); }), failure::kTypeMismatch);
}

}  // namespace
}  // namespace quorvane::detail
