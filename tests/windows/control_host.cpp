// A C++ host of Quorvane.ocx, run under Wine: registration, the type library against the
// component's own tables, creation, every member through IDispatch (answers compared with an
// in-process QuorvaneX), events with write-back, a small container, and unloading.
//   quorvane_com_host <Quorvane.ocx>     runs the checks; prints each failure, exits 1 on any
//   quorvane_com_host deck <path.pptx>   writes the two-slide deck the script test converts
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engines/pptx/builder.hpp"
#include "quorvane/catalog.hpp"
#include "quorvane/control.hpp"
#include "quorvane/type_info.hpp"

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include "quorvane_h.h"

namespace {

namespace ti = quorvane::typeinfo;

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
std::wstring Wide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }
std::u16string U16(const wchar_t* s) { return s ? std::u16string(s, s + wcslen(s)) : std::u16string(); }

// VARIANT values for arguments; the caller clears them.
VARIANT Str(const wchar_t* s) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_BSTR; V_BSTR(&v) = SysAllocString(s); return v; }
VARIANT Long(LONG n) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_I4; V_I4(&v) = n; return v; }
VARIANT Ref(VARTYPE vt, void* p) { VARIANT v; VariantInit(&v); V_VT(&v) = VT_BYREF | vt; V_BYREF(&v) = p; return v; }

