#pragma once
// The formats the Word stand-in writes itself: Office Open XML documents (.docx, Word's format
// numbers 12 and 16, and the intermediate every office-converted format starts from), Rich Text
// Format (6), plain text
// (2, in the ANSI character set; 7, UTF-16 little-endian with a byte-order mark, as Word's Unicode
// text) and HTML (8, pictures in a folder "<stem>_files" beside the page, as Word lays it out).
//
// Pictures come as files already drawn (pictures.hpp), one per entry of
// DocumentContent::pictures(), in the order of that list.
//
// Every file is written to a temporary file in its folder and renamed into place, so a failure
// leaves no half-written output under the final name. Failures are AutomationErrors with the
// package layer's HRESULTs (path not found, access denied, disk full).
#include <string>
#include <vector>

#include "engines/word/document.hpp"

namespace quorvane::engines::word {

// A .docx package at `path` (UTF-8): pictures embedded as they are (`pictureFiles`, with the
// content type their extension names: .emf, .png).
void WriteDocx(const DocumentContent& document, const std::vector<std::string>& pictureFiles, const std::string& path);

// Rich Text Format at `path`: paragraphs, line and page breaks, pictures embedded (`pictureFiles`:
// .emf files as metafiles, others as PNG), the page size and margins of the document.
void WriteRtf(const DocumentContent& document, const std::vector<std::string>& pictureFiles, const std::string& path);

// Plain text (DocumentContent::PlainText): `unicode` false converts it to the ANSI character set of
// the calling thread's locale (characters it lacks become "?"), true writes UTF-16LE after a BOM.
void WriteText(const DocumentContent& document, bool unicode, const std::string& path);

// A web page at `path`: paragraphs, page breaks as CSS breaks, each picture an <img> of the PNG
// files copied to "<stem>_files/image001.png" ... beside the page (output::StagedFolder: the folder
// appears complete or not at all, and goes again when the page fails; files of earlier saves that
// no longer belong there are left as they are).
void WriteHtml(const DocumentContent& document, const std::vector<std::string>& pictureFiles,
               const std::string& path);

// The folder of pictures that WriteHtml uses for `path`: "<folder>/<stem>_files".
std::string HtmlPicturesFolder(const std::string& path);

}  // namespace quorvane::engines::word
