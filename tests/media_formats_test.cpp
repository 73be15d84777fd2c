// XPS and the slide show video: read back by other programs (libgxps, poppler, ffprobe), the
// watched runs behind them, and what a missing program leaves.
#include <signal.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "engines/external_program.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/shared/render_bridge.hpp"
#include "support/fixtures.hpp"

namespace {

namespace fs = std::filesystem;
namespace builder = quorvane::engines::pptx::builder;
namespace program = quorvane::engines::external_program;
using quorvane::testing::CommandOutput;
using quorvane::testing::ThrownNumber;

// A program that overruns its deadline is killed with its children; failures say what it said.
TEST(ExternalProgram, FailuresAndDeadlines) {
  quorvane::testing::TempFolder folder;
  const std::string pidFile = (folder / "child").string();
  const struct { const char* name; std::string program, script; std::uint32_t number; const char* said; } rows[] = {
      {"exit code", "sh", "echo first >&2; echo the cause >&2; exit 3", 0x80004005u, "code 3: first | the cause."},
      {"signal", "sh", "kill -9 $$", 0x800706BAu, "signal 9"},
      {"deadline", "sh", "sleep 30 & echo $! > " + pidFile + "; wait", 0x800705B4u, "within 1 s and was stopped."},
      {"missing", "quorvane-no-such-program", "", 0x800706BAu, "install the Debian package \"pkg\"."},
  };
  for (const auto& row : rows) {
    std::string description;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(static_cast<std::uint32_t>(ThrownNumber(
                  [&] { program::Run({row.program, "pkg", "it"}, {"-c", row.script}, std::chrono::milliseconds(300),
                                     folder.path().string()); },
                  &description)),
              row.number) << row.name << ": " << description;
    EXPECT_TRUE(description.ends_with(row.said) || description.find(row.said) != std::string::npos)
        << row.name << ": " << description;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5)) << row.name;
  }
  const pid_t child = std::atoi(quorvane::testing::ReadFile(pidFile).c_str());
  ASSERT_GT(child, 0);
  for (int i = 0; i < 100 && ::kill(child, 0) == 0; ++i) ::usleep(20'000);  // reaped by init once killed
  EXPECT_NE(::kill(child, 0), 0) << "the program's child outlived the deadline";
}

class MediaFormats : public ::testing::Test {
 protected:
  // Four 16:9 slides: 1.5 s, hidden (3 s), without a time (5 s), 0.5 s.
  static void SetUpTestSuite() {
    if (!quorvane::engines::render_bridge::RendererBuiltIn() || access("/usr/bin/soffice", X_OK) != 0) return;
    folder_ = std::make_unique<quorvane::testing::TempFolder>();
    builder::DeckPlan plan;
    plan.slideWidthEmu = 12192000, plan.slideHeightEmu = 6858000;
    for (const char16_t* title : {u"Alpha", u"Bravo", u"Charlie", u"Delta"}) {
      plan.slides.emplace_back().shapes = {builder::Title(title)};
      plan.slides.back().hidden = plan.slides.size() == 2;
    }
    auto package = builder::Build(plan);
    for (const auto& [slide, time] : {std::pair{1, 1500}, {2, 3000}, {4, 500}}) {
      const std::string part = "/ppt/slides/slide" + std::to_string(slide) + ".xml";
      std::string xml = package->ReadPart(part);
      xml.insert(xml.rfind("</p:sld>"), "<p:transition advTm=\"" + std::to_string(time) + "\"/>");
      package->SetPart(part, xml, builder::content_type::kSlide);
    }
    package->Save(At("deck.pptx"));
    control_ = std::make_unique<quorvane::QuorvaneX>();
  }
  static void TearDownTestSuite() { control_.reset(), folder_.reset(); }
  void SetUp() override {
    if (!control_) GTEST_SKIP() << "no renderer: the component is built without it or soffice is not installed";
  }
  static std::string At(const std::string& name) { return (*folder_ / name).string(); }
  static std::int32_t Convert(const std::string& output, std::int32_t code, quorvane::testing::ConvertOptions o = {}) {
    return quorvane::testing::ConvertWith(*control_, At("deck.pptx"), output, code, o);
  }
  static inline std::unique_ptr<quorvane::testing::TempFolder> folder_;
  static inline std::unique_ptr<quorvane::QuorvaneX> control_;
};

