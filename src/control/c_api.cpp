// The plain C interface: C variants and strings marshalled to and from the control's dispatch
// surface. Nothing here throws across the C boundary.
#include "quorvane/quorvane.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "common/failures.hpp"
#include "common/text.hpp"
#include "common/dispatch_support.hpp"
#include "control/dispatch_surface.hpp"
#include "quorvane/documents.hpp"
#include "quorvane/office_limits.hpp"

using quorvane::Dispatch;
using quorvane::ExcepInfo;
using quorvane::HResult;
using quorvane::Variant;
using quorvane::VarType;

// One counted reference-holder for a late-bound object handed across the C boundary.
struct qv_dispatch {
  std::atomic<std::uint32_t> refs{1};
  std::shared_ptr<Dispatch> object;
};

struct qv_control {
  quorvane::QuorvaneX control;
  quorvane::detail::ControlDispatch surface{control};
  std::string lastFailure;
  std::string lastCause;  // the description qv_last_failure_cause handed out last
  // qv_invoke calls on this control not yet returned (a callback may call in again). A
  // qv_control_destroy from inside one sets `destroyed`: the callbacks hear nothing more, and the
  // outermost call deletes the control when it returns.
  int calls = 0;
  bool destroyed = false;
};

namespace {

static_assert(sizeof(qv_char16) == sizeof(char16_t));
// The C header spells out the results it shares with the failure registry; they must agree.
static_assert(QV_DISP_E_MEMBERNOTFOUND == quorvane::failure::kDispMemberNotFound &&
              QV_DISP_E_TYPEMISMATCH == quorvane::failure::kDispTypeMismatch &&
              QV_DISP_E_UNKNOWNNAME == quorvane::failure::kDispUnknownName &&
              QV_DISP_E_EXCEPTION == quorvane::failure::kDispException &&
              QV_DISP_E_OVERFLOW == quorvane::failure::kDispOverflow &&
              QV_DISP_E_BADPARAMCOUNT == quorvane::failure::kDispBadParamCount &&
              QV_E_OUTOFMEMORY == quorvane::failure::kEOutOfMemory &&
              QV_E_INVALIDARG == quorvane::failure::kEInvalidArg);

// --- Strings -------------------------------------------------------------------------------

using Prefix = std::uint32_t;

qv_string AllocString(std::u16string_view s) {
  if (s.size() > (std::numeric_limits<Prefix>::max() / 2) - 8) throw std::bad_alloc();
  void* block = std::malloc(sizeof(Prefix) + (s.size() + 1) * sizeof(qv_char16));
  if (!block) throw std::bad_alloc();
  const Prefix length = static_cast<Prefix>(s.size());
  std::memcpy(block, &length, sizeof length);
  auto* units = reinterpret_cast<qv_char16*>(static_cast<char*>(block) + sizeof(Prefix));
  for (std::size_t i = 0; i < s.size(); ++i) units[i] = static_cast<qv_char16>(s[i]);
  units[s.size()] = 0;
  return units;
}

std::size_t StringLength(qv_string s) {
  if (!s) return 0;
  Prefix length = 0;
  std::memcpy(&length, reinterpret_cast<const char*>(s) - sizeof(Prefix), sizeof length);
  return length;
}

std::u16string ReadString(qv_string s) {
  std::u16string out(StringLength(s), u'\0');
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char16_t>(s[i]);
  return out;
}

void FreeString(qv_string s) {
  if (s) std::free(reinterpret_cast<char*>(s) - sizeof(Prefix));
}

// --- Object references ---------------------------------------------------------------------

qv_dispatch* NewHandle(std::shared_ptr<Dispatch> object) {
  if (!object) return nullptr;
  auto* handle = new qv_dispatch;
  handle->object = std::move(object);
  return handle;
}

void ReleaseHandle(qv_dispatch* handle) {
  if (handle && handle->refs.fetch_sub(1) == 1) delete handle;
}

std::shared_ptr<Dispatch> ObjectOf(const qv_dispatch* handle) { return handle ? handle->object : nullptr; }

// --- Values --------------------------------------------------------------------------------

void Clear(qv_variant& v) {
  if (v.vt == QV_VT_BSTR) FreeString(v.u.bstrVal);
  if (v.vt == QV_VT_DISPATCH) ReleaseHandle(v.u.dispVal);
  v = qv_variant{};
}

// A by-value C variant as a library variant.
HResult ValueFromC(const qv_variant& c, Variant& out) {
  switch (c.vt) {
    case QV_VT_EMPTY: out = Variant(); return quorvane::S_OK_;
    case QV_VT_NULL: out = Variant::Null(); return quorvane::S_OK_;
    case QV_VT_I1: out = Variant::Integer(quorvane::VT_I1, c.u.i1); return quorvane::S_OK_;
    case QV_VT_UI1: out = Variant::Integer(quorvane::VT_UI1, c.u.ui1); return quorvane::S_OK_;
    case QV_VT_I2: out = Variant(c.u.i2); return quorvane::S_OK_;
    case QV_VT_UI2: out = Variant::Integer(quorvane::VT_UI2, c.u.ui2); return quorvane::S_OK_;
    case QV_VT_I4: out = Variant(c.u.i4); return quorvane::S_OK_;
    case QV_VT_UI4: out = Variant::Integer(quorvane::VT_UI4, c.u.ui4); return quorvane::S_OK_;
    case QV_VT_I8: out = Variant::Integer(quorvane::VT_I8, c.u.i8); return quorvane::S_OK_;
    case QV_VT_UI8:
      out = Variant::Integer(quorvane::VT_UI8, static_cast<std::int64_t>(c.u.ui8));
      return quorvane::S_OK_;
    case QV_VT_R4: out = Variant(c.u.r4); return quorvane::S_OK_;
    case QV_VT_R8: out = Variant(c.u.r8); return quorvane::S_OK_;
    case QV_VT_BOOL: out = Variant::Bool(c.u.boolVal); return quorvane::S_OK_;
    case QV_VT_ERROR: out = Variant::Integer(quorvane::VT_ERROR, c.u.scode); return quorvane::S_OK_;
    case QV_VT_BSTR: out = Variant(ReadString(c.u.bstrVal)); return quorvane::S_OK_;
    case QV_VT_DISPATCH: out = Variant(ObjectOf(c.u.dispVal)); return quorvane::S_OK_;
    default: return QV_DISP_E_BADVARTYPE;
  }
}

// A library variant as a new C variant that owns its string or reference. A by-reference
// variant (which no member returns) cannot cross: QV_DISP_E_BADVARTYPE.
HResult ValueToC(const Variant& v, qv_variant& out) {
  out = qv_variant{};
  switch (v.vt()) {
    case quorvane::VT_EMPTY: break;
    case quorvane::VT_NULL: break;
    case quorvane::VT_I1: out.u.i1 = static_cast<std::int8_t>(v.integer()); break;
    case quorvane::VT_UI1: out.u.ui1 = static_cast<std::uint8_t>(v.integer()); break;
    case quorvane::VT_I2: out.u.i2 = static_cast<std::int16_t>(v.integer()); break;
    case quorvane::VT_UI2: out.u.ui2 = static_cast<std::uint16_t>(v.integer()); break;
    case quorvane::VT_I4: out.u.i4 = static_cast<std::int32_t>(v.integer()); break;
    case quorvane::VT_UI4: out.u.ui4 = static_cast<std::uint32_t>(v.integer()); break;
    case quorvane::VT_I8: out.u.i8 = v.integer(); break;
    case quorvane::VT_UI8: out.u.ui8 = static_cast<std::uint64_t>(v.integer()); break;
    case quorvane::VT_R4: out.u.r4 = static_cast<float>(v.real()); break;
    case quorvane::VT_R8: out.u.r8 = v.real(); break;
    case quorvane::VT_BOOL: out.u.boolVal = v.boolean(); break;
    case quorvane::VT_ERROR: out.u.scode = static_cast<std::int32_t>(v.integer()); break;
    case quorvane::VT_BSTR: out.u.bstrVal = AllocString(v.string()); break;
    case quorvane::VT_DISPATCH: out.u.dispVal = NewHandle(v.dispatch()); break;
    default: return QV_DISP_E_BADVARTYPE;
  }
  out.vt = static_cast<std::uint16_t>(v.vt());
  return quorvane::S_OK_;
}

// Arguments of a call from C into the library. By-reference scalars point straight at the C
// storage; strings, object references and variants go through temporaries that WriteBack puts
// back where the callee changed them.
class InboundArgs {
 public:
  HResult Convert(const qv_variant* args, std::size_t argc) {
    if (argc > 0 && !args) return QV_E_POINTER;
    temps_.resize(argc);
    vars_.resize(argc);
    for (std::size_t i = 0; i < argc; ++i) {
      const qv_variant& c = args[i];
      Temp& t = temps_[i];
      t.source = &c;
      if (!(c.vt & QV_VT_BYREF)) {
        if (const HResult hr = ValueFromC(c, vars_[i]); hr != quorvane::S_OK_) return hr;
        continue;
      }
      switch (c.vt & ~QV_VT_BYREF) {
        case QV_VT_I2:
          if (!c.u.pi2) return QV_E_POINTER;
          vars_[i] = Variant::ByRef(c.u.pi2);
          break;
        case QV_VT_I4:
          if (!c.u.pi4) return QV_E_POINTER;
          vars_[i] = Variant::ByRef(c.u.pi4);
          break;
        case QV_VT_R4:
          if (!c.u.pr4) return QV_E_POINTER;
          vars_[i] = Variant::ByRef(c.u.pr4);
          break;
        case QV_VT_R8:
          if (!c.u.pr8) return QV_E_POINTER;
          vars_[i] = Variant::ByRef(c.u.pr8);
          break;
        case QV_VT_BOOL:
          if (!c.u.pboolVal) return QV_E_POINTER;
          vars_[i] = Variant::ByRefBool(c.u.pboolVal);
          break;
        case QV_VT_BSTR:
          if (!c.u.pbstrVal) return QV_E_POINTER;
          t.string = ReadString(*c.u.pbstrVal);
          vars_[i] = Variant::ByRef(&t.string);
          break;
        case QV_VT_DISPATCH:
          if (!c.u.pdispVal) return QV_E_POINTER;
          t.object = ObjectOf(*c.u.pdispVal);
          vars_[i] = Variant::ByRef(&t.object);
          break;
        case QV_VT_VARIANT:
          if (!c.u.pvarVal) return QV_E_POINTER;
          if (c.u.pvarVal->vt & QV_VT_BYREF) return QV_DISP_E_BADVARTYPE;
          if (const HResult hr = ValueFromC(*c.u.pvarVal, t.variant); hr != quorvane::S_OK_) return hr;
          t.original = t.variant;
          vars_[i] = Variant::ByRef(&t.variant);
          break;
        default:
          return QV_DISP_E_BADVARTYPE;
      }
    }
    return quorvane::S_OK_;
  }

