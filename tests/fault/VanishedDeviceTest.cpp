// A module that vanishes in the middle of a session, once in the middle of
// an exchange (the simulator hangs up instead of replying) and once between
// two calls (the far side of the pseudo-terminal is closed): every module
// function fails with its own code and trace entries, nothing hangs, and
// the slot can still be closed and used again. Then the same for the test
// program on a terminal, which must stay responsive and idle.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/PortTable.h"
#include "device/VARNOX.h"
#include "simulator/DeviceDirectory.h"
#include "simulator/SimulatorCore.h"
#include "tests/fault/ChildProgram.h"
#include "tests/fault/FaultSupport.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/TraceText.h"

namespace varnox::test {
namespace {

constexpr std::uint16_t kSlot = 2;
constexpr unsigned kCom = 3;
constexpr long long kHangMs = 2000;  // no call on a vanished device may take this long
constexpr std::uint16_t kUntouched = 0xBEEF;
constexpr std::uint32_t kUntouchedNumber = 0xDEADBEEF;

enum class Vanish { kModemHangsUp, kFarSideClosed };

void PrintTo(Vanish vanish, std::ostream* out) {
    *out << (vanish == Vanish::kModemHangsUp ? "hang-up instead of a reply" : "far side closed");
}

std::string VanishName(const ::testing::TestParamInfo<Vanish>& param) {
    return param.param == Vanish::kModemHangsUp ? "ModuleHangsUpInsteadOfReplying"
                                                : "FarSideClosedBetweenCalls";
}

// What a call hands back besides its result code.
struct Outputs {
    std::uint16_t state = kUntouched;
    std::uint32_t number = kUntouchedNumber;
    char text[300];
    std::uint16_t value = 0;  // the value functions' result

    Outputs() { std::memset(text, 'x', sizeof text); }
    bool TextUntouched() const {
        for (char c : text) {
            if (c != 'x') return false;
        }
        return true;
    }
};

std::vector<std::string> SendFailure(const char* letterCode) {
    return {"COMPort::Write-char: Cannot write the port",
            std::string("WriteCommand: Error sending command ") + letterCode};
}

class VanishedDevice : public ::testing::TestWithParam<Vanish> {
protected:
    VanishedDevice() { ResetLibrary(); }
    ~VanishedDevice() override { ResetLibrary(); }

    void SetUp() override {
        if (GetParam() == Vanish::kModemHangsUp) {
            core_ = std::make_unique<sim::SimulatorCore>();
            core_->Start();
            ports_ = std::make_unique<sim::DeviceDirectory>(kCom, core_->SlavePath());
            deviceDir_ = std::make_unique<ScopedDeviceDir>(ports_->Path());
        } else {
            pty_ = std::make_unique<PseudoTerminal>(kCom);
        }
        ASSERT_EQ(VARNOX_OPENDEBUGFILE(tracePath_.c_str(), kSlot), VARNOX_OK);
        ASSERT_EQ(VARNOX_OPEN(kCom, kSlot), VARNOX_OK) << VARNOX_IO_ERRORMESSAGE(kSlot);
        NewTraceMessages();
    }

    void TearDown() override {
        ResetLibrary();
        deviceDir_.reset();
        ports_.reset();
        core_.reset();
        pty_.reset();
    }

    // The trace messages written since the last call.
    std::vector<std::string> NewTraceMessages() {
        std::FILE* stream = device::PortTable(kSlot).DebugStream;
        if (stream != nullptr) std::fflush(stream);
        const std::vector<std::string> all = TraceMessages(ReadFile(tracePath_));
        std::vector<std::string> fresh(all.begin() + static_cast<long>(seen_), all.end());
        seen_ = all.size();
        return fresh;
    }

