// The file-type catalogue: the two format lists and the extension table, each defined once.
#include <array>

#include "quorvane/catalog.hpp"

namespace quorvane::catalog {
namespace {

constexpr std::array<FileTypeEntry, 36> kLongList{{
    {24, u"PPTX-PowerPoint File"},
    {25, u"PPTM-PowerPoint File macro enabled"},
    {1, u"PPT-Power Point File"},
    {32, u"PDF-Using PowerPoint"},
    {33, u"XPS Document"},
    {26, u"POTX-PowerPoint Template"},
    {27, u"POTM-PowerPoint Template Macro"},
    {5, u"POT-Design Template"},
    {28, u"PPSX-PowerPoint Show"},
    {29, u"PPSM-PowerPoint Show"},
    {7, u"PPS-PowerPoint Show"},
    {34, u"XML-PowerPoint Presentation"},
    {37, u"WMV-Windows Media Video"},
    {16, u"GIF-Graphics Interchange Format"},
    {17, u"JPEG-File Interchange Format"},
    {19, u"BMP-Bitmap Format"},
    {21, u"TIF-Tag Image File Format"},
    {15, u"WMF-Windows Metafile"},
    {18, u"PNG-Portable Network Graphics Format"},
    {100, u"EMF-Enhanced Windows Meta File"},
    {6, u"RTF/DOC-Rich Text Format"},
    {36, u"PPTX-PowerPoint Picture Presentation"},
    {35, u"ODP-Open Document Presentation"},
    {200, u"TXT-Text Format"},
    {12, u"HTM-Single File Web Page"},
    {13, u"HTML v3-Web Page"},
    {14, u"HTML Dual-Web Page"},
    {20, u"MHT-Web Archive"},
    {2, u"PPT-PowerPoint 95"},
    {10, u"PowerPoint Far East"},
    {3, u"PPT-PowerPoint v4"},
    {4, u"PPT-PowerPoint v3"},
    {101, u"DOC-Word Doc export"},
    {108, u"HTML-Word export"},
    {106, u"RTF-Word export, Rich Text Format"},
    {107, u"Unicode Text"},
}};

constexpr std::array<FileTypeEntry, 24> kShortList{{
    {6, u"RTF/DOC - Rich Text Format"},
    {200, u"TXT-Text Format"},
    {12, u"HTM-Single File Web Page"},
    {13, u"HTML v3-Web Page"},
    {14, u"HTML Dual-Web Page"},
    {16, u"GIF-Graphics Interchange Format"},
    {17, u"JPEG-File Interchange Format"},
    {19, u"BMP-Bitmap Format"},
    {21, u"TIF-Tag Image File Format"},
    {15, u"WMF-Windows Metafile"},
    {18, u"PNG-Portable Network Graphics Format"},
    {7, u"PPS-PowerPoint Show"},
    {1, u"PPT-Power Point File"},
    {20, u"MHT-Web Archive"},
    {2, u"PPT-PowerPoint 95"},
    {5, u"POT-Design Template"},
    {10, u"PowerPoint Far East"},
    {3, u"PPT-PowerPoint v4"},
    {4, u"PPT-PowerPoint v3"},
    {100, u"EMF-Enhanced Windows Meta File"},
    {101, u"DOC-Word Doc export"},
    {108, u"HTML-Word export"},
    {106, u"RTF-Word export, Rich Text Format"},
    {107, u"Unicode Text"},
}};

struct ExtensionRow {
  std::int32_t code;
  std::u16string_view extension;
};

// Every code with an extension: the catalogue's codes, plus 8 and 11, which stand in no list.
constexpr std::array<ExtensionRow, 38> kExtensions{{
    {1, u"ppt"},   {2, u"ppt"},   {3, u"ppt"},    {4, u"ppt"},   {5, u"pot"},   {6, u"rtf"},
    {7, u"pps"},   {8, u"ppa"},   {10, u"ppt"},   {11, u"ppt"},  {12, u"htm"},  {13, u"htm"},
    {14, u"htm"},  {15, u"wmf"},  {16, u"gif"},   {17, u"jpg"},  {18, u"png"},  {19, u"bmp"},
    {20, u"mht"},  {21, u"tif"},  {24, u"pptx"},  {25, u"pptm"}, {26, u"potx"}, {27, u"potm"},
    {28, u"ppsx"}, {29, u"ppsm"}, {32, u"pdf"},   {33, u"xps"},  {34, u"xml"},  {35, u"odp"},
    {36, u"xml"},  {37, u"wmv"},  {100, u"emf"},  {101, u"doc"}, {106, u"rtf"}, {107, u"txt"},
    {108, u"htm"}, {200, u"txt"},
}};

}  // namespace

std::span<const FileTypeEntry> FileTypeList(bool longList) {
  if (longList) return kLongList;
  return kShortList;
}

std::u16string_view Extension(std::int32_t code) {
  for (const auto& row : kExtensions)
    if (row.code == code) return row.extension;
  return {};
}

bool SupportsSingleFileOutput(std::int32_t code) { return !((code >= 15 && code <= 21) || code == 100); }

}  // namespace quorvane::catalog
