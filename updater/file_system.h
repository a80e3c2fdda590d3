// File operations of the replacement, done through Win32 so that a failure carries the
// Windows error code (and so the system's message) of the call that failed.
#pragma once

#include <string>
