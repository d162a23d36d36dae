#pragma once

#include <cstdint>

#include "ostra/norvikqos/core/cpAddress.h"
#include "ostra/norvikqos/core/cpSocketRecord.h"
#include "ostra/norvikqos/object/qvIUnknown.h"

// A socket as a reference-counted object, for users outside the connection
// contexts (which own bare records registered with cpCQoS).
class cpCSocket : public qvTUnknown<qvIUnknown> {
  public:
    ~cpCSocket() override;

    virtual qvResult Create(int32_t kind);
    virtual qvResult Connect(const cpAddress& address);
    // Afterwards the object holds no record.
    virtual qvResult Close();
    virtual qvResult Send(const void* data, uint32_t length, int32_t& sent);
    virtual qvResult Receive(void* buffer, uint32_t size, int32_t& received);
    virtual qvResult Nop();
    virtual qvResult Bind(const cpAddress& address);
    virtual qvResult Listen();
    // On failure newRecord is empty and the error is returned.
    virtual qvResult Accept(cpSocketRecordPtr& newRecord, cpAddress& peer);
    virtual qvResult SendTo(const void* data, uint32_t length, const cpAddress& address,
                            int32_t& sent);
    virtual qvResult EnableBroadcast(int32_t option);
    virtual qvResult ReceiveFrom(void* buffer, uint32_t size, cpAddress& address,
                                 int32_t& received);

    cpSocketRecord* Record() const { return record_.get(); }

  private:
    cpSocketRecordPtr record_;
};
