// The hostile decks of hostile_decks.hpp. Valid decks come from the deck builder; hostile structure
// is written as XML text into a built deck, or as raw zip bytes (a rewritten central directory).
#include "deckmaker/hostile_decks.hpp"

#include <fcntl.h>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#endif
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "common/platform.hpp"
#include "engines/pptx/builder.hpp"
#include "engines/pptx/zip.hpp"

namespace quorvane::testing::hostile {
namespace {

namespace fs = std::filesystem;
namespace builder = engines::pptx::builder;
namespace zip = engines::pptx::zip;

constexpr std::int32_t kFailed = -10;       // the converters' generic failure (a damaged file)
constexpr std::int32_t kNotConverted = -16;  // the save that hands the deck to the office failed
constexpr std::int32_t kInputNotFound = -5;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::uint32_t Get32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
  return v;
}
std::uint16_t Get16(const std::string& b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8));
}
void Put32(std::string& b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put16(std::string& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}

// A deterministic stream of pseudo-random numbers.
struct Random {
  std::uint64_t state = 88172645463325252ull;
  std::uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<std::uint32_t>(state >> 16);
  }
  // Six letters, so that repeated markup does not compress like a zip bomb.
  std::string Word() {
    std::string w(6, 'a');
    for (char& c : w) c = static_cast<char>('a' + Next() % 26);
    return w;
  }
};

constexpr std::string_view kSlideStart =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    R"(<p:sld xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships" )"
    R"(xmlns:p="http://schemas.openxmlformats.org/presentationml/2006/main"><p:cSld><p:spTree>)"
    R"(<p:nvGrpSpPr><p:cNvPr id="1" name=""/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr><p:grpSpPr/>)";
constexpr std::string_view kSlideEnd =
    R"(</p:spTree></p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sld>)";

// A text box whose run text is `escapedText` as it stands in the XML.
std::string TextBoxXml(std::uint32_t id, std::string_view escapedText) {
  return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) +
         "\" name=\"Text\"/><p:cNvSpPr txBox=\"1\"/><p:nvPr/></p:nvSpPr><p:spPr/><p:txBody><a:bodyPr/><a:p><a:r>"
         "<a:t>" +
         std::string(escapedText) + "</a:t></a:r></a:p></p:txBody></p:sp>";
}

builder::DeckPlan OneTextBox(const std::u16string& text) {
  builder::DeckPlan plan;
  plan.slides.emplace_back().shapes = {builder::TextBox(text)};
  return plan;
}

// A built deck of one slide whose slide part is `slideXml`.
void WriteWithSlide(const std::string& path, const std::string& slideXml) {
  auto package = builder::Build(OneTextBox(u"placeholder"));
  package->SetPart("/ppt/slides/slide1.xml", slideXml, {});
  package->Save(path);
}

std::string Slide(std::string_view shapes) { return std::string(kSlideStart) + std::string(shapes) + std::string(kSlideEnd); }

// --- Special inputs ------------------------------------------------------------------------------

#ifndef _WIN32
void MakeFifo(const std::string& path) {
  if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo " + path + ": " + std::strerror(errno));
}

void MakeSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long: " + path);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) ::close(fd);  // the socket's name stays in the folder
  if (!bound) throw std::runtime_error("bind " + path + ": " + std::strerror(errno));
}

#endif

// --- Zip-level decks -----------------------------------------------------------------------------

// A deck of `SmallDeck` plus the entries `add` writes, through the zip layer.
void WriteZipWith(const std::string& path, const std::function<void(zip::Writer&)>& add) {
  const std::string source = path + ".source";
  WriteAll(source, SmallDeck());
  const int in = platform::Open(source, O_RDONLY);
  const int out = platform::Open(path, O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) throw std::runtime_error("cannot open " + path);
  {
    const auto reader = zip::Reader::Open(in);
    zip::Writer writer(out);
    for (std::uint64_t i = 0; i < reader->size(); ++i) writer.AddCopy(reader->Entry(i).name, *reader, i);
    add(writer);
    writer.Finish();
  }
  ::close(out);
  fs::remove(source);
}

// A part of `size` zeros: inflates a thousand times its compressed size.
void AddZeros(zip::Writer& writer, std::string_view name, std::uint64_t size) {
  auto left = std::make_shared<std::uint64_t>(size);
  writer.AddStream(name, size, [left](char* buffer, std::size_t capacity) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(*left, capacity));
    std::memset(buffer, 0, n);
    *left -= n;
    return n;
  });
}

