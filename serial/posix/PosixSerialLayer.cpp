// The serial layer on POSIX systems (Linux first): termios for the line
// setting, ioctl for the modem lines, non-blocking descriptors and poll() for
// every wait. This is the only file that touches serial devices directly.
//
// Handles. Each open device has a record in a static table of kMaxDevices
// entries, so Open never allocates. The handle is
//     generation * kMaxDevices + index
// where `generation` counts how often the record was released, plus one. Small
// integers (file descriptors, bare indexes) are therefore never valid
// handles, and a handle kept after Close stops working even when its record
// has been reused. Every operation given a handle that does not name an open
// record fails with EBADF.
//
// Hang-up. A device that is gone (poll() reports POLLHUP, POLLERR or POLLNVAL
// without data, read() fails with EIO, or read() returns 0 right after poll()
// reported the device readable) makes a read fail with EIO (EBADF for
// POLLNVAL) when nothing came in that call: it is never taken for a time-out
// and never spins. Bytes received earlier in the same call are returned as a
// success so that none are lost; the condition persists and the next read
// fails.
//
// Errors are reported through errno, captured where the failure happens and
// restored after any clean-up call.
#include "serial/posix/PosixSerialLayer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "serial/SerialLayer.h"

namespace varnox::serial {

static_assert(sizeof(termios) <= sizeof(LineSettings::native),
              "LineSettings::native must hold a struct termios");

namespace {

// The characters \\.\COM
constexpr char kNamePrefix[] = "\\\\.\\COM";
constexpr std::size_t kNamePrefixLength = sizeof(kNamePrefix) - 1;
constexpr unsigned long kMaxPortNumber = 65535;

// Unix98 pseudo-terminal slaves: majors 136..143.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

// Generations stay small enough that a handle fits a 32-bit intptr_t.
constexpr std::uint32_t kMaxGeneration = (1u << 24) - 1;

// Longest wait a time-out set can describe is about 2^64 ms; cap it well
// below the range of a nanosecond count. 10^12 ms is over 30 years.
constexpr std::uint64_t kMaxWaitMs = 1000000000000ull;

struct Device {
    std::atomic<bool> inUse{false};
    // Advanced whenever the record is released, so the handles of earlier
    // opens stop matching before the record can be claimed again.
    std::atomic<std::uint32_t> generation{1};
    int fd = -1;
    bool pseudoTerminal = false;
    bool exclusiveFlag = false;  // TIOCEXCL was set and must be cleared again
    Timeouts timeouts;
};

Device gDevices[kMaxDevices];

HandleType MakeHandle(std::size_t index, std::uint32_t generation) {
    return static_cast<HandleType>(generation) * static_cast<HandleType>(kMaxDevices) +
           static_cast<HandleType>(index);
}

Device* Find(HandleType h) {
    if (h <= 0) {
        return nullptr;
    }
    const auto index = static_cast<std::size_t>(h % static_cast<HandleType>(kMaxDevices));
    const HandleType generation = h / static_cast<HandleType>(kMaxDevices);
    Device& d = gDevices[index];
    if (!d.inUse.load(std::memory_order_acquire) ||
        static_cast<HandleType>(d.generation.load(std::memory_order_relaxed)) != generation) {
        return nullptr;
    }
    return &d;
}

// Looks up a handle, setting errno to EBADF when it names no open device.
Device* FindOrFail(HandleType h) {
    Device* d = Find(h);
    if (d == nullptr) {
        errno = EBADF;
    }
    return d;
}

// Takes a free record; nullptr when the table is full.
Device* Claim(std::size_t& index) {
    for (std::size_t i = 0; i < kMaxDevices; ++i) {
        bool expected = false;
        if (gDevices[i].inUse.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) {
            index = i;
            return &gDevices[i];
        }
    }
    return nullptr;
}

void Release(Device& d) {
    d.fd = -1;
    d.pseudoTerminal = false;
    d.exclusiveFlag = false;
    d.timeouts = Timeouts{};
    std::uint32_t next = d.generation.load(std::memory_order_relaxed) + 1;
    if (next > kMaxGeneration) {
        next = 1;
    }
    d.generation.store(next, std::memory_order_relaxed);
    d.inUse.store(false, std::memory_order_release);
}

// Closes `fd` during a failed Open without losing the errno of the failure.
void CloseKeepingErrno(int fd, bool exclusiveFlag) {
    const int saved = errno;
    if (exclusiveFlag) {
        ::ioctl(fd, TIOCNXCL);
    }
    ::close(fd);
    errno = saved;
}

std::int64_t NowNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::int64_t MsToNs(std::uint64_t ms) {
    return static_cast<std::int64_t>(ms < kMaxWaitMs ? ms : kMaxWaitMs) * 1000000;
}

// poll() time-out for the time left until `deadline`, rounded up so that the
// wait never ends before the deadline.
int PollTimeoutMs(std::int64_t deadline, std::int64_t now) {
    const std::int64_t leftMs = (deadline - now + 999999) / 1000000;
    return leftMs > INT_MAX ? INT_MAX : static_cast<int>(leftMs);
}

struct BaudEntry {
    std::uint32_t rate;
    speed_t code;
};

constexpr BaudEntry kBaudRates[] = {
    {50, B50},           {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},         {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},     {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

bool SpeedCode(std::uint32_t rate, speed_t& code) {
    for (const BaudEntry& e : kBaudRates) {
        if (e.rate == rate) {
            code = e.code;
            return true;
        }
    }
    return false;
}

std::uint32_t RateOf(speed_t code) {
    for (const BaudEntry& e : kBaudRates) {
        if (e.code == code) {
            return e.rate;
        }
    }
    return 0;
}

constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;
constexpr tcflag_t kSoftFlowBits = IXON | IXOFF;

// Builds the termios that SetState asks for. False (errno EINVAL) for a
// setting the layer cannot express.
bool BuildTermios(const LineSettings& s, bool pseudoTerminal, termios& t) {
    std::memcpy(&t, s.native, sizeof t);

    speed_t speed = B0;
    if (!SpeedCode(s.baudRate, speed) || s.dataBits < 5 || s.dataBits > 8 ||
        s.stopBits == StopBits::kOneAndHalf || s.dsrOutFlow) {
        errno = EINVAL;
        return false;
    }

    // Raw: every byte passes unchanged in both directions (NUL, 0xFF, CR, LF,
    // XON/XOFF when software flow control is off, ^C). INPCK, IGNPAR and
    // PARMRK stay off on purpose: with them Linux drops bytes with a parity
    // error or replaces them with marker sequences. The UART still generates
    // and checks parity, but a byte that fails the check is delivered as it
    // was received; detecting it is left to the protocol above.
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK | IGNPAR | IMAXBEL);
#ifdef IUCLC
    t.c_iflag &= ~static_cast<tcflag_t>(IUCLC);
#endif
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);

    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | kParityBits | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;

    // A pseudo-terminal has no parity and no character size: the kernel
    // forces CS8 and clears PARENB on every change. tcsetattr reads the
    // setting back and fails with EINVAL when nothing it asked for was taken,
    // so re-applying an even-parity setting would fail. Asking for what the
    // pty keeps makes the same setting apply again and again.
    const std::uint8_t dataBits = pseudoTerminal ? 8 : s.dataBits;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[dataBits - 5];

    if (!pseudoTerminal) {
        switch (s.parity) {
            case Parity::kNone: break;
            case Parity::kOdd: t.c_cflag |= PARENB | PARODD; break;
            case Parity::kEven: t.c_cflag |= PARENB; break;
            case Parity::kMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
            case Parity::kSpace: t.c_cflag |= PARENB | CMSPAR; break;
            default: errno = EINVAL; return false;
        }
    }
    if (s.stopBits == StopBits::kTwo) {
        t.c_cflag |= CSTOPB;
    }
    if (s.ctsOutFlow) {
        t.c_cflag |= CRTSCTS;
    }
    if (s.xonXoffOut) {
        t.c_iflag |= IXON;
    }
    if (s.xonXoffIn) {
        t.c_iflag |= IXOFF;
    }

    // One byte satisfies a read; waits are done with poll(), and with
    // VMIN=0 a non-blocking read of an empty queue would return 0 like EOF.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0) {
        errno = EINVAL;
        return false;
    }
    return true;
}

// The device went away (hang-up, I/O error) or failed during a read. Bytes
// already received in this call are delivered as a success so that nothing
// is lost; the condition persists, so the next read reports it.
bool EndReadWithError(std::uint32_t got, int error) {
    if (got > 0) {
        return true;
    }
    errno = error;
    return false;
}

int HangupError(short revents) {
    return (revents & POLLNVAL) != 0 ? EBADF : EIO;
}

// A read() that returned 0 on a raw tty with VMIN=1 means hang-up, but only
// trust it when poll() agrees that the descriptor is ready or broken.
bool ConfirmedGone(int fd) {
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

class PosixSerialLayer : public SerialLayer {
public:
    HandleType Open(const char* name) override;
    bool GetState(HandleType h, LineSettings& settings) override;
    bool SetState(HandleType h, const LineSettings& settings) override;
    bool SetTimeouts(HandleType h, const Timeouts& timeouts) override;
    bool Purge(HandleType h) override;
    bool EscapeFunction(HandleType h, Escape what) override;
    bool ModemStatus(HandleType h, std::uint32_t& bits) override;
    bool Read(HandleType h, void* buffer, std::uint32_t wanted, std::uint32_t& got) override;
    bool Write(HandleType h, const void* data, std::uint32_t count,
               std::uint32_t& written) override;
    bool Close(HandleType h) override;

private:
    static bool ReadAvailable(const Device& d, unsigned char* out, std::uint32_t wanted,
                              std::uint32_t& got);
    static bool ReadTimed(const Device& d, unsigned char* out, std::uint32_t wanted,
                          std::uint32_t& got);
};

HandleType PosixSerialLayer::Open(const char* name) {
    char path[PATH_MAX];
    if (!ResolveDevicePath(name, std::getenv(kDeviceDirVariable), path, sizeof path)) {
        return kInvalidHandle;
    }

    // Claim the record first: with a full table the device is not touched.
    std::size_t index = 0;
    Device* d = Claim(index);
    if (d == nullptr) {
        errno = EMFILE;
        return kInvalidHandle;
    }

    // Non-blocking so that a missing carrier never blocks the open, and the
    // descriptor stays non-blocking: every wait is a poll().
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int saved = errno;
        Release(*d);
        errno = saved;
        return kInvalidHandle;
    }
    if (::isatty(fd) == 0) {
        CloseKeepingErrno(fd, false);
        Release(*d);
        return kInvalidHandle;
    }
    // TIOCEXCL does not stop root from opening the device again; the lock
    // does, for anyone who opens it through this layer.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            errno = EBUSY;
        }
        CloseKeepingErrno(fd, false);
        Release(*d);
        return kInvalidHandle;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        CloseKeepingErrno(fd, false);
        Release(*d);
        return kInvalidHandle;
    }

    d->fd = fd;
    d->pseudoTerminal = IsPseudoTerminal(fd);
    d->exclusiveFlag = true;
    d->timeouts = Timeouts{};
    return MakeHandle(index, d->generation.load(std::memory_order_relaxed));
}

