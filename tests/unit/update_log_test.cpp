// The layout of the update log: folder, file name, time stamp, also after 2038.
#include "test_support.h"
#include "update_log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

std::tm timeOf(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

} // namespace

TEST(UpdateLogLayout, FileNamesAndFolders) {
    struct Case {
        std::tm time;
        int sequence;
        std::wstring tail;
    };
    const Case cases[] = {
        {timeOf(2025, 7, 3, 18, 39, 28), 1, L"kyrUpdater\\2025\\7\\03.18_39_28.log"},
        {timeOf(2026, 1, 5, 9, 4, 7), 1, L"kyrUpdater\\2026\\1\\05.09_04_07.log"},
        {timeOf(2026, 12, 31, 23, 59, 59), 1, L"kyrUpdater\\2026\\12\\31.23_59_59.log"},
        {timeOf(2026, 10, 1, 0, 0, 0), 2, L"kyrUpdater\\2026\\10\\01.00_00_00-2.log"},
        {timeOf(12345, 2, 1, 0, 0, 0), 11, L"kyrUpdater\\12345\\2\\01.00_00_00-11.log"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(logFileTail(c.time, c.sequence).wstring(), c.tail);
    }
}

TEST(UpdateLogLayout, Timestamps) {
    EXPECT_EQ(formatTimestamp(timeOf(2025, 7, 3, 18, 39, 28), 42), "03.07.2025 18:39:28.042");
    EXPECT_EQ(formatTimestamp(timeOf(2026, 1, 5, 9, 4, 7), 0), "05.01.2026 09:04:07.000");
    EXPECT_EQ(formatTimestamp(timeOf(2026, 12, 31, 23, 59, 59), 999),
              "31.12.2026 23:59:59.999");
}

TEST(UpdateLogLayout, CurrentTimestampHasTheLayout) {
    const std::string stamp = logTimestamp();
    ASSERT_EQ(stamp.size(), 23u) << stamp;
    const std::string shape = "dd.dd.dddd dd:dd:dd.ddd";
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'd') {
            EXPECT_TRUE(stamp[i] >= '0' && stamp[i] <= '9') << stamp;
        } else {
            EXPECT_EQ(stamp[i], shape[i]) << stamp;
        }
    }
}

namespace {

FILETIME fileTimeOf(int year, int month, int day, int hour, int minute, int second, int ms) {
    SYSTEMTIME utc{};
    utc.wYear = static_cast<WORD>(year);
    utc.wMonth = static_cast<WORD>(month);
    utc.wDay = static_cast<WORD>(day);
    utc.wHour = static_cast<WORD>(hour);
    utc.wMinute = static_cast<WORD>(minute);
    utc.wSecond = static_cast<WORD>(second);
    utc.wMilliseconds = static_cast<WORD>(ms);
    FILETIME time{};
    EXPECT_TRUE(SystemTimeToFileTime(&utc, &time));
    return time;
}

// Minutes since an arbitrary day, for comparing a local time with its UTC moment.
long long minutesOf(int day, int hour, int minute) {
    return (static_cast<long long>(day) * 24 + hour) * 60 + minute;
}

} // namespace

TEST(UpdateLogLayout, MomentsAfter2038KeepTheirYearMonthAndMilliseconds) {
    // In the middle of a month and of a day, so that any time zone keeps year and month.
    struct Case {
        int year, month, day, hour, minute, second, ms;
    };
    const Case cases[] = {
        {2026, 12, 10, 12, 0, 0, 0},
        {2038, 1, 19, 3, 14, 8, 1},    // the second after the 32-bit time_t ends
        {2038, 1, 20, 12, 30, 15, 42}, // the day after
        {2040, 7, 15, 11, 45, 59, 999},
        {2106, 2, 15, 6, 28, 16, 500}, // past an unsigned 32-bit count of seconds too
        {2999, 6, 15, 12, 0, 0, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.year);
        LocalMoment local;
        ASSERT_TRUE(localMomentOf(fileTimeOf(c.year, c.month, c.day, c.hour, c.minute, c.second,
                                             c.ms),
                                  local));
        EXPECT_EQ(local.time.tm_year + 1900, c.year);
        EXPECT_EQ(local.time.tm_mon + 1, c.month);
        EXPECT_EQ(local.time.tm_sec, c.second);
        EXPECT_EQ(local.milliseconds, c.ms);
        // The local time differs from UTC by the zone's offset only: whole quarter hours, at
        // most 14 hours.
        const long long offset = minutesOf(local.time.tm_mday, local.time.tm_hour,
                                           local.time.tm_min) -
                                 minutesOf(c.day, c.hour, c.minute);
        EXPECT_EQ(offset % 15, 0);
        EXPECT_LE(offset < 0 ? -offset : offset, 14 * 60);
        // The log's folder and time stamp show that year.
        const std::wstring tail = logFileTail(local.time).wstring();
        EXPECT_EQ(tail.rfind(L"kyrUpdater\\" + std::to_wstring(c.year) + L"\\" +
                                 std::to_wstring(c.month) + L"\\",
                             0),
                  0u)
            << kyrtest::toUtf8(tail);
        EXPECT_EQ(formatTimestamp(local.time, local.milliseconds).substr(3, 7),
                  (c.month < 10 ? "0" : "") + std::to_string(c.month) + "." +
                      std::to_string(c.year));
    }
}

TEST(UpdateLogLayout, CurrentMomentIsThisYear) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    const LocalMoment local = currentLocalMoment();
    // A year's end may lie between the two readings in some time zone.
    EXPECT_LE(std::abs(local.time.tm_year + 1900 - static_cast<int>(now.wYear)), 1);
    EXPECT_GE(local.milliseconds, 0);
    EXPECT_LE(local.milliseconds, 999);
}
