// The native engine's write side: new presentations, copying and pasting slides (within one
// presentation, across presentations, from several sources), sharing of masters and media between
// pastes, what a pasted slide brings along, the clip as a snapshot, saving in the six package kinds
// with and without the macro project, the outline, refused formats, and the source file that is
// never written. Every saved package is checked for the invariants a reader relies on: ids unique
// and in range, every relationship target present, every part with a content type.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/model.hpp"
#include "engines/pptx/model_write.hpp"
#include "engines/pptx/package.hpp"
#include "engines/pptx/rtf_outline.hpp"
#include "engines/pptx/xml.hpp"
#include "engines/render_bridge.hpp"

namespace quorvane::engines::pptx {
namespace {

namespace fs = std::filesystem;
namespace ppt = office::ppt;
namespace b = builder;

constexpr std::int32_t kInvalid = failure::kPowerPointInvalidRequest;
const fs::path kCorpus = QUORVANE_CORPUS_DIR;

constexpr std::string_view kRelBase = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr std::string_view kVbaRelationship = "http://schemas.microsoft.com/office/2006/relationships/vbaProject";
constexpr std::string_view kVbaSignatureRelationship =
    "http://schemas.microsoft.com/office/2006/relationships/vbaProjectSignature";
constexpr std::string_view kMacroMain = "application/vnd.ms-powerpoint.presentation.macroEnabled.main+xml";

std::u16string U(const fs::path& path) { return text::FromUtf8(path.string()); }
std::string A(const std::u16string& s) { return text::ToUtf8(s); }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::int32_t FailureOf(const std::function<void()>& call, std::u16string* description = nullptr) {
  try {
    call();
  } catch (const AutomationError& e) {
    if (description) *description = e.description();
    return e.number();
  }
  return 0;
}

// --- Decks with extra parts ----------------------------------------------------------------------

void AddPart(b::BuiltDeck& deck, std::string name, std::string contentType, std::string bytes) {
  deck.parts.push_back({std::move(name), std::move(contentType), std::move(bytes)});
}

void AddRel(b::BuiltDeck& deck, std::string_view source, std::string id, std::string type, std::string partName,
            std::string externalTarget = {}) {
  const bool external = !externalTarget.empty();
  Relationship r{std::move(id), std::move(type), std::move(externalTarget), external, std::move(partName)};
  for (auto& entry : deck.relationships)
    if (part_name::Equal(entry.source, source)) {
      entry.relationships.push_back(std::move(r));
      return;
    }
  deck.relationships.push_back({std::string(source), {std::move(r)}});
}

b::BuiltPart& PartOf(b::BuiltDeck& deck, std::string_view name) {
  for (auto& part : deck.parts)
    if (part_name::Equal(part.name, name)) return part;
  throw std::runtime_error("no part " + std::string(name));
}

void Replace(std::string& text, std::string_view what, std::string_view with) {
  const auto at = text.find(what);
  if (at == std::string::npos) throw std::runtime_error("not found: " + std::string(what));
  text.replace(at, what.size(), with);
}

void WriteDeck(const b::BuiltDeck& deck, const fs::path& path) {
  auto package = Package::Create();
  for (const auto& part : deck.parts) package->SetPart(part.name, part.bytes, part.contentType);
  for (const auto& entry : deck.relationships) package->SetRelationships(entry.source, entry.relationships);
  package->Save(path.string());
}

std::string Rel(std::string_view kind) { return std::string(kRelBase) + std::string(kind); }

// --- Package checks ------------------------------------------------------------------------------

std::uint32_t IdOf(xml::Node node) { return static_cast<std::uint32_t>(xml::IntAttr(node, "id", 0)); }

// What is wrong with a saved package; empty when nothing.
std::vector<std::string> Problems(const fs::path& file) {
  std::vector<std::string> out;
  const auto package = Package::Open(file.string());
  const auto names = package->PartNames();
  for (const auto& name : names)
    if (package->ContentType(name).empty()) out.push_back("no content type: " + name);
  std::vector<std::string> sources = names;
  sources.push_back("/");
  for (const auto& source : sources) {
    if (source.ends_with(".rels")) continue;
    for (const auto& r : package->Relationships(source))
      if (!r.external && !package->HasPart(r.partName))
        out.push_back(source + " " + r.id + " -> missing " + r.partName);
  }
  std::string main;
  for (const auto& r : package->Relationships("/"))
    if (rel::Is(r.type, "officeDocument")) main = r.partName;
  if (main.empty()) return out.push_back("no main part"), out;
  std::map<std::string, Relationship> presentationRels;
  for (const auto& r : package->Relationships(main)) presentationRels[r.id] = r;
  const auto relOf = [&](xml::Node node, std::string_view kind) -> const Relationship* {
    const auto it = presentationRels.find(std::string(xml::Attr(node, "r:id")));
    if (it == presentationRels.end() || !rel::Is(it->second.type, kind)) return nullptr;
    return &it->second;
  };
  const auto presentation = xml::Document::Parse(package->ReadPart(main), main);
  const xml::Node root = presentation->root();

  std::set<std::uint32_t> slideIds;
  for (const xml::Node id : xml::ChildrenNamed(xml::Child(root, "p:sldIdLst"), "p:sldId")) {
    const std::uint32_t value = IdOf(id);
    if (value < 256 || value > 2147483647u || !slideIds.insert(value).second)
      out.push_back("bad or repeated slide id " + std::to_string(value));
    const Relationship* r = relOf(id, "slide");
    if (!r) {
      out.push_back("slide id " + std::to_string(value) + " without slide relationship");
      continue;
    }
    int layouts = 0;
    for (const auto& sr : package->Relationships(r->partName)) {
      if (rel::Is(sr.type, "slideLayout")) ++layouts;
      if (!rel::Is(sr.type, "notesSlide")) continue;
      bool back = false, master = false;
      for (const auto& nr : package->Relationships(sr.partName)) {
        back = back || (rel::Is(nr.type, "slide") && part_name::Equal(nr.partName, r->partName));
        master = master || rel::Is(nr.type, "notesMaster");
      }
      if (!back || !master) out.push_back("notes slide " + sr.partName + " lacks its slide or notes master");
    }
    if (layouts != 1) out.push_back(r->partName + " has " + std::to_string(layouts) + " layouts");
  }
  std::set<std::uint32_t> masterIds;
  for (const xml::Node id : xml::ChildrenNamed(xml::Child(root, "p:sldMasterIdLst"), "p:sldMasterId")) {
    const std::uint32_t value = IdOf(id);
    if (value < 2147483648u || !masterIds.insert(value).second)
      out.push_back("bad or repeated master id " + std::to_string(value));
    const Relationship* r = relOf(id, "slideMaster");
    if (!r) {
      out.push_back("master id " + std::to_string(value) + " without master relationship");
      continue;
    }
    std::map<std::string, Relationship> masterRels;
    for (const auto& mr : package->Relationships(r->partName)) masterRels[mr.id] = mr;
    const auto master = xml::Document::Parse(package->ReadPart(r->partName), r->partName);
    for (const xml::Node layout : xml::ChildrenNamed(xml::Child(master->root(), "p:sldLayoutIdLst"), "p:sldLayoutId")) {
      const std::uint32_t layoutId = IdOf(layout);
      if (layoutId < 2147483648u || !masterIds.insert(layoutId).second)
        out.push_back("bad or repeated layout id " + std::to_string(layoutId) + " in " + r->partName);
      const auto it = masterRels.find(std::string(xml::Attr(layout, "r:id")));
      if (it == masterRels.end() || !rel::Is(it->second.type, "slideLayout"))
        out.push_back("layout id " + std::to_string(layoutId) + " without relationship in " + r->partName);
    }
  }
  for (const xml::Node id : xml::ChildrenNamed(xml::Child(root, "p:notesMasterIdLst"), "p:notesMasterId"))
    if (!relOf(id, "notesMaster")) out.push_back("notes master id without relationship");
  return out;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\n";
  return out;
}

// Parts of a saved package whose names start with `prefix` (folded).
int CountParts(const fs::path& file, std::string_view prefix) {
  int n = 0;
  for (const auto& name : Package::Open(file.string())->PartNames()) {
    std::string folded = name;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (folded.starts_with(prefix) && !folded.ends_with(".rels")) ++n;
  }
  return n;
}

std::string MainContentType(const fs::path& file) {
  const auto package = Package::Open(file.string());
  for (const auto& r : package->Relationships("/"))
    if (rel::Is(r.type, "officeDocument")) return package->ContentType(r.partName);
  return {};
}

// --- What the model shows of a slide -------------------------------------------------------------

std::string ShapesText(ppt::Shapes& shapes) {
  std::string out;
  for (std::int32_t i = 1; i <= shapes.Count(); ++i) {
    const auto shape = shapes.Item(i);
    out += std::to_string(shape->Type());
    if (shape->HasTextFrame()) out += ":" + A(shape->TextFrame()->TextRange()->Text());
    out += "|";
  }
  return out;
}

// Shapes (type and text) of the slide and of its notes page.
std::string View(ppt::Slide& slide) {
  return ShapesText(*slide.Shapes()) + " notes " + ShapesText(*slide.NotesPage()->Shapes());
}

std::vector<std::string> Views(ppt::Presentation& presentation) {
  std::vector<std::string> out;
  const auto slides = presentation.Slides();
  for (std::int32_t i = 1; i <= slides->Count(); ++i) out.push_back(View(*slides->Item(i)));
  return out;
}

// --- Fixture -------------------------------------------------------------------------------------

class WriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv-write-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    app_ = CreateApplication();
  }
  void TearDown() override {
    try {
      app_->Quit();
    } catch (const AutomationError&) {
    }
    fs::remove_all(dir_);
  }

