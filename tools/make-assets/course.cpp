#include "course.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <unordered_map>

#include "image.h"

namespace assets {

namespace {
constexpr float kPi = 3.14159265358979f;
constexpr float kSegmentLength = 5.0f;   // centre-line sample spacing
constexpr float kKerbOuter = 10.0f;      // kerbs or verge from the road edge to here
constexpr float kRunoffOuter = 38.0f;    // run-off areas out to here
constexpr float kTerrainCell = 18.0f;
constexpr float kTerrainMargin = 360.0f;
constexpr float kTargetLength = 5400.0f;

// Control points of the circuit in a frame where the start straight runs
// along +x through the origin; the start pose is the origin. Travel order.
const Vec2 kControlPoints[] = {
    {-350, 0},    {-100, 0},    {150, 0},     {400, 0},     {580, -15},   {720, -80},
    {800, -200},  {810, -330},  {760, -430},  {660, -470},  {580, -440},  {510, -480},
    {430, -450},  {330, -470},  {240, -520},  {220, -610},  {160, -690},  {40, -730},
    {-200, -740}, {-420, -730}, {-560, -690}, {-620, -600}, {-590, -510}, {-560, -400},
    {-480, -330}, {-470, -230}, {-540, -150}, {-540, -60},  {-480, -5},
};

Vec2 CatmullRom(Vec2 p0, Vec2 p1, Vec2 p2, Vec2 p3, float t) {
    float t2 = t * t, t3 = t2 * t;
    auto f = [&](float a, float b, float c, float d) {
        return 0.5f * (2 * b + (-a + c) * t + (2 * a - 5 * b + 4 * c - d) * t2 + (-a + 3 * b - 3 * c + d) * t3);
    };
    return {f(p0.x, p1.x, p2.x, p3.x), f(p0.y, p1.y, p2.y, p3.y)};
}

float Smoothstep(float e0, float e1, float x) {
    float t = std::clamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}

// The far landscape: rolling hills that grow towards the edge of the map.
float FarHeight(float x, float z, float distanceToTrack) {
    float h = 9 * std::sin(x * 0.0061f + 0.7f) * std::cos(z * 0.0047f - 0.3f) +
              5 * std::sin(x * 0.013f - z * 0.009f + 1.9f) + 2.5f * std::sin(x * 0.031f + z * 0.027f);
    // Away from the track the ground climbs into a ring of hills.
    float rise = std::min(std::max(0.0f, distanceToTrack - 160.0f) * 0.2f, 80.0f);
    float hills = TiledFractal(x * 0.004f + 50, z * 0.004f + 50, 64, 3, 5);
    return h + rise * (0.6f + 0.8f * hills);
}

// Finds the nearest centre-line segment to a point, through a grid of
// buckets over the segments.
class SegmentIndex {
public:
    explicit SegmentIndex(const CentreLine& line) : line_(line) {
        size_t n = line.points.size();
        for (size_t i = 0; i < n; ++i) {
            Vec2 a = line.points[i], b = line.points[(i + 1) % n];
            int x0 = Cell(std::min(a.x, b.x)), x1 = Cell(std::max(a.x, b.x));
            int z0 = Cell(std::min(a.y, b.y)), z1 = Cell(std::max(a.y, b.y));
            for (int x = x0; x <= x1; ++x)
                for (int z = z0; z <= z1; ++z) buckets_[Key(x, z)].push_back(uint32_t(i));
        }
    }

