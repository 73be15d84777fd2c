#pragma once
// The control's catalogues as plain data, for hosts that build their own user interface: the two
// lists of output formats (the control offers the long one when the installed PowerPoint is 2007
// or later, else the short one), the file-name extensions, and the error codes with their
// messages. The control's members (GetFileType, LookUpSaveAsExtension, GetErrorString, ...) answer
// from these same tables.
#include <cstdint>
#include <span>
#include <string_view>

#include "quorvane/export.hpp"

namespace quorvane::catalog {

struct FileTypeEntry {
  std::int32_t code;
  std::u16string_view description;
};

// The list in position order (position = index + 1): 36 entries when `longList`, else 24.
QUORVANE_API std::span<const FileTypeEntry> FileTypeList(bool longList);

// Extension without a dot ("pptx", "jpg"); empty for a code without one.
QUORVANE_API std::u16string_view Extension(std::int32_t code);

// False exactly for 15 to 21 and 100: formats that write one file per slide.
QUORVANE_API bool SupportsSingleFileOutput(std::int32_t code);

struct ErrorEntry {
  std::int32_t code;
  std::u16string_view message;
};

// Codes -1 to -18 in that order.
//
// The code ConvertFile returns for a fault depends on the converter TargetFileType routes to:
// save-as (1-7, 10-15, 20, 24-29, 32-37), pictures (16-19, 21, 100: one file per slide, OutputFile
// a name prefix), Word (every other code) and text (107, 200). Only save-as checks the names first.
//   fault                                   save-as   pictures  Word      text
//   InputFile empty                         -2        -10       -10       -10
//   OutputFile empty                        -3        0 (a)     -10       -18
//   input missing                           -5        -10       -10       -10
//   OutputFile names the input              -6        0 (b)     -10       -10
//   output folder missing                   -11       -10       -10       -10
//   output read-only, or a folder           -16       -10       -10       -18
//   PowerPoint cannot be started            -12       -12       -12       -12
//   Word cannot be started                                      -14
//   the office fails while it runs (c)      -10/-16   -10       -10       -10
//   the office cannot write the format      -16       -17       -10
//   an application cannot be ended (d)      -13       -13       -13/-15   -13
//   StartSlide one past the last slide (e)  -10       -10       -10       -10
// (a) the pictures go to "Slide1.<ext>", ... in the current folder. (b) they are named OutputFile +
// "Slide1.<ext>", ..., beside the input. (c) it ends, runs past its deadline or goes above its
// memory bound; -16 when that happens in the save. (d) only with OptimizeForSpeed false. (e) with
// EndSlide at or past it; a StartSlide further past converts no slide and returns 0 (see StartSlide
// in quorvane/control.hpp).
// Beyond these: run-time error 48 met in a run gives -1, and 429 gives -9, except in save-as (-10);
// in pictures and text, 55 (a file already open) reports -3 and the step is tried again, three
// times in all, then -10. ConvertFile never returns -4, -7 or -8.
QUORVANE_API std::span<const ErrorEntry> Errors();

// The message of `code`; empty for a code outside the catalogue.
QUORVANE_API std::u16string_view ErrorMessage(std::int64_t code);

// What GetAllPossibleErrorsCount answers: 17, although -18 exists too.
inline constexpr std::int32_t kAllPossibleErrorsCount = 17;

// The result codes, named for their messages (ErrorMessage gives each one's text): what
// ConvertFile returns and onerror reports. Errors() lists -1 to -18 in this order.
inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kDllNotOpened = -1;  // a library failed to load (run-time error 48)
inline constexpr std::int32_t kInputFileNameMissing = -2;
inline constexpr std::int32_t kOutputFileNameMissing = -3;
inline constexpr std::int32_t kReserved = -4;  // never reported
inline constexpr std::int32_t kInputFileNotFound = -5;
inline constexpr std::int32_t kInputSameAsOutput = -6;
inline constexpr std::int32_t kInvalidExtensionNumber = -7;
inline constexpr std::int32_t kInvalidExtensionIndex = -8;
inline constexpr std::int32_t kOfficeNotInstalled = -9;
inline constexpr std::int32_t kConversionFailed = -10;
inline constexpr std::int32_t kOutputPathNotFound = -11;
inline constexpr std::int32_t kPowerPointNotCreated = -12;
inline constexpr std::int32_t kPowerPointNotDestroyed = -13;
inline constexpr std::int32_t kWordNotCreated = -14;
inline constexpr std::int32_t kWordNotDestroyed = -15;
inline constexpr std::int32_t kFileTypeNotConverted = -16;
inline constexpr std::int32_t kNoSlideExportConverter = -17;
inline constexpr std::int32_t kTargetReadOnly = -18;

}  // namespace quorvane::catalog
