// The Word stand-in without the office: its document model, the text, .docx and RTF writers, the
// object model's answers and failures, the process's slide clipboard, and a conversion through Word
// in a format that needs no office (Word's plain text).
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <pugixml.hpp>
#include <thread>

#include "engines/shared/clipboard.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/model_write.hpp"
#include "engines/pptx/package.hpp"
#include "engines/shared/renderer.hpp"
#include "engines/word/document.hpp"
#include "engines/word/engine.hpp"
#include "engines/word/writers.hpp"
#include "support/fixtures.hpp"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
namespace builder = engines::pptx::builder;
namespace clipboard = engines::clipboard;
namespace word = engines::word;
namespace ow = office::word;
using testing::ReadFile;
using testing::TempFolder;
using testing::ThrownNumber;
using testing::WriteFile;
using word::DocumentContent;
using word::Inline;

// A copied slide of the given size, without parts: enough for the document model.
std::shared_ptr<const clipboard::CopiedSlide> SlideOfSize(std::int64_t widthEmu, std::int64_t heightEmu) {
  auto slide = std::make_shared<clipboard::CopiedSlide>();
  slide->clip = std::make_shared<engines::pptx::SlideClip>();
  slide->widthEmu = widthEmu;
  slide->heightEmu = heightEmu;
  return slide;
}

// A document as a compact string: paragraphs separated by "|", items as text, <br>, <page>, <pic>.
std::string Shape(const DocumentContent& document) {
  std::string out;
  for (const auto& paragraph : document.paragraphs()) {
    if (&paragraph != &document.paragraphs().front()) out += '|';
    for (const auto& item : paragraph.items) {
      if (item.kind == Inline::Kind::kText) out += text::ToUtf8(item.text);
      else out += item.kind == Inline::Kind::kLineBreak ? "<br>" : item.kind == Inline::Kind::kPageBreak ? "<page>" : "<pic>";
    }
  }
  return out;
}

// Two pasted 16:9 slides on a 720 x 405 page, a page break between them, notes text after each.
DocumentContent TwoSlidesWithNotes(std::u16string notes) {
  DocumentContent document;
  document.setPageWidth(720);
  document.setPageHeight(405);
  for (int i = 1; i <= 2; ++i) {
    if (i > 1) document.AppendPageBreak();
    document.AppendPicture(SlideOfSize(12192000, 6858000));
    document.AppendParagraph();
    document.AppendText(notes + text::Decimal(i));
  }
  return document;
}

TEST(WordDocument, TextParagraphsBreaksAndPictureSizes) {
  const std::pair<std::u16string, const char*> texts[] = {
      {u"one\rtwo", "one|two"},       {u"one\r\ntwo", "one|two"}, {u"one\ntwo", "one|two"},
      {u"one\vtwo", "one<br>two"},    {u"one\ftwo", "one<page>|two"}, {u"a\tb", "a\tb"},
      {u"a\x01\x1F" u"b", "ab"},      {u"end\r", "end|"},         {u"", ""},
  };
  for (const auto& [in, shape] : texts) {
    DocumentContent document;
    document.AppendText(in);
    EXPECT_EQ(Shape(document), shape) << text::ToUtf8(in);
  }
  // What the conversion through Word does: nothing replaces what came before.
  const DocumentContent document = TwoSlidesWithNotes(u"notes\r");
  EXPECT_EQ(Shape(document), "<pic>|notes|1<page>|<pic>|notes|2");
  EXPECT_EQ(document.PlainText(), u"\r\nnotes\r\n1\f\r\n\r\nnotes\r\n2\r\n");

  struct Row {
    const char* name;
    float pageWidth, pageHeight;
    std::int64_t slideWidth, slideHeight;
    double margin, width, height;  // an eighth of the page's height as margin
  };
  const Row rows[] = {
      {"4:3 page: the column's height limits", 720, 540, 9144000, 6858000, 67.5, 540, 405},
      {"16:9 on Letter: the column's width limits", 612, 792, 12192000, 6858000, 72, 468, 263.25},
      {"small page", 160, 120, 9144000, 6858000, 15, 120, 90},
  };
  for (const auto& row : rows) {
    DocumentContent page;
    page.setPageWidth(row.pageWidth);
    page.setPageHeight(row.pageHeight);
    page.AppendPicture(SlideOfSize(row.slideWidth, row.slideHeight));
    EXPECT_DOUBLE_EQ(page.margin(), row.margin) << row.name;
    EXPECT_NEAR(page.PictureBox(0).width, row.width, 0.01) << row.name;
    EXPECT_NEAR(page.PictureBox(0).height, row.height, 0.01) << row.name;
  }
}

