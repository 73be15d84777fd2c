#pragma once
// Hostile and damaged inputs, made by code (never stored as files), for the tests and benchmarks
// that feed them to the engine: one table of decks, each with what a conversion of it must do.
//
// Each deck is written by its `write` function to a path the caller chooses (the special inputs
// make a pipe, a socket or a folder there). A refused deck names its fault in the failure's
// description (`cause`); a deck that is read whole converts (result 0) and loses nothing.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::testing::hostile {

struct HostileDeck {
  std::string name{};
  std::string fileName{};                                // with the extension the deck claims
  std::function<void(const std::string& path)> write{};  // makes the input at `path`
  std::string cause{};  // a phrase of the failure's description; empty for decks that convert
  // Result codes through the control: text export (code 200), save-as to a package (24), PDF (32).
  // nullopt: the route is not checked for this deck.
  std::optional<std::int32_t> text{};
  std::optional<std::int32_t> save{};
  std::optional<std::int32_t> pdf{};
  bool opens = false;  // the engine opens the deck (a text export fails only once it reads a slide)
  bool needsOffice = false;  // the PDF route runs the office (only where it is installed)
  std::u16string mustKeep{};  // text the text export must write whole (decks that convert)
};

// Every hostile deck and special input.
const std::vector<HostileDeck>& HostileDecks();

// --- Makers, for tests of one layer --------------------------------------------------------------

// A compound file (the OLE2 container) holding `streams`, one 512-byte sector each. A stream's
// declared size is its length unless `declaredSizes` gives another for it (by position).
std::string CompoundFile(const std::vector<std::pair<std::u16string, std::string>>& streams,
                         const std::vector<std::uint32_t>& declaredSizes = {});

// The bytes of a small valid deck of one slide holding a text box with `text`.
std::string SmallDeck(const std::u16string& text = u"hello");

// A zip package of `entries` (name, bytes) in order.
void WriteZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries);

// An OpenDocument presentation whose content.xml the manifest declares encrypted (AES-256, PBKDF2):
// an office asks for the password before it looks at the content, so the content is noise.
void WritePasswordProtectedOdp(const std::string& path);

// The Current User stream of a PowerPoint 97 file with this header token (0xF3D1C4DF: encrypted).
std::string CurrentUserAtom(std::uint32_t token);

// The start of a Word 97 WordDocument stream, its encryption bit set or not.
std::string WordFib(bool encrypted);

// A zip archive's central directory as records that can be changed and written back.
struct DirectoryRecord {
  std::string header;  // the 46 fixed bytes
  std::string name;
  std::string extra;
  std::string comment;
  std::uint32_t localOffset() const;
  void setLocalOffset(std::uint32_t offset);
  std::uint32_t compressedSize() const;
  void setCompressedSize(std::uint32_t size);
};
// Rewrites the central directory of `zip` (no zip64) through `edit`; the entries' data stay.
std::string EditDirectory(const std::string& zip, const std::function<void(std::vector<DirectoryRecord>&)>& edit);

}  // namespace quorvane::testing::hostile
