// A conversion whose output names its own input fails and leaves the input as it was, whatever
// the route and however the name is spelled.
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text.hpp"
#include "engines/pptx/builder.hpp"
#include "quorvane/control.hpp"

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

}  // namespace
}  // namespace quorvane
