#pragma once

#include <vector>

#include "ostra/norvikqos/link/qvICDNLocalClientLayer.h"
#include "ostra/norvikqos/stack/nwTLayer.h"

// The client side of the local engine link: job messages to the engine, its
// reports back to the listener. An engine message that does not fit its
// layout closes the connection before any of it is handed on.
class nwCCDNLocalClientLayer final : public nwTLayer<qvICDNLocalClientLayer> {
  public:
    nwCCDNLocalClientLayer();

    qvResult SetEventListener(nwICDNLocalClientEventListener* listener, uint32_t context) override;
    qvResult SendJobMode(const nwCDNJobModeRecord& record) override;
    qvResult SendJobKind(const nwCDNJobKindRecord& record) override;
    qvResult SendJobList(const nwCDNJobList& list) override;
    qvResult SendJobListBegin(const nwCDNJobListHeader& header) override;
    qvResult SendJobFile(const nwCDNJobFileRecord& record) override;
    qvResult SendJobListEnd(uint32_t serial) override;
    qvResult SendStopJob(const nwCDNJobKeyRecord& record) override;
    qvResult SendEngineText(std::string_view text) override;
    qvResult SendJobValue(const nwCDNJobValueRecord& record) override;
    qvResult SendJobFlag(uint32_t serial) override;
    qvResult SendResumeAnswer(const nwCDNResumeAnswerRecord& record) override;
    qvResult SendCommand22() override;

    bool OnLayerConnected() override;
    void OnLayerClose() override;
    bool OnConnectFailedEvent() override;
    bool OnReceiveTimeoutEvent() override;
    int32_t OnReceive(const uint8_t* data, uint32_t length) override;

  private:
    void RegisterParser();
    qvResult Send(nwStreamMessage message);
    // A malformed engine message: nothing more is parsed and the receive
    // reports an error, which closes the connection.
    void Reject();

    static void OnAccepted(const uint8_t* payload, uint32_t length, void* self);
    static void OnError(const uint8_t* payload, uint32_t length, void* self);
    static void OnProgress(const uint8_t* payload, uint32_t length, void* self);
    static void OnFinished(const uint8_t* payload, uint32_t length, void* self);
    static void OnCompleted(const uint8_t* payload, uint32_t length, void* self);
    static void OnNotice(const uint8_t* payload, uint32_t length, void* self);
    static void OnDown(const uint8_t* payload, uint32_t length, void* self);
    static void OnUp(const uint8_t* payload, uint32_t length, void* self);
    static void OnCompletedDetail(const uint8_t* payload, uint32_t length, void* self);
    static void OnResume(const uint8_t* payload, uint32_t length, void* self);
    static void OnState(const uint8_t* payload, uint32_t length, void* self);

    nwICDNLocalClientEventListener* listener_ = nullptr;
    uint32_t listenerContext_ = 0;
    bool malformed_ = false;
    // Reused between progress reports, so a report allocates only when it
    // carries more entries than any before.
    std::vector<nwCDNProgressEntry> progressEntries_;
};
