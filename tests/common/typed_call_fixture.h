// A loaded library whose controller is connected over a scripted line, on a
// virtual clock and in the C locale: the ground of the typed-call tests.
#pragma once

#include "common/fake_serial.h"
#include "common/library_fixture.h"
#include "platform/zel_clock.h"

#include <string>

namespace zeltest {

class TypedCallFixture : public LibraryFixture {
protected:
    void SetUp() override { Load(nullptr); }
    void TearDown() override {
        if (zel::Controller()) C().bCConnected = false;
        LibraryFixture::TearDown();
    }
    // A connected controller of the given type on a scripted line.
    FakeSerial& Connect(int type, int axes, unsigned waitMode = 0) {
        EXPECT_EQ(InitController(type, axes, 1, 9600, 0, 0, waitMode), 0);
        line_ = &InstallFakeSerial(C());
        line_->SetActive(true);
        C().bCConnected = true;
        return *line_;
    }
    void Answer(const std::string& reply) { line_->Answer(reply, FakeSerial::Delivery::Immediately); }

    // The system separator is the C locale's '.'; time-outs pass at once.
    ScopedEnv locale_{"LC_ALL", "C"};
    zel::VirtualClock clock_;
    zel::ScopedClock scopedClock_{clock_};
    FakeSerial* line_ = nullptr;
};

}  // namespace zeltest
