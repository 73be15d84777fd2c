// The control's dispatch surface: every member by id and by name, argument coercion and its
// refusals, by-reference write-back, failures as exception results, and events through a sink.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <stdexcept>

#include "common/text.hpp"
#include "control/control.hpp"
#include "control/dispatch_surface.hpp"
#include "quorvane/type_info.hpp"
#include "support/fixtures.hpp"
#include "support/scripted_office.hpp"

namespace quorvane {
namespace {

using detail::ControlDispatch;
using Args = std::vector<Variant>;
constexpr std::uint16_t kCall = DISPATCH_METHOD, kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT;

std::string U8(std::u16string_view s) { return text::ToUtf8(s); }
std::string Show(const Variant& v) {
  const Variant d = v.Dereferenced();
  const std::string vt = "vt " + std::to_string(v.vt());
  if (d.vt() == VT_BSTR) return vt + " \"" + U8(d.string()) + "\"";
  if (d.vt() == VT_R4 || d.vt() == VT_R8) return vt + " " + std::to_string(d.real());
  return d.vt() == VT_EMPTY || d.vt() == VT_NULL || d.vt() == VT_DISPATCH ? vt : vt + " " + std::to_string(d.integer());
}

// A control over a scripted office whose PowerPoint reports `version`, and its dispatch surface.
struct Fixture {
  explicit Fixture(std::u16string version = u"12.0", std::shared_ptr<office::ApplicationProvider> provider = nullptr)
      : control(provider ? provider : office) {
    office->state().powerPointVersion = std::move(version);
  }
  std::shared_ptr<testing::ScriptedOffice> office = std::make_shared<testing::ScriptedOffice>();
  QuorvaneX control;
  ControlDispatch surface{control};

