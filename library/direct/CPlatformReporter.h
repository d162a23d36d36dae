#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "library/direct/ReportRecord.h"
#include "ostra/norvikqos/agent/qvIAgentLayer.h"
#include "ostra/norvikqos/core/cpCQoSContext.h"
#include "ostra/norvikqos/object/qvSmartPtr.h"

// Sends per-file report records to the report host over the agent protocol:
// one agent report message per Report call (split when it would not fit one
// frame), on a connection that is made when there is something to send and
// closed once every message sent on it has been answered.
//
// Owned by the direct downloader (one per downloader); runs on the worker
// thread under the engine lock. Reports that cannot be sent (the host does not
// resolve, refuses or times out) stay queued and go out with the next Report
// that gets a connection, or with the flush at shutdown. Deleting the reporter
// drops what is still queued.
class CPlatformReporter final : public nwIAgentListener {
  public:
    static constexpr uint16_t kReportPort = 54547;
    static constexpr int32_t kTimeoutSeconds = 5;  // connect and receive

    CPlatformReporter() = default;
    virtual ~CPlatformReporter();
    CPlatformReporter(const CPlatformReporter&) = delete;
    CPlatformReporter& operator=(const CPlatformReporter&) = delete;

    // Copies count records into the queue and sends them (now when connected,
    // else once the connection is made).
    void Report(uint32_t count, const ReportRecord* records);

    // Sends what is queued (connecting again if a failed attempt left
    // reports behind) and calls done once the connection has ended: every
    // message answered, or the host refused, timed out or closed. At once when
    // nothing is queued or no connection can be started. Never waits.
    void Flush(std::function<void()> done);

    // The report host's port; tests point it at their own host.
    void SetPort(uint16_t port) { port_ = port; }
    // Reports queued and not yet sent.
    size_t PendingReports() const { return queue_.size(); }
    bool HasConnection() const { return static_cast<bool>(connection_); }

    // nwIAgentListener
    void OnAgentConnect(uint32_t context) override;
    void OnAgentReply(uint32_t context, uint8_t result) override;
    void OnAgentClose(uint32_t context) override;
    void OnAgentConnectTimeout(uint32_t context) override;
    void OnAgentReceiveTimeout(uint32_t context) override;

  private:
    struct PendingReport {
        uint32_t count = 0;
        std::unique_ptr<ReportRecord[]> records;
    };

    // False when no connection was started (one exists, or the host did not
    // resolve).
    bool Connect();
    void SendQueue();
    void CloseConnection();
    void ReleaseConnection();
    void FinishFlush();

    qvSmartPtr<cpCQoSContext> connection_;
    qvIAgentLayer* layer_ = nullptr;
    bool connected_ = false;
    // Messages sent on this connection and not answered yet.
    uint32_t unanswered_ = 0;
    uint16_t port_ = kReportPort;
    std::deque<PendingReport> queue_;
    // Waits for the connection to end while a flush runs.
    std::function<void()> flushDone_;
};
