// The control's type description and its dispatch surface: members by id and by name, argument
// binding and coercion, by-reference write-back, error results and events through a Dispatch sink.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstdio>
#include <limits>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

#include "common/text.hpp"
#include "control/control.hpp"
#include "control/dispatch_surface.hpp"
#include "office/object_model.hpp"
#include "quorvane/type_info.hpp"

namespace quorvane {
namespace {

using detail::ControlDispatch;
using typeinfo::MemberKind;

std::string U8(std::u16string_view s) { return text::ToUtf8(s); }

std::string Show(const Variant& v) {
  const Variant d = v.Dereferenced();
  std::string out = (v.is_byref() ? "byref vt " : "vt ") + std::to_string(v.base_type());
  switch (d.vt()) {
    case VT_BSTR: return out + " \"" + U8(d.string()) + "\"";
    case VT_R4: case VT_R8: return out + " " + std::to_string(d.real());
    case VT_EMPTY: case VT_NULL: case VT_DISPATCH: return out;
    default: return out + " " + std::to_string(d.integer());
  }
}

// A PowerPoint that answers its name and version only: enough for the version queries.
class VersionOnlyPowerPoint final : public office::ppt::Application {
 public:
  explicit VersionOnlyPowerPoint(std::u16string version) : version_(std::move(version)) {}
  std::u16string Name() override { return u"PowerPoint"; }
  std::u16string Version() override { return version_; }
  std::shared_ptr<office::ppt::Presentations> Presentations() override {
    throw AutomationError(failure::kPowerPointInvalidRequest, u"no presentations here");
  }
  void Quit() override {}

 private:
  std::u16string version_;
};

// Creates a PowerPoint of the given version, or fails in the way a test asks for.
class TestProvider final : public office::ApplicationProvider {
 public:
  explicit TestProvider(std::u16string version) : version_(std::move(version)) {}
  std::function<void()> failCreation;  // throws whatever the test wants from CreatePowerPoint

  std::shared_ptr<office::ppt::Application> CreatePowerPoint() override {
    if (failCreation) failCreation();
    return std::make_shared<VersionOnlyPowerPoint>(version_);
  }
  std::shared_ptr<office::word::Application> CreateWord() override {
    throw AutomationError(failure::kCannotCreateObject, u"no Word");
  }

 private:
  std::u16string version_;
};

// A control whose PowerPoint reports `version`, and its dispatch surface.
struct Fixture {
  explicit Fixture(std::u16string version = u"12.0")
      : provider(std::make_shared<TestProvider>(std::move(version))), control(provider), surface(control) {}
  std::shared_ptr<TestProvider> provider;
  QuorvaneX control;
  ControlDispatch surface;

