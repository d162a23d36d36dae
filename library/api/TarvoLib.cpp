// The entry functions: each checks that the library exists and forwards to the
// job manager, which takes the engine lock itself.
#include "library/api/TarvoLib.h"

#include <atomic>
#include <memory>

#include "library/api/CDownloadLibThread.h"
#include "library/api/LibraryState.h"
#include "library/common/DiskSpace.h"
#include "library/common/Log.h"
#include "library/jobs/CJobManager.h"

namespace {

using namespace tarvo;

std::atomic<uintptr_t> gContextSlot{0};
std::atomic<int32_t> gElevate{1};

int64_t JoinSize(uint32_t lo, int32_t hi) {
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(hi)) << 32) | lo);
}

CJobManager* ManagerOrNull(const char* noInstance = nullptr, const char* noManager = nullptr) {
    CDownloadLibThread* instance = CDownloadLibThread::Instance();
    if (!instance) {
        if (noInstance)
            TraceDiagnostic(noInstance);
        return nullptr;
    }
    CJobManager* manager = instance->Manager();
    if (!manager && noManager)
        TraceDiagnostic(noManager);
    return manager;
}

// The pattern of the entry functions marked with a job handle: no instance,
// handle 0 or no manager all answer 517.
template <class Op>
ResultCode ForJob(JobHandle job, Op op) {
    if (!CDownloadLibThread::Instance() || job == 0)
        return result::kNotReady;
    CJobManager* manager = ManagerOrNull();
    return manager ? op(*manager) : result::kNotReady;
}

template <class Op>
ResultCode ForManager(Op op) {
    CJobManager* manager = ManagerOrNull();
    return manager ? op(*manager) : result::kNotReady;
}

}  // namespace

int32_t ElevateFlag() {
    return gElevate.load();
}
void SetElevateFlag(uint8_t value) {
    gElevate.store(value);
}

ResultCode TarvoLib_InitializeEx(HostWindow window, EventCallback callback, uintptr_t context,
                                 uint8_t elevate) {
    if (CDownloadLibThread::Instance())
        return result::kAlreadyInitialised;
    // The instance is published at once: a failed start still counts as
    // initialised until TarvoLib_Finalize.
    CDownloadLibThread* instance = &CDownloadLibThread::Create();

    ResultCode code = result::kNotReady;
    if (instance->Start(hooks::HandshakeTimeout())) {
        if (CJobManager* manager = instance->Manager()) {
            instance->SetContextWord(context);
            code = manager->SetUp(window, callback, context, elevate);
        }
    }
    if (code == result::kSuccess) {
        WriteLog("[TarvoLib] Initialize");
    } else {
        gContextSlot = context;
        WriteLogFormat("[TarvoLib] Initialize Failed : %d", code);
    }
    return code;
}

ResultCode TarvoLib_Initialize(HostWindow window, EventCallback callback, uintptr_t context) {
    return TarvoLib_InitializeEx(window, callback, context, 1);
}

ResultCode TarvoLib_Finalize() {
    WriteLog("[TarvoLib] Finalize Begin");
    CDownloadLibThread::Destroy();
    gContextSlot = 0;
    WriteLog("[TarvoLib] Finalize End");
    return result::kSuccess;
}

uintptr_t TarvoLib_GetContext() {
    if (CDownloadLibThread* instance = CDownloadLibThread::Instance();
        instance && instance->Manager())
        return instance->ContextWord();
    return gContextSlot.load();
}

ResultCode TarvoLib_DownloadData(const char* url) {
    CJobManager* manager = ManagerOrNull("[TarvoLib_D] 0x00A0", "[TarvoLib_D] 0x00A1");
    return manager ? manager->DownloadData(url) : result::kNotReady;
}

ResultCode TarvoLib_DownloadData2(const char* url) {
    return TarvoLib_DownloadData(url);
}

ResultCode TarvoLib_GetDataSize(int64_t* size) {
    return ForManager([&](CJobManager& m) { return m.GetDataSize(size); });
}

ResultCode TarvoLib_GetData(DataBuffer* buffer) {
    return ForManager([&](CJobManager& m) { return m.GetData(buffer); });
}

ResultCode TarvoLib_AddSizeCheckUrl(const char* url) {
    CJobManager* manager = ManagerOrNull("[TarvoLib_D] 0x00B1", "[TarvoLib_D] 0x00B2");
    return manager ? manager->AddSizeCheckUrl(url) : result::kNotReady;
}

