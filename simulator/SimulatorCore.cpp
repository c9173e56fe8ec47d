#include "simulator/SimulatorCore.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "simulator/EscapeText.h"
#include "simulator/FaultShaping.h"
#include "simulator/Firmware.h"
#include "simulator/LineCheck.h"

namespace varnox::sim {

namespace {

constexpr std::size_t kReadChunk = 512;

std::string Errno() {
    return std::strerror(errno);
}

std::string HexByte(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02Xh", value);
    return text;
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

timespec ToTimespec(std::chrono::nanoseconds left) {
    const auto ns = left.count() > 0 ? left.count() : 0;
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

}  // namespace

SimulatorCore::SimulatorCore(CoreOptions options) : options_(std::move(options)) {}

SimulatorCore::~SimulatorCore() {
    Stop();
    // Kept until now: SetInputs() on another thread may still wake a thread
    // that has already ended.
    CloseFd(wake_);
}

void SimulatorCore::Start() {
    if (started_) {
        throw std::logic_error(
            "VARNOX-Sim: the simulator core was started before; create a new one instead");
    }
    for (const std::string& problem :
         {DateProblem(options_.identity.date), IdProblem(options_.identity.id)}) {
        if (!problem.empty()) throw std::invalid_argument("VARNOX-Sim: " + problem);
    }
    if (options_.inputs >= kStateLimit) {
        throw std::invalid_argument("VARNOX-Sim: the input state at start must be 0..31, not " +
                                    std::to_string(options_.inputs));
    }
    started_ = true;

    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        throw std::runtime_error("VARNOX-Sim: cannot create the pseudo-terminal: " + Errno() +
                                 "; check that /dev/ptmx exists and /dev/pts is mounted");
    }
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        const std::string error = Errno();
        CloseFd(master_);
        throw std::runtime_error("VARNOX-Sim: cannot unlock the pseudo-terminal's slave: " + error +
                                 "; check the permissions of /dev/pts");
    }
    // Left as it is, the master's own side is raw. No termios call goes to
    // the master: Linux would apply it to the slave, whose setting belongs
    // to the client.
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0) {
        const std::string error = Errno();
        CloseFd(master_);
        throw std::runtime_error(std::string("VARNOX-Sim: cannot open the slave ") + name + ": " +
                                 error + "; check the permissions of /dev/pts");
    }
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
        const std::string error = Errno();
        CloseFd(slave_);
        CloseFd(master_);
        throw std::runtime_error("VARNOX-Sim: cannot create the wake-up event: " + error +
                                 "; the system may be out of file descriptors");
    }
    random_.seed(options_.seed != 0 ? options_.seed : std::random_device{}());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slavePath_ = name;
        state_.inputs = options_.inputs;
        state_.fault = options_.fault;
        state_.running = true;
        state_.lineOpen = true;
    }

    // The thread starts with every signal blocked, so that signals go to the
    // program's own threads and never interrupt the line's timing.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    try {
        thread_ = std::thread(&SimulatorCore::Run, this);
    } catch (const std::system_error& e) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        Stop();
        throw std::runtime_error(std::string("VARNOX-Sim: cannot start the simulator thread: ") +
                                 e.what() + "; the system may be out of threads");
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    Log("   module on " + std::string(name) + ", fault mode " + FaultName(options_.fault));
}

void SimulatorCore::Stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        Wake();
        thread_.join();
    }
    CloseFd(master_);
    CloseFd(slave_);
    std::lock_guard<std::mutex> lock(mutex_);
    state_.running = false;
    state_.lineOpen = false;
    changed_.notify_all();
}

std::string SimulatorCore::SlavePath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return slavePath_;
}

bool SimulatorCore::SetInputs(unsigned value) {
    if (value >= kStateLimit) return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ChangeInputsLocked(static_cast<std::uint8_t>(value));
    }
    Wake();
    return true;
}

void SimulatorCore::SetFault(FaultMode mode) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_.fault = mode;
        changed_.notify_all();
    }
    Log(std::string("   fault mode ") + FaultName(mode));
}

CoreStatus SimulatorCore::Status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

bool SimulatorCore::WaitUntil(const std::function<bool(const CoreStatus&)>& condition,
                              std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return condition(state_); });
}

bool SimulatorCore::WaitForFrames(std::uint64_t count, std::chrono::milliseconds timeout) const {
    return WaitUntil([count](const CoreStatus& s) { return s.framesReceived >= count; }, timeout);
}

void SimulatorCore::ChangeInputsLocked(std::uint8_t value) {
    if (value == state_.inputs) return;
    state_.inputs = value;
    if (state_.autoInput) queuedReports_.push_back(InputReport(value));
    changed_.notify_all();
}

