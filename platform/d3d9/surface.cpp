#include "platform/d3d9/surface.h"

#include <algorithm>
#include <new>

#include "platform/d3d9/debug_report.h"
#include "platform/d3d9/device.h"

namespace {

constexpr DWORD kLockFlags =
    D3DLOCK_READONLY | D3DLOCK_DISCARD | D3DLOCK_NOSYSLOCK | D3DLOCK_DONOTWAIT | D3DLOCK_NO_DIRTY_UPDATE;

// Flags and access rules shared by surfaces and volumes.
const char* CheckLockFlags(DWORD flags, const SurfaceSetup& setup) {
    if (flags & ~kLockFlags) return "unknown or unsupported lock flags";
    if (!setup.lockable) return "the resource cannot be locked";
    if ((flags & D3DLOCK_DISCARD) && !setup.dynamic) return "DISCARD needs a dynamic resource";
    if ((flags & D3DLOCK_DISCARD) && (flags & D3DLOCK_READONLY)) return "DISCARD and READONLY together";
    return nullptr;
}

bool Edge(UINT value, UINT block, UINT size) { return value % block == 0 || value == size; }

}  // namespace

HRESULT PixelStore::Allocate(D3DFORMAT f, UINT w, UINT h, UINT d) {
    if (!GetFormatLayout(f, &layout)) return D3DERR_INVALIDCALL;
    format = f;
    width = w;
    height = h;
    depth = d;
    const LevelExtent extent = ComputeLevelExtent(layout, w, h);
    pitch = extent.pitch;
    rows = extent.rows;
    const std::uint64_t total = extent.slice * d;
    if (total > (std::uint64_t(1) << 34)) return E_OUTOFMEMORY;
    slicePitch = size_t(extent.slice);
    size = size_t(total);
    bits = AllocateZeroed(size);
    return bits ? D3D_OK : E_OUTOFMEMORY;
}

SurfaceView PixelStore::View(UINT slice) const {
    SurfaceView v;
    v.format = format;
    v.width = width;
    v.height = height;
    v.pitch = INT(pitch);
    v.bits = bits.get() + slice * slicePitch;
    return v;
}

void DirtyRegion::Add(const D3DBOX& b) {
    if (!any) {
        box = b;
        any = true;
        return;
    }
    box.Left = std::min(box.Left, b.Left);
    box.Top = std::min(box.Top, b.Top);
    box.Front = std::min(box.Front, b.Front);
    box.Right = std::max(box.Right, b.Right);
    box.Bottom = std::max(box.Bottom, b.Bottom);
    box.Back = std::max(box.Back, b.Back);
}

D3DBOX DirtyRegion::OnLevel(UINT level, UINT width, UINT height, UINT depth) const {
    const UINT round = (1u << level) - 1;
    D3DBOX b;
    b.Left = std::min(box.Left >> level, width);
    b.Top = std::min(box.Top >> level, height);
    b.Front = std::min(box.Front >> level, depth);
    b.Right = std::min((box.Right + round) >> level, width);
    b.Bottom = std::min((box.Bottom + round) >> level, height);
    b.Back = std::min((box.Back + round) >> level, depth);
    return b;
}

bool CheckRect(const PixelStore& store, const RECT* rect, D3DBOX* box, const char** why) {
    if (!rect) {
        *box = D3DBOX{0, 0, store.width, store.height, 0, 1};
        return true;
    }
    if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right || rect->top >= rect->bottom ||
        UINT(rect->right) > store.width || UINT(rect->bottom) > store.height) {
        *why = "rectangle is empty or outside the surface";
        return false;
    }
    const UINT bw = store.layout.blockWidth, bh = store.layout.blockHeight;
    if (UINT(rect->left) % bw || UINT(rect->top) % bh || !Edge(UINT(rect->right), bw, store.width) ||
        !Edge(UINT(rect->bottom), bh, store.height)) {
        *why = "rectangle does not cover whole blocks";
        return false;
    }
    *box = D3DBOX{UINT(rect->left), UINT(rect->top), UINT(rect->right), UINT(rect->bottom), 0, 1};
    return true;
}

// ---------------------------------------------------------------------------

Surface::Surface(Device* device, const SurfaceSetup& setup, IUnknown* container, LevelOwner* owner, UINT face,
                 UINT level)
    : DeviceChild(device, container == nullptr),
      setup_(setup),
      container_(container),
      owner_(owner),
      face_(face),
      level_(level) {}

HRESULT Surface::Create(Device* device, const SurfaceSetup& setup, IUnknown* container, LevelOwner* owner,
                        UINT face, UINT level, Surface** out) {
    // Built before it holds the device so a failure does not touch counts.
    PixelStore store;
    HRESULT hr = store.Allocate(setup.format, setup.width, setup.height, 1);
    if (FAILED(hr)) return hr;
    Surface* s = new (std::nothrow) Surface(device, setup, container, owner, face, level);
    if (!s) return E_OUTOFMEMORY;
    s->store_ = std::move(store);
    *out = s;
    return D3D_OK;
}

