// The LibreOffice renderer: its rules without an office (deadlines, picture sizes, filter names,
// file URLs, encryption marks, staged output, refused calls), then against real offices
// (conversions, slide pictures, corpus inputs, encrypted inputs) and under faults (an office
// killed between and during conversions, a hung office, concurrent clients, recycling, the end of
// the last lease). The office tests skip when LibreOffice is not installed.
#if defined(QUORVANE_ENGINE_LIBREOFFICE)

#include "engines/libreoffice/renderer.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/office_limits.hpp"
#include "common/owned_folder.hpp"
#include "common/text.hpp"
#include "engines/libreoffice/compound_file.hpp"
#include "engines/libreoffice/office_process.hpp"
#include "engines/libreoffice/staging.hpp"
#include "engines/libreoffice/uno_session.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/zip.hpp"
#include "deckmaker/hostile_decks.hpp"

namespace quorvane::engines::libreoffice {
namespace {

namespace fs = std::filesystem;
namespace builder = pptx::builder;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

const fs::path kCorpus = QUORVANE_CORPUS_DIR;

// A fresh folder per test, removed afterwards.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "qv-renderer-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// Runs `call`; the AutomationError's number, or 0 when it did not throw.
std::int32_t FailureOf(const std::function<void()>& call, std::string* description = nullptr) {
  try {
    call();
  } catch (const AutomationError& e) {
    if (description != nullptr) *description = text::ToUtf8(e.description());
    return e.number();
  }
  return 0;
}

std::string Hex(std::int32_t number) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(number));
  return text;
}

// Whether a folder holds a staging leftover of a failed or abandoned call.
bool HasStagingLeftover(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with(".quorvane-render-")) return true;
  }
  return false;
}

// --- Rules without an office ---------------------------------------------------------------------

// What a load costs the deadline: slides counted in the file where the format tells, else guessed
// from the size; damage never throws.
TEST(RendererRules, SlidesToLoad) {
  ScratchFolder dir;
  builder::Write(builder::Generated(37), (dir / "37.pptx").string());
  std::string bytes = ReadFile(dir / "37.pptx");
  WriteFile(dir / "cut.pptx", bytes.substr(0, bytes.size() / 2));
  std::string pages;
  for (int i = 0; i < 12; ++i) pages += "<draw:page draw:name=\"p" + std::to_string(i) + "\"/>";
  WriteFile(dir / "flat.fodp", "<?xml version=\"1.0\"?><office:document><office:body>" + pages +
                                   "<draw:page-thumbnail/></office:body></office:document>");
  WriteFile(dir / "text.txt", std::string(100 * 1024, 'x'));
  WriteFile(dir / "empty.ppt", "");
  struct Row {
    const char* name;
    fs::path file;
    std::int64_t expected;
  };
  const Row rows[] = {
      {"Office Open XML slides", dir / "37.pptx", 37},
      {"OpenDocument pages", kCorpus / "odftoolkit/Presentation5.odp", 800},
      {"flat OpenDocument pages", dir / "flat.fodp", 12},
      {"PowerPoint 97 by its size", kCorpus / "poi/SampleShow.ppt",
       std::max<std::int64_t>(1, static_cast<std::int64_t>(fs::file_size(kCorpus / "poi/SampleShow.ppt") /
                                                           kBytesPerEstimatedSlide))},
      {"cut package by its size", dir / "cut.pptx",
       std::max<std::int64_t>(1, static_cast<std::int64_t>((bytes.size() / 2) / kBytesPerEstimatedSlide))},
      {"other file by its size", dir / "text.txt", 3},
      {"empty file", dir / "empty.ppt", 1},
      {"missing file", dir / "none.pptx", 1},
  };
  for (const Row& row : rows) EXPECT_EQ(SlidesToLoad(row.file.string()), row.expected) << row.name;
}

// An office's memory is that of its whole process group: the leader and what it started.
TEST(RendererRules, GroupMemoryCountsEveryProcessOfTheGroup) {
  constexpr std::size_t kEach = std::size_t{64} << 20;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t leader = ::fork();
  if (leader == 0) {
    // Only system calls between fork and _exit: the test program may have other threads.
    ::setpgid(0, 0);
    ::fork();  // leader and child, one group, each touching kEach bytes
    void* block = ::mmap(nullptr, kEach, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block != MAP_FAILED) std::memset(block, 1, kEach);
    ssize_t ignored = ::write(ready[1], "x", 1);
    (void)ignored;
    for (;;) ::pause();
  }
  ASSERT_GT(leader, 0);
  ::close(ready[1]);
  char got[2];
  std::size_t have = 0;
  while (have < 2) {
    ssize_t n = ::read(ready[0], got + have, 2 - have);
    if (n <= 0) break;
    have += static_cast<std::size_t>(n);
  }
  ::close(ready[0]);
  GroupMemorySampler sampler(leader);
  std::uint64_t first = sampler.Sample();
  std::uint64_t again = sampler.Sample();  // from the processes found by the first
  ::kill(-leader, SIGKILL);
  ::waitpid(leader, nullptr, 0);
  ASSERT_EQ(have, 2u) << "both processes touched their memory";
  for (std::uint64_t sample : {first, again}) {
    EXPECT_GE(sample, 2 * kEach);
    EXPECT_LT(sample, 2 * kEach + (std::uint64_t{64} << 20));
  }
}

// What ended processes left in the temporary folder goes at the first use; what living ones hold
// stays.
TEST(RendererRules, LeftoversOfEndedProcessesAreSwept) {
  ScratchFolder dir;
  auto folder = [&](const std::string& name, bool old) {
    fs::create_directories(dir / name / "user");
    WriteFile(dir / name / "user" / "registrymodifications.xcu", "x");
    if (old) fs::last_write_time(dir / name, fs::file_time_type::clock::now() - std::chrono::hours(1));
    return dir / name;
  };
  // A process that has ended, for the socket of its office.
  pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ASSERT_GT(ended, 0);
  ::waitpid(ended, nullptr, 0);
  const std::string sockets = "/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_quorvane-";
  const std::string deadSocket = sockets + std::to_string(ended) + "-1-swepttest";
  const std::string liveSocket = sockets + std::to_string(::getpid()) + "-1-swepttest";
  WriteFile(deadSocket, "");
  WriteFile(liveSocket, "");
  cleanup::OwnedFolder held(folder("quorvane-office-held", true).string());
  ASSERT_TRUE(held.held());
  // The single-instance sockets of the offices that used these folders as profiles.
  auto profileSocket = [&](const char* name) {
    std::string socket = OfficeSocketFiles("", FileUrl((dir / name).string())).at(1);
    WriteFile(socket, "");
    return socket;
  };
  const std::string endedProfileSocket = profileSocket("quorvane-office-ended");
  const std::string heldProfileSocket = profileSocket("quorvane-office-held");
  struct Row {
    const char* name;
    fs::path path;
    bool swept;
  };
  const Row rows[] = {
      {"profile of an ended process", folder("quorvane-office-ended", true), true},
      {"deck copy of an ended process", folder("quorvane-render-ended", true), true},
      {"profile a living process holds", dir / "quorvane-office-held", false},
      {"folder just made, not yet held", folder("quorvane-office-young", false), false},
      {"someone else's folder", folder("other-office-ended", true), false},
      {"socket of an ended process", deadSocket, true},
      {"socket of a living process", liveSocket, false},
      {"profile socket of an ended process", endedProfileSocket, true},
      {"profile socket of a living process", heldProfileSocket, false},
  };
  SweepLeftovers(dir.path().string());
  for (const Row& row : rows) EXPECT_EQ(!fs::exists(row.path), row.swept) << row.name;
  for (const std::string& socket : {deadSocket, liveSocket, endedProfileSocket, heldProfileSocket}) {
    ::unlink(socket.c_str());
  }
}

