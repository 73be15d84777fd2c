// The zip library behind zip.hpp. Archives are read and written through our own zip_source
// callbacks over file descriptors: reading uses pread only (so the library has no way to write the
// input file), writing goes to the descriptor the caller made (a temporary file), never to a file
// the library names or renames itself.
#include "engines/pptx/zip.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

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
        const ssize_t n = ::pread(source->fd, static_cast<char*>(data) + done, wanted - done,
                                  static_cast<off_t>(source->position + done));
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
      if (::ftruncate(sink->fd, 0) < 0 && command == ZIP_SOURCE_BEGIN_WRITE) {
        zip_error_set(&sink->error, ZIP_ER_WRITE, errno);
        return -1;
      }
      return 0;
    case ZIP_SOURCE_WRITE: {
      std::uint64_t done = 0;
      while (done < length) {
        const ssize_t n = ::pwrite(sink->fd, static_cast<const char*>(data) + done, length - done,
                                   static_cast<off_t>(sink->position + done));
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

Writer::Writer(int fd) : state_(std::make_unique<State>()) {
  state_->sink.fd = fd;
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

void Writer::Add(std::string_view name, std::string bytes) {
  State& s = *state_;
  const std::string& data = s.buffers.emplace_back(std::move(bytes));
  zip_source_t* source = zip_source_buffer(s.archive, data.data(), data.size(), 0);
  if (source == nullptr) throw ArchiveError(s.archive);
  const zip_int64_t index = zip_file_add(s.archive, std::string(name).c_str(), source, ZIP_FL_ENC_UTF_8);
  s.Added(index, source);
  if (zip_set_file_compression(s.archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 6) < 0) {
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
  for (Stream& stream : s.streams) {
    if (stream.failure) std::rethrow_exception(stream.failure);
  }
  throw failure;
}

}  // namespace quorvane::engines::pptx::zip
