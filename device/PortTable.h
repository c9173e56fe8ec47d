// The library's eight port slots and the result code stored for each.
#ifndef VARNOX_DEVICE_PORTTABLE_H
#define VARNOX_DEVICE_PORTTABLE_H

#include <cstdint>

#include "serial/COMPort.h"

namespace varnox::device {

inline constexpr std::uint16_t kSlotCount = 8;

inline bool InRange(std::uint16_t portNumber) {
    return portNumber < kSlotCount;
}

// The result code of the last storing call on each slot; zero at load.
extern std::int32_t PortState[kSlotCount];

// Stores `result` as the slot's PortState and returns it.
inline std::int32_t StoreResult(std::uint16_t portNumber, std::int32_t result) {
    PortState[portNumber] = result;
    return result;
}

// The COMPort of a slot. Valid from ConstructPortTable() until
// DestroyPortTable(); `portNumber` must be in range.
COMPort& PortTable(std::uint16_t portNumber);

// The table lives in static storage whose lifetime the load binding controls
// instead of the C++ runtime, so the objects stay usable until the unload
// handling has finished (see LoadBinding.cpp).
void ConstructPortTable();
// The observable part of tearing the table down: every slot's Close(),
// slot 7 down to 0, while the objects and their trace streams still live.
void ClosePortTable();
// Ends the objects' lifetime, slot 7 down to 0.
void DestroyPortTable();

}  // namespace varnox::device

#endif
