// The far end of a pseudo-terminal: tests open the slave side through the
// library, as a serial device, and play the controller on the master side.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace zeltest {

class PtyPeer {
public:
    PtyPeer() {
        if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty: " << errno;
            return;
        }
        const char* name = ::ttyname(slave_);
        if (name) path_ = name;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPeer() {
        CloseMaster();
        if (slave_ >= 0) ::close(slave_);
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& SlavePath() const { return path_; }
    int Master() const { return master_; }
    int Slave() const { return slave_; }

    // Writes every byte to the line (the library's side reads them).
    void Send(const std::string& bytes) {
        size_t done = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (done < bytes.size() && std::chrono::steady_clock::now() < deadline) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 50);
            } else {
                break;
            }
        }
        EXPECT_EQ(done, bytes.size()) << "the line took only part of the text";
    }

    // Reads what the library wrote, until `want` bytes arrived or the time
    // is up.
    std::string Receive(size_t want, int timeoutMs = 2000) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < want) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) break;
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char buf[4096];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) got.append(buf, static_cast<size_t>(n));
            else if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        }
        return got;
    }

    // Everything the library wrote so far, without waiting.
    std::string Drain() { return Receive(static_cast<size_t>(-1), 50); }

    // The controller goes away: the library's side sees a hang-up.
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    int slave_ = -1;  // kept open so that the terminal outlives the library's opens
    std::string path_;
};

}  // namespace zeltest
