// The library on the Windows C run time: trace files in text mode end their
// lines with CR LF, a trace stream that cannot be flushed makes the close
// fail, and %lu and %hu are filled in at the limits of Windows's 32-bit
// unsigned long and 16-bit unsigned short.
#include <windows.h>

#include <gtest/gtest.h>

#include <io.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "device/PortTable.h"
#include "device/VARNOX.h"
#include "serial/COMPort.h"
#include "tests/support/LibraryFixture.h"
#include "tests/support/TraceText.h"

namespace varnox::test {
namespace {

std::string RawBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

using WindowsCrt = LibraryTest;

TEST_F(WindowsCrt, TraceFilesEndEveryLineWithCrLf) {
    const std::string file = dir_.File("crlf.txt");
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(file.c_str(), 7), 0);
    EXPECT_EQ(VARNOX_PURGE(7), -5);
    ASSERT_EQ(VARNOX_CLOSEDEBUGFILE(7), 0);
    const std::string raw = RawBytes(file);
    EXPECT_EQ(raw.rfind("Debugging output file for PortNumber=7\r\n\r\n", 0), 0u) << raw;
    // Header, then four entries of three lines (empty, time, message).
    EXPECT_EQ(Count(raw, "\n"), 13u) << raw;
    EXPECT_EQ(Count(raw, "\r\n"), Count(raw, "\n")) << raw;
    EXPECT_EQ(Count(raw, "\r"), Count(raw, "\n")) << raw;
}

// The stream's own handle closed behind its back: the buffered entry cannot
// be written when the trace file is closed.
TEST_F(WindowsCrt, AnUnflushableTraceMakesTheCloseFail) {
    const std::string file = dir_.File("lost.txt");
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(file.c_str(), 2), 0);
    std::FILE* stream = device::PortTable(2).DebugStream;
    ASSERT_NE(stream, nullptr);
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(handle));
    device::PortState[2] = -7;
    EXPECT_EQ(VARNOX_CLOSEDEBUGFILE(2), -401);
    EXPECT_EQ(VARNOX_STATE(2), -7);
    EXPECT_EQ(device::PortTable(2).DebugStream, nullptr);
}

TEST_F(WindowsCrt, CountsAndSlotNumbersAtTheirLimits) {
    TraceCapture trace;
    COMPort port;
    ASSERT_TRUE(port.Open(1));
    port.DebugStream = trace.Stream();
    fake_.ShortWriteNext(4294967295u);
    EXPECT_FALSE(port.Write('x'));
    fake_.ShortWriteNext(4294967294u);
    EXPECT_FALSE(port.Write("abcde", 5));
    port.DebugStream = nullptr;
    EXPECT_EQ(trace.Messages(),
              (std::vector<std::string>{
                  "COMPort::Write-char: 4294967295 bytes instead of 1 written to the port",
                  "COMPort::Write-array: 4294967294 bytes instead of 5 written to the port"}));
    EXPECT_TRUE(port.Close());

    // The header names the slot with %hu.
    const std::string file = dir_.File("slot.txt");
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(file.c_str(), 5), 0);
    ASSERT_EQ(VARNOX_CLOSEDEBUGFILE(5), 0);
    EXPECT_EQ(TraceLines(ReadFile(file)).at(0), "Debugging output file for PortNumber=5");
}

}  // namespace
}  // namespace varnox::test
