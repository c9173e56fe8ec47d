// Binds the library's lifecycle to the loading and unloading of an ELF shared
// object. The port table is built in a load constructor rather than as a C++
// static object, because the unload handling must still call methods on the
// slots after their ports have been closed: a static array would already be
// destroyed by then. Order at unload: close every slot (7 down to 0), run the
// detach handling (which traces, closes again and ends the trace files), and
// only then end the objects' lifetime.
#include "device/LibraryEntry.h"
#include "device/PortTable.h"

namespace {

// Run before any ordinary static constructor, so the slots exist early.
__attribute__((constructor(101))) void LoadVarnox() {
    varnox::device::ConstructPortTable();
    varnox::device::LibraryEntry(nullptr, varnox::device::kProcessAttach, nullptr);
}

__attribute__((destructor(101))) void UnloadVarnox() {
    varnox::device::ClosePortTable();
    varnox::device::LibraryEntry(nullptr, varnox::device::kProcessDetach, nullptr);
    varnox::device::DestroyPortTable();
}

}  // namespace
