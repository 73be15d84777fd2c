// Dispatch objects over the classes of the object model: one table of members per class, one
// adapter that looks names up in it, checks the kind of call and the argument count, and calls.
#include "office/object_dispatch.hpp"

#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "common/dispatch_support.hpp"
#include "common/text.hpp"

namespace quorvane::office {
namespace {

inline constexpr DispId kDispIdValue = 0;     // the default member
inline constexpr DispId kDispIdNewEnum = -4;  // the enumerator of a collection
inline constexpr HResult kParamNotFound = static_cast<HResult>(0x80020004u);  // DISP_E_PARAMNOTFOUND

// Defaults and values of the object model's enumerations.
inline constexpr std::int32_t kSaveAsDefault = 11;           // PpSaveAsFileType ppSaveAsDefault
inline constexpr std::int32_t kFixedFormatPdf = 2;           // PpFixedFormatType
inline constexpr std::int32_t kOutputSlides = 1;             // PpPrintOutputType
inline constexpr std::int32_t kOutputNotesPages = 5;
inline constexpr std::int32_t kWordDefaultFormat = 16;       // WdSaveFormat wdFormatDocumentDefault
inline constexpr std::int32_t kWordPromptToSave = -2;        // WdSaveOptions
inline constexpr Tristate kMsoTriStateMixed = -2;

// An argument the member cannot take: the HRESULT Invoke answers.
struct RefusedArgument {
  HResult hr;
};

// The arguments of one call, in declaration order, each coerced to the type asked for. A missing
// one (absent, or VT_ERROR DISP_E_PARAMNOTFOUND) takes `missing`; without one it is refused.
class Args {
 public:
  explicit Args(std::span<Variant> args) : args_(args) {}

  std::int32_t Int(std::size_t i, std::optional<std::int32_t> missing = {}) const {
    return static_cast<std::int32_t>(As(i, VT_I4, missing ? std::optional<Variant>(*missing) : std::nullopt).integer());
  }
  float Real(std::size_t i) const { return static_cast<float>(As(i, VT_R4, std::nullopt).real()); }
  bool Flag(std::size_t i, bool missing) const {
    return As(i, VT_BOOL, Variant::Bool(missing ? kVariantTrue : kVariantFalse)).boolean() != 0;
  }
  std::u16string Text(std::size_t i, std::optional<std::u16string> missing = {}) const {
    return As(i, VT_BSTR, missing ? std::optional<Variant>(*missing) : std::nullopt).string();
  }

