// The deck builder: writes the XML of slides, notes pages and the presentation part from a plan,
// and assembles the package around the fixed parts of builder_templates.cpp.
#include "engines/pptx/builder.hpp"
#include "engines/pptx/builder_xml.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "common/markup.hpp"
#include "common/text.hpp"

namespace quorvane::engines::pptx::builder {
namespace {

using xml_pieces::kDeclaration;
using xml_pieces::kNamespaces;
using xml_pieces::kRootGroup;

constexpr const char* kRunProperties = "<a:rPr lang=\"en-US\" dirty=\"0\"/>";
constexpr const char* kEndParagraph = "<a:endParaRPr lang=\"en-US\" dirty=\"0\"/>";
constexpr const char* kTableUri = "http://schemas.openxmlformats.org/drawingml/2006/table";
constexpr const char* kChartUri = "http://schemas.openxmlformats.org/drawingml/2006/chart";
constexpr const char* kMediaPart = "/ppt/media/image1.png";
constexpr std::int64_t kRowHeight = 370840;
constexpr std::int64_t kMinSlideSide = 914400;    // 1 in
constexpr std::int64_t kMaxSlideSide = 51206400;  // 56 in

[[noreturn]] void Refuse(const std::string& where, const std::string& what) {
  throw std::invalid_argument("deck builder: " + where + ": " + what);
}

// --- Text encoding ------------------------------------------------------------------------------

// UTF-16 text as escaped UTF-8 (element content, or an attribute value when `attribute`); unpaired
// surrogates become U+FFFD. Callers have refused characters XML cannot hold: control characters
// but TAB never reach an attribute (CheckPlain), so leaving them out there changes nothing.
void AppendEscaped(std::string& out, std::u16string_view text, bool attribute = false) {
  markup::AppendXmlEscaped(out, text, attribute ? markup::kXmlAttribute : markup::kXmlText);
}

std::string Escaped(std::u16string_view text, bool attribute = false) {
  std::string out;
  AppendEscaped(out, text, attribute);
  return out;
}

// ASCII names and values of the plan, as attribute values: only the markup characters escaped.
std::string EscapedAscii(std::string_view text) { return markup::XmlEscaped(text, markup::kQuote); }

// A UTF-16 unit XML cannot carry (unpaired surrogates are not counted: they are written as U+FFFD).
bool IsXmlForbidden(char16_t c) { return !text::IsSurrogate(c) && !markup::IsXmlCharacter(c); }

// Text that must stay on one line (field text, math, names): no control characters but TAB.
void CheckPlain(std::u16string_view text, const std::string& where, const char* what) {
  for (char16_t c : text) {
    if (c < 0x20 && c != u'\t') Refuse(where, std::string(what) + " holds a line break or control character");
    if (IsXmlForbidden(c)) Refuse(where, std::string(what) + " holds a character XML cannot carry");
  }
}

std::string Number(std::int64_t v) { return std::to_string(v); }

std::string Number(double v) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, result.ptr);
}

// --- Text bodies --------------------------------------------------------------------------------

// A text body cut into the pieces the XML is written from: text runs, line breaks, paragraph
// ends and fields, in order.
struct Piece {
  enum class Kind { Text, LineBreak, ParagraphEnd, Field } kind;
  std::u16string_view text;
  const FieldSpec* field = nullptr;
};

std::vector<Piece> Tokenize(const std::u16string& text, const std::vector<FieldSpec>& fields,
                            const std::vector<std::size_t>& runBreaks, const std::string& where) {
  std::vector<const FieldSpec*> ordered;
  for (const auto& field : fields) {
    if (field.offset > text.size()) {
      Refuse(where, "a field's offset " + std::to_string(field.offset) + " lies beyond the text (" +
                        std::to_string(text.size()) + " characters)");
    }
    CheckPlain(field.shown, where, "a field's text");
    ordered.push_back(&field);
  }
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const FieldSpec* a, const FieldSpec* b) { return a->offset < b->offset; });
  std::vector<std::size_t> breaks = runBreaks;
  for (std::size_t b : breaks) {
    if (b > text.size()) Refuse(where, "a run break at " + std::to_string(b) + " lies beyond the text");
  }
  std::sort(breaks.begin(), breaks.end());

  std::vector<Piece> pieces;
  std::size_t start = 0;
  auto flush = [&](std::size_t end) {
    if (end > start) pieces.push_back({Piece::Kind::Text, std::u16string_view(text).substr(start, end - start)});
    start = end;
  };
  auto nextField = ordered.begin();
  auto nextBreak = breaks.begin();
  bool afterCr = false;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    bool boundary = false;
    while (nextBreak != breaks.end() && *nextBreak == i) {
      boundary = true;
      ++nextBreak;
    }
    if (nextField != ordered.end() && (*nextField)->offset == i) boundary = true;
    if (boundary) flush(i);
    for (; nextField != ordered.end() && (*nextField)->offset == i; ++nextField) {
      pieces.push_back({Piece::Kind::Field, {}, *nextField});
    }
    if (i == text.size()) break;
    char16_t c = text[i];
    if (c == u'\r' || c == u'\n' || c == u'\v') {
      flush(i);
      start = i + 1;
      if (c == u'\v') {
        pieces.push_back({Piece::Kind::LineBreak, {}});
      } else if (!(c == u'\n' && afterCr)) {
        pieces.push_back({Piece::Kind::ParagraphEnd, {}});
      }
    } else if (IsXmlForbidden(c)) {
      char code[8];
      std::snprintf(code, sizeof code, "%04X", static_cast<unsigned>(c));
      Refuse(where, std::string("the text holds U+") + code + " at offset " + std::to_string(i) +
                        ", a character XML cannot carry");
    }
    afterCr = c == u'\r';
  }
  flush(text.size());
  return pieces;
}

