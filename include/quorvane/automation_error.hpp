#pragma once
// The one failure type of the object model and of the control's automation calls.
//
// Every call on an office object (PowerPoint or Word, whichever engine answers it) may throw an
// AutomationError. Its number is either a run-time error number of the scripting platform
// (5, 6, 11, 48, 55, 75, 429, ...: small positive numbers) or an HRESULT as a signed 32-bit value
// (0x80048240, 0x80004005, 0x80070057, ...: negative numbers). The converters map these numbers to
// result codes in their failure paths; engines choose their numbers so that those paths reach the
// right result.
//
// A call of the control that ends as "a failed automation call" (a failure inside a failure path,
// or inside the public text-writer and group-text methods) throws this type to a C++ host; the
// dispatch surface turns it into DISP_E_EXCEPTION with the number and description.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "quorvane/export.hpp"

namespace quorvane {

class QUORVANE_API AutomationError : public std::runtime_error {
 public:
  AutomationError(std::int32_t number, std::u16string description);

  std::int32_t number() const noexcept { return number_; }
  const std::u16string& description() const noexcept { return description_; }

 private:
  std::int32_t number_;
  std::u16string description_;
};

// Failure numbers the component raises or distinguishes.
namespace failure {
inline constexpr std::int32_t kInvalidCall = 5;
inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kSubscriptOutOfRange = 9;
inline constexpr std::int32_t kDivisionByZero = 11;
inline constexpr std::int32_t kTypeMismatch = 13;
inline constexpr std::int32_t kLibraryNotLoaded = 48;      // "error in loading a library"
inline constexpr std::int32_t kFileNotFound = 53;
inline constexpr std::int32_t kFileAlreadyOpen = 55;
inline constexpr std::int32_t kPermissionDenied = 70;
inline constexpr std::int32_t kPathFileAccessError = 75;
inline constexpr std::int32_t kPathNotFound = 76;
inline constexpr std::int32_t kObjectNotSet = 91;
inline constexpr std::int32_t kCannotCreateObject = 429;   // "automation object cannot be created"
inline constexpr std::int32_t kMemberNotSupported = 438;
inline constexpr std::int32_t kPowerPointInvalidRequest = static_cast<std::int32_t>(0x80048240u);
inline constexpr std::int32_t kEFail = static_cast<std::int32_t>(0x80004005u);
inline constexpr std::int32_t kEInvalidArg = static_cast<std::int32_t>(0x80070057u);
}  // namespace failure

}  // namespace quorvane
