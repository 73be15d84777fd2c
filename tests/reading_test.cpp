// The reading of a deck as documents: a deck of exact content read back as Markdown and JSON, and
// `Inspect` held to the facts the corpus manifest records.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/reading.hpp"
#include "engines/web_page.hpp"
#include "quorvane/documents.hpp"
#include "support/fixtures.hpp"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
namespace b = engines::pptx::builder;
using Json = nlohmann::json;

constexpr std::int64_t kInch = 914400;

// The body's paragraphs: no bullet, bullets inherited from the master at two levels, a numbered list
// from 3, an external link, a jump to slide 2, a right-to-left paragraph.
constexpr const char* kBodyParagraphs =
    "<a:p><a:pPr><a:buNone/></a:pPr><a:r><a:rPr lang=\"en-US\"/><a:t>Plain intro</a:t></a:r></a:p>"
    "<a:p><a:r><a:rPr lang=\"en-US\"/><a:t>Top point</a:t></a:r></a:p>"
    "<a:p><a:pPr lvl=\"1\"/><a:r><a:rPr lang=\"en-US\"/><a:t>Sub point</a:t></a:r></a:p>"
    "<a:p><a:pPr><a:buAutoNum type=\"arabicPeriod\" startAt=\"3\"/></a:pPr><a:r><a:rPr lang=\"en-US\"/>"
    "<a:t>Third</a:t></a:r></a:p>"
    "<a:p><a:pPr><a:buAutoNum type=\"arabicPeriod\" startAt=\"3\"/></a:pPr><a:r><a:rPr lang=\"en-US\"/>"
    "<a:t>Fourth</a:t></a:r></a:p>"
    "<a:p><a:pPr><a:buNone/></a:pPr><a:r><a:rPr lang=\"en-US\"/><a:t>See </a:t></a:r><a:r><a:rPr lang=\"en-US\">"
    "<a:hlinkClick r:id=\"rIdSite\"/></a:rPr><a:t>the site</a:t></a:r><a:r><a:rPr lang=\"en-US\"/><a:t> or </a:t>"
    "</a:r><a:r><a:rPr lang=\"en-US\"><a:hlinkClick r:id=\"rIdJump\"/></a:rPr><a:t>backup</a:t></a:r><a:r><a:rPr "
    "lang=\"en-US\"><a:hlinkClick r:id=\"rIdScript\"/></a:rPr><a:t> now</a:t></a:r><a:r><a:rPr lang=\"en-US\">"
    "<a:hlinkClick r:id=\"rIdFake\"/></a:rPr><a:t>!</a:t></a:r></a:p>"
    "<a:p><a:pPr rtl=\"1\"><a:buNone/></a:pPr><a:r><a:rPr lang=\"he-IL\"/><a:t>\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D</a:t>"
    "</a:r></a:p>";

b::ShapePlan At(b::ShapePlan shape, double x, double y) {
  shape.frame = b::Frame{static_cast<std::int64_t>(x * kInch), static_cast<std::int64_t>(y * kInch), 3 * kInch,
                         kInch};
  return shape;
}

// Two slides: everything the reading tells apart on the first (shapes listed out of reading order;
// the picture beside the table starts a little higher, and is read after it), a hidden one after it.
void WriteExactDeck(const fs::path& path) {
  b::DeckPlan plan;
  plan.title = u"Exact deck";
  b::ShapePlan table = b::Table({{u"Merged head", u"", u"C"}, {u"a|b", u"x", u"y"}});
  table.table.merges = {{.row = 0, .column = 0, .rows = 1, .columns = 2}};
  b::ShapePlan picture = b::Picture();
  picture.description = u"A red square";
  b::ShapePlan chart = b::Chart();
  chart.chart = {{u"North", 3}, {u"South", 4.5}};
  b::SlidePlan first;
  first.shapes = {At(chart, 0, 5.5), At(picture, 5, 2.8), At(table, 0.5, 3), At(b::Body(u"BODY"), 0.5, 1.5),
                  At(b::Title(u"Plan & goals"), 0.5, 0.2)};
  first.notes = b::NotesPage(u"Speak slowly");
  b::SlidePlan second;
  second.hidden = true;
  second.shapes = {b::Title(u"Backup")};
  plan.slides = {first, second};

  b::BuiltDeck deck = b::Render(plan);
  for (b::BuiltPart& part : deck.parts) {
    if (part.name != "/ppt/slides/slide1.xml") continue;
    const std::size_t marker = part.bytes.find("BODY");
    const std::size_t start = part.bytes.rfind("<a:p>", marker);
    const std::size_t end = part.bytes.find("</a:p>", marker) + 6;
    part.bytes.replace(start, end - start, kBodyParagraphs);
  }
  for (b::BuiltRelationships& entry : deck.relationships) {
    if (entry.source != "/ppt/slides/slide1.xml") continue;
    entry.relationships.push_back({"rIdSite", "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink",
                                   "https://example.com/docs?q=1", true, ""});
    entry.relationships.push_back({"rIdJump", "http://schemas.openxmlformats.org/officeDocument/2006/relationships/slide",
                                   "slide2.xml", false, "/ppt/slides/slide2.xml"});
    for (const auto& [id, target] : {std::pair{"rIdScript", "JavaScript:alert(1)"}, {"rIdFake", "slide 1\" onclick=\"x"}})
      entry.relationships.push_back(
          {id, "http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink", target, true, ""});
  }
  auto package = engines::pptx::Package::Create();
  for (const b::BuiltPart& part : deck.parts) package->SetPart(part.name, part.bytes, part.contentType);
  for (const auto& entry : deck.relationships) package->SetRelationships(entry.source, entry.relationships);
  package->Save(path.string());
}

