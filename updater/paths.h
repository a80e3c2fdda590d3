// Path helpers of the updater: joining and case-insensitive ordering of wide names.
#pragma once

#include <cwchar>
#include <string>

// A backslash or a slash.
inline bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Joins two path parts with one backslash, unless the left part already ends in a
// separator or the right part is absolute.
std::wstring joinPath(const std::wstring& left, const std::wstring& right);

// Orders wide names without regard to case, by the C runtime in the process locale.
struct CaseInsensitiveLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return _wcsicmp(a.c_str(), b.c_str()) < 0;
    }
};
