#pragma once
// The one way the renderer raises its failures.
//
// Every failure of the renderer is an AutomationError whose number is an HRESULT of the failure
// registry (common/failures.hpp), chosen so that the converters can tell the cases apart. E_FAIL
// (kEFail) is reserved for "the office cannot write this format (for this document)": the
// converters treat it as an unsupported target. Everything that goes wrong with the office itself,
// with the input or with the output has a number of its own, and never 0x80048240 or 0x80070057,
// which mean an invalid object-model request and a bad argument to the converters.
#include <cstdint>
#include <string_view>

#include "common/failures.hpp"

namespace quorvane::engines::libreoffice {

// Throws AutomationError(number, description); the description is UTF-8 here and UTF-16 in the error.
[[noreturn]] void Fail(std::int32_t number, std::string_view description);

}  // namespace quorvane::engines::libreoffice
