#pragma once
// Save formats that the system's programs finish (external_program.hpp):
// - 33, an XPS document: the PDF of the same slides (hidden slides left out, as in the PDF) turned
//   into XPS by Ghostscript (package "ghostscript");
// - 37, a video: the slide show as Windows Media Video 8 in an ASF container, made by ffmpeg
//   (package "ffmpeg"). Each shown slide is one picture 1280 pixels wide (the height by the slide's
//   ratio, even; a slide taller than wide is fitted into 4096 pixels of height instead), held for
//   its automatic advance time (p:transition@advTm, at least one frame) or else kDefaultSlideTime,
//   at kVideoFrameRate frames a second with a key frame every 10 s. Hidden slides are left out; a
//   show without a shown slide fails (0x8007000D).
//
// Both work in a private temporary folder and put the result in place only when it is whole
// (output::PutInPlace): a failure leaves an older output as it was and nothing in the temporary
// folder. Failures: the target's (the package layer's numbers), the renderer's, and the program's
// (external_program.hpp: a missing program names itself and its package).
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engines/pptx/model_write.hpp"

namespace quorvane::engines::media_formats {

inline constexpr std::chrono::milliseconds kDefaultSlideTime{5000};
// Slides stand still: a low rate keeps the encoding short (ffmpeg encodes every frame).
inline constexpr int kVideoFrameRate = 5;
inline constexpr std::int32_t kVideoWidth = 1280;

// Draws slides (1-based numbers) as PNG pictures of `width` x `height` pixels; one file per number,
// in the order asked, read before the next call.
using SizedDrawer = std::function<std::vector<std::string>(pptx::PresentationModel& model,
                                                           const std::vector<std::int32_t>& slideNumbers,
                                                           std::int32_t width, std::int32_t height)>;

// A slide of the show: its number and how long it stays.
struct ShowStep {
  std::int32_t number = 0;
  std::chrono::milliseconds time{0};
};
// The slides a show plays, in order: every slide that is not hidden.
std::vector<ShowStep> ShowSteps(pptx::PresentationModel& model);

// The picture size of the video for a slide of `cx` x `cy` EMU.
struct PixelSize {
  std::int32_t width = 0;
  std::int32_t height = 0;
};
PixelSize VideoSize(std::int64_t cx, std::int64_t cy);

// `pdf` writes the PDF the XPS document is made from.
pptx::SaveFormatWriter XpsWriter(pptx::SaveFormatWriter pdf);
pptx::SaveFormatWriter VideoWriter(SizedDrawer draw);

}  // namespace quorvane::engines::media_formats
