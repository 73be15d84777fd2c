// The formats the Word stand-in writes itself (writers.hpp).
#include "engines/word/writers.hpp"

#include <charconv>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "common/markup.hpp"
#include "common/output_file.hpp"
#include "common/text.hpp"
#include "common/ansi.hpp"
#include "engines/pptx/package.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::engines::word {

namespace {

using pptx::Relationship;

constexpr std::string_view kMainNs = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr std::string_view kDocumentType =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";
constexpr std::string_view kOfficeDocumentRel =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
constexpr std::string_view kImageRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/image";
constexpr double kEmuPerPoint = 12700.0;

// Characters XML 1.0 cannot hold (U+FFFE, U+FFFF) are dropped; the markup characters are escaped.
// The document model holds no control characters but TAB, which callers handle before.
std::string Escape(std::u16string_view text) {
  std::u16string kept;
  kept.reserve(text.size());
  for (const char16_t c : text)
    if (c != 0xFFFE && c != 0xFFFF) kept += c;
  return markup::XmlEscaped(kept, markup::kQuote);
}

std::string Escape(std::string_view utf8) { return Escape(text::FromUtf8(utf8)); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in.good() && !in.eof())
    throw AutomationError(failure::kWin32InvalidData, u"The picture \"" + text::FromUtf8(path) + u"\" cannot be read.");
  return bytes;
}

std::string Extension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

std::string ImageContentType(const std::string& extension) {
  if (extension == ".emf") return "image/x-emf";
  if (extension == ".wmf") return "image/x-wmf";
  if (extension == ".png") return "image/png";
  if (extension == ".jpg" || extension == ".jpeg") return "image/jpeg";
  return "application/octet-stream";
}

std::string Number(double value) { return std::to_string(std::llround(value)); }

// --- .docx -------------------------------------------------------------------------------------

std::string PictureRun(const DocumentContent& document, std::size_t index, const std::string& relId) {
  const Box box = document.PictureBox(index);
  const std::string cx = Number(box.width * kEmuPerPoint), cy = Number(box.height * kEmuPerPoint);
  const std::string id = std::to_string(index + 1);
  const std::string name = "Slide " + id;
  return "<w:r><w:drawing><wp:inline distT=\"0\" distB=\"0\" distL=\"0\" distR=\"0\"><wp:extent cx=\"" + cx +
         "\" cy=\"" + cy + "\"/><wp:docPr id=\"" + id + "\" name=\"" + name +
         "\"/><wp:cNvGraphicFramePr><a:graphicFrameLocks noChangeAspect=\"1\"/></wp:cNvGraphicFramePr>"
         "<a:graphic><a:graphicData uri=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><pic:pic>"
         "<pic:nvPicPr><pic:cNvPr id=\"" +
         id + "\" name=\"" + name + "\"/><pic:cNvPicPr/></pic:nvPicPr><pic:blipFill><a:blip r:embed=\"" + relId +
         "\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/>"
         "<a:ext cx=\"" +
         cx + "\" cy=\"" + cy +
         "\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></pic:spPr></pic:pic></a:graphicData>"
         "</a:graphic></wp:inline></w:drawing></w:r>";
}

std::string TextRuns(std::u16string_view text) {
  std::string out;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t tab = text.find(u'\t', start);
    const std::u16string_view piece = text.substr(start, tab == std::u16string_view::npos ? tab : tab - start);
    if (!piece.empty()) out += "<w:r><w:t xml:space=\"preserve\">" + Escape(piece) + "</w:t></w:r>";
    if (tab == std::u16string_view::npos) break;
    out += "<w:r><w:tab/></w:r>";
    start = tab + 1;
  }
  return out;
}

std::string DocumentXml(const DocumentContent& document, const std::vector<std::string>& relIds) {
  std::string body;
  for (const auto& paragraph : document.paragraphs()) {
    body += "<w:p>";
    for (const auto& item : paragraph.items) {
      switch (item.kind) {
        case Inline::Kind::kText: body += TextRuns(item.text); break;
        case Inline::Kind::kLineBreak: body += "<w:r><w:br/></w:r>"; break;
        case Inline::Kind::kPageBreak: body += "<w:r><w:br w:type=\"page\"/></w:r>"; break;
        case Inline::Kind::kPicture: body += PictureRun(document, item.picture, relIds.at(item.picture)); break;
      }
    }
    body += "</w:p>";
  }
  const double twip = 20.0;
  const std::string margin = Number(document.margin() * twip);
  const bool landscape = document.pageWidth() > document.pageHeight();
  body += "<w:sectPr><w:pgSz w:w=\"" + Number(document.pageWidth() * twip) + "\" w:h=\"" +
          Number(document.pageHeight() * twip) + "\"" + (landscape ? " w:orient=\"landscape\"" : "") +
          "/><w:pgMar w:top=\"" + margin + "\" w:right=\"" + margin + "\" w:bottom=\"" + margin + "\" w:left=\"" +
          margin + "\" w:header=\"0\" w:footer=\"0\" w:gutter=\"0\"/></w:sectPr>";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<w:document xmlns:w=\"" +
         std::string(kMainNs) +
         "\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\""
         " xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\""
         " xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\""
         " xmlns:pic=\"http://schemas.openxmlformats.org/drawingml/2006/picture\"><w:body>" +
         body + "</w:body></w:document>";
}

