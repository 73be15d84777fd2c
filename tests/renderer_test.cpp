// The LibreOffice renderer: its rules without an office (deadlines, memory, leftovers, picture sizes,
// file URLs, the office's environment and sockets, encryption marks, staged output, refused calls,
// the plugin), then against real offices (conversions, slide pictures, corpus and encrypted inputs)
// and under faults (an office killed between and during conversions, hung, beyond its memory bound,
// recycled, the pool growing for concurrent clients, the end of the last lease). The office tests
// skip when LibreOffice is not installed.
#if defined(QUORVANE_ENGINE_LIBREOFFICE)

#include "engines/libreoffice/renderer.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <array>
#include <thread>

#include "common/office_limits.hpp"
#include "common/owned_folder.hpp"
#include "engines/libreoffice/compound_file.hpp"
#include "engines/libreoffice/office_process.hpp"
#include "engines/libreoffice/staging.hpp"
#include "engines/libreoffice/uno_session.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "support/fixtures.hpp"
#include "deckmaker/hostile_decks.hpp"

namespace quorvane::engines::libreoffice {
namespace {

namespace fs = std::filesystem;
namespace builder = pptx::builder;
using namespace quorvane::testing::hostile;  // the makers of damaged and encrypted files
using quorvane::testing::ReadFile;
using quorvane::testing::TempFolder;
using quorvane::testing::WriteFile;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Call = std::function<void()>;

std::string Hex(std::int32_t number) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(number));
  return text;
}

// The failure `call` throws, as hex, with its description into `description`.
std::string FailureOf(const Call& call, std::string* description = nullptr) {
  return Hex(quorvane::testing::ThrownNumber(call, description));
}

// Whether a folder holds a staging leftover of a failed or abandoned call.
bool HasStagingLeftover(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().starts_with(".quorvane-render-")) return true;
  return false;
}

// --- Rules without an office ---------------------------------------------------------------------

// What a load costs the deadline: slides counted in the file where the format tells, else guessed
// from the size; damage never throws.
TEST(RendererRules, SlidesToLoad) {
  TempFolder dir;
  builder::Write(builder::Generated(37), (dir / "37.pptx").string());
  const std::string bytes = ReadFile(dir / "37.pptx");
  WriteFile(dir / "cut.pptx", bytes.substr(0, bytes.size() / 2));
  std::string pages;
  for (int i = 0; i < 12; ++i) pages += "<draw:page draw:name=\"p" + std::to_string(i) + "\"/>";
  const std::string content = "<office:document><office:body>" + pages + "<draw:page-thumbnail/></office:body></office:document>";
  WriteFile(dir / "flat.fodp", "<?xml version=\"1.0\"?>" + content);
  WriteZip((dir / "zipped.odp").string(), {{"mimetype", "application/vnd.oasis.opendocument.presentation"}, {"content.xml", content}});
  WriteFile(dir / "legacy.ppt", std::string(5 * kBytesPerEstimatedSlide + 10, 'x'));
  WriteFile(dir / "text.txt", std::string(100 * 1024, 'x'));
  WriteFile(dir / "empty.ppt", "");
  const std::pair<const char*, std::int64_t> rows[] = {
      {"37.pptx", 37}, {"zipped.odp", 12}, {"flat.fodp", 12}, {"legacy.ppt", 5},
      {"cut.pptx", std::max<std::int64_t>(1, static_cast<std::int64_t>((bytes.size() / 2) / kBytesPerEstimatedSlide))},
      {"text.txt", 3}, {"empty.ppt", 1}, {"none.pptx", 1},
  };
  for (const auto& [file, expected] : rows) EXPECT_EQ(SlidesToLoad((dir / file).string()), expected) << file;
}

