#pragma once
// Save format 36: a picture presentation. An Office Open XML presentation of the same slide size
// whose slides each hold one picture (PNG, 96 dots per inch) of the original slide, stretched over
// the whole slide, with the picture's alternative text naming the slide. Every slide is kept, in
// order; a hidden slide stays hidden. The notes are kept as text: each slide with notes gets a
// notes page whose body holds the original notes' text (paragraphs and line breaks kept; the
// formatting of the notes is not). Nothing else of the original remains (no text, no layouts of
// its own), so a reader finds the notes and no slide text.
//
// The package is made by the deck builder (one master, one layout, a theme) and saved through the
// package layer: a temporary file and a rename, so a failure leaves nothing under the target's
// name. Failures: the drawer's, the package layer's; a slide size the file format cannot hold
// fails with 0x8007000D.
#include "engines/slide_output.hpp"

namespace quorvane::engines::picture_show {

pptx::SaveFormatWriter PicturePresentationWriter(slide_output::SlideDrawer draw);

}  // namespace quorvane::engines::picture_show
