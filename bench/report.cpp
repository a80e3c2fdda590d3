#include "report.h"

#include "clock.h"
#include "text.h"

#include "updater/support/unique_handle.h"

#include <windows.h>

#include <cstdio>

namespace bench {

void Csv::row(const char* metric, const std::string& what, double value, double reference,
              double ratio, const char* unit) {
    std::string line = std::string(metric) + "," + what;
    for (double x : {value, reference, ratio}) {
        char number[32] = "";
        if (x >= 0) {
            snprintf(number, sizeof number, "%.6g", x);
        }
        line += std::string(",") + number;
    }
    text += line + "," + unit + "\n";
}

namespace {

double mib(SIZE_T bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

void printPerFileRow(int n, const PerFile& result) {
    std::printf("%8d %16.4f %16.4f %8.2f %16.1f %16.1f %10.2f\n", n, result.updaterMs,
                result.baselineMs, result.updaterMs / result.baselineMs, result.updaterWallMs,
                result.baselineWallMs, mib(result.updaterPeak));
    std::fflush(stdout);
}

bool underWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

} // namespace

void reportPrograms(Csv& csv, const std::wstring& installationsRoot) {
    // The bench is built with the programs it measures: its own word size is theirs.
    if (sizeof(void*) == 4) {
        std::printf("Programs: the shipped i686 build (32-bit), %s\n",
                    underWow64() ? "run under WOW64" : "run on 32-bit Windows");
        csv.row("programs", "i686", 32, -1, -1, "bits");
    } else {
        std::printf("Programs: the x86-64 build of the sources, run under Wine's 64-bit loader\n"
                    "(this machine's CPU cannot execute the shipped 32-bit programs).\n");
        csv.row("programs", "x86-64", 64, -1, -1, "bits");
    }
    std::printf("Installations in %s\n\n", narrow(installationsRoot).c_str());
    std::fflush(stdout);
}

void reportPerFileHeader() {
    std::printf("%8s %16s %16s %8s %16s %16s %10s\n", "N", "updater ms/file", "baseline ms/file",
                "ratio", "updater run ms", "baseline run ms", "peak MiB");
}

void reportPerFile(Csv& csv, int n, const PerFile& result) {
    printPerFileRow(n, result);
    const std::string size = std::to_string(n);
    csv.row("per_file", size, result.updaterMs, result.baselineMs,
            result.updaterMs / result.baselineMs, "ms/file");
    csv.row("whole_run", size, result.updaterWallMs, result.baselineWallMs,
            result.updaterWallMs / result.baselineWallMs, "ms");
    if (n == 10 || n == 10000) {
        csv.row("peak_working_set", size, mib(result.updaterPeak), -1, -1, "MiB");
    }
}

void reportScaling(Csv& csv, const PerFile& at100, const PerFile& at10000) {
    const double scaling = at10000.updaterMs / at100.updaterMs;
    std::printf("Scaling ratio (updater ms/file at 10000 over at 100): %.2f\n", scaling);
    csv.row("scaling", "10000/100", scaling, -1, -1, "ratio");
    // Under Wine the baseline's own calls grow with the folder's size: the updater's growth
    // over the baseline's, both from this run, is its own share.
    const double baselineScaling = at10000.baselineMs / at100.baselineMs;
    std::printf("  the baseline's (the same file calls and log lines): %.2f; the updater's "
                "over the baseline's: %.2f\n",
                baselineScaling, scaling / baselineScaling);
    csv.row("scaling_against_baseline", "10000/100", scaling, baselineScaling,
            scaling / baselineScaling, "ratio");
}

void reportDiskHeader(const std::wstring& diskRoot) {
    std::printf("The same in the temporary folder on disk (%s)\n", narrow(diskRoot).c_str());
    reportPerFileHeader();
}

void reportDisk(Csv& csv, int n, const PerFile& result) {
    printPerFileRow(n, result);
    std::printf("%8s %16s %16.4f %8.2f  (baseline writing each log line in three parts)\n", "", "",
                result.splitMs, result.updaterMs / result.splitMs);
    csv.row("per_file_disk", std::to_string(n), result.updaterMs, result.baselineMs,
            result.updaterMs / result.baselineMs, "ms/file");
    csv.row("per_file_disk_split_log_writes", std::to_string(n), result.updaterMs, result.splitMs,
            result.updaterMs / result.splitMs, "ms/file");
}

void reportWait(Csv& csv, const std::vector<double>& benchClockMs,
                const std::vector<double>& logClockMs) {
    const double waitMs = median(benchClockMs);
    std::printf("Wait: last matching process (KYR.exe) ended -> first rename (median of %d)\n",
                static_cast<int>(benchClockMs.size()));
    std::printf("  bench clock (process end seen -> Rename line read): %8.2f ms\n", waitMs);
    csv.row("wait_latency", "bench_clock", waitMs, -1, -1, "ms");
    if (!logClockMs.empty()) {
        const double logMs = median(logClockMs);
        std::printf("  log stamps (process exit time -> Rename stamp):    %8.0f ms (1 ms steps)\n",
                    logMs);
        csv.row("wait_latency", "log_stamps", logMs, -1, -1, "ms");
    } else {
        std::printf("  log stamps: the system gave no exit time of the process\n");
    }
    std::printf("\n");
    std::fflush(stdout);
}

void reportLaunch(Csv& csv, int launches, const Launch& launch) {
    std::printf("Launcher: start to end (median of %d, in turns)\n", launches);
    std::printf("  bare program (does nothing)                  %8.2f ms\n", launch.bareMs);
    std::printf("  bare program + LoadLibraryExW(ucrtbase.dll)  %8.2f ms\n", launch.crtMs);
    std::printf("  ... + kyrServer.dll loaded, wmain called     %8.2f ms\n", launch.coreMs);
    std::printf("  kyrServer.com + kyrServer.dll (wmain returns) %7.2f ms\n", launch.launcherMs);
    std::printf("  kyrServer.com over bare: ratio %.3f, difference %.2f ms; of the difference\n"
                "  ucrtbase.dll %.2f ms, core library %.2f ms, the launcher's own %.2f ms\n",
                launch.launcherMs / launch.bareMs, launch.launcherMs - launch.bareMs,
                launch.crtMs - launch.bareMs, launch.coreMs - launch.crtMs,
                launch.launcherMs - launch.coreMs);
    csv.row("launcher", "start_to_end", launch.launcherMs, launch.bareMs,
            launch.launcherMs / launch.bareMs, "ms");
    csv.row("launcher", "difference", launch.launcherMs - launch.bareMs, -1, -1, "ms");
    csv.row("launcher", "bare_plus_ucrtbase", launch.crtMs, launch.bareMs,
            launch.crtMs / launch.bareMs, "ms");
    csv.row("launcher", "bare_plus_ucrtbase_core", launch.coreMs, launch.bareMs,
            launch.coreMs / launch.bareMs, "ms");
    std::fflush(stdout);
}

void writeCsv(const Csv& csv, const wchar_t* path) {
    const UniqueFileHandle file(
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), csv.text.data(), static_cast<DWORD>(csv.text.size()),
                            &written, nullptr)) {
        failWith(L"writing the results");
    }
}

} // namespace bench
