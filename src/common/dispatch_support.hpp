#pragma once
// What every Dispatch implementation of the component shares: coercion of arguments to declared
// types, and turning a C++ exception into DISP_E_EXCEPTION.
#include <string>

#include "quorvane/dispatch.hpp"
#include "quorvane/variant.hpp"

namespace quorvane::detail {

// Converts `in` (a by-reference variant is read through) to the automation type `to`, the way
// automation coerces an argument to its declared type:
// - integers of every width, Booleans, reals and numeric text to VT_I2 / VT_I4: reals rounded half
//   to even, DISP_E_OVERFLOW when the value does not fit;
// - anything numeric to VT_R4 / VT_R8 (DISP_E_OVERFLOW when a finite value exceeds VT_R4's range);
// - numbers to VT_BOOL as zero = false, anything else = true (-1); a Boolean keeps its 16-bit value
//   as given; the texts "True" / "False" (any letter case) and numeric text are accepted;
// - numbers to VT_BSTR in decimal ("2.5", "-7"), Booleans as "True" / "False";
// - VT_EMPTY to 0, 0.0, false or the empty string;
// - VT_DISPATCH only from VT_DISPATCH; VT_VARIANT takes any value unchanged.
// Numeric text is read without regard to the locale: optional spaces around, an optional sign,
// digits with at most one "." and an optional exponent; no grouping separators.
// Anything else (VT_NULL, VT_ERROR, objects to scalars, non-numeric text) is DISP_E_TYPEMISMATCH.
// `out` is written only on success.
HResult ChangeType(const Variant& in, VarType to, Variant& out);

// For use inside a catch (...) block of an Invoke: fills `excep` (when not null) from the
// exception in flight and returns DISP_E_EXCEPTION. AutomationError keeps its number and
// description; std::bad_alloc becomes 7 "Out of memory"; any other exception 5 with its text.
HResult CurrentExceptionToExcepInfo(ExcepInfo* excep) noexcept;

// A short text for a failure HRESULT of the dispatch surface ("Type mismatch.", ...).
std::u16string DescribeHResult(HResult hr);

}  // namespace quorvane::detail
