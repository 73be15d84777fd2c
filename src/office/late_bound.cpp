// The classes of the object model, each over one late-bound object: every member one call by name.
#include "office/late_bound.hpp"

#include <utility>
#include <vector>

#include "common/dispatch_support.hpp"
#include "common/failures.hpp"

namespace quorvane::office {
namespace {

// Values of the object model's enumerations that the calls pass.
inline constexpr std::int32_t kFixedFormatPdf = 2;        // PpFixedFormatType
inline constexpr std::int32_t kIntentPrint = 2;           // PpFixedFormatIntent
inline constexpr std::int32_t kHandoutVerticalFirst = 1;  // PpPrintHandoutOrder
inline constexpr std::int32_t kOutputSlides = 1;          // PpPrintOutputType
inline constexpr std::int32_t kOutputNotesPages = 5;
inline constexpr std::int32_t kPrintAll = 1;              // PpPrintRangeType

Variant Boolean(bool value) { return Variant::Bool(value ? kVariantTrue : kVariantFalse); }

// One late-bound object and the class name its failures are described with ("Presentations").
// A null object fails every call with 91.
class Remote {
 public:
  Remote(Variant::DispatchPtr object, std::u16string_view className)
      : object_(std::move(object)), class_(className) {}

  Variant Call(std::u16string_view member, std::uint16_t kind, std::vector<Variant> args = {}) {
    if (!object_) Fail(member, failure::kObjectNotSet, {});
    Variant result;
    ExcepInfo excep;
    const HResult hr = object_->Invoke(IdOf(member), kind, args, &result, &excep);
    if (hr == DISP_E_EXCEPTION) Fail(member, excep.number != 0 ? excep.number : hr, excep.description);
    if (hr < 0) Fail(member, hr, {});
    return result;
  }
  Variant Get(std::u16string_view member) { return Call(member, DISPATCH_PROPERTYGET); }
  void Put(std::u16string_view member, Variant value) { Call(member, DISPATCH_PROPERTYPUT, {std::move(value)}); }
  void Do(std::u16string_view member, std::vector<Variant> args = {}) { Call(member, DISPATCH_METHOD, std::move(args)); }

  // A property's value as the type the model answers.
  std::int32_t Int(std::u16string_view member) { return static_cast<std::int32_t>(As(member, VT_I4).integer()); }
  float Real(std::u16string_view member) { return static_cast<float>(As(member, VT_R4).real()); }
  std::u16string Text(std::u16string_view member) { return As(member, VT_BSTR).string(); }

  // The object `answer` holds, as class `W` of this file; `member` answered it.
  template <typename W>
  std::shared_ptr<W> Object(std::u16string_view member, const Variant& answer) {
    return std::make_shared<W>(Child(member, W::kClass, answer));
  }
  Remote Child(std::u16string_view member, std::u16string_view className) {
    return Child(member, className, Get(member));
  }
  Remote Child(std::u16string_view member, std::u16string_view className, const Variant& answer) {
    if (answer.vt() != VT_DISPATCH) Fail(member, failure::kTypeMismatch, {});
    return Remote(answer.dispatch(), className);
  }
  template <typename W>
  std::shared_ptr<W> Object(std::u16string_view member) {
    return Object<W>(member, Get(member));
  }

 private:
  DispId IdOf(std::u16string_view member) {
    for (const auto& [name, id] : ids_)
      if (name == member) return id;
    DispId id = 0;
    if (const HResult hr = object_->GetIDOfName(member, id); hr < 0) Fail(member, hr, {});
    ids_.emplace_back(member, id);
    return id;
  }

  Variant As(std::u16string_view member, VarType type) {
    Variant out;
    if (const HResult hr = detail::ChangeType(Get(member), type, out); hr != S_OK_)
      Fail(member, hr == DISP_E_OVERFLOW ? failure::kOverflow : failure::kTypeMismatch, {});
    return out;
  }

