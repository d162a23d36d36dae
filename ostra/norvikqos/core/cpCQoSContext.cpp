#include "ostra/norvikqos/core/cpCQoSContext.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "ostra/norvikqos/core/cpCHostCache.h"
#include "ostra/norvikqos/core/cpCQoS.h"
#include "ostra/norvikqos/core/cpIReceiveTarget.h"
#include "ostra/norvikqos/core/cpSocketOps.h"

namespace st = qvContextState;

namespace {

// Contexts waiting for a host lookup, by lookup id. A lookup's answer comes
// later and finds its context here, or finds that it has stopped waiting or
// is gone: an id is never reused, a freed context's address may be. Its own
// mutex, since the last reference to a context may go off the worker.
std::mutex gWaitingMutex;
std::unordered_map<uint64_t, cpCQoSContext*> gWaiting;
std::atomic<uint64_t> gLastLookupId{0};

}  // namespace

cpCQoSContext::~cpCQoSContext() {
    StopWaitingForHost();
    StopConnectTimer();
    layers_.clear();
    queue_.clear();
    current_.Reset();
    receive_.Free();
    action_.reset();
    deferred_.clear();
    dispatcher_.Reset();
    // A record still held (the registry went first) closes with record_.
}

qvResult cpCQoSContext::QueryInterface(uint32_t id, void** out) {
    if (layers_.empty()) {
        if (out)
            *out = nullptr;
        return qv::kNoInterface;
    }
    return layers_.front().application->QueryInterface(id, out);
}

qvResult cpCQoSContext::Initialize(int32_t actionType, uint32_t watchFlags,
                                   cpSocketRecordPtr record) {
    cpCQoS* registry = cpCQoS::Instance();
    if (state_ != st::kNew || !registry)
        return qv::kFail;
    state_ = st::kInitialising;
    watch_ = watchFlags;
    const bool adopted = record != nullptr;
    if (qv::Failed(registry->Register(this, record))) {
        state_ = st::kNew;
        return qv::kFail;
    }
    record_ = std::move(record);
    state_ = adopted ? st::kConnected : st::kSocketReady;
    return SetAction(actionType);
}

qvResult cpCQoSContext::SetActionParameter(int32_t direction, const uint32_t& value) {
    if (!action_)
        return qv::kFail;
    action_->SetParameter(direction, value);
    return qv::kOk;
}

qvResult cpCQoSContext::SetAction(int32_t type) {
    if (action_ && action_->Type() == type)
        return qv::kOk;
    action_.reset();
    action_ = cpCreateContextAction(type, record_, current_, receive_);
    return action_ ? qv::kOk : qv::kFail;
}

qvResult cpCQoSContext::AssignWatchFlags(uint32_t flags) {
    watch_ = flags;
    return qv::kOk;
}

qvResult cpCQoSContext::SetWatchFlags(uint32_t bits) {
    watch_ |= bits;
    return qv::kOk;
}

qvResult cpCQoSContext::ClearWatchFlags(uint32_t bits) {
    watch_ &= ~bits;
    return qv::kOk;
}

qvResult cpCQoSContext::SetTimeout(int32_t kind, const int32_t* value) {
    if (!value)
        return qv::kFail;
    switch (kind) {
        case qvTimeoutKind::kConnect:
            connectTimeout_ = *value;
            return qv::kOk;
        case qvTimeoutKind::kReceive:
            receiveTimeout_ = *value;
            return qv::kOk;
        case qvTimeoutKind::kPeriodic:
            periodic_[0] = value[0] + secondsAlive_;
            periodic_[1] = value[2];
            periodic_[2] = value[3];
            periodic_[3] = value[4];
            return qv::kOk;
        default:
            return qv::kFail;
    }
}

qvResult cpCQoSContext::GetState(int32_t& state) {
    state = state_;
    return qv::kOk;
}

