// The renderer of a build without an office (engines/shared/renderer.hpp): it serves nothing, and fails
// every operation as a format nobody writes (E_FAIL). Compiled only when QUORVANE_ENGINE_LIBREOFFICE
// is off; libreoffice.cpp is the renderer otherwise.
#include "common/failures.hpp"
#include "engines/shared/renderer.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::engines {

namespace {

class NoLease final : public RendererLease {
 public:
  void ConvertDocument(const std::string&, const std::string&, const std::string&,
                       const FilterOptions&) const override {
    throw AutomationError(failure::kEFail, u"This format needs the office, which this build does not include.");
  }
  void DrawSlides(const std::string&, const std::vector<SlidePicture>&) const override {
    throw failure::Error(failure::kEFail);
  }
};

class NoRenderer final : public Renderer {
 public:
  bool BuiltIn() const override { return false; }
  bool Available(std::string* why) const override {
    if (why) *why = "the component was built without the renderer";
    return false;
  }
  std::shared_ptr<const RendererLease> Acquire() const override { return std::make_shared<NoLease>(); }
  std::string_view PictureFilterName(std::string_view) const override { return {}; }
  std::string InputFault(const std::string&, std::uint64_t) const override {
    return "this build reads only Office Open XML presentations";
  }
};

}  // namespace

const Renderer& TheRenderer() {
  static const NoRenderer renderer;
  return renderer;
}

}  // namespace quorvane::engines
