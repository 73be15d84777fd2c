// Shapes and what hangs off them: Shapes, Placeholders, Shape, TextFrame, TextRange,
// PlaceholderFormat, Table, Cell, GroupItems; and Ungroup with its geometry.
//
// Every object refers to one node of one part document (a shape element, or the a:tc of a table
// cell) and holds that document and the node's life token, so it stays safe to call for as long as
// it is held: after its presentation closed, after its application quit, or after Ungroup removed
// its group, it fails instead of touching freed memory.
#include "engines/pptx/model_shapes.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "common/text.hpp"

namespace quorvane::engines::pptx {

namespace ppt = office::ppt;
using office::kMsoFalse;
using office::kMsoTrue;
using office::Tristate;

// --- PresentationML rules ----------------------------------------------------------------------

namespace {

// Whether `node` has the qualified name `name`, compared in place (no measuring of the node's name
// first: these checks run several times for every request). An empty node matches nothing.
bool NameIs(xml::Node node, std::string_view name) {
  const char* actual = node.name();
  for (const char c : name)
    if (*actual == '\0' || *actual++ != c) return false;
  return *actual == '\0';
}

// The first child element of `node` named `name` when it is among the first few children, as the
// schema places it in files that follow it; else what xml::Child finds (which also looks through
// markup compatibility). Fast for the non-visual properties every shape request reads.
xml::Node LeadingChild(xml::Node node, std::string_view name) {
  constexpr int kLook = 4;
  int looked = 0;
  for (xml::Node child = node.first_child(); child; child = child.next_sibling()) {
    if (++looked > kLook) return xml::Child(node, name);
    if (child.type() != pugi::node_element) continue;
    if (NameIs(child, name)) return child;
    if (NameIs(child, "mc:AlternateContent")) return xml::Child(node, name);
  }
  return {};
}

// p:ph below the non-visual properties element `nvName` of `shape` (`nvName`/p:nvPr/p:ph).
xml::Node PlaceholderBelow(xml::Node shape, std::string_view nvName) {
  const xml::Node nv = LeadingChild(shape, nvName);
  if (!nv) return {};
  const xml::Node nvPr = LeadingChild(nv, "p:nvPr");
  if (!nvPr) return {};
  return LeadingChild(nvPr, "p:ph");
}

}  // namespace

bool IsShapeElement(xml::Node node) {
  const std::string_view name = node.name();
  return name == "p:sp" || name == "p:grpSp" || name == "p:graphicFrame" || name == "p:cxnSp" || name == "p:pic" ||
         name == "p:contentPart";
}

xml::Node PlaceholderOf(xml::Node shape) {
  if (NameIs(shape, "p:sp")) return PlaceholderBelow(shape, "p:nvSpPr");
  if (NameIs(shape, "p:pic")) return PlaceholderBelow(shape, "p:nvPicPr");
  if (NameIs(shape, "p:graphicFrame")) return PlaceholderBelow(shape, "p:nvGraphicFramePr");
  return {};
}

namespace {

constexpr std::string_view kTransitionalDrawing = "http://schemas.openxmlformats.org/drawingml/2006/";
constexpr std::string_view kStrictDrawing = "http://purl.oclc.org/ooxml/drawingml/";

// Whether a graphicData uri names the DrawingML content `kind` ("table", "chart", "diagram").
bool IsDrawingUri(std::string_view uri, std::string_view kind) {
  for (const std::string_view base : {kTransitionalDrawing, kStrictDrawing})
    if (uri.size() == base.size() + kind.size() && uri.starts_with(base) && uri.ends_with(kind)) return true;
  return false;
}

bool IsOleUri(std::string_view uri) {
  return uri == "http://schemas.openxmlformats.org/presentationml/2006/ole" ||
         uri == "http://purl.oclc.org/ooxml/presentationml/ole";
}

bool IsMedia(xml::Node picture) {
  const xml::Node nvPr = xml::Path(picture, "p:nvPicPr/p:nvPr");
  for (const char* media : {"a:videoFile", "a:audioFile", "a:quickTimeFile", "a:wavAudioFile", "a:audioCd"})
    if (xml::Child(nvPr, media)) return true;
  for (const xml::Node ext : xml::ChildrenNamed(xml::Child(nvPr, "p:extLst"), "p:ext"))
    if (xml::Child(ext, "p14:media")) return true;
  return false;
}

std::int32_t GraphicFrameType(xml::Node frame) {
  const xml::Node data = xml::Path(frame, "a:graphic/a:graphicData");
  const std::string_view uri = xml::Attr(data, "uri");
  if (IsDrawingUri(uri, "table") || xml::Child(data, "a:tbl")) return ppt::kMsoTable;
  if (IsDrawingUri(uri, "chart")) return 3;
  if (IsDrawingUri(uri, "diagram")) return 24;
  if (IsOleUri(uri)) return xml::Path(data, "p:oleObj/p:link") ? 10 : 7;
  return 28;
}

xml::Node TableOf(xml::Node frame) {
  if (!NameIs(frame, "p:graphicFrame")) return {};
  return xml::Path(frame, "a:graphic/a:graphicData/a:tbl");
}

bool IsSlideImagePlaceholder(xml::Node ph) { return xml::Attr(ph, "type") == "sldImg"; }
bool IsSlideImage(xml::Node shape) { return IsSlideImagePlaceholder(PlaceholderOf(shape)); }

std::vector<xml::Node> Members(xml::Node group) {
  std::vector<xml::Node> members;
  for (const xml::Node child : xml::Children(group))
    if (IsShapeElement(child)) members.push_back(child);
  return members;
}

// MsoShapeType of a shape element whose p:ph (PlaceholderOf) is `ph`.
std::int32_t ShapeTypeWith(xml::Node shape, xml::Node ph) {
  const std::string_view name = shape.name();
  if (name == "p:grpSp") return ppt::kMsoGroup;
  if (ph) return ppt::kMsoPlaceholder;
  if (name == "p:sp") {
    if (xml::BoolAttr(xml::Path(shape, "p:nvSpPr/p:cNvSpPr"), "txBox", false)) return 17;
    if (xml::Path(shape, "p:spPr/a:custGeom")) return 5;
    return 1;
  }
  if (name == "p:pic") return IsMedia(shape) ? 16 : 13;
  if (name == "p:graphicFrame") return GraphicFrameType(shape);
  if (name == "p:cxnSp") return 9;
  if (name == "p:contentPart") return 22;
  return 1;
}

}  // namespace

std::int32_t ShapeType(xml::Node shape) { return ShapeTypeWith(shape, PlaceholderOf(shape)); }

std::int32_t PlaceholderType(xml::Node ph) {
  // An absent type is "obj" by the schema; a value the schema does not know counts as obj too.
  const std::string_view type = xml::Attr(ph, "type", "obj");
  const bool vertical = xml::Attr(ph, "orient") == "vert";
  static constexpr std::pair<std::string_view, std::int32_t> kTypes[] = {
      {"title", 1}, {"body", 2},  {"ctrTitle", 3}, {"subTitle", 4},
      {"obj", 7},   {"chart", 8}, {"clipArt", 9},  {"media", 10},
      {"dgm", 11},  {"tbl", 12},  {"sldNum", 13},  {"hdr", 14},
      {"ftr", 15},  {"dt", 16},   {"pic", 18},     {"sldImg", kPlaceholderSlideImage},
  };
  std::int32_t result = 7;
  for (const auto& [name, value] : kTypes)
    if (name == type) result = value;
  if (vertical) {
    if (result == 1) return 5;
    if (result == 2) return 6;
    if (result == 7) return 17;
  }
  return result;
}

bool HasTextFrame(xml::Node shape) { return NameIs(shape, "p:sp") && !IsSlideImage(shape); }

std::uint32_t GroupDepth(xml::Node node) {
  std::uint32_t depth = 0;
  for (xml::Node n = node; n; n = n.parent())
    if (NameIs(n, "p:grpSp")) ++depth;
  return depth;
}

const std::vector<xml::Node>& PartDocument::PageShapes() {
  if (pageShapesRevision_ == revision_) return pageShapes_;
  pageShapes_.clear();
  if (const xml::Node tree = xml::Path(root(), "p:cSld/p:spTree"))
    for (const xml::Node child : xml::Children(tree))
      if (IsShapeElement(child)) pageShapes_.push_back(child);
  pageShapesRevision_ = revision_;
  return pageShapes_;
}

const std::vector<xml::Node>& PartDocument::PagePlaceholders() {
  const std::vector<xml::Node>& shapes = PageShapes();
  if (pagePlaceholdersRevision_ == revision_) return pagePlaceholders_;
  pagePlaceholders_.clear();
  for (const xml::Node shape : shapes)
    if (PlaceholderOf(shape)) pagePlaceholders_.push_back(shape);
  pagePlaceholdersRevision_ = revision_;
  return pagePlaceholders_;
}

xml::Node PartDocument::Placeholder(xml::Node shape) {
  if (placeholderShape_ != shape.internal_object() || placeholderRevision_ != revision_) {
    placeholder_ = PlaceholderOf(shape);
    placeholderShape_ = shape.internal_object();
    placeholderRevision_ = revision_;
  }
  return placeholder_;
}

std::shared_ptr<PartDocument> Page::Document() const { return fresh ? fresh : model->Document(partName); }

// --- Ungroup geometry --------------------------------------------------------------------------

namespace {

// ST_Coordinate bounds.
constexpr double kMaxCoordinate = 27273042316900.0;
// Rotation units per full turn (60000ths of a degree).
constexpr std::int64_t kFullTurn = 21600000;

xml::Node TransformOf(xml::Node shape) {
  const std::string_view name = shape.name();
  if (name == "p:grpSp") return shape.child("p:grpSpPr").child("a:xfrm");
  if (name == "p:graphicFrame") return shape.child("p:xfrm");
  if (name == "p:contentPart") return shape.child("p14:xfrm") ? shape.child("p14:xfrm") : shape.child("p:xfrm");
  return shape.child("p:spPr").child("a:xfrm");
}

void SetInt(xml::Node node, const char* name, std::int64_t value) {
  xml::Attribute attribute = node.attribute(name);
  if (!attribute) attribute = node.append_attribute(name);
  attribute.set_value(static_cast<long long>(value));
}

void SetFlag(xml::Node node, const char* name, bool value) {
  if (value) {
    xml::Attribute attribute = node.attribute(name);
    if (!attribute) attribute = node.append_attribute(name);
    attribute.set_value("1");
  } else {
    node.remove_attribute(name);
  }
}

std::int64_t Coordinate(double value) { return std::llround(std::clamp(value, -kMaxCoordinate, kMaxCoordinate)); }

// The transform of a group: child coordinates (chOff/chExt) to page coordinates (off/ext), then
// the group's flips and rotation about its centre.
struct GroupTransform {
  double x = 0, y = 0, width = 0, height = 0;
  double childX = 0, childY = 0, scaleX = 1, scaleY = 1;
  std::int64_t rotation = 0;
  bool flipH = false, flipV = false;

