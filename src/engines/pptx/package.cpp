// The package layer over zip.hpp and xml.hpp (see package.hpp for the contract).
//
// An opened package keeps the read-only descriptor of its file open for its whole life: parts are
// inflated from it on demand, and Save copies unchanged parts from it as they are (compressed bytes
// and CRC, no inflating). Because Save only ever writes a new temporary file and renames it over the
// target, the source stays readable through that descriptor even when the target was its own name.
//
// Part names are kept percent-decoded ("/ppt/media/a b.png"), which is how relationship targets and
// [Content_Types].xml name them once decoded; the zip entry a part came from keeps its own spelling.
#include "engines/pptx/package.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "common/platform.hpp"
#include "common/markup.hpp"
#include "common/output_file.hpp"
#include "common/text.hpp"
#include "common/unique_fd.hpp"
#include "engines/pptx/xml.hpp"
#include "engines/pptx/zip.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::engines::pptx {

namespace {

constexpr std::string_view kContentTypesPart = "/[Content_Types].xml";
constexpr std::string_view kRelsContentType = "application/vnd.openxmlformats-package.relationships+xml";
constexpr std::string_view kXmlContentType = "application/xml";
constexpr std::string_view kUnknownContentType = "application/octet-stream";
constexpr std::string_view kContentTypesNamespace = "http://schemas.openxmlformats.org/package/2006/content-types";
constexpr std::string_view kPackageRelationshipsNamespace =
    "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
constexpr std::string_view kOleMagic = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
constexpr std::string_view kZipLocalHeader = "PK\x03\x04";

// Relationship types of strict packages, mapped to their transitional twins (as the XML layer maps
// strict namespaces), so that the model compares one spelling.
constexpr std::string_view kStrictRelationshipPrefix = "http://purl.oclc.org/ooxml/officeDocument/relationships/";
constexpr std::string_view kTransitionalRelationshipPrefix =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
struct TypeRename {
  std::string_view strict;
  std::string_view transitional;
};
constexpr TypeRename kStrictTypeRenames[] = {
    {"http://purl.oclc.org/ooxml/officeDocument/relationships/extendedProperties",
     "http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties"},
    {"http://purl.oclc.org/ooxml/officeDocument/relationships/customProperties",
     "http://schemas.openxmlformats.org/officeDocument/2006/relationships/custom-properties"},
    {"http://purl.oclc.org/ooxml/officeDocument/relationships/metadata/thumbnail",
     "http://schemas.openxmlformats.org/package/2006/relationships/metadata/thumbnail"},
};

// --- Small text helpers ------------------------------------------------------------------------

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

// The lookup key of a part name: part names compare without regard to ASCII case.
std::string Key(std::string_view partName) { return LowerAscii(partName); }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::vector<std::string_view> Split(std::string_view s, char separator) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = s.find(separator, start);
    out.push_back(s.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return out;
    start = end + 1;
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes %XX escapes of one name segment. A "%" not followed by two hex digits stays as it is.
// nullopt when an escape decodes to a character a segment cannot hold (NUL, "/", "\").
std::optional<std::string> DecodeSegment(std::string_view segment) {
  std::string out;
  out.reserve(segment.size());
  for (std::size_t i = 0; i < segment.size(); ++i) {
    char c = segment[i];
    if (c == '%' && i + 2 < segment.size() && HexValue(segment[i + 1]) >= 0 && HexValue(segment[i + 2]) >= 0) {
      c = static_cast<char>(HexValue(segment[i + 1]) * 16 + HexValue(segment[i + 2]));
      if (c == '\0' || c == '/' || c == '\\') return std::nullopt;
      i += 2;
    }
    out.push_back(c);
  }
  return out;
}

// Escapes what may not stand unescaped in a URI path segment (everything but the unreserved
// characters, the sub-delimiters, ":" and "@"); non-ASCII bytes are escaped byte by byte.
std::string EncodeSegment(std::string_view segment) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : segment) {
    const auto u = static_cast<unsigned char>(c);
    const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                       std::string_view("-._~!$&'()*+,;=:@").find(c) != std::string_view::npos;
    if (plain) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 15]);
    }
  }
  return out;
}

// "/a b/c.xml" -> "a%20b/c.xml" (the zip entry name of a new part) or "/a%20b/c.xml" (a part name
// as [Content_Types].xml writes it).
std::string EncodePath(std::string_view partName, bool leadingSlash) {
  std::string out;
  for (const std::string_view segment : Split(partName.substr(1), '/')) {
    if (!out.empty() || leadingSlash) out.push_back('/');
    out += EncodeSegment(segment);
  }
  return out;
}

// Whether `name` is a part name this layer accepts from a caller: absolute, no empty, "." or ".."
// segments, no backslash or NUL, not a folder, not [Content_Types].xml.
bool ValidPartName(std::string_view name) {
  if (name.size() < 2 || name.front() != '/' || name.back() == '/') return false;
  if (name.find('\\') != std::string_view::npos || name.find('\0') != std::string_view::npos) return false;
  for (const std::string_view segment : Split(name.substr(1), '/')) {
    if (segment.empty() || segment == "." || segment == "..") return false;
  }
  return !EqualNoCase(name, kContentTypesPart);
}

// The part name of a zip entry, or nullopt with the reason the entry is not a part.
std::optional<std::string> PartNameOfEntry(std::string_view entry, std::string* why) {
  auto refuse = [why](const char* reason) {
    *why = reason;
    return std::optional<std::string>();
  };
  if (entry.empty()) return refuse("an empty name");
  if (entry.back() == '/') return refuse("a folder entry");
  if (entry.front() == '/') return refuse("an absolute path");
  if (entry.find('\\') != std::string_view::npos) return refuse("a backslash in the name");
  if (entry.find('\0') != std::string_view::npos) return refuse("a NUL in the name");
  if (entry.size() >= 2 && entry[1] == ':') return refuse("a drive letter");
  std::string name;
  for (const std::string_view raw : Split(entry, '/')) {
    const std::optional<std::string> segment = DecodeSegment(raw);
    if (!segment) return refuse("an escape of a forbidden character");
    if (segment->empty()) return refuse("an empty path segment");
    if (*segment == "." || *segment == "..") return refuse("a \".\" or \"..\" segment");
    name += '/';
    name += *segment;
  }
  return name;
}

// The extension of a part name, lower case ("png" for "/ppt/media/image1.PNG"); empty when none.
std::string ExtensionOf(std::string_view partName) {
  const std::size_t slash = partName.rfind('/');
  const std::string_view file = slash == std::string_view::npos ? partName : partName.substr(slash + 1);
  const std::size_t dot = file.rfind('.');
  return dot == std::string_view::npos ? std::string() : LowerAscii(file.substr(dot + 1));
}

