// Large indexed draws from buffers leave out the blocks of triangles whose
// box their camera cannot see. The frame must be the very one the full path
// draws, whatever the camera, the data or the thread count.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <numeric>
#include <random>

#include "platform/d3d9/render/block_cull.h"
#include "platform/d3d9/render/vertex_processing.h"
#include "tests/d3d9/render_scene.h"

using namespace render_test;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Vertex and index bytes standing in for two buffers: an id and a change
// count, moved on by the test whenever it rewrites the bytes.
struct Mesh {
    std::vector<PosColor> vertices;
    std::vector<uint32_t> indices;
    uint64_t vertexChanges = 1, indexChanges = 1;
};

// An n x n grid of quads on the ground, 2 units apart, centred on the
// origin, random colours. `scatter` numbers the vertices in random order, so
// that a block's corners lie all over the buffer, and shuffles the quads
// within runs of 24 along the rows.
Mesh Grid(int n, bool scatter, uint32_t seed) {
    std::mt19937 random(seed);
    Mesh mesh;
    const int side = n + 1;
    std::vector<uint32_t> number(size_t(side) * side);
    std::iota(number.begin(), number.end(), 0u);
    if (scatter) std::shuffle(number.begin(), number.end(), random);
    mesh.vertices.resize(number.size());
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i)
            mesh.vertices[number[size_t(j) * side + i]] = {2.0f * (i - n / 2), 0.3f * std::sin(0.4f * i + 0.7f * j),
                                                            2.0f * (j - n / 2), DWORD(random()) | 0xFF000000u};
    std::vector<int> quads(size_t(n) * n);
    std::iota(quads.begin(), quads.end(), 0);
    if (scatter)
        for (size_t q = 0; q < quads.size(); q += 24)
            std::shuffle(quads.begin() + q, quads.begin() + std::min(quads.size(), q + 24), random);
    for (int q : quads) {
        const int i = q % n, j = q / n;
        const uint32_t a = number[size_t(j) * side + i], b = number[size_t(j) * side + i + 1];
        const uint32_t c = number[size_t(j + 1) * side + i], d = number[size_t(j + 1) * side + i + 1];
        for (uint32_t k : {a, c, d, a, d, b}) mesh.indices.push_back(k);
    }
    return mesh;
}

struct Camera {
    float eye[3], at[3];
    float fovY = 1.0f, zn = 0.5f, zf = 400.0f;
};

struct Options {
    const char* threads = "1";
    DWORD shade = D3DSHADE_GOURAUD;
    DWORD cullMode = D3DCULL_CCW;
    bool wide = true;  // 32-bit indices, else 16-bit
    INT baseVertex = 0;
};

struct Frame {
    uint64_t target = 0, depth = 0, covered = 0, skipped = 0;
};

// A renderer kept across draws, as the device keeps it, drawing into a
// small lit-less frame that shows the vertices' colours.
class Drawer {
public:
    explicit Drawer(const Options& o = {}) : o_(WithThreads(o)), scene_(160, 120) {
        unsetenv("VINTREL_RENDER_THREADS");
        scene_.SetLayout(Layout::PosColor);
        DWORD* rs = scene_.state.renderStates;
        rs[D3DRS_LIGHTING] = FALSE;
        rs[D3DRS_SHADEMODE] = o.shade;
        rs[D3DRS_CULLMODE] = o.cullMode;
        DWORD* ts = scene_.state.stageStates[0];
        ts[D3DTSS_COLOROP] = ts[D3DTSS_ALPHAOP] = D3DTOP_SELECTARG1;
        ts[D3DTSS_COLORARG1] = ts[D3DTSS_ALPHAARG1] = D3DTA_DIFFUSE;
    }

