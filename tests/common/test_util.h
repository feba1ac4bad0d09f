// Small fixtures shared by the tests.
#pragma once

#include <string>

namespace zeltest {

// A fresh directory under $TMPDIR, removed with its contents at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string File(const std::string& name) const;
    // Writes a file below the directory and returns its full path.
    std::string Write(const std::string& name, const std::string& content) const;
private:
    std::string path_;
};

// Sets (or with nullptr unsets) an environment variable for a scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
private:
    std::string name_, old_;
    bool hadOld_ = false;
};

// Whole file as bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
bool PathExists(const std::string& path);

// The first installed locale whose decimal separator is a comma, or empty
// (tests of separator conversion skip themselves without one).
std::string CommaLocale();

}  // namespace zeltest
