#pragma once
// The process's numbered files: the text writer and the diagnostic log open their files under
// numbers from one process-wide table, as the scripting platform's file numbers work. The text
// writer takes the lowest free number; the log always opens number 2, and fails to when that
// number is taken. Numbers run from 1 to kMaxFileNumber.
//
// All operations are thread-safe. Failures throw AutomationError with the platform's run-time
// error numbers: 52 bad file number, 55 file already open (the number is in use, or the same file
// is already open for writing under another number), 67 too many files, 75 path/file access error
// (read-only file, a folder, no permission), 76 path not found (missing folder), 61 disk full,
// 57 device I/O error.
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane::files {

inline constexpr std::int16_t kMaxFileNumber = 255;

enum class OpenMode {
  Output,  // create, or truncate an existing file
  Append,  // create, or write at the end
  Binary,  // read-write from the start of the file; an existing file is not shortened
};

// The lowest number not in use; 67 when all are.
std::int16_t FreeFile();

// Opens `path` (UTF-16, the host's path) under `number`.
void Open(std::int16_t number, std::u16string_view path, OpenMode mode);

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
