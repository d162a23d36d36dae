#include "library/engine/EngineReportCheck.h"

#include "library/jobs/CJob.h"
#include "platform/FileSystem.h"

namespace tarvo {

FileEntry* ReportedJobFile(CJob& job, const std::string& path) {
    FileEntry* entry = job.FindFile(path);
    if (!entry || entry->LocalPath() != path)
        return nullptr;
    const int64_t size = platform::RegularFileSize(path);
    if (size < 0 || (entry->size >= 0 && size != entry->size))
        return nullptr;
    return entry;
}

bool EveryFileReported(const CJob& job) {
    for (size_t i = 0; i < job.FileCount(); ++i) {
        if (job.File(i).state != FileState::Done)
            return false;
    }
    return true;
}

}  // namespace tarvo
