// Initialises the library, makes a job and shuts down; exits 0 when every call
// answers as a host expects.
#include <cstdio>

#include "TarvoLib.h"

int main() {
    if (TarvoLib_Initialize(nullptr, nullptr, 0) != tarvo::result::kSuccess)
        return 1;
    JobHandle job = 0;
    const ResultCode created = TarvoLib_CreateJob(&job, "g", "consumer");
    TarvoLib_Finalize();
    std::printf("consumer: create job %d\n", created);
    return created == tarvo::result::kSuccess ? 0 : 2;
}
