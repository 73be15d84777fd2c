// The XML layer over pugixml (see xml.hpp for the contract).
//
// Parsing: pugixml never reads a DTD and expands only the predefined entities and character
// references; an unknown reference such as "&xxe;" stays literal text. The DOCTYPE is kept as a
// node (parse_doctype) only so that it can be seen and refused. Whitespace-only text is kept where
// it is the only content of an element (parse_ws_pcdata_single), so <a:t> </a:t> keeps its space
// while indentation between elements is dropped. The parser is not recursive; the depth limit is
// checked afterwards by an iterative walk, and every walk in this file is iterative, so no input
// can exhaust the stack.
//
// Canonical prefixes: one walk over the tree checks the depth and looks at every namespace
// declaration; only when some declaration binds a known namespace to another prefix, uses a
// strict URI or a default namespace the engine knows, or binds a canonical prefix to an unknown
// namespace, a second walk renames elements, attributes, declarations and the prefix lists of the
// markup-compatibility attributes. Files written by Office need only the first walk.
#include "engines/pptx/xml.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "common/markup.hpp"
#include "common/text.hpp"
#include "engines/pptx/package.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::engines::pptx::xml {
namespace {

// --- Namespaces ---------------------------------------------------------------------------

struct KnownNamespace {
  std::string_view prefix;  // canonical prefix
  std::string_view uri;     // transitional URI
  std::string_view strict;  // strict twin, or empty
};

// The namespaces whose prefixes the engine fixes. Package namespaces ([Content_Types].xml, .rels)
// are deliberately absent: those parts use a default namespace and are read by local name.
constexpr KnownNamespace kKnownNamespaces[] = {
    {"p", ns::kPresentationML, "http://purl.oclc.org/ooxml/presentationml/main"},
    {"a", ns::kDrawingML, "http://purl.oclc.org/ooxml/drawingml/main"},
    {"r", ns::kRelationships, "http://purl.oclc.org/ooxml/officeDocument/relationships"},
    {"mc", ns::kMarkupCompatibility, {}},
    {"m", ns::kMath, "http://purl.oclc.org/ooxml/officeDocument/math"},
    {"c", "http://schemas.openxmlformats.org/drawingml/2006/chart", "http://purl.oclc.org/ooxml/drawingml/chart"},
    {"cdr", "http://schemas.openxmlformats.org/drawingml/2006/chartDrawing",
     "http://purl.oclc.org/ooxml/drawingml/chartDrawing"},
    {"dgm", "http://schemas.openxmlformats.org/drawingml/2006/diagram", "http://purl.oclc.org/ooxml/drawingml/diagram"},
    {"pic", "http://schemas.openxmlformats.org/drawingml/2006/picture", "http://purl.oclc.org/ooxml/drawingml/picture"},
    {"lc", "http://schemas.openxmlformats.org/drawingml/2006/lockedCanvas",
     "http://purl.oclc.org/ooxml/drawingml/lockedCanvas"},
    {"com", "http://schemas.openxmlformats.org/drawingml/2006/compatibility", {}},
    {"s", "http://schemas.openxmlformats.org/officeDocument/2006/sharedTypes",
     "http://purl.oclc.org/ooxml/officeDocument/sharedTypes"},
    // Office extensions.
    {"p14", "http://schemas.microsoft.com/office/powerpoint/2010/main", {}},
    {"p15", "http://schemas.microsoft.com/office/powerpoint/2012/main", {}},
    {"p16", "http://schemas.microsoft.com/office/powerpoint/2015/main", {}},
    {"p159", "http://schemas.microsoft.com/office/powerpoint/2015/09/main", {}},
    {"p1510", "http://schemas.microsoft.com/office/powerpoint/2015/10/main", {}},
    {"p166", "http://schemas.microsoft.com/office/powerpoint/2016/6/main", {}},
    {"psez", "http://schemas.microsoft.com/office/powerpoint/2016/sectionzoom", {}},
    {"p188", "http://schemas.microsoft.com/office/powerpoint/2018/8/main", {}},
    {"a14", "http://schemas.microsoft.com/office/drawing/2010/main", {}},
    {"a15", "http://schemas.microsoft.com/office/drawing/2012/main", {}},
    {"a16", "http://schemas.microsoft.com/office/drawing/2014/main", {}},
    {"asvg", "http://schemas.microsoft.com/office/drawing/2016/SVG/main", {}},
    {"adec", "http://schemas.microsoft.com/office/drawing/2017/decorative", {}},
    {"ahyp", "http://schemas.microsoft.com/office/drawing/2018/hyperlinkcolor", {}},
    {"dsp", "http://schemas.microsoft.com/office/drawing/2008/diagram", {}},
    {"c14", "http://schemas.microsoft.com/office/drawing/2007/8/2/chart", {}},
    {"c16", "http://schemas.microsoft.com/office/drawing/2014/chart", {}},
    {"thm15", "http://schemas.microsoft.com/office/thememl/2012/main", {}},
    // Legacy drawing (VML) in older parts.
    {"v", "urn:schemas-microsoft-com:vml", {}},
    {"o", "urn:schemas-microsoft-com:office:office", {}},
    {"pvml", "urn:schemas-microsoft-com:office:powerpoint", {}},
};

constexpr std::string_view kOfficeExtensions = "http://schemas.microsoft.com/office/";
constexpr std::string_view kXmlns = "xmlns";

const KnownNamespace* FindKnown(std::string_view uri) {
  for (const KnownNamespace& known : kKnownNamespaces)
    if (uri == known.uri || (!known.strict.empty() && uri == known.strict)) return &known;
  return nullptr;
}

bool IsCanonicalPrefix(std::string_view prefix) {
  return std::any_of(std::begin(kKnownNamespaces), std::end(kKnownNamespaces),
                     [&](const KnownNamespace& known) { return known.prefix == prefix; });
}

// A namespace a reader of this engine understands in mc:Choice/@Requires.
bool Understood(std::string_view uri) {
  if (const KnownNamespace* known = FindKnown(uri)) uri = known->uri;
  return uri == ns::kPresentationML || uri == ns::kDrawingML || uri == ns::kRelationships ||
         uri.substr(0, kOfficeExtensions.size()) == kOfficeExtensions;
}

// "xmlns" -> "" (the default namespace), "xmlns:x" -> "x"; nullopt for any other attribute.
std::optional<std::string_view> DeclaredPrefix(std::string_view attributeName) {
  if (attributeName.substr(0, kXmlns.size()) != kXmlns) return std::nullopt;
  if (attributeName.size() == kXmlns.size()) return std::string_view{};
  if (attributeName[kXmlns.size()] != ':') return std::nullopt;
  return attributeName.substr(kXmlns.size() + 1);
}

std::pair<std::string_view, std::string_view> SplitQName(std::string_view name) {
  const std::size_t colon = name.find(':');
  if (colon == std::string_view::npos) return {{}, name};
  return {name.substr(0, colon), name.substr(colon + 1)};
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// --- Failures -----------------------------------------------------------------------------

[[noreturn]] void Fail(std::int32_t number, std::string_view partName, std::string_view cause) {
  throw AutomationError(
      number, text::FromUtf8(std::string(partName.empty() ? "An XML part" : partName)) + u" " + text::FromUtf8(cause));
}

// --- Walks --------------------------------------------------------------------------------

Node FirstElementChild(Node node) {
  Node child = node.first_child();
  while (child && child.type() != pugi::node_element) child = child.next_sibling();
  return child;
}

Node NextElementSibling(Node node) {
  Node sibling = node.next_sibling();
  while (sibling && sibling.type() != pugi::node_element) sibling = sibling.next_sibling();
  return sibling;
}

// Calls visit(element, depth) for `top` (depth 1) and every element below it, in document order,
// without recursion. `visit` may throw to stop the walk.
template <typename Visit>
void WalkElements(Node top, Visit&& visit) {
  std::uint32_t depth = 1;
  Node node = top;
  while (node) {
    visit(node, depth);
    if (Node child = FirstElementChild(node)) {
      node = child;
      ++depth;
      continue;
    }
    Node next;
    while (node != top && !(next = NextElementSibling(node))) {
      node = node.parent();
      --depth;
    }
    if (node == top) break;
    node = next;
  }
}

// --- Canonical prefixes -------------------------------------------------------------------

// A declaration that the canonical form spells differently.
bool NeedsRewrite(std::string_view prefix, std::string_view uri) {
  if (prefix == "xml") return false;
  const KnownNamespace* known = FindKnown(uri);
  if (prefix.empty()) return known != nullptr;
  if (known) return prefix != known->prefix || uri != known->uri;
  return IsCanonicalPrefix(prefix);
}

// The namespace declarations in scope during the rewrite walk, innermost last.
struct Binding {
  std::uint32_t depth;
  std::string prefix;     // as the file declared it ("" for the default namespace)
  std::string outPrefix;  // canonical, renamed away from a clash, or unchanged
  std::string outUri;     // transitional for known namespaces
};

class Canonicalizer {
 public:
  explicit Canonicalizer(std::set<std::string> declaredPrefixes) : taken_(std::move(declaredPrefixes)) {}

  void Run(Node root) {
    WalkElements(root, [&](Node element, std::uint32_t depth) { Visit(element, depth); });
  }

 private:
  void Visit(Node element, std::uint32_t depth) {
    while (!scope_.empty() && scope_.back().depth >= depth) {
      byPrefix_[scope_.back().prefix].pop_back();
      scope_.pop_back();
    }

    // Declarations first: they are in scope for the element's own name and attributes.
    const std::size_t firstDeclaration = scope_.size();
    for (Attribute attribute = element.first_attribute(); attribute; attribute = attribute.next_attribute()) {
      const auto prefix = DeclaredPrefix(attribute.name());
      if (prefix && *prefix != "xml") {
        scope_.push_back(Bind(depth, *prefix, attribute.value()));
        byPrefix_[scope_.back().prefix].push_back(scope_.size() - 1);
      }
    }

    const auto [elementPrefix, elementLocal] = SplitQName(element.name());
    const Binding* elementBinding = Resolve(elementPrefix, true);
    const bool choice =
        elementBinding && elementBinding->outUri == ns::kMarkupCompatibility && elementLocal == "Choice";
    if (elementBinding) {
      const std::string name = Qualified(elementBinding->outPrefix, elementLocal);
      if (name != element.name()) element.set_name(name.c_str());
    }

    std::size_t nextDeclaration = firstDeclaration;
    std::set<std::string> seen;
    bool renamedAny = false, duplicates = false;
    for (Attribute attribute = element.first_attribute(); attribute; attribute = attribute.next_attribute()) {
      std::string name = attribute.name();
      const auto declared = DeclaredPrefix(name);
      if (declared && *declared != "xml") {
        const Binding& binding = scope_[nextDeclaration++];
        name = binding.outPrefix.empty() ? std::string(kXmlns) : std::string(kXmlns) + ":" + binding.outPrefix;
        if (binding.outUri != attribute.value()) attribute.set_value(binding.outUri.c_str());
      } else if (!declared) {
        const auto [prefix, local] = SplitQName(name);
        if (!prefix.empty()) {
          if (const Binding* binding = Resolve(prefix, false)) {
            if (binding->outUri == ns::kMarkupCompatibility &&
                (local == "Ignorable" || local == "MustUnderstand" || local == "ProcessContent" ||
                 local == "PreserveElements" || local == "PreserveAttributes")) {
              RewritePrefixList(attribute);
            }
            name = Qualified(binding->outPrefix, local);
          }
        } else if (choice && local == "Requires") {
          RewritePrefixList(attribute);
        }
      }
      if (name != attribute.name()) {
        attribute.set_name(name.c_str());
        renamedAny = true;
      }
      if (!seen.insert(name).second) duplicates = true;
    }
    // Two spellings of one namespace declared on one element become one declaration. The list is
    // rebuilt rather than pruned: pugixml removes one attribute in time linear in their number.
    if (renamedAny && duplicates) {
      std::vector<std::pair<std::string, std::string>> kept;
      seen.clear();
      for (Attribute attribute = element.first_attribute(); attribute; attribute = attribute.next_attribute())
        if (seen.insert(attribute.name()).second) kept.emplace_back(attribute.name(), attribute.value());
      element.remove_attributes();
      for (const auto& [name, value] : kept) element.append_attribute(name.c_str()).set_value(value.c_str());
    }
  }

  Binding Bind(std::uint32_t depth, std::string_view prefix, std::string_view uri) {
    Binding binding{depth, std::string(prefix), std::string(prefix), std::string(uri)};
    if (const KnownNamespace* known = FindKnown(uri)) {
      binding.outPrefix = known->prefix;
      binding.outUri = known->uri;
    } else if (!prefix.empty() && IsCanonicalPrefix(prefix)) {
      binding.outPrefix = FreshPrefix(prefix, uri);
    }
    return binding;
  }

  // An unused prefix for an unknown namespace that a file bound to a canonical prefix.
  std::string FreshPrefix(std::string_view prefix, std::string_view uri) {
    const auto key = std::make_pair(std::string(prefix), std::string(uri));
    if (const auto it = fresh_.find(key); it != fresh_.end()) return it->second;
    int& suffix = nextSuffix_[key.first];
    for (;;) {
      std::string candidate = key.first + "_" + std::to_string(++suffix);
      if (!IsCanonicalPrefix(candidate) && taken_.insert(candidate).second) return fresh_[key] = candidate;
    }
  }

  // The binding of `prefix` in scope; the default namespace applies to elements only.
  const Binding* Resolve(std::string_view prefix, bool element) const {
    if (prefix.empty() && !element) return nullptr;
    const auto it = byPrefix_.find(prefix);
    return it == byPrefix_.end() || it->second.empty() ? nullptr : &scope_[it->second.back()];
  }

  static std::string Qualified(std::string_view prefix, std::string_view local) {
    return prefix.empty() ? std::string(local) : std::string(prefix) + ":" + std::string(local);
  }

  // Rewrites the prefixes of a whitespace-separated list of prefixes or qualified names
  // ("p14 v", "p14:* a14:foo"); the separators stay as they are.
  void RewritePrefixList(Attribute attribute) {
    const std::string_view value = attribute.value();
    std::string out;
    std::size_t i = 0;
    while (i < value.size()) {
      if (IsXmlSpace(value[i])) {
        out += value[i++];
        continue;
      }
      std::size_t end = i;
      while (end < value.size() && !IsXmlSpace(value[end])) ++end;
      const std::string_view token = value.substr(i, end - i);
      const std::size_t colon = token.find(':');
      const std::string_view prefix = token.substr(0, colon);
      const Binding* binding = Resolve(prefix, false);
      out += binding ? std::string_view(binding->outPrefix) : prefix;
      if (colon != std::string_view::npos) out += token.substr(colon);
      i = end;
    }
    if (out != value) attribute.set_value(out.c_str());
  }

  std::vector<Binding> scope_;
  std::map<std::string, std::vector<std::size_t>, std::less<>> byPrefix_;  // indexes into scope_, innermost last
  std::set<std::string> taken_;
  std::map<std::pair<std::string, std::string>, std::string> fresh_;
  std::map<std::string, int> nextSuffix_;
};

constexpr unsigned kParseOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_eol |
                                   pugi::parse_wconv_attribute | pugi::parse_ws_pcdata_single | pugi::parse_doctype |
                                   pugi::parse_fragment;

// --- Reading through markup compatibility ---------------------------------------------------

// Whether `node` has the qualified name `name`: compared in place, without measuring the node's
// name first (the lookups below run for every request and every child they pass). An empty node's
// name is "", which matches no name.
bool NameIs(Node node, std::string_view name) {
  const char* actual = node.name();
  for (const char c : name)
    if (*actual == '\0' || *actual++ != c) return false;
  return *actual == '\0';
}

bool IsAlternateContent(Node node) { return NameIs(node, "mc:AlternateContent"); }

// Chooses the branch of each AlternateContent met while listing the children of one element.
// A canonical prefix in Requires is decided by the namespace table: after parsing, a canonical
// prefix is bound to its own namespace or to nothing. Other prefixes are looked up through the
// ancestors' declarations, and each (element, prefix) answer is remembered for the rest of the
// listing, so that a hostile file with many declarations and many branches costs linear time.
class BranchChooser {
 public:
  Node Select(Node alternateContent) {
    Node fallback;
    for (Node child = FirstElementChild(alternateContent); child; child = NextElementSibling(child)) {
      const std::string_view name = child.name();
      if (name == "mc:Choice" && Taken(child)) return child;
      if (name == "mc:Fallback" && !fallback) fallback = child;
    }
    return fallback;
  }

 private:
  // No real Choice requires more than a few namespaces; one that requires more than this is
  // not taken, which keeps hostile lists cheap.
  static constexpr std::size_t kMaxRequired = 16;

  // A Choice is taken when every prefix it requires names an understood namespace. A Choice
  // that requires nothing is malformed and never taken.
  bool Taken(Node choice) {
    const std::string_view required = choice.attribute("Requires").value();
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < required.size()) {
      while (i < required.size() && IsXmlSpace(required[i])) ++i;
      std::size_t end = i;
      while (end < required.size() && !IsXmlSpace(required[end])) ++end;
      if (end == i) break;
      if (++count > kMaxRequired || !UnderstoodPrefix(choice, required.substr(i, end - i))) return false;
      i = end;
    }
    return count > 0;
  }

  bool UnderstoodPrefix(Node choice, std::string_view prefix) {
    for (const KnownNamespace& known : kKnownNamespaces)
      if (known.prefix == prefix) return Understood(known.uri);
    const std::string declaration = std::string(kXmlns) + ":" + std::string(prefix);
    std::vector<const void*> visited;
    bool understood = false;
    for (Node n = choice; n && n.type() == pugi::node_element; n = n.parent()) {
      const auto key = std::make_pair(static_cast<const void*>(n.internal_object()), std::string(prefix));
      if (const auto it = known_.find(key); it != known_.end()) {
        understood = it->second;
        break;
      }
      visited.push_back(key.first);
      if (const Attribute attribute = n.attribute(declaration.c_str())) {
        understood = Understood(attribute.value());
        break;
      }
    }
    for (const void* element : visited) known_.emplace(std::make_pair(element, std::string(prefix)), understood);
    return understood;
  }

  std::map<std::pair<const void*, std::string>, bool> known_;
};

// Calls f(child) for each child element as a reader sees them; stops when f returns false.
// Branches of nested AlternateContent are entered with an explicit stack.
template <typename F>
void ForEachChild(Node node, F&& f) {
  std::vector<Node> resume;
  std::optional<BranchChooser> chooser;
  Node current = node ? node.first_child() : Node();
  for (;;) {
    if (!current) {
      if (resume.empty()) return;
      current = resume.back();
      resume.pop_back();
      continue;
    }
    if (current.type() == pugi::node_element) {
      if (IsAlternateContent(current)) {
        if (!chooser) chooser.emplace();
        const Node branch = chooser->Select(current);
        resume.push_back(current.next_sibling());
        current = branch ? branch.first_child() : Node();
        continue;
      }
      if (!f(current)) return;
    }
    current = current.next_sibling();
  }
}

// The character data directly inside `node` (text and CDATA sections).
std::string OwnText(Node node) {
  std::string out;
  for (Node child = node.first_child(); child; child = child.next_sibling())
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) out += child.value();
  return out;
}