qvResult cpCQoSContext::Connect(const cpAddress& address) {
    if (state_ != st::kSocketReady)
        return qv::kFail;
    state_ = st::kConnecting;
    const qvResult result = cpSock::Connect(record_.get(), address);
    if (qv::Succeeded(result)) {
        OnConnected();
    } else if (qv::Condition(result) == platform::net::kConditionWouldBlock) {
        StartConnectTimer();
    } else {
        state_ = st::kConnectFailed;
        RaiseError();
    }
    return qv::kOk;
}

qvResult cpCQoSContext::ConnectAddress(const cpAddress& address) {
    return Connect(address);
}

qvResult cpCQoSContext::ConnectHost(const char* hostName, uint16_t port) {
    if (state_ != st::kSocketReady || !hostName || !*hostName || qv::Failed(SetHostName(hostName)))
        return qv::kFail;
    const uint64_t id = ++gLastLookupId;
    uint32_t ip = 0;
    const cpEHostLookup found = cpCHostCache::Instance().Lookup(
        hostName, port, ip,
        [id](bool resolved, uint32_t answer) { OnHostAnswer(id, resolved, answer); });
    if (found == cpEHostLookup::kNoAddress)
        return qv::kFail;
    remote_ = cpAddress{ip, port};
    if (found == cpEHostLookup::kAddress)
        return Connect(remote_);
    {
        std::lock_guard guard(gWaitingMutex);
        gWaiting.emplace(id, this);
    }
    lookupId_ = id;
    state_ = st::kResolving;
    // A name server that never answers ends the attempt like a connect that
    // never completes.
    StartConnectTimer();
    return qv::kOk;
}

void cpCQoSContext::OnHostAnswer(uint64_t lookupId, bool resolved, uint32_t ip) {
    qvSmartPtr<cpCQoSContext> context;
    {
        std::lock_guard guard(gWaitingMutex);
        const auto it = gWaiting.find(lookupId);
        if (it == gWaiting.end())
            return;
        context = qvSmartPtr<cpCQoSContext>(it->second);
    }
    context->OnHostResolved(resolved, ip);
}

void cpCQoSContext::OnHostResolved(bool resolved, uint32_t ip) {
    StopWaitingForHost();
    if (state_ != st::kResolving)
        return;
    StopConnectTimer();
    if (!resolved) {
        OnHostUnreachable();
        return;
    }
    remote_.ip = ip;
    state_ = st::kSocketReady;
    // The connect gets its own timeout, as one started with an address has.
    Connect(remote_);
}

void cpCQoSContext::StopWaitingForHost() {
    if (lookupId_ == 0)
        return;
    std::lock_guard guard(gWaitingMutex);
    gWaiting.erase(lookupId_);
    lookupId_ = 0;
}

void cpCQoSContext::StartConnectTimer() {
    StopConnectTimer();
    cpCQoS* registry = cpCQoS::Instance();
    if (!connectTimer_.CreateInstance(qvClassId::kTimer))
        return;
    qvSmartPtr<> owner;
    if (cpCMutex* lock = registry ? registry->EngineLock() : nullptr)
        owner = qvSmartPtr<>(lock);
    if (qv::Failed(connectTimer_->Start(static_cast<uint32_t>(connectTimeout_) * 1000u,
                                        &OnConnectTimer, this, cpTimerTag::kConnectionTimeouts,
                                        owner)))
        connectTimer_.Reset();
}

void cpCQoSContext::StopConnectTimer() {
    if (!connectTimer_)
        return;
    connectTimer_->Stop();
    connectTimer_.Reset();
}

void cpCQoSContext::OnConnectTimer(void* self) {
    auto* context = static_cast<cpCQoSContext*>(self);
    qvSmartPtr<cpCQoSContext> hold(context);
    context->ConnectFailed();
}

void cpCQoSContext::ConnectFailed() {
    StopWaitingForHost();
    state_ = st::kConnectFailed;
    StopConnectTimer();
    if (record_)
        QueueDeferred(qvContextEvent::kConnectFailed);
}

void cpCQoSContext::OnConnectRefused() {
    ConnectFailed();
}

void cpCQoSContext::OnHostUnreachable() {
    ConnectFailed();
    const auto layers = layers_;
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        if (!it->netStack->OnLayerConnectFailed())
            break;
    }
}

