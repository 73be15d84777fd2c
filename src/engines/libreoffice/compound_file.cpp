#include "engines/libreoffice/compound_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

namespace quorvane::engines::libreoffice {

namespace {

constexpr std::array<unsigned char, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFEu;
constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFAu;
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::size_t kDirectoryEntrySize = 128;
constexpr std::uint8_t kStreamObject = 2;
constexpr std::uint8_t kRootObject = 5;
// A FAT larger than this (a 16 GiB file with 4 KiB sectors) is not looked at.
constexpr std::uint64_t kMaxFatEntries = std::uint64_t{1} << 22;

// PowerPoint 97: CurrentUserAtom.headerToken of an encrypted file.
constexpr std::uint32_t kEncryptedPowerPointToken = 0xF3D1C4DFu;
// Word 97: FibBase.wIdent, and fEncrypted in its flags word.
constexpr std::uint16_t kWordIdent = 0xA5EC;
constexpr std::uint16_t kWordEncryptedFlag = 0x0100;

using ReadAt = std::function<bool(std::uint64_t offset, void* out, std::size_t size)>;

std::uint16_t U16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct Entry {
  std::u16string name;
  std::uint8_t type = 0;
  std::uint32_t start = 0;
  std::uint64_t size = 0;
};

class CompoundFile {
 public:
  CompoundFile(ReadAt read, std::uint64_t fileSize) : read_(std::move(read)), fileSize_(fileSize) {}

  bool Open() {
    unsigned char header[512];
    if (fileSize_ < sizeof header || !read_(0, header, sizeof header)) return false;
    if (std::memcmp(header, kSignature.data(), kSignature.size()) != 0) return false;
    unsigned sectorShift = U16(header + 0x1E);
    unsigned miniShift = U16(header + 0x20);
    if ((sectorShift != 9 && sectorShift != 12) || miniShift != 6) return false;
    sectorSize_ = std::size_t{1} << sectorShift;
    miniSectorSize_ = std::size_t{1} << miniShift;
    miniCutoff_ = U32(header + 0x38);
    std::uint32_t fatSectors = U32(header + 0x2C);
    std::uint32_t firstDirectory = U32(header + 0x30);
    std::uint32_t firstMiniFat = U32(header + 0x3C);
    std::uint32_t firstDifat = U32(header + 0x44);
    std::uint32_t difatSectors = U32(header + 0x48);

    sectorCount_ = fileSize_ / sectorSize_;  // an upper bound on every chain's length
    if (static_cast<std::uint64_t>(fatSectors) * (sectorSize_ / 4) > kMaxFatEntries) return false;

    // The FAT's own sectors: 109 in the header, the rest in the DIFAT chain.
    std::vector<std::uint32_t> fatSectorIds;
    for (std::size_t i = 0; i < kHeaderDifatEntries && fatSectorIds.size() < fatSectors; ++i) {
      fatSectorIds.push_back(U32(header + 0x4C + 4 * i));
    }
    std::uint32_t difat = firstDifat;
    std::vector<unsigned char> sector(sectorSize_);
    for (std::uint32_t n = 0; n < difatSectors && fatSectorIds.size() < fatSectors; ++n) {
      if (difat > kMaxRegularSector || !ReadSector(difat, sector.data())) return false;
      std::size_t perSector = sectorSize_ / 4 - 1;
      for (std::size_t i = 0; i < perSector && fatSectorIds.size() < fatSectors; ++i) {
        fatSectorIds.push_back(U32(sector.data() + 4 * i));
      }
      difat = U32(sector.data() + 4 * perSector);
    }
    for (std::uint32_t id : fatSectorIds) {
      if (id > kMaxRegularSector || !ReadSector(id, sector.data())) return false;
      for (std::size_t i = 0; i < sectorSize_ / 4; ++i) fat_.push_back(U32(sector.data() + 4 * i));
    }

    std::optional<std::vector<std::uint32_t>> directory = Chain(fat_, firstDirectory);
    if (!directory) return false;
    for (std::uint32_t id : *directory) {
      if (!ReadSector(id, sector.data())) return false;
      for (std::size_t off = 0; off + kDirectoryEntrySize <= sectorSize_; off += kDirectoryEntrySize) {
        entries_.push_back(ParseEntry(sector.data() + off));
      }
    }
    if (entries_.empty() || entries_[0].type != kRootObject) return false;

    if (firstMiniFat <= kMaxRegularSector) {
      std::optional<std::vector<std::uint32_t>> miniFatChain = Chain(fat_, firstMiniFat);
      if (!miniFatChain) return false;
      for (std::uint32_t id : *miniFatChain) {
        if (!ReadSector(id, sector.data())) return false;
        for (std::size_t i = 0; i < sectorSize_ / 4; ++i) miniFat_.push_back(U32(sector.data() + 4 * i));
      }
      std::optional<std::vector<std::uint32_t>> ministream = Chain(fat_, entries_[0].start);
      if (!ministream) return false;
      ministream_ = std::move(*ministream);
    }
    return true;
  }

