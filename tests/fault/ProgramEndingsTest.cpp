// VARNOX-Test ending in unusual ways: standard input closed or empty, the
// terminal hanging up, Ctrl+C at the output-state prompt. Each way out must
// end the program promptly, release the port and finish the trace file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "device/VARNOX.h"
#include "simulator/DeviceDirectory.h"
#include "simulator/SimulatorCore.h"
#include "tests/fault/ChildProgram.h"
#include "tests/fault/FaultSupport.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/TraceText.h"

namespace varnox::test {
namespace {

const char kEndNormal[] = "Communication port closed\nProgram finished\n";
const char kHint[] = "Press '?' for help\n";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    for (const std::string& l : lines) {
        if (l == line) return true;
    }
    return false;
}

class ProgramEndings : public ::testing::Test {
protected:
    ProgramEndings() { ResetLibrary(); }
    ~ProgramEndings() override { ResetLibrary(); }

    void SetUp() override {
        core_ = std::make_unique<sim::SimulatorCore>();
        core_->Start();
        ports_ = std::make_unique<sim::DeviceDirectory>(1, core_->SlavePath());
    }

    RunSetup Setup(const std::vector<std::string>& arguments) const {
        RunSetup setup;
        setup.argv = {VARNOX_TEST_PROGRAM};
        setup.argv.insert(setup.argv.end(), arguments.begin(), arguments.end());
        setup.workingDirectory = dir_.Path();
        setup.environment["VARNOX_DEVICE_DIR"] = ports_->Path();
        return setup;
    }

    std::vector<std::string> TraceMessagesOfRun() const {
        return TraceMessages(ReadFile(dir_.File("Debug.txt")));
    }

    // The trace ends as the library's unload ends it, with the port closed.
    void ExpectCompleteTrace() const {
        const std::vector<std::string> messages = TraceMessagesOfRun();
        ASSERT_FALSE(messages.empty()) << "no trace written";
        EXPECT_EQ(messages.back(), "File closed by VARNOX_CloseDebugFile");
        EXPECT_TRUE(Contains(messages, "COMPort::Close: Port has been closed"));
    }

    // The program let go of the device: not held exclusively any more, and
    // this process can open it at once.
    void ExpectPortReleased() const {
        const int fd = ::open(core_->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        int exclusive = -1;
        EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0) << "the device is still held exclusively";
        ::close(fd);
        const ScopedDeviceDir deviceDir(ports_->Path());
        EXPECT_EQ(VARNOX_OPEN(1, 0), VARNOX_OK) << VARNOX_IO_ERRORMESSAGE(0);
        EXPECT_EQ(VARNOX_CLOSE(0), VARNOX_OK);
    }

