// The POSIX serial layer, driven through the SerialLayer interface over real
// pseudo-terminals.
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "serial/SerialLayer.h"
#include "serial/posix/PosixSerialLayer.h"
#include "tests/support/Elapsed.h"
#include "tests/support/PseudoTerminal.h"

namespace {

using varnox::serial::Escape;
using varnox::serial::HandleType;
using varnox::serial::kInvalidHandle;
using varnox::serial::kMaxDevices;
using varnox::serial::LineSettings;
using varnox::serial::Parity;
using varnox::serial::PlatformLayer;
using varnox::serial::SerialLayer;
using varnox::serial::StopBits;
using varnox::serial::Timeouts;
using varnox::test::Clock;
using varnox::test::MsSince;
using varnox::test::PseudoTerminal;
constexpr Timeouts kWaitSet{100, 100, 100, 0, 0};
constexpr Timeouts kNoWaitSet{Timeouts::kNoWait, 0, 0, 0, 0};
constexpr Timeouts kForeverSet{0, 0, 0, 0, 0};

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string AllByteValues() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) {
        bytes.push_back(static_cast<char>(i));
    }
    return bytes;
}

// ---------------------------------------------------------------------------
// Device name resolution, no devices involved.

struct NameCase {
    const char* name;
    const char* dir;
    const char* expected;  // nullptr: the name must be refused
};

TEST(PosixDeviceName, MapsWindowsNamesToDevices) {
    const NameCase cases[] = {
        {"\\\\.\\COM1", nullptr, "/dev/ttyS0"},
        {"\\\\.\\COM10", nullptr, "/dev/ttyS9"},
        {"\\\\.\\COM65535", nullptr, "/dev/ttyS65534"},
        {"\\\\.\\COM3", "", "/dev/ttyS2"},
        {"\\\\.\\COM3", "/run/ports", "/run/ports/COM3"},
        {"\\\\.\\COM12", "/run/ports/", "/run/ports/COM12"},
        {"\\\\.\\COM65535", "/d", "/d/COM65535"},
        {"\\\\.\\COM0", nullptr, nullptr},
        {"\\\\.\\COM0", "/run/ports", "/run/ports/COM0"},
        {"\\\\.\\COM65536", nullptr, nullptr},
        {"\\\\.\\COM99999", "/run/ports", nullptr},
        {"\\\\.\\COM100000", nullptr, nullptr},
        {"\\\\.\\COM4294967297", nullptr, nullptr},
        {"\\\\.\\COM01", "/run/ports", nullptr},
        {"\\\\.\\COM", nullptr, nullptr},
        {"\\\\.\\COM1 ", nullptr, nullptr},
        {"\\\\.\\COM1x", nullptr, nullptr},
        {"\\\\.\\COM-1", nullptr, nullptr},
        {"\\\\.\\COM+1", nullptr, nullptr},
        {"\\\\.\\com1", nullptr, nullptr},
        {"\\\\.\\LPT1", nullptr, nullptr},
        {"\\\\?\\COM1", nullptr, nullptr},
        {"\\.\\COM1", nullptr, nullptr},
        {"COM1", "/run/ports", nullptr},
        {" \\\\.\\COM1", nullptr, nullptr},
        {"/dev/ttyS0", nullptr, nullptr},
        {"", nullptr, nullptr},
        {nullptr, "/run/ports", nullptr},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(std::string("name ") + (c.name ? c.name : "(null)") + " dir " +
                     (c.dir ? c.dir : "(null)"));
        char path[PATH_MAX];
        errno = 0;
        const bool ok = varnox::serial::ResolveDevicePath(c.name, c.dir, path, sizeof path);
        if (c.expected != nullptr) {
            ASSERT_TRUE(ok);
            EXPECT_STREQ(path, c.expected);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(errno, ENOENT);
        }
    }
}

TEST(PosixDeviceName, NeverWritesPastTheBuffer) {
    // "/dev/ttyS65534" and "/p/COM65535" are 14 and 11 characters long.
    const struct {
        const char* dir;
        std::size_t length;
    } cases[] = {{nullptr, 14}, {"/p", 11}};
    for (const auto& c : cases) {
        for (std::size_t size = 0; size <= c.length + 1; ++size) {
            SCOPED_TRACE("size " + std::to_string(size));
            char buffer[32];
            std::memset(buffer, '#', sizeof buffer);
            errno = 0;
            const bool ok =
                varnox::serial::ResolveDevicePath("\\\\.\\COM65535", c.dir, buffer, size);
            EXPECT_EQ(ok, size == c.length + 1);
            if (!ok) {
                EXPECT_EQ(errno, ENAMETOOLONG);
            }
            for (std::size_t i = size; i < sizeof buffer; ++i) {
                ASSERT_EQ(buffer[i], '#') << "byte " << i;
            }
        }
    }
}

