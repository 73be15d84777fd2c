#pragma once
// What the converter tests share: a scripted office holding the input deck, a control on it whose
// events are recorded, and a scratch folder that is also the diagnostic log's folder.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/numbered_files.hpp"
#include "control/control.hpp"
#include "diagnostics/log.hpp"
#include "support/fixtures.hpp"
#include "support/scripted_office.hpp"

namespace quorvane::testing {

class ConverterTest : public ::testing::Test {
 protected:
  ConverterTest() { diagnostics::SetLogFolderForTesting(text::FromUtf8(dir_.path().string())); }
  ~ConverterTest() override {
    control_.reset();
    diagnostics::SetLogFolderForTesting(std::nullopt);
    files::Close(diagnostics::kLogFileNumber);
  }

  // A fresh office holding `deck` under `input`, no log, and a control on that office set to convert
  // `input` to `code` into `output`.
  QuorvaneX* Fresh(const Deck& deck, std::int32_t code, std::u16string output, VariantBool optimize = kVariantTrue,
                   std::u16string input = u"/in/deck.pptx") {
    control_.reset();
    std::filesystem::remove(dir_ / "Quorvane.log");
    office_ = std::make_shared<ScriptedOffice>();
    office_->AddFile(input, deck);
    control_ = std::make_unique<QuorvaneX>(office_);
    detail::Control& c = control_->internal();  // unlike the setters, keeps names as given
    c.InputFile = std::move(input);
    c.OutputFile = std::move(output);
    c.TargetFileType = code;
    c.OptimizeForSpeed = optimize;
    control_->Advise(events_ = std::make_shared<EventRecorder>(*control_));
    return control_.get();
  }
  std::size_t CountOf(std::string_view prefix) const { return office_->Log(prefix).size(); }
  std::vector<std::string> Logged() const { return LogMessages(dir_ / "Quorvane.log"); }

  TempFolder dir_;
  std::shared_ptr<ScriptedOffice> office_;
  std::unique_ptr<QuorvaneX> control_;
  std::shared_ptr<EventRecorder> events_;
};

}  // namespace quorvane::testing
