// COMPort and the connection functions on a real pseudo-terminal through the
// POSIX layer: what a user of a simulated module sees.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

#include "device/VARNOX.h"
#include "serial/COMPort.h"
#include "tests/support/Elapsed.h"
#include "tests/support/LibraryFixture.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/TraceText.h"

namespace varnox::test {
namespace {

class PtyPortTest : public ::testing::Test {
protected:
    PtyPortTest() : pty_(4) { ResetLibrary(); }
    ~PtyPortTest() override {
        port_.DebugStream = nullptr;
        ResetLibrary();
    }
    void SetUp() override {
        ASSERT_TRUE(port_.Open(4)) << port_.ErrorMessage();
        port_.DebugStream = trace_.Stream();
    }

    PseudoTerminal pty_;
    TraceCapture trace_;
    COMPort port_;
};

TEST_F(PtyPortTest, LineSettingSeenFromTheSlave) {
    termios t{};
    ASSERT_TRUE(pty_.SlaveSettings(t));
    EXPECT_EQ(cfgetispeed(&t), B9600);
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | INPCK), 0u);
}

TEST_F(PtyPortTest, CloseAndOpenAgain) {
    ASSERT_TRUE(port_.Close());
    EXPECT_TRUE(port_.Open(4)) << port_.ErrorMessage();
    EXPECT_EQ(port_.ErrorState, 0);
}

TEST_F(PtyPortTest, HeldForExclusiveUse) {
    COMPort other;
    EXPECT_FALSE(other.Open(4));
    EXPECT_EQ(other.ErrorState, 2);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        COMPort inChild;
        _exit(inChild.Open(4) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child could open it";

    ASSERT_TRUE(port_.Close());
    EXPECT_TRUE(other.Open(4));
}

TEST_F(PtyPortTest, ReadCharGivesUpAfterAbout200Ms) {
    const auto start = Clock::now();
    char c = 0;
    EXPECT_FALSE(port_.Read(c));
    const long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 180);
    EXPECT_LT(elapsed, 1500);
    EXPECT_EQ(port_.ErrorState, 7);
    EXPECT_EQ(trace_.Messages().back(), "COMPort::Read-char: Less than 1 byte read from the port");
}

TEST_F(PtyPortTest, ShortReadArrayEndsAbout100MsAfterItsLastByte) {
    ASSERT_TRUE(pty_.WriteFromMaster("V0"));
    char buffer[8];
    unsigned long count = 5;
    const auto start = Clock::now();
    EXPECT_TRUE(port_.Read(buffer, count));
    const long elapsed = MsSince(start);
    EXPECT_EQ(count, 2u);
    EXPECT_STREQ(buffer, "V0");
    EXPECT_GE(elapsed, 90);
    EXPECT_LT(elapsed, 400);  // the total for 5 bytes would be 600 ms
}

TEST_F(PtyPortTest, PollNeverWaits) {
    const auto start = Clock::now();
    EXPECT_FALSE(port_.DataAvailable());
    EXPECT_LT(MsSince(start), 50);

    ASSERT_TRUE(pty_.WriteFromMaster(std::string("\0\xff\r\n", 4)));
    const auto until = Clock::now() + std::chrono::seconds(2);
    while (!port_.DataAvailable() && Clock::now() < until) usleep(1000);
    char buffer[8];
    unsigned long count = 4;
    ASSERT_TRUE(port_.Read(buffer, count));
    EXPECT_EQ(std::string(buffer, count), std::string("\0\xff\r\n", 4));
}

TEST_F(PtyPortTest, WritesReachTheFarSideUnchanged) {
    ASSERT_TRUE(port_.Write('i'));
    ASSERT_TRUE(port_.Write(std::string("\0\xff\n", 3).data(), 3));
    ASSERT_TRUE(port_.Write('\r'));
    EXPECT_EQ(pty_.ReadFromMaster(5, 1000), std::string("i\0\xff\n\r", 5));
}

TEST_F(PtyPortTest, VanishedFarSideFailsTheRead) {
    pty_.CloseMaster();
    const auto start = Clock::now();
    char c = 0;
    EXPECT_FALSE(port_.Read(c));
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_EQ(port_.ErrorState, 7);
    EXPECT_EQ(trace_.Messages().back(), "COMPort::Read-char: Cannot read the port");
    EXPECT_FALSE(port_.DataAvailable());
    EXPECT_FALSE(port_.Write('x'));
    EXPECT_EQ(port_.ErrorState, 8);
}

TEST_F(PtyPortTest, VanishedDeviceCanStillBeClosed) {
    pty_.CloseMaster();
    char c = 0;
    ASSERT_FALSE(port_.Read(c));
    // Its lines cannot be driven any more, but the device must not stay held.
    EXPECT_TRUE(port_.Close());
    EXPECT_EQ(port_.PortHandle, serial::kInvalidHandle);
    EXPECT_EQ(trace_.Messages().back(), "COMPort::Close: Port has been closed");
    // Raising a line on a device that is gone still fails.
    PseudoTerminal other(5);
    COMPort again;
    ASSERT_TRUE(again.Open(5));
    other.CloseMaster();
    EXPECT_FALSE(again.Control(true, true));
    EXPECT_EQ(again.ErrorState, 10);
    EXPECT_TRUE(again.Close());
}

TEST_F(PtyPortTest, TwoSlotsCannotShareTheDevice) {
    ASSERT_TRUE(port_.Close());
    EXPECT_EQ(VARNOX_OPEN(4, 0), 0);
    EXPECT_EQ(VARNOX_OPEN(4, 1), -3);
    EXPECT_EQ(VARNOX_IO_STATE(1), 2);
    EXPECT_EQ(VARNOX_PURGE(0), 0);
    EXPECT_EQ(VARNOX_CLOSE(0), 0);
    EXPECT_EQ(VARNOX_OPEN(4, 1), 0);
    EXPECT_EQ(VARNOX_CLOSE(1), 0);
    EXPECT_EQ(VARNOX_OPEN(4, 1), 0);
}

TEST_F(PtyPortTest, StatusLinesCannotBeReadOnAPseudoTerminal) {
    bool cts = true, dsr = true, ri = true, dcd = true;
    EXPECT_FALSE(port_.Status(cts, dsr, ri, dcd));
    EXPECT_EQ(port_.ErrorState, 11);
    EXPECT_TRUE(cts && dsr && ri && dcd);
    EXPECT_TRUE(port_.Control(false, true));
}

}  // namespace
}  // namespace varnox::test
