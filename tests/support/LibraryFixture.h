// A fixture for tests of the exported functions: the fake layer installed,
// every slot closed and without trace, PortState as after load, and a
// private directory for trace files.
#ifndef VARNOX_TESTS_SUPPORT_LIBRARYFIXTURE_H
#define VARNOX_TESTS_SUPPORT_LIBRARYFIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "tests/support/FakeSerialLayer.h"

namespace varnox::test {

// Returns the library to its state right after load.
void ResetLibrary();

// A fresh temporary directory, removed with its content on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

class LibraryTest : public ::testing::Test {
protected:
    LibraryTest() : scoped_(fake_) { ResetLibrary(); }
    ~LibraryTest() override { ResetLibrary(); }

    FakeSerialLayer fake_;
    ScopedLayer scoped_;
    TempDir dir_;
};

}  // namespace varnox::test

#endif