std::string_view LocalName(const char* qualified) {
  const std::string_view name(qualified);
  const std::size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::vector<xml::Node> ChildElements(xml::Node node, std::string_view localName) {
  std::vector<xml::Node> out;
  for (xml::Node child = node.first_child(); child; child = child.next_sibling()) {
    if (child.type() == pugi::node_element && LocalName(child.name()) == localName) out.push_back(child);
  }
  return out;
}

std::string_view AttributeValue(xml::Node node, const char* name) {
  const xml::Attribute attribute = node.attribute(name);
  return attribute ? std::string_view(attribute.value()) : std::string_view();
}

// Attribute text for XML we write: the five special characters escaped, white space other than
// the space character kept by reference, characters XML cannot carry dropped.
std::string EscapeAttribute(std::string_view value) { return markup::XmlEscaped(value, markup::kXmlAttribute); }

std::string NormalizeRelationshipType(std::string_view type) {
  for (const TypeRename& rename : kStrictTypeRenames) {
    if (type == rename.strict) return std::string(rename.transitional);
  }
  if (type.substr(0, kStrictRelationshipPrefix.size()) == kStrictRelationshipPrefix) {
    return std::string(kTransitionalRelationshipPrefix) + std::string(type.substr(kStrictRelationshipPrefix.size()));
  }
  return std::string(type);
}

// --- The single-file XML form ------------------------------------------------------------------

constexpr std::string_view kFlatNamespace = "http://schemas.microsoft.com/office/2006/xmlPackage";
constexpr std::string_view kFlatHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<?mso-application progid=\"PowerPoint.Show\"?>\r\n";
constexpr std::string_view kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Whether the first bytes of a file are those of the single-file form: after a UTF-8 byte-order
// mark, white space, processing instructions, comments and a DOCTYPE, a root element named "package" (with
// any prefix) whose start tag declares the package namespace.
bool IsFlatPackage(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  for (;;) {
    while (!head.empty() && IsXmlSpace(head.front())) head.remove_prefix(1);
    // A DOCTYPE is skipped here so that the parser refuses it by name; its internal subset ends
    // in "]>".
    const bool subset = head.starts_with("<!DOCTYPE") && head.find('[') < head.find('>');
    const std::string_view close = head.starts_with("<?")     ? "?>"
                                   : head.starts_with("<!--") ? "-->"
                                   : subset                   ? "]>"
                                   : head.starts_with("<!")   ? ">"
                                                              : "";
    if (close.empty()) break;
    const std::size_t end = head.find(close);
    if (end == std::string_view::npos) return false;
    head.remove_prefix(end + close.size());
  }
  if (!head.starts_with("<")) return false;
  const std::size_t tagEnd = head.find('>');
  if (tagEnd == std::string_view::npos) return false;
  const std::string_view tag = head.substr(1, tagEnd - 1);
  const std::size_t nameEnd = std::min(tag.find_first_of(" \t\r\n/"), tag.size());
  const std::string_view name = tag.substr(0, nameEnd);
  const std::size_t colon = name.find(':');
  const std::string_view prefix = colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
  if (name.substr(prefix.empty() ? 0 : colon + 1) != "package") return false;
  const std::string declaration = prefix.empty() ? std::string("xmlns") : "xmlns:" + std::string(prefix);
  for (const char quote : {'"', '\''}) {
    const std::string bound = declaration + "=" + quote + std::string(kFlatNamespace) + quote;
    if (tag.find(bound) != std::string_view::npos) return true;
  }
  return false;
}

// RFC 4648 base64 in lines of 76 characters, each ended by CR LF.
std::string Base64Lines(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() / 3 * 4 + bytes.size() / 57 * 2 + 8);
  std::size_t column = 0;
  const auto put = [&](char c) {
    out += c;
    if (++column == 76) {
      out += "\r\n";
      column = 0;
    }
  };
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 3; ++k) v = (v << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k) put(k <= n ? kBase64Alphabet[(v >> (18 - 6 * k)) & 63] : '=');
  }
  if (column != 0) out += "\r\n";
  return out;
}

// Decodes base64, white space ignored; nullopt (with `why` set) for any other character outside
// the alphabet, padding in the middle or a length that is not a whole number of quads.
std::optional<std::string> DecodeBase64(std::string_view text, std::string* why) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t v = 0;
  std::size_t held = 0, padding = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (IsXmlSpace(c)) continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const std::size_t value = kBase64Alphabet.find(c);
    if (value == std::string_view::npos || padding > 0) {
      *why = value == std::string_view::npos ? "the character '" + std::string(1, c) + "' at offset " +
                                                   std::to_string(i) + " is not base64"
                                             : "data follows the padding at offset " + std::to_string(i);
      return std::nullopt;
    }
    v = (v << 6) | static_cast<std::uint32_t>(value);
    if (++held == 4) {
      out += static_cast<char>(v >> 16);
      out += static_cast<char>(v >> 8);
      out += static_cast<char>(v);
      held = 0;
      v = 0;
    }
  }
  if (held == 1 || padding > 2 || (held == 0 && padding > 0) || (held > 0 && held + padding != 4 && padding > 0)) {
    *why = "it ends in the middle of a group of four characters";
    return std::nullopt;
  }
  if (held == 2) out += static_cast<char>(v >> 4);
  if (held == 3) {
    out += static_cast<char>(v >> 10);
    out += static_cast<char>(v >> 2);
  }
  return out;
}

// Whether `text` is valid UTF-8 holding no character XML 1.0 cannot carry (C0 controls other
// than tab, LF and CR): only such text can stand inline in the single-file form as it is.
bool IsInlineText(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
      ++i;
      continue;
    }
    const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (length == 0 || c > 0xF4 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    const auto second = static_cast<unsigned char>(text[i + 1]);
    if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second >= 0xA0) || (c == 0xF0 && second < 0x90) ||
        (c == 0xF4 && second >= 0x90))
      return false;  // overlong forms, surrogates, beyond U+10FFFF
    i += length;
  }
  return true;
}

// --- Failures ----------------------------------------------------------------------------------

[[noreturn]] void Fail(std::int32_t number, const std::string& description) {
  throw AutomationError(number, text::FromUtf8(description));
}

std::string Quoted(std::string_view path) { return "\"" + std::string(path) + "\""; }

std::string SystemReason(int error) { return std::strerror(error); }

[[noreturn]] void FailWrite(const std::string& target, int error) {
  if (platform::IsDiskFull(error) || error == EFBIG) {
    Fail(failure::kWin32DiskFull, target + "the disk is full (" + SystemReason(error) + ").");
  }
  Fail(failure::kEAccessDenied, target + "writing failed (" + SystemReason(error) + ").");
}

bool FolderExists(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat st {};
  return platform::Stat(folder, st) == 0 && S_ISDIR(st.st_mode);
}

// What a file that is not a regular file is, for the refusal.
std::string KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a pipe (FIFO)";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "not a file";
}

[[noreturn]] void FailNotRegular(const std::string& path, mode_t mode) {
  Fail(S_ISDIR(mode) ? failure::kEAccessDenied : failure::kWin32InvalidData,
       Quoted(path) + " is not a regular file: it is " + KindOf(mode) + ".");
}

void CheckSizeLimits(const Limits& l, std::uint64_t size, std::uint64_t compressed, std::uint64_t before,
                     std::string_view partName, const std::string& file);

// --- The package -------------------------------------------------------------------------------

class PackageImpl final : public Package {
 public:
  PackageImpl(std::string path, const Limits& limits) : path_(std::move(path)), limits_(limits) {}

