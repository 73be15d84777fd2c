#pragma once
// The control's public text writer: one file open at a time under a number of the process's
// numbered-file table, written as ANSI lines (code 200) or as raw UTF-16LE (every other code).
//
// TextFileNumber holds the number of the file the writer has open, or 0 when it has none: a failed
// open and a close set it back to 0, so that the control never writes to or closes a number that
// the process's file table has meanwhile handed to someone else. The writer catches nothing; its
// failures are run-time errors of the numbered files (55 already open, 75 read-only or not a file,
// 76 missing folder, 52 no open file, ...).
#include <cstdint>
#include <string>

namespace quorvane::converters {

class TextWriter {
 public:
  // The writer writes for the target code it finds here at each call.
  explicit TextWriter(const std::int32_t& targetFileType) : targetFileType_(targetFileType) {}
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  std::int16_t TextFileNumber = 0;

  void OpenTextFileForWriting(const std::u16string& sOutputFileName);
  void WriteToTextFile(const std::u16string& Value);
  void CloseTextFileForWriting();

 private:
  const std::int32_t& targetFileType_;
};

}  // namespace quorvane::converters