// What ended processes left in the temporary folder goes at the first use; what living ones hold
// stays. Sockets name their process, or are the single-instance sockets of a profile folder.
TEST(RendererRules, LeftoversOfEndedProcessesAreSwept) {
  TempFolder dir;
  const auto folder = [&](const std::string& name, bool old) {
    fs::create_directories(dir / name / "user");
    WriteFile(dir / name / "user" / "registrymodifications.xcu", "x");
    if (old) fs::last_write_time(dir / name, fs::file_time_type::clock::now() - std::chrono::hours(1));
    return dir / name;
  };
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ASSERT_GT(ended, 0);
  ::waitpid(ended, nullptr, 0);
  const std::string sockets = "/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_quorvane-";
  const auto socket = [](const std::string& name) {
    WriteFile(name, "");
    return name;
  };
  const auto profileSocket = [&](const char* name) {
    return socket(OfficeSocketFiles("", FileUrl((dir / name).string())).at(1));
  };
  cleanup::OwnedFolder held(folder("quorvane-office-held", true).string());
  ASSERT_TRUE(held.held());
  const std::pair<fs::path, bool> rows[] = {  // path, swept
      {folder("quorvane-office-ended", true), true},
      {folder("quorvane-render-ended", true), true},
      {dir / "quorvane-office-held", false},
      {folder("quorvane-office-young", false), false},  // just made, not yet held
      {folder("other-office-ended", true), false},      // someone else's
      {socket(sockets + std::to_string(ended) + "-1-swepttest"), true},
      {socket(sockets + std::to_string(::getpid()) + "-1-swepttest"), false},
      {profileSocket("quorvane-office-ended"), true},
      {profileSocket("quorvane-office-held"), false},
  };
  SweepLeftovers(dir.path().string());
  for (const auto& [path, swept] : rows) {
    EXPECT_EQ(!fs::exists(path), swept) << path;
    if (path.string().starts_with("/tmp/OSL_PIPE_")) ::unlink(path.c_str());
  }
}

TEST(RendererRules, EncryptionMarksOfCompoundFiles) {
  const std::string plainPpt = CompoundFile({{u"Current User", CurrentUserAtom(0xE391C05Fu)}});
  std::string looping = CompoundFile({{u"Current User", CurrentUserAtom(0xF3D1C4DFu)}});
  looping[512 + 4] = 1;  // the directory chain points at itself
  looping[512 + 5] = looping[512 + 6] = looping[512 + 7] = 0;
  const std::pair<std::string, Protection> rows[] = {
      {CompoundFile({{u"EncryptionInfo", std::string(64, 'x')}}), Protection::Encrypted},
      {CompoundFile({{u"Current User", CurrentUserAtom(0xF3D1C4DFu)}}), Protection::Encrypted},
      {plainPpt, Protection::None}, {CompoundFile({{u"WordDocument", WordFib(true)}}), Protection::Encrypted},
      {CompoundFile({{u"WordDocument", WordFib(false)}}), Protection::None},
      {CompoundFile({{u"Current User", std::string(8, '\0')}}), Protection::None},
      {"PK\x03\x04" + std::string(600, '\0'), Protection::None}, {"", Protection::None},
      {plainPpt.substr(0, 512), Protection::None}, {plainPpt.substr(0, 1100), Protection::None},
      {looping, Protection::None},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i)
    EXPECT_EQ(SniffProtectionOfBytes(rows[i].first), rows[i].second) << "row " << i;
  for (std::size_t at = 0; at < 1024; ++at) {  // every single-byte damage of the header and FAT is survived
    std::string damaged = plainPpt;
    damaged[at] = static_cast<char>(damaged[at] ^ 0xFF);
    (void)SniffProtectionOfBytes(damaged);
  }
}

