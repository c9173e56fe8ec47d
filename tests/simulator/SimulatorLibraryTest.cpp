// The real library (POSIX layer, COMPort, module functions) against the
// simulated module on COM1: round trips, automatic input, identity values,
// and the result codes each fault mode produces. Time bounds are generous:
// they tell "answered", "waited for a time-out" and "hung" apart, nothing finer.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "device/VARNOX.h"
#include "serial/posix/PosixSerialLayer.h"
#include "simulator/DeviceDirectory.h"
#include "simulator/FaultModes.h"
#include "simulator/SimulatorCore.h"
#include "tests/simulator/CoreFixture.h"
#include "tests/support/Elapsed.h"
#include "tests/support/LibraryFixture.h"

namespace varnox::test {
namespace {

using sim::FaultMode;

constexpr std::uint16_t kSlot = 0;
constexpr long long kHangMs = 3000;  // no call may take this long

class SimulatorLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLibrary();
        core_ = std::make_unique<sim::SimulatorCore>(Options());
        core_->Start();
        dir_ = std::make_unique<sim::DeviceDirectory>(1, core_->SlavePath());
        if (const char* previous = std::getenv(serial::kDeviceDirVariable)) previous_ = previous;
        ::setenv(serial::kDeviceDirVariable, dir_->Path().c_str(), 1);
        ASSERT_EQ(VARNOX_OPEN(1, kSlot), VARNOX_OK) << VARNOX_IO_ERRORMESSAGE(kSlot);
    }

    void TearDown() override {
        ResetLibrary();
        if (previous_) {
            ::setenv(serial::kDeviceDirVariable, previous_->c_str(), 1);
        } else {
            ::unsetenv(serial::kDeviceDirVariable);
        }
        dir_.reset();
        core_.reset();
    }

    virtual sim::CoreOptions Options() const { return TestOptions(); }

    std::uint16_t Input(std::int32_t expectedCode = VARNOX_OK) {
        std::uint16_t state = VARNOX_NO_VALUE;
        EXPECT_EQ(VARNOX_GETINPUT(&state, kSlot), expectedCode);
        return state;
    }

