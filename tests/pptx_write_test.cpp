// The native engine's write side: new presentations, copying and pasting slides (within one
// presentation, across presentations, from several sources), what a pasted slide brings along, the
// clip as a snapshot, saving in the six package kinds with and without the macro project, the
// outline, refused formats, and the source file that is never written. Every saved package is
// checked for what a reader relies on: ids unique and in range, every relationship target present,
// every part with a content type.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/model.hpp"
#include "engines/pptx/model_write.hpp"
#include "engines/pptx/package.hpp"
#include "engines/pptx/rtf_outline.hpp"
#include "engines/pptx/xml.hpp"
#include "engines/shared/render_bridge.hpp"
#include "support/fixtures.hpp"

namespace quorvane::engines::pptx {
namespace {

using testing::ThrownNumber;

namespace fs = std::filesystem;
namespace ppt = office::ppt;
namespace b = builder;
constexpr std::int32_t kInvalid = failure::kPowerPointInvalidRequest;
constexpr std::string_view kVba = "http://schemas.microsoft.com/office/2006/relationships/vbaProject";
constexpr std::string_view kMacroMain = "application/vnd.ms-powerpoint.presentation.macroEnabled.main+xml";

// The six package kinds: save code, extension and the main part's content type.
const struct { std::int32_t code; const char* extension; const char* type; } kKinds[] = {
    {24, "pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml"},
    {25, "pptm", "application/vnd.ms-powerpoint.presentation.macroEnabled.main+xml"},
    {26, "potx", "application/vnd.openxmlformats-officedocument.presentationml.template.main+xml"},
    {27, "potm", "application/vnd.ms-powerpoint.template.macroEnabled.main+xml"},
    {28, "ppsx", "application/vnd.openxmlformats-officedocument.presentationml.slideshow.main+xml"},
    {29, "ppsm", "application/vnd.ms-powerpoint.slideshow.macroEnabled.main+xml"}};

std::u16string U(const fs::path& path) { return text::FromUtf8(path.string()); }
std::string Rel(std::string_view kind) {
  return "http://schemas.openxmlformats.org/officeDocument/2006/relationships/" + std::string(kind);
}

// --- Decks with extra parts ----------------------------------------------------------------------

void AddPart(b::BuiltDeck& deck, std::string name, std::string type, std::string bytes) {
  deck.parts.push_back({name, type, bytes});
}
void AddRel(b::BuiltDeck& deck, std::string_view source, std::string id, std::string type, std::string part,
            std::string external = {}) {
  Relationship r{id, type, external, !external.empty(), part};
  for (auto& entry : deck.relationships)
    if (part_name::Equal(entry.source, source)) return entry.relationships.push_back(r);
  deck.relationships.push_back({std::string(source), {r}});
}
std::string& PartOf(b::BuiltDeck& deck, std::string_view name) {
  for (auto& part : deck.parts)
    if (part_name::Equal(part.name, name)) return part.bytes;
  throw std::runtime_error("no part " + std::string(name));
}
void Replace(std::string& text, std::string_view what, std::string_view with) {
  const auto at = text.find(what);
  if (at == std::string::npos) throw std::runtime_error("not found: " + std::string(what));
  text.replace(at, what.size(), with);
}
fs::path WriteDeck(const b::BuiltDeck& deck, const fs::path& path) {
  auto package = Package::Create();
  for (const auto& part : deck.parts) package->SetPart(part.name, part.bytes, part.contentType);
  for (const auto& entry : deck.relationships) package->SetRelationships(entry.source, entry.relationships);
  package->Save(path.string());
  return path;
}

// --- Package checks ------------------------------------------------------------------------------

// What is wrong with a saved package; empty when nothing.
std::string Problems(const fs::path& file) {
  std::string out;
  const auto package = Package::Open(file.string());
  std::vector<std::string> sources = package->PartNames();
  for (const auto& name : sources)
    if (package->ContentType(name).empty()) out += "no content type: " + name + "\n";
  sources.push_back("/");
  for (const auto& source : sources)
    for (const auto& r : source.ends_with(".rels") ? std::vector<Relationship>{} : package->Relationships(source))
      if (!r.external && !package->HasPart(r.partName)) out += source + " " + r.id + " -> missing " + r.partName + "\n";
  // The parts the entries of `list` relate to, each of `kind`; every id new and in [low, high].
  std::set<std::int64_t> ids;
  const auto entries = [&](const std::string& source, xml::Node list, const char* entry, std::string_view kind,
                           std::int64_t low, std::int64_t high) {
    std::vector<std::string> parts;
    for (const xml::Node id : xml::ChildrenNamed(list, entry)) {
      std::string part;
      for (const auto& r : package->Relationships(source))
        if (r.id == xml::Attr(id, "r:id") && rel::Is(r.type, kind)) part = r.partName;
      const std::int64_t value = xml::IntAttr(id, "id", low);
      if (value < low || value > high || (high > low && !ids.insert(value).second) || part.empty())
        out += std::string("bad ") + entry + " " + std::to_string(value) + " in " + source + "\n";
      else
        parts.push_back(part);
    }
    return parts;
  };
  const std::string main = "/ppt/presentation.xml";
  const auto presentation = xml::Document::Parse(package->ReadPart(main), main);
  const xml::Node root = presentation->root();
  for (const auto& slide : entries(main, xml::Child(root, "p:sldIdLst"), "p:sldId", "slide", 256, 2147483647)) {
    int layouts = 0;
    for (const auto& sr : package->Relationships(slide)) {
      layouts += rel::Is(sr.type, "slideLayout");
      if (!rel::Is(sr.type, "notesSlide")) continue;
      int back = 0;
      for (const auto& nr : package->Relationships(sr.partName))
        back +=
            (rel::Is(nr.type, "slide") && part_name::Equal(nr.partName, slide)) + 2 * rel::Is(nr.type, "notesMaster");
      if (back != 3) out += "notes slide " + sr.partName + " lacks its slide or notes master\n";
    }
    if (layouts != 1) out += slide + " has " + std::to_string(layouts) + " layouts\n";
  }
  for (const auto& master :
       entries(main, xml::Child(root, "p:sldMasterIdLst"), "p:sldMasterId", "slideMaster", 2147483648, 4294967295)) {
    const auto layouts = xml::Document::Parse(package->ReadPart(master), master);
    entries(master, xml::Child(layouts->root(), "p:sldLayoutIdLst"), "p:sldLayoutId", "slideLayout", 2147483648,
            4294967295);
  }
  entries(main, xml::Child(root, "p:notesMasterIdLst"), "p:notesMasterId", "notesMaster", 0, 0);
  return out;
}

// Parts of a saved package whose folded names start with `prefix`, relationship parts aside.
int CountParts(const fs::path& file, std::string_view prefix) {
  int n = 0;
  for (std::string name : Package::Open(file.string())->PartNames()) {
    for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    n += name.starts_with(prefix) && !name.ends_with(".rels");
  }
  return n;
}

// Shapes (type and text) of a slide and of its notes page.
std::string View(ppt::Slide& slide) {
  std::string out;
  for (const auto& shapes : {slide.Shapes(), slide.NotesPage()->Shapes()}) {
    for (std::int32_t i = 1; i <= shapes->Count(); ++i)
      out += std::to_string(shapes->Item(i)->Type()) + ":" +
             (shapes->Item(i)->HasTextFrame() ? text::ToUtf8(shapes->Item(i)->TextFrame()->TextRange()->Text()) : "") +
             "|";
    out += " notes ";
  }
  return out;
}
std::vector<std::string> Views(ppt::Presentation& presentation) {
  std::vector<std::string> out;
  for (std::int32_t i = 1; i <= presentation.Slides()->Count(); ++i)
    out.push_back(View(*presentation.Slides()->Item(i)));
  return out;
}

class WriteTest : public ::testing::Test {
 protected:
  void TearDown() override { ThrownNumber([&] { app_->Quit(); }); }
  fs::path Deck(const b::DeckPlan& plan, const std::string& name) {
    b::Write(plan, (dir_ / name).string());
    return dir_ / name;
  }
  std::shared_ptr<ppt::Presentation> Open(const fs::path& path) {
    return app_->Presentations()->Open(U(path), 0, 0, 0);
  }
  std::shared_ptr<ppt::Presentation> Add() { return app_->Presentations()->Add(0); }
  // Saves as `name` in `format`, checks the package and reopens it.
  std::shared_ptr<ppt::Presentation> SaveAndReopen(ppt::Presentation& presentation, const std::string& name,
                                                   std::int32_t format = 24) {
    presentation.SaveAs(U(dir_ / name), format, 0);
    EXPECT_EQ(Problems(dir_ / name), "") << name;
    return Open(dir_ / name);
  }
  void Paste(ppt::Presentation& from, int slide, ppt::Presentation& to, std::int32_t index = -1) {
    from.Slides()->Item(slide)->Copy();
    to.Slides()->Paste(index);
  }
  testing::TempFolder dir_;
  std::shared_ptr<ppt::Application> app_ = CreateApplication();
};

b::SlidePlan TitledSlide(std::u16string title, std::u16string body, std::optional<std::u16string> notes = {}) {
  // Notes without a slide-number placeholder, so that a slide's view does not depend on its position.
  return {{b::Title(title), b::Body(body), b::Picture()},
          notes ? std::optional(std::vector{b::Body(*notes)}) : std::nullopt, true, false, {}};
}
// Three slides; a slide size other than the blank presentation's, so that its master differs.
b::DeckPlan ThreeSlides(std::u16string tag, std::int64_t width = 9144000) {
  return {width, b::kDefaultSlideHeight, 1,
          {TitledSlide(tag + u" one", u"first\rsecond", u"notes of " + tag), TitledSlide(tag + u" two", u"body two"),
           TitledSlide(tag + u" three", u"body three")}, {}};
}

// --- Copy and paste (the corpus walk pastes every real slide into a new presentation) ---------

TEST_F(WriteTest, PasteNeedsACopiedSlideOfItsApplicationAndAValidIndexAndPastesASnapshot) {
  const auto source = Open(Deck(ThreeSlides(u"A"), "a.pptx"));
  const auto target = Add();
  std::u16string description;
  EXPECT_EQ(ThrownNumber([&] { target->Slides()->Paste(-1); }, &description), kInvalid);
  EXPECT_EQ(description,
            u"Slides.Paste : Invalid request. Clipboard is empty or contains data which may not be pasted here.");
  const auto other = CreateApplication();  // the clipboard is the application's own
  source->Slides()->Item(1)->Copy();
  EXPECT_EQ(ThrownNumber([&] { other->Presentations()->Add(0)->Slides()->Paste(-1); }), kInvalid);
  other->Quit();
  target->Slides()->Paste(1);
  EXPECT_EQ(ThrownNumber([&] { target->Slides()->Paste(3); }), kInvalid);
  EXPECT_EQ(ThrownNumber([&] { target->Slides()->Paste(0); }), kInvalid);
  // The clip is a snapshot: a change before the copy is in it, one after is not, and it outlives its source.
  source->Slides()->Item(2)->Shapes()->Item(2)->TextFrame()->TextRange()->InsertBefore(u"new ");
  const auto original = View(*source->Slides()->Item(2));
  EXPECT_NE(original.find("new body two"), std::string::npos);
  source->Slides()->Item(2)->Copy();
  source->Slides()->Item(2)->Shapes()->Item(1)->TextFrame()->TextRange()->InsertBefore(u"changed ");
  source->Close();
  const auto pasted = Add();
  pasted->Slides()->Paste(-1);
  pasted->Slides()->Paste(-1);
  EXPECT_EQ(Views(*SaveAndReopen(*pasted, "out.pptx")), (std::vector<std::string>{original, original}));
  app_->Quit();  // which empties it: every call fails with 462 afterwards
  EXPECT_EQ(ThrownNumber([&] { target->Slides()->Paste(-1); }), failure::kServerUnavailable);
}

// A deck whose first slide relates to a chart with its workbook, a diagram with a picture, tags,
// custom XML, a video, comments, a hyperlink to slide 2, an external hyperlink and a target the
// deck lacks.
fs::path RichDeck(const fs::path& path) {
  b::SlidePlan first = TitledSlide(u"Rich", u"body", u"rich notes");
  first.shapes.push_back(b::Chart());
  first.shapes.push_back(b::TextBox(u"link"));
  b::BuiltDeck deck =
      b::Render({b::kDefaultSlideWidth, b::kDefaultSlideHeight, 1, {first, TitledSlide(u"Second", u"two")}, {}});
  const std::string slide = "/ppt/slides/slide1.xml", chart = "/ppt/charts/chart1.xml",
                    ms = "http://schemas.microsoft.com/office/", o = "application/vnd.openxmlformats-officedocument.";
  Replace(PartOf(deck, slide), "name=\"TextBox 5\"/>",
          "name=\"TextBox 5\"><a:hlinkClick r:id=\"rId90\" action=\"ppaction://hlinksldjump\"/></p:cNvPr>");
  AddRel(deck, slide, "rId90", Rel("slide"), "/ppt/slides/slide2.xml");
  AddRel(deck, slide, "rId91", Rel("hyperlink"), "", "https://example.com/");
  const std::tuple<std::string, std::string, std::string, std::string, std::string> parts[] = {
      // source, id, type, part, content type
      {chart, "rId1", Rel("package"), "/ppt/embeddings/Microsoft_Excel_Worksheet1.xlsx", o + "spreadsheetml.sheet"},
      {slide, "rId80", Rel("diagramData"), "/ppt/diagrams/data1.xml", o + "drawingml.diagramData+xml"},
      {slide, "rId84", ms + "2007/relationships/diagramDrawing", "/ppt/diagrams/drawing1.xml",
       "application/vnd.ms-office.drawingml.diagramDrawing+xml"},
      {"/ppt/diagrams/data1.xml", "rId1", Rel("image"), "/ppt/media/image7.png", "image/png"},
      {slide, "rId72", Rel("tags"), "/ppt/tags/tag1.xml", o + "presentationml.tags+xml"},
      {slide, "rId73", Rel("customXml"), "/customXml/item1.xml", "application/xml"},
      {"/customXml/item1.xml", "rId1", Rel("customXmlProps"), "/customXml/itemProps1.xml",
       o + "customXmlProperties+xml"},
      {slide, "rId74", Rel("video"), "/ppt/media/media1.mp4", "video/mp4"},
      {slide, "rId75", ms + "2007/relationships/media", "/ppt/media/media1.mp4", ""},
      {slide, "rId76", Rel("comments"), "/ppt/comments/comment1.xml", o + "presentationml.comments+xml"},
      {slide, "rId77", Rel("image"), "/ppt/media/missing.png", ""}};  // no part added when no content type
  for (const auto& [source, id, type, part, contentType] : parts) {
    if (!contentType.empty() && part != "/ppt/media/missing.png")
      AddPart(deck, part, contentType, "<x>" + part + "</x>");
    AddRel(deck, source, id, type, part);
  }
  return WriteDeck(deck, path);
}

TEST_F(WriteTest, APastedSlideBringsEverythingItRelatesTo) {
  const auto source = Open(RichDeck(dir_ / "rich.pptx"));
  const auto target = Add();
  Paste(*source, 1, *target);
  Paste(*source, 1, *target);
  const auto out = dir_ / "out.pptx";
  SaveAndReopen(*target, "out.pptx");
  // After two pastes of slide 1; slide 2 is not brought along. Media: the builder's picture and the
  // diagram's, shared between pastes; the master and layout equal the blank presentation's, so they
  // are not copied.
  const std::pair<const char*, int> counts[] = {
      {"/ppt/slides/", 2}, {"/ppt/charts/chart", 2}, {"/ppt/embeddings/microsoft_excel_worksheet", 2},
      {"/ppt/diagrams/", 4}, {"/ppt/tags/", 2}, {"/customxml/item", 4}, {"/ppt/notesslides/", 2}, {"/ppt/comments/", 0},
      {"/ppt/media/image", 2}, {"/ppt/media/media", 1}, {"/ppt/slidemasters/", 1}, {"/ppt/slidelayouts/", 1}};
  for (const auto& [prefix, count] : counts) EXPECT_EQ(CountParts(out, prefix), count) << prefix;
  const auto package = Package::Open(out.string());
  std::map<std::string, Relationship> rels;
  const std::string second = ModelOf(target)->slides().back()->partName;
  for (const auto& r : package->Relationships(second)) rels[r.id] = r;
  // Ids are kept, so the slide's XML needs no change; the jump to a slide left behind now points to
  // the pasted slide itself; external targets stay; comments and missing targets are left out.
  EXPECT_EQ(rels.at("rId90").partName, second);
  EXPECT_EQ(rels.at("rId91").target, "https://example.com/");
  EXPECT_EQ(rels.count("rId76") + rels.count("rId77"), 0u);
  EXPECT_EQ(rels.at("rId74").partName, rels.at("rId75").partName);
  EXPECT_EQ(package->ReadPart(rels.at("rId72").partName), "<x>/ppt/tags/tag1.xml</x>");
  // Into its own presentation the link keeps its target; the source's own slide keeps its broken
  // relationship (Problems() checks that each notes slide links back to its own slide).
  Paste(*source, 1, *source);
  source->SaveAs(U(dir_ / "own.pptx"), 24, 0);
  EXPECT_EQ(Problems(dir_ / "own.pptx"), "/ppt/slides/slide1.xml rId77 -> missing /ppt/media/missing.png\n");
  const auto own = Package::Open((dir_ / "own.pptx").string());
  const std::string pasted = ModelOf(source)->slides().back()->partName;
  rels.clear();
  for (const auto& r : own->Relationships(pasted)) rels[r.id] = r;
  EXPECT_EQ(rels.at("rId90").partName, "/ppt/slides/slide2.xml");
}

TEST_F(WriteTest, PresentationsWithSectionsKeepEverySlideInASection) {
  b::BuiltDeck deck = b::Render(ThreeSlides(u"S"));
  const auto section = [](const char* name, const char* ids) {
    return std::string("<p14:section name=\"") + name + "\" id=\"{11111111-1111-1111-1111-11111111111" + name +
           "}\"><p14:sldIdLst>" + ids + "</p14:sldIdLst></p14:section>";
  };
  Replace(PartOf(deck, "/ppt/presentation.xml"), "</p:presentation>",
          "<p:extLst><p:ext uri=\"{521415D9-36F7-43E2-AB2F-B90AF26B5E84}\"><p14:sectionLst "
          "xmlns:p14=\"http://schemas.microsoft.com/"
          "office/powerpoint/2010/main\">" +
              section("A", "<p14:sldId id=\"256\"/>") + section("B", "<p14:sldId id=\"257\"/><p14:sldId id=\"258\"/>") +
              "</p14:sectionLst></p:ext></p:extLst></p:presentation>");
  const auto presentation = Open(WriteDeck(deck, dir_ / "sections.pptx"));
  const auto views = Views(*presentation);
  presentation->Slides()->Item(3)->Copy();
  presentation->Slides()->Paste(-1);  // after 258: section B
  presentation->Slides()->Paste(1);   // first: section A
  const std::vector<std::string> expected{views[2], views[0], views[1], views[2], views[2]};
  EXPECT_EQ(Views(*presentation), expected) << "the open presentation";
  EXPECT_EQ(Views(*SaveAndReopen(*presentation, "out.pptx")), expected) << "the saved one";
  const auto document =
      xml::Document::Parse(Package::Open((dir_ / "out.pptx").string())->ReadPart("/ppt/presentation.xml"), "p");
  const xml::Node root = document->root();
  std::vector<std::string> sections;
  for (xml::Node s = root.child("p:extLst").child("p:ext").child("p14:sectionLst").child("p14:section"); s;
       s = s.next_sibling("p14:section")) {
    sections.emplace_back();
    for (xml::Node id = s.child("p14:sldIdLst").child("p14:sldId"); id; id = id.next_sibling("p14:sldId"))
      sections.back() += id.attribute("id").value() + std::string(" ");
  }
  EXPECT_EQ(sections, (std::vector<std::string>{"260 256 ", "257 258 259 "}));
}

// --- Saving --------------------------------------------------------------------------------------

TEST_F(WriteTest, SaveAsWritesTheKindOfItsCodeAndKeepsMacrosOnlyInMacroEnabledKinds) {
  b::BuiltDeck deck =
      b::Render({b::kDefaultSlideWidth, b::kDefaultSlideHeight, 1, {TitledSlide(u"Macro", u"body")}, {}});
  deck.parts[0].contentType = std::string(kMacroMain);
  ASSERT_EQ(deck.parts[0].name, "/ppt/presentation.xml");
  AddPart(deck, "/ppt/vbaProject.bin", "application/vnd.ms-office.vbaProject", "vba project bytes");
  AddPart(deck, "/ppt/vbaProjectSignature.bin", "application/vnd.ms-office.vbaProjectSignature", "signature");
  AddRel(deck, "/ppt/presentation.xml", "rId90", std::string(kVba), "/ppt/vbaProject.bin");
  AddRel(deck, "/ppt/vbaProject.bin", "rId1", std::string(kVba) + "Signature", "/ppt/vbaProjectSignature.bin");
  const auto presentation = Open(WriteDeck(deck, dir_ / "macro.pptm"));
  const auto view = Views(*presentation);
  for (const bool reverse : {false, true})  // in both orders: dropping the project for one save keeps it for the next
    for (std::size_t k = 0; k < std::size(kKinds); ++k) {
      const auto& kind = kKinds[reverse ? std::size(kKinds) - 1 - k : k];
      const std::string name = (reverse ? "r." : "p.") + std::string(kind.extension);
      const bool macros = kind.code % 2 == 1;
      EXPECT_EQ(Views(*SaveAndReopen(*presentation, name, kind.code)), view) << name;
      const auto package = Package::Open((dir_ / name).string());
      EXPECT_EQ(package->ContentType("/ppt/presentation.xml"), kind.type) << name;
      EXPECT_EQ(package->HasPart("/ppt/vbaProject.bin"), macros) << name;
      EXPECT_EQ(package->HasPart("/ppt/vbaProjectSignature.bin"), macros) << name;
      bool related = false;
      for (const auto& r : package->Relationships("/ppt/presentation.xml")) related |= r.type == kVba;
      EXPECT_EQ(related, macros) << name;
    }
  EXPECT_EQ(ModelOf(presentation)->package().ContentType("/ppt/presentation.xml"), kMacroMain);
}

TEST_F(WriteTest, FormatsWithoutWriterFailAndWriteNothing) {
  const auto presentation = Open(Deck(ThreeSlides(u"A"), "a.pptx"));
  std::vector<std::int32_t> codes = {0, 2, 100, -1};
  // The web page, web archive, metafile folder and video are made from the renderer's pictures, XPS
  // from its PDF.
  if (!render_bridge::RendererBuiltIn()) codes.insert(codes.end(), {12, 15, 20, 33, 37});
  for (const std::int32_t code : codes) {
    std::u16string description;
    EXPECT_EQ(ThrownNumber([&] { presentation->SaveAs(U(dir_ / "out.x"), code, 0); }, &description), kInvalid) << code;
    EXPECT_EQ(description, u"Presentation.SaveAs : \"" + U(dir_ / "out.x") + u"\" cannot be saved in this format.");
  }
  EXPECT_FALSE(fs::exists(dir_ / "out.x"));
}

// Changes are saved and the presentation stays usable; the source file is never written, and
// failed saves name the file.
TEST_F(WriteTest, ChangesAreSavedTheSourceIsNeverWrittenAndSaveFailuresNameTheFile) {
  const fs::path source = Deck({b::kDefaultSlideWidth, b::kDefaultSlideHeight, 1,
                                {{{b::Title(u"T"), b::Group({b::TextBox(u"g1"), b::TextBox(u"g2")})}, {}, true, false, {}},
                                 TitledSlide(u"Second", u"two")}, {}}, "a.pptx");
  const std::string bytes = testing::ReadFile(source);
  const auto presentation = Open(source);
  const auto slide = presentation->Slides()->Item(1);
  slide->Shapes()->Item(2)->Ungroup();
  slide->Shapes()->Item(1)->TextFrame()->TextRange()->InsertBefore(u"label\n");
  presentation->PageSetup()->put_SlideWidth(720.0f);
  // A slide without notes part: its fresh notes page, changed, becomes a real notes part.
  const auto notesBody = slide->NotesPage()->Shapes()->Item(2);
  notesBody->TextFrame()->TextRange()->InsertBefore(u"fresh notes");
  const auto first = SaveAndReopen(*presentation, "one.pptx");
  EXPECT_EQ(Views(*first), Views(*presentation));
  EXPECT_FLOAT_EQ(first->PageSetup()->SlideWidth(), 720.0f);
  EXPECT_EQ(first->Slides()->Item(1)->Shapes()->Count(), 3);
  // Still usable: the object taken before the save still changes the one notes page.
  notesBody->TextFrame()->TextRange()->InsertBefore(u"more ");
  EXPECT_EQ(slide->NotesPage()->Shapes()->Item(2)->TextFrame()->TextRange()->Text(), u"more fresh notes");
  Paste(*presentation, 2, *presentation);
  presentation->SaveAs(U(dir_ / "b.rtf"), 6, 0);
  // Over its own file, by the same or another spelling, or the file of another open presentation: refused.
  for (const fs::path& name : {source, dir_ / "." / "a.pptx", dir_ / "one.pptx"})
    for (const std::int32_t code : {24, 25, 6})
      EXPECT_EQ(ThrownNumber([&] { presentation->SaveAs(U(name), code, 0); }), kInvalid) << name << " " << code;
  const struct { const char* name; std::u16string file; std::int32_t code, number; } rows[] = {
      {"missing folder, outline", U(dir_ / "no/such/x.rtf"), 6, failure::kWin32PathNotFound},
      {"empty name", u"", 24, failure::kWin32PathNotFound},
      {"unpaired surrogate", U(dir_ / "x") + u"\xD800.pptx", 24, failure::kWin32PathNotFound}};
  for (const auto& row : rows) {
    std::u16string description;
    EXPECT_EQ(ThrownNumber([&] { presentation->SaveAs(row.file, row.code, 0); }, &description), row.number) << row.name;
    EXPECT_NE(description.find(u"save"), std::u16string::npos) << row.name << ": " << text::ToUtf8(description);
  }
  const auto second = SaveAndReopen(*presentation, "two.pptm", 25);
  EXPECT_EQ(Views(*second), Views(*presentation));
  EXPECT_EQ(CountParts(dir_ / "two.pptm", "/ppt/notesslides/"), 1);
  presentation->Close();
  EXPECT_EQ(testing::ReadFile(source), bytes);
}

// --- The outline ---------------------------------------------------------------------------------

TEST_F(WriteTest, OutlineRtfEscapesWhatRtfCannotCarry) {
  const std::string title = "\\pard\\plain\\s1\\li0\\sa120\\outlinelevel0\\b\\f0\\fs32 ";
  const std::string body = "\\pard\\plain\\s2\\li360\\sa120\\outlinelevel1\\f0\\fs28 ";
  const struct { const char* name; std::vector<OutlineParagraph> outline; std::string expected; } rows[] = {
      {"specials, line breaks and tabs", {{1, u"a\\b{c}\vb\rc\td"}, {2, u"Body"}},
       title + "a\\\\b\\{c\\}\\line b\\line c\\tab d\\par\r\n" + body + "Body\\par\r\n"},
      {"non-ASCII, above 32767 and astral", {{2, u"\u00e9\u4e2d\uff01\U0001F600"}},
       body + "\\u233?\\u20013?\\u-255?\\u-10179?\\u-8704?\\par\r\n"},
      {"controls dropped", {{2, u"a\x01\x1f" u"b"}}, body + "ab\\par\r\n"},
      {"levels clamped", {{0, u"x"}, {12, u"y"}},
       title + "x\\par\r\n\\pard\\plain\\s9\\li2880\\sa120\\outlinelevel8\\f0\\fs20 y\\par\r\n"},
  };
  for (const auto& row : rows) {
    const std::string rtf = RtfOutline(row.outline);
    ASSERT_TRUE(rtf.starts_with("{\\rtf1\\ansi")) << row.name;
    EXPECT_EQ(rtf.substr(std::min(rtf.find("\\pard"), rtf.size())), row.expected + "}\r\n") << row.name;
    EXPECT_TRUE(std::all_of(rtf.begin(), rtf.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        << row.name;
  }
}

}  // namespace
}  // namespace quorvane::engines::pptx
