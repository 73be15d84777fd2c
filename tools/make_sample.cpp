// quorvane-sample: writes a presentation made by the deck builder, for demonstrations and
// benchmarks.
//
//   quorvane-sample OUTPUT.pptx                         the four-slide sample deck
//   quorvane-sample --generated N [--seed S] OUTPUT.pptx  N generated slides of varied content
//
// The same arguments always give the same bytes. Exit status: 0 written, 64 a command line it does
// not understand, 74 the file could not be written (the cause is printed).
#include <charconv>
#include <cstdint>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "common/text.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "quorvane/automation_error.hpp"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 64;
constexpr int kExitIoError = 74;
// Enough for any benchmark; the builder itself has no slide limit, the package layer has.
constexpr std::uint64_t kMaxSlides = 100000;

int Usage(std::string_view problem) {
  std::cerr << "quorvane-sample: " << problem << "\n"
            << "usage: quorvane-sample [--generated SLIDES [--seed SEED]] OUTPUT.pptx\n";
  return kExitUsage;
}

std::optional<std::uint64_t> Number(std::string_view text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || text.empty()) return std::nullopt;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  namespace builder = quorvane::engines::pptx::builder;
  std::optional<std::uint64_t> slides;
  std::uint64_t seed = 1;
  bool seedGiven = false;
  std::string output;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::cout << "usage: quorvane-sample [--generated SLIDES [--seed SEED]] OUTPUT.pptx\n"
                   "Writes the sample deck (every kind of shape, notes, a hidden slide), or SLIDES generated\n"
                   "slides of varied content; the same arguments give the same bytes.\n";
      return kExitOk;
    }
    if (arg == "--generated" || arg == "--seed") {
      if (i + 1 >= argc) return Usage(std::string(arg) + " needs a number");
      const auto value = Number(argv[++i]);
      if (!value) return Usage(std::string(arg) + " needs a number, not '" + argv[i] + "'");
      if (arg == "--seed") {
        seed = *value;
        seedGiven = true;
      } else if (*value < 1 || *value > kMaxSlides) {
        return Usage("--generated takes 1 to " + std::to_string(kMaxSlides) + " slides");
      } else {
        slides = *value;
      }
      continue;
    }
    if (arg.starts_with("-") && arg != "-") return Usage("unknown option '" + std::string(arg) + "'");
    if (!output.empty()) return Usage("one output file only");
    output = arg;
  }
  if (output.empty()) return Usage("no output file given");
  if (seedGiven && !slides) return Usage("--seed goes with --generated");

  try {
    if (slides) {
      builder::Write(builder::Generated(static_cast<int>(*slides), seed), output);
    } else {
      builder::WriteSample(output);
    }
  } catch (const quorvane::AutomationError& failure) {
    std::cerr << "quorvane-sample: " << quorvane::text::ToUtf8(failure.description()) << "\n";
    return kExitIoError;
  } catch (const std::exception& failure) {
    std::cerr << "quorvane-sample: cannot write " << output << ": " << failure.what() << "\n";
    return kExitIoError;
  }
  return kExitOk;
}
