// What each fault mode puts on the wire, seen by a raw termios client.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "simulator/EscapeText.h"
#include "simulator/FaultModes.h"
#include "tests/simulator/CoreFixture.h"

namespace varnox::test {
namespace {

using Clock = std::chrono::steady_clock;
using sim::FaultMode;

struct FaultCase {
    FaultMode mode;
    std::optional<std::string> wire;  // nothing: random bytes, checked by their kind
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << sim::FaultName(c.mode);
}

class SimulatorFaultWire : public CoreTest, public ::testing::WithParamInterface<FaultCase> {};

// The reply to 'i' with inputs 15h is "I15\r"; after the fault is cleared,
// the next reply must follow the faulty one at once.
TEST_P(SimulatorFaultWire, ShapesTheReply) {
    const FaultCase& c = GetParam();
    Start();
    core_->SetFault(c.mode);
    ASSERT_TRUE(client_->Send("i\r"));
    ASSERT_TRUE(core_->WaitForFrames(1, kWait));
    core_->SetFault(FaultMode::kNone);
    ASSERT_TRUE(client_->Send("i\r"));
    if (c.wire) {
        EXPECT_EQ(sim::EscapeBytes(client_->Receive(c.wire->size() + 4)),
                  sim::EscapeBytes(*c.wire + "I15\r"));
    } else {
        const std::string received = client_->Receive(8);
        ASSERT_EQ(received.size(), 8u) << sim::EscapeBytes(received);
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_FALSE(sim::IsProtocolByte(static_cast<unsigned char>(received[i])))
                << sim::EscapeBytes(received);
        }
        EXPECT_EQ(received.substr(4), "I15\r");
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, SimulatorFaultWire,
                         ::testing::Values(FaultCase{FaultMode::kWrongLetter, std::string("O15\r")},
                                           FaultCase{FaultMode::kShortReply, std::string("I")},
                                           FaultCase{FaultMode::kSilence, std::string()},
                                           FaultCase{FaultMode::kExtraBytes,
                                                     "I15\r" + std::string(sim::kExtraBytes)},
                                           FaultCase{FaultMode::kSplitReply, std::string("I15\r")},
                                           FaultCase{FaultMode::kGarbage, std::nullopt}),
                         [](const ::testing::TestParamInfo<FaultCase>& testInfo) {
                             std::string name;
                             bool upper = true;
                             for (const char ch :
                                  std::string(sim::FaultName(testInfo.param.mode))) {
                                 if (ch == '-') {
                                     upper = true;
                                 } else {
                                     name.push_back(upper ? static_cast<char>(ch - 'a' + 'A') : ch);
                                     upper = false;
                                 }
                             }
                             return name;
                         });

using SimulatorFault = CoreTest;

TEST_F(SimulatorFault, SplitReplyPausesLongerThanTheInterByteTimeout) {
    Start();
    core_->SetFault(FaultMode::kSplitReply);
    ASSERT_TRUE(client_->Send("D\r"));
    ASSERT_EQ(client_->Receive(7), "DJan 31");
    const auto firstPart = Clock::now();
    ASSERT_EQ(client_->Receive(6), " 2024\r");
    const auto pause =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - firstPart).count();
    EXPECT_GE(pause, sim::kSplitPauseMs - 50);  // the library gives up after 100 ms
}

TEST_F(SimulatorFault, ShortReplyKeepsLessThanHalfTheText) {
    Start();
    core_->SetFault(FaultMode::kShortReply);
    ASSERT_TRUE(client_->Send("N\r"));
    ASSERT_TRUE(core_->WaitForFrames(1, kWait));
    core_->SetFault(FaultMode::kNone);
    ASSERT_TRUE(client_->Send("V\r"));
    EXPECT_EQ(client_->Receive(10), "N000V001E\r");
}

TEST_F(SimulatorFault, AutomaticInputReportsAreShapedToo) {
    Start();
    ASSERT_TRUE(client_->Send("I\r"));
    ASSERT_TRUE(core_->WaitForFrames(1, kWait));
    core_->SetFault(FaultMode::kWrongLetter);
    ASSERT_TRUE(core_->SetInputs(3));
    EXPECT_EQ(client_->Receive(4), "O03\r");
}

TEST_F(SimulatorFault, CloseLineHangsUpInsteadOfReplying) {
    Start();
    core_->SetFault(FaultMode::kCloseLine);
    ASSERT_TRUE(client_->Send("i\r"));
    EXPECT_TRUE(client_->SeesHangUp(kReplyTimeoutMs));
    EXPECT_TRUE(core_->WaitUntil([](const sim::CoreStatus& s) { return !s.lineOpen; }, kWait));
    EXPECT_EQ(client_->Receive(1, 0), "");
    EXPECT_TRUE(core_->SetInputs(7));  // harmless once the line is gone
    EXPECT_NE(Log().find("line closed"), std::string::npos) << Log();
}

}  // namespace
}  // namespace varnox::test