TEST(RendererRules, StagedOutputAppearsOnlyOnCommit) {
  TempFolder dir;
  WriteFile(dir / "deck.html", "old");
  {
    StagedOutput staged((dir / "deck.html").string());
    const fs::path stagedPath = staged.stagedPath();
    EXPECT_EQ(stagedPath.filename(), "output.html") << "staged under a short name";
    EXPECT_NE(stagedPath.parent_path(), dir.path()) << "in a folder of its own";
    WriteFile(stagedPath, "new");
    WriteFile(stagedPath.parent_path() / "img0.png", "picture");
    EXPECT_EQ(ReadFile(dir / "deck.html"), "old") << "nothing changes before Commit";
    staged.Commit();
  }
  EXPECT_EQ(ReadFile(dir / "deck.html"), "new");
  EXPECT_EQ(ReadFile(dir / "img0.png"), "picture") << "companions move along";
  {
    StagedOutput abandoned((dir / "other.pdf").string());
    WriteFile(abandoned.stagedPath(), "half");
  }
  EXPECT_FALSE(fs::exists(dir / "other.pdf")) << "an abandoned output never appears";
  EXPECT_FALSE(HasStagingLeftover(dir.path()));
  const std::pair<Call, std::int32_t> rows[] = {
      {[&] { StagedOutput((dir / "missing" / "a.pdf").string()); }, failure::kWin32PathNotFound},
      {[&] { StagedOutput((dir.path() / "..").string() + "/"); }, failure::kStgCantSave},  // names no file
      {[&] { StagedOutput((dir / "b.pdf").string()).Commit(); }, failure::kStgCantSave},   // nothing written
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(FailureOf(rows[i].first), Hex(rows[i].second)) << "row " << i;
}

// Calls refused before any office is asked: they fail at once, naming the cause, and start nothing.
TEST(RendererRules, RefusedCallsStartNoOffice) {
  TempFolder dir;
  const std::string deck = (dir / "deck.pptx").string(), pdf = (dir / "o.pdf").string();
  builder::Write(builder::Sample(), deck);
  fs::create_directory(dir / "folder.pptx");
  WriteFile(dir / "locked.pptx", CompoundFile({{u"EncryptionInfo", std::string(64, 'x')}}));
  RendererLease lease = Renderer::Acquire();
  const std::size_t workersBefore = lease.Workers().size();
  const auto convert = [&](const fs::path& in, const std::string& out, const char* filter) {
    return [&lease, in, out, filter] { lease.ConvertDocument(in.string(), out, filter); };
  };
  const auto picture = [&](const char* file, const char* filter, std::int32_t width = 0) {
    return [&lease, &deck, out = (dir / file).string(), filter, width] { lease.ExportSlides(deck, {{1, out, filter, width, 10}}); };
  };
  struct Row { const char* name; Call call; std::int32_t expected; const char* named; };
  const Row rows[] = {
      {"missing input", convert(dir / "none.pptx", pdf, "impress_pdf_Export"), failure::kWin32FileNotFound, "none.pptx"},
      {"no input", convert("", pdf, "impress_pdf_Export"), failure::kWin32FileNotFound, "input"},
      {"folder as input", convert(dir / "folder.pptx", pdf, "impress_pdf_Export"), failure::kStgReadFault, "folder.pptx"},
      {"encrypted input", convert(dir / "locked.pptx", pdf, "impress_pdf_Export"), failure::kEAccessDenied, "locked.pptx"},
      {"missing output folder", convert(deck, (dir / "none" / "o.pdf").string(), "impress_pdf_Export"),
       failure::kWin32PathNotFound, "o.pdf"},
      {"no filter", convert(deck, pdf, ""), failure::kEFail, "o.pdf"},
      {"unknown picture filter", picture("s.xyz", "XYZ"), failure::kEFail, "XYZ"},
      {"picture filter not served", picture("s.svg", "SVG"), failure::kEFail, "SVG"},
      {"negative picture size", picture("s.png", "PNG", -1), failure::kDispOverflow, "s.png"},
      {"picture too large", picture("s.png", "PNG", kMaxPixelSide + 1), failure::kDispOverflow, "s.png"},
      {"picture into a missing folder", picture("none/s.png", "PNG"), failure::kWin32PathNotFound, "s.png"},
  };
  for (const Row& row : rows) {
    std::string description;
    EXPECT_EQ(FailureOf(row.call, &description), Hex(row.expected)) << row.name;
    EXPECT_NE(description.find(row.named), std::string::npos) << row.name << ": " << description;
  }
  EXPECT_EQ(lease.Workers().size(), workersBefore) << "no office was started for refused calls";
  EXPECT_FALSE(fs::exists(pdf));
  EXPECT_FALSE(HasStagingLeftover(dir.path()));
}

// --- The UNO plugin ------------------------------------------------------------------------------

// The component and the core load without LibreOffice: only the plugin links against UNO, with the
// office's program folder as run path.
TEST(RendererPlugin, OnlyThePluginLinksAgainstUno) {
  const fs::path folder = fs::path(QUORVANE_CLI).parent_path();
  for (const auto& [file, uno] : {std::pair{folder / "libquorvane.so", false}, {fs::path(QUORVANE_CLI), false},
                                  {fs::read_symlink("/proc/self/exe"), false}, {folder / kUnoPluginFile, true}}) {
    const std::string dynamic = quorvane::testing::CommandOutput("readelf -d '" + file.string() + "' | grep -E 'NEEDED|PATH'");
    ASSERT_NE(dynamic.find("libc.so"), std::string::npos) << file << ": readelf gave no dynamic section";
    for (const char* library : {"libuno_cppu.so", "libuno_sal.so", "libuno_cppuhelpergcc3.so", "libreoffice"})
      EXPECT_EQ(dynamic.find(library) != std::string::npos, uno) << file << ", " << library << ":\n" << dynamic;
  }
}

// Restores the normal plugin search when a test ends.
struct PluginOverride {
  explicit PluginOverride(const std::string& path) { detail::ResetUnoPluginForTesting(path); }
  ~PluginOverride() { detail::ResetUnoPluginForTesting(""); }
};

// The same failure reaches a conversion, before any office is started, and Available says it.
TEST(RendererPlugin, APluginThatCannotBeLoadedFailsClearly) {
  TempFolder dir;
  WriteFile(dir / "not-a-library.so", std::string(256, 'x'));
  builder::Write(builder::Sample(), (dir / "deck.pptx").string());
  struct Row { fs::path plugin; std::vector<std::string> named; };
  const Row rows[] = {
      {dir / "none" / kUnoPluginFile, {"could not be loaded", "not found", "none/"}},
      {dir / "not-a-library.so", {"could not be loaded", "not-a-library.so", "ELF"}},
      {fs::path(QUORVANE_CLI).parent_path() / "libquorvane.so", {kUnoConnectSymbol, "another build"}},  // no factory
  };
  for (const Row& row : rows) {
    PluginOverride override(row.plugin.string());
    std::string description, converted, why;
    EXPECT_EQ(FailureOf([] { OfficeSession::LoadPlugin(); }, &description), Hex(failure::kRpcServerUnavailable)) << row.plugin;
    for (const std::string& part : row.named) EXPECT_NE(description.find(part), std::string::npos) << description;
    EXPECT_EQ(FailureOf([] { OfficeSession::Connect("quorvane-none", std::chrono::steady_clock::now(), [] { return false; }); }),
              Hex(failure::kRpcServerUnavailable))
        << row.plugin;
    RendererLease lease = Renderer::Acquire();
    EXPECT_EQ(FailureOf([&] { lease.ConvertDocument((dir / "deck.pptx").string(), (dir / "o.pdf").string(), "impress_pdf_Export"); },
                        &converted),
              Hex(failure::kRpcServerUnavailable))
        << row.plugin;
    EXPECT_NE(converted.find("plugin"), std::string::npos) << converted;
    for (const WorkerStatus& worker : lease.Workers()) EXPECT_EQ(worker.pid, 0) << row.plugin << ": an office was started";
    EXPECT_FALSE(fs::exists(dir / "o.pdf")) << row.plugin;
    EXPECT_FALSE(Renderer::Available(&why)) << row.plugin;
    EXPECT_FALSE(why.empty()) << row.plugin;
  }
  PluginOverride normal("");
  EXPECT_EQ(FailureOf([] { OfficeSession::LoadPlugin(); }), Hex(0)) << "the normal search finds this build's plugin";
}

// An office that cannot start: the call fails with what the office said, and nothing is left running.
TEST(RendererStart, AnOfficeThatCannotStartFailsClearly) {
  std::string why;
  if (!Renderer::Available(&why)) GTEST_SKIP() << why;
  TempFolder dir;
  builder::Write(builder::Sample(), (dir / "deck.pptx").string());
  struct Row { const char* script; std::int32_t expected; std::vector<std::string> named; };
  const Row rows[] = {
      {nullptr, failure::kRpcServerUnavailable, {"soffice.bin", "not an executable"}},
      {"echo no display for you >&2; exit 3", failure::kRpcServerUnavailable, {"exited with code 3", "no display for you"}},
      {"exit 81", failure::kRpcServerUnavailable, {"exited with code 81"}},  // asks to be started again, twice
      {"kill -SEGV $$", failure::kRpcServerUnavailable, {"signal 11"}},
      {"exec sleep 600", failure::kWin32Timeout, {"Starting", "did not finish within 1.5"}},
  };
  for (const Row& row : rows) {
    const std::string name = row.script ? row.script : "no program";
    const fs::path program = dir / "program", pidFile = dir / "office.pid";
    fs::remove_all(program);
    fs::create_directory(program);
    fs::remove(pidFile);
    if (row.script != nullptr) {
      WriteFile(program / "soffice.bin", "#!/bin/sh\necho $$ > '" + pidFile.string() + "'\n" + row.script + "\n");
      fs::permissions(program / "soffice.bin", fs::perms::owner_all);
    }
    RendererOptions options;
    options.programDirectory = program.string();
    Renderer::Configure(options);
    SetOfficeLimits({0, milliseconds(1500), milliseconds(1)});
    RendererLease lease = Renderer::Acquire();
    std::string description;
    EXPECT_EQ(FailureOf([&] { lease.ConvertDocument((dir / "deck.pptx").string(), (dir / "o.pdf").string(), "impress_pdf_Export"); },
                        &description),
              Hex(row.expected))
        << name << ": " << description;
    for (const std::string& part : row.named) EXPECT_NE(description.find(part), std::string::npos) << name << ": " << description;
    EXPECT_TRUE(lease.Workers().empty()) << name;
    if (fs::exists(pidFile)) { EXPECT_NE(::kill(std::stoi(ReadFile(pidFile)), 0), 0) << name << ": nothing left running"; }
  }
  Renderer::Configure(RendererOptions{});
  SetOfficeLimits({});
}

// --- Against real offices ------------------------------------------------------------------------

// The format of a picture file as its header gives it ("" when unknown), with the pixel size of a PNG.
std::pair<std::string, std::pair<std::uint32_t, std::uint32_t>> FormatOf(const fs::path& path) {
  const std::string b = ReadFile(path);
  const std::pair<std::string, const char*> magic[] = {
      {"\x89PNG", "PNG"}, {"GIF8", "GIF"}, {"BM", "BMP"}, {"\xFF\xD8", "JPG"}, {std::string("II*\0", 4), "TIF"},
      {std::string("MM\0*", 4), "TIF"}, {std::string("\x01\0\0\0", 4), "EMF"}, {"\xD7\xCD\xC6\x9A", "WMF"},
      {std::string("\x01\0\x09\0", 4), "WMF"}};
  for (const auto& [start, format] : magic)
    if (b.starts_with(start)) return {format, quorvane::testing::PngSize(b)};
  return {};
}

bool IsPdf(const fs::path& file) { return ReadFile(file).starts_with("%PDF-"); }

// The tests below share one warm office (the suite holds a lease for its whole run).
class RendererTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!Renderer::Available()) return;
    Renderer::Configure(RendererOptions{});
    lease_.emplace(Renderer::Acquire());
  }
  static void TearDownTestSuite() {
    lease_.reset();
    Renderer::Configure(RendererOptions{});
  }
  void SetUp() override {
    std::string why;
    if (!Renderer::Available(&why)) GTEST_SKIP() << why;
  }
  void TearDown() override { Renderer::Configure(RendererOptions{}); }

  static RendererLease& lease() { return *lease_; }
  static pid_t OnlyWorker() {
    const std::vector<WorkerStatus> workers = lease_->Workers();
    return workers.size() == 1 ? workers[0].pid : 0;
  }
  std::string Convert(const fs::path& in, const std::string& out, const char* filter = "impress_pdf_Export",
                      const FilterOptions& options = {}, std::string* description = nullptr) {
    return FailureOf([&] { lease().ConvertDocument(in.string(), (dir_ / out).string(), filter, options); }, description);
  }
  fs::path Deck(const std::string& name, const builder::DeckPlan& plan = builder::Sample()) {
    builder::Write(plan, (dir_ / name).string());
    return dir_ / name;
  }

  static std::optional<RendererLease> lease_;
  TempFolder dir_;
};

