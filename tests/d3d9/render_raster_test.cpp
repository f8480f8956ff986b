// Coverage: the fill convention, triangles sharing edges, culling, strips
// and fans.
#include <gtest/gtest.h>

#include <random>

#include "tests/d3d9/render_scene.h"

using namespace render_test;

namespace {

// A scene that counts how often each pixel is drawn: every draw adds 1 to
// each channel of a cleared 32-bit target.
struct CountingScene : Scene {
    CountingScene(UINT w, UINT h) : Scene(w, h, D3DFMT_X8R8G8B8, false) {
        SetLayout(Layout::ScreenColorTex);
        state.renderStates[D3DRS_ZENABLE] = FALSE;
        state.renderStates[D3DRS_CULLMODE] = D3DCULL_NONE;
        state.renderStates[D3DRS_ALPHABLENDENABLE] = TRUE;
        state.renderStates[D3DRS_SRCBLEND] = D3DBLEND_ONE;
        state.renderStates[D3DRS_DESTBLEND] = D3DBLEND_ONE;
        Clear(D3DCLEAR_TARGET, 0);
    }
    int Count(int x, int y) const { return int(Pixel32(x, y) & 0xFF); }
};

constexpr DWORD kOne = 0xFF010101;

// A grid of (n+1) x (m+1) vertices over [x0, x1] x [y0, y1], inner vertices
// moved by up to `jitter` pixels, each cell split along a random diagonal
// into two triangles in random vertex order.
void DrawGrid(CountingScene& scene, int n, int m, float x0, float y0, float x1, float y1, float jitter,
              unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> offset(-jitter, jitter);
    std::vector<ScreenVertex> vertices;
    for (int j = 0; j <= m; ++j)
        for (int i = 0; i <= n; ++i) {
            float x = x0 + (x1 - x0) * i / n, y = y0 + (y1 - y0) * j / m;
            if (i > 0 && i < n && j > 0 && j < m) x += offset(random), y += offset(random);
            vertices.push_back({x, y, 0.5f, 1, kOne, 0, 0});
        }
    std::vector<uint16_t> indices;
    for (int j = 0; j < m; ++j)
        for (int i = 0; i < n; ++i) {
            const uint16_t a = uint16_t(j * (n + 1) + i), b = uint16_t(a + 1), c = uint16_t(a + n + 1), d = uint16_t(c + 1);
            uint16_t t[2][3];
            if (random() & 1) {
                t[0][0] = a, t[0][1] = b, t[0][2] = d, t[1][0] = a, t[1][1] = d, t[1][2] = c;
            } else {
                t[0][0] = a, t[0][1] = b, t[0][2] = c, t[1][0] = b, t[1][1] = d, t[1][2] = c;
            }
            for (auto& tri : t) {
                if (random() & 1) std::swap(tri[1], tri[2]);
                indices.insert(indices.end(), tri, tri + 3);
            }
        }
    scene.DrawIndexed(vertices, indices, UINT(indices.size() / 3));
}

TEST(RenderRaster, JitteredMeshDrawsEveryPixelExactlyOnce) {
    for (unsigned seed : {1u, 2u, 3u}) {
        CountingScene scene(97, 61);
        // The mesh reaches past every edge of the target.
        DrawGrid(scene, 23, 17, -7.3f, -5.1f, 104.2f, 66.6f, 1.2f, seed);
        for (int y = 0; y < 61; ++y)
            for (int x = 0; x < 97; ++x) ASSERT_EQ(scene.Count(x, y), 1) << x << "," << y << " seed " << seed;
    }
}

TEST(RenderRaster, EdgesThroughPixelCentresFollowTheTopLeftRule) {
    // Vertices on pixel centres: every edge passes through centres.
    CountingScene scene(40, 30);
    DrawGrid(scene, 8, 6, -8.0f, -6.0f, 48.0f, 36.0f, 0.0f, 7);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(scene.Count(x, y), 1) << x << "," << y;

    // A square on centres: the left and top edges own their centres, the
    // right and bottom ones do not.
    CountingScene square(8, 8);
    square.Draw(D3DPT_TRIANGLELIST, Quad(1, 2, 5, 6, kOne), 2);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(square.Count(x, y), x >= 1 && x < 5 && y >= 2 && y < 6 ? 1 : 0) << x << "," << y;
}

TEST(RenderRaster, HalfPixelOffsetQuadCoversTheWholeTarget) {
    CountingScene scene(640, 480);
    scene.Draw(D3DPT_TRIANGLELIST, Quad(-0.5f, -0.5f, 639.5f, 479.5f, kOne), 2);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) ASSERT_EQ(scene.Count(x, y), 1) << x << "," << y;
}

