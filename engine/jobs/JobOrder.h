#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace engine::jobs {

struct JobOrderFile {
    int64_t size = -1;  // -1: unknown, found before the job is accepted
    std::string folder;
    std::string name;
    std::string urls;  // mirrors separated by "|"
};

// A job as the library handed it over, before anything was checked.
struct JobOrder {
    uint32_t serial = 0;
    std::string name;
    std::string kind;
    uint8_t mode = 2;  // 1: throttled like the direct path's mode 0; 2: full speed
    bool flag = false;
    std::vector<JobOrderFile> files;
};

}  // namespace engine::jobs
