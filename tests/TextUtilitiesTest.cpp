#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

#include "testprog/TextUtilities.h"

namespace varnox::test {
namespace {

using testprog::FormatDuration;
using testprog::FormatHundredths;
using testprog::FormatSeconds;
using testprog::FormatSignificant;
using testprog::PadRight;
using testprog::ParseSigned;
using testprog::ParseUnsigned;
using testprog::ShortenPath;
using testprog::ShortenPathPadded;
using testprog::ShortenTail;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The same 41-character path in every path table.
constexpr const char* kToolPath = "D:\\Program Files\\Vendor\\Tool\\bin\\tool.exe";

// A destination filled with a marker, to see that a routine writes nothing
// past the bytes the header says it needs.
class Destination {
public:
    Destination() { std::memset(bytes, '#', sizeof bytes); }
    bool UntouchedFrom(std::size_t index) const {
        for (std::size_t i = index; i < sizeof bytes; ++i) {
            if (bytes[i] != '#') return false;
        }
        return true;
    }
    char bytes[64];
};

TEST(TextUtilitiesTest, ParseUnsigned) {
    constexpr std::uint32_t kUntouched = 0xDEADBEEF;
    struct Case {
        const char* text;
        int status;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"", -1, kUntouched},
        {"25", 0, 25},
        {"1Fh", 0, 31},
        {"1fh", 0, 31},
        {"0x1Fh", 0, 31},
        {"101b", 0, 5},
        {"11111b", 0, 31},
        {"1Bh", 0, 27},
        {"1FH", -2, kUntouched},
        {"12 ", -2, kUntouched},
        {"h", -2, kUntouched},
        {"b", -2, kUntouched},
        {"1Fb", -2, kUntouched},
        {"0x10", -2, kUntouched},
        {"-", -2, kUntouched},
        {" \t25", 0, 25},
        {"+25", 0, 25},
        {"-0", 0, 0},
        // Beyond 32 bits: what a 32-bit strtoul gives, never a wrapped value.
        {"4294967295", 0, 4294967295U},
        {"4294967296", 0, 4294967295U},
        {"4294967297", 0, 4294967295U},
        {"FFFFFFFFh", 0, 4294967295U},
        {"100000001h", 0, 4294967295U},
        {"18446744073709551617", 0, 4294967295U},
        // A minus sign negates in 32 bits; a magnitude beyond them saturates.
        {"-1", 0, 4294967295U},
        {" -1Fh", 0, 4294967265U},
        {"-4294967295", 0, 1},
        {"-4294967296", 0, 4294967295U},
        {"-18446744073709551615", 0, 4294967295U},
        {"-18446744073709551617", 0, 4294967295U},
    };
    for (const Case& c : cases) {
        std::uint32_t value = kUntouched;
        errno = EDOM;
        EXPECT_EQ(ParseUnsigned(c.text, &value), c.status) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
        EXPECT_EQ(errno, EDOM) << '"' << c.text << '"';
    }
}

TEST(TextUtilitiesTest, ParseSigned) {
    constexpr std::int32_t kUntouched = -123456789;
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    struct Case {
        const char* text;
        int status;
        std::int32_t value;
    };
    const Case cases[] = {
        {"", -1, kUntouched},
        {"25", 0, 25},
        {"-25", 0, -25},
        {" -25", 0, -25},
        {"1Fh", 0, 31},
        {"-1Fh", 0, -31},
        {"0x1Fh", 0, 31},
        {"101b", 0, 5},
        {"-101b", 0, -5},
        {"1FH", -2, kUntouched},
        {"12 ", -2, kUntouched},
        {"h", -2, kUntouched},
        {"b", -2, kUntouched},
        {"1Fb", -2, kUntouched},
        {"0x10", -2, kUntouched},
        // Beyond 32 bits: the limits of a 32-bit strtol, never a wrapped value.
        {"2147483647", 0, kMax},
        {"2147483648", 0, kMax},
        {"4294967297", 0, kMax},
        {"7FFFFFFFh", 0, kMax},
        {"80000000h", 0, kMax},
        {"9223372036854775808", 0, kMax},
        {"-2147483648", 0, kMin},
        {"-80000000h", 0, kMin},
        {"-2147483649", 0, kMin},
        {"-4294967295", 0, kMin},
        {"-9223372036854775809", 0, kMin},
    };
    for (const Case& c : cases) {
        std::int32_t value = kUntouched;
        errno = EDOM;
        EXPECT_EQ(ParseSigned(c.text, &value), c.status) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
        EXPECT_EQ(errno, EDOM) << '"' << c.text << '"';
    }
}

TEST(TextUtilitiesTest, FormatSignificant) {
    struct Case {
        const char* format;
        double value;
        std::int8_t digits;
        const char* expected;
    };
    const Case cases[] = {
        {"%.*f", 123.456, 4, "123.5"},
        {"%.*f", 0.01234, 4, "0.01234"},
        {"%.*f", 999.0, 4, "999.0"},
        {"%.*f", 1000.0, 4, "1000"},
        {"%.*f", 0.001, 2, "0.0010"},
        {"%.*f", 12345.0, 3, "12345"},
        {"%.*f", 123.456, 0, "123"},
        {"%.*f", 0.7, -128, "1"},
        {"%8.*f", 1.5, 3, "    1.50"},
        {"%.*f", -123.456, 4, "-123.5"},
        {"%.*f", -0.01234, 4, "-0.01234"},
        {"%.*f", 0.0, 4, "0.000"},
        {"%.*f", 0.0, 0, "0"},
        {"%.*f", kNaN, 4, "nan"},
        {"%.*f", kInfinity, 4, "inf"},
        {"%.*f", -kInfinity, 4, "-inf"},
    };
    for (const Case& c : cases) {
        Destination destination;
        const int count = FormatSignificant(destination.bytes, c.format, c.value, c.digits);
        EXPECT_STREQ(destination.bytes, c.expected) << c.format << ' ' << c.value;
        EXPECT_EQ(count, static_cast<int>(std::strlen(c.expected))) << c.value;
    }
    // The widest precision: 127 digits of the smallest subnormal, "0." and 450 decimals.
    char wide[512];
    EXPECT_EQ(FormatSignificant(wide, "%.*f", 4.9406564584124654e-324, 127), 452);
    EXPECT_EQ(std::strncmp(wide, "0.000", 5), 0) << wide;
}

TEST(TextUtilitiesTest, FormatSeconds) {
    struct Case {
        double seconds;
        const char* expected;
    };
    const Case cases[] = {
        {3725.5, " 1:02:05.5"},
        {0.0, " 0:00:00.0"},
        {-0.0, " 0:00:00.0"},
        {59.94, " 0:00:59.9"},
        {60.0, " 0:01:00.0"},
        {3599.9, " 0:59:59.9"},
        {36000.0, "10:00:00.0"},
        {-3725.5, "-1:02:05.5"},
        {-36000.0, "-10:00:00.0"},
        // The last whole minute of a 32-bit count, and the first beyond it.
        {257698037759.9, "71582788:15:59.9"},
        {-257698037759.9, "-71582788:15:59.9"},
        {257698037760.0, "2.6e+11"},
        {1e300, "1.0e+300"},
        {kNaN, "nan"},
        {kInfinity, "inf"},
        {-kInfinity, "-inf"},
    };
    for (const Case& c : cases) {
        Destination destination;
        const int count = FormatSeconds(destination.bytes, c.seconds);
        EXPECT_STREQ(destination.bytes, c.expected) << c.seconds;
        EXPECT_EQ(count, static_cast<int>(std::strlen(c.expected))) << c.seconds;
    }
}

TEST(TextUtilitiesTest, FormatHundredths) {
    struct Case {
        std::uint32_t hundredths;
        const char* expected;
    };
    const Case cases[] = {
        {550, " 0:00:05.50"},     {6000, " 0:01:00.00"},           {0, " 0:00:00.00"},
        {99, " 0:00:00.99"},      {359999, " 0:59:59.99"},         {360000, " 1:00:00.00"},
        {3600000, "10:00:00.00"}, {4294967295U, "11930:27:52.95"},
    };
    for (const Case& c : cases) {
        Destination destination;
        const int count = FormatHundredths(destination.bytes, c.hundredths);
        EXPECT_STREQ(destination.bytes, c.expected) << c.hundredths;
        EXPECT_EQ(count, static_cast<int>(std::strlen(c.expected))) << c.hundredths;
    }
}

TEST(TextUtilitiesTest, FormatDuration) {
    struct Case {
        const char* format;
        double seconds;
        const char* expected;
    };
    const Case cases[] = {
        {"%.1f", 65.5, "1:05.5"},
        {"%.1f", 3725.5, "1:02:05.5"},
        {"%.1f", 59.9, "59.9"},
        {"%.1f", 60.0, "1:00.0"},
        {"%.1f", 3600.0, "1:00:00.0"},
        {"%.0f", 65.5, "1:06"},
        {"%.2f", 65.25, "1:05.25"},
        {"%.10f", 65.5, "1:05.5000000000"},
        // Without a point the tail starts at the conversion letter, width 2.
        {"%f", 65.5, "1:5.500000"},
        {"%F", 65.5, "1:5.500000"},
        // What precedes the point only counts below a minute.
        {"%8.1f", 30.0, "    30.0"},
        {"%8.1f", 65.5, "1:05.5"},
        {"t=%.1f", 65.5, "1:05.5"},
        {"%.1f s", 3725.5, "1:02:05.5 s"},
        // Values that are not widened take the caller's format alone.
        {"%.1f", kNaN, "nan"},
        {"%.1f", -65.5, "-65.5"},
        {"%.1f", -kInfinity, "-inf"},
        {"%.1f", kInfinity, "inf"},
        {"%.1f", 2147483647.5, "596523:14:07.5"},
        {"%.1f", 2147483648.0, "2147483648.0"},
        // A built format of 19 characters fits the minutes buffer, 20 do not;
        // 31 fit the hours buffer, 32 do not. A tail that does not fit is
        // refused, not cut.
        {"%.1f 123456789", 65.5, "1:05.5 123456789"},
        {"%.1f 1234567890", 65.5, "65.5 1234567890"},
        {"%.1f 1234567890", 3725.5, "1:02:05.5 1234567890"},
        {"%.1f 1234567890123456", 3725.5, "1:02:05.5 1234567890123456"},
        {"%.1f 12345678901234567", 3725.5, "3725.5 12345678901234567"},
    };
    for (const Case& c : cases) {
        Destination destination;
        const int count = FormatDuration(destination.bytes, c.format, c.seconds);
        EXPECT_STREQ(destination.bytes, c.expected) << c.format << ' ' << c.seconds;
        EXPECT_EQ(count, static_cast<int>(std::strlen(c.expected))) << c.format;
    }
}

TEST(TextUtilitiesTest, PadRight) {
    struct Case {
        const char* source;
        unsigned width;
        unsigned start;
        const char* expected;
    };
    const Case cases[] = {
        {"abc", 6, 3, "abc   "},      {"abc", 3, 3, "abc"}, {"", 4, 0, "    "},
        {"abcdef", 3, 6, "abc"},      {"abc", 0, 3, ""},    {"abc", 5, 7, "abc"},
        {"abcdef", 8, 2, "ab      "},
    };
    for (const Case& c : cases) {
        Destination destination;
        PadRight(destination.bytes, c.source, c.width, c.start);
        EXPECT_STREQ(destination.bytes, c.expected) << '"' << c.source << "\" " << c.width;
        const std::size_t needed = std::max<std::size_t>(std::strlen(c.source), c.width) + 1;
        EXPECT_TRUE(destination.UntouchedFrom(needed)) << '"' << c.source << "\" " << c.width;
    }
    char inPlace[8] = "ab";
    PadRight(inPlace, inPlace, 5, 2);
    EXPECT_STREQ(inPlace, "ab   ");
}

TEST(TextUtilitiesTest, ShortenTail) {
    struct Case {
        const char* source;
        unsigned width;
        const char* expected;
    };
    const Case cases[] = {
        {"abcdefghij", 6, "..ghij"}, {"abcdef", 6, "..cdef"}, {"abc", 5, "..abc"},
        {"ab", 6, "..ab"},           {"abcdefghij", 2, ".."}, {"abcdefghij", 1, "."},
        {"abcdefghij", 0, ""},
    };
    for (const Case& c : cases) {
        Destination destination;
        ShortenTail(destination.bytes, c.source, c.width,
                    static_cast<unsigned>(std::strlen(c.source)));
        EXPECT_STREQ(destination.bytes, c.expected) << '"' << c.source << "\" " << c.width;
        EXPECT_TRUE(destination.UntouchedFrom(c.width + 1)) << c.width;
    }
}

TEST(TextUtilitiesTest, ShortenPath) {
    struct Case {
        const char* source;
        unsigned width;
        const char* expected;
    };
    const Case cases[] = {
        {kToolPath, 20, "D:\\..\\bin\\tool.exe"},
        {kToolPath, 18, "D:\\..\\bin\\tool.exe"},
        // No room for the backslash after the drive.
        {kToolPath, 17, "D:..\\bin\\tool.exe"},
        {kToolPath, 16, "D:\\..\\tool.exe"},
        {kToolPath, 13, "D:..\\tool.exe"},
        // No backslash far enough along for a tail.
        {kToolPath, 12, "..n\\tool.exe"},
        {kToolPath, 3, "..e"},
        {kToolPath, 41, kToolPath},
        {kToolPath, 60, kToolPath},
        {"", 5, ""},
        {"usr\\local\\share\\doc\\readme.txt", 20, "usr\\..\\readme.txt"},
        {"\\Program Files\\Vendor\\tool.exe", 15, "\\..\\tool.exe"},
        {"abcdefghijklmnop", 8, "..klmnop"},
        {"C:/Program Files/Vendor/tool.exe", 12, "..r/tool.exe"},
        // The search start lies beyond the end; no backslash after the start.
        {"abcdefghijklmnopqrstuvwxyz\\x", 10, "..uvwxyz\\x"},
        {"C:\\a\\bbbbbbbbbbbbbbbbbbbb", 10, "..bbbbbbbb"},
        {kToolPath, 2, ".."},
        {kToolPath, 1, "."},
        {kToolPath, 0, ""},
    };
    for (const Case& c : cases) {
        Destination destination;
        const unsigned length = ShortenPath(destination.bytes, c.source, c.width);
        EXPECT_STREQ(destination.bytes, c.expected) << c.source << ' ' << c.width;
        EXPECT_EQ(length, std::strlen(c.expected)) << c.source << ' ' << c.width;
        EXPECT_TRUE(destination.UntouchedFrom(c.width + 1)) << c.source << ' ' << c.width;
    }
}

TEST(TextUtilitiesTest, ShortenPathPadded) {
    struct Case {
        const char* source;
        unsigned width;
        const char* expected;
    };
    const Case cases[] = {
        {"abc", 6, "abc   "},
        {"abc", 3, "abc"},
        {"", 3, "   "},
        {kToolPath, 20, "D:\\..\\bin\\tool.exe  "},
        {kToolPath, 17, "D:\\..\\tool.exe   "},
        {kToolPath, 16, "D:\\..\\tool.exe  "},
        // ShortenPath still finds a tail here; this search starts one further.
        {kToolPath, 13, "..in\\tool.exe"},
        // A tail that would leave no blank is not taken.
        {kToolPath, 14, "..bin\\tool.exe"},
        {"usr\\local\\share\\doc\\readme.txt", 20, "usr\\..\\readme.txt   "},
        {"abcdefghijklmnop", 8, "..klmnop"},
        {"abcdefghijklmnopqrstuvwxyz\\x", 10, "..uvwxyz\\x"},
        {kToolPath, 1, "."},
        {kToolPath, 0, ""},
    };
    for (const Case& c : cases) {
        Destination destination;
        EXPECT_EQ(ShortenPathPadded(destination.bytes, c.source, c.width), c.width);
        EXPECT_STREQ(destination.bytes, c.expected) << c.source << ' ' << c.width;
        EXPECT_TRUE(destination.UntouchedFrom(c.width + 1)) << c.source << ' ' << c.width;
    }
}

}  // namespace
}  // namespace varnox::test