// The web page's text of a presentation, without its pictures.
std::string PageText(const fs::path& deck) {
  struct Readings final : office::reading::Sink {
    void OnDeck(const office::reading::Deck&) override {}
    void OnSlide(const office::reading::Slide& slide) override { slides.push_back(slide); }
    std::vector<office::reading::Slide> slides;
  } readings;
  const auto application = engines::pptx::CreateApplication();
  const auto model = engines::pptx::ModelOf(application->Presentations()->Open(text::FromUtf8(deck.string()), -1, 0, 0));
  engines::pptx::ReadPresentation(*model, readings);
  const auto contents = engines::slide_output::SlideContents(*model);
  const std::string html = engines::web_page::PageHtml(u"", contents, readings.slides,
                                                        std::vector<engines::web_page::PagePicture>(contents.size()));
  application->Quit();
  return html;
}

TEST(Reading, ExactDeckInMarkdownJsonAndTheWebPage) {
  testing::TempFolder dir;
  const fs::path deck = dir / "exact.pptx";
  WriteExactDeck(deck);
  const std::string html = PageText(deck);
  ExportDocument(deck.string(), (dir / "exact.md").string(), DocumentKind::kMarkdown);
  ExportDocument(deck.string(), (dir / "exact.json").string(), DocumentKind::kJson);
  const std::string md = testing::ReadFile(dir / "exact.md");
  const Json json = Json::parse(testing::ReadFile(dir / "exact.json"));
  const Json& slide = json["slides"][0];
  const Json& body = slide["shapes"][1]["paragraphs"];
  const Json& cells = slide["shapes"][2]["table"]["rows"];

  struct Case {
    const char* what;
    std::string markdown;  // appears in the Markdown
    std::function<bool()> json;
    std::string html = {};  // appears in the web page
  };
  const Case cases[] = {
      {"deck title and size", "# Exact deck\n",
       [&] { return json["deck"]["slideCount"] == 2 && json["deck"]["size"]["widthPixels"] == 1280; }},
      {"slide heading", "\n## Slide 1: Plan & goals\n", [&] { return slide["title"] == "Plan & goals"; },
       "<h2>Slide 1: Plan &amp; goals</h2>"},
      {"hidden slide", "\n## Slide 2: Backup (hidden)\n", [&] { return json["slides"][1]["hidden"] == true; }},
      {"reading order", "",
       [&] {
         std::vector<std::string> kinds;
         for (const Json& shape : slide["shapes"]) kinds.push_back(shape["kind"]);
         return kinds == std::vector<std::string>{"text", "text", "table", "picture", "chart"};
       }},
      {"plain paragraph", "\nPlain intro\n\n- Top point\n", [&] { return body[0]["bullet"]["type"] == "none"; },
       "<p lang=\"en-US\">Plain intro</p>\n<ul>\n<li lang=\"en-US\">Top point\n<ul>\n"},
      {"bullets inherited from the master, by level", "\n- Top point\n  - Sub point\n",
       [&] { return body[1]["bullet"]["type"] == "character" && body[2]["level"] == 1; },
       "<li lang=\"en-US\">Sub point</li>\n</ul>\n</li>\n</ul>\n"},
      {"numbering from its start", "\n3. Third\n4. Fourth\n",
       [&] { return body[4]["bullet"]["number"] == 4 && body[4]["bullet"]["scheme"] == "arabicPeriod"; },
       "<ol start=\"3\">\n<li lang=\"en-US\">Third</li>\n<li lang=\"en-US\">Fourth</li>\n</ol>\n"},
      {"links; a script's and a fake jump's text as plain text", "See [the site](https://example.com/docs?q=1) or backup (slide 2) now!\n",
       [&] {
         return body[5]["runs"][1]["link"] == "https://example.com/docs?q=1" && body[5]["runs"][3]["link"] == "slide 2" &&
                !body[5]["runs"][4].contains("link") && !body[5]["runs"][5].contains("link");
       },
       "See <a href=\"https://example.com/docs?q=1\">the site</a> or <a href=\"#slide2\">backup</a> now!</p>"},
      {"right to left", "\n\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D\n",
       [&] { return body[6]["rtl"] == true && body[6]["language"] == "he-IL" && body[5]["rtl"] == false; },
       "<p dir=\"rtl\" lang=\"he-IL\">\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D</p>"},
      {"merged table", "| Merged head |  | C |\n| --- | --- | --- |\n| a\\|b | x | y |\n",
       [&] {
         return slide["shapes"][2]["table"]["headerRow"] == true && cells[0][0]["colspan"] == 2 &&
                cells[0][1]["covered"] == true && cells[1][0]["paragraphs"][0]["text"] == "a|b";
       },
       "<tr><th colspan=\"2\"><p lang=\"en-US\">Merged head</p></th><th><p lang=\"en-US\">C</p></th></tr>\n"},
      {"picture", "\n*Picture: A red square*\n", [&] { return slide["shapes"][3]["alternativeText"] == "A red square"; }},
      {"chart", "| North | 3 |\n| South | 4.5 |\n",
       [&] {
         const Json& series = slide["shapes"][4]["chart"]["series"][0];
         return series["categories"][1] == "South" && series["values"][1] == 4.5;
       }},
      {"notes", "\n### Notes\n\nSpeak slowly\n", [&] { return slide["notes"][0]["text"] == "Speak slowly"; },
       "<h3>Notes</h3>\n<p lang=\"en-US\">Speak slowly</p>"},
  };
  for (const Case& c : cases) {
    EXPECT_NE(md.find(c.markdown), std::string::npos) << c.what << ": not in the Markdown:\n" << md;
    EXPECT_TRUE(c.json()) << c.what << ": the JSON says otherwise:\n" << json.dump(1);
    EXPECT_NE(html.find(c.html), std::string::npos) << c.what << ": not in the web page:\n" << html;
  }
  EXPECT_EQ(html.find("Backup"), std::string::npos) << "the hidden slide";
}

