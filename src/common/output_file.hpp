#pragma once
// How every output file of the component is written: one rule for all formats and engines.
//
// - A new or replaced file is written into a temporary file beside it (same folder, so the same
//   file system) and renamed into place only when complete, after an fsync. On any failure the
//   temporary file is removed and the old file stays as it was, byte for byte. A replaced file
//   keeps its mode (and, where the process may set it, its owner).
// - A name that is a link (through any number of links) to a regular file replaces the file the
//   link points to; the link stays. A link that points to no file, to a folder, or round in a
//   circle is refused, and nothing is created.
// - A character device or a pipe (/dev/null, /dev/stdout, a FIFO) is written through: opened for
//   writing, never created, renamed over or replaced. A FIFO nobody reads from fails at once
//   rather than wait. What goes to such a stream is complete before the first byte is sent, so
//   a failed export sends nothing. A descriptor of the process (/dev/stdout, /dev/fd/N) is always
//   written through, whatever it refers to.
// - A regular file without any write permission bit, an immutable file and a file on a read-only
//   file system are refused, also for root (root ignores the permission bits, so they are tested
//   here instead of left to the system). Folders, block devices and sockets are refused.
// - Temporary names are short and of fixed length (".quorvane-" and six characters), whatever the
//   target is called, so that every name the file system allows can be written. A name longer
//   than the file system allows is refused with that cause.
// - Every temporary file lives registered with cleanup::TemporaryPath, so that a command ended by
//   a signal removes it.
//
// Failures throw OutputError, which carries the cause, the system's error number and a description
// naming the cause plainly ("Cannot save \"x.pdf\": the file is read-only."). Callers map the cause
// to their own failure numbers.
#include <sys/types.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::output {

enum class Cause {
  kBadName,        // empty, holds a NUL, or ends in "/"
  kNameTooLong,    // longer than the file system allows
  kFolderMissing,  // the folder of the file does not exist
  kIsFolder,       // the name is a folder
  kLinkToFolder,   // a link to a folder
  kDanglingLink,   // a link to no file
  kLinkLoop,       // links that lead round in a circle
  kNotAFile,       // a block device, a socket
  kReadOnly,       // no write permission bit, immutable, or a read-only file system
  kNoPermission,   // the system refuses access (folder or file)
  kNoReader,       // a FIFO that nobody reads from
  kDiskFull,       // no space or quota left
  kWriteFailed,    // any other failure while writing or putting the file in place
};

class OutputError : public std::runtime_error {
 public:
  // `reason` completes "Cannot save \"<path>\": ", without the final period.
  OutputError(Cause cause, int error, const std::string& path, const std::string& reason);

  Cause cause() const noexcept { return cause_; }
  // The system's error number behind the failure (0 when the check itself decided).
  int error() const noexcept { return error_; }
  // The file named by the caller.
  const std::string& path() const noexcept { return path_; }
  // The cause alone ("the file is read-only"), for callers that word their own message.
  const std::string& reason() const noexcept { return reason_; }

 private:
  Cause cause_;
  int error_;
  std::string path_;
  std::string reason_;
};

// What a name refers to, checked as above (throws OutputError for everything refused).
struct Target {
  enum class Kind {
    kNewFile,  // nothing of that name yet: created
    kFile,     // an existing regular file: replaced
    kStream,   // a character device, FIFO or process descriptor: written through
  };
  Kind kind = Kind::kNewFile;
  std::string path;    // the file to create, replace or open: links followed
  std::string folder;  // its folder ("." for a bare name)
  mode_t mode = 0;     // kFile: its permissions
  uid_t owner = 0;     // kFile: its owner and group
  gid_t group = 0;
};
Target ResolveTarget(const std::string& path);

// Writes `path` (UTF-8) by the rule above; `fill` writes the content through the descriptor it is
// given (a regular file, which it may seek and read) and reports its own failures by throwing.
void WriteFile(const std::string& path, const std::function<void(int fd)>& fill);
void WriteFile(const std::string& path, std::string_view bytes);

// Puts the finished regular file `source` at `path` by the rule above: renamed into place when it
// lies on the same file system as the target, copied otherwise. `source` may be gone afterwards
// (the caller removes it if it is not).
void PutInPlace(const std::string& source, const std::string& path);

// Opens `path` for writing in place (no temporary file) under the same target rules: a link to a
// file opens that file, a stream is opened without being created, everything refused above is
// refused here. `append` writes at the end; otherwise an existing regular file is emptied.
// Returns the descriptor (close-on-exec).
int OpenInPlace(const std::string& path, bool append);

// Writes all of `bytes` to `fd`; `path` names the output in a failure (kDiskFull, kWriteFailed).
void WriteAll(int fd, std::string_view bytes, const std::string& path);

// A file written in several steps and put in place at the end: the temporary file beside the
// target exists (empty, mode 0600, registered for cleanup) from construction; whoever writes it
// opens temporaryPath() by name or uses fd(). Commit syncs it, gives it the mode of the file it
// replaces and renames it into place; destruction without Commit removes it. For a stream target
// no temporary file is made: stream() is true and the caller writes to the stream itself.
class PendingFile {
 public:
  explicit PendingFile(const std::string& path);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  bool stream() const { return target_.kind == Target::Kind::kStream; }
  const Target& target() const { return target_; }
  // Where to write: the temporary file (empty for a stream).
  const std::string& temporaryPath() const;
  int fd() const { return fd_; }
  // Closes the descriptor of the temporary file, for a writer that opens it by name (many pending
  // files must not hold a descriptor each); Commit opens it again.
  void CloseDescriptor();
  void Commit();

 private:
  friend void CommitAll(const std::vector<std::unique_ptr<PendingFile>>& files);
  void CommitSynced(bool sync);

  std::string requested_;
  Target target_;
  struct Temporary;
  std::unique_ptr<Temporary> temporary_;
  int fd_ = -1;
};

// Commits `files` in order, with one flush per file system for all of them instead of one per
// file (a text export of one file per slide may have thousands). A failure leaves the files not
// yet committed pending.
void CommitAll(const std::vector<std::unique_ptr<PendingFile>>& files);

}  // namespace quorvane::output
