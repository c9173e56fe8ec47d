#include "testprog/TextUtilities.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace varnox::testprog {
namespace {

// These routines exist to apply a format the caller supplies (or one built
// from it), so the compiler cannot check it at the call. The header states
// what each format must hold; the warning is silenced for these four
// forwarders only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
int WriteFormatted(char* destination, const char* format, double value) {
    return std::sprintf(destination, format, value);
}
int WriteFormatted(char* destination, const char* format, int precision, double value) {
    return std::sprintf(destination, format, precision, value);
}
int WriteFormatted(char* destination, const char* format, unsigned minutes, double seconds) {
    return std::sprintf(destination, format, minutes, seconds);
}
int WriteFormatted(char* destination, const char* format, unsigned hours, unsigned minutes,
                   double seconds) {
    return std::sprintf(destination, format, hours, minutes, seconds);
}
#pragma GCC diagnostic pop

// The base a number text asks for by its last character, and how many
// characters the digits must then take up: all of them, or all but the
// suffix.
struct NumberLayout {
    int base;
    std::size_t digitsEnd;
};

NumberLayout LayoutOf(const char* text, std::size_t length) {
    switch (text[length - 1]) {
        case 'h': return {16, length - 1};
        case 'b': return {2, length - 1};
        default: return {10, length};
    }
}

bool ConvertedExactly(const char* text, const char* end, const NumberLayout& layout) {
    return end != text && static_cast<std::size_t>(end - text) == layout.digitsEnd;
}

// strtoul and strtol skip the same white space before the sign.
bool HasMinusSign(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    return *text == '-';
}

constexpr std::uint32_t kUnsignedMax = std::numeric_limits<std::uint32_t>::max();
constexpr std::int32_t kSignedMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kSignedMin = std::numeric_limits<std::int32_t>::min();

// strtoul's value as a platform with a 32-bit unsigned long computes it: a
// magnitude that does not fit is the maximum, whatever the sign; one that
// fits is negated in 32 bits when the text has a minus sign. `value` is the
// native result, the negated magnitude when negative. A native overflow
// (ULONG_MAX) needs no case of its own: it is above the maximum, and negated
// it is 1, whose 32-bit negation is the maximum again.
std::uint32_t AsIf32Bits(unsigned long value, bool negative) {
    const unsigned long magnitude = negative ? 0UL - value : value;
    if (magnitude > kUnsignedMax) return kUnsignedMax;
    return static_cast<std::uint32_t>(negative ? 0UL - magnitude : magnitude);
}

// Whole minutes the hours-minutes-seconds layout holds: those of a 32-bit
// count, which also keeps the text within 17 characters.
constexpr double kMinuteLimit = 4294967296.0;
// A duration is split through a signed 32-bit second count.
constexpr double kSecondLimit = 2147483648.0;
// A precision this long makes the seconds field and the tail so long that the
// built format cannot fit either buffer; counting stops there so the number
// cannot wrap into a small one.
constexpr unsigned kPrecisionCap = 1000000000U;

// Field width for the seconds and the tail to append, both taken from the
// caller's format for one seconds value.
struct SecondsField {
    unsigned width;
    const char* tail;
};

SecondsField SecondsFieldOf(const char* format) {
    const char* point = std::strchr(format, '.');
    if (point == nullptr) {
        // The conversion's own letter, the first one after the '%': an 'f'
        // in the text around it is not taken for it, and e and g are kept.
        const char* percent = std::strchr(format, '%');
        const char* conversion =
            percent != nullptr ? std::strpbrk(percent + 1, "fFeEgGaA") : nullptr;
        return {2U, conversion != nullptr ? conversion : format};
    }
    unsigned precision = 0;
    for (const char* digit = point + 1; std::isdigit(static_cast<unsigned char>(*digit)); ++digit) {
        const auto value = static_cast<unsigned>(*digit - '0');
        precision = precision < kPrecisionCap / 10 ? precision * 10 + value : kPrecisionCap;
    }
    // Room for two digits of whole seconds and the point.
    return {precision > 0 ? precision + 3 : 2U, point};
}

}  // namespace

