// Slide text extraction: labels, entries and header lines of every kind of shape, the outcome of
// each failing request, navigation from the presentation at every request, and the group text a
// host can ask for late-bound.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "common/text.hpp"
#include "control/control.hpp"
#include "office/shape_dispatch.hpp"
#include "support/scripted_office.hpp"

namespace quorvane::detail {
namespace {

using testing::Deck;
using testing::ScriptedOffice;
using testing::ShapeData;
namespace ppt = office::ppt;

constexpr std::int32_t kInvalid = failure::kPowerPointInvalidRequest;

std::string Header(const std::string& label) { return "----- Slide(1) Shape(1) " + label + " -----\r\n"; }

class SlideText : public ::testing::Test {
 protected:
  // Opens a one-slide deck holding `shape` as shape 1.
  std::shared_ptr<ppt::Presentation> Open(const ShapeData& shape) {
    office_->AddFile(u"deck.pptx", Deck().Slide({shape}));
    return office_->CreatePowerPoint()->Presentations()->Open(u"deck.pptx", 0, 0, 0);
  }
  std::string Extract(ppt::Presentation& p, VariantBool show, std::int32_t shape = 1) {
    control_.ShowSlideAndShapeNumber = show;
    return text::ToUtf8(control_.ExtractSlideText(p, 1, shape));
  }

