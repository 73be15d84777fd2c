// The control object: path trimming, progress events and sinks, resizing, termination, and refusals
// from inside an event handler.
#include <gtest/gtest.h>

#include <vector>

#include "control/control.hpp"
#include "quorvane/control.hpp"

namespace quorvane {
namespace {

TEST(Control, ConvertFileAndTerminateFromAnEventHandlerAreRefused) {
  QuorvaneX x;
  struct Reentrant : QuorvaneXEvents {
    void onerror(std::int32_t&, std::u16string&) override {
      for (auto* refused : {&convert, &terminate}) try {
          refused == &convert ? (void)control->ConvertFile() : control->UserControl_Terminate();
        } catch (const AutomationError& e) {
          *refused = e.number();
        }
    }
    QuorvaneX* control = nullptr;
    std::int32_t convert = 0, terminate = 0;
  };
  auto sink = std::make_shared<Reentrant>();
  sink->control = &x;
  x.Advise(sink);
  x.ConvertFile();  // fails (no input) and reports
  EXPECT_EQ(sink->convert, failure::kInvalidCall);
  EXPECT_EQ(sink->terminate, failure::kInvalidCall);
  EXPECT_EQ(x.get_OptimizeForSpeed(), kVariantTrue);
  EXPECT_NO_THROW(x.ConvertFile());
}

}  // namespace
}  // namespace quorvane
