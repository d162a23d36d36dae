#pragma once

#include <atomic>
#include <cstdint>

#include "ostra/norvikqos/object/qvResult.h"

// Base of every reference-counted network object. A new object starts with
// no reference; whoever creates it (the class factory, or a qvSmartPtr taking
// the raw pointer) adds the first.
class qvIUnknown {
  public:
    virtual qvResult AddRef() = 0;
    virtual qvResult Release() = 0;
    // Default answer of every class: no such interface.
    virtual qvResult QueryInterface(uint32_t id, void** out) = 0;
    virtual ~qvIUnknown() = default;
};

// Reference counting for a class implementing Interface (qvIUnknown or one of
// its descendants). Counts are plain integers: every network object lives under
// the engine lock. Classes touched from several threads use qvTAtomicUnknown.
template <class Interface, class Count = uint32_t>
class qvTUnknown : public Interface {
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
    qvResult QueryInterface(uint32_t, void** out) override {
        if (out)
            *out = nullptr;
        return qv::kNoInterface;
    }
    uint32_t RefCount() const { return refs_; }

  protected:
    using Interface::Interface;

  private:
    Count refs_{0};
};

template <class Interface>
using qvTAtomicUnknown = qvTUnknown<Interface, std::atomic<uint32_t>>;

// A plain reference-counted object with no interface of its own.
using qvCUnknown = qvTUnknown<qvIUnknown>;
