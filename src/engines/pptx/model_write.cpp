// The write side, first half: new presentations, Slide.Copy and Slides.Paste (see model_write.hpp).
//
// What a copy reaches: every internal relationship is followed from the slide, except
// - relationships to slides (a hyperlink or zoom to another slide, a notes slide's link back to its
//   slide): never followed. Pasted into the presentation the slide came from, a link to another of
//   its slides that is still there keeps pointing to it; every other one (the copied slide itself,
//   a slide of another presentation) points to the pasted slide. A jump to a slide that is not in
//   the target thus stays a valid jump, to the slide it is on, instead of a broken link;
// - comments and their authors, and presentation-wide parts (the presentation part, its
//   properties, view and table styles, handout master, macro project, document properties): left
//   out, with their relationships. Comments refer to authors of the source presentation, which a
//   pasted slide cannot bring along;
// - targets that are missing in the source: the relationship is left out.
// A strict package's XML parts are copied in their transitional namespaces (the XML layer's own
// rewriting), so that they fit a transitional presentation.
//
// Sharing on paste: the parts of a master family (a master with its layouts: they relate to each
// other, so they are compared as one group) and media parts (image/, audio/, video/ content types)
// are shared with an equal part of the target instead of copied again. Two parts are equal when
// their content types and bytes are equal and every relationship has the same id, type and an
// equal target (compared the same way, through the group for relationships inside it). Themes are
// shared only with their master: a new master always gets its own theme, as masters do. Slides,
// notes, charts, workbooks, diagrams, OLE objects and tags are copied for every paste: each pasted
// slide owns them. Equality is decided on 128-bit hashes of the bytes.
#include "engines/pptx/model_write.hpp"

#include <algorithm>
#include <charconv>
#include <deque>
#include <functional>
#include <utility>

#include "common/text.hpp"
#include "engines/shared/clipboard.hpp"
#include "engines/pptx/builder.hpp"

