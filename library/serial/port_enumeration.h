// Which of the serial ports COM1..COM8 exist, decided once at library load.
#pragma once

namespace zel {

constexpr int kMaxPorts = 8;

// Logs the platform description and sets the eight port-present flags from
// the [Ports] mapping and the devices that exist.
void KvCheckSerPorts();
// index 0 is COM1.
bool PortPresentFlag(int index);
// For tests: set the flags directly.
void SetPortPresentFlags(const bool (&present)[kMaxPorts]);

}  // namespace zel
