#pragma once

#include <cstdint>

// Process-wide flag read by the engine runner: the engine is started with
// elevation only while it is 1. Set by the manager's set-up; initially 1.
int32_t ElevateFlag();
void SetElevateFlag(uint8_t value);