    // Waits until the module sent `reports` input reports, then collects one
    // with CHECKINPUT, which never waits: only the kernel's hand-over of the
    // bytes is left to poll for.
    std::int32_t CheckInputAfterReport(std::uint64_t reports, std::uint16_t& state) {
        EXPECT_TRUE(core_->WaitUntil(
            [reports](const sim::CoreStatus& s) { return s.reports >= reports; }, kWait));
        const auto start = Clock::now();
        std::int32_t result;
        while ((result = VARNOX_CHECKINPUT(&state, kSlot)) == VARNOX_NO_DATA &&
               MsSince(start) < kHangMs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return result;
    }

    std::unique_ptr<sim::SimulatorCore> core_;
    std::unique_ptr<sim::DeviceDirectory> dir_;
    std::optional<std::string> previous_;
};

TEST_F(SimulatorLibrary, StatesMakeTheRoundTrip) {
    for (const std::uint16_t value : {31, 10, 0}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(VARNOX_SETOUTPUT(value, kSlot), VARNOX_OK);
        std::uint16_t output = VARNOX_NO_VALUE;
        EXPECT_EQ(VARNOX_GETOUTPUT(&output, kSlot), VARNOX_OK);
        EXPECT_EQ(output, value);
        ASSERT_TRUE(core_->SetInputs(value));
        EXPECT_EQ(Input(), value);
        EXPECT_EQ(VARNOX_RETINPUT(kSlot), value);
        EXPECT_EQ(VARNOX_RETOUTPUT(kSlot), value);
    }
    EXPECT_EQ(core_->Status().outputs, 0);
}

TEST_F(SimulatorLibrary, IdentityValuesArriveAsSet) {
    std::uint16_t version = 0;
    EXPECT_EQ(VARNOX_FW_VER(&version, kSlot), VARNOX_OK);
    EXPECT_EQ(version, 0x001E);
    std::uint32_t product = 0;
    EXPECT_EQ(VARNOX_PROD_NO(&product, kSlot), VARNOX_OK);
    EXPECT_EQ(product, 0x0000ABCDu);
    // The library hands the texts over as read, the closing CR included.
    char date[13] = {};
    EXPECT_EQ(VARNOX_FW_DATE(date, kSlot), VARNOX_OK);
    EXPECT_STREQ(date, "Jan 31 2024\r");
    char id[257] = {};
    EXPECT_EQ(VARNOX_PROD_ID(id, kSlot), VARNOX_OK);
    EXPECT_STREQ(id, "Test module 7\r");
}

TEST_F(SimulatorLibrary, CheckInputReturnsAtOnceAndThenTheReport) {
    ASSERT_EQ(VARNOX_AUTOINPUT(kSlot), VARNOX_OK);
    ASSERT_TRUE(core_->WaitForFrames(1, kWait));
    ASSERT_TRUE(core_->Status().autoInput);
    std::uint16_t state = VARNOX_NO_VALUE;
    const auto start = Clock::now();
    EXPECT_EQ(VARNOX_CHECKINPUT(&state, kSlot), VARNOX_NO_DATA);
    EXPECT_LT(MsSince(start), 150);  // a waiting read would take 200 ms
    EXPECT_EQ(state, VARNOX_NO_VALUE);

    ASSERT_TRUE(core_->SetInputs(9));
    EXPECT_EQ(CheckInputAfterReport(1, state), VARNOX_OK);
    EXPECT_EQ(state, 9);
    EXPECT_EQ(VARNOX_CHECKINPUT(&state, kSlot), VARNOX_NO_DATA);
}

// Faults on 'i' whose reply the library consumes whole: the code, within
// bounds, and a clean exchange right after the fault is cleared.
struct FaultCode {
    FaultMode mode;
    std::int32_t code;
    long long atLeastMs;  // the time-out the library must have waited for
};

void PrintTo(const FaultCode& c, std::ostream* os) {
    *os << sim::FaultName(c.mode) << " -> " << c.code;
}

class SimulatorLibraryFault : public SimulatorLibrary,
                              public ::testing::WithParamInterface<FaultCode> {};

TEST_P(SimulatorLibraryFault, GivesTheCodeAndRecovers) {
    const FaultCode& c = GetParam();
    core_->SetFault(c.mode);
    const auto start = Clock::now();
    Input(c.code);
    const long long took = MsSince(start);
    EXPECT_GE(took, c.atLeastMs);
    EXPECT_LT(took, kHangMs);
    core_->SetFault(FaultMode::kNone);
    EXPECT_EQ(Input(), 0x15);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SimulatorLibraryFault,
    ::testing::Values(FaultCode{FaultMode::kWrongLetter, VARNOX_ERROR_WRONG_COMMAND, 0},
                      FaultCode{FaultMode::kGarbage, VARNOX_ERROR_WRONG_COMMAND, 0},
                      FaultCode{FaultMode::kShortReply, VARNOX_ERROR_WRONG_ARGUMENT, 250},
                      FaultCode{FaultMode::kSilence, VARNOX_ERROR_RECEIVE, 150}),
    [](const ::testing::TestParamInfo<FaultCode>& testInfo) {
        const std::string name = sim::FaultName(testInfo.param.mode);
        return name == "wrong-letter"  ? std::string("WrongLetter")
               : name == "short-reply" ? std::string("ShortReply")
               : name == "garbage"     ? std::string("Garbage")
                                       : std::string("Silence");
    });

TEST_F(SimulatorLibrary, ExtraBytesStartTheNextReply) {
    core_->SetFault(FaultMode::kExtraBytes);
    EXPECT_EQ(Input(), 0x15);
    core_->SetFault(FaultMode::kNone);
    Input(VARNOX_ERROR_WRONG_COMMAND);  // the extra "X1F\r" was read as the reply
    EXPECT_EQ(Input(), 0x15);
}

TEST_F(SimulatorLibrary, SplitReplyIsCutAtTheInterByteTimeout) {
    core_->SetFault(FaultMode::kSplitReply);  // "I1", 250 ms, "5\r"
    const auto start = Clock::now();
    EXPECT_EQ(Input(), 0x1);  // the first half passes for a whole reply
    EXPECT_LT(MsSince(start), sim::kSplitPauseMs);
    ASSERT_TRUE(
        core_->WaitUntil([](const sim::CoreStatus& s) { return s.transmissions >= 1; }, kWait));
    core_->SetFault(FaultMode::kNone);
    Input(VARNOX_ERROR_WRONG_COMMAND);  // the rest, "5\r", leads the next reply
}

TEST_F(SimulatorLibrary, ReportWithTheWrongLetterIsRefused) {
    ASSERT_EQ(VARNOX_AUTOINPUT(kSlot), VARNOX_OK);
    ASSERT_TRUE(core_->WaitForFrames(1, kWait));
    core_->SetFault(FaultMode::kWrongLetter);
    ASSERT_TRUE(core_->SetInputs(3));
    std::uint16_t state = VARNOX_NO_VALUE;
    EXPECT_EQ(CheckInputAfterReport(1, state), VARNOX_ERROR_WRONG_COMMAND);
    EXPECT_EQ(state, VARNOX_NO_VALUE);
}

// A slot of its own, so the vanished device never meets the other tests.
constexpr std::uint16_t kVanishingSlot = 7;

TEST_F(SimulatorLibrary, ClosedLineMakesEveryCallFailWithoutHanging) {
    ASSERT_EQ(VARNOX_CLOSE(kSlot), VARNOX_OK);
    ASSERT_EQ(VARNOX_OPEN(1, kVanishingSlot), VARNOX_OK) << VARNOX_IO_ERRORMESSAGE(kVanishingSlot);
    core_->SetFault(FaultMode::kCloseLine);
    struct Call {
        const char* name;
        std::int32_t (*run)();
        std::int32_t code;
    };
    const Call calls[] = {
        {"GETINPUT",
         [] {
             std::uint16_t s;
             return VARNOX_GETINPUT(&s, kVanishingSlot);
         },
         VARNOX_ERROR_RECEIVE},
        {"SETOUTPUT", [] { return VARNOX_SETOUTPUT(1, kVanishingSlot); }, VARNOX_ERROR_SEND},
        {"FW_VER",
         [] {
             std::uint16_t v;
             return VARNOX_FW_VER(&v, kVanishingSlot);
         },
         VARNOX_ERROR_SEND},
    };
    for (const Call& call : calls) {
        SCOPED_TRACE(call.name);
        const auto start = Clock::now();
        EXPECT_EQ(call.run(), call.code);
        EXPECT_LT(MsSince(start), kHangMs);
    }
    EXPECT_TRUE(core_->WaitUntil([](const sim::CoreStatus& s) { return !s.lineOpen; }, kWait));
    // The slot is released all the same.
    EXPECT_EQ(VARNOX_CLOSE(kVanishingSlot), VARNOX_OK);
}

}  // namespace
}  // namespace varnox::test