  DispId Id(std::u16string_view name) {
    DispId id = 0;
    EXPECT_EQ(surface.GetIDOfName(name, id), S_OK_) << U8(name);
    return id;
  }
  HResult Invoke(std::u16string_view name, std::uint16_t kind, std::vector<Variant> args, Variant* result = nullptr,
                 ExcepInfo* excep = nullptr) {
    return surface.Invoke(Id(name), kind, args, result, excep);
  }
  Variant Get(std::u16string_view name) {
    Variant result;
    EXPECT_EQ(Invoke(name, DISPATCH_PROPERTYGET, {}, &result), S_OK_) << U8(name);
    return result;
  }
};

constexpr std::uint16_t kCall = DISPATCH_METHOD;
constexpr std::uint16_t kGet = DISPATCH_PROPERTYGET;
constexpr std::uint16_t kPut = DISPATCH_PROPERTYPUT;

// ---------------------------------------------------------------------------------------------
// The type description
// ---------------------------------------------------------------------------------------------

std::string Describe(const typeinfo::MemberInfo& m) {
  static const std::map<int, std::string> kTypes = {
      {VT_EMPTY, "void"}, {VT_I2, "I2"},     {VT_I4, "I4"},           {VT_R4, "R4"},           {VT_R8, "R8"},
      {VT_BSTR, "BSTR"},  {VT_BOOL, "BOOL"}, {VT_VARIANT, "VARIANT"}, {VT_DISPATCH, "DISPATCH"}};
  std::string kind = m.kind == MemberKind::Method ? "method" : m.kind == MemberKind::PropertyGet ? "get" : "put";
  std::string params;
  for (const auto& p : m.params) {
    if (!params.empty()) params += ", ";
    params += U8(p.name) + ":" + kTypes.at(p.type) + (p.byRef ? "&" : "");
  }
  char id[16];
  std::snprintf(id, sizeof id, "0x%08X", static_cast<unsigned>(m.id));
  return U8(m.name) + " " + kind + " (" + params + ") -> " + kTypes.at(m.result) + " " + id;
}

TEST(TypeDescription, AutomationInterfaceListsEveryMemberInSlotOrder) {
  const std::vector<std::string> expected = {
      "UserControl_Terminate method () -> void 0x6003007C",
      "OptimizeForSpeed get () -> BOOL 0x68030078",
      "OptimizeForSpeed put (RHS:BOOL) -> void 0x68030078",
      "InputFile get () -> BSTR 0x68030077",
      "InputFile put (RHS:BSTR) -> void 0x68030077",
      "OutputFile get () -> BSTR 0x68030076",
      "OutputFile put (RHS:BSTR) -> void 0x68030076",
      "TargetFileType get () -> I4 0x68030075",
      "TargetFileType put (RHS:I4) -> void 0x68030075",
      "StartSlide get () -> I4 0x68030074",
      "StartSlide put (RHS:I4) -> void 0x68030074",
      "EndSlide get () -> I4 0x68030073",
      "EndSlide put (RHS:I4) -> void 0x68030073",
      "MultiFileOutput get () -> BOOL 0x68030072",
      "MultiFileOutput put (RHS:BOOL) -> void 0x68030072",
      "ShowSlideAndShapeNumber get () -> BOOL 0x68030071",
      "ShowSlideAndShapeNumber put (RHS:BOOL) -> void 0x68030071",
      "PercentageComplete get () -> R4 0x68030070",
      "ErrorString get () -> BSTR 0x6803006F",
      "ErrorString put (RHS:BSTR) -> void 0x6803006F",
      "PowerPointVersion method (sPowerPointVersion:BSTR&) -> R8 0x60030080",
      "FileTypeSupportsSingleFileOutput method (lFiletype:I4&) -> BOOL 0x60030081",
      "GetAllPossibleErrorsCount method () -> I4 0x6003008A",
      "GetErrorString method (intErrorNumber:VARIANT&) -> BSTR 0x6003008B",
      "lNumberOfFileTypes get () -> VARIANT 0x6803006E",
      "GetFileType method (lExtindex:I4, sFileType:BSTR&, lFiletype:I4&) -> BOOL 0x6003008C",
      "LookUpSaveAsExtension method (lFiletype:I4&, bIncludeWildCard:BOOL&) -> BSTR 0x6003008D",
      "ConvertFile method () -> I4 0x60030093",
      "IncludeNotes get () -> BOOL 0x68030094",
      "IncludeNotes put (RHS:BOOL) -> void 0x68030094",
      "NotesOnly get () -> BOOL 0x68030095",
      "NotesOnly put (RHS:BOOL) -> void 0x68030095",
      "TextFromGroupShape method (oSh:DISPATCH&) -> BSTR 0x600300A0",
      "OpenTextFileForWriting method (sOutputFileName:BSTR&) -> void 0x600300A9",
      "CloseTextFileForWriting method () -> void 0x600300AA",
      "WriteToTextFile method (Value:BSTR&) -> void 0x600300AB",
      "PowerPointVersionAtLeast2010 method () -> BOOL 0x600300B1",
      "PowerPointVersionAtLeast2007 method () -> BOOL 0x600300B7",
  };
  const auto& members = typeinfo::kQuorvaneXInterface.members;
  ASSERT_EQ(members.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(Describe(members[i]), expected[i]) << "slot " << i;

  ASSERT_EQ(typeinfo::kQuorvaneXEvents.members.size(), 2u);
  EXPECT_EQ(Describe(typeinfo::kQuorvaneXEvents.members[0]), "Progress method () -> void 0x00000001");
  EXPECT_EQ(Describe(typeinfo::kQuorvaneXEvents.members[1]),
            "onerror method (intErrorNumber:I4&, strErrorText:BSTR&) -> void 0x00000002");
}

TEST(TypeDescription, IdentifiersAreDistinctAndAliasesAnswerAsTheInterface) {
  using namespace typeinfo;
  EXPECT_EQ(U8(kLibrary.name), "Quorvane");
  EXPECT_EQ(kLibrary.majorVersion, 4);
  EXPECT_EQ(kLibrary.minorVersion, 7);
  EXPECT_EQ(kLibrary.lcid, 0u);
  EXPECT_EQ(kQuorvaneXClass.defaultInterface, &kQuorvaneXInterface);
  EXPECT_EQ(kQuorvaneXClass.defaultSource, &kQuorvaneXEvents);
  EXPECT_EQ(kQuorvaneXInterface.flavor, InterfaceFlavor::Dual);
  EXPECT_EQ(kQuorvaneXEvents.flavor, InterfaceFlavor::DispatchOnly);

  std::set<std::string> seen;
  struct Row {
    std::string what;
    Guid id;
    const InterfaceInfo* answer;
  };
  std::vector<Row> rows = {{"library", kLibrary.libid, nullptr},
                           {"class", kQuorvaneXClass.clsid, nullptr},
                           {"_QuorvaneX", kQuorvaneXInterface.iid, &kQuorvaneXInterface},
                           {"__QuorvaneX", kQuorvaneXEvents.iid, &kQuorvaneXEvents},
                           {"unknown", ParseGuid("00000000-0000-0000-c000-000000000046"), nullptr}};
  for (std::size_t i = 0; i < std::size(kQuorvaneXAliases); ++i) {
    EXPECT_EQ(U8(kQuorvaneXAliases[i].name), "QuorvaneX___v" + std::to_string(i));
    rows.push_back({U8(kQuorvaneXAliases[i].name), kQuorvaneXAliases[i].iid, &kQuorvaneXInterface});
  }
  for (const auto& row : rows) {
    EXPECT_EQ(FindInterface(row.id), row.answer) << row.what;
    if (row.what != "unknown") {
      EXPECT_TRUE(seen.insert(FormatGuid(row.id)).second) << row.what << " repeats an identifier";
    }
  }
  EXPECT_EQ(seen.size(), 11u);
  EXPECT_EQ(FormatGuid(ParseGuid("0bd27bcb-1c14-4fab-ae0c-185168c982a2")), "{0BD27BCB-1C14-4FAB-AE0C-185168C982A2}");
}

TEST(TypeDescription, NamesAreFoundWithoutRegardToCase) {
  const struct {
    std::u16string_view name;
    std::optional<DispId> id;
  } rows[] = {
      {u"ConvertFile", 0x60030093},          {u"convertfile", 0x60030093},
      {u"CONVERTFILE", 0x60030093},          {u"lnumberoffiletypes", 0x6803006E},
      {u"ERRORSTRING", 0x6803006F},          {u"userControl_terminate", 0x6003007C},
      {u"Convert", std::nullopt},            {u"", std::nullopt},
      {u"ConvertFile ", std::nullopt},       {u"Progress", std::nullopt},
  };
  for (const auto& row : rows)
    EXPECT_EQ(typeinfo::FindDispId(typeinfo::kQuorvaneXInterface, row.name), row.id) << U8(row.name);
  EXPECT_EQ(typeinfo::FindDispId(typeinfo::kQuorvaneXEvents, u"ONERROR"), 2);
}

// ---------------------------------------------------------------------------------------------
// Every member through Invoke
// ---------------------------------------------------------------------------------------------

enum class Expect {
  Value,    // S_OK and exactly this result
  Reached,  // the member ran: S_OK or the member's own failure (converters and writers vary)
};

struct MemberRow {
  std::u16string_view name;
  std::uint16_t kind;
  std::vector<Variant> args;
  Expect expect;
  Variant result;
};

std::vector<MemberRow> EveryMember() {
  return {
      {u"UserControl_Terminate", kCall, {}, Expect::Value, Variant()},
      {u"OptimizeForSpeed", kGet, {}, Expect::Value, Variant::Bool(-1)},
      {u"OptimizeForSpeed", kPut, {Variant::Bool(0)}, Expect::Value, Variant()},
      {u"InputFile", kGet, {}, Expect::Value, Variant(u"")},
      {u"InputFile", kPut, {Variant(u"in.pptx")}, Expect::Value, Variant()},
      {u"OutputFile", kGet, {}, Expect::Value, Variant(u"")},
      {u"OutputFile", kPut, {Variant(u"out.pdf")}, Expect::Value, Variant()},
      {u"TargetFileType", kGet, {}, Expect::Value, Variant(6)},
      {u"TargetFileType", kPut, {Variant(32)}, Expect::Value, Variant()},
      {u"StartSlide", kGet, {}, Expect::Value, Variant(0)},
      {u"StartSlide", kPut, {Variant(2)}, Expect::Value, Variant()},
      {u"EndSlide", kGet, {}, Expect::Value, Variant(0)},
      {u"EndSlide", kPut, {Variant(4)}, Expect::Value, Variant()},
      {u"MultiFileOutput", kGet, {}, Expect::Value, Variant::Bool(0)},
      {u"MultiFileOutput", kPut, {Variant::Bool(-1)}, Expect::Value, Variant()},
      {u"ShowSlideAndShapeNumber", kGet, {}, Expect::Value, Variant::Bool(0)},
      {u"ShowSlideAndShapeNumber", kPut, {Variant::Bool(-1)}, Expect::Value, Variant()},
      {u"PercentageComplete", kGet, {}, Expect::Value, Variant(0.0f)},
      {u"ErrorString", kGet, {}, Expect::Value, Variant(u"")},
      {u"ErrorString", kPut, {Variant(u"set by host")}, Expect::Value, Variant()},
      {u"PowerPointVersion", kCall, {Variant(u"")}, Expect::Value, Variant(12.0)},
      {u"FileTypeSupportsSingleFileOutput", kCall, {Variant(15)}, Expect::Value, Variant::Bool(0)},
      {u"GetAllPossibleErrorsCount", kCall, {}, Expect::Value, Variant(17)},
      {u"GetErrorString", kCall, {Variant(-5)}, Expect::Value, Variant(u"Input file not found. Please check the path")},
      {u"lNumberOfFileTypes", kGet, {}, Expect::Value, Variant(static_cast<std::int16_t>(36))},
      {u"GetFileType", kCall, {Variant(1), Variant(u""), Variant(0)}, Expect::Value, Variant::Bool(-1)},
      {u"LookUpSaveAsExtension", kCall, {Variant(17), Variant::Bool(-1)}, Expect::Value, Variant(u"*.jpg")},
      {u"ConvertFile", kCall, {}, Expect::Reached, Variant()},
      {u"IncludeNotes", kGet, {}, Expect::Value, Variant::Bool(0)},
      {u"IncludeNotes", kPut, {Variant::Bool(-1)}, Expect::Value, Variant()},
      {u"NotesOnly", kGet, {}, Expect::Value, Variant::Bool(0)},
      {u"NotesOnly", kPut, {Variant::Bool(-1)}, Expect::Value, Variant()},
      {u"TextFromGroupShape", kCall, {Variant(Variant::DispatchPtr())}, Expect::Reached, Variant()},
      {u"OpenTextFileForWriting", kCall, {Variant(u"/nonexistent-quorvane-folder/out.txt")}, Expect::Reached,
       Variant()},
      {u"CloseTextFileForWriting", kCall, {}, Expect::Reached, Variant()},
      {u"WriteToTextFile", kCall, {Variant(u"text")}, Expect::Reached, Variant()},
      {u"PowerPointVersionAtLeast2010", kCall, {}, Expect::Value, Variant::Bool(0)},
      {u"PowerPointVersionAtLeast2007", kCall, {}, Expect::Value, Variant::Bool(-1)},
  };
}

std::u16string Upper(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return out;
}

TEST(ControlDispatch, EveryMemberAnswersByIdAndByName) {
  const auto rows = EveryMember();
  std::set<std::pair<std::u16string_view, MemberKind>> covered;
  for (const auto& row : rows) {
    const MemberKind kind = row.kind == kPut   ? MemberKind::PropertyPut
                            : row.kind == kGet ? MemberKind::PropertyGet
                                               : MemberKind::Method;
    covered.insert({row.name, kind});
    const auto id = typeinfo::FindDispId(typeinfo::kQuorvaneXInterface, row.name);
    ASSERT_TRUE(id) << U8(row.name);

    // By the id of the description, then by the name in upper case and in lower case.
    for (const std::u16string& name : {std::u16string(row.name), Upper(row.name), text::Fold(row.name)}) {
      Fixture f;
      DispId byName = 0;
      ASSERT_EQ(f.surface.GetIDOfName(name, byName), S_OK_) << U8(name);
      EXPECT_EQ(byName, *id) << U8(name);
      auto args = row.args;
      Variant result = Variant(u"untouched");
      ExcepInfo excep;
      const HResult hr = f.surface.Invoke(byName, row.kind, args, &result, &excep);
      const std::string label = U8(name) + " kind " + std::to_string(row.kind);
      if (row.expect == Expect::Value) {
        EXPECT_EQ(hr, S_OK_) << label << ": " << U8(excep.description);
        EXPECT_EQ(result, row.result) << label << ": got " << Show(result) << ", expected " << Show(row.result);
      } else {
        EXPECT_TRUE(hr == S_OK_ || hr == DISP_E_EXCEPTION) << label << ": hr " << std::hex << hr;
        if (hr == DISP_E_EXCEPTION) {
          EXPECT_NE(excep.number, 0) << label;
        }
      }
    }
  }
  for (const auto& m : typeinfo::kQuorvaneXInterface.members)
    EXPECT_TRUE(covered.count({m.name, m.kind})) << U8(m.name) << " has no row";
}

TEST(ControlDispatch, PropertyGetAnswersMethodAndGetCombined) {
  Fixture f;
  Variant result;
  EXPECT_EQ(f.Invoke(u"TargetFileType", kCall | kGet, {}, &result), S_OK_);
  EXPECT_EQ(result, Variant(6));
  EXPECT_EQ(f.Invoke(u"GetAllPossibleErrorsCount", kCall | kGet, {}, &result), S_OK_);
  EXPECT_EQ(result, Variant(17));
  // No result wanted: a null result pointer is fine.
  EXPECT_EQ(f.Invoke(u"ConvertFile", kCall, {}, nullptr), S_OK_);
}

// ---------------------------------------------------------------------------------------------
// Coercion of by-value arguments
// ---------------------------------------------------------------------------------------------

struct PutRow {
  std::string label;
  std::u16string_view property;
  Variant value;
  HResult hr;
  Variant readBack;  // after a failure: the initial value, unchanged
};

TEST(ControlDispatch, PutCoercesToTheDeclaredType) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<PutRow> rows = {
      {"I4 as is", u"TargetFileType", Variant(9999), S_OK_, Variant(9999)},
      {"I2 widened", u"TargetFileType", Variant(static_cast<std::int16_t>(-7)), S_OK_, Variant(-7)},
      {"I1", u"TargetFileType", Variant::Integer(VT_I1, -5), S_OK_, Variant(-5)},
      {"UI1", u"TargetFileType", Variant::Integer(VT_UI1, 200), S_OK_, Variant(200)},
      {"UI2", u"TargetFileType", Variant::Integer(VT_UI2, 65535), S_OK_, Variant(65535)},
      {"UI4 in range", u"TargetFileType", Variant::Integer(VT_UI4, 7), S_OK_, Variant(7)},
      {"UI4 too big", u"TargetFileType", Variant::Integer(VT_UI4, 4294967295LL), DISP_E_OVERFLOW, Variant(6)},
      {"I8 too big", u"TargetFileType", Variant::Integer(VT_I8, 2147483648LL), DISP_E_OVERFLOW, Variant(6)},
      {"I8 too small", u"StartSlide", Variant::Integer(VT_I8, -2147483649LL), DISP_E_OVERFLOW, Variant(0)},
      {"R8 2.5 to even", u"TargetFileType", Variant(2.5), S_OK_, Variant(2)},
      {"R8 3.5 to even", u"TargetFileType", Variant(3.5), S_OK_, Variant(4)},
      {"R8 -2.5 to even", u"StartSlide", Variant(-2.5), S_OK_, Variant(-2)},
      {"R8 2.6 up", u"TargetFileType", Variant(2.6), S_OK_, Variant(3)},
      {"R4 1.49 down", u"TargetFileType", Variant(1.49f), S_OK_, Variant(1)},
      {"R8 rounds out of range", u"TargetFileType", Variant(2147483647.5), DISP_E_OVERFLOW, Variant(6)},
      {"R8 huge", u"TargetFileType", Variant(1e300), DISP_E_OVERFLOW, Variant(6)},
      {"R8 NaN", u"TargetFileType", Variant(nan), DISP_E_OVERFLOW, Variant(6)},
      {"Boolean true", u"TargetFileType", Variant::Bool(-1), S_OK_, Variant(-1)},
      {"empty", u"TargetFileType", Variant(), S_OK_, Variant(0)},
      {"numeric text", u"TargetFileType", Variant(u"42"), S_OK_, Variant(42)},
      {"numeric text with spaces and sign", u"StartSlide", Variant(u"  -12 "), S_OK_, Variant(-12)},
      {"numeric text with decimals", u"TargetFileType", Variant(u"+7.5"), S_OK_, Variant(8)},
      {"numeric text with exponent", u"TargetFileType", Variant(u"1e2"), S_OK_, Variant(100)},
      {"numeric text too big", u"TargetFileType", Variant(u"1e10"), DISP_E_OVERFLOW, Variant(6)},
      {"text", u"TargetFileType", Variant(u"abc"), DISP_E_TYPEMISMATCH, Variant(6)},
      {"empty text", u"TargetFileType", Variant(u""), DISP_E_TYPEMISMATCH, Variant(6)},
      {"grouped digits", u"TargetFileType", Variant(u"1,000"), DISP_E_TYPEMISMATCH, Variant(6)},
      {"infinity text", u"TargetFileType", Variant(u"inf"), DISP_E_TYPEMISMATCH, Variant(6)},
      {"sign only", u"TargetFileType", Variant(u"-"), DISP_E_TYPEMISMATCH, Variant(6)},
      {"null", u"TargetFileType", Variant::Null(), DISP_E_TYPEMISMATCH, Variant(6)},
      {"error value", u"TargetFileType", Variant::Integer(VT_ERROR, 5), DISP_E_TYPEMISMATCH, Variant(6)},
      {"object", u"TargetFileType", Variant(Variant::DispatchPtr()), DISP_E_TYPEMISMATCH, Variant(6)},
      {"Boolean kept as given", u"OptimizeForSpeed", Variant::Bool(1), S_OK_, Variant::Bool(1)},
      {"integer 1 to true", u"OptimizeForSpeed", Variant(static_cast<std::int16_t>(1)), S_OK_, Variant::Bool(-1)},
      {"zero to false", u"OptimizeForSpeed", Variant(0.0), S_OK_, Variant::Bool(0)},
      {"text True", u"MultiFileOutput", Variant(u"true"), S_OK_, Variant::Bool(-1)},
      {"text False", u"OptimizeForSpeed", Variant(u"FALSE"), S_OK_, Variant::Bool(0)},
      {"numeric text to Boolean", u"MultiFileOutput", Variant(u"7"), S_OK_, Variant::Bool(-1)},
      {"text not Boolean", u"OptimizeForSpeed", Variant(u"yes"), DISP_E_TYPEMISMATCH, Variant::Bool(-1)},
      {"empty to false", u"OptimizeForSpeed", Variant(), S_OK_, Variant::Bool(0)},
      {"integer to text", u"ErrorString", Variant(42), S_OK_, Variant(u"42")},
      {"real to text", u"ErrorString", Variant(2.5), S_OK_, Variant(u"2.5")},
      {"single to text", u"ErrorString", Variant(0.1f), S_OK_, Variant(u"0.1")},
      {"Boolean to text", u"ErrorString", Variant::Bool(-1), S_OK_, Variant(u"True")},
      {"empty to text", u"InputFile", Variant(), S_OK_, Variant(u"")},
      {"path trimmed", u"InputFile", Variant(u"  a b.pptx  "), S_OK_, Variant(u"a b.pptx")},
      {"tab kept", u"OutputFile", Variant(u"\tx.pdf"), S_OK_, Variant(u"\tx.pdf")},
      {"null to text", u"InputFile", Variant::Null(), DISP_E_TYPEMISMATCH, Variant(u"")},
      {"object to text", u"InputFile", Variant(Variant::DispatchPtr()), DISP_E_TYPEMISMATCH, Variant(u"")},
  };
  for (const auto& row : rows) {
    Fixture f;
    EXPECT_EQ(f.Invoke(row.property, kPut, {row.value}), row.hr) << row.label;
    const Variant back = f.Get(row.property);
    EXPECT_EQ(back, row.readBack) << row.label << ": got " << Show(back);
  }
}

TEST(ControlDispatch, PutReadsThroughAByReferenceArgument) {
  Fixture f;
  std::int16_t code = 36;
  Variant inner(u"24");
  EXPECT_EQ(f.Invoke(u"TargetFileType", kPut, {Variant::ByRef(&code)}), S_OK_);
  EXPECT_EQ(f.Get(u"TargetFileType"), Variant(36));
  EXPECT_EQ(f.Invoke(u"TargetFileType", kPut, {Variant::ByRef(&inner)}), S_OK_);
  EXPECT_EQ(f.Get(u"TargetFileType"), Variant(24));
}

// ---------------------------------------------------------------------------------------------
// By-reference parameters
// ---------------------------------------------------------------------------------------------

TEST(ControlDispatch, GetFileTypeWritesBackThroughReferencesOfTheDeclaredType) {
  const struct {
    std::u16string version;
    std::int32_t position;
    std::u16string description;
    std::int32_t code;
  } rows[] = {
      {u"12.0", 1, u"PPTX-PowerPoint File", 24},
      {u"12.0", 36, u"Unicode Text", 107},
      {u"11.0", 1, u"RTF/DOC - Rich Text Format", 6},
      {u"11.0", 25, u"caller's", -99},  // past the short list: nothing written
      {u"12.0", 0, u"caller's", -99},
  };
  for (const auto& row : rows) {
    Fixture f(row.version);
    std::u16string description = u"caller's";
    std::int32_t code = -99;
    Variant result;
    EXPECT_EQ(f.Invoke(u"GetFileType", kCall,
                       {Variant(row.position), Variant::ByRef(&description), Variant::ByRef(&code)}, &result),
              S_OK_);
    EXPECT_EQ(result, Variant::Bool(-1));
    EXPECT_EQ(U8(description), U8(row.description)) << U8(row.version) << " position " << row.position;
    EXPECT_EQ(code, row.code) << U8(row.version) << " position " << row.position;
  }
}

TEST(ControlDispatch, ByValueArgumentsForReferenceParametersAreCoercedAndNotWrittenBack) {
  Fixture f;
  std::vector<Variant> args = {Variant(static_cast<std::int16_t>(1)), Variant(u"unchanged"), Variant(u"5")};
  Variant result;
  EXPECT_EQ(f.surface.Invoke(f.Id(u"GetFileType"), kCall, args, &result, nullptr), S_OK_);
  EXPECT_EQ(result, Variant::Bool(-1));
  EXPECT_EQ(args[1], Variant(u"unchanged"));
  EXPECT_EQ(args[2], Variant(u"5"));
}

TEST(ControlDispatch, ReferenceOfAnotherTypeIsATypeMismatch) {
  Fixture f;
  std::u16string text = u"x";
  std::int16_t shortCode = 1;
  std::int32_t code = 0;
  Variant variant(1);
  std::int32_t wrongObject = 0;
  const struct {
    std::string label;
    std::u16string_view name;
    std::vector<Variant> args;
  } rows[] = {
      {"I2 reference for I4", u"GetFileType", {Variant(1), Variant::ByRef(&text), Variant::ByRef(&shortCode)}},
      {"I4 reference for string", u"GetFileType", {Variant(1), Variant::ByRef(&code), Variant::ByRef(&code)}},
      {"variant reference for I4", u"FileTypeSupportsSingleFileOutput", {Variant::ByRef(&variant)}},
      {"I4 reference for Boolean", u"LookUpSaveAsExtension", {Variant(17), Variant::ByRef(&code)}},
      {"I4 reference for object", u"TextFromGroupShape", {Variant::ByRef(&wrongObject)}},
      {"text for object", u"TextFromGroupShape", {Variant(u"shape")}},
      {"text for I4 by reference", u"FileTypeSupportsSingleFileOutput", {Variant(u"seventeen")}},
  };
  for (const auto& row : rows) {
    Variant result(u"untouched");
    EXPECT_EQ(f.Invoke(row.name, kCall, row.args, &result), DISP_E_TYPEMISMATCH) << row.label;
    EXPECT_EQ(result, Variant(u"untouched")) << row.label;
  }
  EXPECT_EQ(text, u"x");
}

TEST(ControlDispatch, PowerPointVersionAndLookUpWriteThroughReferences) {
  Fixture f(u"14.0");
  std::u16string version = u"old";
  Variant result;
  EXPECT_EQ(f.Invoke(u"PowerPointVersion", kCall, {Variant::ByRef(&version)}, &result), S_OK_);
  EXPECT_EQ(U8(version), "14.0");
  EXPECT_EQ(result, Variant(14.0));

  const auto byReference = [](std::int32_t* c, VariantBool* w) {
    return std::vector<Variant>{Variant::ByRef(c), Variant::ByRefBool(w)};
  };
  const struct {
    std::string label;
    std::function<std::vector<Variant>(std::int32_t*, VariantBool*)> args;
    std::int32_t code;
    VariantBool wildcard;
    std::u16string expected;
  } rows[] = {
      {"both by reference", byReference, 17, -1, u"*.jpg"},
      {"by value, I2 code, Boolean 1 is not true",
       [](auto, auto) { return std::vector<Variant>{Variant(static_cast<std::int16_t>(17)), Variant::Bool(1)}; }, 0, 0,
       u"jpg"},
      {"by value, integer 1 coerced to true",
       [](auto, auto) { return std::vector<Variant>{Variant(u"107"), Variant(static_cast<std::int16_t>(1))}; }, 0, 0,
       u"*.txt"},
      {"no extension with wildcard", byReference, 23, -1, u"*."},
  };
  for (const auto& row : rows) {
    std::int32_t code = row.code;
    VariantBool wildcard = row.wildcard;
    EXPECT_EQ(f.Invoke(u"LookUpSaveAsExtension", kCall, row.args(&code, &wildcard), &result), S_OK_) << row.label;
    EXPECT_EQ(result, Variant(row.expected)) << row.label << ": got " << Show(result);
    EXPECT_EQ(code, row.code) << row.label << ": the code is read, never written";
  }
}

TEST(ControlDispatch, GetErrorStringAcceptsAnyVariantByReference) {
  Fixture f;
  std::int16_t shortCode = -6;
  std::int32_t longCode = -18;
  Variant held(static_cast<std::int16_t>(-4));
  std::u16string textCode = u"-5";
  const struct {
    std::string label;
    Variant arg;
    std::u16string expected;
  } rows[] = {
      {"I2 by value", Variant(static_cast<std::int16_t>(-6)), u"Input and Output Filename are same"},
      {"I4 by value", Variant(-6), u"Input and Output Filename are same"},
      {"I2 by reference", Variant::ByRef(&shortCode), u"Input and Output Filename are same"},
      {"I4 by reference", Variant::ByRef(&longCode), u"Target file is read only."},
      {"variant by reference", Variant::ByRef(&held), u"AVAILABLE FOR USAGE IN GETERRRORSTRING()"},
      {"numeric text by reference", Variant::ByRef(&textCode), u"Input file not found. Please check the path"},
      {"real", Variant(-1.0), u"Unable to open necessary ZEB DLL"},
      {"not in the catalogue", Variant(-19), u""},
      {"empty", Variant(), u""},
  };
  for (const auto& row : rows) {
    Variant result;
    EXPECT_EQ(f.Invoke(u"GetErrorString", kCall, {row.arg}, &result), S_OK_) << row.label;
    EXPECT_EQ(result, Variant(row.expected)) << row.label << ": got " << Show(result);
  }
  EXPECT_EQ(held, Variant(static_cast<std::int16_t>(-4)));
}

// ---------------------------------------------------------------------------------------------
// Failures
// ---------------------------------------------------------------------------------------------

TEST(ControlDispatch, RefusesUnknownIdsWrongKindsAndWrongCounts) {
  Fixture f;
  const struct {
    std::string label;
    DispId id;
    std::uint16_t kind;
    std::size_t argc;
    HResult hr;
  } rows[] = {
      {"unknown id", 12345, kCall, 0, DISP_E_MEMBERNOTFOUND},
      {"id 0", 0, kCall | kGet, 0, DISP_E_MEMBERNOTFOUND},
      {"event id", 2, kCall, 2, DISP_E_MEMBERNOTFOUND},
      {"put on a read-only property", 0x68030070, kPut, 1, DISP_E_MEMBERNOTFOUND},
      {"put on lNumberOfFileTypes", 0x6803006E, kPut, 1, DISP_E_MEMBERNOTFOUND},
      {"put on a method", 0x60030093, kPut, 1, DISP_E_MEMBERNOTFOUND},
      {"property get of a method", 0x60030093, kGet, 0, DISP_E_MEMBERNOTFOUND},
      {"method call of a property", 0x68030077, kCall, 0, DISP_E_MEMBERNOTFOUND},
      {"no kind", 0x68030077, 0, 0, DISP_E_MEMBERNOTFOUND},
      {"put combined with get", 0x68030077, kPut | kGet, 1, DISP_E_MEMBERNOTFOUND},
      {"argument for ConvertFile", 0x60030093, kCall, 1, DISP_E_BADPARAMCOUNT},
      {"two of three for GetFileType", 0x6003008C, kCall, 2, DISP_E_BADPARAMCOUNT},
      {"four of three for GetFileType", 0x6003008C, kCall, 4, DISP_E_BADPARAMCOUNT},
      {"put without value", 0x68030077, kPut, 0, DISP_E_BADPARAMCOUNT},
      {"put with two values", 0x68030077, kPut, 2, DISP_E_BADPARAMCOUNT},
      {"argument for a get", 0x68030077, kGet, 1, DISP_E_BADPARAMCOUNT},
  };
  for (const auto& row : rows) {
    std::vector<Variant> args(row.argc, Variant(1));
    Variant result(u"untouched");
    EXPECT_EQ(f.surface.Invoke(row.id, row.kind, args, &result, nullptr), row.hr) << row.label;
    EXPECT_EQ(result, Variant(u"untouched")) << row.label;
  }
  DispId id = 77;
  EXPECT_EQ(f.surface.GetIDOfName(u"NoSuchMember", id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, 77);
}

TEST(ControlDispatch, MemberFailuresBecomeExceptionResults) {
  // A failure of the text writer: an automation error of the member, whatever its number.
  {
    Fixture f;
    std::u16string path = u"/nonexistent-quorvane-folder/sub/out.txt";
    Variant result(u"untouched");
    ExcepInfo excep;
    EXPECT_EQ(f.Invoke(u"OpenTextFileForWriting", kCall, {Variant::ByRef(&path)}, &result, &excep), DISP_E_EXCEPTION);
    EXPECT_NE(excep.number, 0);
    EXPECT_FALSE(excep.description.empty());
    EXPECT_EQ(result, Variant(u"untouched"));
    std::vector<Variant> args = {Variant(path)};
    try {
      f.surface.Call(u"openTextFileForWriting", kCall, args);
      ADD_FAILURE() << "Call did not throw";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), excep.number);
      EXPECT_EQ(e.description(), excep.description);
    }
  }
  // Failures that are not automation errors, from inside the application provider.
  const struct {
    std::string label;
    std::function<void()> fail;
    std::int32_t number;
    std::u16string description;
  } rows[] = {
      {"out of memory", [] { throw std::bad_alloc(); }, 7, u"Out of memory"},
      {"other C++ failure", [] { throw std::runtime_error("engine exploded"); }, 5, u"engine exploded"},
      {"not an exception class", [] { throw 42; }, 5, u"Invalid procedure call or argument"},
  };
  for (const auto& row : rows) {
    Fixture f;
    f.provider->failCreation = row.fail;
    ExcepInfo excep;
    EXPECT_EQ(f.Invoke(u"PowerPointVersion", kCall, {Variant(u"")}, nullptr, &excep), DISP_E_EXCEPTION) << row.label;
    EXPECT_EQ(excep.number, row.number) << row.label;
    EXPECT_EQ(U8(excep.description), U8(row.description)) << row.label;
    // Without an ExcepInfo the result is the same, and nothing escapes.
    EXPECT_EQ(f.Invoke(u"PowerPointVersion", kCall, {Variant(u"")}), DISP_E_EXCEPTION) << row.label;
  }
}

TEST(DispatchCall, ThrowsTheFailureAsAnAutomationError) {
  Fixture f;
  std::vector<Variant> none;
  EXPECT_EQ(f.surface.Call(u"targetfiletype", kGet), Variant(6));
  const struct {
    std::string label;
    std::u16string_view name;
    std::uint16_t kind;
    std::int32_t number;
  } rows[] = {
      {"unknown name", u"Nope", kGet, DISP_E_UNKNOWNNAME},
      {"wrong kind", u"PercentageComplete", kPut, DISP_E_MEMBERNOTFOUND},
      {"wrong count", u"GetFileType", kCall, DISP_E_BADPARAMCOUNT},
  };
  for (const auto& row : rows) {
    try {
      f.surface.Call(row.name, row.kind, none);
      ADD_FAILURE() << row.label << ": no throw";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.number(), row.number) << row.label;
      EXPECT_FALSE(e.description().empty()) << row.label;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Events through a Dispatch sink
// ---------------------------------------------------------------------------------------------

// Records each event; on onerror it reads both arguments and assigns `replacement` to the text.
class RecordingSink final : public Dispatch {
 public:
  struct Event {
    DispId id = 0;
    std::uint16_t kind = 0;
    std::vector<VarType> types;
    std::int32_t number = 0;
    std::u16string text;
    float percentage = -1;
  };
  std::vector<Event> calls;
  std::u16string replacement;
  ControlDispatch* surface = nullptr;  // read PercentageComplete through it while handling Progress
  std::function<void()> whileHandling;
  HResult answer = S_OK_;

  HResult GetIDOfName(std::u16string_view, DispId&) override { return DISP_E_UNKNOWNNAME; }
  HResult Invoke(DispId id, std::uint16_t kind, std::span<Variant> args, Variant*, ExcepInfo*) override {
    Event call;
    call.id = id;
    call.kind = kind;
    for (const auto& a : args) call.types.push_back(a.vt());
    if (id == typeinfo::kDispIdOnError && args.size() == 2 && args[0].vt() == (VT_BYREF | VT_I4) &&
        args[1].vt() == (VT_BYREF | VT_BSTR)) {
      call.number = *args[0].ref<std::int32_t>();
      call.text = *args[1].ref<std::u16string>();
      if (!replacement.empty()) *args[1].ref<std::u16string>() = replacement;
    }
    if (id == typeinfo::kDispIdProgress && surface)
      call.percentage = static_cast<float>(surface->Call(u"PercentageComplete", DISPATCH_PROPERTYGET).real());
    calls.push_back(call);
    if (whileHandling) whileHandling();
    return answer;
  }
};

TEST(ControlEvents, OnErrorReachesADispatchSinkThatWritesBackErrorString) {
  // Target codes of the routes whose failure text a handler may rewrite; each conversion without
  // input fails and reports once. (Through Word, a failed Word start replaces ErrorString after its
  // report, so a handler's words do not stay there.)
  for (const std::int32_t target : {6, 16, 200}) {
    QuorvaneX control;  // the default provider
    ControlDispatch surface(control);
    auto sink = std::make_shared<RecordingSink>();
    sink->replacement = u"Host's own words";
    ASSERT_NE(surface.AdviseEvents(sink), 0u);
    std::vector<Variant> put = {Variant(target)};
    surface.Call(u"TargetFileType", DISPATCH_PROPERTYPUT, put);

    const Variant code = surface.Call(u"ConvertFile", DISPATCH_METHOD);
    ASSERT_EQ(code.vt(), VT_I4) << target;
    EXPECT_LT(code.integer(), 0) << target;
    std::vector<RecordingSink::Event> errors;
    for (const auto& c : sink->calls)
      if (c.id == typeinfo::kDispIdOnError) errors.push_back(c);
    ASSERT_EQ(errors.size(), 1u) << target;
    EXPECT_EQ(errors[0].kind, DISPATCH_METHOD);
    const std::vector<VarType> byRefNumberAndText = {static_cast<VarType>(VT_BYREF | VT_I4),
                                                     static_cast<VarType>(VT_BYREF | VT_BSTR)};
    EXPECT_EQ(errors[0].types, byRefNumberAndText);
    EXPECT_EQ(errors[0].number, code.integer()) << target;
    std::vector<Variant> number = {Variant(errors[0].number)};
    EXPECT_EQ(Variant(errors[0].text), surface.Call(u"GetErrorString", DISPATCH_METHOD, number)) << target;
    EXPECT_EQ(surface.Call(u"ErrorString", DISPATCH_PROPERTYGET), Variant(u"Host's own words")) << target;
  }
}

TEST(ControlEvents, ProgressArrivesWithoutArgumentsAfterTheValueChanged) {
  QuorvaneX control;
  ControlDispatch surface(control);
  auto sink = std::make_shared<RecordingSink>();
  sink->surface = &surface;
  const auto cookie = surface.AdviseEvents(sink);
  control.internal().SetPercentageComplete(0);
  control.internal().SetPercentageComplete(42.5f);
  control.internal().SetPercentageComplete(42.5f);
  ASSERT_EQ(sink->calls.size(), 3u);
  const float expected[] = {0, 42.5f, 42.5f};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(sink->calls[i].id, typeinfo::kDispIdProgress);
    EXPECT_EQ(sink->calls[i].kind, DISPATCH_METHOD);
    EXPECT_TRUE(sink->calls[i].types.empty());
    EXPECT_EQ(sink->calls[i].percentage, expected[i]) << i;
  }
  EXPECT_TRUE(surface.UnadviseEvents(cookie));
  EXPECT_FALSE(surface.UnadviseEvents(cookie));
  control.internal().SetPercentageComplete(100);
  EXPECT_EQ(sink->calls.size(), 3u);
  EXPECT_EQ(surface.AdviseEvents(nullptr), 0u);
}

TEST(ControlEvents, AFailingSinkDoesNotDisturbTheConversion) {
  QuorvaneX control;
  ControlDispatch surface(control);
  auto failing = std::make_shared<RecordingSink>();
  failing->answer = DISP_E_EXCEPTION;
  failing->whileHandling = [] { throw std::runtime_error("handler bug"); };
  auto second = std::make_shared<RecordingSink>();
  surface.AdviseEvents(failing);
  surface.AdviseEvents(second);
  Variant result;
  ASSERT_EQ(surface.Invoke(0x60030093, DISPATCH_METHOD, {}, &result, nullptr), S_OK_);
  EXPECT_LT(result.integer(), 0);
  auto errors = [](const RecordingSink& sink) {
    return std::count_if(sink.calls.begin(), sink.calls.end(),
                         [](const auto& c) { return c.id == typeinfo::kDispIdOnError; });
  };
  EXPECT_EQ(errors(*failing), 1);
  EXPECT_EQ(errors(*second), 1) << "the sink advised after the failing one still hears the event";
}

TEST(ControlEvents, ConvertFileFromInsideAHandlerIsRefused) {
  QuorvaneX control;
  ControlDispatch surface(control);
  auto sink = std::make_shared<RecordingSink>();
  HResult inner = S_OK_;
  ExcepInfo innerExcep;
  sink->whileHandling = [&] { inner = surface.Invoke(0x60030093, DISPATCH_METHOD, {}, nullptr, &innerExcep); };
  surface.AdviseEvents(sink);
  Variant result;
  ASSERT_EQ(surface.Invoke(0x60030093, DISPATCH_METHOD, {}, &result, nullptr), S_OK_);
  EXPECT_EQ(inner, DISP_E_EXCEPTION);
  EXPECT_EQ(innerExcep.number, failure::kInvalidCall);
}

}  // namespace
}  // namespace quorvane
