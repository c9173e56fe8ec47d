// A module that floods the line with a megabyte of garbage while the
// application polls for input reports: every poll takes one frame and
// refuses it, nothing hangs, no memory piles up, and a purge then brings
// the line back for a real query.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>

#include "device/VARNOX.h"
#include "tests/fault/FaultSupport.h"
#include "tests/support/PseudoTerminal.h"

namespace varnox::test {
namespace {

constexpr std::uint16_t kSlot = 1;
constexpr unsigned kCom = 5;
constexpr std::size_t kChunk = 64 * 1024;
constexpr std::uint16_t kUntouched = 0xBEEF;

struct FloodTally {
    std::map<std::int32_t, std::size_t> results;  // code -> how often, VARNOX_NO_DATA left out
    std::uint16_t state = kUntouched;             // CHECKINPUT's output, never to be written
    long long longestCallMs = 0;
    bool writerOk = false;
    bool finished = false;  // false: the polling did not end in time
    std::size_t Count(std::int32_t code) const {
        const auto found = results.find(code);
        return found == results.end() ? 0 : found->second;
    }
    std::size_t Frames() const {
        std::size_t frames = 0;
        for (const auto& entry : results) frames += entry.second;
        return frames;
    }
};

class Flood : public ::testing::Test {
protected:
    Flood() : pty_(kCom) { ResetLibrary(); }
    ~Flood() override { ResetLibrary(); }

    void SetUp() override {
        ASSERT_EQ(VARNOX_OPEN(kCom, kSlot), VARNOX_OK) << VARNOX_IO_ERRORMESSAGE(kSlot);
    }

    // Writes `chunks` chunks of garbage from the module's side while this
    // thread polls for reports, until the writer is done and the line is
    // empty.
    FloodTally Run(std::size_t chunks, long long deadlineMs) {
        FloodTally tally;
        std::atomic<bool> written{false};
        std::thread writer([&] {
            bool ok = true;
            for (std::size_t i = 0; i < chunks && ok; ++i) {
                ok = pty_.WriteFromMaster(garbage_.data(), garbage_.size());
            }
            tally.writerOk = ok;
            written = true;
        });
        const auto start = Clock::now();
        for (;;) {
            const bool wasWritten = written;
            const auto callStart = Clock::now();
            const std::int32_t result = VARNOX_CHECKINPUT(&tally.state, kSlot);
            const long long callMs = MsSince(callStart);
            if (callMs > tally.longestCallMs) tally.longestCallMs = callMs;
            if (result != VARNOX_NO_DATA) {
                ++tally.results[result];
            } else if (wasWritten) {
                tally.finished = true;
                break;
            }
            if (MsSince(start) > deadlineMs) break;
        }
        writer.join();
        return tally;
    }

    PseudoTerminal pty_;
    const std::string garbage_ = NumberFreeGarbage(kChunk, 20240531);
};

TEST_F(Flood, EveryFrameIsRefusedAndPurgeRecovers) {
    // A short flood first, so that the memory figures below count the big
    // one only, not the first use of the code and the writer thread.
    const FloodTally warmUp = Run(1, 30000);
    ASSERT_TRUE(warmUp.finished && warmUp.writerOk);
    const MemoryFigures before = ProcessMemory();

    const FloodTally flood = Run(16, 120000);  // a megabyte
    const MemoryFigures after = ProcessMemory();
    ASSERT_TRUE(flood.writerOk);
    ASSERT_TRUE(flood.finished) << "polling did not end within two minutes";

    // Only refusals: a wrong letter, or the letter 'I' with no number.
    EXPECT_EQ(flood.state, kUntouched);
    EXPECT_EQ(flood.Count(VARNOX_OK), 0u);
    for (const auto& [code, count] : flood.results) {
        EXPECT_TRUE(code == VARNOX_ERROR_WRONG_COMMAND || code == VARNOX_ERROR_WRONG_ARGUMENT)
            << "code " << code << " came " << count << " times";
    }
    EXPECT_GT(flood.Count(VARNOX_ERROR_WRONG_COMMAND), 0u);
    EXPECT_GT(flood.Count(VARNOX_ERROR_WRONG_ARGUMENT), 0u);
    // Frame by frame: a poll takes a letter and at most three bytes, so a
    // megabyte makes a quarter million of them (less what the line still
    // held when the polling saw it empty, at most its buffer).
    EXPECT_GE(flood.Frames(), (16 * kChunk - 2 * kChunk) / 4);
    // A poll waits at most for the rest of one frame.
    EXPECT_LT(flood.longestCallMs, 1500);

    // The library keeps no copy of what came: the peak grows by far less
    // than the flood, even on a busy machine.
    ASSERT_GT(before.peakKb, 0);
    ASSERT_GT(after.peakKb, 0);
    EXPECT_LT(after.peakKb - before.peakKb, 512)
        << "peak " << before.peakKb << " -> " << after.peakKb << " kB";
    EXPECT_LT(after.residentKb - before.residentKb, 512)
        << "resident " << before.residentKb << " -> " << after.residentKb << " kB";

    // Garbage left both in the read-ahead and on the line, then the purge.
    ASSERT_TRUE(pty_.WriteFromMaster(garbage_.substr(0, 2000)));
    std::uint16_t state = kUntouched;
    std::int32_t result = VARNOX_NO_DATA;
    const auto start = Clock::now();
    while ((result = VARNOX_CHECKINPUT(&state, kSlot)) == VARNOX_NO_DATA && MsSince(start) < 5000) {
        std::this_thread::yield();
    }
    ASSERT_NE(result, VARNOX_NO_DATA);
    ASSERT_TRUE(pty_.WriteFromMaster(garbage_.substr(2000, 1000)));
    EXPECT_EQ(VARNOX_PURGE(kSlot), VARNOX_OK);

    ASSERT_TRUE(pty_.WriteFromMaster("I1A\r"));
    EXPECT_EQ(VARNOX_GETINPUT(&state, kSlot), VARNOX_OK) << VARNOX_ERRORMESSAGE(kSlot);
    EXPECT_EQ(state, 0x1A);
    EXPECT_EQ(pty_.ReadFromMaster(2, 2000), "i\r");
    EXPECT_EQ(VARNOX_CHECKINPUT(&state, kSlot), VARNOX_NO_DATA);
}

}  // namespace
}  // namespace varnox::test
