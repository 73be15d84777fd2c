#pragma once
// A look inside compound files (the OLE2 container of .ppt, .doc and of encrypted Office Open XML
// packages) for the marks of encryption, before the office is handed the file.
//
// The office does not say "password" for every protected file: an encrypted PowerPoint 97 file
// fails to load with a general read error. Reading the container ourselves tells these inputs apart
// at once, and gives them a clear failure instead of "cannot be read".
//
// Only what decides protection (and the sizes the streams declare) is read: the directory, and the first bytes of two streams. Every
// read is bounded by the file size and every chain by the number of sectors, so a damaged or
// hostile file ends the look (answering "not known to be protected") instead of looping.
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane::engines::libreoffice {

enum class Protection {
  None,       // not a compound file, unreadable, or a compound file without the marks below
  Encrypted,  // an "EncryptionInfo" stream (encrypted OOXML package), a PowerPoint 97 file whose
              // "Current User" stream carries the encrypted header token, or a Word 97 file whose
              // FIB has fEncrypted set
};

Protection SniffProtection(const std::string& path);

// Why a compound file must not be handed to the office, or empty when it may (and for a file that
// is no compound file, or one too damaged to read, which the office refuses by itself): a file
// larger than `maxSize` bytes, or a stream that declares more bytes than `maxSize` or than the
// file could hold. The office would allocate what a stream declares.
std::string CompoundFileFault(const std::string& path, std::uint64_t maxSize);
// The same over bytes held in memory.
std::string CompoundFileFaultOfBytes(std::string_view bytes, std::uint64_t maxSize);
// The same over the bytes of a file held in memory (for tests and for callers that have them).
Protection SniffProtectionOfBytes(std::string_view bytes);

}  // namespace quorvane::engines::libreoffice
