// VARNOX.dll under the real loader: LoadLibrary and FreeLibrary, threads that
// start and end while it is loaded, a process that ends with it loaded, and
// the exports by name. The DLL is loaded at run time only, so FreeLibrary
// really unloads it.
//
// Suites named DllWithModule need COM1 served by the module simulator
// (scripts/windows-test runs them in its end-to-end phase).
//
// Run with "--exit-loaded TRACE [COM]" the program is a child instead: it
// loads the DLL, opens TRACE for slot 3 (and the port COMn there when COM is
// given) and returns from main with the DLL still loaded.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/LibraryFixture.h"
#include "tests/support/TraceText.h"
#include "tests/windows/support/Process.h"
#include "tests/windows/support/WineLine.h"

namespace varnox::test {
namespace {

using Messages = std::vector<std::string>;

// The exported functions this test calls, looked up by their undecorated
// names.
struct Library {
    HMODULE module = nullptr;
    std::uint16_t (*version)() = nullptr;
    std::int32_t (*open)(std::uint16_t, std::uint16_t) = nullptr;
    std::int32_t (*close)(std::uint16_t) = nullptr;
    std::int32_t (*state)(std::uint16_t) = nullptr;
    std::int32_t (*ioState)(std::uint16_t) = nullptr;
    const char* (*ioErrorMessage)(std::uint16_t) = nullptr;
    std::int32_t (*openDebugFile)(const char*, std::uint16_t) = nullptr;

    template <typename F>
    void Bind(F& function, const char* name) {
        function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }

    // False when the DLL or one of the functions is missing.
    bool Load() {
        module = LoadLibraryA((ProgramDirectory() + "VARNOX.dll").c_str());
        if (module == nullptr) return false;
        Bind(version, "VARNOX_VERSION");
        Bind(open, "VARNOX_OPEN");
        Bind(close, "VARNOX_CLOSE");
        Bind(state, "VARNOX_STATE");
        Bind(ioState, "VARNOX_IO_STATE");
        Bind(ioErrorMessage, "VARNOX_IO_ERRORMESSAGE");
        Bind(openDebugFile, "VARNOX_OPENDEBUGFILE");
        return version && open && close && state && ioState && ioErrorMessage && openDebugFile;
    }

