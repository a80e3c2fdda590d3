// The process locale of the updater. Name comparisons (_wcsicmp, towlower) fold case by
// the rules of this locale, and wide standard output leaves the process in its code page.
#pragma once

// The locale the updater runs in.
inline constexpr const wchar_t* kProcessLocaleName = L"Russian_Russia.1251";

// Switches the whole process to the named locale. libstdc++ on MinGW knows only the "C"
// locale, so the name is given to the C runtime, which does the case folding and the
// conversion of the synchronised wide standard output. Throws std::runtime_error
// "bad locale name" when the runtime does not know the name.
void setProcessLocale(const wchar_t* name = kProcessLocaleName);