std::optional<RendererLease> RendererTest::lease_;

TEST_F(RendererTest, ExportsSlidePictures) {
  builder::DeckPlan fourByThree = builder::Sample();
  fourByThree.slideWidthEmu = 9144000;  // 10 in x 7.5 in
  fourByThree.slideHeightEmu = 6858000;
  const fs::path deck43 = Deck("four-by-three.pptx", fourByThree);
  const auto at = [&](const char* file) { return (dir_ / file).string(); };
  using Size = std::pair<std::uint32_t, std::uint32_t>;
  const std::tuple<SlideExport, std::string, Size> rows[] = {
      {{1, at("s1.png"), "PNG"}, "PNG", {960, 720}}, {{3, at("s3.jpg"), "JPG"}, "JPG", {}}, {{2, at("s2.tif"), "TIF"}, "TIF", {}},
      {{4, at("s4.png"), "png"}, "PNG", {960, 720}},  // the hidden slide
      {{1, at("w.png"), "PNG", 480, 0}, "PNG", {480, 360}}, {{1, at("h.png"), "PNG", 0, 360}, "PNG", {480, 360}},
      {{1, at("b.png"), "PNG", 200, 100}, "PNG", {200, 100}}, {{1, at("s1.gif"), "GIF"}, "GIF", {}},
      {{1, at("s1.bmp"), "BMP"}, "BMP", {}}, {{1, at("s1.emf"), "EMF"}, "EMF", {}}, {{1, at("s1.wmf"), "WMF"}, "WMF", {}},
  };
  std::vector<SlideExport> slides;
  for (const auto& row : rows) slides.push_back(std::get<0>(row));
  lease().ExportSlides(deck43.string(), slides);
  for (const auto& [slide, format, size] : rows) EXPECT_EQ(FormatOf(slide.path), std::pair(format, size)) << slide.path;
}

