// Eight modules at once, one per slot, each with its own identity, inputs
// and outputs, with the calls interleaved from one thread in a shuffled
// order. The slots share one reply buffer inside the library; every answer
// must still reach the slot that asked, and every command the module of
// that slot.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "device/VARNOX.h"
#include "simulator/SimulatorCore.h"
#include "tests/fault/FaultSupport.h"

namespace varnox::test {
namespace {

constexpr std::uint16_t kSlots = 8;

// Slot s uses COM ComFor(s): a permutation with no slot on COM s + 1, so a
// mix-up of slot and COM number shows.
unsigned ComFor(std::uint16_t slot) {
    return (slot * 5u + 2u) % kSlots + 1u;
}

sim::FirmwareIdentity IdentityFor(std::uint16_t slot) {
    static const char* const kMonths[kSlots] = {"Jan", "Feb", "Mar", "Apr",
                                                "May", "Jun", "Jul", "Aug"};
    sim::FirmwareIdentity identity;
    identity.version = static_cast<std::uint16_t>(0x0100 + slot * 0x0111);
    char date[16];
    std::snprintf(date, sizeof date, "%s %02u 20%02u", kMonths[slot], slot + 10u, slot + 17u);
    identity.date = date;
    // Lengths differ a lot, so a longer earlier reply would show through a
    // shorter later one if the buffer were not ended properly.
    identity.id = "Module of slot " + std::to_string(slot) + std::string(slot * 25u, '#');
    identity.productNumber = 0x10000000u * slot + 0x00ABC000u + slot;
    return identity;
}

std::uint8_t InputsFor(std::uint16_t slot) {
    return static_cast<std::uint8_t>(slot * 3 + 1);
}
std::uint16_t OutputsFor(std::uint16_t slot) {
    return static_cast<std::uint16_t>(30 - slot * 2);
}
std::uint16_t ReportFor(std::uint16_t slot) {
    return static_cast<std::uint16_t>(31 - slot);
}

class EightSlots : public ::testing::Test {
protected:
    EightSlots() { ResetLibrary(); }
    ~EightSlots() override {
        ResetLibrary();
        deviceDir_.reset();
        cores_.clear();
    }

    void SetUp() override {
        for (std::uint16_t slot = 0; slot < kSlots; ++slot) {
            sim::CoreOptions options;
            options.identity = IdentityFor(slot);
            options.inputs = InputsFor(slot);
            cores_.push_back(std::make_unique<sim::SimulatorCore>(options));
            cores_.back()->Start();
            ASSERT_TRUE(ports_.Add(ComFor(slot), cores_.back()->SlavePath()));
        }
        deviceDir_ = std::make_unique<ScopedDeviceDir>(ports_.Path());
        for (std::uint16_t slot = 0; slot < kSlots; ++slot) {
            ASSERT_EQ(VARNOX_OPEN(static_cast<std::uint16_t>(ComFor(slot)), slot), VARNOX_OK)
                << "slot " << slot << ": " << VARNOX_IO_ERRORMESSAGE(slot);
        }
    }

    // Runs the calls in an order shuffled with `seed`.
    static void Shuffled(std::vector<std::function<void()>> calls, unsigned seed) {
        std::mt19937 random(seed);
        std::shuffle(calls.begin(), calls.end(), random);
        for (const auto& call : calls) call();
    }

