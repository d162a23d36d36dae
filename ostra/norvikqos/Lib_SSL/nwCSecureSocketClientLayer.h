#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "ostra/norvikqos/Lib_SSL/COpenSSL.h"
#include "ostra/norvikqos/Lib_SSL/qvISecureSocketClientLayer.h"
#include "ostra/norvikqos/stack/nwTLayer.h"

// TLS under the layer above: ciphertext comes from the bytes the context
// delivered and goes straight down; plaintext goes up with PassUp. What the
// layer above sends before the handshake is done is held and sent, in order,
// once it is.
class nwCSecureSocketClientLayer final : public nwTLayer<qvISecureSocketClientLayer> {
  public:
    nwCSecureSocketClientLayer();
    ~nwCSecureSocketClientLayer() override;

    bool OnLayerConnected() override;
    qvResult OnDataFromAbove(const nwDataChunk& chunk) override;
    bool OnSendDrainedEvent() override;
    void OnLayerClose() override;

    bool HandshakeComplete() const { return handshakeComplete_; }
    size_t HeldChunks() const { return held_.size(); }

  private:
    void RegisterParser();
    static int32_t OnBytes(const uint8_t* data, uint32_t length, void* self);
    int32_t Receive(const uint8_t* data, uint32_t length);

    static void SendCiphertext(const uint8_t* data, size_t length, void* self);
    static void HandshakeDone(void* self);
    static void PlaintextReceived(const uint8_t* data, size_t length, void* self);

    // Every call into the session goes through here, so that a close from a
    // callback never frees the session under OpenSSL.
    void BeginCall() { inCall_ = true; }
    void EndCall();

    std::unique_ptr<COpenSSL> session_;
    bool handshakeComplete_ = false;
    std::deque<std::vector<uint8_t>> held_;
    std::vector<uint8_t> remainder_;
    bool inCall_ = false;
    bool closePending_ = false;
};
