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
// A placeable metafile, or a bare one (type 1 or 2, header size 9 words).
bool IsWmf(std::string_view b) {
  return b.substr(0, 4) == "\xD7\xCD\xC6\x9A" || ((b.substr(0, 1) == "\x01" || b.substr(0, 1) == "\x02") &&
                                                   b.substr(1, 5) == std::string_view("\x00\x09\x00\x00\x03", 5));
}

std::string Base64Decoded(std::string_view in) {
  static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::uint32_t bits = 0;
  int held = 0;
  for (const char c : in) {
    if (c == '=' || c == '\r' || c == '\n') continue;
    const auto v = kAlphabet.find(c);
    if (v == std::string::npos) throw std::invalid_argument(std::string("not base64: ") + c);
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    if ((held += 6) >= 8) out += static_cast<char>((bits >> (held -= 8)) & 0xFF);
  }
  return out;
}

// One part of a web archive, decoded.
struct ArchivePart { std::string contentType, location, body; };

// Parses a multipart/related archive as a reader would: the boundary from the header, parts between
// boundary lines, headers up to the empty line, base64 bodies.
std::vector<ArchivePart> ParseArchive(const std::string& archive) {
  std::smatch m;
  if (!std::regex_search(archive, m, std::regex("boundary=\"([^\"]+)\""))) throw std::invalid_argument("no boundary");
  const std::string delimiter = "\r\n--" + m[1].str();
  std::vector<ArchivePart> parts;
  for (std::size_t at = archive.find(delimiter); at != std::string::npos;) {
    at += delimiter.size();
    if (archive.compare(at, 2, "--") == 0) return parts;  // the closing delimiter
    const std::size_t next = archive.find(delimiter, at);
    const std::string part = archive.substr(at + 2, next - at - 2);
    const std::size_t split = part.find("\r\n\r\n");
    const std::string headers = part.substr(0, split);
    if (next == std::string::npos || split == std::string::npos ||
        headers.find("Content-Transfer-Encoding: base64") == std::string::npos)
      throw std::invalid_argument("malformed part: " + headers);
    ArchivePart out;
    if (std::regex_search(headers, m, std::regex("Content-Type: ([^\r]+)"))) out.contentType = m[1];
    if (std::regex_search(headers, m, std::regex("Content-Location: ([^\r]+)"))) out.location = m[1];
    out.body = Base64Decoded(part.substr(split + 4));
    parts.push_back(std::move(out));
    at = next;
  }
  throw std::invalid_argument("unterminated archive");
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
  EXPECT_EQ(Base64Decoded(web_page::Base64Lines(builder::templates::Png())), builder::templates::Png());
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
TEST_F(WebPageWriters, PageShowsTheSlidesAnAudienceSees) {
  const fs::path page = Out() / "my deck#1.htm";
  web_page::WebPageWriter(Drawer())(*model_, page.string());
  EXPECT_EQ(asked_, (std::vector<std::vector<std::int32_t>>{{1, 2, 3}})) << "in one go, the hidden slide left out";
  EXPECT_EQ(filters_, Strings{"PNG"});
  const std::string html = ReadFile(page);
  EXPECT_TRUE(html.starts_with("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">"));
  EXPECT_EQ(Matches(html, "<section id=\"([^\"]+)\""), (Strings{"slide1", "slide2", "slide3"}));
  EXPECT_EQ(Matches(html, "<img src=\"([^\"]+)\""),
            (Strings{"my%20deck%231_files/slide1.png", "my%20deck%231_files/slide2.png", "my%20deck%231_files/slide3.png"}));
  EXPECT_EQ(Matches(html, "( width=\"8\" height=\"8\" alt=\"Slide )").size(), 3u) << "each picture's size and text";
  for (const char* part : {"<title>Quorvane sample deck</title>", "alt=\"Slide 2: Text\"",
                           "<p>Escaped: &lt;&amp;&gt; &quot;quoted&quot;</p>", "<p>Second paragraph with a<br>line break</p>",
                           "<table>\n<tr><td><p>Region</p></td><td><p>Q1</p></td><td><p>Q2</p></td></tr>\n",
                           "<tr><td><p>Total</p></td><td></td><td></td></tr>\n</table>",
                           "<h3>Notes</h3>\n<p>Notes of the text slide</p>\n<p>with two paragraphs</p>"})
    EXPECT_NE(html.find(part), std::string::npos) << part;
  EXPECT_EQ(html.find("<&>"), std::string::npos);
  EXPECT_EQ(html.find("Outer text box"), std::string::npos) << "text of the hidden slide";
  Strings files;
  for (const auto& entry : fs::directory_iterator(Out() / "my deck#1_files")) files.push_back(entry.path().filename());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (Strings{"slide1.png", "slide2.png", "slide3.png"}));
  EXPECT_EQ(ReadFile(Out() / "my deck#1_files" / "slide2.png"), builder::templates::Png());
  EXPECT_EQ(EntriesOut(), 2u) << "nothing but the page and its folder";

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

// The archive holds the page and the pictures of the slides shown; the metafile folder every slide,
// with the permissions of a folder the user made (not those of its staging).
TEST_F(WebPageWriters, ArchiveAndMetafileFolder) {
  web_page::WebArchiveWriter(Drawer())(*model_, (Out() / "deck.mht").string());
  const std::vector<ArchivePart> parts = ParseArchive(ReadFile(Out() / "deck.mht"));
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_EQ(parts[0].contentType, "text/html; charset=\"utf-8\"");
  EXPECT_EQ(parts[0].location, "file:///deck.htm");
  EXPECT_NE(parts[0].body.find("Escaped: &lt;&amp;&gt;"), std::string::npos);
  const Strings links = Matches(parts[0].body, "<img src=\"([^\"]+)\"");
  ASSERT_EQ(links.size(), 3u);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    EXPECT_EQ(parts[i].contentType, "image/png");
    EXPECT_TRUE(IsPng(parts[i].body)) << parts[i].location;
    EXPECT_EQ("file:///" + links[i - 1], parts[i].location) << "the page's link resolves to the picture";
  }
  EXPECT_EQ(EntriesOut(), 1u) << "one file, no folder";

  slide_output::MetafileFolderWriter(Drawer())(*model_, (Out() / "deck.wmf").string());
  EXPECT_EQ(filters_.back(), "WMF");
  EXPECT_FALSE(fs::exists(Out() / "deck.wmf"));
  for (int i = 1; i <= 4; ++i) {
    const std::string bytes = ReadFile(Out() / "deck" / ("Slide" + std::to_string(i) + ".WMF"));
    EXPECT_TRUE(IsWmf(bytes) && bytes.ends_with(" " + std::to_string(i))) << "slide " << i;
  }
  EXPECT_NE(fs::status(Out() / "deck").permissions() & fs::perms::others_read, fs::perms::none);
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

// An existing picture folder is written into: pictures of the same names replaced, other files left
// alone; a page that cannot be written afterwards puts the folder back as it was.
TEST_F(WebPageWriters, ExistingFoldersAreWrittenIntoAndPutBack) {
  const fs::path page = Out() / "deck.htm", folder = Out() / "deck_files";
  fs::create_directories(folder);
  WriteFile(folder / "slide1.png", "old picture");
  WriteFile(folder / "mine.txt", "the user's");
  WriteFile(page, "old page");
  fs::permissions(page, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const auto before = Listing(Out());
  EXPECT_THROW(web_page::WebPageWriter(Drawer())(*model_, page.string()), AutomationError) << "a read-only page";
  EXPECT_EQ(Listing(Out()), before);
  fs::permissions(page, fs::perms::owner_read | fs::perms::owner_write);
  web_page::WebPageWriter(Drawer())(*model_, page.string());
  EXPECT_EQ(ReadFile(folder / "slide1.png"), builder::templates::Png());
  EXPECT_EQ(ReadFile(folder / "mine.txt"), "the user's");
  EXPECT_TRUE(fs::exists(folder / "slide3.png"));
  EXPECT_NE(ReadFile(page), "old page");
  EXPECT_EQ(EntriesOut(), 2u) << "no staging left";
}

// Whatever fails, the output folder holds what it held before: no page, no folder, no staging.
TEST_F(WebPageWriters, FailuresLeaveNothingBehind) {
  using Writer = std::function<void(const std::string&)>;
  const Writer page = [&](const std::string& p) { web_page::WebPageWriter(Drawer())(*model_, p); };
  const Writer archive = [&](const std::string& p) { web_page::WebArchiveWriter(Drawer())(*model_, p); };
  const Writer metafiles = [&](const std::string& p) { slide_output::MetafileFolderWriter(Drawer())(*model_, p); };
  const Writer pictures = [&](const std::string& p) {
    quorvane::engines::picture_show::PicturePresentationWriter(Drawer())(*model_, p);
  };
  // arrange: makes the failure
  struct Row { const char* name; const Writer* writer; const char* target; std::function<void()> arrange; std::uint32_t number; };
  const auto dies = [&] { fail_ = true; };
  const auto folderAt = [&](const char* name) { return [this, name] { fs::create_directories(Out() / name); }; };
  const auto fileAt = [&](const char* name) { return [this, name] { WriteFile(Out() / name, "in the way"); }; };
  const auto readOnlyPage = [this] {
    WriteFile(Out() / "deck.htm", "old page");
    fs::permissions(Out() / "deck.htm", fs::perms::owner_read);
  };
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
      {"page folder missing", &page, "gone/deck.htm", [] {}, 0x80070003u},
      {"metafile folder's folder missing", &metafiles, "gone/deck.wmf", [] {}, 0x80070003u},
  };
  for (const auto& row : rows) {
    fs::remove_all(Out());
    fs::create_directories(Out());
    fail_ = false;
    row.arrange();
    const auto before = Listing(Out());
    std::string description;
    EXPECT_EQ(static_cast<std::uint32_t>(quorvane::testing::ThrownNumber(
                  [&] { (*row.writer)((Out() / row.target).string()); }, &description)),
              row.number)
        << row.name << ": " << description;
    EXPECT_EQ(Listing(Out()), before) << row.name;
  }
}

// A folder nobody can write (immutable even for root), and a file in the metafile folder that an
// open presentation reads from or that is read-only: refused, nothing changed.
TEST_F(WebPageWriters, UnwritableFoldersAndHeldFiles) {
  const fs::path held = Out() / "deck" / "Slide2.WMF", readOnly = Out() / "other" / "Slide3.WMF";
  fs::create_directories(held.parent_path());
  WriteFile(held, "an open presentation's file");
  quorvane::files::ReadHold hold(held.string());
  EXPECT_THROW(slide_output::MetafileFolderWriter(Drawer())(*model_, (Out() / "deck.wmf").string()), AutomationError);
  EXPECT_EQ(ReadFile(held), "an open presentation's file");
  EXPECT_FALSE(fs::exists(Out() / "deck" / "Slide1.WMF"));
  fs::create_directories(readOnly.parent_path());
  WriteFile(readOnly, "read-only");
  fs::permissions(readOnly, fs::perms::owner_read);
  EXPECT_THROW(slide_output::MetafileFolderWriter(Drawer())(*model_, (Out() / "other.wmf").string()), AutomationError);
  EXPECT_EQ(Listing(Out() / "other").size(), 1u);

  const fs::path locked = Out() / "locked";
  fs::create_directories(locked);
  quorvane::testing::ImmutableFile immutable(locked);
  if (!immutable.ok()) GTEST_SKIP() << "the file system cannot make a folder immutable";
  EXPECT_THROW(web_page::WebPageWriter(Drawer())(*model_, (locked / "deck.htm").string()), AutomationError);
  EXPECT_THROW(slide_output::MetafileFolderWriter(Drawer())(*model_, (locked / "deck.wmf").string()), AutomationError);
  EXPECT_TRUE(fs::is_empty(locked));
}

// --- Through the control, drawn by the renderer -------------------------------------------------
// The native engine answering through the renderer as a host drives it: the web formats, PDF and
// legacy formats, slide pictures, legacy inputs. One control (with OptimizeForSpeed) serves every
// conversion of the suite, so the office starts once.

class RenderBridge : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!quorvane::engines::render_bridge::RendererBuiltIn() || access("/usr/bin/soffice", X_OK) != 0) return;
    folder_ = new quorvane::testing::TempFolder();
    builder::Write(builder::Sample(), Sample().string());
    control_ = new quorvane::QuorvaneX();
    control_->put_OptimizeForSpeed(quorvane::kVariantTrue);
  }
  static void TearDownTestSuite() {
    delete control_;  // quits the application: the office ends with its lease
    delete folder_;
    control_ = nullptr;
    folder_ = nullptr;
  }
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
  // The slide count of a deck, as the native engine reads it.
  static std::int32_t SlideCount(const fs::path& deck) {
    auto app = pptx::CreateApplication();
    const std::int32_t count = Open(app, deck)->Slides()->Count();
    app->Quit();
    return count;
  }

  static quorvane::testing::TempFolder* folder_;
  static quorvane::QuorvaneX* control_;
};

