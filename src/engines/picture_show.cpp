// The picture presentation (picture_show.hpp).
#include "engines/picture_show.hpp"

#include <stdexcept>
#include <utility>

#include "common/failures.hpp"
#include "common/text.hpp"
#include "engines/pptx/builder.hpp"

namespace quorvane::engines::picture_show {

namespace {

namespace builder = pptx::builder;

// The builder puts the one picture it knows into this part; every slide gets a part of its own.
constexpr std::string_view kMediaFolder = "/ppt/media/";

// Text the builder can write: the control characters XML cannot hold are left out (the model
// never reads them from a part, but a text inserted through the object model may hold them).
std::u16string Writable(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (const char16_t c : text)
    if (c >= 0x20 || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v') out += c;
  return out;
}

}  // namespace

pptx::SaveFormatWriter PicturePresentationWriter(slide_output::SlideDrawer draw) {
  return [draw = std::move(draw)](pptx::PresentationModel& model, const std::string& path) {
    slide_output::RefuseFolderAsFile(path);
    const std::vector<slide_output::SlideContent> contents = slide_output::SlideContents(model);
    const slide_output::SlideSize size = slide_output::SlideSizeOf(model);

    builder::DeckPlan plan;
    plan.slideWidthEmu = size.cx;
    plan.slideHeightEmu = size.cy;
    plan.firstSlideNumber = model.firstSlideNumber();
    std::vector<std::int32_t> numbers;
    for (const auto& content : contents) {
      builder::SlidePlan slide;
      builder::ShapePlan picture = builder::Picture();
      picture.name = u"Picture 1";
      picture.frame = builder::Frame{0, 0, size.cx, size.cy};
      picture.description = u"Slide " + text::Decimal(content.number);
      slide.shapes.push_back(std::move(picture));
      slide.hidden = content.hidden;
      // The notes body alone (the builder puts the slide picture placeholder in front): the
      // original's notes text, and no slide number or other text besides.
      if (!content.notes.empty()) slide.notes = std::vector<builder::ShapePlan>{builder::Body(Writable(content.notes))};
      plan.slides.push_back(std::move(slide));
      numbers.push_back(content.number);
    }

    builder::BuiltDeck deck;
    try {
      deck = builder::Render(plan);
    } catch (const std::invalid_argument& e) {
      throw AutomationError(failure::kWin32InvalidData,
                            u"Cannot save \"" + text::FromUtf8(path) + u"\" as a picture presentation: " +
                                text::FromUtf8(e.what()) + u".");
    }
    const std::vector<std::string> pictures = numbers.empty() ? std::vector<std::string>() : draw(model, numbers, "PNG");

    // Slide i shows /ppt/media/image<i>.png: the builder's one picture part becomes slide 1's and
    // every other slide's picture relationship is pointed at a part of its own.
    std::erase_if(deck.parts, [](const builder::BuiltPart& part) { return part.name.starts_with(kMediaFolder); });
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      const std::string media = std::string(kMediaFolder) + "image" + std::to_string(i + 1) + ".png";
      deck.parts.push_back({media, std::string(builder::content_type::kPng), slide_output::ReadFileBytes(pictures.at(i))});
      const std::string slidePart = "/ppt/slides/slide" + std::to_string(i + 1) + ".xml";
      for (auto& entry : deck.relationships) {
        if (entry.source != slidePart) continue;
        for (auto& relationship : entry.relationships) {
          if (relationship.type != builder::rel_type::kImage) continue;
          relationship.partName = media;
          relationship.target = pptx::part_name::RelativeTarget(slidePart, media);
        }
      }
    }

    auto package = pptx::Package::Create();
    for (auto& part : deck.parts) package->SetPart(part.name, std::move(part.bytes), part.contentType);
    for (const auto& entry : deck.relationships) package->SetRelationships(entry.source, entry.relationships);
    package->Save(path);
  };
}

}  // namespace quorvane::engines::picture_show
