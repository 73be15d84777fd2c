// What the programs of every platform share.
#include "engines/external_program.hpp"

#include "quorvane/office_limits.hpp"

namespace quorvane::engines::external_program {

std::chrono::milliseconds DeadlineFor(std::size_t slides) {
  const OfficeLimits limits = GetOfficeLimits();
  return limits.baseDeadline + limits.perSlide * static_cast<std::int64_t>(slides);
}

}  // namespace quorvane::engines::external_program
