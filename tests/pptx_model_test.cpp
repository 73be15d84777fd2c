// The native engine's object model over small packages with exact content: shape and placeholder
// types, text through the model (slide numbers on slides and notes pages), tables, groups and
// ungrouping, notes pages with and without notes part, the slide list and page set-up, opening
// and refusing packages, closed presentations and quit applications, limits, and the document
// cache.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/model.hpp"
#include "engines/pptx/package.hpp"

namespace quorvane::engines::pptx {
namespace {

namespace fs = std::filesystem;
namespace ppt = office::ppt;

constexpr std::int32_t kInvalid = failure::kPowerPointInvalidRequest;

constexpr const char* kPptxMain = "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml";
constexpr const char* kSlideType = "application/vnd.openxmlformats-officedocument.presentationml.slide+xml";
constexpr const char* kNotesType = "application/vnd.openxmlformats-officedocument.presentationml.notesSlide+xml";
constexpr const char* kRelBase = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

const std::string kNamespaces = R"(xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" )"
                                R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" )"
                                R"(xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main" )"
                                R"(xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006" )"
                                R"(xmlns:p14="http://schemas.microsoft.com/office/powerpoint/2010/main" )"
                                R"(xmlns:v="urn:schemas-microsoft-com:vml")";

// --- Small decks -------------------------------------------------------------------------------

std::string Para(const std::string& text) {
  return "<a:p><a:r><a:rPr lang=\"en-US\"/><a:t>" + text + "</a:t></a:r></a:p>";
}
std::string Body(const std::string& paragraphs) {
  return "<p:txBody><a:bodyPr/><a:lstStyle/>" + paragraphs + "</p:txBody>";
}
std::string SlideNumberField() {
  return R"(<a:p><a:fld id="{B6F15528-21DE-4FAA-801E-634DDDAF4B2B}" type="slidenum">)"
         R"(<a:t>&lt;#&gt;</a:t></a:fld></a:p>)";
}

// A p:sp. `ph` is the p:ph element or empty; `cNvSpPr` its attributes; `spPr` its content.
std::string Sp(const std::string& ph, const std::string& body = "", const std::string& cNvSpPr = "",
               const std::string& spPr = "") {
  return R"(<p:sp><p:nvSpPr><p:cNvPr id="2" name="Shape"/><p:cNvSpPr)" + cNvSpPr + "/><p:nvPr>" + ph +
         "</p:nvPr></p:nvSpPr><p:spPr>" + spPr + "</p:spPr>" + body + "</p:sp>";
}
std::string Title(const std::string& text) { return Sp(R"(<p:ph type="title"/>)", Body(Para(text))); }
std::string TextBox(const std::string& text, const std::string& xfrm = "") {
  return Sp("", Body(Para(text)), R"( txBox="1")", xfrm);
}
std::string Xfrm(int x, int y, int cx, int cy, const std::string& attributes = "") {
  return "<a:xfrm" + attributes + "><a:off x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
         "\"/><a:ext cx=\"" + std::to_string(cx) + "\" cy=\"" + std::to_string(cy) + "\"/></a:xfrm>";
}
std::string Group(const std::string& members, const std::string& xfrm = "") {
  return R"(<p:grpSp><p:nvGrpSpPr><p:cNvPr id="9" name="Group"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr><p:grpSpPr>)" +
         xfrm + "</p:grpSpPr>" + members + "</p:grpSp>";
}
std::string GroupXfrm(int x, int y, int cx, int cy, int chx, int chy, int chcx, int chcy,
                      const std::string& attributes = "") {
  return "<a:xfrm" + attributes + "><a:off x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
         "\"/><a:ext cx=\"" + std::to_string(cx) + "\" cy=\"" + std::to_string(cy) + "\"/><a:chOff x=\"" +
         std::to_string(chx) + "\" y=\"" + std::to_string(chy) + "\"/><a:chExt cx=\"" + std::to_string(chcx) +
         "\" cy=\"" + std::to_string(chcy) + "\"/></a:xfrm>";
}
std::string Picture(const std::string& nvPr = "") {
  return R"(<p:pic><p:nvPicPr><p:cNvPr id="4" name="Picture"/><p:cNvPicPr/><p:nvPr>)" + nvPr +
         R"(</p:nvPr></p:nvPicPr><p:blipFill><a:blip r:embed="rId9"/></p:blipFill><p:spPr/></p:pic>)";
}
std::string Frame(const std::string& uri, const std::string& data = "", const std::string& nvPr = "") {
  return R"(<p:graphicFrame><p:nvGraphicFramePr><p:cNvPr id="5" name="Frame"/><p:cNvGraphicFramePr/><p:nvPr>)" + nvPr +
         R"(</p:nvPr></p:nvGraphicFramePr><p:xfrm><a:off x="0" y="0"/><a:ext cx="10" cy="10"/></p:xfrm>)" +
         R"(<a:graphic><a:graphicData uri=")" + uri + "\">" + data + "</a:graphicData></a:graphic></p:graphicFrame>";
}
std::string Cell(const std::string& text) {
  return "<a:tc><a:txBody><a:bodyPr/><a:lstStyle/>" + Para(text) + "</a:txBody><a:tcPr/></a:tc>";
}
// A table whose grid has `columns` columns and whose rows hold the cells given.
std::string Table(int columns, const std::vector<std::vector<std::string>>& rows) {
  std::string grid = "<a:tblGrid>";
  for (int c = 0; c < columns; ++c) grid += R"(<a:gridCol w="100"/>)";
  grid += "</a:tblGrid>";
  std::string body;
  for (const auto& row : rows) {
    body += R"(<a:tr h="10">)";
    for (const auto& cell : row) body += cell;
    body += "</a:tr>";
  }
  return Frame("http://schemas.openxmlformats.org/drawingml/2006/table",
               "<a:tbl><a:tblPr/>" + grid + body + "</a:tbl>");
}

std::string PageXml(const char* root, const std::string& shapes) {
  return std::string(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)") + "<" + root + " " + kNamespaces +
         R"(><p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id="1" name=""/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>)" +
         "<p:grpSpPr/>" + shapes + "</p:spTree></p:cSld></" + root + ">";
}

struct TestSlide {
  std::string shapes{};
  std::string notes{};  // shapes of the notes page
  bool hasNotes = false;
  bool hidden = false;
  std::string raw{};              // the slide part's bytes instead of a slide made of `shapes`
  bool notesPartMissing = false;  // the notesSlide relationship points to no part
};

struct TestDeck {
  std::vector<TestSlide> slides{};
  std::string presentationAttributes{};
  std::string slideSize = R"(<p:sldSz cx="9144000" cy="6858000" type="screen4x3"/>)";
  std::string mainContentType = kPptxMain;
  bool reversePartNames = false;  // slide i lives in slide(n+1-i).xml
  std::string extraIds{};         // more p:sldId entries
  std::string presentationRoot = "p:presentation";
};

