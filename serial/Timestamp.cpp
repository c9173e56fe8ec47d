#include "serial/Timestamp.h"

#include <cstdio>

namespace varnox::serial {

namespace {
const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

const char* NameOf(const char* const* names, int count, int index) {
    return index >= 0 && index < count ? names[index] : "???";
}
}  // namespace

void FormatTimestamp(const std::tm& when, char (&line)[kTimestampSize]) {
    std::snprintf(line, sizeof line, "%s %s %02d %02d:%02d:%02d %4d%s",
                  NameOf(kWeekdays, 7, when.tm_wday), NameOf(kMonths, 12, when.tm_mon),
                  when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec, when.tm_year + 1900, "\n");
}

std::tm LocalNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    // A clock the C library cannot convert leaves the zeroed record, which
    // still lays out as a readable line rather than garbage.
    if (localtime_r(&now, &local) == nullptr) local = std::tm{};
    return local;
}

}  // namespace varnox::serial
