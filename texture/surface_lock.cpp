// Locks for the copy engine, with temporary system-memory copies for
// surfaces that cannot be locked.
#include "texture/surface_lock.h"

#include <algorithm>
#include <cstring>

#include "texture/debug_mute.h"
#include "texture/pixel_format.h"

namespace {
UINT WidenAlignment(D3DFORMAT format) {
    if (IsDxtFormat(format)) return 4;
    if (IsPairFormat(format)) return 2;
    return 1;
}

// Copies `rows` rows of `bytes` each between two locked blocks.
void CopyRows(BYTE* to, INT toPitch, const BYTE* from, INT fromPitch, size_t bytes, UINT rows) {
    for (UINT y = 0; y < rows; ++y) std::memcpy(to + ptrdiff_t(y) * toPitch, from + ptrdiff_t(y) * fromPitch, bytes);
}

// Is `surface` the only level of a dynamic texture?
bool OnlyLevelOfDynamicTexture(IDirect3DSurface9* surface, const D3DSURFACE_DESC& desc) {
    if (!(desc.Usage & D3DUSAGE_DYNAMIC)) return false;
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(surface->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(&texture))) || !texture)
        return false;
    const bool only = texture->GetLevelCount() == 1;
    texture->Release();
    return only;
}
}  // namespace

SurfaceLock::~SurfaceLock() { Unlock(); }

HRESULT SurfaceLock::Lock(IDirect3DSurface9* surface, const RECT* rect, bool readOnly, bool forceTemporary) {
    if (!surface) return D3DERR_INVALIDCALL;
    HRESULT hr = surface->GetDesc(&desc_);
    if (FAILED(hr)) return hr;
    const RECT whole = {0, 0, LONG(desc_.Width), LONG(desc_.Height)};
    requested_ = rect ? *rect : whole;
    if (requested_.left < 0 || requested_.top < 0 || requested_.left > requested_.right ||
        requested_.top > requested_.bottom || requested_.right > whole.right || requested_.bottom > whole.bottom)
        return D3DERR_INVALIDCALL;

    const LONG align = LONG(WidenAlignment(desc_.Format));
    const LONG alignY = IsDxtFormat(desc_.Format) ? 4 : 1;
    widened_.left = requested_.left / align * align;
    widened_.top = requested_.top / alignY * alignY;
    widened_.right = std::min<LONG>((requested_.right + align - 1) / align * align, whole.right);
    widened_.bottom = std::min<LONG>((requested_.bottom + alignY - 1) / alignY * alignY, whole.bottom);

    surface_ = surface;
    surface_->AddRef();
    readOnly_ = readOnly;
    flags_ = D3DLOCK_NOSYSLOCK | (readOnly ? D3DLOCK_READONLY : 0);
    const bool wholeSurface = widened_.left == 0 && widened_.top == 0 && widened_.right == whole.right &&
                              widened_.bottom == whole.bottom;
    if (!readOnly && wholeSurface && OnlyLevelOfDynamicTexture(surface, desc_)) flags_ |= D3DLOCK_DISCARD;

    if (!forceTemporary) {
        DebugMute(TRUE);
        hr = surface_->LockRect(&bits_, &widened_, flags_);
        DebugMute(FALSE);
        if (SUCCEEDED(hr)) {
            locked_ = surface_;
            return S_OK;
        }
    }
    hr = LockTemporary();
    if (FAILED(hr)) {
        SafeRelease(temporarySurface_);
        SafeRelease(temporary_);
        SafeRelease(surface_);
    }
    return hr;
}