// Sets the uncompressed size the entry `name` declares, in its local header and in the directory.
std::string DeclareSize(const std::string& zipBytes, std::string_view name, std::uint32_t size) {
  std::vector<std::uint32_t> localHeaders;
  std::string out = EditDirectory(zipBytes, [&](std::vector<DirectoryRecord>& records) {
    for (DirectoryRecord& r : records) {
      if (r.name != name) continue;
      Put32(r.header, 24, size);
      localHeaders.push_back(r.localOffset());
    }
  });
  for (const std::uint32_t at : localHeaders) Put32(out, at + 22, size);
  return out;
}

// --- OpenDocument --------------------------------------------------------------------------------

constexpr std::string_view kOdfStart =
    R"(<?xml version="1.0" encoding="UTF-8"?>)"
    R"(<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" )"
    R"(xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" )"
    R"(xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" )"
    R"(xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.2">)"
    R"(<office:body><office:presentation><draw:page draw:name="page1">)";
constexpr std::string_view kOdfEnd = R"(</draw:page></office:presentation></office:body></office:document-content>)";

// An OpenDocument presentation whose first page holds `pageContent`.
void WriteOdp(const std::string& path, const std::string& pageContent) {
  const int fd = platform::Open(path, O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  zip::Writer writer(fd);
  writer.AddStored("mimetype", "application/vnd.oasis.opendocument.presentation");
  writer.Add("content.xml", std::string(kOdfStart) + pageContent + std::string(kOdfEnd));
  writer.Add("META-INF/manifest.xml",
             R"(<?xml version="1.0" encoding="UTF-8"?>)"
             R"(<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0">)"
             R"(<manifest:file-entry manifest:full-path="/" )"
             R"(manifest:media-type="application/vnd.oasis.opendocument.presentation"/>)"
             R"(<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>)"
             R"(</manifest:manifest>)");
  writer.Finish();
  ::close(fd);
}

