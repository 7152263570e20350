// The Windows API for the Windows platform code. Include this instead of
// <windows.h>: the API's A/W macros would otherwise rename the seams' methods
// of the same names (MessageBox, SetWindowText, LoadIcon, ...) in one file and
// not in another. Code here calls the W functions by their full names.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#include <windows.h>

#undef GetCurrentDirectory
#undef LoadIcon
#undef MessageBox
#undef OutputDebugString
#undef SetWindowText
