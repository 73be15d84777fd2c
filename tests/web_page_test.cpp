// The save formats made from slide pictures: the web page (12, 13, 14), the web archive (20), the
// metafile folder (15) and the picture presentation (36).
//
// WebPageWriters runs the writers on the native engine's model with a stand-in drawer (small PNG
// files), so the page, the archive, the folders and every failure path are checked without an
// office. WebPageRendered converts corpus decks through the control as a host does, with the
// renderer drawing (skipped where LibreOffice is absent).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/numbered_files.hpp"
#include "common/text.hpp"
#include "engines/picture_show.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/engine.hpp"
#include "engines/pptx/model.hpp"
#include "engines/render_bridge.hpp"
#include "engines/slide_output.hpp"
#include "engines/web_page.hpp"
#include "office/object_model.hpp"
#include "quorvane/automation_error.hpp"
#include "quorvane/control.hpp"
#include "support/fixtures.hpp"

namespace {

namespace fs = std::filesystem;
namespace builder = quorvane::engines::pptx::builder;
namespace pptx = quorvane::engines::pptx;
namespace slide_output = quorvane::engines::slide_output;
namespace web_page = quorvane::engines::web_page;
namespace text = quorvane::text;
using quorvane::AutomationError;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Every entry under `folder` (relative name -> content, "<dir>" for folders): what a failed save
// must leave exactly as it was.
std::map<std::string, std::string> Listing(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(entry.path(), folder).string();
    out[name] = entry.is_directory() ? "<dir>" : ReadAll(entry.path());
  }
  return out;
}

