// The in-process server: the entry points the platform calls, the class factory, and the
// registration of the class and its type library, for the machine when the caller may write there,
// else for the current user.
#include <atomic>
#include <string>

#include "com/control_object.hpp"
#include "com/variant_bridge.hpp"

// In the system's automation library, but not declared by every edition of its headers.
extern "C" HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* helpFolder);
extern "C" HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libid, WORD major, WORD minor, LCID lcid, SYSKIND kind);

namespace quorvane::com {
namespace {

HMODULE module = nullptr;

const GUID kClsid = ToGuid(typeinfo::kQuorvaneXClass.clsid);
const GUID kLibid = ToGuid(typeinfo::kLibrary.libid);

constexpr wchar_t kProgId[] = L"Quorvane.QuorvaneX";
constexpr wchar_t kVersionedProgId[] = L"Quorvane.QuorvaneX.4";
constexpr wchar_t kClassName[] = L"QuorvaneX";

class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is static; a reference to it keeps the module loaded.
  ULONG STDMETHODCALLTYPE AddRef() override {
    ModuleAddRef();
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    ModuleRelease();
    return 1;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateControl(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) ModuleAddRef();
    else ModuleRelease();
    return S_OK;
  }
};

ClassFactory factory;

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring GuidText(const GUID& g) {
  wchar_t text[40] = {};
  StringFromGUID2(g, text, 40);
  return text;
}

// Writes `value` as the default value (or the named one) of `key` under `root`, creating the key.
LSTATUS SetValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle = nullptr;
  LSTATUS status = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return status;
}

HRESULT RegisterClasses(HKEY classes) {
  const std::wstring path = ModulePath();
  if (path.empty()) return HRESULT_FROM_WIN32(GetLastError());
  const std::wstring clsid = L"CLSID\\" + GuidText(kClsid);
  const std::wstring misc = std::to_wstring(kControlMiscStatus);
  const struct {
    std::wstring key;
    const wchar_t* name;
    std::wstring value;
  } entries[] = {
      {clsid, nullptr, kClassName},
      {clsid + L"\\InprocServer32", nullptr, path},
      {clsid + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {clsid + L"\\ProgID", nullptr, kVersionedProgId},
      {clsid + L"\\VersionIndependentProgID", nullptr, kProgId},
      {clsid + L"\\Control", nullptr, L""},
      {clsid + L"\\ToolboxBitmap32", nullptr, path + L", 1"},
      {clsid + L"\\MiscStatus", nullptr, L"0"},
      {clsid + L"\\MiscStatus\\1", nullptr, misc},
      {clsid + L"\\TypeLib", nullptr, GuidText(kLibid)},
      {clsid + L"\\Version", nullptr, L"4.7"},
      {kProgId, nullptr, kClassName},
      {std::wstring(kProgId) + L"\\CLSID", nullptr, GuidText(kClsid)},
      {std::wstring(kProgId) + L"\\CurVer", nullptr, kVersionedProgId},
      {kVersionedProgId, nullptr, kClassName},
      {std::wstring(kVersionedProgId) + L"\\CLSID", nullptr, GuidText(kClsid)},
  };
  for (const auto& entry : entries)
    if (const LSTATUS status = SetValue(classes, entry.key, entry.name, entry.value); status != ERROR_SUCCESS)
      return HRESULT_FROM_WIN32(status);
  return S_OK;
}

void RemoveClasses(HKEY classes) {
  const std::wstring keys[] = {L"CLSID\\" + GuidText(kClsid), kProgId, kVersionedProgId};
  for (const auto& key : keys) RegDeleteTreeW(classes, key.c_str());
}

// Where classes are registered: the machine's when this process may write there, else the user's.
bool MachineWide() {
  HKEY handle = nullptr;
  const LSTATUS status =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_CREATE_SUB_KEY | KEY_SET_VALUE, &handle);
  if (status == ERROR_SUCCESS) RegCloseKey(handle);
  return status == ERROR_SUCCESS;
}

HRESULT OpenClasses(bool machine, HKEY& classes) {
  const LSTATUS status = RegCreateKeyExW(machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, L"Software\\Classes", 0,
                                         nullptr, 0, KEY_ALL_ACCESS, nullptr, &classes, nullptr);
  return HRESULT_FROM_WIN32(status);
}

}  // namespace

HMODULE ThisModule() { return module; }

ITypeLib* ModuleTypeLibrary() {
  static ITypeLib* const library = [] {
    ITypeLib* loaded = nullptr;
    const std::wstring path = ModulePath();
    if (path.empty() || FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &loaded))) return static_cast<ITypeLib*>(nullptr);
    return loaded;  // kept for the life of the process
  }();
  return library;
}

}  // namespace quorvane::com

using namespace quorvane::com;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  // Thread notifications stay on: the static runtime's thread-local storage needs them.
  if (reason == DLL_PROCESS_ATTACH) module = instance;
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != kClsid) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return ModuleReferences() == 0 ? S_OK : S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  ITypeLib* library = ModuleTypeLibrary();
  if (!library) return TYPE_E_CANTLOADLIBRARY;
  const bool machine = MachineWide();
  HKEY classes = nullptr;
  if (const HRESULT hr = OpenClasses(machine, classes); FAILED(hr)) return hr;
  HRESULT hr = RegisterClasses(classes);
  RegCloseKey(classes);
  if (FAILED(hr)) return hr;
  std::wstring path = ModulePath();
  hr = machine ? RegisterTypeLib(library, path.data(), nullptr) : RegisterTypeLibForUser(library, path.data(), nullptr);
  if (FAILED(hr)) DllUnregisterServer();
  return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  const auto& lib = quorvane::typeinfo::kLibrary;
  for (const bool machine : {true, false}) {
    if (machine && !MachineWide()) continue;
    HKEY classes = nullptr;
    if (FAILED(OpenClasses(machine, classes))) continue;
    RemoveClasses(classes);
    RegCloseKey(classes);
    if (machine) UnRegisterTypeLib(kLibid, lib.majorVersion, lib.minorVersion, lib.lcid, SYS_WIN64);
    else UnRegisterTypeLibForUser(kLibid, lib.majorVersion, lib.minorVersion, lib.lcid, SYS_WIN64);
  }
  return S_OK;
}
