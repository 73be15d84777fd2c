// Picture and PDF options through the control: what the checks refuse, and what the renderer's
// pictures and PDFs look like with each option, read back from the PNG header, pdfinfo and pdftotext.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "engines/pptx/builder.hpp"
#include "engines/shared/render_bridge.hpp"
#include "quorvane/control.hpp"
#include "support/fixtures.hpp"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
namespace builder = engines::pptx::builder;

TEST(OutputOptions, BadValuesAreRefusedAndChangeNothing) {
  QuorvaneX control;
  const OutputOptions kept{.pixelWidth = 640, .namePattern = u"s{n}.png"};
  control.SetOutputOptions(kept);
  const struct {
    OutputOptions options;
    const char* problem;
  } rows[] = {
      {{.pixelWidth = -1}, "width -1 is negative"},
      {{.dotsPerInch = -96}, "resolution -96 is negative"},
      {{.pixelWidth = 640, .dotsPerInch = 96}, "not both"},
      {{.pixelHeight = 20001}, "at most 20000"},
      {{.dotsPerInch = 2401}, "at most 2400"},
      {{.jpegQuality = 101}, "outside 1 to 100"},
      {{.namePattern = u"slide.png"}, "no {n}"},
      {{.namePattern = u"slide-{N}.png"}, "neither {n} nor"},
      {{.namePattern = u"slide-{n:3}.png"}, "neither {n} nor"},
      {{.namePattern = u"slide-n}.png"}, "closes no {n}"},
      {{.namePattern = u"{n}/"}, "names a folder"},
  };
  for (const auto& row : rows) {
    std::string description;
    EXPECT_EQ(testing::ThrownNumber([&] { control.SetOutputOptions(row.options); }, &description),
              static_cast<std::int32_t>(0x80070057u))
        << row.problem;
    EXPECT_NE(description.find(row.problem), std::string::npos) << description;
    EXPECT_EQ(control.GetOutputOptions(), kept) << row.problem;
  }
  const struct {
    const char16_t* pattern;
    std::int32_t slide;
    const char16_t* name;
  } names[] = {
      {u"slide-{n:03}.png", 7, u"slide-007.png"}, {u"slide-{n:03}.png", 1234, u"slide-1234.png"},
      {u"{n}-{n:02}.jpg", 5, u"5-05.jpg"},        {u"p/{n:9}", 1, u"p/{n:9}"},
  };
  for (const auto& row : names) EXPECT_EQ(PatternName(row.pattern, row.slide), row.name) << row.slide;
}

// Width and height from a PNG's header; 0 x 0 when the file is no PNG.
std::pair<int, int> PngSize(const fs::path& png) {
  const std::string bytes = testing::ReadFile(png);
  if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return {0, 0};
  const auto big = [&](std::size_t at) {
    int value = 0;
    for (std::size_t i = at; i < at + 4; ++i) value = value * 256 + static_cast<unsigned char>(bytes[i]);
    return value;
  };
  return {big(16), big(20)};
}

// A deck of three slides (the second hidden), each with a title and notes, at 13.33 x 7.5 inches.
TEST(OutputOptions, PicturesAndPdfsFollowTheOptions) {
  if (!engines::render_bridge::RendererBuiltIn() || ::access("/usr/bin/soffice", X_OK) != 0)
    GTEST_SKIP() << "no renderer: the component is built without it or soffice is not installed";
  testing::TempFolder dir;
  builder::DeckPlan plan;
  for (const char16_t* n : {u"1", u"2", u"3"}) {
    builder::SlidePlan& slide = plan.slides.emplace_back();
    slide.shapes.push_back(builder::Title(u"Slide title " + std::u16string(n)));
    slide.notes = builder::NotesPage(u"Speaker note " + std::u16string(n));
    slide.hidden = n == std::u16string_view(u"2");
  }
  const fs::path deck = dir / "deck.pptx";
  builder::Write(plan, deck.string());
  QuorvaneX control;
  const auto convert = [&](const fs::path& output, std::int32_t code, const OutputOptions& options) {
    control.SetOutputOptions(options);
    fs::create_directories(output.parent_path());
    return testing::ConvertWith(control, deck, output, code);
  };

  const struct {
    const char* name;
    OutputOptions options;
    std::pair<int, int> size;
  } pictures[] = {
      {"default", {}, {1280, 720}},
      {"width", {.pixelWidth = 640}, {640, 360}},
      {"dpi", {.dotsPerInch = 192}, {2560, 1440}},
  };
  for (const auto& row : pictures) {
    ASSERT_EQ(convert(dir / row.name / "deck", 18, row.options), 0) << row.name;
    EXPECT_EQ(PngSize(dir / row.name / "deckSlide3.PNG"), row.size) << row.name;
  }
  ASSERT_EQ(convert(dir / "named" / "deck", 18, {.namePattern = u"slide-{n:03}.png"}), 0);
  for (const char* name : {"slide-001.png", "slide-002.png", "slide-003.png"})
    EXPECT_EQ(PngSize(dir / "named" / name), std::make_pair(1280, 720)) << name;
  EXPECT_FALSE(fs::exists(dir / "named" / "deckSlide1.PNG"));
  ASSERT_EQ(convert(dir / "best" / "deck", 17, {.jpegQuality = 100}), 0);
  ASSERT_EQ(convert(dir / "worst" / "deck", 17, {.jpegQuality = 1}), 0);
  EXPECT_LT(fs::file_size(dir / "worst" / "deckSlide1.JPG"), fs::file_size(dir / "best" / "deckSlide1.JPG"));

  const struct {
    const char* name;
    OutputOptions options;
    int pages;
    const char* shows;
    const char* lacks;
  } pdfs[] = {
      {"default", {}, 2, "Slide title 3", "Slide title 2"},
      {"hidden", {.hiddenSlides = true}, 3, "Slide title 2", "Speaker note"},
      {"notes", {.notesPages = true}, 2, "Speaker note 3", "Speaker note 2"},
      {"pdfa", {.pdfa = true}, 2, "Slide title 1", "Speaker note"},
  };
  for (const auto& row : pdfs) {
    const fs::path pdf = dir / (std::string(row.name) + ".pdf");
    ASSERT_EQ(convert(pdf, 32, row.options), 0) << row.name;
    EXPECT_EQ(testing::PdfPageCount(pdf), row.pages) << row.name;
    const std::string text = testing::CommandOutput("pdftotext '" + pdf.string() + "' -");
    EXPECT_NE(text.find(row.shows), std::string::npos) << row.name << ": " << text;
    EXPECT_EQ(text.find(row.lacks), std::string::npos) << row.name << ": " << text;
    const std::string meta = testing::CommandOutput("pdfinfo -meta '" + pdf.string() + "'");
    EXPECT_EQ(meta.find("pdfaid:part") != std::string::npos, row.options.pdfa) << row.name;
  }
}

}  // namespace
}  // namespace quorvane
