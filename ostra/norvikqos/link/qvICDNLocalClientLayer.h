#pragma once

#include <cstdint>
#include <string_view>

#include "ostra/norvikqos/link/nwCDNLocalMessages.h"
#include "ostra/norvikqos/link/nwICDNLocalClientEventListener.h"
#include "ostra/norvikqos/object/qvIUnknown.h"

// The application face of the local engine link: each send puts one message to
// the engine on the wire (0x40300000 once it is handed down; 0x80300000 when
// the record cannot be represented in the message).
class qvICDNLocalClientLayer : public qvIUnknown {
  public:
    virtual qvResult SetEventListener(nwICDNLocalClientEventListener* listener,
                                      uint32_t context) = 0;
    virtual qvResult SendJobMode(const nwCDNJobModeRecord& record) = 0;
    virtual qvResult SendJobKind(const nwCDNJobKindRecord& record) = 0;
    virtual qvResult SendJobList(const nwCDNJobList& list) = 0;
    virtual qvResult SendJobListBegin(const nwCDNJobListHeader& header) = 0;
    virtual qvResult SendJobFile(const nwCDNJobFileRecord& record) = 0;
    virtual qvResult SendJobListEnd(uint32_t serial) = 0;
    virtual qvResult SendStopJob(const nwCDNJobKeyRecord& record) = 0;
    // Longer texts are cut to 259 bytes.
    virtual qvResult SendEngineText(std::string_view text) = 0;
    virtual qvResult SendJobValue(const nwCDNJobValueRecord& record) = 0;
    virtual qvResult SendJobFlag(uint32_t serial) = 0;
    virtual qvResult SendResumeAnswer(const nwCDNResumeAnswerRecord& record) = 0;
    virtual qvResult SendCommand22() = 0;
};
