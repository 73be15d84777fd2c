// Documents and accounts of presentations through the default engines (quorvane/documents.hpp).
#include "quorvane/documents.hpp"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <set>
#include <utility>

#include "common/failures.hpp"
#include "common/text.hpp"
#include "converters/documents.hpp"
#include "office/object_model.hpp"

namespace quorvane {

namespace {

namespace r = office::reading;

// An open presentation, closed with its application when it goes.
class OpenPresentation {
 public:
  explicit OpenPresentation(const std::string& input) {
    application_ = office::DefaultApplicationProvider()->CreatePowerPoint();
    try {
      presentation_ = application_->Presentations()->Open(text::FromUtf8(input), office::kMsoTrue,
                                                          office::kMsoFalse, office::kMsoFalse);
    } catch (...) {
      Quit();
      throw;
    }
  }
  ~OpenPresentation() {
    try {
      if (presentation_) presentation_->Close();
    } catch (const AutomationError&) {
    }
    Quit();
  }
  OpenPresentation(const OpenPresentation&) = delete;
  OpenPresentation& operator=(const OpenPresentation&) = delete;

  office::ppt::Presentation& operator*() const { return *presentation_; }

 private:
  void Quit() noexcept {
    try {
      application_->Quit();
    } catch (const AutomationError&) {
    }
  }

  std::shared_ptr<office::ppt::Application> application_;
  std::shared_ptr<office::ppt::Presentation> presentation_;
};

class InspectionSink final : public r::Sink {
 public:
  explicit InspectionSink(DeckInspection& out) : out_(out) {}

  void OnDeck(const r::Deck& deck) override {
    out_.title = deck.title;
    out_.author = deck.author;
    out_.application = deck.application;
    if (!deck.applicationVersion.empty())
      out_.application += (out_.application.empty() ? "" : " ") + deck.applicationVersion;
    out_.slideCount = deck.slideCount;
    out_.widthPoints = deck.widthPoints;
    out_.heightPoints = deck.heightPoints;
    out_.widthPixels = deck.widthPixels;
    out_.heightPixels = deck.heightPixels;
    out_.media = deck.media;
    fonts_.insert(deck.themeFonts.begin(), deck.themeFonts.end());
  }

  void OnSlide(const r::Slide& slide) override {
    if (slide.hidden) out_.hiddenSlides.push_back(slide.number);
    if (!slide.notes.empty()) out_.slidesWithNotes.push_back(slide.number);
    out_.titles.push_back(slide.title);
    for (const r::Shape& shape : slide.shapes) {
      Fonts(shape.paragraphs);
      if (shape.table)
        for (const auto& row : shape.table->rows)
          for (const r::Cell& cell : row) Fonts(cell.paragraphs);
    }
  }

  void Finish() { out_.fonts.assign(fonts_.begin(), fonts_.end()); }

 private:
  void Fonts(const std::vector<r::Paragraph>& paragraphs) {
    for (const r::Paragraph& paragraph : paragraphs)
      for (const r::Run& run : paragraph.runs)
        if (!run.font.empty()) fonts_.insert(run.font);
  }

  DeckInspection& out_;
  std::set<std::string> fonts_;
};

}  // namespace

void ExportDocument(const std::string& input, const std::string& output, DocumentKind kind) {
  OpenPresentation presentation(input);
  converters::WriteDocument(*presentation, output,
                            kind == DocumentKind::kMarkdown ? converters::DocumentKind::kMarkdown
                                                            : converters::DocumentKind::kJson);
}

DeckInspection Inspect(const std::string& input) {
  DeckInspection inspection;
  inspection.path = input;
  try {
    OpenPresentation presentation(input);
    InspectionSink sink(inspection);
    (*presentation).Read(sink);
    sink.Finish();
    inspection.ok = true;
  } catch (const AutomationError& error) {
    const DeckInspection empty;
    const std::string path = inspection.path;
    inspection = empty;
    inspection.path = path;
    inspection.failure = error.number();
    inspection.error = text::ToUtf8(error.description());
    inspection.encrypted = inspection.error.find("encrypted") != std::string::npos;
  }
  return inspection;
}

std::string InspectionJson(const DeckInspection& inspection) {
  nlohmann::ordered_json out{{"path", inspection.path}, {"ok", inspection.ok}};
  if (!inspection.ok) {
    out["encrypted"] = inspection.encrypted;
    out["failure"] = inspection.failure;
    out["error"] = inspection.error;
  } else {
    out.update(nlohmann::ordered_json{{"title", inspection.title},
                                      {"author", inspection.author},
                                      {"application", inspection.application},
                                      {"slideCount", inspection.slideCount},
                                      {"hiddenSlides", inspection.hiddenSlides},
                                      {"slidesWithNotes", inspection.slidesWithNotes},
                                      {"size",
                                       {{"widthPoints", inspection.widthPoints},
                                        {"heightPoints", inspection.heightPoints},
                                        {"widthPixels", inspection.widthPixels},
                                        {"heightPixels", inspection.heightPixels}}},
                                      {"titles", inspection.titles},
                                      {"media", inspection.media},
                                      {"fonts", inspection.fonts}});
  }
  return out.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace quorvane