  explicit GroupTransform(xml::Node xfrm) {
    const xml::Node off = xfrm.child("a:off"), ext = xfrm.child("a:ext");
    const xml::Node chOff = xfrm.child("a:chOff"), chExt = xfrm.child("a:chExt");
    x = static_cast<double>(xml::IntAttr(off, "x", 0));
    y = static_cast<double>(xml::IntAttr(off, "y", 0));
    width = static_cast<double>(xml::IntAttr(ext, "cx", 0));
    height = static_cast<double>(xml::IntAttr(ext, "cy", 0));
    // A group without child extents has its members in its own coordinates.
    childX = static_cast<double>(xml::IntAttr(chOff, "x", off ? xml::IntAttr(off, "x", 0) : 0));
    childY = static_cast<double>(xml::IntAttr(chOff, "y", off ? xml::IntAttr(off, "y", 0) : 0));
    const double childWidth = static_cast<double>(xml::IntAttr(chExt, "cx", 0));
    const double childHeight = static_cast<double>(xml::IntAttr(chExt, "cy", 0));
    if (chExt && childWidth > 0) scaleX = width / childWidth;
    if (chExt && childHeight > 0) scaleY = height / childHeight;
    rotation = xml::IntAttr(xfrm, "rot", 0) % kFullTurn;
    flipH = xml::BoolAttr(xfrm, "flipH", false);
    flipV = xml::BoolAttr(xfrm, "flipV", false);
  }

