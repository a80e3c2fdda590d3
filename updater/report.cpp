#include "report.h"

#include "update_log.h"

#include <iostream>

void reportLine(const std::wstring& line) {
    std::wcout << line << std::endl;
    // A character that code page 1251 cannot hold fails the stream; clear it so that the
    // lines after it still reach standard output.
    if (!std::wcout) {
        std::wcout.clear();
    }
    writeLog(line);
}
