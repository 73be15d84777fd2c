#include "converters/text_writer.hpp"

#include <string>
#include <utility>

#include "common/ansi.hpp"
#include "common/numbered_files.hpp"

namespace quorvane::converters {
namespace {

// The target code the writer writes ANSI lines for; every other code gets raw UTF-16LE.
constexpr std::int32_t kAnsiTextTarget = 200;

}  // namespace

// Code 200 creates or truncates the file for ANSI lines. Every other code opens it binary at its
// start and also empties it: a caller that opens a file for writing expects it to hold only what it
// writes, not the tail of a longer earlier file. The file is written in place, under the output
// rules of every writer (a link to a file writes that file; a dangling link, a link to a folder and
// a file without write permission are refused with 75; devices and pipes are written through).
void TextWriter::OpenTextFileForWriting(const std::u16string& sOutputFileName) {
  TextFileNumber = files::FreeFile();
  try {
    files::Open(TextFileNumber, sOutputFileName,
                targetFileType_ == kAnsiTextTarget ? files::OpenMode::Output : files::OpenMode::Binary);
  } catch (...) {
    TextFileNumber = 0;
    throw;
  }
}

// Code 200: the text in the ANSI character set, then CR LF. Others: the UTF-16 code units, low
// byte first, nothing added.
void TextWriter::WriteToTextFile(const std::u16string& Value) {
  std::string bytes;
  if (targetFileType_ == kAnsiTextTarget) {
    bytes = ansi::FromUtf16(Value);
    bytes += "\r\n";
  } else {
    bytes.reserve(Value.size() * 2);
    for (const char16_t unit : Value) {
      bytes += static_cast<char>(unit & 0xFF);
      bytes += static_cast<char>(unit >> 8);
    }
  }
  files::Write(TextFileNumber, bytes);
}

void TextWriter::CloseTextFileForWriting() { files::Close(std::exchange(TextFileNumber, std::int16_t{0})); }

}  // namespace quorvane::converters
