#include "platform/zel_paths.h"

#include "common/test_util.h"
#include "platform/zel_system.h"

#include <zelcomm/zelcomm.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <dlfcn.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace zel {
namespace {

using zeltest::ScopedEnv;
using zeltest::TempDir;

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           ::strcasecmp(text.c_str() + text.size() - tail.size(), tail.c_str()) == 0;
}

TEST(Directories, ExecutableDirectoryHoldsThisTest) {
    const std::string dir = ExecutableDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.front(), '/');
    EXPECT_EQ(dir.back(), '/');
    EXPECT_TRUE(FileExists(dir + "tst_paths"));
}

TEST(Directories, NoLibraryDirectoryWhenLinkedIntoTheExecutable) {
    EXPECT_EQ(LibraryPath(), "");
    EXPECT_EQ(LibraryDirectory(), "");
}

TEST(FindFileNoCase, MatchesNamesWithoutRegardToCase) {
    TempDir dir;
    dir.Write("Zelcomm.ini", "");
    dir.Write("QUBRACOM.DAT", "");
    ASSERT_EQ(::mkdir(dir.File("protocol.dat").c_str(), 0700), 0);

    EXPECT_EQ(FindFileNoCase(dir.path(), "ZELCOMM.INI"), dir.File("Zelcomm.ini"));
    EXPECT_EQ(FindFileNoCase(dir.path() + "/", "zelcomm.INI"), dir.File("Zelcomm.ini"));
    EXPECT_EQ(FindFileNoCase(dir.path(), "zelcomm.in"), "");
    EXPECT_EQ(FindFileNoCase(dir.path(), "Protocol.dat"), "");  // a directory
    EXPECT_EQ(FindFileNoCase(dir.File("missing"), "Zelcomm.ini"), "");
    EXPECT_EQ(FindFileNoCase(dir.path(), ""), "");

    // An exact match wins over another spelling.
    dir.Write("zelcomm.ini", "");
    EXPECT_EQ(FindFileNoCase(dir.path(), "zelcomm.ini"), dir.File("zelcomm.ini"));
    EXPECT_EQ(FindFileNoCase(dir.path(), "Zelcomm.ini"), dir.File("Zelcomm.ini"));

    // An empty directory is the current one.
    char cwd[PATH_MAX];
    ASSERT_TRUE(::getcwd(cwd, sizeof cwd));
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const std::string found = FindFileNoCase("", "qubracom.dat");
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_EQ(found, "QUBRACOM.DAT");
}

class ConfigLookup : public testing::Test {
protected:
    void SetUp() override {
        ResetConfigPath();
        ResetPortMapping();
    }
    void TearDown() override {
        ResetConfigPath();
        ResetPortMapping();
    }
};

TEST_F(ConfigLookup, VariableNamesTheFileEvenIfMissing) {
    TempDir dir;
    dir.Write("ZELCOMM.INI", "");  // not looked for: the variable decides
    ScopedEnv env("ZELCOMM_INI", dir.File("other.ini").c_str());
    EXPECT_EQ(ConfigPath(), dir.File("other.ini"));
    EXPECT_EQ(std::string(ZelConfigPath()), dir.File("other.ini"));
}

TEST_F(ConfigLookup, EmptyVariableFallsBackToTheExecutableDirectory) {
    ScopedEnv env("ZELCOMM_INI", "");
    const std::string path = ConfigPath();
    EXPECT_EQ(path.compare(0, ExecutableDirectory().size(), ExecutableDirectory()), 0) << path;
    EXPECT_TRUE(EndsWithNoCase(path, "/zelcomm.ini")) << path;
}

TEST_F(ConfigLookup, DecidedOnceUntilReset) {
    ScopedEnv first("ZELCOMM_INI", "/first.ini");
    EXPECT_EQ(ConfigPath(), "/first.ini");
    ScopedEnv second("ZELCOMM_INI", "/second.ini");
    EXPECT_EQ(ConfigPath(), "/first.ini");
    ResetConfigPath();
    EXPECT_EQ(ConfigPath(), "/second.ini");
}

// In a child process: loads a copy of the shared library and checks the
// configuration path it decides on. Exit code 0 means it matched.
void LoadLibraryAndCheckConfigPath(const std::string& library, const std::string& expected) {
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "dlopen: %s\n", ::dlerror());
        std::_Exit(2);
    }
    auto configPath = reinterpret_cast<const char* (*)()>(::dlsym(handle, "ZelConfigPath"));
    if (!configPath) std::_Exit(3);
    const std::string got = configPath();
    if (got != expected) {
        std::fprintf(stderr, "config path %s, expected %s\n", got.c_str(), expected.c_str());
        std::_Exit(4);
    }
    std::_Exit(0);
}

TEST_F(ConfigLookup, SharedLibraryLooksBesideItself) {
    TempDir dir;
    const std::string bytes = zeltest::ReadWholeFile(ZELCOMM_SHARED_LIBRARY_PATH);
    ASSERT_FALSE(bytes.empty()) << ZELCOMM_SHARED_LIBRARY_PATH;
    const std::string library = dir.Write("libzelcomm.so.1", bytes);
    const std::string real = RealPath(dir.path());
    ScopedEnv noIni("ZELCOMM_INI", nullptr);
    ScopedEnv protocol("ZELCOMM_PROTOCOL_DIR", dir.path().c_str());

    // Nothing there yet: the path the library would use is beside it.
    EXPECT_EXIT(LoadLibraryAndCheckConfigPath(library, real + "/ZELCOMM.INI"),
                testing::ExitedWithCode(0), "");
    // Any spelling of the name is found.
    dir.Write("Zelcomm.ini", "[Startup]\n");
    EXPECT_EXIT(LoadLibraryAndCheckConfigPath(library, real + "/Zelcomm.ini"),
                testing::ExitedWithCode(0), "");
}

