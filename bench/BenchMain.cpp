// varnox_bench: the library's speed against what it is built on and against
// general serial libraries, over the simulator's pseudo-terminal.
//
// The machine it runs on is shared and noisy, so no figure stands alone:
// each is a ratio to a reference measured in the same run, on the same line,
// with the contenders interleaved (call by call within this process, in
// turns of a round with the Python client, the order rotating) and medians
// taken. Progress goes to standard error, the table to standard output. Exit status: 0 every goal
// met, 2 a goal missed (the notes say what was measured), 1 the benchmark could not run.
#include <signal.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/ChildRuns.h"
#include "bench/Measure.h"
#include "bench/Peers.h"
#include "device/VARNOX.h"
#include "simulator/DeviceDirectory.h"
#include "simulator/FirmwareIdentity.h"
#include "simulator/SimulatorCore.h"

using namespace varnox::bench;
namespace sim = varnox::sim;

namespace {

constexpr int kSteps = 6;

// Round trips: rounds of this many calls per contender. The first round of
// every measurement warms caches and the simulator thread and is not kept.
constexpr int kTripRounds = 61;
constexpr int kTripsPerRound = 100;
// Empty polls are timed in batches: one call is near the clock's own cost.
constexpr int kPollRounds = 401;
constexpr int kPollsPerBatch = 250;
constexpr std::uint64_t kCountedPolls = 20000;
constexpr int kPacedRounds = 31;
constexpr int kPacedPerRound = 10;
constexpr int kProductIdRounds = 11;

// The library's read time-outs: 100 ms between bytes, 100 ms a byte plus 100.
constexpr double kIntervalNs = 100e6;
constexpr double kProductIdTotalNs = (100.0 * 256 + 100) * 1e6;

constexpr std::uint16_t kPlainSlot = 0;
constexpr std::uint16_t kPacedSlot = 1;

struct Options {
    std::string python = "/usr/bin/python3";
    std::string pySerialClient = VARNOX_BENCH_PYSERIAL_CLIENT;
    std::string testProgram = VARNOX_BENCH_TEST_PROGRAM;
    double idleSeconds = 10;
};

enum class Verdict { kMet, kNotMet, kNotApplicable, kInfo };

struct Row {
    std::string label;
    std::string ours;
    std::string reference;
    std::string ratio;
    std::string goal;
    Verdict verdict = Verdict::kNotApplicable;
    std::string note;
};

__attribute__((format(printf, 1, 2))) void Progress(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

void Step(int step, const std::string& what) {
    Progress("[%d/%d] %s", step, kSteps, what.c_str());
}

std::string Ratio(double value) {
    return Format("%.3f", value);
}

std::string MachineLine() {
    std::string model = "unknown CPU";
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.compare(0, 10, "model name") == 0) {
            const std::size_t colon = line.find(':');
            if (colon != std::string::npos)
                model = line.substr(line.find_first_not_of(" ", colon + 1));
            break;
        }
    }
    utsname system{};
    ::uname(&system);
    std::string load;
    std::ifstream loadavg("/proc/loadavg");
    std::string one, five, fifteen;
    if (loadavg >> one >> five >> fifteen) load = one + " " + five + " " + fifteen;
    return Format("%s, %ld CPUs, %s %s %s; load average at start %s", model.c_str(),
                  ::sysconf(_SC_NPROCESSORS_ONLN), system.sysname, system.release, system.machine,
                  load.c_str());
}

std::string LibraryProblem(const char* call, std::uint16_t slot) {
    return std::string(call) + " failed: " + VARNOX_ERRORMESSAGE(slot) + " (" +
           VARNOX_IO_ERRORMESSAGE(slot) + ")";
}

void OpenSlot(unsigned com, std::uint16_t slot, const sim::DeviceDirectory& directory) {
    ::setenv("VARNOX_DEVICE_DIR", directory.Path().c_str(), 1);
    if (VARNOX_OPEN(static_cast<std::uint16_t>(com), slot) != VARNOX_OK) {
        throw std::runtime_error(LibraryProblem("VARNOX_OPEN", slot) +
                                 "; run the tests (scripts/test) to see what breaks");
    }
    if (VARNOX_PURGE(slot) != VARNOX_OK) {
        throw std::runtime_error(LibraryProblem("VARNOX_PURGE", slot));
    }
}

