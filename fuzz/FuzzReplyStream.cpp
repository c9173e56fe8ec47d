// Fuzzes the reply stream of a module. Whatever bytes a module sends, every
// module function must return one of its documented result codes, store the
// code it returns, write the caller's variable or buffer only on success (and
// then within its size, a text with its terminating zero), and consume the
// stream as documented: a reply letter and up to the function's reply length
// of text, any bytes beyond a reply starting the next one.
//
// Input layout:
//   byte 0      bits 0-2 the slot, bit 3 trace into /dev/null, bits 4-7 a
//               fault of the line (0-7: none; see ArmFault)
//   bytes 1, 2  four calls, one per half byte (low half of byte 1 first), made
//               in turn while the module has bytes left, each at least once
//   the rest    the bytes the module sends
//
// On a line without fault a model of the stream predicts each call exactly:
// result, value or text, the command bytes sent and the bytes consumed.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "device/PortTable.h"
#include "device/Protocol.h"
#include "device/VARNOX.h"
#include "fuzz/FuzzCheck.h"
#include "tests/support/FakeSerialLayer.h"

namespace varnox::fuzz {
namespace {

constexpr const char* kTarget = "fuzz_reply_stream";
constexpr std::size_t kHeaderSize = 3;
constexpr unsigned kCallsPerRound = 4;
constexpr unsigned kMaxCalls = 64;
constexpr std::uint16_t kNoValue = VARNOX_NO_VALUE;
constexpr std::uint32_t kStateMax = 31;

constexpr unsigned char kCanary = 0xC3;
constexpr unsigned char kFill = 0xA5;

// The caller's variable between canary bytes, filled with a pattern no
// function may leave changed unless it succeeds.
template <typename T>
struct GuardedValue {
    GuardedValue() {
        std::memset(before, kCanary, sizeof before);
        std::memset(&value, kFill, sizeof value);
        std::memset(after, kCanary, sizeof after);
    }
    bool CanariesIntact() const {
        for (std::size_t i = 0; i < sizeof before; ++i) {
            if (before[i] != kCanary || after[i] != kCanary) return false;
        }
        return true;
    }
    bool Untouched() const {
        T pattern;
        std::memset(&pattern, kFill, sizeof pattern);
        return value == pattern;
    }
    unsigned char before[8];
    T value;
    unsigned char after[8];
};

// A caller's text buffer of exactly the documented size between canaries.
template <std::size_t N>
struct GuardedText {
    GuardedText() {
        std::memset(before, kCanary, sizeof before);
        std::memset(bytes, kFill, sizeof bytes);
        std::memset(after, kCanary, sizeof after);
    }
    bool CanariesIntact() const {
        for (std::size_t i = 0; i < sizeof before; ++i) {
            if (before[i] != kCanary || after[i] != kCanary) return false;
        }
        return true;
    }
    bool Untouched() const {
        for (unsigned char byte : bytes) {
            if (byte != kFill) return false;
        }
        return true;
    }
    char* Out() { return reinterpret_cast<char*>(bytes); }
    unsigned char before[8];
    unsigned char bytes[N];
    unsigned char after[8];
};

// The text VARNOX_ERRORMESSAGE documents for a code, from the public list.
#define VARNOX_FUZZ_CODE_TEXT(name, value, text) {value, text},
struct CodeText {
    std::int32_t code;
    const char* text;
};
constexpr CodeText kCodeTexts[] = {VARNOX_RESULT_CODE_LIST(VARNOX_FUZZ_CODE_TEXT)};
#undef VARNOX_FUZZ_CODE_TEXT

const char* DocumentedText(std::int32_t code) {
    for (const CodeText& row : kCodeTexts) {
        if (row.code == code) return row.text;
    }
    return "Unknown error";
}

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The reply text read as a hexadecimal number the way strtoull reads it
// (white space, a sign, a 0x prefix only where a digit follows it), refused
// when no digit came, when it overflows 64 bits, or when it exceeds `max`.
bool ModelHex(const std::string& text, std::uint32_t max, std::uint32_t& value) {
    const char* p = text.c_str();
    while (IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigit(p[2]) >= 0) p += 2;
    if (HexDigit(*p) < 0) return false;
    std::uint64_t magnitude = 0;
    for (; HexDigit(*p) >= 0; ++p) {
        if (magnitude > (UINT64_MAX >> 4)) return false;
        magnitude = magnitude * 16 + static_cast<std::uint64_t>(HexDigit(*p));
    }
    const std::uint64_t converted = negative ? 0 - magnitude : magnitude;
    if (converted > max) return false;
    value = static_cast<std::uint32_t>(converted);
    return true;
}

// What the module has sent and how far the calls so far have read it.
class StreamModel {
public:
    StreamModel(const std::uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    struct Reply {
        std::int32_t result;
        std::string text;  // up to its first zero, as the library's strings see it
    };

    std::size_t Remaining() const { return size_ - position_; }
    bool HasData() const { return position_ < size_; }
    void Purge() { position_ = size_; }

    // A reply letter, then up to `length` bytes of text, however few came.
    Reply Read(char expectedLetter, std::uint32_t length) {
        if (!HasData()) return {VARNOX_ERROR_RECEIVE, ""};
        const auto letter = static_cast<char>(bytes_[position_++]);
        const std::size_t count = Remaining() < length ? Remaining() : length;
        const char* start = reinterpret_cast<const char*>(bytes_ + position_);
        position_ += count;
        if (letter != expectedLetter) return {VARNOX_ERROR_WRONG_COMMAND, ""};
        return {VARNOX_OK, std::string(start, strnlen(start, count))};
    }

private:
    const std::uint8_t* bytes_;
    std::size_t size_;
    std::size_t position_ = 0;
};

enum class Call : std::uint8_t {
    kGetInput,
    kGetOutput,
    kFirmwareVersion,
    kFirmwareDate,
    kProductId,
    kProductNumber,
    kCheckInput,
    kSetOutput,
    kAutoInput,
    kRetInput,
    kRetInputData,
    kRetOutput,
    kPurge,
    kOutOfRange,
    kCheckInputAgain,
    kMessages,
};

struct QuerySpec {
    const char* name;
    char command;
    char reply;
    std::uint32_t length;
    std::uint32_t max;  // of the hexadecimal value
};

constexpr QuerySpec kGetInput{"VARNOX_GETINPUT", 'i', 'I', 3, kStateMax};
constexpr QuerySpec kGetOutput{"VARNOX_GETOUTPUT", 'O', 'O', 3, kStateMax};
constexpr QuerySpec kFirmwareVersion{"VARNOX_FW_VER", 'V', 'V', 5, 0xFFFF};
constexpr QuerySpec kProductNumber{"VARNOX_PROD_NO", 'N', 'N', 9, 0xFFFFFFFFu};
constexpr QuerySpec kFirmwareDate{"VARNOX_FW_DATE", 'D', 'D', 12, 0};
constexpr QuerySpec kProductId{"VARNOX_PROD_ID", 'P', 'P', 256, 0};

// The query codes the header documents for a slot in range.
constexpr std::int32_t kValueQueryCodes[] = {VARNOX_OK, VARNOX_ERROR_SEND, VARNOX_ERROR_RECEIVE,
                                             VARNOX_ERROR_WRONG_COMMAND,
                                             VARNOX_ERROR_WRONG_ARGUMENT};
// A text reply holds no number, so it cannot be a wrong argument.
constexpr std::int32_t kTextQueryCodes[] = {VARNOX_OK, VARNOX_ERROR_SEND, VARNOX_ERROR_RECEIVE,
                                            VARNOX_ERROR_WRONG_COMMAND};
constexpr std::int32_t kCheckInputCodes[] = {VARNOX_NO_DATA, VARNOX_OK, VARNOX_ERROR_RECEIVE,
                                             VARNOX_ERROR_WRONG_COMMAND,
                                             VARNOX_ERROR_WRONG_ARGUMENT};
constexpr std::int32_t kSendCodes[] = {VARNOX_OK, VARNOX_ERROR_SEND};
constexpr std::int32_t kWrongArgumentCode[] = {VARNOX_ERROR_WRONG_ARGUMENT};
constexpr std::int32_t kPurgeCodes[] = {VARNOX_OK, VARNOX_ERROR_PURGE};

template <std::size_t N>
bool IsOneOf(std::int32_t code, const std::int32_t (&codes)[N]) {
    for (std::int32_t allowed : codes) {
        if (code == allowed) return true;
    }
    return false;
}

// What a call is expected to do, as far as it is known.
struct Expectation {
    bool known = false;  // result and value predicted (a line without fault)
    std::int32_t result = 0;
    std::uint32_t value = 0;
    std::string text;
    std::string command;  // the bytes the call sends
};

class Session {
public:
    Session(const std::uint8_t* data, std::size_t size)
        : config_(data[0]),
          slot_(static_cast<std::uint16_t>(data[0] & 7)),
          clean_((data[0] >> 4) < 8),
          streamBytes_(data + kHeaderSize),
          streamSize_(size - kHeaderSize),
          stream_(streamBytes_, streamSize_),
          scoped_(fake_) {
        ResetLibrary();
        for (unsigned i = 0; i < kCallsPerRound; ++i) {
            const std::uint8_t byte = data[1 + i / 2];
            calls_[i] = static_cast<Call>(i % 2 == 0 ? byte & 0x0F : byte >> 4);
        }
    }
    ~Session() { ResetLibrary(); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void Run() {
        if ((config_ & 8) != 0) {
            const std::int32_t traced = VARNOX_OPENDEBUGFILE("/dev/null", slot_);
            if (traced != VARNOX_OK) {
                Fail(kTarget, "VARNOX_OPENDEBUGFILE(\"/dev/null\", %u) returned %d, not 0", slot_,
                     traced);
            }
        }
        const std::int32_t opened = VARNOX_OPEN(1, slot_);
        if (opened != VARNOX_OK) {
            Fail(kTarget, "VARNOX_OPEN(1, %u) on the fake line returned %d, not 0", slot_, opened);
        }
        // Queued after the open, whose purge would discard it.
        fake_.QueueRead(std::string(reinterpret_cast<const char*>(streamBytes_), streamSize_));
        ArmFault(config_ >> 4);
        for (unsigned index = 0; index < kMaxCalls; ++index) {
            if (index >= kCallsPerRound && Remaining() == 0) break;
            Step(index, calls_[index % kCallsPerRound]);
        }
    }

private:
    struct Snapshot {
        std::size_t written;
        std::size_t remaining;
        std::int32_t states[device::kSlotCount];
    };

    // Closes every slot, ends every trace and clears what a slot keeps, so
    // every input starts from the state after load.
    void ResetLibrary() {
        for (std::uint16_t slot = 0; slot < device::kSlotCount; ++slot) {
            VARNOX_CLOSEDEBUGFILE(slot);
            VARNOX_CLOSE(slot);
            device::PortTable(slot).BufferedCount = 0;
            device::PortState[slot] = VARNOX_OK;
        }
        std::memset(device::ReplyBuffer, 0, sizeof device::ReplyBuffer);
    }

    // Half the inputs run on a line without fault; the others fail a read or
    // a write somewhere along the calls, or report a short write.
    void ArmFault(unsigned fault) {
        using test::Op;
        switch (fault) {
            case 8: fake_.FailNext(Op::kRead, 1); break;
            case 9: fake_.FailNext(Op::kRead, 2); break;
            case 10: fake_.FailNext(Op::kRead, 3); break;
            case 11: fake_.FailAlways(Op::kRead); break;
            case 12: fake_.FailNext(Op::kWrite, 1); break;
            case 13: fake_.FailNext(Op::kWrite, 3); break;
            case 14: fake_.ShortWriteNext(0, 1); break;
            case 15:
                fake_.FailNext(Op::kPurge, 1);
                fake_.FailNext(Op::kWrite, 2);
                break;
            default: break;
        }
    }

    // Bytes the module sent that no call has consumed yet.
    std::size_t Remaining() const {
        return fake_.Pending().size() + device::PortTable(slot_).BufferedCount;
    }

    Snapshot Take() const {
        Snapshot s{fake_.Written().size(), Remaining(), {}};
        for (std::uint16_t slot = 0; slot < device::kSlotCount; ++slot) {
            s.states[slot] = VARNOX_STATE(slot);
        }
        return s;
    }

    // The part every call shares: the stored code, the other slots, the bytes
    // sent and consumed.
    template <std::size_t N>
    void CheckCall(const char* name, std::int32_t result, const std::int32_t (&codes)[N],
                   const Expectation& expected, const Snapshot& before) {
        if (!IsOneOf(result, codes)) {
            Fail(kTarget, "%s on slot %u gave %d, which is not one of its documented codes", name,
                 slot_, result);
        }
        if (VARNOX_STATE(slot_) != result) {
            Fail(kTarget, "%s gave %d but VARNOX_STATE(%u) is %d", name, result, slot_,
                 VARNOX_STATE(slot_));
        }
        for (std::uint16_t slot = 0; slot < device::kSlotCount; ++slot) {
            if (slot != slot_ && VARNOX_STATE(slot) != before.states[slot]) {
                Fail(kTarget, "%s on slot %u changed VARNOX_STATE of slot %u from %d to %d", name,
                     slot_, slot, before.states[slot], VARNOX_STATE(slot));
            }
        }
        const std::int32_t ioState = VARNOX_IO_STATE(slot_);
        if (ioState < 0 || ioState > 11) {
            Fail(kTarget, "after %s VARNOX_IO_STATE(%u) is %d, outside 0..11", name, slot_,
                 ioState);
        }
        const std::string sent = fake_.Written().substr(before.written);
        const bool prefix = sent.size() <= expected.command.size() &&
                            expected.command.compare(0, sent.size(), sent) == 0;
        if (!prefix || (clean_ && sent != expected.command)) {
            Fail(kTarget, "%s sent %s instead of %s", name, Quoted(sent).c_str(),
                 Quoted(expected.command).c_str());
        }
        if (Remaining() > before.remaining) {
            Fail(kTarget, "%s left %zu unread bytes where %zu were before", name, Remaining(),
                 before.remaining);
        }
        if (!clean_) return;
        if (expected.known && result != expected.result) {
            Fail(kTarget, "%s gave %d where the reply stream calls for %d", name, result,
                 expected.result);
        }
        if (Remaining() != stream_.Remaining()) {
            Fail(kTarget, "%s left %zu unread bytes where the reply stream calls for %zu", name,
                 Remaining(), stream_.Remaining());
        }
    }

    // Predicts a query on a line without fault: its reply, then its value.
    Expectation PredictQuery(const QuerySpec& query) {
        Expectation e;
        e.command = std::string(1, query.command) + "\r";
        if (!clean_) return e;
        e.known = true;
        const StreamModel::Reply reply = stream_.Read(query.reply, query.length);
        e.result = reply.result;
        e.text = reply.text;
        if (e.result == VARNOX_OK && query.max != 0 && !ModelHex(reply.text, query.max, e.value)) {
            e.result = VARNOX_ERROR_WRONG_ARGUMENT;
        }
        return e;
    }

    Expectation PredictCheckInput() {
        Expectation e;
        if (!clean_) return e;
        e.known = true;
        if (!stream_.HasData()) {
            e.result = VARNOX_NO_DATA;
            return e;
        }
        const StreamModel::Reply reply = stream_.Read('I', 3);
        e.result = reply.result;
        if (e.result == VARNOX_OK && !ModelHex(reply.text, kStateMax, e.value)) {
            e.result = VARNOX_ERROR_WRONG_ARGUMENT;
        }
        return e;
    }

    template <typename T, std::size_t N>
    void CheckValue(const char* name, std::int32_t result, const GuardedValue<T>& out,
                    std::uint32_t max, const Expectation& expected, const std::int32_t (&codes)[N],
                    const Snapshot& before) {
        CheckCall(name, result, codes, expected, before);
        if (!out.CanariesIntact()) Fail(kTarget, "%s wrote beyond its variable", name);
        if (result != VARNOX_OK) {
            if (!out.Untouched())
                Fail(kTarget, "%s gave %d but changed its variable", name, result);
            return;
        }
        if (out.value > max) {
            Fail(kTarget, "%s gave state %lu, above %lu", name,
                 static_cast<unsigned long>(out.value), static_cast<unsigned long>(max));
        }
        if (expected.known && out.value != expected.value) {
            Fail(kTarget, "%s delivered %lu where the reply calls for %lu", name,
                 static_cast<unsigned long>(out.value), static_cast<unsigned long>(expected.value));
        }
    }

    template <typename T>
    void ValueQuery(const QuerySpec& query, std::int32_t (*function)(T*, std::uint16_t)) {
        const Snapshot before = Take();
        const Expectation expected = PredictQuery(query);
        GuardedValue<T> out;
        const std::int32_t result = function(&out.value, slot_);
        CheckValue(query.name, result, out, query.max, expected, kValueQueryCodes, before);
    }

    template <std::size_t N>
    void TextQuery(const QuerySpec& query, std::int32_t (*function)(char*, std::uint16_t)) {
        const Snapshot before = Take();
        const Expectation expected = PredictQuery(query);
        GuardedText<N> out;
        const std::int32_t result = function(out.Out(), slot_);
        CheckCall(query.name, result, kTextQueryCodes, expected, before);
        if (!out.CanariesIntact()) {
            Fail(kTarget, "%s wrote beyond its %zu-byte buffer", query.name, N);
        }
        if (result != VARNOX_OK) {
            if (!out.Untouched()) {
                Fail(kTarget, "%s gave %d but changed its buffer", query.name, result);
            }
            return;
        }
        if (std::memchr(out.bytes, '\0', N) == nullptr) {
            Fail(kTarget, "%s succeeded without a terminating zero within %zu bytes", query.name,
                 N);
        }
        if (expected.known && expected.text != out.Out()) {
            Fail(kTarget, "%s delivered %s where the reply calls for %s", query.name,
                 Quoted(out.Out(), std::strlen(out.Out())).c_str(), Quoted(expected.text).c_str());
        }
    }

    void CheckInput(const char* name) {
        const Snapshot before = Take();
        const Expectation expected = PredictCheckInput();
        GuardedValue<std::uint16_t> out;
        const std::int32_t result = VARNOX_CHECKINPUT(&out.value, slot_);
        CheckValue(name, result, out, kStateMax, expected, kCheckInputCodes, before);
    }

    // A value function: the state itself, or VARNOX_NO_VALUE, with the code
    // left in VARNOX_STATE.
    void ReturnedValue(const char* name, std::uint16_t (*function)(std::uint16_t),
                       const Expectation& expected, const Snapshot& before, bool reportsNoData) {
        const std::uint16_t value = function(slot_);
        const std::int32_t code = VARNOX_STATE(slot_);
        if (reportsNoData) {
            CheckCall(name, code, kCheckInputCodes, expected, before);
        } else {
            CheckCall(name, code, kValueQueryCodes, expected, before);
        }
        if (code != VARNOX_OK && value != kNoValue) {
            Fail(kTarget, "%s returned %u although VARNOX_STATE is %d", name, value, code);
        }
        if (code == VARNOX_OK && value > kStateMax) {
            Fail(kTarget, "%s returned %u with VARNOX_STATE 0", name, value);
        }
        if (code == VARNOX_OK && expected.known && value != expected.value) {
            Fail(kTarget, "%s returned %u where the reply calls for %lu", name, value,
                 static_cast<unsigned long>(expected.value));
        }
    }

    void SetOutput(unsigned index) {
        std::uint16_t state = static_cast<std::uint16_t>((index * 7 + config_) % 40);
        if ((index + config_) % 11 == 10) state = static_cast<std::uint16_t>(0xFFFF - index);
        const Snapshot before = Take();
        Expectation e;
        e.known = clean_;
        if (state <= kStateMax) {
            char command[8];
            std::snprintf(command, sizeof command, "O%02X\r", static_cast<unsigned>(state));
            e.command = command;
        } else {
            e.known = true;
            e.result = VARNOX_ERROR_WRONG_ARGUMENT;
        }
        const std::int32_t result = VARNOX_SETOUTPUT(state, slot_);
        if (state <= kStateMax) {
            CheckCall("VARNOX_SETOUTPUT", result, kSendCodes, e, before);
        } else {
            CheckCall("VARNOX_SETOUTPUT", result, kWrongArgumentCode, e, before);
        }
    }

    void Messages() {
        const std::int32_t state = VARNOX_STATE(slot_);
        const char* text = VARNOX_ERRORMESSAGE(slot_);
        if (text == nullptr || std::strcmp(text, DocumentedText(state)) != 0) {
            Fail(kTarget, "VARNOX_ERRORMESSAGE(%u) for code %d is \"%s\", not \"%s\"", slot_, state,
                 text != nullptr ? text : "(null)", DocumentedText(state));
        }
        const std::int32_t ioState = VARNOX_IO_STATE(slot_);
        const char* ioText = VARNOX_IO_ERRORMESSAGE(slot_);
        if (ioText == nullptr || *ioText == '\0' || std::strcmp(ioText, "Unknown error") == 0) {
            Fail(kTarget, "VARNOX_IO_ERRORMESSAGE(%u) for ErrorState %d has no text of its own",
                 slot_, ioState);
        }
        if (VARNOX_STATE(slot_) != state) {
            Fail(kTarget, "the message functions changed VARNOX_STATE(%u) from %d to %d", slot_,
                 state, VARNOX_STATE(slot_));
        }
    }

    // A call on a slot number out of range: -1 (or VARNOX_NO_VALUE, or the
    // out-of-range text), and no other effect at all.
    void OutOfRange(unsigned index) {
        static constexpr std::uint16_t kPorts[] = {8, 9, 255, 0x8000, 0xFFFF};
        const std::uint16_t port = kPorts[index % 5];
        const Snapshot before = Take();
        const char* name = "";
        std::int32_t result = VARNOX_PORTNUMBER_OUT_OF_RANGE;
        bool untouched = true;
        GuardedValue<std::uint16_t> state;
        GuardedValue<std::uint32_t> number;
        GuardedText<257> text;
        const char* message = "PortNumber out of range";
        switch (index % 21) {
            case 0:
                name = "VARNOX_GETINPUT";
                result = VARNOX_GETINPUT(&state.value, port);
                break;
            case 1:
                name = "VARNOX_GETOUTPUT";
                result = VARNOX_GETOUTPUT(&state.value, port);
                break;
            case 2:
                name = "VARNOX_FW_VER";
                result = VARNOX_FW_VER(&state.value, port);
                break;
            case 3:
                name = "VARNOX_FW_DATE";
                result = VARNOX_FW_DATE(text.Out(), port);
                break;
            case 4:
                name = "VARNOX_PROD_ID";
                result = VARNOX_PROD_ID(text.Out(), port);
                break;
            case 5:
                name = "VARNOX_PROD_NO";
                result = VARNOX_PROD_NO(&number.value, port);
                break;
            case 6:
                name = "VARNOX_CHECKINPUT";
                result = VARNOX_CHECKINPUT(&state.value, port);
                break;
            case 7:
                name = "VARNOX_SETOUTPUT";
                result = VARNOX_SETOUTPUT(5, port);
                break;
            case 8:
                name = "VARNOX_AUTOINPUT";
                result = VARNOX_AUTOINPUT(port);
                break;
            case 9:
                name = "VARNOX_PURGE";
                result = VARNOX_PURGE(port);
                break;
            case 10:
                name = "VARNOX_OPEN";
                result = VARNOX_OPEN(1, port);
                break;
            case 11:
                name = "VARNOX_CLOSE";
                result = VARNOX_CLOSE(port);
                break;
            case 12:
                name = "VARNOX_OPENDEBUGFILE";
                result = VARNOX_OPENDEBUGFILE("/dev/null", port);
                break;
            case 13:
                name = "VARNOX_CLOSEDEBUGFILE";
                result = VARNOX_CLOSEDEBUGFILE(port);
                break;
            case 14:
                name = "VARNOX_STATE";
                result = VARNOX_STATE(port);
                break;
            case 15:
                name = "VARNOX_IO_STATE";
                result = VARNOX_IO_STATE(port);
                break;
            case 16:
                name = "VARNOX_RETINPUT";
                untouched = VARNOX_RETINPUT(port) == kNoValue;
                break;
            case 17:
                name = "VARNOX_RETINPUTDATA";
                untouched = VARNOX_RETINPUTDATA(port) == kNoValue;
                break;
            case 18:
                name = "VARNOX_RETOUTPUT";
                untouched = VARNOX_RETOUTPUT(port) == kNoValue;
                break;
            case 19:
                name = "VARNOX_ERRORMESSAGE";
                message = VARNOX_ERRORMESSAGE(port);
                break;
            default:
                name = "VARNOX_IO_ERRORMESSAGE";
                message = VARNOX_IO_ERRORMESSAGE(port);
                break;
        }
        if (result != VARNOX_PORTNUMBER_OUT_OF_RANGE || !untouched || message == nullptr ||
            std::strcmp(message, "PortNumber out of range") != 0) {
            Fail(kTarget, "%s with PortNumber %u did not report the slot out of range", name, port);
        }
        if (!state.CanariesIntact() || !state.Untouched() || !number.CanariesIntact() ||
            !number.Untouched() || !text.CanariesIntact() || !text.Untouched()) {
            Fail(kTarget, "%s with PortNumber %u changed the caller's variable", name, port);
        }
        if (fake_.Written().size() != before.written || Remaining() != before.remaining) {
            Fail(kTarget, "%s with PortNumber %u touched the open port", name, port);
        }
        for (std::uint16_t slot = 0; slot < device::kSlotCount; ++slot) {
            if (VARNOX_STATE(slot) != before.states[slot]) {
                Fail(kTarget, "%s with PortNumber %u changed VARNOX_STATE of slot %u", name, port,
                     slot);
            }
        }
    }

    void Step(unsigned index, Call call) {
        switch (call) {
            case Call::kGetInput: ValueQuery(kGetInput, VARNOX_GETINPUT); break;
            case Call::kGetOutput: ValueQuery(kGetOutput, VARNOX_GETOUTPUT); break;
            case Call::kFirmwareVersion: ValueQuery(kFirmwareVersion, VARNOX_FW_VER); break;
            case Call::kProductNumber: ValueQuery(kProductNumber, VARNOX_PROD_NO); break;
            case Call::kFirmwareDate: TextQuery<13>(kFirmwareDate, VARNOX_FW_DATE); break;
            case Call::kProductId: TextQuery<257>(kProductId, VARNOX_PROD_ID); break;
            case Call::kCheckInput: CheckInput("VARNOX_CHECKINPUT"); break;
            case Call::kCheckInputAgain: CheckInput("VARNOX_CHECKINPUT"); break;
            case Call::kSetOutput: SetOutput(index); break;
            case Call::kAutoInput: {
                const Snapshot before = Take();
                Expectation e;
                e.known = clean_;
                e.command = "I\r";
                CheckCall("VARNOX_AUTOINPUT", VARNOX_AUTOINPUT(slot_), kSendCodes, e, before);
                break;
            }
            case Call::kRetInput: {
                const Snapshot before = Take();
                const Expectation e = PredictQuery(kGetInput);
                ReturnedValue("VARNOX_RETINPUT", VARNOX_RETINPUT, e, before, false);
                break;
            }
            case Call::kRetOutput: {
                const Snapshot before = Take();
                const Expectation e = PredictQuery(kGetOutput);
                ReturnedValue("VARNOX_RETOUTPUT", VARNOX_RETOUTPUT, e, before, false);
                break;
            }
            case Call::kRetInputData: {
                const Snapshot before = Take();
                const Expectation e = PredictCheckInput();
                ReturnedValue("VARNOX_RETINPUTDATA", VARNOX_RETINPUTDATA, e, before, true);
                break;
            }
            case Call::kPurge: {
                const Snapshot before = Take();
                Expectation e;
                e.known = clean_;
                stream_.Purge();
                CheckCall("VARNOX_PURGE", VARNOX_PURGE(slot_), kPurgeCodes, e, before);
                break;
            }
            case Call::kOutOfRange: OutOfRange(index); break;
            case Call::kMessages: Messages(); break;
        }
    }

    const std::uint8_t config_;
    const std::uint16_t slot_;
    const bool clean_;
    const std::uint8_t* const streamBytes_;
    const std::size_t streamSize_;
    StreamModel stream_;
    Call calls_[kCallsPerRound] = {};
    test::FakeSerialLayer fake_;
    test::ScopedLayer scoped_;
};

}  // namespace
}  // namespace varnox::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < varnox::fuzz::kHeaderSize) return 0;
    varnox::fuzz::Session session(data, size);
    session.Run();
    return 0;
}
