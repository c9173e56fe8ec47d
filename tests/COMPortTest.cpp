// COMPort against the scriptable fake layer: configuration, control lines,
// status, purge, close, error texts and the trace entries of every path.
#include <gtest/gtest.h>

#include <cstring>

#include "serial/COMPort.h"
#include "tests/support/FakeSerialLayer.h"
#include "tests/support/TraceText.h"

namespace varnox::test {
namespace {

using serial::Escape;
using Messages = std::vector<std::string>;

class COMPortTest : public ::testing::Test {
protected:
    COMPortTest() : scoped_(fake_) { port_.DebugStream = trace_.Stream(); }
    ~COMPortTest() override { port_.DebugStream = nullptr; }

    std::vector<Escape> Escapes() const {
        std::vector<Escape> escapes;
        for (const Call& call : fake_.Calls()) {
            if (call.op == Op::kEscape) escapes.push_back(call.escape);
        }
        return escapes;
    }

    void OpenPort() {
        ASSERT_TRUE(port_.Open(3));
        fake_.ClearCalls();
    }

    FakeSerialLayer fake_;
    ScopedLayer scoped_;
    TraceCapture trace_;
    COMPort port_;
};

TEST_F(COMPortTest, ConstructedClosed) {
    COMPort fresh;
    EXPECT_EQ(fresh.DebugStream, nullptr);
    EXPECT_EQ(fresh.PortHandle, serial::kInvalidHandle);
    EXPECT_EQ(fresh.ErrorState, 1);
    EXPECT_EQ(fresh.BufferedCount, 0u);
    EXPECT_STREQ(fresh.ErrorMessage(), "Port has not been opened yet");
}

TEST_F(COMPortTest, OpenConfiguresTheLineInOrder) {
    fake_.reported.binary = false;  // a field Open does not set must survive
    fake_.reported.native[0] = 0x5A;
    fake_.reported.native[127] = 0xA5;
    port_.BufferedCount = 7;

    ASSERT_TRUE(port_.Open(3));

    EXPECT_EQ(port_.ErrorState, 0);
    EXPECT_EQ(port_.BufferedCount, 0u);
    EXPECT_NE(port_.PortHandle, serial::kInvalidHandle);
    EXPECT_EQ(fake_.Ops(),
              (std::vector<Op>{Op::kOpen, Op::kGetState, Op::kSetState, Op::kSetTimeouts,
                               Op::kPurge, Op::kEscape, Op::kEscape}));
    EXPECT_EQ(fake_.Calls()[0].text, "\\\\.\\COM3");
    EXPECT_EQ(Escapes(), (std::vector<Escape>{Escape::kClearRts, Escape::kSetDtr}));

    const serial::Timeouts& t = fake_.Calls()[3].timeouts;
    EXPECT_EQ(t.readInterval, 100u);
    EXPECT_EQ(t.readTotalMultiplier, 100u);
    EXPECT_EQ(t.readTotalConstant, 100u);
    EXPECT_EQ(t.writeTotalMultiplier, 0u);
    EXPECT_EQ(t.writeTotalConstant, 0u);

    ASSERT_TRUE(fake_.applied.has_value());
    const serial::LineSettings& s = *fake_.applied;
    EXPECT_EQ(s.baudRate, 9600u);
    EXPECT_EQ(s.dataBits, 8);
    EXPECT_EQ(s.parity, serial::Parity::kEven);
    EXPECT_EQ(s.stopBits, serial::StopBits::kOne);
    EXPECT_TRUE(s.parityCheck);
    EXPECT_FALSE(s.ctsOutFlow);
    EXPECT_FALSE(s.dsrOutFlow);
    EXPECT_EQ(s.dtrControl, serial::LineControl::kDisable);
    EXPECT_EQ(s.rtsControl, serial::LineControl::kDisable);
    EXPECT_FALSE(s.dsrSensitivity);
    EXPECT_TRUE(s.txContinueOnXoff);
    EXPECT_FALSE(s.xonXoffOut);
    EXPECT_FALSE(s.xonXoffIn);
    EXPECT_FALSE(s.replaceParityErrors);
    EXPECT_FALSE(s.discardNul);
    EXPECT_FALSE(s.abortOnError);
    EXPECT_EQ(s.eventChar, 13);
    EXPECT_FALSE(s.binary);
    EXPECT_EQ(s.native[0], 0x5A);
    EXPECT_EQ(s.native[127], 0xA5);

    EXPECT_EQ(trace_.Messages(), Messages{"COMPort::Open: Port \\\\.\\COM3 has been opened"});
}

TEST_F(COMPortTest, OpenFormsTheNameForAnyNumber) {
    ASSERT_TRUE(port_.Open(65535));
    EXPECT_EQ(fake_.Calls()[0].text, "\\\\.\\COM65535");
    fake_.ClearCalls();
    COMPort other;
    ASSERT_TRUE(other.Open(0));
    EXPECT_EQ(fake_.Calls()[0].text, "\\\\.\\COM0");
}

struct OpenFailure {
    const char* name;
    Op op;
    int nth;  // which call of op fails
    std::int32_t errorState;
    Messages trace;  // after the "has been opened" entry, when held
    bool held;
};

const char kOpened[] = "COMPort::Open: Port \\\\.\\COM3 has been opened";

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const OpenFailure& c, std::ostream* os) {
    *os << c.name;
}

class COMPortOpenFailure : public COMPortTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(COMPortOpenFailure, ReportsTheStepAndKeepsTheDevice) {
    const OpenFailure& c = GetParam();
    fake_.FailNext(c.op, c.nth);

