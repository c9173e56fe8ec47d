#include "tests/support/LibraryFixture.h"

#include <cstring>

#include "device/LibraryEntry.h"
#include "device/PortTable.h"
#include "device/Protocol.h"
#include "device/VARNOX.h"

namespace varnox::test {

void ResetLibrary() {
    for (std::uint16_t slot = 0; slot < device::kSlotCount; ++slot) {
        VARNOX_CLOSEDEBUGFILE(slot);
        VARNOX_CLOSE(slot);
        device::PortTable(slot).BufferedCount = 0;
    }
    std::memset(device::ReplyBuffer, 0, sizeof device::ReplyBuffer);
    device::LibraryEntry(nullptr, device::kProcessAttach, nullptr);
}

}  // namespace varnox::test