TEST(RenderRaster, FansAndStripsShareTheirEdges) {
    CountingScene fan(48, 48);
    std::vector<ScreenVertex> v{{24.3f, 23.7f, 0, 1, kOne, 0, 0}};
    const int spokes = 13;
    for (int i = 0; i <= spokes; ++i) {
        const float a = 6.2831853f * i / spokes;
        v.push_back({24.3f + 20.1f * std::cos(a), 23.7f + 20.1f * std::sin(a), 0, 1, kOne, 0, 0});
    }
    fan.Draw(D3DPT_TRIANGLEFAN, v, spokes);
    int drawn = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) {
            ASSERT_LE(fan.Count(x, y), 1);
            drawn += fan.Count(x, y);
        }
    EXPECT_EQ(fan.Count(24, 24), 1);
    // The 13-gon of radius 20.1 has area 0.5 * 13 * r^2 * sin(2 pi / 13).
    EXPECT_NEAR(drawn, 0.5 * 13 * 20.1 * 20.1 * std::sin(6.2831853 / 13), 40);

    CountingScene strip(64, 16);
    std::vector<ScreenVertex> s;
    for (int i = 0; i < 12; ++i) s.push_back({-1.3f + 6.1f * i, (i & 1) ? 0.2f + 0.4f * i : 14.6f, 0, 1, kOne, 0, 0});
    strip.state.renderStates[D3DRS_CULLMODE] = D3DCULL_CCW;
    strip.Draw(D3DPT_TRIANGLESTRIP, s, 10);
    int stripDrawn = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 64; ++x) {
            ASSERT_LE(strip.Count(x, y), 1);
            stripDrawn += strip.Count(x, y);
        }
    // With winding alternating along the strip, CCW culling keeps all ten.
    EXPECT_EQ(strip.Count(30, 8), 1);
    EXPECT_GT(stripDrawn, 500);
}

TEST(RenderRaster, CullingByScreenWinding) {
    // (1,1) (14,1) (1,14) runs clockwise on screen (y down).
    const ScreenVertex a{1, 1, 0, 1, kOne, 0, 0}, b{14, 1, 0, 1, kOne, 0, 0}, c{1, 14, 0, 1, kOne, 0, 0};
    const std::vector<ScreenVertex> clockwise{a, b, c}, counter{a, c, b}, degenerate{a, b, {27, 1, 0, 1, kOne, 0, 0}};
    struct Case {
        DWORD mode;
        bool cw, ccw;
    } cases[] = {{D3DCULL_CCW, true, false}, {D3DCULL_CW, false, true}, {D3DCULL_NONE, true, true}};
    for (const Case& k : cases) {
        CountingScene cw(16, 16), ccw(16, 16), flat(16, 16);
        for (CountingScene* s : {&cw, &ccw, &flat}) s->state.renderStates[D3DRS_CULLMODE] = k.mode;
        cw.Draw(D3DPT_TRIANGLELIST, clockwise, 1);
        ccw.Draw(D3DPT_TRIANGLELIST, counter, 1);
        flat.Draw(D3DPT_TRIANGLELIST, degenerate, 1);
        EXPECT_EQ(cw.Count(3, 3), k.cw ? 1 : 0) << k.mode;
        EXPECT_EQ(ccw.Count(3, 3), k.ccw ? 1 : 0) << k.mode;
        for (int x = 0; x < 16; ++x) EXPECT_EQ(flat.Count(x, 1), 0);
    }
}