int Count(const std::string& haystack, const std::string& needle) {
  int n = 0;
  for (auto at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
  return n;
}

std::string Base64Decoded(std::string_view in) {
  std::string out;
  std::uint32_t bits = 0;
  int held = 0;
  for (const char c : in) {
    int v;
    if (c >= 'A' && c <= 'Z') v = c - 'A';
    else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
    else if (c >= '0' && c <= '9') v = c - '0' + 52;
    else if (c == '+') v = 62;
    else if (c == '/') v = 63;
    else if (c == '=' || c == '\r' || c == '\n') continue;
    else throw std::invalid_argument(std::string("not base64: ") + c);
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    held += 6;
    if (held >= 8) {
      held -= 8;
      out += static_cast<char>((bits >> held) & 0xFF);
    }
  }
  return out;
}

// One part of a web archive, decoded.
struct ArchivePart {
  std::string contentType;
  std::string location;
  std::string body;
};

// Parses a multipart/related archive as a reader would: the boundary from the header, parts
// between boundary lines, headers up to the empty line, base64 bodies.
std::vector<ArchivePart> ParseArchive(const std::string& archive) {
  std::smatch m;
  if (!std::regex_search(archive, m, std::regex("boundary=\"([^\"]+)\""))) throw std::invalid_argument("no boundary");
  const std::string delimiter = "\r\n--" + m[1].str();
  std::vector<ArchivePart> parts;
  std::size_t at = archive.find(delimiter);
  if (at == std::string::npos) throw std::invalid_argument("no first part");
  while (true) {
    at += delimiter.size();
    if (archive.compare(at, 2, "--") == 0) break;  // the closing delimiter
    const std::size_t next = archive.find(delimiter, at);
    if (next == std::string::npos) throw std::invalid_argument("unterminated part");
    const std::string part = archive.substr(at + 2, next - at - 2);
    const std::size_t split = part.find("\r\n\r\n");
    if (split == std::string::npos) throw std::invalid_argument("part without headers");
    const std::string headers = part.substr(0, split);
    ArchivePart out;
    if (std::regex_search(headers, m, std::regex("Content-Type: ([^\r]+)"))) out.contentType = m[1];
    if (std::regex_search(headers, m, std::regex("Content-Location: ([^\r]+)"))) out.location = m[1];
    if (headers.find("Content-Transfer-Encoding: base64") == std::string::npos)
      throw std::invalid_argument("part not base64");
    out.body = Base64Decoded(part.substr(split + 4));
    parts.push_back(std::move(out));
    at = next;
  }
  return parts;
}

std::vector<std::string> Matches(const std::string& haystack, const std::string& pattern) {
  std::vector<std::string> out;
  const std::regex re(pattern);
  for (auto it = std::sregex_iterator(haystack.begin(), haystack.end(), re); it != std::sregex_iterator(); ++it)
    out.push_back((*it)[1]);
  return out;
}

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

bool IsPng(std::string_view bytes) { return bytes.substr(0, 8) == "\x89PNG\r\n\x1A\n"; }
bool IsJpeg(std::string_view bytes) { return bytes.substr(0, 3) == "\xFF\xD8\xFF"; }
// A placeable metafile, or a bare one (type 1 or 2, header size 9 words).
bool IsWmf(std::string_view bytes) {
  return bytes.substr(0, 4) == "\xD7\xCD\xC6\x9A" || bytes.substr(0, 6) == std::string_view("\x01\x00\x09\x00\x00\x03", 6) ||
         bytes.substr(0, 6) == std::string_view("\x02\x00\x09\x00\x00\x03", 6);
}

// The notes text of slide `index` as the object model answers it: its body placeholders' text.
std::u16string NotesText(quorvane::office::ppt::Presentation& presentation, std::int32_t index) {
  std::u16string out;
  const auto placeholders = presentation.Slides()->Item(index)->NotesPage()->Shapes()->Placeholders();
  for (std::int32_t p = 1; p <= placeholders->Count(); ++p) {
    const auto shape = placeholders->Item(p);
    if (shape->PlaceholderFormat()->Type() != quorvane::office::ppt::kPlaceholderBody) continue;
    const std::u16string t = shape->TextFrame()->TextRange()->Text();
    if (t.empty()) continue;
    if (!out.empty()) out += u'\r';
    out += t;
  }
  return out;
}

// --- Names and encodings -------------------------------------------------------------------------

TEST(WebPageText, NamesLinksAndEscapes) {
  struct FolderRow {
    const char* path;
    const char* pictures;  // PictureFolderOf
    const char* metafiles;  // MetafileFolderOf
  };
  const FolderRow folders[] = {
      {"/out/deck.htm", "/out/deck_files", "/out/deck"},
      {"/out/deck", "/out/deck_files", "/out/deck"},
      {"/out/my.deck.html", "/out/my.deck_files", "/out/my.deck"},
      {"deck.htm", "deck_files", "deck"},
      {"/out/.htm", "/out/.htm_files", "/out/.htm"},
      {"/out/dir.d/deck", "/out/dir.d/deck_files", "/out/dir.d/deck"},
  };
  for (const auto& row : folders) {
    EXPECT_EQ(web_page::PictureFolderOf(row.path), row.pictures) << row.path;
    EXPECT_EQ(slide_output::MetafileFolderOf(row.path), row.metafiles) << row.path;
  }

  struct LinkRow {
    const char* path;
    const char* link;
  };
  const LinkRow links[] = {
      {"deck_files/slide1.png", "deck_files/slide1.png"},
      {"my deck_files/slide1.png", "my%20deck_files/slide1.png"},
      {"a#b?c%d&e\"f'g<h>:i_files", "a%23b%3Fc%25d%26e%22f%27g%3Ch%3E%3Ai_files"},
      {"\xC3\xA9t\xC3\xA9_files", "%C3%A9t%C3%A9_files"},
      {"A-Z.a~z_0-9", "A-Z.a~z_0-9"},
  };
  for (const auto& row : links) EXPECT_EQ(text::PercentEncoded(row.path), row.link) << row.path;

  struct EscapeRow {
    std::u16string text;
    std::string html;
  };
  const EscapeRow escapes[] = {
      {u"plain", "plain"},
      {u"<b>&amp;\"q\" 'a'", "&lt;b&gt;&amp;amp;&quot;q&quot; &#39;a&#39;"},
      {u"tab\tline\nCR\rbell\a", "tab\tline\nCRbell"},
      {u"\u00E9\u4E2D\U0001F600", "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"},
      {std::u16string(u"lone ") + static_cast<char16_t>(0xD800) + u"!", "lone \xEF\xBF\xBD!"},
      {u"c1\u0085ok", "c1ok"},
  };
  for (const auto& row : escapes) EXPECT_EQ(web_page::EscapedHtml(row.text), row.html) << text::ToUtf8(row.text);

  // RFC 4648's vectors, and the line length MIME wants.
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},           {"f", "Zg==\r\n"},         {"fo", "Zm8=\r\n"},         {"foo", "Zm9v\r\n"},
      {"foob", "Zm9vYg==\r\n"}, {"fooba", "Zm9vYmE=\r\n"}, {"foobar", "Zm9vYmFy\r\n"},
  };
  for (const auto& [in, out] : vectors) EXPECT_EQ(web_page::Base64Lines(in), out) << in;
  const std::string long57(57, 'x');
  EXPECT_EQ(web_page::Base64Lines(long57).find("\r\n"), 76u);
  EXPECT_EQ(web_page::Base64Lines(long57 + long57).size(), 2 * 78u);
  const std::string binary = builder::templates::Png();
  EXPECT_EQ(Base64Decoded(web_page::Base64Lines(binary)), binary);
}