bool PosixSerialLayer::GetState(HandleType h, LineSettings& settings) {
    Device* d = FindOrFail(h);
    if (d == nullptr) {
        return false;
    }
    termios t{};
    if (::tcgetattr(d->fd, &t) != 0) {
        return false;
    }
    std::memcpy(settings.native, &t, sizeof t);

    settings.baudRate = RateOf(::cfgetospeed(&t));
    switch (t.c_cflag & CSIZE) {
        case CS5: settings.dataBits = 5; break;
        case CS6: settings.dataBits = 6; break;
        case CS7: settings.dataBits = 7; break;
        default: settings.dataBits = 8; break;
    }
    if ((t.c_cflag & PARENB) == 0) {
        settings.parity = Parity::kNone;
    } else if ((t.c_cflag & CMSPAR) != 0) {
        settings.parity = (t.c_cflag & PARODD) != 0 ? Parity::kMark : Parity::kSpace;
    } else {
        settings.parity = (t.c_cflag & PARODD) != 0 ? Parity::kOdd : Parity::kEven;
    }
    settings.stopBits = (t.c_cflag & CSTOPB) != 0 ? StopBits::kTwo : StopBits::kOne;
    settings.binary = true;
    settings.parityCheck = (t.c_iflag & INPCK) != 0;
    settings.ctsOutFlow = (t.c_cflag & CRTSCTS) != 0;
    settings.dsrOutFlow = false;
    // Linux raises DTR and RTS when the device opens; with CRTSCTS the driver
    // drives RTS.
    settings.dtrControl = LineControl::kEnable;
    settings.rtsControl = settings.ctsOutFlow ? LineControl::kHandshake : LineControl::kEnable;
    settings.dsrSensitivity = false;
    settings.txContinueOnXoff = false;
    settings.xonXoffOut = (t.c_iflag & IXON) != 0;
    settings.xonXoffIn = (t.c_iflag & IXOFF) != 0;
    settings.replaceParityErrors = (t.c_iflag & PARMRK) != 0;
    settings.discardNul = false;
    settings.abortOnError = false;
    settings.eventChar = 0;
    return true;
}

