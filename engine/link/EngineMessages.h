#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The engine's reports to the library, each built as one whole frame.
namespace engine::link {

constexpr uint32_t kNoKey = 0xFFFFFFFFu;

struct ProgressEntry {
    std::string_view name;
    int64_t total = 0;
    int64_t done = 0;
    uint32_t speed = 0;
};

struct ProgressReport {
    uint32_t serial = 0;
    uint32_t engineKey = 0;
    uint32_t fileCount = 0;
    uint32_t filesDone = 0;
    int64_t total = 0;
    int64_t done = 0;
    uint32_t speed = 0;                  // bytes in the last second
    int64_t timeStamp = 0;               // seconds since the job started
    std::vector<ProgressEntry> entries;  // one per running file
};

std::string BuildJobAccepted(uint32_t serial, uint32_t key, uint32_t fileCount, int64_t total);
std::string BuildJobProgress(const ProgressReport& report);
std::string BuildJobFinished(uint32_t serial, uint32_t key, uint32_t result, bool failed);
std::string BuildFileCompleted(uint32_t serial, uint32_t key, std::string_view jobName,
                               std::string_view localPath, std::string_view extra);
std::string BuildEngineNotice(uint32_t serial, uint32_t key, uint8_t kind, std::string_view text);
std::string BuildNetworkChange(bool up);
std::string BuildJobError(uint32_t serial, std::string_view text);
std::string BuildResumeQuestion(uint32_t serial);

}  // namespace engine::link