    EXPECT_FALSE(port_.Open(3));
    EXPECT_EQ(port_.ErrorState, c.errorState);
    Messages expected = c.trace;
    if (c.held) expected.insert(expected.begin(), kOpened);
    EXPECT_EQ(trace_.Messages(), expected);
    EXPECT_EQ(port_.PortHandle != serial::kInvalidHandle, c.held);

    // A held device blocks the next Open until Close releases it.
    if (c.held) {
        EXPECT_FALSE(port_.Open(3));
        EXPECT_EQ(port_.ErrorState, 2);
        EXPECT_EQ(trace_.Messages().back(), "COMPort::Open: The port is already open");
        EXPECT_TRUE(port_.Close());
    }
    fake_.ClearFailures();
    EXPECT_TRUE(port_.Open(3));
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, COMPortOpenFailure,
    ::testing::Values(
        OpenFailure{
            "Device", Op::kOpen, 1, 2, {"COMPort::Open: Cannot open the port \\\\.\\COM3"}, false},
        OpenFailure{
            "GetState", Op::kGetState, 1, 3, {"COMPort::Open: Cannot get the port state"}, true},
        OpenFailure{
            "SetState", Op::kSetState, 1, 4, {"COMPort::Open: Cannot set the port state"}, true},
        OpenFailure{"Timeouts",
                    Op::kSetTimeouts,
                    1,
                    5,
                    {"COMPort::SetCommTimeout: Cannot set the port timing",
                     "COMPort::Open: Cannot set the port timing"},
                    true},
        OpenFailure{
            "Purge",
            Op::kPurge,
            1,
            6,
            {"COMPort::Purge: Cannot purge the port", "COMPort::Open: Cannot purge the port"},
            true},
        OpenFailure{"Rts",
                    Op::kEscape,
                    1,
                    10,
                    {"COMPort::Control: Error setting the control lines of the port",
                     "COMPort::Open: Error setting the control lines of the port"},
                    true},
        OpenFailure{"Dtr",
                    Op::kEscape,
                    2,
                    10,
                    {"COMPort::Control: Error setting the control lines of the port",
                     "COMPort::Open: Error setting the control lines of the port"},
                    true}),
    [](const ::testing::TestParamInfo<OpenFailure>& param) { return param.param.name; });

TEST_F(COMPortTest, SecondOpenLeavesTheHeldDeviceUntouched) {
    OpenPort();
    EXPECT_FALSE(port_.Open(4));
    EXPECT_EQ(port_.ErrorState, 2);
    EXPECT_TRUE(fake_.Calls().empty());
    EXPECT_TRUE(port_.Write('x'));
    EXPECT_EQ(trace_.Messages().back(), "COMPort::Open: The port is already open");
}

TEST_F(COMPortTest, CloseLowersRtsThenDtrAndReleases) {
    OpenPort();
    EXPECT_TRUE(port_.Close());
    EXPECT_EQ(port_.ErrorState, 0);
    EXPECT_STREQ(port_.ErrorMessage(), "No error");
    EXPECT_EQ(port_.PortHandle, serial::kInvalidHandle);
    EXPECT_EQ(fake_.Ops(), (std::vector<Op>{Op::kEscape, Op::kEscape, Op::kClose}));
    EXPECT_EQ(Escapes(), (std::vector<Escape>{Escape::kClearRts, Escape::kClearDtr}));
    EXPECT_EQ(trace_.Messages().back(), "COMPort::Close: Port has been closed");
}

TEST_F(COMPortTest, CloseWithoutDeviceFails) {
    EXPECT_FALSE(port_.Close());
    EXPECT_EQ(port_.ErrorState, 1);
    EXPECT_TRUE(fake_.Calls().empty());
    EXPECT_EQ(trace_.Messages(), Messages{"COMPort::Close: Port handle is invalid"});
}

TEST_F(COMPortTest, RefusedReleaseStillGivesUpTheHandle) {
    OpenPort();
    fake_.FailNext(Op::kClose);
    EXPECT_FALSE(port_.Close());
    EXPECT_EQ(port_.ErrorState, 0);
    EXPECT_EQ(port_.PortHandle, serial::kInvalidHandle);
    EXPECT_EQ(trace_.Messages().back(), "COMPort::Close: Cannot close the port");
    EXPECT_TRUE(port_.Open(3));
}

TEST_F(COMPortTest, CloseKeepsTheDeviceWhenTheLinesStay) {
    OpenPort();
    fake_.FailEscape(Escape::kClearDtr);
    EXPECT_FALSE(port_.Close());
    EXPECT_EQ(port_.ErrorState, 10);
    EXPECT_NE(port_.PortHandle, serial::kInvalidHandle);
    EXPECT_EQ(fake_.Ops(), (std::vector<Op>{Op::kEscape, Op::kEscape}));
    EXPECT_EQ(trace_.Messages().back(),
              "COMPort::Control: Error setting the control lines of the port");
    EXPECT_TRUE(port_.Close());
}

TEST_F(COMPortTest, CloseLeavesTheReadAheadAlone) {
    OpenPort();
    fake_.QueueRead("abc");
    ASSERT_TRUE(port_.DataAvailable());
    ASSERT_TRUE(port_.Close());
    EXPECT_EQ(port_.BufferedCount, 3u);
    // Held bytes are still handed out on the closed object.
    char c = 0;
    EXPECT_TRUE(port_.Read(c));
    EXPECT_EQ(c, 'a');
}

TEST_F(COMPortTest, DestructionCloses) {
    TraceCapture trace;
    {
        COMPort never;
        never.DebugStream = trace.Stream();
    }
    EXPECT_EQ(trace.Messages(), Messages{"COMPort::Close: Port handle is invalid"});

    TraceCapture openTrace;
    {
        COMPort open;
        ASSERT_TRUE(open.Open(5));
        open.DebugStream = openTrace.Stream();
    }
    EXPECT_EQ(openTrace.Messages(), Messages{"COMPort::Close: Port has been closed"});
    EXPECT_FALSE(fake_.Held("\\\\.\\COM5"));
}

TEST_F(COMPortTest, PurgeEmptiesTheReadAheadEitherWay) {
    port_.BufferedCount = 5;
    EXPECT_FALSE(port_.Purge());
    EXPECT_EQ(port_.ErrorState, 6);
    EXPECT_EQ(port_.BufferedCount, 0u);
    EXPECT_EQ(trace_.Messages(), Messages{"COMPort::Purge: Cannot purge the port"});

    OpenPort();
    fake_.QueueRead("xyz");
    ASSERT_TRUE(port_.DataAvailable());
    fake_.QueueRead("more");
    EXPECT_TRUE(port_.Purge());
    EXPECT_EQ(port_.ErrorState, 0);
    EXPECT_EQ(port_.BufferedCount, 0u);
    EXPECT_TRUE(fake_.Pending().empty());
}

struct ControlCase {
    bool dtr;
    bool rts;
    Escape first;
    Escape second;
};

TEST_F(COMPortTest, ControlSetsRtsBeforeDtr) {
    OpenPort();
    const ControlCase cases[] = {
        {true, true, Escape::kSetRts, Escape::kSetDtr},
        {true, false, Escape::kClearRts, Escape::kSetDtr},
        {false, true, Escape::kSetRts, Escape::kClearDtr},
        {false, false, Escape::kClearRts, Escape::kClearDtr},
    };
    for (const ControlCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "dtr=" << c.dtr << " rts=" << c.rts);
        fake_.ClearCalls();
        port_.ErrorState = 7;
        EXPECT_TRUE(port_.Control(c.dtr, c.rts));
        EXPECT_EQ(port_.ErrorState, 0);
        EXPECT_EQ(Escapes(), (std::vector<Escape>{c.first, c.second}));
    }
}

