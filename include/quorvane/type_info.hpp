#pragma once
// The control's type library as data: the library `Quorvane` 4.7 (locale neutral), the creatable
// class `QuorvaneX`, its dual automation interface `_QuorvaneX`, its event interface `__QuorvaneX`
// and the seven earlier identifiers of the automation interface that still answer as it.
//
// Everything here is constexpr and owned by the component; nothing is allocated. The dispatch
// surface of the control binds, checks and coerces arguments from these tables alone, so they are
// the one description of the members: their slot order, kinds, parameter names and types, whether
// a parameter is passed by reference, result types and dispatch ids.
//
// Types are automation variant types: VT_I2, VT_I4, VT_R4, VT_R8, VT_BOOL, VT_BSTR, VT_DISPATCH,
// VT_VARIANT; a result of VT_EMPTY means "no result".
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "quorvane/dispatch.hpp"
#include "quorvane/export.hpp"
#include "quorvane/variant.hpp"

namespace quorvane::typeinfo {

// A globally unique identifier, laid out as the platform's GUID.
struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};

  friend constexpr bool operator==(const Guid&, const Guid&) = default;
};

namespace guid_detail {
consteval std::uint32_t HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint32_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint32_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<std::uint32_t>(c - 'A' + 10);
  throw "a GUID holds hexadecimal digits only";  // reached only for a malformed literal, which then fails to compile
}
consteval std::uint32_t Hex(std::string_view s) {
  std::uint32_t v = 0;
  for (char c : s) v = v * 16 + HexDigit(c);
  return v;
}
}  // namespace guid_detail

