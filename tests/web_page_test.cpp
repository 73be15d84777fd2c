// The save formats made from slide pictures: the web page (12, 13, 14), the web archive (20), the
// metafile folder (15) and the picture presentation (36); and the native engine answering through
// the renderer.
//
// WebPageWriters runs the writers on the native engine's model with a stand-in drawer (small PNG
// files), so the page, the archive, the folders and every failure path are checked without an
// office. RenderBridge converts decks through the control as a host does, with the renderer
// drawing (skipped where LibreOffice is absent).
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <map>
#include <optional>
#include <regex>

#include "common/numbered_files.hpp"
#include "engines/picture_show.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/model.hpp"
#include "engines/shared/render_bridge.hpp"
#include "engines/slide_output.hpp"
#include "engines/web_page.hpp"
#include "support/fixtures.hpp"

namespace {

namespace fs = std::filesystem;
namespace builder = quorvane::engines::pptx::builder;
namespace pptx = quorvane::engines::pptx;
namespace slide_output = quorvane::engines::slide_output;
namespace web_page = quorvane::engines::web_page;
namespace text = quorvane::text;
using quorvane::AutomationError;
using quorvane::testing::ReadFile;
using quorvane::testing::WriteFile;
using Strings = std::vector<std::string>;

// Every entry under `folder` (relative name -> content, "<dir>" for folders): what a failed save
// must leave exactly as it was.
std::map<std::string, std::string> Listing(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    out[fs::relative(entry.path(), folder).string()] = entry.is_directory() ? "<dir>" : ReadFile(entry.path());
  return out;
}

// The first group of every match of `pattern`.
Strings Matches(const std::string& haystack, const std::string& pattern) {
  Strings out;
  const std::regex re(pattern);
  for (auto it = std::sregex_iterator(haystack.begin(), haystack.end(), re); it != std::sregex_iterator(); ++it)
    out.push_back((*it)[1]);
  return out;
}

bool IsPng(const std::string& bytes) { return quorvane::testing::PngSize(bytes).first > 0; }
// How many times `needle` occurs in `haystack`.
std::size_t Count(const std::string& haystack, const std::string& needle) {
  std::size_t n = 0;
  for (auto at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
  return n;
}

// The notes text of slide `index` as the object model answers it: its body placeholders' text.
std::u16string NotesText(quorvane::office::ppt::Presentation& presentation, std::int32_t index) {
  std::u16string out;
  const auto placeholders = presentation.Slides()->Item(index)->NotesPage()->Shapes()->Placeholders();
  for (std::int32_t p = 1; p <= placeholders->Count(); ++p) {
    const auto shape = placeholders->Item(p);
    if (shape->PlaceholderFormat()->Type() != quorvane::office::ppt::kPlaceholderBody) continue;
    const std::u16string t = shape->TextFrame()->TextRange()->Text();
    if (!t.empty()) out += (out.empty() ? u"" : u"\r") + t;
  }
  return out;
}

TEST(WebPageText, NamesLinksAndEscapes) {
  const std::array<const char*, 3> folders[] = {
      {"/out/deck", "/out/deck_files", "/out/deck"}, {"/out/my.deck.html", "/out/my.deck_files", "/out/my.deck"},
      {"/out/.htm", "/out/.htm_files", "/out/.htm"}, {"/out/dir.d/deck", "/out/dir.d/deck_files", "/out/dir.d/deck"},
  };
  for (const auto& [path, pictures, metafiles] : folders) {
    EXPECT_EQ(web_page::PictureFolderOf(path), pictures) << path;
    EXPECT_EQ(slide_output::MetafileFolderOf(path), metafiles) << path;
  }
  const std::pair<const char*, const char*> links[] = {
      {"my deck_files/slide1.png", "my%20deck_files/slide1.png"},
      {"a#b?c%d&e\"f'g<h>:i_files", "a%23b%3Fc%25d%26e%22f%27g%3Ch%3E%3Ai_files"},
      {"\xC3\xA9t\xC3\xA9_files", "%C3%A9t%C3%A9_files"}, {"A-Z.a~z_0-9/", "A-Z.a~z_0-9/"},
  };
  for (const auto& [path, link] : links) EXPECT_EQ(text::PercentEncoded(path), link) << path;
  const std::pair<std::u16string, std::string> escapes[] = {
      {u"<b>&amp;\"q\" 'a'", "&lt;b&gt;&amp;amp;&quot;q&quot; &#39;a&#39;"},
      {u"tab\tline\nCR\rbell\a", "tab\tline\nCRbell"},
      {u"\u00E9\u4E2D\U0001F600", "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"},
      {std::u16string(u"lone ") + static_cast<char16_t>(0xD800) + u"!", "lone \xEF\xBF\xBD!"}, {u"c1\u0085ok", "c1ok"},
  };
  for (const auto& [in, html] : escapes) EXPECT_EQ(web_page::EscapedHtml(in), html) << text::ToUtf8(in);
  // RFC 4648's vectors, and the line length MIME wants.
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""}, {"f", "Zg==\r\n"}, {"fo", "Zm8=\r\n"}, {"foo", "Zm9v\r\n"}, {"foobar", "Zm9vYmFy\r\n"}};
  for (const auto& [in, out] : vectors) EXPECT_EQ(web_page::Base64Lines(in), out) << in;
  const std::string long57(57, 'x');
  EXPECT_EQ(web_page::Base64Lines(long57).find("\r\n"), 76u);
  EXPECT_EQ(web_page::Base64Lines(long57 + long57).size(), 2 * 78u);
}

