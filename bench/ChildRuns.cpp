#include "bench/ChildRuns.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "bench/Measure.h"
#include "bench/Spawn.h"
#include "device/VARNOX.h"
#include "simulator/DeviceDirectory.h"
#include "simulator/SimulatorCore.h"

namespace varnox::bench {

namespace {

std::string TempPath(const char* what) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") +
                          "/varnox-bench-" + what + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        throw std::runtime_error("cannot create a file like " + pattern + ": " +
                                 std::strerror(errno) + "; check TMPDIR");
    }
    ::close(fd);
    return name.data();
}

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The last `count` lines of `text` that are not empty, joined with " | ".
std::string LastLines(const std::string& text, std::size_t count) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    std::string joined;
    const std::size_t first = lines.size() > count ? lines.size() - count : 0;
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (!joined.empty()) joined += " | ";
        joined += lines[i];
    }
    return joined.empty() ? "(nothing)" : joined;
}

// The "calls" column of `strace -c` per system call, "total" included.
std::map<std::string, std::uint64_t> ParseSummary(const std::string& text) {
    std::map<std::string, std::uint64_t> calls;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string w; words >> w;) fields.push_back(w);
        // % time, seconds, usecs/call, calls, [errors,] name
        if (fields.size() < 5 || fields[0].find_first_not_of("0123456789.") != std::string::npos) {
            continue;
        }
        calls[fields.back()] = std::strtoull(fields[3].c_str(), nullptr, 10);
    }
    return calls;
}

bool CountedRun(const std::string& self, std::uint64_t polls,
                std::map<std::string, std::uint64_t>& calls, std::string& problem) {
    const std::string summary = TempPath("strace");
    const std::string log = TempPath("strace-log");
    const int logFd = ::open(log.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    SpawnSetup setup;
    setup.argv = {
        "strace", "-f", "-c", "-o", summary, self, "--empty-polls-child", std::to_string(polls)};
    setup.searchPath = true;
    setup.output = logFd;
    setup.error = logFd;
    int status = -1;
    try {
        status = Reap(Spawn(setup), 60000);
    } catch (const std::exception& e) {
        problem = std::string(e.what()) + "; install strace (scripts/bench does)";
    }
    if (logFd >= 0) ::close(logFd);
    const std::string logText = FileText(log);
    calls = ParseSummary(FileText(summary));
    ::unlink(summary.c_str());
    ::unlink(log.c_str());
    if (!problem.empty()) return false;
    if (status != 0) {
        problem = Format("strace over the empty-poll child ended with status %d: %s", status,
                         LastLines(logText, 3).c_str());
        if (logText.find("ptrace") != std::string::npos) {
            problem +=
                "; this system forbids tracing (ptrace): allow it (e.g. run outside a "
                "restricted container) to count system calls";
        }
        return false;
    }
    if (calls.count("total") == 0) {
        problem = "strace printed no summary; check that strace -c works here";
        return false;
    }
    return true;
}

}  // namespace

int RunEmptyPollsChild(std::uint64_t polls) {
    try {
        sim::SimulatorCore core;
        core.Start();
        sim::DeviceDirectory directory(1, core.SlavePath());
        ::setenv("VARNOX_DEVICE_DIR", directory.Path().c_str(), 1);
        if (VARNOX_OPEN(1, 0) != VARNOX_OK || VARNOX_PURGE(0) != VARNOX_OK) {
            std::fprintf(stderr, "empty-poll child: cannot open the simulated module: %s (%s)\n",
                         VARNOX_ERRORMESSAGE(0), VARNOX_IO_ERRORMESSAGE(0));
            return 1;
        }
        std::uint64_t unexpected = 0;
        for (std::uint64_t i = 0; i < polls; ++i) {
            std::uint16_t state = 0;
            if (VARNOX_CHECKINPUT(&state, 0) != VARNOX_NO_DATA) ++unexpected;
        }
        VARNOX_CLOSE(0);
        if (unexpected != 0) {
            std::fprintf(stderr, "empty-poll child: %llu polls found data on a quiet line\n",
                         static_cast<unsigned long long>(unexpected));
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "empty-poll child: %s\n", e.what());
        return 1;
    }
}