Relationship Rel(const std::string& id, const std::string& kind, const std::string& partName) {
  return Relationship{id, kRelBase + kind, "", false, partName};
}

class ModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv-model-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (app_) {
      try {
        app_->Quit();
      } catch (const AutomationError&) {
      }
    }
    fs::remove_all(dir_);
  }

  fs::path Write(const TestDeck& deck, const std::string& name = "deck.pptx") {
    auto package = Package::Create();
    const std::size_t n = deck.slides.size();
    std::string ids;
    std::vector<Relationship> presentationRels;
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t number = deck.reversePartNames ? n - i : i + 1;
      const std::string part = "/ppt/slides/slide" + std::to_string(number) + ".xml";
      const std::string rid = "rId" + std::to_string(10 + i);
      ids += "<p:sldId id=\"" + std::to_string(256 + i) + "\" r:id=\"" + rid + "\"/>";
      presentationRels.push_back(Rel(rid, "slide", part));
      std::string xml = PageXml("p:sld", deck.slides[i].shapes);
      if (deck.slides[i].hidden) xml.replace(xml.find("<p:sld ") + 6, 0, " show=\"0\"");
      package->SetPart(part, deck.slides[i].raw.empty() ? xml : deck.slides[i].raw, kSlideType);
      if (deck.slides[i].hasNotes) {
        const std::string notes = "/ppt/notesSlides/notesSlide" + std::to_string(number) + ".xml";
        if (!deck.slides[i].notesPartMissing)
          package->SetPart(notes, PageXml("p:notes", deck.slides[i].notes), kNotesType);
        package->SetRelationships(part, {Rel("rId1", "notesSlide", notes)});
      }
    }
    package->SetPart("/ppt/presentation.xml",
                     R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?><)" + deck.presentationRoot + " " +
                         kNamespaces + deck.presentationAttributes + "><p:sldIdLst>" + ids + deck.extraIds +
                         "</p:sldIdLst>" + deck.slideSize + R"(<p:notesSz cx="6858000" cy="9144000"/></)" +
                         deck.presentationRoot + ">",
                     deck.mainContentType);
    package->SetRelationships("/ppt/presentation.xml", presentationRels);
    package->SetRelationships("/", {Rel("rId1", "officeDocument", "/ppt/presentation.xml")});
    const fs::path path = dir_ / name;
    package->Save(path.string());
    return path;
  }

  std::shared_ptr<ppt::Presentation> Open(const TestDeck& deck, const Limits& limits = kDefaultLimits) {
    return OpenFile(Write(deck), limits);
  }
  std::shared_ptr<ppt::Presentation> OpenFile(const fs::path& path, const Limits& limits = kDefaultLimits) {
    app_ = CreateApplication(limits);
    return app_->Presentations()->Open(text::FromUtf8(path.string()), 0, 0, 0);
  }

  static std::shared_ptr<ppt::Shape> ShapeOf(ppt::Presentation& p, int slide, int shape) {
    return p.Slides()->Item(slide)->Shapes()->Item(shape);
  }
  static std::shared_ptr<ppt::Shape> NotesShape(ppt::Presentation& p, int slide, int shape) {
    return p.Slides()->Item(slide)->NotesPage()->Shapes()->Item(shape);
  }
  static std::u16string TextOf(ppt::Shape& shape) { return shape.TextFrame()->TextRange()->Text(); }

  fs::path dir_;
  std::shared_ptr<ppt::Application> app_;
};

// The failure number of `fn` (0 when it succeeds), and its description.
std::int32_t FailureOf(const std::function<void()>& fn, std::u16string* description = nullptr) {
  try {
    fn();
  } catch (const AutomationError& e) {
    if (description) *description = e.description();
    return e.number();
  }
  return 0;
}

// --- Shape types -------------------------------------------------------------------------------

struct ShapeRow {
  const char* name;
  std::string xml;
  std::int32_t type;
  office::Tristate hasTextFrame;
  std::int32_t placeholderType;  // 0: PlaceholderFormat fails
};

const std::string kTableUri = "http://schemas.openxmlformats.org/drawingml/2006/table";
const std::string kOleUri = "http://schemas.openxmlformats.org/presentationml/2006/ole";