  std::span<Variant> vars() { return vars_; }

  // Replaces what the callee changed through a by-reference string, object or variant.
  void WriteBack() {
    for (Temp& t : temps_) {
      const qv_variant& c = *t.source;
      if (!(c.vt & QV_VT_BYREF)) continue;
      switch (c.vt & ~QV_VT_BYREF) {
        case QV_VT_BSTR:
          if (t.string != ReadString(*c.u.pbstrVal)) {
            qv_string replacement = AllocString(t.string);
            FreeString(*c.u.pbstrVal);
            *c.u.pbstrVal = replacement;
          }
          break;
        case QV_VT_DISPATCH:
          if (t.object != ObjectOf(*c.u.pdispVal)) {
            qv_dispatch* replacement = NewHandle(t.object);
            ReleaseHandle(*c.u.pdispVal);
            *c.u.pdispVal = replacement;
          }
          break;
        case QV_VT_VARIANT:
          if (!(t.variant == t.original)) {
            qv_variant replacement;
            if (ValueToC(t.variant, replacement) != quorvane::S_OK_) break;
            Clear(*c.u.pvarVal);
            *c.u.pvarVal = replacement;
          }
          break;
        default:
          break;
      }
    }
  }

 private:
  struct Temp {
    const qv_variant* source = nullptr;
    std::u16string string;
    std::shared_ptr<Dispatch> object;
    Variant variant;
    Variant original;
  };
  std::vector<Temp> temps_;
  std::vector<Variant> vars_;
};

// Arguments of a call from the library into C (an event, a host-made object). The library owns
// the C values for the duration of the call; WriteBack carries what the callee changed through a
// by-reference string, object or variant back into the library's storage. Only what the callee
// changed: a value it left as it was handed over is not copied back, so that whatever changed the
// library's storage meanwhile stays (a C onerror handler that sets ErrorString through qv_invoke
// keeps its text, as a C++ handler that calls put_ErrorString does).
class OutboundArgs {
 public:
  OutboundArgs() = default;
  OutboundArgs(const OutboundArgs&) = delete;
  OutboundArgs& operator=(const OutboundArgs&) = delete;
  ~OutboundArgs() {
    for (auto& t : temps_) {
      FreeString(t.string);
      ReleaseHandle(t.object);
      Clear(t.variant);
    }
    for (auto& c : cvars_)
      if (!(c.vt & QV_VT_BYREF)) Clear(c);
  }

