// The application-side objects: Application, Presentations, Presentation, PageSetup, Slides,
// Slide and NotesPage. Each is a thin view over the shared state of model.hpp; none caches
// anything of the presentation, so every request reads the model as it is now. The converters ask
// for the same views over and over (Presentation.Slides.Item(i).Shapes for every request on a
// shape), so a view hands out the last view it made again while that still shows the same thing:
// Presentation its Slides, Slides its last Slide, a Slide its Shapes and NotesPage, a notes page
// its last Shapes. Views refer only downwards (to the model, a slide record, a page), never back.
//
// Presentations.Add, Slide.Copy, Slides.Paste and Presentation.SaveAs are the write side's
// (model_write.hpp). Slide.Export and the opening of legacy and OpenDocument files go to the
// renderer (engines/render_bridge.hpp); so do the save formats it registers.
#include <cmath>
#include <utility>

#include "common/text.hpp"
#include "engines/pptx/model_shapes.hpp"
#include "engines/pptx/model_write.hpp"
#include "engines/pptx/reading.hpp"
#include "engines/shared/render_bridge.hpp"

namespace quorvane::engines::pptx {

namespace ppt = office::ppt;
using office::Tristate;

namespace {

// p:sldSz bounds (ST_SlideSizeCoordinate): 1 to 56 inches.
constexpr std::int64_t kMinSlideSize = 914400;
constexpr std::int64_t kMaxSlideSize = 51206400;
// A slide of p:presentation without p:sldSz: 10 x 7.5 inches.
constexpr std::int64_t kDefaultSlideWidth = 9144000;
constexpr std::int64_t kDefaultSlideHeight = 6858000;

class NotesPageObject final : public ppt::NotesPage {
 public:
  NotesPageObject(std::shared_ptr<PresentationModel> model, std::shared_ptr<SlideRecord> slide)
      : model_(std::move(model)), slide_(std::move(slide)) {}

  // The page of the slide's first notesSlide relationship; without one, a fresh page that exists
  // only in memory.
  std::shared_ptr<ppt::Shapes> Shapes() override {
    model_->Enter("NotesPage.Shapes");
    const std::string& partName = model_->NotesPartOf(*slide_);
    std::shared_ptr<PartDocument> fresh = partName.empty() ? model_->FreshNotesPage(*slide_) : nullptr;
    if (shapes_ && page_->partName == partName && page_->fresh == fresh) return shapes_;
    auto page = std::make_shared<Page>();
    page->model = model_;
    page->slide = slide_;
    page->notes = true;
    page->partName = partName;
    page->fresh = std::move(fresh);
    page_ = page;
    shapes_ = MakeShapes(std::move(page));
    return shapes_;
  }

 private:
  std::shared_ptr<PresentationModel> model_;
  std::shared_ptr<SlideRecord> slide_;
  // The last page answered: handed out again while the slide's notes page is still that page.
  std::shared_ptr<const Page> page_;
  std::shared_ptr<ppt::Shapes> shapes_;
};

class SlideObject final : public ppt::Slide {
 public:
  SlideObject(std::shared_ptr<PresentationModel> model, std::shared_ptr<SlideRecord> slide)
      : model_(std::move(model)), slide_(std::move(slide)) {}

  void Copy() override {
    model_->Enter("Slide.Copy");
    CopySlide(*model_, *slide_);
  }
  std::shared_ptr<ppt::Shapes> Shapes() override {
    model_->Enter("Slide.Shapes");
    if (shapes_ && page_->partName == slide_->partName) return shapes_;
    auto page = std::make_shared<Page>();
    page->model = model_;
    page->slide = slide_;
    page->partName = slide_->partName;
    page_ = page;
    shapes_ = MakeShapes(std::move(page));
    return shapes_;
  }
  std::shared_ptr<ppt::NotesPage> NotesPage() override {
    model_->Enter("Slide.NotesPage");
    if (!notesPage_) notesPage_ = std::make_shared<NotesPageObject>(model_, slide_);
    return notesPage_;
  }
  void Export(const std::u16string& fileName, const std::u16string& filterName, std::int32_t scaleWidth,
              std::int32_t scaleHeight) override {
    model_->Enter("Slide.Export");
    render_bridge::ExportSlide(*model_, *slide_, fileName, filterName, scaleWidth, scaleHeight);
  }
  void ExportWithQuality(const std::u16string& fileName, const std::u16string& filterName, std::int32_t scaleWidth,
                         std::int32_t scaleHeight, std::int32_t quality) override {
    model_->Enter("Slide.Export");
    render_bridge::ExportSlide(*model_, *slide_, fileName, filterName, scaleWidth, scaleHeight, quality);
  }

