// Inputs the fuzz targets in fuzz/ found to break an invariant, kept as
// ordinary cases so the fault cannot come back unnoticed.
#include <gtest/gtest.h>

#include <cstring>

#include "testprog/TextUtilities.h"

namespace varnox::test {
namespace {

using testprog::FormatDuration;

// fuzz_text_utilities: a format without a point and with an e or g
// conversion had no 'f' to start the widened tail at, so the whole format
// became the tail. The built "%u:%02%e" holds the undefined conversion
// "%02%", and the seconds went missing: "%e" with 65.5 gave "1:%e".
// The widened tail now starts at the conversion's own letter.
TEST(FuzzFindingsTest, FormatDurationWidensEAndGConversionsWithoutPoint) {
    struct Case {
        const char* format;
        double seconds;
        const char* expected;
    };
    const Case cases[] = {
        {"%e", 65.5, "1:5.500000e+00"},
        {"%e", 377216.5, "104:46:5.650000e+01"},
        {"%E", 65.5, "1:5.500000E+00"},
        {"%g", 65.5, "1:5.5"},
        {"%G", 3725.5, "1:02:5.5"},
        // Flags and a width only count below a minute.
        {"%+12e", 65.5, "1:5.500000e+00"},
        {"%+12e", 30.0, "+3.000000e+01"},
        // An 'f' in the suffix is not the conversion.
        {"%e of", 3725.5, "1:02:5.500000e+00 of"},
        // Nor is one in the text before it: "%u:%02ft %f" read a second double
        // that was never passed.
        {"left %f", 65.5, "1:5.500000"},
    };
    for (const Case& c : cases) {
        char destination[64];
        std::memset(destination, '#', sizeof destination);
        const int count = FormatDuration(destination, c.format, c.seconds);
        EXPECT_STREQ(destination, c.expected) << c.format << ' ' << c.seconds;
        EXPECT_EQ(count, static_cast<int>(std::strlen(c.expected))) << c.format;
    }
}

}  // namespace
}  // namespace varnox::test