    bool Unload() {
        const bool freed = FreeLibrary(module) != 0;
        module = nullptr;
        return freed;
    }
};

// What a slot's trace ends with when the DLL is unloaded: the port table's
// close, then the detach handling's trace line, close and file close.
const Messages kUnloadClosed = {
    "COMPort::Close: Port handle is invalid", "Exiting the DLL, fdwReason=0",
    "COMPort::Close: Port handle is invalid", "File closed by VARNOX_CloseDebugFile"};
const Messages kUnloadOpen = {
    "COMPort::Close: Port has been closed", "Exiting the DLL, fdwReason=0",
    "COMPort::Close: Port handle is invalid", "File closed by VARNOX_CloseDebugFile"};

Messages Join(Messages head, const Messages& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST(DllLifecycle, LoadingRunsTheAttachHandling) {
    Library dll;
    ASSERT_TRUE(dll.Load()) << "VARNOX.dll or one of its exports is missing beside the test";
    EXPECT_EQ(dll.version(), 0x011E);
    for (std::uint16_t slot = 0; slot < 8; ++slot) {
        EXPECT_EQ(dll.state(slot), 0) << slot;
        EXPECT_EQ(dll.ioState(slot), 1) << slot;
        EXPECT_STREQ(dll.ioErrorMessage(slot), "Port has not been opened yet") << slot;
    }
    EXPECT_EQ(dll.state(8), -1);
    EXPECT_TRUE(dll.Unload());
}

TEST(DllLifecycle, UnloadingEndsEveryTraceInOrder) {
    TempDir dir;
    const std::string withOpen = dir.File("slot2.txt");
    const std::string plain = dir.File("slot6.txt");
    Library dll;
    ASSERT_TRUE(dll.Load());
    ASSERT_EQ(dll.openDebugFile(withOpen.c_str(), 2), 0);
    ASSERT_EQ(dll.openDebugFile(plain.c_str(), 6), 0);
    EXPECT_EQ(dll.open(219, 2), -3);  // no such port
    ASSERT_TRUE(dll.Unload());

    EXPECT_EQ(TraceMessages(ReadFile(withOpen)),
              Join({"File opened by VARNOX_OpenDebugFile",
                    "COMPort::Open: Cannot open the port \\\\.\\COM219"},
                   kUnloadClosed));
    EXPECT_EQ(TraceMessages(ReadFile(plain)),
              Join({"File opened by VARNOX_OpenDebugFile"}, kUnloadClosed));
}

DWORD WINAPI DoNothing(LPVOID) {
    return 0;
}

// Windows sends DLL_THREAD_ATTACH and DLL_THREAD_DETACH for a thread that
// starts and ends while the DLL is loaded; they are traced and change no
// stored result.
TEST(DllLifecycle, ThreadsAreTracedAndChangeNothing) {
    TempDir dir;
    const std::string file = dir.File("threads.txt");
    Library dll;
    ASSERT_TRUE(dll.Load());
    ASSERT_EQ(dll.openDebugFile(file.c_str(), 1), 0);
    EXPECT_EQ(dll.close(1), -4);  // never opened: stores -4
    const HANDLE thread = CreateThread(nullptr, 0, DoNothing, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(dll.state(1), -4);
    EXPECT_EQ(dll.ioState(1), 1);
    ASSERT_TRUE(dll.Unload());

    EXPECT_EQ(TraceMessages(ReadFile(file)),
              Join({"File opened by VARNOX_OpenDebugFile", "COMPort::Close: Port handle is invalid",
                    "Initializing the DLL, fdwReason=2", "Exiting the DLL, fdwReason=3"},
                   kUnloadClosed));
}

TEST(DllLifecycle, ALoadAfterAnUnloadStartsAfresh) {
    Library dll;
    ASSERT_TRUE(dll.Load());
    EXPECT_EQ(dll.close(4), -4);
    EXPECT_EQ(dll.state(4), -4);
    ASSERT_TRUE(dll.Unload());
    ASSERT_TRUE(dll.Load());
    EXPECT_EQ(dll.state(4), 0);
    EXPECT_EQ(dll.ioState(4), 1);
    EXPECT_TRUE(dll.Unload());
}

// The DLL still loaded when the process ends: DLL_PROCESS_DETACH comes while
// the process terminates, after main has returned and the C run time has run
// its exit handling, and the trace streams must still be usable then.
TEST(DllLifecycle, ProcessEndWithTheDllLoadedEndsTheTrace) {
    TempDir dir;
    const std::string file = dir.File("exit.txt");
    const ProcessResult child = RunProcess(ProgramFile(), {"--exit-loaded", file});
    ASSERT_TRUE(child.started);
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(child.exitCode, 0u) << child.output;
    EXPECT_EQ(TraceMessages(ReadFile(file)),
              Join({"File opened by VARNOX_OpenDebugFile"}, kUnloadClosed));
}

TEST(DllLifecycle, ExportsCarryTheirPlainNames) {
    const HMODULE module = LoadLibraryA((ProgramDirectory() + "VARNOX.dll").c_str());
    ASSERT_NE(module, nullptr);
    const char* const names[] = {
        "VARNOX_VERSION", "VARNOX_OPEN", "VARNOX_CLOSE", "VARNOX_PURGE", "VARNOX_STATE",
        "VARNOX_ERRORMESSAGE", "VARNOX_IO_STATE", "VARNOX_IO_ERRORMESSAGE", "VARNOX_OPENDEBUGFILE",
        "VARNOX_CLOSEDEBUGFILE", "VARNOX_GETINPUT", "VARNOX_RETINPUT", "VARNOX_AUTOINPUT",
        "VARNOX_CHECKINPUT", "VARNOX_RETINPUTDATA", "VARNOX_GETOUTPUT", "VARNOX_RETOUTPUT",
        "VARNOX_SETOUTPUT", "VARNOX_FW_VER", "VARNOX_FW_DATE", "VARNOX_PROD_ID", "VARNOX_PROD_NO",
        // The class, as MinGW's g++ names its members.
        "_ZN7COMPortC1Ev", "_ZN7COMPortD1Ev", "_ZN7COMPort4OpenEt", "_ZN7COMPort5CloseEv",
        "_ZN7COMPort4ReadEPcRm", "_ZNK7COMPort12ErrorMessageEv"};
    for (const char* name : names) {
        EXPECT_NE(reinterpret_cast<void*>(GetProcAddress(module, name)), nullptr) << name;
    }
    // Decorated forms do not exist: the C functions have C linkage.
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module, "_VARNOX_OPEN@4")), nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(module, "_Z11VARNOX_OPENtt")), nullptr);
    FreeLibrary(module);
}

