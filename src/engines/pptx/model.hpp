#pragma once
// The presentation model of the native engine: the state behind the object model's objects
// (Application, Presentation, Slide, Shape, ...), built on the package layer (parts and
// relationships) and the XML layer (parsed parts). It never sees bytes of the container.
//
// Ownership:
// - An application is an ApplicationState, shared by its Application and Presentations objects and
//   by every presentation opened in it. It knows its open presentations only weakly: a presentation
//   nobody refers to can never be reached again, so it simply goes away.
// - A PresentationModel owns its Package, the parsed documents of its parts (see the cache below)
//   and its slide list. Every object handed out for a presentation (slides, shapes, text ranges,
//   ...) holds the PresentationModel, the PartDocument its node lives in, and its node's life token.
//   Nothing refers back up from the model to an object.
// - A closed presentation drops its package and documents; its objects keep only what they hold,
//   and every call on them fails (0x80048240). After Quit every call on the application or any of
//   its objects fails with 462.
//
// Document cache: the converters navigate anew for every request (Presentation -> Slides -> Item ->
// Shapes -> Item ...), thousands of times. Each part is parsed once and reached through a weak
// reference, so that every holder of a part sees the one live copy; a small strong LRU keeps the
// last kCleanDocumentsKept clean documents, and the presentation part is kept for the model's life.
// A 500-slide export so holds about one slide (and its notes page) at a time. A changed document is
// dirty: it is kept strongly until the presentation closes (the write side serialises them).
//
// Seams for the write side (adding presentations, copying and pasting slides, saving):
// - PresentationModel::FromPackage makes a presentation from any package (Open uses it after
//   Package::Open; Presentations.Add can use it with a package built from a template).
// - Mutations go to the documents from Document(partName) and are reported with MarkDirty;
//   DirtyParts() lists what a save must serialise (PartDocument::xml().Serialize()) and put back
//   with Package::SetPart. Package::Save then writes the file.
// - The slide list (slides(), each SlideRecord with its part name) mirrors p:sldIdLst. Code that
//   changes p:sldIdLst changes the list through InsertSlideRecord / RemoveSlideRecord, which keep
//   the records' positions (and so the slide numbers of slidenum fields) current.
// - NotesPartOf and LayoutPartOf resolve a slide's related parts; ForgetRelatedParts drops what a
//   record cached after the slide's relationships changed.
// - A notes page asked of a slide without notes part is a transient document, not in the package
//   (FreshNotesPage). Changing it (TextRange.InsertBefore) pins it in the SlideRecord
//   (changedFreshNotes): a save must then create the notes part from it.
// - ApplicationState::clipboard is the application's clipboard for Slide.Copy / Slides.Paste.
// - PresentationModel::writeState is the write side's own state of a presentation (what it pasted,
//   what it saved); DirtyDocument finds a changed document; a changed fresh notes page becomes a
//   real notes part through PartDocument::MoveIntoPackage and PresentationModel::AdoptDocument.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/numbered_files.hpp"
#include "engines/pptx/limits.hpp"
#include "engines/pptx/package.hpp"
#include "engines/pptx/xml.hpp"
#include "office/object_model.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::engines::pptx {

// What the application answers for Name and Version.
inline constexpr std::u16string_view kApplicationName = u"Quorvane Presentations";
inline constexpr std::u16string_view kApplicationVersion = u"16.0";

// PlaceholderFormat.Type of the slide picture on a notes page (p:ph type="sldImg"). The object
// model publishes no number for it; 101 lies outside the published 1..19 and is used throughout.
inline constexpr std::int32_t kPlaceholderSlideImage = 101;

// EMU per point.
inline constexpr double kEmuPerPoint = 12700.0;

// The object model's invalid request, worded as the object model words it:
// "Slides.Item : Integer out of range. 7 is not in the valid range of 1 to 3."
AutomationError InvalidRequest(std::string_view member, std::u16string_view what);
// "<member> : Integer out of range. <index> is not in the valid range of 1 to <count>."
AutomationError OutOfRange(std::string_view member, std::int64_t index, std::size_t count);
// A limit of limits.hpp reached: 0x8007000E with the member and the limit named.
AutomationError LimitExceeded(std::string_view member, std::u16string_view what);

