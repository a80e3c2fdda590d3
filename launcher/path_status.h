// What a path names, asked of the system so that a failed query keeps its Win32 error code
// (the file-system library of some compilers reports errno-style codes instead).
#pragma once

#include <windows.h>

#include <string>

struct PathStatus {
    enum class Type {
        none,    // nothing there, or the query failed
        regular, // a regular file
        other,   // a directory or anything else that is not a regular file
    };
    Type type = Type::none;
    DWORD error = 0; // the query's error code; 0 when it succeeded
};

// The status of the path, following symbolic links and junctions to their target.
PathStatus pathStatus(const std::wstring& path);
