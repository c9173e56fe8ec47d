#include "simulator/DeviceDirectory.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace varnox::sim {

DeviceDirectory::DeviceDirectory(unsigned comNumber, const std::string& target) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
    std::string pattern = base + "/varnox-sim-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("VARNOX-Sim: cannot create a device directory in " + base + ": " +
                                 std::strerror(errno) + "; point TMPDIR at a writable directory");
    }
    path_ = pattern;
    linkPath_ = path_ + "/COM" + std::to_string(comNumber);
    if (::symlink(target.c_str(), linkPath_.c_str()) != 0) {
        const int error = errno;
        ::rmdir(path_.c_str());
        throw std::runtime_error("VARNOX-Sim: cannot create the link " + linkPath_ + " -> " +
                                 target + ": " + std::strerror(error) +
                                 "; point TMPDIR at a directory that allows symbolic links");
    }
}

DeviceDirectory::~DeviceDirectory() {
    ::unlink(linkPath_.c_str());
    ::rmdir(path_.c_str());
}

}  // namespace varnox::sim