TEST(RendererRules, DefaultMaxWorkers) {
  struct Row {
    const char* name;
    const char* environment;
    std::size_t expected;
  };
  const Row rows[] = {
      {"unset", nullptr, kDefaultMaxWorkers},
      {"empty", "", kDefaultMaxWorkers},
      {"one", "1", 1},
      {"four", "4", 4},
      {"upper bound", "64", kMaxWorkersLimit},
      {"too many", "65", kDefaultMaxWorkers},
      {"huge", "99999999999999999999", kDefaultMaxWorkers},
      {"zero", "0", kDefaultMaxWorkers},
      {"negative", "-3", kDefaultMaxWorkers},
      {"blank after", "3 ", kDefaultMaxWorkers},
      {"words", "two", kDefaultMaxWorkers},
  };
  for (const Row& row : rows) EXPECT_EQ(DefaultMaxWorkers(row.environment), row.expected) << row.name;
}

TEST(RendererRules, SlidePixelSize) {
  struct Row {
    const char* name;
    std::int32_t slideWidth, slideHeight, requestedWidth, requestedHeight;
    std::int32_t width, height;
  };
  const Row rows[] = {
      {"10 x 7.5 in at 96 dpi", 25400, 19050, 0, 0, 960, 720},
      {"13.333 x 7.5 in at 96 dpi", 33867, 19050, 0, 0, 1280, 720},
      {"both given", 25400, 19050, 200, 100, 200, 100},
      {"width given keeps the ratio", 25400, 19050, 480, 0, 480, 360},
      {"height given keeps the ratio", 33867, 19050, 0, 360, 640, 360},
      {"no slide size: 4:3", 0, 0, 0, 0, 960, 720},
      {"tiny result is one pixel", 25400, 19050, 1, 0, 1, 1},
      {"clamped to the largest side", 2540000, 19050, 0, 0, kMaxPixelSide, 720},
  };
  for (const Row& row : rows) {
    auto [width, height] = SlidePixelSize(row.slideWidth, row.slideHeight, row.requestedWidth, row.requestedHeight);
    EXPECT_EQ(width, row.width) << row.name;
    EXPECT_EQ(height, row.height) << row.name;
  }
}

TEST(RendererRules, PictureFilterNames) {
  struct Row {
    const char* name;
    const char* officeName;  // nullptr: not served
    bool raster;
  };
  const Row rows[] = {
      {"PNG", "png", true},     {"png", "png", true},    {"Gif", "gif", true},  {"JPG", "jpg", true},
      {"BMP", "bmp", true},     {"TIF", "tif", true},    {"EMF", "emf", false}, {"WMF", "wmf", false},
      {"JPEG", nullptr, false}, {"SVG", nullptr, false}, {"", nullptr, false},  {"PNGX", nullptr, false},
      {"XYZ", nullptr, false},
  };
  for (const Row& row : rows) {
    const PictureFilter* filter = FindPictureFilter(row.name);
    if (row.officeName == nullptr) {
      EXPECT_EQ(filter, nullptr) << row.name;
      continue;
    }
    ASSERT_NE(filter, nullptr) << row.name;
    EXPECT_EQ(filter->officeName, row.officeName) << row.name;
    EXPECT_EQ(filter->raster, row.raster) << row.name;
  }
}

TEST(RendererRules, FileUrl) {
  struct Row {
    const char* path;
    const char* url;
  };
  const Row rows[] = {
      {"/tmp/deck.pptx", "file:///tmp/deck.pptx"},
      {"/tmp/my deck.pptx", "file:///tmp/my%20deck.pptx"},
      {"/tmp/a%b#c?d.pptx", "file:///tmp/a%25b%23c%3Fd.pptx"},
      {"/tmp/\xC3\xBC"
       "ber.pptx",
       "file:///tmp/%C3%BCber.pptx"},
      {"/tmp/./x/../deck.pptx", "file:///tmp/deck.pptx"},
  };
  for (const Row& row : rows) EXPECT_EQ(FileUrl(row.path), row.url) << row.path;
  EXPECT_EQ(FileUrl("deck.pptx"), FileUrl((fs::current_path() / "deck.pptx").string())) << "relative names";
}

TEST(RendererRules, OfficeEnvironment) {
  struct Row {
    const char* name;
    std::vector<std::string> host;
    std::vector<std::string> expected;
  };
  const Row rows[] = {
      {"nothing set", {"PATH=/bin"}, {"PATH=/bin", "LC_CTYPE=C.UTF-8"}},
      {"LC_CTYPE replaced", {"LC_CTYPE=POSIX", "HOME=/root"}, {"HOME=/root", "LC_CTYPE=C.UTF-8"}},
      {"LC_ALL becomes LANG", {"LC_ALL=de_DE.ISO-8859-1"}, {"LANG=de_DE.ISO-8859-1", "LC_CTYPE=C.UTF-8"}},
      {"LC_ALL overrides LANG", {"LANG=en_US.UTF-8", "LC_ALL=C"}, {"LANG=C", "LC_CTYPE=C.UTF-8"}},
      {"temporary folders replaced",
       {"TMPDIR=/var/tmp", "TMP=/t", "TEMP=/t", "TMPDIRX=1"},
       {"TMPDIRX=1", "LC_CTYPE=C.UTF-8"}},
  };
  const std::vector<std::string> temporary = {"TMPDIR=/p/tmp", "TMP=/p/tmp", "TEMP=/p/tmp"};
  for (const Row& row : rows) {
    std::vector<std::string> expected = row.expected;
    expected.insert(expected.end(), temporary.begin(), temporary.end());
    EXPECT_EQ(OfficeEnvironment(row.host, "/p/tmp"), expected) << row.name;
  }
}

TEST(RendererRules, OfficeArgumentsKeepTheOfficePrivate) {
  std::vector<std::string> args =
      OfficeArguments({"/opt/office/soffice.bin", "pipe-1", "/tmp/profile", "/tmp/log", "/tmp/t"});
  ASSERT_FALSE(args.empty());
  EXPECT_EQ(args.front(), "/opt/office/soffice.bin");
  for (const char* expected :
       {"--headless", "--invisible", "--norestore", "--nodefault", "--nolockcheck",
        "--accept=pipe,name=pipe-1;urp;StarOffice.ComponentContext", "-env:UserInstallation=file:///tmp/profile"}) {
    EXPECT_NE(std::find(args.begin(), args.end(), expected), args.end()) << expected;
  }
}

using quorvane::testing::hostile::CompoundFile;

std::string CurrentUserAtom(std::uint32_t token) {
  std::string atom(20, '\0');
  atom[4] = static_cast<char>(0xF6);
  atom[5] = static_cast<char>(0x0F);
  atom[8] = 0x14;
  for (int i = 0; i < 4; ++i) atom[12 + static_cast<std::size_t>(i)] = static_cast<char>((token >> (8 * i)) & 0xFF);
  return atom;
}

std::string WordFib(bool encrypted) {
  std::string fib(32, '\0');
  fib[0] = static_cast<char>(0xEC);
  fib[1] = static_cast<char>(0xA5);
  fib[11] = encrypted ? 0x01 : 0x00;
  return fib;
}

