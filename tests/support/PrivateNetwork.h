#pragma once

#include <string>

namespace tvxtest {

// Moves the calling thread (and every process it starts later) into a fresh
// network namespace with loopback up and one more interface with an address
// from 198.18.0.0/15, so the network probe reads "up"; nothing is ever sent to
// it. With mounts = true also into a mount namespace of its own, so the test
// can mount small file systems. False (with a reason) when that is impossible.
// Threads started afterwards (the library's worker) share the namespace.
bool EnterPrivateNetwork(std::string& why, bool mounts = false);
// Takes the extra interface down or up again.
bool SetProbeInterface(bool up);

}  // namespace tvxtest
