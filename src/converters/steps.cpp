#include "converters/steps.hpp"

#include <exception>
#include <new>
#include <utility>

#include "common/text.hpp"
#include "converters/context.hpp"

namespace quorvane::converters {

Failure CurrentFailure() {
  try {
    throw;
  } catch (const AutomationError& e) {
    return {e.number(), e.description()};
  } catch (const std::bad_alloc&) {
    return {7, u"Out of memory"};
  } catch (const std::exception& e) {
    return {failure::kInvalidCall, text::FromUtf8(e.what())};
  } catch (...) {
    return {failure::kInvalidCall, u"Invalid procedure call or argument"};
  }
}

void NormalizeSlideRange(Settings& settings, office::ppt::Presentation& presentation) {
  if (settings.StartSlide > settings.EndSlide) std::swap(settings.StartSlide, settings.EndSlide);
  if (settings.StartSlide < 1) settings.StartSlide = 1;
  const std::int32_t n = presentation.Slides()->Count();
  if (settings.EndSlide > n || settings.EndSlide < 1) settings.EndSlide = n;
}

float ProgressStep(std::int32_t startSlide, std::int32_t endSlide) {
  std::int32_t difference = 0, count = 0;
  if (__builtin_sub_overflow(endSlide, startSlide, &difference) || __builtin_add_overflow(difference, 1, &count))
    throw AutomationError(failure::kOverflow, u"Overflow");
  if (count == 0) throw AutomationError(failure::kDivisionByZero, u"Division by zero");
  return 100.0f / static_cast<float>(count);
}

std::u16string WithoutExtension(std::u16string_view base, std::u16string_view extension) {
  const std::u16string suffix = u"." + std::u16string(extension);
  if (extension.empty() || base.size() < suffix.size()) return std::u16string(base);
  if (!text::EqualsIgnoreCase(base.substr(base.size() - suffix.size()), suffix)) return std::u16string(base);
  return std::u16string(base.substr(0, base.size() - suffix.size()));
}

}  // namespace quorvane::converters
