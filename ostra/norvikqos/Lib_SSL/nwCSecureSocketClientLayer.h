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
    // callback never frees the session under OpenSSL. Calls nest (the layer
    // above may send while it is handed plaintext, or from an event raised by
    // a send), so only the outermost end may free the session.
    void BeginCall() { ++callDepth_; }
    void EndCall();
    // Logs why the server was refused, when its certificate was the reason.
    void LogRefusedServer();

    std::unique_ptr<COpenSSL> session_;
    bool handshakeComplete_ = false;
    std::deque<std::vector<uint8_t>> held_;
    // Plaintext that the layer above sent while OpenSSL was inside a call of
    // the session (from an event that the ciphertext going down raised); it is
    // written, in order, as soon as that call has returned.
    std::deque<std::vector<uint8_t>> deferred_;
    std::vector<uint8_t> remainder_;
    unsigned callDepth_ = 0;
    bool closePending_ = false;
};