// --- Text bodies --------------------------------------------------------------------------

class TextBuilder {
 public:
  explicit TextBuilder(std::uint32_t maxLength) : maxLength_(maxLength) {}

  void Append(std::u16string_view piece) {
    Reserve(piece.size());
    text_ += piece;
  }
  // ASCII, by far the most common text, is widened in place instead of through a converted copy.
  // Control characters the object model gives no meaning in run text become U+FFFD; a line feed
  // is a line break (VT), as it shows.
  void AppendUtf8(std::string_view piece) {
    if (piece.empty()) return;
    if (!std::all_of(piece.begin(), piece.end(), [](char c) {
          const auto u = static_cast<unsigned char>(c);
          return u < 0x7F && (u >= 0x20 || u == '\t' || u == '\r');
        })) {
      std::u16string wide = text::FromUtf8(piece);
      for (char16_t& c : wide) {
        if (c == u'\n')
          c = u'\v';
        else if ((c < 0x20 && c != u'\t' && c != u'\r' && c != u'\v') || (c >= 0x7F && c <= 0x9F))
          c = 0xFFFD;
      }
      Append(wide);
      return;
    }
    Reserve(piece.size());
    text_.append(piece.begin(), piece.end());
  }
  // The character data directly inside `node`, as OwnText(node) gives it.
  void AppendOwnText(Node node) {
    const Node only = node.first_child();
    const Node next = only ? only.next_sibling() : Node();
    if (!only || next) {
      AppendUtf8(OwnText(node));
      return;
    }
    const pugi::xml_node_type type = only.type();
    if (type == pugi::node_pcdata || type == pugi::node_cdata) AppendUtf8(only.value());
  }
  std::u16string Take() { return std::move(text_); }