std::vector<HostileDeck> MakeDecks() {
  std::vector<HostileDeck> decks;
  const auto add = [&](HostileDeck deck) { decks.push_back(std::move(deck)); };

#ifndef _WIN32  // Windows has no pipes, sockets or devices among its file names
  // --- Special inputs: refused at once, never waited for.
  add({.name = "a pipe (FIFO)", .fileName = "fifo.pptx", .write = MakeFifo, .cause = "is not a regular file",
       .text = kFailed, .save = kInputNotFound, .pdf = kInputNotFound});
  add({.name = "a socket", .fileName = "socket.pptx", .write = MakeSocket, .cause = "is not a regular file",
       .text = kFailed, .save = kInputNotFound, .pdf = kInputNotFound});
  add({.name = "a folder", .fileName = "folder.pptx",
       .write = [](const std::string& path) { fs::create_directory(path); }, .cause = "is not a regular file",
       .text = kFailed, .save = kInputNotFound, .pdf = kInputNotFound});
  add({.name = "a device", .fileName = "device.pptx",
       .write = [](const std::string& path) { fs::create_symlink("/dev/zero", path); },
       .cause = "is not a regular file", .text = kFailed, .save = kInputNotFound, .pdf = kInputNotFound});

#endif

  // --- Zip structure.
  add({.name = "truncated zip", .fileName = "truncated.pptx",
       .write = [](const std::string& path) {
         const std::string bytes = SmallDeck();
         WriteAll(path, bytes.substr(0, bytes.size() / 2));
       },
       .cause = "damaged", .text = kFailed, .save = kFailed, .pdf = kFailed});
  add({.name = "overlapping entries", .fileName = "overlap.pptx",
       .write = [](const std::string& path) {
         WriteAll(path, EditDirectory(SmallDeck(), [](std::vector<DirectoryRecord>& records) {
                    records.front().setCompressedSize(records.front().compressedSize() + 64);
                  }));
       },
       .cause = "overlap", .text = kFailed, .save = kFailed, .pdf = kFailed});
  // 2,000 directory entries pointing at one 1 MiB block: a save that copied each would write 2 GB.
  add({.name = "entries sharing one block", .fileName = "shared.pptx",
       .write = [](const std::string& path) {
         auto package = builder::Build(OneTextBox(u"hello"));
         std::string block(1u << 20, '\0');
         Random random;
         for (char& c : block) c = static_cast<char>(random.Next());
         package->SetPart("/ppt/media/block.bin", block, "application/octet-stream");
         package->Save(path);
         WriteAll(path, EditDirectory(ReadAll(path), [](std::vector<DirectoryRecord>& records) {
                    DirectoryRecord copy;
                    for (const DirectoryRecord& r : records)
                      if (r.name == "ppt/media/block.bin") copy = r;
                    for (int i = 0; i < 2000; ++i) {
                      copy.name = "ppt/media/copy" + std::to_string(i) + ".bin";
                      records.push_back(copy);
                    }
                  }));
       },
       .cause = "point at the same data", .text = kFailed, .save = kFailed, .pdf = kFailed});
  add({.name = "duplicated names", .fileName = "duplicate.pptx",
       .write = [](const std::string& path) {
         WriteAll(path, EditDirectory(SmallDeck(), [](std::vector<DirectoryRecord>& records) {
                    records[2].name = records[1].name;
                  }));
       },
       .cause = "twice", .text = kFailed, .save = kFailed, .pdf = kFailed});
  add({.name = "names differing in case only", .fileName = "case.pptx",
       .write = [](const std::string& path) {
         WriteAll(path, EditDirectory(SmallDeck(), [](std::vector<DirectoryRecord>& records) {
                    std::string name = records[1].name;
                    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                    records[2].name = name;
                  }));
       },
       .cause = "name the same part", .text = kFailed, .save = kFailed, .pdf = kFailed});
  add({.name = "zip bomb", .fileName = "bomb.pptx",
       .write = [](const std::string& path) {
         WriteZipWith(path, [](zip::Writer& w) { AddZeros(w, "ppt/media/bomb.bin", 300ull << 20); });
       },
       .cause = "maxCompressionRatio", .text = kFailed, .save = kFailed, .pdf = kFailed});
  // The same bomb declaring 4 KiB: opens (the declaration is a claim), is never read by the text
  // export, is copied as it is by a save, and is refused when the office would be handed it.
  add({.name = "zip bomb declaring a small size", .fileName = "liar.pptx",
       .write = [](const std::string& path) {
         WriteZipWith(path, [](zip::Writer& w) { AddZeros(w, "ppt/media/bomb.bin", 300ull << 20); });
         WriteAll(path, DeclareSize(ReadAll(path), "ppt/media/bomb.bin", 4096));
       },
       .cause = "maxCompressionRatio", .text = 0, .save = 0, .pdf = kNotConverted, .opens = true,
       .mustKeep = u"hello"});

  // --- XML.
  add({.name = "DOCTYPE slide", .fileName = "doctype.pptx",
       .write = [](const std::string& path) {
         const std::string slide = Slide(TextBoxXml(2, "&x;"));
         const std::size_t declarationEnd = slide.find("?>") + 2;
         WriteWithSlide(path, slide.substr(0, declarationEnd) + "<!DOCTYPE p:sld [<!ENTITY x \"xx\">]>" +
                                  slide.substr(declarationEnd));
       },
       .cause = "DOCTYPE", .text = kFailed, .save = 0, .pdf = kNotConverted, .opens = true});
  add({.name = "200,000 nested groups", .fileName = "nested.pptx",
       .write = [](const std::string& path) {
         Random random;
         std::string shapes;
         for (int i = 0; i < 200000; ++i)
           shapes += "<p:grpSp><p:nvGrpSpPr><p:cNvPr id=\"" + std::to_string(i + 2) + "\" name=\"" + random.Word() +
                     "\"/></p:nvGrpSpPr>";
         for (int i = 0; i < 200000; ++i) shapes += "</p:grpSp>";
         WriteWithSlide(path, Slide(shapes));
       },
       // The engine meets the 65th group first, the office's check the 257th level.
       .cause = "deeper than the limit", .text = kFailed, .save = 0, .pdf = kNotConverted, .opens = true});
  add({.name = "100,000 shapes", .fileName = "shapes.pptx",
       .write = [](const std::string& path) {
         Random random;
         std::string shapes;
         for (int i = 0; i < 100000; ++i)
           shapes += "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(i + 2) + "\" name=\"" + random.Word() +
                     "\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr/></p:sp>";
         WriteWithSlide(path, Slide(shapes));
       },
       .cause = "maxXmlElements", .text = kFailed, .save = 0, .pdf = kNotConverted, .opens = true});
  // 50 MB in one run: more than the 16 Mi characters a text may have. Mostly one letter, so that
  // the deck stays small, but varied enough not to inflate like a zip bomb.
  add({.name = "50 MB text run", .fileName = "longtext.pptx",
       .write = [](const std::string& path) {
         Random random;
         std::string text(50u << 20, 'a');
         for (std::size_t i = 0; i < text.size(); i += 1 + random.Next() % 48) text[i] = 'b';
         WriteWithSlide(path, Slide(TextBoxXml(2, text)));
       },
       .cause = "maxTextLength", .text = kFailed, .save = 0, .pdf = kNotConverted, .opens = true});
  add({.name = "groups nested 65 deep", .fileName = "deepgroups.pptx",
       .write = [](const std::string& path) {
         builder::ShapePlan shape = builder::TextBox(u"deep text");
         for (int i = 0; i < 65; ++i) shape = builder::Group({shape});
         builder::DeckPlan plan;
         plan.slides.emplace_back().shapes = {shape, builder::TextBox(u"shallow text")};
         builder::Write(plan, path);
       },
       .cause = "maxGroupDepth", .text = kFailed, .save = 0, .pdf = 0, .opens = true, .needsOffice = true});
  add({.name = "NUL character reference in a run", .fileName = "nul.pptx",
       .write = [](const std::string& path) { WriteWithSlide(path, Slide(TextBoxXml(2, "before&#x0;after"))); },
       .text = 0, .save = 0, .opens = true, .mustKeep = u"before\uFFFDafter"});
  add({.name = "control characters in a run", .fileName = "controls.pptx",
       .write = [](const std::string& path) {
         WriteWithSlide(path, Slide(TextBoxXml(2, "a\x01" "b&#xD800;c\x7f" "d&#27;e\nf")));
       },
       .text = 0, .save = 0, .opens = true, .mustKeep = u"a\uFFFDb\uFFFDc\uFFFDd\uFFFDe\vf"});

  // --- Files of other formats, refused before the office loads them.
  add({.name = "OpenDocument, 200,000 nested groups", .fileName = "nested.odp",
       .write = [](const std::string& path) {
         Random random;
         std::string content;
         for (int i = 0; i < 200000; ++i) content += "<draw:g draw:name=\"" + random.Word() + "\">";
         for (int i = 0; i < 200000; ++i) content += "</draw:g>";
         WriteOdp(path, content);
       },
       .cause = "maxXmlDepth", .text = kFailed, .save = kFailed, .pdf = kFailed});
  add({.name = "OpenDocument, 100,000 shapes", .fileName = "shapes.odp",
       .write = [](const std::string& path) {
         Random random;
         std::string content;
         for (int i = 0; i < 100000; ++i)
           content += "<draw:frame draw:name=\"" + random.Word() + "\"><draw:text-box><text:p>" + random.Word() +
                      "</text:p></draw:text-box></draw:frame>";
         WriteOdp(path, content);
       },
       .cause = "maxXmlElements", .text = kFailed, .save = kFailed, .pdf = kFailed});
  add({.name = "flat OpenDocument, groups nested 300 deep", .fileName = "nested.fodp",
       .write = [](const std::string& path) {
         std::string content;
         for (int i = 0; i < 300; ++i) content += "<draw:g>";
         for (int i = 0; i < 300; ++i) content += "</draw:g>";
         std::string document(kOdfStart);
         document.replace(document.find("<office:document-content"), 24, "<office:document");
         document.replace(document.find("office:version"), 14,
                          "office:mimetype=\"application/vnd.oasis.opendocument.presentation\" office:version");
         WriteAll(path, document + content + R"(</draw:page></office:presentation></office:body></office:document>)");
       },
       .cause = "maxXmlDepth", .text = kFailed, .save = kFailed, .pdf = kFailed});
  add({.name = "legacy file with an oversized stream", .fileName = "oversized.ppt",
       .write = [](const std::string& path) {
         WriteAll(path, CompoundFile({{u"PowerPoint Document", std::string(512, 'x')}}, {0xFFFFFF00u}));
       },
       .cause = "maxCompoundFileSize", .text = kFailed, .save = kFailed, .pdf = kFailed});
  return decks;
}

}  // namespace

