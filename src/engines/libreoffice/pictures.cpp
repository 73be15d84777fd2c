// The picture formats of ExportSlides and the size rule of slide pictures. Also compiled into the
// UNO plugin, which draws the slides.
#include <algorithm>
#include <array>
#include <cmath>

#include "engines/libreoffice/renderer.hpp"

namespace quorvane::engines::libreoffice {

namespace {

constexpr std::array<PictureFilter, 7> kPictureFilters = {{
    {"PNG", "png", true},
    {"GIF", "gif", true},
    {"JPG", "jpg", true},
    {"BMP", "bmp", true},
    {"TIF", "tif", true},
    {"EMF", "emf", false},
    {"WMF", "wmf", false},
}};

constexpr double kHundredthMmPerInch = 2540.0;
constexpr double kPictureDotsPerInch = 96.0;

std::int32_t ClampSide(double value) {
  return static_cast<std::int32_t>(std::clamp(std::lround(value), 1L, static_cast<long>(kMaxPixelSide)));
}

}  // namespace

const PictureFilter* FindPictureFilter(std::string_view name) {
  for (const PictureFilter& filter : kPictureFilters) {
    if (filter.name.size() != name.size()) continue;
    bool same = std::equal(name.begin(), name.end(), filter.name.begin(), [](char a, char b) {
      return (a >= 'a' && a <= 'z' ? static_cast<char>(a - 'a' + 'A') : a) == b;
    });
    if (same) return &filter;
  }
  return nullptr;
}

std::pair<std::int32_t, std::int32_t> SlidePixelSize(std::int32_t slideWidth100thMm, std::int32_t slideHeight100thMm,
                                                     std::int32_t requestedWidth, std::int32_t requestedHeight) {
  // A slide without a usable size is drawn as a 10 in x 7.5 in one.
  double width = slideWidth100thMm > 0 ? slideWidth100thMm : 25400;
  double height = slideHeight100thMm > 0 ? slideHeight100thMm : 19050;
  if (requestedWidth > 0 && requestedHeight > 0) return {ClampSide(requestedWidth), ClampSide(requestedHeight)};
  if (requestedWidth > 0) return {ClampSide(requestedWidth), ClampSide(requestedWidth * height / width)};
  if (requestedHeight > 0) return {ClampSide(requestedHeight * width / height), ClampSide(requestedHeight)};
  return {ClampSide(width * kPictureDotsPerInch / kHundredthMmPerInch),
          ClampSide(height * kPictureDotsPerInch / kHundredthMmPerInch)};
}

}  // namespace quorvane::engines::libreoffice
