#include <cstring>
#include <vector>

#include "tests/d3d9/device_fixture.h"

namespace {

class CopyTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        DebugSetMute(TRUE);
    }
    void TearDown() override {
        DebugSetMute(FALSE);
        DeviceTest::TearDown();
    }

    // Fills every level of a lockable texture with bytes made from the
    // level and the position.
    static void Fill(IDirect3DTexture9* t, BYTE seed) {
        for (UINT level = 0; level < t->GetLevelCount(); ++level) {
            D3DSURFACE_DESC desc{};
            t->GetLevelDesc(level, &desc);
            D3DLOCKED_RECT lr{};
            ASSERT_EQ(t->LockRect(level, &lr, nullptr, 0), D3D_OK);
            for (UINT y = 0; y < desc.Height; ++y)
                for (UINT x = 0; x < desc.Width * 4; ++x)
                    static_cast<BYTE*>(lr.pBits)[y * lr.Pitch + x] = BYTE(seed + level * 64 + y * 7 + x);
            t->UnlockRect(level);
        }
    }

    // Reads a default-pool level back through a system-memory copy is not
    // possible (UpdateTexture goes one way), so default textures under test
    // are dynamic and lock directly.
    static std::vector<BYTE> Read(IDirect3DSurface9* s) {
        D3DSURFACE_DESC desc{};
        s->GetDesc(&desc);
        D3DLOCKED_RECT lr{};
        std::vector<BYTE> out;
        if (s->LockRect(&lr, nullptr, D3DLOCK_READONLY) != D3D_OK) return out;
        const UINT bpp = desc.Format == D3DFMT_R5G6B5 ? 2 : 4;
        for (UINT y = 0; y < desc.Height; ++y) {
            const BYTE* row = static_cast<const BYTE*>(lr.pBits) + y * lr.Pitch;
            out.insert(out.end(), row, row + desc.Width * bpp);
        }
        s->UnlockRect();
        return out;
    }
    static std::vector<BYTE> ReadLevel(IDirect3DTexture9* t, UINT level) {
        IDirect3DSurface9* s = nullptr;
        t->GetSurfaceLevel(level, &s);
        std::vector<BYTE> out = Read(s);
        s->Release();
        return out;
    }
};

TEST_F(CopyTest, UpdateTextureCopiesMatchingLevelsOnce) {
    IDirect3DTexture9* staging = nullptr;
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(device->CreateTexture(16, 16, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &staging, nullptr), D3D_OK);
    // The destination starts one level down: 8 x 8 with 4 levels.
    ASSERT_EQ(device->CreateTexture(8, 8, 0, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target, nullptr),
              D3D_OK);
    Fill(staging, 1);
    ASSERT_EQ(device->UpdateTexture(staging, target), D3D_OK);
    for (UINT level = 0; level < 4; ++level)
        EXPECT_EQ(ReadLevel(target, level), ReadLevel(staging, level + 1)) << level;

    // Without new writes nothing is copied again.
    Fill(target, 99);
    const std::vector<BYTE> before = ReadLevel(target, 0);
    ASSERT_EQ(device->UpdateTexture(staging, target), D3D_OK);
    EXPECT_EQ(ReadLevel(target, 0), before);
    // A dirty rectangle brings that region (and its smaller copies) over.
    const RECT dirty{0, 0, 2, 2};
    ASSERT_EQ(staging->AddDirtyRect(&dirty), D3D_OK);
    ASSERT_EQ(device->UpdateTexture(staging, target), D3D_OK);
    const std::vector<BYTE> after = ReadLevel(target, 0);
    const std::vector<BYTE> source = ReadLevel(staging, 1);
    EXPECT_EQ(std::memcmp(after.data(), source.data(), 4), 0);          // (0, 0) of level 1 copied
    EXPECT_EQ(std::memcmp(after.data() + 8, before.data() + 8, 24), 0);  // rest of the row kept
    staging->Release();
    target->Release();
}

