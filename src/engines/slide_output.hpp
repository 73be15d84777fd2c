#pragma once
// What the save formats built from slide pictures share (the web page and web archive, the
// metafile folder, the picture presentation): the slides' texts as the object model reads them,
// the pictures a renderer draws, and output folders that appear complete or not at all.
//
// The writers here never draw: they are handed a SlideDrawer (the renderer bridge's in the
// component, a stand-in in tests), so that everything but the drawing works without an office.
//
// Failures are AutomationErrors with the package layer's numbers (common/failures.hpp): path not
// found for a missing folder, access denied for a folder or file that cannot be written or is in
// the way, disk full; the drawer's own failures pass unchanged. Whatever fails, nothing is left under
// the output's names that was not there before, and what was there is as it was.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/output_file.hpp"
#include "engines/pptx/model_write.hpp"

namespace quorvane::engines::slide_output {

// Draws slides of a presentation (1-based numbers in its current order) through a picture filter
// ("PNG", "WMF", ...) at 96 dots per inch of the slide size, all in one go. Returns one file per
// number, in the order asked; the files stay the drawer's and are read before its next call.
using SlideDrawer = std::function<std::vector<std::string>(
    pptx::PresentationModel& model, const std::vector<std::int32_t>& slideNumbers, const std::string& filter)>;

// A slide's title and notes, as the object model answers them (the text export reads the same
// answers); its text in full is its reading (office/reading.hpp).
struct SlideContent {
  std::int32_t number = 0;  // 1-based position in the presentation
  bool hidden = false;      // p:sld show="0"
  // The text of the slide's title placeholders (title, centred title), paragraphs joined by CR.
  std::u16string title;
  // The text of the notes page's body placeholders, joined by CR; empty without notes.
  std::u16string notes;
};

// The contents of every slide of `model`, in order.
std::vector<SlideContent> SlideContents(pptx::PresentationModel& model);

// The slide size of `model` in EMU (p:sldSz; 10 x 7.5 in without one).
struct SlideSize {
  std::int64_t cx = 0;
  std::int64_t cy = 0;
};
SlideSize SlideSizeOf(const pptx::PresentationModel& model);

// The bytes of a file (UTF-8 path); kAccessDenied when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// A folder of output files that appears complete or not at all: output::StagedFolder
// (common/output_file.hpp), which also refuses a file that is the file of an open presentation,
// its failures in the package layer's numbers (path not found, access denied, disk full).
class FolderOutput {
 public:
  // `folder` (UTF-8) is the target folder; `names` the files it will receive (plain names).
  FolderOutput(std::string folder, std::vector<std::string> names);
  ~FolderOutput();
  FolderOutput(const FolderOutput&) = delete;
  FolderOutput& operator=(const FolderOutput&) = delete;

  // Stages file `name` (one of the names given) with `bytes`.
  void Put(const std::string& name, std::string_view bytes);
  // Moves the staged files into place (every name must have been staged).
  void Commit();
  // Undoes Commit. Never throws: what cannot be put back stays in the staging folder's place.
  void Rollback() noexcept;

  const std::string& folder() const { return staged_->folder(); }

 private:
  std::unique_ptr<output::StagedFolder> staged_;
};

// Fails with failure::kEAccessDenied when `path` is an existing folder: a file output cannot
// replace a folder.
void RefuseFolderAsFile(const std::string& path);

// The file name of `path` without its last extension ("deck" for "/out/deck.htm"; "deck" stays
// "deck"; ".htm" stays ".htm").
std::string Stem(const std::string& path);
// The folder part of `path` with its trailing slash ("/out/" for "/out/deck.htm"; "" for "deck").
std::string FolderPart(const std::string& path);

// Save format 15: a folder holding one Windows metafile per slide, "Slide1.WMF", "Slide2.WMF", ...
// (hidden slides included, numbered by their position). The folder is the target path without its
// extension ("/out/deck" for "/out/deck.wmf"), or the target path itself when its name has none.
pptx::SaveFormatWriter MetafileFolderWriter(SlideDrawer draw);
// The folder MetafileFolderWriter writes for `path`.
std::string MetafileFolderOf(const std::string& path);

}  // namespace quorvane::engines::slide_output