void cpCQoSContext::OnConnected() {
    if (connected_ == 2)
        return;
    StopConnectTimer();
    connected_ = 2;
    state_ = st::kConnected;
    const auto layers = layers_;
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        if (!it->netStack->OnLayerConnected())
            break;
    }
    if (!SendLoop())
        RaiseError();
}

qvResult cpCQoSContext::Send(const void* data, uint32_t length) {
    if (state_ == st::kConnectFailed || state_ == st::kClosing || state_ == st::kClosed)
        return qv::kOk;
    if (length > 0 && !data)
        return qv::kFail;
    cpQoSChunk chunk;
    chunk.data = std::make_unique_for_overwrite<uint8_t[]>(length ? length : 1);
    if (length)
        std::memcpy(chunk.data.get(), data, length);
    chunk.length = length;
    queue_.push_back(std::move(chunk));
    TakeNextChunk();
    if (!SendLoop())
        RaiseError();
    return qv::kOk;
}

void cpCQoSContext::TakeNextChunk() {
    if (!current_.IsEmpty())
        return;
    if (queue_.empty() && (watch_ & qvWatch::kSendDrained))
        GiveEventToLayers(qvContextEvent::kSendDrained);
    if (current_.IsEmpty() && !queue_.empty()) {
        current_ = std::move(queue_.front());
        queue_.pop_front();
    }
}

bool cpCQoSContext::SendLoop() {
    if (!record_ || current_.IsEmpty())
        return true;
    if (state_ != st::kConnected && state_ != st::kReceiving && state_ != st::kIdle)
        return true;
    state_ = st::kSending;
    bool ok = true;
    while (action_ && record_) {
        int32_t sent = 0;
        ok = action_->SendPump(sent);
        if ((watch_ & qvWatch::kCountSent) && sent >= 0)
            sendMeter_.Count(static_cast<uint32_t>(sent));
        if (!current_.IsEmpty() && current_.position == current_.length)
            current_.Reset();
        if (!ok || !current_.IsEmpty())
            break;  // a partly sent chunk continues at the next writable event
        TakeNextChunk();
        if (current_.IsEmpty())
            break;
    }
    if (state_ == st::kSending)
        state_ = st::kIdle;
    return ok;
}

void cpCQoSContext::OnWritable() {
    TakeNextChunk();
    if (!SendLoop())
        RaiseError();
}

void cpCQoSContext::OnReadable() {
    if (!record_)
        return;
    if (state_ != st::kConnected && state_ != st::kSending && state_ != st::kIdle)
        return;
    idleSeconds_ = 0;
    state_ = st::kReceiving;
    if (ReceiveIntoLayer()) {
        if (state_ == st::kReceiving)
            state_ = st::kIdle;
        return;
    }
    const uint32_t n = action_ ? action_->ReceivePump() : 0;
    if (n > 0 && (watch_ & qvWatch::kCountReceived))
        receiveMeter_.Count(n);
    if (state_ == st::kReceiving)
        state_ = st::kIdle;
    if (n > 0)
        Deliver();
}

bool cpCQoSContext::ReceiveIntoLayer() {
    if (!action_ || !action_->ReceivesInto() || layers_.empty() || receive_.Length() != 0)
        return false;
    qvSmartPtr<cpCQoSContext> self(this);
    const LayerEntry bottom = layers_.back();
    void* face = nullptr;
    if (qv::Failed(bottom.application->QueryInterface(kReceiveTargetInterfaceId, &face)) || !face)
        return false;
    auto* target = static_cast<cpIReceiveTarget*>(face);
    uint32_t total = 0;
    // The same per-event limit as the receive buffer's pump; each layer call
    // may close the context, change its action or push a layer below this one.
    while (total <= cpQoSAction::kReceiveLimit && record_ && action_ && action_->ReceivesInto() &&
           layers_.back().netStack == bottom.netStack) {
        uint32_t room = 0;
        uint8_t* at = target->ReceiveTarget(room);
        if (!at || room == 0)
            break;
        state_ = st::kReceiving;
        uint32_t n = 0;
        if (!action_->ReceiveInto(at, room, n))
            break;
        // The layers hear of the bytes as after the receive buffer's pump.
        if (state_ == st::kReceiving)
            state_ = st::kIdle;
        total += n;
        if (watch_ & qvWatch::kCountReceived)
            receiveMeter_.Count(n);
        const int32_t taken = target->OnReceivedInPlace(n);
        if (taken < 0 || static_cast<uint32_t>(taken) != n) {
            Close();
            break;
        }
        if (state_ == st::kClosing || state_ == st::kClosed)
            break;
    }
    return total > 0;
}

