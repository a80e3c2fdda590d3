// Does the launcher's loads and nothing else, to split its start time:
//   benchLoadProbe.exe ucrt        loads ucrtbase.dll by name from the default directories
//   benchLoadProbe.exe ucrt core   then also server\x86\kyrServer.dll beside itself, with
//                                  its directory first, and calls its wmain
#include <windows.h>

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && std::wcscmp(argv[1], L"ucrt") == 0 &&
        !LoadLibraryExW(L"ucrtbase.dll", nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS)) {
        return 2;
    }
    if (argc > 2 && std::wcscmp(argv[2], L"core") == 0) {
        wchar_t self[MAX_PATH];
        const DWORD size = GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring path(self, size);
        path.erase(path.find_last_of(L'\\') + 1);
        path += L"server\\x86\\kyrServer.dll";
        const HMODULE core =
            LoadLibraryExW(path.c_str(), nullptr,
                           LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
        if (!core) {
            return 3;
        }
        using Entry = int (*)(int, wchar_t**);
        const auto entry =
            reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(GetProcAddress(core, "wmain")));
        if (!entry) {
            return 4;
        }
        return entry(argc, argv);
    }
    return 0;
}
