// The module functions against the fake layer: bytes on the wire, the reply
// parsing table, the order of the tests, what is stored and what the caller
// gets, and the trace of failed exchanges.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "device/PortTable.h"
#include "device/Protocol.h"
#include "device/VARNOX.h"
#include "tests/support/LibraryFixture.h"
#include "tests/support/TraceText.h"

namespace varnox::test {
namespace {

using Messages = std::vector<std::string>;

// One call of a query function, with its output as text ("" untouched).
struct Outcome {
    std::int32_t code;
    std::string value;
    bool untouched;
};

enum class Fn { kGetInput, kGetOutput, kFwVer, kProdNo, kFwDate, kProdId };

Outcome Query(Fn fn, std::uint16_t portNumber) {
    constexpr std::uint16_t kSentinel16 = 0xBEEF;
    constexpr std::uint32_t kSentinel32 = 0xDEADBEEF;
    std::uint16_t v16 = kSentinel16;
    std::uint32_t v32 = kSentinel32;
    char text[300];
    std::memset(text, '#', sizeof text);
    text[sizeof text - 1] = '\0';
    const std::string untouchedText = text;
    std::int32_t code = 0;
    switch (fn) {
        case Fn::kGetInput: code = VARNOX_GETINPUT(&v16, portNumber); break;
        case Fn::kGetOutput: code = VARNOX_GETOUTPUT(&v16, portNumber); break;
        case Fn::kFwVer: code = VARNOX_FW_VER(&v16, portNumber); break;
        case Fn::kProdNo: code = VARNOX_PROD_NO(&v32, portNumber); break;
        case Fn::kFwDate: code = VARNOX_FW_DATE(text, portNumber); break;
        case Fn::kProdId: code = VARNOX_PROD_ID(text, portNumber); break;
    }
    switch (fn) {
        case Fn::kProdNo: return {code, std::to_string(v32), v32 == kSentinel32};
        case Fn::kFwDate:
        case Fn::kProdId: return {code, text, text == untouchedText};
        default: return {code, std::to_string(v16), v16 == kSentinel16};
    }
}

class DeviceTest : public LibraryTest {
protected:
    void SetUp() override {
        ASSERT_EQ(VARNOX_OPEN(1, 0), 0);
        fake_.ClearCalls();
    }
    std::vector<std::uint32_t> ReadSizes() const {
        std::vector<std::uint32_t> sizes;
        for (const Call& call : fake_.Calls()) {
            if (call.op == Op::kRead) sizes.push_back(call.count);
        }
        return sizes;
    }
};

struct ReplyCase {
    const char* name;
    Fn fn;
    std::string reply;
    std::int32_t code;
    std::string value;  // when code is 0
    std::string sent;
    std::string left = "";  // bytes still waiting afterwards
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
    *os << c.name;
}

class ReplyParsing : public DeviceTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyParsing, GivesCodeAndValue) {
    const ReplyCase& c = GetParam();
    fake_.QueueRead(c.reply);
    device::PortState[0] = 77;
    const Outcome out = Query(c.fn, 0);
    EXPECT_EQ(out.code, c.code);
    EXPECT_EQ(VARNOX_STATE(0), c.code);
    if (c.code == 0) {
        EXPECT_EQ(out.value, c.value);
    } else {
        EXPECT_TRUE(out.untouched) << out.value;
    }
    EXPECT_EQ(fake_.Written(), c.sent);
    const std::string left = fake_.Pending() + std::string(device::PortTable(0).ReceiveBuffer,
                                                           device::PortTable(0).BufferedCount);
    EXPECT_EQ(left, c.left);
}

const std::string k256(256, 'P');

INSTANTIATE_TEST_SUITE_P(
    Table, ReplyParsing,
    ::testing::Values(
        ReplyCase{"InputMax", Fn::kGetInput, "I1F\r", 0, "31", "i\r"},
        ReplyCase{"InputSeven", Fn::kGetInput, "I07\r", 0, "7", "i\r"},
        ReplyCase{"InputLowerCase", Fn::kGetInput, "I1a\r", 0, "26", "i\r"},
        ReplyCase{"InputOneDigit", Fn::kGetInput, "I5\r", 0, "5", "i\r"},
        ReplyCase{"Input32", Fn::kGetInput, "I20\r", -9, "", "i\r"},
        ReplyCase{"InputBlanks", Fn::kGetInput, "I   ", -9, "", "i\r"},
        ReplyCase{"InputNoDigits", Fn::kGetInput, "IZZ\r", -9, "", "i\r"},
        ReplyCase{"InputLetterOnly", Fn::kGetInput, "I", -9, "", "i\r"},
        ReplyCase{"InputNothing", Fn::kGetInput, "", -7, "", "i\r"},
        ReplyCase{"InputWrongLetter", Fn::kGetInput, "O03\rI", -8, "", "i\r", "I"},
        ReplyCase{"InputExtraBytes", Fn::kGetInput, "I01\rI02\r", 0, "1", "i\r", "I02\r"},
        ReplyCase{"Output", Fn::kGetOutput, "O0A\r", 0, "10", "O\r"},
        ReplyCase{"OutputWrongLetter", Fn::kGetOutput, "I0A\r", -8, "", "O\r"},
        ReplyCase{"Version", Fn::kFwVer, "V011E\r", 0, "286", "V\r"},
        ReplyCase{"VersionMax", Fn::kFwVer, "VFFFF\r", 0, "65535", "V\r"},
        ReplyCase{"VersionTooWide", Fn::kFwVer, "V12345", -9, "", "V\r"},
        ReplyCase{"VersionNoDigits", Fn::kFwVer, "V----\r", -9, "", "V\r"},
        ReplyCase{"VersionLetterOnly", Fn::kFwVer, "V", -9, "", "V\r"},
        ReplyCase{"ProductNumber", Fn::kProdNo, "N0012ABCD\r", 0, "1223629", "N\r"},
        ReplyCase{"ProductNumberMax", Fn::kProdNo, "NFFFFFFFF\r", 0, "4294967295", "N\r"},
        ReplyCase{"ProductNumberTooWide", Fn::kProdNo, "N100000001", -9, "", "N\r"},
        ReplyCase{"ProductNumberLetterOnly", Fn::kProdNo, "N", -9, "", "N\r"},
        ReplyCase{"Date", Fn::kFwDate, "DSep 05 2017\r", 0, "Sep 05 2017\r", "D\r"},
        ReplyCase{"DateLetterOnly", Fn::kFwDate, "D", 0, "", "D\r"},
        ReplyCase{"DateWrongLetter", Fn::kFwDate, "Xabcdefghijkl", -8, "", "D\r"},
        ReplyCase{"DateStopsAtNul", Fn::kFwDate, std::string("Dab\0cd", 6), 0, "ab", "D\r"},
        ReplyCase{"Id", Fn::kProdId, "PI/O module\r", 0, "I/O module\r", "P\r"},
        ReplyCase{"IdExactly256", Fn::kProdId, "P" + k256, 0, k256, "P\r"},
        ReplyCase{"IdLonger", Fn::kProdId, "P" + k256 + "rest", 0, k256, "P\r", "rest"}));

TEST_F(DeviceTest, ReplyTextEndsUpInTheSharedBuffer) {
    fake_.QueueRead("P" + k256);
    ASSERT_EQ(Query(Fn::kProdId, 0).code, 0);
    EXPECT_EQ(std::string(device::ReplyBuffer), k256);
    EXPECT_EQ(device::ReplyBuffer[256], '\0');
    EXPECT_EQ(ReadSizes(), (std::vector<std::uint32_t>{1, 256}));
}

TEST_F(DeviceTest, SettingTheOutputSendsTwoDigitsAndReadsNothing) {
    const std::pair<std::uint16_t, const char*> cases[] = {
        {0, "O00\r"}, {9, "O09\r"}, {26, "O1A\r"}, {31, "O1F\r"}};
    for (const auto& [state, wire] : cases) {
        fake_.ClearCalls();
        const std::string before = fake_.Written();
        EXPECT_EQ(VARNOX_SETOUTPUT(state, 0), 0);
        EXPECT_EQ(fake_.Written().substr(before.size()), wire);
        EXPECT_TRUE(ReadSizes().empty());
    }
    for (std::uint16_t bad : {32, 255, 65535}) {
        fake_.ClearCalls();
        EXPECT_EQ(VARNOX_SETOUTPUT(bad, 0), -9);
        EXPECT_EQ(VARNOX_STATE(0), -9);
        EXPECT_TRUE(fake_.Calls().empty());
    }
}

TEST_F(DeviceTest, AutomaticInputSendsTheLetterAndReadsNothing) {
    EXPECT_EQ(VARNOX_AUTOINPUT(0), 0);
    EXPECT_EQ(fake_.Written(), "I\r");
    EXPECT_TRUE(ReadSizes().empty());
}

TEST_F(DeviceTest, OutOfRangeSendsNothingAndStoresNothing) {
    std::uint16_t v16 = 5;
    std::uint32_t v32 = 5;
    char text[300] = "x";
    const std::vector<std::function<std::int32_t(std::uint16_t)>> calls = {
        [&](std::uint16_t p) { return VARNOX_GETINPUT(&v16, p); },
        [&](std::uint16_t p) { return VARNOX_GETOUTPUT(&v16, p); },
        [&](std::uint16_t p) { return VARNOX_CHECKINPUT(&v16, p); },
        [&](std::uint16_t p) { return VARNOX_FW_VER(&v16, p); },
        [&](std::uint16_t p) { return VARNOX_PROD_NO(&v32, p); },
        [&](std::uint16_t p) { return VARNOX_FW_DATE(text, p); },
        [&](std::uint16_t p) { return VARNOX_PROD_ID(text, p); },
        [](std::uint16_t p) { return VARNOX_AUTOINPUT(p); },
        [](std::uint16_t p) { return VARNOX_SETOUTPUT(1, p); },
    };
    fake_.QueueRead("I01\r");
    for (std::uint16_t p : {8, 65535}) {
        for (const auto& call : calls) EXPECT_EQ(call(p), -1) << p;
        EXPECT_EQ(VARNOX_RETINPUT(p), VARNOX_NO_VALUE);
        EXPECT_EQ(VARNOX_RETINPUTDATA(p), VARNOX_NO_VALUE);
        EXPECT_EQ(VARNOX_RETOUTPUT(p), VARNOX_NO_VALUE);
        EXPECT_EQ(VARNOX_STATE(p), -1);
    }
    EXPECT_TRUE(fake_.Calls().empty());
    EXPECT_EQ(v16, 5);
    EXPECT_EQ(v32, 5u);
    EXPECT_STREQ(text, "x");
    for (std::uint16_t slot = 0; slot < 8; ++slot) EXPECT_EQ(VARNOX_STATE(slot), 0);
}

TEST_F(DeviceTest, NeverOpenedSlotFailsOnTheFirstWrite) {
    const std::string file = dir_.File("closed.txt");
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(file.c_str(), 3), 0);
    const Outcome out = Query(Fn::kGetInput, 3);
    EXPECT_EQ(out.code, -6);
    EXPECT_TRUE(out.untouched);
    EXPECT_EQ(VARNOX_STATE(3), -6);
    EXPECT_EQ(VARNOX_IO_STATE(3), 8);
    std::uint16_t state = 9;
    EXPECT_EQ(VARNOX_CHECKINPUT(&state, 3), 1);
    EXPECT_EQ(state, 9);
    EXPECT_EQ(VARNOX_STATE(3), 1);
    ASSERT_EQ(VARNOX_CLOSEDEBUGFILE(3), 0);
    const Messages messages = TraceMessages(ReadFile(file));
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[1], "COMPort::Write-char: Cannot write the port");
    EXPECT_EQ(messages[2], "WriteCommand: Error sending command \\0x69='i'");
}