TEST(PosixDeviceName, OpenRefusesATooLongDirectory) {
    PseudoTerminal pty;
    const std::string longDir(2 * PATH_MAX, 'd');
    ASSERT_EQ(::setenv(varnox::serial::kDeviceDirVariable, ("/" + longDir).c_str(), 1), 0);
    errno = 0;
    EXPECT_EQ(PlatformLayer().Open(pty.DeviceName().c_str()), kInvalidHandle);
    EXPECT_EQ(errno, ENAMETOOLONG);
}

// ---------------------------------------------------------------------------
// Pure checks of the helpers the layer uses on devices.

TEST(PosixLineSettingTaken, ComparesWhatTheLayerManages) {
    termios asked{};
    ::cfmakeraw(&asked);
    ::cfsetispeed(&asked, B9600);
    ::cfsetospeed(&asked, B9600);
    asked.c_cflag |= PARENB | CLOCAL | CREAD;

    const struct {
        const char* what;
        std::function<void(termios&)> change;
        bool takenOnTty;
        bool takenOnPty;
    } cases[] = {
        {"nothing", [](termios&) {}, true, true},
        {"output speed", [](termios& t) { ::cfsetospeed(&t, B19200); }, false, false},
        {"input speed", [](termios& t) { ::cfsetispeed(&t, B19200); }, false, false},
        {"character size",
         [](termios& t) { t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7; }, false,
         true},
        {"parity dropped", [](termios& t) { t.c_cflag &= ~static_cast<tcflag_t>(PARENB); }, false,
         true},
        {"odd parity", [](termios& t) { t.c_cflag |= PARODD; }, false, true},
        {"stick parity", [](termios& t) { t.c_cflag |= CMSPAR; }, false, true},
        {"stop bits", [](termios& t) { t.c_cflag |= CSTOPB; }, false, false},
        {"hardware flow", [](termios& t) { t.c_cflag |= CRTSCTS; }, false, false},
        {"xon output", [](termios& t) { t.c_iflag |= IXON; }, false, false},
        {"xon input", [](termios& t) { t.c_iflag |= IXOFF; }, false, false},
        {"echo", [](termios& t) { t.c_lflag |= ECHO; }, true, true},
        {"hang-up on close", [](termios& t) { t.c_cflag |= HUPCL; }, true, true},
        {"interrupt character", [](termios& t) { t.c_cc[VINTR] = 1; }, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        termios got = asked;
        c.change(got);
        EXPECT_EQ(varnox::serial::LineSettingTaken(asked, got, false), c.takenOnTty);
        EXPECT_EQ(varnox::serial::LineSettingTaken(asked, got, true), c.takenOnPty);
    }
}

TEST(PosixPseudoTerminalCheck, RecognisesOnlyPtySlaves) {
    PseudoTerminal pty;
    char file[] = "/tmp/varnox-plain-XXXXXX";
    const int plain = ::mkstemp(file);
    ASSERT_GE(plain, 0);
    ::unlink(file);
    const int slave = pty.OpenSlave();
    ASSERT_GE(slave, 0);
    const int null = ::open("/dev/null", O_RDWR);
    ASSERT_GE(null, 0);

    EXPECT_TRUE(varnox::serial::IsPseudoTerminal(slave));
    EXPECT_FALSE(varnox::serial::IsPseudoTerminal(pty.MasterFd()));
    EXPECT_FALSE(varnox::serial::IsPseudoTerminal(null));
    EXPECT_FALSE(varnox::serial::IsPseudoTerminal(plain));
    EXPECT_FALSE(varnox::serial::IsPseudoTerminal(-1));
    ::close(null);
    ::close(slave);
    ::close(plain);
}

// ---------------------------------------------------------------------------
// The layer over a pseudo-terminal.

LineSettings ProtocolSettings(const LineSettings& from) {
    LineSettings s = from;
    s.baudRate = 9600;
    s.dataBits = 8;
    s.parity = Parity::kEven;
    s.stopBits = StopBits::kOne;
    s.ctsOutFlow = false;
    s.xonXoffOut = false;
    s.xonXoffIn = false;
    return s;
}

class PosixLayerTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (handle != kInvalidHandle) {
            layer.Close(handle);
        }
    }

    // Opens the pty's device and applies 9600 8E1, raw.
    void OpenConfigured() {
        handle = layer.Open(pty.DeviceName().c_str());
        ASSERT_NE(handle, kInvalidHandle) << std::strerror(errno);
        LineSettings current;
        ASSERT_TRUE(layer.GetState(handle, current)) << std::strerror(errno);
        ASSERT_TRUE(layer.SetState(handle, ProtocolSettings(current))) << std::strerror(errno);
    }

    void UseTimeouts(const Timeouts& t) { ASSERT_TRUE(layer.SetTimeouts(handle, t)); }

    // Collects `count` bytes through the layer, allowing `limitMs` in all.
    std::string ReadThroughLayer(std::size_t count, int limitMs) {
        std::string received;
        const auto start = Clock::now();
        while (received.size() < count && MsSince(start) < limitMs) {
            char buffer[512];
            std::uint32_t got = 0;
            const auto want =
                static_cast<std::uint32_t>(std::min(sizeof buffer, count - received.size()));
            if (!layer.Read(handle, buffer, want, got)) {
                break;
            }
            received.append(buffer, got);
        }
        return received;
    }

    SerialLayer& layer = PlatformLayer();
    PseudoTerminal pty;
    HandleType handle = kInvalidHandle;
};

