#pragma once
// Every failure number the component raises or tells apart, each named once, with the description
// an AutomationError of that number carries when its raiser has nothing more specific to say.
//
// The numbers a host may test for are public (quorvane/automation_error.hpp, quorvane::failure);
// this header adds the ones only the engines and the control use, in the same namespace, and the
// dispatch surface's results (quorvane/dispatch.hpp) under the same kind of name. No number has
// two names: failures.cpp checks it.
//
// Families and how they are named:
// - run-time errors of the scripting platform (small positive numbers): named for their meaning
//   (kPathFileAccessError); Word's own error numbers carry "Word";
// - HRESULTs (negative): named after their system symbol (E_ACCESSDENIED is kEAccessDenied,
//   HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) is kWin32FileNotFound, STG_E_ and DISP_E_ likewise),
//   so that a run-time "file not found" (53) and the system's one never share a name.
//   The engines give each a meaning of its own, written beside it.
#include <cstdint>
#include <string_view>

#include "quorvane/automation_error.hpp"
#include "quorvane/dispatch.hpp"

namespace quorvane::failure {

// --- Run-time errors (besides the public ones) ----------------------------------------------------
inline constexpr std::int32_t kOutOfMemory = 7;            // an allocation failed
inline constexpr std::int32_t kOutOfStackSpace = 28;       // groups nested too deep to walk
inline constexpr std::int32_t kBadFileNameOrNumber = 52;   // a file number not open, a name with a NUL
inline constexpr std::int32_t kDeviceIoError = 57;
inline constexpr std::int32_t kDiskFull = 61;
inline constexpr std::int32_t kBadFileName = 64;           // a name longer than the system takes
inline constexpr std::int32_t kTooManyFiles = 67;
inline constexpr std::int32_t kServerUnavailable = 462;    // a call on an application that has quit

// --- Word's error numbers -----------------------------------------------------------------------
inline constexpr std::int32_t kWordNoDocumentOpen = 4248;   // the selection used with no document
inline constexpr std::int32_t kWordNotAvailable = 4605;     // a method that does not apply now
inline constexpr std::int32_t kWordValueOutOfRange = 4608;
inline constexpr std::int32_t kWordObjectDeleted = 5825;    // a call on a closed document

// --- HRESULTs -------------------------------------------------------------------------------------
// kEFail, kEInvalidArg and kPowerPointInvalidRequest are public. None of the numbers below is one
// of those three: the converters give them meanings of their own (an export filter nobody serves,
// a bad argument, a request the object model refuses).

// The input file does not exist, or its name cannot name one.
inline constexpr std::int32_t kWin32FileNotFound = static_cast<std::int32_t>(0x80070002u);
// The folder of a file does not exist.
inline constexpr std::int32_t kWin32PathNotFound = static_cast<std::int32_t>(0x80070003u);
// A file or folder cannot be written or made; also an input encrypted or protected by a password.
inline constexpr std::int32_t kEAccessDenied = static_cast<std::int32_t>(0x80070005u);
// The input is damaged, or is not a document of the kind expected.
inline constexpr std::int32_t kWin32InvalidData = static_cast<std::int32_t>(0x8007000Du);
// A limit was reached (the engine's limits on what it reads, the office's memory bound).
inline constexpr std::int32_t kEOutOfMemory = static_cast<std::int32_t>(0x8007000Eu);
// The disk filled while an output was written.
inline constexpr std::int32_t kWin32DiskFull = static_cast<std::int32_t>(0x80070070u);
// A call of the office ran past its deadline; the office was ended.
inline constexpr std::int32_t kWin32Timeout = static_cast<std::int32_t>(0x800705B4u);
// The office could not be started, died, or its connection broke.
inline constexpr std::int32_t kRpcServerUnavailable = static_cast<std::int32_t>(0x800706BAu);
// The input exists but cannot be read (no permission, a folder, ...).
inline constexpr std::int32_t kStgReadFault = static_cast<std::int32_t>(0x8003001Eu);
// An output could not be written or put in place.
inline constexpr std::int32_t kStgCantSave = static_cast<std::int32_t>(0x80030103u);
// A slide number outside the presentation.
inline constexpr std::int32_t kDispBadIndex = static_cast<std::int32_t>(0x8002000Bu);

// The dispatch surface's results, which travel as failure numbers when a late-bound call fails.
// The renderer uses kDispOverflow for a picture size outside what it draws.
inline constexpr std::int32_t kDispMemberNotFound = DISP_E_MEMBERNOTFOUND;
inline constexpr std::int32_t kDispTypeMismatch = DISP_E_TYPEMISMATCH;
inline constexpr std::int32_t kDispUnknownName = DISP_E_UNKNOWNNAME;
inline constexpr std::int32_t kDispException = DISP_E_EXCEPTION;
inline constexpr std::int32_t kDispOverflow = DISP_E_OVERFLOW;
inline constexpr std::int32_t kDispBadParamCount = DISP_E_BADPARAMCOUNT;
inline constexpr std::int32_t kDispParamNotOptional = DISP_E_PARAMNOTOPTIONAL;

// The description of `number` ("Path/File access error", "Member not found."); empty for a number
// that is not one of the above or the public ones.
std::u16string_view Description(std::int32_t number);

// An AutomationError of `number` with its description, for a raiser with nothing to add.
AutomationError Error(std::int32_t number);

}  // namespace quorvane::failure