TEST_F(ModelTest, ShapeAndPlaceholderTypesFollowTheXml) {
  const std::vector<ShapeRow> rows = {
      {"title", Sp(R"(<p:ph type="title"/>)"), 14, -1, 1},
      {"vertical title", Sp(R"(<p:ph type="title" orient="vert"/>)"), 14, -1, 5},
      {"body", Sp(R"(<p:ph type="body" idx="1"/>)"), 14, -1, 2},
      {"vertical body", Sp(R"(<p:ph type="body" orient="vert" idx="1"/>)"), 14, -1, 6},
      {"centre title", Sp(R"(<p:ph type="ctrTitle"/>)"), 14, -1, 3},
      {"subtitle", Sp(R"(<p:ph type="subTitle" idx="1"/>)"), 14, -1, 4},
      {"absent type is obj", Sp(R"(<p:ph idx="1"/>)"), 14, -1, 7},
      {"vertical obj", Sp(R"(<p:ph orient="vert" idx="1"/>)"), 14, -1, 17},
      {"chart", Sp(R"(<p:ph type="chart" idx="2"/>)"), 14, -1, 8},
      {"clip art", Sp(R"(<p:ph type="clipArt" idx="2"/>)"), 14, -1, 9},
      {"media", Sp(R"(<p:ph type="media" idx="2"/>)"), 14, -1, 10},
      {"diagram", Sp(R"(<p:ph type="dgm" idx="2"/>)"), 14, -1, 11},
      {"table placeholder", Sp(R"(<p:ph type="tbl" idx="2"/>)"), 14, -1, 12},
      {"slide number", Sp(R"(<p:ph type="sldNum" sz="quarter" idx="12"/>)"), 14, -1, 13},
      {"header", Sp(R"(<p:ph type="hdr" idx="3"/>)"), 14, -1, 14},
      {"footer", Sp(R"(<p:ph type="ftr" idx="11"/>)"), 14, -1, 15},
      {"date", Sp(R"(<p:ph type="dt" idx="10"/>)"), 14, -1, 16},
      {"picture placeholder", Sp(R"(<p:ph type="pic" idx="13"/>)"), 14, -1, 18},
      {"text box", TextBox("t"), 17, -1, 0},
      {"freeform", Sp("", "", "", "<a:custGeom><a:pathLst/></a:custGeom>"), 5, -1, 0},
      {"autoshape", Sp("", "", "", R"(<a:prstGeom prst="rect"><a:avLst/></a:prstGeom>)"), 1, -1, 0},
      {"group", Group(TextBox("in group")), 6, 0, 0},
      {"picture", Picture(), 13, 0, 0},
      {"video", Picture(R"(<a:videoFile r:link="rId3"/>)"), 16, 0, 0},
      {"audio", Picture(R"(<a:audioFile r:link="rId3"/>)"), 16, 0, 0},
      {"media extension",
       Picture(R"(<p:extLst><p:ext uri="{DAA4B4D4-6D71-4841-9C94-3DE7FCFB9230}">)"
               R"(<p14:media r:embed="rId2"/></p:ext></p:extLst>)"),
       16, 0, 0},
      {"filled picture placeholder", Picture(R"(<p:ph type="pic" idx="1"/>)"), 14, 0, 18},
      {"table", Table(1, {{Cell("x")}}), 19, 0, 0},
      {"filled table placeholder",
       Frame(kTableUri,
             R"(<a:tbl><a:tblGrid><a:gridCol w="9"/></a:tblGrid><a:tr h="9">)" + Cell("c") + "</a:tr></a:tbl>",
             R"(<p:ph type="tbl" idx="1"/>)"),
       14, 0, 12},
      {"chart frame", Frame("http://schemas.openxmlformats.org/drawingml/2006/chart"), 3, 0, 0},
      {"SmartArt", Frame("http://schemas.openxmlformats.org/drawingml/2006/diagram"), 24, 0, 0},
      {"embedded object", Frame(kOleUri, R"(<p:oleObj r:id="rId5" progId="Excel.Sheet.12"><p:embed/></p:oleObj>)"), 7,
       0, 0},
      {"linked object", Frame(kOleUri, R"(<p:oleObj r:id="rId5" progId="Excel.Sheet.12"><p:link/></p:oleObj>)"), 10, 0,
       0},
      {"other graphic", Frame("http://schemas.microsoft.com/office/drawing/2014/chartex"), 28, 0, 0},
      {"connector",
       R"(<p:cxnSp><p:nvCxnSpPr><p:cNvPr id="6" name="Line"/><p:cNvCxnSpPr/><p:nvPr/></p:nvCxnSpPr>)"
       R"(<p:spPr/></p:cxnSp>)",
       9, 0, 0},
      {"ink", R"(<p:contentPart r:id="rId7"/>)", 22, 0, 0},
      {"understood choice",
       R"(<mc:AlternateContent><mc:Choice Requires="p14">)" + TextBox("choice") + "</mc:Choice><mc:Fallback>" +
           Picture() + "</mc:Fallback></mc:AlternateContent>",
       17, -1, 0},
      {"fallback for a foreign choice",
       R"(<mc:AlternateContent><mc:Choice Requires="v">)" + TextBox("choice") + "</mc:Choice><mc:Fallback>" +
           Picture() + "</mc:Fallback></mc:AlternateContent>",
       13, 0, 0},
  };
  std::string shapes;
  for (const auto& row : rows) shapes += row.xml;
  const auto presentation = Open({.slides = {{.shapes = shapes}}});
  const auto slideShapes = presentation->Slides()->Item(1)->Shapes();
  ASSERT_EQ(slideShapes->Count(), static_cast<std::int32_t>(rows.size()));
  std::int32_t placeholders = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& row = rows[i];
    SCOPED_TRACE(row.name);
    const auto shape = slideShapes->Item(static_cast<std::int32_t>(i + 1));
    EXPECT_EQ(shape->Type(), row.type);
    EXPECT_EQ(shape->HasTextFrame(), row.hasTextFrame);
    // Every shape answers a text frame; only frames of text-bearing shapes give a text range.
    const auto frame = shape->TextFrame();
    EXPECT_EQ(FailureOf([&] { frame->TextRange(); }), row.hasTextFrame ? 0 : kInvalid);
    if (!row.hasTextFrame) {
      EXPECT_EQ(frame->HasText(), 0);
    }
    if (row.placeholderType) {
      ++placeholders;
      EXPECT_EQ(shape->PlaceholderFormat()->Type(), row.placeholderType);
    } else {
      EXPECT_EQ(FailureOf([&] { shape->PlaceholderFormat(); }), kInvalid);
    }
    // A table placeholder holding a table answers Table too.
    const bool table = row.xml.find("<a:tbl>") != std::string::npos;
    EXPECT_EQ(FailureOf([&] { shape->Table(); }), table ? 0 : kInvalid);
    EXPECT_EQ(FailureOf([&] { shape->GroupItems(); }), row.type == 6 ? 0 : kInvalid);
  }
  const auto list = slideShapes->Placeholders();
  ASSERT_EQ(list->Count(), placeholders);
  EXPECT_EQ(list->Item(1)->PlaceholderFormat()->Type(), 1);
  EXPECT_EQ(list->Item(placeholders)->PlaceholderFormat()->Type(), 12);
  std::u16string description;
  EXPECT_EQ(FailureOf([&] { slideShapes->Item(static_cast<std::int32_t>(rows.size()) + 1); }, &description), kInvalid);
  EXPECT_EQ(description,
            u"Shapes.Item : Integer out of range. " + text::Decimal(static_cast<std::int64_t>(rows.size()) + 1) +
                u" is not in the valid range of 1 to " + text::Decimal(static_cast<std::int64_t>(rows.size())) + u".");
  EXPECT_EQ(FailureOf([&] { list->Item(0); }), kInvalid);
}

// --- Text through the model --------------------------------------------------------------------

struct TextRow {
  const char* name;
  std::string body;  // the p:txBody, or empty for a shape without one
  std::u16string text;
  office::Tristate hasText;
};

TEST_F(ModelTest, TextFollowsTheTextRulesWithTheSlidesNumber) {
  const std::vector<TextRow> rows = {
      {"one paragraph", Body(Para("Hello")), u"Hello", -1},
      {"paragraphs joined by CR", Body(Para("a") + Para("b")), u"a\rb", -1},
      {"line break is VT", Body(R"(<a:p><a:r><a:t>a</a:t></a:r><a:br/><a:r><a:t>b</a:t></a:r></a:p>)"), u"a\vb", -1},
      {"no text body", "", u"", 0},
      {"one empty paragraph", Body("<a:p/>"), u"", 0},
      {"two empty paragraphs are text", Body("<a:p/><a:p/>"), u"\r", -1},
      {"slide number of slide 3", Body(SlideNumberField()), u"3", -1},
      {"other field shows its text", Body(R"(<a:p><a:fld id="{1}" type="datetime1"><a:t>1/2/2003</a:t></a:fld></a:p>)"),
       u"1/2/2003", -1},
  };
  std::string shapes;
  for (const auto& row : rows) shapes += Sp("", row.body, R"( txBox="1")");
  // The third slide of the list (the second is hidden: hidden slides are slides).
  const auto presentation =
      Open({.slides = {{.shapes = Title("one")}, {.shapes = Title("two"), .hidden = true}, {.shapes = shapes}}});
  ASSERT_EQ(presentation->Slides()->Count(), 3);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    const auto shape = ShapeOf(*presentation, 3, static_cast<int>(i + 1));
    EXPECT_EQ(shape->HasTextFrame(), -1);
    EXPECT_EQ(shape->TextFrame()->HasText(), rows[i].hasText);
    EXPECT_EQ(TextOf(*shape), rows[i].text);
  }
}

