#include "serial/COMPort.h"

#include <cstring>

#include "serial/ErrorStateText.h"
#include "serial/SerialLayer.h"
#include "serial/Timestamp.h"
#include "serial/TraceEntry.h"

using varnox::serial::ActiveLayer;
using varnox::serial::Escape;
using varnox::serial::kInvalidHandle;
using varnox::serial::Timeouts;
using varnox::serial::WriteTraceEntry;
namespace es = varnox::serial;

namespace {

constexpr std::uint32_t kReceiveBufferSize = sizeof(COMPort::ReceiveBuffer);

// Reads wait for their bytes: 100 ms between bytes, 100 ms per byte plus 100.
constexpr Timeouts kWaitingTimeouts{100, 100, 100, 0, 0};
// Reads return at once with whatever has already arrived.
constexpr Timeouts kNoWaitTimeouts{Timeouts::kNoWait, 0, 0, 0, 0};

void ApplyLineSetting(es::LineSettings& s) {
    s.baudRate = 9600;
    s.dataBits = 8;
    s.parity = es::Parity::kEven;
    s.stopBits = es::StopBits::kOne;
    s.parityCheck = true;
    s.ctsOutFlow = false;
    s.dsrOutFlow = false;
    s.dtrControl = es::LineControl::kDisable;
    s.dsrSensitivity = false;
    s.txContinueOnXoff = true;
    s.xonXoffOut = false;
    s.xonXoffIn = false;
    s.replaceParityErrors = false;
    s.discardNul = false;
    s.rtsControl = es::LineControl::kDisable;
    s.abortOnError = false;
    s.eventChar = 13;
}

// Hands out `count` held bytes from the front and moves the rest forward.
void TakeFront(COMPort& port, char* destination, std::uint32_t count) {
    std::memcpy(destination, port.ReceiveBuffer, count);
    port.BufferedCount -= count;
    std::memmove(port.ReceiveBuffer, port.ReceiveBuffer + count, port.BufferedCount);
}

}  // namespace

COMPort::COMPort()
    : DebugStream(nullptr),
      PortHandle(kInvalidHandle),
      ErrorState(es::kNotOpened),
      BufferedCount(0) {}

COMPort::~COMPort() {
    Close();
}

bool COMPort::Open(unsigned short ComNumber) {
    if (PortHandle != kInvalidHandle) {
        WriteTraceEntry(*this, "COMPort::Open: The port is already open\n");
        ErrorState = es::kCannotOpen;
        return false;
    }
    char name[16];
    std::snprintf(name, sizeof name, "\\\\.\\COM%u", static_cast<unsigned>(ComNumber));
    es::SerialLayer& layer = ActiveLayer();
    PortHandle = layer.Open(name);
    if (PortHandle == kInvalidHandle) {
        WriteTraceEntry(*this, "COMPort::Open: Cannot open the port %s\n", name);
        ErrorState = es::kCannotOpen;
        return false;
    }
    WriteTraceEntry(*this, "COMPort::Open: Port %s has been opened\n", name);

    es::LineSettings settings;
    if (!layer.GetState(PortHandle, settings)) {
        WriteTraceEntry(*this, "COMPort::Open: Cannot get the port state\n");
        ErrorState = es::kCannotGetState;
        return false;
    }
    ApplyLineSetting(settings);
    if (!layer.SetState(PortHandle, settings)) {
        WriteTraceEntry(*this, "COMPort::Open: Cannot set the port state\n");
        ErrorState = es::kCannotSetState;
        return false;
    }
    if (!SetCommTimeout()) {
        WriteTraceEntry(*this, "COMPort::Open: Cannot set the port timing\n");
        ErrorState = es::kCannotSetTimeouts;
        return false;
    }
    if (!Purge()) {
        WriteTraceEntry(*this, "COMPort::Open: Cannot purge the port\n");
        return false;
    }
    if (!Control(true, false)) {
        WriteTraceEntry(*this, "COMPort::Open: Error setting the control lines of the port\n");
        return false;
    }
    return true;
}

bool COMPort::Close() {
    ErrorState = es::kNotOpened;
    if (PortHandle == kInvalidHandle) {
        WriteTraceEntry(*this, "COMPort::Close: Port handle is invalid\n");
        return false;
    }
    if (!Control(false, false)) return false;
    const bool released = ActiveLayer().Close(PortHandle);
    PortHandle = kInvalidHandle;
    WriteTraceEntry(*this, released ? "COMPort::Close: Port has been closed\n"
                                    : "COMPort::Close: Cannot close the port\n");
    return released;
}

bool COMPort::Purge() {
    const bool purged = ActiveLayer().Purge(PortHandle);
    BufferedCount = 0;
    ErrorState = purged ? es::kNoError : es::kCannotPurge;
    if (!purged) WriteTraceEntry(*this, "COMPort::Purge: Cannot purge the port\n");
    return purged;
}

bool COMPort::SetCommTimeout() {
    const bool set = ActiveLayer().SetTimeouts(PortHandle, kWaitingTimeouts);
    if (!set) WriteTraceEntry(*this, "COMPort::SetCommTimeout: Cannot set the port timing\n");
    return set;
}

bool COMPort::ResetCommTimeout() {
    const bool set = ActiveLayer().SetTimeouts(PortHandle, kNoWaitTimeouts);
    if (!set) WriteTraceEntry(*this, "COMPort::ResetCommTimeout: Cannot set the port timing\n");
    return set;
}

