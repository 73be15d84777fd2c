#pragma once
// Names as the office takes them, and output that appears only when it is complete.
//
// The office writes every output into a private folder made next to the file it will replace
// (same file system), under a short name of fixed length, so that whatever names the office makes
// from it fit the file system; companion files an export writes beside its main file (the
// pictures of an HTML export) keep their names. Commit moves the companions into the final folder
// and then puts the main file in place by the output rules of every writer (common/output_file.hpp:
// a link to a file replaces that file, a device or pipe is written through, read-only targets,
// folders and dangling links are refused, already when the StagedOutput is made). A failed or
// abandoned call leaves nothing behind but what was there before; the private folder is
// registered for removal should the process be ended by a signal.
#include <memory>
#include <string>

#include "common/output_file.hpp"

namespace quorvane::engines::libreoffice {

// The file URL of a path: made absolute against the current directory, every byte outside
// A-Z a-z 0-9 - . _ ~ / percent-encoded (so UTF-8 names travel unchanged).
std::string FileUrl(const std::string& path);

// `path` made absolute against the current directory, "." and ".." segments resolved lexically.
std::string AbsolutePath(const std::string& path);

class StagedOutput {
 public:
  // Checks the target and makes the private folder beside it. Throws kWin32PathNotFound when the folder
  // of `finalPath` does not exist, kStgCantSave when the target is refused or no folder can be
  // made there; the description names the cause.
  explicit StagedOutput(const std::string& finalPath);
  ~StagedOutput();
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  const std::string& finalPath() const { return finalPath_; }
  // Where the office writes the main file.
  const std::string& stagedPath() const { return stagedPath_; }

  // Moves what was written to the final folder, replacing files of the same names. Throws
  // kStgCantSave (kWin32PathNotFound for a folder gone meanwhile) when the main file was not written or
  // cannot be put in place.
  void Commit();

 private:
  std::string finalPath_;
  std::unique_ptr<output::StagingFolder> staging_;
  std::string stagedPath_;
  int stream_ = -1;  // a device or pipe target, held open from the start
};

}  // namespace quorvane::engines::libreoffice
