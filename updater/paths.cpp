#include "paths.h"

namespace {

bool isAbsolute(const std::wstring& path) {
    // "C:\..." or a UNC / device path "\\...".
    if (path.size() >= 3 && path[1] == L':' && isSeparator(path[2])) {
        return true;
    }
    return path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
}

} // namespace

std::wstring joinPath(const std::wstring& left, const std::wstring& right) {
    if (left.empty() || isAbsolute(right)) {
        return right;
    }
    if (isSeparator(left.back())) {
        return left + right;
    }
    return left + L'\\' + right;
}
