#ifndef VARNOX_SERIAL_TIMESTAMP_H
#define VARNOX_SERIAL_TIMESTAMP_H

#include <cstddef>
#include <ctime>

namespace varnox::serial {

// Room for the longest line FormatTimestamp can produce, even from a broken
// calendar record.
inline constexpr std::size_t kTimestampSize = 64;

// Lays out the trace timestamp line, e.g. "Tue Sep 05 14:07:09 2017\n":
// weekday, month, two-digit day, hour, minute and second, the year in four
// columns. Out-of-range weekday or month values show as "???".
void FormatTimestamp(const std::tm& when, char (&line)[kTimestampSize]);

// The current local date and time.
std::tm LocalNow();

}  // namespace varnox::serial

#endif
