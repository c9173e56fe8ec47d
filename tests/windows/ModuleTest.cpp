// End to end through the Windows layer: VARNOX.dll (linked at load time, as
// applications link it) opens \\.\COMn, a port whose far end is the module
// simulator running natively on a pseudo-terminal, and queries the module.
// The timing checks measure the platform's own COMMTIMEOUTS implementation.
//
// scripts/windows-test starts the simulator with the firmware data below and
// --loopback (the inputs follow the outputs); VARNOX_TEST_COM names the port
// (default 1).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/VARNOX.h"
#include "serial/COMPort.h"
#include "tests/support/LibraryFixture.h"
#include "tests/support/TraceText.h"
#include "tests/windows/support/Process.h"
#include "tests/windows/support/WineLine.h"

namespace varnox::test {
namespace {

using Messages = std::vector<std::string>;

// What scripts/windows-test gives the simulator.
constexpr std::uint16_t kFirmwareVersion = 0x0207;
// The library hands the texts over as read, the closing CR included.
const char kFirmwareDate[] = "Mar 14 2021\r";
const char kProductId[] = "Wine end-to-end module\r";
constexpr std::uint32_t kProductNumber = 0x00012C01;

std::uint16_t Com() {
    const char* text = std::getenv("VARNOX_TEST_COM");
    return static_cast<std::uint16_t>(text != nullptr && *text != '\0' ? std::atoi(text) : 1);
}

std::string DeviceName() {
    return "\\\\.\\COM" + std::to_string(Com());
}

// The port number, after the set-up step every open of the module's port
// needs under Wine (tests/windows/support/WineLine.h).
std::uint16_t ComToOpen() {
    EXPECT_TRUE(UnsetLineForNextOpen(Com())) << "COM" << Com() << " cannot be prepared";
    return Com();
}

double NowMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(VARNOX_OPEN(ComToOpen(), 0), VARNOX_OK)
            << "COM" << Com() << " cannot be opened (" << VARNOX_IO_ERRORMESSAGE(0)
            << "): it must be served by the module simulator; run scripts/windows-test";
    }
    void TearDown() override {
        VARNOX_CLOSE(0);
        VARNOX_CLOSE(1);
        VARNOX_CLOSEDEBUGFILE(0);
    }
};

TEST_F(ModuleTest, QueriesAndSetsTheModule) {
    ASSERT_EQ(VARNOX_PURGE(0), 0);
    EXPECT_EQ(VARNOX_IO_STATE(0), 0);

    std::uint16_t version = 0;
    EXPECT_EQ(VARNOX_FW_VER(&version, 0), 0);
    EXPECT_EQ(version, kFirmwareVersion);
    char date[20] = "untouched";
    EXPECT_EQ(VARNOX_FW_DATE(date, 0), 0);
    EXPECT_STREQ(date, kFirmwareDate);
    char id[257] = "untouched";
    EXPECT_EQ(VARNOX_PROD_ID(id, 0), 0);
    EXPECT_STREQ(id, kProductId);
    std::uint32_t number = 0;
    EXPECT_EQ(VARNOX_PROD_NO(&number, 0), 0);
    EXPECT_EQ(number, kProductNumber);

    // The simulated inputs follow the outputs.
    const std::uint16_t states[] = {21, 0, 31, 10};
    for (std::uint16_t state : states) {
        EXPECT_EQ(VARNOX_SETOUTPUT(state, 0), 0) << state;
        std::uint16_t output = 99;
        EXPECT_EQ(VARNOX_GETOUTPUT(&output, 0), 0) << state;
        EXPECT_EQ(output, state);
        std::uint16_t input = 99;
        EXPECT_EQ(VARNOX_GETINPUT(&input, 0), 0) << state;
        EXPECT_EQ(input, state);
        EXPECT_EQ(VARNOX_RETINPUT(0), state);
        EXPECT_EQ(VARNOX_RETOUTPUT(0), state);
    }
    EXPECT_EQ(VARNOX_SETOUTPUT(32, 0), -9);
    EXPECT_EQ(VARNOX_STATE(0), -9);
    EXPECT_EQ(VARNOX_CLOSE(0), 0);
    EXPECT_EQ(VARNOX_IO_STATE(0), 0);
    std::uint16_t input = 99;
    EXPECT_EQ(VARNOX_GETINPUT(&input, 0), -6);  // closed: the command cannot be sent
    EXPECT_EQ(VARNOX_IO_STATE(0), 8);
    EXPECT_EQ(input, 99);
}

