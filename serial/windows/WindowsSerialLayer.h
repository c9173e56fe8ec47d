// Internals of the Windows serial layer that its tests reach directly. The
// layer itself is only used through PlatformLayer().
#ifndef VARNOX_SERIAL_WINDOWS_WINDOWSSERIALLAYER_H
#define VARNOX_SERIAL_WINDOWS_WINDOWSSERIALLAYER_H

#include <windows.h>

#include "serial/SerialLayer.h"

namespace varnox::serial {

// Fills `settings` from the DCB that GetCommState returned and keeps the
// whole record in settings.native, so the fields LineSettings does not name
// (XonLim, XoffLim, XonChar, XoffChar, ErrorChar, EofChar, the reserved
// ones) go back to SetCommState unchanged. RTS_CONTROL_TOGGLE has no
// LineControl value of its own and reads as kHandshake (the driver drives
// the line).
void LineSettingsFromDcb(const DCB& dcb, LineSettings& settings);

// The DCB to hand to SetCommState: the record kept in settings.native with
// every field LineSettings names replaced. A kHandshake RTS setting keeps a
// kept RTS_CONTROL_TOGGLE, so a record read and written back is unchanged.
DCB DcbFromLineSettings(const LineSettings& settings);

COMMTIMEOUTS CommTimeoutsFrom(const Timeouts& timeouts);

// The EscapeCommFunction code for each Escape.
DWORD EscapeCode(Escape what);

// Whether an EscapeCommFunction call counts as done. A port without modem
// lines (Wine's pseudo-terminals, some virtual ports) refuses with
// ERROR_NOT_SUPPORTED: driving a line that does not exist has no effect and
// is not an error. Every other failure counts.
bool EscapeDone(BOOL result, DWORD lastError);

}  // namespace varnox::serial

#endif