  static std::shared_ptr<PackageImpl> OpenFile(const std::string& path, const Limits& limits);

  static std::shared_ptr<PackageImpl> CreateEmpty() {
    auto package = std::make_shared<PackageImpl>(std::string(), kDefaultLimits);
    package->defaults_.emplace("rels", kRelsContentType);
    package->defaults_.emplace("xml", kXmlContentType);
    return package;
  }

  const std::string& path() const override { return path_; }
  const std::vector<std::string>& Notes() const override { return notes_; }

  std::vector<std::string> PartNames() const override {
    std::vector<std::string> names;
    names.reserve(order_.size());
    for (const std::string& key : order_) names.push_back(parts_.at(key).name);
    return names;
  }

  bool HasPart(std::string_view partName) const override { return parts_.count(Key(partName)) != 0; }

  std::string ContentType(std::string_view partName) const override {
    const std::string key = Key(partName);
    if (parts_.count(key) == 0) return {};
    if (const auto found = overrides_.find(key); found != overrides_.end()) return found->second;
    if (const auto found = defaults_.find(ExtensionOf(partName)); found != defaults_.end()) return found->second;
    return {};
  }

  std::string ReadPart(std::string_view partName) const override {
    const auto found = parts_.find(Key(partName));
    if (found == parts_.end()) Fail(failure::kWin32InvalidData, Name() + " has no part " + std::string(partName) + ".");
    const Part& part = found->second;
    if (part.bytes) return *part.bytes;
    return Inflate(part.entry, part.name);
  }

  std::vector<Relationship> Relationships(std::string_view sourcePart) const override;

  void SetPart(std::string_view partName, std::string bytes, std::string_view contentType) override {
    if (!ValidPartName(partName)) {
      Fail(failure::kWin32InvalidData, Quoted(partName) + " is not a valid part name for " + Name() + ".");
    }
    const std::string key = Key(partName);
    auto found = parts_.find(key);
    if (found == parts_.end()) {
      found = parts_.emplace(key, Part{std::string(partName), {}, 0, std::nullopt}).first;
      order_.push_back(key);
    }
    found->second.bytes = std::move(bytes);
    if (!contentType.empty()) overrides_[key] = std::string(contentType);
  }

  void RemovePart(std::string_view partName) override {
    Erase(Key(partName));
    Erase(Key(part_name::RelsPartOf(partName)));
  }

  void SetRelationships(std::string_view sourcePart, const std::vector<Relationship>& relationships) override;

  void SetContentType(std::string_view partName, std::string_view contentType) override {
    const std::string key = Key(partName);
    if (parts_.count(key) == 0)
      Fail(failure::kWin32InvalidData, Name() + " has no part " + std::string(partName) + ".");
    if (contentType.empty()) {
      overrides_.erase(key);
    } else {
      overrides_[key] = std::string(contentType);
    }
  }

  void Save(const std::string& path) const override;
  void SaveFlat(const std::string& path) const override;

  // Reads the single-file XML form from `fd` (a regular file of `size` bytes).
  static std::shared_ptr<PackageImpl> OpenFlat(const std::string& path, int fd, std::uint64_t size,
                                               const Limits& limits);

 private:
  struct Part {
    std::string name;                  // as first spelled (by the zip entry or the caller)
    std::string entryName;             // zip entry in the source file; empty for a part made in memory
    std::uint64_t entry = 0;           // its index in the source
    std::optional<std::string> bytes;  // content set in memory, which replaces the entry's
  };

  std::string Name() const { return path_.empty() ? std::string("the new package") : Quoted(path_); }

  void Erase(const std::string& key) {
    if (parts_.erase(key) == 0) return;
    order_.erase(std::find(order_.begin(), order_.end(), key));
    overrides_.erase(key);
  }

  // Inflates entry `index` under the limits; `partName` is for messages.
  std::string Inflate(std::uint64_t index, std::string_view partName) const;
  // Fails when a part of `size` bytes (inflated from `compressed`), read after `before` bytes of
  // other parts, passes a limit.
  void CheckSize(std::uint64_t size, std::uint64_t compressed, std::uint64_t before, std::string_view partName) const;
  // The ratio an entry declares, checked when the package is opened: a zip bomb is refused at once
  // (inflating still checks what really comes out). Large parts are refused only when read, so
  // that a deck with a large video still opens for what does not read it.
  void CheckDeclaredSize(const zip::EntryInfo& info, std::string_view partName) const {
    Limits ratioOnly = limits_;
    ratioOnly.maxPartSize = ratioOnly.maxTotalUncompressed = UINT64_MAX;
    CheckSizeLimits(ratioOnly, info.size, info.compressedSize, 0, partName, Name());
  }
  void ReadContentTypes(std::uint64_t index);
  std::string ContentTypesXml() const;
  [[noreturn]] void FailZip(const zip::Error& error, std::string_view partName) const;
  std::shared_ptr<xml::Document> Parse(const std::string& bytes, std::string_view partName) const;

  std::string path_;
  Limits limits_;
  std::unique_ptr<zip::Reader> reader_;
  std::vector<std::string> order_;               // keys of the parts in zip order, then in the order they were added
  std::unordered_map<std::string, Part> parts_;  // by Key
  std::map<std::string, std::string> defaults_;  // extension (lower case) -> content type
  std::unordered_map<std::string, std::string> overrides_;  // Key -> content type
  std::vector<std::string> notes_;
  mutable std::uint64_t inflated_ = 0;  // bytes inflated so far, for Limits::maxTotalUncompressed
};

[[noreturn]] void PackageImpl::FailZip(const zip::Error& error, std::string_view partName) const {
  const std::string where = partName.empty() ? Name() : "Part " + std::string(partName) + " of " + Name();
  switch (error.kind()) {
    case zip::ErrorKind::kEncrypted: Fail(failure::kEAccessDenied, where + " is encrypted (" + error.what() + ").");
    case zip::ErrorKind::kMemory: Fail(failure::kEOutOfMemory, where + " could not be read: not enough memory.");
    case zip::ErrorKind::kRead: Fail(failure::kWin32InvalidData, where + " could not be read (" + error.what() + ").");
    case zip::ErrorKind::kUnsupported:
      Fail(failure::kWin32InvalidData, where + " uses a zip feature that is not supported (" + error.what() + ").");
    case zip::ErrorKind::kNotZip:
    case zip::ErrorKind::kDamaged:
    case zip::ErrorKind::kWrite:
    case zip::ErrorKind::kTooLarge: break;
  }
  Fail(failure::kWin32InvalidData, where + " is damaged (" + error.what() + ").");
}