bool PosixSerialLayer::SetState(HandleType h, const LineSettings& settings) {
    Device* d = FindOrFail(h);
    if (d == nullptr) {
        return false;
    }
    termios asked{};
    if (!BuildTermios(settings, d->pseudoTerminal, asked)) {
        return false;
    }
    if (::tcsetattr(d->fd, TCSANOW, &asked) != 0) {
        return false;
    }
    // tcsetattr succeeds when any part of the change was taken; a device
    // that cannot do, say, 2 stop bits or mark parity silently keeps its old
    // value. Read back and insist on everything that was asked.
    termios got{};
    if (::tcgetattr(d->fd, &got) != 0) {
        return false;
    }
    if (!LineSettingTaken(asked, got, d->pseudoTerminal)) {
        errno = EINVAL;
        return false;
    }
    return true;
}

bool PosixSerialLayer::SetTimeouts(HandleType h, const Timeouts& timeouts) {
    // Only remembered: a poll loop switches time-out sets twice per call, so
    // this must cost no system call.
    Device* d = FindOrFail(h);
    if (d == nullptr) {
        return false;
    }
    d->timeouts = timeouts;
    return true;
}

bool PosixSerialLayer::Purge(HandleType h) {
    Device* d = FindOrFail(h);
    if (d == nullptr) {
        return false;
    }
    return ::tcflush(d->fd, TCIOFLUSH) == 0;
}

