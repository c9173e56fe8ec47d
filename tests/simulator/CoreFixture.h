// A simulator core with its log captured and a raw termios client on its
// slave, for the tests of what the module puts on the wire.
#ifndef VARNOX_TESTS_SIMULATOR_COREFIXTURE_H
#define VARNOX_TESTS_SIMULATOR_COREFIXTURE_H

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "simulator/SimulatorCore.h"
#include "tests/simulator/RawClient.h"

namespace varnox::test {

inline constexpr std::chrono::milliseconds kWait{kReplyTimeoutMs};

// Values that show zero padding and letter case in every reply.
sim::CoreOptions TestOptions();  // inputs 15h, version 001Eh, "Jan 31 2024",
                                 // "Test module 7", product 0000ABCDh

class CoreTest : public ::testing::Test {
protected:
    // Starts the core (log captured) and opens the client, set to the
    // module's line unless `modemLine` is false.
    void Start(sim::CoreOptions options = TestOptions(), bool modemLine = true);
    // How many log lines start with `prefix`.
    std::size_t CountLog(const std::string& prefix) const;
    std::string Log() const;

    mutable std::mutex logMutex_;
    std::vector<std::string> log_;
    std::unique_ptr<sim::SimulatorCore> core_;
    std::unique_ptr<RawClient> client_;
};

}  // namespace varnox::test

#endif
