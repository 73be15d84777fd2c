#pragma once
// The failure numbers of the renderer and the one way it raises them.
//
// Every failure of the renderer is an AutomationError whose number is an HRESULT chosen so that the
// converters can tell the cases apart. E_FAIL is reserved for "the office cannot write this format
// (for this document)": the converters treat it as an unsupported target. Everything that goes
// wrong with the office itself, with the input or with the output has a number of its own, and
// never 0x80048240 or 0x80070057, which mean an invalid object-model request and a bad argument to
// the converters.
#include <cstdint>
#include <string_view>

#include "quorvane/automation_error.hpp"

namespace quorvane::engines::libreoffice {

namespace failure {
// The format (export filter, picture filter) cannot be served for this document.
inline constexpr std::int32_t kFormatNotServed = static_cast<std::int32_t>(0x80004005u);  // E_FAIL
// The office could not be started, died, or its connection broke (RPC_S_SERVER_UNAVAILABLE).
inline constexpr std::int32_t kOfficeUnavailable = static_cast<std::int32_t>(0x800706BAu);
// The call ran past its deadline; the office was ended (ERROR_TIMEOUT).
inline constexpr std::int32_t kTimeout = static_cast<std::int32_t>(0x800705B4u);
// The office went above its memory bound; it was ended (E_OUTOFMEMORY).
inline constexpr std::int32_t kOutOfMemory = static_cast<std::int32_t>(0x8007000Eu);
// The input cannot be read as a document of the kind the filter writes (ERROR_INVALID_DATA).
inline constexpr std::int32_t kInvalidData = static_cast<std::int32_t>(0x8007000Du);
// The input is encrypted or protected by a password (E_ACCESSDENIED).
inline constexpr std::int32_t kEncrypted = static_cast<std::int32_t>(0x80070005u);
// The input file does not exist (ERROR_FILE_NOT_FOUND).
inline constexpr std::int32_t kFileNotFound = static_cast<std::int32_t>(0x80070002u);
// The input exists but cannot be read (no permission, a folder, ...) (STG_E_READFAULT).
inline constexpr std::int32_t kCannotRead = static_cast<std::int32_t>(0x8003001Eu);
// The folder of an output does not exist (ERROR_PATH_NOT_FOUND).
inline constexpr std::int32_t kPathNotFound = static_cast<std::int32_t>(0x80070003u);
// The output could not be written or put in place (STG_E_CANTSAVE).
inline constexpr std::int32_t kCannotSave = static_cast<std::int32_t>(0x80030103u);
// A slide number outside the presentation (DISP_E_BADINDEX).
inline constexpr std::int32_t kBadIndex = static_cast<std::int32_t>(0x8002000Bu);
// A picture size outside what the renderer draws (DISP_E_OVERFLOW).
inline constexpr std::int32_t kOutOfRange = static_cast<std::int32_t>(0x8002000Au);
}  // namespace failure

// Throws AutomationError(number, description); the description is UTF-8 here and UTF-16 in the error.
[[noreturn]] void Fail(std::int32_t number, std::string_view description);

}  // namespace quorvane::engines::libreoffice
