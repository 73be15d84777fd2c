// How outputs are written, whatever writes them: the target kinds through the common writer (new and
// replaced files, links, FIFOs, devices, protected files, name lengths, a failing fill, a full disk), then
// the same rules through conversions of the native engine and, where it is installed, the office renderer.
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <future>
#include <optional>

#include "common/output_file.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/package.hpp"
#include "engines/shared/render_bridge.hpp"
#include "support/fixtures.hpp"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
namespace builder = engines::pptx::builder;
using output::Cause;
using testing::ReadFile;
using Names = std::vector<std::string>;

void Put(const fs::path& path, const std::string& bytes, fs::perms mode = fs::perms(0644)) {
  testing::WriteFile(path, bytes);
  fs::permissions(path, mode);
}

fs::perms ModeOf(const fs::path& path) { return fs::status(path).permissions() & fs::perms::mask; }

// Temporary files of a writer left in `folder`.
Names Leftovers(const fs::path& folder) {
  Names names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().starts_with(".quorvane-")) names.push_back(entry.path().filename());
  return names;
}

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

// Reads a FIFO until its writer closes it. The read side is open when this returns, so that a writer finds
// its reader; poll waits for the first writer, and a minute without anything ends the read.
std::future<std::string> ReadFifo(const fs::path& fifo) {
  const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  return std::async(std::launch::async, [fd] {
    std::string received;
    std::vector<char> buffer(1 << 16);
    for (pollfd wait{fd, POLLIN, 0}; ::poll(&wait, 1, 60000) > 0;) {
      const ssize_t n = ::read(fd, buffer.data(), buffer.size());
      if (n > 0) received.append(buffer.data(), static_cast<std::size_t>(n));
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
    }
    ::close(fd);
    return received;
  });
}

// Runs `call`, which must not wait for a reader of `target`: should it still run after a minute (far
// above its normal time), the target gets a reader that frees it, and the test fails.
template <typename Call>
auto WithoutWaiting(const fs::path& target, Call call) {
  auto done = std::async(std::launch::async, std::move(call));
  if (done.wait_for(std::chrono::minutes(1)) == std::future_status::ready) return done.get();
  ADD_FAILURE() << target << ": still waiting for a reader after a minute";
  auto drained = ReadFifo(target);
  return done.get();
}

