#include <gtest/gtest.h>

#include "serial/COMPort.h"
#include "serial/Timestamp.h"
#include "tests/support/TraceText.h"

namespace varnox::test {
namespace {

std::tm Make(int year, int month, int day, int wday, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_wday = wday;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(TimestampTest, Layout) {
    const std::pair<std::tm, const char*> cases[] = {
        {Make(2017, 9, 5, 2, 14, 7, 9), "Tue Sep 05 14:07:09 2017\n"},
        {Make(2026, 12, 5, 6, 9, 3, 7), "Sat Dec 05 09:03:07 2026\n"},
        {Make(2000, 1, 31, 0, 0, 0, 0), "Sun Jan 31 00:00:00 2000\n"},
        {Make(999, 6, 1, 1, 23, 59, 60), "Mon Jun 01 23:59:60  999\n"},
        {Make(2024, 13, 1, 7, 1, 2, 3), "??? ??? 01 01:02:03 2024\n"},
    };
    for (const auto& [when, expected] : cases) {
        char line[serial::kTimestampSize];
        serial::FormatTimestamp(when, line);
        EXPECT_STREQ(line, expected);
    }
}

TEST(TimestampTest, WriteDebugTimeStartsAnEntry) {
    TraceCapture trace;
    COMPort port;
    port.WriteDebugTime();  // no stream: nothing, no crash
    port.DebugStream = trace.Stream();
    port.WriteDebugTime();
    port.DebugStream = nullptr;
    const std::string text = trace.Text();
    ASSERT_EQ(text.front(), '\n');
    ASSERT_EQ(text.back(), '\n');
    EXPECT_TRUE(IsTimestampLine(text.substr(1, text.size() - 2))) << text;
}

}  // namespace
}  // namespace varnox::test
