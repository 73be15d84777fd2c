// Saving and reading back: every deck the engine opens (decks of the builder and every corpus file
// that opens) saved as a presentation reopens with the same slides, shapes and text, as the model
// shows them; a presentation assembled from chosen slides with labels keeps its labels; the save-as
// conversion through the control writes all six package kinds in its three modes; and, where
// LibreOffice is installed, a few of the written files (and an outline) convert to PDF with the
// right number of pages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/package.hpp"
#include "quorvane/control.hpp"

namespace quorvane::engines::pptx {
namespace {

namespace fs = std::filesystem;
namespace ppt = office::ppt;
namespace b = builder;

const fs::path kCorpus = QUORVANE_CORPUS_DIR;

std::u16string U(const fs::path& path) { return text::FromUtf8(path.string()); }
std::string A(const std::u16string& s) { return text::ToUtf8(s); }

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// --- What the model shows ------------------------------------------------------------------------

// Runs `read` and gives its text, or the failure number when it fails (a damaged part must fail
// the same way before and after).
template <typename F>
std::string Guarded(F&& read) {
  try {
    return read();
  } catch (const AutomationError& e) {
    return "<failure " + std::to_string(e.number()) + ">";
  }
}

void DescribeShapes(std::string& out, const std::function<std::shared_ptr<ppt::Shape>(std::int32_t)>& item,
                    std::int32_t count, const std::string& indent);

void DescribeShape(std::string& out, ppt::Shape& shape, const std::string& indent) {
  const std::int32_t type = shape.Type();
  out += indent + std::to_string(type);
  if (type == ppt::kMsoPlaceholder)
    out += " ph" + Guarded([&] { return std::to_string(shape.PlaceholderFormat()->Type()); });
  if (shape.HasTextFrame()) out += " \"" + Guarded([&] { return A(shape.TextFrame()->TextRange()->Text()); }) + "\"";
  out += "\n";
  if (type == ppt::kMsoTable) {
    out += Guarded([&] {
      const auto table = shape.Table();
      std::string cells =
          indent + "  table " + std::to_string(table->RowsCount()) + "x" + std::to_string(table->ColumnsCount()) + ":";
      for (std::int32_t r = 1; r <= table->RowsCount(); ++r)
        for (std::int32_t c = 1; c <= table->ColumnsCount(); ++c)
          cells +=
              " [" + Guarded([&] { return A(table->Cell(r, c)->Shape()->TextFrame()->TextRange()->Text()); }) + "]";
      return cells + "\n";
    });
  }
  if (type == ppt::kMsoGroup) {
    out += Guarded([&] {
      std::string members;
      const auto items = shape.GroupItems();
      DescribeShapes(
          members, [&](std::int32_t i) { return items->Item(i); }, items->Count(), indent + "  ");
      return members;
    });
  }
}

void DescribeShapes(std::string& out, const std::function<std::shared_ptr<ppt::Shape>(std::int32_t)>& item,
                    std::int32_t count, const std::string& indent) {
  for (std::int32_t i = 1; i <= count; ++i) {
    out += Guarded([&] {
      std::string one;
      DescribeShape(one, *item(i), indent);
      return one;
    });
  }
}

// Every slide: its shapes (type, placeholder type, text, tables, group members) and its notes page.
std::string Describe(ppt::Presentation& presentation) {
  std::string out = "size " + std::to_string(presentation.PageSetup()->SlideWidth()) + "x" +
                    std::to_string(presentation.PageSetup()->SlideHeight()) + "\n";
  const auto slides = presentation.Slides();
  for (std::int32_t s = 1; s <= slides->Count(); ++s) {
    const auto slide = slides->Item(s);
    out += "slide " + std::to_string(s) + "\n";
    out += Guarded([&] {
      std::string shapes;
      const auto all = slide->Shapes();
      DescribeShapes(
          shapes, [&](std::int32_t i) { return all->Item(i); }, all->Count(), "  ");
      return shapes;
    });
    out += " notes\n" + Guarded([&] {
             std::string shapes;
             const auto all = slide->NotesPage()->Shapes();
             DescribeShapes(
                 shapes, [&](std::int32_t i) { return all->Item(i); }, all->Count(), "  ");
             return shapes;
           });
  }
  return out;
}

std::string MainContentType(const fs::path& file) {
  const auto package = Package::Open(file.string());
  for (const auto& r : package->Relationships("/"))
    if (r.type.ends_with("/officeDocument")) return package->ContentType(r.partName);
  return {};
}

// The corpus files the engine opens (the others are refused; the corpus tests see to that).
std::vector<fs::path> OpenableCorpusDecks() {
  std::vector<fs::path> out;
  const auto app = CreateApplication();
  for (const auto& entry : fs::recursive_directory_iterator(kCorpus)) {
    if (!entry.is_regular_file()) continue;
    const std::string extension = entry.path().extension().string();
    if (extension == ".tsv" || extension == ".md" || extension == ".txt") continue;
    try {
      app->Presentations()->Open(U(entry.path()), 0, 0, 0)->Close();
      out.push_back(entry.path());
    } catch (const AutomationError&) {
    }
  }
  std::sort(out.begin(), out.end());
  app->Quit();
  return out;
}

class RoundtripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv-roundtrip-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    app_ = CreateApplication();
  }
  void TearDown() override {
    try {
      app_->Quit();
    } catch (const AutomationError&) {
    }
    fs::remove_all(dir_);
  }
  std::shared_ptr<ppt::Presentation> Open(const fs::path& path) {
    return app_->Presentations()->Open(U(path), 0, 0, 0);
  }

