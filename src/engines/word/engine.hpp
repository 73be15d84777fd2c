#pragma once
// The Word stand-in: Word's object model (office/object_model.hpp, namespace word) over a native
// document model (document.hpp). Pasted slides become pictures drawn by the renderer; documents are
// written natively as .docx, RTF, text and HTML, and converted from .docx by LibreOffice Writer for
// the other formats.
//
// Save formats (WdSaveFormat numbers) and who writes them:
//   2 text (ANSI), 7 Unicode text, 6 RTF, 12 and 16 .docx, 8 HTML (pictures in "<stem>_files"):
//   natively; 0 .doc, 1 .dot, 17 PDF, 23 .odt: the .docx converted by the renderer.
// Pictures are metafiles (EMF) in every format but HTML (PNG), so documents stay vector and small;
// a slide whose metafile would be huge is a PNG instead (pictures.hpp).
// Any other number fails with 0x80070057, as a format Word cannot write.
//
// Failure numbers (every call may fail; all are AutomationErrors):
//   462    a call on an application that has quit, or on anything of it
//   5825   a call on a closed document ("Object has been deleted.")
//   4248   Selection used with no document open
//   4605   Paste with nothing on the clipboard; an InsertBreak type the stand-in does not make
//   4608   a page side outside 1 to 1584 points
//   0x80070057  a save format that cannot be written
//   75     a file name that cannot name a file; 70 the file an open presentation reads from;
//   76     a folder that does not exist
//   and the package layer's and the renderer's numbers for what goes wrong while writing.
// Outputs are written to a temporary file and renamed into place; a failed save leaves the previous
// file as it was.
//
// Lifetime: an application holds its documents, a scratch folder per save, and (from its first use
// of the office until Quit) a lease on the renderer; Quit closes every document and gives the lease
// back.
#include <memory>
#include <string>

#include "office/object_model.hpp"

namespace quorvane::engines::word {

// What the application answers for Name.
inline constexpr std::u16string_view kApplicationName = u"Quorvane Documents";

// Whether the stand-in can work here: the component was built with the renderer and LibreOffice
// can be run. When not, `why` says what is missing.
bool OfficeAvailable(std::string* why = nullptr);

// A new application.
std::shared_ptr<office::word::Application> CreateApplication();

}  // namespace quorvane::engines::word
