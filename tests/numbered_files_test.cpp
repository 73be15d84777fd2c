// The process-wide numbered-file table.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/numbered_files.hpp"
#include "common/text.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::files {
namespace {

namespace fs = std::filesystem;

class NumberedFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv-files-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    for (std::int16_t n = 1; n <= kMaxFileNumber; ++n) Close(n);
    fs::remove_all(dir_);
  }
  std::u16string Path(const char* name) const { return text::FromUtf8((dir_ / name).string()); }
  std::string Read(const char* name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static std::int32_t FailureOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const AutomationError& e) {
      return e.number();
    }
    return 0;
  }
  fs::path dir_;
};

TEST_F(NumberedFiles, LowestFreeNumberFromOne) {
  EXPECT_EQ(FreeFile(), 1);
  Open(1, Path("a"), OpenMode::Output);
  EXPECT_EQ(FreeFile(), 2);
  Open(2, Path("b"), OpenMode::Output);
  Close(1);
  EXPECT_EQ(FreeFile(), 1);
  EXPECT_TRUE(IsOpen(2));
  EXPECT_FALSE(IsOpen(1));
}

TEST_F(NumberedFiles, ModesWriteAsTheirNamesSay) {
  std::ofstream(dir_ / "out") << "old longer content";
  std::ofstream(dir_ / "bin") << "old longer content";
  std::ofstream(dir_ / "log") << "line1\n";
  Open(1, Path("out"), OpenMode::Output);
  Write(1, "new");
  Close(1);
  Open(1, Path("bin"), OpenMode::Binary);
  Write(1, "new");
  Close(1);
  Open(1, Path("log"), OpenMode::Append);
  Write(1, "line2\n");
  Close(1);
  EXPECT_EQ(Read("out"), "new");
  EXPECT_EQ(Read("bin"), "new") << "binary output empties the file too";
  EXPECT_EQ(Read("log"), "line1\nline2\n");
}

TEST_F(NumberedFiles, FailuresCarryTheRunTimeErrorNumbers) {
  Open(2, Path("held"), OpenMode::Append);
  EXPECT_EQ(FailureOf([&] { Open(2, Path("other"), OpenMode::Output); }), 55) << "number in use";
  EXPECT_EQ(FailureOf([&] { Open(3, Path("held"), OpenMode::Output); }), 55) << "same file open";
  EXPECT_EQ(FailureOf([&] { Open(3, Path("missing/dir/x"), OpenMode::Output); }), 76) << "missing folder";
  EXPECT_EQ(FailureOf([&] { Open(3, text::FromUtf8(dir_.string()), OpenMode::Output); }), 75) << "a folder";
  EXPECT_EQ(FailureOf([&] { Open(0, Path("x"), OpenMode::Output); }), 52) << "number 0";
  EXPECT_EQ(FailureOf([&] { Write(9, "x"); }), 52) << "write to a closed number";
  EXPECT_EQ(FailureOf([&] { Close(9); }), 0) << "closing a closed number is no error";
}

}  // namespace
}  // namespace quorvane::files

namespace quorvane::files {
namespace {

TEST_F(NumberedFiles, AHeldFileIsNotOpenedForWritingUnderAnyName) {
  std::ofstream(dir_ / "deck.pptx") << "input bytes";
  fs::create_symlink(dir_ / "deck.pptx", dir_ / "link.pptx");
  {
    ReadHold hold(text::ToUtf8(Path("deck.pptx")));
    EXPECT_TRUE(IsHeldForReading(text::ToUtf8(Path("link.pptx"))));
    for (const char* name : {"deck.pptx", "link.pptx"})
      for (OpenMode mode : {OpenMode::Output, OpenMode::Binary, OpenMode::Append})
        EXPECT_EQ(FailureOf([&] { Open(1, Path(name), mode); }), 70) << name;
    EXPECT_EQ(Read("deck.pptx"), "input bytes");
    Open(1, Path("other.txt"), OpenMode::Output);  // other files are not affected
    Close(1);
  }
  EXPECT_FALSE(IsHeldForReading(text::ToUtf8(Path("deck.pptx"))));
  Open(1, Path("deck.pptx"), OpenMode::Output);  // released with the hold
  Close(1);
  ReadHold nothing(text::ToUtf8(Path("missing.pptx")));
  EXPECT_FALSE(IsHeldForReading(text::ToUtf8(Path("missing.pptx"))));
}

}  // namespace
}  // namespace quorvane::files
