// The simulated module: owns a pseudo-terminal, reads command frames from
// its master side, answers them as the firmware does, and sends automatic
// input reports, all on a thread of its own. A client (the library, a test)
// opens the slave, SlavePath(), as its serial port.
//
// The core keeps a second descriptor of the slave from Start() on. It reads
// the client's line setting through it, and it keeps the pseudo-terminal
// alive when a client closes the slave, so clients can come and go. That
// descriptor is opened before any client can open the slave (a client may
// set TIOCEXCL) and is never locked.
//
// Thread safety: every public method may be called from any thread.
#ifndef VARNOX_SIMULATOR_SIMULATORCORE_H
#define VARNOX_SIMULATOR_SIMULATORCORE_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>

#include "simulator/FaultModes.h"
#include "simulator/FirmwareIdentity.h"
#include "simulator/FrameParser.h"

namespace varnox::sim {

// Receives one log line at a time, without a line break. Lines starting with
// "<< " show a frame received from the client, ">> " bytes sent to it; other
// lines start with blanks.
using LogSink = std::function<void(const std::string& line)>;

struct CoreOptions {
    FirmwareIdentity identity;
    std::uint8_t inputs = 0;      // the input state at start, 0..31
    std::uint32_t counterMs = 0;  // above 0: the inputs count up by one every counterMs
    bool loopback = false;        // the inputs follow every output state set
    bool pace = false;            // send at the line rate: 11 bits a byte at 9600 baud
    FaultMode fault = FaultMode::kNone;
    std::uint32_t seed = 0;  // for garbage bytes; 0 picks a random seed
    LogSink log;             // empty: no log
};

struct CoreStatus {
    std::uint8_t inputs = 0;
    std::uint8_t outputs = 0;
    bool autoInput = false;
    FaultMode fault = FaultMode::kNone;
    bool running = false;              // between Start() and Stop()
    bool lineOpen = false;             // false after Stop() and once the line was closed
    std::string lineProblem;           // why frames get no answer; "" when the line is right
    std::uint64_t framesReceived = 0;  // every complete frame, once it has been dealt with
    std::uint64_t transmissions = 0;   // replies and reports dealt with (sent, or faulted)
    std::uint64_t reports = 0;         // the automatic input reports among them
};

class SimulatorCore {
public:
    // The byte time at the line rate: a start bit, 8 data bits, the parity
    // bit and a stop bit at 9600 baud.
    static constexpr std::chrono::nanoseconds kByteTime{11LL * 1000000000LL / 9600};

    explicit SimulatorCore(CoreOptions options = {});
    // Calls Stop().
    ~SimulatorCore();
    SimulatorCore(const SimulatorCore&) = delete;
    SimulatorCore& operator=(const SimulatorCore&) = delete;

    // Creates the pseudo-terminal and starts the thread. Throws
    // std::invalid_argument for bad options, std::runtime_error when the
    // system refuses a step, std::logic_error when called a second time; the
    // message says what failed and what to do.
    void Start();
    // Ends the thread, also in the middle of a paced or blocked transmission,
    // and closes the pseudo-terminal (a client sees a hang-up). Idempotent.
    void Stop();

    // The slave's path (for example /dev/pts/3); empty before Start().
    std::string SlavePath() const;

    // Sets the input state; with automatic input on and a new value, the
    // report goes out. False for a value above 31.
    bool SetInputs(unsigned value);
    void SetFault(FaultMode mode);
    CoreStatus Status() const;

    // Waits until `condition` holds for the status or `timeout` passes;
    // returns the last result of `condition`. The condition runs with the
    // core's lock held: it must not call the core.
    bool WaitUntil(const std::function<bool(const CoreStatus&)>& condition,
                   std::chrono::milliseconds timeout) const;
    // Waits until `count` frames have been received and dealt with.
    bool WaitForFrames(std::uint64_t count, std::chrono::milliseconds timeout) const;

private:
    using Clock = std::chrono::steady_clock;

    void Run();
    void ReadLine();
    void HandleFrame(const ReceivedFrame& frame);
    void CountUp();
    // Queues the report when the value changes with automatic input on.
    void ChangeInputsLocked(std::uint8_t value);
    // The Send and Pause functions return false when Stop() interrupted them.
    bool SendQueuedReports();
    bool Transmit(const std::string& frame, bool report);
    bool SendBytes(const std::string& bytes);
    bool WriteAll(const char* data, std::size_t count);
    bool PauseUntil(Clock::time_point deadline);
    std::string CheckLine();
    void CloseLine(const std::string& why);
    void Wake();
    void DrainWake();
    void Log(const std::string& line);

    const CoreOptions options_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    CoreStatus state_;
    std::deque<std::string> queuedReports_;
    std::string slavePath_;

    std::mutex logMutex_;
    std::atomic<bool> stopping_{false};
    bool started_ = false;
    std::thread thread_;

    // Owned by the thread once it runs.
    int master_ = -1;
    int slave_ = -1;
    int wake_ = -1;
    FrameParser parser_;
    std::mt19937 random_;
    bool lineChecked_ = false;
    std::string lastLineProblem_;
    Clock::time_point lineFreeAt_{};
};

}  // namespace varnox::sim

#endif
