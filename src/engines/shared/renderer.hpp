#pragma once
// The renderer as the engines see it: the one door through which the native presentation engine
// (through render_bridge.hpp) and the Word stand-in have documents converted by an office and
// slides drawn.
//
// Which renderer answers is decided by the build, in one place: TheRenderer() is defined once per
// kind of build, in engines/renderers/libreoffice.cpp (LibreOffice processes, engines/libreoffice/)
// or in engines/renderers/none.cpp (a build without an office). Nothing above this header knows
// which one it got; what must differ without an office asks BuiltIn().
//
// The renderer without an office serves nothing: BuiltIn() and Available() say no (Available with
// "the component was built without the renderer"), it knows no picture filter, and the operations
// of its lease fail with E_FAIL (0x80004005), a drawing with "PowerPoint can't export the slide(s)
// because no installed converter supports this file type.".
//
// Failures are AutomationErrors carrying the renderer's numbers (engines/libreoffice/failures.hpp);
// E_FAIL means only "this format cannot be written".
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace quorvane::engines {

// A value of an export filter's FilterData.
using FilterValue = std::variant<bool, std::int32_t, double, std::string>;

struct FilterOptions {
  std::string options;                                    // the filter's option string; empty: none
  std::vector<std::pair<std::string, FilterValue>> data;  // FilterData entries, in order
};

// One picture of a slide, to be drawn into `path`.
struct SlidePicture {
  std::int32_t slide = 1;  // 1-based, hidden slides included
  std::string path;
  std::string filter;  // a picture filter the renderer serves (Renderer::PictureFilterName)
  // Pixel size of raster pictures. 0 x 0: 96 dots per inch of the slide size; one of them 0: that
  // side follows the slide's aspect ratio. Ignored for metafiles.
  std::int32_t pixelWidth = 0;
  std::int32_t pixelHeight = 0;
  std::int32_t quality = 0;  // JPEG quality, 1 to 100; 0: the filter's default
};

// A hold on the renderer and the way to work through it. While any lease lives the renderer keeps
// its offices warm; when the last one goes they end. Thread-safe.
class RendererLease {
 public:
  virtual ~RendererLease() = default;

  // Loads `input` and stores it to `output` with the office's export filter `filterName`
  // ("impress_pdf_Export", "writer8", ...). The output appears complete or not at all.
  virtual void ConvertDocument(const std::string& input, const std::string& output, const std::string& filterName,
                               const FilterOptions& options) const = 0;

  // Loads `input` once and draws one picture per entry, in order. All pictures appear, or none.
  virtual void DrawSlides(const std::string& input, const std::vector<SlidePicture>& pictures) const = 0;

  // A call is about to come: a renderer that must start a process for it may start it now, in the
  // background, while the caller prepares the call. Never throws; a start that fails is the call's
  // to report.
  virtual void Prestart() const {}
};

class Renderer {
 public:
  virtual ~Renderer() = default;

  // Whether the component was built with an office renderer at all.
  virtual bool BuiltIn() const = 0;

  // Whether an office can be run here; when not, `why` (if given) says what is missing.
  virtual bool Available(std::string* why) const = 0;

  // A new lease; cheap (no office starts before the lease's first call). Never null.
  virtual std::shared_ptr<const RendererLease> Acquire() const = 0;

  // The renderer's name of the picture filter `name`, letter case ignored ("png" gives "PNG"), or
  // empty when it serves no such filter.
  virtual std::string_view PictureFilterName(std::string_view name) const = 0;

  // Why the file `path`, of another format than Office Open XML, must not be handed to the office,
  // or empty when it may: a legacy compound file larger than `maxSize` bytes, or one whose streams
  // declare more than that or than the file holds. Never throws.
  virtual std::string InputFault(const std::string& path, std::uint64_t maxSize) const = 0;
};

// The renderer of this build.
const Renderer& TheRenderer();

}  // namespace quorvane::engines