void SimulatorCore::Run() {
    const auto counter = std::chrono::milliseconds(options_.counterMs);
    auto nextTick = Clock::now() + counter;
    while (!stopping_) {
        if (!SendQueuedReports()) break;
        const bool counting = options_.counterMs > 0 && master_ >= 0;
        timespec wait{};
        if (counting) wait = ToTimespec(nextTick - Clock::now());

        pollfd fds[2] = {{wake_, POLLIN, 0}, {master_, POLLIN, 0}};
        const nfds_t count = master_ >= 0 ? 2 : 1;
        const int r = ::ppoll(fds, count, counting ? &wait : nullptr, nullptr);
        if (r < 0 && errno != EINTR) {
            Log("   waiting for the line failed: " + Errno() + "; the simulator stops answering");
            CloseLine("the wait failed");
            continue;
        }
        if ((fds[0].revents & POLLIN) != 0) DrainWake();
        if (count == 2 && (fds[1].revents & POLLIN) != 0) {
            ReadLine();
        } else if (count == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            // The core holds the slave open, so only a hang-up forced on the
            // slave gets here; polling on would only spin.
            CloseLine("the pseudo-terminal was hung up");
        }
        if (counting && master_ >= 0 && Clock::now() >= nextTick) {
            nextTick += counter;
            if (nextTick < Clock::now()) nextTick = Clock::now() + counter;  // fell behind
            CountUp();
        }
    }
}

void SimulatorCore::ReadLine() {
    char buffer[kReadChunk];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    if (n <= 0) {
        CloseLine(std::string("reading the line failed: ") + (n == 0 ? "end of file" : Errno()));
        return;
    }
    for (const ReceivedFrame& frame :
         parser_.Feed(std::string_view(buffer, static_cast<std::size_t>(n)))) {
        if (stopping_) return;
        HandleFrame(frame);
    }
}

void SimulatorCore::HandleFrame(const ReceivedFrame& frame) {
    if (frame.overlong) {
        Log("<< " + EscapeBytes(frame.bytes) + "... (cut: longer than " +
            std::to_string(FrameParser::kMaxFrameLength) + " bytes)");
    } else {
        Log("<< " + EscapeBytes(frame.bytes + "\r"));
    }
    // A module whose UART runs another setting than the client would see
    // nothing it understands: the frame has no effect at all.
    if (!CheckLine().empty()) {
        Log("   ignored: the line is not set as the module's");
    } else {
        std::uint8_t inputs;
        std::uint8_t outputs;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            inputs = state_.inputs;
            outputs = state_.outputs;
        }
        Reaction reaction;
        if (frame.overlong) {
            reaction.kind = FrameKind::kMalformed;
            reaction.problem = "frame too long";
        } else {
            reaction = React(frame.bytes, options_.identity, inputs, outputs);
        }
        switch (reaction.kind) {
            case FrameKind::kQuery: Transmit(reaction.reply, false); break;
            case FrameKind::kSetOutput: {
                std::lock_guard<std::mutex> lock(mutex_);
                state_.outputs = reaction.output;
                if (options_.loopback) ChangeInputsLocked(reaction.output);
                changed_.notify_all();
                break;
            }
            case FrameKind::kAutoInput: {
                std::lock_guard<std::mutex> lock(mutex_);
                state_.autoInput = true;
                changed_.notify_all();
                break;
            }
            case FrameKind::kUnknown:
            case FrameKind::kMalformed: Log("   no answer: " + reaction.problem); break;
        }
        if (reaction.kind == FrameKind::kSetOutput) {
            Log("   outputs now " + HexByte(reaction.output));
        } else if (reaction.kind == FrameKind::kAutoInput) {
            Log("   automatic input on");
        }
        // A report the frame caused goes out before the next frame is read.
        SendQueuedReports();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++state_.framesReceived;
    changed_.notify_all();
}

void SimulatorCore::CountUp() {
    std::lock_guard<std::mutex> lock(mutex_);
    ChangeInputsLocked(static_cast<std::uint8_t>((state_.inputs + 1) % kStateLimit));
}

bool SimulatorCore::SendQueuedReports() {
    for (;;) {
        std::string report;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queuedReports_.empty()) return true;
            report = std::move(queuedReports_.front());
            queuedReports_.pop_front();
        }
        if (!Transmit(report, true)) return false;
    }
}

