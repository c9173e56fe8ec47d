// The real VARNOX-Test binary against the simulated module: command line,
// start-up and shutdown messages, the key table, the prompt, and the ways
// out (Esc, end of input, Ctrl+C) on a terminal and from a script.
#include <gtest/gtest.h>

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "simulator/DeviceDirectory.h"
#include "simulator/SimulatorCore.h"
#include "tests/support/LibraryFixture.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/TraceText.h"

namespace varnox::test {
namespace {

const char kHelp[] =
    "Press 'z','Z' to purge the communication, 'L'/'l' to start/stop port loopback emulation\n"
    "      'o' to get output, 'O' to set output state,\n"
    "      'i' to get input state, 'I' to get input state automatically,\n"
    "      'd','D' to get firmware date, 'v','V' to get firmware version,\n"
    "      'p','P' to get product identification, 'n','N' to get product number,\n"
    "      'Esc' to stop, '?' for this help...\n";

const char kStartNormal[] = "COM1 opened for the communication port 0\nPort purged\n";
const char kHint[] = "Press '?' for help\n";
const char kEndNormal[] = "Communication port closed\nProgram finished\n";

class TestProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::CoreOptions options;
        options.inputs = 7;
        core_ = std::make_unique<sim::SimulatorCore>(options);
        core_->Start();
        ports_ = std::make_unique<sim::DeviceDirectory>(1, core_->SlavePath());
    }

    RunSetup Setup(const std::string& arguments) const {
        RunSetup setup;
        setup.argv = {VARNOX_TEST_PROGRAM};
        std::string word;
        for (char c : arguments + " ") {
            if (c != ' ') {
                word += c;
            } else if (!word.empty()) {
                setup.argv.push_back(word);
                word.clear();
            }
        }
        setup.workingDirectory = dir_.Path();
        setup.environment["VARNOX_DEVICE_DIR"] = ports_->Path();
        return setup;
    }

    RunResult Script(const std::string& arguments, const std::string& input) {
        return RunWithInput(Setup(arguments), input, 20000);
    }

    TempDir dir_;
    std::unique_ptr<sim::SimulatorCore> core_;
    std::unique_ptr<sim::DeviceDirectory> ports_;
};

std::string Usage() {
    return std::string("VARNOX-Test ver. 1.30, compilation date: ") + __DATE__ +
           "\nWritten by the VARNOX project developers\n\n"
           "Usage: VARNOX-Test COM-Number [Switches]\n"
           "  Switch: { -option, /option }\n"
           "    options: Q, q: quiet mode\n"
           "             D, d: debug mode, D: additional I/O debug into Debug.txt\n"
           "             C, c ChanNum: use the specified channel for the communication\n"
           "                            (allowed value: 0..7, default=0)\n";
}

TEST_F(TestProgramTest, UsageTextAndExitCodes) {
    for (const char* arguments : {"", "-q 3", "x", "3 -C", "3 Q", "3 -X"}) {
        const RunResult run = Script(arguments, "");
        EXPECT_EQ(run.status, 255) << arguments;
        EXPECT_EQ(run.output, Usage()) << arguments;
    }
    EXPECT_FALSE(std::ifstream(dir_.File("Debug.txt")).good());
}

