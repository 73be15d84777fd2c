// Text export: the slides of a presentation as ANSI text (code 200) or UTF-16LE text (107), in one
// file or one file per slide, written through the control's public text writer (text_writer.hpp).
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/numbered_files.hpp"
#include "common/output_file.hpp"
#include "common/text.hpp"
#include "converters/context.hpp"
#include "converters/slide_text.hpp"
#include "diagnostics/log.hpp"
#include "converters/steps.hpp"
#include "quorvane/catalog.hpp"

namespace quorvane::converters {
namespace {

namespace ppt = office::ppt;

// Stored in the text variable before each read of a notes placeholder: when it is still there
// after the read, no text was obtained.
constexpr std::u16string_view kNoTextMarker = u"ApplesAndOranges";

// An object the model answered with, or run-time error 91 for an unset reference.
template <typename T>
std::shared_ptr<T> Set(std::shared_ptr<T> object) {
  if (!object) throw AutomationError(failure::kObjectNotSet, u"Object variable or With block variable not set");
  return object;
}
template <typename T>
T& Use(const std::shared_ptr<T>& object) {
  return *Set(object);
}

// One run of ConvertToText. Holds the run's working values, which the failure path consults (the
// step being performed, the slide and shape counters), and the open presentation. Every object
// request navigates from the presentation anew; nothing of the object model is cached.
//
// The body is a sequence of steps under one Steps failure path. A run that ends goes through
// Cleanup, which reports nothing more: the path reported when it decided to end.
class TextExporter final : public Converter {
 public:
  explicit TextExporter(Context& context)
      : Converter(context),
        steps_({[this](const Failure& f) { return Resolve(f); },
                [this](const Failure& f) { Report(catalog::kConversionFailed, f); }}) {}

  std::int32_t Run() override {
    if (apps_.StartPowerPoint() != kVariantTrue) return catalog::kPowerPointNotCreated;
    try {
      openingPresentation_ = true;
      Step([&] { presentation_ = Use(Use(apps_.PowerPointApplication).Presentations()).Open(s_.InputFile, 0, 0, 0); });
      openingPresentation_ = false;
      Step([&] { NormalizeSlideRange(s_, Presentation()); });
      Step([&] { c_.progress.SetPercentageComplete(0); });
      // Before any output file is opened: a range without slides ends the run here.
      Step([&] { progressStep_ = ProgressStep(s_.StartSlide, s_.EndSlide); });
      if (s_.MultiFileOutput != kVariantFalse)
        PerSlideFiles();
      else
        OneFile();
      Step([&] { Presentation().Close(); });
      Step([&] { PutOutputsInPlace(); });
    } catch (const RunEnded& ended) {
      return Cleanup(ended.failure);
    }
    return apps_.QuitPowerPoint() == kVariantTrue ? catalog::kSuccess : catalog::kPowerPointNotDestroyed;
  }

 private:
  template <typename Fn>
  void Step(Fn&& fn) {
    steps_.Run(std::forward<Fn>(fn));
  }

  // --- Failure path ------------------------------------------------------------------------

  // Reports `code` for the failure `f`, which becomes the conversion's failure cause.
  void Report(std::int32_t code, const Failure& f) {
    result_ = code;
    c_.errors.KeepFailureCause(f.number, f.description);
    c_.errors.RaiseError(code, {});
  }

  Resolution Resolve(const Failure& f) {
    switch (f.number) {
      case failure::kCannotCreateObject:
        Report(catalog::kOfficeNotInstalled, f);
        return Resolution::End;
      case failure::kFileAlreadyOpen:
        Report(catalog::kOutputFileNameMissing, f);
        CloseTextFile();
        return Resolution::Repeat;
      case failure::kLibraryNotLoaded:
        Report(catalog::kDllNotOpened, f);
        return Resolution::End;
      case failure::kPathFileAccessError:
        Report(catalog::kTargetReadOnly, f);
        return Resolution::End;
      case failure::kEInvalidArg:
        return Resolution::Skip;
      case failure::kPowerPointInvalidRequest:
        UngroupCurrentShape();
        return Resolution::Repeat;
      default:
        break;
    }
    if (openingPresentation_) return Resolution::Repeat;
    Report(catalog::kConversionFailed, f);
    return Resolution::End;
  }

