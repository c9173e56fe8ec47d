// Starting and ending a slot's trace file.
#include <cstdio>

#include "device/PortTable.h"
#include "device/VARNOX.h"
#include "serial/TraceEntry.h"

using varnox::device::InRange;
using varnox::device::PortTable;
using varnox::device::StoreResult;

extern "C" {

int32_t VARNOX_OPENDEBUGFILE(const char* FileName, uint16_t PortNumber) {
    if (!InRange(PortNumber)) return VARNOX_PORTNUMBER_OUT_OF_RANGE;
    COMPort& port = PortTable(PortNumber);
    if (port.DebugStream != nullptr) {
        const int32_t closed = StoreResult(PortNumber, VARNOX_CLOSEDEBUGFILE(PortNumber));
        if (closed != VARNOX_OK) return closed;
    }
    // A null name is treated as a path that cannot be opened, not passed on.
    port.DebugStream = FileName != nullptr ? std::fopen(FileName, "a+") : nullptr;
    if (port.DebugStream == nullptr) {
        return StoreResult(PortNumber, VARNOX_ERROR_DEBUGFILE_OPEN);
    }
    std::fprintf(port.DebugStream, "Debugging output file for PortNumber=%hu\n", PortNumber);
    varnox::serial::WriteTraceEntry(port, "File opened by VARNOX_OpenDebugFile\n");
    return StoreResult(PortNumber, VARNOX_OK);
}

int32_t VARNOX_CLOSEDEBUGFILE(uint16_t PortNumber) {
    if (!InRange(PortNumber)) return VARNOX_PORTNUMBER_OUT_OF_RANGE;
    COMPort& port = PortTable(PortNumber);
    if (port.DebugStream == nullptr) {
        return StoreResult(PortNumber, VARNOX_OK);
    }
    varnox::serial::WriteTraceEntry(port, "File closed by VARNOX_CloseDebugFile\n");
    std::FILE* stream = port.DebugStream;
    // The stream is given up whatever fclose reports: it is invalid afterwards.
    port.DebugStream = nullptr;
    return std::fclose(stream) == 0 ? VARNOX_OK : VARNOX_ERROR_DEBUGFILE_CLOSE;
}

}  // extern "C"
