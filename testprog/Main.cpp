// VARNOX-Test: an interactive console test of one module through the
// library's exported functions. All output, errors included, goes to
// standard output.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "device/VARNOX.h"
#include "testprog/CommandLine.h"
#include "testprog/Console.h"
#include "testprog/Session.h"

using namespace varnox::testprog;

namespace {

constexpr std::uint16_t kRequiredVersion = 0x011E;
constexpr int kExitUsage = -1;
constexpr int kExitVersion = -2;
constexpr int kExitOpen = 1;
constexpr int kExitPurge = 2;

void PrintUsage(const std::string& name) {
    std::fputs(name.c_str(), stdout);
    std::printf(" ver. 1.30, compilation date: %s\n", __DATE__);
    std::fputs("Written by the VARNOX project developers\n", stdout);
    std::fputs("\nUsage: ", stdout);
    std::fputs(name.c_str(), stdout);
    std::fputs(" COM-Number [Switches]\n", stdout);
    std::fputs("  Switch: { -option, /option }\n", stdout);
    std::fputs("    options: Q, q: quiet mode\n", stdout);
    std::fputs("             D, d: debug mode, D: additional I/O debug into Debug.txt\n", stdout);
    std::fputs("             C, c ChanNum: use the specified channel for the communication\n",
               stdout);
    std::printf("                            (allowed value: 0..%d, default=0)\n", 7);
}

// Ends the program at once after Ctrl+C or a termination signal: no closing
// messages, the terminal restored; exit() still unloads the library, which
// closes the port and ends its trace file.
void EndIfInterrupted() {
    if (!console::Interrupted()) return;
    std::fflush(stdout);
    console::Close();
    std::exit(console::InterruptedExitStatus());
}

int Run(int argc, char** argv) {
    // First of all, so that Ctrl+C at any point still unloads the library
    // (the D switch opens the trace file while the command line is parsed).
    console::Open();
    const Options options = ParseCommandLine(argc, argv, [](std::uint16_t portNumber) {
        VARNOX_OPENDEBUGFILE("Debug.txt", portNumber);
    });
    if (options.usageError) {
        PrintUsage(ProgramName(console::ProgramPath()));
        return kExitUsage;
    }
    Session s;
    s.comNumber = options.comNumber;
    s.portNumber = options.portNumber;
    s.quietMode = options.quietMode;
    s.debugMode = options.debugMode;
    const bool normal = !s.quietMode;  // debug mode has quiet mode off

    if (s.debugMode) std::fputs("Checking DLL Version...\n", stdout);
    const std::uint16_t version = VARNOX_VERSION();
    const unsigned short major = static_cast<unsigned short>(version >> 8);
    const unsigned short minor = static_cast<unsigned short>(version & 0xFF);
    if (version < kRequiredVersion) {
        std::printf("Wrong DLL Version, expected 1.30 or later, found %hu.%02hu\n", major, minor);
        return kExitVersion;
    }
    if (s.debugMode) {
        std::printf("DLL Version: %hu.%02hu\n", major, minor);
        std::printf("Opening COM%hu for the communication port %hu...\n", s.comNumber,
                    s.portNumber);
    }
    const bool opened = VARNOX_OPEN(s.comNumber, s.portNumber) == VARNOX_OK;
    EndIfInterrupted();
    if (!opened) {
        std::printf("%s\n", VARNOX_ERRORMESSAGE(s.portNumber));
        return kExitOpen;
    }
    if (normal) {
        std::printf("COM%hu opened for the communication port %hu\n", s.comNumber, s.portNumber);
    }
    if (s.debugMode) std::fputs("Waiting for 500ms...\n", stdout);
    std::fflush(stdout);

    console::SleepMs(500);
    EndIfInterrupted();
    if (s.debugMode) {
        std::printf("Purging buffers of COM%hu attached to the communication port %hu...\n",
                    s.comNumber, s.portNumber);
    }
    const bool purged = VARNOX_PURGE(s.portNumber) == VARNOX_OK;
    EndIfInterrupted();
    if (!purged) {
        PrintErrorLine(s, "VARNOX_Purge");
        return kExitPurge;
    }
    if (s.debugMode) {
        std::printf("Buffers of COM%hu attached to the communication port %hu were purged\n",
                    s.comNumber, s.portNumber);
    } else {
        std::fputs("Port purged\n", stdout);
    }

    RunKeyLoop(s);
    EndIfInterrupted();

    while (console::KeyWaiting()) console::ReadKey();
    EndIfInterrupted();
    if (s.debugMode) std::fputs("Closing the communication port...\n", stdout);
    if (VARNOX_CLOSE(s.portNumber) != VARNOX_OK) {
        std::printf("%s\n", VARNOX_ERRORMESSAGE(s.portNumber));
    }
    if (normal) {
        std::fputs("Communication port closed\n", stdout);
        std::fputs("Program finished\n", stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Line by line even into a pipe, so a script or a watching person sees
    // each message when it happens.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    const int status = Run(argc, argv);
    std::fflush(stdout);
    console::Close();
    return status;
}