  fs::path dir_;
  std::shared_ptr<ppt::Application> app_;
};

// --- Whole decks ---------------------------------------------------------------------------------

TEST_F(RoundtripTest, EveryDeckSavedAsAPresentationReopensAsItWas) {
  std::vector<fs::path> decks;
  b::Write(b::Sample(), (dir_ / "sample.pptx").string());
  b::Write(b::Generated(40, 7), (dir_ / "generated.pptx").string());
  decks.push_back(dir_ / "sample.pptx");
  decks.push_back(dir_ / "generated.pptx");
  const auto corpus = OpenableCorpusDecks();
  EXPECT_GE(corpus.size(), 35u);
  decks.insert(decks.end(), corpus.begin(), corpus.end());

  for (const auto& deck : decks) {
    SCOPED_TRACE(deck.string());
    const std::string bytes = ReadFile(deck);
    const auto presentation = Open(deck);
    const std::string before = Describe(*presentation);
    const fs::path out = dir_ / "out.pptx";
    presentation->SaveAs(U(out), 24, 0);
    EXPECT_EQ(Describe(*presentation), before) << "the open presentation after the save";
    presentation->Close();
    EXPECT_EQ(MainContentType(out),
              "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml");
    const auto reopened = Open(out);
    EXPECT_EQ(Describe(*reopened), before);
    reopened->Close();
    EXPECT_EQ(ReadFile(deck), bytes) << "the source changed";
  }
}

// --- Assembled presentations ---------------------------------------------------------------------

// The label the save-as conversion puts in front of a shape's text.
std::u16string Label(int slide, int shape) {
  return u"----- Slide(" + text::Decimal(slide) + u") Shape(" + text::Decimal(shape) + u") -----\n";
}

