// Presentations written by the engine: the save-as conversion through the control writes all six package kinds in its
// three modes; and, where LibreOffice is installed, written files (and an outline) convert to PDF with the right number
// of pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/package.hpp"
#include "support/fixtures.hpp"

namespace quorvane::engines::pptx {
namespace {

namespace fs = std::filesystem;
namespace ppt = office::ppt;
using testing::ReadFile;

std::u16string U(const fs::path& path) { return text::FromUtf8(path.string()); }

std::string MainContentType(const fs::path& file) {
  const auto package = Package::Open(file.string());
  for (const auto& r : package->Relationships("/"))
    if (r.type.ends_with("/officeDocument")) return package->ContentType(r.partName);
  return {};
}

// The label the save-as conversion puts in front of a shape's text.
std::u16string Label(int slide, int shape) {
  return u"----- Slide(" + text::Decimal(slide) + u") Shape(" + text::Decimal(shape) + u") -----\n";
}

// Pastes the `chosen` slides of `input` into a new presentation of its size, labelling every text.
std::shared_ptr<ppt::Presentation> Assemble(ppt::Application& app,
                                            const std::vector<std::pair<ppt::Presentation*, int>>& chosen) {
  const auto assembled = app.Presentations()->Add(0);
  assembled->PageSetup()->put_SlideHeight(chosen[0].first->PageSetup()->SlideHeight());
  assembled->PageSetup()->put_SlideWidth(chosen[0].first->PageSetup()->SlideWidth());
  int k = 0;
  for (const auto& [input, i] : chosen) {
    input->Slides()->Item(i)->Copy();
    assembled->Slides()->Paste(-1);
    const auto shapes = assembled->Slides()->Item(++k)->Shapes();
    for (std::int32_t m = 1; m <= shapes->Count(); ++m) {
      if (!shapes->Item(m)->HasTextFrame()) continue;
      const auto range = shapes->Item(m)->TextFrame()->TextRange();
      const std::u16string original = range->Text();
      range->InsertBefore(Label(i, m));
      EXPECT_EQ(range->Text(), Label(i, m).substr(0, Label(i, m).size() - 1) + u"\r" + original);
    }
  }
  return assembled;
}

// Every text of every slide, in order.
std::vector<std::u16string> Texts(ppt::Presentation& presentation) {
  std::vector<std::u16string> out;
  for (std::int32_t s = 1; s <= presentation.Slides()->Count(); ++s) {
    const auto shapes = presentation.Slides()->Item(s)->Shapes();
    for (std::int32_t m = 1; m <= shapes->Count(); ++m)
      if (shapes->Item(m)->HasTextFrame()) out.push_back(shapes->Item(m)->TextFrame()->TextRange()->Text());
  }
  return out;
}

TEST(PptxRoundtrip, TheSaveAsConversionWritesEveryPackageKindInEveryMode) {
  QUORVANE_NEEDS_CORPUS();
  const struct { std::int32_t code; const char* extension; const char* contentType; } kinds[] = {
      {24, "pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml"},
      {25, "pptm", "application/vnd.ms-powerpoint.presentation.macroEnabled.main+xml"},
      {26, "potx", "application/vnd.openxmlformats-officedocument.presentationml.template.main+xml"},
      {27, "potm", "application/vnd.ms-powerpoint.template.macroEnabled.main+xml"},
      {28, "ppsx", "application/vnd.openxmlformats-officedocument.presentationml.slideshow.main+xml"},
      {29, "ppsm", "application/vnd.ms-powerpoint.slideshow.macroEnabled.main+xml"}};
  testing::TempFolder dir;
  const auto app = CreateApplication();
  QuorvaneX control;  // the default provider: the native engine
  for (const char* name : {"docling/powerpoint_sample.pptx", "poi/testPPT.ppsx", "python-pptx/shp-shapes.pptx"}) {
    const fs::path deck = testing::CorpusDir() / name;
    const std::string bytes = ReadFile(deck);
    const std::int32_t slides = app->Presentations()->Open(U(deck), 0, 0, 0)->Slides()->Count();
    ASSERT_GE(slides, 2) << deck;
    const struct { const char* name; std::int32_t start, end; bool labels, perSlide; std::int32_t slides; } modes[] = {
        {"whole", 0, 0, false, false, slides}, {"selected with labels", 2, slides, true, false, slides - 1},
        {"per slide", 1, 2, false, true, 1}};
    for (const auto& kind : kinds)
      for (const auto& mode : modes) {
        SCOPED_TRACE(std::string(name) + " " + kind.extension + " " + mode.name);
        const fs::path folder = dir / (std::string(kind.extension) + "-" + mode.name);
        fs::create_directories(folder);
        const fs::path output = folder / (std::string("out.") + kind.extension);
        control.put_ShowSlideAndShapeNumber(mode.labels ? kVariantTrue : kVariantFalse);
        ASSERT_EQ(testing::ConvertWith(control, deck, output, kind.code,
                                       {.start = mode.start, .end = mode.end, .multi = mode.perSlide}),
                  0)
            << text::ToUtf8(control.get_ErrorString());
        std::vector<fs::path> outputs{output};
        if (mode.perSlide)
          outputs = {folder / (std::string("outSlide1.") + kind.extension),
                     folder / (std::string("outSlide2.") + kind.extension)};
        for (const auto& file : outputs) {
          ASSERT_TRUE(fs::exists(file)) << file;
          EXPECT_EQ(MainContentType(file), kind.contentType) << file;
          const auto reopened = app->Presentations()->Open(U(file), 0, 0, 0);
          EXPECT_EQ(reopened->Slides()->Count(), mode.slides) << file;
          const auto texts = Texts(*reopened);
          EXPECT_EQ(
              std::any_of(texts.begin(), texts.end(), [](auto& t) { return t.starts_with(u"----- Slide(2) Shape("); }),
              mode.labels)
              << file;
          reopened->Close();
        }
      }
    EXPECT_EQ(ReadFile(deck), bytes) << "the input changed: " << deck;
  }
  app->Quit();
}

bool OnPath(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(PptxRoundtrip, WrittenFilesOpenInLibreOffice) {
  if (!OnPath("soffice")) GTEST_SKIP() << "soffice is not on PATH: the LibreOffice check is skipped.";
  QUORVANE_NEEDS_CORPUS();
  testing::TempFolder dir;
  const auto app = CreateApplication();
  // An assembled deck (slides from two sources, with labels), a corpus deck saved whole as a slide
  // show, the outline of a corpus deck, and a builder deck with every kind of shape.
  const auto first = app->Presentations()->Open(U(testing::CorpusDir() / "officeparser" / "test.pptx"), 0, 0, 0);
  const auto second = app->Presentations()->Open(U(testing::CorpusDir() / "openxml-sdk" / "typical.pptx"), 0, 0, 0);
  Assemble(*app, {{first.get(), 1}, {second.get(), 3}, {first.get(), 4}, {second.get(), 1}, {first.get(), 1}})
      ->SaveAs(U(dir / "assembled.pptx"), 24, 0);
  first->SaveAs(U(dir / "whole.ppsx"), 28, 0);
  first->SaveAs(U(dir / "outline.rtf"), 6, 0);
  builder::Write(builder::Sample(), (dir / "sample-source.pptx").string());
  const auto sample = app->Presentations()->Open(U(dir / "sample-source.pptx"), 0, 0, 0);
  const auto copy = app->Presentations()->Add(0);
  for (std::int32_t i = 1; i <= sample->Slides()->Count(); ++i) {
    sample->Slides()->Item(i)->Copy();
    copy->Slides()->Paste(-1);
  }
  copy->SaveAs(U(dir / "sample.pptx"), 24, 0);
  const std::string command = "cd '" + dir.path().string() + "' && timeout 180 soffice -env:UserInstallation=file://" +
                              (dir / "profile").string() +
                              " --headless --convert-to pdf --outdir pdf assembled.pptx whole.ppsx outline.rtf "
                              "sample.pptx >soffice.log 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(dir / "soffice.log");
  const bool pageCounts = OnPath("pdfinfo");
  // The sample's hidden slide is left out of its PDF.
  const std::pair<const char*, int> pdfs[] = {{"assembled", 5}, {"whole", first->Slides()->Count()}, {"outline", -1},
                                              {"sample", -2}};
  for (const auto& [name, pages] : pdfs) {
    const fs::path pdf = dir / "pdf" / (std::string(name) + ".pdf");
    ASSERT_TRUE(fs::exists(pdf)) << name << "\n" << ReadFile(dir / "soffice.log");
    EXPECT_GT(fs::file_size(pdf), 0u) << name;
    if (pageCounts && pages >= 0) { EXPECT_EQ(testing::PdfPageCount(pdf), pages) << name; }
    if (pageCounts && pages == -2) { EXPECT_GE(testing::PdfPageCount(pdf), copy->Slides()->Count() - 1) << name; }
  }
  if (OnPath("pdftotext")) {
    const std::string outline =
        testing::CommandOutput("pdftotext '" + (dir / "pdf" / "outline.pdf").string() + "' - 2>/dev/null");
    const auto title = first->Slides()->Item(1)->Shapes()->Item(1);
    if (title->HasTextFrame()) {
      const std::string text = text::ToUtf8(title->TextFrame()->TextRange()->Text());
      EXPECT_NE(outline.find(text.substr(0, std::min<std::size_t>(text.size(), 10))), std::string::npos) << outline;
    }
  }
  app->Quit();
}

}  // namespace
}  // namespace quorvane::engines::pptx