  DispId Id(std::u16string_view name) {
    DispId id = 0;
    EXPECT_EQ(surface.GetIDOfName(name, id), S_OK_) << U8(name);
    return id;
  }
  HResult Invoke(std::u16string_view name, std::uint16_t kind, Args args, Variant* result = nullptr,
                 ExcepInfo* excep = nullptr) {
    return surface.Invoke(Id(name), kind, args, result, excep);
  }
  Variant Get(std::u16string_view name) {
    Variant result;
    EXPECT_EQ(Invoke(name, kGet, {}, &result), S_OK_) << U8(name);
    return result;
  }
};

TEST(ControlDispatch, EveryMemberAnswersById) {
  const Variant any(u"(member ran)");  // S_OK or the member's own failure
  const struct {
    std::u16string_view name; std::uint16_t kind; Args args; Variant result;
  } rows[] = {  // the members no other test of the surface calls
      {u"UserControl_Terminate", kCall, {}, Variant()}, {u"OutputFile", kGet, {}, Variant(u"")},
      {u"OutputFile", kPut, {Variant(u"out.pdf")}, Variant()}, {u"EndSlide", kGet, {}, Variant(0)},
      {u"EndSlide", kPut, {Variant(4)}, Variant()}, {u"ShowSlideAndShapeNumber", kGet, {}, Variant::Bool(0)},
      {u"ShowSlideAndShapeNumber", kPut, {Variant::Bool(-1)}, Variant()},
      {u"FileTypeSupportsSingleFileOutput", kCall, {Variant(15)}, Variant::Bool(0)},
      {u"IncludeNotes", kGet, {}, Variant::Bool(0)}, {u"IncludeNotes", kPut, {Variant::Bool(-1)}, Variant()},
      {u"NotesOnly", kGet, {}, Variant::Bool(0)}, {u"NotesOnly", kPut, {Variant::Bool(-1)}, Variant()},
      {u"CloseTextFileForWriting", kCall, {}, any}, {u"WriteToTextFile", kCall, {Variant(u"text")}, any},
      {u"PowerPointVersionAtLeast2010", kCall, {}, Variant::Bool(0)},
      {u"PowerPointVersionAtLeast2007", kCall, {}, Variant::Bool(-1)},
  };
  Fixture f;  // a property is read before it is set
  for (const auto& row : rows) {
    Variant result(u"untouched");
    ExcepInfo excep;
    const HResult hr = f.Invoke(row.name, row.kind, row.args, &result, &excep);
    const std::string label = U8(row.name) + " kind " + std::to_string(row.kind);
    if (row.result == any) {
      EXPECT_TRUE(hr == S_OK_ || (hr == DISP_E_EXCEPTION && excep.number != 0)) << label << ": hr " << std::hex << hr;
    } else {
      EXPECT_EQ(hr, S_OK_) << label << ": " << U8(excep.description);
      EXPECT_EQ(result, row.result) << label << ": got " << Show(result) << ", expected " << Show(row.result);
    }
  }
}

TEST(TypeDescription, InterfacesAreFoundByIdentifierAndIdentifiersAreFormatted) {
  using namespace typeinfo;
  for (const auto& alias : kQuorvaneXAliases) EXPECT_EQ(FindInterface(alias.iid), &kQuorvaneXInterface) << FormatGuid(alias.iid);
  EXPECT_EQ(FindInterface(kLibrary.libid), nullptr);
  EXPECT_EQ(FormatGuid(ParseGuid("0bd27bcb-1c14-4fab-ae0c-185168c982a2")), "{0BD27BCB-1C14-4FAB-AE0C-185168C982A2}");
  EXPECT_EQ(FindDispId(kQuorvaneXInterface, u"ConvertFile "), std::nullopt);
}

TEST(ControlDispatch, PutCoercesToTheDeclaredTypeOrRefusesAndKeepsTheValue) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::int16_t byRefCode = 36;
  Variant byRefText(u"24");
  const struct {
    std::string label; std::u16string_view property; Variant value; HResult hr;
    Variant readBack;  // after a failure: the initial value
  } rows[] = {
      {"I2 widened", u"TargetFileType", Variant(static_cast<std::int16_t>(-7)), S_OK_, Variant(-7)},
      {"UI4 too big", u"TargetFileType", Variant::Integer(VT_UI4, 4294967295LL), DISP_E_OVERFLOW, Variant(6)},
      {"R8 2.5 to even", u"TargetFileType", Variant(2.5), S_OK_, Variant(2)},
      {"R4 1.49 down", u"TargetFileType", Variant(1.49f), S_OK_, Variant(1)},
      {"R8 rounds out of range", u"TargetFileType", Variant(2147483647.5), DISP_E_OVERFLOW, Variant(6)},
      {"R8 NaN", u"TargetFileType", Variant(nan), DISP_E_OVERFLOW, Variant(6)},
      {"Boolean true", u"TargetFileType", Variant::Bool(-1), S_OK_, Variant(-1)},
      {"empty", u"TargetFileType", Variant(), S_OK_, Variant(0)},
      {"numeric text with spaces and sign", u"StartSlide", Variant(u"  -12 "), S_OK_, Variant(-12)},
      {"numeric text with decimals", u"TargetFileType", Variant(u"+7.5"), S_OK_, Variant(8)},
      {"numeric text too big", u"TargetFileType", Variant(u"1e10"), DISP_E_OVERFLOW, Variant(6)},
      {"text", u"TargetFileType", Variant(u"abc"), DISP_E_TYPEMISMATCH, Variant(6)},
      {"grouped digits", u"TargetFileType", Variant(u"1,000"), DISP_E_TYPEMISMATCH, Variant(6)},
      {"infinity text", u"TargetFileType", Variant(u"inf"), DISP_E_TYPEMISMATCH, Variant(6)},
      {"null", u"TargetFileType", Variant::Null(), DISP_E_TYPEMISMATCH, Variant(6)},
      {"object", u"TargetFileType", Variant(Variant::DispatchPtr()), DISP_E_TYPEMISMATCH, Variant(6)},
      {"through an I2 reference", u"TargetFileType", Variant::ByRef(&byRefCode), S_OK_, Variant(36)},
      {"through a variant reference", u"TargetFileType", Variant::ByRef(&byRefText), S_OK_, Variant(24)},
      {"Boolean kept as given", u"OptimizeForSpeed", Variant::Bool(1), S_OK_, Variant::Bool(1)},
      {"integer 1 to true", u"OptimizeForSpeed", Variant(static_cast<std::int16_t>(1)), S_OK_, Variant::Bool(-1)},
      {"text True", u"MultiFileOutput", Variant(u"true"), S_OK_, Variant::Bool(-1)},
      {"numeric text to Boolean", u"MultiFileOutput", Variant(u"7"), S_OK_, Variant::Bool(-1)},
      {"text not Boolean", u"OptimizeForSpeed", Variant(u"yes"), DISP_E_TYPEMISMATCH, Variant::Bool(-1)},
      {"empty to false", u"OptimizeForSpeed", Variant(), S_OK_, Variant::Bool(0)},
      {"integer to text", u"ErrorString", Variant(42), S_OK_, Variant(u"42")},
      {"real to text", u"ErrorString", Variant(2.5), S_OK_, Variant(u"2.5")},
      {"Boolean to text", u"ErrorString", Variant::Bool(-1), S_OK_, Variant(u"True")},
      {"null to text", u"InputFile", Variant::Null(), DISP_E_TYPEMISMATCH, Variant(u"")},
  };
  for (const auto& row : rows) {
    Fixture f;
    EXPECT_EQ(f.Invoke(row.property, kPut, {row.value}), row.hr) << row.label;
    const Variant back = f.Get(row.property);
    EXPECT_EQ(back, row.readBack) << row.label << ": got " << Show(back);
  }
}

TEST(ControlDispatch, MemberFailuresBecomeExceptionResults) {
  const struct {
    std::string label;
    std::function<void()> fail;  // thrown from inside the application provider
    std::int32_t number;
    std::u16string description;
  } rows[] = {
      {"out of memory", [] { throw std::bad_alloc(); }, 7, u"Out of memory"},
      {"other C++ failure", [] { throw std::runtime_error("engine exploded"); }, 5, u"engine exploded"},
      {"not an exception class", [] { throw 42; }, 5, u"Invalid procedure call or argument"},
  };
  struct Failing : office::ApplicationProvider {
    std::shared_ptr<office::ppt::Application> CreatePowerPoint() override { return fail(), nullptr; }
    std::shared_ptr<office::word::Application> CreateWord() override { return fail(), nullptr; }
    std::function<void()> fail;
  };
  for (const auto& row : rows) {
    auto provider = std::make_shared<Failing>();
    provider->fail = row.fail;
    Fixture f(u"12.0", provider);
    ExcepInfo caught;
    EXPECT_EQ(f.Invoke(u"PowerPointVersion", kCall, {Variant(u"")}, nullptr, &caught), DISP_E_EXCEPTION) << row.label;
    EXPECT_EQ(caught.number, row.number) << row.label;
    EXPECT_EQ(U8(caught.description), U8(row.description)) << row.label;
    EXPECT_EQ(f.Invoke(u"PowerPointVersion", kCall, {Variant(u"")}), DISP_E_EXCEPTION) << row.label << ", no ExcepInfo";
  }
}

// Records each event: its id, kind, argument types and, for Progress, the percentage read through
// `surface`; a failing one answers DISP_E_EXCEPTION or throws.
struct RecordingSink final : Dispatch {
  struct Event {
    DispId id = 0;
    std::uint16_t kind = 0;
    std::vector<VarType> types;
    float percentage = -1;
    bool operator==(const Event&) const = default;
  };
  std::vector<Event> calls;
  ControlDispatch* surface = nullptr;
  bool fails = false;

