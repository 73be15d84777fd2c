// The presentation model: opening a package as a presentation, the document cache, the slide list
// and the slides' related parts, and the application state.
#include "engines/pptx/model.hpp"

#include <unistd.h>

#include "common/platform.hpp"
#include "common/numbered_files.hpp"

#include <algorithm>
#include <set>
#include <utility>

#include "common/text.hpp"

namespace quorvane::engines::pptx {
namespace {

constexpr std::string_view kTransitionalRelationships =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr std::string_view kStrictRelationships = "http://purl.oclc.org/ooxml/officeDocument/relationships/";

// The notes page of a slide without notes part, as a freshly made one holds it.
constexpr std::string_view kFreshNotesPage =
    R"(<p:notes xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" )"
    R"(xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main"><p:cSld><p:spTree>)"
    R"(<p:nvGrpSpPr><p:cNvPr id="1" name=""/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>)"
    R"(<p:grpSpPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="0" cy="0"/><a:chOff x="0" y="0"/>)"
    R"(<a:chExt cx="0" cy="0"/></a:xfrm></p:grpSpPr>)"
    R"(<p:sp><p:nvSpPr><p:cNvPr id="2" name="Slide Image Placeholder 1"/><p:cNvSpPr>)"
    R"(<a:spLocks noGrp="1" noRot="1" noChangeAspect="1"/></p:cNvSpPr><p:nvPr><p:ph type="sldImg"/></p:nvPr>)"
    R"(</p:nvSpPr><p:spPr/></p:sp>)"
    R"(<p:sp><p:nvSpPr><p:cNvPr id="3" name="Notes Placeholder 2"/><p:cNvSpPr><a:spLocks noGrp="1"/>)"
    R"(</p:cNvSpPr><p:nvPr><p:ph type="body" idx="1"/></p:nvPr></p:nvSpPr><p:spPr/>)"
    R"(<p:txBody><a:bodyPr/><a:lstStyle/><a:p><a:endParaRPr lang="en-US"/></a:p></p:txBody></p:sp>)"
    R"(</p:spTree></p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:notes>)";