// --- The writers on the native model, with a stand-in drawer --------------------------------------

class WebPageWriters : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(Out());
    builder::Write(builder::Sample(), (root_ / "deck.pptx").string());
    presentation_ = app_->Presentations()->Open(text::FromUtf8((root_ / "deck.pptx").string()), -1, 0, 0);
    model_ = pptx::ModelOf(presentation_);
    ASSERT_TRUE(model_);
  }
  void TearDown() override { app_->Quit(); }

  // Draws every slide as the builder's small PNG, or a metafile naming its slide, and notes what it
  // was asked; with fail_ set it fails as a renderer that died does.
  slide_output::SlideDrawer Drawer() {
    return [this](pptx::PresentationModel&, const std::vector<std::int32_t>& numbers, const std::string& filter) {
      asked_.push_back(numbers);
      filters_.push_back(filter);
      if (fail_) throw AutomationError(static_cast<std::int32_t>(0x800706BAu), u"The office is gone.");
      Strings files;
      for (const std::int32_t n : numbers) {
        files.push_back((root_ / ("drawn" + std::to_string(n) + "." + filter)).string());
        WriteFile(files.back(), filter == "WMF" ? "\xD7\xCD\xC6\x9A metafile " + std::to_string(n) : builder::templates::Png());
      }
      return files;
    };
  }
  fs::path Out() const { return root_ / "out"; }
  std::size_t EntriesOut() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(Out()), {})); }

  quorvane::testing::TempFolder root_;
  std::vector<std::vector<std::int32_t>> asked_;
  Strings filters_;
  bool fail_ = false;
  std::shared_ptr<quorvane::office::ppt::Application> app_ = pptx::CreateApplication();
  std::shared_ptr<quorvane::office::ppt::Presentation> presentation_;
  std::shared_ptr<pptx::PresentationModel> model_;
};