  // Throws the failure of `member`, described as "Class.Member : description" (the number's own
  // description when the object gave none; once only when it already starts that way).
  [[noreturn]] void Fail(std::u16string_view member, std::int32_t number, std::u16string description) const {
    const std::u16string prefix = std::u16string(class_) + u"." + std::u16string(member) + u" : ";
    if (description.empty())
      description = number < 0 ? detail::DescribeHResult(number) : std::u16string(failure::Description(number));
    throw AutomationError(number, description.starts_with(prefix) ? description : prefix + description);
  }

  Variant::DispatchPtr object_;
  std::u16string_view class_;
  std::vector<std::pair<std::u16string_view, DispId>> ids_;  // the names asked so far
};

inline constexpr std::uint16_t kGetOrCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;

// --- PowerPoint -------------------------------------------------------------------------------

namespace lb_ppt {

class TextRange final : public ppt::TextRange {
 public:
  static constexpr std::u16string_view kClass = u"TextRange";
  explicit TextRange(Remote r) : r_(std::move(r)) {}
  std::u16string Text() override { return r_.Text(u"Text"); }
  void InsertBefore(const std::u16string& text) override { r_.Do(u"InsertBefore", {Variant(text)}); }

 private:
  Remote r_;
};

class TextFrame final : public ppt::TextFrame {
 public:
  static constexpr std::u16string_view kClass = u"TextFrame";
  explicit TextFrame(Remote r) : r_(std::move(r)) {}
  Tristate HasText() override { return r_.Int(u"HasText"); }
  std::shared_ptr<ppt::TextRange> TextRange() override { return r_.Object<lb_ppt::TextRange>(u"TextRange"); }

 private:
  Remote r_;
};

class PlaceholderFormat final : public ppt::PlaceholderFormat {
 public:
  static constexpr std::u16string_view kClass = u"PlaceholderFormat";
  explicit PlaceholderFormat(Remote r) : r_(std::move(r)) {}
  std::int32_t Type() override { return r_.Int(u"Type"); }

 private:
  Remote r_;
};

// Shapes, Placeholders and GroupItems: Count and Item.
template <typename Base>
inline constexpr std::u16string_view kShapeListClass = u"Shapes";
template <>
inline constexpr std::u16string_view kShapeListClass<ppt::Placeholders> = u"Placeholders";
template <>
inline constexpr std::u16string_view kShapeListClass<ppt::GroupItems> = u"GroupItems";

template <typename Base>
class ShapeList : public Base {
 public:
  static constexpr std::u16string_view kClass = kShapeListClass<Base>;
  explicit ShapeList(Remote r) : r_(std::move(r)) {}
  std::int32_t Count() override { return r_.Int(u"Count"); }
  std::shared_ptr<ppt::Shape> Item(std::int32_t index) override;

 protected:
  Remote r_;
};
using Placeholders = ShapeList<ppt::Placeholders>;
using GroupItems = ShapeList<ppt::GroupItems>;

class Shapes final : public ShapeList<ppt::Shapes> {
 public:
  using ShapeList::ShapeList;
  std::shared_ptr<ppt::Placeholders> Placeholders() override { return r_.Object<lb_ppt::Placeholders>(u"Placeholders"); }
};

class Cell final : public ppt::Cell {
 public:
  static constexpr std::u16string_view kClass = u"Cell";
  explicit Cell(Remote r) : r_(std::move(r)) {}
  std::shared_ptr<ppt::Shape> Shape() override;

 private:
  Remote r_;
};

class Table final : public ppt::Table {
 public:
  static constexpr std::u16string_view kClass = u"Table";
  explicit Table(Remote r) : r_(std::move(r)) {}
  std::int32_t RowsCount() override { return Lines(u"Rows"); }
  std::int32_t ColumnsCount() override { return Lines(u"Columns"); }
  std::shared_ptr<ppt::Cell> Cell(std::int32_t row, std::int32_t column) override {
    return r_.Object<lb_ppt::Cell>(u"Cell", r_.Call(u"Cell", kGetOrCall, {Variant(row), Variant(column)}));
  }

