#include "run.h"

#include "command_line.h"
#include "instance_guard.h"
#include "report.h"
#include "support/exception.h"
#include "support/process_locale.h"
#include "update_log.h"

#include <cstdlib>
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

    if (settings.checkUpdates) {
        // The guard is left to the system, which releases it when the process ends.
        return 0;
    }

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
        std::exit(1);
    } catch (const std::exception& failure) {
        std::cout << failure.what() << std::endl;
        writeLog(L"Error! C++ std::exception");
        std::exit(1);
    }
}
