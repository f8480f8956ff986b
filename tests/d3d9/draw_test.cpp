#include <cstring>

#include "platform/shell/frame_sink.h"
#include "tests/d3d9/device_fixture.h"

namespace {

struct ScreenVertex {
    float x, y, z, rhw;
    D3DCOLOR colour;
    float u, v;
};
constexpr DWORD kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

class DrawTest : public DeviceTest {
protected:
    void SetUp() override {
        D3DPRESENT_PARAMETERS p = ProgramParameters();
        p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
        CreateWith(p);
        DebugSetMute(TRUE);
    }
    void TearDown() override {
        DebugSetMute(FALSE);
        DeviceTest::TearDown();
    }
    WORD BackPixel(int x, int y) {
        IDirect3DSurface9* back = nullptr;
        device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back);
        D3DLOCKED_RECT lr{};
        WORD v = 0;
        if (back->LockRect(&lr, nullptr, D3DLOCK_READONLY) == D3D_OK) {
            v = reinterpret_cast<const WORD*>(static_cast<const BYTE*>(lr.pBits) + y * lr.Pitch)[x];
            back->UnlockRect();
        }
        back->Release();
        return v;
    }
};

TEST_F(DrawTest, ClearFillsTheTargetAndChecksItsFlags) {
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFA0A0F0, 1.0f, 0), D3D_OK);
    EXPECT_EQ(BackPixel(0, 0), 0x9D1D);
    EXPECT_EQ(BackPixel(639, 479), 0x9D1D);
    const D3DRECT r{10, 10, 20, 20};
    ASSERT_EQ(device->Clear(1, &r, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0), D3D_OK);
    EXPECT_EQ(BackPixel(10, 10), 0x0000);
    EXPECT_EQ(BackPixel(20, 20), 0x9D1D);
    EXPECT_EQ(device->Clear(0, nullptr, 0, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 1.0f, 0), D3DERR_INVALIDCALL);  // D16 has none
    EXPECT_EQ(device->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.5f, 0), D3DERR_INVALIDCALL);
}

TEST_F(DrawTest, ScenesBracketDrawing) {
    const ScreenVertex quad[4] = {{0, 0, 0, 1, 0xFFFFFFFF, 0, 0},
                                  {10, 0, 0, 1, 0xFFFFFFFF, 1, 0},
                                  {10, 10, 0, 1, 0xFFFFFFFF, 1, 1},
                                  {0, 10, 0, 1, 0xFFFFFFFF, 0, 1}};
    ASSERT_EQ(device->SetFVF(kScreenFvf), D3D_OK);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(ScreenVertex)), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(ScreenVertex)), D3D_OK);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, 20), D3DERR_INVALIDCALL);  // stride < 28
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPRIMITIVETYPE(9), 2, quad, sizeof(ScreenVertex)), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, nullptr, sizeof(ScreenVertex)), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->EndScene(), D3D_OK);
}

TEST_F(DrawTest, UserPointerDrawsLeaveStreamZeroUnset) {
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(4 * sizeof(ScreenVertex), 0, kScreenFvf, D3DPOOL_MANAGED, &vb, nullptr),
              D3D_OK);
    ASSERT_EQ(device->SetStreamSource(0, vb, 0, sizeof(ScreenVertex)), D3D_OK);
    vb->Release();
    ASSERT_EQ(device->SetFVF(kScreenFvf), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2), D3D_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLEFAN, 1, 2), D3DERR_INVALIDCALL);  // past the end
    const ScreenVertex tri[3] = {};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(ScreenVertex)), D3D_OK);
    IDirect3DVertexBuffer9* got = vb;
    UINT offset = 1, stride = 1;
    ASSERT_EQ(device->GetStreamSource(0, &got, &offset, &stride), D3D_OK);
    EXPECT_EQ(got, nullptr);  // and the buffer is gone: nothing else held it
    EXPECT_EQ(stride, 0u);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->EndScene(), D3D_OK);
}

