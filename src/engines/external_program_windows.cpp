// On Windows the component runs no programs of its own: the formats that need one (XPS, the
// slide show video) come from PowerPoint there, and the native engines refuse them.
#include "engines/external_program.hpp"

#include "common/failures.hpp"
#include "common/text.hpp"
#include "quorvane/automation_error.hpp"

namespace quorvane::engines::external_program {

void Run(const Program& program, const std::vector<std::string>&, std::chrono::milliseconds, const std::string&) {
  throw AutomationError(failure::kRpcServerUnavailable,
                        u"Cannot make " + text::FromUtf8(program.purpose) + u": the component runs no \"" +
                            text::FromUtf8(program.name) +
                            u"\" on Windows; PowerPoint writes this format where it is installed.");
}

}  // namespace quorvane::engines::external_program
