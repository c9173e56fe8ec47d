// VARNOX-Sim: the simulated module as a program. It publishes the module's
// pseudo-terminal as COMn, then either runs a command next to it or takes
// line commands from standard input. See HelpText() for the whole usage.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "simulator/DeviceDirectory.h"
#include "simulator/SimulatorCore.h"
#include "simulator/program/ChildProcess.h"
#include "simulator/program/LineCommands.h"
#include "simulator/program/LogWriter.h"
#include "simulator/program/ProgramOptions.h"
#include "simulator/program/SignalPipe.h"

extern char** environ;

namespace varnox::sim {
namespace {

constexpr const char* kDeviceDirVariable = "VARNOX_DEVICE_DIR";
// How often a wait for a command that was asked to end says it still waits.
constexpr auto kProgressInterval = std::chrono::seconds(5);

std::string ShellQuote(const std::string& text) {
    const bool plain = !text.empty() && text.find_first_not_of(
                                            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                            "0123456789_./-+:,@%") == std::string::npos;
    if (plain) return text;
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The program's environment with VARNOX_DEVICE_DIR pointing at `dir`.
std::vector<std::string> CommandEnvironment(const std::string& dir) {
    const std::string prefix = std::string(kDeviceDirVariable) + "=";
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, prefix.c_str(), prefix.size()) != 0) environment.emplace_back(*e);
    }
    environment.push_back(prefix + dir);
    return environment;
}

const char* SignalName(int number) {
    switch (number) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "a signal";
    }
}

int RunCommand(const ProgramOptions& options, const DeviceDirectory& dir, SignalPipe& signals) {
    if (!options.quiet) {
        std::fprintf(stderr, "VARNOX-Sim: %s is the module; running %s\n", dir.LinkPath().c_str(),
                     options.command[0].c_str());
    }
    std::unique_ptr<ChildProcess> child;
    try {
        child = std::make_unique<ChildProcess>(options.command, CommandEnvironment(dir.Path()));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 127;
    }
    using Clock = std::chrono::steady_clock;
    bool asked = false;
    int askedWith = 0;
    Clock::time_point lastProgress{};
    for (;;) {
        if (const auto status = child->Reap()) return *status;
        pollfd p{signals.Fd(), POLLIN, 0};
        // SIGCHLD wakes the poll; the time-out is only a safety net.
        ::poll(&p, 1, 1000);
        for (const CaughtSignal& s : signals.Take()) {
            // Ctrl+C and a terminal hang-up reach the command by themselves.
            if (s.number == SIGCHLD || !s.fromProcess) continue;
            child->Signal(s.number);
            asked = true;
            askedWith = s.number;
            lastProgress = Clock::now();
        }
        if (asked && !options.quiet && Clock::now() - lastProgress >= kProgressInterval) {
            lastProgress = Clock::now();
            std::fprintf(stderr,
                         "VARNOX-Sim: still waiting for %s (pid %ld) to end after %s; "
                         "send SIGKILL to it if it hangs: kill -KILL %ld\n",
                         options.command[0].c_str(), static_cast<long>(child->Pid()),
                         SignalName(askedWith), static_cast<long>(child->Pid()));
        }
    }
}

int RunLineCommands(const ProgramOptions& options, SimulatorCore& core, const DeviceDirectory& dir,
                    SignalPipe& signals) {
    std::printf("export %s=%s\n", kDeviceDirVariable, ShellQuote(dir.Path()).c_str());
    std::printf("VARNOX-Sim ready: COM%u is %s -> %s; type help for the line commands\n",
                options.com, dir.LinkPath().c_str(), core.SlavePath().c_str());
    std::fflush(stdout);

    LineCommands commands(core, stdout, stderr);
    const bool terminal = ::isatty(STDIN_FILENO) != 0;
    bool inputOpen = true;
    std::string pending;
    for (;;) {
        pollfd fds[2] = {{signals.Fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (::poll(fds, inputOpen ? 2 : 1, -1) < 0 && errno != EINTR) {
            std::fprintf(stderr, "VARNOX-Sim: waiting for input failed: %s; ending\n",
                         std::strerror(errno));
            return 1;
        }
        for (const CaughtSignal& s : signals.Take()) {
            if (s.number == SIGCHLD) continue;
            if (!options.quiet) {
                std::fprintf(stderr, "VARNOX-Sim: ended by %s; removing %s\n", SignalName(s.number),
                             dir.Path().c_str());
            }
            return 128 + s.number;
        }
        if (!inputOpen || fds[1].revents == 0) continue;
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n > 0) {
            pending.append(buffer, static_cast<std::size_t>(n));
            std::size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!commands.Execute(line)) return 0;
            }
            continue;
        }
        // End of input (or an input that failed): a last line without its
        // line break still counts.
        if (!pending.empty() && !commands.Execute(pending)) return 0;
        pending.clear();
        if (terminal) return 0;
        inputOpen = false;
        if (!options.quiet) {
            std::fprintf(stderr,
                         "VARNOX-Sim: end of standard input; the module keeps running until "
                         "Ctrl+C or SIGTERM (kill %ld)\n",
                         static_cast<long>(::getpid()));
        }
    }
}

int Run(ProgramOptions& options) {
    SignalPipe signals({SIGINT, SIGTERM, SIGHUP, SIGCHLD});

    std::unique_ptr<LogWriter> log;
    if (!options.logFile.empty()) {
        std::FILE* file = std::fopen(options.logFile.c_str(), "a");
        if (file == nullptr) {
            std::fprintf(stderr,
                         "VARNOX-Sim: cannot open the log file %s: %s; check the path and its "
                         "permissions\n",
                         options.logFile.c_str(), std::strerror(errno));
            return 1;
        }
        log = std::make_unique<LogWriter>(file, true);
    } else if (!options.quiet) {
        log = std::make_unique<LogWriter>(stderr, false);
    }
    if (log) options.core.log = [&log](const std::string& line) { log->Write(line); };

    SimulatorCore core(options.core);
    core.Start();
    const DeviceDirectory dir(options.com, core.SlavePath());
    return options.command.empty() ? RunLineCommands(options, core, dir, signals)
                                   : RunCommand(options, dir, signals);
}

}  // namespace
}  // namespace varnox::sim

int main(int argc, char** argv) {
    varnox::sim::ProgramOptions options;
    if (const auto error = varnox::sim::ParseArguments(argc, argv, options)) {
        std::fprintf(stderr, "%s\n", error->c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(varnox::sim::HelpText().c_str(), stdout);
        return 0;
    }
    // A reader of standard output that went away must not kill the module
    // before it has cleaned up.
    ::signal(SIGPIPE, SIG_IGN);
    try {
        return varnox::sim::Run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
