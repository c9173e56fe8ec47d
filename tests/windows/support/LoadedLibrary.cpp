// The unit tests link the library's objects into the test program, where no
// DllMain runs. This builds the port table and runs the attach handling at
// start-up, as DLL_PROCESS_ATTACH does in VARNOX.dll.
#include "device/LibraryEntry.h"
#include "device/PortTable.h"

namespace {

const bool kLoaded = [] {
    varnox::device::ConstructPortTable();
    varnox::device::LibraryEntry(nullptr, varnox::device::kProcessAttach, nullptr);
    return true;
}();

}  // namespace