// An input only the office finds encrypted (it asks for a password, and is told "abort") fails as
// one the renderer sees encrypted itself.
TEST_F(RendererTest, FailuresNameTheFileAndTheCause) {
  const fs::path deck = Deck("deck.pptx");
  WriteFile(dir_ / "garbage.pptx", "this is not a presentation\n");
  WriteFile(dir_ / "cut.pptx", ReadFile(deck).substr(0, 6000));
  WritePasswordProtectedOdp((dir_ / "protected.odp").string());
  const auto pictures = [&](std::vector<SlideExport> slides) {
    for (SlideExport& slide : slides) slide.path = (dir_ / slide.path).string();
    return [this, deck, slides] { lease().ExportSlides(deck.string(), slides); };
  };
  const auto convert = [&](const char* in, const char* out, const char* filter) {
    return [this, in, out, filter] { lease().ConvertDocument((dir_ / in).string(), (dir_ / out).string(), filter); };
  };
  struct Row { const char* name; Call call; std::int32_t expected; const char* named; };
  const Row rows[] = {
      {"unknown export filter", convert("deck.pptx", "a.xyz", "No Such Filter"), failure::kEFail, "No Such Filter"},
      {"import-only filter", convert("deck.pptx", "a.key", "Apple Keynote"), failure::kEFail, "Apple Keynote"},
      {"text filter for a presentation", convert("deck.pptx", "a.doc", "MS Word 97"), failure::kWin32InvalidData, "deck.pptx"},
      {"text read as a presentation", convert("garbage.pptx", "b.pdf", "impress_pdf_Export"), failure::kWin32InvalidData,
       "garbage.pptx"},
      {"damaged package", convert("cut.pptx", "c.pdf", "impress_pdf_Export"), failure::kWin32InvalidData, "cut.pptx"},
      {"slide zero", pictures({{0, "s0.png", "PNG"}}), failure::kDispBadIndex, "Slide 0"},
      {"one bad picture of several", pictures({{1, "ok.png", "PNG"}, {9, "s9.png", "PNG"}}), failure::kDispBadIndex, "Slide 9"},
      {"password asked", convert("protected.odp", "p.pdf", "impress_pdf_Export"), failure::kEAccessDenied, "password"},
  };
  for (const Row& row : rows) {
    std::string description;
    EXPECT_EQ(FailureOf(row.call, &description), Hex(row.expected)) << row.name << ": " << description;
    EXPECT_NE(description.find(row.named), std::string::npos) << row.name << ": " << description;
  }
  for (const char* file : {"a.xyz", "a.key", "a.doc", "b.pdf", "ok.png", "p.pdf"})
    EXPECT_FALSE(fs::exists(dir_ / file)) << file << ": a failed call writes nothing";
  EXPECT_FALSE(HasStagingLeftover(dir_.path()));
  ASSERT_EQ(Convert(deck, "after.pdf"), Hex(0)) << "the office survived all of it";
  EXPECT_TRUE(IsPdf(dir_ / "after.pdf"));
}

