#pragma once
// "-" as a file name of `quorvane convert`: standard input as the presentation, standard output as
// the converted file. The control converts files, so each goes through a private file in a private
// temporary folder of the command's own: standard input is copied there before the conversion, the
// output is written there and copied to standard output afterwards. The folder is removed with
// what it holds when the conversion is done, and by a signal that ends the command before that.
#include <optional>
#include <string>

namespace quorvane::cli {

inline constexpr std::string_view kStandardStream = "-";

// A folder only this process uses (mode 0700) under $TMPDIR (else /tmp), removed with its content
// on destruction and on SIGINT, SIGTERM and SIGHUP.
class PrivateFolder {
 public:
  // Makes the folder; nullopt with `error` set when it cannot be made.
  static std::optional<PrivateFolder> Make(std::string& error);
  PrivateFolder(PrivateFolder&& other) noexcept;
  PrivateFolder& operator=(PrivateFolder&&) = delete;
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  ~PrivateFolder();

  const std::string& path() const { return path_; }

 private:
  PrivateFolder(std::string path, int signalNumber) : path_(std::move(path)), signalNumber_(signalNumber) {}
  std::string path_;
  int signalNumber_ = -1;
};

// Copies standard input into the new file `folder`/standard-input.<ext>, where the extension follows
// the content (.ppt for a compound file, .odp for an OpenDocument package, else .pptx). Returns the
// file's path, or nullopt with `error` set when standard input cannot be read or the copy written.
std::optional<std::string> CopyStandardInput(const std::string& folder, std::string& error);

// Copies the file to standard output; false when the file cannot be read or standard output
// cannot be written (all of it), with `error` set.
bool CopyToStandardOutput(const std::string& file, std::string& error);

}  // namespace quorvane::cli
