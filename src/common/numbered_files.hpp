#pragma once
// The process's numbered files: the text writer and the diagnostic log open their files under
// numbers from one process-wide table, as the scripting platform's file numbers work. The text
// writer takes the lowest free number; the log always opens number 2, and fails to when that
// number is taken. Numbers run from 1 to kMaxFileNumber.
//
// All operations are thread-safe. Failures throw AutomationError with the platform's run-time
// error numbers: 52 bad file number, 55 file already open (the number is in use, or the same file
// is already open for writing under another number), 64 bad file name (longer than the system
// allows), 67 too many files, 75 path/file access error (read-only file, a folder, a link to no
// file, no permission), 76 path not found (missing folder), 61 disk full, 57 device I/O error.
//
// Files are opened in place, under the output rules of output_file.hpp: a link to a file writes
// that file, a dangling link or a link to a folder is refused, a device or pipe is written through
// (a pipe nobody reads fails at once), a file without write permission is refused also for root.
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane::output {
class OutputError;
}

namespace quorvane::files {

inline constexpr std::int16_t kMaxFileNumber = 255;

enum class OpenMode {
  Output,  // create, or truncate an existing file
  Append,  // create, or write at the end
  Binary,  // from the start of the file; an existing file is emptied, as for Output
};

// The lowest number not in use; 67 when all are.
std::int16_t FreeFile();

// Opens `path` (UTF-16, the host's path) under `number`.
void Open(std::int16_t number, std::u16string_view path, OpenMode mode);

// The checks Open makes before it opens `path`, with the same run-time errors, without opening
// or creating anything: for a writer that writes elsewhere first and replaces `path` at the end.
void CheckForWriting(std::u16string_view path);

// Throws the run-time error that stands for a refused output (output_file.hpp): 76 for a missing
// folder, 64 for a name too long, 61 for a full disk, 57 for a pipe without reader or an I/O
// error, 67 for too many open files, 75 for everything else (read-only, a folder, a link to no
// file or to a folder, no permission).
[[noreturn]] void ThrowRunTimeError(const output::OutputError& error);

// Writes bytes at the file's position.
void Write(std::int16_t number, std::string_view bytes);

// Closes the file under `number`; a number with no open file is no error.
void Close(std::int16_t number);

// Whether a file is open under `number`.
bool IsOpen(std::int16_t number);

// A file that an open presentation reads from, held as the application that opened it holds it:
// while a hold lives, Open refuses to open that file for writing with run-time error 70
// (permission denied, as for a file locked by another program), and writers that replace files
// ask IsHeldForReading first. So a conversion whose output names its own input fails instead of
// destroying the input. Holds are process-wide and counted; the file is identified by device and
// inode, whatever name reaches it.
class ReadHold {
 public:
  // No hold when `path` (UTF-8) names no file.
  explicit ReadHold(const std::string& path);
  ~ReadHold();
  ReadHold(const ReadHold&) = delete;
  ReadHold& operator=(const ReadHold&) = delete;

 private:
  bool held_ = false;
  std::uint64_t device_ = 0;
  std::uint64_t inode_ = 0;
};

// Whether `path` (UTF-8) names a file under a ReadHold.
bool IsHeldForReading(const std::string& path);

}  // namespace quorvane::files
