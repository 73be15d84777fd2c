#pragma once
// The XML layer: parsing parts with the XML parser under the engine's limits, and the small typed
// helpers the model reads PresentationML and DrawingML with. This header is the one door to the
// XML parser; nothing else includes it.
//
// Names: after parsing, every element and attribute in a namespace the engine knows carries the
// canonical prefix of that namespace (p, a, r, mc, p14, a14, m, ...), whatever prefix the file used,
// and strict namespaces are mapped to their transitional twins; the model compares qualified names
// such as "p:sp". Prefix lists in mc:Ignorable / mc:Requires / mc:ProcessContent are rewritten
// alike, so a saved document stays equivalent.
//
// Markup compatibility: mc:AlternateContent stays in the tree (a saved part keeps it); readers see
// it through Children(), which replaces it by the children of the first mc:Choice whose Requires
// prefixes all name understood namespaces (PresentationML, DrawingML, relationships, and every
// namespace under http://schemas.microsoft.com/office/), else of mc:Fallback, else by nothing.
//
// Safety: no DTD processing and no entity expansion beyond the five predefined entities and
// character references; nesting deeper than Limits::maxXmlDepth is refused. Failures throw
// quorvane::AutomationError 0x8007000D naming the part and the cause.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "engines/pptx/limits.hpp"

namespace quorvane::engines::pptx::xml {

using Node = pugi::xml_node;
using Attribute = pugi::xml_attribute;

namespace ns {
inline constexpr std::string_view kPresentationML = "http://schemas.openxmlformats.org/presentationml/2006/main";
inline constexpr std::string_view kDrawingML = "http://schemas.openxmlformats.org/drawingml/2006/main";
inline constexpr std::string_view kRelationships =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr std::string_view kMarkupCompatibility = "http://schemas.openxmlformats.org/markup-compatibility/2006";
inline constexpr std::string_view kMath = "http://schemas.openxmlformats.org/officeDocument/2006/math";
}  // namespace ns

// A parsed part. Owns its tree; nodes stay valid while the Document lives.
class Document {
 public:
  // Parses `bytes` (the part named `partName`, for messages). Throws 0x8007000D on malformed XML,
  // a DOCTYPE, or nesting beyond the limit.
  static std::shared_ptr<Document> Parse(std::string_view bytes, std::string_view partName,
                                         const Limits& limits = kDefaultLimits);
  // A new document from trusted text the engine itself wrote (templates); same normalisation.
  static std::shared_ptr<Document> FromTrusted(std::string_view text, std::string_view partName);

  Node root() const { return doc_.document_element(); }
  pugi::xml_document& pugi() { return doc_; }
  const std::string& partName() const { return partName_; }

  // The document as UTF-8 XML with a standalone declaration, as Office writes parts.
  std::string Serialize() const;

 private:
  pugi::xml_document doc_;
  std::string partName_;
};

// A check of XML text that streams by without being parsed: a part the engine hands to the office
// as it is. Counts elements and their nesting and refuses, as Parse does, nesting deeper than
// Limits::maxXmlDepth, more than Limits::maxXmlElements elements, a text between two tags longer
// than Limits::maxTextLength characters, and a DOCTYPE: any DOCTYPE when `everyDoctype`, as in
// Office Open XML parts, else one with an internal subset (where entities are declared), since
// older OpenDocument manifests name an external DTD. Well-formedness is not checked: the office
// does that.
class Scanner {
 public:
  // `partName` names the part in failures; `elementsBefore` counts against
  // Limits::maxTotalXmlElements together with this part's elements.
  Scanner(std::string partName, const Limits& limits, std::uint64_t elementsBefore = 0, bool everyDoctype = true);
  void Feed(std::string_view bytes);
  std::uint64_t elements() const { return elements_; }

 private:
  enum class State { Text, Open, StartTag, EndTag, Instruction, Bang, Comment, CData, Doctype, Declaration };
  [[noreturn]] void Refuse(std::int32_t number, const std::string& cause) const;
  void StartElement();

  std::string partName_;
  Limits limits_;
  std::uint64_t elementsBefore_;
  bool everyDoctype_;
  State state_ = State::Text;
  std::uint64_t textLength_ = 0;  // characters of the text since the last tag
  std::uint32_t depth_ = 0;
  std::uint64_t elements_ = 0;
  char quote_ = 0;     // the quote an attribute value or a DOCTYPE literal is in
  char last_ = 0;      // the character before this one inside markup
  char beforeLast_ = 0;
  std::string bang_;   // what follows "<!" until the kind of markup is known
};

// Children of `node` in document order as a reader sees them: mc:AlternateContent replaced by its
// chosen branch's children (recursively).
std::vector<Node> Children(Node node);
// The first such child with qualified name `name`, or an empty node.
Node Child(Node node, std::string_view name);
// Every such child with qualified name `name`.
std::vector<Node> ChildrenNamed(Node node, std::string_view name);
// Follows a path of qualified names ("p:nvSpPr/p:nvPr/p:ph"), through AlternateContent.
Node Path(Node node, std::string_view path);

// Attribute value, or `fallback` when absent.
std::string_view Attr(Node node, const char* name, std::string_view fallback = {});
// Boolean attribute per XML Schema ("1"/"true" true, "0"/"false" false), or `fallback`.
bool BoolAttr(Node node, const char* name, bool fallback);
// Integer attribute, or `fallback` when absent or not a number in range.
std::int64_t IntAttr(Node node, const char* name, std::int64_t fallback);

// UTF-8 <-> UTF-16 for text content.
std::u16string ToUtf16(std::string_view utf8);
std::string ToUtf8(std::u16string_view utf16);

// Text of a DrawingML text body (a:txBody, p:txBody) as TextRange.Text gives it: paragraphs joined
// by CR (U+000D) with none after the last; a:br as VT (U+000B); a:tab / "\t" as U+0009; a:fld
// contributes its shown text, except that a slide-number field (type="slidenum") shows
// `slideNumber` when it is given (> 0); an equation (a14:m) the text of its m:t elements in order.
// Text is never inherited from layouts or masters. Stops with 0x8007000E beyond `maxLength`.
std::u16string TextOfBody(Node txBody, std::int32_t slideNumber = 0,
                          std::uint32_t maxLength = kDefaultLimits.maxTextLength);

// Inserts `text` at the start of a text body, keeping the first run's formatting (a:rPr copied to
// the new runs); CR or LF in `text` starts a new paragraph (CR LF counts once), VT is a line break.
// A body without paragraphs gets one.
void InsertBefore(Node txBody, std::u16string_view text);

}  // namespace quorvane::engines::pptx::xml
