// The scripted office answers as the object model does, and its log, clipboard, ungrouping and
// failure injection behave as the converter tests rely on.
#include "support/scripted_office.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "common/text.hpp"

namespace quorvane::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::int32_t kInvalid = failure::kPowerPointInvalidRequest;

// The number a call fails with, or 0 when it succeeds.
std::int32_t FailureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

struct OfficeTest : ::testing::Test {
  std::shared_ptr<ScriptedOffice> office = std::make_shared<ScriptedOffice>();

  std::shared_ptr<ppt::Presentation> Open(const Deck& deck, const std::u16string& name = u"deck.pptx") {
    office->AddFile(name, deck);
    return office->CreatePowerPoint()->Presentations()->Open(name, 0, 0, 0);
  }
  static std::shared_ptr<ppt::Shape> ShapeOf(ppt::Presentation& p, int slide, int shape) {
    return p.Slides()->Item(slide)->Shapes()->Item(shape);
  }
  static std::u16string TextOf(ppt::Shape& shape) { return shape.TextFrame()->TextRange()->Text(); }
};

// Every answer of a shape in one line; "fail" stands for PowerPoint's invalid request.
std::string Describe(ppt::Shape& shape) {
  const auto answer = [](const std::function<std::string()>& ask) -> std::string {
    try {
      return ask();
    } catch (const AutomationError& e) {
      return e.number() == kInvalid ? "fail" : "fail(" + std::to_string(e.number()) + ")";
    }
  };
  const auto tableSize = [&] {
    auto table = shape.Table();
    return std::to_string(table->RowsCount()) + "x" + std::to_string(table->ColumnsCount());
  };
  return "type=" + answer([&] { return std::to_string(shape.Type()); }) +
         " frame=" + answer([&] { return std::to_string(shape.HasTextFrame()); }) +
         " hasText=" + answer([&] { return std::to_string(shape.TextFrame()->HasText()); }) +
         " text=" + answer([&] { return text::ToUtf8(shape.TextFrame()->TextRange()->Text()); }) +
         " ph=" + answer([&] { return std::to_string(shape.PlaceholderFormat()->Type()); }) +
         " table=" + answer(tableSize) +
         " items=" + answer([&] { return std::to_string(shape.GroupItems()->Count()); });
}

TEST_F(OfficeTest, BuiltShapesAnswerAsTheObjectModel) {
  const struct {
    const char* name;
    ShapeData shape;
    const char* expected;
  } rows[] = {
      {"title", Title(u"T"), "type=14 frame=-1 hasText=-1 text=T ph=1 table=fail items=fail"},
      {"empty body", Body(u""), "type=14 frame=-1 hasText=0 text= ph=2 table=fail items=fail"},
      {"centre title", CenterTitle(u"C"), "type=14 frame=-1 hasText=-1 text=C ph=3 table=fail items=fail"},
      {"subtitle", Subtitle(u"S"), "type=14 frame=-1 hasText=-1 text=S ph=4 table=fail items=fail"},
      {"date", Placeholder(16, u"D"), "type=14 frame=-1 hasText=-1 text=D ph=16 table=fail items=fail"},
      {"text box", TextBox(u"a\rb"), "type=17 frame=-1 hasText=-1 text=a\rb ph=fail table=fail items=fail"},
      {"lone CR is text", AutoShape(u"\r"), "type=1 frame=-1 hasText=-1 text=\r ph=fail table=fail items=fail"},
      {"empty autoshape", AutoShape(), "type=1 frame=-1 hasText=0 text= ph=fail table=fail items=fail"},
      {"picture", Picture(), "type=13 frame=0 hasText=0 text=fail ph=fail table=fail items=fail"},
      {"chart", Graphic(3), "type=3 frame=0 hasText=0 text=fail ph=fail table=fail items=fail"},
      {"table", Table({{u"a", u"b"}, {u"c"}}), "type=19 frame=0 hasText=0 text=fail ph=fail table=2x2 items=fail"},
      {"group", Group({TextBox(u"A"), Group({})}), "type=6 frame=0 hasText=0 text=fail ph=fail table=fail items=2"},
      {"slide image", SlideImage(), "type=14 frame=0 hasText=fail text=fail ph=101 table=fail items=fail"},
  };
  for (const auto& row : rows) {
    auto p = Open(Deck().Slide({row.shape}));
    EXPECT_EQ(Describe(*ShapeOf(*p, 1, 1)), row.expected) << row.name;
  }
}

