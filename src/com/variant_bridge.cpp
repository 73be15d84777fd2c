// VARIANT <-> Variant and IDispatch <-> Dispatch.
#include "com/variant_bridge.hpp"

#include <atomic>
#include <new>
#include <vector>

namespace quorvane::com {
namespace {

std::atomic<long> moduleReferences{0};

// Asked of an IDispatch to learn whether it is one of ours (then it answers with itself, without
// a reference): a portable Dispatch is then handed on as it is instead of through two wrappers.
constexpr GUID kIidPortableDispatch = {0x3c1e0b7a, 0x58d2, 0x4f61, {0x9a, 0x0e, 0x51, 0x7d, 0x2b, 0x64, 0xc3, 0x18}};

const wchar_t* Wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

class ComDispatch final : public IDispatch {
 public:
  explicit ComDispatch(std::shared_ptr<Dispatch> target) : target_(std::move(target)) { ModuleAddRef(); }
  ComDispatch(const ComDispatch&) = delete;
  ComDispatch& operator=(const ComDispatch&) = delete;
  virtual ~ComDispatch() { ModuleRelease(); }

  const std::shared_ptr<Dispatch>& target() const { return target_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == kIidPortableDispatch) {
      *out = this;
      return S_OK;
    }
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return GetIDsOfNamesFromCom(*target_, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* argErr) override {
    return InvokeFromCom(*target_, id, flags, params, result, excep, argErr);
  }

 private:
  std::atomic<ULONG> references_{1};
  std::shared_ptr<Dispatch> target_;
};

// The value a by-reference argument of a COM caller refers to, while a portable member works on it.
struct InCell {
  VARIANT* target = nullptr;  // the caller's VARIANT (VT_BYREF | vt)
  VARTYPE vt = VT_EMPTY;      // VT_EMPTY: nothing to write back
  std::int16_t i2 = 0;
  std::int32_t i4 = 0;
  float r4 = 0;
  double r8 = 0;
  VariantBool b = 0;
  std::u16string s;
  Variant::DispatchPtr d;
  Variant v, original;
};

HRESULT BindIn(VARIANT& in, InCell& c, Variant& out) {
  const VARTYPE vt = V_VT(&in);
  if (!(vt & VT_BYREF) || (vt & VT_ARRAY)) return FromVariant(in, out);
  c.target = &in;
  c.vt = static_cast<VARTYPE>(vt & ~VT_BYREF);
  switch (c.vt) {
    case VT_I2: c.i2 = *V_I2REF(&in); out = Variant::ByRef(&c.i2); break;
    case VT_I4: c.i4 = *V_I4REF(&in); out = Variant::ByRef(&c.i4); break;
    case VT_R4: c.r4 = *V_R4REF(&in); out = Variant::ByRef(&c.r4); break;
    case VT_R8: c.r8 = *V_R8REF(&in); out = Variant::ByRef(&c.r8); break;
    case VT_BOOL: c.b = *V_BOOLREF(&in); out = Variant::ByRefBool(&c.b); break;
    case VT_BSTR: c.s = FromBstr(*V_BSTRREF(&in)); out = Variant::ByRef(&c.s); break;
    case VT_DISPATCH: c.d = DispatchFromCom(*V_DISPATCHREF(&in)); out = Variant::ByRef(&c.d); break;
    case VT_VARIANT:
      if (const HRESULT hr = FromVariant(*V_VARIANTREF(&in), c.v); FAILED(hr)) return hr;
      c.original = c.v;
      out = Variant::ByRef(&c.v);
      break;
    default:  // read through; there is no portable storage of that type to write back from
      c.vt = VT_EMPTY;
      return FromVariant(in, out);
  }
  return S_OK;
}

void WriteBackIn(InCell& c) {
  VARIANT& in = *c.target;
  switch (c.vt) {
    case VT_I2: *V_I2REF(&in) = c.i2; break;
    case VT_I4: *V_I4REF(&in) = c.i4; break;
    case VT_R4: *V_R4REF(&in) = c.r4; break;
    case VT_R8: *V_R8REF(&in) = c.r8; break;
    case VT_BOOL: *V_BOOLREF(&in) = c.b; break;
    case VT_BSTR:
      if (FromBstr(*V_BSTRREF(&in)) != c.s) {
        BSTR fresh = ToBstr(c.s);
        SysFreeString(*V_BSTRREF(&in));
        *V_BSTRREF(&in) = fresh;
      }
      break;
    case VT_DISPATCH: {
      IDispatch* fresh = c.d ? MakeComDispatch(c.d) : nullptr;
      if (*V_DISPATCHREF(&in)) (*V_DISPATCHREF(&in))->Release();
      *V_DISPATCHREF(&in) = fresh;
      break;
    }
    case VT_VARIANT:
      if (!(c.v == c.original)) {
        VARIANT fresh;
        VariantInit(&fresh);
        if (SUCCEEDED(ToVariant(c.v, fresh))) {
          VariantClear(V_VARIANTREF(&in));
          *V_VARIANTREF(&in) = fresh;
        }
      }
      break;
    default: break;
  }
}

// COM storage for a by-reference argument that a portable caller passes to a COM object.
struct OutCell {
  VARTYPE vt = VT_EMPTY;
  SHORT i2 = 0;
  LONG i4 = 0;
  FLOAT r4 = 0;
  DOUBLE r8 = 0;
  VARIANT_BOOL b = 0;
  BSTR s = nullptr;
  IDispatch* d = nullptr;
  VARIANT var{};