TEST_F(DeviceTest, EachWriteFailureHasItsOwnEntry) {
    const std::string file = dir_.File("write.txt");
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(file.c_str(), 0), 0);
    // The three writes of 'O', "1F", CR; fail each in turn.
    for (int nth = 1; nth <= 3; ++nth) {
        fake_.FailNext(Op::kWrite, nth);
        EXPECT_EQ(VARNOX_SETOUTPUT(31, 0), -6);
        EXPECT_EQ(VARNOX_STATE(0), -6);
    }
    fake_.ShortWriteNext(1, 2);
    EXPECT_EQ(VARNOX_SETOUTPUT(31, 0), -6);
    EXPECT_EQ(VARNOX_IO_STATE(0), 9);
    ASSERT_EQ(VARNOX_CLOSEDEBUGFILE(0), 0);
    EXPECT_EQ(
        TraceMessages(ReadFile(file)),
        (Messages{
            "File opened by VARNOX_OpenDebugFile", "COMPort::Write-char: Cannot write the port",
            "WriteCommand: Error sending command \\0x4F='O'",
            "COMPort::Write-array: Cannot write the port", "WriteCommand: Error sending data 'O1F'",
            "COMPort::Write-char: Cannot write the port",
            "WriteCommand: Error sending the termination character 'O1F'",
            "COMPort::Write-array: 1 bytes instead of 2 written to the port",
            "WriteCommand: Error sending data 'O1F'", "File closed by VARNOX_CloseDebugFile"}));
}

