// Slide image export against the scripted office: file names and filters, progress, the two ways
// of opening, every row of the failure path with its report, cleanup and log line, and the filter
// name table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/numbered_files.hpp"
#include "common/text.hpp"
#include "control/control.hpp"
#include "diagnostics/log.hpp"
#include "quorvane/catalog.hpp"
#include "quorvane/control.hpp"
#include "support/scripted_office.hpp"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::Deck;
using testing::ScriptedOffice;

constexpr std::int32_t kInvalidRequest = failure::kPowerPointInvalidRequest;
constexpr std::int32_t kEFail = failure::kEFail;
const std::u16string kInput = u"/in/deck.pptx";

struct Recorder : QuorvaneXEvents {
  void Progress() override {
    progress.push_back(control->get_PercentageComplete());
    if (onProgress) onProgress(progress.size());
  }
  void onerror(std::int32_t& number, std::u16string&) override { errors.push_back(number); }
  QuorvaneX* control = nullptr;
  std::function<void(std::size_t)> onProgress;
  std::vector<float> progress;
  std::vector<std::int32_t> errors;
};

class ImageExport : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv-images-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    diagnostics::SetLogFolderForTesting(text::FromUtf8(dir_.string()));
    office_->AddFile(kInput, Deck().TitledSlides(5));
  }
  void TearDown() override {
    diagnostics::SetLogFolderForTesting(std::nullopt);
    files::Close(diagnostics::kLogFileNumber);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // A fresh control on the office, set up for a conversion of `code` into prefix /out/deck.
  std::unique_ptr<QuorvaneX> Control(std::int32_t code = 16, VariantBool optimize = kVariantTrue) {
    auto x = std::make_unique<QuorvaneX>(office_);
    x->put_InputFile(kInput);
    x->put_OutputFile(u"/out/deck");
    x->put_TargetFileType(code);
    x->put_OptimizeForSpeed(optimize);
    recorder_ = std::make_shared<Recorder>();
    recorder_->control = x.get();
    x->Advise(recorder_);
    return x;
  }

  std::vector<std::string> ExportNames() const {
    std::vector<std::string> names;
    for (const auto& e : office_->Exports()) names.push_back(text::ToUtf8(e.fileName) + " " + text::ToUtf8(e.filter));
    return names;
  }

  // The log's lines, each checked for the date and time in front and returned without them.
  std::vector<std::string> LogMessages() const {
    std::ifstream in(dir_ / "Quorvane.log", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string all = s.str();
    std::vector<std::string> messages;
    const std::regex line(R"((\d\d-[A-Za-z]{3}-\d{4}, \d\d:\d\d:\d\d : )(.*))");
    std::size_t start = 0;
    while (start < all.size()) {
      const std::size_t end = all.find("\r\n", start);
      if (end == std::string::npos) {
        ADD_FAILURE() << "log line without CR LF: " << all.substr(start);
        break;
      }
      std::smatch m;
      const std::string text = all.substr(start, end - start);
      if (std::regex_match(text, m, line)) messages.push_back(m[2]);
      else ADD_FAILURE() << "malformed log line: " << text;
      start = end + 2;
    }
    return messages;
  }

  fs::path dir_;
  std::shared_ptr<ScriptedOffice> office_ = std::make_shared<ScriptedOffice>();
  std::shared_ptr<Recorder> recorder_;
};

TEST_F(ImageExport, OneFilePerSlideNamedFromTheOutputPrefix) {
  struct Row {
    const char* name;
    std::u16string output;
    std::int32_t code, start, end;
    std::vector<std::string> files;
  };
  const Row rows[] = {
      {"whole deck as GIF", u"/out/deck", 16, 0, 0,
       {"/out/deckSlide1.GIF GIF", "/out/deckSlide2.GIF GIF", "/out/deckSlide3.GIF GIF", "/out/deckSlide4.GIF GIF",
        "/out/deckSlide5.GIF GIF"}},
      {"prefix keeps its extension", u"/out/deck.gif", 16, 1, 2,
       {"/out/deck.gifSlide1.GIF GIF", "/out/deck.gifSlide2.GIF GIF"}},
      {"the presentation's own numbers", u"/out/deck", 18, 4, 5, {"/out/deckSlide4.PNG PNG", "/out/deckSlide5.PNG PNG"}},
      {"JPEG", u"/out/p", 17, 2, 2, {"/out/pSlide2.JPG JPG"}},
      {"bitmap", u"/out/p", 19, 3, 3, {"/out/pSlide3.BMP BMP"}},
      {"TIFF", u"/out/p", 21, 1, 1, {"/out/pSlide1.TIF TIF"}},
      {"metafile", u"/out/p", 100, 5, 9, {"/out/pSlide5.EMF EMF"}},
      {"a folder as prefix", u"/out/", 16, 1, 1, {"/out/Slide1.GIF GIF"}},
  };
  for (const auto multi : {kVariantFalse, kVariantTrue}) {
    for (const auto& row : rows) {
      const std::string name = std::string(row.name) + (multi ? " (MultiFileOutput)" : "");
      office_->ClearLog();
      const auto exportsBefore = office_->Exports().size();
      auto x = Control(row.code);
      x->put_OutputFile(row.output);
      x->put_StartSlide(row.start);
      x->put_EndSlide(row.end);
      x->put_MultiFileOutput(multi);
      EXPECT_EQ(x->ConvertFile(), 0) << name;
      std::vector<std::string> names = ExportNames();
      names.erase(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(exportsBefore));
      EXPECT_EQ(names, row.files) << name;
      for (auto e = office_->Exports().begin() + static_cast<std::ptrdiff_t>(exportsBefore); e != office_->Exports().end(); ++e)
        EXPECT_TRUE(e->scaleWidth == 0 && e->scaleHeight == 0) << name << ": default picture size";
      EXPECT_TRUE(recorder_->errors.empty()) << name;
    }
  }
  EXPECT_FALSE(fs::exists(dir_ / "Quorvane.log")) << "successful runs write no log";
}

TEST_F(ImageExport, CallsOfOneRun) {
  // The whole conversation with PowerPoint, with and without keeping it running.
  for (const auto optimize : {kVariantTrue, kVariantFalse}) {
    office_ = std::make_shared<ScriptedOffice>();
    office_->AddFile(kInput, Deck().TitledSlides(2));
    auto x = Control(16, optimize);
    x->put_StartSlide(2);
    x->put_EndSlide(2);
    EXPECT_EQ(x->ConvertFile(), 0);
    std::vector<std::string> expected = {
        "CreatePowerPoint", "PowerPoint.Version", "PowerPoint.Presentations",
        "Presentations.Open(/in/deck.pptx, 1, 1, 0)", "Presentation.Slides", "Slides.Count",
        "Presentation.Slides", "Slides.Item(2)", "Slide.Export(/out/deckSlide2.GIF, GIF, 0, 0)",
        "Presentation.Close"};
    if (optimize == kVariantFalse) expected.push_back("PowerPoint.Quit");
    EXPECT_EQ(office_->Log(), expected) << "OptimizeForSpeed " << optimize;
  }
}

TEST_F(ImageExport, VersionEightOpensTwiceAndKeepsTheSecond) {
  struct Row {
    std::u16string version;
    std::vector<std::string> opens;
  };
  const Row rows[] = {
      {u"8.0", {"Presentations.Open(/in/deck.pptx, 0, 0, -1)", "Presentations.Open(/in/deck.pptx, 1, 0, 0)"}},
      {u"80", {"Presentations.Open(/in/deck.pptx, 0, 0, -1)", "Presentations.Open(/in/deck.pptx, 1, 0, 0)"}},
      {u"9.0", {"Presentations.Open(/in/deck.pptx, 1, 1, 0)"}},
      {u"16.0", {"Presentations.Open(/in/deck.pptx, 1, 1, 0)"}},
      {u"18.0", {"Presentations.Open(/in/deck.pptx, 1, 1, 0)"}},
  };
  for (const auto& row : rows) {
    office_ = std::make_shared<ScriptedOffice>();
    office_->AddFile(kInput, Deck().TitledSlides(2));
    office_->options().powerPointVersion = row.version;
    auto x = Control();
    EXPECT_EQ(x->ConvertFile(), 0) << text::ToUtf8(row.version);
    EXPECT_EQ(office_->Log("Presentations.Open"), row.opens) << text::ToUtf8(row.version);
    const auto& opened = office_->OpenedPresentations();
    ASSERT_EQ(opened.size(), row.opens.size());
    // Only the presentation kept is closed; the first of two stays open in PowerPoint.
    EXPECT_TRUE(opened.back()->closed) << text::ToUtf8(row.version);
    if (opened.size() == 2) {
      EXPECT_FALSE(opened.front()->closed);
    }
    EXPECT_EQ(office_->Exports().size(), 2u);
    EXPECT_EQ(office_->Exports().front().source, kInput);
  }
}

TEST_F(ImageExport, ProgressBeforeEachSlideAndOnceMoreAtTheEnd) {
  struct Row {
    const char* name;
    int slides;
    std::int32_t start, end;
    std::int32_t result;
    std::vector<float> progress;
    std::size_t exports;
  };
  const float third = 100.0f / 3.0f;
  const Row rows[] = {
      {"one slide", 5, 2, 2, 0, {0, 100, 100}, 1},
      {"three slides", 5, 2, 4, 0, {0, third, third + third, 100, 100}, 3},
      {"start two above end: nothing to do", 3, 5, 6, 0, {0, 100}, 0},
      {"start one above end: division by zero", 3, 4, 6, -10, {0}, 0},
      {"no slides: division by zero", 0, 1, 0, -10, {0}, 0},
  };
  for (const auto& row : rows) {
    office_ = std::make_shared<ScriptedOffice>();
    office_->AddFile(kInput, Deck().TitledSlides(row.slides));
    auto x = Control();
    x->put_StartSlide(row.start);
    x->put_EndSlide(row.end);
    EXPECT_EQ(x->ConvertFile(), row.result) << row.name;
    ASSERT_EQ(recorder_->progress.size(), row.progress.size()) << row.name;
    for (std::size_t i = 0; i < row.progress.size(); ++i)
      EXPECT_FLOAT_EQ(recorder_->progress[i], row.progress[i]) << row.name << " event " << i;
    EXPECT_EQ(office_->Exports().size(), row.exports) << row.name;
    if (row.result == -10) {
      EXPECT_EQ(recorder_->errors, std::vector<std::int32_t>{-10}) << row.name;
      EXPECT_EQ(x->get_ErrorString(), u"Conversion Failed. PowerPoint installed?") << row.name;
      EXPECT_EQ(office_->Log("Presentation.Close").size(), 1u) << row.name;
    }
  }
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{"11 - Division by zero", "11 - Division by zero"}));
}