  fs::path Path(const std::string& name) const { return dir_ / name; }
  fs::path Deck(const b::DeckPlan& plan, const std::string& name) {
    b::Write(plan, Path(name).string());
    return Path(name);
  }
  std::shared_ptr<ppt::Presentation> Open(const fs::path& path) {
    return app_->Presentations()->Open(U(path), 0, 0, 0);
  }
  std::shared_ptr<ppt::Presentation> Add() { return app_->Presentations()->Add(0); }
  // Saves as `name` in `format`, checks the package and reopens it.
  std::shared_ptr<ppt::Presentation> SaveAndReopen(ppt::Presentation& presentation, const std::string& name,
                                                   std::int32_t format = 24) {
    presentation.SaveAs(U(Path(name)), format, 0);
    EXPECT_EQ(Joined(Problems(Path(name))), "") << name;
    return Open(Path(name));
  }

  fs::path dir_;
  std::shared_ptr<ppt::Application> app_;
};

b::SlidePlan TitledSlide(std::u16string title, std::u16string body, std::optional<std::u16string> notes = {}) {
  b::SlidePlan slide;
  slide.shapes = {b::Title(std::move(title)), b::Body(std::move(body)), b::Picture()};
  // Notes without slide-number placeholder, so that a slide's view does not depend on its position.
  if (notes) slide.notes = std::vector<b::ShapePlan>{b::Body(*notes)};
  return slide;
}

// Three slides; a slide size other than the blank presentation's, so that its master differs.
b::DeckPlan ThreeSlides(std::u16string tag, std::int64_t width = 9144000) {
  b::DeckPlan plan;
  plan.slideWidthEmu = width;
  plan.slides = {TitledSlide(tag + u" one", u"first\rsecond", u"notes of " + tag),
                 TitledSlide(tag + u" two", u"body two"), TitledSlide(tag + u" three", u"body three")};
  return plan;
}

// --- New presentations ---------------------------------------------------------------------------

TEST_F(WriteTest, AddMakesAnEmptyPresentationOfTheDefaultSizeWithMasterLayoutAndTheme) {
  const auto presentation = Add();
  EXPECT_EQ(presentation->Slides()->Count(), 0);
  EXPECT_FLOAT_EQ(presentation->PageSetup()->SlideWidth(), 960.0f);
  EXPECT_FLOAT_EQ(presentation->PageSetup()->SlideHeight(), 540.0f);
  const auto model = ModelOf(presentation);
  ASSERT_TRUE(model);
  EXPECT_EQ(model->path(), "");
  const Package& package = model->package();
  int masters = 0, layouts = 0, themes = 0;
  for (const auto& name : package.PartNames()) {
    const std::string type = package.ContentType(name);
    masters += type == b::content_type::kSlideMaster;
    layouts += type == b::content_type::kSlideLayout;
    themes += type == b::content_type::kTheme;
  }
  EXPECT_EQ(masters, 1);
  EXPECT_EQ(layouts, 1);
  EXPECT_EQ(themes, 1);
  EXPECT_TRUE(fs::is_empty(dir_)) << "no file before SaveAs";

  const auto reopened = SaveAndReopen(*presentation, "new.pptx");
  EXPECT_EQ(reopened->Slides()->Count(), 0);
  EXPECT_FLOAT_EQ(reopened->PageSetup()->SlideWidth(), 960.0f);
}

