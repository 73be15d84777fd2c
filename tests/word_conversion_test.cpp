// Conversion through Word with the engines of this platform: real decks with notes converted by
// the control into documents, which are then reopened (the .docx and HTML read directly, the other
// formats converted back to .docx by LibreOffice) and checked for one picture per pasted slide, page
// breaks between slides in one document, the notes text in slide order, and the slide's page size.
// One control (with OptimizeForSpeed) serves the suite, so the office starts once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

#if defined(QUORVANE_ENGINE_LIBREOFFICE)

#include "common/text.hpp"
#include "engines/libreoffice/renderer.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/package.hpp"
#include "engines/word/engine.hpp"
#include "office/object_model.hpp"
#include "quorvane/control.hpp"
#include "support/fixtures.hpp"

namespace {

namespace fs = std::filesystem;
namespace builder = quorvane::engines::pptx::builder;
namespace text = quorvane::text;
using quorvane::QuorvaneX;

const fs::path kCorpus = QUORVANE_CORPUS_DIR;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A document as it reads back.
struct Reopened {
  int pictures = 0;
  int pageBreaks = 0;
  std::string text;  // paragraphs, each followed by "\n"
  double pageWidth = 0, pageHeight = 0;  // points
};

Reopened FromDocx(const fs::path& docx) {
  const auto package = quorvane::engines::pptx::Package::Open(docx.string());
  pugi::xml_document xml;
  EXPECT_TRUE(xml.load_string(package->ReadPart("/word/document.xml").c_str())) << docx;
  Reopened r;
  r.pictures = static_cast<int>(xml.select_nodes("//pic:pic").size());
  r.pageBreaks = static_cast<int>(xml.select_nodes("//w:br[@w:type='page']").size() +
                                  xml.select_nodes("//w:pageBreakBefore[not(@w:val='false') and not(@w:val='0')]").size());
  for (const auto& p : xml.select_nodes("//w:body/w:p")) {
    for (const auto& t : p.node().select_nodes(".//w:t|.//w:br[not(@w:type)]"))
      r.text += std::string(t.node().name()) == "w:br" ? "\n" : t.node().text().get();
    r.text += '\n';
  }
  const auto size = xml.select_node("//w:body/w:sectPr/w:pgSz").node();
  r.pageWidth = size.attribute("w:w").as_double() / 20;
  r.pageHeight = size.attribute("w:h").as_double() / 20;
  return r;
}

std::size_t Count(const std::string& haystack, const std::string& needle) {
  std::size_t n = 0;
  for (auto at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
  return n;
}

// The web page as written: <img> elements, CSS page breaks, paragraph texts, the @page size.
Reopened FromHtml(const fs::path& htm) {
  const std::string html = ReadAll(htm);
  Reopened r;
  r.pictures = static_cast<int>(Count(html, "<img "));
  r.pageBreaks = static_cast<int>(Count(html, "page-break-before: always"));
  for (auto at = html.find("<p>"); at != std::string::npos; at = html.find("<p>", at + 1)) {
    std::string p = html.substr(at + 3, html.find("</p>", at) - at - 3);
    std::string plain;
    bool inTag = false;
    for (std::size_t i = 0; i < p.size(); ++i) {
      if (p.compare(i, 4, "<br>") == 0) plain += '\n';
      if (p[i] == '<') inTag = true;
      if (!inTag) plain += p[i];
      if (p[i] == '>') inTag = false;
    }
    r.text += plain + '\n';
  }
  const auto size = html.find("size: ");
  if (size != std::string::npos) std::sscanf(html.c_str() + size, "size: %lfpt %lfpt", &r.pageWidth, &r.pageHeight);
  // Every picture is in the folder beside the page.
  for (int i = 1; i <= r.pictures; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "image%03d.png", i);
    EXPECT_TRUE(fs::exists(htm.parent_path() / (htm.stem().string() + "_files") / name)) << htm << " " << name;
  }
  return r;
}

// The speaker notes of each slide as the conversion reads them (the texts of the notes page's
// placeholders that have a text frame), in slide order, with line ends as "\n".
std::vector<std::vector<std::string>> NotesOf(const fs::path& deck) {
  auto app = quorvane::engines::pptx::CreateApplication();
  auto presentation = app->Presentations()->Open(text::FromUtf8(deck.string()), -1, -1, 0);
  std::vector<std::vector<std::string>> notes;
  for (int i = 1; i <= presentation->Slides()->Count(); ++i) {
    auto& slide = notes.emplace_back();
    auto shapes = presentation->Slides()->Item(i)->NotesPage()->Shapes();
    for (int j = 1; j <= shapes->Placeholders()->Count(); ++j) {
      if (!shapes->Item(j)->HasTextFrame()) continue;
      std::string t = text::ToUtf8(shapes->Placeholders()->Item(j)->TextFrame()->TextRange()->Text());
      for (char& c : t)
        if (c == '\r' || c == '\v') c = '\n';
      if (!t.empty()) slide.push_back(t);
    }
  }
  app->Quit();
  return notes;
}

// Whether every text of `expected` occurs in `text`, in order; else the first one missing.
std::string MissingInOrder(const std::string& text, const std::vector<std::string>& expected) {
  std::size_t at = 0;
  for (const auto& e : expected) {
    const auto found = text.find(e, at);
    if (found == std::string::npos) return e;
    at = found + e.size();
  }
  return {};
}

class WordConversion : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!quorvane::engines::word::OfficeAvailable()) return;
    folder_ = new fs::path(fs::temp_directory_path() / ("quorvane-word-test-" + std::to_string(getpid())));
    fs::create_directories(*folder_);
    control_ = new QuorvaneX();
    control_->put_OptimizeForSpeed(quorvane::kVariantTrue);
    lease_ = new quorvane::engines::libreoffice::RendererLease(quorvane::engines::libreoffice::Renderer::Acquire());
  }
  static void TearDownTestSuite() {
    delete lease_;
    lease_ = nullptr;
    delete control_;
    control_ = nullptr;
    if (folder_) fs::remove_all(*folder_);
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    if (!control_) GTEST_SKIP() << "no office: the component is built without the renderer or LibreOffice is missing";
  }

  using Options = quorvane::testing::ConvertOptions;

  static std::int32_t Convert(const fs::path& input, const fs::path& output, std::int32_t code, Options o) {
    return quorvane::testing::ConvertWith(*control_, input, output, code, o);
  }

  // Reads a document back: HTML and .docx directly, anything else converted to .docx first.
  static Reopened Reopen(const fs::path& path) {
    std::string ext = path.extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".htm") return FromHtml(path);
    if (ext == ".docx") return FromDocx(path);
    const fs::path docx = path.string() + ".back.docx";
    lease_->ConvertDocument(path.string(), docx.string(), "MS Word 2007 XML");
    return FromDocx(docx);
  }

  static fs::path* folder_;
  static QuorvaneX* control_;
  static quorvane::engines::libreoffice::RendererLease* lease_;
};

