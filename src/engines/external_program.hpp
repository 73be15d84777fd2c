#pragma once
// Programs of the system that finish a conversion (Ghostscript, ffmpeg), run as separate, watched
// processes: never linked, never through a shell.
//
// Run starts the program with its arguments as given (the program looked up in PATH), in a process
// group of its own, standard input from /dev/null, standard output discarded, standard error kept
// (its last lines describe a failure), and the other descriptors of the host closed. Past its
// deadline the whole group is killed; a host ended by a signal kills it in its exit cleanup. Nothing
// of it outlives the call.
//
// Failures are AutomationErrors:
// - kRpcServerUnavailable: the program cannot be started (not installed: the description names the
//   program and the Debian package that brings it), or it was ended by a signal;
// - kWin32Timeout: it ran past its deadline and was killed;
// - kEFail: it exited with a code other than 0 (the description ends with what it wrote on
//   standard error).
#include <chrono>
#include <string>
#include <vector>

namespace quorvane::engines::external_program {

struct Program {
  std::string name;     // the command, looked up in PATH: "gs"
  std::string package;  // the Debian package that installs it: "ghostscript"
  std::string purpose;  // what it makes, for descriptions: "the XPS document"
};

// Runs `program` with `arguments` (without the program's own name) and waits up to `deadline`.
// `tempDir` becomes its TMPDIR, TMP and TEMP, so that its scratch files go with the caller's folder.
void Run(const Program& program, const std::vector<std::string>& arguments, std::chrono::milliseconds deadline,
         const std::string& tempDir);

// The deadline of a program that works on `slides` slides: the office limits' base deadline plus
// their allowance per slide (quorvane/office_limits.hpp), so that --timeout bounds it too.
std::chrono::milliseconds DeadlineFor(std::size_t slides);

}  // namespace quorvane::engines::external_program
