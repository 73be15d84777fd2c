#pragma once
// Slide text extraction: the labelled text of one shape of a slide, and the text of a group of
// shapes addressed late-bound.
#include <cstdint>
#include <memory>
#include <string>

#include "office/object_model.hpp"
#include "quorvane/dispatch.hpp"

namespace quorvane::converters {

// The text of shape `shapeIndex` of slide `slideIndex`, preceded by its slide-and-shape label when
// `labels` is set. Never fails: every failing request is passed over.
std::u16string ExtractSlideText(office::ppt::Presentation& presentation, std::int32_t slideIndex,
                                std::int32_t shapeIndex, bool labels);

// Collects the text of the group's items (GroupItems, walked with _NewEnum and Next until it
// answers nothing), nested groups in place. The first failing request ends the call with its
// failure.
std::u16string TextFromGroupShape(const std::shared_ptr<Dispatch>& oSh);

}  // namespace quorvane::converters