// --- Faults --------------------------------------------------------------------------------------

TEST_F(RendererTest, AnOfficeKilledBetweenOrDuringConversionsIsReplaced) {
  const fs::path deck = Deck("big.pptx", builder::Generated(300));
  // An office killed between conversions is replaced by the next call.
  lease().ExportSlides(deck.string(), {{1, (dir_ / "warm.png").string(), "PNG"}});
  const pid_t first = OnlyWorker();
  ASSERT_GT(first, 0);
  ::kill(-first, SIGKILL);
  lease().ExportSlides(deck.string(), {{1, (dir_ / "warm.png").string(), "PNG"}});  // warm, and loadable
  ASSERT_GT(OnlyWorker(), 0);
  EXPECT_NE(OnlyWorker(), first) << "a new office";
  std::string number, description;
  std::thread converter([&] { number = Convert(deck, "big.pdf", "impress_pdf_Export", {}, &description); });
  pid_t victim = 0;
  // A guard against a hang only: the conversion starts within a fraction of a second.
  for (auto until = std::chrono::steady_clock::now() + seconds(60); victim == 0 && std::chrono::steady_clock::now() < until;) {
    for (const WorkerStatus& w : lease().Workers()) victim = w.busy ? w.pid : victim;
    std::this_thread::sleep_for(milliseconds(5));
  }
  std::this_thread::sleep_for(milliseconds(300));
  if (victim > 0) ::kill(-victim, SIGKILL);
  converter.join();
  ASSERT_GT(victim, 0) << "the conversion never started";
  EXPECT_EQ(number, Hex(failure::kRpcServerUnavailable)) << description;
  EXPECT_NE(description.find("big.pptx"), std::string::npos) << description;
  EXPECT_FALSE(fs::exists(dir_ / "big.pdf"));
  EXPECT_FALSE(HasStagingLeftover(dir_.path()));
  ASSERT_EQ(Convert(Deck("small deck \xC3\xBC.pptx"), "after.pdf"), Hex(0)) << "a space and a non-ASCII letter on the way";
  EXPECT_TRUE(IsPdf(dir_ / "after.pdf"));
}