 private:
  // Fails when `size` more characters would pass the limit.
  void Reserve(std::size_t size) const {
    if (size > maxLength_ - std::min<std::size_t>(text_.size(), maxLength_)) {
      throw AutomationError(failure::kEOutOfMemory,
                            u"The text is longer than the limit of " + text::Decimal(maxLength_) + u" characters.");
    }
  }

  std::uint32_t maxLength_;
  std::u16string text_;
};

// The m:t texts of an equation in document order.
void AppendEquation(Node equation, TextBuilder& out) {
  std::vector<Node> pending{equation};
  while (!pending.empty()) {
    const Node node = pending.back();
    pending.pop_back();
    if (NameIs(node, "m:t")) {
      out.AppendUtf8(OwnText(node));
      continue;
    }
    const std::vector<Node> children = Children(node);
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
}

void AppendParagraph(Node paragraph, std::int32_t slideNumber, TextBuilder& out) {
  ForEachChild(paragraph, [&](Node child) {
    if (NameIs(child, "a:r")) {
      out.AppendOwnText(child.child("a:t"));
    } else if (NameIs(child, "a:br")) {
      out.Append(u"\v");
    } else if (NameIs(child, "a:fld")) {
      if (slideNumber > 0 && Attr(child, "type") == "slidenum")
        out.Append(text::Decimal(slideNumber));
      else
        out.AppendOwnText(child.child("a:t"));
    } else if (NameIs(child, "a14:m")) {
      AppendEquation(child, out);
    } else if (NameIs(child, "a:tab")) {
      out.Append(u"\t");
    }
    return true;
  });
}

// --- Inserting text -----------------------------------------------------------------------

// `text` as paragraphs: CR, LF and CR LF separate them; characters XML 1.0 cannot carry are
// dropped (VT stays: it becomes a line break; TAB stays as it is).
std::vector<std::u16string> SplitParagraphs(std::u16string_view text) {
  std::vector<std::u16string> paragraphs(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      paragraphs.emplace_back();
    } else {
      const std::size_t first = i;
      const char32_t character = text::DecodeAt(text, i);
      if (c == u'\v' || markup::IsXmlCharacter(character)) paragraphs.back() += text.substr(first, i + 1 - first);
    }
  }
  return paragraphs;
}