    // One frame: clear, then the whole mesh in one draw. The vertex and
    // index bytes are copied anew each time; only their ids and change
    // counts tell the renderer whether they are the same.
    Frame Draw(const Mesh& mesh, const Camera& camera, bool culling) {
        const float up[3] = {0, 1, 0};
        scene_.state.view = LookAt(camera.eye, camera.at, up);
        scene_.state.projection = Perspective(camera.fovY, 160.0f / 120.0f, camera.zn, camera.zf);
        // The base vertex shifts the vertices up by that many.
        std::vector<PosColor> vertices(size_t(o_.baseVertex), PosColor{kNaN, kNaN, kNaN, 0});
        vertices.insert(vertices.end(), mesh.vertices.begin(), mesh.vertices.end());
        const std::vector<uint32_t> wide = mesh.indices;
        const std::vector<uint16_t> narrow(mesh.indices.begin(), mesh.indices.end());
        scene_.state.stream0 = VertexStreamView(reinterpret_cast<const BYTE*>(vertices.data()),
                                                UINT(vertices.size() * sizeof(PosColor)), sizeof(PosColor),
                                                {1, mesh.vertexChanges});
        scene_.state.indices = o_.wide ? IndexView(wide.data(), UINT(wide.size() * 4), D3DFMT_INDEX32, {2, mesh.indexChanges})
                                       : IndexView(narrow.data(), UINT(narrow.size() * 2), D3DFMT_INDEX16, {2, mesh.indexChanges});
        const bool was = Renderer::SetBlockCullingForTesting(culling);
        const uint64_t covered = scene_.renderer.CoveredPixels(), skipped = scene_.renderer.SkippedTriangles();
        scene_.Clear(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF203040);
        scene_.renderer.DrawIndexedPrimitive(scene_.state, D3DPT_TRIANGLELIST, o_.baseVertex, 0,
                                             UINT(mesh.vertices.size()), 0, UINT(mesh.indices.size() / 3));
        Renderer::SetBlockCullingForTesting(was);
        Frame f;
        f.target = scene_.Checksum();
        uint64_t h = 1469598103934665603ull;
        for (UINT y = 0; y < scene_.Height(); ++y)
            for (UINT x = 0; x < scene_.Width(); ++x) h = (h ^ scene_.Depth(int(x), int(y))) * 1099511628211ull;
        f.depth = h;
        f.covered = scene_.renderer.CoveredPixels() - covered;
        f.skipped = scene_.renderer.SkippedTriangles() - skipped;
        return f;
    }

private:
    // The renderer's thread count is read as the scene is made.
    static Options WithThreads(const Options& o) {
        setenv("VINTREL_RENDER_THREADS", o.threads, 1);
        return o;
    }
    Options o_;
    Scene scene_;
};

// The mesh's second frame in a new renderer: the first only makes the
// renderer keep the draw's blocks.
Frame DrawMesh(const Mesh& mesh, const Camera& camera, bool culling, const Options& o = {}) {
    Drawer drawer(o);
    drawer.Draw(mesh, camera, culling);
    return drawer.Draw(mesh, camera, culling);
}

void ExpectSameFrame(const Frame& culled, const Frame& full) {
    EXPECT_EQ(culled.target, full.target);
    EXPECT_EQ(culled.depth, full.depth);
    EXPECT_EQ(culled.covered, full.covered);
    EXPECT_EQ(full.skipped, 0u);
}

// Cameras that each see part of the 120 x 120 grid (240 units across).
const Camera kStanding{{0, 3, -10}, {0, 1, 30}};                   // half the grid behind: the near side
const Camera kCorner{{90, 20, 90}, {110, 0, 118}, 0.4f};           // a narrow view of one corner: the sides
const Camera kShortSight{{0, 40, -130}, {0, 0, 0}, 1.0f, 1, 60};   // the far plane cuts the grid short
const Camera kSky{{0, 5, 0}, {0, 100, 1}};                         // looking up: nothing to see

}  // namespace

