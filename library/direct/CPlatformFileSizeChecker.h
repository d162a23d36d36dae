#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "library/direct/CPlatformFileSizeCheckSession.h"
#include "library/direct/ICheckerEventListener.h"
#include "library/direct/IPlatformFileSizeCheckSessionEventListener.h"
#include "library/direct/SizeCheckResult.h"
#include "library/jobs/FileEntry.h"

class CJob;

// The size check of one job of the direct downloader: finds the sizes that are
// still unknown (-1), at most five at a time, checks that each file fits on its
// drive and reports the job's totals. Works on copies, so the job's own entries
// are never touched. Runs on the worker thread; the owner calls it under the
// engine lock.
//
// Reports, each the last thing the checker does in that turn, so the listener
// may delete the checker inside:
// - OnSizeCheckComplete once every size is known; inside Check when every entry
//   already had one (or there are none);
// - OnSizeCheckFailed at most once, never inside Check; the running sessions
//   are stopped first and the check never completes.
// Deleting the checker (or a new Check) stops its sessions; it reports nothing
// after that.
class CPlatformFileSizeChecker final : public IPlatformFileSizeCheckSessionEventListener {
  public:
    static constexpr size_t kMaxRunning = 5;

    CPlatformFileSizeChecker() = default;
    virtual ~CPlatformFileSizeChecker();
    CPlatformFileSizeChecker(const CPlatformFileSizeChecker&) = delete;
    CPlatformFileSizeChecker& operator=(const CPlatformFileSizeChecker&) = delete;

    // listener: not owned; nullptr detaches. context is handed back with every
    // report.
    void SetListener(ICheckerEventListener* listener, uintptr_t context) {
        listener_ = listener;
        context_ = context;
    }
    // Checks the job's file table.
    void Check(const CJob& job);
    void Check(const std::vector<const FileEntry*>& entries);

    size_t RunningCount() const { return running_.size(); }
    int32_t CompletedCount() const { return completed_; }
    // The copies of the entries whose size was unknown, with the sizes found.
    const std::vector<FileEntry>& CheckedEntries() const { return entries_; }

    // IPlatformFileSizeCheckSessionEventListener
    void OnEntrySizeChecked(CPlatformFileSizeCheckSession* session) override;
    void OnEntrySizeCheckFailed(CPlatformFileSizeCheckSession* session, int32_t code,
                                const char* url) override;

  private:
    void StartSessions();
    void Finish();

    int32_t next_ = 0;
    int32_t completed_ = 0;
    // Sized once per check: sessions point into it.
    std::vector<FileEntry> entries_;
    std::vector<std::unique_ptr<CPlatformFileSizeCheckSession>> running_;
    int64_t knownSizeTotal_ = 0;
    int64_t knownDownloadedTotal_ = 0;
    int32_t knownCount_ = 0;
    bool failed_ = false;
    ICheckerEventListener* listener_ = nullptr;
    uintptr_t context_ = 0;
};
