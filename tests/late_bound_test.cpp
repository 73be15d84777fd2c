// The object model driven late-bound, and offered late-bound: a control whose applications are
// LateBoundApplications over DispatchPowerPoint / DispatchWord (both bridges at once) must do what
// a control on the same office does directly, call for call, failure for failure; then what each
// bridge does on its own with arguments left out, refused, or answers that are no objects.
#include <gtest/gtest.h>

#include "deckmaker/decks.hpp"
#include "engines/word/engine.hpp"
#include "office/late_bound.hpp"
#include "office/object_dispatch.hpp"
#include "support/fixtures.hpp"
#include "support/scripted_office.hpp"

namespace quorvane {
namespace {

using namespace testing;
using office::ApplicationProvider;

// The applications of `provider`, each offered as a Dispatch object and driven late-bound.
std::shared_ptr<ApplicationProvider> Bridged(std::shared_ptr<ApplicationProvider> provider) {
  return office::LateBoundApplications([provider](std::u16string_view progId) {
    return progId == u"Word.Application" ? office::DispatchWord(provider->CreateWord())
                                         : office::DispatchPowerPoint(provider->CreatePowerPoint());
  });
}

// What one conversion left: its result, ErrorString, cause and the bytes of its output file.
struct Outcome {
  std::int32_t code = 0;
  std::string errorString, output;
  FailureCause cause;
};

Outcome Convert(std::shared_ptr<ApplicationProvider> provider, const fs::path& input, const fs::path& output,
                std::int32_t target, ConvertOptions options, bool labels = false, OutputOptions more = {}) {
  QuorvaneX control(std::move(provider));
  control.put_OptimizeForSpeed(kVariantFalse);
  control.put_ShowSlideAndShapeNumber(labels ? kVariantTrue : kVariantFalse);
  control.SetOutputOptions(more);
  fs::remove(output);
  Outcome o;
  o.code = ConvertWith(control, input, output, target, options);
  o.errorString = text::ToUtf8(control.get_ErrorString());
  o.cause = control.LastFailureCause();
  o.output = ReadFile(output);
  return o;
}

// The bridged run says what the direct one says; its descriptions may name the member in front.
void ExpectSame(const Outcome& direct, const Outcome& bridged) {
  EXPECT_EQ(bridged.code, direct.code);
  EXPECT_TRUE(bridged.errorString.ends_with(direct.errorString)) << bridged.errorString << " / " << direct.errorString;
  EXPECT_EQ(bridged.cause.number, direct.cause.number);
  EXPECT_TRUE(bridged.cause.description.ends_with(direct.cause.description))
      << text::ToUtf8(bridged.cause.description) << " / " << text::ToUtf8(direct.cause.description);
  EXPECT_TRUE(bridged.output == direct.output) << "the output files differ";
}

TEST(LateBound, BothBridgesCallTheOfficeAsTheControlDoesDirectly) {
  TempFolder dir;
  const fs::path input = dir / "deck.pptx", output = dir / "out.txt";
  WriteFile(input, "input");
  const auto deck = Deck()
                        .Slide({Title(u"One"), Table({{u"a", u"b"}, {u"c"}}), Group({TextBox(u"g1"), Group({TextBox(u"g2")})})})
                        .Notes({SlideImage(), NotesBody(u"note one")})
                        .Slide({Placeholder(ppt::kPlaceholderSubtitle, u"Two\rlines"), Picture()})
                        .Slide({AutoShape(u"three")});
  struct Fault { std::string member; std::int32_t number; bool every = false; };
  const struct { const char* name; std::int32_t target; ConvertOptions options; bool labels; std::optional<Fault> fault;
                 std::int32_t code; OutputOptions more = {};
  } rows[] = {
      {"save-as, slides 2 to 3, labelled", 24, {.start = 2, .end = 3}, true, {}, 0},
      {"whole deck saved", 32, {}, false, {}, 0},
      {"PDF of the notes pages: no engine here writes one", 32, {}, false, {}, -16, {.notesPages = true}},
      {"text with notes", 200, {.notes = true}, false, {}, 0},
      {"Unicode text of the notes only, labelled", 107, {.notes = true, .notesOnly = true}, true, {}, 0},
      {"pictures of slides 1 and 2", 18, {.start = 1, .end = 2}, false, {}, 0},
      {"through Word", 106, {.end = 2}, false, {}, 0},
      {"open refused", 24, {}, false, Fault{"Presentations.Open", failure::kPowerPointInvalidRequest}, -10},
      {"save refused, file open", 24, {.start = 2}, false, Fault{"Presentation.SaveAs", failure::kFileAlreadyOpen}, -16},
      {"picture not writable", 18, {}, false, Fault{"Slide.Export", failure::kPathFileAccessError}, -10},
      {"text: the shapes cannot be counted", 200, {}, false, Fault{"Shapes.Count", failure::kEFail}, -10},
      {"Word lacks a library", 106, {}, false, Fault{"Documents.Add", failure::kLibraryNotLoaded}, -1},
      {"Word cannot paste", 106, {}, false, Fault{"Selection.Paste", kWordClipboardEmpty}, -10},
      {"no PowerPoint", 24, {}, false, Fault{"CreatePowerPoint", failure::kCannotCreateObject, true}, -12},
      {"no Word", 106, {}, false, Fault{"CreateWord", failure::kCannotCreateObject, true}, -14},
      {"PowerPoint cannot be ended", 200, {}, false, Fault{"PowerPoint.Quit", kServerUnavailable}, -13},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::shared_ptr<ScriptedOffice> offices[2];
    Outcome outcomes[2];
    for (int bridged = 0; bridged < 2; ++bridged) {
      auto& office = offices[bridged] = std::make_shared<ScriptedOffice>();
      office->AddFile(text::FromUtf8(input.string()), deck);
      if (const auto& f = row.fault) (f->every ? office->FailFrom(f->member, 1, f->number) : office->FailOn(f->member, 1, f->number));
      outcomes[bridged] = Convert(bridged ? Bridged(office) : office, input, output, row.target, row.options, row.labels,
                                  row.more);
    }
    EXPECT_EQ(outcomes[0].code, row.code) << outcomes[0].errorString;
    ExpectSame(outcomes[0], outcomes[1]);
    const OfficeState &direct = offices[0]->state(), &bridged = offices[1]->state();
    EXPECT_EQ(offices[1]->Log(), offices[0]->Log());
    ASSERT_EQ(bridged.saves.size(), direct.saves.size());
    for (std::size_t i = 0; i < direct.saves.size(); ++i) {
      EXPECT_EQ(bridged.saves[i].slides, direct.saves[i].slides);
      EXPECT_EQ(bridged.saves[i].slideWidth, direct.saves[i].slideWidth);
    }
    ASSERT_EQ(bridged.documents.size(), direct.documents.size());
    for (std::size_t i = 0; i < direct.documents.size(); ++i) {
      EXPECT_EQ(bridged.documents[i]->content, direct.documents[i]->content);
      EXPECT_EQ(bridged.documents[i]->pageHeight, direct.documents[i]->pageHeight);
    }
  }
}

// The native engines behind both bridges: the same files, byte for byte, as the engines write
// when the control calls them directly.
TEST(LateBound, TheNativeEnginesWriteTheSameFilesThroughBothBridges) {
  TempFolder dir;
  const fs::path sample = dir / "sample.pptx";
  engines::pptx::builder::WriteSample(sample.string());
  const auto engines = office::DefaultApplicationProvider();
  const bool word = engines::word::OfficeAvailable();
  const struct { const char* name; std::int32_t target; ConvertOptions options; bool labels; const char* output;
                 bool needsOffice = false; OutputOptions more = {};
  } rows[] = {
      {"text with notes", 200, {.notes = true}, false, "out.txt"},
      {"Unicode text, labelled", 107, {.notes = true}, true, "out.txt"},
      {"save-as of slides 2 to 3, labelled", 24, {.start = 2, .end = 3}, true, "out.pptx"},
      {"through Word", 106, {.end = 2}, false, "out.rtf", true},
      {"PDF/A of every notes page", 32, {}, false, "out.pdf", true, {.hiddenSlides = true, .notesPages = true, .pdfa = true}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.needsOffice && !word) continue;
    const Outcome direct = Convert(engines, sample, dir / row.output, row.target, row.options, row.labels, row.more);
    const Outcome bridged = Convert(Bridged(engines), sample, dir / row.output, row.target, row.options, row.labels,
                                    row.more);
    if (row.target == 32) {
      const std::string pdf = "'" + (dir / row.output).string() + "'";
      EXPECT_EQ(bridged.code, direct.code);
      EXPECT_EQ(PdfPageCount(dir / row.output), 4) << "every slide, the hidden one too";
      EXPECT_NE(CommandOutput("pdfinfo " + pdf).find("540 x 720 pts"), std::string::npos) << "notes pages, upright";
      EXPECT_NE(CommandOutput("pdfinfo -meta " + pdf).find("<pdfaid:part>"), std::string::npos) << "PDF/A";
    } else if (row.target == 106) {
      EXPECT_EQ(bridged.code, direct.code);
      EXPECT_EQ(bridged.output.size(), direct.output.size());
    } else {
      ExpectSame(direct, bridged);
    }
  }
  QUORVANE_NEEDS_CORPUS();
  for (const fs::path& deck : CorpusDecks()) {
    if (deck.extension() != ".pptx") continue;  // the others reach the engine through LibreOffice, slowly
    SCOPED_TRACE(deck.string());
    const ConvertOptions notes{.notes = true};
    ExpectSame(Convert(engines, deck, dir / "corpus.txt", 200, notes),
               Convert(Bridged(engines), deck, dir / "corpus.txt", 200, notes));
  }
}

// A Dispatch object that answers `answer` for `member` and forwards everything else.
class Rigged final : public Dispatch {
 public:
  Rigged(std::shared_ptr<Dispatch> inner, std::u16string member, Variant answer)
      : inner_(std::move(inner)), member_(std::move(member)), answer_(std::move(answer)) {}
  HResult GetIDOfName(std::u16string_view name, DispId& id) override {
    return name == member_ ? (id = 999, S_OK_) : inner_->GetIDOfName(name, id);
  }
  HResult Invoke(DispId id, std::uint16_t kind, std::span<Variant> args, Variant* result, ExcepInfo* excep) override {
    return id == 999 ? (*result = answer_, S_OK_) : inner_->Invoke(id, kind, args, result, excep);
  }