fs::path* WordConversion::folder_ = nullptr;
QuorvaneX* WordConversion::control_ = nullptr;
quorvane::engines::libreoffice::RendererLease* WordConversion::lease_ = nullptr;

// Codes 101, 106 and 108, one document and one per slide, slides, slides with notes, notes only.
TEST_F(WordConversion, DocumentsHoldOnePicturePerSlideBreaksAndNotesInOrder) {
  struct Deck {
    const char* path;
    int slides;
    double width, height;  // points
  };
  const Deck decks[] = {
      {"poi/SampleShow.pptx", 2, 720, 540},
      {"docling/powerpoint_sample.pptx", 3, 960, 540},
  };
  struct Code {
    std::int32_t code;
    const char* extension;  // of the files written per slide
  };
  const Code codes[] = {{101, "DOC"}, {106, "RTF"}, {108, "HTM"}};
  struct Content {
    const char* name;
    Options options;
    bool pictures, notes;
  };
  const Content contents[] = {
      {"slides", {}, true, false},
      {"slides+notes", {.notes = true}, true, true},
      {"notes-only", {.notes = true, .notesOnly = true}, false, true},
  };

  for (const auto& deck : decks) {
    const fs::path input = kCorpus / deck.path;
    if (!fs::exists(input)) GTEST_SKIP() << "corpus missing: " << input;
    const auto notes = NotesOf(input);
    ASSERT_EQ(static_cast<int>(notes.size()), deck.slides);
    for (const auto& code : codes) {
      for (const auto& content : contents) {
        for (const bool multi : {false, true}) {
          const std::string name = fs::path(deck.path).stem().string() + "-" + std::to_string(code.code) + "-" +
                                   content.name + (multi ? "-multi" : "");
          SCOPED_TRACE(name);
          const fs::path out = *folder_ / (name + "." + code.extension);
          Options options = content.options;
          options.multi = multi;
          ASSERT_EQ(Convert(input, out, code.code, options), 0) << text::ToUtf8(control_->get_ErrorString());
          if (!multi) {
            const Reopened doc = Reopen(out);
            EXPECT_EQ(doc.pictures, content.pictures ? deck.slides : 0);
            EXPECT_EQ(doc.pageBreaks, content.pictures ? deck.slides - 1 : 0);
            std::vector<std::string> all;
            for (const auto& slide : notes) all.insert(all.end(), slide.begin(), slide.end());
            if (content.notes) {
              EXPECT_EQ(MissingInOrder(doc.text, all), "");
            } else {
              for (const auto& t : all) EXPECT_EQ(doc.text.find(t), std::string::npos) << t;
            }
            EXPECT_NEAR(doc.pageWidth, deck.width, 0.5);
            EXPECT_NEAR(doc.pageHeight, deck.height, 0.5);
            continue;
          }
          const std::string base = (*folder_ / name).string();
          for (int i = 1; i <= deck.slides; ++i) {
            const fs::path file = base + "_Slide" + std::to_string(i) + "." + code.extension;
            ASSERT_TRUE(fs::exists(file)) << file;
            const Reopened doc = Reopen(file);
            EXPECT_EQ(doc.pictures, content.pictures ? 1 : 0) << file;
            EXPECT_EQ(doc.pageBreaks, 0) << file;
            if (content.notes) {
              EXPECT_EQ(MissingInOrder(doc.text, notes[i - 1]), "") << file;
            }
            EXPECT_NEAR(doc.pageWidth, deck.width, 0.5) << file;
          }
          EXPECT_FALSE(fs::exists(base + "_Slide" + std::to_string(deck.slides + 1) + "." + code.extension));
        }
      }
    }
  }
}

