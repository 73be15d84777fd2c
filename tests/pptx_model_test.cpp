// The native engine's object model over small packages with exact content, for what the golden
// exports and the corpus walk do not reach: shape and placeholder types, the slide list, slide
// numbers, page set-up, groups and ungrouping, opening and refusing packages, closed presentations
// and quit applications, limits, and the document cache.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "engines/pptx/engine.hpp"
#include "engines/pptx/model.hpp"
#include "engines/pptx/package.hpp"
#include "support/fixtures.hpp"

namespace quorvane::engines::pptx {
namespace {

using testing::ThrownNumber;

namespace fs = std::filesystem;
namespace ppt = office::ppt;
constexpr std::int32_t kInvalid = failure::kPowerPointInvalidRequest;
constexpr const char* kPptxMain = "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml";
const std::string kRelBase = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

// --- Small decks ---------------------------------------------------------------------------------

std::string Body(const std::string& text) {
  std::string out = "<p:txBody><a:bodyPr/>";
  for (std::size_t at = 0, end; at <= text.size(); at = end + 1)  // '|' separates paragraphs
    end = std::min(text.find('|', at), text.size()),
    out += "<a:p><a:r><a:t>" + text.substr(at, end - at) + "</a:t></a:r></a:p>";
  return out + "</p:txBody>";
}
const std::string kSlideNumber =
    "<p:txBody><a:bodyPr/><a:p><a:fld id=\"{1}\" type=\"slidenum\"><a:t>&lt;#&gt;</a:t></a:fld></a:p></p:txBody>";
// A p:sp: `ph` its p:ph element or empty, `cNvSpPr` attributes, `spPr` content.
std::string Sp(const std::string& ph, const std::string& body = "", const std::string& cNvSpPr = "",
               const std::string& spPr = "") {
  return "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"S\"/><p:cNvSpPr" + cNvSpPr + "/><p:nvPr>" + ph +
         "</p:nvPr></p:nvSpPr><p:spPr>" + spPr + "</p:spPr>" + body + "</p:sp>";
}
std::string Title(const std::string& text) { return Sp("<p:ph type=\"title\"/>", Body(text)); }
std::string TextBox(const std::string& text, const std::string& xfrm = "") {
  return Sp("", Body(text), " txBox=\"1\"", xfrm);
}
std::string Xfrm(int x, int y, int cx, int cy, const std::string& attributes = "", const std::string& child = "") {
  return "<a:xfrm" + attributes + "><a:off x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
         "\"/><a:ext cx=\"" + std::to_string(cx) + "\" cy=\"" + std::to_string(cy) + "\"/>" + child + "</a:xfrm>";
}
std::string Group(const std::string& members, const std::string& xfrm = "") {
  return "<p:grpSp><p:nvGrpSpPr><p:cNvPr id=\"9\" name=\"G\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr><p:grpSpPr>" +
         xfrm + "</p:grpSpPr>" + members + "</p:grpSp>";
}
std::string Picture(const std::string& nvPr = "") {
  return "<p:pic><p:nvPicPr><p:cNvPr id=\"4\" name=\"P\"/><p:cNvPicPr/><p:nvPr>" + nvPr +
         "</p:nvPr></p:nvPicPr><p:blipFill><a:blip r:embed=\"rId9\"/></p:blipFill><p:spPr/></p:pic>";
}
std::string Frame(const std::string& kind, const std::string& data = "", const std::string& nvPr = "") {
  return "<p:graphicFrame><p:nvGraphicFramePr><p:cNvPr id=\"5\" name=\"F\"/><p:cNvGraphicFramePr/><p:nvPr>" + nvPr +
         "</p:nvPr></p:nvGraphicFramePr><p:xfrm/><a:graphic><a:graphicData uri=\"http://schemas.openxmlformats.org/" +
         kind + "\">" + data + "</a:graphicData></a:graphic></p:graphicFrame>";
}
std::string Cell(const std::string& text) {
  return "<a:tc><a:txBody><a:bodyPr/><a:p><a:r><a:t>" + text + "</a:t></a:r></a:p></a:txBody><a:tcPr/></a:tc>";
}
// A table of `columns` grid columns holding the rows of cells given.
std::string Table(int columns, const std::vector<std::string>& rows, const std::string& nvPr = "") {
  std::string grid;
  for (int c = 0; c < columns; ++c) grid += "<a:gridCol w=\"100\"/>";
  std::string body;
  for (const auto& row : rows) body += "<a:tr h=\"10\">" + row + "</a:tr>";
  return Frame("drawingml/2006/table", "<a:tbl><a:tblGrid>" + grid + "</a:tblGrid>" + body + "</a:tbl>", nvPr);
}
std::string Page(const char* root, const std::string& shapes, const std::string& attributes = "") {
  return std::string("<") + root + " xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" xmlns:r=\"" +
         kRelBase.substr(0, kRelBase.size() - 1) + "\" xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/"
         "main\" xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" xmlns:p14=\"http://schemas."
         "microsoft.com/office/powerpoint/2010/main\" xmlns:v=\"urn:schemas-microsoft-com:vml\"" + attributes +
         "><p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>"
         "<p:grpSpPr/>" + shapes + "</p:spTree></p:cSld></" + root + ">";
}

struct TestSlide {
  std::string shapes{}, notes{};
  bool hasNotes = false, hidden = false;
  std::string raw{};              // the slide part's bytes instead of a slide of `shapes`
  bool notesPartMissing = false;  // the notesSlide relationship points to no part
};
struct TestDeck {
  std::vector<TestSlide> slides{};
  std::string attributes{}, mainContentType = kPptxMain;
  bool reversePartNames = false;  // slide i lives in slide(n+1-i).xml
  std::string extraIds{}, root = "p:presentation";
};

Relationship Rel(const std::string& id, const std::string& kind, const std::string& partName) {
  return Relationship{id, kRelBase + kind, "", false, partName};
}

fs::path Write(const TestDeck& deck, const fs::path& path) {
  auto package = Package::Create();
  const std::size_t n = deck.slides.size();
  std::string ids;
  std::vector<Relationship> rels;
  for (std::size_t i = 0; i < n; ++i) {
    const auto& slide = deck.slides[i];
    const std::string number = std::to_string(deck.reversePartNames ? n - i : i + 1);
    const std::string part = "/ppt/slides/slide" + number + ".xml",
                      notes = "/ppt/notesSlides/notesSlide" + number + ".xml";
    ids += "<p:sldId id=\"" + std::to_string(256 + i) + "\" r:id=\"rId" + std::to_string(10 + i) + "\"/>";
    rels.push_back(Rel("rId" + std::to_string(10 + i), "slide", part));
    package->SetPart(part,
                     slide.raw.empty() ? Page("p:sld", slide.shapes, slide.hidden ? " show=\"0\"" : "") : slide.raw,
                     "application/vnd.openxmlformats-officedocument.presentationml.slide+xml");
    if (!slide.hasNotes) continue;
    if (!slide.notesPartMissing)
      package->SetPart(notes, Page("p:notes", slide.notes),
                       "application/vnd.openxmlformats-officedocument.presentationml.notesSlide+xml");
    package->SetRelationships(part, {Rel("rId1", "notesSlide", notes)});
  }
  const std::string page = Page(deck.root.c_str(), "", deck.attributes);
  package->SetPart("/ppt/presentation.xml", page.substr(0, page.find("<p:cSld>")) + "<p:sldIdLst>" + ids +
                       deck.extraIds + "</p:sldIdLst><p:sldSz cx=\"9144000\" cy=\"6858000\" type=\"screen4x3\"/>"
                       "<p:notesSz cx=\"6858000\" cy=\"9144000\"/></" + deck.root + ">", deck.mainContentType);
  package->SetRelationships("/ppt/presentation.xml", rels);
  package->SetRelationships("/", {Rel("rId1", "officeDocument", "/ppt/presentation.xml")});
  package->Save(path.string());
  return path;
}

class ModelTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (app_) ThrownNumber([&] { app_->Quit(); });
  }
  std::shared_ptr<ppt::Presentation> Open(const TestDeck& deck, const Limits& limits = kDefaultLimits) {
    return OpenFile(Write(deck, dir_ / "deck.pptx"), limits);
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

  testing::TempFolder dir_;
  std::shared_ptr<ppt::Application> app_;
};

// --- Shapes --------------------------------------------------------------------------------------

TEST_F(ModelTest, ShapeTypesFollowTheXml) {
  const std::string ole = "presentationml/2006/ole";
  const auto alt = [](const char* required) {
    return "<mc:AlternateContent><mc:Choice Requires=\"" + std::string(required) + "\">" + TextBox("c") +
           "</mc:Choice><mc:Fallback>" + Picture() + "</mc:Fallback></mc:AlternateContent>";
  };
  const struct { const char* name; std::string xml; std::int32_t type; office::Tristate hasTextFrame;
    std::int32_t placeholder; } rows[] = {
      {"vertical title", Sp("<p:ph type=\"title\" orient=\"vert\"/>"), 14, -1, 5},
      {"vertical obj", Sp("<p:ph orient=\"vert\" idx=\"1\"/>"), 14, -1, 17},
      {"video", Picture("<a:videoFile r:link=\"rId3\"/>"), 16, 0, 0},
      {"filled picture placeholder", Picture("<p:ph type=\"pic\" idx=\"1\"/>"), 14, 0, 18},
      {"filled table placeholder", Table(1, {Cell("c")}, "<p:ph type=\"tbl\" idx=\"1\"/>"), 14, 0, 12},
      {"embedded object", Frame(ole, "<p:oleObj r:id=\"rId5\" progId=\"Excel.Sheet.12\"><p:embed/></p:oleObj>"), 7, 0, 0},
      {"linked object", Frame(ole, "<p:oleObj r:id=\"rId5\" progId=\"Excel.Sheet.12\"><p:link/></p:oleObj>"), 10, 0, 0},
      {"other graphic", Frame("x/chartex"), 28, 0, 0},
      {"fallback for a foreign choice", alt("v"), 13, 0, 0},
  };
  std::string shapes;
  for (const auto& row : rows) shapes += row.xml;
  const auto all = Open({.slides = {{.shapes = shapes}}})->Slides()->Item(1)->Shapes();
  ASSERT_EQ(all->Count(), std::int32_t(std::size(rows)));
  std::int32_t placeholders = 0;
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const auto& row = rows[i];
    const auto shape = all->Item(std::int32_t(i + 1));
    EXPECT_EQ(shape->Type(), row.type) << row.name;
    EXPECT_EQ(shape->HasTextFrame(), row.hasTextFrame) << row.name;
    // Every shape answers a text frame; only frames of text-bearing shapes give a text range.
    EXPECT_EQ(ThrownNumber([&] { shape->TextFrame()->TextRange(); }), row.hasTextFrame ? 0 : kInvalid) << row.name;
    if (!row.hasTextFrame) { EXPECT_EQ(shape->TextFrame()->HasText(), 0) << row.name; }
    placeholders += row.placeholder != 0;
    if (row.placeholder) { EXPECT_EQ(shape->PlaceholderFormat()->Type(), row.placeholder) << row.name; }
    else { EXPECT_EQ(ThrownNumber([&] { shape->PlaceholderFormat(); }), kInvalid) << row.name; }
    EXPECT_EQ(ThrownNumber([&] { shape->Table(); }), row.xml.find("<a:tbl>") != std::string::npos ? 0 : kInvalid)
        << row.name;
    EXPECT_EQ(ThrownNumber([&] { shape->GroupItems(); }), kInvalid) << row.name;
  }
  const auto list = all->Placeholders();
  ASSERT_EQ(list->Count(), placeholders);
  EXPECT_EQ(list->Item(placeholders)->PlaceholderFormat()->Type(), 12);
  EXPECT_EQ(ThrownNumber([&] { list->Item(0); }), kInvalid);
  EXPECT_EQ(ThrownNumber([&] { all->Item(all->Count() + 1); }), kInvalid);
  // Cells outside the table's rows and grid (the golden exports read the cells inside).
  const auto table = list->Item(placeholders)->Table();
  for (const auto& [row, column] : {std::pair{0, 1}, {1, 0}, {2, 1}, {1, 2}})
    EXPECT_EQ(ThrownNumber([&] { table->Cell(row, column); }), kInvalid) << row << "," << column;
}

