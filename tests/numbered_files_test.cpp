// The process-wide numbered-file table: free numbers, what each mode writes, the run-time errors, and
// the hold that keeps a conversion's input from being opened for writing under any name.
#include <gtest/gtest.h>

#include "common/numbered_files.hpp"
#include "common/text.hpp"
#include "support/fixtures.hpp"

namespace quorvane::files {
namespace {

using testing::ReadFile;
using testing::ThrownNumber;
using testing::WriteFile;

class NumberedFiles : public ::testing::Test {
 protected:
  void TearDown() override {
    for (std::int16_t n = 1; n <= kMaxFileNumber; ++n) Close(n);
  }
  std::u16string Path(const char* name) const { return text::FromUtf8((dir_ / name).string()); }
  testing::TempFolder dir_;
};

TEST_F(NumberedFiles, NumbersModesAndFailures) {
  EXPECT_EQ(FreeFile(), 1);
  Open(1, Path("a"), OpenMode::Output);
  EXPECT_EQ(FreeFile(), 2);
  Open(2, Path("b"), OpenMode::Output);
  Close(1);
  EXPECT_EQ(FreeFile(), 1) << "the lowest free number";
  EXPECT_TRUE(IsOpen(2) && !IsOpen(1));
  Close(2);

  const std::pair<OpenMode, std::string> modes[] = {{OpenMode::Output, "new"}, {OpenMode::Binary, "new"},
                                                    {OpenMode::Append, "old longer contentnew"}};
  for (const auto& [mode, expected] : modes) {
    WriteFile(dir_ / "out", "old longer content");
    Open(1, Path("out"), mode);
    Write(1, "new");
    Close(1);
    EXPECT_EQ(ReadFile(dir_ / "out"), expected) << "mode " << int(mode);
  }

  Open(2, Path("held"), OpenMode::Append);
  EXPECT_EQ(ThrownNumber([&] { Open(2, Path("other"), OpenMode::Output); }), 55) << "number in use";
  EXPECT_EQ(ThrownNumber([&] { Open(3, Path("held"), OpenMode::Output); }), 55) << "same file open";
  EXPECT_EQ(ThrownNumber([&] { Open(3, Path("missing/dir/x"), OpenMode::Output); }), 76) << "missing folder";
  EXPECT_EQ(ThrownNumber([&] { Open(3, text::FromUtf8(dir_.path().string()), OpenMode::Output); }), 75) << "folder";
  EXPECT_EQ(ThrownNumber([&] { Open(0, Path("x"), OpenMode::Output); }), 52) << "number 0";
  EXPECT_EQ(ThrownNumber([&] { Write(9, "x"); }), 52) << "write to a closed number";
  EXPECT_EQ(ThrownNumber([&] { Close(9); }), 0) << "closing a closed number is no error";
}

TEST_F(NumberedFiles, AHeldFileIsNotOpenedForWritingUnderAnyName) {
  WriteFile(dir_ / "deck.pptx", "input bytes");
  std::filesystem::create_symlink(dir_ / "deck.pptx", dir_ / "link.pptx");
  {
    ReadHold hold(text::ToUtf8(Path("deck.pptx")));
    EXPECT_TRUE(IsHeldForReading(text::ToUtf8(Path("link.pptx"))));
    for (const char* name : {"deck.pptx", "link.pptx"})
      for (OpenMode mode : {OpenMode::Output, OpenMode::Binary, OpenMode::Append})
        EXPECT_EQ(ThrownNumber([&] { Open(1, Path(name), mode); }), 70) << name << ", mode " << int(mode);
    EXPECT_EQ(ReadFile(dir_ / "deck.pptx"), "input bytes");
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
