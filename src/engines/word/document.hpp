#pragma once
// The document model of the Word stand-in: what Selection.Paste, InsertBreak, InsertAfter and
// InsertParagraphAfter build, and what the writers (DOCX, text, HTML) read.
//
// A document is a list of paragraphs; a paragraph is a list of inline items: text, a line break, a
// page break, or a picture of a pasted slide. The insertion point is always the end of the
// document: every call appends, and nothing inserted replaces what is there. (Word's own selection
// would extend over inserted text and let the next insertion replace it; the conversion through
// Word appends its pieces one after another, and this keeps each of them.)
//
// Page geometry: the page size is what PageSetup set (points; Letter until then). The margins are
// Word's default inch, but never more than an eighth of the page side, so that a small page keeps
// room for its content. A pasted slide is drawn as wide as the text column, its height following
// the slide's proportions, and smaller when that would be taller than the column.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engines/shared/clipboard.hpp"

namespace quorvane::engines::word {

// Word's page size limits in points (1/72 in to 22 in).
inline constexpr float kMinPageSide = 1.0f;
inline constexpr float kMaxPageSide = 1584.0f;

struct Inline {
  enum class Kind { kText, kLineBreak, kPageBreak, kPicture };
  Kind kind = Kind::kText;
  std::u16string text;      // kText: characters without control characters, tabs kept
  std::size_t picture = 0;  // kPicture: index into DocumentContent::pictures()
};

struct Paragraph {
  std::vector<Inline> items;
};

// A picture's size on the page, in points.
struct Box {
  double width = 0;
  double height = 0;
};

class DocumentContent {
 public:
  DocumentContent() : paragraphs_(1) {}

  // --- Building (always at the end) ------------------------------------------------------------
  // Text: CR, LF and CR LF end a paragraph, VT is a line break, FF a page break, TAB stays; other
  // control characters (which no document format holds) are dropped.
  void AppendText(std::u16string_view text);
  void AppendParagraph();
  void AppendLineBreak();
  // A page break ends its paragraph: what follows starts a new paragraph on the next page.
  void AppendPageBreak();
  void AppendPicture(std::shared_ptr<const clipboard::CopiedSlide> slide);

  // --- Page -------------------------------------------------------------------------------------
  float pageWidth() const { return pageWidth_; }
  float pageHeight() const { return pageHeight_; }
  void setPageWidth(float points) { pageWidth_ = points; }
  void setPageHeight(float points) { pageHeight_ = points; }
  double margin() const;
  // The size of picture `index` on the page.
  Box PictureBox(std::size_t index) const;

  // --- Reading ----------------------------------------------------------------------------------
  const std::vector<Paragraph>& paragraphs() const { return paragraphs_; }
  const std::vector<std::shared_ptr<const clipboard::CopiedSlide>>& pictures() const { return pictures_; }
  bool empty() const { return paragraphs_.size() == 1 && paragraphs_.front().items.empty(); }

  // The document as Word's plain text saves it: every paragraph ends with CR LF, a line break is
  // CR LF as well, a page break is FF; pictures leave nothing.
  std::u16string PlainText() const;

 private:
  void AppendCharacters(std::u16string_view text);

  float pageWidth_ = 612.0f;  // Letter, 8.5 x 11 in
  float pageHeight_ = 792.0f;
  std::vector<Paragraph> paragraphs_;
  std::vector<std::shared_ptr<const clipboard::CopiedSlide>> pictures_;
};

}  // namespace quorvane::engines::word
