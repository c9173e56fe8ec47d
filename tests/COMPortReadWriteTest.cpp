// COMPort's read-ahead, reads and writes against the fake layer.
#include <gtest/gtest.h>

#include <cstring>

#include "serial/COMPort.h"
#include "tests/support/FakeSerialLayer.h"
#include "tests/support/TraceText.h"

namespace varnox::test {
namespace {

using Messages = std::vector<std::string>;

class ReadWriteTest : public ::testing::Test {
protected:
    ReadWriteTest() : scoped_(fake_) {
        EXPECT_TRUE(port_.Open(1));
        port_.DebugStream = trace_.Stream();
        fake_.ClearCalls();
    }
    ~ReadWriteTest() override { port_.DebugStream = nullptr; }

    // Puts `bytes` into the read-ahead the way the library does: by a poll.
    void Hold(const std::string& bytes) {
        fake_.QueueRead(bytes);
        ASSERT_TRUE(port_.DataAvailable());
        ASSERT_EQ(port_.BufferedCount, bytes.size());
        fake_.ClearCalls();
    }

    std::string Held() const { return std::string(port_.ReceiveBuffer, port_.BufferedCount); }

    FakeSerialLayer fake_;
    ScopedLayer scoped_;
    TraceCapture trace_;
    COMPort port_;
};

TEST_F(ReadWriteTest, PollFetchesEverythingWithoutWaiting) {
    fake_.QueueRead("I07\r");
    port_.ErrorState = 9;
    EXPECT_TRUE(port_.DataAvailable());
    EXPECT_EQ(Held(), "I07\r");
    EXPECT_EQ(port_.ErrorState, 9);
    // No-wait set, one read of the whole buffer, waiting set back.
    ASSERT_EQ(fake_.Ops(), (std::vector<Op>{Op::kSetTimeouts, Op::kRead, Op::kSetTimeouts}));
    EXPECT_EQ(fake_.Calls()[0].timeouts.readInterval, serial::Timeouts::kNoWait);
    EXPECT_EQ(fake_.Calls()[1].count, 4096u);
    EXPECT_EQ(fake_.Calls()[2].timeouts.readInterval, 100u);
}

TEST_F(ReadWriteTest, PollWithBytesHeldTouchesNothing) {
    Hold("ab");
    port_.ErrorState = 8;
    EXPECT_TRUE(port_.DataAvailable());
    EXPECT_TRUE(fake_.Calls().empty());
    EXPECT_EQ(port_.ErrorState, 8);
}

TEST_F(ReadWriteTest, EmptyPollLeavesErrorStateAndTheWaitingSet) {
    port_.ErrorState = 0;
    EXPECT_FALSE(port_.DataAvailable());
    EXPECT_EQ(port_.ErrorState, 0);
    EXPECT_EQ(fake_.Calls().back().op, Op::kSetTimeouts);
    EXPECT_EQ(fake_.Calls().back().timeouts.readInterval, 100u);
    EXPECT_TRUE(trace_.Messages().empty());
}

TEST_F(ReadWriteTest, FailedPollTracesAndHoldsNothing) {
    fake_.QueueRead("zz");
    fake_.FailNext(Op::kRead);
    port_.ErrorState = 0;
    EXPECT_FALSE(port_.DataAvailable());
    EXPECT_EQ(port_.BufferedCount, 0u);
    EXPECT_EQ(port_.ErrorState, 0);
    EXPECT_EQ(trace_.Messages(), Messages{"COMPort::DataAvailable: Cannot read the port"});
}

TEST_F(ReadWriteTest, ReadCharServesHeldBytesThenTheDevice) {
    Hold("12345");
    for (char expected : std::string("12345")) {
        char c = 0;
        ASSERT_TRUE(port_.Read(c));
        EXPECT_EQ(c, expected);
    }
    EXPECT_TRUE(fake_.Calls().empty());
    fake_.QueueRead("6");
    char c = 0;
    ASSERT_TRUE(port_.Read(c));
    EXPECT_EQ(c, '6');
    ASSERT_EQ(fake_.Ops(), std::vector<Op>{Op::kRead});
    EXPECT_EQ(fake_.Calls()[0].count, 1u);
}

TEST_F(ReadWriteTest, ReadCharFailures) {
    struct {
        bool deviceFails;
        const char* message;
    } const cases[] = {
        {false, "COMPort::Read-char: Less than 1 byte read from the port"},
        {true, "COMPort::Read-char: Cannot read the port"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        if (c.deviceFails) fake_.FailNext(Op::kRead);
        char out = 'q';
        EXPECT_FALSE(port_.Read(out));
        EXPECT_EQ(out, 'q');
        EXPECT_EQ(port_.ErrorState, 7);
        EXPECT_EQ(port_.BufferedCount, 0u);
        EXPECT_EQ(trace_.Messages().back(), c.message);
    }
}

struct ArrayCase {
    const char* name;
    std::string held;    // in the read-ahead before the call
    std::string device;  // queued at the device
    unsigned long wanted;
    std::string delivered;
    std::string heldAfter;
    std::vector<std::uint32_t> deviceReads;  // sizes asked of the device
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ArrayCase& c, std::ostream* os) {
    *os << c.name;
}

class ReadArray : public ReadWriteTest, public ::testing::WithParamInterface<ArrayCase> {};

TEST_P(ReadArray, ServesHeldBytesFirstAndReadsOnlyWhatIsStillWanted) {
    const ArrayCase& c = GetParam();
    if (!c.held.empty()) Hold(c.held);
    fake_.QueueRead(c.device);
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    unsigned long count = c.wanted;

    ASSERT_TRUE(port_.Read(buffer, count));
    EXPECT_EQ(port_.ErrorState, 0);
    EXPECT_EQ(count, c.delivered.size());
    EXPECT_EQ(std::string(buffer, count), c.delivered);
    EXPECT_EQ(buffer[count], '\0');
    EXPECT_EQ(Held(), c.heldAfter);
    std::vector<std::uint32_t> reads;
    for (const Call& call : fake_.Calls()) reads.push_back(call.count);
    EXPECT_EQ(reads, c.deviceReads);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadArray,
    ::testing::Values(ArrayCase{"ZeroWanted", "", "abc", 0, "", "", {}},
                      ArrayCase{"ZeroWantedWithHeld", "ab", "", 0, "", "ab", {}},
                      ArrayCase{"FewerThanHeld", "abcde", "", 3, "abc", "de", {}},
                      ArrayCase{"ExactlyHeld", "abc", "xyz", 3, "abc", "", {}},
                      ArrayCase{"MoreThanHeld", "a", "bcdef", 3, "abc", "", {2}},
                      ArrayCase{"MoreThanHeldShortDevice", "a", "b", 3, "ab", "", {2}},
                      ArrayCase{"NothingHeld", "", "abcdef", 4, "abcd", "", {4}},
                      ArrayCase{"NothingComes", "", "", 3, "", "", {3}},
                      ArrayCase{"NulAndHighBytes",
                                "",
                                std::string("\0\xff\r\n", 4),
                                4,
                                std::string("\0\xff\r\n", 4),
                                "",
                                {4}}),
    [](const ::testing::TestParamInfo<ArrayCase>& param) { return param.param.name; });

TEST_F(ReadWriteTest, ReadArrayFailsOnlyWithNothingHeld) {
    fake_.FailNext(Op::kRead);
    char buffer[8] = "unset";
    unsigned long count = 3;
    EXPECT_FALSE(port_.Read(buffer, count));
    EXPECT_EQ(count, 0u);
    EXPECT_STREQ(buffer, "unset");
    EXPECT_EQ(port_.ErrorState, 7);
    EXPECT_EQ(trace_.Messages(), Messages{"COMPort::Read-array: Cannot read the port"});

    Hold("a");
    fake_.FailNext(Op::kRead);
    count = 3;
    EXPECT_TRUE(port_.Read(buffer, count));
    EXPECT_EQ(count, 1u);
    EXPECT_STREQ(buffer, "a");
    EXPECT_EQ(port_.ErrorState, 0);
    EXPECT_EQ(port_.BufferedCount, 0u);
    EXPECT_EQ(trace_.Messages().size(), 1u);
}

TEST_F(ReadWriteTest, ReadArrayAboveTheBufferIsServedAsAFullBuffer) {
    static char buffer[8193];
    fake_.QueueRead(std::string(5000, 'z'));
    unsigned long count = 8192;
    ASSERT_TRUE(port_.Read(buffer, count));
    EXPECT_EQ(count, 4096u);
    EXPECT_EQ(fake_.Calls().back().count, 4096u);
    EXPECT_EQ(buffer[4096], '\0');
    EXPECT_EQ(port_.BufferedCount, 0u);
}

TEST_F(ReadWriteTest, WritesSendAndReportFailures) {
    EXPECT_TRUE(port_.Write('i'));
    EXPECT_TRUE(port_.Write("1F", 2));
    EXPECT_TRUE(port_.Write("", 0));
    EXPECT_EQ(fake_.Written(), "i1F");
    EXPECT_EQ(port_.ErrorState, 0);
    EXPECT_TRUE(trace_.Messages().empty());

    struct {
        const char* name;
        bool fail;
        std::uint32_t shortCount;
        bool array;
        std::int32_t errorState;
        const char* message;
    } const cases[] = {
        {"char fails", true, 0, false, 8, "COMPort::Write-char: Cannot write the port"},
        {"char short", false, 0, false, 9,
         "COMPort::Write-char: 0 bytes instead of 1 written to the port"},
        {"array fails", true, 0, true, 8, "COMPort::Write-array: Cannot write the port"},
        {"array short", false, 3, true, 9,
         "COMPort::Write-array: 3 bytes instead of 5 written to the port"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.fail)
            fake_.FailNext(Op::kWrite);
        else
            fake_.ShortWriteNext(c.shortCount);
        EXPECT_FALSE(c.array ? port_.Write("hello", 5) : port_.Write('x'));
        EXPECT_EQ(port_.ErrorState, c.errorState);
        EXPECT_EQ(trace_.Messages().back(), c.message);
    }
}

TEST_F(ReadWriteTest, WritesLeaveTheReadAheadAlone) {
    Hold("keep");
    EXPECT_TRUE(port_.Write('x'));
    EXPECT_TRUE(port_.Write("yz", 2));
    EXPECT_EQ(Held(), "keep");
}

TEST_F(ReadWriteTest, ClosedObjectFailsEveryDeviceAccess) {
    ASSERT_TRUE(port_.Close());
    fake_.ClearCalls();
    EXPECT_FALSE(port_.DataAvailable());
    char c;
    EXPECT_FALSE(port_.Read(c));
    EXPECT_EQ(port_.ErrorState, 7);
    EXPECT_FALSE(port_.Write('x'));
    EXPECT_EQ(port_.ErrorState, 8);
    EXPECT_EQ(trace_.Messages(), (Messages{"COMPort::Close: Port has been closed",
                                           "COMPort::ResetCommTimeout: Cannot set the port timing",
                                           "COMPort::DataAvailable: Cannot read the port",
                                           "COMPort::SetCommTimeout: Cannot set the port timing",
                                           "COMPort::Read-char: Cannot read the port",
                                           "COMPort::Write-char: Cannot write the port"}));
}

}  // namespace
}  // namespace varnox::test
