// The table of formats: every fact about a target code, in one row. The dispatcher routes by it,
// the catalogue answers extensions and the single-file question from it, the picture export takes
// its filter names from it, the command its --type names, and the renderer bridge the formats it
// registers with their export filters.
#include <array>

#include "quorvane/catalog.hpp"

namespace quorvane::catalog {
namespace {

using enum Route;
using enum Engine;

// Rows in the order `quorvane convert --help` lists the names; codes without a name stand beside
// their relatives. Codes 8 and 11 stand in neither file-type list but have an extension.
constexpr std::array<Format, 38> kFormats{{
    // code, extension, single file, route, filter name, command name, engine, renderer's filter
    {24, u"pptx", true, SaveAs, u"", "pptx", Native, ""},
    {25, u"pptm", true, SaveAs, u"", "pptm", Native, ""},
    {26, u"potx", true, SaveAs, u"", "potx", Native, ""},
    {27, u"potm", true, SaveAs, u"", "potm", Native, ""},
    {28, u"ppsx", true, SaveAs, u"", "ppsx", Native, ""},
    {29, u"ppsm", true, SaveAs, u"", "ppsm", Native, ""},
    {1, u"ppt", true, SaveAs, u"", "ppt", Renderer, "MS PowerPoint 97"},
    {2, u"ppt", true, SaveAs, u"", "", None, ""},
    {3, u"ppt", true, SaveAs, u"", "", None, ""},
    {4, u"ppt", true, SaveAs, u"", "", None, ""},
    {10, u"ppt", true, SaveAs, u"", "", None, ""},
    {11, u"ppt", true, SaveAs, u"", "", None, ""},
    {5, u"pot", true, SaveAs, u"", "pot", Renderer, "MS PowerPoint 97 Vorlage"},
    {7, u"pps", true, SaveAs, u"", "pps", Renderer, "MS PowerPoint 97 AutoPlay"},
    {8, u"ppa", true, ThroughWord, u"", "", None, ""},
    {32, u"pdf", true, SaveAs, u"", "pdf", Renderer, "impress_pdf_Export"},
    {33, u"xps", true, SaveAs, u"", "xps", Renderer, ""},
    {34, u"xml", true, SaveAs, u"", "", Native, ""},
    {36, u"xml", true, SaveAs, u"", "", FromPictures, ""},
    {35, u"odp", true, SaveAs, u"", "odp", Renderer, "impress8"},
    {37, u"wmv", true, SaveAs, u"", "", FromPictures, ""},
    {6, u"rtf", true, SaveAs, u"", "rtf", Native, ""},
    {12, u"htm", true, SaveAs, u"", "htm", FromPictures, ""},
    {13, u"htm", true, SaveAs, u"", "", FromPictures, ""},
    {14, u"htm", true, SaveAs, u"", "", FromPictures, ""},
    {20, u"mht", false, SaveAs, u"MHT", "mht", FromPictures, ""},
    {15, u"wmf", false, SaveAs, u"WMF", "wmf", FromPictures, ""},
    {100, u"emf", false, SlidePictures, u"EMF", "emf", Renderer, ""},
    {16, u"gif", false, SlidePictures, u"GIF", "gif", Renderer, ""},
    {17, u"jpg", false, SlidePictures, u"JPG", "jpg", Renderer, ""},
    {18, u"png", false, SlidePictures, u"PNG", "png", Renderer, ""},
    {19, u"bmp", false, SlidePictures, u"BMP", "bmp", Renderer, ""},
    {21, u"tif", false, SlidePictures, u"TIF", "tif", Renderer, ""},
    {101, u"doc", true, ThroughWord, u"DOC", "doc", WordStandIn, ""},
    {106, u"rtf", true, ThroughWord, u"RTF", "word-rtf", WordStandIn, ""},
    {108, u"htm", true, ThroughWord, u"HTM", "word-htm", WordStandIn, ""},
    {200, u"txt", true, Text, u"TXT", "txt", Native, ""},
    {107, u"txt", true, Text, u"TXT", "utf16", Native, ""},
}};

}  // namespace

std::span<const Format> Formats() { return kFormats; }

const Format* FindFormat(std::int32_t code) {
  for (const Format& format : kFormats)
    if (format.code == code) return &format;
  return nullptr;
}

Route RouteOf(std::int32_t code) {
  const Format* format = FindFormat(code);
  return format ? format->route : ThroughWord;
}

std::u16string_view Extension(std::int32_t code) {
  const Format* format = FindFormat(code);
  return format ? format->extension : std::u16string_view();
}

bool SupportsSingleFileOutput(std::int32_t code) {
  const Format* format = FindFormat(code);
  return format ? format->singleFile : true;
}

}  // namespace quorvane::catalog