// Reads "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (no braces), at compile time only: a malformed text
// does not compile.
consteval Guid ParseGuid(std::string_view s) {
  if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') throw "malformed GUID";
  Guid g;
  g.data1 = guid_detail::Hex(s.substr(0, 8));
  g.data2 = static_cast<std::uint16_t>(guid_detail::Hex(s.substr(9, 4)));
  g.data3 = static_cast<std::uint16_t>(guid_detail::Hex(s.substr(14, 4)));
  for (std::size_t i = 0; i < 8; ++i) {
    const std::size_t at = i < 2 ? 19 + 2 * i : 24 + 2 * (i - 2);
    g.data4[i] = static_cast<std::uint8_t>(guid_detail::Hex(s.substr(at, 2)));
  }
  return g;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case, as the platform's registry writes it.
QUORVANE_API std::string FormatGuid(const Guid& g);

enum class MemberKind : std::uint8_t { Method, PropertyGet, PropertyPut };

struct ParamInfo {
  std::u16string_view name;
  VarType type;
  bool byRef;
};

struct MemberInfo {
  std::u16string_view name;
  MemberKind kind;
  DispId id;
  std::span<const ParamInfo> params;
  VarType result;  // VT_EMPTY: none
};

enum class InterfaceFlavor : std::uint8_t {
  Dual,          // a vtable after the standard dispatch slots, and dispatch
  DispatchOnly,  // dispatch only (the event interface)
};

struct InterfaceInfo {
  std::u16string_view name;
  Guid iid;
  InterfaceFlavor flavor;
  std::span<const MemberInfo> members;  // in slot order; a read-write property is get, then put
};

struct AliasInfo {
  std::u16string_view name;
  Guid iid;
};

struct TypeLibraryInfo {
  std::u16string_view name;
  Guid libid;
  std::uint16_t majorVersion;
  std::uint16_t minorVersion;
  std::uint32_t lcid;  // 0: locale neutral
};

struct CoClassInfo {
  std::u16string_view name;
  Guid clsid;
  const InterfaceInfo* defaultInterface;
  const InterfaceInfo* defaultSource;
};

// The name a property put's value parameter carries (the right-hand side of the assignment).
inline constexpr std::u16string_view kPropertyPutValueName = u"RHS";

// Number of slots before the first member of a dual interface: the unknown and dispatch methods.
inline constexpr std::size_t kFirstDualSlot = 7;

namespace params {
inline constexpr ParamInfo kPutBoolean[] = {{kPropertyPutValueName, VT_BOOL, false}};
inline constexpr ParamInfo kPutString[] = {{kPropertyPutValueName, VT_BSTR, false}};
inline constexpr ParamInfo kPutLong[] = {{kPropertyPutValueName, VT_I4, false}};
inline constexpr ParamInfo kPowerPointVersion[] = {{u"sPowerPointVersion", VT_BSTR, true}};
inline constexpr ParamInfo kFileTypeSupportsSingleFileOutput[] = {{u"lFiletype", VT_I4, true}};
inline constexpr ParamInfo kGetErrorString[] = {{u"intErrorNumber", VT_VARIANT, true}};
inline constexpr ParamInfo kGetFileType[] = {
    {u"lExtindex", VT_I4, false}, {u"sFileType", VT_BSTR, true}, {u"lFiletype", VT_I4, true}};
inline constexpr ParamInfo kLookUpSaveAsExtension[] = {
    {u"lFiletype", VT_I4, true}, {u"bIncludeWildCard", VT_BOOL, true}};
inline constexpr ParamInfo kTextFromGroupShape[] = {{u"oSh", VT_DISPATCH, true}};
inline constexpr ParamInfo kOpenTextFileForWriting[] = {{u"sOutputFileName", VT_BSTR, true}};
inline constexpr ParamInfo kWriteToTextFile[] = {{u"Value", VT_BSTR, true}};
inline constexpr ParamInfo kOnError[] = {{u"intErrorNumber", VT_I4, true}, {u"strErrorText", VT_BSTR, true}};
}  // namespace params

using enum MemberKind;

// _QuorvaneX, in slot order.
inline constexpr MemberInfo kQuorvaneXMembers[] = {
    {u"UserControl_Terminate", Method, 0x6003007C, {}, VT_EMPTY},
    {u"OptimizeForSpeed", PropertyGet, 0x68030078, {}, VT_BOOL},
    {u"OptimizeForSpeed", PropertyPut, 0x68030078, params::kPutBoolean, VT_EMPTY},
    {u"InputFile", PropertyGet, 0x68030077, {}, VT_BSTR},
    {u"InputFile", PropertyPut, 0x68030077, params::kPutString, VT_EMPTY},
    {u"OutputFile", PropertyGet, 0x68030076, {}, VT_BSTR},
    {u"OutputFile", PropertyPut, 0x68030076, params::kPutString, VT_EMPTY},
    {u"TargetFileType", PropertyGet, 0x68030075, {}, VT_I4},
    {u"TargetFileType", PropertyPut, 0x68030075, params::kPutLong, VT_EMPTY},
    {u"StartSlide", PropertyGet, 0x68030074, {}, VT_I4},
    {u"StartSlide", PropertyPut, 0x68030074, params::kPutLong, VT_EMPTY},
    {u"EndSlide", PropertyGet, 0x68030073, {}, VT_I4},
    {u"EndSlide", PropertyPut, 0x68030073, params::kPutLong, VT_EMPTY},
    {u"MultiFileOutput", PropertyGet, 0x68030072, {}, VT_BOOL},
    {u"MultiFileOutput", PropertyPut, 0x68030072, params::kPutBoolean, VT_EMPTY},
    {u"ShowSlideAndShapeNumber", PropertyGet, 0x68030071, {}, VT_BOOL},
    {u"ShowSlideAndShapeNumber", PropertyPut, 0x68030071, params::kPutBoolean, VT_EMPTY},
    {u"PercentageComplete", PropertyGet, 0x68030070, {}, VT_R4},
    {u"ErrorString", PropertyGet, 0x6803006F, {}, VT_BSTR},
    {u"ErrorString", PropertyPut, 0x6803006F, params::kPutString, VT_EMPTY},
    {u"PowerPointVersion", Method, 0x60030080, params::kPowerPointVersion, VT_R8},
    {u"FileTypeSupportsSingleFileOutput", Method, 0x60030081, params::kFileTypeSupportsSingleFileOutput, VT_BOOL},
    {u"GetAllPossibleErrorsCount", Method, 0x6003008A, {}, VT_I4},
    {u"GetErrorString", Method, 0x6003008B, params::kGetErrorString, VT_BSTR},
    {u"lNumberOfFileTypes", PropertyGet, 0x6803006E, {}, VT_VARIANT},
    {u"GetFileType", Method, 0x6003008C, params::kGetFileType, VT_BOOL},
    {u"LookUpSaveAsExtension", Method, 0x6003008D, params::kLookUpSaveAsExtension, VT_BSTR},
    {u"ConvertFile", Method, 0x60030093, {}, VT_I4},
    {u"IncludeNotes", PropertyGet, 0x68030094, {}, VT_BOOL},
    {u"IncludeNotes", PropertyPut, 0x68030094, params::kPutBoolean, VT_EMPTY},
    {u"NotesOnly", PropertyGet, 0x68030095, {}, VT_BOOL},
    {u"NotesOnly", PropertyPut, 0x68030095, params::kPutBoolean, VT_EMPTY},
    {u"TextFromGroupShape", Method, 0x600300A0, params::kTextFromGroupShape, VT_BSTR},
    {u"OpenTextFileForWriting", Method, 0x600300A9, params::kOpenTextFileForWriting, VT_EMPTY},
    {u"CloseTextFileForWriting", Method, 0x600300AA, {}, VT_EMPTY},
    {u"WriteToTextFile", Method, 0x600300AB, params::kWriteToTextFile, VT_EMPTY},
    {u"PowerPointVersionAtLeast2010", Method, 0x600300B1, {}, VT_BOOL},
    {u"PowerPointVersionAtLeast2007", Method, 0x600300B7, {}, VT_BOOL},
};

inline constexpr DispId kDispIdProgress = 1;
inline constexpr DispId kDispIdOnError = 2;

// __QuorvaneX: events are methods of the host's sink.
inline constexpr MemberInfo kQuorvaneXEventMembers[] = {
    {u"Progress", Method, kDispIdProgress, {}, VT_EMPTY},
    {u"onerror", Method, kDispIdOnError, params::kOnError, VT_EMPTY},
};

inline constexpr TypeLibraryInfo kLibrary{u"Quorvane", ParseGuid("5b83c39a-0125-49d5-a5c3-380b85ce1da8"), 4, 7, 0};

inline constexpr InterfaceInfo kQuorvaneXInterface{u"_QuorvaneX", ParseGuid("ff3ae865-a363-4839-a95b-b1d55b6a6538"),
                                                   InterfaceFlavor::Dual, kQuorvaneXMembers};

inline constexpr InterfaceInfo kQuorvaneXEvents{u"__QuorvaneX", ParseGuid("9c6c4b92-0296-4e61-89fd-881df3aaa39d"),
                                                InterfaceFlavor::DispatchOnly, kQuorvaneXEventMembers};

inline constexpr CoClassInfo kQuorvaneXClass{u"QuorvaneX", ParseGuid("0bd27bcb-1c14-4fab-ae0c-185168c982a2"),
                                             &kQuorvaneXInterface, &kQuorvaneXEvents};

// Earlier identifiers of _QuorvaneX; a host that asks for one is answered with _QuorvaneX itself.
inline constexpr AliasInfo kQuorvaneXAliases[] = {
    {u"QuorvaneX___v0", ParseGuid("b7f785b6-65a1-4f4b-9daa-a31d58550f4f")},
    {u"QuorvaneX___v1", ParseGuid("a55dce42-23ef-4812-a20d-9bc3add11534")},
    {u"QuorvaneX___v2", ParseGuid("16c3e9e0-79f0-4504-bcd6-45ddcd528b86")},
    {u"QuorvaneX___v3", ParseGuid("2285a622-55a1-4b11-90f1-afbf8405f2ab")},
    {u"QuorvaneX___v4", ParseGuid("ca54880a-2527-43b8-ac8c-17bd6c23d339")},
    {u"QuorvaneX___v5", ParseGuid("0534366a-ada0-4b37-b414-8c0f33e7d787")},
    {u"QuorvaneX___v6", ParseGuid("3479ada0-2296-4df0-80b6-339e766707d8")},
};

static_assert(std::size(kQuorvaneXMembers) == 38, "27 members, 11 of them read-write properties");
static_assert(std::size(kQuorvaneXAliases) == 7);

// The interface an identifier names: _QuorvaneX for its own identifier and for each alias,
// __QuorvaneX for its own; null for anything else (the library and class identifiers included).
QUORVANE_API const InterfaceInfo* FindInterface(const Guid& iid);

// The dispatch id of a member, its name compared without regard to letter case.
QUORVANE_API std::optional<DispId> FindDispId(const InterfaceInfo& iface, std::u16string_view name);

// The entry of `id` of the given kind; null when the interface has no such entry.
QUORVANE_API const MemberInfo* FindMember(const InterfaceInfo& iface, DispId id, MemberKind kind);

}  // namespace quorvane::typeinfo