TEST_F(OfficeTest, TableCellsAreShapesAndShortRowsLackCells) {
  auto p = Open(Deck().Slide({Table({{u"a", u"b"}, {u"c"}})}));
  auto table = ShapeOf(*p, 1, 1)->Table();
  auto cell = table->Cell(2, 1)->Shape();
  EXPECT_EQ(cell->HasTextFrame(), office::kMsoTrue);
  cell->TextFrame()->TextRange()->InsertBefore(u">");
  EXPECT_EQ(TextOf(*table->Cell(2, 1)->Shape()), u">c");
  EXPECT_EQ(TextOf(*table->Cell(1, 2)->Shape()), u"b");
  for (auto [r, c] : {std::pair{2, 2}, {0, 1}, {3, 1}, {1, 3}})
    EXPECT_EQ(FailureOf([&] { table->Cell(r, c); }), kInvalid) << r << "," << c;
}

TEST_F(OfficeTest, NotesPagesListPlaceholdersApartFromShapes) {
  auto p = Open(Deck().Slide().Slide().Notes({TextBox(u"x"), SlideImage(), NotesBody(u"n")}));

  // A slide without notes of its own has PowerPoint's fresh notes page.
  auto fresh = p->Slides()->Item(1)->NotesPage()->Shapes();
  EXPECT_EQ(fresh->Count(), 2);
  EXPECT_EQ(FailureOf([&] { fresh->Item(1)->TextFrame(); }), kInvalid);
  EXPECT_EQ(TextOf(*fresh->Placeholders()->Item(2)), u"");

  auto shapes = p->Slides()->Item(2)->NotesPage()->Shapes();
  auto placeholders = shapes->Placeholders();
  EXPECT_EQ(shapes->Count(), 3);
  EXPECT_EQ(placeholders->Count(), 2);
  EXPECT_EQ(shapes->Item(2)->HasTextFrame(), office::kMsoFalse);  // the slide picture...
  EXPECT_EQ(TextOf(*placeholders->Item(2)), u"n");                // ...while placeholder 2 is the body
  EXPECT_EQ(FailureOf([&] { placeholders->Item(3); }), kInvalid);
}

TEST_F(OfficeTest, UngroupReplacesTheGroupByItsItemsWhereItLies) {
  auto p = Open(Deck().Slide({Title(u"T"), Group({TextBox(u"A"), Group({TextBox(u"B"), TextBox(u"C")})}), Picture()}));
  auto shapes = p->Slides()->Item(1)->Shapes();
  auto group = shapes->Item(2);
  auto inner = group->GroupItems()->Item(2);

  inner->Ungroup();  // inside its group: the outer group now holds A, B, C
  EXPECT_EQ(group->GroupItems()->Count(), 3);
  group->Ungroup();
  std::vector<std::u16string> texts;
  for (int i = 1; i <= shapes->Count(); ++i)
    texts.push_back(shapes->Item(i)->HasTextFrame() ? TextOf(*shapes->Item(i)) : u"-");
  EXPECT_THAT(texts, ElementsAre(u"T", u"A", u"B", u"C", u"-"));

  EXPECT_EQ(FailureOf([&] { group->Type(); }), kInvalid) << "an ungrouped group no longer exists";
  EXPECT_EQ(FailureOf([&] { shapes->Item(5)->Ungroup(); }), kInvalid) << "a picture is not a group";
}

