#pragma once
// The package layer: an Office Open XML package (a zip container) as named parts with content
// types and relationships. This layer alone knows the zip library; nothing above it sees bytes of
// the container.
//
// Part names are absolute ("/ppt/slides/slide1.xml") and compared without regard to ASCII case,
// as the packaging conventions ask. Relationship targets are resolved against the source part's
// folder ("/" from the package root); external targets (TargetMode="External") are recorded and
// never fetched.
//
// Reading: Open reads the zip directory, [Content_Types].xml and nothing else; parts are inflated
// on demand, under the Limits. The file is opened read-only and never written.
// Writing: a Package can be changed in memory (parts set, removed, relationships replaced) and
// saved to a new file: written to a temporary file in the target folder, then renamed into place,
// so no half-written output is ever left under the target's name.
//
// The single-file XML form: one XML document whose root pkg:package holds every part as a
// pkg:part (name, content type, and the part itself: an XML part inline in pkg:xmlData, any other
// part base64-encoded in pkg:binaryData). Open reads such a file as it reads a zip package (told
// apart by content, never by name), held to the same limits; SaveFlat writes one.
//
// Saving writes at most Limits::maxSaveSize bytes.
//
// Failures throw quorvane::AutomationError with an HRESULT of common/failures.hpp and a
// description that names the file and the cause: file not found 0x80070002, path not found
// 0x80070003, access denied 0x80070005, a damaged or unreadable package 0x8007000D (invalid data),
// an encrypted package 0x80070005 with "is encrypted", a limit exceeded 0x8007000E (not enough
// memory) with the limit named, a disk full 0x80070070. None of these is 0x80004005, 0x80048240
// or 0x80070057: those carry meanings of their own for the converters.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/failures.hpp"
#include "engines/pptx/limits.hpp"

namespace quorvane::output {
class OutputError;
}

namespace quorvane::engines::pptx {

struct Relationship {
  std::string id;
  std::string type;    // full relationship type URI; strict types are given as their transitional twins
  std::string target;  // as written in the .rels part
  bool external = false;
  std::string partName;  // resolved absolute part name for internal targets; empty for external ones
};

class Package {
 public:
  // Opens a package file (UTF-8 path): a zip, or the single-file XML form (an XML file whose root
  // is pkg:package in its namespace, after an optional byte-order mark and white space). Fails as
  // documented above; a 0-byte file, a file that is not a zip, a truncated zip, and an OLE
  // compound file (an encrypted package or a legacy binary file) are refused with a description
  // saying which. A single-file form is read whole into memory: the file may hold at most
  // Limits::maxTotalUncompressed bytes, Limits::maxParts parts, Limits::maxTotalXmlElements
  // elements, each part at most Limits::maxPartSize bytes; a part without a name or content, a
  // part named twice, and base64 that does not decode are refused as damage (0x8007000D).
  static std::shared_ptr<Package> Open(const std::string& path, const Limits& limits = kDefaultLimits);
  // An empty package, to be filled and saved.
  static std::shared_ptr<Package> Create();

  virtual ~Package() = default;

  // The file the package was read from; empty for a created one.
  virtual const std::string& path() const = 0;
  // What Open ignored, one line each: entries whose names are no part names ("..", absolute,
  // backslashes). Entries that name a part again (in any case) make the package damaged, as do
  // entries whose data overlap; a part that declares a zip bomb's ratio is refused at once.
  virtual const std::vector<std::string>& Notes() const = 0;

  virtual std::vector<std::string> PartNames() const = 0;
  virtual bool HasPart(std::string_view partName) const = 0;
  // Content type from the Override for the part, else the Default for its extension; empty if none.
  virtual std::string ContentType(std::string_view partName) const = 0;
  // The part's bytes (inflated). Fails when the part is missing or a limit is exceeded.
  virtual std::string ReadPart(std::string_view partName) const = 0;

  // Relationships of a part ("/" for the package's own). Missing .rels part: none. Targets that
  // resolve outside the package (above its root) are dropped; targets to missing parts are kept
  // (callers check HasPart).
  virtual std::vector<Relationship> Relationships(std::string_view sourcePart) const = 0;