TEST(OutputFile, EveryKindOfTarget) {
  testing::TempFolder scratch;
  const fs::path dir = scratch.path();
  const std::string content = "new content", longest(255, 'n'), tooLong(256, 'n');
  const auto is = [&](const fs::path& path, const std::string& bytes) { return ReadFile(dir / path) == bytes; };
  Put(dir / "old.bin", "old", fs::perms(0640));
  Put(dir / "locked.bin", "keep", fs::perms(0444));
  fs::create_directories(dir / "elsewhere");
  fs::create_directories(dir / "folder");
  Put(dir / "elsewhere" / "victim", "old", fs::perms(0600));
  const std::pair<fs::path, const char*> links[] = {{"elsewhere/victim", "inner"}, {dir / "inner", "link.bin"},
                                                    {dir / "nowhere", "dangling.bin"}, {dir / "folder", "to"}};
  for (const auto& [target, name] : links) fs::create_symlink(target, dir / name);
  for (const char* fifo : {"lonely", "pipe"}) ::mkfifo((dir / fifo).c_str(), 0600);
  auto received = ReadFifo(dir / "pipe");
  const struct { const char* name; fs::path target; std::optional<Cause> refused; std::function<bool()> holds; }
  rows[] = {
      {"new file", "new.bin", {}, [&] { return is("new.bin", content); }},
      {"existing file keeps its mode", "old.bin", {},
       [&] { return is("old.bin", content) && ModeOf(dir / "old.bin") == fs::perms(0640); }},
      {"links to a file: the links stay, the file is replaced", "link.bin", {},
       [&] {
         return fs::is_symlink(dir / "link.bin") && fs::is_symlink(dir / "inner") && is("elsewhere/victim", content) &&
                ModeOf(dir / "elsewhere" / "victim") == fs::perms(0600) && Leftovers(dir / "elsewhere").empty();
       }},
      {"dangling link: nothing created", "dangling.bin", Cause::kDanglingLink,
       [&] { return fs::is_symlink(dir / "dangling.bin") && !fs::exists(dir / "nowhere"); }},
      {"link to a folder", "to", Cause::kLinkToFolder,
       [&] { return fs::is_symlink(dir / "to") && fs::is_empty(dir / "folder"); }},
      {"a folder", "folder", Cause::kIsFolder, [&] { return fs::is_directory(dir / "folder"); }},
      {"missing folder", "missing/a.bin", Cause::kFolderMissing, [&] { return !fs::exists(dir / "missing"); }},
      {"mode 0444, also for root", "locked.bin", Cause::kReadOnly, [&] { return is("locked.bin", "keep"); }},
      {"/dev/null is written through", "/dev/null", {}, [] { return fs::is_character_file("/dev/null"); }},
      {"FIFO without a reader fails at once", "lonely", Cause::kNoReader, [&] { return fs::is_fifo(dir / "lonely"); }},
      {"FIFO with a reader", "pipe", {}, [&] { return received.get() == content && fs::is_fifo(dir / "pipe"); }},
      {"255-byte name", longest, {}, [&] { return is(longest, content); }},
      {"256-byte name", tooLong, Cause::kNameTooLong, [] { return true; }}};
  for (const auto& row : rows) {
    const std::string path = (dir / row.target).string();
    std::string message;
    const auto write = [&] { return Refusal([&] { output::WriteFile(path, content); }, &message); };
    const auto refused = WithoutWaiting(path, write);
    EXPECT_EQ(refused, row.refused) << row.name << ": " << message;
    EXPECT_TRUE(!row.refused || message.starts_with("Cannot save \"" + path + "\": ")) << row.name << ": " << message;
    EXPECT_TRUE(row.holds()) << row.name;
    EXPECT_EQ(Leftovers(dir), Names{}) << row.name;
  }
  std::string message;
  Refusal([&] { output::WriteFile((dir / tooLong).string(), content); }, &message);
  EXPECT_NE(message.find("longer than the 255 bytes the file system allows"), std::string::npos) << message;

  // A fill that fails: the old file stays byte for byte, and no temporary file remains.
  Put(dir / "kept.bin", "precious");
  const auto failingFill = [](int fd) {
    output::WriteAll(fd, "half", "kept.bin");
    throw std::runtime_error("fill failed");
  };
  EXPECT_THROW(output::WriteFile((dir / "kept.bin").string(), failingFill), std::runtime_error);
  EXPECT_EQ(ReadFile(dir / "kept.bin"), "precious");
  EXPECT_EQ(Leftovers(dir), Names{});
  // An immutable file is refused as a read-only one is.
  if (testing::ImmutableFile immutable(dir / "kept.bin"); immutable.ok()) {
    EXPECT_EQ(Refusal([&] { output::WriteFile((dir / "kept.bin").string(), content); }), Cause::kReadOnly);
    EXPECT_EQ(ReadFile(dir / "kept.bin"), "precious");
  }

  // The moving of a finished file follows the same rules (the in-place open is the text writer's, tested
  // there): through the links to the file, not to a read-only one.
  for (const char* target : {"link.bin", "locked.bin"}) {
    Put(dir / "finished", "picture");
    const auto refused = Refusal([&] { output::PutInPlace((dir / "finished").string(), (dir / target).string()); });
    EXPECT_EQ(refused, target == std::string("link.bin") ? std::nullopt : std::optional(Cause::kReadOnly)) << target;
  }
  EXPECT_TRUE(fs::is_symlink(dir / "link.bin") && is("elsewhere/victim", "picture") && is("locked.bin", "keep"));
}

// A file system of 256 KiB mounted for one test (where the test may mount), filled on request.
struct SmallDisk {
  explicit SmallDisk(fs::path at) : path(std::move(at)) {
    fs::create_directories(path);
    mounted = ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=256k") == 0;
  }
  ~SmallDisk() {
    if (mounted) ::umount(path.c_str());
  }
  void Fill() {  // takes every free byte
    std::ofstream filler(path / "filler", std::ios::binary);
    for (const std::string block(4096, 'f'); filler.write(block.data(), std::streamsize(block.size()));) filler.flush();
  }
  fs::path path;
  bool mounted;
};

// --- Through conversions -----------------------------------------------------------------------------

