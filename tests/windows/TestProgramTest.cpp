// VARNOX-Test.exe as Windows runs it: the command line, the usage text with
// the program name taken from GetModuleFileNameA, the exit codes as
// GetExitCodeProcess reports them, the library version check, and the trace
// file of the D switch, ended when the process exits with the DLL loaded.
//
// The children are detached: without a console there are no keys to read,
// so a run that gets past the start-up ends after one pass of the key loop,
// as at the end of a script on Linux. The key loop itself is tested on
// Linux: Wine's console in a plain terminal does not hand _getch single key
// presses.
//
// Suites named ProgramWithModule need COM1 served by the module simulator.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/LibraryFixture.h"
#include "tests/support/TraceText.h"
#include "tests/windows/support/Process.h"
#include "tests/windows/support/WineLine.h"

namespace varnox::test {
namespace {

using Args = std::vector<std::string>;
using Messages = std::vector<std::string>;

constexpr std::uint32_t kExitUsage = 0xFFFFFFFFu;    // main's -1
constexpr std::uint32_t kExitVersion = 0xFFFFFFFEu;  // main's -2
constexpr std::uint32_t kExitOpen = 1;

std::string Program() {
    return ProgramDirectory() + "VARNOX-Test.exe";
}

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

std::string Describe(const Args& args) {
    std::string text = "VARNOX-Test";
    for (const std::string& a : args) text += " " + a;
    return text;
}

bool CopyInto(const std::string& from, const std::string& to) {
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

// No dosdevices entry and no ordinary machine has this port.
const char kMissingCom[] = "219";

TEST(TestProgram, WrongCommandLinesShowTheUsage) {
    const Args cases[] = {{},           {"-q", "3"}, {"x"},      {"3", "-C"}, {"3", "-Cx"},
                          {"3", "-Qx"}, {"3", "-X"}, {"3", "-"}, {"3", "Q"},  {"3", "/dx"}};
    for (const Args& args : cases) {
        const ProcessResult run = RunProcess(Program(), args);
        ASSERT_TRUE(run.started) << "cannot start " << Program();
        EXPECT_TRUE(run.finished) << Describe(args);
        EXPECT_EQ(run.exitCode, kExitUsage) << Describe(args);
        EXPECT_EQ(run.output, Usage()) << Describe(args);
    }
}

// The name in the usage text is the program file's, whatever it is called.
TEST(TestProgram, UsageNamesTheProgramFile) {
    TempDir dir;
    const std::string copy = dir.Path() + "\\Other.Name.exe";
    ASSERT_TRUE(CopyInto(Program(), copy));
    ASSERT_TRUE(CopyInto(ProgramDirectory() + "VARNOX.dll", dir.Path() + "\\VARNOX.dll"));
    const ProcessResult run = RunProcess(copy, {});
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, kExitUsage);
    EXPECT_EQ(run.output.rfind("Other ver. 1.30, compilation date: ", 0), 0u) << run.output;
    EXPECT_NE(run.output.find("\nUsage: Other COM-Number [Switches]\n"), std::string::npos)
        << run.output;
}

TEST(TestProgram, APortThatCannotBeOpened) {
    struct Case {
        Args args;
        std::string output;
    };
    const std::string debugStart =
        "Checking DLL Version...\nDLL Version: 1.30\nOpening COM219 for the communication port ";
    const Case cases[] = {
        {{kMissingCom}, "Error opening the port\n"},
        {{kMissingCom, "-q"}, "Error opening the port\n"},
        {{kMissingCom, "-C", "9"}, "PortNumber out of range\n"},
        {{kMissingCom, "/c7", "-d"}, debugStart + "7...\nError opening the port\n"},
        {{kMissingCom, "-d", "-q"}, debugStart + "0...\nError opening the port\n"},
    };
    for (const Case& c : cases) {
        const ProcessResult run = RunProcess(Program(), c.args);
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.exitCode, kExitOpen) << Describe(c.args);
        EXPECT_EQ(run.output, c.output) << Describe(c.args);
    }
}

// The D switch opens Debug.txt in the working directory at once; the port is
// never opened, and the library ends the trace when the process exits.
TEST(TestProgram, DebugFileEndsAtProcessExit) {
    TempDir dir;
    const ProcessResult run = RunProcess(Program(), {kMissingCom, "-C", "4", "-D"}, dir.Path());
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, kExitOpen);
    const std::string trace = ReadFile(dir.File("Debug.txt"));
    EXPECT_EQ(TraceLines(trace).at(0), "Debugging output file for PortNumber=4");
    EXPECT_EQ(TraceMessages(trace),
              (Messages{"File opened by VARNOX_OpenDebugFile",
                        "COMPort::Open: Cannot open the port \\\\.\\COM219",
                        "COMPort::Close: Port handle is invalid", "Exiting the DLL, fdwReason=0",
                        "COMPort::Close: Port handle is invalid",
                        "File closed by VARNOX_CloseDebugFile"}));
}

