// Which converter each target code reaches.
#include <gtest/gtest.h>

#include "control/control.hpp"

namespace quorvane::detail {
namespace {

Converter Expected(std::int32_t code) {
  switch (code) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 10: case 11: case 12: case 13: case 14: case 15:
    case 20: case 24: case 25: case 26: case 27: case 28: case 29: case 32: case 33: case 34: case 35: case 36:
    case 37:
      return Converter::SaveAs;
    case 16: case 17: case 18: case 19: case 21: case 100:
      return Converter::SlideImages;
    case 107: case 200:
      return Converter::Text;
    default:
      return Converter::ThroughWord;
  }
}

const char* Name(Converter c) {
  switch (c) {
    case Converter::SaveAs: return "save-as";
    case Converter::SlideImages: return "slide images";
    case Converter::Text: return "text";
    case Converter::ThroughWord: return "through Word";
  }
  return "?";
}

TEST(Routing, EveryCodeFromMinusOneTo201) {
  for (std::int32_t code = -1; code <= 201; ++code) EXPECT_STREQ(Name(RouteFor(code)), Name(Expected(code))) << code;
}

TEST(Routing, NamedEdgeCodes) {
  struct Row {
    std::int32_t code;
    Converter converter;
  };
  const Row rows[] = {
      {15, Converter::SaveAs},      {16, Converter::SlideImages}, {20, Converter::SaveAs},
      {21, Converter::SlideImages}, {100, Converter::SlideImages}, {107, Converter::Text},
      {200, Converter::Text},       {101, Converter::ThroughWord}, {106, Converter::ThroughWord},
      {108, Converter::ThroughWord}, {8, Converter::ThroughWord},  {9, Converter::ThroughWord},
      {0, Converter::ThroughWord},  {-1, Converter::ThroughWord},  {201, Converter::ThroughWord},
      {9999, Converter::ThroughWord}, {INT32_MIN, Converter::ThroughWord}, {INT32_MAX, Converter::ThroughWord},
  };
  for (const auto& row : rows) EXPECT_STREQ(Name(RouteFor(row.code)), Name(row.converter)) << row.code;
}

}  // namespace
}  // namespace quorvane::detail