namespace quorvane::engines::pptx {

namespace ct = builder::content_type;

namespace {

constexpr std::string_view kStrictNamespaceStart = "http://purl.oclc.org/ooxml/";
// p:sldId values: 256 to 2147483647; p:sldMasterId and p:sldLayoutId values: 2147483648 and above.
constexpr std::uint32_t kFirstSlideId = 256;
constexpr std::uint32_t kLastSlideId = 2147483647u;
constexpr std::uint32_t kFirstMasterId = 2147483648u;

// Content types of parts a copy leaves out.
constexpr std::string_view kLeftOut[] = {
    "application/vnd.openxmlformats-officedocument.presentationml.presProps+xml",
    "application/vnd.openxmlformats-officedocument.presentationml.viewProps+xml",
    "application/vnd.openxmlformats-officedocument.presentationml.tableStyles+xml",
    "application/vnd.openxmlformats-officedocument.presentationml.commentAuthors+xml",
    "application/vnd.openxmlformats-officedocument.presentationml.comments+xml",
    "application/vnd.ms-powerpoint.comments+xml",
    "application/vnd.ms-powerpoint.authors+xml",
    "application/vnd.openxmlformats-officedocument.presentationml.handoutMaster+xml",
    "application/vnd.ms-office.vbaProject",
    "application/vnd.openxmlformats-package.core-properties+xml",
    "application/vnd.openxmlformats-officedocument.extended-properties+xml",
    "application/vnd.openxmlformats-officedocument.custom-properties+xml",
};

std::string Fold(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool SameType(std::string_view a, std::string_view b) { return Fold(a) == Fold(b); }

bool IsXmlContentType(std::string_view type) {
  const std::string folded = Fold(type);
  return folded.ends_with("+xml") || folded == "application/xml" || folded == "text/xml";
}

bool IsMediaContentType(std::string_view type) {
  const std::string folded = Fold(type);
  return folded.starts_with("image/") || folded.starts_with("audio/") || folded.starts_with("video/");
}

bool IsMasterFamilyType(std::string_view type) {
  return SameType(type, ct::kSlideMaster) || SameType(type, ct::kSlideLayout);
}

// Parts whose snapshots are kept for later copies: what many slides share.
bool IsSharedFamilyType(std::string_view type) {
  return IsMasterFamilyType(type) || SameType(type, ct::kTheme) || SameType(type, ct::kNotesMaster);
}

bool IsLeftOut(std::string_view type) {
  if (IsPresentationContentType(type)) return true;
  return std::any_of(std::begin(kLeftOut), std::end(kLeftOut), [&](std::string_view t) { return SameType(t, type); });
}

// --- Hashing -------------------------------------------------------------------------------------

// Two independent 64-bit hashes (FNV-1a and the library's string hash): 128 bits, for equality.
struct Hash128 {
  std::uint64_t a = 0;
  std::uint64_t b = 0;
};

Hash128 HashOf(std::string_view data) {
  std::uint64_t fnv = 14695981039346656037ull;
  for (const char c : data) {
    fnv ^= static_cast<unsigned char>(c);
    fnv *= 1099511628211ull;
  }
  return {fnv, static_cast<std::uint64_t>(std::hash<std::string_view>{}(data))};
}

std::string HashText(std::uint64_t a, std::uint64_t b) {
  std::string out(16, '\0');
  for (int i = 0; i < 8; ++i) {
    out[static_cast<std::size_t>(i)] = static_cast<char>(a >> (8 * i));
    out[static_cast<std::size_t>(8 + i)] = static_cast<char>(b >> (8 * i));
  }
  return out;
}

std::string HashText(std::string_view data) {
  const Hash128 h = HashOf(data);
  return HashText(h.a, h.b);
}

// --- Snapshots -----------------------------------------------------------------------------------

// The part's bytes as the model holds them now: a changed document serialised, else the package's.
std::string CurrentBytes(PresentationModel& model, const std::string& name) {
  if (const auto dirty = model.DirtyDocument(name)) return dirty->xml().Serialize();
  return model.package().ReadPart(name);
}

std::shared_ptr<const ClipPart> SnapshotPart(PresentationModel& model, const std::string& name) {
  Package& package = model.package();
  auto part = std::make_shared<ClipPart>();
  part->name = name;
  part->contentType = package.ContentType(name);
  part->bytes = CurrentBytes(model, name);
  if (IsXmlContentType(part->contentType) && part->bytes.find(kStrictNamespaceStart) != std::string::npos)
    part->bytes = xml::Document::Parse(part->bytes, name, model.limits())->Serialize();

  for (auto& r : package.Relationships(name)) {
    ClipRelationship out;
    if (r.external) {
      out.link = ClipLink::kExternal;
    } else if (package.HasPart(r.partName)) {
      const std::string type = package.ContentType(r.partName);
      if (SameType(type, ct::kSlide))
        out.link = ClipLink::kSlide;
      else if (IsLeftOut(type))
        out.link = ClipLink::kDropped;
      else if (rel::Is(r.type, "notesMaster") && SameType(type, ct::kNotesMaster))
        out.link = ClipLink::kNotesMaster;
      else
        out.link = ClipLink::kPart;
    }
    out.relationship = std::move(r);
    part->relationships.push_back(std::move(out));
  }
  const Hash128 bytes = HashOf(part->bytes);
  const Hash128 type = HashOf(part->contentType);
  part->hash[0] = bytes.a ^ (type.a * 0x9E3779B97F4A7C15ull);
  part->hash[1] = bytes.b ^ (type.b * 0xC2B2AE3D27D4EB4Full);
  return part;
}

// Adds the parts reachable from `roots` (following kPart and kNotesMaster links) to `graph`.
// With `cache`, unchanged parts of master families are taken from and kept in the cache.
void Collect(PresentationModel& model, WriteState* cache, const std::vector<std::string>& roots, SlideClip& graph) {
  std::deque<std::pair<std::string, bool>> pending;  // part name, reached from a shared family
  for (const auto& root : roots) pending.emplace_back(root, false);
  while (!pending.empty()) {
    auto [name, fromShared] = std::move(pending.front());
    pending.pop_front();
    const std::string key = Fold(name);
    if (graph.index.count(key) != 0) continue;

    std::shared_ptr<const ClipPart> part;
    const bool shared = fromShared || IsSharedFamilyType(model.package().ContentType(name));
    const bool cacheable = cache && shared && !model.DirtyDocument(name);
    if (cacheable) {
      if (const auto found = cache->copied.find(key); found != cache->copied.end()) part = found->second;
    }
    if (!part) {
      part = SnapshotPart(model, name);
      if (cacheable) cache->copied[key] = part;
    }
    graph.index.emplace(key, graph.parts.size());
    graph.parts.push_back(part);
    for (const auto& r : part->relationships)
      if (r.link == ClipLink::kPart || r.link == ClipLink::kNotesMaster)
        pending.emplace_back(r.relationship.partName, shared);
  }
}

// --- Fingerprints --------------------------------------------------------------------------------

// Strongly connected components of a graph given by adjacency lists, in reverse topological order
// (a component comes after every component it reaches). Iterative.
std::vector<std::vector<std::size_t>> Components(const std::vector<std::vector<std::size_t>>& edges) {
  const std::size_t n = edges.size();
  constexpr std::size_t kUnvisited = static_cast<std::size_t>(-1);
  std::vector<std::size_t> order(n, kUnvisited), low(n, 0);
  std::vector<bool> onStack(n, false);
  std::vector<std::size_t> stack;
  std::vector<std::pair<std::size_t, std::size_t>> calls;  // node, next edge
  std::vector<std::vector<std::size_t>> out;
  std::size_t counter = 0;
  for (std::size_t start = 0; start < n; ++start) {
    if (order[start] != kUnvisited) continue;
    order[start] = low[start] = counter++;
    stack.push_back(start);
    onStack[start] = true;
    calls.emplace_back(start, 0);
    while (!calls.empty()) {
      const std::size_t v = calls.back().first;
      const std::size_t next = calls.back().second;
      if (next < edges[v].size()) {
        ++calls.back().second;
        const std::size_t w = edges[v][next];
        if (order[w] == kUnvisited) {
          order[w] = low[w] = counter++;
          stack.push_back(w);
          onStack[w] = true;
          calls.emplace_back(w, 0);
        } else if (onStack[w]) {
          low[v] = std::min(low[v], order[w]);
        }
        continue;
      }
      if (low[v] == order[v]) {
        std::vector<std::size_t> component;
        std::size_t w;
        do {
          w = stack.back();
          stack.pop_back();
          onStack[w] = false;
          component.push_back(w);
        } while (w != v);
        out.push_back(std::move(component));
      }
      calls.pop_back();
      if (!calls.empty()) low[calls.back().first] = std::min(low[calls.back().first], low[v]);
    }
  }
  return out;
}

struct Fingerprints {
  std::vector<std::string> member;  // per part: what equal parts share
  std::vector<std::size_t> component;
  std::vector<std::vector<std::size_t>> components;
  std::vector<bool> shareable;  // per component
};

Fingerprints FingerprintsOf(const SlideClip& graph) {
  const std::size_t n = graph.parts.size();
  std::vector<std::vector<std::size_t>> edges(n);
  for (std::size_t i = 0; i < n; ++i)
    for (const auto& r : graph.parts[i]->relationships)
      if (r.link == ClipLink::kPart) {
        const std::ptrdiff_t target = graph.Find(r.relationship.partName);
        if (target >= 0) edges[i].push_back(static_cast<std::size_t>(target));
      }

  Fingerprints fp;
  fp.member.resize(n);
  fp.component.resize(n);
  fp.components = Components(edges);
  fp.shareable.resize(fp.components.size());
  for (std::size_t c = 0; c < fp.components.size(); ++c) {
    const auto& members = fp.components[c];
    for (const std::size_t m : members) fp.component[m] = c;

    const ClipPart& first = *graph.parts[members.front()];
    // A master family: a master with the layouts that relate back to it. A layout on its own
    // (one without a master) is never shared: it would end up under two masters.
    const bool family = std::all_of(members.begin(), members.end(),
                                    [&](std::size_t m) { return IsMasterFamilyType(graph.parts[m]->contentType); }) &&
                        std::any_of(members.begin(), members.end(), [&](std::size_t m) {
                          return SameType(graph.parts[m]->contentType, ct::kSlideMaster);
                        });
    const bool media = members.size() == 1 && IsMediaContentType(first.contentType) && edges[members.front()].empty();
    fp.shareable[c] = family || media;

    // Each member's own description: bytes, and every relationship with its target described by
    // the target's bytes inside the component, by its fingerprint outside it (done already: the
    // components come in reverse topological order).
    std::vector<std::string> local(members.size());
    for (std::size_t k = 0; k < members.size(); ++k) {
      const ClipPart& part = *graph.parts[members[k]];
      std::string& d = local[k];
      d = HashText(part.hash[0], part.hash[1]);
      for (const auto& r : part.relationships) {
        d += r.relationship.id + '\0' + r.relationship.type + '\0';
        switch (r.link) {
          case ClipLink::kExternal: d += "E" + r.relationship.target; break;
          case ClipLink::kSlide: d += "S"; break;
          case ClipLink::kNotesMaster: d += "N"; break;
          case ClipLink::kDropped: d += "D"; break;
          case ClipLink::kPart: {
            const std::ptrdiff_t target = graph.Find(r.relationship.partName);
            if (target < 0) {
              d += "D";
            } else if (fp.component[static_cast<std::size_t>(target)] == c &&
                       fp.member[static_cast<std::size_t>(target)].empty()) {
              const ClipPart& t = *graph.parts[static_cast<std::size_t>(target)];
              d += "I" + HashText(t.hash[0], t.hash[1]);
            } else {
              d += "P" + fp.member[static_cast<std::size_t>(target)];
            }
            break;
          }
        }
        d += '\n';
      }
    }
    std::vector<std::string> sorted = local;
    std::sort(sorted.begin(), sorted.end());
    std::string all;
    for (const auto& s : sorted) all += HashText(s);
    const std::string componentPrint = HashText(all);
    for (std::size_t k = 0; k < members.size(); ++k) fp.member[members[k]] = HashText(componentPrint + local[k]);
  }
  return fp;
}

// --- The target ----------------------------------------------------------------------------------

std::uint32_t AttributeId(xml::Node node) {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(xml::IntAttr(node, "id", 0), 0, 0xFFFFFFFFll));
}

// Fills the state's sharing index and master ids from the target as it is before its first paste.
void IndexTarget(PresentationModel& model, WriteState& state) {
  if (state.indexed) return;
  Package& package = model.package();
  const xml::Node root = model.PresentationDocument()->root();
  for (const xml::Node id : xml::ChildrenNamed(xml::Child(root, "p:sldMasterIdLst"), "p:sldMasterId"))
    state.masterIds.insert(AttributeId(id));

  std::vector<std::string> roots;
  for (const auto& r : PresentationRelationships(model))
    if (!r.external && rel::Is(r.type, "slideMaster") && package.HasPart(r.partName)) roots.push_back(r.partName);
  for (const auto& name : package.PartNames())
    if (IsMediaContentType(package.ContentType(name))) roots.push_back(name);

  SlideClip graph;
  Collect(model, nullptr, roots, graph);
  const Fingerprints fp = FingerprintsOf(graph);
  for (std::size_t i = 0; i < graph.parts.size(); ++i) {
    if (fp.shareable[fp.component[i]]) state.shared.emplace(fp.member[i], graph.parts[i]->name);
    if (SameType(graph.parts[i]->contentType, ct::kSlideMaster)) {
      const auto master = model.Document(graph.parts[i]->name);
      for (const xml::Node id : xml::ChildrenNamed(xml::Child(master->root(), "p:sldLayoutIdLst"), "p:sldLayoutId"))
        state.masterIds.insert(AttributeId(id));
    }
  }
  state.indexed = true;
}

std::uint32_t FreshMasterId(WriteState& state) {
  std::uint32_t id = kFirstMasterId;
  if (!state.masterIds.empty() && *state.masterIds.rbegin() >= kFirstMasterId) {
    const std::uint32_t last = *state.masterIds.rbegin();
    id = last == 0xFFFFFFFFu ? kFirstMasterId : last + 1;
  }
  while (state.masterIds.count(id) != 0) {
    if (id == 0xFFFFFFFFu)
      throw InvalidRequest("Slides.Paste", u"Invalid request. The presentation has no free slide master id left.");
    ++id;
  }
  state.masterIds.insert(id);
  return id;
}

std::uint32_t FreshSlideId(xml::Node slideIdList) {
  std::set<std::uint32_t> used;
  for (const xml::Node id : xml::ChildrenNamed(slideIdList, "p:sldId")) used.insert(AttributeId(id));
  std::uint32_t id = kFirstSlideId;
  if (!used.empty() && *used.rbegin() >= kFirstSlideId && *used.rbegin() < kLastSlideId) id = *used.rbegin() + 1;
  while (used.count(id) != 0) {
    if (id == kLastSlideId)
      throw InvalidRequest("Slides.Paste", u"Invalid request. The presentation has no free slide id left.");
    ++id;
  }
  return id;
}

void EnsureRelationshipsNamespace(xml::Node root) {
  if (!root.attribute("xmlns:r"))
    root.append_attribute("xmlns:r").set_value(std::string(xml::ns::kRelationships).c_str());
}

// The slide master's bytes with fresh ids for the master's layouts, leaving out layouts whose
// relationship was not written. Assigns the master's own id first, so that its layouts' ids follow it.
std::string RenumberedMaster(PresentationModel& model, WriteState& state, const ClipPart& part,
                             const std::vector<Relationship>& written, std::uint32_t& masterId) {
  const auto document = xml::Document::Parse(part.bytes, part.name, model.limits());
  masterId = FreshMasterId(state);
  xml::Node list = document->root().child("p:sldLayoutIdLst");
  std::vector<xml::Node> drop;
  for (xml::Node id = list.child("p:sldLayoutId"); id; id = id.next_sibling("p:sldLayoutId")) {
    const std::string_view relId = xml::Attr(id, "r:id");
    const bool kept = std::any_of(written.begin(), written.end(), [&](const Relationship& r) {
      return r.id == relId && rel::Is(r.type, "slideLayout");
    });
    if (!kept) {
      drop.push_back(id);
      continue;
    }
    xml::Attribute value = id.attribute("id");
    if (!value) value = id.append_attribute("id");
    value.set_value(static_cast<unsigned long long>(FreshMasterId(state)));
  }
  for (const xml::Node id : drop) list.remove_child(id);
  return document->Serialize();
}

// The first layout of the target's first master that has one; empty when there is none.
std::string AnyLayout(PresentationModel& model) {
  const Package& package = model.package();
  for (const auto& master : PresentationRelationships(model)) {
    if (master.external || !rel::Is(master.type, "slideMaster") || !package.HasPart(master.partName)) continue;
    for (const auto& layout : package.Relationships(master.partName))
      if (!layout.external && rel::Is(layout.type, "slideLayout") && package.HasPart(layout.partName))
        return layout.partName;
  }
  return {};
}

// Adds the new slide's id to the section of the slide before it (the first section when it comes
// first), when the presentation has sections: a slide outside every section is not allowed.
void AddToSection(xml::Node root, std::uint32_t previousId, bool first, std::uint32_t newId) {
  xml::Node sections;
  for (const xml::Node ext : xml::ChildrenNamed(xml::Child(root, "p:extLst"), "p:ext"))
    if (const xml::Node list = ext.child("p14:sectionLst")) sections = list;
  if (!sections) return;
  xml::Node target;
  xml::Node after;
  for (xml::Node section = sections.child("p14:section"); section; section = section.next_sibling("p14:section")) {
    if (!target && first) target = section;
    for (xml::Node id = section.child("p14:sldIdLst").child("p14:sldId"); id; id = id.next_sibling("p14:sldId"))
      if (!first && AttributeId(id) == previousId) {
        target = section;
        after = id;
      }
    if (!first && !target && !section.next_sibling("p14:section")) target = section;
  }
  if (!target) return;
  xml::Node list = target.child("p14:sldIdLst");
  if (!list) list = target.append_child("p14:sldIdLst");
  xml::Node id = first   ? list.prepend_child("p14:sldId")
                 : after ? list.insert_child_after("p14:sldId", after)
                         : list.append_child("p14:sldId");
  id.append_attribute("id").set_value(static_cast<unsigned long long>(newId));
}

}  // namespace

// --- Shared helpers ------------------------------------------------------------------------------

std::ptrdiff_t SlideClip::Find(std::string_view partName) const {
  const auto it = index.find(Fold(partName));
  return it == index.end() ? -1 : static_cast<std::ptrdiff_t>(it->second);
}

WriteState& WriteStateOf(PresentationModel& model) {
  if (!model.writeState) model.writeState = std::make_shared<WriteState>();
  return *model.writeState;
}

const std::vector<Relationship>& PresentationRelationships(PresentationModel& model) {
  WriteState& state = WriteStateOf(model);
  if (!state.presentationRelationships)
    state.presentationRelationships = model.package().Relationships(model.presentationPart());
  return *state.presentationRelationships;
}

void StorePresentationRelationships(PresentationModel& model, std::vector<Relationship> relationships) {
  WriteState& state = WriteStateOf(model);
  state.presentationRelationships = std::move(relationships);
  state.presentationRelationshipsChanged = true;
}

std::string FreshPartName(PresentationModel& model, std::string_view like) {
  const std::string folder = part_name::Folder(like);
  std::string_view file = like.substr(std::min(folder.size(), like.size()));
  const std::size_t dot = file.rfind('.');
  const std::string extension(dot == std::string_view::npos || dot == 0 ? std::string_view() : file.substr(dot));
  std::string stem(file.substr(0, file.size() - extension.size()));
  while (!stem.empty() && stem.back() >= '0' && stem.back() <= '9') stem.pop_back();
  if (stem.empty()) stem = "part";

  WriteState& state = WriteStateOf(model);
  std::uint64_t& next = state.nextNumber[Fold(folder + stem + extension)];
  if (next == 0) next = 1;
  const Package& package = model.package();
  for (;; ++next) {
    std::string candidate = folder + stem + std::to_string(next) + extension;
    if (!package.HasPart(candidate) && !package.HasPart(part_name::RelsPartOf(candidate))) {
      ++next;
      return candidate;
    }
  }
}

std::string FreshRelationshipId(const std::vector<Relationship>& relationships) {
  std::uint64_t last = 0;
  for (const auto& r : relationships) {
    if (r.id.size() <= 3 || r.id.compare(0, 3, "rId") != 0) continue;
    std::uint64_t n = 0;
    const auto [end, error] = std::from_chars(r.id.data() + 3, r.id.data() + r.id.size(), n);
    if (error == std::errc() && end == r.id.data() + r.id.size()) last = std::max(last, n);
  }
  for (std::uint64_t n = last + 1;; ++n) {
    std::string id = "rId" + std::to_string(n);
    if (std::none_of(relationships.begin(), relationships.end(), [&](const Relationship& r) { return r.id == id; }))
      return id;
  }
}

xml::Node PresentationListElement(xml::Node presentation, const char* name) {
  static constexpr std::string_view kOrder[] = {
      "p:sldMasterIdLst", "p:notesMasterIdLst", "p:handoutMasterIdLst", "p:sldIdLst",       "p:sldSz",
      "p:notesSz",        "p:smartTags",        "p:embeddedFontLst",    "p:custShowLst",    "p:photoAlbum",
      "p:custDataLst",    "p:kinsoku",          "p:defaultTextStyle",   "p:modifyVerifier", "p:extLst"};
  if (const xml::Node existing = presentation.child(name)) return existing;
  const auto rank = [](std::string_view element) {
    const auto* at = std::find(std::begin(kOrder), std::end(kOrder), element);
    return static_cast<std::size_t>(at - std::begin(kOrder));
  };
  const std::size_t mine = rank(name);
  for (xml::Node child = presentation.first_child(); child; child = child.next_sibling())
    if (child.type() == pugi::node_element && rank(child.name()) > mine && rank(child.name()) < std::size(kOrder))
      return presentation.insert_child_before(name, child);
  return presentation.append_child(name);
}

std::string NotesMasterOf(PresentationModel& model) {
  const Package& package = model.package();
  for (const auto& r : PresentationRelationships(model))
    if (!r.external && rel::Is(r.type, "notesMaster") && package.HasPart(r.partName)) return r.partName;
  return {};
}

void RegisterNotesMaster(PresentationModel& model, std::vector<Relationship>& relationships,
                         const std::string& notesMaster) {
  // A notes master relationship whose part is missing goes: it is replaced by this one.
  std::erase_if(relationships, [&](const Relationship& r) {
    return !r.external && rel::Is(r.type, "notesMaster") && !model.package().HasPart(r.partName);
  });
  const std::string id = FreshRelationshipId(relationships);
  relationships.push_back(Relationship{id, std::string(builder::rel_type::kNotesMaster), {}, false, notesMaster});

  auto& document = *model.PresentationDocument();
  const xml::Node root = document.root();
  EnsureRelationshipsNamespace(root);
  xml::Node list = PresentationListElement(root, "p:notesMasterIdLst");
  xml::Node entry = list.child("p:notesMasterId");
  if (!entry) entry = list.append_child("p:notesMasterId");
  xml::Attribute relId = entry.attribute("r:id");
  if (!relId) relId = entry.append_attribute("r:id");
  relId.set_value(id.c_str());
  model.MarkDirty(document);
}

std::string EnsureNotesMaster(PresentationModel& model) {
  std::string notesMaster = NotesMasterOf(model);
  if (!notesMaster.empty()) return notesMaster;
  Package& package = model.package();
  const std::string theme = FreshPartName(model, "/ppt/theme/theme1.xml");
  package.SetPart(theme, builder::templates::Theme("Office Theme"), ct::kTheme);
  notesMaster = FreshPartName(model, "/ppt/notesMasters/notesMaster1.xml");
  package.SetPart(notesMaster, builder::templates::NotesMaster(), ct::kNotesMaster);
  package.SetRelationships(notesMaster,
                           {Relationship{"rId1", std::string(builder::rel_type::kTheme), {}, false, theme}});
  auto relationships = PresentationRelationships(model);
  RegisterNotesMaster(model, relationships, notesMaster);
  StorePresentationRelationships(model, std::move(relationships));
  return notesMaster;
}

void WriteBackNotesPage(PresentationModel& model, SlideRecord& slide) {
  const std::shared_ptr<PartDocument> page = slide.changedFreshNotes;
  if (!page) return;
  Package& package = model.package();
  const std::string notesMaster = EnsureNotesMaster(model);
  const std::string name = FreshPartName(model, "/ppt/notesSlides/notesSlide1.xml");
  package.SetPart(name, page->xml().Serialize(), ct::kNotesSlide);
  package.SetRelationships(name,
                           {Relationship{"rId1", std::string(builder::rel_type::kNotesMaster), {}, false, notesMaster},
                            Relationship{"rId2", std::string(builder::rel_type::kSlide), {}, false, slide.partName}});
  // The slide's first notes relationship (one to a missing part made the page fresh) or a new one.
  auto relationships = package.Relationships(slide.partName);
  const auto notes = std::find_if(relationships.begin(), relationships.end(),
                                  [](const Relationship& r) { return !r.external && rel::Is(r.type, "notesSlide"); });
  if (notes != relationships.end()) {
    notes->partName = name;
    notes->target.clear();
  } else {
    relationships.push_back(
        Relationship{FreshRelationshipId(relationships), std::string(builder::rel_type::kNotesSlide), {}, false, name});
  }
  package.SetRelationships(slide.partName, relationships);

  page->MoveIntoPackage(name);
  model.AdoptDocument(page);
  WriteState& state = WriteStateOf(model);
  state.writtenRevision[page.get()] = page->revision();
  state.copied.clear();
  slide.changedFreshNotes.reset();
  slide.freshNotes.reset();
  model.ForgetRelatedParts(slide);
}

// --- Presentations.Add ---------------------------------------------------------------------------

std::shared_ptr<PresentationModel> NewPresentation(const std::shared_ptr<ApplicationState>& app) {
  return PresentationModel::FromPackage(app, builder::Build(builder::Blank()), std::string());
}

// --- Slide.Copy ----------------------------------------------------------------------------------

void CopySlide(PresentationModel& model, SlideRecord& slide) {
  WriteBackNotesPage(model, slide);
  auto clip = std::make_shared<SlideClip>();
  clip->from = model.weak_from_this();
  Collect(model, &WriteStateOf(model), {slide.partName}, *clip);
  // The same snapshot goes on the process's clipboard, with the slide size that a document pasting
  // it needs (p:sldSz; 10 x 7.5 in when the presentation part has none).
  const xml::Node size = xml::Child(model.PresentationDocument()->root(), "p:sldSz");
  auto copied = std::make_shared<clipboard::CopiedSlide>();
  copied->clip = clip;
  copied->widthEmu = xml::IntAttr(size, "cx", 9144000);
  copied->heightEmu = xml::IntAttr(size, "cy", 6858000);
  clipboard::PutSlide(std::move(copied));
  model.application().clipboard = std::move(clip);
}

// --- Slides.Paste --------------------------------------------------------------------------------

void PasteSlide(PresentationModel& model, std::int32_t index) {
  constexpr std::string_view kMember = "Slides.Paste";
  const std::shared_ptr<const SlideClip> clip = model.application().clipboard;
  if (!clip || clip->parts.empty())
    throw InvalidRequest(kMember,
                         u"Invalid request. Clipboard is empty or contains data which may not be pasted here.");
  const std::size_t count = model.slides().size();
  if (index != -1 && (index < 1 || static_cast<std::size_t>(index) > count + 1))
    throw OutOfRange(kMember, index, count + 1);
  if (count + 1 > model.limits().maxSlides)
    throw LimitExceeded(kMember, u"the presentation would have more than the limit of " +
                                     text::Decimal(model.limits().maxSlides) + u" slides.");
  const std::size_t position = index == -1 ? count : static_cast<std::size_t>(index) - 1;

  WriteState& state = WriteStateOf(model);
  IndexTarget(model, state);
  Package& package = model.package();
  const std::size_t n = clip->parts.size();
  const Fingerprints fp = FingerprintsOf(*clip);

  // Components equal to parts the target holds are shared as a whole, or not at all.
  std::vector<std::string> target(n);
  for (std::size_t c = 0; c < fp.components.size(); ++c) {
    if (!fp.shareable[c]) continue;
    const auto& members = fp.components[c];
    const bool all = std::all_of(members.begin(), members.end(),
                                 [&](std::size_t m) { return state.shared.count(fp.member[m]) != 0; });
    if (all)
      for (const std::size_t m : members) target[m] = state.shared.at(fp.member[m]);
  }

  // What this paste writes: every part reached from the slide that is not shared.
  std::string notesMaster = NotesMasterOf(model);
  std::vector<bool> fresh(n, false);
  std::ptrdiff_t clipNotesMaster = -1;
  bool notesSlide = false;
  std::deque<std::size_t> pending{0};
  std::vector<bool> seen(n, false);
  seen[0] = true;
  while (!pending.empty()) {
    const std::size_t i = pending.front();
    pending.pop_front();
    if (!target[i].empty()) continue;
    const ClipPart& part = *clip->parts[i];
    target[i] = FreshPartName(model, part.name);
    fresh[i] = true;
    notesSlide = notesSlide || SameType(part.contentType, ct::kNotesSlide);
    for (const auto& r : part.relationships) {
      const bool follow = r.link == ClipLink::kPart || (r.link == ClipLink::kNotesMaster && notesMaster.empty());
      if (!follow) continue;
      const std::ptrdiff_t t = clip->Find(r.relationship.partName);
      if (t < 0 || seen[static_cast<std::size_t>(t)]) continue;
      seen[static_cast<std::size_t>(t)] = true;
      if (r.link == ClipLink::kNotesMaster) clipNotesMaster = t;
      pending.push_back(static_cast<std::size_t>(t));
    }
  }
  if (notesSlide && notesMaster.empty() && clipNotesMaster < 0) notesMaster = EnsureNotesMaster(model);
  if (clipNotesMaster >= 0) notesMaster = target[static_cast<std::size_t>(clipNotesMaster)];
  const std::string& newSlide = target[0];
  // Slides a link may keep pointing to: the other slides of the presentation the clip came from.
  std::set<std::string> keptSlides;
  if (clip->from.lock().get() == &model)
    for (const auto& slide : model.slides())
      if (!part_name::Equal(slide->partName, clip->parts.front()->name)) keptSlides.insert(Fold(slide->partName));

  // Write the parts; on failure none of them stays.
  std::vector<std::string> created;
  std::vector<std::pair<std::string, std::uint32_t>> newMasters;  // part, p:sldMasterId
  try {
    for (std::size_t i = 0; i < n; ++i) {
      if (!fresh[i]) continue;
      const ClipPart& part = *clip->parts[i];
      std::vector<Relationship> relationships;
      for (const auto& r : part.relationships) {
        Relationship out = r.relationship;
        switch (r.link) {
          case ClipLink::kExternal: relationships.push_back(std::move(out)); continue;
          case ClipLink::kDropped: continue;
          case ClipLink::kSlide:
            if (keptSlides.count(Fold(out.partName)) == 0) out.partName = newSlide;
            break;
          case ClipLink::kNotesMaster:
            if (notesMaster.empty()) continue;
            out.partName = notesMaster;
            break;
          case ClipLink::kPart: {
            const std::ptrdiff_t t = clip->Find(r.relationship.partName);
            if (t < 0 || target[static_cast<std::size_t>(t)].empty()) continue;
            out.partName = target[static_cast<std::size_t>(t)];
            break;
          }
        }
        out.target.clear();
        relationships.push_back(std::move(out));
      }
      // A notes slide relates to its slide and to the notes master, also when the source's did not.
      const auto lacks = [&](std::string_view kind) {
        return std::none_of(relationships.begin(), relationships.end(),
                            [&](const Relationship& r) { return !r.external && rel::Is(r.type, kind); });
      };
      if (SameType(part.contentType, ct::kNotesSlide)) {
        if (!notesMaster.empty() && lacks("notesMaster"))
          relationships.push_back(Relationship{FreshRelationshipId(relationships),
                                               std::string(builder::rel_type::kNotesMaster),
                                               {},
                                               false,
                                               notesMaster});
        if (lacks("slide"))
          relationships.push_back(Relationship{
              FreshRelationshipId(relationships), std::string(builder::rel_type::kSlide), {}, false, newSlide});
      }
      if (i == 0 && lacks("slideLayout")) {
        // A slide needs a layout: one whose layout was missing in the source gets one of the target's.
        const std::string layout = AnyLayout(model);
        if (!layout.empty())
          relationships.push_back(Relationship{
              FreshRelationshipId(relationships), std::string(builder::rel_type::kSlideLayout), {}, false, layout});
      }
      std::string bytes;
      if (SameType(part.contentType, ct::kSlideMaster)) {
        std::uint32_t masterId = 0;
        bytes = RenumberedMaster(model, state, part, relationships, masterId);
        newMasters.emplace_back(target[i], masterId);
      } else {
        bytes = part.bytes;
      }
      created.push_back(target[i]);
      package.SetPart(target[i], std::move(bytes), part.contentType);
      package.SetRelationships(target[i], relationships);
    }
  } catch (...) {
    for (const auto& name : created) package.RemovePart(name);
    throw;
  }

  // Join the presentation: masters, notes master, the slide.
  auto relationships = PresentationRelationships(model);
  auto& document = *model.PresentationDocument();
  const xml::Node root = document.root();
  EnsureRelationshipsNamespace(root);
  for (const auto& [master, masterId] : newMasters) {
    const std::string id = FreshRelationshipId(relationships);
    relationships.push_back(Relationship{id, std::string(builder::rel_type::kSlideMaster), {}, false, master});
    xml::Node entry = PresentationListElement(root, "p:sldMasterIdLst").append_child("p:sldMasterId");
    entry.append_attribute("id").set_value(static_cast<unsigned long long>(masterId));
    entry.append_attribute("r:id").set_value(id.c_str());
  }
  if (clipNotesMaster >= 0) RegisterNotesMaster(model, relationships, notesMaster);

  const std::string slideRelId = FreshRelationshipId(relationships);
  relationships.push_back(Relationship{slideRelId, std::string(builder::rel_type::kSlide), {}, false, newSlide});
  xml::Node list = PresentationListElement(root, "p:sldIdLst");
  const std::uint32_t slideId = FreshSlideId(list);
  xml::Node before;
  if (position < count) {
    const std::string& relId = model.slides()[position]->relId;
    for (xml::Node id = list.child("p:sldId"); id && !before; id = id.next_sibling("p:sldId"))
      if (xml::Attr(id, "r:id") == relId) before = id;
  }
  xml::Node entry = before ? list.insert_child_before("p:sldId", before) : list.append_child("p:sldId");
  entry.append_attribute("id").set_value(static_cast<unsigned long long>(slideId));
  entry.append_attribute("r:id").set_value(slideRelId.c_str());
  AddToSection(root, position > 0 ? model.slides()[position - 1]->id : 0, position == 0, slideId);
  StorePresentationRelationships(model, std::move(relationships));
  model.MarkDirty(document);

  for (std::size_t i = 0; i < n; ++i)
    if (fresh[i] && fp.shareable[fp.component[i]]) state.shared.emplace(fp.member[i], target[i]);

  auto record = std::make_shared<SlideRecord>();
  record->partName = newSlide;
  record->id = slideId;
  record->relId = slideRelId;
  model.InsertSlideRecord(position, std::move(record));
}

}  // namespace quorvane::engines::pptx
