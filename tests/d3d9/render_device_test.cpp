// Golden frames drawn through the device's public interface with the
// program's own states.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>

#include "tests/d3d9/device_fixture.h"

namespace {

struct ScreenVertex {
    float x, y, z, rhw;
    D3DCOLOR colour;
    float u, v;
};
struct LitVertex {
    float x, y, z, nx, ny, nz;
};

DWORD Bits(float f) {
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

int Round(double v, int bits) { return int(std::floor(v * ((1 << bits) - 1) + 0.5)); }
WORD Rgb565(double r, double g, double b) { return WORD((Round(r, 5) << 11) | (Round(g, 6) << 5) | Round(b, 5)); }

class RenderDeviceTest : public DeviceTest {
protected:
    void SetUp() override {
        D3DPRESENT_PARAMETERS p = ProgramParameters();
        p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
        CreateWith(p);
        // The fixed state the program sets once.
        device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
        device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        for (D3DSAMPLERSTATETYPE s : {D3DSAMP_MIPFILTER, D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER})
            device->SetSamplerState(0, s, D3DTEXF_LINEAR);
        device->SetRenderState(D3DRS_FOGENABLE, TRUE);
        device->SetRenderState(D3DRS_FOGCOLOR, 0xFF909080);
        device->SetRenderState(D3DRS_FOGSTART, Bits(0));
        device->SetRenderState(D3DRS_FOGEND, Bits(1200));
        device->SetRenderState(D3DRS_FOGDENSITY, Bits(0.4f));
        device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
        device->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
        D3DLIGHT9 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = {0.125f, 0.125f, 0.125f, 0};
        light.Specular = {0.3f, 0.3f, 0.3f, 0};
        light.Ambient = {0.5f, 0.5f, 0.5f, 0};
        light.Direction = {0.8f, -1.0f, 0.0f};
        device->SetLight(0, &light);
        device->LightEnable(0, TRUE);
    }
    // The 2D pass of a frame.
    void Begin2D() {
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_FOGENABLE, FALSE);
        device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
        device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    }
    static uint64_t Checksum(const std::vector<WORD>& pixels) {
        uint64_t h = 1469598103934665603ull;
        for (WORD p : pixels)
            for (int k = 0; k < 2; ++k) h = (h ^ ((p >> (8 * k)) & 0xFF)) * 1099511628211ull;
        return h;
    }
};

TEST_F(RenderDeviceTest, TexturedOverlayQuadMapsTexelsOneToOne) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(64, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(texture->LockRect(0, &lr, nullptr, 0), D3D_OK);
    std::mt19937 random(11);
    std::vector<DWORD> texels(64 * 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) {
            texels[y * 64 + x] = DWORD(random()) | 0xFF000000u;
            std::memcpy(static_cast<BYTE*>(lr.pBits) + y * lr.Pitch + x * 4, &texels[y * 64 + x], 4);
        }
    texture->UnlockRect(0);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    Begin2D();
    device->SetTexture(0, texture);
    const ScreenVertex quad[4] = {{99.5f, 49.5f, 0, 1, 0xFFFFFFFF, 0, 0},
                                  {163.5f, 49.5f, 0, 1, 0xFFFFFFFF, 1, 0},
                                  {163.5f, 81.5f, 0, 1, 0xFFFFFFFF, 1, 1},
                                  {99.5f, 81.5f, 0, 1, 0xFFFFFFFF, 0, 1}};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(ScreenVertex)), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    device->SetTexture(0, nullptr);
    texture->Release();
    const std::vector<WORD> frame = BackBuffer();
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            WORD expected = 0;
            if (x >= 100 && x < 164 && y >= 50 && y < 82) {
                const DWORD t = texels[(y - 50) * 64 + (x - 100)];
                expected = Rgb565(((t >> 16) & 0xFF) / 255.0, ((t >> 8) & 0xFF) / 255.0, (t & 0xFF) / 255.0);
            }
            ASSERT_EQ(frame[y * 640 + x], expected) << x << "," << y;
        }
}

TEST_F(RenderDeviceTest, DitheredClearColourQuad) {
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFA0A0F0, 1.0f, 0), D3D_OK);
    EXPECT_EQ(BackBuffer()[1234], 0x9D1D);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    Begin2D();
    device->SetRenderState(D3DRS_DITHERENABLE, TRUE);
    const ScreenVertex quad[4] = {{-0.5f, -0.5f, 0, 1, 0xFFA0A0F0, 0, 0},
                                  {639.5f, -0.5f, 0, 1, 0xFFA0A0F0, 1, 0},
                                  {639.5f, 479.5f, 0, 1, 0xFFA0A0F0, 1, 1},
                                  {-0.5f, 479.5f, 0, 1, 0xFFA0A0F0, 0, 1}};
    ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(ScreenVertex)), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    auto dither = [&](double v, int bits, int x, int y) {
        const int top = (1 << bits) - 1;
        return std::min(top, int(std::floor(v * top + (bayer[y & 3][x & 3] + 0.5) / 16)));
    };
    const std::vector<WORD> frame = BackBuffer();
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            ASSERT_EQ(frame[y * 640 + x], WORD((dither(160 / 255.0, 5, x, y) << 11) | (dither(160 / 255.0, 6, x, y) << 5) |
                                               dither(240 / 255.0, 5, x, y)))
                << x << "," << y;
}

