// The interactive key loop: each pass polls for an input report, shows the
// help hint once, and serves at most one key press.
#include <cstdint>
#include <cstdio>

#include "device/VARNOX.h"
#include "testprog/Console.h"
#include "testprog/KeyDecoder.h"
#include "testprog/Session.h"
#include "testprog/TextUtilities.h"

namespace varnox::testprog {
namespace {

constexpr int kExtendedKey = 256;
constexpr unsigned kIdleWaitMs = 10;

const char kHelpText[] =
    "Press 'z','Z' to purge the communication, 'L'/'l' to start/stop port loopback emulation\n"
    "      'o' to get output, 'O' to set output state,\n"
    "      'i' to get input state, 'I' to get input state automatically,\n"
    "      'd','D' to get firmware date, 'v','V' to get firmware version,\n"
    "      'p','P' to get product identification, 'n','N' to get product number,\n"
    "      'Esc' to stop, '?' for this help...\n";

int Fold(int key) {
    return key >= 'a' && key <= 'z' ? key - 'a' + 'A' : key;
}

void Debug(const Session& s, const char* text) {
    if (s.debugMode) std::fputs(text, stdout);
}

// Step 1 of a pass. False when the pass ends here (a failed loopback echo).
bool Poll(Session& s) {
    std::uint16_t value = 0;
    const std::int32_t result = VARNOX_CHECKINPUT(&value, s.portNumber);
    if (result == VARNOX_OK) {
        if (s.debugMode) {
            std::printf(
                "New input data available at COM%hu attached to the communication port %hu\n",
                s.comNumber, s.portNumber);
        }
        std::printf("Input state received: %hu (%02hXh)\n", value, value);
        if (s.loopbackEmulation) {
            if (s.debugMode) std::printf("Setting output state: %hu (%02hXh)\n", value, value);
            if (VARNOX_SETOUTPUT(value, s.portNumber) != VARNOX_OK) {
                PrintErrorLine(s, "VARNOX_SetOutput");
                return false;
            }
        }
    } else if (result != VARNOX_NO_DATA) {
        PrintErrorLine(s, "VARNOX_CheckAutoInput");
    }
    return true;
}

void SetOutputFromPrompt(const Session& s) {
    char word[80];
    if (!console::ReadWord("Enter new output state: ", word, sizeof word)) return;
    std::uint32_t value = 0;
    if (ParseUnsigned(word, &value) != 0 || value > 31) {
        std::fputs("Wrong value specified\n", stdout);
        return;
    }
    if (s.debugMode) {
        std::printf("Setting output state: %d (%02Xh)\n", static_cast<int>(value),
                    static_cast<unsigned>(value));
    }
    if (VARNOX_SETOUTPUT(static_cast<std::uint16_t>(value), s.portNumber) != VARNOX_OK) {
        PrintErrorLine(s, "VARNOX_SetOutput");
    }
}

void Purge(const Session& s) {
    if (s.debugMode) {
        std::printf("Purging buffers of COM%hu attached to the communication port %hu...\n",
                    s.comNumber, s.portNumber);
    }
    if (VARNOX_PURGE(s.portNumber) != VARNOX_OK) {
        PrintErrorLine(s, "VARNOX_Purge");
    } else if (s.debugMode) {
        std::printf("Buffers of COM%hu attached to the communication port %hu were purged\n",
                    s.comNumber, s.portNumber);
    } else {
        std::fputs("Port purged\n", stdout);
    }
}

// A state query: "<what> state: 7 (07h)" on success.
void QueryState(const Session& s, const char* debugLine, const char* what,
                std::int32_t (*call)(std::uint16_t*, std::uint16_t), const char* operation) {
    Debug(s, debugLine);
    std::uint16_t value = 0;
    if (call(&value, s.portNumber) != VARNOX_OK) {
        PrintErrorLine(s, operation);
        return;
    }
    std::printf("%s state: %d (%02Xh)\n", what, static_cast<int>(value),
                static_cast<unsigned>(value));
}

// A text query: "<label>: <text>" on success.
void QueryText(const Session& s, const char* debugLine, const char* label, char* buffer,
               std::int32_t (*call)(char*, std::uint16_t), const char* operation) {
    Debug(s, debugLine);
    buffer[0] = '\0';
    if (call(buffer, s.portNumber) != VARNOX_OK) {
        PrintErrorLine(s, operation);
        return;
    }
    std::printf("%s: %s\n", label, buffer);
}

void ServeKey(Session& s, int key) {
    if (key == '?') {
        std::fputs(kHelpText, stdout);
        return;
    }
    switch (Fold(key)) {
        case 'L':
            s.loopbackEmulation = key == 'L';
            if (!s.quietMode) {
                std::printf("%s port loopback emulation\n",
                            s.loopbackEmulation ? "Starting" : "Stopping");
            }
            return;
        case 'Z': Purge(s); return;
        case 'D': {
            char date[20];
            QueryText(s, "Getting firmware date:\n", "Firmware date", date, VARNOX_FW_DATE,
                      "VARNOX_FW_Date");
            return;
        }
        case 'V': {
            Debug(s, "Getting firmware version:\n");
            std::uint16_t version = 0;
            if (VARNOX_FW_VER(&version, s.portNumber) != VARNOX_OK) {
                PrintErrorLine(s, "VARNOX_FW_Ver");
                return;
            }
            std::printf("Firmware version: %d-%02d\n", version >> 8, version & 0xFF);
            return;
        }
        case 'P': {
            char id[257];
            QueryText(s, "Getting product identification:\n", "Product identification", id,
                      VARNOX_PROD_ID, "VARNOX_prod_ID");
            return;
        }
        case 'N': {
            Debug(s, "Getting product number:\n");
            std::uint32_t number = 0;
            if (VARNOX_PROD_NO(&number, s.portNumber) != VARNOX_OK) {
                PrintErrorLine(s, "VARNOX_prod_No");
                return;
            }
            std::printf("Product number: %d\n", static_cast<std::int32_t>(number));
            return;
        }
        default: break;
    }
    switch (key) {
        case 'o':
            QueryState(s, "Getting output state:\n", "Output", VARNOX_GETOUTPUT,
                       "VARNOX_GetOutput");
            return;
        case 'O': SetOutputFromPrompt(s); return;
        case 'i':
            QueryState(s, "Getting input state:\n", "Input", VARNOX_GETINPUT, "VARNOX_GetInput");
            return;
        case 'I':
            Debug(s, "Getting input state automatically:\n");
            if (VARNOX_AUTOINPUT(s.portNumber) != VARNOX_OK) PrintErrorLine(s, "VARNOX_AutoInput");
            return;
        default: return;  // not a command
    }
}

}  // namespace

void PrintErrorLine(const Session& s, const char* operation) {
    const char* result = VARNOX_ERRORMESSAGE(s.portNumber);
    const char* io = VARNOX_IO_ERRORMESSAGE(s.portNumber);
    std::printf("Error at %s: %s, I/O Error Message: %s\n", operation, result, io);
}

void RunKeyLoop(Session& s) {
    while (!console::Interrupted()) {
        if (!Poll(s)) continue;
        if (s.helpHintPending && !s.quietMode) std::fputs("Press '?' for help\n", stdout);
        s.helpHintPending = false;
        std::fflush(stdout);
        if (!console::KeyWaiting()) {
            console::SleepMs(kIdleWaitMs);
            continue;
        }
        int key = console::ReadKey();
        if (key == console::kEndOfInput || key == kEscKey) return;
        if (key == 0) key = kExtendedKey + (console::ReadKey() & 0xFF);
        ServeKey(s, key);
        std::fflush(stdout);
    }
}

}  // namespace varnox::testprog