TEST_F(DrawTest, IndexedDrawsStayInsideTheirBuffers) {
    const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                          {0, 12, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                          D3DDECL_END()};
    IDirect3DVertexDeclaration9* decl = nullptr;
    ASSERT_EQ(device->CreateVertexDeclaration(elements, &decl), D3D_OK);
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(4 * 24, 0, 0, D3DPOOL_SYSTEMMEM, &vb, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateIndexBuffer(6 * 2, 0, D3DFMT_INDEX16, D3DPOOL_SYSTEMMEM, &ib, nullptr), D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(ib->Lock(0, 0, &data, 0), D3D_OK);
    const WORD indices[6] = {0, 1, 2, 0, 2, 3};
    std::memcpy(data, indices, sizeof indices);
    ib->Unlock();
    ASSERT_EQ(device->SetVertexDeclaration(decl), D3D_OK);
    ASSERT_EQ(device->SetStreamSource(0, vb, 0, 24), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3DERR_INVALIDCALL);  // no indices
    ASSERT_EQ(device->SetIndices(ib), D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 3, 1), D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 4, 1), D3DERR_INVALIDCALL);  // indices
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 5, 0, 2), D3DERR_INVALIDCALL);  // vertices
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 1, 0, 4, 0, 2), D3DERR_INVALIDCALL);  // base
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, -1, 0, 4, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 0), D3D_OK);  // nothing to draw
    // An index past the vertex buffer fails the draw, whatever the range says.
    ASSERT_EQ(ib->Lock(10, 2, &data, 0), D3D_OK);
    *static_cast<WORD*>(data) = 4;
    ib->Unlock();
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 3, 1), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 1), D3D_OK);
    ASSERT_EQ(device->SetStreamSource(0, vb, 0, 20), D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2), D3DERR_INVALIDCALL);  // stride
    ASSERT_EQ(device->SetStreamSource(0, vb, 0, 24), D3D_OK);
    // User-pointer indices and vertices; both bindings are cleared after.
    float vertices[4][6] = {};
    EXPECT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, indices, D3DFMT_INDEX16, vertices, 24),
              D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 4, 2, indices, D3DFMT_A8, vertices, 24),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 2, indices, D3DFMT_INDEX16, vertices, 24),
              D3DERR_INVALIDCALL);  // index 3 outside the three vertices given
    IDirect3DIndexBuffer9* current = ib;
    ASSERT_EQ(device->GetIndices(&current), D3D_OK);
    EXPECT_EQ(current, nullptr);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(decl->Release(), 0u);  // the device still holds it
    IDirect3DVertexDeclaration9* held = nullptr;
    ASSERT_EQ(device->GetVertexDeclaration(&held), D3D_OK);
    EXPECT_EQ(held, decl);
    UINT count = 0;
    EXPECT_EQ(held->GetDeclaration(nullptr, &count), D3D_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(held->Release(), 0u);
    EXPECT_EQ(vb->Release(), 0u);
    EXPECT_EQ(ib->Release(), 0u);
}

// A stride wider than the vertex: the buffer may end right after the last
// vertex's elements. The device takes the draw, so all of it is drawn.
TEST_F(DrawTest, ALastVertexShorterThanTheStrideIsDrawn) {
    struct Vertex {
        float x, y, z, rhw;
        D3DCOLOR colour;
    };
    constexpr UINT kStride = 24;  // 20 bytes of vertex, 4 of padding
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(2 * kStride + sizeof(Vertex), 0, 0, D3DPOOL_SYSTEMMEM, &vb, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateIndexBuffer(3 * 2, 0, D3DFMT_INDEX16, D3DPOOL_SYSTEMMEM, &ib, nullptr), D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &data, 0), D3D_OK);
    const Vertex corners[3] = {{0, 0, 0.5f, 1, 0xFFFFFFFF}, {100, 0, 0.5f, 1, 0xFFFFFFFF}, {0, 100, 0.5f, 1, 0xFFFFFFFF}};
    for (int i = 0; i < 3; ++i) std::memcpy(static_cast<BYTE*>(data) + kStride * i, &corners[i], sizeof(Vertex));
    vb->Unlock();
    ASSERT_EQ(ib->Lock(0, 0, &data, 0), D3D_OK);
    const WORD indices[3] = {0, 1, 2};
    std::memcpy(data, indices, sizeof indices);
    ib->Unlock();
    ASSERT_EQ(device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE), D3D_OK);
    ASSERT_EQ(device->SetStreamSource(0, vb, 0, kStride), D3D_OK);
    ASSERT_EQ(device->SetIndices(ib), D3D_OK);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(BackPixel(10, 10), 0xFFFF);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, 0, 1), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    EXPECT_EQ(BackPixel(10, 10), 0xFFFF);
    ASSERT_EQ(device->SetStreamSource(0, nullptr, 0, 0), D3D_OK);
    ASSERT_EQ(device->SetIndices(nullptr), D3D_OK);
    EXPECT_EQ(vb->Release(), 0u);
    EXPECT_EQ(ib->Release(), 0u);
}

