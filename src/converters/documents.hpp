#pragma once
// Documents made from the reading of a presentation (office/reading.hpp): Markdown for people and
// search indexes, JSON for programs. Both are written slide by slide as the reading arrives, so a
// long deck never sits in memory whole.
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "office/object_model.hpp"
#include "office/reading.hpp"

namespace quorvane::converters {

enum class DocumentKind { kMarkdown, kJson };

// Receives the document's text piece by piece, in order.
using DocumentOutput = std::function<void(std::string_view)>;

// Markdown (CommonMark with pipe tables), UTF-8, LF line ends:
// - "# <deck title>" when the deck has one; per slide "## Slide N: Title", "(hidden)" after a
//   hidden slide's heading;
// - text in reading order: paragraphs as paragraphs, bulleted paragraphs as "- " items and numbered
//   ones as "N. " items whatever their scheme (letters and roman numerals too; the JSON keeps the
//   scheme), indented two spaces per level; line breaks as "<br>"; links as
//   [text](url), a jump to another slide as "text (slide N)";
// - tables as pipe tables whose header is the table's first row; a cell covered by a merged cell
//   is left empty; "|" is escaped and line breaks become "<br>";
// - charts as "*Chart: title*" and a table of categories by series; pictures as
//   "*Picture: alternative text*" (media as "*Media: ...*"), the shape's name without one;
// - speaker notes under "### Notes".
std::unique_ptr<office::reading::Sink> MarkdownWriter(DocumentOutput output);

// JSON as docs/deck.schema.json describes it: {"deck": {...}, "slides": [{...}, ...]}, one slide
// per line.
std::unique_ptr<office::reading::Sink> JsonWriter(DocumentOutput output);

// Reads `presentation` and writes the document of `kind` to `path` (UTF-8): complete or not at
// all, an earlier file under that name surviving a failure. Fails with the reading's failures, or
// with the output's (access denied, path not found, disk full) as AutomationErrors.
void WriteDocument(office::ppt::Presentation& presentation, const std::string& path, DocumentKind kind);

}  // namespace quorvane::converters