    // Distance to the centre line and the position along it (in samples,
    // fractional), searching outwards until the answer is certain.
    float Nearest(float x, float z, float* where = nullptr) const {
        float best = 1e30f, bestWhere = 0;
        int cx = Cell(x), cz = Cell(z);
        size_t n = line_.points.size();
        for (int ring = 0; ring < 64; ++ring) {
            for (int dx = -ring; dx <= ring; ++dx)
                for (int dz = -ring; dz <= ring; ++dz) {
                    if (std::max(std::abs(dx), std::abs(dz)) != ring) continue;
                    auto it = buckets_.find(Key(cx + dx, cz + dz));
                    if (it == buckets_.end()) continue;
                    for (uint32_t i : it->second) {
                        Vec2 a = line_.points[i], b = line_.points[(i + 1) % n];
                        float ex = b.x - a.x, ez = b.y - a.y;
                        float t = std::clamp(((x - a.x) * ex + (z - a.y) * ez) / (ex * ex + ez * ez), 0.0f, 1.0f);
                        float d = std::hypot(x - a.x - t * ex, z - a.y - t * ez);
                        if (d < best) best = d, bestWhere = float(i) + t;
                    }
                }
            // Everything in further rings is at least `ring` cells away.
            if (best < ring * kBucket) break;
        }
        if (where) *where = bestWhere;
        return best;
    }

private:
    static constexpr float kBucket = 32.0f;
    static int Cell(float v) { return int(std::floor(v / kBucket)); }
    static uint64_t Key(int x, int z) { return (uint64_t(uint32_t(x)) << 32) | uint32_t(z); }
    const CentreLine& line_;
    std::unordered_map<uint64_t, std::vector<uint32_t>> buckets_;
};

float RoadHeightAt(const CentreLine& line, float where) {
    size_t n = line.heights.size();
    size_t i = size_t(where) % n;
    float t = where - std::floor(where);
    return line.heights[i] + (line.heights[(i + 1) % n] - line.heights[i]) * t;
}

// Height of the ground away from the ribbon: sunk a little below the
// run-off next to the track, then rising into the far hills.
float TerrainHeight(const CentreLine& line, const SegmentIndex& index, float x, float z, float* distance) {
    float where = 0;
    float d = index.Nearest(x, z, &where);
    if (distance) *distance = d;
    float near = RoadHeightAt(line, where) - 2.0f;
    return near + (FarHeight(x, z, d) - near) * Smoothstep(kRunoffOuter, kRunoffOuter + 70.0f, d);
}

// Builds meshes face by face with per-vertex normals and texture
// coordinates, so that corners shared by faces share a vertex.
struct MeshBuilder {
    XMesh mesh;
    // Parts modelled in a frame of their own are placed by this matrix
    // (row vectors: rotation rows, then translation) as they are added.
    std::array<float, 16> place = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

    explicit MeshBuilder(const std::string& name, const std::vector<std::string>& materials) {
        mesh.name = name;
        mesh.materials = materials;
    }
    uint32_t Vertex(Vec3 p, Vec3 n, Vec2 uv) {
        const auto& m = place;
        p = {p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12], p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13],
             p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]};
        n = {n.x * m[0] + n.y * m[4] + n.z * m[8], n.x * m[1] + n.y * m[5] + n.z * m[9],
             n.x * m[2] + n.y * m[6] + n.z * m[10]};
        mesh.positions.push_back(p);
        float len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
        mesh.normals.push_back(len > 0 ? Vec3{n.x / len, n.y / len, n.z / len} : Vec3{0, 1, 0});
        mesh.uvs.push_back(uv);
        return uint32_t(mesh.positions.size() - 1);
    }
    void Face(std::vector<uint32_t> corners, uint32_t material) {
        mesh.faces.push_back(corners);
        mesh.normalFaces.push_back(corners);
        mesh.faceMaterials.push_back(material);
    }
    // A flat quad with its own four vertices (hard edges), corners in order.
    void FlatQuad(Vec3 a, Vec3 b, Vec3 c, Vec3 d, Vec2 ua, Vec2 ub, Vec2 uc, Vec2 ud, uint32_t material) {
        Vec3 e1{b.x - a.x, b.y - a.y, b.z - a.z}, e2{d.x - a.x, d.y - a.y, d.z - a.z};
        // Corners clockwise as seen from the front: (b - a) x (d - a) points
        // to the viewer in these left-handed coordinates.
        Vec3 n{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
        Face({Vertex(a, n, ua), Vertex(b, n, ub), Vertex(c, n, uc), Vertex(d, n, ud)}, material);
    }
};

Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
}  // namespace