std::unique_ptr<sim::SimulatorCore> StartModule(bool pace) {
    sim::CoreOptions options;
    options.pace = pace;
    auto core = std::make_unique<sim::SimulatorCore>(options);
    core->Start();
    return core;
}

// A contender runs `count` calls and appends one sample per call (or one
// per batch); false when it failed, with `problem` saying why.
struct Contender {
    using Runner =
        std::function<bool(int count, std::vector<std::int64_t>& samples, std::string& problem)>;
    Contender(std::string contenderName, Runner runner, bool alternate = true)
        : name(std::move(contenderName)), run(std::move(runner)), perCall(alternate) {}

    std::string name;
    Runner run;
    // In-process contenders alternate call by call, so that each call of one
    // has a call of the other right beside it; the others take turns in
    // batches of a round.
    bool perCall;
    std::vector<std::int64_t> samples;
    bool failed = false;
    std::string problem;
};

bool RunTurn(Contender& c, int count, bool keep) {
    if (c.failed) return false;
    std::vector<std::int64_t> batch;
    if (!c.run(count, batch, c.problem)) {
        c.failed = true;
        Progress("      %s stopped: %s", c.name.c_str(), c.problem.c_str());
        return false;
    }
    if (keep) c.samples.insert(c.samples.end(), batch.begin(), batch.end());
    return true;
}

// Runs the contenders interleaved for `rounds` rounds of `perRound` calls
// each, the order rotating every call and every round; round 0 warms up
// caches and the simulator thread and is not kept.
void Interleave(const std::vector<Contender*>& contenders, int rounds, int perRound,
                const std::string& what) {
    std::vector<Contender*> alternating;
    std::vector<Contender*> batched;
    for (Contender* c : contenders) (c->perCall ? alternating : batched).push_back(c);
    const int report = rounds > 20 ? (rounds - 1) / 4 : rounds;
    const std::size_t turns = batched.size() + (alternating.empty() ? 0 : 1);
    for (int round = 0; round < rounds; ++round) {
        const bool keep = round > 0;
        for (std::size_t t = 0; t < turns; ++t) {
            const std::size_t turn = (static_cast<std::size_t>(round) + t) % turns;
            if (turn < batched.size()) {
                RunTurn(*batched[turn], perRound, keep);
                continue;
            }
            for (int call = 0; call < perRound; ++call) {
                for (std::size_t i = 0; i < alternating.size(); ++i) {
                    const std::size_t at =
                        (static_cast<std::size_t>(round + call) + i) % alternating.size();
                    RunTurn(*alternating[at], 1, keep);
                }
            }
        }
        if (keep && round % report == 0) {
            Progress("      %s: round %d of %d", what.c_str(), round, rounds - 1);
        }
    }
}

std::string Spread(const std::vector<std::int64_t>& samples) {
    const std::vector<double> values(samples.begin(), samples.end());
    return Format("p10 %s, p90 %s, n %zu", FormatNs(Percentile(values, 10)).c_str(),
                  FormatNs(Percentile(values, 90)).c_str(), samples.size());
}

Verdict AtMost(double value, double limit) {
    return value <= limit ? Verdict::kMet : Verdict::kNotMet;
}

// Prints `text` in lines of at most kNoteWidth columns (a longer word keeps
// a line of its own), continuation lines indented.
void PrintWrapped(const std::string& text) {
    constexpr std::size_t kNoteWidth = 100;
    std::string line;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(at, end - at);
        if (!line.empty() && line.size() + 1 + word.size() > kNoteWidth) {
            std::printf("%s\n", line.c_str());
            line = "  ";
        }
        line += (line.empty() || line == "  " ? "" : " ") + word;
        at = end + 1;
    }
    if (!line.empty()) std::printf("%s\n", line.c_str());
}