TEST_F(RoundtripTest, AnAssembledPresentationWithLabelsReopensWithTheLabels) {
  struct Row {
    const char* name;
    fs::path deck;
    std::vector<int> chosen;
  };
  b::Write(b::Generated(12, 3), (dir_ / "generated.pptx").string());
  const Row rows[] = {
      {"generated", dir_ / "generated.pptx", {2, 3, 4, 9}},
      {"corpus with notes and tables", kCorpus / "officeparser" / "test.pptx", {1, 4, 5}},
      {"corpus with groups", kCorpus / "openxml-sdk" / "typical.pptx", {3, 1, 15}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const auto input = Open(row.deck);
    const auto assembled = app_->Presentations()->Add(0);
    assembled->PageSetup()->put_SlideHeight(input->PageSetup()->SlideHeight());
    assembled->PageSetup()->put_SlideWidth(input->PageSetup()->SlideWidth());
    std::vector<std::u16string> labelled;
    int k = 0;
    for (const int i : row.chosen) {
      ++k;
      input->Slides()->Item(i)->Copy();
      assembled->Slides()->Paste(-1);
      const auto shapes = assembled->Slides()->Item(k)->Shapes();
      for (std::int32_t m = 1; m <= shapes->Count(); ++m) {
        const auto shape = shapes->Item(m);
        if (!shape->HasTextFrame()) continue;
        const std::u16string original = shape->TextFrame()->TextRange()->Text();
        shape->TextFrame()->TextRange()->InsertBefore(Label(i, m));
        const std::u16string text = shape->TextFrame()->TextRange()->Text();
        EXPECT_EQ(text, Label(i, m).substr(0, Label(i, m).size() - 1) + u"\r" + original);
        labelled.push_back(text);
      }
    }
    const std::string view = Describe(*assembled);
    const fs::path out = dir_ / (std::string("assembled ") + row.name + ".pptx");
    assembled->SaveAs(U(out), 24, 0);
    const auto reopened = Open(out);
    EXPECT_EQ(Describe(*reopened), view);
    std::size_t found = 0;
    for (std::int32_t s = 1; s <= reopened->Slides()->Count(); ++s) {
      const auto shapes = reopened->Slides()->Item(s)->Shapes();
      for (std::int32_t m = 1; m <= shapes->Count(); ++m) {
        if (shapes->Item(m)->HasTextFrame() && found < labelled.size()) {
          EXPECT_EQ(shapes->Item(m)->TextFrame()->TextRange()->Text(), labelled[found++]);
        }
      }
    }
    EXPECT_EQ(found, labelled.size());
    EXPECT_GT(found, 0u);
  }
}

// --- Through the control -------------------------------------------------------------------------

struct Kind {
  std::int32_t code;
  const char* extension;
  const char* contentType;
};
constexpr Kind kKinds[] = {
    {24, "pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml"},
    {25, "pptm", "application/vnd.ms-powerpoint.presentation.macroEnabled.main+xml"},
    {26, "potx", "application/vnd.openxmlformats-officedocument.presentationml.template.main+xml"},
    {27, "potm", "application/vnd.ms-powerpoint.template.macroEnabled.main+xml"},
    {28, "ppsx", "application/vnd.openxmlformats-officedocument.presentationml.slideshow.main+xml"},
    {29, "ppsm", "application/vnd.ms-powerpoint.slideshow.macroEnabled.main+xml"},
};

TEST_F(RoundtripTest, TheSaveAsConversionWritesEveryPackageKindInEveryMode) {
  const fs::path decks[] = {kCorpus / "docling" / "powerpoint_sample.pptx", kCorpus / "poi" / "testPPT.ppsx",
                            kCorpus / "python-pptx" / "shp-shapes.pptx"};
  QuorvaneX control;  // the default provider: the native engine
  for (const fs::path& deck : decks) {
    const std::string bytes = ReadFile(deck);
    std::int32_t slides = 0;
    {
      const auto p = Open(deck);
      slides = p->Slides()->Count();
      p->Close();
    }
    ASSERT_GE(slides, 2) << deck;
    for (const Kind& kind : kKinds) {
      struct Mode {
        const char* name;
        std::int32_t start, end;
        bool labels, perSlide;
        std::int32_t expectedSlides;  // per output file
      };
      const Mode modes[] = {{"whole", 0, 0, false, false, slides},
                            {"selected with labels", 2, slides, true, false, slides - 1},
                            {"per slide", 1, 2, false, true, 1}};
      for (const Mode& mode : modes) {
        SCOPED_TRACE(deck.filename().string() + " " + kind.extension + " " + mode.name);
        const fs::path folder = dir_ / (std::string(kind.extension) + "-" + std::to_string(&mode - modes));
        fs::remove_all(folder);
        fs::create_directories(folder);
        const fs::path output = folder / (std::string("out.") + kind.extension);
        control.put_InputFile(U(deck));
        control.put_OutputFile(U(output));
        control.put_TargetFileType(kind.code);
        control.put_StartSlide(mode.start);
        control.put_EndSlide(mode.end);
        control.put_ShowSlideAndShapeNumber(mode.labels ? kVariantTrue : kVariantFalse);
        control.put_MultiFileOutput(mode.perSlide ? kVariantTrue : kVariantFalse);
        ASSERT_EQ(control.ConvertFile(), 0) << A(control.get_ErrorString());

        std::vector<fs::path> outputs;
        if (mode.perSlide) {
          for (int i = 1; i <= 2; ++i)
            outputs.push_back(folder / ("outSlide" + std::to_string(i) + "." + kind.extension));
        } else {
          outputs.push_back(output);
        }
        for (const auto& file : outputs) {
          ASSERT_TRUE(fs::exists(file)) << file;
          EXPECT_EQ(MainContentType(file), kind.contentType) << file;
          const auto reopened = Open(file);
          EXPECT_EQ(reopened->Slides()->Count(), mode.expectedSlides) << file;
          if (mode.labels) {
            const std::string view = Describe(*reopened);
            EXPECT_NE(view.find("\"----- Slide(2) Shape("), std::string::npos) << view;
          }
          reopened->Close();
        }
      }
    }
    EXPECT_EQ(ReadFile(deck), bytes) << "the input changed: " << deck;
  }
}

// --- LibreOffice ---------------------------------------------------------------------------------

bool OnPath(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

int PdfPages(const fs::path& pdf) {
  const std::string info = Output("pdfinfo '" + pdf.string() + "' 2>/dev/null");
  const auto at = info.find("Pages:");
  return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

TEST_F(RoundtripTest, WrittenFilesOpenInLibreOffice) {
  if (!OnPath("soffice")) GTEST_SKIP() << "soffice is not on PATH: the LibreOffice check is skipped.";

  // An assembled deck (slides from two sources, with labels), a corpus deck saved whole as a
  // slide show, a builder deck with every kind of shape, and the outline of a corpus deck.
  struct File {
    std::string name;
    int pages;  // -1: any number
  };
  std::vector<File> files;
  {
    const auto first = Open(kCorpus / "officeparser" / "test.pptx");
    const auto second = Open(kCorpus / "openxml-sdk" / "typical.pptx");
    const auto assembled = app_->Presentations()->Add(0);
    assembled->PageSetup()->put_SlideHeight(first->PageSetup()->SlideHeight());
    assembled->PageSetup()->put_SlideWidth(first->PageSetup()->SlideWidth());
    int k = 0;
    for (const auto& [source, i] : std::vector<std::pair<ppt::Presentation*, int>>{
             {first.get(), 1}, {second.get(), 3}, {first.get(), 4}, {second.get(), 1}, {first.get(), 1}}) {
      source->Slides()->Item(i)->Copy();
      assembled->Slides()->Paste(-1);
      const auto shapes = assembled->Slides()->Item(++k)->Shapes();
      for (std::int32_t m = 1; m <= shapes->Count(); ++m)
        if (shapes->Item(m)->HasTextFrame()) shapes->Item(m)->TextFrame()->TextRange()->InsertBefore(Label(i, m));
    }
    assembled->SaveAs(U(dir_ / "assembled.pptx"), 24, 0);
    files.push_back({"assembled.pptx", 5});
    first->SaveAs(U(dir_ / "whole.ppsx"), 28, 0);
    files.push_back({"whole.ppsx", first->Slides()->Count()});
    first->SaveAs(U(dir_ / "outline.rtf"), 6, 0);
    files.push_back({"outline.rtf", -1});
  }
  b::Write(b::Sample(), (dir_ / "sample-source.pptx").string());
  {
    const auto sample = Open(dir_ / "sample-source.pptx");
    const auto copy = app_->Presentations()->Add(0);
    // The sample's hidden slide is left out: PDF export leaves hidden slides out.
    for (std::int32_t i = 1; i <= sample->Slides()->Count(); ++i) {
      sample->Slides()->Item(i)->Copy();
      copy->Slides()->Paste(-1);
    }
    copy->SaveAs(U(dir_ / "sample.pptx"), 24, 0);
  }
  std::string command = "cd '" + dir_.string() + "' && timeout 180 soffice -env:UserInstallation=file://" +
                        (dir_ / "profile").string() + " --headless --convert-to pdf --outdir pdf";
  for (const auto& file : files) command += " '" + file.name + "'";
  command += " sample.pptx >soffice.log 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadFile(dir_ / "soffice.log");

  const bool pageCounts = OnPath("pdfinfo");
  for (const auto& file : files) {
    const fs::path pdf = dir_ / "pdf" / (fs::path(file.name).stem().string() + ".pdf");
    ASSERT_TRUE(fs::exists(pdf)) << file.name << "\n" << ReadFile(dir_ / "soffice.log");
    EXPECT_GT(fs::file_size(pdf), 0u) << file.name;
    if (pageCounts && file.pages >= 0) {
      EXPECT_EQ(PdfPages(pdf), file.pages) << file.name;
    }
  }
  ASSERT_TRUE(fs::exists(dir_ / "pdf" / "sample.pdf"));
  if (pageCounts) {
    const auto sample = Open(dir_ / "sample.pptx");
    EXPECT_GE(PdfPages(dir_ / "pdf" / "sample.pdf"), sample->Slides()->Count() - 1);
  }
  if (OnPath("pdftotext")) {
    const std::string outline = Output("pdftotext '" + (dir_ / "pdf" / "outline.pdf").string() + "' - 2>/dev/null");
    const auto first = Open(kCorpus / "officeparser" / "test.pptx");
    const auto title = first->Slides()->Item(1)->Shapes()->Item(1);
    if (title->HasTextFrame()) {
      const std::string text = A(title->TextFrame()->TextRange()->Text());
      EXPECT_NE(outline.find(text.substr(0, std::min<std::size_t>(text.size(), 10))), std::string::npos) << outline;
    }
  }
}

}  // namespace
}  // namespace quorvane::engines::pptx