TEST_F(ModuleTest, AutomaticInputReportsArrive) {
    std::uint16_t value = 77;
    EXPECT_EQ(VARNOX_CHECKINPUT(&value, 0), 1);  // nothing waiting
    EXPECT_EQ(value, 77);
    ASSERT_EQ(VARNOX_SETOUTPUT(3, 0), 0);
    ASSERT_EQ(VARNOX_AUTOINPUT(0), 0);
    ASSERT_EQ(VARNOX_SETOUTPUT(9, 0), 0);  // the inputs change: a report follows
    std::int32_t result = 1;
    const double start = NowMs();
    while (result == 1 && NowMs() - start < 2000) {
        result = VARNOX_CHECKINPUT(&value, 0);
        if (result == 1) Sleep(10);
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(value, 9);
    EXPECT_EQ(VARNOX_RETINPUTDATA(0), VARNOX_NO_VALUE);  // no second report
    EXPECT_EQ(VARNOX_STATE(0), 1);
}

TEST_F(ModuleTest, TraceOfAWorkingSession) {
    ASSERT_EQ(VARNOX_CLOSE(0), 0);
    TempDir dir;
    const std::string file = dir.File("session.txt");
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(file.c_str(), 0), 0);
    ASSERT_EQ(VARNOX_OPEN(ComToOpen(), 0), 0);
    EXPECT_EQ(VARNOX_OPEN(Com(), 0), -3);  // already open in this slot
    EXPECT_EQ(VARNOX_IO_STATE(0), 2);
    std::uint16_t version = 0;
    EXPECT_EQ(VARNOX_FW_VER(&version, 0), 0);
    EXPECT_EQ(VARNOX_PURGE(0), 0);
    EXPECT_EQ(VARNOX_CLOSE(0), 0);
    EXPECT_EQ(VARNOX_CLOSE(0), -4);
    ASSERT_EQ(VARNOX_CLOSEDEBUGFILE(0), 0);
    EXPECT_EQ(
        TraceMessages(ReadFile(file)),
        (Messages{"File opened by VARNOX_OpenDebugFile",
                  "COMPort::Open: Port " + DeviceName() + " has been opened",
                  "COMPort::Open: The port is already open", "COMPort::Close: Port has been closed",
                  "COMPort::Close: Port handle is invalid",
                  "File closed by VARNOX_CloseDebugFile"}));
}

// Share mode 0 makes a second CreateFileA of a held port fail on Windows.
TEST_F(ModuleTest, ASecondOpenOfTheSamePortIsRefused) {
    if (UnderWine()) {
        const HANDLE second = CreateFileA(DeviceName().c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        if (second != INVALID_HANDLE_VALUE) {
            CloseHandle(second);
            GTEST_SKIP() << "Wine does not enforce share mode 0 on serial ports: a second "
                            "CreateFileA of COM"
                         << Com() << " succeeded while the library held it";
        }
    }
    EXPECT_EQ(VARNOX_OPEN(Com(), 1), -3);
    EXPECT_EQ(VARNOX_IO_STATE(1), 2);
    EXPECT_EQ(VARNOX_PURGE(0), 0);  // the first one stays usable
}

// A pseudo-terminal has no modem lines. Driving them works all the same:
// Wine takes the change without effect, and a driver that refuses it with
// ERROR_NOT_SUPPORTED is accepted by the layer.
TEST_F(ModuleTest, ControlLinesOfALineWithoutThem) {
    ASSERT_EQ(VARNOX_CLOSE(0), 0);
    COMPort port;
    ASSERT_TRUE(port.Open(ComToOpen())) << port.ErrorMessage();
    EXPECT_TRUE(port.Control(true, true));
    EXPECT_EQ(port.ErrorState, 0);
    EXPECT_TRUE(port.Control(false, false));
    EXPECT_TRUE(port.Close());
    EXPECT_EQ(port.ErrorState, 0);
}

// The exported class on its own port: the waiting and the returning-at-once
// timeout sets as the platform's ReadFile applies them.
class PortTimingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(port_.Open(ComToOpen()))
            << "COM" << Com() << ": " << port_.ErrorMessage() << "; run scripts/windows-test";
    }

    COMPort port_;
};