int ParseUnsigned(const char* text, std::uint32_t* result) {
    const std::size_t length = std::strlen(text);
    if (length == 0) return -1;
    const NumberLayout layout = LayoutOf(text, length);
    // Failures are reported by the result alone, so a native ERANGE is not
    // passed on.
    const int callersErrno = errno;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, layout.base);
    errno = callersErrno;
    if (!ConvertedExactly(text, end, layout)) return -2;
    *result = AsIf32Bits(value, HasMinusSign(text));
    return 0;
}

int ParseSigned(const char* text, std::int32_t* result) {
    const std::size_t length = std::strlen(text);
    if (length == 0) return -1;
    const NumberLayout layout = LayoutOf(text, length);
    const int callersErrno = errno;
    char* end = nullptr;
    const long value = std::strtol(text, &end, layout.base);
    errno = callersErrno;
    if (!ConvertedExactly(text, end, layout)) return -2;
    // A 32-bit strtol saturates at its limits, as the native one does at its
    // own wider limits.
    if (value > kSignedMax) {
        *result = kSignedMax;
    } else if (value < kSignedMin) {
        *result = kSignedMin;
    } else {
        *result = static_cast<std::int32_t>(value);
    }
    return 0;
}

int FormatSignificant(char* destination, const char* format, double value, std::int8_t digits) {
    int precision = 0;
    if (std::isfinite(value)) {
        const double magnitude = std::fabs(value);
        // The order of a finite non-zero double lies within -324..308, so the
        // conversion to int is always defined; 0 counts as order 0.
        const int order = magnitude > 0.0 ? static_cast<int>(std::floor(std::log10(magnitude))) : 0;
        precision = digits - 1 - order;
        if (precision < 0) precision = 0;
    }
    return WriteFormatted(destination, format, precision, value);
}

int FormatSeconds(char* destination, double seconds) {
    const double magnitude = std::fabs(seconds);
    // Written as a comparison that NaN fails.
    if (!(magnitude / 60.0 < kMinuteLimit)) return std::sprintf(destination, "%.1le", seconds);
    const double wholeMinutes = std::floor(magnitude / 60.0);
    const auto minutes = static_cast<unsigned long>(wholeMinutes);
    const double rest = magnitude - 60.0 * wholeMinutes;
    if (seconds < 0.0) {
        return std::sprintf(destination, "-%lu:%02lu:%04.1lf", minutes / 60, minutes % 60, rest);
    }
    return std::sprintf(destination, "%2lu:%02lu:%04.1lf", minutes / 60, minutes % 60, rest);
}

int FormatHundredths(char* destination, std::uint32_t hundredths) {
    const unsigned long minutes = hundredths / 6000U;
    const unsigned long rest = hundredths % 6000U;
    return std::sprintf(destination, "%2lu:%02lu:%02lu.%02lu", minutes / 60, minutes % 60,
                        rest / 100, rest % 100);
}

int FormatDuration(char* destination, const char* format, double seconds) {
    // Written as a comparison that NaN fails, so NaN takes the caller's format.
    if (!(seconds >= 60.0 && seconds < kSecondLimit)) {
        return WriteFormatted(destination, format, seconds);
    }
    const auto total = static_cast<std::int32_t>(seconds);
    const std::int32_t allMinutes = total / 60;
    const double rest = seconds - 60.0 * allMinutes;
    const SecondsField field = SecondsFieldOf(format);

    if (allMinutes < 60) {
        char built[20];
        const int needed =
            std::snprintf(built, sizeof built, "%%u:%%0%u%s", field.width, field.tail);
        if (needed < 0 || static_cast<std::size_t>(needed) >= sizeof built) {
            return WriteFormatted(destination, format, seconds);
        }
        return WriteFormatted(destination, built, static_cast<unsigned>(allMinutes), rest);
    }
    const std::int32_t hours = allMinutes / 60;
    const std::int32_t minutes = allMinutes - 60 * hours;
    char built[32];
    const int needed =
        std::snprintf(built, sizeof built, "%%u:%%02u:%%0%u%s", field.width, field.tail);
    if (needed < 0 || static_cast<std::size_t>(needed) >= sizeof built) {
        return WriteFormatted(destination, format, seconds);
    }
    return WriteFormatted(destination, built, static_cast<unsigned>(hours),
                          static_cast<unsigned>(minutes), rest);
}

