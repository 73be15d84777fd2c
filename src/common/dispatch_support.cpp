#include "common/dispatch_support.hpp"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <optional>

#include "common/failures.hpp"
#include "common/text.hpp"

namespace quorvane::detail {
namespace {

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view TrimBlanks(std::u16string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

// Numeric text, read the same way under every locale (see ChangeType).
std::optional<double> ParseNumber(std::u16string_view text) {
  text = TrimBlanks(text);
  if (text.empty() || text.size() > 64) return std::nullopt;
  std::string s;
  bool digit = false;
  for (char16_t c : text) {
    if (c >= u'0' && c <= u'9') {
      digit = true;
    } else if (c != u'.' && c != u'e' && c != u'E' && c != u'+' && c != u'-') {
      return std::nullopt;  // also keeps out "inf", "nan" and hexadecimal forms
    }
    s += static_cast<char>(c);
  }
  if (!digit) return std::nullopt;
  std::size_t start = 0;
  if (s[0] == '+') {
    start = 1;
    if (s.size() < 2 || s[1] == '-' || s[1] == '+') return std::nullopt;
  }
  double value = 0;
  const auto [end, ec] = std::from_chars(s.data() + start, s.data() + s.size(), value);
  if (ec == std::errc::result_out_of_range) return std::numeric_limits<double>::infinity();
  if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

template <typename T>
std::u16string FormatReal(T value) {
  if (std::isnan(value)) return u"NaN";
  if (std::isinf(value)) return value < 0 ? u"-Infinity" : u"Infinity";
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  std::u16string out;
  if (ec != std::errc()) return out;
  for (const char* p = buf; p != end; ++p) out += static_cast<char16_t>(*p == 'e' ? 'E' : *p);
  return out;
}

std::u16string FormatUnsigned(std::uint64_t v) {
  const std::string digits = std::to_string(v);
  return std::u16string(digits.begin(), digits.end());
}

// Rounds half to even, as automation does when a real becomes an integer.
HResult RealToInteger(double d, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
  if (!std::isfinite(d)) return DISP_E_OVERFLOW;
  double r = std::floor(d);
  const double frac = d - r;
  if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2.0) != 0)) r += 1;
  if (r < static_cast<double>(lo) || r > static_cast<double>(hi)) return DISP_E_OVERFLOW;
  out = static_cast<std::int64_t>(r);
  return S_OK_;
}

bool IsSignedInteger(VarType vt) {
  return vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_I8 || vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4;
}

HResult ToInteger(const Variant& v, std::int64_t lo, std::int64_t hi, std::int64_t& out) {
  const VarType vt = v.vt();
  if (vt == VT_EMPTY) {
    out = 0;
    return S_OK_;
  }
  if (IsSignedInteger(vt) || vt == VT_BOOL || vt == VT_UI8) {
    if (vt == VT_UI8 && v.integer() < 0) return DISP_E_OVERFLOW;  // above the signed 64-bit range
    const std::int64_t x = v.integer();
    if (x < lo || x > hi) return DISP_E_OVERFLOW;
    out = x;
    return S_OK_;
  }
  if (vt == VT_R4 || vt == VT_R8) return RealToInteger(v.real(), lo, hi, out);
  if (vt == VT_BSTR) {
    const auto d = ParseNumber(v.string());
    if (!d) return DISP_E_TYPEMISMATCH;
    return RealToInteger(*d, lo, hi, out);
  }
  return DISP_E_TYPEMISMATCH;
}

HResult ToReal(const Variant& v, double& out) {
  const VarType vt = v.vt();
  if (vt == VT_EMPTY) {
    out = 0;
    return S_OK_;
  }
  if (vt == VT_UI8) {
    out = static_cast<double>(static_cast<std::uint64_t>(v.integer()));
    return S_OK_;
  }
  if (IsSignedInteger(vt) || vt == VT_BOOL) {
    out = static_cast<double>(v.integer());
    return S_OK_;
  }
  if (vt == VT_R4 || vt == VT_R8) {
    out = v.real();
    return S_OK_;
  }
  if (vt == VT_BSTR) {
    const auto d = ParseNumber(v.string());
    if (!d) return DISP_E_TYPEMISMATCH;
    out = *d;
    return S_OK_;
  }
  return DISP_E_TYPEMISMATCH;
}

HResult ToBool(const Variant& v, VariantBool& out) {
  const VarType vt = v.vt();
  if (vt == VT_BOOL) {
    out = v.boolean();  // kept as given, also a non-standard true such as 1
    return S_OK_;
  }
  if (vt == VT_BSTR) {
    const std::u16string_view s = TrimBlanks(v.string());
    if (text::EqualsIgnoreCase(s, u"True")) {
      out = kVariantTrue;
      return S_OK_;
    }
    if (text::EqualsIgnoreCase(s, u"False")) {
      out = kVariantFalse;
      return S_OK_;
    }
  }
  double d = 0;
  const HResult hr = ToReal(v, d);
  if (hr != S_OK_) return hr;
  out = d != 0 ? kVariantTrue : kVariantFalse;
  return S_OK_;
}

HResult ToString(const Variant& v, std::u16string& out) {
  switch (v.vt()) {
    case VT_EMPTY: out.clear(); return S_OK_;
    case VT_BSTR: out = v.string(); return S_OK_;
    case VT_BOOL: out = v.integer() != 0 ? u"True" : u"False"; return S_OK_;
    case VT_R4: out = FormatReal(static_cast<float>(v.real())); return S_OK_;
    case VT_R8: out = FormatReal(v.real()); return S_OK_;
    case VT_UI8: out = FormatUnsigned(static_cast<std::uint64_t>(v.integer())); return S_OK_;
    default:
      if (!IsSignedInteger(v.vt())) return DISP_E_TYPEMISMATCH;
      out = text::Decimal(v.integer());
      return S_OK_;
  }
}

template <typename T>
constexpr std::int64_t Min() {
  return static_cast<std::int64_t>(std::numeric_limits<T>::min());
}
template <typename T>
constexpr std::int64_t Max() {
  return static_cast<std::int64_t>(std::numeric_limits<T>::max());
}

HResult ToIntegerVariant(const Variant& v, VarType to, std::int64_t lo, std::int64_t hi, Variant& out) {
  std::int64_t x = 0;
  const HResult hr = ToInteger(v, lo, hi, x);
  if (hr == S_OK_) out = Variant::Integer(to, x);
  return hr;
}

}  // namespace