bool PosixSerialLayer::EscapeFunction(HandleType h, Escape what) {
    Device* d = FindOrFail(h);
    if (d == nullptr) {
        return false;
    }
    int bits = 0;
    unsigned long request = 0;
    switch (what) {
        case Escape::kSetRts:
            bits = TIOCM_RTS;
            request = TIOCMBIS;
            break;
        case Escape::kClearRts:
            bits = TIOCM_RTS;
            request = TIOCMBIC;
            break;
        case Escape::kSetDtr:
            bits = TIOCM_DTR;
            request = TIOCMBIS;
            break;
        case Escape::kClearDtr:
            bits = TIOCM_DTR;
            request = TIOCMBIC;
            break;
        default: errno = EINVAL; return false;
    }
    if (::ioctl(d->fd, request, &bits) == 0) {
        return true;
    }
    // A pseudo-terminal has no modem lines and refuses the request; driving a
    // line that does not exist has no effect and is not an error.
    if (d->pseudoTerminal && (errno == ENOTTY || errno == EINVAL)) {
        return true;
    }
    // A device that has gone away (hang-up: an adapter pulled, the far side
    // of a pseudo-terminal closed) answers EIO. Nothing drives its lines any
    // more, so lowering one is done; refusing it would keep the device held
    // for ever, since closing a port lowers its lines first.
    return request == TIOCMBIC && errno == EIO;
}

