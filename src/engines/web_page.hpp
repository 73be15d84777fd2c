#pragma once
// Save formats 12, 13 and 14 (a web page) and 20 (the same page as one web archive).
//
// The page is one HTML5 document in UTF-8 that shows each slide as a picture (PNG, 96 dots per
// inch of the slide size) with the slide's text below it, and its notes when it has any: a
// section per slide in slide order, a list of the slides at the top linking to them. The text is
// the slide's reading (office/reading.hpp) in reading order: paragraphs as <p>, bulleted and
// numbered paragraphs as nested <ul> and <ol> lists, direction and language as dir and lang, links
// as links (a jump to a slide to its section), slide-number fields left out; tables with their
// merged cells spanning and their header row as <th>, a table of only empty cells left out;
// everything escaped. The picture's alternative text names the slide and its title.
//
// Hidden slides are left out, as from a PDF and from a slide show: a page is what an audience
// sees. (The numbers in the page are still the slides' own, so a gap shows where one was left out.)
//
// Files. A page saved as "/out/deck.htm" keeps its pictures in "/out/deck_files/" ("slide1.png",
// "slide2.png", ... by slide number), linked relatively, percent-encoded. An existing page file is
// replaced; an existing "_files" folder is written into (its pictures of the same names replaced,
// anything else in it left alone). The folder appears first and the page last; a failure in
// between puts the folder back as it was.
//
// The web archive is the page and its pictures in one MIME multipart/related file (RFC 2557):
// the page first, then each picture, all base64-encoded, each with a Content-Location that the
// page's relative links resolve to. Browsers open it as the page.
#include <cstdint>
#include <string>
#include <vector>

#include "engines/slide_output.hpp"
#include "office/reading.hpp"

namespace quorvane::engines::web_page {

// The folder of a page's pictures: the page's path without extension, then "_files".
std::string PictureFolderOf(const std::string& pagePath);

// The text as HTML character data (also fit for attribute values): & < > " ' as references,
// control characters other than tab and line feed left out, invalid UTF-16 as U+FFFD.
std::string EscapedHtml(std::u16string_view text);

// One picture on the page.
struct PagePicture {
  std::string link;  // relative link, already percent-encoded
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// The page for the slides of `contents` that are not hidden; `readings` and `pictures` run
// parallel to `contents` (entries of hidden slides are not used). `title` names the page.
std::string PageHtml(const std::u16string& title, const std::vector<slide_output::SlideContent>& contents,
                     const std::vector<office::reading::Slide>& readings, const std::vector<PagePicture>& pictures);

// Pixel size of a PNG or (0, 0) when the bytes are no PNG.
std::pair<std::int32_t, std::int32_t> PngSize(std::string_view png);

// RFC 4648 base64, in lines of 76 characters ending in CR LF (as MIME wants).
std::string Base64Lines(std::string_view bytes);

pptx::SaveFormatWriter WebPageWriter(slide_output::SlideDrawer draw);
pptx::SaveFormatWriter WebArchiveWriter(slide_output::SlideDrawer draw);

}  // namespace quorvane::engines::web_page