bool IsTextKind(ShapeKind kind) {
  switch (kind) {
    case ShapeKind::Title:
    case ShapeKind::CenterTitle:
    case ShapeKind::Subtitle:
    case ShapeKind::Body:
    case ShapeKind::Placeholder:
    case ShapeKind::TextBox:
    case ShapeKind::AutoShape:
    case ShapeKind::Freeform:
    case ShapeKind::Equation:
      return true;
    default:
      return false;
  }
}

// The p:ph a plan carries, if any: the kind's default unless the plan gives its own.
std::optional<PlaceholderSpec> PlaceholderOf(const ShapePlan& shape) {
  if (shape.placeholder) return shape.placeholder;
  switch (shape.kind) {
    case ShapeKind::Title:
      return PlaceholderSpec{"title", std::nullopt, false, {}};
    case ShapeKind::CenterTitle:
      return PlaceholderSpec{"ctrTitle", std::nullopt, false, {}};
    case ShapeKind::Subtitle:
      return PlaceholderSpec{"subTitle", 1u, false, {}};
    case ShapeKind::Body:
      return PlaceholderSpec{"body", 1u, false, {}};
    default:
      return std::nullopt;
  }
}

// --- Writers ------------------------------------------------------------------------------------

// State shared by every part of one deck: parts made on demand (the picture, charts) and the
// counter that keeps field identifiers distinct.
struct DeckState {
  const DeckPlan& plan;
  std::vector<BuiltPart> extraParts;
  bool mediaWritten = false;
  int charts = 0;
  unsigned fields = 0;
};

// Writes the shape tree of one slide or notes page and collects that part's relationships.
class ShapeWriter {
 public:
  ShapeWriter(DeckState& deck, std::vector<Relationship>& rels, std::string where, bool notesPage)
      : deck_(deck), rels_(rels), where_(std::move(where)), notesPage_(notesPage) {}

  std::string Tree(const std::vector<ShapePlan>& shapes) {
    std::string out = std::string("<p:spTree>") + kRootGroup;
    for (std::size_t i = 0; i < shapes.size(); ++i) {
      Frame ignored;
      out += Shape(shapes[i], 0, where_ + ", shape " + std::to_string(i + 1), ignored);
    }
    return out + "</p:spTree>";
  }

 private:
  std::string AddRelationship(std::string_view type, const std::string& target, const std::string& partName) {
    std::string id = "rId" + std::to_string(rels_.size() + 1);
    rels_.push_back(Relationship{id, std::string(type), target, false, partName});
    return id;
  }

  std::string PictureRelationship() {
    if (!deck_.mediaWritten) {
      deck_.extraParts.push_back({kMediaPart, std::string(content_type::kPng), templates::Png()});
      deck_.mediaWritten = true;
    }
    for (const auto& rel : rels_) {
      if (rel.partName == kMediaPart) return rel.id;
    }
    return AddRelationship(rel_type::kImage, "../media/image1.png", kMediaPart);
  }

  // A frame for a shape that has none: spread over the page by shape id, inside its bounds.
  Frame DefaultFrame(int id) const {
    std::int64_t w = notesPage_ ? kNotesWidth : deck_.plan.slideWidthEmu;
    std::int64_t h = notesPage_ ? kNotesHeight : deck_.plan.slideHeightEmu;
    int n = id - 2;
    return Frame{w / 20 + (n % 4) * (w / 4 - w / 80), h / 12 + (n / 4 % 5) * (h / 6), w / 5, h / 8};
  }

  static std::string Xfrm(const Frame& f, const char* element = "a:xfrm") {
    return std::string("<") + element + "><a:off x=\"" + Number(f.x) + "\" y=\"" + Number(f.y) + "\"/><a:ext cx=\"" +
           Number(f.cx) + "\" cy=\"" + Number(f.cy) + "\"/></" + element + ">";
  }

  std::string DefaultName(const ShapePlan& shape, const std::optional<PlaceholderSpec>& ph, int id) const {
    std::string base;
    switch (shape.kind) {
      case ShapeKind::Title:
      case ShapeKind::CenterTitle:
        base = "Title";
        break;
      case ShapeKind::Subtitle:
        base = "Subtitle";
        break;
      case ShapeKind::Body:
        base = notesPage_ ? "Notes Placeholder" : "Text Placeholder";
        break;
      case ShapeKind::TextBox:
      case ShapeKind::Equation:
        base = "TextBox";
        break;
      case ShapeKind::AutoShape:
        base = shape.preset == "rect" ? "Rectangle" : shape.preset == "ellipse" ? "Oval" : "Shape";
        break;
      case ShapeKind::Freeform:
        base = "Freeform";
        break;
      case ShapeKind::Picture:
        base = "Picture";
        break;
      case ShapeKind::Table:
        base = "Table";
        break;
      case ShapeKind::Group:
        base = "Group";
        break;
      case ShapeKind::Connector:
        base = "Straight Connector";
        break;
      case ShapeKind::Chart:
        base = "Chart";
        break;
      case ShapeKind::Placeholder: {
        const std::string type = ph ? ph->type : std::string();
        base = type == "dt"       ? "Date Placeholder"
               : type == "ftr"    ? "Footer Placeholder"
               : type == "sldNum" ? "Slide Number Placeholder"
               : type == "hdr"    ? "Header Placeholder"
               : type == "sldImg" ? "Slide Image Placeholder"
               : type == "title"  ? "Title"
               : type == "body"   ? (notesPage_ ? "Notes Placeholder" : "Text Placeholder")
                                  : "Content Placeholder";
        break;
      }
    }
    return base + " " + std::to_string(id - 1);
  }

  std::string CNvPr(const ShapePlan& shape, const std::optional<PlaceholderSpec>& ph, int id,
                    const std::string& where) const {
    CheckPlain(shape.name, where, "the shape's name");
    CheckPlain(shape.description, where, "the shape's description");
    std::string out = "<p:cNvPr id=\"" + std::to_string(id) + "\" name=\"";
    out += shape.name.empty() ? DefaultName(shape, ph, id) : Escaped(shape.name, true);
    out += "\"";
    if (!shape.description.empty()) out += " descr=\"" + Escaped(shape.description, true) + "\"";
    return out + "/>";
  }