    TempDir dir_;
    const std::string tracePath_ = dir_.File("trace.txt");
    std::size_t seen_ = 0;
    std::unique_ptr<sim::SimulatorCore> core_;
    std::unique_ptr<sim::DeviceDirectory> ports_;
    std::unique_ptr<ScopedDeviceDir> deviceDir_;
    std::unique_ptr<PseudoTerminal> pty_;
};

TEST_P(VanishedDevice, EveryCallFailsWithItsCodeAndTheSlotCanBeClosed) {
    // A working exchange first, so the failures below are the vanishing's.
    if (GetParam() == Vanish::kModemHangsUp) {
        std::uint16_t state = kUntouched;
        ASSERT_EQ(VARNOX_GETINPUT(&state, kSlot), VARNOX_OK);
        NewTraceMessages();

        // The module takes the query and hangs up: the wait for the reply
        // letter ends with a failed read, not with a time-out.
        core_->SetFault(sim::FaultMode::kCloseLine);
        state = kUntouched;
        const auto start = Clock::now();
        EXPECT_EQ(VARNOX_GETINPUT(&state, kSlot), VARNOX_ERROR_RECEIVE);
        EXPECT_LT(MsSince(start), kHangMs);
        EXPECT_EQ(state, kUntouched);
        EXPECT_EQ(VARNOX_STATE(kSlot), VARNOX_ERROR_RECEIVE);
        EXPECT_EQ(VARNOX_IO_STATE(kSlot), 7);
        EXPECT_EQ(NewTraceMessages(),
                  (std::vector<std::string>{"COMPort::Read-char: Cannot read the port",
                                            "ReadCommand: Error receiving command \\0x3F='?'"}));
        ASSERT_TRUE(core_->WaitUntil([](const sim::CoreStatus& s) { return !s.lineOpen; },
                                     std::chrono::seconds(5)));
    } else {
        pty_->CloseMaster();
    }

    struct DeviceCall {
        const char* name;
        std::function<std::int32_t(Outputs&)> run;
        std::int32_t code;
        std::optional<std::int32_t> ioState;  // empty: the call leaves it as it was
        std::vector<std::string> trace;
        bool valueFunction;  // returns VARNOX_NO_VALUE on failure
    };
    const DeviceCall calls[] = {
        {"GETINPUT", [](Outputs& o) { return VARNOX_GETINPUT(&o.state, kSlot); }, VARNOX_ERROR_SEND,
         8, SendFailure("\\0x69='i'"), false},
        {"GETOUTPUT", [](Outputs& o) { return VARNOX_GETOUTPUT(&o.state, kSlot); },
         VARNOX_ERROR_SEND, 8, SendFailure("\\0x4F='O'"), false},
        {"SETOUTPUT", [](Outputs&) { return VARNOX_SETOUTPUT(5, kSlot); }, VARNOX_ERROR_SEND, 8,
         SendFailure("\\0x4F='O'"), false},
        {"AUTOINPUT", [](Outputs&) { return VARNOX_AUTOINPUT(kSlot); }, VARNOX_ERROR_SEND, 8,
         SendFailure("\\0x49='I'"), false},
        {"FW_VER", [](Outputs& o) { return VARNOX_FW_VER(&o.state, kSlot); }, VARNOX_ERROR_SEND, 8,
         SendFailure("\\0x56='V'"), false},
        {"FW_DATE", [](Outputs& o) { return VARNOX_FW_DATE(o.text, kSlot); }, VARNOX_ERROR_SEND, 8,
         SendFailure("\\0x44='D'"), false},
        {"PROD_ID", [](Outputs& o) { return VARNOX_PROD_ID(o.text, kSlot); }, VARNOX_ERROR_SEND, 8,
         SendFailure("\\0x50='P'"), false},
        {"PROD_NO", [](Outputs& o) { return VARNOX_PROD_NO(&o.number, kSlot); }, VARNOX_ERROR_SEND,
         8, SendFailure("\\0x4E='N'"), false},
        {"RETINPUT",
         [](Outputs& o) {
             o.value = VARNOX_RETINPUT(kSlot);
             return VARNOX_STATE(kSlot);
         },
         VARNOX_ERROR_SEND, 8, SendFailure("\\0x69='i'"), true},
        {"RETOUTPUT",
         [](Outputs& o) {
             o.value = VARNOX_RETOUTPUT(kSlot);
             return VARNOX_STATE(kSlot);
         },
         VARNOX_ERROR_SEND, 8, SendFailure("\\0x4F='O'"), true},
        // The poll for a report finds a dead line, which is "nothing came".
        {"CHECKINPUT",
         [](Outputs& o) { return VARNOX_CHECKINPUT(&o.state, kSlot); },
         VARNOX_NO_DATA,
         std::nullopt,
         {"COMPort::DataAvailable: Cannot read the port"},
         false},
        {"RETINPUTDATA",
         [](Outputs& o) {
             o.value = VARNOX_RETINPUTDATA(kSlot);
             return VARNOX_STATE(kSlot);
         },
         VARNOX_NO_DATA,
         std::nullopt,
         {"COMPort::DataAvailable: Cannot read the port"},
         true},
        {"PURGE",
         [](Outputs&) { return VARNOX_PURGE(kSlot); },
         VARNOX_ERROR_PURGE,
         6,
         {"COMPort::Purge: Cannot purge the port", "VARNOX_Purge: Error purging the port"},
         false},
    };
    // Twice: the first failure must not change how the next ones go.
    for (int round = 0; round < 2; ++round) {
        for (const DeviceCall& call : calls) {
            SCOPED_TRACE(std::string(call.name) + " in round " + std::to_string(round));
            Outputs out;
            const auto start = Clock::now();
            EXPECT_EQ(call.run(out), call.code);
            EXPECT_LT(MsSince(start), kHangMs);
            EXPECT_EQ(VARNOX_STATE(kSlot), call.code);
            if (call.ioState) {
                EXPECT_EQ(VARNOX_IO_STATE(kSlot), *call.ioState);
            }
            EXPECT_EQ(NewTraceMessages(), call.trace);
            // Outputs are written only on success.
            EXPECT_EQ(out.state, kUntouched);
            EXPECT_EQ(out.number, kUntouchedNumber);
            EXPECT_TRUE(out.TextUntouched());
            if (call.valueFunction) {
                EXPECT_EQ(out.value, VARNOX_NO_VALUE);
            }
        }
    }

    // A vanished device can be closed, and the slot then serves a new one.
    EXPECT_EQ(VARNOX_CLOSE(kSlot), VARNOX_OK) << VARNOX_IO_ERRORMESSAGE(kSlot);
    EXPECT_EQ(NewTraceMessages(),
              (std::vector<std::string>{"COMPort::Close: Port has been closed"}));
    EXPECT_EQ(VARNOX_CLOSE(kSlot), VARNOX_ERROR_CLOSE);
    EXPECT_EQ(VARNOX_IO_STATE(kSlot), 1);

    PseudoTerminal replacement(kCom + 1);
    ASSERT_EQ(VARNOX_OPEN(kCom + 1, kSlot), VARNOX_OK) << VARNOX_IO_ERRORMESSAGE(kSlot);
    ASSERT_TRUE(replacement.WriteFromMaster("I1C\r"));
    std::uint16_t state = kUntouched;
    EXPECT_EQ(VARNOX_GETINPUT(&state, kSlot), VARNOX_OK);
    EXPECT_EQ(state, 0x1C);
    EXPECT_EQ(replacement.ReadFromMaster(2, 2000), "i\r");
    EXPECT_EQ(VARNOX_CLOSE(kSlot), VARNOX_OK);
}

INSTANTIATE_TEST_SUITE_P(Fault, VanishedDevice,
                         ::testing::Values(Vanish::kModemHangsUp, Vanish::kFarSideClosed),
                         VanishName);

// ---------------------------------------------------------------------------
// VARNOX-Test on a terminal while its module vanishes.

const char kHelpLastLine[] = "      'Esc' to stop, '?' for this help...\n";
const char kEndNormal[] = "Communication port closed\nProgram finished\n";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(VanishedDeviceProgram, KeepsServingKeysAtLowCpuAndEndsOnEsc) {
    sim::SimulatorCore core;
    core.Start();
    const sim::DeviceDirectory ports(1, core.SlavePath());
    TempDir dir;
    RunSetup setup;
    setup.argv = {VARNOX_TEST_PROGRAM, "1"};
    setup.workingDirectory = dir.Path();
    setup.environment["VARNOX_DEVICE_DIR"] = ports.Path();

    TerminalRun run(setup);
    ASSERT_TRUE(run.WaitFor("Press '?' for help\n", 10000)) << run.Output();
    run.Send("i");
    ASSERT_TRUE(run.WaitFor("Input state: 0 (00h)\n", 5000)) << run.Output();

    core.SetFault(sim::FaultMode::kCloseLine);
    run.Send("i");
    EXPECT_TRUE(
        run.WaitFor("Error at VARNOX_GetInput: Error receiving command, I/O Error "
                    "Message: Error reading data from the port\n",
                    5000))
        << run.Output();
    ASSERT_TRUE(core.WaitUntil([](const sim::CoreStatus& s) { return !s.lineOpen; },
                               std::chrono::seconds(5)));
    run.Send("v");
    EXPECT_TRUE(
        run.WaitFor("Error at VARNOX_FW_Ver: Error sending command, I/O Error "
                    "Message: Error writing data to the port\n",
                    5000))
        << run.Output();
    run.Send("z");
    EXPECT_TRUE(
        run.WaitFor("Error at VARNOX_Purge: Error purging the port, I/O Error "
                    "Message: Cannot clear the port\n",
                    5000))
        << run.Output();

    // Idle with the device gone: the key loop polls a dead line, which
    // must cost next to nothing (no spinning on the hang-up).
    const double cpuBefore = ProcessCpuSeconds(run.Pid());
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the measuring interval
    const double cpuAfter = ProcessCpuSeconds(run.Pid());
    const double wallSeconds = static_cast<double>(MsSince(start)) / 1000.0;
    ASSERT_GE(cpuBefore, 0.0);
    ASSERT_GE(cpuAfter, 0.0);
    EXPECT_LT((cpuAfter - cpuBefore) / wallSeconds, 0.05)
        << "CPU " << cpuAfter - cpuBefore << " s in " << wallSeconds << " s";

    run.Send("?");
    EXPECT_TRUE(run.WaitFor(kHelpLastLine, 5000)) << run.Output();
    run.Send("\x1b");
    EXPECT_EQ(run.Wait(10000), 0);
    const std::string output = run.Output();
    EXPECT_TRUE(EndsWith(output, kEndNormal)) << output;
    EXPECT_EQ(output.find("Error closing"), std::string::npos) << output;
}

}  // namespace
}  // namespace varnox::test