HResult ChangeType(const Variant& in, VarType to, Variant& out) {
  const Variant v = in.Dereferenced();
  switch (to) {
    case VT_VARIANT:
      out = v;
      return S_OK_;
    case VT_I1: return ToIntegerVariant(v, to, -128, 127, out);
    case VT_UI1: return ToIntegerVariant(v, to, 0, 255, out);
    case VT_I2: return ToIntegerVariant(v, to, -32768, 32767, out);
    case VT_UI2: return ToIntegerVariant(v, to, 0, 65535, out);
    case VT_I4: return ToIntegerVariant(v, to, Min<std::int32_t>(), Max<std::int32_t>(), out);
    case VT_UI4: return ToIntegerVariant(v, to, 0, Max<std::uint32_t>(), out);
    case VT_I8: return ToIntegerVariant(v, to, Min<std::int64_t>(), Max<std::int64_t>(), out);
    case VT_R4: {
      double d = 0;
      const HResult hr = ToReal(v, d);
      if (hr != S_OK_) return hr;
      if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
      out = Variant(static_cast<float>(d));
      return S_OK_;
    }
    case VT_R8: {
      double d = 0;
      const HResult hr = ToReal(v, d);
      if (hr == S_OK_) out = Variant(d);
      return hr;
    }
    case VT_BOOL: {
      VariantBool b = 0;
      const HResult hr = ToBool(v, b);
      if (hr == S_OK_) out = Variant::Bool(b);
      return hr;
    }
    case VT_BSTR: {
      std::u16string s;
      const HResult hr = ToString(v, s);
      if (hr == S_OK_) out = Variant(std::move(s));
      return hr;
    }
    case VT_DISPATCH:
      if (v.vt() != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
      out = v;
      return S_OK_;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

HResult CurrentExceptionToExcepInfo(ExcepInfo* excep) noexcept {
  std::int32_t number = failure::kInvalidCall;
  try {
    try {
      throw;
    } catch (const AutomationError& e) {
      number = e.number();
      if (excep) *excep = {number, e.description()};
    } catch (const std::bad_alloc&) {
      number = failure::kOutOfMemory;
      if (excep) *excep = {number, std::u16string(failure::Description(number))};
    } catch (const std::exception& e) {
      if (excep) *excep = {number, text::FromUtf8(e.what())};
    } catch (...) {
      if (excep) *excep = {number, std::u16string(failure::Description(number))};
    }
  } catch (...) {
    // No memory left for the description: the number alone still tells the caller what failed.
    if (excep) excep->number = number;
  }
  return DISP_E_EXCEPTION;
}

std::u16string DescribeHResult(HResult hr) {
  switch (hr) {
    case failure::kDispMemberNotFound:
    case failure::kDispTypeMismatch:
    case failure::kDispUnknownName:
    case failure::kDispException:
    case failure::kDispOverflow:
    case failure::kDispBadParamCount:
    case failure::kDispParamNotOptional: return std::u16string(failure::Description(hr));
    // Whatever else a late-bound object answered is its own affair.
    default: return u"Automation call failed.";
  }
}

}  // namespace quorvane::detail
