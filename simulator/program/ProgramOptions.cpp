#include "simulator/program/ProgramOptions.h"

#include <cstdio>
#include <string_view>

#include "simulator/NumberText.h"
#include "simulator/program/LineCommands.h"

namespace varnox::sim {

namespace {

// Generating a report takes about 4.6 ms on a real line; faster counting
// would only flood the client.
constexpr std::uint32_t kMinCounterMs = 10;
constexpr std::uint32_t kMaxCounterMs = 3600000;
constexpr std::uint32_t kMaxComNumber = 65535;

struct OptionInfo {
    const char* name;
    const char* argument;  // nullptr: a switch
    const char* help;
};

constexpr OptionInfo kOptions[] = {
    {"--com", "N", "publish the port as COMN, N 1..65535 (default 1)"},
    {"--version", "HEX", "firmware version word, 0..FFFF (default 011E)"},
    {"--date", "TEXT", "firmware date, exactly 11 characters (default \"Sep 05 2017\")"},
    {"--id", "TEXT", "identification text, at most 256 printable characters"},
    {"--product", "HEX", "product number, 0..FFFFFFFF (default 00012C01)"},
    {"--counter", "MS", "the inputs count up by one every MS milliseconds (10..3600000)"},
    {"--loopback", nullptr, "the inputs follow every output state the client sets"},
    {"--pace", nullptr, "send at the line rate: 11 bits a byte at 9600 baud, 1.146 ms"},
    {"--fault", "NAME", "start in fault mode NAME (see below)"},
    {"--log", "FILE", "append the frame log to FILE instead of standard error"},
    {"--quiet", nullptr, "no frame log on standard error and no progress messages"},
    {"--help", nullptr, "show this help and exit"},
};

std::string Fail(const std::string& what, const std::string& todo) {
    return "VARNOX-Sim: " + what + "; " + todo;
}

std::string SeeHelp() {
    return "VARNOX-Sim --help lists the options";
}

std::optional<std::string> Apply(std::string_view name, const std::string& value,
                                 ProgramOptions& options) {
    const std::string option(name);
    const auto badNumber = [&](const char* range) {
        return Fail(option + " '" + value + "' is not valid", std::string("give ") + range);
    };
    if (name == "--com") {
        const auto n = ParseDecimal(value, kMaxComNumber);
        if (!n || *n == 0) return badNumber("a decimal COM number 1..65535");
        options.com = *n;
    } else if (name == "--version") {
        const auto n = ParseHex(value, 0xFFFF);
        if (!n) return badNumber("a hexadecimal version word 0..FFFF, for example 011E");
        options.core.identity.version = static_cast<std::uint16_t>(*n);
    } else if (name == "--product") {
        const auto n = ParseHex(value, 0xFFFFFFFFu);
        if (!n) return badNumber("a hexadecimal product number 0..FFFFFFFF, for example 12AB");
        options.core.identity.productNumber = *n;
    } else if (name == "--counter") {
        const auto n = ParseDecimal(value, kMaxCounterMs);
        if (!n || *n < kMinCounterMs) return badNumber("milliseconds, decimal, 10..3600000");
        options.core.counterMs = *n;
    } else if (name == "--date") {
        const std::string problem = DateProblem(value);
        if (!problem.empty()) return Fail("--date: " + problem, "fix the text");
        options.core.identity.date = value;
    } else if (name == "--id") {
        const std::string problem = IdProblem(value);
        if (!problem.empty()) return Fail("--id: " + problem, "fix the text");
        options.core.identity.id = value;
    } else if (name == "--fault") {
        const auto mode = FaultFromName(value);
        if (!mode)
            return Fail("--fault '" + value + "' names no fault mode",
                        SeeHelp() + " and the modes");
        options.core.fault = *mode;
    } else if (name == "--log") {
        if (value.empty()) return Fail("--log needs a file name", "give a path to append to");
        options.logFile = value;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> ParseArguments(int argc, const char* const* argv,
                                          ProgramOptions& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            for (int j = i + 1; j < argc; ++j) options.command.emplace_back(argv[j]);
            if (options.command.empty()) {
                return Fail("'--' must be followed by a command to run",
                            "give the command, or leave out '--' to type line commands");
            }
            return std::nullopt;
        }
        // Both "--com 2" and "--com=2".
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const OptionInfo* info = nullptr;
        for (const OptionInfo& o : kOptions) {
            if (name == o.name) info = &o;
        }
        if (info == nullptr) {
            return Fail("unknown option '" + std::string(arg) + "'", SeeHelp());
        }
        if (info->argument == nullptr) {
            if (equals != std::string_view::npos) {
                return Fail(std::string(name) + " takes no value", SeeHelp());
            }
            if (name == "--loopback") options.core.loopback = true;
            if (name == "--pace") options.core.pace = true;
            if (name == "--quiet") options.quiet = true;
            if (name == "--help") options.help = true;
            continue;
        }
        std::string value;
        if (equals != std::string_view::npos) {
            value = std::string(arg.substr(equals + 1));
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return Fail(std::string(name) + " needs a value (" + info->argument + ")", SeeHelp());
        }
        if (auto error = Apply(name, value, options)) return error;
    }
    return std::nullopt;
}

std::string HelpText() {
    std::string text =
        "Usage: VARNOX-Sim [OPTION]... [-- COMMAND [ARG]...]\n"
        "\n"
        "Plays a VARNOX digital I/O module on a pseudo-terminal and publishes it as COMn\n"
        "in a fresh device directory, for the library's VARNOX_DEVICE_DIR.\n"
        "\n"
        "With a COMMAND, VARNOX-Sim runs it with VARNOX_DEVICE_DIR set, leaves the\n"
        "terminal to it (no line commands are read), and ends when it ends, with its\n"
        "exit status (128+N when signal N ended it, 127 when it cannot be run).\n"
        "Ctrl+C reaches the command from the terminal; SIGINT, SIGTERM or SIGHUP sent to\n"
        "VARNOX-Sim itself are passed on to it.\n"
        "\n"
        "Without a COMMAND, VARNOX-Sim prints on standard output\n"
        "    export VARNOX_DEVICE_DIR=<directory>\n"
        "    VARNOX-Sim ready: COMn is <directory>/COMn -> <slave>; ...\n"
        "and then reads line commands from standard input. End of input (Ctrl+D) quits\n"
        "when standard input is a terminal; from a pipe, a file or /dev/null the module\n"
        "keeps running until Ctrl+C or SIGTERM. Exit status: 0 after quit or end of\n"
        "input, 128+N after signal N.\n"
        "\n"
        "Either way the device directory and its link are removed at the end, also\n"
        "after Ctrl+C, SIGTERM or SIGHUP. A wrong option ends with status 2, a failed\n"
        "set-up with status 1.\n"
        "\n"
        "Options (--name VALUE or --name=VALUE):\n";
    for (const OptionInfo& o : kOptions) {
        std::string left = std::string("  ") + o.name;
        if (o.argument != nullptr) left += std::string(" ") + o.argument;
        char line[200];
        std::snprintf(line, sizeof line, "%-18s%s\n", left.c_str(), o.help);
        text += line;
    }
    text += "\nLine commands:\n";
    text += LineCommandHelp();
    text += "\nFault modes (they apply to every reply and every automatic input report):\n";
    for (const FaultInfo& f : kFaultModes) {
        char line[200];
        std::snprintf(line, sizeof line, "  %-14s%s\n", f.name, f.description);
        text += line;
    }
    text +=
        "\n"
        "Frame log: each line starts with the local time; \"<<\" marks a frame received\n"
        "from the client, \">>\" bytes sent to it. Control bytes show as \\r, \\n, \\t or\n"
        "\\xHH. The module answers only while the client's line is 9600 baud, 8 data\n"
        "bits, 1 stop bit and raw (parity cannot be seen on a pseudo-terminal); the log\n"
        "says why when it is not.\n";
    return text;
}

}  // namespace varnox::sim