TEST_F(ImageExport, NameAndFilterAreReadAfreshForEverySlide) {
  auto x = Control(16);
  x->put_EndSlide(3);
  // The host changes both from its handler of the second slide's Progress event (event 3: 0, 1st, 2nd).
  recorder_->onProgress = [&](std::size_t n) {
    if (n == 3) {
      x->put_OutputFile(u"/other/pic");
      x->put_TargetFileType(18);
    }
  };
  EXPECT_EQ(x->ConvertFile(), 0);
  EXPECT_EQ(ExportNames(), (std::vector<std::string>{"/out/deckSlide1.GIF GIF", "/other/picSlide2.PNG PNG",
                                                     "/other/picSlide3.PNG PNG"}));
}

// One row of the failure path: a failure injected into the office and everything that follows.
struct FailureRow {
  const char* name;
  std::function<void(ScriptedOffice&)> inject;
  std::int32_t result;
  std::vector<std::int32_t> errors;  // onerror codes in order
  std::size_t closes;                // Presentation.Close calls
  std::vector<std::string> log;      // log messages
  std::size_t exports;               // slides exported, of 3
};

TEST_F(ImageExport, FailurePathRows) {
  const std::string scripted = "Scripted failure";
  const FailureRow rows[] = {
      {"429 on an export", [](ScriptedOffice& o) { o.FailOn("Slide.Export", 2, 429); }, -9, {-9}, 1,
       {"429 - " + scripted}, 1},
      {"429 on opening", [](ScriptedOffice& o) { o.FailOn("Presentations.Open", 1, 429); }, -9, {-9}, 0,
       {"429 - " + scripted}, 0},
      {"48 on an export", [](ScriptedOffice& o) { o.FailOn("Slide.Export", 1, 48); }, -1, {-1}, 1,
       {"48 - " + scripted}, 0},
      {"filter refused with E_FAIL", [](ScriptedOffice& o) { o.options().exportFilters = {u"PNG"}; }, -17, {-17}, 1,
       {"-2147467259 - Slide.Export : PowerPoint can't export the slide(s) because no installed converter supports "
        "this file type."},
       0},
      {"missing input (E_FAIL on opening)", [](ScriptedOffice& o) { o.FailOn("Presentations.Open", 1, kEFail); }, -17,
       {-17}, 0, {"-2147467259 - " + scripted}, 0},
      {"any other number: 75", [](ScriptedOffice& o) { o.FailOn("Slide.Export", 3, 75, u"Path/File access error"); },
       -10, {-10}, 1, {"75 - Path/File access error"}, 2},
      {"any other number on the version", [](ScriptedOffice& o) { o.FailOn("PowerPoint.Version", 1, 462); }, -10,
       {-10}, 0, {"462 - " + scripted}, 0},
      {"any other number on closing", [](ScriptedOffice& o) { o.FailOn("Presentation.Close", 1, 70); }, -10, {-10}, 2,
       {"70 - " + scripted}, 3},
      {"55 once: reported, repeated, success", [](ScriptedOffice& o) { o.FailOn("Slide.Export", 2, 55); }, 0, {-3}, 1,
       {}, 3},
      {"55 on every try: three reports, then the last row",
       [](ScriptedOffice& o) { o.FailFrom("Slide.Export", 2, 55); }, -10, {-3, -3, -3, -10}, 1,
       {"55 - " + scripted}, 1},
      {"55 on opening, twice", [](ScriptedOffice& o) { o.FailOn("Presentations.Open", 1, 55).Times(2); }, 0,
       {-3, -3}, 1, {}, 3},
      {"invalid request on a slide without groups: repeat limit",
       [](ScriptedOffice& o) { o.FailFrom("Slide.Export", 1, kInvalidRequest); }, -10, {-10}, 1,
       {"-2147188160 - " + scripted}, 0},
      {"invalid request outside the slides: repeat limit",
       [](ScriptedOffice& o) { o.FailFrom("Presentations.Open", 1, kInvalidRequest); }, -10, {-10}, 0,
       {"-2147188160 - " + scripted}, 0},
      {"invalid request once: no report, repeated",
       [](ScriptedOffice& o) { o.FailOn("Slide.Export", 2, kInvalidRequest); }, 0, {}, 1, {}, 3},
      {"run-time error 7 while clamping the range",
       [](ScriptedOffice& o) { o.FailOn("Slides.Count", 1, 7, u"Out of memory"); }, -10, {-10}, 1,
       {"7 - Out of memory"}, 0},
  };
  for (const auto optimize : {kVariantTrue, kVariantFalse}) {
    for (const auto& row : rows) {
      const std::string name = std::string(row.name) + (optimize ? "" : " (PowerPoint ended)");
      office_ = std::make_shared<ScriptedOffice>();
      office_->AddFile(kInput, Deck().TitledSlides(5));
      fs::remove(dir_ / "Quorvane.log");
      auto x = Control(16, optimize);
      x->put_EndSlide(3);
      row.inject(*office_);
      EXPECT_EQ(x->ConvertFile(), row.result) << name;
      EXPECT_EQ(recorder_->errors, row.errors) << name;
      if (!row.errors.empty()) {
        EXPECT_EQ(x->get_ErrorString(), catalog::ErrorMessage(row.errors.back())) << name;
      }
      EXPECT_EQ(office_->Log("Presentation.Close").size(), row.closes) << name;
      EXPECT_EQ(office_->Log("PowerPoint.Quit").size(), optimize ? 0u : 1u) << name;
      EXPECT_EQ(office_->Exports().size(), row.exports) << name;
      EXPECT_EQ(LogMessages(), row.log) << name;
    }
  }
}

