#include "exception.h"

#include "unique_handle.h"

#include <windows.h>

Exception::Exception(const std::wstring& context, std::uint32_t errorCode) noexcept {
    try {
        if (!context.empty()) {
            text_ = std::make_shared<const std::wstring>(context);
        }
        if (errorCode == 0) {
            return;
        }
        wchar_t* allocated = nullptr;
        const DWORD count = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                FORMAT_MESSAGE_FROM_SYSTEM,
            nullptr, errorCode, 0x0409, reinterpret_cast<wchar_t*>(&allocated), 0, nullptr);
        // Freed on every path out of the constructor.
        const UniqueLocalMemory<wchar_t> buffer(allocated);
        if (count == 0 || !buffer) {
            return;
        }
        std::wstring composed;
        if (text_) {
            composed = *text_ + L": ";
        }
        composed.append(buffer.get(), count);
        // Only one character goes: a message ending in CR LF keeps its CR.
        if (composed.back() == L'\n' || composed.back() == L'\r') {
            composed.pop_back();
        }
        text_ = std::make_shared<const std::wstring>(std::move(composed));
    } catch (...) {
        // An allocation failure keeps the text as far as it got, possibly null.
    }
}

const wchar_t* Exception::text() const noexcept {
    return text_ ? text_->c_str() : L"Unknow error";
}

void throwLastError(const std::wstring& context) {
    const DWORD code = GetLastError();
    throw Exception(context, code);
}
