#pragma once
// The one door to the zip library (private to the package layer; tests may use it to build
// archives). A Reader walks the directory of an archive held by a read-only file descriptor and
// inflates one entry at a time; a Writer builds a new archive into a file descriptor, from bytes in
// memory, from a generated stream, or by copying an entry's compressed data from a Reader as it is.
//
// Neither knows about parts, content types or limits: the package layer applies those on top
// (a Reader hands inflated data to a sink chunk by chunk, and the sink stops it by throwing).
// Failures throw zip::Error with a kind the package layer turns into its HRESULTs.
//
// Threads: a Reader or Writer is used from one thread at a time (the zip library keeps per-archive
// state even while reading).
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::engines::pptx::zip {

enum class ErrorKind {
  kNotZip,       // no zip directory where one should be
  kDamaged,      // a directory, header or compressed stream that does not hold together; CRC error
  kEncrypted,    // an entry encrypted with a zip password
  kUnsupported,  // a compression method the library does not have
  kRead,         // the system refused to read (systemError says why)
  kWrite,        // the system refused to write (systemError says why)
  kMemory,       // out of memory
  kTooLarge,     // a Writer would write more than the bytes it was allowed
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, int systemError, const std::string& what)
      : std::runtime_error(what), kind_(kind), systemError_(systemError) {}
  ErrorKind kind() const noexcept { return kind_; }
  int systemError() const noexcept { return systemError_; }  // errno, or 0

 private:
  ErrorKind kind_;
  int systemError_;
};

// One directory entry as the archive declares it. Sizes come from the directory: they are claims,
// to be checked against what inflating really produces.
struct EntryInfo {
  std::string name;  // UTF-8 (names not flagged as UTF-8 are converted from code page 437 when needed)
  std::uint64_t size = 0;
  std::uint64_t compressedSize = 0;
  bool stored = false;     // kept without compression
  bool encrypted = false;  // zip-level encryption: its data cannot be read
};

class Writer;

class Reader {
 public:
  // Reads the directory of the archive in `fd`, which the Reader owns from now on (closed when it
  // is destroyed, also when Open throws). The descriptor is only ever read (pread), never written.
  // Besides what the zip library checks, the layout is checked: the data of every entry (local
  // header, name, extra field and compressed bytes) must lie before the directory and share no byte
  // with another entry's, so that no byte of the file is inflated or copied twice (an archive whose
  // entries all point at one block would otherwise multiply it). Such an archive, and one whose
  // directory names an entry twice, is refused as kDamaged naming the entries.
  static std::unique_ptr<Reader> Open(int fd);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  std::uint64_t size() const;  // number of directory entries
  EntryInfo Entry(std::uint64_t index) const;

  // Inflates entry `index`, handing the data to `sink` in chunks of at most 64 KiB. A sink that
  // throws stops inflating (nothing more is read) and the exception passes through. A CRC mismatch
  // is reported only when the whole entry has been read.
  void Read(std::uint64_t index, const std::function<void(std::string_view)>& sink) const;

 private:
  friend class Writer;
  struct State;
  explicit Reader(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

class Writer {
 public:
  // Produces the next piece of a generated entry into `buffer` (up to `capacity` bytes) and
  // returns its length; 0 ends the entry.
  using Producer = std::function<std::size_t(char* buffer, std::size_t capacity)>;

  // A new archive written into `fd` (not owned, truncated when writing starts). Nothing is written
  // before Finish, which fails with kTooLarge (and stops writing) at the first byte beyond
  // `maxBytes`.
  explicit Writer(int fd, std::uint64_t maxBytes = UINT64_MAX);
  ~Writer();  // an unfinished archive is abandoned
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Entries are written in the order they are added, each with the same fixed time stamp
  // (1980-01-01 00:00) and no system attributes, so that equal input gives equal bytes.
  // `name` is stored as given (UTF-8); the zip library refuses a name added twice.
  void Add(std::string_view name, std::string bytes);  // deflated
  void AddStored(std::string_view name, std::string bytes);  // kept without compression
  // Deflated from a generator; `size` is the total the producer will give.
  void AddStream(std::string_view name, std::uint64_t size, Producer producer);
  // Copies entry `index` of `source` without inflating it (the compressed bytes and CRC as they
  // are). `source` must outlive Finish.
  void AddCopy(std::string_view name, const Reader& source, std::uint64_t index);

  // Writes the archive. Throws Error (kWrite with the system error, e.g. ENOSPC, or whatever
  // reading a copied entry's source raised); the descriptor's content is then undefined.
  void Finish();

 private:
  // `method` and `level` are the zip library's compression method and level.
  void AddEntry(std::string_view name, std::string bytes, std::int32_t method, std::uint32_t level);
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quorvane::engines::pptx::zip