  HResult Convert(std::span<Variant> args) {
    temps_.resize(args.size());
    cvars_.resize(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
      const Variant& v = args[i];
      qv_variant& c = cvars_[i];
      Temp& t = temps_[i];
      if (!v.is_byref()) {
        if (const HResult hr = ValueToC(v, c); hr != quorvane::S_OK_) return hr;
        continue;
      }
      switch (v.base_type()) {
        case quorvane::VT_I2: c.u.pi2 = v.ref<std::int16_t>(); break;
        case quorvane::VT_I4: c.u.pi4 = v.ref<std::int32_t>(); break;
        case quorvane::VT_R4: c.u.pr4 = v.ref<float>(); break;
        case quorvane::VT_R8: c.u.pr8 = v.ref<double>(); break;
        case quorvane::VT_BOOL: c.u.pboolVal = v.ref<quorvane::VariantBool>(); break;
        case quorvane::VT_BSTR:
          t.sentString = *v.ref<std::u16string>();
          t.string = AllocString(t.sentString);
          c.u.pbstrVal = &t.string;
          break;
        case quorvane::VT_DISPATCH:
          t.sentObject = *v.ref<Variant::DispatchPtr>();
          t.object = NewHandle(t.sentObject);
          c.u.pdispVal = &t.object;
          break;
        case quorvane::VT_VARIANT: {
          t.sentVariant = v.ref<Variant>()->Dereferenced();
          if (const HResult hr = ValueToC(t.sentVariant, t.variant); hr != quorvane::S_OK_) return hr;
          c.u.pvarVal = &t.variant;
          break;
        }
        default:
          return QV_DISP_E_BADVARTYPE;
      }
      c.vt = static_cast<std::uint16_t>(v.vt());
    }
    return quorvane::S_OK_;
  }

