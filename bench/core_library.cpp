// Stands in for the server core library in the launcher benchmark: its wmain returns at
// once, so a launcher run costs only the start and the library search and load.
extern "C" __declspec(dllexport) int wmain(int, wchar_t**) {
    return 0;
}