TEST_F(DeviceTest, FailedReadsAreTracedInOrder) {
    const std::string file = dir_.File("read.txt");
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(file.c_str(), 0), 0);
    EXPECT_EQ(Query(Fn::kGetOutput, 0).code, -7);  // nothing comes
    fake_.QueueRead("O");
    fake_.FailNext(Op::kRead, 2);  // the letter comes, the text read fails
    EXPECT_EQ(Query(Fn::kGetOutput, 0).code, -7);
    ASSERT_EQ(VARNOX_CLOSEDEBUGFILE(0), 0);
    EXPECT_EQ(TraceMessages(ReadFile(file)),
              (Messages{"File opened by VARNOX_OpenDebugFile",
                        "COMPort::Read-char: Less than 1 byte read from the port",
                        "ReadCommand: Error receiving command \\0x3F='?'",
                        "COMPort::Read-array: Cannot read the port",
                        "ReadCommand: Error receiving data 'O'",
                        "File closed by VARNOX_CloseDebugFile"}));
}

TEST_F(DeviceTest, CheckInputCollectsReports) {
    std::uint16_t state = 99;
    fake_.ClearCalls();
    EXPECT_EQ(VARNOX_CHECKINPUT(&state, 0), 1);
    EXPECT_EQ(state, 99);
    EXPECT_EQ(fake_.Written(), "");

    fake_.QueueRead("I01\rI02\rI1F\r");
    for (std::uint16_t expected : {1, 2, 31}) {
        EXPECT_EQ(VARNOX_CHECKINPUT(&state, 0), 0);
        EXPECT_EQ(state, expected);
        EXPECT_EQ(VARNOX_STATE(0), 0);
    }
    EXPECT_EQ(VARNOX_CHECKINPUT(&state, 0), 1);
    EXPECT_EQ(VARNOX_STATE(0), 1);
    EXPECT_STREQ(VARNOX_ERRORMESSAGE(0), "No data is available");
    EXPECT_EQ(fake_.Written(), "");
}

