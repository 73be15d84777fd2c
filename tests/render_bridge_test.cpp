// The native engine answering through the renderer: saving PDF and legacy formats, slide pictures
// and opening legacy presentations, driven through the control as a host drives it. One control
// (with OptimizeForSpeed) serves every conversion of the suite, so the office starts once.
#include <gtest/gtest.h>
#include <unistd.h>

#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/render_bridge.hpp"
#include "support/fixtures.hpp"

namespace {

namespace fs = std::filesystem;
namespace builder = quorvane::engines::pptx::builder;
namespace text = quorvane::text;
using quorvane::engines::pptx::CreateApplication;
using quorvane::testing::PngSize;
using quorvane::testing::ReadFile;
using quorvane::testing::ThrownNumber;

class RenderBridge : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!quorvane::engines::render_bridge::RendererBuiltIn() || access("/usr/bin/soffice", X_OK) != 0) return;
    folder_ = new quorvane::testing::TempFolder();
    builder::Write(builder::Sample(), Deck().string());
    control_ = new quorvane::QuorvaneX();
    control_->put_OptimizeForSpeed(quorvane::kVariantTrue);
  }
  static void TearDownTestSuite() {
    delete control_;  // quits the application: the office ends with its lease
    control_ = nullptr;
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    if (!control_) GTEST_SKIP() << "no renderer: the component is built without it or soffice is not installed";
  }
  static std::int32_t Convert(const fs::path& in, const fs::path& out, std::int32_t code, std::int32_t start = 1,
                              std::int32_t end = 9999) {
    return quorvane::testing::ConvertWith(*control_, in, out, code, {.start = start, .end = end});
  }
  static fs::path At(const std::string& name) { return *folder_ / name; }
  static fs::path Deck() { return At("deck.pptx"); }
  static std::shared_ptr<quorvane::office::ppt::Presentation> Open(
      const std::shared_ptr<quorvane::office::ppt::Application>& app, const fs::path& file) {
    return app->Presentations()->Open(text::FromUtf8(file.string()), -1, 0, 0);
  }

  static quorvane::testing::TempFolder* folder_;
  static quorvane::QuorvaneX* control_;
};

quorvane::testing::TempFolder* RenderBridge::folder_ = nullptr;
quorvane::QuorvaneX* RenderBridge::control_ = nullptr;

// PDF leaves hidden slides out (the sample's fourth slide is hidden); legacy and OpenDocument saves
// reopen through the renderer and read back the sample's text; formats the renderer does not serve
// fail as a save the engine refuses.
TEST_F(RenderBridge, SaveAsFormatsTheEngineDoesNotWrite) {
  ASSERT_TRUE(builder::Sample().slides.size() == 4 && builder::Sample().slides[3].hidden);
  struct Row {
    const char* name;
    std::int32_t code, start, end, result;
    int pages;          // PDF: expected page count; else -1 (reopened as text instead)
    std::string magic;  // the output's first bytes
  };
  const Row rows[] = {
      {"whole.pdf", 32, 1, 9999, 0, 3, "%PDF"},       {"range.pdf", 32, 2, 3, 0, 2, "%PDF"},
      {"legacy.ppt", 1, 1, 9999, 0, -1, "\xD0\xCF\x11\xE0"}, {"open.odp", 35, 1, 9999, 0, -1, "PK\x03\x04"},
      {"unserved 2", 2, 1, 9999, -16, -1, ""},       {"unserved 33", 33, 1, 9999, -16, -1, ""},
      {"unserved 37", 37, 1, 9999, -16, -1, ""},
  };
  for (const auto& row : rows) {
    const fs::path out = At(row.name);
    ASSERT_EQ(Convert(Deck(), out, row.code, row.start, row.end), row.result) << row.name;
    if (row.result != 0) continue;
    EXPECT_EQ(ReadFile(out).substr(0, row.magic.size()), row.magic) << row.name;
    if (row.pages >= 0) {
      EXPECT_EQ(quorvane::testing::PdfPageCount(out), row.pages) << row.name;
      continue;
    }
    ASSERT_EQ(Convert(out, At(std::string(row.name) + ".txt"), 200), 0) << row.name << " does not reopen";
    EXPECT_NE(ReadFile(At(std::string(row.name) + ".txt")).find("Every kind of shape"), std::string::npos) << row.name;
  }
}

