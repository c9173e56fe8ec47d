// The simulated module as a raw termios client sees it: the reply to every
// command byte for byte, the output state, automatic input reports, frames
// that get no answer, the line check, pacing, and stopping.
//
// "No answer" is shown by a query sent right after: its reply must be the
// very next bytes on the line.
#include <termios.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "simulator/EscapeText.h"
#include "simulator/FirmwareIdentity.h"
#include "tests/simulator/CoreFixture.h"
#include "tests/support/Elapsed.h"

namespace varnox::test {
namespace {

using sim::CoreStatus;

using SimulatorWire = CoreTest;

TEST_F(SimulatorWire, AnswersEveryQueryExactly) {
    Start();
    struct Case {
        const char* command;
        const char* reply;
    };
    const Case cases[] = {
        {"i\r", "I15\r"},
        {"O\r", "O00\r"},
        {"V\r", "V001E\r"},
        {"D\r", "DJan 31 2024\r"},
        {"P\r", "PTest module 7\r"},
        {"N\r", "N0000ABCD\r"},
        {"i\r", "I15\r"},  // the last one shows nothing came after the others
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        ASSERT_TRUE(client_->Send(c.command));
        EXPECT_EQ(client_->Receive(std::string(c.reply).size()), c.reply);
    }
    EXPECT_EQ(CountLog("<< "), std::size(cases));
    EXPECT_NE(Log().find(">> DJan 31 2024\\r"), std::string::npos) << Log();
}

TEST_F(SimulatorWire, SetOutputStateIsWhatTheQueryReturns) {
    Start();
    struct Case {
        const char* frame;
        unsigned value;
        const char* reply;
    };
    const Case cases[] = {{"O1F\r", 31, "O1F\r"}, {"O0a\r", 10, "O0A\r"}, {"O00\r", 0, "O00\r"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame);
        ASSERT_TRUE(client_->Send(c.frame));
        ASSERT_TRUE(client_->Send("O\r"));
        EXPECT_EQ(client_->Receive(4), c.reply);
        EXPECT_EQ(core_->Status().outputs, c.value);
    }
}

TEST_F(SimulatorWire, UnknownAndMalformedFramesGetNoAnswerAndChangeNothing) {
    Start();
    ASSERT_TRUE(client_->Send("O07\r"));
    const std::string frames[] = {
        "O20",
        "O1",
        "O123",
        "OZZ",
        "O 1",
        "O1G",
        "i5",
        "V1",
        "NN",
        "DD",
        "PP",
        "I1",  // not automatic input: the frame is malformed
        "o07",
        "X",
        "",
        std::string(1, '\0'),
        std::string(100, 'i'),
    };
    for (const std::string& frame : frames) {
        SCOPED_TRACE(sim::EscapeBytes(frame));
        ASSERT_TRUE(client_->Send(frame + "\r"));
        ASSERT_TRUE(client_->Send("O\r"));
        EXPECT_EQ(client_->Receive(4), "O07\r");
    }
    const CoreStatus s = core_->Status();
    EXPECT_EQ(s.outputs, 7);
    EXPECT_FALSE(s.autoInput);
    EXPECT_EQ(CountLog("   no answer: "), std::size(frames)) << Log();
}

TEST_F(SimulatorWire, AutomaticInputReportsEveryChangeOnly) {
    Start();
    ASSERT_TRUE(core_->SetInputs(4));  // automatic input is still off: no report
    ASSERT_TRUE(client_->Send("O\r"));
    EXPECT_EQ(client_->Receive(4), "O00\r");

    ASSERT_TRUE(client_->Send("I\r"));
    ASSERT_TRUE(core_->WaitForFrames(2, kWait));
    ASSERT_TRUE(core_->Status().autoInput);
    ASSERT_TRUE(core_->SetInputs(0x11));
    EXPECT_EQ(client_->Receive(4), "I11\r");
    ASSERT_TRUE(core_->SetInputs(0x11));  // no change: no report
    ASSERT_TRUE(core_->SetInputs(3));
    EXPECT_EQ(client_->Receive(4), "I03\r");
    EXPECT_FALSE(core_->SetInputs(32));
    ASSERT_TRUE(client_->Send("i\r"));
    EXPECT_EQ(client_->Receive(4), "I03\r");
    EXPECT_EQ(core_->Status().reports, 2u);
}

TEST_F(SimulatorWire, LoopbackInputsFollowTheOutputs) {
    sim::CoreOptions options = TestOptions();
    options.loopback = true;
    Start(options);
    ASSERT_TRUE(client_->Send("I\r"));
    ASSERT_TRUE(client_->Send("O09\r"));
    EXPECT_EQ(client_->Receive(4), "I09\r");
    ASSERT_TRUE(client_->Send("i\r"));
    EXPECT_EQ(client_->Receive(4), "I09\r");
    ASSERT_TRUE(client_->Send("O09\r"));  // the same state again: no report
    ASSERT_TRUE(client_->Send("O\r"));
    EXPECT_EQ(client_->Receive(4), "O09\r");
}

TEST_F(SimulatorWire, CounterCountsUpAndWrapsAround) {
    constexpr int kIntervalMs = 20;
    sim::CoreOptions options = TestOptions();
    options.counterMs = kIntervalMs;
    options.inputs = 0;
    Start(options);
    ASSERT_TRUE(client_->Send("I\r"));
    int previous = -1;
    int steps = 0;
    bool wrapped = false;
    Clock::time_point firstReport;
    // The wrap from 31 to 0 comes within 32 steps whatever the first report.
    for (int i = 0; i < 34 && !wrapped; ++i) {
        const std::string report = client_->Receive(4);
        ASSERT_EQ(report.size(), 4u) << "report " << i;
        ASSERT_EQ(report[0], 'I');
        ASSERT_EQ(report[3], '\r');
        const int value = std::stoi(report.substr(1, 2), nullptr, 16);
        if (previous < 0) {
            firstReport = Clock::now();
        } else {
            ASSERT_EQ(value, (previous + 1) % 32) << report;
            wrapped = value == 0;
            ++steps;
        }
        previous = value;
    }
    EXPECT_TRUE(wrapped);
    // Half the nominal time at least: generous for a busy machine, yet far
    // above what a counter that ignores its interval would take.
    EXPECT_GE(MsSince(firstReport), steps * kIntervalMs / 2) << steps << " steps";
}

TEST_F(SimulatorWire, PacedRepliesTakeTheLineTime) {
    sim::CoreOptions options = TestOptions();
    options.pace = true;
    options.identity.id = std::string(sim::kMaxIdLength, 'x');
    Start(options);
    const std::string reply = "P" + options.identity.id + "\r";
    const auto start = Clock::now();
    ASSERT_TRUE(client_->Send("P\r"));
    EXPECT_EQ(client_->Receive(reply.size()), reply);
    // 258 bytes at 1.146 ms are 296 ms; unpaced they take well under 50 ms.
    EXPECT_GE(MsSince(start), 230);
}

TEST_F(SimulatorWire, StopEndsAnOutputTheClientDoesNotRead) {
    sim::CoreOptions options = TestOptions();
    options.identity.id = std::string(sim::kMaxIdLength, 'x');
    Start(options);
    std::string queries;
    for (int i = 0; i < 1000; ++i) queries += "P\r";  // far more than the pty holds
    ASSERT_TRUE(client_->Send(queries));
    ASSERT_TRUE(core_->WaitForFrames(20, kWait));
    const auto start = Clock::now();
    core_->Stop();
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_FALSE(core_->Status().running);
    EXPECT_TRUE(client_->SeesHangUp(kReplyTimeoutMs));
}

// The line check: a client that did not set the module's line gets nothing,
// and the reason is logged once, not per frame.
struct LineCase {
    const char* name;
    void (*change)(termios&);  // nullptr: the slave is left as opened (cooked)
    const char* reason;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class SimulatorLineCheck : public CoreTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(SimulatorLineCheck, WrongLineGetsNoAnswerUntilItIsSet) {
    const LineCase& c = GetParam();
    Start(TestOptions(), false);
    if (c.change != nullptr) {
        ASSERT_TRUE(client_->SetModemLine());
        ASSERT_TRUE(client_->Change(c.change));
    }
    ASSERT_TRUE(client_->Send("O\r"));
    ASSERT_TRUE(client_->Send("O\r"));
    ASSERT_TRUE(core_->WaitForFrames(2, kWait));
    EXPECT_NE(core_->Status().lineProblem.find(c.reason), std::string::npos)
        << core_->Status().lineProblem;
    EXPECT_EQ(CountLog("   line: "), 1u) << Log();

    ASSERT_TRUE(client_->SetModemLine());
    ASSERT_TRUE(client_->Send("i\r"));
    EXPECT_EQ(client_->Receive(4), "I15\r");
    EXPECT_EQ(core_->Status().lineProblem, "");
    EXPECT_EQ(CountLog("   line: "), 2u) << Log();
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SimulatorLineCheck,
    ::testing::Values(
        LineCase{"LeftCooked", nullptr, "ICANON set"},
        LineCase{"Speed19200", [](termios& settings) { ::cfsetspeed(&settings, B19200); },
                 "19200 baud"},
        LineCase{"Speed1200", [](termios& settings) { ::cfsetspeed(&settings, B1200); },
                 "1200 baud"},
        LineCase{"TwoStopBits", [](termios& settings) { settings.c_cflag |= CSTOPB; },
                 "two stop bits"},
        LineCase{"CrToLf", [](termios& settings) { settings.c_iflag |= ICRNL; }, "ICRNL"},
        LineCase{"OutputProcessing", [](termios& settings) { settings.c_oflag |= OPOST; }, "OPOST"},
        LineCase{"Echo", [](termios& settings) { settings.c_lflag |= ECHO; }, "ECHO"},
        LineCase{"Signals", [](termios& settings) { settings.c_lflag |= ISIG; }, "ISIG"}),
    [](const ::testing::TestParamInfo<LineCase>& testInfo) { return testInfo.param.name; });

}  // namespace
}  // namespace varnox::test