struct NumberRow {
  const char* name;
  std::string firstSlideNum;  // presentation attribute, or empty
  int slide;
  std::u16string shown;
};

TEST_F(ModelTest, SlideNumberFieldsCountFromFirstSlideNumOnSlidesAndTheirNotesPages) {
  const std::vector<NumberRow> rows = {
      {"first slide", "", 1, u"1"},
      {"second slide", "", 2, u"2"},
      {"numbering from 10", R"( firstSlideNum="10")", 1, u"10"},
      {"second slide numbered from 10", R"( firstSlideNum="10")", 2, u"11"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string field = Sp(R"(<p:ph type="sldNum" idx="12"/>)", Body(SlideNumberField()));
    const TestSlide slide{.shapes = field, .notes = field, .hasNotes = true};
    // Part names in reverse order: the number comes from the list, not from the part name.
    const auto presentation =
        Open({.slides = {slide, slide}, .presentationAttributes = row.firstSlideNum, .reversePartNames = true});
    EXPECT_EQ(TextOf(*ShapeOf(*presentation, row.slide, 1)), row.shown);
    EXPECT_EQ(TextOf(*NotesShape(*presentation, row.slide, 1)), row.shown);
    presentation->Close();
  }
}

TEST_F(ModelTest, InsertBeforePutsTextInFrontAndMarksThePartChanged) {
  const auto presentation = Open(
      {.slides = {{.shapes = Title("Title") + Sp(R"(<p:ph type="body" idx="1"/>)") + Table(1, {{Cell("cell")}})}}});
  const auto model = ModelOf(presentation);
  ASSERT_NE(model, nullptr);
  EXPECT_TRUE(model->DirtyParts().empty());

  ShapeOf(*presentation, 1, 1)->TextFrame()->TextRange()->InsertBefore(u"** ");
  EXPECT_EQ(TextOf(*ShapeOf(*presentation, 1, 1)), u"** Title");
  // A placeholder without text body gets one.
  ShapeOf(*presentation, 1, 2)->TextFrame()->TextRange()->InsertBefore(u"new\rtext");
  EXPECT_EQ(TextOf(*ShapeOf(*presentation, 1, 2)), u"new\rtext");
  const auto cell = ShapeOf(*presentation, 1, 3)->Table()->Cell(1, 1)->Shape();
  cell->TextFrame()->TextRange()->InsertBefore(u"(1,1) ");
  EXPECT_EQ(TextOf(*cell), u"(1,1) cell");
  EXPECT_EQ(model->DirtyParts(), std::vector<std::string>{"/ppt/slides/slide1.xml"});
}

// --- Tables ------------------------------------------------------------------------------------

TEST_F(ModelTest, TablesAnswerRowsColumnsAndCellsByPosition) {
  // Three grid columns; the second row is short (two cells).
  const auto presentation = Open(
      {.slides = {{.shapes = Table(3, {{Cell("a"), Cell("b"), Cell("")}, {Cell("d"), R"(<a:tc hMerge="1"/>)"}})}}});
  const auto shape = ShapeOf(*presentation, 1, 1);
  ASSERT_EQ(shape->Type(), 19);
  const auto table = shape->Table();
  EXPECT_EQ(table->RowsCount(), 2);
  EXPECT_EQ(table->ColumnsCount(), 3);

  struct CellRow {
    int row, column;
    std::int32_t failure;
    std::u16string text;
  };
  const std::vector<CellRow> cells = {
      {1, 1, 0, u"a"},       {1, 2, 0, u"b"},       {1, 3, 0, u""},
      {2, 1, 0, u"d"},       {2, 2, 0, u""},  // merged away: empty
      {2, 3, kInvalid, u""},                  // the short row lacks it
      {3, 1, kInvalid, u""},                  // no third row
      {0, 1, kInvalid, u""}, {1, 0, kInvalid, u""},
  };
  for (const auto& c : cells) {
    SCOPED_TRACE("cell " + std::to_string(c.row) + "," + std::to_string(c.column));
    std::shared_ptr<ppt::Shape> cellShape;
    EXPECT_EQ(FailureOf([&] { cellShape = table->Cell(c.row, c.column)->Shape(); }), c.failure);
    if (!cellShape) continue;
    EXPECT_EQ(cellShape->HasTextFrame(), -1);
    EXPECT_EQ(TextOf(*cellShape), c.text);
    EXPECT_EQ(FailureOf([&] { cellShape->PlaceholderFormat(); }), kInvalid);
    EXPECT_EQ(FailureOf([&] { cellShape->Table(); }), kInvalid);
    EXPECT_EQ(FailureOf([&] { cellShape->Ungroup(); }), kInvalid);
  }
}

// --- Groups ------------------------------------------------------------------------------------

TEST_F(ModelTest, GroupItemsAreTheDirectMembersInOrder) {
  const auto presentation =
      Open({.slides = {{.shapes = Group(TextBox("A") + Group(TextBox("B1") + TextBox("B2")) + Picture())}}});
  const auto group = ShapeOf(*presentation, 1, 1);
  const auto items = group->GroupItems();
  ASSERT_EQ(items->Count(), 3);
  EXPECT_EQ(TextOf(*items->Item(1)), u"A");
  EXPECT_EQ(items->Item(2)->Type(), 6);
  EXPECT_EQ(items->Item(3)->Type(), 13);
  const auto nested = items->Item(2)->GroupItems();
  ASSERT_EQ(nested->Count(), 2);
  EXPECT_EQ(TextOf(*nested->Item(2)), u"B2");
  std::u16string description;
  EXPECT_EQ(FailureOf([&] { items->Item(4); }, &description), kInvalid);
  EXPECT_EQ(description, u"GroupItems.Item : Integer out of range. 4 is not in the valid range of 1 to 3.");
  EXPECT_EQ(FailureOf([&] { items->Item(1)->Ungroup(); }), kInvalid);
}

// The off/ext of a shape's transform in the slide's current XML.
struct Placement {
  long long x, y, cx, cy, rot;
  bool flipH, flipV;
  bool operator==(const Placement&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Placement& p) {
  return out << "(" << p.x << "," << p.y << " " << p.cx << "x" << p.cy << " rot " << p.rot << (p.flipH ? " flipH" : "")
             << (p.flipV ? " flipV" : "") << ")";
}
Placement PlacementOf(xml::Node shape) {
  xml::Node xfrm = xml::Path(shape, "p:spPr/a:xfrm");
  if (!xfrm) xfrm = xml::Path(shape, "p:grpSpPr/a:xfrm");
  const xml::Node off = xml::Child(xfrm, "a:off"), ext = xml::Child(xfrm, "a:ext");
  return {xml::IntAttr(off, "x", -1),         xml::IntAttr(off, "y", -1),   xml::IntAttr(ext, "cx", -1),
          xml::IntAttr(ext, "cy", -1),        xml::IntAttr(xfrm, "rot", 0), xml::BoolAttr(xfrm, "flipH", false),
          xml::BoolAttr(xfrm, "flipV", false)};
}

struct UngroupRow {
  const char* name;
  std::string groupXfrm;
  std::string memberXfrm;
  Placement expected;
};

TEST_F(ModelTest, UngroupKeepsMembersInTheirPlaces) {
  const std::vector<UngroupRow> rows = {
      {"offset only",
       GroupXfrm(1000, 2000, 500, 500, 0, 0, 500, 500),
       Xfrm(100, 50, 200, 100),
       {1100, 2050, 200, 100, 0, false, false}},
      {"child offset and scale",
       GroupXfrm(1000, 2000, 2000, 4000, 500, 500, 1000, 1000),
       Xfrm(600, 700, 200, 200),
       {1200, 2800, 400, 800, 0, false, false}},
      {"rotated a quarter turn",
       GroupXfrm(0, 0, 1000, 1000, 0, 0, 1000, 1000, R"( rot="5400000")"),
       Xfrm(0, 0, 100, 100),
       {900, 0, 100, 100, 5400000, false, false}},
      {"flipped horizontally",
       GroupXfrm(0, 0, 1000, 1000, 0, 0, 1000, 1000, R"( flipH="1")"),
       Xfrm(0, 0, 100, 100, R"( rot="60000")"),
       {900, 0, 100, 100, 21600000 - 60000, true, false}},
      {"flipped vertically",
       GroupXfrm(0, 0, 1000, 1000, 0, 0, 1000, 1000, R"( flipV="1")"),
       Xfrm(0, 0, 100, 100, R"( flipV="1")"),
       {0, 900, 100, 100, 0, false, false}},
      {"no child extents",
       "<a:xfrm><a:off x=\"10\" y=\"20\"/><a:ext cx=\"5\" cy=\"5\"/></a:xfrm>",
       Xfrm(30, 40, 5, 5),
       {30, 40, 5, 5, 0, false, false}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto presentation =
        Open({.slides = {
                  {.shapes = Title("T") +
                             Group(TextBox("A", row.memberXfrm) + Group(TextBox("B"), row.memberXfrm), row.groupXfrm) +
                             TextBox("after")}}});
    const auto shapes = presentation->Slides()->Item(1)->Shapes();
    ASSERT_EQ(shapes->Count(), 3);
    const auto group = shapes->Item(2);
    const auto member = group->GroupItems()->Item(1);
    const auto after = shapes->Item(3);
    group->Ungroup();

    ASSERT_EQ(shapes->Count(), 4);
    EXPECT_EQ(TextOf(*shapes->Item(1)), u"T");
    EXPECT_EQ(TextOf(*shapes->Item(2)), u"A");
    EXPECT_EQ(shapes->Item(3)->Type(), 6);  // the nested group is now on the slide
    EXPECT_EQ(TextOf(*shapes->Item(4)), u"after");
    // Objects of the members and of other shapes still work; the group's do not.
    EXPECT_EQ(TextOf(*member), u"A");
    EXPECT_EQ(TextOf(*after), u"after");
    EXPECT_EQ(FailureOf([&] { group->Type(); }), kInvalid);
    EXPECT_EQ(FailureOf([&] { group->Ungroup(); }), kInvalid);

    const auto model = ModelOf(presentation);
    const auto document = model->Document("/ppt/slides/slide1.xml");
    const auto& nodes = document->PageShapes();
    EXPECT_EQ(PlacementOf(nodes[1]), row.expected);
    EXPECT_EQ(PlacementOf(nodes[2]), row.expected);
    EXPECT_EQ(model->DirtyParts(), std::vector<std::string>{"/ppt/slides/slide1.xml"});
    presentation->Close();
  }
}

// --- Notes pages -------------------------------------------------------------------------------

TEST_F(ModelTest, NotesPagesComeFromTheNotesPartOrAreFreshlyMade) {
  const std::string notes = Sp(R"(<p:ph type="sldImg"/>)") + Sp(R"(<p:ph type="body" idx="1"/>)", Body(Para("Said"))) +
                            Sp(R"(<p:ph type="sldNum" idx="5"/>)", Body(SlideNumberField())) +
                            TextBox("not a placeholder");
  const auto path = Write({.slides = {{.shapes = Title("with notes"), .notes = notes, .hasNotes = true},
                                      {.shapes = Title("without notes")}}});
  const auto presentation = OpenFile(path);
  const auto model = ModelOf(presentation);
  const auto partsBefore = model->package().PartNames().size();

  struct NotesRow {
    const char* name;
    int slide;
    std::vector<std::int32_t> placeholderTypes;  // of the Placeholders, in order
    std::vector<office::Tristate> hasTextFrame;  // of the Shapes, in order
    std::u16string bodyText;                     // of the body placeholder (the second)
  };
  const std::vector<NotesRow> rows = {
      {"notes part", 1, {kPlaceholderSlideImage, 2, 13}, {0, -1, -1, -1}, u"Said"},
      {"fresh notes page", 2, {kPlaceholderSlideImage, 2}, {0, -1}, u""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto shapes = presentation->Slides()->Item(row.slide)->NotesPage()->Shapes();
    ASSERT_EQ(shapes->Count(), static_cast<std::int32_t>(row.hasTextFrame.size()));
    for (std::size_t k = 0; k < row.hasTextFrame.size(); ++k)
      EXPECT_EQ(shapes->Item(static_cast<std::int32_t>(k + 1))->HasTextFrame(), row.hasTextFrame[k])
          << "shape " << k + 1;
    const auto placeholders = shapes->Placeholders();
    ASSERT_EQ(placeholders->Count(), static_cast<std::int32_t>(row.placeholderTypes.size()));
    for (std::size_t p = 0; p < row.placeholderTypes.size(); ++p)
      EXPECT_EQ(placeholders->Item(static_cast<std::int32_t>(p + 1))->PlaceholderFormat()->Type(),
                row.placeholderTypes[p]);
    // The slide picture has no text frame at all.
    EXPECT_EQ(FailureOf([&] { placeholders->Item(1)->TextFrame(); }), kInvalid);
    EXPECT_EQ(placeholders->Item(2)->TextFrame()->TextRange()->Text(), row.bodyText);
    EXPECT_EQ(placeholders->Item(2)->TextFrame()->HasText(), row.bodyText.empty() ? 0 : -1);
  }
  EXPECT_EQ(TextOf(*NotesShape(*presentation, 1, 3)), u"1");
  // Asking for the fresh page created nothing.
  EXPECT_EQ(model->package().PartNames().size(), partsBefore);
  EXPECT_TRUE(model->DirtyParts().empty());
  // Writing to it keeps it: the next request sees the text.
  NotesShape(*presentation, 2, 2)->TextFrame()->TextRange()->InsertBefore(u"later");
  EXPECT_EQ(TextOf(*NotesShape(*presentation, 2, 2)), u"later");
}

// --- Slides and page set-up --------------------------------------------------------------------

TEST_F(ModelTest, SlidesFollowTheSlideListAndSkipEntriesWithoutSlide) {
  TestDeck deck{.slides = {{.shapes = Title("first")}, {.shapes = Title("second")}, {.shapes = Title("third")}},
                .reversePartNames = true,
                .extraIds = R"(<p:sldId id="900" r:id="rId99"/>)"};
  const auto presentation = Open(deck);
  const auto slides = presentation->Slides();
  ASSERT_EQ(slides->Count(), 3);
  EXPECT_EQ(TextOf(*ShapeOf(*presentation, 1, 1)), u"first");
  EXPECT_EQ(TextOf(*ShapeOf(*presentation, 3, 1)), u"third");
  std::u16string description;
  EXPECT_EQ(FailureOf([&] { slides->Item(7); }, &description), kInvalid);
  EXPECT_EQ(description, u"Slides.Item : Integer out of range. 7 is not in the valid range of 1 to 3.");
  EXPECT_EQ(FailureOf([&] { slides->Item(0); }), kInvalid);
}

TEST_F(ModelTest, PageSetupReadsAndWritesTheSlideSizeInPoints) {
  const auto presentation = Open({.slides = {{.shapes = Title("t")}}});
  const auto setup = presentation->PageSetup();
  EXPECT_FLOAT_EQ(setup->SlideWidth(), 720.0f);
  EXPECT_FLOAT_EQ(setup->SlideHeight(), 540.0f);
  setup->put_SlideWidth(960.0f);
  EXPECT_FLOAT_EQ(presentation->PageSetup()->SlideWidth(), 960.0f);
  const auto model = ModelOf(presentation);
  const xml::Node size = xml::Child(model->PresentationDocument()->root(), "p:sldSz");
  EXPECT_EQ(xml::IntAttr(size, "cx", 0), 12192000);
  EXPECT_EQ(xml::Attr(size, "type", "none"), "none");
  EXPECT_EQ(model->DirtyParts(), std::vector<std::string>{"/ppt/presentation.xml"});
  for (const float bad : {0.0f, -5.0f, 71.0f, 5000.0f})
    EXPECT_EQ(FailureOf([&] { setup->put_SlideHeight(bad); }), kInvalid) << bad;
  EXPECT_FLOAT_EQ(setup->SlideHeight(), 540.0f);
}

// --- Opening -----------------------------------------------------------------------------------

struct OpenRow {
  const char* name;
  std::string mainContentType;
  std::string fileName;
  std::u16string refusal;  // empty: opens
};

TEST_F(ModelTest, OpensPresentationPackagesByContentTypeNotByName) {
  const std::vector<OpenRow> rows = {
      {"pptx", kPptxMain, "a.pptx", u""},
      {"macro-enabled", "application/vnd.ms-powerpoint.presentation.macroEnabled.main+xml", "a.pptm", u""},
      {"show", "application/vnd.openxmlformats-officedocument.presentationml.slideshow.main+xml", "a.ppsx", u""},
      {"macro show", "application/vnd.ms-powerpoint.slideshow.macroEnabled.main+xml", "a.ppsm", u""},
      {"template", "application/vnd.openxmlformats-officedocument.presentationml.template.main+xml", "a.potx", u""},
      {"macro template", "application/vnd.ms-powerpoint.template.macroEnabled.main+xml", "a.potm", u""},
      {"misnamed as .ppt", kPptxMain, "old.ppt", u""},
      {"word document", "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml", "a.pptx",
       u"this file is a word-processing document."},
      {"spreadsheet", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml", "a.pptx",
       u"this file is a spreadsheet."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto path = Write({.slides = {{.shapes = Title("t")}}, .mainContentType = row.mainContentType}, row.fileName);
    std::u16string description;
    std::shared_ptr<ppt::Presentation> presentation;
    const auto failure = FailureOf([&] { presentation = OpenFile(path); }, &description);
    if (row.refusal.empty()) {
      EXPECT_EQ(failure, 0) << text::ToUtf8(description);
      if (presentation) {
        EXPECT_EQ(presentation->Slides()->Count(), 1);
      }
    } else {
      EXPECT_EQ(failure, hresult::kInvalidData);
      EXPECT_NE(description.find(u"opens only Office Open XML presentations; " + row.refusal), std::u16string::npos)
          << text::ToUtf8(description);
      EXPECT_NE(description.find(text::FromUtf8(path.string())), std::u16string::npos);
    }
  }
}

TEST_F(ModelTest, RefusesAnOpenDocumentPackageAndMissingFiles) {
  auto package = Package::Create();
  package->SetPart("/mimetype", "application/vnd.oasis.opendocument.presentation", "text/plain");
  package->SetPart("/content.xml", "<office:document-content/>", "text/xml");
  const auto odp = dir_ / "talk.odp";
  package->Save(odp.string());
  std::u16string description;
  EXPECT_EQ(FailureOf([&] { OpenFile(odp); }, &description), hresult::kInvalidData);
  EXPECT_NE(description.find(u"this file is an OpenDocument presentation"), std::u16string::npos)
      << text::ToUtf8(description);
  EXPECT_EQ(FailureOf([&] { OpenFile(dir_ / "missing.pptx"); }), hresult::kFileNotFound);
  // Names the system would see changed never reach it: not the deck before the NUL, nor another
  // file for an unpaired surrogate.
  const std::u16string deck = text::FromUtf8(Write({.slides = {{.shapes = Title("t")}}}).string());
  for (const std::u16string& name : {deck + std::u16string(1, u'\0') + u"x", deck + u"\xD800"}) {
    app_ = CreateApplication();
    EXPECT_EQ(FailureOf([&] { app_->Presentations()->Open(name, 0, 0, 0); }), hresult::kFileNotFound);
  }
}

TEST_F(ModelTest, DamagedPartsFailWhereTheyAreRead) {
  const auto presentation =
      Open({.slides = {{.shapes = Title("fine")},
                       {.raw = R"(<?xml version="1.0"?><p:sld )" + kNamespaces + "><p:cSld>"},
                       {.raw = "<other/>"},
                       {.shapes = Title("notes lost"), .hasNotes = true, .notesPartMissing = true}}});
  ASSERT_EQ(presentation->Slides()->Count(), 4);
  EXPECT_EQ(TextOf(*ShapeOf(*presentation, 1, 1)), u"fine");
  std::u16string description;
  EXPECT_EQ(FailureOf([&] { presentation->Slides()->Item(2)->Shapes()->Count(); }, &description),
            hresult::kInvalidData);
  EXPECT_NE(description.find(u"slide2.xml"), std::u16string::npos) << text::ToUtf8(description);
  EXPECT_EQ(presentation->Slides()->Item(3)->Shapes()->Count(), 0);  // no shape tree: no shapes
  // A notes relationship to a missing part: the slide has no notes part.
  EXPECT_EQ(presentation->Slides()->Item(4)->NotesPage()->Shapes()->Count(), 2);
  EXPECT_EQ(TextOf(*ShapeOf(*presentation, 4, 1)), u"notes lost");

  const auto wrongRoot = Write({.slides = {{.shapes = Title("t")}}, .presentationRoot = "p:notes"}, "wrong.pptx");
  EXPECT_EQ(FailureOf([&] { OpenFile(wrongRoot); }, &description), hresult::kInvalidData);
  EXPECT_NE(description.find(u"damaged"), std::u16string::npos) << text::ToUtf8(description);
}

// --- Closing, quitting and limits --------------------------------------------------------------

TEST_F(ModelTest, EveryCallOnAClosedPresentationFails) {
  const auto presentation = Open({.slides = {{.shapes = Title("t") + Group(TextBox("g"))}}});
  const auto slides = presentation->Slides();
  const auto slide = slides->Item(1);
  const auto shape = ShapeOf(*presentation, 1, 1);
  const auto range = shape->TextFrame()->TextRange();
  const auto items = ShapeOf(*presentation, 1, 2)->GroupItems();
  const auto setup = presentation->PageSetup();
  presentation->Close();

  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"Presentation.Close", [&] { presentation->Close(); }},
      {"Presentation.Slides", [&] { presentation->Slides(); }},
      {"Slides.Count", [&] { slides->Count(); }},
      {"Slide.Shapes", [&] { slide->Shapes(); }},
      {"Slide.NotesPage", [&] { slide->NotesPage(); }},
      {"Shape.Type", [&] { shape->Type(); }},
      {"TextRange.Text", [&] { range->Text(); }},
      {"TextRange.InsertBefore", [&] { range->InsertBefore(u"x"); }},
      {"GroupItems.Count", [&] { items->Count(); }},
      {"PageSetup.SlideWidth", [&] { setup->SlideWidth(); }},
  };
  for (const auto& [name, call] : calls) {
    std::u16string description;
    EXPECT_EQ(FailureOf(call, &description), kInvalid) << name;
    EXPECT_EQ(description, text::FromUtf8(name) + u" : Object does not exist.");
  }
}

TEST_F(ModelTest, QuitEndsTheApplicationAndEverythingOfIt) {
  const auto presentation = Open({.slides = {{.shapes = Title("t")}}});
  const auto shape = ShapeOf(*presentation, 1, 1);
  const auto presentations = app_->Presentations();
  EXPECT_EQ(app_->Name(), u"Quorvane Presentations");
  EXPECT_EQ(app_->Version(), u"16.0");
  app_->Quit();
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"Name", [&] { app_->Name(); }},
      {"Version", [&] { app_->Version(); }},
      {"Presentations", [&] { app_->Presentations(); }},
      {"Quit", [&] { app_->Quit(); }},
      {"Open", [&] { presentations->Open(u"x.pptx", 0, 0, 0); }},
      {"Slides", [&] { presentation->Slides(); }},
      {"Shape.Type", [&] { shape->Type(); }},
  };
  for (const auto& [name, call] : calls) EXPECT_EQ(FailureOf(call), kServerUnavailable) << name;
}

TEST_F(ModelTest, FormatsAndFiltersTheEngineCannotServeFail) {
  const auto presentation = Open({.slides = {{.shapes = Title("t")}}});
  const auto slide = presentation->Slides()->Item(1);
  EXPECT_EQ(FailureOf([&] { presentation->SaveAs(u"out.xps", 33, 0); }), kInvalid);
  EXPECT_EQ(FailureOf([&] { slide->Export(u"s.xyz", u"XYZ", 0, 0); }), failure::kEFail);
}

struct LimitRow {
  const char* name;
  Limits limits;
  std::function<void(ModelTest&, ppt::Presentation*)> call;  // null presentation: the open fails
};

TEST_F(ModelTest, LimitsGiveClearFailures) {
  const TestDeck deck{.slides = {{.shapes = Group(Group(Group(TextBox("deep")))) + TextBox("123456")},
                                 {.shapes = Title("b")},
                                 {.shapes = Title("c")}}};
  const std::vector<LimitRow> rows = {
      {"slide count", Limits{.maxSlides = 2}, nullptr},
      {"group depth", Limits{.maxGroupDepth = 2},
       [](ModelTest&, ppt::Presentation* p) {
         ShapeOf(*p, 1, 1)->GroupItems()->Item(1)->GroupItems()->Item(1)->GroupItems();
       }},
      {"text length", Limits{.maxTextLength = 5}, [](ModelTest&, ppt::Presentation* p) { TextOf(*ShapeOf(*p, 1, 2)); }},
      {"inserted text length", Limits{.maxTextLength = 8},
       [](ModelTest&, ppt::Presentation* p) { ShapeOf(*p, 1, 2)->TextFrame()->TextRange()->InsertBefore(u"abc"); }},
  };
  const auto path = Write(deck);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::u16string description;
    std::shared_ptr<ppt::Presentation> presentation;
    const auto failure = FailureOf(
        [&] {
          presentation = OpenFile(path, row.limits);
          if (row.call) row.call(*this, presentation.get());
        },
        &description);
    EXPECT_EQ(failure, hresult::kOutOfMemory) << text::ToUtf8(description);
    EXPECT_NE(description.find(u"limit"), std::u16string::npos) << text::ToUtf8(description);
  }
  // Within the limits the same calls succeed.
  const auto presentation = OpenFile(path, Limits{.maxGroupDepth = 3, .maxSlides = 3});
  EXPECT_EQ(ShapeOf(*presentation, 1, 1)->GroupItems()->Item(1)->GroupItems()->Item(1)->GroupItems()->Count(), 1);
}