    PortDirectory ports_;
    std::vector<std::unique_ptr<sim::SimulatorCore>> cores_;
    std::unique_ptr<ScopedDeviceDir> deviceDir_;
};

TEST_F(EightSlots, EveryAnswerReachesItsOwnSlot) {
    // Frames each module must have received, counted as they are sent.
    std::vector<std::uint64_t> frames(kSlots, 0);

    std::vector<std::function<void()>> sets;
    for (std::uint16_t slot = 0; slot < kSlots; ++slot) {
        sets.push_back([slot, &frames] {
            EXPECT_EQ(VARNOX_SETOUTPUT(OutputsFor(slot), slot), VARNOX_OK) << "slot " << slot;
            ++frames[slot];
        });
    }
    Shuffled(sets, 1);

    std::vector<std::function<void()>> queries;
    for (std::uint16_t slot = 0; slot < kSlots; ++slot) {
        const sim::FirmwareIdentity identity = IdentityFor(slot);
        const std::string where = "slot " + std::to_string(slot);
        queries.push_back([slot, where] {
            std::uint16_t state = 0xFFFF;
            EXPECT_EQ(VARNOX_GETINPUT(&state, slot), VARNOX_OK) << where;
            EXPECT_EQ(state, InputsFor(slot)) << where;
        });
        queries.push_back([slot, where] {
            std::uint16_t state = 0xFFFF;
            EXPECT_EQ(VARNOX_GETOUTPUT(&state, slot), VARNOX_OK) << where;
            EXPECT_EQ(state, OutputsFor(slot)) << where;
        });
        queries.push_back([slot, where, identity] {
            std::uint16_t version = 0;
            EXPECT_EQ(VARNOX_FW_VER(&version, slot), VARNOX_OK) << where;
            EXPECT_EQ(version, identity.version) << where;
        });
        queries.push_back([slot, where, identity] {
            char date[13];
            EXPECT_EQ(VARNOX_FW_DATE(date, slot), VARNOX_OK) << where;
            EXPECT_EQ(std::string(date), identity.date + "\r") << where;
        });
        queries.push_back([slot, where, identity] {
            char id[257];
            EXPECT_EQ(VARNOX_PROD_ID(id, slot), VARNOX_OK) << where;
            EXPECT_EQ(std::string(id), identity.id + "\r") << where;
        });
        queries.push_back([slot, where, identity] {
            std::uint32_t number = 0;
            EXPECT_EQ(VARNOX_PROD_NO(&number, slot), VARNOX_OK) << where;
            EXPECT_EQ(number, identity.productNumber) << where;
        });
        queries.push_back([slot, where] {
            EXPECT_EQ(VARNOX_RETINPUT(slot), InputsFor(slot)) << where;
            EXPECT_EQ(VARNOX_STATE(slot), VARNOX_OK) << where;
        });
        queries.push_back([slot, where] {
            EXPECT_EQ(VARNOX_RETOUTPUT(slot), OutputsFor(slot)) << where;
            EXPECT_EQ(VARNOX_STATE(slot), VARNOX_OK) << where;
        });
    }
    for (std::uint16_t slot = 0; slot < kSlots; ++slot) frames[slot] += 8;
    // Two rounds in different orders.
    Shuffled(queries, 2);
    Shuffled(queries, 3);
    for (std::uint16_t slot = 0; slot < kSlots; ++slot) frames[slot] += 8;

    // Automatic input on everywhere, then one report per module, collected
    // in yet another order.
    std::vector<std::function<void()>> autos;
    for (std::uint16_t slot = 0; slot < kSlots; ++slot) {
        autos.push_back(
            [slot] { EXPECT_EQ(VARNOX_AUTOINPUT(slot), VARNOX_OK) << "slot " << slot; });
        ++frames[slot];
    }
    Shuffled(autos, 4);
    for (std::uint16_t slot = 0; slot < kSlots; ++slot) {
        ASSERT_TRUE(cores_[slot]->WaitUntil([](const sim::CoreStatus& s) { return s.autoInput; },
                                            std::chrono::seconds(5)));
        cores_[slot]->SetInputs(ReportFor(slot));
    }
    for (std::uint16_t slot = 0; slot < kSlots; ++slot) {
        ASSERT_TRUE(cores_[slot]->WaitUntil([](const sim::CoreStatus& s) { return s.reports >= 1; },
                                            std::chrono::seconds(5)));
    }
    std::vector<std::function<void()>> checks;
    for (std::uint16_t slot = 0; slot < kSlots; ++slot) {
        checks.push_back([slot] {
            std::uint16_t state = 0xFFFF;
            std::int32_t result = VARNOX_NO_DATA;
            const auto start = Clock::now();
            while ((result = VARNOX_CHECKINPUT(&state, slot)) == VARNOX_NO_DATA &&
                   MsSince(start) < 5000) {
                std::this_thread::yield();
            }
            EXPECT_EQ(result, VARNOX_OK) << "slot " << slot;
            EXPECT_EQ(state, ReportFor(slot)) << "slot " << slot;
            EXPECT_EQ(VARNOX_CHECKINPUT(&state, slot), VARNOX_NO_DATA) << "slot " << slot;
        });
    }
    Shuffled(checks, 5);

    // Each module saw exactly its own slot's commands and holds its outputs.
    for (std::uint16_t slot = 0; slot < kSlots; ++slot) {
        EXPECT_TRUE(cores_[slot]->WaitForFrames(frames[slot], std::chrono::seconds(5)));
        const sim::CoreStatus status = cores_[slot]->Status();
        EXPECT_EQ(status.framesReceived, frames[slot]) << "slot " << slot;
        EXPECT_EQ(status.outputs, OutputsFor(slot)) << "slot " << slot;
    }
    for (std::uint16_t slot = 0; slot < kSlots; ++slot) {
        EXPECT_EQ(VARNOX_CLOSE(slot), VARNOX_OK) << "slot " << slot;
    }
}

}  // namespace
}  // namespace varnox::test
