// The bench's command line:
//   benchRunner.exe [--csv results.csv] [--work FOLDER] [--sizes 10,100,1000,10000]
//                   [--repetitions R] [--disk N] [--launches N]
#pragma once

#include <string>
#include <vector>

namespace bench {

struct Options {
    const wchar_t* csvPath = nullptr;
    std::wstring workDir; // empty: the temporary folder
    std::vector<int> sizes = {10, 100, 1000, 10000};
    int repetitions = 0; // 0: by size
    int diskSize = 0;    // > 0: also this size in the temporary folder
    int launches = 40;   // launcher starts measured, after three rounds of warm-up
};

// Reads the options after the program name; false (with a line on standard error) for an
// unknown one.
bool parseOptions(int argc, wchar_t** argv, Options& options);

// Runs per size: the given repetitions, else 5 up to 100 files, 3 up to 1000, then 2.
int repetitionsFor(const Options& options, int n);

// Runs of the wait measure: the given repetitions, else 5.
int waitRunsFor(const Options& options);

} // namespace bench
