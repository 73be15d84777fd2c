#pragma once
// What a presentation says, for people and for indexes: its text and structure as a Markdown or a
// JSON document (ExportDocument), and a short account of the file (Inspect).
//
// Both open the presentation read-only through the component's own engine (.pptx and its family
// in process; .ppt and .odp through the office the component runs for them) and never write it.
// Paths are UTF-8. The JSON document's form is docs/deck.schema.json.
#include <cstdint>
#include <string>
#include <vector>

#include "quorvane/automation_error.hpp"
#include "quorvane/export.hpp"

namespace quorvane {

enum class DocumentKind { kMarkdown, kJson };

// Writes the document of `kind` for the presentation `input` to `output`, complete or not at all:
// an earlier file under that name survives a failure, and the input is never written (an output
// that names the input is refused). Throws AutomationError with the cause (the file cannot be
// opened, is damaged or encrypted; the output cannot be written).
QUORVANE_API void ExportDocument(const std::string& input, const std::string& output, DocumentKind kind);

// A short account of one presentation file.
struct DeckInspection {
  std::string path;
  bool ok = false;         // false: the file could not be read; `failure` and `error` say why
  bool encrypted = false;  // the file is protected with a password
  std::int32_t failure = 0;
  std::string error;
  std::string title;
  std::string author;
  std::string application;  // what wrote it, with its version ("Microsoft Office PowerPoint 16.0000")
  std::int32_t slideCount = 0;
  std::vector<std::int32_t> hiddenSlides;
  std::vector<std::int32_t> slidesWithNotes;
  double widthPoints = 0;
  double heightPoints = 0;
  std::int32_t widthPixels = 0;
  std::int32_t heightPixels = 0;
  std::vector<std::string> titles;  // per slide, empty for a slide without title
  std::vector<std::string> media;   // media parts of the package
  std::vector<std::string> fonts;   // typefaces the theme and the text name, sorted
};

// Reads `input` and tells what it holds. Never throws for a file that cannot be read: the account
// says so instead.
QUORVANE_API DeckInspection Inspect(const std::string& input);

// The account as one line of JSON (no line break), with the members named as above in camel case.
QUORVANE_API std::string InspectionJson(const DeckInspection& inspection);

}  // namespace quorvane
