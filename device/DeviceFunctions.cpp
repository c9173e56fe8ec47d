// The module functions: inputs, outputs, automatic input reports, firmware
// and product data. Every query has the same shape, so the queries are rows
// of one table and one routine runs them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/PortTable.h"
#include "device/Protocol.h"
#include "device/VARNOX.h"
#include "serial/TraceEntry.h"

namespace varnox::device {
namespace {

// How a query's reply text becomes the caller's value.
enum class Form {
    kState,     // hexadecimal, 0..31, into a 16-bit state
    kNumber16,  // hexadecimal, any 16-bit value
    kNumber32,  // hexadecimal, any 32-bit value
    kCopy,      // the text itself, with its terminating zero
};

struct Query {
    char letter;
    char reply;
    std::uint32_t replyLength;
    Form form;
};

constexpr Query kGetInput{'i', 'I', 3, Form::kState};
constexpr Query kGetOutput{'O', 'O', 3, Form::kState};
constexpr Query kFirmwareVersion{'V', 'V', 5, Form::kNumber16};
constexpr Query kProductNumber{'N', 'N', 9, Form::kNumber32};
constexpr Query kFirmwareDate{'D', 'D', 12, Form::kCopy};
constexpr Query kProductId{'P', 'P', 256, Form::kCopy};

constexpr std::uint32_t kStateLimit = 32;

// Converts the reply text as the "%X" input conversion does (leading white
// space, optional sign and 0x prefix, hexadecimal digits up to the first
// other character). A number too wide for `max` counts as no number: the
// conversion would otherwise truncate it to a plainly wrong value.
bool ParseHex(const char* text, std::uint32_t max, std::uint32_t& value) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text, &end, 16);
    if (end == text || errno == ERANGE || parsed > max) return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

// Sends the query and reads its reply; VARNOX_OK when the reply letter is
// the expected one and the text is in ReplyBuffer.
std::int32_t Exchange(const Query& query, std::uint16_t portNumber) {
    if (!WriteCommand(portNumber, query.letter, "")) return VARNOX_ERROR_SEND;
    char letter;
    if (!ReadCommand(portNumber, letter, query.replyLength)) return VARNOX_ERROR_RECEIVE;
    if (letter != query.reply) return VARNOX_ERROR_WRONG_COMMAND;
    return VARNOX_OK;
}

std::int32_t Deliver(Form form, void* out) {
    std::uint32_t value = 0;
    switch (form) {
        case Form::kState:
            if (!ParseHex(ReplyBuffer, kStateLimit - 1, value)) return VARNOX_ERROR_WRONG_ARGUMENT;
            *static_cast<std::uint16_t*>(out) = static_cast<std::uint16_t>(value);
            return VARNOX_OK;
        case Form::kNumber16:
            if (!ParseHex(ReplyBuffer, 0xFFFF, value)) return VARNOX_ERROR_WRONG_ARGUMENT;
            *static_cast<std::uint16_t*>(out) = static_cast<std::uint16_t>(value);
            return VARNOX_OK;
        case Form::kNumber32:
            if (!ParseHex(ReplyBuffer, 0xFFFFFFFFu, value)) return VARNOX_ERROR_WRONG_ARGUMENT;
            *static_cast<std::uint32_t*>(out) = value;
            return VARNOX_OK;
        case Form::kCopy: std::strcpy(static_cast<char*>(out), ReplyBuffer); return VARNOX_OK;
    }
    return VARNOX_ERROR_WRONG_ARGUMENT;
}

std::int32_t RunQuery(const Query& query, void* out, std::uint16_t portNumber) {
    if (!InRange(portNumber)) return VARNOX_PORTNUMBER_OUT_OF_RANGE;
    std::int32_t result = Exchange(query, portNumber);
    if (result == VARNOX_OK) result = Deliver(query.form, out);
    return StoreResult(portNumber, result);
}

std::int32_t CheckInput(std::uint16_t* state, std::uint16_t portNumber) {
    if (!InRange(portNumber)) return VARNOX_PORTNUMBER_OUT_OF_RANGE;
    COMPort& port = PortTable(portNumber);
    if (!port.DataAvailable()) return StoreResult(portNumber, VARNOX_NO_DATA);
    char letter;
    if (!ReadCommand(portNumber, letter, kGetInput.replyLength)) {
        serial::WriteTraceEntry(port, "ReadCommand: Error receiving command\n");
        return StoreResult(portNumber, VARNOX_ERROR_RECEIVE);
    }
    if (letter != 'I') {
        serial::WriteTraceEntry(port, "ReadCommand: Wrong command received: \\0x%02X='%c'\n",
                                static_cast<unsigned char>(letter), Printable(letter));
        return StoreResult(portNumber, VARNOX_ERROR_WRONG_COMMAND);
    }
    std::uint32_t value = 0;
    if (!ParseHex(ReplyBuffer, 0xFFFFFFFFu, value)) {
        serial::WriteTraceEntry(port, "ReadCommand: Wrong argument received: '%s'\n", ReplyBuffer);
        return StoreResult(portNumber, VARNOX_ERROR_WRONG_ARGUMENT);
    }
    if (value >= kStateLimit) {
        serial::WriteTraceEntry(port, "ReadCommand: Wrong argument received: %04X\n", value);
        return StoreResult(portNumber, VARNOX_ERROR_WRONG_ARGUMENT);
    }
    *state = static_cast<std::uint16_t>(value);
    return StoreResult(portNumber, VARNOX_OK);
}

}  // namespace
}  // namespace varnox::device

