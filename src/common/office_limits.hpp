#pragma once
// The process's office limits (quorvane/office_limits.hpp): what was set, and how a field that was
// not set is taken from the environment.
#include "quorvane/office_limits.hpp"

namespace quorvane::office_limits {

inline constexpr const char* kMemoryVariable = "QUORVANE_RENDER_MEMORY_MIB";
inline constexpr const char* kBaseDeadlineVariable = "QUORVANE_RENDER_TIMEOUT_SECONDS";
inline constexpr const char* kSlideAllowanceVariable = "QUORVANE_RENDER_SLIDE_MILLISECONDS";

// The largest values the environment may give: 1 TiB, a day, an hour per slide.
inline constexpr unsigned long long kMaxMemoryMib = 1ull << 20;
inline constexpr unsigned long long kMaxBaseSeconds = 86400;
inline constexpr unsigned long long kMaxSlideMilliseconds = 3'600'000;

// Every field of `set` that is 0 taken from its variable's text (a whole number from 1 to the
// largest above; anything else counts as unset), else from the default.
OfficeLimits Resolve(const OfficeLimits& set, const char* memoryMib, const char* baseSeconds,
                     const char* slideMilliseconds);

// Counts an office start (OfficesStarted).
void CountOfficeStart() noexcept;

}  // namespace quorvane::office_limits