bool COMPort::Control(bool dtr, bool rts) {
    es::SerialLayer& layer = ActiveLayer();
    bool done = layer.EscapeFunction(PortHandle, rts ? Escape::kSetRts : Escape::kClearRts);
    if (done) done = layer.EscapeFunction(PortHandle, dtr ? Escape::kSetDtr : Escape::kClearDtr);
    if (done) {
        ErrorState = es::kNoError;
        return true;
    }
    WriteTraceEntry(*this, "COMPort::Control: Error setting the control lines of the port\n");
    ErrorState = es::kControlLinesError;
    return false;
}

bool COMPort::Status(bool& cts, bool& dsr, bool& ri, bool& dcd) {
    std::uint32_t bits = 0;
    if (!ActiveLayer().ModemStatus(PortHandle, bits)) {
        WriteTraceEntry(*this, "COMPort::Status: Error reading the status lines of the port\n");
        ErrorState = es::kStatusLinesError;
        return false;
    }
    cts = (bits & es::kModemCts) != 0;
    dsr = (bits & es::kModemDsr) != 0;
    ri = (bits & es::kModemRing) != 0;
    dcd = (bits & es::kModemDcd) != 0;
    ErrorState = es::kNoError;
    return true;
}

const char* COMPort::ErrorMessage() const {
    return es::ErrorStateText(ErrorState);
}

void COMPort::WriteDebugTime() {
    if (DebugStream == nullptr) return;
    char line[es::kTimestampSize];
    es::FormatTimestamp(es::LocalNow(), line);
    std::fprintf(DebugStream, "\n%s", line);
}

bool COMPort::DataAvailable() {
    if (BufferedCount > 0) return true;
    ResetCommTimeout();
    std::uint32_t got = 0;
    const bool read = ActiveLayer().Read(PortHandle, ReceiveBuffer, kReceiveBufferSize, got);
    BufferedCount = read ? got : 0;
    if (!read) WriteTraceEntry(*this, "COMPort::DataAvailable: Cannot read the port\n");
    SetCommTimeout();
    return read && BufferedCount > 0;
}

bool COMPort::Read(char& c) {
    if (BufferedCount == 0) {
        std::uint32_t got = 0;
        const bool read = ActiveLayer().Read(PortHandle, ReceiveBuffer, 1, got);
        if (!read || got == 0) {
            WriteTraceEntry(*this, read
                                       ? "COMPort::Read-char: Less than 1 byte read from the port\n"
                                       : "COMPort::Read-char: Cannot read the port\n");
            BufferedCount = 0;
            ErrorState = es::kReadError;
            return false;
        }
        BufferedCount = got;
    }
    TakeFront(*this, &c, 1);
    ErrorState = es::kNoError;
    return true;
}

bool COMPort::Read(char* buffer, unsigned long& count) {
    // The read-ahead is the only place device reads land, so a request can
    // never be served beyond its size.
    const std::uint32_t wanted =
        count > kReceiveBufferSize ? kReceiveBufferSize : static_cast<std::uint32_t>(count);
    count = 0;
    char* position = buffer;
    std::uint32_t stillWanted = wanted;
    if (wanted > BufferedCount) {
        es::SerialLayer& layer = ActiveLayer();
        if (BufferedCount > 0) {
            const std::uint32_t held = BufferedCount;
            TakeFront(*this, position, held);
            position += held;
            count = held;
            stillWanted = wanted - held;
            std::uint32_t got = 0;
            // The held bytes are delivered whatever this read does.
            BufferedCount = layer.Read(PortHandle, ReceiveBuffer, stillWanted, got) ? got : 0;
        } else {
            std::uint32_t got = 0;
            if (!layer.Read(PortHandle, ReceiveBuffer, wanted, got)) {
                WriteTraceEntry(*this, "COMPort::Read-array: Cannot read the port\n");
                BufferedCount = 0;
                ErrorState = es::kReadError;
                return false;
            }
            BufferedCount = got;
        }
    }
    const std::uint32_t taken = stillWanted < BufferedCount ? stillWanted : BufferedCount;
    TakeFront(*this, position, taken);
    position[taken] = '\0';
    count += taken;
    ErrorState = es::kNoError;
    return true;
}

bool COMPort::Write(char c) {
    std::uint32_t written = 0;
    if (!ActiveLayer().Write(PortHandle, &c, 1, written)) {
        WriteTraceEntry(*this, "COMPort::Write-char: Cannot write the port\n");
        ErrorState = es::kWriteError;
        return false;
    }
    if (written != 1) {
        WriteTraceEntry(*this, "COMPort::Write-char: %lu bytes instead of 1 written to the port\n",
                        static_cast<unsigned long>(written));
        ErrorState = es::kWrongWriteCount;
        return false;
    }
    ErrorState = es::kNoError;
    return true;
}

bool COMPort::Write(const char* const data, unsigned int count) {
    std::uint32_t written = 0;
    if (!ActiveLayer().Write(PortHandle, data, count, written)) {
        WriteTraceEntry(*this, "COMPort::Write-array: Cannot write the port\n");
        ErrorState = es::kWriteError;
        return false;
    }
    if (written != count) {
        WriteTraceEntry(*this,
                        "COMPort::Write-array: %lu bytes instead of %u written to the port\n",
                        static_cast<unsigned long>(written), count);
        ErrorState = es::kWrongWriteCount;
        return false;
    }
    ErrorState = es::kNoError;
    return true;
}