    TempDir dir_;
    std::unique_ptr<sim::SimulatorCore> core_;
    std::unique_ptr<sim::DeviceDirectory> ports_;
};

TEST_F(ProgramEndings, StandardInputClosedOrEmptyEndsNormally) {
    struct Case {
        const char* name;
        Streams streams;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {"closed", Streams::kInputClosed, {"1"}},
        {"closed, traced", Streams::kInputClosed, {"1", "-D"}},
        {"at its end", Streams::kInputAtEnd, {"1"}},
        {"at its end, traced", Streams::kInputAtEnd, {"1", "-D"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(dir_.File("Debug.txt").c_str());
        const std::uint64_t framesBefore = core_->Status().framesReceived;
        const ChildResult run = RunWithStreams(Setup(c.arguments), c.streams, 15000);
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_TRUE(EndsWith(run.output, kEndNormal)) << run.output;
        // No input means no key: nothing may reach the module.
        EXPECT_EQ(core_->Status().framesReceived, framesBefore);
        // The start-up wait is 500 ms; the rest is quick and never spins.
        EXPECT_LT(run.elapsedMs, 10000);
        EXPECT_LT(run.cpuSeconds, 1.0);
        if (c.arguments.size() > 1) ExpectCompleteTrace();
        ExpectPortReleased();
    }
}

// Without a standard output the messages must go nowhere, not to the
// module: the device would otherwise take the free descriptor 1.
TEST(ProgramWithoutOutput, MessagesNeverReachTheDevice) {
    for (const char* traced : {"", "-D"}) {
        SCOPED_TRACE(std::string("switches '") + traced + "'");
        TempDir dir;
        PseudoTerminal module(1);
        RunSetup setup;
        setup.argv = {VARNOX_TEST_PROGRAM, "1"};
        if (traced[0] != '\0') setup.argv.push_back(traced);
        setup.workingDirectory = dir.Path();
        setup.environment["VARNOX_DEVICE_DIR"] = module.DeviceDir();
        const ChildResult run = RunWithStreams(setup, Streams::kOutputClosed, 15000);
        EXPECT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(run.output, "");
        EXPECT_EQ(module.ReadFromMaster(4096, 200), "");
        if (traced[0] != '\0') {
            // Nor into the trace file, the other candidate for descriptor 1.
            const std::string trace = ReadFile(dir.File("Debug.txt"));
            ASSERT_FALSE(TraceLines(trace).empty());
            EXPECT_EQ(TraceLines(trace)[0], "Debugging output file for PortNumber=0") << trace;
            const std::vector<std::string> messages = TraceMessages(trace);
            for (const std::string& message : messages) {
                EXPECT_EQ(message.find("<malformed"), std::string::npos) << trace;
            }
            ASSERT_FALSE(messages.empty());
            EXPECT_EQ(messages.back(), "File closed by VARNOX_CloseDebugFile");
        }
    }
}

TEST_F(ProgramEndings, TerminalGoingAwayEndsTheProgram) {
    for (const bool closeTerminal : {false, true}) {
        SCOPED_TRACE(closeTerminal ? "terminal closed" : "hang-up signal");
        ::unlink(dir_.File("Debug.txt").c_str());
        TerminalRun run(Setup({"1", "-D"}));
        ASSERT_TRUE(run.WaitFor(kHint, 10000)) << run.Output();
        if (closeTerminal) {
            run.CloseMaster();
        } else {
            run.Signal(SIGHUP);
        }
        EXPECT_EQ(run.Wait(10000), 128 + SIGHUP);
        if (!closeTerminal) {
            EXPECT_TRUE(SameMode(run.Mode(), run.InitialMode()));
            EXPECT_EQ(run.Output().find(kEndNormal), std::string::npos);
        }
        ExpectCompleteTrace();
        ExpectPortReleased();
    }
}

TEST_F(ProgramEndings, CtrlCAtTheOutputPromptEndsWith130) {
    // With nothing typed yet, and with a number half typed: neither may be
    // taken as an output state.
    for (const char* typed : {"", "2"}) {
        SCOPED_TRACE(std::string("typed '") + typed + "'");
        ::unlink(dir_.File("Debug.txt").c_str());
        const std::uint64_t framesBefore = core_->Status().framesReceived;
        TerminalRun run(Setup({"1", "-D"}));
        ASSERT_TRUE(run.WaitFor(kHint, 10000)) << run.Output();
        run.Send("O");
        ASSERT_TRUE(run.WaitFor("Enter new output state: ", 5000)) << run.Output();
        // The prompt shows just before the terminal goes to line mode.
        const auto start = Clock::now();
        while ((run.Mode().c_lflag & ICANON) == 0 && MsSince(start) < 5000) ::usleep(1000);
        ASSERT_NE(run.Mode().c_lflag & ICANON, 0u) << "the prompt reads in line mode";
        run.Send(typed);
        if (typed[0] != '\0') {
            ASSERT_TRUE(run.WaitFor(typed, 5000));  // echoed
        }
        run.Send("\x03");
        EXPECT_EQ(run.Wait(10000), 130);
        EXPECT_TRUE(SameMode(run.Mode(), run.InitialMode()));
        EXPECT_EQ(run.Output().find(kEndNormal), std::string::npos);
        EXPECT_EQ(core_->Status().framesReceived, framesBefore);
        ExpectCompleteTrace();
        ExpectPortReleased();
    }
}

}  // namespace
}  // namespace varnox::test