TEST_F(COMPortTest, ControlStopsWhenRtsFails) {
    OpenPort();
    fake_.FailEscape(Escape::kSetRts);
    EXPECT_FALSE(port_.Control(true, true));
    EXPECT_EQ(port_.ErrorState, 10);
    EXPECT_EQ(Escapes(), std::vector<Escape>{Escape::kSetRts});
    EXPECT_EQ(trace_.Messages().back(),
              "COMPort::Control: Error setting the control lines of the port");

    fake_.FailEscape(Escape::kSetDtr);
    EXPECT_FALSE(port_.Control(true, true));
    EXPECT_EQ(port_.ErrorState, 10);
}

TEST_F(COMPortTest, StatusDecodesEachLine) {
    OpenPort();
    struct {
        std::uint32_t bits;
        bool cts, dsr, ri, dcd;
    } const cases[] = {
        {0x00, false, false, false, false}, {0x10, true, false, false, false},
        {0x20, false, true, false, false},  {0x40, false, false, true, false},
        {0x80, false, false, false, true},  {0xFF, true, true, true, true},
        {0x0F, false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "bits=" << c.bits);
        fake_.SetModemBits(c.bits);
        bool cts = !c.cts, dsr = !c.dsr, ri = !c.ri, dcd = !c.dcd;
        port_.ErrorState = 7;
        ASSERT_TRUE(port_.Status(cts, dsr, ri, dcd));
        EXPECT_EQ(port_.ErrorState, 0);
        EXPECT_EQ(cts, c.cts);
        EXPECT_EQ(dsr, c.dsr);
        EXPECT_EQ(ri, c.ri);
        EXPECT_EQ(dcd, c.dcd);
    }
}