// --- The writers on the native model, with a stand-in drawer --------------------------------------

// Draws every slide as the builder's small PNG (whatever the filter), and notes what it was asked.
struct StandInDrawer {
  fs::path folder;
  std::vector<std::vector<std::int32_t>> asked;
  std::vector<std::string> filters;
  bool fail = false;  // fails as a renderer that died does

  slide_output::SlideDrawer Drawer() {
    return [this](pptx::PresentationModel&, const std::vector<std::int32_t>& numbers, const std::string& filter) {
      asked.push_back(numbers);
      filters.push_back(filter);
      if (fail) throw AutomationError(static_cast<std::int32_t>(0x800706BAu), u"The office is gone.");
      std::vector<std::string> files;
      for (const std::int32_t n : numbers) {
        const fs::path file = folder / ("drawn" + std::to_string(n) + "." + filter);
        WriteAll(file, filter == "WMF" ? std::string("\xD7\xCD\xC6\x9A metafile ") + std::to_string(n)
                                       : builder::templates::Png());
        files.push_back(file.string());
      }
      return files;
    };
  }
};

class WebPageWriters : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("quorvane-web-test-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "drawn");
    fs::create_directories(root_ / "out");
    drawer_.folder = root_ / "drawn";
    builder::Write(builder::Sample(), (root_ / "deck.pptx").string());
    app_ = pptx::CreateApplication();
    presentation_ = app_->Presentations()->Open(text::FromUtf8((root_ / "deck.pptx").string()), -1, 0, 0);
    model_ = pptx::ModelOf(presentation_);
    ASSERT_TRUE(model_);
  }
  void TearDown() override {
    presentation_.reset();
    model_.reset();
    if (app_) app_->Quit();
    fs::remove_all(root_);
  }

  fs::path Out() const { return root_ / "out"; }

  fs::path root_;
  StandInDrawer drawer_;
  std::shared_ptr<quorvane::office::ppt::Application> app_;
  std::shared_ptr<quorvane::office::ppt::Presentation> presentation_;
  std::shared_ptr<pptx::PresentationModel> model_;
};

// The sample deck: four slides, the fourth hidden; text with markup characters on slide 2, notes
// there, a table on slide 3.
TEST_F(WebPageWriters, PageShowsTheSlidesAnAudienceSees) {
  const fs::path page = Out() / "my deck#1.htm";
  web_page::WebPageWriter(drawer_.Drawer())(*model_, page.string());

  ASSERT_EQ(drawer_.asked.size(), 1u) << "the slides are drawn in one go";
  EXPECT_EQ(drawer_.asked[0], (std::vector<std::int32_t>{1, 2, 3})) << "the hidden slide is not drawn";
  EXPECT_EQ(drawer_.filters[0], "PNG");

  const std::string html = ReadAll(page);
  EXPECT_TRUE(html.starts_with("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">"));
  EXPECT_NE(html.find("<title>Quorvane sample deck</title>"), std::string::npos);
  EXPECT_EQ(Matches(html, "<section id=\"([^\"]+)\""), (std::vector<std::string>{"slide1", "slide2", "slide3"}));
  EXPECT_EQ(Matches(html, "<img src=\"([^\"]+)\""),
            (std::vector<std::string>{"my%20deck%231_files/slide1.png", "my%20deck%231_files/slide2.png",
                                      "my%20deck%231_files/slide3.png"}));
  EXPECT_EQ(Count(html, " width=\"8\" height=\"8\" alt=\"Slide "), 3) << "size and alternative text of each picture";
  EXPECT_NE(html.find("alt=\"Slide 2: Text\""), std::string::npos);
  // Text: escaped, paragraphs and line breaks kept, the table's cells, the notes.
  EXPECT_NE(html.find("<p>Escaped: &lt;&amp;&gt; &quot;quoted&quot;</p>"), std::string::npos);
  EXPECT_EQ(html.find("<&>"), std::string::npos);
  EXPECT_NE(html.find("<p>Second paragraph with a<br>line break</p>"), std::string::npos);
  EXPECT_NE(html.find("<table>\n<tr><td><p>Region</p></td><td><p>Q1</p></td><td><p>Q2</p></td></tr>\n"),
            std::string::npos);
  EXPECT_NE(html.find("<tr><td><p>Total</p></td><td></td><td></td></tr>\n</table>"), std::string::npos);
  EXPECT_NE(html.find("<h3>Notes</h3>\n<p>Notes of the text slide</p>\n<p>with two paragraphs</p>"), std::string::npos);
  EXPECT_EQ(html.find("Outer text box"), std::string::npos) << "text of the hidden slide";

  const fs::path folder = Out() / "my deck#1_files";
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"slide1.png", "slide2.png", "slide3.png"}));
  EXPECT_EQ(ReadAll(folder / "slide2.png"), builder::templates::Png());
  // Nothing but the page and its folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(Out()), fs::directory_iterator()), 2);
}