void cpCQoSContext::Deliver() {
    if (state_ == st::kClosing || state_ == st::kClosed)
        return;
    qvSmartPtr<cpCQoSContext> self(this);
    // A layer may close the context while it still reads the buffer; the block
    // is given back once the delivery is over.
    struct DeliveryScope {
        cpCQoSContext& context;
        explicit DeliveryScope(cpCQoSContext& c) : context(c) { context.delivering_ = true; }
        ~DeliveryScope() {
            context.delivering_ = false;
            if (context.state_ == st::kClosing || context.state_ == st::kClosed)
                context.receive_.Free();
        }
    } scope(*this);
    if (layers_.empty()) {
        // With neither layers nor handlers the bytes stay for a later reader.
        if (!dispatcher_)
            return;
        const qvSmartPtr<nwCStreamDispatcher> dispatcher = dispatcher_;
        int32_t consumed = 0;
        dispatcher->Parse(receive_.Data(), receive_.Length(), consumed);
        if (consumed < 0) {
            Close();
            return;
        }
        // Handled messages leave the buffer, so the next read does not hand
        // them to their handlers a second time.
        receive_.Consume(static_cast<uint32_t>(consumed));
        if (layers_.empty() || state_ == st::kClosing || state_ == st::kClosed)
            return;
        dispatcher_.Reset();
        if (receive_.Length() == 0)
            return;
    }
    const LayerEntry bottom = layers_.back();
    const uint32_t length = receive_.Length();
    const int32_t consumed = bottom.netStack->OnReceive(receive_.Data(), length);
    if (consumed < 0 || static_cast<uint32_t>(consumed) > length) {
        Close();
    } else if (static_cast<uint32_t>(consumed) == length) {
        receive_.Clear();
    } else {
        receive_.Consume(static_cast<uint32_t>(consumed));
    }
}

qvResult cpCQoSContext::Close() {
    if (state_ == st::kNew || state_ == st::kClosing || state_ == st::kClosed)
        return qv::kOk;
    // Unregistering drops the slot's reference, which may be the last one.
    qvSmartPtr<cpCQoSContext> self(this);
    StopWaitingForHost();
    StopConnectTimer();
    state_ = st::kClosing;
    if (record_) {
        if (cpCQoS* registry = cpCQoS::Instance())
            registry->Unregister(this, std::move(record_));
        record_.reset();
    }
    const auto layers = layers_;
    for (auto it = layers.rbegin(); it != layers.rend(); ++it)
        it->netStack->OnContextClosed();
    state_ = st::kClosed;
    // Nothing is read any more: a closed context waiting for its deferred
    // release must not hold the block it kept between reads.
    if (!delivering_)
        receive_.Free();
    return qv::kOk;
}

void cpCQoSContext::OnClosed(bool) {
    Close();
}

qvResult cpCQoSContext::RaiseError() {
    QueueDeferred(qvContextEvent::kSocketError);
    return qv::kOk;
}

void cpCQoSContext::QueueDeferred(int32_t code) {
    if (!record_)
        return;
    deferred_.push_back(code);
    cpSock::PostDeferred(record_.get());
}

