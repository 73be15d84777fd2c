#pragma once
// The write side of the presentation model: new presentations, copying a slide to the
// application's clipboard, pasting it into a presentation, and saving a presentation in a format.
//
// Copy takes a snapshot: the slide part and every part it reaches through its relationships
// (layout, master, theme, pictures, media, charts and their workbooks, diagrams, OLE objects, the
// notes slide and the notes master, tags, custom XML), as bytes with content types and
// relationships, taken at the moment of the copy. The clip owns what it holds: later changes to the
// source do not reach it, and the source may be closed before the paste.
//
// Paste writes one new copy of the clip into the target's package under fresh part names and
// joins it to the presentation (p:sldIdLst, p:sldMasterIdLst, p:notesMasterIdLst and the
// presentation part's relationships). The slide keeps its own layout, master and theme. Masters
// (with their layouts) and media parts equal to ones the target already holds are shared instead
// of copied again; see model_write.cpp for what "equal" means and what is never shared.
//
// Saving goes through a table of writers by PpSaveAsFileType number (SaveFormatWriter): the
// engine registers the Office Open XML kinds (24 to 29) and the outline (6); another engine plugs
// its own formats in with RegisterSaveFormat. Every format is written to a temporary file and
// renamed into place; the file a presentation was opened from is never written.
//
// Failures are AutomationErrors: 0x80048240 for a request the object model refuses (an empty
// clipboard, a format that cannot be written, a file that is open as a presentation), the
// package layer's HRESULTs for files that cannot be written.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "engines/pptx/model.hpp"

namespace quorvane::engines::pptx {

// --- The clipboard ---------------------------------------------------------------------------

// What a relationship of a copied part becomes when the part is pasted.
enum class ClipLink {
  kExternal,     // an external target: kept as it is
  kPart,         // another part of the clip: the pasted copy (or the shared equal part)
  kSlide,        // a slide: the pasted slide, or the same slide when pasted into its own presentation
  kNotesMaster,  // a notes slide's notes master: the target's notes master
  kDropped,      // missing target, comments, presentation-wide parts: left out
};

struct ClipRelationship {
  Relationship relationship;  // partName: the target's part name in the source
  ClipLink link = ClipLink::kDropped;
};

// One part as it was copied. Immutable once made; shared between clips of one source while the
// part stays unchanged there.
struct ClipPart {
  std::string name;  // part name in the source package
  std::string contentType;
  std::string bytes;
  std::vector<ClipRelationship> relationships;
  std::uint64_t hash[2] = {0, 0};  // of content type and bytes
};

struct SlideClip {
  // The presentation the slide was copied from, while it is open: a paste into it keeps links to
  // its other slides.
  std::weak_ptr<PresentationModel> from;
  // The slide first, then every part it reaches, each once.
  std::vector<std::shared_ptr<const ClipPart>> parts;
  // Index into `parts` by folded part name.
  std::unordered_map<std::string, std::size_t> index;

