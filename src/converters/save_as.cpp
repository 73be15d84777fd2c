// The save-as conversion: PowerPoint writes the output with its own save, in one of three modes
// (the whole presentation, the chosen slides in one new presentation, or one new presentation per
// slide). The converter checks the input and output names before PowerPoint is started.
#include <cstdint>
#include <memory>
#include <string>

#include "common/paths.hpp"
#include "common/text.hpp"
#include "converters/context.hpp"
#include "converters/steps.hpp"
#include "quorvane/catalog.hpp"

namespace quorvane::converters {
namespace {

using office::ppt::Presentation;

constexpr std::int32_t kWebArchive = 20;  // always saved as the whole presentation
constexpr std::int32_t kPdf = 32;
constexpr std::int32_t kPasteAtEnd = -1;

// "----- Slide(<slide>) Shape(<shape>) -----" and a line feed, put in front of a shape's text.
std::u16string SlideAndShapeLabel(std::int64_t slide, std::int64_t shape) {
  return u"----- Slide(" + text::Decimal(slide) + u") Shape(" + text::Decimal(shape) + u") -----\n";
}

// A presentation the converter has opened or added and not yet closed. The failure path closes
// what is still open; a presentation whose Close returned is no longer its business.
struct OpenPresentation {
  std::shared_ptr<Presentation> presentation;

  Presentation* operator->() const { return presentation.get(); }
  void Close() {
    presentation->Close();
    presentation.reset();
  }
  // The failure path's close: whatever it throws stays here, so that the failure already
  // reported remains the one the host sees.
  void CloseQuietly() noexcept {
    if (!presentation) return;
    try {
      presentation->Close();
    } catch (...) {
    }
    presentation.reset();
  }
};

// A slide's file name can name the input itself ("deckSlide2.pptx" from "deck.pptx" when the
// input is deckSlide2.pptx), which the path checks cannot see before the range is known. Saving
// there would overwrite the input, so that name ends the run as any other failure does.
void RefuseInputAsOutput(const std::u16string& input, const std::u16string& fileName) {
  if (text::EqualsIgnoreCase(input, fileName) || paths::SameFile(input, fileName))
    throw AutomationError(failure::kInvalidCall, u"Input and Output Filename are same");
}

// Copies slide size, height first, from one presentation to another.
void CopySlideSize(Presentation& from, Presentation& to) {
  const auto fromSetup = from.PageSetup();
  const auto toSetup = to.PageSetup();
  toSetup->put_SlideHeight(fromSetup->SlideHeight());
  toSetup->put_SlideWidth(fromSetup->SlideWidth());
}

class SaveAsConverter final : public Converter {
 public:
  using Converter::Converter;
  std::int32_t Run() override;

