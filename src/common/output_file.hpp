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

#include <cstdint>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/cleanup.hpp"

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
  std::uint32_t owner = 0;  // kFile: its owner and group (POSIX)
  std::uint32_t group = 0;
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

// --- Folders of outputs --------------------------------------------------------------------------

// A private folder `<parent>/<prefix>XXXXXX` (mode 0700) where outputs are made before they are put
// in place: made beside them, it lies on the same file system, so that they are renamed, not
// copied. Registered for removal should the process be ended by a signal, and removed with what it
// still holds when the object goes. When it cannot be made, OutputError for `requested`, cause
// kFolderMissing when `parent` does not exist and kNoPermission otherwise, reason "cannot write in
// its folder (<the system's reason>)".
class StagingFolder {
 public:
  StagingFolder(const std::string& parent, std::string_view prefix, const std::string& requested);
  ~StagingFolder();
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  cleanup::TemporaryPath registration_;
};

// Renames `from` to `to`; with `mergeFolders`, a folder onto an existing folder is merged entry by
// entry (files of the same names replaced). Failures throw OutputError for the path that could not
// be put in place: kDiskFull, kFolderMissing (its folder is gone) or kWriteFailed, reason "it
// cannot be put in place (<the system's reason>)" ("the disk is full" for kDiskFull).
void MoveIntoPlace(const std::string& from, const std::string& to, bool mergeFolders);

// A folder of output files that appears complete or not at all.
//
// Files are put into a private staging folder beside the target folder and moved into place by
// Commit: a folder that does not exist yet appears whole with one rename; into an existing folder
// each file is renamed over its namesake (other files there stay), the files it replaces kept
// aside until the output is final and taking their mode and owner. Rollback puts everything back
// as it was (for a file written after the folder that fails); destruction removes the staging
// folder and what it still holds (replaced files, or everything when Commit was never reached).
//
// The checks come first (constructor): the folder is a usable name, it is a folder (or a link to
// one) if it exists, and each file it would replace passes the rule above for files and is no
// device or pipe (which could not be put back). Failures throw OutputError naming the folder.
class StagedFolder {
 public:
  // `folder` (UTF-8) is the target folder; `names` the files it will receive (plain names).
  StagedFolder(std::string folder, std::vector<std::string> names);
  ~StagedFolder();
  StagedFolder(const StagedFolder&) = delete;
  StagedFolder& operator=(const StagedFolder&) = delete;

  // The target folder, without trailing slashes.
  const std::string& folder() const { return folder_; }
  const std::vector<std::string>& names() const { return names_; }
  // Per name given: the file it replaces (kFile, links followed), or kNewFile.
  const std::vector<Target>& targets() const { return targets_; }
  // Where file `name` (one of the names given) is to be written (by WriteFile).
  std::string StagedPath(const std::string& name) const;
  // Moves the staged files into place (every name must have been staged).
  void Commit();
  // Undoes Commit. Never throws: what cannot be put back stays in the staging folder.
  void Rollback() noexcept;

 private:
  std::string folder_;
  std::vector<std::string> names_;
  std::vector<Target> targets_;
  bool existed_ = false;
  // Commit's progress, for Rollback: the folder itself was renamed into place, or the names
  // placed (and which of them replaced a file kept aside).
  bool placedWhole_ = false;
  struct Placed {
    std::string target;  // the file put in place (links followed)
    bool replaced;       // a file was there and is kept aside in staging
    std::size_t index;   // of its name
  };
  std::vector<Placed> placed_;
  std::unique_ptr<StagingFolder> staging_;
};

}  // namespace quorvane::output