// Word's format numbers 12, 16 (.docx), 17 (PDF) and 23 (.odt), reached through codes 112, 116,
// 117 and 123.
// Notes pages where a plain text box (here the slide number, drawn as a box) stands in front of the
// slide picture and the notes body: the placeholders' texts are taken, the box is not one of them,
// and the conversion goes through.
TEST_F(WordConversion, NotesPagesWithOtherShapesInFrontOfThePlaceholders) {
  const fs::path deck = fs::path(QUORVANE_CORPUS_DIR) / "poi/aascu.org_hbcu_leadershipsummit_cooper_.pptx";
  if (!fs::exists(deck)) GTEST_SKIP() << "corpus deck missing: " << deck;
  const fs::path out = *folder_ / "boxes-in-front.htm";
  ASSERT_EQ(Convert(deck, out, 108, {.notes = true, .notesOnly = true}), 0);
  // Only slides 1, 3 and 11 carry their number as a placeholder; their notes bodies are empty.
  EXPECT_EQ(Reopen(out).text, "\n1\n3\n11\n");
}

TEST_F(WordConversion, DocxPdfAndOdtThroughTheirCodes) {
  const fs::path input = kCorpus / "poi/SampleShow.pptx";
  if (!fs::exists(input)) GTEST_SKIP() << "corpus missing: " << input;
  struct Row {
    std::int32_t code;
    const char* name;
    std::string magic;
  };
  const Row rows[] = {
      {112, "out.docx", "PK\x03\x04"},
      {116, "default.docx", "PK\x03\x04"},
      {117, "out.pdf", "%PDF"},
      {123, "out.odt", "PK\x03\x04"},
  };
  for (const auto& row : rows) {
    const fs::path out = *folder_ / row.name;
    ASSERT_EQ(Convert(input, out, row.code, {}), 0) << row.name;
    EXPECT_EQ(ReadAll(out).substr(0, row.magic.size()), row.magic) << row.name;
    if (row.code == 117) {
      // One page per slide, each the slide's size: the picture fits its page.
      FILE* pipe = popen(("pdfinfo '" + out.string() + "' 2>/dev/null").c_str(), "r");
      ASSERT_NE(pipe, nullptr);
      std::string info;
      char buffer[256];
      while (fgets(buffer, sizeof buffer, pipe)) info += buffer;
      pclose(pipe);
      EXPECT_NE(info.find("Pages:           2\n"), std::string::npos) << info;
      EXPECT_NE(info.find("Page size:       720 x 540 pts"), std::string::npos) << info;
      continue;
    }
    const Reopened doc = Reopen(out);
    EXPECT_EQ(doc.pictures, 2) << row.name;
    EXPECT_EQ(doc.pageBreaks, 1) << row.name;
    EXPECT_NEAR(doc.pageWidth, 720, 0.5) << row.name;
    EXPECT_NEAR(doc.pageHeight, 540, 0.5) << row.name;
  }
  // The .docx carries the slides as metafiles (vectors).
  const auto package = quorvane::engines::pptx::Package::Open((*folder_ / "out.docx").string());
  EXPECT_EQ(package->ContentType("/word/media/image1.emf"), "image/x-emf");
}

