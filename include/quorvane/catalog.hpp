#pragma once
// The control's catalogues as plain data, for hosts that build their own user interface: the two
// lists of output formats (the control offers the long one when the installed PowerPoint is 2007
// or later, else the short one), the table of formats (extension, converter, engine, ... of every
// code), and the error codes with their messages. The control's members (GetFileType,
// LookUpSaveAsExtension, GetErrorString, ...) answer from these same tables.
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

// How ConvertFile converts to a code: the converter it hands the conversion to.
enum class Route : std::uint8_t {
  SaveAs,         // the presentation application saves the presentation in the format
  SlidePictures,  // one picture per slide, exported with a graphic filter; OutputFile is their names' prefix
  ThroughWord,    // the slides pasted into a word-processor document, which Word saves
  Text,           // the component's own text writer
};

// What writes a format behind the office interfaces, in this build's engines.
enum class Engine : std::uint8_t {
  None,          // nothing: a conversion to it fails
  Native,        // the native presentation engine (and the text writer over it)
  Renderer,      // the renderer: one of its export filters (finished by a program of the system for
                 // XPS), or its pictures of the slides
  FromPictures,  // the engines (or, for the video, a program of the system), from pictures of the slides
                 // that the renderer draws
  WordStandIn,   // the Word stand-in, from the slides pasted as pictures
};

// Everything the component knows about one target code.
struct Format {
  std::int32_t code;
  std::u16string_view extension;  // without a dot ("pptx"); the wildcard form is "*." + extension
  bool singleFile;                // false: one file per slide, or a folder of them
  Route route;
  // ImageFilterName: the graphic filter of a picture format, which is also its pictures'
  // extension ("GIF"); the conversion through Word names its per-slide files with it too.
  std::u16string_view filterName;
  std::string_view commandName;     // what `quorvane convert --type` takes for the code (lower case)
  Engine engine;
  std::string_view rendererFilter;  // the renderer's export filter that writes the format, if it has one
};

// One row per code that differs from the defaults of a code without one (no extension, single
// file, through Word, nothing writes it). Rows are in the order `quorvane convert` lists its names.
QUORVANE_API std::span<const Format> Formats();

// The row of `code`; nullptr when it has none.
QUORVANE_API const Format* FindFormat(std::int32_t code);

// The converter of `code`: ThroughWord for every code without a row.
QUORVANE_API Route RouteOf(std::int32_t code);

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