// The sample deck: four slides, the fourth hidden; text with markup characters on slide 2, notes
// there, a table on slide 3.
// An existing picture folder is written into: pictures of the same names replaced, other files left
// alone (a page that cannot be written afterwards puts it back: FailuresLeaveNothingBehind).
TEST_F(WebPageWriters, PageShowsTheSlidesAnAudienceSees) {
  const fs::path page = Out() / "my deck#1.htm";
  fs::create_directories(Out() / "my deck#1_files");
  WriteFile(Out() / "my deck#1_files" / "slide1.png", "old picture");
  WriteFile(Out() / "my deck#1_files" / "mine.txt", "the user's");
  web_page::WebPageWriter(Drawer())(*model_, page.string());
  EXPECT_EQ(asked_, (std::vector<std::vector<std::int32_t>>{{1, 2, 3}})) << "in one go, the hidden slide left out";
  EXPECT_EQ(filters_, Strings{"PNG"});
  const std::string html = ReadFile(page);
  EXPECT_TRUE(html.starts_with("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">"));
  EXPECT_EQ(Matches(html, "<section id=\"([^\"]+)\""), (Strings{"slide1", "slide2", "slide3"}));
  EXPECT_EQ(Matches(html, "<img src=\"([^\"]+)\""),
            (Strings{"my%20deck%231_files/slide1.png", "my%20deck%231_files/slide2.png", "my%20deck%231_files/slide3.png"}));
  EXPECT_EQ(Count(html, " width=\"8\" height=\"8\" alt=\"Slide "), 3u) << "each picture's size and text";
  for (const char* part : {"<title>Quorvane sample deck</title>", "alt=\"Slide 2: Text\"",
                           "<li lang=\"en-US\">Escaped: &lt;&amp;&gt; &quot;quoted&quot;</li>",
                           "<li lang=\"en-US\">Second paragraph with a<br>line break</li>",
                           "<table>\n<tr><th><p lang=\"en-US\">Region</p></th><th><p lang=\"en-US\">Q1</p></th>",
                           "<tr><td><p lang=\"en-US\">Total</p></td><td colspan=\"2\"></td></tr>\n</table>",
                           "<h3>Notes</h3>\n<p lang=\"en-US\">Notes of the text slide</p>\n<p lang=\"en-US\">with two "
                           "paragraphs</p>"})
    EXPECT_NE(html.find(part), std::string::npos) << part;
  EXPECT_EQ(html.find("<&>"), std::string::npos);
  EXPECT_EQ(html.find("Outer text box"), std::string::npos) << "text of the hidden slide";
  Strings files;
  for (const auto& entry : fs::directory_iterator(Out() / "my deck#1_files")) files.push_back(entry.path().filename());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (Strings{"mine.txt", "slide1.png", "slide2.png", "slide3.png"}));
  EXPECT_EQ(ReadFile(Out() / "my deck#1_files" / "slide1.png"), builder::templates::Png());
  EXPECT_EQ(ReadFile(Out() / "my deck#1_files" / "mine.txt"), "the user's");
  EXPECT_EQ(EntriesOut(), 2u) << "nothing but the page and its folder, no staging";

  // A presentation whose slides are all hidden gives a page that says so, and no picture folder.
  builder::DeckPlan plan;
  plan.slides.assign(2, {{builder::Title(u"Hidden title")}, {}, true, true, {}});
  builder::Write(plan, (root_ / "hidden.pptx").string());
  auto hidden = app_->Presentations()->Open(text::FromUtf8((root_ / "hidden.pptx").string()), -1, 0, 0);
  asked_.clear();
  web_page::WebPageWriter(Drawer())(*pptx::ModelOf(hidden), (Out() / "hidden.htm").string());
  EXPECT_TRUE(asked_.empty());
  const std::string empty = ReadFile(Out() / "hidden.htm");
  EXPECT_NE(empty.find("<p>There are no slides to show.</p>"), std::string::npos);
  EXPECT_EQ(empty.find("<img"), std::string::npos);
  EXPECT_EQ(empty.find("Hidden title"), std::string::npos);
  EXPECT_FALSE(fs::exists(Out() / "hidden_files"));
}

// The picture presentation reopens in the native engine: a picture per slide and nothing else, the
// notes text as it was, the hidden slide still hidden.
TEST_F(WebPageWriters, PicturePresentationKeepsNotesAndNothingElse) {
  const fs::path out = Out() / "pictures.pptx";
  quorvane::engines::picture_show::PicturePresentationWriter(Drawer())(*model_, out.string());
  EXPECT_EQ(asked_, (std::vector<std::vector<std::int32_t>>{{1, 2, 3, 4}}));
  auto reopened = app_->Presentations()->Open(text::FromUtf8(out.string()), -1, 0, 0);
  ASSERT_EQ(reopened->Slides()->Count(), 4);
  EXPECT_FLOAT_EQ(reopened->PageSetup()->SlideWidth(), presentation_->PageSetup()->SlideWidth());
  EXPECT_FLOAT_EQ(reopened->PageSetup()->SlideHeight(), presentation_->PageSetup()->SlideHeight());
  EXPECT_EQ(NotesText(*reopened, 2), u"Notes of the text slide\rwith two paragraphs");
  const auto package = pptx::Package::Open(out.string());
  EXPECT_NE(package->ReadPart("/ppt/slides/slide4.xml").find("show=\"0\""), std::string::npos);
  for (std::int32_t i = 1; i <= 4; ++i) {
    const auto shapes = reopened->Slides()->Item(i)->Shapes();
    ASSERT_EQ(shapes->Count(), 1) << "slide " << i;
    EXPECT_EQ(shapes->Item(1)->HasTextFrame(), 0) << "slide " << i;
    EXPECT_EQ(NotesText(*reopened, i), NotesText(*presentation_, i)) << "slide " << i;
    Strings pictures;
    for (const auto& r : package->Relationships("/ppt/slides/slide" + std::to_string(i) + ".xml"))
      if (r.type == builder::rel_type::kImage && IsPng(package->ReadPart(r.partName))) pictures.push_back(r.partName);
    EXPECT_EQ(pictures, Strings{"/ppt/media/image" + std::to_string(i) + ".png"}) << "slide " << i;
  }
}

// Whatever fails, the output folder holds what it held before: no page, no folder, no staging. Files
// in the metafile folder that an open presentation reads from or that are read-only are refused, and
// so is a folder nobody can write (immutable even for root).
TEST_F(WebPageWriters, FailuresLeaveNothingBehind) {
  using Writer = std::function<void(const std::string&)>;
  const Writer page = [&](const std::string& p) { web_page::WebPageWriter(Drawer())(*model_, p); };
  const Writer archive = [&](const std::string& p) { web_page::WebArchiveWriter(Drawer())(*model_, p); };
  const Writer metafiles = [&](const std::string& p) { slide_output::MetafileFolderWriter(Drawer())(*model_, p); };
  const Writer pictures = [&](const std::string& p) {
    quorvane::engines::picture_show::PicturePresentationWriter(Drawer())(*model_, p);
  };
  std::optional<quorvane::files::ReadHold> hold;
  std::optional<quorvane::testing::ImmutableFile> immutable;
  // arrange: makes the failure
  struct Row { const char* name; const Writer* writer; const char* target; std::function<void()> arrange; std::uint32_t number; };
  const auto dies = [&] { fail_ = true; };
  const auto folderAt = [&](const char* name) { return [this, name] { fs::create_directories(Out() / name); }; };
  const auto fileAt = [&](const char* name) { return [this, name] { WriteFile(Out() / name, "in the way"); }; };
  const auto readOnlyPage = [this] {
    WriteFile(Out() / "deck.htm", "old page");
    fs::permissions(Out() / "deck.htm", fs::perms::owner_read);
  };
  const auto existingFolder = [&] {
    fs::create_directories(Out() / "deck_files");
    WriteFile(Out() / "deck_files" / "slide1.png", "old picture");
    WriteFile(Out() / "deck_files" / "mine.txt", "the user's");
    readOnlyPage();
  };
  const auto metafileIn = [&](bool held) {
    return [&, held] {
      fs::create_directories(Out() / "deck");
      WriteFile(Out() / "deck" / "Slide2.WMF", "an open presentation's file");
      if (held) hold.emplace((Out() / "deck" / "Slide2.WMF").string());
      else fs::permissions(Out() / "deck" / "Slide2.WMF", fs::perms::owner_read);
    };
  };
  const auto locked = [&] { immutable.emplace(Out()); };
  const Row rows[] = {
      {"page, office dies", &page, "deck.htm", dies, 0x800706BAu},
      {"archive, office dies", &archive, "deck.mht", dies, 0x800706BAu},
      {"metafiles, office dies", &metafiles, "deck.wmf", dies, 0x800706BAu},
      {"pictures, office dies", &pictures, "deck.pptx", dies, 0x800706BAu},
      {"page is a folder", &page, "deck.htm", folderAt("deck.htm"), 0x80070005u},
      {"archive is a folder", &archive, "deck.mht", folderAt("deck.mht"), 0x80070005u},
      {"pictures is a folder", &pictures, "deck.pptx", folderAt("deck.pptx"), 0x80070005u},
      {"picture folder is a file", &page, "deck.htm", fileAt("deck_files"), 0x80070005u},
      {"metafile folder is a file", &metafiles, "deck.wmf", fileAt("deck"), 0x80070005u},
      {"page read-only, after its folder", &page, "deck.htm", readOnlyPage, 0x80070005u},
      {"page read-only, its folder put back", &page, "deck.htm", existingFolder, 0x80070005u},
      {"a metafile held open", &metafiles, "deck.wmf", metafileIn(true), 0x80070005u},
      {"a metafile read-only", &metafiles, "deck.wmf", metafileIn(false), 0x80070005u},
      {"page folder missing", &page, "gone/deck.htm", [] {}, 0x80070003u},
      {"metafile folder's folder missing", &metafiles, "gone/deck.wmf", [] {}, 0x80070003u},
      {"page into an immutable folder", &page, "deck.htm", locked, 0x80070005u},
      {"metafiles into an immutable folder", &metafiles, "deck.wmf", locked, 0x80070005u},
  };
  for (const auto& row : rows) {
    hold.reset();
    immutable.reset();
    fs::remove_all(Out());
    fs::create_directories(Out());
    fail_ = false;
    row.arrange();
    if (immutable && !immutable->ok()) continue;  // the file system cannot make a folder immutable
    const auto before = Listing(Out());
    std::string description;
    EXPECT_EQ(static_cast<std::uint32_t>(quorvane::testing::ThrownNumber(
                  [&] { (*row.writer)((Out() / row.target).string()); }, &description)),
              row.number)
        << row.name << ": " << description;
    EXPECT_EQ(Listing(Out()), before) << row.name;
  }
  immutable.reset();
}

// --- Through the control, drawn by the renderer -------------------------------------------------
// The native engine answering through the renderer as a host drives it: the web formats, PDF and
// legacy formats, slide pictures, legacy inputs. One control (with OptimizeForSpeed) serves every
// conversion of the suite, so the office starts once.

class RenderBridge : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!quorvane::engines::render_bridge::RendererBuiltIn() || access("/usr/bin/soffice", X_OK) != 0) return;
    folder_ = std::make_unique<quorvane::testing::TempFolder>();
    builder::Write(builder::Sample(), Sample().string());
    control_ = std::make_unique<quorvane::QuorvaneX>();
    control_->put_OptimizeForSpeed(quorvane::kVariantTrue);
  }
  // The control quits the application: the office ends with its lease.
  static void TearDownTestSuite() { control_.reset(), folder_.reset(); }
  void SetUp() override {
    if (!control_) GTEST_SKIP() << "no renderer: the component is built without it or soffice is not installed";
  }
  static fs::path Sample() { return *folder_ / "sample.pptx"; }
  static fs::path At(const std::string& name) { return *folder_ / name; }
  static std::int32_t Convert(const fs::path& input, const fs::path& output, std::int32_t code, std::int32_t start = 1,
                              std::int32_t end = 9999) {
    return quorvane::testing::ConvertWith(*control_, input, output, code, {.start = start, .end = end});
  }
  static std::shared_ptr<quorvane::office::ppt::Presentation> Open(
      const std::shared_ptr<quorvane::office::ppt::Application>& app, const fs::path& file) {
    return app->Presentations()->Open(text::FromUtf8(file.string()), -1, 0, 0);
  }

  static inline std::unique_ptr<quorvane::testing::TempFolder> folder_;
  static inline std::unique_ptr<quorvane::QuorvaneX> control_;
};