  OutCell() { VariantInit(&var); }
  OutCell(const OutCell&) = delete;
  OutCell& operator=(const OutCell&) = delete;
  ~OutCell() {
    SysFreeString(s);
    if (d) d->Release();
    VariantClear(&var);
  }
};

HRESULT BindOut(const Variant& arg, OutCell& c, VARIANT& out) {
  if (!arg.is_byref()) return ToVariant(arg, out);
  c.vt = arg.base_type();
  switch (c.vt) {
    case VT_I2: c.i2 = *arg.ref<std::int16_t>(); V_I2REF(&out) = &c.i2; break;
    case VT_I4: c.i4 = *arg.ref<std::int32_t>(); V_I4REF(&out) = &c.i4; break;
    case VT_R4: c.r4 = *arg.ref<float>(); V_R4REF(&out) = &c.r4; break;
    case VT_R8: c.r8 = *arg.ref<double>(); V_R8REF(&out) = &c.r8; break;
    case VT_BOOL: c.b = *arg.ref<VariantBool>(); V_BOOLREF(&out) = &c.b; break;
    case VT_BSTR: c.s = ToBstr(*arg.ref<std::u16string>()); V_BSTRREF(&out) = &c.s; break;
    case VT_DISPATCH: {
      const auto& d = *arg.ref<Variant::DispatchPtr>();
      c.d = d ? MakeComDispatch(d) : nullptr;
      V_DISPATCHREF(&out) = &c.d;
      break;
    }
    case VT_VARIANT:
      if (const HRESULT hr = ToVariant(*arg.ref<Variant>(), c.var); FAILED(hr)) return hr;
      V_VARIANTREF(&out) = &c.var;
      break;
    default: return DISP_E_TYPEMISMATCH;
  }
  V_VT(&out) = static_cast<VARTYPE>(VT_BYREF | c.vt);
  return S_OK;
}

void ReadBackOut(const Variant& arg, OutCell& c) {
  switch (c.vt) {
    case VT_I2: *arg.ref<std::int16_t>() = c.i2; break;
    case VT_I4: *arg.ref<std::int32_t>() = c.i4; break;
    case VT_R4: *arg.ref<float>() = c.r4; break;
    case VT_R8: *arg.ref<double>() = c.r8; break;
    case VT_BOOL: *arg.ref<VariantBool>() = c.b; break;
    case VT_BSTR: *arg.ref<std::u16string>() = FromBstr(c.s); break;
    case VT_DISPATCH: *arg.ref<Variant::DispatchPtr>() = DispatchFromCom(c.d); break;
    case VT_VARIANT: {
      Variant value;
      if (SUCCEEDED(FromVariant(c.var, value))) *arg.ref<Variant>() = std::move(value);
      break;
    }
    default: break;
  }
}

// A COM object seen as a portable Dispatch.
class ComBackedDispatch final : public Dispatch {
 public:
  explicit ComBackedDispatch(IDispatch* object) : object_(object) {
    object_->AddRef();
    ModuleAddRef();
  }
  ComBackedDispatch(const ComBackedDispatch&) = delete;
  ComBackedDispatch& operator=(const ComBackedDispatch&) = delete;
  ~ComBackedDispatch() override {
    object_->Release();
    ModuleRelease();
  }