  static std::string NvPr(const std::optional<PlaceholderSpec>& ph) {
    if (!ph) return "<p:nvPr/>";
    std::string out = "<p:nvPr><p:ph";
    if (!ph->type.empty()) out += " type=\"" + EscapedAscii(ph->type) + "\"";
    if (ph->vertical) out += " orient=\"vert\"";
    if (!ph->size.empty()) out += " sz=\"" + EscapedAscii(ph->size) + "\"";
    if (ph->idx) out += " idx=\"" + std::to_string(*ph->idx) + "\"";
    return out + "/></p:nvPr>";
  }

  std::string FieldId() {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "{5A1D0C3E-7B2F-4E8A-9C61-%012X}", ++deck_.fields);
    return buffer;
  }

  // The a:p elements of a text body. `pPr` is written at the start of every paragraph.
  std::string Paragraphs(const std::u16string& text, const std::vector<FieldSpec>& fields,
                         const std::vector<std::size_t>& runBreaks, const std::string& where,
                         const std::string& pPr = {}) {
    std::string out = "<a:p>" + pPr;
    for (const auto& piece : Tokenize(text, fields, runBreaks, where)) {
      switch (piece.kind) {
        case Piece::Kind::Text:
          out += std::string("<a:r>") + kRunProperties + "<a:t>";
          AppendEscaped(out, piece.text);
          out += "</a:t></a:r>";
          break;
        case Piece::Kind::LineBreak:
          out += std::string("<a:br>") + kRunProperties + "</a:br>";
          break;
        case Piece::Kind::ParagraphEnd:
          out += std::string(kEndParagraph) + "</a:p><a:p>" + pPr;
          break;
        case Piece::Kind::Field:
          out += "<a:fld id=\"" + FieldId() + "\" type=\"" + EscapedAscii(piece.field->type) +
                 "\"><a:rPr lang=\"en-US\"/><a:t>" + Escaped(piece.field->shown) + "</a:t></a:fld>";
          break;
      }
    }
    return out + kEndParagraph + "</a:p>";
  }

  std::string MathParagraph(const ShapePlan& shape, const std::string& where) {
    std::string out =
        "<a:p><a14:m><m:oMathPara xmlns:m=\"http://schemas.openxmlformats.org/officeDocument/2006/math\">"
        "<m:oMathParaPr><m:jc m:val=\"centerGroup\"/></m:oMathParaPr><m:oMath>";
    for (const auto& part : shape.math) {
      CheckPlain(part, where, "the equation's text");
      out += "<m:r><a:rPr lang=\"en-US\" i=\"1\"><a:latin typeface=\"Cambria Math\"/></a:rPr><m:t>" + Escaped(part) +
             "</m:t></m:r>";
    }
    return out + "</m:oMath></m:oMathPara></a14:m>" + kEndParagraph + "</a:p>";
  }

  // A p:sp: placeholders, text boxes, autoshapes, freeforms and (one branch of) equations.
  std::string Sp(const ShapePlan& shape, const std::optional<PlaceholderSpec>& ph, int id, const Frame* frame,
                 const std::string& where, bool equationFallback = false) {
    const bool textBox = shape.kind == ShapeKind::TextBox || shape.kind == ShapeKind::Equation;
    std::string out = "<p:sp><p:nvSpPr>" + CNvPr(shape, ph, id, where);
    if (ph) {
      out += ph->type == "sldImg" ? "<p:cNvSpPr><a:spLocks noGrp=\"1\" noRot=\"1\" noChangeAspect=\"1\"/></p:cNvSpPr>"
                                  : "<p:cNvSpPr><a:spLocks noGrp=\"1\"/></p:cNvSpPr>";
    } else {
      out += textBox ? "<p:cNvSpPr txBox=\"1\"/>" : "<p:cNvSpPr/>";
    }
    out += NvPr(ph) + "</p:nvSpPr>";

    if (!frame) {
      out += "<p:spPr/>";
    } else {
      out += "<p:spPr>" + Xfrm(*frame);
      if (shape.kind == ShapeKind::Freeform) {
        out +=
            "<a:custGeom><a:avLst/><a:gdLst/><a:ahLst/><a:cxnLst/><a:rect l=\"l\" t=\"t\" r=\"r\" b=\"b\"/>"
            "<a:pathLst><a:path w=\"100000\" h=\"100000\">";
        std::vector<std::pair<std::int64_t, std::int64_t>> points = shape.path;
        if (points.empty()) points = {{0, 100000}, {50000, 0}, {100000, 100000}};
        for (std::size_t i = 0; i < points.size(); ++i) {
          const char* verb = i == 0 ? "a:moveTo" : "a:lnTo";
          out += std::string("<") + verb + "><a:pt x=\"" + Number(points[i].first) + "\" y=\"" +
                 Number(points[i].second) + "\"/></" + verb + ">";
        }
        out += "<a:close/></a:path></a:pathLst></a:custGeom>";
      } else if (!ph || shape.kind == ShapeKind::AutoShape) {
        out += "<a:prstGeom prst=\"" + EscapedAscii(shape.kind == ShapeKind::AutoShape ? shape.preset : "rect") +
               "\"><a:avLst/></a:prstGeom>";
      }
      if (equationFallback) {
        out += "<a:blipFill><a:blip r:embed=\"" + PictureRelationship() +
               "\"/><a:stretch><a:fillRect/></a:stretch></a:blipFill>";
      } else if (textBox && !ph) {
        out += "<a:noFill/>";
      } else if (!ph) {
        const char* colour = shape.kind == ShapeKind::Freeform ? "accent2" : "accent1";
        out += std::string("<a:solidFill><a:schemeClr val=\"") + colour +
               "\"/></a:solidFill><a:ln w=\"12700\"><a:solidFill><a:schemeClr val=\"" + colour +
               "\"><a:shade val=\"50000\"/></a:schemeClr></a:solidFill></a:ln>";
      }
      out += "</p:spPr>";
    }

    if (shape.omitTextBody) return out + "</p:sp>";
    std::string bodyPr = "<a:bodyPr/>";
    std::string pPr;
    if (!ph && textBox) {
      bodyPr = "<a:bodyPr wrap=\"square\" rtlCol=\"0\"><a:spAutoFit/></a:bodyPr>";
    } else if (!ph) {
      bodyPr = "<a:bodyPr rtlCol=\"0\" anchor=\"ctr\"/>";
      pPr = "<a:pPr algn=\"ctr\"/>";
    }
    out += "<p:txBody>" + bodyPr + "<a:lstStyle/>";
    if (shape.kind == ShapeKind::Equation) {
      if (equationFallback) {
        out += std::string("<a:p>") + kEndParagraph + "</a:p>";
      } else {
        if (!shape.text.empty() || !shape.fields.empty()) {
          out += Paragraphs(shape.text, shape.fields, shape.runBreaks, where, pPr);
        }
        out += MathParagraph(shape, where);
      }
    } else {
      out += Paragraphs(shape.text, shape.fields, shape.runBreaks, where, pPr);
    }
    return out + "</p:txBody></p:sp>";
  }

  std::string Picture(const ShapePlan& shape, const std::optional<PlaceholderSpec>& ph, int id, const Frame* frame,
                      const std::string& where) {
    std::string out = "<p:pic><p:nvPicPr>" + CNvPr(shape, ph, id, where) + "<p:cNvPicPr><a:picLocks" +
                      (ph ? " noGrp=\"1\"" : "") + " noChangeAspect=\"1\"/></p:cNvPicPr>" + NvPr(ph) +
                      "</p:nvPicPr><p:blipFill><a:blip r:embed=\"" + PictureRelationship() +
                      "\"/><a:stretch><a:fillRect/></a:stretch></p:blipFill><p:spPr>";
    if (frame) out += Xfrm(*frame);
    return out + "<a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></p:spPr></p:pic>";
  }

  std::string GraphicFrame(const ShapePlan& shape, const std::optional<PlaceholderSpec>& ph, int id, const Frame& frame,
                           const std::string& where, const char* uri, const std::string& data) {
    return "<p:graphicFrame><p:nvGraphicFramePr>" + CNvPr(shape, ph, id, where) +
           "<p:cNvGraphicFramePr><a:graphicFrameLocks noGrp=\"1\"/></p:cNvGraphicFramePr>" + NvPr(ph) +
           "</p:nvGraphicFramePr>" + Xfrm(frame, "p:xfrm") + "<a:graphic><a:graphicData uri=\"" + uri + "\">" + data +
           "</a:graphicData></a:graphic></p:graphicFrame>";
  }

  std::string Table(const ShapePlan& shape, const std::optional<PlaceholderSpec>& ph, int id, Frame& frame,
                    bool defaultFrame, const std::string& where) {
    const TableSpec& table = shape.table;
    std::size_t columns = table.columns;
    if (columns == 0) {
      for (const auto& row : table.cells) columns = std::max(columns, row.size());
    }
    if (columns == 0) Refuse(where, "a table needs at least one column");
    if (table.cells.empty()) Refuse(where, "a table needs at least one row");
    for (std::size_t r = 0; r < table.cells.size(); ++r) {
      if (table.cells[r].size() > columns) {
        Refuse(where, "row " + std::to_string(r + 1) + " has more cells than the table's " + std::to_string(columns) +
                          " columns");
      }
    }
    // What each grid cell is: 0 free, 1 the first cell of a merge, 2 covered across, 3 covered down
    // (4 both); spans kept for the first cells.
    std::vector<std::vector<int>> role(table.cells.size(), std::vector<int>(columns, 0));
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> span(
        table.cells.size(), std::vector<std::pair<std::size_t, std::size_t>>(columns, {1, 1}));
    for (const auto& m : table.merges) {
      if (m.rows == 0 || m.columns == 0 || m.row + m.rows > table.cells.size() || m.column + m.columns > columns) {
        Refuse(where, "a merge at row " + std::to_string(m.row + 1) + ", column " + std::to_string(m.column + 1) +
                          " reaches outside the table");
      }
      for (std::size_t r = m.row; r < m.row + m.rows; ++r) {
        for (std::size_t c = m.column; c < m.column + m.columns; ++c) {
          if (role[r][c] != 0) Refuse(where, "merged ranges overlap");
          role[r][c] = (r == m.row && c == m.column) ? 1 : (r == m.row) ? 2 : (c == m.column) ? 3 : 4;
        }
      }
      span[m.row][m.column] = {m.rows, m.columns};
    }

    if (defaultFrame) {
      frame.cx = deck_.plan.slideWidthEmu * 3 / 5;
      frame.cy = kRowHeight * static_cast<std::int64_t>(table.cells.size());
    }
    std::int64_t columnWidth = std::max<std::int64_t>(frame.cx / static_cast<std::int64_t>(columns), 1);
    std::int64_t rowHeight = std::max<std::int64_t>(frame.cy / static_cast<std::int64_t>(table.cells.size()), 1);
    std::string data =
        "<a:tbl><a:tblPr firstRow=\"1\" bandRow=\"1\"><a:tableStyleId>"
        "{5C22544A-7EE6-4342-B048-85BDC9FD1C3A}</a:tableStyleId></a:tblPr><a:tblGrid>";
    for (std::size_t c = 0; c < columns; ++c) data += "<a:gridCol w=\"" + Number(columnWidth) + "\"/>";
    data += "</a:tblGrid>";
    for (std::size_t r = 0; r < table.cells.size(); ++r) {
      data += "<a:tr h=\"" + Number(rowHeight) + "\">";
      for (std::size_t c = 0; c < table.cells[r].size(); ++c) {
        data += "<a:tc";
        int kind = role[r][c];
        if (kind == 1) {
          if (span[r][c].second > 1) data += " gridSpan=\"" + std::to_string(span[r][c].second) + "\"";
          if (span[r][c].first > 1) data += " rowSpan=\"" + std::to_string(span[r][c].first) + "\"";
        }
        if (kind == 2 || kind == 4) data += " hMerge=\"1\"";
        if (kind == 3 || kind == 4) data += " vMerge=\"1\"";
        std::string cellWhere = where + ", cell (" + std::to_string(r + 1) + ", " + std::to_string(c + 1) + ")";
        data += "><a:txBody><a:bodyPr/><a:lstStyle/>" + Paragraphs(table.cells[r][c], {}, {}, cellWhere) +
                "</a:txBody><a:tcPr/></a:tc>";
      }
      data += "</a:tr>";
    }
    data += "</a:tbl>";
    return GraphicFrame(shape, ph, id, frame, where, kTableUri, data);
  }

  std::string Chart(const ShapePlan& shape, const std::optional<PlaceholderSpec>& ph, int id, const Frame& frame,
                    const std::string& where) {
    std::vector<ChartPoint> points = shape.chart;
    if (points.empty()) points = {{u"North", 3}, {u"South", 5}, {u"East", 2}};
    const std::string fileName = "chart" + std::to_string(++deck_.charts) + ".xml";
    const std::string partName = "/ppt/charts/" + fileName;
    std::string count = "<c:ptCount val=\"" + std::to_string(points.size()) + "\"/>";
    std::string categories = "<c:cat><c:strLit>" + count;
    std::string values = "<c:val><c:numLit><c:formatCode>General</c:formatCode>" + count;
    for (std::size_t i = 0; i < points.size(); ++i) {
      CheckPlain(points[i].category, where, "a chart category");
      std::string pt = "<c:pt idx=\"" + std::to_string(i) + "\"><c:v>";
      categories += pt + Escaped(points[i].category) + "</c:v></c:pt>";
      values += pt + Number(points[i].value) + "</c:v></c:pt>";
    }
    categories += "</c:strLit></c:cat>";
    values += "</c:numLit></c:val>";
    std::string part =
        std::string(kDeclaration) +
        "<c:chartSpace xmlns:c=\"http://schemas.openxmlformats.org/drawingml/2006/chart\""
        " xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\""
        " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
        "<c:roundedCorners val=\"0\"/><c:chart><c:autoTitleDeleted val=\"1\"/><c:plotArea><c:layout/>"
        "<c:barChart><c:barDir val=\"col\"/><c:grouping val=\"clustered\"/><c:varyColors val=\"0\"/>"
        "<c:ser><c:idx val=\"0\"/><c:order val=\"0\"/><c:invertIfNegative val=\"0\"/>" +
        categories + values +
        "</c:ser><c:gapWidth val=\"150\"/><c:axId val=\"111\"/><c:axId val=\"222\"/></c:barChart>"
        "<c:catAx><c:axId val=\"111\"/><c:scaling><c:orientation val=\"minMax\"/></c:scaling><c:delete val=\"0\"/>"
        "<c:axPos val=\"b\"/><c:crossAx val=\"222\"/></c:catAx><c:valAx><c:axId val=\"222\"/><c:scaling>"
        "<c:orientation val=\"minMax\"/></c:scaling><c:delete val=\"0\"/><c:axPos val=\"l\"/><c:majorGridlines/>"
        "<c:crossAx val=\"111\"/></c:valAx></c:plotArea><c:plotVisOnly val=\"1\"/></c:chart></c:chartSpace>";
    deck_.extraParts.push_back({partName, std::string(content_type::kChart), std::move(part)});
    std::string rel = AddRelationship(rel_type::kChart, "../charts/" + fileName, partName);
    return GraphicFrame(
        shape, ph, id, frame, where, kChartUri,
        "<c:chart xmlns:c=\"http://schemas.openxmlformats.org/drawingml/2006/chart\" r:id=\"" + rel + "\"/>");
  }

  // Writes one shape; `frame` receives its frame (for the bounds of an enclosing group).
  std::string Shape(const ShapePlan& shape, int depth, const std::string& where, Frame& frame) {
    if (depth > kMaxNesting) Refuse(where, "groups are nested deeper than " + std::to_string(kMaxNesting));
    const int id = nextId_++;
    const auto ph = PlaceholderOf(shape);
    if (shape.kind == ShapeKind::Placeholder && !ph) Refuse(where, "a placeholder shape needs its PlaceholderSpec");
    if (ph &&
        (shape.kind == ShapeKind::Group || shape.kind == ShapeKind::Connector || shape.kind == ShapeKind::Equation)) {
      Refuse(where, "a group, connector or equation cannot be a placeholder");
    }
    const bool hasText = !shape.text.empty() || !shape.fields.empty();
    if (hasText && (!IsTextKind(shape.kind) || shape.omitTextBody)) {
      Refuse(where, "text is given for a shape without a text body");
    }
    if (shape.frame && (shape.frame->cx < 0 || shape.frame->cy < 0)) Refuse(where, "the frame has a negative size");
    // Placeholders at the top of the tree inherit their position from the layout unless given one.
    const bool inherits =
        ph && depth == 0 && !shape.frame && shape.kind != ShapeKind::Table && shape.kind != ShapeKind::Chart;
    frame = shape.frame.value_or(DefaultFrame(id));
    const Frame* written = inherits ? nullptr : &frame;

    switch (shape.kind) {
      case ShapeKind::Picture:
        return Picture(shape, ph, id, written, where);
      case ShapeKind::Table:
        return Table(shape, ph, id, frame, !shape.frame, where);
      case ShapeKind::Chart:
        return Chart(shape, ph, id, frame, where);
      case ShapeKind::Connector:
        return "<p:cxnSp><p:nvCxnSpPr>" + CNvPr(shape, ph, id, where) +
               "<p:cNvCxnSpPr/><p:nvPr/></p:nvCxnSpPr><p:spPr>" + Xfrm(frame) +
               "<a:prstGeom prst=\"line\"><a:avLst/></a:prstGeom><a:ln w=\"19050\"><a:solidFill>"
               "<a:schemeClr val=\"tx1\"/></a:solidFill></a:ln></p:spPr></p:cxnSp>";
      case ShapeKind::Group: {
        std::string children;
        std::optional<Frame> bounds;
        for (std::size_t i = 0; i < shape.children.size(); ++i) {
          Frame child;
          children += Shape(shape.children[i], depth + 1, where + "." + std::to_string(i + 1), child);
          if (!bounds) {
            bounds = child;
          } else {
            std::int64_t right = std::max(bounds->x + bounds->cx, child.x + child.cx);
            std::int64_t bottom = std::max(bounds->y + bounds->cy, child.y + child.cy);
            bounds->x = std::min(bounds->x, child.x);
            bounds->y = std::min(bounds->y, child.y);
            bounds->cx = right - bounds->x;
            bounds->cy = bottom - bounds->y;
          }
        }
        Frame childFrame = bounds.value_or(frame);
        if (!shape.frame) frame = childFrame;
        return "<p:grpSp><p:nvGrpSpPr>" + CNvPr(shape, ph, id, where) +
               "<p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr><p:grpSpPr><a:xfrm><a:off x=\"" + Number(frame.x) + "\" y=\"" +
               Number(frame.y) + "\"/><a:ext cx=\"" + Number(frame.cx) + "\" cy=\"" + Number(frame.cy) +
               "\"/><a:chOff x=\"" + Number(childFrame.x) + "\" y=\"" + Number(childFrame.y) + "\"/><a:chExt cx=\"" +
               Number(childFrame.cx) + "\" cy=\"" + Number(childFrame.cy) + "\"/></a:xfrm></p:grpSpPr>" + children +
               "</p:grpSp>";
      }
      case ShapeKind::Equation:
        return "<mc:AlternateContent xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\">"
               "<mc:Choice xmlns:a14=\"http://schemas.microsoft.com/office/drawing/2010/main\" Requires=\"a14\">" +
               Sp(shape, ph, id, written, where) + "</mc:Choice><mc:Fallback>" +
               Sp(shape, ph, id, written, where, true) + "</mc:Fallback></mc:AlternateContent>";
      default:
        return Sp(shape, ph, id, written, where);
    }
  }

  DeckState& deck_;
  std::vector<Relationship>& rels_;
  std::string where_;
  bool notesPage_;
  int nextId_ = 2;
};

