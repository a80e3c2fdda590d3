// The per-run update log: one UTF-8 file per run, filed by year and month, each line
// time-stamped and forced to disk before writeLog returns.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>

// --- Layout (pure) ---

// "DD.hh_mm_ss.log" for the first run in a second; "DD.hh_mm_ss-N.log" (N >= 2) for the
// N-th, so that a second run in the same second never empties the first one's log.
std::wstring logFileName(const std::tm& time, int sequence = 1);

// "kyrUpdater\YYYY\M\DD.hh_mm_ss.log" below the base directory.
std::filesystem::path logFileTail(const std::tm& time, int sequence = 1);

// "DD.MM.YYYY hh:mm:ss.mmm": plain ASCII digits whatever the locale.
std::string formatTimestamp(const std::tm& time, int milliseconds);

// --- The log of this run ---

// The log file of a run started now: below exeDir\logs when that exists, else below the
// machine's common application-data folder, KYR\logs. Throws Exception "getAppDir()".
std::filesystem::path logFilePath();

// Creates the missing folders and a new, empty log file. When the name is taken (another
// run in the same second) the next free "-N" name in the same folder is used. Throws
// Exception with the folder or file as context.
void openLog(const std::filesystem::path& path);

// The file that openLog created; empty before.
const std::filesystem::path& openedLogPath();

// Appends "timestamp|message\n". Does nothing for an empty message or while the log is
// off; the first failed conversion or write switches it off for the rest of the run.
void writeLog(const std::wstring& message) noexcept;

// The timestamp of the current moment, local time.
std::string logTimestamp();
