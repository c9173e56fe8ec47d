// Fuzzes the test program's text utilities against models written from their
// header: the two parsers against the documented 32-bit strtoul and strtol,
// the two number formatters with formats of the shape callers pass (built
// from the input so that each holds exactly one double conversion, since a
// format from untrusted input is outside their contract), and the four
// column routines with destinations of exactly the documented size. Every
// destination is followed by canary bytes that must survive the call.
//
// Byte 0 chooses the routine (modulo 8); the rest is that routine's input as
// the function that runs it describes. Missing bytes read as zero.
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "testprog/TextUtilities.h"

namespace varnox::fuzz {
namespace {

using namespace varnox::testprog;

constexpr const char* kTarget = "fuzz_text_utilities";
constexpr unsigned char kCanary = 0xC3;
constexpr std::size_t kGuard = 16;

// The widest text the built formats can give: "%99.99f" of the largest
// double is 410 characters, a 24-character suffix on top.
constexpr std::size_t kFormatDestination = 512;
constexpr std::size_t kMaxSuffix = 24;

// Reads the input front to back; beyond its end every byte is zero.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }
    void Bytes(void* out, std::size_t count) {
        auto* bytes = static_cast<std::uint8_t*>(out);
        for (std::size_t i = 0; i < count; ++i) bytes[i] = Byte();
    }
    // The rest of the input as a text, up to its first zero byte.
    std::string Text() {
        const char* start = reinterpret_cast<const char*>(data_ + position_);
        const std::size_t left = size_ - (position_ < size_ ? position_ : size_);
        std::string text(start, strnlen(start, left));
        position_ = size_;
        return text;
    }
    std::size_t Left() const { return position_ < size_ ? size_ - position_ : 0; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// A destination of `size` bytes filled with '#', with canaries on both sides.
class Destination {
public:
    explicit Destination(std::size_t size) : bytes_(kGuard + size + kGuard, kCanary), size_(size) {
        std::memset(Data(), '#', size);
    }
    char* Data() { return reinterpret_cast<char*>(bytes_.data() + kGuard); }
    const char* Data() const { return reinterpret_cast<const char*>(bytes_.data() + kGuard); }
    std::size_t Size() const { return size_; }
    bool CanariesIntact() const {
        for (std::size_t i = 0; i < kGuard; ++i) {
            if (bytes_[i] != kCanary || bytes_[kGuard + size_ + i] != kCanary) return false;
        }
        return true;
    }
    // The text in the destination, which must end within it.
    std::string Text(const char* routine) const {
        const void* end = std::memchr(Data(), '\0', size_);
        if (end == nullptr)
            Fail(kTarget, "%s left no terminating zero in its %zu bytes", routine, size_);
        return std::string(Data(), static_cast<const char*>(end));
    }

private:
    std::vector<unsigned char> bytes_;
    std::size_t size_;
};

void CheckCanaries(const Destination& d, const char* routine, const std::string& input) {
    if (!d.CanariesIntact()) {
        Fail(kTarget, "%s wrote outside its %zu-byte destination (input %s)", routine, d.Size(),
             Quoted(input).c_str());
    }
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
// The formats are built here to hold exactly one double conversion (and, for
// FormatSignificant, a '*' precision before it), so applying them is defined.
std::string Formatted(const std::string& format, double value) {
    char text[kFormatDestination];
    const int count = std::snprintf(text, sizeof text, format.c_str(), value);
    if (count < 0 || static_cast<std::size_t>(count) >= sizeof text) {
        Fail(kTarget, "the reference text of %s is longer than %zu bytes", Quoted(format).c_str(),
             sizeof text);
    }
    return text;
}
std::string Formatted(const std::string& format, int precision, double value) {
    char text[kFormatDestination];
    const int count = std::snprintf(text, sizeof text, format.c_str(), precision, value);
    if (count < 0 || static_cast<std::size_t>(count) >= sizeof text) {
        Fail(kTarget, "the reference text of %s is longer than %zu bytes", Quoted(format).c_str(),
             sizeof text);
    }
    return text;
}
#pragma GCC diagnostic pop

// ---------------------------------------------------------------------------
// ParseUnsigned and ParseSigned: byte 0 chooses, the rest is the text.

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

unsigned DigitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned>(c - 'A' + 10);
    return 99;
}

// Whether this C library's strtoul reads a "0b" prefix in base 2, as newer
// ones do; the parsers pass the conversion on, so the model follows it.
bool BinaryPrefixAccepted() {
    static const bool accepted = [] {
        const char text[] = "0b1";
        char* end = nullptr;
        (void)std::strtoul(text, &end, 2);
        return end == text + 3;
    }();
    return accepted;
}

// How strtoul and strtol read a text in `base`: where the conversion ends
// (0: nothing converted), the sign, and the magnitude, which stops growing
// past 2^40, far beyond any 32-bit limit.
struct Conversion {
    std::size_t end;
    bool negative;
    std::uint64_t magnitude;
};

constexpr std::uint64_t kSaturated = std::uint64_t{1} << 40;

Conversion ModelConversion(const char* text, unsigned base) {
    std::size_t i = 0;
    while (IsSpace(text[i])) ++i;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    const bool hexPrefix = base == 16 && (text[i + 1] == 'x' || text[i + 1] == 'X');
    const bool binaryPrefix =
        base == 2 && BinaryPrefixAccepted() && (text[i + 1] == 'b' || text[i + 1] == 'B');
    if (text[i] == '0' && (hexPrefix || binaryPrefix) && DigitValue(text[i + 2]) < base) i += 2;
    if (DigitValue(text[i]) >= base) return {0, false, 0};
    std::uint64_t magnitude = 0;
    for (; DigitValue(text[i]) < base; ++i) {
        magnitude = magnitude * base + DigitValue(text[i]);
        if (magnitude > kSaturated) magnitude = kSaturated;
    }
    return {i, negative, magnitude};
}

// The status both parsers document, with the conversion when it is 0.
int ModelStatus(const std::string& text, Conversion& conversion) {
    if (text.empty()) return -1;
    unsigned base = 10;
    std::size_t digitsEnd = text.size();
    if (text.back() == 'h' || text.back() == 'b') {
        base = text.back() == 'h' ? 16 : 2;
        --digitsEnd;
    }
    conversion = ModelConversion(text.c_str(), base);
    return conversion.end != 0 && conversion.end == digitsEnd ? 0 : -2;
}

constexpr int kCallersErrno = 4711;

void RunParseUnsigned(Reader& in) {
    const std::string text = in.Text();
    Conversion c{};
    const int expected = ModelStatus(text, c);
    std::uint32_t value = 0;
    if (expected == 0) {
        constexpr std::uint64_t kMax = 0xFFFFFFFFu;
        if (c.magnitude > kMax) {
            value = 0xFFFFFFFFu;
        } else {
            value = static_cast<std::uint32_t>(c.negative ? (0 - c.magnitude) : c.magnitude);
        }
    }
    constexpr std::uint32_t kUntouched = 0xDEADBEEF;
    std::uint32_t result = kUntouched;
    errno = kCallersErrno;
    const int status = ParseUnsigned(text.c_str(), &result);
    if (errno != kCallersErrno)
        Fail(kTarget, "ParseUnsigned(%s) changed errno", Quoted(text).c_str());
    if (status != expected) {
        Fail(kTarget, "ParseUnsigned(%s) returned %d, the documented behaviour is %d",
             Quoted(text).c_str(), status, expected);
    }
    const std::uint32_t want = expected == 0 ? value : kUntouched;
    if (result != want) {
        Fail(kTarget, "ParseUnsigned(%s) stored %lu, the documented behaviour is %lu",
             Quoted(text).c_str(), static_cast<unsigned long>(result),
             static_cast<unsigned long>(want));
    }
}

void RunParseSigned(Reader& in) {
    const std::string text = in.Text();
    Conversion c{};
    const int expected = ModelStatus(text, c);
    std::int32_t value = 0;
    if (expected == 0) {
        if (c.negative) {
            value = c.magnitude > 0x80000000u
                        ? INT32_MIN
                        : static_cast<std::int32_t>(-static_cast<std::int64_t>(c.magnitude));
        } else {
            value = c.magnitude > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(c.magnitude);
        }
    }
    constexpr std::int32_t kUntouched = -559038737;
    std::int32_t result = kUntouched;
    errno = kCallersErrno;
    const int status = ParseSigned(text.c_str(), &result);
    if (errno != kCallersErrno)
        Fail(kTarget, "ParseSigned(%s) changed errno", Quoted(text).c_str());
    if (status != expected) {
        Fail(kTarget, "ParseSigned(%s) returned %d, the documented behaviour is %d",
             Quoted(text).c_str(), status, expected);
    }
    const std::int32_t want = expected == 0 ? value : kUntouched;
    if (result != want) {
        Fail(kTarget, "ParseSigned(%s) stored %ld, the documented behaviour is %ld",
             Quoted(text).c_str(), static_cast<long>(result), static_cast<long>(want));
    }
}

// ---------------------------------------------------------------------------
// FormatDuration and FormatSignificant.

constexpr char kConversions[] = "fFeEgG";

// Flags from the low five bits of `bits`.
std::string Flags(std::uint8_t bits) {
    static constexpr char kFlags[] = "-+ #0";
    std::string flags;
    for (unsigned i = 0; i < 5; ++i) {
        if ((bits >> i & 1U) != 0) flags += kFlags[i];
    }
    return flags;
}

// A suffix of literal text: any byte but the zero, no '%' (it would start
// another conversion) and, where `allowPoint` is false, no '.' (the format's
// first point must be its conversion's).
std::string Suffix(Reader& in, bool allowPoint) {
    std::string suffix;
    while (in.Left() > 0 && suffix.size() < kMaxSuffix) {
        const auto c = static_cast<char>(in.Byte());
        if (c == '\0' || c == '%' || (!allowPoint && c == '.')) continue;
        suffix += c;
    }
    return suffix;
}

double Value(Reader& in, bool raw) {
    if (raw) {
        double value = 0;
        in.Bytes(&value, sizeof value);
        return value;
    }
    // Mostly durations a caller has: half seconds up to just below 2^31 s.
    std::uint32_t units = 0;
    in.Bytes(&units, sizeof units);
    const double fraction = in.Byte() / 256.0;
    const bool negative = (in.Byte() & 1U) != 0;
    const double value = (units + fraction) * 0.5;
    return negative ? -value : value;
}

// How far a printed seconds value may lie from the exact one: half a unit of
// its last digit, with the conversion's precision (6 when none is given).
double Tolerance(char conversion, int precision) {
    double unit = 0;
    switch (conversion) {
        case 'f':
        case 'F': unit = std::pow(10.0, -precision); break;
        case 'e':
        case 'E': unit = std::pow(10.0, 1 - precision); break;  // the value is below 100
        default: unit = std::pow(10.0, 2 - (precision > 0 ? precision : 1)); break;
    }
    return unit * 0.5001 + 1e-9;
}

// Input: byte 1 flags (bits 0-4 "-+ #0", bit 5 a width, bit 6 a precision,
// bit 7 a raw double), byte 2 the width, byte 3 the precision (100: a point
// alone), byte 4 the conversion, then the value (8 bytes), then the suffix.
void RunFormatDuration(Reader& in) {
    const std::uint8_t bits = in.Byte();
    const unsigned width = in.Byte() % 99U + 1;
    const unsigned precisionByte = in.Byte() % 101U;
    const char conversion = kConversions[in.Byte() % 6];
    const bool hasWidth = (bits & 0x20) != 0;
    const bool hasPoint = (bits & 0x40) != 0;
    const double seconds = Value(in, (bits & 0x80) != 0);

    std::string format = "%" + Flags(bits);
    if (hasWidth) format += std::to_string(width);
    int precision = 6;
    if (hasPoint) {
        format += '.';
        precision = 0;
        if (precisionByte < 100) {
            format += std::to_string(precisionByte);
            precision = static_cast<int>(precisionByte);
        }
    }
    format += conversion;
    const std::string suffix = Suffix(in, hasPoint);
    format += suffix;

    Destination d(kFormatDestination);
    const int count = FormatDuration(d.Data(), format.c_str(), seconds);
    CheckCanaries(d, "FormatDuration", format);
    const std::string out = d.Text("FormatDuration");
    if (count < 0 || static_cast<std::size_t>(count) != out.size()) {
        Fail(kTarget, "FormatDuration(%s, %.17g) returned %d for a text of %zu characters",
             Quoted(format).c_str(), seconds, count, out.size());
    }
    const std::string alone = Formatted(format, seconds);
    if (!(seconds >= 60.0 && seconds < 2147483648.0)) {
        if (out != alone) {
            Fail(kTarget, "FormatDuration(%s, %.17g) gave %s, not the caller's format alone: %s",
                 Quoted(format).c_str(), seconds, Quoted(out).c_str(), Quoted(alone).c_str());
        }
        return;
    }

    // The widened layout as the header describes it.
    const auto total = static_cast<std::int32_t>(seconds);
    const std::int32_t allMinutes = total / 60;
    const double rest = seconds - 60.0 * allMinutes;
    char prefix[32];
    if (allMinutes < 60) {
        std::snprintf(prefix, sizeof prefix, "%u:", static_cast<unsigned>(allMinutes));
    } else {
        std::snprintf(prefix, sizeof prefix, "%u:%02u:", static_cast<unsigned>(allMinutes / 60),
                      static_cast<unsigned>(allMinutes % 60));
    }
    // The tail: from the point, else from the conversion letter, the first
    // f, F, e, E, g, G, a or A after the '%'.
    std::size_t tailAt = format.find('.');
    unsigned fieldWidth = 2;
    if (tailAt != std::string::npos) {
        if (precision > 0) fieldWidth = static_cast<unsigned>(precision) + 3;
    } else {
        tailAt = format.find_first_of("fFeEgGaA", format.find('%') + 1);
    }
    const std::size_t built =
        (allMinutes < 60 ? 5 : 10) + std::to_string(fieldWidth).size() + format.size() - tailAt;
    if (built > (allMinutes < 60 ? 19U : 31U)) {
        if (out != alone) {
            Fail(kTarget,
                 "FormatDuration(%s, %.17g) gave %s; its widened format is too long, so the "
                 "caller's format alone was due: %s",
                 Quoted(format).c_str(), seconds, Quoted(out).c_str(), Quoted(alone).c_str());
        }
        return;
    }

    // The widened text: the prefix, the seconds as the conversion writes
    // them, zero-filled to the field, and the suffix.
    const std::size_t prefixLength = std::strlen(prefix);
    const bool shaped = out.compare(0, prefixLength, prefix) == 0 && out.size() >= prefixLength &&
                        out.size() - prefixLength >= suffix.size() &&
                        out.compare(out.size() - suffix.size(), suffix.size(), suffix) == 0;
    std::string field;
    if (shaped) field = out.substr(prefixLength, out.size() - prefixLength - suffix.size());
    char* end = nullptr;
    const double printed = shaped ? std::strtod(field.c_str(), &end) : 0.0;
    const bool parsed = shaped && !field.empty() && end == field.c_str() + field.size() &&
                        field.find('%') == std::string::npos;
    if (!parsed || std::fabs(printed - rest) > Tolerance(conversion, precision) ||
        field.size() < fieldWidth) {
        Fail(kTarget,
             "FormatDuration(%s, %.17g) gave %s, not the widened layout: \"%s\", the seconds "
             "%.17g in a field of at least %u, then %s",
             Quoted(format).c_str(), seconds, Quoted(out).c_str(), prefix, rest, fieldWidth,
             Quoted(suffix).c_str());
    }
}

// Input: byte 1 flags (bits 0-4, bit 5 a width), byte 2 the width, byte 3 the
// conversion, byte 4 the digits, then the value (8 bytes), then the suffix.
void RunFormatSignificant(Reader& in) {
    const std::uint8_t bits = in.Byte();
    const unsigned width = in.Byte() % 99U + 1;
    const char conversion = kConversions[in.Byte() % 6];
    const auto digits = static_cast<std::int8_t>(in.Byte());
    const double value = Value(in, true);
    std::string format = "%" + Flags(bits);
    if ((bits & 0x20) != 0) format += std::to_string(width);
    format += ".*";
    format += conversion;
    format += Suffix(in, true);

    // precision = digits - 1 - floor(log10(|value|)), at least 0; 0 counts
    // as order 0, NaN and the infinities get 0.
    int precision = 0;
    if (std::isfinite(value)) {
        const int order =
            value != 0.0 ? static_cast<int>(std::floor(std::log10(std::fabs(value)))) : 0;
        precision = digits - 1 - order;
        if (precision < 0) precision = 0;
    }
    if (precision > 450) {
        Fail(kTarget, "FormatSignificant: precision %d for %.17g with %d digits exceeds 450",
             precision, value, digits);
    }
    const std::string expected = Formatted(format, precision, value);
    Destination d(kFormatDestination);
    const int count = FormatSignificant(d.Data(), format.c_str(), value, digits);
    CheckCanaries(d, "FormatSignificant", format);
    const std::string out = d.Text("FormatSignificant");
    if (out != expected || count != static_cast<int>(out.size())) {
        Fail(kTarget, "FormatSignificant(%s, %.17g, %d) gave %s (count %d); precision %d gives %s",
             Quoted(format).c_str(), value, digits, Quoted(out).c_str(), count, precision,
             Quoted(expected).c_str());
    }
}

// ---------------------------------------------------------------------------
// The column routines: byte 1 the width, the rest the source (PadRight: byte 2
// the start, byte 3 bit 0 in place).

std::string ModelShortenTail(const std::string& source, unsigned width) {
    if (width < 2) return std::string(width, '.');
    const std::size_t keep = width - 2;
    return ".." + (source.size() > keep ? source.substr(source.size() - keep) : source);
}

// The first backslash position from which the rest of `source` is at most
// `room` characters long, or npos.
std::size_t TailFrom(const std::string& source, std::size_t headLength, long room) {
    if (room <= 0) return std::string::npos;
    const std::size_t from = source.size() - static_cast<std::size_t>(room);
    return source.find('\\', from > headLength ? from : headLength);
}

std::string ModelShortenPath(const std::string& source, unsigned width) {
    if (source.size() <= width) return source;
    const std::size_t separator = source.find('\\');
    if (separator == std::string::npos) return ModelShortenTail(source, width);
    const bool drive = separator > 0 && source[separator - 1] == ':';
    const std::size_t head = drive ? separator : separator + 1;
    const std::size_t tail =
        TailFrom(source, head, static_cast<long>(width) - static_cast<long>(head) - 2);
    if (tail == std::string::npos) return ModelShortenTail(source, width);
    std::string result = source.substr(0, head) + ".." + source.substr(tail);
    if (drive && result.size() < width)
        result = source.substr(0, head + 1) + ".." + source.substr(tail);
    return result;
}

std::string ModelShortenPathPadded(const std::string& source, unsigned width) {
    if (source.size() <= width) return source + std::string(width - source.size(), ' ');
    const std::size_t separator = source.find('\\');
    if (separator == std::string::npos) return ModelShortenTail(source, width);
    const std::size_t head = separator + 1;
    const std::size_t tail =
        TailFrom(source, head, static_cast<long>(width) - static_cast<long>(head) - 3);
    if (tail == std::string::npos) return ModelShortenTail(source, width);
    const std::string result = source.substr(0, head) + ".." + source.substr(tail);
    return result + std::string(width - result.size(), ' ');
}

void RunShortenPath(Reader& in) {
    const unsigned width = in.Byte();
    const std::string source = in.Text();
    const std::string expected = ModelShortenPath(source, width);
    Destination d((source.size() < width ? source.size() : width) + 1);
    const unsigned count = ShortenPath(d.Data(), source.c_str(), width);
    CheckCanaries(d, "ShortenPath", source);
    const std::string out = d.Text("ShortenPath");
    // The count is the result's length in every case: a copied path, a
    // shortened one, or ShortenTail's, which is width long for a longer source.
    if (out != expected || count != expected.size()) {
        Fail(kTarget, "ShortenPath(%s, %u) gave %s (count %u), the documented result is %s",
             Quoted(source).c_str(), width, Quoted(out).c_str(), count, Quoted(expected).c_str());
    }
}

void RunShortenPathPadded(Reader& in) {
    const unsigned width = in.Byte();
    const std::string source = in.Text();
    const std::string expected = ModelShortenPathPadded(source, width);
    Destination d(width + 1U);
    const unsigned count = ShortenPathPadded(d.Data(), source.c_str(), width);
    CheckCanaries(d, "ShortenPathPadded", source);
    const std::string out = d.Text("ShortenPathPadded");
    if (out != expected || count != width || out.size() != width) {
        Fail(kTarget, "ShortenPathPadded(%s, %u) gave %s (count %u), the documented result is %s",
             Quoted(source).c_str(), width, Quoted(out).c_str(), count, Quoted(expected).c_str());
    }
}

void RunPadRight(Reader& in) {
    const unsigned width = in.Byte();
    const unsigned start = in.Byte();
    const bool inPlace = (in.Byte() & 1U) != 0;
    const std::string source = in.Text();
    const std::size_t size = (source.size() > width ? source.size() : width) + 1;
    Destination d(size);
    // The model does literally what the header says on the same bytes.
    std::string expected(d.Data(), size);
    std::memcpy(&expected[0], source.c_str(), source.size() + 1);
    for (unsigned position = start; position < width; ++position) expected[position] = ' ';
    expected[width] = '\0';
    if (inPlace) {
        std::memcpy(d.Data(), source.c_str(), source.size() + 1);
        PadRight(d.Data(), d.Data(), width, start);
    } else {
        PadRight(d.Data(), source.c_str(), width, start);
    }
    CheckCanaries(d, "PadRight", source);
    if (std::memcmp(d.Data(), expected.data(), size) != 0) {
        Fail(kTarget, "PadRight(%s, %u, %u%s) gave %s, the documented result is %s",
             Quoted(source).c_str(), width, start, inPlace ? ", in place" : "",
             Quoted(d.Data(), size).c_str(), Quoted(expected).c_str());
    }
}

void RunShortenTail(Reader& in) {
    const unsigned width = in.Byte();
    const std::string source = in.Text();
    const std::string expected = ModelShortenTail(source, width);
    Destination d(width + 1U);
    ShortenTail(d.Data(), source.c_str(), width, static_cast<unsigned>(source.size()));
    CheckCanaries(d, "ShortenTail", source);
    const std::string out = d.Text("ShortenTail");
    if (out != expected) {
        Fail(kTarget, "ShortenTail(%s, %u) gave %s, the documented result is %s",
             Quoted(source).c_str(), width, Quoted(out).c_str(), Quoted(expected).c_str());
    }
}

}  // namespace
}  // namespace varnox::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace varnox::fuzz;
    if (size == 0) return 0;
    Reader in(data + 1, size - 1);
    switch (data[0] % 8) {
        case 0: RunParseUnsigned(in); break;
        case 1: RunParseSigned(in); break;
        case 2: RunFormatDuration(in); break;
        case 3: RunFormatSignificant(in); break;
        case 4: RunShortenPath(in); break;
        case 5: RunShortenPathPadded(in); break;
        case 6: RunPadRight(in); break;
        default: RunShortenTail(in); break;
    }
    return 0;
}