using varnox::device::kFirmwareDate;
using varnox::device::kFirmwareVersion;
using varnox::device::kGetInput;
using varnox::device::kGetOutput;
using varnox::device::kProductId;
using varnox::device::kProductNumber;
using varnox::device::RunQuery;

extern "C" {

int32_t VARNOX_GETINPUT(uint16_t* InputState, uint16_t PortNumber) {
    return RunQuery(kGetInput, InputState, PortNumber);
}

int32_t VARNOX_GETOUTPUT(uint16_t* OutputState, uint16_t PortNumber) {
    return RunQuery(kGetOutput, OutputState, PortNumber);
}

int32_t VARNOX_FW_VER(uint16_t* Version, uint16_t PortNumber) {
    return RunQuery(kFirmwareVersion, Version, PortNumber);
}

int32_t VARNOX_PROD_NO(uint32_t* ProductNumber, uint16_t PortNumber) {
    return RunQuery(kProductNumber, ProductNumber, PortNumber);
}

int32_t VARNOX_FW_DATE(char* Date, uint16_t PortNumber) {
    return RunQuery(kFirmwareDate, Date, PortNumber);
}

int32_t VARNOX_PROD_ID(char* ProductId, uint16_t PortNumber) {
    return RunQuery(kProductId, ProductId, PortNumber);
}

int32_t VARNOX_CHECKINPUT(uint16_t* InputState, uint16_t PortNumber) {
    return varnox::device::CheckInput(InputState, PortNumber);
}

int32_t VARNOX_AUTOINPUT(uint16_t PortNumber) {
    if (!varnox::device::InRange(PortNumber)) return VARNOX_PORTNUMBER_OUT_OF_RANGE;
    return varnox::device::StoreResult(PortNumber, varnox::device::WriteCommand(PortNumber, 'I', "")
                                                       ? VARNOX_OK
                                                       : VARNOX_ERROR_SEND);
}

int32_t VARNOX_SETOUTPUT(uint16_t OutputState, uint16_t PortNumber) {
    if (!varnox::device::InRange(PortNumber)) return VARNOX_PORTNUMBER_OUT_OF_RANGE;
    int32_t result = VARNOX_ERROR_WRONG_ARGUMENT;
    char text[8];
    if (OutputState < varnox::device::kStateLimit &&
        std::snprintf(text, sizeof text, "%02hX", OutputState) == 2) {
        result =
            varnox::device::WriteCommand(PortNumber, 'O', text) ? VARNOX_OK : VARNOX_ERROR_SEND;
    }
    return varnox::device::StoreResult(PortNumber, result);
}

// The value functions hand back the state itself; the result code stays in
// PortState. After a failure they return VARNOX_NO_VALUE, which no module
// state can take, so a caller that only looks at the value can still tell.
uint16_t VARNOX_RETINPUT(uint16_t PortNumber) {
    uint16_t state = VARNOX_NO_VALUE;
    VARNOX_GETINPUT(&state, PortNumber);
    return state;
}

uint16_t VARNOX_RETINPUTDATA(uint16_t PortNumber) {
    uint16_t state = VARNOX_NO_VALUE;
    VARNOX_CHECKINPUT(&state, PortNumber);
    return state;
}

uint16_t VARNOX_RETOUTPUT(uint16_t PortNumber) {
    uint16_t state = VARNOX_NO_VALUE;
    VARNOX_GETOUTPUT(&state, PortNumber);
    return state;
}

}  // extern "C"