  // The index of the part `partName`, or -1.
  std::ptrdiff_t Find(std::string_view partName) const;
};

// --- Entry points for the object model ---------------------------------------------------------

// Presentations.Add: a new presentation in memory, from the blank deck (13.333 x 7.5 in, one master,
// one layout, a theme); no file until SaveAs.
std::shared_ptr<PresentationModel> NewPresentation(const std::shared_ptr<ApplicationState>& app);

// Slide.Copy: puts a snapshot of `slide` of `model` on the application's clipboard.
void CopySlide(PresentationModel& model, SlideRecord& slide);

// Slides.Paste: pastes the clipboard's slide at `index` (1-based, from 1 to Count + 1) or, with -1,
// after the last slide. 0x80048240 when the clipboard is empty or the index is out of range.
void PasteSlide(PresentationModel& model, std::int32_t index);

// Presentation.SaveAs: writes `model` to `fileName` in `fileFormat` (a PpSaveAsFileType number).
// 0x80048240 "Presentation.SaveAs : ... cannot be saved in this format." for a format no writer
// serves. The presentation stays open and usable afterwards.
void SavePresentation(PresentationModel& model, const std::u16string& fileName, std::int32_t fileFormat);

// --- Save formats ------------------------------------------------------------------------------

// Writes `model` to `path` (UTF-8; a usable file name that is not the file of an open
// presentation). Writers must write through a temporary file and a rename (Package::Save does,
// WriteFileAtomically does) and leave the presentation as it was, but for the changes that
// WriteBackChanges makes. A writer that reads the model's package (rather than its documents)
// calls WriteBackChanges first: until then the package lacks what changed in memory.
using SaveFormatWriter = std::function<void(PresentationModel& model, const std::string& path)>;

// Registers (or replaces) the writer of `fileFormat`; an empty writer removes it.
void RegisterSaveFormat(std::int32_t fileFormat, SaveFormatWriter writer);
// The writer of `fileFormat`, or an empty function.
SaveFormatWriter FindSaveFormat(std::int32_t fileFormat);
// Presentation.SaveAs with `writer` in place of a format's (Presentation.ExportAsFixedFormat): the
// same checks of `fileName`, failures named after `member`.
void SavePresentationWith(PresentationModel& model, const std::u16string& fileName, const SaveFormatWriter& writer,
                          std::string_view member);

// Helpers for writers.
// Turns the slide's changed fresh notes page (if any) into a real notes part related to the slide
// and the notes master (made when missing); the model then reads that part, the same document.
void WriteBackNotesPage(PresentationModel& model, SlideRecord& slide);
// Puts every changed document back into the model's package (serialised), and the presentation
// part's relationships when pastes changed them, and turns changed fresh notes pages into real
// notes parts (creating a notes master when the presentation has none). The model keeps answering
// as before.
void WriteBackChanges(PresentationModel& model);
// Writes `bytes` to `path` through a temporary file in the same folder and a rename. Fails with
// the package layer's HRESULTs (path not found, access denied, disk full).
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// --- Shared by the write side ------------------------------------------------------------------

// The write side's state of one presentation.
struct WriteState {
  // Whether `index` below holds what the package had before the first paste.
  bool indexed = false;
  // Parts that a paste may share instead of copying: fingerprint (see model_write.cpp) -> part name.
  std::unordered_map<std::string, std::string> shared;
  // p:sldMasterId and p:sldLayoutId values in use.
  std::set<std::uint32_t> masterIds;
  // Next number to try per name pattern (folded folder + stem + extension).
  std::unordered_map<std::string, std::uint64_t> nextNumber;
  // Clean parts already copied from this presentation, by folded part name; cleared whenever the
  // write side changes a part of this package.
  std::unordered_map<std::string, std::shared_ptr<const ClipPart>> copied;
  // Revision of each dirty document when it was last put back into the package.
  std::unordered_map<const PartDocument*, std::uint64_t> writtenRevision;
  // The presentation part's relationships, once read; while `presentationRelationshipsChanged`,
  // newer than the package's (WriteBackChanges puts them back). Every paste adds to them: reading
  // and writing them for each would make pasting n slides take n^2 time.
  std::optional<std::vector<Relationship>> presentationRelationships;
  bool presentationRelationshipsChanged = false;
};

WriteState& WriteStateOf(PresentationModel& model);

// The presentation part's relationships, and replacing them (in the state; WriteBackChanges puts
// them into the package). The write side reads and changes them only through these.
const std::vector<Relationship>& PresentationRelationships(PresentationModel& model);
void StorePresentationRelationships(PresentationModel& model, std::vector<Relationship> relationships);

// A part name like `like` ("/ppt/slides/slide3.xml": folder, stem "slide", extension) with the
// smallest number that no part (and no relationships part) of the package uses yet.
std::string FreshPartName(PresentationModel& model, std::string_view like);

// A relationship id not used in `relationships` ("rId<n>").
std::string FreshRelationshipId(const std::vector<Relationship>& relationships);

// The presentation's notes master (the target of its notesMaster relationship that exists); empty
// when it has none.
std::string NotesMasterOf(PresentationModel& model);
// Makes `notesMaster` the presentation's notes master: a relationship of the presentation part
// and p:notesMasterIdLst. `relationships` are the presentation part's, changed in place.
void RegisterNotesMaster(PresentationModel& model, std::vector<Relationship>& relationships,
                         const std::string& notesMaster);
// The presentation's notes master, made from the engine's own notes master and theme when it has
// none.
std::string EnsureNotesMaster(PresentationModel& model);

// The child `name` of p:presentation, made at its place in the schema's order when missing.
xml::Node PresentationListElement(xml::Node presentation, const char* name);

}  // namespace quorvane::engines::pptx
