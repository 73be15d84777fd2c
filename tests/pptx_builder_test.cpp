// The deck builder: each kind of shape comes out as the XML the object model maps to its type,
// text comes back exactly, and every deck is a consistent package (relationships, content types,
// the presentation's lists), also after a trip through the package layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/xml.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::engines::pptx {
namespace {

namespace b = builder;
using xml::Node;

const std::string kSlide1 = "/ppt/slides/slide1.xml";

std::string Utf8(std::u16string_view text) { return xml::ToUtf8(text); }

// A parsed part of a built deck; keeps its document alive.
struct Parsed {
  std::shared_ptr<xml::Document> doc;
  Node root() const { return doc->root(); }
};

Parsed Parse(const b::BuiltDeck& deck, const std::string& partName) {
  const b::BuiltPart* part = deck.Find(partName);
  if (!part) throw std::runtime_error("no part " + partName);
  return {xml::Document::Parse(part->bytes, partName)};
}

b::DeckPlan OneSlide(std::vector<b::ShapePlan> shapes) {
  b::DeckPlan deck;
  deck.slides.push_back(b::SlidePlan{std::move(shapes), std::nullopt, true, false, {}});
  return deck;
}

// The shapes of a shape tree as a reader sees them (AlternateContent resolved).
std::vector<Node> Shapes(Node tree) {
  std::vector<Node> out;
  for (Node child : xml::Children(tree)) {
    std::string_view name = child.name();
    if (name != "p:nvGrpSpPr" && name != "p:grpSpPr" && name != "p:extLst") out.push_back(child);
  }
  return out;
}

Node NvPr(Node shape) {
  for (Node child : xml::Children(shape)) {
    std::string_view name = child.name();
    if (name.size() > 2 && name.substr(0, 4) == "p:nv") return xml::Child(child, "p:nvPr");
  }
  return {};
}

// Shape.Type by the object model's mapping from PresentationML.
int TypeOf(Node shape) {
  std::string_view name = shape.name();
  if (xml::Child(NvPr(shape), "p:ph")) return 14;
  if (name == "p:sp") {
    if (xml::BoolAttr(xml::Path(shape, "p:nvSpPr/p:cNvSpPr"), "txBox", false)) return 17;
    if (xml::Path(shape, "p:spPr/a:custGeom")) return 5;
    return 1;
  }
  if (name == "p:grpSp") return 6;
  if (name == "p:pic") return 13;
  if (name == "p:cxnSp") return 9;
  if (name == "p:graphicFrame") {
    std::string_view uri = xml::Attr(xml::Path(shape, "a:graphic/a:graphicData"), "uri");
    if (uri == "http://schemas.openxmlformats.org/drawingml/2006/table") return 19;
    if (uri == "http://schemas.openxmlformats.org/drawingml/2006/chart") return 3;
    return 28;
  }
  return -1;
}

// Resolves a relative target against its source part, as the packaging rules say.
std::string Resolve(const std::string& source, const std::string& target) {
  std::string base = source == "/" ? "/" : source.substr(0, source.rfind('/') + 1);
  std::vector<std::string> segments;
  std::string path = target.front() == '/' ? target : base + target;
  std::size_t start = 1;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string segment = path.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::string out;
  for (const auto& s : segments) out += "/" + s;
  return out;
}

const Relationship* RelationshipById(const b::BuiltDeck& deck, const std::string& source, std::string_view id) {
  const auto* rels = deck.RelationshipsOf(source);
  if (!rels) return nullptr;
  for (const auto& rel : *rels) {
    if (rel.id == id) return &rel;
  }
  return nullptr;
}

// --- Shape kinds ---------------------------------------------------------------------------------

TEST(DeckBuilder, EachKindOfShapeIsWrittenAsTheObjectModelReadsIt) {
  b::ShapePlan pictureHolder = b::Picture();
  pictureHolder.placeholder = b::PlaceholderSpec{"pic", 13u, false, {}};
  b::ShapePlan tableHolder = b::Table({{u"x"}});
  tableHolder.placeholder = b::PlaceholderSpec{"tbl", 14u, false, {}};
  b::ShapePlan bare = b::AutoShape("rect");
  bare.omitTextBody = true;
  b::ShapePlan vertical = b::PlaceholderShape("title", std::nullopt, u"V");
  vertical.placeholder->vertical = true;

  struct Row {
    const char* name;
    b::ShapePlan shape;
    std::string element;
    int type;
    std::function<void(const b::BuiltDeck&, Node)> check;
  };
  auto ph = [](std::string type, std::string idx) {
    return [type, idx](const b::BuiltDeck&, Node shape) {
      Node p = xml::Child(NvPr(shape), "p:ph");
      ASSERT_TRUE(p);
      EXPECT_EQ(xml::Attr(p, "type", "(none)"), type);
      EXPECT_EQ(xml::Attr(p, "idx", "(none)"), idx);
    };
  };
  auto picture = [](const b::BuiltDeck& deck, Node shape) {
    auto id = xml::Attr(xml::Path(shape, "p:blipFill/a:blip"), "r:embed");
    const Relationship* rel = RelationshipById(deck, kSlide1, id);
    ASSERT_NE(rel, nullptr);
    EXPECT_EQ(rel->type, b::rel_type::kImage);
    EXPECT_EQ(Resolve(kSlide1, rel->target), "/ppt/media/image1.png");
    ASSERT_NE(deck.Find("/ppt/media/image1.png"), nullptr);
    EXPECT_EQ(deck.Find("/ppt/media/image1.png")->bytes.substr(1, 3), "PNG");
  };
  const Row rows[] = {
      {"title", b::Title(u"T"), "p:sp", 14, ph("title", "(none)")},
      {"centred title", b::CenterTitle(u"C"), "p:sp", 14, ph("ctrTitle", "(none)")},
      {"subtitle", b::Subtitle(u"S"), "p:sp", 14, ph("subTitle", "1")},
      {"body", b::Body(u"B"), "p:sp", 14, ph("body", "1")},
      {"date", b::PlaceholderShape("dt", 10u, u"1/1/2024"), "p:sp", 14, ph("dt", "10")},
      {"footer", b::PlaceholderShape("ftr", 11u, u"F"), "p:sp", 14, ph("ftr", "11")},
      {"slide number", b::SlideNumberPlaceholder(12), "p:sp", 14, ph("sldNum", "12")},
      {"object without type", b::PlaceholderShape("", 13u, u"O"), "p:sp", 14, ph("(none)", "13")},
      {"vertical title", vertical, "p:sp", 14,
       [](const b::BuiltDeck&, Node shape) {
         EXPECT_EQ(xml::Attr(xml::Child(NvPr(shape), "p:ph"), "orient"), "vert");
       }},
      {"text box", b::TextBox(u"X"), "p:sp", 17, nullptr},
      {"autoshape", b::AutoShape("ellipse", u"E"), "p:sp", 1,
       [](const b::BuiltDeck&, Node shape) {
         EXPECT_EQ(xml::Attr(xml::Path(shape, "p:spPr/a:prstGeom"), "prst"), "ellipse");
         EXPECT_TRUE(xml::Child(shape, "p:txBody"));
       }},
      {"autoshape without text body", bare, "p:sp", 1,
       [](const b::BuiltDeck&, Node shape) { EXPECT_FALSE(xml::Child(shape, "p:txBody")); }},
      {"freeform", b::Freeform(), "p:sp", 5,
       [](const b::BuiltDeck&, Node shape) {
         EXPECT_EQ(xml::ChildrenNamed(xml::Path(shape, "p:spPr/a:custGeom/a:pathLst/a:path"), "a:lnTo").size(), 2u);
       }},
      {"picture", b::Picture(), "p:pic", 13, picture},
      {"picture placeholder", pictureHolder, "p:pic", 14, picture},
      {"table", b::Table({{u"a", u"b"}}), "p:graphicFrame", 19, nullptr},
      {"table placeholder", tableHolder, "p:graphicFrame", 14, ph("tbl", "14")},
      {"group", b::Group({b::TextBox(u"g")}), "p:grpSp", 6, nullptr},
      {"connector", b::Connector(), "p:cxnSp", 9, nullptr},
      {"chart", b::Chart(), "p:graphicFrame", 3,
       [](const b::BuiltDeck& deck, Node shape) {
         auto id = xml::Attr(xml::Path(shape, "a:graphic/a:graphicData/c:chart"), "r:id");
         const Relationship* rel = RelationshipById(deck, kSlide1, id);
         ASSERT_NE(rel, nullptr);
         EXPECT_EQ(rel->type, b::rel_type::kChart);
         ASSERT_NE(deck.Find(Resolve(kSlide1, rel->target)), nullptr);
         Parsed chart = Parse(deck, rel->partName);
         Node values = xml::Path(chart.root(), "c:chart/c:plotArea/c:barChart/c:ser/c:val/c:numLit");
         EXPECT_EQ(xml::ChildrenNamed(values, "c:pt").size(), 3u);
       }},
      {"equation", b::Equation({u"x", u"="}), "p:sp", 17,
       [](const b::BuiltDeck& deck, Node shape) {
         EXPECT_TRUE(xml::Path(shape, "p:txBody/a:p/a14:m/m:oMathPara/m:oMath"));
         // Written as PowerPoint writes it: the whole shape inside mc:AlternateContent.
         Parsed slide = Parse(deck, kSlide1);
         Node alternate = xml::Path(slide.root(), "p:cSld").child("p:spTree").child("mc:AlternateContent");
         ASSERT_TRUE(alternate);
         EXPECT_EQ(xml::Attr(alternate.child("mc:Choice"), "Requires"), "a14");
         Node fallback = alternate.child("mc:Fallback").child("p:sp");
         EXPECT_TRUE(fallback.child("p:spPr").child("a:blipFill"));
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    b::BuiltDeck deck = b::Render(OneSlide({row.shape}));
    Parsed slide = Parse(deck, kSlide1);
    auto shapes = Shapes(xml::Path(slide.root(), "p:cSld/p:spTree"));
    ASSERT_EQ(shapes.size(), 1u);
    EXPECT_EQ(std::string(shapes[0].name()), row.element);
    EXPECT_EQ(TypeOf(shapes[0]), row.type);
    EXPECT_EQ(b::ExpectedType(row.shape), row.type);
    if (row.check) row.check(deck, shapes[0]);
  }
}

TEST(DeckBuilder, ShapesAreNumberedAndNamedInTreeOrder) {
  b::BuiltDeck deck = b::Render(OneSlide(
      {b::Title(u"T"), b::Group({b::TextBox(u"a"), b::Group({b::Picture()})}), b::Equation({u"y"}), b::Connector()}));
  Parsed slide = Parse(deck, kSlide1);
  std::vector<std::pair<std::string, std::string>> seen;
  std::function<void(Node)> walk = [&](Node node) {
    for (Node shape : Shapes(node)) {
      Node cNvPr = xml::Child(shape.first_child(), "p:cNvPr");
      seen.emplace_back(xml::Attr(cNvPr, "id"), xml::Attr(cNvPr, "name"));
      if (std::string_view(shape.name()) == "p:grpSp") walk(shape);
    }
  };
  walk(xml::Path(slide.root(), "p:cSld/p:spTree"));
  const std::vector<std::pair<std::string, std::string>> expected{
      {"2", "Title 1"},   {"3", "Group 2"},   {"4", "TextBox 3"},           {"5", "Group 4"},
      {"6", "Picture 5"}, {"7", "TextBox 6"}, {"8", "Straight Connector 7"}};
  EXPECT_EQ(seen, expected);
}

TEST(DeckBuilder, GroupFramesEncloseTheirMembers) {
  b::ShapePlan first = b::TextBox(u"a");
  first.frame = b::Frame{100, 200, 1000, 500};
  b::ShapePlan second = b::AutoShape("rect");
  second.frame = b::Frame{600, 50, 2000, 300};
  b::BuiltDeck deck = b::Render(OneSlide({b::Group({first, b::Group({second})})}));
  Parsed slide = Parse(deck, kSlide1);
  Node xfrm = xml::Path(slide.root(), "p:cSld/p:spTree/p:grpSp/p:grpSpPr/a:xfrm");
  EXPECT_EQ(xml::IntAttr(xml::Child(xfrm, "a:off"), "x", -1), 100);
  EXPECT_EQ(xml::IntAttr(xml::Child(xfrm, "a:off"), "y", -1), 50);
  EXPECT_EQ(xml::IntAttr(xml::Child(xfrm, "a:ext"), "cx", -1), 2500);
  EXPECT_EQ(xml::IntAttr(xml::Child(xfrm, "a:ext"), "cy", -1), 650);
  EXPECT_EQ(xml::IntAttr(xml::Child(xfrm, "a:chExt"), "cx", -1), 2500);
}

// --- Text ----------------------------------------------------------------------------------------

TEST(DeckBuilder, TextComesBackExactlyWithItsParagraphsBreaksAndFields) {
  struct Row {
    const char* name;
    std::u16string text;
    std::vector<b::FieldSpec> fields;
    std::u16string expected;  // TextRange.Text on slide 3
    std::size_t paragraphs;
    std::size_t breaks;
    std::string rawFragment;  // must appear in the part as written
  };
  const Row rows[] = {
      {"empty", u"", {}, u"", 1, 0, "<a:p><a:endParaRPr"},
      {"one paragraph", u"abc", {}, u"abc", 1, 0, "<a:t>abc</a:t>"},
      {"CR starts a paragraph", u"a\rb", {}, u"a\rb", 2, 0, ""},
      {"LF starts a paragraph", u"a\nb", {}, u"a\rb", 2, 0, ""},
      {"CR LF counts once", u"a\r\nb", {}, u"a\rb", 2, 0, ""},
      {"a lone CR is two empty paragraphs", u"\r", {}, u"\r", 2, 0, ""},
      {"VT is a line break", u"a\vb", {}, u"a\vb", 1, 1, "<a:br>"},
      {"markup characters are escaped", u"<&>\"'", {}, u"<&>\"'", 1, 0, "<a:t>&lt;&amp;&gt;\"'</a:t>"},
      {"a text of one space is kept", u" ", {}, u" ", 1, 0, "<a:t> </a:t>"},
      {"tab and spaces are kept", u"  a\tb  ", {}, u"  a\tb  ", 1, 0, "<a:t>  a\tb  </a:t>"},
      {"astral characters", u"x\U0001F680y", {}, u"x\U0001F680y", 1, 0, "x\xF0\x9F\x9A\x80y"},
      {"unpaired surrogate",
       std::u16string(u"a") + char16_t(0xD800) + u"b",
       {},
       u"a\uFFFDb",
       1,
       0,
       "a\xEF\xBF\xBD"
       "b"},
      {"slide number field", u"Page ", {{5, "slidenum", u"9"}}, u"Page 3", 1, 0, "type=\"slidenum\""},
      {"other field shows its text",
       u"on ",
       {{3, "datetime1", u"1/2/2024"}},
       u"on 1/2/2024",
       1,
       0,
       "<a:t>1/2/2024</a:t></a:fld>"},
      {"field inside the second paragraph", u"a\rbc", {{3, "slidenum", u"#"}}, u"a\rb3c", 2, 0, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    b::ShapePlan shape = b::TextBox(row.text);
    shape.fields = row.fields;
    EXPECT_EQ(Utf8(b::ExpectedText(shape, 3)), Utf8(row.expected));
    b::BuiltDeck deck = b::Render(OneSlide({shape}));
    Parsed slide = Parse(deck, kSlide1);
    Node body = xml::Path(slide.root(), "p:cSld/p:spTree/p:sp/p:txBody");
    ASSERT_TRUE(body);
    EXPECT_EQ(Utf8(xml::TextOfBody(body, 3)), Utf8(row.expected));
    auto paragraphs = xml::ChildrenNamed(body, "a:p");
    EXPECT_EQ(paragraphs.size(), row.paragraphs);
    std::size_t breaks = 0;
    for (Node p : paragraphs) breaks += xml::ChildrenNamed(p, "a:br").size();
    EXPECT_EQ(breaks, row.breaks);
    EXPECT_NE(deck.Find(kSlide1)->bytes.find(row.rawFragment), std::string::npos) << row.rawFragment;
  }
}

TEST(DeckBuilder, RunBreaksSplitTextOverRuns) {
  b::ShapePlan shape = b::TextBox(u"abcdef");
  shape.runBreaks = {2, 4, 4};
  b::BuiltDeck deck = b::Render(OneSlide({shape}));
  Parsed slide = Parse(deck, kSlide1);
  Node p = xml::Path(slide.root(), "p:cSld/p:spTree/p:sp/p:txBody/a:p");
  auto runs = xml::ChildrenNamed(p, "a:r");
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_STREQ(xml::Child(runs[2], "a:t").text().get(), "ef");
}

TEST(DeckBuilder, EveryShapeKindReadsBackItsExpectedText) {
  b::ShapePlan equation = b::Equation({u"a", u"+", u"b"});
  equation.text = u"Sum:";
  b::ShapePlan table = b::Table({{u"cell"}});
  const std::vector<b::ShapePlan> shapes{b::Title(u"T\vx"),
                                         b::AutoShape("ellipse", u"E1\rE2"),
                                         b::Freeform(u"F"),
                                         equation,
                                         b::Equation({u"x", u"\u00B2"}),
                                         b::Picture(),
                                         table,
                                         b::Connector(),
                                         b::SlideNumberPlaceholder()};
  const std::vector<std::u16string> expected{u"T\vx", u"E1\rE2", u"F", u"Sum:\ra+b", u"x\u00B2", u"", u"", u"", u"4"};
  b::BuiltDeck deck = b::Render(OneSlide(shapes));
  Parsed slide = Parse(deck, kSlide1);
  auto nodes = Shapes(xml::Path(slide.root(), "p:cSld/p:spTree"));
  ASSERT_EQ(nodes.size(), shapes.size());
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    SCOPED_TRACE(i + 1);
    EXPECT_EQ(Utf8(b::ExpectedText(shapes[i], 4)), Utf8(expected[i]));
    Node body = xml::Child(nodes[i], "p:txBody");
    EXPECT_EQ(Utf8(body ? xml::TextOfBody(body, 4) : std::u16string()), Utf8(expected[i]));
  }
}

// --- Tables ----------------------------------------------------------------------------------------

TEST(DeckBuilder, TablesWriteGridMergesAndShortRows) {
  b::ShapePlan table = b::Table({{u"a", u"b", u"c"}, {u"d", u"", u""}, {u"g", u"h"}});
  table.table.merges = {{1, 1, 2, 2}, {0, 0, 1, 2}};
  b::BuiltDeck deck = b::Render(OneSlide({table}));
  Parsed slide = Parse(deck, kSlide1);
  Node tbl = xml::Path(slide.root(), "p:cSld/p:spTree/p:graphicFrame/a:graphic/a:graphicData/a:tbl");
  ASSERT_TRUE(tbl);
  EXPECT_EQ(xml::ChildrenNamed(xml::Child(tbl, "a:tblGrid"), "a:gridCol").size(), 3u);
  auto rows = xml::ChildrenNamed(tbl, "a:tr");
  ASSERT_EQ(rows.size(), 3u);
  struct Cell {
    std::size_t row, column;
    const char* attribute;
    std::string_view value;
  };
  const Cell cells[] = {{0, 0, "gridSpan", "2"}, {0, 1, "hMerge", "1"}, {1, 1, "gridSpan", "2"}, {1, 1, "rowSpan", "2"},
                        {1, 2, "hMerge", "1"},   {2, 1, "vMerge", "1"}, {0, 2, "gridSpan", ""},  {1, 0, "rowSpan", ""}};
  for (const auto& c : cells) {
    SCOPED_TRACE(std::to_string(c.row) + "," + std::to_string(c.column) + " " + c.attribute);
    auto tcs = xml::ChildrenNamed(rows[c.row], "a:tc");
    ASSERT_LT(c.column, tcs.size());
    EXPECT_EQ(xml::Attr(tcs[c.column], c.attribute), c.value);
  }
  EXPECT_EQ(xml::ChildrenNamed(rows[2], "a:tc").size(), 2u);  // the short row stays short
  EXPECT_EQ(Utf8(xml::TextOfBody(xml::Child(xml::ChildrenNamed(rows[2], "a:tc")[0], "a:txBody"))), "g");
}

// --- Refused plans ---------------------------------------------------------------------------------

TEST(DeckBuilder, SpecsThatCannotBeWrittenAreRefusedWithWhereAndWhy) {
  b::ShapePlan deep = b::TextBox(u"x");
  for (int i = 0; i <= b::kMaxNesting + 1; ++i) {
    b::ShapePlan group = b::Group({});
    group.children.push_back(std::move(deep));
    deep = std::move(group);
  }
  b::ShapePlan badMerge = b::Table({{u"a", u"b"}});
  badMerge.table.merges = {{0, 1, 1, 2}};
  b::ShapePlan overlapping = b::Table({{u"a", u"b"}, {u"c", u"d"}});
  overlapping.table.merges = {{0, 0, 2, 1}, {1, 0, 1, 2}};
  b::ShapePlan farField = b::TextBox(u"ab");
  farField.fields = {{3, "slidenum", u"1"}};
  b::ShapePlan brokenField = b::TextBox(u"ab");
  brokenField.fields = {{0, "slidenum", u"1\r2"}};
  b::ShapePlan holderless;
  holderless.kind = b::ShapeKind::Placeholder;
  b::ShapePlan groupHolder = b::Group({});
  groupHolder.placeholder = b::PlaceholderSpec{"obj", 1u, false, {}};
  b::ShapePlan textual = b::Picture();
  textual.text = u"caption";
  b::ShapePlan bodiless = b::AutoShape("rect", u"lost");
  bodiless.omitTextBody = true;
  b::ShapePlan inverted = b::TextBox(u"x");
  inverted.frame = b::Frame{0, 0, -5, 10};
  b::DeckPlan narrow = OneSlide({});
  narrow.slideWidthEmu = 1000;

  struct Row {
    const char* name;
    b::DeckPlan deck;
    std::string message;
  };
  const Row rows[] = {
      {"control character", OneSlide({b::Title(u"ok"), b::TextBox(std::u16string(u"a\x01z"))}),
       "slide 1, shape 2: the text holds U+0001 at offset 1"},
      {"control character in a table", OneSlide({b::Table({{u"a", std::u16string(u"\x1F")}})}), "cell (1, 2)"},
      {"control character in a notes page",
       b::DeckPlan{b::kDefaultSlideWidth,
                   b::kDefaultSlideHeight,
                   1,
                   {b::SlidePlan{{}, b::NotesPage(std::u16string(u"\x02")), true, false, {}}},
                   {}},
       "slide 1, notes, shape 2"},
      {"merge outside the table", OneSlide({badMerge}), "reaches outside the table"},
      {"overlapping merges", OneSlide({overlapping}), "merged ranges overlap"},
      {"field beyond the text", OneSlide({farField}), "beyond the text"},
      {"line break in a field", OneSlide({brokenField}), "a field's text holds a line break"},
      {"placeholder without its p:ph", OneSlide({holderless}), "needs its PlaceholderSpec"},
      {"group as placeholder", OneSlide({groupHolder}), "cannot be a placeholder"},
      {"nesting too deep", OneSlide({deep}), "nested deeper than"},
      {"slide too narrow", narrow, "the slide width 1000 EMU"},
      {"text on a picture", OneSlide({textual}), "text is given for a shape without a text body"},
      {"text without a text body", OneSlide({bodiless}), "text is given for a shape without a text body"},
      {"negative size", OneSlide({inverted}), "negative size"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    try {
      b::Render(row.deck);
      ADD_FAILURE() << "not refused";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
    }
  }
}

// --- Package consistency ---------------------------------------------------------------------------

// What every deck satisfies: parts written once, with a content type, well-formed; relationship ids
// unique per source; targets resolving to written parts; every part reached from the package root.
void ExpectConsistent(const b::BuiltDeck& deck) {
  std::set<std::string> names;
  for (const auto& part : deck.parts) {
    SCOPED_TRACE(part.name);
    EXPECT_TRUE(names.insert(part.name).second) << "written twice";
    EXPECT_FALSE(part.contentType.empty());
    if (part.name.ends_with(".xml")) {
      EXPECT_NO_THROW(xml::Document::Parse(part.bytes, part.name));
    }
  }
  std::set<std::string> reached{"/"};
  std::vector<std::string> queue{"/"};
  while (!queue.empty()) {
    std::string source = queue.back();
    queue.pop_back();
    const auto* rels = deck.RelationshipsOf(source);
    if (!rels) continue;
    std::set<std::string> ids;
    for (const auto& rel : *rels) {
      SCOPED_TRACE(source + " " + rel.id);
      EXPECT_TRUE(ids.insert(rel.id).second) << "duplicate id";
      EXPECT_FALSE(rel.external);
      EXPECT_EQ(Resolve(source, rel.target), rel.partName);
      EXPECT_TRUE(names.count(rel.partName)) << "target missing: " << rel.partName;
      if (reached.insert(rel.partName).second) queue.push_back(rel.partName);
    }
  }
  for (const auto& entry : deck.relationships) EXPECT_TRUE(entry.source == "/" || names.count(entry.source));
  for (const auto& name : names) EXPECT_TRUE(reached.count(name)) << name << " is not reached from the package root";
}

TEST(DeckBuilder, DecksAreConsistentPackages) {
  struct Row {
    const char* name;
    b::DeckPlan deck;
  };
  const Row rows[] = {{"blank", b::Blank()}, {"sample", b::Sample()}, {"generated", b::Generated(40, 3)}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    b::BuiltDeck deck = b::Render(row.deck);
    ExpectConsistent(deck);

    // The presentation lists the master, then the slides in order with ids from 256.
    Parsed presentation = Parse(deck, "/ppt/presentation.xml");
    Node masterId = xml::Path(presentation.root(), "p:sldMasterIdLst/p:sldMasterId");
    const Relationship* master = RelationshipById(deck, "/ppt/presentation.xml", xml::Attr(masterId, "r:id"));
    ASSERT_NE(master, nullptr);
    EXPECT_EQ(master->type, b::rel_type::kSlideMaster);
    auto slideIds = xml::ChildrenNamed(xml::Child(presentation.root(), "p:sldIdLst"), "p:sldId");
    ASSERT_EQ(slideIds.size(), row.deck.slides.size());
    bool anyNotes = false;
    for (std::size_t i = 0; i < slideIds.size(); ++i) {
      SCOPED_TRACE(i + 1);
      EXPECT_EQ(xml::IntAttr(slideIds[i], "id", 0), static_cast<std::int64_t>(256 + i));
      const Relationship* slide = RelationshipById(deck, "/ppt/presentation.xml", xml::Attr(slideIds[i], "r:id"));
      ASSERT_NE(slide, nullptr);
      EXPECT_EQ(slide->type, b::rel_type::kSlide);
      EXPECT_EQ(slide->partName, "/ppt/slides/slide" + std::to_string(i + 1) + ".xml");
      EXPECT_EQ(deck.Find(slide->partName)->contentType, b::content_type::kSlide);
      // Every slide relates to the layout; a slide with notes to its notes page, which relates back.
      std::map<std::string, std::string> targets;
      for (const auto& rel : *deck.RelationshipsOf(slide->partName)) targets[rel.type] = rel.partName;
      EXPECT_EQ(targets[std::string(b::rel_type::kSlideLayout)], "/ppt/slideLayouts/slideLayout1.xml");
      bool hasNotes = row.deck.slides[i].notes.has_value();
      anyNotes = anyNotes || hasNotes;
      EXPECT_EQ(targets.count(std::string(b::rel_type::kNotesSlide)), hasNotes ? 1u : 0u);
      if (hasNotes) {
        std::map<std::string, std::string> back;
        for (const auto& rel : *deck.RelationshipsOf(targets[std::string(b::rel_type::kNotesSlide)])) {
          back[rel.type] = rel.partName;
        }
        EXPECT_EQ(back[std::string(b::rel_type::kSlide)], slide->partName);
        EXPECT_EQ(back[std::string(b::rel_type::kNotesMaster)], "/ppt/notesMasters/notesMaster1.xml");
      }
      EXPECT_EQ(std::string(xml::Attr(Parse(deck, slide->partName).root(), "show", "1")),
                row.deck.slides[i].hidden ? "0" : "1");
    }
    Node notesMasterId = xml::Path(presentation.root(), "p:notesMasterIdLst/p:notesMasterId");
    EXPECT_EQ(static_cast<bool>(notesMasterId), anyNotes);
    EXPECT_EQ(deck.Find("/ppt/notesMasters/notesMaster1.xml") != nullptr, anyNotes);
    if (anyNotes) {
      const Relationship* rel = RelationshipById(deck, "/ppt/presentation.xml", xml::Attr(notesMasterId, "r:id"));
      ASSERT_NE(rel, nullptr);
      EXPECT_EQ(rel->type, b::rel_type::kNotesMaster);
    }

    // The master lists the layout through its relationship; the layout relates to the master.
    Parsed masterXml = Parse(deck, master->partName);
    Node layoutId = xml::Path(masterXml.root(), "p:sldLayoutIdLst/p:sldLayoutId");
    const Relationship* layout = RelationshipById(deck, master->partName, xml::Attr(layoutId, "r:id"));
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->type, b::rel_type::kSlideLayout);
    EXPECT_EQ(deck.RelationshipsOf(layout->partName)->front().partName, master->partName);
    std::map<std::string, std::string> masterTargets;
    for (const auto& r : *deck.RelationshipsOf(master->partName)) masterTargets[r.type] = r.partName;
    EXPECT_EQ(deck.Find(masterTargets[std::string(b::rel_type::kTheme)])->contentType, b::content_type::kTheme);
  }
}

TEST(DeckBuilder, BlankHasNoSlidesAndTheDefaultSize) {
  b::DeckPlan blank = b::Blank();
  EXPECT_TRUE(blank.slides.empty());
  b::BuiltDeck deck = b::Render(blank);
  Parsed presentation = Parse(deck, "/ppt/presentation.xml");
  EXPECT_FALSE(xml::Child(presentation.root(), "p:sldIdLst"));
  EXPECT_EQ(xml::IntAttr(xml::Child(presentation.root(), "p:sldSz"), "cx", 0), 12192000);
  EXPECT_EQ(xml::IntAttr(xml::Child(presentation.root(), "p:sldSz"), "cy", 0), 6858000);
  EXPECT_EQ(xml::IntAttr(xml::Child(presentation.root(), "p:notesSz"), "cx", 0), 6858000);
  EXPECT_EQ(xml::IntAttr(xml::Child(presentation.root(), "p:notesSz"), "cy", 0), 9144000);
  std::set<std::string> expected{"/ppt/presentation.xml",
                                 "/ppt/slideMasters/slideMaster1.xml",
                                 "/ppt/slideLayouts/slideLayout1.xml",
                                 "/ppt/theme/theme1.xml",
                                 "/ppt/presProps.xml",
                                 "/ppt/viewProps.xml",
                                 "/ppt/tableStyles.xml",
                                 "/docProps/core.xml",
                                 "/docProps/app.xml"};
  std::set<std::string> names;
  for (const auto& part : deck.parts) names.insert(part.name);
  EXPECT_EQ(names, expected);
  EXPECT_NE(deck.Find("/docProps/app.xml")->bytes.find("<Slides>0</Slides>"), std::string::npos);
}

TEST(DeckBuilder, SlideSizeAndNumberingAreWrittenToThePresentation) {
  b::DeckPlan deck = OneSlide({b::Title(u"t")});
  deck.slideWidthEmu = 9144000;
  deck.firstSlideNumber = 7;
  b::BuiltDeck built = b::Render(deck);
  Parsed presentation = Parse(built, "/ppt/presentation.xml");
  EXPECT_EQ(xml::Attr(xml::Child(presentation.root(), "p:sldSz"), "type"), "screen4x3");
  EXPECT_EQ(xml::IntAttr(presentation.root(), "firstSlideNum", 0), 7);
  // The master's placeholders are scaled to the slide.
  Parsed master = Parse(built, "/ppt/slideMasters/slideMaster1.xml");
  for (Node sp : xml::ChildrenNamed(xml::Path(master.root(), "p:cSld/p:spTree"), "p:sp")) {
    Node xfrm = xml::Path(sp, "p:spPr/a:xfrm");
    EXPECT_LE(xml::IntAttr(xml::Child(xfrm, "a:off"), "x", 0) + xml::IntAttr(xml::Child(xfrm, "a:ext"), "cx", 0),
              9144000);
  }
}

// --- Notes pages -----------------------------------------------------------------------------------

TEST(DeckBuilder, NotesPagesStartWithTheSlidePictureAndTheNotesBody) {
  struct Row {
    const char* name;
    std::vector<b::ShapePlan> notes;
    bool addPlaceholders;
    std::vector<std::string> placeholderTypes;  // in shape order; "-" for a shape that is none
    std::u16string bodyText;
  };
  b::ShapePlan ownPicture = b::PlaceholderShape("sldImg", std::nullopt);
  ownPicture.omitTextBody = true;
  const Row rows[] = {
      {"as PowerPoint makes them",
       b::NotesPage(u"Say this\rthen that"),
       true,
       {"sldImg", "body", "sldNum"},
       u"Say this\rthen that"},
      {"no shapes given", {}, true, {"sldImg", "body"}, u""},
      {"a text box only", {b::TextBox(u"aside")}, true, {"sldImg", "body", "-"}, u""},
      {"own placeholders are not doubled", {b::Body(u"mine"), ownPicture}, true, {"body", "sldImg"}, u"mine"},
      {"exactly what is given", {b::TextBox(u"only")}, false, {"-"}, u""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    b::DeckPlan plan = OneSlide({b::Title(u"t")});
    plan.slides[0].notes = row.notes;
    plan.slides[0].addNotesPlaceholders = row.addPlaceholders;
    b::BuiltDeck deck = b::Render(plan);
    Parsed notes = Parse(deck, "/ppt/notesSlides/notesSlide1.xml");
    EXPECT_STREQ(notes.root().name(), "p:notes");
    std::vector<std::string> types;
    std::u16string bodyText;
    for (Node shape : Shapes(xml::Path(notes.root(), "p:cSld/p:spTree"))) {
      Node ph = xml::Child(NvPr(shape), "p:ph");
      types.emplace_back(ph ? std::string(xml::Attr(ph, "type")) : "-");
      if (ph && xml::Attr(ph, "type") == "sldImg") {
        EXPECT_FALSE(xml::Child(shape, "p:txBody"));
      }
      if (ph && xml::Attr(ph, "type") == "body") {
        EXPECT_EQ(xml::Attr(ph, "idx"), "1");
        bodyText = xml::TextOfBody(xml::Child(shape, "p:txBody"), 1);
      }
    }
    EXPECT_EQ(types, row.placeholderTypes);
    EXPECT_EQ(Utf8(bodyText), Utf8(row.bodyText));
  }
}

// --- Generated decks -------------------------------------------------------------------------------

TEST(DeckBuilder, GeneratedDecksAreVariedDeterministicAndQuick) {
  auto start = std::chrono::steady_clock::now();
  b::DeckPlan plan = b::Generated(500, 11);
  b::BuiltDeck deck = b::Render(plan);
  auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::size_t bytes = 0;
  for (const auto& part : deck.parts) bytes += part.bytes.size();
  std::printf("[ measure  ] Generated(500) rendered in %.1f ms: %zu parts, %zu bytes\n", elapsed, deck.parts.size(),
              bytes);

  ASSERT_EQ(plan.slides.size(), 500u);
  std::map<int, int> types;
  std::size_t characters = 0;
  int notes = 0, hidden = 0;
  std::function<void(const b::ShapePlan&)> count = [&](const b::ShapePlan& shape) {
    ++types[b::ExpectedType(shape)];
    characters += b::ExpectedText(shape).size();
    for (const auto& child : shape.children) count(child);
  };
  for (const auto& slide : plan.slides) {
    for (const auto& shape : slide.shapes) count(shape);
    notes += slide.notes.has_value();
    hidden += slide.hidden;
  }
  for (int type : {1, 3, 5, 6, 9, 13, 14, 17, 19}) EXPECT_GT(types[type], 0) << "no shape of type " << type;
  EXPECT_GT(notes, 100);
  EXPECT_GT(hidden, 10);
  EXPECT_GT(characters / plan.slides.size(), 150u);
  EXPECT_LT(characters / plan.slides.size(), 1000u);

  b::BuiltDeck again = b::Render(b::Generated(500, 11));
  ASSERT_EQ(again.parts.size(), deck.parts.size());
  for (std::size_t i = 0; i < deck.parts.size(); ++i) EXPECT_EQ(again.parts[i].bytes, deck.parts[i].bytes);
  EXPECT_NE(b::Render(b::Generated(5, 12)).Find(kSlide1)->bytes, b::Render(b::Generated(5, 11)).Find(kSlide1)->bytes);
}

// --- Through the package layer ---------------------------------------------------------------------

class DeckBuilderPackage : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("quorvane_builder_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

TEST_F(DeckBuilderPackage, WrittenDecksOpenWithTheSamePartsTypesAndRelationships) {
  const b::DeckPlan plans[] = {b::Blank(), b::Sample()};
  for (const auto& plan : plans) {
    SCOPED_TRACE(plan.slides.size());
    std::string path = (dir_ / "deck.pptx").string();
    b::Write(plan, path);
    auto package = Package::Open(path);
    b::BuiltDeck deck = b::Render(plan);
    for (const auto& part : deck.parts) {
      SCOPED_TRACE(part.name);
      ASSERT_TRUE(package->HasPart(part.name));
      EXPECT_EQ(package->ContentType(part.name), part.contentType);
      EXPECT_EQ(package->ReadPart(part.name), part.bytes);
    }
    for (const auto& entry : deck.relationships) {
      SCOPED_TRACE(entry.source);
      auto read = package->Relationships(entry.source);
      ASSERT_EQ(read.size(), entry.relationships.size());
      for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].id, entry.relationships[i].id);
        EXPECT_EQ(read[i].type, entry.relationships[i].type);
        EXPECT_TRUE(part_name::Equal(read[i].partName, entry.relationships[i].partName)) << read[i].partName;
      }
    }
  }
}

TEST_F(DeckBuilderPackage, WritingToAMissingFolderFailsWithThePackageLayersError) {
  try {
    b::Write(b::Blank(), (dir_ / "missing" / "deck.pptx").string());
    ADD_FAILURE() << "written";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), hresult::kPathNotFound);
  }
}

}  // namespace
}  // namespace quorvane::engines::pptx
