// The write side, second half: Presentation.SaveAs and its table of formats (see model_write.hpp).
//
// Office Open XML kinds (24 to 29): the changes the model holds are put back into its package
// (WriteBackChanges: lasting, they only make the package say what the model says), then the
// kind's own differences are applied for the one save and undone afterwards: the main part's
// content type, and for the kinds without macros the macro project left out (the vbaProject
// relationship of the presentation part and every part reached from the project: signatures,
// vbaData). So the open presentation keeps its macros for a later save in a macro-enabled kind.
// Package::Save writes the file through a temporary file and a rename. The XML presentation (34)
// is a .pptx written in the package's single-file XML form (Package::SaveFlat).
//
// The outline (6) is written by rtf_outline.hpp.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <utility>

#include "common/numbered_files.hpp"
#include "common/text.hpp"
#include "engines/pptx/model_write.hpp"
#include "engines/pptx/rtf_outline.hpp"

namespace quorvane::engines::pptx {

namespace {

constexpr std::string_view kVbaProjectRelationship =
    "http://schemas.microsoft.com/office/2006/relationships/vbaProject";

struct PackageKind {
  std::int32_t fileFormat;
  std::string_view mainContentType;
  bool macros;
  bool flat = false;  // the single-file XML form instead of a zip
};

constexpr PackageKind kPackageKinds[] = {
    {24, "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml", false},
    {25, "application/vnd.ms-powerpoint.presentation.macroEnabled.main+xml", true},
    {26, "application/vnd.openxmlformats-officedocument.presentationml.template.main+xml", false},
    {27, "application/vnd.ms-powerpoint.template.macroEnabled.main+xml", true},
    {28, "application/vnd.openxmlformats-officedocument.presentationml.slideshow.main+xml", false},
    {29, "application/vnd.ms-powerpoint.slideshow.macroEnabled.main+xml", true},
    {34, "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml", false, true},
};
constexpr std::int32_t kOutlineFormat = 6;

// --- Changes for one save ----------------------------------------------------------------------

// Changes made to a package for one save, undone when this goes out of scope (also after a
// failed save). Parts are restored with the bytes and content types they had.
class TemporaryChanges {
 public:
  explicit TemporaryChanges(Package& package) : package_(package) {}
  TemporaryChanges(const TemporaryChanges&) = delete;
  TemporaryChanges& operator=(const TemporaryChanges&) = delete;
  ~TemporaryChanges() {
    try {
      for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->bytes) package_.SetPart(it->name, std::move(*it->bytes), it->contentType);
        if (it->contentTypeOnly) package_.SetContentType(it->name, it->contentType);
      }
    } catch (...) {
      // Restoring only puts back what was there; a failure here (out of memory) must not escape a
      // destructor. The saved file is complete either way.
    }
  }

  void SetContentType(const std::string& part, std::string_view contentType) {
    const std::string old = package_.ContentType(part);
    if (old == contentType) return;
    saved_.push_back({part, old, std::nullopt, true});
    package_.SetContentType(part, contentType);
  }

  // Keeps a part (and its relationships part) to put back later.
  void Keep(const std::string& part) {
    if (!package_.HasPart(part)) return;
    saved_.push_back({part, package_.ContentType(part), package_.ReadPart(part), false});
    const std::string rels = part_name::RelsPartOf(part);
    if (package_.HasPart(rels)) saved_.push_back({rels, package_.ContentType(rels), package_.ReadPart(rels), false});
  }

  void Remove(const std::string& part) {
    Keep(part);
    package_.RemovePart(part);
  }

 private:
  struct Saved {
    std::string name;
    std::string contentType;
    std::optional<std::string> bytes;
    bool contentTypeOnly;
  };
  Package& package_;
  std::vector<Saved> saved_;
};

// Leaves the macro project out: the presentation part's vbaProject relationships and every part
// reached from the project.
void LeaveOutMacros(PresentationModel& model, TemporaryChanges& changes) {
  Package& package = model.package();
  auto relationships = package.Relationships(model.presentationPart());
  std::vector<std::string> pending;
  for (const auto& r : relationships)
    if (!r.external && r.type == kVbaProjectRelationship) pending.push_back(r.partName);
  if (pending.empty()) return;

  std::set<std::string> parts;
  while (!pending.empty()) {
    const std::string part = std::move(pending.back());
    pending.pop_back();
    if (!package.HasPart(part) || !parts.insert(part).second) continue;
    for (const auto& r : package.Relationships(part))
      if (!r.external) pending.push_back(r.partName);
  }
  changes.Keep(model.presentationPart());
  std::erase_if(relationships, [](const Relationship& r) { return r.type == kVbaProjectRelationship; });
  package.SetRelationships(model.presentationPart(), relationships);
  for (const auto& part : parts)
    if (!part_name::Equal(part, model.presentationPart())) changes.Remove(part);
}