  // Moves one member (or, for an mc:AlternateContent, every branch's members) to page coordinates.
  void Apply(xml::Node member) const {
    if (std::string_view(member.name()) == "mc:AlternateContent") {
      for (xml::Node branch = member.first_child(); branch; branch = branch.next_sibling())
        for (xml::Node child = branch.first_child(); child; child = child.next_sibling())
          if (IsShapeElement(child) || std::string_view(child.name()) == "mc:AlternateContent") Apply(child);
      return;
    }
    xml::Node xfrm = TransformOf(member);
    const xml::Node off = xfrm.child("a:off"), ext = xfrm.child("a:ext");
    if (!xfrm || !off) return;
    const double memberWidth = static_cast<double>(xml::IntAttr(ext, "cx", 0)) * scaleX;
    const double memberHeight = static_cast<double>(xml::IntAttr(ext, "cy", 0)) * scaleY;
    double centreX = x + (static_cast<double>(xml::IntAttr(off, "x", 0)) - childX) * scaleX + memberWidth / 2;
    double centreY = y + (static_cast<double>(xml::IntAttr(off, "y", 0)) - childY) * scaleY + memberHeight / 2;
    std::int64_t memberRotation = xml::IntAttr(xfrm, "rot", 0) % kFullTurn;
    bool memberFlipH = xml::BoolAttr(xfrm, "flipH", false);
    bool memberFlipV = xml::BoolAttr(xfrm, "flipV", false);
    const double groupCentreX = x + width / 2, groupCentreY = y + height / 2;
    // A flip mirrors the member's place about the group's centre, flips the member and mirrors its
    // rotation.
    if (flipH) {
      centreX = 2 * groupCentreX - centreX;
      memberFlipH = !memberFlipH;
      memberRotation = -memberRotation;
    }
    if (flipV) {
      centreY = 2 * groupCentreY - centreY;
      memberFlipV = !memberFlipV;
      memberRotation = -memberRotation;
    }
    // Rotation turns the member's centre about the group's centre (clockwise, y pointing down) and
    // adds to the member's own rotation.
    if (rotation != 0) {
      const double angle = static_cast<double>(rotation) / 60000.0 * std::numbers::pi / 180.0;
      const double dx = centreX - groupCentreX, dy = centreY - groupCentreY;
      centreX = groupCentreX + dx * std::cos(angle) - dy * std::sin(angle);
      centreY = groupCentreY + dx * std::sin(angle) + dy * std::cos(angle);
      memberRotation += rotation;
    }
    memberRotation %= kFullTurn;
    if (memberRotation < 0) memberRotation += kFullTurn;

    SetInt(off, "x", Coordinate(centreX - memberWidth / 2));
    SetInt(off, "y", Coordinate(centreY - memberHeight / 2));
    if (ext) {
      SetInt(ext, "cx", std::max<std::int64_t>(0, Coordinate(memberWidth)));
      SetInt(ext, "cy", std::max<std::int64_t>(0, Coordinate(memberHeight)));
    }
    if (memberRotation != 0)
      SetInt(xfrm, "rot", memberRotation);
    else
      xfrm.remove_attribute("rot");
    SetFlag(xfrm, "flipH", memberFlipH);
    SetFlag(xfrm, "flipV", memberFlipV);
  }
};

}  // namespace

void UngroupNode(PartDocument& document, xml::Node group) {
  const GroupTransform transform(TransformOf(group));
  xml::Node parent = group.parent();
  std::vector<xml::Node> members;
  for (xml::Node child = group.first_child(); child; child = child.next_sibling()) {
    const std::string_view name = child.name();
    if (child.type() != pugi::node_element || name == "p:nvGrpSpPr" || name == "p:grpSpPr" || name == "p:extLst")
      continue;
    members.push_back(child);
  }
  for (const xml::Node member : members) {
    transform.Apply(member);
    parent.insert_move_before(member, group);
  }
  document.Remove(group);
}

// --- Objects -----------------------------------------------------------------------------------

namespace {

// What every shape-side object holds: its page, the document, the node and the node's life.
struct NodeRef {
  std::shared_ptr<const Page> page;
  std::shared_ptr<PartDocument> document;
  xml::Node node;
  std::shared_ptr<const NodeLife> life;
  bool cell = false;  // node is the a:tc of a table cell

