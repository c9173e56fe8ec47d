// The seam between COMPort and the operating system.
//
// COMPort is written once against this interface. Each platform provides one
// implementation (POSIX termios today; a Windows pass-through or a network
// port later) and tests install a scriptable fake. The operations mirror what
// a serial port class needs from any system: open a named device for
// exclusive use, read and change the line setting, install a timeout set,
// purge, drive and read the modem lines, read, write, close.
#ifndef VARNOX_SERIAL_SERIALLAYER_H
#define VARNOX_SERIAL_SERIALLAYER_H

#include <cstddef>
#include <cstdint>

#include "serial/SerialTypes.h"

namespace varnox::serial {

enum class Parity : std::uint8_t { kNone = 0, kOdd = 1, kEven = 2, kMark = 3, kSpace = 4 };
enum class StopBits : std::uint8_t { kOne = 0, kOneAndHalf = 1, kTwo = 2 };
// Who drives DTR or RTS: only explicit calls, the driver, or flow control.
enum class LineControl : std::uint8_t { kDisable = 0, kEnable = 1, kHandshake = 2 };

// The line setting of a device. A layer fills it from the device, the caller
// changes the fields it cares about, and the layer applies it. `native` is
// the layer's own copy of the system record, so settings this struct does not
// name survive the round trip unchanged.
struct LineSettings {
    std::uint32_t baudRate = 0;
    std::uint8_t dataBits = 8;
    Parity parity = Parity::kNone;
    StopBits stopBits = StopBits::kOne;
    bool binary = true;
    bool parityCheck = false;
    bool ctsOutFlow = false;
    bool dsrOutFlow = false;
    LineControl dtrControl = LineControl::kDisable;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    bool replaceParityErrors = false;
    bool discardNul = false;
    LineControl rtsControl = LineControl::kDisable;
    bool abortOnError = false;
    char eventChar = 0;
    alignas(std::max_align_t) unsigned char native[128] = {};
};

// Read and write time-outs in milliseconds. An interval of kNoWait with both
// read totals 0 means: return at once with what has already arrived.
struct Timeouts {
    static constexpr std::uint32_t kNoWait = 0xFFFFFFFFu;
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};

enum class Escape : std::uint8_t { kSetRts, kClearRts, kSetDtr, kClearDtr };

// Modem status bits as Status() decodes them.
inline constexpr std::uint32_t kModemCts = 0x10;
inline constexpr std::uint32_t kModemDsr = 0x20;
inline constexpr std::uint32_t kModemRing = 0x40;
inline constexpr std::uint32_t kModemDcd = 0x80;

// Every operation that takes a handle fails when given kInvalidHandle.
// Failures return false (or kInvalidHandle from Open); the layer keeps the
// system's error code where its platform does (errno on POSIX).
class SerialLayer {
public:
    virtual ~SerialLayer() = default;

    // `name` is the Windows-form device name "\\.\COMn"; the layer maps it to
    // one of its own devices. Exclusive: a second open of a held device fails.
    virtual HandleType Open(const char* name) = 0;
    virtual bool GetState(HandleType h, LineSettings& settings) = 0;
    virtual bool SetState(HandleType h, const LineSettings& settings) = 0;
    virtual bool SetTimeouts(HandleType h, const Timeouts& timeouts) = 0;
    // Ends pending transfers and discards the input and output queues.
    virtual bool Purge(HandleType h) = 0;
    virtual bool EscapeFunction(HandleType h, Escape what) = 0;
    virtual bool ModemStatus(HandleType h, std::uint32_t& bits) = 0;
    // Reads up to `wanted` bytes under the timeout set in force. `got` is the
    // number read: 0 when nothing came or the read failed. A read that ends by
    // time-out succeeds.
    virtual bool Read(HandleType h, void* buffer, std::uint32_t wanted, std::uint32_t& got) = 0;
    // Returns once every byte is handed to the driver (no write time-out).
    virtual bool Write(HandleType h, const void* data, std::uint32_t count,
                       std::uint32_t& written) = 0;
    virtual bool Close(HandleType h) = 0;
};

// The layer COMPort uses. It is the platform's own unless one was installed.
SerialLayer& ActiveLayer();
// Installs `layer` (nullptr: back to the platform's own) and returns the one
// that was active. For tests and for alternative transports; not thread-safe.
SerialLayer* InstallLayer(SerialLayer* layer);
// The platform's own layer, provided by exactly one platform source file.
SerialLayer& PlatformLayer();

}  // namespace varnox::serial

#endif
