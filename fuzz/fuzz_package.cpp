// libFuzzer target for the package layer: the input is a package file. Whatever opens is read
// part by part, its relationships listed, saved and opened again; the only failures allowed are
// AutomationErrors with the package layer's own HRESULTs, and a saved copy must open and hold the
// same parts with the same bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "engines/pptx/package.hpp"
#include "quorvane/automation_error.hpp"

namespace {

using namespace quorvane::engines::pptx;

// Small limits keep every run short and small; they are limits like any other.
constexpr Limits kLimits{.maxTotalUncompressed = 64u << 20, .maxPartSize = 8u << 20, .maxParts = 4000};

bool Allowed(std::int32_t number) {
  namespace failure = quorvane::failure;
  return number == failure::kWin32FileNotFound || number == failure::kWin32PathNotFound ||
         number == failure::kEAccessDenied || number == failure::kWin32InvalidData ||
         number == failure::kEOutOfMemory || number == failure::kWin32DiskFull;
}

template <typename F>
bool Try(F&& call) {
  try {
    call();
    return true;
  } catch (const quorvane::AutomationError& e) {
    if (!Allowed(e.number())) std::abort();
    return false;
  }
}

const std::string& ScratchFolder() {
  static const std::string folder = [] {
    const std::filesystem::path base = std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / "quorvane-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  static const bool cleanup = std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(ScratchFolder(), ignored);
  }) == 0;
  (void)cleanup;
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The input as a file without touching the disk: a memory file opened by its /proc name.
  const int fd = ::memfd_create("fuzz-package", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  std::shared_ptr<Package> package;
  if (Try([&] { package = Package::Open(path, kLimits); })) {
    std::map<std::string, std::string> readable;
    for (const std::string& name : package->PartNames()) {
      Try([&] { readable[name] = package->ReadPart(name); });
      Try([&] { package->Relationships(name); });
      package->ContentType(name);
    }
    Try([&] { package->Relationships("/"); });

    const std::string copy = ScratchFolder() + "/copy.pptx";
    if (Try([&] { package->Save(copy); })) {
      std::shared_ptr<Package> saved;
      if (!Try([&] { saved = Package::Open(copy, kLimits); })) std::abort();
      if (saved->PartNames() != package->PartNames()) std::abort();
      for (const auto& entry : readable) {
        std::string again;
        if (!Try([&] { again = saved->ReadPart(entry.first); }) || again != entry.second) std::abort();
      }
    }
  }
  ::close(fd);
  return 0;
}