TEST(RendererRules, EncryptionMarksOfCompoundFiles) {
  std::string plainPpt = CompoundFile({{u"Current User", CurrentUserAtom(0xE391C05Fu)}});
  struct Row {
    const char* name;
    std::string bytes;
    Protection expected;
  };
  const Row rows[] = {
      {"encrypted OOXML package", CompoundFile({{u"EncryptionInfo", std::string(64, 'x')}}), Protection::Encrypted},
      {"encrypted PowerPoint 97", CompoundFile({{u"Current User", CurrentUserAtom(0xF3D1C4DFu)}}),
       Protection::Encrypted},
      {"plain PowerPoint 97", plainPpt, Protection::None},
      {"encrypted Word 97", CompoundFile({{u"WordDocument", WordFib(true)}}), Protection::Encrypted},
      {"plain Word 97", CompoundFile({{u"WordDocument", WordFib(false)}}), Protection::None},
      {"short Current User stream", CompoundFile({{u"Current User", std::string(8, '\0')}}), Protection::None},
      {"zip package", "PK\x03\x04" + std::string(600, '\0'), Protection::None},
      {"empty", "", Protection::None},
      {"header only", plainPpt.substr(0, 512), Protection::None},
      {"cut in the directory", plainPpt.substr(0, 1100), Protection::None},
  };
  for (const Row& row : rows) EXPECT_EQ(SniffProtectionOfBytes(row.bytes), row.expected) << row.name;

  // A FAT whose directory chain loops on itself ends the look instead of looping.
  std::string looping = CompoundFile({{u"Current User", CurrentUserAtom(0xF3D1C4DFu)}});
  looping[512 + 4] = 1;
  looping[512 + 5] = looping[512 + 6] = looping[512 + 7] = 0;
  EXPECT_EQ(SniffProtectionOfBytes(looping), Protection::None) << "directory chain pointing at itself";
  // Every single-byte damage of the header and FAT is survived.
  for (std::size_t at = 0; at < 1024; ++at) {
    std::string damaged = plainPpt;
    damaged[at] = static_cast<char>(damaged[at] ^ 0xFF);
    (void)SniffProtectionOfBytes(damaged);
  }
}

TEST(RendererRules, EncryptionMarksOfCorpusFiles) {
  struct Row {
    const char* file;
    Protection expected;
  };
  const Row rows[] = {
      {"openxml-sdk/encrypted_pptx.pptx", Protection::Encrypted},
      {"poi/Password_Protected-hello.ppt", Protection::Encrypted},
      {"poi/SampleShow.ppt", Protection::None},
      {"poi/PPT95.ppt", Protection::None},
      {"poi/SampleShow.pptx", Protection::None},
      {"docling/odf_presentation_01.odp", Protection::None},
      {"poi/clusterfuzz-HSLF-5306877435838464.ppt", Protection::None},
  };
  for (const Row& row : rows) {
    fs::path path = kCorpus / row.file;
    if (!fs::exists(path)) GTEST_SKIP() << "corpus file missing: " << path;
    EXPECT_EQ(SniffProtection(path.string()), row.expected) << row.file;
  }
}

TEST(RendererRules, StagedOutputAppearsOnlyOnCommit) {
  ScratchFolder dir;
  fs::path final = dir / "deck.html";
  WriteFile(final, "old");
  {
    StagedOutput staged(final.string());
    EXPECT_EQ(fs::path(staged.stagedPath()).filename(), "output.html") << "staged under a short name";
    EXPECT_NE(fs::path(staged.stagedPath()).parent_path(), dir.path()) << "in a folder of its own";
    WriteFile(staged.stagedPath(), "new");
    WriteFile(fs::path(staged.stagedPath()).parent_path() / "img0.png", "picture");
    EXPECT_EQ(ReadFile(final), "old") << "nothing changes before Commit";
    staged.Commit();
  }
  EXPECT_EQ(ReadFile(final), "new");
  EXPECT_EQ(ReadFile(dir / "img0.png"), "picture") << "companions move along";
  EXPECT_FALSE(HasStagingLeftover(dir.path()));

  {
    StagedOutput abandoned((dir / "other.pdf").string());
    WriteFile(abandoned.stagedPath(), "half");
  }
  EXPECT_FALSE(fs::exists(dir / "other.pdf")) << "an abandoned output never appears";
  EXPECT_FALSE(HasStagingLeftover(dir.path()));

  struct Row {
    const char* name;
    std::function<void()> call;
    std::int32_t expected;
  };
  const Row rows[] = {
      {"missing folder", [&] { StagedOutput((dir / "missing" / "a.pdf").string()); }, failure::kPathNotFound},
      {"name of no file", [&] { StagedOutput((dir.path() / "..").string() + "/"); }, failure::kCannotSave},
      {"nothing written",
       [&] {
         StagedOutput staged((dir / "b.pdf").string());
         staged.Commit();
       },
       failure::kCannotSave},
  };
  for (const Row& row : rows) EXPECT_EQ(Hex(FailureOf(row.call)), Hex(row.expected)) << row.name;
}

// Calls refused before any office is asked: they fail at once and start nothing.
TEST(RendererRules, RefusedCallsStartNoOffice) {
  ScratchFolder dir;
  fs::path deck = dir / "deck.pptx";
  builder::Write(builder::Sample(), deck.string());
  fs::create_directory(dir / "folder.pptx");
  std::string encrypted = (kCorpus / "openxml-sdk/encrypted_pptx.pptx").string();
  RendererLease lease = Renderer::Acquire();
  std::size_t workersBefore = lease.Workers().size();
  struct Row {
    const char* name;
    std::function<void()> call;
    std::int32_t expected;
    std::string named;  // the description names this
  };
  const Row rows[] = {
      {"missing input",
       [&] { lease.ConvertDocument((dir / "none.pptx").string(), (dir / "o.pdf").string(), "impress_pdf_Export"); },
       failure::kFileNotFound, "none.pptx"},
      {"no input", [&] { lease.ConvertDocument("", (dir / "o.pdf").string(), "impress_pdf_Export"); },
       failure::kFileNotFound, "input"},
      {"folder as input",
       [&] { lease.ConvertDocument((dir / "folder.pptx").string(), (dir / "o.pdf").string(), "impress_pdf_Export"); },
       failure::kCannotRead, "folder.pptx"},
      {"encrypted input", [&] { lease.ConvertDocument(encrypted, (dir / "o.pdf").string(), "impress_pdf_Export"); },
       failure::kEncrypted, "encrypted_pptx.pptx"},
      {"missing output folder",
       [&] { lease.ConvertDocument(deck.string(), (dir / "none" / "o.pdf").string(), "impress_pdf_Export"); },
       failure::kPathNotFound, "o.pdf"},
      {"no filter", [&] { lease.ConvertDocument(deck.string(), (dir / "o.pdf").string(), ""); },
       failure::kFormatNotServed, "o.pdf"},
      {"unknown picture filter",
       [&] {
         lease.ExportSlides(deck.string(), {{1, (dir / "s.xyz").string(), "XYZ"}});
       },
       failure::kFormatNotServed, "XYZ"},
      {"picture filter the renderer does not serve",
       [&] {
         lease.ExportSlides(deck.string(), {{1, (dir / "s.svg").string(), "SVG"}});
       },
       failure::kFormatNotServed, "SVG"},
      {"negative picture size",
       [&] {
         lease.ExportSlides(deck.string(), {{1, (dir / "s.png").string(), "PNG", -1, 0}});
       },
       failure::kOutOfRange, "s.png"},
      {"picture too large",
       [&] {
         lease.ExportSlides(deck.string(), {{1, (dir / "s.png").string(), "PNG", kMaxPixelSide + 1, 10}});
       },
       failure::kOutOfRange, "s.png"},
      {"picture into a missing folder",
       [&] {
         lease.ExportSlides(deck.string(), {{1, (dir / "none" / "s.png").string(), "PNG"}});
       },
       failure::kPathNotFound, "s.png"},
  };
  for (const Row& row : rows) {
    std::string description;
    auto started = Clock::now();
    EXPECT_EQ(Hex(FailureOf(row.call, &description)), Hex(row.expected)) << row.name;
    EXPECT_LT(Clock::now() - started, seconds(2)) << row.name;
    EXPECT_NE(description.find(row.named), std::string::npos) << row.name << ": " << description;
  }
  EXPECT_EQ(lease.Workers().size(), workersBefore) << "no office was started for refused calls";
  EXPECT_FALSE(fs::exists(dir / "o.pdf"));
  EXPECT_FALSE(HasStagingLeftover(dir.path()));
}

