#include "engines/libreoffice/staging.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

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
  Fail(failure::kCannotSave, "The output '" + to.string() + "' cannot be put in place (" + std::strerror(error) + ")");
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
  std::string parent = final.parent_path().string();
  if (name.empty() || name == "." || name == "..") {
    Fail(failure::kCannotSave, "The output '" + finalPath + "' names no file");
  }
  if (!IsFolder(parent)) {
    Fail(failure::kPathNotFound, "The folder of the output '" + finalPath + "' does not exist");
  }
  std::string pattern = parent + "/" + kStagingPrefix + "XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    Fail(failure::kCannotSave, "The output '" + finalPath + "' cannot be written: no file can be made in its folder (" +
                                   std::strerror(errno) + ")");
  }
  folder_ = pattern;
  stagedPath_ = folder_ + "/" + name;
}

StagedOutput::~StagedOutput() { RemoveTree(folder_); }

void StagedOutput::Commit() {
  fs::path final(finalPath_);
  fs::path mainName = final.filename();
  std::error_code ec;
  if (!fs::exists(stagedPath_, ec)) {
    Fail(failure::kCannotSave, "The output '" + finalPath_ + "' was not written");
  }
  std::vector<fs::path> companions;
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename() != mainName) companions.push_back(it->path());
  }
  for (const fs::path& companion : companions) MoveInto(companion, final.parent_path() / companion.filename());
  MoveInto(stagedPath_, final);
}

}  // namespace quorvane::engines::libreoffice