  const qv_variant* data() const { return cvars_.empty() ? nullptr : cvars_.data(); }
  std::size_t size() const { return cvars_.size(); }

  void WriteBack(std::span<Variant> args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
      const Variant& v = args[i];
      if (!v.is_byref()) continue;
      Temp& t = temps_[i];
      switch (v.base_type()) {
        case quorvane::VT_BSTR: {
          std::u16string value = ReadString(t.string);
          if (value != t.sentString) *v.ref<std::u16string>() = std::move(value);
          break;
        }
        case quorvane::VT_DISPATCH: {
          auto object = ObjectOf(t.object);
          if (object != t.sentObject) *v.ref<Variant::DispatchPtr>() = std::move(object);
          break;
        }
        case quorvane::VT_VARIANT: {
          Variant value;
          if (ValueFromC(t.variant, value) == quorvane::S_OK_ && !(value == t.sentVariant))
            *v.ref<Variant>() = std::move(value);
          break;
        }
        default:
          break;
      }
    }
  }

 private:
  struct Temp {
    qv_string string = nullptr;
    qv_dispatch* object = nullptr;
    qv_variant variant{};
    // What was handed over, to tell what the callee changed.
    std::u16string sentString;
    std::shared_ptr<Dispatch> sentObject;
    Variant sentVariant;
  };
  std::vector<Temp> temps_;
  std::vector<qv_variant> cvars_;
};

