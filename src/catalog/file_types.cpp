// The file-type catalogue: the two format lists a host walks, in their order. Everything else
// about a code is in the table of formats (formats.cpp).
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

}  // namespace

std::span<const FileTypeEntry> FileTypeList(bool longList) {
  if (longList) return kLongList;
  return kShortList;
}

}  // namespace quorvane::catalog
