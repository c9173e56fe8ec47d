// The port table and connection functions: range rule, stored results,
// result texts and the thread notifications.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "device/LibraryEntry.h"
#include "device/PortTable.h"
#include "device/VARNOX.h"
#include "tests/support/LibraryFixture.h"
#include "tests/support/TraceText.h"

namespace varnox::test {
namespace {

using Messages = std::vector<std::string>;

TEST_F(LibraryTest, SlotsAfterLoad) {
    for (std::uint16_t slot = 0; slot < 8; ++slot) {
        EXPECT_EQ(VARNOX_STATE(slot), 0);
        EXPECT_STREQ(VARNOX_ERRORMESSAGE(slot), "No error");
        EXPECT_EQ(VARNOX_IO_STATE(slot), 1);
        EXPECT_STREQ(VARNOX_IO_ERRORMESSAGE(slot), "Port has not been opened yet");
    }
    EXPECT_EQ(VARNOX_VERSION(), 0x011E);
}

TEST_F(LibraryTest, OutOfRangePortNumberChangesNothing) {
    const std::string file = dir_.File("never.txt");
    const std::vector<std::pair<const char*, std::function<std::int32_t(std::uint16_t)>>> codes = {
        {"OPEN", [](std::uint16_t p) { return VARNOX_OPEN(1, p); }},
        {"CLOSE", VARNOX_CLOSE},
        {"PURGE", VARNOX_PURGE},
        {"STATE", VARNOX_STATE},
        {"IO_STATE", VARNOX_IO_STATE},
        {"OPENDEBUGFILE", [&](std::uint16_t p) { return VARNOX_OPENDEBUGFILE(file.c_str(), p); }},
        {"CLOSEDEBUGFILE", VARNOX_CLOSEDEBUGFILE},
    };
    const std::vector<std::pair<const char*, std::function<const char*(std::uint16_t)>>> texts = {
        {"ERRORMESSAGE", VARNOX_ERRORMESSAGE},
        {"IO_ERRORMESSAGE", VARNOX_IO_ERRORMESSAGE},
    };
    for (std::uint16_t slot = 0; slot < 8; ++slot) device::PortState[slot] = 100 + slot;

    for (std::uint16_t portNumber : {8, 9, 255, 65535}) {
        for (const auto& [name, call] : codes) {
            EXPECT_EQ(call(portNumber), -1) << name << " " << portNumber;
        }
        for (const auto& [name, call] : texts) {
            EXPECT_STREQ(call(portNumber), "PortNumber out of range") << name << " " << portNumber;
        }
    }
    for (std::uint16_t slot = 0; slot < 8; ++slot) EXPECT_EQ(device::PortState[slot], 100 + slot);
    EXPECT_TRUE(fake_.Calls().empty());
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(LibraryTest, OpenPurgeCloseStoreTheirResults) {
    EXPECT_EQ(VARNOX_OPEN(2, 5), 0);
    EXPECT_EQ(VARNOX_IO_STATE(5), 0);
    EXPECT_EQ(fake_.Calls()[0].text, "\\\\.\\COM2");
    device::PortState[5] = -9;
    EXPECT_EQ(VARNOX_PURGE(5), 0);
    EXPECT_EQ(VARNOX_STATE(5), 0);

    // A second open of the slot fails and leaves the first one usable.
    EXPECT_EQ(VARNOX_OPEN(2, 5), -3);
    EXPECT_EQ(VARNOX_STATE(5), -3);
    EXPECT_STREQ(VARNOX_ERRORMESSAGE(5), "Error opening the port");
    EXPECT_EQ(VARNOX_IO_STATE(5), 2);
    EXPECT_STREQ(VARNOX_IO_ERRORMESSAGE(5), "Cannot open the port");
    EXPECT_EQ(VARNOX_PURGE(5), 0);

    EXPECT_EQ(VARNOX_CLOSE(5), 0);
    EXPECT_EQ(VARNOX_STATE(5), 0);
    EXPECT_EQ(VARNOX_CLOSE(5), -4);
    EXPECT_EQ(VARNOX_STATE(5), -4);
    EXPECT_EQ(VARNOX_IO_STATE(5), 1);
}

TEST_F(LibraryTest, OneDeviceInTwoSlotsIsRefused) {
    EXPECT_EQ(VARNOX_OPEN(4, 0), 0);
    EXPECT_EQ(VARNOX_OPEN(4, 1), -3);
    EXPECT_EQ(VARNOX_IO_STATE(1), 2);
    EXPECT_EQ(VARNOX_STATE(0), 0);
}

TEST_F(LibraryTest, FailedConfigurationKeepsTheDeviceUntilClose) {
    fake_.FailNext(Op::kSetState);
    EXPECT_EQ(VARNOX_OPEN(1, 3), -3);
    EXPECT_EQ(VARNOX_IO_STATE(3), 4);
    EXPECT_TRUE(fake_.Held("\\\\.\\COM1"));
    EXPECT_EQ(VARNOX_OPEN(1, 3), -3);
    EXPECT_EQ(VARNOX_IO_STATE(3), 2);
    EXPECT_EQ(VARNOX_CLOSE(3), 0);
    EXPECT_EQ(VARNOX_OPEN(1, 3), 0);
}

TEST_F(LibraryTest, CloseFailures) {
    ASSERT_EQ(VARNOX_OPEN(1, 0), 0);
    fake_.FailNext(Op::kClose);
    EXPECT_EQ(VARNOX_CLOSE(0), -4);
    EXPECT_EQ(VARNOX_IO_STATE(0), 0);  // released all the same
    EXPECT_FALSE(fake_.Held("\\\\.\\COM1"));

    ASSERT_EQ(VARNOX_OPEN(1, 0), 0);
    fake_.FailEscape(serial::Escape::kClearRts);
    EXPECT_EQ(VARNOX_CLOSE(0), -4);
    EXPECT_EQ(VARNOX_IO_STATE(0), 10);  // lines not reset: still open
    EXPECT_EQ(VARNOX_PURGE(0), 0);
}

TEST_F(LibraryTest, PurgeOfAClosedSlotTracesTwice) {
    const std::string file = dir_.File("purge.txt");
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(file.c_str(), 6), 0);
    device::PortTable(6).BufferedCount = 3;
    EXPECT_EQ(VARNOX_PURGE(6), -5);
    EXPECT_EQ(VARNOX_STATE(6), -5);
    EXPECT_STREQ(VARNOX_ERRORMESSAGE(6), "Error purging the port");
    EXPECT_EQ(VARNOX_IO_STATE(6), 6);
    EXPECT_EQ(device::PortTable(6).BufferedCount, 0u);
    ASSERT_EQ(VARNOX_CLOSEDEBUGFILE(6), 0);
    EXPECT_EQ(
        TraceMessages(ReadFile(file)),
        (Messages{"File opened by VARNOX_OpenDebugFile", "COMPort::Purge: Cannot purge the port",
                  "VARNOX_Purge: Error purging the port", "File closed by VARNOX_CloseDebugFile"}));
}

static_assert(VARNOX_NO_DATA == 1 && VARNOX_OK == 0 && VARNOX_PORTNUMBER_OUT_OF_RANGE == -1);
static_assert(VARNOX_ERROR_OPEN == -3 && VARNOX_ERROR_CLOSE == -4 && VARNOX_ERROR_PURGE == -5);
static_assert(VARNOX_ERROR_SEND == -6 && VARNOX_ERROR_RECEIVE == -7);
static_assert(VARNOX_ERROR_WRONG_COMMAND == -8 && VARNOX_ERROR_WRONG_ARGUMENT == -9);
static_assert(VARNOX_ERROR_DEBUGFILE_OPEN == -400 && VARNOX_ERROR_DEBUGFILE_CLOSE == -401);

TEST_F(LibraryTest, ResultCodeTexts) {
    const std::pair<std::int32_t, const char*> cases[] = {
        {1, "No data is available"},     {0, "No error"},
        {-1, "PortNumber out of range"}, {-3, "Error opening the port"},
        {-4, "Error closing the port"},  {-5, "Error purging the port"},
        {-6, "Error sending command"},   {-7, "Error receiving command"},
        {-8, "Wrong command received"},  {-9, "Wrong argument received"},
        {-400, "Unknown error"},         {-401, "Unknown error"},
        {-2, "Unknown error"},           {2, "Unknown error"},
        {-10, "Unknown error"},          {INT32_MIN, "Unknown error"},
    };
    for (const auto& [code, text] : cases) {
        device::PortState[7] = code;
        EXPECT_STREQ(VARNOX_ERRORMESSAGE(7), text) << code;
        EXPECT_EQ(VARNOX_STATE(7), code);
    }
}

TEST_F(LibraryTest, ReportsNeverStore) {
    device::PortState[2] = 1;
    VARNOX_STATE(2);
    VARNOX_ERRORMESSAGE(2);
    VARNOX_IO_STATE(2);
    VARNOX_IO_ERRORMESSAGE(2);
    VARNOX_VERSION();
    EXPECT_EQ(VARNOX_STATE(2), 1);
    EXPECT_STREQ(VARNOX_ERRORMESSAGE(2), "No data is available");
}

TEST_F(LibraryTest, ThreadNotificationsOnlyTrace) {
    const std::string traced = dir_.File("traced.txt");
    ASSERT_EQ(VARNOX_OPENDEBUGFILE(traced.c_str(), 2), 0);
    ASSERT_EQ(VARNOX_OPEN(1, 2), 0);
    device::PortState[2] = -7;
    device::PortState[4] = -8;
    fake_.ClearCalls();

    EXPECT_EQ(device::LibraryEntry(nullptr, device::kThreadAttach, nullptr), 1);
    EXPECT_EQ(device::LibraryEntry(nullptr, device::kThreadDetach, nullptr), 1);
    EXPECT_EQ(device::LibraryEntry(nullptr, 9, nullptr), 1);

    EXPECT_EQ(device::PortState[2], -7);
    EXPECT_EQ(device::PortState[4], -8);
    EXPECT_TRUE(fake_.Calls().empty());
    EXPECT_EQ(VARNOX_IO_STATE(2), 0);
    ASSERT_EQ(VARNOX_CLOSEDEBUGFILE(2), 0);
    EXPECT_EQ(TraceMessages(ReadFile(traced)),
              (Messages{"File opened by VARNOX_OpenDebugFile",
                        "COMPort::Open: Port \\\\.\\COM1 has been opened",
                        "Initializing the DLL, fdwReason=2", "Exiting the DLL, fdwReason=3",
                        "File closed by VARNOX_CloseDebugFile"}));
}

TEST_F(LibraryTest, ProcessAttachResetsEveryResult) {
    for (std::uint16_t slot = 0; slot < 8; ++slot) device::PortState[slot] = -5;
    EXPECT_EQ(device::LibraryEntry(nullptr, device::kProcessAttach, nullptr), 1);
    for (std::uint16_t slot = 0; slot < 8; ++slot) EXPECT_EQ(VARNOX_STATE(slot), 0);
}

}  // namespace
}  // namespace varnox::test
