// Fuzzes the test program's command line. The input is split on zero bytes
// into argv (the first piece is the program path). ParseCommandLine must
// either report a usage error or give fields that the arguments account for,
// as its header describes them; debug mode always switches quiet mode off;
// the trace is opened once for each upper-case D switch, with the slot known
// at that point, and never more often than there are such switches. The
// program path goes through ProgramName, whose result must be the file name
// without directory and extension.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "testprog/CommandLine.h"

namespace varnox::fuzz {
namespace {

using testprog::Options;

constexpr const char* kTarget = "fuzz_command_line";
constexpr std::size_t kMaxArguments = 64;

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// An unsigned decimal number: white space, an optional '+', at least one
// digit; what follows the digits is ignored; above 65535 is refused.
bool ModelNumber(const char* text, std::uint16_t& value) {
    while (IsSpace(*text)) ++text;
    if (*text == '+') ++text;
    if (!IsDigit(*text)) return false;
    unsigned long number = 0;
    for (; IsDigit(*text); ++text) {
        number = number * 10 + static_cast<unsigned long>(*text - '0');
        if (number > 0xFFFF) return false;
    }
    value = static_cast<std::uint16_t>(number);
    return true;
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

struct Model {
    Options options;
    std::vector<std::uint16_t> traceOpenedFor;
};

// The command line as the header and the test program's usage describe it.
// A switch letter may be either case; only an upper-case D opens the trace.
// "-C" alone, or followed by a blank or tab, takes the slot from the next
// argument. A letter with more after it is an error, except for C.
Model ModelParse(const std::vector<const char*>& argv) {
    Model m;
    Options& o = m.options;
    const std::size_t argc = argv.size();
    if (argc < 2 || !ModelNumber(argv[1], o.comNumber)) {
        o.usageError = true;
        return m;
    }
    for (std::size_t i = 2; i < argc && !o.usageError; ++i) {
        const char* argument = argv[i];
        if ((argument[0] != '-' && argument[0] != '/') || argument[1] == '\0') {
            o.usageError = true;
            break;
        }
        const char* rest = argument + 2;
        switch (Upper(argument[1])) {
            case 'C':
                if (*rest == '\0' || *rest == ' ' || *rest == '\t') {
                    ++i;
                    if (i >= argc || !ModelNumber(argv[i], o.portNumber)) o.usageError = true;
                } else if (!ModelNumber(rest, o.portNumber)) {
                    o.usageError = true;
                }
                break;
            case 'D':
                o.debugMode = true;
                if (argument[1] == 'D') m.traceOpenedFor.push_back(o.portNumber);
                if (*rest != '\0') o.usageError = true;
                break;
            case 'Q':
                o.quietMode = true;
                if (*rest != '\0') o.usageError = true;
                break;
            default: o.usageError = true; break;
        }
    }
    if (o.debugMode) o.quietMode = false;
    return m;
}

std::string Joined(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) line += (line.empty() ? "" : " ") + Quoted(word);
    return line;
}

void CheckProgramName(const std::string& path) {
    const std::string name = testprog::ProgramName(path);
    // path = directory (ending in a separator, or empty) + name + extension
    // (starting with '.', or empty), where name has no separator and no point
    // and the extension no separator.
    const std::size_t separator = path.find_last_of("/\\");
    const std::size_t fileAt = separator == std::string::npos ? 0 : separator + 1;
    const bool clean = name.find_first_of("/\\.") == std::string::npos;
    const bool placed = path.compare(fileAt, name.size(), name) == 0;
    const std::size_t extensionAt = fileAt + name.size();
    const bool extension =
        extensionAt <= path.size() && (extensionAt == path.size() || path[extensionAt] == '.');
    if (!clean || !placed || !extension) {
        Fail(kTarget, "ProgramName(%s) gave %s, not the file name without directory and extension",
             Quoted(path).c_str(), Quoted(name).c_str());
    }
}

}  // namespace
}  // namespace varnox::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace varnox::fuzz;
    std::vector<std::string> words(1);
    for (std::size_t i = 0; i < size && words.size() <= kMaxArguments; ++i) {
        if (data[i] == 0) {
            words.emplace_back();
        } else {
            words.back() += static_cast<char>(data[i]);
        }
    }
    if (words.size() > kMaxArguments) words.pop_back();
    const std::vector<std::string> original = words;
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    const Model model = ModelParse(argv);
    // A real argv ends with a null pointer; the parser must not rely on it,
    // but a program's would have it.
    argv.push_back(nullptr);
    const int argc = static_cast<int>(argv.size() - 1);

    std::vector<std::uint16_t> opened;
    std::size_t upperDs = 0;
    for (std::size_t i = 2; i < words.size(); ++i) {
        if ((words[i][0] == '-' || words[i][0] == '/') && words[i].size() > 1 &&
            words[i][1] == 'D') {
            ++upperDs;
        }
    }
    const varnox::testprog::Options o = varnox::testprog::ParseCommandLine(
        argc, argv.data(), [&](std::uint16_t slot) { opened.push_back(slot); });
    const std::string line = Joined(words);

    if (words != original)
        Fail(kTarget, "ParseCommandLine changed its arguments: %s", line.c_str());
    if (o.debugMode && o.quietMode) {
        Fail(kTarget, "ParseCommandLine(%s) left quiet mode on in debug mode", line.c_str());
    }
    if (opened.size() > upperDs) {
        Fail(kTarget, "ParseCommandLine(%s) opened the trace %zu times for %zu D switches",
             line.c_str(), opened.size(), upperDs);
    }
    if (o.usageError != model.options.usageError) {
        Fail(kTarget, "ParseCommandLine(%s) gave usageError %d, the documented parse gives %d",
             line.c_str(), o.usageError, model.options.usageError);
    }
    if (opened != model.traceOpenedFor) {
        Fail(kTarget,
             "ParseCommandLine(%s) opened the trace %zu times (first for slot %d), the "
             "documented parse %zu times (first for slot %d)",
             line.c_str(), opened.size(), opened.empty() ? -1 : opened[0],
             model.traceOpenedFor.size(),
             model.traceOpenedFor.empty() ? -1 : model.traceOpenedFor[0]);
    }
    if (!o.usageError) {
        const Options& m = model.options;
        if (o.comNumber != m.comNumber || o.portNumber != m.portNumber ||
            o.quietMode != m.quietMode || o.debugMode != m.debugMode) {
            Fail(kTarget,
                 "ParseCommandLine(%s) gave COM %u slot %u quiet %d debug %d, the documented parse "
                 "COM %u slot %u quiet %d debug %d",
                 line.c_str(), o.comNumber, o.portNumber, o.quietMode, o.debugMode, m.comNumber,
                 m.portNumber, m.quietMode, m.debugMode);
        }
    }
    CheckProgramName(words[0]);
    return 0;
}
