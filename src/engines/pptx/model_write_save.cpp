// The write side, second half: Presentation.SaveAs and its table of formats (see model_write.hpp).
//
// Office Open XML kinds (24 to 29): the changes the model holds are put back into its package
// (WriteBackChanges: lasting, they only make the package say what the model says), then the
// kind's own differences are applied for the one save and undone afterwards: the main part's
// content type, and for the kinds without macros the macro project left out (the vbaProject
// relationship of the presentation part and every part reached from the project: signatures,
// vbaData). So the open presentation keeps its macros for a later save in a macro-enabled kind.
// Package::Save writes the file through a temporary file and a rename.
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
};

constexpr PackageKind kPackageKinds[] = {
    {24, "application/vnd.openxmlformats-officedocument.presentationml.presentation.main+xml", false},
    {25, "application/vnd.ms-powerpoint.presentation.macroEnabled.main+xml", true},
    {26, "application/vnd.openxmlformats-officedocument.presentationml.template.main+xml", false},
    {27, "application/vnd.ms-powerpoint.template.macroEnabled.main+xml", true},
    {28, "application/vnd.openxmlformats-officedocument.presentationml.slideshow.main+xml", false},
    {29, "application/vnd.ms-powerpoint.slideshow.macroEnabled.main+xml", true},
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

// --- Files -------------------------------------------------------------------------------------

[[noreturn]] void Fail(std::int32_t number, const std::string& description) {
  throw AutomationError(number, text::FromUtf8(description));
}

std::string SystemReason(int error) { return std::strerror(error); }

[[noreturn]] void FailWrite(const std::string& target, int error) {
  if (error == ENOSPC || error == EDQUOT || error == EFBIG)
    Fail(hresult::kDiskFull, target + "the disk is full (" + SystemReason(error) + ").");
  Fail(hresult::kAccessDenied, target + "writing failed (" + SystemReason(error) + ").");
}

// The process's file creation mask, read without changing it.
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  return 022;
}

// Whether a name can be given to the system unchanged: not empty, no NUL, no unpaired surrogate.
bool IsUsableName(std::u16string_view name) {
  if (name.empty()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c == 0) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
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

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string target = "Cannot save \"" + path + "\": ";
  if (path.empty() || path.find('\0') != std::string::npos || path.back() == '/')
    Fail(hresult::kPathNotFound, target + "the name is not a file name.");
  const std::size_t slash = path.rfind('/');
  std::string temporary =
      (slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1)) + ".quorvane-save-XXXXXX";
  struct Temporary {
    std::string name;
    int fd = -1;
    ~Temporary() {
      if (fd >= 0) ::close(fd);
      if (!name.empty()) ::unlink(name.c_str());
    }
  } file;
  struct stat existing {};
  const bool replaces = ::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  if (replaces && (existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
    Fail(hresult::kAccessDenied, target + "the file is read-only.");
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    switch (error) {
      case ENOENT:
      case ENOTDIR:
      case ENAMETOOLONG:
      case ELOOP: Fail(hresult::kPathNotFound, target + "the folder was not found (" + SystemReason(error) + ").");
      case ENOSPC:
      case EDQUOT: Fail(hresult::kDiskFull, target + "the disk is full (" + SystemReason(error) + ").");
      default: Fail(hresult::kAccessDenied, target + "access denied (" + SystemReason(error) + ").");
    }
  }
  file.fd = fd;
  file.name = temporary;
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      FailWrite(target, errno);
    }
    done += static_cast<std::size_t>(wrote);
  }
  const mode_t mode = replaces ? (existing.st_mode & 07777) : (0666 & ~CurrentUmask());
  if (::fchmod(fd, mode) < 0) FailWrite(target, errno);
  if (::fsync(fd) < 0) FailWrite(target, errno);
  file.fd = -1;
  if (::close(fd) < 0) FailWrite(target, errno);
  if (::rename(temporary.c_str(), path.c_str()) < 0) {
    const int error = errno;
    if (error == EISDIR) Fail(hresult::kAccessDenied, target + "it is a folder.");
    if (error == ENOENT || error == ENOTDIR)
      Fail(hresult::kPathNotFound, target + "the folder was not found (" + SystemReason(error) + ").");
    FailWrite(target, error);
  }
  file.name.clear();
}

void SavePresentation(PresentationModel& model, const std::u16string& fileName, std::int32_t fileFormat) {
  constexpr std::string_view kMember = "Presentation.SaveAs";
  const SaveFormatWriter writer = FindSaveFormat(fileFormat);
  if (!writer) throw InvalidRequest(kMember, u"\"" + fileName + u"\" cannot be saved in this format.");
  if (!IsUsableName(fileName))
    throw AutomationError(hresult::kPathNotFound, u"Cannot save \"" + fileName +
                                                      u"\": the name is not a valid file name (it is empty, or "
                                                      u"holds a NUL character or an unpaired surrogate).");
  const std::string path = text::ToUtf8(fileName);
  // The file of an open presentation is never written, nor replaced: its package may still be
  // read from it, and the file an input came from must stay as it is.
  if (files::IsHeldForReading(path))
    throw InvalidRequest(kMember, u"\"" + fileName +
                                      u"\" is the file of an open presentation; it cannot be replaced while it "
                                      u"is open.");
  writer(model, path);
}

}  // namespace quorvane::engines::pptx
