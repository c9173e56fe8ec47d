// Publishes a pseudo-terminal slave as COMn: a fresh temporary directory
// holding the symbolic link COMn to the slave. Pointing VARNOX_DEVICE_DIR at
// the directory makes the library open the slave for COMn.
#ifndef VARNOX_SIMULATOR_DEVICEDIRECTORY_H
#define VARNOX_SIMULATOR_DEVICEDIRECTORY_H

#include <string>

namespace varnox::sim {

class DeviceDirectory {
public:
    // Creates $TMPDIR/varnox-sim-XXXXXX (/tmp without TMPDIR) and the link.
    // Throws std::runtime_error saying what failed and what to do.
    DeviceDirectory(unsigned comNumber, const std::string& target);
    // Removes the link and the directory.
    ~DeviceDirectory();
    DeviceDirectory(const DeviceDirectory&) = delete;
    DeviceDirectory& operator=(const DeviceDirectory&) = delete;

    const std::string& Path() const { return path_; }
    const std::string& LinkPath() const { return linkPath_; }

private:
    std::string path_;
    std::string linkPath_;
};

}  // namespace varnox::sim

#endif
