// What the device and its renderer remember of buffer bytes across draws:
// whatever the program writes into a vertex or index buffer, through a lock
// closed or still open, counts from the next draw on. Large indexed draws
// show it in the frame as the full draw path would draw it.
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/d3d9/render/renderer.h"
#include "tests/d3d9/device_fixture.h"

namespace {

struct Vertex {
    float x, y, z;
    D3DCOLOR colour;
};

constexpr int kGrid = 120;  // quads a side: 28800 triangles
constexpr UINT kGridVertices = (kGrid + 1) * (kGrid + 1);

bool Hidden(const Vertex& v) { return v.z < -12; }
// The part behind the camera turned round in front of it, in other colours.
Vertex Lifted(Vertex v) {
    if (Hidden(v)) v.z = -v.z + 40, v.y += 6, v.colour ^= 0x00FFFF00u;
    return v;
}

class BlockCullDeviceTest : public DeviceTest {
protected:
    void SetUp() override {
        D3DPRESENT_PARAMETERS p = ProgramParameters();
        p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
        CreateWith(p);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        D3DMATRIX view{};
        // At (0, 3, -10) looking along +z.
        view._11 = view._22 = view._33 = view._44 = 1;
        view._42 = -3, view._43 = 10;
        const D3DMATRIX projection = Perspective43(0.5f, 400);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);

        // The grid, then a copy with the hidden part lifted into view that
        // the indices do not use at first.
        for (int j = 0; j <= kGrid; ++j)
            for (int i = 0; i <= kGrid; ++i)
                grid.push_back({2.0f * (i - kGrid / 2), 0.3f * std::sin(0.4f * i + 0.7f * j), 2.0f * (j - kGrid / 2),
                                0xFF000000u | (DWORD(i * 2) << 16) | (DWORD(j * 2) << 8) | DWORD((i ^ j) & 0xFF)});
        for (UINT k = 0; k < kGridVertices; ++k) grid.push_back(Lifted(grid[k]));
        for (int j = 0; j < kGrid; ++j)
            for (int i = 0; i < kGrid; ++i) {
                const WORD a = WORD(j * (kGrid + 1) + i), b = WORD(a + 1), c = WORD(a + kGrid + 1), d = WORD(c + 1);
                for (WORD k : {a, c, d, a, d, b}) indices.push_back(k);
            }
        ASSERT_EQ(device->CreateVertexBuffer(UINT(grid.size() * sizeof(Vertex)), 0, D3DFVF_XYZ | D3DFVF_DIFFUSE,
                                             D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
        ASSERT_EQ(device->CreateIndexBuffer(UINT(indices.size() * 2), 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, nullptr),
                  D3D_OK);
        WriteVertices(grid);
        WriteIndices(indices);
    }
    void TearDown() override {
        if (vb) vb->Release();
        if (ib) ib->Release();
        vb = nullptr, ib = nullptr;
        DeviceTest::TearDown();
    }

    void WriteVertices(const std::vector<Vertex>& v) {
        void* p = nullptr;
        ASSERT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
        std::memcpy(p, v.data(), v.size() * sizeof(Vertex));
        vb->Unlock();
    }
    void WriteIndices(const std::vector<WORD>& v) {
        void* p = nullptr;
        ASSERT_EQ(ib->Lock(0, 0, &p, 0), D3D_OK);
        std::memcpy(p, v.data(), v.size() * 2);
        ib->Unlock();
    }

    // One frame of the whole grid in one draw; `full` draws it with the
    // skipping of unseen blocks off, as the reference.
    std::vector<WORD> Frame(bool full = false) {
        const bool was = Renderer::SetBlockCullingForTesting(!full);
        EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF203040, 1.0f, 0), D3D_OK);
        EXPECT_EQ(device->BeginScene(), D3D_OK);
        device->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        device->SetStreamSource(0, vb, 0, sizeof(Vertex));
        device->SetIndices(ib);
        EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, UINT(grid.size()), 0, UINT(indices.size() / 3)),
                  D3D_OK);
        EXPECT_EQ(device->EndScene(), D3D_OK);
        device->SetStreamSource(0, nullptr, 0, 0);
        device->SetIndices(nullptr);
        Renderer::SetBlockCullingForTesting(was);
        return BackBuffer();
    }

    // The frame with the hidden part lifted into view, drawn in full.
    std::vector<WORD> LiftedReference() {
        std::vector<Vertex> lifted = grid;
        for (UINT k = 0; k < kGridVertices; ++k) lifted[k] = Lifted(grid[k]);
        WriteVertices(lifted);
        std::vector<WORD> frame = Frame(true);
        WriteVertices(grid);
        return frame;
    }

    std::vector<Vertex> grid;
    std::vector<WORD> indices;
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
};

}  // namespace