std::string SlideSizeType(std::int64_t cx, std::int64_t cy) {
  if (cx == 9144000 && cy == 6858000) return " type=\"screen4x3\"";
  if (cx == 9144000 && cy == 5143500) return " type=\"screen16x9\"";
  if (cx == 9144000 && cy == 5715000) return " type=\"screen16x10\"";
  return {};
}

std::string PresentationFormat(std::int64_t cx, std::int64_t cy) {
  if (cx == 12192000 && cy == 6858000) return "Widescreen";
  if (cx == 9144000 && cy == 6858000) return "On-screen Show (4:3)";
  if (cx == 9144000 && cy == 5143500) return "On-screen Show (16:9)";
  if (cx == 9144000 && cy == 5715000) return "On-screen Show (16:10)";
  return "Custom";
}

// The notes page shapes: the slide picture and the notes body first, as PowerPoint makes them,
// unless the plan gives them itself.
std::vector<ShapePlan> NotesShapes(const SlidePlan& slide) {
  std::vector<ShapePlan> shapes;
  if (!slide.addNotesPlaceholders) return *slide.notes;
  bool hasPicture = false, hasBody = false;
  for (const auto& shape : *slide.notes) {
    auto ph = PlaceholderOf(shape);
    if (ph && ph->type == "sldImg") hasPicture = true;
    if (ph && ph->type == "body") hasBody = true;
  }
  if (!hasPicture) {
    ShapePlan picture = PlaceholderShape("sldImg", std::nullopt);
    picture.omitTextBody = true;
    shapes.push_back(std::move(picture));
  }
  if (!hasBody) shapes.push_back(Body({}));
  shapes.insert(shapes.end(), slide.notes->begin(), slide.notes->end());
  return shapes;
}

}  // namespace

