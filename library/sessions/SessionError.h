#pragma once

#include <cstdint>

// Why a download session gave up, reported once to its owner.
enum SessionErrorCode : int32_t {
    kSessionConnectFailed = 3,    // connect timed out or refused
    kSessionBadResponse = 4,      // status not accepted, no length, unusable redirect
    kSessionReceiveTimeout = 5,   // nothing received for the receive timeout
    kSessionClosed = 6,           // closed before the body was complete
    kSessionHostUnreachable = 7,  // the connection could not be made
};
