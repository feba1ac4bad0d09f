#include "serial/receive_queue.h"

#include <algorithm>
#include <cstring>

namespace zel {

TReceiveQueue::TReceiveQueue(size_t capacity) : buffer_(capacity > 0 ? capacity : 1) {}

unsigned TReceiveQueue::Feed(const char* raw, size_t count, bool marked, int eventChar, bool parityErrors) {
    if (!raw || count == 0) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    unsigned events = 0;
    if (!marked) {
        for (size_t i = 0; eventChar >= 0 && i < count; ++i)
            if (static_cast<unsigned char>(raw[i]) == eventChar) {
                events |= kEvRxFlag;
                break;
            }
        AppendLocked(raw, count, events);
        return events;
    }
    DecodedInput in;
    decoder_.Feed(raw, count, in, eventChar);
    if (in.breaks) {
        errors_ |= kCeBreak;
        events |= kEvBreak;
    }
    if (in.errors) {
        errors_ |= parityErrors ? kCeRxParity : kCeFrame;
        events |= kEvErr;
    }
    if (in.sawEventChar) events |= kEvRxFlag;
    AppendLocked(in.data.data(), in.data.size(), events);
    return events;
}

void TReceiveQueue::AppendLocked(const char* data, size_t count, unsigned& events) {
    if (count == 0) return;
    const size_t cap = buffer_.size();
    size_t dropped = 0;
    if (count >= cap) {
        dropped = size_ + (count - cap);
        data += count - cap;
        count = cap;
        head_ = 0;
        size_ = 0;
    } else if (size_ + count > cap) {
        dropped = size_ + count - cap;
        head_ = (head_ + dropped) % cap;
        size_ -= dropped;
    }
    size_t tail = (head_ + size_) % cap;
    const size_t first = std::min(count, cap - tail);
    std::memcpy(buffer_.data() + tail, data, first);
    std::memcpy(buffer_.data(), data + first, count - first);
    size_ += count;
    if (dropped > 0) {
        errors_ |= kCeRxOver;
        if (!overflowReported_) {
            overflowReported_ = true;
            events |= kEvErr;
        }
    }
}

unsigned TReceiveQueue::AddErrors(unsigned ceBits) {
    if (ceBits == 0) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    errors_ |= ceBits;
    return kEvErr;
}

size_t TReceiveQueue::Take(char* out, size_t max) {
    if (!out) return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t cap = buffer_.size();
    const size_t n = std::min(max, size_);
    const size_t first = std::min(n, cap - head_);
    std::memcpy(out, buffer_.data() + head_, first);
    std::memcpy(out + first, buffer_.data(), n - first);
    head_ = (head_ + n) % cap;
    size_ -= n;
    // Once the reader has caught up, a new overflow is reported again.
    if (size_ == 0) overflowReported_ = false;
    return n;
}

size_t TReceiveQueue::Size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return size_;
}

unsigned TReceiveQueue::TakeErrors() {
    std::lock_guard<std::mutex> lock(mutex_);
    const unsigned e = errors_;
    errors_ = 0;
    return e;
}

void TReceiveQueue::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    head_ = 0;
    size_ = 0;
    overflowReported_ = false;
    decoder_.Reset();
}

}  // namespace zel