// The character formatting new text takes: the first run's (a:r, a:br or a:fld) a:rPr, or the
// paragraph's a:endParaRPr when it has no run. Empty when there is none.
Node RunFormat(Node paragraph) {
  Node run;
  ForEachChild(paragraph, [&](Node child) {
    const std::string_view name = child.name();
    if (name == "a:r" || name == "a:br" || name == "a:fld") {
      run = child;
      return false;
    }
    return true;
  });
  return run ? run.child("a:rPr") : paragraph.child("a:endParaRPr");
}

Node InsertElement(Node parent, const char* name, Node before) {
  return before ? parent.insert_child_before(name, before) : parent.append_child(name);
}

void AddFormat(Node element, Node format, const char* name) {
  if (!format) return;
  Node copy = element.append_copy(format);
  copy.set_name(name);
}

// Inserts runs and line breaks for `text` (no paragraph separators) into `paragraph` before
// `before` (at the end when empty).
void InsertRuns(Node paragraph, Node before, std::u16string_view text, Node format) {
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t vt = std::min(text.find(u'\v', start), text.size());
    if (vt > start) {
      Node run = InsertElement(paragraph, "a:r", before);
      AddFormat(run, format, "a:rPr");
      run.append_child("a:t").text().set(text::ToUtf8(text.substr(start, vt - start)).c_str());
    }
    if (vt == text.size()) break;
    AddFormat(InsertElement(paragraph, "a:br", before), format, "a:rPr");
    start = vt + 1;
  }
}