// More ranges of one index buffer than a frame of the demo draws, each
// drawn again: every one is still checked against what the buffer holds
// now, after it is rewritten and after it is put back.
TEST_F(DrawTest, ManyRangesOfAnIndexBufferAreCheckedAgainWhenItChanges) {
    constexpr UINT kTriangles = 48;
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(4 * 12, 0, D3DFVF_XYZ, D3DPOOL_SYSTEMMEM, &vb, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateIndexBuffer(kTriangles * 3 * 2, 0, D3DFMT_INDEX16, D3DPOOL_SYSTEMMEM, &ib, nullptr), D3D_OK);
    auto write = [&](UINT triangle, WORD first) {
        void* data = nullptr;
        ASSERT_EQ(ib->Lock(triangle * 6, 6, &data, 0), D3D_OK);
        const WORD corners[3] = {first, 1, 2};
        std::memcpy(data, corners, sizeof corners);
        ib->Unlock();
    };
    for (UINT t = 0; t < kTriangles; ++t) write(t, WORD(t % 2 ? 3 : 0));
    ASSERT_EQ(device->SetFVF(D3DFVF_XYZ), D3D_OK);
    ASSERT_EQ(device->SetStreamSource(0, vb, 0, 12), D3D_OK);
    ASSERT_EQ(device->SetIndices(ib), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    auto draw = [&](UINT t) { return device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, t * 3, 1); };
    for (int pass = 0; pass < 2; ++pass)
        for (UINT t = 0; t < kTriangles; ++t) EXPECT_EQ(draw(t), D3D_OK) << "triangle " << t;
    // Triangle 40 now names a fifth vertex; its neighbours do not.
    write(40, 4);
    EXPECT_EQ(draw(40), D3DERR_INVALIDCALL);
    EXPECT_EQ(draw(39), D3D_OK);
    EXPECT_EQ(draw(41), D3D_OK);
    EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 40 * 3, 2), D3DERR_INVALIDCALL);  // with 41
    write(40, 0);
    EXPECT_EQ(draw(40), D3D_OK);
    for (UINT t = 0; t < kTriangles; ++t) EXPECT_EQ(draw(t), D3D_OK) << "triangle " << t;
    ASSERT_EQ(device->EndScene(), D3D_OK);
    ASSERT_EQ(device->SetIndices(nullptr), D3D_OK);
    ASSERT_EQ(device->SetStreamSource(0, nullptr, 0, 0), D3D_OK);
    EXPECT_EQ(vb->Release(), 0u);
    EXPECT_EQ(ib->Release(), 0u);
}

class KeepingSink : public FrameSink {
public:
    bool PresentFrame(HWND window, const FrameView& frame) override {
        ++frames;
        lastWindow = window;
        last = frame;
        firstPixel = *static_cast<const WORD*>(frame.pixels);
        return accept;
    }
    int frames = 0;
    bool accept = true;
    HWND lastWindow = nullptr;
    FrameView last;
    WORD firstPixel = 0;
};

TEST_F(DrawTest, PresentHandsTheBackBufferToTheSink) {
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);  // no sink: dropped
    KeepingSink sink;
    SetFrameSink(&sink);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0), D3D_OK);
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(sink.frames, 1);
    EXPECT_EQ(sink.lastWindow, DummyWindow());
    EXPECT_EQ(sink.last.width, 640u);
    EXPECT_EQ(sink.last.height, 480u);
    EXPECT_EQ(sink.last.pitch, 1280u);
    EXPECT_EQ(sink.last.format, FramePixelFormat::R5G6B5);
    EXPECT_EQ(sink.firstPixel, 0xF800);
    const RECT part{0, 0, 10, 10};
    EXPECT_EQ(device->Present(&part, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);  // discard swap effect
    sink.accept = false;
    EXPECT_EQ(device->Present(nullptr, nullptr, nullptr, nullptr), D3DERR_DEVICELOST);
    EXPECT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICELOST);
    SetFrameSink(nullptr);
}

}  // namespace
