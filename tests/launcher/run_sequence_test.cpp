// The launcher's run sequence with a stand-in library search (launchProbe.exe): every kind
// of failure before an entry is obtained ends in the report with its "ERROR: " line and
// exit code 1; anything that escapes an obtained entry ends with 1 and prints nothing.
#include "test_support.h"

#include <gtest/gtest.h>

#include <new>

using namespace kyrtest;

TEST(LauncherRunSequence, OutcomeOfEachKindOfFailure) {
    const std::string searched = "probe: searched\r\n\r\n";
    const struct {
        const wchar_t* probeCase;
        std::string out;
    } cases[] = {
        {L"no-entry", searched + "ERROR: Server main dll function not found\r\n"},
        {L"runtime-error", searched + "ERROR: probe failure\r\n"},
        {L"bad-alloc", searched + "ERROR: " + std::bad_alloc().what() + "\r\n"},
        {L"not-std", searched + "ERROR: unhandled exception\r\n"},
        // Structured exceptions on the launcher's thread before an entry is obtained.
        {L"access-violation", searched + "ERROR: unhandled exception\r\n"},
        {L"msvc-throw", searched + "ERROR: unhandled exception\r\n"},
        // A failure before the first log line: the report starts with the empty line.
        {L"silent-error", "\r\nERROR: Error calling GetModuleFileNameW with code 5\r\n"},
        // After an entry was obtained nothing is reported.
        {L"entry-throws", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toUtf8(c.probeCase));
        RunOptions options;
        options.timeoutMs = 20000;
        const RunResult r = run(builtProgram(L"launchProbe.exe"), {c.probeCase}, options);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 1u);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
    }
}
