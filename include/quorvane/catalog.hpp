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
QUORVANE_API std::span<const ErrorEntry> Errors();

// The message of `code`; empty for a code outside the catalogue.
QUORVANE_API std::u16string_view ErrorMessage(std::int64_t code);

// What GetAllPossibleErrorsCount answers: 17, although -18 exists too.
inline constexpr std::int32_t kAllPossibleErrorsCount = 17;

}  // namespace quorvane::catalog
