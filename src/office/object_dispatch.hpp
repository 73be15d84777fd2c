#pragma once
// The object model offered as late-bound objects: a PowerPoint or Word application of any engine
// answering by member name, the way the office's own automation servers answer. A local server
// hands these to its clients; the group text of TextFromGroupShape walks a shape through them.
//
// Every object answers the members the component calls on it (office/object_model.hpp), under the
// object model's names, looked up without regard to letter case:
//   PowerPoint  Application: Name, Version, Presentations, Quit
//               Presentations: Open(FileName, ReadOnly, Untitled, WithWindow), Add(WithWindow)
//               Presentation: Slides, PageSetup, SaveAs(FileName, FileFormat, EmbedTrueTypeFonts),
//                 ExportAsFixedFormat(Path, FixedFormatType, Intent, FrameSlides, HandoutOrder,
//                 OutputType, PrintHiddenSlides, PrintRange, RangeType, SlideShowName,
//                 IncludeDocProperties, KeepIRMSettings, DocStructureTags, BitmapMissingFonts,
//                 UseISO19005_1, ExternalExporter): PDF (type 2) only, OutputType 1 slides or 5
//                 notes pages; the arguments this model has no use for are accepted and ignored
//               PageSetup: SlideWidth, SlideHeight (get and put)
//               Slides: Count, Item(Index), Paste(Index), _NewEnum
//               Slide: Copy, Shapes, NotesPage, Export(FileName, FilterName, ScaleWidth, ScaleHeight)
//               NotesPage: Shapes
//               Shapes: Count, Item(Index), Placeholders, _NewEnum;  Placeholders: Count, Item, _NewEnum
//               Shape: Type, HasTextFrame, TextFrame, PlaceholderFormat, Table, Ungroup, GroupItems
//               GroupItems: Count, Item(Index), _NewEnum
//               TextFrame: HasText, TextRange;  TextRange: Text, InsertBefore(NewText)
//               PlaceholderFormat: Type
//               Table: Rows, Columns (each with Count), Cell(Row, Column);  Cell: Shape
//   Word        Application: Name, DisplayAlerts and Visible (put), Documents, Selection,
//                 Quit(SaveChanges, OriginalFormat, RouteDocument)
//               Documents: Add(Template, NewTemplate, DocumentType, Visible), all ignored
//               Document: PageSetup, SaveAs(FileName, FileFormat, ...), Close(SaveChanges, ...)
//               PageSetup: PageWidth, PageHeight (put)
//               Selection: Paste, InsertBreak(Type), InsertAfter(Text), InsertParagraphAfter
//   Enumerator  (what _NewEnum answers) Next: the next item, VT_EMPTY after the last; Reset.
//
// How they are invoked: a property get with DISPATCH_PROPERTYGET (alone or with DISPATCH_METHOD), a
// method with DISPATCH_METHOD (alone or with DISPATCH_PROPERTYGET), Item and _NewEnum either way,
// a property put with DISPATCH_PROPERTYPUT and the value as the one argument. Item is the default
// member (id 0), _NewEnum has id -4. Anything else is DISP_E_MEMBERNOTFOUND.
//
// Arguments come in declaration order and are coerced to the member's types as automation coerces
// them (a by-reference argument is read through). One that is absent at the end or passed as
// VT_ERROR DISP_E_PARAMNOTFOUND takes the object model's default: Open ReadOnly, Untitled 0 and
// WithWindow -1; Add WithWindow -1; SaveAs FileFormat 11 (the default format) and embedded fonts
// -2 (mixed); Paste after the last slide; Export at the default size; InsertBreak a page break;
// Word's SaveAs FileFormat 16 (the default document); Close -2 (as the application decides), Quit
// without saving. A missing required argument is DISP_E_PARAMNOTOPTIONAL, too many
// DISP_E_BADPARAMCOUNT, one that does not coerce DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW.
//
// Every call goes to the object model when it is made; nothing is cached (an enumerator reads
// Count once, when it is made). A failure of the model (AutomationError) becomes DISP_E_EXCEPTION
// with its number and description. A null object answered by the model is a VT_DISPATCH holding
// null; a member that answers no object (Quit, Paste, Ungroup ...) answers VT_EMPTY.
#include <memory>

#include "office/object_model.hpp"
#include "quorvane/dispatch.hpp"

namespace quorvane::office {

// Dispatch objects over an application; null for a null application.
std::shared_ptr<Dispatch> DispatchPowerPoint(std::shared_ptr<ppt::Application> application);
std::shared_ptr<Dispatch> DispatchWord(std::shared_ptr<word::Application> application);

// A dispatch object over one shape; null for a null shape.
std::shared_ptr<Dispatch> MakeShapeDispatch(std::shared_ptr<ppt::Shape> shape);

}  // namespace quorvane::office
