#include "control/control.hpp"

#include "common/text.hpp"

namespace quorvane::detail {

Control::Control(std::shared_ptr<office::ApplicationProvider> provider)
    : Applications(provider ? std::move(provider) : office::DefaultApplicationProvider(), *this),
      TextWriter(TargetFileType) {}

Control::~Control() {
  // Ending the control ends the applications it keeps. Nothing may escape a destructor: a failure
  // to end them has been reported through onerror already.
  try {
    UserControl_Terminate();
  } catch (...) {
  }
}

void Control::put_InputFile(std::u16string_view value) { InputFile = text::TrimSpaces(value); }
void Control::put_OutputFile(std::u16string_view value) { OutputFile = text::TrimSpaces(value); }

std::uint32_t Control::Advise(std::shared_ptr<QuorvaneXEvents> sink) {
  if (!sink) return 0;
  const std::uint32_t cookie = nextCookie_++;
  sinks_.push_back({cookie, std::move(sink)});
  return cookie;
}

bool Control::Unadvise(std::uint32_t cookie) {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->cookie == cookie) {
      sinks_.erase(it);
      return true;
    }
  }
  return false;
}

// Handlers may advise or unadvise sinks while an event is being raised: each event goes to the
// sinks advised when it was raised.
void Control::RaiseProgress() {
  const auto sinks = sinks_;
  for (const auto& s : sinks) s.sink->Progress();
}

void Control::RaiseOnError(std::int32_t& intErrorNumber, std::u16string& strErrorText) {
  const auto sinks = sinks_;
  for (const auto& s : sinks) s.sink->onerror(intErrorNumber, strErrorText);
}

void Control::SetPercentageComplete(float value) {
  PercentageComplete = value;
  RaiseProgress();
}

void Control::AdvanceProgress(float step) {
  const float p = PercentageComplete + step;
  SetPercentageComplete(p >= 100.0f ? 100.0f : p);
}

void Control::UserControl_Terminate() {
  if (converting_)
    throw AutomationError(failure::kInvalidCall, u"UserControl_Terminate cannot be called while a conversion runs.");
  OptimizeForSpeed = kVariantFalse;
  QuitPowerPoint();
  QuitWord();
}

void Control::Resize(std::int32_t width, std::int32_t height) {
  // The container's size request is noted, then the control takes its picture box's size again.
  Width = width;
  Height = height;
  Width = kPicPFXWidth;
  Height = kPicPFXHeight;
}

}  // namespace quorvane::detail