TEST(RenderBlockCull, PartlySeenMeshesDrawTheFullPathsFrame) {
    const Mesh ordered = Grid(120, false, 1), scattered = Grid(120, true, 2);
    for (const Mesh* mesh : {&ordered, &scattered})
        for (const Camera& camera : {kStanding, kCorner, kShortSight})
            for (const char* threads : {"1", "2"})
                for (DWORD shade : {D3DSHADE_GOURAUD, D3DSHADE_FLAT}) {
                    Options o;
                    o.threads = threads;
                    o.shade = shade;
                    SCOPED_TRACE(testing::Message() << "scattered " << (mesh == &scattered) << " eye " << camera.eye[0]
                                                    << " threads " << threads << " shade " << shade);
                    const Frame culled = DrawMesh(*mesh, camera, true, o), full = DrawMesh(*mesh, camera, false, o);
                    ExpectSameFrame(culled, full);
                    EXPECT_GT(culled.skipped, 0u) << "the camera sees only part of the grid";
                    EXPECT_GT(full.covered, 0u);
                }
}

TEST(RenderBlockCull, IndexFormsBaseVertexAndCullModesDrawTheFullPathsFrame) {
    const Mesh mesh = Grid(100, true, 3);
    for (bool wide : {true, false})
        for (INT base : {0, 37})
            for (DWORD cullMode : {D3DCULL_NONE, D3DCULL_CW}) {
                Options o;
                o.wide = wide, o.baseVertex = base, o.cullMode = cullMode, o.threads = "2";
                SCOPED_TRACE(testing::Message() << "wide " << wide << " base " << base << " cull " << cullMode);
                const Frame culled = DrawMesh(mesh, kStanding, true, o), full = DrawMesh(mesh, kStanding, false, o);
                ExpectSameFrame(culled, full);
                EXPECT_GT(culled.skipped, 0u);
            }
}

TEST(RenderBlockCull, NothingInViewDrawsNothingAndSmallDrawsTakeTheFullPath) {
    const Mesh mesh = Grid(120, false, 4);
    const Frame culled = DrawMesh(mesh, kSky, true), full = DrawMesh(mesh, kSky, false);
    ExpectSameFrame(culled, full);
    EXPECT_EQ(culled.covered, 0u);
    EXPECT_EQ(culled.skipped, mesh.indices.size() / 3);

    // 30 x 30 quads: 1800 triangles, too few to be worth the boxes.
    const Mesh small = Grid(30, false, 5);
    EXPECT_EQ(DrawMesh(small, kStanding, true).skipped, 0u);
}

TEST(RenderBlockCull, RewrittenBytesMoveBlocksIntoView) {
    // The far part of the grid lies behind the standing camera. The buffers
    // also hold a second copy of the vertices with that part lifted into
    // view, which the indices do not use at first. The test rewrites the
    // vertices, then the indices, to show the lifted part: under the new
    // change counts the renderer must not go by the boxes it had.
    Mesh mesh = Grid(120, false, 6);
    const uint32_t copy = uint32_t(mesh.vertices.size());
    auto hidden = [](const PosColor& v) { return v.z < -12; };
    auto lift = [&](PosColor v) {
        if (hidden(v)) v.z = -v.z + 40, v.y += 6, v.color ^= 0x00FFFF00u;
        return v;
    };
    for (uint32_t i = 0; i < copy; ++i) mesh.vertices.push_back(lift(mesh.vertices[i]));
    for (const char* threads : {"1", "2"}) {
        Options o;
        o.threads = threads;
        Drawer drawer(o);
        drawer.Draw(mesh, kStanding, true);
        const Frame before = drawer.Draw(mesh, kStanding, true);
        EXPECT_GT(before.skipped, 0u);

        Mesh movedVertices = mesh;
        for (uint32_t i = 0; i < copy; ++i) movedVertices.vertices[i] = lift(mesh.vertices[i]);
        movedVertices.vertexChanges = 2;
        const Frame reference = Drawer(o).Draw(movedVertices, kStanding, false);
        EXPECT_NE(reference.target, before.target) << "the lifted part shows";
        for (int pass = 0; pass < 2; ++pass) ExpectSameFrame(drawer.Draw(movedVertices, kStanding, true), reference);

        Mesh movedIndices = mesh;
        for (size_t t = 0; t < mesh.indices.size(); t += 3)
            if (hidden(mesh.vertices[mesh.indices[t]]) || hidden(mesh.vertices[mesh.indices[t + 1]]) ||
                hidden(mesh.vertices[mesh.indices[t + 2]]))
                for (size_t k = t; k < t + 3; ++k) movedIndices.indices[k] += copy;
        movedIndices.indexChanges = 2;
        drawer.Draw(mesh, kStanding, true);  // the old bytes' blocks again
        for (int pass = 0; pass < 2; ++pass) ExpectSameFrame(drawer.Draw(movedIndices, kStanding, true), reference);
    }
}