ResultCode TarvoLib_StartSizeCheck() {
    CJobManager* manager = ManagerOrNull("[TarvoLib_D] 0x0008", "[TarvoLib_D] 0x0007");
    return manager ? manager->StartSizeCheck() : result::kNotReady;
}

ResultCode TarvoLib_GetTotalSize(int64_t* size) {
    return ForManager([&](CJobManager& m) { return m.GetTotalSize(size); });
}

ResultCode TarvoLib_CreateJob(JobHandle* handle, const char* kind, const char* name) {
    return ForManager([&](CJobManager& m) { return m.CreateJob(handle, kind, name); });
}

ResultCode TarvoLib_RemoveJob(JobHandle job) {
    return ForJob(job, [&](CJobManager& m) { return m.RemoveJob(job); });
}

ResultCode TarvoLib_AddFileEx(JobHandle job, const char* url, const char* folder,
                              const char* fileName, uint32_t sizeLo, int32_t sizeHi,
                              int32_t optionA, int32_t optionB) {
    return ForJob(job, [&](CJobManager& m) {
        return m.AddFile(job, url, folder, fileName, JoinSize(sizeLo, sizeHi), optionA, optionB);
    });
}

ResultCode TarvoLib_AddFile(JobHandle job, const char* url, const char* folder,
                            const char* fileName, uint32_t sizeLo, int32_t sizeHi,
                            int32_t optionA) {
    return TarvoLib_AddFileEx(job, url, folder, fileName, sizeLo, sizeHi, optionA, 0);
}

ResultCode TarvoLib_SetFileDigest(JobHandle job, const char* url, const char* sha256Hex,
                                  uint32_t sizeLo, int32_t sizeHi) {
    return ForJob(job, [&](CJobManager& m) {
        return m.SetFileDigest(job, url, sha256Hex, JoinSize(sizeLo, sizeHi));
    });
}

ResultCode TarvoLib_StartJob(JobHandle job, uint8_t mode) {
    return ForJob(job, [&](CJobManager& m) { return m.StartJob(job, mode); });
}

ResultCode TarvoLib_StartJob2(JobHandle job, uint8_t mode) {
    return TarvoLib_StartJob(job, mode);
}

ResultCode TarvoLib_StopJob(JobHandle job) {
    return ForJob(job, [&](CJobManager& m) { return m.StopJob(job); });
}

ResultCode TarvoLib_StopJob2(JobHandle job, int32_t) {
    return TarvoLib_StopJob(job);
}

ResultCode TarvoLib_SetJobFlag(JobHandle job) {
    return ForManager([&](CJobManager& m) { return m.SetJobFlag(job); });
}

ResultCode TarvoLib_AnswerResume(JobHandle job, uint8_t resume, uint8_t remember) {
    return ForManager([&](CJobManager& m) { return m.AnswerResume(job, resume, remember); });
}

ResultCode TarvoLib_SetEngineText(const char* text) {
    return ForManager([&](CJobManager& m) { return m.SetEngineText(text ? text : ""); });
}

ResultCode TarvoLib_GetJobProgress(JobHandle job, JobStatus* status) {
    return ForJob(job, [&](CJobManager& m) { return m.GetJobProgress(job, status); });
}

ResultCode TarvoLib_GetRemainingSize(JobHandle job, int64_t* size) {
    return ForManager([&](CJobManager& m) { return m.GetRemainingSize(job, size); });
}

ResultCode TarvoLib_GetJobSize(JobHandle job, JobSizeRecord* record) {
    return ForJob(job, [&](CJobManager& m) { return m.GetJobSize(job, record); });
}

ResultCode TarvoLib_GetJobResult(JobHandle job, JobResultRecord* record) {
    return ForJob(job, [&](CJobManager& m) { return m.GetJobResult(job, record); });
}

ResultCode TarvoLib_GetCompletedFile(JobHandle job, CompletedFileRecord* record) {
    return ForJob(job, [&](CJobManager& m) { return m.GetCompletedFile(job, record); });
}

ResultCode TarvoLib_GetJobMessageLength(JobHandle job, int32_t* length) {
    return ForJob(job, [&](CJobManager& m) { return m.GetJobMessageLength(job, length); });
}

ResultCode TarvoLib_GetJobMessage(JobHandle job, JobMessage* message) {
    return ForJob(job, [&](CJobManager& m) { return m.GetJobMessage(job, message); });
}

ResultCode TarvoLib_CheckDiskSpace(const char* path, uint32_t sizeLo, int32_t sizeHi) {
    return CheckDiskSpace(path, JoinSize(sizeLo, sizeHi)) ? result::kSuccess : result::kNotReady;
}
