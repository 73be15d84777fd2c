#pragma once
// The file services the path checks of a conversion rely on: the folder part of a name, whether a
// folder exists, the directory lookup of an input name, and whether two names denote one file.
//
// Names are the host's paths as UTF-16 text, "/" the separator; a relative name is taken against
// the process's current directory, as the applications that open it take it.
//
// "Not there" is an answer, not a failure: a missing file or folder, or a name that runs through
// something that is not a folder, answers false. Everything else the system refuses (no search
// permission, a name too long, a loop of symbolic links) is a failure of the lookup itself and
// throws AutomationError 75 (path/file access error) with the system's reason and the name.
// A name the system cannot be given unchanged (an embedded NUL, an unpaired surrogate that is not
// an escaped byte of a name that is not UTF-8, text.hpp) throws 52 (bad file name), so that no
// lookup ever answers for a different, truncated name.
#include <string>
#include <string_view>

namespace quorvane::paths {

inline constexpr char16_t kSeparator = u'/';

// Everything up to and including the last "/"; empty when the name holds none.
std::u16string FolderPart(std::u16string_view path);

// Whether `folder` names an existing folder (symbolic links followed). An empty name is no folder.
bool FolderExists(std::u16string_view folder);

// The directory lookup of a file name: true when it finds a normal file. Only regular files count
// (symbolic links followed; folders, devices, pipes and sockets are not found), and hidden ones,
// whose name starts with ".", are not found. The last component is a lookup pattern: "*" matches
// any run of characters and "?" exactly one, and the lookup finds a file when any visible normal
// file of the folder matches. A name ending in "/" names no file.
bool FindsNormalFile(std::u16string_view path);

// Whether `name` matches the lookup pattern `pattern`: "*" any run of characters (also none), "?"
// exactly one character (a surrogate pair is one character); every other character, "[" and "\"
// included, only itself, letter case significant as the file system's names are.
bool MatchesPattern(std::u16string_view name, std::u16string_view pattern);

// The name as the system resolves it: absolute (a relative name against the current directory),
// symbolic links of its existing part resolved, "." and ".." segments and doubled separators
// removed. The part that does not exist yet is resolved lexically.
std::u16string Resolve(std::u16string_view path);

// Whether the two names denote the same file although their texts may differ ("./a.pptx" and
// "a.pptx", a symbolic link and its target, ".." segments, hard links). When both exist, their
// device and inode decide; otherwise the resolved names, compared exactly.
bool SameFile(std::u16string_view a, std::u16string_view b);

}  // namespace quorvane::paths
