// Helpers of the validator tests: the sample command table and a scoped
// change of the current directory (the library reads QUBRACOM.DAT there).
#pragma once

#include "common/test_util.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace zeltest {

inline std::string SampleTablePath() {
    return std::string(ZELCOMM_TEST_SOURCE_DIR) + "/../share/zelcomm/QUBRACOM.DAT";
}

inline std::string SampleTable() {
    const std::string text = ReadWholeFile(SampleTablePath());
    EXPECT_FALSE(text.empty()) << SampleTablePath();
    return text;
}

class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::string& directory) {
        char buffer[4096];
        if (::getcwd(buffer, sizeof buffer)) old_ = buffer;
        EXPECT_EQ(::chdir(directory.c_str()), 0) << directory;
    }
    ~ScopedCurrentDirectory() {
        if (!old_.empty()) {
            EXPECT_EQ(::chdir(old_.c_str()), 0);
        }
    }
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

private:
    std::string old_;
};

}  // namespace zeltest
