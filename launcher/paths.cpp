#include "paths.h"

#include <filesystem>

std::wstring parentPath(const std::wstring& path) {
    // The standard library knows the root forms (D:\, \\server\share\, \\?\...).
    return std::filesystem::path(path).parent_path().native();
}

std::wstring joinPath(const std::wstring& left, const std::wstring& right) {
    if (!left.empty() && (left.back() == L'\\' || left.back() == L'/')) {
        return left + right;
    }
    return left + L'\\' + right;
}