// A presentation whose slides are all hidden gives a page that says so, and no picture folder.
TEST_F(WebPageWriters, NothingToShow) {
  builder::DeckPlan plan;
  for (int i = 0; i < 2; ++i) {
    builder::SlidePlan slide;
    slide.shapes = {builder::Title(u"Hidden " + text::Decimal(i + 1))};
    slide.hidden = true;
    plan.slides.push_back(std::move(slide));
  }
  builder::Write(plan, (root_ / "hidden.pptx").string());
  auto hidden = app_->Presentations()->Open(text::FromUtf8((root_ / "hidden.pptx").string()), -1, 0, 0);
  const fs::path page = Out() / "hidden.htm";
  web_page::WebPageWriter(drawer_.Drawer())(*pptx::ModelOf(hidden), page.string());
  EXPECT_TRUE(drawer_.asked.empty());
  const std::string html = ReadAll(page);
  EXPECT_NE(html.find("<p>There are no slides to show.</p>"), std::string::npos);
  EXPECT_EQ(html.find("<img"), std::string::npos);
  EXPECT_EQ(html.find("Hidden 1"), std::string::npos);
  EXPECT_FALSE(fs::exists(Out() / "hidden_files"));
  hidden->Close();
}

TEST_F(WebPageWriters, ArchiveHoldsThePageAndItsPictures) {
  const fs::path archive = Out() / "deck.mht";
  web_page::WebArchiveWriter(drawer_.Drawer())(*model_, archive.string());
  const std::vector<ArchivePart> parts = ParseArchive(ReadAll(archive));
  ASSERT_EQ(parts.size(), 4u) << "the page and the three pictures of the slides shown";
  EXPECT_EQ(parts[0].contentType, "text/html; charset=\"utf-8\"");
  EXPECT_EQ(parts[0].location, "file:///deck.htm");
  const std::vector<std::string> links = Matches(parts[0].body, "<img src=\"([^\"]+)\"");
  ASSERT_EQ(links.size(), 3u);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    EXPECT_EQ(parts[i].contentType, "image/png");
    EXPECT_TRUE(IsPng(parts[i].body)) << parts[i].location;
    // The page's relative link resolves against the page's location to the picture's.
    EXPECT_EQ("file:///" + links[i - 1], parts[i].location);
  }
  EXPECT_NE(parts[0].body.find("Escaped: &lt;&amp;&gt;"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(Out()), fs::directory_iterator()), 1) << "one file, no folder";
}

TEST_F(WebPageWriters, MetafileFolderHoldsEverySlide) {
  slide_output::MetafileFolderWriter(drawer_.Drawer())(*model_, (Out() / "deck.wmf").string());
  EXPECT_EQ(drawer_.filters, (std::vector<std::string>{"WMF"}));
  EXPECT_FALSE(fs::exists(Out() / "deck.wmf"));
  for (int i = 1; i <= 4; ++i) {
    const std::string bytes = ReadAll(Out() / "deck" / ("Slide" + std::to_string(i) + ".WMF"));
    EXPECT_TRUE(IsWmf(bytes)) << "slide " << i;
    EXPECT_TRUE(bytes.ends_with(" " + std::to_string(i))) << "slide " << i << " holds another slide's picture";
  }
  // The folder appears with the permissions of a folder made by the user, not the private ones of
  // its staging.
  const auto permissions = fs::status(Out() / "deck").permissions();
  EXPECT_NE(permissions & fs::perms::others_read, fs::perms::none);
}

