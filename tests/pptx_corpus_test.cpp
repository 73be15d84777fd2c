// The native engine on real files: every Office Open XML deck of the corpus opens (or is refused
// cleanly when the corpus says it is damaged or encrypted), every other file is refused with a
// package failure; slide, shape and notes-page counts agree with a count made here from the XML
// itself; and text exports through the control succeed with the invariants every export must
// keep. The expected counts come from a small XML reader of this file, independent of the
// engine's XML layer; parts are read through the package layer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.hpp"
#include "diagnostics/log.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/package.hpp"
#include "quorvane/control.hpp"

namespace quorvane::engines::pptx {
namespace {

namespace fs = std::filesystem;
namespace ppt = office::ppt;

const fs::path kCorpus = QUORVANE_CORPUS_DIR;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// --- A small XML reader ------------------------------------------------------------------------

struct Element {
  std::string name;  // qualified name as written
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<Element> children;
  std::string text;  // character data directly inside, entities decoded

  std::string_view Local() const {
    const auto colon = name.find(':');
    return colon == std::string::npos ? std::string_view(name) : std::string_view(name).substr(colon + 1);
  }
  std::string Attr(std::string_view attribute) const {
    for (const auto& [key, value] : attributes)
      if (key == attribute) return value;
    return {};
  }
  // The value of the prefixed attribute "<prefix>:<local>" (the relationships namespace's r:id,
  // whatever the prefix).
  std::string PrefixedAttr(std::string_view local) const {
    for (const auto& [key, value] : attributes) {
      const auto colon = key.find(':');
      if (colon != std::string::npos && !key.starts_with("xmlns") && key.substr(colon + 1) == local) return value;
    }
    return {};
  }
  const Element* Child(std::string_view local) const {
    for (const auto& child : children)
      if (child.Local() == local) return &child;
    return nullptr;
  }
};

std::string Decode(std::string_view raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '&') {
      out += raw[i];
      continue;
    }
    const auto end = raw.find(';', i);
    if (end == std::string_view::npos) throw std::runtime_error("bad entity");
    const std::string_view entity = raw.substr(i + 1, end - i - 1);
    char32_t c = 0;
    if (entity == "amp")
      c = '&';
    else if (entity == "lt")
      c = '<';
    else if (entity == "gt")
      c = '>';
    else if (entity == "quot")
      c = '"';
    else if (entity == "apos")
      c = '\'';
    else if (entity.starts_with("#x"))
      c = static_cast<char32_t>(std::stoul(std::string(entity.substr(2)), nullptr, 16));
    else if (entity.starts_with("#"))
      c = static_cast<char32_t>(std::stoul(std::string(entity.substr(1))));
    else
      throw std::runtime_error("unknown entity");
    {
      const char32_t u = c;
      if (u < 0x80) {
        out += static_cast<char>(u);
      } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
      } else if (u < 0x10000) {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
      } else {
        out += static_cast<char>(0xF0 | (u >> 18));
        out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
      }
    }
    i = end;
  }
  return out;
}

// The position of `what` in `xml` from `from`; throws when it is missing (truncated markup).
std::size_t Find(std::string_view xml, std::string_view what, std::size_t from) {
  const auto at = xml.find(what, from);
  if (at == std::string_view::npos) throw std::runtime_error("truncated markup");
  return at;
}

