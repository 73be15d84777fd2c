// What the reading's types answer themselves, and the object model's default reading.
#include "office/reading.hpp"

#include "common/failures.hpp"
#include "office/object_model.hpp"

namespace quorvane::office {

namespace reading {

std::string Paragraph::Text() const {
  std::string text;
  for (const Run& run : runs) text += run.text;
  return text;
}

std::vector<Paragraph::Span> Paragraph::LinkSpans() const {
  std::vector<Span> spans;
  for (const Run& run : runs) {
    if (spans.empty() || spans.back().link != run.link) spans.push_back({{}, run.link});
    spans.back().text += run.text;
  }
  return spans;
}

const char* KindName(ShapeKind kind) {
  switch (kind) {
    case ShapeKind::kText: return "text";
    case ShapeKind::kPicture: return "picture";
    case ShapeKind::kTable: return "table";
    case ShapeKind::kChart: return "chart";
    case ShapeKind::kMedia: return "media";
    case ShapeKind::kOther: break;
  }
  return "other";
}

}  // namespace reading

void ppt::Presentation::Read(reading::Sink&) {
  throw AutomationError(failure::kMemberNotSupported,
                        u"Presentation.Read : This presentation cannot be read for its text.");
}

}  // namespace quorvane::office
