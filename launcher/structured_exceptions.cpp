#include "structured_exceptions.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

// The one call being watched; a process has one unhandled-exception filter.
struct Watch {
    DWORD threadId = 0;
    volatile bool active = false;
    int (*onException)(void*) = nullptr;
    void* context = nullptr;
    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
};
Watch watch;

LONG WINAPI unhandledExceptionFilter(EXCEPTION_POINTERS* exception) {
    if (!watch.active || GetCurrentThreadId() != watch.threadId) {
        return watch.previousFilter ? watch.previousFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
    }
    watch.active = false;
    const int exitCode = watch.onException(watch.context);
    // What returning from the program's entry would do: flush the streams and end.
    std::fflush(nullptr);
    std::exit(exitCode);
}

} // namespace

int callCatchingStructuredExceptions(int (*body)(void*), int (*onException)(void*), void* context) {
    watch.threadId = GetCurrentThreadId();
    watch.onException = onException;
    watch.context = context;
    watch.active = true;
    watch.previousFilter = SetUnhandledExceptionFilter(&unhandledExceptionFilter);
    const int result = body(context);
    // The filter stays installed (the library may have put its own in place meanwhile),
    // but it no longer acts for this call.
    watch.active = false;
    return result;
}
