#include "ostra/norvikqos/Lib_SSL/nwCSecureSocketClientLayer.h"

#include <cstdio>

#include "ostra/norvikqos/core/COstra.h"

nwCSecureSocketClientLayer::nwCSecureSocketClientLayer() {
    RegisterParser();
}

nwCSecureSocketClientLayer::~nwCSecureSocketClientLayer() = default;

void nwCSecureSocketClientLayer::RegisterParser() {
    RegisterRawHandler(&OnBytes, this);
}

void nwCSecureSocketClientLayer::EndCall() {
    // Still inside the call, so that a close from these writes waits as well.
    while (!deferred_.empty() && session_ && !closePending_ && !session_->InOpenSsl()) {
        const std::vector<uint8_t> chunk = std::move(deferred_.front());
        deferred_.pop_front();
        session_->Write(chunk.data(), chunk.size());
    }
    if (--callDepth_ == 0 && closePending_) {
        closePending_ = false;
        session_.reset();
    }
}

bool nwCSecureSocketClientLayer::OnLayerConnected() {
    COpenSSL::Callbacks callbacks;
    callbacks.sendCiphertext = &SendCiphertext;
    callbacks.handshakeDone = &HandshakeDone;
    callbacks.plaintextReceived = &PlaintextReceived;
    callbacks.context = this;
    const char* host = nullptr;
    GetHostName(&host);
    session_ = COpenSSL::Create(callbacks, host);
    if (!session_) {
        CloseContext();
        return false;
    }
    BeginCall();
    const qvResult result = session_->Connect();
    EndCall();
    if (qv::Failed(result)) {
        CloseContext();
        return false;
    }
    // The layer above may send at once; its data waits for the handshake.
    return true;
}

qvResult nwCSecureSocketClientLayer::OnDataFromAbove(const nwDataChunk& chunk) {
    if (!handshakeComplete_) {
        held_.emplace_back(chunk.data, chunk.data + chunk.length);
        return qv::kOk;
    }
    if (!session_)
        return qv::kOk;
    if (session_->InOpenSsl()) {
        deferred_.emplace_back(chunk.data, chunk.data + chunk.length);
        return qv::kOk;
    }
    BeginCall();
    session_->Write(chunk.data, chunk.length);
    EndCall();
    return qv::kOk;
}

bool nwCSecureSocketClientLayer::OnSendDrainedEvent() {
    // Held data can only go out once the handshake is done; until then the
    // layer above must not be told that its data left.
    return held_.empty();
}

void nwCSecureSocketClientLayer::OnLayerClose() {
    if (callDepth_ > 0)
        closePending_ = true;
    else
        session_.reset();
}

int32_t nwCSecureSocketClientLayer::OnBytes(const uint8_t* data, uint32_t length, void* self) {
    return static_cast<nwCSecureSocketClientLayer*>(self)->Receive(data, length);
}

int32_t nwCSecureSocketClientLayer::Receive(const uint8_t* data, uint32_t length) {
    if (!session_)
        return -1;
    size_t consumed = 0;
    BeginCall();
    const qvResult result = handshakeComplete_ ? session_->ReadInput(data, length, consumed)
                                               : session_->HandshakeInput(data, length, consumed);
    if (qv::Failed(result) && !handshakeComplete_ && session_)
        LogRefusedServer();
    EndCall();
    if (qv::Failed(result)) {
        CloseContext();
        return 0;
    }
    return static_cast<int32_t>(consumed);
}

void nwCSecureSocketClientLayer::LogRefusedServer() {
    const char* reason = session_->VerifyFailure();
    if (!reason)
        return;
    const char* host = nullptr;
    GetHostName(&host);
    char line[512];
    std::snprintf(line, sizeof line, "TLS: certificate of %s refused: %s", host ? host : "?",
                  reason);
    COstra::Log(line);
}

void nwCSecureSocketClientLayer::SendCiphertext(const uint8_t* data, size_t length, void* self) {
    static_cast<nwCSecureSocketClientLayer*>(self)->SendDown(
        nwDataChunk{data, static_cast<uint32_t>(length)});
}

void nwCSecureSocketClientLayer::HandshakeDone(void* self) {
    auto* layer = static_cast<nwCSecureSocketClientLayer*>(self);
    layer->handshakeComplete_ = true;
    while (!layer->held_.empty() && layer->session_) {
        const std::vector<uint8_t> chunk = std::move(layer->held_.front());
        layer->held_.pop_front();
        layer->session_->Write(chunk.data(), chunk.size());
    }
}

void nwCSecureSocketClientLayer::PlaintextReceived(const uint8_t* data, size_t length, void* self) {
    auto* layer = static_cast<nwCSecureSocketClientLayer*>(self);
    if (!layer->session_)
        return;
    // Without a remainder the bytes go up as they are; only a tail the layer
    // above left is copied.
    std::vector<uint8_t> joined;
    const uint8_t* bytes = data;
    size_t size = length;
    if (!layer->remainder_.empty()) {
        joined = std::move(layer->remainder_);
        layer->remainder_.clear();
        joined.insert(joined.end(), data, data + length);
        bytes = joined.data();
        size = joined.size();
    }
    const int32_t consumed = layer->PassUp(bytes, static_cast<uint32_t>(size));
    if (consumed < 0) {
        layer->CloseContext();
        return;
    }
    if (static_cast<size_t>(consumed) >= size)
        return;
    // A layer above that waits for a whole message consumes nothing for a
    // while: keep the joined buffer then instead of copying it once more.
    if (bytes == joined.data()) {
        joined.erase(joined.begin(), joined.begin() + consumed);
        layer->remainder_ = std::move(joined);
    } else {
        layer->remainder_.assign(bytes + consumed, bytes + size);
    }
}
