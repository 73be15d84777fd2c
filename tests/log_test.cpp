// The diagnostic log: where it goes, what one line looks like under several locales, and that it
// never fails towards its caller.
#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>

#include "common/numbered_files.hpp"
#include "common/text.hpp"
#include "control/control.hpp"
#include "diagnostics/log.hpp"
#include "support/fixtures.hpp"

namespace quorvane::detail {
namespace {

using quorvane::testing::ScopedLocale;

namespace fs = std::filesystem;

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  std::time_t when = ::timegm(&t);  // fills in the week day for the time formats that show it
  ::gmtime_r(&when, &t);
  return t;
}

class Log : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qv-log-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    diagnostics::SetLogFolderForTesting(text::FromUtf8(dir_.string()));
  }
  void TearDown() override {
    diagnostics::SetLogFolderForTesting(std::nullopt);
    files::Close(diagnostics::kLogFileNumber);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string Read(const fs::path& file) const {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string LogText() const { return Read(dir_ / "Quorvane.log"); }

  fs::path dir_;
  Control control_{nullptr};
};

TEST(LogPath, JoinsWithoutADoubledSeparator) {
  struct Row {
    std::u16string folder, expected;
  };
  const Row rows[] = {
      {u"/opt/quorvane/lib", u"/opt/quorvane/lib/Quorvane.log"},
      {u"/opt/quorvane/lib/", u"/opt/quorvane/lib/Quorvane.log"},
      {u"/", u"/Quorvane.log"},
      {u"relative", u"relative/Quorvane.log"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(diagnostics::JoinLogPath(row.folder, u"Quorvane.log"), row.expected) << text::ToUtf8(row.folder);
}

TEST(LogPath, ComponentFolderIsTheFolderOfTheLoadedCode) {
  // The core is linked into this test program, so the loader names the program's file.
  const fs::path program = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(text::ToUtf8(diagnostics::ComponentFolder()), program.parent_path().string());

  diagnostics::SetLogFolderForTesting(u"/somewhere/else");
  EXPECT_EQ(diagnostics::LogFolder(), u"/somewhere/else");
  diagnostics::SetLogFolderForTesting(std::nullopt);
  EXPECT_EQ(diagnostics::LogFolder(), diagnostics::ComponentFolder());
}

TEST(LogLine, DateTimeAndMessageUnderEachLocale) {
  struct Row {
    const char* locale;
    std::tm when;
    const char* datePart;     // exact
    const char* timePattern;  // regex for the locale's time format
  };
  const Row rows[] = {
      {"C.UTF-8", At(2026, 12, 4, 9, 5, 7), "04-Dec-2026", "09:05:07"},
      {"C.UTF-8", At(2031, 1, 31, 23, 59, 58), "31-Jan-2031", "23:59:58"},
      {"en_US.UTF-8", At(2026, 12, 4, 21, 5, 7), "04-Dec-2026", "0?9:05:07 PM"},
      {"de_DE.UTF-8", At(2026, 12, 4, 21, 5, 7), "04-Dez-2026", "21:05:07"},
      {"de_DE.UTF-8", At(2027, 3, 1, 0, 0, 0), "01-M\xC3\xA4r-2027", "00:00:00"},
  };
  for (const auto& row : rows) {
    ScopedLocale locale(row.locale);
    if (!locale.ok()) {
      std::cout << "locale " << row.locale << " is not installed: row skipped\n";
      continue;
    }
    const std::string line = text::ToUtf8(diagnostics::FormatLogLine(row.when, u"429 - Cannot create"));
    const std::regex pattern(std::string(row.datePart) + ", " + row.timePattern + " : 429 - Cannot create");
    EXPECT_TRUE(std::regex_match(line, pattern)) << row.locale << ": " << line;
  }
}

// A four-digit year always; a message naming a file with a line feed, an ESC sequence or a byte
// that is not UTF-8 stays on its one line, escaped.
TEST(LogLine, YearIsAlwaysFourDigitsAndTheMessageOneLine) {
  ScopedLocale locale("C.UTF-8");
  if (!locale.ok()) GTEST_SKIP() << "locale C.UTF-8 is not installed";
  EXPECT_EQ(text::ToUtf8(diagnostics::FormatLogLine(At(987, 6, 5, 1, 2, 3), u"m")), "05-Jun-0987, 01:02:03 : m");
  EXPECT_EQ(text::ToUtf8(diagnostics::FormatLogLine(At(2026, 6, 5, 1, 2, 3), u"53 - /a\nb\x1B[2J\xDCFF\r.pptx")),
            "05-Jun-2026, 01:02:03 : 53 - /a\\nb\\e[2J\\xFF\\r.pptx");
}

TEST_F(Log, AppendsOneAnsiLinePerCallInOrder) {
  ScopedLocale locale("C.UTF-8");
  if (!locale.ok()) GTEST_SKIP() << "locale C.UTF-8 is not installed";
  { std::ofstream(dir_ / "Quorvane.log", std::ios::binary) << "earlier line\r\n"; }

  control_.WriteLog(u"Quorvane.log", u"429 - ActiveX component can't create object");
  control_.WriteLog(u"Quorvane.log", u"-2147467259 - Unspecified error");

  const std::string line = R"(\d\d-[A-Z][a-z]{2}-\d{4}, \d\d:\d\d:\d\d : )";
  const std::regex expected("earlier line\r\n" + line + "429 - ActiveX component can't create object\r\n" + line +
                            "-2147467259 - Unspecified error\r\n");
  const std::string written = LogText();
  EXPECT_TRUE(std::regex_match(written, expected)) << written;
  EXPECT_FALSE(files::IsOpen(diagnostics::kLogFileNumber)) << "the log is open only while a line is written";
}

TEST_F(Log, TextIsInTheLocalesCharacterSet) {
  struct Row {
    const char* locale;
    std::string message;  // the bytes expected after the date and time
  };
  const Row rows[] = {
      {"C", "75 - Gr??e ? ?"},
      {"C.UTF-8", "75 - Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"de_DE.ISO-8859-1", "75 - Gr\xF6\xDF" "e ? ?"},
  };
  for (const auto& row : rows) {
    ScopedLocale locale(row.locale);
    if (!locale.ok()) {
      std::cout << "locale " << row.locale << " is not installed: row skipped\n";
      continue;
    }
    fs::remove(dir_ / "Quorvane.log");
    control_.WriteLog(u"Quorvane.log", u"75 - Gr\u00F6\u00DFe \u20AC \U0001F600");
    const std::string written = LogText();
    const std::string tail = " : " + row.message + "\r\n";
    ASSERT_GE(written.size(), tail.size()) << row.locale;
    EXPECT_EQ(written.substr(written.size() - tail.size()), tail) << row.locale;
  }
}

TEST_F(Log, MonthNameStaysUnicodeUnderASingleByteLocale) {
  ScopedLocale locale("de_DE.ISO-8859-1");
  if (!locale.ok()) GTEST_SKIP() << "locale de_DE.ISO-8859-1 is not installed";
  // The month name is read in wide characters, so the line holds it as Unicode until it is written.
  const std::u16string line = diagnostics::FormatLogLine(At(2027, 3, 1, 0, 0, 0), u"m");
  EXPECT_EQ(line.substr(0, 11), u"01-M\u00E4r-2027");
}

TEST_F(Log, FailuresAreSwallowed) {
  struct Row {
    const char* name;
    std::u16string folder;
  };
  const Row rows[] = {
      {"missing folder", text::FromUtf8((dir_ / "no" / "such" / "folder").string())},
      {"folder is a file", text::FromUtf8((dir_ / "plain-file").string())},
      {"unknown folder", u""},
  };
  { std::ofstream(dir_ / "plain-file") << "x"; }
  for (const auto& row : rows) {
    diagnostics::SetLogFolderForTesting(row.folder);
    EXPECT_NO_THROW(control_.WriteLog(u"Quorvane.log", u"5 - x")) << row.name;
    EXPECT_FALSE(files::IsOpen(diagnostics::kLogFileNumber)) << row.name;
  }
  EXPECT_FALSE(fs::exists(dir_ / "no"));
  EXPECT_TRUE(control_.ErrorString.empty());
}

TEST_F(Log, ImmutableFolderLosesTheLine) {
  // Root ignores permission bits; an immutable folder refuses new files even to root.
  const std::string chattr = "chattr +i '" + dir_.string() + "' 2>/dev/null";
  if (std::system(chattr.c_str()) != 0) GTEST_SKIP() << "chattr +i is not possible here";
  struct Unlock {
    fs::path dir;
    ~Unlock() { (void)std::system(("chattr -i '" + dir.string() + "'").c_str()); }
  } unlock{dir_};
  EXPECT_NO_THROW(control_.WriteLog(u"Quorvane.log", u"5 - x"));
  EXPECT_FALSE(fs::exists(dir_ / "Quorvane.log"));
  EXPECT_FALSE(files::IsOpen(diagnostics::kLogFileNumber));
}

TEST_F(Log, AFileOpenUnderTheLogsNumberIsLeftAlone) {
  // Someone else (the text writer) holds number 2: the log line is lost, and that file is neither
  // written to nor closed.
  const std::u16string other = text::FromUtf8((dir_ / "text-output.txt").string());
  files::Open(diagnostics::kLogFileNumber, other, files::OpenMode::Output);
  control_.WriteLog(u"Quorvane.log", u"5 - x");
  EXPECT_TRUE(files::IsOpen(diagnostics::kLogFileNumber));
  files::Write(diagnostics::kLogFileNumber, "own text");
  files::Close(diagnostics::kLogFileNumber);
  EXPECT_EQ(Read(dir_ / "text-output.txt"), "own text");
  EXPECT_FALSE(fs::exists(dir_ / "Quorvane.log"));
}

}  // namespace
}  // namespace quorvane::detail