TEST_F(PosixLayerTest, OpensTheDeviceNamedByTheDirectoryAtEachOpen) {
    OpenConfigured();
    // A second pty named COM1 in another directory: the next open must
    // follow the variable to it.
    PseudoTerminal other;
    const HandleType second = layer.Open(other.DeviceName().c_str());
    ASSERT_NE(second, kInvalidHandle) << std::strerror(errno);
    LineSettings s;
    ASSERT_TRUE(layer.GetState(second, s));
    ASSERT_TRUE(layer.SetState(second, ProtocolSettings(s)));
    ASSERT_TRUE(layer.SetTimeouts(second, kWaitSet));
    ASSERT_TRUE(other.WriteFromMaster("B"));
    ASSERT_TRUE(pty.WriteFromMaster("A"));
    char c = 0;
    std::uint32_t got = 0;
    EXPECT_TRUE(layer.Read(second, &c, 1, got));
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(c, 'B');
    EXPECT_TRUE(layer.Close(second));
}

TEST_F(PosixLayerTest, OpenFailsForAMissingDeviceOrANonTerminal) {
    errno = 0;
    EXPECT_EQ(layer.Open("\\\\.\\COM2"), kInvalidHandle);
    EXPECT_EQ(errno, ENOENT);

    const std::string file = pty.DeviceDir() + "/plain";
    const std::string link = pty.DeviceDir() + "/COM3";
    const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);
    errno = 0;
    EXPECT_EQ(layer.Open("\\\\.\\COM3"), kInvalidHandle);
    EXPECT_EQ(errno, ENOTTY);
    ::unlink(link.c_str());
    ::unlink(file.c_str());
}

