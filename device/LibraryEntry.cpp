#include "device/LibraryEntry.h"

#include "device/PortTable.h"
#include "device/VARNOX.h"
#include "serial/TraceEntry.h"

namespace varnox::device {

int LibraryEntry(void* /*module*/, std::uint32_t reason, void* /*reserved*/) {
    for (std::uint16_t slot = 0; slot < kSlotCount; ++slot) {
        COMPort& port = PortTable(slot);
        switch (reason) {
            case kProcessAttach:
                serial::WriteTraceEntry(port, "Initializing the DLL, fdwReason=%u\n", reason);
                PortState[slot] = VARNOX_OK;
                break;
            case kThreadAttach:
                serial::WriteTraceEntry(port, "Initializing the DLL, fdwReason=%u\n", reason);
                break;
            case kThreadDetach:
                serial::WriteTraceEntry(port, "Exiting the DLL, fdwReason=%u\n", reason);
                break;
            case kProcessDetach:
                serial::WriteTraceEntry(port, "Exiting the DLL, fdwReason=%u\n", reason);
                VARNOX_CLOSE(slot);
                VARNOX_CLOSEDEBUGFILE(slot);
                break;
            default: break;
        }
    }
    return 1;
}

}  // namespace varnox::device
