// Test programs that start the library wait for its worker's handshake
// itself, not for the 3000 ms the library grants a worker on a user's
// machine: on a machine loaded by other tests (and slowed by the sanitizers)
// a worker that is merely late is no failure of the test at hand. The test of
// that limit sets its own.
#include <gtest/gtest.h>

#include "library/api/CDownloadLibThread.h"

namespace {

// A safety net far beyond any handshake, well inside the test's own limit.
constexpr uint32_t kHandshakeWaitMs = 60000;

class WorkerHandshake final : public testing::Environment {
    void SetUp() override { tarvo::hooks::SetHandshakeTimeout(kHandshakeWaitMs); }
};

[[maybe_unused]] const testing::Environment* const kRegistered =
    testing::AddGlobalTestEnvironment(new WorkerHandshake);

}  // namespace
