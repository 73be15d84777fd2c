// Why a conversion failed: for failures of every converter, of the name checks and of starting the office,
// the result code and ErrorString (the catalogue's, unchanged) and the cause the control keeps beside them
// (LastFailureCause). Then file names that are not UTF-8: they convert, through the control and its one
// UTF-8/UTF-16 conversion.
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/shared/render_bridge.hpp"
#include "support/fixtures.hpp"
#include "support/scripted_office.hpp"

namespace quorvane {
namespace {

using testing::ScriptedOffice;

constexpr std::int32_t kPdf = 32, kPng = 18, kWordRtf = 106, kText = 200;
constexpr std::int32_t kAccessDenied = static_cast<std::int32_t>(0x80070005u);

std::string A(const std::u16string& s) { return text::ToUtf8(s); }

TEST(FailureCause, EveryFailureKeepsItsCause) {
  testing::TempFolder dir;
  std::filesystem::create_directories(dir / "folder.pptx");
  const auto at = [&](const char* name) { return (dir / name).string(); };
  const std::string deck = at("deck.pptx"), missing = at("missing.pptx"), pdf = at("out.pdf");
  testing::WriteFile(deck, "input");
  // The scripted office's failure: its member fails from the first call on (`from`), else the first only.
  struct Fault { std::string member; bool from; std::int32_t number; std::u16string description; };
  const std::u16string notFound = u"Input file not found. Please check the path";
  const std::u16string failed = u"Conversion Failed. PowerPoint installed?";
  const struct { const char* name; std::int32_t target; std::string input, output; std::optional<Fault> fault;
                 std::int32_t code; std::u16string errorString; std::int32_t causeNumber; std::string causeFragment;
  } rows[] = {
      {"save-as: no input", kPdf, "", pdf, {}, -2, u"Input file name not provided.", failure::kInvalidCall,
       "InputFile is empty"},
      {"save-as: missing input", kPdf, missing, pdf, {}, -5, notFound, failure::kFileNotFound, "no file at " + missing},
      {"save-as: same file", kPdf, deck, at("./deck.pptx"), {}, -6, u"Input and Output Filename are same",
       failure::kInvalidCall, "name the same file"},
      {"save-as: output folder missing", kPdf, deck, at("missing/out.pdf"), {}, -11, u"Output path not found",
       failure::kPathNotFound, "no folder at " + at("missing/")},
      {"save-as: the save is refused", kPdf, deck, pdf,
       Fault{"Presentation.SaveAs", false, kAccessDenied, u"Cannot save \"out.pdf\": the file is read-only."}, -16,
       u"Unable to convert to file type specified. PowerPoint version may not support it.", kAccessDenied,
       "Cannot save \"out.pdf\": the file is read-only."},
      {"save-as: the office gives up", kPdf, deck, pdf,
       Fault{"Presentations.Open", false, failure::kEFail, u"the office did not finish within 240 s"}, -10,
       u"the office did not finish within 240 s", failure::kEFail, "within 240 s"},
      {"save-as: PowerPoint cannot start", kPdf, deck, pdf,
       Fault{"CreatePowerPoint", true, failure::kCannotCreateObject, u"no office here"}, -12,
       u"Unable to create PowerPoint application...is it installed?", failure::kCannotCreateObject, "no office here"},
      {"pictures: no filter", kPng, deck, at("out"), Fault{"Slide.Export", false, failure::kEFail, u"no PNG filter"},
       -17, u"PowerPoint can't export the slide(s) because no installed converter supports this file type.",
       failure::kEFail, "no PNG filter"},
      {"pictures: missing input", kPng, missing, at("out"), {}, -10, failed, failure::kFileNotFound, "could not open"},
      {"word: Word cannot start", kWordRtf, deck, at("out.rtf"),
       Fault{"CreateWord", true, failure::kCannotCreateObject, u"no Word here"}, -14,
       u"Unable to create Word application. Please install Word.", failure::kCannotCreateObject, "no Word here"},
      {"word: a library is missing", kWordRtf, deck, at("out.rtf"),
       Fault{"Documents.Add", false, failure::kLibraryNotLoaded, u"libword.so is gone"}, -1,
       u"Unable to open necessary ZEB DLL", failure::kLibraryNotLoaded, "libword.so is gone"},
      {"text: the target is a folder", kText, deck, at("folder.pptx"), {}, -18, u"Target file is read only.",
       failure::kPathFileAccessError, "Path/File access error"},
      {"text: PowerPoint cannot be ended", kText, deck, at("out.txt"),
       Fault{"PowerPoint.Quit", false, testing::kServerUnavailable, u"office crashed"}, -13,
       u"Unable to destroy PowerPoint application...", testing::kServerUnavailable, "office crashed"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto office = std::make_shared<ScriptedOffice>();
    office->AddFile(text::FromUtf8(deck), testing::Deck().TitledSlides(2));
    if (const auto& f = row.fault; f && f->from) office->FailFrom(f->member, 1, f->number, f->description);
    else if (f) office->FailOn(f->member, 1, f->number, f->description);
    QuorvaneX control(office);
    control.put_OptimizeForSpeed(row.code == -13 ? kVariantFalse : kVariantTrue);
    EXPECT_EQ(testing::ConvertWith(control, row.input, row.output, row.target), row.code);
    EXPECT_EQ(A(control.get_ErrorString()), A(row.errorString));
    const FailureCause cause = control.LastFailureCause();
    EXPECT_EQ(cause.number, row.causeNumber) << A(cause.description);
    EXPECT_NE(A(cause.description).find(row.causeFragment), std::string::npos) << A(cause.description);
    // The next conversion starts without a cause; one that succeeds keeps none, and ErrorString still
    // holds the last report.
    office->ClearFailures();
    EXPECT_EQ(testing::ConvertWith(control, deck, at("next.txt"), kText), 0);
    EXPECT_TRUE(control.LastFailureCause().number == 0 && control.LastFailureCause().description.empty());
    EXPECT_EQ(A(control.get_ErrorString()), A(row.errorString));
  }
}

// A name that is not UTF-8 (the byte 0xFF) reaches the file system as it is, in and out, through the
// native engine (text) and the renderer (PDF, where it is built in).
TEST(FailureCause, NamesThatAreNotUtf8Convert) {
  testing::TempFolder dir;
  const std::string input = (dir / "deck\xFF.pptx").string();
  engines::pptx::builder::Write(engines::pptx::builder::Generated(2), input);
  const bool renderer = engines::render_bridge::RendererBuiltIn() && ::access("/usr/bin/soffice", X_OK) == 0;
  const std::pair<std::int32_t, std::string> rows[] = {{kText, ""}, {kPdf, "%PDF-"}};
  for (const auto& [target, content] : rows) {
    if (target == kPdf && !renderer) continue;  // no renderer in this build or on this machine
    const std::string output = (dir / (target == kPdf ? "out\xFE.pdf" : "out\xFE.txt")).string();
    QuorvaneX control;
    EXPECT_EQ(testing::ConvertWith(control, input, output, target), 0)
        << A(control.get_ErrorString()) << " / " << A(control.LastFailureCause().description);
    const std::string bytes = testing::ReadFile(output);
    EXPECT_FALSE(bytes.empty()) << target;
    EXPECT_NE(bytes.find(content), std::string::npos) << target;
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
