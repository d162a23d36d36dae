#include "library/jobs/CJob.h"

#include <cstring>
#include <utility>

namespace {

void CopyCut(char* out, size_t max, const char* text) {
    if (!text)
        return;
    const size_t n = strnlen(text, max);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

}  // namespace

CJob::CJob(JobHandle handle, int32_t serial, const char* kind, const char* name, HostLink host)
    : handle_(handle), serial_(serial), host_(host) {
    CopyCut(kind_, kKindMax, kind);
    CopyCut(name_, kNameMax, name);
}

std::string CJob::Key(const std::string& localPath) {
    std::string key = localPath;
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

FileEntry* CJob::FindFile(const std::string& localPath) {
    const auto it = fileMap_.find(Key(localPath));
    return it == fileMap_.end() ? nullptr : it->second;
}

bool CJob::AddFile(std::unique_ptr<FileEntry> entry) {
    auto [it, inserted] = fileMap_.emplace(Key(entry->LocalPath()), entry.get());
    if (!inserted)
        return false;
    files_.push_back(std::move(entry));
    return true;
}

JobStatus CJob::Status() const {
    std::lock_guard lock(recordsMutex_);
    return status_;
}

void CJob::SetStatus(const JobStatus& status) {
    std::lock_guard lock(recordsMutex_);
    status_ = status;
}

void CJob::PutSizeRecord(const JobSizeRecord& record) {
    std::lock_guard lock(recordsMutex_);
    sizeRecord_ = record;
}

std::optional<JobSizeRecord> CJob::TakeSizeRecord() {
    std::lock_guard lock(recordsMutex_);
    return std::exchange(sizeRecord_, std::nullopt);
}

void CJob::PutResultRecord(const JobResultRecord& record) {
    std::lock_guard lock(recordsMutex_);
    resultRecord_ = record;
}

std::optional<JobResultRecord> CJob::TakeResultRecord() {
    std::lock_guard lock(recordsMutex_);
    return std::exchange(resultRecord_, std::nullopt);
}

void CJob::PushCompletedFile(const CompletedFileRecord& record) {
    std::lock_guard lock(recordsMutex_);
    completedFiles_.push_back(record);
}

std::optional<CompletedFileRecord> CJob::TakeCompletedFile() {
    std::lock_guard lock(recordsMutex_);
    if (completedFiles_.empty())
        return std::nullopt;
    CompletedFileRecord record = completedFiles_.front();
    completedFiles_.pop_front();
    return record;
}

void CJob::PushMessage(int32_t code, const char* text) {
    StoredMessage message;
    message.code = code;
    if (text && *text)
        message.text.emplace(text);
    std::lock_guard lock(recordsMutex_);
    messages_.push_back(std::move(message));
}

int32_t CJob::PeekMessageLength() const {
    std::lock_guard lock(recordsMutex_);
    if (messages_.empty() || !messages_.front().text)
        return 0;
    return static_cast<int32_t>(messages_.front().text->size() + 1);
}

bool CJob::TakeMessage(int32_t& code, std::string& text, bool& hasText) {
    std::lock_guard lock(recordsMutex_);
    if (messages_.empty())
        return false;
    StoredMessage& front = messages_.front();
    code = front.code;
    hasText = front.text.has_value();
    if (hasText)
        text = std::move(*front.text);
    messages_.pop_front();
    return true;
}