void PadRight(char* destination, const char* source, unsigned width, unsigned start) {
    // memmove: ShortenPathPadded pads its own result in place.
    std::memmove(destination, source, std::strlen(source) + 1);
    for (unsigned position = start; position < width; ++position) destination[position] = ' ';
    destination[width] = '\0';
}

void ShortenTail(char* destination, const char* source, unsigned width, unsigned length) {
    if (width < 2) {
        // Not even the dots fit; reading width - 2 characters back would start
        // beyond the end of the source.
        for (unsigned position = 0; position < width; ++position) destination[position] = '.';
        destination[width] = '\0';
        return;
    }
    const unsigned keep = width - 2;
    const unsigned from = length > keep ? length - keep : 0;
    destination[0] = '.';
    destination[1] = '.';
    std::memcpy(destination + 2, source + from, length - from);
    destination[2 + length - from] = '\0';
}

unsigned ShortenPath(char* destination, const char* source, unsigned width) {
    const std::size_t length = std::strlen(source);
    if (length <= width) {
        std::memcpy(destination, source, length + 1);
        return static_cast<unsigned>(length);
    }
    const char* firstSeparator = std::strchr(source, '\\');
    if (firstSeparator == nullptr) {
        ShortenTail(destination, source, width, static_cast<unsigned>(length));
        return width;
    }
    // A drive "D:" stays whole: the head ends on its colon.
    std::size_t headEnd = static_cast<std::size_t>(firstSeparator - source);
    if (headEnd > 0 && source[headEnd - 1] == ':') --headEnd;
    std::size_t headLength = headEnd + 1;

    // Whatever follows the head must be short enough for the head, the dots
    // and itself to fit width; it begins at a separator.
    const std::size_t searchFrom = headEnd + (length - width) + 3;
    const char* tail = searchFrom < length ? std::strchr(source + searchFrom, '\\') : nullptr;
    if (tail == nullptr) {
        ShortenTail(destination, source, width, static_cast<unsigned>(length));
        return width;
    }
    const auto tailLength = static_cast<std::size_t>(source + length - tail);
    std::size_t resultLength = headLength + 2 + tailLength;
    if (source[headEnd] == ':' && resultLength < width) {
        ++headLength;  // keep the separator after the drive: "D:\.."
        ++resultLength;
    }
    std::memcpy(destination, source, headLength);
    std::memcpy(destination + headLength, "..", 2);
    std::memcpy(destination + headLength + 2, tail, tailLength + 1);
    return static_cast<unsigned>(resultLength);
}

unsigned ShortenPathPadded(char* destination, const char* source, unsigned width) {
    const std::size_t length = std::strlen(source);
    if (length <= width) {
        PadRight(destination, source, width, static_cast<unsigned>(length));
        return width;
    }
    const char* firstSeparator = std::strchr(source, '\\');
    if (firstSeparator == nullptr) {
        ShortenTail(destination, source, width, static_cast<unsigned>(length));
        return width;
    }
    const auto headLength = static_cast<std::size_t>(firstSeparator - source) + 1;
    // One position further on than ShortenPath searches, which leaves at
    // least one blank at the end.
    const std::size_t searchFrom = headLength - 1 + (length - width) + 4;
    const char* tail = searchFrom < length ? std::strchr(source + searchFrom, '\\') : nullptr;
    if (tail == nullptr) {
        ShortenTail(destination, source, width, static_cast<unsigned>(length));
        return width;
    }
    const auto tailLength = static_cast<std::size_t>(source + length - tail);
    std::memcpy(destination, source, headLength);
    std::memcpy(destination + headLength, "..", 2);
    std::memcpy(destination + headLength + 2, tail, tailLength + 1);
    PadRight(destination, destination, width, static_cast<unsigned>(headLength + 2 + tailLength));
    return width;
}

}  // namespace varnox::testprog
