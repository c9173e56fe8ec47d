// A Wine limit of pseudo-terminal ports, and the test set-up step for it.
//
// A pseudo-terminal has no parity: Linux drops PARENB from every setting,
// and tcsetattr fails (EINVAL) when nothing it was asked for was taken.
// Wine's SetCommState applies the parity with a tcsetattr of its own, so once
// a Windows program has set 9600 baud, 8E1 on the line, every later
// SetCommState of that setting asks for nothing but the parity and fails:
// the next Open ends with ErrorState 4. A real serial port keeps its parity
// and never shows this. Before each open of the module's port the tests
// therefore set the line to another speed, so that the library's
// SetCommState has a change the pseudo-terminal can take.
#ifndef VARNOX_TESTS_WINDOWS_SUPPORT_WINELINE_H
#define VARNOX_TESTS_WINDOWS_SUPPORT_WINELINE_H

#include <cstdint>

namespace varnox::test {

// Under Wine: opens COMn, sets it to 19200 baud without parity and closes it
// again. False when that fails. On Windows it does nothing and returns true.
bool UnsetLineForNextOpen(std::uint16_t com);

}  // namespace varnox::test

#endif