// A library that reports another version word: a stand-in VARNOX.dll beside
// a copy of the program forwards everything but VARNOX_VERSION to the real
// one.
TEST(TestProgram, TheLibraryVersionIsChecked) {
    TempDir dir;
    const std::string program = dir.Path() + "\\VARNOX-Test.exe";
    ASSERT_TRUE(CopyInto(Program(), program));
    ASSERT_TRUE(CopyInto(ProgramDirectory() + "VARNOX.dll", dir.Path() + "\\VARNOXreal.dll"));
    ASSERT_TRUE(
        CopyInto(ProgramDirectory() + "varnox_version_shim.dll", dir.Path() + "\\VARNOX.dll"));
    struct Case {
        const char* version;
        std::uint32_t exitCode;
        std::string output;
    };
    const Case cases[] = {
        {"011D", kExitVersion, "Wrong DLL Version, expected 1.30 or later, found 1.29\n"},
        {"0100", kExitVersion, "Wrong DLL Version, expected 1.30 or later, found 1.00\n"},
        {"00FF", kExitVersion, "Wrong DLL Version, expected 1.30 or later, found 0.255\n"},
        {"011E", kExitOpen, "Error opening the port\n"},
        {"0200", kExitOpen, "Error opening the port\n"},
    };
    for (const Case& c : cases) {
        SetEnvironmentVariableA("VARNOX_SHIM_VERSION", c.version);
        const ProcessResult run = RunProcess(program, {kMissingCom, "-q"});
        ASSERT_TRUE(run.started);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.version << ": " << run.output;
        EXPECT_EQ(run.output, c.output) << c.version;
    }
    SetEnvironmentVariableA("VARNOX_SHIM_VERSION", nullptr);
}

// ---------------------------------------------------------------------------
// With COM1 served by the module simulator.

std::string Com() {
    const char* text = std::getenv("VARNOX_TEST_COM");
    return text != nullptr && *text != '\0' ? text : "1";
}

// Runs VARNOX-Test.exe after the set-up step every open of the module's port
// needs under Wine (tests/windows/support/WineLine.h).
ProcessResult RunWithModule(const Args& args, const std::string& directory = std::string()) {
    EXPECT_TRUE(UnsetLineForNextOpen(static_cast<std::uint16_t>(std::stoi(Com()))))
        << "COM" << Com() << " cannot be prepared";
    return RunProcess(Program(), args, directory);
}

TEST(ProgramWithModule, AStartUpAndShutdownInEachMode) {
    const std::string c = Com();
    struct Case {
        Args args;
        std::string output;
    };
    const Case cases[] = {
        {{c},
         "COM" + c +
             " opened for the communication port 0\nPort purged\nPress '?' for help\n"
             "Communication port closed\nProgram finished\n"},
        {{c, "-q"}, "Port purged\n"},
        {{c, "-C5", "-d"},
         "Checking DLL Version...\nDLL Version: 1.30\n"
         "Opening COM" +
             c +
             " for the communication port 5...\n"
             "COM" +
             c +
             " opened for the communication port 5\nWaiting for 500ms...\n"
             "Purging buffers of COM" +
             c +
             " attached to the communication port 5...\n"
             "Buffers of COM" +
             c +
             " attached to the communication port 5 were purged\n"
             "Press '?' for help\nClosing the communication port...\n"
             "Communication port closed\nProgram finished\n"},
    };
    for (const Case& k : cases) {
        const ProcessResult run = RunWithModule(k.args);
        ASSERT_TRUE(run.started);
        EXPECT_TRUE(run.finished) << Describe(k.args);
        EXPECT_EQ(run.exitCode, 0u) << Describe(k.args);
        EXPECT_EQ(run.output, k.output) << Describe(k.args);
    }
}

TEST(ProgramWithModule, DebugFileOfAFullRun) {
    TempDir dir;
    const ProcessResult run = RunWithModule({Com(), "-D"}, dir.Path());
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exitCode, 0u) << run.output;
    EXPECT_EQ(
        TraceMessages(ReadFile(dir.File("Debug.txt"))),
        (Messages{"File opened by VARNOX_OpenDebugFile",
                  "COMPort::Open: Port \\\\.\\COM" + Com() + " has been opened",
                  "COMPort::Close: Port has been closed", "COMPort::Close: Port handle is invalid",
                  "Exiting the DLL, fdwReason=0", "COMPort::Close: Port handle is invalid",
                  "File closed by VARNOX_CloseDebugFile"}));
}

}  // namespace
}  // namespace varnox::test