TEST(RendererRules, OfficeSocketFiles) {
  // The single-instance pipe is named after the MD5 of the profile URL's UTF-16 code units, each
  // byte in hex without leading zeros (the office's own naming).
  struct Row {
    const char* name;
    std::string profileUrl;
    std::string hash;
  };
  const Row rows[] = {
      {"ASCII URL", "file:///tmp/qv-office-1/profile", "3f9d6f636f5dc9b0133a03d6aa0ab1b"},
      {"URL beyond ASCII, with a surrogate pair", "file:///tmp/caf\u00e9/\u20ac\U0001F600",
       "435ba4a7c1e4389f1fbaa55f6eb4c"},
  };
  std::string prefix = "/tmp/OSL_PIPE_" + std::to_string(getuid()) + "_";
  for (const Row& row : rows) {
    std::vector<std::string> expected = {prefix + "quorvane-pipe", prefix + "SingleOfficeIPC_" + row.hash};
    EXPECT_EQ(OfficeSocketFiles("quorvane-pipe", row.profileUrl), expected) << row.name;
  }
}

// --- The UNO plugin ------------------------------------------------------------------------------

// The NEEDED entries and run paths of an ELF file, as readelf reports them ("" when readelf fails).
std::string DynamicSection(const std::string& path) {
  std::string command = "readelf -d '" + path + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return "";
  std::string lines;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    std::string line = buffer;
    if (line.find("(NEEDED)") != std::string::npos || line.find("PATH)") != std::string::npos) lines += line;
  }
  ::pclose(pipe);
  return lines;
}

// The component and the core load without LibreOffice: only the plugin links against UNO.
TEST(RendererPlugin, OnlyThePluginLinksAgainstUno) {
  const fs::path buildFolder = fs::path(QUORVANE_CLI).parent_path();
  struct Row {
    const char* name;
    fs::path file;
    bool uno;  // needs the UNO libraries, with the office's program folder as run path
  };
  const Row rows[] = {
      {"component library", buildFolder / "libquorvane.so", false},
      {"command-line host", QUORVANE_CLI, false},
      {"test program (the core linked statically)", fs::read_symlink("/proc/self/exe"), false},
      {"UNO plugin", buildFolder / kUnoPluginFile, true},
  };
  for (const Row& row : rows) {
    ASSERT_TRUE(fs::exists(row.file)) << row.name << ": " << row.file;
    std::string dynamic = DynamicSection(row.file.string());
    ASSERT_NE(dynamic.find("libc.so"), std::string::npos) << row.name << ": readelf gave no dynamic section";
    for (const char* library : {"libuno_cppu.so", "libuno_sal.so", "libuno_cppuhelpergcc3.so"}) {
      EXPECT_EQ(dynamic.find(library) != std::string::npos, row.uno) << row.name << ", " << library << ":\n" << dynamic;
    }
    EXPECT_EQ(dynamic.find("libreoffice") != std::string::npos, row.uno) << row.name << ", run path:\n" << dynamic;
  }
}

// Restores the normal plugin search when a test ends.
class PluginOverride {
 public:
  explicit PluginOverride(const std::string& path) { detail::ResetUnoPluginForTesting(path); }
  ~PluginOverride() { detail::ResetUnoPluginForTesting(""); }
  PluginOverride(const PluginOverride&) = delete;
  PluginOverride& operator=(const PluginOverride&) = delete;
};

TEST(RendererPlugin, APluginThatCannotBeLoadedFailsClearly) {
  ScratchFolder dir;
  WriteFile(dir / "not-a-library.so", std::string(256, 'x'));
  fs::path deck = dir / "deck.pptx";
  builder::Write(builder::Sample(), deck.string());
  const fs::path component = fs::path(QUORVANE_CLI).parent_path() / "libquorvane.so";
  struct Row {
    const char* name;
    fs::path plugin;
    std::vector<std::string> named;  // the description says these
  };
  const Row rows[] = {
      {"missing plugin", dir / "none" / kUnoPluginFile, {"could not be loaded", "not found", "none/"}},
      {"not a library", dir / "not-a-library.so", {"could not be loaded", "not-a-library.so", "ELF"}},
      {"a library without the factory", component, {kUnoConnectSymbol, "another build"}},
  };
  for (const Row& row : rows) {
    PluginOverride override(row.plugin.string());
    std::string description;
    EXPECT_EQ(Hex(FailureOf([] { OfficeSession::LoadPlugin(); }, &description)), Hex(failure::kOfficeUnavailable))
        << row.name;
    for (const std::string& part : row.named) {
      EXPECT_NE(description.find(part), std::string::npos) << row.name << ": " << description;
    }
    // The same failure reaches a conversion, before any office is started, and Available says it.
    auto ended = [] { return false; };
    EXPECT_EQ(Hex(FailureOf([&] { OfficeSession::Connect("quorvane-none", Clock::now(), ended); })),
              Hex(failure::kOfficeUnavailable))
        << row.name;
    RendererLease lease = Renderer::Acquire();
    std::string converted;
    EXPECT_EQ(Hex(FailureOf([&] { lease.ConvertDocument(deck.string(), (dir / "o.pdf").string(), "impress_pdf_Export"); },
                            &converted)),
              Hex(failure::kOfficeUnavailable))
        << row.name;
    EXPECT_NE(converted.find("plugin"), std::string::npos) << row.name << ": " << converted;
    for (const WorkerStatus& worker : lease.Workers()) EXPECT_EQ(worker.pid, 0) << row.name << ": an office was started";
    EXPECT_FALSE(fs::exists(dir / "o.pdf")) << row.name;
    std::string why;
    EXPECT_FALSE(Renderer::Available(&why)) << row.name;
    EXPECT_FALSE(why.empty()) << row.name;
  }
  // The normal search finds the plugin of this build again.
  PluginOverride normal("");
  EXPECT_EQ(Hex(FailureOf([] { OfficeSession::LoadPlugin(); })), Hex(0));
}

// An office that cannot start: the call fails with what the office said, and nothing is left running.
TEST(RendererStart, AnOfficeThatCannotStartFailsClearly) {
  std::string why;
  if (!Renderer::Available(&why)) GTEST_SKIP() << why;
  ScratchFolder dir;
  fs::path deck = dir / "deck.pptx";
  builder::Write(builder::Sample(), deck.string());
  struct Row {
    const char* name;
    const char* script;  // the fake soffice.bin; nullptr: none at all
    std::int32_t expected;
    std::vector<std::string> named;  // the description names these
  };
  const Row rows[] = {
      {"no program", nullptr, failure::kOfficeUnavailable, {"soffice.bin", "not an executable"}},
      {"exits at once",
       "echo no display for you >&2; exit 3",
       failure::kOfficeUnavailable,
       {"exited with code 3", "no display for you"}},
      {"asks to be started again, twice", "exit 81", failure::kOfficeUnavailable, {"exited with code 81"}},
      {"crashes", "kill -SEGV $$", failure::kOfficeUnavailable, {"signal 11"}},
      {"never answers", "exec sleep 600", failure::kTimeout, {"Starting", "did not finish within 1.5"}},
  };
  for (const Row& row : rows) {
    fs::path program = dir / "program";
    fs::remove_all(program);
    fs::create_directory(program);
    fs::path pidFile = dir / "office.pid";
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
    auto started = Clock::now();
    std::int32_t number = FailureOf(
        [&] { lease.ConvertDocument(deck.string(), (dir / "o.pdf").string(), "impress_pdf_Export"); }, &description);
    EXPECT_EQ(Hex(number), Hex(row.expected)) << row.name << ": " << description;
    EXPECT_LT(Clock::now() - started, seconds(4)) << row.name;
    for (const std::string& part : row.named) {
      EXPECT_NE(description.find(part), std::string::npos) << row.name << ": " << description;
    }
    EXPECT_TRUE(lease.Workers().empty()) << row.name;
    if (fs::exists(pidFile)) {
      pid_t office = std::stoi(ReadFile(pidFile));
      EXPECT_NE(::kill(office, 0), 0) << row.name << ": nothing left running";
    }
  }
  Renderer::Configure(RendererOptions{});
  SetOfficeLimits({});
}