bool Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Elements, attributes and character data (line ends normalised to LF, as XML asks); declarations,
// comments, processing instructions and DOCTYPE skipped; CDATA kept as text. Throws on what it
// cannot read.
Element ParseXml(std::string_view xml) {
  Element document;
  std::vector<Element*> open{&document};
  std::size_t i = 0;
  const auto addText = [&](std::string_view raw) {
    std::string text(raw);
    for (auto at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
    open.back()->text += text;
  };
  while (i < xml.size()) {
    if (xml[i] != '<') {
      const auto next = std::min(xml.find('<', i), xml.size());
      addText(Decode(xml.substr(i, next - i)));
      i = next;
    } else if (xml.compare(i, 4, "<!--") == 0) {
      i = Find(xml, "-->", i) + 3;
    } else if (xml.compare(i, 9, "<![CDATA[") == 0) {
      const auto end = Find(xml, "]]>", i);
      addText(xml.substr(i + 9, end - i - 9));
      i = end + 3;
    } else if (xml.compare(i, 2, "<?") == 0 || xml.compare(i, 2, "<!") == 0) {
      i = Find(xml, ">", i) + 1;
    } else if (xml.compare(i, 2, "</") == 0) {
      if (open.size() < 2) throw std::runtime_error("unbalanced end tag");
      open.pop_back();
      i = Find(xml, ">", i) + 1;
    } else {
      std::size_t j = i + 1;
      while (j < xml.size() && !Space(xml[j]) && xml[j] != '>' && xml[j] != '/') ++j;
      Element element;
      element.name = std::string(xml.substr(i + 1, j - i - 1));
      bool selfClosing = false;
      for (;;) {
        while (j < xml.size() && Space(xml[j])) ++j;
        if (j >= xml.size()) throw std::runtime_error("truncated markup");
        if (xml[j] == '>') break;
        if (xml[j] == '/') {
          selfClosing = true;
          ++j;
          continue;
        }
        const auto eq = Find(xml, "=", j);
        std::string key(xml.substr(j, eq - j));
        while (!key.empty() && Space(key.back())) key.pop_back();
        auto quote = eq + 1;
        while (quote < xml.size() && Space(xml[quote])) ++quote;
        if (quote >= xml.size()) throw std::runtime_error("truncated markup");
        const auto close = Find(xml, std::string_view(&xml[quote], 1), quote + 1);
        element.attributes.emplace_back(key, Decode(xml.substr(quote + 1, close - quote - 1)));
        j = close + 1;
      }
      i = j + 1;
      open.back()->children.push_back(std::move(element));
      if (!selfClosing) open.push_back(&open.back()->children.back());
    }
  }
  if (document.children.size() != 1) throw std::runtime_error("no single root element");
  return std::move(document.children.front());
}

// --- Independent counts ------------------------------------------------------------------------

using Scope = std::map<std::string, std::string>;  // prefix -> namespace

Scope Extend(Scope scope, const Element& element) {
  for (const auto& [key, value] : element.attributes)
    if (key.starts_with("xmlns:")) scope[key.substr(6)] = value;
  return scope;
}

bool Understood(const std::string& uri) {
  static const std::vector<std::string> kKnown = {
      "http://schemas.openxmlformats.org/presentationml/2006/main",
      "http://schemas.openxmlformats.org/drawingml/2006/main",
      "http://schemas.openxmlformats.org/officeDocument/2006/relationships",
      "http://purl.oclc.org/ooxml/presentationml/main",
      "http://purl.oclc.org/ooxml/drawingml/main",
      "http://purl.oclc.org/ooxml/officeDocument/relationships",
  };
  return std::find(kKnown.begin(), kKnown.end(), uri) != kKnown.end() ||
         uri.starts_with("http://schemas.microsoft.com/office/");
}

bool IsShape(std::string_view local) {
  return local == "sp" || local == "grpSp" || local == "graphicFrame" || local == "cxnSp" || local == "pic" ||
         local == "contentPart";
}

// The children of a container as a reader sees them: mc:AlternateContent replaced by the
// children of its first understood Choice, else of its Fallback.
void Visible(const Element& container, const Scope& outer, std::vector<std::pair<const Element*, Scope>>& out) {
  const Scope scope = Extend(outer, container);
  for (const auto& child : container.children) {
    if (child.Local() != "AlternateContent") {
      out.emplace_back(&child, Extend(scope, child));
      continue;
    }
    const Scope inner = Extend(scope, child);
    const Element* chosen = nullptr;
    for (const auto& branch : child.children) {
      if (branch.Local() == "Choice") {
        const Scope branchScope = Extend(inner, branch);
        std::istringstream prefixes(branch.Attr("Requires"));
        bool all = true;
        for (std::string prefix; prefixes >> prefix;) {
          const auto found = branchScope.find(prefix);
          all = all && found != branchScope.end() && Understood(found->second);
        }
        if (all) {
          chosen = &branch;
          break;
        }
      } else if (branch.Local() == "Fallback") {
        chosen = &branch;
      }
    }
    if (chosen) Visible(*chosen, inner, out);
  }
}

struct PageCount {
  std::size_t shapes = 0;
  std::size_t textFrames = 0;       // p:sp other than the slide picture
  std::vector<std::string> titles;  // a:t texts of title placeholders, outside slide-number fields
};

void CollectTexts(const Element& element, std::vector<std::string>& texts) {
  if (element.Local() == "fld" && element.Attr("type") == "slidenum") return;
  if (element.Local() == "t" && element.name != "m:t") texts.push_back(element.text);
  for (const auto& child : element.children) CollectTexts(child, texts);
}

PageCount CountPage(const std::string& xml) {
  const Element root = ParseXml(xml);
  const Element* tree = root.Child("cSld") ? root.Child("cSld")->Child("spTree") : nullptr;
  PageCount count;
  if (!tree) return count;
  std::vector<std::pair<const Element*, Scope>> children;
  Visible(*tree, Extend({}, root), children);
  for (const auto& [child, scope] : children) {
    if (!IsShape(child->Local())) continue;
    ++count.shapes;
    if (child->Local() != "sp") continue;
    const Element* nv = child->Child("nvSpPr");
    const Element* nvPr = nv ? nv->Child("nvPr") : nullptr;
    const Element* ph = nvPr ? nvPr->Child("ph") : nullptr;
    const std::string type = ph ? ph->Attr("type") : "";
    if (type != "sldImg") ++count.textFrames;
    if (type == "title" || type == "ctrTitle") CollectTexts(*child, count.titles);
  }
  return count;
}

std::string RelationshipId(const Element& element) { return element.PrefixedAttr("id"); }

struct DeckCount {
  std::vector<std::string> slideParts;
  std::vector<PageCount> slides;
  std::vector<PageCount> notes;  // the notes page of each slide (a fresh one: 2 shapes, 1 text frame)
};

// The first internal relationship of `kind` whose part exists.
std::string Related(const Package& package, const std::string& source, std::string_view kind, bool firstOnly) {
  for (const auto& r : package.Relationships(source)) {
    if (r.external || !r.type.ends_with("/" + std::string(kind))) continue;
    if (package.HasPart(r.partName)) return r.partName;
    if (firstOnly) return {};
  }
  return {};
}

DeckCount CountDeck(const fs::path& path) {
  const auto package = Package::Open(path.string());
  DeckCount deck;
  const std::string presentationPart = Related(*package, "/", "officeDocument", true);
  const Element presentation = ParseXml(package->ReadPart(presentationPart));
  std::map<std::string, std::string> targets;
  for (const auto& r : package->Relationships(presentationPart))
    if (!r.external && r.type.ends_with("/slide") && package->HasPart(r.partName)) targets[r.id] = r.partName;
  if (const Element* list = presentation.Child("sldIdLst")) {
    for (const auto& id : list->children) {
      const auto found = targets.find(RelationshipId(id));
      if (found != targets.end()) deck.slideParts.push_back(found->second);
    }
  }
  for (const auto& part : deck.slideParts) {
    deck.slides.push_back(CountPage(package->ReadPart(part)));
    const std::string notes = Related(*package, part, "notesSlide", true);
    deck.notes.push_back(notes.empty() ? PageCount{2, 1, {}} : CountPage(package->ReadPart(notes)));
  }
  return deck;
}

// --- The corpus --------------------------------------------------------------------------------

struct CorpusFile {
  std::string path;  // relative to the corpus folder
  std::string note;
  bool expectOpen = false;
  bool otherFormat = false;  // a presentation of another format (legacy, encrypted, OpenDocument)
};

std::vector<CorpusFile> Manifest() {
  std::ifstream in(kCorpus / "MANIFEST.tsv");
  std::vector<CorpusFile> files;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::istringstream row(line);
    for (std::string field; std::getline(row, field, '\t');) fields.push_back(field);
    if (fields.size() < 8) continue;
    CorpusFile file{fields[0], fields[7]};
    const std::string extension = fs::path(file.path).extension().string();
    const bool openXml = extension == ".pptx" || extension == ".ppsx" || file.note.starts_with("MISLABELLED: OOXML");
    const bool unreadable = file.note.find("ENCRYPTED") != std::string::npos ||
                            file.note.find("not readable as a zip") != std::string::npos;
    file.expectOpen = openXml && !unreadable;
    file.otherFormat = !openXml || file.note.find("ENCRYPTED") != std::string::npos;
    files.push_back(std::move(file));
  }
  return files;
}

