// Structured exceptions - an access violation, or the C++ throw of a library built with
// MSVC - raised on the launcher's main thread and handled by nothing else. GCC has no
// __try/__except and its catch (...) does not see them, so the launcher watches for them
// with an unhandled-exception filter. This file is the one place that knows how; an MSVC
// build can put __try/__except around the call instead, with the same outcome.
#pragma once

// Calls body(context) on this thread and returns its result. When a structured exception
// raised on this thread during the call reaches no handler, onException(context) runs in
// place of the system's crash handling (no dialog, no debugger), and the process exits
// with its result as exit code. Exceptions on other threads, and after the call, take
// their usual course.
int callCatchingStructuredExceptions(int (*body)(void*), int (*onException)(void*), void* context);
