// ParseUnsigned on the Windows C run time. It hands strtoul's result on, and
// there the run time's own overflow rule shows: a magnitude beyond 32 bits
// saturates to ULONG_MAX, and a minus sign then negates that saturated value
// (-4294967296 gives 1), where a C-standard strtoul returns ULONG_MAX. The
// shared table (TextUtilitiesTest.ParseUnsigned) expects the standard rule
// for those inputs, so scripts/windows-test leaves it out and this table
// holds the Windows values of its overflow rows.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

#include "testprog/TextUtilities.h"

namespace varnox::testprog {
namespace {

TEST(WindowsTextUtilities, ParseUnsignedKeepsTheRuntimeOverflowRule) {
    struct Case {
        const char* text;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"4294967295", 4294967295U},
        {"4294967296", 4294967295U},
        {"18446744073709551617", 4294967295U},
        {"100000001h", 4294967295U},
        {"-1", 4294967295U},
        {" -1Fh", 4294967265U},
        {"-4294967295", 1},
        // The run time's rule: saturated, then negated.
        {"-4294967296", 1},
        {"-18446744073709551615", 1},
        {"-18446744073709551617", 1},
        {"-100000000h", 1},
    };
    for (const Case& c : cases) {
        std::uint32_t value = 12345;
        errno = EDOM;
        EXPECT_EQ(ParseUnsigned(c.text, &value), 0) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
        EXPECT_EQ(errno, EDOM) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace varnox::testprog