// Whether code point `c` is one XML 1.0 cannot carry.
bool InvalidXmlCharacter(std::uint32_t c) { return !markup::IsXmlCharacter(c); }

// `bytes` with every character XML 1.0 cannot carry replaced by U+FFFD, whether written raw (a C0
// control byte) or as a character reference ("&#x0;", "&#xD800;"); nullopt when there is none.
// Left alone, the parser would end a text at a NUL (losing the rest of the run) or pass control
// characters and unpaired surrogates on. Text in UTF-16 (a byte-order mark or a zero byte next to
// the first "<") is left as it is: its bytes are no characters.
std::optional<std::string> WithoutInvalidCharacters(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF") || bytes.starts_with(std::string_view("<\0", 2)) ||
      bytes.starts_with(std::string_view("\0<", 2))) {
    return std::nullopt;
  }
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::optional<std::string> out;
  std::size_t copied = 0;  // bytes of `bytes` already in `out`
  auto replace = [&](std::size_t at, std::size_t length) {
    if (!out) {
      out.emplace();
      out->reserve(bytes.size() + 16);
    }
    out->append(bytes.substr(copied, at - copied));
    out->append(kReplacement);
    copied = at + length;
  };
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20) {
      if (c != '&' || i + 2 >= bytes.size() || bytes[i + 1] != '#') continue;
      // A character reference: "&#" digits ";" or "&#x" hex digits ";".
      std::size_t j = i + 2;
      const bool hex = bytes[j] == 'x';
      if (hex) ++j;
      std::uint64_t value = 0;
      const std::size_t digits = j;
      for (; j < bytes.size(); ++j) {
        const char d = bytes[j];
        int v = -1;
        if (d >= '0' && d <= '9') v = d - '0';
        else if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
        else if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
        if (v < 0) break;
        value = std::min<std::uint64_t>(value * (hex ? 16 : 10) + static_cast<std::uint64_t>(v), 0x110000);
      }
      if (j == digits || j >= bytes.size() || bytes[j] != ';') continue;
      if (InvalidXmlCharacter(static_cast<std::uint32_t>(value))) replace(i, j + 1 - i);
      i = j;
    } else if (c != 0x09 && c != 0x0A && c != 0x0D) {
      replace(i, 1);
    }
  }
  if (out) out->append(bytes.substr(copied));
  return out;
}