std::string Key(std::string_view partName) {
  std::string key(partName);
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

AutomationError NotAPresentation(const std::string& path, std::u16string_view what,
                                 std::int32_t number = failure::kWin32InvalidData) {
  return AutomationError(number,
                         u"\"" + text::FromUtf8(path) + u"\" cannot be opened: " + std::u16string(kApplicationName) +
                             u" opens only Office Open XML presentations; this file is " + std::u16string(what) + u".");
}

// What a file the package layer refused is, when it is a presentation of another format; empty
// when it is none of those (a damaged package keeps the package layer's own description). Only
// the file's first bytes are looked at, for the wording of the refusal.
std::u16string RecogniseOtherFormat(const std::string& path) {
  std::string head(512, '\0');
  try {
    const int fd = OpenRegularFile(path);
    const ssize_t got = platform::ReadAt(fd, head.data(), head.size(), 0);
    ::close(fd);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  } catch (const AutomationError&) {
    return {};  // not a regular file: the package layer's refusal says so
  }
  if (head.starts_with("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
    return u"an OLE compound file (a legacy binary presentation, or an encrypted one)";
  // An OpenDocument package starts with its uncompressed "mimetype" entry.
  if (head.starts_with("PK\x03\x04")) {
    if (Contains(head, "mimetypeapplication/vnd.oasis.opendocument.presentation"))
      return u"an OpenDocument presentation";
    if (Contains(head, "mimetypeapplication/vnd.oasis.opendocument")) return u"an OpenDocument file";
    if (Contains(head, "mimetypeapplication/vnd.sun.xml.impress")) return u"an OpenOffice.org 1 presentation";
    if (Contains(head, "mimetypeapplication/vnd.sun.xml")) return u"an OpenOffice.org 1 file";
    // Older writers put content.xml or the manifest first.
    const std::string_view first = std::string_view(head).substr(std::min<std::size_t>(30, head.size()));
    if (first.starts_with("content.xml") || first.starts_with("META-INF/manifest.xml") || first.starts_with("mimetype"))
      return u"an OpenDocument or OpenOffice.org file";
    return {};
  }
  if (Contains(head, "<office:document")) return u"an OpenDocument flat XML file";
  return {};
}

AutomationError Damaged(const std::string& path, std::u16string_view cause) {
  return AutomationError(failure::kWin32InvalidData, u"\"" + text::FromUtf8(path) +
                                                         u"\" cannot be opened: the presentation is damaged (" +
                                                         std::u16string(cause) + u").");
}

// What a package without a presentation part is, for the refusal.
std::u16string DescribeOtherPackage(const Package& package, std::string_view mainContentType) {
  if (!mainContentType.empty()) {
    if (Contains(mainContentType, "wordprocessingml") || Contains(mainContentType, "ms-word"))
      return u"a word-processing document";
    if (Contains(mainContentType, "spreadsheetml") || Contains(mainContentType, "ms-excel")) return u"a spreadsheet";
    if (Contains(mainContentType, "theme")) return u"a theme";
    return u"a package of type " + text::FromUtf8(mainContentType);
  }
  if (package.HasPart("/mimetype")) {
    std::string mime;
    try {
      mime = package.ReadPart("/mimetype");
    } catch (const AutomationError&) {
    }
    if (Contains(mime, "opendocument.presentation")) return u"an OpenDocument presentation";
    if (Contains(mime, "opendocument")) return u"an OpenDocument file";
  }
  if (package.HasPart("/META-INF/manifest.xml") || package.HasPart("/content.xml")) return u"an OpenDocument file";
  return u"a zip archive without a presentation";
}

}  // namespace

AutomationError InvalidRequest(std::string_view member, std::u16string_view what) {
  return AutomationError(failure::kPowerPointInvalidRequest, text::FromUtf8(member) + u" : " + std::u16string(what));
}

AutomationError OutOfRange(std::string_view member, std::int64_t index, std::size_t count) {
  return InvalidRequest(member, u"Integer out of range. " + text::Decimal(index) +
                                    u" is not in the valid range of 1 to " +
                                    text::Decimal(static_cast<std::int64_t>(count)) + u".");
}

AutomationError LimitExceeded(std::string_view member, std::u16string_view what) {
  return AutomationError(failure::kEOutOfMemory, text::FromUtf8(member) + u" : " + std::u16string(what));
}

bool rel::Is(std::string_view type, std::string_view kind) {
  for (const std::string_view base : {kTransitionalRelationships, kStrictRelationships})
    if (type.size() == base.size() + kind.size() && type.starts_with(base) && type.ends_with(kind)) return true;
  return false;
}

bool IsPresentationContentType(std::string_view contentType) {
  static constexpr std::string_view kTypes[] = {
      "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml",
      "application/vnd.ms-powerpoint.presentation.macroEnabled.main+xml",
      "application/vnd.openxmlformats-officedocument.presentationml.slideshow.main+xml",
      "application/vnd.ms-powerpoint.slideshow.macroEnabled.main+xml",
      "application/vnd.openxmlformats-officedocument.presentationml.template.main+xml",
      "application/vnd.ms-powerpoint.template.macroEnabled.main+xml",
  };
  // Media types compare without regard to case.
  const std::string folded = Key(contentType);
  return std::any_of(std::begin(kTypes), std::end(kTypes), [&](std::string_view t) { return Key(t) == folded; });
}

// --- PartDocument ------------------------------------------------------------------------------

PartDocument::PartDocument(std::shared_ptr<xml::Document> xml, std::string partName, bool inPackage)
    : xml_(std::move(xml)), partName_(std::move(partName)), inPackage_(inPackage) {}

void PartDocument::Changed() {
  dirty_ = true;
  ++revision_;
}

void PartDocument::MoveIntoPackage(std::string partName) {
  partName_ = std::move(partName);
  inPackage_ = true;
}

std::shared_ptr<const NodeLife> PartDocument::Life(xml::Node node) {
  const void* key = node.internal_object();
  auto& slot = lives_[key];
  if (auto life = slot.lock()) return life;
  auto life = std::make_shared<NodeLife>();
  slot = life;
  livesHeld_[livesHeldNext_] = life;
  livesHeldNext_ = (livesHeldNext_ + 1) % kLivesHeld;
  if (lives_.size() >= livesSweepAt_) {
    std::erase_if(lives_, [](const auto& entry) { return entry.second.expired(); });
    livesSweepAt_ = std::max<std::size_t>(64, lives_.size() * 2);
  }
  return life;
}

void PartDocument::Remove(xml::Node node) {
  if (!node || !node.parent()) return;
  std::vector<xml::Node> pending{node};
  while (!pending.empty()) {
    const xml::Node current = pending.back();
    pending.pop_back();
    if (const auto it = lives_.find(current.internal_object()); it != lives_.end()) {
      if (const auto life = it->second.lock()) life->alive = false;
      lives_.erase(it);
    }
    for (xml::Node child = current.first_child(); child; child = child.next_sibling()) pending.push_back(child);
  }
  node.parent().remove_child(node);
  pageShapesRevision_ = ~std::uint64_t{0};
  pagePlaceholdersRevision_ = ~std::uint64_t{0};
  placeholderShape_ = nullptr;
  bodyText_.body = nullptr;
}

const std::u16string& PartDocument::BodyText(xml::Node body, std::int32_t slideNumber, std::uint32_t maxLength) {
  RememberedText& last = bodyText_;
  if (last.body == body.internal_object() && last.revision == revision_ && last.slideNumber == slideNumber &&
      last.maxLength == maxLength)
    return last.text;
  last.body = nullptr;
  last.text = xml::TextOfBody(body, slideNumber, maxLength);
  last.body = body.internal_object();
  last.revision = revision_;
  last.slideNumber = slideNumber;
  last.maxLength = maxLength;
  return last.text;
}

// --- ApplicationState --------------------------------------------------------------------------

void ApplicationState::Enter() const {
  if (!running)
    throw failure::Error(failure::kServerUnavailable);
}

void ApplicationState::Quit() {
  running = false;
  const auto open = presentations;
  for (const auto& weak : open)
    if (const auto presentation = weak.lock()) presentation->Close();
  presentations.clear();
  clipboard.reset();
}

// --- PresentationModel -------------------------------------------------------------------------

PresentationModel::PresentationModel(std::shared_ptr<ApplicationState> app, std::shared_ptr<Package> package,
                                     std::string path)
    : app_(std::move(app)), package_(std::move(package)), path_(std::move(path)) {}

std::shared_ptr<PresentationModel> PresentationModel::Open(std::shared_ptr<ApplicationState> app,
                                                           const std::string& path) {
  std::shared_ptr<Package> package;
  try {
    package = Package::Open(path, app->limits);
  } catch (const AutomationError& e) {
    if (e.number() == failure::kWin32InvalidData || e.number() == failure::kEAccessDenied) {
      const std::u16string what = RecogniseOtherFormat(path);
      if (!what.empty()) throw NotAPresentation(path, what, e.number());
    }
    throw;
  }
  auto model = FromPackage(std::move(app), std::move(package), path);
  // Held as an open file is: nothing in the process writes over it while it is open.
  model->hold_ = std::make_unique<files::ReadHold>(path);
  return model;
}

std::shared_ptr<PresentationModel> PresentationModel::FromPackage(std::shared_ptr<ApplicationState> app,
                                                                  std::shared_ptr<Package> package,
                                                                  const std::string& path) {
  std::shared_ptr<PresentationModel> model(new PresentationModel(app, std::move(package), path));
  model->ReadPresentationPart();
  auto& open = app->presentations;
  std::erase_if(open, [](const auto& weak) { return weak.expired(); });
  open.push_back(model);
  return model;
}

void PresentationModel::ReadPresentationPart() {
  // The main part is the target of the package's officeDocument relationship; what the package is
  // is decided by that part's content type, never by the file name.
  const Relationship* main = nullptr;
  const auto packageRelationships = package_->Relationships("/");
  for (const auto& r : packageRelationships) {
    if (!r.external && rel::Is(r.type, "officeDocument")) {
      main = &r;
      break;
    }
  }
  if (!main) throw NotAPresentation(path_, DescribeOtherPackage(*package_, {}));
  const std::string contentType = package_->ContentType(main->partName);
  if (!IsPresentationContentType(contentType)) {
    if (!package_->HasPart(main->partName) && contentType.empty())
      throw Damaged(path_, u"its main part " + text::FromUtf8(main->partName) + u" is missing");
    throw NotAPresentation(path_, contentType.empty() ? u"a package whose main part has no content type"
                                                      : DescribeOtherPackage(*package_, contentType));
  }
  if (!package_->HasPart(main->partName))
    throw Damaged(path_, u"its presentation part " + text::FromUtf8(main->partName) + u" is missing");
  presentationPart_ = main->partName;

  presentationDoc_ = Document(presentationPart_);
  std::erase(recent_, presentationDoc_);  // kept for the model's life, not in the LRU
  const xml::Node root = presentationDoc_->root();
  if (std::string_view(root.name()) != "p:presentation")
    throw Damaged(path_, u"the part " + text::FromUtf8(presentationPart_) + u" is not a presentation");
  firstSlideNumber_ =
      static_cast<std::int32_t>(std::clamp<std::int64_t>(xml::IntAttr(root, "firstSlideNum", 1), 0, 1000000));

  const auto ids = xml::ChildrenNamed(xml::Child(root, "p:sldIdLst"), "p:sldId");
  if (ids.size() > limits().maxSlides)
    throw LimitExceeded("Presentations.Open", u"\"" + text::FromUtf8(path_) + u"\" has " +
                                                  text::Decimal(static_cast<std::int64_t>(ids.size())) +
                                                  u" slides, more than the limit of " +
                                                  text::Decimal(limits().maxSlides) + u".");
  // Slides in list order. An entry whose relationship or part is missing, or that repeats a slide
  // already listed, is left out, as a repair would do: it has no slide to show.
  std::map<std::string, const Relationship*, std::less<>> byId;
  const auto relationships = package_->Relationships(presentationPart_);
  for (const auto& r : relationships)
    if (!r.external && rel::Is(r.type, "slide")) byId.emplace(r.id, &r);
  std::set<std::string, std::less<>> seen;
  for (const xml::Node id : ids) {
    const auto found = byId.find(xml::Attr(id, "r:id"));
    if (found == byId.end() || !package_->HasPart(found->second->partName)) continue;
    if (!seen.insert(Key(found->second->partName)).second) continue;
    auto slide = std::make_shared<SlideRecord>();
    slide->partName = found->second->partName;
    slide->id = static_cast<std::uint32_t>(std::clamp<std::int64_t>(xml::IntAttr(id, "id", 0), 0, 0xFFFFFFFFll));
    slide->relId = found->first;
    slides_.push_back(std::move(slide));
  }
  Renumber();
}

void PresentationModel::Enter(std::string_view member) const {
  app_->Enter();
  if (closed_) throw InvalidRequest(member, u"Object does not exist.");
}

void PresentationModel::Close() {
  closed_ = true;
  hold_.reset();
  slides_.clear();
  recent_.clear();
  dirty_.clear();
  live_.clear();
  presentationDoc_.reset();
  package_.reset();
  writeState.reset();
  std::erase_if(app_->presentations, [this](const auto& weak) {
    const auto p = weak.lock();
    return !p || p.get() == this;
  });
}

std::shared_ptr<PartDocument> PresentationModel::Document(std::string_view partName) {
  // The documents asked for again and again (a slide and its notes page) are the recent ones. While
  // nothing is changed, a recent document asked for by its own spelling is the live copy of its part.
  if (dirty_.empty()) {
    for (std::size_t i = 0; i < recent_.size(); ++i) {
      if (!recent_[i]->inPackage() || recent_[i]->partName() != partName) continue;
      std::rotate(recent_.begin(), recent_.begin() + static_cast<std::ptrdiff_t>(i),
                  recent_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      return recent_.front();
    }
  }
  const std::string key = Key(partName);
  if (const auto it = dirty_.find(key); it != dirty_.end()) return it->second;
  if (const auto it = live_.find(key); it != live_.end()) {
    if (auto document = it->second.lock()) {
      KeepRecent(document);
      return document;
    }
  }
  const std::string bytes = package_->ReadPart(partName);
  std::shared_ptr<xml::Document> parsed;
  try {
    parsed = xml::Document::Parse(bytes, partName, limits());
  } catch (const AutomationError& e) {
    // The part's failure names the part; the file is named in front, as the package layer does.
    throw AutomationError(e.number(), u"\"" + text::FromUtf8(path_) + u"\": " + e.description());
  }
  auto document = std::make_shared<PartDocument>(std::move(parsed), std::string(partName), true);
  if (live_.size() > 16 + dirty_.size()) std::erase_if(live_, [](const auto& entry) { return entry.second.expired(); });
  live_[key] = document;
  KeepRecent(document);
  return document;
}

void PresentationModel::KeepRecent(const std::shared_ptr<PartDocument>& document) {
  if (document == presentationDoc_ || document->dirty()) return;
  if (!recent_.empty() && recent_.front() == document) return;
  std::erase(recent_, document);
  recent_.push_front(document);
  while (recent_.size() > kCleanDocumentsKept) {
    const std::string key = Key(recent_.back()->partName());
    recent_.pop_back();
    if (const auto it = live_.find(key); it != live_.end() && it->second.expired()) live_.erase(it);
  }
}

void PresentationModel::MarkDirty(PartDocument& document) {
  document.Changed();
  if (!document.inPackage()) {
    // A fresh notes page: pinned in its slide's record from now on.
    for (const auto& slide : slides_) {
      const auto fresh = slide->freshNotes.lock();
      if (fresh.get() == &document) slide->changedFreshNotes = fresh;
    }
    return;
  }
  const std::string key = Key(document.partName());
  const auto it = live_.find(key);
  const auto held = it == live_.end() ? nullptr : it->second.lock();
  if (held.get() != &document) return;  // not a document of this presentation
  dirty_[key] = held;
  std::erase(recent_, held);
}

void PresentationModel::MarkDirty(std::string_view partName) { MarkDirty(*Document(partName)); }

std::vector<std::string> PresentationModel::DirtyParts() const {
  std::vector<std::string> parts;
  for (const auto& [key, document] : dirty_) parts.push_back(document->partName());
  return parts;
}

std::shared_ptr<PartDocument> PresentationModel::DirtyDocument(std::string_view partName) const {
  const auto it = dirty_.find(Key(partName));
  return it == dirty_.end() ? nullptr : it->second;
}

void PresentationModel::AdoptDocument(const std::shared_ptr<PartDocument>& document) {
  const std::string key = Key(document->partName());
  document->Changed();
  live_[key] = document;
  dirty_[key] = document;
  std::erase(recent_, document);
}

std::size_t PresentationModel::LiveDocumentCount() const {
  return static_cast<std::size_t>(
      std::count_if(live_.begin(), live_.end(), [](const auto& entry) { return !entry.second.expired(); }));
}

std::int32_t PresentationModel::SlideNumber(const SlideRecord& slide) const {
  return static_cast<std::int32_t>(slide.index) + firstSlideNumber_;
}

void PresentationModel::InsertSlideRecord(std::size_t at, std::shared_ptr<SlideRecord> slide) {
  slides_.insert(slides_.begin() + static_cast<std::ptrdiff_t>(std::min(at, slides_.size())), std::move(slide));
  Renumber();
}

void PresentationModel::RemoveSlideRecord(std::size_t at) {
  if (at >= slides_.size()) return;
  slides_.erase(slides_.begin() + static_cast<std::ptrdiff_t>(at));
  Renumber();
}

void PresentationModel::Renumber() {
  for (std::size_t i = 0; i < slides_.size(); ++i) slides_[i]->index = i;
}

void PresentationModel::ResolveRelated(SlideRecord& slide) {
  if (slide.relatedResolved) return;
  bool notesSeen = false;
  bool layoutSeen = false;
  for (const auto& r : package_->Relationships(slide.partName)) {
    if (r.external) continue;
    // Only the first relationship of each kind counts; a target that is missing means none.
    if (!notesSeen && rel::Is(r.type, "notesSlide")) {
      notesSeen = true;
      if (package_->HasPart(r.partName)) slide.notesPart = r.partName;
    } else if (!layoutSeen && rel::Is(r.type, "slideLayout")) {
      layoutSeen = true;
      if (package_->HasPart(r.partName)) slide.layoutPart = r.partName;
    }
  }
  slide.relatedResolved = true;
}

const std::string& PresentationModel::NotesPartOf(SlideRecord& slide) {
  ResolveRelated(slide);
  return slide.notesPart;
}

const std::string& PresentationModel::LayoutPartOf(SlideRecord& slide) {
  ResolveRelated(slide);
  return slide.layoutPart;
}

void PresentationModel::ForgetRelatedParts(SlideRecord& slide) {
  slide.relatedResolved = false;
  slide.notesPart.clear();
  slide.layoutPart.clear();
}

std::shared_ptr<PartDocument> PresentationModel::FreshNotesPage(SlideRecord& slide) {
  if (slide.changedFreshNotes) return slide.changedFreshNotes;
  // Kept among the recent documents like a part's, so that requests that navigate anew find the
  // same page instead of building it again for every request.
  if (auto fresh = slide.freshNotes.lock()) {
    KeepRecent(fresh);
    return fresh;
  }
  // Made as a copy of the page parsed once, which costs a fraction of parsing it again.
  static const std::shared_ptr<xml::Document> kTemplate = xml::Document::FromTrusted(kFreshNotesPage, "notes page");
  auto page = std::make_shared<xml::Document>();
  page->pugi().reset(kTemplate->pugi());
  std::string name = slide.partName + " (notes page)";
  auto fresh = std::make_shared<PartDocument>(std::move(page), std::move(name), false);
  slide.freshNotes = fresh;
  KeepRecent(fresh);
  return fresh;
}

}  // namespace quorvane::engines::pptx
