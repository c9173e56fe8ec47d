#include "testprog/CommandLine.h"

#include <cctype>
#include <cstdlib>

namespace varnox::testprog {
namespace {

// Reads an unsigned decimal number the way scanf's "%hu" does (white space
// first, an optional sign, digits; the rest ignored), refusing values that
// do not fit 16 bits.
bool ReadNumber(const char* text, std::uint16_t& value) {
    while (*text != '\0' && std::isspace(static_cast<unsigned char>(*text))) ++text;
    const char* digits = text;
    if (*digits == '+') ++digits;
    if (!std::isdigit(static_cast<unsigned char>(*digits))) return false;
    unsigned long number = 0;
    for (; std::isdigit(static_cast<unsigned char>(*digits)); ++digits) {
        number = number * 10 + static_cast<unsigned long>(*digits - '0');
        if (number > 0xFFFF) return false;
    }
    value = static_cast<std::uint16_t>(number);
    return true;
}

}  // namespace

Options ParseCommandLine(int argc, const char* const* argv,
                         const std::function<void(std::uint16_t)>& openDebugFile) {
    Options options;
    if (argc < 2 || !ReadNumber(argv[1], options.comNumber)) {
        options.usageError = true;
        return options;
    }
    for (int i = 2; i < argc && !options.usageError; ++i) {
        const char* argument = argv[i];
        if (argument[0] != '-' && argument[0] != '/') {
            options.usageError = true;
            break;
        }
        const char letter =
            static_cast<char>(std::toupper(static_cast<unsigned char>(argument[1])));
        const char third = argument[1] != '\0' ? argument[2] : '\0';
        switch (argument[1] == '\0' ? '\0' : letter) {
            case 'C':
                if (third == '\0' || third == ' ' || third == '\t') {
                    if (i + 1 >= argc || !ReadNumber(argv[++i], options.portNumber)) {
                        options.usageError = true;
                    }
                } else if (!ReadNumber(argument + 2, options.portNumber)) {
                    options.usageError = true;
                }
                break;
            case 'D':
                options.debugMode = true;
                if (argument[1] == 'D') openDebugFile(options.portNumber);
                if (third != '\0') options.usageError = true;
                break;
            case 'Q':
                options.quietMode = true;
                if (third != '\0') options.usageError = true;
                break;
            default: options.usageError = true; break;
        }
    }
    if (options.debugMode) options.quietMode = false;
    return options;
}

std::string ProgramName(const std::string& path) {
    const std::string::size_type separator = path.find_last_of("/\\");
    const std::string file = separator == std::string::npos ? path : path.substr(separator + 1);
    return file.substr(0, file.find('.'));
}

}  // namespace varnox::testprog
