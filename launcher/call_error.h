// The launcher's one failure type is the standard runtime error. A failed Windows call
// raises it with a narrow text that names the call and carries the error code.
#pragma once

#include <windows.h>

#include <string>

// "Error calling <call> with code <code>", the code in unsigned decimal.
std::string callErrorText(const char* call, DWORD code);

// Throws std::runtime_error with callErrorText(call, code).
[[noreturn]] void throwCallError(const char* call, DWORD code);
