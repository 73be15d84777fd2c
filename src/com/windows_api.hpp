#pragma once
// The one door to the platform's headers for src/com/. The component's public headers come
// first: the platform defines some of their names (DISP_E_EXCEPTION, DISPATCH_METHOD, ...) as
// macros with the same values, which would break those declarations if they were read after it.
// Code here uses the platform's macros; the values agree.
#include "quorvane/control.hpp"
#include "quorvane/dispatch.hpp"
#include "quorvane/type_info.hpp"
#include "quorvane/variant.hpp"

#include <windows.h>
#include <ole2.h>
#include <oaidl.h>
#include <ocidl.h>
#include <olectl.h>
