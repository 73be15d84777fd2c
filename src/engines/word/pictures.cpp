// Pictures of pasted slides (pictures.hpp).
#include "engines/word/pictures.hpp"

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

#include "common/failures.hpp"
#include "common/text.hpp"
#include "engines/pptx/model.hpp"
#include "engines/pptx/model_write.hpp"
#include "engines/shared/render_bridge.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::engines::word {

namespace {

// p:sldSz bounds: 1 to 56 inches.
constexpr std::int64_t kMinSlideSize = 914400;
constexpr std::int64_t kMaxSlideSize = 51206400;

// The open, unchanged presentation a slide was copied from and the slide there; null when the slide
// can only be drawn from its snapshot.
std::pair<std::shared_ptr<pptx::PresentationModel>, std::shared_ptr<pptx::SlideRecord>> Origin(
    const clipboard::CopiedSlide& slide) {
  auto model = slide.clip->from.lock();
  if (!model || model->closed() || !model->DirtyParts().empty()) return {};
  const std::string& part = slide.clip->parts.front()->name;
  for (const auto& record : model->slides())
    if (pptx::part_name::Equal(record->partName, part)) return {std::move(model), record};
  return {};
}

}  // namespace

PictureDrawer::PictureDrawer() = default;
PictureDrawer::~PictureDrawer() { Release(); }

void PictureDrawer::Release() {
  if (!drawing_) return;
  drawing_->Quit();
  drawing_->renderer.reset();
  drawing_.reset();
}

std::vector<std::string> PictureDrawer::Draw(const DocumentContent& document, PictureKind kind,
                                             const std::string& folder) {
  const auto& pictures = document.pictures();
  std::vector<std::string> files(pictures.size());

  // Where each picture is drawn from: its open, unchanged presentation, or a presentation made of
  // the snapshots (one per slide size) that lives until every picture is drawn.
  std::vector<std::pair<std::shared_ptr<pptx::PresentationModel>, std::shared_ptr<pptx::SlideRecord>>> sources(
      pictures.size());
  std::map<std::pair<std::int64_t, std::int64_t>, std::vector<std::size_t>> fromSnapshots;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    sources[i] = Origin(*pictures[i]);
    if (sources[i].first) continue;
    const auto clamp = [](std::int64_t v) { return std::clamp(v, kMinSlideSize, kMaxSlideSize); };
    fromSnapshots[{clamp(pictures[i]->widthEmu), clamp(pictures[i]->heightEmu)}].push_back(i);
  }
  std::vector<std::shared_ptr<pptx::PresentationModel>> snapshotDecks;
  struct CloseDecks {
    std::vector<std::shared_ptr<pptx::PresentationModel>>& decks;
    ~CloseDecks() {
      for (const auto& deck : decks) deck->Close();
    }
  } closeDecks{snapshotDecks};
  for (const auto& [size, members] : fromSnapshots) {
    if (!drawing_) drawing_ = std::make_shared<pptx::ApplicationState>(pptx::kDefaultLimits);
    const auto deck = pptx::NewPresentation(drawing_);
    snapshotDecks.push_back(deck);
    auto& presentation = *deck->PresentationDocument();
    pptx::xml::Node sldSz = presentation.root().child("p:sldSz");
    if (!sldSz) sldSz = presentation.root().append_child("p:sldSz");
    for (const char* name : {"cx", "cy", "type"}) sldSz.remove_attribute(name);
    sldSz.append_attribute("cx").set_value(static_cast<long long>(size.first));
    sldSz.append_attribute("cy").set_value(static_cast<long long>(size.second));
    deck->MarkDirty(presentation);
    for (const std::size_t i : members) {
      drawing_->clipboard = pictures[i]->clip;
      pptx::PasteSlide(*deck, -1);
    }
    drawing_->clipboard.reset();
    for (std::size_t k = 0; k < members.size(); ++k) sources[members[k]] = {deck, deck->slides()[k]};
  }

  // PNG is drawn at `dpi` dots per inch of the size the picture takes on the page; a metafile
  // carries its own size.
  const auto draw = [&](std::size_t i, PictureKind as, double dpi) {
    const bool metafile = as == PictureKind::kMetafile;
    files[i] = folder + "/picture" + std::to_string(i + 1) + (metafile ? ".emf" : ".png");
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (!metafile) {
      const Box box = document.PictureBox(i);
      width = std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(box.width * dpi / 72)));
      height = std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(box.height * dpi / 72)));
    }
    render_bridge::ExportSlide(*sources[i].first, *sources[i].second, text::FromUtf8(files[i]),
                               metafile ? u"EMF" : u"PNG", width, height);
  };

  if (kind == PictureKind::kPng) {
    for (std::size_t i = 0; i < pictures.size(); ++i) draw(i, PictureKind::kPng, kScreenDpi);
    return files;
  }
  // Metafiles first. One that comes out larger than kMaxMetafileBytes (a slide whose drawing holds
  // large bitmaps, or a fill drawn as a great many records: tens of megabytes a slide are seen) is
  // dropped at once and the slide drawn as a picture instead, so that neither the temporary folder
  // nor the document grows without bound.
  std::vector<std::size_t> oversized;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    draw(i, PictureKind::kMetafile, 0);
    std::error_code ec;
    const auto size = std::filesystem::file_size(files[i], ec);
    if (!ec && size <= kMaxMetafileBytes) continue;
    std::filesystem::remove(files[i], ec);
    oversized.push_back(i);
  }
  for (const std::size_t i : oversized) draw(i, PictureKind::kPng, kPrintDpi);
  return files;
}

}  // namespace quorvane::engines::word