// Relationship types, matched in their transitional and strict spellings.
namespace rel {
// Whether `type` is the officeDocument relationship type whose last segment is `kind`
// ("slide", "notesSlide", "slideLayout", "officeDocument", ...) in either spelling.
bool Is(std::string_view type, std::string_view kind);
}  // namespace rel

// Main-part content types of the six presentation packages (.pptx .pptm .ppsx .ppsm .potx .potm).
bool IsPresentationContentType(std::string_view contentType);

// A node's life: alive until the node is removed from its document.
struct NodeLife {
  bool alive = true;
};

// One parsed part as the model holds it: the XML tree, and what the model needs to hand out
// references to its nodes safely.
// - Life tokens: an object that refers to a node holds the node's NodeLife. Remove() kills the
//   tokens of every node of the removed subtree before freeing it, so a stale object fails cleanly
//   instead of touching freed memory. Nodes moved elsewhere in the tree keep their identity (and
//   their tokens).
// - Revision: bumped by every change (MarkDirty does it); caches keyed on it are refreshed.
class PartDocument {
 public:
  // `inPackage` is false for a transient page that exists only in memory (a fresh notes page).
  PartDocument(std::shared_ptr<xml::Document> xml, std::string partName, bool inPackage);
  PartDocument(const PartDocument&) = delete;
  PartDocument& operator=(const PartDocument&) = delete;

  xml::Document& xml() const { return *xml_; }
  xml::Node root() const { return xml_->root(); }
  const std::string& partName() const { return partName_; }
  bool inPackage() const { return inPackage_; }
  bool dirty() const { return dirty_; }
  std::uint64_t revision() const { return revision_; }
  // Marks the document changed (dirty, new revision). Use PresentationModel::MarkDirty for parts
  // of a presentation; this alone does not keep the document in memory.
  void Changed();
  // Makes a transient page the document of the package part `partName` (a fresh notes page that
  // was saved as a real notes part). Hand it to PresentationModel::AdoptDocument next.
  void MoveIntoPackage(std::string partName);

  // The life token of `node` (an element of this document): the same token for the same node.
  std::shared_ptr<const NodeLife> Life(xml::Node node);
  // Removes `node` and its subtree from the tree; their tokens die first.
  void Remove(xml::Node node);

  // The shapes of the page's p:cSld/p:spTree (slide, layout, master or notes page) in z-order, as
  // readers see them (AlternateContent resolved); cached per revision. Empty without a tree.
  const std::vector<xml::Node>& PageShapes();
  // The placeholders among PageShapes() (shapes with a p:ph), in z-order; cached per revision.
  const std::vector<xml::Node>& PagePlaceholders();
  // PlaceholderOf(shape), remembered for the last shape asked until the document changes: every
  // request on a shape (has it a text frame, its type, its placeholder type) looks it up.
  xml::Node Placeholder(xml::Node shape);

  // xml::TextOfBody(body, slideNumber, maxLength), remembered for the last body read until the
  // document changes: a converter asks whether a shape has text and then for the text, and both
  // read the same body. Fails as xml::TextOfBody does (nothing is remembered then).
  const std::u16string& BodyText(xml::Node body, std::int32_t slideNumber, std::uint32_t maxLength);

 private:
  std::shared_ptr<xml::Document> xml_;
  std::string partName_;
  bool inPackage_;
  bool dirty_ = false;
  std::uint64_t revision_ = 0;
  std::unordered_map<const void*, std::weak_ptr<NodeLife>> lives_;
  std::size_t livesSweepAt_ = 64;
  // The last few tokens handed out, held so that requests that come back to the same node (every
  // request on a shape makes its object anew) find the token instead of making one again.
  static constexpr std::size_t kLivesHeld = 4;
  std::shared_ptr<NodeLife> livesHeld_[kLivesHeld];
  std::size_t livesHeldNext_ = 0;
  std::vector<xml::Node> pageShapes_;
  std::uint64_t pageShapesRevision_ = ~std::uint64_t{0};
  std::vector<xml::Node> pagePlaceholders_;
  std::uint64_t pagePlaceholdersRevision_ = ~std::uint64_t{0};
  const void* placeholderShape_ = nullptr;  // null: nothing remembered
  std::uint64_t placeholderRevision_ = 0;
  xml::Node placeholder_;
  struct RememberedText {
    const void* body = nullptr;  // null: nothing remembered
    std::uint64_t revision = 0;
    std::int32_t slideNumber = 0;
    std::uint32_t maxLength = 0;
    std::u16string text;
  } bodyText_;
};

