#include "library/sessions/CContentLengthChecker.h"

#include "library/common/Log.h"
#include "platform/Clock.h"

CContentLengthChecker::~CContentLengthChecker() {
    listener_ = nullptr;
    StopAllSessions();
}

ResultCode CContentLengthChecker::AddUrl(const char* url) {
    const auto index = static_cast<int32_t>(sessions_.size());
    sessions_.push_back(std::make_unique<CContentLengthCheckSession>(index, url, this));
    return tarvo::result::kSuccess;
}

void CContentLengthChecker::Start() {
    if (running_ > 0)
        return;
    // A new run measures its own URLs: neither a finished run's total nor a
    // failed run's partial sum carries over.
    total_ = 0;
    completed_ = 0;
    startTime_ = platform::Clock().CalendarSeconds();
    WriteLogFormat("[TarvoLib] Start ContentLength Check file:%d",
                   static_cast<int>(sessions_.size()));
    if (sessions_.empty()) {
        if (listener_)
            listener_->OnCheckComplete();
        return;
    }
    StartSessions();
}

void CContentLengthChecker::StartSessions() {
    // A session never reports inside its Start, but the loop re-reads the
    // members each time all the same.
    while (running_ < kMaxRunning && next_ < static_cast<int32_t>(sessions_.size())) {
        CContentLengthCheckSession* session = sessions_[static_cast<size_t>(next_)].get();
        ++running_;
        ++next_;
        session->Start();
    }
}

void CContentLengthChecker::OnLengthChecked(int32_t, int64_t length) {
    total_ += length;
    ++completed_;
    --running_;
    const auto count = static_cast<int32_t>(sessions_.size());
    if (completed_ < count) {
        StartSessions();
        return;
    }
    const int64_t seconds = platform::Clock().CalendarSeconds() - startTime_;
    WriteLogFormat("[TarvoLib] ContentLength Check Complete file:%d sec:%d", completed_,
                   static_cast<int>(seconds));
    StopAllSessions();
    if (listener_)
        listener_->OnCheckComplete();
}

void CContentLengthChecker::OnLengthCheckFailed(int32_t, const char*) {
    StopAllSessions();
    if (listener_)
        listener_->OnCheckFailed(1);
}

void CContentLengthChecker::OnLengthCheckUnreachable(int32_t) {
    StopAllSessions();
    if (listener_)
        listener_->OnCheckFailed(2);
}

void CContentLengthChecker::StopAllSessions() {
    while (!sessions_.empty()) {
        sessions_.back()->Stop();
        sessions_.pop_back();
    }
    running_ = 0;
    next_ = 0;
}