// Hands the control's events to a C callback, until the control is destroyed.
class EventCallbackSink final : public Dispatch {
 public:
  EventCallbackSink(const qv_control& owner, qv_event_callback callback, void* context)
      : owner_(owner), callback_(callback), context_(context) {}

  HResult GetIDOfName(std::u16string_view, quorvane::DispId&) override { return QV_DISP_E_UNKNOWNNAME; }

  HResult Invoke(quorvane::DispId id, std::uint16_t, std::span<Variant> args, Variant*, ExcepInfo* excep) override {
    if (owner_.destroyed) return quorvane::S_OK_;
    try {
      OutboundArgs out;
      if (const HResult hr = out.Convert(args); hr != quorvane::S_OK_) return hr;
      callback_(context_, id, out.data(), out.size());
      out.WriteBack(args);
      return quorvane::S_OK_;
    } catch (...) {
      return quorvane::detail::CurrentExceptionToExcepInfo(excep);
    }
  }

 private:
  const qv_control& owner_;  // owns this sink
  qv_event_callback callback_;
  void* context_;
};

// A late-bound object implemented by a C host.
class CallbackDispatch final : public Dispatch {
 public:
  CallbackDispatch(const qv_dispatch_callbacks& callbacks, void* context) : callbacks_(callbacks), context_(context) {}
  ~CallbackDispatch() override {
    if (callbacks_.destroy) callbacks_.destroy(context_);
  }
  CallbackDispatch(const CallbackDispatch&) = delete;
  CallbackDispatch& operator=(const CallbackDispatch&) = delete;

  HResult GetIDOfName(std::u16string_view name, quorvane::DispId& id) override {
    try {
      const std::string utf8 = quorvane::text::ToUtf8(name);
      std::int32_t dispid = 0;
      const HResult hr = callbacks_.get_id_of_name(context_, utf8.c_str(), &dispid);
      if (hr >= 0) id = dispid;
      return hr;
    } catch (...) {
      return QV_DISP_E_UNKNOWNNAME;
    }
  }

  HResult Invoke(quorvane::DispId id, std::uint16_t kind, std::span<Variant> args, Variant* result,
                 ExcepInfo* excep) override {
    try {
      OutboundArgs out;
      if (const HResult hr = out.Convert(args); hr != quorvane::S_OK_) return hr;
      qv_variant cresult{};
      std::int32_t number = 0;
      qv_string description = nullptr;
      const HResult hr = callbacks_.invoke(context_, id, kind, out.data(), out.size(), result ? &cresult : nullptr,
                                           &number, &description);
      struct Owned {
        qv_variant& result;
        qv_string& description;
        ~Owned() {
          Clear(result);
          FreeString(description);
        }
      } owned{cresult, description};
      out.WriteBack(args);
      if (hr == QV_DISP_E_EXCEPTION) {
        if (excep) *excep = {number, ReadString(description)};
        return hr;
      }
      if (hr < 0) return hr;
      if (result) {
        Variant value;
        if (const HResult vr = ValueFromC(cresult, value); vr != quorvane::S_OK_) return vr;
        *result = std::move(value);
      }
      return hr;
    } catch (...) {
      return quorvane::detail::CurrentExceptionToExcepInfo(excep);
    }
  }