// Fails when a part of `size` bytes (inflated from `compressed`), read after `before` bytes of
// other parts of the file `file` (quoted), passes a limit.
void CheckSizeLimits(const Limits& l, std::uint64_t size, std::uint64_t compressed, std::uint64_t before,
                     std::string_view partName, const std::string& file) {
  const std::string part = "Part " + std::string(partName) + " of " + file;
  if (size > l.maxPartSize) {
    Fail(failure::kEOutOfMemory,
         part + " is larger than the limit of " + std::to_string(l.maxPartSize) + " bytes (maxPartSize).");
  }
  if (size > l.compressionRatioGrace && l.maxCompressionRatio > 0 &&
      compressed <= std::numeric_limits<std::uint64_t>::max() / l.maxCompressionRatio &&
      size > compressed * l.maxCompressionRatio) {
    Fail(failure::kEOutOfMemory, part + " inflates to more than " + std::to_string(l.maxCompressionRatio) +
                                     " times its compressed size (maxCompressionRatio): refused as a zip bomb.");
  }
  if (size > l.maxTotalUncompressed || before > l.maxTotalUncompressed - size) {
    Fail(failure::kEOutOfMemory,
         "Reading " + file + " exceeds the limit of " + std::to_string(l.maxTotalUncompressed) +
             " bytes inflated in total (maxTotalUncompressed) at part " + std::string(partName) + ".");
  }
}

void PackageImpl::CheckSize(std::uint64_t size, std::uint64_t compressed, std::uint64_t before,
                            std::string_view partName) const {
  CheckSizeLimits(limits_, size, compressed, before, partName, Name());
}

std::string PackageImpl::Inflate(std::uint64_t index, std::string_view partName) const {
  const zip::EntryInfo info = [&] {
    try {
      return reader_->Entry(index);
    } catch (const zip::Error& error) {
      FailZip(error, partName);
    }
  }();
  if (info.encrypted)
    Fail(failure::kEAccessDenied, "Part " + std::string(partName) + " of " + Name() + " is encrypted.");

  const std::string part = "Part " + std::string(partName) + " of " + Name();
  auto tooLarge = [&](std::uint64_t size) { CheckSize(size, info.compressedSize, inflated_, partName); };
  // The declared size is a claim: it may only refuse early. What inflating produces is checked as
  // it comes, and inflating stops at the first byte beyond a limit.
  tooLarge(info.size);
  std::string out;
  out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(info.size, 1u << 26)));
  try {
    reader_->Read(index, [&](std::string_view chunk) {
      tooLarge(out.size() + chunk.size());
      out.append(chunk);
    });
  } catch (const zip::Error& error) {
    FailZip(error, partName);
  } catch (const std::bad_alloc&) {
    Fail(failure::kEOutOfMemory, part + " could not be read: not enough memory.");
  }
  inflated_ += out.size();
  return out;
}

std::shared_ptr<xml::Document> PackageImpl::Parse(const std::string& bytes, std::string_view partName) const {
  try {
    return xml::Document::Parse(bytes, partName, limits_);
  } catch (const AutomationError& error) {
    Fail(error.number(), Name() + ": " + text::ToUtf8(error.description()));
  }
}