// The temporary is a system-memory (scratch, for scratch surfaces) texture
// of the surface's size and format; a DXT surface whose sides are not
// multiples of 4 cannot be a texture's top level, so it becomes the k-th
// level of a texture 2^k times larger.
HRESULT SurfaceLock::LockTemporary() {
    IDirect3DDevice9* device = nullptr;
    HRESULT hr = surface_->GetDevice(&device);
    if (FAILED(hr)) return hr;
    UINT shift = 0;
    if (IsDxtFormat(desc_.Format))
        while (((desc_.Width << shift) % 4) != 0 || ((desc_.Height << shift) % 4) != 0) ++shift;
    const D3DPOOL pool = desc_.Pool == D3DPOOL_SCRATCH ? D3DPOOL_SCRATCH : D3DPOOL_SYSTEMMEM;
    DebugMute(TRUE);
    hr = device->CreateTexture(desc_.Width << shift, desc_.Height << shift, shift + 1, 0, desc_.Format, pool,
                               &temporary_, nullptr);
    DebugMute(FALSE);
    device->Release();
    if (FAILED(hr)) return hr;
    hr = temporary_->GetSurfaceLevel(shift, &temporarySurface_);
    if (FAILED(hr)) return hr;

    // Bring the surface's present contents over where they can be read, so
    // that a source reads them and a partly written destination keeps them.
    D3DLOCKED_RECT from = {}, to = {};
    DebugMute(TRUE);
    HRESULT readable = surface_->LockRect(&from, &widened_, D3DLOCK_NOSYSLOCK | D3DLOCK_READONLY);
    DebugMute(FALSE);
    if (SUCCEEDED(readable)) {
        hr = temporarySurface_->LockRect(&to, &widened_, D3DLOCK_NOSYSLOCK);
        if (SUCCEEDED(hr)) {
            const UINT width = UINT(widened_.right - widened_.left);
            const UINT height = UINT(widened_.bottom - widened_.top);
            CopyRows(static_cast<BYTE*>(to.pBits), to.Pitch, static_cast<const BYTE*>(from.pBits), from.Pitch,
                     size_t(FormatRowBytes(desc_.Format, width)), UINT(FormatRowCount(desc_.Format, height)));
            temporarySurface_->UnlockRect();
        }
        surface_->UnlockRect();
        if (FAILED(hr)) return hr;
    } else if (readOnly_) {
        // Nothing can read the surface's pixels back.
        return readable;
    }
    hr = temporarySurface_->LockRect(&bits_, &widened_, D3DLOCK_NOSYSLOCK | (readOnly_ ? D3DLOCK_READONLY : 0));
    if (FAILED(hr)) return hr;
    locked_ = temporarySurface_;
    return S_OK;
}

// Only the locked area goes back, so pixels outside it are never replaced
// by the temporary's.
HRESULT SurfaceLock::WriteBack() {
    IDirect3DDevice9* device = nullptr;
    HRESULT hr = surface_->GetDevice(&device);
    if (FAILED(hr)) return hr;
    const POINT at = {widened_.left, widened_.top};
    DebugMute(TRUE);
    hr = device->UpdateSurface(temporarySurface_, &widened_, surface_, &at);
    DebugMute(FALSE);
    device->Release();
    if (SUCCEEDED(hr)) return hr;

    // Row by row (rows of blocks for DXT) through two locks.
    D3DLOCKED_RECT from = {}, to = {};
    hr = temporarySurface_->LockRect(&from, &widened_, D3DLOCK_NOSYSLOCK | D3DLOCK_READONLY);
    if (FAILED(hr)) return hr;
    HRESULT hrTo = surface_->LockRect(&to, &widened_, D3DLOCK_NOSYSLOCK);
    if (SUCCEEDED(hrTo)) {
        const UINT width = UINT(widened_.right - widened_.left);
        const UINT height = UINT(widened_.bottom - widened_.top);
        CopyRows(static_cast<BYTE*>(to.pBits), to.Pitch, static_cast<const BYTE*>(from.pBits), from.Pitch,
                 size_t(FormatRowBytes(desc_.Format, width)), UINT(FormatRowCount(desc_.Format, height)));
        surface_->UnlockRect();
    }
    temporarySurface_->UnlockRect();
    return hrTo;
}

HRESULT SurfaceLock::Unlock() {
    if (!surface_) return S_OK;
    HRESULT hr = S_OK;
    if (locked_) {
        locked_->UnlockRect();
        if (locked_ == temporarySurface_ && !readOnly_) hr = WriteBack();
        locked_ = nullptr;
    }
    SafeRelease(temporarySurface_);
    SafeRelease(temporary_);
    SafeRelease(surface_);
    return hr;
}

PixelSurface SurfaceLock::Describe() const {
    PixelSurface s;
    s.pixels = static_cast<BYTE*>(bits_.pBits);
    s.format = desc_.Format;
    s.rowPitch = UINT(bits_.Pitch);
    s.slicePitch = 0;
    s.box = {UINT(requested_.left - widened_.left), UINT(requested_.top - widened_.top),
             UINT(requested_.right - widened_.left), UINT(requested_.bottom - widened_.top), 0, 1};
    s.extentWidth = UINT(widened_.right - widened_.left);
    s.extentHeight = UINT(widened_.bottom - widened_.top);
    return s;
}

// ---------------------------------------------------------------------------
// Volumes

VolumeLock::~VolumeLock() { Unlock(); }

