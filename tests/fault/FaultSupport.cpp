#include "tests/fault/FaultSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "serial/posix/PosixSerialLayer.h"
#include "tests/support/Elapsed.h"

namespace varnox::test {

ScopedDeviceDir::ScopedDeviceDir(const std::string& path) {
    if (const char* previous = std::getenv(serial::kDeviceDirVariable)) previous_ = previous;
    ::setenv(serial::kDeviceDirVariable, path.c_str(), 1);
}

ScopedDeviceDir::~ScopedDeviceDir() {
    if (previous_) {
        ::setenv(serial::kDeviceDirVariable, previous_->c_str(), 1);
    } else {
        ::unsetenv(serial::kDeviceDirVariable);
    }
}

bool PortDirectory::Add(unsigned comNumber, const std::string& device) {
    const std::string link = dir_.File("COM" + std::to_string(comNumber));
    return ::symlink(device.c_str(), link.c_str()) == 0;
}

MemoryFigures ProcessMemory() {
    MemoryFigures figures;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        std::istringstream fields(line);
        std::string name;
        long value = -1;
        fields >> name >> value;
        if (name == "VmRSS:") figures.residentKb = value;
        if (name == "VmHWM:") figures.peakKb = value;
    }
    return figures;
}

std::string NumberFreeGarbage(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string garbage;
    garbage.reserve(size);
    while (garbage.size() < size) {
        // About one byte in eight is the report letter, so reports with the
        // right letter and a broken number come often.
        if (byte(random) < 32) {
            garbage.push_back('I');
            continue;
        }
        const char c = static_cast<char>(byte(random));
        const bool hexDigit =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hexDigit) garbage.push_back(c);
    }
    return garbage;
}

double ProcessCpuSeconds(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name is in parentheses and may hold blanks: count fields
    // after the last ')'. utime and stime are fields 14 and 15 of the line.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return -1.0;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int number = 3; number <= 15 && (fields >> field); ++number) {
        if (number == 14) utime = std::stoull(field);
        if (number == 15) stime = std::stoull(field);
    }
    if (!fields) return -1.0;
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace varnox::test