quorvane::testing::TempFolder* RenderBridge::folder_ = nullptr;
quorvane::QuorvaneX* RenderBridge::control_ = nullptr;

// Every web page code, whole decks and a range: one picture per slide shown, at 96 dots per inch, the
// slides' text escaped; labelled slides show their labels, in the text and in the picture's place.
// The web archive is always the whole presentation; the metafile folder holds every slide.
TEST_F(RenderBridge, PagesArchiveAndMetafiles) {
  const std::int32_t slides = SlideCount(Sample());
  const struct { const char* name; std::int32_t code, start, end; int pictures; const char* text; } rows[] = {
      {"page12.htm", 12, 1, 9999, slides - 1, "Escaped: &lt;&amp;&gt; &quot;quoted&quot;"},
      {"page13 range.htm", 13, 3, 3, 1, "Region"}, {"page14.html", 14, 1, 9999, slides - 1, "Escaped: &lt;"}};
  for (const auto& row : rows) {
    ASSERT_EQ(Convert(Sample(), At(row.name), row.code, row.start, row.end), 0) << row.name;
    const std::string html = ReadFile(At(row.name));
    EXPECT_EQ(static_cast<int>(Matches(html, "<img src=\"([^\"]+)\"").size()), row.pictures) << row.name;
    EXPECT_NE(html.find(row.text), std::string::npos) << row.name;
  }
  control_->put_ShowSlideAndShapeNumber(quorvane::kVariantTrue);
  const std::int32_t labelled = Convert(Sample(), At("labelled.htm"), 12, 2, 3);
  control_->put_ShowSlideAndShapeNumber(quorvane::kVariantFalse);
  ASSERT_EQ(labelled, 0);
  const std::string html = ReadFile(At("labelled.htm"));
  EXPECT_EQ(Matches(html, "(<img )").size(), 2u);
  EXPECT_NE(html.find("<p>----- Slide(2) Shape(2) -----</p>"), std::string::npos);
  EXPECT_NE(html.find("----- Slide(3) Shape(1) -----"), std::string::npos);

  ASSERT_EQ(Convert(Sample(), At("sample.mht"), 20, 2, 2), 0);
  const std::vector<ArchivePart> parts = ParseArchive(ReadFile(At("sample.mht")));
  ASSERT_EQ(parts.size(), 4u) << "the page and the pictures of the three slides shown";

  ASSERT_EQ(Convert(Sample(), At("metafiles.wmf"), 15), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(At("metafiles")), {}), slides);
  EXPECT_TRUE(IsWmf(ReadFile(At("metafiles") / "Slide4.WMF"))) << "the hidden slide too";
  // The picture presentation: one drawn picture per slide (its content: PicturePresentationKeepsNotesAndNothingElse).
  ASSERT_EQ(Convert(Sample(), At("pictures.pptx"), 36), 0);
  EXPECT_EQ(SlideCount(At("pictures.pptx")), slides);
  const auto package = pptx::Package::Open(At("pictures.pptx").string());
  EXPECT_TRUE(IsPng(package->ReadPart("/ppt/media/image1.png")));
}

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