// Paragraphs without spacing and an 11-point default font, so that the page holds what the
// geometry of document.hpp places on it.
constexpr std::string_view kStylesXml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<w:styles xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\"><w:docDefaults>"
    "<w:rPrDefault><w:rPr><w:sz w:val=\"22\"/><w:szCs w:val=\"22\"/></w:rPr></w:rPrDefault>"
    "<w:pPrDefault><w:pPr><w:spacing w:before=\"0\" w:after=\"0\" w:line=\"240\" w:lineRule=\"auto\"/></w:pPr>"
    "</w:pPrDefault></w:docDefaults><w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\">"
    "<w:name w:val=\"Normal\"/></w:style></w:styles>";

// --- RTF ---------------------------------------------------------------------------------------

// Text as RTF: everything outside printable ASCII as \uN, the document model's TAB as \tab.
std::string RtfText(std::u16string_view text) { return markup::RtfEscaped(text, markup::RtfControls::kAsUnicode); }

// A picture as an RTF \pict group: a metafile as \emfblip (vectors kept), anything else as
// \pngblip; shown at its box on the page (\picwgoal, \pichgoal in twips), the data in hex.
std::string RtfPicture(const DocumentContent& document, std::size_t index, const std::string& file) {
  const Box box = document.PictureBox(index);
  const std::string bytes = ReadFile(file);
  const double twip = 20.0;
  const double hundredthMm = 2540.0 / 72.0;
  std::string out = std::string("{\\pict") + (Extension(file) == ".emf" ? "\\emfblip" : "\\pngblip") +
                    "\\picw" + Number(box.width * hundredthMm) + "\\pich" + Number(box.height * hundredthMm) +
                    "\\picwgoal" + Number(box.width * twip) + "\\pichgoal" + Number(box.height * twip) + "\n";
  static constexpr char kHex[] = "0123456789abcdef";
  out.reserve(out.size() + bytes.size() * 2 + bytes.size() / 64 + 4);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    out += kHex[c >> 4];
    out += kHex[c & 15];
    if (i % 64 == 63) out += '\n';
  }
  out += "}";
  return out;
}

// --- HTML --------------------------------------------------------------------------------------

std::string PictureName(std::size_t index) {
  std::string number = std::to_string(index + 1);
  if (number.size() < 3) number.insert(0, 3 - number.size(), '0');
  return "image" + number + ".png";
}

}  // namespace

void WriteDocx(const DocumentContent& document, const std::vector<std::string>& pictureFiles, const std::string& path) {
  auto package = pptx::Package::Create();
  std::vector<Relationship> documentRels;
  std::vector<std::string> relIds;
  documentRels.push_back(Relationship{"rId1",
                                      "http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles",
                                      {}, false, "/word/styles.xml"});
  package->SetPart("/word/styles.xml", std::string(kStylesXml),
                   "application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml");
  for (std::size_t i = 0; i < pictureFiles.size(); ++i) {
    const std::string extension = Extension(pictureFiles[i]);
    const std::string part = "/word/media/image" + std::to_string(i + 1) + extension;
    package->SetPart(part, ReadFile(pictureFiles[i]), ImageContentType(extension));
    relIds.push_back("rId" + std::to_string(i + 2));
    documentRels.push_back(Relationship{relIds.back(), std::string(kImageRel), {}, false, part});
  }
  package->SetPart("/word/document.xml", DocumentXml(document, relIds), kDocumentType);
  package->SetRelationships("/word/document.xml", documentRels);
  package->SetRelationships("/", {Relationship{"rId1", std::string(kOfficeDocumentRel), {}, false, "/word/document.xml"}});
  package->Save(path);
}