TEST_F(ImageExport, FileAlreadyOpenClosesTheLogsNumber) {
  const std::u16string other = text::FromUtf8((dir_ / "held.txt").string());
  files::Open(diagnostics::kLogFileNumber, other, files::OpenMode::Output);
  office_->FailOn("Slide.Export", 1, 55);
  auto x = Control();
  x->put_EndSlide(1);
  EXPECT_EQ(x->ConvertFile(), 0);
  EXPECT_FALSE(files::IsOpen(diagnostics::kLogFileNumber));
  EXPECT_EQ(office_->Log("Slide.Export").size(), 2u) << "the failed export is performed again";
}

TEST_F(ImageExport, InvalidRequestUngroupsTheGroupsOfTheSlide) {
  using namespace testing;
  office_ = std::make_shared<ScriptedOffice>();
  office_->AddFile(kInput, Deck()
                               .Slide({Title(u"one")})
                               .Slide({Title(u"two"), Group({TextBox(u"a"), Group({TextBox(u"b")})}), Picture(),
                                       Group({TextBox(u"c")})}));
  office_->FailOn("Slide.Export", 2, kInvalidRequest);
  auto x = Control();
  EXPECT_EQ(x->ConvertFile(), 0);
  EXPECT_TRUE(recorder_->errors.empty());
  EXPECT_EQ(office_->Log("Shape.Ungroup").size(), 2u);
  std::vector<std::int32_t> types;
  for (const auto& shape : office_->OpenedPresentations().front()->deck.slides[1]->shapes) types.push_back(shape->type);
  // Both groups of slide 2 became their members, one level deep; the nested group came to the top.
  EXPECT_EQ(types, (std::vector<std::int32_t>{14, 17, 6, 13, 17}));
  EXPECT_EQ(ExportNames(), (std::vector<std::string>{"/out/deckSlide1.GIF GIF", "/out/deckSlide2.GIF GIF"}));
  EXPECT_FALSE(fs::exists(dir_ / "Quorvane.log"));
}

