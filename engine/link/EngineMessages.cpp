#include "engine/link/EngineMessages.h"

#include "engine/link/WireFormat.h"

namespace engine::link {
namespace {

enum Command : uint16_t {
    kAccepted = 4,
    kProgress = 5,
    kFinished = 6,
    kFileCompleted = 7,
    kNotice = 8,
    kNetworkDown = 9,
    kNetworkUp = 10,
    kJobError = 11,
    kResumeQuestion = 16,
};

}  // namespace

std::string BuildJobAccepted(uint32_t serial, uint32_t key, uint32_t fileCount, int64_t total) {
    return wire::FrameWriter(kAccepted).U32(serial).U32(key).U32(fileCount).I64(total).Finish();
}

std::string BuildJobProgress(const ProgressReport& r) {
    wire::FrameWriter w(kProgress);
    w.U32(r.serial).U32(r.engineKey).U32(0).U32(r.fileCount).U32(r.filesDone);
    w.I64(r.total).I64(r.done).U32(r.speed).U32(0).I64(r.timeStamp).Zeros(8);
    w.U32(static_cast<uint32_t>(r.entries.size()));
    for (const ProgressEntry& e : r.entries) {
        w.Fixed(e.name, 33).I64(e.total).I64(e.done).U32(e.speed).Zeros(12).Text(e.name);
    }
    return w.Finish();
}

std::string BuildJobFinished(uint32_t serial, uint32_t key, uint32_t result, bool failed) {
    return wire::FrameWriter(kFinished)
        .U32(serial)
        .U32(key)
        .U32(0)
        .U32(result)
        .U32(failed ? 1 : 0)
        .Finish();
}

std::string BuildFileCompleted(uint32_t serial, uint32_t key, std::string_view jobName,
                               std::string_view localPath, std::string_view extra) {
    return wire::FrameWriter(kFileCompleted)
        .U32(serial)
        .U32(key)
        .Fixed(jobName, 33)
        .Fixed(localPath, 260)
        .Text(extra)
        .Finish();
}

std::string BuildEngineNotice(uint32_t serial, uint32_t key, uint8_t kind, std::string_view text) {
    return wire::FrameWriter(kNotice).U32(serial).U32(key).U8(kind).Text(text).Zeros(16).Finish();
}

std::string BuildNetworkChange(bool up) {
    return wire::FrameWriter(up ? kNetworkUp : kNetworkDown).Zeros(16).Finish();
}

std::string BuildJobError(uint32_t serial, std::string_view text) {
    return wire::FrameWriter(kJobError).U32(serial).U32(0).Text(text).Zeros(16).Finish();
}

std::string BuildResumeQuestion(uint32_t serial) {
    return wire::FrameWriter(kResumeQuestion).U32(serial).Finish();
}

}  // namespace engine::link
