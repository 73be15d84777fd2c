#pragma once
// Decks made by code for the tests, the benchmarks and the demonstration, and what the object model
// must read back from a deck the builder wrote. These are the oracles the tests hold the engine to;
// the component itself never uses them.
#include <cstdint>
#include <string>

#include "engines/pptx/builder.hpp"

namespace quorvane::engines::pptx::builder {

// Shape.Type of the shape a plan produces (MsoShapeType: 14 placeholder, 17 text box, 5 freeform,
// 1 autoshape, 6 group, 13 picture, 19 table, 9 line, 3 chart).
int ExpectedType(const ShapePlan& shape);
// TextRange.Text of the shape a plan produces (line ends as CR, fields at their offsets, a
// slide-number field showing `slideNumber` when it is > 0, math text after the text); empty for
// kinds without a text frame.
std::u16string ExpectedText(const ShapePlan& shape, std::int32_t slideNumber = 0);

// `slides` slides of varied content (titles, bullets with line breaks, text boxes, autoshapes,
// tables with merged cells, nested groups, pictures, connectors, notes on some slides, a hidden
// slide now and then), a few hundred characters per slide; the same seed gives the same deck.
DeckPlan Generated(int slides, std::uint64_t seed = 1);
// A four-slide deck with every kind of shape, notes and a hidden slide, for demonstrations.
DeckPlan Sample();
// Writes Sample() to `path`.
void WriteSample(const std::string& path);

}  // namespace quorvane::engines::pptx::builder