TEST_F(OfficeTest, ClipboardCarriesACopyOfTheSlideToPowerPointAndWord) {
  auto input = Open(Deck().Slide({Title(u"one")}).Slide({Title(u"two")}));
  auto target = office->CreatePowerPoint()->Presentations()->Add(0);
  auto word = office->CreateWord();
  auto document = word->Documents()->Add();

  EXPECT_EQ(FailureOf([&] { target->Slides()->Paste(-1); }), kInvalid);
  EXPECT_EQ(FailureOf([&] { word->Selection()->Paste(); }), kWordClipboardEmpty);

  input->Slides()->Item(2)->Copy();
  ShapeOf(*input, 2, 1)->TextFrame()->TextRange()->InsertBefore(u"changed ");  // after the copy
  target->Slides()->Paste(-1);
  target->Slides()->Paste(-1);
  ShapeOf(*target, 1, 1)->TextFrame()->TextRange()->InsertBefore(u"1: ");
  word->Selection()->Paste();
  target->SaveAs(u"out.pdf", 32, 0);

  ASSERT_EQ(office->Saves().size(), 1u);
  EXPECT_THAT(office->Saves()[0].slides, ElementsAre(ElementsAre(u"1: two"), ElementsAre(u"two")));
  EXPECT_THAT(office->WordDocuments()[0]->content, ElementsAre("slide 2"));
}

TEST_F(OfficeTest, FailureRulesCountTheCallsTheyMatch) {
  const struct {
    const char* name;
    std::function<void(ScriptedOffice&)> arrange;
    const char* failing;  // of the exports of slides 1 to 4
  } rows[] = {
      {"2nd call", [](ScriptedOffice& o) { o.FailOn("Slide.Export", 2, kInvalid); }, ".x.."},
      {"two from the 2nd", [](ScriptedOffice& o) { o.FailOn("Slide.Export", 2, kInvalid).Times(2); }, ".xx."},
      {"from the 3rd on", [](ScriptedOffice& o) { o.FailFrom("Slide.Export", 3, kInvalid); }, "..xx"},
      {"on slide 3 only", [](ScriptedOffice& o) { o.FailOn("Slide.Export", 1, kInvalid).OnSlide(3); }, "..x."},
      {"by whole text", [](ScriptedOffice& o) { o.FailOn("Slide.Export(s4.GIF, GIF, 0, 0)", 1, kInvalid); }, "...x"},
      {"other member", [](ScriptedOffice& o) { o.FailOn("Slide.Copy", 1, kInvalid); }, "...."},
      {"rules count side by side",
       [](ScriptedOffice& o) {
         o.FailOn("Slide.Export", 1, kInvalid);
         o.FailOn("Slide.Export", 2, kInvalid);
       },
       "xx.."},
  };
  for (const auto& row : rows) {
    office = std::make_shared<ScriptedOffice>();
    auto p = Open(Deck().TitledSlides(4));
    row.arrange(*office);
    std::string failing;
    for (int i = 1; i <= 4; ++i) {
      const auto file = u"s" + text::Decimal(i) + u".GIF";
      failing += FailureOf([&] { p->Slides()->Item(i)->Export(file, u"GIF", 0, 0); }) == kInvalid ? 'x' : '.';
    }
    EXPECT_EQ(failing, row.failing) << row.name;
    EXPECT_EQ(office->Log("Slide.Export").size(), 4u) << row.name << ": failed calls are logged too";
    EXPECT_EQ(office->Exports().size(), static_cast<std::size_t>(std::count(failing.begin(), failing.end(), '.')))
        << row.name << ": a failed call has no effect";
  }
}

