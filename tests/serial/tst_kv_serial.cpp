// The serial object's port list, port choice and activation, and the port
// enumeration behind them.
#include "common/test_util.h"
#include "engine/controller.h"
#include "platform/zel_paths.h"
#include "serial/kv_serial.h"
#include "serial/port_enumeration.h"
#include "support/library_state.h"

#include <gtest/gtest.h>

namespace {

using zel::kMaxPorts;

class PortFlags : public ::testing::Test {
protected:
    void Present(std::initializer_list<int> ports) {
        bool flags[kMaxPorts] = {};
        for (int p : ports) flags[p - 1] = true;
        zel::SetPortPresentFlags(flags);
    }
    void TearDown() override {
        Present({});
        zel::State().testPoints = 0;
    }
};

TEST_F(PortFlags, PortListHoldsThePresentPortsInOrder) {
    Present({3, 1, 8});
    zel::TController c(0);
    EXPECT_EQ(c.pCSerial->pPortNames, (std::vector<std::string>{"COM1", "COM3", "COM8"}));
    EXPECT_EQ(c.pCSerial->nPort, 1);
}

TEST_F(PortFlags, SetPortKeepsThePortAskedForAndClampsBeyondEight) {
    Present({2, 3});
    zel::TController c(0);
    zel::TKvSerial& s = *c.pCSerial;
    struct Step { int n; int expected; };
    const Step steps[] = {{2, 2}, {5, 5}, {-1, 5}, {0, 0}, {3, 3}, {-100, 3}, {9, 2}, {1000, 2}, {8, 8}};
    for (const Step& step : steps) {
        s.SetPort(step.n);
        EXPECT_EQ(s.nPort, step.expected) << "SetPort(" << step.n << ")";
    }
}

TEST_F(PortFlags, WithoutPortsNothingOpensOnTheSerialLine) {
    Present({});
    zel::TController c(0);
    EXPECT_EQ(c.pCSerial->nPort, 0);
    c.pCSerial->SetPort(2);
    EXPECT_EQ(c.pCSerial->nPort, 0);
    EXPECT_FALSE(c.pCSerial->OpenIt());
    c.pCSerial->SetActive(true);
    EXPECT_FALSE(c.pCSerial->bActive);
}

TEST_F(PortFlags, DemoModeOpensWithoutADevice) {
    Present({});
    zel::TController c(0);
    c.nCInterface = zel::kInterfaceDemo;
    c.pCSerial->SetActive(true);
    EXPECT_TRUE(c.pCSerial->bActive);
    EXPECT_EQ(c.pCSerial->unEventMask, 0xC2u);
    EXPECT_FALSE(c.pCSerial->OpenIt()) << "an open port stays open";
    EXPECT_TRUE(c.pCSerial->bActive);
    c.pCSerial->SetActive(false);
    EXPECT_FALSE(c.pCSerial->bActive);
}

TEST_F(PortFlags, TestPointsStopOpening) {
    Present({1});
    zel::TController c(0);
    c.nCInterface = zel::kInterfaceDemo;
    for (unsigned tp : {0x100u, 0x200u, 0x400u}) {
        zel::State().testPoints = tp;
        c.pCSerial->SetActive(true);
        EXPECT_FALSE(c.pCSerial->bActive) << std::hex << tp;
    }
    zel::State().testPoints = 0;
    c.pCSerial->SetActive(true);
    EXPECT_TRUE(c.pCSerial->bActive);
    zel::State().testPoints = 0x100;  // SetActive does nothing, also when closing
    c.pCSerial->SetActive(false);
    EXPECT_TRUE(c.pCSerial->bActive);
}

TEST(PortEnumeration, PresentPortsComeFromTheMappingAndTheDevices) {
    zeltest::TempDir dir;
    dir.Write("ZELCOMM.INI", "[Ports]\nCOM1=/dev/null\nCOM2=" + dir.File("missing") +
                                 "\nCOM3=" + dir.path() + "\nCOM4=tcp://127.0.0.1:4001\n");
    zeltest::ScopedEnv env("ZELCOMM_INI", dir.File("ZELCOMM.INI").c_str());
    zel::ResetConfigPath();
    zel::ResetPortMapping();
    zel::KvCheckSerPorts();
    EXPECT_TRUE(zel::PortPresentFlag(0)) << "a character device";
    EXPECT_FALSE(zel::PortPresentFlag(1)) << "a missing path";
    EXPECT_FALSE(zel::PortPresentFlag(2)) << "a directory";
    EXPECT_TRUE(zel::PortPresentFlag(3)) << "a network port";
    EXPECT_FALSE(zel::PortPresentFlag(-1));
    EXPECT_FALSE(zel::PortPresentFlag(8));
    zel::ResetConfigPath();
    zel::ResetPortMapping();
}

}  // namespace