// Characters (UTF-16 code units) of the text below `body`, with one for each element (a paragraph
// end, a line break, a tab): at least what reading the body's text makes of it.
std::uint64_t TextSizeOf(Node body) {
  std::uint64_t size = 0;
  WalkElements(body, [&](Node element, std::uint32_t) {
    ++size;
    for (Node child = element.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata) continue;
      for (const char* p = child.value(); *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if ((c & 0xC0) != 0x80) ++size;
        if (c >= 0xF0) ++size;  // a surrogate pair
      }
    }
  });
  return size;
}

}  // namespace

// --- Document -----------------------------------------------------------------------------

std::shared_ptr<Document> Document::Parse(std::string_view bytes, std::string_view partName, const Limits& limits) {
  auto document = std::make_shared<Document>();
  document->partName_ = std::string(partName);
  pugi::xml_document& doc = document->doc_;

  const std::optional<std::string> sanitized = WithoutInvalidCharacters(bytes);
  if (sanitized) bytes = *sanitized;
  const pugi::xml_parse_result result = doc.load_buffer(bytes.data(), bytes.size(), kParseOptions, pugi::encoding_auto);
  if (!result) {
    Fail(failure::kWin32InvalidData, partName,
         std::string("is not well-formed XML: ") + result.description() + " at offset " +
             std::to_string(result.offset) + ".");
  }
  // parse_fragment lets the parser keep what a document may not hold, so that it can be refused.
  std::size_t elements = 0;
  for (Node child = doc.first_child(); child; child = child.next_sibling()) {
    switch (child.type()) {
      case pugi::node_doctype:
        Fail(failure::kWin32InvalidData, partName, "has a document type declaration (DOCTYPE), which is not accepted.");
      case pugi::node_element:
        ++elements;
        break;
      case pugi::node_pcdata:
      case pugi::node_cdata:
        Fail(failure::kWin32InvalidData, partName, "is not well-formed XML: text outside the root element.");
      default:
        break;
    }
  }
  if (elements != 1) {
    Fail(failure::kWin32InvalidData, partName,
         elements == 0 ? "is not well-formed XML: it has no root element."
                       : "is not well-formed XML: it has more than one root element.");
  }

  bool rewrite = false;
  std::set<std::string> declared;
  std::uint64_t count = 0;
  std::vector<std::uint32_t> groups;  // depths of the groups around the element
  // A text longer than the limit needs a part at least that many bytes long.
  const bool longTextPossible = bytes.size() > limits.maxTextLength;
  WalkElements(doc.document_element(), [&](Node element, std::uint32_t depth) {
    if (depth > limits.maxXmlDepth) {
      Fail(failure::kWin32InvalidData, partName,
           "nests elements deeper than the limit of " + std::to_string(limits.maxXmlDepth) + " levels (maxXmlDepth).");
    }
    if (++count > limits.maxXmlElements) {
      Fail(failure::kEOutOfMemory, partName,
           "has more than the limit of " + std::to_string(limits.maxXmlElements) + " elements (maxXmlElements).");
    }
    const std::string_view local = SplitQName(element.name()).second;
    while (!groups.empty() && groups.back() >= depth) groups.pop_back();
    if (local == "grpSp") {
      groups.push_back(depth);
      if (groups.size() > limits.maxGroupDepth) {
        Fail(failure::kEOutOfMemory, partName,
             "nests groups deeper than the limit of " + std::to_string(limits.maxGroupDepth) +
                 " groups (maxGroupDepth): their text cannot be read.");
      }
    }
    if (longTextPossible && local == "txBody" && TextSizeOf(element) > limits.maxTextLength) {
      Fail(failure::kEOutOfMemory, partName,
           "holds a text longer than the limit of " + std::to_string(limits.maxTextLength) +
               " characters (maxTextLength): it cannot be read whole.");
    }
    for (Attribute attribute = element.first_attribute(); attribute; attribute = attribute.next_attribute()) {
      const auto prefix = DeclaredPrefix(attribute.name());
      if (!prefix) continue;
      declared.emplace(*prefix);
      rewrite = rewrite || NeedsRewrite(*prefix, attribute.value());
    }
  });
  if (rewrite) Canonicalizer(std::move(declared)).Run(doc.document_element());
  return document;
}

