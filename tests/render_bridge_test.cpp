// The native engine answering through the renderer: saving PDF and legacy formats, slide pictures
// and opening legacy presentations, driven through the control as a host drives it. One control
// (with OptimizeForSpeed) serves every conversion of the suite, so the office starts once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/render_bridge.hpp"
#include "office/object_model.hpp"
#include "quorvane/automation_error.hpp"
#include "quorvane/control.hpp"
#include "support/fixtures.hpp"

namespace {

using quorvane::AutomationError;
using quorvane::QuorvaneX;
namespace fs = std::filesystem;
namespace builder = quorvane::engines::pptx::builder;
namespace text = quorvane::text;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The page count pdfinfo reports, or -1.
int PdfPages(const fs::path& pdf) {
  const std::string command = "pdfinfo '" + pdf.string() + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::string out;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
  pclose(pipe);
  const auto at = out.find("Pages:");
  return at == std::string::npos ? -1 : std::stoi(out.substr(at + 6));
}

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

class RenderBridge : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!quorvane::engines::render_bridge::RendererBuiltIn() || access("/usr/bin/soffice", X_OK) != 0) return;
    folder_ = new fs::path(fs::temp_directory_path() / ("quorvane-bridge-test-" + std::to_string(getpid())));
    fs::create_directories(*folder_);
    plan_ = new builder::DeckPlan(builder::Sample());
    builder::Write(*plan_, (*folder_ / "deck.pptx").string());
    control_ = new QuorvaneX();
    control_->put_OptimizeForSpeed(quorvane::kVariantTrue);
  }
  static void TearDownTestSuite() {
    delete control_;  // quits the application: the office ends with its lease
    control_ = nullptr;
    delete plan_;
    plan_ = nullptr;
    if (folder_) fs::remove_all(*folder_);
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    if (!control_) GTEST_SKIP() << "no renderer: the component is built without it or soffice is not installed";
  }

  static std::int32_t Convert(const fs::path& input, const fs::path& output, std::int32_t code, std::int32_t start = 1,
                              std::int32_t end = 9999) {
    return quorvane::testing::ConvertWith(*control_, input, output, code, {.start = start, .end = end});
  }
  // Slides of the sample from `first` to `last` that are not hidden.
  static int VisibleSlides(std::size_t first, std::size_t last) {
    int n = 0;
    for (std::size_t i = first; i <= last; ++i) n += plan_->slides[i - 1].hidden ? 0 : 1;
    return n;
  }
  static fs::path Deck() { return *folder_ / "deck.pptx"; }

  static fs::path* folder_;
  static builder::DeckPlan* plan_;
  static QuorvaneX* control_;
};

fs::path* RenderBridge::folder_ = nullptr;
builder::DeckPlan* RenderBridge::plan_ = nullptr;
QuorvaneX* RenderBridge::control_ = nullptr;

// PDF leaves hidden slides out; legacy and OpenDocument saves reopen through the renderer and read
// back the sample's text.
TEST_F(RenderBridge, SaveAsFormatsTheEngineDoesNotWrite) {
  const std::size_t count = plan_->slides.size();
  ASSERT_EQ(count, 4u);
  ASSERT_LT(VisibleSlides(1, count), static_cast<int>(count)) << "the sample should hold a hidden slide";
  struct Row {
    const char* name;
    std::int32_t code;
    std::int32_t start, end;
    int pages;          // PDF: expected page count; else -1 (reopened as text instead)
    std::string magic;  // the output's first bytes
  };
  const Row rows[] = {
      {"whole.pdf", 32, 1, 9999, VisibleSlides(1, count), "%PDF"},
      {"range.pdf", 32, 2, 3, VisibleSlides(2, 3), "%PDF"},
      {"legacy.ppt", 1, 1, 9999, -1, "\xD0\xCF\x11\xE0"},
      {"open.odp", 35, 1, 9999, -1, "PK\x03\x04"},
  };
  for (const auto& row : rows) {
    const fs::path out = *folder_ / row.name;
    ASSERT_EQ(Convert(Deck(), out, row.code, row.start, row.end), 0) << row.name;
    ASSERT_TRUE(fs::exists(out)) << row.name;
    EXPECT_EQ(ReadAll(out).substr(0, row.magic.size()), row.magic) << row.name;
    if (row.pages >= 0) {
      EXPECT_EQ(PdfPages(out), row.pages) << row.name;
      continue;
    }
    const fs::path back = *folder_ / (std::string(row.name) + ".txt");
    ASSERT_EQ(Convert(out, back, 200), 0) << row.name << " does not reopen";
    EXPECT_GT(ReadAll(back).size(), 20u) << row.name << " reads back without text";
  }
}

