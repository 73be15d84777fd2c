// The zip library behind zip.hpp. Archives are read and written through our own zip_source
// callbacks over file descriptors: reading uses pread only (so the library has no way to write the
// input file), writing goes to the descriptor the caller made (a temporary file), never to a file
// the library names or renames itself.
#include "engines/pptx/zip.hpp"

#include "common/platform.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <unordered_set>

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wnullability-extension"
#pragma clang diagnostic ignored "-Wnullability-completeness"
#endif
#include <zip.h>
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

namespace quorvane::engines::pptx::zip {

namespace {

constexpr std::size_t kChunk = 64 * 1024;
// 1980-01-01 00:00:00 as MS-DOS date and time: the earliest a zip entry can carry.
constexpr zip_uint16_t kFixedDosDate = (0 << 9) | (1 << 5) | 1;
constexpr zip_uint16_t kFixedDosTime = 0;

ErrorKind KindOf(int zipError, int systemError) {
  switch (zipError) {
    case ZIP_ER_NOZIP: return ErrorKind::kNotZip;
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD: return ErrorKind::kEncrypted;
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_MULTIDISK: return ErrorKind::kUnsupported;
    case ZIP_ER_MEMORY: return ErrorKind::kMemory;
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL:
    case ZIP_ER_OPEN: return systemError == ENOMEM ? ErrorKind::kMemory : ErrorKind::kRead;
    case ZIP_ER_WRITE:
    case ZIP_ER_CLOSE:
    case ZIP_ER_TMPOPEN:
    case ZIP_ER_RENAME:
    case ZIP_ER_REMOVE: return systemError == ENOMEM ? ErrorKind::kMemory : ErrorKind::kWrite;
    default: return ErrorKind::kDamaged;
  }
}

Error ErrorFrom(zip_error_t* error) {
  const int code = zip_error_code_zip(error);
  const int system = zip_error_system_type(error) == ZIP_ET_SYS ? zip_error_code_system(error) : 0;
  return Error(KindOf(code, system), system, zip_error_strerror(error));
}

// The error of an archive, which is then cleared so that it does not stick to later calls.
Error ArchiveError(zip_t* archive) {
  Error result = ErrorFrom(zip_get_error(archive));
  zip_error_clear(archive);
  return result;
}

// --- A read-only source over a file descriptor ------------------------------------------------

struct FdSource {
  int fd = -1;
  std::uint64_t size = 0;
  std::uint64_t position = 0;
  zip_error_t error{};
};

zip_int64_t FdSourceCallback(void* userdata, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* source = static_cast<FdSource*>(userdata);
  switch (command) {
    case ZIP_SOURCE_OPEN: source->position = 0; return 0;
    case ZIP_SOURCE_READ: {
      const std::uint64_t available = source->position < source->size ? source->size - source->position : 0;
      const std::uint64_t wanted = std::min<std::uint64_t>(length, available);
      std::uint64_t done = 0;
      while (done < wanted) {
        const ssize_t n = platform::ReadAt(source->fd, static_cast<char*>(data) + done, wanted - done,
                                  static_cast<std::uint64_t>(source->position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          zip_error_set(&source->error, ZIP_ER_READ, errno);
          return -1;
        }
        if (n == 0) break;  // the file shrank under us: the archive reader sees a short read
        done += static_cast<std::uint64_t>(n);
      }
      source->position += done;
      return static_cast<zip_int64_t>(done);
    }
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE: return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &source->error);
      if (st == nullptr) return -1;
      zip_stat_init(st);
      st->size = source->size;
      st->valid |= ZIP_STAT_SIZE;
      return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&source->error, data, length);
    case ZIP_SOURCE_SEEK: {
      const zip_int64_t offset =
          zip_source_seek_compute_offset(source->position, source->size, data, length, &source->error);
      if (offset < 0) return -1;
      source->position = static_cast<std::uint64_t>(offset);
      return 0;
    }
    case ZIP_SOURCE_TELL: return static_cast<zip_int64_t>(source->position);
    case ZIP_SOURCE_SUPPORTS: return ZIP_SOURCE_SUPPORTS_SEEKABLE;
    default: zip_error_set(&source->error, ZIP_ER_OPNOTSUPP, 0); return -1;
  }
}

// --- A write-only sink over a file descriptor (what the library sees as the archive) ---------

struct FdSink {
  int fd = -1;
  std::uint64_t position = 0;
  std::uint64_t end = 0;
  std::uint64_t maxBytes = UINT64_MAX;
  bool tooLarge = false;  // a write went beyond maxBytes
  zip_error_t error{};
};

zip_int64_t FdSinkCallback(void* userdata, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* sink = static_cast<FdSink*>(userdata);
  switch (command) {
    // The archive starts empty: the reading side is a source of no bytes.
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
    case ZIP_SOURCE_READ:
    case ZIP_SOURCE_SEEK:
    case ZIP_SOURCE_TELL:
    case ZIP_SOURCE_COMMIT_WRITE: return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &sink->error);
      if (st == nullptr) return -1;
      zip_stat_init(st);
      st->size = 0;
      st->valid |= ZIP_STAT_SIZE;
      return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&sink->error, data, length);
    case ZIP_SOURCE_BEGIN_WRITE:
    case ZIP_SOURCE_ROLLBACK_WRITE:
    case ZIP_SOURCE_REMOVE:
      sink->position = sink->end = 0;
      if (platform::Truncate(sink->fd, 0) < 0 && command == ZIP_SOURCE_BEGIN_WRITE) {
        zip_error_set(&sink->error, ZIP_ER_WRITE, errno);
        return -1;
      }
      return 0;
    case ZIP_SOURCE_WRITE: {
      if (length > sink->maxBytes || sink->position > sink->maxBytes - length) {
        sink->tooLarge = true;
        zip_error_set(&sink->error, ZIP_ER_WRITE, EFBIG);
        return -1;
      }
      std::uint64_t done = 0;
      while (done < length) {
        const ssize_t n = platform::WriteAt(sink->fd, static_cast<const char*>(data) + done, length - done,
                                   static_cast<std::uint64_t>(sink->position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          zip_error_set(&sink->error, ZIP_ER_WRITE, n < 0 ? errno : ENOSPC);
          return -1;
        }
        done += static_cast<std::uint64_t>(n);
      }
      sink->position += done;
      sink->end = std::max(sink->end, sink->position);
      return static_cast<zip_int64_t>(done);
    }
    case ZIP_SOURCE_SEEK_WRITE: {
      const zip_int64_t offset = zip_source_seek_compute_offset(sink->position, sink->end, data, length, &sink->error);
      if (offset < 0) return -1;
      sink->position = static_cast<std::uint64_t>(offset);
      return 0;
    }
    case ZIP_SOURCE_TELL_WRITE: return static_cast<zip_int64_t>(sink->position);
    case ZIP_SOURCE_SUPPORTS: return ZIP_SOURCE_SUPPORTS_WRITABLE;
    default: zip_error_set(&sink->error, ZIP_ER_OPNOTSUPP, 0); return -1;
  }
}