CentreLine BuildCentreLine() {
    const size_t count = sizeof kControlPoints / sizeof kControlPoints[0];
    // Dense polyline through the control points, in the design frame.
    std::vector<Vec2> dense;
    for (size_t i = 0; i < count; ++i) {
        Vec2 p0 = kControlPoints[(i + count - 1) % count], p1 = kControlPoints[i];
        Vec2 p2 = kControlPoints[(i + 1) % count], p3 = kControlPoints[(i + 2) % count];
        for (int k = 0; k < 200; ++k) dense.push_back(CatmullRom(p0, p1, p2, p3, k / 200.0f));
    }
    std::vector<double> arc(dense.size() + 1, 0.0);
    for (size_t i = 0; i < dense.size(); ++i) {
        Vec2 a = dense[i], b = dense[(i + 1) % dense.size()];
        arc[i + 1] = arc[i] + std::hypot(double(b.x - a.x), double(b.y - a.y));
    }
    double designLength = arc.back();
    double scale = kTargetLength / designLength;

    // The design origin (control point 1 is on the straight) maps to the
    // start pose, design +x to the start heading.
    const float forwardX = -std::sin(kStartHeading), forwardZ = -std::cos(kStartHeading);
    auto toWorld = [&](Vec2 p) {
        float a = p.x * float(scale), b = p.y * float(scale);
        return Vec2{kStartX + a * forwardX - b * forwardZ, kStartZ + a * forwardZ + b * forwardX};
    };

    CentreLine line;
    line.length = float(designLength * scale);
    size_t n = size_t(std::lround(line.length / kSegmentLength));
    line.step = line.length / float(n);
    // Arc-length position of the design origin, so that a sample lands on
    // the start pose exactly.
    double originArc = 0;
    for (size_t i = 0; i + 1 < dense.size(); ++i)
        if (dense[i].y == 0 && dense[i].x <= 0 && dense[i + 1].x > 0) {
            originArc = arc[i] + (0 - dense[i].x) / (dense[i + 1].x - dense[i].x) * (arc[i + 1] - arc[i]);
            break;
        }
    size_t j = 0;
    for (size_t i = 0; i < n; ++i) {
        double target = std::fmod(originArc + double(i) * designLength / double(n), designLength);
        if (i == 0 || target < arc[j]) j = 0;
        while (j + 1 < arc.size() && arc[j + 1] < target) ++j;
        double t = (target - arc[j]) / std::max(1e-9, arc[j + 1] - arc[j]);
        Vec2 a = dense[j], b = dense[(j + 1) % dense.size()];
        line.points.push_back(toWorld({float(a.x + (b.x - a.x) * t), float(a.y + (b.y - a.y) * t)}));
    }
    line.points[0] = {kStartX, kStartZ};
    for (size_t i = 0; i < n; ++i) {
        Vec2 a = line.points[(i + n - 1) % n], b = line.points[(i + 1) % n];
        float len = std::hypot(b.x - a.x, b.y - a.y);
        line.tangents.push_back({(b.x - a.x) / len, (b.y - a.y) / len});
    }
    for (size_t i = 0; i < n; ++i) {
        Vec2 a = line.tangents[(i + n - 1) % n], b = line.tangents[(i + 1) % n];
        float turn = std::atan2(a.x * b.y - a.y * b.x, a.x * b.x + a.y * b.y);
        line.curvature.push_back(turn / (2 * line.step));
        // Gentle hills along the lap, level at the start.
        float s = float(i) / float(n) * 2 * kPi;
        line.heights.push_back(13.0f * std::sin(2 * s + 0.4f) - 13.0f * std::sin(0.4f) +
                               6.0f * std::sin(3 * s + 2.1f) - 6.0f * std::sin(2.1f));
    }
    return line;
}