// Formats the renderer does not serve yet keep failing as a save the engine refuses.
TEST_F(RenderBridge, UnservedSaveFormatsStillFail) {
  for (const std::int32_t code : {2, 33, 37}) EXPECT_EQ(Convert(Deck(), *folder_ / "unserved.out", code), -16) << code;
}

// Pictures: one per slide (hidden ones too) at 96 dots per inch, and GIF as GIF.
TEST_F(RenderBridge, SlidePicturesThroughTheRenderer) {
  const fs::path base = *folder_ / "pic";
  ASSERT_EQ(Convert(Deck(), base, 18), 0);
  const auto expectedWidth = static_cast<std::uint32_t>(plan_->slideWidthEmu / 9525);
  const auto expectedHeight = static_cast<std::uint32_t>(plan_->slideHeightEmu / 9525);
  for (std::size_t i = 1; i <= plan_->slides.size(); ++i) {
    const std::string png = ReadAll(base.string() + "Slide" + std::to_string(i) + ".PNG");
    ASSERT_GE(png.size(), 24u) << "slide " << i;
    EXPECT_EQ(png.substr(1, 3), "PNG") << "slide " << i;
    EXPECT_NEAR(BigEndian32(png, 16), expectedWidth, 1) << "slide " << i;
    EXPECT_NEAR(BigEndian32(png, 20), expectedHeight, 1) << "slide " << i;
  }
  ASSERT_EQ(Convert(Deck(), *folder_ / "gif", 16, 2, 2), 0);
  EXPECT_EQ(ReadAll(folder_->string() + "/gifSlide2.GIF").substr(0, 4), "GIF8");
}

// The engine's own refusals come before the office: an unknown picture filter, an empty legacy file.
TEST_F(RenderBridge, RefusalsBeforeTheOffice) {
  auto app = quorvane::engines::pptx::CreateApplication();
  auto presentation = app->Presentations()->Open(text::FromUtf8(Deck().string()), -1, 0, 0);
  try {
    presentation->Slides()->Item(1)->Export(text::FromUtf8((*folder_ / "x.xyz").string()), u"XYZ", 0, 0);
    ADD_FAILURE() << "an unknown filter was served";
  } catch (const AutomationError& e) {
    EXPECT_EQ(static_cast<std::uint32_t>(e.number()), 0x80004005u);
  }
  presentation->Close();
  const fs::path empty = *folder_ / "empty.ppt";
  std::ofstream(empty).close();
  EXPECT_FALSE(quorvane::engines::render_bridge::IsForeignPresentation(empty.string()));
  EXPECT_THROW(app->Presentations()->Open(text::FromUtf8(empty.string()), -1, 0, 0), AutomationError);
  app->Quit();
}

// A legacy corpus deck reads as its Office Open XML twin does: every slide title of the twin is in
// the legacy deck's text.
TEST_F(RenderBridge, LegacyDeckReadsLikeItsTwin) {
  const fs::path corpus = QUORVANE_CORPUS_DIR;
  const fs::path legacy = corpus / "poi/SampleShow.ppt";
  const fs::path twin = corpus / "poi/SampleShow.pptx";
  if (!fs::exists(legacy) || !fs::exists(twin)) GTEST_SKIP() << "corpus deck SampleShow missing";
  const fs::path out = *folder_ / "sampleshow.txt";
  ASSERT_EQ(Convert(legacy, out, 200), 0);
  const std::string legacyText = ReadAll(out);

  auto app = quorvane::engines::pptx::CreateApplication();
  auto presentation = app->Presentations()->Open(text::FromUtf8(twin.string()), -1, 0, 0);
  const auto slides = presentation->Slides();
  int titles = 0;
  for (std::int32_t s = 1; s <= slides->Count(); ++s) {
    const auto placeholders = slides->Item(s)->Shapes()->Placeholders();
    for (std::int32_t p = 1; p <= placeholders->Count(); ++p) {
      const auto shape = placeholders->Item(p);
      const std::int32_t type = shape->PlaceholderFormat()->Type();
      if (type != 1 && type != 3) continue;  // title, centred title
      const std::string title = text::ToUtf8(shape->TextFrame()->TextRange()->Text());
      ++titles;
      EXPECT_NE(legacyText.find(title), std::string::npos) << "slide " << s << " title \"" << title << "\"";
    }
  }
  EXPECT_GT(titles, 0);
  app->Quit();
}

