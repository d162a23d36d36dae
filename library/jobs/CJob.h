#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "library/api/HostLink.h"
#include "library/api/TarvoLib.h"
#include "library/jobs/FileEntry.h"

enum class JobState : int32_t { Idle = 0, Running = 1, Completed = 2 };

// A named list of files with its own records and queues. Records are written on
// the worker thread and taken by the host's thread; the job's own mutex makes
// each append and take atomic against the other. Events are raised after the
// mutex is released, so a host callback may call straight back into the job.
class CJob {
  public:
    static constexpr size_t kKindMax = 3;
    static constexpr size_t kNameMax = 32;

    CJob(JobHandle handle, int32_t serial, const char* kind, const char* name, HostLink host);
    CJob(const CJob&) = delete;
    CJob& operator=(const CJob&) = delete;

    JobHandle Handle() const { return handle_; }
    int32_t Serial() const { return serial_; }
    const char* Kind() const { return kind_; }
    const char* Name() const { return name_; }
    const HostLink& Host() const { return host_; }
    void Raise(int32_t code) const { host_.Raise(code, handle_); }

    JobState State() const { return state_; }
    void SetState(JobState state) { state_ = state; }
    int32_t Mode() const { return mode_; }
    void SetMode(int32_t mode) { mode_ = mode; }
    uint8_t Flag() const { return flag_; }
    void SetFlag() { flag_ = 1; }
    int32_t EngineKey() const { return engineKey_; }
    void SetEngineKey(int32_t key) { engineKey_ = key; }
    const std::string& DownloadFolder() const { return downloadFolder_; }

    // Files, in the order added.
    size_t FileCount() const { return files_.size(); }
    FileEntry& File(size_t index) { return *files_[index]; }
    const FileEntry& File(size_t index) const { return *files_[index]; }
    // Looks a local path up case-insensitively; nullptr when absent.
    FileEntry* FindFile(const std::string& localPath);
    // Appends the file (the caller has validated it); false for a duplicate path.
    bool AddFile(std::unique_ptr<FileEntry> entry);

    // Status, copied whole.
    JobStatus Status() const;
    void SetStatus(const JobStatus& status);

    // Pending records: a new one replaces an unread one.
    void PutSizeRecord(const JobSizeRecord& record);
    std::optional<JobSizeRecord> TakeSizeRecord();
    void PutResultRecord(const JobResultRecord& record);
    std::optional<JobResultRecord> TakeResultRecord();

    // FIFO queues.
    void PushCompletedFile(const CompletedFileRecord& record);
    std::optional<CompletedFileRecord> TakeCompletedFile();
    int32_t NextCompletedSequence() { return ++completedCounter_; }
    // Empty text is stored as no text.
    void PushMessage(int32_t code, const char* text);
    // Length of the oldest message's text + 1; 0 when there is none or it has no text.
    int32_t PeekMessageLength() const;
    // Takes the oldest message: false when none is pending.
    bool TakeMessage(int32_t& code, std::string& text, bool& hasText);

  private:
    struct StoredMessage {
        int32_t code = 0;
        std::optional<std::string> text;
    };

    static std::string Key(const std::string& localPath);

    const JobHandle handle_;
    const int32_t serial_;
    char kind_[kKindMax + 1] = {};
    char name_[kNameMax + 1] = {};
    const HostLink host_;

    JobState state_ = JobState::Idle;
    int32_t mode_ = 1;
    uint8_t flag_ = 0;
    int32_t engineKey_ = 0;
    int32_t completedCounter_ = 0;
    std::string downloadFolder_;

    std::vector<std::unique_ptr<FileEntry>> files_;
    std::unordered_map<std::string, FileEntry*> fileMap_;

    mutable std::mutex recordsMutex_;
    JobStatus status_ = {};
    std::optional<JobSizeRecord> sizeRecord_;
    std::optional<JobResultRecord> resultRecord_;
    std::deque<CompletedFileRecord> completedFiles_;
    std::deque<StoredMessage> messages_;

    friend class CJobManager;  // sets the download folder while adding files
};