TEST_F(OfficeTest, InjectedFailureCarriesNumberAndDescription) {
  auto& rule = office->FailOn("CreatePowerPoint", 1, failure::kCannotCreateObject, u"cannot create");
  try {
    office->CreatePowerPoint();
    FAIL() << "no failure";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.number(), failure::kCannotCreateObject);
    EXPECT_EQ(e.description(), u"cannot create");
  }
  EXPECT_NE(office->CreatePowerPoint(), nullptr);
  EXPECT_EQ(office->PowerPoints().size(), 1u);
  EXPECT_EQ(rule.matched(), 2);
  EXPECT_EQ(rule.fired(), 1);
}

TEST_F(OfficeTest, LogIsOneReadableLinePerCall) {
  office->AddFile(u"C:\\in\\d\u00E9ck.pptx", Deck().Slide({TextBox(u"x")}));
  auto app = office->CreatePowerPoint();
  auto p = app->Presentations()->Open(u"c:\\IN\\D\u00C9CK.pptx", -1, 0, 0);
  p->PageSetup()->put_SlideWidth(960.5f);
  ShapeOf(*p, 1, 1)->TextFrame()->TextRange()->InsertBefore(u"----- S -----\n");
  auto word = office->CreateWord();
  word->put_Visible(false);
  word->Quit(false);

  EXPECT_THAT(office->Log(), ElementsAre("CreatePowerPoint", "PowerPoint.Presentations",
                                         "Presentations.Open(c:\\IN\\DÉCK.pptx, -1, 0, 0)", "Presentation.PageSetup",
                                         "PageSetup.put_SlideWidth(960.5)", "Presentation.Slides", "Slides.Item(1)",
                                         "Slide.Shapes", "Shapes.Item(1)", "Shape.TextFrame", "TextFrame.TextRange",
                                         "TextRange.InsertBefore(----- S -----\\n)", "CreateWord",
                                         "Word.put_Visible(false)", "Word.Quit(false)"));
  EXPECT_THAT(office->Log("Word."), ElementsAre("Word.put_Visible(false)", "Word.Quit(false)"));
  EXPECT_EQ(office->Calls()[9].site.slide, 1);
  EXPECT_EQ(office->Calls()[9].site.shape, 1);
  office->ClearLog();
  EXPECT_THAT(office->Log(), IsEmpty());
}

TEST_F(OfficeTest, ClosedAndQuitObjectsFailInsteadOfCrashing) {
  auto p = Open(Deck().Slide({Title(u"T")}));
  auto slides = p->Slides();
  auto shape = ShapeOf(*p, 1, 1);
  p->Close();
  EXPECT_EQ(FailureOf([&] { slides->Count(); }), kInvalid);
  EXPECT_EQ(FailureOf([&] { shape->Type(); }), kInvalid);
  EXPECT_EQ(FailureOf([&] { p->Close(); }), kInvalid);

  auto app = office->CreatePowerPoint();
  auto second = app->Presentations()->Add(0);
  app->Quit();
  EXPECT_EQ(FailureOf([&] { app->Name(); }), kServerUnavailable);
  EXPECT_EQ(FailureOf([&] { second->Slides(); }), kServerUnavailable);

  auto word = office->CreateWord();
  EXPECT_EQ(FailureOf([&] { word->Selection()->InsertAfter(u"x"); }), kWordNoDocument);
  auto document = word->Documents()->Add();
  document->Close(-1);
  EXPECT_EQ(FailureOf([&] { document->SaveAs(u"x.doc", 0); }), kWordDisconnected);
  word->Quit(false);
  EXPECT_EQ(FailureOf([&] { word->Documents(); }), kServerUnavailable);

  office.reset();  // objects share the office's state and outlive it
  EXPECT_EQ(FailureOf([&] { shape->Type(); }), kInvalid);
}

