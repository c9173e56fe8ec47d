#include "device/Protocol.h"

#include <cstring>

#include "device/PortTable.h"
#include "serial/TraceEntry.h"

namespace varnox::device {

char ReplyBuffer[kMaxReplyLength + 1];

namespace {
constexpr char kTermination = 13;
}

char Printable(char letter) {
    const auto code = static_cast<unsigned char>(letter);
    return code >= 0x20 && code < 0x7F ? letter : '.';
}

bool WriteCommand(std::uint16_t portNumber, char letter, const char* argument) {
    COMPort& port = PortTable(portNumber);
    if (!port.Write(letter)) {
        serial::WriteTraceEntry(port, "WriteCommand: Error sending command \\0x%02X='%c'\n",
                                static_cast<unsigned char>(letter), Printable(letter));
        return false;
    }
    if (!port.Write(argument, static_cast<unsigned int>(std::strlen(argument)))) {
        serial::WriteTraceEntry(port, "WriteCommand: Error sending data '%c%s'\n",
                                Printable(letter), argument);
        return false;
    }
    if (!port.Write(kTermination)) {
        serial::WriteTraceEntry(port,
                                "WriteCommand: Error sending the termination character '%c%s'\n",
                                Printable(letter), argument);
        return false;
    }
    return true;
}

bool ReadCommand(std::uint16_t portNumber, char& letter, std::uint32_t replyLength) {
    COMPort& port = PortTable(portNumber);
    letter = kNoLetter;
    if (!port.Read(letter)) {
        serial::WriteTraceEntry(port, "ReadCommand: Error receiving command \\0x%02X='%c'\n",
                                static_cast<unsigned char>(letter), Printable(letter));
        return false;
    }
    unsigned long count = replyLength;
    if (!port.Read(ReplyBuffer, count)) {
        serial::WriteTraceEntry(port, "ReadCommand: Error receiving data '%c%s'\n",
                                Printable(letter), ReplyBuffer);
        return false;
    }
    return true;
}

}  // namespace varnox::device
