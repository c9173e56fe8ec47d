// The serial layer on Windows: a straight pass-through to the Win32
// communications functions. The handle is the HANDLE itself, carried in a
// HandleType, so kInvalidHandle (-1) is INVALID_HANDLE_VALUE.
//
// The one thing added to the pass-through: every operation refuses
// kInvalidHandle itself (ERROR_INVALID_HANDLE) instead of handing it on.
// (HANDLE)-1 is also the pseudo-handle of the current process, and
// CloseHandle accepts that; the layer's contract is that every operation
// given the invalid handle fails.
#include "serial/windows/WindowsSerialLayer.h"

#include <cstring>
#include <new>

namespace varnox::serial {

static_assert(sizeof(DCB) <= sizeof(LineSettings::native), "LineSettings::native must hold a DCB");
static_assert(sizeof(HANDLE) == sizeof(HandleType), "a HANDLE must fit a HandleType");
static_assert(kModemCts == MS_CTS_ON && kModemDsr == MS_DSR_ON && kModemRing == MS_RING_ON &&
                  kModemDcd == MS_RLSD_ON,
              "modem status bits are passed through unchanged");
static_assert(static_cast<int>(Parity::kEven) == EVENPARITY &&
                  static_cast<int>(Parity::kSpace) == SPACEPARITY &&
                  static_cast<int>(StopBits::kOne) == ONESTOPBIT &&
                  static_cast<int>(StopBits::kTwo) == TWOSTOPBITS,
              "parity and stop bits keep the DCB's numbering");
static_assert(static_cast<int>(LineControl::kDisable) == DTR_CONTROL_DISABLE &&
                  static_cast<int>(LineControl::kEnable) == DTR_CONTROL_ENABLE &&
                  static_cast<int>(LineControl::kHandshake) == DTR_CONTROL_HANDSHAKE &&
                  RTS_CONTROL_HANDSHAKE == DTR_CONTROL_HANDSHAKE,
              "line control keeps the DCB's numbering");

namespace {

HANDLE ToHandle(HandleType h) {
    return reinterpret_cast<HANDLE>(h);
}

// False (ERROR_INVALID_HANDLE) for the handle that names no device.
bool Usable(HandleType h) {
    if (h != kInvalidHandle) return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

LineControl ControlFrom(DWORD value) {
    switch (value) {
        case DTR_CONTROL_DISABLE: return LineControl::kDisable;
        case DTR_CONTROL_ENABLE: return LineControl::kEnable;
        default: return LineControl::kHandshake;  // handshake, and RTS toggle
    }
}

class WindowsSerialLayer : public SerialLayer {
public:
    HandleType Open(const char* name) override {
        // Exclusive (share mode 0), synchronous, an existing device only.
        const HANDLE h =
            CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        return reinterpret_cast<HandleType>(h);
    }

    bool GetState(HandleType h, LineSettings& settings) override {
        if (!Usable(h)) return false;
        DCB dcb;
        std::memset(&dcb, 0, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(ToHandle(h), &dcb)) return false;
        LineSettingsFromDcb(dcb, settings);
        return true;
    }

    bool SetState(HandleType h, const LineSettings& settings) override {
        if (!Usable(h)) return false;
        DCB dcb = DcbFromLineSettings(settings);
        return SetCommState(ToHandle(h), &dcb) != 0;
    }

    bool SetTimeouts(HandleType h, const Timeouts& timeouts) override {
        if (!Usable(h)) return false;
        COMMTIMEOUTS t = CommTimeoutsFrom(timeouts);
        return SetCommTimeouts(ToHandle(h), &t) != 0;
    }

    bool Purge(HandleType h) override {
        if (!Usable(h)) return false;
        return PurgeComm(ToHandle(h),
                         PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
    }

    bool EscapeFunction(HandleType h, Escape what) override {
        if (!Usable(h)) return false;
        const BOOL result = EscapeCommFunction(ToHandle(h), EscapeCode(what));
        return EscapeDone(result, result ? ERROR_SUCCESS : GetLastError());
    }

    bool ModemStatus(HandleType h, std::uint32_t& bits) override {
        bits = 0;
        if (!Usable(h)) return false;
        DWORD status = 0;
        if (!GetCommModemStatus(ToHandle(h), &status)) return false;
        bits = status;
        return true;
    }

    bool Read(HandleType h, void* buffer, std::uint32_t wanted, std::uint32_t& got) override {
        got = 0;
        if (!Usable(h)) return false;
        DWORD count = 0;
        const BOOL ok = ReadFile(ToHandle(h), buffer, wanted, &count, nullptr);
        got = ok ? count : 0;
        return ok != 0;
    }

    bool Write(HandleType h, const void* data, std::uint32_t count,
               std::uint32_t& written) override {
        written = 0;
        if (!Usable(h)) return false;
        DWORD done = 0;
        const BOOL ok = WriteFile(ToHandle(h), data, count, &done, nullptr);
        written = done;
        return ok != 0;
    }

    bool Close(HandleType h) override {
        if (!Usable(h)) return false;
        return CloseHandle(ToHandle(h)) != 0;
    }
};

}  // namespace

void LineSettingsFromDcb(const DCB& dcb, LineSettings& settings) {
    std::memset(settings.native, 0, sizeof settings.native);
    std::memcpy(settings.native, &dcb, sizeof dcb);
    settings.baudRate = dcb.BaudRate;
    settings.dataBits = dcb.ByteSize;
    settings.parity = static_cast<Parity>(dcb.Parity);
    settings.stopBits = static_cast<StopBits>(dcb.StopBits);
    settings.binary = dcb.fBinary != 0;
    settings.parityCheck = dcb.fParity != 0;
    settings.ctsOutFlow = dcb.fOutxCtsFlow != 0;
    settings.dsrOutFlow = dcb.fOutxDsrFlow != 0;
    settings.dtrControl = ControlFrom(dcb.fDtrControl);
    settings.dsrSensitivity = dcb.fDsrSensitivity != 0;
    settings.txContinueOnXoff = dcb.fTXContinueOnXoff != 0;
    settings.xonXoffOut = dcb.fOutX != 0;
    settings.xonXoffIn = dcb.fInX != 0;
    settings.replaceParityErrors = dcb.fErrorChar != 0;
    settings.discardNul = dcb.fNull != 0;
    settings.rtsControl = ControlFrom(dcb.fRtsControl);
    settings.abortOnError = dcb.fAbortOnError != 0;
    settings.eventChar = dcb.EvtChar;
}

DCB DcbFromLineSettings(const LineSettings& settings) {
    DCB dcb;
    std::memcpy(&dcb, settings.native, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = settings.dataBits;
    dcb.Parity = static_cast<BYTE>(settings.parity);
    dcb.StopBits = static_cast<BYTE>(settings.stopBits);
    dcb.fBinary = settings.binary ? 1 : 0;
    dcb.fParity = settings.parityCheck ? 1 : 0;
    dcb.fOutxCtsFlow = settings.ctsOutFlow ? 1 : 0;
    dcb.fOutxDsrFlow = settings.dsrOutFlow ? 1 : 0;
    dcb.fDtrControl = static_cast<DWORD>(settings.dtrControl) & 3u;
    dcb.fDsrSensitivity = settings.dsrSensitivity ? 1 : 0;
    dcb.fTXContinueOnXoff = settings.txContinueOnXoff ? 1 : 0;
    dcb.fOutX = settings.xonXoffOut ? 1 : 0;
    dcb.fInX = settings.xonXoffIn ? 1 : 0;
    dcb.fErrorChar = settings.replaceParityErrors ? 1 : 0;
    dcb.fNull = settings.discardNul ? 1 : 0;
    const bool keepToggle =
        settings.rtsControl == LineControl::kHandshake && dcb.fRtsControl == RTS_CONTROL_TOGGLE;
    if (!keepToggle) dcb.fRtsControl = static_cast<DWORD>(settings.rtsControl) & 3u;
    dcb.fAbortOnError = settings.abortOnError ? 1 : 0;
    dcb.EvtChar = settings.eventChar;
    return dcb;
}

COMMTIMEOUTS CommTimeoutsFrom(const Timeouts& timeouts) {
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = timeouts.readInterval;
    t.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
    t.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
    t.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
    t.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
    return t;
}

DWORD EscapeCode(Escape what) {
    switch (what) {
        case Escape::kSetRts: return SETRTS;
        case Escape::kClearRts: return CLRRTS;
        case Escape::kSetDtr: return SETDTR;
        case Escape::kClearDtr: return CLRDTR;
    }
    return 0;  // no such function: EscapeCommFunction refuses it
}

bool EscapeDone(BOOL result, DWORD lastError) {
    return result != 0 || lastError == ERROR_NOT_SUPPORTED;
}

SerialLayer& PlatformLayer() {
    // Built in place and never destroyed, like the port table: the library's
    // detach handling closes ports through this layer, and nothing may
    // depend on where the C run time destroys the DLL's static objects.
    alignas(WindowsSerialLayer) static unsigned char storage[sizeof(WindowsSerialLayer)];
    static WindowsSerialLayer* const layer = new (storage) WindowsSerialLayer();
    return *layer;
}

}  // namespace varnox::serial