void WritePackageKind(const PackageKind& kind, PresentationModel& model, const std::string& path) {
  WriteBackChanges(model);
  Package& package = model.package();
  TemporaryChanges changes(package);
  changes.SetContentType(model.presentationPart(), kind.mainContentType);
  if (!kind.macros) LeaveOutMacros(model, changes);
  if (kind.flat)
    package.SaveFlat(path);
  else
    package.Save(path);
}

void WriteOutline(PresentationModel& model, const std::string& path) {
  WriteFileAtomically(path, RtfOutline(OutlineOf(model)));
}

// --- The table of formats --------------------------------------------------------------------

struct Registry {
  std::mutex mutex;
  std::map<std::int32_t, SaveFormatWriter> writers;
};

Registry& Formats() {
  static Registry* registry = [] {
    auto* r = new Registry;
    for (const PackageKind& kind : kPackageKinds)
      r->writers[kind.fileFormat] = [&kind](PresentationModel& model, const std::string& path) {
        WritePackageKind(kind, model, path);
      };
    r->writers[kOutlineFormat] = WriteOutline;
    return r;
  }();
  return *registry;
}

}  // namespace

void RegisterSaveFormat(std::int32_t fileFormat, SaveFormatWriter writer) {
  Registry& registry = Formats();
  const std::lock_guard lock(registry.mutex);
  if (writer)
    registry.writers[fileFormat] = std::move(writer);
  else
    registry.writers.erase(fileFormat);
}

SaveFormatWriter FindSaveFormat(std::int32_t fileFormat) {
  Registry& registry = Formats();
  const std::lock_guard lock(registry.mutex);
  const auto it = registry.writers.find(fileFormat);
  return it == registry.writers.end() ? SaveFormatWriter() : it->second;
}

void WriteBackChanges(PresentationModel& model) {
  for (const auto& slide : model.slides())
    if (slide->changedFreshNotes) WriteBackNotesPage(model, *slide);
  WriteState& state = WriteStateOf(model);
  if (state.presentationRelationshipsChanged) {
    model.package().SetRelationships(model.presentationPart(), *state.presentationRelationships);
    state.presentationRelationshipsChanged = false;
  }
  for (const auto& name : model.DirtyParts()) {
    const auto document = model.DirtyDocument(name);
    if (!document) continue;
    const auto written = state.writtenRevision.find(document.get());
    if (written != state.writtenRevision.end() && written->second == document->revision()) continue;
    model.package().SetPart(name, document->xml().Serialize(), {});
    state.writtenRevision[document.get()] = document->revision();
  }
}

void SavePresentation(PresentationModel& model, const std::u16string& fileName, std::int32_t fileFormat) {
  constexpr std::string_view kMember = "Presentation.SaveAs";
  const SaveFormatWriter writer = FindSaveFormat(fileFormat);
  if (!writer) throw InvalidRequest(kMember, u"\"" + fileName + u"\" cannot be saved in this format.");
  SavePresentationWith(model, fileName, writer, kMember);
}

void SavePresentationWith(PresentationModel& model, const std::u16string& fileName, const SaveFormatWriter& writer,
                          std::string_view member) {
  if (fileName.empty() || !text::IsUsableFileName(fileName))
    throw AutomationError(failure::kWin32PathNotFound, u"Cannot save \"" + fileName +
                                                           u"\": the name is not a valid file name (it is empty, or "
                                                           u"holds a NUL character or an unpaired surrogate).");
  const std::string path = text::ToUtf8(fileName);
  // The file of an open presentation is never written, nor replaced: its package may still be
  // read from it, and the file an input came from must stay as it is.
  if (files::IsHeldForReading(path))
    throw InvalidRequest(member, u"\"" + fileName +
                                      u"\" is the file of an open presentation; it cannot be replaced while it "
                                      u"is open.");
  writer(model, path);
}

}  // namespace quorvane::engines::pptx