// --- Shorthands ---------------------------------------------------------------------------------

namespace {
ShapePlan Make(ShapeKind kind, std::u16string text = {}) {
  ShapePlan shape;
  shape.kind = kind;
  shape.text = std::move(text);
  return shape;
}
}  // namespace

ShapePlan Title(std::u16string text) { return Make(ShapeKind::Title, std::move(text)); }
ShapePlan CenterTitle(std::u16string text) { return Make(ShapeKind::CenterTitle, std::move(text)); }
ShapePlan Subtitle(std::u16string text) { return Make(ShapeKind::Subtitle, std::move(text)); }
ShapePlan Body(std::u16string text) { return Make(ShapeKind::Body, std::move(text)); }

ShapePlan PlaceholderShape(std::string type, std::optional<std::uint32_t> idx, std::u16string text) {
  ShapePlan shape = Make(ShapeKind::Placeholder, std::move(text));
  shape.placeholder = PlaceholderSpec{std::move(type), idx, false, {}};
  return shape;
}

ShapePlan SlideNumberPlaceholder(std::uint32_t idx, std::u16string shown) {
  ShapePlan shape = PlaceholderShape("sldNum", idx);
  shape.placeholder->size = "quarter";
  shape.fields.push_back(FieldSpec{0, "slidenum", std::move(shown)});
  return shape;
}