// Calls `name` with `args` in declaration order; a put passes the last one as the named value.
HRESULT Call(IDispatch* d, const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr,
             EXCEPINFO* excep = nullptr) {
  DISPID id = 0;
  LPOLESTR n = const_cast<LPOLESTR>(name);
  if (HRESULT hr = d->GetIDsOfNames(IID_NULL, &n, 1, 0, &id); FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr, static_cast<UINT>(args.size()),
                    flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
  EXCEPINFO local{};
  const HRESULT hr = d->Invoke(id, IID_NULL, 0, flags, &params, result, excep ? excep : &local, nullptr);
  for (auto& v : args) VariantClear(&v);
  SysFreeString(local.bstrDescription);
  SysFreeString(local.bstrSource);
  return hr;
}
std::u16string GetText(IDispatch* d, const wchar_t* name) {
  VARIANT r;
  VariantInit(&r);
  Call(d, name, DISPATCH_PROPERTYGET, {}, &r);
  std::u16string s = V_VT(&r) == VT_BSTR ? U16(V_BSTR(&r)) : u"<not a string>";
  VariantClear(&r);
  return s;
}
LONG GetLong(IDispatch* d, const wchar_t* name, WORD flags = DISPATCH_PROPERTYGET | DISPATCH_METHOD) {
  VARIANT r;
  VariantInit(&r);
  Call(d, name, flags, {}, &r);
  VariantChangeType(&r, &r, 0, VT_I4);
  return V_VT(&r) == VT_I4 ? V_I4(&r) : 0x7fffffff;
}

std::wstring TempFolder() {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  std::wstring folder = std::wstring(base) + L"quorvane-com-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

void WriteDeck(const std::string& path) {
  namespace b = quorvane::engines::pptx::builder;
  b::DeckPlan plan = b::Blank();
  plan.slides.resize(2);
  plan.slides[0].shapes = {b::Title(u"Quorvane under Wine"), b::Body(u"Converted by a script")};
  plan.slides[1].shapes = {b::Title(u"A second slide")};
  b::Write(plan, path);
}

// An entry point of the module (all four take nothing and return an HRESULT).
using EntryPoint = HRESULT(STDAPICALLTYPE*)();
EntryPoint Export(HMODULE module, const char* name) {
  return reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// --- Registration -----------------------------------------------------------------------------
void CheckRegistration(HMODULE ocx, const std::wstring& path) {
  const EntryPoint reg = Export(ocx, "DllRegisterServer"), unreg = Export(ocx, "DllUnregisterServer");
  CHECK(reg && unreg, "exports");
  if (!reg || !unreg) return;
  wchar_t text[40];
  StringFromGUID2(G(ti::kQuorvaneXClass.clsid), text, 40);
  const std::wstring clsid = std::wstring(L"CLSID\\") + text;
  StringFromGUID2(G(ti::kLibrary.libid), text, 40);
  const std::wstring libid = text, lib = std::wstring(L"TypeLib\\") + libid + L"\\4.7\\0\\win64";
  const std::wstring misc = std::to_wstring(OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                            OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST);
  const struct {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;  // empty: the key must exist
  } rows[] = {
      {clsid + L"\\InprocServer32", nullptr, path},
      {clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {clsid + L"\\ProgID", nullptr, L"Quorvane.QuorvaneX.4"},
      {clsid + L"\\VersionIndependentProgID", nullptr, L"Quorvane.QuorvaneX"},
      {clsid + L"\\Control", nullptr, L""},
      {clsid + L"\\ToolboxBitmap32", nullptr, path + L", 1"},
      {clsid + L"\\MiscStatus\\1", nullptr, misc},
      {clsid + L"\\TypeLib", nullptr, libid},
      {clsid + L"\\Version", nullptr, L"4.7"},
      {L"Quorvane.QuorvaneX\\CLSID", nullptr, clsid.substr(6)},
      {L"Quorvane.QuorvaneX\\CurVer", nullptr, L"Quorvane.QuorvaneX.4"},
      {L"Quorvane.QuorvaneX.4\\CLSID", nullptr, clsid.substr(6)},
      {lib, nullptr, path},
  };
  auto read = [](const std::wstring& key, const wchar_t* name, std::wstring& value) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
    wchar_t buffer[1024] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t), type = 0;
    const bool got = RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS;
    RegCloseKey(k);
    value = got ? buffer : L"";
    return true;
  };
  for (int round = 0; round < 2; ++round) {
    const bool registered = round == 0;
    CHECK((registered ? reg() : unreg()) == S_OK, registered ? "DllRegisterServer" : "DllUnregisterServer");
    for (const auto& row : rows) {
      std::wstring value;
      const bool present = read(row.key, row.name, value);
      const std::string name = std::string(registered ? "registered " : "unregistered ") +
                               Narrow(std::u16string(row.key.begin(), row.key.end()));
      CHECK(present == registered, name);
      if (registered && !row.value.empty()) CHECK(_wcsicmp(value.c_str(), row.value.c_str()) == 0, name);
    }
  }
  CHECK(reg() == S_OK, "registered again for the other checks");
}

// --- Type library -----------------------------------------------------------------------------
void CheckInterface(ITypeLib* library, const ti::InterfaceInfo& iface) {
  const std::string row = Narrow(iface.name);
  ITypeInfo* info = nullptr;
  CHECK(SUCCEEDED(library->GetTypeInfoOfGuid(G(iface.iid), &info)), row);
  if (!info) return;
  BSTR name = nullptr;
  info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
  CHECK(U16(name) == iface.name, row + " name");
  SysFreeString(name);
  const bool dual = iface.flavor == ti::InterfaceFlavor::Dual;
  TYPEATTR* attr = nullptr;
  info->GetTypeAttr(&attr);
  CHECK(attr->typekind == TKIND_DISPATCH && ((attr->wTypeFlags & TYPEFLAG_FDUAL) != 0) == dual, row + " kind");
  info->ReleaseTypeAttr(attr);
  if (dual) {  // the vtable view, where slots and the result parameters are visible
    HREFTYPE vtable = 0;
    ITypeInfo* view = nullptr;
    CHECK(SUCCEEDED(info->GetRefTypeOfImplType(-1, &vtable)) && SUCCEEDED(info->GetRefTypeInfo(vtable, &view)), row);
    info->Release();
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
    const INVOKEKIND kind = m.kind == ti::MemberKind::Method        ? INVOKE_FUNC
                            : m.kind == ti::MemberKind::PropertyGet ? INVOKE_PROPERTYGET
                                                                    : INVOKE_PROPERTYPUT;
    CHECK(f->memid == m.id && f->invkind == kind, member + " id and kind");
    if (dual) CHECK(f->oVft == static_cast<SHORT>((ti::kFirstDualSlot + i) * sizeof(void*)), member + " slot");
    const bool retval = dual && m.result != quorvane::VT_EMPTY;
    CHECK(f->cParams == static_cast<SHORT>(m.params.size() + (retval ? 1 : 0)), member + " parameter count");
    BSTR names[8] = {};
    UINT count = 0;
    info->GetNames(f->memid == m.id ? m.id : f->memid, names, 8, &count);
    CHECK(count >= 1 && U16(names[0]) == m.name, member + " name");
    for (std::size_t p = 0; p < m.params.size() && p < static_cast<std::size_t>(f->cParams); ++p) {
      const ti::ParamInfo& want = m.params[p];
      const ELEMDESC& e = f->lprgelemdescParam[p];
      const bool byRef = e.tdesc.vt == VT_PTR;
      const VARTYPE type = byRef ? e.tdesc.lptdesc->vt : e.tdesc.vt;
      const std::string param = member + " " + Narrow(want.name);
      CHECK(byRef == want.byRef && type == want.type, param + " type");
      const USHORT flags = e.paramdesc.wParamFlags & (PARAMFLAG_FIN | PARAMFLAG_FOUT);
      CHECK(flags == (want.byRef ? PARAMFLAG_FIN | PARAMFLAG_FOUT : PARAMFLAG_FIN), param + " direction");
      // Names are looked up by id, which a put shares with its get: the get's names answer.
      if (m.kind != ti::MemberKind::PropertyPut) CHECK(p + 1 < count && U16(names[1 + p]) == want.name, param + " name");
    }
    if (retval && f->cParams > 0) {
      const ELEMDESC& e = f->lprgelemdescParam[f->cParams - 1];
      CHECK((e.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) && e.tdesc.vt == VT_PTR && e.tdesc.lptdesc->vt == m.result,
            member + " result");
    }
    for (BSTR& n : names) SysFreeString(n);
    info->ReleaseFuncDesc(f);
  }
  info->Release();
}

void CheckTypeLibrary(const std::wstring& path) {
  ITypeLib* library = nullptr;
  CHECK(SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library)), "type library in the module");
  if (!library) return;
  TLIBATTR* lib = nullptr;
  library->GetLibAttr(&lib);
  CHECK(lib->guid == G(ti::kLibrary.libid) && lib->wMajorVerNum == ti::kLibrary.majorVersion &&
            lib->wMinorVerNum == ti::kLibrary.minorVersion && lib->lcid == ti::kLibrary.lcid,
        "library identity");
  library->ReleaseTLibAttr(lib);
  CheckInterface(library, ti::kQuorvaneXInterface);
  CheckInterface(library, ti::kQuorvaneXEvents);

  ITypeInfo* coclass = nullptr;
  CHECK(SUCCEEDED(library->GetTypeInfoOfGuid(G(ti::kQuorvaneXClass.clsid), &coclass)), "class");
  if (coclass) {
    const struct {
      INT flags;
      const ti::InterfaceInfo* iface;
    } impls[] = {{IMPLTYPEFLAG_FDEFAULT, ti::kQuorvaneXClass.defaultInterface},
                 {IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE, ti::kQuorvaneXClass.defaultSource}};
    for (UINT i = 0; i < 2; ++i) {
      INT flags = 0;
      HREFTYPE ref = 0;
      ITypeInfo* impl = nullptr;
      TYPEATTR* attr = nullptr;
      coclass->GetImplTypeFlags(i, &flags);
      coclass->GetRefTypeOfImplType(i, &ref);
      if (SUCCEEDED(coclass->GetRefTypeInfo(ref, &impl)) && SUCCEEDED(impl->GetTypeAttr(&attr))) {
        CHECK(flags == impls[i].flags && attr->guid == G(impls[i].iface->iid), "class " + Narrow(impls[i].iface->name));
        impl->ReleaseTypeAttr(attr);
        impl->Release();
      } else {
        CHECK(false, "class " + Narrow(impls[i].iface->name));
      }
    }
    coclass->Release();
  }
  for (const auto& alias : ti::kQuorvaneXAliases) {
    ITypeInfo* info = nullptr;
    TYPEATTR* attr = nullptr;
    ITypeInfo* target = nullptr;
    TYPEATTR* targetAttr = nullptr;
    BSTR name = nullptr;
    const bool found = SUCCEEDED(library->GetTypeInfoOfGuid(G(alias.iid), &info)) && SUCCEEDED(info->GetTypeAttr(&attr));
    CHECK(found && attr->typekind == TKIND_ALIAS && attr->tdescAlias.vt == VT_USERDEFINED, Narrow(alias.name));
    if (found && attr->tdescAlias.vt == VT_USERDEFINED && SUCCEEDED(info->GetRefTypeInfo(attr->tdescAlias.hreftype, &target))) {
      target->GetTypeAttr(&targetAttr);
      info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
      CHECK(targetAttr->guid == G(ti::kQuorvaneXInterface.iid) && U16(name) == alias.name, Narrow(alias.name));
      target->ReleaseTypeAttr(targetAttr);
      target->Release();
      SysFreeString(name);
    }
    if (attr) info->ReleaseTypeAttr(attr);
    if (info) info->Release();
  }
  library->Release();
}