SyscallCount CountEmptyPollSyscalls(const std::string& self, std::uint64_t polls) {
    SyscallCount result;
    result.polls = polls;
    std::map<std::string, std::uint64_t> base;
    std::map<std::string, std::uint64_t> loaded;
    if (!CountedRun(self, 0, base, result.problem) ||
        !CountedRun(self, polls, loaded, result.problem)) {
        return result;
    }
    const double n = static_cast<double>(polls);
    result.perPoll =
        (static_cast<double>(loaded["total"]) - static_cast<double>(base["total"])) / n;
    for (const auto& [name, count] : loaded) {
        if (name == "total") continue;
        const double per = (static_cast<double>(count) - static_cast<double>(base[name])) / n;
        if (per >= 0.0005 || per <= -0.0005) {
            if (!result.kinds.empty()) result.kinds += ", ";
            result.kinds += Format("%s %.3f", name.c_str(), per);
        }
    }
    result.counted = true;
    return result;
}

namespace {

// read() calls the process made so far (/proc/PID/io syscr); false when the
// kernel does not keep the count.
bool ReadCalls(pid_t pid, std::uint64_t& calls) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/io");
    std::string name;
    std::uint64_t value = 0;
    while (in >> name >> value) {
        if (name == "syscr:") {
            calls = value;
            return true;
        }
    }
    return false;
}

// Nanoseconds the process's main thread ran on a CPU; -1 when unknown.
double RunNs(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    double ns = -1;
    if (!(in >> ns)) return -1;
    return ns;
}

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

namespace {

// One idle program from start to exit.
class IdleChild {
public:
    explicit IdleChild(const IdleProgram& program) : program_(program) {}
    ~IdleChild() {
        if (input_ >= 0) ::close(input_);
        if (pid_ > 0) Reap(pid_, 1000);
        if (output_ >= 0) ::close(output_);
    }
    IdleChild(const IdleChild&) = delete;
    IdleChild& operator=(const IdleChild&) = delete;

    bool Start() {
        int input[2];
        int output[2];
        MakePipe(input);
        MakePipe(output);
        SpawnSetup setup;
        setup.argv = program_.argv;
        setup.environment = program_.environment;
        setup.input = input[0];
        setup.output = output[1];
        setup.error = output[1];
        started_ = NowNs();
        try {
            pid_ = Spawn(setup);
        } catch (const std::exception& e) {
            run_.problem = std::string(e.what()) +
                           "; check the path (scripts/bench builds VARNOX-Test, or pass "
                           "--test-program)";
        }
        ::close(input[0]);
        ::close(output[1]);
        input_ = input[1];
        output_ = output[0];
        return pid_ > 0;
    }

    bool Ready() const { return said_.find(program_.readyText) != std::string::npos; }

