// The public text writer and its ANSI conversion: bytes written per encoding and locale, how files
// are opened and truncated, the file number it holds, and the run-time errors it throws.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "common/numbered_files.hpp"
#include "common/text.hpp"
#include "control/control.hpp"
#include "converters/ansi.hpp"
#include "support/fixtures.hpp"

namespace quorvane::detail {
namespace {

using quorvane::testing::ScopedLocale;
using quorvane::testing::ImmutableFile;

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::int32_t FailureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return 0;
}

TEST(Ansi, ConvertsToTheCharacterSetOfTheLocale) {
  struct Row {
    const char* name;
    std::u16string text;
    std::string c, utf8, latin1;  // expected under "C", "C.UTF-8", "de_DE.ISO-8859-1"
  };
  const Row rows[] = {
      {"ASCII with controls", u"Hi,\t1\r\v2", "Hi,\t1\r\v2", "Hi,\t1\r\v2", "Hi,\t1\r\v2"},
      {"Latin-1 letters", u"Grüße", "Gr??e",
       "Gr\xC3\xBC\xC3\x9F"
       "e",
       "Gr\xFC\xDF"
       "e"},
      {"euro sign", u"5 €", "5 ?", "5 \xE2\x82\xAC", "5 ?"},
      {"pair is one character", u"a\U0001F600b", "a?b",
       "a\xF0\x9F\x98\x80"
       "b",
       "a?b"},
      {"unpaired high surrogate", std::u16string(u"a") + char16_t(0xD800) + u"b", "a?b", "a?b", "a?b"},
      {"unpaired low surrogate", std::u16string(u"a") + char16_t(0xDC00), "a?", "a?", "a?"},
      {"high surrogate at the end", std::u16string(u"a") + char16_t(0xDBFF), "a?", "a?", "a?"},
      {"zero stays a zero byte", std::u16string(u"a\0b", 3), std::string("a\0b", 3), std::string("a\0b", 3),
       std::string("a\0b", 3)},
      {"empty", u"", "", "", ""},
  };
  const struct {
    const char* locale;
    std::string Row::*expected;
  } locales[] = {{"C", &Row::c}, {"C.UTF-8", &Row::utf8}, {"de_DE.ISO-8859-1", &Row::latin1}};
  for (const auto& l : locales) {
    ScopedLocale locale(l.locale, LC_CTYPE);
    if (!locale.ok()) {
      std::cout << "[ SKIPPED  ] locale " << l.locale << " is not installed (scripts/setup.sh generates it)\n";
      continue;
    }
    for (const auto& row : rows) EXPECT_EQ(ansi::FromUtf16(row.text), row.*l.expected) << l.locale << ": " << row.name;
  }
}

class TextWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qv-writer-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    ASSERT_TRUE(utf8_.ok()) << "C.UTF-8 is part of every glibc";
  }
  void TearDown() override {
    control_.CloseTextFileForWriting();
    fs::remove_all(dir_);
  }

  std::u16string PathOf(const char* name) const { return text::FromUtf8((dir_ / name).string()); }

  // Opens `name` under `target`, writes `values`, closes, and returns the file's bytes.
  std::string WriteFile(const char* name, std::int32_t target, const std::vector<std::u16string>& values) {
    control_.TargetFileType = target;
    control_.OpenTextFileForWriting(PathOf(name));
    for (const auto& v : values) control_.WriteToTextFile(v);
    control_.CloseTextFileForWriting();
    return ReadBytes(dir_ / name);
  }

  ScopedLocale utf8_{"C.UTF-8", LC_CTYPE};
  fs::path dir_;
  Control control_{nullptr};
};

