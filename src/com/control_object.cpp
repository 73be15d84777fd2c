// The control as a COM object: the dual interface _QuorvaneX (its vtable forwards to QuorvaneX,
// its dispatch goes through the control's dispatch surface), the connection point of __QuorvaneX,
// class information, error information and what a container needs to place it: an OLE object that
// activates in place in a child window, keeps the size of its picture box, draws its bitmap and
// persists nothing.
#include "com/control_object.hpp"

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "com/office_automation.hpp"
#include "com/variant_bridge.hpp"
#include "common/dispatch_support.hpp"
#include "control/dispatch_surface.hpp"
#include "office/object_model.hpp"
#include "quorvane_h.h"

namespace quorvane::com {

const DWORD kControlMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                 OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;

namespace {

using typeinfo::MemberKind;

const GUID kClsid = ToGuid(typeinfo::kQuorvaneXClass.clsid);
const GUID kIid = ToGuid(typeinfo::kQuorvaneXInterface.iid);
const GUID kDiid = ToGuid(typeinfo::kQuorvaneXEvents.iid);

bool IsControlInterface(REFIID iid) {
  return typeinfo::FindInterface(FromGuid(iid)) == &typeinfo::kQuorvaneXInterface;
}

// The failure of a call as the platform's error object, and the HRESULT that stands for it.
HRESULT ReportFailure(const ExcepInfo& failure) {
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    create->SetGUID(kIid);
    create->SetSource(const_cast<LPOLESTR>(L"Quorvane.QuorvaneX"));
    std::wstring text(failure.description.begin(), failure.description.end());
    create->SetDescription(const_cast<LPOLESTR>(text.c_str()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return FailureToHResult(failure.number);
}

template <typename F>
HRESULT Guarded(F&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (...) {
    ExcepInfo failure;
    detail::CurrentExceptionToExcepInfo(&failure);
    try {
      return ReportFailure(failure);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
}

// A BSTR passed by reference: read on entry, written back (when changed) however the call ends.
class InOutBstr {
 public:
  explicit InOutBstr(BSTR* p) : p_(p), value_(p ? FromBstr(*p) : std::u16string()) {}
  InOutBstr(const InOutBstr&) = delete;
  InOutBstr& operator=(const InOutBstr&) = delete;
  ~InOutBstr() {
    if (!p_ || FromBstr(*p_) == value_) return;
    if (BSTR fresh = SysAllocStringLen(reinterpret_cast<const wchar_t*>(value_.data()), static_cast<UINT>(value_.size()))) {
      SysFreeString(*p_);
      *p_ = fresh;
    }
  }
  std::u16string& value() { return value_; }

 private:
  BSTR* p_;
  std::u16string value_;
};

// Script hosts pass their variables as references to variants (VT_BYREF | VT_VARIANT) whatever
// the declared type. The dispatch surface takes a reference only of the declared type, so such an
// argument is coerced into a value of that type here, passed by reference, and written back into
// the script's variant after the call.
class ScriptArguments final : public Dispatch {
 public:
  explicit ScriptArguments(Dispatch& target) : target_(target) {}

  HResult GetIDOfName(std::u16string_view name, DispId& id) override { return target_.GetIDOfName(name, id); }

  HResult Invoke(DispId id, std::uint16_t kind, std::span<Variant> args, Variant* result, ExcepInfo* excep) override {
    const typeinfo::MemberInfo* member = Select(id, kind);
    if (!member || member->params.size() != args.size()) return target_.Invoke(id, kind, args, result, excep);
    struct Cell {
      Variant* script = nullptr;
      std::int32_t i4 = 0;
      VariantBool b = 0;
      std::u16string s;
      Variant::DispatchPtr d;
    };
    std::vector<Cell> cells(args.size());
    std::vector<Variant> passed(args.begin(), args.end());
    for (std::size_t i = 0; i < args.size(); ++i) {
      const typeinfo::ParamInfo& param = member->params[i];
      if (!param.byRef || param.type == quorvane::VT_VARIANT || args[i].vt() != (quorvane::VT_BYREF | quorvane::VT_VARIANT))
        continue;
      Variant coerced;
      if (const HResult hr = detail::ChangeType(*args[i].ref<Variant>(), param.type, coerced); hr < 0) return hr;
      Cell& cell = cells[i];
      switch (param.type) {
        case quorvane::VT_I4: cell.i4 = static_cast<std::int32_t>(coerced.integer()); passed[i] = Variant::ByRef(&cell.i4); break;
        case quorvane::VT_BOOL: cell.b = coerced.boolean(); passed[i] = Variant::ByRefBool(&cell.b); break;
        case quorvane::VT_BSTR: cell.s = coerced.string(); passed[i] = Variant::ByRef(&cell.s); break;
        case quorvane::VT_DISPATCH: cell.d = coerced.dispatch(); passed[i] = Variant::ByRef(&cell.d); break;
        default: continue;
      }
      cell.script = args[i].ref<Variant>();
    }
    const HResult hr = target_.Invoke(id, kind, passed, result, excep);
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (!cells[i].script) continue;
      switch (member->params[i].type) {
        case quorvane::VT_I4: *cells[i].script = Variant(cells[i].i4); break;
        case quorvane::VT_BOOL: *cells[i].script = Variant::Bool(cells[i].b); break;
        case quorvane::VT_BSTR: *cells[i].script = Variant(cells[i].s); break;
        default: *cells[i].script = Variant(cells[i].d); break;
      }
    }
    return hr;
  }

 private:
  static const typeinfo::MemberInfo* Select(DispId id, std::uint16_t kind) {
    const auto& iface = typeinfo::kQuorvaneXInterface;
    if (kind == DISPATCH_PROPERTYPUT) return typeinfo::FindMember(iface, id, MemberKind::PropertyPut);
    const typeinfo::MemberInfo* m = nullptr;
    if (kind & DISPATCH_METHOD) m = typeinfo::FindMember(iface, id, MemberKind::Method);
    if (!m && (kind & DISPATCH_PROPERTYGET)) m = typeinfo::FindMember(iface, id, MemberKind::PropertyGet);
    return m;
  }

  Dispatch& target_;
};

const wchar_t kWindowClass[] = L"QuorvaneXPictureBox";

void DrawPicture(HDC dc, const RECT& bounds) {
  const auto& bmp = QuorvaneX::DesignTimeBitmap();
  BITMAPFILEHEADER file;
  std::memcpy(&file, bmp.data(), sizeof file);
  const auto* info = reinterpret_cast<const BITMAPINFO*>(bmp.data() + sizeof file);
  StretchDIBits(dc, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, 0, 0,
                info->bmiHeader.biWidth, info->bmiHeader.biHeight, bmp.data() + file.bfOffBits, info, DIB_RGB_COLORS,
                SRCCOPY);
}

LRESULT CALLBACK PictureBoxProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    DrawPicture(dc, client);
    EndPaint(window, &paint);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

ATOM PictureBoxClass() {
  static const ATOM atom = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = PictureBoxProc;
    wc.hInstance = ThisModule();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kWindowClass;
    return RegisterClassW(&wc);
  }();
  return atom;
}

// A snapshot enumerator (IEnumConnectionPoints, IEnumConnections): it holds a reference to each
// item it was made with, and hands out a new one with each item it returns.
void Hold(IConnectionPoint* point) { point->AddRef(); }
void Drop(IConnectionPoint* point) { point->Release(); }
void Hold(const CONNECTDATA& connection) { connection.pUnk->AddRef(); }
void Drop(const CONNECTDATA& connection) { connection.pUnk->Release(); }

template <typename Enum, typename Item, const IID& kIid>
class Enumerator final : public Enum {
 public:
  explicit Enumerator(std::vector<Item> items, std::size_t at = 0) : items_(std::move(items)), at_(at) {
    for (const Item& item : items_) Hold(item);
    ModuleAddRef();
  }
  Enumerator(const Enumerator&) = delete;
  Enumerator& operator=(const Enumerator&) = delete;
  virtual ~Enumerator() {
    for (const Item& item : items_) Drop(item);
    ModuleRelease();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = (iid == IID_IUnknown || iid == kIid) ? this : nullptr;
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    for (; n < count && at_ < items_.size(); ++n, ++at_) {
      out[n] = items_[at_];
      Hold(out[n]);
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const std::size_t left = items_.size() - at_;
    at_ += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    at_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(Enum** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) Enumerator(items_, at_);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  std::atomic<ULONG> references_{1};
  std::vector<Item> items_;
  std::size_t at_;
};

class ControlObject;

// The control's one connection point, for __QuorvaneX. It lives inside the control and shares its
// reference count.
class EventsPoint final : public IConnectionPoint {
 public:
  EventsPoint(ControlObject& owner, detail::ControlDispatch& dispatch) : owner_(owner), dispatch_(dispatch) {}
  EventsPoint(const EventsPoint&) = delete;
  EventsPoint& operator=(const EventsPoint&) = delete;
  virtual ~EventsPoint() {
    for (const CONNECTDATA& connection : connections_) Drop(connection);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
    if (!iid) return E_POINTER;
    *iid = kDiid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    IDispatch* events = nullptr;
    if (FAILED(sink->QueryInterface(kDiid, reinterpret_cast<void**>(&events))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&events))))
      return CONNECT_E_CANNOTCONNECT;
    HRESULT hr = S_OK;
    try {
      connections_.reserve(connections_.size() + 1);
      *cookie = dispatch_.AdviseEvents(DispatchFromCom(events));
      connections_.push_back(CONNECTDATA{sink, *cookie});
      Hold(connections_.back());
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
    events->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
    if (!dispatch_.UnadviseEvents(cookie)) return CONNECT_E_NOCONNECTION;
    for (auto it = connections_.begin(); it != connections_.end(); ++it)
      if (it->dwCookie == cookie) {
        Drop(*it);
        connections_.erase(it);
        break;
      }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) Enumerator<IEnumConnections, CONNECTDATA, IID_IEnumConnections>(connections_);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ControlObject& owner_;
  detail::ControlDispatch& dispatch_;
  std::vector<CONNECTDATA> connections_;  // each sink held once, as advised
};

class ControlObject final : public _QuorvaneX,
                            public IConnectionPointContainer,
                            public IProvideClassInfo2,
                            public ISupportErrorInfo,
                            public IOleObject,
                            public IOleInPlaceObject,
                            public IViewObject2,
                            public IPersistStreamInit,
                            public IPersistPropertyBag {
 public:
  ControlObject()
      : control_(std::make_shared<QuorvaneX>(ApplicationsForControl())),
        dispatch_(control_),
        script_(dispatch_),
        events_(*this, dispatch_) {
    ModuleAddRef();
  }
  ControlObject(const ControlObject&) = delete;
  ControlObject& operator=(const ControlObject&) = delete;
  virtual ~ControlObject() {
    DestroyPictureBox();
    if (site_) site_->Release();
    if (viewSink_) viewSink_->Release();
    if (adviseHolder_) adviseHolder_->Release();
    ModuleRelease();
  }

  // --- IUnknown ---------------------------------------------------------------------------
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || IsControlInterface(iid)) *out = static_cast<_QuorvaneX*>(this);
    else if (iid == IID_IConnectionPointContainer) *out = static_cast<IConnectionPointContainer*>(this);
    else if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2) *out = static_cast<IProvideClassInfo2*>(this);
    else if (iid == IID_ISupportErrorInfo) *out = static_cast<ISupportErrorInfo*>(this);
    else if (iid == IID_IOleObject) *out = static_cast<IOleObject*>(this);
    else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject) *out = static_cast<IOleInPlaceObject*>(this);
    else if (iid == IID_IViewObject || iid == IID_IViewObject2) *out = static_cast<IViewObject2*>(this);
    else if (iid == IID_IPersist || iid == IID_IPersistStreamInit) *out = static_cast<IPersistStreamInit*>(this);
    else if (iid == IID_IPersistPropertyBag) *out = static_cast<IPersistPropertyBag*>(this);
    else return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // --- IDispatch --------------------------------------------------------------------------
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return LibraryTypeInfo(kIid, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return GetIDsOfNamesFromCom(script_, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* argErr) override {
    EXCEPINFO local{};
    EXCEPINFO* info = excep ? excep : &local;
    const HRESULT hr = InvokeFromCom(script_, id, flags, params, result, info, argErr);
    if (hr == DISP_E_EXCEPTION) {
      Guarded([&] { ReportFailure(ExcepInfo{0, FromBstr(info->bstrDescription)}); });
      if (!excep) ReadExcepInfo(local);
    }
    return hr;
  }

  // --- _QuorvaneX -------------------------------------------------------------------------
  HRESULT STDMETHODCALLTYPE UserControl_Terminate() override {
    return Guarded([&] { control_->UserControl_Terminate(); });
  }
  HRESULT STDMETHODCALLTYPE get_OptimizeForSpeed(VARIANT_BOOL* r) override {
    return Get(r, [&] { return control_->get_OptimizeForSpeed(); });
  }
  HRESULT STDMETHODCALLTYPE put_OptimizeForSpeed(VARIANT_BOOL v) override {
    return Guarded([&] { control_->put_OptimizeForSpeed(v); });
  }
  HRESULT STDMETHODCALLTYPE get_InputFile(BSTR* r) override { return GetText(r, [&] { return control_->get_InputFile(); }); }
  HRESULT STDMETHODCALLTYPE put_InputFile(BSTR v) override { return Guarded([&] { control_->put_InputFile(FromBstr(v)); }); }
  HRESULT STDMETHODCALLTYPE get_OutputFile(BSTR* r) override { return GetText(r, [&] { return control_->get_OutputFile(); }); }
  HRESULT STDMETHODCALLTYPE put_OutputFile(BSTR v) override { return Guarded([&] { control_->put_OutputFile(FromBstr(v)); }); }
  HRESULT STDMETHODCALLTYPE get_TargetFileType(LONG* r) override {
    return Get(r, [&] { return control_->get_TargetFileType(); });
  }
  HRESULT STDMETHODCALLTYPE put_TargetFileType(LONG v) override { return Guarded([&] { control_->put_TargetFileType(v); }); }
  HRESULT STDMETHODCALLTYPE get_StartSlide(LONG* r) override { return Get(r, [&] { return control_->get_StartSlide(); }); }
  HRESULT STDMETHODCALLTYPE put_StartSlide(LONG v) override { return Guarded([&] { control_->put_StartSlide(v); }); }
  HRESULT STDMETHODCALLTYPE get_EndSlide(LONG* r) override { return Get(r, [&] { return control_->get_EndSlide(); }); }
  HRESULT STDMETHODCALLTYPE put_EndSlide(LONG v) override { return Guarded([&] { control_->put_EndSlide(v); }); }
  HRESULT STDMETHODCALLTYPE get_MultiFileOutput(VARIANT_BOOL* r) override {
    return Get(r, [&] { return control_->get_MultiFileOutput(); });
  }
  HRESULT STDMETHODCALLTYPE put_MultiFileOutput(VARIANT_BOOL v) override {
    return Guarded([&] { control_->put_MultiFileOutput(v); });
  }
  HRESULT STDMETHODCALLTYPE get_ShowSlideAndShapeNumber(VARIANT_BOOL* r) override {
    return Get(r, [&] { return control_->get_ShowSlideAndShapeNumber(); });
  }
  HRESULT STDMETHODCALLTYPE put_ShowSlideAndShapeNumber(VARIANT_BOOL v) override {
    return Guarded([&] { control_->put_ShowSlideAndShapeNumber(v); });
  }
  HRESULT STDMETHODCALLTYPE get_PercentageComplete(FLOAT* r) override {
    return Get(r, [&] { return control_->get_PercentageComplete(); });
  }
  HRESULT STDMETHODCALLTYPE get_ErrorString(BSTR* r) override { return GetText(r, [&] { return control_->get_ErrorString(); }); }
  HRESULT STDMETHODCALLTYPE put_ErrorString(BSTR v) override { return Guarded([&] { control_->put_ErrorString(FromBstr(v)); }); }
  HRESULT STDMETHODCALLTYPE PowerPointVersion(BSTR* sPowerPointVersion, DOUBLE* r) override {
    if (!sPowerPointVersion) return E_POINTER;
    InOutBstr text(sPowerPointVersion);
    return Get(r, [&] { return control_->PowerPointVersion(text.value()); });
  }
  HRESULT STDMETHODCALLTYPE FileTypeSupportsSingleFileOutput(LONG* lFiletype, VARIANT_BOOL* r) override {
    if (!lFiletype) return E_POINTER;
    std::int32_t type = *lFiletype;
    const HRESULT hr = Get(r, [&] { return control_->FileTypeSupportsSingleFileOutput(type); });
    *lFiletype = type;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetAllPossibleErrorsCount(LONG* r) override {
    return Get(r, [&] { return control_->GetAllPossibleErrorsCount(); });
  }
  HRESULT STDMETHODCALLTYPE GetErrorString(VARIANT* intErrorNumber, BSTR* r) override {
    if (!intErrorNumber) return E_POINTER;
    Variant number;
    if (const HRESULT hr = FromVariant(*intErrorNumber, number); FAILED(hr)) return hr;
    const Variant before = number;
    const HRESULT hr = GetText(r, [&] { return control_->GetErrorString(number); });
    if (!(number == before) && !(V_VT(intErrorNumber) & VT_BYREF)) ToVariant(number, *intErrorNumber);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE get_lNumberOfFileTypes(VARIANT* r) override {
    if (!r) return E_POINTER;
    VariantInit(r);
    return Guarded([&] { ToVariant(control_->get_lNumberOfFileTypes(), *r); });
  }
  HRESULT STDMETHODCALLTYPE GetFileType(LONG lExtindex, BSTR* sFileType, LONG* lFiletype, VARIANT_BOOL* r) override {
    if (!sFileType || !lFiletype) return E_POINTER;
    InOutBstr type(sFileType);
    std::int32_t code = *lFiletype;
    const HRESULT hr = Get(r, [&] { return control_->GetFileType(lExtindex, type.value(), code); });
    *lFiletype = code;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LookUpSaveAsExtension(LONG* lFiletype, VARIANT_BOOL* bIncludeWildCard, BSTR* r) override {
    if (!lFiletype || !bIncludeWildCard) return E_POINTER;
    std::int32_t code = *lFiletype;
    VariantBool wildcard = *bIncludeWildCard;
    const HRESULT hr = GetText(r, [&] { return control_->LookUpSaveAsExtension(code, wildcard); });
    *lFiletype = code;
    *bIncludeWildCard = wildcard;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE ConvertFile(LONG* r) override { return Get(r, [&] { return control_->ConvertFile(); }); }
  HRESULT STDMETHODCALLTYPE get_IncludeNotes(VARIANT_BOOL* r) override {
    return Get(r, [&] { return control_->get_IncludeNotes(); });
  }
  HRESULT STDMETHODCALLTYPE put_IncludeNotes(VARIANT_BOOL v) override { return Guarded([&] { control_->put_IncludeNotes(v); }); }
  HRESULT STDMETHODCALLTYPE get_NotesOnly(VARIANT_BOOL* r) override { return Get(r, [&] { return control_->get_NotesOnly(); }); }
  HRESULT STDMETHODCALLTYPE put_NotesOnly(VARIANT_BOOL v) override { return Guarded([&] { control_->put_NotesOnly(v); }); }
  HRESULT STDMETHODCALLTYPE TextFromGroupShape(IDispatch** oSh, BSTR* r) override {
    if (!oSh) return E_POINTER;
    Variant::DispatchPtr shape = DispatchFromCom(*oSh);
    const Variant::DispatchPtr before = shape;
    const HRESULT hr = GetText(r, [&] { return control_->TextFromGroupShape(shape); });
    if (shape != before) {
      IDispatch* fresh = shape ? MakeComDispatch(shape) : nullptr;
      if (*oSh) (*oSh)->Release();
      *oSh = fresh;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE OpenTextFileForWriting(BSTR* sOutputFileName) override {
    if (!sOutputFileName) return E_POINTER;
    InOutBstr name(sOutputFileName);
    return Guarded([&] { control_->OpenTextFileForWriting(name.value()); });
  }
  HRESULT STDMETHODCALLTYPE CloseTextFileForWriting() override {
    return Guarded([&] { control_->CloseTextFileForWriting(); });
  }
  HRESULT STDMETHODCALLTYPE WriteToTextFile(BSTR* Value) override {
    if (!Value) return E_POINTER;
    InOutBstr text(Value);
    return Guarded([&] { control_->WriteToTextFile(text.value()); });
  }
  HRESULT STDMETHODCALLTYPE PowerPointVersionAtLeast2010(VARIANT_BOOL* r) override {
    return Get(r, [&] { return control_->PowerPointVersionAtLeast2010(); });
  }
  HRESULT STDMETHODCALLTYPE PowerPointVersionAtLeast2007(VARIANT_BOOL* r) override {
    return Get(r, [&] { return control_->PowerPointVersionAtLeast2007(); });
  }

  // --- IConnectionPointContainer -----------------------------------------------------------
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) Enumerator<IEnumConnectionPoints, IConnectionPoint*, IID_IEnumConnectionPoints>({&events_});
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != kDiid) return CONNECT_E_NOCONNECTION;
    *out = &events_;
    AddRef();
    return S_OK;
  }

  // --- IProvideClassInfo2 ------------------------------------------------------------------
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return LibraryTypeInfo(kClsid, out);
  }
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* out) override {
    if (!out) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *out = kDiid;
    return S_OK;
  }

  // --- ISupportErrorInfo -------------------------------------------------------------------
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return (iid == IID_IDispatch || IsControlInterface(iid)) ? S_OK : S_FALSE;
  }

  // --- IOleObject --------------------------------------------------------------------------
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
    if (site) site->AddRef();
    if (site_) site_->Release();
    site_ = site;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** out) override {
    if (!out) return E_POINTER;
    *out = site_;
    if (site_) site_->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Close(DWORD) override {
    InPlaceDeactivate();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) override {
    switch (verb) {
      case OLEIVERB_PRIMARY:
      case OLEIVERB_SHOW:
      case OLEIVERB_INPLACEACTIVATE:
      case OLEIVERB_UIACTIVATE:
        return ActivateInPlace(site ? site : site_);
      case OLEIVERB_HIDE:
        if (window_) ShowWindow(window_, SW_HIDE);
        return S_OK;
      default:
        return verb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
    }
  }
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** out) override { return OleRegEnumVerbs(kClsid, out); }
  HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* out) override { return GetClassID(out); }
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* out) override { return OleRegGetUserType(kClsid, form, out); }
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    const SIZE asked = HimetricToPixels(*size);
    control_->Resize(asked.cx, asked.cy);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    *size = PixelsToHimetric(SIZE{control_->get_Width(), control_->get_Height()});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* cookie) override {
    if (!adviseHolder_ && FAILED(CreateOleAdviseHolder(&adviseHolder_))) return E_OUTOFMEMORY;
    return adviseHolder_->Advise(sink, cookie);
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
    return adviseHolder_ ? adviseHolder_->Unadvise(cookie) : OLE_E_NOCONNECTION;
  }
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    return adviseHolder_ ? adviseHolder_->EnumAdvise(out) : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override {
    if (!status) return E_POINTER;
    *status = aspect == DVASPECT_CONTENT ? kControlMiscStatus : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // --- IOleInPlaceObject -------------------------------------------------------------------
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* out) override {
    if (!out) return E_POINTER;
    *out = window_;
    return window_ ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override {
    if (!inPlaceSite_) return S_OK;
    DestroyPictureBox();
    IOleInPlaceSite* site = inPlaceSite_;
    inPlaceSite_ = nullptr;
    site->OnInPlaceDeactivate();
    site->Release();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE UIDeactivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT) override {
    if (!position) return E_POINTER;
    control_->Resize(position->right - position->left, position->bottom - position->top);
    Place(*position);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return E_NOTIMPL; }

  // --- IViewObject2 ------------------------------------------------------------------------
  HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                                 BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!dc || !bounds) return E_INVALIDARG;
    DrawPicture(dc, RECT{bounds->left, bounds->top, bounds->right, bounds->bottom});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** out) override {
    if (out) *out = nullptr;
    return S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override { return OLE_E_NOCONNECTION; }
  HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override {
    if (sink) sink->AddRef();
    if (viewSink_) viewSink_->Release();
    viewSink_ = sink;
    viewAspects_ = aspects;
    viewFlags_ = flags;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override {
    if (aspects) *aspects = viewAspects_;
    if (flags) *flags = viewFlags_;
    if (sink) {
      *sink = viewSink_;
      if (viewSink_) viewSink_->AddRef();
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override {
    return GetExtent(aspect, size);
  }

  // --- IPersistStreamInit, IPersistPropertyBag: nothing is kept -------------------------------
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* out) override {
    if (!out) return E_POINTER;
    *out = kClsid;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE Load(LPSTREAM) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Save(LPSTREAM, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override {
    if (!size) return E_POINTER;
    size->QuadPart = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InitNew() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag*, IErrorLog*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag*, BOOL, BOOL) override { return S_OK; }

 private:
  template <typename T, typename F>
  HRESULT Get(T* out, F&& read) {
    if (!out) return E_POINTER;
    *out = T{};
    return Guarded([&] { *out = static_cast<T>(read()); });
  }
  template <typename F>
  HRESULT GetText(BSTR* out, F&& read) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return Guarded([&] { *out = ToBstr(read()); });
  }

  static HRESULT LibraryTypeInfo(REFGUID guid, ITypeInfo** out) {
    ITypeLib* library = ModuleTypeLibrary();
    return library ? library->GetTypeInfoOfGuid(guid, out) : TYPE_E_CANTLOADLIBRARY;
  }

  static SIZE HimetricToPixels(const SIZEL& himetric) {
    HDC screen = GetDC(nullptr);
    const SIZE px{MulDiv(himetric.cx, GetDeviceCaps(screen, LOGPIXELSX), 2540),
                  MulDiv(himetric.cy, GetDeviceCaps(screen, LOGPIXELSY), 2540)};
    ReleaseDC(nullptr, screen);
    return px;
  }
  static SIZEL PixelsToHimetric(const SIZE& px) {
    HDC screen = GetDC(nullptr);
    const SIZEL himetric{MulDiv(px.cx, 2540, GetDeviceCaps(screen, LOGPIXELSX)),
                         MulDiv(px.cy, 2540, GetDeviceCaps(screen, LOGPIXELSY))};
    ReleaseDC(nullptr, screen);
    return himetric;
  }

  HRESULT ActivateInPlace(IOleClientSite* clientSite) {
    if (inPlaceSite_) return S_OK;
    if (!clientSite) return E_INVALIDARG;
    IOleInPlaceSite* site = nullptr;
    if (FAILED(clientSite->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site)))) return E_NOINTERFACE;
    if (site->CanInPlaceActivate() != S_OK) {
      site->Release();
      return E_FAIL;
    }
    site->OnInPlaceActivate();
    HWND parent = nullptr;
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = nullptr;
    RECT position{}, clip{};
    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof frameInfo;
    if (FAILED(site->GetWindow(&parent)) ||
        FAILED(site->GetWindowContext(&frame, &document, &position, &clip, &frameInfo))) {
      site->OnInPlaceDeactivate();
      site->Release();
      return E_FAIL;
    }
    if (frame) frame->Release();
    if (document) document->Release();
    PictureBoxClass();
    window_ = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, position.left, position.top,
                              control_->get_Width(), control_->get_Height(), parent, nullptr, ThisModule(), nullptr);
    if (!window_) {
      site->OnInPlaceDeactivate();
      site->Release();
      return HRESULT_FROM_WIN32(GetLastError());
    }
    inPlaceSite_ = site;
    control_->Resize(position.right - position.left, position.bottom - position.top);
    Place(position);
    return S_OK;
  }

  // Moves the window to `asked`'s corner at the control's own size, and tells the container when
  // that is not the rectangle it asked for.
  void Place(const RECT& asked) {
    const RECT kept{asked.left, asked.top, asked.left + control_->get_Width(), asked.top + control_->get_Height()};
    if (window_) MoveWindow(window_, kept.left, kept.top, kept.right - kept.left, kept.bottom - kept.top, TRUE);
    if (inPlaceSite_ && !EqualRect(&kept, &asked)) inPlaceSite_->OnPosRectChange(&kept);
  }

  void DestroyPictureBox() {
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
  }

  friend class EventsPoint;

  std::atomic<ULONG> references_{1};
  std::shared_ptr<QuorvaneX> control_;
  detail::ControlDispatch dispatch_;
  ScriptArguments script_;
  EventsPoint events_;
  IOleClientSite* site_ = nullptr;
  IOleInPlaceSite* inPlaceSite_ = nullptr;
  IOleAdviseHolder* adviseHolder_ = nullptr;
  IAdviseSink* viewSink_ = nullptr;
  DWORD viewAspects_ = 0, viewFlags_ = 0;
  HWND window_ = nullptr;
};

HRESULT EventsPoint::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IConnectionPoint) {
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}
ULONG EventsPoint::AddRef() { return owner_.AddRef(); }
ULONG EventsPoint::Release() { return owner_.Release(); }
HRESULT EventsPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (!out) return E_POINTER;
  *out = static_cast<IConnectionPointContainer*>(&owner_);
  owner_.AddRef();
  return S_OK;
}

}  // namespace

HRESULT CreateControl(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ControlObject* control = nullptr;
  try {
    control = new ControlObject();
  } catch (...) {
    ExcepInfo failure;
    detail::CurrentExceptionToExcepInfo(&failure);
    return ReportFailure(failure);
  }
  const HRESULT hr = control->QueryInterface(iid, out);
  control->Release();
  return hr;
}

}  // namespace quorvane::com
