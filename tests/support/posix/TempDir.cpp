// TempDir on POSIX systems.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/LibraryFixture.h"

namespace varnox::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "varnox-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot create a temporary directory";
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace varnox::test