TEST_F(RenderDeviceTest, LitFoggedCubeFromBuffers) {
    // A cube of half size 10 scaled by 0.1, lit by the program's light with
    // an adjusted material (ambient = diffuse, alpha 128), fog on.
    std::vector<LitVertex> vertices;
    std::vector<WORD> indices;
    const float n[6][3] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (const auto& f : n) {
        const float a[3] = {std::fabs(f[1]) < 0.5f ? 0.0f : 1.0f, std::fabs(f[1]) < 0.5f ? 1.0f : 0.0f, 0};
        const float u[3] = {a[1] * f[2] - a[2] * f[1], a[2] * f[0] - a[0] * f[2], a[0] * f[1] - a[1] * f[0]};
        const float v[3] = {u[1] * f[2] - u[2] * f[1], u[2] * f[0] - u[0] * f[2], u[0] * f[1] - u[1] * f[0]};
        const WORD base = WORD(vertices.size());
        const float k[4][2] = {{-1, -1}, {-1, 1}, {1, 1}, {1, -1}};
        for (const auto& c : k)
            vertices.push_back({10 * (f[0] + c[0] * u[0] + c[1] * v[0]), 10 * (f[1] + c[0] * u[1] + c[1] * v[1]),
                                10 * (f[2] + c[0] * u[2] + c[1] * v[2]), f[0], f[1], f[2]});
        for (WORD i : {0, 1, 2, 0, 2, 3}) indices.push_back(WORD(base + i));
    }
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(UINT(vertices.size() * sizeof(LitVertex)), 0, D3DFVF_XYZ | D3DFVF_NORMAL,
                                         D3DPOOL_SYSTEMMEM, &vb, nullptr), D3D_OK);
    ASSERT_EQ(device->CreateIndexBuffer(UINT(indices.size() * 2), 0, D3DFMT_INDEX16, D3DPOOL_SYSTEMMEM, &ib, nullptr), D3D_OK);
    void* p = nullptr;
    ASSERT_EQ(vb->Lock(0, 0, &p, 0), D3D_OK);
    std::memcpy(p, vertices.data(), vertices.size() * sizeof(LitVertex));
    vb->Unlock();
    ASSERT_EQ(ib->Lock(0, 0, &p, 0), D3D_OK);
    std::memcpy(p, indices.data(), indices.size() * 2);
    ib->Unlock();

    D3DMATERIAL9 material{};
    material.Diffuse = {0.6f, 0.4f, 0.2f, 128.0f};
    material.Ambient = material.Specular = material.Diffuse;
    material.Power = 10;
    D3DMATRIX world{}, view{}, projection{};
    world._11 = world._22 = world._33 = 0.1f;
    world._44 = 1;
    // Camera at (0, 0, -5) looking along +z, turned 30 degrees about y
    // and tilted, as a look-at from (-2.5, 3, -4) would be: written out.
    const float eye[3] = {-2.5f, 3, -4};
    float z[3] = {-eye[0], -eye[1], -eye[2]};
    float len = std::sqrt(z[0] * z[0] + z[1] * z[1] + z[2] * z[2]);
    for (float& c : z) c /= len;
    float x[3] = {z[2], 0, -z[0]};
    len = std::sqrt(x[0] * x[0] + x[2] * x[2]);
    x[0] /= len, x[2] /= len;
    const float y[3] = {z[1] * x[2] - z[2] * x[1], z[2] * x[0] - z[0] * x[2], z[0] * x[1] - z[1] * x[0]};
    for (int i = 0; i < 3; ++i) view.m[i][0] = x[i], view.m[i][1] = y[i], view.m[i][2] = z[i];
    view._41 = -(x[0] * eye[0] + x[1] * eye[1] + x[2] * eye[2]);
    view._42 = -(y[0] * eye[0] + y[1] * eye[1] + y[2] * eye[2]);
    view._43 = -(z[0] * eye[0] + z[1] * eye[1] + z[2] * eye[2]);
    view._44 = 1;
    projection = Perspective43(1, 100);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_DITHERENABLE, TRUE);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL);
    device->SetStreamSource(0, vb, 0, sizeof(LitVertex));
    device->SetIndices(ib);
    ASSERT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 24, 0, 12), D3D_OK);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    device->SetStreamSource(0, nullptr, 0, 0);
    device->SetIndices(nullptr);
    vb->Release();
    ib->Release();

    const std::vector<WORD> frame = BackBuffer();
    // The top face's centre: N.L = 10 / |(0.8, -1, 0)| and fog f = 1 - w / 1200
    // at w = the camera distance of (0, 1, 0); dithering moves each channel
    // by at most one step from the undithered value.
    const double nl = 10 / std::sqrt(1.64);
    const double w = (0 - eye[0]) * z[0] + (1 - eye[1]) * z[1] + (0 - eye[2]) * z[2];
    const double f = 1 - w / 1200;
    auto lit = [&](double c, double fog) { return f * std::min(1.0, 0.5 * c + 0.125 * c * nl) + (1 - f) * fog / 255; };
    double c[4];
    for (int j = 0; j < 4; ++j) c[j] = 0 * view.m[0][j] + 1 * view.m[1][j] + 0 * view.m[2][j] + view.m[3][j];
    double clip[4];
    for (int j = 0; j < 4; ++j)
        clip[j] = c[0] * projection.m[0][j] + c[1] * projection.m[1][j] + c[2] * projection.m[2][j] + projection.m[3][j];
    const int px = int(std::lround((1 + clip[0] / clip[3]) * 320)), py = int(std::lround((1 - clip[1] / clip[3]) * 240));
    const WORD pixel = frame[py * 640 + px];
    EXPECT_NEAR(pixel >> 11, lit(0.6, 0x90) * 31, 1.0);
    EXPECT_NEAR((pixel >> 5) & 63, lit(0.4, 0x90) * 63, 1.0);
    EXPECT_NEAR(pixel & 31, lit(0.2, 0x80) * 31, 1.0);
    EXPECT_EQ(Checksum(frame), 0x57d953fe07f437dbu) << std::hex << Checksum(frame);
}