// --- Events -----------------------------------------------------------------------------------
class Sink final : public IDispatch {
 public:
  int progress = 0, errors = 0;
  LONG number = 0;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == G(ti::kQuorvaneXEvents.iid)) {
      *out = this;
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
    if (id == ti::kDispIdProgress) ++progress;
    if (id != ti::kDispIdOnError) return S_OK;
    ++errors;
    // Reversed: strErrorText first, then intErrorNumber; both by reference.
    if (p->cArgs != 2 || V_VT(&p->rgvarg[0]) != (VT_BYREF | VT_BSTR) || V_VT(&p->rgvarg[1]) != (VT_BYREF | VT_I4))
      return DISP_E_TYPEMISMATCH;
    number = *V_I4REF(&p->rgvarg[1]);
    SysFreeString(*V_BSTRREF(&p->rgvarg[0]));
    *V_BSTRREF(&p->rgvarg[0]) = SysAllocString(L"rewritten by the sink");
    return S_OK;
  }
};

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
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* w) override { *w = window; return S_OK; }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { active = true; return S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** f, IOleInPlaceUIWindow** d, LPRECT pos, LPRECT clip,
                                             LPOLEINPLACEFRAMEINFO) override {
    *f = nullptr;
    *d = nullptr;
    *pos = *clip = RECT{10, 20, 210, 170};  // asks for 200 x 150
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { active = false; return S_OK; }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT r) override {
    changes.push_back(*r);
    if (placed) placed->SetObjectRects(r, r);  // as a container does: accept the object's size
    return S_OK;
  }
};