// --- Against real offices ------------------------------------------------------------------------

// Picture sizes read from the files' own headers.
struct PictureSize {
  std::string format;  // "PNG", "GIF", "BMP", "JPG", "TIF", "EMF", "WMF", or "" when unknown
  std::int64_t width = 0;
  std::int64_t height = 0;
};

std::uint32_t Le(const std::string& b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
  return v;
}

std::uint32_t Be(const std::string& b, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
  return v;
}

PictureSize ReadPictureSize(const fs::path& path) {
  std::string b = ReadFile(path);
  if (b.size() >= 24 && b.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0) return {"PNG", Be(b, 16, 4), Be(b, 20, 4)};
  if (b.size() >= 10 && b.compare(0, 4, "GIF8") == 0) return {"GIF", Le(b, 6, 2), Le(b, 8, 2)};
  if (b.size() >= 26 && b.compare(0, 2, "BM") == 0) {
    auto height = static_cast<std::int32_t>(Le(b, 22, 4));
    return {"BMP", static_cast<std::int32_t>(Le(b, 18, 4)), height < 0 ? -height : height};
  }
  if (b.size() >= 4 && static_cast<unsigned char>(b[0]) == 0xFF && static_cast<unsigned char>(b[1]) == 0xD8) {
    for (std::size_t at = 2; at + 9 < b.size();) {
      if (static_cast<unsigned char>(b[at]) != 0xFF) break;
      unsigned marker = static_cast<unsigned char>(b[at + 1]);
      std::size_t length = Be(b, at + 2, 2);
      bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
      if (frame) return {"JPG", Be(b, at + 7, 2), Be(b, at + 5, 2)};
      at += 2 + length;
    }
    return {"JPG", 0, 0};
  }
  if (b.size() >= 8 &&
      (b.compare(0, 4, std::string("II*\0", 4)) == 0 || b.compare(0, 4, std::string("MM\0*", 4)) == 0)) {
    bool little = b[0] == 'I';
    auto get = [&](std::size_t at, int bytes) { return little ? Le(b, at, bytes) : Be(b, at, bytes); };
    std::size_t ifd = get(4, 4);
    PictureSize size{"TIF", 0, 0};
    if (ifd + 2 > b.size()) return size;
    std::size_t count = get(ifd, 2);
    for (std::size_t i = 0; i < count && ifd + 2 + 12 * (i + 1) <= b.size(); ++i) {
      std::size_t at = ifd + 2 + 12 * i;
      std::uint32_t tag = get(at, 2);
      std::uint32_t type = get(at + 2, 2);
      std::uint32_t value = type == 3 ? get(at + 8, 2) : get(at + 8, 4);
      if (tag == 256) size.width = value;
      if (tag == 257) size.height = value;
    }
    return size;
  }
  if (b.size() >= 44 && Le(b, 0, 4) == 1 && b.compare(40, 4, " EMF") == 0) return {"EMF", 0, 0};
  if (b.size() >= 4 && (Le(b, 0, 4) == 0x9AC6CDD7u || ((Le(b, 0, 2) == 1 || Le(b, 0, 2) == 2) && Le(b, 2, 2) == 9))) {
    return {"WMF", 0, 0};
  }
  return {"", 0, 0};
}

// "Pages:" of pdfinfo, or -1 when pdfinfo cannot tell.
int PdfPages(const fs::path& pdf) {
  std::string command = "pdfinfo '" + pdf.string() + "' 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char line[512];
  int pages = -1;
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    if (std::sscanf(line, "Pages: %d", &pages) == 1) break;
  }
  ::pclose(pipe);
  return pages;
}

bool HasPdfInfo() { return std::system("pdfinfo -v >/dev/null 2>&1") == 0; }

