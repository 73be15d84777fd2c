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

// How many times `needle` occurs in `haystack`.
int Count(const std::string& haystack, const std::string& needle) {
  int n = 0;
  for (auto at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
  return n;
}

// The web page as written: <img> elements (the first picture in the folder beside the page), CSS page
// breaks, the page's text, the @page size.
Reopened FromHtml(const fs::path& htm) {
  Reopened r;
  r.text = ReadFile(htm);
  r.pictures = Count(r.text, "<img ");
  r.pageBreaks = Count(r.text, "page-break-before: always");
  EXPECT_EQ(fs::exists(htm.parent_path() / (htm.stem().string() + "_files") / "image001.png"), r.pictures > 0) << htm;
  if (const auto size = r.text.find("size: "); size != std::string::npos)
    std::sscanf(r.text.c_str() + size, "size: %lfpt %lfpt", &r.pageWidth, &r.pageHeight);
  return r;
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

// Codes 101, 106 and 108, one document and one per slide, slides, slides with notes, notes only; and
// codes 112, 116, 117 and 123.
TEST_F(WordConversion, DocumentsHoldOnePicturePerSlideBreaksAndNotesInOrder) {
  QUORVANE_NEEDS_CORPUS();
  const fs::path input = quorvane::testing::CorpusDir() / "poi/SampleShow.pptx";  // 2 slides of 720 x 540
  const std::string notes[] = {"I am the notes of the first slide", "These are the notes of the 2nd slide"};
  struct Content { const char* name; Options options; bool pictures, notes; };
  const Content contents[] = {
      {"slides", {}, true, false}, {"slides+notes", {.notes = true}, true, true},
      {"notes-only", {.notes = true, .notesOnly = true}, false, true},
  };
  // Word's format numbers 12, 16 (.docx) and 23 (.odt) are checked with the slides alone.
  const std::tuple<std::int32_t, std::string, bool> codes[] = {
      {101, "DOC", true}, {106, "RTF", true}, {108, "HTM", true}, {112, "docx", false}, {116, "docx", false}, {123, "odt", false}};
  for (const auto& [code, extension, everyContent] : codes) {
    for (const auto& content : contents) {
      for (const bool multi : {false, true}) {
        if (!everyContent && (multi || content.notes)) continue;
        const std::string name = std::to_string(code) + "-" + content.name + (multi ? "-multi" : "");
        SCOPED_TRACE(name);
        Options options = content.options;
        options.multi = multi;
        ASSERT_EQ(Convert(input, At(name + "." + extension), code, options), 0) << text::ToUtf8(control_->get_ErrorString());
        // one document: both slides; per slide: slide i in name_Slide<i>, and no third
        const int documents = multi ? 3 : 1;
        for (int i = 1; i <= documents; ++i) {
          const fs::path file = At(multi ? name + "_Slide" + std::to_string(i) + "." + extension : name + "." + extension);
          ASSERT_EQ(fs::exists(file), i <= 2) << file;
          if (i > 2) break;
          const Reopened doc = Reopen(file);
          const int slides = multi ? 1 : 2;
          EXPECT_EQ(doc.pictures, content.pictures ? slides : 0) << file;
          EXPECT_EQ(doc.pageBreaks, content.pictures ? slides - 1 : 0) << file;
          const std::size_t first = doc.text.find(notes[multi ? i - 1 : 0]), second = doc.text.find(notes[1]);
          EXPECT_EQ(first != std::string::npos, content.notes) << file;
          if (content.notes && !multi) { EXPECT_TRUE(second != std::string::npos && second > first) << file << ": in order"; }
          EXPECT_NEAR(doc.pageWidth, 720, 0.5) << file;
          EXPECT_NEAR(doc.pageHeight, 540, 0.5) << file;
        }
      }
    }
  }
  // Word's format 17 (PDF), through code 117: one page per slide, each the slide's size.
  ASSERT_EQ(Convert(input, At("out.pdf"), 117), 0);
  EXPECT_EQ(quorvane::testing::PdfPageCount(At("out.pdf")), 2);
  EXPECT_NE(quorvane::testing::CommandOutput("pdfinfo '" + At("out.pdf").string() + "'").find("720 x 540 pts"),
            std::string::npos);
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
