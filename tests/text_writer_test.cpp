// The public text writer and its ANSI conversion: bytes written per encoding and locale, how files are
// opened and emptied, the file number it holds, and the run-time errors it throws.
#include "common/numbered_files.hpp"
#include "control/control.hpp"
#include "converters/ansi.hpp"
#include "support/fixtures.hpp"

namespace quorvane::detail {
namespace {

namespace fs = std::filesystem;
using quorvane::testing::ReadFile;
using quorvane::testing::ScopedLocale;
using quorvane::testing::ThrownNumber;

TEST(Ansi, ConvertsToTheCharacterSetOfTheLocale) {
  struct Row { const char* name; std::u16string text; std::string c, utf8, latin1; };
  const std::string zero("a\0b", 3);
  const Row rows[] = {
      {"ASCII with controls", u"Hi,\t1\r\v2", "Hi,\t1\r\v2", "Hi,\t1\r\v2", "Hi,\t1\r\v2"},
      {"Latin-1 letters", u"Grüße", "Gr??e", "Gr\xC3\xBC\xC3\x9F" "e", "Gr\xFC\xDF" "e"},
      {"euro sign", u"5 €", "5 ?", "5 \xE2\x82\xAC", "5 ?"},
      {"pair is one character", u"a\U0001F600b", "a?b", "a\xF0\x9F\x98\x80" "b", "a?b"},
      {"unpaired high surrogate", u"a\xD800" u"b", "a?b", "a?b", "a?b"},
      {"unpaired low surrogate", u"a\xDC00", "a?", "a?", "a?"}, {"high surrogate at the end", u"a\xDBFF", "a?", "a?", "a?"},
      {"zero stays a zero byte", std::u16string(u"a\0b", 3), zero, zero, zero}, {"empty", u"", "", "", ""}};
  const std::pair<const char*, std::string Row::*> locales[] = {
      {"C", &Row::c}, {"C.UTF-8", &Row::utf8}, {"de_DE.ISO-8859-1", &Row::latin1}};
  for (const auto& [name, expected] : locales) {
    ScopedLocale locale(name, LC_CTYPE);
    if (!locale.ok()) continue;  // not installed: scripts/setup.sh makes it
    for (const auto& row : rows) EXPECT_EQ(ansi::FromUtf16(row.text), row.*expected) << name << ": " << row.name;
  }
}

class TextWriter : public ::testing::Test {
 protected:
  void TearDown() override { control_.CloseTextFileForWriting(); }
  std::u16string PathOf(const std::string& name) const { return text::FromUtf8((dir_ / name).string()); }
  // Opens `name` under `target`, writes `values`, closes, and returns the file's bytes.
  std::string Write(const char* name, std::int32_t target, const std::vector<std::u16string>& values) {
    control_.TargetFileType = target;
    control_.OpenTextFileForWriting(PathOf(name));
    for (const auto& v : values) control_.WriteToTextFile(v);
    control_.CloseTextFileForWriting();
    return ReadFile(dir_ / name);
  }
  ScopedLocale utf8_{"C.UTF-8", LC_CTYPE};
  quorvane::testing::TempFolder dir_;
  Control control_{nullptr};
};

// Every row is written to a new file and over a longer earlier one, which is emptied first.
TEST_F(TextWriter, WritesAnsiLinesForCode200AndRawUtf16ForEveryOtherCode) {
  const struct { const char* name; std::int32_t target; std::vector<std::u16string> values; std::string bytes; } rows[] = {
      {"ANSI: each value a line", 200, {u"T", u"B"}, "T\r\nB\r\n"},
      {"ANSI: empty value is an empty line", 200, {u"", u"x", u""}, "\r\nx\r\n\r\n"},
      {"ANSI: text kept as given", 200, {u"a\r\nb\tc"}, "a\r\nb\tc\r\n"},
      {"ANSI: UTF-8 locale", 200, {u"Grüße €"}, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\r\n"},
      {"ANSI: nothing written", 200, {}, ""}, {"107: nothing written", 107, {}, ""},
      {"107: code units low byte first, no BOM", 107, {u"T\r\n", u"B"}, std::string("T\0\r\0\n\0B\0", 8)},
      {"107: empty value writes nothing", 107, {u"", u"x", u""}, std::string("x\0", 2)},
      {"107: surrogate pair as two units", 107, {u"\U0001F600"}, std::string("\x3D\xD8\x00\xDE", 4)},
      {"107: unpaired surrogate kept", 107, {std::u16string(1, char16_t(0xDC01))}, "\x01\xDC"},
      {"107: high bytes", 107, {u"\u20AC\u00FF"}, std::string("\xAC\x20\xFF\x00", 4)},
      {"any other code is binary too", 6, {u"A"}, std::string("A\0", 2)},
      {"negative code is binary too", -1, {u"A"}, std::string("A\0", 2)}};
  for (const auto& row : rows) {
    fs::remove(dir_ / "new.txt");
    quorvane::testing::WriteFile(dir_ / "old.txt", std::string(64, 'z'));
    EXPECT_EQ(Write("new.txt", row.target, row.values), row.bytes) << row.name;
    EXPECT_EQ(Write("old.txt", row.target, row.values), row.bytes) << row.name << ", over a longer file";
  }
  // The encoding is taken at every write; ANSI lines follow a single-byte locale.
  control_.TargetFileType = 200;
  control_.OpenTextFileForWriting(PathOf("out.txt"));
  control_.WriteToTextFile(u"A");
  control_.TargetFileType = 107;
  control_.WriteToTextFile(u"B");
  control_.CloseTextFileForWriting();
  EXPECT_EQ(ReadFile(dir_ / "out.txt"), std::string("A\r\nB\0", 5));
  if (ScopedLocale latin1("de_DE.ISO-8859-1", LC_CTYPE); latin1.ok()) {
    EXPECT_EQ(Write("out.txt", 200, {u"Grüße €", u"\U0001F600"}), "Gr\xFC\xDF" "e ?\r\n?\r\n");
  }
}

// The number is the lowest free one of the whole process, held while the file is open; opening again
// leaves the earlier file open (its slot is overwritten without closing).
TEST_F(TextWriter, HoldsTheLowestFreeNumberWhileTheFileIsOpen) {
  const std::int16_t expected = files::FreeFile();
  control_.TargetFileType = 107;
  control_.OpenTextFileForWriting(PathOf("a.txt"));
  EXPECT_EQ(control_.TextFileNumber, expected);
  EXPECT_TRUE(files::IsOpen(expected));
  Control other(nullptr);
  other.OpenTextFileForWriting(PathOf("b.txt"));
  EXPECT_NE(other.TextFileNumber, control_.TextFileNumber);
  other.CloseTextFileForWriting();
  control_.CloseTextFileForWriting();
  EXPECT_FALSE(files::IsOpen(expected));
  EXPECT_EQ(control_.TextFileNumber, 0) << "a closed writer holds no number that could be handed out again";
  EXPECT_NO_THROW(control_.CloseTextFileForWriting()) << "closing twice is no error";
  EXPECT_EQ(ThrownNumber([&] { control_.WriteToTextFile(u""); }), 52) << "even an empty write needs an open file";
  control_.OpenTextFileForWriting(PathOf("a.txt"));
  const std::int16_t first = control_.TextFileNumber;
  control_.OpenTextFileForWriting(PathOf("b.txt"));
  EXPECT_NE(control_.TextFileNumber, first);
  EXPECT_TRUE(files::IsOpen(first));
  files::Close(first);
}

// The writer writes in place, under the target rules of every output: refusals are run-time errors, and
// leave no number held and no file truncated; a link is kept and the file it points to written.
TEST_F(TextWriter, FailuresAreRunTimeErrorsAndLeaveNoNumberBehind) {
  fs::create_directories(dir_ / "folder");
  quorvane::testing::WriteFile(dir_ / "locked.txt", "keep");
  fs::permissions(dir_ / "locked.txt", fs::perms(0444));
  fs::create_symlink(dir_ / "nowhere", dir_ / "dangling.txt");
  fs::create_symlink(dir_ / "folder", dir_ / "to-folder.txt");
  Control holder(nullptr);
  holder.OpenTextFileForWriting(PathOf("held.txt"));
  const struct { const char* name; std::u16string path; std::int32_t number; } rows[] = {
      {"missing folder", PathOf("missing/out.txt"), failure::kPathNotFound},
      {"a folder", PathOf("folder"), failure::kPathFileAccessError}, {"empty name", u"", failure::kPathFileAccessError},
      {"open in another control", PathOf("held.txt"), failure::kFileAlreadyOpen},
      {"mode 0444, also for root", PathOf("locked.txt"), failure::kPathFileAccessError},
      {"dangling link", PathOf("dangling.txt"), failure::kPathFileAccessError},
      {"link to a folder", PathOf("to-folder.txt"), failure::kPathFileAccessError},
      {"name longer than the system allows", PathOf(std::string(256, 'n')), 64}};
  for (const auto& row : rows)
    for (const std::int32_t target : {200, 107}) {
      control_.TargetFileType = target;
      EXPECT_EQ(ThrownNumber([&] { control_.OpenTextFileForWriting(row.path); }), row.number) << row.name << target;
      EXPECT_EQ(control_.TextFileNumber, 0) << row.name << ", code " << target;
    }
  EXPECT_EQ(ReadFile(dir_ / "held.txt"), "");
  EXPECT_EQ(ReadFile(dir_ / "locked.txt"), "keep");
  EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
  holder.CloseTextFileForWriting();
  if (quorvane::testing::ImmutableFile immutable(dir_ / "held.txt"); immutable.ok()) {
    EXPECT_EQ(ThrownNumber([&] { control_.OpenTextFileForWriting(PathOf("held.txt")); }), failure::kPathFileAccessError);
  }
  quorvane::testing::WriteFile(dir_ / "victim.txt", "old");
  fs::create_symlink(dir_ / "victim.txt", dir_ / "link.txt");
  EXPECT_EQ(Write("link.txt", 200, {u"T"}), "T\r\n");
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.txt"));
  EXPECT_EQ(ReadFile(dir_ / "victim.txt"), "T\r\n");
  for (const std::int32_t target : {200, 107}) {  // a full disk fails the write
    control_.TargetFileType = target;
    control_.OpenTextFileForWriting(u"/dev/full");
    EXPECT_EQ(ThrownNumber([&] { control_.WriteToTextFile(u"x"); }), 61) << "/dev/full, code " << target;
    control_.CloseTextFileForWriting();
  }
}

}  // namespace
}  // namespace quorvane::detail