  std::shared_ptr<ScriptedOffice> office_ = std::make_shared<ScriptedOffice>();
  Control control_{office_};
};

ShapeData Nested(int depth) {
  ShapeData shape = testing::TextBox(u"deep");
  for (int d = 0; d < depth; ++d) shape = testing::Group({shape});
  return shape;
}

TEST_F(SlideText, LabelsAndEntriesOfEveryKindOfShape) {
  using namespace testing;
  struct Row {
    const char* name;
    ShapeData shape;
    std::string label;
    std::string text;
  };
  const Row rows[] = {
      {"title", Title(u"T"), "** Title **", "T\r\n"},
      {"centred title", CenterTitle(u"C"), "** Title **", "C\r\n"},
      {"body", Body(u"B"), "** Body **", "B\r\n"},
      {"subtitle", Subtitle(u"S"), "** SubTitle **", "S\r\n"},
      {"date", Placeholder(16, u"1.2."), "** Other Placeholder **", "1.2.\r\n"},
      {"footer", Placeholder(15, u"F"), "** Other Placeholder **", "F\r\n"},
      {"object placeholder", Placeholder(7, u"O"), "** Other Placeholder **", "O\r\n"},
      {"empty placeholder", Body(u""), "", ""},
      {"text box, text exactly as read", TextBox(u" a\rb\vc\t "), "** TextBox **", " a\rb\vc\t \r\n"},
      {"non-ASCII text", TextBox(u"Grüße \U0001F600"), "** TextBox **", "Grüße \U0001F600\r\n"},
      {"autoshape with text", AutoShape(u"x"), "** TextBox **", "x\r\n"},
      {"lone paragraph mark is text", AutoShape(u"\r"), "** TextBox **", "\r\r\n"},
      {"empty autoshape", AutoShape(), "", ""},
      {"picture", Picture(), "", ""},
      {"chart", Graphic(3), "", ""},
      {"table, rows outer, empty cell", Table({{u"a", u""}, {u"c", u"d"}}), "** Table **",
       "(1,1): \r\na\r\n(1,2): \r\n\r\n(2,1): \r\nc\r\n(2,2): \r\nd\r\n"},
      {"table, a short row lacks a cell", Table({{u"a", u"b"}, {u"c"}}), "** Table **",
       "(1,1): \r\na\r\n(1,2): \r\nb\r\n(2,1): \r\nc\r\n(2,2): \r\n"},
      {"table without rows", Table({}), "** Table **", ""},
      {"group of two text boxes", Group({TextBox(u"A"), TextBox(u"B")}), "** Group **", "A\r\nB\r\n\r\n"},
      {"group items without text", Group({Picture(), AutoShape(), Table({{u"t"}})}), "", ""},
      {"nested groups in place", Group({TextBox(u"A"), Group({TextBox(u"B"), Group({Title(u"C")})}), TextBox(u"D")}),
       "** Group **", "A\r\nB\r\nC\r\nD\r\n\r\n"},
      {"deep nesting", Nested(100), "** Group **", "deep\r\n\r\n"},
  };
  for (const auto& row : rows) {
    auto p = Open(row.shape);
    EXPECT_EQ(Extract(*p, kVariantFalse), row.text) << row.name;
    EXPECT_EQ(Extract(*p, kVariantTrue), Header(row.label) + row.text) << row.name << ", with header";
    EXPECT_EQ(Extract(*p, 1), row.text) << row.name << ": only -1 adds the header";
  }
}

TEST_F(SlideText, HeaderNamesSlideAndShape) {
  office_->AddFile(u"deck.pptx", Deck().Slide().Slide({testing::Picture(), testing::Title(u"T")}));
  auto p = office_->CreatePowerPoint()->Presentations()->Open(u"deck.pptx", 0, 0, 0);
  control_.ShowSlideAndShapeNumber = kVariantTrue;
  EXPECT_EQ(text::ToUtf8(control_.ExtractSlideText(*p, 2, 2)), "----- Slide(2) Shape(2) ** Title ** -----\r\nT\r\n");
}

TEST_F(SlideText, AFailingRequestIsPassedOverAsTheRulesSay) {
  using namespace testing;
  ShapeData noFrameAtAll = Table({{u"t"}});  // HasTextFrame answers false, the TextFrame request fails
  noFrameAtAll.textFrameFails = true;
  struct Row {
    const char* name;
    ShapeData shape;
    const char* member;  // the nth call of it fails
    int nth;
    std::string label;
    std::string text;
  };
  const Row rows[] = {
      {"HasTextFrame: the test passes", Picture(), "Shape.HasTextFrame", 1, "** TextBox **", ""},
      {"HasText: the test passes", Title(u"T"), "TextFrame.HasText", 1, "** Title **", "T\r\n"},
      {"text frame fails: text box rules only", noFrameAtAll, "", 0, "** TextBox **", ""},
      {"Type in the placeholder test: counts as placeholder", TextBox(u"x"), "Shape.Type", 1, "", ""},
      {"Type in the placeholder test, a real placeholder", Title(u"T"), "Shape.Type", 1, "** Title **", "T\r\n"},
      {"PlaceholderFormat.Type: no label, no text", Title(u"T"), "PlaceholderFormat.Type", 1, "", ""},
      {"placeholder text: label stays", Title(u"T"), "TextRange.Text", 1, "** Title **", ""},
      {"text box text: label stays", TextBox(u"x"), "TextRange.Text", 1, "** TextBox **", ""},
      {"Type in the group step: group text asked all the same", Group({TextBox(u"A")}), "Shape.Type", 1, "** Group **",
       "A\r\n\r\n"},
      {"group text fails: no label, no entry", Group({TextBox(u"A"), TextBox(u"B")}), "TextRange.Text", 2, "", ""},
      {"group item fails: nothing of the group", Group({TextBox(u"A"), TextBox(u"B")}), "GroupItems.Item", 2, "", ""},
      // Calls of Shape.Type: the group step, the group itself, its item, then the table step.
      {"Type in the table step: table label, loops run", Group({TextBox(u"A")}), "Shape.Type", 4, "** Table **",
       "A\r\n\r\n"},
      {"Type in the table step of a picture", Picture(), "Shape.Type", 2, "** Table **", ""},
      {"cell text: the first line of the entry stays", Table({{u"a", u"b"}, {u"c"}}), "TextRange.Text", 2,
       "** Table **", "(1,1): \r\na\r\n(1,2): \r\n(2,1): \r\nc\r\n(2,2): \r\n"},
      {"a cell itself", Table({{u"a", u"b"}}), "Table.Cell", 1, "** Table **", "(1,1): \r\n(1,2): \r\nb\r\n"},
      {"row count", Table({{u"a"}}), "Table.Rows.Count", 1, "** Table **", ""},
      {"column count", Table({{u"a"}}), "Table.Columns.Count", 1, "** Table **", ""},
      {"group nested too deep", Nested(300), "", 0, "", ""},
  };
  for (const auto& row : rows) {
    office_ = std::make_shared<ScriptedOffice>();
    auto p = Open(row.shape);
    if (row.nth > 0) office_->FailOn(row.member, row.nth, kInvalid);
    EXPECT_EQ(Extract(*p, kVariantTrue), Header(row.label) + row.text) << row.name;
  }
}

TEST_F(SlideText, EveryFailureIsIgnoredWhateverItsNumber) {
  auto p = Open(testing::Title(u"T"));
  for (const std::int32_t number : {failure::kEFail, failure::kEInvalidArg, 429, 55, 75}) {
    office_->ClearFailures();
    office_->FailOn("TextRange.Text", 1, number);
    EXPECT_EQ(Extract(*p, kVariantFalse), "") << number;
  }
  office_->ClearFailures();
  office_->FailFrom("Slides.Item", 1, kInvalid);
  EXPECT_EQ(Extract(*p, kVariantTrue), Header("")) << "nothing can be reached";
}

TEST_F(SlideText, EveryRequestNavigatesFromThePresentation) {
  using namespace testing;
  for (const ShapeData& shape : {Title(u"T"), Table({{u"a", u"b"}, {u"c", u"d"}}), Group({TextBox(u"A")})}) {
    office_ = std::make_shared<ScriptedOffice>();
    auto p = Open(shape);
    office_->ClearLog();
    Extract(*p, kVariantTrue);
    const auto log = office_->Log();
    int requests = 0;
    for (std::size_t n = 0; n < log.size(); ++n) {
      if (log[n] != "Shapes.Item(1)") continue;
      ++requests;
      ASSERT_GE(n, 3u);
      EXPECT_EQ(log[n - 3], "Presentation.Slides");
      EXPECT_EQ(log[n - 2], "Slides.Item(1)");
      EXPECT_EQ(log[n - 1], "Slide.Shapes");
    }
    EXPECT_EQ(requests, static_cast<int>(office_->Log("Presentation.Slides").size()));
    EXPECT_GE(requests, 4);
  }
}

TEST_F(SlideText, TableCountersAreNotLimitedTo16Bits) {
  // A table that claims more rows than 16-bit counters could count; rows past the first lack cells.
  struct ManyRows : testing::ForwardingTable {
    using ForwardingTable::ForwardingTable;
    std::int32_t RowsCount() override { return 32770; }
  };
  office_->Wrap<ppt::Table>([](std::shared_ptr<ppt::Table> inner, const testing::Site&) -> std::shared_ptr<ppt::Table> {
    return std::make_shared<ManyRows>(std::move(inner));
  });
  auto p = Open(testing::Table({{u"a"}}));
  const std::string text = Extract(*p, kVariantFalse);
  EXPECT_TRUE(text.starts_with("(1,1): \r\na\r\n(2,1): \r\n"));
  EXPECT_TRUE(text.ends_with("(32767,1): \r\n(32768,1): \r\n(32769,1): \r\n(32770,1): \r\n"));
}

// --- TextFromGroupShape ----------------------------------------------------------------------

class GroupText : public SlideText {
 protected:
  std::shared_ptr<Dispatch> ShapeOf(const ShapeData& shape) {
    presentation_ = Open(shape);
    return office::MakeShapeDispatch(presentation_->Slides()->Item(1)->Shapes()->Item(1));
  }
  std::shared_ptr<ppt::Presentation> presentation_;
};

TEST_F(GroupText, CollectsTheItemsInOrderWithoutMarkers) {
  using namespace testing;
  const struct {
    const char* name;
    ShapeData shape;
    std::string text;
  } rows[] = {
      {"not a group", TextBox(u"x"), ""},
      {"two text boxes", Group({TextBox(u"A"), TextBox(u"B")}), "A\r\nB\r\n"},
      {"nested in place", Group({Group({TextBox(u"A")}), TextBox(u"B"), Group({Group({AutoShape(u"C")})})}),
       "A\r\nB\r\nC\r\n"},
      {"items without text contribute nothing", Group({Picture(), TextBox(u""), Body(u"b")}), "b\r\n"},
      {"empty group", Group({}), ""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(text::ToUtf8(control_.TextFromGroupShape(ShapeOf(row.shape))), row.text) << row.name;
}

TEST_F(GroupText, AsksHasTextOnlyOfItemsWithATextFrame) {
  auto shape = ShapeOf(testing::Group({testing::Picture(), testing::Graphic(9)}));
  office_->ClearLog();
  EXPECT_EQ(control_.TextFromGroupShape(shape), u"");
  EXPECT_EQ(office_->Log("Shape.HasTextFrame").size(), 2u);
  EXPECT_TRUE(office_->Log("TextFrame.HasText").empty());
}

TEST_F(GroupText, CatchesNothing) {
  using namespace testing;
  const struct {
    const char* name;
    ShapeData shape;
    const char* member;  // the nth call of it fails with `number`
    int nth;
    std::int32_t number;
  } rows[] = {
      {"second item's text", Group({TextBox(u"A"), TextBox(u"B")}), "TextRange.Text", 2, kInvalid},
      {"nested group's items", Group({TextBox(u"A"), Group({TextBox(u"B")})}), "GroupItems.Count", 2, failure::kEFail},
      {"the shape's type", TextBox(u"x"), "Shape.Type", 1, 429},
      {"too deep", Nested(300), "", 0, 28},
  };
  for (const auto& row : rows) {
    office_ = std::make_shared<ScriptedOffice>();
    auto shape = ShapeOf(row.shape);
    if (row.nth > 0) office_->FailOn(row.member, row.nth, row.number);
    try {
      control_.TextFromGroupShape(shape);
      ADD_FAILURE() << row.name << ": no failure";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), row.number) << row.name;
    }
  }
  try {
    control_.TextFromGroupShape(nullptr);
    ADD_FAILURE() << "no failure for an unset object";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), failure::kObjectNotSet);
  }
}

