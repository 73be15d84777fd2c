// The scripted office: automation objects over the in-memory model of scripted_office.hpp.
//
// Every automation object is a thin view: a Context naming the office state and the model nodes
// it stands for, and no data of its own. Each member first calls Enter(), which logs the call,
// applies the failure rules, and fails the call when the object's application, presentation,
// shape or document is gone; only then does the member look at the model. Because the views hold
// shared references to the nodes and read them at every call, an object obtained before a change
// (a paste, an ungroup, a label inserted) sees the change, as automation objects do.
#include "support/scripted_office.hpp"

#include <algorithm>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "common/text.hpp"

namespace quorvane::testing {

// ---------------------------------------------------------------------------------------------
// Model
// ---------------------------------------------------------------------------------------------

std::shared_ptr<ShapeData> ShapeData::Clone() const {
  auto copy = std::make_shared<ShapeData>(*this);
  for (auto& item : copy->items) item = item->Clone();
  return copy;
}

std::shared_ptr<SlideData> SlideData::Clone() const {
  auto copy = std::make_shared<SlideData>(*this);
  for (auto& shape : copy->shapes) shape = shape->Clone();
  for (auto& shape : copy->notes) shape = shape->Clone();
  return copy;
}

std::vector<std::u16string> SlideData::Texts() const {
  std::vector<std::u16string> texts;
  for (const auto& shape : shapes) texts.push_back(shape->hasTextFrame ? shape->text : std::u16string());
  return texts;
}

namespace {

std::vector<std::shared_ptr<ShapeData>> Nodes(std::vector<ShapeData> shapes) {
  std::vector<std::shared_ptr<ShapeData>> nodes;
  for (auto& shape : shapes) nodes.push_back(std::make_shared<ShapeData>(std::move(shape)));
  return nodes;
}

}  // namespace

Deck& Deck::Slide(std::vector<ShapeData> shapes) {
  auto slide = std::make_shared<SlideData>();
  slide->shapes = Nodes(std::move(shapes));
  slide->notes = Nodes({SlideImage(), NotesBody(u"")});
  slides.push_back(std::move(slide));
  return *this;
}

Deck& Deck::Notes(std::vector<ShapeData> shapes) {
  if (slides.empty()) throw std::logic_error("Deck::Notes needs a slide to attach the notes page to");
  slides.back()->notes = Nodes(std::move(shapes));
  return *this;
}

Deck& Deck::TitledSlides(int count) {
  for (int i = 0; i < count; ++i)
    Slide({Title(u"Slide " + text::Decimal(static_cast<std::int64_t>(slides.size()) + 1))});
  return *this;
}

Deck& Deck::Size(float width, float height) {
  std::tie(slideWidth, slideHeight) = std::pair(width, height);
  return *this;
}

Deck Deck::Clone() const {
  Deck copy = *this;
  for (auto& slide : copy.slides) slide = slide->Clone();
  return copy;
}

ShapeData Placeholder(std::int32_t placeholderType, std::u16string text) {
  return {.type = ppt::kMsoPlaceholder, .placeholderType = placeholderType, .text = std::move(text)};
}

ShapeData Title(std::u16string text) { return Placeholder(ppt::kPlaceholderTitle, std::move(text)); }
ShapeData Body(std::u16string text) { return Placeholder(ppt::kPlaceholderBody, std::move(text)); }
ShapeData NotesBody(std::u16string text) { return Placeholder(ppt::kPlaceholderBody, std::move(text)); }

ShapeData TextBox(std::u16string text) { return {.type = 17, .text = std::move(text)}; }
ShapeData AutoShape(std::u16string text) { return {.type = 1, .text = std::move(text)}; }
ShapeData Graphic(std::int32_t type) { return {.type = type, .hasTextFrame = false}; }

ShapeData Picture() { return Graphic(13); }

ShapeData Table(std::vector<std::vector<std::u16string>> rows, std::int32_t columns) {
  ShapeData shape = Graphic(ppt::kMsoTable);
  if (columns < 0) {
    columns = 0;
    for (const auto& row : rows) columns = std::max(columns, static_cast<std::int32_t>(row.size()));
  }
  shape.cells = std::move(rows);
  shape.columns = columns;
  return shape;
}

ShapeData Group(std::vector<ShapeData> items) {
  ShapeData shape = Graphic(ppt::kMsoGroup);
  shape.items = Nodes(std::move(items));
  return shape;
}

ShapeData SlideImage() {
  return {.type = ppt::kMsoPlaceholder, .placeholderType = kPlaceholderSlideImage, .hasTextFrame = false,
          .textFrameFails = true};
}

// ---------------------------------------------------------------------------------------------
// Failure rules
// ---------------------------------------------------------------------------------------------

bool FailureRule::Fires(const Call& call) {
  if (call.member != member && call.text != member) return false;
  if ((slide && call.site.slide != *slide) || (shape && call.site.shape != *shape) || (notes && call.site.notes != *notes))
    return false;
  ++matched;
  return matched >= nth && (times == 0 || matched < nth + times);
}

// ---------------------------------------------------------------------------------------------
// Automation objects
// ---------------------------------------------------------------------------------------------

namespace {

// What an automation object stands for. Fields below `office` are set as far as they apply.
struct Context {
  std::shared_ptr<OfficeState> office;
  std::shared_ptr<ApplicationState> application;
  std::shared_ptr<PresentationState> presentation;
  std::shared_ptr<SlideData> slide;
  bool notes = false;                // the objects of the slide's notes page
  std::shared_ptr<ShapeData> shape;  // a shape, or the table of a cell
  std::int32_t row = 0;              // with `column`: the cell of table `shape` whose shape this is
  std::int32_t column = 0;
  std::shared_ptr<DocumentState> document;
};

using ShapeList = std::vector<std::shared_ptr<ShapeData>>;

ShapeList& Page(const Context& c) { return c.notes ? c.slide->notes : c.slide->shapes; }

bool Holds(const ShapeData& tree, const ShapeData* node) {
  if (&tree == node) return true;
  return std::any_of(tree.items.begin(), tree.items.end(), [&](const auto& item) { return Holds(*item, node); });
}

// The list (a page, or a group's items) that holds `node` directly; none when it is not on the page.
ShapeList* ContainerOf(ShapeList& list, const ShapeData* node) {
  for (auto& shape : list) {
    if (shape.get() == node) return &list;
    if (auto* inner = ContainerOf(shape->items, node)) return inner;
  }
  return nullptr;
}

template <class T>
std::int32_t PositionOf(const std::vector<std::shared_ptr<T>>& list, const T* node) {
  for (std::size_t i = 0; i < list.size(); ++i)
    if (list[i].get() == node) return static_cast<std::int32_t>(i + 1);
  return 0;
}

Site SiteOf(const Context& c) {
  Site site;
  if (c.presentation) {
    site.file = c.presentation->fileName;
    if (c.slide) site.slide = PositionOf(c.presentation->deck.slides, c.slide.get());
  }
  site.notes = c.notes;
  for (std::size_t i = 0; c.shape && i < Page(c).size() && site.shape == 0; ++i)
    if (Holds(*Page(c)[i], c.shape.get())) site.shape = static_cast<std::int32_t>(i + 1);
  return site;
}

// Every automation object is a view of a Context.
struct View {
  explicit View(Context c) : c_(std::move(c)) {}
  Context c_;
};

// --- Log text ---

std::string Str(std::u16string_view s) { return text::ToUtf8(s); }
std::string Num(std::int64_t n) { return std::to_string(n); }
std::string Flag(bool b) { return b ? "true" : "false"; }

std::string CallText(std::string_view member, std::initializer_list<std::string> args) {
  std::string result(member);
  for (const auto& arg : args) result += (&arg == args.begin() ? "(" : ", ") + arg;
  return args.size() == 0 ? result : result + ')';
}

// --- Failures ---

// PowerPoint's invalid request, worded as PowerPoint words it: "Slides.Item : <what>".
AutomationError Invalid(std::string_view member, std::u16string_view what) {
  return AutomationError(failure::kPowerPointInvalidRequest, text::FromUtf8(member) + u" : " + std::u16string(what));
}

// Every member starts here: log, injected failures, then the liveness of what the object stands for.
void Enter(const Context& c, std::string_view member, std::initializer_list<std::string> args = {}) {
  OfficeState& office = *c.office;
  office.log.push_back(Call{std::string(member), CallText(member, args), SiteOf(c)});
  const Call& call = office.log.back();
  const FailureRule* firing = nullptr;
  for (auto& rule : office.rules)  // every rule counts the call, also after one has fired
    if (rule.Fires(call) && !firing) firing = &rule;
  if (firing) throw AutomationError(firing->number, firing->description);

  if (c.application && !c.application->running)
    throw AutomationError(kServerUnavailable, u"The remote server machine does not exist or is unavailable");
  if (c.presentation && c.presentation->closed) throw Invalid(member, u"Object does not exist.");
  if (c.shape && c.shape->deleted) throw Invalid(member, u"Object does not exist.");
  if (c.document && c.document->closed)
    throw AutomationError(kWordDisconnected, u"The object invoked has disconnected from its clients.");
}

// Logs the call of `member`, which hands out an object standing for what `c` stands for.
template <class V>
std::shared_ptr<V> Child(const Context& c, std::string_view member) { Enter(c, member); return std::make_shared<V>(c); }

// The item at a 1-based index, or PowerPoint's out-of-range failure.
template <class T>
const T& At(std::string_view member, const std::vector<T>& list, std::int32_t index) {
  if (index < 1 || static_cast<std::size_t>(index) > list.size()) throw Invalid(member, u"Integer out of range.");
  return list[index - 1];
}

Context WithShape(Context c, std::shared_ptr<ShapeData> shape) { c.shape = std::move(shape); return c; }

bool IsCell(const Context& c) { return c.row != 0; }
bool HasFrame(const Context& c) { return IsCell(c) || c.shape->hasTextFrame; }
std::u16string& TextOf(const Context& c) { return IsCell(c) ? c.shape->cells[c.row - 1][c.column - 1] : c.shape->text; }

// --- PowerPoint ---

struct ScriptedTextRange final : ppt::TextRange, View {
  using View::View;
  std::u16string Text() override { Enter(c_, "TextRange.Text"); return TextOf(c_); }
  void InsertBefore(const std::u16string& text) override {
    Enter(c_, "TextRange.InsertBefore", {Str(text)});
    TextOf(c_).insert(0, text);
  }
};

struct ScriptedTextFrame final : ppt::TextFrame, View {
  using View::View;
  Tristate HasText() override {
    Enter(c_, "TextFrame.HasText");
    return HasFrame(c_) && !TextOf(c_).empty() ? office::kMsoTrue : office::kMsoFalse;
  }
  std::shared_ptr<ppt::TextRange> TextRange() override {
    Enter(c_, "TextFrame.TextRange");
    if (!HasFrame(c_)) throw Invalid("TextFrame.TextRange", u"Invalid request. This shape has no text frame.");
    return std::make_shared<ScriptedTextRange>(c_);
  }
};

struct ScriptedPlaceholderFormat final : ppt::PlaceholderFormat, View {
  using View::View;
  std::int32_t Type() override { Enter(c_, "PlaceholderFormat.Type"); return c_.shape->placeholderType; }
};

std::shared_ptr<ppt::Shape> MakeShape(Context c);

struct ScriptedCell final : ppt::Cell, View {
  using View::View;
  std::shared_ptr<ppt::Shape> Shape() override { Enter(c_, "Cell.Shape"); return MakeShape(c_); }
};

struct ScriptedTable final : ppt::Table, View {
  using View::View;
  std::int32_t RowsCount() override {
    Enter(c_, "Table.Rows.Count");
    return static_cast<std::int32_t>(c_.shape->cells.size());
  }
  std::int32_t ColumnsCount() override { Enter(c_, "Table.Columns.Count"); return c_.shape->columns; }
  std::shared_ptr<ppt::Cell> Cell(std::int32_t row, std::int32_t column) override {
    Enter(c_, "Table.Cell", {Num(row), Num(column)});
    const auto& cells = c_.shape->cells;
    if (row < 1 || static_cast<std::size_t>(row) > cells.size() || column < 1 ||
        static_cast<std::size_t>(column) > cells[row - 1].size())
      throw Invalid("Table.Cell", u"The specified value is out of range.");
    Context cell = c_;
    cell.row = row;
    cell.column = column;
    return std::make_shared<ScriptedCell>(cell);
  }
};

struct ScriptedGroupItems final : ppt::GroupItems, View {
  using View::View;
  std::int32_t Count() override {
    Enter(c_, "GroupItems.Count");
    return static_cast<std::int32_t>(c_.shape->items.size());
  }
  std::shared_ptr<ppt::Shape> Item(std::int32_t index) override {
    Enter(c_, "GroupItems.Item", {Num(index)});
    return MakeShape(WithShape(c_, At("GroupItems.Item", c_.shape->items, index)));
  }
};

// A shape on a page, a group item, or (with c_.row set) the shape of a table cell, which has a
// text frame and nothing else.
struct ScriptedShape final : ppt::Shape, View {
  using View::View;