  // The first stream that declares more than `maxSize` bytes or more than the file holds.
  const Entry* Oversized(std::uint64_t maxSize) const {
    for (const Entry& e : entries_) {
      if (e.type != kStreamObject) continue;
      const std::uint64_t room =
          e.size < miniCutoff_ && !ministream_.empty() ? ministream_.size() * sectorSize_ : fileSize_;
      if (e.size > maxSize || e.size > room) return &e;
    }
    return nullptr;
  }

  const Entry* Find(std::u16string_view name) const {
    for (const Entry& e : entries_) {
      if (e.type == kStreamObject && e.name == name) return &e;
    }
    return nullptr;
  }

  // The first `size` bytes of a stream; nothing when the stream is shorter or unreadable.
  std::optional<std::vector<unsigned char>> Prefix(const Entry& entry, std::size_t size) {
    if (entry.size < size) return std::nullopt;
    std::vector<unsigned char> out(size);
    bool mini = entry.size < miniCutoff_;
    std::size_t unit = mini ? miniSectorSize_ : sectorSize_;
    std::optional<std::vector<std::uint32_t>> chain = Chain(mini ? miniFat_ : fat_, entry.start);
    if (!chain) return std::nullopt;
    std::size_t done = 0;
    for (std::uint32_t id : *chain) {
      if (done == size) break;
      std::size_t take = std::min(unit, size - done);
      std::uint64_t offset;
      if (mini) {
        std::uint64_t inStream = static_cast<std::uint64_t>(id) * miniSectorSize_;
        std::uint64_t index = inStream / sectorSize_;
        if (index >= ministream_.size()) return std::nullopt;
        offset = SectorOffset(ministream_[index]) + inStream % sectorSize_;
      } else {
        offset = SectorOffset(id);
      }
      if (!read_(offset, out.data() + done, take)) return std::nullopt;
      done += take;
    }
    if (done < size) return std::nullopt;
    return out;
  }

 private:
  std::uint64_t SectorOffset(std::uint32_t id) const { return (static_cast<std::uint64_t>(id) + 1) * sectorSize_; }

  bool ReadSector(std::uint32_t id, unsigned char* out) {
    // The last sector of a file may be cut short; the missing tail reads as zeros.
    std::uint64_t offset = SectorOffset(id);
    if (offset >= fileSize_) return false;
    std::size_t available = static_cast<std::size_t>(std::min<std::uint64_t>(sectorSize_, fileSize_ - offset));
    std::memset(out + available, 0, sectorSize_ - available);
    return read_(offset, out, available);
  }

  std::optional<std::vector<std::uint32_t>> Chain(const std::vector<std::uint32_t>& table, std::uint32_t start) const {
    std::vector<std::uint32_t> chain;
    std::uint32_t id = start;
    while (id != kEndOfChain) {
      if (id > kMaxRegularSector || id >= table.size() || chain.size() > sectorCount_) return std::nullopt;
      chain.push_back(id);
      id = table[id];
    }
    return chain;
  }

  static Entry ParseEntry(const unsigned char* p) {
    Entry e;
    std::size_t nameBytes = std::min<std::size_t>(U16(p + 64), 64);
    for (std::size_t i = 0; i + 1 < nameBytes; i += 2) {
      char16_t c = static_cast<char16_t>(U16(p + i));
      if (c == 0) break;
      e.name.push_back(c);
    }
    e.type = p[66];
    e.start = U32(p + 116);
    e.size = static_cast<std::uint64_t>(U32(p + 120)) | (static_cast<std::uint64_t>(U32(p + 124)) << 32);
    return e;
  }

