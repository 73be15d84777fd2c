// libquorvane.so: the component. Its code is the core library, linked in whole; this unit only
// anchors the shared library.
#include "quorvane/version.hpp"

extern "C" QUORVANE_API const char* quorvane_library_version() { return "4.7"; }
