// Slide image export: every slide of the range becomes one picture file, written by PowerPoint's
// own export of a slide with a graphic filter.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <utility>

#include "common/numbered_files.hpp"
#include "common/text.hpp"
#include "converters/context.hpp"
#include "converters/steps.hpp"
#include "diagnostics/log.hpp"
#include "quorvane/catalog.hpp"

namespace quorvane::converters {
namespace {

// Ungrouping for a slide whose export PowerPoint refused as an invalid request (0x80048240):
// every group shape on the slide is replaced by its members, one level deep, so that the export
// tried next meets no group. Shapes are visited from the last to the first because ungrouping puts
// a group's members in its place and so moves only the shapes after it. Nested groups come to the
// top and are ungrouped if the export fails again. A slide without groups is left as it is; the
// repeated export then fails the same way until the repetition limit ends the run. The
// presentation is open read-only and is closed without saving, so the input file never changes.
// Nothing here is guarded: a failure leaves the failure path, and the conversion, unhandled.
void UngroupShapesOfSlide(office::ppt::Presentation& presentation, std::int32_t slide) {
  const auto shapes = presentation.Slides()->Item(slide)->Shapes();
  for (std::int32_t index = shapes->Count(); index >= 1; --index) {
    const auto shape = shapes->Item(index);
    if (shape->Type() == office::ppt::kMsoGroup) shape->Ungroup();
  }
}

// The picture size OutputOptions asks for: its pixels, or its resolution over the slide's size in
// points (72 to the inch); 0 x 0 (the renderer's 96 dots per inch) when it asks for neither.
std::pair<std::int32_t, std::int32_t> PictureSize(const OutputOptions& options, office::ppt::Presentation& presentation) {
  if (options.dotsPerInch <= 0) return {options.pixelWidth, options.pixelHeight};
  const auto side = [&](float points) {
    return static_cast<std::int32_t>(std::lround(static_cast<double>(points) * options.dotsPerInch / 72.0));
  };
  const auto setup = presentation.PageSetup();
  return {std::max(1, side(setup->SlideWidth())), std::max(1, side(setup->SlideHeight()))};
}

// The file of slide `slide`: OutputFile + "Slide" + number + "." + filter, or the name the
// pattern gives, in the folder of OutputFile unless the pattern names a folder of its own.
std::u16string PictureFileName(const Settings& settings, std::int32_t slide, const std::u16string& filter) {
  const std::u16string& pattern = settings.Options.namePattern;
  if (pattern.empty()) return settings.OutputFile + u"Slide" + text::Decimal(slide) + u"." + filter;
  const std::u16string name = PatternName(pattern, slide);
  if (name.starts_with(u'/')) return name;
  const std::size_t slash = settings.OutputFile.find_last_of(u"/\\");
  return (slash == std::u16string::npos ? std::u16string() : settings.OutputFile.substr(0, slash + 1)) + name;
}

class SlideImageExporter final : public Converter {
 public:
  using Converter::Converter;
  std::int32_t Run() override;
};

// One run: start PowerPoint, open the input read-only, clamp the range, then for each slide raise
// Progress and export it as OutputFile + "Slide" + number + "." + filter name (or the name the
// options' pattern gives), at the options' size and JPEG quality. OutputFile is only a
// prefix (nothing is removed from it), and it and TargetFileType are read again for every slide,
// after that slide's Progress event. No check of InputFile or OutputFile comes first: a missing
// input or a bad output folder fails PowerPoint's open or export and ends on the failure path.
std::int32_t SlideImageExporter::Run() {
  std::int32_t result = catalog::kConversionFailed;
  std::shared_ptr<office::ppt::Presentation> presentation;
  // The slide whose export is the step being performed; 0 outside the exports, when an invalid
  // request has no slide to ungroup.
  std::int32_t exportingSlide = 0;

  // The failure path, row by row in the order the failure number is tested. Rows that end the run
  // report here; the cleanup follows below, once the run has ended.
  Steps::Path path;
  path.resolve = [&](const Failure& failure) {
    // Every row that reports keeps the failure as the cause of its report.
    const auto keep = [&] { c_.errors.KeepFailureCause(failure.number, failure.description); };
    switch (failure.number) {
      case failure::kCannotCreateObject:
        result = catalog::kOfficeNotInstalled;
        keep();
        c_.errors.RaiseError(result, {});
        return Resolution::End;
      case failure::kFileAlreadyOpen:
        // The file that stands in the way is taken to be one left open under the log's number.
        result = catalog::kOutputFileNameMissing;
        keep();
        c_.errors.RaiseError(result, {});
        files::Close(diagnostics::kLogFileNumber);
        return Resolution::Repeat;
      case failure::kLibraryNotLoaded:
        result = catalog::kDllNotOpened;
        keep();
        c_.errors.RaiseError(result, {});
        return Resolution::End;
      case failure::kPowerPointInvalidRequest:
        // Neither reported nor counted as a result: the slide is ungrouped and its export tried
        // again. A step other than an export has no slide to ungroup; it is simply tried again,
        // and the repetition limit ends the run when it keeps failing.
        if (exportingSlide != 0 && presentation) UngroupShapesOfSlide(*presentation, exportingSlide);
        return Resolution::Repeat;
      case failure::kEFail:
        result = catalog::kNoSlideExportConverter;
        keep();
        c_.errors.RaiseError(result, {});
        return Resolution::End;
      default:
        result = catalog::kConversionFailed;
        keep();
        c_.errors.RaiseError(result, {});
        return Resolution::End;
    }
  };
  // A repeated step that failed its last try ends the run through the last row.
  path.giveUp = [&](const Failure& failure) {
    result = catalog::kConversionFailed;
    c_.errors.KeepFailureCause(failure.number, failure.description);
    c_.errors.RaiseError(result, {});
  };
  Steps steps(std::move(path));

  try {
    VariantBool started = kVariantFalse;
    steps.Run([&] { started = apps_.StartPowerPoint(); });
    if (started != kVariantTrue) return catalog::kPowerPointNotCreated;  // reported by StartPowerPoint; nothing is open

    std::u16string version;
    steps.Run([&] { version = apps_.PowerPointApplication->Version(); });
    if (!version.empty() && version.front() == u'8') {
      // On this PowerPoint version the file is first opened read-write with a window, then again
      // read-only (1 is PowerPoint's true too) without one, titled. The first presentation is
      // released at once and stays open in PowerPoint until PowerPoint ends.
      steps.Run([&] { apps_.PowerPointApplication->Presentations()->Open(s_.InputFile, 0, 0, -1); });
      steps.Run([&] { presentation = apps_.PowerPointApplication->Presentations()->Open(s_.InputFile, 1, 0, 0); });
    } else {
      // Read-only (1 is PowerPoint's true too), untitled, without a window.
      steps.Run([&] { presentation = apps_.PowerPointApplication->Presentations()->Open(s_.InputFile, 1, 1, 0); });
    }
    steps.Run([&] { NormalizeSlideRange(s_, *presentation); });
    steps.Run([&] { c_.progress.SetPercentageComplete(0); });

    // A range of no slides fails here (division by zero); a range StartSlide two or more above
    // EndSlide gives a negative step and no pass of the loop.
    std::pair<std::int32_t, std::int32_t> size;
    steps.Run([&] { size = PictureSize(s_.Options, *presentation); });
    float step = 0;
    std::int32_t first = 0, last = 0;
    steps.Run([&] {
      first = s_.StartSlide;
      last = s_.EndSlide;
      step = ProgressStep(first, last);
    });

    // 64-bit, so that a last slide of INT32_MAX cannot overflow the counter.
    for (std::int64_t i = first; i <= last; ++i) {
      const auto slide = static_cast<std::int32_t>(i);
      steps.Run([&] { c_.progress.AdvanceProgress(step); });
      steps.Run([&] {
        exportingSlide = slide;
        const std::u16string filter = ImageFilterName(s_.TargetFileType);
        presentation->Slides()->Item(slide)->ExportWithQuality(PictureFileName(s_, slide, filter), filter,
                                                               size.first, size.second, s_.Options.jpegQuality);
        exportingSlide = 0;
      });
    }

    steps.Run([&] { c_.progress.SetPercentageComplete(100); });
    steps.Run([&] {
      presentation->Close();
      presentation.reset();  // closed: the failure path must not close it again
    });

    VariantBool quit = kVariantFalse;
    steps.Run([&] { quit = apps_.QuitPowerPoint(); });
    return quit == kVariantTrue ? catalog::kSuccess
                                : catalog::kPowerPointNotDestroyed;  // -13 was reported by QuitPowerPoint
  } catch (const RunEnded& ended) {
    // Cleanup after the report. Closing is not guarded (a failure here leaves the conversion);
    // the quit's outcome does not change the result. The log line names the failure that entered
    // the path, not whatever the cleanup met.
    if (presentation) presentation->Close();
    apps_.QuitPowerPoint();
    diagnostics::WriteLog(std::u16string(diagnostics::kLogFileName),
                          text::Decimal(ended.failure.number) + u" - " + ended.failure.description);
    return result;
  }
}

}  // namespace

std::u16string ImageFilterName(std::int32_t code) {
  const catalog::Format* format = catalog::FindFormat(code);
  return format ? std::u16string(format->filterName) : std::u16string();
}

std::int32_t ExportSlideImages(Context& context) { return SlideImageExporter(context).Run(); }

}  // namespace quorvane::converters