// Pictures: one per slide (hidden ones too) at 96 dots per inch, and GIF as GIF. The engine's own
// refusals come before the office: an unknown picture filter, an empty legacy file.
TEST_F(RenderBridge, SlidePicturesAndRefusals) {
  ASSERT_EQ(Convert(Deck(), At("pic"), 18), 0);
  const builder::DeckPlan plan = builder::Sample();
  for (std::size_t i = 1; i <= plan.slides.size(); ++i) {
    const auto [width, height] = PngSize(ReadFile(At("picSlide" + std::to_string(i) + ".PNG")));
    EXPECT_NEAR(width, plan.slideWidthEmu / 9525, 1) << "slide " << i;
    EXPECT_NEAR(height, plan.slideHeightEmu / 9525, 1) << "slide " << i;
  }
  ASSERT_EQ(Convert(Deck(), At("gif"), 16, 2, 2), 0);
  EXPECT_EQ(ReadFile(At("gifSlide2.GIF")).substr(0, 4), "GIF8");

  auto app = CreateApplication();
  auto presentation = Open(app, Deck());
  EXPECT_EQ(static_cast<std::uint32_t>(ThrownNumber([&] {
              presentation->Slides()->Item(1)->Export(text::FromUtf8(At("x.xyz").string()), u"XYZ", 0, 0);
            })),
            0x80004005u);
  presentation->Close();
  quorvane::testing::WriteFile(At("empty.ppt"), "");
  EXPECT_FALSE(quorvane::engines::render_bridge::IsForeignPresentation(At("empty.ppt").string()));
  EXPECT_NE(ThrownNumber([&] { Open(app, At("empty.ppt")); }), 0);
  app->Quit();
}

// Foreign corpus inputs: OpenDocument files open through the renderer, encrypted ones fail at once
// with the renderer's number (never the object model's 0x80048240); a legacy deck reads as its
// Office Open XML twin does: every slide title of the twin is in the legacy deck's text.
TEST_F(RenderBridge, ForeignCorpusInputs) {
  QUORVANE_NEEDS_CORPUS();
  const fs::path corpus = quorvane::testing::CorpusDir();
  const std::pair<const char*, std::uint32_t> rows[] = {
      {"docling/odf_presentation_01.odp", 0}, {"tika/testODPMacro.fodp", 0},
      {"poi/Password_Protected-hello.ppt", 0x80070005u}, {"openxml-sdk/encrypted_pptx.pptx", 0x80070005u},
  };
  auto app = CreateApplication();
  for (const auto& [file, number] : rows) {
    std::string description;
    EXPECT_EQ(static_cast<std::uint32_t>(ThrownNumber(
                  [&] {
                    auto presentation = Open(app, corpus / file);
                    EXPECT_GT(presentation->Slides()->Count(), 0) << file;
                    presentation->Close();
                  },
                  &description)),
              number)
        << file << ": " << description;
  }

  ASSERT_EQ(Convert(corpus / "poi/SampleShow.ppt", At("sampleshow.txt"), 200), 0);
  const std::string legacyText = ReadFile(At("sampleshow.txt"));
  const auto twin = Open(app, corpus / "poi/SampleShow.pptx");
  const auto slides = twin->Slides();
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

// A converted original is held like any opened file: no save replaces it while it is open. A change
// to the presentation reaches the next picture (the copy the renderer draws is renewed).
TEST_F(RenderBridge, HeldOriginalsAndChangedPresentations) {
  const fs::path legacy = At("held.ppt");
  ASSERT_EQ(Convert(Deck(), legacy, 1), 0);
  const std::string before = ReadFile(legacy);
  auto app = CreateApplication();
  auto opened = Open(app, legacy);
  auto other = Open(app, Deck());
  EXPECT_EQ(static_cast<std::uint32_t>(ThrownNumber([&] { other->SaveAs(text::FromUtf8(legacy.string()), 1, 0); })),
            0x80048240u);
  EXPECT_EQ(ReadFile(legacy), before);
  const auto pictureWidth = [&](const char* name) {
    other->Slides()->Item(1)->Export(text::FromUtf8(At(name).string()), u"PNG", 0, 0);
    return PngSize(ReadFile(At(name))).first;
  };
  const std::uint32_t wide = pictureWidth("before.png");
  other->PageSetup()->put_SlideWidth(other->PageSetup()->SlideWidth() / 2);
  EXPECT_NEAR(pictureWidth("after.png"), wide / 2, 1) << "the picture does not show the changed slide size";
  opened->Close();
  other->Close();
  app->Quit();
}

// Slides exported one after another are drawn in one load; each drawn picture is handed out once and
// its file goes, so the drawings kept never outgrow the slides still to come, and exporting a slide
// again draws it again.
TEST_F(RenderBridge, DrawnPicturesAreKeptOnlyUntilExported) {
  const fs::path scratch = At("scratch");
  fs::create_directories(scratch);
  quorvane::testing::ScopedVariable tmpdir("TMPDIR", scratch.string());
  const auto drawingsKept = [&] {
    int n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(scratch))
      n += entry.path().filename().string().starts_with("slide") ? 1 : 0;
    return n;
  };
  auto app = CreateApplication();
  auto deck = Open(app, Deck());
  const int slides = deck->Slides()->Count();
  ASSERT_GE(slides, 3);
  for (int i = 1; i <= slides; ++i) {
    deck->Slides()->Item(i)->Export(text::FromUtf8(At("kept" + std::to_string(i) + ".png").string()), u"PNG", 0, 0);
    EXPECT_EQ(drawingsKept(), slides - i) << "after slide " << i;
  }
  deck->Slides()->Item(2)->Export(text::FromUtf8(At("again.png").string()), u"PNG", 0, 0);
  EXPECT_EQ(ReadFile(At("again.png")), ReadFile(At("kept2.png")));
  deck->Close();
  app->Quit();
}

}  // namespace
