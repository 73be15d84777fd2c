#pragma once
// What the command-line host prints: UTF-8 text, and tables as tab-separated lines.
//
// The control speaks UTF-16; everything the host writes goes through ToUtf8 once, here. A table is
// built first and written in one go, so that one command can offer more than one rendering of the
// same rows later without changing how it gathers them.
#include <cstddef>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quorvane/utf.hpp"

namespace quorvane::cli {

// UTF-16 to UTF-8, the bytes of a file name that is not UTF-8 restored (quorvane/utf.hpp).
inline std::string ToUtf8(std::u16string_view text) { return Utf16ToUtf8(text); }

// Text for a terminal: what the user named (a file name can hold any byte but "/" and NUL) and
// what the control says about it, with control characters as visible escapes ("\n", "\e", ...)
// and bytes that are not UTF-8 as "\xHH" (quorvane::PrintableText). A name can then neither
// forge a line of its own nor send the terminal an escape sequence.
inline std::string Printable(std::string_view utf8) { return Utf16ToUtf8(PrintableText(Utf8ToUtf16(utf8))); }
inline std::string Printable(std::u16string_view text) { return Utf16ToUtf8(PrintableText(text)); }

// Rows of UTF-8 fields under a header of column names. Every row has as many fields as there are
// columns: a row of another width is a mistake in the command that built it, and AddRow throws
// std::logic_error rather than print a table that a script would misread.
class Table {
 public:
  explicit Table(std::vector<std::string> columns) : columns_(std::move(columns)) {}

  void AddRow(std::vector<std::string> fields) {
    if (fields.size() != columns_.size()) throw std::logic_error("table row does not match its header");
    rows_.push_back(std::move(fields));
  }

  const std::vector<std::string>& columns() const { return columns_; }
  const std::vector<std::vector<std::string>>& rows() const { return rows_; }

 private:
  std::vector<std::string> columns_;
  std::vector<std::vector<std::string>> rows_;
};

// One line per row, header first, fields separated by one tab, each line ending in "\n", nothing
// after the last row. A tab, carriage return or line feed inside a field is written as a space, so
// that a field can never split a row or a line for the script reading it.
inline void WriteTsv(std::ostream& out, const Table& table) {
  const auto writeLine = [&out](const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) line += '\t';
      for (const char ch : fields[i]) line += (ch == '\t' || ch == '\r' || ch == '\n') ? ' ' : ch;
    }
    line += '\n';
    out << line;
  };
  writeLine(table.columns());
  for (const auto& row : table.rows()) writeLine(row);
}

}  // namespace quorvane::cli