    // Takes what the program wrote, waiting up to `timeoutMs` for some.
    void Collect(int timeoutMs) {
        pollfd p{output_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return;
        char buffer[4096];
        const ssize_t n = ::read(output_, buffer, sizeof buffer);
        if (n > 0) said_.append(buffer, static_cast<std::size_t>(n));
    }

    void Mark(bool start) {
        const double ran = RunNs(pid_);
        std::uint64_t reads = 0;
        const bool known = ReadCalls(pid_, reads);
        if (start) {
            windowStart_ = NowNs();
            runBefore_ = ran;
            readsBefore_ = reads;
            readsKnown_ = known;
        } else {
            run_.windowSeconds = static_cast<double>(NowNs() - windowStart_) / 1e9;
            if (runBefore_ >= 0 && ran >= 0) run_.windowCpuSeconds = (ran - runBefore_) / 1e9;
            run_.readsKnown = readsKnown_ && known;
            run_.windowReads = reads - readsBefore_;
        }
    }

    // End of input ends the program normally.
    void EndInput() {
        ::close(input_);
        input_ = -1;
    }

    IdleRun Finish(bool measured) {
        if (pid_ <= 0) return run_;
        said_ += ReadAll(output_, 5000);
        rusage usage{};
        const int status = Reap(pid_, 5000, &usage);
        pid_ = -1;
        const std::int64_t ended = NowNs();
        if (!measured) {
            run_.problem = Format("%s did not get ready (status %d), it said: %s",
                                  program_.name.c_str(), status, LastLines(said_, 3).c_str());
        } else if (status != 0 || said_.find(program_.endText) == std::string::npos) {
            run_.problem = Format(
                "%s did not end normally at the end of its input "
                "(status %d), it said: %s",
                program_.name.c_str(), status, LastLines(said_, 3).c_str());
        } else {
            run_.ran = true;
            run_.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
            run_.lifeSeconds = static_cast<double>(ended - started_) / 1e9;
        }
        return run_;
    }

private:
    const IdleProgram& program_;
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string said_;
    std::int64_t started_ = 0;
    std::int64_t windowStart_ = 0;
    double runBefore_ = -1;
    std::uint64_t readsBefore_ = 0;
    bool readsKnown_ = false;
    IdleRun run_;
};

}  // namespace

std::vector<IdleRun> RunIdle(const std::vector<IdleProgram>& programs, double idleSeconds,
                             const std::function<void(int)>& progress) {
    std::vector<std::unique_ptr<IdleChild>> children;
    bool started = true;
    for (const IdleProgram& program : programs) {
        children.push_back(std::make_unique<IdleChild>(program));
        started = children.back()->Start() && started;
    }
    // VARNOX-Test opens the port, waits 500 ms and purges before its loop.
    const std::int64_t readyDeadline = NowNs() + 15 * 1000000000LL;
    bool ready = false;
    while (started && !ready && NowNs() < readyDeadline) {
        ready = true;
        for (auto& child : children) {
            if (!child->Ready()) {
                child->Collect(20);
                ready = ready && child->Ready();
            }
        }
    }
    if (ready) {
        for (auto& child : children) child->Mark(true);
        const std::int64_t windowStart = NowNs();
        const std::int64_t windowEnd = windowStart + static_cast<std::int64_t>(idleSeconds * 1e9);
        int reported = 0;
        for (std::int64_t now = windowStart; now < windowEnd; now = NowNs()) {
            const std::int64_t leftMs = (windowEnd - now) / 1000000 + 1;
            const int wait = static_cast<int>(leftMs < 250 ? leftMs : 250);
            const timespec pause{0, static_cast<long>(wait) * 1000000L};
            ::nanosleep(&pause, nullptr);
            for (auto& child : children) child->Collect(0);
            const int second = static_cast<int>((NowNs() - windowStart) / 1000000000);
            if (second > reported) {
                reported = second;
                progress(second);
            }
        }
        for (auto& child : children) child->Mark(false);
    }
    std::vector<IdleRun> runs;
    for (auto& child : children) child->EndInput();
    for (auto& child : children) runs.push_back(child->Finish(ready));
    return runs;
}

int RunIdleFloorChild() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    int line = -1;
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0 &&
        ::ptsname_r(master, name, sizeof name) == 0) {
        line = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    if (line < 0) {
        std::printf("idle floor: cannot create a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    char buffer[4096];
    for (;;) {
        [[maybe_unused]] const ssize_t none = ::read(line, buffer, sizeof buffer);
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && ::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) break;
        const timespec pause{0, 10000000};
        ::nanosleep(&pause, nullptr);
    }
    std::printf("finished\n");
    return 0;
}

}  // namespace varnox::bench
