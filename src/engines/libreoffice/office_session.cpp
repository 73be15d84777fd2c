// The component's side of OfficeSession: finding and loading the UNO plugin, and the office's socket
// file names. Nothing here needs LibreOffice's libraries.
#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "engines/libreoffice/failures.hpp"
#include "engines/libreoffice/renderer.hpp"
#include "engines/libreoffice/uno_session.hpp"
#include "quorvane/utf.hpp"

namespace quorvane::engines::libreoffice {

namespace {

// The outcome of loading the plugin, decided once per process. The module is never unloaded: the
// UNO runtime it starts lives to the end of the process.
struct PluginState {
  std::mutex mutex;
  bool tried = false;
  UnoConnectFunction connect = nullptr;
  std::string failure;       // why it could not be loaded, when it could not
  std::string overridePath;  // for tests: the only place to try
};

PluginState& ThePlugin() {
  static PluginState* state = new PluginState;  // never destroyed: workers may outlive static destruction
  return *state;
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Where the plugin may be, best first: beside the module holding this code (libquorvane.so for a
// host, the program itself when the core is linked statically), the build tree, the installed
// library folder.
std::vector<std::string> Candidates() {
  std::vector<std::string> places;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ThePlugin), &info) != 0 && info.dli_fname != nullptr &&
      info.dli_fname[0] != '\0') {
    places.push_back(FolderOf(info.dli_fname) + "/" + kUnoPluginFile);
  }
#ifdef QUORVANE_UNO_PLUGIN_BUILD_PATH
  places.push_back(QUORVANE_UNO_PLUGIN_BUILD_PATH);
#endif
#ifdef QUORVANE_UNO_PLUGIN_INSTALL_DIR
  places.push_back(std::string(QUORVANE_UNO_PLUGIN_INSTALL_DIR) + "/" + kUnoPluginFile);
#endif
  return places;
}

// Loads the plugin; on failure leaves the reason in state.failure.
void Load(PluginState& state) {
  std::vector<std::string> places;
  if (state.overridePath.empty()) {
    places = Candidates();
  } else {
    places.push_back(state.overridePath);
  }
  std::string path;
  for (const std::string& place : places) {
    if (access(place.c_str(), F_OK) == 0) {
      path = place;
      break;
    }
  }
  if (path.empty()) {
    std::string looked;
    for (const std::string& place : places) looked += (looked.empty() ? "" : ", ") + place;
    state.failure = "The LibreOffice renderer cannot be used: its UNO plugin " + std::string(kUnoPluginFile) +
                    " could not be loaded (not found; looked for " + looked + ")";
    return;
  }
  dlerror();
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* error = dlerror();
    std::string reason = error != nullptr ? error : "unknown reason";
    bool noUno = reason.find("libuno_") != std::string::npos;
    state.failure = "The LibreOffice renderer cannot be used: " +
                    std::string(noUno ? "LibreOffice is not installed; " : "") + "its UNO plugin '" + path +
                    "' could not be loaded (" + reason + ")";
    return;
  }
  dlerror();
  void* symbol = dlsym(module, kUnoConnectSymbol);
  if (symbol == nullptr) {
    const char* error = dlerror();
    state.failure = "The LibreOffice renderer cannot be used: the UNO plugin '" + path + "' has no " +
                    kUnoConnectSymbol + " (" + (error != nullptr ? error : "unknown reason") +
                    "); it belongs to another build of the component";
    return;
  }
  state.connect = reinterpret_cast<UnoConnectFunction>(symbol);
}

UnoConnectFunction Plugin() {
  PluginState& state = ThePlugin();
  std::lock_guard lock(state.mutex);
  if (!state.tried) {
    state.tried = true;
    Load(state);
  }
  if (state.connect == nullptr) Fail(failure::kRpcServerUnavailable, state.failure);
  return state.connect;
}

// MD5 (RFC 1321) of a byte string.
std::array<std::uint8_t, 16> Md5(const std::uint8_t* data, std::size_t size) {
  static constexpr std::uint32_t kShift[64] = {7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22,
                                               5,  9,  14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 5,  9,  14, 20,
                                               4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
                                               6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21};
  static constexpr std::uint32_t kSine[64] = {
      0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
      0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
      0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
      0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
      0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
      0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
      0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
      0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
  std::vector<std::uint8_t> message(data, data + size);
  message.push_back(0x80);
  while (message.size() % 64 != 56) message.push_back(0);
  std::uint64_t bits = static_cast<std::uint64_t>(size) * 8;
  for (int i = 0; i < 8; ++i) message.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  for (std::size_t block = 0; block < message.size(); block += 64) {
    std::uint32_t w[16];
    for (int i = 0; i < 16; ++i) {
      const std::uint8_t* p = &message[block + 4 * i];
      w[i] = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
      std::uint32_t f;
      int g;
      if (i < 16) {
        f = (b & c) | (~b & d);
        g = i;
      } else if (i < 32) {
        f = (d & b) | (~d & c);
        g = (5 * i + 1) % 16;
      } else if (i < 48) {
        f = b ^ c ^ d;
        g = (3 * i + 5) % 16;
      } else {
        f = c ^ (b | ~d);
        g = (7 * i) % 16;
      }
      std::uint32_t sum = a + f + kSine[i] + w[g];
      a = d;
      d = c;
      c = b;
      b += (sum << kShift[i]) | (sum >> (32 - kShift[i]));
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
  }
  std::array<std::uint8_t, 16> digest{};
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<std::uint8_t>(h[i / 4] >> (8 * (i % 4)));
  return digest;
}

}  // namespace

void OfficeSession::LoadPlugin() { Plugin(); }

std::unique_ptr<OfficeSession> OfficeSession::Connect(const std::string& pipeName, Clock::time_point deadline,
                                                      const std::function<bool()>& officeEnded) {
  UnoConnectFunction connect = Plugin();
  UnoConnectRequest request{pipeName, deadline, &officeEnded, DefaultProgramDirectory()};
  return std::unique_ptr<OfficeSession>(connect(request));
}

namespace detail {
void ResetUnoPluginForTesting(const std::string& path) {
  PluginState& state = ThePlugin();
  std::lock_guard lock(state.mutex);
  state.tried = false;
  state.connect = nullptr;
  state.failure.clear();
  state.overridePath = path;
}
}  // namespace detail

std::vector<std::string> OfficeSocketFiles(const std::string& pipeName, const std::string& profileUrl) {
  // As the office names them: "OSL_PIPE_<uid>_<name>" in /tmp; the single-instance pipe's name is
  // "SingleOfficeIPC_" and the MD5 of the profile URL's UTF-16 code units (in memory order, little
  // endian here), each byte in hex without leading zeros.
  std::string prefix = "/tmp/OSL_PIPE_" + std::to_string(getuid()) + "_";
  std::u16string url = Utf8ToUtf16(profileUrl);
  std::vector<std::uint8_t> bytes;
  bytes.reserve(url.size() * 2);
  for (char16_t unit : url) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xff));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  std::string hash;
  for (std::uint8_t byte : Md5(bytes.data(), bytes.size())) {
    char text[4];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(byte));
    hash += text;
  }
  return {prefix + pipeName, prefix + "SingleOfficeIPC_" + hash};
}

}  // namespace quorvane::engines::libreoffice
