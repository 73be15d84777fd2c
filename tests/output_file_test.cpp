// How outputs are written, whatever writes them: the target kinds through the common writer (new
// and replaced files, links, streams, protected files, name lengths, a failing fill, a full disk),
// then the same rules through conversions of the native engine and, where it is installed, the
// office renderer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/output_file.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/package.hpp"
#include "engines/render_bridge.hpp"
#include "quorvane/control.hpp"
#include "support/fixtures.hpp"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
namespace builder = engines::pptx::builder;
using output::Cause;
using testing::ImmutableFile;

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Put(const fs::path& path, const std::string& bytes, fs::perms mode = fs::perms(0644)) {
  std::ofstream(path, std::ios::binary) << bytes;
  fs::permissions(path, mode);
}

fs::perms ModeOf(const fs::path& path) { return fs::status(path).permissions() & fs::perms::mask; }

// Temporary files of a writer left in `folder`.
std::vector<std::string> Leftovers(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().starts_with(".quorvane-")) names.push_back(entry.path().filename());
  return names;
}

class ScratchFolder {
 public:
  ScratchFolder() {
    path_ = fs::temp_directory_path() / ("qv-output-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The cause of the OutputError `call` throws, or none.
std::optional<Cause> Refusal(const std::function<void()>& call, std::string* message = nullptr) {
  try {
    call();
  } catch (const output::OutputError& error) {
    if (message) *message = error.what();
    return error.cause();
  }
  return std::nullopt;
}

// Reads a FIFO until its writer closes it. The read side is open when this returns, so that a
// writer finds its reader; poll waits for the first writer (a FIFO nobody has written to yet reports
// no hang-up), and a minute without anything ends the read.
std::future<std::string> ReadFifo(const fs::path& fifo) {
  const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  return std::async(std::launch::async, [fd] {
    std::string received;
    std::vector<char> buffer(1 << 16);
    for (;;) {
      pollfd wait{fd, POLLIN, 0};
      if (::poll(&wait, 1, 60000) <= 0) break;
      const ssize_t n = ::read(fd, buffer.data(), buffer.size());
      if (n > 0) {
        received.append(buffer.data(), static_cast<std::size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        break;
      }
    }
    ::close(fd);
    return received;
  });
}

TEST(OutputFile, EveryKindOfTarget) {
  ScratchFolder scratch;
  const fs::path dir = scratch.path();
  const std::string content = "new content";
  const auto noReaderFails = [&](const std::string& path) {
    const auto start = std::chrono::steady_clock::now();
    const auto cause = Refusal([&] { output::WriteFile(path, content); });
    return cause == Cause::kNoReader && std::chrono::steady_clock::now() - start < std::chrono::seconds(2);
  };
  struct Row {
    const char* name;
    // Makes what the row needs and returns the name to write.
    std::function<std::string()> arrange;
    std::optional<Cause> refused;
    // What must hold afterwards; false fails the row.
    std::function<bool()> holds;
  };
  const Row rows[] = {
      {"new file", [&] { return (dir / "new.bin").string(); }, std::nullopt,
       [&] { return ReadBytes(dir / "new.bin") == content; }},
      {"existing file keeps its mode",
       [&] {
         Put(dir / "old.bin", "old", fs::perms(0640));
         return (dir / "old.bin").string();
       },
       std::nullopt,
       [&] { return ReadBytes(dir / "old.bin") == content && ModeOf(dir / "old.bin") == fs::perms(0640); }},
      {"links to a file: the link stays, the file is replaced",
       [&] {
         fs::create_directory(dir / "elsewhere");
         Put(dir / "elsewhere" / "victim", "old", fs::perms(0600));
         fs::create_symlink("elsewhere/victim", dir / "inner");
         fs::create_symlink(dir / "inner", dir / "link.bin");
         return (dir / "link.bin").string();
       },
       std::nullopt,
       [&] {
         return fs::is_symlink(dir / "link.bin") && fs::is_symlink(dir / "inner") &&
                ReadBytes(dir / "elsewhere" / "victim") == content &&
                ModeOf(dir / "elsewhere" / "victim") == fs::perms(0600) && Leftovers(dir / "elsewhere").empty();
       }},
      {"dangling link: nothing created",
       [&] {
         fs::create_symlink(dir / "nowhere", dir / "dangling.bin");
         return (dir / "dangling.bin").string();
       },
       Cause::kDanglingLink, [&] { return fs::is_symlink(dir / "dangling.bin") && !fs::exists(dir / "nowhere"); }},
      {"link to a folder",
       [&] {
         fs::create_directory(dir / "folder");
         fs::create_symlink(dir / "folder", dir / "to-folder");
         return (dir / "to-folder").string();
       },
       Cause::kLinkToFolder, [&] { return fs::is_symlink(dir / "to-folder") && fs::is_empty(dir / "folder"); }},
      {"a folder", [&] { return (dir / "folder").string(); }, Cause::kIsFolder,
       [&] { return fs::is_directory(dir / "folder"); }},
      {"missing folder", [&] { return (dir / "missing" / "a.bin").string(); }, Cause::kFolderMissing,
       [&] { return !fs::exists(dir / "missing"); }},
      {"mode 0444, also for root",
       [&] {
         Put(dir / "locked.bin", "keep", fs::perms(0444));
         return (dir / "locked.bin").string();
       },
       Cause::kReadOnly, [&] { return ReadBytes(dir / "locked.bin") == "keep"; }},
      {"/dev/null is written through", [] { return std::string("/dev/null"); }, std::nullopt,
       [] { return fs::is_character_file("/dev/null"); }},
      {"FIFO without a reader fails at once",
       [&] {
         ::mkfifo((dir / "lonely").c_str(), 0600);
         return (dir / "lonely").string();
       },
       Cause::kNoReader, [&] { return fs::is_fifo(dir / "lonely") && noReaderFails((dir / "lonely").string()); }},
      {"255-byte name", [&] { return (dir / std::string(255, 'n')).string(); }, std::nullopt,
       [&] { return ReadBytes(dir / std::string(255, 'n')) == content; }},
      {"256-byte name", [&] { return (dir / std::string(256, 'n')).string(); }, Cause::kNameTooLong,
       [] { return true; }},
  };
  for (const Row& row : rows) {
    const std::string path = row.arrange();
    std::string message;
    EXPECT_EQ(Refusal([&] { output::WriteFile(path, content); }, &message), row.refused) << row.name << ": " << message;
    if (row.refused) {
      EXPECT_TRUE(message.starts_with("Cannot save \"" + path + "\": ")) << row.name << ": " << message;
    }
    EXPECT_TRUE(row.holds()) << row.name;
    EXPECT_EQ(Leftovers(dir), std::vector<std::string>{}) << row.name;
  }

  std::string message;
  Refusal([&] { output::WriteFile((dir / std::string(256, 'n')).string(), content); }, &message);
  EXPECT_NE(message.find("longer than the 255 bytes the file system allows"), std::string::npos) << message;

  // A FIFO with a reader gets the content, and stays a FIFO.
  ::mkfifo((dir / "pipe").c_str(), 0600);
  auto received = ReadFifo(dir / "pipe");
  output::WriteFile((dir / "pipe").string(), content);
  EXPECT_EQ(received.get(), content);
  EXPECT_TRUE(fs::is_fifo(dir / "pipe"));

  // A fill that fails: the old file stays byte for byte, and no temporary file remains.
  Put(dir / "kept.bin", "precious");
  EXPECT_THROW(output::WriteFile((dir / "kept.bin").string(),
                                 [](int fd) {
                                   output::WriteAll(fd, "half", "kept.bin");
                                   throw std::runtime_error("fill failed");
                                 }),
               std::runtime_error);
  EXPECT_EQ(ReadBytes(dir / "kept.bin"), "precious");
  EXPECT_EQ(Leftovers(dir), std::vector<std::string>{});

  // An immutable file is refused as a read-only one is.
  ImmutableFile immutable(dir / "kept.bin");
  if (immutable.ok()) {
    EXPECT_EQ(Refusal([&] { output::WriteFile((dir / "kept.bin").string(), content); }), Cause::kReadOnly);
    EXPECT_EQ(ReadBytes(dir / "kept.bin"), "precious");
  }
}

// The writer's in-place open (the text writer's) and the moving of a finished file follow the same
// target rules.
TEST(OutputFile, OpenInPlaceAndPutInPlaceFollowTheSameRules) {
  ScratchFolder scratch;
  const fs::path dir = scratch.path();
  Put(dir / "victim", "old");
  fs::create_symlink(dir / "victim", dir / "link");
  const int fd = output::OpenInPlace((dir / "link").string(), false);
  output::WriteAll(fd, "in place", "link");
  ::close(fd);
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(ReadBytes(dir / "victim"), "in place");

  fs::create_symlink(dir / "nowhere", dir / "dangling");
  Put(dir / "locked", "keep", fs::perms(0444));
  EXPECT_EQ(Refusal([&] { output::OpenInPlace((dir / "dangling").string(), false); }), Cause::kDanglingLink);
  EXPECT_EQ(Refusal([&] { output::OpenInPlace((dir / "locked").string(), false); }), Cause::kReadOnly);
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  EXPECT_EQ(ReadBytes(dir / "locked"), "keep");

  Put(dir / "finished", "picture");
  output::PutInPlace((dir / "finished").string(), (dir / "link").string());
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(ReadBytes(dir / "victim"), "picture");
  Put(dir / "finished", "picture");
  EXPECT_EQ(Refusal([&] { output::PutInPlace((dir / "finished").string(), (dir / "locked").string()); }),
            Cause::kReadOnly);
  EXPECT_EQ(ReadBytes(dir / "locked"), "keep");
}

// A file system of 256 KiB mounted for one test (where the test may mount), filled on request.
class SmallDisk {
 public:
  explicit SmallDisk(fs::path path) : path_(std::move(path)) {
    fs::create_directories(path_);
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=256k") == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount(path_.c_str());
  }
  bool mounted() const { return mounted_; }
  const fs::path& path() const { return path_; }
  // Takes every free byte.
  void Fill() {
    std::ofstream filler(path_ / "filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) filler.flush();
  }
  void Empty() { fs::remove(path_ / "filler"); }

 private:
  fs::path path_;
  bool mounted_ = false;
};

TEST(OutputFile, AFullDiskLeavesTheOldFile) {
  ScratchFolder scratch;
  SmallDisk disk(scratch.path() / "disk");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  Put(disk.path() / "out.bin", "precious");
  EXPECT_EQ(Refusal([&] { output::WriteFile((disk.path() / "out.bin").string(), std::string(1 << 20, 'x')); }),
            Cause::kDiskFull);
  EXPECT_EQ(ReadBytes(disk.path() / "out.bin"), "precious");
  EXPECT_EQ(Leftovers(disk.path()), std::vector<std::string>{});
}

// --- Through conversions -------------------------------------------------------------------------

class OutputsOfConversions : public ::testing::Test {
 protected:
  void SetUp() override {
    good_ = dir() / "deck.pptx";
    builder::DeckPlan plan;
    for (const char16_t* title : {u"One", u"Two"}) {
      builder::SlidePlan slide;
      slide.shapes.push_back(builder::Title(title));
      plan.slides.push_back(slide);
    }
    builder::Write(plan, good_.string());
    // A deck whose first slide cannot be read: every conversion that reads it fails.
    failing_ = dir() / "failing.pptx";
    const auto package = builder::Build(plan);
    package->SetPart("/ppt/slides/slide1.xml", "<!DOCTYPE x><x/>", {});
    package->Save(failing_.string());
  }

  const fs::path& dir() const { return scratch_.path(); }
  std::int32_t Convert(const fs::path& input, const fs::path& output, std::int32_t code,
                       testing::ConvertOptions o = {}) {
    return testing::ConvertWith(control_, input, output, code, o);
  }

  ScratchFolder scratch_;
  fs::path good_, failing_;
  QuorvaneX control_;
};

TEST_F(OutputsOfConversions, AFailedConversionKeepsTheOldOutput) {
  SmallDisk disk(dir() / "disk");
  struct Row {
    const char* name;
    std::int32_t code;
    testing::ConvertOptions options;
    bool onFullDisk;  // else the deck with an unreadable slide
  };
  const Row rows[] = {
      {"text 200, unreadable slide", 200, {}, false},
      {"text 107, unreadable slide", 107, {}, false},
      {"text 200 per slide, unreadable slide", 200, {.multi = true}, false},
      {"text 107, full disk", 107, {}, true},
      {"save as .pptx, full disk", 24, {}, true},
  };
  for (const Row& row : rows) {
    if (row.onFullDisk && !disk.mounted()) {
      std::cout << "[ SKIPPED  ] " << row.name << ": cannot mount a small file system here\n";
      continue;
    }
    const fs::path folder = row.onFullDisk ? disk.path() : dir();
    Put(folder / "out.txt", "PRECIOUS");
    Put(folder / "out.txtSlide1.txt", "PRECIOUS");
    if (row.onFullDisk) disk.Fill();
    EXPECT_NE(Convert(row.onFullDisk ? good_ : failing_, folder / "out.txt", row.code, row.options), 0) << row.name;
    EXPECT_TRUE(ReadBytes(folder / "out.txt") == "PRECIOUS") << row.name;
    EXPECT_TRUE(ReadBytes(folder / "out.txtSlide1.txt") == "PRECIOUS") << row.name;
    EXPECT_EQ(Leftovers(folder), std::vector<std::string>{}) << row.name;
    if (row.onFullDisk) disk.Empty();
  }
}

TEST_F(OutputsOfConversions, ProtectedFilesAndLinks) {
  struct Row {
    const char* name;
    std::int32_t code;
  };
  const Row rows[] = {{"text 200", 200}, {"text 107", 107}, {"save as .pptx", 24}};
  for (const Row& row : rows) {
    // Read-only: refused, also for root; the text export says -18.
    Put(dir() / "locked", "keep", fs::perms(0444));
    const std::int32_t refused = Convert(good_, dir() / "locked", row.code);
    EXPECT_NE(refused, 0) << row.name;
    if (row.code != 24) {
      EXPECT_EQ(refused, -18) << row.name;
    }
    EXPECT_EQ(ReadBytes(dir() / "locked"), "keep") << row.name;

    // A link: kept, the file it points to written.
    fs::remove(dir() / "link");
    Put(dir() / "victim", "old", fs::perms(0640));
    fs::create_symlink(dir() / "victim", dir() / "link");
    EXPECT_EQ(Convert(good_, dir() / "link", row.code), 0) << row.name;
    EXPECT_TRUE(fs::is_symlink(dir() / "link")) << row.name;
    EXPECT_NE(ReadBytes(dir() / "victim"), "old") << row.name;
    EXPECT_EQ(ModeOf(dir() / "victim"), fs::perms(0640)) << row.name;

    // A dangling link: refused, nothing created.
    fs::remove(dir() / "link");
    fs::create_symlink(dir() / "nowhere", dir() / "link");
    EXPECT_NE(Convert(good_, dir() / "link", row.code), 0) << row.name;
    EXPECT_FALSE(fs::exists(dir() / "nowhere")) << row.name;
    EXPECT_EQ(Leftovers(dir()), std::vector<std::string>{}) << row.name;
  }
}

// Through the office renderer: PDF to a link and to a FIFO, and a legacy file under the longest
// name the file system allows.
TEST_F(OutputsOfConversions, RenderedOutputs) {
  if (!engines::render_bridge::RendererBuiltIn() || ::access("/usr/bin/soffice", X_OK) != 0)
    GTEST_SKIP() << "no renderer: the component is built without it or soffice is not installed";
  constexpr std::int32_t kPdf = 32;
  Put(dir() / "victim.pdf", "old");
  fs::create_symlink(dir() / "victim.pdf", dir() / "link.pdf");
  ASSERT_EQ(Convert(good_, dir() / "link.pdf", kPdf), 0);
  EXPECT_TRUE(fs::is_symlink(dir() / "link.pdf"));
  EXPECT_TRUE(ReadBytes(dir() / "victim.pdf").starts_with("%PDF"));

  ::mkfifo((dir() / "pipe.pdf").c_str(), 0600);
  auto received = ReadFifo(dir() / "pipe.pdf");
  EXPECT_EQ(Convert(good_, dir() / "pipe.pdf", kPdf), 0);
  EXPECT_TRUE(received.get().starts_with("%PDF"));
  EXPECT_TRUE(fs::is_fifo(dir() / "pipe.pdf"));

  // Refused before the office works: a pipe nobody reads, a dangling link.
  ::mkfifo((dir() / "lonely.pdf").c_str(), 0600);
  fs::create_symlink(dir() / "nowhere.pdf", dir() / "dangling.pdf");
  for (const char* refused : {"lonely.pdf", "dangling.pdf"}) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_NE(Convert(good_, dir() / refused, kPdf), 0) << refused;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2)) << refused;
  }
  EXPECT_FALSE(fs::exists(dir() / "nowhere.pdf"));

  const fs::path longest = dir() / (std::string(251, 'n') + ".ppt");
  EXPECT_EQ(Convert(good_, longest, 1), 0);
  EXPECT_GT(fs::file_size(longest), 0u);
  EXPECT_EQ(Leftovers(dir()), std::vector<std::string>{});
}

}  // namespace
}  // namespace quorvane
