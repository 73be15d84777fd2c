// File services of the path checks, against real files in a temporary folder: folder part, folder
// existence, the directory lookup with hidden files and wildcards, and the same-file test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "common/paths.hpp"
#include "common/text.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::paths {
namespace {

namespace fs = std::filesystem;

std::u16string U(const std::string& s) { return text::FromUtf8(s); }

// A fresh folder per test, the current directory while the test runs.
class PathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() / ("quorvane-paths-" + std::to_string(::getpid()) + "-" + info->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    previous_ = fs::current_path();
    fs::current_path(root_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string Root() const { return root_.string(); }
  void File(const std::string& relative) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << "x";
  }
  void Folder(const std::string& relative) { fs::create_directories(root_ / relative); }
  void Link(const std::string& target, const std::string& relative) { fs::create_symlink(target, root_ / relative); }

 private:
  fs::path root_;
  fs::path previous_;
};

// Runs `fn`; the failure number it threw, or nullopt when it answered.
template <typename Fn>
std::optional<std::int32_t> FailureOf(Fn&& fn) {
  try {
    fn();
  } catch (const AutomationError& e) {
    return e.number();
  }
  return std::nullopt;
}

TEST(Paths, FolderPartIsEverythingUpToTheLastSeparator) {
  struct Row {
    std::u16string path, folder;
  };
  const Row rows[] = {
      {u"/out/deck.pdf", u"/out/"},     {u"/out/sub/", u"/out/sub/"}, {u"deck.pdf", u""},
      {u"/deck.pdf", u"/"},             {u"./deck", u"./"},           {u"", u""},
      {u"a\\b.pdf", u""},               {u"//x", u"//"},              {u"/out/my deck.pdf", u"/out/"},
  };
  for (const auto& row : rows) EXPECT_EQ(FolderPart(row.path), row.folder) << text::ToUtf8(row.path);
}

TEST(Paths, PatternMatching) {
  struct Row {
    std::u16string name, pattern;
    bool matches;
  };
  const Row rows[] = {
      {u"deck.pptx", u"deck.pptx", true},
      {u"deck.pptx", u"Deck.pptx", false},  // case significant, as the file system's names are
      {u"deck.pptx", u"*", true},
      {u"deck.pptx", u"*.pptx", true},
      {u"deck.pptx", u"*.ppt", false},
      {u"deck.pptx", u"d?ck.pptx", true},
      {u"deck.pptx", u"d?ck.ppt?", true},
      {u"dck.pptx", u"d?ck.pptx", false},  // "?" is exactly one character
      {u"deck.pptx", u"d*k*x", true},
      {u"deck.pptx", u"*deck.pptx*", true},  // "*" also matches nothing
      {u"aaa", u"*a*a*a*a", false},
      {u"abcabd", u"*abd", true},  // needs a backtrack
      {u"[x].pptx", u"[x].pptx", true},  // "[" is an ordinary character
      {u"x.pptx", u"[x].pptx", false},
      {u"a\\b", u"a\\b", true},  // so is "\"
      {u"ab", u"a\\b", false},
      {u"\U0001F600.pptx", u"?.pptx", true},  // a surrogate pair is one character
      {u"\u00E9.pptx", u"?.pptx", true},
      {u"", u"*", true},
      {u"", u"?", false},
      {u"x", u"", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(MatchesPattern(row.name, row.pattern), row.matches)
        << text::ToUtf8(row.name) << " ~ " << text::ToUtf8(row.pattern);
}

TEST_F(PathsTest, LookupFindsOnlyVisibleNormalFiles) {
  File("deck.pptx");
  File(".hidden.pptx");
  File("only/.secret.pptx");
  File("sub/inner.pptx");
  File("[x].pptx");
  Folder("folder.pptx");
  Link("deck.pptx", "link.pptx");
  Link("missing.pptx", "broken.pptx");
  Link("folder.pptx", "folderlink.pptx");
  ASSERT_EQ(::mkfifo((Root() + "/pipe.pptx").c_str(), 0600), 0);
  const std::string r = Root();
  struct Row {
    std::string path;
    bool found;
  };
  const Row rows[] = {
      {r + "/deck.pptx", true},
      {"deck.pptx", true},  // relative to the current folder
      {"./deck.pptx", true},
      {"sub/../deck.pptx", true},
      {r + "/Deck.pptx", false},
      {r + "/missing.pptx", false},
      {r + "/.hidden.pptx", false},
      {r + "/folder.pptx", false},
      {r + "/link.pptx", true},  // a link to a normal file is that file
      {r + "/broken.pptx", false},
      {r + "/folderlink.pptx", false},
      {r + "/pipe.pptx", false},
      {r + "/", false},  // a folder name names no file
      {r + "/sub/", false},
      {r + "/.", false},
      {r + "/..", false},
      {r + "/nowhere/deck.pptx", false},
      {r + "/deck.pptx/x", false},  // a file used as a folder
      {r + "/[x].pptx", true},
      // Patterns in the last component.
      {r + "/*.pptx", true},
      {r + "/d?ck.pptx", true},
      {r + "/*.PPTX", false},
      {r + "/d*", true},
      {r + "/*hidden*", false},    // only the hidden file matches
      {r + "/.hid*", false},       // hidden files are never found
      {r + "/folder.pp?x", false},  // only a folder matches
      {r + "/pipe.*", false},
      {r + "/link.*", true},
      {r + "/broken.*", false},
      {r + "/only/*", false},
      {r + "/sub/*.pptx", true},
      {r + "/nowhere/*.pptx", false},
      {r + "/deck.pptx/*", false},
      {"*.pptx", true},  // a relative pattern looks in the current folder
      {"sub/i?ner.pptx", true},
      {r + "/?", false},
      {r + "/*/inner.pptx", false},  // wildcards in a folder component are literal characters
  };
  for (const auto& row : rows) EXPECT_EQ(FindsNormalFile(U(row.path)), row.found) << row.path;
}

TEST_F(PathsTest, FolderExistence) {
  File("deck.pptx");
  Folder("sub/inner");
  Link("sub", "sublink");
  Link("deck.pptx", "filelink");
  const std::string r = Root();
  struct Row {
    std::string path;
    bool exists;
  };
  const Row rows[] = {
      {r + "/", true},          {r, true},
      {r + "/sub/", true},      {r + "/sub/inner/", true},
      {r + "/sublink/", true},  {r + "/sub/../sub/", true},
      {"./", true},             {"sub/", true},
      {"/", true},              {r + "/deck.pptx", false},
      {r + "/deck.pptx/", false}, {r + "/filelink/", false},
      {r + "/missing/", false}, {r + "/missing/sub/", false},
      {"", false},
  };
  for (const auto& row : rows) EXPECT_EQ(FolderExists(U(row.path)), row.exists) << row.path;
}

TEST_F(PathsTest, SameFileSeesThroughDifferentTexts) {
  File("deck.pptx");
  File("other.pptx");
  File("Upper.pptx");
  File("upper.pptx");
  Folder("sub/inner");
  Link(Root() + "/deck.pptx", "link.pptx");
  Link(Root() + "/sub", "sublink");
  Link(Root() + "/sub/inner", "innerlink");
  ASSERT_EQ(::link((Root() + "/deck.pptx").c_str(), (Root() + "/hard.pptx").c_str()), 0);
  const std::string r = Root();
  struct Row {
    std::string a, b;
    bool same;
  };
  const Row rows[] = {
      {r + "/deck.pptx", r + "/deck.pptx", true},
      {"./deck.pptx", "deck.pptx", true},
      {r + "/deck.pptx", "deck.pptx", true},
      {r + "/deck.pptx", r + "/sub/../deck.pptx", true},
      {r + "/deck.pptx", r + "//./deck.pptx", true},
      {r + "/deck.pptx", r + "/link.pptx", true},
      {r + "/deck.pptx", r + "/hard.pptx", true},
      {r + "/deck.pptx", r + "/sublink/../deck.pptx", true},     // ".." of a link: its target's parent
      {r + "/deck.pptx", r + "/innerlink/../deck.pptx", false},  // that is sub/, not this folder
      {r + "/deck.pptx", r + "/other.pptx", false},
      {r + "/Upper.pptx", r + "/upper.pptx", false},  // two files that differ only in case
      {r + "/deck.pptx", r + "/Deck.pptx", false},    // a new file, not this one
      {r + "/deck.pptx", r + "/new.pptx", false},
      // Neither exists: the resolved names decide.
      {r + "/new.pptx", r + "/sub/../new.pptx", true},
      {r + "/sublink/new.pptx", r + "/sub/new.pptx", true},
      {"new.pptx", r + "/new.pptx", true},
      {r + "/new.pptx", r + "/new2.pptx", false},
      {r + "/*.pptx", r + "/deck.pptx", false},  // a pattern denotes no file
  };
  for (const auto& row : rows) {
    EXPECT_EQ(SameFile(U(row.a), U(row.b)), row.same) << row.a << " vs " << row.b;
    EXPECT_EQ(SameFile(U(row.b), U(row.a)), row.same) << row.b << " vs " << row.a;
  }
}

TEST_F(PathsTest, ResolveMakesNamesAbsoluteAndFollowsLinks) {
  Folder("sub");
  Link(Root() + "/sub", "sublink");
  const std::string real = fs::canonical(Root()).string();
  struct Row {
    std::string path, resolved;
  };
  const Row rows[] = {
      {"a.pptx", real + "/a.pptx"},
      {"./sub/../a.pptx", real + "/a.pptx"},
      {"sublink/a.pptx", real + "/sub/a.pptx"},
      {Root() + "//sub///a.pptx", real + "/sub/a.pptx"},
      {"missing/../a.pptx", real + "/a.pptx"},  // the missing part is resolved lexically
  };
  for (const auto& row : rows) EXPECT_EQ(text::ToUtf8(Resolve(U(row.path))), row.resolved) << row.path;
}

TEST_F(PathsTest, UnusableNamesFailTheLookupInsteadOfAnsweringForAnotherName) {
  File("deck.pptx");
  Link("loop", "loop");
  const std::string r = Root();
  const std::u16string nul = U(r) + u"/deck.pptx" + std::u16string(1, u'\0') + u"x";
  const std::u16string lone = U(r) + u"/d\xD800.pptx";
  const std::u16string longName = U(r) + u"/" + std::u16string(5000, u'a');
  struct Row {
    const char* name;
    std::function<void()> call;
    std::int32_t number;
  };
  const Row rows[] = {
      {"NUL in lookup", [&] { FindsNormalFile(nul); }, 52},
      {"NUL in folder", [&] { FolderExists(nul); }, 52},
      {"NUL in same-file", [&] { SameFile(U(r + "/deck.pptx"), nul); }, 52},
      {"lone surrogate in lookup", [&] { FindsNormalFile(lone); }, 52},
      {"lone surrogate in resolve", [&] { Resolve(lone); }, 52},
      {"link loop in lookup", [&] { FindsNormalFile(U(r + "/loop")); }, 75},
      {"link loop in folder", [&] { FolderExists(U(r + "/loop/")); }, 75},
      {"link loop in same-file", [&] { SameFile(U(r + "/deck.pptx"), U(r + "/loop/x")); }, 75},
      {"name too long", [&] { FindsNormalFile(longName); }, 75},
  };
  for (const auto& row : rows) EXPECT_EQ(FailureOf(row.call), std::optional<std::int32_t>(row.number)) << row.name;
}

TEST_F(PathsTest, AFolderWithoutPermissionFailsTheLookup) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  File("locked/deck.pptx");
  fs::permissions(Root() + "/locked", fs::perms::none);
  const auto lookup = FailureOf([&] { FindsNormalFile(U(Root() + "/locked/deck.pptx")); });
  const auto pattern = FailureOf([&] { FindsNormalFile(U(Root() + "/locked/*.pptx")); });
  fs::permissions(Root() + "/locked", fs::perms::owner_all);
  EXPECT_EQ(lookup, std::optional<std::int32_t>(75));
  EXPECT_EQ(pattern, std::optional<std::int32_t>(75));
}

}  // namespace
}  // namespace quorvane::paths