TEST(RenderRaster, TinyTrianglesMissingEveryCentreDrawNothing) {
    CountingScene scene(8, 8);
    const std::vector<ScreenVertex> tiny{{2.1f, 2.1f, 0, 1, kOne, 0, 0}, {2.9f, 2.1f, 0, 1, kOne, 0, 0},
                                         {2.1f, 2.9f, 0, 1, kOne, 0, 0}};
    scene.Draw(D3DPT_TRIANGLELIST, tiny, 1);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(scene.Count(x, y), 0);
}

TEST(RenderRaster, UnreadableVerticesAndIndicesDrawNothing) {
    CountingScene scene(8, 8);
    std::vector<ScreenVertex> v = Quad(-0.5f, -0.5f, 7.5f, 7.5f, kOne);
    // Indices past the vertices, and more primitives than indices hold.
    const std::vector<uint16_t> indices{0, 1, 2, 3, 4, 60};
    scene.DrawIndexed(v, indices, 5);
    EXPECT_EQ(scene.Count(6, 1), 1);  // the first triangle
    EXPECT_EQ(scene.Count(1, 6), 0);  // the second uses vertex 60
    // Non-finite positions drop their triangles.
    v[4].x = NAN;
    scene.Draw(D3DPT_TRIANGLELIST, v, 2);
    EXPECT_EQ(scene.Count(6, 1), 2);
    EXPECT_EQ(scene.Count(1, 6), 0);
}

}  // namespace

namespace {

// Whether the pixel centre (x, y) lies inside the triangle under the
// top-left rule, with exact integer edge functions on 1/256-pixel vertices.
bool CentreInside(const int64_t fx[3], const int64_t fy[3], int x, int y) {
    int64_t ax = fx[0], ay = fy[0], bx = fx[1], by = fy[1], cx = fx[2], cy = fy[2];
    if ((bx - ax) * (cy - ay) - (cx - ax) * (by - ay) < 0) std::swap(bx, cx), std::swap(by, cy);
    const int64_t vx[3] = {ax, bx, cx}, vy[3] = {ay, by, cy};
    for (int k = 0; k < 3; ++k) {
        const int64_t dx = vx[(k + 1) % 3] - vx[k], dy = vy[(k + 1) % 3] - vy[k];
        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        const int64_t e = dx * (int64_t(y) * 256 - vy[k]) - dy * (int64_t(x) * 256 - vx[k]);
        if (e < (topLeft ? 0 : 1)) return false;
    }
    return true;
}

}  // namespace

// Slivers up to 24 pixels wide, from a few pixels tall to millions of
// pixels beyond the target (edge values far past 32 bits), against the
// exact rule centre by centre.
TEST(RenderRaster, NarrowTrianglesCoverExactlyTheCentresInside) {
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> sub(0, 255), column(-4, 100), spread(1, 24), far(0, 2000000);
    for (int round = 0; round < 300; ++round) {
        CountingScene scene(96, 48);
        int64_t fx[3], fy[3];
        std::vector<ScreenVertex> tri;
        const int left = column(random), width = spread(random);
        const bool huge = round % 3 == 0;
        for (int k = 0; k < 3; ++k) {
            const int px = left + int(random() % unsigned(width + 1));
            int py = int(random() % 60) - 6;
            // Some vertices far above or below the target.
            if (huge && k != 1) py = k == 0 ? -far(random) : 48 + far(random);
            const int sx = huge && k != 1 ? 0 : sub(random), sy = huge && k != 1 ? 0 : sub(random);
            fx[k] = int64_t(px) * 256 + sx, fy[k] = int64_t(py) * 256 + sy;
            tri.push_back({float(fx[k]) / 256.0f, float(fy[k]) / 256.0f, 0.5f, 1, kOne, 0, 0});
        }
        scene.Draw(D3DPT_TRIANGLELIST, tri, 1);
        int wrong = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 96; ++x)
                wrong += scene.Count(x, y) != (CentreInside(fx, fy, x, y) ? 1 : 0);
        ASSERT_EQ(wrong, 0) << "round " << round << ": (" << fx[0] << "," << fy[0] << ") (" << fx[1] << "," << fy[1]
                            << ") (" << fx[2] << "," << fy[2] << ")";
    }
}
