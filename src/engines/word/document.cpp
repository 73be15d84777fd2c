// The Word stand-in's document model (document.hpp).
#include "engines/word/document.hpp"

#include <algorithm>
#include <utility>

namespace quorvane::engines::word {

namespace {
constexpr double kDefaultMargin = 72.0;  // one inch, Word's default
}  // namespace

void DocumentContent::AppendCharacters(std::u16string_view text) {
  if (text.empty()) return;
  auto& items = paragraphs_.back().items;
  if (!items.empty() && items.back().kind == Inline::Kind::kText)
    items.back().text.append(text);
  else
    items.push_back(Inline{Inline::Kind::kText, std::u16string(text), 0});
}

void DocumentContent::AppendText(std::u16string_view text) {
  std::size_t start = 0;
  auto flush = [&](std::size_t end) {
    AppendCharacters(text.substr(start, end - start));
    start = end + 1;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0x20 || c == u'\t') continue;
    flush(i);
    switch (c) {
      case u'\r':
        AppendParagraph();
        if (i + 1 < text.size() && text[i + 1] == u'\n') start = ++i + 1;
        break;
      case u'\n':
        AppendParagraph();
        break;
      case u'\v':
        AppendLineBreak();
        break;
      case u'\f':
        AppendPageBreak();
        break;
      default:
        break;  // dropped
    }
  }
  if (start < text.size()) AppendCharacters(text.substr(start));
}

void DocumentContent::AppendParagraph() { paragraphs_.emplace_back(); }

void DocumentContent::AppendLineBreak() { paragraphs_.back().items.push_back(Inline{Inline::Kind::kLineBreak, {}, 0}); }

void DocumentContent::AppendPageBreak() {
  paragraphs_.back().items.push_back(Inline{Inline::Kind::kPageBreak, {}, 0});
  paragraphs_.emplace_back();
}

void DocumentContent::AppendPicture(std::shared_ptr<const clipboard::CopiedSlide> slide) {
  pictures_.push_back(std::move(slide));
  paragraphs_.back().items.push_back(Inline{Inline::Kind::kPicture, {}, pictures_.size() - 1});
}

double DocumentContent::margin() const {
  return std::min({kDefaultMargin, static_cast<double>(pageWidth_) / 8, static_cast<double>(pageHeight_) / 8});
}

Box DocumentContent::PictureBox(std::size_t index) const {
  const auto& slide = *pictures_.at(index);
  const double columnWidth = pageWidth_ - 2 * margin();
  const double columnHeight = pageHeight_ - 2 * margin();
  // A slide's proportions; a clip without a size (never made by the engine) counts as 4:3.
  const double aspect = slide.widthEmu > 0 && slide.heightEmu > 0
                            ? static_cast<double>(slide.heightEmu) / static_cast<double>(slide.widthEmu)
                            : 0.75;
  Box box{columnWidth, columnWidth * aspect};
  if (box.height > columnHeight) box = Box{columnHeight / aspect, columnHeight};
  return box;
}

std::u16string DocumentContent::PlainText() const {
  std::u16string out;
  for (const auto& paragraph : paragraphs_) {
    for (const auto& item : paragraph.items) {
      switch (item.kind) {
        case Inline::Kind::kText:
          out += item.text;
          break;
        case Inline::Kind::kLineBreak:
          out += u"\r\n";
          break;
        case Inline::Kind::kPageBreak:
          out += u'\f';
          break;
        case Inline::Kind::kPicture:
          break;
      }
    }
    out += u"\r\n";
  }
  return out;
}

}  // namespace quorvane::engines::word
