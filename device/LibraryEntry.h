#ifndef VARNOX_DEVICE_LIBRARYENTRY_H
#define VARNOX_DEVICE_LIBRARYENTRY_H

#include <cstdint>

namespace varnox::device {

// The load and unload notification reasons, with the values the platform
// passes for them.
enum EntryReason : std::uint32_t {
    kProcessDetach = 0,
    kProcessAttach = 1,
    kThreadAttach = 2,
    kThreadDetach = 3,
};

// The library's handler for the platform's load, unload and thread
// notifications. Uses only `reason`; returns 1 for every reason.
int LibraryEntry(void* module, std::uint32_t reason, void* reserved);

}  // namespace varnox::device

#endif