// PDF leaves hidden slides out (the sample's fourth slide is hidden); legacy and OpenDocument saves
// reopen through the renderer and read back the sample's text; formats the renderer does not serve
// fail as a save the engine refuses.
TEST_F(RenderBridge, SaveAsFormatsTheEngineDoesNotWrite) {
  ASSERT_TRUE(builder::Sample().slides.size() == 4 && builder::Sample().slides[3].hidden);
  // pages: for a PDF its page count; else -1, and the output is reopened as text instead
  const struct { const char* name; std::int32_t code, start, end, result; int pages; std::string magic; } rows[] = {
      {"whole.pdf", 32, 1, 9999, 0, 3, "%PDF"},       {"range.pdf", 32, 2, 3, 0, 2, "%PDF"},
      {"legacy.ppt", 1, 1, 9999, 0, -1, "\xD0\xCF\x11\xE0"}, {"open.odp", 35, 1, 9999, 0, -1, "PK\x03\x04"},
      {"unserved 2", 2, 1, 9999, -16, -1, ""},
  };
  for (const auto& row : rows) {
    const fs::path out = At(row.name);
    ASSERT_EQ(Convert(Sample(), out, row.code, row.start, row.end), row.result) << row.name;
    if (row.result != 0) continue;
    EXPECT_EQ(ReadFile(out).substr(0, row.magic.size()), row.magic) << row.name;
    if (row.pages >= 0) {
      EXPECT_EQ(quorvane::testing::PdfPageCount(out), row.pages) << row.name;
      continue;
    }
    ASSERT_EQ(Convert(out, At(std::string(row.name) + ".txt"), 200), 0) << row.name << " does not reopen";
    EXPECT_NE(ReadFile(At(std::string(row.name) + ".txt")).find("Every kind of shape"), std::string::npos) << row.name;
  }
}