std::shared_ptr<Document> Document::FromTrusted(std::string_view text, std::string_view partName) {
  return Parse(text, partName, kDefaultLimits);
}

std::string Document::Serialize() const {
  // pugixml writes a carriage return in text as it is, which a reader turns into a line feed;
  // written as a character reference it reads back as itself. Attribute values come escaped
  // already, and parsed CDATA sections hold no carriage return (line ends are normalised).
  struct StringWriter final : pugi::xml_writer {
    std::string out;
    void write(const void* data, std::size_t size) override {
      const std::string_view chunk(static_cast<const char*>(data), size);
      for (std::size_t start = 0; start < chunk.size();) {
        const std::size_t cr = std::min(chunk.find('\r', start), chunk.size());
        out.append(chunk.substr(start, cr - start));
        if (cr < chunk.size()) out += "&#13;";
        start = cr + 1;
      }
    }
  } writer;
  writer.out = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
  doc_.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  return std::move(writer.out);
}

// --- Scanner ------------------------------------------------------------------------------

Scanner::Scanner(std::string partName, const Limits& limits, std::uint64_t elementsBefore, bool everyDoctype)
    : partName_(std::move(partName)), limits_(limits), elementsBefore_(elementsBefore), everyDoctype_(everyDoctype) {}

void Scanner::Refuse(std::int32_t number, const std::string& cause) const { Fail(number, partName_, cause); }

void Scanner::StartElement() {
  if (++depth_ > limits_.maxXmlDepth) {
    Refuse(failure::kWin32InvalidData,
           "nests elements deeper than the limit of " + std::to_string(limits_.maxXmlDepth) + " levels (maxXmlDepth).");
  }
  if (++elements_ > limits_.maxXmlElements) {
    Refuse(failure::kEOutOfMemory,
           "has more than the limit of " + std::to_string(limits_.maxXmlElements) + " elements (maxXmlElements).");
  }
  if (elementsBefore_ + elements_ > limits_.maxTotalXmlElements) {
    Refuse(failure::kEOutOfMemory, "brings the file's elements beyond the limit of " +
                                       std::to_string(limits_.maxTotalXmlElements) + " (maxTotalXmlElements).");
  }
}

void Scanner::Feed(std::string_view bytes) {
  const char* p = bytes.data();
  const char* const end = p + bytes.size();
  while (p < end) {
    if (state_ == State::Text) {
      const void* open = std::memchr(p, '<', static_cast<std::size_t>(end - p));
      const char* const stop = open == nullptr ? end : static_cast<const char*>(open);
      for (; p < stop; ++p) textLength_ += (static_cast<unsigned char>(*p) & 0xC0) != 0x80;
      if (textLength_ > limits_.maxTextLength) {
        Refuse(failure::kEOutOfMemory,
               "holds a text longer than the limit of " + std::to_string(limits_.maxTextLength) +
                   " characters (maxTextLength).");
      }
      if (open == nullptr) return;
      ++p;
      textLength_ = 0;
      state_ = State::Open;
      continue;
    }
    const char c = *p++;
    switch (state_) {
      case State::Text: break;
      case State::Open:
        if (c == '/') {
          state_ = State::EndTag;
        } else if (c == '?') {
          state_ = State::Instruction;
          last_ = 0;
        } else if (c == '!') {
          state_ = State::Bang;
          bang_.clear();
        } else {
          StartElement();
          state_ = State::StartTag;
          quote_ = 0;
          last_ = c;
        }
        break;
      case State::StartTag:
        if (quote_ != 0) {
          if (c == quote_) quote_ = 0;
        } else if (c == '"' || c == '\'') {
          quote_ = c;
        } else if (c == '>') {
          if (last_ == '/') --depth_;
          state_ = State::Text;
        } else if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
          last_ = c;
        }
        break;
      case State::EndTag:
        if (c == '>') {
          if (depth_ > 0) --depth_;
          state_ = State::Text;
        }
        break;
      case State::Instruction:
        if (c == '>' && last_ == '?') state_ = State::Text;
        last_ = c;
        break;
      case State::Bang:
        bang_.push_back(c);
        if (bang_ == "--") {
          state_ = State::Comment;
          last_ = beforeLast_ = 0;
        } else if (bang_ == "[CDATA[") {
          state_ = State::CData;
          last_ = beforeLast_ = 0;
        } else if (bang_ == "DOCTYPE") {
          if (everyDoctype_)
            Refuse(failure::kWin32InvalidData, "has a document type declaration (DOCTYPE), which is not accepted.");
          state_ = State::Doctype;
          quote_ = 0;
        } else if (!std::string_view("--").starts_with(bang_) && !std::string_view("[CDATA[").starts_with(bang_) &&
                   !std::string_view("DOCTYPE").starts_with(bang_)) {
          state_ = c == '>' ? State::Text : State::Declaration;
        }
        break;
      case State::Comment:
      case State::CData: {
        const char closing = state_ == State::Comment ? '-' : ']';
        if (c == '>' && last_ == closing && beforeLast_ == closing) state_ = State::Text;
        beforeLast_ = last_;
        last_ = c;
        break;
      }
      case State::Doctype:
        if (quote_ != 0) {
          if (c == quote_) quote_ = 0;
        } else if (c == '"' || c == '\'') {
          quote_ = c;
        } else if (c == '[') {
          Refuse(failure::kWin32InvalidData,
                 "has a document type declaration with an internal subset (DOCTYPE with entity declarations), which "
                 "is not accepted.");
        } else if (c == '>') {
          state_ = State::Text;
        }
        break;
      case State::Declaration:
        if (c == '>') state_ = State::Text;
        break;
    }
  }
}