  // PowerPoint refuses some requests on shapes inside groups: the shape under the current counter
  // of slide i is ungrouped before the step is tried again. The change is never saved.
  void UngroupCurrentShape() {
    try {
      Set(SlideShapes()->Item(inNotes_ ? k_ : j_))->Ungroup();
    } catch (...) {
      // An ungrouping that fails changes nothing; the repeated step decides.
    }
  }

  // Reports nothing (the path has), closes what the run holds, hands PowerPoint back and logs.
  // Closing the presentation is not guarded: a failure there ends the call as a failed automation
  // call.
  std::int32_t Cleanup(const Failure& ended) {
    if (textFileOpen_) {
      // A file left open would make the next export to the same name fail with 55; the run has
      // failed already, so a failure to close is of no further consequence and must not keep the
      // presentation open.
      try {
        CloseTextFile();
      } catch (...) {
      }
    }
    // The old outputs stay as they were; what this run wrote goes.
    pending_.clear();
    if (presentation_) presentation_->Close();
    if (apps_.QuitPowerPoint() == kVariantTrue)
      diagnostics::WriteLog(std::u16string(diagnostics::kLogFileName),
                            text::Decimal(ended.number) + u" - " + ended.description);
    return result_;
  }

  // --- Navigation --------------------------------------------------------------------------

  ppt::Presentation& Presentation() { return Use(presentation_); }
  std::shared_ptr<ppt::Slide> Slide() { return Set(Set(Presentation().Slides())->Item(i_)); }
  std::shared_ptr<ppt::Shapes> SlideShapes() { return Set(Slide()->Shapes()); }
  std::shared_ptr<ppt::Shapes> NotesShapes() { return Set(Set(Slide()->NotesPage())->Shapes()); }

  static std::u16string TextOf(ppt::Shape& shape) { return Use(Use(shape.TextFrame()).TextRange()).Text(); }

  // --- Output file -------------------------------------------------------------------------

  // Each output is written into a temporary file beside it, and all of them are put in place
  // together when the run has succeeded: a failed run leaves the old outputs byte for byte. The
  // target is checked first, with the run-time errors the writer's own open raises for it (55 open
  // elsewhere, 75 read-only or otherwise refused, 76 missing folder, 64 name too long). A device
  // or pipe is written through.
  void OpenTextFile(const std::u16string& name) {
    files::CheckForWriting(name);
    std::unique_ptr<output::PendingFile> file;
    try {
      file = std::make_unique<output::PendingFile>(text::ToUtf8(name));
    } catch (const output::OutputError& error) {
      files::ThrowRunTimeError(error);
    }
    file->CloseDescriptor();  // the writer opens it by name; a run may hold one per slide
    c_.writer.OpenTextFileForWriting(file->stream() ? name : text::FromUtf8(file->temporaryPath()));
    textFileOpen_ = true;
    pending_.push_back(std::move(file));
  }

  void PutOutputsInPlace() {
    try {
      output::CommitAll(pending_);
    } catch (const output::OutputError& error) {
      files::ThrowRunTimeError(error);
    }
    pending_.clear();
  }

  void CloseTextFile() {
    textFileOpen_ = false;
    c_.writer.CloseTextFileForWriting();
  }

  // --- Layouts -----------------------------------------------------------------------------

  // Bounds read once. The counter is wider than the bounds, so the last slide of any range ends the
  // loop without overflow.
  template <typename Fn>
  void ForEachSlide(Fn&& body) {
    const std::int64_t first = s_.StartSlide, last = s_.EndSlide;
    for (std::int64_t n = first; n <= last; ++n) {
      i_ = static_cast<std::int32_t>(n);
      body();
    }
  }