 private:
  qv_dispatch_callbacks callbacks_;
  void* context_;
};

// A call from C into a Dispatch: arguments in, the call, write-back, the result out.
HResult InvokeFromC(Dispatch& target, std::int32_t dispid, std::uint16_t kind, const qv_variant* args,
                    std::size_t argc, qv_variant* result, std::int32_t* excep_number, ExcepInfo& excep) {
  if (result) *result = qv_variant{};
  if (excep_number) *excep_number = 0;
  InboundArgs in;
  if (const HResult hr = in.Convert(args, argc); hr != quorvane::S_OK_) return hr;
  Variant value;
  const HResult hr = target.Invoke(dispid, kind, in.vars(), result ? &value : nullptr, &excep);
  // What a member wrote through a by-reference argument before it failed stays written, as it
  // does for the scalars that point straight at the caller's storage.
  in.WriteBack();
  if (hr == QV_DISP_E_EXCEPTION) {
    if (excep_number) *excep_number = excep.number;
    return hr;
  }
  if (hr < 0) return hr;
  if (result) return ValueToC(value, *result);
  return hr;
}

HResult CurrentExceptionToHResult() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return QV_E_OUTOFMEMORY;
  } catch (...) {
    return QV_DISP_E_EXCEPTION;
  }
}

// The C convention for text handed out: the text `make` gives, in UTF-8, as far as it fits in
// `buffer` with its NUL, cut before the first character that does not fit whole, and the whole
// text's length in bytes (0 and an empty buffer when it fails).
template <typename Make>
size_t CopyUtf8(Make&& make, char* buffer, size_t size) {
  try {
    const std::u16string text = make();
    const std::string utf8 = quorvane::text::ToUtf8(text);
    if (buffer && size > 0) {
      const std::size_t n = quorvane::text::Utf8PrefixLength(text, size - 1);
      std::memcpy(buffer, utf8.data(), n);
      buffer[n] = '\0';
    }
    return utf8.size();
  } catch (...) {
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
  }
}

// Ends and deletes a control. The termination runs while the control is whole, as one more call:
// its callbacks may call the control (a qv_control_destroy from them only silences the rest). What
// the deletion then terminates again raises nothing: no application is kept any more.
void Destroy(qv_control* control) {
  ++control->calls;
  try {
    control->control.UserControl_Terminate();
  } catch (...) {
  }
  delete control;
}

}  // namespace

