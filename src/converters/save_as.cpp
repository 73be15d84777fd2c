// The save-as conversion: PowerPoint writes the output with its own save, in one of three modes
// (the whole presentation, the chosen slides in one new presentation, or one new presentation per
// slide). The converter checks the input and output names before PowerPoint is started.
#include <cstdint>
#include <memory>
#include <string>

#include "common/paths.hpp"
#include "common/text.hpp"
#include "control/control.hpp"
#include "converters/steps.hpp"

namespace quorvane::detail {
namespace {

using office::ppt::Presentation;

constexpr std::int32_t kWebArchive = 20;  // always saved as the whole presentation
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

}  // namespace

// Each refusal keeps its cause: the name refused and why, with the platform's number for it.
std::int32_t Control::CheckOutputPath() {
  std::int32_t code = 0;
  if (InputFile.empty()) {
    code = -2;
    KeepFailureCause(failure::kInvalidCall, u"InputFile is empty");
  } else if (OutputFile.empty()) {
    code = -3;
    KeepFailureCause(failure::kInvalidCall, u"OutputFile is empty");
  } else if (!paths::FindsNormalFile(InputFile)) {
    code = -5;
    KeepFailureCause(failure::kFileNotFound, paths::FolderExists(InputFile) ? InputFile + u" is a folder, not a file"
                                                                             : u"no file at " + InputFile);
  }
  // Equal texts, ignoring case, are refused as they always were; so are different texts that
  // name one file (a relative name, "." or ".." segments, a link), which the save would overwrite.
  else if (text::EqualsIgnoreCase(InputFile, OutputFile) || paths::SameFile(InputFile, OutputFile)) {
    code = -6;
    KeepFailureCause(failure::kInvalidCall, u"InputFile and OutputFile name the same file: " + OutputFile);
  } else if (const std::u16string folder = paths::FolderPart(OutputFile); !paths::FolderExists(folder)) {
    code = -11;
    KeepFailureCause(failure::kPathNotFound,
                     folder.empty() ? u"OutputFile " + OutputFile + u" names no folder" : u"no folder at " + folder);
  }
  if (code != 0) RaiseError(code, {});
  return code;
}

VariantBool Control::SavePresentationAs(office::ppt::Presentation& presentation, const std::u16string& fileName,
                                        std::int32_t fileType) {
  try {
    presentation.SaveAs(fileName, fileType, office::kMsoFalse);
    return kVariantTrue;
  } catch (...) {
    Failure failure = CurrentFailure();
    KeepFailureCause(failure.number, std::move(failure.description));
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
std::int32_t Control::ConvertWithSaveAs() {
  std::int32_t result = -10;
  bool saveFailed = false;
  OpenPresentation input;
  OpenPresentation assembled;

  Steps steps({[&](const Failure& f) {
                 result = saveFailed ? -16 : -10;
                 if (!saveFailed) KeepFailureCause(f.number, f.description);
                 RaiseError(result, saveFailed ? std::u16string() : f.description);
                 return Resolution::End;
               },
               [&](const Failure& f) {
                 result = -10;
                 KeepFailureCause(f.number, f.description);
                 RaiseError(result, f.description);
               }});

  // A save that PowerPoint refuses goes to the failure path without a description of its own.
  const auto save = [&](Presentation& presentation, const std::u16string& fileName) {
    if (SavePresentationAs(presentation, fileName, TargetFileType) != kVariantFalse) return;
    saveFailed = true;
    throw AutomationError(failure::kInvalidCall, {});
  };

  try {
    std::int32_t checked = 0;
    steps.Run([&] { checked = CheckOutputPath(); });
    if (checked < 0) return checked;

    VariantBool started = kVariantFalse;
    steps.Run([&] { started = StartPowerPoint(); });
    if (started == kVariantFalse) return -12;

    steps.Run([&] {
      // Read-write, titled, without a window.
      input.presentation = PowerPointApplication->Presentations()->Open(InputFile, office::kMsoFalse, office::kMsoFalse,
                                                                        office::kMsoFalse);
    });
    steps.Run([&] { NormalizeSlideRange(*input.presentation); });
    steps.Run([&] { SetPercentageComplete(0); });

    float step = 0;
    steps.Run([&] { step = ProgressStep(StartSlide, EndSlide); });
    // The range is read once: the loops below do not see later changes of StartSlide and EndSlide.
    const std::int64_t first = StartSlide;
    const std::int64_t last = EndSlide;
    const std::int64_t chosen = last - first + 1;

    std::int32_t slideCount = 0;
    steps.Run([&] { slideCount = input->Slides()->Count(); });

    const bool multiFile = MultiFileOutput != kVariantFalse;
    const bool labels = ShowSlideAndShapeNumber != kVariantFalse;

    if (TargetFileType == kWebArchive || (chosen == slideCount && !labels && !multiFile)) {
      // The whole presentation, saved from the opened input under OutputFile.
      steps.Run([&] { save(*input.presentation, OutputFile); });
      steps.Run([&] { SetPercentageComplete(50); });
      steps.Run([&] { input.Close(); });
      steps.Run([&] { SetPercentageComplete(100); });
    } else if (multiFile) {
      // One new presentation per slide, each saved as <base>Slide<i>.<extension>; no labels.
      const std::u16string extension = LookUpSaveAsExtension(TargetFileType, kVariantFalse);
      const std::u16string base = WithoutExtension(text::TrimSpaces(OutputFile), extension);
      for (std::int64_t i = first; i <= last; ++i) {
        const std::u16string fileName = base + u"Slide" + text::Decimal(i) + u"." + extension;
        steps.Run([&] { RefuseInputAsOutput(InputFile, fileName); });
        steps.Run([&] { assembled.presentation = PowerPointApplication->Presentations()->Add(office::kMsoFalse); });
        steps.Run([&] { CopySlideSize(*input.presentation, *assembled.presentation); });
        steps.Run([&] { input->Slides()->Item(static_cast<std::int32_t>(i))->Copy(); });
        steps.Run([&] { assembled->Slides()->Paste(kPasteAtEnd); });
        steps.Run([&] { AdvanceProgress(step); });
        steps.Run([&] { save(*assembled.presentation, fileName); });
        steps.Run([&] { assembled.Close(); });
      }
      steps.Run([&] { input.Close(); });
    } else {
      // The chosen slides in one new presentation, labelled when asked.
      steps.Run([&] { assembled.presentation = PowerPointApplication->Presentations()->Add(office::kMsoFalse); });
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
        steps.Run([&] { AdvanceProgress(step); });
      }
      steps.Run([&] { save(*assembled.presentation, OutputFile); });
      steps.Run([&] { assembled.Close(); });
      steps.Run([&] { input.Close(); });
    }

    steps.Run([&] { result = QuitPowerPoint() != kVariantFalse ? 0 : -13; });
    return result;
  } catch (const RunEnded&) {
    assembled.CloseQuietly();
    input.CloseQuietly();
    QuitPowerPoint();
    return result;
  }
}

}  // namespace quorvane::detail
