// COMPort: one serial device (COMn) held for exclusive use, with a fixed line
// setting (9600 baud, 8 data bits, even parity, one stop bit, no flow
// control), the DTR and RTS control lines, the modem status lines, buffered
// reading with read-ahead, writing, a numeric ErrorState with a text for each
// value, and an optional timestamped trace.
//
// No method throws. Methods that return bool return true on success and leave
// an ErrorState behind (see ErrorStateValue in serial/SerialTypes.h):
//   Open       0 | 2 (already open, or the device cannot be opened),
//                  3 (get state), 4 (set state), 5 (timeouts), 6 (purge),
//                  10 (control lines). From 3 on the device stays held:
//                  Close() it before the next Open().
//   Close      0 (also when only releasing the device failed; the handle is
//                  given up) | 1 (nothing held) | 10 (lines not reset; the
//                  device stays held)
//   Purge      0 | 6          Control 0 | 10          Status 0 | 11
//   Read       0 | 7          Write   0 | 8 (failed) | 9 (short write)
//   SetCommTimeout, ResetCommTimeout, DataAvailable, ErrorMessage and
//   WriteDebugTime leave ErrorState unchanged.
//
// The object is not thread-safe: one caller at a time.
#ifndef VARNOX_SERIAL_COMPORT_H
#define VARNOX_SERIAL_COMPORT_H

#include <cstdint>
#include <cstdio>

#include "serial/Export.h"
#include "serial/SerialTypes.h"

class VARNOX_EXPORT COMPort {
public:
    // Closed, ErrorState 1, nothing held, no trace.
    COMPort();
    // Calls Close(), so a trace of an object that was never opened gets
    // "COMPort::Close: Port handle is invalid".
    ~COMPort();
    COMPort(const COMPort&) = delete;
    COMPort& operator=(const COMPort&) = delete;

    // Opens COMn (device name "\\.\COMn", mapped to a device by the platform
    // layer; on Linux see the README), applies the line setting, installs the
    // waiting timeout set, purges, raises DTR and lowers RTS.
    bool Open(unsigned short ComNumber);
    // Lowers RTS, then DTR, and releases the device.
    bool Close();
    // Discards the driver's input and output queues and the read-ahead.
    bool Purge();
    // Reads wait: a read of w bytes ends when w bytes came, after more than
    // 100 ms between two bytes, or 100 * w + 100 ms after it began.
    bool SetCommTimeout();
    // Reads do not wait: they return at once with what has already come.
    bool ResetCommTimeout();
    // Sets RTS first, then DTR (true raises the line). When the RTS step
    // fails, DTR is not touched.
    bool Control(bool dtr, bool rts);
    // Reads CTS, DSR, RI and DCD; writes the outputs only on success.
    bool Status(bool& cts, bool& dsr, bool& ri, bool& dcd);
    // The text of the current ErrorState; "Unknown error" outside 0..11.
    const char* ErrorMessage() const;
    // Writes the head of a trace entry (an empty line and the local date and
    // time) when DebugStream is set.
    void WriteDebugTime();

    // True when received bytes are held; when none are, fetches without
    // waiting everything that has already come (up to 4096 bytes).
    bool DataAvailable();
    // Takes the next byte, waiting at most 200 ms for it when none is held.
    bool Read(char& c);
    // On entry `count` is the number of bytes wanted (n), on return the
    // number delivered; a NUL byte is stored after them, so `buffer` needs
    // n + 1 bytes. Held bytes are served first; at most one device read.
    // A short read (time-out) succeeds. A request above 4096 bytes is served
    // as a request for 4096 (a short read the caller can see in `count`).
    bool Read(char* buffer, unsigned long& count);
    bool Write(char c);
    // Sends the bytes in one operation; a short write fails with ErrorState 9
    // and the rest is not sent again.
    bool Write(const char* const data, unsigned int count);

    // Trace destination (as fopen returns it), or null. COMPort only writes
    // to it; it never opens, flushes or closes it.
    std::FILE* DebugStream;
    // The device held, or varnox::serial::kInvalidHandle.
    varnox::serial::HandleType PortHandle;
    std::int32_t ErrorState;
    // Received bytes not yet handed out, oldest first, at the front.
    char ReceiveBuffer[4096];
    std::uint32_t BufferedCount;
};

#endif
