// A stand-in for the office's automation servers, for the tests of the Windows component's
// outbound path: one local server program registered as "PowerPoint.Application" and
// "Word.Application" that answers with the native engines, late-bound, across the process boundary
// as the office does.
//   office_server /RegServer     registers both classes for this program, then exits
//   office_server /RegBroken     registers them for a program that is not there (a broken install)
//   office_server /UnregServer   removes them
//   office_server -Embedding     started by COM: serves until its last object is released
// Each creation makes a new application of the native engines, all in this one process, so that
// a slide PowerPoint copies is on the clipboard Word pastes from. The process ends a moment after
// its last object and its last lock are gone.
#include "com/variant_bridge.hpp"
#include "com/windows_api.hpp"
#include "engines/word/engine.hpp"
#include "office/object_dispatch.hpp"

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

using namespace quorvane;

// The stand-in's own classes: never the office's identifiers.
constexpr CLSID kPowerPointClass = {0x6a1e3c52, 0x8d0f, 0x4b7e, {0x9a, 0x51, 0x2c, 0x6e, 0x10, 0xd4, 0x7b, 0x01}};
constexpr CLSID kWordClass = {0x6a1e3c52, 0x8d0f, 0x4b7e, {0x9a, 0x51, 0x2c, 0x6e, 0x10, 0xd4, 0x7b, 0x02}};

struct Served {
  const CLSID& clsid;
  const wchar_t* progId;
  const wchar_t* description;
};
constexpr Served kServed[] = {
    {kPowerPointClass, L"PowerPoint.Application", L"Presentation engine stand-in"},
    {kWordClass, L"Word.Application", L"Document engine stand-in"},
};

DWORD mainThread = 0;
bool served = false;  // an application was handed out

// Ends the message loop once nothing is served any more.
void QuitWhenIdle() {
  if (served && com::ModuleReferences() == 0) ::PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
}

// One line per application made, in office_server.log beside the program, so that a test can
// tell that its conversions crossed over to this process.
void NoteCreation(const wchar_t* progId) {
  wchar_t program[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring log(program, n);
  log = log.substr(0, log.find_last_of(L"\\/") + 1) + L"office_server.log";
  if (FILE* f = ::_wfopen(log.c_str(), L"a")) {
    std::fprintf(f, "%ls\n", progId);
    std::fclose(f);
  }
}

class Factory final : public IClassFactory {
 public:
  explicit Factory(bool powerPoint) : powerPoint_(powerPoint) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // The factories live as long as the program: COM's references to them do not keep it alive.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    try {
      const auto engines = office::DefaultApplicationProvider();
      served = true;
      NoteCreation(powerPoint_ ? L"PowerPoint.Application" : L"Word.Application");
      // The Word stand-in itself, also where it could not draw a pasted slide (no renderer here):
      // text and notes it writes on its own.
      std::shared_ptr<Dispatch> application = powerPoint_
                                                  ? office::DispatchPowerPoint(engines->CreatePowerPoint())
                                                  : office::DispatchWord(engines::word::CreateApplication());
      IDispatch* object = com::MakeComDispatch(std::move(application));
      const HRESULT hr = object->QueryInterface(iid, out);
      object->Release();
      return hr;
    } catch (...) {
      return E_FAIL;
    }
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      com::ModuleAddRef();
    } else {
      com::ModuleRelease();
      QuitWhenIdle();
    }
    return S_OK;
  }

 private:
  bool powerPoint_;
};

std::wstring GuidText(const CLSID& clsid) {
  wchar_t text[40];
  ::StringFromGUID2(clsid, text, 40);
  return text;
}

// The classes of the machine where the process may write them (as Wine's processes may), else the
// user's own.
HKEY ClassesRoot() {
  HKEY h = nullptr;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_WRITE, &h) == ERROR_SUCCESS) {
    ::RegCloseKey(h);
    return HKEY_CLASSES_ROOT;
  }
  return HKEY_CURRENT_USER;
}

std::wstring ClassesKey() { return ClassesRoot() == HKEY_CLASSES_ROOT ? L"" : L"Software\\Classes\\"; }

bool SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY h = nullptr;
  if (::RegCreateKeyExW(ClassesRoot(), key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr) != ERROR_SUCCESS)
    return false;
  const LONG rc = ::RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(h);
  return rc == ERROR_SUCCESS;
}

int Register(bool broken) {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring program(path, n);
  if (broken) program = program.substr(0, program.find_last_of(L"\\/") + 1) + L"no-such-office.exe";
  for (const Served& entry : kServed) {
    const std::wstring classes = ClassesKey();
    const std::wstring clsid = GuidText(entry.clsid);
    const bool ok = SetValue(classes + L"CLSID\\" + clsid, nullptr, entry.description) &&
                    SetValue(classes + L"CLSID\\" + clsid + L"\\LocalServer32", nullptr, program) &&
                    SetValue(classes + L"CLSID\\" + clsid + L"\\ProgID", nullptr, entry.progId) &&
                    SetValue(classes + entry.progId, nullptr, entry.description) &&
                    SetValue(classes + entry.progId + L"\\CLSID", nullptr, clsid);
    if (!ok) return 1;
  }
  return 0;
}

int Unregister() {
  for (const Served& entry : kServed) {
    const std::wstring classes = ClassesKey();
    ::RegDeleteTreeW(ClassesRoot(), (classes + L"CLSID\\" + GuidText(entry.clsid)).c_str());
    ::RegDeleteTreeW(ClassesRoot(), (classes + entry.progId).c_str());
  }
  return 0;
}

int Serve() {
  mainThread = ::GetCurrentThreadId();
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  static Factory powerPoint(true), word(false);
  DWORD cookies[2] = {};
  ::CoRegisterClassObject(kPowerPointClass, &powerPoint, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookies[0]);
  ::CoRegisterClassObject(kWordClass, &word, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookies[1]);
  // Whatever happens, a server nobody uses does not stay: checked twice a second.
  ::SetTimer(nullptr, 0, 500, nullptr);
  int idleTicks = 0;
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER) {
      idleTicks = com::ModuleReferences() == 0 ? idleTicks + 1 : 0;
      // A moment after the last client let go; ten seconds when none ever came.
      if (idleTicks >= (served ? 2 : 20)) break;
      continue;
    }
    ::DispatchMessageW(&message);
  }
  for (DWORD cookie : cookies) ::CoRevokeClassObject(cookie);
  ::CoUninitialize();
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    const wchar_t* arg = argv[i];
    if (*arg == L'/' || *arg == L'-') ++arg;
    if (::_wcsicmp(arg, L"RegServer") == 0) return Register(false);
    if (::_wcsicmp(arg, L"RegBroken") == 0) return Register(true);
    if (::_wcsicmp(arg, L"UnregServer") == 0) return Unregister();
  }
  return Serve();
}
