// A scripted line in place of the serial port: records every transmission
// and answers from a script, either at once (inside the transmission, before
// the sender starts waiting) or later from a thread of its own, the way the
// serial event thread delivers replies.
#pragma once

#include "engine/controller.h"
#include "serial/kv_serial.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zeltest {

class FakeSerial : public zel::TKvSerial {
public:
    // How a scripted answer arrives.
    enum class Delivery { Immediately, Later, ByteOnly };

    explicit FakeSerial(zel::TController* owner);
    ~FakeSerial() override;

    // The answer to the next transmission (one entry per transmission, in
    // order). Without an entry the line stays silent.
    void Answer(const std::string& reply, Delivery how = Delivery::Later, int chunks = 1);
    // Delivers text now, as the event thread does when a line feed arrives.
    void Deliver(const std::string& text);

    std::vector<std::string> Sent();
    bool failWrites = false;
    int shortWrite = -1;  // write only this many characters when >= 0
    unsigned errorWord = 0;
    bool errorQueryFails = false;

    bool OpenIt() override;
    void CloseIt() override;
    bool TransmitText(const std::string& text, int expectedLines, int& written) override;
    std::string ReceiveText(int& count) override;
    bool DataInBuffer(int& inCount, int& outCount, unsigned& errorWordOut) override;
    bool Purge() override;
    bool TransmitCommChar(char c) override;
    bool HasEventThread() const override { return true; }

private:
    struct Script {
        std::string reply;
        Delivery how;
        int chunks;
    };
    void Worker();
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Script> script_;
    std::deque<std::string> pendingDeliveries_;
    std::string input_;
    std::vector<std::string> sent_;
    bool stop_ = false;
    bool delivering_ = false;
    std::thread worker_;
};

// Installs a FakeSerial as the controller's serial object and returns it.
FakeSerial& InstallFakeSerial(zel::TController& c);

}  // namespace zeltest
