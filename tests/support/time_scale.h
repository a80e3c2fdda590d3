// The tests' own time limits (how long a test waits for a child, a line, a file) are those of
// an ordinary machine. KYR_TIME_SCALE, a whole number (default 1), multiplies every one of
// them where the CPU is many times slower, as under a full-system emulator, so that a slow
// machine never fails a test that a fast one passes. ctest's limit of each test follows the
// same variable (tests/CMakeLists.txt).
#pragma once

#include <windows.h>

namespace kyrtest {

// KYR_TIME_SCALE, read once; 1 when unset or not a whole number above 0.
DWORD timeScale();
// A limit in milliseconds on this machine: ms times the scale. INFINITE stays INFINITE, and a
// product that would not fit is INFINITE - 1.
DWORD scaledMs(DWORD ms);

} // namespace kyrtest
