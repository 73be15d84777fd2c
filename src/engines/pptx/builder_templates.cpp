// The fixed parts of a built deck: theme, slide master and layout, notes master, properties, and
// the small picture used by picture shapes. Written by hand as compact, schema-ordered XML.
#include <array>
#include <string>

#include "engines/pptx/builder.hpp"
#include "engines/pptx/builder_xml.hpp"

namespace quorvane::engines::pptx::builder::templates {
namespace {

using xml_pieces::kDeclaration;
using xml_pieces::kNamespaces;
using xml_pieces::kRootGroup;

constexpr const char* kClrMap =
    "<p:clrMap bg1=\"lt1\" tx1=\"dk1\" bg2=\"lt2\" tx2=\"dk2\" accent1=\"accent1\" accent2=\"accent2\""
    " accent3=\"accent3\" accent4=\"accent4\" accent5=\"accent5\" accent6=\"accent6\" hlink=\"hlink\""
    " folHlink=\"folHlink\"/>";
constexpr const char* kFontRefs =
    "<a:latin typeface=\"+mn-lt\"/><a:ea typeface=\"+mn-ea\"/><a:cs typeface=\"+mn-cs\"/>";
// The text shown by a slide-number field on masters and layouts.
constexpr const char* kSlideNumberMark = "\u2039#\u203A";

struct Box {
  std::int64_t x, y, cx, cy;
};

// Placeholder positions of the default 13.333 in x 7.5 in slide; other sizes are scaled to them.
constexpr Box kTitleBox{838200, 365125, 10515600, 1325563};
constexpr Box kBodyBox{838200, 1825625, 10515600, 4351338};
constexpr Box kDateBox{838200, 6356350, 2743200, 365125};
constexpr Box kFooterBox{4038600, 6356350, 4114800, 365125};
constexpr Box kNumberBox{8610600, 6356350, 2743200, 365125};

std::string Xfrm(const Box& b) {
  return "<a:xfrm><a:off x=\"" + std::to_string(b.x) + "\" y=\"" + std::to_string(b.y) + "\"/><a:ext cx=\"" +
         std::to_string(b.cx) + "\" cy=\"" + std::to_string(b.cy) + "\"/></a:xfrm>";
}

Box Scaled(const Box& b, std::int64_t width, std::int64_t height) {
  auto sx = [&](std::int64_t v) { return v * width / kDefaultSlideWidth; };
  auto sy = [&](std::int64_t v) { return v * height / kDefaultSlideHeight; };
  return {sx(b.x), sy(b.y), sx(b.cx), sy(b.cy)};
}

// One placeholder of a master: geometry, body properties and prompt paragraphs given.
std::string MasterPlaceholder(int id, const std::string& name, const std::string& ph, const Box& box,
                              const std::string& bodyPr, const std::string& paragraphs) {
  return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + name +
         "\"/><p:cNvSpPr><a:spLocks noGrp=\"1\"/></p:cNvSpPr><p:nvPr>" + ph + "</p:nvPr></p:nvSpPr><p:spPr>" +
         Xfrm(box) + "<a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></p:spPr><p:txBody>" + bodyPr + "<a:lstStyle/>" +
         paragraphs + "</p:txBody></p:sp>";
}

// A placeholder of a layout: inherits its geometry from the master.
std::string LayoutPlaceholder(int id, const std::string& name, const std::string& ph, const std::string& paragraphs) {
  return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"" + name +
         "\"/><p:cNvSpPr><a:spLocks noGrp=\"1\"/></p:cNvSpPr><p:nvPr>" + ph +
         "</p:nvPr></p:nvSpPr><p:spPr/><p:txBody><a:bodyPr/><a:lstStyle/>" + paragraphs + "</p:txBody></p:sp>";
}

std::string PromptParagraph(const std::string& text, int level = -1) {
  std::string p = "<a:p>";
  if (level >= 0) p += "<a:pPr lvl=\"" + std::to_string(level) + "\"/>";
  return p + "<a:r><a:rPr lang=\"en-US\"/><a:t>" + text + "</a:t></a:r></a:p>";
}

std::string BodyPrompt() {
  return PromptParagraph("Click to edit Master text styles", 0) + PromptParagraph("Second level", 1) +
         PromptParagraph("Third level", 2) + PromptParagraph("Fourth level", 3) + PromptParagraph("Fifth level", 4);
}

std::string FieldParagraph(const std::string& guid, const std::string& type, const std::string& shown) {
  return "<a:p><a:fld id=\"" + guid + "\" type=\"" + type + "\"><a:rPr lang=\"en-US\"/><a:t>" + shown +
         "</a:t></a:fld><a:endParaRPr lang=\"en-US\"/></a:p>";
}

constexpr const char* kEmptyParagraph = "<a:p><a:endParaRPr lang=\"en-US\"/></a:p>";
constexpr const char* kDateGuid = "{4E1C9F2A-5B3D-4C7E-9A10-2F6B8D3E1A01}";
constexpr const char* kNumberGuid = "{4E1C9F2A-5B3D-4C7E-9A10-2F6B8D3E1A02}";

// Paragraph properties of one list level, with a bullet or without.
std::string LevelProperties(int level, const std::string& size, bool bullet) {
  std::string lvl = "lvl" + std::to_string(level) + "pPr";
  std::int64_t indent = bullet ? 228600 : 0;
  std::int64_t margin = bullet ? 228600 + 457200 * (level - 1) : 457200 * (level - 1);
  std::string out = "<a:" + lvl + " marL=\"" + std::to_string(margin) + "\"" +
                    (bullet ? " indent=\"-" + std::to_string(indent) + "\"" : std::string()) +
                    " algn=\"l\" defTabSz=\"914400\" rtl=\"0\" eaLnBrk=\"1\" latinLnBrk=\"0\" hangingPunct=\"1\">";
  if (bullet) {
    out +=
        "<a:lnSpc><a:spcPct val=\"90000\"/></a:lnSpc><a:spcBef><a:spcPts val=\"500\"/></a:spcBef>"
        "<a:buFont typeface=\"Arial\" panose=\"020B0604020202020204\" pitchFamily=\"34\" charset=\"0\"/>"
        "<a:buChar char=\"&#8226;\"/>";
  }
  out += "<a:defRPr sz=\"" + size + "\" kern=\"1200\"><a:solidFill><a:schemeClr val=\"tx1\"/></a:solidFill>" +
         kFontRefs + "</a:defRPr></a:" + lvl + ">";
  return out;
}

std::string TxStyles() {
  std::string out =
      "<p:txStyles><p:titleStyle><a:lvl1pPr algn=\"l\" defTabSz=\"914400\" rtl=\"0\" eaLnBrk=\"1\" "
      "latinLnBrk=\"0\" hangingPunct=\"1\"><a:lnSpc><a:spcPct val=\"90000\"/></a:lnSpc><a:spcBef>"
      "<a:spcPct val=\"0\"/></a:spcBef><a:buNone/><a:defRPr sz=\"4400\" kern=\"1200\"><a:solidFill>"
      "<a:schemeClr val=\"tx1\"/></a:solidFill><a:latin typeface=\"+mj-lt\"/><a:ea typeface=\"+mj-ea\"/>"
      "<a:cs typeface=\"+mj-cs\"/></a:defRPr></a:lvl1pPr></p:titleStyle><p:bodyStyle>";
  static constexpr std::array<const char*, 9> kSizes{"2800", "2400", "2000", "1800", "1800",
                                                     "1800", "1800", "1800", "1800"};
  for (int level = 1; level <= 9; ++level) out += LevelProperties(level, kSizes[level - 1], true);
  out += "</p:bodyStyle><p:otherStyle><a:defPPr><a:defRPr lang=\"en-US\"/></a:defPPr>";
  for (int level = 1; level <= 9; ++level) out += LevelProperties(level, "1800", false);
  return out + "</p:otherStyle></p:txStyles>";
}

std::uint32_t Crc32(const std::string& data, std::size_t from) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = from; i < data.size(); ++i)
    c = table[(c ^ static_cast<unsigned char>(data[i])) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void PutBigEndian(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
  PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
  std::size_t start = out.size();
  out += type;
  out += data;
  PutBigEndian(out, Crc32(out, start));
}

}  // namespace

std::string Theme(std::string_view name) {
  std::string out = kDeclaration;
  out += "<a:theme xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" name=\"";
  out += name;
  out +=
      "\"><a:themeElements><a:clrScheme name=\"Office\"><a:dk1><a:sysClr val=\"windowText\" lastClr=\"000000\"/>"
      "</a:dk1><a:lt1><a:sysClr val=\"window\" lastClr=\"FFFFFF\"/></a:lt1><a:dk2><a:srgbClr val=\"44546A\"/>"
      "</a:dk2><a:lt2><a:srgbClr val=\"E7E6E6\"/></a:lt2><a:accent1><a:srgbClr val=\"4472C4\"/></a:accent1>"
      "<a:accent2><a:srgbClr val=\"ED7D31\"/></a:accent2><a:accent3><a:srgbClr val=\"A5A5A5\"/></a:accent3>"
      "<a:accent4><a:srgbClr val=\"FFC000\"/></a:accent4><a:accent5><a:srgbClr val=\"5B9BD5\"/></a:accent5>"
      "<a:accent6><a:srgbClr val=\"70AD47\"/></a:accent6><a:hlink><a:srgbClr val=\"0563C1\"/></a:hlink>"
      "<a:folHlink><a:srgbClr val=\"954F72\"/></a:folHlink></a:clrScheme><a:fontScheme name=\"Office\">"
      "<a:majorFont><a:latin typeface=\"Calibri Light\"/><a:ea typeface=\"\"/><a:cs typeface=\"\"/></a:majorFont>"
      "<a:minorFont><a:latin typeface=\"Calibri\"/><a:ea typeface=\"\"/><a:cs typeface=\"\"/></a:minorFont>"
      "</a:fontScheme><a:fmtScheme name=\"Office\"><a:fillStyleLst><a:solidFill><a:schemeClr val=\"phClr\"/>"
      "</a:solidFill><a:solidFill><a:schemeClr val=\"phClr\"><a:tint val=\"50000\"/></a:schemeClr></a:solidFill>"
      "<a:solidFill><a:schemeClr val=\"phClr\"><a:shade val=\"80000\"/></a:schemeClr></a:solidFill></a:fillStyleLst>"
      "<a:lnStyleLst><a:ln w=\"6350\" cap=\"flat\" cmpd=\"sng\" algn=\"ctr\"><a:solidFill><a:schemeClr val=\"phClr\"/>"
      "</a:solidFill><a:prstDash val=\"solid\"/><a:miter lim=\"800000\"/></a:ln><a:ln w=\"12700\" cap=\"flat\" "
      "cmpd=\"sng\" algn=\"ctr\"><a:solidFill><a:schemeClr val=\"phClr\"/></a:solidFill><a:prstDash val=\"solid\"/>"
      "<a:miter lim=\"800000\"/></a:ln><a:ln w=\"19050\" cap=\"flat\" cmpd=\"sng\" algn=\"ctr\"><a:solidFill>"
      "<a:schemeClr val=\"phClr\"/></a:solidFill><a:prstDash val=\"solid\"/><a:miter lim=\"800000\"/></a:ln>"
      "</a:lnStyleLst><a:effectStyleLst><a:effectStyle><a:effectLst/></a:effectStyle><a:effectStyle><a:effectLst/>"
      "</a:effectStyle><a:effectStyle><a:effectLst/></a:effectStyle></a:effectStyleLst><a:bgFillStyleLst>"
      "<a:solidFill><a:schemeClr val=\"phClr\"/></a:solidFill><a:solidFill><a:schemeClr val=\"phClr\">"
      "<a:tint val=\"95000\"/></a:schemeClr></a:solidFill><a:solidFill><a:schemeClr val=\"phClr\">"
      "<a:shade val=\"90000\"/></a:schemeClr></a:solidFill></a:bgFillStyleLst></a:fmtScheme></a:themeElements>"
      "<a:objectDefaults/><a:extraClrSchemeLst/></a:theme>";
  return out;
}

std::string SlideMaster(std::int64_t slideWidth, std::int64_t slideHeight) {
  auto box = [&](const Box& b) { return Scaled(b, slideWidth, slideHeight); };
  const std::string titleBodyPr =
      "<a:bodyPr vert=\"horz\" lIns=\"91440\" tIns=\"45720\" rIns=\"91440\" bIns=\"45720\" rtlCol=\"0\" "
      "anchor=\"ctr\"><a:normAutofit/></a:bodyPr>";
  const std::string bodyBodyPr =
      "<a:bodyPr vert=\"horz\" lIns=\"91440\" tIns=\"45720\" rIns=\"91440\" bIns=\"45720\" rtlCol=\"0\">"
      "<a:normAutofit/></a:bodyPr>";
  const std::string footBodyPr =
      "<a:bodyPr vert=\"horz\" lIns=\"91440\" tIns=\"45720\" rIns=\"91440\" bIns=\"45720\" rtlCol=\"0\" "
      "anchor=\"ctr\"/>";
  std::string out = kDeclaration;
  out += std::string("<p:sldMaster") + kNamespaces +
         "><p:cSld><p:bg><p:bgRef idx=\"1001\"><a:schemeClr val=\"bg1\"/></p:bgRef></p:bg><p:spTree>" + kRootGroup;
  out += MasterPlaceholder(2, "Title Placeholder 1", "<p:ph type=\"title\"/>", box(kTitleBox), titleBodyPr,
                           PromptParagraph("Click to edit Master title style"));
  out += MasterPlaceholder(3, "Text Placeholder 2", "<p:ph type=\"body\" idx=\"1\"/>", box(kBodyBox), bodyBodyPr,
                           BodyPrompt());
  out += MasterPlaceholder(4, "Date Placeholder 3", "<p:ph type=\"dt\" sz=\"half\" idx=\"2\"/>", box(kDateBox),
                           footBodyPr, FieldParagraph(kDateGuid, "datetimeFigureOut", "1/1/2024"));
  out += MasterPlaceholder(5, "Footer Placeholder 4", "<p:ph type=\"ftr\" sz=\"quarter\" idx=\"3\"/>", box(kFooterBox),
                           footBodyPr, kEmptyParagraph);
  out += MasterPlaceholder(6, "Slide Number Placeholder 5", "<p:ph type=\"sldNum\" sz=\"quarter\" idx=\"4\"/>",
                           box(kNumberBox), footBodyPr, FieldParagraph(kNumberGuid, "slidenum", kSlideNumberMark));
  out += std::string("</p:spTree></p:cSld>") + kClrMap +
         "<p:sldLayoutIdLst><p:sldLayoutId id=\"2147483649\" r:id=\"rId1\"/></p:sldLayoutIdLst>" + TxStyles() +
         "</p:sldMaster>";
  return out;
}

std::string SlideLayout() {
  std::string out = kDeclaration;
  out += std::string("<p:sldLayout") + kNamespaces +
         " type=\"obj\" preserve=\"1\"><p:cSld name=\"Title and Content\">" + "<p:spTree>" + kRootGroup;
  out += LayoutPlaceholder(2, "Title 1", "<p:ph type=\"title\"/>", PromptParagraph("Click to edit Master title style"));
  out += LayoutPlaceholder(3, "Content Placeholder 2", "<p:ph idx=\"1\"/>", BodyPrompt());
  out += LayoutPlaceholder(4, "Date Placeholder 3", "<p:ph type=\"dt\" sz=\"half\" idx=\"10\"/>",
                           FieldParagraph(kDateGuid, "datetimeFigureOut", "1/1/2024"));
  out +=
      LayoutPlaceholder(5, "Footer Placeholder 4", "<p:ph type=\"ftr\" sz=\"quarter\" idx=\"11\"/>", kEmptyParagraph);
  out += LayoutPlaceholder(6, "Slide Number Placeholder 5", "<p:ph type=\"sldNum\" sz=\"quarter\" idx=\"12\"/>",
                           FieldParagraph(kNumberGuid, "slidenum", kSlideNumberMark));
  out += "</p:spTree></p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sldLayout>";
  return out;
}

std::string NotesMaster() {
  const std::string bodyPr =
      "<a:bodyPr vert=\"horz\" lIns=\"91440\" tIns=\"45720\" rIns=\"91440\" bIns=\"45720\" rtlCol=\"0\"/>";
  const std::string bottomPr =
      "<a:bodyPr vert=\"horz\" lIns=\"91440\" tIns=\"45720\" rIns=\"91440\" bIns=\"45720\" rtlCol=\"0\" "
      "anchor=\"b\"/>";
  std::string out = kDeclaration;
  out += std::string("<p:notesMaster") + kNamespaces +
         "><p:cSld><p:bg><p:bgRef idx=\"1001\"><a:schemeClr val=\"bg1\"/></p:bgRef></p:bg><p:spTree>" + kRootGroup;
  out += MasterPlaceholder(2, "Header Placeholder 1", "<p:ph type=\"hdr\" sz=\"quarter\"/>", {0, 0, 2971800, 458788},
                           bodyPr, kEmptyParagraph);
  out += MasterPlaceholder(3, "Date Placeholder 2", "<p:ph type=\"dt\" idx=\"1\"/>", {3884613, 0, 2971800, 458788},
                           bodyPr, FieldParagraph(kDateGuid, "datetimeFigureOut", "1/1/2024"));
  // The slide picture has no text body.
  out +=
      "<p:sp><p:nvSpPr><p:cNvPr id=\"4\" name=\"Slide Image Placeholder 3\"/><p:cNvSpPr><a:spLocks noGrp=\"1\" "
      "noRot=\"1\" noChangeAspect=\"1\"/></p:cNvSpPr><p:nvPr><p:ph type=\"sldImg\" idx=\"2\"/></p:nvPr>"
      "</p:nvSpPr><p:spPr>" +
      Xfrm({685800, 1143000, 5486400, 3086100}) +
      "<a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom><a:noFill/><a:ln w=\"12700\"><a:solidFill>"
      "<a:prstClr val=\"black\"/></a:solidFill></a:ln></p:spPr></p:sp>";
  out += MasterPlaceholder(5, "Notes Placeholder 4", "<p:ph type=\"body\" sz=\"quarter\" idx=\"3\"/>",
                           {685800, 4400550, 5486400, 3600450}, bodyPr, BodyPrompt());
  out += MasterPlaceholder(6, "Footer Placeholder 5", "<p:ph type=\"ftr\" sz=\"quarter\" idx=\"4\"/>",
                           {0, 8685213, 2971800, 458787}, bottomPr, kEmptyParagraph);
  out += MasterPlaceholder(7, "Slide Number Placeholder 6", "<p:ph type=\"sldNum\" sz=\"quarter\" idx=\"5\"/>",
                           {3884613, 8685213, 2971800, 458787}, bottomPr,
                           FieldParagraph(kNumberGuid, "slidenum", kSlideNumberMark));
  out += std::string("</p:spTree></p:cSld>") + kClrMap + "<p:notesStyle>";
  for (int level = 1; level <= 9; ++level) out += LevelProperties(level, "1200", false);
  out += "</p:notesStyle></p:notesMaster>";
  return out;
}

std::string PresProps() { return std::string(kDeclaration) + "<p:presentationPr" + kNamespaces + "/>"; }

std::string ViewProps() {
  return std::string(kDeclaration) + "<p:viewPr" + kNamespaces +
         "><p:normalViewPr><p:restoredLeft sz=\"15620\"/><p:restoredTop sz=\"94660\"/></p:normalViewPr>"
         "<p:slideViewPr><p:cSldViewPr snapToGrid=\"0\"><p:cViewPr varScale=\"1\"><p:scale><a:sx n=\"100\" "
         "d=\"100\"/><a:sy n=\"100\" d=\"100\"/></p:scale><p:origin x=\"0\" y=\"0\"/></p:cViewPr><p:guideLst/>"
         "</p:cSldViewPr></p:slideViewPr><p:notesTextViewPr><p:cViewPr><p:scale><a:sx n=\"1\" d=\"1\"/>"
         "<a:sy n=\"1\" d=\"1\"/></p:scale><p:origin x=\"0\" y=\"0\"/></p:cViewPr></p:notesTextViewPr>"
         "<p:gridSpacing cx=\"76200\" cy=\"76200\"/></p:viewPr>";
}

std::string TableStyles() {
  return std::string(kDeclaration) +
         "<a:tblStyleLst xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
         "def=\"{5C22544A-7EE6-4342-B048-85BDC9FD1C3A}\"/>";
}

std::string DefaultTextStyle() {
  std::string out = "<p:defaultTextStyle><a:defPPr><a:defRPr lang=\"en-US\"/></a:defPPr>";
  for (int level = 1; level <= 9; ++level) out += LevelProperties(level, "1800", false);
  return out + "</p:defaultTextStyle>";
}

std::string Png() {
  constexpr std::uint32_t kSide = 8;
  // Raw scanlines: a filter byte (0, none) and RGB pixels in four colour bands.
  std::string raw;
  for (std::uint32_t y = 0; y < kSide; ++y) {
    raw.push_back('\0');
    for (std::uint32_t x = 0; x < kSide; ++x) {
      static constexpr std::array<std::array<unsigned char, 3>, 4> kBands{
          {{0x44, 0x72, 0xC4}, {0xED, 0x7D, 0x31}, {0xA5, 0xA5, 0xA5}, {0x70, 0xAD, 0x47}}};
      for (unsigned char c : kBands[(x + y) / 4 % 4]) raw.push_back(static_cast<char>(c));
    }
  }
  // A zlib stream with one stored (uncompressed) deflate block.
  std::string zlib = "\x78\x01";
  zlib.push_back('\x01');
  auto len = static_cast<std::uint16_t>(raw.size());
  auto nlen = static_cast<std::uint16_t>(~len);
  zlib.push_back(static_cast<char>(len & 0xFF));
  zlib.push_back(static_cast<char>(len >> 8));
  zlib.push_back(static_cast<char>(nlen & 0xFF));
  zlib.push_back(static_cast<char>(nlen >> 8));
  zlib += raw;
  std::uint32_t a = 1, b = 0;
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  PutBigEndian(zlib, (b << 16) | a);

  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  PutBigEndian(header, kSide);
  PutBigEndian(header, kSide);
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, adaptive filters, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", zlib);
  PutChunk(png, "IEND", {});
  return png;
}

}  // namespace quorvane::engines::pptx::builder::templates
