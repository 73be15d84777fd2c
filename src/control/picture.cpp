// The bitmap of the picture box picPFX: 32 x 28 pixels, 256 colours, drawn here rather than
// shipped as a resource. A white page with a folded corner and a blue "Q" on it.
#include <array>
#include <cstdint>
#include <vector>

#include "control/control.hpp"

namespace quorvane {
namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::vector<std::uint8_t> DrawBitmap() {
  constexpr int w = detail::kPicPFXWidth, h = detail::kPicPFXHeight;
  enum : std::uint8_t { kBack, kPage, kEdge, kInk };
  std::array<std::array<std::uint8_t, w>, h> px{};
  for (int y = 2; y < h - 2; ++y)
    for (int x = 6; x < w - 6; ++x) px[y][x] = (x == 6 || x == w - 7 || y == 2 || y == h - 3) ? kEdge : kPage;
  for (int y = 2; y < 7; ++y)  // folded corner
    for (int x = w - 11 + (y - 2); x < w - 6; ++x) px[y][x] = (x == w - 11 + (y - 2)) ? kEdge : kBack;
  for (int y = 7; y < 22; ++y)  // the Q: a ring and a tail
    for (int x = 9; x < 23; ++x) {
      const int dx = 2 * x - 31, dy = 2 * y - 28;
      const int r2 = dx * dx + dy * dy;
      if (r2 >= 100 && r2 <= 196) px[y][x] = kInk;
    }
  for (int i = 0; i < 4; ++i) px[18 + i][17 + i] = px[18 + i][18 + i] = kInk;

  std::vector<std::uint8_t> out;
  constexpr std::uint32_t paletteBytes = 256 * 4, header = 14 + 40, stride = w, pixels = stride * h;
  out.push_back('B');
  out.push_back('M');
  Put32(out, header + paletteBytes + pixels);
  Put32(out, 0);
  Put32(out, header + paletteBytes);
  Put32(out, 40);
  Put32(out, w);
  Put32(out, h);
  Put16(out, 1);
  Put16(out, 8);
  Put32(out, 0);
  Put32(out, pixels);
  Put32(out, 3780);
  Put32(out, 3780);
  Put32(out, 256);
  Put32(out, 0);
  const std::array<std::array<std::uint8_t, 3>, 4> colours{{{192, 192, 192}, {255, 255, 255}, {64, 64, 64}, {160, 64, 0}}};
  for (int i = 0; i < 256; ++i) {
    const auto c = i < 4 ? colours[i] : std::array<std::uint8_t, 3>{0, 0, 0};
    out.insert(out.end(), {c[0], c[1], c[2], 0});  // blue, green, red, reserved
  }
  for (int y = h - 1; y >= 0; --y)  // bottom-up rows
    out.insert(out.end(), px[y].begin(), px[y].end());
  return out;
}

}  // namespace

const std::vector<std::uint8_t>& QuorvaneX::DesignTimeBitmap() {
  static const std::vector<std::uint8_t> bitmap = DrawBitmap();
  return bitmap;
}

}  // namespace quorvane