  static NodeRef To(std::shared_ptr<const Page> page, std::shared_ptr<PartDocument> document, xml::Node node,
                    bool cell = false) {
    auto life = document->Life(node);
    return NodeRef{std::move(page), std::move(document), node, std::move(life), cell};
  }

  // Starts a member: the application runs, the presentation is open, the node still exists.
  xml::Node Enter(std::string_view member) const {
    page->model->Enter(member);
    if (!life->alive) throw InvalidRequest(member, u"Object does not exist.");
    return node;
  }

  PresentationModel& model() const { return *page->model; }
  // PlaceholderOf(node), through the document's memory of the last shape asked.
  xml::Node Placeholder() const { return cell ? xml::Node() : document->Placeholder(node); }
  // As HasTextFrame(node) for a shape.
  bool HasFrame() const { return cell || (NameIs(node, "p:sp") && !IsSlideImagePlaceholder(Placeholder())); }
  xml::Node Body() const { return xml::Child(node, cell ? "a:txBody" : "p:txBody"); }
};

std::shared_ptr<ppt::Shape> MakeShape(NodeRef ref);

class TextRangeObject final : public ppt::TextRange {
 public:
  explicit TextRangeObject(NodeRef ref) : ref_(std::move(ref)) {}

  std::u16string Text() override {
    ref_.Enter("TextRange.Text");
    return Read(ref_);
  }