void WriteRtf(const DocumentContent& document, const std::vector<std::string>& pictureFiles, const std::string& path) {
  const double twip = 20.0;
  const std::string margin = Number(document.margin() * twip);
  std::string out =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1{\\fonttbl{\\f0\\froman Times New Roman;}}\n"
      "\\paperw" + Number(document.pageWidth() * twip) + "\\paperh" + Number(document.pageHeight() * twip) +
      "\\margl" + margin + "\\margr" + margin + "\\margt" + margin + "\\margb" + margin +
      (document.pageWidth() > document.pageHeight() ? "\\landscape" : "") + "\n\\pard\\plain\\f0\\fs22 ";
  bool first = true;
  for (const auto& paragraph : document.paragraphs()) {
    if (!first) out += "\\par\n";
    first = false;
    for (const auto& item : paragraph.items) {
      switch (item.kind) {
        case Inline::Kind::kText: out += RtfText(item.text); break;
        case Inline::Kind::kLineBreak: out += "\\line "; break;
        case Inline::Kind::kPageBreak: out += "\\page "; break;
        case Inline::Kind::kPicture: out += RtfPicture(document, item.picture, pictureFiles.at(item.picture)); break;
      }
    }
  }
  out += "\\par\n}\n";
  pptx::WriteFileAtomically(path, out);
}

void WriteText(const DocumentContent& document, bool unicode, const std::string& path) {
  const std::u16string text = document.PlainText();
  std::string bytes;
  if (unicode) {
    bytes.reserve(2 + 2 * text.size());
    bytes += "\xFF\xFE";
    for (const char16_t c : text) {
      bytes += static_cast<char>(c & 0xFF);
      bytes += static_cast<char>(c >> 8);
    }
  } else {
    bytes = ansi::FromUtf16(text);
  }
  pptx::WriteFileAtomically(path, bytes);
}

std::string HtmlPicturesFolder(const std::string& path) {
  const std::filesystem::path target(path);
  return (target.parent_path() / (target.stem().string() + "_files")).string();
}

void WriteHtml(const DocumentContent& document, const std::vector<std::string>& pictureFiles,
               const std::string& path) {
  const std::string folder = HtmlPicturesFolder(path);
  const std::string folderUrl = text::PercentEncoded(std::filesystem::path(folder).filename().string());

  // Points with two decimals, in the C format whatever the locale.
  auto pt = [](double v) {
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, 2).ptr;
    return std::string(buffer, end) + "pt";
  };
  std::string html =
      "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<meta name=\"generator\" content=\"Quorvane "
      "Documents\">\n<title>" +
      Escape(std::filesystem::path(path).stem().string()) + "</title>\n<style>\n@page { size: " +
      pt(document.pageWidth()) + " " + pt(document.pageHeight()) + "; margin: " + pt(document.margin()) +
      "; }\np { margin: 0; }\nimg { border: 0; }\n</style>\n</head>\n<body>\n";
  for (const auto& paragraph : document.paragraphs()) {
    html += "<p>";
    for (const auto& item : paragraph.items) {
      switch (item.kind) {
        case Inline::Kind::kText: {
          std::string piece = Escape(item.text);
          // Tabs show as a run of spaces, as a browser has no tab stops.
          for (std::size_t at = piece.find('\t'); at != std::string::npos; at = piece.find('\t', at))
            piece.replace(at, 1, "&emsp;");
          html += piece;
          break;
        }
        case Inline::Kind::kLineBreak: html += "<br>"; break;
        case Inline::Kind::kPageBreak: html += "<br clear=\"all\" style=\"page-break-before: always\">"; break;
        case Inline::Kind::kPicture: {
          const Box box = document.PictureBox(item.picture);
          html += "<img src=\"" + folderUrl + "/" + PictureName(item.picture) + "\" width=\"" +
                  Number(box.width * 96 / 72) + "\" height=\"" + Number(box.height * 96 / 72) + "\" alt=\"Slide " +
                  std::to_string(item.picture + 1) + "\">";
          break;
        }
      }
    }
    html += "</p>\n";
  }
  html += "</body>\n</html>\n";
  if (pictureFiles.empty()) return pptx::WriteFileAtomically(path, html);

  // The pictures' folder appears complete, and goes again when the page cannot be written.
  std::vector<std::string> names;
  for (std::size_t i = 0; i < pictureFiles.size(); ++i) names.push_back(PictureName(i));
  try {
    output::StagedFolder pictures(folder, names);
    for (std::size_t i = 0; i < pictureFiles.size(); ++i)
      pptx::WriteFileAtomically(pictures.StagedPath(names[i]), ReadFile(pictureFiles[i]));
    pictures.Commit();
    try {
      pptx::WriteFileAtomically(path, html);
    } catch (...) {
      pictures.Rollback();
      throw;
    }
  } catch (const output::OutputError& error) {
    pptx::FailOutput(error);
  }
}

}  // namespace quorvane::engines::word
