#include "time_scale.h"

#include <cwchar>

namespace kyrtest {

DWORD timeScale() {
    static const DWORD scale = [] {
        wchar_t text[16] = {};
        const DWORD length = GetEnvironmentVariableW(L"KYR_TIME_SCALE", text, 16);
        if (length == 0 || length >= 16) {
            return DWORD{1};
        }
        wchar_t* end = nullptr;
        const unsigned long value = std::wcstoul(text, &end, 10);
        return *end == L'\0' && value >= 1 && value <= 1000 ? static_cast<DWORD>(value) : DWORD{1};
    }();
    return scale;
}

DWORD scaledMs(DWORD ms) {
    if (ms == INFINITE) {
        return INFINITE;
    }
    const unsigned long long scaled = static_cast<unsigned long long>(ms) * timeScale();
    return scaled >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(scaled);
}

} // namespace kyrtest