std::shared_ptr<PackageImpl> PackageImpl::OpenFile(const std::string& path, const Limits& limits) {
  UniqueFd fd(OpenRegularFile(path));
  struct stat st {};
  if (::fstat(fd.get(), &st) < 0) {
    Fail(failure::kWin32InvalidData, Quoted(path) + " could not be read (" + SystemReason(errno) + ").");
  }
  if (st.st_size == 0)
    Fail(failure::kWin32InvalidData, Quoted(path) + " is empty (0 bytes): it is not a presentation.");

  char head[8] = {};
  ssize_t got;
  do {
    got = platform::ReadAt(fd.get(), head, sizeof head, 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0) Fail(failure::kWin32InvalidData, Quoted(path) + " could not be read (" + SystemReason(errno) + ").");
  const std::string_view magic(head, static_cast<std::size_t>(got));
  if (magic == kOleMagic) {
    Fail(failure::kEAccessDenied,
         Quoted(path) +
             " is encrypted or is a legacy binary file (an OLE compound file), not an Office Open XML "
             "package.");
  }

  if (magic.substr(0, 4) != kZipLocalHeader) {
    std::string start(4096, '\0');
    ssize_t n;
    do {
      n = platform::ReadAt(fd.get(), start.data(), start.size(), 0);
    } while (n < 0 && errno == EINTR);
    start.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    if (IsFlatPackage(start)) return OpenFlat(path, fd.get(), static_cast<std::uint64_t>(st.st_size), limits);
  }

  auto package = std::make_shared<PackageImpl>(path, limits);
  try {
    package->reader_ = zip::Reader::Open(fd.release());
  } catch (const zip::Error& error) {
    if (error.kind() == zip::ErrorKind::kNotZip) {
      if (magic.substr(0, 4) == kZipLocalHeader) {
        Fail(failure::kWin32InvalidData, Quoted(path) + " is damaged: its zip directory is missing or truncated.");
      }
      Fail(failure::kWin32InvalidData, Quoted(path) + " is not a presentation package (not a zip file).");
    }
    package->FailZip(error, {});
  }

  const std::uint64_t entries = package->reader_->size();
  if (entries > limits.maxParts) {
    Fail(failure::kEOutOfMemory, Quoted(path) + " has " + std::to_string(entries) +
                                     " zip entries, more than the limit of " + std::to_string(limits.maxParts) +
                                     " (maxParts).");
  }
  std::optional<std::uint64_t> contentTypes;
  std::string contentTypesEntry;
  for (std::uint64_t i = 0; i < entries; ++i) {
    zip::EntryInfo info;
    try {
      info = package->reader_->Entry(i);
    } catch (const zip::Error& error) {
      package->FailZip(error, {});
    }
    std::string why;
    const std::optional<std::string> name = PartNameOfEntry(info.name, &why);
    if (!name) {
      if (why != "a folder entry") package->notes_.push_back("Zip entry \"" + info.name + "\" ignored: " + why + ".");
      continue;
    }
    // A part named twice (in any spelling) could be read as one thing and handed on as another.
    const std::string key = Key(*name);
    const std::string* first = nullptr;
    if (key == Key(kContentTypesPart)) {
      if (contentTypes) first = &contentTypesEntry;
    } else if (const auto found = package->parts_.find(key); found != package->parts_.end()) {
      first = &found->second.entryName;
    }
    if (first != nullptr) {
      Fail(failure::kWin32InvalidData, Quoted(path) + " is damaged: zip entries \"" + *first + "\" and \"" + info.name +
                                           "\" name the same part " + *name + ".");
    }
    package->CheckDeclaredSize(info, *name);
    if (key == Key(kContentTypesPart)) {
      contentTypes = i;
      contentTypesEntry = info.name;
      continue;
    }
    package->parts_.emplace(key, Part{*name, info.name, i, std::nullopt});
    package->order_.push_back(key);
  }
  if (!contentTypes) {
    Fail(failure::kWin32InvalidData, Quoted(path) + " is not a presentation package: it has no [Content_Types].xml.");
  }
  package->ReadContentTypes(*contentTypes);
  return package;
}

void PackageImpl::ReadContentTypes(std::uint64_t index) {
  const std::shared_ptr<xml::Document> document = Parse(Inflate(index, kContentTypesPart), kContentTypesPart);
  const xml::Node root = document->root();
  if (!root || LocalName(root.name()) != "Types") {
    Fail(failure::kWin32InvalidData, Name() + " is damaged: its [Content_Types].xml has no Types element.");
  }
  for (const xml::Node node : ChildElements(root, "Default")) {
    std::string_view extension = AttributeValue(node, "Extension");
    const std::string_view type = AttributeValue(node, "ContentType");
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    if (!extension.empty() && !type.empty()) defaults_.emplace(LowerAscii(extension), type);
  }
  for (const xml::Node node : ChildElements(root, "Override")) {
    const std::string_view partName = AttributeValue(node, "PartName");
    const std::string_view type = AttributeValue(node, "ContentType");
    if (type.empty() || partName.empty() || partName.front() != '/') continue;
    std::string why;
    const std::optional<std::string> name = PartNameOfEntry(partName.substr(1), &why);
    if (name) overrides_.emplace(Key(*name), type);
  }
}

std::vector<Relationship> PackageImpl::Relationships(std::string_view sourcePart) const {
  // Targets resolve against the part's own spelling, whatever case the caller used.
  const auto known = parts_.find(Key(sourcePart));
  const std::string source = known != parts_.end() ? known->second.name
                             : sourcePart.empty()  ? std::string("/")
                                                   : std::string(sourcePart);
  const std::string relsPart = part_name::RelsPartOf(source);
  if (!HasPart(relsPart)) return {};
  const std::shared_ptr<xml::Document> document = Parse(ReadPart(relsPart), relsPart);
  const xml::Node root = document->root();
  if (!root || LocalName(root.name()) != "Relationships") {
    Fail(failure::kWin32InvalidData, Name() + " is damaged: part " + relsPart + " has no Relationships element.");
  }
  std::vector<Relationship> out;
  std::unordered_set<std::string> ids;
  for (const xml::Node node : ChildElements(root, "Relationship")) {
    Relationship relationship;
    relationship.id = AttributeValue(node, "Id");
    relationship.type = NormalizeRelationshipType(AttributeValue(node, "Type"));
    relationship.target = AttributeValue(node, "Target");
    relationship.external = EqualNoCase(AttributeValue(node, "TargetMode"), "External");
    if (relationship.id.empty() || relationship.target.empty() || !ids.insert(relationship.id).second) continue;
    if (!relationship.external) {
      std::optional<std::string> partName = part_name::Resolve(source, relationship.target);
      if (!partName) continue;  // leaves the package: not ours to follow
      relationship.partName = std::move(*partName);
    }
    out.push_back(std::move(relationship));
  }
  return out;
}

void PackageImpl::SetRelationships(std::string_view sourcePart, const std::vector<Relationship>& relationships) {
  const std::string source = sourcePart.empty() ? std::string("/") : std::string(sourcePart);
  const std::string relsPart = part_name::RelsPartOf(source);
  if (relationships.empty()) {
    Erase(Key(relsPart));
    return;
  }
  std::string out(kXmlDeclaration);
  out += "<Relationships xmlns=\"" + std::string(kPackageRelationshipsNamespace) + "\">";
  std::unordered_set<std::string> ids;
  for (const Relationship& r : relationships) {
    const std::string invalid = "Relationship " + Quoted(r.id) + " of " + source + " in " + Name();
    if (r.id.empty() || !ids.insert(r.id).second) {
      Fail(failure::kWin32InvalidData, invalid + ": the Id is empty or used twice.");
    }
    if (r.type.empty()) Fail(failure::kWin32InvalidData, invalid + " has no type.");
    std::string target = r.target;
    if (!r.external && !r.partName.empty()) target = part_name::RelativeTarget(source, r.partName);
    if (target.empty()) Fail(failure::kWin32InvalidData, invalid + " has no target.");
    out += "<Relationship Id=\"" + EscapeAttribute(r.id) + "\" Type=\"" + EscapeAttribute(r.type) + "\" Target=\"" +
           EscapeAttribute(target) + "\"";
    if (r.external) out += " TargetMode=\"External\"";
    out += "/>";
  }
  out += "</Relationships>";
  SetPart(relsPart, std::move(out), {});
  if (ContentType(relsPart) != kRelsContentType) overrides_[Key(relsPart)] = std::string(kRelsContentType);
}

// [Content_Types].xml for the parts as they are now: Defaults for "rels" and "xml" and for every
// other extension present (the type most of its parts have; on a tie the one the source declared,
// else the first in alphabetical order), an Override for each part whose type differs from its Default.
std::string PackageImpl::ContentTypesXml() const {
  std::map<std::string, std::string> defaults{{"rels", std::string(kRelsContentType)},
                                              {"xml", std::string(kXmlContentType)}};
  std::map<std::string, std::map<std::string, std::size_t>> counts;  // extension -> type -> parts
  std::vector<std::pair<const Part*, std::string>> types;
  for (const std::string& key : order_) {
    const Part& part = parts_.at(key);
    std::string type = ContentType(part.name);
    if (type.empty()) type = kUnknownContentType;
    const std::string extension = ExtensionOf(part.name);
    if (!extension.empty() && defaults.count(extension) == 0) ++counts[extension][type];
    types.emplace_back(&part, std::move(type));
  }
  for (const auto& [extension, byType] : counts) {
    const auto declared = defaults_.find(extension);
    const std::string* best = nullptr;
    std::size_t bestCount = 0;
    for (const auto& [type, count] : byType) {
      const bool preferred = declared != defaults_.end() && declared->second == type;
      if (count > bestCount || (count == bestCount && preferred)) {
        best = &type;
        bestCount = count;
      }
    }
    defaults.emplace(extension, *best);
  }

  std::string out(kXmlDeclaration);
  out += "<Types xmlns=\"" + std::string(kContentTypesNamespace) + "\">";
  for (const auto& [extension, type] : defaults) {
    out += "<Default Extension=\"" + EscapeAttribute(extension) + "\" ContentType=\"" + EscapeAttribute(type) + "\"/>";
  }
  for (const auto& [part, type] : types) {
    const auto fallback = defaults.find(ExtensionOf(part->name));
    if (fallback != defaults.end() && fallback->second == type) continue;
    out += "<Override PartName=\"" + EscapeAttribute(EncodePath(part->name, true)) + "\" ContentType=\"" +
           EscapeAttribute(type) + "\"/>";
  }
  out += "</Types>";
  return out;
}

void PackageImpl::Save(const std::string& path) const {
  // What the file will take at least (the parts as they are, without the zip's own records): a save
  // that must pass the limit fails before anything is written. The writer stops at the limit too.
  const std::uint64_t limit = limits_.maxSaveSize;
  std::uint64_t least = 0;
  for (const std::string& key : order_) {
    const Part& part = parts_.at(key);
    std::uint64_t size = 0;
    if (part.bytes) {
      size = part.bytes->size() / 1032;  // deflate shrinks by at most this much
    } else {
      try {
        size = reader_->Entry(part.entry).compressedSize;
      } catch (const zip::Error& error) {
        FailZip(error, part.name);
      }
    }
    least += std::min(size, limit);
  }
  const auto tooLarge = [&](const std::string& target) {
    return AutomationError(failure::kEOutOfMemory,
                           text::FromUtf8(target + "the file would be larger than the limit of " +
                                          std::to_string(limit) + " bytes a save may write (maxSaveSize)."));
  };
  if (least > limit) throw tooLarge("Cannot save " + Quoted(path) + ": ");
  WriteFileAtomically(path, [&](int fd, const std::string& target) {
    try {
      zip::Writer writer(fd, limit);
      writer.Add(kContentTypesPart.substr(1), ContentTypesXml());
      for (const std::string& key : order_) {
        const Part& part = parts_.at(key);
        const std::string entryName = part.entryName.empty() ? EncodePath(part.name, false) : part.entryName;
        if (part.bytes) {
          writer.Add(entryName, *part.bytes);
          continue;
        }
        zip::EntryInfo info;
        try {
          info = reader_->Entry(part.entry);
        } catch (const zip::Error& error) {
          FailZip(error, part.name);
        }
        if (info.encrypted)
          Fail(failure::kEAccessDenied, target + "part " + part.name + " of the source is encrypted.");
        writer.AddCopy(entryName, *reader_, part.entry);
      }
      writer.Finish();
    } catch (const zip::Error& error) {
      switch (error.kind()) {
        case zip::ErrorKind::kTooLarge: throw tooLarge(target);
        case zip::ErrorKind::kWrite: FailWrite(target, error.systemError());
        case zip::ErrorKind::kMemory: Fail(failure::kEOutOfMemory, target + "not enough memory.");
        default:
          Fail(failure::kWin32InvalidData,
               target + "the source " + Name() + " could not be copied (" + error.what() + ").");
      }
    }
  });
}


// The text a part stands for inline in the single-file form: its bytes after a byte-order mark
// and the XML declaration, when its content type is an XML one and the bytes are UTF-8 XML that
// parses under the limits; nullopt for a part that must go as base64.
std::optional<std::string_view> InlineXml(std::string_view bytes, std::string_view contentType,
                                          std::string_view partName, const Limits& limits) {
  if (!LowerAscii(contentType).ends_with("xml")) return std::nullopt;
  std::string_view text = bytes;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (text.starts_with("<?xml") && text.size() > 5 && IsXmlSpace(text[5])) {
    const std::size_t end = text.find("?>");
    if (end == std::string_view::npos) return std::nullopt;
    const std::string declaration = LowerAscii(text.substr(0, end));
    const std::size_t encoding = declaration.find("encoding");
    if (encoding != std::string::npos) {
      const std::size_t quote = declaration.find_first_of("\"'", encoding);
      if (quote == std::string::npos || declaration.compare(quote + 1, 5, "utf-8") != 0) return std::nullopt;
    }
    text.remove_prefix(end + 2);
  }
  while (!text.empty() && IsXmlSpace(text.front())) text.remove_prefix(1);
  if (!IsInlineText(text)) return std::nullopt;
  try {
    xml::Document::Parse(text, partName, limits);
  } catch (const AutomationError&) {
    return std::nullopt;
  }
  return text;
}

void PackageImpl::SaveFlat(const std::string& path) const {
  const std::uint64_t limit = limits_.maxSaveSize;
  WriteFileAtomically(path, [&](int fd, const std::string& target) {
    std::string buffer;
    std::uint64_t written = 0;
    const auto flush = [&] {
      for (std::size_t done = 0; done < buffer.size();) {
        const ssize_t n = ::write(fd, buffer.data() + done, buffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) FailWrite(target, errno);
        done += static_cast<std::size_t>(n);
      }
      buffer.clear();
    };
    const auto put = [&](std::string_view text) {
      written += text.size();
      if (written > limit) {
        Fail(failure::kEOutOfMemory, target + "the file would be larger than the limit of " + std::to_string(limit) +
                                         " bytes a save may write (maxSaveSize).");
      }
      buffer += text;
      if (buffer.size() >= (1u << 20)) flush();
    };
    put(kFlatHeader);
    put("<pkg:package xmlns:pkg=\"" + std::string(kFlatNamespace) + "\">");
    for (const std::string& key : order_) {
      const Part& part = parts_.at(key);
      std::string type = ContentType(part.name);
      if (type.empty()) type = kUnknownContentType;
      const std::string bytes = ReadPart(part.name);
      const std::optional<std::string_view> inlined = InlineXml(bytes, type, part.name, limits_);
      put("<pkg:part pkg:name=\"" + EscapeAttribute(part.name) + "\" pkg:contentType=\"" + EscapeAttribute(type) +
          "\"");
      if (inlined) {
        put("><pkg:xmlData>");
        put(*inlined);
        put("</pkg:xmlData></pkg:part>");
      } else {
        // Pictures and media are compressed already; anything else may be deflated by a writer
        // that packs the form into a zip again.
        const bool compressed = type.starts_with("image/") || type.starts_with("video/") || type.starts_with("audio/");
        put(compressed ? " pkg:compression=\"store\"><pkg:binaryData>" : "><pkg:binaryData>");
        put(Base64Lines(bytes));
        put("</pkg:binaryData></pkg:part>");
      }
    }
    put("</pkg:package>");
    flush();
  });
}

[[noreturn]] void FailDamaged(const std::string& file, const std::string& cause) {
  Fail(failure::kWin32InvalidData, file + " is damaged: " + cause + ".");
}

std::shared_ptr<PackageImpl> PackageImpl::OpenFlat(const std::string& path, int fd, std::uint64_t size,
                                                   const Limits& limits) {
  const std::string file = Quoted(path);
  const auto damaged = [&file](const std::string& cause) { FailDamaged(file, cause); };
  if (size > limits.maxTotalUncompressed) {
    Fail(failure::kEOutOfMemory, file + " is larger than the limit of " + std::to_string(limits.maxTotalUncompressed) +
                                     " bytes (maxTotalUncompressed).");
  }
  std::string bytes(static_cast<std::size_t>(size), '\0');
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = platform::ReadAt(fd, bytes.data() + done, bytes.size() - done, static_cast<std::uint64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(failure::kWin32InvalidData, file + " could not be read (" + SystemReason(errno) + ").");
    if (n == 0) {
      bytes.resize(done);
      break;
    }
    done += static_cast<std::size_t>(n);
  }

  // The whole file is one document: its elements count against the file's total, and the part
  // roots stand three levels down.
  Limits whole = limits;
  whole.maxXmlElements = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(std::max<std::uint64_t>(limits.maxXmlElements, limits.maxTotalXmlElements), UINT32_MAX));
  whole.maxXmlDepth = limits.maxXmlDepth + 3;
  const std::shared_ptr<xml::Document> document = xml::Document::Parse(bytes, file, whole);
  bytes = std::string();

  const xml::Node root = document->root();
  const std::string_view rootName = root.name();
  const std::size_t colon = rootName.find(':');
  const std::string prefix = colon == std::string_view::npos ? std::string() : std::string(rootName.substr(0, colon + 1));
  const auto named = [&](xml::Node node, std::string_view local) {
    return node.type() == pugi::node_element && std::string_view(node.name()) == prefix + std::string(local);
  };
  const auto attribute = [&](xml::Node node, std::string_view local) {
    const xml::Attribute qualified = node.attribute((prefix + std::string(local)).c_str());
    return std::string_view(qualified ? qualified.value() : node.attribute(std::string(local).c_str()).value());
  };

  auto package = std::make_shared<PackageImpl>(path, limits);
  package->defaults_.emplace("rels", kRelsContentType);
  package->defaults_.emplace("xml", kXmlContentType);
  std::uint64_t total = 0;
  std::size_t index = 0;
  for (xml::Node node = root.first_child(); node; node = node.next_sibling()) {
    if (!named(node, "part")) continue;
    ++index;
    if (index > limits.maxParts) {
      Fail(failure::kEOutOfMemory,
           file + " has more than the limit of " + std::to_string(limits.maxParts) + " parts (maxParts).");
    }
    const std::string_view written = attribute(node, "name");
    const std::string which = written.empty() ? "part " + std::to_string(index) : "part " + std::string(written);
    if (written.empty()) damaged(which + " has no name");
    std::string why;
    const std::optional<std::string> name =
        written.front() == '/' ? PartNameOfEntry(written.substr(1), &why) : std::nullopt;
    if (!name || !ValidPartName(*name)) damaged(which + " has a name that is no part name");
    const std::string key = Key(*name);
    if (package->parts_.count(key) != 0) damaged("it names the part " + *name + " twice");
    const std::string_view contentType = attribute(node, "contentType");
    if (contentType.empty()) damaged(which + " has no content type");

    std::optional<std::string> content;
    for (xml::Node child = node.first_child(); child && !content; child = child.next_sibling()) {
      if (named(child, "xmlData")) {
        xml::Node element;
        for (xml::Node inner = child.first_child(); inner; inner = inner.next_sibling()) {
          if (inner.type() != pugi::node_element) continue;
          if (element) damaged(which + " holds more than one root element");
          element = inner;
        }
        if (!element) damaged(which + " has an empty xmlData");
        // The part's root carries every namespace declaration in scope, nearest first.
        xml::Document part;
        xml::Node copy = part.pugi().append_copy(element);
        for (xml::Node above = child; above; above = above.parent()) {
          for (xml::Attribute a = above.first_attribute(); a; a = a.next_attribute()) {
            const std::string_view attributeName = a.name();
            const bool declaration = attributeName == "xmlns" || attributeName.starts_with("xmlns:");
            if (declaration && a.value() != kFlatNamespace && !copy.attribute(a.name()))
              copy.append_attribute(a.name()).set_value(a.value());
          }
        }
        content = part.Serialize();
      } else if (named(child, "binaryData")) {
        std::string text;
        for (xml::Node inner = child.first_child(); inner; inner = inner.next_sibling())
          if (inner.type() == pugi::node_pcdata || inner.type() == pugi::node_cdata) text += inner.value();
        content = DecodeBase64(text, &why);
        if (!content) damaged(which + " holds base64 that does not decode: " + why);
      }
    }
    if (!content) damaged(which + " has neither xmlData nor binaryData");
    CheckSizeLimits(limits, content->size(), content->size(), total, *name, file);
    total += content->size();
    package->parts_.emplace(key, Part{*name, {}, 0, std::move(content)});
    package->order_.push_back(key);
    package->overrides_[key] = std::string(contentType);
  }
  // A zip without a main part may be some other package; this form is only ever a document's.
  const auto relationships = package->Relationships("/");
  const bool main = std::any_of(relationships.begin(), relationships.end(), [](const Relationship& r) {
    return !r.external && r.type.ends_with("/relationships/officeDocument");
  });
  if (!main) damaged("no main part: its package relationships (/_rels/.rels) name no officeDocument");
  return package;
}

}  // namespace

