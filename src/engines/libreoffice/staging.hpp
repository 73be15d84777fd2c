#pragma once
// Names as the office takes them, and output that appears only when it is complete.
//
// The office writes every output into a private folder made next to the final place (same file
// system), under the final file name, so that companion files an export writes beside its main
// file (the pictures of an HTML export) get the names the main file refers to. Commit renames
// everything into the final folder, the main file last; a failed or abandoned call leaves nothing
// behind but what was there before.
#include <string>

namespace quorvane::engines::libreoffice {

// The file URL of a path: made absolute against the current directory, every byte outside
// A-Z a-z 0-9 - . _ ~ / percent-encoded (so UTF-8 names travel unchanged).
std::string FileUrl(const std::string& path);

// `path` made absolute against the current directory, "." and ".." segments resolved lexically.
std::string AbsolutePath(const std::string& path);

class StagedOutput {
 public:
  // Makes the private folder in the folder of `finalPath`. Throws kPathNotFound when that folder
  // does not exist, kCannotSave when no folder can be made in it (no permission, read-only).
  explicit StagedOutput(const std::string& finalPath);
  ~StagedOutput();
  StagedOutput(const StagedOutput&) = delete;
  StagedOutput& operator=(const StagedOutput&) = delete;

  const std::string& finalPath() const { return finalPath_; }
  // Where the office writes the main file.
  const std::string& stagedPath() const { return stagedPath_; }

  // Moves what was written to the final folder, replacing files of the same names. Throws
  // kCannotSave when the main file was not written or a rename fails.
  void Commit();

 private:
  std::string finalPath_;
  std::string folder_;
  std::string stagedPath_;
};

}  // namespace quorvane::engines::libreoffice
