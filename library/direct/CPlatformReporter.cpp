#include "library/direct/CPlatformReporter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "ostra/norvikqos/agent/nwAgentMessages.h"
#include "ostra/norvikqos/object/qvCGarbageCollector.h"
#include "ostra/norvikqos/object/qvClassFactory.h"
#include "tvx/BuiltinConfig.h"

static_assert(sizeof(ReportRecord) == nwAgent::kRecordSize);

CPlatformReporter::~CPlatformReporter() {
    CloseConnection();
}

void CPlatformReporter::Report(uint32_t count, const ReportRecord* records) {
    if (count == 0 || !records)
        return;
    // One frame carries at most kMaxRecords; a bigger report goes in pieces.
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(count - done, nwAgent::kMaxRecords);
        PendingReport item;
        item.records.reset(new (std::nothrow) ReportRecord[n]);
        if (!item.records)
            return;
        std::memcpy(item.records.get(), records + done, n * sizeof(ReportRecord));
        item.count = n;
        queue_.push_back(std::move(item));
        done += n;
    }
    if (!Connect() && connected_)
        SendQueue();
}

void CPlatformReporter::Flush(std::function<void()> done) {
    FinishFlush();  // a second flush replaces the first
    if (queue_.empty() && !connection_) {
        done();
        return;
    }
    flushDone_ = std::move(done);
    if (!connection_ && !Connect()) {
        FinishFlush();
        return;
    }
    if (connected_)
        SendQueue();
}

void CPlatformReporter::FinishFlush() {
    if (!flushDone_)
        return;
    const std::function<void()> done = std::move(flushDone_);
    flushDone_ = nullptr;
    done();
}

bool CPlatformReporter::Connect() {
    if (connection_)
        return false;
    qvSmartPtr<cpCQoSContext> context;
    if (!context.CreateInstance(qvClassId::kQoSContext))
        return false;
    if (qv::Failed(
            context->Initialize(1, qvWatch::kConnectFailed | qvWatch::kReceiveTimeout, nullptr)))
        return false;
    connection_ = context;
    qvSmartPtr<> top;
    if (qv::Succeeded(context->PushLayer(qvClassId::kAgentLayer, false)))
        top = context->GetTopLayer();
    layer_ = dynamic_cast<qvIAgentLayer*>(top.Get());
    if (!layer_) {
        CloseConnection();
        return false;
    }
    context->SetTimeout(qvTimeoutKind::kConnect, &kTimeoutSeconds);
    context->SetTimeout(qvTimeoutKind::kReceive, &kTimeoutSeconds);
    layer_->SetEventListener(this, 0);
    connected_ = false;
    unanswered_ = 0;
    // The name is looked up off this thread when the cache needs to; one that
    // does not resolve ends the connection like a failed connect, and the
    // queue waits for the next report.
    if (qv::Failed(context->ConnectHost(tvx::config::kReportHost, port_))) {
        CloseConnection();
        return false;
    }
    return true;
}

void CPlatformReporter::SendQueue() {
    while (!queue_.empty() && layer_) {
        const PendingReport& item = queue_.front();
        const nwAgentReport report{item.count,
                                   reinterpret_cast<const uint8_t*>(item.records.get())};
        if (qv::Succeeded(layer_->SendReport(report)))
            ++unanswered_;
        queue_.pop_front();
    }
}

void CPlatformReporter::OnAgentConnect(uint32_t) {
    connected_ = true;
    if (connection_)
        connection_->ReportAddressGood();
    SendQueue();
}

void CPlatformReporter::OnAgentReply(uint32_t, uint8_t) {
    if (unanswered_ > 0)
        --unanswered_;
    // Closing before every message is answered could drop one still queued
    // for sending in the context.
    if (queue_.empty() && unanswered_ == 0)
        CloseConnection();
}

void CPlatformReporter::OnAgentClose(uint32_t) {
    ReleaseConnection();
}

void CPlatformReporter::OnAgentConnectTimeout(uint32_t) {
    if (connection_ && !connected_)
        connection_->ReportAddressFailed();
    CloseConnection();
}

void CPlatformReporter::OnAgentReceiveTimeout(uint32_t) {
    CloseConnection();
}

void CPlatformReporter::CloseConnection() {
    if (!connection_)
        return;
    qvSmartPtr<cpCQoSContext> context = connection_;
    // The close reaches OnAgentClose, which releases the connection; detach
    // afterwards in case it did not.
    context->Close();
    ReleaseConnection();
}

void CPlatformReporter::ReleaseConnection() {
    if (!connection_)
        return;
    qvSmartPtr<cpCQoSContext> context = std::move(connection_);
    connection_.Reset();
    if (layer_)
        layer_->SetEventListener(nullptr, 0);
    layer_ = nullptr;
    connected_ = false;
    unanswered_ = 0;
    qvCGarbageCollector::Instance().Defer(qvSmartPtr<>(static_cast<qvIUnknown*>(context.Get())));
    // Whatever ended the connection, a flush has nothing more to wait for.
    FinishFlush();
}