void cpCQoSContext::OnDeferredEvent(uint64_t recordSerial) {
    if (!record_ || record_->serial != recordSerial || deferred_.empty())
        return;
    qvSmartPtr<cpCQoSContext> self(this);
    const int32_t code = deferred_.front();
    deferred_.pop_front();
    if (code == qvContextEvent::kReceiveTimeout) {
        if (idleSeconds_ < receiveTimeout_ || !(watch_ & qvWatch::kReceiveTimeout))
            return;
        ReportAddressFailed();
    } else if (code == qvContextEvent::kConnectFailed) {
        if (!(watch_ & qvWatch::kConnectFailed) || connected_ == 2)
            return;
        ReportAddressFailed();
    }
    if (watch_ & static_cast<uint32_t>(code))
        GiveEventToLayers(code);
    if (code == qvContextEvent::kConnectFailed || code == qvContextEvent::kSocketError)
        Close();
}

void cpCQoSContext::GiveEventToLayers(int32_t code) {
    const auto layers = layers_;
    for (auto it = layers.rbegin(); it != layers.rend(); ++it) {
        if (!it->netStack->OnContextEvent(code))
            break;
    }
}

void cpCQoSContext::PerSecond(cpQoSTotals& totals) {
    ++secondsAlive_;
    if (idleSeconds_ == receiveTimeout_ && (watch_ & qvWatch::kReceiveTimeout))
        QueueDeferred(qvContextEvent::kReceiveTimeout);
    ++idleSeconds_;
    if (action_) {
        action_->PerSecond(totals);
        if (action_->TakeReceiveBlocked())
            RearmEvents();
        else if (action_->TakeSendBlocked())
            RearmEvents();
    }
    // The periodic event (watch flag 64) has no trigger that is ever met.
}

qvResult cpCQoSContext::RearmEvents() {
    if (!record_)
        return qv::kFail;
    return cpSock::Rearm(record_.get());
}

qvResult cpCQoSContext::RegisterHandler(uint16_t category, uint32_t command,
                                        nwMessageHandler handler, void* handlerContext) {
    if (!dispatcher_ && !dispatcher_.CreateInstance(qvClassId::kStreamDispatcher))
        return qv::kFail;
    return qv::Succeeded(dispatcher_->RegisterHandler(category, command, handler, handlerContext))
               ? qv::kOk
               : qv::kFail;
}

int cpCQoSContext::LayerIndex(const nwIQoSNetStack* layer) const {
    for (size_t i = 0; i < layers_.size(); ++i) {
        if (layers_[i].netStack == layer)
            return static_cast<int>(i);
    }
    return -1;
}

qvResult cpCQoSContext::PushLayer(uint32_t classId, bool atBottom) {
    qvSmartPtr<> layer;
    if (!layer.CreateInstance(classId))
        return qv::kFail;
    return AttachLayer(layer, classId, atBottom);
}

qvResult cpCQoSContext::AttachLayer(const qvSmartPtr<>& layer, uint32_t classId, bool atBottom) {
    void* face = nullptr;
    if (!layer || qv::Failed(layer->QueryInterface(kNetStackInterfaceId, &face)) || !face)
        return qv::kFail;
    auto* netStack = static_cast<nwIQoSNetStack*>(face);
    netStack->AttachContext(this);
    std::vector<LayerEntry> grown;
    grown.reserve(layers_.size() + 1);
    if (!atBottom)
        grown.push_back(LayerEntry{layer, netStack, classId});
    for (auto& entry : layers_)
        grown.push_back(std::move(entry));
    if (atBottom)
        grown.push_back(LayerEntry{layer, netStack, classId});
    layers_ = std::move(grown);
    return qv::kOk;
}

qvResult cpCQoSContext::FindLayer(uint32_t classId, qvSmartPtr<>& out) {
    for (const auto& entry : layers_) {
        if (entry.classId == classId) {
            out = entry.application;
            return qv::kOk;
        }
    }
    out.Reset();
    return qv::kFail;
}

qvSmartPtr<> cpCQoSContext::GetTopLayer() {
    return layers_.empty() ? qvSmartPtr<>() : layers_.front().application;
}

