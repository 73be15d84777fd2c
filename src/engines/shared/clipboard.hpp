#pragma once
// The slide clipboard, as the system clipboard is on a desktop: the last slide that a presentation
// application copied (Slide.Copy) is what a document application pastes (Selection.Paste), whichever
// application copied it.
//
// One clipboard per thread. A conversion copies and pastes on the thread that runs it, and a host
// may run several conversions at once on several threads (the command's -j N does); one clipboard
// for the whole process would let one conversion paste the slide another just copied. Per thread,
// each conversion pastes only its own slides, and a copy on one thread never replaces what another
// is about to paste.
//
// Each presentation application keeps its own clipboard besides (ApplicationState::clipboard, for
// Slides.Paste); Slide.Copy puts the same snapshot on both. The entry holds the copied slide's parts
// (SlideClip, immutable, owned by the entry) and the size of the slide it was copied from, which the
// clip itself does not carry (the slide size belongs to the presentation, not to the slide).
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

// Replaces the calling thread's clipboard content; null empties it.
void PutSlide(std::shared_ptr<const CopiedSlide> slide);
// The slide on the calling thread's clipboard, or null when nothing was copied on this thread.
std::shared_ptr<const CopiedSlide> CurrentSlide();

}  // namespace quorvane::engines::clipboard
