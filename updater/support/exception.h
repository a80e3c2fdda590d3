// The updater's one failure type: a context text plus the system's English message
// for a Windows error code. Not derived from std::exception, so the run's two top-level
// handlers never compete for it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class Exception {
public:
    // Never throws: a text that cannot be composed stays as far as it got.
    Exception(const std::wstring& context, std::uint32_t errorCode) noexcept;

    // The composed text, or "Unknow error" when there is none. Valid while this object
    // or a copy of it lives.
    const wchar_t* text() const noexcept;

private:
    std::shared_ptr<const std::wstring> text_;
};

// Throws an Exception with the context and the calling thread's last error code.
[[noreturn]] void throwLastError(const std::wstring& context);
