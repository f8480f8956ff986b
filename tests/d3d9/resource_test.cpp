#include <algorithm>
#include <cstring>

#include "tests/d3d9/device_fixture.h"

namespace {

class ResourceTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        DebugSetMute(TRUE);
    }
    void TearDown() override {
        DebugSetMute(FALSE);
        DeviceTest::TearDown();
    }
    HRESULT Make(UINT w, UINT h, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                 IDirect3DTexture9** out = nullptr) {
        IDirect3DTexture9* t = nullptr;
        HRESULT hr = device->CreateTexture(w, h, levels, usage, format, pool, &t, nullptr);
        if (out)
            *out = t;
        else if (t)
            t->Release();
        return hr;
    }
};

bool IsBlockFormat(D3DFORMAT f) {
    return f == D3DFMT_DXT1 || f == D3DFMT_DXT2 || f == D3DFMT_DXT3 || f == D3DFMT_DXT4 || f == D3DFMT_DXT5;
}

struct FormatSize {
    D3DFORMAT format;
    UINT bytes;  // per pixel, or per 4x4 block
};

// Row pitch of a level: rows padded to whole 32-bit words, compressed rows
// a row of blocks.
UINT ExpectedPitch(D3DFORMAT format, UINT bytes, UINT width) {
    switch (format) {
        case D3DFMT_DXT1:
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5:
            return (width + 3) / 4 * bytes;
        default:
            return (width * bytes + 3) / 4 * 4;
    }
}

TEST_F(ResourceTest, EveryTextureFormatHasItsRealPitch) {
    const FormatSize formats[] = {
        {D3DFMT_A8R8G8B8, 4},      {D3DFMT_X8R8G8B8, 4},      {D3DFMT_R5G6B5, 2},     {D3DFMT_X1R5G5B5, 2},
        {D3DFMT_A1R5G5B5, 2},      {D3DFMT_A4R4G4B4, 2},      {D3DFMT_X4R4G4B4, 2},   {D3DFMT_A8, 1},
        {D3DFMT_L8, 1},            {D3DFMT_A8L8, 2},          {D3DFMT_A4L4, 1},       {D3DFMT_L16, 2},
        {D3DFMT_G16R16, 4},        {D3DFMT_A2R10G10B10, 4},   {D3DFMT_A16B16G16R16, 8}, {D3DFMT_V8U8, 2},
        {D3DFMT_Q8W8V8U8, 4},      {D3DFMT_V16U16, 4},        {D3DFMT_R16F, 2},       {D3DFMT_G16R16F, 4},
        {D3DFMT_A16B16G16R16F, 8}, {D3DFMT_R32F, 4},          {D3DFMT_G32R32F, 8},    {D3DFMT_A32B32G32R32F, 16},
        {D3DFMT_DXT1, 8},          {D3DFMT_DXT2, 16},         {D3DFMT_DXT3, 16},      {D3DFMT_DXT4, 16},
        {D3DFMT_DXT5, 16}};
    for (const FormatSize& f : formats) {
        // 64 x 16, full chain: levels down to 1 x 1 exercise every pitch rule.
        IDirect3DTexture9* t = nullptr;
        ASSERT_EQ(Make(64, 16, 0, 0, f.format, D3DPOOL_MANAGED, &t), D3D_OK) << f.format;
        ASSERT_EQ(t->GetLevelCount(), 7u);
        for (UINT level = 0; level < 7; ++level) {
            D3DSURFACE_DESC desc{};
            ASSERT_EQ(t->GetLevelDesc(level, &desc), D3D_OK);
            EXPECT_EQ(desc.Format, f.format);
            EXPECT_EQ(desc.Width, std::max(64u >> level, 1u));
            EXPECT_EQ(desc.Height, std::max(16u >> level, 1u));
            D3DLOCKED_RECT lr{};
            ASSERT_EQ(t->LockRect(level, &lr, nullptr, 0), D3D_OK);
            EXPECT_EQ(UINT(lr.Pitch), ExpectedPitch(f.format, f.bytes, desc.Width)) << f.format << " " << level;
            // The whole level is writable (ASan checks the extent).
            const UINT rows = IsBlockFormat(f.format) ? (desc.Height + 3) / 4 : desc.Height;
            std::memset(lr.pBits, 0xAB, size_t(lr.Pitch) * rows);
            EXPECT_EQ(t->UnlockRect(level), D3D_OK);
        }
        t->Release();
    }
}