// Zip packages: the mimetype an ODF package stores first, or "zip" for any other zip.
std::string Container(const fs::path& file) {
  std::string b = ReadFile(file);
  if (b.compare(0, 4, "PK\x03\x04") == 0) {
    if (b.size() > 38 + 8 && b.compare(30, 8, "mimetype") == 0) {
      std::size_t end = b.find("PK", 38);
      return b.substr(38, end == std::string::npos ? 0 : end - 38);
    }
    return "zip";
  }
  if (b.size() >= 8 && b.compare(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") == 0) return "compound";
  if (b.compare(0, 5, "%PDF-") == 0) return "pdf";
  return b.substr(0, 16);
}

// The tests below share one warm office (the suite holds a lease for its whole run).
class RendererTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string why;
    if (!Renderer::Available(&why)) return;
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

  RendererLease& lease() { return *lease_; }
  static pid_t OnlyWorker(const RendererLease& lease) {
    std::vector<WorkerStatus> workers = lease.Workers();
    return workers.size() == 1 ? workers[0].pid : 0;
  }

  static std::optional<RendererLease> lease_;
  ScratchFolder dir_;
};

std::optional<RendererLease> RendererTest::lease_;

TEST_F(RendererTest, ConvertsTheSampleDeck) {
  fs::path deck = dir_ / "sample deck \xC3\xBC.pptx";  // a space and a non-ASCII letter on the way
  builder::Write(builder::Sample(), deck.string());
  const int slides = static_cast<int>(builder::Sample().slides.size());
  struct Row {
    const char* name;
    std::string filter;
    std::string output;
    FilterOptions options;
    std::string container;  // what the file turns out to be
    int pdfPages;           // > 0: the PDF's page count
  };
  const Row rows[] = {
      {"pdf without hidden slides", "impress_pdf_Export", "deck.pdf", {}, "pdf", slides - 1},
      {"pdf with hidden slides", "impress_pdf_Export", "all.pdf", {"", {{"ExportHiddenSlides", true}}}, "pdf", slides},
      {"ppt", "MS PowerPoint 97", "deck.ppt", {}, "compound", 0},
      {"pot", "MS PowerPoint 97 Vorlage", "deck.pot", {}, "compound", 0},
      {"pps", "MS PowerPoint 97 AutoPlay", "deck.pps", {}, "compound", 0},
      {"odp", "impress8", "deck.odp", {}, "application/vnd.oasis.opendocument.presentation", 0},
      {"pptx", "Impress MS PowerPoint 2007 XML", "deck.pptx", {}, "zip", 0},
  };
  for (const Row& row : rows) {
    fs::path out = dir_ / row.output;
    ASSERT_EQ(Hex(FailureOf([&] { lease().ConvertDocument(deck.string(), out.string(), row.filter, row.options); })),
              Hex(0))
        << row.name;
    EXPECT_EQ(Container(out), row.container) << row.name;
    if (row.pdfPages > 0 && HasPdfInfo()) {
      EXPECT_EQ(PdfPages(out), row.pdfPages) << row.name;
    }
  }
  // Back to PowerPoint 2007 from the legacy formats, with every slide kept.
  for (const char* legacy : {"deck.ppt", "deck.odp"}) {
    fs::path back = dir_ / (std::string(legacy) + ".pptx");
    fs::path pdf = dir_ / (std::string(legacy) + ".pdf");
    lease().ConvertDocument((dir_ / legacy).string(), back.string(), "Impress MS PowerPoint 2007 XML");
    EXPECT_EQ(Container(back), "zip") << legacy;
    lease().ConvertDocument(back.string(), pdf.string(), "impress_pdf_Export", {"", {{"ExportHiddenSlides", true}}});
    if (HasPdfInfo()) {
      EXPECT_EQ(PdfPages(pdf), slides) << legacy << " keeps every slide";
    }
  }
  // HTML (whatever companion files the export writes move along; see StagedOutputAppearsOnlyOnCommit).
  fs::path html = dir_ / "web" / "deck.html";
  fs::create_directory(dir_ / "web");
  lease().ConvertDocument(deck.string(), html.string(), "impress_html_Export");
  std::string page = ReadFile(html);
  EXPECT_NE(page.find("<html"), std::string::npos);
  EXPECT_NE(page.find("Every kind of shape"), std::string::npos) << "the slides' text";
  EXPECT_FALSE(HasStagingLeftover(dir_ / "web"));
  EXPECT_FALSE(HasStagingLeftover(dir_.path()));
  EXPECT_EQ(lease().Workers().size(), 1u) << "one warm office served every conversion";
}

TEST_F(RendererTest, ExportsSlidePictures) {
  builder::DeckPlan fourByThree = builder::Sample();
  fourByThree.slideWidthEmu = 9144000;  // 10 in x 7.5 in
  fourByThree.slideHeightEmu = 6858000;
  fs::path deck43 = dir_ / "four-by-three.pptx";
  builder::Write(fourByThree, deck43.string());
  fs::path deckWide = dir_ / "wide.pptx";
  builder::Write(builder::Sample(), deckWide.string());  // 13.333 in x 7.5 in
  struct Row {
    const char* name;
    SlideExport slide;
    PictureSize expected;
  };
  auto at = [&](const char* file) { return (dir_ / file).string(); };
  const std::vector<Row> rows = {
      {"PNG default", {1, at("s1.png"), "PNG"}, {"PNG", 960, 720}},
      {"GIF default", {2, at("s2.gif"), "GIF"}, {"GIF", 960, 720}},
      {"JPG default", {3, at("s3.jpg"), "JPG"}, {"JPG", 960, 720}},
      {"BMP default", {1, at("s1.bmp"), "BMP"}, {"BMP", 960, 720}},
      {"TIF default", {2, at("s2.tif"), "TIF"}, {"TIF", 960, 720}},
      {"hidden slide", {4, at("s4.png"), "png"}, {"PNG", 960, 720}},
      {"PNG width only", {1, at("w.png"), "PNG", 480, 0}, {"PNG", 480, 360}},
      {"JPG height only", {1, at("h.jpg"), "JPG", 0, 360}, {"JPG", 480, 360}},
      {"BMP both", {1, at("b.bmp"), "BMP", 200, 100}, {"BMP", 200, 100}},
      {"EMF", {1, at("s1.emf"), "EMF"}, {"EMF", 0, 0}},
      {"WMF", {1, at("s1.wmf"), "WMF"}, {"WMF", 0, 0}},
  };
  std::vector<SlideExport> slides;
  for (const Row& row : rows) slides.push_back(row.slide);
  auto started = Clock::now();
  lease().ExportSlides(deck43.string(), slides);
  auto elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - started);
  std::cout << "[ renderer ] " << rows.size() << " pictures in " << elapsed.count() << " ms\n";
  for (const Row& row : rows) {
    PictureSize size = ReadPictureSize(row.slide.path);
    EXPECT_EQ(size.format, row.expected.format) << row.name;
    EXPECT_EQ(size.width, row.expected.width) << row.name;
    EXPECT_EQ(size.height, row.expected.height) << row.name;
  }
  lease().ExportSlides(deckWide.string(), {{1, at("wide.png"), "PNG"}});
  PictureSize wide = ReadPictureSize(at("wide.png"));
  EXPECT_EQ(wide.width, 1280) << "13.333 in at 96 dpi";
  EXPECT_EQ(wide.height, 720);
}

TEST_F(RendererTest, FailuresNameTheFileAndTheCause) {
  fs::path deck = dir_ / "deck.pptx";
  builder::Write(builder::Sample(), deck.string());
  fs::path garbage = dir_ / "garbage.pptx";
  WriteFile(garbage, "this is not a presentation\n");
  fs::path truncated = dir_ / "truncated.pptx";
  std::string bytes = ReadFile(deck);
  WriteFile(truncated, bytes.substr(0, bytes.size() / 2));
  struct Row {
    const char* name;
    std::function<void()> call;
    std::int32_t expected;
    std::string named;
  };
  auto out = [&](const char* file) { return (dir_ / file).string(); };
  const Row rows[] = {
      {"unknown export filter", [&] { lease().ConvertDocument(deck.string(), out("a.xyz"), "No Such Filter"); },
       failure::kFormatNotServed, "No Such Filter"},
      {"import-only filter", [&] { lease().ConvertDocument(deck.string(), out("a.key"), "Apple Keynote"); },
       failure::kFormatNotServed, "Apple Keynote"},
      {"text filter for a presentation", [&] { lease().ConvertDocument(deck.string(), out("a.doc"), "MS Word 97"); },
       failure::kInvalidData, "deck.pptx"},
      {"text read as a presentation",
       [&] { lease().ConvertDocument(garbage.string(), out("b.pdf"), "impress_pdf_Export"); }, failure::kInvalidData,
       "garbage.pptx"},
      {"truncated package", [&] { lease().ConvertDocument(truncated.string(), out("c.pdf"), "impress_pdf_Export"); },
       failure::kInvalidData, "truncated.pptx"},
      {"slide past the end",
       [&] {
         lease().ExportSlides(deck.string(), {{5, out("s5.png"), "PNG"}});
       },
       failure::kBadIndex, "Slide 5"},
      {"slide zero",
       [&] {
         lease().ExportSlides(deck.string(), {{0, out("s0.png"), "PNG"}});
       },
       failure::kBadIndex, "Slide 0"},
      {"one bad picture of several",
       [&] {
         lease().ExportSlides(deck.string(), {{1, out("ok.png"), "PNG"}, {9, out("s9.png"), "PNG"}});
       },
       failure::kBadIndex, "Slide 9"},
  };
  for (const Row& row : rows) {
    std::string description;
    EXPECT_EQ(Hex(FailureOf(row.call, &description)), Hex(row.expected)) << row.name << ": " << description;
    EXPECT_NE(description.find(row.named), std::string::npos) << row.name << ": " << description;
  }
  for (const char* file : {"a.xyz", "a.key", "a.doc", "b.pdf", "c.pdf", "s5.png", "ok.png"}) {
    EXPECT_FALSE(fs::exists(dir_ / file)) << file << ": a failed call writes nothing";
  }
  EXPECT_FALSE(HasStagingLeftover(dir_.path()));
  // The office survived all of it.
  lease().ConvertDocument(deck.string(), out("after.pdf"), "impress_pdf_Export");
  EXPECT_EQ(Container(dir_ / "after.pdf"), "pdf");
}

TEST_F(RendererTest, LegacyCorpusInputsConvertToPowerPoint2007) {
  const char* rows[] = {"poi/SampleShow.ppt", "docling/odf_presentation_01.odp", "poi/PPT95.ppt"};
  for (const char* file : rows) {
    fs::path input = kCorpus / file;
    if (!fs::exists(input)) GTEST_SKIP() << "corpus file missing: " << input;
    fs::path out = dir_ / (fs::path(file).stem().string() + ".pptx");
    std::string description;
    EXPECT_EQ(
        Hex(FailureOf([&] { lease().ConvertDocument(input.string(), out.string(), "Impress MS PowerPoint 2007 XML"); },
                      &description)),
        Hex(0))
        << file << ": " << description;
    EXPECT_EQ(Container(out), "zip") << file;
  }
}