TEST(ProtocolDirectory, VariableOrExecutableDirectory) {
    {
        ScopedEnv env("ZELCOMM_PROTOCOL_DIR", "/var/tmp/zel");
        EXPECT_EQ(ProtocolDirectory(), "/var/tmp/zel/");
    }
    {
        ScopedEnv env("ZELCOMM_PROTOCOL_DIR", "/var/tmp/zel/");
        EXPECT_EQ(ProtocolDirectory(), "/var/tmp/zel/");
    }
    for (const char* value : {"", static_cast<const char*>(nullptr)}) {
        ScopedEnv env("ZELCOMM_PROTOCOL_DIR", value);
        EXPECT_EQ(ProtocolDirectory(), ExecutableDirectory());
    }
}

TEST(Files, DeleteMoveAndTimes) {
    TempDir dir;
    const std::string a = dir.Write("Protocol.dat", "new");
    const std::string b = dir.Write("Protocol.bak", "old");

    const std::time_t stamp = 1046873229;
    const utimbuf times{stamp, stamp};
    ASSERT_EQ(::utime(a.c_str(), &times), 0);
    std::time_t mtime = 0;
    EXPECT_TRUE(FileModificationTime(a, mtime));
    EXPECT_EQ(mtime, stamp);

    EXPECT_TRUE(MoveFile(a, b));  // replaces the old backup
    EXPECT_FALSE(FileExists(a));
    EXPECT_EQ(zeltest::ReadWholeFile(b), "new");
    EXPECT_TRUE(DeleteFile(b));
    EXPECT_FALSE(FileExists(b));

    // Failures leave the reason in LastError.
    struct Failing {
        const char* what;
        bool (*call)(const std::string&);
    } failing[] = {
        {"DeleteFile", [](const std::string& p) { return DeleteFile(p); }},
        {"MoveFile", [](const std::string& p) { return MoveFile(p, p + ".x"); }},
        {"FileModificationTime", [](const std::string& p) { std::time_t t; return FileModificationTime(p, t); }},
        {"FileExists", [](const std::string& p) { return FileExists(p); }},
    };
    for (const Failing& f : failing) {
        SetLastError(0);
        EXPECT_FALSE(f.call(a)) << f.what;
        EXPECT_EQ(LastError(), ENOENT) << f.what;
    }
}

TEST(Files, CharacterDevices) {
    TempDir dir;
    const std::string regular = dir.Write("plain", "x");
    ASSERT_EQ(::symlink("/dev/null", dir.File("by-id-link").c_str()), 0);
    struct Case {
        std::string path;
        bool expected;
    } cases[] = {
        {"/dev/null", true},     {dir.File("by-id-link"), true}, {regular, false},
        {dir.path(), false},     {dir.File("missing"), false},   {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsCharacterDevice(c.path), c.expected) << c.path;
}

class Ports : public ConfigLookup {};

TEST_F(Ports, MappingFromTheConfigurationFile) {
    TempDir dir;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    const std::string regular = dir.Write("not-a-device", "");

    const std::string ini = dir.Write("zelcomm.ini",
                                      "[ports]\r\n"
                                      "com2 = /dev/null\r\n"
                                      "COM3=tcp://192.0.2.1:4001\r\n"
                                      "COM4=" + dir.File("missing-tty") + "\r\n"
                                      "COM5=" + regular + "\r\n"
                                      "COM6=" + slave + "\r\n"
                                      "COM7=\r\n");
    ScopedEnv env("ZELCOMM_INI", ini.c_str());

    struct Case {
        int port;
        std::string path;
        bool present;
    } cases[] = {
        {2, "/dev/null", true},
        {3, "tcp://192.0.2.1:4001", true},
        {4, dir.File("missing-tty"), false},
        {5, regular, false},
        {6, slave, true},  // a pseudo-terminal counts
        {0, "", false},
        {9, "", false},
        {-1, "", false},
        {INT_MIN, "", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PortDevicePath(c.port), c.path) << "COM" << c.port;
        EXPECT_EQ(PortPresent(c.port), c.present) << "COM" << c.port;
    }
    // Ports without a value keep their standard device.
    EXPECT_EQ(PortDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(PortDevicePath(7), "/dev/ttyS6");
    EXPECT_EQ(PortDevicePath(8), "/dev/ttyS7");
    ::close(master);
}

TEST_F(Ports, MappingIsCachedUntilReset) {
    TempDir dir;
    const std::string ini = dir.Write("zelcomm.ini", "[Ports]\nCOM2=/dev/null\n");
    ScopedEnv env("ZELCOMM_INI", ini.c_str());
    EXPECT_EQ(PortDevicePath(2), "/dev/null");
    dir.Write("zelcomm.ini", "[Ports]\nCOM2=/dev/zero\n");
    EXPECT_EQ(PortDevicePath(2), "/dev/null");
    ResetPortMapping();
    EXPECT_EQ(PortDevicePath(2), "/dev/zero");
}

}  // namespace
}  // namespace zel
