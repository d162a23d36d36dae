#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "library/api/TarvoLib.h"
#include "library/sessions/CContentLengthCheckSession.h"
#include "library/sessions/IContentLengthCheckSessionEventListener.h"
#include "library/sessions/IContentLengthCheckerEventListener.h"

// Adds up the Content-Lengths of a list of URLs, measuring at most five at a
// time. The first URL that cannot be measured ends the whole run. Each run
// measures the URLs added since the previous run ended and starts its total
// from zero; the total stays readable after the run until the next one starts.
// Runs on the worker thread under the engine lock (entry functions hold it too).
class CContentLengthChecker final : public IContentLengthCheckSessionEventListener {
  public:
    static constexpr int32_t kMaxRunning = 5;

    CContentLengthChecker() = default;
    virtual ~CContentLengthChecker();
    CContentLengthChecker(const CContentLengthChecker&) = delete;
    CContentLengthChecker& operator=(const CContentLengthChecker&) = delete;

    void SetListener(IContentLengthCheckerEventListener* listener) { listener_ = listener; }
    // Queues one URL for the next run (or the running one); 512.
    ResultCode AddUrl(const char* url);
    // Starts a run over the queued URLs. With none it completes at once. While a
    // run is in flight it does nothing: that run takes the added URLs along.
    void Start();
    int64_t Total() const { return total_; }

    bool IsRunning() const { return running_ > 0; }
    size_t SessionCount() const { return sessions_.size(); }
    int32_t RunningCount() const { return running_; }
    int32_t CompletedCount() const { return completed_; }

    // IContentLengthCheckSessionEventListener
    void OnLengthChecked(int32_t index, int64_t length) override;
    void OnLengthCheckFailed(int32_t index, const char* url) override;
    void OnLengthCheckUnreachable(int32_t index) override;

  private:
    void StartSessions();
    void StopAllSessions();

    int64_t total_ = 0;
    int32_t running_ = 0;
    int32_t completed_ = 0;
    int32_t next_ = 0;
    std::vector<std::unique_ptr<CContentLengthCheckSession>> sessions_;
    int64_t startTime_ = 0;
    IContentLengthCheckerEventListener* listener_ = nullptr;
};
