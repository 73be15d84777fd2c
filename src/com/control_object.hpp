#pragma once
// The COM face of the control: one object per QuorvaneX, created by the class factory.
#include <cstring>
#include <memory>

#include "com/windows_api.hpp"

namespace quorvane::office {
class ApplicationProvider;
}

namespace quorvane::com {


// A new control, asked for `iid`; E_NOINTERFACE (and no control) when it has no such interface.
HRESULT CreateControl(REFIID iid, void** out);

// The type library this module carries (resource 1), loaded once; null when it cannot be read.
ITypeLib* ModuleTypeLibrary();
HMODULE ThisModule();

inline GUID ToGuid(const typeinfo::Guid& g) {
  GUID out{g.data1, g.data2, g.data3, {}};
  std::memcpy(out.Data4, g.data4.data(), sizeof out.Data4);
  return out;
}
inline typeinfo::Guid FromGuid(const GUID& g) {
  typeinfo::Guid out{g.Data1, g.Data2, g.Data3, {}};
  std::memcpy(out.data4.data(), g.Data4, sizeof g.Data4);
  return out;
}

// Flags a container reads from the class (OLEMISC_*), also written to the registry.
extern const DWORD kControlMiscStatus;

}  // namespace quorvane::com
