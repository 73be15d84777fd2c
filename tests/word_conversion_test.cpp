// Conversion through Word with the engines of this platform: decks with notes converted by the control
// into documents, which are then reopened (the .docx and HTML read directly, the other formats
// converted back to .docx by the office) and checked for one picture per pasted slide, page breaks
// between slides in one document, the notes text in slide order, and the slide's page size. One
// control (with OptimizeForSpeed) serves the suite, so the office starts once.
#if defined(QUORVANE_ENGINE_LIBREOFFICE)

#include <gtest/gtest.h>

#include <cstdio>
#include <pugixml.hpp>

#include "engines/libreoffice/renderer.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/package.hpp"
#include "engines/word/engine.hpp"
#include "support/fixtures.hpp"

namespace {

namespace fs = std::filesystem;
namespace builder = quorvane::engines::pptx::builder;
namespace text = quorvane::text;
using quorvane::engines::pptx::Package;
using quorvane::testing::ReadFile;
using Options = quorvane::testing::ConvertOptions;

// A document as it reads back.
struct Reopened { int pictures = 0; int pageBreaks = 0; std::string text; double pageWidth = 0, pageHeight = 0; };

Reopened FromDocx(const fs::path& docx) {
  pugi::xml_document xml;
  EXPECT_TRUE(xml.load_string(Package::Open(docx.string())->ReadPart("/word/document.xml").c_str())) << docx;
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

// The web page as written: <img> elements (each picture in the folder beside the page), CSS page
// breaks, paragraph texts, the @page size.
Reopened FromHtml(const fs::path& htm) {
  const std::string html = ReadFile(htm);
  Reopened r;
  for (auto at = html.find("<img "); at != std::string::npos; at = html.find("<img ", at + 1)) {
    char name[32];
    std::snprintf(name, sizeof name, "image%03d.png", ++r.pictures);
    EXPECT_TRUE(fs::exists(htm.parent_path() / (htm.stem().string() + "_files") / name)) << htm << " " << name;
  }
  for (auto at = html.find("page-break-before: always"); at != std::string::npos; at = html.find("page-break-before: always", at + 1))
    ++r.pageBreaks;
  for (auto at = html.find("<p>"); at != std::string::npos; at = html.find("<p>", at + 1)) {
    bool inTag = false;
    for (std::size_t i = at + 3; i < html.find("</p>", at); ++i) {
      if (html.compare(i, 4, "<br>") == 0) r.text += '\n';
      inTag = inTag ? html[i] != '>' : html[i] == '<';
      if (!inTag && html[i] != '>') r.text += html[i];
    }
    r.text += '\n';
  }
  if (const auto size = html.find("size: "); size != std::string::npos)
    std::sscanf(html.c_str() + size, "size: %lfpt %lfpt", &r.pageWidth, &r.pageHeight);
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
      for (char& c : t) c = c == '\r' || c == '\v' ? '\n' : c;
      if (!t.empty()) slide.push_back(t);
    }
  }
  app->Quit();
  return notes;
}

// "" when every text of `expected` occurs in `text` in order; else the first one missing.
std::string MissingInOrder(const std::string& text, const std::vector<std::string>& expected) {
  std::size_t at = 0;
  for (const auto& e : expected) {
    if ((at = text.find(e, at)) == std::string::npos) return e;
    at += e.size();
  }
  return {};
}

class WordConversion : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!quorvane::engines::word::OfficeAvailable()) return;
    folder_ = std::make_unique<quorvane::testing::TempFolder>();
    control_ = std::make_unique<quorvane::QuorvaneX>();
    control_->put_OptimizeForSpeed(quorvane::kVariantTrue);
    lease_ = std::make_unique<quorvane::engines::libreoffice::RendererLease>(
        quorvane::engines::libreoffice::Renderer::Acquire());
  }
  static void TearDownTestSuite() { lease_.reset(), control_.reset(), folder_.reset(); }
  void SetUp() override {
    if (!control_) GTEST_SKIP() << "no office: the component is built without the renderer or LibreOffice is missing";
  }
  static std::int32_t Convert(const fs::path& input, const fs::path& output, std::int32_t code, Options o = {}) {
    return quorvane::testing::ConvertWith(*control_, input, output, code, o);
  }
  // Reads a document back: HTML and .docx directly, anything else converted to .docx first.
  static Reopened Reopen(const fs::path& path) {
    const std::string ext = path.extension().string();
    if (ext == ".HTM" || ext == ".htm") return FromHtml(path);
    if (ext == ".docx") return FromDocx(path);
    lease_->ConvertDocument(path.string(), path.string() + ".back.docx", "MS Word 2007 XML");
    return FromDocx(path.string() + ".back.docx");
  }
  static fs::path At(const std::string& name) { return *folder_ / name; }

  static inline std::unique_ptr<quorvane::testing::TempFolder> folder_;
  static inline std::unique_ptr<quorvane::QuorvaneX> control_;
  static inline std::unique_ptr<quorvane::engines::libreoffice::RendererLease> lease_;
};

