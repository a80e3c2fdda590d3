#include "options.h"

#include <cstdio>
#include <cstdlib>

namespace bench {

bool parseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        if (option == L"--csv") {
            options.csvPath = argv[i + 1];
        } else if (option == L"--work") {
            options.workDir = argv[i + 1];
        } else if (option == L"--sizes") {
            options.sizes.clear();
            for (const wchar_t* at = argv[i + 1]; *at;) {
                wchar_t* end = nullptr;
                options.sizes.push_back(static_cast<int>(std::wcstol(at, &end, 10)));
                at = *end == L',' ? end + 1 : end;
            }
        } else if (option == L"--disk") {
            options.diskSize = _wtoi(argv[i + 1]);
        } else if (option == L"--repetitions") {
            options.repetitions = _wtoi(argv[i + 1]);
        } else if (option == L"--launches") {
            options.launches = _wtoi(argv[i + 1]);
        } else {
            std::fprintf(stderr, "benchRunner: unknown option %ls\n", argv[i]);
            return false;
        }
    }
    return true;
}

int repetitionsFor(const Options& options, int n) {
    return options.repetitions > 0 ? options.repetitions : n > 1000 ? 2 : n > 100 ? 3 : 5;
}

int waitRunsFor(const Options& options) {
    return options.repetitions > 0 ? options.repetitions : 5;
}

} // namespace bench