  // One file per slide, named OutputFile + "Slide" + i + ".txt", holding the bare text of the
  // slide's shapes that have a text frame.
  void PerSlideFiles() {
    ForEachSlide([&] {
      Step([&] { OpenTextFile(s_.OutputFile + u"Slide" + text::Decimal(i_) + u".txt"); });
      std::int32_t count = 0;
      Step([&] { count = SlideShapes()->Count(); });
      for (std::int64_t n = 1; n <= count; ++n) {
        j_ = static_cast<std::int32_t>(n);
        // The test and the read stand or fall together: a skipped read writes nothing, rather than
        // the previous shape's text again.
        bool read = false;
        Step([&] {
          read = false;
          if (Set(SlideShapes()->Item(j_))->HasTextFrame() != 0) {
            text_ = TextOf(*Set(SlideShapes()->Item(j_)));
            read = true;
          }
        });
        if (read) Step([&] { c_.writer.WriteToTextFile(text_); });
      }
      Step([&] { c_.progress.AdvanceProgress(progressStep_); });
      Step([&] { CloseTextFile(); });
    });
    Step([&] { c_.progress.SetPercentageComplete(100); });
  }

  // One file: per slide the labelled text of every shape, then the notes when asked for.
  void OneFile() {
    Step([&] { OpenTextFile(s_.OutputFile); });
    ForEachSlide([&] {
      if (s_.IncludeNotes == 0 || (s_.IncludeNotes == kVariantTrue && s_.NotesOnly == 0)) {
        std::int32_t count = 0;
        Step([&] { count = SlideShapes()->Count(); });
        for (std::int64_t n = 1; n <= count; ++n) {
          j_ = static_cast<std::int32_t>(n);
          Step([&] {
            c_.writer.WriteToTextFile(
                ExtractSlideText(Presentation(), i_, j_, s_.ShowSlideAndShapeNumber == kVariantTrue));
          });
        }
      }
      if (s_.IncludeNotes == kVariantTrue) Notes();
      Step([&] { c_.progress.AdvanceProgress(progressStep_); });
    });
    Step([&] { c_.progress.SetPercentageComplete(100); });
    Step([&] { CloseTextFile(); });
  }

  // The notes of slide i: found at the first notes-page shape with a text frame, written once.
  void Notes() {
    inNotes_ = true;
    std::int32_t count = 0;
    Step([&] { count = NotesShapes()->Count(); });
    for (std::int64_t n = 1; n <= count; ++n) {
      k_ = static_cast<std::int32_t>(n);
      bool hasTextFrame = false;
      Step([&] { hasTextFrame = Set(NotesShapes()->Item(k_))->HasTextFrame() != 0; });
      if (!hasTextFrame) continue;
      if (s_.ShowSlideAndShapeNumber == kVariantTrue)
        Step([&] {
          c_.writer.WriteToTextFile(u"----- Slide(" + text::Decimal(i_) + u") Notes(" + text::Decimal(k_) + u") -----");
        });
      std::int32_t placeholders = 0;
      Step([&] { placeholders = Set(NotesShapes()->Placeholders())->Count(); });
      for (std::int64_t m = 1; m <= placeholders; ++m) {
        p_ = static_cast<std::int32_t>(m);
        // A placeholder whose text cannot be read is passed over. Writing is a step of its own:
        // output that cannot be written fails the run rather than vanish from a file reported as
        // complete.
        text_ = kNoTextMarker;
        try {
          text_ = TextOf(*Set(Set(NotesShapes()->Placeholders())->Item(p_)));
        } catch (...) {
        }
        if (text_ != kNoTextMarker) Step([&] { c_.writer.WriteToTextFile(text_); });
        text_ = kNoTextMarker;
      }
      break;
    }
    inNotes_ = false;
  }

  Steps steps_;
  std::int32_t result_ = catalog::kConversionFailed;
  std::shared_ptr<ppt::Presentation> presentation_;
  float progressStep_ = 0;
  std::int32_t i_ = 0, j_ = 0, k_ = 0, p_ = 0;  // slide, shape, notes shape, notes placeholder
  std::u16string text_;
  bool openingPresentation_ = false;  // the open of the presentation is repeated on any failure
  bool inNotes_ = false;              // ungrouping takes the notes-shape counter
  bool textFileOpen_ = false;         // this run holds the file in TextFileNumber
  // The outputs written so far, each in its temporary file until the run has succeeded.
  std::vector<std::unique_ptr<output::PendingFile>> pending_;
};

}  // namespace

std::int32_t ConvertToText(Context& context) { return TextExporter(context).Run(); }

}  // namespace quorvane::converters
