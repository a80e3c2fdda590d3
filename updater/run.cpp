#include "run.h"

#include "command_line.h"
#include "file_system.h"
#include "instance_guard.h"
#include "process_wait.h"
#include "report.h"
#include "server_restart.h"
#include "staged_files.h"
#include "support/exception.h"
#include "support/process_locale.h"
#include "update_log.h"

#include <exception>
#include <iostream>

namespace {

int runSequence() {
    setProcessLocale();
    const RunSettings settings = readRunSettings();

    openLog(logFilePath());
    reportLine(L"Start kyrUpdater");
    reportLine(L"Application directory: " + settings.appDir);
    reportLine(L"Executable name: " + settings.exeName);

    InstanceGuard guard = takeInstanceGuard();
    if (!guard.held()) {
        reportLine(L"Updater already running, exit");
        return 0;
    }

    // Made absolute and canonical once: every path the system is handed is built from this,
    // in its literal form; the lines reported keep the directory as given.
    const FilePath appDir = resolvePath(settings.appDir);
    const ScanResult scan = scanStagedFiles(appDir);
    if (settings.checkUpdates) {
        // The guard is left to the system, which releases it when the process ends.
        return scan.staged.empty() ? 0 : 1;
    }

    if (scan.stopMask != 0) {
        const std::vector<std::wstring> patterns = stopPatterns(scan.stopMask);
        reportLine(L"Wait for stop KYR processes...");
        waitProcessExit(patterns);
        reportLine(L"KYR processes stopped");
    }

    replaceStagedFiles(scan.staged, settings.keepOld);
    removeSupersededFiles(appDir);
    restartServer(settings.appDir, settings.exeName, settings.defaultName);

    reportLine(L"Update complete");
    guard.release();
    return 0;
}

} // namespace

int runUpdater() {
    try {
        return runSequence();
    } catch (const Exception& failure) {
        reportLine(failure.text());
        return 1;
    } catch (const std::exception& failure) {
        std::cout << failure.what() << std::endl;
        writeLog(L"Error! C++ std::exception");
        return 1;
    }
}
