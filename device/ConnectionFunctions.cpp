// Version, open, close, purge and the per-slot result and error reports.
#include "device/PortTable.h"
#include "device/ResultCodes.h"
#include "device/VARNOX.h"
#include "serial/TraceEntry.h"

using varnox::device::InRange;
using varnox::device::PortState;
using varnox::device::PortTable;
using varnox::device::StoreResult;

namespace {

const char kOutOfRangeText[] = "PortNumber out of range";

}  // namespace

extern "C" {

uint16_t VARNOX_VERSION(void) {
    return VARNOX_VERSION_WORD;
}

int32_t VARNOX_OPEN(uint16_t ComNumber, uint16_t PortNumber) {
    if (!InRange(PortNumber)) return VARNOX_PORTNUMBER_OUT_OF_RANGE;
    return StoreResult(PortNumber,
                       PortTable(PortNumber).Open(ComNumber) ? VARNOX_OK : VARNOX_ERROR_OPEN);
}

int32_t VARNOX_CLOSE(uint16_t PortNumber) {
    if (!InRange(PortNumber)) return VARNOX_PORTNUMBER_OUT_OF_RANGE;
    return StoreResult(PortNumber, PortTable(PortNumber).Close() ? VARNOX_OK : VARNOX_ERROR_CLOSE);
}

int32_t VARNOX_PURGE(uint16_t PortNumber) {
    if (!InRange(PortNumber)) return VARNOX_PORTNUMBER_OUT_OF_RANGE;
    COMPort& port = PortTable(PortNumber);
    if (port.Purge()) return StoreResult(PortNumber, VARNOX_OK);
    varnox::serial::WriteTraceEntry(port, "VARNOX_Purge: Error purging the port\n");
    return StoreResult(PortNumber, VARNOX_ERROR_PURGE);
}

int32_t VARNOX_STATE(uint16_t PortNumber) {
    if (!InRange(PortNumber)) return VARNOX_PORTNUMBER_OUT_OF_RANGE;
    return PortState[PortNumber];
}

const char* VARNOX_ERRORMESSAGE(uint16_t PortNumber) {
    if (!InRange(PortNumber)) return kOutOfRangeText;
    return varnox::device::ResultCodeText(PortState[PortNumber]);
}

int32_t VARNOX_IO_STATE(uint16_t PortNumber) {
    if (!InRange(PortNumber)) return VARNOX_PORTNUMBER_OUT_OF_RANGE;
    return PortTable(PortNumber).ErrorState;
}

const char* VARNOX_IO_ERRORMESSAGE(uint16_t PortNumber) {
    if (!InRange(PortNumber)) return kOutOfRangeText;
    return PortTable(PortNumber).ErrorMessage();
}

}  // extern "C"
