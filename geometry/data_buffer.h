// DataBuffer: a reference-counted byte block through which the geometry
// library hands out results of variable size (materials, hit lists, remaps).
#pragma once

#include "platform/win32/unknown.h"

// {5649524E-0101-4745-4F4D-444154414246}
inline constexpr IID IID_DataBuffer = {0x5649524E, 0x0101, 0x4745, {0x4F, 0x4D, 0x44, 0x41, 0x54, 0x41, 0x42, 0x46}};

struct DataBuffer : IUnknown {
    virtual void* GetDataPointer() = 0;
    virtual DWORD GetDataSize() = 0;

protected:
    ~DataBuffer() = default;
};

// Allocates `size` bytes (not cleared) in a new buffer holding one reference
// for the caller. D3DERR_INVALIDCALL for a null out, E_OUTOFMEMORY when the
// block cannot be allocated; *out is null on failure.
HRESULT CreateDataBuffer(DWORD size, DataBuffer** out);
