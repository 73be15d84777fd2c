// The web page and the web archive (web_page.hpp).
#include "engines/web_page.hpp"

#include <ctime>
#include <string_view>
#include <utility>

#include "common/platform.hpp"
#include "common/markup.hpp"
#include "common/text.hpp"
#include "engines/pptx/reading.hpp"

namespace quorvane::engines::web_page {

namespace {

using slide_output::SlideContent;

constexpr const char* kPictureFilter = "PNG";
constexpr const char* kArchiveBoundary = "----=_NextPart_Quorvane_Slides";
// Where the archive says its parts come from: a page "<base><stem>.htm" and its pictures under
// "<base><stem>_files/", so that the page's relative links resolve to the pictures' locations.
// Browsers take an archive's parts only by http-style locations (a "file:" location is never
// looked up inside the archive, and the pictures stay blank); the reserved ".invalid" host can
// never be reached, should a reader look outside the archive.
constexpr const char* kArchiveBase = "https://archive.invalid/";
// Longest title the page takes from a slide (UTF-16 units); a title is a line, not a text.
constexpr std::size_t kMaxTitleLength = 200;

std::string PictureName(std::int32_t slide) { return "slide" + std::to_string(slide) + ".png"; }

// A title or an alternative text on one line: paragraph and line breaks and tabs as spaces, runs of
// spaces as one, no spaces at the ends, at most kMaxTitleLength units.
std::u16string OneLine(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text) {
    if (c == u'\r' || c == u'\n' || c == u'\v' || c == u'\t') c = u' ';
    if (c == u' ' && (out.empty() || out.back() == u' ')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == u' ') out.pop_back();
  if (out.size() > kMaxTitleLength) {
    std::size_t cut = kMaxTitleLength;
    if (text::IsHighSurrogate(out[cut - 1])) --cut;  // no half of a surrogate pair
    out.resize(cut);
    out += u"\u2026";
  }
  return out;
}

std::u16string SlideLabel(const SlideContent& slide) {
  const std::u16string title = OneLine(slide.title);
  return u"Slide " + text::Decimal(slide.number) + (title.empty() ? u"" : u": " + title);
}

namespace r = office::reading;

std::string Html(std::string_view utf8) { return EscapedHtml(text::FromUtf8(utf8)); }

// A paragraph's direction and language as attributes.
std::string ParagraphAttributes(const r::Paragraph& paragraph) {
  std::string out;
  if (paragraph.rightToLeft) out += " dir=\"rtl\"";
  if (!paragraph.language.empty()) out += " lang=\"" + Html(paragraph.language) + "\"";
  return out;
}

// A paragraph's runs: line breaks as <br>, neighbouring runs with the same link as one link (a jump
// to a slide links to its section).
std::string InlineHtml(const r::Paragraph& paragraph) {
  std::string out;
  for (const auto& [text, link] : paragraph.LinkSpans()) {
    std::string html;
    for (std::size_t start = 0; start <= text.size();) {
      const std::size_t end = std::min(text.find('\n', start), text.size());
      if (start > 0) html += "<br>";
      html += Html(std::string_view(text).substr(start, end - start));
      start = end + 1;
    }
    if (link.empty())
      out += html;
    else if (link.starts_with("slide "))
      out += "<a href=\"#slide" + link.substr(6) + "\">" + html + "</a>";
    else
      out += "<a href=\"" + Html(link) + "\">" + html + "</a>";
  }
  return out;
}

// Whether a paragraph says nothing but the slide's number (a slide-number field).
bool OnlySlideNumber(const r::Paragraph& paragraph) {
  for (const r::Run& run : paragraph.runs)
    if (run.field != "slidenum" && run.text.find_first_not_of(" \t\n") != std::string::npos) return false;
  return true;
}

// Paragraphs as HTML: plain ones as <p>, bulleted and numbered ones as nested <ul> and <ol> lists
// (a numbered list keeps its start), blank ones and slide numbers left out.
void AppendParagraphs(std::string& html, const std::vector<r::Paragraph>& paragraphs) {
  struct Open {
    std::int32_t level;
    const char* tag;
  };
  std::vector<Open> lists;  // each with an <li> open
  const auto close = [&] {
    html += std::string("</li>\n</") + lists.back().tag + ">\n";
    lists.pop_back();
  };
  for (const r::Paragraph& paragraph : paragraphs) {
    if (paragraph.Text().find_first_not_of(" \t\n") == std::string::npos || OnlySlideNumber(paragraph)) continue;
    const std::string attributes = ParagraphAttributes(paragraph);
    if (paragraph.bullet == r::Bullet::kNone) {
      while (!lists.empty()) close();
      html += "<p" + attributes + ">" + InlineHtml(paragraph) + "</p>\n";
      continue;
    }
    const char* tag = paragraph.bullet == r::Bullet::kNumber ? "ol" : "ul";
    while (!lists.empty() && (lists.back().level > paragraph.level ||
                              (lists.back().level == paragraph.level && lists.back().tag != std::string_view(tag))))
      close();
    if (!lists.empty() && lists.back().level == paragraph.level) {
      html += "</li>\n";
    } else {
      html += std::string(lists.empty() ? "<" : "\n<") + tag;  // a nested list inside its item
      if (paragraph.bullet == r::Bullet::kNumber && paragraph.number != 1)
        html += " start=\"" + std::to_string(paragraph.number) + "\"";
      html += ">\n";
      lists.push_back({paragraph.level, tag});
    }
    html += "<li" + attributes + ">" + InlineHtml(paragraph);
  }
  while (!lists.empty()) close();
}

bool Empty(const r::Cell& cell) {
  for (const r::Paragraph& paragraph : cell.paragraphs)
    if (paragraph.Text().find_first_not_of(" \t\n") != std::string::npos) return false;
  return true;
}

// A table: merged cells with their spans, the header row's cells as <th>; a table of only empty
// cells is left out.
void AppendTable(std::string& html, const r::Table& table) {
  bool any = false;
  for (const auto& row : table.rows)
    for (const r::Cell& cell : row) any = any || (!cell.covered && !Empty(cell));
  if (!any) return;
  html += "<table>\n";
  for (std::size_t i = 0; i < table.rows.size(); ++i) {
    const char* tag = i == 0 && table.headerRow ? "th" : "td";
    html += "<tr>";
    for (const r::Cell& cell : table.rows[i]) {
      if (cell.covered) continue;
      std::string paragraphs;
      AppendParagraphs(paragraphs, cell.paragraphs);
      while (!paragraphs.empty() && paragraphs.back() == '\n') paragraphs.pop_back();
      html += std::string("<") + tag;
      if (cell.columnSpan > 1) html += " colspan=\"" + std::to_string(cell.columnSpan) + "\"";
      if (cell.rowSpan > 1) html += " rowspan=\"" + std::to_string(cell.rowSpan) + "\"";
      html += ">" + paragraphs + "</" + tag + ">";
    }
    html += "</tr>\n";
  }
  html += "</table>\n";
}

// Collects the reading of every slide.
class SlideReadings final : public r::Sink {
 public:
  void OnDeck(const r::Deck&) override {}
  void OnSlide(const r::Slide& slide) override { slides.push_back(slide); }
  std::vector<r::Slide> slides;
};

std::u16string PageTitle(const std::vector<SlideContent>& contents, const std::string& path) {
  for (const auto& slide : contents) {
    if (slide.hidden) continue;
    const std::u16string title = OneLine(slide.title);
    if (!title.empty()) return title;
  }
  return text::FromUtf8(slide_output::Stem(path));
}

// What a writer needs of the slides: their contents and the pictures of the slides shown, with
// the page's links to them.
struct DrawnPage {
  std::vector<SlideContent> contents;
  std::vector<PagePicture> pictures;  // parallel to contents
  std::vector<r::Slide> readings;     // parallel to contents
  std::vector<std::pair<std::string, std::string>> files;  // picture name, bytes (slides shown)
  std::u16string title;
};

DrawnPage Draw(const slide_output::SlideDrawer& draw, pptx::PresentationModel& model, const std::string& path,
               const std::string& folderName) {
  DrawnPage page;
  page.contents = slide_output::SlideContents(model);
  SlideReadings readings;
  pptx::ReadPresentation(model, readings);
  page.readings = std::move(readings.slides);
  page.pictures.resize(page.contents.size());
  page.title = PageTitle(page.contents, path);
  std::vector<std::int32_t> shown;
  for (const auto& slide : page.contents)
    if (!slide.hidden) shown.push_back(slide.number);
  const std::vector<std::string> drawn = shown.empty() ? std::vector<std::string>() : draw(model, shown, kPictureFilter);
  const std::string folderLink = text::PercentEncoded(folderName) + "/";
  for (std::size_t i = 0, k = 0; i < page.contents.size(); ++i) {
    if (page.contents[i].hidden) continue;
    const std::string name = PictureName(page.contents[i].number);
    std::string bytes = slide_output::ReadFileBytes(drawn.at(k++));
    const auto [width, height] = PngSize(bytes);
    page.pictures[i] = {folderLink + name, width, height};
    page.files.emplace_back(name, std::move(bytes));
  }
  return page;
}

std::string FileName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The archive's Subject: the title as RFC 2047 encoded words of whole characters, folded.
std::string EncodedSubject(const std::u16string& title) {
  const std::string utf8 = text::ToValidUtf8(title);
  std::string out;
  std::size_t start = 0;
  while (start < utf8.size()) {
    std::size_t end = std::min(utf8.size(), start + 45);  // 60 base64 characters per word
    while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) --end;
    std::string word = Base64Lines(std::string_view(utf8).substr(start, end - start));
    while (!word.empty() && (word.back() == '\n' || word.back() == '\r')) word.pop_back();
    if (!out.empty()) out += "\r\n ";
    out += "=?utf-8?B?" + word + "?=";
    start = end;
  }
  return out;
}

// RFC 5322 date of now, in UTC, spelled without the locale.
std::string MailDate() {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  platform::UtcTime(now, utc);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[utc.tm_wday], utc.tm_mday,
                kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return buffer;
}

}  // namespace