  Tristate HasTextFrame() override {
    Enter(c_, "Shape.HasTextFrame");
    return HasFrame(c_) ? office::kMsoTrue : office::kMsoFalse;
  }
  std::shared_ptr<ppt::TextFrame> TextFrame() override {
    Enter(c_, "Shape.TextFrame");
    if (!IsCell(c_) && c_.shape->textFrameFails)
      throw Invalid("Shape.TextFrame", u"Invalid request. This shape has no text frame.");
    return std::make_shared<ScriptedTextFrame>(c_);
  }
  std::int32_t Type() override { Enter(c_, "Shape.Type"); return IsCell(c_) ? 1 : c_.shape->type; }
  std::shared_ptr<ppt::PlaceholderFormat> PlaceholderFormat() override {
    Require(ppt::kMsoPlaceholder, "Shape.PlaceholderFormat", u"This property only applies to placeholders.");
    return std::make_shared<ScriptedPlaceholderFormat>(c_);
  }
  std::shared_ptr<ppt::Table> Table() override {
    Require(ppt::kMsoTable, "Shape.Table", u"This member can only be accessed for a table.");
    return std::make_shared<ScriptedTable>(c_);
  }
  std::shared_ptr<ppt::GroupItems> GroupItems() override {
    Require(ppt::kMsoGroup, "Shape.GroupItems", u"This member can only be accessed for a group.");
    return std::make_shared<ScriptedGroupItems>(c_);
  }
  // The group is replaced, where it lies (on its page or in its own group), by its items.
  void Ungroup() override {
    Require(ppt::kMsoGroup, "Shape.Ungroup", u"Invalid request. This shape is not a group.");
    ShapeList* container = c_.slide ? ContainerOf(Page(c_), c_.shape.get()) : nullptr;
    if (!container) throw Invalid("Shape.Ungroup", u"Object does not exist.");
    auto at = std::find(container->begin(), container->end(), c_.shape);
    const auto items = c_.shape->items;
    at = container->erase(at);
    container->insert(at, items.begin(), items.end());
    c_.shape->deleted = true;
  }