namespace {
// Material numbers of the course, in file order; the road is number 14.
enum CourseMaterial : uint32_t {
    kGrass, kGravel, kRock, kSand, kKerb, kVerge, kConcrete, kLawn, kField, kTarmac,
    kTyres, kFence, kBoards, kPaddock, kRoad, kBark, kLeaves, kSteel, kBanner, kSeats, kRoof
};

const char* const kMaterialNames[] = {"Grass",  "Gravel", "Rock",    "Sand",   "Kerb",   "Verge",  "Concrete",
                                      "Lawn",   "Field",  "Tarmac",  "Tyres",  "Fence",  "Boards", "Paddock",
                                      "Road",   "Bark",   "Leaves",  "Steel",  "Banner", "Seats",  "Roof"};

XMaterial Material(const char* name, float r, float g, float b, float a, const char* texture,
                   float emissive = 0.0f) {
    XMaterial m;
    m.name = name;
    m.diffuse[0] = r, m.diffuse[1] = g, m.diffuse[2] = b, m.diffuse[3] = a;
    m.power = 10;
    m.emissive[0] = emissive * r, m.emissive[1] = emissive * g, m.emissive[2] = emissive * b;
    if (texture) m.texture = texture;
    return m;
}

std::vector<XMaterial> CourseMaterials() {
    // Lighting gives ambient 0.5 x diffuse plus a little directional light,
    // so textured materials carry bright diffuse and some emissive.
    return {
        Material("Grass", 1.0f, 1.0f, 1.0f, 1, "grass.dds", 0.35f),
        Material("Gravel", 1.0f, 1.0f, 1.0f, 1, "gravel.jpg", 0.35f),
        Material("Rock", 1.0f, 1.0f, 1.0f, 1, "rock.ppm", 0.3f),
        Material("Sand", 1.0f, 1.0f, 1.0f, 1, "sand.bmp", 0.35f),
        Material("Kerb", 1.0f, 1.0f, 1.0f, 1, "kerb.tga", 0.4f),
        Material("Verge", 0.34f, 0.56f, 0.24f, 1, nullptr, 0.3f),
        Material("Concrete", 1.0f, 1.0f, 1.0f, 1, "concrete.bmp", 0.35f),
        Material("Lawn", 1.0f, 1.0f, 1.0f, 1, "lawn.dds", 0.35f),
        Material("Field", 1.0f, 1.0f, 1.0f, 1, "field.dds", 0.3f),
        Material("Tarmac", 0.42f, 0.42f, 0.44f, 1, nullptr, 0.35f),
        Material("Tyres", 1.0f, 1.0f, 1.0f, 1, "tyres.dds", 0.3f),
        Material("Fence", 1.0f, 1.0f, 1.0f, 1, "fence.png", 0.4f),
        Material("Boards", 1.0f, 1.0f, 1.0f, 1, "boards.dds", 0.5f),
        Material("Paddock", 1.0f, 1.0f, 1.0f, 1, "paddock.tga", 0.35f),
        Material("Road", 1.0f, 1.0f, 1.0f, 1, "road.dds", 0.4f),
        Material("Bark", 1.0f, 1.0f, 1.0f, 1, "bark.bmp", 0.3f),
        Material("Leaves", 1.0f, 1.0f, 1.0f, 1, "leaves.png", 0.3f),
        Material("Steel", 0.55f, 0.57f, 0.62f, 1, nullptr, 0.35f),
        Material("Banner", 1.0f, 1.0f, 1.0f, 1, "banner.dds", 0.6f),
        Material("Seats", 1.0f, 1.0f, 1.0f, 1, "seats.tga", 0.35f),
        Material("Roof", 0.78f, 0.8f, 0.84f, 1, nullptr, 0.35f),
    };
}

std::vector<std::string> Names(uint32_t first, uint32_t last) {
    std::vector<std::string> names;
    for (uint32_t i = first; i <= last; ++i) names.push_back(kMaterialNames[i]);
    return names;
}

Vec3 At(const CentreLine& line, size_t i, float offset, float lift) {
    Vec2 p = line.points[i], t = line.tangents[i];
    return {p.x - t.y * offset, line.heights[i] + lift, p.y + t.x * offset};
}

// Ground-plane normal of the ribbon at sample i: across is level, along
// follows the slope.
Vec3 RibbonNormal(const CentreLine& line, size_t i) {
    size_t n = line.points.size();
    float slope = (line.heights[(i + 1) % n] - line.heights[(i + n - 1) % n]) / (2 * line.step);
    Vec2 t = line.tangents[i];
    Vec3 along{t.x, slope, t.y}, across{-t.y, 0, t.x};
    Vec3 up = Cross(along, across);
    if (up.y < 0) up = {-up.x, -up.y, -up.z};
    return up;
}

// Start and finish: the road segment that carries the start line.
constexpr size_t kStartLineSample = 2;
bool NearStart(const CentreLine& line, size_t i, float before, float after) {
    size_t n = line.points.size();
    float s = float((i + n / 2) % n) - float(n / 2);  // signed samples from the start
    return s * line.step >= -before && s * line.step <= after;
}

void BuildRibbon(const CentreLine& line, MeshBuilder& b) {
    size_t n = line.points.size();
    // Road: per segment its own vertex rows, so that its texture can run
    // 0 .. 0.875 on every 20-unit tile and use the band above for the start
    // line. One quad spans the width: an edge running along the middle
    // would lie under a car driving straight down the centre, and a probe
    // ray that meets an edge exactly can slip between its two triangles.
    const float across[] = {-kRoadHalfWidth, kRoadHalfWidth};
    for (size_t i = 0; i < n; ++i) {
        size_t k = (i + 1) % n;
        float v0 = float(i % 4) * 0.21875f, v1 = v0 + 0.21875f;
        if (i == kStartLineSample) v0 = 0.875f, v1 = 1.0f;
        uint32_t row0[2], row1[2];
        for (int c = 0; c < 2; ++c) {
            float u = float(c);
            row0[c] = b.Vertex(At(line, i, across[c], 0), RibbonNormal(line, i), {u, v0});
            row1[c] = b.Vertex(At(line, k, across[c], 0), RibbonNormal(line, k), {u, v1});
        }
        // Clockwise seen from above: the left edge first.
        b.Face({row0[1], row1[1], row1[0], row0[0]}, kRoad);
    }

    // Kerbs (in corners) or verge, then run-off, on both sides. These rows
    // are shared from segment to segment.
    for (int side = -1; side <= 1; side += 2) {
        // Lateral stations from the road edge outwards and their heights.
        const float offsets[] = {kRoadHalfWidth, kKerbOuter, 22.0f, kRunoffOuter};
        const float lifts[] = {0.02f, 0.14f, -0.2f, -1.8f};
        // One row more than samples: the last repeats the first with the
        // texture running on, so there is no seam where the lap closes.
        std::vector<std::array<uint32_t, 4>> rows(n + 1);
        for (size_t i = 0; i <= n; ++i)
            for (int c = 0; c < 4; ++c) {
                float u = c == 0 ? 0.0f : c == 1 ? 1.0f : (offsets[c] - kKerbOuter) / 8.0f;
                float v = float(i) * line.step / 10.0f;
                rows[i][c] = b.Vertex(At(line, i % n, side * offsets[c], lifts[c]), RibbonNormal(line, i % n), {u, v});
            }
        for (size_t i = 0; i < n; ++i) {
            size_t k = (i + 1) % n;
            float curve = std::max(std::abs(line.curvature[i]), std::abs(line.curvature[k]));
            // The outside of a corner is the side away from its centre.
            bool outside = line.curvature[i] * float(side) < 0;
            bool corner = curve > 1.0f / 400.0f;
            bool slow = curve > 1.0f / 160.0f;
            bool straight = NearStart(line, i, 300, 260);
            uint32_t kerb = corner ? kKerb : kVerge;
            uint32_t runoff = kLawn;
            if (slow) runoff = outside ? kGravel : kSand;
            else if (corner && outside) runoff = kTarmac;
            if (straight && side < 0) runoff = kPaddock;
            // Quads wound so that they face up (clockwise seen from above).
            for (int c = 0; c < 3; ++c) {
                uint32_t material = c == 0 ? kerb : runoff;
                uint32_t a = rows[i][c], bb = rows[i + 1][c], cc = rows[i + 1][c + 1], d = rows[i][c + 1];
                if (side > 0) b.Face({d, cc, bb, a}, material);
                else b.Face({a, bb, cc, d}, material);
            }
        }
    }
}

// Upright panels along the track: the pit wall, billboards, fences and
// tyre walls, each a quad facing the road (and its back).
void BuildTrackside(const CentreLine& line, MeshBuilder& b) {
    size_t n = line.points.size();
    auto panel = [&](size_t i, float offset, float bottom, float top, uint32_t material, float uScale) {
        size_t k = (i + 1) % n;
        Vec3 a = At(line, i, offset, bottom), bb = At(line, k, offset, bottom);
        Vec3 c = At(line, k, offset, top), d = At(line, i, offset, top);
        float u0 = float(i) * line.step / uScale, u1 = float(i + 1) * line.step / uScale;
        // Front (towards the road) and back.
        if (offset > 0) {
            b.FlatQuad(d, c, bb, a, {u0, 0}, {u1, 0}, {u1, 1}, {u0, 1}, material);
            b.FlatQuad(c, d, a, bb, {u1, 0}, {u0, 0}, {u0, 1}, {u1, 1}, material);
        } else {
            b.FlatQuad(c, d, a, bb, {u1, 0}, {u0, 0}, {u0, 1}, {u1, 1}, material);
            b.FlatQuad(d, c, bb, a, {u0, 0}, {u1, 0}, {u1, 1}, {u0, 1}, material);
        }
    };
    for (size_t i = 0; i < n; ++i) {
        float curve = std::abs(line.curvature[i]);
        bool straight = NearStart(line, i, 300, 260);
        if (straight) {
            panel(i, -12.0f, 0.0f, 1.3f, kConcrete, 10.0f);  // pit wall
            if (i % 8 < 5) panel(i, 30.0f, 0.2f, 3.2f, kBoards, 20.0f);
            continue;
        }
        if (curve > 1.0f / 160.0f) {
            float side = line.curvature[i] > 0 ? -1.0f : 1.0f;  // outside of the corner
            panel(i, side * (kRunoffOuter - 1.0f), -1.8f, 1.2f, kFence, 6.0f);
            panel(i, side * (kRunoffOuter - 4.0f), -1.2f, 0.0f, kTyres, 4.0f);
        }
    }
}

void BuildTerrain(const CentreLine& line, const SegmentIndex& index, MeshBuilder& b) {
    float minX = 1e30f, maxX = -1e30f, minZ = 1e30f, maxZ = -1e30f;
    for (Vec2 p : line.points)
        minX = std::min(minX, p.x), maxX = std::max(maxX, p.x), minZ = std::min(minZ, p.y), maxZ = std::max(maxZ, p.y);
    minX -= kTerrainMargin, maxX += kTerrainMargin, minZ -= kTerrainMargin, maxZ += kTerrainMargin;
    int cols = int(std::ceil((maxX - minX) / kTerrainCell)), rows = int(std::ceil((maxZ - minZ) / kTerrainCell));
    std::vector<float> height(size_t(cols + 1) * (rows + 1)), dist(height.size());
    for (int r = 0; r <= rows; ++r)
        for (int c = 0; c <= cols; ++c) {
            size_t k = size_t(r) * (cols + 1) + c;
            height[k] = TerrainHeight(line, index, minX + c * kTerrainCell, minZ + r * kTerrainCell, &dist[k]);
        }
    auto H = [&](int c, int r) {
        c = std::clamp(c, 0, cols), r = std::clamp(r, 0, rows);
        return height[size_t(r) * (cols + 1) + c];
    };
    std::vector<int32_t> vertexOf(height.size(), -1);
    auto vertex = [&](int c, int r) {
        size_t k = size_t(r) * (cols + 1) + c;
        if (vertexOf[k] < 0) {
            Vec3 normal{H(c - 1, r) - H(c + 1, r), 2 * kTerrainCell, H(c, r - 1) - H(c, r + 1)};
            vertexOf[k] = int32_t(b.Vertex({minX + c * kTerrainCell, height[k], minZ + r * kTerrainCell}, normal,
                                           {c * 0.25f, r * 0.25f}));
        }
        return uint32_t(vertexOf[k]);
    };
    // A triangle goes if any of its sample points comes near the road and
    // kerbs; the run-off ribbon covers the gap this leaves.
    auto nearTrack = [&](float x0, float z0, float x1, float z1, float x2, float z2) {
        for (int i = 0; i <= 4; ++i)
            for (int j = 0; i + j <= 4; ++j) {
                float a = i / 4.0f, c = j / 4.0f, w = 1 - a - c;
                float x = w * x0 + a * x1 + c * x2, z = w * z0 + a * z1 + c * z2;
                if (index.Nearest(x, z) < kKerbOuter + 3.0f) return true;
            }
        return false;
    };
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            float x0 = minX + c * kTerrainCell, z0 = minZ + r * kTerrainCell, x1 = x0 + kTerrainCell, z1 = z0 + kTerrainCell;
            float d = std::min({dist[size_t(r) * (cols + 1) + c], dist[size_t(r + 1) * (cols + 1) + c + 1]});
            float hAvg = (H(c, r) + H(c + 1, r) + H(c, r + 1) + H(c + 1, r + 1)) * 0.25f;
            float slope = std::max(std::abs(H(c + 1, r) - H(c, r)), std::abs(H(c, r + 1) - H(c, r))) / kTerrainCell;
            uint32_t material = kGrass;
            if (d < 120) material = kLawn;
            else if (slope > 0.6f || hAvg > 75) material = kRock;
            else if (TiledNoise(x0 * 0.004f, z0 * 0.004f, 64, 7) > 0.62f) material = kField;
            // Two triangles per cell, each kept unless it reaches the road.
            // Clockwise seen from above is (x0,z0) (x0,z1) (x1,z1).
            if (!(d < kRunoffOuter + 30 && nearTrack(x0, z0, x0, z1, x1, z1)))
                b.Face({vertex(c, r), vertex(c, r + 1), vertex(c + 1, r + 1)}, material);
            if (!(d < kRunoffOuter + 30 && nearTrack(x0, z0, x1, z1, x1, z0)))
                b.Face({vertex(c, r), vertex(c + 1, r + 1), vertex(c + 1, r)}, material);
        }
}