// The picture presentation reopens in the native engine: a picture per slide and nothing else,
// the notes text as it was, the hidden slide still hidden.
TEST_F(WebPageWriters, PicturePresentationKeepsNotesAndNothingElse) {
  const fs::path out = Out() / "pictures.pptx";
  quorvane::engines::picture_show::PicturePresentationWriter(drawer_.Drawer())(*model_, out.string());
  EXPECT_EQ(drawer_.asked, (std::vector<std::vector<std::int32_t>>{{1, 2, 3, 4}}));

  auto reopened = app_->Presentations()->Open(text::FromUtf8(out.string()), -1, 0, 0);
  ASSERT_EQ(reopened->Slides()->Count(), 4);
  EXPECT_FLOAT_EQ(reopened->PageSetup()->SlideWidth(), presentation_->PageSetup()->SlideWidth());
  EXPECT_FLOAT_EQ(reopened->PageSetup()->SlideHeight(), presentation_->PageSetup()->SlideHeight());
  for (std::int32_t i = 1; i <= 4; ++i) {
    const auto shapes = reopened->Slides()->Item(i)->Shapes();
    ASSERT_EQ(shapes->Count(), 1) << "slide " << i;
    EXPECT_EQ(shapes->Item(1)->Type(), 13) << "slide " << i;
    EXPECT_EQ(shapes->Item(1)->HasTextFrame(), 0) << "slide " << i;
    EXPECT_EQ(NotesText(*reopened, i), NotesText(*presentation_, i)) << "slide " << i;
  }
  EXPECT_EQ(NotesText(*reopened, 2), u"Notes of the text slide\rwith two paragraphs");
  reopened->Close();
  const auto package = pptx::Package::Open(out.string());
  EXPECT_NE(package->ReadPart("/ppt/slides/slide4.xml").find("show=\"0\""), std::string::npos);
  for (int i = 1; i <= 4; ++i) {
    const auto rels = package->Relationships("/ppt/slides/slide" + std::to_string(i) + ".xml");
    int pictures = 0;
    for (const auto& r : rels) {
      if (r.type != builder::rel_type::kImage) continue;
      ++pictures;
      EXPECT_EQ(r.partName, "/ppt/media/image" + std::to_string(i) + ".png");
      EXPECT_TRUE(IsPng(package->ReadPart(r.partName)));
    }
    EXPECT_EQ(pictures, 1) << "slide " << i;
  }
}

