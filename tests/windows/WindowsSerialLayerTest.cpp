// The Windows serial layer without a device: what COMPort's line setting and
// timeout sets become in the DCB and COMMTIMEOUTS records, the round trip of
// the fields nobody names, the modem-line policy, and the real layer's
// answers for the invalid handle and a missing port.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "serial/COMPort.h"
#include "serial/windows/WindowsSerialLayer.h"
#include "tests/support/FakeSerialLayer.h"
#include "tests/support/TraceText.h"

namespace varnox::test {
namespace {

using serial::DcbFromLineSettings;
using serial::LineSettings;
using serial::LineSettingsFromDcb;

// A device's record with a value of its own in every field, the unnamed
// and reserved ones included, so a field that is lost or overwritten shows.
DCB UnusualDcb() {
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 115200;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 1;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.fDsrSensitivity = 1;
    dcb.fTXContinueOnXoff = 0;
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.fErrorChar = 1;
    dcb.fNull = 1;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    dcb.fAbortOnError = 1;
    dcb.fDummy2 = 0x1ABCD;
    dcb.wReserved = 0x1234;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.ByteSize = 7;
    dcb.Parity = MARKPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.XonChar = 0x13;
    dcb.XoffChar = 0x11;
    dcb.ErrorChar = '?';
    dcb.EofChar = 0x1A;
    dcb.EvtChar = 'x';
    dcb.wReserved1 = 0x5678;
    return dcb;
}

TEST(WindowsSerialLayer, RecordsSurviveTheRoundTripUnchanged) {
    std::vector<std::pair<const char*, DCB>> cases;
    cases.emplace_back("unusual", UnusualDcb());
    DCB zero;
    std::memset(&zero, 0, sizeof zero);
    zero.DCBlength = sizeof zero;
    cases.emplace_back("zero", zero);
    DCB plain = UnusualDcb();
    plain.fRtsControl = RTS_CONTROL_ENABLE;
    plain.fDtrControl = DTR_CONTROL_ENABLE;
    plain.Parity = NOPARITY;
    plain.StopBits = ONE5STOPBITS;
    cases.emplace_back("plain", plain);
    for (const auto& [name, dcb] : cases) {
        LineSettings settings;
        LineSettingsFromDcb(dcb, settings);
        const DCB back = DcbFromLineSettings(settings);
        EXPECT_EQ(std::memcmp(&back, &dcb, sizeof dcb), 0) << name;
    }
}

TEST(WindowsSerialLayer, NamedFieldsAreReadFromTheRecord) {
    LineSettings s;
    LineSettingsFromDcb(UnusualDcb(), s);
    EXPECT_EQ(s.baudRate, 115200u);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.parity, serial::Parity::kMark);
    EXPECT_EQ(s.stopBits, serial::StopBits::kTwo);
    EXPECT_TRUE(s.binary);
    EXPECT_FALSE(s.parityCheck);
    EXPECT_TRUE(s.ctsOutFlow);
    EXPECT_TRUE(s.dsrOutFlow);
    EXPECT_EQ(s.dtrControl, serial::LineControl::kHandshake);
    EXPECT_TRUE(s.dsrSensitivity);
    EXPECT_FALSE(s.txContinueOnXoff);
    EXPECT_TRUE(s.xonXoffOut);
    EXPECT_TRUE(s.xonXoffIn);
    EXPECT_TRUE(s.replaceParityErrors);
    EXPECT_TRUE(s.discardNul);
    EXPECT_EQ(s.rtsControl, serial::LineControl::kHandshake);  // toggle: the driver drives it
    EXPECT_TRUE(s.abortOnError);
    EXPECT_EQ(s.eventChar, 'x');
}

// What SetCommState is given when COMPort opens a device whose record is
// UnusualDcb(): every field of the line setting, and nothing else changed.
TEST(WindowsSerialLayer, OpenHandsSetCommStateTheLineSetting) {
    FakeSerialLayer fake;
    ScopedLayer scoped(fake);
    const DCB device = UnusualDcb();
    LineSettingsFromDcb(device, fake.reported);
    COMPort port;
    ASSERT_TRUE(port.Open(1));
    ASSERT_TRUE(fake.applied.has_value());
    const DCB dcb = DcbFromLineSettings(*fake.applied);

    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fDsrSensitivity, 0u);
    EXPECT_EQ(dcb.fTXContinueOnXoff, 1u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fErrorChar, 0u);
    EXPECT_EQ(dcb.fNull, 0u);
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fAbortOnError, 0u);
    EXPECT_EQ(dcb.EvtChar, 13);
    // What the line setting does not name keeps the device's value.
    EXPECT_EQ(dcb.fBinary, device.fBinary);
    EXPECT_EQ(dcb.fDummy2, device.fDummy2);
    EXPECT_EQ(dcb.wReserved, device.wReserved);
    EXPECT_EQ(dcb.XonLim, device.XonLim);
    EXPECT_EQ(dcb.XoffLim, device.XoffLim);
    EXPECT_EQ(dcb.XonChar, device.XonChar);
    EXPECT_EQ(dcb.XoffChar, device.XoffChar);
    EXPECT_EQ(dcb.ErrorChar, device.ErrorChar);
    EXPECT_EQ(dcb.EofChar, device.EofChar);
    EXPECT_EQ(dcb.wReserved1, device.wReserved1);
}

