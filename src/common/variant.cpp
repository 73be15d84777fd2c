#include "quorvane/variant.hpp"

#include "quorvane/dispatch.hpp"

namespace quorvane {

Dispatch::~Dispatch() = default;

Variant Variant::Bool(VariantBool v) { return Variant(VT_BOOL, static_cast<std::int64_t>(v)); }
Variant Variant::Integer(VarType vt, std::int64_t v) { return Variant(vt, v); }
Variant Variant::Null() { return Variant(VT_NULL, std::monostate{}); }

bool Variant::is_integer() const noexcept {
  switch (vt_) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8: case VT_UI8:
      return true;
    default:
      return false;
  }
}

Variant Variant::Dereferenced() const {
  if (!is_byref()) return *this;
  switch (base_type()) {
    case VT_I2: return Variant(*ref<std::int16_t>());
    case VT_I4: return Variant(*ref<std::int32_t>());
    case VT_R4: return Variant(*ref<float>());
    case VT_R8: return Variant(*ref<double>());
    case VT_BOOL: return Bool(*ref<VariantBool>());
    case VT_BSTR: return Variant(*ref<std::u16string>());
    case VT_DISPATCH: return Variant(*ref<DispatchPtr>());
    case VT_VARIANT: return ref<Variant>()->Dereferenced();
    default: return Variant();
  }
}

bool operator==(const Variant& a, const Variant& b) { return a.vt_ == b.vt_ && a.value_ == b.value_; }

}  // namespace quorvane
