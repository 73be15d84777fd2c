// The native engine on real files and built decks: every deck opens (or is refused cleanly when
// the corpus says it is damaged, encrypted or of another format); slide, shape and notes-page
// counts agree with a count made here from the XML with pugixml, independent of the engine's XML
// layer; saved as a presentation every deck reopens as it was; and text exports through the
// control keep the invariants every export must keep.
#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics/log.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/package.hpp"
#include "engines/shared/renderer.hpp"
#include "support/fixtures.hpp"
#if defined(QUORVANE_ENGINE_LIBREOFFICE)
#include "engines/libreoffice/compound_file.hpp"
#endif

namespace quorvane::engines::pptx {
namespace {

namespace fs = std::filesystem;
namespace ppt = office::ppt;
using testing::ReadFile;
using testing::ThrownNumber;

// --- The count made from the XML -----------------------------------------------------------------

std::string_view Local(const pugi::xml_node node) {
  const std::string_view name = node.name();
  return name.substr(name.find(':') + 1);
}

pugi::xml_node Child(const pugi::xml_node node, std::string_view local) {
  for (const pugi::xml_node child : node.children())
    if (Local(child) == local) return child;
  return {};
}

// Whether every prefix a Choice requires is bound, in its scope, to a namespace the engine reads.
bool Understood(const pugi::xml_node choice) {
  std::istringstream prefixes(choice.attribute("Requires").value());
  for (std::string prefix; prefixes >> prefix;) {
    std::string uri;
    for (pugi::xml_node n = choice; n && uri.empty(); n = n.parent())
      uri = n.attribute(("xmlns:" + prefix).c_str()).value();
    if (!uri.starts_with("http://schemas.microsoft.com/office/") &&
        !uri.starts_with("http://schemas.openxmlformats.org/") && !uri.starts_with("http://purl.oclc.org/ooxml/"))
      return false;
  }
  return true;
}

// The children of a container as a reader sees them: mc:AlternateContent replaced by the children
// of its first understood Choice, else of its Fallback.
void Visible(const pugi::xml_node container, std::vector<pugi::xml_node>& out) {
  for (const pugi::xml_node child : container.children()) {
    if (Local(child) != "AlternateContent") {
      out.push_back(child);
      continue;
    }
    pugi::xml_node chosen;
    for (const pugi::xml_node branch : child.children())
      if (Local(branch) == "Choice" && Understood(branch)) {
        chosen = branch;
        break;
      } else if (Local(branch) == "Fallback") {
        chosen = branch;
      }
    if (chosen) Visible(chosen, out);
  }
}

struct PageCount {
  std::size_t shapes = 0, textFrames = 0;  // text frames: p:sp other than the slide picture
};

PageCount CountPage(const std::string& bytes) {
  pugi::xml_document document;
  if (!document.load_buffer(bytes.data(), bytes.size())) throw std::runtime_error("not well-formed");
  PageCount count;
  std::vector<pugi::xml_node> shapes;
  Visible(Child(Child(document.document_element(), "cSld"), "spTree"), shapes);
  for (const pugi::xml_node shape : shapes) {
    const std::string_view local = Local(shape);
    if (local != "sp" && local != "grpSp" && local != "graphicFrame" && local != "cxnSp" && local != "pic" &&
        local != "contentPart")
      continue;
    ++count.shapes;
    if (local != "sp") continue;
    const std::string_view type = Child(Child(Child(shape, "nvSpPr"), "nvPr"), "ph").attribute("type").value();
    count.textFrames += type != "sldImg";
  }
  return count;
}

struct DeckCount {
  std::vector<PageCount> slides, notes;  // notes: of each slide (a fresh page: 2 shapes, 1 text frame)
};

// The first internal relationship of `kind` from `source`, when its part exists.
std::string Related(const Package& package, const std::string& source, std::string_view kind) {
  for (const auto& r : package.Relationships(source))
    if (!r.external && r.type.ends_with("/" + std::string(kind))) return package.HasPart(r.partName) ? r.partName : "";
  return {};
}

DeckCount CountDeck(const fs::path& path) {
  const auto package = Package::Open(path.string());
  const std::string main = Related(*package, "/", "officeDocument");
  const std::string bytes = package->ReadPart(main);
  pugi::xml_document presentation;
  presentation.load_buffer(bytes.data(), bytes.size());
  std::map<std::string, std::string> slides;
  for (const auto& r : package->Relationships(main))
    if (!r.external && r.type.ends_with("/slide") && package->HasPart(r.partName)) slides[r.id] = r.partName;
  DeckCount deck;
  for (const pugi::xml_node id : Child(presentation.document_element(), "sldIdLst").children()) {
    std::string rid;
    for (const pugi::xml_attribute a : id.attributes())
      if (std::string_view(a.name()).ends_with(":id") && !std::string_view(a.name()).starts_with("xmlns"))
        rid = a.value();
    const auto found = slides.find(rid);
    if (found == slides.end()) continue;
    deck.slides.push_back(CountPage(package->ReadPart(found->second)));
    const std::string notes = Related(*package, found->second, "notesSlide");
    deck.notes.push_back(notes.empty() ? PageCount{2, 1} : CountPage(package->ReadPart(notes)));
  }
  return deck;
}

// --- What the model shows ------------------------------------------------------------------------

// `read`'s text, or its failure number (a damaged part must fail the same way before and after).
template <typename F>
std::string Guarded(F&& read) {
  try {
    return read();
  } catch (const AutomationError& e) {
    return "<failure " + std::to_string(e.number()) + ">";
  }
}

// Shapes and GroupItems alike.
template <typename Items>
std::string Describe(Items& items, const std::string& indent);

std::string Describe(ppt::Shape& shape, const std::string& indent) {
  const std::int32_t type = shape.Type();
  std::string out = indent + std::to_string(type);
  if (type == ppt::kMsoPlaceholder)
    out += " ph" + Guarded([&] { return std::to_string(shape.PlaceholderFormat()->Type()); });
  if (shape.HasTextFrame())
    out += " \"" + Guarded([&] { return text::ToUtf8(shape.TextFrame()->TextRange()->Text()); }) + "\"";
  out += "\n";
  if (type == ppt::kMsoTable)
    out += Guarded([&] {
      const auto table = shape.Table();
      std::string cells =
          indent + "table " + std::to_string(table->RowsCount()) + "x" + std::to_string(table->ColumnsCount());
      for (std::int32_t r = 1; r <= table->RowsCount(); ++r)
        for (std::int32_t c = 1; c <= table->ColumnsCount(); ++c)
          cells += " [" +
                   Guarded([&] { return text::ToUtf8(table->Cell(r, c)->Shape()->TextFrame()->TextRange()->Text()); }) +
                   "]";
      return cells + "\n";
    });
  if (type == ppt::kMsoGroup) out += Guarded([&] { return Describe(*shape.GroupItems(), indent + "  "); });
  return out;
}

template <typename Items>
std::string Describe(Items& items, const std::string& indent) {
  std::string out;
  for (std::int32_t i = 1; i <= items.Count(); ++i) out += Guarded([&] { return Describe(*items.Item(i), indent); });
  return out;
}

// Every slide: its shapes (type, placeholder type, text, tables, group members) and its notes page.
std::string Describe(ppt::Presentation& presentation) {
  std::string out = "size " + std::to_string(presentation.PageSetup()->SlideWidth()) + "x" +
                    std::to_string(presentation.PageSetup()->SlideHeight()) + "\n";
  for (std::int32_t s = 1; s <= presentation.Slides()->Count(); ++s) {
    const auto slide = presentation.Slides()->Item(s);
    out += "slide " + std::to_string(s) + "\n" + Guarded([&] { return Describe(*slide->Shapes(), "  "); }) +
           " notes\n" + Guarded([&] { return Describe(*slide->NotesPage()->Shapes(), "  "); });
  }
  return out;
}

// --- Text exports --------------------------------------------------------------------------------

// How often `needle` (ASCII) occurs in UTF-16LE `bytes`.
std::size_t Occurrences(const std::string& bytes, std::string_view needle) {
  std::string wide;
  for (const char c : needle) wide += {c, '\0'};
  std::size_t count = 0;
  for (auto at = bytes.find(wide); at != std::string::npos; at = bytes.find(wide, at + wide.size())) count += at % 2 == 0;
  return count;
}

// Unicode text exports of a deck through the control label every shape and, with notes, every
// notes page that has a text frame. (The golden exports check the texts themselves.)
void CheckTextExports(QuorvaneX& control, const fs::path& deck, const DeckCount& expected, const fs::path& scratch) {
  std::size_t shapes = 0, notesHeaders = 0;
  for (std::size_t i = 0; i < expected.slides.size(); ++i) {
    shapes += expected.slides[i].shapes;
    notesHeaders += expected.notes[i].textFrames > 0;
  }
  control.put_ShowSlideAndShapeNumber(kVariantTrue);
  for (const bool notes : {false, true}) {
    SCOPED_TRACE(notes ? "with notes" : "without notes");
    const fs::path output = scratch / "out.txt";
    fs::remove(output);
    const std::int32_t result = testing::ConvertWith(control, deck, output, 107, {.start = 0, .end = 0, .notes = notes});
    if (expected.slides.empty()) {
      EXPECT_EQ(result, -10);  // no slide in the range: the progress step divides by zero
      continue;
    }
    ASSERT_EQ(result, 0) << text::ToUtf8(control.get_ErrorString());
    const std::string bytes = ReadFile(output);
    EXPECT_EQ(bytes.size() % 2, 0u) << "not UTF-16LE";
    EXPECT_EQ(Occurrences(bytes, ") Shape("), shapes);
    EXPECT_EQ(Occurrences(bytes, ") Notes("), notes ? notesHeaders : 0);
  }
}

// --- Opening, counting, exporting and saving -----------------------------------------------------

// Opens `path` as the manifest's `note` says it must, checks the counts against the XML and the text
// exports, and that a saved copy reopens as it was; the input is never written. Every file may go
// to the office: only those damaged past reading are refused (the fuzzed legacy file declares a
// stream of 1.7 GB in a file of 116 KB). Returns whether the deck opened.
bool CheckDeck(ppt::Application& app, QuorvaneX& control, const fs::path& path, const std::string& note,
               const fs::path& scratch) {
  SCOPED_TRACE(path.string());
  const std::string name = path.filename().string();
  std::string refusal;
  EXPECT_EQ(ThrownNumber([&] { CheckForOffice(path.string(), kDefaultLimits); }, &refusal) != 0,
            name == "Divino_Revelado.pptx" || name == "clusterfuzz-XSLF-5463285576892416.pptx")
      << refusal;
#if defined(QUORVANE_ENGINE_LIBREOFFICE)
  EXPECT_EQ(libreoffice::CompoundFileFault(path.string(), kDefaultLimits.maxCompoundFileSize).empty(),
            name != "clusterfuzz-HSLF-5306877435838464.ppt");
#endif
  const std::string extension = path.extension().string();
  const bool openXml = extension == ".pptx" || extension == ".ppsx" || note.starts_with("MISLABELLED: OOXML");
  const bool expectOpen = openXml && note.find("ENCRYPTED") == std::string::npos &&
                          note.find("not readable as a zip") == std::string::npos;
  const bool otherFormat = !openXml || note.find("ENCRYPTED") != std::string::npos;
  const std::string before = ReadFile(path);
  std::shared_ptr<ppt::Presentation> presentation;
  std::int32_t number = 0;
  std::u16string description;
  try {
    presentation = app.Presentations()->Open(text::FromUtf8(path.string()), -1, 0, 0);
  } catch (const AutomationError& e) {
    number = e.number();
    description = e.description();
  }
  if (!expectOpen && !(presentation && otherFormat)) {  // another format may open through the renderer
    EXPECT_EQ(presentation, nullptr) << "opened a file that is no Office Open XML presentation";
    for (const std::uint32_t reserved : {0u, 0x80004005u, 0x80048240u, 0x80070057u})
      EXPECT_NE(number, static_cast<std::int32_t>(reserved)) << text::ToUtf8(description);
    EXPECT_NE(description.find(text::FromUtf8(path.filename().string())), std::u16string::npos)
        << "the description names the file: " << text::ToUtf8(description);
    if (otherFormat && !TheRenderer().BuiltIn()) {  // with one, its own refusal (encrypted, damaged) describes the file
      EXPECT_NE(description.find(u" opens only Office Open XML presentations; this file is "), std::u16string::npos)
          << text::ToUtf8(description);
    }
    return false;
  }
  EXPECT_NE(presentation, nullptr) << std::hex << number << " " << text::ToUtf8(description);
  if (!presentation) return false;
  if (expectOpen) {
    const DeckCount expected = CountDeck(path);
    const auto slides = presentation->Slides();
    EXPECT_EQ(slides->Count(), static_cast<std::int32_t>(expected.slides.size()));
    for (std::size_t i = 0; i < expected.slides.size() && i < std::size_t(slides->Count()); ++i) {
      const auto slide = slides->Item(std::int32_t(i + 1));
      EXPECT_EQ(slide->Shapes()->Count(), std::int32_t(expected.slides[i].shapes)) << "slide " << i + 1;
      EXPECT_EQ(slide->NotesPage()->Shapes()->Count(), std::int32_t(expected.notes[i].shapes)) << "slide " << i + 1;
    }
    CheckTextExports(control, path, expected, scratch);
  }
  const std::string view = Describe(*presentation);
  presentation->SaveAs(text::FromUtf8((scratch / "saved.pptx").string()), 24, 0);
  presentation->SaveAs(text::FromUtf8((scratch / "saved.xml").string()), 34, 0);
  EXPECT_EQ(Describe(*presentation), view) << "the open presentation after the save";
  presentation->Close();
  const auto flat = app.Presentations()->Open(text::FromUtf8((scratch / "saved.xml").string()), 0, 0, 0);
  EXPECT_EQ(Describe(*flat), view) << "the copy saved as XML";
  flat->Close();
  const auto reopened = app.Presentations()->Open(text::FromUtf8((scratch / "saved.pptx").string()), 0, 0, 0);
  EXPECT_EQ(Describe(*reopened), view) << "the saved copy";
  // Every readable slide pasted into a new presentation (as the save-as conversion assembles its
  // copies) keeps its shapes, and the copy saves and reopens.
  const auto pasted = app.Presentations()->Add(0);
  std::int32_t copied = 0;
  for (std::int32_t s = 1; s <= reopened->Slides()->Count(); ++s) {
    if (ThrownNumber([&] { reopened->Slides()->Item(s)->Copy(); }) != 0) continue;  // damaged past copying
    pasted->Slides()->Paste(-1);
    ++copied;
    EXPECT_EQ(Guarded([&] { return Describe(*pasted->Slides()->Item(copied)->Shapes(), ""); }),
              Guarded([&] { return Describe(*reopened->Slides()->Item(s)->Shapes(), ""); }))
        << "pasted slide " << s;
  }
  pasted->SaveAs(text::FromUtf8((scratch / "pasted.pptx").string()), 24, 0);
  pasted->Close();
  reopened->Close();
  const auto assembled = app.Presentations()->Open(text::FromUtf8((scratch / "pasted.pptx").string()), 0, 0, 0);
  EXPECT_EQ(assembled->Slides()->Count(), copied) << "the pasted copy";
  assembled->Close();
  EXPECT_EQ(ReadFile(path), before) << "the input file changed";
  return true;
}

TEST(PptxCorpus, EveryDeckOpensOrIsRefusedCleanlyCountsMatchTheXmlExportsKeepTheirInvariantsAndSavedCopiesReopen) {
  testing::TempFolder dir;
  diagnostics::SetLogFolderForTesting(text::FromUtf8(dir.path().string()));
  const std::shared_ptr<void> logBack(nullptr, [](void*) { diagnostics::SetLogFolderForTesting(std::nullopt); });
  const auto app = CreateApplication();
  QuorvaneX control;  // the default provider: the native engine
  builder::Write(builder::Sample(), (dir / "sample.pptx").string());
  builder::Write(builder::Generated(40, 7), (dir / "generated.pptx").string());
  for (const char* built : {"sample.pptx", "generated.pptx"})
    EXPECT_TRUE(CheckDeck(*app, control, dir / built, "", dir.path()));
  QUORVANE_NEEDS_CORPUS();
  std::size_t opened = 0;
  for (const fs::path& deck : testing::CorpusDecks())
    opened += CheckDeck(*app, control, deck, testing::CorpusNote(deck), dir.path());
  EXPECT_GE(opened, 40u);
  app->Quit();
}

}  // namespace
}  // namespace quorvane::engines::pptx
