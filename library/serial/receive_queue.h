// The input queue of a serial port: what the event thread has read from the
// line, decoded, waiting for ReceiveText. It is bounded: a peer that sends
// without end (no line ends, nobody reading) cannot make it grow. When it is
// full the oldest bytes are dropped, so that the newest bytes, where the
// line end of a reply finally arrives, are kept; the loss is reported as a
// receive overflow (CE_RXOVER) in the error word and, once per overflow, as a
// line error event.
#pragma once

#include "serial/parmrk_decoder.h"

#include <cstddef>
#include <mutex>
#include <vector>

namespace zel {

// Line error bits (the CE_ values of the error word).
constexpr unsigned kCeRxOver = 0x01;
constexpr unsigned kCeOverrun = 0x02;
constexpr unsigned kCeRxParity = 0x04;
constexpr unsigned kCeFrame = 0x08;
constexpr unsigned kCeBreak = 0x10;

// Line events (the bits of the event mask).
constexpr unsigned kEvRxFlag = 0x02;  // the event character arrived
constexpr unsigned kEvBreak = 0x40;
constexpr unsigned kEvErr = 0x80;     // line error
constexpr unsigned kDefaultEventMask = kEvRxFlag | kEvBreak | kEvErr;  // 0xC2

class TReceiveQueue {
public:
    static constexpr size_t kDefaultCapacity = 64 * 1024;
    explicit TReceiveQueue(size_t capacity = kDefaultCapacity);
    TReceiveQueue(const TReceiveQueue&) = delete;
    TReceiveQueue& operator=(const TReceiveQueue&) = delete;

    // Decodes raw bytes from the line (PARMRK marks when marked) and appends
    // the data. A character with a line error counts as CE_RXPARITY when
    // parityErrors is set (the driver counted a parity error), else as
    // CE_FRAME. Returns the line events found (kEvBreak, kEvErr, kEvRxFlag).
    unsigned Feed(const char* raw, size_t count, bool marked, int eventChar, bool parityErrors = false);
    // Adds error bits found elsewhere (the driver's counters); returns
    // kEvErr when any were given.
    unsigned AddErrors(unsigned ceBits);
    // Moves at most max bytes to out; returns the number moved.
    size_t Take(char* out, size_t max);
    size_t Size() const;
    size_t Capacity() const { return buffer_.size(); }
    // The error bits collected since the last call, cleared.
    unsigned TakeErrors();
    // Drops the data and an unfinished mark; collected errors stay.
    void Clear();

private:
    void AppendLocked(const char* data, size_t count, unsigned& events);

    mutable std::mutex mutex_;
    std::vector<char> buffer_;
    size_t head_ = 0;
    size_t size_ = 0;
    unsigned errors_ = 0;
    bool overflowReported_ = false;  // one line error event per overflow
    ParmrkDecoder decoder_;
};

}  // namespace zel
