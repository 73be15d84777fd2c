#pragma once
// Symbol visibility of the component's public API. Everything else stays hidden.
#if defined(_WIN32)
#define QUORVANE_API __declspec(dllexport)
#else
#define QUORVANE_API __attribute__((visibility("default")))
#endif