// --- Decks of the deck builder ----------------------------------------------------------------

// Checks a shape and, for a group, its members against the plan they were built from.
void ExpectShape(ppt::Shape& shape, const builder::ShapePlan& plan, std::int32_t slideNumber,
                 const std::string& where) {
  SCOPED_TRACE(where);
  ASSERT_EQ(shape.Type(), builder::ExpectedType(plan));
  if (shape.HasTextFrame()) {
    EXPECT_EQ(shape.TextFrame()->TextRange()->Text(), builder::ExpectedText(plan, slideNumber));
  }
  if (plan.kind == builder::ShapeKind::Table) {
    const auto table = shape.Table();
    ASSERT_EQ(table->RowsCount(), static_cast<std::int32_t>(plan.table.cells.size()));
    for (std::size_t r = 0; r < plan.table.cells.size(); ++r)
      for (std::size_t c = 0; c < plan.table.cells[r].size(); ++c)
        EXPECT_EQ(table->Cell(static_cast<std::int32_t>(r + 1), static_cast<std::int32_t>(c + 1))
                      ->Shape()
                      ->TextFrame()
                      ->TextRange()
                      ->Text(),
                  plan.table.cells[r][c]);
  }
  if (plan.kind == builder::ShapeKind::Group) {
    const auto items = shape.GroupItems();
    ASSERT_EQ(items->Count(), static_cast<std::int32_t>(plan.children.size()));
    for (std::size_t k = 0; k < plan.children.size(); ++k)
      ExpectShape(*items->Item(static_cast<std::int32_t>(k + 1)), plan.children[k], slideNumber,
                  where + " member " + std::to_string(k + 1));
  }
}