 private:
  Variant As(std::size_t i, VarType type, const std::optional<Variant>& missing) const {
    const bool absent = i >= args_.size() || (args_[i].vt() == VT_ERROR && args_[i].integer() == kParamNotFound);
    if (absent) {
      if (!missing) throw RefusedArgument{DISP_E_PARAMNOTOPTIONAL};
      return *missing;
    }
    Variant out;
    if (const HResult hr = detail::ChangeType(args_[i], type, out); hr != S_OK_) throw RefusedArgument{hr};
    return out;
  }
  std::span<Variant> args_;
};

// How a member may be invoked (see object_dispatch.hpp).
enum class Style { Get, GetPut, Put, Method, Either };

template <typename T>
struct Member {
  using Object = const std::shared_ptr<T>&;
  std::u16string_view name;
  Style style;
  std::size_t maxArgs;
  Variant (*call)(Object, const Args&);       // get or method
  void (*put)(Object, const Args&) = nullptr;  // put: the value is argument 0
};

// A collection walked item by item; Count is read when it is made.
struct Enumerator {
  std::function<Variant(std::int32_t)> item;
  std::int32_t count = 0;
  std::int32_t next = 1;
};

// Table.Rows or Table.Columns: only their Count is asked.
struct TableLines {
  std::shared_ptr<ppt::Table> table;
  bool columns = false;
};

// The member table of each class offered, declared here since the tables refer to one another.
template <typename T>
std::span<const Member<T>> MembersOf();
template <> std::span<const Member<ppt::Application>> MembersOf<ppt::Application>();
template <> std::span<const Member<ppt::Presentations>> MembersOf<ppt::Presentations>();
template <> std::span<const Member<ppt::Presentation>> MembersOf<ppt::Presentation>();
template <> std::span<const Member<ppt::PageSetup>> MembersOf<ppt::PageSetup>();
template <> std::span<const Member<ppt::Slides>> MembersOf<ppt::Slides>();
template <> std::span<const Member<ppt::Slide>> MembersOf<ppt::Slide>();
template <> std::span<const Member<ppt::NotesPage>> MembersOf<ppt::NotesPage>();
template <> std::span<const Member<ppt::Shapes>> MembersOf<ppt::Shapes>();
template <> std::span<const Member<ppt::Placeholders>> MembersOf<ppt::Placeholders>();
template <> std::span<const Member<ppt::Shape>> MembersOf<ppt::Shape>();
template <> std::span<const Member<ppt::GroupItems>> MembersOf<ppt::GroupItems>();
template <> std::span<const Member<ppt::TextFrame>> MembersOf<ppt::TextFrame>();
template <> std::span<const Member<ppt::TextRange>> MembersOf<ppt::TextRange>();
template <> std::span<const Member<ppt::PlaceholderFormat>> MembersOf<ppt::PlaceholderFormat>();
template <> std::span<const Member<ppt::Table>> MembersOf<ppt::Table>();
template <> std::span<const Member<TableLines>> MembersOf<TableLines>();
template <> std::span<const Member<ppt::Cell>> MembersOf<ppt::Cell>();
template <> std::span<const Member<Enumerator>> MembersOf<Enumerator>();
template <> std::span<const Member<word::Application>> MembersOf<word::Application>();
template <> std::span<const Member<word::Documents>> MembersOf<word::Documents>();
template <> std::span<const Member<word::Document>> MembersOf<word::Document>();
template <> std::span<const Member<word::PageSetup>> MembersOf<word::PageSetup>();
template <> std::span<const Member<word::Selection>> MembersOf<word::Selection>();

DispId IdOf(std::u16string_view name, std::size_t index, Style style) {
  if (name == u"_NewEnum") return kDispIdNewEnum;
  return style == Style::Either && name == u"Item" ? kDispIdValue : static_cast<DispId>(index + 1);
}

bool KindAllowed(Style style, std::uint16_t kind) {
  if (kind == DISPATCH_PROPERTYPUT) return style == Style::GetPut || style == Style::Put;
  if (kind == 0 || (kind & ~(DISPATCH_METHOD | DISPATCH_PROPERTYGET)) != 0) return false;
  switch (style) {
    case Style::Get:
    case Style::GetPut: return (kind & DISPATCH_PROPERTYGET) != 0;
    case Style::Method: return (kind & DISPATCH_METHOD) != 0;
    case Style::Either: return true;
    case Style::Put: return false;
  }
  return false;
}

template <typename T>
class ObjectDispatch final : public Dispatch {
 public:
  explicit ObjectDispatch(std::shared_ptr<T> object) : object_(std::move(object)) {}

  HResult GetIDOfName(std::u16string_view name, DispId& id) override {
    const auto members = MembersOf<T>();
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (text::EqualsIgnoreCase(members[i].name, name)) {
        id = IdOf(members[i].name, i, members[i].style);
        return S_OK_;
      }
    }
    return DISP_E_UNKNOWNNAME;
  }

  HResult Invoke(DispId id, std::uint16_t kind, std::span<Variant> args, Variant* result, ExcepInfo* excep) override {
    const Member<T>* member = nullptr;
    const auto members = MembersOf<T>();
    for (std::size_t i = 0; i < members.size(); ++i)
      if (IdOf(members[i].name, i, members[i].style) == id) member = &members[i];
    if (!member || !KindAllowed(member->style, kind)) return DISP_E_MEMBERNOTFOUND;
    const bool put = kind == DISPATCH_PROPERTYPUT;
    if (put ? args.size() != 1 : args.size() > member->maxArgs) return DISP_E_BADPARAMCOUNT;
    try {
      Variant value;
      if (put)
        member->put(object_, Args(args));
      else
        value = member->call(object_, Args(args));
      if (result) *result = std::move(value);
      return S_OK_;
    } catch (const RefusedArgument& refused) {
      return refused.hr;
    } catch (...) {
      return detail::CurrentExceptionToExcepInfo(excep);
    }
  }