TEST_F(TestProgramTest, NormalQuietAndDebugRuns) {
    RunResult run = Script("1", "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, std::string(kStartNormal) + kHint + kEndNormal);

    run = Script("1 -q", "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "Port purged\n");

    run = Script("1 -Q -d", "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output,
              "Checking DLL Version...\n"
              "DLL Version: 1.30\n"
              "Opening COM1 for the communication port 0...\n"
              "COM1 opened for the communication port 0\n"
              "Waiting for 500ms...\n"
              "Purging buffers of COM1 attached to the communication port 0...\n"
              "Buffers of COM1 attached to the communication port 0 were purged\n"
              "Press '?' for help\n"
              "Closing the communication port...\n"
              "Communication port closed\n"
              "Program finished\n");
}

TEST_F(TestProgramTest, LibraryVersionCheck) {
    const std::pair<const char*, const char*> cases[] = {
        {"011D", "Wrong DLL Version, expected 1.30 or later, found 1.29\n"},
        {"0005", "Wrong DLL Version, expected 1.30 or later, found 0.05\n"},
        {"011E", nullptr},
        {"0200", nullptr},
    };
    for (const auto& [version, refusal] : cases) {
        SCOPED_TRACE(version);
        RunSetup setup = Setup("1 -q");
        setup.environment["LD_PRELOAD"] = VARNOX_VERSION_SHIM;
        setup.environment["VARNOX_SHIM_VERSION"] = version;
        // The sanitizer runtime wants to be loaded first; the shim only
        // replaces one function.
        setup.environment["ASAN_OPTIONS"] = "verify_asan_link_order=0";
        const RunResult run = RunWithInput(setup, "", 20000);
        if (refusal != nullptr) {
            EXPECT_EQ(run.status, 254);
            EXPECT_EQ(run.output, refusal);
        } else {
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(run.output, "Port purged\n");
        }
    }
}

TEST_F(TestProgramTest, FailedOpens) {
    RunResult run = Script("1 -C9", "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "PortNumber out of range\n");

    run = Script("2 -q", "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "Error opening the port\n");
}

TEST_F(TestProgramTest, UpperCaseDTracesTheSlotKnownThen) {
    RunResult run = Script("1 -D -C 2", "");
    EXPECT_EQ(run.status, 0);
    std::string trace = ReadFile(dir_.File("Debug.txt"));
    EXPECT_EQ(TraceLines(trace)[0], "Debugging output file for PortNumber=0");
    EXPECT_EQ(TraceMessages(trace).back(), "File closed by VARNOX_CloseDebugFile");

    std::remove(dir_.File("Debug.txt").c_str());
    run = Script("1 -C 2 -D", "");
    EXPECT_EQ(run.status, 0);
    trace = ReadFile(dir_.File("Debug.txt"));
    EXPECT_EQ(TraceLines(trace)[0], "Debugging output file for PortNumber=2");
    const std::vector<std::string> messages = TraceMessages(trace);
    ASSERT_GE(messages.size(), 4u);
    EXPECT_EQ(messages[1], "COMPort::Open: Port \\\\.\\COM1 has been opened");
    EXPECT_EQ(messages[messages.size() - 3], "Exiting the DLL, fdwReason=0");

    std::remove(dir_.File("Debug.txt").c_str());
    EXPECT_EQ(Script("1 -d", "").status, 0);
    EXPECT_FALSE(std::ifstream(dir_.File("Debug.txt")).good());
}

TEST_F(TestProgramTest, EveryKeyFromAScript) {
    const RunResult run = Script("1",
                                 "?ioVvDPpNn"
                                 "O9\n"
                                 "o"
                                 "Zz"
                                 "LLl"
                                 "Xq\x1b");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, std::string(kStartNormal) + kHint + kHelp +
                              "Input state: 7 (07h)\n"
                              "Output state: 0 (00h)\n"
                              "Firmware version: 1-30\n"
                              "Firmware version: 1-30\n"
                              "Firmware date: Sep 05 2017\r\n"
                              "Product identification: "
                              "VARNOX-Sim simulated I/O module, 5 inputs, 5 outputs\r\n"
                              "Product identification: "
                              "VARNOX-Sim simulated I/O module, 5 inputs, 5 outputs\r\n"
                              "Product number: 76801\n"
                              "Product number: 76801\n"
                              "Enter new output state: "
                              "Output state: 9 (09h)\n"
                              "Port purged\nPort purged\n"
                              "Starting port loopback emulation\n"
                              "Starting port loopback emulation\n"
                              "Stopping port loopback emulation\n" +
                              kEndNormal);
}

TEST_F(TestProgramTest, PromptAcceptsOnlyStatesUpTo31) {
    struct {
        const char* word;
        const char* answer;  // "" when accepted
        unsigned outputs;
    } const cases[] = {
        {"31", "", 31},
        {"1fh", "", 31},
        {"11111b", "", 31},
        {"32", "Wrong value specified\n", 0},
        {"20h", "Wrong value specified\n", 0},
        {"-1", "Wrong value specified\n", 0},
        {"abc", "Wrong value specified\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.word);
        // The output state goes back to 0 first.
        const RunResult run = Script("1 -q", std::string("O0\nO") + c.word + "\n");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, std::string("Port purged\nEnter new output state: "
                                          "Enter new output state: ") +
                                  c.answer);
        // A set-output frame gets no reply: wait for the module to take it.
        const unsigned expected = c.outputs;
        EXPECT_TRUE(core_->WaitUntil(
            [expected](const sim::CoreStatus& st) { return st.outputs == expected; },
            std::chrono::seconds(5)))
            << "outputs " << unsigned(core_->Status().outputs);
    }
}

TEST_F(TestProgramTest, TwoWordsOnALineServeTwoPrompts) {
    const RunResult run = Script("1 -q", "O5 7\noO\no");
    EXPECT_EQ(run.output,
              "Port purged\nEnter new output state: Output state: 5 (05h)\n"
              "Enter new output state: Output state: 7 (07h)\n");
}

TEST_F(TestProgramTest, LongWordIsCutAndItsRestDropped) {
    const std::string longWord(79, '0');
    const RunResult run = Script("1 -q", "O" + longWord + "12\no");
    // 79 zeros are kept (the value 0); "12" is part of the cut word, not a key.
    EXPECT_EQ(run.output, "Port purged\nEnter new output state: Output state: 0 (00h)\n");
}

TEST_F(TestProgramTest, EndOfInputAtThePromptEndsNormally) {
    const RunResult run = Script("1", "O");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output,
              std::string(kStartNormal) + kHint + "Enter new output state: " + kEndNormal);
}

TEST_F(TestProgramTest, KeysWithoutACharacterDoNothing) {
    // End, Down, an unknown sequence, F1, Alt+i: none is a command, none ends the loop.
    const RunResult run = Script("1 -q",
                                 "\x1b[F\x1b[B\x1b[99~\x1bOP\x1bi"
                                 "i");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "Port purged\nInput state: 7 (07h)\n");
}

TEST_F(TestProgramTest, ReportsAndLoopback) {
    sim::CoreStatus status;
    // Automatic input on, loopback on; each report is printed and echoed.
    TerminalRun run(Setup("1 -d"));
    ASSERT_TRUE(run.WaitFor(kHint, 5000));
    run.Send("IL");
    ASSERT_TRUE(run.WaitFor("Starting port loopback emulation\n", 5000));
    ASSERT_TRUE(core_->WaitUntil([](const sim::CoreStatus& s) { return s.autoInput; },
                                 std::chrono::seconds(5)));
    core_->SetInputs(26);
    ASSERT_TRUE(
        run.WaitFor("New input data available at COM1 attached to the communication "
                    "port 0\nInput state received: 26 (1Ah)\n"
                    "Setting output state: 26 (1Ah)\n",
                    5000));
    EXPECT_TRUE(core_->WaitUntil([](const sim::CoreStatus& s) { return s.outputs == 26; },
                                 std::chrono::seconds(5)));
    run.Send("\x1b");
    EXPECT_EQ(run.Wait(5000), 0);
}

TEST_F(TestProgramTest, SilentModuleGivesErrorLines) {
    core_->SetFault(sim::FaultMode::kSilence);
    const RunResult run = Script("1 -q", "iv");
    EXPECT_EQ(run.output,
              "Port purged\n"
              "Error at VARNOX_GetInput: Error receiving command, I/O Error Message: Error "
              "reading data from the port\n"
              "Error at VARNOX_FW_Ver: Error receiving command, I/O Error Message: Error "
              "reading data from the port\n");
}

TEST_F(TestProgramTest, TerminalKeysArrowsAndEsc) {
    TerminalRun run(Setup("1"));
    ASSERT_TRUE(run.WaitFor(kHint, 5000));
    EXPECT_EQ(run.Mode().c_lflag & (ICANON | ECHO), 0u);  // key mode while running
    run.Send("\x1b[A\x1b[D");                             // arrows never end the program
    run.Send("?");
    ASSERT_TRUE(run.WaitFor("'Esc' to stop, '?' for this help...\n", 5000));
    run.Send("O");
    ASSERT_TRUE(run.WaitFor("Enter new output state: ", 5000));
    // Line mode with echo at the prompt (switched just after it is shown).
    bool lineMode = false;
    for (int i = 0; i < 200 && !lineMode; ++i, usleep(10000)) {
        lineMode = (run.Mode().c_lflag & (ICANON | ECHO)) == (ICANON | ECHO);
    }
    EXPECT_TRUE(lineMode);
    run.Send("12\n");
    ASSERT_TRUE(run.WaitFor("12\n", 5000));  // echoed
    run.Send("o");
    ASSERT_TRUE(run.WaitFor("Output state: 12 (0Ch)\n", 5000));
    run.Send("\x1b");
    EXPECT_EQ(run.Wait(5000), 0);
    EXPECT_NE(run.Output().find(kEndNormal), std::string::npos);
    EXPECT_TRUE(SameMode(run.Mode(), run.InitialMode()));
}

TEST_F(TestProgramTest, CtrlCEndsAtOnceAndKeepsTheTrace) {
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        std::remove(dir_.File("Debug.txt").c_str());
        TerminalRun run(Setup("1 -D"));
        ASSERT_TRUE(run.WaitFor(kHint, 5000));
        if (signal == SIGINT) {
            run.Send("\x03");  // Ctrl+C typed at the terminal
        } else {
            run.Signal(SIGTERM);
        }
        EXPECT_EQ(run.Wait(5000), 130);
        EXPECT_EQ(run.Output().find("Communication port closed"), std::string::npos);
        EXPECT_TRUE(SameMode(run.Mode(), run.InitialMode()));
        const std::vector<std::string> messages = TraceMessages(ReadFile(dir_.File("Debug.txt")));
        ASSERT_GE(messages.size(), 4u);
        EXPECT_EQ(messages[messages.size() - 4], "COMPort::Close: Port has been closed");
        EXPECT_EQ(messages.back(), "File closed by VARNOX_CloseDebugFile");
    }
}

