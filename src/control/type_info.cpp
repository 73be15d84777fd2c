// Lookups over the control's type description.
#include "quorvane/type_info.hpp"

#include "common/text.hpp"

namespace quorvane::typeinfo {

std::string FormatGuid(const Guid& g) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out = "{";
  auto put = [&](std::uint64_t v, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kDigits[(v >> shift) & 0xF];
  };
  put(g.data1, 8);
  out += '-';
  put(g.data2, 4);
  out += '-';
  put(g.data3, 4);
  out += '-';
  put(g.data4[0], 2);
  put(g.data4[1], 2);
  out += '-';
  for (std::size_t i = 2; i < 8; ++i) put(g.data4[i], 2);
  out += '}';
  return out;
}

const InterfaceInfo* FindInterface(const Guid& iid) {
  if (iid == kQuorvaneXInterface.iid) return &kQuorvaneXInterface;
  if (iid == kQuorvaneXEvents.iid) return &kQuorvaneXEvents;
  for (const auto& alias : kQuorvaneXAliases)
    if (iid == alias.iid) return &kQuorvaneXInterface;
  return nullptr;
}

std::optional<DispId> FindDispId(const InterfaceInfo& iface, std::u16string_view name) {
  for (const auto& member : iface.members)
    if (text::EqualsIgnoreCase(member.name, name)) return member.id;
  return std::nullopt;
}

const MemberInfo* FindMember(const InterfaceInfo& iface, DispId id, MemberKind kind) {
  for (const auto& member : iface.members)
    if (member.id == id && member.kind == kind) return &member;
  return nullptr;
}

}  // namespace quorvane::typeinfo
