// Trace files: layout, reopening, the stored results, and failing opens and
// closes.
#include <gtest/gtest.h>

#include <filesystem>

#include "device/PortTable.h"
#include "device/VARNOX.h"
#include "tests/support/LibraryFixture.h"
#include "tests/support/TraceText.h"

namespace varnox::test {
namespace {

using Lines = std::vector<std::string>;

const Lines kBlock3 = {"Debugging output file for PortNumber=3", "", "<time>",
                       "File opened by VARNOX_OpenDebugFile",    "", "<time>",
                       "File closed by VARNOX_CloseDebugFile"};

using DebugFileTest = LibraryTest;

TEST_F(DebugFileTest, FreshFileHoldsOneFramedBlock) {
    const std::string file = dir_.File("Debug.txt");
    device::PortState[3] = -6;
    EXPECT_EQ(VARNOX_OPENDEBUGFILE(file.c_str(), 3), 0);
    EXPECT_EQ(VARNOX_STATE(3), 0);
    EXPECT_EQ(VARNOX_CLOSEDEBUGFILE(3), 0);
    EXPECT_EQ(device::PortTable(3).DebugStream, nullptr);
    EXPECT_EQ(TraceLines(ReadFile(file)), kBlock3);
}

TEST_F(DebugFileTest, ReopeningTheSameNameAppendsABlock) {
    const std::string file = dir_.File("twice.txt");
    EXPECT_EQ(VARNOX_OPENDEBUGFILE(file.c_str(), 3), 0);
    EXPECT_EQ(VARNOX_OPENDEBUGFILE(file.c_str(), 3), 0);
    EXPECT_EQ(VARNOX_CLOSEDEBUGFILE(3), 0);
    Lines expected = kBlock3;
    expected.insert(expected.end(), kBlock3.begin(), kBlock3.end());
    EXPECT_EQ(TraceLines(ReadFile(file)), expected);
}

TEST_F(DebugFileTest, ExistingContentIsKept) {
    const std::string file = dir_.File("old.txt");
    {
        std::FILE* f = std::fopen(file.c_str(), "w");
        std::fputs("earlier run\n", f);
        std::fclose(f);
    }
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(file.c_str(), 3), 0);
    ASSERT_EQ(VARNOX_CLOSEDEBUGFILE(3), 0);
    Lines expected = {"earlier run"};
    expected.insert(expected.end(), kBlock3.begin(), kBlock3.end());
    EXPECT_EQ(TraceLines(ReadFile(file)), expected);
}

TEST_F(DebugFileTest, UnopenableNamesGive400) {
    const std::string missingDir = dir_.File("no/such/dir/trace.txt");
    const char* const names[] = {missingDir.c_str(), "", dir_.Path().c_str(), nullptr};
    for (const char* name : names) {
        SCOPED_TRACE(name != nullptr ? name : "(null)");
        EXPECT_EQ(VARNOX_OPENDEBUGFILE(name, 1), -400);
        EXPECT_EQ(VARNOX_STATE(1), -400);
        EXPECT_STREQ(VARNOX_ERRORMESSAGE(1), "Unknown error");
        EXPECT_EQ(device::PortTable(1).DebugStream, nullptr);
    }
}

TEST_F(DebugFileTest, NewOpenClosesTheOldTraceFirst) {
    const std::string first = dir_.File("first.txt");
    const std::string second = dir_.File("second.txt");
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(first.c_str(), 0), 0);
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(second.c_str(), 0), 0);
    EXPECT_EQ(TraceMessages(ReadFile(first)).back(), "File closed by VARNOX_CloseDebugFile");

    // A failing new open still ends the old trace, and leaves none.
    EXPECT_EQ(VARNOX_OPENDEBUGFILE(nullptr, 0), -400);
    EXPECT_EQ(device::PortTable(0).DebugStream, nullptr);
    EXPECT_EQ(TraceMessages(ReadFile(second)),
              (std::vector<std::string>{"File opened by VARNOX_OpenDebugFile",
                                        "File closed by VARNOX_CloseDebugFile"}));
}

TEST_F(DebugFileTest, CloseStoresOnlyWithoutATrace) {
    const std::string file = dir_.File("close.txt");
    device::PortState[4] = -5;
    EXPECT_EQ(VARNOX_CLOSEDEBUGFILE(4), 0);
    EXPECT_EQ(VARNOX_STATE(4), 0);

    ASSERT_EQ(VARNOX_OPENDEBUGFILE(file.c_str(), 4), 0);
    EXPECT_EQ(VARNOX_OPEN(1, 4), 0);
    fake_.FailNext(Op::kOpen);
    EXPECT_EQ(VARNOX_OPEN(2, 5), -3);
    EXPECT_EQ(VARNOX_OPEN(1, 4), -3);  // already open
    EXPECT_EQ(VARNOX_CLOSEDEBUGFILE(4), 0);
    EXPECT_EQ(VARNOX_STATE(4), -3);
    EXPECT_EQ(VARNOX_CLOSEDEBUGFILE(4), 0);
    EXPECT_EQ(VARNOX_STATE(4), 0);
    EXPECT_EQ(TraceMessages(ReadFile(file)),
              (std::vector<std::string>{"File opened by VARNOX_OpenDebugFile",
                                        "COMPort::Open: Port \\\\.\\COM1 has been opened",
                                        "COMPort::Open: The port is already open",
                                        "File closed by VARNOX_CloseDebugFile"}));
}

// /dev/full accepts the open but refuses the buffered text when the stream
// is closed, which is how a full disk shows up.
TEST_F(DebugFileTest, FailedCloseGives401) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    ASSERT_EQ(VARNOX_OPENDEBUGFILE("/dev/full", 2), 0);
    device::PortState[2] = -7;
    EXPECT_EQ(VARNOX_CLOSEDEBUGFILE(2), -401);
    EXPECT_EQ(VARNOX_STATE(2), -7);
    EXPECT_EQ(device::PortTable(2).DebugStream, nullptr);

    const std::string next = dir_.File("next.txt");
    ASSERT_EQ(VARNOX_OPENDEBUGFILE("/dev/full", 2), 0);
    EXPECT_EQ(VARNOX_OPENDEBUGFILE(next.c_str(), 2), -401);
    EXPECT_EQ(VARNOX_STATE(2), -401);
    EXPECT_EQ(device::PortTable(2).DebugStream, nullptr);
    EXPECT_FALSE(std::filesystem::exists(next));
}

TEST_F(DebugFileTest, SlotsTraceIndependently) {
    const std::string a = dir_.File("a.txt");
    const std::string b = dir_.File("b.txt");
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(a.c_str(), 0), 0);
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(b.c_str(), 7), 0);
    EXPECT_EQ(VARNOX_PURGE(7), -5);
    ASSERT_EQ(VARNOX_CLOSEDEBUGFILE(0), 0);
    ASSERT_EQ(VARNOX_CLOSEDEBUGFILE(7), 0);
    EXPECT_EQ(TraceMessages(ReadFile(a)).size(), 2u);
    EXPECT_EQ(TraceLines(ReadFile(b))[0], "Debugging output file for PortNumber=7");
    EXPECT_EQ(TraceMessages(ReadFile(b)).size(), 4u);
}

}  // namespace
}  // namespace varnox::test