HRESULT VolumeLock::Lock(IDirect3DVolume9* volume, const D3DBOX* box, bool readOnly, bool forceTemporary) {
    if (!volume) return D3DERR_INVALIDCALL;
    HRESULT hr = volume->GetDesc(&desc_);
    if (FAILED(hr)) return hr;
    const D3DBOX whole = {0, 0, desc_.Width, desc_.Height, 0, desc_.Depth};
    requested_ = box ? *box : whole;
    if (requested_.Left > requested_.Right || requested_.Top > requested_.Bottom ||
        requested_.Front > requested_.Back || requested_.Right > whole.Right || requested_.Bottom > whole.Bottom ||
        requested_.Back > whole.Back)
        return D3DERR_INVALIDCALL;
    const UINT align = WidenAlignment(desc_.Format);
    const UINT alignY = IsDxtFormat(desc_.Format) ? 4 : 1;
    widened_ = requested_;
    widened_.Left = requested_.Left / align * align;
    widened_.Top = requested_.Top / alignY * alignY;
    widened_.Right = std::min(requested_.Right + (align - requested_.Right % align) % align, whole.Right);
    widened_.Bottom = std::min(requested_.Bottom + (alignY - requested_.Bottom % alignY) % alignY, whole.Bottom);

    volume_ = volume;
    volume_->AddRef();
    readOnly_ = readOnly;
    const DWORD flags = D3DLOCK_NOSYSLOCK | (readOnly ? D3DLOCK_READONLY : 0);
    if (!forceTemporary) {
        DebugMute(TRUE);
        hr = volume_->LockBox(&bits_, &widened_, flags);
        DebugMute(FALSE);
        if (SUCCEEDED(hr)) {
            locked_ = volume_;
            return S_OK;
        }
        // A volume has no device call that writes it back from a copy, so
        // only reading goes through a temporary.
        if (!readOnly) {
            SafeRelease(volume_);
            return hr;
        }
    }
    // As for surfaces, a DXT volume whose sides are not multiples of 4 is
    // the k-th level of a temporary 2^k times larger (in depth too, so that
    // level k keeps the volume's depth).
    UINT shift = 0;
    if (IsDxtFormat(desc_.Format))
        while (((desc_.Width << shift) % 4) != 0 || ((desc_.Height << shift) % 4) != 0) ++shift;
    IDirect3DDevice9* device = nullptr;
    hr = volume_->GetDevice(&device);
    if (SUCCEEDED(hr)) {
        const D3DPOOL pool = desc_.Pool == D3DPOOL_SCRATCH ? D3DPOOL_SCRATCH : D3DPOOL_SYSTEMMEM;
        DebugMute(TRUE);
        hr = device->CreateVolumeTexture(desc_.Width << shift, desc_.Height << shift, desc_.Depth << shift,
                                         shift + 1, 0, desc_.Format, pool, &temporary_, nullptr);
        DebugMute(FALSE);
        device->Release();
    }
    if (SUCCEEDED(hr)) hr = temporary_->GetVolumeLevel(shift, &temporaryVolume_);
    D3DLOCKED_BOX from = {}, to = {};
    if (SUCCEEDED(hr)) hr = volume_->LockBox(&from, &widened_, D3DLOCK_NOSYSLOCK | D3DLOCK_READONLY);
    if (SUCCEEDED(hr)) {
        hr = temporaryVolume_->LockBox(&to, &widened_, D3DLOCK_NOSYSLOCK);
        if (SUCCEEDED(hr)) {
            const UINT width = widened_.Right - widened_.Left, height = widened_.Bottom - widened_.Top;
            for (UINT z = 0; z < widened_.Back - widened_.Front; ++z)
                CopyRows(static_cast<BYTE*>(to.pBits) + ptrdiff_t(z) * to.SlicePitch, to.RowPitch,
                         static_cast<const BYTE*>(from.pBits) + ptrdiff_t(z) * from.SlicePitch, from.RowPitch,
                         size_t(FormatRowBytes(desc_.Format, width)), UINT(FormatRowCount(desc_.Format, height)));
            temporaryVolume_->UnlockBox();
        }
        volume_->UnlockBox();
    }
    if (SUCCEEDED(hr)) hr = temporaryVolume_->LockBox(&bits_, &widened_, D3DLOCK_NOSYSLOCK | D3DLOCK_READONLY);
    if (FAILED(hr)) {
        SafeRelease(temporaryVolume_);
        SafeRelease(temporary_);
        SafeRelease(volume_);
        return hr;
    }
    locked_ = temporaryVolume_;
    return S_OK;
}

HRESULT VolumeLock::Unlock() {
    if (!volume_) return S_OK;
    if (locked_) locked_->UnlockBox();
    locked_ = nullptr;
    SafeRelease(temporaryVolume_);
    SafeRelease(temporary_);
    SafeRelease(volume_);
    return S_OK;
}

PixelSurface VolumeLock::Describe() const {
    PixelSurface s;
    s.pixels = static_cast<BYTE*>(bits_.pBits);
    s.format = desc_.Format;
    s.rowPitch = UINT(bits_.RowPitch);
    s.slicePitch = UINT(bits_.SlicePitch);
    s.box = {requested_.Left - widened_.Left, requested_.Top - widened_.Top, requested_.Right - widened_.Left,
             requested_.Bottom - widened_.Top, requested_.Front - widened_.Front, requested_.Back - widened_.Front};
    s.extentWidth = widened_.Right - widened_.Left;
    s.extentHeight = widened_.Bottom - widened_.Top;
    return s;
}
