#include "tests/simulator/CoreFixture.h"

namespace varnox::test {

sim::CoreOptions TestOptions() {
    sim::CoreOptions options;
    options.inputs = 0x15;
    options.identity.version = 0x001E;
    options.identity.date = "Jan 31 2024";
    options.identity.id = "Test module 7";
    options.identity.productNumber = 0x0000ABCD;
    return options;
}

void CoreTest::Start(sim::CoreOptions options, bool modemLine) {
    options.log = [this](const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex_);
        log_.push_back(line);
    };
    core_ = std::make_unique<sim::SimulatorCore>(std::move(options));
    core_->Start();
    client_ = std::make_unique<RawClient>(core_->SlavePath());
    if (modemLine) {
        ASSERT_TRUE(client_->SetModemLine());
    }
}

std::size_t CoreTest::CountLog(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(logMutex_);
    std::size_t count = 0;
    for (const std::string& line : log_) {
        if (line.compare(0, prefix.size(), prefix) == 0) ++count;
    }
    return count;
}

std::string CoreTest::Log() const {
    std::lock_guard<std::mutex> lock(logMutex_);
    std::string all;
    for (const std::string& line : log_) all += line + "\n";
    return all;
}

}  // namespace varnox::test
