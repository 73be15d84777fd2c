#pragma once
// Ending the command cleanly on SIGINT, SIGTERM and SIGHUP: nothing of a conversion is left behind
// when the command is interrupted.
#include <sys/types.h>

#include <functional>
#include <string>

namespace quorvane::cli {

// Blocks the signals in every thread started afterwards and waits for them on a thread of its own.
// On the first signal: the component ends its offices and removes its temporary files and folders
// (quorvane::PrepareForProcessExit), the paths given to RemoveOnSignal are removed, and the process
// ends as the signal's default action would (exit status 128 + the signal's number). Call once,
// before any other thread is started.
void EndCleanlyOnSignals();

// For a command that ends by itself once asked (a server draining its work): from now on the first
// signal calls `drain` (on the signal thread) with the signal and the process that sent it, instead
// of ending the process; a second one ends it as above.
void DrainOnSignal(std::function<void(int signal, pid_t sender)> drain);

// A path of the command's own (a private copy of standard input, say) that a signal removes, with
// what it holds. Returns a number for ForgetOnSignal.
int RemoveOnSignal(const std::string& path);
void ForgetOnSignal(int number);

}  // namespace quorvane::cli