void WriteFileAtomically(const std::string& path, const std::function<void(int fd, const std::string& target)>& fill) {
  const std::string target = "Cannot save " + Quoted(path) + ": ";
  try {
    output::WriteFile(path, [&](int fd) {
      try {
        fill(fd, target);
      } catch (const std::bad_alloc&) {
        Fail(failure::kEOutOfMemory, target + "not enough memory.");
      }
    });
  } catch (const output::OutputError& error) {
    FailOutput(error);
  }
}

void FailOutput(const output::OutputError& error) {
  switch (error.cause()) {
    case output::Cause::kBadName:
    case output::Cause::kNameTooLong:
    case output::Cause::kFolderMissing: Fail(failure::kWin32PathNotFound, error.what());
    case output::Cause::kDiskFull: Fail(failure::kWin32DiskFull, error.what());
    default: Fail(failure::kEAccessDenied, error.what());
  }
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  WriteFileAtomically(path, [&](int fd, const std::string& target) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (wrote < 0) {
        if (errno == EINTR) continue;
        FailWrite(target, errno);
      }
      done += static_cast<std::size_t>(wrote);
    }
  });
}

int OpenRegularFile(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    Fail(failure::kWin32FileNotFound, "The file name " + Quoted(path) + " is not valid.");
  }
  // Looked at before it is opened: opening a device can have effects of its own.
  struct stat st {};
  if (platform::Stat(path, st) == 0 && !S_ISREG(st.st_mode)) FailNotRegular(path, st.st_mode);
  // Never blocks: a pipe that took the place of the file opens at once (and is refused below)
  // instead of waiting for a writer.
  UniqueFd fd(platform::Open(path, O_RDONLY | platform::kNonBlock | platform::kNoCtty));
  if (fd.get() < 0) {
    const int error = errno;
    switch (error) {
      case ENOENT:
        if (FolderExists(path)) Fail(failure::kWin32FileNotFound, "The file " + Quoted(path) + " was not found.");
        Fail(failure::kWin32PathNotFound, "The folder of " + Quoted(path) + " was not found.");
      case ENOTDIR:
      case ENAMETOOLONG:
      case ELOOP:
        Fail(failure::kWin32PathNotFound, "The path " + Quoted(path) + " was not found (" + SystemReason(error) + ").");
      case ENXIO:  // a socket
        if (platform::Stat(path, st) == 0 && !S_ISREG(st.st_mode)) FailNotRegular(path, st.st_mode);
        Fail(failure::kWin32InvalidData, Quoted(path) + " is not a regular file (" + SystemReason(error) + ").");
      case EMFILE:
      case ENFILE:
      case ENOMEM: Fail(failure::kEOutOfMemory, Quoted(path) + " could not be opened (" + SystemReason(error) + ").");
      default:
        Fail(failure::kEAccessDenied, "Access to " + Quoted(path) + " was denied (" + SystemReason(error) + ").");
    }
  }
  if (::fstat(fd.get(), &st) < 0) {
    Fail(failure::kWin32InvalidData, Quoted(path) + " could not be read (" + SystemReason(errno) + ").");
  }
  if (!S_ISREG(st.st_mode)) FailNotRegular(path, st.st_mode);
  if (platform::SetBlocking(fd.get()) < 0) {
    Fail(failure::kWin32InvalidData, Quoted(path) + " could not be read (" + SystemReason(errno) + ").");
  }
  return fd.release();
}