void CheckContainer(IUnknown* control) {
  IOleObject* ole = nullptr;
  IOleInPlaceObject* inPlace = nullptr;
  IViewObject2* view = nullptr;
  control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&ole));
  control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace));
  control->QueryInterface(IID_IViewObject2, reinterpret_cast<void**>(&view));
  CHECK(ole && inPlace && view, "container interfaces");
  if (!ole || !inPlace || !view) return;
  Site site;
  site.window = CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
  site.placed = inPlace;
  RECT asked{10, 20, 210, 170};
  CHECK(ole->SetClientSite(&site) == S_OK && ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window, &asked) == S_OK,
        "in-place activation");
  HWND own = nullptr;
  RECT client{};
  inPlace->GetWindow(&own);
  GetClientRect(own, &client);
  const RECT kept{10, 20, 42, 48};
  CHECK(site.active && own && GetParent(own) == site.window, "a child window of the container");
  CHECK(client.right == 32 && client.bottom == 28, "the window keeps 32 x 28");
  CHECK(!site.changes.empty() && EqualRect(&site.changes.back(), &kept), "the container is told 32 x 28 at its corner");
  const RECT bigger{5, 5, 505, 405};
  site.changes.clear();
  inPlace->SetObjectRects(&bigger, &bigger);
  const RECT keptAgain{5, 5, 37, 33};
  CHECK(site.changes.size() == 1 && EqualRect(&site.changes[0], &keptAgain), "SetObjectRects goes back to 32 x 28");

  HDC screen = GetDC(nullptr);
  const SIZEL himetric{MulDiv(32, 2540, GetDeviceCaps(screen, LOGPIXELSX)), MulDiv(28, 2540, GetDeviceCaps(screen, LOGPIXELSY))};
  SIZEL big{20000, 10000}, now{};
  CHECK(ole->SetExtent(DVASPECT_CONTENT, &big) == S_OK && ole->GetExtent(DVASPECT_CONTENT, &now) == S_OK &&
            now.cx == himetric.cx && now.cy == himetric.cy,
        "SetExtent goes back to 32 x 28");

  // The drawing is the control's bitmap: compare every pixel with the picture it carries.
  const auto& bmp = quorvane::QuorvaneX::DesignTimeBitmap();
  const auto* info = reinterpret_cast<const BITMAPINFO*>(bmp.data() + sizeof(BITMAPFILEHEADER));
  const BYTE* pixels = bmp.data() + reinterpret_cast<const BITMAPFILEHEADER*>(bmp.data())->bfOffBits;
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP canvas = CreateCompatibleBitmap(screen, 32, 28);
  SelectObject(memory, canvas);
  const RECTL bounds{0, 0, 32, 28};
  CHECK(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, memory, &bounds, nullptr, nullptr, 0) == S_OK, "Draw");
  int wrong = 0;
  for (int y = 0; y < 28; ++y)
    for (int x = 0; x < 32; ++x) {
      const RGBQUAD c = info->bmiColors[pixels[(27 - y) * 32 + x]];
      wrong += GetPixel(memory, x, y) != RGB(c.rgbRed, c.rgbGreen, c.rgbBlue);
    }
  CHECK(wrong == 0, "Draw paints the control's picture (" + std::to_string(wrong) + " pixels differ)");
  DeleteDC(memory);
  DeleteObject(canvas);
  ReleaseDC(nullptr, screen);

  CHECK(inPlace->InPlaceDeactivate() == S_OK && !site.active && !IsWindow(own), "deactivation removes the window");
  ole->Close(OLECLOSE_NOSAVE);
  ole->SetClientSite(nullptr);
  DestroyWindow(site.window);
  ole->Release();
  inPlace->Release();
  view->Release();
}

