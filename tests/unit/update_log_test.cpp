// The layout of the update log: folder, file name and time stamp.
#include "update_log.h"
#include "test_support.h"

#include <gtest/gtest.h>

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
