#include "common/fake_serial.h"

namespace zeltest {

FakeSerial::FakeSerial(zel::TController* owner) : zel::TKvSerial(owner) {
    worker_ = std::thread([this] { Worker(); });
}

FakeSerial::~FakeSerial() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    cv_.notify_all();
    worker_.join();
}

void FakeSerial::Answer(const std::string& reply, Delivery how, int chunks) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.push_back({reply, how, chunks < 1 ? 1 : chunks});
}

void FakeSerial::Deliver(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        input_ += text;
    }
    nSTEventCount++;
    pOwner->KvCOnEventChar();
}

std::vector<std::string> FakeSerial::Sent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
}

bool FakeSerial::OpenIt() {
    if (bActive) return false;
    bActive = true;
    return true;
}

void FakeSerial::CloseIt() {
    // Like the real port's close: no delivery runs once it has returned.
    std::unique_lock<std::mutex> lock(mutex_);
    pendingDeliveries_.clear();
    cv_.wait(lock, [this] { return !delivering_; });
    bActive = false;
}

bool FakeSerial::TransmitText(const std::string& text, int expectedLines, int& written) {
    written = 0;
    if (!bActive || failWrites) return false;
    nSTExpectedLines = expectedLines;
    written = shortWrite >= 0 ? shortWrite : static_cast<int>(text.size());
    Script next{"", Delivery::Later, 0};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sent_.push_back(text);
        if (script_.empty()) return true;
        next = script_.front();
        script_.pop_front();
    }
    if (next.how == Delivery::ByteOnly) {
        // The text arrives but no event character is reported.
        std::lock_guard<std::mutex> lock(mutex_);
        input_ += next.reply;
        return true;
    }
    // Split the reply into chunks delivered one after the other.
    const size_t size = next.reply.size();
    const size_t piece = size / static_cast<size_t>(next.chunks) + 1;
    std::vector<std::string> parts;
    for (size_t at = 0; at < size; at += piece) parts.push_back(next.reply.substr(at, piece));
    if (parts.empty()) parts.push_back(std::string());
    if (next.how == Delivery::Immediately) {
        for (const std::string& part : parts) Deliver(part);
    } else {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::string& part : parts) pendingDeliveries_.push_back(part);
        cv_.notify_all();
    }
    return true;
}

std::string FakeSerial::ReceiveText(int& count) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text = input_.substr(0, 1023);
    input_.erase(0, text.size());
    count = static_cast<int>(text.size());
    return text;
}

bool FakeSerial::DataInBuffer(int& inCount, int& outCount, unsigned& errorWordOut) {
    std::lock_guard<std::mutex> lock(mutex_);
    inCount = static_cast<int>(input_.size());
    outCount = 0;
    errorWordOut = errorWord;
    errorWord = 0;
    return !errorQueryFails && bActive;
}

bool FakeSerial::Purge() {
    std::lock_guard<std::mutex> lock(mutex_);
    input_.clear();
    return bActive;
}

bool FakeSerial::TransmitCommChar(char c) {
    if (!bActive) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    sent_.push_back(std::string(1, c));
    return true;
}

void FakeSerial::Worker() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        cv_.wait(lock, [this] { return stop_ || !pendingDeliveries_.empty(); });
        if (stop_) return;
        std::string part = pendingDeliveries_.front();
        pendingDeliveries_.pop_front();
        delivering_ = true;
        lock.unlock();
        // A little later than the transmission, as a real line would answer.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        Deliver(part);
        lock.lock();
        delivering_ = false;
        cv_.notify_all();
    }
}

FakeSerial& InstallFakeSerial(zel::TController& c) {
    auto fake = std::make_unique<FakeSerial>(&c);
    FakeSerial& ref = *fake;
    c.pCSerial = std::move(fake);
    return ref;
}

}  // namespace zeltest