// Text in the locale's character set or as UTF-16 with a byte order mark; .docx with its pictures,
// breaks, text and page size; RTF with markup escaped, non-ASCII text as \u code units (beyond the
// BMP as two surrogates), metafiles as \emfblip and others as \pngblip in hex, sizes in twips.
TEST(WordWriters, TextDocxAndRtf) {
  TempFolder folder;
  DocumentContent snowman;
  snowman.AppendText(u"caf\u00E9 \u2603");
  {
    testing::ScopedLocale c("C", LC_CTYPE);
    word::WriteText(snowman, false, (folder / "ansi.txt").string());
  }
  EXPECT_EQ(ReadFile(folder / "ansi.txt"), "caf? ?\r\n");

  const DocumentContent document = TwoSlidesWithNotes(u"a\\b{c}\td<&>\"\u00e9\U0001F600\vnext ");
  const std::vector<std::string> pictures = {(folder / "p1.emf").string(), (folder / "p2.png").string()};
  WriteFile(pictures[0], "EMF\x01");
  WriteFile(pictures[1], "\x89PNG");
  word::WriteDocx(document, pictures, (folder / "out.docx").string());
  const auto package = engines::pptx::Package::Open((folder / "out.docx").string());
  EXPECT_EQ(package->ContentType("/word/media/image1.emf"), "image/x-emf");
  pugi::xml_document xml;
  ASSERT_TRUE(xml.load_string(package->ReadPart("/word/document.xml").c_str()));
  EXPECT_EQ(xml.select_nodes("//w:br[@w:type='page']").size(), 1u);
  EXPECT_EQ(xml.select_nodes("//w:tab").size(), 2u);
  std::string texts;
  for (const auto& t : xml.select_nodes("//w:t")) texts += t.node().text().get();
  EXPECT_EQ(texts, "a\\b{c}d<&>\"\u00e9\U0001F600next 1a\\b{c}d<&>\"\u00e9\U0001F600next 2");
  const auto size = xml.select_node("//w:body/w:sectPr/w:pgSz").node();
  EXPECT_EQ(size.attribute("w:w").as_int(), 14400);
  EXPECT_EQ(size.attribute("w:h").as_int(), 8100);
  EXPECT_STREQ(size.attribute("w:orient").value(), "landscape");
  // Each picture names its own relationship, which leads to its own media part.
  const auto rels = package->Relationships("/word/document.xml");
  const auto blips = xml.select_nodes("//a:blip");
  ASSERT_EQ(blips.size(), 2u);
  for (std::size_t i = 0; i < blips.size(); ++i) {
    const std::string id = blips[i].node().attribute("r:embed").value();
    const auto rel = std::find_if(rels.begin(), rels.end(), [&](const auto& r) { return r.id == id; });
    ASSERT_NE(rel, rels.end());
    EXPECT_EQ(package->ReadPart(rel->partName), ReadFile(pictures[i])) << rel->partName;
  }

  word::WriteRtf(document, pictures, (folder / "out.rtf").string());
  const std::string rtf = ReadFile(folder / "out.rtf");
  EXPECT_TRUE(rtf.starts_with("{\\rtf1\\ansi") && rtf.ends_with("}\n")) << rtf;
  std::size_t at = 0;
  for (const char* piece : {"\\paperw14400\\paperh8100", "\\landscape", "{\\pict\\emfblip", "\\picwgoal", "\n454d4601}",
                            "\\par\n", "a\\\\b\\{c\\}\\tab d<&>\"\\u233?\\u-10179?\\u-8704?\\line next 1", "\\page ",
                            "{\\pict\\pngblip", "\n89504e47}"}) {
    const std::size_t found = rtf.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << piece << "\n" << rtf;
    at = found + std::strlen(piece);
  }
}

class WordApplication : public ::testing::Test {
 protected:
  void SetUp() override { clipboard::PutSlide(nullptr); }
  void TearDown() override { clipboard::PutSlide(nullptr); }
  TempFolder folder_;
  std::shared_ptr<ow::Application> app_ = word::CreateApplication();
};

