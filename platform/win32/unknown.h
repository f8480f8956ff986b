// The COM-style object base: QueryInterface, AddRef and Release in the
// first three virtual slots, and a reference-counting implementation.
#pragma once

#include <atomic>

#include "platform/win32/types.h"

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

// Implements AddRef and Release for one interface: the count starts at one
// (the creator's reference) and the object deletes itself on the last
// Release. QueryInterface stays with the concrete class.
template <class Interface>
class ComObject : public Interface {
public:
    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }
    ULONG RefCount() const { return refs_.load(std::memory_order_relaxed); }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

private:
    std::atomic<ULONG> refs_{1};
};

// Releases the object and nulls the pointer, if it is not already null.
template <class T>
inline void SafeRelease(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}
