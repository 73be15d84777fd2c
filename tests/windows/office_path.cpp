// The Windows component driving an office through automation, run under Wine: the stand-in
// server (office_server) registered as PowerPoint and Word, the control created from
// Quorvane.ocx, every conversion run twice, once through the stand-in in its own process and once
// with it unregistered, when the control's native engines answer in the host's process. The two
// must agree on everything a host sees: result, ErrorString and the file written.
// Paths beyond ASCII reach the system as UTF-16, and the failures of the picture export (which the
// Windows build's native engines cannot draw) are logged beside Quorvane.ocx.
//   office_path <office_server.exe> <golden folder> <work folder> <Quorvane.ocx>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "deckmaker/decks.hpp"

#include <windows.h>
#include <ole2.h>

namespace {

int failures = 0;
void Check(bool ok, const std::string& row, const std::string& what, int line) {
  if (ok) return;
  ++failures;
  std::printf("FAILED [%s] line %d: %s\n", row.c_str(), line, what.c_str());
}
#define CHECK(cond, row) Check((cond), (row), #cond, __LINE__)

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Utf8(const std::wstring& s) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// Runs `command` and waits for it; its exit code.
DWORD Run(std::wstring command) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return 0xFFFFFFFF;
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return code;
}

// The control, late-bound, as a script holds it.
class Control {
 public:
  Control() {
    CLSID clsid{};
    if (SUCCEEDED(::CLSIDFromProgID(L"Quorvane.QuorvaneX", &clsid)))
      ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d_));
  }
  ~Control() {
    if (d_) d_->Release();
  }
  explicit operator bool() const { return d_ != nullptr; }

  void Put(const wchar_t* name, VARIANT value) {
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &put, 1, 1};
    Invoke(name, DISPATCH_PROPERTYPUT, params, nullptr);
    ::VariantClear(&value);
  }
  void Put(const wchar_t* name, const std::wstring& text) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = ::SysAllocString(text.c_str());
    Put(name, v);
  }
  void Put(const wchar_t* name, LONG number) {
    VARIANT v;
    ::VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = number;
    Put(name, v);
  }
  VARIANT Get(const wchar_t* name, WORD flags = DISPATCH_PROPERTYGET) {
    VARIANT result;
    ::VariantInit(&result);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Invoke(name, flags, none, &result);
    return result;
  }

 private:
  void Invoke(const wchar_t* name, WORD flags, DISPPARAMS& params, VARIANT* result) {
    DISPID id = 0;
    LPOLESTR n = const_cast<LPOLESTR>(name);
    if (FAILED(d_->GetIDsOfNames(IID_NULL, &n, 1, 0, &id))) return;
    EXCEPINFO excep{};
    d_->Invoke(id, IID_NULL, 0, flags, &params, result, &excep, nullptr);
    ::SysFreeString(excep.bstrDescription);
    ::SysFreeString(excep.bstrSource);
    ::SysFreeString(excep.bstrHelpFile);
  }
  IDispatch* d_ = nullptr;
};

struct Conversion {
  const char* row;
  const wchar_t* input;  // in the work folder
  const wchar_t* output;
  LONG type;
  LONG start, end;
  bool numbers, notes, notesOnly;
  const char* golden;  // the Linux build's text of the same conversion, or null
};

// What a host sees of one conversion.
struct Seen {
  LONG result = 0x7fffffff;
  std::wstring error;
  std::string bytes;
};