TEST_F(DeviceTest, CheckInputTracesItsOwnFailures) {
    const std::string file = dir_.File("check.txt");
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(file.c_str(), 0), 0);
    std::uint16_t state = 99;
    fake_.QueueRead("I20\rO03\rIZZ\r");
    EXPECT_EQ(VARNOX_CHECKINPUT(&state, 0), -9);
    EXPECT_EQ(VARNOX_CHECKINPUT(&state, 0), -8);
    EXPECT_EQ(VARNOX_STATE(0), -8);
    EXPECT_EQ(VARNOX_CHECKINPUT(&state, 0), -9);
    fake_.QueueRead("I");
    fake_.FailNext(Op::kRead, 2);  // poll fetches the letter, the text read fails
    EXPECT_EQ(VARNOX_CHECKINPUT(&state, 0), -7);
    EXPECT_EQ(state, 99);
    ASSERT_EQ(VARNOX_CLOSEDEBUGFILE(0), 0);
    EXPECT_EQ(
        TraceMessages(ReadFile(file)),
        (Messages{"File opened by VARNOX_OpenDebugFile",
                  "ReadCommand: Wrong argument received: 0020",
                  "ReadCommand: Wrong command received: \\0x4F='O'",
                  "ReadCommand: Wrong argument received: 'ZZ\r'",
                  "COMPort::Read-array: Cannot read the port",
                  "ReadCommand: Error receiving data 'IZZ\r'",
                  "ReadCommand: Error receiving command", "File closed by VARNOX_CloseDebugFile"}));
}

TEST_F(DeviceTest, ValueFunctionsReturnTheStateOrNoValue) {
    fake_.QueueRead("I07\r");
    EXPECT_EQ(VARNOX_RETINPUT(0), 7);
    EXPECT_EQ(VARNOX_STATE(0), 0);
    fake_.QueueRead("O1C\r");
    EXPECT_EQ(VARNOX_RETOUTPUT(0), 28);
    fake_.QueueRead("I03\r");
    EXPECT_EQ(VARNOX_RETINPUTDATA(0), 3);

    EXPECT_EQ(VARNOX_RETINPUTDATA(0), VARNOX_NO_VALUE);
    EXPECT_EQ(VARNOX_STATE(0), 1);
    EXPECT_EQ(VARNOX_RETINPUT(0), VARNOX_NO_VALUE);
    EXPECT_EQ(VARNOX_STATE(0), -7);
    fake_.QueueRead("I40\r");
    EXPECT_EQ(VARNOX_RETOUTPUT(0), VARNOX_NO_VALUE);
    EXPECT_EQ(VARNOX_STATE(0), -8);
}

TEST(PrintableLetter, KeepsTraceLinesIntact) {
    EXPECT_EQ(device::Printable('O'), 'O');
    EXPECT_EQ(device::Printable(' '), ' ');
    EXPECT_EQ(device::Printable('~'), '~');
    for (char c : {'\0', '\r', '\n', '\x7f', '\x80', '\xff'}) EXPECT_EQ(device::Printable(c), '.');
}

}  // namespace
}  // namespace varnox::test
