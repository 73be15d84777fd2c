#pragma once
// The object model over late-bound objects: PowerPoint and Word driven by member name through
// Dispatch, as a script drives them. On Windows the creator makes the office's own applications
// (by ProgID); anywhere, it may answer any Dispatch object that offers the same members (such as
// office/object_dispatch.hpp's over another engine).
//
// Every member of the object model becomes one call by name (ids are looked up once per object),
// with the arguments the office's object model takes, in its order and types: tri-states and
// enumerations as VT_I4, sizes as VT_R4, Word's Visible as VT_BOOL; Presentation.ExportAsFixedFormat
// as the object model's ExportAsFixedFormat with every argument up to UseISO19005_1 (the PDF type,
// the notes pages output type, PrintHiddenSlides). Presentation.Read keeps the model's default
// (438): a late-bound presentation is read shape by shape. Slide.ExportWithQuality is Export.
//
// Failures: whatever the object answers as a failure becomes an AutomationError with its number
// (a DISP_E_EXCEPTION's own number, or the HRESULT) and a description that names the member
// ("Presentations.Open : " followed by the object's description). An answer of the wrong type is
// 13 (6 for a number out of range). A null object answered where an object is expected fails each
// later call with 91 rather than crash. An application that cannot be created is 429.
#include <functional>
#include <memory>
#include <string_view>

#include "office/object_model.hpp"
#include "quorvane/dispatch.hpp"

namespace quorvane::office {

// Makes the application registered under `progId` ("PowerPoint.Application", "Word.Application"),
// or throws AutomationError.
using Creator = std::function<std::shared_ptr<Dispatch>(std::u16string_view progId)>;

std::shared_ptr<ApplicationProvider> LateBoundApplications(Creator create);

}  // namespace quorvane::office