bool PosixSerialLayer::ModemStatus(HandleType h, std::uint32_t& bits) {
    bits = 0;
    Device* d = FindOrFail(h);
    if (d == nullptr) {
        return false;
    }
    // A pseudo-terminal has no status lines to read. Reporting made-up levels
    // would turn "cannot read the lines" into a success, so this fails.
    if (d->pseudoTerminal) {
        errno = ENOTTY;
        return false;
    }
    int lines = 0;
    if (::ioctl(d->fd, TIOCMGET, &lines) != 0) {
        return false;
    }
    if ((lines & TIOCM_CTS) != 0) {
        bits |= kModemCts;
    }
    if ((lines & TIOCM_DSR) != 0) {
        bits |= kModemDsr;
    }
    if ((lines & TIOCM_RNG) != 0) {
        bits |= kModemRing;
    }
    if ((lines & TIOCM_CAR) != 0) {
        bits |= kModemDcd;
    }
    return true;
}

bool PosixSerialLayer::Read(HandleType h, void* buffer, std::uint32_t wanted, std::uint32_t& got) {
    got = 0;
    Device* d = FindOrFail(h);
    if (d == nullptr) {
        return false;
    }
    if (wanted == 0) {
        return true;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    const Timeouts& t = d->timeouts;
    if (t.readInterval == Timeouts::kNoWait && t.readTotalMultiplier == 0 &&
        t.readTotalConstant == 0) {
        return ReadAvailable(*d, out, wanted, got);
    }
    return ReadTimed(*d, out, wanted, got);
}

// "Return at once with what has already arrived": polled a hundred times a
// second, so it is a single read() when nothing is there.
bool PosixSerialLayer::ReadAvailable(const Device& d, unsigned char* out, std::uint32_t wanted,
                                     std::uint32_t& got) {
    ssize_t n;
    do {
        n = ::read(d.fd, out, wanted);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        got = static_cast<std::uint32_t>(n);
        return true;
    }
    if (n < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    if (ConfirmedGone(d.fd)) {
        errno = EIO;
        return false;
    }
    return true;
}

// The read ends when `wanted` bytes came, when more than readInterval ms pass
// after a received byte (0: no interval limit), or when the total
// readTotalMultiplier * wanted + readTotalConstant ms have passed since the
// call began (both 0: no total limit). Ending by time-out is a success.
bool PosixSerialLayer::ReadTimed(const Device& d, unsigned char* out, std::uint32_t wanted,
                                 std::uint32_t& got) {
    const Timeouts t = d.timeouts;
    const std::int64_t start = NowNs();
    const std::uint64_t totalMs =
        static_cast<std::uint64_t>(t.readTotalMultiplier) * wanted + t.readTotalConstant;
    const bool hasTotal = totalMs != 0;
    const std::int64_t totalDeadline = start + MsToNs(totalMs);
    const bool hasInterval = t.readInterval != 0;
    const std::int64_t intervalNs = MsToNs(t.readInterval);

    std::int64_t lastByte = start;
    bool pollSaidReady = false;
    for (;;) {
        // Read first: data already waiting costs one system call.
        const ssize_t n = ::read(d.fd, out + got, wanted - got);
        if (n > 0) {
            got += static_cast<std::uint32_t>(n);
            if (got == wanted) {
                return true;
            }
            lastByte = NowNs();
            pollSaidReady = false;
            continue;
        }
        if (n == 0) {
            // Ready by poll() yet nothing to read: the far side hung up.
            if (pollSaidReady) {
                return EndReadWithError(got, EIO);
            }
        } else if (errno == EINTR) {
            continue;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return EndReadWithError(got, errno);
        }

        // Recomputed on every pass, so an interrupted poll() waits only for
        // the time that is left.
        const std::int64_t now = NowNs();
        bool limited = false;
        std::int64_t deadline = 0;
        if (hasTotal) {
            deadline = totalDeadline;
            limited = true;
        }
        if (hasInterval && got > 0) {
            const std::int64_t intervalEnd = lastByte + intervalNs;
            if (!limited || intervalEnd < deadline) {
                deadline = intervalEnd;
            }
            limited = true;
        }
        int timeoutMs = -1;
        if (limited) {
            if (now >= deadline) {
                return true;
            }
            timeoutMs = PollTimeoutMs(deadline, now);
        }

        pollfd p{d.fd, POLLIN, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return EndReadWithError(got, errno);
        }
        if (r == 0) {
            return true;  // timed out; the wait was rounded up to the deadline
        }
        if ((p.revents & POLLIN) != 0) {
            pollSaidReady = true;
            continue;
        }
        if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return EndReadWithError(got, HangupError(p.revents));
        }
    }
}

bool PosixSerialLayer::Write(HandleType h, const void* data, std::uint32_t count,
                             std::uint32_t& written) {
    written = 0;
    Device* d = FindOrFail(h);
    if (d == nullptr) {
        return false;
    }
    const auto* in = static_cast<const unsigned char*>(data);
    while (written < count) {
        const ssize_t n = ::write(d->fd, in + written, count - written);
        if (n > 0) {
            written += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n == 0) {
            errno = EIO;  // a tty that takes nothing and reports no error
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
        // Output queue full: wait, with no time-out, until it drains.
        pollfd p{d->fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, -1);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if ((p.revents & POLLOUT) == 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            errno = HangupError(p.revents);
            return false;
        }
    }
    return true;
}

bool PosixSerialLayer::Close(HandleType h) {
    Device* d = FindOrFail(h);
    if (d == nullptr) {
        return false;
    }
    // A pty slave keeps TIOCEXCL while its master stays open, and a later
    // open by anyone but root would then fail with EBUSY.
    if (d->exclusiveFlag) {
        ::ioctl(d->fd, TIOCNXCL);
    }
    const int r = ::close(d->fd);  // releases the flock() too
    const int saved = errno;
    Release(*d);
    errno = saved;
    return r == 0;
}

}  // namespace

bool ResolveDevicePath(const char* name, const char* deviceDir, char* path, std::size_t size) {
    if (name == nullptr || std::strncmp(name, kNamePrefix, kNamePrefixLength) != 0) {
        errno = ENOENT;
        return false;
    }
    const char* digits = name + kNamePrefixLength;
    std::size_t length = 0;
    unsigned long number = 0;
    while (digits[length] >= '0' && digits[length] <= '9') {
        number = number * 10 + static_cast<unsigned long>(digits[length] - '0');
        ++length;
        if (length > 5) {
            break;
        }
    }
    const bool inDirectory = deviceDir != nullptr && deviceDir[0] != '\0';
    // 0..65535 written without leading zeros, and nothing after it. COM0 can
    // only be a file in the device directory: there is no ttyS-1.
    if (length == 0 || length > 5 || digits[length] != '\0' || (digits[0] == '0' && length > 1) ||
        number > kMaxPortNumber || (number == 0 && !inDirectory)) {
        errno = ENOENT;
        return false;
    }
    if (path == nullptr || size == 0) {
        errno = ENAMETOOLONG;
        return false;
    }

    int n;
    if (inDirectory) {
        const std::size_t dirLength = std::strlen(deviceDir);
        const char* separator = deviceDir[dirLength - 1] == '/' ? "" : "/";
        n = std::snprintf(path, size, "%s%sCOM%s", deviceDir, separator, digits);
    } else {
        n = std::snprintf(path, size, "/dev/ttyS%lu", number - 1);
    }
    if (n < 0 || static_cast<std::size_t>(n) >= size) {
        path[0] = '\0';
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return false;
    }
    const unsigned m = major(st.st_rdev);
    return m >= kPtySlaveMajorFirst && m <= kPtySlaveMajorLast;
}

bool LineSettingTaken(const termios& asked, const termios& got, bool pseudoTerminal) {
    tcflag_t cflagMask = CSTOPB | CRTSCTS;
    if (!pseudoTerminal) {
        cflagMask |= CSIZE | kParityBits;
    }
    return ::cfgetispeed(&asked) == ::cfgetispeed(&got) &&
           ::cfgetospeed(&asked) == ::cfgetospeed(&got) &&
           (asked.c_cflag & cflagMask) == (got.c_cflag & cflagMask) &&
           (asked.c_iflag & kSoftFlowBits) == (got.c_iflag & kSoftFlowBits);
}

SerialLayer& PlatformLayer() {
    // Built in place and never destroyed: the library's unload handling
    // closes ports through this layer after the C++ runtime has already
    // destroyed the shared object's static objects.
    alignas(PosixSerialLayer) static unsigned char storage[sizeof(PosixSerialLayer)];
    static PosixSerialLayer* const layer = new (storage) PosixSerialLayer();
    return *layer;
}

}  // namespace varnox::serial
