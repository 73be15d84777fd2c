#include "standard_streams.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "signals.hpp"

namespace quorvane::cli {
namespace {

constexpr std::size_t kChunk = 1 << 16;

// Reads what is there, up to `size` bytes; -1 on a failure other than an interruption.
ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

// Writes all of `size` bytes; false on a failure.
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The extension the private copy of standard input gets, from its first bytes. The engines look
// at the content themselves; the extension only keeps the name truthful.
std::string_view ExtensionFor(std::string_view head) {
  if (head.starts_with("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) return ".ppt";
  if (head.starts_with("PK\x03\x04") && head.find("mimetypeapplication/vnd.oasis.opendocument") != head.npos)
    return ".odp";
  return ".pptx";
}

}  // namespace

std::optional<PrivateFolder> PrivateFolder::Make(std::string& error) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quorvane-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  // The name is registered before it exists: a signal between the two removes nothing, or the
  // new empty folder, never anything else.
  if (::mkdtemp(buffer.data()) == nullptr) {
    error = "cannot make a temporary folder under '" + pattern.substr(0, pattern.size() - 16) +
            "': " + std::strerror(errno);
    return std::nullopt;
  }
  std::string path(buffer.data());
  const int number = RemoveOnSignal(path);
  return PrivateFolder(std::move(path), number);
}

PrivateFolder::PrivateFolder(PrivateFolder&& other) noexcept
    : path_(std::move(other.path_)), signalNumber_(std::exchange(other.signalNumber_, -1)) {
  other.path_.clear();
}

PrivateFolder::~PrivateFolder() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  if (signalNumber_ >= 0) ForgetOnSignal(signalNumber_);
}

std::optional<std::string> CopyStandardInput(const std::string& folder, std::string& error) {
  std::vector<char> buffer(kChunk);
  std::size_t filled = 0;
  // The first bytes decide the name; read up to a chunk before the file is made.
  while (filled < buffer.size()) {
    const ssize_t n = ReadSome(STDIN_FILENO, buffer.data() + filled, buffer.size() - filled);
    if (n < 0) {
      error = std::string("cannot read standard input: ") + std::strerror(errno);
      return std::nullopt;
    }
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  const std::string path =
      folder + "/standard-input" + std::string(ExtensionFor(std::string_view(buffer.data(), filled)));
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot make the copy of standard input '" + path + "': " + std::strerror(errno);
    return std::nullopt;
  }
  bool ok = WriteAll(fd, buffer.data(), filled);
  bool readFailed = false;
  while (ok && filled == buffer.size()) {
    const ssize_t n = ReadSome(STDIN_FILENO, buffer.data(), buffer.size());
    if (n < 0) {
      readFailed = true;
      break;
    }
    if (n == 0) break;
    ok = WriteAll(fd, buffer.data(), static_cast<std::size_t>(n));
  }
  const int writeErrno = errno;
  if (::close(fd) != 0 && ok && !readFailed) ok = false;
  if (readFailed) {
    error = std::string("cannot read standard input: ") + std::strerror(writeErrno);
    return std::nullopt;
  }
  if (!ok) {
    error = "cannot write the copy of standard input '" + path + "': " + std::strerror(writeErrno);
    return std::nullopt;
  }
  return path;
}

bool CopyToStandardOutput(const std::string& file, std::string& error) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot read the converted file '" + file + "': " + std::strerror(errno);
    return false;
  }
  std::vector<char> buffer(kChunk);
  bool ok = true;
  for (;;) {
    const ssize_t n = ReadSome(fd, buffer.data(), buffer.size());
    if (n < 0) {
      error = "cannot read the converted file '" + file + "': " + std::strerror(errno);
      ok = false;
      break;
    }
    if (n == 0) break;
    if (!WriteAll(STDOUT_FILENO, buffer.data(), static_cast<std::size_t>(n))) {
      error = std::string("cannot write to standard output: ") + std::strerror(errno);
      ok = false;
      break;
    }
  }
  ::close(fd);
  return ok;
}

}  // namespace quorvane::cli
