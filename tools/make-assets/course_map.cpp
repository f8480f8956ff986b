#include "course_map.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_map>

#include "image.h"
#include "image_writers.h"

namespace assets {

namespace {
void FlattenFrame(const XFrame& frame, const std::array<float, 16>& parent, unsigned& materialBase,
                  std::vector<WorldTriangle>& out) {
    // Row vectors: world = local x frame x parent.
    std::array<float, 16> m{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            for (int k = 0; k < 4; ++k) m[r * 4 + c] += frame.transform[r * 4 + k] * parent[k * 4 + c];
    auto apply = [&](Vec3 v) {
        return Vec3{v.x * m[0] + v.y * m[4] + v.z * m[8] + m[12], v.x * m[1] + v.y * m[5] + v.z * m[9] + m[13],
                    v.x * m[2] + v.y * m[6] + v.z * m[10] + m[14]};
    };
    for (const XMesh& mesh : frame.meshes) {
        for (size_t f = 0; f < mesh.faces.size(); ++f) {
            const auto& face = mesh.faces[f];
            for (size_t k = 1; k + 1 < face.size(); ++k)
                out.push_back({{apply(mesh.positions[face[0]]), apply(mesh.positions[face[k]]),
                                apply(mesh.positions[face[k + 1]])},
                               materialBase + mesh.faceMaterials[f]});
        }
        materialBase += unsigned(mesh.materials.size());
    }
    for (const XFrame& child : frame.children) FlattenFrame(child, m, materialBase, out);
}

// Signed area test for points seen from above (x, z).
float Orient(Vec3 a, Vec3 b, Vec3 c) { return (b.x - a.x) * (c.z - a.z) - (b.z - a.z) * (c.x - a.x); }

// Whether two triangles' interiors overlap seen from above: separating axis
// over their edges, shrunk by a small margin so shared edges do not count.
bool OverlapFromAbove(const WorldTriangle& a, const WorldTriangle& b) {
    const WorldTriangle* t[2] = {&a, &b};
    for (int s = 0; s < 2; ++s)
        for (int e = 0; e < 3; ++e) {
            Vec3 p = t[s]->p[e], q = t[s]->p[(e + 1) % 3];
            float nx = -(q.z - p.z), nz = q.x - p.x, len = std::hypot(nx, nz);
            if (len == 0) continue;
            nx /= len, nz /= len;
            float minA = 1e30f, maxA = -1e30f, minB = 1e30f, maxB = -1e30f;
            for (int k = 0; k < 3; ++k) {
                float va = t[0]->p[k].x * nx + t[0]->p[k].z * nz, vb = t[1]->p[k].x * nx + t[1]->p[k].z * nz;
                minA = std::min(minA, va), maxA = std::max(maxA, va), minB = std::min(minB, vb), maxB = std::max(maxB, vb);
            }
            if (maxA <= minB + 0.01f || maxB <= minA + 0.01f) return false;
        }
    return true;
}

Rgba MaterialColour(unsigned m) {
    static const Rgba colours[] = {
        {78, 122, 48, 255},   {176, 164, 136, 255}, {132, 122, 110, 255}, {214, 192, 144, 255},
        {220, 60, 50, 255},   {87, 143, 61, 255},   {170, 170, 172, 255}, {82, 130, 52, 255},
        {180, 152, 78, 255},  {107, 107, 112, 255}, {30, 30, 32, 255},    {200, 200, 206, 255},
        {40, 90, 190, 255},   {70, 70, 74, 255},    {50, 50, 54, 255},    {96, 70, 44, 255},
        {40, 86, 34, 255},    {140, 146, 158, 255}, {240, 200, 40, 255},  {60, 90, 170, 255},
        {200, 204, 214, 255},
    };
    return m < sizeof colours / sizeof colours[0] ? colours[m] : Rgba{255, 0, 255, 255};
}
}  // namespace

std::vector<WorldTriangle> Flatten(const XFile& file) {
    std::vector<WorldTriangle> out;
    unsigned base = 0;
    const std::array<float, 16> identity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (const XFrame& frame : file.frames) FlattenFrame(frame, identity, base, out);
    return out;
}

size_t CountFacesOverRoad(const std::vector<WorldTriangle>& triangles, unsigned road, float band) {
    const float cell = 16;
    auto key = [](int x, int z) { return (uint64_t(uint32_t(x)) << 32) | uint32_t(z); };
    std::unordered_map<uint64_t, std::vector<size_t>> roadCells;
    for (size_t i = 0; i < triangles.size(); ++i) {
        if (triangles[i].material != road) continue;
        const auto& t = triangles[i];
        int x0 = int(std::floor(std::min({t.p[0].x, t.p[1].x, t.p[2].x}) / cell));
        int x1 = int(std::floor(std::max({t.p[0].x, t.p[1].x, t.p[2].x}) / cell));
        int z0 = int(std::floor(std::min({t.p[0].z, t.p[1].z, t.p[2].z}) / cell));
        int z1 = int(std::floor(std::max({t.p[0].z, t.p[1].z, t.p[2].z}) / cell));
        for (int x = x0; x <= x1; ++x)
            for (int z = z0; z <= z1; ++z) roadCells[key(x, z)].push_back(i);
    }
    size_t count = 0;
    for (const WorldTriangle& t : triangles) {
        if (t.material == road) continue;
        int x0 = int(std::floor(std::min({t.p[0].x, t.p[1].x, t.p[2].x}) / cell));
        int x1 = int(std::floor(std::max({t.p[0].x, t.p[1].x, t.p[2].x}) / cell));
        int z0 = int(std::floor(std::min({t.p[0].z, t.p[1].z, t.p[2].z}) / cell));
        int z1 = int(std::floor(std::max({t.p[0].z, t.p[1].z, t.p[2].z}) / cell));
        bool hit = false;
        for (int x = x0; x <= x1 && !hit; ++x)
            for (int z = z0; z <= z1 && !hit; ++z) {
                auto it = roadCells.find(key(x, z));
                if (it == roadCells.end()) continue;
                for (size_t r : it->second) {
                    const WorldTriangle& face = triangles[r];
                    float lo = std::min({t.p[0].y, t.p[1].y, t.p[2].y}), hi = std::max({t.p[0].y, t.p[1].y, t.p[2].y});
                    float roadY = (face.p[0].y + face.p[1].y + face.p[2].y) / 3;
                    // A lower material wins the probe at any height.
                    if (t.material > road && (hi < roadY - band || lo > roadY + band)) continue;
                    if (OverlapFromAbove(t, face)) {
                        hit = true;
                        break;
                    }
                }
            }
        count += hit;
    }
    return count;
}

bool WriteCourseMap(const std::string& path, const CentreLine& line, const std::vector<WorldTriangle>& triangles) {
    float minX = 1e30f, maxX = -1e30f, minZ = 1e30f, maxZ = -1e30f;
    for (const auto& t : triangles)
        for (const Vec3& p : t.p)
            minX = std::min(minX, p.x), maxX = std::max(maxX, p.x), minZ = std::min(minZ, p.z), maxZ = std::max(maxZ, p.z);
    const float scale = 0.5f;  // pixels per unit
    int w = int((maxX - minX) * scale) + 1, h = int((maxZ - minZ) * scale) + 1;
    // Filled with the grass colour, so the seams between triangles do not show.
    Image map(w, h, MaterialColour(0));
    // North (+z) up.
    auto px = [&](float x) { return (x - minX) * scale; };
    auto py = [&](float z) { return (maxZ - z) * scale; };
    // Lowest first, so what stands higher covers it.
    std::vector<size_t> order(triangles.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        auto top = [&](size_t i) { return std::max({triangles[i].p[0].y, triangles[i].p[1].y, triangles[i].p[2].y}); };
        return top(a) < top(b);
    });
    for (size_t i : order) {
        const auto& t = triangles[i];
        if (Orient(t.p[0], t.p[1], t.p[2]) == 0) continue;
        float xy[6] = {px(t.p[0].x), py(t.p[0].z), px(t.p[1].x), py(t.p[1].z), px(t.p[2].x), py(t.p[2].z)};
        Rgba c = MaterialColour(t.material);
        // Shade by height so the hills read.
        float height = (t.p[0].y + t.p[1].y + t.p[2].y) / 3;
        float k = std::clamp(0.8f + height * 0.006f, 0.55f, 1.2f);
        c = {uint8_t(std::min(255.0f, c.r * k)), uint8_t(std::min(255.0f, c.g * k)), uint8_t(std::min(255.0f, c.b * k)), 255};
        FillPolygon(map, xy, 3, c);
    }
    size_t n = line.points.size();
    for (size_t i = 0; i < n; ++i) {
        Vec2 a = line.points[i], b = line.points[(i + 1) % n];
        DrawLine(map, px(a.x), py(a.y), px(b.x), py(b.y), 1.2f, {255, 255, 0, 255});
    }
    // The start pose: a dot and an arrow along the heading.
    float sx = px(kStartX), sy = py(kStartZ);
    float fx = -std::sin(kStartHeading), fz = -std::cos(kStartHeading);
    FillDisc(map, sx, sy, 5, {255, 0, 255, 255});
    DrawLine(map, sx, sy, sx + fx * 40 * scale * 2, sy - fz * 40 * scale * 2, 3, {255, 0, 255, 255});
    return WritePng(path, map, false);
}

}  // namespace assets