Seen Convert(const Conversion& c, const std::wstring& work) {
  Control control;
  Seen seen;
  if (!control) return seen;
  const std::wstring output = work + L"\\" + c.output;
  ::DeleteFileW(output.c_str());
  control.Put(L"InputFile", work + L"\\" + c.input);
  control.Put(L"OutputFile", output);
  control.Put(L"TargetFileType", c.type);
  control.Put(L"StartSlide", c.start);
  control.Put(L"EndSlide", c.end);
  control.Put(L"ShowSlideAndShapeNumber", c.numbers ? -1 : 0);
  control.Put(L"IncludeNotes", c.notes ? -1 : 0);
  control.Put(L"NotesOnly", c.notesOnly ? -1 : 0);
  VARIANT result = control.Get(L"ConvertFile", DISPATCH_METHOD);
  seen.result = V_VT(&result) == VT_I4 ? V_I4(&result) : 0x7ffffffe;
  VARIANT error = control.Get(L"ErrorString");
  if (V_VT(&error) == VT_BSTR && V_BSTR(&error)) seen.error = V_BSTR(&error);
  ::VariantClear(&error);
  seen.bytes = ReadBytes(output);
  return seen;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    std::printf("usage: office_path <office_server.exe> <golden folder> <work folder> <Quorvane.ocx>\n");
    return 2;
  }
  const std::wstring server = argv[1], golden = argv[2], work = argv[3], ocx = argv[4];
  const std::wstring logFile = ocx.substr(0, ocx.find_last_of(L"\\/") + 1) + L"Quorvane.log";
  ::DeleteFileW(logFile.c_str());
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  quorvane::engines::pptx::builder::WriteSample(Utf8(work + L"\\sample.pptx"));
  std::ofstream(std::filesystem::path(work + L"\\damaged.pptx"), std::ios::binary) << "PK\x03\x04 not a presentation";
  {
    using namespace quorvane::engines::pptx::builder;
    DeckPlan ansi;
    SlidePlan slide;
    slide.shapes.push_back(Title(u"Gr\u00f6\u00dfe \u65e5\u672c"));
    ansi.slides.push_back(slide);
    Write(ansi, Utf8(work + L"\\ansi.pptx"));
  }
  ::CopyFileW((work + L"\\sample.pptx").c_str(), (work + L"\\Pr\u00e4sentation \u65e5\u672c.pptx").c_str(), FALSE);
  const std::wstring log = server.substr(0, server.find_last_of(L"\\/") + 1) + L"office_server.log";
  ::DeleteFileW(log.c_str());

  const Conversion conversions[] = {
      {"text with notes and numbers", L"sample.pptx", L"sample.txt", 107, 0, 0, true, true, false,
       "107-numbers-notes.txt"},
      {"a name beyond ASCII", L"Pr\u00e4sentation \u65e5\u672c.pptx", L"Text \u00fc\u00df \u65e5\u672c.txt", 107, 0, 0,
       true, true, false, "107-numbers-notes.txt"},
      {"text in the ANSI code page", L"ansi.pptx", L"ansi.txt", 200, 0, 0, false, false, false, nullptr},
      {"pictures, which need the renderer", L"sample.pptx", L"slides.png", 18, 0, 0, false, false, false, nullptr},
      {"notes only", L"sample.pptx", L"notes.txt", 107, 0, 0, true, true, true, "107-numbers-notesonly.txt"},
      {"slides 2 to 3 with labels", L"sample.pptx", L"range.pptx", 24, 2, 3, true, false, false, nullptr},
      {"notes through Word", L"sample.pptx", L"notes.rtf", 106, 0, 0, false, true, true, nullptr},
      {"a damaged deck", L"damaged.pptx", L"damaged.txt", 107, 0, 0, false, false, false, nullptr},
      {"a missing deck", L"missing.pptx", L"missing.txt", 24, 0, 0, false, false, false, nullptr},
  };
  std::vector<Seen> outOfProcess;
  // First an office registered but not installed (before any stand-in runs, which would answer in
  // its place): creation fails with 429, which the control reports as PowerPoint missing.
  Run(L"\"" + server + L"\" /RegBroken");
  const Seen broken = Convert(conversions[0], work);
  CHECK(broken.result == -12, "a broken install");
  CHECK(broken.error == L"Unable to create PowerPoint application...is it installed?", "a broken install");
  if (broken.result != -12) std::printf("  [a broken install] %ld \"%ls\"\n", broken.result, broken.error.c_str());
  Check(Run(L"\"" + server + L"\" /RegServer") == 0, "register", "the stand-in registers", __LINE__);
  for (const Conversion& c : conversions) outOfProcess.push_back(Convert(c, work));
  Check(Run(L"\"" + server + L"\" /UnregServer") == 0, "unregister", "the stand-in unregisters", __LINE__);
  const std::string served = ReadBytes(log);
  CHECK(served.find("PowerPoint.Application") != std::string::npos, "stand-in");
  CHECK(served.find("Word.Application") != std::string::npos, "stand-in");

  for (std::size_t i = 0; i < std::size(conversions); ++i) {
    const Conversion& c = conversions[i];
    const Seen& office = outOfProcess[i];
    const Seen native = Convert(c, work);
    const int before = failures;
    // The in-process Word stand-in needs the renderer, which the Windows build has not: there the
    // document comes from the stand-in server alone.
    if (c.type < 100 || c.type > 199) {
      CHECK(office.result == native.result, c.row);
      CHECK(office.error == native.error, c.row);
    }
    if (c.golden != nullptr) {
      CHECK(office.result == 0, c.row);
      CHECK(office.bytes == ReadBytes(golden + L"\\sample\\" + std::wstring(c.golden, c.golden + strlen(c.golden))),
            c.row);
    } else if (c.type == 24 && office.result == 0) {
      // The saved deck's text through the native engine: two slides, labelled.
      const Conversion back{c.row, c.output, L"range.txt", 107, 0, 0, false, false, false, nullptr};
      const Seen text = Convert(back, work);
      CHECK(text.result == 0, c.row);
      CHECK(text.bytes.find(std::string("S\0l\0i\0d\0e\0(\0\x33\0", 16)) == std::string::npos, c.row);
    } else if (c.type == 200) {
      CHECK(office.result == 0 && office.bytes == native.bytes, c.row);
      // Windows-1252, as a Western system has it: what the code page lacks becomes "?".
      if (::GetACP() == 1252) CHECK(office.bytes.find("Gr\xF6\xDF" "e ??\r\n") != std::string::npos, c.row);
    } else if (c.type == 106) {
      CHECK(office.result == 0, c.row);
      CHECK(native.result == -14, c.row);
      CHECK(office.bytes.starts_with("{\\rtf1"), c.row);
      CHECK(office.bytes.find("Notes of the text slide") != std::string::npos, c.row);
    } else {
      CHECK(office.result < 0, c.row);
      CHECK(!office.error.empty(), c.row);
    }
    if (failures != before)
      std::printf("  [%s] through the office: %ld \"%ls\"; in process: %ld \"%ls\"\n", c.row, office.result,
                  office.error.c_str(), native.result, native.error.c_str());
  }
  // A line per failed picture or text export, each "DD-MMM-YYYY, <time> : <number> - <description>".
  const std::string logText = ReadBytes(logFile);
  int lines = 0;
  for (std::size_t at = 0, end; (end = logText.find("\r\n", at)) != std::string::npos; at = end + 2, ++lines) {
    const std::string line = logText.substr(at, end - at);
    CHECK(line.size() > 14 && line[2] == '-' && line[6] == '-' && line.substr(11, 2) == ", " &&
              line.find(" : ") != std::string::npos && line.find(" - ", line.find(" : ")) != std::string::npos,
          "log line " + line);
  }
  CHECK(lines >= 4, "log");  // the pictures and the damaged deck, each twice
  ::CoUninitialize();
  std::printf("%s: %d failure(s)\n", failures ? "FAILED" : "passed", failures);
  return failures ? 1 : 0;
}