HRESULT Surface::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3DResource9 || riid == IID_IDirect3DSurface9) {
        AddRef();
        *object = static_cast<IDirect3DSurface9*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG Surface::AddRef() { return container_ ? container_->AddRef() : ChildAddRef(); }
ULONG Surface::Release() { return container_ ? container_->Release() : ChildRelease("IDirect3DSurface9::Release"); }

HRESULT Surface::GetContainer(REFIID riid, void** container) {
    if (!container) return InvalidCall("IDirect3DSurface9::GetContainer", "null output");
    IUnknown* holder = container_ ? container_ : static_cast<IUnknown*>(OwnerDevice());
    return holder->QueryInterface(riid, container);
}

HRESULT Surface::GetDesc(D3DSURFACE_DESC* desc) {
    if (!desc) return InvalidCall("IDirect3DSurface9::GetDesc", "null output");
    desc->Format = setup_.format;
    desc->Type = D3DRTYPE_SURFACE;
    desc->Usage = setup_.usage;
    desc->Pool = setup_.pool;
    desc->MultiSampleType = D3DMULTISAMPLE_NONE;
    desc->MultiSampleQuality = 0;
    desc->Width = setup_.width;
    desc->Height = setup_.height;
    return D3D_OK;
}

HRESULT Surface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    static const char* method = "IDirect3DSurface9::LockRect";
    OwnerDevice()->FlushDrawing();
    if (!locked) return InvalidCall(method, "null output");
    locked->Pitch = 0;
    locked->pBits = nullptr;
    if (const char* why = CheckLockFlags(flags, setup_)) return InvalidCall(method, why);
    if (locked_) return InvalidCall(method, "surface is already locked");
    D3DBOX box;
    const char* why = nullptr;
    if (!CheckRect(store_, rect, &box, &why)) return InvalidCall(method, why);
    locked->Pitch = INT(store_.pitch);
    locked->pBits = store_.Address(box.Left, box.Top);
    locked_ = true;
    if (owner_ && !(flags & (D3DLOCK_READONLY | D3DLOCK_NO_DIRTY_UPDATE))) owner_->LevelWritten(face_, level_, box);
    return D3D_OK;
}

HRESULT Surface::UnlockRect() {
    if (!locked_) return InvalidCall("IDirect3DSurface9::UnlockRect", "surface is not locked");
    locked_ = false;
    return D3D_OK;
}

// ---------------------------------------------------------------------------

Volume::Volume(Device* device, const SurfaceSetup& setup, IUnknown* container, LevelOwner* owner, UINT level)
    : DeviceChild(device, false), setup_(setup), container_(container), owner_(owner), level_(level) {}

HRESULT Volume::Create(Device* device, const SurfaceSetup& setup, UINT depth, IUnknown* container,
                       LevelOwner* owner, UINT level, Volume** out) {
    PixelStore store;
    HRESULT hr = store.Allocate(setup.format, setup.width, setup.height, depth);
    if (FAILED(hr)) return hr;
    Volume* v = new (std::nothrow) Volume(device, setup, container, owner, level);
    if (!v) return E_OUTOFMEMORY;
    v->store_ = std::move(store);
    *out = v;
    return D3D_OK;
}

HRESULT Volume::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirect3DVolume9) {
        AddRef();
        *object = static_cast<IDirect3DVolume9*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT Volume::GetContainer(REFIID riid, void** container) {
    if (!container) return InvalidCall("IDirect3DVolume9::GetContainer", "null output");
    return container_->QueryInterface(riid, container);
}

HRESULT Volume::GetDesc(D3DVOLUME_DESC* desc) {
    if (!desc) return InvalidCall("IDirect3DVolume9::GetDesc", "null output");
    desc->Format = setup_.format;
    desc->Type = D3DRTYPE_VOLUME;
    desc->Usage = setup_.usage;
    desc->Pool = setup_.pool;
    desc->Width = store_.width;
    desc->Height = store_.height;
    desc->Depth = store_.depth;
    return D3D_OK;
}

HRESULT Volume::LockBox(D3DLOCKED_BOX* locked, const D3DBOX* box, DWORD flags) {
    static const char* method = "IDirect3DVolume9::LockBox";
    OwnerDevice()->FlushDrawing();
    if (!locked) return InvalidCall(method, "null output");
    locked->RowPitch = locked->SlicePitch = 0;
    locked->pBits = nullptr;
    if (const char* why = CheckLockFlags(flags, setup_)) return InvalidCall(method, why);
    if (locked_) return InvalidCall(method, "volume is already locked");
    D3DBOX b{0, 0, store_.width, store_.height, 0, store_.depth};
    if (box) {
        if (box->Left >= box->Right || box->Top >= box->Bottom || box->Front >= box->Back ||
            box->Right > store_.width || box->Bottom > store_.height || box->Back > store_.depth)
            return InvalidCall(method, "box is empty or outside the volume");
        const UINT bw = store_.layout.blockWidth, bh = store_.layout.blockHeight;
        if (box->Left % bw || box->Top % bh || !Edge(box->Right, bw, store_.width) ||
            !Edge(box->Bottom, bh, store_.height))
            return InvalidCall(method, "box does not cover whole blocks");
        b = *box;
    }
    locked->RowPitch = INT(store_.pitch);
    locked->SlicePitch = INT(store_.slicePitch);
    locked->pBits = store_.Address(b.Left, b.Top, b.Front);
    locked_ = true;
    if (owner_ && !(flags & (D3DLOCK_READONLY | D3DLOCK_NO_DIRTY_UPDATE))) owner_->LevelWritten(0, level_, b);
    return D3D_OK;
}

HRESULT Volume::UnlockBox() {
    if (!locked_) return InvalidCall("IDirect3DVolume9::UnlockBox", "volume is not locked");
    locked_ = false;
    return D3D_OK;
}
