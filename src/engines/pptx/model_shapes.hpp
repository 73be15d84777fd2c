#pragma once
// Inside the engine's model: the page a shape lies on, the shape-side objects' factory, and the
// PresentationML rules they answer by (shape and placeholder types, group geometry).
#include <cstdint>
#include <memory>
#include <string>

#include "engines/pptx/model.hpp"

namespace quorvane::engines::pptx {

// The page a shape collection shows: a slide, or the notes page of a slide. Shared by the
// collection and every shape object taken from it.
struct Page {
  std::shared_ptr<PresentationModel> model;
  std::shared_ptr<SlideRecord> slide;  // the slide, or the slide the notes page belongs to
  bool notes = false;
  std::string partName;                 // the page's part; empty for a fresh notes page
  std::shared_ptr<PartDocument> fresh;  // the fresh notes page (not in the package)

  // The page's document (parsed or from the cache).
  std::shared_ptr<PartDocument> Document() const;
  // The number a slide-number field on this page shows.
  std::int32_t SlideNumber() const { return model->SlideNumber(*slide); }
};

std::shared_ptr<office::ppt::Shapes> MakeShapes(std::shared_ptr<const Page> page);

// Elements that are shapes of a shape tree or group: p:sp, p:grpSp, p:graphicFrame, p:cxnSp,
// p:pic, p:contentPart.
bool IsShapeElement(xml::Node node);
// The p:ph of a placeholder (p:sp, p:pic or p:graphicFrame carrying one), else an empty node.
xml::Node PlaceholderOf(xml::Node shape);
// MsoShapeType of a shape element.
std::int32_t ShapeType(xml::Node shape);
// PpPlaceholderType of a p:ph.
std::int32_t PlaceholderType(xml::Node ph);
// Whether the shape has a text frame: every p:sp except the slide picture of a notes page.
bool HasTextFrame(xml::Node shape);
// Groups from the shape tree down to `node`, `node` included when it is a group.
std::uint32_t GroupDepth(xml::Node node);

// Replaces the group `group` in its parent by its members, in order, with each member's position,
// size, rotation and flips converted through the group's transform so that it keeps its place on
// the page. The group node is removed (its life tokens die); the members keep their identity.
void UngroupNode(PartDocument& document, xml::Node group);

}  // namespace quorvane::engines::pptx