  // The text goes in front of the first run, in its formatting; a shape without text body gets one.
  void InsertBefore(const std::u16string& text) override {
    ref_.Enter("TextRange.InsertBefore");
    const std::uint32_t limit = ref_.model().limits().maxTextLength;
    if (ReadRef(ref_).size() + text.size() > limit)
      throw LimitExceeded("TextRange.InsertBefore",
                          u"the text would be longer than the limit of " + text::Decimal(limit) + u" characters.");
    xml::InsertBefore(EnsureBody(), text);
    ref_.model().MarkDirty(*ref_.document);
  }

  static std::u16string Read(const NodeRef& ref) { return ReadRef(ref); }

  // The text, as the document remembers it for the last body read (empty without a body). Good
  // until the next read of the document.
  static const std::u16string& ReadRef(const NodeRef& ref) {
    static const std::u16string kNone;
    const xml::Node body = ref.Body();
    if (!body) return kNone;
    return ref.document->BodyText(body, ref.page->SlideNumber(), ref.model().limits().maxTextLength);
  }

 private:
  xml::Node EnsureBody() {
    if (const xml::Node body = ref_.Body()) return body;
    // p:txBody follows p:spPr and p:style and precedes p:extLst; a:txBody opens a:tc.
    xml::Node body;
    if (ref_.cell) {
      body = ref_.node.prepend_child("a:txBody");
    } else if (const xml::Node extLst = ref_.node.child("p:extLst")) {
      body = ref_.node.insert_child_before("p:txBody", extLst);
    } else {
      body = ref_.node.append_child("p:txBody");
    }
    body.append_child("a:bodyPr");
    body.append_child("a:lstStyle");
    return body;
  }

