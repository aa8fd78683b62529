// The sibling module: data objects made here are shared by the plug-in rather than copied,
// because the plug-in recognises this module's file name. The same source also builds a twin
// whose file name differs only in letter case (for tests that the match is exact).
#pragma once

#include <cstddef>

#include "quorrin/host_data.h"

#ifdef _WIN32
#define TESSARON_API extern "C" __declspec(dllexport)
#else
#define TESSARON_API extern "C" __attribute__((visibility("default")))
#endif

// A new empty data object named name, with one reference that the caller owns.
TESSARON_API HRESULT tessaron_create_data(const char* name, IHostData** out);
// Objects of this module still alive.
TESSARON_API std::size_t tessaron_live_objects();

// The same, from the twin module (native builds only).
TESSARON_API HRESULT tessaron_upper_create_data(const char* name, IHostData** out);
TESSARON_API std::size_t tessaron_upper_live_objects();