  ReadAt read_;
  std::uint64_t fileSize_;
  std::size_t sectorSize_ = 512;
  std::size_t miniSectorSize_ = 64;
  std::uint64_t miniCutoff_ = 4096;
  std::uint64_t sectorCount_ = 0;
  std::vector<std::uint32_t> fat_;
  std::vector<std::uint32_t> miniFat_;
  std::vector<std::uint32_t> ministream_;
  std::vector<Entry> entries_;
};

Protection Sniff(ReadAt read, std::uint64_t size) {
  CompoundFile file(std::move(read), size);
  if (!file.Open()) return Protection::None;
  if (file.Find(u"EncryptionInfo") != nullptr) return Protection::Encrypted;
  if (const Entry* user = file.Find(u"Current User")) {
    if (auto bytes = file.Prefix(*user, 16); bytes && U32(bytes->data() + 12) == kEncryptedPowerPointToken) {
      return Protection::Encrypted;
    }
  }
  if (const Entry* word = file.Find(u"WordDocument")) {
    if (auto bytes = file.Prefix(*word, 12);
        bytes && U16(bytes->data()) == kWordIdent && (U16(bytes->data() + 10) & kWordEncryptedFlag) != 0) {
      return Protection::Encrypted;
    }
  }
  return Protection::None;
}

std::string Fault(ReadAt read, std::uint64_t size, std::uint64_t maxSize) {
  if (size >= 8) {
    unsigned char magic[8];
    if (!read(0, magic, sizeof magic) || std::memcmp(magic, kSignature.data(), kSignature.size()) != 0) return {};
  }
  if (size > maxSize) {
    return "the compound file is " + std::to_string(size) + " bytes, more than the limit of " +
           std::to_string(maxSize) + " (maxCompoundFileSize)";
  }
  CompoundFile file(std::move(read), size);
  if (!file.Open()) return {};
  if (const Entry* entry = file.Oversized(maxSize)) {
    std::string name;
    for (const char16_t c : entry->name) name.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    return "the compound file is damaged: its stream \"" + name + "\" declares " + std::to_string(entry->size) +
           " bytes, more than the file holds or the limit of " + std::to_string(maxSize) + " (maxCompoundFileSize)";
  }
  return {};
}

// Calls `use` with a reader over the regular file `path`; false when it cannot be opened as one.
// The open never blocks (a pipe in the file's place is not waited for).
template <typename Use>
bool WithFile(const std::string& path, Use&& use) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat st {};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular) {
    auto read = [fd](std::uint64_t offset, void* out, std::size_t size) {
      auto* bytes = static_cast<unsigned char*>(out);
      std::size_t done = 0;
      while (done < size) {
        ssize_t got = pread(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
      }
      return true;
    };
    use(ReadAt(read), static_cast<std::uint64_t>(st.st_size));
  }
  close(fd);
  return regular;
}

ReadAt OverBytes(std::string_view bytes) {
  return [bytes](std::uint64_t offset, void* out, std::size_t size) {
    if (offset > bytes.size() || size > bytes.size() - offset) return false;
    std::memcpy(out, bytes.data() + offset, size);
    return true;
  };
}

}  // namespace

std::string CompoundFileFault(const std::string& path, std::uint64_t maxSize) {
  std::string fault;
  WithFile(path, [&](ReadAt read, std::uint64_t size) { fault = Fault(std::move(read), size, maxSize); });
  return fault;
}

std::string CompoundFileFaultOfBytes(std::string_view bytes, std::uint64_t maxSize) {
  return Fault(OverBytes(bytes), bytes.size(), maxSize);
}

Protection SniffProtection(const std::string& path) {
  Protection result = Protection::None;
  WithFile(path, [&](ReadAt read, std::uint64_t size) { result = Sniff(std::move(read), size); });
  return result;
}

Protection SniffProtectionOfBytes(std::string_view bytes) { return Sniff(OverBytes(bytes), bytes.size()); }

}  // namespace quorvane::engines::libreoffice
