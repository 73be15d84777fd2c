// The decks of decks.hpp. The expected text is worked out here on its own, from the plan, rather
// than by the builder's writer, so that a fault in the writer shows as a difference.
#include "deckmaker/decks.hpp"

#include <algorithm>
#include <vector>

namespace quorvane::engines::pptx::builder {
namespace {

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// `text` as a reader gets it back: an unpaired surrogate becomes U+FFFD.
std::u16string Repaired(std::u16string_view text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHigh(text[i]) && i + 1 < text.size() && IsLow(text[i + 1])) {
      out += text.substr(i++, 2);
    } else {
      out += IsHigh(text[i]) || IsLow(text[i]) ? u'\uFFFD' : text[i];
    }
  }
  return out;
}

bool HasPlaceholder(const ShapePlan& shape) {
  return shape.placeholder || shape.kind == ShapeKind::Title || shape.kind == ShapeKind::CenterTitle ||
         shape.kind == ShapeKind::Subtitle || shape.kind == ShapeKind::Body;
}

bool HasTextFrame(ShapeKind kind) {
  return kind != ShapeKind::Picture && kind != ShapeKind::Table && kind != ShapeKind::Group &&
         kind != ShapeKind::Connector && kind != ShapeKind::Chart;
}

}  // namespace

int ExpectedType(const ShapePlan& shape) {
  if (HasPlaceholder(shape)) return 14;
  switch (shape.kind) {
    case ShapeKind::TextBox:
    case ShapeKind::Equation:
      return 17;
    case ShapeKind::AutoShape:
      return 1;
    case ShapeKind::Freeform:
      return 5;
    case ShapeKind::Picture:
      return 13;
    case ShapeKind::Table:
      return 19;
    case ShapeKind::Group:
      return 6;
    case ShapeKind::Connector:
      return 9;
    case ShapeKind::Chart:
      return 3;
    default:
      return 14;
  }
}

std::u16string ExpectedText(const ShapePlan& shape, std::int32_t slideNumber) {
  if (!HasTextFrame(shape.kind) || shape.omitTextBody) return {};
  const bool hasText = !shape.text.empty() || !shape.fields.empty();
  std::u16string out;
  if (shape.kind != ShapeKind::Equation || hasText) {
    // Runs are read back one by one, so text is repaired between the points where a run ends: a
    // field, a run break, a paragraph end or a line break.
    std::vector<const FieldSpec*> fields;
    for (const auto& field : shape.fields) fields.push_back(&field);
    std::stable_sort(fields.begin(), fields.end(),
                     [](const FieldSpec* a, const FieldSpec* b) { return a->offset < b->offset; });
    auto field = fields.begin();
    const std::u16string& text = shape.text;
    std::u16string run;
    const auto endRun = [&] { out += Repaired(run), run.clear(); };
    for (std::size_t i = 0; i <= text.size(); ++i) {
      if (std::find(shape.runBreaks.begin(), shape.runBreaks.end(), i) != shape.runBreaks.end()) endRun();
      for (; field != fields.end() && (*field)->offset == i; ++field) {
        endRun();
        if ((*field)->type == "slidenum" && slideNumber > 0) {
          for (char c : std::to_string(slideNumber)) out += static_cast<char16_t>(c);
        } else {
          out += Repaired((*field)->shown);
        }
      }
      if (i == text.size()) break;
      const char16_t c = text[i];
      if (c == u'\r' || c == u'\n' || c == u'\v') {
        endRun();
        if (c == u'\v') out += u'\v';
        else if (!(c == u'\n' && i > 0 && text[i - 1] == u'\r')) out += u'\r';
      } else {
        run += c;
      }
    }
    endRun();
  }
  if (shape.kind == ShapeKind::Equation) {
    if (hasText) out += u'\r';
    for (const auto& part : shape.math) out += Repaired(part);
  }
  return out;
}

namespace {

// A small deterministic generator (splitmix64): the same seed gives the same deck everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }

 private:
  std::uint64_t state_;
};

std::u16string Words(Random& random, int count) {
  static const std::u16string kWords[] = {u"quarterly",
                                          u"results",
                                          u"growth",
                                          u"market",
                                          u"plan",
                                          u"review",
                                          u"team",
                                          u"product",
                                          u"launch",
                                          u"budget",
                                          u"risk",
                                          u"customer",
                                          u"roadmap",
                                          u"strategy",
                                          u"timeline",
                                          u"metrics",
                                          u"R&D",
                                          u"a<b",
                                          u"caf\u00E9",
                                          u"\u00FCbersicht",
                                          u"\u65E5\u672C\u8A9E",
                                          u"\u0440\u044B\u043D\u043E\u043A",
                                          u"\U0001F680",
                                          u"\"quoted\"",
                                          u"costs",
                                          u"regions",
                                          u"outlook",
                                          u"summary",
                                          u"goals",
                                          u"hiring",
                                          u"partners",
                                          u"data"};
  std::u16string out;
  for (int i = 0; i < count; ++i) {
    if (i) out += u' ';
    out += kWords[random.Below(static_cast<int>(std::size(kWords)))];
  }
  return out;
}

std::u16string Number16(int n) {
  std::u16string out;
  for (char c : std::to_string(n)) out.push_back(static_cast<char16_t>(c));
  return out;
}

}  // namespace

