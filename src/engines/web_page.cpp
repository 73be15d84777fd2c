// The web page and the web archive (web_page.hpp).
#include "engines/web_page.hpp"

#include <ctime>
#include <string_view>
#include <utility>

#include "common/markup.hpp"
#include "common/text.hpp"

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

// A text as paragraphs: one <p> per paragraph (CR or LF), line breaks (VT) as <br>; empty
// paragraphs left out.
void AppendParagraphs(std::string& html, std::u16string_view text) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(u"\r\n", start);
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string_view paragraph = text.substr(start, end - start);
    if (paragraph.find_first_not_of(u" \t\v") != std::u16string_view::npos) {
      html += "<p>";
      std::size_t lineStart = 0;
      while (true) {
        const std::size_t lineEnd = paragraph.find(u'\v', lineStart);
        html += EscapedHtml(paragraph.substr(lineStart, lineEnd == std::u16string_view::npos ? std::u16string_view::npos
                                                                                             : lineEnd - lineStart));
        if (lineEnd == std::u16string_view::npos) break;
        html += "<br>";
        lineStart = lineEnd + 1;
      }
      html += "</p>\n";
    }
    start = end + 1;
  }
}

// A table: its cells row by row, each cell's paragraphs as AppendParagraphs writes them.
void AppendTable(std::string& html, const std::vector<std::vector<std::u16string>>& rows) {
  html += "<table>\n";
  for (const auto& row : rows) {
    html += "<tr>";
    for (const auto& cell : row) {
      std::string paragraphs;
      AppendParagraphs(paragraphs, cell);
      if (!paragraphs.empty() && paragraphs.back() == '\n') paragraphs.pop_back();
      html += "<td>" + paragraphs + "</td>";
    }
    html += "</tr>\n";
  }
  html += "</table>\n";
}

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
  std::vector<std::pair<std::string, std::string>> files;  // picture name, bytes (slides shown)
  std::u16string title;
};

DrawnPage Draw(const slide_output::SlideDrawer& draw, pptx::PresentationModel& model, const std::string& path,
               const std::string& folderName) {
  DrawnPage page;
  page.contents = slide_output::SlideContents(model);
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
  gmtime_r(&now, &utc);
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
                     const std::vector<PagePicture>& pictures) {
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
      "td{border:1px solid #ccc;padding:.2em .5em;vertical-align:top}\n"
      "td p{margin:0}\n"
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
    // The title is the heading already; the other texts follow in shape order.
    bool titleSkipped = false;
    std::string body;
    for (const auto& block : slide.blocks) {
      if (!block.rows.empty()) {
        AppendTable(body, block.rows);
        continue;
      }
      if (!titleSkipped && !slide.title.empty() && block.text == slide.title) {
        titleSkipped = true;
        continue;
      }
      AppendParagraphs(body, block.text);
    }
    if (!body.empty()) html += "<div class=\"text\">\n" + body + "</div>\n";
    std::string notes;
    AppendParagraphs(notes, slide.notes);
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
    const std::string html = PageHtml(page.title, page.contents, page.pictures);
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
    const std::string html = PageHtml(page.title, page.contents, page.pictures);

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