extern "C" {

QV_API qv_string qv_string_alloc(const qv_char16* text, size_t length) {
  try {
    std::u16string s(length, u'\0');
    if (text)
      for (std::size_t i = 0; i < length; ++i) s[i] = static_cast<char16_t>(text[i]);
    return AllocString(s);
  } catch (...) {
    return nullptr;
  }
}

QV_API qv_string qv_string_alloc_utf8(const char* utf8) {
  try {
    return AllocString(utf8 ? quorvane::text::FromUtf8(utf8) : std::u16string());
  } catch (...) {
    return nullptr;
  }
}

QV_API void qv_string_free(qv_string s) { FreeString(s); }

QV_API size_t qv_string_length(qv_string s) { return StringLength(s); }

QV_API size_t qv_string_to_utf8(qv_string s, char* buffer, size_t size) {
  return CopyUtf8([&] { return ReadString(s); }, buffer, size);
}

QV_API void qv_variant_init(qv_variant* v) {
  if (v) *v = qv_variant{};
}

QV_API void qv_variant_clear(qv_variant* v) {
  if (v) Clear(*v);
}

QV_API qv_control* qv_control_create(void) {
  try {
    return new qv_control;
  } catch (...) {
    return nullptr;
  }
}

QV_API void qv_control_destroy(qv_control* control) {
  if (!control || control->destroyed) return;
  if (control->calls > 0) {
    control->destroyed = true;  // from a callback: the call it came from destroys the control
    return;
  }
  Destroy(control);
}

QV_API qv_hresult qv_get_id_of_name(qv_control* control, const char* name, int32_t* dispid) {
  if (!control || !name || !dispid) return QV_E_POINTER;
  try {
    return control->surface.GetIDOfName(quorvane::text::FromUtf8(name), *dispid);
  } catch (...) {
    return CurrentExceptionToHResult();
  }
}

QV_API qv_hresult qv_invoke(qv_control* control, int32_t dispid, uint16_t kind, const qv_variant* args, size_t argc,
                            qv_variant* result, int32_t* excep_number) {
  if (!control) return QV_E_POINTER;
  struct Call {
    qv_control* control;
    ~Call() {
      if (--control->calls == 0 && control->destroyed) Destroy(control);
    }
  } call{control};
  ++control->calls;
  try {
    control->lastFailure.clear();
    ExcepInfo excep;
    const HResult hr = InvokeFromC(control->surface, dispid, kind, args, argc, result, excep_number, excep);
    if (hr == QV_DISP_E_EXCEPTION) control->lastFailure = quorvane::text::ToUtf8(excep.description);
    return hr;
  } catch (...) {
    return CurrentExceptionToHResult();
  }
}

QV_API const char* qv_last_failure_text(qv_control* control) { return control ? control->lastFailure.c_str() : ""; }

QV_API const char* qv_last_failure_cause(qv_control* control, int32_t* number) {
  if (number) *number = 0;
  if (!control) return "";
  try {
    const quorvane::FailureCause cause = control->control.LastFailureCause();
    control->lastCause = quorvane::text::ToUtf8(cause.description);
    if (number) *number = cause.number;
    return control->lastCause.c_str();
  } catch (...) {
    return "";
  }
}

QV_API qv_hresult qv_set_output_options(qv_control* control, const qv_output_options* options) {
  if (!control) return QV_E_POINTER;
  control->lastFailure.clear();
  try {
    quorvane::OutputOptions set;
    if (options) {
      set.pixelWidth = options->pixel_width;
      set.pixelHeight = options->pixel_height;
      set.dotsPerInch = options->dots_per_inch;
      set.jpegQuality = options->jpeg_quality;
      if (options->name_pattern) set.namePattern = quorvane::text::FromUtf8(options->name_pattern);
      set.hiddenSlides = options->hidden_slides != QV_FALSE;
      set.notesPages = options->notes_pages != QV_FALSE;
      set.pdfa = options->pdfa != QV_FALSE;
    }
    control->control.SetOutputOptions(set);
    return QV_S_OK;
  } catch (const quorvane::AutomationError& error) {
    control->lastFailure = quorvane::text::ToUtf8(error.description());
    return error.number() == quorvane::failure::kEInvalidArg ? QV_E_INVALIDARG : error.number();
  } catch (...) {
    return QV_E_OUTOFMEMORY;
  }
}

QV_API size_t qv_diagnostic_log_path(char* buffer, size_t size) {
  return CopyUtf8([] { return quorvane::QuorvaneX::DiagnosticLogPath(); }, buffer, size);
}

QV_API uint32_t qv_advise(qv_control* control, qv_event_callback callback, void* context) {
  if (!control || !callback) return 0;
  try {
    return control->surface.AdviseEvents(std::make_shared<EventCallbackSink>(*control, callback, context));
  } catch (...) {
    return 0;
  }
}

QV_API int qv_unadvise(qv_control* control, uint32_t cookie) {
  if (!control) return 0;
  try {
    return control->surface.UnadviseEvents(cookie) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

QV_API qv_dispatch* qv_dispatch_create(const qv_dispatch_callbacks* callbacks, void* context) {
  if (!callbacks || !callbacks->get_id_of_name || !callbacks->invoke) return nullptr;
  try {
    return NewHandle(std::make_shared<CallbackDispatch>(*callbacks, context));
  } catch (...) {
    return nullptr;
  }
}

QV_API qv_dispatch* qv_dispatch_addref(qv_dispatch* object) {
  if (object) object->refs.fetch_add(1);
  return object;
}

QV_API void qv_dispatch_release(qv_dispatch* object) {
  try {
    ReleaseHandle(object);
  } catch (...) {
  }
}

QV_API qv_hresult qv_dispatch_get_id_of_name(qv_dispatch* object, const char* name, int32_t* dispid) {
  if (!object || !name || !dispid) return QV_E_POINTER;
  try {
    return object->object->GetIDOfName(quorvane::text::FromUtf8(name), *dispid);
  } catch (...) {
    return CurrentExceptionToHResult();
  }
}

QV_API qv_hresult qv_dispatch_invoke(qv_dispatch* object, int32_t dispid, uint16_t kind, const qv_variant* args,
                                     size_t argc, qv_variant* result, int32_t* excep_number,
                                     qv_string* excep_description) {
  if (excep_description) *excep_description = nullptr;
  if (!object) return QV_E_POINTER;
  try {
    ExcepInfo excep;
    const HResult hr = InvokeFromC(*object->object, dispid, kind, args, argc, result, excep_number, excep);
    if (hr == QV_DISP_E_EXCEPTION && excep_description) *excep_description = AllocString(excep.description);
    return hr;
  } catch (...) {
    return CurrentExceptionToHResult();
  }
}

QV_API void qv_get_office_limits(qv_office_limits* limits) {
  if (!limits) return;
  const quorvane::OfficeLimits in_force = quorvane::GetOfficeLimits();
  limits->memory_bytes = in_force.memoryBytes;
  limits->base_deadline_ms = static_cast<uint64_t>(in_force.baseDeadline.count());
  limits->per_slide_ms = static_cast<uint64_t>(in_force.perSlide.count());
}

QV_API void qv_set_office_limits(const qv_office_limits* limits) {
  const qv_office_limits none{};
  const qv_office_limits& l = limits ? *limits : none;
  auto ms = [](uint64_t value) {
    constexpr uint64_t kLongest = std::numeric_limits<std::int64_t>::max();
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::min(value, kLongest)));
  };
  quorvane::SetOfficeLimits({l.memory_bytes, ms(l.base_deadline_ms), ms(l.per_slide_ms)});
}

QV_API int32_t qv_export_document(const char* input, const char* output, int kind, char* error, size_t error_size) {
  if (error && error_size > 0) error[0] = '\0';
  if (!input || !output) return QV_E_POINTER;
  if (kind != QV_DOCUMENT_MARKDOWN && kind != QV_DOCUMENT_JSON) return QV_E_INVALIDARG;
  std::u16string description;
  int32_t number = 0;
  try {
    quorvane::ExportDocument(input, output,
                             kind == QV_DOCUMENT_MARKDOWN ? quorvane::DocumentKind::kMarkdown : quorvane::DocumentKind::kJson);
    return 0;
  } catch (const quorvane::AutomationError& failure) {
    number = failure.number();
    description = failure.description();
  } catch (const std::bad_alloc&) {
    return QV_E_OUTOFMEMORY;
  } catch (...) {
    return QV_DISP_E_EXCEPTION;
  }
  CopyUtf8([&] { return description; }, error, error_size);
  return number;
}

QV_API size_t qv_inspect(const char* input, char* buffer, size_t size) {
  if (!input) {
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
  }
  return CopyUtf8([&] { return quorvane::text::FromUtf8(quorvane::InspectionJson(quorvane::Inspect(input))); }, buffer,
                  size);
}

}  // extern "C"
