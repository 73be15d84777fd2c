// A C++ host of Quorvane.ocx, run under Wine: registration, the type library against the
// component's own tables, creation, the members through IDispatch and the vtable (answers compared
// with an in-process QuorvaneX), events with write-back, a small container, and unloading.
//   quorvane_com_host <Quorvane.ocx>     runs the checks; prints each failure, exits 1 on any
//   quorvane_com_host deck <path.pptx>   writes the two-slide deck the script test converts
#include <cstdio>
#include <string>
#include <vector>

#include "engines/pptx/builder.hpp"
#include "quorvane/control.hpp"
#include "quorvane/type_info.hpp"

#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <wrl/client.h>

#include "quorvane_h.h"

namespace {

namespace ti = quorvane::typeinfo;
using Microsoft::WRL::ComPtr;

int failures = 0;
void Check(bool ok, const std::string& row, const char* what, int line) {
  if (ok) return;
  ++failures;
  std::printf("FAILED [%s] line %d: %s\n", row.c_str(), line, what);
}
#define CHECK(cond, row) Check((cond), (row), #cond, __LINE__)

GUID G(const ti::Guid& g) {
  GUID out{g.data1, g.data2, g.data3, {}};
  std::copy(g.data4.begin(), g.data4.end(), out.Data4);
  return out;
}
std::string Narrow(std::u16string_view s) { return std::string(s.begin(), s.end()); }
std::u16string U16(const wchar_t* s) { return s ? std::u16string(s, s + wcslen(s)) : std::u16string(); }
std::u16string TakeText(BSTR s) { std::u16string t = U16(s); SysFreeString(s); return t; }

// VARIANT arguments; Call clears them.
VARIANT Make(VARTYPE vt, LONG n = 0) { VARIANT v{}; V_VT(&v) = vt; V_I4(&v) = n; return v; }
VARIANT Str(const std::wstring& s) { VARIANT v = Make(VT_BSTR); V_BSTR(&v) = SysAllocString(s.c_str()); return v; }
VARIANT Ref(VARTYPE vt, void* p) { VARIANT v = Make(VT_BYREF | vt); V_BYREF(&v) = p; return v; }

// Looks `name` up, then invokes it with `args` in declaration order (a put's value last, named).
HRESULT Call(IDispatch* d, const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr,
             EXCEPINFO* excep = nullptr) {
  DISPID id = 0, put = DISPID_PROPERTYPUT;
  LPOLESTR n = const_cast<LPOLESTR>(name);
  if (HRESULT hr = d->GetIDsOfNames(IID_NULL, &n, 1, 0, &id); FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  const UINT named = flags == DISPATCH_PROPERTYPUT ? 1 : 0;
  DISPPARAMS params{reversed.data(), named ? &put : nullptr, static_cast<UINT>(args.size()), named};
  EXCEPINFO local{};
  const HRESULT hr = d->Invoke(id, IID_NULL, 0, flags, &params, result, excep ? excep : &local, nullptr);
  for (auto& v : args) VariantClear(&v);
  SysFreeString(local.bstrDescription);
  SysFreeString(local.bstrSource);
  return hr;
}
// A member's answer, asked without arguments.
VARIANT Answer(IDispatch* d, const wchar_t* name) {
  VARIANT r = Make(VT_EMPTY);
  Call(d, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, &r);
  return r;
}
LONG Number(IDispatch* d, const wchar_t* name) { VARIANT r = Answer(d, name); return V_VT(&r) == VT_I4 ? V_I4(&r) : 0x7fff; }

std::wstring ReadKey(const std::wstring& key, const wchar_t* name, bool* present = nullptr) {
  HKEY k = nullptr;
  if (const bool open = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS; present) *present = open;
  wchar_t buffer[1024] = {};
  DWORD size = sizeof buffer - sizeof(wchar_t);
  if (k) RegQueryValueExW(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size), RegCloseKey(k);
  return buffer;
}
std::wstring GuidText(const ti::Guid& g) { wchar_t text[40] = {}; return StringFromGUID2(G(g), text, 40), text; }
const std::wstring kClassKey = L"CLSID\\" + GuidText(ti::kQuorvaneXClass.clsid);

void WriteDeck(const std::string& path) {
  namespace b = quorvane::engines::pptx::builder;
  b::DeckPlan plan = b::Blank();
  plan.slides.resize(2);
  plan.slides[0].shapes = {b::Title(u"Quorvane under Wine"), b::Body(u"Converted by a script")};
  plan.slides[1].shapes = {b::Title(u"A second slide")};
  b::Write(plan, path);
}

using EntryPoint = HRESULT(STDAPICALLTYPE*)();
EntryPoint Export(HMODULE module, const char* name) {
  return reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// --- Registration -----------------------------------------------------------------------------
void CheckRegistration(HMODULE ocx, const std::wstring& path) {
  const EntryPoint reg = Export(ocx, "DllRegisterServer"), unreg = Export(ocx, "DllUnregisterServer");
  const std::wstring clsid = GuidText(ti::kQuorvaneXClass.clsid), libid = GuidText(ti::kLibrary.libid);
  const struct { std::wstring key; const wchar_t* name; std::wstring value; /* empty: any */ } rows[] = {
      {kClassKey + L"\\InprocServer32", nullptr, path},
      {kClassKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {kClassKey + L"\\ProgID", nullptr, L"Quorvane.QuorvaneX.4"},
      {kClassKey + L"\\VersionIndependentProgID", nullptr, L"Quorvane.QuorvaneX"},
      {kClassKey + L"\\Control", nullptr, L""},
      {kClassKey + L"\\ToolboxBitmap32", nullptr, path + L", 1"},
      {kClassKey + L"\\MiscStatus\\1", nullptr, L""},
      {kClassKey + L"\\TypeLib", nullptr, libid},
      {kClassKey + L"\\Version", nullptr, L"4.7"},
      {L"Quorvane.QuorvaneX\\CLSID", nullptr, clsid},
      {L"Quorvane.QuorvaneX\\CurVer", nullptr, L"Quorvane.QuorvaneX.4"},
      {L"Quorvane.QuorvaneX.4\\CLSID", nullptr, clsid},
      {L"TypeLib\\" + libid + L"\\4.7\\0\\win64", nullptr, path},
  };
  for (const bool registered : {true, false}) {
    CHECK((registered ? reg() : unreg()) == S_OK, registered ? "DllRegisterServer" : "DllUnregisterServer");
    for (const auto& row : rows) {
      bool present = false;
      const std::wstring value = ReadKey(row.key, row.name, &present);
      CHECK(present == registered && (!registered || row.value.empty() || _wcsicmp(value.c_str(), row.value.c_str()) == 0),
            (registered ? "registered " : "unregistered ") + Narrow(U16(row.key.c_str())));
    }
  }
  CHECK(reg() == S_OK, "registered again for the other checks");
}

// --- Type library -----------------------------------------------------------------------------
void CheckInterface(ITypeLib* library, const ti::InterfaceInfo& iface) {
  const std::string row = Narrow(iface.name);
  ComPtr<ITypeInfo> info;
  TYPEATTR* attr = nullptr;
  BSTR name = nullptr;
  if (FAILED(library->GetTypeInfoOfGuid(G(iface.iid), &info)) || FAILED(info->GetTypeAttr(&attr))) return CHECK(false, row);
  info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
  const bool dual = iface.flavor == ti::InterfaceFlavor::Dual;
  CHECK(TakeText(name) == iface.name && attr->typekind == TKIND_DISPATCH && !!(attr->wTypeFlags & TYPEFLAG_FDUAL) == dual, row);
  info->ReleaseTypeAttr(attr);
  if (dual) {  // the vtable view, where slots and result parameters are visible
    HREFTYPE vtable = 0;
    ComPtr<ITypeInfo> view;
    CHECK(SUCCEEDED(info->GetRefTypeOfImplType(-1, &vtable)) && SUCCEEDED(info->GetRefTypeInfo(vtable, &view)), row);
    if (!(info = view)) return;
  }
  info->GetTypeAttr(&attr);
  CHECK(attr->cFuncs == iface.members.size(), row + " member count");
  info->ReleaseTypeAttr(attr);
  for (std::size_t i = 0; i < iface.members.size(); ++i) {
    const ti::MemberInfo& m = iface.members[i];
    const std::string member = row + "." + Narrow(m.name) + (m.kind == ti::MemberKind::PropertyPut ? " (put)" : "");
    FUNCDESC* f = nullptr;
    if (FAILED(info->GetFuncDesc(static_cast<UINT>(i), &f))) {
      CHECK(false, member);
      continue;
    }
    const INVOKEKIND kinds[] = {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT};
    const bool retval = dual && m.result != quorvane::VT_EMPTY;
    CHECK(f->memid == m.id && f->invkind == kinds[static_cast<int>(m.kind)], member + " id and kind");
    CHECK(!dual || f->oVft == static_cast<SHORT>((ti::kFirstDualSlot + i) * sizeof(void*)), member + " slot");
    CHECK(f->cParams == static_cast<SHORT>(m.params.size() + retval), member + " parameter count");
    BSTR names[8] = {};
    UINT count = 0;
    info->GetNames(m.id, names, 8, &count);
    CHECK(count >= 1 && U16(names[0]) == m.name, member + " name");
    for (std::size_t p = 0; p < m.params.size() && p < static_cast<std::size_t>(f->cParams); ++p) {
      const ti::ParamInfo& want = m.params[p];
      const ELEMDESC& e = f->lprgelemdescParam[p];
      const bool byRef = e.tdesc.vt == VT_PTR;
      const USHORT flags = e.paramdesc.wParamFlags & (PARAMFLAG_FIN | PARAMFLAG_FOUT);
      const std::string param = member + " " + Narrow(want.name);
      CHECK(byRef == want.byRef && (byRef ? e.tdesc.lptdesc->vt : e.tdesc.vt) == want.type, param + " type");
      CHECK(flags == (want.byRef ? PARAMFLAG_FIN | PARAMFLAG_FOUT : PARAMFLAG_FIN), param + " direction");
      // Names are looked up by id, which a put shares with its get: the get's names answer.
      if (m.kind != ti::MemberKind::PropertyPut) CHECK(p + 1 < count && U16(names[1 + p]) == want.name, param + " name");
    }
    const ELEMDESC& last = f->lprgelemdescParam[f->cParams > 0 ? f->cParams - 1 : 0];
    CHECK(!retval || ((last.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) && last.tdesc.vt == VT_PTR &&
                      last.tdesc.lptdesc->vt == m.result),
          member + " result");
    for (BSTR& n : names) SysFreeString(n);
    info->ReleaseFuncDesc(f);
  }
}

// The type a type description refers to, and its identifier.
GUID Referenced(ITypeInfo* from, HREFTYPE ref) {
  ComPtr<ITypeInfo> target;
  TYPEATTR* attr = nullptr;
  GUID guid{};
  if (SUCCEEDED(from->GetRefTypeInfo(ref, &target)) && SUCCEEDED(target->GetTypeAttr(&attr))) {
    guid = attr->guid;
    target->ReleaseTypeAttr(attr);
  }
  return guid;
}

void CheckTypeLibrary(const std::wstring& path) {
  ComPtr<ITypeLib> library;
  TLIBATTR* lib = nullptr;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library)) || FAILED(library->GetLibAttr(&lib)))
    return CHECK(false, "the type library in the module");
  CHECK(lib->guid == G(ti::kLibrary.libid) && lib->wMajorVerNum == ti::kLibrary.majorVersion &&
            lib->wMinorVerNum == ti::kLibrary.minorVersion && lib->lcid == ti::kLibrary.lcid,
        "library identity");
  library->ReleaseTLibAttr(lib);
  CheckInterface(library.Get(), ti::kQuorvaneXInterface);
  CheckInterface(library.Get(), ti::kQuorvaneXEvents);

  ComPtr<ITypeInfo> coclass;
  CHECK(SUCCEEDED(library->GetTypeInfoOfGuid(G(ti::kQuorvaneXClass.clsid), &coclass)), "class");
  const struct {
    INT flags;
    const ti::InterfaceInfo* iface;
  } impls[] = {{IMPLTYPEFLAG_FDEFAULT, ti::kQuorvaneXClass.defaultInterface},
               {IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE, ti::kQuorvaneXClass.defaultSource}};
  for (UINT i = 0; coclass && i < 2; ++i) {
    INT flags = 0;
    HREFTYPE ref = 0;
    coclass->GetImplTypeFlags(i, &flags);
    coclass->GetRefTypeOfImplType(i, &ref);
    CHECK(flags == impls[i].flags && Referenced(coclass.Get(), ref) == G(impls[i].iface->iid),
          "class implements " + Narrow(impls[i].iface->name));
  }
  for (const auto& alias : ti::kQuorvaneXAliases) {
    ComPtr<ITypeInfo> info;
    TYPEATTR* attr = nullptr;
    BSTR name = nullptr;
    if (FAILED(library->GetTypeInfoOfGuid(G(alias.iid), &info)) || FAILED(info->GetTypeAttr(&attr))) {
      CHECK(false, Narrow(alias.name));
      continue;
    }
    info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    CHECK(attr->typekind == TKIND_ALIAS && attr->tdescAlias.vt == VT_USERDEFINED && TakeText(name) == alias.name &&
              Referenced(info.Get(), attr->tdescAlias.hreftype) == G(ti::kQuorvaneXInterface.iid),
          Narrow(alias.name));
    info->ReleaseTypeAttr(attr);
  }
}

// --- Events: a sink that counts and rewrites the error text -----------------------------------
class Sink final : public IDispatch {
 public:
  int progress = 0, errors = 0;
  LONG number = 0;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool ok = iid == IID_IUnknown || iid == IID_IDispatch || iid == G(ti::kQuorvaneXEvents.iid);
    *out = ok ? this : nullptr;
    return ok ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
    if (id == ti::kDispIdProgress) ++progress;
    if (id != ti::kDispIdOnError) return S_OK;
    ++errors;  // reversed: strErrorText, then intErrorNumber; both by reference
    if (p->cArgs != 2 || V_VT(&p->rgvarg[0]) != (VT_BYREF | VT_BSTR) || V_VT(&p->rgvarg[1]) != (VT_BYREF | VT_I4))
      return DISP_E_TYPEMISMATCH;
    number = *V_I4REF(&p->rgvarg[1]);
    SysFreeString(*V_BSTRREF(&p->rgvarg[0]));
    *V_BSTRREF(&p->rgvarg[0]) = SysAllocString(L"rewritten by the sink");
    return S_OK;
  }
};

