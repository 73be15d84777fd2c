#pragma once
// The outline of a presentation as an RTF document (save-as format 6).
//
// The outline holds, slide by slide in order, the slide's title as a level-1 paragraph and then
// the paragraphs of its body placeholders (body, subtitle, object) as lower levels: a paragraph of
// indent level n (a:pPr lvl, 0 to 8) is outline level n + 2, down to level 9. Text boxes and other
// shapes are not part of an outline. A slide without title still gets its (empty) level-1 paragraph,
// so that slides stay apart; empty body paragraphs are left out.
//
// The RTF is plain 7-bit text: every character outside ASCII is a \uN? escape (UTF-16 code units,
// N signed, "?" the fallback for readers without Unicode), a line break (VT, and paragraph breaks
// inside a title) is \line, a tab \tab. Each level has a paragraph style "heading N" with
// \outlinelevel, so word processors show the structure in their outline views.
#include <cstdint>
#include <string>
#include <vector>

#include "engines/pptx/model.hpp"

namespace quorvane::engines::pptx {

struct OutlineParagraph {
  int level = 1;  // 1 (slide title) to 9
  std::u16string text;
};

// The outline of the presentation as the model holds it now.
std::vector<OutlineParagraph> OutlineOf(PresentationModel& model);

// The RTF document of an outline.
std::string RtfOutline(const std::vector<OutlineParagraph>& paragraphs);

}  // namespace quorvane::engines::pptx