void PrintTable(const std::vector<Row>& rows, const std::string& machine) {
    const char* headers[] = {"Benchmark", "Ours", "Reference", "Ratio", "Goal", "Result"};
    std::vector<std::vector<std::string>> cells;
    for (const Row& r : rows) {
        const char* verdict = r.verdict == Verdict::kMet      ? "met"
                              : r.verdict == Verdict::kNotMet ? "NOT MET"
                              : r.verdict == Verdict::kInfo   ? "info"
                                                              : "n/a";
        cells.push_back({r.label, r.ours, r.reference, r.ratio, r.goal, verdict});
    }
    std::size_t widths[6];
    for (std::size_t c = 0; c < 6; ++c) {
        widths[c] = std::strlen(headers[c]);
        for (const auto& line : cells) widths[c] = std::max(widths[c], line[c].size());
    }
    auto printLine = [&](const std::vector<std::string>& line) {
        std::string text;
        for (std::size_t c = 0; c < 6; ++c) {
            std::string cell = line[c];
            if (c + 1 < 6) cell.resize(widths[c] + 2, ' ');
            text += cell;
        }
        std::printf("%s\n", text.c_str());
    };
    std::printf("\nMachine: %s\n\n", machine.c_str());
    printLine({headers[0], headers[1], headers[2], headers[3], headers[4], headers[5]});
    std::size_t total = 0;
    for (std::size_t c = 0; c < 6; ++c) total += widths[c] + (c + 1 < 6 ? 2 : 0);
    std::printf("%s\n", std::string(total, '-').c_str());
    for (const auto& line : cells) printLine(line);
    std::printf("\nNotes:\n");
    for (const Row& r : rows) {
        if (!r.note.empty()) PrintWrapped("- " + r.label + ": " + r.note);
    }
}

void Usage() {
    std::printf(
        "Usage: varnox_bench [--idle-seconds S] [--python PATH] [--pyserial-client PATH]\n"
        "                    [--test-program PATH]\n"
        "Measures the library over the simulator's pseudo-terminal against a raw termios\n"
        "client, pySerial and libserialport, and VARNOX-Test left idle; prints one table.\n"
        "Exit status: 0 every goal met, 2 a goal missed, 1 the benchmark could not run.\n");
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            Usage();
            std::exit(0);
        } else if (arg == "--idle-seconds" && hasValue) {
            options.idleSeconds = std::atof(argv[++i]);
            if (!(options.idleSeconds >= 1 && options.idleSeconds <= 600)) {
                std::fprintf(stderr, "varnox_bench: --idle-seconds takes 1 to 600\n");
                return false;
            }
        } else if (arg == "--python" && hasValue) {
            options.python = argv[++i];
        } else if (arg == "--pyserial-client" && hasValue) {
            options.pySerialClient = argv[++i];
        } else if (arg == "--test-program" && hasValue) {
            options.testProgram = argv[++i];
        } else {
            std::fprintf(stderr, "varnox_bench: unknown or incomplete option %s (see --help)\n",
                         arg.c_str());
            return false;
        }
    }
    return true;
}

std::string SelfPath() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) throw std::runtime_error("cannot find this program's own path in /proc/self/exe");
    return std::string(path, static_cast<std::size_t>(n));
}