 private:
  // Logs the call of `member`, which applies to shapes of `type` only.
  void Require(std::int32_t type, std::string_view member, std::u16string_view what) const {
    Enter(c_, member);
    if (IsCell(c_) || c_.shape->type != type) throw Invalid(member, what);
  }
};

std::shared_ptr<ppt::Shape> MakeShape(Context c) { return std::make_shared<ScriptedShape>(c); }

struct ScriptedPlaceholders final : ppt::Placeholders, View {
  using View::View;
  std::int32_t Count() override { Enter(c_, "Placeholders.Count"); return static_cast<std::int32_t>(List().size()); }
  std::shared_ptr<ppt::Shape> Item(std::int32_t index) override {
    Enter(c_, "Placeholders.Item", {Num(index)});
    return MakeShape(WithShape(c_, At("Placeholders.Item", List(), index)));
  }

 private:
  // The page's shapes of type 14, in shape order.
  ShapeList List() const {
    ShapeList list;
    for (const auto& shape : Page(c_))
      if (shape->type == ppt::kMsoPlaceholder) list.push_back(shape);
    return list;
  }
};

struct ScriptedShapes final : ppt::Shapes, View {
  using View::View;
  std::int32_t Count() override { Enter(c_, "Shapes.Count"); return static_cast<std::int32_t>(Page(c_).size()); }
  std::shared_ptr<ppt::Shape> Item(std::int32_t index) override {
    Enter(c_, "Shapes.Item", {Num(index)});
    return MakeShape(WithShape(c_, At("Shapes.Item", Page(c_), index)));
  }
  std::shared_ptr<ppt::Placeholders> Placeholders() override {
    return Child<ScriptedPlaceholders>(c_, "Shapes.Placeholders");
  }
};

struct ScriptedNotesPage final : ppt::NotesPage, View {
  using View::View;
  std::shared_ptr<ppt::Shapes> Shapes() override { return Child<ScriptedShapes>(c_, "NotesPage.Shapes"); }
};

struct ScriptedSlide final : ppt::Slide, View {
  using View::View;
  void Copy() override {
    Enter(c_, "Slide.Copy");
    c_.office->clipboard = {c_.slide->Clone(), PositionOf(c_.presentation->deck.slides, c_.slide.get())};
  }
  std::shared_ptr<ppt::Shapes> Shapes() override { return Child<ScriptedShapes>(c_, "Slide.Shapes"); }
  std::shared_ptr<ppt::NotesPage> NotesPage() override {
    Enter(c_, "Slide.NotesPage");
    Context notes = c_;
    notes.notes = true;
    return std::make_shared<ScriptedNotesPage>(notes);
  }
  void Export(const std::u16string& fileName, const std::u16string& filterName, std::int32_t scaleWidth,
              std::int32_t scaleHeight) override {
    Enter(c_, "Slide.Export", {Str(fileName), Str(filterName), Num(scaleWidth), Num(scaleHeight)});
    c_.office->exports.push_back({fileName, filterName, scaleWidth, scaleHeight, c_.presentation->fileName});
  }
};

struct ScriptedSlides final : ppt::Slides, View {
  using View::View;
  std::int32_t Count() override { Enter(c_, "Slides.Count"); return static_cast<std::int32_t>(Slides().size()); }
  std::shared_ptr<ppt::Slide> Item(std::int32_t index) override {
    Enter(c_, "Slides.Item", {Num(index)});
    Context slide = c_;
    slide.slide = At("Slides.Item", Slides(), index);
    return std::make_shared<ScriptedSlide>(slide);
  }
  // -1 appends; 1 to Count + 1 inserts at that position.
  void Paste(std::int32_t index) override {
    Enter(c_, "Slides.Paste", {Num(index)});
    const auto& clip = c_.office->clipboard.slide;
    if (!clip)
      throw Invalid("Slides.Paste",
                    u"Invalid request. Clipboard is empty or contains data which may not be pasted here.");
    auto& slides = Slides();
    if (index == -1) index = static_cast<std::int32_t>(slides.size()) + 1;
    if (index < 1 || static_cast<std::size_t>(index) > slides.size() + 1)
      throw Invalid("Slides.Paste", u"Integer out of range.");
    slides.insert(slides.begin() + (index - 1), clip->Clone());
  }