namespace {

// Whether a chunk starts like XML text (after a UTF-8 byte-order mark and white space).
bool LooksLikeXml(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  while (!head.empty() && (head.front() == ' ' || head.front() == '\t' || head.front() == '\n' || head.front() == '\r'))
    head.remove_prefix(1);
  return head.starts_with("<");
}

void CheckZipForOffice(int fd, const Limits& limits, const std::string& file) {
  std::unique_ptr<zip::Reader> reader;
  auto failZip = [&](const zip::Error& error, const std::string& where) {
    switch (error.kind()) {
      case zip::ErrorKind::kEncrypted: Fail(failure::kEAccessDenied, where + " is encrypted (" + error.what() + ").");
      case zip::ErrorKind::kMemory: Fail(failure::kEOutOfMemory, where + " could not be read: not enough memory.");
      default: Fail(failure::kWin32InvalidData, where + " is damaged (" + error.what() + ").");
    }
  };
  try {
    reader = zip::Reader::Open(fd);
  } catch (const zip::Error& error) {
    failZip(error, file);
  }
  const std::uint64_t entries = reader->size();
  if (entries > limits.maxParts) {
    Fail(failure::kEOutOfMemory, file + " has " + std::to_string(entries) + " zip entries, more than the limit of " +
                                     std::to_string(limits.maxParts) + " (maxParts).");
  }
  // An Office Open XML package may hold no DOCTYPE at all; an OpenDocument manifest may name a DTD.
  bool officeOpenXml = false;
  for (std::uint64_t i = 0; i < entries && !officeOpenXml; ++i) {
    try {
      officeOpenXml = EqualNoCase(reader->Entry(i).name, kContentTypesPart.substr(1));
    } catch (const zip::Error& error) {
      failZip(error, file);
    }
  }
  std::uint64_t inflated = 0;
  std::uint64_t elements = 0;
  for (std::uint64_t i = 0; i < entries; ++i) {
    zip::EntryInfo info;
    try {
      info = reader->Entry(i);
    } catch (const zip::Error& error) {
      failZip(error, file);
    }
    const std::string part = "Part " + info.name + " of " + file;
    if (info.encrypted) Fail(failure::kEAccessDenied, part + " is encrypted.");
    CheckSizeLimits(limits, info.size, info.compressedSize, inflated, info.name, file);
    std::optional<xml::Scanner> scanner;
    std::uint64_t size = 0;
    try {
      reader->Read(i, [&](std::string_view chunk) {
        if (size == 0 && LooksLikeXml(chunk)) scanner.emplace(part, limits, elements, officeOpenXml);
        size += chunk.size();
        CheckSizeLimits(limits, size, info.compressedSize, inflated, info.name, file);
        if (scanner) scanner->Feed(chunk);
      });
    } catch (const zip::Error& error) {
      failZip(error, part);
    }
    inflated += size;
    if (scanner) elements += scanner->elements();
  }
}

}  // namespace