TEST_F(ModelTest, BuiltDecksReadBackAsTheyWereWritten) {
  std::vector<std::pair<const char*, builder::DeckPlan>> decks = {{"sample", builder::Sample()},
                                                                  {"generated", builder::Generated(40, 7)}};
  decks.back().second.firstSlideNumber = 5;
  for (const auto& [name, plan] : decks) {
    SCOPED_TRACE(name);
    const fs::path path = dir_ / (std::string(name) + ".pptx");
    builder::Write(plan, path.string());
    const auto presentation = OpenFile(path);
    const auto slides = presentation->Slides();
    ASSERT_EQ(slides->Count(), static_cast<std::int32_t>(plan.slides.size()));
    EXPECT_FLOAT_EQ(presentation->PageSetup()->SlideWidth(), static_cast<float>(plan.slideWidthEmu) / 12700.0f);
    for (std::size_t i = 0; i < plan.slides.size(); ++i) {
      const auto& slideSpec = plan.slides[i];
      const auto slide = slides->Item(static_cast<std::int32_t>(i + 1));
      const auto shapes = slide->Shapes();
      ASSERT_EQ(shapes->Count(), static_cast<std::int32_t>(slideSpec.shapes.size())) << "slide " << i + 1;
      const std::int32_t number = static_cast<std::int32_t>(i) + plan.firstSlideNumber;
      for (std::size_t j = 0; j < slideSpec.shapes.size(); ++j)
        ExpectShape(*shapes->Item(static_cast<std::int32_t>(j + 1)), slideSpec.shapes[j], number,
                    "slide " + std::to_string(i + 1) + " shape " + std::to_string(j + 1));
      // The notes page holds the slide picture and the notes shapes; without notes it is fresh.
      const auto notes = slide->NotesPage()->Shapes();
      EXPECT_GE(notes->Count(), slideSpec.notes ? static_cast<std::int32_t>(slideSpec.notes->size()) : 2);
      EXPECT_EQ(notes->Placeholders()->Item(1)->PlaceholderFormat()->Type(), kPlaceholderSlideImage);
    }
    presentation->Close();
  }
}

