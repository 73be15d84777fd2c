#pragma once
// Late-bound shapes: a PowerPoint shape of the object model offered as a Dispatch object, for the
// routines that address a shape by member name at run time (the group text of TextFromGroupShape).
//
// Members answered, names compared without regard to letter case; all are read-only properties
// (invoke with DISPATCH_PROPERTYGET, alone or with DISPATCH_METHOD), except Item, which also
// answers DISPATCH_METHOD alone:
//   shape       Type (VT_I4), GroupItems (VT_DISPATCH), HasTextFrame (VT_I4, -1 / 0),
//               TextFrame (VT_DISPATCH)
//   GroupItems  Count (VT_I4), Item(index) (VT_DISPATCH, a shape; the default member, id 0),
//               _NewEnum (id -4: an enumerator)
//   enumerator  Next (method: the next shape as VT_DISPATCH, or VT_EMPTY after the last one),
//               Reset (method: back to the first shape)
//   TextFrame   HasText (VT_I4), TextRange (VT_DISPATCH)
//   TextRange   Text (VT_BSTR)
// Enumeration order is collection order: Item(1) to Item(Count). An enumerator reads Count when it
// is made and fetches each item as it goes; Count and Item give the same sequence.
//
// Every call goes to the object model when it is made; nothing is cached. A failure of the object
// model (an AutomationError) becomes DISP_E_EXCEPTION with the same number and description, which
// Dispatch::Call throws again as that AutomationError. A null object answered by the model becomes
// a VT_DISPATCH variant holding null (an unset object reference).
#include <memory>

#include "office/object_model.hpp"
#include "quorvane/dispatch.hpp"

namespace quorvane::office {

// A dispatch object over `shape`; null for a null shape.
std::shared_ptr<Dispatch> MakeShapeDispatch(std::shared_ptr<ppt::Shape> shape);

}  // namespace quorvane::office
