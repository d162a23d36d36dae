#pragma once

#include <string>

namespace platform {

// The process's current folder, ending in "/"; empty when it cannot be read.
std::string WorkingFolder();

}  // namespace platform