// --- The document cache ------------------------------------------------------------------------

TEST_F(ModelTest, NavigationHoldsAboutOneSlideAtATime) {
  TestDeck deck;
  for (int i = 0; i < 30; ++i)
    deck.slides.push_back({.shapes = Title("slide " + std::to_string(i + 1)),
                           .notes = Sp(R"(<p:ph type="body"/>)"),
                           .hasNotes = i % 2 == 0});
  const auto presentation = Open(deck);
  const auto model = ModelOf(presentation);
  std::size_t most = 0;
  for (int i = 1; i <= 30; ++i) {
    EXPECT_EQ(TextOf(*ShapeOf(*presentation, i, 1)), u"slide " + text::Decimal(i));
    NotesShape(*presentation, i, 1)->HasTextFrame();
    most = std::max(most, model->LiveDocumentCount());
  }
  // The presentation part and the last couple of slide or notes documents.
  EXPECT_LE(most, 1 + PresentationModel::kCleanDocumentsKept);

  // A held shape keeps its document alive, and the model hands out that one copy.
  const auto held = ShapeOf(*presentation, 1, 1);
  const auto first = model->Document("/ppt/slides/slide1.xml");
  for (int i = 2; i <= 30; ++i) ShapeOf(*presentation, i, 1)->Type();
  EXPECT_EQ(model->Document("/PPT/Slides/Slide1.xml"), first);
  EXPECT_EQ(TextOf(*held), u"slide 1");
}