void CheckEvents(IDispatch* d, const std::wstring& folder) {
  ComPtr<IConnectionPointContainer> container;
  ComPtr<IProvideClassInfo2> classInfo;
  ComPtr<IConnectionPoint> point;
  GUID source{};
  CHECK(SUCCEEDED(d->QueryInterface(IID_PPV_ARGS(&container))) && SUCCEEDED(d->QueryInterface(IID_PPV_ARGS(&classInfo))) &&
            classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source) == S_OK &&
            source == G(ti::kQuorvaneXEvents.iid),
        "the default source is __QuorvaneX");
  if (!container || container->FindConnectionPoint(source, &point) != S_OK) return CHECK(false, "connection point");
  Sink sink;
  DWORD cookie = 0;
  CHECK(point->Advise(&sink, &cookie) == S_OK && cookie != 0, "Advise");
  ComPtr<IEnumConnectionPoints> points;
  ComPtr<IEnumConnections> connections;
  ComPtr<IConnectionPoint> listed;
  CONNECTDATA connection[2] = {};
  ULONG fetched = 0;
  CHECK(container->EnumConnectionPoints(&points) == S_OK && points->Next(1, &listed, nullptr) == S_OK && listed == point &&
            points->Next(1, &listed, nullptr) == S_FALSE,
        "the one connection point is listed");
  CHECK(point->EnumConnections(&connections) == S_OK && connections->Next(2, connection, &fetched) == S_FALSE &&
            fetched == 1 && connection[0].dwCookie == cookie && connection[0].pUnk == static_cast<IUnknown*>(&sink),
        "the advised sink is listed");
  const std::wstring deck = folder + L"\\deck.pptx";
  WriteDeck(Narrow(U16(deck.c_str())));
  const struct {
    const char* name;
    std::wstring input;
    bool fails;
  } rows[] = {{"a good conversion raises Progress only", deck, false},
              {"a failing one raises onerror, and the sink's text becomes ErrorString", folder + L"\\missing.pptx", true}};
  for (const auto& row : rows) {
    sink.progress = sink.errors = 0;
    Call(d, L"InputFile", DISPATCH_PROPERTYPUT, {Str(row.input)});
    Call(d, L"OutputFile", DISPATCH_PROPERTYPUT, {Str(folder + L"\\deck.txt")});
    Call(d, L"TargetFileType", DISPATCH_PROPERTYPUT, {Make(VT_I4, 200)});
    const LONG code = Number(d, L"ConvertFile");
    CHECK((code < 0) == row.fails && (sink.progress > 0) != row.fails && sink.errors == row.fails, row.name);
    VARIANT error = Answer(d, L"ErrorString");
    CHECK(!row.fails || (sink.number == code && V_VT(&error) == VT_BSTR && TakeText(V_BSTR(&error)) == u"rewritten by the sink"),
          row.name);
  }
  CHECK(point->Unadvise(cookie) == S_OK && point->Unadvise(cookie) == CONNECT_E_NOCONNECTION, "Unadvise");
}

