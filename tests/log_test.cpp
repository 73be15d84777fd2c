// The diagnostic log: where it goes, what one line looks like under several locales, and that it never
// fails towards its caller.
#include <regex>

#include "common/numbered_files.hpp"
#include "control/control.hpp"
#include "diagnostics/log.hpp"
#include "support/fixtures.hpp"

namespace quorvane::detail {
namespace {

namespace fs = std::filesystem;
using quorvane::testing::ReadFile;
using quorvane::testing::ScopedLocale;

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900, t.tm_mon = month - 1, t.tm_mday = day, t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
  const std::time_t when = ::timegm(&t);  // fills in the week day for the time formats that show it
  ::gmtime_r(&when, &t);
  return t;
}

// The log is beside the loaded code unless a folder is set, joined without a doubled separator. The
// month is read in wide characters, so it stays Unicode under a single-byte locale; the year has four
// digits always; a message naming a file with a line feed, an ESC sequence or a byte that is not UTF-8
// stays on its one line, escaped.
TEST(LogLine, PathAndDateTimeAndMessageUnderEachLocale) {
  for (const std::u16string folder : {u"/opt/lib", u"/opt/lib/"})
    EXPECT_EQ(diagnostics::JoinLogPath(folder, u"Quorvane.log"), u"/opt/lib/Quorvane.log");
  EXPECT_EQ(diagnostics::JoinLogPath(u"/", u"Quorvane.log"), u"/Quorvane.log");
  EXPECT_EQ(diagnostics::JoinLogPath(u"relative", u"Quorvane.log"), u"relative/Quorvane.log");
  // The core is linked into this test program, so the loader names the program's file.
  EXPECT_EQ(text::ToUtf8(diagnostics::ComponentFolder()), fs::read_symlink("/proc/self/exe").parent_path().string());
  diagnostics::SetLogFolderForTesting(u"/somewhere/else");
  EXPECT_EQ(diagnostics::LogFolder(), u"/somewhere/else");
  diagnostics::SetLogFolderForTesting(std::nullopt);
  EXPECT_EQ(diagnostics::LogFolder(), diagnostics::ComponentFolder());

  const struct { const char* locale; std::tm when; const char *date, *timePattern; } rows[] = {
      {"C.UTF-8", At(2026, 12, 4, 9, 5, 7), "04-Dec-2026", "09:05:07"},
      {"C.UTF-8", At(2031, 1, 31, 23, 59, 58), "31-Jan-2031", "23:59:58"},
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

class Log : public ::testing::Test {
 protected:
  void SetUp() override { diagnostics::SetLogFolderForTesting(text::FromUtf8(dir_.path().string())); }
  void TearDown() override {
    diagnostics::SetLogFolderForTesting(std::nullopt);
    files::Close(diagnostics::kLogFileNumber);
  }
  std::string LogText() const { return ReadFile(dir_ / "Quorvane.log"); }
  quorvane::testing::TempFolder dir_;
  Control control_{nullptr};
};

// One line per call, appended, in the locale's character set; the log is open only while a line is
// written.
TEST_F(Log, AppendsOneAnsiLinePerCallInOrder) {
  const std::pair<const char*, std::string> rows[] = {
      {"C", "75 - Gr??e ? ?"}, {"C.UTF-8", "75 - Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"de_DE.ISO-8859-1", "75 - Gr\xF6\xDF" "e ? ?"}};
  for (const auto& [name, message] : rows) {
    ScopedLocale locale(name);
    if (!locale.ok()) continue;
    fs::remove(dir_ / "Quorvane.log");
    control_.WriteLog(u"Quorvane.log", u"75 - Gr\u00F6\u00DFe \u20AC \U0001F600");
    EXPECT_TRUE(LogText().ends_with(" : " + message + "\r\n")) << name << ": " << LogText();
  }
  ScopedLocale locale("C.UTF-8");
  quorvane::testing::WriteFile(dir_ / "Quorvane.log", "earlier line\r\n");
  control_.WriteLog(u"Quorvane.log", u"429 - ActiveX component can't create object");
  control_.WriteLog(u"Quorvane.log", u"-2147467259 - Unspecified error");
  const std::string line = R"(\d\d-[A-Z][a-z]{2}-\d{4}, \d\d:\d\d:\d\d : )";
  EXPECT_TRUE(std::regex_match(LogText(), std::regex("earlier line\r\n" + line + "429 - ActiveX component can't "
                                                     "create object\r\n" + line + "-2147467259 - Unspecified error\r\n")))
      << LogText();
  EXPECT_FALSE(files::IsOpen(diagnostics::kLogFileNumber));
}

// A log that cannot be written loses the line and nothing else: no error, no file left open, no folder
// made; a file someone else holds under the log's number is neither written to nor closed.
TEST_F(Log, FailuresAreSwallowed) {
  quorvane::testing::WriteFile(dir_ / "plain-file", "x");
  for (const fs::path& folder : {dir_ / "no" / "such" / "folder", dir_ / "plain-file", fs::path()}) {
    diagnostics::SetLogFolderForTesting(text::FromUtf8(folder.string()));
    EXPECT_NO_THROW(control_.WriteLog(u"Quorvane.log", u"5 - x")) << folder;
    EXPECT_FALSE(files::IsOpen(diagnostics::kLogFileNumber)) << folder;
  }
  EXPECT_FALSE(fs::exists(dir_ / "no"));
  EXPECT_TRUE(control_.ErrorString.empty());
  diagnostics::SetLogFolderForTesting(text::FromUtf8(dir_.path().string()));
  files::Open(diagnostics::kLogFileNumber, text::FromUtf8((dir_ / "other.txt").string()), files::OpenMode::Output);
  control_.WriteLog(u"Quorvane.log", u"5 - x");
  EXPECT_TRUE(files::IsOpen(diagnostics::kLogFileNumber));
  files::Write(diagnostics::kLogFileNumber, "own text");
  files::Close(diagnostics::kLogFileNumber);
  EXPECT_EQ(ReadFile(dir_ / "other.txt"), "own text");
  EXPECT_FALSE(fs::exists(dir_ / "Quorvane.log"));
  // Root ignores permission bits; an immutable folder refuses new files even to root.
  quorvane::testing::ImmutableFile immutable(dir_.path());
  if (!immutable.ok()) GTEST_SKIP() << "the immutable flag cannot be set here";
  EXPECT_NO_THROW(control_.WriteLog(u"Quorvane.log", u"5 - x"));
  EXPECT_FALSE(fs::exists(dir_ / "Quorvane.log"));
  EXPECT_FALSE(files::IsOpen(diagnostics::kLogFileNumber));
}

}  // namespace
}  // namespace quorvane::detail