  NodeRef ref_;
};

class TextFrameObject final : public ppt::TextFrame {
 public:
  explicit TextFrameObject(NodeRef ref) : ref_(std::move(ref)) {}

  Tristate HasText() override {
    ref_.Enter("TextFrame.HasText");
    return ref_.HasFrame() && !TextRangeObject::ReadRef(ref_).empty() ? kMsoTrue : kMsoFalse;
  }
  std::shared_ptr<ppt::TextRange> TextRange() override {
    ref_.Enter("TextFrame.TextRange");
    if (!ref_.HasFrame())
      throw InvalidRequest("TextFrame.TextRange", u"Invalid request. This shape has no text frame.");
    if (!range_) range_ = std::make_shared<TextRangeObject>(ref_);
    return range_;
  }

 private:
  NodeRef ref_;
  std::shared_ptr<ppt::TextRange> range_;  // handed out again: it shows the same node
};

class PlaceholderFormatObject final : public ppt::PlaceholderFormat {
 public:
  explicit PlaceholderFormatObject(NodeRef ref) : ref_(std::move(ref)) {}
  std::int32_t Type() override {
    ref_.Enter("PlaceholderFormat.Type");
    return PlaceholderType(ref_.Placeholder());
  }

 private:
  NodeRef ref_;
};

class CellObject final : public ppt::Cell {
 public:
  explicit CellObject(NodeRef ref) : ref_(std::move(ref)) {}
  std::shared_ptr<ppt::Shape> Shape() override {
    ref_.Enter("Cell.Shape");
    return MakeShape(ref_);
  }

 private:
  NodeRef ref_;
};

class TableObject final : public ppt::Table {
 public:
  explicit TableObject(NodeRef ref) : ref_(std::move(ref)) {}

  std::int32_t RowsCount() override {
    ref_.Enter("Table.Rows.Count");
    return static_cast<std::int32_t>(Rows().size());
  }
  std::int32_t ColumnsCount() override {
    const xml::Node grid = xml::Child(TableOf(ref_.Enter("Table.Columns.Count")), "a:tblGrid");
    return static_cast<std::int32_t>(xml::ChildrenNamed(grid, "a:gridCol").size());
  }
  // The column-th a:tc of the row-th a:tr; a cell that a short row lacks does not exist.
  std::shared_ptr<ppt::Cell> Cell(std::int32_t row, std::int32_t column) override {
    ref_.Enter("Table.Cell");
    const auto& rows = Rows();
    if (row >= 1 && static_cast<std::size_t>(row) <= rows.size()) {
      const auto& cells = CellsOf(rows, static_cast<std::size_t>(row) - 1);
      if (column >= 1 && static_cast<std::size_t>(column) <= cells.size())
        return std::make_shared<CellObject>(
            NodeRef::To(ref_.page, ref_.document, cells[static_cast<std::size_t>(column) - 1], true));
    }
    throw InvalidRequest("Table.Cell", u"The specified value is out of range.");
  }

 private:
  // The table's rows, and the cells of the row read last, listed once per revision of the
  // document: the converters read a table cell by cell, each through Table.Cell(row, column).
  const std::vector<xml::Node>& Rows() {
    if (rowsRevision_ != ref_.document->revision() || !listed_) {
      rows_ = xml::ChildrenNamed(TableOf(ref_.node), "a:tr");
      rowsRevision_ = ref_.document->revision();
      listed_ = true;
      cellsRow_ = kNoRow;
    }
    return rows_;
  }
  const std::vector<xml::Node>& CellsOf(const std::vector<xml::Node>& rows, std::size_t row) {
    if (cellsRow_ != row) {
      cells_ = xml::ChildrenNamed(rows[row], "a:tc");
      cellsRow_ = row;
    }
    return cells_;
  }

