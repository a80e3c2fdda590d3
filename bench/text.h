// Texts of the bench: UTF-8 for its output, quoting for command lines, and its one way to
// fail (a std::runtime_error naming what failed and the thread's last error).
#pragma once

#include <string>

namespace bench {

std::string narrow(const std::wstring& text);

[[noreturn]] void failWith(const std::wstring& what);

bool startsWith(const std::string& text, const char* prefix);

std::wstring quoted(const std::wstring& argument);

} // namespace bench
