#pragma once

#include <cstdint>

#include "library/api/TarvoLib.h"

// How events reach the host: first the posted message to its window, then its
// callback; either may be missing.
struct HostLink {
    HostWindow window = nullptr;
    EventCallback callback = nullptr;
    uintptr_t context = 0;

    void Raise(int32_t code, uintptr_t handle) const {
        if (window)
            window->Post(tarvo::kLibraryMessage, static_cast<uintptr_t>(code), handle);
        if (callback)
            callback(code, handle, context);
    }
};
