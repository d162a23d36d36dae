#pragma once

#include <cstdint>

#include "ostra/norvikqos/link/nwCDNLocalMessages.h"

// What the local engine link tells its user (the engine downloader). Records
// and the texts they point to are valid only during the call.
class nwICDNLocalClientEventListener {
  public:
    virtual void OnEngineConnected(uint32_t context) = 0;
    virtual void OnJobAccepted(const nwCDNJobAcceptedRecord& record, uint32_t context) = 0;
    virtual void OnJobError(const nwCDNJobErrorRecord& record, uint32_t context) = 0;
    virtual void OnJobProgress(const nwCDNJobProgressRecord& record, uint32_t context) = 0;
    virtual void OnFileCompleted(const nwCDNFileCompletedRecord& record, uint32_t context) = 0;
    virtual void OnFileCompletedDetail(const nwCDNFileCompletedRecord& record,
                                       uint32_t context) = 0;
    virtual void OnJobFinished(const nwCDNJobFinishedRecord& record, uint32_t context) = 0;
    virtual void OnEngineNotice(const nwCDNEngineNoticeRecord& record, uint32_t context) = 0;
    virtual void OnNetworkDown(const nwCDNNetworkRecord& record, uint32_t context) = 0;
    virtual void OnNetworkUp(const nwCDNNetworkRecord& record, uint32_t context) = 0;
    virtual void OnEngineClosed(uint32_t context) = 0;
    virtual void OnEngineConnectFailed(uint32_t context) = 0;
    virtual void OnResumeQuestion(uint32_t serial) = 0;
    virtual void OnEngineStateMessage(uint32_t value, uint32_t context) = 0;

  protected:
    ~nwICDNLocalClientEventListener() = default;
};
