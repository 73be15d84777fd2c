#pragma once
// Bridges between automation's COM types and the component's portable late-bound types
// (quorvane::Variant, quorvane::Dispatch): values both ways, and dispatch objects both ways.
//
// - FromVariant / ToVariant copy a value (a by-reference VARIANT is read through).
// - InvokeFromCom runs a COM Invoke (DISPPARAMS in reversed order, the named DISPID_PROPERTYPUT
//   argument of a put) against a portable Dispatch. By-reference VARIANTs arrive as by-reference
//   Variants over temporaries, and whatever the member wrote into them is written back into the
//   caller's storage when the call returns (also after a failure).
// - MakeComDispatch offers a portable Dispatch as a COM IDispatch; DispatchFromCom offers a COM
//   IDispatch as a portable Dispatch, passing by-reference Variants as VT_BYREF VARIANTs and reading
//   them back after the call. Each unwraps the other's objects instead of wrapping them twice.
// - EXCEPINFO and ExcepInfo are converted both ways: a small failure number n travels as the scode
//   0x800A0000 | n, an HRESULT as itself.
//
// Everything here runs on the caller's thread; the wrappers are apartment-bound like the objects
// they wrap. Every COM object made here counts in the module's object count (DllCanUnloadNow).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "com/windows_api.hpp"

namespace quorvane::com {

// Objects and locks of the module: the server may be unloaded when both are zero.
void ModuleAddRef() noexcept;
void ModuleRelease() noexcept;
long ModuleReferences() noexcept;

std::u16string FromBstr(const BSTR s);
// A new BSTR (the caller frees it); throws std::bad_alloc when out of memory.
BSTR ToBstr(std::u16string_view s);

// A value of `in` (by-reference VARIANTs read through). DISP_E_TYPEMISMATCH for types the
// portable variant has no counterpart for (arrays, records); currency, dates and decimals become
// VT_R8, VT_UNKNOWN becomes VT_DISPATCH when the object has IDispatch.
HRESULT FromVariant(const VARIANT& in, Variant& out);
// `out` must be empty or initialised; it is cleared first. A by-reference Variant is read through.
HRESULT ToVariant(const Variant& in, VARIANT& out);

// IDispatch over `target`. The result holds one reference.
IDispatch* MakeComDispatch(std::shared_ptr<Dispatch> target);
// Dispatch over `object` (holding a reference to it); null for a null object.
std::shared_ptr<Dispatch> DispatchFromCom(IDispatch* object);

// Runs one COM Invoke against `target`, with automation's conventions for the arguments.
HRESULT InvokeFromCom(Dispatch& target, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* argErr);
// GetIDsOfNames against `target`: the member's id; only the member name is looked up, so a call
// that also names parameters is DISP_E_UNKNOWNNAME for them.
HRESULT GetIDsOfNamesFromCom(Dispatch& target, LPOLESTR* names, UINT count, DISPID* ids);

// The failure as automation reports it, and back.
void FillExcepInfo(const ExcepInfo& in, EXCEPINFO& out, std::u16string_view source);
ExcepInfo ReadExcepInfo(EXCEPINFO& in);  // frees the strings of `in`
// The HRESULT a failure number stands for in a vtable call.
HRESULT FailureToHResult(std::int32_t number);

}  // namespace quorvane::com
