#pragma once
// Pictures of pasted slides, drawn by the renderer for the writers.
//
// A pasted slide is a snapshot (clipboard::CopiedSlide). It is drawn one of two ways:
// - From its presentation, when that is still open and unchanged since it was opened (no part of
//   it changed in memory): the slide there is the slide that was copied. The renderer bridge draws
//   it and the next slides of that presentation in one office load and keeps them, so a document
//   per slide costs one load for the whole range, not one per slide.
// - Otherwise from a presentation made of the snapshots (one per slide size), pasted into a private
//   presentation application of the drawer and drawn in one load.
// Metafiles (EMF) keep the slide as vectors: a document of many slides stays small. A slide whose
// metafile would be larger than kMaxMetafileBytes is drawn as PNG at kPrintDpi instead. PNG pictures
// asked for as such (HTML) are drawn at 96 dots per inch of the picture's size on the page.
//
// Failures pass on the renderer bridge's AutomationErrors (0x80004005 without a renderer).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/owned_folder.hpp"
#include "engines/word/document.hpp"

namespace quorvane::engines::pptx {
struct ApplicationState;
}  // namespace quorvane::engines::pptx

namespace quorvane::engines::word {

enum class PictureKind { kMetafile, kPng };

inline constexpr std::uintmax_t kMaxMetafileBytes = 2u << 20;
inline constexpr double kScreenDpi = 96;
inline constexpr double kPrintDpi = 150;

class PictureDrawer {
 public:
  PictureDrawer();
  ~PictureDrawer();
  PictureDrawer(const PictureDrawer&) = delete;
  PictureDrawer& operator=(const PictureDrawer&) = delete;

  // One file per entry of document.pictures(), in order, written into `folder`.
  std::vector<std::string> Draw(const DocumentContent& document, PictureKind kind, const std::string& folder);

  // Ends the private presentation application, and with it its hold on the renderer.
  void Release();

 private:
  std::shared_ptr<pptx::ApplicationState> drawing_;
};

}  // namespace quorvane::engines::word
