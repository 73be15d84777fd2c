// Conversion through Word: slides travel from PowerPoint to Word documents over the clipboard
// (PowerPoint copies a slide, Word pastes its picture), optionally followed by the text of the
// slide's notes page; Word saves the result in its format number TargetFileType - 100.
//
// One document holds the whole range (MultiFileOutput false, saved under OutputFile as given), or
// each slide gets a document of its own named <base>_Slide<i>.<extension>, where the extension is
// ImageFilterName of the target code and the base is the trimmed OutputFile without a trailing
// ".<extension>". A code outside the filter table has an empty extension: nothing is removed from
// the base and the names end in a bare dot ("deck_Slide1."), which Word then receives as given.
//
// Failures: every failure of the run goes to one failure path that reports it (429 -> -9,
// 48 -> -1, anything else -> -10) and keeps it as the conversion's failure cause, closes the Word document and the presentation when they are
// held, and hands PowerPoint and then Word back. Nothing is repeated or skipped and nothing is
// logged. A failure inside that path escapes the conversion as an AutomationError.
#include <cstdint>
#include <memory>
#include <string>

#include "common/text.hpp"
#include "converters/context.hpp"
#include "converters/steps.hpp"
#include "quorvane/catalog.hpp"

namespace quorvane::converters {
namespace {

using office::ppt::Presentation;
using office::word::Document;

constexpr std::int32_t kSaveChanges = -1;  // Document.Close: save changes

// Runs `fn` as part of the failure path: whatever fails there leaves the conversion as an
// AutomationError (object-model failures already are one; anything else is translated).
template <typename Fn>
void InFailurePath(Fn&& fn) {
  try {
    fn();
  } catch (const AutomationError&) {
    throw;
  } catch (...) {
    Failure failure = CurrentFailure();
    throw AutomationError(failure.number, std::move(failure.description));
  }
}

// Word's format number for a target code: the code minus 100, in 32-bit arithmetic that fails
// with run-time error 6 (and so ends the run with -10) instead of wrapping.
std::int32_t WordFormatNumber(std::int32_t targetFileType) {
  std::int32_t format = 0;
  if (__builtin_sub_overflow(targetFileType, 100, &format)) throw AutomationError(failure::kOverflow, u"Overflow");
  return format;
}

// One conversion through Word. Holds the presentation and the document being built; both
// references are dropped as soon as the object has been closed successfully, so that the failure
// path never closes an object a second time (Word fails a Close on a closed document, which would
// turn a reported -10 into a failed automation call).
class WordConverter final : public Converter {
 public:
  explicit WordConverter(Context& context)
      : Converter(context),
        steps_(Steps::Path{[this](const Failure& f) { return Report(f); }, [this](const Failure& f) { Report(f); }}) {}
  std::int32_t Run() override {
    try {
      return Body();
    } catch (const RunEnded&) {
      return CleanUp();
    }
  }

 private:
  std::int32_t Body() {
    bool ok = false;
    steps_.Run([&] { ok = apps_.StartPowerPoint() == kVariantTrue; });
    if (!ok) return catalog::kPowerPointNotCreated;
    steps_.Run([&] { ok = apps_.StartWord() == kVariantTrue; });
    if (!ok) return catalog::kWordNotCreated;  // PowerPoint stays as StartPowerPoint left it

    steps_.Run([&] {
      presentation_ = PowerPoint().Presentations()->Open(s_.InputFile, 1, 1, 0);
      if (!presentation_) throw AutomationError(failure::kObjectNotSet, u"Object variable not set");
    });
    steps_.Run([&] { NormalizeSlideRange(s_, *presentation_); });
    steps_.Run([&] { c_.progress.SetPercentageComplete(0); });
    float step = 0;
    steps_.Run([&] { step = ProgressStep(s_.StartSlide, s_.EndSlide); });

    // Any non-zero value asks for one document per slide.
    bool perSlide = false;
    steps_.Run([&] { perSlide = s_.MultiFileOutput != kVariantFalse; });
    if (perSlide)
      DocumentPerSlide(step);
    else
      OneDocument(step);

    steps_.Run([&] {
      presentation_->Close();
      presentation_.reset();
    });
    steps_.Run([&] { ok = apps_.QuitPowerPoint() == kVariantTrue; });
    if (!ok) return catalog::kPowerPointNotDestroyed;  // Word is not handed back then
    steps_.Run([&] { ok = apps_.QuitWord() == kVariantTrue; });
    return ok ? catalog::kSuccess : catalog::kWordNotDestroyed;
  }

  void OneDocument(float step) {
    NewDocument();
    // The bounds are read once; the counter is wider than the bounds so that it cannot wrap.
    const std::int64_t first = s_.StartSlide, last = s_.EndSlide;
    for (std::int64_t i = first; i <= last; ++i) {
      SlideContent(static_cast<std::int32_t>(i), /*pageBreaks=*/true);
      steps_.Run([&] { c_.progress.AdvanceProgress(step); });
    }
    steps_.Run([&] { c_.progress.SetPercentageComplete(100); });
    steps_.Run([&] { document_->SaveAs(s_.OutputFile, WordFormatNumber(s_.TargetFileType)); });
    CloseDocument();
  }