TEST_F(TextWriter, WritesAnsiLinesForCode200AndRawUtf16ForEveryOtherCode) {
  struct Row {
    const char* name;
    std::int32_t target;
    std::vector<std::u16string> values;
    std::string bytes;
  };
  const Row rows[] = {
      {"ANSI: each value a line", 200, {u"T", u"B"}, "T\r\nB\r\n"},
      {"ANSI: empty value is an empty line", 200, {u"", u"x", u""}, "\r\nx\r\n\r\n"},
      {"ANSI: text kept as given", 200, {u"a\r\nb\tc"}, "a\r\nb\tc\r\n"},
      {"ANSI: UTF-8 locale",
       200,
       {u"Grüße €"},
       "Gr\xC3\xBC\xC3\x9F"
       "e \xE2\x82\xAC\r\n"},
      {"ANSI: nothing written", 200, {}, ""},
      {"107: code units low byte first, no BOM", 107, {u"T\r\n", u"B"}, std::string("T\0\r\0\n\0B\0", 8)},
      {"107: empty value writes nothing", 107, {u"", u"x", u""}, std::string("x\0", 2)},
      {"107: surrogate pair as two units", 107, {u"\U0001F600"}, std::string("\x3D\xD8\x00\xDE", 4)},
      {"107: unpaired surrogate kept", 107, {std::u16string(1, char16_t(0xDC01))}, "\x01\xDC"},
      {"107: high bytes", 107, {u"\u20AC\u00FF"}, std::string("\xAC\x20\xFF\x00", 4)},
      {"any other code is binary too", 6, {u"A"}, std::string("A\0", 2)},
      {"negative code is binary too", -1, {u"A"}, std::string("A\0", 2)},
  };
  for (const auto& row : rows) EXPECT_EQ(WriteFile("out.txt", row.target, row.values), row.bytes) << row.name;
}

TEST_F(TextWriter, AnsiLinesFollowASingleByteLocale) {
  ScopedLocale latin1("de_DE.ISO-8859-1", LC_CTYPE);
  if (!latin1.ok()) GTEST_SKIP() << "locale de_DE.ISO-8859-1 is not installed (scripts/setup.sh generates it)";
  EXPECT_EQ(WriteFile("out.txt", 200, {u"Grüße €", u"\U0001F600"}),
            "Gr\xFC\xDF"
            "e ?\r\n?\r\n");
}

TEST_F(TextWriter, TheEncodingIsTakenAtEveryWrite) {
  control_.TargetFileType = 200;
  control_.OpenTextFileForWriting(PathOf("out.txt"));
  control_.WriteToTextFile(u"A");
  control_.TargetFileType = 107;
  control_.WriteToTextFile(u"B");
  control_.CloseTextFileForWriting();
  EXPECT_EQ(ReadBytes(dir_ / "out.txt"), std::string("A\r\nB\0", 5));
}

TEST_F(TextWriter, OpeningEmptiesAnExistingFileForEveryCode) {
  for (const std::int32_t target : {200, 107, 6}) {
    std::ofstream(dir_ / "old.txt", std::ios::binary) << std::string(64, 'z');
    EXPECT_EQ(WriteFile("old.txt", target, {u"ab"}), target == 200 ? "ab\r\n" : std::string("a\0b\0", 4))
        << "code " << target << ": nothing of the longer earlier file remains";
    EXPECT_EQ(WriteFile("new.txt", target, {}), "") << "code " << target << ": a new file is created";
  }
}

TEST_F(TextWriter, HoldsTheLowestFreeNumberWhileTheFileIsOpen) {
  const std::int16_t expected = files::FreeFile();
  control_.TargetFileType = 107;
  control_.OpenTextFileForWriting(PathOf("a.txt"));
  EXPECT_EQ(control_.TextFileNumber, expected);
  EXPECT_TRUE(files::IsOpen(expected));

  Control other(nullptr);
  other.TargetFileType = 200;
  other.OpenTextFileForWriting(PathOf("b.txt"));
  EXPECT_NE(other.TextFileNumber, control_.TextFileNumber) << "numbers are shared by the whole process";
  other.CloseTextFileForWriting();

  control_.CloseTextFileForWriting();
  EXPECT_FALSE(files::IsOpen(expected));
  EXPECT_EQ(control_.TextFileNumber, 0) << "a closed writer holds no number that could be handed out again";
  EXPECT_NO_THROW(control_.CloseTextFileForWriting()) << "closing twice is no error";
  EXPECT_EQ(FailureOf([&] { control_.WriteToTextFile(u"x"); }), 52) << "writing after the close";
}