// --- A generated stream ----------------------------------------------------------------------

struct Stream {
  Writer::Producer producer;
  std::uint64_t size = 0;
  std::exception_ptr failure;  // what the producer threw; rethrown by Finish
  zip_error_t error{};
};

zip_int64_t StreamCallback(void* userdata, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* stream = static_cast<Stream*>(userdata);
  switch (command) {
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE: return 0;
    case ZIP_SOURCE_READ:
      try {  // no exception may cross the C library
        return static_cast<zip_int64_t>(stream->producer(static_cast<char*>(data), length));
      } catch (...) {
        stream->failure = std::current_exception();
        zip_error_set(&stream->error, ZIP_ER_READ, EIO);
        return -1;
      }
    case ZIP_SOURCE_STAT: {
      auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &stream->error);
      if (st == nullptr) return -1;
      zip_stat_init(st);
      st->size = stream->size;
      st->valid |= ZIP_STAT_SIZE;
      return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR: return zip_error_to_data(&stream->error, data, length);
    case ZIP_SOURCE_SUPPORTS: return ZIP_SOURCE_SUPPORTS_READABLE;
    default: zip_error_set(&stream->error, ZIP_ER_OPNOTSUPP, 0); return -1;
  }
}

// --- The layout of an archive ------------------------------------------------------------------

std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t Le64(const unsigned char* p) {
  return static_cast<std::uint64_t>(Le32(p)) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
}

[[noreturn]] void Damaged(const std::string& what) { throw Error(ErrorKind::kDamaged, 0, what); }