  IDispatch* object() const { return object_; }

  HResult GetIDOfName(std::u16string_view name, DispId& id) override {
    std::u16string text(name);
    LPOLESTR names[] = {const_cast<LPOLESTR>(Wide(text.c_str()))};
    DISPID found = DISPID_UNKNOWN;
    const HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &found);
    if (SUCCEEDED(hr)) id = found;
    return hr;
  }

  HResult Invoke(DispId id, std::uint16_t kind, std::span<Variant> args, Variant* result,
                 ExcepInfo* excep) override {
    try {
      const std::size_t n = args.size();
      std::vector<OutCell> cells(n);
      std::vector<VARIANT> rgvarg(n);
      for (auto& v : rgvarg) VariantInit(&v);
      struct ClearArgs {
        std::vector<VARIANT>& v;
        ~ClearArgs() {
          for (auto& each : v)
            if (!(V_VT(&each) & VT_BYREF)) VariantClear(&each);
        }
      } clearArgs{rgvarg};
      for (std::size_t i = 0; i < n; ++i)
        if (const HRESULT hr = BindOut(args[i], cells[i], rgvarg[n - 1 - i]); FAILED(hr)) return hr;

      DISPID putId = DISPID_PROPERTYPUT;
      DISPPARAMS params{rgvarg.data(), nullptr, static_cast<UINT>(n), 0};
      if ((kind & DISPATCH_PROPERTYPUT) && n > 0) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
      }
      VARIANT value;
      VariantInit(&value);
      EXCEPINFO info{};
      UINT argErr = 0;
      const HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params,
                                         (kind & DISPATCH_PROPERTYPUT) ? nullptr : &value, &info, &argErr);
      for (std::size_t i = 0; i < n; ++i) ReadBackOut(args[i], cells[i]);
      if (hr == DISP_E_EXCEPTION) {
        ExcepInfo failure = ReadExcepInfo(info);
        if (excep) *excep = std::move(failure);
      }
      HRESULT converted = S_OK;
      if (SUCCEEDED(hr) && result) converted = FromVariant(value, *result);
      VariantClear(&value);
      return FAILED(hr) ? hr : converted;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

 private:
  IDispatch* object_;
};

}  // namespace

void ModuleAddRef() noexcept { ++moduleReferences; }
void ModuleRelease() noexcept { --moduleReferences; }
long ModuleReferences() noexcept { return moduleReferences.load(); }

std::u16string FromBstr(const BSTR s) {
  if (!s) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(s), SysStringLen(s));
}

BSTR ToBstr(std::u16string_view s) {
  BSTR b = SysAllocStringLen(Wide(s.data()), static_cast<UINT>(s.size()));
  if (!b) throw std::bad_alloc();
  return b;
}

