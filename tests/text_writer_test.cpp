// Numbered files and the two writers on them: the process-wide table (free numbers, what each mode
// writes, the run-time errors, the hold that keeps a conversion's input from being opened for writing),
// the public text writer with its ANSI conversion (bytes per encoding and locale, files emptied, the
// number it holds, its refusals), and the diagnostic log (where it goes, one line under several locales,
// never failing towards its caller).
#include <regex>

#include "common/numbered_files.hpp"
#include "common/text.hpp"
#include "control/control.hpp"
#include "common/ansi.hpp"
#include "diagnostics/log.hpp"
#include "support/fixtures.hpp"

namespace quorvane::detail {
namespace {

namespace fs = std::filesystem;
using files::OpenMode;
using quorvane::testing::ReadFile;
using quorvane::testing::ScopedLocale;
using quorvane::testing::ThrownNumber;
using quorvane::testing::WriteFile;

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day, t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
  const std::time_t when = ::timegm(&t);  // fills in the week day for the time formats that show it
  ::gmtime_r(&when, &t);
  return t;
}

// A scratch folder, which is the log's folder too, and a control; every file number is closed after.
class Files : public ::testing::Test {
 protected:
  void SetUp() override { diagnostics::SetLogFolderForTesting(text::FromUtf8(dir_.path().string())); }
  void TearDown() override {
    diagnostics::SetLogFolderForTesting(std::nullopt);
    for (std::int16_t n = 1; n <= files::kMaxFileNumber; ++n) files::Close(n);
  }
  std::u16string PathOf(const std::string& name) const { return text::FromUtf8((dir_ / name).string()); }
  // Opens `name` under `target`, writes `values`, closes, and returns the file's bytes.
  std::string Write(const char* name, std::int32_t target, const std::vector<std::u16string>& values) {
    control_.TargetFileType = target;
    control_.OpenTextFileForWriting(PathOf(name));
    for (const auto& v : values) control_.WriteToTextFile(v);
    control_.CloseTextFileForWriting();
    return ReadFile(dir_ / name);
  }
  std::string LogText() const { return ReadFile(dir_ / "Quorvane.log"); }
  ScopedLocale utf8_{"C.UTF-8", LC_CTYPE};
  quorvane::testing::TempFolder dir_;
  Control control_{nullptr};
};
using NumberedFiles = Files;
using TextWriter = Files;
using Log = Files;

TEST_F(NumberedFiles, NumbersModesAndFailures) {
  EXPECT_EQ(files::FreeFile(), 1);
  files::Open(1, PathOf("a"), OpenMode::Output);
  EXPECT_EQ(files::FreeFile(), 2);
  files::Open(2, PathOf("b"), OpenMode::Output);
  files::Close(1);
  EXPECT_EQ(files::FreeFile(), 1) << "the lowest free number";
  EXPECT_TRUE(files::IsOpen(2) && !files::IsOpen(1));
  files::Close(2);

  files::Open(2, PathOf("held"), OpenMode::Append);
  EXPECT_EQ(ThrownNumber([&] { files::Open(2, PathOf("other"), OpenMode::Output); }), 55) << "number in use";
  EXPECT_EQ(ThrownNumber([&] { files::Open(0, PathOf("x"), OpenMode::Output); }), 52) << "number 0";
  EXPECT_EQ(ThrownNumber([&] { files::Open(files::kMaxFileNumber + 1, PathOf("x"), OpenMode::Output); }), 52)
      << "past the highest number";
  EXPECT_EQ(ThrownNumber([&] { files::Open(files::kMaxFileNumber, PathOf("x"), OpenMode::Output); }), 0)
      << "the highest number";
  files::Close(files::kMaxFileNumber);
  EXPECT_EQ(ThrownNumber([&] { files::Write(9, "x"); }), 52) << "write to a closed number";
  EXPECT_EQ(ThrownNumber([&] { files::Close(9); }), 0) << "closing a closed number is no error";
}

// The one UTF-16 conversion at its edges: unpaired surrogates, pairs, escaped bytes, and a byte
// count that ends inside a character (the C interface cuts its copies there).
TEST(Utf, UnpairedSurrogatesAndCharactersThatDoNotFit) {
  struct Row { const char* name; std::u16string text; std::size_t limit; std::string kept; };
  const Row rows[] = {
      {"unpaired high surrogate is U+FFFD, 3 bytes", u"a\xD800" u"b", 3, "a"},
      {"unpaired low surrogate at the end", u"a\xDFFF", 4, "a\xEF\xBF\xBD"},
      {"an escaped byte is one byte", u"\xDC80" u"x", 1, "\x80"},
      {"a high surrogate before an escaped byte makes a pair", u"\xD800\xDC80", 3, ""},
      {"a 2-byte character in 1 byte of room", u"a\u00E9", 2, "a"}, {"a 3-byte one in 2", u"\u20ACx", 2, ""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(text::ToUtf8(row.text).substr(0, text::Utf8PrefixLength(row.text, row.limit)), row.kept) << row.name;
  // From wchar_t (the locale's names of months and days): what is no character becomes U+FFFD.
  EXPECT_EQ(text::FromWide(std::wstring{wchar_t(0xD800), wchar_t(0x110000)}), u"\uFFFD\uFFFD");
  // Member names compare without regard to case in Latin, Greek and Cyrillic; the dotless i stays itself.
  EXPECT_TRUE(text::EqualsIgnoreCase(u"A\u00C0\u0100\u0139\u0178\u03A3\u0416\u0400", u"a\u00E0\u0101\u013A\u00FF\u03C3\u0436\u0450") &&
              !text::EqualsIgnoreCase(u"\u0131", u"I"));
}

// The writer writes in place, under the target rules of every output: refusals are run-time errors, and
// leave no number held and no file truncated; a link is kept and the file it points to written.
TEST_F(TextWriter, FailuresAreRunTimeErrorsAndLeaveNoNumberBehind) {
  fs::create_directories(dir_ / "folder");
  WriteFile(dir_ / "locked.txt", "keep");
  fs::permissions(dir_ / "locked.txt", fs::perms(0444));
  fs::create_symlink(dir_ / "nowhere", dir_ / "dangling.txt");
  Control holder(nullptr);
  holder.OpenTextFileForWriting(PathOf("held.txt"));
  const struct { const char* name; std::u16string path; std::int32_t number; } rows[] = {
      {"missing folder", PathOf("missing/out.txt"), failure::kPathNotFound},
      {"a folder", PathOf("folder"), failure::kPathFileAccessError}, {"empty name", u"", failure::kPathFileAccessError},
      {"open in another control", PathOf("held.txt"), failure::kFileAlreadyOpen},
      {"mode 0444, also for root", PathOf("locked.txt"), failure::kPathFileAccessError},
      {"dangling link", PathOf("dangling.txt"), failure::kPathFileAccessError},
      {"name longer than the system allows", PathOf(std::string(256, 'n')), 64}};
  for (const auto& row : rows)
    for (const std::int32_t target : {200, 107}) {
      control_.TargetFileType = target;
      EXPECT_EQ(ThrownNumber([&] { control_.OpenTextFileForWriting(row.path); }), row.number) << row.name << ", " << target;
      EXPECT_EQ(control_.TextFileNumber, 0) << row.name << ", code " << target;
    }
  EXPECT_TRUE(ReadFile(dir_ / "held.txt").empty() && ReadFile(dir_ / "locked.txt") == "keep" &&
              !fs::exists(dir_ / "nowhere")) << "a refused open changed a file";
  holder.CloseTextFileForWriting();
  if (quorvane::testing::ImmutableFile immutable(dir_ / "held.txt"); immutable.ok()) {
    EXPECT_EQ(ThrownNumber([&] { control_.OpenTextFileForWriting(PathOf("held.txt")); }), failure::kPathFileAccessError);
  }
  WriteFile(dir_ / "victim.txt", "old");
  fs::create_symlink(dir_ / "victim.txt", dir_ / "link.txt");
  EXPECT_EQ(Write("link.txt", 200, {u"T"}), "T\r\n");
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.txt") && ReadFile(dir_ / "victim.txt") == "T\r\n");
  for (const std::int32_t target : {200, 107}) {  // a full disk fails the write
    control_.TargetFileType = target;
    control_.OpenTextFileForWriting(u"/dev/full");
    EXPECT_EQ(ThrownNumber([&] { control_.WriteToTextFile(u"x"); }), 61) << "/dev/full, code " << target;
    control_.CloseTextFileForWriting();
  }
}

// The log is beside the loaded code unless a folder is set, joined without a doubled separator. The
// month is read in wide characters, so it stays Unicode under a single-byte locale; the year has four
// digits always; a message naming a file with a line feed, an ESC sequence or a byte that is not UTF-8
// stays on its one line, escaped.
TEST(LogLine, PathAndDateTimeAndMessageUnderEachLocale) {
  const std::pair<std::u16string, std::u16string> joined[] = {
      {u"/opt/lib", u"/opt/lib/Quorvane.log"}, {u"/opt/lib/", u"/opt/lib/Quorvane.log"}, {u"/", u"/Quorvane.log"},
      {u"relative", u"relative/Quorvane.log"}};
  for (const auto& [folder, path] : joined) EXPECT_EQ(diagnostics::JoinLogPath(folder, u"Quorvane.log"), path);
  // The core is linked into this test program, so the loader names the program's file.
  EXPECT_EQ(text::ToUtf8(diagnostics::ComponentFolder()), fs::read_symlink("/proc/self/exe").parent_path().string());
  diagnostics::SetLogFolderForTesting(std::nullopt);
  EXPECT_EQ(diagnostics::LogFolder(), diagnostics::ComponentFolder());

  const struct { const char* locale; std::tm when; const char *date, *timePattern; } rows[] = {
      {"C.UTF-8", At(2026, 12, 4, 9, 5, 7), "04-Dec-2026", "09:05:07"},
      {"C.UTF-8", At(987, 6, 5, 1, 2, 3), "05-Jun-0987", "01:02:03"},
      {"en_US.UTF-8", At(2026, 12, 4, 21, 5, 7), "04-Dec-2026", "0?9:05:07 PM"},
      {"de_DE.UTF-8", At(2026, 12, 4, 21, 5, 7), "04-Dez-2026", "21:05:07"},
      {"de_DE.UTF-8", At(2027, 3, 1, 0, 0, 0), "01-M\xC3\xA4r-2027", "00:00:00"},
      {"de_DE.ISO-8859-1", At(2027, 3, 1, 0, 0, 0), "01-M\xC3\xA4r-2027", "00:00:00"}};
  for (const auto& row : rows) {
    ScopedLocale locale(row.locale);
    if (!locale.ok()) continue;  // not installed: scripts/setup.sh makes it
    const std::string line = text::ToUtf8(diagnostics::FormatLogLine(row.when, u"429 - Cannot create"));
    const std::regex pattern(std::string(row.date) + ", " + row.timePattern + " : 429 - Cannot create");
    EXPECT_TRUE(std::regex_match(line, pattern)) << row.locale << ": " << line;
  }
  ScopedLocale locale("C.UTF-8");
  EXPECT_EQ(text::ToUtf8(diagnostics::FormatLogLine(At(2026, 6, 5, 1, 2, 3), u"53 - /a\nb\x1B[2J\xDCFF\r.pptx")),
            "05-Jun-2026, 01:02:03 : 53 - /a\\nb\\e[2J\\xFF\\r.pptx");
}

// One line per call, appended, in the locale's character set; the log is open only while a line is
// written. A log that cannot be written loses the line and nothing else: no error, no file left open,
// no folder made; a file someone else holds under the log's number is neither written to nor closed.
TEST_F(Log, AppendsOneAnsiLinePerCallAndFailuresAreSwallowed) {
  ScopedLocale locale("C");
  WriteFile(dir_ / "Quorvane.log", "earlier line\r\n");
  diagnostics::WriteLog(u"Quorvane.log", u"429 - ActiveX component can't create object");
  diagnostics::WriteLog(u"Quorvane.log", u"-2147467259 - Gr\u00F6\u00DFe");
  const std::string line = R"(\d\d-[A-Z][a-z]{2}-\d{4}, \d\d:\d\d:\d\d : )";
  EXPECT_TRUE(std::regex_match(LogText(), std::regex("earlier line\r\n" + line + "429 - ActiveX component can't "
                                                     "create object\r\n" + line + "-2147467259 - Gr\\?\\?e\r\n")))
      << LogText();
  EXPECT_FALSE(files::IsOpen(diagnostics::kLogFileNumber));
  fs::remove(dir_ / "Quorvane.log");
  WriteFile(dir_ / "plain-file", "x");
  for (const fs::path& folder : {dir_ / "no" / "such" / "folder", dir_ / "plain-file", fs::path()}) {
    diagnostics::SetLogFolderForTesting(text::FromUtf8(folder.string()));
    EXPECT_NO_THROW(diagnostics::WriteLog(u"Quorvane.log", u"5 - x")) << folder;
    EXPECT_FALSE(files::IsOpen(diagnostics::kLogFileNumber)) << folder;
  }
  EXPECT_FALSE(fs::exists(dir_ / "no"));
  EXPECT_TRUE(control_.ErrorString.empty());
  diagnostics::SetLogFolderForTesting(text::FromUtf8(dir_.path().string()));
  files::Open(diagnostics::kLogFileNumber, text::FromUtf8((dir_ / "other.txt").string()), files::OpenMode::Output);
  diagnostics::WriteLog(u"Quorvane.log", u"5 - x");
  EXPECT_TRUE(files::IsOpen(diagnostics::kLogFileNumber));
  files::Write(diagnostics::kLogFileNumber, "own text");
  files::Close(diagnostics::kLogFileNumber);
  EXPECT_EQ(ReadFile(dir_ / "other.txt"), "own text");
  EXPECT_FALSE(fs::exists(dir_ / "Quorvane.log"));
  // Root ignores permission bits; an immutable folder refuses new files even to root.
  quorvane::testing::ImmutableFile immutable(dir_.path());
  if (!immutable.ok()) GTEST_SKIP() << "the immutable flag cannot be set here";
  EXPECT_NO_THROW(diagnostics::WriteLog(u"Quorvane.log", u"5 - x"));
  EXPECT_FALSE(fs::exists(dir_ / "Quorvane.log"));
  EXPECT_FALSE(files::IsOpen(diagnostics::kLogFileNumber));
}

}  // namespace
}  // namespace quorvane::detail