void CheckForOffice(const std::string& path, const Limits& limits, std::string_view shownName) {
  const std::string file = Quoted(shownName.empty() ? std::string_view(path) : shownName);
  UniqueFd fd(OpenRegularFile(path));
  char head[512];
  ssize_t got;
  do {
    got = platform::ReadAt(fd.get(), head, sizeof head, 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0) Fail(failure::kWin32InvalidData, file + " could not be read (" + SystemReason(errno) + ").");
  const std::string_view start(head, static_cast<std::size_t>(got));
  if (start.starts_with(kZipLocalHeader) || start.starts_with("PK\x05\x06")) {
    CheckZipForOffice(fd.release(), limits, file);
    return;
  }
  if (!LooksLikeXml(start)) return;  // a compound file is the caller's to check; the office refuses the rest
  xml::Scanner scanner(file, limits, 0, false);
  std::uint64_t offset = 0;
  std::string buffer(64 * 1024, '\0');
  for (;;) {
    const ssize_t n = platform::ReadAt(fd.get(), buffer.data(), buffer.size(), static_cast<std::uint64_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail(failure::kWin32InvalidData, file + " could not be read (" + SystemReason(errno) + ").");
    if (n == 0) break;
    offset += static_cast<std::uint64_t>(n);
    if (offset > limits.maxPartSize) {
      Fail(failure::kEOutOfMemory,
           file + " is larger than the limit of " + std::to_string(limits.maxPartSize) + " bytes (maxPartSize).");
    }
    scanner.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
  }
}

std::shared_ptr<Package> Package::Open(const std::string& path, const Limits& limits) {
  return PackageImpl::OpenFile(path, limits);
}

std::shared_ptr<Package> Package::Create() { return PackageImpl::CreateEmpty(); }

// --- Part names --------------------------------------------------------------------------------

namespace part_name {

std::string Folder(std::string_view partName) {
  const std::size_t slash = partName.rfind('/');
  if (slash == std::string_view::npos) return "/";
  return std::string(partName.substr(0, slash + 1));
}

std::optional<std::string> Resolve(std::string_view sourcePart, std::string_view target) {
  target = target.substr(0, target.find_first_of("#?"));
  if (target.empty() || target.find('\\') != std::string_view::npos || target.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  // A scheme ("http:", "file:", a drive "C:") makes the target no part name.
  const std::size_t colon = target.find(':');
  if (colon != std::string_view::npos && colon < target.find('/')) return std::nullopt;

  std::vector<std::string> segments;
  if (target.front() != '/') {
    // The source's folder is a decoded part name already: its segments are taken as they are.
    const std::string folder = Folder(sourcePart);
    for (const std::string_view segment : Split(folder, '/')) {
      if (!segment.empty()) segments.emplace_back(segment);
    }
  }
  for (const std::string_view raw : Split(target, '/')) {
    const std::optional<std::string> segment = DecodeSegment(raw);
    if (!segment) return std::nullopt;
    if (segment->empty() || *segment == ".") continue;
    if (*segment == "..") {
      if (segments.empty()) return std::nullopt;  // above the package root
      segments.pop_back();
      continue;
    }
    segments.push_back(*segment);
  }
  if (segments.empty()) return std::nullopt;
  std::string out;
  for (const std::string& segment : segments) out += "/" + segment;
  return out;
}

std::string RelsPartOf(std::string_view partName) {
  if (partName.empty() || partName == "/") return "/_rels/.rels";
  const std::string folder = Folder(partName);
  return folder + "_rels/" + std::string(partName.substr(folder.size())) + ".rels";
}

std::string RelativeTarget(std::string_view fromPart, std::string_view toPart) {
  const std::string fromFolder = Folder(fromPart);
  std::vector<std::string_view> from = Split(fromFolder, '/');
  std::erase(from, std::string_view());
  std::vector<std::string_view> to = Split(toPart, '/');
  std::erase(to, std::string_view());
  std::size_t common = 0;
  while (common < from.size() && common + 1 < to.size() && EqualNoCase(from[common], to[common])) ++common;
  std::string out;
  for (std::size_t i = common; i < from.size(); ++i) out += "../";
  for (std::size_t i = common; i < to.size(); ++i) {
    if (i > common) out += '/';
    out += EncodeSegment(to[i]);
  }
  return out;
}

bool Equal(std::string_view a, std::string_view b) { return EqualNoCase(a, b); }

}  // namespace part_name

}  // namespace quorvane::engines::pptx