// The facts MANIFEST.tsv records of each Office Open XML deck (slides, hidden slides, slides with
// notes, the application), and of the encrypted and broken ones that they are reported, not thrown.
TEST(Reading, InspectTellsWhatTheManifestRecords) {
  QUORVANE_NEEDS_CORPUS();
  const std::regex slides(R"(\| (\d+) slides?;)"), hidden(R"((\d+) hidden slides?)"),
      notes(R"(notes text on (\d+))"), app(R"(app: ([^;]+)$)");
  int checked = 0;
  for (const fs::path& deck : testing::CorpusDecks()) {
    const std::string note = testing::CorpusNote(deck);
    std::smatch m;
    const bool broken = note.find("not readable as a zip") != std::string::npos ||
                        note.find("ENCRYPTED .pptx") != std::string::npos;
    if (!broken && (!std::regex_search(note, m, slides) || deck.extension() == ".odp")) continue;
    SCOPED_TRACE(deck.string());
    const DeckInspection info = Inspect(deck.string());
    ++checked;
    if (broken) {
      EXPECT_FALSE(info.ok);
      EXPECT_EQ(info.encrypted, note.find("ENCRYPTED") != std::string::npos) << info.error;
      EXPECT_FALSE(info.error.empty());
      continue;
    }
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_EQ(info.slideCount, std::stoi(m[1]));
    EXPECT_EQ(info.titles.size(), static_cast<std::size_t>(info.slideCount));
    EXPECT_EQ(info.hiddenSlides.size(), std::regex_search(note, m, hidden) ? std::stoul(m[1]) : 0u);
    EXPECT_EQ(info.slidesWithNotes.size(), std::regex_search(note, m, notes) ? std::stoul(m[1]) : 0u);
    if (std::regex_search(note, m, app)) {
      const std::string expected = m[1] == "none recorded" ? "" : std::string(m[1]);
      EXPECT_EQ(info.application.substr(0, expected.size()), expected);
    }
    EXPECT_GT(info.widthPixels, 0);
  }
  EXPECT_GT(checked, 40);
  // A deck the office converted names the application of its original, not the office.
  for (const auto& [deck, application] :
       {std::pair{"odftoolkit/Presentation1.odp", "IBM_Lotus_Symphony/3.0$Win32 OpenOffice.org_project/310m11$Build-9399"},
        {"poi/SampleShow.ppt", ""}})
    EXPECT_EQ(Inspect((testing::CorpusDir() / deck).string()).application, application) << deck;
}

}  // namespace
}  // namespace quorvane