std::string Quote(std::string_view name) {
  std::string out = "\"";
  for (const char c : name) out.push_back(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
  return out + "\"";
}

// Reads exactly `size` bytes at `offset`; false at the end of the file or on an error.
bool ReadExactly(int fd, std::uint64_t offset, void* out, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = platform::ReadAt(fd, static_cast<char*>(out) + done, size - done, static_cast<std::uint64_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Where the central directory is, from the end record (and its zip64 twin).
struct Directory {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint64_t entries = 0;
};

Directory FindDirectory(int fd, std::uint64_t fileSize) {
  constexpr std::size_t kEndRecord = 22;
  const std::uint64_t window = std::min<std::uint64_t>(fileSize, kEndRecord + 0xFFFF);
  std::vector<unsigned char> tail(static_cast<std::size_t>(window));
  if (!ReadExactly(fd, fileSize - window, tail.data(), tail.size())) Damaged("the end of the archive cannot be read");
  // The last end record whose comment ends at the end of the file, else the last one at all.
  std::optional<std::size_t> found, exact;
  for (std::size_t at = tail.size() >= kEndRecord ? tail.size() - kEndRecord + 1 : 0; at-- > 0;) {
    if (std::memcmp(tail.data() + at, "PK\x05\x06", 4) != 0) continue;
    if (!found) found = at;
    if (at + kEndRecord + Le16(tail.data() + at + 20) == tail.size()) {
      exact = at;
      break;
    }
  }
  if (!found) Damaged("the archive has no end record");
  const std::size_t at = exact ? *exact : *found;
  const unsigned char* end = tail.data() + at;
  Directory d{Le32(end + 16), Le32(end + 12), Le16(end + 10)};
  const std::uint64_t endOffset = fileSize - window + at;
  if ((d.offset == 0xFFFFFFFFu || d.size == 0xFFFFFFFFu || d.entries == 0xFFFF) && endOffset >= 20) {
    unsigned char locator[20];
    if (ReadExactly(fd, endOffset - 20, locator, sizeof locator) && std::memcmp(locator, "PK\x06\x07", 4) == 0) {
      unsigned char record[56];
      const std::uint64_t recordOffset = Le64(locator + 8);
      if (!ReadExactly(fd, recordOffset, record, sizeof record) || std::memcmp(record, "PK\x06\x06", 4) != 0)
        Damaged("the zip64 end record cannot be read");
      d = Directory{Le64(record + 48), Le64(record + 40), Le64(record + 32)};
    }
  }
  if (d.offset > fileSize || d.size > fileSize - d.offset) Damaged("the zip directory lies beyond the end of the file");
  return d;
}

// Refuses archives whose entries share data or names (see Reader::Open).
void CheckLayout(int fd, std::uint64_t fileSize, std::uint64_t expectedEntries) {
  const Directory directory = FindDirectory(fd, fileSize);
  std::vector<unsigned char> cd(static_cast<std::size_t>(directory.size));
  if (!ReadExactly(fd, directory.offset, cd.data(), cd.size())) Damaged("the zip directory cannot be read");

  struct Span {
    std::uint64_t begin;
    std::uint64_t end;
    std::string_view name;
  };
  std::vector<Span> spans;
  spans.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(expectedEntries, 1u << 20)));
  std::unordered_set<std::string_view> names;
  std::size_t at = 0;
  while (spans.size() < expectedEntries) {
    if (at + 46 > cd.size() || std::memcmp(cd.data() + at, "PK\x01\x02", 4) != 0)
      Damaged("the zip directory is shorter than the number of entries it declares");
    const unsigned char* e = cd.data() + at;
    std::uint64_t compressed = Le32(e + 20);
    const std::uint32_t uncompressed32 = Le32(e + 24);
    const std::size_t nameLength = Le16(e + 28), extraLength = Le16(e + 30), commentLength = Le16(e + 32);
    std::uint64_t local = Le32(e + 42);
    if (at + 46 + nameLength + extraLength + commentLength > cd.size()) Damaged("a zip directory entry is cut short");
    const std::string_view name(reinterpret_cast<const char*>(e + 46), nameLength);
    // The zip64 extra field holds, in this order, those of the three values that overflowed.
    for (std::size_t x = 46 + nameLength; x + 4 <= 46 + nameLength + extraLength;) {
      const std::uint16_t id = Le16(e + x), length = Le16(e + x + 2);
      if (x + 4 + length > 46 + nameLength + extraLength) break;
      if (id == 0x0001) {
        std::size_t v = x + 4;
        auto next = [&](std::uint64_t& value) {
          if (v + 8 <= x + 4 + length) value = Le64(e + v), v += 8;
        };
        std::uint64_t ignored = 0;
        if (uncompressed32 == 0xFFFFFFFFu) next(ignored);
        if (compressed == 0xFFFFFFFFu) next(compressed);
        if (local == 0xFFFFFFFFu) next(local);
      }
      x += 4 + length;
    }
    at += 46 + nameLength + extraLength + commentLength;

    if (!names.insert(name).second) Damaged("the zip directory names entry " + Quote(name) + " twice");
    unsigned char header[30];
    if (local > fileSize || !ReadExactly(fd, local, header, sizeof header) ||
        std::memcmp(header, "PK\x03\x04", 4) != 0) {
      Damaged("zip entry " + Quote(name) + " has no local header where the directory says");
    }
    const std::uint64_t begin = local;
    const std::uint64_t end = local + 30 + Le16(header + 26) + Le16(header + 28) + compressed;
    if (compressed > fileSize || end > directory.offset)
      Damaged("the data of zip entry " + Quote(name) + " runs into the zip directory");
    spans.push_back(Span{begin, end, name});
  }
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
  for (std::size_t i = 1; i < spans.size(); ++i) {
    const Span& a = spans[i - 1];
    const Span& b = spans[i];
    if (a.begin == b.begin)
      Damaged("zip entries " + Quote(a.name) + " and " + Quote(b.name) + " point at the same data");
    if (b.begin < a.end)
      Damaged("the data of zip entries " + Quote(a.name) + " and " + Quote(b.name) + " overlap");
  }
}

}  // namespace

