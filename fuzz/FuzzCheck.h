// How a fuzz target reports a broken invariant: one line on stderr that names
// the target and says what went wrong with which values, then abort(), so
// libFuzzer keeps the input as a crash file that reproduces it.
#ifndef VARNOX_FUZZ_FUZZCHECK_H
#define VARNOX_FUZZ_FUZZCHECK_H

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace varnox::fuzz {

[[noreturn]] inline void Fail(const char* target, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

inline void Fail(const char* target, const char* format, ...) {
    std::fprintf(stderr, "\n%s: invariant broken: ", target);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fprintf(stderr,
                 "\nThe input is saved as the crash file libFuzzer names below; run the target"
                 " on that file to reproduce it.\n");
    std::abort();
}

// Bytes as C source would write them, for messages about texts that may hold
// any byte: "\x07" for other than printable ASCII, "\\" and "\"" escaped.
inline std::string Quoted(const char* bytes, std::size_t count) {
    std::string out = "\"";
    for (std::size_t i = 0; i < count; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
    return out + "\"";
}

inline std::string Quoted(const std::string& text) {
    return Quoted(text.data(), text.size());
}

}  // namespace varnox::fuzz

#endif