TEST_F(BlockCullDeviceTest, VerticesRewrittenThroughALockShowInTheNextFrame) {
    const std::vector<WORD> lifted = LiftedReference();
    Frame();
    const std::vector<WORD> before = Frame();
    EXPECT_EQ(before, Frame(true));
    ASSERT_NE(before, lifted) << "the lifted part shows";

    std::vector<Vertex> moved = grid;
    for (UINT k = 0; k < kGridVertices; ++k) moved[k] = Lifted(grid[k]);
    WriteVertices(moved);
    EXPECT_EQ(Frame(), lifted);
    EXPECT_EQ(Frame(), lifted);
}

TEST_F(BlockCullDeviceTest, IndicesRewrittenThroughALockShowInTheNextFrame) {
    const std::vector<WORD> lifted = LiftedReference();
    Frame();
    ASSERT_NE(Frame(), lifted);

    // Triangles touching the hidden part take the lifted copy's vertices.
    std::vector<WORD> moved = indices;
    for (size_t t = 0; t < indices.size(); t += 3)
        if (Hidden(grid[indices[t]]) || Hidden(grid[indices[t + 1]]) || Hidden(grid[indices[t + 2]]))
            for (size_t k = t; k < t + 3; ++k) moved[k] = WORD(moved[k] + kGridVertices);
    WriteIndices(moved);
    EXPECT_EQ(Frame(), lifted);
    EXPECT_EQ(Frame(), lifted);
}

TEST_F(BlockCullDeviceTest, WritesUnderALockStillOpenShowInTheNextFrame) {
    const std::vector<WORD> lifted = LiftedReference();
    void* p = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
    Frame();
    const std::vector<WORD> before = Frame();
    ASSERT_NE(before, lifted);
    Vertex* v = static_cast<Vertex*>(p);
    for (UINT k = 0; k < kGridVertices; ++k) v[k] = Lifted(grid[k]);
    EXPECT_EQ(Frame(), lifted);
    vb->Unlock();
    EXPECT_EQ(Frame(), lifted);
    EXPECT_EQ(Frame(), lifted);
}

TEST_F(BlockCullDeviceTest, IndexChecksFollowRewrittenIndices) {
    // The device remembers the range of the indices it checked; an index
    // rewritten past the end of the vertices must fail the next draw, and
    // pass again once put back, through a lock closed or still open.
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    device->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    device->SetStreamSource(0, vb, 0, sizeof(Vertex));
    device->SetIndices(ib);
    auto draw = [&] {
        return device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, UINT(grid.size()), 3, 2);
    };
    EXPECT_EQ(draw(), D3D_OK);
    EXPECT_EQ(draw(), D3D_OK);
    std::vector<WORD> bad = indices;
    bad[7] = WORD(grid.size());
    WriteIndices(bad);
    EXPECT_EQ(draw(), D3DERR_INVALIDCALL);
    WriteIndices(indices);
    EXPECT_EQ(draw(), D3D_OK);

    void* p = nullptr;
    ASSERT_EQ(ib->Lock(0, 0, &p, 0), D3D_OK);
    EXPECT_EQ(draw(), D3D_OK);
    static_cast<WORD*>(p)[5] = WORD(grid.size() + 3);
    EXPECT_EQ(draw(), D3DERR_INVALIDCALL);
    static_cast<WORD*>(p)[5] = indices[5];
    EXPECT_EQ(draw(), D3D_OK);
    ib->Unlock();
    EXPECT_EQ(draw(), D3D_OK);
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetIndices(nullptr);
    EXPECT_EQ(device->EndScene(), D3D_OK);
}