// Codes 101, 106 and 108, one document and one per slide, slides, slides with notes, notes only.
TEST_F(WordConversion, DocumentsHoldOnePicturePerSlideBreaksAndNotesInOrder) {
  QUORVANE_NEEDS_CORPUS();
  struct Deck { const char* path; int slides; double width, height; };
  struct Content { const char* name; Options options; bool pictures, notes; };
  const Content contents[] = {
      {"slides", {}, true, false}, {"slides+notes", {.notes = true}, true, true},
      {"notes-only", {.notes = true, .notesOnly = true}, false, true},
  };
  for (const Deck& deck : {Deck{"poi/SampleShow.pptx", 2, 720, 540}, Deck{"docling/powerpoint_sample.pptx", 3, 960, 540}}) {
    const fs::path input = quorvane::testing::CorpusDir() / deck.path;
    const auto notes = NotesOf(input);
    ASSERT_EQ(static_cast<int>(notes.size()), deck.slides);
    std::vector<std::string> all;
    for (const auto& slide : notes) all.insert(all.end(), slide.begin(), slide.end());
    const std::pair<std::int32_t, std::string> codes[] = {{101, "DOC"}, {106, "RTF"}, {108, "HTM"}};
    for (const auto& [code, extension] : codes) {
      for (const auto& content : contents) {
        for (const bool multi : {false, true}) {
          const std::string name = fs::path(deck.path).stem().string() + "-" + std::to_string(code) + "-" +
                                   content.name + (multi ? "-multi" : "");
          SCOPED_TRACE(name);
          Options options = content.options;
          options.multi = multi;
          ASSERT_EQ(Convert(input, At(name + "." + extension), code, options), 0)
              << text::ToUtf8(control_->get_ErrorString());
          if (!multi) {
            const Reopened doc = Reopen(At(name + "." + extension));
            EXPECT_EQ(doc.pictures, content.pictures ? deck.slides : 0);
            EXPECT_EQ(doc.pageBreaks, content.pictures ? deck.slides - 1 : 0);
            if (content.notes) { EXPECT_EQ(MissingInOrder(doc.text, all), ""); }
            else { for (const auto& t : all) EXPECT_EQ(doc.text.find(t), std::string::npos) << t; }
            EXPECT_NEAR(doc.pageWidth, deck.width, 0.5);
            EXPECT_NEAR(doc.pageHeight, deck.height, 0.5);
            continue;
          }
          for (int i = 1; i <= deck.slides + 1; ++i) {
            const fs::path file = At(name + "_Slide" + std::to_string(i) + "." + extension);
            ASSERT_EQ(fs::exists(file), i <= deck.slides) << file;
            if (i > deck.slides) break;
            const Reopened doc = Reopen(file);
            EXPECT_EQ(doc.pictures, content.pictures ? 1 : 0) << file;
            EXPECT_EQ(doc.pageBreaks, 0) << file;
            if (content.notes) { EXPECT_EQ(MissingInOrder(doc.text, notes[i - 1]), "") << file; }
            EXPECT_NEAR(doc.pageWidth, deck.width, 0.5) << file;
          }
        }
      }
    }
  }
}

// Word's format numbers 12, 16 (.docx), 17 (PDF) and 23 (.odt), reached through codes 112, 116, 117
// and 123; notes pages where a plain text box stands in front of the placeholders.
TEST_F(WordConversion, DocxPdfAndOdtThroughTheirCodes) {
  QUORVANE_NEEDS_CORPUS();
  const fs::path input = quorvane::testing::CorpusDir() / "poi/SampleShow.pptx";
  const std::pair<std::int32_t, const char*> rows[] = {{112, "out.docx"}, {116, "default.docx"}, {123, "out.odt"}};
  for (const auto& [code, name] : rows) {
    ASSERT_EQ(Convert(input, At(name), code), 0) << name;
    EXPECT_EQ(ReadFile(At(name)).substr(0, 4), "PK\x03\x04") << name;
    const Reopened doc = Reopen(At(name));
    EXPECT_EQ(doc.pictures, 2) << name;
    EXPECT_EQ(doc.pageBreaks, 1) << name;
    EXPECT_NEAR(doc.pageWidth, 720, 0.5) << name;
    EXPECT_NEAR(doc.pageHeight, 540, 0.5) << name;
  }
  EXPECT_EQ(Package::Open(At("out.docx").string())->ContentType("/word/media/image1.emf"), "image/x-emf")
      << "the slides as metafiles (vectors)";
  // One page per slide, each the slide's size: the picture fits its page.
  ASSERT_EQ(Convert(input, At("out.pdf"), 117), 0);
  EXPECT_EQ(quorvane::testing::PdfPageCount(At("out.pdf")), 2);
  EXPECT_NE(quorvane::testing::CommandOutput("pdfinfo '" + At("out.pdf").string() + "'").find("720 x 540 pts"),
            std::string::npos);

  // The slide number drawn as a plain box in front of the slide picture and the notes body: the
  // placeholders' texts are taken, the box is none of them. Only slides 1, 3 and 11 carry their
  // number as a placeholder; their notes bodies are empty.
  const fs::path boxes = quorvane::testing::CorpusDir() / "poi/aascu.org_hbcu_leadershipsummit_cooper_.pptx";
  ASSERT_EQ(Convert(boxes, At("boxes.htm"), 108, {.notes = true, .notesOnly = true}), 0);
  EXPECT_EQ(Reopen(At("boxes.htm")).text, "\n1\n3\n11\n");
}