TEST_F(WordApplication, RefusesWhatWordRefuses) {
  auto document = app_->Documents()->Add();
  const std::u16string out = text::FromUtf8((folder_ / "out.txt").string());
  const float nan = std::numeric_limits<float>::quiet_NaN();
  using failure::kEInvalidArg;
  // said: how the description starts (the member, then Word's words), reaching the host as the cause
  struct Row { const char* name; std::function<void()> call; std::int32_t number; const char* said = ""; };
  const Row rows[] = {
      {"paste with an empty clipboard", [&] { app_->Selection()->Paste(); }, 4605,
       "Selection.Paste : This method or property is not available because the Clipboard is empty"},
      {"a section break", [&] { app_->Selection()->InsertBreak(2); }, 4605,
       "Selection.InsertBreak : This method or property is not available because break type 2"},
      {"text lines format", [&] { document->SaveAs(out, 3); }, kEInvalidArg},
      {"web archive", [&] { document->SaveAs(out, 9); }, kEInvalidArg},
      {"strict docx", [&] { document->SaveAs(out, 24); }, kEInvalidArg},
      {"a negative format", [&] { document->SaveAs(out, -78); }, kEInvalidArg},
      {"an empty name", [&] { document->SaveAs(u"", 7); }, failure::kPathFileAccessError},
      {"a missing folder", [&] { document->SaveAs(text::FromUtf8((folder_ / "no" / "out.txt").string()), 7); },
       failure::kPathNotFound},
      {"a folder as the file", [&] { document->SaveAs(text::FromUtf8((folder_ / "").string()), 7); },
       failure::kPathFileAccessError},
      {"page width 0", [&] { document->PageSetup()->put_PageWidth(0); }, 4608, "PageSetup.PageWidth : Value out of range."},
      {"page height 23 in", [&] { document->PageSetup()->put_PageHeight(1656); }, 4608},
      {"page width NaN", [&] { document->PageSetup()->put_PageWidth(nan); }, 4608},
  };
  for (const auto& row : rows) {
    std::string said;
    EXPECT_EQ(ThrownNumber(row.call, &said), row.number) << row.name;
    EXPECT_TRUE(said.starts_with(row.said)) << row.name << ": " << said;
  }
  if (!engines::TheRenderer().BuiltIn()) {  // a format only the office writes, refused before anything is written
    EXPECT_EQ(ThrownNumber([&] { document->SaveAs(out, 17); }), failure::kEFail);
  }
  EXPECT_FALSE(fs::exists(folder_ / "out.txt"));

  // A closed document, and everything once Word has quit.
  auto selection = app_->Selection();
  document->Close(0);
  std::string said;
  EXPECT_EQ(ThrownNumber([&] { document->SaveAs(u"x.txt", 7); }, &said), 5825);
  EXPECT_EQ(said, "Document.SaveAs : Object has been deleted.");
  EXPECT_EQ(ThrownNumber([&] { document->Close(-1); }), 5825);
  EXPECT_EQ(ThrownNumber([&] { selection->InsertAfter(u"x"); }, &said), 4248);
  EXPECT_EQ(said, "Selection.InsertAfter : This command is not available because no document is open.");
  auto second = app_->Documents()->Add();
  app_->Quit(false);
  EXPECT_EQ(ThrownNumber([&] { second->PageSetup(); }), 462);
  EXPECT_EQ(ThrownNumber([&] { app_->Documents(); }, &said), 462);
  EXPECT_EQ(said, "Application.Documents : The remote server machine does not exist or is unavailable.");
  EXPECT_EQ(ThrownNumber([&] { selection->InsertParagraphAfter(); }), 462);
  EXPECT_EQ(ThrownNumber([&] { app_->Name(); }), 462);
  EXPECT_EQ(ThrownNumber([&] { app_->Quit(false); }), 462);
}