// The text export's pattern on a large deck: every request from the presentation down.
TEST_F(ModelTest, ALargeDeckIsReadOneSlideAtATime) {
  const fs::path path = dir_ / "large.pptx";
  builder::Write(builder::Generated(500, 3), path.string());
  const auto presentation = OpenFile(path);
  const auto model = ModelOf(presentation);
  const std::int32_t count = presentation->Slides()->Count();
  ASSERT_EQ(count, 500);
  std::size_t most = 0;
  std::size_t characters = 0;
  for (std::int32_t i = 1; i <= count; ++i) {
    for (std::int32_t j = 1; j <= presentation->Slides()->Item(i)->Shapes()->Count(); ++j) {
      const auto shape = presentation->Slides()->Item(i)->Shapes()->Item(j);
      if (shape->HasTextFrame() && shape->TextFrame()->HasText())
        characters += presentation->Slides()->Item(i)->Shapes()->Item(j)->TextFrame()->TextRange()->Text().size();
    }
    const auto notes = presentation->Slides()->Item(i)->NotesPage()->Shapes();
    for (std::int32_t p = 1; p <= notes->Placeholders()->Count(); ++p)
      if (notes->Placeholders()->Item(p)->HasTextFrame()) notes->Placeholders()->Item(p)->TextFrame()->HasText();
    most = std::max(most, model->LiveDocumentCount());
  }
  EXPECT_GT(characters, 500u * 50u);
  EXPECT_LE(most, 1 + PresentationModel::kCleanDocumentsKept);
}

}  // namespace
}  // namespace quorvane::engines::pptx