TEST_F(ModelTest, SlidesTextAndPageSetupFollowTheSlideList) {
  const std::string field = Sp("<p:ph type=\"sldNum\" idx=\"12\"/>", kSlideNumber);
  // Part names in reverse order: numbers come from the list; the hidden second slide is a slide too,
  // the id without a relationship is none.
  const TestSlide slide{.shapes = field + Sp("", "", " txBox=\"1\"") + Table(1, {Cell("cell")}), .notes = field,
                        .hasNotes = true};
  const auto presentation = Open({.slides = {slide, {.shapes = Title("two"), .hidden = true}, slide},
                                  .attributes = " firstSlideNum=\"10\"", .reversePartNames = true,
                                  .extraIds = "<p:sldId id=\"900\" r:id=\"rId99\"/>"});
  const auto model = ModelOf(presentation);
  ASSERT_EQ(presentation->Slides()->Count(), 3);
  for (const int i : {1, 3}) {
    EXPECT_EQ(TextOf(*ShapeOf(*presentation, i, 1)), text::Decimal(9 + i)) << i;
    EXPECT_EQ(TextOf(*NotesShape(*presentation, i, 1)), text::Decimal(9 + i)) << i;
  }
  std::u16string description;
  EXPECT_EQ(ThrownNumber([&] { presentation->Slides()->Item(4); }, &description), kInvalid);
  EXPECT_EQ(description, u"Slides.Item : Integer out of range. 4 is not in the valid range of 1 to 3.");
  EXPECT_TRUE(model->DirtyParts().empty());
  ShapeOf(*presentation, 3, 2)->TextFrame()->TextRange()->InsertBefore(u"new\rtext");  // no text body yet
  EXPECT_EQ(TextOf(*ShapeOf(*presentation, 3, 2)), u"new\rtext");
  const auto cell = ShapeOf(*presentation, 3, 3)->Table()->Cell(1, 1)->Shape();
  cell->TextFrame()->TextRange()->InsertBefore(u"(1,1) ");
  EXPECT_EQ(TextOf(*cell), u"(1,1) cell");
  EXPECT_EQ(model->DirtyParts(), std::vector<std::string>{"/ppt/slides/slide1.xml"});  // the third slide's part
  // The page set-up writes the size in points as EMU, and the size type no longer holds.
  const auto setup = presentation->PageSetup();
  setup->put_SlideWidth(960.0f);
  const xml::Node size = xml::Child(model->PresentationDocument()->root(), "p:sldSz");
  EXPECT_EQ(xml::IntAttr(size, "cx", 0), 12192000);
  EXPECT_EQ(xml::Attr(size, "type", "none"), "none");
  for (const float bad : {0.0f, 71.0f, 5000.0f})
    EXPECT_EQ(ThrownNumber([&] { setup->put_SlideHeight(bad); }), kInvalid) << bad;
  EXPECT_FLOAT_EQ(setup->SlideHeight(), 540.0f);
}

