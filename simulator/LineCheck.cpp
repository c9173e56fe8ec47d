#include "simulator/LineCheck.h"

#include <termios.h>

#include <iterator>

namespace varnox::sim {

namespace {

struct Flag {
    tcflag_t bit;
    const char* name;
};

// Each of these changes bytes on their way or swallows some: a cooked line
// would answer our replies with echoes, turn CR into LF, eat ^C or XOFF.
constexpr Flag kLocalFlags[] = {
    {ICANON, "ICANON"}, {ECHO, "ECHO"}, {ECHONL, "ECHONL"}, {ISIG, "ISIG"}, {IEXTEN, "IEXTEN"}};
constexpr Flag kInputFlags[] = {
    {ICRNL, "ICRNL"}, {INLCR, "INLCR"}, {IGNCR, "IGNCR"}, {ISTRIP, "ISTRIP"}, {IXON, "IXON"},
#ifdef IUCLC
    {IUCLC, "IUCLC"},
#endif
};
constexpr Flag kOutputFlags[] = {{OPOST, "OPOST"}};

struct Speed {
    speed_t code;
    const char* text;
};

constexpr Speed kSpeeds[] = {
    {B0, "0"},         {B50, "50"},         {B75, "75"},        {B110, "110"},
    {B134, "134"},     {B150, "150"},       {B200, "200"},      {B300, "300"},
    {B600, "600"},     {B1200, "1200"},     {B1800, "1800"},    {B2400, "2400"},
    {B4800, "4800"},   {B9600, "9600"},     {B19200, "19200"},  {B38400, "38400"},
    {B57600, "57600"}, {B115200, "115200"}, {B230400, "230400"}};

std::string SpeedText(speed_t code) {
    for (const Speed& s : kSpeeds) {
        if (s.code == code) return s.text;
    }
    return "an unusual speed";
}

void Append(std::string& text, const std::string& part) {
    if (!text.empty()) text += "; ";
    text += part;
}

void AppendSetFlags(std::string& text, tcflag_t flags, const Flag* begin, const Flag* end) {
    for (const Flag* f = begin; f != end; ++f) {
        if ((flags & f->bit) != 0) Append(text, std::string(f->name) + " set");
    }
}

}  // namespace

std::string LineProblem(const termios& settings) {
    std::string problem;
    const speed_t out = ::cfgetospeed(&settings);
    const speed_t in = ::cfgetispeed(&settings);
    if (out != B9600) Append(problem, SpeedText(out) + " baud instead of 9600");
    // An input speed of 0 means "the same as the output speed".
    if (in != B9600 && in != B0 && out == B9600) {
        Append(problem, "input at " + SpeedText(in) + " baud instead of 9600");
    }
    // A pseudo-terminal forces CS8 and clears PARENB on every change, so the
    // size check only completes the rule, and the client's parity (even, on
    // the real line) cannot be seen at all. Stop bits do survive.
    if ((settings.c_cflag & CSIZE) != CS8) Append(problem, "not 8 data bits");
    if ((settings.c_cflag & CSTOPB) != 0) Append(problem, "two stop bits instead of one");
    AppendSetFlags(problem, settings.c_lflag, std::begin(kLocalFlags), std::end(kLocalFlags));
    AppendSetFlags(problem, settings.c_iflag, std::begin(kInputFlags), std::end(kInputFlags));
    AppendSetFlags(problem, settings.c_oflag, std::begin(kOutputFlags), std::end(kOutputFlags));
    return problem;
}

}  // namespace varnox::sim
