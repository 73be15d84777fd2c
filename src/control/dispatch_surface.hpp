#pragma once
// ControlDispatch: the control's members offered late-bound, by dispatch id and by name, exactly
// as the type description (quorvane/type_info.hpp) states them. Hosts without the component
// platform (scripts, the C interface) reach the control through it.
//
// Invoke binds the arguments to the declared parameters, coerces by-value arguments to the
// declared types (see ChangeType), passes by-reference arguments of exactly the declared type
// through to the member so that it writes back into the caller's storage, calls the member and
// converts its result to the declared result type. A by-reference argument of another type is
// DISP_E_TYPEMISMATCH, also a by-reference variant that holds a value of the declared type (as
// some script hosts pass their variables): only a parameter declared as a variant takes a
// reference to a variant. Invoke never throws: a failure of a member becomes DISP_E_EXCEPTION
// with the member's failure number and description; any other C++ exception becomes
// DISP_E_EXCEPTION with 7 (out of memory) or 5 (invalid procedure call).
//
// Events: AdviseEvents connects a Dispatch sink for __QuorvaneX. Progress arrives as
// Invoke(1, DISPATCH_METHOD, {}); onerror as Invoke(2, DISPATCH_METHOD, {ByRef(&number),
// ByRef(&ErrorString)}), so a sink that assigns to the second argument changes ErrorString.
#include <cstdint>
#include <memory>

#include "quorvane/control.hpp"
#include "quorvane/dispatch.hpp"

namespace quorvane::detail {

class ControlDispatch final : public Dispatch {
 public:
  // Over a control that the caller keeps alive for as long as this object is used.
  explicit ControlDispatch(QuorvaneX& control) : control_(control) {}
  // Sharing ownership of the control.
  explicit ControlDispatch(std::shared_ptr<QuorvaneX> control) : owner_(std::move(control)), control_(*owner_) {}

  HResult GetIDOfName(std::u16string_view name, DispId& id) override;
  HResult Invoke(DispId id, std::uint16_t kind, std::span<Variant> args, Variant* result, ExcepInfo* excep) override;

  // Connects `sink` to the control's events; returns the control's cookie (0 for a null sink).
  // The control holds the sink until UnadviseEvents. What a sink's Invoke returns or throws is
  // ignored: a failing host handler does not disturb the conversion that raised the event.
  std::uint32_t AdviseEvents(std::shared_ptr<Dispatch> sink);
  bool UnadviseEvents(std::uint32_t cookie);

  QuorvaneX& control() { return control_; }

 private:
  std::shared_ptr<QuorvaneX> owner_;
  QuorvaneX& control_;
};

// The adapter AdviseEvents uses: QuorvaneXEvents calls forwarded to a Dispatch sink.
std::shared_ptr<QuorvaneXEvents> MakeDispatchEventSink(std::shared_ptr<Dispatch> sink);

}  // namespace quorvane::detail