 private:
  // Table.Rows.Count, Table.Columns.Count.
  std::int32_t Lines(std::u16string_view member) { return r_.Child(member, member).Int(u"Count"); }

  Remote r_;
};

class Shape final : public ppt::Shape {
 public:
  static constexpr std::u16string_view kClass = u"Shape";
  explicit Shape(Remote r) : r_(std::move(r)) {}
  Tristate HasTextFrame() override { return r_.Int(u"HasTextFrame"); }
  std::shared_ptr<ppt::TextFrame> TextFrame() override { return r_.Object<lb_ppt::TextFrame>(u"TextFrame"); }
  std::int32_t Type() override { return r_.Int(u"Type"); }
  std::shared_ptr<ppt::PlaceholderFormat> PlaceholderFormat() override {
    return r_.Object<lb_ppt::PlaceholderFormat>(u"PlaceholderFormat");
  }
  std::shared_ptr<ppt::Table> Table() override { return r_.Object<lb_ppt::Table>(u"Table"); }
  void Ungroup() override { r_.Do(u"Ungroup"); }
  std::shared_ptr<ppt::GroupItems> GroupItems() override { return r_.Object<lb_ppt::GroupItems>(u"GroupItems"); }

 private:
  Remote r_;
};

template <typename Base>
std::shared_ptr<ppt::Shape> ShapeList<Base>::Item(std::int32_t index) {
  return r_.template Object<Shape>(u"Item", r_.Call(u"Item", kGetOrCall, {Variant(index)}));
}
std::shared_ptr<ppt::Shape> Cell::Shape() { return r_.Object<lb_ppt::Shape>(u"Shape"); }

class NotesPage final : public ppt::NotesPage {
 public:
  static constexpr std::u16string_view kClass = u"NotesPage";
  explicit NotesPage(Remote r) : r_(std::move(r)) {}
  std::shared_ptr<ppt::Shapes> Shapes() override { return r_.Object<lb_ppt::Shapes>(u"Shapes"); }

 private:
  Remote r_;
};

class Slide final : public ppt::Slide {
 public:
  static constexpr std::u16string_view kClass = u"Slide";
  explicit Slide(Remote r) : r_(std::move(r)) {}
  void Copy() override { r_.Do(u"Copy"); }
  std::shared_ptr<ppt::Shapes> Shapes() override { return r_.Object<lb_ppt::Shapes>(u"Shapes"); }
  std::shared_ptr<ppt::NotesPage> NotesPage() override { return r_.Object<lb_ppt::NotesPage>(u"NotesPage"); }
  void Export(const std::u16string& fileName, const std::u16string& filterName, std::int32_t scaleWidth,
              std::int32_t scaleHeight) override {
    r_.Do(u"Export", {Variant(fileName), Variant(filterName), Variant(scaleWidth), Variant(scaleHeight)});
  }

 private:
  Remote r_;
};

class Slides final : public ppt::Slides {
 public:
  static constexpr std::u16string_view kClass = u"Slides";
  explicit Slides(Remote r) : r_(std::move(r)) {}
  std::int32_t Count() override { return r_.Int(u"Count"); }
  std::shared_ptr<ppt::Slide> Item(std::int32_t index) override {
    return r_.Object<Slide>(u"Item", r_.Call(u"Item", kGetOrCall, {Variant(index)}));
  }
  void Paste(std::int32_t index) override { r_.Do(u"Paste", {Variant(index)}); }

 private:
  Remote r_;
};

class PageSetup final : public ppt::PageSetup {
 public:
  static constexpr std::u16string_view kClass = u"PageSetup";
  explicit PageSetup(Remote r) : r_(std::move(r)) {}
  float SlideHeight() override { return r_.Real(u"SlideHeight"); }
  float SlideWidth() override { return r_.Real(u"SlideWidth"); }
  void put_SlideHeight(float value) override { r_.Put(u"SlideHeight", Variant(value)); }
  void put_SlideWidth(float value) override { r_.Put(u"SlideWidth", Variant(value)); }

