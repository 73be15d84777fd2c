// The control's dispatch surface: binding of arguments, coercion and calls, driven by the type
// description; and the Dispatch-based event sink adapter.
#include "control/dispatch_surface.hpp"

#include <stdexcept>
#include <vector>

#include "common/dispatch_support.hpp"
#include "quorvane/type_info.hpp"

namespace quorvane {

Variant Dispatch::Call(std::u16string_view name, std::uint16_t kind, std::span<Variant> args) {
  DispId id = 0;
  HResult hr = GetIDOfName(name, id);
  if (hr < 0) throw AutomationError(hr, detail::DescribeHResult(hr) + u" (" + std::u16string(name) + u")");
  Variant result;
  ExcepInfo excep;
  hr = Invoke(id, kind, args, &result, &excep);
  if (hr == DISP_E_EXCEPTION) throw AutomationError(excep.number != 0 ? excep.number : hr, excep.description);
  if (hr < 0) throw AutomationError(hr, detail::DescribeHResult(hr) + u" (" + std::u16string(name) + u")");
  return result;
}

}  // namespace quorvane

namespace quorvane::detail {
namespace {

using typeinfo::MemberInfo;
using typeinfo::MemberKind;
using typeinfo::ParamInfo;

// Where one parameter of a call lives: the caller's own storage (a by-reference argument of the
// declared type, which the member then writes back into), or the temporary of the declared type
// that holds the coerced argument.
struct Slot {
  VarType type = VT_EMPTY;
  void* target = nullptr;
  std::int16_t i2 = 0;
  std::int32_t i4 = 0;
  float r4 = 0;
  double r8 = 0;
  VariantBool b = 0;
  std::u16string s;
  Variant::DispatchPtr d;
  Variant v;
};

// The bound parameters as the members take them. Asking for a parameter as another type than the
// description declares is a fault of the binding table below, not of the caller.
class Args {
 public:
  explicit Args(std::span<Slot> slots) : slots_(slots) {}
  std::int32_t& Long(std::size_t i) { return At<std::int32_t>(i, VT_I4); }
  VariantBool& Bool(std::size_t i) { return At<VariantBool>(i, VT_BOOL); }
  std::u16string& String(std::size_t i) { return At<std::u16string>(i, VT_BSTR); }
  Variant& Var(std::size_t i) { return At<Variant>(i, VT_VARIANT); }
  Variant::DispatchPtr& Object(std::size_t i) { return At<Variant::DispatchPtr>(i, VT_DISPATCH); }

