// Small helpers shared by the fault tests: elapsed time, the device
// directory variable, a directory of COMn links to several devices, the
// process's memory figures and garbage that can never parse as a state.
#ifndef VARNOX_TESTS_FAULT_FAULTSUPPORT_H
#define VARNOX_TESTS_FAULT_FAULTSUPPORT_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/Elapsed.h"
#include "tests/support/LibraryFixture.h"

namespace varnox::test {

// Points VARNOX_DEVICE_DIR at `path` for the object's lifetime.
class ScopedDeviceDir {
public:
    explicit ScopedDeviceDir(const std::string& path);
    ~ScopedDeviceDir();
    ScopedDeviceDir(const ScopedDeviceDir&) = delete;
    ScopedDeviceDir& operator=(const ScopedDeviceDir&) = delete;

private:
    std::optional<std::string> previous_;
};

// A fresh directory holding one link COMn -> device per Add(); removed
// with its links (never the devices) on destruction.
class PortDirectory {
public:
    // False when the link cannot be made.
    bool Add(unsigned comNumber, const std::string& device);
    const std::string& Path() const { return dir_.Path(); }

private:
    TempDir dir_;
};

// The process's resident set now and at its peak, in kB (-1 when unknown).
struct MemoryFigures {
    long residentKb = -1;
    long peakKb = -1;
};
MemoryFigures ProcessMemory();

// Bytes a module could send by mistake: anything but hexadecimal digits,
// with the report letter 'I' among them. A report read from it has either
// another letter (wrong command) or the letter 'I' and no number (wrong
// argument); no slice of it can ever parse as an input state.
std::string NumberFreeGarbage(std::size_t size, std::uint32_t seed);

// CPU time (user + system) a running process has used so far, in seconds;
// negative when it cannot be read.
double ProcessCpuSeconds(int pid);

}  // namespace varnox::test

#endif
