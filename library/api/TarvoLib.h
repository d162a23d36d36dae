#pragma once

// The host contract of the download library: flat entry functions returning
// numeric result codes, records the host fetches after an event, and the event
// and message codes. Every entry function is called on the host's thread.

#include <cstdint>

#include "platform/MessageTarget.h"

typedef int32_t ResultCode;
// Names a job: non-zero, unique among live jobs, looked up before every use.
typedef uint32_t JobHandle;
// Called on the library's worker thread for every event, after the posted message.
typedef void (*EventCallback)(int32_t code, uintptr_t handle, uintptr_t context);
// The host's message target; receives (LibraryMessage, event code, job handle or
// manager address). May be null.
typedef platform::MessageTarget* HostWindow;

namespace tarvo {

constexpr uint32_t kLibraryMessage = 0x2B10;

// Results of the entry functions.
namespace result {
constexpr ResultCode kSuccess = 512;
constexpr ResultCode kMissingUrl = 513;
constexpr ResultCode kMissingFolder = 514;
constexpr ResultCode kJobHeld = 515;
constexpr ResultCode kJobNotHeld = 516;
constexpr ResultCode kNotReady = 517;
constexpr ResultCode kAlreadyInitialised = 518;
constexpr ResultCode kOffline = 519;
constexpr ResultCode kInvalidSize = 520;
}  // namespace result

// Events raised to the host (the same numbers, another namespace).
namespace event {
constexpr int32_t kJobSize = 513;
constexpr int32_t kJobProgress = 514;
constexpr int32_t kFileCompleted = 515;
constexpr int32_t kJobCompleted = 516;
constexpr int32_t kJobMessage = 517;
constexpr int32_t kUpdateFile = 518;
constexpr int32_t kUpdateProgress = 519;
constexpr int32_t kEngineReady = 520;
constexpr int32_t kEngineFailed = 521;
constexpr int32_t kDataComplete = 522;
constexpr int32_t kDataFailed = 523;
constexpr int32_t kResumeQuestion = 524;
constexpr int32_t kSizeCheckComplete = 525;
constexpr int32_t kSizeCheckFailed = 526;
constexpr int32_t kEnginePathFailed = 527;
constexpr int32_t kDownloadPathFailed = 528;
constexpr int32_t kDataTick = 529;
constexpr int32_t kEngineState = 530;
}  // namespace event

// Codes inside job messages (event 517).
namespace message {
constexpr int32_t kDiskFull = 513;
constexpr int32_t kNetworkDown = 515;
constexpr int32_t kNetworkBack = 516;
constexpr int32_t kDownloadFailed = 517;
constexpr int32_t kEngineGaveUp = 518;
}  // namespace message

}  // namespace tarvo

struct JobStatus {
    int64_t total;
    int64_t downloaded;
    int32_t fileCount;
    int32_t filesCompleted;
    int32_t speed;
    int64_t elapsed;
    int64_t remaining;
    int32_t percent;
    int32_t currentIndex;
    int64_t currentSize;
    int64_t currentDone;
    int64_t currentSpeed;
    int64_t currentRemaining;
    int32_t currentPercent;
    char currentName[66];
};

struct JobSizeRecord {
    int32_t fileCount;
    int64_t total;
};

struct JobResultRecord {
    int32_t fileCount;
    int32_t valueA;
    int32_t valueB;
};

struct CompletedFileRecord {
    int32_t fileCount;
    int32_t sequence;
    char text[1024];
};

// Host side of a job message: the code comes back, the text is copied into the
// host's buffer (sized by TarvoLib_GetJobMessageLength).
struct JobMessage {
    int32_t code;
    char* text;
};

struct DataBuffer {
    void* data;
    int64_t size;
};

// Lifecycle.
ResultCode TarvoLib_InitializeEx(HostWindow window, EventCallback callback, uintptr_t context,
                                 uint8_t elevate);
ResultCode TarvoLib_Initialize(HostWindow window, EventCallback callback, uintptr_t context);
ResultCode TarvoLib_Finalize();
uintptr_t TarvoLib_GetContext();

// Data downloads into memory.
ResultCode TarvoLib_DownloadData(const char* url);
ResultCode TarvoLib_DownloadData2(const char* url);
ResultCode TarvoLib_GetDataSize(int64_t* size);
ResultCode TarvoLib_GetData(DataBuffer* buffer);

// Size checks of URL lists.
ResultCode TarvoLib_AddSizeCheckUrl(const char* url);
ResultCode TarvoLib_StartSizeCheck();
ResultCode TarvoLib_GetTotalSize(int64_t* size);

// Jobs.
ResultCode TarvoLib_CreateJob(JobHandle* handle, const char* kind, const char* name);
ResultCode TarvoLib_RemoveJob(JobHandle job);
ResultCode TarvoLib_AddFileEx(JobHandle job, const char* url, const char* folder,
                              const char* fileName, uint32_t sizeLo, int32_t sizeHi,
                              int32_t optionA, int32_t optionB);
ResultCode TarvoLib_AddFile(JobHandle job, const char* url, const char* folder,
                            const char* fileName, uint32_t sizeLo, int32_t sizeHi, int32_t optionA);
// The SHA-256 (64 hex digits) and size the publisher's signed metadata gives
// for the job's files with this URL: such a file counts as complete only once
// its bytes match. 517 when the job holds no such file, is running, or the
// digest is not 64 hex digits; 520 for a negative size.
ResultCode TarvoLib_SetFileDigest(JobHandle job, const char* url, const char* sha256Hex,
                                  uint32_t sizeLo, int32_t sizeHi);
ResultCode TarvoLib_StartJob(JobHandle job, uint8_t mode);
ResultCode TarvoLib_StartJob2(JobHandle job, uint8_t mode);
ResultCode TarvoLib_StopJob(JobHandle job);
ResultCode TarvoLib_StopJob2(JobHandle job, int32_t ignored);
ResultCode TarvoLib_SetJobFlag(JobHandle job);
ResultCode TarvoLib_AnswerResume(JobHandle job, uint8_t resume, uint8_t remember);
ResultCode TarvoLib_SetEngineText(const char* text);

// Job records.
ResultCode TarvoLib_GetJobProgress(JobHandle job, JobStatus* status);
ResultCode TarvoLib_GetRemainingSize(JobHandle job, int64_t* size);
ResultCode TarvoLib_GetJobSize(JobHandle job, JobSizeRecord* record);
ResultCode TarvoLib_GetJobResult(JobHandle job, JobResultRecord* record);
ResultCode TarvoLib_GetCompletedFile(JobHandle job, CompletedFileRecord* record);
ResultCode TarvoLib_GetJobMessageLength(JobHandle job, int32_t* length);
ResultCode TarvoLib_GetJobMessage(JobHandle job, JobMessage* message);

// Needs no initialisation: 512 when size bytes fit on the file system of path.
ResultCode TarvoLib_CheckDiskSpace(const char* path, uint32_t sizeLo, int32_t sizeHi);
