#include "report.h"

#include "update_log.h"

#include <climits>
#include <cwchar>
#include <iostream>

std::wstring consoleText(const std::wstring& line) {
    std::wstring text = line;
    for (wchar_t& c : text) {
        char bytes[MB_LEN_MAX];
        std::mbstate_t state{};
        if (std::wcrtomb(bytes, c, &state) == static_cast<std::size_t>(-1)) {
            c = L'?';
        }
    }
    return text;
}

void reportLine(const std::wstring& line) {
    std::wcout << consoleText(line) << std::endl;
    // Should the stream fail all the same, clear it so that the lines after it still reach
    // standard output.
    if (!std::wcout) {
        std::wcout.clear();
    }
    writeLog(line);
}