TEST_F(ImageExport, NestedGroupsAreUngroupedOneLevelPerFailure) {
  using namespace testing;
  office_ = std::make_shared<ScriptedOffice>();
  office_->AddFile(kInput, Deck().Slide({Group({Group({Group({TextBox(u"deep")})})})}));
  office_->FailFrom("Slide.Export", 1, kInvalidRequest);
  auto x = Control();
  EXPECT_EQ(x->ConvertFile(), -10);
  EXPECT_EQ(office_->Log("Slide.Export").size(), 3u) << "three tries";
  EXPECT_EQ(office_->Log("Shape.Ungroup").size(), 3u);
  EXPECT_EQ(recorder_->errors, std::vector<std::int32_t>{-10});
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"-2147188160 - Scripted failure"});
}

TEST_F(ImageExport, FailuresInsideThePathLeaveTheConversion) {
  struct Row {
    const char* name;
    std::function<void(ScriptedOffice&)> inject;
    std::int32_t escaping;
    std::vector<std::int32_t> errors;
  };
  const Row rows[] = {
      {"ungrouping fails",
       [](ScriptedOffice& o) {
         o.FailOn("Slide.Export", 1, kInvalidRequest);
         o.FailOn("Shape.Type", 1, 91);
       },
       91, {}},
      {"closing in the cleanup fails",
       [](ScriptedOffice& o) {
         o.FailOn("Slide.Export", 1, 75);
         o.FailOn("Presentation.Close", 1, 462);
       },
       462, {-10}},  // reported before the cleanup ran
  };
  for (const auto& row : rows) {
    office_ = std::make_shared<ScriptedOffice>();
    office_->AddFile(kInput, Deck().Slide({testing::Group({testing::TextBox(u"a")})}));
    row.inject(*office_);
    auto x = Control();
    try {
      x->ConvertFile();
      ADD_FAILURE() << row.name << ": expected an automation failure";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), row.escaping) << row.name;
    }
    EXPECT_EQ(recorder_->errors, row.errors) << row.name;
    EXPECT_FALSE(fs::exists(dir_ / "Quorvane.log")) << row.name;
  }
}

