#pragma once
// Running conversions through the control: one input or a batch, on one or more worker threads.
//
// Each worker thread creates a control of its own and converts the inputs it takes from the shared
// queue in turn, on that one control: the control belongs to the thread that created it, and with
// OptimizeForSpeed true its engines stay warm from one input to the next. The results are handed to
// the caller in input order, each as soon as it and every input before it have finished, whatever
// the order in which the workers finish them. With several workers the largest inputs are taken first.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "quorvane/catalog.hpp"
#include "quorvane/output_options.hpp"
#include "status_line.hpp"

namespace quorvane::cli {

// The control's properties that are the same for every input of a run.
struct ConversionSettings {
  std::int32_t targetFileType = 6;
  std::int32_t startSlide = 0;
  std::int32_t endSlide = 0;
  bool multiFileOutput = false;
  bool showSlideAndShapeNumber = false;
  bool includeNotes = false;
  bool notesOnly = false;
  bool optimizeForSpeed = true;
  OutputOptions output;  // checked already (OutputOptionsProblem)
};

struct ConversionJob {
  std::string input;       // as the user named it (what messages and results show)
  std::string inputPath;   // absolute, handed to the control as InputFile
  std::string outputPath;  // absolute, handed to the control as OutputFile
};

struct ConversionResult {
  // The control's result code (0 or a catalogue code), or the failure number of a failed
  // automation call when failedCall is true.
  std::int32_t code = 0;
  bool failedCall = false;
  // What the control reported through onerror (each "error <code>: <message>"), or the failed
  // call's description; empty on success.
  std::vector<std::string> errors;
  std::string errorText;  // the message of the failure the code stands for ("" on success)
  // Why it failed, as the control's failure path saw it (QuorvaneX::LastFailureCause): the
  // failure number and its description; 0 and "" when the control kept none.
  std::int32_t causeNumber = 0;
  std::string causeText;
  double seconds = 0;
  // Slides of the converted range (the control's StartSlide to EndSlide once it has clamped them);
  // 0 when the conversion failed.
  std::int32_t slides = 0;

  bool ok() const { return !failedCall && code == catalog::kSuccess; }
};

// Converts `jobs` on `workers` threads (at least 1; never more than there are jobs) and calls
// `deliver` with each job's index and result, in input order, on the calling thread. Progress goes
// to `status` (its inputs are the jobs, in the same order).
void RunConversions(const std::vector<ConversionJob>& jobs, const ConversionSettings& settings, std::size_t workers,
                    StatusLine& status,
                    const std::function<void(std::size_t index, const ConversionResult& result)>& deliver);

}  // namespace quorvane::cli
