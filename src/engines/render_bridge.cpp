// The renderer bridge (render_bridge.hpp): temporary copies of the model for the renderer, the
// save formats and picture export it serves, and the opening of legacy and OpenDocument files.
#include "engines/shared/render_bridge.hpp"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/platform.hpp"
#include "common/cleanup.hpp"
#include "common/failures.hpp"
#include "common/numbered_files.hpp"
#include "common/output_file.hpp"
#include "common/owned_folder.hpp"
#include "common/text.hpp"
#include "engines/media_formats.hpp"
#include "engines/picture_show.hpp"
#include "engines/pptx/model.hpp"
#include "engines/pptx/model_write.hpp"
#include "engines/pptx/package.hpp"
#include "engines/pptx/zip.hpp"
#include "engines/shared/renderer.hpp"
#include "engines/slide_output.hpp"
#include "engines/web_page.hpp"
#include "quorvane/automation_error.hpp"
#include "quorvane/catalog.hpp"

namespace quorvane::engines {

namespace {

using cleanup::TemporaryFolder;

}  // namespace

namespace pptx {

// The renderer bridge's state of one presentation. Owned by the PresentationModel.
struct RenderState {
  // The Office Open XML file a converted original was opened from, in its own folder.
  std::unique_ptr<TemporaryFolder> converted;
  // The hold on the converted original: no save of this process replaces it while it is open.
  std::unique_ptr<files::ReadHold> originalHold;
  // The application the converted original names as its writer ("" when it names none).
  std::string originalApplication;
  // The copy of the presentation's state the renderer last loaded, and the state it shows.
  std::unique_ptr<TemporaryFolder> copyFolder;
  std::string copyPath;
  std::string copyKey;
  // Pictures drawn ahead (see ExportSlide): what they show (copy, filter, size), and the file of
  // each slide number drawn.
  std::unique_ptr<TemporaryFolder> picturesFolder;
  std::string picturesKey;
  std::map<std::int32_t, std::string> pictures;
};

struct RendererHold {
  std::shared_ptr<const RendererLease> lease;
};

}  // namespace pptx

namespace render_bridge {

bool RendererBuiltIn() { return TheRenderer().BuiltIn(); }

bool IsForeignPresentation(const std::string& path) {
  if (!RendererBuiltIn()) return false;
  // Only regular files, opened without waiting: reading a pipe or a device could wait for ever.
  std::string head(4096, '\0');
  try {
    const int fd = pptx::OpenRegularFile(path);
    const ssize_t got = platform::ReadAt(fd, head.data(), head.size(), 0);
    ::close(fd);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  } catch (const AutomationError&) {
    return false;
  }
  const std::string_view h(head);
  if (h.starts_with("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) return true;
  // A zipped OpenDocument file starts with its uncompressed "mimetype" entry; the presentation
  // type also covers its template ("...presentation-template").
  if (h.starts_with("PK\x03\x04")) {
    const std::string_view first = h.substr(0, std::min<std::size_t>(h.size(), 512));
    return first.find("mimetypeapplication/vnd.oasis.opendocument.presentation") != std::string_view::npos ||
           first.find("mimetypeapplication/vnd.sun.xml.impress") != std::string_view::npos;
  }
  // A flat OpenDocument file names its type on the root element.
  return h.find("<office:document") != std::string_view::npos &&
         h.find("application/vnd.oasis.opendocument.presentation") != std::string_view::npos;
}

namespace {

constexpr std::int32_t kPackageFormat = 24;  // .pptx
constexpr const char* kOoxmlFilter = "Impress MS PowerPoint 2007 XML";

// A presentation's state as far as a copy of it is concerned: every changed document with its
// revision, every changed fresh notes page, and the slide list. Equal states give equal copies.
std::string StateKey(pptx::PresentationModel& model) {
  std::string key;
  for (const auto& name : model.DirtyParts()) {
    const auto document = model.DirtyDocument(name);
    key += name;
    key += ':';
    key += std::to_string(document ? document->revision() : 0);
    key += ';';
  }
  key += '|';
  for (const auto& slide : model.slides()) {
    key += slide->partName;
    if (slide->changedFreshNotes) key += '*' + std::to_string(slide->changedFreshNotes->revision());
    key += ';';
  }
  return key;
}

pptx::RenderState& StateOf(pptx::PresentationModel& model) {
  if (!model.renderState) model.renderState = std::make_shared<pptx::RenderState>();
  return *model.renderState;
}


// A file of another format is held to the limits the engine reads its own packages with before
// the office loads it: a zipped OpenDocument file and a flat one as the package layer checks files
// for the office, a legacy compound file by its size and the sizes its streams declare.
void CheckForeignInput(const std::string& path, const pptx::Limits& limits) {
  const Renderer& renderer = TheRenderer();
  if (renderer.BuiltIn()) pptx::CheckForOffice(path, limits);  // a renderer without an office refuses them all
  const std::string fault = renderer.InputFault(path, limits.maxCompoundFileSize);
  if (!fault.empty())
    throw AutomationError(failure::kWin32InvalidData, u"\"" + text::FromUtf8(path) + u"\" cannot be opened: " +
                                                          text::FromUtf8(fault) + u".");
}

const RendererLease& LeaseOf(pptx::ApplicationState& app) {
  if (!app.renderer) app.renderer = std::make_shared<pptx::RendererHold>(pptx::RendererHold{TheRenderer().Acquire()});
  return *app.renderer->lease;
}

// The path of an Office Open XML copy of the model's current state, written now unless the last
// copy still shows it.
const std::string& CurrentCopy(pptx::PresentationModel& model) {
  pptx::RenderState& state = StateOf(model);
  std::string key = StateKey(model);
  if (state.copyFolder && key == state.copyKey) return state.copyPath;
  const pptx::SaveFormatWriter writer = pptx::FindSaveFormat(kPackageFormat);
  if (!writer)
    throw AutomationError(failure::kEFail, u"The presentation cannot be handed to the renderer: no writer of its "
                                            u"own format is registered.");
  state.copyKey.clear();
  if (!state.copyFolder) state.copyFolder = std::make_unique<TemporaryFolder>();
  state.copyPath = state.copyFolder->path() + "/presentation.pptx";
  writer(model, state.copyPath);
  pptx::CheckForOffice(state.copyPath, model.limits(), model.path());
  state.copyKey = std::move(key);
  return state.copyPath;
}

// A save format the renderer writes: the model's current state converted by the office filter.
pptx::SaveFormatWriter ConvertingWriter(std::string_view filterName, FilterOptions options = {}) {
  return [filter = std::string(filterName), options](pptx::PresentationModel& model, const std::string& path) {
    // The office starts while the copy it will load is written and checked.
    LeaseOf(model.application()).Prestart();
    const std::string& copy = CurrentCopy(model);
    LeaseOf(model.application()).ConvertDocument(copy, path, filter, options);
  };
}

// The pictures of the slides `numbers` (1-based) of the model's current state through `filter`
// at `width` x `height`: those drawn before for the same state, filter and size are taken as they
// are, the others drawn now in one load. The map holds every picture drawn for that key.
const std::map<std::int32_t, std::string>& DrawSlides(pptx::PresentationModel& model,
                                                      const std::vector<std::int32_t>& numbers,
                                                      const std::string& filter, std::int32_t width,
                                                      std::int32_t height, std::int32_t quality = 0) {
  const std::string& copy = CurrentCopy(model);
  pptx::RenderState& state = StateOf(model);
  const std::string key = state.copyKey + '\n' + filter + '\n' + std::to_string(width) + 'x' + std::to_string(height) + 'q' +
                          std::to_string(quality);
  if (key != state.picturesKey) {
    state.pictures.clear();
    state.picturesKey.clear();
    state.picturesFolder.reset();
  }
  std::vector<SlidePicture> requests;
  for (const std::int32_t number : numbers) {
    if (state.pictures.contains(number)) continue;
    if (number < 1 || static_cast<std::size_t>(number) > model.slides().size())
      throw AutomationError(failure::kDispBadIndex,
                            u"slide " + text::Decimal(number) + u" is not a slide of the presentation");
    if (!state.picturesFolder) state.picturesFolder = std::make_unique<TemporaryFolder>();
    SlidePicture request;
    request.slide = number;
    request.path = state.picturesFolder->path() + "/slide" + std::to_string(number) + "." + filter;
    request.filter = filter;
    request.pixelWidth = width;
    request.pixelHeight = height;
    request.quality = quality;
    requests.push_back(std::move(request));
  }
  if (!requests.empty()) {
    LeaseOf(model.application()).DrawSlides(copy, requests);
    for (const auto& request : requests) state.pictures[request.slide] = request.path;
  }
  state.picturesKey = key;
  return state.pictures;
}

}  // namespace

namespace {

// The PDF filter's data. Hidden slides are left out unless asked for, as PowerPoint does; the
// notes pages replace the slides rather than follow them; PDF/A-2b is the filter's version 2.
FilterOptions PdfOptions(bool hiddenSlides, bool notesPages, bool pdfa) {
  FilterOptions pdf;
  pdf.data.emplace_back("ExportHiddenSlides", hiddenSlides);
  pdf.data.emplace_back("ExportNotesPages", notesPages);
  if (notesPages) pdf.data.emplace_back("ExportOnlyNotesPages", true);
  if (pdfa) pdf.data.emplace_back("SelectPdfVersion", std::int32_t{2});
  return pdf;
}

}  // namespace

void RegisterSaveFormats() {
  if (!RendererBuiltIn()) return;  // a save in them then fails as in any unknown format
  static std::once_flag once;
  std::call_once(once, [] {
    const FilterOptions pdf = PdfOptions(false, false, false);
    // The formats the table of formats gives one of the renderer's export filters.
    for (const catalog::Format& format : catalog::Formats())
      if (!format.rendererFilter.empty())
        pptx::RegisterSaveFormat(format.code,
                                 ConvertingWriter(format.rendererFilter, format.code == 32 ? pdf : FilterOptions{}));
    // Formats made from slide pictures.
    for (const std::int32_t page : {12, 13, 14}) pptx::RegisterSaveFormat(page, web_page::WebPageWriter(SlidePictures));
    pptx::RegisterSaveFormat(20, web_page::WebArchiveWriter(SlidePictures));
    pptx::RegisterSaveFormat(15, slide_output::MetafileFolderWriter(SlidePictures));
    pptx::RegisterSaveFormat(36, picture_show::PicturePresentationWriter(SlidePictures));
    // Formats the system's programs finish: XPS from the PDF, the video from slide pictures.
    // (The PDF writer is looked up at each save: whatever writes PDF then writes the XPS's PDF.)
    pptx::RegisterSaveFormat(33, media_formats::XpsWriter([](pptx::PresentationModel& model, const std::string& path) {
      pptx::FindSaveFormat(32)(model, path);
    }));
    pptx::RegisterSaveFormat(37, media_formats::VideoWriter([](pptx::PresentationModel& model,
                                                               const std::vector<std::int32_t>& numbers,
                                                               std::int32_t width, std::int32_t height) {
      const auto& drawn = DrawSlides(model, numbers, std::string(TheRenderer().PictureFilterName("PNG")), width, height);
      std::vector<std::string> files;
      for (const std::int32_t number : numbers) files.push_back(drawn.at(number));
      return files;
    }));
  });
}

void ExportPdf(pptx::PresentationModel& model, const std::string& path, bool hiddenSlides, bool notesPages, bool pdfa) {
  const catalog::Format* pdf = catalog::FindFormat(32);
  if (!RendererBuiltIn() || pdf == nullptr || pdf->rendererFilter.empty()) throw failure::Error(failure::kEFail);
  ConvertingWriter(pdf->rendererFilter, PdfOptions(hiddenSlides, notesPages, pdfa))(model, path);
}

std::vector<std::string> SlidePictures(pptx::PresentationModel& model, const std::vector<std::int32_t>& slideNumbers,
                                       const std::string& filterName) {
  const std::string_view filter = TheRenderer().PictureFilterName(filterName);
  if (filter.empty()) throw failure::Error(failure::kEFail);
  const std::map<std::int32_t, std::string>& pictures = DrawSlides(model, slideNumbers, std::string(filter), 0, 0);
  std::vector<std::string> files;
  files.reserve(slideNumbers.size());
  for (const std::int32_t number : slideNumbers) files.push_back(pictures.at(number));
  return files;
}

void ExportSlide(pptx::PresentationModel& model, const pptx::SlideRecord& slide, const std::u16string& fileName,
                 const std::u16string& filterName, std::int32_t width, std::int32_t height, std::int32_t quality) {
  const std::string filter = text::ToUtf8(filterName);
  if (TheRenderer().PictureFilterName(filter).empty())
    throw failure::Error(failure::kEFail);
  if (fileName.empty() || !text::IsUsableFileName(fileName))
    throw AutomationError(failure::kWin32PathNotFound,
                          u"Cannot export the slide to \"" + fileName + u"\": the name is not a valid file name.");
  const std::string path = text::ToUtf8(fileName);
  if (files::IsHeldForReading(path))
    throw AutomationError(failure::kStgCantSave, u"Cannot export the slide to \"" + fileName +
                                                     u"\": it is the file of an open presentation.");
  // The target is checked before anything is drawn: what would be refused at the end is refused now.
  const auto refused = [&](const output::OutputError& error) {
    return AutomationError(
        error.cause() == output::Cause::kFolderMissing ? failure::kWin32PathNotFound : failure::kStgCantSave,
        u"Cannot export the slide to \"" + fileName + u"\": " + text::FromUtf8(error.reason()) + u".");
  };
  try {
    output::ResolveTarget(path);
  } catch (const output::OutputError& error) {
    throw refused(error);
  }

  // A converter exports the slides of a range one call after another. Loading the presentation
  // into the office for each would cost a load per slide, so a miss draws this slide and the
  // next ones (up to kPicturesAhead) in one load, and the following calls take their pictures
  // from there while the presentation, the filter and the size stay the same.
  constexpr std::size_t kPicturesAhead = 64;
  // (Only a miss draws ahead: a hit that drew the slides beyond the last drawn would cost a load
  // per slide again.)
  const auto slideNumber = static_cast<std::int32_t>(slide.index) + 1;
  const std::map<std::int32_t, std::string>* drawn = &DrawSlides(model, {}, filter, width, height, quality);
  if (!drawn->contains(slideNumber)) {
    std::vector<std::int32_t> numbers;
    const std::size_t last = std::min(model.slides().size(), slide.index + kPicturesAhead);
    for (std::size_t i = slide.index; i < last; ++i) numbers.push_back(static_cast<std::int32_t>(i) + 1);
    drawn = &DrawSlides(model, numbers, filter, width, height, quality);
  }
  const std::map<std::int32_t, std::string>& pictures = *drawn;

  // Into place by the rule of every output; the drawn file may be moved there.
  try {
    output::PutInPlace(pictures.at(slideNumber), path);
  } catch (const output::OutputError& error) {
    throw refused(error);
  }
  // A picture is handed out once: its drawn file goes now, so that the cache holds at most the
  // slides drawn ahead and not yet exported. (Exporting hundreds of slides whose pictures are tens
  // of megabytes each, as some decks' metafiles are, would otherwise fill the disk.)
  pptx::RenderState& state = StateOf(model);
  if (const auto entry = state.pictures.find(slideNumber); entry != state.pictures.end()) {
    std::error_code ec;
    std::filesystem::remove(entry->second, ec);
    state.pictures.erase(entry);
  }
}

namespace {

// What an OpenDocument file names as its generator (meta:generator, in meta.xml of a zipped file or
// in the head of a flat one); "" for any other file, and for one that names none.
std::string OpenDocumentGenerator(const std::string& path) {
  constexpr std::uint64_t kLongestMeta = 1 << 20;
  std::string meta;
  try {
    const auto archive = pptx::zip::Reader::Open(pptx::OpenRegularFile(path));
    for (std::uint64_t i = 0; i < archive->size(); ++i)
      if (const pptx::zip::EntryInfo entry = archive->Entry(i); entry.name == "meta.xml" && entry.size <= kLongestMeta)
        archive->Read(i, [&meta](std::string_view chunk) { meta.append(chunk.substr(0, kLongestMeta - meta.size())); });
  } catch (const pptx::zip::Error&) {
    std::ifstream flat(path, std::ios::binary);  // no zip: a flat file has its meta near its start
    meta.resize(64 * 1024);
    flat.read(meta.data(), static_cast<std::streamsize>(meta.size()));
    meta.resize(static_cast<std::size_t>(flat.gcount()));
  } catch (const AutomationError&) {
  }
  constexpr std::string_view kOpen = "<meta:generator>", kClose = "</meta:generator>";
  const std::size_t start = meta.find(kOpen);
  const std::size_t end = start == std::string::npos ? start : meta.find(kClose, start);
  if (end == std::string::npos) return {};
  return text::ToValidUtf8(text::FromUtf8(meta.substr(start + kOpen.size(), end - start - kOpen.size())));
}

}  // namespace

std::optional<std::string> ForeignApplication(const pptx::PresentationModel& model) {
  if (!model.renderState || !model.renderState->converted) return std::nullopt;
  return model.renderState->originalApplication;
}

std::shared_ptr<pptx::PresentationModel> OpenForeign(const std::shared_ptr<pptx::ApplicationState>& app,
                                                     const std::string& path) {
  CheckForeignInput(path, app->limits);
  auto folder = std::make_unique<TemporaryFolder>();
  // The copy keeps the original's stem, so that what the engine says about it names the file.
  std::string stem = std::filesystem::path(path).stem().string();
  if (stem.empty() || stem.starts_with('.')) stem = "presentation";
  // ".pptx" may be longer than the original's extension: the stem gives way (at a character's
  // start), so that any name the system accepts for the original fits here too.
  constexpr std::size_t kLongestStem = platform::kNameMax - 5;
  if (stem.size() > kLongestStem) {
    std::size_t cut = kLongestStem;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
    stem.resize(cut);
  }
  const std::string converted = folder->path() + "/" + stem + ".pptx";
  LeaseOf(*app).ConvertDocument(path, converted, kOoxmlFilter, {});
  auto model = pptx::PresentationModel::Open(app, converted);
  pptx::RenderState& state = StateOf(*model);
  state.converted = std::move(folder);
  state.originalHold = std::make_unique<files::ReadHold>(path);
  state.originalApplication = OpenDocumentGenerator(path);
  return model;
}

}  // namespace render_bridge

}  // namespace quorvane::engines