qvResult cpCQoSContext::SendFromLayer(nwIQoSNetStack* layer, const nwDataChunk& chunk) {
    const int index = LayerIndex(layer);
    if (index < 0)
        return qv::kOk;
    if (static_cast<size_t>(index) + 1 == layers_.size())
        return Send(chunk.data, chunk.length);
    qvSmartPtr<> below = layers_[static_cast<size_t>(index) + 1].application;
    layers_[static_cast<size_t>(index) + 1].netStack->OnDataFromAbove(chunk);
    return qv::kOk;
}

qvResult cpCQoSContext::LayerConnected(nwIQoSNetStack* layer) {
    const int index = LayerIndex(layer);
    if (index > 0) {
        const LayerEntry above = layers_[static_cast<size_t>(index) - 1];
        above.netStack->OnLayerConnected();
    }
    return qv::kOk;
}

int32_t cpCQoSContext::LayerReceived(nwIQoSNetStack* layer, const uint8_t* data, uint32_t length) {
    const int index = LayerIndex(layer);
    if (index <= 0)
        return 0;
    const LayerEntry above = layers_[static_cast<size_t>(index) - 1];
    return above.netStack->OnReceive(data, length);
}

qvResult cpCQoSContext::SetRemoteAddress(const cpAddress& address) {
    remote_ = address;
    return qv::kOk;
}

qvResult cpCQoSContext::GetRemoteAddress(const cpAddress*& address) {
    address = &remote_;
    return qv::kOk;
}

qvResult cpCQoSContext::GetSendBuffer(const uint8_t** data, uint32_t* length) {
    if (data)
        *data = current_.data.get();
    if (length)
        *length = current_.length;
    return qv::kOk;
}

void cpCQoSContext::RateMeter::Count(uint32_t n) {
    if (start.seconds == 0 && start.milliseconds == 0)
        start = platform::Clock().Now();
    bytes += n;
}

// 64-bit arithmetic: a 32-bit bytes x 1000 would overflow past 4 MB.
uint32_t cpCQoSContext::RateMeter::Take() {
    const int64_t elapsed = platform::ElapsedMs(start, platform::Clock().Now());
    const uint64_t rate = elapsed <= 0 ? 0 : bytes * 1000 / static_cast<uint64_t>(elapsed);
    start = {};
    bytes = 0;
    return rate > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(rate);
}

qvResult cpCQoSContext::GetReceiveRate(uint32_t& bytesPerSecond) {
    if (!(watch_ & qvWatch::kCountReceived))
        return qv::kFail;
    bytesPerSecond = receiveMeter_.Take();
    return qv::kOk;
}

qvResult cpCQoSContext::GetSendRate(uint32_t& bytesPerSecond) {
    if (!(watch_ & qvWatch::kCountSent))
        return qv::kFail;
    bytesPerSecond = sendMeter_.Take();
    return qv::kOk;
}

qvResult cpCQoSContext::Reserved() {
    return qv::kOk;
}

qvResult cpCQoSContext::GetQueuedBytes(uint32_t& count) {
    uint64_t total = 0;
    for (const auto& chunk : queue_)
        total += chunk.length - chunk.position;
    count = total > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(total);
    return qv::kOk;
}

qvResult cpCQoSContext::GetHostName(const char** name) {
    if (!name)
        return qv::kFail;
    *name = hostName_;
    return qv::kOk;
}

qvResult cpCQoSContext::SetHostName(const char* name) {
    if (!name)
        return qv::kFail;
    const size_t length = strnlen(name, kHostNameSize);
    if (length >= kHostNameSize)
        return qv::kFail;
    std::memcpy(hostName_, name, length + 1);
    return qv::kOk;
}

qvResult cpCQoSContext::ReportAddressGood() {
    if (!hostName_[0] || remote_.ip == 0 || remote_.port == 0)
        return qv::kFail;
    cpCHostCache::Instance().ReportAddressGood(hostName_, remote_.port, remote_.ip);
    return qv::kOk;
}

qvResult cpCQoSContext::ReportAddressFailed() {
    if (!hostName_[0] || remote_.ip == 0 || remote_.port == 0)
        return qv::kFail;
    cpCHostCache::Instance().ReportAddressFailed(hostName_, remote_.port, remote_.ip);
    return qv::kOk;
}
