// Rendering cost of the control against a fresh office process per file.
//
// 1. PDF: twenty conversions of a generated 10-slide deck through one QuorvaneX with
//    OptimizeForSpeed on (TargetFileType 32), against twenty runs of the command-line office
//    converter (`soffice --headless --convert-to pdf`, one process per file, with a private
//    profile warmed by one untimed run). Prints both totals, the speed-up, the control's first
//    conversion (cold start: the office is started then) and its warm per-conversion cost.
// 2. PNG: every slide of a generated 50-slide deck exported as pictures (TargetFileType 18)
//    through a control whose office is already warm; prints the per-slide cost.
//
// Usage: quorvane_render_bench [runs]   (default 20). All files go to a private folder under
// the temporary directory, removed at the end. Exits non-zero when a conversion fails.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "deckmaker/decks.hpp"
#include "engines/pptx/builder.hpp"
#include "quorvane/control.hpp"

namespace {

namespace fs = std::filesystem;
namespace builder = quorvane::engines::pptx::builder;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// One conversion through the control; throws with the control's error text on failure.
void Convert(quorvane::QuorvaneX& control, const fs::path& input, const fs::path& output, std::int32_t type) {
  control.put_InputFile(quorvane::text::FromUtf8(input.string()));
  control.put_OutputFile(quorvane::text::FromUtf8(output.string()));
  control.put_TargetFileType(type);
  control.put_StartSlide(0);
  control.put_EndSlide(0);
  const std::int32_t code = control.ConvertFile();
  if (code != 0) {
    throw std::runtime_error("ConvertFile returned " + std::to_string(code) + ": " +
                             quorvane::text::ToUtf8(control.get_ErrorString()));
  }
}

// Whether the file at `path` begins with `magic` (a PDF or PNG signature).
bool StartsWith(const fs::path& path, const std::string& magic) {
  std::ifstream in(path, std::ios::binary);
  std::string head(magic.size(), '\0');
  return in.read(head.data(), static_cast<std::streamsize>(head.size())) && head == magic;
}

// One run of the command-line office converter; throws when it fails or writes nothing.
void OfficeConvert(const fs::path& profile, const fs::path& input, const fs::path& outdir) {
  const std::string command = "soffice --headless -env:UserInstallation=file://" + profile.string() +
                              " --convert-to pdf --outdir '" + outdir.string() + "' '" + input.string() +
                              "' >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  const fs::path pdf = outdir / (input.stem().string() + ".pdf");
  if (status != 0 || !fs::exists(pdf)) throw std::runtime_error("soffice failed: " + command);
  fs::remove(pdf);
}

int Run(int runs) {
  const fs::path root = fs::temp_directory_path() / ("quorvane-render-bench-" + std::to_string(getpid()));
  fs::create_directories(root / "out");
  struct Cleanup {
    fs::path dir;
    ~Cleanup() {
      std::error_code ignored;
      fs::remove_all(dir, ignored);
    }
  } cleanup{root};

  const fs::path deck10 = root / "deck.pptx";
  const fs::path deck50 = root / "deck50.pptx";
  builder::Write(builder::Generated(10, 7), deck10.string());
  builder::Write(builder::Generated(50, 7), deck50.string());

  // --- 1. PDF, control with a kept office ------------------------------------------------------
  std::vector<double> times;
  {
    quorvane::QuorvaneX control;
    control.put_OptimizeForSpeed(quorvane::kVariantTrue);
    for (int i = 0; i < runs; ++i) {
      const auto start = Clock::now();
      const fs::path pdf = root / "out" / ("deck" + std::to_string(i) + ".pdf");
      Convert(control, deck10, pdf, 32);
      times.push_back(Seconds(start));
      if (!StartsWith(pdf, "%PDF-")) throw std::runtime_error("no PDF written: " + pdf.string());
    }
  }
  double controlTotal = 0;
  for (double t : times) controlTotal += t;
  const double warmEach = runs > 1 ? (controlTotal - times.front()) / (runs - 1) : times.front();

  // --- 1. PDF, one office process per file -----------------------------------------------------
  const fs::path profile = root / "profile";
  OfficeConvert(profile, deck10, root / "out");  // creates and warms the private profile
  const auto officeStart = Clock::now();
  for (int i = 0; i < runs; ++i) OfficeConvert(profile, deck10, root / "out");
  const double officeTotal = Seconds(officeStart);

  std::printf("PDF, 10-slide deck, %d conversions\n", runs);
  std::printf("  control (OptimizeForSpeed)  total %8.3f s\n", controlTotal);
  std::printf("    first conversion (cold)         %8.3f s\n", times.front());
  std::printf("    warm, per conversion            %8.3f s\n", warmEach);
  std::printf("  soffice per file            total %8.3f s   (%.3f s each)\n", officeTotal, officeTotal / runs);
  std::printf("  speed-up                          %8.2f x  (target >= 5x: %s)\n", officeTotal / controlTotal,
              officeTotal / controlTotal >= 5 ? "met" : "missed");

  // --- 2. PNG of every slide, warm office -------------------------------------------------------
  {
    quorvane::QuorvaneX control;
    control.put_OptimizeForSpeed(quorvane::kVariantTrue);
    Convert(control, deck10, root / "out" / "warm", 18);  // starts the office, untimed
    fs::create_directories(root / "png");
    const auto start = Clock::now();
    Convert(control, deck50, root / "png" / "deck50", 18);
    const double total = Seconds(start);
    // The pictures are named <OutputFile>Slide<n>.<filter name>: deck50Slide1.PNG and so on.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(root / "png")) {
      files += entry.path().extension() == ".PNG" && StartsWith(entry.path(), "\x89PNG\r\n\x1a\n");
    }
    if (files != 50) throw std::runtime_error("expected 50 pictures, found " + std::to_string(files));
    std::printf("PNG, 50-slide deck, warm office\n");
    std::printf("  total %.3f s, %d pictures, per slide %.1f ms\n", total, files, 1000 * total / 50);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
  if (runs < 1) {
    std::cerr << "usage: quorvane_render_bench [runs >= 1]\n";
    return 2;
  }
  try {
    return Run(runs);
  } catch (const std::exception& failure) {
    std::cerr << "quorvane_render_bench: " << failure.what() << "\n";
    return 1;
  }
}
