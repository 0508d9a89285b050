// The few Windows types the portable code needs. On Windows they come from <windows.h>; natively
// they are stand-ins of the same size, so the device link compiles and runs in the native tests.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdint>
using HANDLE = void*;
using DWORD = std::uint32_t;
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#endif