// --- Members ----------------------------------------------------------------------------------
void CheckMembers(IDispatch* d, const std::wstring& folder) {
  for (const ti::MemberInfo& m : ti::kQuorvaneXMembers) {  // by name: every member answers with its id
    DISPID id = 0;
    std::wstring name = Wide(m.name);
    LPOLESTR n = name.data();
    CHECK(d->GetIDsOfNames(IID_NULL, &n, 1, 0, &id) == S_OK && id == m.id, Narrow(m.name) + " by name");
  }
  quorvane::QuorvaneX local;  // the in-process control answers what the COM one must
  const std::wstring text = folder + L"\\writer.txt";
  struct Row {
    const char* name;
    std::function<void(const std::string&)> run;
  };
  const Row rows[] = {
      {"string properties trim spaces and read back",
       [&](const std::string& row) {
         for (const wchar_t* p : {L"InputFile", L"OutputFile"}) {
           Call(d, p, DISPATCH_PROPERTYPUT, {Str(L"  C:\\in.pptx \t ")});
           CHECK(GetText(d, p) == u"C:\\in.pptx \t", row);
         }
         Call(d, L"ErrorString", DISPATCH_PROPERTYPUT, {Str(L" kept ")});
         CHECK(GetText(d, L"ErrorString") == u" kept ", row);
       }},
      {"numeric and Boolean properties store what they are given",
       [&](const std::string& row) {
         for (const wchar_t* p : {L"TargetFileType", L"StartSlide", L"EndSlide"})
           CHECK(Call(d, p, DISPATCH_PROPERTYPUT, {Long(-5)}) == S_OK && GetLong(d, p) == -5, row + " " + Narrow(U16(p)));
         for (const wchar_t* p : {L"OptimizeForSpeed", L"MultiFileOutput", L"ShowSlideAndShapeNumber", L"IncludeNotes", L"NotesOnly"}) {
           VARIANT odd = Long(5);  // a Boolean other than -1 and 0 is kept as it is
           V_VT(&odd) = VT_BOOL;
           CHECK(Call(d, p, DISPATCH_PROPERTYPUT, {odd}) == S_OK && GetLong(d, p) == 5, row + " " + Narrow(U16(p)));
         }
         VARIANT r;
         VariantInit(&r);
         CHECK(Call(d, L"PercentageComplete", DISPATCH_PROPERTYGET, {}, &r) == S_OK && V_VT(&r) == VT_R4 && V_R4(&r) == 0, row);
       }},
      {"catalogue members answer as in-process",
       [&](const std::string& row) {
         CHECK(GetLong(d, L"GetAllPossibleErrorsCount") == quorvane::catalog::kAllPossibleErrorsCount, row);
         CHECK(GetLong(d, L"lNumberOfFileTypes") == local.get_lNumberOfFileTypes().integer(), row);
         LONG code = 32;
         VARIANT_BOOL wild = VARIANT_TRUE;
         VARIANT r;
         VariantInit(&r);
         std::int32_t localCode = 32;
         quorvane::VariantBool localWild = -1;
         Call(d, L"LookUpSaveAsExtension", DISPATCH_METHOD, {Ref(VT_I4, &code), Ref(VT_BOOL, &wild)}, &r);
         CHECK(V_VT(&r) == VT_BSTR && U16(V_BSTR(&r)) == local.LookUpSaveAsExtension(localCode, localWild), row);
         VariantClear(&r);
         Call(d, L"FileTypeSupportsSingleFileOutput", DISPATCH_METHOD, {Ref(VT_I4, &code)}, &r);
         CHECK(V_VT(&r) == VT_BOOL && V_BOOL(&r) == local.FileTypeSupportsSingleFileOutput(localCode), row);
         VARIANT number = Long(-5);
         Call(d, L"GetErrorString", DISPATCH_METHOD, {Ref(VT_VARIANT, &number)}, &r);
         quorvane::Variant localNumber(std::int32_t{-5});
         CHECK(V_VT(&r) == VT_BSTR && U16(V_BSTR(&r)) == local.GetErrorString(localNumber), row);
         VariantClear(&r);
       }},
      {"by-reference arguments are written back, typed or as script variants",
       [&](const std::string& row) {
         std::u16string localType;
         std::int32_t localCode = 0;
         local.GetFileType(2, localType, localCode);
         BSTR type = nullptr;
         LONG code = 0;
         Call(d, L"GetFileType", DISPATCH_METHOD, {Long(2), Ref(VT_BSTR, &type), Ref(VT_I4, &code)});
         CHECK(U16(type) == localType && code == localCode, row + " typed");
         SysFreeString(type);
         VARIANT scriptType, scriptCode;
         VariantInit(&scriptType);
         VariantInit(&scriptCode);
         Call(d, L"GetFileType", DISPATCH_METHOD, {Long(2), Ref(VT_VARIANT, &scriptType), Ref(VT_VARIANT, &scriptCode)});
         CHECK(V_VT(&scriptType) == VT_BSTR && U16(V_BSTR(&scriptType)) == localType, row + " script string");
         CHECK(V_VT(&scriptCode) == VT_I4 && V_I4(&scriptCode) == localCode, row + " script number");
         VariantClear(&scriptType);
         BSTR version = SysAllocString(L"");
         VARIANT r;
         VariantInit(&r);
         std::u16string localVersion;
         const double localNumber = local.PowerPointVersion(localVersion);
         Call(d, L"PowerPointVersion", DISPATCH_METHOD, {Ref(VT_BSTR, &version)}, &r);
         CHECK(V_VT(&r) == VT_R8 && V_R8(&r) == localNumber && U16(version) == localVersion, row + " version");
         SysFreeString(version);
         CHECK(GetLong(d, L"PowerPointVersionAtLeast2007", DISPATCH_METHOD) == local.PowerPointVersionAtLeast2007() &&
                   GetLong(d, L"PowerPointVersionAtLeast2010", DISPATCH_METHOD) == local.PowerPointVersionAtLeast2010(),
               row + " version checks");
       }},
      {"the text writer writes the file it opened",
       [&](const std::string& row) {
         BSTR name = SysAllocString(text.c_str()), line = SysAllocString(L"written through COM");
         CHECK(Call(d, L"OpenTextFileForWriting", DISPATCH_METHOD, {Ref(VT_BSTR, &name)}) == S_OK &&
                   Call(d, L"WriteToTextFile", DISPATCH_METHOD, {Ref(VT_BSTR, &line)}) == S_OK &&
                   Call(d, L"CloseTextFileForWriting", DISPATCH_METHOD, {}) == S_OK,
               row);
         SysFreeString(name);
         SysFreeString(line);
         char buffer[64] = {};
         FILE* f = _wfopen(text.c_str(), L"rb");
         if (f) fread(buffer, 1, sizeof buffer - 1, f), fclose(f);
         CHECK(std::string(buffer).rfind("written through COM", 0) == 0, row + ": " + buffer);
       }},
      {"a failing member reports its number and description",
       [&](const std::string& row) {
         IDispatch* none = nullptr;
         EXCEPINFO e{};
         CHECK(Call(d, L"TextFromGroupShape", DISPATCH_METHOD, {Ref(VT_DISPATCH, &none)}, nullptr, &e) == DISP_E_EXCEPTION &&
                   e.scode == static_cast<SCODE>(0x800A0000u | quorvane::failure::kObjectNotSet) && e.bstrDescription,
               row + " through IDispatch");
         SysFreeString(e.bstrDescription);
         SysFreeString(e.bstrSource);
         _QuorvaneX* dual = nullptr;
         ISupportErrorInfo* support = nullptr;
         IErrorInfo* info = nullptr;
         BSTR result = nullptr, description = nullptr;
         d->QueryInterface(G(ti::kQuorvaneXInterface.iid), reinterpret_cast<void**>(&dual));
         d->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support));
         CHECK(dual && support && support->InterfaceSupportsErrorInfo(G(ti::kQuorvaneXInterface.iid)) == S_OK, row);
         if (!dual || !support) return;
         const HRESULT hr = dual->TextFromGroupShape(&none, &result);
         CHECK(hr == static_cast<HRESULT>(0x800A0000u | quorvane::failure::kObjectNotSet) && GetErrorInfo(0, &info) == S_OK &&
                   info && SUCCEEDED(info->GetDescription(&description)) && SysStringLen(description) > 0,
               row + " through the vtable");
         SysFreeString(description);
         if (info) info->Release();
         dual->Release();
         support->Release();
       }},
      {"UserControl_Terminate turns OptimizeForSpeed off",
       [&](const std::string& row) {
         Call(d, L"OptimizeForSpeed", DISPATCH_PROPERTYPUT, {Long(-1)});
         CHECK(Call(d, L"UserControl_Terminate", DISPATCH_METHOD, {}) == S_OK && GetLong(d, L"OptimizeForSpeed") == 0, row);
       }},
  };
  for (const Row& row : rows) row.run(row.name);
}