// Pictures: one per slide (hidden ones too) at 96 dots per inch. An empty legacy file is refused
// before the office.
TEST_F(RenderBridge, SlidePicturesAndRefusals) {
  ASSERT_EQ(Convert(Sample(), At("pic"), 18), 0);
  const builder::DeckPlan plan = builder::Sample();
  for (std::size_t i = 1; i <= plan.slides.size(); ++i) {
    const auto [width, height] = quorvane::testing::PngSize(ReadFile(At("picSlide" + std::to_string(i) + ".PNG")));
    EXPECT_NEAR(width, plan.slideWidthEmu / 9525, 1) << "slide " << i;
    EXPECT_NEAR(height, plan.slideHeightEmu / 9525, 1) << "slide " << i;
  }

  auto app = pptx::CreateApplication();
  quorvane::testing::WriteFile(At("empty.ppt"), "");
  EXPECT_FALSE(quorvane::engines::render_bridge::IsForeignPresentation(At("empty.ppt").string()));
  EXPECT_NE(quorvane::testing::ThrownNumber([&] { Open(app, At("empty.ppt")); }), 0);
  app->Quit();
}

// A converted original is held like any opened file: no save replaces it while it is open. A change
// to the presentation reaches the next picture (the copy the renderer draws is renewed).
TEST_F(RenderBridge, HeldOriginalsAndChangedPresentations) {
  const fs::path legacy = At("held.ppt");
  ASSERT_EQ(Convert(Sample(), legacy, 1), 0);
  const std::string before = ReadFile(legacy);
  auto app = pptx::CreateApplication();
  auto opened = Open(app, legacy);
  auto other = Open(app, Sample());
  EXPECT_EQ(static_cast<std::uint32_t>(quorvane::testing::ThrownNumber([&] { other->SaveAs(text::FromUtf8(legacy.string()), 1, 0); })),
            0x80048240u);
  EXPECT_EQ(ReadFile(legacy), before);
  const auto pictureWidth = [&](const char* name) {
    other->Slides()->Item(1)->Export(text::FromUtf8(At(name).string()), u"PNG", 0, 0);
    return quorvane::testing::PngSize(ReadFile(At(name))).first;
  };
  const std::uint32_t wide = pictureWidth("before.png");
  other->PageSetup()->put_SlideWidth(other->PageSetup()->SlideWidth() / 2);
  EXPECT_NEAR(pictureWidth("after.png"), wide / 2, 1) << "the picture does not show the changed slide size";
  opened->Close();
  other->Close();
  app->Quit();
}

// Slides exported one after another are drawn in one load; each drawn picture is handed out once and
// its file goes, so the drawings kept never outgrow the slides still to come, and exporting a slide
// again draws it again.
TEST_F(RenderBridge, DrawnPicturesAreKeptOnlyUntilExported) {
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
  for (int i = 1; i <= slides; ++i) {
    deck->Slides()->Item(i)->Export(text::FromUtf8(At("kept" + std::to_string(i) + ".png").string()), u"PNG", 0, 0);
    EXPECT_EQ(drawingsKept(), slides - i) << "after slide " << i;
  }
  deck->Slides()->Item(2)->Export(text::FromUtf8(At("again.png").string()), u"PNG", 0, 0);
  EXPECT_EQ(ReadFile(At("again.png")), ReadFile(At("kept2.png")));
  deck->Close();
  app->Quit();
}

}  // namespace