TEST_F(OfficeTest, ApplicationsTakeTheConfiguredAnswers) {
  office->options().powerPointName = u"";
  office->options().powerPointVersion = u"12.0";
  auto ppt = office->CreatePowerPoint();
  EXPECT_EQ(ppt->Name(), u"");
  EXPECT_EQ(ppt->Version(), u"12.0");
  office->PowerPoints()[0]->name = u"Renamed";
  EXPECT_EQ(ppt->Name(), u"Renamed");

  auto word = office->CreateWord();
  EXPECT_EQ(word->Name(), u"Microsoft Word");
  word->put_DisplayAlerts(0);
  auto document = word->Documents()->Add();
  document->PageSetup()->put_PageHeight(540);
  word->Selection()->InsertBreak(word::kPageBreak);
  word->Selection()->InsertParagraphAfter();
  word->Selection()->InsertAfter(u"n\u00E9");
  document->SaveAs(u"out.rtf", 6);
  document->Close(-1);
  const auto& state = *office->WordDocuments()[0];
  EXPECT_EQ(office->Words()[0]->displayAlerts, 0);
  EXPECT_EQ(state.pageHeight, 540);
  EXPECT_THAT(state.content, ElementsAre("break 7", "paragraph", "text né"));
  ASSERT_EQ(state.saves.size(), 1u);
  EXPECT_EQ(state.saves[0].format, 6);
  EXPECT_EQ(state.closeSaveChanges, -1);
}

TEST_F(OfficeTest, OpenExportAndSaveFailAsPowerPointDoes) {
  auto app = office->CreatePowerPoint();
  EXPECT_EQ(FailureOf([&] { app->Presentations()->Open(u"missing.pptx", 0, 0, 0); }), failure::kFileNotFound);

  auto p = Open(Deck().TitledSlides(2));
  auto slide = p->Slides()->Item(2);
  slide->Export(u"a.png", u"png", 0, 0);
  EXPECT_EQ(FailureOf([&] { slide->Export(u"a.mht", u"MHT", 0, 0); }), failure::kEFail);
  ASSERT_EQ(office->Exports().size(), 1u);
  EXPECT_EQ(office->Exports()[0].slide, 2);

  office->options().unsupportedSaveFormats = {32};
  EXPECT_EQ(FailureOf([&] { p->SaveAs(u"out.pdf", 32, 0); }), kInvalid);
  p->SaveAs(u"out.pptx", 24, 0);
  EXPECT_EQ(office->Saves().size(), 1u);
}

TEST_F(OfficeTest, MarkerFilesAreWrittenOnlyOnRequest) {
  const auto dir = std::filesystem::temp_directory_path() / "scripted_office_test";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto name = [&](const char* file) { return text::FromUtf8((dir / file).string()); };
  auto p = Open(Deck().TitledSlides(1));

  p->SaveAs(name("quiet.pdf"), 32, 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "quiet.pdf"));
  office->options().writeFiles = true;
  p->SaveAs(name("loud.pdf"), 32, 0);
  p->Slides()->Item(1)->Export(name("s1.GIF"), u"GIF", 0, 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "loud.pdf"));
  EXPECT_TRUE(std::filesystem::exists(dir / "s1.GIF"));
  EXPECT_EQ(FailureOf([&] { p->SaveAs(name("no/such/folder.pdf"), 32, 0); }), kInvalid);
  std::filesystem::remove_all(dir);
}

TEST_F(OfficeTest, WrappersReplaceChosenObjects) {
  struct OddShape : ForwardingShape {
    using ForwardingShape::ForwardingShape;
    std::int32_t Type() override { return 99; }
  };
  office->Wrap<ppt::Shape>([](std::shared_ptr<ppt::Shape> inner, const Site& site) -> std::shared_ptr<ppt::Shape> {
    if (site.name == u"odd") return std::make_shared<OddShape>(inner);
    return inner;
  });
  auto p = Open(Deck().Slide({TextBox(u"a"), TextBox(u"b").Named(u"odd")}));
  EXPECT_EQ(ShapeOf(*p, 1, 1)->Type(), 17);
  EXPECT_EQ(ShapeOf(*p, 1, 2)->Type(), 99);
  EXPECT_EQ(TextOf(*ShapeOf(*p, 1, 2)), u"b");
}

}  // namespace
}  // namespace quorvane::testing