DeckPlan Generated(int slides, std::uint64_t seed) {
  Random random(seed);
  DeckPlan deck;
  deck.title = u"Generated deck";
  for (int i = 1; i <= slides; ++i) {
    SlidePlan slide;
    slide.shapes.push_back(Title(u"Slide " + Number16(i) + u": " + Words(random, 3 + random.Below(4))));
    std::u16string bullets;
    int paragraphs = 3 + random.Below(3);
    for (int p = 0; p < paragraphs; ++p) {
      if (p) bullets += u'\r';
      bullets += Words(random, 4 + random.Below(6));
      if (random.Below(4) == 0) bullets += u'\v' + Words(random, 3);
    }
    ShapePlan body = Body(bullets);
    body.frame = Frame{838200, 1825625, 6096000, 4351338};
    slide.shapes.push_back(std::move(body));
    switch (random.Below(6)) {
      case 0:
        slide.shapes.push_back(TextBox(Words(random, 8) + u"\r" + Words(random, 6)));
        break;
      case 1:
        slide.shapes.push_back(AutoShape(random.Below(2) ? "ellipse" : "roundRect", Words(random, 5)));
        break;
      case 2: {
        ShapePlan table = Table({{u"Region", u"Q1", u"Q2"},
                                 {Words(random, 1), Number16(random.Below(100)), Number16(random.Below(100))},
                                 {Words(random, 1), Number16(random.Below(100)), Number16(random.Below(100))},
                                 {u"Total", u"", u""}});
        table.table.merges.push_back(MergeSpec{3, 1, 1, 2});
        slide.shapes.push_back(std::move(table));
        break;
      }
      case 3:
        slide.shapes.push_back(
            Group({TextBox(Words(random, 4)), Group({AutoShape("rect", Words(random, 3)), Picture()}), Connector()}));
        break;
      case 4:
        slide.shapes.push_back(Picture());
        slide.shapes.push_back(Connector());
        slide.shapes.push_back(Freeform(Words(random, 2)));
        break;
      default: {
        ShapePlan box = TextBox(Words(random, 6) + u"\t" + Words(random, 2));
        box.fields.push_back(FieldSpec{0, "datetime1", u"1/1/2024"});
        slide.shapes.push_back(std::move(box));
        if (i % 10 == 0) slide.shapes.push_back(Chart());
        break;
      }
    }
    if (random.Below(3) == 0) slide.shapes.push_back(SlideNumberPlaceholder(12, Number16(i)));
    if (i % 3 == 0) slide.notes = NotesPage(Words(random, 12) + u"\r" + Words(random, 10));
    slide.hidden = i % 17 == 0;
    deck.slides.push_back(std::move(slide));
  }
  return deck;
}

DeckPlan Sample() {
  DeckPlan deck;
  deck.title = u"Quorvane sample deck";

  SlidePlan opening;
  opening.shapes = {CenterTitle(u"Quorvane sample deck"), Subtitle(u"Every kind of shape\vin one deck"),
                    SlideNumberPlaceholder(12, u"1")};
  deck.slides.push_back(std::move(opening));

  SlidePlan text;
  text.shapes = {Title(u"Text"), Body(u"First paragraph\rSecond paragraph with a\vline break\rEscaped: <&> \"quoted\""),
                 TextBox(u"A text box\twith a tab"), AutoShape("ellipse", u"An ellipse"), Freeform(u"A freeform")};
  text.shapes[1].frame = Frame{838200, 1825625, 6096000, 4351338};
  text.shapes[2].frame = Frame{7315200, 1825625, 4038600, 646331};
  text.shapes[3].frame = Frame{7315200, 2743200, 2286000, 1371600};
  text.shapes[4].frame = Frame{9753600, 2743200, 1600200, 1371600};
  text.notes = NotesPage(u"Notes of the text slide\rwith two paragraphs");
  deck.slides.push_back(std::move(text));

  SlidePlan objects;
  ShapePlan table =
      Table({{u"Region", u"Q1", u"Q2"}, {u"North", u"3", u"4"}, {u"South", u"5", u"6"}, {u"Total", u"", u""}});
  table.table.merges.push_back(MergeSpec{3, 1, 1, 2});
  table.frame = Frame{838200, 1825625, 5029200, 1483360};
  ShapePlan picture = Picture();
  picture.frame = Frame{6400800, 1825625, 1828800, 1828800};
  picture.description = u"Colour bands";
  ShapePlan line = Connector();
  line.frame = Frame{838200, 3657600, 5029200, 0};
  ShapePlan chart = Chart();
  chart.frame = Frame{8534400, 1825625, 3048000, 2286000};
  objects.shapes = {Title(u"Tables, pictures and charts"), table, picture, line, chart};
  deck.slides.push_back(std::move(objects));

  SlidePlan groups;
  groups.hidden = true;
  ShapePlan inner = Group({AutoShape("rect", u"Inner rectangle"), TextBox(u"Inner text box")});
  inner.children[0].frame = Frame{1524000, 3200400, 2286000, 914400};
  inner.children[1].frame = Frame{1524000, 4267200, 2286000, 369332};
  ShapePlan outer = Group({TextBox(u"Outer text box"), inner});
  outer.children[0].frame = Frame{1524000, 2286000, 2286000, 369332};
  ShapePlan equation = Equation({u"E", u"=", u"m", u"c\u00B2"});
  equation.frame = Frame{6096000, 2286000, 3048000, 923330};
  groups.shapes = {Title(u"Groups and equations"), outer, equation};
  groups.notes = NotesPage(u"A hidden slide");
  deck.slides.push_back(std::move(groups));
  return deck;
}

void WriteSample(const std::string& path) { Write(Sample(), path); }

}  // namespace quorvane::engines::pptx::builder
