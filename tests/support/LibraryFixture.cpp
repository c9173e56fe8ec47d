#include "tests/support/LibraryFixture.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

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

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnox-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot create a temporary directory";
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace varnox::test
