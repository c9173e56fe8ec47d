// A trace file on a device that refuses every write (/dev/full) must not
// change anything the application sees: the same scripted session, with
// good replies, faulty ones and a vanishing module, gives exactly the same
// results, states, texts and values traced and untraced.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/VARNOX.h"
#include "simulator/DeviceDirectory.h"
#include "simulator/SimulatorCore.h"
#include "tests/fault/FaultSupport.h"

namespace varnox::test {
namespace {

constexpr std::uint16_t kSlot = 4;
constexpr unsigned kCom = 2;
using sim::FaultMode;

// Everything the application can see after one step.
struct Seen {
    std::int32_t result = 0;
    std::int32_t state = 0;
    std::int32_t ioState = 0;
    std::string message;
    std::string ioMessage;
    std::string value;

    bool operator==(const Seen& other) const {
        return result == other.result && state == other.state && ioState == other.ioState &&
               message == other.message && ioMessage == other.ioMessage && value == other.value;
    }
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
    return out << "{result " << seen.result << ", state " << seen.state << ", io " << seen.ioState
               << " '" << seen.message << "' '" << seen.ioMessage << "', value '" << seen.value
               << "'}";
}

Seen Look(std::int32_t result, const std::string& value = "") {
    return Seen{result,
                VARNOX_STATE(kSlot),
                VARNOX_IO_STATE(kSlot),
                VARNOX_ERRORMESSAGE(kSlot),
                VARNOX_IO_ERRORMESSAGE(kSlot),
                value};
}

Seen State(std::int32_t (*call)(std::uint16_t*, std::uint16_t)) {
    std::uint16_t state = 0xBEEF;
    const std::int32_t result = call(&state, kSlot);
    return Look(result, std::to_string(state));
}

Seen Text(std::int32_t (*call)(char*, std::uint16_t)) {
    char text[300] = "untouched";
    const std::int32_t result = call(text, kSlot);
    return Look(result, text);
}

Seen Number() {
    std::uint32_t number = 0xDEADBEEF;
    const std::int32_t result = VARNOX_PROD_NO(&number, kSlot);
    return Look(result, std::to_string(number));
}

Seen Value(std::uint16_t (*call)(std::uint16_t)) {
    const std::uint16_t value = call(kSlot);
    return Look(VARNOX_STATE(kSlot), std::to_string(value));
}

// A query whose reply (or faulty bytes) is sent in full before the step
// ends, so that what comes after does not depend on timing.
Seen Answered(sim::SimulatorCore& core, const std::function<Seen()>& query) {
    const std::uint64_t frames = core.Status().framesReceived;
    const Seen seen = query();
    EXPECT_TRUE(core.WaitForFrames(frames + 1, std::chrono::seconds(5)));
    return seen;
}

struct Step {
    const char* name;
    std::function<Seen(sim::SimulatorCore&)> run;
};

const std::vector<Step>& Script() {
    static const std::vector<Step> steps = {
        // Enough trace entries to fill the stream's buffer: every later
        // entry meets a stream whose writes have already failed.
        {"CLOSE unopened, 100 times",
         [](sim::SimulatorCore&) {
             std::int32_t result = 0;
             for (int i = 0; i < 100; ++i) result = VARNOX_CLOSE(kSlot);
             return Look(result);
         }},
        {"OPEN", [](sim::SimulatorCore&) { return Look(VARNOX_OPEN(kCom, kSlot)); }},
        {"PURGE", [](sim::SimulatorCore&) { return Look(VARNOX_PURGE(kSlot)); }},
        {"GETINPUT", [](sim::SimulatorCore&) { return State(VARNOX_GETINPUT); }},
        {"SETOUTPUT 19", [](sim::SimulatorCore&) { return Look(VARNOX_SETOUTPUT(19, kSlot)); }},
        {"GETOUTPUT", [](sim::SimulatorCore&) { return State(VARNOX_GETOUTPUT); }},
        {"FW_VER", [](sim::SimulatorCore&) { return State(VARNOX_FW_VER); }},
        {"FW_DATE", [](sim::SimulatorCore&) { return Text(VARNOX_FW_DATE); }},
        {"PROD_ID", [](sim::SimulatorCore&) { return Text(VARNOX_PROD_ID); }},
        {"PROD_NO", [](sim::SimulatorCore&) { return Number(); }},
        {"RETINPUT", [](sim::SimulatorCore&) { return Value(VARNOX_RETINPUT); }},
        {"RETOUTPUT", [](sim::SimulatorCore&) { return Value(VARNOX_RETOUTPUT); }},
        {"SETOUTPUT 32", [](sim::SimulatorCore&) { return Look(VARNOX_SETOUTPUT(32, kSlot)); }},
        {"CHECKINPUT nothing", [](sim::SimulatorCore&) { return State(VARNOX_CHECKINPUT); }},
        {"AUTOINPUT and a report",
         [](sim::SimulatorCore& core) {
             const Seen on = Look(VARNOX_AUTOINPUT(kSlot));
             EXPECT_TRUE(core.WaitUntil([](const sim::CoreStatus& s) { return s.autoInput; },
                                        std::chrono::seconds(5)));
             core.SetInputs(28);
             EXPECT_TRUE(core.WaitUntil([](const sim::CoreStatus& s) { return s.reports >= 1; },
                                        std::chrono::seconds(5)));
             std::uint16_t state = 0xBEEF;
             std::int32_t result = VARNOX_NO_DATA;
             const auto start = Clock::now();
             while ((result = VARNOX_CHECKINPUT(&state, kSlot)) == VARNOX_NO_DATA &&
                    MsSince(start) < 5000) {
                 std::this_thread::yield();
             }
             Seen report = Look(result, std::to_string(state));
             report.message = on.message + " / " + report.message;
             return report;
         }},
        {"RETINPUTDATA nothing", [](sim::SimulatorCore&) { return Value(VARNOX_RETINPUTDATA); }},
        {"GETINPUT wrong letter",
         [](sim::SimulatorCore& core) {
             core.SetFault(FaultMode::kWrongLetter);
             return Answered(core, [] { return State(VARNOX_GETINPUT); });
         }},
        {"FW_VER garbage",
         [](sim::SimulatorCore& core) {
             core.SetFault(FaultMode::kGarbage);
             return Answered(core, [] { return State(VARNOX_FW_VER); });
         }},
        {"PROD_NO short reply",
         [](sim::SimulatorCore& core) {
             core.SetFault(FaultMode::kShortReply);
             return Answered(core, Number);
         }},
        {"GETOUTPUT silence",
         [](sim::SimulatorCore& core) {
             core.SetFault(FaultMode::kSilence);
             return Answered(core, [] { return State(VARNOX_GETOUTPUT); });
         }},
        {"GETINPUT extra bytes",
         [](sim::SimulatorCore& core) {
             core.SetFault(FaultMode::kExtraBytes);
             return Answered(core, [] { return State(VARNOX_GETINPUT); });
         }},
        {"GETOUTPUT after extra bytes",
         [](sim::SimulatorCore& core) {
             core.SetFault(FaultMode::kNone);
             return Answered(core, [] { return State(VARNOX_GETOUTPUT); });
         }},
        {"PURGE the reply left over",
         [](sim::SimulatorCore&) { return Look(VARNOX_PURGE(kSlot)); }},
        {"GETOUTPUT clean", [](sim::SimulatorCore&) { return State(VARNOX_GETOUTPUT); }},
        {"GETINPUT hang-up",
         [](sim::SimulatorCore& core) {
             core.SetFault(FaultMode::kCloseLine);
             const Seen seen = State(VARNOX_GETINPUT);
             EXPECT_TRUE(core.WaitUntil([](const sim::CoreStatus& s) { return !s.lineOpen; },
                                        std::chrono::seconds(5)));
             return seen;
         }},
        {"FW_DATE vanished", [](sim::SimulatorCore&) { return Text(VARNOX_FW_DATE); }},
        {"CHECKINPUT vanished", [](sim::SimulatorCore&) { return State(VARNOX_CHECKINPUT); }},
        {"PURGE vanished", [](sim::SimulatorCore&) { return Look(VARNOX_PURGE(kSlot)); }},
        {"CLOSE", [](sim::SimulatorCore&) { return Look(VARNOX_CLOSE(kSlot)); }},
        {"CLOSE again", [](sim::SimulatorCore&) { return Look(VARNOX_CLOSE(kSlot)); }},
        {"GETINPUT closed", [](sim::SimulatorCore&) { return State(VARNOX_GETINPUT); }},
    };
    return steps;
}

// Runs the script against a fresh module; with `tracePath`, traced there.
std::vector<Seen> RunScript(const char* tracePath) {
    ResetLibrary();
    sim::CoreOptions options;
    options.inputs = 11;
    options.seed = 77;  // the same garbage both times
    sim::SimulatorCore core(options);
    core.Start();
    const sim::DeviceDirectory ports(kCom, core.SlavePath());
    const ScopedDeviceDir deviceDir(ports.Path());
    if (tracePath != nullptr) {
        EXPECT_EQ(VARNOX_OPENDEBUGFILE(tracePath, kSlot), VARNOX_OK);
    }
    std::vector<Seen> seen;
    for (const Step& step : Script()) {
        SCOPED_TRACE(step.name);
        seen.push_back(step.run(core));
    }
    // Closing the trace is the one call that may tell: its entries could
    // not be written.
    EXPECT_EQ(VARNOX_CLOSEDEBUGFILE(kSlot),
              tracePath != nullptr ? VARNOX_ERROR_DEBUGFILE_CLOSE : VARNOX_OK);
    ResetLibrary();
    return seen;
}

TEST(RefusedTrace, SessionSeesTheSameWithATraceThatCannotBeWritten) {
    const std::vector<Seen> untraced = RunScript(nullptr);
    const std::vector<Seen> traced = RunScript("/dev/full");
    const std::vector<Step>& steps = Script();
    ASSERT_EQ(untraced.size(), steps.size());
    ASSERT_EQ(traced.size(), steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(traced[i], untraced[i]) << steps[i].name;
    }
    // The script reaches the paths it is meant to: good replies, refused
    // ones, a silent module and a vanished one.
    const auto at = [&](const std::string& name) {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            if (steps[i].name == name) return untraced[i];
        }
        ADD_FAILURE() << "no step " << name;
        return Seen{};
    };
    EXPECT_EQ(at("CLOSE unopened, 100 times").result, VARNOX_ERROR_CLOSE);
    EXPECT_EQ(at("GETINPUT").value, "11");
    EXPECT_EQ(at("GETOUTPUT").value, "19");
    EXPECT_EQ(at("AUTOINPUT and a report").value, "28");
    EXPECT_EQ(at("GETINPUT wrong letter").result, VARNOX_ERROR_WRONG_COMMAND);
    EXPECT_EQ(at("GETOUTPUT silence").result, VARNOX_ERROR_RECEIVE);
    EXPECT_EQ(at("GETOUTPUT after extra bytes").result, VARNOX_ERROR_WRONG_COMMAND);
    EXPECT_EQ(at("GETOUTPUT clean").value, "19");
    EXPECT_EQ(at("GETINPUT hang-up").result, VARNOX_ERROR_RECEIVE);
    EXPECT_EQ(at("FW_DATE vanished").result, VARNOX_ERROR_SEND);
    EXPECT_EQ(at("CLOSE").result, VARNOX_OK);
}

}  // namespace
}  // namespace varnox::test