std::string NameOf(const CorpusFile& file) { return file.path; }

class CorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    files_ = Manifest();
    ASSERT_GE(files_.size(), 50u) << "the corpus manifest is at " << (kCorpus / "MANIFEST.tsv");
  }
  std::vector<CorpusFile> files_;
};

TEST_F(CorpusTest, EveryDeckOpensOrIsRefusedCleanlyAndCountsMatchTheXml) {
  const auto app = CreateApplication();
  std::size_t opened = 0;
  for (const auto& file : files_) {
    SCOPED_TRACE(NameOf(file));
    const fs::path path = kCorpus / file.path;
    const std::string before = ReadBytes(path);
    std::shared_ptr<ppt::Presentation> presentation;
    std::int32_t number = 0;
    std::u16string description;
    try {
      presentation = app->Presentations()->Open(text::FromUtf8(path.string()), -1, 0, 0);
    } catch (const AutomationError& e) {
      number = e.number();
      description = e.description();
    }
    if (!file.expectOpen && presentation && file.otherFormat) {
      // Another presentation format, which the renderer converted for the engine.
      presentation->Close();
      EXPECT_EQ(ReadBytes(path), before) << "the input file changed";
      continue;
    }
    if (!file.expectOpen) {
      EXPECT_EQ(presentation, nullptr) << "opened a file that is no Office Open XML presentation";
      EXPECT_NE(number, 0);
      for (const std::uint32_t reserved : {0x80004005u, 0x80048240u, 0x80070057u})
        EXPECT_NE(number, static_cast<std::int32_t>(reserved)) << text::ToUtf8(description);
      EXPECT_NE(description.find(text::FromUtf8(path.filename().string())), std::u16string::npos)
          << "the description names the file: " << text::ToUtf8(description);
#if !defined(QUORVANE_ENGINE_LIBREOFFICE)
      // Without the renderer the engine says what the file is; with it, the renderer's refusal
      // (encrypted, damaged) carries its own description.
      if (file.otherFormat) {
        EXPECT_NE(description.find(u" opens only Office Open XML presentations; this file is "), std::u16string::npos)
            << text::ToUtf8(description);
      }
#endif
      continue;
    }
    ASSERT_NE(presentation, nullptr) << std::hex << number << " " << text::ToUtf8(description);
    ++opened;
    const DeckCount expected = CountDeck(path);
    const auto slides = presentation->Slides();
    ASSERT_EQ(slides->Count(), static_cast<std::int32_t>(expected.slides.size()));
    for (std::size_t i = 0; i < expected.slides.size(); ++i) {
      SCOPED_TRACE("slide " + std::to_string(i + 1) + " " + expected.slideParts[i]);
      const auto slide = slides->Item(static_cast<std::int32_t>(i + 1));
      const auto shapes = slide->Shapes();
      ASSERT_EQ(shapes->Count(), static_cast<std::int32_t>(expected.slides[i].shapes));
      // Every shape answers the questions of the text export without failing.
      for (std::int32_t j = 1; j <= shapes->Count(); ++j) {
        const auto shape = shapes->Item(j);
        const auto type = shape->Type();
        if (shape->HasTextFrame()) shape->TextFrame()->TextRange()->Text();
        if (type == ppt::kMsoPlaceholder) shape->PlaceholderFormat()->Type();
        if (type == ppt::kMsoGroup) shape->GroupItems()->Count();
      }
      const auto notes = slide->NotesPage()->Shapes();
      EXPECT_EQ(notes->Count(), static_cast<std::int32_t>(expected.notes[i].shapes));
    }
    presentation->Close();
    EXPECT_EQ(ReadBytes(path), before) << "the input file changed";
  }
  EXPECT_GE(opened, 40u);
  app->Quit();
}