TEST_F(TestProgramTest, CtrlZHandsTheTerminalBack) {
    TerminalRun run(Setup("1 -q"));
    ASSERT_TRUE(run.WaitFor("Port purged\n", 5000));
    run.Send("\x1a");  // Ctrl+Z
    // The program was not started by a shell, so nothing stops it for
    // good: the terminal goes back to line mode and key mode returns.
    run.Send("i");
    ASSERT_TRUE(run.WaitFor("Input state: 7 (07h)\n", 5000));
    EXPECT_EQ(run.Mode().c_lflag & (ICANON | ECHO), 0u);
    run.Send("\x1b");
    EXPECT_EQ(run.Wait(5000), 0);
    EXPECT_TRUE(SameMode(run.Mode(), run.InitialMode()));
}

TEST_F(TestProgramTest, EndOfInputOnATerminal) {
    TerminalRun run(Setup("1 -q"));
    ASSERT_TRUE(run.WaitFor("Port purged\n", 5000));
    run.Send("O");
    ASSERT_TRUE(run.WaitFor("Enter new output state: ", 5000));
    run.Send("\x04");  // Ctrl+D at the prompt: input ends
    EXPECT_EQ(run.Wait(5000), 0);
    EXPECT_TRUE(SameMode(run.Mode(), run.InitialMode()));
}

}  // namespace
}  // namespace varnox::test