// --- Readers ------------------------------------------------------------------------------

std::vector<Node> Children(Node node) {
  std::vector<Node> children;
  ForEachChild(node, [&](Node child) {
    children.push_back(child);
    return true;
  });
  return children;
}

Node Child(Node node, std::string_view name) {
  Node found;
  ForEachChild(node, [&](Node child) {
    if (!NameIs(child, name)) return true;
    found = child;
    return false;
  });
  return found;
}

std::vector<Node> ChildrenNamed(Node node, std::string_view name) {
  std::vector<Node> children;
  ForEachChild(node, [&](Node child) {
    if (NameIs(child, name)) children.push_back(child);
    return true;
  });
  return children;
}

Node Path(Node node, std::string_view path) {
  while (node && !path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view step = path.substr(0, slash);
    if (!step.empty()) node = Child(node, step);
    path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
  }
  return node;
}

std::string_view Attr(Node node, const char* name, std::string_view fallback) {
  const Attribute attribute = node.attribute(name);
  return attribute ? std::string_view(attribute.value()) : fallback;
}

namespace {
std::string_view Trimmed(std::string_view value) {
  while (!value.empty() && IsXmlSpace(value.front())) value.remove_prefix(1);
  while (!value.empty() && IsXmlSpace(value.back())) value.remove_suffix(1);
  return value;
}
}  // namespace

bool BoolAttr(Node node, const char* name, bool fallback) {
  const Attribute attribute = node.attribute(name);
  if (!attribute) return fallback;
  const std::string_view value = Trimmed(attribute.value());
  if (value == "1" || value == "true") return true;
  if (value == "0" || value == "false") return false;
  return fallback;
}

std::int64_t IntAttr(Node node, const char* name, std::int64_t fallback) {
  const Attribute attribute = node.attribute(name);
  if (!attribute) return fallback;
  std::string_view value = Trimmed(attribute.value());
  if (!value.empty() && value.front() == '+') value.remove_prefix(1);
  if (value.empty() || value.front() == '+') return fallback;
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (error != std::errc{} || end != value.data() + value.size()) return fallback;
  return number;
}

std::u16string ToUtf16(std::string_view utf8) { return text::FromUtf8(utf8); }
std::string ToUtf8(std::u16string_view utf16) { return text::ToUtf8(utf16); }

// --- Text bodies --------------------------------------------------------------------------

std::u16string TextOfBody(Node txBody, std::int32_t slideNumber, std::uint32_t maxLength) {
  TextBuilder out(maxLength);
  bool first = true;
  ForEachChild(txBody, [&](Node child) {
    if (!NameIs(child, "a:p")) return true;
    if (!first) out.Append(u"\r");
    first = false;
    AppendParagraph(child, slideNumber, out);
    return true;
  });
  return out.Take();
}

void InsertBefore(Node txBody, std::u16string_view text) {
  if (!txBody) return;
  const std::vector<std::u16string> paragraphs = SplitParagraphs(text);

  Node first = Child(txBody, "a:p");
  if (!first) first = txBody.append_child("a:p");
  const Node paragraphFormat = first.child("a:pPr");
  const Node format = RunFormat(first);

  // Every paragraph but the last is a new paragraph in front of the first one.
  Node parent = first.parent();
  for (std::size_t i = 0; i + 1 < paragraphs.size(); ++i) {
    Node paragraph = parent.insert_child_before("a:p", first);
    if (paragraphFormat) paragraph.append_copy(paragraphFormat);
    if (paragraphs[i].empty())
      AddFormat(paragraph, format, "a:endParaRPr");
    else
      InsertRuns(paragraph, Node(), paragraphs[i], format);
  }

  // The last one goes in front of the first paragraph's content, after its a:pPr. When that
  // content starts with a run, the text after the last line break joins that run's text.
  std::u16string_view last = paragraphs.back();
  if (last.empty()) return;
  Node anchor = FirstElementChild(first);
  while (anchor && std::string_view(anchor.name()) == "a:pPr") anchor = NextElementSibling(anchor);
  if (anchor && std::string_view(anchor.name()) == "a:r") {
    if (Node t = anchor.child("a:t")) {
      const std::size_t vt = last.rfind(u'\v');
      const std::size_t joinAt = vt == std::u16string_view::npos ? 0 : vt + 1;
      if (joinAt < last.size()) {
        const std::string joined = text::ToUtf8(last.substr(joinAt)) + OwnText(t);
        t.remove_children();
        t.text().set(joined.c_str());
        last = last.substr(0, joinAt);
      }
    }
  }
  InsertRuns(first, anchor, last, format);
}

}  // namespace quorvane::engines::pptx::xml