// Whole decks, ranges and one file per slide, each output read back: an XPS document through
// xpstopdf (pages, page size, each page's picture: a slide shows the same in every output, and
// differs from another slide), a video through ffprobe (codec, size, container, length).
TEST_F(MediaFormats, XpsDocumentsAndVideosReadBack) {
  const struct { const char* name; std::int32_t code, start, end; bool multi; std::vector<std::string> files, shows; } rows[] = {
      {"deck.xps", 33, 1, 9999, false, {"deck.xps"}, {"pages 3, 960 x 540"}},
      {"range.xps", 33, 2, 3, false, {"range.xps"}, {"pages 1, 960 x 540"}},
      {"each.xps", 33, 3, 4, true, {"eachSlide3.xps", "eachSlide4.xps"}, {"pages 1, 960 x 540", "pages 1, 960 x 540"}},
      {"deck.wmv", 37, 1, 9999, false, {"deck.wmv"}, {"wmv2 1280 720 asf 7.0"}},
      {"range.wmv", 37, 3, 4, false, {"range.wmv"}, {"wmv2 1280 720 asf 5.5"}},
  };
  for (const auto& row : rows) {
    ASSERT_EQ(Convert(At(row.name), row.code, {.start = row.start, .end = row.end, .multi = row.multi}), 0)
        << row.name << ": " << quorvane::text::ToUtf8(control_->get_ErrorString());
    for (std::size_t i = 0; i < row.files.size(); ++i) {
      const std::string file = At(row.files[i]), expected = row.shows[i];
      std::string shows;
      if (row.code == 33) {
        ASSERT_EQ(std::system(("xpstopdf '" + file + "' '" + file + ".pdf' 2>/dev/null").c_str()), 0) << row.files[i];
        std::string width, x, height;
        std::istringstream(CommandOutput("pdfinfo '" + file + ".pdf' | grep '^Page size:' | cut -c11-")) >> width >> x >> height;
        shows = "pages " + std::to_string(quorvane::testing::PdfPageCount(file + ".pdf")) + ", " + width + " x " + height;
      } else {
        shows = CommandOutput("ffprobe -v error -show_entries stream=codec_name,width,height:format=format_name,duration "
                              "-of default=nw=1:nk=1 '" + file + "' | tr '\\n' ' '");
        const std::size_t length = shows.rfind("asf ") + 4;
        EXPECT_NEAR(std::atof(shows.c_str() + std::min(length, shows.size())), std::atof(expected.c_str() + length), 0.4)
            << row.files[i] << ": " << shows;
        shows = shows.substr(0, length) + expected.substr(std::min(length, expected.size()));
      }
      EXPECT_EQ(shows, expected) << row.files[i];
    }
  }
  const auto page = [](const char* file, int n) {
    return CommandOutput("pdftoppm -r 20 -gray -f " + std::to_string(n) + " -l " + std::to_string(n) + " '" + At(file) + "'");
  };
  EXPECT_EQ(page("deck.xps.pdf", 2), page("range.xps.pdf", 1)) << "Charlie";
  EXPECT_EQ(page("deck.xps.pdf", 3), page("eachSlide4.xps.pdf", 1)) << "Delta";
  EXPECT_NE(page("deck.xps.pdf", 1), page("deck.xps.pdf", 3)) << "Alpha and Delta";
  EXPECT_NE(page("deck.xps.pdf", 1), "") << "Alpha";
}

// Without the program (PATH without it) the conversion fails naming the program's package, an older
// output stays as it was, and nothing is left in the temporary folder.
TEST_F(MediaFormats, AMissingProgramFailsClearlyAndLeavesNothing) {
  const fs::path scratch = At("scratch"), empty = At("empty");
  fs::create_directories(scratch), fs::create_directories(empty);
  ASSERT_EQ(Convert(At("warm.pdf"), 32), 0);  // the office runs before PATH and TMPDIR change
  for (const auto& [code, package] : {std::pair{33, "\"ghostscript\""}, {37, "\"ffmpeg\""}}) {
    const std::string output = At("old" + std::to_string(code));
    quorvane::testing::WriteFile(output, "older output");
    {
      quorvane::testing::ScopedVariable path("PATH", empty.string()), tmpdir("TMPDIR", scratch.string());
      EXPECT_EQ(Convert(output, code), -16) << code;
    }
    const std::string cause = quorvane::text::ToUtf8(control_->LastFailureCause().description);
    EXPECT_NE(cause.find(package), std::string::npos) << code << ": " << cause;
    EXPECT_EQ(quorvane::testing::ReadFile(output), "older output") << code;
    EXPECT_TRUE(fs::is_empty(scratch)) << code << ": " << fs::directory_iterator(scratch)->path();
  }
}

// Every row of the README's table of formats converts (something named after the output appears) or
// is refused with -16, as its "written by" column says.
TEST_F(MediaFormats, EveryCatalogueRowConvertsOrIsRefusedAsTheReadmeSays) {
  const std::string readme = quorvane::testing::ReadFile(std::string(QUORVANE_GOLDEN_DIR) + "/../../README.md");
  const std::regex row(R"(\n\| \d+ \| (\d+) \| (\w+) \| (?:yes|no) \| [^|\n]+ \| ([^|\n]+) \|)");
  int rows = 0;
  for (auto it = std::sregex_iterator(readme.begin(), readme.end(), row); it != std::sregex_iterator(); ++it, ++rows) {
    const std::int32_t code = std::stoi((*it)[1]);
    const std::string stem = "row" + std::to_string(code) + "-", writtenBy = (*it)[3];
    const bool refused = writtenBy.starts_with("refused");
    EXPECT_EQ(Convert(At(stem + "." + (*it)[2].str()), code), refused ? -16 : 0)
        << code << " (" << writtenBy << "): " << quorvane::text::ToUtf8(control_->get_ErrorString());
    bool written = false;
    for (const auto& entry : fs::directory_iterator(folder_->path())) written |= entry.path().filename().string().starts_with(stem);
    EXPECT_EQ(written, !refused) << code << " (" << writtenBy << ")";
  }
  EXPECT_EQ(rows, 36);
}

}  // namespace
