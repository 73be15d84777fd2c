#pragma once
// Symbol visibility of the component's public API. Everything else stays hidden.
#if defined(_WIN32)
// On Windows the component is the COM server Quorvane.ocx: the C++ API is linked into it statically,
// and it exports only the four entry points its module definition file names.
#define QUORVANE_API
#else
#define QUORVANE_API __attribute__((visibility("default")))
#endif
