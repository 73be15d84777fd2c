// The XPS document and the slide show video (media_formats.hpp).
#include "engines/media_formats.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>

#include "common/failures.hpp"
#include "common/output_file.hpp"
#include "common/owned_folder.hpp"
#include "common/text.hpp"
#include "engines/external_program.hpp"
#include "engines/pptx/model.hpp"
#include "engines/pptx/package.hpp"
#include "engines/pptx/xml.hpp"
#include "engines/slide_output.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::engines::media_formats {

namespace {

namespace xml = pptx::xml;
using std::chrono::milliseconds;

constexpr std::int32_t kTallestVideo = 4096;
constexpr milliseconds kLongestSlideTime = std::chrono::hours(24);

// A target that would be refused at the end is refused before anything is drawn or run.
void CheckTarget(const std::string& path) {
  slide_output::RefuseFolderAsFile(path);
  try {
    output::ResolveTarget(path);
  } catch (const output::OutputError& error) {
    pptx::FailOutput(error);
  }
}

void Place(const std::string& made, const std::string& path) {
  try {
    output::PutInPlace(made, path);
  } catch (const output::OutputError& error) {
    pptx::FailOutput(error);
  }
}

std::int32_t Even(double value) {
  return std::max<std::int32_t>(2, 2 * static_cast<std::int32_t>(std::lround(value / 2)));
}

// Ghostscript reads "%d" in an output name as a page number: a literal "%" is written twice.
std::string GhostscriptName(const std::string& path) {
  std::string out;
  for (const char c : path) out += c == '%' ? std::string("%%") : std::string(1, c);
  return out;
}

// A name in ffmpeg's concat list: quoted, with a quote written as '\''.
std::string ConcatName(const std::string& path) {
  std::string out = "'";
  for (const char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Seconds(milliseconds time) {
  return std::to_string(time.count() / 1000) + "." + std::to_string(1000 + time.count() % 1000).substr(1);
}

}  // namespace

std::vector<ShowStep> ShowSteps(pptx::PresentationModel& model) {
  constexpr milliseconds kOneFrame{1000 / kVideoFrameRate};
  std::vector<ShowStep> steps;
  const auto slides = model.slides();
  for (const auto& slide : slides) {
    ShowStep step;
    step.number = static_cast<std::int32_t>(slide->index) + 1;
    step.time = kDefaultSlideTime;
    try {
      const xml::Node root = model.Document(slide->partName)->root();
      if (!xml::BoolAttr(root, "show", true)) continue;
      const xml::Node transition = xml::Child(root, "p:transition");
      if (transition && !xml::Attr(transition, "advTm").empty())
        step.time = std::clamp(milliseconds(xml::IntAttr(transition, "advTm", 0)), kOneFrame, kLongestSlideTime);
    } catch (const AutomationError&) {
      // A slide part that cannot be read is shown as the renderer draws it, for the default time.
    }
    steps.push_back(step);
  }
  return steps;
}

PixelSize VideoSize(std::int64_t cx, std::int64_t cy) {
  if (cx <= 0 || cy <= 0) return {kVideoWidth, kVideoWidth * 3 / 4};
  const double ratio = static_cast<double>(cy) / static_cast<double>(cx);
  if (kVideoWidth * ratio <= kTallestVideo) return {kVideoWidth, Even(kVideoWidth * ratio)};
  return {Even(kTallestVideo / ratio), kTallestVideo};
}

pptx::SaveFormatWriter XpsWriter(pptx::SaveFormatWriter pdf) {
  return [pdf = std::move(pdf)](pptx::PresentationModel& model, const std::string& path) {
    CheckTarget(path);
    const cleanup::TemporaryFolder work;
    const std::string pdfPath = work.path() + "/slides.pdf";
    const std::string xpsPath = work.path() + "/slides.xps";
    pdf(model, pdfPath);
    external_program::Run({"gs", "ghostscript", "the XPS document"},
                          {"-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=xpswrite",
                           "-sOutputFile=" + GhostscriptName(xpsPath), pdfPath},
                          external_program::DeadlineFor(model.slides().size()), work.path());
    Place(xpsPath, path);
  };
}

pptx::SaveFormatWriter VideoWriter(SizedDrawer draw) {
  return [draw = std::move(draw)](pptx::PresentationModel& model, const std::string& path) {
    CheckTarget(path);
    const std::vector<ShowStep> steps = ShowSteps(model);
    if (steps.empty())
      throw AutomationError(failure::kWin32InvalidData,
                            u"Cannot save \"" + text::FromUtf8(path) + u"\" as a video: every slide is hidden.");
    const slide_output::SlideSize slide = slide_output::SlideSizeOf(model);
    const PixelSize size = VideoSize(slide.cx, slide.cy);
    std::vector<std::int32_t> numbers;
    milliseconds total{0};
    for (const ShowStep& step : steps) {
      numbers.push_back(step.number);
      total += step.time;
    }
    const std::vector<std::string> pictures = draw(model, numbers, size.width, size.height);

    const cleanup::TemporaryFolder work;
    // The concat list: each picture with its time. The last is named once more, without a time,
    // or its time would not count; the output's length (-t) cuts what that adds.
    const std::string list = work.path() + "/show.ffconcat";
    {
      std::ofstream out(list, std::ios::binary);
      out << "ffconcat version 1.0\n";
      for (std::size_t i = 0; i < steps.size(); ++i)
        out << "file " << ConcatName(pictures.at(i)) << "\nduration " << Seconds(steps[i].time) << "\n";
      out << "file " << ConcatName(pictures.back()) << "\n";
      if (!out.flush())
        throw AutomationError(failure::kStgCantSave, u"Cannot save \"" + text::FromUtf8(path) +
                                                         u"\" as a video: the list of its pictures cannot be written.");
    }
    const std::string video = work.path() + "/show.wmv";
    const std::string frames = std::to_string(size.width) + ":" + std::to_string(size.height);
    // The pictures are scaled in case one was drawn a pixel off, converted once, then repeated.
    // clang-format off
    const std::vector<std::string> arguments{
        "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
        "-f", "concat", "-safe", "0", "-i", "file:" + list,
        "-vf", "scale=" + frames + ",setsar=1,format=yuv420p,fps=" + std::to_string(kVideoFrameRate),
        "-t", Seconds(total), "-c:v", "wmv2", "-q:v", "3", "-g", std::to_string(10 * kVideoFrameRate),
        "-an", "-f", "asf", "file:" + video};
    // clang-format on
    const auto seconds = static_cast<std::size_t>(total.count() / 1000);
    external_program::Run({"ffmpeg", "ffmpeg", "the video"}, arguments,
                          external_program::DeadlineFor(steps.size() + seconds), work.path());
    Place(video, path);
  };
}

}  // namespace quorvane::engines::media_formats