  void DocumentPerSlide(float step) {
    // Extension and base are fixed before the first slide; the format number is read at every save.
    std::u16string extension, base;
    steps_.Run([&] {
      extension = ImageFilterName(s_.TargetFileType);
      base = WithoutExtension(text::TrimSpaces(s_.OutputFile), extension);
    });
    const std::int64_t first = s_.StartSlide, last = s_.EndSlide;
    for (std::int64_t i = first; i <= last; ++i) {
      const auto slide = static_cast<std::int32_t>(i);
      NewDocument();
      SlideContent(slide, /*pageBreaks=*/false);
      steps_.Run([&] {
        document_->SaveAs(base + u"_Slide" + text::Decimal(slide) + u"." + extension,
                          WordFormatNumber(s_.TargetFileType));
      });
      CloseDocument();
      steps_.Run([&] { c_.progress.AdvanceProgress(step); });
    }
    steps_.Run([&] { c_.progress.SetPercentageComplete(100); });
  }

  // A new document whose page has the slide's size. The new document replaces the reference.
  void NewDocument() {
    steps_.Run([&] {
      document_ = Word().Documents()->Add();
      if (!document_) throw AutomationError(failure::kObjectNotSet, u"Object variable not set");
    });
    // The slide's size is read first, then set on the page, height before width.
    steps_.Run([&] {
      const float height = presentation_->PageSetup()->SlideHeight();
      document_->PageSetup()->put_PageHeight(height);
    });
    steps_.Run([&] {
      const float width = presentation_->PageSetup()->SlideWidth();
      document_->PageSetup()->put_PageWidth(width);
    });
  }

  void CloseDocument() {
    steps_.Run([&] {
      document_->Close(kSaveChanges);
      document_.reset();
    });
  }

  // The slide's picture and/or its notes text, appended at Word's insertion point. IncludeNotes,
  // NotesOnly and StartSlide are read here, so a change made from a Progress handler applies from
  // the next slide on.
  void SlideContent(std::int32_t i, bool pageBreaks) {
    const VariantBool includeNotes = s_.IncludeNotes;
    const VariantBool notesOnly = s_.NotesOnly;
    // Only IncludeNotes exactly true counts as true; any other non-zero value gives neither the
    // picture nor the notes.
    if (includeNotes == kVariantFalse || (includeNotes == kVariantTrue && notesOnly == kVariantFalse)) {
      steps_.Run([&] { presentation_->Slides()->Item(i)->Copy(); });
      if (pageBreaks) {
        steps_.Run([&] {
          if (i > s_.StartSlide) Word().Selection()->InsertBreak(office::word::kPageBreak);
        });
      }
      steps_.Run([&] { Word().Selection()->Paste(); });
    }
    if (includeNotes != kVariantTrue) return;

    // The text frame is tested on the j-th placeholder of the notes page, the shape whose text is
    // then read. (Testing the j-th shape of the page instead, as a page whose placeholders come first
    // would allow, goes wrong on pages with other shapes in front: a text box in front of the slide
    // picture made the conversion fail asking the picture for its text, and a picture in front
    // made the notes text be passed over.)
    std::int32_t count = 0;
    steps_.Run([&] { count = presentation_->Slides()->Item(i)->NotesPage()->Shapes()->Placeholders()->Count(); });
    for (std::int32_t j = 1; j <= count; ++j) {
      steps_.Run([&] {
        const auto placeholder = presentation_->Slides()->Item(i)->NotesPage()->Shapes()->Placeholders()->Item(j);
        if (placeholder->HasTextFrame() == office::kMsoFalse) return;
        const std::u16string notes = placeholder->TextFrame()->TextRange()->Text();
        if (notes.empty()) return;
        Word().Selection()->InsertParagraphAfter();
        Word().Selection()->InsertAfter(notes);
      });
      if (j == count) break;  // count may be the largest 32-bit value
    }
  }

  Resolution Report(const Failure& f) {
    InFailurePath([&] {
      switch (f.number) {
        case failure::kCannotCreateObject:
          result_ = catalog::kOfficeNotInstalled;
          break;
        case failure::kLibraryNotLoaded:
          result_ = catalog::kDllNotOpened;
          break;
        default:
          result_ = catalog::kConversionFailed;
          break;
      }
      c_.errors.KeepFailureCause(f.number, f.description);
      c_.errors.RaiseError(result_, {});
    });
    return Resolution::End;
  }

  // After the report: close what is held, hand the applications back, return the result.
  std::int32_t CleanUp() {
    std::int32_t result = result_;
    InFailurePath([&] {
      if (document_) document_->Close(kSaveChanges);
      if (presentation_) presentation_->Close();
      if (apps_.QuitPowerPoint() != kVariantTrue) {
        result = catalog::kPowerPointNotDestroyed;
        return;
      }
      if (apps_.QuitWord() != kVariantTrue) result = catalog::kWordNotDestroyed;
    });
    return result;
  }

  office::ppt::Application& PowerPoint() {
    if (!apps_.PowerPointApplication) throw AutomationError(failure::kObjectNotSet, u"Object variable not set");
    return *apps_.PowerPointApplication;
  }
  office::word::Application& Word() {
    if (!apps_.WordApplication) throw AutomationError(failure::kObjectNotSet, u"Object variable not set");
    return *apps_.WordApplication;
  }

  Steps steps_;
  std::int32_t result_ = catalog::kConversionFailed;
  std::shared_ptr<Presentation> presentation_;
  std::shared_ptr<Document> document_;
};

}  // namespace

std::int32_t ConvertThroughWord(Context& context) { return WordConverter(context).Run(); }

}  // namespace quorvane::converters