// --- Reader ------------------------------------------------------------------------------------

struct Reader::State {
  FdSource source;
  zip_t* archive = nullptr;
  ~State() {
    if (archive != nullptr) zip_discard(archive);  // frees the source too
    if (source.fd >= 0) ::close(source.fd);
    zip_error_fini(&source.error);
  }
};

Reader::Reader(std::unique_ptr<State> state) : state_(std::move(state)) {}
Reader::~Reader() = default;

std::unique_ptr<Reader> Reader::Open(int fd) {
  auto state = std::make_unique<State>();
  state->source.fd = fd;
  zip_error_init(&state->source.error);
  struct stat st {};
  if (::fstat(fd, &st) < 0) throw Error(ErrorKind::kRead, errno, std::strerror(errno));
  state->source.size = static_cast<std::uint64_t>(st.st_size);

  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_function_create(FdSourceCallback, &state->source, &error);
  if (source == nullptr) {
    Error failure = ErrorFrom(&error);
    zip_error_fini(&error);
    throw failure;
  }
  state->archive = zip_open_from_source(source, ZIP_RDONLY, &error);
  if (state->archive == nullptr) {
    zip_source_free(source);
    Error failure = ErrorFrom(&error);
    zip_error_fini(&error);
    throw failure;
  }
  zip_error_fini(&error);
  const zip_int64_t entries = zip_get_num_entries(state->archive, 0);
  CheckLayout(fd, state->source.size, entries < 0 ? 0 : static_cast<std::uint64_t>(entries));
  return std::unique_ptr<Reader>(new Reader(std::move(state)));
}

std::uint64_t Reader::size() const {
  const zip_int64_t n = zip_get_num_entries(state_->archive, 0);
  return n < 0 ? 0 : static_cast<std::uint64_t>(n);
}

EntryInfo Reader::Entry(std::uint64_t index) const {
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(state_->archive, index, 0, &st) < 0) throw ArchiveError(state_->archive);
  EntryInfo info;
  if ((st.valid & ZIP_STAT_NAME) != 0 && st.name != nullptr) info.name = st.name;
  if ((st.valid & ZIP_STAT_SIZE) != 0) info.size = st.size;
  if ((st.valid & ZIP_STAT_COMP_SIZE) != 0) info.compressedSize = st.comp_size;
  info.stored = (st.valid & ZIP_STAT_COMP_METHOD) != 0 && st.comp_method == ZIP_CM_STORE;
  info.encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && st.encryption_method != ZIP_EM_NONE;
  return info;
}

void Reader::Read(std::uint64_t index, const std::function<void(std::string_view)>& sink) const {
  zip_file_t* file = zip_fopen_index(state_->archive, index, 0);
  if (file == nullptr) throw ArchiveError(state_->archive);
  struct Closer {
    zip_file_t* file;
    ~Closer() { zip_fclose(file); }
  } closer{file};
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  for (;;) {
    const zip_int64_t n = zip_fread(file, buffer.get(), kChunk);
    if (n < 0) throw ErrorFrom(zip_file_get_error(file));
    if (n == 0) break;
    sink(std::string_view(buffer.get(), static_cast<std::size_t>(n)));
  }
}

// --- Writer ------------------------------------------------------------------------------------