// --- Text export end to end --------------------------------------------------------------------

std::size_t Occurrences(std::string_view haystack, std::string_view needle) {
  std::size_t count = 0;
  for (auto at = haystack.find(needle); at != std::string_view::npos; at = haystack.find(needle, at + needle.size()))
    ++count;
  return count;
}

// UTF-16LE bytes as text; false when the size is odd or a surrogate is unpaired.
bool DecodeUtf16Le(const std::string& bytes, std::u16string& out) {
  if (bytes.size() % 2) return false;
  out.clear();
  for (std::size_t i = 0; i < bytes.size(); i += 2)
    out += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] >= 0xD800 && out[i] <= 0xDBFF) {
      if (i + 1 >= out.size() || out[i + 1] < 0xDC00 || out[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (out[i] >= 0xDC00 && out[i] <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

struct ExportRow {
  std::int32_t target;
  bool numbers;
  bool notes;
};

class CorpusExportTest : public CorpusTest {
 protected:
  void SetUp() override {
    CorpusTest::SetUp();
    dir_ = fs::temp_directory_path() / ("qv-corpus-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    diagnostics::SetLogFolderForTesting(text::FromUtf8(dir_.string()));
  }
  void TearDown() override {
    diagnostics::SetLogFolderForTesting(std::nullopt);
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

TEST_F(CorpusExportTest, TextExportsOfEveryDeckKeepTheirInvariants) {
  const std::vector<ExportRow> rows = {
      {107, true, true},
      {107, false, false},
      {200, true, false},
      {200, false, true},
  };
  QuorvaneX control;  // the default provider: the native engine
  std::size_t exports = 0;
  for (const auto& file : files_) {
    if (!file.expectOpen) continue;
    SCOPED_TRACE(NameOf(file));
    const fs::path path = kCorpus / file.path;
    const DeckCount expected = CountDeck(path);
    std::size_t shapes = 0, notesHeaders = 0;
    for (std::size_t i = 0; i < expected.slides.size(); ++i) {
      shapes += expected.slides[i].shapes;
      if (expected.notes[i].textFrames > 0) ++notesHeaders;
    }
    for (const auto& row : rows) {
      SCOPED_TRACE("code " + std::to_string(row.target) + (row.numbers ? " numbered" : "") +
                   (row.notes ? " with notes" : ""));
      const fs::path output = dir_ / "out.txt";
      fs::remove(output);
      control.put_InputFile(text::FromUtf8(path.string()));
      control.put_OutputFile(text::FromUtf8(output.string()));
      control.put_TargetFileType(row.target);
      control.put_StartSlide(0);
      control.put_EndSlide(0);
      control.put_ShowSlideAndShapeNumber(row.numbers ? kVariantTrue : kVariantFalse);
      control.put_IncludeNotes(row.notes ? kVariantTrue : kVariantFalse);
      const std::int32_t result = control.ConvertFile();
      if (expected.slides.empty()) {
        // No slide in the range: the progress step divides by zero.
        EXPECT_EQ(result, -10);
        continue;
      }
      ASSERT_EQ(result, 0) << text::ToUtf8(control.get_ErrorString());
      ++exports;
      const std::string bytes = ReadBytes(output);
      std::string searchable = bytes;  // headers are ASCII in both encodings once decoded
      std::u16string decoded;
      if (row.target == 107) {
        ASSERT_TRUE(DecodeUtf16Le(bytes, decoded)) << "not UTF-16LE";
        searchable = text::ToUtf8(decoded);
        for (std::size_t i = 0; i < expected.slides.size(); ++i) {
          for (const auto& title : expected.slides[i].titles) {
            if (title.find_first_not_of(" \t\r\n") == std::string::npos) continue;
            EXPECT_NE(searchable.find(title), std::string::npos) << "title text of slide " << i + 1 << ": " << title;
          }
        }
      }
      if (row.numbers) {
        EXPECT_EQ(bytes.empty(), shapes == 0 && (!row.notes || notesHeaders == 0));
        EXPECT_EQ(Occurrences(searchable, ") Shape("), shapes);
        EXPECT_EQ(Occurrences(searchable, ") Notes("), row.notes ? notesHeaders : 0);
      }
    }
  }
  EXPECT_GE(exports, 40 * rows.size());
}

}  // namespace
}  // namespace quorvane::engines::pptx
