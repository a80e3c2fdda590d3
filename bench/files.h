// Files and folders of the bench's installations, beyond what the tests' support gives
// (kyrtest::pathExists, createDirectories, writeFile, readFile, removeTree). Failures throw
// (see failWith).
#pragma once

#include "test_support.h"

#include <string>
#include <vector>

namespace bench {

void copyFile(const std::wstring& from, const std::wstring& to);

// Every file below dir whose name ends with the suffix.
void findFiles(const std::wstring& dir, const std::wstring& suffix,
               std::vector<std::wstring>& found);

// Names of the files in a folder, sorted, from one listing (a test of each absent name would
// cost a scan of the folder under Wine).
std::vector<std::wstring> fileNames(const std::wstring& dir);

} // namespace bench
