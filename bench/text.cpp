#include "text.h"

#include <windows.h>

#include <stdexcept>

namespace bench {

std::string narrow(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string bytes(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n,
                        nullptr, nullptr);
    return bytes;
}

[[noreturn]] void failWith(const std::wstring& what) {
    throw std::runtime_error(narrow(what) + " (error " + std::to_string(GetLastError()) + ")");
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::wstring quoted(const std::wstring& argument) {
    return L"\"" + argument + L"\"";
}

} // namespace bench
