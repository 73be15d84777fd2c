#include "quorvane/automation_error.hpp"

#include "common/text.hpp"

namespace quorvane {

AutomationError::AutomationError(std::int32_t number, std::u16string description)
    : std::runtime_error("automation error " + std::to_string(number) +
                         (description.empty() ? std::string() : ": " + text::ToUtf8(description))),
      number_(number),
      description_(std::move(description)) {}

}  // namespace quorvane