  static constexpr std::size_t kNoRow = ~std::size_t{0};
  NodeRef ref_;
  bool listed_ = false;
  std::uint64_t rowsRevision_ = 0;
  std::vector<xml::Node> rows_;
  std::size_t cellsRow_ = kNoRow;
  std::vector<xml::Node> cells_;
};

class GroupItemsObject final : public ppt::GroupItems {
 public:
  explicit GroupItemsObject(NodeRef ref) : ref_(std::move(ref)) {}

  std::int32_t Count() override { return static_cast<std::int32_t>(Members(ref_.Enter("GroupItems.Count")).size()); }
  std::shared_ptr<ppt::Shape> Item(std::int32_t index) override {
    const auto members = Members(ref_.Enter("GroupItems.Item"));
    if (index < 1 || static_cast<std::size_t>(index) > members.size())
      throw OutOfRange("GroupItems.Item", index, members.size());
    return MakeShape(NodeRef::To(ref_.page, ref_.document, members[static_cast<std::size_t>(index) - 1]));
  }

 private:
  NodeRef ref_;
};

// A shape of a page or of a group, or (ref_.cell) the shape of a table cell, which has a text frame
// and nothing else.
class ShapeObject final : public ppt::Shape {
 public:
  explicit ShapeObject(NodeRef ref) : ref_(std::move(ref)) {}

  Tristate HasTextFrame() override {
    ref_.Enter("Shape.HasTextFrame");
    return ref_.HasFrame() ? kMsoTrue : kMsoFalse;
  }
  // Every shape answers a text frame (one without text for pictures, tables, groups ...), except
  // the slide picture of a notes page, a p:sp that has none.
  std::shared_ptr<ppt::TextFrame> TextFrame() override {
    const xml::Node node = ref_.Enter("Shape.TextFrame");
    if (!ref_.cell && std::string_view(node.name()) == "p:sp" && !ref_.HasFrame())
      throw InvalidRequest("Shape.TextFrame", u"Invalid request. This shape has no text frame.");
    if (!textFrame_) textFrame_ = std::make_shared<TextFrameObject>(ref_);
    return textFrame_;
  }
  // A table cell's shape answers 1 (an AutoShape).
  std::int32_t Type() override {
    const xml::Node node = ref_.Enter("Shape.Type");
    return ref_.cell ? 1 : ShapeTypeWith(node, ref_.Placeholder());
  }
  std::shared_ptr<ppt::PlaceholderFormat> PlaceholderFormat() override {
    ref_.Enter("Shape.PlaceholderFormat");
    if (ref_.cell || !ref_.Placeholder())
      throw InvalidRequest("Shape.PlaceholderFormat", u"This property only applies to placeholders.");
    if (!placeholderFormat_) placeholderFormat_ = std::make_shared<PlaceholderFormatObject>(ref_);
    return placeholderFormat_;
  }
  // Also a table placeholder that holds a table.
  std::shared_ptr<ppt::Table> Table() override {
    const xml::Node node = ref_.Enter("Shape.Table");
    if (ref_.cell || !TableOf(node))
      throw InvalidRequest("Shape.Table", u"This member can only be accessed for a table.");
    if (!table_) table_ = std::make_shared<TableObject>(ref_);
    return table_;
  }
  void Ungroup() override {
    const xml::Node node = ref_.Enter("Shape.Ungroup");
    RequireGroup(node, "Shape.Ungroup");
    UngroupNode(*ref_.document, node);
    ref_.model().MarkDirty(*ref_.document);
  }
  std::shared_ptr<ppt::GroupItems> GroupItems() override {
    const xml::Node node = ref_.Enter("Shape.GroupItems");
    RequireGroup(node, "Shape.GroupItems");
    const std::uint32_t limit = ref_.model().limits().maxGroupDepth;
    if (GroupDepth(node) > limit)
      throw LimitExceeded("Shape.GroupItems",
                          u"the group is nested deeper than the limit of " + text::Decimal(limit) + u" groups.");
    return std::make_shared<GroupItemsObject>(ref_);
  }