TEST_F(PosixLayerTest, AppliesTheProtocolSettingRaw) {
    // Start from a device left in a state far from ours, so that every flag
    // checked below must have been changed by the layer.
    {
        const int fd = pty.OpenSlave();
        ASSERT_GE(fd, 0) << std::strerror(errno);
        termios dirty{};
        ASSERT_EQ(::tcgetattr(fd, &dirty), 0);
        dirty.c_iflag |= ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | IXANY | INPCK | IGNPAR |
                         PARMRK | BRKINT;
        dirty.c_oflag |= OPOST | ONLCR;
        dirty.c_lflag |= ICANON | ECHO | ECHONL | ISIG | IEXTEN;
        dirty.c_cflag |= CSTOPB | CRTSCTS;
        dirty.c_cflag &= ~static_cast<tcflag_t>(CLOCAL | CREAD);
        dirty.c_cc[VMIN] = 0;
        dirty.c_cc[VTIME] = 5;
        ::cfsetispeed(&dirty, B2400);
        ::cfsetospeed(&dirty, B2400);
        ASSERT_EQ(::tcsetattr(fd, TCSANOW, &dirty), 0) << std::strerror(errno);
        ::close(fd);
    }
    OpenConfigured();
    termios t{};
    ASSERT_TRUE(pty.SlaveSettings(t)) << std::strerror(errno);

    EXPECT_EQ(::cfgetispeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    const struct {
        const char* name;
        tcflag_t flags;
        tcflag_t bit;
    } mustBeOff[] = {
        {"CSTOPB", t.c_cflag, CSTOPB}, {"CRTSCTS", t.c_cflag, CRTSCTS},
        {"ICANON", t.c_lflag, ICANON}, {"ECHO", t.c_lflag, ECHO},
        {"ECHONL", t.c_lflag, ECHONL}, {"ISIG", t.c_lflag, ISIG},
        {"IEXTEN", t.c_lflag, IEXTEN}, {"OPOST", t.c_oflag, OPOST},
        {"ICRNL", t.c_iflag, ICRNL},   {"INLCR", t.c_iflag, INLCR},
        {"IGNCR", t.c_iflag, IGNCR},   {"ISTRIP", t.c_iflag, ISTRIP},
        {"IXON", t.c_iflag, IXON},     {"IXOFF", t.c_iflag, IXOFF},
        {"IXANY", t.c_iflag, IXANY},   {"INPCK", t.c_iflag, INPCK},
        {"IGNPAR", t.c_iflag, IGNPAR}, {"PARMRK", t.c_iflag, PARMRK},
        {"BRKINT", t.c_iflag, BRKINT}, {"IGNBRK", t.c_iflag, IGNBRK},
    };
    for (const auto& f : mustBeOff) {
        EXPECT_EQ(f.flags & f.bit, 0u) << f.name;
    }

    LineSettings back;
    ASSERT_TRUE(layer.GetState(handle, back));
    EXPECT_EQ(back.baudRate, 9600u);
    EXPECT_EQ(back.dataBits, 8);
    EXPECT_EQ(back.stopBits, StopBits::kOne);
    EXPECT_FALSE(back.ctsOutFlow);
    EXPECT_FALSE(back.xonXoffOut);
    EXPECT_FALSE(back.xonXoffIn);
}

TEST_F(PosixLayerTest, KeepsNativeSettingsItDoesNotManage) {
    OpenConfigured();
    LineSettings s;
    ASSERT_TRUE(layer.GetState(handle, s));
    termios native{};
    std::memcpy(&native, s.native, sizeof native);
    native.c_cflag ^= HUPCL;
    const tcflag_t wantedHupcl = native.c_cflag & HUPCL;
    std::memcpy(s.native, &native, sizeof native);
    ASSERT_TRUE(layer.SetState(handle, s)) << std::strerror(errno);

    termios t{};
    ASSERT_TRUE(pty.SlaveSettings(t));
    EXPECT_EQ(t.c_cflag & HUPCL, wantedHupcl);
}

TEST_F(PosixLayerTest, AppliesAndReportsLineSettings) {
    OpenConfigured();
    struct Case {
        std::uint32_t baud;
        speed_t code;
        std::uint8_t dataBits;
        Parity parity;
        StopBits stopBits;
        bool cts;
        bool xonOut;
        bool xonIn;
    };
    const Case cases[] = {
        {115200, B115200, 7, Parity::kOdd, StopBits::kTwo, true, true, true},
        {19200, B19200, 8, Parity::kMark, StopBits::kOne, false, true, false},
        {1200, B1200, 5, Parity::kSpace, StopBits::kTwo, false, false, true},
        {9600, B9600, 8, Parity::kNone, StopBits::kOne, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("baud " + std::to_string(c.baud));
        LineSettings s;
        ASSERT_TRUE(layer.GetState(handle, s));
        s.baudRate = c.baud;
        s.dataBits = c.dataBits;
        s.parity = c.parity;
        s.stopBits = c.stopBits;
        s.ctsOutFlow = c.cts;
        s.xonXoffOut = c.xonOut;
        s.xonXoffIn = c.xonIn;
        // The second pass asks for what is already in place: a pty must not
        // refuse it over the parity or character size it cannot keep.
        for (int pass = 0; pass < 2; ++pass) {
            ASSERT_TRUE(layer.SetState(handle, s))
                << "pass " << pass << ": " << std::strerror(errno);
        }

        termios t{};
        ASSERT_TRUE(pty.SlaveSettings(t));
        EXPECT_EQ(::cfgetospeed(&t), c.code);
        EXPECT_EQ(::cfgetispeed(&t), c.code);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.stopBits == StopBits::kTwo);
        EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.cts);
        EXPECT_EQ((t.c_iflag & IXON) != 0, c.xonOut);
        EXPECT_EQ((t.c_iflag & IXOFF) != 0, c.xonIn);
        // A pty keeps neither parity nor a character size other than 8.
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));

        LineSettings back;
        ASSERT_TRUE(layer.GetState(handle, back));
        EXPECT_EQ(back.baudRate, c.baud);
        EXPECT_EQ(back.stopBits, c.stopBits);
        EXPECT_EQ(back.ctsOutFlow, c.cts);
        EXPECT_EQ(back.xonXoffOut, c.xonOut);
        EXPECT_EQ(back.xonXoffIn, c.xonIn);
        EXPECT_EQ(back.parity, Parity::kNone);
        EXPECT_EQ(back.dataBits, 8);
    }
}