std::string PictureFolderOf(const std::string& pagePath) {
  return slide_output::FolderPart(pagePath) + slide_output::Stem(pagePath) + "_files";
}

std::string EscapedHtml(std::u16string_view text) {
  std::u16string kept;
  kept.reserve(text.size());
  for (const char16_t c : text) {
    // Control characters are no HTML text (tab and line feed are white space; CR is left out so
    // that the page's line ends stay LF), nor are the C1 controls.
    if ((c < 0x20 && c != u'\t' && c != u'\n') || (c >= 0x7F && c <= 0x9F)) continue;
    kept += c;
  }
  return markup::XmlEscaped(kept, markup::kHtml);  // unpaired surrogates become U+FFFD
}

std::string PageHtml(const std::u16string& title, const std::vector<SlideContent>& contents,
                     const std::vector<office::reading::Slide>& readings, const std::vector<PagePicture>& pictures) {
  const std::string escapedTitle = EscapedHtml(title);
  std::string html =
      "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta name=\"generator\" content=\"Quorvane\">\n<title>" +
      escapedTitle +
      "</title>\n<style>\n"
      "body{margin:0 auto;padding:1em;max-width:70em;font-family:sans-serif;line-height:1.4}\n"
      "section{margin:2em 0;padding-top:1em;border-top:1px solid #ccc}\n"
      "img{display:block;max-width:100%;height:auto;border:1px solid #999}\n"
      "table{border-collapse:collapse;margin:1em 0}\n"
      "td,th{border:1px solid #ccc;padding:.2em .5em;vertical-align:top}\n"
      "td p,th p{margin:0}\n"
      ".notes{color:#444;font-size:.9em}\n"
      "</style>\n</head>\n<body>\n<h1>" +
      escapedTitle + "</h1>\n";

  bool any = false;
  for (const auto& slide : contents) any = any || !slide.hidden;
  if (!any) return html + "<p>There are no slides to show.</p>\n</body>\n</html>\n";

  html += "<nav>\n<ol>\n";
  for (const auto& slide : contents) {
    if (slide.hidden) continue;
    html += "<li><a href=\"#slide" + std::to_string(slide.number) + "\">" + EscapedHtml(SlideLabel(slide)) +
            "</a></li>\n";
  }
  html += "</ol>\n</nav>\n<main>\n";
  for (std::size_t i = 0; i < contents.size(); ++i) {
    const SlideContent& slide = contents[i];
    if (slide.hidden) continue;
    const std::string label = EscapedHtml(SlideLabel(slide));
    const PagePicture& picture = pictures.at(i);
    html += "<section id=\"slide" + std::to_string(slide.number) + "\">\n<h2>" + label + "</h2>\n<img src=\"" +
            EscapedHtml(text::FromUtf8(picture.link)) + "\"";
    if (picture.width > 0 && picture.height > 0)
      html += " width=\"" + std::to_string(picture.width) + "\" height=\"" + std::to_string(picture.height) + "\"";
    html += " alt=\"" + label + "\">\n";
    // The title is the heading already; the other texts follow in reading order.
    std::string body;
    const r::Slide& reading = readings.at(i);
    for (const r::Shape& shape : reading.shapes) {
      if (shape.table) AppendTable(body, *shape.table);
      if (shape.placeholder != "title" && shape.placeholder != "ctrTitle") AppendParagraphs(body, shape.paragraphs);
    }
    if (!body.empty()) html += "<div class=\"text\">\n" + body + "</div>\n";
    std::string notes;
    AppendParagraphs(notes, reading.notes);
    if (!notes.empty()) html += "<div class=\"notes\">\n<h3>Notes</h3>\n" + notes + "</div>\n";
    html += "</section>\n";
  }
  return html + "</main>\n</body>\n</html>\n";
}

