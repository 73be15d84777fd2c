#include "engines/libreoffice/staging.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "common/output_file.hpp"
#include "engines/libreoffice/failures.hpp"
#include "engines/libreoffice/office_process.hpp"

namespace quorvane::engines::libreoffice {

namespace fs = std::filesystem;

namespace {

constexpr const char* kStagingPrefix = ".quorvane-render-";

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Renames `from` to `to`; a folder onto an existing folder is merged entry by entry.
void MoveInto(const fs::path& from, const fs::path& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return;
  int error = errno;
  if ((error == EEXIST || error == ENOTEMPTY || error == EISDIR) && IsFolder(from) && IsFolder(to)) {
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    if (!ec) {
      for (const fs::path& entry : entries) MoveInto(entry, to / entry.filename());
      return;
    }
    error = ec.value();
  }
  Fail(failure::kStgCantSave,
       "Cannot save \"" + to.string() + "\": it cannot be put in place (" + std::strerror(error) + ").");
}

// The name the office writes the main file under: short and of fixed length, whatever the final
// name (the office may make names of its own from it, which must fit the file system too); the
// extension stays, for a filter that looks at it.
std::string StagedName(const std::string& finalName) {
  constexpr std::size_t kLongestExtension = 8;
  const std::size_t dot = finalName.rfind('.');
  if (dot == std::string::npos || dot == 0 || finalName.size() - dot > kLongestExtension + 1) return "output";
  std::string extension = finalName.substr(dot);
  for (char c : extension)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.') return "output";
  return "output" + extension;
}

// A refused output in the renderer's numbers; the description names the cause.
[[noreturn]] void FailOutput(const output::OutputError& error) {
  Fail(error.cause() == output::Cause::kFolderMissing ? failure::kWin32PathNotFound : failure::kStgCantSave,
       error.what());
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(fs::path(path), ec);
  if (ec) absolute = fs::path(path);
  return absolute.lexically_normal().string();
}

std::string FileUrl(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string absolute = AbsolutePath(path);
  std::string url = "file://";
  for (unsigned char c : absolute) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                 c == '_' || c == '~' || c == '/';
    if (plain) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0xF];
    }
  }
  return url;
}

StagedOutput::StagedOutput(const std::string& finalPath) : finalPath_(AbsolutePath(finalPath)) {
  fs::path final(finalPath_);
  std::string name = final.filename().string();
  if (name.empty() || name == "." || name == "..") {
    Fail(failure::kStgCantSave, "Cannot save \"" + finalPath + "\": the name is not a file name.");
  }
  // The target is checked before the office works: what would be refused at the end is refused now.
  output::Target target;
  try {
    target = output::ResolveTarget(finalPath_);
  } catch (const output::OutputError& error) {
    FailOutput(error);
  }
  // Beside the file that will be replaced (so that the result is renamed, not copied); a stream's
  // content is made in the system's temporary folder.
  std::string parent = target.folder;
  if (target.kind == output::Target::Kind::kStream) {
    // Opened now and held until Commit: a pipe nobody reads from fails before the office works,
    // and its reader stays connected meanwhile.
    try {
      stream_ = output::OpenInPlace(finalPath_, false);
    } catch (const output::OutputError& error) {
      FailOutput(error);
    }
    std::error_code ec;
    parent = fs::temp_directory_path(ec).string();
    if (ec) parent = "/tmp";
  }
  std::string pattern = (parent == "/" ? std::string() : parent) + "/" + kStagingPrefix + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    const int error = errno;
    if (stream_ >= 0) ::close(std::exchange(stream_, -1));
    Fail(failure::kStgCantSave, "Cannot save \"" + finalPath + "\": no file can be made in its folder (" +
                                    std::strerror(error) + ").");
  }
  folder_ = pattern;
  registration_ = cleanup::TemporaryPath(folder_);
  stagedPath_ = folder_ + "/" + StagedName(name);
}

StagedOutput::~StagedOutput() {
  if (stream_ >= 0) ::close(stream_);
  RemoveTree(folder_);
}

void StagedOutput::Commit() {
  fs::path final(finalPath_);
  fs::path mainName = fs::path(stagedPath_).filename();
  std::error_code ec;
  if (!fs::exists(stagedPath_, ec)) {
    Fail(failure::kStgCantSave, "Cannot save \"" + finalPath_ + "\": the office wrote no file.");
  }
  std::vector<fs::path> companions;
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename() != mainName) companions.push_back(it->path());
  }
  for (const fs::path& companion : companions) MoveInto(companion, final.parent_path() / companion.filename());
  try {
    output::PutInPlace(stagedPath_, finalPath_);
  } catch (const output::OutputError& error) {
    FailOutput(error);
  }
  if (stream_ >= 0) ::close(std::exchange(stream_, -1));
}

}  // namespace quorvane::engines::libreoffice
