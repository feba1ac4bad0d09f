// The controller object: construction, clearing, model selection, wait modes.
#include "engine/controller.h"
#include "serial/kv_serial.h"

#include <gtest/gtest.h>

namespace {

using zel::TController;

TEST(Controller, NewControllerIsDisconnectedWithoutAxes) {
    TController c(0);
    EXPECT_EQ(c.AxesCount(), 0);
    EXPECT_EQ(c.nCPort, -1);
    EXPECT_EQ(c.ucCBaudCode, 4);
    EXPECT_EQ(c.ucCSignalMode, 1);
    EXPECT_EQ(c.nCInterface, zel::kInterfaceSerial);
    EXPECT_EQ(c.ucCType, 0);
    EXPECT_TRUE(c.sCTypeName.empty());
    EXPECT_FALSE(c.bCConnected);
    EXPECT_EQ(c.pCSerial->ucEventChar, 10);
    EXPECT_EQ(c.pCSerial->pOwner, &c);
    EXPECT_EQ(c.pCLastCommand->unFlags, 0x60080u);
    EXPECT_EQ(c.sCConnectString, "0 mode\r\nclear\r\n0 setioport\r\nm ge ge ge\r\n");
    EXPECT_EQ(c.sCConnectReply, "0\r\n0\r\n");
    ASSERT_TRUE(c.hCEvent);
    EXPECT_FALSE(c.hCEvent->IsSignalled());
}

TEST(Controller, ZelClearDataResetsPositionsLimitsAndFlags) {
    TController c(3);
    for (int i = 0; i < 2; ++i) {
        auto axis = std::make_unique<zel::TAxis>();
        axis->dAPos = 1.5;
        axis->sAPos = "1.5";
        axis->dALowLimit = -10;
        axis->dAHighLimit = 10;
        axis->sALowLimit = "-10";
        axis->sAHighLimit = "10";
        axis->dAVersion = 2.5;
        c.pCAxes.push_back(std::move(axis));
    }
    c.bCConnected = true;
    c.bCWaitingForReply = true;
    c.bCTimeoutArmed = true;
    c.dwCDeadline = 99;
    c.ZelClearData();
    EXPECT_FALSE(c.bCConnected);
    EXPECT_FALSE(c.bCWaitingForReply);
    EXPECT_FALSE(c.bCTimeoutArmed);
    EXPECT_EQ(c.dwCDeadline.load(), 0u);
    for (auto& axis : c.pCAxes) {
        EXPECT_EQ(axis->dAPos, 0.0);
        EXPECT_EQ(axis->dALowLimit, 0.0);
        EXPECT_EQ(axis->dAHighLimit, 0.0);
        EXPECT_TRUE(axis->sAPos.empty());
        EXPECT_TRUE(axis->sALowLimit.empty());
        EXPECT_TRUE(axis->sAHighLimit.empty());
        EXPECT_EQ(axis->dAVersion, 2.5) << "not a position or limit";
    }
}

TEST(Controller, BaudRateTableBothWays) {
    const int rates[] = {115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200, 600, 300};
    for (int code = 0; code < 10; ++code) {
        EXPECT_EQ(zel::BaudRateOfCode(code), rates[code]);
        EXPECT_EQ(zel::CodeOfBaudRate(rates[code]), code);
    }
    EXPECT_EQ(zel::CodeOfBaudRate(14400), -1);
    EXPECT_EQ(zel::CodeOfBaudRate(0), -1);
    EXPECT_EQ(zel::BaudRateOfCode(10), 0);
    EXPECT_EQ(zel::BaudRateOfCode(-1), 0);
}

struct ModelCase {
    int typeBit;
    const char* name;
    int id;
    bool single;
    int decimals;
    int mask;
    const char* connect;
};

class ModelSelection : public ::testing::TestWithParam<ModelCase> {};

TEST_P(ModelSelection, ByTypeSetsCommandSetDecimalsAndConnectText) {
    const ModelCase& p = GetParam();
    TController c(0);
    c.nCPosDecimals = 1;
    c.nCLimitDecimals = 2;
    c.KvCSelectModelByType(p.typeBit);
    EXPECT_EQ(c.sCTypeName, p.name);
    EXPECT_EQ(c.ucCType, p.id);
    EXPECT_EQ(c.SingleAxisCommands(), p.single);
    EXPECT_EQ(c.ucCCmdSet, p.single ? zel::kCmdSetSingle : zel::kCmdSetMulti);
    EXPECT_EQ(c.nCDecimals, p.decimals);
    EXPECT_EQ(c.nCPosDecimals, p.decimals);
    EXPECT_EQ(c.nCLimitDecimals, p.decimals);
    EXPECT_EQ(c.nCModelMask, p.mask);
    EXPECT_EQ(c.sCConnectString, p.connect);
    EXPECT_EQ(c.sCConnectReply, "0\r\n0\r\n");
}

const char* const kMulti = "0 mode\r\nclear\r\n0 setioport\r\nm ge ge ge\r\n";
const char* const kSingle = "0 %d nmode\r\n%d nclear\r\n-1 %d snv %d gne %d gne %d gne\r\n";

INSTANTIATE_TEST_SUITE_P(
    Table, ModelSelection,
    ::testing::Values(ModelCase{1, "Default", 0, false, 5, 1, kMulti},
                      ModelCase{2, "Varne-PC", 1, false, 5, 8, "0 mode\r\nclear\r\nm ge ge ge\r\n"},
                      ModelCase{4, "Prusk", 2, true, 6, 2, kSingle}, ModelCase{8, "Fistra", 3, true, 6, 2, kSingle},
                      ModelCase{16, "Wendalo", 4, true, 6, 2, kSingle},
                      ModelCase{32, "Jovek", 5, true, 6, 2, kSingle},
                      ModelCase{64, "Ulmeta", 6, false, 5, 32, kMulti},
                      ModelCase{3, "Default", 0, false, 5, 1, kMulti},
                      ModelCase{-1, "Default", 0, false, 5, 1, kMulti}));

TEST(ModelSelectionByName, ExactNamesOnlyAndVarneIsRenamed) {
    struct Case { const char* name; int id; const char* stored; };
    const Case cases[] = {{"Varne", 1, "Varne-PC"}, {"Varne-PC", 1, "Varne-PC"}, {"Prusk", 2, "Prusk"},
                          {"Fistra", 3, "Fistra"},  {"Wendalo", 4, "Wendalo"},  {"Jovek", 5, "Jovek"},
                          {"Ulmeta", 6, "Ulmeta"},  {"ulmeta", 0, "ulmeta"},    {"", 0, ""},
                          {"Prusk ", 0, "Prusk "}};
    for (const Case& k : cases) {
        TController c(0);
        c.KvCSelectModelByName(k.name);
        EXPECT_EQ(c.ucCType, k.id) << k.name;
        EXPECT_EQ(c.sCTypeName, k.stored) << k.name;
    }
}

TEST(ModelSelectionByName, SwitchingBackToMultiAxisClearsTheSingleAxisBit) {
    TController c(0);
    c.KvCSelectModelByName("Prusk");
    c.KvCSelectModelByName("Ulmeta");
    EXPECT_FALSE(c.SingleAxisCommands());
    EXPECT_EQ(c.sCConnectString, kMulti);
}

TEST(ExpandAxisNumber, ReplacesEveryPercentD) {
    struct Case { const char* templ; int index; const char* out; };
    const Case cases[] = {{"0 %d nmode\r\n%d nclear\r\n", 0, "0 1 nmode\r\n1 nclear\r\n"},
                          {"%d%d", 9, "1010"},
                          {"100% %s %", 1, "100% %s %"},
                          {"%%d", 2, "%3"},
                          {"", 0, ""},
                          {"%d", 2147483647, "2147483648"}};
    for (const Case& k : cases) EXPECT_EQ(TController::KvCExpandAxisNumber(k.templ, k.index), k.out) << k.templ;
}

struct WaitModeCase {
    unsigned word;
    int signalMode;
    unsigned eventKind;
    unsigned lineMode;
};

class WaitModes : public ::testing::TestWithParam<WaitModeCase> {};

TEST_P(WaitModes, WordGivesSignalModeEventKindAndLineMode) {
    const WaitModeCase& p = GetParam();
    TController c(0);
    c.KvCSetWaitMode(p.word);
    EXPECT_EQ(c.ucCSignalMode, p.signalMode);
    EXPECT_EQ(c.unCEventKind, p.eventKind);
    EXPECT_EQ(c.pCSerial->unLineMode, p.lineMode);
    EXPECT_EQ(c.pCSerial->unWaitMode, p.word);
    EXPECT_EQ(c.unCWaitMode, p.word);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WaitModes,
    ::testing::Values(WaitModeCase{0x100A04, 4, 0x800, 0x100004}, WaitModeCase{0x100904, 3, 0x800, 0x100004},
                      WaitModeCase{0, 3, 0x800, 8}, WaitModeCase{0x20, 0, 0x800, 8},
                      WaitModeCase{0x60, 0, 0x800, 8}, WaitModeCase{0x40, 1, 0x800, 8},
                      WaitModeCase{0x80, 2, 0x800, 8}, WaitModeCase{0x400, 5, 0x800, 8},
                      WaitModeCase{0x4000, 6, 0x800, 8}, WaitModeCase{0x80000, 7, 0x800, 8},
                      WaitModeCase{0x82800, 7, 0x800, 8}, WaitModeCase{0x100, 3, 0x800, 8},
                      WaitModeCase{0x2002, 3, 0x2000, 2}, WaitModeCase{0x1000, 3, 0x800, 8},
                      WaitModeCase{0x3800, 3, 0x3800, 8}, WaitModeCase{0x1F, 3, 0x800, 0x1E}));

}  // namespace
