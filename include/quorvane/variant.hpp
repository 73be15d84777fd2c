#pragma once
// Variant: the value type of the dispatch surface, after the automation VARIANT.
//
// A variant holds one value of a small set of automation types, or refers to a value held by the
// caller (a by-reference variant, VT_BYREF | type), through which a called member writes back.
// A by-reference variant does not own what it points to; the caller keeps it alive for the call.
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "quorvane/export.hpp"

namespace quorvane {

// Automation Boolean: 16 bits, true = -1, false = 0. Stored as given; where a rule asks for
// "exactly true", only -1 counts.
using VariantBool = std::int16_t;
inline constexpr VariantBool kVariantTrue = -1;
inline constexpr VariantBool kVariantFalse = 0;

class Dispatch;

enum VarType : std::uint16_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,  // only as VT_BYREF | VT_VARIANT
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

class Variant;

class QUORVANE_API Variant {
 public:
  using DispatchPtr = std::shared_ptr<Dispatch>;

  Variant() = default;  // VT_EMPTY
  Variant(std::int16_t v) : vt_(VT_I2), value_(static_cast<std::int64_t>(v)) {}
  Variant(std::int32_t v) : vt_(VT_I4), value_(static_cast<std::int64_t>(v)) {}
  Variant(float v) : vt_(VT_R4), value_(static_cast<double>(v)) {}
  Variant(double v) : vt_(VT_R8), value_(v) {}
  Variant(std::u16string v) : vt_(VT_BSTR), value_(std::move(v)) {}
  Variant(const char16_t* v) : Variant(std::u16string(v)) {}
  Variant(DispatchPtr v) : vt_(VT_DISPATCH), value_(std::move(v)) {}

  static Variant Bool(VariantBool v);
  static Variant Integer(VarType vt, std::int64_t v);  // VT_I1 .. VT_UI8, VT_I2, VT_I4, VT_ERROR
  static Variant Null();

  // By-reference variants: refer to the caller's storage.
  static Variant ByRef(std::int16_t* p) { return ByRefOf(VT_I2, p); }
  static Variant ByRef(std::int32_t* p) { return ByRefOf(VT_I4, p); }
  static Variant ByRef(float* p) { return ByRefOf(VT_R4, p); }
  static Variant ByRef(double* p) { return ByRefOf(VT_R8, p); }
  static Variant ByRef(std::u16string* p) { return ByRefOf(VT_BSTR, p); }
  static Variant ByRef(DispatchPtr* p) { return ByRefOf(VT_DISPATCH, p); }
  static Variant ByRef(Variant* p) { return ByRefOf(VT_VARIANT, p); }
  static Variant ByRefBool(VariantBool* p) { return ByRefOf(VT_BOOL, p); }

  VarType vt() const noexcept { return vt_; }
  VarType base_type() const noexcept { return static_cast<VarType>(vt_ & VT_TYPEMASK); }
  bool is_byref() const noexcept { return (vt_ & VT_BYREF) != 0; }
  bool is_empty() const noexcept { return vt_ == VT_EMPTY; }
  bool is_integer() const noexcept;  // of any integer type, not by reference

  // Accessors for by-value variants; the caller checks vt() first.
  std::int64_t integer() const { return std::get<std::int64_t>(value_); }
  double real() const { return std::get<double>(value_); }
  const std::u16string& string() const { return std::get<std::u16string>(value_); }
  const DispatchPtr& dispatch() const { return std::get<DispatchPtr>(value_); }
  VariantBool boolean() const { return static_cast<VariantBool>(integer()); }

  // The storage a by-reference variant refers to, as the pointer type of its base type.
  template <typename T>
  T* ref() const { return static_cast<T*>(std::get<void*>(value_)); }

  // The value a by-reference variant refers to, as a by-value variant (by-value variants: a copy).
  Variant Dereferenced() const;

  friend bool operator==(const Variant& a, const Variant& b);

 private:
  Variant(VarType vt, std::variant<std::monostate, std::int64_t, double, std::u16string, DispatchPtr, void*> v)
      : vt_(vt), value_(std::move(v)) {}
  static Variant ByRefOf(VarType t, void* p) { return Variant(static_cast<VarType>(VT_BYREF | t), p); }

  VarType vt_ = VT_EMPTY;
  std::variant<std::monostate, std::int64_t, double, std::u16string, DispatchPtr, void*> value_;
};

}  // namespace quorvane