// Trees: a six-sided trunk and two cones of leaves, placed away from the
// track.
void BuildTrees(const CentreLine& line, const SegmentIndex& index, MeshBuilder& b) {
    Random random(2003);
    float minX = 1e30f, maxX = -1e30f, minZ = 1e30f, maxZ = -1e30f;
    for (Vec2 p : line.points)
        minX = std::min(minX, p.x), maxX = std::max(maxX, p.x), minZ = std::min(minZ, p.y), maxZ = std::max(maxZ, p.y);
    std::vector<Vec2> placed;
    int attempts = 0;
    while (placed.size() < 230 && attempts++ < 20000) {
        float x = random.Range(minX - 150, maxX + 150), z = random.Range(minZ - 150, maxZ + 150);
        float d = index.Nearest(x, z);
        if (d < 60 || d > 220) continue;
        // Woods rather than an even scatter.
        if (TiledNoise(x * 0.006f, z * 0.006f, 64, 11) < 0.45f) continue;
        bool crowded = false;
        for (Vec2 p : placed)
            if (std::hypot(p.x - x, p.y - z) < 14) crowded = true;
        if (crowded) continue;
        placed.push_back({x, z});
        float ground = TerrainHeight(line, index, x, z, nullptr) - 0.3f;
        float size = random.Range(0.8f, 1.4f);
        float trunkH = 5 * size, r = 0.7f * size;
        Vec3 base{x, ground, z};
        // Trunk: six flat sides.
        for (int s = 0; s < 6; ++s) {
            float a0 = s * kPi / 3, a1 = (s + 1) * kPi / 3;
            Vec3 p0{base.x + r * std::cos(a0), base.y, base.z + r * std::sin(a0)};
            Vec3 p1{base.x + r * std::cos(a1), base.y, base.z + r * std::sin(a1)};
            Vec3 q0{p0.x, base.y + trunkH, p0.z}, q1{p1.x, base.y + trunkH, p1.z};
            b.FlatQuad(q0, q1, p1, p0, {s / 6.0f, 0}, {s / 6.0f + 1 / 6.0f, 0}, {s / 6.0f + 1 / 6.0f, 1}, {s / 6.0f, 1}, kBark);
        }
        // Leaves: two cones, smooth sides.
        for (int layer = 0; layer < 2; ++layer) {
            float bottom = base.y + trunkH * (0.55f + 0.45f * layer), radius = (5.5f - 1.5f * layer) * size;
            float top = bottom + (9.0f - 2.0f * layer) * size;
            uint32_t apex = b.Vertex({base.x, top, base.z}, {0, 1, 0}, {0.5f, 0.02f});
            uint32_t ring[8];
            for (int s = 0; s < 8; ++s) {
                float a = s * kPi / 4;
                Vec3 p{base.x + radius * std::cos(a), bottom, base.z + radius * std::sin(a)};
                ring[s] = b.Vertex(p, {std::cos(a), radius / (top - bottom), std::sin(a)}, {s / 8.0f, 1.0f});
            }
            for (int s = 0; s < 8; ++s) b.Face({apex, ring[(s + 1) % 8], ring[s]}, kLeaves);
        }
    }
}