 private:
  void RequireGroup(xml::Node node, std::string_view member) const {
    if (ref_.cell || std::string_view(node.name()) != "p:grpSp")
      throw InvalidRequest(member, u"This member can only be accessed for a group.");
  }

  NodeRef ref_;
  // Views of the same node, handed out again (each refers to the node, never back to the shape).
  std::shared_ptr<ppt::TextFrame> textFrame_;
  std::shared_ptr<ppt::PlaceholderFormat> placeholderFormat_;
  std::shared_ptr<ppt::Table> table_;
};

std::shared_ptr<ppt::Shape> MakeShape(NodeRef ref) { return std::make_shared<ShapeObject>(std::move(ref)); }

class PlaceholdersObject final : public ppt::Placeholders {
 public:
  explicit PlaceholdersObject(std::shared_ptr<const Page> page) : page_(std::move(page)) {}

  std::int32_t Count() override {
    page_->model->Enter("Placeholders.Count");
    return static_cast<std::int32_t>(page_->Document()->PagePlaceholders().size());
  }
  std::shared_ptr<ppt::Shape> Item(std::int32_t index) override {
    page_->model->Enter("Placeholders.Item");
    auto document = page_->Document();
    const auto& placeholders = document->PagePlaceholders();
    if (index < 1 || static_cast<std::size_t>(index) > placeholders.size())
      throw OutOfRange("Placeholders.Item", index, placeholders.size());
    const xml::Node node = placeholders[static_cast<std::size_t>(index) - 1];
    return MakeShape(NodeRef::To(page_, std::move(document), node));
  }

 private:
  std::shared_ptr<const Page> page_;
};

class ShapesObject final : public ppt::Shapes {
 public:
  explicit ShapesObject(std::shared_ptr<const Page> page) : page_(std::move(page)) {}

  std::int32_t Count() override {
    page_->model->Enter("Shapes.Count");
    return static_cast<std::int32_t>(page_->Document()->PageShapes().size());
  }
  std::shared_ptr<ppt::Shape> Item(std::int32_t index) override {
    page_->model->Enter("Shapes.Item");
    auto document = page_->Document();
    const auto& shapes = document->PageShapes();
    if (index < 1 || static_cast<std::size_t>(index) > shapes.size())
      throw OutOfRange("Shapes.Item", index, shapes.size());
    const xml::Node node = shapes[static_cast<std::size_t>(index) - 1];
    // Every request on a shape asks for it anew: the last shape is handed out again while it is
    // the same node of the same document.
    if (last_ && lastDocument_ == document && lastNode_ == node && lastLife_->alive) return last_;
    NodeRef ref = NodeRef::To(page_, document, node);
    lastLife_ = ref.life;
    last_ = MakeShape(std::move(ref));
    lastDocument_ = std::move(document);
    lastNode_ = node;
    return last_;
  }
  std::shared_ptr<ppt::Placeholders> Placeholders() override {
    page_->model->Enter("Shapes.Placeholders");
    if (!placeholders_) placeholders_ = std::make_shared<PlaceholdersObject>(page_);
    return placeholders_;
  }

 private:
  std::shared_ptr<const Page> page_;
  std::shared_ptr<ppt::Placeholders> placeholders_;
  std::shared_ptr<ppt::Shape> last_;
  std::shared_ptr<PartDocument> lastDocument_;
  xml::Node lastNode_;
  std::shared_ptr<const NodeLife> lastLife_;
};

}  // namespace

std::shared_ptr<ppt::Shapes> MakeShapes(std::shared_ptr<const Page> page) {
  return std::make_shared<ShapesObject>(std::move(page));
}

}  // namespace quorvane::engines::pptx