TEST_F(CopyTest, UpdateTextureRules) {
    IDirect3DTexture9* sys = nullptr;
    IDirect3DTexture9* def = nullptr;
    IDirect3DTexture9* managed = nullptr;
    IDirect3DTexture9* bigger = nullptr;
    IDirect3DTexture9* otherFormat = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &sys, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateTexture(8, 8, 2, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &def, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &managed, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateTexture(32, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &bigger, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &otherFormat, nullptr), D3D_OK);
    EXPECT_EQ(device->UpdateTexture(sys, def), D3DERR_INVALIDCALL);          // fewer source levels
    EXPECT_EQ(device->UpdateTexture(managed, def), D3DERR_INVALIDCALL);      // source pool
    EXPECT_EQ(device->UpdateTexture(sys, managed), D3DERR_INVALIDCALL);      // destination pool
    EXPECT_EQ(device->UpdateTexture(sys, bigger), D3DERR_INVALIDCALL);       // no level that size
    EXPECT_EQ(device->UpdateTexture(sys, otherFormat), D3DERR_INVALIDCALL);  // formats
    EXPECT_EQ(device->UpdateTexture(sys, nullptr), D3DERR_INVALIDCALL);
    D3DLOCKED_RECT lr{};
    IDirect3DTexture9* one = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &one, nullptr), D3D_OK);
    ASSERT_EQ(sys->LockRect(0, &lr, nullptr, 0), D3D_OK);
    EXPECT_EQ(device->UpdateTexture(sys, one), D3DERR_INVALIDCALL);  // locked
    sys->UnlockRect(0);
    EXPECT_EQ(device->UpdateTexture(sys, one), D3D_OK);
    IDirect3DCubeTexture9* cube = nullptr;
    ASSERT_EQ(device->CreateCubeTexture(8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &cube, nullptr), D3D_OK);
    EXPECT_EQ(device->UpdateTexture(cube, one), D3DERR_INVALIDCALL);  // types
    for (IUnknown* u : std::initializer_list<IUnknown*>{sys, def, managed, bigger, otherFormat, one, cube})
        EXPECT_EQ(u->Release(), 0u);
}