// A slide whose metafile would be huge (a large bitmap on it) is pasted as a PNG picture instead,
// while the others stay metafiles: the document and the temporary space stay small. Fifty slides
// with notes stay small as RTF: their pictures are metafiles, not page-sized bitmaps.
TEST_F(WordConversion, PicturesStaySmall) {
  builder::DeckPlan plan;
  plan.slides.resize(2);
  plan.slides[0].shapes = {builder::Picture()};
  plan.slides[1].shapes = {builder::Title(u"small")};
  const auto package = builder::Build(plan);
  // A 1600 x 1200 bitmap of 24-bit pixels: about 5.8 MB drawn into a metafile.
  const std::int32_t w = 1600, h = 1200;
  std::string bmp = "BM" + std::string(52, '\0');
  const auto put = [&](std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) bmp[at + i] = static_cast<char>(v >> (8 * i));
  };
  for (const auto& [at, value] : {std::pair<std::size_t, std::uint32_t>{2, 54 + w * h * 3}, {10, 54}, {14, 40}, {18, w},
                                  {22, h}, {26, 1 | (24 << 16)}})
    put(at, value);
  for (std::int32_t y = 0; y < h; ++y)
    for (std::int32_t x = 0; x < w * 3; ++x) bmp += static_cast<char>((x * 7 + y * 13 + (x * y) % 251) & 0xFF);
  for (const std::string& part : package->PartNames())
    if (part.starts_with("/ppt/media/")) package->SetPart(part, bmp, "image/bmp");
  package->Save(At("huge.pptx").string());
  ASSERT_EQ(Convert(At("huge.pptx"), At("huge.docx"), 112), 0);
  EXPECT_EQ(Reopen(At("huge.docx")).pictures, 2);
  const auto docx = Package::Open(At("huge.docx").string());
  EXPECT_TRUE(docx->ReadPart("/word/media/image1.png").starts_with("\x89PNG"));
  EXPECT_EQ(docx->ContentType("/word/media/image2.emf"), "image/x-emf");
  EXPECT_LT(fs::file_size(At("huge.docx")), 4u << 20);

  builder::Write(builder::Generated(50), At("fifty.pptx").string());
  ASSERT_EQ(Convert(At("fifty.pptx"), At("fifty.rtf"), 106, {.notes = true}), 0) << text::ToUtf8(control_->get_ErrorString());
  EXPECT_LT(fs::file_size(At("fifty.rtf")), 10u << 20);
  const Reopened doc = Reopen(At("fifty.rtf"));
  EXPECT_EQ(doc.pictures, 50);
  EXPECT_EQ(doc.pageBreaks, 49);
}

// A slide copied from a presentation that has since closed is drawn from its snapshot.
TEST_F(WordConversion, PasteAfterThePresentationClosed) {
  builder::Write(builder::Sample(), At("closed.pptx").string());
  auto powerpoint = quorvane::engines::pptx::CreateApplication();
  auto word = quorvane::engines::word::CreateApplication();
  auto presentation = powerpoint->Presentations()->Open(text::FromUtf8(At("closed.pptx").string()), -1, -1, 0);
  auto document = word->Documents()->Add();
  presentation->Slides()->Item(2)->Copy();
  word->Selection()->Paste();
  presentation->Slides()->Item(1)->Copy();
  presentation->Close();
  word->Selection()->InsertBreak(quorvane::office::word::kPageBreak);
  word->Selection()->Paste();
  document->SaveAs(text::FromUtf8(At("closed.docx").string()), 12);
  EXPECT_EQ(FromDocx(At("closed.docx")).pictures, 2);
  const auto package = Package::Open(At("closed.docx").string());
  EXPECT_GT(package->ReadPart("/word/media/image1.emf").size(), 1000u);
  EXPECT_GT(package->ReadPart("/word/media/image2.emf").size(), 1000u);
  word->Quit(false);
  powerpoint->Quit();
}

}  // namespace

#endif  // QUORVANE_ENGINE_LIBREOFFICE