 private:
  std::shared_ptr<PresentationModel> model_;
  std::shared_ptr<SlideRecord> slide_;
  std::shared_ptr<const Page> page_;  // the page shapes_ shows
  std::shared_ptr<ppt::Shapes> shapes_;
  std::shared_ptr<ppt::NotesPage> notesPage_;
};

class SlidesObject final : public ppt::Slides {
 public:
  explicit SlidesObject(std::shared_ptr<PresentationModel> model) : model_(std::move(model)) {}

  std::int32_t Count() override {
    model_->Enter("Slides.Count");
    return static_cast<std::int32_t>(model_->slides().size());
  }
  std::shared_ptr<ppt::Slide> Item(std::int32_t index) override {
    model_->Enter("Slides.Item");
    const auto& slides = model_->slides();
    if (index < 1 || static_cast<std::size_t>(index) > slides.size())
      throw OutOfRange("Slides.Item", index, slides.size());
    const auto& slide = slides[static_cast<std::size_t>(index) - 1];
    if (!last_ || lastSlide_ != slide) {
      last_ = std::make_shared<SlideObject>(model_, slide);
      lastSlide_ = slide;
    }
    return last_;
  }
  void Paste(std::int32_t index) override {
    model_->Enter("Slides.Paste");
    PasteSlide(*model_, index);
  }

 private:
  std::shared_ptr<PresentationModel> model_;
  // The last slide answered, and the record it shows.
  std::shared_ptr<ppt::Slide> last_;
  std::shared_ptr<SlideRecord> lastSlide_;
};

// The slide size, p:sldSz of the presentation part, in points.
class PageSetupObject final : public ppt::PageSetup {
 public:
  explicit PageSetupObject(std::shared_ptr<PresentationModel> model) : model_(std::move(model)) {}

  float SlideHeight() override { return Read("PageSetup.SlideHeight", "cy", kDefaultSlideHeight); }
  float SlideWidth() override { return Read("PageSetup.SlideWidth", "cx", kDefaultSlideWidth); }
  void put_SlideHeight(float value) override { Write("PageSetup.SlideHeight", "cy", "cx", kDefaultSlideWidth, value); }
  void put_SlideWidth(float value) override { Write("PageSetup.SlideWidth", "cx", "cy", kDefaultSlideHeight, value); }

 private:
  float Read(std::string_view member, const char* attribute, std::int64_t fallback) const {
    model_->Enter(member);
    const xml::Node size = xml::Child(model_->PresentationDocument()->root(), "p:sldSz");
    return static_cast<float>(static_cast<double>(xml::IntAttr(size, attribute, fallback)) / kEmuPerPoint);
  }

  // Sizes outside 1 to 56 inches are refused, as the file format cannot hold them. A changed size
  // no longer matches a named size type, so the type attribute goes (its default is "custom").
  void Write(std::string_view member, const char* attribute, const char* other, std::int64_t otherFallback,
             float points) {
    model_->Enter(member);
    const double emu = static_cast<double>(points) * kEmuPerPoint;
    if (!std::isfinite(emu) || std::llround(emu) < kMinSlideSize || std::llround(emu) > kMaxSlideSize)
      throw InvalidRequest(member,
                           u"The specified value is out of range. The slide size must be between 72 and "
                           u"4032 points.");
    auto& document = *model_->PresentationDocument();
    xml::Node root = document.root();
    xml::Node size = root.child("p:sldSz");
    if (!size) {
      // p:sldSz follows the id lists and precedes p:notesSz.
      if (const xml::Node notesSize = root.child("p:notesSz")) {
        size = root.insert_child_before("p:sldSz", notesSize);
      } else {
        xml::Node after;
        for (const char* name : {"p:sldMasterIdLst", "p:notesMasterIdLst", "p:handoutMasterIdLst", "p:sldIdLst"})
          if (const xml::Node n = root.child(name)) after = n;
        size = after ? root.insert_child_after("p:sldSz", after) : root.prepend_child("p:sldSz");
      }
    }
    if (!size.attribute(other)) size.append_attribute(other).set_value(static_cast<long long>(otherFallback));
    xml::Attribute target = size.attribute(attribute);
    if (!target) target = size.append_attribute(attribute);
    target.set_value(static_cast<long long>(std::llround(emu)));
    size.remove_attribute("type");
    model_->MarkDirty(document);
  }

  std::shared_ptr<PresentationModel> model_;
};

}  // namespace

class PresentationObject final : public ppt::Presentation {
 public:
  explicit PresentationObject(std::shared_ptr<PresentationModel> model) : model_(std::move(model)) {}

