#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/jobs/IJobHost.h"
#include "engine/jobs/ITransferBackend.h"
#include "engine/jobs/JobOrder.h"

namespace engine::jobs {

// Why a job was given up; sent as the result of its finish with the failure
// flag set, so that the library carries it on the direct path.
enum class JobResult : uint32_t {
    Completed = 0,
    MirrorsFailed = 1,  // a file could not be had from any of its mirrors
    WriteFailed = 2,    // writing failed: disk full or the file cannot be written
    FolderFailed = 3,   // the job's folder cannot be made or written
    SizeUnknown = 4,    // a file's size could not be found
};

// One job from acceptance to its end: finds unknown sizes, announces the job,
// asks about partial files, then downloads several files at once and reports
// progress, each finished file and the end.
class EngineJob final : private ITransferListener {
  public:
    EngineJob(IJobHost& host, ITransferBackend& backend, JobOrder order, uint32_t engineKey,
              uint64_t clientId);
    ~EngineJob();
    EngineJob(const EngineJob&) = delete;
    EngineJob& operator=(const EngineJob&) = delete;

    // Checks the job and begins; a job that cannot be taken at all is answered
    // with a job error.
    void Start();
    // The answer to the resume question: resume partial files or start them over.
    void Answer(bool resume);
    // Stops the transfers; partial files stay for a later resume.
    void Stop();
    // Once a second: the progress report of a downloading job.
    void Tick();

    uint32_t Serial() const { return order_.serial; }
    uint32_t EngineKey() const { return key_; }
    // The client that gave the job, by an id the engine never reuses: a
    // gone client's memory may hold the next one.
    uint64_t ClientId() const { return clientId_; }
    bool IsAwaitingAnswer() const { return state_ == State::AwaitingAnswer; }
    bool IsOver() const { return state_ == State::Over; }

  private:
    enum class State { Sizing, AwaitingAnswer, Running, Over };
    enum class FileState { Pending, Running, Done };

    struct File {
        JobOrderFile order;
        std::vector<std::string> mirrors;
        std::string path;
        FileState state = FileState::Pending;
        bool partial = false;
        int64_t onDisk = 0;
        int64_t lastSampleBytes = 0;
        std::unique_ptr<ITransfer> transfer;
    };

    void OnTransferFinished(uint32_t id, TransferOutcome outcome) override;
    void OnSizeFound(uint32_t id, bool ok, int64_t size) override;

    std::string CheckOrder() const;
    void Accept();
    void Begin();
    void StartMore();
    void SendProgress();
    void Fail(JobResult result, const std::string& why);
    void Complete();
    void End();
    int64_t DoneBytes() const;
    int64_t TotalBytes() const;

    IJobHost& host_;
    ITransferBackend& backend_;
    const JobOrder order_;
    const uint32_t key_;
    const uint64_t clientId_;
    bool accepted_ = false;
    State state_ = State::Sizing;
    std::vector<File> files_;
    std::size_t sizesPending_ = 0;
    std::chrono::steady_clock::time_point started_;
    int64_t lastDone_ = 0;
};

}  // namespace engine::jobs
