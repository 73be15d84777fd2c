// The deck builder: what it builds opens in the engine with exactly the content planned, and plans
// it cannot write are refused saying where and why.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/model.hpp"
#include "support/fixtures.hpp"

namespace quorvane::engines::pptx {
namespace {

namespace b = builder;
namespace ppt = office::ppt;

// Checks a shape and, for tables and groups, their contents against the plan it was built from.
void ExpectShape(ppt::Shape& shape, const b::ShapePlan& plan, std::int32_t number, const std::string& where) {
  SCOPED_TRACE(where);
  ASSERT_EQ(shape.Type(), b::ExpectedType(plan));
  if (shape.HasTextFrame()) { EXPECT_EQ(shape.TextFrame()->TextRange()->Text(), b::ExpectedText(plan, number)); }
  if (plan.kind == b::ShapeKind::Table) {
    const auto table = shape.Table();
    ASSERT_EQ(table->RowsCount(), static_cast<std::int32_t>(plan.table.cells.size()));
    for (std::size_t r = 0; r < plan.table.cells.size(); ++r)
      for (std::size_t c = 0; c < plan.table.cells[r].size(); ++c)
        EXPECT_EQ(table->Cell(std::int32_t(r + 1), std::int32_t(c + 1))->Shape()->TextFrame()->TextRange()->Text(),
                  plan.table.cells[r][c]);
  }
  if (plan.kind == b::ShapeKind::Group) {
    const auto items = shape.GroupItems();
    ASSERT_EQ(items->Count(), static_cast<std::int32_t>(plan.children.size()));
    for (std::size_t k = 0; k < plan.children.size(); ++k)
      ExpectShape(*items->Item(std::int32_t(k + 1)), plan.children[k], number, where + "." + std::to_string(k + 1));
  }
}

// One slide of every kind of shape with the text the builder must get exactly right.
b::DeckPlan EveryKind() {
  b::ShapePlan split = b::TextBox(u"abcdef\r\nnext\nthird\va\tb <&>\"' \U0001F680");
  split.runBreaks = {2, 4, 4};
  b::ShapePlan fields = b::TextBox(u"Page a\rbc");
  fields.fields = {{5, "slidenum", u"9"}, {5, "datetime1", u"1/2/2024"}, {8, "slidenum", u"#"}};
  b::ShapePlan bare = b::AutoShape("rect");
  bare.omitTextBody = true;
  b::ShapePlan vertical = b::PlaceholderShape("title", std::nullopt, u"V");
  vertical.placeholder->vertical = true;
  b::ShapePlan pictureHolder = b::Picture();
  pictureHolder.placeholder = b::PlaceholderSpec{"pic", 13u, false, {}};
  b::ShapePlan tableHolder = b::Table({{u"x"}});
  tableHolder.placeholder = b::PlaceholderSpec{"tbl", 14u, false, {}};
  b::ShapePlan merged = b::Table({{u"a", u"b", u"c"}, {u"d", u"", u""}, {u"g", u"h"}});
  merged.table.merges = {{1, 1, 2, 2}, {0, 0, 1, 2}};
  b::ShapePlan equation = b::Equation({u"a", u"+", u"b"});
  equation.text = u"Sum:";
  b::SlidePlan slide{{b::Title(u"T"), b::CenterTitle(u"C"), b::Subtitle(u"S"), b::Body(u""), vertical,
                      b::PlaceholderShape("dt", 10u, u"1/1/2024"), b::PlaceholderShape("", 13u, u"O"),
                      b::SlideNumberPlaceholder(12), b::TextBox(std::u16string(u"a") + char16_t(0xD800) + u"b"),
                      split, fields, b::AutoShape("ellipse", u"E1\rE2"), bare, b::Freeform(u"F"), b::Picture(),
                      pictureHolder, merged, tableHolder, b::Connector(), b::Chart(), equation,
                      b::Group({b::TextBox(u"g"), b::Group({b::Picture(), b::Equation({u"x"})})})},
                     b::NotesPage(u"Say this\rthen that"), true, false, {}};
  return {b::kDefaultSlideWidth, b::kDefaultSlideHeight, 3, {b::SlidePlan{}, b::SlidePlan{}, slide}, {}};
}

TEST(DeckBuilder, BuiltDecksOpenInTheEngineAsPlanned) {
  testing::TempFolder dir;
  b::DeckPlan generated = b::Generated(40, 7);
  generated.firstSlideNumber = 5;
  const std::pair<const char*, b::DeckPlan> decks[] = {
      {"every kind", EveryKind()}, {"sample", b::Sample()}, {"generated", generated}, {"blank", b::Blank()}};
  const auto app = CreateApplication();
  for (const auto& [name, plan] : decks) {
    SCOPED_TRACE(name);
    const auto path = dir / (std::string(name) + ".pptx");
    b::Write(plan, path.string());
    EXPECT_EQ(b::Render(plan).parts.back().bytes, b::Render(plan).parts.back().bytes) << "deterministic";
    const auto presentation = app->Presentations()->Open(text::FromUtf8(path.string()), 0, 0, 0);
    const auto slides = presentation->Slides();
    ASSERT_EQ(slides->Count(), static_cast<std::int32_t>(plan.slides.size()));
    EXPECT_FLOAT_EQ(presentation->PageSetup()->SlideWidth(), float(plan.slideWidthEmu) / 12700.0f);
    for (std::size_t i = 0; i < plan.slides.size(); ++i) {
      const auto& spec = plan.slides[i];
      const auto slide = slides->Item(std::int32_t(i + 1));
      const auto shapes = slide->Shapes();
      ASSERT_EQ(shapes->Count(), static_cast<std::int32_t>(spec.shapes.size())) << "slide " << i + 1;
      for (std::size_t j = 0; j < spec.shapes.size(); ++j)
        ExpectShape(*shapes->Item(std::int32_t(j + 1)), spec.shapes[j], std::int32_t(i) + plan.firstSlideNumber,
                    "slide " + std::to_string(i + 1) + " shape " + std::to_string(j + 1));
      // The notes page holds the slide picture first, then the notes (a fresh page without notes).
      const auto notes = slide->NotesPage()->Shapes();
      EXPECT_GE(notes->Count(), spec.notes ? std::int32_t(spec.notes->size()) : 2);
      EXPECT_EQ(notes->Placeholders()->Item(1)->PlaceholderFormat()->Type(), kPlaceholderSlideImage);
      if (spec.notes) {
        EXPECT_EQ(notes->Placeholders()->Item(2)->TextFrame()->TextRange()->Text(),
                  b::ExpectedText(spec.notes->front()));
}
    }
    presentation->Close();
  }
  app->Quit();
}

TEST(DeckBuilder, PlansThatCannotBeWrittenAreRefusedWithWhereAndWhy) {
  const auto one = [](std::vector<b::ShapePlan> shapes) {
    return b::DeckPlan{b::kDefaultSlideWidth, b::kDefaultSlideHeight, 1, {b::SlidePlan{shapes, {}, true, false, {}}}, {}};
  };
  const auto with = [](b::ShapePlan shape, auto change) { return change(shape), shape; };
  b::ShapePlan deep = b::TextBox(u"x");
  for (int i = 0; i <= b::kMaxNesting + 1; ++i) deep = b::Group({std::move(deep)});
  b::DeckPlan narrow = one({});
  narrow.slideWidthEmu = 1000;
  const std::pair<b::DeckPlan, const char*> rows[] = {
      {one({b::Title(u"ok"), b::TextBox(u"a\x01z")}), "slide 1, shape 2: the text holds U+0001 at offset 1"},
      {one({b::Table({{u"a", u"\x1F"}})}), "cell (1, 2)"},
      {b::DeckPlan{b::kDefaultSlideWidth, b::kDefaultSlideHeight, 1,
                   {b::SlidePlan{{}, b::NotesPage(u"\x02"), true, false, {}}}, {}},
       "slide 1, notes, shape 2"},
      {one({with(b::Table({{u"a", u"b"}}), [](auto& s) { s.table.merges = {{0, 1, 1, 2}}; })}),
       "reaches outside the table"},
      {one({with(b::Table({{u"a", u"b"}, {u"c", u"d"}}),
                 [](auto& s) { s.table.merges = {{0, 0, 2, 1}, {1, 0, 1, 2}}; })}),
       "merged ranges overlap"},
      {one({with(b::TextBox(u"ab"), [](auto& s) { s.fields = {{3, "slidenum", u"1"}}; })}), "beyond the text"},
      {one({with(b::TextBox(u"ab"), [](auto& s) { s.fields = {{0, "slidenum", u"1\r2"}}; })}),
       "a field's text holds a line break"},
      {one({with(b::ShapePlan{}, [](auto& s) { s.kind = b::ShapeKind::Placeholder; })}), "needs its PlaceholderSpec"},
      {one({with(b::Group({}), [](auto& s) { s.placeholder = b::PlaceholderSpec{"obj", 1u, false, {}}; })}),
       "cannot be a placeholder"},
      {one({deep}), "nested deeper than"},
      {narrow, "the slide width 1000 EMU"},
      {one({with(b::Picture(), [](auto& s) { s.text = u"caption"; })}), "text is given for a shape without a text body"},
      {one({with(b::AutoShape("rect", u"lost"), [](auto& s) { s.omitTextBody = true; })}),
       "text is given for a shape without a text body"},
      {one({with(b::TextBox(u"x"), [](auto& s) { s.frame = b::Frame{0, 0, -5, 10}; })}), "negative size"},
  };
  for (const auto& [plan, message] : rows) {
    try {
      b::Render(plan);
      ADD_FAILURE() << message << ": not refused";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << message << ": " << e.what();
    }
  }
  testing::TempFolder dir;
  try {
    b::Write(b::Blank(), (dir / "missing" / "deck.pptx").string());
    ADD_FAILURE() << "written into a missing folder";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), hresult::kPathNotFound);
  }
}

}  // namespace
}  // namespace quorvane::engines::pptx
