// A C++ host of the control: embed INPUT OUTPUT [TYPE] converts one presentation (TYPE a code of
// `quorvane formats`, 32 = PDF by default) and shows the control's events as they come.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include <quorvane/control.hpp>
#include <quorvane/utf.hpp>

// The control raises its events synchronously, on the thread that called ConvertFile.
class Events : public quorvane::QuorvaneXEvents {
 public:
  explicit Events(const quorvane::QuorvaneX& control) : control_(control) {}
  void Progress() override { std::cerr << "progress " << control_.get_PercentageComplete() << "%\n"; }
  void onerror(std::int32_t& intErrorNumber, std::u16string& strErrorText) override {
    std::cerr << "error " << intErrorNumber << ": " << quorvane::Utf16ToUtf8(strErrorText) << "\n";
  }

 private:
  const quorvane::QuorvaneX& control_;
};

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: embed INPUT OUTPUT [TYPE]\n";
    return 64;
  }
  quorvane::QuorvaneX control;
  control.Advise(std::make_shared<Events>(control));
  control.put_InputFile(quorvane::Utf8ToUtf16(argv[1]));
  control.put_OutputFile(quorvane::Utf8ToUtf16(argv[2]));
  control.put_TargetFileType(argc > 3 ? std::atoi(argv[3]) : 32);
  control.put_IncludeNotes(quorvane::kVariantTrue);
  try {
    const std::int32_t result = control.ConvertFile();  // 0, or a code of `quorvane errors`
    return result == 0 ? 0 : 1;
  } catch (const quorvane::AutomationError& failure) {  // a failed automation call
    std::cerr << "failed: " << quorvane::Utf16ToUtf8(failure.description()) << "\n";
    return 70;
  }
}
