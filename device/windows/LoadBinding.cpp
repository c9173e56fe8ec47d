// Binds the library's lifecycle to DllMain. The MinGW-w64 start-up code runs
// the DLL's static constructors before DllMain sees DLL_PROCESS_ATTACH and
// its static destructors (the DLL's own atexit list) after DllMain returns
// from DLL_PROCESS_DETACH. The port table does not rely on either: it lives
// in storage whose lifetime this file controls, so the slots exist before
// the attach handling and stay usable, trace streams included, until the
// detach handling has finished. Order at unload: close every slot (7 down
// to 0), run the detach handling (which traces, closes again and ends the
// trace files), and only then end the objects' lifetime.
//
// Windows really sends DLL_THREAD_ATTACH and DLL_THREAD_DETACH for every
// thread the process starts and ends while the DLL is loaded; they go to
// LibraryEntry unchanged, which only traces them.
#include <windows.h>

#include "device/LibraryEntry.h"
#include "device/PortTable.h"

namespace {

using varnox::device::LibraryEntry;

static_assert(DLL_PROCESS_DETACH == varnox::device::kProcessDetach &&
                  DLL_PROCESS_ATTACH == varnox::device::kProcessAttach &&
                  DLL_THREAD_ATTACH == varnox::device::kThreadAttach &&
                  DLL_THREAD_DETACH == varnox::device::kThreadDetach,
              "LibraryEntry takes the reasons with the values DllMain is given");

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            varnox::device::ConstructPortTable();
            return LibraryEntry(module, reason, reserved);
        case DLL_PROCESS_DETACH:
            varnox::device::ClosePortTable();
            LibraryEntry(module, reason, reserved);
            varnox::device::DestroyPortTable();
            return TRUE;
        default: return LibraryEntry(module, reason, reserved);
    }
}
