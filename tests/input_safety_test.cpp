// Inputs that must not harm: a conversion whose output names its own input, and hostile or
// damaged decks and special files (tests/support/hostile_decks.hpp) through every route. Each
// fails at once with its cause, or converts losing nothing; none writes an output when it fails or
// leaves temporary files behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "common/text.hpp"
#include "diagnostics/log.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/render_bridge.hpp"
#include "quorvane/automation_error.hpp"
#include "quorvane/control.hpp"
#include "support/fixtures.hpp"
#include "deckmaker/hostile_decks.hpp"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
namespace builder = engines::pptx::builder;

std::string Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(InputSafety, OutputNamingTheInputNeverWritesIt) {
  const fs::path dir = fs::temp_directory_path() / ("qv-input-safety-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path deck = dir / "deck.pptx";
  builder::Write(builder::Sample(), deck.string());
  fs::create_symlink(deck, dir / "link.pptx");
  const std::string original = Bytes(deck);
  struct Row {
    const char* name;
    std::int32_t type;
    fs::path output;
  };
  const Row rows[] = {
      {"text, same name", 200, deck},
      {"unicode text, same name", 107, deck},
      {"text, through a link", 200, dir / "link.pptx"},
      {"text, dotted name", 200, dir / "." / "deck.pptx"},
      {"save-as, same name", 24, deck},
      {"save-as, through a link", 24, dir / "link.pptx"},
  };
  for (const auto& row : rows) {
    QuorvaneX control;
    control.put_InputFile(text::FromUtf8(deck.string()));
    control.put_OutputFile(text::FromUtf8(row.output.string()));
    control.put_TargetFileType(row.type);
    EXPECT_LT(control.ConvertFile(), 0) << row.name;
    EXPECT_EQ(Bytes(deck), original) << row.name << ": the input was written";
  }
  fs::remove_all(dir);
}

// The folders and files the component makes for a while, in the system's temporary folder.
std::set<std::string> TemporaryFiles() {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::temp_directory_path())) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("quorvane-render-") || name.starts_with(".quorvane-")) names.insert(name);
  }
  return names;
}

std::u16string Utf16Le(const std::string& bytes) {
  std::u16string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  return out;
}

// Why the engine refuses to make a PDF of `input`: the description of what its save threw.
std::string PdfRefusal(const fs::path& input, const fs::path& output) {
  const auto application = engines::pptx::CreateApplication();
  std::string description = "(no failure)";
  try {
    const auto presentation = application->Presentations()->Open(text::FromUtf8(input.string()), -1, 0, 0);
    try {
      presentation->SaveAs(text::FromUtf8(output.string()), 32, 0);
    } catch (const AutomationError& e) {
      description = text::ToUtf8(e.description());
    }
    presentation->Close();
  } catch (const AutomationError& e) {
    description = text::ToUtf8(e.description());
  }
  application->Quit();
  return description;
}