// --- Members ----------------------------------------------------------------------------------
void CheckMembers(IDispatch* d) {
  // Every member by name, then by its id with arguments of the declared types (empty, zero, null): it
  // answers with a result of the declared type, or fails as a member does.
  for (const ti::MemberInfo& m : ti::kQuorvaneXMembers) {
    const std::string row = Narrow(m.name) + (m.kind == ti::MemberKind::PropertyPut ? " (put)" : "");
    std::wstring name(m.name.begin(), m.name.end());
    LPOLESTR n = name.data();
    DISPID id = 0, put = DISPID_PROPERTYPUT;
    CHECK(d->GetIDsOfNames(IID_NULL, &n, 1, 0, &id) == S_OK && id == m.id, row + " by name");
    VARIANT cells[3], args[3], r = Make(VT_EMPTY);
    const UINT count = static_cast<UINT>(m.params.size());
    for (UINT i = 0; i < count; ++i) {  // args in reverse
      const VARTYPE vt = m.params[i].type;
      cells[i] = vt == VT_BSTR ? Str(L"") : Make(vt == VT_VARIANT ? VARTYPE{VT_I4} : vt);
      args[count - 1 - i] = !m.params[i].byRef ? cells[i] : vt == VT_VARIANT ? Ref(vt, &cells[i]) : Ref(vt, &V_I4(&cells[i]));
    }
    const bool isPut = m.kind == ti::MemberKind::PropertyPut;
    const WORD kinds[] = {DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT};
    DISPPARAMS params{args, isPut ? &put : nullptr, count, isPut};
    EXCEPINFO e{};
    const HRESULT hr = d->Invoke(m.id, IID_NULL, 0, kinds[static_cast<int>(m.kind)], &params, isPut ? nullptr : &r, &e, nullptr);
    CHECK((hr == S_OK && (m.result == quorvane::VT_VARIANT || V_VT(&r) == m.result)) || (hr == DISP_E_EXCEPTION && e.bstrDescription),
          row + " by id: " + std::to_string(hr) + ", type " + std::to_string(V_VT(&r)));
    SysFreeString(e.bstrDescription), SysFreeString(e.bstrSource), VariantClear(&r);
    for (UINT i = 0; i < count; ++i) VariantClear(&cells[i]);
  }
  // By-reference arguments are written back (a script's variants: convert.vbs); the in-process
  // control says what they must hold.
  quorvane::QuorvaneX local;
  std::u16string localType;
  std::int32_t localCode = 0;
  local.GetFileType(2, localType, localCode);
  BSTR type = nullptr;
  LONG code = 0;  // GetFileType(2, type, code)
  Call(d, L"GetFileType", DISPATCH_METHOD, {Make(VT_I4, 2), Ref(VT_BSTR, &type), Ref(VT_I4, &code)});
  CHECK(TakeText(type) == localType && code == localCode, "typed by-reference arguments");

  // A failing member reports its number and description, through IDispatch and through the vtable.
  IDispatch* none = nullptr;
  BSTR result = nullptr, description = nullptr;
  EXCEPINFO e{};
  const HRESULT objectNotSet = static_cast<HRESULT>(0x800A0000u | quorvane::failure::kObjectNotSet);
  CHECK(Call(d, L"TextFromGroupShape", DISPATCH_METHOD, {Ref(VT_DISPATCH, &none)}, nullptr, &e) == DISP_E_EXCEPTION &&
            e.scode == objectNotSet && !TakeText(e.bstrDescription).empty(),
        "failure through IDispatch");
  SysFreeString(e.bstrSource);
  ComPtr<_QuorvaneX> dual;
  ComPtr<ISupportErrorInfo> support;
  ComPtr<IErrorInfo> info;
  d->QueryInterface(G(ti::kQuorvaneXInterface.iid), &dual);
  d->QueryInterface(IID_PPV_ARGS(&support));
  CHECK(dual && support && support->InterfaceSupportsErrorInfo(G(ti::kQuorvaneXInterface.iid)) == S_OK &&
            dual->TextFromGroupShape(&none, &result) == objectNotSet && GetErrorInfo(0, &info) == S_OK && info &&
            SUCCEEDED(info->GetDescription(&description)) && !TakeText(description).empty(),
        "failure through the vtable");
}