TEST_F(PortTimingTest, ReadsThatGetNothingWaitTheirTotalTime) {
    struct Case {
        const char* name;
        unsigned long wanted;  // 0: Read-char
        double expectedMs;
    };
    const Case cases[] = {
        {"Read-char", 0, 200}, {"Read-array 1", 1, 200}, {"Read-array 4", 4, 500}};
    for (const Case& c : cases) {
        char buffer[8] = "xxxxxxx";
        const double start = NowMs();
        bool ok = false;
        unsigned long count = c.wanted;
        if (c.wanted == 0) {
            ok = port_.Read(buffer[0]);
        } else {
            ok = port_.Read(buffer, count);
        }
        const double elapsed = NowMs() - start;
        if (c.wanted == 0) {
            EXPECT_FALSE(ok) << c.name;
            EXPECT_EQ(port_.ErrorState, 7) << c.name;
        } else {
            EXPECT_TRUE(ok) << c.name;
            EXPECT_EQ(count, 0u) << c.name;
            EXPECT_EQ(buffer[0], '\0') << c.name;
        }
        EXPECT_GE(elapsed, c.expectedMs - 20) << c.name;
        EXPECT_LE(elapsed, c.expectedMs + 250) << c.name;
    }
}

TEST_F(PortTimingTest, APollReturnsAtOnce) {
    const double start = NowMs();
    EXPECT_FALSE(port_.DataAvailable());
    EXPECT_LT(NowMs() - start, 50);
    EXPECT_EQ(port_.ErrorState, 0);
}

// A reply of 4 bytes asked for as 50: the read ends about 100 ms after the
// last byte, long before its total time of 5.1 s.
TEST_F(PortTimingTest, TheIntervalEndsAReadAfterTheLastByte) {
    ASSERT_TRUE(port_.Write("i\r", 2));
    char buffer[64] = {};
    unsigned long count = 50;
    const double start = NowMs();
    ASSERT_TRUE(port_.Read(buffer, count));
    const double elapsed = NowMs() - start;
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(buffer[0], 'I');
    EXPECT_EQ(buffer[3], '\r');
    EXPECT_GE(elapsed, 90);
    EXPECT_LE(elapsed, 600);
}

// A read that gets all it asked for does not wait for the interval.
TEST_F(PortTimingTest, AFullReadReturnsWithoutWaiting) {
    ASSERT_TRUE(port_.Write("i\r", 2));
    char letter = 0;
    ASSERT_TRUE(port_.Read(letter));
    EXPECT_EQ(letter, 'I');
    char rest[8] = {};
    unsigned long count = 3;
    const double start = NowMs();
    ASSERT_TRUE(port_.Read(rest, count));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(rest[2], '\r');
    EXPECT_LT(NowMs() - start, 80);
}

// A pseudo-terminal has no status lines: Wine's GetCommModemStatus fails
// on it (TIOCMGET is refused), as the Linux layer's Status() does. On a real
// port the lines are read.
TEST_F(PortTimingTest, StatusLinesOfALineWithoutThem) {
    bool cts = false;
    bool dsr = true;
    bool ri = false;
    bool dcd = true;
    port_.ErrorState = 9;
    const bool read = port_.Status(cts, dsr, ri, dcd);
    if (!UnderWine()) {
        EXPECT_TRUE(read);
        EXPECT_EQ(port_.ErrorState, 0);
        return;
    }
    EXPECT_FALSE(read);
    EXPECT_EQ(port_.ErrorState, 11);
    EXPECT_STREQ(port_.ErrorMessage(), "Error reading the status lines of the port");
    // A failed Status() writes none of its outputs.
    EXPECT_FALSE(cts);
    EXPECT_TRUE(dsr);
    EXPECT_FALSE(ri);
    EXPECT_TRUE(dcd);
}

}  // namespace
}  // namespace varnox::test