 private:
  std::vector<std::shared_ptr<SlideData>>& Slides() { return c_.presentation->deck.slides; }
};

struct ScriptedPageSetup final : ppt::PageSetup, View {
  using View::View;
  float SlideHeight() override { Enter(c_, "PageSetup.SlideHeight"); return c_.presentation->deck.slideHeight; }
  float SlideWidth() override { Enter(c_, "PageSetup.SlideWidth"); return c_.presentation->deck.slideWidth; }
  void put_SlideHeight(float value) override {
    Enter(c_, "PageSetup.put_SlideHeight");
    c_.presentation->deck.slideHeight = value;
  }
  void put_SlideWidth(float value) override {
    Enter(c_, "PageSetup.put_SlideWidth");
    c_.presentation->deck.slideWidth = value;
  }
};

struct ScriptedPresentation final : ppt::Presentation, View {
  using View::View;
  std::shared_ptr<ppt::Slides> Slides() override { return Child<ScriptedSlides>(c_, "Presentation.Slides"); }
  std::shared_ptr<ppt::PageSetup> PageSetup() override {
    return Child<ScriptedPageSetup>(c_, "Presentation.PageSetup");
  }
  void SaveAs(const std::u16string& fileName, std::int32_t fileFormat, Tristate embedTrueTypeFonts) override {
    Enter(c_, "Presentation.SaveAs", {Str(fileName), Num(fileFormat), Num(embedTrueTypeFonts)});
    const Deck& deck = c_.presentation->deck;
    SaveRecord record{fileName, fileFormat, c_.presentation->fileName, deck.slideWidth, deck.slideHeight, {}};
    for (const auto& slide : deck.slides) record.slides.push_back(slide->Texts());
    c_.office->saves.push_back(std::move(record));
  }
  void Close() override { Enter(c_, "Presentation.Close"); c_.presentation->closed = true; }
};

struct ScriptedPresentations final : ppt::Presentations, View {
  using View::View;
  std::shared_ptr<ppt::Presentation> Open(const std::u16string& fileName, Tristate readOnly, Tristate untitled,
                                          Tristate withWindow) override {
    Enter(c_, "Presentations.Open", {Str(fileName), Num(readOnly), Num(untitled), Num(withWindow)});
    const auto& files = c_.office->files;
    const auto file = std::find_if(files.begin(), files.end(),
                                   [&](const auto& f) { return text::EqualsIgnoreCase(f.first, fileName); });
    if (file == files.end())
      throw AutomationError(failure::kFileNotFound, u"Presentations.Open : PowerPoint could not open the file.");
    return Keep(PresentationState{fileName, false, file->second.Clone(), nullptr});
  }
  std::shared_ptr<ppt::Presentation> Add(Tristate withWindow) override {
    Enter(c_, "Presentations.Add", {Num(withWindow)});
    return Keep(PresentationState{});
  }