std::pair<std::int32_t, std::int32_t> PngSize(std::string_view png) {
  if (png.size() < 24 || png.substr(0, 8) != "\x89PNG\r\n\x1A\n" || png.substr(12, 4) != "IHDR") return {0, 0};
  const auto big = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(png[at + i]);
    return v;
  };
  const std::uint32_t width = big(16), height = big(20);
  if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return {0, 0};
  return {static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)};
}

std::string Base64Lines(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  constexpr std::size_t kLine = 76;
  std::string out;
  out.reserve(bytes.size() / 3 * 4 + bytes.size() / 57 * 2 + 8);
  std::size_t column = 0;
  const auto put = [&](char c) {
    out += c;
    if (++column == kLine) {
      out += "\r\n";
      column = 0;
    }
  };
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = (static_cast<unsigned char>(bytes[i]) << 16) |
                            (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
    put(kAlphabet[v >> 18]);
    put(kAlphabet[(v >> 12) & 63]);
    put(kAlphabet[(v >> 6) & 63]);
    put(kAlphabet[v & 63]);
  }
  if (i < bytes.size()) {
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    put(kAlphabet[v >> 18]);
    put(kAlphabet[(v >> 12) & 63]);
    put(i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=');
    put('=');
  }
  if (column != 0) out += "\r\n";
  return out;
}

pptx::SaveFormatWriter WebPageWriter(slide_output::SlideDrawer draw) {
  return [draw = std::move(draw)](pptx::PresentationModel& model, const std::string& path) {
    slide_output::RefuseFolderAsFile(path);
    const std::string folder = PictureFolderOf(path);
    const DrawnPage page = Draw(draw, model, path, FileName(folder));
    const std::string html = PageHtml(page.title, page.contents, page.readings, page.pictures);
    // A page without slides to show has no pictures and needs no folder.
    if (page.files.empty()) return pptx::WriteFileAtomically(path, html);
    std::vector<std::string> names;
    for (const auto& file : page.files) names.push_back(file.first);
    slide_output::FolderOutput output(folder, names);
    for (const auto& [name, bytes] : page.files) output.Put(name, bytes);
    output.Commit();
    try {
      pptx::WriteFileAtomically(path, html);
    } catch (...) {
      output.Rollback();
      throw;
    }
  };
}

pptx::SaveFormatWriter WebArchiveWriter(slide_output::SlideDrawer draw) {
  return [draw = std::move(draw)](pptx::PresentationModel& model, const std::string& path) {
    slide_output::RefuseFolderAsFile(path);
    // The archive's page is named after the archive, as if it had been saved beside it.
    const std::string stem = slide_output::Stem(path);
    const std::string folderName = stem + "_files";
    const DrawnPage page = Draw(draw, model, path, folderName);
    const std::string html = PageHtml(page.title, page.contents, page.readings, page.pictures);

    std::string archive = "From: <Saved by Quorvane>\r\nSnapshot-Content-Location: " + std::string(kArchiveBase) +
                          text::PercentEncoded(stem + ".htm") + "\r\nSubject: " + EncodedSubject(page.title) +
                          "\r\nDate: " + MailDate() +
                          "\r\nMIME-Version: 1.0\r\nContent-Type: multipart/related;\r\n\ttype=\"text/html\";\r\n"
                          "\tboundary=\"" +
                          kArchiveBoundary + "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n";
    const auto part = [&](std::string_view contentType, const std::string& location, std::string_view bytes) {
      archive += "\r\n--" + std::string(kArchiveBoundary) + "\r\nContent-Type: " + std::string(contentType) +
                 "\r\nContent-Transfer-Encoding: base64\r\nContent-Location: " + kArchiveBase + location +
                 "\r\n\r\n" + Base64Lines(bytes);
    };
    part("text/html; charset=\"utf-8\"", text::PercentEncoded(stem + ".htm"), html);
    for (const auto& [name, bytes] : page.files) part("image/png", text::PercentEncoded(folderName) + "/" + name, bytes);
    archive += "\r\n--" + std::string(kArchiveBoundary) + "--\r\n";
    pptx::WriteFileAtomically(path, archive);
  };
}

}  // namespace quorvane::engines::web_page
