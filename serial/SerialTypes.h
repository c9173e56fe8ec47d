// Types shared by COMPort and the platform layer beneath it.
#ifndef VARNOX_SERIAL_SERIALTYPES_H
#define VARNOX_SERIAL_SERIALTYPES_H

#include <cstdint>

namespace varnox::serial {

// A device held by the platform layer. Wide enough for a file descriptor,
// a table index or a Windows HANDLE; all bits set means "no device".
using HandleType = std::intptr_t;
inline constexpr HandleType kInvalidHandle = -1;

// How the last COMPort method that reports an outcome ended.
enum ErrorStateValue : std::int32_t {
    kNoError = 0,
    kNotOpened = 1,
    kCannotOpen = 2,
    kCannotGetState = 3,
    kCannotSetState = 4,
    kCannotSetTimeouts = 5,
    kCannotPurge = 6,
    kReadError = 7,
    kWriteError = 8,
    kWrongWriteCount = 9,
    kControlLinesError = 10,
    kStatusLinesError = 11,
};

}  // namespace varnox::serial

#endif