ShapePlan TextBox(std::u16string text) { return Make(ShapeKind::TextBox, std::move(text)); }

ShapePlan AutoShape(std::string preset, std::u16string text) {
  ShapePlan shape = Make(ShapeKind::AutoShape, std::move(text));
  shape.preset = std::move(preset);
  return shape;
}

ShapePlan Freeform(std::u16string text) { return Make(ShapeKind::Freeform, std::move(text)); }
ShapePlan Picture() { return Make(ShapeKind::Picture); }

ShapePlan Table(std::vector<std::vector<std::u16string>> cells) {
  ShapePlan shape = Make(ShapeKind::Table);
  shape.table.cells = std::move(cells);
  return shape;
}

ShapePlan Group(std::vector<ShapePlan> children) {
  ShapePlan shape = Make(ShapeKind::Group);
  shape.children = std::move(children);
  return shape;
}

ShapePlan Connector() { return Make(ShapeKind::Connector); }
ShapePlan Chart() { return Make(ShapeKind::Chart); }

ShapePlan Equation(std::vector<std::u16string> math) {
  ShapePlan shape = Make(ShapeKind::Equation);
  shape.math = std::move(math);
  return shape;
}

std::vector<ShapePlan> NotesPage(std::u16string text) { return {Body(std::move(text)), SlideNumberPlaceholder(5)}; }