 private:
  Remote r_;
};

class Presentation final : public ppt::Presentation {
 public:
  static constexpr std::u16string_view kClass = u"Presentation";
  explicit Presentation(Remote r) : r_(std::move(r)) {}
  std::shared_ptr<ppt::Slides> Slides() override { return r_.Object<lb_ppt::Slides>(u"Slides"); }
  std::shared_ptr<ppt::PageSetup> PageSetup() override { return r_.Object<lb_ppt::PageSetup>(u"PageSetup"); }
  void SaveAs(const std::u16string& fileName, std::int32_t fileFormat, Tristate embedTrueTypeFonts) override {
    r_.Do(u"SaveAs", {Variant(fileName), Variant(fileFormat), Variant(embedTrueTypeFonts)});
  }
  // Path, FixedFormatType, Intent, FrameSlides, HandoutOrder, OutputType, PrintHiddenSlides,
  // PrintRange (none: every slide), RangeType, SlideShowName, IncludeDocProperties,
  // KeepIRMSettings, DocStructureTags, BitmapMissingFonts, UseISO19005_1.
  void ExportAsFixedFormat(const std::u16string& fileName, const ppt::FixedFormatOptions& options) override {
    r_.Do(u"ExportAsFixedFormat",
          {Variant(fileName), Variant(kFixedFormatPdf), Variant(kIntentPrint), Variant(kMsoFalse),
           Variant(kHandoutVerticalFirst), Variant(options.notesPages ? kOutputNotesPages : kOutputSlides),
           Variant(options.printHiddenSlides ? kMsoTrue : kMsoFalse), Variant(Variant::DispatchPtr()),
           Variant(kPrintAll), Variant(u""), Boolean(false), Boolean(true), Boolean(true), Boolean(true),
           Boolean(options.pdfa)});
  }
  void Close() override { r_.Do(u"Close"); }

 private:
  Remote r_;
};

class Presentations final : public ppt::Presentations {
 public:
  static constexpr std::u16string_view kClass = u"Presentations";
  explicit Presentations(Remote r) : r_(std::move(r)) {}
  std::shared_ptr<ppt::Presentation> Open(const std::u16string& fileName, Tristate readOnly, Tristate untitled,
                                          Tristate withWindow) override {
    return r_.Object<Presentation>(
        u"Open", r_.Call(u"Open", DISPATCH_METHOD,
                         {Variant(fileName), Variant(readOnly), Variant(untitled), Variant(withWindow)}));
  }
  std::shared_ptr<ppt::Presentation> Add(Tristate withWindow) override {
    return r_.Object<Presentation>(u"Add", r_.Call(u"Add", DISPATCH_METHOD, {Variant(withWindow)}));
  }

 private:
  Remote r_;
};

class Application final : public ppt::Application {
 public:
  static constexpr std::u16string_view kClass = u"Application";
  explicit Application(Remote r) : r_(std::move(r)) {}
  std::u16string Name() override { return r_.Text(u"Name"); }
  std::u16string Version() override { return r_.Text(u"Version"); }
  std::shared_ptr<ppt::Presentations> Presentations() override {
    return r_.Object<lb_ppt::Presentations>(u"Presentations");
  }
  void Quit() override { r_.Do(u"Quit"); }

 private:
  Remote r_;
};

}  // namespace lb_ppt

// --- Word -------------------------------------------------------------------------------------

namespace lb_word {

class PageSetup final : public word::PageSetup {
 public:
  static constexpr std::u16string_view kClass = u"PageSetup";
  explicit PageSetup(Remote r) : r_(std::move(r)) {}
  void put_PageHeight(float value) override { r_.Put(u"PageHeight", Variant(value)); }
  void put_PageWidth(float value) override { r_.Put(u"PageWidth", Variant(value)); }