// Foreign inputs from the corpus: OpenDocument files open through the renderer, encrypted ones fail
// at once with the renderer's number (never the object model's 0x80048240).
TEST_F(RenderBridge, ForeignCorpusInputs) {
  const fs::path corpus = QUORVANE_CORPUS_DIR;
  struct Row {
    const char* file;
    std::uint32_t number;  // 0: opens
  };
  const Row rows[] = {
      {"docling/odf_presentation_01.odp", 0},
      {"tika/testODPMacro.fodp", 0},
      {"poi/Password_Protected-hello.ppt", 0x80070005u},
      {"openxml-sdk/encrypted_pptx.pptx", 0x80070005u},
  };
  auto app = quorvane::engines::pptx::CreateApplication();
  for (const auto& row : rows) {
    const fs::path file = corpus / row.file;
    if (!fs::exists(file)) continue;
    try {
      auto presentation = app->Presentations()->Open(text::FromUtf8(file.string()), -1, 0, 0);
      EXPECT_EQ(row.number, 0u) << row.file << " opened";
      EXPECT_GT(presentation->Slides()->Count(), 0) << row.file;
      presentation->Close();
    } catch (const AutomationError& e) {
      EXPECT_EQ(static_cast<std::uint32_t>(e.number()), row.number)
          << row.file << ": " << text::ToUtf8(e.description());
    }
  }
  app->Quit();
}

// A converted original is held like any opened file: no save replaces it while it is open. A
// change to the presentation reaches the next picture (the copy the renderer draws is renewed).
TEST_F(RenderBridge, HeldOriginalsAndChangedPresentations) {
  const fs::path legacy = *folder_ / "held.ppt";
  ASSERT_EQ(Convert(Deck(), legacy, 1), 0);
  const std::string before = ReadAll(legacy);
  auto app = quorvane::engines::pptx::CreateApplication();
  auto opened = app->Presentations()->Open(text::FromUtf8(legacy.string()), -1, 0, 0);
  auto other = app->Presentations()->Open(text::FromUtf8(Deck().string()), -1, 0, 0);
  try {
    other->SaveAs(text::FromUtf8(legacy.string()), 1, 0);
    ADD_FAILURE() << "the open original was replaced";
  } catch (const AutomationError& e) {
    EXPECT_EQ(static_cast<std::uint32_t>(e.number()), 0x80048240u);
  }
  EXPECT_EQ(ReadAll(legacy), before);

  const auto pictureWidth = [&](const char* name) {
    const fs::path png = *folder_ / name;
    other->Slides()->Item(1)->Export(text::FromUtf8(png.string()), u"PNG", 0, 0);
    const std::string bytes = ReadAll(png);
    return bytes.size() >= 24 ? BigEndian32(bytes, 16) : 0u;
  };
  const std::uint32_t wide = pictureWidth("before.png");
  other->PageSetup()->put_SlideWidth(other->PageSetup()->SlideWidth() / 2);
  const std::uint32_t narrow = pictureWidth("after.png");
  EXPECT_NEAR(narrow, wide / 2, 1) << "the picture does not show the changed slide size";
  opened->Close();
  other->Close();
  app->Quit();
}

// Slides exported one after another are drawn in one load; each drawn picture is handed out once and
// its file goes, so the drawings kept never outgrow the slides still to come (decks whose slides
// draw as tens of megabytes each would otherwise fill the disk), and exporting a slide again draws it
// again.
TEST_F(RenderBridge, DrawnPicturesAreKeptOnlyUntilExported) {
  const fs::path scratch = *folder_ / "scratch";
  fs::create_directories(scratch);
  const char* previous = std::getenv("TMPDIR");
  const std::string saved = previous ? previous : "";
  ::setenv("TMPDIR", scratch.c_str(), 1);
  const auto drawingsKept = [&] {
    int n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(scratch))
      if (entry.path().filename().string().starts_with("slide")) ++n;
    return n;
  };
  auto app = quorvane::engines::pptx::CreateApplication();
  auto deck = app->Presentations()->Open(text::FromUtf8(Deck().string()), -1, 0, 0);
  const int slides = deck->Slides()->Count();
  ASSERT_GE(slides, 3);
  for (int i = 1; i <= slides; ++i) {
    deck->Slides()->Item(i)->Export(text::FromUtf8((*folder_ / ("kept" + std::to_string(i) + ".png")).string()),
                                    u"PNG", 0, 0);
    EXPECT_EQ(drawingsKept(), slides - i) << "after slide " << i;
  }
  const fs::path again = *folder_ / "again.png";
  deck->Slides()->Item(2)->Export(text::FromUtf8(again.string()), u"PNG", 0, 0);
  EXPECT_EQ(ReadAll(again), ReadAll(*folder_ / "kept2.png"));
  deck->Close();
  app->Quit();
  if (previous) ::setenv("TMPDIR", saved.c_str(), 1); else ::unsetenv("TMPDIR");
}

}  // namespace
