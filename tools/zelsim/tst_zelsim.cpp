// zelsim end to end: the library opens zelsim's line through [Ports] and
// runs commands over it; the replies are those demo mode gives in-process,
// except for the identify line chosen on the command line.
#include "engine/controller.h"
#include "platform/zel_paths.h"
#include "serial/kv_serial.h"
#include "serial/port_enumeration.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kOneLine = 0x01000000u;

std::string MakeTempDir() {
    char templ[] = "/tmp/zelsim-test-XXXXXX";
    const char* dir = ::mkdtemp(templ);
    return dir ? dir : "";
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// zelsim running with its line linked to <dir>/line, the library's COM1.
class Zelsim : public ::testing::Test {
protected:
    void Start(std::vector<std::string> args) {
        dir_ = MakeTempDir();
        ASSERT_FALSE(dir_.empty());
        link_ = dir_ + "/line";
        args.insert(args.begin(), {ZELSIM_PATH, "--link", link_, "--fast"});
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        ASSERT_EQ(::posix_spawn(&pid_, ZELSIM_PATH, nullptr, nullptr, argv.data(), environ), 0);
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!Exists(link_) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(Exists(link_)) << "zelsim did not link its line";

        std::ofstream(dir_ + "/ZELCOMM.INI") << "[Ports]\nCOM1=" << link_ << "\n";
        ::setenv("ZELCOMM_INI", (dir_ + "/ZELCOMM.INI").c_str(), 1);
        zel::ResetConfigPath();
        zel::ResetPortMapping();
        const bool present[zel::kMaxPorts] = {true};
        zel::SetPortPresentFlags(present);
        c_ = std::make_unique<zel::TController>(0);
        c_->pCSerial->SetPort(1);
        c_->pCSerial->SetActive(true);
        ASSERT_TRUE(c_->pCSerial->bActive);
        c_->bCConnected = true;
    }

    void TearDown() override {
        if (c_) c_->pCSerial->SetActive(false);
        c_.reset();
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "zelsim ends cleanly";
            EXPECT_FALSE(Exists(link_)) << "zelsim removes its link";
        }
        ::unsetenv("ZELCOMM_INI");
        zel::ResetConfigPath();
        zel::ResetPortMapping();
        const bool none[zel::kMaxPorts] = {};
        zel::SetPortPresentFlags(none);
        if (!dir_.empty()) {
            ::unlink((dir_ + "/ZELCOMM.INI").c_str());
            ::rmdir(dir_.c_str());
        }
    }

    // The reply over the line, as ExecuteCommand leaves it.
    std::string Serial(const std::string& command, unsigned controlWord = kOneLine) {
        EXPECT_TRUE(c_->KvCExecuteCommand(command, controlWord)) << command;
        return c_->Reply();
    }

    std::string dir_, link_;
    pid_t pid_ = -1;
    std::unique_ptr<zel::TController> c_;
};

// The same command in demo mode, in-process.
class Demo {
public:
    explicit Demo(bool singleAxis) : c_(1) {
        c_.nCInterface = zel::kInterfaceDemo;
        if (singleAxis) c_.ucCCmdSet = zel::kCmdSetSingle;
        for (int k = 0; k < 3; ++k) c_.pCAxes.push_back(std::make_unique<zel::TAxis>());
        c_.pCSerial->SetActive(true);
        c_.bCConnected = true;
    }
    std::string Reply(const std::string& command, unsigned controlWord = kOneLine) {
        EXPECT_TRUE(c_.KvCExecuteCommand(command, controlWord)) << command;
        return c_.Reply();
    }
private:
    zel::TController c_;
};

TEST_F(Zelsim, AnswersTheMultiAxisSetAsDemoModeDoes) {
    Start({"--identify", "Varne x 224 1 5"});
    Demo demo(false);
    struct Case {
        const char* command;
        unsigned controlWord;
    };
    const Case cases[] = {{"version", kOneLine}, {"gv", kOneLine}, {"ga", kOneLine},
                          {"p", kOneLine},       {"st", kOneLine}, {"getlimit", 3 * kOneLine},
                          {"1 2 3 setpos", 0},   {"p", kOneLine}, {"ge", kOneLine}};
    for (const Case& k : cases) {
        const std::string over = Serial(k.command, k.controlWord);
        EXPECT_EQ(over, demo.Reply(k.command, k.controlWord)) << k.command;
    }
    EXPECT_EQ(Serial("identify"), "Varne x 224 1 5");
}

TEST_F(Zelsim, AnswersTheSingleAxisSetAndDelaysReplies) {
    Start({"--single-axis", "--delay", "150", "--version", "3.25"});
    Demo demo(true);
    for (const char* command : {"1 nst", "2 np", "1 gnv"})
        EXPECT_EQ(Serial(command), demo.Reply(command)) << command;
    EXPECT_EQ(Serial("1 nidentify"), demo.Reply("1 nidentify")) << "no identify line given: the simulator's";
    const auto start = Clock::now();
    EXPECT_EQ(Serial("1 nversion"), "3.25");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(140));
}

}  // namespace
