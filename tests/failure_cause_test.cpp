// Why a conversion failed: for failures of every converter, of the name checks and of starting the
// office, the result code and ErrorString (the catalogue's, unchanged) and the cause the control
// keeps beside them (LastFailureCause). Then file names that are not UTF-8: they convert, through
// the control and its one UTF-8/UTF-16 conversion.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "common/text.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/render_bridge.hpp"
#include "quorvane/control.hpp"
#include "support/fixtures.hpp"
#include "support/scripted_office.hpp"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::Deck;
using testing::ScriptedOffice;

constexpr std::int32_t kPdf = 32;
constexpr std::int32_t kPng = 18;
constexpr std::int32_t kWordRtf = 106;
constexpr std::int32_t kText = 200;
constexpr std::int32_t kAccessDenied = static_cast<std::int32_t>(0x80070005u);

std::u16string U(const std::string& s) { return text::FromUtf8(s); }
std::string A(const std::u16string& s) { return text::ToUtf8(s); }

class FailureCauseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quorvane-causes-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "folder.pptx");
    std::ofstream(dir_ / "deck.pptx") << "input";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(FailureCauseTest, EveryFailureKeepsItsCause) {
  const std::string deck = Path("deck.pptx");
  struct Row {
    const char* name;
    std::int32_t target;
    std::string input, output;
    std::function<void(ScriptedOffice&)> script;
    std::int32_t code;
    std::u16string errorString;
    std::int32_t causeNumber;
    std::string causeFragment;
  };
  const auto none = [](ScriptedOffice&) {};
  const Row rows[] = {
      {"save-as: no input", kPdf, "", Path("out.pdf"), none, -2, u"Input file name not provided.",
       failure::kInvalidCall, "InputFile is empty"},
      {"save-as: no output", kPdf, deck, "", none, -3, u"Output file name not provided.", failure::kInvalidCall,
       "OutputFile is empty"},
      {"save-as: missing input", kPdf, Path("missing.pptx"), Path("out.pdf"), none, -5,
       u"Input file not found. Please check the path", failure::kFileNotFound, "no file at " + Path("missing.pptx")},
      {"save-as: input a folder", kPdf, Path("folder.pptx"), Path("out.pdf"), none, -5,
       u"Input file not found. Please check the path", failure::kFileNotFound, "folder.pptx is a folder"},
      {"save-as: same file", kPdf, deck, Path("./deck.pptx"), none, -6, u"Input and Output Filename are same",
       failure::kInvalidCall, "name the same file"},
      {"save-as: output folder missing", kPdf, deck, Path("missing/out.pdf"), none, -11, u"Output path not found",
       failure::kPathNotFound, "no folder at " + Path("missing/")},
      {"save-as: the save is refused", kPdf, deck, Path("out.pdf"),
       [](ScriptedOffice& o) {
         o.FailOn("Presentation.SaveAs", 1, kAccessDenied, u"Cannot save \"out.pdf\": the file is read-only.");
       },
       -16, u"Unable to convert to file type specified. PowerPoint version may not support it.", kAccessDenied,
       "Cannot save \"out.pdf\": the file is read-only."},
      {"save-as: the office gives up", kPdf, deck, Path("out.pdf"),
       [](ScriptedOffice& o) {
         o.FailOn("Presentations.Open", 1, failure::kEFail, u"the office did not finish within 240 s");
       },
       -10, u"the office did not finish within 240 s", failure::kEFail, "within 240 s"},
      {"save-as: PowerPoint cannot start", kPdf, deck, Path("out.pdf"),
       [](ScriptedOffice& o) { o.FailFrom("CreatePowerPoint", 1, failure::kCannotCreateObject, u"no office here"); },
       -12, u"Unable to create PowerPoint application...is it installed?", failure::kCannotCreateObject,
       "no office here"},
      {"pictures: no filter", kPng, deck, Path("out"),
       [](ScriptedOffice& o) { o.FailOn("Slide.Export", 1, failure::kEFail, u"no PNG filter"); }, -17,
       u"PowerPoint can't export the slide(s) because no installed converter supports this file type.",
       failure::kEFail, "no PNG filter"},
      {"pictures: missing input", kPng, Path("missing.pptx"), Path("out"), none, -10,
       u"Conversion Failed. PowerPoint installed?", failure::kFileNotFound, "could not open"},
      {"word: Word cannot start", kWordRtf, deck, Path("out.rtf"),
       [](ScriptedOffice& o) { o.FailFrom("CreateWord", 1, failure::kCannotCreateObject, u"no Word here"); }, -14,
       u"Unable to create Word application. Please install Word.", failure::kCannotCreateObject, "no Word here"},
      {"word: a library is missing", kWordRtf, deck, Path("out.rtf"),
       [](ScriptedOffice& o) { o.FailOn("Documents.Add", 1, failure::kLibraryNotLoaded, u"libword.so is gone"); },
       -1, u"Unable to open necessary ZEB DLL", failure::kLibraryNotLoaded, "libword.so is gone"},
      {"text: missing input, after its tries", kText, Path("missing.pptx"), Path("out.txt"), none, -10,
       u"Conversion Failed. PowerPoint installed?", failure::kFileNotFound, "could not open"},
      {"text: the target is a folder", kText, deck, Path("folder.pptx"), none, -18, u"Target file is read only.",
       failure::kPathFileAccessError, "Path/File access error"},
      {"text: PowerPoint cannot be ended", kText, deck, Path("out.txt"),
       [](ScriptedOffice& o) { o.FailOn("PowerPoint.Quit", 1, testing::kServerUnavailable, u"office crashed"); },
       -13, u"Unable to destroy PowerPoint application...", testing::kServerUnavailable, "office crashed"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto office = std::make_shared<ScriptedOffice>();
    office->AddFile(U(deck), Deck().TitledSlides(2));
    row.script(*office);
    QuorvaneX control(office);
    control.put_OptimizeForSpeed(row.code == -13 ? kVariantFalse : kVariantTrue);
    EXPECT_EQ(testing::ConvertWith(control, row.input, row.output, row.target), row.code);
    EXPECT_EQ(A(control.get_ErrorString()), A(row.errorString));
    const FailureCause cause = control.LastFailureCause();
    EXPECT_EQ(cause.number, row.causeNumber) << A(cause.description);
    EXPECT_NE(A(cause.description).find(row.causeFragment), std::string::npos) << A(cause.description);

    // The next conversion starts without a cause; one that succeeds keeps none, and ErrorString
    // still holds the last report.
    office->ClearFailures();
    EXPECT_EQ(testing::ConvertWith(control, deck, Path("next.txt"), kText), 0);
    EXPECT_EQ(control.LastFailureCause().number, 0);
    EXPECT_EQ(control.LastFailureCause().description, u"");
    EXPECT_EQ(A(control.get_ErrorString()), A(row.errorString));
  }
}

// A name that is not UTF-8 (the byte 0xFF) reaches the file system as it is, in and out, through
// the native engine (text) and the renderer (PDF, where it is built in).
TEST_F(FailureCauseTest, NamesThatAreNotUtf8Convert) {
  const std::string input = Path("deck\xFF.pptx");
  engines::pptx::builder::Write(engines::pptx::builder::Generated(2), input);
  const bool renderer = engines::render_bridge::RendererBuiltIn() && ::access("/usr/bin/soffice", X_OK) == 0;
  struct Row {
    std::int32_t target;
    std::string output;
    std::string content;
  } rows[] = {{kText, Path("out\xFE.txt"), ""}, {kPdf, Path("out\xFE.pdf"), "%PDF-"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.target);
    if (row.target == kPdf && !renderer) continue;  // no renderer in this build or on this machine
    QuorvaneX control;
    const std::int32_t code = testing::ConvertWith(control, input, row.output, row.target);
    EXPECT_EQ(code, 0) << A(control.get_ErrorString()) << " / " << A(control.LastFailureCause().description);
    std::ifstream in(row.output, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_FALSE(bytes.empty());
    EXPECT_NE(bytes.find(row.content), std::string::npos);
  }
  // The conversion that carries such a name: lossless both ways, other bytes as UTF-8 decodes them.
  for (const std::string bytes : {"deck\xFF.pptx", "\xC3\xA9\xED\xB2\x80", "\xF0\x9F\x98\x80\xC3", "a\x80\xBF"}) {
    EXPECT_EQ(text::ToUtf8(text::FromUtf8(bytes)), bytes);
    EXPECT_TRUE(text::IsUsableFileName(text::FromUtf8(bytes)));
  }
  EXPECT_EQ(text::FromUtf8("a\xFF"), u"a\xDCFF");
  EXPECT_EQ(text::ToUtf8(u"a\xD800"), "a\xEF\xBF\xBD") << "other unpaired surrogates are still replaced";
  EXPECT_EQ(text::ToValidUtf8(u"a\xDCFF"), "a\xEF\xBF\xBD");
  EXPECT_EQ(A(text::Printable(u"a\nb\x1B[31m\tc\xDCFF\x9B\\")), "a\\nb\\e[31m\\tc\\xFF\\u009B\\");
}

}  // namespace
}  // namespace quorvane