TEST_F(ImageExport, QuitOutcome) {
  struct Row {
    const char* name;
    bool exportFails;
    std::int32_t result;
    std::vector<std::int32_t> errors;
    std::vector<std::string> log;
  };
  const Row rows[] = {
      {"after success: -13", false, -13, {-13}, {}},
      {"on the failure path: ignored, the log still names the first failure", true, -17, {-17, -13},
       {"-2147467259 - Scripted failure"}},
  };
  for (const auto& row : rows) {
    office_ = std::make_shared<ScriptedOffice>();
    office_->AddFile(kInput, Deck().TitledSlides(1));
    fs::remove(dir_ / "Quorvane.log");
    office_->FailOn("PowerPoint.Quit", 1, 462);
    if (row.exportFails) office_->FailOn("Slide.Export", 1, kEFail);
    auto x = Control(16, kVariantFalse);
    EXPECT_EQ(x->ConvertFile(), row.result) << row.name;
    EXPECT_EQ(recorder_->errors, row.errors) << row.name;
    EXPECT_EQ(LogMessages(), row.log) << row.name;
  }
}

TEST_F(ImageExport, AFailureAfterClosingDoesNotCloseAgain) {
  // The host's onerror handler fails on the -13 of a failed quit, after the presentation was closed.
  struct Throwing : QuorvaneXEvents {
    void onerror(std::int32_t& number, std::u16string&) override {
      errors.push_back(number);
      if (number == -13) throw AutomationError(5, u"handler failed");
    }
    std::vector<std::int32_t> errors;
  };
  office_->FailOn("PowerPoint.Quit", 1, 462);
  auto x = Control(16, kVariantFalse);
  x->put_EndSlide(1);
  auto throwing = std::make_shared<Throwing>();
  x->Advise(throwing);
  EXPECT_EQ(x->ConvertFile(), -10);
  EXPECT_EQ(throwing->errors, (std::vector<std::int32_t>{-13, -10}));
  EXPECT_EQ(office_->Log("Presentation.Close").size(), 1u);
  EXPECT_EQ(LogMessages(), std::vector<std::string>{"5 - handler failed"});
}

