// The Word stand-in without the office: its document model, the text and .docx writers, the
// object model's answers and failures, the process's slide clipboard, and a conversion through
// Word in a format that needs no office (Word's plain text), with a Quit that fails.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <pugixml.hpp>

#include "common/numbered_files.hpp"
#include "common/text.hpp"
#include "engines/clipboard.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/model_write.hpp"
#include "engines/pptx/package.hpp"
#include "engines/word/document.hpp"
#include "engines/word/engine.hpp"
#include "engines/word/writers.hpp"
#include "quorvane/automation_error.hpp"
#include "quorvane/control.hpp"
#include "support/fixtures.hpp"

namespace {

namespace fs = std::filesystem;
namespace builder = quorvane::engines::pptx::builder;
namespace clipboard = quorvane::engines::clipboard;
namespace text = quorvane::text;
namespace ow = quorvane::office::word;
using quorvane::AutomationError;
using quorvane::engines::word::Box;
using quorvane::engines::word::DocumentContent;
using quorvane::engines::word::Inline;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Folder {
 public:
  Folder() : path_(fs::temp_directory_path() / ("qv-word-engine-" + std::to_string(getpid()) + "-" +
                                                 ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~Folder() { fs::remove_all(path_); }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

// A copied slide of the given size, without parts: enough for the document model.
std::shared_ptr<const clipboard::CopiedSlide> SlideOfSize(std::int64_t widthEmu, std::int64_t heightEmu) {
  auto slide = std::make_shared<clipboard::CopiedSlide>();
  slide->clip = std::make_shared<quorvane::engines::pptx::SlideClip>();
  slide->widthEmu = widthEmu;
  slide->heightEmu = heightEmu;
  return slide;
}

// A document as a compact string: paragraphs separated by "|", items as text, <br>, <page>, <pic>.
std::string Shape(const DocumentContent& document) {
  std::string out;
  for (std::size_t p = 0; p < document.paragraphs().size(); ++p) {
    if (p) out += '|';
    for (const auto& item : document.paragraphs()[p].items) {
      switch (item.kind) {
        case Inline::Kind::kText: out += text::ToUtf8(item.text); break;
        case Inline::Kind::kLineBreak: out += "<br>"; break;
        case Inline::Kind::kPageBreak: out += "<page>"; break;
        case Inline::Kind::kPicture: out += "<pic>"; break;
      }
    }
  }
  return out;
}

TEST(WordDocument, InsertedTextSplitsIntoParagraphsAndBreaks) {
  struct Row {
    const char* name;
    std::u16string text;
    const char* shape;
  };
  const Row rows[] = {
      {"plain", u"notes", "notes"},
      {"CR ends a paragraph", u"one\rtwo", "one|two"},
      {"CR LF is one paragraph mark", u"one\r\ntwo", "one|two"},
      {"LF alone too", u"one\ntwo", "one|two"},
      {"VT is a line break", u"one\vtwo", "one<br>two"},
      {"FF is a page break", u"one\ftwo", "one<page>|two"},
      {"tab stays", u"a\tb", "a\tb"},
      {"other controls go", u"a\x01\x1F" u"b", "ab"},
      {"trailing CR", u"end\r", "end|"},
      {"empty", u"", ""},
  };
  for (const auto& row : rows) {
    DocumentContent document;
    document.AppendText(row.text);
    EXPECT_EQ(Shape(document), row.shape) << row.name;
  }
}

TEST(WordDocument, ConversionSequenceKeepsEveryPiece) {
  // What the conversion through Word does for two slides with notes: paste, paragraph, notes,
  // page break, paste, paragraph, notes. Nothing replaces what came before.
  DocumentContent document;
  document.AppendPicture(SlideOfSize(9144000, 6858000));
  document.AppendParagraph();
  document.AppendText(u"first notes");
  document.AppendPageBreak();
  document.AppendPicture(SlideOfSize(9144000, 6858000));
  document.AppendParagraph();
  document.AppendText(u"second\rnotes");
  EXPECT_EQ(Shape(document), "<pic>|first notes<page>|<pic>|second|notes");
  EXPECT_EQ(document.PlainText(), u"\r\nfirst notes\f\r\n\r\nsecond\r\nnotes\r\n");
}

TEST(WordDocument, PicturesFitTheTextColumn) {
  struct Row {
    const char* name;
    float pageWidth, pageHeight;
    std::int64_t slideWidth, slideHeight;
    double margin, width, height;
  };
  const Row rows[] = {
      // 4:3 slide on its own page size: an eighth of the height as margin, the column's height
      // limits the picture.
      {"4:3 page", 720, 540, 9144000, 6858000, 67.5, 540, 405},
      // 16:9 on a portrait Letter page: the column's width limits it.
      {"16:9 on Letter", 612, 792, 12192000, 6858000, 72, 468, 263.25},
      // A small page keeps an eighth of its side as margin.
      {"small page", 160, 120, 9144000, 6858000, 15, 120, 90},
  };
  for (const auto& row : rows) {
    DocumentContent document;
    document.setPageWidth(row.pageWidth);
    document.setPageHeight(row.pageHeight);
    document.AppendPicture(SlideOfSize(row.slideWidth, row.slideHeight));
    const Box box = document.PictureBox(0);
    EXPECT_DOUBLE_EQ(document.margin(), row.margin) << row.name;
    EXPECT_NEAR(box.width, row.width, 0.01) << row.name;
    EXPECT_NEAR(box.height, row.height, 0.01) << row.name;
  }
}

TEST(WordWriters, TextInTheLocaleCharacterSetOrUtf16WithBom) {
  Folder folder;
  DocumentContent document;
  document.AppendText(u"caf\u00E9 \u2603");
  const fs::path ansi = folder / "ansi.txt", unicode = folder / "unicode.txt";
  {
    quorvane::testing::ScopedLocale c("C", LC_CTYPE);
    quorvane::engines::word::WriteText(document, false, ansi.string());
  }
  EXPECT_EQ(ReadAll(ansi), "caf? ?\r\n");
  quorvane::engines::word::WriteText(document, true, unicode.string());
  const std::string bytes = ReadAll(unicode);
  ASSERT_EQ(bytes.size(), 2u + 2 * 8);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(bytes.substr(8, 2), std::string("\xE9\x00", 2));
  EXPECT_EQ(bytes.substr(12, 2), std::string("\x03\x26", 2));
  EXPECT_EQ(bytes.substr(14), std::string("\r\0\n\0", 4));
}

TEST(WordWriters, DocxHoldsPicturesBreaksTextAndThePageSize) {
  Folder folder;
  DocumentContent document;
  document.setPageWidth(720);
  document.setPageHeight(405);
  std::vector<std::string> pictures;
  for (int i = 1; i <= 3; ++i) {
    if (i > 1) document.AppendPageBreak();
    document.AppendPicture(SlideOfSize(12192000, 6858000));
    document.AppendParagraph();
    document.AppendText(u"notes <" + text::Decimal(i) + u"> & \"more\"\tend");
    pictures.push_back((folder / ("p" + std::to_string(i) + ".emf")).string());
    std::ofstream(pictures.back(), std::ios::binary) << "EMF" << i;
  }
  const fs::path out = folder / "out.docx";
  quorvane::engines::word::WriteDocx(document, pictures, out.string());

  const auto package = quorvane::engines::pptx::Package::Open(out.string());
  const auto rels = package->Relationships("/");
  ASSERT_EQ(rels.size(), 1u);
  EXPECT_EQ(rels[0].partName, "/word/document.xml");
  for (int i = 1; i <= 3; ++i) {
    const std::string part = "/word/media/image" + std::to_string(i) + ".emf";
    EXPECT_EQ(package->ReadPart(part), "EMF" + std::to_string(i));
    EXPECT_EQ(package->ContentType(part), "image/x-emf");
  }
  pugi::xml_document xml;
  ASSERT_TRUE(xml.load_string(package->ReadPart("/word/document.xml").c_str()));
  const auto body = xml.child("w:document").child("w:body");
  EXPECT_EQ(xml.select_nodes("//w:drawing").size(), 3u);
  EXPECT_EQ(xml.select_nodes("//w:br[@w:type='page']").size(), 2u);
  std::string texts;
  for (const auto& t : xml.select_nodes("//w:t")) texts += t.node().text().get();
  EXPECT_EQ(texts, "notes <1> & \"more\"endnotes <2> & \"more\"endnotes <3> & \"more\"end");
  EXPECT_EQ(xml.select_nodes("//w:tab").size(), 3u);
  const auto size = body.child("w:sectPr").child("w:pgSz");
  EXPECT_EQ(size.attribute("w:w").as_int(), 14400);
  EXPECT_EQ(size.attribute("w:h").as_int(), 8100);
  EXPECT_STREQ(size.attribute("w:orient").value(), "landscape");
  // Each picture names its own relationship, which leads to its own media part.
  const auto documentRels = package->Relationships("/word/document.xml");
  const auto blips = xml.select_nodes("//a:blip");
  ASSERT_EQ(blips.size(), 3u);
  for (std::size_t i = 0; i < blips.size(); ++i) {
    const std::string id = blips[i].node().attribute("r:embed").value();
    const auto rel = std::find_if(documentRels.begin(), documentRels.end(), [&](const auto& r) { return r.id == id; });
    ASSERT_NE(rel, documentRels.end());
    EXPECT_EQ(rel->partName, "/word/media/image" + std::to_string(i + 1) + ".emf");
  }
}

// RTF: markup characters escaped, non-ASCII text as \u code units (a character beyond the BMP as
// its two surrogates), metafiles as \emfblip and other pictures as \pngblip with their bytes in hex,
// breaks as \line and \page, the page size and margins in twips.
TEST(WordWriters, RtfEscapesTextAndEmbedsPicturesInHex) {
  Folder folder;
  DocumentContent document;
  document.setPageWidth(720);
  document.setPageHeight(405);
  document.AppendPicture(SlideOfSize(12192000, 6858000));
  document.AppendPageBreak();
  document.AppendPicture(SlideOfSize(12192000, 6858000));
  document.AppendParagraph();
  document.AppendText(u"a\\b{c}\td\u00e9\U0001F600\vnext");
  const std::vector<std::string> pictures = {(folder / "p1.emf").string(), (folder / "p2.png").string()};
  std::ofstream(pictures[0], std::ios::binary) << "EMF\x01";
  std::ofstream(pictures[1], std::ios::binary) << "\x89PNG";
  const fs::path out = folder / "out.rtf";
  quorvane::engines::word::WriteRtf(document, pictures, out.string());
  const std::string rtf = ReadAll(out);

  EXPECT_TRUE(rtf.starts_with("{\\rtf1\\ansi")) << rtf;
  EXPECT_TRUE(rtf.ends_with("}\n")) << rtf;
  const std::vector<std::string> expected = {
      "\\paperw14400\\paperh8100",           // 720 x 405 points
      "\\landscape",
      "{\\pict\\emfblip",
      "\\picwgoal",
      "\n454d4601}",                          // "EMF\x01" in hex
      "\\page ",
      "{\\pict\\pngblip",
      "\n89504e47}",                          // "\x89PNG"
      "\\par\n",
      "a\\\\b\\{c\\}\\tab d\\u233?\\u-10179?\\u-8704?\\line next",
  };
  std::size_t at = 0;
  for (const auto& piece : expected) {
    const std::size_t found = rtf.find(piece, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << piece << "\n" << rtf;
    at = found + piece.size();
  }
  // Braces balance: every group the writer opens it closes.
  int depth = 0;
  for (std::size_t i = 0; i < rtf.size(); ++i) {
    if (rtf[i] == '\\') {
      ++i;
      continue;
    }
    depth += rtf[i] == '{' ? 1 : rtf[i] == '}' ? -1 : 0;
    ASSERT_GE(depth, 0);
  }
  EXPECT_EQ(depth, 0);
}

// --- The object model --------------------------------------------------------------------------

class WordApplication : public ::testing::Test {
 protected:
  void SetUp() override {
    clipboard::PutSlide(nullptr);
    app_ = quorvane::engines::word::CreateApplication();
  }
  void TearDown() override { clipboard::PutSlide(nullptr); }

  // Runs `call` and returns the failure number it raised (0 when it did not fail).
  template <typename Fn>
  static std::int32_t FailureOf(Fn&& call) {
    try {
      call();
    } catch (const AutomationError& e) {
      return e.number();
    }
    return 0;
  }

  Folder folder_;
  std::shared_ptr<ow::Application> app_;
};

TEST_F(WordApplication, RefusesWhatWordRefuses) {
  auto document = app_->Documents()->Add();
  const std::u16string out = text::FromUtf8((folder_ / "out.txt").string());
  struct Row {
    const char* name;
    std::function<void()> call;
    std::int32_t number;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Row rows[] = {
      {"paste with an empty clipboard", [&] { app_->Selection()->Paste(); }, 4605},
      {"a section break", [&] { app_->Selection()->InsertBreak(2); }, 4605},
      {"text lines format", [&] { document->SaveAs(out, 3); }, quorvane::failure::kEInvalidArg},
      {"web archive", [&] { document->SaveAs(out, 9); }, quorvane::failure::kEInvalidArg},
      {"strict docx", [&] { document->SaveAs(out, 24); }, quorvane::failure::kEInvalidArg},
      {"a negative format", [&] { document->SaveAs(out, -78); }, quorvane::failure::kEInvalidArg},
      {"an empty name", [&] { document->SaveAs(u"", 7); }, quorvane::failure::kPathFileAccessError},
      {"a missing folder",
       [&] { document->SaveAs(text::FromUtf8((folder_ / "no" / "out.txt").string()), 7); },
       quorvane::failure::kPathNotFound},
      {"a folder as the file", [&] { document->SaveAs(text::FromUtf8((folder_ / "").string()), 7); },
       quorvane::failure::kPathFileAccessError},
      {"page width 0", [&] { document->PageSetup()->put_PageWidth(0); }, 4608},
      {"page height 23 in", [&] { document->PageSetup()->put_PageHeight(1656); }, 4608},
      {"page width NaN", [&] { document->PageSetup()->put_PageWidth(nan); }, 4608},
  };
  for (const auto& row : rows) EXPECT_EQ(FailureOf(row.call), row.number) << row.name;
  EXPECT_FALSE(fs::exists(folder_ / "out.txt"));
}

TEST_F(WordApplication, ClosedDocumentsAndAQuitApplicationFail) {
  auto document = app_->Documents()->Add();
  auto selection = app_->Selection();
  document->Close(0);
  EXPECT_EQ(FailureOf([&] { document->SaveAs(u"x.txt", 7); }), 5825);
  EXPECT_EQ(FailureOf([&] { document->Close(-1); }), 5825);
  EXPECT_EQ(FailureOf([&] { selection->InsertAfter(u"x"); }), 4248) << "no document is open";
  auto second = app_->Documents()->Add();
  app_->Quit(false);
  EXPECT_EQ(FailureOf([&] { second->PageSetup(); }), 462);
  EXPECT_EQ(FailureOf([&] { selection->InsertParagraphAfter(); }), 462);
  EXPECT_EQ(FailureOf([&] { app_->Name(); }), 462);
  EXPECT_EQ(FailureOf([&] { app_->Quit(false); }), 462);
}

TEST_F(WordApplication, CloseSavesChangesMadeSinceSaveAsToTheSameFileAndFormat) {
  const fs::path saved = folder_ / "saved.txt", never = folder_ / "never.txt";
  auto document = app_->Documents()->Add();
  app_->Selection()->InsertAfter(u"first");
  document->SaveAs(text::FromUtf8(saved.string()), 7);
  EXPECT_EQ(ReadAll(saved), std::string("\xFF\xFE" "f\0i\0r\0s\0t\0\r\0\n\0", 16));
  app_->Selection()->InsertParagraphAfter();
  app_->Selection()->InsertAfter(u"second");
  document->Close(-1);
  EXPECT_EQ(ReadAll(saved).size(), 2u + 2 * std::u16string(u"first\r\nsecond\r\n").size());

  // Dropped changes leave the file as it was; a document never saved writes nothing.
  auto other = app_->Documents()->Add();
  app_->Selection()->InsertAfter(u"x");
  other->SaveAs(text::FromUtf8(never.string()), 2);
  app_->Selection()->InsertAfter(u"y");
  other->Close(0);
  EXPECT_EQ(ReadAll(never), "x\r\n");
  auto unsaved = app_->Documents()->Add();
  app_->Selection()->InsertAfter(u"z");
  unsaved->Close(-1);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / ""), fs::directory_iterator()), 2);
}

TEST_F(WordApplication, NeverWritesOverTheFileOfAnOpenPresentation) {
  const fs::path deck = folder_ / "deck.pptx";
  builder::WriteSample(deck.string());
  const std::string before = ReadAll(deck);
  auto powerpoint = quorvane::engines::pptx::CreateApplication();
  auto presentation = powerpoint->Presentations()->Open(text::FromUtf8(deck.string()), -1, -1, 0);
  auto document = app_->Documents()->Add();
  app_->Selection()->InsertAfter(u"text");
  EXPECT_EQ(FailureOf([&] { document->SaveAs(text::FromUtf8(deck.string()), 7); }),
            quorvane::failure::kPermissionDenied);
  EXPECT_EQ(ReadAll(deck), before);
  powerpoint->Quit();
}

// Slide.Copy of any presentation application puts the slide, with its presentation's slide size, on
// the process's clipboard; Word's Paste takes it from there.
TEST_F(WordApplication, PasteTakesTheSlideLastCopiedByAnyPresentationApplication) {
  builder::DeckPlan plan;
  plan.slideWidthEmu = 9144000;
  plan.slideHeightEmu = 5143500;
  plan.slides.resize(2);
  plan.slides[0].shapes.push_back(builder::Title(u"one"));
  plan.slides[1].shapes.push_back(builder::Title(u"two"));
  const fs::path deck = folder_ / "deck.pptx";
  builder::Write(plan, deck.string());

  auto first = quorvane::engines::pptx::CreateApplication();
  auto second = quorvane::engines::pptx::CreateApplication();
  auto a = first->Presentations()->Open(text::FromUtf8(deck.string()), -1, -1, 0);
  auto b = second->Presentations()->Open(text::FromUtf8(deck.string()), -1, -1, 0);
  a->Slides()->Item(1)->Copy();
  b->Slides()->Item(2)->Copy();
  const auto copied = clipboard::CurrentSlide();
  ASSERT_TRUE(copied);
  EXPECT_EQ(copied->widthEmu, 9144000);
  EXPECT_EQ(copied->heightEmu, 5143500);
  ASSERT_FALSE(copied->clip->parts.empty());
  EXPECT_EQ(copied->clip->parts.front()->name, "/ppt/slides/slide2.xml");
  EXPECT_EQ(copied->clip->from.lock(), quorvane::engines::pptx::ModelOf(b));

  app_->Documents()->Add();
  EXPECT_EQ(FailureOf([&] { app_->Selection()->Paste(); }), 0);
  // Each application's own clipboard still serves Slides.Paste.
  a->Slides()->Paste(-1);
  EXPECT_EQ(a->Slides()->Count(), 3);
  first->Quit();
  second->Quit();
}

// Conversions on two threads copy and paste at the same time (the command's -j 2): each thread
// pastes the slide it copied itself, never the one the other thread just copied.
TEST_F(WordApplication, ConversionsOnTwoThreadsPasteTheirOwnSlides) {
  builder::DeckPlan plan;
  plan.slides.resize(2);
  plan.slides[0].shapes.push_back(builder::Title(u"one"));
  plan.slides[1].shapes.push_back(builder::Title(u"two"));
  const fs::path deck = folder_ / "deck.pptx";
  builder::Write(plan, deck.string());

  constexpr int kRounds = 300;
  const auto run = [&](std::int32_t slide, int& wrong) {
    auto powerpoint = quorvane::engines::pptx::CreateApplication();
    auto presentation = powerpoint->Presentations()->Open(text::FromUtf8(deck.string()), -1, -1, 0);
    const std::string expected = "/ppt/slides/slide" + std::to_string(slide) + ".xml";
    for (int round = 0; round < kRounds; ++round) {
      presentation->Slides()->Item(slide)->Copy();
      std::this_thread::yield();
      const auto copied = clipboard::CurrentSlide();
      if (!copied || copied->clip->parts.empty() || copied->clip->parts.front()->name != expected) ++wrong;
    }
    powerpoint->Quit();
  };
  int wrongFirst = 0;
  int wrongSecond = 0;
  std::thread first(run, 1, std::ref(wrongFirst));
  std::thread second(run, 2, std::ref(wrongSecond));
  first.join();
  second.join();
  EXPECT_EQ(wrongFirst, 0);
  EXPECT_EQ(wrongSecond, 0);
  // Nothing copied on this thread: Word has nothing to paste here.
  EXPECT_FALSE(clipboard::CurrentSlide());
}

// --- Through the control, in a format that needs no office -----------------------------------

// Forwards every call to the stand-in but Quit, which fails.
class QuitFails final : public ow::Application {
 public:
  explicit QuitFails(std::shared_ptr<ow::Application> inner) : inner_(std::move(inner)) {}
  std::u16string Name() override { return inner_->Name(); }
  void put_DisplayAlerts(std::int32_t value) override { inner_->put_DisplayAlerts(value); }
  void put_Visible(bool value) override { inner_->put_Visible(value); }
  std::shared_ptr<ow::Documents> Documents() override { return inner_->Documents(); }
  std::shared_ptr<ow::Selection> Selection() override { return inner_->Selection(); }
  void Quit(bool) override { throw AutomationError(quorvane::failure::kEFail, u"Quit failed"); }

 private:
  std::shared_ptr<ow::Application> inner_;
};

class EngineProvider final : public quorvane::office::ApplicationProvider {
 public:
  explicit EngineProvider(bool quitFails) : quitFails_(quitFails) {}
  std::shared_ptr<quorvane::office::ppt::Application> CreatePowerPoint() override {
    return quorvane::engines::pptx::CreateApplication();
  }
  std::shared_ptr<ow::Application> CreateWord() override {
    auto word = quorvane::engines::word::CreateApplication();
    if (quitFails_) return std::make_shared<QuitFails>(std::move(word));
    return word;
  }

 private:
  bool quitFails_;
};

// Code 102 is Word's plain text (format 2) through Word; with notes only, nothing needs the office.
TEST(WordThroughControl, NotesOnlyAsWordTextAndAQuitThatFails) {
  Folder folder;
  builder::DeckPlan plan;
  plan.slides.resize(3);
  plan.slides[0].notes = builder::NotesPage(u"first notes");
  plan.slides[2].notes = builder::NotesPage(u"third\rnotes");
  const fs::path deck = folder / "deck.pptx";
  builder::Write(plan, deck.string());

  struct Row {
    const char* name;
    bool quitFails;
    std::int32_t result;
  };
  for (const Row& row : {Row{"quit works", false, 0}, Row{"quit fails", true, -15}}) {
    const fs::path out = folder / (std::string(row.name) + ".txt");
    quorvane::QuorvaneX control(std::make_shared<EngineProvider>(row.quitFails));
    control.put_OptimizeForSpeed(quorvane::kVariantFalse);
    control.put_InputFile(text::FromUtf8(deck.string()));
    control.put_OutputFile(text::FromUtf8(out.string()));
    control.put_TargetFileType(102);
    control.put_IncludeNotes(quorvane::kVariantTrue);
    control.put_NotesOnly(quorvane::kVariantTrue);
    EXPECT_EQ(control.ConvertFile(), row.result) << row.name;
    // The document was saved before Word was given back: each notes page's placeholders with text
    // in order (the notes body, then the slide number), nothing for the slide without notes.
    EXPECT_EQ(ReadAll(out), "\r\nfirst notes\r\n1\r\nthird\r\nnotes\r\n3\r\n") << row.name;
    if (row.quitFails) {
      EXPECT_EQ(text::ToUtf8(control.get_ErrorString()), "Unable to destroy Word application.");
    }
  }
}

}  // namespace
