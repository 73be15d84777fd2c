// The outline of a presentation and its RTF form (see rtf_outline.hpp).
#include "engines/pptx/rtf_outline.hpp"

#include <algorithm>

#include "common/markup.hpp"
#include "engines/pptx/model_shapes.hpp"

namespace quorvane::engines::pptx {

namespace {

constexpr int kDeepestLevel = 9;

bool IsTitle(std::int32_t placeholderType) {
  return placeholderType == office::ppt::kPlaceholderTitle || placeholderType == office::ppt::kPlaceholderCenterTitle ||
         placeholderType == 5;  // vertical title
}

bool IsBody(std::int32_t placeholderType) {
  return placeholderType == office::ppt::kPlaceholderBody || placeholderType == office::ppt::kPlaceholderSubtitle ||
         placeholderType == 6 ||  // vertical body
         placeholderType == 7 ||  // object
         placeholderType == 17;   // vertical object
}

// The paragraphs of a text body with their indent levels (a:pPr lvl).
std::vector<OutlineParagraph> Paragraphs(xml::Node txBody, std::int32_t slideNumber, std::uint32_t maxLength) {
  const std::u16string text = xml::TextOfBody(txBody, slideNumber, maxLength);
  const std::vector<xml::Node> nodes = xml::ChildrenNamed(txBody, "a:p");
  std::vector<OutlineParagraph> out;
  std::size_t start = 0;
  for (std::size_t i = 0;; ++i) {
    const std::size_t end = std::min(text.find(u'\r', start), text.size());
    OutlineParagraph paragraph;
    // TextOfBody gives one CR between paragraphs; a count that differs (a CR inside a run's text)
    // leaves every paragraph at the first level.
    const std::int64_t lvl = i < nodes.size() ? xml::IntAttr(nodes[i].child("a:pPr"), "lvl", 0) : 0;
    paragraph.level = static_cast<int>(std::clamp<std::int64_t>(lvl, 0, 8)) + 2;
    paragraph.text = text.substr(start, end - start);
    out.push_back(std::move(paragraph));
    if (end >= text.size()) break;
    start = end + 1;
  }
  if (out.size() != nodes.size())
    for (auto& paragraph : out) paragraph.level = 2;
  return out;
}

// Line breaks and paragraph ends inside a paragraph as \line; no other control character has a
// meaning in an outline.
void AppendEscaped(std::string& out, std::u16string_view text) {
  markup::AppendRtfEscaped(out, text, markup::RtfControls::kAsLineBreaks);
}

}  // namespace

std::vector<OutlineParagraph> OutlineOf(PresentationModel& model) {
  std::vector<OutlineParagraph> outline;
  const std::uint32_t maxLength = model.limits().maxTextLength;
  for (const auto& slide : model.slides()) {
    const auto document = model.Document(slide->partName);
    const std::int32_t number = model.SlideNumber(*slide);
    OutlineParagraph title;
    std::vector<OutlineParagraph> body;
    bool titled = false;
    for (const xml::Node shape : document->PageShapes()) {
      const xml::Node ph = PlaceholderOf(shape);
      const xml::Node txBody = xml::Child(shape, "p:txBody");
      if (!ph || !txBody) continue;
      const std::int32_t type = PlaceholderType(ph);
      if (IsTitle(type) && !titled) {
        titled = true;
        title.text = xml::TextOfBody(txBody, number, maxLength);
      } else if (IsBody(type) || IsTitle(type)) {
        for (auto& paragraph : Paragraphs(txBody, number, maxLength))
          if (!paragraph.text.empty()) body.push_back(std::move(paragraph));
      }
    }
    outline.push_back(std::move(title));
    for (auto& paragraph : body) outline.push_back(std::move(paragraph));
  }
  return outline;
}

std::string RtfOutline(const std::vector<OutlineParagraph>& paragraphs) {
  // Per level: left indent in twips, font size in half points.
  const auto indent = [](int level) { return (level - 1) * 360; };
  const auto size = [](int level) { return level == 1 ? 32 : level == 2 ? 28 : level == 3 ? 24 : 20; };
  const auto format = [&](int level) {
    return "\\s" + std::to_string(level) + "\\li" + std::to_string(indent(level)) + "\\sa120\\outlinelevel" +
           std::to_string(level - 1) + (level == 1 ? "\\b" : "") + "\\f0\\fs" + std::to_string(size(level));
  };

  std::string out = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\r\n{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}\r\n";
  out += "{\\stylesheet{\\s0\\f0\\fs24 Normal;}";
  for (int level = 1; level <= kDeepestLevel; ++level)
    out += "{" + format(level) + " \\sbasedon0\\snext0 heading " + std::to_string(level) + ";}";
  out += "}\r\n";
  for (const auto& paragraph : paragraphs) {
    const int level = std::clamp(paragraph.level, 1, kDeepestLevel);
    out += "\\pard\\plain" + format(level) + " ";
    AppendEscaped(out, paragraph.text);
    out += "\\par\r\n";
  }
  out += "}\r\n";
  return out;
}

}  // namespace quorvane::engines::pptx
