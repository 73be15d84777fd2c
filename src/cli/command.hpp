#pragma once
// What every subcommand of the tool shares: its registration and the exit statuses.
#include <CLI/CLI.hpp>

#include <functional>
#include <string_view>

namespace quorvane::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 64;
inline constexpr int kExitUnavailable = 69;
inline constexpr int kExitSoftware = 70;
inline constexpr int kExitCantCreate = 73;
inline constexpr int kExitIoError = 74;

inline constexpr std::string_view kProgram = "quorvane";

// A registered subcommand: its node in the parser, and what runs when the command line chose it.
struct Command {
  CLI::App* app;
  std::function<int()> run;
};

Command AddConvert(CLI::App& root);
Command AddServe(CLI::App& root);

}  // namespace quorvane::cli
