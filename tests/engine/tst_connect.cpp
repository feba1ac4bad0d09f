// The connect sequence over a scripted line: connect texts, identification
// and its acceptance rules, the model question, version, axis count,
// failures, and disconnecting.
#include "common/fake_serial.h"
#include "platform/zel_clock.h"
#include "platform/zel_messages.h"
#include "support/library_state.h"

#include <gtest/gtest.h>

namespace {

using zeltest::FakeSerial;
using Delivery = zeltest::FakeSerial::Delivery;

int gAnswer = 0;
std::vector<std::string> gQuestions;

int Answer(void*, ZelWindow, const char* text, const char*, unsigned type) {
    if (type & ZEL_MB_YESNO) gQuestions.push_back(text);
    return gAnswer;
}

class Connect : public ::testing::Test {
protected:
    void SetUp() override {
        zel::ResetLibraryState();
        gQuestions.clear();
        gAnswer = 0;
        zel::SetMessageBoxHandler(Answer, nullptr);
    }
    void TearDown() override {
        zel::SetMessageBoxHandler(nullptr, nullptr);
        zel::ResetLibraryState();
    }
    void Make(int typeBit, int axes) {
        c_ = std::make_unique<zel::TController>(0);
        c_->KvCSelectModelByType(typeBit);
        c_->nCPort = 0;
        c_->sCName = "Controller1";
        for (int i = 0; i < axes; ++i) c_->pCAxes.push_back(std::make_unique<zel::TAxis>());
        line_ = &zeltest::InstallFakeSerial(*c_);
        c_->nCTimeout = 200;
    }
    // Scripts a multi-axis controller that accepts the connect string.
    void Script(const std::string& identify, const std::string& version = "2.24\r\n") {
        line_->Answer("0\r\n0\r\n", Delivery::Immediately);
        line_->Answer(identify, Delivery::Immediately);
        line_->Answer(version, Delivery::Immediately);
    }
    std::unique_ptr<zel::TController> c_;
    FakeSerial* line_ = nullptr;
};

TEST_F(Connect, MultiAxisSequenceWithAcceptedIdentify) {
    Make(1, 3);
    Script("Varne x 224 1 5\r\n");
    ASSERT_TRUE(c_->KvCConnect(0));
    EXPECT_TRUE(c_->bCConnected);
    EXPECT_FALSE(c_->bCConnecting);
    EXPECT_TRUE(gQuestions.empty());
    EXPECT_EQ(c_->ucCBaudCode, 4);
    EXPECT_EQ(c_->nCMachineType, 1);
    EXPECT_EQ(c_->dCVersion, 2.24);
    EXPECT_EQ(line_->Sent(), (std::vector<std::string>{"0 mode\r\nclear\r\n0 setioport\r\nm ge ge ge\r\n",
                                                       "identify\r\n", "version\r\n", "3 setdim\r\n"}));
}

struct IdentifyCase {
    const char* name;
    std::string identify;
    int expectedError;  // 0: connected
};

class IdentifyRules : public Connect, public ::testing::WithParamInterface<IdentifyCase> {};

TEST_P(IdentifyRules, AcceptOrRefuse) {
    Make(1, 3);
    Script(GetParam().identify + "\r\n");
    c_->nCLastError = 0;
    const bool connected = c_->KvCConnect(0);
    EXPECT_EQ(connected, GetParam().expectedError == 0);
    if (!connected) {
        EXPECT_EQ(c_->nCLastError, GetParam().expectedError);
        EXPECT_FALSE(c_->pCSerial->bActive) << "a failed connect closes the port";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, IdentifyRules,
    ::testing::Values(IdentifyCase{"OldUnknownModel", "Foo x 199 1 5", 17},
                      IdentifyCase{"TextComparedVersion", "Foo x 2a 1 5", 0},
                      IdentifyCase{"LongerVersionIsSmaller", "Foo x 1000 1 5", 17},
                      IdentifyCase{"DotRefused", "Varne x 2.24 1 5", 16},
                      IdentifyCase{"FourWords", "Varne x 224 1", 16},
                      IdentifyCase{"SixWordsReadsFive", "Varne x 224 1 5 6", 0},
                      IdentifyCase{"Empty", "", 16},
                      IdentifyCase{"SixtyFourCharacters", "Ulmeta x 224 1 " + std::string(49, 'a'), 0},
                      IdentifyCase{"SixtyFiveCharacters", "Ulmeta x 224 1 " + std::string(50, 'a'), 16},
                      IdentifyCase{"ThousandCharacters", std::string(1000, 'a'), 16},
                      IdentifyCase{"BinaryBytes", "Varne x 224 \x01 5", 16}),
    [](const ::testing::TestParamInfo<IdentifyCase>& info) { return std::string(info.param.name); });

TEST_F(Connect, ModelQuestionOnlyWhenTheIdentifyDoesNotFit) {
    Make(1, 3);
    line_->Answer("0\r\n0\r\n", Delivery::Immediately);
    line_->Answer("Prusk x 224 1 5\r\n", Delivery::Immediately);
    gAnswer = ZEL_IDNO;
    EXPECT_FALSE(c_->KvCConnect(0));
    EXPECT_EQ(c_->nCLastError, ZEL_ERR_IDENTIFY);
    ASSERT_EQ(gQuestions.size(), 1u);
    EXPECT_EQ(gQuestions[0], "Controller identifies as Prusk,\nyou have selected Default.\nTry to connect anyway?");

    // Without an answer (no handler gives 0) the connection is kept.
    Script("Prusk x 224 1 5\r\n");
    gAnswer = 0;
    EXPECT_TRUE(c_->KvCConnect(0));
}

TEST_F(Connect, TwoAxisMachineAndSwitchWords) {
    Make(1, 4);
    Script("Varne x 224 0 6\r\n");
    ASSERT_TRUE(c_->KvCConnect(0));
    EXPECT_EQ(c_->nCMachineType, 0);
    EXPECT_EQ(c_->ucCBaudCode, 3);  // setting 6: 19200
    EXPECT_EQ(c_->pCAxes[1]->ucAMode, 2);
    EXPECT_EQ(c_->pCAxes[2]->ucAMode, 0);
    EXPECT_EQ(c_->pCAxes[3]->ucAMode2, 0);
    EXPECT_EQ(line_->Sent().size(), 3u) << "no setdim for four axes on model 0";

    Script("Varne x 224 1 7\r\n");
    ASSERT_TRUE(c_->KvCConnect(0));
    EXPECT_EQ(c_->ucCBaudCode, 3) << "setting 7 keeps the code";
}

TEST_F(Connect, SingleAxisSequencePerAxis) {
    Make(4, 2);
    for (int axis = 1; axis <= 2; ++axis) line_->Answer("0\r\n0\r\n", Delivery::Immediately);
    line_->Answer("Prusk-8 x 224 1 5\r\n", Delivery::Immediately);
    line_->Answer("Prusk-8 y 224 1 5\r\n", Delivery::Immediately);
    line_->Answer("1.5\r\n", Delivery::Immediately);
    line_->Answer("0.5\r\n", Delivery::Immediately);
    ASSERT_TRUE(c_->KvCConnect(0));
    EXPECT_TRUE(gQuestions.empty());
    const auto sent = line_->Sent();
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[0], "0 1 nmode\r\n1 nclear\r\n-1 1 snv 1 gne 1 gne 1 gne\r\n");
    EXPECT_EQ(sent[1], "0 2 nmode\r\n2 nclear\r\n-1 2 snv 2 gne 2 gne 2 gne\r\n");
    EXPECT_EQ(sent[2], "1 nidentify\r\n");
    EXPECT_EQ(sent[3], "2 nidentify\r\n");
    EXPECT_EQ(sent[4], "1 nversion\r\n");
    EXPECT_EQ(sent[5], "2 nversion\r\n");
    EXPECT_EQ(c_->pCAxes[1]->sAIdentify, "Prusk-8 y 224 1 5");
    EXPECT_EQ(c_->pCAxes[0]->dAVersion, 1.5);
    EXPECT_EQ(c_->pCAxes[1]->dAVersion, 0.5);
}

TEST_F(Connect, SkipOpensThePortOnly) {
    Make(1, 3);
    c_->sCConnectString = "Skip";
    ASSERT_TRUE(c_->KvCConnect(0));
    EXPECT_TRUE(line_->Sent().empty());
    EXPECT_TRUE(c_->pCSerial->bActive);
}

TEST_F(Connect, FailuresDisconnectWithTheirCodes) {
    zel::VirtualClock clock;
    zel::ScopedClock scoped(clock);
    Make(1, 3);
    // Silent controller: the connect string is not answered.
    EXPECT_FALSE(c_->KvCConnect(0));
    EXPECT_EQ(c_->nCLastError, ZEL_ERR_COMMAND_FAILED);
    EXPECT_FALSE(c_->pCSerial->bActive);
    // Version not answered: the code of the failed command and a box.
    line_->Answer("0\r\n0\r\n", Delivery::Immediately);
    line_->Answer("Varne x 224 1 5\r\n", Delivery::Immediately);
    c_->nCLastError = 0;
    EXPECT_FALSE(c_->KvCConnect(0));
    EXPECT_EQ(c_->nCLastError, ZEL_ERR_TIMEOUT);
    // The port cannot be opened: nothing is sent.
    const size_t before = line_->Sent().size();
    zel::State().testPoints = zel::kTpSerialSetupAfterPort;
    EXPECT_FALSE(c_->KvCConnect(0));
    EXPECT_EQ(line_->Sent().size(), before);
}

TEST_F(Connect, AsynchronousModeIsRestoredAfterTheSequence) {
    zel::VirtualClock clock;
    zel::ScopedClock scoped(clock);
    Make(1, 3);
    c_->KvCSetWaitMode(0x100A04);
    Script("Varne x 224 1 5\r\n");
    EXPECT_TRUE(c_->KvCConnect(0));
    EXPECT_EQ(c_->ucCSignalMode, 4);
    EXPECT_FALSE(c_->KvCConnect(0)) << "silent line";
    EXPECT_EQ(c_->ucCSignalMode, 4);
}

TEST_F(Connect, DisconnectSendsTheDisconnectStringPerAxis) {
    Make(8, 1);
    c_->sCConnectString = "Skip";
    c_->sCDisconnectString = "%d nreset";
    ASSERT_TRUE(c_->KvCConnect(0));
    EXPECT_TRUE(c_->KvCDisconnect(0));
    EXPECT_EQ(line_->Sent(), (std::vector<std::string>{"1 nreset\r\n"}));
    EXPECT_FALSE(c_->bCConnected);
    EXPECT_FALSE(c_->pCSerial->bActive);
}

}  // namespace
