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

#include "common/text.hpp"
#include "engines/pptx/model.hpp"
#include "engines/pptx/model_write.hpp"
#include "engines/render_bridge.hpp"
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

ScratchFolder::ScratchFolder() {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / "quorvane-word-XXXXXX").string();
  if (!mkdtemp(pattern.data()))
    throw AutomationError(pptx::hresult::kAccessDenied, u"Cannot make a temporary folder in \"" +
                                                            text::FromUtf8(base.string()) + u"\": " +
                                                            text::FromUtf8(std::strerror(errno)) + u".");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

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
  const std::u16string filter = kind == PictureKind::kMetafile ? u"EMF" : u"PNG";
  const std::string extension = kind == PictureKind::kMetafile ? ".emf" : ".png";
  // Metafiles carry their own size; PNG is drawn at the size the picture takes on the page.
  auto pixels = [&](std::size_t i) -> std::pair<std::int32_t, std::int32_t> {
    if (kind == PictureKind::kMetafile) return {0, 0};
    const Box box = document.PictureBox(i);
    return {std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(box.width * 96 / 72))),
            std::max<std::int32_t>(1, static_cast<std::int32_t>(std::lround(box.height * 96 / 72)))};
  };

  // Slides drawn from snapshots, grouped by slide size: one presentation per size.
  std::map<std::pair<std::int64_t, std::int64_t>, std::vector<std::size_t>> fromSnapshots;
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    files[i] = folder + "/picture" + std::to_string(i + 1) + extension;
    const auto [model, record] = Origin(*pictures[i]);
    if (model) {
      const auto [w, h] = pixels(i);
      render_bridge::ExportSlide(*model, *record, text::FromUtf8(files[i]), filter, w, h);
    } else {
      const auto clamp = [](std::int64_t v) { return std::clamp(v, kMinSlideSize, kMaxSlideSize); };
      fromSnapshots[{clamp(pictures[i]->widthEmu), clamp(pictures[i]->heightEmu)}].push_back(i);
    }
  }

  for (const auto& [size, members] : fromSnapshots) {
    if (!drawing_) drawing_ = std::make_shared<pptx::ApplicationState>(pptx::kDefaultLimits);
    const auto deck = pptx::NewPresentation(drawing_);
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
    for (std::size_t k = 0; k < members.size(); ++k) {
      const auto [w, h] = pixels(members[k]);
      render_bridge::ExportSlide(*deck, *deck->slides()[k], text::FromUtf8(files[members[k]]), filter, w, h);
    }
    deck->Close();
  }
  return files;
}

}  // namespace quorvane::engines::word
