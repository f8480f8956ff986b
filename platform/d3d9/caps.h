// What the software device can do, fixed in one place: the capability
// record it reports and the formats it takes for each kind of resource.
#pragma once

#include "platform/d3d9/d3d9.h"

// Limits the device enforces as well as reports.
constexpr UINT kMaxTextureSize = 4096;
constexpr UINT kMaxVolumeExtent = 256;
constexpr UINT kMaxSurfaceSize = 16384;  // off-screen plain surfaces and back buffers
constexpr DWORD kMaxPrimitiveCount = 0xFFFFFF;
constexpr DWORD kMaxVertexIndex = 0xFFFFFF;
constexpr UINT kMaxStreams = 1;
constexpr UINT kMaxStreamStride = 255;
constexpr UINT kMaxLightsEnabled = 8;
constexpr UINT kSamplerCount = 16;   // sampler and texture-stage indices accepted
constexpr UINT kStageCount = 8;      // texture stages with blending state
constexpr UINT kAdapterWidth = 1024;  // the desktop the windowed device shares
constexpr UINT kAdapterHeight = 768;
constexpr UINT kAdapterRefreshRate = 60;
constexpr D3DFORMAT kAdapterFormat = D3DFMT_X8R8G8B8;

void FillDeviceCaps(D3DCAPS9* caps);

// Tests may pretend a more limited device: the hook edits the record each
// IDirect3DDevice9::GetDeviceCaps reports (the limits the device enforces
// stay as they are). Null removes it; returns the previous hook.
using DeviceCapsHook = void (*)(D3DCAPS9* caps);
DeviceCapsHook SetDeviceCapsHookForTesting(DeviceCapsHook hook);
// Applies the hook, if any, to a record about to be reported.
void ApplyDeviceCapsHook(D3DCAPS9* caps);

// The answer of IDirect3D9::CheckDeviceFormat for the one adapter, once the
// adapter and the device type are known to be good: D3D_OK, D3DOK_NOAUTOGEN,
// D3DERR_NOTAVAILABLE or D3DERR_INVALIDCALL (an unknown resource type).
HRESULT CheckResourceFormat(D3DFORMAT adapterFormat, DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format);
// Formats the adapter can display in a window and back buffers can have.
bool IsDisplayFormat(D3DFORMAT format);
bool IsBackBufferFormat(D3DFORMAT format);
// Scratch resources take every format with a known storage, unchecked.
bool IsScratchFormat(D3DFORMAT format);
