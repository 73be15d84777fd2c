// libFuzzer target for the XML layer: the input is the bytes of one XML part. What parses is read
// the way the model reads it (every element's children, the text of every text body), written,
// read again and written again, and has text inserted into its first text body. The only failure
// allowed is an AutomationError with the layer's own HRESULTs (invalid data; out of memory for an
// over-long text); what was written must read back and write the same bytes; after InsertBefore
// the body's text must be the inserted text followed by the old one.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engines/pptx/package.hpp"
#include "engines/pptx/xml.hpp"
#include "quorvane/automation_error.hpp"

namespace {

using namespace quorvane::engines::pptx;

// InsertBefore may add up to two levels below the deepest element (a:p/a:r/a:rPr in place of
// a:p/a:endParaRPr), so the written document is read back with a little more room.
constexpr Limits kLimits{.maxXmlDepth = 64, .maxTextLength = 1u << 20};
constexpr Limits kReadBackLimits{.maxXmlDepth = 66, .maxTextLength = 1u << 20};

// The inserted text and what TextOfBody gives for it: CR LF counts once, VT is a line break,
// the control character is dropped.
constexpr std::u16string_view kInserted = u"A\r\nB\vC<&>\x01\"D";
constexpr std::u16string_view kInsertedText = u"A\rB\vC<&>\"D";

std::shared_ptr<xml::Document> Parse(std::string_view bytes, const Limits& limits) {
  try {
    return xml::Document::Parse(bytes, "/fuzz.xml", limits);
  } catch (const quorvane::AutomationError& e) {
    if (e.number() != quorvane::failure::kWin32InvalidData) std::abort();
    return nullptr;
  }
}

std::u16string Text(xml::Node body) {
  try {
    return xml::TextOfBody(body, 3, kLimits.maxTextLength);
  } catch (const quorvane::AutomationError& e) {
    if (e.number() != quorvane::failure::kEOutOfMemory) std::abort();
    return u"(too long)";
  }
}

bool IsTextBody(xml::Node node) {
  const std::string_view name = node.name();
  return name == "p:txBody" || name == "a:txBody";
}

// Every element below `root` as the model reaches it, through Children(); the first text body.
xml::Node ReadAll(xml::Node root) {
  xml::Node firstBody;
  std::vector<xml::Node> pending{root};
  while (!pending.empty()) {
    const xml::Node node = pending.back();
    pending.pop_back();
    if (IsTextBody(node)) {
      Text(node);
      if (!firstBody) firstBody = node;
    }
    for (const xml::Node child : xml::Children(node)) {
      if (std::string_view(child.name()) == "mc:AlternateContent") std::abort();
      pending.push_back(child);
    }
    xml::Path(node, "p:nvSpPr/p:nvPr/p:ph");
    xml::IntAttr(node, "id", 0);
    xml::BoolAttr(node, "hidden", false);
  }
  return firstBody;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto document = Parse(std::string_view(reinterpret_cast<const char*>(data), size), kLimits);
  if (!document) return 0;
  const xml::Node body = ReadAll(document->root());

  const std::string written = document->Serialize();
  const auto again = Parse(written, kLimits);
  if (!again || again->Serialize() != written) std::abort();

  if (body) {
    const std::u16string before = Text(body);
    xml::InsertBefore(body, kInserted);
    const std::u16string after = Text(body);
    if (before != u"(too long)" && after != u"(too long)" && after != std::u16string(kInsertedText) + before)
      std::abort();
    const std::string changed = document->Serialize();
    const auto changedAgain = Parse(changed, kReadBackLimits);
    if (!changedAgain || changedAgain->Serialize() != changed) std::abort();
  }
  return 0;
}