class OutputsOfConversions : public ::testing::Test {
 protected:
  void SetUp() override {
    builder::DeckPlan plan;
    for (const char16_t* title : {u"One", u"Two"}) plan.slides.emplace_back().shapes.push_back(builder::Title(title));
    builder::Write(plan, good_.string());
    // A deck whose first slide cannot be read: every conversion that reads it fails.
    const auto package = builder::Build(plan);
    package->SetPart("/ppt/slides/slide1.xml", "<!DOCTYPE x><x/>", {});
    package->Save(failing_.string());
  }
  std::int32_t Convert(const fs::path& input, const fs::path& output, std::int32_t code, testing::ConvertOptions o = {}) {
    return testing::ConvertWith(control_, input, output, code, o);
  }
  testing::TempFolder dir_;
  fs::path good_ = dir_ / "deck.pptx", failing_ = dir_ / "failing.pptx";
  QuorvaneX control_;
};

TEST_F(OutputsOfConversions, AFailedConversionKeepsTheOldOutput) {
  SmallDisk disk(dir_ / "disk");
  if (disk.mounted) {  // the common writer on a full disk
    Put(disk.path / "out.bin", "precious");
    EXPECT_EQ(Refusal([&] { output::WriteFile((disk.path / "out.bin").string(), std::string(1 << 20, 'x')); }),
              Cause::kDiskFull);
    EXPECT_EQ(ReadFile(disk.path / "out.bin"), "precious");
    EXPECT_EQ(Leftovers(disk.path), Names{});
  }
  // Each conversion fails on a full disk, or reading the deck with an unreadable slide.
  const struct { const char* name; std::int32_t code; testing::ConvertOptions options; bool onFullDisk; } rows[] = {
      {"text 200, unreadable slide", 200, {}, false}, {"text 200 per slide, unreadable slide", 200, {.multi = true}, false},
      {"text 107, full disk", 107, {}, true}, {"save as .pptx, full disk", 24, {}, true}};
  for (const auto& row : rows) {
    if (row.onFullDisk && !disk.mounted) {
      std::cout << "[ SKIPPED  ] " << row.name << ": cannot mount a small file system here\n";
      continue;
    }
    const fs::path folder = row.onFullDisk ? disk.path : dir_.path();
    for (const char* name : {"out.txt", "out.txtSlide1.txt"}) Put(folder / name, "PRECIOUS");
    if (row.onFullDisk) disk.Fill();
    EXPECT_NE(Convert(row.onFullDisk ? good_ : failing_, folder / "out.txt", row.code, row.options), 0) << row.name;
    for (const char* name : {"out.txt", "out.txtSlide1.txt"}) EXPECT_EQ(ReadFile(folder / name), "PRECIOUS") << row.name;
    EXPECT_EQ(Leftovers(folder), Names{}) << row.name;
    if (row.onFullDisk) fs::remove(disk.path / "filler");
  }
}

// Through the office renderer: PDF to a FIFO, written in place, and refusals before the office works
// (a FIFO nobody reads, a dangling link). Links and long names: the writer's rows above, the staging's
// short names: RendererRules.StagedOutputAppearsOnlyOnCommit.
TEST_F(OutputsOfConversions, RenderedOutputs) {
  if (!engines::render_bridge::RendererBuiltIn() || ::access("/usr/bin/soffice", X_OK) != 0)
    GTEST_SKIP() << "no renderer: the component is built without it or soffice is not installed";
  constexpr std::int32_t kPdf = 32;
  ::mkfifo((dir_ / "pipe.pdf").c_str(), 0600);
  auto received = ReadFifo(dir_ / "pipe.pdf");
  EXPECT_EQ(Convert(good_, dir_ / "pipe.pdf", kPdf), 0);
  EXPECT_TRUE(received.get().starts_with("%PDF"));
  EXPECT_TRUE(fs::is_fifo(dir_ / "pipe.pdf"));
  ::mkfifo((dir_ / "lonely.pdf").c_str(), 0600);
  fs::create_symlink(dir_ / "nowhere.pdf", dir_ / "dangling.pdf");
  for (const char* refused : {"lonely.pdf", "dangling.pdf"})
    EXPECT_NE(WithoutWaiting(dir_ / refused, [&] { return Convert(good_, dir_ / refused, kPdf); }), 0) << refused;
  EXPECT_FALSE(fs::exists(dir_ / "nowhere.pdf"));
  EXPECT_EQ(Leftovers(dir_.path()), Names{});
}

}  // namespace
}  // namespace quorvane