// An existing picture folder is written into: pictures of the same names replaced, other files
// left alone; a page that cannot be written afterwards puts the folder back as it was.
TEST_F(WebPageWriters, ExistingFoldersAreWrittenIntoAndPutBack) {
  const fs::path page = Out() / "deck.htm";
  const fs::path folder = Out() / "deck_files";
  fs::create_directories(folder);
  WriteAll(folder / "slide1.png", "old picture");
  WriteAll(folder / "mine.txt", "the user's");
  WriteAll(page, "old page");
  fs::permissions(page, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const auto before = Listing(Out());
  EXPECT_THROW(web_page::WebPageWriter(drawer_.Drawer())(*model_, page.string()), AutomationError)
      << "a read-only page is replaced";
  EXPECT_EQ(Listing(Out()), before);

  fs::permissions(page, fs::perms::owner_read | fs::perms::owner_write);
  web_page::WebPageWriter(drawer_.Drawer())(*model_, page.string());
  EXPECT_EQ(ReadAll(folder / "slide1.png"), builder::templates::Png());
  EXPECT_EQ(ReadAll(folder / "mine.txt"), "the user's");
  EXPECT_TRUE(fs::exists(folder / "slide3.png"));
  EXPECT_NE(ReadAll(page), "old page");
  EXPECT_EQ(std::distance(fs::directory_iterator(Out()), fs::directory_iterator()), 2) << "no staging left";
}

// Whatever fails, the output folder holds what it held before: no page, no folder, no staging.
TEST_F(WebPageWriters, FailuresLeaveNothingBehind) {
  using Writer = std::function<void(const std::string&)>;
  const Writer page = [&](const std::string& p) { web_page::WebPageWriter(drawer_.Drawer())(*model_, p); };
  const Writer archive = [&](const std::string& p) { web_page::WebArchiveWriter(drawer_.Drawer())(*model_, p); };
  const Writer metafiles = [&](const std::string& p) {
    slide_output::MetafileFolderWriter(drawer_.Drawer())(*model_, p);
  };
  const Writer pictures = [&](const std::string& p) {
    quorvane::engines::picture_show::PicturePresentationWriter(drawer_.Drawer())(*model_, p);
  };
  struct Row {
    const char* name;
    const Writer* writer;
    const char* target;
    std::function<void()> arrange;  // makes the failure
    std::uint32_t number;
  };
  const auto drawerDies = [&] { drawer_.fail = true; };
  const auto folderAt = [&](const char* name) { return [this, name] { fs::create_directories(Out() / name); }; };
  const auto fileAt = [&](const char* name) { return [this, name] { WriteAll(Out() / name, "in the way"); }; };
  const auto readOnlyPage = [this] {
    WriteAll(Out() / "deck.htm", "old page");
    fs::permissions(Out() / "deck.htm", fs::perms::owner_read);
  };
  const Row rows[] = {
      {"page, office dies", &page, "deck.htm", drawerDies, 0x800706BAu},
      {"archive, office dies", &archive, "deck.mht", drawerDies, 0x800706BAu},
      {"metafiles, office dies", &metafiles, "deck.wmf", drawerDies, 0x800706BAu},
      {"pictures, office dies", &pictures, "deck.pptx", drawerDies, 0x800706BAu},
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
    drawer_.fail = false;
    row.arrange();
    const auto before = Listing(Out());
    try {
      (*row.writer)((Out() / row.target).string());
      ADD_FAILURE() << row.name << ": saved";
    } catch (const AutomationError& e) {
      EXPECT_EQ(static_cast<std::uint32_t>(e.number()), row.number) << row.name << ": " << text::ToUtf8(e.description());
    }
    EXPECT_EQ(Listing(Out()), before) << row.name;
  }
}

// A folder nobody can write (immutable even for root), and a file in the metafile folder that an
// open presentation reads from: refused, nothing changed.
TEST_F(WebPageWriters, UnwritableFoldersAndHeldFiles) {
  {
    const fs::path locked = Out() / "locked";
    fs::create_directories(locked);
    quorvane::testing::ImmutableFile immutable(locked);
    if (!immutable.ok()) GTEST_SKIP() << "the file system cannot make a folder immutable";
    EXPECT_THROW(web_page::WebPageWriter(drawer_.Drawer())(*model_, (locked / "deck.htm").string()), AutomationError);
    EXPECT_THROW(slide_output::MetafileFolderWriter(drawer_.Drawer())(*model_, (locked / "deck.wmf").string()),
                 AutomationError);
    EXPECT_TRUE(fs::is_empty(locked));
  }
  const fs::path held = Out() / "deck" / "Slide2.WMF";
  fs::create_directories(held.parent_path());
  WriteAll(held, "an open presentation's file");
  quorvane::files::ReadHold hold(held.string());
  EXPECT_THROW(slide_output::MetafileFolderWriter(drawer_.Drawer())(*model_, (Out() / "deck.wmf").string()),
               AutomationError);
  EXPECT_EQ(ReadAll(held), "an open presentation's file");
  EXPECT_FALSE(fs::exists(Out() / "deck" / "Slide1.WMF"));

  const fs::path readOnly = Out() / "other" / "Slide3.WMF";
  fs::create_directories(readOnly.parent_path());
  WriteAll(readOnly, "read-only");
  fs::permissions(readOnly, fs::perms::owner_read);
  EXPECT_THROW(slide_output::MetafileFolderWriter(drawer_.Drawer())(*model_, (Out() / "other.wmf").string()),
               AutomationError);
  EXPECT_EQ(Listing(Out() / "other").size(), 1u);
}

// --- Through the control, drawn by the renderer -------------------------------------------------

class WebPageRendered : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!quorvane::engines::render_bridge::RendererBuiltIn() || access("/usr/bin/soffice", X_OK) != 0) return;
    folder_ = new fs::path(fs::temp_directory_path() / ("quorvane-web-rendered-" + std::to_string(getpid())));
    fs::create_directories(*folder_);
    builder::Write(builder::Sample(), (*folder_ / "sample.pptx").string());
    control_ = new quorvane::QuorvaneX();
    control_->put_OptimizeForSpeed(quorvane::kVariantTrue);
  }
  static void TearDownTestSuite() {
    delete control_;
    control_ = nullptr;
    if (folder_) fs::remove_all(*folder_);
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    if (!control_) GTEST_SKIP() << "no renderer: the component is built without it or soffice is not installed";
    if (!fs::exists(Corpus())) GTEST_SKIP() << "corpus deck missing: " << Corpus();
  }

  static fs::path Corpus() { return fs::path(QUORVANE_CORPUS_DIR) / "docling/powerpoint_sample.pptx"; }
  static fs::path Sample() { return *folder_ / "sample.pptx"; }

  static std::int32_t Convert(const fs::path& input, const fs::path& output, std::int32_t code, std::int32_t start = 1,
                              std::int32_t end = 9999) {
    return quorvane::testing::ConvertWith(*control_, input, output, code, {.start = start, .end = end});
  }

  // Slide count and 96-dpi picture size of a deck, as the native engine reads it.
  struct Deck {
    std::int32_t slides = 0;
    std::uint32_t width = 0, height = 0;
  };
  static Deck Measure(const fs::path& deck) {
    auto app = quorvane::engines::pptx::CreateApplication();
    auto presentation = app->Presentations()->Open(text::FromUtf8(deck.string()), -1, 0, 0);
    Deck out{presentation->Slides()->Count(),
             static_cast<std::uint32_t>(std::lround(presentation->PageSetup()->SlideWidth() * 96 / 72)),
             static_cast<std::uint32_t>(std::lround(presentation->PageSetup()->SlideHeight() * 96 / 72))};
    app->Quit();
    return out;
  }

  static fs::path* folder_;
  static quorvane::QuorvaneX* control_;
};