// The start gantry and a grandstand, modelled along +x (the direction of
// travel) from the start line and placed by a rotation and translation.
void BuildStartArea(const CentreLine& line, MeshBuilder& b) {
    const size_t at = kStartLineSample;
    float h = line.heights[at];
    Vec2 p = line.points[at], t = line.tangents[at];
    // Rows: local x -> along the road, local y -> up, local z -> left normal.
    b.place = {t.x, 0, t.y, 0, 0, 1, 0, 0, -t.y, 0, t.x, 0, p.x, h, p.y, 1};
    // Local frame: x along the road, z to the left (+z is the left normal),
    // y up; origin on the centre line at the start line.
    auto box = [&](float x0, float x1, float y0, float y1, float z0, float z1, uint32_t material, float uRepeat) {
        Vec3 p[8];
        for (int i = 0; i < 8; ++i) p[i] = {i & 1 ? x1 : x0, i & 2 ? y1 : y0, i & 4 ? z1 : z0};
        auto q = [&](int a, int bb, int c, int d) {
            b.FlatQuad(p[a], p[bb], p[c], p[d], {0, 0}, {uRepeat, 0}, {uRepeat, 1}, {0, 1}, material);
        };
        q(2, 3, 1, 0);  // -z face
        q(7, 6, 4, 5);  // +z face
        q(6, 2, 0, 4);  // -x face
        q(3, 7, 5, 1);  // +x face
        q(6, 7, 3, 2);  // top
    };
    // Gantry: two posts beside the road and a beam across, above the height
    // that any ground probe looks.
    box(-0.6f, 0.6f, -1.0f, 22.0f, 10.5f, 11.7f, kSteel, 1);
    box(-0.6f, 0.6f, -1.0f, 22.0f, -11.7f, -10.5f, kSteel, 1);
    box(-0.5f, 0.5f, 18.0f, 21.5f, -11.7f, 11.7f, kSteel, 1);
    // Banner on both faces of the beam.
    b.FlatQuad({-0.55f, 21.3f, 11.0f}, {-0.55f, 21.3f, -11.0f}, {-0.55f, 18.2f, -11.0f}, {-0.55f, 18.2f, 11.0f},
               {0, 0}, {1, 0}, {1, 1}, {0, 1}, kBanner);
    b.FlatQuad({0.55f, 21.3f, -11.0f}, {0.55f, 21.3f, 11.0f}, {0.55f, 18.2f, 11.0f}, {0.55f, 18.2f, -11.0f},
               {0, 0}, {1, 0}, {1, 1}, {0, 1}, kBanner);
    // Grandstand on the right of the straight, behind the billboards: rows
    // of steps rising away from the road, under a roof on posts.
    for (int row = 0; row < 8; ++row) {
        float z0 = -(42.0f + row * 2.2f), z1 = z0 - 2.2f;
        box(-70.0f, 70.0f, -2.0f, 0.6f + row * 1.2f, z1, z0, kSeats, 14);
    }
    for (float x = -66.0f; x <= 66.0f; x += 33.0f) box(x - 0.4f, x + 0.4f, -2.0f, 16.0f, -61.8f, -61.0f, kSteel, 1);
    box(-72.0f, 72.0f, 16.0f, 16.6f, -64.0f, -38.0f, kRoof, 1);
    b.place = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}
}  // namespace

XFile BuildCourse(const CentreLine& line) {
    SegmentIndex index(line);
    XFile file;
    file.materials = CourseMaterials();

    // One mesh: the program probes the road by attribute group, and only a
    // mesh built in one piece comes with the attribute table that needs.
    MeshBuilder b("Ground", Names(kGrass, kRoof));
    BuildRibbon(line, b);
    BuildTrackside(line, b);
    BuildTerrain(line, index, b);
    BuildTrees(line, index, b);
    BuildStartArea(line, b);

    // Stored around the start line and put in place by the frame, which
    // keeps the numbers in the file short.
    const Vec3 origin{kStartX, 0, kStartZ};
    for (Vec3& p : b.mesh.positions) p.x -= origin.x, p.z -= origin.z;
    XFrame course;
    course.name = "Course";
    course.transform[12] = origin.x, course.transform[13] = origin.y, course.transform[14] = origin.z;
    course.meshes.push_back(std::move(b.mesh));
    file.frames.push_back(std::move(course));
    return file;
}

}  // namespace assets