// --- Building -----------------------------------------------------------------------------------

namespace {
bool SameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}
}  // namespace

const BuiltPart* BuiltDeck::Find(std::string_view partName) const {
  for (const auto& part : parts) {
    if (SameName(part.name, partName)) return &part;
  }
  return nullptr;
}

const std::vector<Relationship>* BuiltDeck::RelationshipsOf(std::string_view source) const {
  for (const auto& entry : relationships) {
    if (SameName(entry.source, source)) return &entry.relationships;
  }
  return nullptr;
}

BuiltDeck Render(const DeckPlan& plan) {
  for (auto [side, name] : {std::pair{plan.slideWidthEmu, "width"}, std::pair{plan.slideHeightEmu, "height"}}) {
    if (side < kMinSlideSide || side > kMaxSlideSide) {
      Refuse("presentation", std::string("the slide ") + name + " " + std::to_string(side) + " EMU is outside " +
                                 std::to_string(kMinSlideSide) + " to " + std::to_string(kMaxSlideSide));
    }
  }
  BuiltDeck deck;
  DeckState state{plan, {}, false, 0, 0};
  const bool anyNotes =
      std::any_of(plan.slides.begin(), plan.slides.end(), [](const SlidePlan& s) { return s.notes.has_value(); });

  auto rel = [](std::string id, std::string_view type, std::string target, std::string partName) {
    return Relationship{std::move(id), std::string(type), std::move(target), false, std::move(partName)};
  };
  const std::string master = "/ppt/slideMasters/slideMaster1.xml";
  const std::string layout = "/ppt/slideLayouts/slideLayout1.xml";
  const std::string notesMaster = "/ppt/notesMasters/notesMaster1.xml";

  deck.relationships.push_back(
      {"/",
       {rel("rId1", rel_type::kOfficeDocument, "ppt/presentation.xml", "/ppt/presentation.xml"),
        rel("rId2", rel_type::kCoreProperties, "docProps/core.xml", "/docProps/core.xml"),
        rel("rId3", rel_type::kExtendedProperties, "docProps/app.xml", "/docProps/app.xml")}});

  // The presentation part and its relationships: master, slides, notes master, properties, theme.
  std::vector<Relationship> presentationRels{
      rel("rId1", rel_type::kSlideMaster, "slideMasters/slideMaster1.xml", master)};
  std::string slideIds;
  for (std::size_t i = 0; i < plan.slides.size(); ++i) {
    std::string n = std::to_string(i + 1);
    std::string id = "rId" + std::to_string(presentationRels.size() + 1);
    presentationRels.push_back(
        rel(id, rel_type::kSlide, "slides/slide" + n + ".xml", "/ppt/slides/slide" + n + ".xml"));
    slideIds += "<p:sldId id=\"" + std::to_string(256 + i) + "\" r:id=\"" + id + "\"/>";
  }
  std::string notesMasterIds;
  if (anyNotes) {
    std::string id = "rId" + std::to_string(presentationRels.size() + 1);
    presentationRels.push_back(rel(id, rel_type::kNotesMaster, "notesMasters/notesMaster1.xml", notesMaster));
    notesMasterIds = "<p:notesMasterIdLst><p:notesMasterId r:id=\"" + id + "\"/></p:notesMasterIdLst>";
  }
  for (auto [type, target] :
       {std::pair{rel_type::kPresProps, "presProps.xml"}, std::pair{rel_type::kViewProps, "viewProps.xml"},
        std::pair{rel_type::kTheme, "theme/theme1.xml"}, std::pair{rel_type::kTableStyles, "tableStyles.xml"}}) {
    presentationRels.push_back(
        rel("rId" + std::to_string(presentationRels.size() + 1), type, target, std::string("/ppt/") + target));
  }
  std::string presentation = std::string(kDeclaration) + "<p:presentation" + kNamespaces + " saveSubsetFonts=\"1\"";
  if (plan.firstSlideNumber != 1) presentation += " firstSlideNum=\"" + std::to_string(plan.firstSlideNumber) + "\"";
  presentation += "><p:sldMasterIdLst><p:sldMasterId id=\"2147483648\" r:id=\"rId1\"/></p:sldMasterIdLst>" +
                  notesMasterIds + (slideIds.empty() ? std::string() : "<p:sldIdLst>" + slideIds + "</p:sldIdLst>") +
                  "<p:sldSz cx=\"" + Number(plan.slideWidthEmu) + "\" cy=\"" + Number(plan.slideHeightEmu) + "\"" +
                  SlideSizeType(plan.slideWidthEmu, plan.slideHeightEmu) + "/><p:notesSz cx=\"" + Number(kNotesWidth) +
                  "\" cy=\"" + Number(kNotesHeight) + "\"/>" + templates::DefaultTextStyle() + "</p:presentation>";
  deck.parts.push_back({"/ppt/presentation.xml", std::string(content_type::kPresentation), std::move(presentation)});
  deck.relationships.push_back({"/ppt/presentation.xml", std::move(presentationRels)});

  deck.parts.push_back({master, std::string(content_type::kSlideMaster),
                        templates::SlideMaster(plan.slideWidthEmu, plan.slideHeightEmu)});
  deck.relationships.push_back({master,
                                {rel("rId1", rel_type::kSlideLayout, "../slideLayouts/slideLayout1.xml", layout),
                                 rel("rId2", rel_type::kTheme, "../theme/theme1.xml", "/ppt/theme/theme1.xml")}});
  deck.parts.push_back({layout, std::string(content_type::kSlideLayout), templates::SlideLayout()});
  deck.relationships.push_back(
      {layout, {rel("rId1", rel_type::kSlideMaster, "../slideMasters/slideMaster1.xml", master)}});
  deck.parts.push_back({"/ppt/theme/theme1.xml", std::string(content_type::kTheme), templates::Theme("Office Theme")});

  // Slides and their notes pages.
  int notesCount = 0, hiddenCount = 0;
  std::vector<BuiltPart> notesParts;
  std::vector<BuiltRelationships> notesRels;
  for (std::size_t i = 0; i < plan.slides.size(); ++i) {
    const SlidePlan& slide = plan.slides[i];
    const std::string n = std::to_string(i + 1);
    const std::string slidePart = "/ppt/slides/slide" + n + ".xml";
    std::vector<Relationship> slideRels{
        rel("rId1", rel_type::kSlideLayout, "../slideLayouts/slideLayout1.xml", layout)};
    if (slide.notes) {
      const std::string notesPart = "/ppt/notesSlides/notesSlide" + n + ".xml";
      slideRels.push_back(rel("rId2", rel_type::kNotesSlide, "../notesSlides/notesSlide" + n + ".xml", notesPart));
      std::vector<Relationship> rels{
          rel("rId1", rel_type::kNotesMaster, "../notesMasters/notesMaster1.xml", notesMaster),
          rel("rId2", rel_type::kSlide, "../slides/slide" + n + ".xml", slidePart)};
      ShapeWriter writer(state, rels, "slide " + n + ", notes", true);
      std::string tree = writer.Tree(NotesShapes(slide));
      notesParts.push_back({notesPart, std::string(content_type::kNotesSlide),
                            std::string(kDeclaration) + "<p:notes" + kNamespaces + "><p:cSld>" + tree +
                                "</p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:notes>"});
      notesRels.push_back({notesPart, std::move(rels)});
      ++notesCount;
    }
    ShapeWriter writer(state, slideRels, "slide " + n, false);
    std::string tree = writer.Tree(slide.shapes);
    CheckPlain(slide.name, "slide " + n, "the slide's name");
    std::string xml = std::string(kDeclaration) + "<p:sld" + kNamespaces + (slide.hidden ? " show=\"0\"" : "") +
                      "><p:cSld" +
                      (slide.name.empty() ? std::string() : " name=\"" + Escaped(slide.name, true) + "\"") + ">" +
                      tree + "</p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sld>";
    deck.parts.push_back({slidePart, std::string(content_type::kSlide), std::move(xml)});
    deck.relationships.push_back({slidePart, std::move(slideRels)});
    if (slide.hidden) ++hiddenCount;
  }
  if (anyNotes) {
    deck.parts.push_back({notesMaster, std::string(content_type::kNotesMaster), templates::NotesMaster()});
    deck.relationships.push_back(
        {notesMaster, {rel("rId1", rel_type::kTheme, "../theme/theme2.xml", "/ppt/theme/theme2.xml")}});
    deck.parts.push_back(
        {"/ppt/theme/theme2.xml", std::string(content_type::kTheme), templates::Theme("Office Theme")});
    for (auto& part : notesParts) deck.parts.push_back(std::move(part));
    for (auto& rels : notesRels) deck.relationships.push_back(std::move(rels));
  }
  for (auto& part : state.extraParts) deck.parts.push_back(std::move(part));

  deck.parts.push_back({"/ppt/presProps.xml", std::string(content_type::kPresProps), templates::PresProps()});
  deck.parts.push_back({"/ppt/viewProps.xml", std::string(content_type::kViewProps), templates::ViewProps()});
  deck.parts.push_back({"/ppt/tableStyles.xml", std::string(content_type::kTableStyles), templates::TableStyles()});

  CheckPlain(plan.title, "presentation", "the title");
  std::string core = std::string(kDeclaration) +
                     "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/"
                     "core-properties\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                     "xmlns:dcterms=\"http://purl.org/dc/terms/\" xmlns:dcmitype=\"http://purl.org/dc/dcmitype/\" "
                     "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">";
  if (!plan.title.empty()) core += "<dc:title>" + Escaped(plan.title) + "</dc:title>";
  core += "<cp:revision>1</cp:revision></cp:coreProperties>";
  deck.parts.push_back({"/docProps/core.xml", std::string(content_type::kCoreProperties), std::move(core)});
  std::string app = std::string(kDeclaration) +
                    "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
                    "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\">"
                    "<TotalTime>0</TotalTime><Application>Quorvane</Application><PresentationFormat>" +
                    PresentationFormat(plan.slideWidthEmu, plan.slideHeightEmu) + "</PresentationFormat><Slides>" +
                    std::to_string(plan.slides.size()) + "</Slides><Notes>" + std::to_string(notesCount) +
                    "</Notes><HiddenSlides>" + std::to_string(hiddenCount) +
                    "</HiddenSlides><MMClips>0</MMClips><ScaleCrop>false</ScaleCrop><LinksUpToDate>false"
                    "</LinksUpToDate><SharedDoc>false</SharedDoc><HyperlinksChanged>false</HyperlinksChanged>"
                    "</Properties>";
  deck.parts.push_back({"/docProps/app.xml", std::string(content_type::kExtendedProperties), std::move(app)});
  return deck;
}

std::shared_ptr<Package> Build(const DeckPlan& plan) {
  BuiltDeck deck = Render(plan);
  auto package = Package::Create();
  for (auto& part : deck.parts) package->SetPart(part.name, std::move(part.bytes), part.contentType);
  for (const auto& entry : deck.relationships) package->SetRelationships(entry.source, entry.relationships);
  return package;
}

void Write(const DeckPlan& plan, const std::string& path) { Build(plan)->Save(path); }

// --- Decks --------------------------------------------------------------------------------------

DeckPlan Blank() { return DeckPlan{}; }


}  // namespace quorvane::engines::pptx::builder
