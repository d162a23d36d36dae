#pragma once

#include <cstdint>

#include "ostra/norvikqos/stack/nwCApplicationStack.h"

// A concrete layer: the layer base (its net-stack face) joined with one
// application interface. Both faces share one reference count; QueryInterface
// on either answers only the net-stack id, without adding a reference.
template <class ApplicationFace>
class nwTLayer : public nwCApplicationStack, public ApplicationFace {
  public:
    qvResult AddRef() override {
        ++refs_;
        return qv::kRefOk;
    }
    qvResult Release() override {
        if (--refs_ == 0)
            delete this;
        return qv::kRefOk;
    }
    qvResult QueryInterface(uint32_t id, void** out) override {
        if (id != kNetStackInterfaceId) {
            if (out)
                *out = nullptr;
            return qv::kLayerFail;
        }
        if (out)
            *out = static_cast<nwIQoSNetStack*>(this);
        return qv::kLayerOk;
    }

    // The face the class factory hands out.
    ApplicationFace* Application() { return this; }
    uint32_t RefCount() const { return refs_; }

  private:
    uint32_t refs_ = 0;
};