// An OpenDocument presentation whose content.xml the manifest declares encrypted (AES-256, PBKDF2):
// the office asks for a password before it looks at the content, so the content may be noise.
void WritePasswordProtectedOdp(const fs::path& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  {
    pptx::zip::Writer zip(fd);
    zip.Add("mimetype", "application/vnd.oasis.opendocument.presentation");
    zip.Add(
        "META-INF/manifest.xml",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\""
        " manifest:version=\"1.2\">\n"
        " <manifest:file-entry manifest:full-path=\"/\" manifest:version=\"1.2\""
        " manifest:media-type=\"application/vnd.oasis.opendocument.presentation\"/>\n"
        " <manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\""
        " manifest:size=\"100\">\n"
        "  <manifest:encryption-data"
        " manifest:checksum-type=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0#sha256-1k\""
        " manifest:checksum=\"vcA+9aZ6gUCXcnQHcoqpAAnQhqgiPdqQQhqUXzDZoV0=\">\n"
        "   <manifest:algorithm manifest:algorithm-name=\"http://www.w3.org/2001/04/xmlenc#aes256-cbc\""
        " manifest:initialisation-vector=\"2Xo9CpU7VJS98SJUwngEvA==\"/>\n"
        "   <manifest:start-key-generation"
        " manifest:start-key-generation-name=\"http://www.w3.org/2000/09/xmldsig#sha256\" manifest:key-size=\"32\"/>\n"
        "   <manifest:key-derivation manifest:key-derivation-name=\"PBKDF2\" manifest:key-size=\"32\""
        " manifest:iteration-count=\"1000\" manifest:salt=\"Mz/CYzhYV6fqR7oVrI7KNQ==\"/>\n"
        "  </manifest:encryption-data>\n"
        " </manifest:file-entry>\n"
        "</manifest:manifest>\n");
    zip.Add("content.xml", std::string(112, 'x'));
    zip.Finish();
  }
  ::close(fd);
}

// Encrypted inputs fail with kEncrypted, quickly, whether the container gives them away
// (compound files) or only the office finds out (it asks for a password, and is told "abort").
TEST_F(RendererTest, EncryptedInputsFailAtOnce) {
  fs::path odp = dir_ / "protected.odp";
  WritePasswordProtectedOdp(odp);
  const fs::path rows[] = {kCorpus / "openxml-sdk/encrypted_pptx.pptx", kCorpus / "poi/Password_Protected-hello.ppt",
                           odp};
  for (const fs::path& input : rows) {
    if (!fs::exists(input)) GTEST_SKIP() << "corpus file missing: " << input;
    for (bool pictures : {false, true}) {
      std::string description;
      auto started = Clock::now();
      std::int32_t number = FailureOf(
          [&] {
            if (pictures) {
              lease().ExportSlides(input.string(), {{1, (dir_ / "s.png").string(), "PNG"}});
            } else {
              lease().ConvertDocument(input.string(), (dir_ / "out.pdf").string(), "impress_pdf_Export");
            }
          },
          &description);
      EXPECT_EQ(Hex(number), Hex(failure::kEncrypted)) << input << ": " << description;
      EXPECT_LT(Clock::now() - started, seconds(5)) << input;
      EXPECT_NE(description.find(input.filename().string()), std::string::npos) << description;
      EXPECT_NE(description.find("password"), std::string::npos) << description;
    }
  }
  EXPECT_FALSE(fs::exists(dir_ / "out.pdf"));
  EXPECT_FALSE(fs::exists(dir_ / "s.png"));
}

// --- Faults --------------------------------------------------------------------------------------

TEST_F(RendererTest, AnOfficeKilledBetweenConversionsIsReplaced) {
  fs::path deck = dir_ / "deck.pptx";
  builder::Write(builder::Sample(), deck.string());
  lease().ConvertDocument(deck.string(), (dir_ / "1.pdf").string(), "impress_pdf_Export");
  pid_t first = OnlyWorker(lease());
  ASSERT_GT(first, 0);
  ::kill(-first, SIGKILL);
  std::string description;
  EXPECT_EQ(
      Hex(FailureOf([&] { lease().ConvertDocument(deck.string(), (dir_ / "2.pdf").string(), "impress_pdf_Export"); },
                    &description)),
      Hex(0))
      << description;
  EXPECT_EQ(Container(dir_ / "2.pdf"), "pdf");
  pid_t second = OnlyWorker(lease());
  EXPECT_GT(second, 0);
  EXPECT_NE(second, first);
}

TEST_F(RendererTest, AnOfficeKilledDuringAConversionFailsItCleanly) {
  fs::path deck = dir_ / "big.pptx";
  builder::Write(builder::Generated(300), deck.string());
  lease().ExportSlides(deck.string(), {{1, (dir_ / "warm.png").string(), "PNG"}});  // warm, and loadable
  std::int32_t number = -1;
  std::string description;
  std::thread converter([&] {
    number =
        FailureOf([&] { lease().ConvertDocument(deck.string(), (dir_ / "big.pdf").string(), "impress_pdf_Export"); },
                  &description);
  });
  pid_t victim = 0;
  for (auto until = Clock::now() + seconds(20); Clock::now() < until && victim == 0;) {
    for (const WorkerStatus& w : lease().Workers()) {
      if (w.busy) victim = w.pid;
    }
    std::this_thread::sleep_for(milliseconds(5));
  }
  std::this_thread::sleep_for(milliseconds(300));
  if (victim > 0) ::kill(-victim, SIGKILL);
  converter.join();
  ASSERT_GT(victim, 0) << "the conversion never started";
  EXPECT_EQ(Hex(number), Hex(failure::kOfficeUnavailable)) << description;
  EXPECT_NE(description.find("big.pptx"), std::string::npos) << description;
  EXPECT_FALSE(fs::exists(dir_ / "big.pdf"));
  EXPECT_FALSE(HasStagingLeftover(dir_.path()));
  fs::path small = dir_ / "small.pptx";
  builder::Write(builder::Sample(), small.string());
  lease().ConvertDocument(small.string(), (dir_ / "after.pdf").string(), "impress_pdf_Export");
  EXPECT_EQ(Container(dir_ / "after.pdf"), "pdf");
}

