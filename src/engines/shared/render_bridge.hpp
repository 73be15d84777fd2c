#pragma once
// The bridge between the native presentation engine and the renderer: what the engine cannot do
// itself (writing PDF and legacy or foreign formats, drawing slides, reading legacy and
// OpenDocument presentations) it asks of the renderer (engines/shared/renderer.hpp) through these calls.
//
// How. The renderer works on files, the engine on a model in memory. Saving and drawing therefore
// go through a temporary Office Open XML copy of the model's current state (written by the
// engine's own writer of format 24) that the renderer loads. The copy lives in a private temporary
// folder held by the presentation (RenderState) and is reused while the presentation is unchanged,
// so exporting every slide of a presentation writes it once. Opening a legacy or OpenDocument file
// converts it into Office Open XML in a private temporary folder that the presentation holds while
// it lives; the original is only read (and held, so that no save of this process replaces it).
//
// Lifetime. An application takes a renderer lease at its first renderer use and keeps it until
// Quit (ApplicationState::renderer): so an application that lives across conversions keeps the
// office warm, and one that quits after each conversion ends it.
//
// Failures keep the renderer's numbers (engines/libreoffice/failures.hpp); an unserved picture
// filter fails with 0x80004005. Built without the renderer, the renderer's save formats stay
// unregistered (a save in them fails as any unknown format), Slide.Export fails with 0x80004005
// and legacy or foreign files are refused by the native engine as before.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::engines::pptx {
class PresentationModel;
struct SlideRecord;
struct ApplicationState;
}  // namespace quorvane::engines::pptx

namespace quorvane::engines::render_bridge {

// Whether the component was built with the renderer.
bool RendererBuiltIn();

// Registers the save formats the renderer writes: 32 (PDF), 1 (.ppt), 5 (.pot), 7 (.pps) and
// 35 (.odp), and those made from its slide pictures: 12, 13, 14 (web page) and 20 (web archive,
// engines/web_page.hpp), 15 (metafile folder, engines/slide_output.hpp), 36 (picture presentation,
// engines/picture_show.hpp). Once per process; later calls do nothing. Does nothing without the
// renderer.
void RegisterSaveFormats();

// Pictures of the slides `slideNumbers` (1-based) of `model` through the picture filter `filterName`
// at 96 dots per inch, drawn in one load of the presentation (slides drawn before for the same
// state and filter, by this or by ExportSlide, are not drawn again). One file per number, in
// order; the files are the bridge's, valid until the presentation changes or is drawn with another
// filter or size. Fails as ExportSlide does; 0x8002000B for a number that is no slide.
std::vector<std::string> SlidePictures(pptx::PresentationModel& model, const std::vector<std::int32_t>& slideNumbers,
                                       const std::string& filterName);

// Slide.Export: one picture of `slide` of `model` in `fileName` through the picture filter
// `filterName` ("GIF", "JPG", "PNG", "BMP", "TIF", "EMF", "WMF"), `width` x `height` pixels (0 x 0:
// 96 dots per inch), at JPEG quality `quality` (1 to 100; 0 the filter's default).
void ExportSlide(pptx::PresentationModel& model, const pptx::SlideRecord& slide, const std::u16string& fileName,
                 const std::u16string& filterName, std::int32_t width, std::int32_t height, std::int32_t quality = 0);

// Presentation.ExportAsFixedFormat: `model` as a PDF in `path` (UTF-8, checked as a save checks
// it), hidden slides included or not, the notes pages instead of the slides, PDF/A-2b. Fails with
// 0x80004005 without the renderer.
void ExportPdf(pptx::PresentationModel& model, const std::string& path, bool hiddenSlides, bool notesPages, bool pdfa);

// Whether `path` (UTF-8) is a presentation the renderer can read but the native engine cannot: an
// OLE compound file (a legacy binary presentation) or an OpenDocument presentation (zipped or
// flat XML). Always false without the renderer; false for empty and unreadable files.
bool IsForeignPresentation(const std::string& path);

// Presentations.Open of such a file: converts it to Office Open XML in a private temporary folder
// and opens that with the native engine. Fails with the renderer's numbers (an encrypted input at
// once with 0x80070005), then with the package layer's.
std::shared_ptr<pptx::PresentationModel> OpenForeign(const std::shared_ptr<pptx::ApplicationState>& app,
                                                     const std::string& path);

// The application that wrote the original of a presentation opened through OpenForeign: an
// OpenDocument file's generator, "" where the original names none (a legacy binary file, here).
// nullopt for a presentation the native engine opened itself. (The document properties of such a
// presentation are those of the copy the office converted, which name the office.)
std::optional<std::string> ForeignApplication(const pptx::PresentationModel& model);

}  // namespace quorvane::engines::render_bridge
