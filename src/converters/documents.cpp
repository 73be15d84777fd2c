// Markdown and JSON documents from the reading of a presentation (documents.hpp).
#include "converters/documents.hpp"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/numbered_files.hpp"
#include "common/output_file.hpp"
#include "common/text.hpp"

namespace quorvane::converters {

namespace {

namespace r = office::reading;
using Json = nlohmann::ordered_json;

// Shortest text that reads back as the same number, whatever the locale.
std::string Number(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// --- Markdown ------------------------------------------------------------------------------------

// Inline text: Markdown's punctuation escaped ("|" too, for tables; harmless elsewhere), line
// breaks as <br>.
std::string Inline(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\': case '`': case '*': case '_': case '[': case ']': case '<': case '>': case '|': case '#':
      case '~':
        out += '\\';
        out += c;
        break;
      case '\n': out += "<br>"; break;
      case '\r': case '\v': out += ' '; break;
      default: out += c;
    }
  }
  return out;
}

// A link target with what would end it or break it percent-encoded.
std::string Target(std::string_view url) {
  std::string out;
  for (const char c : url) {
    if (c == ' ' || c == '(' || c == ')' || c == '<' || c == '>' || static_cast<unsigned char>(c) < 0x20) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

// A paragraph's runs as inline Markdown: neighbouring runs with the same link make one link.
std::string InlineParagraph(const r::Paragraph& paragraph) {
  std::string out;
  for (const auto& [text, link] : paragraph.LinkSpans()) {
    if (link.empty())
      out += Inline(text);
    else if (link.starts_with("slide "))
      out += Inline(text) + " (" + link + ")";
    else
      out += "[" + Inline(text) + "](" + Target(link) + ")";
  }
  return out;
}

// Text at the start of a line that Markdown would take for a list item or heading is escaped.
std::string LineStart(std::string text) {
  if (text.starts_with("-") || text.starts_with("+") || text.starts_with("=")) return "\\" + text;
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits > 0 && digits < text.size() && (text[digits] == '.' || text[digits] == ')'))
    text.insert(digits, "\\");
  return text;
}

std::string CellText(const r::Cell& cell) {
  std::string out;
  for (const r::Paragraph& paragraph : cell.paragraphs) {
    if (!out.empty()) out += "<br>";
    out += InlineParagraph(paragraph);
  }
  return out;
}

std::string PipeRow(const std::vector<std::string>& cells) {
  std::string out = "|";
  for (const std::string& cell : cells) out += " " + cell + " |";
  return out + "\n";
}

std::string PipeTable(const std::vector<std::vector<std::string>>& rows) {
  if (rows.empty()) return {};
  std::string out = PipeRow(rows.front());
  out += "|";
  for (std::size_t c = 0; c < rows.front().size(); ++c) out += " --- |";
  out += "\n";
  for (std::size_t i = 1; i < rows.size(); ++i) out += PipeRow(rows[i]);
  return out;
}

class MarkdownSink final : public r::Sink {
 public:
  explicit MarkdownSink(DocumentOutput output) : output_(std::move(output)) {}

  void OnDeck(const r::Deck& deck) override {
    if (deck.title.empty()) return;
    output_("# " + Inline(deck.title) + "\n");
    started_ = true;
  }

  void OnSlide(const r::Slide& slide) override {
    text_.clear();
    lastWasItem_ = false;
    Block("## Slide " + std::to_string(slide.number) + (slide.title.empty() ? "" : ": " + Inline(slide.title)) +
          (slide.hidden ? " (hidden)" : "") + "\n");
    for (const r::Shape& shape : slide.shapes) Shape(shape);
    if (!slide.notes.empty()) {
      Block("### Notes\n");
      Paragraphs(slide.notes);
    }
    // The document starts with its first heading, not with the blank line that separates blocks.
    output_(started_ ? std::string_view(text_) : std::string_view(text_).substr(1));
    started_ = true;
  }

 private:
  // A block after a blank line.
  void Block(const std::string& text) {
    text_ += "\n" + text;
    lastWasItem_ = false;
  }

  void Paragraphs(const std::vector<r::Paragraph>& paragraphs) {
    for (const r::Paragraph& paragraph : paragraphs) {
      const std::string text = InlineParagraph(paragraph);
      if (paragraph.bullet == r::Bullet::kNone) {
        Block(LineStart(text) + "\n");
        continue;
      }
      const std::string marker =
          paragraph.bullet == r::Bullet::kNumber ? std::to_string(paragraph.number) + ". " : std::string("- ");
      const std::string line = std::string(2 * static_cast<std::size_t>(paragraph.level), ' ') + marker + text + "\n";
      if (lastWasItem_)
        text_ += line;
      else
        Block(line);
      lastWasItem_ = true;
    }
  }

  void Shape(const r::Shape& shape) {
    switch (shape.kind) {
      case r::ShapeKind::kText:
        // The title is the heading already.
        if (shape.placeholder == "title" || shape.placeholder == "ctrTitle") return;
        Paragraphs(shape.paragraphs);
        return;
      case r::ShapeKind::kPicture:
      case r::ShapeKind::kMedia: {
        const std::string& what = shape.alternativeText.empty() ? shape.name : shape.alternativeText;
        Block(std::string(shape.kind == r::ShapeKind::kPicture ? "*Picture: " : "*Media: ") + Inline(what) + "*\n");
        return;
      }
      case r::ShapeKind::kTable: Table(*shape.table); return;
      case r::ShapeKind::kChart:
        if (shape.chart) Chart(*shape.chart, shape.name);
        return;
      case r::ShapeKind::kOther: return;
    }
  }

  void Table(const r::Table& table) {
    std::vector<std::vector<std::string>> rows;
    for (const auto& row : table.rows) {
      auto& cells = rows.emplace_back();
      for (const r::Cell& cell : row) cells.push_back(cell.covered ? std::string() : CellText(cell));
    }
    if (!rows.empty() && !rows.front().empty()) Block(PipeTable(rows));
  }

  void Chart(const r::Chart& chart, const std::string& name) {
    Block("*Chart: " + Inline(chart.title.empty() ? name : chart.title) + "*\n");
    std::vector<std::vector<std::string>> rows{{"Category"}};
    std::size_t points = 0;
    for (const r::Series& series : chart.series) {
      rows.front().push_back(Inline(series.name));
      points = std::max({points, series.categories.size(), series.values.size()});
    }
    if (chart.series.empty()) return;
    for (std::size_t i = 0; i < points; ++i) {
      auto& row = rows.emplace_back();
      const auto& first = chart.series.front().categories;
      row.push_back(i < first.size() ? Inline(first[i]) : std::to_string(i + 1));
      for (const r::Series& series : chart.series)
        row.push_back(i < series.values.size() && series.values[i] ? Number(*series.values[i]) : std::string());
    }
    Block(PipeTable(rows));
  }

  DocumentOutput output_;
  std::string text_;
  bool lastWasItem_ = false;
  bool started_ = false;
};

// --- JSON ----------------------------------------------------------------------------------------

const char* BulletName(r::Bullet bullet) {
  switch (bullet) {
    case r::Bullet::kCharacter: return "character";
    case r::Bullet::kNumber: return "number";
    case r::Bullet::kNone: break;
  }
  return "none";
}

Json ParagraphJson(const r::Paragraph& paragraph) {
  Json bullet{{"type", BulletName(paragraph.bullet)}};
  if (paragraph.bullet == r::Bullet::kCharacter) bullet["character"] = paragraph.bulletCharacter;
  if (paragraph.bullet == r::Bullet::kNumber) {
    bullet["scheme"] = paragraph.numbering;
    bullet["number"] = paragraph.number;
  }
  Json runs = Json::array();
  for (const r::Run& run : paragraph.runs) {
    Json item{{"text", run.text}};
    if (!run.link.empty()) item["link"] = run.link;
    if (!run.field.empty()) item["field"] = run.field;
    if (!run.font.empty()) item["font"] = run.font;
    runs.push_back(std::move(item));
  }
  return Json{{"level", paragraph.level}, {"bullet", std::move(bullet)}, {"rtl", paragraph.rightToLeft},
              {"language", paragraph.language}, {"text", paragraph.Text()}, {"runs", std::move(runs)}};
}

Json ParagraphsJson(const std::vector<r::Paragraph>& paragraphs) {
  Json out = Json::array();
  for (const r::Paragraph& paragraph : paragraphs) out.push_back(ParagraphJson(paragraph));
  return out;
}

Json ShapeJson(const r::Shape& shape) {
  Json out{{"kind", r::KindName(shape.kind)},
           {"placeholder", shape.placeholder.empty() ? Json(nullptr) : Json(shape.placeholder)},
           {"name", shape.name},
           {"alternativeText", shape.alternativeText},
           {"group", shape.group.empty() ? Json(nullptr) : Json(shape.group)},
           {"position", {{"x", shape.x}, {"y", shape.y}, {"width", shape.width}, {"height", shape.height}}},
           {"paragraphs", ParagraphsJson(shape.paragraphs)}};
  if (shape.table) {
    Json rows = Json::array();
    for (const auto& row : shape.table->rows) {
      Json cells = Json::array();
      for (const r::Cell& cell : row)
        cells.push_back({{"colspan", cell.columnSpan}, {"rowspan", cell.rowSpan}, {"covered", cell.covered},
                         {"paragraphs", ParagraphsJson(cell.paragraphs)}});
      rows.push_back(std::move(cells));
    }
    out["table"] = {{"headerRow", shape.table->headerRow}, {"rows", std::move(rows)}};
  }
  if (shape.chart) {
    Json series = Json::array();
    for (const r::Series& s : shape.chart->series) {
      Json values = Json::array();
      for (const auto& value : s.values) values.push_back(value ? Json(*value) : Json(nullptr));
      series.push_back({{"name", s.name}, {"categories", s.categories}, {"values", std::move(values)}});
    }
    out["chart"] = {{"title", shape.chart->title}, {"type", shape.chart->type}, {"series", std::move(series)}};
  }
  return out;
}

class JsonSink final : public r::Sink {
 public:
  explicit JsonSink(DocumentOutput output) : output_(std::move(output)) {}

  void OnDeck(const r::Deck& deck) override {
    const Json out{{"title", deck.title},
                   {"author", deck.author},
                   {"created", deck.created},
                   {"modified", deck.modified},
                   {"application", deck.application},
                   {"applicationVersion", deck.applicationVersion},
                   {"slideCount", deck.slideCount},
                   {"size",
                    {{"widthPoints", deck.widthPoints},
                     {"heightPoints", deck.heightPoints},
                     {"widthPixels", deck.widthPixels},
                     {"heightPixels", deck.heightPixels}}},
                   {"media", deck.media},
                   {"themeFonts", deck.themeFonts}};
    output_("{\"deck\":" + Dump(out) + ",\n\"slides\":[");
  }

  void OnSlide(const r::Slide& slide) override {
    Json shapes = Json::array();
    for (const r::Shape& shape : slide.shapes) shapes.push_back(ShapeJson(shape));
    const Json out{{"number", slide.number}, {"hidden", slide.hidden},
                   {"layout", slide.layout}, {"title", slide.title},
                   {"shapes", std::move(shapes)}, {"notes", ParagraphsJson(slide.notes)}};
    output_(std::string(first_ ? "\n" : ",\n") + Dump(out));
    first_ = false;
  }

  // Closes the slide list and the document.
  void Finish() { output_(first_ ? "]}\n" : "\n]}\n"); }

 private:
  // Text that is not UTF-8 (a damaged file) is replaced, not refused.
  static std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

  DocumentOutput output_;
  bool first_ = true;
};

}  // namespace

std::unique_ptr<r::Sink> MarkdownWriter(DocumentOutput output) {
  return std::make_unique<MarkdownSink>(std::move(output));
}

std::unique_ptr<r::Sink> JsonWriter(DocumentOutput output) { return std::make_unique<JsonSink>(std::move(output)); }

void WriteDocument(office::ppt::Presentation& presentation, const std::string& path, DocumentKind kind) {
  const std::u16string name = text::FromUtf8(path);
  files::CheckForWriting(name);
  if (files::IsHeldForReading(path))
    throw AutomationError(failure::kPathFileAccessError,
                          u"\"" + name + u"\" is the file of an open presentation; it is not overwritten.");
  try {
    output::WriteFile(path, [&](int fd) {
      std::string pending;
      auto flush = [&] {
        output::WriteAll(fd, pending, path);
        pending.clear();
      };
      const DocumentOutput out = [&](std::string_view piece) {
        pending += piece;
        if (pending.size() >= 1 << 16) flush();
      };
      if (kind == DocumentKind::kMarkdown) {
        MarkdownSink sink(out);
        presentation.Read(sink);
      } else {
        JsonSink sink(out);
        presentation.Read(sink);
        sink.Finish();
      }
      flush();
    });
  } catch (const output::OutputError& error) {
    files::ThrowRunTimeError(error);
  }
}

}  // namespace quorvane::converters