// One entry of p:sldIdLst.
struct SlideRecord {
  std::string partName;   // the slide part
  std::uint32_t id = 0;   // p:sldId@id
  std::string relId;      // p:sldId@r:id, a relationship of the presentation part
  std::size_t index = 0;  // 0-based position in the list; kept current by PresentationModel

  // Cached by PresentationModel::NotesPartOf / LayoutPartOf.
  bool relatedResolved = false;
  std::string notesPart;   // empty: the slide has no notes part
  std::string layoutPart;  // empty: none found
  // The notes page answered for a slide without notes part, while someone holds it; once changed
  // it is pinned here.
  std::weak_ptr<PartDocument> freshNotes;
  std::shared_ptr<PartDocument> changedFreshNotes;
};

class PresentationModel;
// A copied slide on the application's clipboard (defined by the write side).
struct SlideClip;
// The write side's state of one presentation (defined by the write side).
struct WriteState;
// The renderer bridge's state of one presentation and its hold on the renderer (defined in
// engines/render_bridge.cpp).
struct RenderState;
struct RendererHold;

// One application: its limits, whether it still runs, its open presentations and its clipboard.
struct ApplicationState {
  explicit ApplicationState(const Limits& l) : limits(l) {}

  // Throws 462 once the application has quit.
  void Enter() const;
  // Ends the application: every open presentation is closed.
  void Quit();

  Limits limits;
  bool running = true;
  std::vector<std::weak_ptr<PresentationModel>> presentations;  // in opening order
  std::shared_ptr<const SlideClip> clipboard;
  // The application's lease on the renderer, from its first use of the renderer until Quit (which
  // drops it, ending the office unless another application holds one).
  std::shared_ptr<RendererHold> renderer;
};

class PresentationModel : public std::enable_shared_from_this<PresentationModel> {
 public:
  // Clean documents kept strongly besides the presentation part.
  static constexpr std::size_t kCleanDocumentsKept = 2;

  // Opens the package file `path` (UTF-8) read-only and reads its presentation part. Fails with
  // the package's HRESULTs. A file of another presentation format (an OLE compound file: a legacy
  // binary or an encrypted presentation; an OpenDocument file) keeps the package layer's number
  // and gets a description that says what it is ("... opens only Office Open XML presentations;
  // this file is ..."); so does, with 0x8007000D, a package that is not a presentation (another
  // Office Open XML document, a zip without a presentation).
  static std::shared_ptr<PresentationModel> Open(std::shared_ptr<ApplicationState> app, const std::string& path);
  // A presentation over an open package; `path` names the file for messages.
  static std::shared_ptr<PresentationModel> FromPackage(std::shared_ptr<ApplicationState> app,
                                                        std::shared_ptr<Package> package, const std::string& path);

  PresentationModel(const PresentationModel&) = delete;
  PresentationModel& operator=(const PresentationModel&) = delete;

  // Every member of every object of the presentation starts here: 462 after Quit, 0x80048240
  // "<member> : Object does not exist." once closed.
  void Enter(std::string_view member) const;
  bool closed() const { return closed_; }
  // Drops the package, the documents and the slide list; unsaved changes are lost.
  void Close();

  ApplicationState& application() const { return *app_; }
  const Limits& limits() const { return app_->limits; }
  Package& package() const { return *package_; }
  const std::string& path() const { return path_; }
  const std::string& presentationPart() const { return presentationPart_; }

