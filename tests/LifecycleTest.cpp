// The shared library as an application sees it, in a child process of its
// own: load, open a pseudo-terminal as COMn, purge, close, reopen, report
// every slot, and the unload sequence at normal exit and at dlclose.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/LibraryFixture.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/TraceText.h"

namespace varnox::test {
namespace {

using Lines = std::vector<std::string>;

struct ChildResult {
    int status = -1;
    std::string output;
};

ChildResult RunChild(const std::vector<std::string>& args) {
    std::string command;
    for (const std::string& arg : args) command += "'" + arg + "' ";
    ChildResult result;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char chunk[256];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Entries common to both ways of unloading, for the slot whose port was open.
Lines PortSlotTrace(const std::string& device) {
    Lines lines = {"Debugging output file for PortNumber=0"};
    const std::vector<std::string> messages = {
        "File opened by VARNOX_OpenDebugFile",
        "COMPort::Open: Port " + device + " has been opened",
        std::string("COMPort::Close: Port has been closed"),
        "COMPort::Open: Port " + device + " has been opened",
        // unload: the table is torn down, then the detach handling runs
        std::string("COMPort::Close: Port has been closed"),
        std::string("Exiting the DLL, fdwReason=0"),
        std::string("COMPort::Close: Port handle is invalid"),
        std::string("File closed by VARNOX_CloseDebugFile"),
    };
    for (const std::string& message : messages) {
        lines.insert(lines.end(), {"", "<time>", message});
    }
    return lines;
}

const Lines kIdleSlotTrace = {"Debugging output file for PortNumber=1", "", "<time>",
                              "File opened by VARNOX_OpenDebugFile",    "", "<time>",
                              "COMPort::Close: Port handle is invalid", "", "<time>",
                              "Exiting the DLL, fdwReason=0",           "", "<time>",
                              "COMPort::Close: Port handle is invalid", "", "<time>",
                              "File closed by VARNOX_CloseDebugFile"};

const char kSlotReport[] =
    "0 0 No error|0 No error\n"
    "1 0 No error|1 Port has not been opened yet\n"
    "2 0 No error|1 Port has not been opened yet\n"
    "3 0 No error|1 Port has not been opened yet\n"
    "4 0 No error|1 Port has not been opened yet\n"
    "5 0 No error|1 Port has not been opened yet\n"
    "6 0 No error|1 Port has not been opened yet\n"
    "7 0 No error|1 Port has not been opened yet\n";

class LifecycleTest : public ::testing::TestWithParam<bool> {};

TEST_P(LifecycleTest, TracesTheSessionAndTheUnload) {
    const bool viaDlopen = GetParam();
    TempDir dir;
    PseudoTerminal pty(7);
    const std::string trace0 = dir.File("slot0.txt");
    const std::string trace1 = dir.File("slot1.txt");
    std::vector<std::string> args = {
        viaDlopen ? VARNOX_LIFECYCLE_CHILD_DLOPEN : VARNOX_LIFECYCLE_CHILD, trace0, trace1, "7"};
    if (viaDlopen) args.push_back(VARNOX_SHARED_LIBRARY);

    const ChildResult child = RunChild(args);

    ASSERT_EQ(child.status, 0) << child.output;
    EXPECT_EQ(child.output, kSlotReport);
    EXPECT_EQ(TraceLines(ReadFile(trace0)), PortSlotTrace(pty.DeviceName()));
    EXPECT_EQ(TraceLines(ReadFile(trace1)), kIdleSlotTrace);
    // The port was really released: it can be opened again at once.
    const ChildResult again = RunChild(args);
    EXPECT_EQ(again.status, 0) << again.output;
}

INSTANTIATE_TEST_SUITE_P(Unload, LifecycleTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "Dlclose" : "ProcessExit";
                         });

}  // namespace
}  // namespace varnox::test
