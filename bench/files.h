// Files and folders of the bench's installations. Failures throw (see failWith), except
// where a function says otherwise.
#pragma once

#include <string>
#include <vector>

namespace bench {

bool exists(const std::wstring& path);
void makeDir(const std::wstring& path); // an existing folder is fine
void writeFile(const std::wstring& path, const char* bytes);
std::string readFile(const std::wstring& path);
void copyFile(const std::wstring& from, const std::wstring& to);

// Removes the folder and everything below it, as far as it can; never throws.
void removeTree(const std::wstring& dir);

// Every file below dir whose name ends with the suffix.
void findFiles(const std::wstring& dir, const std::wstring& suffix,
               std::vector<std::wstring>& found);

// Names of the files in a folder, sorted, from one listing (a test of each absent name would
// cost a scan of the folder under Wine).
std::vector<std::wstring> fileNames(const std::wstring& dir);

} // namespace bench