TEST(InputSafety, HostileInputsFailWithTheirCauseAndLeaveNothing) {
  const fs::path dir = fs::temp_directory_path() / ("qv-hostile-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "tmp");
  diagnostics::SetLogFolderForTesting(text::FromUtf8(dir.string()));
  // A temporary folder of the test's own, where nobody else's files come and go.
  const char* const savedTmp = std::getenv("TMPDIR");
  const std::string previousTmp = savedTmp != nullptr ? savedTmp : "";
  ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
  const bool renderer = engines::render_bridge::RendererBuiltIn();
  const bool office = renderer && ::access("/usr/bin/soffice", X_OK) == 0;
  struct Route {
    const char* name;
    std::int32_t code;
    const char* extension;
    std::optional<std::int32_t> testing::hostile::HostileDeck::*expected;
  };
  const Route routes[] = {{"text", 107, ".txt", &testing::hostile::HostileDeck::text},
                          {"save-as", 24, ".pptx", &testing::hostile::HostileDeck::save},
                          {"PDF", 32, ".pdf", &testing::hostile::HostileDeck::pdf}};
  int row = 0;
  for (const auto& deck : testing::hostile::HostileDecks()) {
    const bool foreign = !deck.fileName.ends_with(".pptx");
    if (foreign && !renderer) continue;  // read only through the renderer
    const fs::path folder = dir / ("row" + std::to_string(++row));
    fs::create_directories(folder);
    const fs::path input = folder / deck.fileName;
    deck.write(input.string());
    const std::set<std::string> temporaryBefore = TemporaryFiles();
    for (const Route& route : routes) {
      const std::optional<std::int32_t> expected = deck.*route.expected;
      if (!expected) continue;
      const bool officeRuns = route.code == 32 && (*expected == 0 || deck.needsOffice);
      if (officeRuns && !office) continue;
      const std::string where = deck.name + ", " + route.name;
      const fs::path output = folder / (std::string("out") + route.extension);
      fs::remove(dir / "Quorvane.log");
      QuorvaneX control;
      control.put_OptimizeForSpeed(kVariantFalse);
      const std::int32_t result = testing::ConvertWith(control, input, output, route.code);
      const std::string error = text::ToUtf8(control.get_ErrorString());
      EXPECT_EQ(result, *expected) << where << ": " << error;
      if (*expected == 0) {
        EXPECT_TRUE(fs::exists(output)) << where;
        if (route.code == 107 && !deck.mustKeep.empty()) {
          EXPECT_NE(Utf16Le(Bytes(output)).find(deck.mustKeep), std::u16string::npos) << where << ": text lost";
        }
        fs::remove(output);
        continue;
      }
      // The cause: in the log for the text export, in ErrorString for the save-as converter's -10;
      // where it reports a catalogue text (-5 before opening, -16 for a save the office would have
      // done), the engine is asked.
      std::string cause = error;
      if (route.code == 107) cause = Bytes(dir / "Quorvane.log");
      if (*expected == -5 || *expected == -16) cause = PdfRefusal(input, folder / "engine.pdf");
      EXPECT_NE(cause.find(deck.cause), std::string::npos) << where << ": " << cause;
      if (!(route.code == 107 && deck.opens)) {
        EXPECT_FALSE(fs::exists(output)) << where << ": output written";
      }
      fs::remove(output);
    }
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder)) left.insert(entry.path().filename().string());
    EXPECT_EQ(left, std::set<std::string>{deck.fileName}) << deck.name << ": files left beside the input";
    std::set<std::string> added;
    for (const std::string& name : TemporaryFiles())
      if (!temporaryBefore.contains(name)) added.insert(name);
    EXPECT_EQ(added, std::set<std::string>{}) << deck.name << ": temporary files left";
    fs::remove_all(folder);
  }
  if (savedTmp != nullptr) {
    ::setenv("TMPDIR", previousTmp.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  diagnostics::SetLogFolderForTesting({});
  fs::remove_all(dir);
}

// A batch whose inputs include a pipe finishes: the pipe fails at once, the others convert.
TEST(InputSafety, ABatchWithAPipeAmongItsInputsFinishes) {
  const fs::path dir = fs::temp_directory_path() / ("qv-hostile-batch-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  builder::Write(builder::Sample(), (dir / "first.pptx").string());
  builder::Write(builder::Sample(), (dir / "last.pptx").string());
  ASSERT_EQ(::mkfifo((dir / "pipe.pptx").c_str(), 0600), 0);
  // A hang would be ended by the time limit (exit status 124), and fail the test.
  const std::string command = "cd '" + dir.string() + "' && timeout 120 '" + std::string(QUORVANE_CLI) +
                              "' convert --dir out --type txt --json first.pptx pipe.pptx last.pptx 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = ::pclose(pipe);
  EXPECT_EQ(WEXITSTATUS(status), 10) << output;
  EXPECT_NE(output.find("\"code\":-10"), std::string::npos) << output;
  EXPECT_TRUE(fs::exists(dir / "out" / "first.txt")) << output;
  EXPECT_TRUE(fs::exists(dir / "out" / "last.txt")) << output;
  EXPECT_FALSE(fs::exists(dir / "out" / "pipe.txt")) << output;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace quorvane