TEST_F(COMPortTest, FailedStatusWritesNoOutput) {
    bool cts = true, dsr = false, ri = true, dcd = false;
    EXPECT_FALSE(port_.Status(cts, dsr, ri, dcd));
    EXPECT_EQ(port_.ErrorState, 11);
    EXPECT_TRUE(cts);
    EXPECT_FALSE(dsr);
    EXPECT_TRUE(ri);
    EXPECT_FALSE(dcd);
    EXPECT_EQ(trace_.Messages(),
              Messages{"COMPort::Status: Error reading the status lines of the port"});
}

TEST_F(COMPortTest, TimeoutMethodsTraceButKeepErrorState) {
    port_.ErrorState = 4;
    EXPECT_FALSE(port_.SetCommTimeout());
    EXPECT_FALSE(port_.ResetCommTimeout());
    EXPECT_EQ(port_.ErrorState, 4);
    EXPECT_EQ(trace_.Messages(),
              (Messages{"COMPort::SetCommTimeout: Cannot set the port timing",
                        "COMPort::ResetCommTimeout: Cannot set the port timing"}));

    OpenPort();
    EXPECT_TRUE(port_.ResetCommTimeout());
    const serial::Timeouts& t = fake_.Calls().back().timeouts;
    EXPECT_EQ(t.readInterval, serial::Timeouts::kNoWait);
    EXPECT_EQ(t.readTotalMultiplier, 0u);
    EXPECT_EQ(t.readTotalConstant, 0u);
}

TEST_F(COMPortTest, ErrorMessageTexts) {
    const char* const expected[] = {
        "No error",
        "Port has not been opened yet",
        "Cannot open the port",
        "Cannot get the state of the port",
        "Cannot set the state of the port",
        "Cannot set the timeouts for the port",
        "Cannot clear the port",
        "Error reading data from the port",
        "Error writing data to the port",
        "Wrong data amount written to the port",
        "Error setting the control lines of the port",
        "Error reading the status lines of the port",
    };
    for (std::int32_t value = 0; value < 12; ++value) {
        port_.ErrorState = value;
        EXPECT_STREQ(port_.ErrorMessage(), expected[value]) << value;
    }
    for (std::int32_t outside : {12, -1, 1000, INT32_MIN}) {
        port_.ErrorState = outside;
        EXPECT_STREQ(port_.ErrorMessage(), "Unknown error") << outside;
    }
}

TEST_F(COMPortTest, NothingIsWrittenWithoutATrace) {
    port_.DebugStream = nullptr;
    EXPECT_FALSE(port_.Close());
    EXPECT_FALSE(port_.Purge());
    port_.WriteDebugTime();
    EXPECT_TRUE(trace_.Text().empty());
}

}  // namespace
}  // namespace varnox::test
