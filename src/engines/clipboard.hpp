#pragma once
// The process's clipboard for slides, as the system clipboard is on a desktop: the last slide that
// any presentation application of this process copied (Slide.Copy) is what a document application
// pastes (Selection.Paste), whichever application copied it.
//
// Each presentation application keeps its own clipboard besides (ApplicationState::clipboard, for
// Slides.Paste); Slide.Copy puts the same snapshot on both. The entry holds the copied slide's parts
// (SlideClip, immutable, owned by the entry) and the size of the slide it was copied from, which the
// clip itself does not carry (the slide size belongs to the presentation, not to the slide).
//
// Thread-safe: copies and pastes on different threads see whole entries, the last one put winning.
#include <cstdint>
#include <memory>

namespace quorvane::engines::pptx {
struct SlideClip;
}  // namespace quorvane::engines::pptx

namespace quorvane::engines::clipboard {

struct CopiedSlide {
  std::shared_ptr<const pptx::SlideClip> clip;  // never null in an entry
  std::int64_t widthEmu = 0;                    // the slide size of its presentation at the copy
  std::int64_t heightEmu = 0;
};

// Replaces the clipboard's content; null empties it.
void PutSlide(std::shared_ptr<const CopiedSlide> slide);
// The slide on the clipboard, or null when nothing was copied.
std::shared_ptr<const CopiedSlide> CurrentSlide();

}  // namespace quorvane::engines::clipboard
