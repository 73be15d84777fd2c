#pragma once
// The structured reading of a presentation of this engine (office/reading.hpp).
#include "engines/pptx/model.hpp"
#include "office/reading.hpp"

namespace quorvane::engines::pptx {

// Hands `sink` the deck's properties, then every slide in order, each read when its turn comes.
// Fails as the model's parts fail to read (the package's HRESULTs); the sink's own failures pass.
void ReadPresentation(PresentationModel& model, office::reading::Sink& sink);

}  // namespace quorvane::engines::pptx
