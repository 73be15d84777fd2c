#pragma once
// Late-bound objects: the dispatch interface, after automation's IDispatch.
//
// The control offers every member of its automation interface through Dispatch, by dispatch id
// and by name, exactly as its type library describes them (see quorvane/type_info.hpp). Office
// objects handed to the control late-bound (the shape that TextFromGroupShape receives) are
// Dispatch objects too.
//
// Arguments are passed in declaration order (not reversed, as automation's DISPPARAMS are).
// A by-reference parameter receives write-back when the caller passes a by-reference variant of
// the parameter's type; a by-value variant is coerced into a temporary and nothing is written back.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "quorvane/export.hpp"
#include "quorvane/variant.hpp"

namespace quorvane {

using DispId = std::int32_t;
using HResult = std::int32_t;

inline constexpr HResult S_OK_ = 0;
inline constexpr HResult DISP_E_MEMBERNOTFOUND = static_cast<HResult>(0x80020003u);
inline constexpr HResult DISP_E_TYPEMISMATCH = static_cast<HResult>(0x80020005u);
inline constexpr HResult DISP_E_UNKNOWNNAME = static_cast<HResult>(0x80020006u);
inline constexpr HResult DISP_E_EXCEPTION = static_cast<HResult>(0x80020009u);
inline constexpr HResult DISP_E_OVERFLOW = static_cast<HResult>(0x8002000Au);
inline constexpr HResult DISP_E_BADPARAMCOUNT = static_cast<HResult>(0x8002000Eu);
inline constexpr HResult DISP_E_PARAMNOTOPTIONAL = static_cast<HResult>(0x8002000Fu);

// Kinds of invocation; may be combined (a name that is both a method and a property get).
enum InvokeKind : std::uint16_t {
  DISPATCH_METHOD = 1,
  DISPATCH_PROPERTYGET = 2,
  DISPATCH_PROPERTYPUT = 4,
};

// What a member that failed reports (for DISP_E_EXCEPTION): the failure number (a run-time error
// number or an HRESULT) and its description.
struct ExcepInfo {
  std::int32_t number = 0;
  std::u16string description;
};

class QUORVANE_API Dispatch {
 public:
  virtual ~Dispatch();

  // Case-insensitive lookup of a member name. DISP_E_UNKNOWNNAME when there is no such member.
  virtual HResult GetIDOfName(std::u16string_view name, DispId& id) = 0;

  // Invokes member `id`. `result` may be null when the caller wants no result. On
  // DISP_E_EXCEPTION, `excep` (when not null) receives the failure.
  virtual HResult Invoke(DispId id, std::uint16_t kind, std::span<Variant> args, Variant* result,
                         ExcepInfo* excep) = 0;

  // Convenience: looks the name up, then invokes. Throws AutomationError on any failure, with the
  // HRESULT as its number (or the member's own failure for DISP_E_EXCEPTION).
  Variant Call(std::u16string_view name, std::uint16_t kind, std::span<Variant> args = {});
};

}  // namespace quorvane
