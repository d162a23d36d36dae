#pragma once

namespace platform {

// True when a network interface other than loopback is up and has an address.
bool IsInternetConnected();

// Tests replace the probe (to take the network "down" and "up" again);
// nullptr restores the real one.
using InternetProbe = bool (*)();
void SetInternetProbe(InternetProbe probe);

}  // namespace platform