// --- Events through the connection point ------------------------------------------------------
void CheckEvents(IDispatch* d, const std::wstring& folder) {
  IConnectionPointContainer* container = nullptr;
  IConnectionPoint* point = nullptr;
  IProvideClassInfo2* classInfo = nullptr;
  d->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  d->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&classInfo));
  GUID source{};
  CHECK(classInfo && classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source) == S_OK &&
            source == G(ti::kQuorvaneXEvents.iid),
        "the default source is __QuorvaneX");
  CHECK(container && container->FindConnectionPoint(source, &point) == S_OK, "connection point of __QuorvaneX");
  if (!point) return;
  Sink sink;
  DWORD cookie = 0;
  CHECK(point->Advise(&sink, &cookie) == S_OK && cookie != 0, "Advise");
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
    Call(d, L"InputFile", DISPATCH_PROPERTYPUT, {Str(row.input.c_str())});
    Call(d, L"OutputFile", DISPATCH_PROPERTYPUT, {Str((folder + L"\\deck.txt").c_str())});
    Call(d, L"TargetFileType", DISPATCH_PROPERTYPUT, {Long(200)});
    const LONG code = GetLong(d, L"ConvertFile", DISPATCH_METHOD);
    CHECK((code < 0) == row.fails && (sink.progress > 0) != row.fails && sink.errors == (row.fails ? 1 : 0), row.name);
    if (row.fails) CHECK(sink.number == code && GetText(d, L"ErrorString") == u"rewritten by the sink", row.name);
  }
  CHECK(point->Unadvise(cookie) == S_OK && point->Unadvise(cookie) == CONNECT_E_NOCONNECTION, "Unadvise");
  sink.errors = 0;
  GetLong(d, L"ConvertFile", DISPATCH_METHOD);
  CHECK(sink.errors == 0, "no events after Unadvise");
  point->Release();
  container->Release();
  classInfo->Release();
}