// Slides exported one after another are drawn in one load; each drawn picture is handed out once and
// its file goes, so the drawings kept never outgrow the slides still to come, and exporting a slide
// again draws it again. A change to the presentation reaches the next picture (the copy the renderer
// draws is renewed). A converted original is held like any opened file: no save replaces it while it
// is open.
TEST_F(RenderBridge, DrawnPicturesChangedPresentationsAndHeldOriginals) {
  const fs::path scratch = At("scratch");
  fs::create_directories(scratch);
  quorvane::testing::ScopedVariable tmpdir("TMPDIR", scratch.string());
  const auto drawingsKept = [&] {
    int n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(scratch))
      n += entry.path().filename().string().starts_with("slide") ? 1 : 0;
    return n;
  };
  auto app = pptx::CreateApplication();
  auto deck = Open(app, Sample());
  const int slides = deck->Slides()->Count();
  ASSERT_GE(slides, 3);
  const auto exported = [&](int slide, const std::string& name) {
    deck->Slides()->Item(slide)->Export(text::FromUtf8(At(name).string()), u"PNG", 0, 0);
    return ReadFile(At(name));
  };
  for (int i = 1; i <= slides; ++i) {
    exported(i, "kept" + std::to_string(i) + ".png");
    EXPECT_EQ(drawingsKept(), slides - i) << "after slide " << i;
  }
  EXPECT_EQ(exported(2, "again.png"), ReadFile(At("kept2.png")));
  const std::uint32_t wide = quorvane::testing::PngSize(exported(1, "before.png")).first;
  deck->PageSetup()->put_SlideWidth(deck->PageSetup()->SlideWidth() / 2);
  EXPECT_NEAR(quorvane::testing::PngSize(exported(1, "after.png")).first, wide / 2, 1) << "the picture shows the changed size";

  const fs::path legacy = At("held.ppt");
  ASSERT_EQ(Convert(Sample(), legacy, 1), 0);
  const std::string before = ReadFile(legacy);
  auto opened = Open(app, legacy);
  EXPECT_EQ(static_cast<std::uint32_t>(quorvane::testing::ThrownNumber([&] { deck->SaveAs(text::FromUtf8(legacy.string()), 1, 0); })),
            0x80048240u);
  EXPECT_EQ(ReadFile(legacy), before);
  opened->Close();
  deck->Close();
  app->Quit();
}

}  // namespace