const std::vector<HostileDeck>& HostileDecks() {
  static const std::vector<HostileDeck> decks = MakeDecks();
  return decks;
}

std::string SmallDeck(const std::u16string& text) {
  std::string pattern = (fs::temp_directory_path() / "quorvane-small-deck-XXXXXX").string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw std::runtime_error("mkstemp");
  ::close(fd);
  builder::Write(OneTextBox(text), pattern);
  std::string bytes = ReadAll(pattern);
  fs::remove(pattern);
  return bytes;
}

std::uint32_t DirectoryRecord::localOffset() const { return Get32(header, 42); }
void DirectoryRecord::setLocalOffset(std::uint32_t offset) { Put32(header, 42, offset); }
std::uint32_t DirectoryRecord::compressedSize() const { return Get32(header, 20); }
void DirectoryRecord::setCompressedSize(std::uint32_t size) { Put32(header, 20, size); }

std::string EditDirectory(const std::string& zipBytes, const std::function<void(std::vector<DirectoryRecord>&)>& edit) {
  const std::size_t end = zipBytes.rfind("PK\x05\x06");
  if (end == std::string::npos || end + 22 > zipBytes.size()) throw std::invalid_argument("no end record");
  const std::uint32_t count = Get16(zipBytes, end + 10);
  const std::uint32_t offset = Get32(zipBytes, end + 16);
  std::vector<DirectoryRecord> records;
  std::size_t at = offset;
  for (std::uint32_t i = 0; i < count; ++i) {
    DirectoryRecord r;
    r.header = zipBytes.substr(at, 46);
    const std::size_t name = Get16(r.header, 28), extra = Get16(r.header, 30), comment = Get16(r.header, 32);
    r.name = zipBytes.substr(at + 46, name);
    r.extra = zipBytes.substr(at + 46 + name, extra);
    r.comment = zipBytes.substr(at + 46 + name + extra, comment);
    at += 46 + name + extra + comment;
    records.push_back(std::move(r));
  }
  edit(records);
  std::string out = zipBytes.substr(0, offset);
  for (DirectoryRecord& r : records) {
    Put16(r.header, 28, static_cast<std::uint16_t>(r.name.size()));
    Put16(r.header, 30, static_cast<std::uint16_t>(r.extra.size()));
    Put16(r.header, 32, static_cast<std::uint16_t>(r.comment.size()));
    out += r.header + r.name + r.extra + r.comment;
  }
  std::string record = zipBytes.substr(end, 22);
  Put16(record, 8, static_cast<std::uint16_t>(records.size()));
  Put16(record, 10, static_cast<std::uint16_t>(records.size()));
  Put32(record, 12, static_cast<std::uint32_t>(out.size() - offset));
  Put32(record, 16, offset);
  Put16(record, 20, 0);
  return out + record;
}

