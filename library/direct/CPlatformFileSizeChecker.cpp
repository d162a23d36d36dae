#include "library/direct/CPlatformFileSizeChecker.h"

#include <algorithm>

#include "library/jobs/CJob.h"

CPlatformFileSizeChecker::~CPlatformFileSizeChecker() {
    listener_ = nullptr;
    running_.clear();
}

void CPlatformFileSizeChecker::Check(const CJob& job) {
    std::vector<const FileEntry*> entries;
    entries.reserve(job.FileCount());
    for (size_t i = 0; i < job.FileCount(); ++i)
        entries.push_back(&job.File(i));
    Check(entries);
}

void CPlatformFileSizeChecker::Check(const std::vector<const FileEntry*>& entries) {
    running_.clear();
    entries_.clear();
    next_ = 0;
    completed_ = 0;
    failed_ = false;
    knownSizeTotal_ = 0;
    knownDownloadedTotal_ = 0;
    knownCount_ = 0;
    for (const FileEntry* entry : entries) {
        if (entry->size == -1) {
            entries_.push_back(*entry);
        } else {
            knownSizeTotal_ += entry->size;
            knownDownloadedTotal_ += entry->BytesPresent();
            ++knownCount_;
        }
    }
    if (entries_.empty()) {
        Finish();
        return;
    }
    StartSessions();
}

void CPlatformFileSizeChecker::StartSessions() {
    while (static_cast<size_t>(next_) < entries_.size() && running_.size() < kMaxRunning) {
        running_.push_back(std::make_unique<CPlatformFileSizeCheckSession>(this));
        running_.back()->Start(&entries_[static_cast<size_t>(next_++)]);
    }
    if (static_cast<size_t>(completed_) == entries_.size())
        Finish();
}

void CPlatformFileSizeChecker::OnEntrySizeChecked(CPlatformFileSizeCheckSession* session) {
    const auto it = std::find_if(running_.begin(), running_.end(),
                                 [session](const auto& held) { return held.get() == session; });
    if (it == running_.end())
        return;
    running_.erase(it);
    ++completed_;
    StartSessions();
}

void CPlatformFileSizeChecker::OnEntrySizeCheckFailed(CPlatformFileSizeCheckSession*, int32_t code,
                                                      const char* url) {
    if (failed_)
        return;
    failed_ = true;
    // The check can no longer complete, so the other sessions would only hold
    // connections. url lives on the failing session's stack, not in it.
    running_.clear();
    if (listener_)
        listener_->OnSizeCheckFailed(context_, code, url);
}

void CPlatformFileSizeChecker::Finish() {
    SizeCheckResult result;
    for (const FileEntry& entry : entries_) {
        result.totalSize += entry.size;
        result.totalDownloaded += entry.BytesPresent();
    }
    result.totalSize += knownSizeTotal_;
    result.totalDownloaded += knownDownloadedTotal_;
    result.entryCount = static_cast<int32_t>(entries_.size()) + knownCount_;
    if (listener_)
        listener_->OnSizeCheckComplete(context_, result);
}
