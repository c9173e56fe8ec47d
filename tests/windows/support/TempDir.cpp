// TempDir on Windows: a fresh directory under the user's temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/LibraryFixture.h"

namespace varnox::test {

TempDir::TempDir() {
    const std::string base = std::filesystem::temp_directory_path().string();
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate =
            base + "varnox-test-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++serial) + "-" + std::to_string(GetTickCount64() % 100000);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    ADD_FAILURE() << "cannot create a temporary directory in " << base << " (Windows error "
                  << GetLastError() << ")";
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace varnox::test
