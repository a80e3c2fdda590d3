// The bench's report: the table printed on standard output as the figures come, and the same
// figures as CSV rows "metric,case,value,reference,ratio,unit".
#pragma once

#include "launcher_measures.h"
#include "updater_measures.h"

#include <string>
#include <vector>

namespace bench {

struct Csv {
    std::string text = "metric,case,value,reference,ratio,unit\n";
    // A negative number stands for "none" and leaves its field empty.
    void row(const char* metric, const std::string& what, double value, double reference,
             double ratio, const char* unit);
};

// Which build of the programs runs (this program's own: i686 or x86-64, and whether under
// WOW64), and where the installations are.
void reportPrograms(Csv& csv, const std::wstring& installationsRoot);

void reportPerFileHeader();
void reportPerFile(Csv& csv, int n, const PerFile& result);

// The growth of the cost per file from 100 to 10000 files: the updater's, and against the
// baseline's in the same run.
void reportScaling(Csv& csv, const PerFile& at100, const PerFile& at10000);

// The same measure on the disk (the header before it, then the figures), with the
// baseline's split log writes.
void reportDiskHeader(const std::wstring& diskRoot);
void reportDisk(Csv& csv, int n, const PerFile& result);

// The wait's latency from the medians of the runs (logClockMs may be empty).
void reportWait(Csv& csv, const std::vector<double>& benchClockMs,
                const std::vector<double>& logClockMs);

void reportLaunch(Csv& csv, int launches, const Launch& launch);

// Writes the CSV text to the file (replacing it); throws on failure.
void writeCsv(const Csv& csv, const wchar_t* path);

} // namespace bench