TEST_F(TextWriter, OpeningAgainLeavesTheEarlierFileOpen) {
  control_.TargetFileType = 107;
  control_.OpenTextFileForWriting(PathOf("a.txt"));
  const std::int16_t first = control_.TextFileNumber;
  control_.OpenTextFileForWriting(PathOf("b.txt"));
  EXPECT_NE(control_.TextFileNumber, first);
  EXPECT_TRUE(files::IsOpen(first)) << "the slot is overwritten without closing";
  files::Close(first);
}

// The writer writes in place, under the target rules of every output: refusals are run-time errors.
TEST_F(TextWriter, FailuresAreRunTimeErrorsAndLeaveNoNumberBehind) {
  fs::create_directories(dir_ / "folder");
  std::ofstream(dir_ / "locked.txt") << "keep";
  fs::permissions(dir_ / "locked.txt", fs::perms(0444));
  fs::create_symlink(dir_ / "nowhere", dir_ / "dangling.txt");
  fs::create_symlink(dir_ / "folder", dir_ / "to-folder.txt");
  Control holder(nullptr);
  holder.TargetFileType = 107;
  holder.OpenTextFileForWriting(PathOf("held.txt"));
  struct Row {
    const char* name;
    std::u16string path;
    std::int32_t number;
  };
  const Row rows[] = {
      {"missing folder", PathOf("missing/out.txt"), failure::kPathNotFound},
      {"a folder", PathOf("folder"), failure::kPathFileAccessError},
      {"empty name", u"", failure::kPathFileAccessError},
      {"open in another control", PathOf("held.txt"), failure::kFileAlreadyOpen},
      {"mode 0444, also for root", PathOf("locked.txt"), failure::kPathFileAccessError},
      {"dangling link", PathOf("dangling.txt"), failure::kPathFileAccessError},
      {"link to a folder", PathOf("to-folder.txt"), failure::kPathFileAccessError},
      {"name longer than the system allows", PathOf(std::string(256, 'n').c_str()), 64},
  };
  for (const auto& row : rows) {
    for (const std::int32_t target : {200, 107}) {
      control_.TargetFileType = target;
      EXPECT_EQ(FailureOf([&] { control_.OpenTextFileForWriting(row.path); }), row.number)
          << row.name << ", code " << target;
      EXPECT_EQ(control_.TextFileNumber, 0) << row.name << ", code " << target;
    }
  }
  EXPECT_EQ(ReadBytes(dir_ / "held.txt"), "") << "a refused open does not truncate the file that is open";
  EXPECT_EQ(ReadBytes(dir_ / "locked.txt"), "keep");
  EXPECT_FALSE(fs::exists(dir_ / "nowhere")) << "a dangling link creates nothing";
  holder.CloseTextFileForWriting();
  EXPECT_EQ(FailureOf([&] { control_.WriteToTextFile(u""); }), 52) << "an empty write still needs an open file";

  // An immutable file is refused as well.
  ImmutableFile immutable(dir_ / "held.txt");
  if (immutable.ok()) {
    EXPECT_EQ(FailureOf([&] { control_.OpenTextFileForWriting(PathOf("held.txt")); }), failure::kPathFileAccessError);
  }
}

TEST_F(TextWriter, ALinkWritesTheFileItPointsToAndStays) {
  std::ofstream(dir_ / "victim.txt") << "old";
  fs::create_symlink(dir_ / "victim.txt", dir_ / "link.txt");
  EXPECT_EQ(WriteFile("link.txt", 200, {u"T"}), "T\r\n");
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.txt"));
  EXPECT_EQ(ReadBytes(dir_ / "victim.txt"), "T\r\n");
}

TEST_F(TextWriter, AFullDiskFailsTheWrite) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  for (const std::int32_t target : {200, 107}) {
    control_.TargetFileType = target;
    control_.OpenTextFileForWriting(u"/dev/full");
    EXPECT_EQ(FailureOf([&] { control_.WriteToTextFile(u"x"); }), 61) << "code " << target;
    control_.CloseTextFileForWriting();
  }
}

}  // namespace
}  // namespace quorvane::detail