 private:
  template <typename T>
  T& At(std::size_t i, VarType type) {
    if (i >= slots_.size() || slots_[i].type != type)
      throw std::logic_error("the control's binding table does not match its type description");
    return *static_cast<T*>(slots_[i].target);
  }
  std::span<Slot> slots_;
};

HResult Bind(const ParamInfo& param, const Variant& arg, Slot& slot) {
  slot.type = param.type;
  if (param.byRef && arg.is_byref()) {
    if (param.type == VT_VARIANT) {
      // Any variant is accepted; a by-reference variant of a variant is passed through as it is.
      if (arg.base_type() == VT_VARIANT) {
        slot.target = arg.ref<Variant>();
      } else {
        slot.v = arg;
        slot.target = &slot.v;
      }
      return S_OK_;
    }
    if (arg.base_type() != param.type) return DISP_E_TYPEMISMATCH;
    slot.target = arg.ref<void>();
    return S_OK_;
  }
  // By value, or a by-reference argument for a by-value parameter (read through): the coerced
  // value goes into a temporary, and nothing is written back.
  Variant coerced;
  if (param.byRef && param.type == VT_VARIANT) {
    coerced = arg;
  } else if (const HResult hr = ChangeType(arg, param.type, coerced); hr != S_OK_) {
    return hr;
  }
  switch (param.type) {
    case VT_I2: slot.i2 = static_cast<std::int16_t>(coerced.integer()); slot.target = &slot.i2; break;
    case VT_I4: slot.i4 = static_cast<std::int32_t>(coerced.integer()); slot.target = &slot.i4; break;
    case VT_R4: slot.r4 = static_cast<float>(coerced.real()); slot.target = &slot.r4; break;
    case VT_R8: slot.r8 = coerced.real(); slot.target = &slot.r8; break;
    case VT_BOOL: slot.b = coerced.boolean(); slot.target = &slot.b; break;
    case VT_BSTR: slot.s = coerced.string(); slot.target = &slot.s; break;
    case VT_DISPATCH: slot.d = coerced.dispatch(); slot.target = &slot.d; break;
    case VT_VARIANT: slot.v = std::move(coerced); slot.target = &slot.v; break;
    default: return DISP_E_TYPEMISMATCH;
  }
  return S_OK_;
}

using Handler = Variant (*)(QuorvaneX&, Args&);

struct Binding {
  std::u16string_view name;
  MemberKind kind;
  Handler call;
};

using enum MemberKind;

// One entry per row of the type description, in the same order (checked below). Results are
// returned as their natural variants; Invoke converts them to the declared result type.
constexpr Binding kBindings[] = {
    {u"UserControl_Terminate", Method, [](QuorvaneX& x, Args&) { x.UserControl_Terminate(); return Variant(); }},
    {u"OptimizeForSpeed", PropertyGet, [](QuorvaneX& x, Args&) { return Variant::Bool(x.get_OptimizeForSpeed()); }},
    {u"OptimizeForSpeed", PropertyPut,
     [](QuorvaneX& x, Args& a) { x.put_OptimizeForSpeed(a.Bool(0)); return Variant(); }},
    {u"InputFile", PropertyGet, [](QuorvaneX& x, Args&) { return Variant(x.get_InputFile()); }},
    {u"InputFile", PropertyPut, [](QuorvaneX& x, Args& a) { x.put_InputFile(a.String(0)); return Variant(); }},
    {u"OutputFile", PropertyGet, [](QuorvaneX& x, Args&) { return Variant(x.get_OutputFile()); }},
    {u"OutputFile", PropertyPut, [](QuorvaneX& x, Args& a) { x.put_OutputFile(a.String(0)); return Variant(); }},
    {u"TargetFileType", PropertyGet, [](QuorvaneX& x, Args&) { return Variant(x.get_TargetFileType()); }},
    {u"TargetFileType", PropertyPut, [](QuorvaneX& x, Args& a) { x.put_TargetFileType(a.Long(0)); return Variant(); }},
    {u"StartSlide", PropertyGet, [](QuorvaneX& x, Args&) { return Variant(x.get_StartSlide()); }},
    {u"StartSlide", PropertyPut, [](QuorvaneX& x, Args& a) { x.put_StartSlide(a.Long(0)); return Variant(); }},
    {u"EndSlide", PropertyGet, [](QuorvaneX& x, Args&) { return Variant(x.get_EndSlide()); }},
    {u"EndSlide", PropertyPut, [](QuorvaneX& x, Args& a) { x.put_EndSlide(a.Long(0)); return Variant(); }},
    {u"MultiFileOutput", PropertyGet, [](QuorvaneX& x, Args&) { return Variant::Bool(x.get_MultiFileOutput()); }},
    {u"MultiFileOutput", PropertyPut,
     [](QuorvaneX& x, Args& a) { x.put_MultiFileOutput(a.Bool(0)); return Variant(); }},
    {u"ShowSlideAndShapeNumber", PropertyGet,
     [](QuorvaneX& x, Args&) { return Variant::Bool(x.get_ShowSlideAndShapeNumber()); }},
    {u"ShowSlideAndShapeNumber", PropertyPut,
     [](QuorvaneX& x, Args& a) { x.put_ShowSlideAndShapeNumber(a.Bool(0)); return Variant(); }},
    {u"PercentageComplete", PropertyGet, [](QuorvaneX& x, Args&) { return Variant(x.get_PercentageComplete()); }},
    {u"ErrorString", PropertyGet, [](QuorvaneX& x, Args&) { return Variant(x.get_ErrorString()); }},
    {u"ErrorString", PropertyPut, [](QuorvaneX& x, Args& a) { x.put_ErrorString(a.String(0)); return Variant(); }},
    {u"PowerPointVersion", Method, [](QuorvaneX& x, Args& a) { return Variant(x.PowerPointVersion(a.String(0))); }},
    {u"FileTypeSupportsSingleFileOutput", Method,
     [](QuorvaneX& x, Args& a) { return Variant::Bool(x.FileTypeSupportsSingleFileOutput(a.Long(0))); }},
    {u"GetAllPossibleErrorsCount", Method, [](QuorvaneX& x, Args&) { return Variant(x.GetAllPossibleErrorsCount()); }},
    {u"GetErrorString", Method, [](QuorvaneX& x, Args& a) { return Variant(x.GetErrorString(a.Var(0))); }},
    {u"lNumberOfFileTypes", PropertyGet, [](QuorvaneX& x, Args&) { return x.get_lNumberOfFileTypes(); }},
    {u"GetFileType", Method,
     [](QuorvaneX& x, Args& a) { return Variant::Bool(x.GetFileType(a.Long(0), a.String(1), a.Long(2))); }},
    {u"LookUpSaveAsExtension", Method,
     [](QuorvaneX& x, Args& a) { return Variant(x.LookUpSaveAsExtension(a.Long(0), a.Bool(1))); }},
    {u"ConvertFile", Method, [](QuorvaneX& x, Args&) { return Variant(x.ConvertFile()); }},
    {u"IncludeNotes", PropertyGet, [](QuorvaneX& x, Args&) { return Variant::Bool(x.get_IncludeNotes()); }},
    {u"IncludeNotes", PropertyPut, [](QuorvaneX& x, Args& a) { x.put_IncludeNotes(a.Bool(0)); return Variant(); }},
    {u"NotesOnly", PropertyGet, [](QuorvaneX& x, Args&) { return Variant::Bool(x.get_NotesOnly()); }},
    {u"NotesOnly", PropertyPut, [](QuorvaneX& x, Args& a) { x.put_NotesOnly(a.Bool(0)); return Variant(); }},
    {u"TextFromGroupShape", Method, [](QuorvaneX& x, Args& a) { return Variant(x.TextFromGroupShape(a.Object(0))); }},
    {u"OpenTextFileForWriting", Method,
     [](QuorvaneX& x, Args& a) { x.OpenTextFileForWriting(a.String(0)); return Variant(); }},
    {u"CloseTextFileForWriting", Method, [](QuorvaneX& x, Args&) { x.CloseTextFileForWriting(); return Variant(); }},
    {u"WriteToTextFile", Method, [](QuorvaneX& x, Args& a) { x.WriteToTextFile(a.String(0)); return Variant(); }},
    {u"PowerPointVersionAtLeast2010", Method,
     [](QuorvaneX& x, Args&) { return Variant::Bool(x.PowerPointVersionAtLeast2010()); }},
    {u"PowerPointVersionAtLeast2007", Method,
     [](QuorvaneX& x, Args&) { return Variant::Bool(x.PowerPointVersionAtLeast2007()); }},
};

constexpr bool BindingsFollowDescription() {
  const auto& members = typeinfo::kQuorvaneXMembers;
  if (std::size(kBindings) != std::size(members)) return false;
  for (std::size_t i = 0; i < std::size(members); ++i)
    if (kBindings[i].name != members[i].name || kBindings[i].kind != members[i].kind) return false;
  return true;
}
static_assert(BindingsFollowDescription(), "every member of _QuorvaneX needs exactly one binding, in slot order");

// The row that answers `id` for the invocation kind, or npos. A put must be asked for alone;
// method and property get may be combined, as automation clients do for "x = obj.Member".
std::size_t SelectMember(DispId id, std::uint16_t kind) {
  const auto& members = typeinfo::kQuorvaneXMembers;
  const bool put = kind == DISPATCH_PROPERTYPUT;
  const bool callOrGet = kind != 0 && (kind & ~(DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0;
  for (std::size_t i = 0; i < std::size(members); ++i) {
    if (members[i].id != id) continue;
    switch (members[i].kind) {
      case Method: if (callOrGet && (kind & DISPATCH_METHOD)) return i; break;
      case PropertyGet: if (callOrGet && (kind & DISPATCH_PROPERTYGET)) return i; break;
      case PropertyPut: if (put) return i; break;
    }
  }
  return static_cast<std::size_t>(-1);
}

class DispatchEventSink final : public QuorvaneXEvents {
 public:
  explicit DispatchEventSink(std::shared_ptr<Dispatch> sink) : sink_(std::move(sink)) {}

  void Progress() override { Raise(typeinfo::kDispIdProgress, {}); }

  void onerror(std::int32_t& intErrorNumber, std::u16string& strErrorText) override {
    Variant args[] = {Variant::ByRef(&intErrorNumber), Variant::ByRef(&strErrorText)};
    Raise(typeinfo::kDispIdOnError, args);
  }

 private:
  void Raise(DispId id, std::span<Variant> args) noexcept {
    try {
      sink_->Invoke(id, DISPATCH_METHOD, args, nullptr, nullptr);
    } catch (...) {
      // A sink that throws in spite of its contract is treated like one that returned a failure.
    }
  }

  std::shared_ptr<Dispatch> sink_;
};

}  // namespace

HResult ControlDispatch::GetIDOfName(std::u16string_view name, DispId& id) {
  try {
    const auto found = typeinfo::FindDispId(typeinfo::kQuorvaneXInterface, name);
    if (!found) return DISP_E_UNKNOWNNAME;
    id = *found;
    return S_OK_;
  } catch (...) {
    return DISP_E_UNKNOWNNAME;
  }
}

HResult ControlDispatch::Invoke(DispId id, std::uint16_t kind, std::span<Variant> args, Variant* result,
                                ExcepInfo* excep) {
  try {
    const std::size_t index = SelectMember(id, kind);
    if (index == static_cast<std::size_t>(-1)) return DISP_E_MEMBERNOTFOUND;
    const MemberInfo& member = typeinfo::kQuorvaneXMembers[index];
    if (args.size() != member.params.size()) return DISP_E_BADPARAMCOUNT;

    std::vector<Slot> slots(args.size());
    for (std::size_t i = 0; i < args.size(); ++i)
      if (const HResult hr = Bind(member.params[i], args[i], slots[i]); hr != S_OK_) return hr;

    Args bound(slots);
    Variant value = kBindings[index].call(control_, bound);
    if (member.result == VT_EMPTY) {
      value = Variant();
    } else if (member.result != VT_VARIANT && value.vt() != member.result) {
      Variant converted;
      if (const HResult hr = ChangeType(value, member.result, converted); hr != S_OK_) return hr;
      value = std::move(converted);
    }
    if (result) *result = std::move(value);
    return S_OK_;
  } catch (...) {
    return CurrentExceptionToExcepInfo(excep);
  }
}

std::uint32_t ControlDispatch::AdviseEvents(std::shared_ptr<Dispatch> sink) {
  if (!sink) return 0;
  return control_.Advise(MakeDispatchEventSink(std::move(sink)));
}

bool ControlDispatch::UnadviseEvents(std::uint32_t cookie) { return control_.Unadvise(cookie); }

std::shared_ptr<QuorvaneXEvents> MakeDispatchEventSink(std::shared_ptr<Dispatch> sink) {
  if (!sink) return nullptr;
  return std::make_shared<DispatchEventSink>(std::move(sink));
}

}  // namespace quorvane::detail