  // The presentation part's document (kept for the model's life).
  const std::shared_ptr<PartDocument>& PresentationDocument() const { return presentationDoc_; }
  // The parsed document of a part: the live copy when there is one, else parsed now. Fails like
  // Package::ReadPart and xml::Document::Parse.
  std::shared_ptr<PartDocument> Document(std::string_view partName);
  // Marks a part's document changed and keeps it in memory until the presentation closes.
  void MarkDirty(PartDocument& document);
  void MarkDirty(std::string_view partName);
  // Part names of the dirty documents.
  std::vector<std::string> DirtyParts() const;
  // The dirty document of a part, or null when the part is not changed.
  std::shared_ptr<PartDocument> DirtyDocument(std::string_view partName) const;
  // Takes a document moved into the package (PartDocument::MoveIntoPackage) as the live, changed
  // copy of its part.
  void AdoptDocument(const std::shared_ptr<PartDocument>& document);
  // Documents currently alive (held by the cache or by anyone else).
  std::size_t LiveDocumentCount() const;

  // --- Slides ---------------------------------------------------------------------------------
  const std::vector<std::shared_ptr<SlideRecord>>& slides() const { return slides_; }
  // p:presentation@firstSlideNum (1 when absent).
  std::int32_t firstSlideNumber() const { return firstSlideNumber_; }
  // The number a slide-number field shows for the slide: position + firstSlideNum - 1.
  std::int32_t SlideNumber(const SlideRecord& slide) const;
  void InsertSlideRecord(std::size_t at, std::shared_ptr<SlideRecord> slide);
  void RemoveSlideRecord(std::size_t at);

  // The part of the slide's first notesSlide relationship that exists; empty when none.
  const std::string& NotesPartOf(SlideRecord& slide);
  // The part of the slide's slideLayout relationship that exists; empty when none.
  const std::string& LayoutPartOf(SlideRecord& slide);
  void ForgetRelatedParts(SlideRecord& slide);
  // The notes page of a slide without notes part, as a freshly made one: the slide picture
  // placeholder, then an empty notes body placeholder. Not in the package.
  std::shared_ptr<PartDocument> FreshNotesPage(SlideRecord& slide);

  // Flags given to Presentations.Open (kept for the write side; reading ignores them).
  bool readOnly = false;
  bool untitled = false;
  // The write side's state, made when it first needs it; dropped by Close.
  std::shared_ptr<WriteState> writeState;
  // The renderer bridge's state (temporary copies for the renderer, the hold on a converted
  // original); made when the renderer is first used for the presentation, dropped at Close and Quit.
  std::shared_ptr<RenderState> renderState;

 private:
  PresentationModel(std::shared_ptr<ApplicationState> app, std::shared_ptr<Package> package, std::string path);
  void ReadPresentationPart();

  // The hold on the file an opened presentation reads from, until it is closed.
  std::unique_ptr<files::ReadHold> hold_;
  void ResolveRelated(SlideRecord& slide);
  void Renumber();
  void KeepRecent(const std::shared_ptr<PartDocument>& document);

  std::shared_ptr<ApplicationState> app_;
  std::shared_ptr<Package> package_;
  std::string path_;
  bool closed_ = false;

  std::string presentationPart_;
  std::shared_ptr<PartDocument> presentationDoc_;
  std::int32_t firstSlideNumber_ = 1;
  std::vector<std::shared_ptr<SlideRecord>> slides_;

  // Keys are part names folded to ASCII lower case (part names compare without regard to case).
  std::map<std::string, std::weak_ptr<PartDocument>, std::less<>> live_;
  std::map<std::string, std::shared_ptr<PartDocument>, std::less<>> dirty_;
  std::deque<std::shared_ptr<PartDocument>> recent_;  // most recent first
};

// A new application object over a new ApplicationState.
std::shared_ptr<office::ppt::Application> MakeApplication(const Limits& limits);
// The model behind a presentation object of this engine; null for any other object.
std::shared_ptr<PresentationModel> ModelOf(const std::shared_ptr<office::ppt::Presentation>& presentation);

}  // namespace quorvane::engines::pptx