// --- A container ------------------------------------------------------------------------------
class Site final : public IOleClientSite, public IOleInPlaceSite {
 public:
  HWND window = nullptr;
  IOleInPlaceObject* placed = nullptr;
  std::vector<RECT> changes;
  bool active = false;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IOleClientSite) *out = static_cast<IOleClientSite*>(this);
    else if (iid == IID_IOleInPlaceSite || iid == IID_IOleWindow) *out = static_cast<IOleInPlaceSite*>(this);
    else return *out = nullptr, E_NOINTERFACE;
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* w) override { return *w = window, S_OK; }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return active = true, S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** f, IOleInPlaceUIWindow** d, LPRECT pos, LPRECT clip,
                                             LPOLEINPLACEFRAMEINFO) override {
    *f = nullptr, *d = nullptr;
    return *pos = *clip = RECT{10, 20, 210, 170}, S_OK;  // asks for 200 x 150
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return active = false, S_OK; }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT r) override {
    changes.push_back(*r);
    return placed->SetObjectRects(r, r);  // as a container does: give the object the size it wants
  }
};

void CheckContainer(IUnknown* control) {
  ComPtr<IOleObject> ole;
  ComPtr<IOleInPlaceObject> inPlace;
  ComPtr<IViewObject2> view;
  if (FAILED(control->QueryInterface(IID_PPV_ARGS(&ole))) || FAILED(control->QueryInterface(IID_PPV_ARGS(&inPlace))) ||
      FAILED(control->QueryInterface(IID_PPV_ARGS(&view))))
    return CHECK(false, "container interfaces");
  DWORD misc = 0;
  CHECK(ole->GetMiscStatus(DVASPECT_CONTENT, &misc) == S_OK &&
            ReadKey(kClassKey + L"\\MiscStatus\\1", nullptr) == std::to_wstring(misc),
        "the registry holds the status flags the object gives");
  Site site;
  site.window = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
  site.placed = inPlace.Get();
  HWND own = nullptr;
  RECT client{}, asked{10, 20, 210, 170}, bigger{5, 5, 505, 405};
  const RECT kept{10, 20, 42, 48}, keptAgain{5, 5, 37, 33};
  CHECK(ole->SetClientSite(&site) == S_OK && ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window, &asked) == S_OK &&
            site.active && inPlace->GetWindow(&own) == S_OK && GetParent(own) == site.window,
        "in-place activation in a child window of the container");
  GetClientRect(own, &client);
  CHECK(client.right == 32 && client.bottom == 28 && !site.changes.empty() && EqualRect(&site.changes.back(), &kept),
        "the window keeps 32 x 28 and the container is told so");
  site.changes.clear();
  inPlace->SetObjectRects(&bigger, &bigger);
  CHECK(site.changes.size() == 1 && EqualRect(&site.changes[0], &keptAgain), "SetObjectRects goes back to 32 x 28");

  HDC screen = GetDC(nullptr);
  const SIZEL himetric{MulDiv(32, 2540, GetDeviceCaps(screen, LOGPIXELSX)), MulDiv(28, 2540, GetDeviceCaps(screen, LOGPIXELSY))};
  SIZEL big{20000, 10000}, now{};
  CHECK(ole->SetExtent(DVASPECT_CONTENT, &big) == S_OK && ole->GetExtent(DVASPECT_CONTENT, &now) == S_OK &&
            now.cx == himetric.cx && now.cy == himetric.cy,
        "SetExtent goes back to 32 x 28");
  // The drawing is the control's picture, pixel for pixel.
  const auto& bmp = quorvane::QuorvaneX::DesignTimeBitmap();
  const auto* info = reinterpret_cast<const BITMAPINFO*>(bmp.data() + sizeof(BITMAPFILEHEADER));
  const BYTE* pixels = bmp.data() + reinterpret_cast<const BITMAPFILEHEADER*>(bmp.data())->bfOffBits;
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP canvas = CreateCompatibleBitmap(screen, 32, 28);
  SelectObject(memory, canvas);
  const RECTL bounds{0, 0, 32, 28};
  int wrong = view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, memory, &bounds, nullptr, nullptr, 0) == S_OK ? 0 : -1;
  for (int y = 0; y < 28 && wrong >= 0; ++y)
    for (int x = 0; x < 32; ++x) {
      const RGBQUAD c = info->bmiColors[pixels[(27 - y) * 32 + x]];
      wrong += GetPixel(memory, x, y) != RGB(c.rgbRed, c.rgbGreen, c.rgbBlue);
    }
  CHECK(wrong == 0, "Draw paints the control's picture (" + std::to_string(wrong) + " pixels differ)");
  DeleteDC(memory), DeleteObject(canvas), ReleaseDC(nullptr, screen);
  CHECK(inPlace->InPlaceDeactivate() == S_OK && !site.active && !IsWindow(own), "deactivation removes the window");
  ole->Close(OLECLOSE_NOSAVE), ole->SetClientSite(nullptr), DestroyWindow(site.window);
}

