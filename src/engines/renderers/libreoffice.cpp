// The renderer of a build with LibreOffice (engines/shared/renderer.hpp): a thin adapter over the office
// pool of engines/libreoffice/. Compiled only when QUORVANE_ENGINE_LIBREOFFICE is on; none.cpp
// stands in for it otherwise.
#include <utility>

#include "engines/libreoffice/compound_file.hpp"
#include "engines/libreoffice/renderer.hpp"
#include "engines/shared/renderer.hpp"

namespace quorvane::engines {

namespace {

namespace lo = libreoffice;

class OfficeLease final : public RendererLease {
 public:
  explicit OfficeLease(lo::RendererLease lease) : lease_(std::move(lease)) {}

  void ConvertDocument(const std::string& input, const std::string& output, const std::string& filterName,
                       const FilterOptions& options) const override {
    lease_.ConvertDocument(input, output, filterName, lo::FilterOptions{options.options, options.data});
  }

  void Prestart() const override { lease_.Prestart(); }

  void DrawSlides(const std::string& input, const std::vector<SlidePicture>& pictures) const override {
    std::vector<lo::SlideExport> exports;
    exports.reserve(pictures.size());
    for (const SlidePicture& picture : pictures) {
      lo::SlideExport slide;
      slide.slide = picture.slide;
      slide.path = picture.path;
      slide.filter = picture.filter;
      slide.pixelWidth = picture.pixelWidth;
      slide.pixelHeight = picture.pixelHeight;
      slide.quality = picture.quality;
      exports.push_back(std::move(slide));
    }
    lease_.ExportSlides(input, exports);
  }

 private:
  lo::RendererLease lease_;
};

class OfficeRenderer final : public Renderer {
 public:
  bool BuiltIn() const override { return true; }
  bool Available(std::string* why) const override { return lo::Renderer::Available(why); }
  std::shared_ptr<const RendererLease> Acquire() const override {
    return std::make_shared<OfficeLease>(lo::Renderer::Acquire());
  }
  std::string_view PictureFilterName(std::string_view name) const override {
    const lo::PictureFilter* filter = lo::FindPictureFilter(name);
    return filter ? filter->name : std::string_view();
  }
  std::string InputFault(const std::string& path, std::uint64_t maxSize) const override {
    return lo::CompoundFileFault(path, maxSize);
  }
};

}  // namespace

const Renderer& TheRenderer() {
  static const OfficeRenderer renderer;
  return renderer;
}

}  // namespace quorvane::engines
