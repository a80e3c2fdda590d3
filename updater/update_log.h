// The per-run update log: one UTF-8 file per run, filed by year and month, each line
// time-stamped and forced to disk before writeLog returns.
#pragma once

#include <windows.h>

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

// --- Time ---

// A moment as the log shows it: local calendar time and the milliseconds of its second.
struct LocalMoment {
    std::tm time{};
    int milliseconds = 0;
};

// The local time of a moment given in the system's file time (100-nanosecond units since
// 1601, UTC), by the system's time-zone rules for that date. Never through the C runtime's
// time_t, which is 32 bits wide in the 32-bit runtime and ends in January 2038. False when
// the system cannot convert the moment.
bool localMomentOf(const FILETIME& utc, LocalMoment& local);

// The current moment, from the most precise clock the system offers.
LocalMoment currentLocalMoment();

// --- The log of this run ---

// Where this run's log goes.
struct LogFilePath {
    // exeDir\logs when that exists, else the machine's common application-data folder.
    std::filesystem::path base;
    // "KYR\logs" below the machine's folder; empty below the operator's "logs".
    std::filesystem::path machineTail;
    // "kyrUpdater\YYYY\M\DD.hh_mm_ss.log".
    std::filesystem::path tail;

    std::filesystem::path file() const { return base / machineTail / tail; }
};

// The log file of a run started now: below exeDir\logs when that exists, else below the
// machine's common application-data folder, KYR\logs. Throws Exception "getAppDir()".
LogFilePath logFilePath();

// Creates the missing folders and a new, empty log file. When the name is taken (another
// run in the same second) the next free "-N" name in the same folder is used. Throws
// Exception with the folder or file as context.
//
// Below the machine's folder, which every user may write to, a link or a folder that another
// user planted there must not take the log: from KYR down each level is checked and held
// open until the file is (machine_log_folder.h), KYR is created with an access list of its
// own, and the opened file must be the intended one (else it is deleted again). Any of
// these failing ends the run as a folder that cannot be made. The operator's "logs"
// folder, and what lies below it, may be a link on purpose.
void openLog(const LogFilePath& path);

// The file that openLog created; empty before.
const std::filesystem::path& openedLogPath();

// Appends "timestamp|message\n". Does nothing for an empty message or while the log is
// off; the first failed conversion or write switches it off for the rest of the run.
void writeLog(const std::wstring& message) noexcept;

// The timestamp of the current moment, local time.
std::string logTimestamp();