fs::path* WebPageRendered::folder_ = nullptr;
quorvane::QuorvaneX* WebPageRendered::control_ = nullptr;

// Every web page code, whole decks and a range: one picture per slide shown, at 96 dots per inch,
// the slides' text escaped.
TEST_F(WebPageRendered, WebPages) {
  const Deck corpus = Measure(Corpus());
  const Deck sample = Measure(Sample());
  struct Row {
    const char* name;
    std::int32_t code;
    fs::path input;
    std::int32_t start, end;
    int pictures;
    Deck deck;
    const char* text;  // escaped, as the page must hold it
  };
  const Row rows[] = {
      {"page12.htm", 12, Corpus(), 1, 9999, corpus.slides, corpus, "Second slide title"},
      {"page13 range.htm", 13, Corpus(), 2, 3, 2, corpus, "Second slide title"},
      {"page14.html", 14, Sample(), 1, 9999, sample.slides - 1, sample, "Escaped: &lt;&amp;&gt; &quot;quoted&quot;"},
  };
  for (const auto& row : rows) {
    const fs::path page = *folder_ / row.name;
    ASSERT_EQ(Convert(row.input, page, row.code, row.start, row.end), 0) << row.name;
    const std::string html = ReadAll(page);
    const std::vector<std::string> links = Matches(html, "<img src=\"([^\"]+)\"");
    EXPECT_EQ(static_cast<int>(links.size()), row.pictures) << row.name;
    EXPECT_NE(html.find(row.text), std::string::npos) << row.name;
    const fs::path folder = web_page::PictureFolderOf(page.string());
    for (std::size_t i = 0; i < links.size(); ++i) {
      const std::string file = "slide" + std::to_string(i + 1) + ".png";
      EXPECT_EQ(links[i], text::PercentEncoded(folder.filename().string()) + "/" + file) << row.name;
      const std::string png = ReadAll(folder / file);
      ASSERT_TRUE(IsPng(png)) << row.name << " " << file;
      EXPECT_NEAR(BigEndian32(png, 16), row.deck.width, 1) << row.name << " " << file;
      EXPECT_NEAR(BigEndian32(png, 20), row.deck.height, 1) << row.name << " " << file;
    }
  }
}

// The page shows what the model holds now: labelled slides show their labels, in the text and in
// the picture's place.
TEST_F(WebPageRendered, LabelledSlides) {
  const fs::path page = *folder_ / "labelled.htm";
  control_->put_ShowSlideAndShapeNumber(quorvane::kVariantTrue);
  const std::int32_t result = Convert(Sample(), page, 12, 2, 3);
  control_->put_ShowSlideAndShapeNumber(quorvane::kVariantFalse);
  ASSERT_EQ(result, 0);
  const std::string html = ReadAll(page);
  EXPECT_EQ(Count(html, "<img "), 2);
  EXPECT_NE(html.find("<p>----- Slide(2) Shape(2) -----</p>"), std::string::npos);
  EXPECT_NE(html.find("----- Slide(3) Shape(1) -----"), std::string::npos);
}

