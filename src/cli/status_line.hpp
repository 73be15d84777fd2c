#pragma once
// The progress bar of `quorvane convert`: one line on standard error, redrawn in place.
//
// What it shows: the file whose conversion last reported progress (its place in the batch and its
// name), that file's percentage, a bar of the whole batch (finished files plus the running files'
// shares) and the time since the batch started, e.g.
//
//   file 3 of 40  deck.pptx  45%  [#########...........]  0:42
//
// Every message for people goes through Message(), which clears the bar, writes the message on
// lines of its own and draws the bar again, so that an error line is never written into the
// middle of a bar. A bar that is switched off (standard error is not a terminal, or --quiet) draws
// nothing and Message() only writes the message.
//
// Thread-safe: the workers of a batch report progress from their own threads.
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::cli {

class StatusLine {
 public:
  // `out` is where the bar and the messages go (standard error); `enabled` whether the bar is drawn;
  // `names` the inputs of the batch in order, as the bar shows them.
  StatusLine(std::FILE* out, bool enabled, std::vector<std::string> names);
  ~StatusLine();
  StatusLine(const StatusLine&) = delete;
  StatusLine& operator=(const StatusLine&) = delete;

  // The conversion of input `index` (0-based) reports `percent` (0 to 100).
  void Progress(std::size_t index, float percent);
  // Input `index` is done, whatever its outcome.
  void Finished(std::size_t index);
  // Redraws when the elapsed time shown has changed (called while waiting for results).
  void Tick();
  // Writes `text` (one or more lines, each ending in "\n") with the bar out of the way.
  void Message(std::string_view text);
  // Removes the bar for good; later calls draw nothing.
  void Close();

  // The bar's text for a terminal `width` columns wide.
  static std::string Render(std::size_t index, std::size_t files, std::string_view name, float filePercent,
                            double batchFraction, std::chrono::seconds elapsed, std::size_t width);

 private:
  void DrawLocked(bool force);
  void ClearLocked();
  std::size_t Width() const;

  std::mutex mutex_;
  std::FILE* out_;
  bool enabled_;
  std::vector<std::string> names_;
  std::vector<float> percent_;  // per input: its last percentage
  std::vector<bool> done_;
  std::size_t current_ = 0;     // the input the bar shows
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_{};
  std::string drawn_;  // what is on the line now ("" when nothing)
};

}  // namespace quorvane::cli
