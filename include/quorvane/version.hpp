#pragma once
// The component's version: that of its type library.
#include "quorvane/export.hpp"

extern "C" QUORVANE_API const char* quorvane_library_version();