// The web archive is always the whole presentation; it parses back into the page and its pictures.
TEST_F(WebPageRendered, WebArchive) {
  const fs::path archive = *folder_ / "sample.mht";
  ASSERT_EQ(Convert(Sample(), archive, 20, 2, 2), 0);
  const std::vector<ArchivePart> parts = ParseArchive(ReadAll(archive));
  ASSERT_EQ(parts.size(), 4u) << "the page and the pictures of the three slides shown";
  EXPECT_NE(parts[0].body.find("Escaped: &lt;&amp;&gt;"), std::string::npos);
  for (std::size_t i = 1; i < parts.size(); ++i)
    EXPECT_TRUE(IsPng(parts[i].body) || IsJpeg(parts[i].body)) << parts[i].location;
}

TEST_F(WebPageRendered, MetafileFolder) {
  const Deck corpus = Measure(Corpus());
  ASSERT_EQ(Convert(Corpus(), *folder_ / "metafiles.wmf", 15), 0);
  const fs::path folder = *folder_ / "metafiles";
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), corpus.slides);
  for (std::int32_t i = 1; i <= corpus.slides; ++i)
    EXPECT_TRUE(IsWmf(ReadAll(folder / ("Slide" + std::to_string(i) + ".WMF")))) << "slide " << i;
}

// The picture presentation reopens with the native engine: one picture per slide, the notes as
// they were; its text export gives the notes and no slide text.
TEST_F(WebPageRendered, PicturePresentation) {
  const fs::path out = *folder_ / "pictures.pptx";
  ASSERT_EQ(Convert(Corpus(), out, 36), 0);
  auto app = quorvane::engines::pptx::CreateApplication();
  auto original = app->Presentations()->Open(text::FromUtf8(Corpus().string()), -1, 0, 0);
  auto pictures = app->Presentations()->Open(text::FromUtf8(out.string()), -1, 0, 0);
  ASSERT_EQ(pictures->Slides()->Count(), original->Slides()->Count());
  bool anyNotes = false;
  for (std::int32_t i = 1; i <= pictures->Slides()->Count(); ++i) {
    const auto shapes = pictures->Slides()->Item(i)->Shapes();
    ASSERT_EQ(shapes->Count(), 1) << "slide " << i;
    EXPECT_EQ(shapes->Item(1)->Type(), 13) << "slide " << i;
    EXPECT_EQ(NotesText(*pictures, i), NotesText(*original, i)) << "slide " << i;
    anyNotes = anyNotes || !NotesText(*original, i).empty();
  }
  EXPECT_TRUE(anyNotes) << "the corpus deck should have notes";
  app->Quit();

  const fs::path exported = *folder_ / "pictures.txt";
  ASSERT_EQ(quorvane::testing::ConvertWith(*control_, out, exported, 200, {.notes = true}), 0);
  const std::string exportedText = ReadAll(exported);
  EXPECT_NE(exportedText.find("Some notes on the second slide."), std::string::npos);
  EXPECT_EQ(exportedText.find("Second slide title"), std::string::npos);
}

// A save that cannot be made fails as a format PowerPoint cannot write (-16) and leaves the
// folder as it was: a target that is a folder, a folder nobody can write.
TEST_F(WebPageRendered, FailuresGiveTheSaveCodeAndLeaveNothing) {
  const fs::path out = *folder_ / "failures";
  fs::create_directories(out / "taken.htm");
  fs::create_directories(out / "taken.mht");
  fs::create_directories(out / "taken.pptx");
  const auto before = Listing(out);
  for (const auto& [code, name] : std::vector<std::pair<std::int32_t, const char*>>{
           {12, "taken.htm"}, {20, "taken.mht"}, {36, "taken.pptx"}}) {
    EXPECT_EQ(Convert(Corpus(), out / name, code), -16) << name;
    EXPECT_EQ(Listing(out), before) << name;
  }
  quorvane::testing::ImmutableFile immutable(out);
  if (!immutable.ok()) GTEST_SKIP() << "the file system cannot make a folder immutable";
  for (const auto& [code, name] : std::vector<std::pair<std::int32_t, const char*>>{
           {12, "deck.htm"}, {15, "deck.wmf"}, {20, "deck.mht"}, {36, "deck.pptx"}}) {
    EXPECT_EQ(Convert(Corpus(), out / name, code), -16) << name;
    EXPECT_EQ(Listing(out), before) << name;
  }
}

}  // namespace
