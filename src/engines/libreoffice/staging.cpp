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
#include "common/text.hpp"
#include "engines/libreoffice/failures.hpp"

namespace quorvane::engines::libreoffice {

namespace fs = std::filesystem;

namespace {

constexpr const char* kStagingPrefix = ".quorvane-render-";

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

std::string FileUrl(const std::string& path) { return "file://" + text::PercentEncoded(AbsolutePath(path)); }

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
  try {
    staging_ = std::make_unique<output::StagingFolder>(parent, kStagingPrefix, finalPath_);
  } catch (const output::OutputError& error) {
    if (stream_ >= 0) ::close(std::exchange(stream_, -1));
    Fail(failure::kStgCantSave, "Cannot save \"" + finalPath + "\": no file can be made in its folder (" +
                                   std::strerror(error.error()) + ").");
  }
  stagedPath_ = staging_->path() + "/" + StagedName(name);
}

StagedOutput::~StagedOutput() {
  if (stream_ >= 0) ::close(stream_);
}

void StagedOutput::Commit() {
  fs::path final(finalPath_);
  fs::path mainName = fs::path(stagedPath_).filename();
  std::error_code ec;
  if (!fs::exists(stagedPath_, ec)) {
    Fail(failure::kStgCantSave, "Cannot save \"" + finalPath_ + "\": the office wrote no file.");
  }
  std::vector<fs::path> companions;
  for (fs::directory_iterator it(staging_->path(), ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename() != mainName) companions.push_back(it->path());
  }
  try {
    // Companion folders (an export's pictures) are merged into folders of the same names.
    for (const fs::path& companion : companions)
      output::MoveIntoPlace(companion.string(), (final.parent_path() / companion.filename()).string(), true);
  } catch (const output::OutputError& error) {
    Fail(failure::kStgCantSave, "Cannot save \"" + error.path() + "\": it cannot be put in place (" +
                                   std::strerror(error.error()) + ").");
  }
  try {
    output::PutInPlace(stagedPath_, finalPath_);
  } catch (const output::OutputError& error) {
    FailOutput(error);
  }
  if (stream_ >= 0) ::close(std::exchange(stream_, -1));
}

}  // namespace quorvane::engines::libreoffice
