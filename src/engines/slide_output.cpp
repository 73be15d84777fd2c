// Slide contents, staged output folders and the metafile folder (slide_output.hpp).
#include "engines/slide_output.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <system_error>
#include <utility>

#include "common/platform.hpp"
#include "common/cleanup.hpp"
#include "common/failures.hpp"
#include "common/numbered_files.hpp"
#include "common/output_file.hpp"
#include "common/text.hpp"
#include "engines/pptx/model_shapes.hpp"
#include "office/object_model.hpp"

namespace quorvane::engines::slide_output {

namespace {

namespace ppt = office::ppt;
namespace fs = std::filesystem;

constexpr std::int32_t kPlaceholderVerticalTitle = 5;

// A slide of p:presentation without p:sldSz: 10 x 7.5 inches.
constexpr std::int64_t kDefaultSlideWidth = 9144000;
constexpr std::int64_t kDefaultSlideHeight = 6858000;

[[noreturn]] void Fail(std::int32_t number, const std::string& description) {
  throw AutomationError(number, text::FromUtf8(description));
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// One request of the text walk: a shape whose text cannot be read is passed over, as the text
// export passes over what fails.
template <typename Fn>
void Attempt(Fn&& request) {
  try {
    request();
  } catch (const AutomationError&) {
  }
}

// The texts of the placeholders of `shapes` whose type is one of `types`, joined by CR.
std::u16string PlaceholderText(ppt::Shapes& shapes, std::initializer_list<std::int32_t> types) {
  std::u16string out;
  Attempt([&] {
    const auto placeholders = shapes.Placeholders();
    const std::int32_t count = placeholders->Count();
    for (std::int32_t p = 1; p <= count; ++p) {
      Attempt([&] {
        const auto shape = placeholders->Item(p);
        const std::int32_t type = shape->PlaceholderFormat()->Type();
        if (std::find(types.begin(), types.end(), type) == types.end() || shape->HasTextFrame() == 0) return;
        const auto frame = shape->TextFrame();
        if (frame->HasText() == 0) return;
        const std::u16string text = frame->TextRange()->Text();
        if (text.empty()) return;
        if (!out.empty()) out += u'\r';
        out += text;
      });
    }
  });
  return out;
}

std::shared_ptr<ppt::Shapes> ShapesOf(pptx::PresentationModel& model, const std::shared_ptr<pptx::SlideRecord>& slide,
                                      bool notes) {
  auto page = std::make_shared<pptx::Page>();
  page->model = model.shared_from_this();
  page->slide = slide;
  page->notes = notes;
  page->partName = notes ? model.NotesPartOf(*slide) : slide->partName;
  return pptx::MakeShapes(std::move(page));
}

}  // namespace

std::vector<SlideContent> SlideContents(pptx::PresentationModel& model) {
  std::vector<SlideContent> contents;
  const auto slides = model.slides();  // a copy: the walk must not see the list change
  contents.reserve(slides.size());
  for (const auto& slide : slides) {
    SlideContent content;
    content.number = static_cast<std::int32_t>(slide->index) + 1;
    // A slide part that cannot be read shows as its picture does; the text walk passes over it.
    Attempt([&] { content.hidden = !pptx::xml::BoolAttr(model.Document(slide->partName)->root(), "show", true); });
    Attempt([&] {
      const auto shapes = ShapesOf(model, slide, false);
      content.title =
          PlaceholderText(*shapes, {ppt::kPlaceholderTitle, ppt::kPlaceholderCenterTitle, kPlaceholderVerticalTitle});
    });
    Attempt([&] {
      if (model.NotesPartOf(*slide).empty()) return;
      const auto notes = ShapesOf(model, slide, true);
      content.notes = PlaceholderText(*notes, {ppt::kPlaceholderBody});
    });
    contents.push_back(std::move(content));
  }
  return contents;
}

SlideSize SlideSizeOf(const pptx::PresentationModel& model) {
  const pptx::xml::Node size = pptx::xml::Child(model.PresentationDocument()->root(), "p:sldSz");
  return {pptx::xml::IntAttr(size, "cx", kDefaultSlideWidth), pptx::xml::IntAttr(size, "cy", kDefaultSlideHeight)};
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(failure::kEAccessDenied, "Cannot read the slide picture " + Quoted(path) + ".");
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) Fail(failure::kEAccessDenied, "Cannot read the slide picture " + Quoted(path) + ".");
  return bytes;
}

std::string Stem(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

std::string FolderPart(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void RefuseFolderAsFile(const std::string& path) {
  struct stat info {};
  if (platform::Stat(path, info) == 0 && S_ISDIR(info.st_mode))
    Fail(failure::kEAccessDenied, "Cannot save " + Quoted(path) + ": it is a folder.");
}

// --- FolderOutput ------------------------------------------------------------------------------

FolderOutput::FolderOutput(std::string folder, std::vector<std::string> names) {
  try {
    staged_ = std::make_unique<output::StagedFolder>(std::move(folder), std::move(names));
  } catch (const output::OutputError& error) {
    pptx::FailOutput(error);
  }
  const std::vector<output::Target>& targets = staged_->targets();
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (targets[i].kind == output::Target::Kind::kFile && files::IsHeldForReading(targets[i].path)) {
      Fail(failure::kEAccessDenied, "Cannot save " + Quoted(staged_->folder()) + ": \"" + staged_->names()[i] +
                              "\" in it is the file of an open presentation.");
    }
  }
}

FolderOutput::~FolderOutput() = default;

void FolderOutput::Put(const std::string& name, std::string_view bytes) {
  pptx::WriteFileAtomically(staged_->StagedPath(name), bytes);
}

void FolderOutput::Commit() {
  try {
    staged_->Commit();
  } catch (const output::OutputError& error) {
    pptx::FailOutput(error);
  }
}

void FolderOutput::Rollback() noexcept { staged_->Rollback(); }

// --- The metafile folder -------------------------------------------------------------------------

std::string MetafileFolderOf(const std::string& path) {
  std::string folder = path;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::string stem = Stem(folder);
  const std::size_t slash = folder.rfind('/');
  return (slash == std::string::npos ? std::string() : folder.substr(0, slash + 1)) + stem;
}

pptx::SaveFormatWriter MetafileFolderWriter(SlideDrawer draw) {
  return [draw = std::move(draw)](pptx::PresentationModel& model, const std::string& path) {
    std::vector<std::int32_t> numbers;
    std::vector<std::string> names;
    for (std::size_t i = 1; i <= model.slides().size(); ++i) {
      numbers.push_back(static_cast<std::int32_t>(i));
      names.push_back("Slide" + std::to_string(i) + ".WMF");
    }
    FolderOutput output(MetafileFolderOf(path), names);
    const std::vector<std::string> pictures = draw(model, numbers, "WMF");
    for (std::size_t i = 0; i < names.size(); ++i) output.Put(names[i], ReadFileBytes(pictures.at(i)));
    output.Commit();
  };
}

}  // namespace quorvane::engines::slide_output