 private:
  std::shared_ptr<T> object_;
};

template <typename T>
Variant Wrap(std::shared_ptr<T> object) {
  if (!object) return Variant(Variant::DispatchPtr());
  return Variant(Variant::DispatchPtr(std::make_shared<ObjectDispatch<T>>(std::move(object))));
}

// _NewEnum of a collection with Count and Item.
template <typename C>
Variant Enumerate(const std::shared_ptr<C>& items) {
  auto e = std::make_shared<Enumerator>();
  e->count = items->Count();
  e->item = [items](std::int32_t i) { return Wrap(items->Item(i)); };
  return Wrap(std::move(e));
}

// The members every collection shares: Count, Item (the default member) and _NewEnum.
template <typename C>
constexpr Member<C> kCount = {u"Count", Style::Get, 0, [](const std::shared_ptr<C>& o, const Args&) {
                                return Variant(o->Count());
                              }};
template <typename C>
constexpr Member<C> kItem = {u"Item", Style::Either, 1, [](const std::shared_ptr<C>& o, const Args& a) {
                               return Wrap(o->Item(a.Int(0)));
                             }};
template <typename C>
constexpr Member<C> kNewEnum = {u"_NewEnum", Style::Either, 0, [](const std::shared_ptr<C>& o, const Args&) {
                                  return Enumerate(o);
                                }};

// --- PowerPoint -------------------------------------------------------------------------------

template <>
std::span<const Member<ppt::Application>> MembersOf<ppt::Application>() {
  using O = Member<ppt::Application>::Object;
  static constexpr Member<ppt::Application> kMembers[] = {
      {u"Name", Style::Get, 0, [](O o, const Args&) { return Variant(o->Name()); }},
      {u"Version", Style::Get, 0, [](O o, const Args&) { return Variant(o->Version()); }},
      {u"Presentations", Style::Get, 0, [](O o, const Args&) { return Wrap(o->Presentations()); }},
      {u"Quit", Style::Method, 0, [](O o, const Args&) { o->Quit(); return Variant(); }},
  };
  return kMembers;
}

template <>
std::span<const Member<ppt::Presentations>> MembersOf<ppt::Presentations>() {
  using O = Member<ppt::Presentations>::Object;
  static constexpr Member<ppt::Presentations> kMembers[] = {
      {u"Open", Style::Method, 4,
       [](O o, const Args& a) {
         return Wrap(o->Open(a.Text(0), a.Int(1, kMsoFalse), a.Int(2, kMsoFalse), a.Int(3, kMsoTrue)));
       }},
      {u"Add", Style::Method, 1, [](O o, const Args& a) { return Wrap(o->Add(a.Int(0, kMsoTrue))); }},
  };
  return kMembers;
}

// ExportAsFixedFormat's arguments, by position.
enum FixedFormatArgument : std::size_t { kPath, kType, kOutputType = 5, kHiddenSlides = 6, kIso19005 = 14, kArgCount = 16 };

template <>
std::span<const Member<ppt::Presentation>> MembersOf<ppt::Presentation>() {
  using O = Member<ppt::Presentation>::Object;
  static constexpr Member<ppt::Presentation> kMembers[] = {
      {u"Slides", Style::Get, 0, [](O o, const Args&) { return Wrap(o->Slides()); }},
      {u"PageSetup", Style::Get, 0, [](O o, const Args&) { return Wrap(o->PageSetup()); }},
      {u"SaveAs", Style::Method, 3,
       [](O o, const Args& a) {
         o->SaveAs(a.Text(0), a.Int(1, kSaveAsDefault), a.Int(2, kMsoTriStateMixed));
         return Variant();
       }},
      {u"ExportAsFixedFormat", Style::Method, kArgCount,
       [](O o, const Args& a) {
         const std::u16string path = a.Text(kPath);
         const std::int32_t type = a.Int(kType), output = a.Int(kOutputType, kOutputSlides);
         if (type != kFixedFormatPdf || (output != kOutputSlides && output != kOutputNotesPages))
           throw AutomationError(failure::kEInvalidArg, u"Presentation.ExportAsFixedFormat : FixedFormatType " +
                                                            text::Decimal(type) + u" with OutputType " +
                                                            text::Decimal(output) + u" is not written here.");
         o->ExportAsFixedFormat(path, {.printHiddenSlides = a.Int(kHiddenSlides, kMsoFalse) != 0,
                                       .notesPages = output == kOutputNotesPages,
                                       .pdfa = a.Flag(kIso19005, false)});
         return Variant();
       }},
      {u"Close", Style::Method, 0, [](O o, const Args&) { o->Close(); return Variant(); }},
  };
  return kMembers;
}

template <>
std::span<const Member<ppt::PageSetup>> MembersOf<ppt::PageSetup>() {
  using O = Member<ppt::PageSetup>::Object;
  static constexpr Member<ppt::PageSetup> kMembers[] = {
      {u"SlideWidth", Style::GetPut, 0, [](O o, const Args&) { return Variant(o->SlideWidth()); },
       [](O o, const Args& a) { o->put_SlideWidth(a.Real(0)); }},
      {u"SlideHeight", Style::GetPut, 0, [](O o, const Args&) { return Variant(o->SlideHeight()); },
       [](O o, const Args& a) { o->put_SlideHeight(a.Real(0)); }},
  };
  return kMembers;
}

template <>
std::span<const Member<ppt::Slides>> MembersOf<ppt::Slides>() {
  using O = Member<ppt::Slides>::Object;
  static constexpr Member<ppt::Slides> kMembers[] = {
      kItem<ppt::Slides>, kCount<ppt::Slides>, kNewEnum<ppt::Slides>,
      {u"Paste", Style::Method, 1, [](O o, const Args& a) { o->Paste(a.Int(0, -1)); return Variant(); }},
  };
  return kMembers;
}

template <>
std::span<const Member<ppt::Slide>> MembersOf<ppt::Slide>() {
  using O = Member<ppt::Slide>::Object;
  static constexpr Member<ppt::Slide> kMembers[] = {
      {u"Copy", Style::Method, 0, [](O o, const Args&) { o->Copy(); return Variant(); }},
      {u"Shapes", Style::Get, 0, [](O o, const Args&) { return Wrap(o->Shapes()); }},
      {u"NotesPage", Style::Get, 0, [](O o, const Args&) { return Wrap(o->NotesPage()); }},
      {u"Export", Style::Method, 4,
       [](O o, const Args& a) {
         o->Export(a.Text(0), a.Text(1), a.Int(2, 0), a.Int(3, 0));
         return Variant();
       }},
  };
  return kMembers;
}

template <>
std::span<const Member<ppt::NotesPage>> MembersOf<ppt::NotesPage>() {
  static constexpr Member<ppt::NotesPage> kMembers[] = {
      {u"Shapes", Style::Get, 0, [](Member<ppt::NotesPage>::Object o, const Args&) { return Wrap(o->Shapes()); }},
  };
  return kMembers;
}

template <>
std::span<const Member<ppt::Shapes>> MembersOf<ppt::Shapes>() {
  static constexpr Member<ppt::Shapes> kMembers[] = {
      kItem<ppt::Shapes>, kCount<ppt::Shapes>, kNewEnum<ppt::Shapes>,
      {u"Placeholders", Style::Get, 0,
       [](Member<ppt::Shapes>::Object o, const Args&) { return Wrap(o->Placeholders()); }},
  };
  return kMembers;
}

template <>
std::span<const Member<ppt::Placeholders>> MembersOf<ppt::Placeholders>() {
  static constexpr Member<ppt::Placeholders> kMembers[] = {
      kItem<ppt::Placeholders>, kCount<ppt::Placeholders>, kNewEnum<ppt::Placeholders>};
  return kMembers;
}

template <>
std::span<const Member<ppt::Shape>> MembersOf<ppt::Shape>() {
  using O = Member<ppt::Shape>::Object;
  static constexpr Member<ppt::Shape> kMembers[] = {
      {u"Type", Style::Get, 0, [](O o, const Args&) { return Variant(o->Type()); }},
      {u"GroupItems", Style::Get, 0, [](O o, const Args&) { return Wrap(o->GroupItems()); }},
      {u"HasTextFrame", Style::Get, 0, [](O o, const Args&) { return Variant(o->HasTextFrame()); }},
      {u"TextFrame", Style::Get, 0, [](O o, const Args&) { return Wrap(o->TextFrame()); }},
      {u"PlaceholderFormat", Style::Get, 0, [](O o, const Args&) { return Wrap(o->PlaceholderFormat()); }},
      {u"Table", Style::Get, 0, [](O o, const Args&) { return Wrap(o->Table()); }},
      {u"Ungroup", Style::Method, 0, [](O o, const Args&) { o->Ungroup(); return Variant(); }},
  };
  return kMembers;
}

template <>
std::span<const Member<ppt::GroupItems>> MembersOf<ppt::GroupItems>() {
  static constexpr Member<ppt::GroupItems> kMembers[] = {
      kItem<ppt::GroupItems>, kCount<ppt::GroupItems>, kNewEnum<ppt::GroupItems>};
  return kMembers;
}

template <>
std::span<const Member<ppt::TextFrame>> MembersOf<ppt::TextFrame>() {
  using O = Member<ppt::TextFrame>::Object;
  static constexpr Member<ppt::TextFrame> kMembers[] = {
      {u"HasText", Style::Get, 0, [](O o, const Args&) { return Variant(o->HasText()); }},
      {u"TextRange", Style::Get, 0, [](O o, const Args&) { return Wrap(o->TextRange()); }},
  };
  return kMembers;
}

template <>
std::span<const Member<ppt::TextRange>> MembersOf<ppt::TextRange>() {
  using O = Member<ppt::TextRange>::Object;
  static constexpr Member<ppt::TextRange> kMembers[] = {
      {u"Text", Style::Get, 0, [](O o, const Args&) { return Variant(o->Text()); }},
      {u"InsertBefore", Style::Method, 1,
       [](O o, const Args& a) { o->InsertBefore(a.Text(0, u"")); return Variant(); }},
  };
  return kMembers;
}

template <>
std::span<const Member<ppt::PlaceholderFormat>> MembersOf<ppt::PlaceholderFormat>() {
  static constexpr Member<ppt::PlaceholderFormat> kMembers[] = {
      {u"Type", Style::Get, 0,
       [](Member<ppt::PlaceholderFormat>::Object o, const Args&) { return Variant(o->Type()); }},
  };
  return kMembers;
}

template <>
std::span<const Member<ppt::Table>> MembersOf<ppt::Table>() {
  using O = Member<ppt::Table>::Object;
  static constexpr Member<ppt::Table> kMembers[] = {
      {u"Rows", Style::Get, 0,
       [](O o, const Args&) { return Wrap(std::make_shared<TableLines>(TableLines{o, false})); }},
      {u"Columns", Style::Get, 0,
       [](O o, const Args&) { return Wrap(std::make_shared<TableLines>(TableLines{o, true})); }},
      {u"Cell", Style::Method, 2, [](O o, const Args& a) { return Wrap(o->Cell(a.Int(0), a.Int(1))); }},
  };
  return kMembers;
}

template <>
std::span<const Member<TableLines>> MembersOf<TableLines>() {
  static constexpr Member<TableLines> kMembers[] = {
      {u"Count", Style::Get, 0, [](Member<TableLines>::Object o, const Args&) {
         return Variant(o->columns ? o->table->ColumnsCount() : o->table->RowsCount());
       }}};
  return kMembers;
}

template <>
std::span<const Member<ppt::Cell>> MembersOf<ppt::Cell>() {
  static constexpr Member<ppt::Cell> kMembers[] = {
      {u"Shape", Style::Get, 0, [](Member<ppt::Cell>::Object o, const Args&) { return Wrap(o->Shape()); }},
  };
  return kMembers;
}

template <>
std::span<const Member<Enumerator>> MembersOf<Enumerator>() {
  using O = Member<Enumerator>::Object;
  static constexpr Member<Enumerator> kMembers[] = {
      {u"Next", Style::Method, 0,
       [](O o, const Args&) {
         if (o->next > o->count) return Variant();
         Variant item = o->item(o->next);
         ++o->next;  // only after the item was fetched: a failed fetch can be asked again
         return item;
       }},
      {u"Reset", Style::Method, 0, [](O o, const Args&) { o->next = 1; return Variant(); }},
  };
  return kMembers;
}

// --- Word -------------------------------------------------------------------------------------

template <>
std::span<const Member<word::Application>> MembersOf<word::Application>() {
  using O = Member<word::Application>::Object;
  static constexpr Member<word::Application> kMembers[] = {
      {u"Name", Style::Get, 0, [](O o, const Args&) { return Variant(o->Name()); }},
      {u"DisplayAlerts", Style::Put, 0, nullptr, [](O o, const Args& a) { o->put_DisplayAlerts(a.Int(0)); }},
      {u"Visible", Style::Put, 0, nullptr, [](O o, const Args& a) { o->put_Visible(a.Flag(0, false)); }},
      {u"Documents", Style::Get, 0, [](O o, const Args&) { return Wrap(o->Documents()); }},
      {u"Selection", Style::Get, 0, [](O o, const Args&) { return Wrap(o->Selection()); }},
      {u"Quit", Style::Method, 3, [](O o, const Args& a) { o->Quit(a.Int(0, 0) != 0); return Variant(); }},
  };
  return kMembers;
}

template <>
std::span<const Member<word::Documents>> MembersOf<word::Documents>() {
  static constexpr Member<word::Documents> kMembers[] = {
      {u"Add", Style::Method, 4, [](Member<word::Documents>::Object o, const Args&) { return Wrap(o->Add()); }},
  };
  return kMembers;
}

template <>
std::span<const Member<word::Document>> MembersOf<word::Document>() {
  using O = Member<word::Document>::Object;
  static constexpr Member<word::Document> kMembers[] = {
      {u"PageSetup", Style::Get, 0, [](O o, const Args&) { return Wrap(o->PageSetup()); }},
      {u"SaveAs", Style::Method, 16,
       [](O o, const Args& a) { o->SaveAs(a.Text(0), a.Int(1, kWordDefaultFormat)); return Variant(); }},
      {u"Close", Style::Method, 3, [](O o, const Args& a) { o->Close(a.Int(0, kWordPromptToSave)); return Variant(); }},
  };
  return kMembers;
}

template <>
std::span<const Member<word::PageSetup>> MembersOf<word::PageSetup>() {
  using O = Member<word::PageSetup>::Object;
  static constexpr Member<word::PageSetup> kMembers[] = {
      {u"PageWidth", Style::Put, 0, nullptr, [](O o, const Args& a) { o->put_PageWidth(a.Real(0)); }},
      {u"PageHeight", Style::Put, 0, nullptr, [](O o, const Args& a) { o->put_PageHeight(a.Real(0)); }},
  };
  return kMembers;
}

template <>
std::span<const Member<word::Selection>> MembersOf<word::Selection>() {
  using O = Member<word::Selection>::Object;
  static constexpr Member<word::Selection> kMembers[] = {
      {u"Paste", Style::Method, 0, [](O o, const Args&) { o->Paste(); return Variant(); }},
      {u"InsertBreak", Style::Method, 1,
       [](O o, const Args& a) { o->InsertBreak(a.Int(0, word::kPageBreak)); return Variant(); }},
      {u"InsertAfter", Style::Method, 1, [](O o, const Args& a) { o->InsertAfter(a.Text(0)); return Variant(); }},
      {u"InsertParagraphAfter", Style::Method, 0, [](O o, const Args&) { o->InsertParagraphAfter(); return Variant(); }},
  };
  return kMembers;
}

template <typename T>
std::shared_ptr<Dispatch> DispatchOf(std::shared_ptr<T> object) {
  if (!object) return nullptr;
  return std::make_shared<ObjectDispatch<T>>(std::move(object));
}

}  // namespace

std::shared_ptr<Dispatch> DispatchPowerPoint(std::shared_ptr<ppt::Application> application) {
  return DispatchOf(std::move(application));
}

std::shared_ptr<Dispatch> DispatchWord(std::shared_ptr<word::Application> application) {
  return DispatchOf(std::move(application));
}

std::shared_ptr<Dispatch> MakeShapeDispatch(std::shared_ptr<ppt::Shape> shape) { return DispatchOf(std::move(shape)); }

}  // namespace quorvane::office
