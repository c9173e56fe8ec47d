// Internals of the POSIX serial layer that its tests reach directly. The
// layer itself is only used through PlatformLayer().
#ifndef VARNOX_SERIAL_POSIX_POSIXSERIALLAYER_H
#define VARNOX_SERIAL_POSIX_POSIXSERIALLAYER_H

#include <cstddef>

struct termios;

namespace varnox::serial {

// How many devices the layer can hold open at once. The device records live
// in a static table so that opening a port never allocates; Open fails with
// EMFILE when every record is in use.
inline constexpr std::size_t kMaxDevices = 64;

// Names the directory that holds the devices COM1, COM2, ... (usually
// symbolic links to ttys). Read at every Open.
inline constexpr const char* kDeviceDirVariable = "VARNOX_DEVICE_DIR";

// Maps the Windows-form name "\\.\COMn" (n = 0..65535, no leading zeros) to a
// device path: "<deviceDir>/COMn" when deviceDir is neither null nor empty,
// otherwise "/dev/ttyS<n-1>", where COM0 names no device. Writes at most
// `size` bytes including the terminating NUL. Fails with ENOENT for a name
// of any other form and ENAMETOOLONG when the path does not fit.
bool ResolveDevicePath(const char* name, const char* deviceDir, char* path, std::size_t size);

// True for a Unix98 pseudo-terminal slave, recognised by its device number.
bool IsPseudoTerminal(int fd);

// Whether the device took the parts of `asked` that the layer manages: speed,
// character size, parity, stop bits, hardware and software flow control. A
// pseudo-terminal has no parity and always uses 8 data bits, so those two
// are not compared for it.
bool LineSettingTaken(const termios& asked, const termios& got, bool pseudoTerminal);

}  // namespace varnox::serial

#endif