int Run(const Options& options) {
    std::vector<Row> rows;
    const std::string machine = MachineLine();
    const sim::FirmwareIdentity identity;  // what the simulated module tells about itself

    // ---- the plain line: every contender on the same pseudo-terminal ----
    Step(1,
         "query round trip over the pseudo-terminal: library, raw termios, pySerial, "
         "libserialport");
    auto plain = StartModule(false);
    sim::DeviceDirectory plainDirectory(1, plain->SlavePath());
    // Every peer opens the line before the library does: the library holds
    // it for exclusive use from its open on.
    RawLine raw(plain->SlavePath());
    PySerialPeer python(options.python, options.pySerialClient, plain->SlavePath());
    SerialPortPeer serialPort(plain->SlavePath());
    raw.AllowOtherOpens();
    OpenSlot(1, kPlainSlot, plainDirectory);
    Progress("      pySerial: %s",
             python.Ready() ? ("version " + python.Version()).c_str() : python.Problem().c_str());
    Progress("      libserialport %s: %s", serialPort.Version().c_str(),
             serialPort.Ready() ? "opened the pseudo-terminal" : serialPort.Problem().c_str());

    Contender library{"VARNOX_GETINPUT",
                      [](int count, std::vector<std::int64_t>& out, std::string& problem) {
                          for (int i = 0; i < count; ++i) {
                              std::uint16_t state = 0xFFFF;
                              const std::int64_t start = NowNs();
                              const std::int32_t result = VARNOX_GETINPUT(&state, kPlainSlot);
                              out.push_back(NowNs() - start);
                              if (result != VARNOX_OK) {
                                  problem = LibraryProblem("VARNOX_GETINPUT", kPlainSlot);
                                  return false;
                              }
                          }
                          return true;
                      }};
    Contender floor{"raw termios",
                    [&raw](int count, std::vector<std::int64_t>& out, std::string& problem) {
                        try {
                            for (int i = 0; i < count; ++i) {
                                char reply[4];
                                out.push_back(raw.RoundTrip("i\r", reply, sizeof reply));
                                if (reply[0] != 'I' || reply[3] != '\r') {
                                    problem = "the raw client got a wrong reply";
                                    return false;
                                }
                            }
                            return true;
                        } catch (const std::exception& e) {
                            problem = e.what();
                            return false;
                        }
                    }};
    Contender pattern{"raw termios, the library's calls",
                      [&raw](int count, std::vector<std::int64_t>& out, std::string& problem) {
                          try {
                              for (int i = 0; i < count; ++i) {
                                  char reply[4];
                                  out.push_back(raw.RoundTripAsLibrary(reply, sizeof reply));
                              }
                              return true;
                          } catch (const std::exception& e) {
                              problem = e.what();
                              return false;
                          }
                      }};
    Contender pySerial{"pySerial",
                       [&python](int count, std::vector<std::int64_t>& out, std::string& problem) {
                           if (python.Run(count, out)) return true;
                           problem = python.Problem();
                           return false;
                       },
                       false};
    Contender libserialport{
        "libserialport",
        [&serialPort](int count, std::vector<std::int64_t>& out, std::string& problem) {
            if (serialPort.Run(count, out)) return true;
            problem = serialPort.Problem();
            return false;
        }};
    std::vector<Contender*> trips = {&library, &floor, &pattern};
    if (python.Ready()) trips.push_back(&pySerial);
    if (serialPort.Ready()) trips.push_back(&libserialport);
    Progress("      %d rounds of %d round trips per contender, interleaved", kTripRounds - 1,
             kTripsPerRound);
    Interleave(trips, kTripRounds, kTripsPerRound, "round trips");
    if (library.failed || floor.failed || pattern.failed) {
        throw std::runtime_error("round trip on the simulated line: " + library.problem +
                                 floor.problem + pattern.problem);
    }
    const double ours = Median(library.samples);
    const double floorNs = Median(floor.samples);
    const double patternNs = Median(pattern.samples);
    rows.push_back({"1 GETINPUT round trip vs raw termios", FormatNs(ours), FormatNs(floorNs),
                    Ratio(ours / floorNs), "<= 1.10", AtMost(ours / floorNs, 1.10),
                    "medians, the system placing the threads; library " + Spread(library.samples) +
                        "; raw write+poll+read " + Spread(floor.samples)});
    rows.push_back({"1 raw client making the library's calls", FormatNs(patternNs),
                    FormatNs(floorNs), Ratio(patternNs / floorNs), "-", Verdict::kInfo,
                    "write 'i', write CR, then read 1 and read 3 bytes, each read tried before "
                    "poll(): the system calls VARNOX_GETINPUT makes, without the library; " +
                        Format("library / this %.3f; ", ours / patternNs) +
                        Spread(pattern.samples)});

    // ---- the empty poll ----
    Step(2, "empty poll: VARNOX_CHECKINPUT vs a raw non-blocking read of the same line");
    if (VARNOX_PURGE(kPlainSlot) != VARNOX_OK) {
        throw std::runtime_error(LibraryProblem("VARNOX_PURGE", kPlainSlot));
    }
    Contender check{"VARNOX_CHECKINPUT",
                    [](int count, std::vector<std::int64_t>& out, std::string& problem) {
                        int empty = 0;
                        const std::int64_t start = NowNs();
                        for (int i = 0; i < count; ++i) {
                            std::uint16_t state = 0;
                            empty += VARNOX_CHECKINPUT(&state, kPlainSlot) == VARNOX_NO_DATA;
                        }
                        out.push_back((NowNs() - start) / count);
                        if (empty == count) return true;
                        problem = "VARNOX_CHECKINPUT found data on a quiet line";
                        return false;
                    },
                    false};
    Contender rawRead{"raw read",
                      [&raw](int count, std::vector<std::int64_t>& out, std::string& problem) {
                          int empty = 0;
                          const std::int64_t start = NowNs();
                          for (int i = 0; i < count; ++i) empty += raw.ReadNothing();
                          out.push_back((NowNs() - start) / count);
                          if (empty == count) return true;
                          problem = "the raw read found data on a quiet line";
                          return false;
                      },
                      false};
    Progress("      %d rounds of %d calls per contender, timed per batch", kPollRounds - 1,
             kPollsPerBatch);
    Interleave({&check, &rawRead}, kPollRounds, kPollsPerBatch, "empty polls");
    if (check.failed || rawRead.failed) {
        throw std::runtime_error("empty poll: " + (check.failed ? check.problem : rawRead.problem));
    }
    const double pollNs = Median(check.samples);
    const double readNs = Median(rawRead.samples);
    rows.push_back({"2 CHECKINPUT empty vs raw read", FormatNs(pollNs), FormatNs(readNs),
                    Ratio(pollNs / readNs), "<= 1.5", AtMost(pollNs / readNs, 1.5),
                    Format("medians of %zu batch means of %d calls each", check.samples.size(),
                           kPollsPerBatch)});

    Progress(
        "      counting system calls: strace -f -c over a child run without and with "
        "%llu empty polls",
        static_cast<unsigned long long>(kCountedPolls));
    const SyscallCount count = CountEmptyPollSyscalls(SelfPath(), kCountedPolls);
    if (count.counted) {
        const bool one = std::lround(count.perPoll * 1000) == 1000;
        rows.push_back({"2 system calls per empty poll", Format("%.3f", count.perPoll), "1 (read)",
                        "-", "exactly 1", one ? Verdict::kMet : Verdict::kNotMet,
                        Format("(calls with %llu polls - calls with none) / %llu, all threads: ",
                               static_cast<unsigned long long>(count.polls),
                               static_cast<unsigned long long>(count.polls)) +
                            (count.kinds.empty() ? "none" : count.kinds)});
    } else {
        rows.push_back({"2 system calls per empty poll", "not counted", "1 (read)", "-",
                        "exactly 1", Verdict::kNotMet, count.problem});
    }

    // ---- the peers (measured in step 1, interleaved with the library) ----
    Step(3, "the same round trip through pySerial and libserialport (measured in step 1)");
    if (!pySerial.samples.empty() && !pySerial.failed) {
        const double py = Median(pySerial.samples);
        rows.push_back({"3 round trip vs pySerial " + python.Version(), FormatNs(ours),
                        FormatNs(py), Ratio(ours / py), "< 1",
                        ours < py ? Verdict::kMet : Verdict::kNotMet,
                        "pySerial timed in its own process around write(b\"i\\r\") + read(4); " +
                            Spread(pySerial.samples)});
    } else {
        rows.push_back({"3 round trip vs pySerial", FormatNs(ours), "not measured", "-", "< 1",
                        Verdict::kNotApplicable,
                        python.Problem().empty() ? pySerial.problem : python.Problem()});
    }
    const std::string spName =
        "3 round trip vs libserialport" +
        (serialPort.Version().empty() ? std::string() : " " + serialPort.Version());
    if (!libserialport.samples.empty() && !libserialport.failed) {
        const double sp = Median(libserialport.samples);
        rows.push_back({spName, FormatNs(ours), FormatNs(sp), Ratio(ours / sp), "< 1",
                        ours < sp ? Verdict::kMet : Verdict::kNotMet,
                        "sp_blocking_write + sp_blocking_read; " + Spread(libserialport.samples)});
    } else {
        rows.push_back(
            {spName, FormatNs(ours), "refused", "-", "< 1", Verdict::kNotApplicable,
             "libserialport cannot open the pseudo-terminal: " +
                 (serialPort.Problem().empty() ? libserialport.problem : serialPort.Problem())});
    }

    // ---- the paced line ----
    Step(4, "round trip on a line paced at 9600 baud 8E1 (11 bits a byte)");
    auto paced = StartModule(true);
    sim::DeviceDirectory pacedDirectory(2, paced->SlavePath());
    RawLine pacedRaw(paced->SlavePath());
    OpenSlot(2, kPacedSlot, pacedDirectory);
    Contender pacedLibrary{"VARNOX_GETINPUT paced",
                           [](int n, std::vector<std::int64_t>& out, std::string& problem) {
                               for (int i = 0; i < n; ++i) {
                                   std::uint16_t state = 0xFFFF;
                                   const std::int64_t start = NowNs();
                                   const std::int32_t result = VARNOX_GETINPUT(&state, kPacedSlot);
                                   out.push_back(NowNs() - start);
                                   if (result != VARNOX_OK) {
                                       problem = LibraryProblem("VARNOX_GETINPUT", kPacedSlot);
                                       return false;
                                   }
                               }
                               return true;
                           }};
    Contender pacedFloor{"raw termios paced",
                         [&pacedRaw](int n, std::vector<std::int64_t>& out, std::string& problem) {
                             try {
                                 for (int i = 0; i < n; ++i) {
                                     char reply[4];
                                     out.push_back(pacedRaw.RoundTrip("i\r", reply, sizeof reply));
                                 }
                                 return true;
                             } catch (const std::exception& e) {
                                 problem = e.what();
                                 return false;
                             }
                         }};
    Progress("      %d rounds of %d round trips per contender, interleaved", kPacedRounds - 1,
             kPacedPerRound);
    Interleave({&pacedLibrary, &pacedFloor}, kPacedRounds, kPacedPerRound, "paced round trips");
    if (pacedLibrary.failed || pacedFloor.failed) {
        throw std::runtime_error("paced round trip: " +
                                 (pacedLibrary.failed ? pacedLibrary.problem : pacedFloor.problem));
    }
    // The simulator paces what the module sends: the 4 reply bytes. The 2
    // command bytes reach it at once, so they are not on this wire.
    const double byteNs = static_cast<double>(sim::SimulatorCore::kByteTime.count());
    const double wireNs = 4 * byteNs;
    const double pacedNs = Median(pacedLibrary.samples);
    const double pacedFloorNs = Median(pacedFloor.samples);
    const double pacedRatio = pacedNs / wireNs;
    const double floorRatio = pacedFloorNs / wireNs;
    std::string pacedNote =
        "wire time of the 4 reply bytes the simulator paces (4 x 11 bits at 9600 baud); it "
        "does not pace the 2 command bytes, which add " +
        FormatNs(2 * byteNs) + " on a real line to both sides alike; library " +
        Spread(pacedLibrary.samples);
    if (pacedRatio > 1.05 && floorRatio > 1.05) {
        pacedNote += Format(
            "; the raw client on the same line takes %.3f x the wire time too: "
            "the simulated line delivers %s late, %s a reply byte",
            floorRatio, FormatNs(pacedFloorNs - wireNs).c_str(),
            FormatNs((pacedFloorNs - wireNs) / 4).c_str());
    }
    rows.push_back({"4 GETINPUT paced vs wire time", FormatNs(pacedNs), FormatNs(wireNs),
                    Ratio(pacedRatio), "<= 1.05", AtMost(pacedRatio, 1.05), pacedNote});
    rows.push_back({"4 GETINPUT paced vs raw, same line", FormatNs(pacedNs), FormatNs(pacedFloorNs),
                    Ratio(pacedNs / pacedFloorNs), "-", Verdict::kInfo,
                    "what the library adds on the paced line; raw " + Spread(pacedFloor.samples)});

    // ---- the inter-byte timeout ----
    Step(5, Format("VARNOX_PROD_ID on the paced line: a %zu-character identification ends "
                   "by the inter-byte timeout",
                   identity.id.size()));
    // Each call is paired with the moment the module finished sending its
    // reply: a watcher thread waits on the simulator for the transmission to
    // be done (its wake-up can only make the figure smaller, never hide a
    // late end).
    std::vector<double> afterLast;
    std::vector<double> calls;
    std::vector<double> sending;
    for (int round = 0; round < kProductIdRounds; ++round) {
        const std::uint64_t sent = paced->Status().transmissions;
        std::int64_t lastByteAt = 0;
        std::thread watcher([&paced, &lastByteAt, sent] {
            if (paced->WaitUntil(
                    [sent](const sim::CoreStatus& st) { return st.transmissions > sent; },
                    std::chrono::seconds(30))) {
                lastByteAt = NowNs();
            }
        });
        char text[257] = {};
        const std::int64_t start = NowNs();
        const std::int32_t result = VARNOX_PROD_ID(text, kPacedSlot);
        const std::int64_t end = NowNs();
        watcher.join();
        if (result != VARNOX_OK) {
            throw std::runtime_error(LibraryProblem("VARNOX_PROD_ID", kPacedSlot));
        }
        if (std::string(text) != identity.id + "\r" || lastByteAt == 0) {
            throw std::runtime_error(
                "VARNOX_PROD_ID gave another text than the module's, or the "
                "module sent nothing; run scripts/test");
        }
        if (round == 0) continue;  // warm-up
        afterLast.push_back(static_cast<double>(end - lastByteAt));
        calls.push_back(static_cast<double>(end - start));
        sending.push_back(static_cast<double>(lastByteAt - start));
    }
    Progress("      %d calls", kProductIdRounds - 1);
    const double afterNs = Median(afterLast);
    double longestNs = 0;
    for (const double c : calls) longestNs = std::max(longestNs, c);
    rows.push_back({"5 PROD_ID end after its last byte", FormatNs(afterNs), FormatNs(kIntervalNs),
                    Ratio(afterNs / kIntervalNs), "100 ms +-3 ms",
                    std::fabs(afterNs - kIntervalNs) <= 3e6 ? Verdict::kMet : Verdict::kNotMet,
                    Format("median of %zu calls of (return - the module's last byte sent); "
                           "range %s..%s; the reply took %s to send, the call %s (longest %s), "
                           "the total time-out would be %s",
                           afterLast.size(), FormatNs(Percentile(afterLast, 0)).c_str(),
                           FormatNs(Percentile(afterLast, 100)).c_str(),
                           FormatNs(Median(sending)).c_str(), FormatNs(Median(calls)).c_str(),
                           FormatNs(longestNs).c_str(), FormatNs(kProductIdTotalNs).c_str())});

    // ---- the test program left idle ----
    Step(6, Format("VARNOX-Test idle with the port open for %.0f s, beside the floor of an "
                   "idle loop",
                   options.idleSeconds));
    auto idleModule = StartModule(false);
    sim::DeviceDirectory idleDirectory(3, idleModule->SlavePath());
    IdleProgram testProgram;
    testProgram.name = "VARNOX-Test";
    testProgram.argv = {options.testProgram, "3"};
    testProgram.environment = {{"VARNOX_DEVICE_DIR", idleDirectory.Path()}};
    testProgram.readyText = "Port purged";
    testProgram.endText = "Program finished";
    IdleProgram floorLoop;
    floorLoop.name = "the idle floor loop";
    floorLoop.argv = {SelfPath(), "--idle-floor-child"};
    floorLoop.readyText = "ready";
    floorLoop.endText = "finished";
    const std::vector<IdleRun> idle =
        RunIdle({testProgram, floorLoop}, options.idleSeconds, [&options](int second) {
            Progress("      idle %d of %.0f s", second, options.idleSeconds);
        });
    const IdleRun& test = idle[0];
    const IdleRun& bare = idle[1];
    auto percent = [](const IdleRun& r) { return r.cpuSeconds / r.lifeSeconds * 100; };
    auto windowPercent = [](const IdleRun& r) {
        return r.windowCpuSeconds >= 0
                   ? Format("%.3f %%", r.windowCpuSeconds / r.windowSeconds * 100)
                   : std::string("not known");
    };
    auto perPass = [](const IdleRun& r) {
        return r.readsKnown && r.windowReads > 0 && r.windowCpuSeconds >= 0
                   ? FormatNs(r.windowCpuSeconds * 1e9 / static_cast<double>(r.windowReads))
                   : std::string("not known");
    };
    if (!test.ran) {
        rows.push_back({"6 VARNOX-Test idle CPU", "not measured", "-", "-", "< 0.5 %",
                        Verdict::kNotMet, test.problem});
    } else {
        const double cpu = percent(test);
        std::string reference = "-";
        std::string ratio = "-";
        std::string note = Format(
            "wait4() rusage user+sys %.1f ms over the whole life of %.2f s "
            "(start-up included); the %.1f s window alone %s, %s a loop "
            "pass",
            test.cpuSeconds * 1e3, test.lifeSeconds, test.windowSeconds,
            windowPercent(test).c_str(), perPass(test).c_str());
        if (bare.ran) {
            const double floorCpu = percent(bare);
            reference = Format("%.3f %%", floorCpu);
            ratio = Ratio(cpu / floorCpu);
            note += Format(
                "; reference: the bare loop (empty pty read, poll of stdin, 10 ms "
                "sleep) at the same time, %.1f ms over %.2f s, window %s, %s a pass",
                bare.cpuSeconds * 1e3, bare.lifeSeconds, windowPercent(bare).c_str(),
                perPass(bare).c_str());
            if (cpu >= 0.5 && floorCpu >= 0.5 * 0.9) {
                note +=
                    "; the bare loop alone comes to the limit: on this machine a process "
                    "that wakes 100 times a second costs that much";
            }
        } else {
            note += "; the bare loop failed: " + bare.problem;
        }
        rows.push_back({"6 VARNOX-Test idle CPU", Format("%.3f %%", cpu), reference, ratio,
                        "< 0.5 %", cpu < 0.5 ? Verdict::kMet : Verdict::kNotMet, note});
    }
    if (!test.ran) {
        rows.push_back({"6 VARNOX-Test idle poll rate", "not measured", "-", "-", "90..101 /s",
                        Verdict::kNotMet, test.problem});
    } else if (!test.readsKnown) {
        rows.push_back({"6 VARNOX-Test idle poll rate", "not counted", "-", "-", "90..101 /s",
                        Verdict::kNotApplicable,
                        "this kernel keeps no read count in /proc/PID/io"});
    } else {
        const double rate = static_cast<double>(test.windowReads) / test.windowSeconds;
        std::string reference = "-";
        std::string ratio = "-";
        if (bare.ran && bare.readsKnown) {
            const double floorRate = static_cast<double>(bare.windowReads) / bare.windowSeconds;
            reference = Format("%.1f /s", floorRate);
            ratio = Ratio(rate / floorRate);
        }
        rows.push_back(
            {"6 VARNOX-Test idle poll rate", Format("%.1f /s", rate), reference, ratio,
             "90..101 /s", rate >= 90 && rate <= 101 ? Verdict::kMet : Verdict::kNotMet,
             Format("read() calls in the window from /proc/PID/io (syscr): a loop pass "
                    "makes exactly one, the empty VARNOX_CHECKINPUT (the key check is "
                    "a poll()); %llu reads in %.2f s; reference: the bare loop",
                    static_cast<unsigned long long>(test.windowReads), test.windowSeconds)});
    }

    VARNOX_CLOSE(kPacedSlot);
    VARNOX_CLOSE(kPlainSlot);

    PrintTable(rows, machine);
    int missed = 0;
    int met = 0;
    for (const Row& r : rows) {
        missed += r.verdict == Verdict::kNotMet;
        met += r.verdict == Verdict::kMet;
    }
    int open = 0;
    for (const Row& r : rows) open += r.verdict == Verdict::kNotApplicable;
    std::printf("\nGoals met: %d of %d", met, met + missed);
    if (open > 0) std::printf(" (%d not measurable here, see the notes)", open);
    std::printf("\n");
    std::fflush(stdout);
    return missed == 0 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Child modes this program runs itself in (see ChildRuns.h).
    if (argc == 3 && std::strcmp(argv[1], "--empty-polls-child") == 0) {
        return RunEmptyPollsChild(std::strtoull(argv[2], nullptr, 10));
    }
    if (argc == 2 && std::strcmp(argv[1], "--idle-floor-child") == 0) {
        return RunIdleFloorChild();
    }
    Options options;
    if (!ParseOptions(argc, argv, options)) return 1;
    // A peer that dies must show up as a failed request, not end the benchmark.
    ::signal(SIGPIPE, SIG_IGN);
    try {
        return Run(options);
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "\nFAILED: %s\n", e.what());
        std::fprintf(stderr,
                     "What to do: fix what the message names, then run scripts/bench again; "
                     "scripts/test checks the library and the simulator on their own.\n");
        return 1;
    }
}