int RunChecks(const std::wstring& path) {
  HMODULE ocx = LoadLibraryW(path.c_str());
  if (!ocx) return CHECK(false, "LoadLibrary"), 1;
  CheckRegistration(ocx, path);
  CheckTypeLibrary(path);
  const EntryPoint canUnload = Export(ocx, "DllCanUnloadNow");
  const std::wstring folder = L"com-host";  // in the test's working folder, inside the build folder
  CreateDirectoryW(folder.c_str(), nullptr);

  CLSID clsid{};
  ComPtr<IDispatch> d;
  if (CLSIDFromProgID(L"Quorvane.QuorvaneX", &clsid) != S_OK || clsid != G(ti::kQuorvaneXClass.clsid) ||
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&d)) != S_OK)
    return CHECK(false, "created by ProgID, then CLSID"), 1;
  CHECK(canUnload() == S_FALSE, "DllCanUnloadNow while a control lives");
  for (const auto& alias : ti::kQuorvaneXAliases) {
    ComPtr<IUnknown> other, dual;
    d->QueryInterface(G(ti::kQuorvaneXInterface.iid), &dual);
    CHECK(d->QueryInterface(G(alias.iid), &other) == S_OK && other == dual, Narrow(alias.name) + " answers as _QuorvaneX");
  }
  CheckMembers(d.Get());
  CheckEvents(d.Get(), folder);
  CheckContainer(d.Get());
  d.Reset();
  CHECK(canUnload() == S_OK, "DllCanUnloadNow after the last release");
  std::printf("%s: %d failure(s)\n", failures ? "FAILED" : "ok", failures);
  return failures ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"deck") return WriteDeck(Narrow(U16(argv[2]))), 0;
  if (argc != 2) return std::printf("usage: quorvane_com_host <Quorvane.ocx> | deck <path.pptx>\n"), 2;
  OleInitialize(nullptr);
  const int status = RunChecks(argv[1]);
  OleUninitialize();
  return status;
}
