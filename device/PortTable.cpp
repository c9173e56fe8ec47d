#include "device/PortTable.h"

#include <new>

namespace varnox::device {

std::int32_t PortState[kSlotCount];

namespace {
alignas(COMPort) unsigned char storage[kSlotCount][sizeof(COMPort)];
bool constructed = false;
}  // namespace

COMPort& PortTable(std::uint16_t portNumber) {
    return *std::launder(reinterpret_cast<COMPort*>(storage[portNumber]));
}

void ConstructPortTable() {
    if (constructed) return;
    for (std::uint16_t slot = 0; slot < kSlotCount; ++slot) new (storage[slot]) COMPort();
    constructed = true;
}

void ClosePortTable() {
    if (!constructed) return;
    for (int slot = kSlotCount - 1; slot >= 0; --slot) {
        PortTable(static_cast<std::uint16_t>(slot)).Close();
    }
}

void DestroyPortTable() {
    if (!constructed) return;
    for (int slot = kSlotCount - 1; slot >= 0; --slot) {
        PortTable(static_cast<std::uint16_t>(slot)).~COMPort();
    }
    constructed = false;
}

}  // namespace varnox::device