// --- Groups --------------------------------------------------------------------------------------

struct Placement {
  long long x, y, cx, cy, rot;
  bool flipH, flipV;
  bool operator==(const Placement&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Placement& p) {
  return out << "(" << p.x << "," << p.y << " " << p.cx << "x" << p.cy << " rot " << p.rot << " " << p.flipH << p.flipV
             << ")";
}

TEST_F(ModelTest, GroupItemsAndUngroupKeepMembersInTheirPlaces) {
  const auto child = [](int x, int y, int cx, int cy) {
    return "<a:chOff x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\"/><a:chExt cx=\"" +
           std::to_string(cx) + "\" cy=\"" + std::to_string(cy) + "\"/>";
  };
  const struct { const char* name; std::string group, member; Placement expected;
  } rows[] = {
      {"offset only", Xfrm(1000, 2000, 500, 500, "", child(0, 0, 500, 500)), Xfrm(100, 50, 200, 100),
       {1100, 2050, 200, 100, 0, false, false}},
      {"child offset and scale", Xfrm(1000, 2000, 2000, 4000, "", child(500, 500, 1000, 1000)),
       Xfrm(600, 700, 200, 200), {1200, 2800, 400, 800, 0, false, false}},
      {"rotated a quarter turn", Xfrm(0, 0, 1000, 1000, " rot=\"5400000\"", child(0, 0, 1000, 1000)),
       Xfrm(0, 0, 100, 100), {900, 0, 100, 100, 5400000, false, false}},
      {"flipped horizontally", Xfrm(0, 0, 1000, 1000, " flipH=\"1\"", child(0, 0, 1000, 1000)),
       Xfrm(0, 0, 100, 100, " rot=\"60000\""), {900, 0, 100, 100, 21600000 - 60000, true, false}},
      {"flipped vertically", Xfrm(0, 0, 1000, 1000, " flipV=\"1\"", child(0, 0, 1000, 1000)),
       Xfrm(0, 0, 100, 100, " flipV=\"1\""), {0, 900, 100, 100, 0, false, false}},
      {"no child extents", Xfrm(10, 20, 5, 5), Xfrm(30, 40, 5, 5), {30, 40, 5, 5, 0, false, false}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto presentation = Open({.slides = {{.shapes = Title("T") +
        Group(TextBox("A", row.member) + Group(TextBox("B") + Picture(), row.member), row.group) + TextBox("after")}}});
    const auto shapes = presentation->Slides()->Item(1)->Shapes();
    const auto group = shapes->Item(2), after = shapes->Item(3);
    const auto items = group->GroupItems();
    ASSERT_EQ(items->Count(), 2);
    const auto member = items->Item(1);
    EXPECT_EQ(ThrownNumber([&] { items->Item(3); }), kInvalid);
    EXPECT_EQ(ThrownNumber([&] { member->Ungroup(); }), kInvalid);
    group->Ungroup();
    ASSERT_EQ(shapes->Count(), 4);
    EXPECT_EQ(shapes->Item(3)->Type(), 6);  // the nested group is now on the slide
    // Objects of the members and of other shapes still work; the group's do not.
    EXPECT_EQ(TextOf(*member), u"A");
    EXPECT_EQ(TextOf(*after), u"after");
    EXPECT_EQ(ThrownNumber([&] { group->Type(); }), kInvalid);
    EXPECT_EQ(ThrownNumber([&] { group->Ungroup(); }), kInvalid);
    const auto model = ModelOf(presentation);
    for (const int k : {1, 2}) {
      const xml::Node shape = model->Document("/ppt/slides/slide1.xml")->PageShapes()[std::size_t(k)];
      const xml::Node xfrm = xml::Path(shape, "p:spPr/a:xfrm") ? xml::Path(shape, "p:spPr/a:xfrm")
                                                               : xml::Path(shape, "p:grpSpPr/a:xfrm");
      const xml::Node off = xml::Child(xfrm, "a:off"), ext = xml::Child(xfrm, "a:ext");
      EXPECT_EQ((Placement{xml::IntAttr(off, "x", -1), xml::IntAttr(off, "y", -1), xml::IntAttr(ext, "cx", -1),
                           xml::IntAttr(ext, "cy", -1), xml::IntAttr(xfrm, "rot", 0),
                           xml::BoolAttr(xfrm, "flipH", false), xml::BoolAttr(xfrm, "flipV", false)}),
                row.expected);
    }
    EXPECT_EQ(model->DirtyParts(), std::vector<std::string>{"/ppt/slides/slide1.xml"});
    presentation->Close();
  }
}

// --- Opening -------------------------------------------------------------------------------------

TEST_F(ModelTest, OpensPresentationPackagesByContentTypeNotByName) {
  const auto odp = Package::Create();
  odp->SetPart("/mimetype", "application/vnd.oasis.opendocument.presentation", "text/plain");
  odp->SetPart("/content.xml", "<office:document-content/>", "text/xml");
  odp->Save((dir_ / "talk.odp").string());
  const std::pair<fs::path, std::u16string> rows[] = {
      {Write({.slides = {{.shapes = Title("t")}},
              .mainContentType = "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"},
             dir_ / "w.pptx"),
       u"this file is a word-processing document."},
      {Write({.slides = {{.shapes = Title("t")}},
              .mainContentType = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"},
             dir_ / "s.pptx"),
       u"this file is a spreadsheet."},
      {dir_ / "talk.odp", u"this file is an OpenDocument presentation"}};
  for (const auto& [path, refusal] : rows) {
    std::u16string description;
    EXPECT_EQ(ThrownNumber([&] { OpenFile(path); }, &description), failure::kWin32InvalidData) << path;
    EXPECT_NE(description.find(u"opens only Office Open XML presentations; " + refusal), std::u16string::npos)
        << text::ToUtf8(description);
    EXPECT_NE(description.find(text::FromUtf8(path.string())), std::u16string::npos) << text::ToUtf8(description);
  }
  EXPECT_EQ(ThrownNumber([&] { OpenFile(dir_ / "missing.pptx"); }), failure::kWin32FileNotFound);
  // Names the system would see changed never reach it: not the deck before a NUL, nor another file
  // for an unpaired surrogate.
  const std::u16string deck = text::FromUtf8(Write({.slides = {{.shapes = Title("t")}}}, dir_ / "d.pptx").string());
  for (const std::u16string& name : {deck + std::u16string(1, u'\0') + u"x", deck + u"\xD800"})
    EXPECT_EQ(ThrownNumber([&] { app_->Presentations()->Open(name, 0, 0, 0); }), failure::kWin32FileNotFound);
}

TEST_F(ModelTest, DamagedPartsFailWhereTheyAreRead) {
  const auto presentation =
      Open({.slides = {{.shapes = Title("fine")},
                       {.raw = Page("p:sld", "").substr(0, 200)},
                       {.raw = "<other/>"},
                       {.shapes = Title("notes lost"), .hasNotes = true, .notesPartMissing = true}}});
  ASSERT_EQ(presentation->Slides()->Count(), 4);
  EXPECT_EQ(TextOf(*ShapeOf(*presentation, 1, 1)), u"fine");
  std::u16string description;
  EXPECT_EQ(ThrownNumber([&] { presentation->Slides()->Item(2)->Shapes()->Count(); }, &description),
            failure::kWin32InvalidData);
  EXPECT_NE(description.find(u"slide2.xml"), std::u16string::npos) << text::ToUtf8(description);
  EXPECT_EQ(presentation->Slides()->Item(3)->Shapes()->Count(), 0);  // no shape tree: no shapes
  EXPECT_EQ(presentation->Slides()->Item(4)->NotesPage()->Shapes()->Count(), 2);  // a fresh notes page
  EXPECT_EQ(
      ThrownNumber([&] { OpenFile(Write({.slides = {{.shapes = Title("t")}}, .root = "p:notes"}, dir_ / "w.pptx")); },
                &description),
      failure::kWin32InvalidData);
  EXPECT_NE(description.find(u"damaged"), std::u16string::npos) << text::ToUtf8(description);
}

// --- Closing, quitting and limits ----------------------------------------------------------------

TEST_F(ModelTest, ClosedPresentationsAndQuitApplicationsRefuseEveryCall) {
  const auto presentation = Open({.slides = {{.shapes = Title("t") + Group(TextBox("g"))}}});
  const auto slides = presentation->Slides();
  const auto slide = slides->Item(1);
  const auto shape = ShapeOf(*presentation, 1, 1);
  const auto range = shape->TextFrame()->TextRange();
  const auto items = ShapeOf(*presentation, 1, 2)->GroupItems();
  const auto setup = presentation->PageSetup();
  presentation->Close();
  const std::pair<const char*, std::function<void()>> closed[] = {
      {"Presentation.Close", [&] { presentation->Close(); }}, {"Slides.Count", [&] { slides->Count(); }},
      {"Slide.NotesPage", [&] { slide->NotesPage(); }}, {"Shape.Type", [&] { shape->Type(); }},
      {"TextRange.InsertBefore", [&] { range->InsertBefore(u"x"); }}, {"GroupItems.Count", [&] { items->Count(); }},
      {"PageSetup.SlideWidth", [&] { setup->SlideWidth(); }}};
  for (const auto& [name, call] : closed) {
    std::u16string description;
    EXPECT_EQ(ThrownNumber(call, &description), kInvalid) << name;
    EXPECT_EQ(description, text::FromUtf8(name) + u" : Object does not exist.");
  }
  const auto other = Open({.slides = {{.shapes = Title("t")}}});
  const auto otherShape = ShapeOf(*other, 1, 1);
  const auto presentations = app_->Presentations();
  EXPECT_EQ(ThrownNumber([&] { other->Slides()->Item(1)->Export(u"s.xyz", u"XYZ", 0, 0); }), failure::kEFail);
  app_->Quit();
  const std::function<void()> quit[] = {[&] { app_->Name(); }, [&] { app_->Version(); }, [&] { app_->Presentations(); },
                                        [&] { other->Slides(); }, [&] { app_->Quit(); },
                                        [&] { presentations->Open(u"x.pptx", 0, 0, 0); }, [&] { otherShape->Type(); }};
  for (const auto& call : quit) EXPECT_EQ(ThrownNumber(call), failure::kServerUnavailable);
}

TEST_F(ModelTest, LimitsGiveClearFailures) {
  const auto path = Write({.slides = {{.shapes = Group(Group(Group(TextBox("deep")))) + TextBox("123456")},
                                      {.shapes = Title("b")}, {.shapes = Title("c")}}}, dir_ / "limits.pptx");
  const struct { const char* name; Limits limits; std::function<void(ppt::Presentation&)> call; } rows[] = {
      {"slide count", Limits{.maxSlides = 2}, nullptr},
      {"inserted text length", Limits{.maxTextLength = 8},
       [](ppt::Presentation& p) { ShapeOf(p, 1, 2)->TextFrame()->TextRange()->InsertBefore(u"abc"); }},
  };
  for (const auto& row : rows) {
    std::u16string description;
    EXPECT_EQ(ThrownNumber([&] { const auto p = OpenFile(path, row.limits); if (row.call) row.call(*p); },
                           &description),
              failure::kEOutOfMemory) << row.name << ": " << text::ToUtf8(description);
    EXPECT_NE(description.find(u"limit"), std::u16string::npos) << row.name << ": " << text::ToUtf8(description);
  }
  const auto presentation = OpenFile(path, Limits{.maxGroupDepth = 3, .maxSlides = 3});  // within the limits
  EXPECT_EQ(ShapeOf(*presentation, 1, 1)->GroupItems()->Item(1)->GroupItems()->Item(1)->GroupItems()->Count(), 1);
}

// --- The document cache --------------------------------------------------------------------------

TEST_F(ModelTest, NavigationHoldsAboutOneSlideAtATime) {
  TestDeck deck;
  for (int i = 0; i < 30; ++i)
    deck.slides.push_back({.shapes = Title("slide " + std::to_string(i + 1)),
                           .notes = Sp("<p:ph type=\"body\"/>"),
                           .hasNotes = i % 2 == 0});
  const auto presentation = Open(deck);
  const auto model = ModelOf(presentation);
  std::size_t most = 0;
  for (int i = 1; i <= 30; ++i) {
    EXPECT_EQ(TextOf(*ShapeOf(*presentation, i, 1)), u"slide " + text::Decimal(i));
    NotesShape(*presentation, i, 1)->HasTextFrame();
    most = std::max(most, model->LiveDocumentCount());
  }
  EXPECT_LE(most, 1 + PresentationModel::kCleanDocumentsKept);  // the presentation and the last couple of pages
  // A held shape keeps its document alive, and the model hands out that one copy.
  const auto held = ShapeOf(*presentation, 1, 1);
  const auto first = model->Document("/ppt/slides/slide1.xml");
  for (int i = 2; i <= 30; ++i) ShapeOf(*presentation, i, 1)->Type();
  EXPECT_EQ(model->Document("/PPT/Slides/Slide1.xml"), first);
  EXPECT_EQ(TextOf(*held), u"slide 1");
}

}  // namespace
}  // namespace quorvane::engines::pptx
