#include "status_line.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace quorvane::cli {
namespace {

constexpr std::size_t kBarCells = 20;
constexpr std::size_t kDefaultWidth = 80;
// Progress events can come hundreds of times a second (one per slide); the terminal is not
// rewritten more often than this unless the file shown changes.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// Characters of UTF-8 text, counted as terminal columns (continuation bytes take none).
std::size_t Columns(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// The longest head of `text` that fits `columns`, cut between characters, with "..." marking the cut.
std::string Fit(std::string_view text, std::size_t columns) {
  if (Columns(text) <= columns) return std::string(text);
  if (columns < 4) return std::string(columns, '.');
  std::string out;
  std::size_t used = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool starts = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
    if (starts && used == columns - 3) break;
    if (starts) ++used;
    out += text[i];
  }
  return out + "...";
}

std::string Elapsed(std::chrono::seconds elapsed) {
  const long long total = elapsed.count();
  const long long hours = total / 3600;
  const long long minutes = (total / 60) % 60;
  const long long seconds = total % 60;
  std::string out = hours > 0 ? std::to_string(hours) + ":" : "";
  const std::string mm = std::to_string(minutes);
  out += (hours > 0 && minutes < 10 ? "0" : "") + mm + ":";
  out += (seconds < 10 ? "0" : "") + std::to_string(seconds);
  return out;
}

}  // namespace

StatusLine::StatusLine(std::FILE* out, bool enabled, std::vector<std::string> names)
    : out_(out),
      enabled_(enabled),
      names_(std::move(names)),
      percent_(names_.size(), 0.0f),
      done_(names_.size(), false),
      start_(std::chrono::steady_clock::now()) {}

StatusLine::~StatusLine() { Close(); }

std::string StatusLine::Render(std::size_t index, std::size_t files, std::string_view name, float filePercent,
                               double batchFraction, std::chrono::seconds elapsed, std::size_t width) {
  const int percent = static_cast<int>(std::clamp(filePercent, 0.0f, 100.0f));
  const std::string head = "file " + std::to_string(index + 1) + " of " + std::to_string(files) + "  ";
  const std::size_t filled =
      static_cast<std::size_t>(std::floor(std::clamp(batchFraction, 0.0, 1.0) * static_cast<double>(kBarCells)));
  const std::string bar = "[" + std::string(filled, '#') + std::string(kBarCells - filled, '.') + "]";
  std::string tail = "  " + std::to_string(percent) + "%  " + bar + "  " + Elapsed(elapsed);
  // The last column stays free: a line that fills the terminal wraps on some, and a wrapped bar
  // can no longer be cleared with a carriage return.
  const std::size_t room = width > 1 ? width - 1 : 0;
  const std::size_t minimumName = 8;
  if (Columns(head) + minimumName + Columns(tail) > room) {
    tail = "  " + std::to_string(percent) + "%";  // narrow terminal: no bar, no time
  }
  const std::size_t fixed = Columns(head) + Columns(tail);
  if (fixed >= room) return Fit(head + std::string(name) + tail, room);
  return head + Fit(name, room - fixed) + tail;
}

std::size_t StatusLine::Width() const {
  winsize size{};
  if (::ioctl(::fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kDefaultWidth;
}

void StatusLine::ClearLocked() {
  if (drawn_.empty()) return;
  // Spaces rather than an erase sequence: this works on every terminal, TERM=dumb included.
  const std::string blank = "\r" + std::string(Columns(drawn_), ' ') + "\r";
  std::fwrite(blank.data(), 1, blank.size(), out_);
  drawn_.clear();
}

void StatusLine::DrawLocked(bool force) {
  if (!enabled_ || names_.empty()) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < kRedrawInterval) return;
  double fraction = 0;
  for (std::size_t i = 0; i < names_.size(); ++i) fraction += done_[i] ? 1.0 : percent_[i] / 100.0;
  fraction /= static_cast<double>(names_.size());
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start_);
  std::string line = Render(current_, names_.size(), names_[current_], percent_[current_], fraction, elapsed, Width());
  lastDraw_ = now;
  if (line == drawn_) return;
  ClearLocked();
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
  drawn_ = std::move(line);
}

void StatusLine::Progress(std::size_t index, float percent) {
  std::lock_guard lock(mutex_);
  if (index >= names_.size()) return;
  percent_[index] = percent;
  // Several workers report in turn: the file shown changes at the redraw pace too, not at every
  // event, or the bar would flicker between them. When the file shown is done, the next one is
  // shown at once, so every input appears however quickly it converts.
  const bool next = index != current_ && done_[current_];
  current_ = index;
  DrawLocked(drawn_.empty() || next);
}

void StatusLine::Finished(std::size_t index) {
  std::lock_guard lock(mutex_);
  if (index >= names_.size()) return;
  done_[index] = true;
  percent_[index] = 100.0f;
  DrawLocked(false);
}

void StatusLine::Tick() {
  std::lock_guard lock(mutex_);
  DrawLocked(true);
}

void StatusLine::Message(std::string_view text) {
  std::lock_guard lock(mutex_);
  ClearLocked();
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
  DrawLocked(true);
}

void StatusLine::Close() {
  std::lock_guard lock(mutex_);
  ClearLocked();
  std::fflush(out_);
  enabled_ = false;
}

}  // namespace quorvane::cli