// Sets an environment variable for as long as the object lives.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// An office past its deadline or above its memory bound is stopped: the call fails saying which
// bound it met, nothing of the office is left (process, private folder with the temporary files it
// made, sockets), and the next call gets a new office. A large deck gets the time its slides need.
TEST_F(RendererTest, AnOfficeBeyondItsBoundsIsStoppedAndReplaced) {
  // The host's temporary folder while these offices run: what a killed office made there would stay.
  ScratchFolder temporary;
  ScopedVariable tmpdir("TMPDIR", temporary.path().string());
  fs::path deck = dir_ / "deck.pptx";
  builder::Write(builder::Sample(), deck.string());
  fs::path big = dir_ / "big.pptx";
  builder::Write(builder::Generated(300), big.string());
  const std::string sockets = "OSL_PIPE_" + std::to_string(::getuid()) + "_quorvane-" + std::to_string(::getpid());
  struct Row {
    const char* name;
    fs::path input;
    OfficeLimits limits;
    const char* baseSecondsVariable;  // QUORVANE_RENDER_TIMEOUT_SECONDS, or nullptr
    bool hang;                        // the office is stopped (SIGSTOP) before the call
    std::int32_t expected;
    std::string named;  // the description says this
  };
  const Row rows[] = {
      {"hung office, deadline set", deck, {0, seconds(2), milliseconds(1)}, nullptr, true, failure::kTimeout,
       "the office did not finish within 2.0"},
      {"hung office, deadline from the environment", deck, {0, milliseconds(0), milliseconds(1)}, "2", true,
       failure::kTimeout, "the office did not finish within 2.0"},
      {"large deck, small allowance: 0.5 s + 300 x 1 ms", big, {0, milliseconds(500), milliseconds(1)}, nullptr, false,
       failure::kTimeout, "the office did not finish within 0.8 s and was stopped"},
      {"memory bound", deck, {1 << 20, milliseconds(0), milliseconds(0)}, nullptr, false, failure::kOutOfMemory,
       "the office used more than 1 MiB of memory and was stopped"},
      {"large deck, its allowance: 0.5 s + 300 x 200 ms", big, {0, milliseconds(500), milliseconds(200)}, nullptr,
       false, 0, ""},
  };
  for (const Row& row : rows) {
    lease().ConvertDocument(deck.string(), (dir_ / "warm.pdf").string(), "impress_pdf_Export");
    pid_t first = OnlyWorker(lease());
    ASSERT_GT(first, 0) << row.name;
    std::optional<ScopedVariable> variable;
    if (row.baseSecondsVariable != nullptr) {
      variable.emplace(office_limits::kBaseDeadlineVariable, row.baseSecondsVariable);
    }
    SetOfficeLimits(row.limits);
    if (row.hang) ::kill(first, SIGSTOP);
    fs::path out = dir_ / "out.pdf";
    std::string description;
    std::int32_t number = FailureOf(
        [&] { lease().ConvertDocument(row.input.string(), out.string(), "impress_pdf_Export"); }, &description);
    SetOfficeLimits({});
    variable.reset();
    EXPECT_EQ(Hex(number), Hex(row.expected)) << row.name << ": " << description;
    EXPECT_NE(description.find(row.named), std::string::npos) << row.name << ": " << description;
    if (row.expected == 0) {
      EXPECT_EQ(Container(out), "pdf") << row.name;
      continue;
    }
    EXPECT_NE(description.find(row.input.filename().string()), std::string::npos) << row.name << ": " << description;
    EXPECT_FALSE(fs::exists(out)) << row.name;
    EXPECT_NE(::kill(first, 0), 0) << row.name << ": the office was ended";
    EXPECT_TRUE(lease().Workers().empty()) << row.name;
    for (const auto& entry : fs::directory_iterator(temporary.path())) {
      ADD_FAILURE() << row.name << ": left in the temporary folder: " << entry.path().filename();
    }
    // The office's temporary folder is "lu<its pid>...tmp"; the sockets name this process.
    const std::string officeTemporary = "lu" + std::to_string(first);
    for (const auto& entry : fs::directory_iterator("/tmp")) {
      std::string name = entry.path().filename().string();
      if (name.starts_with(sockets) || name.starts_with(officeTemporary)) {
        ADD_FAILURE() << row.name << ": left " << entry.path();
      }
    }
    lease().ConvertDocument(deck.string(), (dir_ / "after.pdf").string(), "impress_pdf_Export");
    EXPECT_EQ(Container(dir_ / "after.pdf"), "pdf") << row.name;
    EXPECT_NE(OnlyWorker(lease()), first) << row.name << ": a new office";
  }
  // The last office's folder is in `temporary`, which goes with this test: the next test gets a new one.
  for (const WorkerStatus& worker : lease().Workers()) ::kill(-worker.pid, SIGKILL);
}

TEST_F(RendererTest, ThePoolGrowsForConcurrentClientsUpToItsMaximum) {
  fs::path deck = dir_ / "deck.pptx";
  builder::Write(builder::Generated(40), deck.string());
  for (std::size_t maximum : {std::size_t{1}, std::size_t{2}}) {
    RendererOptions options;
    options.maxWorkers = maximum;
    Renderer::Configure(options);
    std::vector<std::int32_t> results(3, -1);
    std::vector<std::thread> clients;
    for (std::size_t i = 0; i < results.size(); ++i) {
      clients.emplace_back([&, i] {
        results[i] = FailureOf([&] {
          lease().ConvertDocument(deck.string(), (dir_ / ("c" + std::to_string(i) + ".pdf")).string(),
                                  "impress_pdf_Export");
        });
      });
    }
    for (std::thread& client : clients) client.join();
    for (std::size_t i = 0; i < results.size(); ++i) {
      EXPECT_EQ(Hex(results[i]), Hex(0)) << "client " << i << ", maximum " << maximum;
    }
    EXPECT_EQ(lease().Workers().size(), maximum) << "maximum " << maximum;
  }
}

TEST_F(RendererTest, AnOfficeIsRecycledAfterItsShareOfConversions) {
  fs::path deck = dir_ / "deck.pptx";
  builder::Write(builder::Sample(), deck.string());
  auto convert = [&] { lease().ConvertDocument(deck.string(), (dir_ / "r.pdf").string(), "impress_pdf_Export"); };
  RendererOptions options;
  options.maxWorkers = 1;
  options.recycleAfter = 1;
  Renderer::Configure(options);
  for (int i = 0; i < 3 && !lease().Workers().empty(); ++i) convert();
  ASSERT_TRUE(lease().Workers().empty()) << "every office there was has done its share";

  options.recycleAfter = 2;
  Renderer::Configure(options);
  convert();
  std::vector<WorkerStatus> workers = lease().Workers();
  ASSERT_EQ(workers.size(), 1u);
  EXPECT_EQ(workers[0].conversions, 1);
  pid_t first = workers[0].pid;
  convert();
  EXPECT_TRUE(lease().Workers().empty()) << "retired right after its second conversion";
  EXPECT_NE(::kill(first, 0), 0) << "and ended";
  convert();
  workers = lease().Workers();
  ASSERT_EQ(workers.size(), 1u);
  EXPECT_NE(workers[0].pid, first);
  EXPECT_EQ(workers[0].conversions, 1);

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
  ScratchFolder dir;
  ScratchFolder scratch;
  RendererOptions options;
  options.scratchDirectory = scratch.path().string();
  Renderer::Configure(options);
  fs::path deck = dir / "deck.pptx";
  builder::Write(builder::Sample(), deck.string());

  std::optional<RendererLease> application(Renderer::Acquire());
  std::optional<RendererLease> other(Renderer::Acquire());
  application->ConvertDocument(deck.string(), (dir / "a.pdf").string(), "impress_pdf_Export");
  std::vector<WorkerStatus> workers = other->Workers();
  ASSERT_EQ(workers.size(), 1u) << "both leases share one pool";
  pid_t office = workers[0].pid;
  EXPECT_FALSE(fs::is_empty(scratch.path())) << "the office's profile folder";

  application.reset();
  EXPECT_EQ(::kill(office, 0), 0) << "still held by the other lease";
  other->ConvertDocument(deck.string(), (dir / "b.pdf").string(), "impress_pdf_Export");
  EXPECT_EQ(other->Workers().at(0).pid, office) << "kept warm";

  other.reset();
  EXPECT_NE(::kill(office, 0), 0) << "ended with the last lease";
  EXPECT_TRUE(fs::is_empty(scratch.path())) << "profile folder removed";

  // A lease per conversion (the applications are not kept) starts a fresh office each time.
  pid_t previous = office;
  for (int i = 0; i < 2; ++i) {
    RendererLease once = Renderer::Acquire();
    once.ConvertDocument(deck.string(), (dir / "c.pdf").string(), "impress_pdf_Export");
    pid_t now = once.Workers().at(0).pid;
    EXPECT_NE(now, previous);
    previous = now;
  }
  EXPECT_NE(::kill(previous, 0), 0);
  Renderer::Configure(RendererOptions{});
}

}  // namespace
}  // namespace quorvane::engines::libreoffice

#endif  // QUORVANE_ENGINE_LIBREOFFICE