 private:
  std::shared_ptr<ppt::Presentation> Keep(PresentationState opened) {
    auto state = std::make_shared<PresentationState>(std::move(opened));
    state->application = c_.application;
    c_.office->presentations.push_back(state);
    Context presentation = c_;
    presentation.presentation = std::move(state);
    return std::make_shared<ScriptedPresentation>(presentation);
  }
};

struct ScriptedPowerPoint final : ppt::Application, View {
  using View::View;
  std::u16string Name() override { Enter(c_, "PowerPoint.Name"); return c_.application->name; }
  std::u16string Version() override { Enter(c_, "PowerPoint.Version"); return c_.application->version; }
  std::shared_ptr<ppt::Presentations> Presentations() override {
    return Child<ScriptedPresentations>(c_, "PowerPoint.Presentations");
  }
  void Quit() override { Enter(c_, "PowerPoint.Quit"); c_.application->running = false; }
};

// --- Word ---

struct ScriptedWordPageSetup final : word::PageSetup, View {
  using View::View;
  void put_PageHeight(float value) override {
    Enter(c_, "PageSetup.put_PageHeight");
    c_.document->pageHeight = value;
  }
  void put_PageWidth(float value) override {
    Enter(c_, "PageSetup.put_PageWidth");
    c_.document->pageWidth = value;
  }
};

struct ScriptedDocument final : word::Document, View {
  using View::View;
  std::shared_ptr<word::PageSetup> PageSetup() override {
    return Child<ScriptedWordPageSetup>(c_, "Document.PageSetup");
  }
  void SaveAs(const std::u16string& fileName, std::int32_t fileFormat) override {
    Enter(c_, "Document.SaveAs", {Str(fileName), Num(fileFormat)});
    c_.document->saves.push_back({fileName, fileFormat});
  }
  void Close(std::int32_t saveChanges) override {
    Enter(c_, "Document.Close", {Num(saveChanges)});
    c_.document->closed = true;
  }
};

struct ScriptedDocuments final : word::Documents, View {
  using View::View;
  std::shared_ptr<word::Document> Add() override {
    Enter(c_, "Documents.Add");
    auto state = std::make_shared<DocumentState>();
    state->application = c_.application;
    c_.office->documents.push_back(state);
    Context document = c_;
    document.document = std::move(state);
    return std::make_shared<ScriptedDocument>(document);
  }
};

// The insertion point of the active document: the one of this Word made last and still open.
struct ScriptedSelection final : word::Selection, View {
  using View::View;
  void Paste() override {
    Enter(c_, "Selection.Paste");
    DocumentState& document = Active();
    const auto& clip = c_.office->clipboard;
    if (!clip.slide)
      throw AutomationError(kWordClipboardEmpty,
                            u"This method or property is not available because the Clipboard is empty or not valid.");
    document.content.push_back("slide " + Num(clip.number));
  }
  void InsertBreak(std::int32_t type) override {
    Enter(c_, "Selection.InsertBreak", {Num(type)});
    Active().content.push_back("break " + Num(type));
  }
  void InsertAfter(const std::u16string& text) override {
    Enter(c_, "Selection.InsertAfter", {Str(text)});
    Active().content.push_back("text " + text::ToUtf8(text));
  }
  void InsertParagraphAfter() override {
    Enter(c_, "Selection.InsertParagraphAfter");
    Active().content.push_back("paragraph");
  }