bool SimulatorCore::Transmit(const std::string& frame, bool report) {
    if (master_ < 0) return true;  // the line is closed: nothing goes out any more
    if (!CheckLine().empty()) {
        Log("   not sent, the line is not set as the module's: " + EscapeBytes(frame));
        return true;
    }
    FaultMode fault;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fault = state_.fault;
    }
    const ShapedFrame shaped = ShapeFrame(frame, fault, random_);
    const std::string faultNote = fault == FaultMode::kNone
                                      ? std::string()
                                      : std::string(" (fault ") + FaultName(fault) +
                                            ", instead of " + EscapeBytes(frame) + ")";
    bool going = true;
    if (shaped.closeLine) {
        CloseLine("fault close-line, instead of " + EscapeBytes(frame));
    } else if (shaped.pieces.empty()) {
        Log("   nothing sent" + faultNote);
    }
    for (std::size_t i = 0; i < shaped.pieces.size() && going && master_ >= 0; ++i) {
        const WirePiece& piece = shaped.pieces[i];
        std::string line = ">> " + EscapeBytes(piece.bytes);
        if (i == 0) line += faultNote;
        if (piece.pauseAfterMs > 0)
            line += ", then " + std::to_string(piece.pauseAfterMs) + " ms of quiet";
        Log(line);
        going = SendBytes(piece.bytes);
        if (going && piece.pauseAfterMs > 0) {
            going = PauseUntil(Clock::now() + std::chrono::milliseconds(piece.pauseAfterMs));
        }
    }
    if (!going) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    ++state_.transmissions;
    if (report) ++state_.reports;
    changed_.notify_all();
    return true;
}

bool SimulatorCore::SendBytes(const std::string& bytes) {
    if (!options_.pace) return WriteAll(bytes.data(), bytes.size());
    // Each byte is handed over when its stop bit would end on a real line,
    // counting from when the line became free. The schedule is fixed once for
    // the whole run, so a late wake-up delays one byte, not all that follow.
    const Clock::time_point now = Clock::now();
    Clock::time_point arrival = lineFreeAt_ > now ? lineFreeAt_ : now;
    for (const char& byte : bytes) {
        arrival += kByteTime;
        if (!PauseUntil(arrival) || !WriteAll(&byte, 1)) return false;
        lineFreeAt_ = arrival;
        if (master_ < 0) break;
    }
    return true;
}

bool SimulatorCore::WriteAll(const char* data, std::size_t count) {
    std::size_t done = 0;
    while (done < count && master_ >= 0) {
        const ssize_t n = ::write(master_, data + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            CloseLine("writing to the line failed: " + Errno());
            break;
        }
        // The client does not read and the pseudo-terminal is full: wait
        // for room, or for Stop().
        pollfd fds[2] = {{wake_, POLLIN, 0}, {master_, POLLOUT, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            CloseLine("waiting to write failed: " + Errno());
            break;
        }
        if (stopping_) return false;
        if ((fds[0].revents & POLLIN) != 0) DrainWake();
    }
    return true;
}

bool SimulatorCore::PauseUntil(Clock::time_point deadline) {
    for (;;) {
        if (stopping_) return false;
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return true;
        const timespec wait = ToTimespec(left);
        pollfd wake{wake_, POLLIN, 0};
        if (::ppoll(&wake, 1, &wait, nullptr) > 0) DrainWake();
    }
}

std::string SimulatorCore::CheckLine() {
    termios settings{};
    std::string problem;
    if (slave_ < 0) {
        problem = "the line is closed";
    } else if (::tcgetattr(slave_, &settings) != 0) {
        problem = "cannot read the line setting: " + Errno();
    } else {
        problem = LineProblem(settings);
    }
    if (!lineChecked_ || problem != lastLineProblem_) {
        lineChecked_ = true;
        lastLineProblem_ = problem;
        if (problem.empty()) {
            Log("   line: 9600 baud, 8 data bits, 1 stop bit, raw; answering");
        } else {
            Log("   line: " + problem +
                "; no answers until the client sets 9600 baud, 8 data bits, 1 stop bit, raw");
        }
        std::lock_guard<std::mutex> lock(mutex_);
        state_.lineProblem = problem;
        changed_.notify_all();
    }
    return problem;
}

void SimulatorCore::CloseLine(const std::string& why) {
    CloseFd(master_);
    CloseFd(slave_);
    Log("   line closed (" + why + "): the client sees a hang-up, the module answers no more");
    std::lock_guard<std::mutex> lock(mutex_);
    state_.lineOpen = false;
    changed_.notify_all();
}

void SimulatorCore::Wake() {
    if (wake_ < 0) return;
    const std::uint64_t one = 1;
    // A full counter already wakes the thread; nothing is lost when this fails.
    [[maybe_unused]] const ssize_t ignored = ::write(wake_, &one, sizeof one);
}

void SimulatorCore::DrainWake() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t ignored = ::read(wake_, &count, sizeof count);
}

void SimulatorCore::Log(const std::string& line) {
    if (!options_.log) return;
    std::lock_guard<std::mutex> lock(logMutex_);
    options_.log(line);
}

}  // namespace varnox::sim