// A slide whose metafile would be huge (this deck's slides draw as about 70 MB each) is pasted as a
// picture instead: the document and the temporary space stay small.
TEST_F(WordConversion, SlidesWithHugeMetafilesArePastedAsPictures) {
  const fs::path deck = fs::path(QUORVANE_CORPUS_DIR) / "odftoolkit/Presentation5.odp";
  if (!fs::exists(deck)) GTEST_SKIP() << "corpus deck missing: " << deck;
  const fs::path out = *folder_ / "huge-metafiles.docx";
  ASSERT_EQ(Convert(deck, out, 112, {.start = 2, .end = 3}), 0);
  EXPECT_EQ(Reopen(out).pictures, 2);
  const auto package = quorvane::engines::pptx::Package::Open(out.string());
  for (const char* part : {"/word/media/image1.png", "/word/media/image2.png"}) {
    EXPECT_EQ(package->ContentType(part), "image/png") << part;
    EXPECT_TRUE(package->ReadPart(part).starts_with("\x89PNG")) << part;
  }
  EXPECT_LT(fs::file_size(out), 4u << 20);
}

// Fifty slides with notes stay small as RTF: the pictures are metafiles, not page-sized bitmaps.
TEST_F(WordConversion, FiftySlideRtfStaysUnderTenMegabytes) {
  const fs::path deck = *folder_ / "fifty.pptx";
  builder::Write(builder::Generated(50), deck.string());
  const fs::path out = *folder_ / "fifty.rtf";
  ASSERT_EQ(Convert(deck, out, 106, {.notes = true}), 0) << text::ToUtf8(control_->get_ErrorString());
  EXPECT_LT(fs::file_size(out), 10u << 20);
  const Reopened doc = Reopen(out);
  EXPECT_EQ(doc.pictures, 50);
  EXPECT_EQ(doc.pageBreaks, 49);
}

// A slide copied from a presentation that has since closed is drawn from its snapshot.
TEST_F(WordConversion, PasteAfterThePresentationClosed) {
  const fs::path deck = *folder_ / "closed.pptx";
  builder::Write(builder::Sample(), deck.string());
  auto powerpoint = quorvane::engines::pptx::CreateApplication();
  auto word = quorvane::engines::word::CreateApplication();
  auto presentation = powerpoint->Presentations()->Open(text::FromUtf8(deck.string()), -1, -1, 0);
  auto document = word->Documents()->Add();
  presentation->Slides()->Item(2)->Copy();
  word->Selection()->Paste();
  presentation->Slides()->Item(1)->Copy();
  presentation->Close();
  word->Selection()->InsertBreak(quorvane::office::word::kPageBreak);
  word->Selection()->Paste();
  const fs::path out = *folder_ / "closed.docx";
  document->SaveAs(text::FromUtf8(out.string()), 12);
  const Reopened doc = FromDocx(out);
  EXPECT_EQ(doc.pictures, 2);
  const auto package = quorvane::engines::pptx::Package::Open(out.string());
  EXPECT_GT(package->ReadPart("/word/media/image1.emf").size(), 1000u);
  EXPECT_GT(package->ReadPart("/word/media/image2.emf").size(), 1000u);
  word->Quit(false);
  powerpoint->Quit();
}

}  // namespace

#endif  // QUORVANE_ENGINE_LIBREOFFICE