bool SameTimeouts(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b) {
    return a.ReadIntervalTimeout == b.ReadIntervalTimeout &&
           a.ReadTotalTimeoutMultiplier == b.ReadTotalTimeoutMultiplier &&
           a.ReadTotalTimeoutConstant == b.ReadTotalTimeoutConstant &&
           a.WriteTotalTimeoutMultiplier == b.WriteTotalTimeoutMultiplier &&
           a.WriteTotalTimeoutConstant == b.WriteTotalTimeoutConstant;
}

// The two sets SetCommTimeouts is given: the waiting one at open and after
// each poll, the returning-at-once one for the poll itself.
TEST(WindowsSerialLayer, TimeoutSetsAsSetCommTimeoutsGetsThem) {
    FakeSerialLayer fake;
    ScopedLayer scoped(fake);
    COMPort port;
    ASSERT_TRUE(port.Open(1));
    EXPECT_FALSE(port.DataAvailable());
    std::vector<COMMTIMEOUTS> sets;
    for (const Call& call : fake.Calls()) {
        if (call.op == Op::kSetTimeouts) sets.push_back(serial::CommTimeoutsFrom(call.timeouts));
    }
    const COMMTIMEOUTS waiting{100, 100, 100, 0, 0};
    const COMMTIMEOUTS atOnce{MAXDWORD, 0, 0, 0, 0};
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_TRUE(SameTimeouts(sets[0], waiting));
    EXPECT_TRUE(SameTimeouts(sets[1], atOnce));
    EXPECT_TRUE(SameTimeouts(sets[2], waiting));
}

TEST(WindowsSerialLayer, EscapeCodes) {
    const std::pair<serial::Escape, DWORD> cases[] = {
        {serial::Escape::kSetRts, SETRTS},
        {serial::Escape::kClearRts, CLRRTS},
        {serial::Escape::kSetDtr, SETDTR},
        {serial::Escape::kClearDtr, CLRDTR},
    };
    for (const auto& [what, code] : cases) {
        EXPECT_EQ(serial::EscapeCode(what), code) << static_cast<int>(what);
    }
}

TEST(WindowsSerialLayer, OnlyAMissingModemLineIsForgiven) {
    struct Case {
        BOOL result;
        DWORD error;
        bool done;
    };
    const Case cases[] = {
        {TRUE, ERROR_SUCCESS, true},
        {TRUE, ERROR_NOT_SUPPORTED, true},
        {FALSE, ERROR_NOT_SUPPORTED, true},
        {FALSE, ERROR_INVALID_HANDLE, false},
        {FALSE, ERROR_INVALID_FUNCTION, false},
        {FALSE, ERROR_INVALID_PARAMETER, false},
        {FALSE, ERROR_GEN_FAILURE, false},
        {FALSE, ERROR_ACCESS_DENIED, false},
        {FALSE, ERROR_SUCCESS, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(serial::EscapeDone(c.result, c.error), c.done)
            << "result " << c.result << ", error " << c.error;
    }
}

// (HANDLE)-1 is also the current process's pseudo-handle, which CloseHandle
// would accept: the layer must refuse it itself, for every operation.
TEST(WindowsSerialLayer, EveryOperationRefusesTheInvalidHandle) {
    serial::SerialLayer& layer = serial::PlatformLayer();
    const serial::HandleType h = serial::kInvalidHandle;
    char buffer[8] = {};
    std::uint32_t count = 99;
    std::uint32_t bits = 99;
    LineSettings settings;
    const std::vector<std::pair<const char*, std::function<bool()>>> operations = {
        {"GetState", [&] { return layer.GetState(h, settings); }},
        {"SetState", [&] { return layer.SetState(h, settings); }},
        {"SetTimeouts", [&] { return layer.SetTimeouts(h, serial::Timeouts{}); }},
        {"Purge", [&] { return layer.Purge(h); }},
        {"Escape", [&] { return layer.EscapeFunction(h, serial::Escape::kClearDtr); }},
        {"ModemStatus", [&] { return layer.ModemStatus(h, bits); }},
        {"Read", [&] { return layer.Read(h, buffer, sizeof buffer, count); }},
        {"Write", [&] { return layer.Write(h, "x", 1, count); }},
        {"Close", [&] { return layer.Close(h); }},
    };
    for (const auto& [name, operation] : operations) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(operation()) << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << name;
    }
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(bits, 0u);
}

TEST(WindowsSerialLayer, AMissingPortCannotBeOpened) {
    // No prefix and no ordinary machine has this many ports.
    EXPECT_EQ(serial::PlatformLayer().Open("\\\\.\\COM219"), serial::kInvalidHandle);

    TraceCapture trace;
    COMPort port;
    port.DebugStream = trace.Stream();
    EXPECT_FALSE(port.Open(219));
    EXPECT_EQ(port.ErrorState, 2);
    EXPECT_EQ(port.PortHandle, serial::kInvalidHandle);
    port.DebugStream = nullptr;
    EXPECT_EQ(trace.Messages(),
              (std::vector<std::string>{"COMPort::Open: Cannot open the port \\\\.\\COM219"}));
}

}  // namespace
}  // namespace varnox::test