 private:
  // Path checks: 0, or the code reported.
  std::int32_t CheckOutputPath();
  // PowerPoint's save; false when it failed. The failure is not reported; its number and
  // description are kept as the conversion's failure cause.
  VariantBool SavePresentationAs(Presentation& presentation, const std::u16string& fileName, std::int32_t fileType);
};

// Each refusal keeps its cause: the name refused and why, with the platform's number for it.
std::int32_t SaveAsConverter::CheckOutputPath() {
  std::int32_t code = 0;
  if (s_.InputFile.empty()) {
    code = catalog::kInputFileNameMissing;
    c_.errors.KeepFailureCause(failure::kInvalidCall, u"InputFile is empty");
  } else if (s_.OutputFile.empty()) {
    code = catalog::kOutputFileNameMissing;
    c_.errors.KeepFailureCause(failure::kInvalidCall, u"OutputFile is empty");
  } else if (!paths::FindsNormalFile(s_.InputFile)) {
    code = catalog::kInputFileNotFound;
    c_.errors.KeepFailureCause(failure::kFileNotFound, paths::FolderExists(s_.InputFile)
                                                           ? s_.InputFile + u" is a folder, not a file"
                                                           : u"no file at " + s_.InputFile);
  }
  // Equal texts, ignoring case, are refused as they always were; so are different texts that
  // name one file (a relative name, "." or ".." segments, a link), which the save would overwrite.
  else if (text::EqualsIgnoreCase(s_.InputFile, s_.OutputFile) || paths::SameFile(s_.InputFile, s_.OutputFile)) {
    code = catalog::kInputSameAsOutput;
    c_.errors.KeepFailureCause(failure::kInvalidCall, u"InputFile and OutputFile name the same file: " + s_.OutputFile);
  } else if (const std::u16string folder = paths::FolderPart(s_.OutputFile); !paths::FolderExists(folder)) {
    code = catalog::kOutputPathNotFound;
    c_.errors.KeepFailureCause(failure::kPathNotFound, folder.empty()
                                                           ? u"OutputFile " + s_.OutputFile + u" names no folder"
                                                           : u"no folder at " + folder);
  }
  if (code != 0) c_.errors.RaiseError(code, {});
  return code;
}

VariantBool SaveAsConverter::SavePresentationAs(Presentation& presentation, const std::u16string& fileName,
                                                std::int32_t fileType) {
  try {
    // A PDF with options of its own is written by the fixed-format export, which takes them.
    const OutputOptions& o = s_.Options;
    if (fileType == kPdf && (o.hiddenSlides || o.notesPages || o.pdfa))
      presentation.ExportAsFixedFormat(fileName, {.printHiddenSlides = o.hiddenSlides, .notesPages = o.notesPages,
                                                  .pdfa = o.pdfa});
    else
      presentation.SaveAs(fileName, fileType, office::kMsoFalse);
    return kVariantTrue;
  } catch (...) {
    Failure failure = CurrentFailure();
    c_.errors.KeepFailureCause(failure.number, std::move(failure.description));
    return kVariantFalse;
  }
}

// Failures: a failed save ends the run with -16 and the catalogue text (its cause is what the save
// met, kept by SavePresentationAs); every other failure with -10 and the failing operation's own
// description (the catalogue text when it has none), which is also its cause. The path
// reports first, then closes what is still open (the presentation being assembled, then the
// input) and hands PowerPoint back. A failure while closing is not reported: the host keeps the
// report of the failure that ended the run. What the path ignores: QuitPowerPoint's answer (it
// reports its own -13). A slide file name that would overwrite the input is such an "other
// failure" (-10, described as the input and output names being the same).
std::int32_t SaveAsConverter::Run() {
  std::int32_t result = catalog::kConversionFailed;
  bool saveFailed = false;
  OpenPresentation input;
  OpenPresentation assembled;

  Steps steps({[&](const Failure& f) {
                 result = saveFailed ? catalog::kFileTypeNotConverted : catalog::kConversionFailed;
                 if (!saveFailed) c_.errors.KeepFailureCause(f.number, f.description);
                 c_.errors.RaiseError(result, saveFailed ? std::u16string() : f.description);
                 return Resolution::End;
               },
               [&](const Failure& f) {
                 result = catalog::kConversionFailed;
                 c_.errors.KeepFailureCause(f.number, f.description);
                 c_.errors.RaiseError(result, f.description);
               }});

  // A save that PowerPoint refuses goes to the failure path without a description of its own.
  const auto save = [&](Presentation& presentation, const std::u16string& fileName) {
    if (SavePresentationAs(presentation, fileName, s_.TargetFileType) != kVariantFalse) return;
    saveFailed = true;
    throw AutomationError(failure::kInvalidCall, {});
  };

  try {
    std::int32_t checked = 0;
    steps.Run([&] { checked = CheckOutputPath(); });
    if (checked < 0) return checked;

    VariantBool started = kVariantFalse;
    steps.Run([&] { started = apps_.StartPowerPoint(); });
    if (started == kVariantFalse) return catalog::kPowerPointNotCreated;

    steps.Run([&] {
      // Read-write, titled, without a window.
      input.presentation = apps_.PowerPointApplication->Presentations()->Open(s_.InputFile, office::kMsoFalse,
                                                                              office::kMsoFalse, office::kMsoFalse);
    });
    steps.Run([&] { NormalizeSlideRange(s_, *input.presentation); });
    steps.Run([&] { c_.progress.SetPercentageComplete(0); });

    float step = 0;
    steps.Run([&] { step = ProgressStep(s_.StartSlide, s_.EndSlide); });
    // The range is read once: the loops below do not see later changes of StartSlide and EndSlide.
    const std::int64_t first = s_.StartSlide;
    const std::int64_t last = s_.EndSlide;
    const std::int64_t chosen = last - first + 1;

    std::int32_t slideCount = 0;
    steps.Run([&] { slideCount = input->Slides()->Count(); });

    const bool multiFile = s_.MultiFileOutput != kVariantFalse;
    const bool labels = s_.ShowSlideAndShapeNumber != kVariantFalse;

    if (s_.TargetFileType == kWebArchive || (chosen == slideCount && !labels && !multiFile)) {
      // The whole presentation, saved from the opened input under OutputFile.
      steps.Run([&] { save(*input.presentation, s_.OutputFile); });
      steps.Run([&] { c_.progress.SetPercentageComplete(50); });
      steps.Run([&] { input.Close(); });
      steps.Run([&] { c_.progress.SetPercentageComplete(100); });
    } else if (multiFile) {
      // One new presentation per slide, each saved as <base>Slide<i>.<extension>; no labels.
      const std::u16string extension(catalog::Extension(s_.TargetFileType));
      const std::u16string base = WithoutExtension(text::TrimSpaces(s_.OutputFile), extension);
      for (std::int64_t i = first; i <= last; ++i) {
        const std::u16string fileName = base + u"Slide" + text::Decimal(i) + u"." + extension;
        steps.Run([&] { RefuseInputAsOutput(s_.InputFile, fileName); });
        steps.Run(
            [&] { assembled.presentation = apps_.PowerPointApplication->Presentations()->Add(office::kMsoFalse); });
        steps.Run([&] { CopySlideSize(*input.presentation, *assembled.presentation); });
        steps.Run([&] { input->Slides()->Item(static_cast<std::int32_t>(i))->Copy(); });
        steps.Run([&] { assembled->Slides()->Paste(kPasteAtEnd); });
        steps.Run([&] { c_.progress.AdvanceProgress(step); });
        steps.Run([&] { save(*assembled.presentation, fileName); });
        steps.Run([&] { assembled.Close(); });
      }
      steps.Run([&] { input.Close(); });
    } else {
      // The chosen slides in one new presentation, labelled when asked.
      steps.Run([&] { assembled.presentation = apps_.PowerPointApplication->Presentations()->Add(office::kMsoFalse); });
      steps.Run([&] { CopySlideSize(*input.presentation, *assembled.presentation); });
      std::int32_t k = 0;
      for (std::int64_t i = first; i <= last; ++i) {
        ++k;
        steps.Run([&] { input->Slides()->Item(static_cast<std::int32_t>(i))->Copy(); });
        steps.Run([&] { assembled->Slides()->Paste(kPasteAtEnd); });
        if (labels) {
          std::shared_ptr<office::ppt::Shapes> shapes;
          std::int32_t shapeCount = 0;
          steps.Run([&] {
            shapes = assembled->Slides()->Item(k)->Shapes();
            shapeCount = shapes->Count();
          });
          for (std::int64_t m = 1; m <= shapeCount; ++m) {
            steps.Run([&] {
              const auto shape = shapes->Item(static_cast<std::int32_t>(m));
              if (shape->HasTextFrame() != 0) shape->TextFrame()->TextRange()->InsertBefore(SlideAndShapeLabel(i, m));
            });
          }
        }
        steps.Run([&] { c_.progress.AdvanceProgress(step); });
      }
      steps.Run([&] { save(*assembled.presentation, s_.OutputFile); });
      steps.Run([&] { assembled.Close(); });
      steps.Run([&] { input.Close(); });
    }

    steps.Run([&] {
      result = apps_.QuitPowerPoint() != kVariantFalse ? catalog::kSuccess : catalog::kPowerPointNotDestroyed;
    });
    return result;
  } catch (const RunEnded&) {
    assembled.CloseQuietly();
    input.CloseQuietly();
    apps_.QuitPowerPoint();
    return result;
  }
}

}  // namespace

std::int32_t ConvertWithSaveAs(Context& context) { return SaveAsConverter(context).Run(); }

}  // namespace quorvane::converters
