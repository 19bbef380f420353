#pragma once

// A test fixture with a folder of its own for the files it writes, removed
// with the test.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <string>

namespace kadtest {

template <class Base = ::testing::Test> class ScratchFolder : public Base {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    std::string path(const char* name) const { return dir_.filePath(name).toStdString(); }
    std::string path(const std::string& name) const { return path(name.c_str()); }

    QTemporaryDir dir_;
};

} // namespace kadtest