// A late-bound shape of another kind than the object model's adapter: members answered from a
// table, by name in any letter case, values of any automation type that converts.
class TableShape : public Dispatch {
 public:
  explicit TableShape(std::map<std::u16string, Variant> members) : members_(std::move(members)) {}
  HResult GetIDOfName(std::u16string_view name, DispId& id) override {
    DispId n = 0;
    for (const auto& [member, value] : members_) {
      if (text::EqualsIgnoreCase(member, name)) {
        id = n;
        return S_OK_;
      }
      ++n;
    }
    return DISP_E_UNKNOWNNAME;
  }
  HResult Invoke(DispId id, std::uint16_t, std::span<Variant>, Variant* result, ExcepInfo*) override {
    auto it = members_.begin();
    std::advance(it, id);
    if (it->first == u"Next") {
      if (next_ < items_.size())
        *result = Variant(items_[next_++]);
      else
        *result = Variant();
    } else {
      *result = it->second;
    }
    return S_OK_;
  }
  std::vector<std::shared_ptr<Dispatch>> items_;
  std::size_t next_ = 0;

 private:
  std::map<std::u16string, Variant> members_;
};

TEST(GroupTextLateBound, AnyDispatchWithTheMembersWillDo) {
  auto range = std::make_shared<TableShape>(std::map<std::u16string, Variant>{{u"TEXT", Variant(u"A")}});
  auto frame = std::make_shared<TableShape>(std::map<std::u16string, Variant>{
      {u"hastext", Variant::Bool(kVariantTrue)}, {u"textrange", Variant(std::shared_ptr<Dispatch>(range))}});
  auto item = std::make_shared<TableShape>(
      std::map<std::u16string, Variant>{{u"type", Variant(std::int16_t{17})},
                                        {u"hastextframe", Variant::Bool(1)},
                                        {u"textframe", Variant(std::shared_ptr<Dispatch>(frame))}});
  auto enumerator = std::make_shared<TableShape>(std::map<std::u16string, Variant>{{u"Next", Variant()}});
  enumerator->items_ = {item, item};
  auto items = std::make_shared<TableShape>(
      std::map<std::u16string, Variant>{{u"_newenum", Variant(std::shared_ptr<Dispatch>(enumerator))}});
  auto group = std::make_shared<TableShape>(std::map<std::u16string, Variant>{
      {u"Type", Variant(u"6")}, {u"GroupItems", Variant(std::shared_ptr<Dispatch>(items))}});
  Control control(nullptr);
  EXPECT_EQ(control.TextFromGroupShape(group), u"A\r\nA\r\n");

  auto odd = std::make_shared<TableShape>(std::map<std::u16string, Variant>{{u"Type", Variant(u"group")}});
  try {
    control.TextFromGroupShape(odd);
    ADD_FAILURE() << "no failure";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), failure::kTypeMismatch);
  }
}

}  // namespace
}  // namespace quorvane::detail
