#include "process_locale.h"

#include <clocale>
#include <cwchar>
#include <iostream>
#include <locale>
#include <stdexcept>

void setProcessLocale(const wchar_t* name) {
    // Every category of the C runtime: _wcsicmp and towlower then fold the letters of the
    // locale, and msvcrt converts what std::wcout writes (it is synchronised with stdio)
    // to the locale's code page.
    if (!_wsetlocale(LC_ALL, name)) {
        throw std::runtime_error("bad locale name");
    }
    // The standard library's own locale stays "C": numbers that streams format keep plain
    // ASCII digits. The streams are imbued with it so that no earlier setting lingers.
    std::cout.imbue(std::locale::classic());
    std::wcout.imbue(std::locale::classic());
}