  // --- Changing and saving ------------------------------------------------------------------
  virtual void SetPart(std::string_view partName, std::string bytes, std::string_view contentType) = 0;
  // Removes the part, its content type Override and its relationships part; nothing if missing.
  virtual void RemovePart(std::string_view partName) = 0;
  // Replaces the relationships of `sourcePart` (writes its .rels part on save; none: no .rels
  // part). An internal relationship with a partName gets its target computed from it.
  virtual void SetRelationships(std::string_view sourcePart, const std::vector<Relationship>& relationships) = 0;
  // Sets the content type Override of an existing part.
  virtual void SetContentType(std::string_view partName, std::string_view contentType) = 0;
  // Writes every part (changed ones from memory, others copied from the source file) to `path`
  // through a temporary file in the same folder and a rename. The source file is never written,
  // also when `path` names it.
  virtual void Save(const std::string& path) const = 0;
  // Writes every part to `path` in the single-file XML form, as Save writes (temporary file and
  // rename, at most Limits::maxSaveSize bytes). A part counts as XML when its content type ends in
  // "xml" and its bytes parse as UTF-8 XML under the limits; it is written inline without its XML
  // declaration. Every other part is written as base64 in lines of 76 characters.
  virtual void SaveFlat(const std::string& path) const = 0;
};

// Opens a file for reading (UTF-8 path) and returns its descriptor, which the caller closes.
// Never blocks: a pipe, a socket, a device or a folder is refused at once ("... is not a regular
// file: it is a pipe (FIFO)."), the rest fails as Package::Open documents.
int OpenRegularFile(const std::string& path);

// Checks a file before it is handed to the office, which reads it whole and sets no limits of its
// own: what the engine would refuse reading it must not reach the office either. A zip (an Office
// Open XML or an OpenDocument package) is checked as Open checks one (entries, overlapping data,
// names) and then inflated entry by entry under the size, ratio and total limits, its XML parts
// streamed through xml::Scanner (nesting, element counts, DOCTYPE); a flat XML file is streamed
// through it whole. Other files (a compound file, anything unknown) are not looked into.
// Failures name `shownName` (else `path`) and the limit: 0x8007000D for damage, 0x8007000E for a
// limit, 0x80070005 for an encrypted entry.
void CheckForOffice(const std::string& path, const Limits& limits, std::string_view shownName = {});

// Writes a file as Package::Save does, by the output rules of common/output_file.hpp: into a
// temporary file beside the target that `fill` writes through its descriptor, then fsync and a
// rename; a link to a file replaces that file, a device or pipe is written through once the
// content is complete; read-only targets, folders and dangling links are refused. On any failure
// the target is left as it was. `fill` reports its own failures with the `target` prefix given
// ("Cannot save \"x\": "); refusals of the target come as path not found (missing folder, bad or
// too long name), disk full, or access denied, each description naming its cause.
void WriteFileAtomically(const std::string& path, const std::function<void(int fd, const std::string& target)>& fill);
void WriteFileAtomically(const std::string& path, std::string_view bytes);
// A refused or failed output (common/output_file.hpp) as WriteFileAtomically reports it.
[[noreturn]] void FailOutput(const output::OutputError& error);

// Helpers on part names.
namespace part_name {
// The folder of a part name ("/ppt/slides/" for "/ppt/slides/slide1.xml").
std::string Folder(std::string_view partName);
// Resolves a relative target against a source part's folder; nullopt when it leaves the package.
std::optional<std::string> Resolve(std::string_view sourcePart, std::string_view target);
// The .rels part name of a part ("/ppt/slides/_rels/slide1.xml.rels"; "/_rels/.rels" for "/").
std::string RelsPartOf(std::string_view partName);
// A relative target from one part to another ("../media/image1.png").
std::string RelativeTarget(std::string_view fromPart, std::string_view toPart);
bool Equal(std::string_view a, std::string_view b);  // without regard to ASCII case
}  // namespace part_name

}  // namespace quorvane::engines::pptx