TEST_F(ImageExport, PowerPointThatCannotStart) {
  office_->FailFrom("CreatePowerPoint", 1, 429);
  auto x = Control();
  EXPECT_EQ(x->ConvertFile(), -12);
  EXPECT_EQ(recorder_->errors, std::vector<std::int32_t>{-12});
  EXPECT_TRUE(office_->Log("Presentations.").empty());
  EXPECT_FALSE(fs::exists(dir_ / "Quorvane.log")) << "the start reports its own failure; no log line";
}

TEST_F(ImageExport, TwoFailuresGiveTwoLinesInOrder) {
  auto x = Control();
  office_->FailOn("Slide.Export", 1, 429, u"first");
  EXPECT_EQ(x->ConvertFile(), -9);
  office_->FailOn("Slide.Export", 1, 48, u"second");
  EXPECT_EQ(x->ConvertFile(), -1);
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{"429 - first", "48 - second"}));
}

TEST_F(ImageExport, AnUnwritableLogChangesNothingElse) {
  struct Row {
    const char* name;
    fs::path folder;
    bool immutable;
  };
  const Row rows[] = {
      {"writable", dir_, false},
      {"missing folder", dir_ / "missing", false},
      {"immutable folder", dir_ / "locked", true},
  };
  for (const auto& row : rows) {
    if (row.immutable) {
      fs::create_directories(row.folder);
      if (std::system(("chattr +i '" + row.folder.string() + "' 2>/dev/null").c_str()) != 0) {
        std::cout << "chattr +i is not possible here: row skipped\n";
        continue;
      }
    }
    diagnostics::SetLogFolderForTesting(text::FromUtf8(row.folder.string()));
    office_->ClearFailures();
    office_->FailOn("Slide.Export", 1, kEFail);
    auto x = Control();
    const std::int32_t result = x->ConvertFile();
    if (row.immutable) (void)std::system(("chattr -i '" + row.folder.string() + "'").c_str());
    EXPECT_EQ(result, -17) << row.name;
    EXPECT_EQ(recorder_->errors, std::vector<std::int32_t>{-17}) << row.name;
    EXPECT_EQ(x->get_ErrorString(),
              u"PowerPoint can't export the slide(s) because no installed converter supports this file type.")
        << row.name;
    EXPECT_EQ(fs::exists(row.folder / "Quorvane.log"), row.folder == dir_) << row.name;
    EXPECT_FALSE(files::IsOpen(diagnostics::kLogFileNumber)) << row.name;
  }
}

TEST(ImageFilterName, Table) {
  const std::pair<std::int32_t, std::u16string> rows[] = {
      {15, u"WMF"}, {16, u"GIF"}, {17, u"JPG"}, {18, u"PNG"}, {19, u"BMP"},  {20, u"MHT"}, {21, u"TIF"},
      {100, u"EMF"}, {101, u"DOC"}, {106, u"RTF"}, {107, u"TXT"}, {108, u"HTM"}, {200, u"TXT"},
      {0, u""},     {22, u""},     {23, u""},     {32, u""},     {-16, u""},    {116, u""},   {2147483647, u""},
  };
  for (const auto& [code, name] : rows) EXPECT_EQ(detail::Control::ImageFilterName(code), name) << code;
}

}  // namespace
}  // namespace quorvane