struct Writer::State {
  FdSink sink;
  zip_t* archive = nullptr;
  std::deque<std::string> buffers;  // bytes of added entries, alive until the archive is written
  std::deque<Stream> streams;
  ~State() {
    if (archive != nullptr) zip_discard(archive);
    zip_error_fini(&sink.error);
    for (Stream& stream : streams) zip_error_fini(&stream.error);
  }

  // Registers an added entry (or frees the source when adding fails) and gives it fixed metadata.
  void Added(zip_int64_t index, zip_source_t* source) {
    if (index < 0) {
      zip_source_free(source);
      throw ArchiveError(archive);
    }
    const auto i = static_cast<zip_uint64_t>(index);
    if (zip_file_set_dostime(archive, i, kFixedDosTime, kFixedDosDate, 0) < 0 ||
        zip_file_set_external_attributes(archive, i, 0, ZIP_OPSYS_DOS, 0) < 0) {
      throw ArchiveError(archive);
    }
  }
};

Writer::Writer(int fd, std::uint64_t maxBytes) : state_(std::make_unique<State>()) {
  state_->sink.fd = fd;
  state_->sink.maxBytes = maxBytes;
  zip_error_init(&state_->sink.error);
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_function_create(FdSinkCallback, &state_->sink, &error);
  if (source != nullptr) {
    state_->archive = zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (state_->archive == nullptr) zip_source_free(source);
  }
  if (state_->archive == nullptr) {
    Error failure = ErrorFrom(&error);
    zip_error_fini(&error);
    throw failure;
  }
  zip_error_fini(&error);
}

Writer::~Writer() = default;

void Writer::Add(std::string_view name, std::string bytes) { AddEntry(name, std::move(bytes), ZIP_CM_DEFLATE, 6); }

void Writer::AddStored(std::string_view name, std::string bytes) { AddEntry(name, std::move(bytes), ZIP_CM_STORE, 0); }

void Writer::AddEntry(std::string_view name, std::string bytes, std::int32_t method, std::uint32_t level) {
  State& s = *state_;
  const std::string& data = s.buffers.emplace_back(std::move(bytes));
  zip_source_t* source = zip_source_buffer(s.archive, data.data(), data.size(), 0);
  if (source == nullptr) throw ArchiveError(s.archive);
  const zip_int64_t index = zip_file_add(s.archive, std::string(name).c_str(), source, ZIP_FL_ENC_UTF_8);
  s.Added(index, source);
  if (zip_set_file_compression(s.archive, static_cast<zip_uint64_t>(index), method, level) < 0) {
    throw ArchiveError(s.archive);
  }
}

void Writer::AddStream(std::string_view name, std::uint64_t size, Producer producer) {
  State& s = *state_;
  Stream& stream = s.streams.emplace_back();
  stream.producer = std::move(producer);
  stream.size = size;
  zip_error_init(&stream.error);
  zip_source_t* source = zip_source_function(s.archive, StreamCallback, &stream);
  if (source == nullptr) throw ArchiveError(s.archive);
  const zip_int64_t index = zip_file_add(s.archive, std::string(name).c_str(), source, ZIP_FL_ENC_UTF_8);
  s.Added(index, source);
  if (zip_set_file_compression(s.archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 6) < 0) {
    throw ArchiveError(s.archive);
  }
}

void Writer::AddCopy(std::string_view name, const Reader& source, std::uint64_t index) {
  State& s = *state_;
  // ZIP_FL_COMPRESSED: the entry's bytes as they are; the library then keeps its method and CRC.
  zip_source_t* data = zip_source_zip(s.archive, source.state_->archive, index, ZIP_FL_COMPRESSED, 0, -1);
  if (data == nullptr) throw ArchiveError(s.archive);
  s.Added(zip_file_add(s.archive, std::string(name).c_str(), data, ZIP_FL_ENC_UTF_8), data);
}

void Writer::Finish() {
  State& s = *state_;
  if (zip_close(s.archive) == 0) {
    s.archive = nullptr;
    return;
  }
  Error failure = ArchiveError(s.archive);
  zip_discard(s.archive);
  s.archive = nullptr;
  if (s.sink.tooLarge) {
    throw Error(ErrorKind::kTooLarge, 0, "the archive would be larger than " + std::to_string(s.sink.maxBytes) + " bytes");
  }
  for (Stream& stream : s.streams) {
    if (stream.failure) std::rethrow_exception(stream.failure);
  }
  throw failure;
}

}  // namespace quorvane::engines::pptx::zip
