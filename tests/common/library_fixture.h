// Loads the library in-process as the shared library's load hook would, with
// a configuration file written by the test, and unloads it afterwards.
#pragma once

#include "common/test_util.h"
#include "interface/library_frame.h"
#include "platform/zel_paths.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace zeltest {

class LibraryFixture : public ::testing::Test {
protected:
    // Writes ZELCOMM.INI with the given content (no file when null) and loads.
    void Load(const char* iniContent) {
        iniPath_ = dir_.File("ZELCOMM.INI");
        if (iniContent) dir_.Write("ZELCOMM.INI", iniContent);
        // Restore the environment of an earlier Load first, so that a second
        // Load in one test does not end with the variables unset.
        iniEnv_.reset();
        protocolEnv_.reset();
        iniEnv_ = std::make_unique<ScopedEnv>("ZELCOMM_INI", iniPath_.c_str());
        protocolEnv_ = std::make_unique<ScopedEnv>("ZELCOMM_PROTOCOL_DIR", dir_.path().c_str());
        zel::ResetConfigPath();
        zel::ResetPortMapping();
        ASSERT_TRUE(zel::ZelLibraryAttach());
        loaded_ = true;
    }
    void Unload() {
        if (loaded_) zel::KvCleanupDll();
        loaded_ = false;
    }
    void TearDown() override {
        Unload();
        zel::ResetConfigPath();
        zel::ResetPortMapping();
    }
    zel::TController& C() { return *zel::Controller(); }

    TempDir dir_;
    std::string iniPath_;
    std::unique_ptr<ScopedEnv> iniEnv_, protocolEnv_;
    bool loaded_ = false;
};

}  // namespace zeltest
