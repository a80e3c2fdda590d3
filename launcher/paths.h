// Path arithmetic of the launcher: the folder of a module path and the join of two parts.
#pragma once

#include <string>

// The path without its last element and the separators before it; separators that belong
// to the root stay: D:\srv\kyrServer.com gives D:\srv, D:\kyrServer.com gives D:\.
std::wstring parentPath(const std::wstring& path);

// The right part after one backslash, or directly after the left part when that already
// ends in a separator (a backslash or a forward slash).
std::wstring joinPath(const std::wstring& left, const std::wstring& right);