HRESULT FromVariant(const VARIANT& in, Variant& out) {
  const VARTYPE vt = V_VT(&in);
  if (vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
  if (vt & VT_BYREF) {
    VARIANT copy;
    VariantInit(&copy);
    if (const HRESULT hr = VariantCopyInd(&copy, const_cast<VARIANT*>(&in)); FAILED(hr)) return hr;
    const HRESULT hr = FromVariant(copy, out);
    VariantClear(&copy);
    return hr;
  }
  switch (vt) {
    case VT_EMPTY: out = Variant(); break;
    case VT_NULL: out = Variant::Null(); break;
    case VT_I2: out = Variant(static_cast<std::int16_t>(V_I2(&in))); break;
    case VT_I4: out = Variant(static_cast<std::int32_t>(V_I4(&in))); break;
    case VT_INT: out = Variant(static_cast<std::int32_t>(V_INT(&in))); break;
    case VT_R4: out = Variant(V_R4(&in)); break;
    case VT_R8: out = Variant(V_R8(&in)); break;
    case VT_BSTR: out = Variant(FromBstr(V_BSTR(&in))); break;
    case VT_BOOL: out = Variant::Bool(V_BOOL(&in)); break;
    case VT_ERROR: out = Variant::Integer(quorvane::VT_ERROR, V_ERROR(&in)); break;
    case VT_I1: out = Variant::Integer(quorvane::VT_I1, V_I1(&in)); break;
    case VT_UI1: out = Variant::Integer(quorvane::VT_UI1, V_UI1(&in)); break;
    case VT_UI2: out = Variant::Integer(quorvane::VT_UI2, V_UI2(&in)); break;
    case VT_UI4: out = Variant::Integer(quorvane::VT_UI4, V_UI4(&in)); break;
    case VT_UINT: out = Variant::Integer(quorvane::VT_UI4, V_UINT(&in)); break;
    case VT_I8: out = Variant::Integer(quorvane::VT_I8, V_I8(&in)); break;
    case VT_UI8: out = Variant::Integer(quorvane::VT_UI8, static_cast<std::int64_t>(V_UI8(&in))); break;
    case VT_DISPATCH: out = Variant(DispatchFromCom(V_DISPATCH(&in))); break;
    case VT_UNKNOWN: {
      IDispatch* object = nullptr;
      if (V_UNKNOWN(&in) && FAILED(V_UNKNOWN(&in)->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object))))
        return DISP_E_TYPEMISMATCH;
      out = Variant(DispatchFromCom(object));
      if (object) object->Release();
      break;
    }
    case VT_CY:
    case VT_DATE:
    case VT_DECIMAL: {
      VARIANT real;
      VariantInit(&real);
      if (const HRESULT hr = VariantChangeType(&real, const_cast<VARIANT*>(&in), 0, VT_R8); FAILED(hr)) return hr;
      out = Variant(V_R8(&real));
      break;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

HRESULT ToVariant(const Variant& in, VARIANT& out) {
  VariantClear(&out);
  if (in.is_byref()) return ToVariant(in.Dereferenced(), out);
  switch (in.vt()) {
    case quorvane::VT_EMPTY: break;
    case quorvane::VT_NULL: V_VT(&out) = VT_NULL; break;
    case quorvane::VT_I2: V_VT(&out) = VT_I2; V_I2(&out) = static_cast<SHORT>(in.integer()); break;
    case quorvane::VT_I4: V_VT(&out) = VT_I4; V_I4(&out) = static_cast<LONG>(in.integer()); break;
    case quorvane::VT_R4: V_VT(&out) = VT_R4; V_R4(&out) = static_cast<FLOAT>(in.real()); break;
    case quorvane::VT_R8: V_VT(&out) = VT_R8; V_R8(&out) = in.real(); break;
    case quorvane::VT_BOOL: V_VT(&out) = VT_BOOL; V_BOOL(&out) = in.boolean(); break;
    case quorvane::VT_ERROR: V_VT(&out) = VT_ERROR; V_ERROR(&out) = static_cast<SCODE>(in.integer()); break;
    case quorvane::VT_I1: V_VT(&out) = VT_I1; V_I1(&out) = static_cast<CHAR>(in.integer()); break;
    case quorvane::VT_UI1: V_VT(&out) = VT_UI1; V_UI1(&out) = static_cast<BYTE>(in.integer()); break;
    case quorvane::VT_UI2: V_VT(&out) = VT_UI2; V_UI2(&out) = static_cast<USHORT>(in.integer()); break;
    case quorvane::VT_UI4: V_VT(&out) = VT_UI4; V_UI4(&out) = static_cast<ULONG>(in.integer()); break;
    case quorvane::VT_I8: V_VT(&out) = VT_I8; V_I8(&out) = in.integer(); break;
    case quorvane::VT_UI8: V_VT(&out) = VT_UI8; V_UI8(&out) = static_cast<ULONGLONG>(in.integer()); break;
    case quorvane::VT_BSTR:
      V_BSTR(&out) = ToBstr(in.string());
      V_VT(&out) = VT_BSTR;
      break;
    case quorvane::VT_DISPATCH:
      V_DISPATCH(&out) = in.dispatch() ? MakeComDispatch(in.dispatch()) : nullptr;
      V_VT(&out) = VT_DISPATCH;
      break;
    default: return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

IDispatch* MakeComDispatch(std::shared_ptr<Dispatch> target) {
  if (!target) return nullptr;
  if (auto* backed = dynamic_cast<ComBackedDispatch*>(target.get())) {
    backed->object()->AddRef();
    return backed->object();
  }
  return new ComDispatch(std::move(target));
}

std::shared_ptr<Dispatch> DispatchFromCom(IDispatch* object) {
  if (!object) return nullptr;
  void* ours = nullptr;
  if (SUCCEEDED(object->QueryInterface(kIidPortableDispatch, &ours)) && ours)
    return static_cast<ComDispatch*>(ours)->target();
  return std::make_shared<ComBackedDispatch>(object);
}

HRESULT InvokeFromCom(Dispatch& target, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* argErr) {
  try {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (!params) params = &none;
    const UINT n = params->cArgs;
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    if (params->cNamedArgs > 0 &&
        !(put && params->cNamedArgs == 1 && params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT))
      return DISP_E_NONAMEDARGS;
    if (params->cNamedArgs > n) return E_INVALIDARG;

    // Declaration order: the positional arguments (stored last to first), then a put's value,
    // which is the named argument at the front.
    std::vector<UINT> order(n);
    for (UINT i = 0; i < n; ++i) order[i] = n - 1 - i;
    if (params->cNamedArgs == 1) {
      for (UINT i = 0; i + 1 < n; ++i) order[i] = n - 1 - i;
      order[n - 1] = 0;
    }

    std::vector<InCell> cells(n);
    std::vector<Variant> args(n);
    for (UINT i = 0; i < n; ++i) {
      if (const HRESULT hr = BindIn(params->rgvarg[order[i]], cells[i], args[i]); FAILED(hr)) {
        if (argErr) *argErr = order[i];
        return hr;
      }
    }
    std::uint16_t kind = flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    if (put) kind = DISPATCH_PROPERTYPUT;

    Variant value;
    ExcepInfo failure;
    const HResult hr = target.Invoke(id, kind, args, &value, &failure);
    for (auto& cell : cells)
      if (cell.target) WriteBackIn(cell);
    if (hr == DISP_E_EXCEPTION && excep) FillExcepInfo(failure, *excep, u"Quorvane");
    if (FAILED(hr)) return hr;
    if (result) {
      VariantInit(result);
      return ToVariant(value, *result);
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT GetIDsOfNamesFromCom(Dispatch& target, LPOLESTR* names, UINT count, DISPID* ids) {
  if (count == 0) return S_OK;
  if (!names || !ids) return E_POINTER;
  for (UINT i = 1; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const char16_t* name = reinterpret_cast<const char16_t*>(names[0]);
  DispId id = DISPID_UNKNOWN;
  const HResult hr = target.GetIDOfName(name ? std::u16string_view(name) : std::u16string_view(), id);
  ids[0] = SUCCEEDED(hr) ? id : DISPID_UNKNOWN;
  if (FAILED(hr)) return hr;
  return count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
}

HRESULT FailureToHResult(std::int32_t number) {
  if (number < 0) return number;
  if (number == 0) return E_FAIL;
  return static_cast<HRESULT>(0x800A0000u | (static_cast<std::uint32_t>(number) & 0xFFFFu));
}

void FillExcepInfo(const ExcepInfo& in, EXCEPINFO& out, std::u16string_view source) {
  out = EXCEPINFO{};
  out.bstrSource = ToBstr(source);
  out.bstrDescription = ToBstr(in.description);
  out.scode = FailureToHResult(in.number);
}

ExcepInfo ReadExcepInfo(EXCEPINFO& in) {
  if (in.pfnDeferredFillIn) in.pfnDeferredFillIn(&in);
  ExcepInfo out;
  const auto scode = static_cast<std::uint32_t>(in.scode);
  if (in.wCode != 0) {
    out.number = in.wCode;
  } else if ((scode & 0xFFFF0000u) == 0x800A0000u) {
    out.number = static_cast<std::int32_t>(scode & 0xFFFFu);
  } else {
    out.number = in.scode;
  }
  out.description = FromBstr(in.bstrDescription);
  SysFreeString(in.bstrSource);
  SysFreeString(in.bstrDescription);
  SysFreeString(in.bstrHelpFile);
  in.bstrSource = in.bstrDescription = in.bstrHelpFile = nullptr;
  return out;
}

}  // namespace quorvane::com