 private:
  DocumentState& Active() const {
    const auto& documents = c_.office->documents;
    for (auto it = documents.rbegin(); it != documents.rend(); ++it)
      if ((*it)->application == c_.application && !(*it)->closed) return **it;
    throw AutomationError(kWordNoDocument, u"This command is not available because no document is open.");
  }
};

struct ScriptedWord final : word::Application, View {
  using View::View;
  std::u16string Name() override { Enter(c_, "Word.Name"); return c_.application->name; }
  void put_DisplayAlerts(std::int32_t value) override {
    Enter(c_, "Word.put_DisplayAlerts", {Num(value)});
    c_.application->displayAlerts = value;
  }
  void put_Visible(bool value) override {
    Enter(c_, "Word.put_Visible", {Flag(value)});
    c_.application->visible = value;
  }
  std::shared_ptr<word::Documents> Documents() override { return Child<ScriptedDocuments>(c_, "Word.Documents"); }
  std::shared_ptr<word::Selection> Selection() override { return Child<ScriptedSelection>(c_, "Word.Selection"); }
  void Quit(bool saveChanges) override { Enter(c_, "Word.Quit", {Flag(saveChanges)}); c_.application->running = false; }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// The office
// ---------------------------------------------------------------------------------------------

ScriptedOffice::ScriptedOffice() : state_(std::make_shared<OfficeState>()) {}

namespace {

// Logs `member`, then starts an application named `name`, listed in `started`.
template <class App>
std::shared_ptr<App> Start(const std::shared_ptr<OfficeState>& office, std::string_view member, std::u16string name,
                           std::u16string version, std::vector<std::shared_ptr<ApplicationState>>& started) {
  Context c;
  c.office = office;
  Enter(c, member);
  c.application = started.emplace_back(std::make_shared<ApplicationState>());
  c.application->name = std::move(name);
  c.application->version = std::move(version);
  return std::make_shared<App>(c);
}

}  // namespace

std::shared_ptr<ppt::Application> ScriptedOffice::CreatePowerPoint() {
  return Start<ScriptedPowerPoint>(state_, "CreatePowerPoint", u"Microsoft PowerPoint", state_->powerPointVersion,
                                   state_->powerPoints);
}

std::shared_ptr<word::Application> ScriptedOffice::CreateWord() {
  return Start<ScriptedWord>(state_, "CreateWord", u"Microsoft Word", u"", state_->words);
}

void ScriptedOffice::AddFile(const std::u16string& fileName, const Deck& deck) {
  auto& files = state_->files;
  std::erase_if(files, [&](const auto& f) { return text::EqualsIgnoreCase(f.first, fileName); });
  files.emplace_back(fileName, deck.Clone());
}

FailureRule& ScriptedOffice::FailOn(std::string member, std::int32_t nth, std::int32_t number,
                                    std::u16string description) {
  return state_->rules.emplace_back(
      FailureRule{.member = std::move(member), .nth = nth, .number = number, .description = std::move(description)});
}

FailureRule& ScriptedOffice::FailFrom(std::string member, std::int32_t nth, std::int32_t number,
                                      std::u16string description) {
  return FailOn(std::move(member), nth, number, std::move(description)).Times(0);
}

void ScriptedOffice::ClearFailures() { state_->rules.clear(); }

std::vector<std::string> ScriptedOffice::Log(std::string_view prefix) const {
  std::vector<std::string> entries;
  for (const auto& call : state_->log)
    if (call.text.starts_with(prefix)) entries.push_back(call.text);
  return entries;
}

}  // namespace quorvane::testing
