// A controller whose COM1 is the slave side of a pseudo-terminal; the test
// plays the controller on the master side. Line events the controller
// reports (break 21, line error 24) are posted to a window of the test and
// collected here.
#pragma once

#include "common/test_util.h"
#include "engine/controller.h"
#include "platform/zel_messages.h"
#include "platform/zel_paths.h"
#include "serial/kv_serial.h"
#include "serial/port_enumeration.h"
#include "serial/pty_peer.h"
#include "support/library_state.h"
#include "support/protocol_log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace zeltest {

class SerialLineTest : public ::testing::Test {
protected:
    static constexpr ZelWindow kWindow = 0x5E1;
    static constexpr unsigned kMessage = 1034;

    SerialLineTest()
        : ini_("ZELCOMM_INI", dir_.File("ZELCOMM.INI").c_str()),
          protocolDir_("ZELCOMM_PROTOCOL_DIR", dir_.path().c_str()) {
        dir_.Write("ZELCOMM.INI", "[Ports]\nCOM1=" + peer_.SlavePath() + "\n");
        zel::ResetConfigPath();
        zel::ResetPortMapping();
        const bool present[zel::kMaxPorts] = {true};
        zel::SetPortPresentFlags(present);
        c_ = std::make_unique<zel::TController>(0);
        c_->hCWnd = kWindow;
        c_->unCMessage = kMessage;
        zel::SetWindowProc(kWindow, &SerialLineTest::Record, this);
    }
    ~SerialLineTest() override {
        // Disconnect first, as the library does before it destroys the
        // controller: the event thread reads the controller's members until
        // it has ended.
        if (c_->pCSerial) c_->pCSerial->SetActive(false);
        c_.reset();
        zel::KvDiagProtSetupFile(false, -1, 1);
        zel::ResetMessageState();
        const bool none[zel::kMaxPorts] = {};
        zel::SetPortPresentFlags(none);
        zel::State().testPoints = 0;
        zel::ResetConfigPath();
        zel::ResetPortMapping();
    }

    zel::TController& C() { return *c_; }
    zel::TKvSerial& S() { return *c_->pCSerial; }

    void StartProtocol() { zel::KvDiagProtSetupFile(true, zel::kLogTrace | zel::kLogData | zel::kLogError, 1); }
    std::string Protocol() const { return ReadWholeFile(dir_.File("Protocol.dat")); }

    // Dispatches posted messages until pred holds or the time is up.
    bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 3000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            zel::DispatchQueuedMessages();
            if (pred()) return true;
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    // Lets the line settle for ms while dispatching messages.
    void Settle(int ms) {
        WaitUntil([] { return false; }, ms);
    }
    int Count(intptr_t code) const {
        int n = 0;
        for (intptr_t c : codes_) n += c == code;
        return n;
    }

    TempDir dir_;
    PtyPeer peer_;
    ScopedEnv ini_, protocolDir_;
    std::unique_ptr<zel::TController> c_;
    std::vector<intptr_t> codes_;  // first parameters of the messages received

private:
    static intptr_t Record(void* context, ZelWindow, unsigned message, intptr_t wParam, intptr_t) {
        if (message == kMessage) static_cast<SerialLineTest*>(context)->codes_.push_back(wParam);
        return 0;
    }
};

}  // namespace zeltest
