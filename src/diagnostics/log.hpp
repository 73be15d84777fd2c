#pragma once
// The diagnostic log: "Quorvane.log" beside the component's library file, to which the failure
// paths of the slide image export and the text export append one line per failure, for the people
// who support an installation. Nothing in the component reads it.
//
// WriteLog writes a line; the other functions here are the parts it is made of. The log is best
// effort: WriteLog swallows every failure, and these parts either cannot fail or say how.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::diagnostics {

// The numbered file the log opens its file under, always the same (common/numbered_files.hpp).
// The slide image export's file-already-open row closes whatever is open under it.
inline constexpr std::int16_t kLogFileNumber = 2;

// The log's file name, which every caller passes to WriteLog.
inline constexpr std::u16string_view kLogFileName = u"Quorvane.log";

// The folder that holds the component's library file, as the dynamic loader knows it; when the
// core is linked into a program instead (the tests), the program's folder. "/" for a library in
// the root folder, no trailing "/" otherwise; empty when the loader cannot tell.
std::u16string ComponentFolder();

// For tests only: makes the log go to `folder` instead of the component's folder, for the whole
// process, until called again; std::nullopt goes back to the component's folder. Hosts have no
// way to move the log, and no environment variable does it.
void SetLogFolderForTesting(std::optional<std::u16string> folder);

// The folder the log goes to now: the test override if set, else ComponentFolder().
std::u16string LogFolder();

// `folder` + "/" + `fileName`, without a second "/" when `folder` already ends in one (the root
// folder).
std::u16string JoinLogPath(std::u16string_view folder, std::u16string_view fileName);

// One log line without its line end: the date of `when` as two-digit day, "-", the abbreviated
// month name, "-", four-digit year; ", "; the time of `when` in the time format; " : "; `message`,
// its control characters (and the bytes of a name that is not UTF-8) written as visible escapes
// (text::Printable), so that a name cannot end the line or reach a terminal raw. Month name and time format come from the process locale's LC_TIME.
std::u16string FormatLogLine(const std::tm& when, std::u16string_view message);

// Appends one line to the log beside the component; never fails towards its caller.
void WriteLog(const std::u16string& logFileName, const std::u16string& message);

}  // namespace quorvane::diagnostics