TEST_F(CopyTest, UpdateTextureCopiesCubeFacesAndVolumes) {
    IDirect3DCubeTexture9* from = nullptr;
    IDirect3DCubeTexture9* to = nullptr;
    ASSERT_EQ(device->CreateCubeTexture(4, 1, 0, D3DFMT_L8, D3DPOOL_SYSTEMMEM, &from, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateCubeTexture(4, 1, D3DUSAGE_DYNAMIC, D3DFMT_L8, D3DPOOL_DEFAULT, &to, nullptr), D3D_OK);
    D3DLOCKED_RECT lr{};
    for (int f = 0; f < 6; ++f) {
        ASSERT_EQ(from->LockRect(D3DCUBEMAP_FACES(f), 0, &lr, nullptr, 0), D3D_OK);
        std::memset(lr.pBits, 10 + f, size_t(lr.Pitch) * 4);
        from->UnlockRect(D3DCUBEMAP_FACES(f), 0);
    }
    ASSERT_EQ(device->UpdateTexture(from, to), D3D_OK);
    for (int f = 0; f < 6; ++f) {
        ASSERT_EQ(to->LockRect(D3DCUBEMAP_FACES(f), 0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
        EXPECT_EQ(static_cast<BYTE*>(lr.pBits)[3 * lr.Pitch + 3], 10 + f);
        to->UnlockRect(D3DCUBEMAP_FACES(f), 0);
    }
    from->Release();
    to->Release();

    IDirect3DVolumeTexture9* vfrom = nullptr;
    IDirect3DVolumeTexture9* vto = nullptr;
    ASSERT_EQ(device->CreateVolumeTexture(4, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &vfrom, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateVolumeTexture(4, 4, 4, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &vto,
                                          nullptr),
              D3D_OK);
    D3DLOCKED_BOX lb{};
    ASSERT_EQ(vfrom->LockBox(0, &lb, nullptr, 0), D3D_OK);
    for (int i = 0; i < 4 * 64; ++i) static_cast<BYTE*>(lb.pBits)[i] = BYTE(i);
    vfrom->UnlockBox(0);
    ASSERT_EQ(device->UpdateTexture(vfrom, vto), D3D_OK);
    ASSERT_EQ(vto->LockBox(0, &lb, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<BYTE*>(lb.pBits)[3 * 64 + 5], BYTE(3 * 64 + 5));
    vto->UnlockBox(0);
    vfrom->Release();
    vto->Release();
}

TEST_F(CopyTest, UpdateSurfaceCopiesARectangleToAPoint) {
    IDirect3DSurface9* src = nullptr;
    IDirect3DSurface9* dst = nullptr;
    ASSERT_EQ(device->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &src, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateOffscreenPlainSurface(8, 8, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &dst, nullptr), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(src->LockRect(&lr, nullptr, 0), D3D_OK);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) reinterpret_cast<DWORD*>(static_cast<BYTE*>(lr.pBits) + y * lr.Pitch)[x] = y * 8 + x;
    src->UnlockRect();
    const RECT r{1, 2, 4, 5};
    const POINT p{5, 0};
    ASSERT_EQ(device->UpdateSurface(src, &r, dst, &p), D3D_OK);
    ASSERT_EQ(dst->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    auto at = [&](int x, int y) { return reinterpret_cast<DWORD*>(static_cast<BYTE*>(lr.pBits) + y * lr.Pitch)[x]; };
    EXPECT_EQ(at(5, 0), DWORD(2 * 8 + 1));
    EXPECT_EQ(at(7, 2), DWORD(4 * 8 + 3));
    EXPECT_EQ(at(4, 0), 0u);
    dst->UnlockRect();
    const POINT overflow{6, 0};
    EXPECT_EQ(device->UpdateSurface(src, &r, dst, &overflow), D3DERR_INVALIDCALL);
    // A point so far out that adding the width would wrap a LONG.
    const POINT farOut{0x7FFFFFFF, 0x7FFFFFFE};
    EXPECT_EQ(device->UpdateSurface(src, &r, dst, &farOut), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->UpdateSurface(dst, nullptr, src, nullptr), D3DERR_INVALIDCALL);  // pools reversed
    src->Release();
    dst->Release();
}

TEST_F(CopyTest, StretchRectBetweenRenderTargets) {
    D3DPRESENT_PARAMETERS p = ProgramParameters();
    p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    CreateWith(p);
    DebugSetMute(TRUE);
    IDirect3DSurface9* plain = nullptr;
    ASSERT_EQ(device->CreateOffscreenPlainSurface(2, 2, D3DFMT_R5G6B5, D3DPOOL_DEFAULT, &plain, nullptr), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(plain->LockRect(&lr, nullptr, 0), D3D_OK);
    WORD* row0 = static_cast<WORD*>(lr.pBits);
    WORD* row1 = reinterpret_cast<WORD*>(static_cast<BYTE*>(lr.pBits) + lr.Pitch);
    row0[0] = 0x0000;
    row0[1] = 0xF800;  // red
    row1[0] = 0x001F;  // blue
    row1[1] = 0xFFFF;
    plain->UnlockRect();
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);

    // Point: 2 x 2 onto 4 x 4 doubles every pixel.
    const RECT quad{0, 0, 4, 4};
    ASSERT_EQ(device->StretchRect(plain, nullptr, back, &quad, D3DTEXF_POINT), D3D_OK);
    ASSERT_EQ(back->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    auto px = [&](int x, int y) { return reinterpret_cast<WORD*>(static_cast<BYTE*>(lr.pBits) + y * lr.Pitch)[x]; };
    EXPECT_EQ(px(1, 1), 0x0000);
    EXPECT_EQ(px(2, 1), 0xF800);
    EXPECT_EQ(px(1, 3), 0x001F);
    EXPECT_EQ(px(3, 3), 0xFFFF);
    back->UnlockRect();

    // Linear: the centre of 2 x 2 onto 1 x 1 is the mean of the four.
    const RECT one{10, 10, 11, 11};
    ASSERT_EQ(device->StretchRect(plain, nullptr, back, &one, D3DTEXF_LINEAR), D3D_OK);
    ASSERT_EQ(back->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    const WORD mean = px(10, 10);
    EXPECT_EQ(mean >> 11, 16);         // red (0 + 31 + 0 + 31) / 4 = 15.5 -> 16
    EXPECT_EQ((mean >> 5) & 63, 16);   // green (0 + 0 + 0 + 63) / 4 = 15.75 -> 16
    EXPECT_EQ(mean & 31, 16);          // blue
    back->UnlockRect();

    // Same size: a byte copy, any filter.
    const RECT same{100, 100, 102, 102};
    ASSERT_EQ(device->StretchRect(plain, nullptr, back, &same, D3DTEXF_NONE), D3D_OK);

    // Rules: default pool, one format, targets for stretching, no locks.
    IDirect3DSurface9* sys = nullptr;
    ASSERT_EQ(device->CreateOffscreenPlainSurface(2, 2, D3DFMT_R5G6B5, D3DPOOL_SYSTEMMEM, &sys, nullptr), D3D_OK);
    EXPECT_EQ(device->StretchRect(sys, nullptr, back, &quad, D3DTEXF_NONE), D3DERR_INVALIDCALL);
    IDirect3DSurface9* plain32 = nullptr;
    ASSERT_EQ(device->CreateOffscreenPlainSurface(2, 2, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &plain32, nullptr), D3D_OK);
    EXPECT_EQ(device->StretchRect(plain32, nullptr, back, &quad, D3DTEXF_NONE), D3DERR_INVALIDCALL);
    IDirect3DSurface9* plain2 = nullptr;
    ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, D3DFMT_R5G6B5, D3DPOOL_DEFAULT, &plain2, nullptr), D3D_OK);
    EXPECT_EQ(device->StretchRect(plain, nullptr, plain2, nullptr, D3DTEXF_POINT), D3DERR_INVALIDCALL);
    const RECT inner{1, 1, 3, 3};
    EXPECT_EQ(device->StretchRect(plain, nullptr, plain2, &inner, D3DTEXF_POINT), D3D_OK);
    EXPECT_EQ(device->StretchRect(plain, nullptr, back, &quad, D3DTEXF_ANISOTROPIC), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->StretchRect(back, nullptr, back, nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
    const RECT tooBig{0, 0, 3, 3};
    EXPECT_EQ(device->StretchRect(plain, &tooBig, back, nullptr, D3DTEXF_NONE), D3DERR_INVALIDCALL);
    IDirect3DTexture9* plainTexture = nullptr;
    ASSERT_EQ(device->CreateTexture(2, 2, 1, 0, D3DFMT_R5G6B5, D3DPOOL_DEFAULT, &plainTexture, nullptr), D3D_OK);
    IDirect3DSurface9* level = nullptr;
    plainTexture->GetSurfaceLevel(0, &level);
    EXPECT_EQ(device->StretchRect(level, nullptr, back, &quad, D3DTEXF_NONE), D3DERR_INVALIDCALL);
    IDirect3DTexture9* rt = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_R5G6B5, D3DPOOL_DEFAULT, &rt, nullptr),
              D3D_OK);
    IDirect3DSurface9* rtLevel = nullptr;
    rt->GetSurfaceLevel(0, &rtLevel);
    EXPECT_EQ(device->StretchRect(plain, nullptr, rtLevel, nullptr, D3DTEXF_LINEAR), D3D_OK);
    EXPECT_EQ(device->StretchRect(rtLevel, nullptr, back, nullptr, D3DTEXF_LINEAR), D3D_OK);
    for (IUnknown* u : std::initializer_list<IUnknown*>{level, rtLevel, plainTexture, rt, sys, plain32, plain2, plain})
        u->Release();
    back->Release();
}

TEST_F(CopyTest, LinearStretchBlendsFloatChannels) {
    // 2 x 2 half floats (0, 1, 0.5, 0.25) -> 1 x 1 render target -> plain
    // surface to read back: the mean 0.4375 is exact in half precision.
    IDirect3DSurface9* source = nullptr;
    IDirect3DSurface9* readBack = nullptr;
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(device->CreateOffscreenPlainSurface(2, 2, D3DFMT_R16F, D3DPOOL_DEFAULT, &source, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateOffscreenPlainSurface(1, 1, D3DFMT_R16F, D3DPOOL_DEFAULT, &readBack, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateTexture(1, 1, 1, D3DUSAGE_RENDERTARGET, D3DFMT_R16F, D3DPOOL_DEFAULT, &target, nullptr),
              D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(source->LockRect(&lr, nullptr, 0), D3D_OK);
    WORD* row0 = static_cast<WORD*>(lr.pBits);
    WORD* row1 = reinterpret_cast<WORD*>(static_cast<BYTE*>(lr.pBits) + lr.Pitch);
    row0[0] = 0x0000;  // 0
    row0[1] = 0x3C00;  // 1
    row1[0] = 0x3800;  // 0.5
    row1[1] = 0x3400;  // 0.25
    source->UnlockRect();
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(target->GetSurfaceLevel(0, &level), D3D_OK);
    ASSERT_EQ(device->StretchRect(source, nullptr, level, nullptr, D3DTEXF_LINEAR), D3D_OK);
    ASSERT_EQ(device->StretchRect(level, nullptr, readBack, nullptr, D3DTEXF_NONE), D3D_OK);
    ASSERT_EQ(readBack->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(*static_cast<WORD*>(lr.pBits), 0x3700);  // 0.4375
    readBack->UnlockRect();
    level->Release();
    target->Release();
    source->Release();
    readBack->Release();
}

TEST_F(CopyTest, UpdateSurfaceMovesWholeCompressedBlocks) {
    IDirect3DTexture9* from = nullptr;
    IDirect3DTexture9* to = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 0, 0, D3DFMT_DXT1, D3DPOOL_SYSTEMMEM, &from, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateTexture(8, 8, 0, D3DUSAGE_DYNAMIC, D3DFMT_DXT1, D3DPOOL_DEFAULT, &to, nullptr), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(from->LockRect(0, &lr, nullptr, 0), D3D_OK);
    for (int i = 0; i < 2 * lr.Pitch; ++i) static_cast<BYTE*>(lr.pBits)[i] = BYTE(i + 1);
    from->UnlockRect(0);
    IDirect3DSurface9* src = nullptr;
    IDirect3DSurface9* dst = nullptr;
    from->GetSurfaceLevel(0, &src);
    to->GetSurfaceLevel(0, &dst);
    const RECT rightBlock{4, 0, 8, 4};
    const POINT lowerLeft{0, 4};
    ASSERT_EQ(device->UpdateSurface(src, &rightBlock, dst, &lowerLeft), D3D_OK);
    ASSERT_EQ(dst->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(static_cast<BYTE*>(lr.pBits)[lr.Pitch], 9);  // second block of row 0 -> first block of row 1
    EXPECT_EQ(static_cast<BYTE*>(lr.pBits)[lr.Pitch + 7], 16);
    dst->UnlockRect();
    const RECT halfBlock{2, 0, 6, 4};
    EXPECT_EQ(device->UpdateSurface(src, &halfBlock, dst, nullptr), D3DERR_INVALIDCALL);
    const POINT offGrid{2, 0};
    EXPECT_EQ(device->UpdateSurface(src, &rightBlock, dst, &offGrid), D3DERR_INVALIDCALL);
    src->Release();
    dst->Release();
    // The 2 x 2 levels are one partial block each and copy whole.
    from->GetSurfaceLevel(2, &src);
    to->GetSurfaceLevel(2, &dst);
    EXPECT_EQ(device->UpdateSurface(src, nullptr, dst, nullptr), D3D_OK);
    src->Release();
    dst->Release();
    from->Release();
    to->Release();
}

TEST_F(CopyTest, ObjectsOfAnotherDeviceAreRefused) {
    IDirect3DDevice9* other = nullptr;
    D3DPRESENT_PARAMETERS p = ProgramParameters();
    ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, DummyWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p, &other),
              D3D_OK);
    IDirect3DTexture9* foreign = nullptr;
    ASSERT_EQ(other->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &foreign, nullptr), D3D_OK);
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(other->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
    EXPECT_EQ(device->SetTexture(0, foreign), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetStreamSource(0, vb, 0, 16), D3DERR_INVALIDCALL);
    IDirect3DTexture9* mine = nullptr;
    ASSERT_EQ(device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &mine, nullptr), D3D_OK);
    EXPECT_EQ(device->UpdateTexture(foreign, mine), D3DERR_INVALIDCALL);
    mine->Release();
    vb->Release();
    foreign->Release();
    EXPECT_EQ(other->Release(), 0u);
}

}  // namespace