  HResult GetIDOfName(std::u16string_view, DispId&) override { return DISP_E_UNKNOWNNAME; }
  HResult Invoke(DispId id, std::uint16_t kind, std::span<Variant> args, Variant*, ExcepInfo*) override {
    Event call{id, kind, {}, -1};
    for (const auto& a : args) call.types.push_back(a.vt());
    if (id == typeinfo::kDispIdProgress) call.percentage = float(surface->Call(u"PercentageComplete", kGet).real());
    calls.push_back(call);
    if (fails && id == typeinfo::kDispIdProgress) throw std::runtime_error("handler bug");
    return fails ? DISP_E_EXCEPTION : S_OK_;
  }
};

// Progress arrives without arguments, after the value changed; onerror with its two references; a
// sink that fails or throws disturbs neither the call nor the sinks after it.
TEST(ControlEvents, ProgressAndOnErrorReachEverySinkEvenAfterAFailingOne) {
  QuorvaneX control;
  ControlDispatch surface(control);
  auto failing = std::make_shared<RecordingSink>(), second = std::make_shared<RecordingSink>();
  failing->fails = true;
  for (auto& sink : {failing, second}) {
    sink->surface = &surface;
    surface.AdviseEvents(sink);
  }
  EXPECT_EQ(surface.AdviseEvents(nullptr), 0u);
  control.internal().SetPercentageComplete(42.5f);
  Variant result;
  ASSERT_EQ(surface.Invoke(0x60030093, kCall, {}, &result, nullptr), S_OK_);
  EXPECT_LT(result.integer(), 0);
  using Event = RecordingSink::Event;
  const std::vector<Event> expected = {
      {typeinfo::kDispIdProgress, kCall, {}, 42.5f},
      {typeinfo::kDispIdOnError, kCall, {VarType(VT_BYREF | VT_I4), VarType(VT_BYREF | VT_BSTR)}, -1}};
  EXPECT_EQ(failing->calls, expected);
  EXPECT_EQ(second->calls, expected);
}

}  // namespace
}  // namespace quorvane