// An office past its deadline or above its memory bound is stopped: the call fails saying which
// bound it met, nothing of the office is left (process, private folder with the temporary files it
// made, sockets), and the next call gets a new office. A large deck gets the time its slides need.
TEST_F(RendererTest, AnOfficeBeyondItsBoundsIsStoppedAndReplaced) {
  // The host's temporary folder while these offices run: what a killed office made there would stay.
  TempFolder temporary;
  quorvane::testing::ScopedVariable tmpdir("TMPDIR", temporary.path().string());
  const fs::path deck = Deck("deck.pptx"), big = Deck("big.pptx", builder::Generated(300));
  const std::string sockets = "OSL_PIPE_" + std::to_string(::getuid()) + "_quorvane-" + std::to_string(::getpid());
  // hang: the office is stopped (SIGSTOP) before the call; named: the description says this. (The
  // limits from the environment: OfficeLimits.FromTheEnvironment.)
  struct Row { const char* name; fs::path input; OfficeLimits limits; bool hang; std::int32_t expected; std::string named; };
  const Row rows[] = {
      {"hung office", deck, {0, seconds(2), milliseconds(1)}, true, failure::kWin32Timeout,
       "the office did not finish within 2.0"},
      {"large deck, small allowance: 0.5 s + 300 x 1 ms", big, {0, milliseconds(500), milliseconds(1)}, false,
       failure::kWin32Timeout, "the office did not finish within 0.8 s and was stopped"},
      {"memory bound", deck, {1 << 20, milliseconds(0), milliseconds(0)}, false, failure::kEOutOfMemory,
       "the office used more than 1 MiB of memory and was stopped"},
      {"large deck, its allowance: 0.5 s + 300 x 200 ms", big, {0, milliseconds(500), milliseconds(200)}, false, 0, ""},
  };
  for (const Row& row : rows) {
    ASSERT_EQ(Convert(deck, "warm.pdf"), Hex(0)) << row.name;
    const pid_t first = OnlyWorker();
    ASSERT_GT(first, 0) << row.name;
    SetOfficeLimits(row.limits);
    if (row.hang) ::kill(first, SIGSTOP);
    std::string description;
    const std::string number = Convert(row.input, "out.pdf", "impress_pdf_Export", {}, &description);
    SetOfficeLimits({});
    EXPECT_EQ(number, Hex(row.expected)) << row.name << ": " << description;
    EXPECT_NE(description.find(row.named), std::string::npos) << row.name << ": " << description;
    if (row.expected == 0) {
      EXPECT_TRUE(IsPdf(dir_ / "out.pdf")) << row.name;
      continue;
    }
    EXPECT_NE(description.find(row.input.filename().string()), std::string::npos) << row.name << ": " << description;
    EXPECT_FALSE(fs::exists(dir_ / "out.pdf")) << row.name;
    EXPECT_NE(::kill(first, 0), 0) << row.name << ": the office was ended";
    EXPECT_TRUE(lease().Workers().empty()) << row.name;
    for (const auto& entry : fs::directory_iterator(temporary.path()))
      ADD_FAILURE() << row.name << ": left in the temporary folder: " << entry.path().filename();
    // The office's temporary folder is "lu<its pid>...tmp"; the sockets name this process.
    for (const auto& entry : fs::directory_iterator("/tmp")) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with(sockets) || name.starts_with("lu" + std::to_string(first))) { ADD_FAILURE() << row.name << ": left " << name; }
    }
    ASSERT_EQ(Convert(deck, "after.pdf"), Hex(0)) << row.name;
    EXPECT_NE(OnlyWorker(), first) << row.name << ": a new office";
  }
  // The last office's folder is in `temporary`, which goes with this test: the next test gets a new one.
  for (const WorkerStatus& worker : lease().Workers()) ::kill(-worker.pid, SIGKILL);
}

TEST_F(RendererTest, ThePoolGrowsForConcurrentClientsUpToItsMaximum) {
  const fs::path deck = Deck("deck.pptx", builder::Generated(40));
  for (const std::size_t maximum : {std::size_t{1}, std::size_t{2}}) {
    RendererOptions options;
    options.maxWorkers = maximum;
    Renderer::Configure(options);
    std::vector<std::string> results(3);
    std::vector<std::thread> clients;
    for (std::size_t i = 0; i < results.size(); ++i)
      clients.emplace_back([&, i] { results[i] = Convert(deck, "c" + std::to_string(i) + ".pdf"); });
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(results, std::vector<std::string>(3, Hex(0))) << "maximum " << maximum;
    EXPECT_EQ(lease().Workers().size(), maximum) << "maximum " << maximum;
  }
}