TEST(RenderBlockCull, NonFiniteAndUnreadableCornersKeepTheirBlock) {
    // Separate triangles far behind the camera, none of them visible. One
    // block has a NaN corner, one an infinite one, one a corner past the end
    // of the vertices: those three are never left out, the rest are.
    Mesh mesh;
    const uint32_t blocks = std::max(24u, 4096 / render::kBlockTriangles), triangles = blocks * render::kBlockTriangles;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> spread(-50, 50);
    for (uint32_t t = 0; t < triangles; ++t) {
        const float x = spread(random), y = spread(random), z = -200 + spread(random) * 0.5f;
        for (int k = 0; k < 3; ++k) {
            mesh.indices.push_back(uint32_t(mesh.vertices.size()));
            mesh.vertices.push_back({x + (k == 1 ? 3.0f : 0.0f), y + (k == 2 ? 3.0f : 0.0f), z, 0xFFFFFFFFu});
        }
    }
    mesh.vertices[(3 * render::kBlockTriangles + 5) * 3 + 1].x = kNaN;
    mesh.vertices[(11 * render::kBlockTriangles + 9) * 3].z = -kInf;
    mesh.indices[(20 * render::kBlockTriangles + 2) * 3 + 2] = uint32_t(mesh.vertices.size() + 1);
    const Frame culled = DrawMesh(mesh, kStanding, true), full = DrawMesh(mesh, kStanding, false);
    ExpectSameFrame(culled, full);
    EXPECT_EQ(culled.skipped, uint64_t(triangles - 3 * render::kBlockTriangles));
}

TEST(RenderBlockCull, NaNCornersInSeenBlocksNeverHideTheirNeighbours) {
    // NaN corners scattered through the grid, some as the very first corner
    // of a block: the triangles around them still draw as the full path
    // draws them.
    Mesh mesh = Grid(120, true, 8);
    for (size_t b = 0; b * render::kBlockTriangles * 3 < mesh.indices.size(); b += 3)
        mesh.vertices[mesh.indices[b * render::kBlockTriangles * 3]].y = kNaN;
    std::mt19937 random(9);
    for (int k = 0; k < 200; ++k) mesh.vertices[random() % mesh.vertices.size()].x = (k & 1) ? kNaN : kInf;
    for (const Camera& camera : {kStanding, kCorner}) {
        const Frame culled = DrawMesh(mesh, camera, true), full = DrawMesh(mesh, camera, false);
        ExpectSameFrame(culled, full);
        EXPECT_GT(full.covered, 0u);
    }
}

namespace {

// Outcodes as the vertex processor finds them: the sums in float, in its
// order.
uint32_t RejectBits(const float p[3], const float m[4][4]) {
    float c[4];
    for (int j = 0; j < 4; ++j) c[j] = p[0] * m[0][j] + p[1] * m[1][j] + p[2] * m[2][j] + m[3][j];
    uint32_t bits = 0;
    if (c[0] < -c[3]) bits |= 1;
    if (c[0] > c[3]) bits |= 2;
    if (c[1] < -c[3]) bits |= 4;
    if (c[1] > c[3]) bits |= 8;
    if (c[2] < 0) bits |= 16;
    if (c[2] > c[3]) bits |= 32;
    return bits;
}

}  // namespace

