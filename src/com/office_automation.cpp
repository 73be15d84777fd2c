// PowerPoint and Word as local automation servers, with the native engines behind them.
#include "com/office_automation.hpp"

#include "com/variant_bridge.hpp"
#include "com/windows_api.hpp"
#include "common/failures.hpp"
#include "office/late_bound.hpp"

namespace quorvane::com {
namespace {

// The class registered under `progId`, or nothing when the office is not installed.
std::optional<CLSID> RegisteredClass(std::u16string_view progId) {
  const std::wstring name(progId.begin(), progId.end());
  CLSID clsid{};
  if (FAILED(::CLSIDFromProgID(name.c_str(), &clsid))) return std::nullopt;
  return clsid;
}

std::u16string SystemMessage(HRESULT hr) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string message;
  if (n > 0 && text != nullptr) message.assign(text, text + n);
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == u'\n' || message.back() == u'\r' || message.back() == u' '))
    message.pop_back();
  return message;
}

// A new instance of the local server registered under `progId`, driven through IDispatch.
std::shared_ptr<Dispatch> CreateLocalServer(std::u16string_view progId) {
  const std::optional<CLSID> clsid = RegisteredClass(progId);
  const std::u16string name(progId);
  if (!clsid) throw AutomationError(failure::kCannotCreateObject, u"\"" + name + u"\" is not registered.");
  IDispatch* object = nullptr;
  const HRESULT hr = ::CoCreateInstance(*clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                        reinterpret_cast<void**>(&object));
  if (FAILED(hr) || object == nullptr) {
    char16_t code[16];
    const auto value = static_cast<unsigned long>(hr);
    for (int i = 7; i >= 0; --i) code[7 - i] = u"0123456789ABCDEF"[(value >> (4 * i)) & 0xF];
    code[8] = u'\0';
    throw AutomationError(failure::kCannotCreateObject, u"\"" + name + u"\" cannot be created (0x" +
                                                            std::u16string(code) + u" " + SystemMessage(hr) + u").");
  }
  std::shared_ptr<Dispatch> result = DispatchFromCom(object);
  object->Release();
  return result;
}

class OfficeOrNative final : public office::ApplicationProvider {
 public:
  OfficeOrNative()
      : office_(office::LateBoundApplications(&CreateLocalServer)), native_(office::DefaultApplicationProvider()) {}

  std::shared_ptr<office::ppt::Application> CreatePowerPoint() override {
    return RegisteredClass(u"PowerPoint.Application") ? office_->CreatePowerPoint() : native_->CreatePowerPoint();
  }
  std::shared_ptr<office::word::Application> CreateWord() override {
    return RegisteredClass(u"Word.Application") ? office_->CreateWord() : native_->CreateWord();
  }

 private:
  std::shared_ptr<office::ApplicationProvider> office_;
  std::shared_ptr<office::ApplicationProvider> native_;
};

}  // namespace

std::shared_ptr<office::ApplicationProvider> ApplicationsForControl() { return std::make_shared<OfficeOrNative>(); }

}  // namespace quorvane::com