// ---------------------------------------------------------------------------
// With a port served by the module simulator.

std::uint16_t ModuleCom() {
    const char* text = std::getenv("VARNOX_TEST_COM");
    return static_cast<std::uint16_t>(text != nullptr && *text != '\0' ? std::atoi(text) : 1);
}

// The port number, after the set-up step every open of the module's port
// needs under Wine (tests/windows/support/WineLine.h).
std::uint16_t ModuleComToOpen() {
    EXPECT_TRUE(UnsetLineForNextOpen(ModuleCom())) << "COM" << ModuleCom() << " cannot be prepared";
    return ModuleCom();
}

TEST(DllWithModule, UnloadingClosesTheOpenPortFirst) {
    TempDir dir;
    const std::string file = dir.File("open.txt");
    const std::string com =
        "COMPort::Open: Port \\\\.\\COM" + std::to_string(ModuleCom()) + " has been opened";
    Library dll;
    ASSERT_TRUE(dll.Load());
    ASSERT_EQ(dll.openDebugFile(file.c_str(), 3), 0);
    ASSERT_EQ(dll.open(ModuleComToOpen(), 3), 0)
        << "COM" << ModuleCom() << " is not served: run scripts/windows-test";
    ASSERT_TRUE(dll.Unload());
    EXPECT_EQ(TraceMessages(ReadFile(file)),
              Join({"File opened by VARNOX_OpenDebugFile", com}, kUnloadOpen));

    // The unload gave the device back.
    ASSERT_TRUE(dll.Load());
    EXPECT_EQ(dll.open(ModuleComToOpen(), 0), 0);
    EXPECT_EQ(dll.close(0), 0);
    EXPECT_TRUE(dll.Unload());
}

TEST(DllWithModule, ProcessEndWithAnOpenPortClosesIt) {
    TempDir dir;
    const std::string file = dir.File("exit-open.txt");
    const ProcessResult child =
        RunProcess(ProgramFile(), {"--exit-loaded", file, std::to_string(ModuleComToOpen())});
    ASSERT_TRUE(child.started);
    ASSERT_TRUE(child.finished);
    EXPECT_EQ(child.exitCode, 0u) << child.output;
    EXPECT_EQ(
        TraceMessages(ReadFile(file)),
        Join({"File opened by VARNOX_OpenDebugFile",
              "COMPort::Open: Port \\\\.\\COM" + std::to_string(ModuleCom()) + " has been opened"},
             kUnloadOpen));
}

// The child of the process-end tests. Exit codes: 0 done, 2 the DLL or an
// export is missing, 3 the trace file, 4 the port could not be opened.
int ExitLoaded(int argc, char** argv) {
    Library dll;
    if (!dll.Load()) return 2;
    if (dll.openDebugFile(argv[2], 3) != 0) return 3;
    if (argc > 3 && dll.open(static_cast<std::uint16_t>(std::atoi(argv[3])), 3) != 0) return 4;
    return 0;  // with the DLL loaded
}

}  // namespace
}  // namespace varnox::test

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--exit-loaded") == 0) {
        return varnox::test::ExitLoaded(argc, argv);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