 private:
  Remote r_;
};

class Document final : public word::Document {
 public:
  static constexpr std::u16string_view kClass = u"Document";
  explicit Document(Remote r) : r_(std::move(r)) {}
  std::shared_ptr<word::PageSetup> PageSetup() override { return r_.Object<lb_word::PageSetup>(u"PageSetup"); }
  void SaveAs(const std::u16string& fileName, std::int32_t fileFormat) override {
    r_.Do(u"SaveAs", {Variant(fileName), Variant(fileFormat)});
  }
  void Close(std::int32_t saveChanges) override { r_.Do(u"Close", {Variant(saveChanges)}); }

 private:
  Remote r_;
};

class Documents final : public word::Documents {
 public:
  static constexpr std::u16string_view kClass = u"Documents";
  explicit Documents(Remote r) : r_(std::move(r)) {}
  std::shared_ptr<word::Document> Add() override {
    return r_.Object<Document>(u"Add", r_.Call(u"Add", DISPATCH_METHOD));
  }

 private:
  Remote r_;
};

class Selection final : public word::Selection {
 public:
  static constexpr std::u16string_view kClass = u"Selection";
  explicit Selection(Remote r) : r_(std::move(r)) {}
  void Paste() override { r_.Do(u"Paste"); }
  void InsertBreak(std::int32_t type) override { r_.Do(u"InsertBreak", {Variant(type)}); }
  void InsertAfter(const std::u16string& text) override { r_.Do(u"InsertAfter", {Variant(text)}); }
  void InsertParagraphAfter() override { r_.Do(u"InsertParagraphAfter"); }

 private:
  Remote r_;
};

class Application final : public word::Application {
 public:
  static constexpr std::u16string_view kClass = u"Application";
  explicit Application(Remote r) : r_(std::move(r)) {}
  std::u16string Name() override { return r_.Text(u"Name"); }
  void put_DisplayAlerts(std::int32_t value) override { r_.Put(u"DisplayAlerts", Variant(value)); }
  void put_Visible(bool value) override { r_.Put(u"Visible", Boolean(value)); }
  std::shared_ptr<word::Documents> Documents() override { return r_.Object<lb_word::Documents>(u"Documents"); }
  std::shared_ptr<word::Selection> Selection() override { return r_.Object<lb_word::Selection>(u"Selection"); }
  void Quit(bool saveChanges) override { r_.Do(u"Quit", {Boolean(saveChanges)}); }

 private:
  Remote r_;
};

}  // namespace lb_word

class LateBoundProvider final : public ApplicationProvider {
 public:
  explicit LateBoundProvider(Creator create) : create_(std::move(create)) {}

  std::shared_ptr<ppt::Application> CreatePowerPoint() override {
    return std::make_shared<lb_ppt::Application>(Create(u"PowerPoint.Application"));
  }
  std::shared_ptr<word::Application> CreateWord() override {
    return std::make_shared<lb_word::Application>(Create(u"Word.Application"));
  }

 private:
  // Any failure to create the application, or no application at all, is 429.
  Remote Create(std::u16string_view progId) {
    const std::u16string what = u"CreateObject(\"" + std::u16string(progId) + u"\") : ";
    Variant::DispatchPtr application;
    try {
      application = create_(progId);
    } catch (...) {
      ExcepInfo excep;
      detail::CurrentExceptionToExcepInfo(&excep);
      throw AutomationError(failure::kCannotCreateObject, what + excep.description);
    }
    if (!application)
      throw AutomationError(failure::kCannotCreateObject,
                            what + std::u16string(failure::Description(failure::kCannotCreateObject)));
    return Remote(std::move(application), u"Application");
  }

  Creator create_;
};

}  // namespace

std::shared_ptr<ApplicationProvider> LateBoundApplications(Creator create) {
  return std::make_shared<LateBoundProvider>(std::move(create));
}

}  // namespace quorvane::office