TEST(RenderBlockCull, BoxesJudgedOutsideHoldOnlyRejectedPoints) {
    // Random cameras and boxes, each pushed towards the view volume until
    // it is judged outside no more: every corner and many points of the
    // last box judged outside must share an outcode bit, as computed in
    // float.
    std::mt19937 random(10);
    std::uniform_real_distribution<float> u(-1, 1);
    int outside = 0;
    for (int round = 0; round < 400; ++round) {
        const float scale = round % 4 == 0 ? 1000.0f : (round % 4 == 1 ? 0.01f : 20.0f);
        const float eye[3] = {u(random) * scale, u(random) * scale, u(random) * scale};
        const float at[3] = {eye[0] + u(random), eye[1] + u(random), eye[2] + 1.5f * u(random) + 0.1f};
        const float up[3] = {0, 1, 0};
        const D3DMATRIX wvp = Multiply(LookAt(eye, at, up), Perspective(0.3f + std::fabs(u(random)) * 2, 1.3f,
                                                                           0.01f * scale, 50.0f * scale));
        const float(&m)[4][4] = wvp.m;
        float lo[3], hi[3], dir[3];
        for (int i = 0; i < 3; ++i) {
            const float centre = eye[i] + u(random) * 3 * scale, size = std::fabs(u(random)) * scale * (round % 3 == 0 ? 0.001f : 0.3f);
            lo[i] = centre - size, hi[i] = centre + size;
            dir[i] = eye[i] - centre + u(random) * scale * 0.1f;
        }
        if (!render::BoxOutside(lo, hi, m)) continue;
        ++outside;
        // Move the box along dir by t: the largest t found still outside.
        auto moved = [&](double t, float a[3], float b[3]) {
            for (int i = 0; i < 3; ++i) a[i] = float(lo[i] + t * dir[i]), b[i] = float(hi[i] + t * dir[i]);
        };
        double in = 0, out = 2;
        float a[3], b[3];
        moved(out, a, b);
        if (!render::BoxOutside(a, b, m))
            for (int step = 0; step < 60; ++step) {
                const double mid = (in + out) / 2;
                moved(mid, a, b);
                (render::BoxOutside(a, b, m) ? in : out) = mid;
            }
        else
            in = out;
        moved(in, a, b);
        ASSERT_TRUE(render::BoxOutside(a, b, m));
        uint32_t common = 63;
        for (int corner = 0; corner < 8; ++corner) {
            const float p[3] = {corner & 1 ? b[0] : a[0], corner & 2 ? b[1] : a[1], corner & 4 ? b[2] : a[2]};
            common &= RejectBits(p, m);
        }
        std::uniform_real_distribution<float> w(0, 1);
        for (int k = 0; k < 200; ++k) {
            float p[3];
            for (int i = 0; i < 3; ++i) p[i] = a[i] + (b[i] - a[i]) * w(random);
            common &= RejectBits(p, m);
        }
        EXPECT_NE(common, 0u) << "round " << round;
    }
    EXPECT_GT(outside, 100) << "most random boxes lie outside a narrow view";

    // Not finite or near overflow: never outside.
    const D3DMATRIX wvp = Perspective(1.0f, 1.0f, 1, 100);
    const float behind[3] = {-1, -1, -10}, behindHi[3] = {1, 1, -9};
    EXPECT_TRUE(render::BoxOutside(behind, behindHi, wvp.m));
    for (float bad : {kNaN, kInf, -kInf, 1e35f}) {
        float lo[3] = {-1, -1, -10}, hi[3] = {1, 1, -9};
        (bad > 0 ? hi : lo)[1] = bad;
        EXPECT_FALSE(render::BoxOutside(lo, hi, wvp.m)) << bad;
        float nanMatrix[4][4];
        std::memcpy(nanMatrix, wvp.m, sizeof nanMatrix);
        nanMatrix[2][2] = bad;
        EXPECT_FALSE(render::BoxOutside(behind, behindHi, nanMatrix)) << bad;
    }
}