TEST_F(ResourceTest, CompressedLevelsOfOddSizesUseWholeBlocks) {
    // Scratch textures take any size; the locked level spans whole blocks.
    for (D3DFORMAT format : {D3DFMT_DXT1, D3DFMT_DXT5}) {
        const UINT block = format == D3DFMT_DXT1 ? 8 : 16;
        for (UINT w = 1; w <= 5; ++w) {
            for (UINT h = 1; h <= 3; ++h) {
                IDirect3DTexture9* t = nullptr;
                ASSERT_EQ(Make(w, h, 1, 0, format, D3DPOOL_SCRATCH, &t), D3D_OK) << w << "x" << h;
                D3DLOCKED_RECT lr{};
                ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
                EXPECT_EQ(UINT(lr.Pitch), (w + 3) / 4 * block) << w << "x" << h;
                std::memset(lr.pBits, 0, lr.Pitch);  // one row of blocks
                EXPECT_EQ(t->UnlockRect(0), D3D_OK);
                t->Release();
            }
        }
    }
    // Outside the scratch pool, compressed textures need multiples of 4.
    EXPECT_EQ(Make(6, 8, 1, 0, D3DFMT_DXT1, D3DPOOL_SYSTEMMEM), D3DERR_INVALIDCALL);
    IDirect3DTexture9* t = nullptr;
    ASSERT_EQ(Make(8, 4, 0, 0, D3DFMT_DXT3, D3DPOOL_MANAGED, &t), D3D_OK);
    EXPECT_EQ(t->GetLevelCount(), 4u);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(t->LockRect(3, &lr, nullptr, 0), D3D_OK);  // 1 x 1: one block
    EXPECT_EQ(lr.Pitch, 16);
    EXPECT_EQ(t->UnlockRect(3), D3D_OK);
    // Sub-rectangles of compressed levels lie on block edges.
    const RECT inside{4, 0, 8, 4}, misaligned{2, 0, 8, 4}, edge{0, 0, 2, 1};
    ASSERT_EQ(t->LockRect(0, &lr, &inside, 0), D3D_OK);
    EXPECT_EQ(t->UnlockRect(0), D3D_OK);
    EXPECT_EQ(t->LockRect(0, &lr, &misaligned, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(t->LockRect(2, &lr, &edge, 0), D3D_OK);  // level 2 is 2 x 1: its edges count
    EXPECT_EQ(t->UnlockRect(2), D3D_OK);
    t->Release();
}

TEST_F(ResourceTest, ScratchTakesEveryFormatWithAStorage) {
    const D3DFORMAT formats[] = {D3DFMT_R8G8B8,  D3DFMT_P8,     D3DFMT_A8P8,      D3DFMT_R3G3B2, D3DFMT_A8R3G3B2,
                                 D3DFMT_A2B10G10R10, D3DFMT_A8B8G8R8, D3DFMT_X8B8G8R8, D3DFMT_L6V5U5, D3DFMT_X8L8V8U8,
                                 D3DFMT_A2W10V10U10, D3DFMT_Q16W16V16U16, D3DFMT_CxV8U8, D3DFMT_UYVY, D3DFMT_YUY2,
                                 D3DFMT_R8G8_B8G8, D3DFMT_G8R8_G8B8, D3DFMT_D16_LOCKABLE, D3DFMT_D32F_LOCKABLE,
                                 D3DFMT_D24S8};
    for (D3DFORMAT f : formats) {
        EXPECT_EQ(Make(6, 3, 1, 0, f, D3DPOOL_SCRATCH), D3D_OK) << f;
        EXPECT_EQ(Make(8, 8, 1, 0, f, D3DPOOL_MANAGED), D3DERR_INVALIDCALL) << f;
    }
    IDirect3DTexture9* t = nullptr;
    ASSERT_EQ(Make(3, 2, 1, 0, D3DFMT_R8G8B8, D3DPOOL_SCRATCH, &t), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
    EXPECT_EQ(lr.Pitch, 12);  // 9 bytes padded to a word
    t->UnlockRect(0);
    t->Release();
    ASSERT_EQ(Make(5, 1, 1, 0, D3DFMT_YUY2, D3DPOOL_SCRATCH, &t), D3D_OK);
    ASSERT_EQ(t->LockRect(0, &lr, nullptr, 0), D3D_OK);
    EXPECT_EQ(lr.Pitch, 12);  // three pairs of pixels
    t->UnlockRect(0);
    t->Release();
    EXPECT_EQ(Make(4, 4, 1, 0, D3DFMT_UNKNOWN, D3DPOOL_SCRATCH), D3DERR_INVALIDCALL);
    EXPECT_EQ(Make(4, 4, 1, 0, D3DFMT_INDEX16, D3DPOOL_SCRATCH), D3DERR_INVALIDCALL);
}

TEST_F(ResourceTest, TextureCreationFollowsTheCapsAndPools) {
    IDirect3DTexture9* t = reinterpret_cast<IDirect3DTexture9*>(1);
    EXPECT_EQ(device->CreateTexture(0, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(Make(4097, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED), D3DERR_INVALIDCALL);
    EXPECT_EQ(Make(4096, 1, 1, 0, D3DFMT_A8, D3DPOOL_MANAGED), D3D_OK);
    EXPECT_EQ(Make(8, 8, 5, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED), D3DERR_INVALIDCALL);  // chain has 4
    EXPECT_EQ(Make(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL(4)), D3DERR_INVALIDCALL);
    EXPECT_EQ(Make(8, 8, 1, D3DUSAGE_WRITEONLY, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED), D3DERR_INVALIDCALL);
    HANDLE shared = nullptr;
    EXPECT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, &shared), D3DERR_INVALIDCALL);
    // Sizes that are not powers of two: one level, uncompressed.
    EXPECT_EQ(Make(100, 60, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED), D3D_OK);
    EXPECT_EQ(Make(100, 60, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED), D3DERR_INVALIDCALL);
    EXPECT_EQ(Make(100, 60, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM), D3DERR_INVALIDCALL);
    EXPECT_EQ(Make(100, 60, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SCRATCH), D3D_OK);
    EXPECT_EQ(Make(12, 12, 1, 0, D3DFMT_DXT1, D3DPOOL_MANAGED), D3DERR_INVALIDCALL);
    // Usages belong to pools.
    EXPECT_EQ(Make(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT), D3D_OK);
    EXPECT_EQ(Make(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED), D3DERR_INVALIDCALL);
    EXPECT_EQ(Make(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_DXT1, D3DPOOL_DEFAULT), D3DERR_INVALIDCALL);
    EXPECT_EQ(Make(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED), D3DERR_INVALIDCALL);
    EXPECT_EQ(Make(8, 8, 1, D3DUSAGE_DEPTHSTENCIL, D3DFMT_D16, D3DPOOL_DEFAULT), D3DERR_INVALIDCALL);
    // Automatic mip levels: none generated, one level shown.
    IDirect3DTexture9* autogen = nullptr;
    ASSERT_EQ(Make(16, 16, 0, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &autogen), D3D_OK);
    EXPECT_EQ(autogen->GetLevelCount(), 1u);
    autogen->Release();
    EXPECT_EQ(Make(16, 16, 3, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED), D3DERR_INVALIDCALL);
    EXPECT_EQ(Make(16, 16, 0, D3DUSAGE_AUTOGENMIPMAP, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM), D3DERR_INVALIDCALL);
}

TEST_F(ResourceTest, LockRulesPerPool) {
    D3DLOCKED_RECT lr{};
    IDirect3DTexture9* t = nullptr;
    // Default pool: only dynamic textures lock.
    ASSERT_EQ(Make(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t), D3D_OK);
    EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(lr.pBits, nullptr);
    t->Release();
    ASSERT_EQ(Make(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t), D3D_OK);
    EXPECT_EQ(t->LockRect(0, &lr, nullptr, D3DLOCK_DISCARD), D3D_OK);
    EXPECT_EQ(t->UnlockRect(0), D3D_OK);
    t->Release();
    ASSERT_EQ(Make(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &t), D3D_OK);
    EXPECT_EQ(t->LockRect(0, &lr, nullptr, 0), D3DERR_INVALIDCALL);
    t->Release();

    for (D3DPOOL pool : {D3DPOOL_MANAGED, D3DPOOL_SYSTEMMEM, D3DPOOL_SCRATCH}) {
        ASSERT_EQ(Make(8, 8, 2, 0, D3DFMT_R5G6B5, pool, &t), D3D_OK);
        EXPECT_EQ(t->LockRect(0, &lr, nullptr, D3DLOCK_DISCARD), D3DERR_INVALIDCALL) << "not dynamic";
        EXPECT_EQ(t->LockRect(0, &lr, nullptr, D3DLOCK_NOOVERWRITE), D3DERR_INVALIDCALL) << "buffers only";
        ASSERT_EQ(t->LockRect(0, &lr, nullptr, D3DLOCK_NOSYSLOCK), D3D_OK);
        BYTE* whole = static_cast<BYTE*>(lr.pBits);
        // Locking a locked level fails; the other level is separate.
        D3DLOCKED_RECT again{};
        EXPECT_EQ(t->LockRect(0, &again, nullptr, 0), D3DERR_INVALIDCALL);
        IDirect3DSurface9* level0 = nullptr;
        ASSERT_EQ(t->GetSurfaceLevel(0, &level0), D3D_OK);
        EXPECT_EQ(level0->LockRect(&again, nullptr, 0), D3DERR_INVALIDCALL);  // same level, same lock
        EXPECT_EQ(t->LockRect(1, &again, nullptr, D3DLOCK_READONLY), D3D_OK);
        EXPECT_EQ(t->UnlockRect(1), D3D_OK);
        EXPECT_EQ(level0->UnlockRect(), D3D_OK);
        EXPECT_EQ(t->UnlockRect(0), D3DERR_INVALIDCALL);  // double unlock
        level0->Release();
        // A rectangle points at its corner.
        const RECT r{2, 3, 6, 8};
        ASSERT_EQ(t->LockRect(0, &lr, &r, 0), D3D_OK);
        EXPECT_EQ(static_cast<BYTE*>(lr.pBits), whole + 3 * lr.Pitch + 2 * 2);
        EXPECT_EQ(t->UnlockRect(0), D3D_OK);
        for (const RECT& bad : {RECT{0, 0, 9, 8}, RECT{4, 4, 4, 6}, RECT{-1, 0, 2, 2}, RECT{5, 5, 3, 7}})
            EXPECT_EQ(t->LockRect(0, &lr, &bad, 0), D3DERR_INVALIDCALL);
        EXPECT_EQ(t->LockRect(2, &lr, nullptr, 0), D3DERR_INVALIDCALL);
        EXPECT_EQ(t->LockRect(0, nullptr, nullptr, 0), D3DERR_INVALIDCALL);
        t->Release();
    }
}

TEST_F(ResourceTest, CubeTexturesHaveSixFacesOfLevels) {
    IDirect3DCubeTexture9* cube = nullptr;
    ASSERT_EQ(device->CreateCubeTexture(12, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &cube, nullptr), D3D_OK);
    EXPECT_EQ(cube->GetLevelCount(), 4u);  // 12, 6, 3, 1
    EXPECT_EQ(cube->GetType(), D3DRTYPE_CUBETEXTURE);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(cube->GetLevelDesc(2, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 3u);
    EXPECT_EQ(desc.Height, 3u);
    D3DLOCKED_RECT a{}, b{};
    ASSERT_EQ(cube->LockRect(D3DCUBEMAP_FACE_POSITIVE_X, 0, &a, nullptr, 0), D3D_OK);
    ASSERT_EQ(cube->LockRect(D3DCUBEMAP_FACE_NEGATIVE_Z, 0, &b, nullptr, 0), D3D_OK);
    EXPECT_NE(a.pBits, b.pBits);
    EXPECT_EQ(a.Pitch, 48);
    EXPECT_EQ(cube->UnlockRect(D3DCUBEMAP_FACE_POSITIVE_X, 0), D3D_OK);
    EXPECT_EQ(cube->UnlockRect(D3DCUBEMAP_FACE_NEGATIVE_Z, 0), D3D_OK);
    IDirect3DSurface9* face = nullptr;
    EXPECT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACES(6), 0, &face), D3DERR_INVALIDCALL);
    ASSERT_EQ(cube->GetCubeMapSurface(D3DCUBEMAP_FACE_NEGATIVE_Y, 3, &face), D3D_OK);
    IDirect3DCubeTexture9* container = nullptr;
    ASSERT_EQ(face->GetContainer(IID_IDirect3DCubeTexture9, reinterpret_cast<void**>(&container)), D3D_OK);
    EXPECT_EQ(container, cube);
    container->Release();
    face->Release();
    EXPECT_EQ(cube->Release(), 0u);
}

TEST_F(ResourceTest, VolumeTexturesLockBoxes) {
    IDirect3DVolumeTexture9* volume = nullptr;
    EXPECT_EQ(device->CreateVolumeTexture(257, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &volume, nullptr),
              D3DERR_INVALIDCALL);
    ASSERT_EQ(device->CreateVolumeTexture(8, 4, 2, 0, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, &volume, nullptr), D3D_OK);
    EXPECT_EQ(volume->GetLevelCount(), 4u);
    D3DVOLUME_DESC desc{};
    ASSERT_EQ(volume->GetLevelDesc(1, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 4u);
    EXPECT_EQ(desc.Height, 2u);
    EXPECT_EQ(desc.Depth, 1u);
    EXPECT_EQ(desc.Type, D3DRTYPE_VOLUME);
    D3DLOCKED_BOX lb{};
    ASSERT_EQ(volume->LockBox(0, &lb, nullptr, 0), D3D_OK);
    EXPECT_EQ(lb.RowPitch, 16);
    EXPECT_EQ(lb.SlicePitch, 64);
    std::memset(lb.pBits, 1, size_t(lb.SlicePitch) * 2);
    BYTE* base = static_cast<BYTE*>(lb.pBits);
    EXPECT_EQ(volume->LockBox(0, &lb, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(volume->UnlockBox(0), D3D_OK);
    EXPECT_EQ(volume->UnlockBox(0), D3DERR_INVALIDCALL);
    const D3DBOX box{1, 2, 3, 4, 1, 2};
    ASSERT_EQ(volume->LockBox(0, &lb, &box, 0), D3D_OK);
    EXPECT_EQ(static_cast<BYTE*>(lb.pBits), base + 64 + 2 * 16 + 2);
    EXPECT_EQ(volume->UnlockBox(0), D3D_OK);
    const D3DBOX outside{0, 0, 8, 4, 1, 3}, empty{2, 0, 2, 4, 0, 1};
    EXPECT_EQ(volume->LockBox(0, &lb, &outside, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(volume->LockBox(0, &lb, &empty, 0), D3DERR_INVALIDCALL);
    IDirect3DVolume9* level = nullptr;
    ASSERT_EQ(volume->GetVolumeLevel(3, &level), D3D_OK);
    EXPECT_EQ(level->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Width, 1u);
    EXPECT_EQ(volume->Release(), 1u);  // the level keeps it
    EXPECT_EQ(level->Release(), 0u);
    // A scratch volume whose slices a lock could not describe: LockBox
    // reports the slice pitch as an INT, which 2 GiB slices would wrap to a
    // negative step.
    volume = nullptr;
    EXPECT_EQ(device->CreateVolumeTexture(16384, 8192, 2, 1, 0, D3DFMT_A32B32G32R32F, D3DPOOL_SCRATCH, &volume,
                                          nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(volume, nullptr);
    if (volume) volume->Release();
}

TEST_F(ResourceTest, OffscreenPlainSurfaces) {
    IDirect3DSurface9* s = nullptr;
    EXPECT_EQ(device->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &s, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateOffscreenPlainSurface(8, 8, D3DFMT_P8, D3DPOOL_SYSTEMMEM, &s, nullptr),
              D3DERR_INVALIDCALL);
    ASSERT_EQ(device->CreateOffscreenPlainSurface(7, 3, D3DFMT_L8, D3DPOOL_DEFAULT, &s, nullptr), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(s->LockRect(&lr, nullptr, 0), D3D_OK);  // plain surfaces lock in any pool
    EXPECT_EQ(lr.Pitch, 8);
    EXPECT_EQ(s->UnlockRect(), D3D_OK);
    EXPECT_EQ(s->UnlockRect(), D3DERR_INVALIDCALL);
    IDirect3DDevice9* owner = nullptr;
    ASSERT_EQ(s->GetContainer(IID_IDirect3DDevice9, reinterpret_cast<void**>(&owner)), D3D_OK);
    EXPECT_EQ(owner, device);
    owner->Release();
    EXPECT_EQ(s->Release(), 0u);
}

TEST_F(ResourceTest, BuffersAcceptTheirUsagesAndLockWithCounts) {
    IDirect3DVertexBuffer9* vb = nullptr;
    const DWORD usages = D3DUSAGE_WRITEONLY | D3DUSAGE_DONOTCLIP | D3DUSAGE_POINTS | D3DUSAGE_RTPATCHES |
                         D3DUSAGE_NPATCHES | D3DUSAGE_SOFTWAREPROCESSING;
    const DWORD fvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
    ASSERT_EQ(device->CreateVertexBuffer(96, usages, fvf, D3DPOOL_SYSTEMMEM, &vb, nullptr), D3D_OK);
    D3DVERTEXBUFFER_DESC vd{};
    ASSERT_EQ(vb->GetDesc(&vd), D3D_OK);
    EXPECT_EQ(vd.Format, D3DFMT_VERTEXDATA);
    EXPECT_EQ(vd.Usage, usages);
    EXPECT_EQ(vd.Pool, D3DPOOL_SYSTEMMEM);
    EXPECT_EQ(vd.Size, 96u);
    EXPECT_EQ(vd.FVF, fvf);
    void* a = nullptr;
    void* b = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &a, 0), D3D_OK);
    ASSERT_EQ(vb->Lock(32, 64, &b, D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK), D3D_OK);  // nested
    EXPECT_EQ(static_cast<BYTE*>(b), static_cast<BYTE*>(a) + 32);
    EXPECT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(vb->Unlock(), D3DERR_INVALIDCALL);
    EXPECT_EQ(vb->Lock(32, 65, &a, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(vb->Lock(0, 0, &a, D3DLOCK_DISCARD), D3DERR_INVALIDCALL);  // not dynamic
    vb->Release();
    // Shorter than one vertex of its FVF; scratch; dynamic and managed.
    EXPECT_EQ(device->CreateVertexBuffer(20, 0, fvf, D3DPOOL_MANAGED, &vb, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexBuffer(64, 0, 0, D3DPOOL_SCRATCH, &vb, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexBuffer(64, D3DUSAGE_DYNAMIC, 0, D3DPOOL_MANAGED, &vb, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexBuffer(64, D3DUSAGE_RENDERTARGET, 0, D3DPOOL_DEFAULT, &vb, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->CreateVertexBuffer(0, 0, 0, D3DPOOL_DEFAULT, &vb, nullptr), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->CreateVertexBuffer(64, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &vb, nullptr),
              D3D_OK);
    EXPECT_EQ(vb->Lock(0, 0, &a, D3DLOCK_DISCARD), D3D_OK);
    EXPECT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(vb->Lock(16, 16, &a, D3DLOCK_NOOVERWRITE), D3D_OK);
    EXPECT_EQ(vb->Unlock(), D3D_OK);
    EXPECT_EQ(vb->Lock(0, 0, &a, D3DLOCK_READONLY | D3DLOCK_DISCARD), D3DERR_INVALIDCALL);
    vb->Release();

    IDirect3DIndexBuffer9* ib = nullptr;
    EXPECT_EQ(device->CreateIndexBuffer(12, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &ib, nullptr), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->CreateIndexBuffer(12, D3DUSAGE_WRITEONLY, D3DFMT_INDEX32, D3DPOOL_MANAGED, &ib, nullptr),
              D3D_OK);
    D3DINDEXBUFFER_DESC id{};
    ASSERT_EQ(ib->GetDesc(&id), D3D_OK);
    EXPECT_EQ(id.Format, D3DFMT_INDEX32);
    EXPECT_EQ(id.Size, 12u);
    EXPECT_EQ(id.Type, D3DRTYPE_INDEXBUFFER);
    ASSERT_EQ(ib->Lock(0, 12, &a, 0), D3D_OK);
    std::memset(a, 0xFF, 12);
    EXPECT_EQ(ib->Unlock(), D3D_OK);
    EXPECT_EQ(ib->SetPriority(5), 0u);
    EXPECT_EQ(ib->GetPriority(), 5u);
    ib->Release();
}

TEST_F(ResourceTest, DeclarationsAreCheckedAndReadBack) {
    const D3DVERTEXELEMENT9 good[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                      {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                      {0, 24, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                      D3DDECL_END()};
    IDirect3DVertexDeclaration9* decl = nullptr;
    ASSERT_EQ(device->CreateVertexDeclaration(good, &decl), D3D_OK);
    UINT count = 0;
    ASSERT_EQ(decl->GetDeclaration(nullptr, &count), D3D_OK);
    EXPECT_EQ(count, 4u);
    D3DVERTEXELEMENT9 back[4]{};
    ASSERT_EQ(decl->GetDeclaration(back, &count), D3D_OK);
    EXPECT_EQ(std::memcmp(back, good, sizeof good), 0);
    decl->Release();

    const D3DVERTEXELEMENT9 twice[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                       {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    const D3DVERTEXELEMENT9 oddOffset[] = {{0, 2, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    const D3DVERTEXELEMENT9 badType[] = {{0, 0, 18, 0, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    for (const D3DVERTEXELEMENT9* bad : {twice, oddOffset, badType}) {
        decl = reinterpret_cast<IDirect3DVertexDeclaration9*>(1);
        EXPECT_EQ(device->CreateVertexDeclaration(bad, &decl), D3DERR_INVALIDCALL);
        EXPECT_EQ(decl, nullptr);
    }
    EXPECT_EQ(device->CreateVertexDeclaration(nullptr, &decl), D3DERR_INVALIDCALL);

    // SetFVF and SetVertexDeclaration replace each other.
    ASSERT_EQ(device->CreateVertexDeclaration(good, &decl), D3D_OK);
    EXPECT_EQ(device->SetVertexDeclaration(decl), D3D_OK);
    EXPECT_EQ(device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1), D3D_OK);
    IDirect3DVertexDeclaration9* current = decl;
    EXPECT_EQ(device->GetVertexDeclaration(&current), D3D_OK);
    EXPECT_EQ(current, nullptr);
    EXPECT_EQ(device->SetVertexDeclaration(decl), D3D_OK);
    DWORD fvf = 1;
    EXPECT_EQ(device->GetFVF(&fvf), D3D_OK);
    EXPECT_EQ(fvf, 0u);
    EXPECT_EQ(device->SetFVF(D3DFVF_XYZ | D3DFVF_RESERVED0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetFVF(D3DFVF_XYZ | D3DFVF_TEXCOUNT_MASK), D3DERR_INVALIDCALL);  // 15 sets
    EXPECT_EQ(device->SetVertexDeclaration(nullptr), D3D_OK);
    EXPECT_EQ(decl->Release(), 0u);
}

}  // namespace