 private:
  std::shared_ptr<Dispatch> inner_;
  std::u16string member_;
  Variant answer_;
};

// What the late-bound side makes of applications and answers that are not what the object model
// promises: no application or a failed creation is 429, a null object fails when it is used, a
// value of the wrong kind at once; every failure names the member.
TEST(LateBound, OddAnswersFailWithTheMemberNamed) {
  using Server = std::function<std::shared_ptr<Dispatch>(ScriptedOffice&)>;
  const auto rig = [](std::u16string member, Variant answer) -> Server {
    return [=](ScriptedOffice& o) {
      return std::make_shared<Rigged>(office::DispatchPowerPoint(o.CreatePowerPoint()), member, answer);
    };
  };
  const struct { const char* name; Server server; std::int32_t number; const char* description; } rows[] = {
      {"no application", [](ScriptedOffice&) { return std::shared_ptr<Dispatch>(); }, failure::kCannotCreateObject,
       "CreateObject(\"PowerPoint.Application\") : ActiveX component can't create object"},
      {"class not registered",
       [](ScriptedOffice&) -> std::shared_ptr<Dispatch> { throw AutomationError(-2147221164, u"Class not registered"); },
       failure::kCannotCreateObject, "CreateObject(\"PowerPoint.Application\") : Class not registered"},
      {"no presentations", rig(u"Presentations", Variant(Variant::DispatchPtr())), failure::kObjectNotSet,
       "Presentations.Open : Object variable or With block variable not set"},
      {"presentations as text", rig(u"Presentations", Variant(u"many")), failure::kTypeMismatch,
       "Application.Presentations : Type mismatch"},
      {"version as a number", rig(u"Version", Variant(16.5)), 0, ""},
      {"version as an object", rig(u"Version", Variant(Variant::DispatchPtr())), failure::kTypeMismatch,
       "Application.Version : Type mismatch"},
      {"Word asked for its version", [](ScriptedOffice& o) { return office::DispatchWord(o.CreateWord()); },
       DISP_E_UNKNOWNNAME, "Application.Version : Unknown name."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedOffice office;
    office.AddFile(u"deck.pptx", Deck().TitledSlides(1));
    const auto applications = office::LateBoundApplications([&](std::u16string_view) { return row.server(office); });
    std::string description;
    EXPECT_EQ(ThrownNumber([&] {
                const auto app = applications->CreatePowerPoint();
                app->Version();
                app->Presentations()->Open(u"deck.pptx", 0, 0, 0)->Slides()->Item(1)->Shapes()->Item(1);
              }, &description),
              row.number);
    EXPECT_EQ(description, row.description);
  }
}

// The Dispatch side alone: each call as the object model receives it (the office's log), with
// the arguments left out taking the object model's defaults, and the calls it refuses.
TEST(LateBound, DispatchObjectsTakeDefaultsAndRefuseWhatDoesNotFit) {
  const Variant missing = Variant::Integer(VT_ERROR, static_cast<std::int32_t>(0x80020004u));
  constexpr auto kGet = DISPATCH_PROPERTYGET, kCall = DISPATCH_METHOD, kPut = DISPATCH_PROPERTYPUT;
  const struct { const char* object; std::u16string member; std::uint16_t kind; std::vector<Variant> args;
                 HResult hr; std::string logged;
  } rows[] = {
      {"Presentations", u"open", kCall, {Variant(u"deck.pptx")}, S_OK_, "Presentations.Open(deck.pptx, 0, 0, -1)"},
      {"Presentations", u"Open", kCall, {Variant(u"deck.pptx"), missing, Variant(u"-1"), Variant::Bool(0)}, S_OK_,
       "Presentations.Open(deck.pptx, 0, -1, 0)"},
      {"Presentations", u"Open", kCall, {}, DISP_E_PARAMNOTOPTIONAL, ""},
      {"Presentations", u"Open", kCall, {Variant(u"d"), Variant(0), Variant(0), Variant(0), Variant(0)},
       DISP_E_BADPARAMCOUNT, ""},
      {"Presentations", u"Open", kCall, {Variant(u"deck.pptx"), Variant(u"yes")}, DISP_E_TYPEMISMATCH, ""},
      {"Presentations", u"Open", kGet, {Variant(u"deck.pptx")}, DISP_E_MEMBERNOTFOUND, ""},
      {"Presentations", u"Close", kCall, {}, DISP_E_UNKNOWNNAME, ""},
      {"Presentations", u"Add", kCall | kGet, {}, S_OK_, "Presentations.Add(-1)"},
      {"Presentation", u"SaveAs", kCall, {Variant(u"out.ppt")}, S_OK_, "Presentation.SaveAs(out.ppt, 11, -2)"},
      {"Presentation", u"ExportAsFixedFormat", kCall, {Variant(u"o.xps"), Variant(1)}, failure::kEInvalidArg, ""},
      {"Slides", u"Paste", kCall, {}, failure::kPowerPointInvalidRequest, "Slides.Paste(-1)"},
      {"Slides", u"Item", kGet, {Variant(3.0)}, failure::kPowerPointInvalidRequest, "Slides.Item(3)"},
      {"Slides", u"item", kCall, {Variant(u"2")}, S_OK_, "Slides.Item(2)"},
      {"Slides", u"count", kCall, {}, DISP_E_MEMBERNOTFOUND, ""},
      {"Slide", u"Export", kCall, {Variant(u"s.png"), Variant(u"PNG")}, S_OK_, "Slide.Export(s.png, PNG, 0, 0)"},
      {"PageSetup", u"SlideWidth", kPut, {Variant(u"800")}, S_OK_, "PageSetup.put_SlideWidth"},
      {"PageSetup", u"SlideWidth", kPut, {Variant(1e300)}, DISP_E_OVERFLOW, ""},
      {"PageSetup", u"SlideWidth", kPut, {}, DISP_E_BADPARAMCOUNT, ""},
      {"Word", u"Visible", kGet, {}, DISP_E_MEMBERNOTFOUND, ""},
      {"Word", u"Visible", kPut, {Variant(u"False")}, S_OK_, "Word.put_Visible(false)"},
      {"Word", u"Quit", kCall, {}, S_OK_, "Word.Quit(false)"},
      {"Document", u"SaveAs", kCall, {Variant(u"d.docx")}, S_OK_, "Document.SaveAs(d.docx, 16)"},
      {"Document", u"Close", kCall, {}, S_OK_, "Document.Close(-2)"},
      {"Selection", u"InsertBreak", kCall, {missing}, S_OK_, "Selection.InsertBreak(7)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.object) + "." + text::ToUtf8(row.member));
    auto office = std::make_shared<ScriptedOffice>();
    office->AddFile(u"deck.pptx", Deck().TitledSlides(2));
    const auto get = [](const std::shared_ptr<Dispatch>& object, std::u16string_view name, std::vector<Variant> args = {}) {
      return object->Call(name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args).dispatch();
    };
    const auto powerPoint = office::DispatchPowerPoint(office->CreatePowerPoint());
    const auto word = office::DispatchWord(office->CreateWord());
    const auto presentation = get(get(powerPoint, u"Presentations"), u"Open", {Variant(u"deck.pptx")});
    const auto document = get(get(word, u"Documents"), u"Add");
    const std::pair<const char*, std::shared_ptr<Dispatch>> objects[] = {
        {"Presentations", get(powerPoint, u"Presentations")}, {"Presentation", presentation},
        {"Slides", get(presentation, u"Slides")}, {"Slide", get(get(presentation, u"Slides"), u"Item", {Variant(1)})},
        {"PageSetup", get(presentation, u"PageSetup")}, {"Word", word}, {"Document", document},
        {"Selection", get(word, u"Selection")}};
    std::shared_ptr<Dispatch> target;
    for (const auto& [name, object] : objects)
      if (std::string(name) == row.object) target = object;
    office->state().log.clear();
    std::vector<Variant> args = row.args;
    EXPECT_EQ(ThrownNumber([&] { target->Call(row.member, row.kind, args); }), row.hr);
    EXPECT_EQ(office->Log(), row.logged.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.logged});
  }
}

}  // namespace
}  // namespace quorvane