// Close saves what changed since SaveAs to the same file and format; dropped changes leave the file
// as it was, a document never saved writes nothing, and the file of an open presentation is never
// written over.
TEST_F(WordApplication, CloseSavesChangesMadeSinceSaveAs) {
  const fs::path saved = folder_ / "saved.txt", never = folder_ / "never.txt", deck = folder_ / "deck.pptx";
  auto document = app_->Documents()->Add();
  app_->Selection()->InsertAfter(u"first");
  document->SaveAs(text::FromUtf8(saved.string()), 7);
  EXPECT_EQ(ReadFile(saved), std::string("\xFF\xFE" "f\0i\0r\0s\0t\0\r\0\n\0", 16));
  app_->Selection()->InsertParagraphAfter();
  app_->Selection()->InsertAfter(u"second");
  document->Close(-1);
  EXPECT_EQ(ReadFile(saved).size(), 2u + 2 * std::u16string(u"first\r\nsecond\r\n").size());

  auto other = app_->Documents()->Add();
  app_->Selection()->InsertAfter(u"x");
  other->SaveAs(text::FromUtf8(never.string()), 2);
  app_->Selection()->InsertAfter(u"y");
  other->Close(0);
  EXPECT_EQ(ReadFile(never), "x\r\n");
  auto unsaved = app_->Documents()->Add();
  app_->Selection()->InsertAfter(u"z");
  unsaved->Close(-1);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_.path()), fs::directory_iterator()), 2);

  builder::WriteSample(deck.string());
  const std::string before = ReadFile(deck);
  auto powerpoint = engines::pptx::CreateApplication();
  auto presentation = powerpoint->Presentations()->Open(text::FromUtf8(deck.string()), -1, -1, 0);
  auto held = app_->Documents()->Add();
  app_->Selection()->InsertAfter(u"text");
  EXPECT_EQ(ThrownNumber([&] { held->SaveAs(text::FromUtf8(deck.string()), 7); }), failure::kPermissionDenied);
  EXPECT_EQ(ReadFile(deck), before);
  powerpoint->Quit();
}

// Slide.Copy of any presentation application puts the slide, with its presentation's slide size, on
// the thread's clipboard; Word's Paste takes it from there, and conversions on two threads (the
// command's -j 2) each paste the slide they copied themselves.
TEST_F(WordApplication, PasteTakesTheSlideLastCopiedOnThisThread) {
  builder::DeckPlan plan = builder::Generated(2);
  plan.slideWidthEmu = 9144000;
  plan.slideHeightEmu = 5143500;
  const fs::path deck = folder_ / "deck.pptx";
  builder::Write(plan, deck.string());
  const auto open = [&](auto& application) {
    return application->Presentations()->Open(text::FromUtf8(deck.string()), -1, -1, 0);
  };

  const auto run = [&](std::int32_t slide, int& wrong) {
    auto powerpoint = engines::pptx::CreateApplication();
    auto presentation = open(powerpoint);
    const std::string expected = "/ppt/slides/slide" + std::to_string(slide) + ".xml";
    for (int round = 0; round < 300; ++round) {
      presentation->Slides()->Item(slide)->Copy();
      std::this_thread::yield();
      const auto copied = clipboard::CurrentSlide();
      if (!copied || copied->clip->parts.empty() || copied->clip->parts.front()->name != expected) ++wrong;
    }
    powerpoint->Quit();
  };
  int wrong[2] = {0, 0};
  std::thread first(run, 1, std::ref(wrong[0]));
  std::thread second(run, 2, std::ref(wrong[1]));
  first.join();
  second.join();
  EXPECT_EQ(wrong[0] + wrong[1], 0);
  EXPECT_FALSE(clipboard::CurrentSlide()) << "nothing was copied on this thread";

  auto one = engines::pptx::CreateApplication();
  auto two = engines::pptx::CreateApplication();
  auto a = open(one);
  auto b = open(two);
  a->Slides()->Item(1)->Copy();
  b->Slides()->Item(2)->Copy();
  const auto copied = clipboard::CurrentSlide();
  ASSERT_TRUE(copied);
  EXPECT_EQ(std::pair(copied->widthEmu, copied->heightEmu), (std::pair<std::int64_t, std::int64_t>(9144000, 5143500)));
  EXPECT_EQ(copied->clip->parts.at(0)->name, "/ppt/slides/slide2.xml");
  EXPECT_EQ(copied->clip->from.lock(), engines::pptx::ModelOf(b));
  app_->Documents()->Add();
  EXPECT_EQ(ThrownNumber([&] { app_->Selection()->Paste(); }), 0);
  a->Slides()->Paste(-1);  // each application's own clipboard still serves Slides.Paste
  EXPECT_EQ(a->Slides()->Count(), 3);
  one->Quit();
  two->Quit();
}

}  // namespace
}  // namespace quorvane