std::string CompoundFile(const std::vector<std::pair<std::u16string, std::string>>& streams,
                         const std::vector<std::uint32_t>& declaredSizes) {
  constexpr std::size_t kSector = 512;
  const std::size_t streamSectors = streams.size();  // one sector each
  std::string file(kSector * (3 + streamSectors), '\0');
  const unsigned char signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  for (std::size_t i = 0; i < 8; ++i) file[i] = static_cast<char>(signature[i]);
  Put16(file, 0x1A, 3);       // major version
  Put16(file, 0x1C, 0xFFFE);  // byte order
  Put16(file, 0x1E, 9);       // 512-byte sectors
  Put16(file, 0x20, 6);       // 64-byte mini sectors
  Put32(file, 0x2C, 1);       // one FAT sector
  Put32(file, 0x30, 1);       // directory at sector 1
  Put32(file, 0x38, 0);       // mini stream cutoff: everything is a regular stream
  Put32(file, 0x3C, 0xFFFFFFFE);
  Put32(file, 0x44, 0xFFFFFFFE);
  Put32(file, 0x4C, 0);  // FAT at sector 0
  for (std::size_t i = 1; i < 109; ++i) Put32(file, 0x4C + 4 * i, 0xFFFFFFFF);
  // FAT (sector 0, file offset 512): FAT sector, directory, then one sector per stream.
  const std::size_t fat = kSector;
  Put32(file, fat + 0, 0xFFFFFFFD);
  Put32(file, fat + 4, 0xFFFFFFFE);
  for (std::size_t i = 0; i < streamSectors; ++i) Put32(file, fat + 8 + 4 * i, 0xFFFFFFFE);
  for (std::size_t i = 2 + streamSectors; i < kSector / 4; ++i) Put32(file, fat + 4 * i, 0xFFFFFFFF);
  // Directory (sector 1): root, then the streams.
  const std::size_t dir = 2 * kSector;
  auto entry = [&](std::size_t index, const std::u16string& name, std::uint8_t type, std::uint32_t start,
                   std::uint32_t size) {
    const std::size_t at = dir + 128 * index;
    for (std::size_t i = 0; i < name.size(); ++i) Put16(file, at + 2 * i, name[i]);
    Put16(file, at + 64, static_cast<std::uint16_t>(2 * (name.size() + 1)));
    file[at + 66] = static_cast<char>(type);
    Put32(file, at + 116, start);
    Put32(file, at + 120, size);
  };
  entry(0, u"Root Entry", 5, 0xFFFFFFFE, 0);
  for (std::size_t i = 0; i < streams.size(); ++i) {
    const auto size = i < declaredSizes.size() ? declaredSizes[i] : static_cast<std::uint32_t>(streams[i].second.size());
    entry(i + 1, streams[i].first, 2, static_cast<std::uint32_t>(2 + i), size);
    file.replace(kSector * (3 + i), streams[i].second.size(), streams[i].second);
  }
  return file;
}

void WriteZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries) {
  const int fd = platform::Open(path, O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  {
    zip::Writer writer(fd);
    for (const auto& [name, bytes] : entries) writer.Add(name, bytes);
    writer.Finish();
  }
  ::close(fd);
}

void WritePasswordProtectedOdp(const std::string& path) {
  WriteZip(path, {{"mimetype", "application/vnd.oasis.opendocument.presentation"},
                  {"META-INF/manifest.xml",
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest:manifest xmlns:manifest=\"urn:oasis:names:"
                   "tc:opendocument:xmlns:manifest:1.0\" manifest:version=\"1.2\">\n <manifest:file-entry manifest:full-"
                   "path=\"/\" manifest:version=\"1.2\" manifest:media-type=\"application/vnd.oasis.opendocument."
                   "presentation\"/>\n <manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\""
                   "text/xml\" manifest:size=\"100\">\n  <manifest:encryption-data manifest:checksum-type=\"urn:oasis:"
                   "names:tc:opendocument:xmlns:manifest:1.0#sha256-1k\" manifest:checksum=\"vcA+9aZ6gUCXcnQHcoqpAAnQ"
                   "hqgiPdqQQhqUXzDZoV0=\">\n   <manifest:algorithm manifest:algorithm-name=\"http://www.w3.org/2001/"
                   "04/xmlenc#aes256-cbc\" manifest:initialisation-vector=\"2Xo9CpU7VJS98SJUwngEvA==\"/>\n   <manifest:"
                   "start-key-generation manifest:start-key-generation-name=\"http://www.w3.org/2000/09/xmldsig#sha256"
                   "\" manifest:key-size=\"32\"/>\n   <manifest:key-derivation manifest:key-derivation-name=\"PBKDF2\" "
                   "manifest:key-size=\"32\" manifest:iteration-count=\"1000\" manifest:salt=\"Mz/CYzhYV6fqR7oVrI7KNQ=="
                   "\"/>\n  </manifest:encryption-data>\n </manifest:file-entry>\n</manifest:manifest>\n"},
                  {"content.xml", std::string(112, 'x')}});
}

std::string CurrentUserAtom(std::uint32_t token) {
  std::string atom(20, '\0');
  atom[4] = '\xF6', atom[5] = '\x0F', atom[8] = 0x14;
  for (std::size_t i = 0; i < 4; ++i) atom[12 + i] = static_cast<char>((token >> (8 * i)) & 0xFF);
  return atom;
}

std::string WordFib(bool encrypted) {
  std::string fib(32, '\0');
  fib[0] = '\xEC', fib[1] = '\xA5', fib[11] = encrypted ? 0x01 : 0x00;
  return fib;
}

}  // namespace quorvane::testing::hostile
