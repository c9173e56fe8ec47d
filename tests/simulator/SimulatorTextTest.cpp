// The simulator's text handling on its own: log escaping, numbers typed by
// a person, the identity texts it accepts, fault names and frame cutting.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simulator/EscapeText.h"
#include "simulator/FaultModes.h"
#include "simulator/FirmwareIdentity.h"
#include "simulator/FrameParser.h"
#include "simulator/NumberText.h"

namespace varnox::sim {
namespace {

TEST(SimulatorEscape, ShowsEveryByteReadably) {
    struct Case {
        std::string bytes;
        std::string shown;
    };
    const Case cases[] = {
        {"i\r", "i\\r"},
        {std::string("\x00\x7F\x80\xFF", 4), "\\x00\\x7F\\x80\\xFF"},
        {"a\\b", "a\\\\b"},
        {"\n\t\x1B", "\\n\\t\\x1B"},
        {"PI/O module ~", "PI/O module ~"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EscapeBytes(c.bytes), c.shown) << c.shown;
    }
}

TEST(SimulatorNumbers, ReadsDecimalAndBothHexForms) {
    struct Case {
        const char* text;
        std::uint32_t max;
        std::optional<std::uint32_t> value;
    };
    const Case cases[] = {
        {"31", 31, 31},
        {"0", 31, 0},
        {"1fh", 31, 31},
        {"1FH", 31, 31},
        {"0x1f", 31, 31},
        {"0X1F", 31, 31},
        {"32", 31, {}},
        {"20h", 31, {}},
        {"", 31, {}},
        {"0x", 31, {}},
        {"h", 31, {}},
        {"-1", 31, {}},
        {" 5", 31, {}},
        {"5 ", 31, {}},
        {"1f", 31, {}},
        {"12a", 1000, {}},
        {"4294967295", 0xFFFFFFFFu, 0xFFFFFFFFu},
        {"4294967296", 0xFFFFFFFFu, {}},
        {"99999999999999999999", 0xFFFFFFFFu, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseNumber(c.text, c.max), c.value) << '"' << c.text << '"';
    }
    // Option values: hexadecimal without a marker, decimal without one.
    EXPECT_EQ(ParseHex("011E", 0xFFFF), 0x011Eu);
    EXPECT_EQ(ParseHex("0x011e", 0xFFFF), 0x011Eu);
    EXPECT_EQ(ParseHex("10000", 0xFFFF), std::nullopt);
    EXPECT_EQ(ParseDecimal("1fh", 65535), std::nullopt);
    EXPECT_EQ(ParseDecimal("0x10", 65535), std::nullopt);
}

TEST(SimulatorIdentity, AcceptsOnlyTextsTheModuleCanSend) {
    EXPECT_EQ(DateProblem("Sep 05 2017"), "");
    EXPECT_NE(DateProblem("Sep 5 2017"), "");
    EXPECT_NE(DateProblem("Sep 05 20170"), "");
    EXPECT_NE(DateProblem("Sep 05\r2017"), "");
    EXPECT_EQ(IdProblem(""), "");
    EXPECT_EQ(IdProblem(std::string(kMaxIdLength, '~')), "");
    EXPECT_NE(IdProblem(std::string(kMaxIdLength + 1, 'a')), "");
    EXPECT_NE(IdProblem("line\rbreak"), "");
    EXPECT_NE(IdProblem("caf\xC3\xA9"), "");
}

TEST(SimulatorFaultNames, EveryModeIsFoundByItsName) {
    for (const FaultInfo& f : kFaultModes) {
        EXPECT_EQ(FaultFromName(f.name), f.mode) << f.name;
        EXPECT_STREQ(FaultName(f.mode), f.name);
    }
    EXPECT_EQ(FaultFromName("None"), std::nullopt);
    EXPECT_EQ(FaultFromName(""), std::nullopt);
}

TEST(SimulatorFrameParser, KeepsPartsOfAFrameAcrossReads) {
    FrameParser parser;
    EXPECT_TRUE(parser.Feed("O0").empty());
    const std::vector<ReceivedFrame> frames = parser.Feed("5\ri\rV");
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].bytes, "O05");
    EXPECT_EQ(frames[1].bytes, "i");
    const std::vector<ReceivedFrame> last = parser.Feed("\r");
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0].bytes, "V");
}

TEST(SimulatorFrameParser, CutsAnOverlongFrameAndRecoversAtItsEnd) {
    FrameParser parser;
    const std::vector<ReceivedFrame> frames =
        parser.Feed(std::string(FrameParser::kMaxFrameLength + 50, 'x') + "\ri\r");
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(frames[0].overlong);
    EXPECT_EQ(frames[0].bytes.size(), FrameParser::kMaxFrameLength);
    EXPECT_FALSE(frames[1].overlong);
    EXPECT_EQ(frames[1].bytes, "i");
}

}  // namespace
}  // namespace varnox::sim
