#pragma once

#include <cstdint>
#include <utility>

#include "ostra/norvikqos/object/qvClassFactory.h"
#include "ostra/norvikqos/object/qvIUnknown.h"

// Holds one reference to a network object, or none. T is the face the holder
// uses; CreateInstance makes objects by class id through the factory.
template <class T = qvIUnknown>
class qvSmartPtr {
  public:
    qvSmartPtr() = default;
    qvSmartPtr(std::nullptr_t) {}
    explicit qvSmartPtr(T* object) : object_(object) {
        if (object_)
            object_->AddRef();
    }
    qvSmartPtr(const qvSmartPtr& other) : qvSmartPtr(other.object_) {}
    qvSmartPtr(qvSmartPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    template <class U>
    qvSmartPtr(const qvSmartPtr<U>& other) : qvSmartPtr(static_cast<T*>(other.Get())) {}
    virtual ~qvSmartPtr() { Reset(); }

    qvSmartPtr& operator=(const qvSmartPtr& other) {
        Assign(other.object_);
        return *this;
    }
    qvSmartPtr& operator=(qvSmartPtr&& other) noexcept {
        if (this != &other) {
            T* old = std::exchange(object_, std::exchange(other.object_, nullptr));
            if (old)
                old->Release();
        }
        return *this;
    }
    qvSmartPtr& operator=(T* object) {
        Assign(object);
        return *this;
    }

    // Same object: nothing, so holding the only reference is safe. Otherwise the
    // new object gets a reference before the old one is released.
    void Assign(T* object) {
        if (object == object_)
            return;
        if (object)
            object->AddRef();
        T* old = std::exchange(object_, object);
        if (old)
            old->Release();
    }

    void Reset() {
        if (T* old = std::exchange(object_, nullptr))
            old->Release();
    }

    // Releases what is held, then makes the class of the id and holds it. False
    // (and empty) for an unknown id or a class that lacks the face T.
    bool CreateInstance(uint32_t classId) {
        Reset();
        qvIUnknown* made = qvCreateObject(classId);
        if (!made)
            return false;
        T* face = dynamic_cast<T*>(made);
        if (!face) {
            made->AddRef();
            made->Release();
            return false;
        }
        Assign(face);
        return true;
    }

    // Asks the held object for another interface; false when empty or refused.
    bool QueryInterface(uint32_t id, void** out) const {
        return object_ && qv::Succeeded(object_->QueryInterface(id, out));
    }

    T* Get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }
    bool operator==(const qvSmartPtr& other) const { return object_ == other.object_; }
    bool operator==(const T* other) const { return object_ == other; }

  private:
    T* object_ = nullptr;
};

// Wraps a freshly constructed object (count 0) in its first reference.
template <class T, class... Args>
qvSmartPtr<T> qvMakeObject(Args&&... args) {
    return qvSmartPtr<T>(new T(std::forward<Args>(args)...));
}
