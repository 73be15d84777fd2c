// The path checks: folder part and patterns, then against real files in a scratch folder (the current
// directory meanwhile): the lookup of visible normal files, folder existence, the same-file test, name
// resolution, and names that fail the lookup instead of answering for another name.
#include <sys/stat.h>

#include "common/paths.hpp"
#include "support/fixtures.hpp"

namespace quorvane::paths {
namespace {

namespace fs = std::filesystem;
std::u16string U(const std::string& s) { return text::FromUtf8(s); }

TEST(Paths, AgainstRealFiles) {
  testing::TempFolder scratch;
  const std::string r = scratch.path().string(), d = r + "/deck.pptx";
  struct Back { fs::path to; ~Back() { fs::current_path(to); } } back{fs::current_path()};
  fs::current_path(r);
  for (const char* file : {"deck.pptx", ".hidden.pptx", "only/.secret.pptx", "sub/inner.pptx", "[x].pptx",
                           "other.pptx", "Upper.pptx", "upper.pptx", "locked/deck.pptx"}) {
    fs::create_directories((scratch / file).parent_path());
    testing::WriteFile(scratch / file, "x");
  }
  fs::create_directories(scratch / "folder.pptx");
  fs::create_directories(scratch / "sub/inner");
  const std::pair<std::string, const char*> links[] = {
      {"deck.pptx", "link.pptx"}, {"missing.pptx", "broken.pptx"}, {"folder.pptx", "folderlink.pptx"},
      {r + "/sub", "sublink"}, {"deck.pptx", "filelink"}, {r + "/sub/inner", "innerlink"}, {"loop", "loop"}};
  for (const auto& [target, name] : links) fs::create_symlink(target, scratch / name);
  ASSERT_EQ(::mkfifo((r + "/pipe.pptx").c_str(), 0600), 0);
  ASSERT_EQ(::link(d.c_str(), (r + "/hard.pptx").c_str()), 0);

  // A link to a normal file is that file; hidden files, folders, pipes and broken links are never found;
  // wildcards count in the last component only; relative names start in the current folder.
  const std::pair<std::string, bool> lookups[] = {
      {d, true}, {"deck.pptx", true}, {"./deck.pptx", true}, {"sub/../deck.pptx", true}, {r + "/Deck.pptx", false},
      {r + "/missing.pptx", false}, {r + "/.hidden.pptx", false}, {r + "/folder.pptx", false}, {r + "/link.pptx", true},
      {r + "/broken.pptx", false}, {r + "/folderlink.pptx", false}, {r + "/pipe.pptx", false}, {r + "/", false},
      {r + "/sub/", false}, {r + "/.", false}, {r + "/..", false}, {r + "/nowhere/deck.pptx", false},
      {d + "/x", false}, {r + "/[x].pptx", true}, {r + "/*.pptx", true}, {r + "/d?ck.pptx", true},
      {r + "/*.PPTX", false}, {r + "/d*", true}, {r + "/*hidden*", false}, {r + "/.hid*", false},
      {r + "/folder.pp?x", false}, {r + "/pipe.*", false}, {r + "/link.*", true}, {r + "/broken.*", false},
      {r + "/only/*", false}, {r + "/sub/*.pptx", true}, {r + "/nowhere/*.pptx", false}, {d + "/*", false},
      {"*.pptx", true}, {"sub/i?ner.pptx", true}, {r + "/?", false}, {r + "/*/inner.pptx", false}};
  for (const auto& [path, found] : lookups) EXPECT_EQ(FindsNormalFile(U(path)), found) << "lookup " << path;
  const std::pair<std::string, bool> folders[] = {
      {r + "/", true}, {r, true}, {r + "/sub/", true}, {r + "/sub/inner/", true}, {r + "/sublink/", true},
      {r + "/sub/../sub/", true}, {"./", true}, {"sub/", true}, {"/", true}, {d, false}, {d + "/", false},
      {r + "/filelink/", false}, {r + "/missing/", false}, {r + "/missing/sub/", false}, {"", false}};
  for (const auto& [path, exists] : folders) EXPECT_EQ(FolderExists(U(path)), exists) << "folder " << path;
  // ".." of a link is its target's parent; where neither file exists, the resolved names decide.
  const struct { std::string a, b; bool same; } pairs[] = {
      {d, d, true}, {"./deck.pptx", "deck.pptx", true}, {d, "deck.pptx", true}, {d, r + "/sub/../deck.pptx", true},
      {d, r + "//./deck.pptx", true}, {d, r + "/link.pptx", true}, {d, r + "/hard.pptx", true},
      {d, r + "/sublink/../deck.pptx", true}, {d, r + "/innerlink/../deck.pptx", false}, {d, r + "/other.pptx", false},
      {r + "/Upper.pptx", r + "/upper.pptx", false}, {d, r + "/Deck.pptx", false}, {d, r + "/new.pptx", false},
      {r + "/new.pptx", r + "/sub/../new.pptx", true}, {r + "/sublink/new.pptx", r + "/sub/new.pptx", true},
      {"new.pptx", r + "/new.pptx", true}, {r + "/new.pptx", r + "/new2.pptx", false}, {r + "/*.pptx", d, false}};
  for (const auto& row : pairs) {
    EXPECT_EQ(SameFile(U(row.a), U(row.b)), row.same) << row.a << " vs " << row.b;
    EXPECT_EQ(SameFile(U(row.b), U(row.a)), row.same) << row.b << " vs " << row.a;
  }
  const std::string real = fs::canonical(r).string();
  const std::pair<std::string, std::string> resolved[] = {
      {"a.pptx", real + "/a.pptx"}, {"./sub/../a.pptx", real + "/a.pptx"}, {"sublink/a.pptx", real + "/sub/a.pptx"},
      {r + "//sub///a.pptx", real + "/sub/a.pptx"}, {"missing/../a.pptx", real + "/a.pptx"}};
  for (const auto& [path, full] : resolved) EXPECT_EQ(text::ToUtf8(Resolve(U(path))), full) << path;

  // Unusable names fail: 52 for a NUL or a lone surrogate; 75 for a link loop, a name too long, a folder
  // without permission (which does not bind the superuser).
  const std::u16string nul = U(d) + std::u16string(1, u'\0') + u"x", lone = U(r) + u"/d\xD800.pptx";
  const std::int32_t locked = ::geteuid() == 0 ? 0 : 75;
  fs::permissions(r + "/locked", fs::perms::none);
  const struct { const char* name; std::function<void()> call; std::int32_t number; } failures[] = {
      {"NUL, lookup", [&] { FindsNormalFile(nul); }, 52}, {"NUL, folder", [&] { FolderExists(nul); }, 52},
      {"NUL, same file", [&] { SameFile(U(d), nul); }, 52}, {"lone surrogate", [&] { FindsNormalFile(lone); }, 52},
      {"lone surrogate, resolve", [&] { Resolve(lone); }, 52}, {"loop", [&] { FindsNormalFile(U(r + "/loop")); }, 75},
      {"loop, folder", [&] { FolderExists(U(r + "/loop/")); }, 75},
      {"loop, same file", [&] { SameFile(U(d), U(r + "/loop/x")); }, 75},
      {"name too long", [&] { FindsNormalFile(U(r) + u"/" + std::u16string(5000, u'a')); }, 75},
      {"no permission", [&] { FindsNormalFile(U(r + "/locked/deck.pptx")); }, locked},
      {"no permission, pattern", [&] { FindsNormalFile(U(r + "/locked/*.pptx")); }, locked}};
  for (const auto& row : failures) EXPECT_EQ(testing::ThrownNumber(row.call), row.number) << row.name;
  fs::permissions(r + "/locked", fs::perms::owner_all);
}

}  // namespace
}  // namespace quorvane::paths
