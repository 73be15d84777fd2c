// Inputs that must not harm: a conversion whose output names its own input, and hostile or damaged decks
// and special files (tools/deckmaker/hostile_decks.hpp) through every route. Each fails at once with its
// cause, or converts losing nothing; none writes an output when it fails or leaves temporary files behind.
#include <sys/stat.h>

#include <set>

#include "diagnostics/log.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/shared/render_bridge.hpp"
#include "support/fixtures.hpp"
#include "deckmaker/hostile_decks.hpp"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
namespace builder = engines::pptx::builder;
using testing::ReadFile;
using testing::hostile::HostileDeck;
using Names = std::set<std::string>;

TEST(InputSafety, OutputNamingTheInputNeverWritesIt) {
  testing::TempFolder dir;
  const fs::path deck = dir / "deck.pptx";
  builder::Write(builder::Sample(), deck.string());
  fs::create_symlink(deck, dir / "link.pptx");
  const std::string original = ReadFile(deck);
  const struct { const char* name; std::int32_t type; fs::path output; } rows[] = {
      {"text, same name", 200, deck}, {"text, dotted name", 107, dir / "." / "deck.pptx"},
      {"save-as, through a link", 24, dir / "link.pptx"}};
  for (const auto& row : rows) {
    QuorvaneX control;
    EXPECT_LT(testing::ConvertWith(control, deck, row.output, row.type), 0) << row.name;
    EXPECT_EQ(ReadFile(deck), original) << row.name << ": the input was written";
  }
}

// The folders and files the component makes for a while, in the system's temporary folder.
Names TemporaryFiles() {
  Names names;
  for (const auto& entry : fs::directory_iterator(fs::temp_directory_path()))
    if (const std::string name = entry.path().filename(); name.starts_with("quorvane-render-") || name.starts_with(".quorvane-"))
      names.insert(name);
  return names;
}

// Why the engine refuses to make a PDF of `input`: the description of what its save threw.
std::string PdfRefusal(const fs::path& input, const fs::path& output) {
  const auto application = engines::pptx::CreateApplication();
  std::string description = "(no failure)";
  testing::ThrownNumber([&] {
    const auto presentation = application->Presentations()->Open(text::FromUtf8(input.string()), -1, 0, 0);
    testing::ThrownNumber([&] { presentation->SaveAs(text::FromUtf8(output.string()), 32, 0); }, &description);
    presentation->Close();
  }, &description);
  application->Quit();
  return description;
}

TEST(InputSafety, HostileInputsFailWithTheirCauseAndLeaveNothing) {
  testing::TempFolder dir;
  fs::create_directories(dir / "tmp");
  diagnostics::SetLogFolderForTesting(text::FromUtf8(dir.path().string()));
  // A temporary folder of the test's own, where nobody else's files come and go.
  testing::ScopedVariable tmpdir("TMPDIR", (dir / "tmp").string());
  const bool renderer = engines::render_bridge::RendererBuiltIn();
  const bool office = renderer && ::access("/usr/bin/soffice", X_OK) == 0;
  const struct { const char* name; std::int32_t code; const char* extension; std::optional<std::int32_t> HostileDeck::*expected;
  } routes[] = {{"text", 107, ".txt", &HostileDeck::text}, {"save-as", 24, ".pptx", &HostileDeck::save},
                {"PDF", 32, ".pdf", &HostileDeck::pdf}};
  int row = 0;
  for (const auto& deck : testing::hostile::HostileDecks()) {
    if (!deck.fileName.ends_with(".pptx") && !renderer) continue;  // read only through the renderer
    const fs::path folder = dir / ("row" + std::to_string(++row));
    fs::create_directories(folder);
    const fs::path input = folder / deck.fileName;
    deck.write(input.string());
    const Names temporaryBefore = TemporaryFiles();
    for (const auto& route : routes) {
      const std::optional<std::int32_t> expected = deck.*route.expected;
      if (!expected || (route.code == 32 && (!renderer || ((*expected == 0 || deck.needsOffice) && !office))))
        continue;
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
        std::string keep;  // the text the export must hold, as UTF-16LE
        for (const char16_t c : deck.mustKeep) keep += {char(c & 0xFF), char(c >> 8)};
        EXPECT_TRUE(route.code != 107 || ReadFile(output).find(keep) != std::string::npos) << where << ": text lost";
      } else {
        // The cause: in the log for the text export, in ErrorString for the save-as converter's -10; where
        // it reports a catalogue text (-5 before opening, -16 for a save the office would have done), the
        // engine is asked.
        std::string cause = route.code == 107 ? ReadFile(dir / "Quorvane.log") : error;
        if (*expected == -5 || *expected == -16) cause = PdfRefusal(input, folder / "engine.pdf");
        EXPECT_NE(cause.find(deck.cause), std::string::npos) << where << ": " << cause;
        EXPECT_TRUE((route.code == 107 && deck.opens) || !fs::exists(output)) << where << ": output written";
      }
      fs::remove(output);
    }
    Names left, added;
    for (const auto& entry : fs::directory_iterator(folder)) left.insert(entry.path().filename().string());
    EXPECT_EQ(left, Names{deck.fileName}) << deck.name << ": files left beside the input";
    for (const std::string& name : TemporaryFiles())
      if (!temporaryBefore.contains(name)) added.insert(name);
    EXPECT_EQ(added, Names{}) << deck.name << ": temporary files left";
    fs::remove_all(folder);
  }
  diagnostics::SetLogFolderForTesting({});
}

// A batch whose inputs include a pipe finishes: the pipe fails at once, the others convert. A hang would
// be ended by the time limit (exit status 124), and fail the test.
TEST(InputSafety, ABatchWithAPipeAmongItsInputsFinishes) {
  testing::TempFolder dir;
  for (const char* name : {"first.pptx", "last.pptx"}) builder::Write(builder::Sample(), (dir / name).string());
  ASSERT_EQ(::mkfifo((dir / "pipe.pptx").c_str(), 0600), 0);
  const std::string output =
      testing::CommandOutput("cd '" + dir.path().string() + "' && timeout 120 '" + QUORVANE_CLI +
                             "' convert --dir out --type txt --json first.pptx pipe.pptx last.pptx 2>&1; echo \"exit $?\"");
  EXPECT_TRUE(output.ends_with("exit 10\n")) << output;
  EXPECT_NE(output.find("\"code\":-10"), std::string::npos) << output;
  EXPECT_TRUE(fs::exists(dir / "out" / "first.txt")) << output;
  EXPECT_TRUE(fs::exists(dir / "out" / "last.txt")) << output;
  EXPECT_FALSE(fs::exists(dir / "out" / "pipe.txt")) << output;
}

}  // namespace
}  // namespace quorvane
