#pragma once
// How a converter runs: its work as a sequence of steps, and one failure path that decides, per
// failure, whether the run ends (the converter reports, cleans up and returns its code), whether
// the failed step is performed again, or whether it is skipped and the run carries on.
//
// A converter writes its body as calls of Steps::Run, each with one unit of work (one request of
// the object model, or a few that stand or fall together). The path it gives Steps sees every
// failure of a step exactly once. Anything a step throws becomes a Failure: an AutomationError
// keeps its number and description; out of memory is 7; any other exception is 5 with its text.
//
// Repetition is bounded: a step is tried at most kMaxTries times. When the path asks to repeat a
// step that has had its tries, the path's `giveUp` (its last row: the generic failure) handles the
// failure instead, and the run ends.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "quorvane/automation_error.hpp"

namespace quorvane::converters {

struct Failure {
  std::int32_t number = 0;
  std::u16string description;
};

enum class Resolution {
  End,     // the path reported; the run ends and the converter cleans up
  Repeat,  // perform the failed step again
  Skip,    // carry on after the failed step
};

// Thrown out of Steps::Run when the run ends; the converter catches it once, around its body.
struct RunEnded {
  Failure failure;  // the failure that ended the run, as it entered the path
};

// What any exception escaping a step means as a failure.
Failure CurrentFailure();

class Steps {
 public:
  static constexpr int kMaxTries = 3;

  struct Path {
    // Reports as its row says and decides. Runs once per failure of a step.
    std::function<Resolution(const Failure&)> resolve;
    // The last row, for a step that failed its last try while its row would repeat it.
    std::function<void(const Failure&)> giveUp;
  };

  explicit Steps(Path path) : path_(std::move(path)) {}

  // Performs `step` under the failure path. Returns normally when the step succeeded or was
  // skipped; throws RunEnded when the run ends. A failure inside the path itself propagates
  // unchanged (it is not handled there).
  template <typename Fn>
  void Run(Fn&& step) {
    for (int tries = 1;; ++tries) {
      Failure failure;
      try {
        std::forward<Fn>(step)();
        return;
      } catch (...) {
        failure = CurrentFailure();
      }
      switch (path_.resolve(failure)) {
        case Resolution::Skip:
          return;
        case Resolution::Repeat:
          if (tries < kMaxTries) continue;
          path_.giveUp(failure);
          throw RunEnded{std::move(failure)};
        case Resolution::End:
          throw RunEnded{std::move(failure)};
      }
    }
  }

 private:
  Path path_;
};

// The progress step of a range: 100 / (endSlide - startSlide + 1) in single precision. The
// difference is 32-bit arithmetic that fails with run-time error 6 on overflow; a range of no
// slides fails with run-time error 11.
float ProgressStep(std::int32_t startSlide, std::int32_t endSlide);

// The file name of slide `slide` in the per-slide modes: `base` without the extension `extension`
// when it ends with "." and that extension (compared without regard to case), so that
// "deck.pptx" and "deck" both give "deck"; nothing else is removed.
std::u16string WithoutExtension(std::u16string_view base, std::u16string_view extension);

}  // namespace quorvane::converters