// --- Copy and paste ------------------------------------------------------------------------------

struct PasteRow {
  const char* name;
  std::vector<b::DeckPlan> sources;
  bool intoFirstSource;                       // paste into sources[0] itself instead of a new one
  std::vector<std::pair<int, int>> copies;    // (source, slide), pasted in turn with Paste(-1)
  std::vector<std::pair<int, int>> expected;  // (source, slide) of each slide of the result, in order
};

TEST_F(WriteTest, PastedSlidesAreCompleteCopiesAtTheEnd) {
  const std::vector<PasteRow> rows = {
      {"within one presentation",
       {ThreeSlides(u"A")},
       true,
       {{0, 2}, {0, 1}},
       {{0, 1}, {0, 2}, {0, 3}, {0, 2}, {0, 1}}},
      {"across two", {ThreeSlides(u"A")}, false, {{0, 3}, {0, 1}}, {{0, 3}, {0, 1}}},
      {"from two sources into one",
       {ThreeSlides(u"A"), ThreeSlides(u"B", b::kDefaultSlideWidth)},
       false,
       {{0, 1}, {1, 1}, {0, 2}, {1, 3}},
       {{0, 1}, {1, 1}, {0, 2}, {1, 3}}},
      {"the same slide twice", {ThreeSlides(u"A")}, false, {{0, 1}, {0, 1}}, {{0, 1}, {0, 1}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::shared_ptr<ppt::Presentation>> sources;
    std::vector<std::vector<std::string>> views;
    for (std::size_t i = 0; i < row.sources.size(); ++i) {
      sources.push_back(Open(Deck(row.sources[i], std::string(row.name) + std::to_string(i) + ".pptx")));
      views.push_back(Views(*sources.back()));
    }
    const auto target = row.intoFirstSource ? sources[0] : Add();
    const std::int32_t before = target->Slides()->Count();
    for (const auto& [source, slide] : row.copies) {
      sources[static_cast<std::size_t>(source)]->Slides()->Item(slide)->Copy();
      target->Slides()->Paste(-1);
    }
    EXPECT_EQ(target->Slides()->Count(), before + static_cast<std::int32_t>(row.copies.size()));
    const auto reopened = SaveAndReopen(*target, std::string(row.name) + " out.pptx");
    std::vector<std::string> expected;
    for (const auto& [source, slide] : row.expected)
      expected.push_back(views[static_cast<std::size_t>(source)][static_cast<std::size_t>(slide) - 1]);
    EXPECT_EQ(Views(*target), expected) << "the open presentation";
    EXPECT_EQ(Views(*reopened), expected) << "the saved one";
  }
}

TEST_F(WriteTest, PasteAtAnIndexInsertsThereAndRefusesOthers) {
  const auto source = Open(Deck(ThreeSlides(u"A"), "a.pptx"));
  const auto views = Views(*source);
  const auto target = Add();
  source->Slides()->Item(1)->Copy();
  target->Slides()->Paste(1);  // 1 to Count + 1 are valid positions
  source->Slides()->Item(2)->Copy();
  target->Slides()->Paste(1);
  source->Slides()->Item(3)->Copy();
  target->Slides()->Paste(2);
  EXPECT_EQ(Views(*target), (std::vector<std::string>{views[1], views[2], views[0]}));
  std::u16string description;
  EXPECT_EQ(FailureOf([&] { target->Slides()->Paste(5); }, &description), kInvalid);
  EXPECT_EQ(description, u"Slides.Paste : Integer out of range. 5 is not in the valid range of 1 to 4.");
  EXPECT_EQ(FailureOf([&] { target->Slides()->Paste(0); }), kInvalid);
  EXPECT_EQ(Views(*SaveAndReopen(*target, "out.pptx")), (std::vector<std::string>{views[1], views[2], views[0]}));
}

TEST_F(WriteTest, PasteNeedsACopiedSlide) {
  const auto source = Open(Deck(ThreeSlides(u"A"), "a.pptx"));
  const auto target = Add();
  std::u16string description;
  EXPECT_EQ(FailureOf([&] { target->Slides()->Paste(-1); }, &description), kInvalid);
  EXPECT_EQ(description,
            u"Slides.Paste : Invalid request. Clipboard is empty or contains data which may not be pasted here.");
  EXPECT_EQ(target->Slides()->Count(), 0);

  // The clipboard is the application's own: another application has nothing to paste.
  const auto other = CreateApplication();
  source->Slides()->Item(1)->Copy();
  const auto elsewhere = other->Presentations()->Add(0);
  EXPECT_EQ(FailureOf([&] { elsewhere->Slides()->Paste(-1); }), kInvalid);
  other->Quit();

  // Quit empties it; every call fails with 462 afterwards.
  app_->Quit();
  EXPECT_EQ(FailureOf([&] { target->Slides()->Paste(-1); }), kServerUnavailable);
}

TEST_F(WriteTest, TheClipIsASnapshotThatOutlivesItsSource) {
  const auto source = Open(Deck(ThreeSlides(u"A"), "a.pptx"));
  const auto original = View(*source->Slides()->Item(1));
  source->Slides()->Item(1)->Copy();
  // Changes after the copy do not reach the clip, and the source may go.
  source->Slides()->Item(1)->Shapes()->Item(1)->TextFrame()->TextRange()->InsertBefore(u"changed ");
  source->Close();
  const auto target = Add();
  target->Slides()->Paste(-1);
  target->Slides()->Paste(-1);
  EXPECT_EQ(Views(*SaveAndReopen(*target, "out.pptx")), (std::vector<std::string>{original, original}));

  // A change made before the copy is in it.
  const auto again = Open(Path("a.pptx"));
  again->Slides()->Item(2)->Shapes()->Item(2)->TextFrame()->TextRange()->InsertBefore(u"new ");
  const auto changed = View(*again->Slides()->Item(2));
  again->Slides()->Item(2)->Copy();
  target->Slides()->Paste(-1);
  EXPECT_EQ(View(*target->Slides()->Item(3)), changed);
  EXPECT_NE(changed.find("new body two"), std::string::npos);
}

TEST_F(WriteTest, PastesShareMastersLayoutsAndMediaButNotSlideContent) {
  const auto source = Open(Deck(ThreeSlides(u"A"), "a.pptx"));
  const auto target = Add();
  for (int i = 0; i < 10; ++i) {
    source->Slides()->Item(i % 3 + 1)->Copy();
    target->Slides()->Paste(-1);
  }
  target->SaveAs(U(Path("out.pptx")), 24, 0);
  EXPECT_EQ(Joined(Problems(Path("out.pptx"))), "");
  struct Row {
    const char* prefix;
    int count;
  };
  // The blank presentation's master, layout and theme, plus one of each from the source; one
  // notes master (from the source's, with its theme); one picture.
  for (const Row& row : std::vector<Row>{{"/ppt/slidemasters/", 2},
                                         {"/ppt/slidelayouts/", 2},
                                         {"/ppt/theme/", 3},
                                         {"/ppt/notesmasters/", 1},
                                         {"/ppt/media/", 1},
                                         {"/ppt/slides/", 10},
                                         {"/ppt/notesslides/", 4}})
    EXPECT_EQ(CountParts(Path("out.pptx"), row.prefix), row.count) << row.prefix;

  // A source whose master equals the blank presentation's shares that one.
  const auto same = Open(Deck(ThreeSlides(u"B", b::kDefaultSlideWidth), "b.pptx"));
  const auto target2 = Add();
  for (int i = 1; i <= 3; ++i) {
    same->Slides()->Item(i)->Copy();
    target2->Slides()->Paste(-1);
  }
  target2->SaveAs(U(Path("out2.pptx")), 24, 0);
  EXPECT_EQ(CountParts(Path("out2.pptx"), "/ppt/slidemasters/"), 1);
  EXPECT_EQ(CountParts(Path("out2.pptx"), "/ppt/slidelayouts/"), 1);
}

TEST_F(WriteTest, PastesFromARealDeckCarryOneCopyOfItsMasters) {
  const fs::path deck = kCorpus / "docling" / "powerpoint_sample.pptx";
  const auto source = Open(deck);
  const auto sourcePackage = Package::Open(deck.string());
  int sourceMasters = 0, sourceLayouts = 0;
  for (const auto& name : sourcePackage->PartNames()) {
    sourceMasters += sourcePackage->ContentType(name) == b::content_type::kSlideMaster;
    sourceLayouts += sourcePackage->ContentType(name) == b::content_type::kSlideLayout;
  }
  const auto target = Add();
  const std::int32_t n = source->Slides()->Count();
  for (int round = 0; round < 3; ++round)
    for (std::int32_t i = 1; i <= n; ++i) {
      source->Slides()->Item(i)->Copy();
      target->Slides()->Paste(-1);
    }
  const auto reopened = SaveAndReopen(*target, "out.pptx");
  EXPECT_EQ(reopened->Slides()->Count(), 3 * n);
  EXPECT_EQ(CountParts(Path("out.pptx"), "/ppt/slidemasters/"), 1 + sourceMasters);
  EXPECT_EQ(CountParts(Path("out.pptx"), "/ppt/slidelayouts/"), 1 + sourceLayouts);
  const auto views = Views(*source);
  for (std::int32_t i = 1; i <= 3 * n; ++i)
    EXPECT_EQ(View(*reopened->Slides()->Item(i)), views[static_cast<std::size_t>((i - 1) % n)]) << i;
}

// A deck whose first slide relates to a chart with its workbook and styles, a diagram, an OLE
// object with its legacy drawing, tags, custom XML, a video, comments, a hyperlink to slide 2 and an
// external hyperlink.
b::BuiltDeck RichDeck() {
  b::DeckPlan plan;
  b::SlidePlan first = TitledSlide(u"Rich", u"body", u"rich notes");
  first.shapes.push_back(b::Chart());
  first.shapes.push_back(b::TextBox(u"link"));
  plan.slides = {first, TitledSlide(u"Second", u"two")};
  b::BuiltDeck deck = b::Render(plan);
  const std::string slide = "/ppt/slides/slide1.xml";
  std::string& xml = PartOf(deck, slide).bytes;
  Replace(xml, "name=\"TextBox 5\"/>",
          "name=\"TextBox 5\"><a:hlinkClick r:id=\"rId90\" action=\"ppaction://hlinksldjump\"/></p:cNvPr>");
  AddRel(deck, slide, "rId90", Rel("slide"), "/ppt/slides/slide2.xml");
  AddRel(deck, slide, "rId91", Rel("hyperlink"), "", "https://example.com/");

  const std::string chart = "/ppt/charts/chart1.xml";
  AddPart(deck, "/ppt/embeddings/Microsoft_Excel_Worksheet1.xlsx",
          "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet", "PK workbook bytes");
  AddPart(deck, "/ppt/charts/style1.xml", "application/vnd.ms-office.chartstyle+xml", "<cs:chartStyle/>");
  AddPart(deck, "/ppt/charts/colors1.xml", "application/vnd.ms-office.chartcolorstyle+xml", "<cs:colorStyle/>");
  AddRel(deck, chart, "rId1", Rel("package"), "/ppt/embeddings/Microsoft_Excel_Worksheet1.xlsx");
  AddRel(deck, chart, "rId2", "http://schemas.microsoft.com/office/2011/relationships/chartStyle",
         "/ppt/charts/style1.xml");
  AddRel(deck, chart, "rId3", "http://schemas.microsoft.com/office/2011/relationships/chartColorStyle",
         "/ppt/charts/colors1.xml");

  const std::string diagramTypes[][3] = {
      {"data1.xml", "application/vnd.openxmlformats-officedocument.drawingml.diagramData+xml", "diagramData"},
      {"layout1.xml", "application/vnd.openxmlformats-officedocument.drawingml.diagramLayout+xml", "diagramLayout"},
      {"quickStyle1.xml", "application/vnd.openxmlformats-officedocument.drawingml.diagramStyle+xml",
       "diagramQuickStyle"},
      {"colors1.xml", "application/vnd.openxmlformats-officedocument.drawingml.diagramColors+xml", "diagramColors"},
      {"drawing1.xml", "application/vnd.ms-office.drawingml.diagramDrawing+xml", ""}};
  int n = 80;
  for (const auto& d : diagramTypes) {
    AddPart(deck, "/ppt/diagrams/" + d[0], d[1], "<x/>");
    AddRel(deck, slide, "rId" + std::to_string(n++),
           d[2].empty() ? "http://schemas.microsoft.com/office/2007/relationships/diagramDrawing" : Rel(d[2]),
           "/ppt/diagrams/" + d[0]);
  }
  AddPart(deck, "/ppt/media/image7.png", "image/png", b::templates::Png() + "diagram");
  AddRel(deck, "/ppt/diagrams/data1.xml", "rId1", Rel("image"), "/ppt/media/image7.png");

  AddPart(deck, "/ppt/embeddings/oleObject1.bin", "application/vnd.openxmlformats-officedocument.oleObject", "ole");
  AddPart(deck, "/ppt/drawings/vmlDrawing1.vml", "application/vnd.openxmlformats-officedocument.vmlDrawing", "<xml/>");
  AddRel(deck, slide, "rId70", Rel("oleObject"), "/ppt/embeddings/oleObject1.bin");
  AddRel(deck, slide, "rId71", Rel("vmlDrawing"), "/ppt/drawings/vmlDrawing1.vml");
  AddRel(deck, "/ppt/drawings/vmlDrawing1.vml", "rId1", Rel("image"), "/ppt/media/image7.png");

  AddPart(deck, "/ppt/tags/tag1.xml", "application/vnd.openxmlformats-officedocument.presentationml.tags+xml",
          "<p:tagLst xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"/>");
  AddRel(deck, slide, "rId72", Rel("tags"), "/ppt/tags/tag1.xml");
  AddPart(deck, "/customXml/item1.xml", "application/xml", "<item/>");
  AddPart(deck, "/customXml/itemProps1.xml", "application/vnd.openxmlformats-officedocument.customXmlProperties+xml",
          "<ds:datastoreItem xmlns:ds=\"http://schemas.openxmlformats.org/officeDocument/2006/customXml\"/>");
  AddRel(deck, slide, "rId73", Rel("customXml"), "/customXml/item1.xml");
  AddRel(deck, "/customXml/item1.xml", "rId1", Rel("customXmlProps"), "/customXml/itemProps1.xml");
  AddPart(deck, "/ppt/media/media1.mp4", "video/mp4", "video bytes");
  AddRel(deck, slide, "rId74", Rel("video"), "/ppt/media/media1.mp4");
  AddRel(deck, slide, "rId75", "http://schemas.microsoft.com/office/2007/relationships/media", "/ppt/media/media1.mp4");
  AddPart(deck, "/ppt/comments/comment1.xml",
          "application/vnd.openxmlformats-officedocument.presentationml.comments+xml",
          "<p:cmLst xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"/>");
  AddRel(deck, slide, "rId76", Rel("comments"), "/ppt/comments/comment1.xml");
  AddRel(deck, slide, "rId77", Rel("image"), "/ppt/media/missing.png");  // a target the source lacks
  return deck;
}

TEST_F(WriteTest, APastedSlideBringsEverythingItRelatesTo) {
  WriteDeck(RichDeck(), Path("rich.pptx"));
  const auto source = Open(Path("rich.pptx"));
  const auto target = Add();
  for (int i = 0; i < 2; ++i) {
    source->Slides()->Item(1)->Copy();
    target->Slides()->Paste(-1);
  }
  target->SaveAs(U(Path("out.pptx")), 24, 0);
  const fs::path out = Path("out.pptx");
  EXPECT_EQ(Joined(Problems(out)), "");
  struct Row {
    const char* prefix;
    int count;  // after two pastes of slide 1
  };
  for (const Row& row : std::vector<Row>{
           {"/ppt/slides/", 2},  // slide 2 is not brought along
           {"/ppt/charts/chart", 2},
           {"/ppt/charts/style", 2},
           {"/ppt/charts/colors", 2},
           {"/ppt/embeddings/microsoft_excel_worksheet", 2},
           {"/ppt/embeddings/oleobject", 2},
           {"/ppt/diagrams/", 10},
           {"/ppt/drawings/", 2},
           {"/ppt/tags/", 2},
           {"/customxml/item", 4},
           {"/ppt/notesslides/", 2},
           {"/ppt/comments/", 0},
           {"/ppt/media/image", 2},  // the builder's picture and the diagram's: shared between pastes
           {"/ppt/media/media", 1},
       })
    EXPECT_EQ(CountParts(out, row.prefix), row.count) << row.prefix;

  const auto package = Package::Open(out.string());
  std::string slide2;
  for (const auto& r : package->Relationships("/ppt/presentation.xml"))
    if (rel::Is(r.type, "slide") && r.partName != "/ppt/slides/slide1.xml") slide2 = r.partName;
  ASSERT_FALSE(slide2.empty());
  std::map<std::string, Relationship> rels;
  for (const auto& r : package->Relationships(slide2)) rels[r.id] = r;
  // Ids are kept, so the slide's XML needs no change; the jump to a slide left behind now points
  // to the pasted slide itself; external targets stay; comments and missing targets are left out.
  EXPECT_EQ(rels.at("rId90").partName, slide2);
  EXPECT_TRUE(rels.at("rId91").external);
  EXPECT_EQ(rels.at("rId91").target, "https://example.com/");
  EXPECT_EQ(rels.count("rId76"), 0u);
  EXPECT_EQ(rels.count("rId77"), 0u);
  EXPECT_EQ(rels.at("rId74").partName, rels.at("rId75").partName);
  EXPECT_EQ(package->ReadPart(rels.at("rId72").partName),
            "<p:tagLst xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"/>");
}

TEST_F(WriteTest, SlideLinksKeepTheirTargetOnlyInTheirOwnPresentation) {
  WriteDeck(RichDeck(), Path("rich.pptx"));
  struct Row {
    const char* name;
    bool intoSource;
    bool linkKept;  // else the link points to the pasted slide
  };
  for (const Row& row : {Row{"into its own presentation", true, true}, Row{"into another", false, false}}) {
    SCOPED_TRACE(row.name);
    const auto source = Open(Path("rich.pptx"));
    const auto target = row.intoSource ? source : Add();
    source->Slides()->Item(1)->Copy();
    target->Slides()->Paste(-1);
    const auto model = ModelOf(target);
    const std::string pasted = model->slides().back()->partName;
    const fs::path out = Path(std::string(row.name) + ".pptx");
    target->SaveAs(U(out), 24, 0);
    // The source's own slide keeps its broken relationship; the pasted copy has none.
    EXPECT_EQ(Joined(Problems(out)),
              row.intoSource ? "/ppt/slides/slide1.xml rId77 -> missing /ppt/media/missing.png\n" : "");
    const auto package = Package::Open(out.string());
    std::map<std::string, Relationship> rels;
    for (const auto& r : package->Relationships(pasted)) rels[r.id] = r;
    EXPECT_EQ(rels.at("rId90").partName, row.linkKept ? "/ppt/slides/slide2.xml" : pasted);
    // The notes slide's link back goes to the pasted slide in either case.
    std::string backLink;
    for (const auto& r : package->Relationships(rels.at("rId2").partName))
      if (rel::Is(r.type, "slide")) backLink = r.partName;
    EXPECT_EQ(backLink, pasted);
    source->Close();
  }
}

TEST_F(WriteTest, NotesSlidesGetTheTargetsNotesMaster) {
  // Source with notes (its notes master goes along when the target has none), and a source whose
  // notes slide lacks its notes master (the engine's own is made).
  b::BuiltDeck orphan = b::Render(ThreeSlides(u"O"));
  for (auto& entry : orphan.relationships)
    if (entry.source == "/ppt/notesSlides/notesSlide1.xml")
      std::erase_if(entry.relationships, [](const Relationship& r) { return rel::Is(r.type, "notesMaster"); });
  WriteDeck(orphan, Path("orphan.pptx"));

  struct Row {
    const char* name;
    fs::path deck;
    const char* notes;
  };
  for (const Row& row : {Row{"with notes master", Deck(ThreeSlides(u"A"), "a.pptx"), "notes of A"},
                         Row{"without notes master", Path("orphan.pptx"), "notes of O"}}) {
    SCOPED_TRACE(row.name);
    const auto source = Open(row.deck);
    const auto target = Add();
    source->Slides()->Item(2)->Copy();  // no notes: no notes master yet
    target->Slides()->Paste(-1);
    EXPECT_TRUE(NotesMasterOf(*ModelOf(target)).empty());
    source->Slides()->Item(1)->Copy();
    target->Slides()->Paste(-1);
    target->Slides()->Paste(-1);
    const std::string notesMaster = NotesMasterOf(*ModelOf(target));
    EXPECT_FALSE(notesMaster.empty());
    const auto reopened = SaveAndReopen(*target, std::string(row.name) + ".pptx");
    EXPECT_EQ(Views(*reopened), Views(*target));
    EXPECT_EQ(CountParts(Path(std::string(row.name) + ".pptx"), "/ppt/notesmasters/"), 1);
    EXPECT_NE(View(*reopened->Slides()->Item(3)).find(row.notes), std::string::npos);
  }
}

TEST_F(WriteTest, PresentationsWithSectionsKeepEverySlideInASection) {
  b::BuiltDeck deck = b::Render(ThreeSlides(u"S"));
  Replace(PartOf(deck, "/ppt/presentation.xml").bytes, "</p:presentation>",
          "<p:extLst><p:ext uri=\"{521415D9-36F7-43E2-AB2F-B90AF26B5E84}\"><p14:sectionLst "
          "xmlns:p14=\"http://schemas.microsoft.com/office/powerpoint/2010/main\">"
          "<p14:section name=\"A\" id=\"{11111111-1111-1111-1111-111111111111}\"><p14:sldIdLst>"
          "<p14:sldId id=\"256\"/></p14:sldIdLst></p14:section>"
          "<p14:section name=\"B\" id=\"{22222222-2222-2222-2222-222222222222}\"><p14:sldIdLst>"
          "<p14:sldId id=\"257\"/><p14:sldId id=\"258\"/></p14:sldIdLst></p14:section>"
          "</p14:sectionLst></p:ext></p:extLst></p:presentation>");
  WriteDeck(deck, Path("sections.pptx"));
  const auto presentation = Open(Path("sections.pptx"));
  presentation->Slides()->Item(3)->Copy();
  presentation->Slides()->Paste(-1);  // after 258: section B
  presentation->Slides()->Paste(1);   // first: section A
  presentation->SaveAs(U(Path("out.pptx")), 24, 0);
  EXPECT_EQ(Joined(Problems(Path("out.pptx"))), "");
  const auto saved = Package::Open(Path("out.pptx").string());
  const auto root = xml::Document::Parse(saved->ReadPart("/ppt/presentation.xml"), "p")->root();
  std::vector<std::string> sections;
  for (xml::Node s = root.child("p:extLst").child("p:ext").child("p14:sectionLst").child("p14:section"); s;
       s = s.next_sibling("p14:section")) {
    std::string ids;
    for (xml::Node id = s.child("p14:sldIdLst").child("p14:sldId"); id; id = id.next_sibling("p14:sldId"))
      ids += std::string(xml::Attr(id, "id")) + " ";
    sections.push_back(ids);
  }
  EXPECT_EQ(sections, (std::vector<std::string>{"260 256 ", "257 258 259 "}));
}

// --- Saving --------------------------------------------------------------------------------------

// A deck with a macro project (and its signature) in a macro-enabled presentation.
fs::path MacroDeck(const fs::path& path) {
  b::DeckPlan plan;
  plan.slides = {TitledSlide(u"Macro", u"body")};
  b::BuiltDeck deck = b::Render(plan);
  PartOf(deck, "/ppt/presentation.xml").contentType = std::string(kMacroMain);
  AddPart(deck, "/ppt/vbaProject.bin", "application/vnd.ms-office.vbaProject", "vba project bytes");
  AddPart(deck, "/ppt/vbaProjectSignature.bin", "application/vnd.ms-office.vbaProjectSignature", "signature");
  AddRel(deck, "/ppt/presentation.xml", "rId90", std::string(kVbaRelationship), "/ppt/vbaProject.bin");
  AddRel(deck, "/ppt/vbaProject.bin", "rId1", std::string(kVbaSignatureRelationship), "/ppt/vbaProjectSignature.bin");
  WriteDeck(deck, path);
  return path;
}

TEST_F(WriteTest, SaveAsWritesTheKindOfItsCodeAndKeepsMacrosOnlyInMacroEnabledKinds) {
  struct Row {
    std::int32_t code;
    const char* name;
    const char* contentType;
    bool macros;
  };
  const Row rows[] = {
      {24, "p.pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml", false},
      {25, "p.pptm", "application/vnd.ms-powerpoint.presentation.macroEnabled.main+xml", true},
      {26, "p.potx", "application/vnd.openxmlformats-officedocument.presentationml.template.main+xml", false},
      {27, "p.potm", "application/vnd.ms-powerpoint.template.macroEnabled.main+xml", true},
      {28, "p.ppsx", "application/vnd.openxmlformats-officedocument.presentationml.slideshow.main+xml", false},
      {29, "p.ppsm", "application/vnd.ms-powerpoint.slideshow.macroEnabled.main+xml", true},
  };
  const auto presentation = Open(MacroDeck(Path("macro.pptm")));
  const auto view = Views(*presentation);
  // In both orders: dropping the project for one save keeps it for the next.
  for (const bool reverse : {false, true}) {
    for (std::size_t k = 0; k < std::size(rows); ++k) {
      const Row& row = rows[reverse ? std::size(rows) - 1 - k : k];
      SCOPED_TRACE(row.name);
      const fs::path out = Path(std::string(reverse ? "r" : "") + row.name);
      presentation->SaveAs(U(out), row.code, 0);
      EXPECT_EQ(Joined(Problems(out)), "");
      EXPECT_EQ(MainContentType(out), row.contentType);
      const auto package = Package::Open(out.string());
      EXPECT_EQ(package->HasPart("/ppt/vbaProject.bin"), row.macros);
      EXPECT_EQ(package->HasPart("/ppt/vbaProjectSignature.bin"), row.macros);
      bool related = false;
      for (const auto& r : package->Relationships("/ppt/presentation.xml")) related |= r.type == kVbaRelationship;
      EXPECT_EQ(related, row.macros);
      EXPECT_EQ(Views(*Open(out)), view);
    }
  }
  EXPECT_EQ(ModelOf(presentation)->package().ContentType("/ppt/presentation.xml"), kMacroMain);
}

TEST_F(WriteTest, FormatsWithoutWriterFailAndWriteNothing) {
  const auto presentation = Open(Deck(ThreeSlides(u"A"), "a.pptx"));
  std::vector<std::int32_t> codes = {0, 2, 3, 4, 8, 11, 16, 17, 18, 23, 30, 31, 33, 38, 40, 100, -1};
  // The web page, web archive and metafile folder are made from the renderer's pictures.
  if (!quorvane::engines::render_bridge::RendererBuiltIn()) codes.insert(codes.end(), {12, 15, 20});
  for (const std::int32_t code : codes) {
    std::u16string description;
    EXPECT_EQ(FailureOf([&] { presentation->SaveAs(U(Path("out.x")), code, 0); }, &description), kInvalid) << code;
    EXPECT_EQ(description, u"Presentation.SaveAs : \"" + U(Path("out.x")) + u"\" cannot be saved in this format.");
  }
  EXPECT_FALSE(fs::exists(Path("out.x")));
  EXPECT_EQ(presentation->Slides()->Count(), 3);
}

TEST_F(WriteTest, AnotherEngineCanPlugAFormatIn) {
  const auto presentation = Open(Deck(ThreeSlides(u"A"), "a.pptx"));
  std::string written;
  RegisterSaveFormat(33, [&](PresentationModel& model, const std::string& path) {
    written = path + " " + std::to_string(model.slides().size());
  });
  presentation->SaveAs(U(Path("out.xps")), 33, 0);
  RegisterSaveFormat(33, {});
  EXPECT_EQ(written, Path("out.xps").string() + " 3");
  EXPECT_EQ(FailureOf([&] { presentation->SaveAs(U(Path("out.xps")), 33, 0); }), kInvalid);
}

TEST_F(WriteTest, ChangesAreSavedAndThePresentationStaysUsable) {
  b::DeckPlan plan;
  b::SlidePlan first;
  first.shapes = {b::Title(u"T"), b::Group({b::TextBox(u"g1"), b::TextBox(u"g2")})};
  plan.slides = {first, TitledSlide(u"Second", u"two")};
  const auto presentation = Open(Deck(plan, "a.pptx"));
  const auto slide = presentation->Slides()->Item(1);
  slide->Shapes()->Item(2)->Ungroup();
  slide->Shapes()->Item(1)->TextFrame()->TextRange()->InsertBefore(u"label\n");
  presentation->PageSetup()->put_SlideWidth(720.0f);
  // A slide without notes part: its fresh notes page, changed, becomes a real notes part.
  const auto notesBody = slide->NotesPage()->Shapes()->Item(2);
  notesBody->TextFrame()->TextRange()->InsertBefore(u"fresh notes");
  const auto expected = Views(*presentation);

  const auto first_ = SaveAndReopen(*presentation, "one.pptx");
  EXPECT_EQ(Views(*first_), expected);
  EXPECT_FLOAT_EQ(first_->PageSetup()->SlideWidth(), 720.0f);
  EXPECT_EQ(first_->Slides()->Item(1)->Shapes()->Count(), 3);

  // Still usable: the object taken before the save still changes the one notes page.
  notesBody->TextFrame()->TextRange()->InsertBefore(u"more ");
  EXPECT_EQ(A(slide->NotesPage()->Shapes()->Item(2)->TextFrame()->TextRange()->Text()), "more fresh notes");
  presentation->Slides()->Item(2)->Copy();
  presentation->Slides()->Paste(-1);
  const auto second = SaveAndReopen(*presentation, "two.pptm", 25);
  EXPECT_EQ(Views(*second), Views(*presentation));
  EXPECT_EQ(second->Slides()->Count(), 3);
  EXPECT_EQ(CountParts(Path("two.pptm"), "/ppt/notesslides/"), 1);
}

TEST_F(WriteTest, TheSourceFileIsNeverWritten) {
  const fs::path source = Deck(ThreeSlides(u"A"), "a.pptx");
  const std::string bytes = ReadFile(source);
  const auto presentation = Open(source);
  const auto check = [&](const char* after) { EXPECT_EQ(ReadFile(source), bytes) << "after " << after; };
  presentation->Slides()->Item(1)->Shapes()->Item(1)->TextFrame()->TextRange()->InsertBefore(u"x");
  presentation->Slides()->Item(1)->Copy();
  check("Copy");
  presentation->Slides()->Paste(-1);
  check("Paste into itself");
  presentation->SaveAs(U(Path("b.pptx")), 24, 0);
  check("SaveAs another file");
  presentation->SaveAs(U(Path("b.rtf")), 6, 0);
  check("SaveAs outline");
  // Over its own file, by the same or another spelling: refused, whatever the format.
  for (const fs::path& name : {source, dir_ / "." / "a.pptx"})
    for (const std::int32_t code : {24, 25, 6}) {
      EXPECT_EQ(FailureOf([&] { presentation->SaveAs(U(name), code, 0); }), kInvalid) << name << " " << code;
      check("SaveAs over the source");
    }
  // So is the file of another open presentation.
  const auto other = Open(Path("b.pptx"));
  EXPECT_EQ(FailureOf([&] { presentation->SaveAs(U(Path("b.pptx")), 24, 0); }), kInvalid);
  other->Close();
  presentation->SaveAs(U(Path("b.pptx")), 24, 0);
  presentation->Close();
  check("Close");
  EXPECT_EQ(Joined(Problems(Path("b.pptx"))), "");
}

TEST_F(WriteTest, SaveFailuresNameTheFile) {
  const auto presentation = Open(Deck(ThreeSlides(u"A"), "a.pptx"));
  struct Row {
    const char* name;
    std::u16string file;
    std::int32_t code;
    std::int32_t number;
  };
  const Row rows[] = {
      {"missing folder", U(Path("no/such/x.pptx")), 24, hresult::kPathNotFound},
      {"missing folder, outline", U(Path("no/such/x.rtf")), 6, hresult::kPathNotFound},
      {"empty name", u"", 24, hresult::kPathNotFound},
      {"a folder", U(dir_), 24, hresult::kAccessDenied},
      {"unpaired surrogate", U(Path("x")) + u"\xD800.pptx", 24, hresult::kPathNotFound},
  };
  for (const Row& row : rows) {
    std::u16string description;
    EXPECT_EQ(FailureOf([&] { presentation->SaveAs(row.file, row.code, 0); }, &description), row.number) << row.name;
    EXPECT_NE(description.find(u"save"), std::u16string::npos) << row.name << ": " << A(description);
  }
  EXPECT_EQ(presentation->Slides()->Count(), 3);
}

// --- The outline ---------------------------------------------------------------------------------

TEST_F(WriteTest, OutlineRtfEscapesWhatRtfCannotCarry) {
  struct Row {
    const char* name;
    std::vector<OutlineParagraph> outline;
    std::string expected;  // the paragraphs' lines
  };
  const std::string title = "\\pard\\plain\\s1\\li0\\sa120\\outlinelevel0\\b\\f0\\fs32 ";
  const std::string body = "\\pard\\plain\\s2\\li360\\sa120\\outlinelevel1\\f0\\fs28 ";
  const std::string deep = "\\pard\\plain\\s9\\li2880\\sa120\\outlinelevel8\\f0\\fs20 ";
  const Row rows[] = {
      {"plain", {{1, u"Title"}, {2, u"Body"}}, title + "Title\\par\r\n" + body + "Body\\par\r\n"},
      {"specials", {{1, u"a\\b{c}"}}, title + "a\\\\b\\{c\\}\\par\r\n"},
      {"line breaks and tabs", {{1, u"a\vb\rc\td"}}, title + "a\\line b\\line c\\tab d\\par\r\n"},
      {"non-ASCII", {{2, u"\u00e9\u041f\u4e2d"}}, body + "\\u233?\\u1055?\\u20013?\\par\r\n"},
      {"above 32767 and astral", {{2, u"\uff01\U0001F600"}}, body + "\\u-255?\\u-10179?\\u-8704?\\par\r\n"},
      {"controls dropped",
       {{2,
         u"a\x01\x1f"
         u"b"}},
       body + "ab\\par\r\n"},
      {"levels clamped", {{0, u"x"}, {12, u"y"}}, title + "x\\par\r\n" + deep + "y\\par\r\n"},
  };
  for (const Row& row : rows) {
    const std::string rtf = RtfOutline(row.outline);
    ASSERT_TRUE(rtf.starts_with("{\\rtf1\\ansi")) << row.name;
    const auto start = rtf.find("\\pard");
    ASSERT_NE(start, std::string::npos) << row.name;
    EXPECT_EQ(rtf.substr(start), row.expected + "}\r\n") << row.name;
    EXPECT_TRUE(std::all_of(rtf.begin(), rtf.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        << row.name;
  }
}

TEST_F(WriteTest, OutlineHoldsTitlesThenBodyParagraphsBySlide) {
  b::DeckPlan plan;
  b::SlidePlan first;
  first.shapes = {b::TextBox(u"not in the outline"), b::CenterTitle(u"Opening\vline"), b::Subtitle(u"sub")};
  b::SlidePlan second;
  second.shapes = {b::Body(u"no title\r\rafter an empty one")};
  plan.slides = {first, second, TitledSlide(u"Third \u00e9", u"b")};
  b::BuiltDeck deck = b::Render(plan);
  // Indent levels on the third slide's body.
  Replace(PartOf(deck, "/ppt/slides/slide3.xml").bytes, "<a:p><a:r><a:rPr lang=\"en-US\" dirty=\"0\"/><a:t>b</a:t>",
          "<a:p><a:pPr lvl=\"1\"/><a:r><a:rPr lang=\"en-US\" dirty=\"0\"/><a:t>b</a:t>");
  WriteDeck(deck, Path("a.pptx"));
  const auto presentation = Open(Path("a.pptx"));
  const auto outline = OutlineOf(*ModelOf(presentation));
  std::vector<std::pair<int, std::string>> got;
  for (const auto& p : outline) got.emplace_back(p.level, A(p.text));
  EXPECT_EQ(got, (std::vector<std::pair<int, std::string>>{{1, "Opening\vline"},
                                                           {2, "sub"},
                                                           {1, ""},
                                                           {2, "no title"},
                                                           {2, "after an empty one"},
                                                           {1, "Third \xc3\xa9"},
                                                           {3, "b"}}));
  presentation->SaveAs(U(Path("a.rtf")), 6, 0);
  EXPECT_EQ(ReadFile(Path("a.rtf")), RtfOutline(outline));
}

}  // namespace
}  // namespace quorvane::engines::pptx
