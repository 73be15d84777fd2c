// The slide show video beyond its pictures: a generated 10-slide deck (5 s a slide, so a 50 s
// video) is drawn once as 1280-pixel pictures through the renderer (timed apart), then the video
// writer makes the video from those pictures `runs` times (default 3). Prints the pictures' time
// and each video's; the target for the video is under 3 s.
//
// Usage: quorvane_media_bench [runs]. Files go to a private folder under the temporary directory,
// removed at the end. Exits non-zero when something fails.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "common/owned_folder.hpp"
#include "common/text.hpp"
#include "deckmaker/decks.hpp"
#include "engines/media_formats.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/model.hpp"
#include "quorvane/automation_error.hpp"

namespace {

namespace builder = quorvane::engines::pptx::builder;
namespace media = quorvane::engines::media_formats;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  try {
    const quorvane::cleanup::TemporaryFolder folder;
    const std::string deck = folder.path() + "/deck.pptx";
    builder::Write(builder::Generated(10), deck);
    auto app = quorvane::engines::pptx::CreateApplication();
    auto presentation = app->Presentations()->Open(quorvane::text::FromUtf8(deck), -1, 0, 0);
    auto model = quorvane::engines::pptx::ModelOf(presentation);

    const Clock::time_point drawing = Clock::now();
    std::vector<std::string> pictures;
    const std::int32_t slides = presentation->Slides()->Count();
    for (std::int32_t i = 1; i <= slides; ++i) {
      pictures.push_back(folder.path() + "/slide" + std::to_string(i) + ".png");
      presentation->Slides()->Item(i)->Export(quorvane::text::FromUtf8(pictures.back()), u"PNG", 1280, 960);
    }
    std::printf("pictures: %d slides drawn in %.2f s\n", slides, Seconds(drawing));

    const auto write = media::VideoWriter([&](quorvane::engines::pptx::PresentationModel&,
                                              const std::vector<std::int32_t>& numbers, std::int32_t, std::int32_t) {
      std::vector<std::string> files;
      for (const std::int32_t number : numbers) files.push_back(pictures.at(static_cast<std::size_t>(number - 1)));
      return files;
    });
    for (int run = 1; run <= runs; ++run) {
      const Clock::time_point start = Clock::now();
      write(*model, folder.path() + "/show.wmv");
      std::printf("video %d: %.2f s (%ju bytes)\n", run, Seconds(start),
                  static_cast<std::uintmax_t>(std::filesystem::file_size(folder.path() + "/show.wmv")));
    }
    presentation->Close();
    app->Quit();
  } catch (const quorvane::AutomationError& e) {
    std::fprintf(stderr, "failed: %s\n", quorvane::text::ToUtf8(e.description()).c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "failed: %s\n", e.what());
    return 1;
  }
  return 0;
}