TEST_F(RendererTest, AnOfficeIsRecycledAfterItsShareOfConversions) {
  const fs::path deck = Deck("deck.pptx");
  const auto convert = [&] { ASSERT_EQ(Convert(deck, "r.pdf"), Hex(0)); };
  RendererOptions options;
  options.maxWorkers = 1;
  options.recycleAfter = 2;
  Renderer::Configure(options);
  convert();
  ASSERT_EQ(lease().Workers().size(), 1u);
  EXPECT_EQ(lease().Workers()[0].conversions, 1);
  const pid_t first = OnlyWorker();
  convert();
  EXPECT_TRUE(lease().Workers().empty()) << "retired right after its second conversion";
  EXPECT_NE(::kill(first, 0), 0) << "and ended";
  options.recycleAfter = 0;
  options.memoryCeilingBytes = 1;  // every office is above it
  Renderer::Configure(options);
  convert();
  EXPECT_TRUE(lease().Workers().empty()) << "retired above the memory ceiling";
}

// Runs after RendererTest has released its lease: here the test's leases are the only ones.
TEST(RendererLifetime, TheLastLeaseEndsTheOffices) {
  std::string why;
  if (!Renderer::Available(&why)) GTEST_SKIP() << why;
  TempFolder dir, scratch;
  RendererOptions options;
  options.scratchDirectory = scratch.path().string();
  Renderer::Configure(options);
  const std::string deck = (dir / "deck.pptx").string();
  builder::Write(builder::Sample(), deck);

  std::optional<RendererLease> application(Renderer::Acquire()), other(Renderer::Acquire());
  application->ConvertDocument(deck, (dir / "a.pdf").string(), "impress_pdf_Export");
  ASSERT_EQ(other->Workers().size(), 1u) << "both leases share one pool";
  const pid_t office = other->Workers()[0].pid;
  EXPECT_FALSE(fs::is_empty(scratch.path())) << "the office's profile folder";
  application.reset();
  EXPECT_EQ(::kill(office, 0), 0) << "still held by the other lease";
  other->ConvertDocument(deck, (dir / "b.pdf").string(), "impress_pdf_Export");
  EXPECT_EQ(other->Workers().at(0).pid, office) << "kept warm";
  other.reset();
  EXPECT_NE(::kill(office, 0), 0) << "ended with the last lease";
  EXPECT_TRUE(fs::is_empty(scratch.path())) << "profile folder removed";

  Renderer::Configure(RendererOptions{});
}


// A cold office starts from the profile the first clean end kept in the user's cache folder: made
// once, reused as it is, made again when it cannot serve.
TEST(RendererLifetime, OfficesStartAheadFromThePreparedProfile) {
  std::string why;
  if (!Renderer::Available(&why)) GTEST_SKIP() << why;
  TempFolder dir, cache;
  ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
  const std::string deck = (dir / "deck.pptx").string();
  builder::Write(builder::Sample(), deck);
  const auto profiles = [&] {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(cache / "quorvane", ec)) found.push_back(entry.path());
    return found;
  };
  const auto convertOnce = [&](const char* row) {
    Renderer::Configure(RendererOptions{});
    std::optional<RendererLease> lease(Renderer::Acquire());
    const std::uint64_t started = OfficesStarted();
    lease->Prestart();  // as a conversion does while it writes the copy the office loads
    EXPECT_EQ(FailureOf([&] { lease->ConvertDocument(deck, (dir / "out.pdf").string(), "impress_pdf_Export"); }),
              "0x00000000")
        << row;
    EXPECT_EQ(OfficesStarted() - started, 1u) << row << ": the office started ahead serves the call";
    lease.reset();
    const std::vector<fs::path> kept = profiles();
    EXPECT_EQ(kept.size(), 1u) << row << ": one prepared profile";
    return kept.empty() ? fs::path() : kept[0];
  };

  const fs::path made = convertOnce("no profile yet");
  const fs::path settings = made / "user" / "registrymodifications.xcu";
  EXPECT_NE(ReadFile(settings).find("DisableMacrosExecution"), std::string::npos) << "kept with our settings";
  const auto madeAt = fs::last_write_time(settings);
  EXPECT_EQ(convertOnce("a prepared profile"), made);
  EXPECT_EQ(fs::last_write_time(settings), madeAt) << "reused as it is";
  fs::remove_all(made / "user");
  WriteFile(made / "user", "not a profile");
  EXPECT_EQ(convertOnce("a damaged profile"), made);
  EXPECT_TRUE(fs::is_regular_file(settings)) << "made again";

  ::unsetenv("XDG_CACHE_HOME");
  Renderer::Configure(RendererOptions{});
}

}  // namespace
}  // namespace quorvane::engines::libreoffice

#endif  // QUORVANE_ENGINE_LIBREOFFICE
