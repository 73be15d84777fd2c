// The structured reading of a presentation (office/reading.hpp) from the engine's model: the deck's
// properties from the package, then every slide's shapes in reading order with their paragraphs,
// tables and charts, and the notes. Parts are taken through the model's document cache, so a long
// deck is read holding about one slide's parts at a time.
#include "engines/pptx/reading.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engines/pptx/model_shapes.hpp"
#include "engines/shared/render_bridge.hpp"

namespace quorvane::engines::pptx {

namespace {

namespace r = office::reading;

// Reading order: rows from top to bottom, each read left to right. A shape joins the row that its
// topmost shape starts when it lies mostly beside that shape (their heights overlap by at least half
// the shorter one), so that a column starting a little lower than its neighbour on the left is
// still read after it, not before.
void SortIntoReadingOrder(std::vector<r::Shape>& shapes) {
  const auto hundredths = [](double value) { return std::round(value * 100); };
  std::stable_sort(shapes.begin(), shapes.end(), [&](const r::Shape& a, const r::Shape& b) {
    return hundredths(a.y) != hundredths(b.y) ? a.y < b.y : hundredths(a.x) < hundredths(b.x);
  });
  for (std::size_t start = 0; start < shapes.size();) {
    const double top = shapes[start].y, bottom = top + shapes[start].height;
    std::size_t end = start + 1;
    for (; end < shapes.size(); ++end) {
      const r::Shape& shape = shapes[end];
      const double shorter = std::min(bottom - top, shape.height);
      if (shorter <= 0 || std::min(bottom, shape.y + shape.height) - shape.y < shorter / 2) break;
    }
    std::stable_sort(shapes.begin() + static_cast<std::ptrdiff_t>(start), shapes.begin() + static_cast<std::ptrdiff_t>(end),
                     [&](const r::Shape& a, const r::Shape& b) { return hundredths(a.x) < hundredths(b.x); });
    start = end;
  }
}

// An external link as the writers may offer it to a reader: web and mail addresses only. A script
// ("javascript:"), a local file, a program's own scheme or a target without a scheme is no link:
// its text stays, as plain text.
std::string FollowableLink(const std::string& target) {
  const std::size_t colon = target.find(':');
  if (colon == std::string::npos) return {};
  std::string scheme = target.substr(0, colon);
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const std::string_view followable : {"http", "https", "mailto", "ftp"})
    if (scheme == followable) return target;
  return {};
}


constexpr double kEmuPerPixel = 9525.0;  // 96 dots per inch
constexpr std::int64_t kDefaultSlideWidth = 9144000;
constexpr std::int64_t kDefaultSlideHeight = 6858000;
constexpr int kMaxLevel = 8;
constexpr int kMaxGroupNesting = 64;

std::string_view LocalName(xml::Node node) {
  const std::string_view name = node.name();
  const std::size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The first child whose local name is `name`, whatever its prefix (document properties use
// namespaces the XML layer does not name).
xml::Node LocalChild(xml::Node node, std::string_view name) {
  for (xml::Node child = node.first_child(); child; child = child.next_sibling())
    if (child.type() == pugi::node_element && LocalName(child) == name) return child;
  return {};
}

std::string OwnText(xml::Node node) { return node.text().get(); }

// Every m:t or a:t below `node`, in document order.
void AppendDescendantText(xml::Node node, std::string_view name, std::string& out) {
  for (const xml::Node child : xml::Children(node)) {
    if (std::string_view(child.name()) == name)
      out += OwnText(child);
    else
      AppendDescendantText(child, name, out);
  }
}

bool SamePart(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Relationships of one part, looked up by id.
class Links {
 public:
  Links(PresentationModel& model, const std::string& part) {
    for (Relationship& relationship : model.package().Relationships(part))
      byId_.emplace(relationship.id, std::move(relationship));
  }
  const Relationship* Find(std::string_view id) const {
    const auto found = byId_.find(std::string(id));
    return found == byId_.end() ? nullptr : &found->second;
  }

 private:
  std::map<std::string, Relationship> byId_;
};

// Child coordinates of a group to slide coordinates (EMU), without rotation.
struct Placement {
  double scaleX = 1, scaleY = 1, dx = 0, dy = 0;
  double X(double x) const { return x * scaleX + dx; }
  double Y(double y) const { return y * scaleY + dy; }
};

xml::Node TransformOf(xml::Node shape) {
  const std::string_view name = shape.name();
  if (name == "p:grpSp") return xml::Path(shape, "p:grpSpPr/a:xfrm");
  if (name == "p:graphicFrame") return xml::Child(shape, "p:xfrm");
  if (name == "p:contentPart") return xml::Child(shape, "p14:xfrm");
  return xml::Path(shape, "p:spPr/a:xfrm");
}

xml::Node NonVisual(xml::Node shape) {
  for (const char* name : {"p:nvSpPr", "p:nvPicPr", "p:nvGraphicFramePr", "p:nvCxnSpPr", "p:nvGrpSpPr",
                           "p:nvContentPartPr"})
    if (const xml::Node nv = xml::Child(shape, name)) return nv;
  return {};
}

// Master placeholder a type inherits from: titles from the title, everything with body text from
// the body, the rest by its own type.
std::string_view MasterType(std::string_view type) {
  if (type == "ctrTitle") return "title";
  if (type == "subTitle" || type == "obj" || type.empty()) return "body";
  return type;
}

// The placeholder of a layout or master page that `ph` inherits from: same idx, else same type.
xml::Node Counterpart(PartDocument* page, xml::Node ph, bool master) {
  if (!page || !ph) return {};
  const std::string_view type = xml::Attr(ph, "type", "obj");
  const std::string_view idx = xml::Attr(ph, "idx");
  xml::Node byType;
  for (const xml::Node shape : page->PagePlaceholders()) {
    const xml::Node other = PlaceholderOf(shape);
    const std::string_view otherType = xml::Attr(other, "type", "obj");
    if (!master && !idx.empty() && xml::Attr(other, "idx") == idx) return shape;
    if (!byType && (master ? otherType == MasterType(type) : otherType == type)) byType = shape;
  }
  return byType;
}

// What a slide's text inherits from: its layout and master pages.
struct Inheritance {
  std::shared_ptr<PartDocument> layout;
  std::shared_ptr<PartDocument> master;
};

// The list styles a text body's paragraphs take their bullets and direction from, nearest first.
std::vector<xml::Node> ListStyles(xml::Node body, xml::Node ph, const Inheritance& inherited) {
  std::vector<xml::Node> styles;
  if (const xml::Node own = xml::Child(body, "a:lstStyle")) styles.push_back(own);
  if (!ph) return styles;
  const xml::Node onLayout = Counterpart(inherited.layout.get(), ph, false);
  if (const xml::Node style = xml::Path(onLayout, "p:txBody/a:lstStyle")) styles.push_back(style);
  const xml::Node onMaster = Counterpart(inherited.master.get(), onLayout ? PlaceholderOf(onLayout) : ph, true);
  if (const xml::Node style = xml::Path(onMaster, "p:txBody/a:lstStyle")) styles.push_back(style);
  if (inherited.master) {
    const std::string_view type = MasterType(xml::Attr(ph, "type", "obj"));
    const char* which = type == "title" ? "p:titleStyle" : type == "body" ? "p:bodyStyle" : "p:otherStyle";
    if (const xml::Node style = xml::Child(xml::Child(inherited.master->root(), "p:txStyles"), which))
      styles.push_back(style);
  }
  return styles;
}

int ParseInt(std::string_view text, int fallback) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc{} && end == text.data() + text.size() ? value : fallback;
}

class SlideReader {
 public:
  SlideReader(PresentationModel& model, SlideRecord& record) : model_(model), record_(record) {}

  r::Slide Read() {
    r::Slide slide;
    slide.number = static_cast<std::int32_t>(record_.index) + 1;
    slideNumber_ = model_.SlideNumber(record_);
    const auto document = model_.Document(record_.partName);
    slide.hidden = !xml::BoolAttr(document->root(), "show", true);
    // A layout, master, chart or notes page that cannot be read leaves out what it would add; the
    // slide's own text is read all the same.
    try {
      ReadInheritance();
    } catch (const AutomationError&) {
      inherited_ = {};
    }
    if (inherited_.layout) slide.layout = xml::Attr(xml::Child(inherited_.layout->root(), "p:cSld"), "name");
    links_ = std::make_unique<Links>(model_, record_.partName);
    ReadTree(xml::Path(document->root(), "p:cSld/p:spTree"), Placement{}, "", 0, slide.shapes);
    SortIntoReadingOrder(slide.shapes);
    for (const r::Shape& shape : slide.shapes) {
      if (shape.placeholder != "title" && shape.placeholder != "ctrTitle") continue;
      for (const r::Paragraph& paragraph : shape.paragraphs) {
        if (!slide.title.empty()) slide.title += ' ';
        slide.title += paragraph.Text();
      }
    }
    try {
      ReadNotes(slide.notes);
    } catch (const AutomationError&) {
      slide.notes.clear();
    }
    return slide;
  }

 private:
  void ReadInheritance() {
    const std::string& layoutPart = model_.LayoutPartOf(record_);
    if (layoutPart.empty()) return;
    inherited_.layout = model_.Document(layoutPart);
    for (const Relationship& relationship : model_.package().Relationships(layoutPart)) {
      if (!relationship.external && rel::Is(relationship.type, "slideMaster") &&
          model_.package().HasPart(relationship.partName)) {
        inherited_.master = model_.Document(relationship.partName);
        break;
      }
    }
  }

  void ReadNotes(std::vector<r::Paragraph>& notes) {
    const std::string& notesPart = model_.NotesPartOf(record_);
    if (notesPart.empty()) return;
    const auto document = model_.Document(notesPart);
    links_ = std::make_unique<Links>(model_, notesPart);
    const Inheritance none;
    for (const xml::Node shape : document->PagePlaceholders()) {
      const xml::Node ph = PlaceholderOf(shape);
      if (xml::Attr(ph, "type", "obj") != "body") continue;
      ReadParagraphs(xml::Child(shape, "p:txBody"), {}, none, notes);
    }
  }

  void ReadTree(xml::Node tree, const Placement& placement, const std::string& group, int depth,
                std::vector<r::Shape>& shapes) {
    for (const xml::Node node : xml::Children(tree)) {
      if (!IsShapeElement(node)) continue;
      if (std::string_view(node.name()) == "p:grpSp") {
        if (depth >= kMaxGroupNesting) continue;
        const xml::Node xfrm = TransformOf(node);
        const xml::Node off = xml::Child(xfrm, "a:off"), ext = xml::Child(xfrm, "a:ext");
        const xml::Node chOff = xml::Child(xfrm, "a:chOff"), chExt = xml::Child(xfrm, "a:chExt");
        const double x = static_cast<double>(xml::IntAttr(off, "x", 0));
        const double y = static_cast<double>(xml::IntAttr(off, "y", 0));
        const double cx = static_cast<double>(xml::IntAttr(chExt, "cx", 0));
        const double cy = static_cast<double>(xml::IntAttr(chExt, "cy", 0));
        Placement inner;
        inner.scaleX = cx > 0 ? static_cast<double>(xml::IntAttr(ext, "cx", 0)) / cx : 1;
        inner.scaleY = cy > 0 ? static_cast<double>(xml::IntAttr(ext, "cy", 0)) / cy : 1;
        inner.dx = x - static_cast<double>(xml::IntAttr(chOff, "x", static_cast<std::int64_t>(x))) * inner.scaleX;
        inner.dy = y - static_cast<double>(xml::IntAttr(chOff, "y", static_cast<std::int64_t>(y))) * inner.scaleY;
        Placement combined{inner.scaleX * placement.scaleX, inner.scaleY * placement.scaleY,
                           placement.X(inner.dx), placement.Y(inner.dy)};
        const std::string name =
            group.empty() ? std::string(xml::Attr(xml::Child(NonVisual(node), "p:cNvPr"), "name")) : group;
        ReadTree(node, combined, name.empty() ? "group" : name, depth + 1, shapes);
        continue;
      }
      shapes.push_back(ReadShape(node, placement, group));
    }
  }

  r::Shape ReadShape(xml::Node node, const Placement& placement, const std::string& group) {
    r::Shape shape;
    shape.group = group;
    const xml::Node cNvPr = xml::Child(NonVisual(node), "p:cNvPr");
    shape.name = xml::Attr(cNvPr, "name");
    shape.alternativeText = xml::Attr(cNvPr, "descr");
    if (shape.alternativeText.empty()) shape.alternativeText = xml::Attr(cNvPr, "title");
    const xml::Node ph = PlaceholderOf(node);
    if (ph) shape.placeholder = xml::Attr(ph, "type", "obj");

    xml::Node xfrm = TransformOf(node);
    if (!xml::Child(xfrm, "a:off") && ph) {
      const xml::Node onLayout = Counterpart(inherited_.layout.get(), ph, false);
      xfrm = TransformOf(onLayout);
      if (!xml::Child(xfrm, "a:off"))
        xfrm = TransformOf(Counterpart(inherited_.master.get(), onLayout ? PlaceholderOf(onLayout) : ph, true));
    }
    const xml::Node off = xml::Child(xfrm, "a:off"), ext = xml::Child(xfrm, "a:ext");
    const double x = placement.X(static_cast<double>(xml::IntAttr(off, "x", 0)));
    const double y = placement.Y(static_cast<double>(xml::IntAttr(off, "y", 0)));
    shape.x = x / kEmuPerPoint;
    shape.y = y / kEmuPerPoint;
    shape.width = static_cast<double>(xml::IntAttr(ext, "cx", 0)) * placement.scaleX / kEmuPerPoint;
    shape.height = static_cast<double>(xml::IntAttr(ext, "cy", 0)) * placement.scaleY / kEmuPerPoint;

    const std::int32_t type = ShapeType(node);
    const std::string_view element = node.name();
    if (element == "p:pic") {
      shape.kind = type == 16 ? r::ShapeKind::kMedia : r::ShapeKind::kPicture;
    } else if (element == "p:graphicFrame") {
      const xml::Node data = xml::Path(node, "a:graphic/a:graphicData");
      if (const xml::Node table = xml::Child(data, "a:tbl")) {
        shape.kind = r::ShapeKind::kTable;
        shape.table = ReadTable(table);
      } else if (const xml::Node chart = xml::Child(data, "c:chart")) {
        shape.kind = r::ShapeKind::kChart;
        try {
          shape.chart = ReadChart(xml::Attr(chart, "r:id"));
        } catch (const AutomationError&) {
        }
      }
    } else if (element == "p:sp") {
      ReadParagraphs(xml::Child(node, "p:txBody"), ph, inherited_, shape.paragraphs);
      if (!shape.paragraphs.empty()) shape.kind = r::ShapeKind::kText;
    }
    return shape;
  }

  void ReadParagraphs(xml::Node body, xml::Node ph, const Inheritance& inherited, std::vector<r::Paragraph>& out) {
    if (!body) return;
    const std::vector<xml::Node> styles = ListStyles(body, ph, inherited);
    // The numbers of numbered lists, per level: the scheme and the last number given.
    struct Count {
      std::string scheme;
      std::int32_t number = 0;
    };
    Count counts[kMaxLevel + 1];
    for (const xml::Node p : xml::ChildrenNamed(body, "a:p")) {
      r::Paragraph paragraph;
      const xml::Node pPr = xml::Child(p, "a:pPr");
      paragraph.level = static_cast<std::int32_t>(std::clamp<std::int64_t>(xml::IntAttr(pPr, "lvl", 0), 0, kMaxLevel));
      std::vector<xml::Node> properties{pPr};
      const std::string levelName = "a:lvl" + std::to_string(paragraph.level + 1) + "pPr";
      for (const xml::Node style : styles) properties.push_back(xml::Child(style, levelName));
      ResolveBullet(properties, paragraph);
      for (const xml::Node properties1 : properties) {
        if (properties1.attribute("rtl")) {
          paragraph.rightToLeft = xml::BoolAttr(properties1, "rtl", false);
          break;
        }
      }
      ReadRuns(p, paragraph);
      if (paragraph.Text().empty()) {
        counts[paragraph.level] = {};
        continue;
      }
      for (int deeper = paragraph.level + 1; deeper <= kMaxLevel; ++deeper) counts[deeper] = {};
      Count& count = counts[paragraph.level];
      if (paragraph.bullet == r::Bullet::kNumber) {
        const int start = ParseInt(xml::Attr(NumberingOf(properties), "startAt"), 1);
        paragraph.number = count.scheme == paragraph.numbering ? count.number + 1 : start;
        count = {paragraph.numbering, paragraph.number};
      } else {
        count = {};
      }
      out.push_back(std::move(paragraph));
    }
  }

  static xml::Node NumberingOf(const std::vector<xml::Node>& properties) {
    for (const xml::Node pPr : properties)
      if (const xml::Node n = xml::Child(pPr, "a:buAutoNum")) return n;
    return {};
  }

  static void ResolveBullet(const std::vector<xml::Node>& properties, r::Paragraph& paragraph) {
    for (const xml::Node pPr : properties) {
      if (!pPr) continue;
      if (xml::Child(pPr, "a:buNone")) return;
      if (const xml::Node c = xml::Child(pPr, "a:buChar")) {
        paragraph.bullet = r::Bullet::kCharacter;
        paragraph.bulletCharacter = xml::Attr(c, "char", "\u2022");
        return;
      }
      if (xml::Child(pPr, "a:buBlip")) {
        paragraph.bullet = r::Bullet::kCharacter;
        paragraph.bulletCharacter = "\u2022";
        return;
      }
      if (const xml::Node n = xml::Child(pPr, "a:buAutoNum")) {
        paragraph.bullet = r::Bullet::kNumber;
        paragraph.numbering = xml::Attr(n, "type", "arabicPeriod");
        return;
      }
    }
  }

  void ReadRuns(xml::Node p, r::Paragraph& paragraph) {
    for (const xml::Node child : xml::Children(p)) {
      const std::string_view name = child.name();
      r::Run run;
      const xml::Node rPr = xml::Child(child, "a:rPr");
      if (name == "a:r") {
        run.text = OwnText(xml::Child(child, "a:t"));
      } else if (name == "a:fld") {
        run.field = xml::Attr(child, "type");
        run.text = run.field == "slidenum" && slideNumber_ > 0 ? std::to_string(slideNumber_)
                                                               : OwnText(xml::Child(child, "a:t"));
      } else if (name == "a:br") {
        run.text = "\n";
      } else if (name == "a:tab") {
        run.text = "\t";
      } else if (name == "a14:m") {
        AppendDescendantText(child, "m:t", run.text);
      } else {
        continue;
      }
      if (paragraph.language.empty()) paragraph.language = xml::Attr(rPr, "lang");
      const std::string_view typeface = xml::Attr(xml::Child(rPr, "a:latin"), "typeface");
      if (!typeface.empty() && typeface.front() != '+') run.font = typeface;
      run.link = LinkOf(xml::Child(rPr, "a:hlinkClick"));
      if (!run.text.empty()) paragraph.runs.push_back(std::move(run));
    }
  }

  std::string LinkOf(xml::Node click) const {
    if (!click) return {};
    const Relationship* target = links_->Find(xml::Attr(click, "r:id"));
    if (!target) return {};
    if (target->external) return FollowableLink(target->target);
    const auto& slides = model_.slides();
    for (const auto& slide : slides)
      if (SamePart(slide->partName, target->partName)) return "slide " + std::to_string(slide->index + 1);
    return {};
  }

  r::Table ReadTable(xml::Node tbl) {
    r::Table table;
    table.headerRow = xml::BoolAttr(xml::Child(tbl, "a:tblPr"), "firstRow", false);
    const std::size_t grid = xml::ChildrenNamed(xml::Child(tbl, "a:tblGrid"), "a:gridCol").size();
    const Inheritance none;
    for (const xml::Node tr : xml::ChildrenNamed(tbl, "a:tr")) {
      auto& row = table.rows.emplace_back();
      for (const xml::Node tc : xml::ChildrenNamed(tr, "a:tc")) {
        r::Cell cell;
        cell.columnSpan = static_cast<std::int32_t>(std::clamp<std::int64_t>(xml::IntAttr(tc, "gridSpan", 1), 1, 1000));
        cell.rowSpan = static_cast<std::int32_t>(std::clamp<std::int64_t>(xml::IntAttr(tc, "rowSpan", 1), 1, 1000));
        cell.covered = xml::BoolAttr(tc, "hMerge", false) || xml::BoolAttr(tc, "vMerge", false);
        ReadParagraphs(xml::Child(tc, "a:txBody"), {}, none, cell.paragraphs);
        row.push_back(std::move(cell));
      }
    }
    std::size_t width = grid;
    for (const auto& row : table.rows) width = std::max(width, row.size());
    for (auto& row : table.rows) row.resize(width);
    // A cell inside another's span is covered, whether or not it says so itself.
    for (std::size_t rIndex = 0; rIndex < table.rows.size(); ++rIndex) {
      for (std::size_t c = 0; c < width; ++c) {
        const r::Cell& anchor = table.rows[rIndex][c];
        if (anchor.covered) continue;
        for (std::size_t dr = 0; dr < static_cast<std::size_t>(anchor.rowSpan) && rIndex + dr < table.rows.size(); ++dr)
          for (std::size_t dc = 0; dc < static_cast<std::size_t>(anchor.columnSpan) && c + dc < width; ++dc)
            if (dr != 0 || dc != 0) table.rows[rIndex + dr][c + dc].covered = true;
      }
    }
    return table;
  }

  // The points of a category or value reference: from its cache or its literal.
  static std::vector<std::optional<std::string>> Points(xml::Node reference) {
    xml::Node data;
    for (const char* path : {"c:strRef/c:strCache", "c:numRef/c:numCache", "c:strLit", "c:numLit",
                             "c:multiLvlStrRef/c:multiLvlStrCache/c:lvl"}) {
      if ((data = xml::Path(reference, path))) break;
    }
    std::vector<std::optional<std::string>> points;
    if (!data) return points;
    const std::int64_t count = std::clamp<std::int64_t>(xml::IntAttr(xml::Child(data, "c:ptCount"), "val", 0), 0, 100000);
    points.resize(static_cast<std::size_t>(count));
    for (const xml::Node pt : xml::ChildrenNamed(data, "c:pt")) {
      const std::int64_t idx = xml::IntAttr(pt, "idx", -1);
      if (idx < 0 || idx >= 100000) continue;
      if (static_cast<std::size_t>(idx) >= points.size()) points.resize(static_cast<std::size_t>(idx) + 1);
      points[static_cast<std::size_t>(idx)] = OwnText(xml::Child(pt, "c:v"));
    }
    return points;
  }

  std::optional<r::Chart> ReadChart(std::string_view id) {
    const Relationship* target = links_->Find(id);
    if (!target || target->external || !model_.package().HasPart(target->partName)) return std::nullopt;
    const auto document = model_.Document(target->partName);
    const xml::Node chart = xml::Child(document->root(), "c:chart");
    r::Chart out;
    const xml::Node title = xml::Child(chart, "c:title");
    AppendDescendantText(xml::Path(title, "c:tx/c:rich"), "a:t", out.title);
    if (out.title.empty()) AppendDescendantText(xml::Path(title, "c:tx/c:strRef/c:strCache"), "c:v", out.title);
    for (const xml::Node plot : xml::Children(xml::Child(chart, "c:plotArea"))) {
      const std::string_view local = LocalName(plot);
      if (!local.ends_with("Chart")) continue;
      if (out.type.empty()) out.type = local.substr(0, local.size() - 5);
      for (const xml::Node ser : xml::ChildrenNamed(plot, "c:ser")) {
        r::Series series;
        const xml::Node tx = xml::Child(ser, "c:tx");
        AppendDescendantText(tx, "c:v", series.name);
        xml::Node categories = xml::Child(ser, "c:cat");
        if (!categories) categories = xml::Child(ser, "c:xVal");
        xml::Node values = xml::Child(ser, "c:val");
        if (!values) values = xml::Child(ser, "c:yVal");
        for (auto& point : Points(categories)) series.categories.push_back(point.value_or(""));
        for (const auto& point : Points(values)) {
          double value = 0;
          if (point && !point->empty() &&
              std::from_chars(point->data(), point->data() + point->size(), value).ec == std::errc{})
            series.values.emplace_back(value);
          else
            series.values.emplace_back(std::nullopt);
        }
        out.series.push_back(std::move(series));
      }
    }
    return out;
  }

  PresentationModel& model_;
  SlideRecord& record_;
  std::int32_t slideNumber_ = 0;
  Inheritance inherited_;
  std::unique_ptr<Links> links_;
};

// The part the package's (or a part's) first relationship of a type ending in `suffix` names.
std::string RelatedPart(PresentationModel& model, const std::string& source, std::string_view suffix) {
  for (const Relationship& relationship : model.package().Relationships(source))
    if (!relationship.external && relationship.type.ends_with(suffix) && model.package().HasPart(relationship.partName))
      return relationship.partName;
  return {};
}

r::Deck ReadDeck(PresentationModel& model) {
  r::Deck deck;
  deck.slideCount = static_cast<std::int32_t>(model.slides().size());
  const xml::Node size = xml::Child(model.PresentationDocument()->root(), "p:sldSz");
  const auto cx = static_cast<double>(xml::IntAttr(size, "cx", kDefaultSlideWidth));
  const auto cy = static_cast<double>(xml::IntAttr(size, "cy", kDefaultSlideHeight));
  deck.widthPoints = cx / kEmuPerPoint;
  deck.heightPoints = cy / kEmuPerPoint;
  deck.widthPixels = static_cast<std::int32_t>(std::lround(cx / kEmuPerPixel));
  deck.heightPixels = static_cast<std::int32_t>(std::lround(cy / kEmuPerPixel));

  // Damaged document properties leave their fields empty: they are not what the deck shows.
  try {
    if (const std::string core = RelatedPart(model, "/", "/core-properties"); !core.empty()) {
      const xml::Node root = model.Document(core)->root();
      deck.title = OwnText(LocalChild(root, "title"));
      deck.author = OwnText(LocalChild(root, "creator"));
      deck.created = OwnText(LocalChild(root, "created"));
      deck.modified = OwnText(LocalChild(root, "modified"));
    }
  } catch (const AutomationError&) {
  }
  try {
    if (const std::string app = RelatedPart(model, "/", "/extended-properties"); !app.empty()) {
      const xml::Node root = model.Document(app)->root();
      deck.application = OwnText(LocalChild(root, "Application"));
      deck.applicationVersion = OwnText(LocalChild(root, "AppVersion"));
    }
  } catch (const AutomationError&) {
  }
  if (const auto original = render_bridge::ForeignApplication(model)) {
    deck.application = *original;
    deck.applicationVersion.clear();
  }
  try {
    if (const std::string theme = RelatedPart(model, model.presentationPart(), "/theme"); !theme.empty()) {
      const xml::Node fonts = xml::Path(model.Document(theme)->root(), "a:themeElements/a:fontScheme");
      for (const char* which : {"a:majorFont", "a:minorFont"}) {
        const std::string typeface(xml::Attr(xml::Path(fonts, std::string(which) + "/a:latin"), "typeface"));
        if (!typeface.empty() && std::find(deck.themeFonts.begin(), deck.themeFonts.end(), typeface) ==
                                     deck.themeFonts.end())
          deck.themeFonts.push_back(typeface);
      }
    }
  } catch (const AutomationError&) {
  }
  for (const std::string& part : model.package().PartNames()) {
    std::string lower = part;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.starts_with("/ppt/media/")) deck.media.push_back(part);
  }
  std::sort(deck.media.begin(), deck.media.end());
  return deck;
}

}  // namespace

void ReadPresentation(PresentationModel& model, office::reading::Sink& sink) {
  sink.OnDeck(ReadDeck(model));
  const auto slides = model.slides();  // a copy: the sink may not change the list under the walk
  for (const auto& record : slides) {
    model.Enter("Presentation.Read");
    sink.OnSlide(SlideReader(model, *record).Read());
  }
}

}  // namespace quorvane::engines::pptx