  std::shared_ptr<ppt::Slides> Slides() override {
    model_->Enter("Presentation.Slides");
    if (!slides_) slides_ = std::make_shared<SlidesObject>(model_);
    return slides_;
  }
  std::shared_ptr<ppt::PageSetup> PageSetup() override {
    model_->Enter("Presentation.PageSetup");
    return std::make_shared<PageSetupObject>(model_);
  }
  // Fonts are never embedded: the flag is ignored.
  void SaveAs(const std::u16string& fileName, std::int32_t fileFormat, Tristate) override {
    model_->Enter("Presentation.SaveAs");
    SavePresentation(*model_, fileName, fileFormat);
  }
  void ExportAsFixedFormat(const std::u16string& fileName, const ppt::FixedFormatOptions& options) override {
    constexpr std::string_view kMember = "Presentation.ExportAsFixedFormat";
    model_->Enter(kMember);
    SavePresentationWith(
        *model_, fileName,
        [&options](PresentationModel& model, const std::string& path) {
          render_bridge::ExportPdf(model, path, options.printHiddenSlides, options.notesPages, options.pdfa);
        },
        kMember);
  }
  void Close() override {
    model_->Enter("Presentation.Close");
    model_->Close();
    model_->renderState.reset();
  }

  void Read(office::reading::Sink& sink) override {
    model_->Enter("Presentation.Read");
    ReadPresentation(*model_, sink);
  }

  const std::shared_ptr<PresentationModel>& model() const { return model_; }

 private:
  std::shared_ptr<PresentationModel> model_;
  std::shared_ptr<ppt::Slides> slides_;
};

namespace {

class PresentationsObject final : public ppt::Presentations {
 public:
  explicit PresentationsObject(std::shared_ptr<ApplicationState> app) : app_(std::move(app)) {}

  // The flags do not change how the file is read; the file is never written.
  std::shared_ptr<ppt::Presentation> Open(const std::u16string& fileName, Tristate readOnly, Tristate untitled,
                                          Tristate) override {
    app_->Enter();
    if (!text::IsUsableFileName(fileName))
      throw AutomationError(failure::kWin32FileNotFound, u"\"" + fileName +
                                                             u"\" cannot be opened: the name is not a valid "
                                                             u"file name (it holds a NUL character or an "
                                                             u"unpaired surrogate).");
    const std::string path = text::ToUtf8(fileName);
    std::shared_ptr<PresentationModel> model;
    try {
      model = PresentationModel::Open(app_, path);
    } catch (const AutomationError&) {
      // A legacy or OpenDocument presentation is read through the renderer; anything else keeps
      // the native refusal.
      if (!render_bridge::IsForeignPresentation(path)) throw;
      model = render_bridge::OpenForeign(app_, path);
    }
    model->readOnly = readOnly != 0;
    model->untitled = untitled != 0;
    return std::make_shared<PresentationObject>(std::move(model));
  }
  // A presentation never has a window here: the flag is ignored.
  std::shared_ptr<ppt::Presentation> Add(Tristate) override {
    app_->Enter();
    return std::make_shared<PresentationObject>(NewPresentation(app_));
  }

 private:
  std::shared_ptr<ApplicationState> app_;
};

class ApplicationObject final : public ppt::Application {
 public:
  explicit ApplicationObject(std::shared_ptr<ApplicationState> state) : state_(std::move(state)) {}

  std::u16string Name() override {
    state_->Enter();
    return std::u16string(kApplicationName);
  }
  std::u16string Version() override {
    state_->Enter();
    return std::u16string(kApplicationVersion);
  }
  std::shared_ptr<ppt::Presentations> Presentations() override {
    state_->Enter();
    return std::make_shared<PresentationsObject>(state_);
  }
  void Quit() override {
    state_->Enter();
    const auto open = state_->presentations;
    state_->Quit();
    // Temporary copies go with their presentations, and the office with the last lease.
    for (const auto& weak : open)
      if (const auto presentation = weak.lock()) presentation->renderState.reset();
    state_->renderer.reset();
  }

 private:
  std::shared_ptr<ApplicationState> state_;
};

}  // namespace

std::shared_ptr<ppt::Application> MakeApplication(const Limits& limits) {
  return std::make_shared<ApplicationObject>(std::make_shared<ApplicationState>(limits));
}

std::shared_ptr<PresentationModel> ModelOf(const std::shared_ptr<ppt::Presentation>& presentation) {
  const auto object = std::dynamic_pointer_cast<PresentationObject>(presentation);
  return object ? object->model() : nullptr;
}

}  // namespace quorvane::engines::pptx
