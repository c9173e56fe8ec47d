// A pseudo-terminal pair posing as a serial port, for tests.
//
// The helper keeps the master side. The slave appears as COMn in a fresh
// temporary directory (a symbolic link to the slave path), and
// VARNOX_DEVICE_DIR points at that directory for as long as the helper
// lives, so opening DeviceName() through the serial layer opens the slave.
// The destructor closes the master, removes the directory and restores the
// variable's previous value. Helpers nest: destroy them in reverse order of
// construction.
//
// Construction throws std::runtime_error when the system refuses a step.
#ifndef VARNOX_TESTS_SUPPORT_PSEUDOTERMINAL_H
#define VARNOX_TESTS_SUPPORT_PSEUDOTERMINAL_H

#include <cstddef>
#include <optional>
#include <string>

struct termios;

namespace varnox::test {

class PseudoTerminal {
public:
    explicit PseudoTerminal(unsigned portNumber = 1);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // -1 after CloseMaster().
    int MasterFd() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }
    const std::string& DeviceDir() const { return dir_; }
    // The Windows-form name, the characters \\.\COMn.
    const std::string& DeviceName() const { return deviceName_; }

    // Writes every byte from the master side; false on an error.
    bool WriteFromMaster(const void* data, std::size_t count);
    bool WriteFromMaster(const std::string& bytes);
    // Reads from the master until `wanted` bytes came or `timeoutMs` passed
    // since the call began; returns what came.
    std::string ReadFromMaster(std::size_t wanted, int timeoutMs);
    // Makes the device vanish: the slave side sees a hang-up.
    void CloseMaster();

    // A second descriptor of the slave (O_RDWR|O_NOCTTY|O_NONBLOCK, close it
    // yourself); -1 with errno on failure.
    int OpenSlave() const;
    // The slave's settings, read through a second descriptor.
    bool SlaveSettings(termios& settings) const;

private:
    int master_ = -1;
    std::string slavePath_;
    std::string dir_;
    std::string linkPath_;
    std::string deviceName_;
    std::optional<std::string> previousDeviceDir_;
};

}  // namespace varnox::test

#endif