int RunChecks(const std::wstring& path) {
  HMODULE ocx = LoadLibraryW(path.c_str());
  CHECK(ocx != nullptr, "LoadLibrary");
  if (!ocx) return 1;
  CheckRegistration(ocx, path);
  CheckTypeLibrary(path);
  const EntryPoint canUnload = Export(ocx, "DllCanUnloadNow");
  const std::wstring folder = TempFolder();

  CLSID clsid{};
  CHECK(CLSIDFromProgID(L"Quorvane.QuorvaneX", &clsid) == S_OK && clsid == G(ti::kQuorvaneXClass.clsid), "ProgID");
  CHECK(CLSIDFromProgID(L"Quorvane.QuorvaneX.4", &clsid) == S_OK && clsid == G(ti::kQuorvaneXClass.clsid), "versioned ProgID");
  IDispatch* d = nullptr;
  CHECK(CoCreateInstance(G(ti::kQuorvaneXClass.clsid), nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                         reinterpret_cast<void**>(&d)) == S_OK, "created by CLSID");
  if (!d) return 1;
  CHECK(canUnload() == S_FALSE, "DllCanUnloadNow while a control lives");
  IUnknown* identity = nullptr;
  d->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
  for (const auto& alias : ti::kQuorvaneXAliases) {
    IUnknown* other = nullptr;
    CHECK(d->QueryInterface(G(alias.iid), reinterpret_cast<void**>(&other)) == S_OK && other == d, Narrow(alias.name));
    if (other) other->Release();
  }
  CheckMembers(d, folder);
  CheckEvents(d, folder);
  CheckContainer(identity);
  identity->Release();
  d->Release();
  CHECK(canUnload() == S_OK, "DllCanUnloadNow after the last release");

  IClassFactory* factory = nullptr;
  CoGetClassObject(G(ti::kQuorvaneXClass.clsid), CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                   reinterpret_cast<void**>(&factory));
  CHECK(factory && factory->LockServer(TRUE) == S_OK, "LockServer");
  if (factory) {
    factory->Release();
    CHECK(canUnload() == S_FALSE, "DllCanUnloadNow while locked");
    factory->LockServer(FALSE);
    CHECK(canUnload() == S_OK, "DllCanUnloadNow after unlocking");
  }
  std::printf("%s: %d failure(s)\n", failures ? "FAILED" : "ok", failures);
  return failures ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"deck") {
    WriteDeck(Narrow(U16(argv[2])));
    return 0;
  }
  if (argc != 2) {
    std::printf("usage: quorvane_com_host <Quorvane.ocx> | deck <path.pptx>\n");
    return 2;
  }
  OleInitialize(nullptr);
  const int status = RunChecks(argv[1]);
  OleUninitialize();
  return status;
}
