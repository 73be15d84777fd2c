#include "common/platform.hpp"
#include "common/paths.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "common/failures.hpp"
#include "common/text.hpp"

namespace quorvane::paths {
namespace {


// The name as the system takes it (UTF-8, a byte that was not UTF-8 restored). Refuses what would
// reach the system altered: a NUL would cut the name short, an unpaired surrogate would become
// another character.
std::string Native(std::u16string_view path) {
  if (!text::IsUsableFileName(path)) throw failure::Error(failure::kBadFileNameOrNumber);
  return text::ToUtf8(path);
}

[[noreturn]] void ThrowAccessError(std::u16string_view path, int error) {
  throw AutomationError(failure::kPathFileAccessError,
                        std::u16string(failure::Description(failure::kPathFileAccessError)) + u": " +
                            std::u16string(path) + u" (" + text::FromUtf8(std::generic_category().message(error)) +
                            u")");
}

// Whether `error` from a lookup means "there is nothing of that name" rather than a failure.
bool MeansAbsent(int error) { return error == ENOENT || error == ENOTDIR; }

// stat of a name; false when absent, throws for any other failure.
bool StatOrAbsent(std::u16string_view shown, const std::string& native, struct stat& info) {
  if (platform::Stat(native, info) == 0) return true;
  const int error = errno;
  if (MeansAbsent(error)) return false;
  ThrowAccessError(shown, error);
}

bool HasWildcard(std::u16string_view name) { return name.find_first_of(u"*?") != std::u16string_view::npos; }

// The characters of a name: a surrogate pair counts as one.
std::vector<char32_t> Characters(std::u16string_view s) {
  std::vector<char32_t> out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) out.push_back(text::DecodeAt(s, i));
  return out;
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

std::u16string FolderPart(std::u16string_view path) {
  const auto slash = path.rfind(kSeparator);
  if (slash == std::u16string_view::npos) return {};
  return std::u16string(path.substr(0, slash + 1));
}

bool FolderExists(std::u16string_view folder) {
  if (folder.empty()) return false;
  struct stat info {};
  return StatOrAbsent(folder, Native(folder), info) && S_ISDIR(info.st_mode);
}

bool MatchesPattern(std::u16string_view name, std::u16string_view pattern) {
  const auto n = Characters(name);
  const auto p = Characters(pattern);
  // Greedy matching with one backtrack point: the last "*" seen and where its run ended.
  std::size_t ni = 0, pi = 0, starAt = p.size(), runEnd = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == U'?' || p[pi] == n[ni])) {
      ++ni;
      ++pi;
    } else if (pi < p.size() && p[pi] == U'*') {
      starAt = pi++;
      runEnd = ni;
    } else if (starAt != p.size()) {
      pi = starAt + 1;
      ni = ++runEnd;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == U'*') ++pi;
  return pi == p.size();
}

bool FindsNormalFile(std::u16string_view path) {
  const std::string native = Native(path);
  const std::u16string folder = FolderPart(path);
  const std::u16string_view name = path.substr(folder.size());
  if (name.empty() || name.front() == u'.') return false;

  struct stat info {};
  if (!HasWildcard(name)) return StatOrAbsent(path, native, info) && S_ISREG(info.st_mode);

  // A pattern: any visible normal file of the folder that matches it is found.
  const std::string nativeFolder = folder.empty() ? std::string("./") : Native(folder);
  std::unique_ptr<DIR, DirCloser> dir(::opendir(nativeFolder.c_str()));
  if (!dir) {
    const int error = errno;
    if (MeansAbsent(error)) return false;
    ThrowAccessError(folder.empty() ? u"." : std::u16string_view(folder), error);
  }
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (!entry) {
      if (errno != 0) ThrowAccessError(folder, errno);
      return false;
    }
    const std::string entryName = entry->d_name;
    if (entryName.empty() || entryName.front() == '.') continue;
    if (!MatchesPattern(text::FromUtf8(entryName), name)) continue;
    // An entry that cannot be examined (gone meanwhile, a broken link) is simply not found.
    struct stat entryInfo {};
    if (platform::Stat((nativeFolder + entryName), entryInfo) == 0 && S_ISREG(entryInfo.st_mode)) return true;
  }
}

std::u16string Resolve(std::u16string_view path) {
  const std::filesystem::path native(Native(path));
  try {
    return text::FromUtf8(std::filesystem::weakly_canonical(std::filesystem::absolute(native)).string());
  } catch (const std::filesystem::filesystem_error& e) {
    ThrowAccessError(path, e.code().value());
  }
}

bool SameFile(std::u16string_view a, std::u16string_view b) {
  struct stat infoA {}, infoB {};
  const bool existsA = StatOrAbsent(a, Native(a), infoA);
  const bool existsB = StatOrAbsent(b, Native(b), infoB);
  if (existsA && existsB) return infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
  return Resolve(a) == Resolve(b);
}

}  // namespace quorvane::paths