TEST_F(PosixLayerTest, RefusesSettingsItCannotApplyAndChangesNothing) {
    OpenConfigured();
    const struct {
        const char* what;
        std::function<void(LineSettings&)> change;
    } cases[] = {
        {"baud 0", [](LineSettings& s) { s.baudRate = 0; }},
        {"baud 12345", [](LineSettings& s) { s.baudRate = 12345; }},
        {"baud 9601", [](LineSettings& s) { s.baudRate = 9601; }},
        {"4 data bits", [](LineSettings& s) { s.dataBits = 4; }},
        {"9 data bits", [](LineSettings& s) { s.dataBits = 9; }},
        {"1.5 stop bits", [](LineSettings& s) { s.stopBits = StopBits::kOneAndHalf; }},
        {"DSR flow control", [](LineSettings& s) { s.dsrOutFlow = true; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LineSettings s;
        ASSERT_TRUE(layer.GetState(handle, s));
        // A valid change alongside the bad one must not be applied either.
        s.baudRate = 19200;
        s.stopBits = StopBits::kTwo;
        c.change(s);
        errno = 0;
        EXPECT_FALSE(layer.SetState(handle, s));
        EXPECT_EQ(errno, EINVAL);

        termios t{};
        ASSERT_TRUE(pty.SlaveSettings(t));
        EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
        EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    }
}

TEST_F(PosixLayerTest, SameSettingAppliesAgainAfterReopen) {
    // Even parity on a pty: a repeated request whose only difference from
    // the current setting is the parity would be refused with EINVAL.
    OpenConfigured();
    LineSettings s;
    ASSERT_TRUE(layer.GetState(handle, s));
    EXPECT_TRUE(layer.SetState(handle, ProtocolSettings(s))) << std::strerror(errno);
    ASSERT_TRUE(layer.Close(handle));
    handle = kInvalidHandle;

    OpenConfigured();
    ASSERT_TRUE(layer.GetState(handle, s));
    EXPECT_TRUE(layer.SetState(handle, ProtocolSettings(s))) << std::strerror(errno);
}

// ---------------------------------------------------------------------------
// Exclusive use.

TEST_F(PosixLayerTest, ASecondOpenFailsUntilClose) {
    OpenConfigured();
    errno = 0;
    EXPECT_EQ(layer.Open(pty.DeviceName().c_str()), kInvalidHandle);
    EXPECT_EQ(errno, EBUSY);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const HandleType h = PlatformLayer().Open(pty.DeviceName().c_str());
        ::_exit(h == kInvalidHandle && errno == EBUSY ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child process could open the held device";

    ASSERT_TRUE(layer.Close(handle));
    handle = layer.Open(pty.DeviceName().c_str());
    EXPECT_NE(handle, kInvalidHandle) << std::strerror(errno);
}

TEST_F(PosixLayerTest, ClearsTheExclusiveFlagOnClose) {
    OpenConfigured();
    int exclusive = -1;
    const int held = pty.OpenSlave();
    if (held < 0) {
        EXPECT_EQ(errno, EBUSY);  // not root: the flag keeps us out
    } else {
        ASSERT_EQ(::ioctl(held, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
        ::close(held);
    }

    ASSERT_TRUE(layer.Close(handle));
    handle = kInvalidHandle;
    // The master is still open, so the slave would keep the flag.
    const int after = pty.OpenSlave();
    ASSERT_GE(after, 0) << std::strerror(errno);
    ASSERT_EQ(::ioctl(after, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(after);
}

TEST(PosixLayerTable, OpenFailsWhenEveryRecordIsInUse) {
    SerialLayer& layer = PlatformLayer();
    std::vector<std::unique_ptr<PseudoTerminal>> ptys;
    std::vector<HandleType> handles;

    // Failed opens must give their record back.
    ptys.push_back(std::make_unique<PseudoTerminal>());
    for (std::size_t i = 0; i < kMaxDevices + 10; ++i) {
        ASSERT_EQ(layer.Open("\\\\.\\COM9"), kInvalidHandle);
    }
    for (std::size_t i = 0; i < kMaxDevices; ++i) {
        if (i > 0) {
            ptys.push_back(std::make_unique<PseudoTerminal>());
        }
        const HandleType h = layer.Open(ptys.back()->DeviceName().c_str());
        ASSERT_NE(h, kInvalidHandle) << "device " << i << ": " << std::strerror(errno);
        handles.push_back(h);
    }
    {
        PseudoTerminal extra;
        errno = 0;
        EXPECT_EQ(layer.Open(extra.DeviceName().c_str()), kInvalidHandle);
        EXPECT_EQ(errno, EMFILE);

        ASSERT_TRUE(layer.Close(handles[7]));
        handles[7] = layer.Open(extra.DeviceName().c_str());
        EXPECT_NE(handles[7], kInvalidHandle) << std::strerror(errno);
        if (handles[7] != kInvalidHandle) {
            EXPECT_TRUE(layer.Close(handles[7]));
            handles[7] = kInvalidHandle;
        }
    }
    for (HandleType h : handles) {
        if (h != kInvalidHandle) {
            EXPECT_TRUE(layer.Close(h));
        }
    }
    while (!ptys.empty()) {
        ptys.pop_back();  // newest first, so the variable is restored in order
    }
}

// ---------------------------------------------------------------------------
// Reading under time-out sets.

TEST_F(PosixLayerTest, ReadOfNothingEndsAtTheTotalTimeOut) {
    OpenConfigured();
    UseTimeouts(kWaitSet);
    char c = 0;
    std::uint32_t got = 77;
    const auto start = Clock::now();
    EXPECT_TRUE(layer.Read(handle, &c, 1, got));
    const long long ms = MsSince(start);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(ms, 150);  // 100 * 1 + 100
    EXPECT_LT(ms, 1500);
}

TEST_F(PosixLayerTest, ReadEndsOneIntervalAfterTheLastByte) {
    OpenConfigured();
    UseTimeouts(kWaitSet);  // total for 3 bytes: 400 ms
    ASSERT_TRUE(pty.WriteFromMaster("A"));
    char buffer[3] = {};
    std::uint32_t got = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(layer.Read(handle, buffer, 3, got));
    const long long ms = MsSince(start);
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(buffer[0], 'A');
    EXPECT_GE(ms, 80);
    EXPECT_LT(ms, 350);
}

TEST_F(PosixLayerTest, EachByteExtendsTheInterval) {
    OpenConfigured();
    UseTimeouts(Timeouts{300, 0, 5000, 0, 0});
    std::thread writer([this] {
        for (int i = 0; i < 5; ++i) {
            pty.WriteFromMaster(std::string(1, static_cast<char>('0' + i)));
            SleepMs(40);
        }
    });
    char buffer[10] = {};
    std::uint32_t got = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(layer.Read(handle, buffer, sizeof buffer, got));
    const long long ms = MsSince(start);
    writer.join();
    EXPECT_EQ(std::string(buffer, got), "01234");
    EXPECT_GE(ms, 350);  // last byte at about 160 ms, then 300 ms of quiet
    EXPECT_LT(ms, 3000);
}

TEST_F(PosixLayerTest, TotalTimeOutHoldsWhileBytesKeepComing) {
    OpenConfigured();
    UseTimeouts(Timeouts{0, 0, 300, 0, 0});
    std::thread writer([this] {
        for (int i = 0; i < 20; ++i) {
            pty.WriteFromMaster("x");
            SleepMs(50);
        }
    });
    char buffer[100] = {};
    std::uint32_t got = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(layer.Read(handle, buffer, sizeof buffer, got));
    const long long ms = MsSince(start);
    writer.join();
    EXPECT_GE(got, 1u);
    EXPECT_LT(got, 20u);
    EXPECT_GE(ms, 250);
    EXPECT_LT(ms, 900);
}

TEST_F(PosixLayerTest, ReadEndsWhenTheWantedBytesCame) {
    OpenConfigured();
    UseTimeouts(Timeouts{1000, 0, 5000, 0, 0});
    ASSERT_TRUE(pty.WriteFromMaster("ABCDEFGHIJ"));
    char buffer[10] = {};
    std::uint32_t got = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(layer.Read(handle, buffer, 4, got));
    EXPECT_LT(MsSince(start), 500);
    EXPECT_EQ(std::string(buffer, got), "ABCD");
    EXPECT_TRUE(layer.Read(handle, buffer, 6, got));
    EXPECT_EQ(std::string(buffer, got), "EFGHIJ");
}

TEST_F(PosixLayerTest, ReadWithoutLimitsWaitsForTheWantedBytes) {
    OpenConfigured();
    UseTimeouts(kForeverSet);
    std::thread writer([this] {
        SleepMs(300);
        pty.WriteFromMaster("Q");
        SleepMs(100);
        pty.WriteFromMaster("R");
    });
    char buffer[2] = {};
    std::uint32_t got = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(layer.Read(handle, buffer, 2, got));
    const long long ms = MsSince(start);
    writer.join();
    EXPECT_EQ(std::string(buffer, got), "QR");
    EXPECT_GE(ms, 350);
}

TEST_F(PosixLayerTest, ReadOfZeroBytesReturnsAtOnce) {
    OpenConfigured();
    UseTimeouts(kForeverSet);
    char c = 0;
    std::uint32_t got = 5;
    const auto start = Clock::now();
    EXPECT_TRUE(layer.Read(handle, &c, 0, got));
    EXPECT_EQ(got, 0u);
    EXPECT_LT(MsSince(start), 500);
}

TEST_F(PosixLayerTest, NoWaitReadReturnsWhatIsThere) {
    OpenConfigured();
    UseTimeouts(kNoWaitSet);
    char buffer[8] = {};
    std::uint32_t got = 9;
    auto start = Clock::now();
    EXPECT_TRUE(layer.Read(handle, buffer, sizeof buffer, got));
    EXPECT_LT(MsSince(start), 50);
    EXPECT_EQ(got, 0u);

    ASSERT_TRUE(pty.WriteFromMaster("xyz"));
    std::string received;
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    while (received.size() < 3 && Clock::now() < deadline) {
        start = Clock::now();
        ASSERT_TRUE(layer.Read(handle, buffer, sizeof buffer, got));
        EXPECT_LT(MsSince(start), 50);
        received.append(buffer, got);
    }
    EXPECT_EQ(received, "xyz");
}

extern "C" void IgnoreSignal(int) {}

TEST_F(PosixLayerTest, SignalsDoNotShortenOrStretchTheWait) {
    OpenConfigured();
    UseTimeouts(kWaitSet);
    struct sigaction action {};
    struct sigaction previous {};
    action.sa_handler = IgnoreSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: poll() returns EINTR
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

    const pthread_t reader = ::pthread_self();
    std::atomic<bool> done{false};
    std::thread interrupter([&] {
        while (!done) {
            ::pthread_kill(reader, SIGUSR1);
            SleepMs(30);
        }
    });
    char c = 0;
    std::uint32_t got = 0;
    const auto start = Clock::now();
    const bool ok = layer.Read(handle, &c, 1, got);
    const long long ms = MsSince(start);
    done = true;
    interrupter.join();
    ::sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_TRUE(ok) << std::strerror(errno);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(ms, 150);
    EXPECT_LT(ms, 1500);
}

// ---------------------------------------------------------------------------
// Data in both directions.

TEST_F(PosixLayerTest, EveryByteValuePassesUnchangedBothWays) {
    OpenConfigured();
    UseTimeouts(Timeouts{500, 0, 3000, 0, 0});
    // All 256 values, then the ones a cooked tty is most eager to touch.
    const std::string bytes = AllByteValues() + std::string("\r\n\n\r\0\xff\x11\x13\x03\x04", 10);

    ASSERT_TRUE(pty.WriteFromMaster(bytes));
    EXPECT_EQ(ReadThroughLayer(bytes.size(), 5000), bytes);

    std::uint32_t written = 0;
    ASSERT_TRUE(
        layer.Write(handle, bytes.data(), static_cast<std::uint32_t>(bytes.size()), written));
    EXPECT_EQ(written, bytes.size());
    EXPECT_EQ(pty.ReadFromMaster(bytes.size() + 1, 1000), bytes);
}

TEST_F(PosixLayerTest, WriteWaitsForRoomUntilEveryByteIsTaken) {
    OpenConfigured();
    // Far more than a pty buffers: the layer must wait for the queue to drain.
    std::string big(256 * 1024, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>((i * 7) ^ (i >> 8));
    }
    std::string received;
    std::thread reader([&] {
        SleepMs(100);
        received = pty.ReadFromMaster(big.size(), 10000);
    });
    std::uint32_t written = 0;
    const bool ok =
        layer.Write(handle, big.data(), static_cast<std::uint32_t>(big.size()), written);
    reader.join();
    EXPECT_TRUE(ok) << std::strerror(errno);
    EXPECT_EQ(written, big.size());
    EXPECT_TRUE(received == big) << "received " << received.size() << " bytes";

    written = 3;
    EXPECT_TRUE(layer.Write(handle, big.data(), 0, written));
    EXPECT_EQ(written, 0u);
}

TEST_F(PosixLayerTest, PurgeDiscardsWaitingInput) {
    OpenConfigured();
    UseTimeouts(kNoWaitSet);
    ASSERT_TRUE(pty.WriteFromMaster("stale"));
    SleepMs(100);
    EXPECT_TRUE(layer.Purge(handle));
    char buffer[8];
    std::uint32_t got = 0;
    EXPECT_TRUE(layer.Read(handle, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);
}

// ---------------------------------------------------------------------------
// A device that goes away.

TEST_F(PosixLayerTest, ReadAndWriteFailOnceTheFarSideIsGone) {
    const struct {
        const char* name;
        Timeouts set;
    } sets[] = {{"no wait", kNoWaitSet}, {"100/100/100", kWaitSet}, {"no limit", kForeverSet}};
    for (const auto& s : sets) {
        SCOPED_TRACE(s.name);
        PseudoTerminal vanishing;
        const HandleType h = layer.Open(vanishing.DeviceName().c_str());
        ASSERT_NE(h, kInvalidHandle) << std::strerror(errno);
        LineSettings ls;
        ASSERT_TRUE(layer.GetState(h, ls));
        ASSERT_TRUE(layer.SetState(h, ProtocolSettings(ls)));
        ASSERT_TRUE(layer.SetTimeouts(h, s.set));
        vanishing.CloseMaster();

        for (int attempt = 0; attempt < 2; ++attempt) {
            char buffer[4];
            std::uint32_t got = 9;
            errno = 0;
            const auto start = Clock::now();
            EXPECT_FALSE(layer.Read(h, buffer, sizeof buffer, got));
            EXPECT_LT(MsSince(start), 1000);
            EXPECT_EQ(got, 0u);
            EXPECT_EQ(errno, EIO);
        }
        std::uint32_t written = 9;
        EXPECT_FALSE(layer.Write(h, "x", 1, written));
        EXPECT_EQ(written, 0u);
        EXPECT_TRUE(layer.Close(h));
    }
}

TEST_F(PosixLayerTest, BytesReceivedBeforeTheHangUpAreDelivered) {
    OpenConfigured();
    UseTimeouts(Timeouts{0, 0, 5000, 0, 0});
    std::thread vanisher([this] {
        pty.WriteFromMaster("ab");
        SleepMs(200);
        pty.CloseMaster();
    });
    char buffer[10] = {};
    std::uint32_t got = 0;
    const auto start = Clock::now();
    EXPECT_TRUE(layer.Read(handle, buffer, sizeof buffer, got));
    vanisher.join();
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(std::string(buffer, got), "ab");

    EXPECT_FALSE(layer.Read(handle, buffer, sizeof buffer, got));
    EXPECT_EQ(got, 0u);
}

// ---------------------------------------------------------------------------
// Modem lines: a pty has none.

TEST_F(PosixLayerTest, DrivingLinesOnAPtyHasNoEffectAndSucceeds) {
    OpenConfigured();
    for (Escape e : {Escape::kSetRts, Escape::kClearRts, Escape::kSetDtr, Escape::kClearDtr}) {
        EXPECT_TRUE(layer.EscapeFunction(handle, e))
            << "escape " << static_cast<int>(e) << ": " << std::strerror(errno);
    }
}

TEST_F(PosixLayerTest, ReadingStatusLinesOnAPtyFails) {
    OpenConfigured();
    std::uint32_t bits = 0xFFFF;
    errno = 0;
    EXPECT_FALSE(layer.ModemStatus(handle, bits));
    EXPECT_EQ(bits, 0u);
    EXPECT_EQ(errno, ENOTTY);
}

// ---------------------------------------------------------------------------
// Handles that name no open device.

TEST_F(PosixLayerTest, EveryOperationRefusesAHandleThatNamesNoDevice) {
    OpenConfigured();
    const HandleType live = handle;

    PseudoTerminal other;
    const HandleType stale = layer.Open(other.DeviceName().c_str());
    ASSERT_NE(stale, kInvalidHandle);
    ASSERT_TRUE(layer.Close(stale));

    const struct {
        const char* what;
        HandleType h;
    } handles[] = {
        {"kInvalidHandle", kInvalidHandle},
        {"zero", 0},
        {"small integer", 3},
        {"last index", static_cast<HandleType>(kMaxDevices - 1)},
        {"negative", -2},
        {"largest", INTPTR_MAX},
        {"closed", stale},
        {"live index, other generation", live + static_cast<HandleType>(kMaxDevices)},
        {"live index, earlier generation", live - static_cast<HandleType>(kMaxDevices)},
    };
    for (const auto& c : handles) {
        SCOPED_TRACE(c.what);
        LineSettings s;
        std::uint32_t bits = 0;
        std::uint32_t count = 1;
        char buffer[4];
        const struct {
            const char* op;
            std::function<bool()> call;
            bool zeroesCount;
        } ops[] = {
            {"GetState", [&] { return layer.GetState(c.h, s); }, false},
            {"SetState", [&] { return layer.SetState(c.h, s); }, false},
            {"SetTimeouts", [&] { return layer.SetTimeouts(c.h, kWaitSet); }, false},
            {"Purge", [&] { return layer.Purge(c.h); }, false},
            {"EscapeFunction", [&] { return layer.EscapeFunction(c.h, Escape::kSetDtr); }, false},
            {"ModemStatus", [&] { return layer.ModemStatus(c.h, bits); }, false},
            {"Read", [&] { return layer.Read(c.h, buffer, sizeof buffer, count); }, true},
            {"Read nothing", [&] { return layer.Read(c.h, buffer, 0, count); }, true},
            {"Write", [&] { return layer.Write(c.h, "x", 1, count); }, true},
            {"Close", [&] { return layer.Close(c.h); }, false},
        };
        for (const auto& op : ops) {
            SCOPED_TRACE(op.op);
            errno = 0;
            count = 1;
            EXPECT_FALSE(op.call());
            EXPECT_EQ(errno, EBADF);
            if (op.zeroesCount) {
                EXPECT_EQ(count, 0u);
            }
        }
    }
    // None of that touched the device that is open.
    LineSettings s;
    EXPECT_TRUE(layer.GetState(live, s)) << std::strerror(errno);
}

}  // namespace