// With several workers the device holds small draws back and draws them
// together later. Each must still show its texture as it was when it was
// drawn: rewritten through a lock afterwards, or released and its memory
// handed to the next texture.
TEST_F(RenderDeviceTest, HeldBackDrawsSeeTheirTexturesAsTheyWere) {
    setenv("VINTREL_RENDER_THREADS", "3", 1);
    D3DPRESENT_PARAMETERS p = ProgramParameters();
    p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    CreateWith(p);
    unsetenv("VINTREL_RENDER_THREADS");
    auto make = [&] {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
        return texture;
    };
    auto fill = [](IDirect3DTexture9* texture, DWORD argb) {
        D3DLOCKED_RECT lr{};
        ASSERT_EQ(texture->LockRect(0, &lr, nullptr, 0), D3D_OK);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) std::memcpy(static_cast<BYTE*>(lr.pBits) + y * lr.Pitch + x * 4, &argb, 4);
        texture->UnlockRect(0);
    };
    auto quad = [&](float left) {
        const ScreenVertex v[4] = {{left - 0.5f, 9.5f, 0, 1, 0xFFFFFFFF, 0, 0},
                                   {left + 7.5f, 9.5f, 0, 1, 0xFFFFFFFF, 1, 0},
                                   {left + 7.5f, 17.5f, 0, 1, 0xFFFFFFFF, 1, 1},
                                   {left - 0.5f, 17.5f, 0, 1, 0xFFFFFFFF, 0, 1}};
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, v, sizeof(ScreenVertex)), D3D_OK);
    };
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
    ASSERT_EQ(device->BeginScene(), D3D_OK);
    Begin2D();
    IDirect3DTexture9* first = make();
    fill(first, 0xFFFF0000);
    device->SetTexture(0, first);
    quad(10);
    fill(first, 0xFF0000FF);  // after the draw
    quad(30);
    IDirect3DTexture9* second = make();
    fill(second, 0xFF00FF00);
    device->SetTexture(0, second);
    quad(50);
    device->SetTexture(0, nullptr);
    second->Release();  // gone, and its memory free for the next one
    IDirect3DTexture9* third = make();
    fill(third, 0xFFFFFFFF);
    device->SetTexture(0, third);
    quad(70);
    third->Release();
    // Released while bound and drawn with after that: it goes when the
    // device lets go of it.
    IDirect3DTexture9* fourth = make();
    fill(fourth, 0xFFFF00FF);
    device->SetTexture(0, fourth);
    fourth->Release();
    quad(90);
    device->SetTexture(0, nullptr);
    IDirect3DTexture9* fifth = make();
    device->SetTexture(0, fifth);
    fill(fifth, 0xFF00FFFF);
    quad(110);
    ASSERT_EQ(device->EndScene(), D3D_OK);
    device->SetTexture(0, nullptr);
    first->Release();
    fifth->Release();
    const std::vector<WORD> frame = BackBuffer();
    const struct {
        int left;
        WORD colour;
    } quads[] = {{10, 0xF800}, {30, 0x001F}, {50, 0x07E0}, {70, 0xFFFF}, {90, 0xF81F}, {110, 0x07FF}};
    for (const auto& q : quads)
        for (int y = 10; y < 18; ++y)
            for (int x = q.left; x < q.left + 8; ++x) ASSERT_EQ(frame[y * 640 + x], q.colour) << x << "," << y;
    EXPECT_EQ(frame[9 * 640 + 10], 0);
    EXPECT_EQ(frame[10 * 640 + 18], 0);
}

}  // namespace
