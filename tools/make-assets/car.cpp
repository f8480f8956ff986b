#include "car.h"

#include <algorithm>
#include <cmath>

namespace assets {

namespace {
constexpr float kPi = 3.14159265358979f;

XMaterial Mat(const char* name, float r, float g, float b, float a, float emissive, float power = 20,
              const char* texture = nullptr) {
    XMaterial m;
    m.name = name;
    m.diffuse[0] = r, m.diffuse[1] = g, m.diffuse[2] = b, m.diffuse[3] = a;
    m.power = power;
    m.specular[0] = m.specular[1] = m.specular[2] = 0.6f;
    m.emissive[0] = r * emissive, m.emissive[1] = g * emissive, m.emissive[2] = b * emissive;
    if (texture) m.texture = texture;
    return m;
}

Vec3 Sub(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
Vec3 Unit(Vec3 v) {
    float l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return l > 0 ? Vec3{v.x / l, v.y / l, v.z / l} : Vec3{0, 1, 0};
}

struct Builder {
    XMesh mesh;
    uint32_t Vertex(Vec3 p, Vec3 n, Vec2 uv = {}) {
        mesh.positions.push_back(p);
        mesh.normals.push_back(Unit(n));
        mesh.uvs.push_back(uv);
        return uint32_t(mesh.positions.size() - 1);
    }
    void Face(std::vector<uint32_t> f, uint32_t material) {
        mesh.faces.push_back(f);
        mesh.normalFaces.push_back(f);
        mesh.faceMaterials.push_back(material);
    }
    // A flat polygon (clockwise seen from the front) with its own vertices.
    void Flat(const std::vector<Vec3>& corners, uint32_t material) {
        // Newell's normal: robust when neighbouring corners are nearly in line.
        Vec3 n{0, 0, 0};
        for (size_t i = 0; i < corners.size(); ++i) {
            const Vec3 &p = corners[i], &q = corners[(i + 1) % corners.size()];
            n.x += (p.y - q.y) * (p.z + q.z), n.y += (p.z - q.z) * (p.x + q.x), n.z += (p.x - q.x) * (p.y + q.y);
        }
        n = Unit(n);
        std::vector<uint32_t> f;
        for (const Vec3& c : corners) f.push_back(Vertex(c, n, {c.x / 20, c.z / 20}));
        Face(f, material);
    }
};

// Body sections along the car, front (z = -22.5) to back (z = +22.5): half
// width, sill height, shoulder height, and the roof or deck height.
struct Section {
    float z, halfWidth, sill, shoulder, top;
};
const Section kSections[] = {
    {-22.5f, 7.6f, 1.6f, 3.0f, 3.6f}, {-21.0f, 8.5f, 1.3f, 4.0f, 4.6f}, {-17.0f, 8.9f, 1.2f, 5.0f, 5.4f},
    {-12.0f, 9.0f, 1.2f, 5.5f, 6.0f}, {-7.0f, 9.0f, 1.2f, 5.8f, 6.3f},  {-2.0f, 9.0f, 1.2f, 6.0f, 6.5f},
    {3.0f, 9.0f, 1.2f, 6.1f, 6.6f},   {8.0f, 9.0f, 1.2f, 6.3f, 6.9f},   {13.0f, 9.0f, 1.3f, 6.6f, 7.3f},
    {18.0f, 8.8f, 1.5f, 6.8f, 7.5f},  {21.5f, 8.3f, 2.0f, 6.6f, 7.2f},  {22.5f, 7.8f, 2.4f, 6.0f, 6.6f},
};

// The glasshouse: its base sits on the shoulder line; front pillar foot,
// windscreen top, rear window top, rear foot along z.
constexpr float kScreenFoot = -6.0f, kRoofFront = 0.5f, kRoofBack = 8.0f, kRearFoot = 15.0f;
constexpr float kRoofHeight = 12.6f, kRoofHalfWidth = 6.4f;

float ShoulderAt(float z) {
    const size_t n = sizeof kSections / sizeof kSections[0];
    for (size_t i = 0; i + 1 < n; ++i)
        if (z <= kSections[i + 1].z) {
            float t = (z - kSections[i].z) / (kSections[i + 1].z - kSections[i].z);
            return kSections[i].top + (kSections[i + 1].top - kSections[i].top) * t;
        }
    return kSections[n - 1].top;
}

XMesh Body() {
    Builder b;
    b.mesh.name = "Body";
    b.mesh.materials = {"Paint", "Glass", "Trim", "Headlight", "Taillight"};
    enum { kPaint, kGlass, kTrim, kHead, kTail };
    const size_t n = sizeof kSections / sizeof kSections[0];
    // Each section's outline from the left sill over the top to the right
    // sill: 7 points, the top ones rounded.
    auto outline = [](const Section& s, int k) -> Vec3 {
        const float w = s.halfWidth;
        switch (k) {
            case 0: return {-w + 0.6f, s.sill, s.z};
            case 1: return {-w, s.sill + 1.2f, s.z};
            case 2: return {-w, s.shoulder, s.z};
            case 3: return {-w * 0.6f, s.top, s.z};
            case 4: return {w * 0.6f, s.top, s.z};
            case 5: return {w, s.shoulder, s.z};
            default: return {w, s.sill + 1.2f, s.z};
        }
    };
    const int points = 8;
    auto at = [&](size_t i, int k) {
        if (k == 7) {
            Vec3 p = outline(kSections[i], 0);
            return Vec3{-p.x, p.y, p.z};
        }
        return outline(kSections[i], k);
    };
    // Smooth skin: normals from neighbouring points around and along.
    std::vector<std::vector<uint32_t>> ids(n, std::vector<uint32_t>(points));
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < points; ++k) {
            Vec3 around = Sub(at(i, std::min(k + 1, points - 1)), at(i, std::max(k - 1, 0)));
            Vec3 along = Sub(at(std::min(i + 1, n - 1), k), at(i > 0 ? i - 1 : 0, k));
            Vec3 normal = Cross(along, around);
            if (k == 0 || k == 7) normal = {k == 0 ? -0.3f : 0.3f, -1, 0};
            ids[i][k] = b.Vertex(at(i, k), normal, {float(k) / 7, float(i) / float(n - 1)});
        }
    for (size_t i = 0; i + 1 < n; ++i)
        for (int k = 0; k + 1 < points; ++k) {
            // Lights: the top band at the very front and back.
            uint32_t material = kPaint;
            if (k == 1 && i == 0) material = kHead;
            if (k == 5 && i == 0) material = kHead;
            if ((k == 1 || k == 5) && i == n - 2) material = kTail;
            if (k == 0 || k == 6) material = kTrim;
            b.Face({ids[i][k], ids[i + 1][k], ids[i + 1][k + 1], ids[i][k + 1]}, material);
        }
    // Nose and tail caps, flat, with the lamps as separate panels.
    std::vector<Vec3> nose, tail;
    // Clockwise as seen from in front of the nose and from behind the tail.
    for (int k = 0; k < points; ++k) nose.push_back(at(0, k));
    for (int k = points - 1; k >= 0; --k) tail.push_back(at(n - 1, k));
    b.Flat(nose, kTrim);
    b.Flat(tail, kPaint);
    // Head- and tail-lamp panels just proud of the caps.
    for (float side : {-1.0f, 1.0f}) {
        float x0 = side * 2.8f, x1 = side * 6.6f;
        if (side < 0) std::swap(x0, x1);
        b.Flat({{x0, 3.4f, -22.6f}, {x1, 3.4f, -22.6f}, {x1, 2.4f, -22.6f}, {x0, 2.4f, -22.6f}}, kHead);
        b.Flat({{x1, 5.6f, 22.6f}, {x0, 5.6f, 22.6f}, {x0, 4.6f, 22.6f}, {x1, 4.6f, 22.6f}}, kTail);
    }
    // Glasshouse: windscreen, roof, rear window and two side windows, each
    // a flat panel (hard edges between them).
    float wBase = 8.2f;
    Vec3 fl{-wBase, ShoulderAt(kScreenFoot), kScreenFoot}, fr{wBase, ShoulderAt(kScreenFoot), kScreenFoot};
    Vec3 tl{-kRoofHalfWidth, kRoofHeight, kRoofFront}, tr{kRoofHalfWidth, kRoofHeight, kRoofFront};
    Vec3 bl{-kRoofHalfWidth, kRoofHeight - 0.3f, kRoofBack}, br{kRoofHalfWidth, kRoofHeight - 0.3f, kRoofBack};
    Vec3 rl{-wBase, ShoulderAt(kRearFoot), kRearFoot}, rr{wBase, ShoulderAt(kRearFoot), kRearFoot};
    b.Flat({tl, tr, fr, fl}, kGlass);               // windscreen
    b.Flat({bl, br, tr, tl}, kPaint);               // roof
    b.Flat({rl, rr, br, bl}, kGlass);               // rear window
    b.Flat({tl, fl, rl, bl}, kGlass);               // left side window
    b.Flat({br, rr, fr, tr}, kGlass);               // right side window
    // Floor pan.
    b.Flat({at(0, 7), at(n - 1, 7), at(n - 1, 0), at(0, 0)}, kTrim);
    return b.mesh;
}

// One wheel: a tyre (cylinder with flat sides) and a rim disc on the
// outer face; modelled at the origin with its axle along x.
XMesh Wheel(const char* name, float outward) {
    Builder b;
    b.mesh.name = name;
    b.mesh.materials = {"Tyre", "Rim"};
    const int sides = 16;
    const float radius = 3.3f, half = 1.3f, rimRadius = 2.1f;
    std::vector<uint32_t> inner, outer;
    for (int s = 0; s < sides; ++s) {
        float a0 = s * 2 * kPi / sides, a1 = (s + 1) * 2 * kPi / sides;
        Vec3 n0{0, std::cos(a0), std::sin(a0)}, n1{0, std::cos(a1), std::sin(a1)};
        uint32_t p = b.Vertex({-half, radius * n0.y, radius * n0.z}, n0), q = b.Vertex({half, radius * n0.y, radius * n0.z}, n0);
        uint32_t r = b.Vertex({half, radius * n1.y, radius * n1.z}, n1), t = b.Vertex({-half, radius * n1.y, radius * n1.z}, n1);
        b.Face({p, t, r, q}, 0);
    }
    // Flat side walls: the outer one carries the rim.
    for (float side : {-1.0f, 1.0f}) {
        bool isOuter = side * outward > 0;
        std::vector<Vec3> ring, rim;
        for (int s = 0; s < sides; ++s) {
            float a = (side > 0 ? s : sides - s) * 2 * kPi / sides;
            ring.push_back({side * half, radius * std::cos(a), radius * std::sin(a)});
            rim.push_back({side * (half + 0.05f), rimRadius * std::cos(a), rimRadius * std::sin(a)});
        }
        b.Flat(ring, 0);
        if (isOuter) b.Flat(rim, 1);
    }
    return b.mesh;
}

XFrame Placed(const char* name, float x, float y, float z, XMesh mesh) {
    XFrame f;
    f.name = name;
    f.transform[12] = x, f.transform[13] = y, f.transform[14] = z;
    f.meshes.push_back(std::move(mesh));
    return f;
}
}  // namespace

XFile BuildCar() {
    XFile file;
    file.materials = {
        Mat("Paint", 0.86f, 0.08f, 0.06f, 1, 0.25f, 40), Mat("Glass", 0.12f, 0.16f, 0.22f, 1, 0.1f, 60),
        Mat("Trim", 0.08f, 0.08f, 0.09f, 1, 0.1f),       Mat("Headlight", 1.0f, 0.97f, 0.85f, 1, 0.9f),
        Mat("Taillight", 0.9f, 0.05f, 0.05f, 1, 0.7f),   Mat("Tyre", 0.06f, 0.06f, 0.06f, 1, 0.05f, 5),
        Mat("Rim", 0.75f, 0.76f, 0.8f, 1, 0.3f, 60),
    };
    XFrame car;
    car.name = "Car";
    car.meshes.push_back(Body());
    const float wheelX = 7.7f, wheelY = 3.3f, front = -14.0f, back = 14.5f;
    car.children.push_back(Placed("WheelFL", -wheelX, wheelY, front, Wheel("TyreFL", -1)));
    car.children.push_back(Placed("WheelFR", wheelX, wheelY, front, Wheel("TyreFR", 1)));
    car.children.push_back(Placed("WheelRL", -wheelX, wheelY, back, Wheel("TyreRL", -1)));
    car.children.push_back(Placed("WheelRR", wheelX, wheelY, back, Wheel("TyreRR", 1)));
    file.frames.push_back(std::move(car));
    return file;
}

XFile BuildMarker(bool right) {
    XFile file;
    file.materials = {Mat("Post", 0.9f, 0.9f, 0.9f, 1, 0.3f), Mat("Chevron", 0.95f, 0.75f, 0.05f, 1, 0.4f),
                      Mat("Arrow", 0.05f, 0.05f, 0.05f, 1, 0.1f)};
    Builder b;
    b.mesh.name = right ? "ChevronRight" : "ChevronLeft";
    b.mesh.materials = {"Post", "Chevron", "Arrow"};
    b.Flat({{-0.15f, 3.0f, 0}, {0.15f, 3.0f, 0}, {0.15f, 0, 0}, {-0.15f, 0, 0}}, 0);
    b.Flat({{-1.2f, 3.6f, -0.01f}, {1.2f, 3.6f, -0.01f}, {1.2f, 2.4f, -0.01f}, {-1.2f, 2.4f, -0.01f}}, 1);
    float s = right ? 1.0f : -1.0f;
    // The notch first, so the fan of the concave chevron stays inside it.
    Vec3 notch{-0.1f * s, 3.0f, -0.02f}, upper{-0.5f * s, 3.4f, -0.02f};
    Vec3 tip{0.6f * s, 3.0f, -0.02f}, lower{-0.5f * s, 2.6f, -0.02f};
    std::vector<Vec3> arrow = right ? std::vector<Vec3>{notch, upper, tip, lower} : std::vector<Vec3>{notch, lower, tip, upper};
    b.Flat(arrow, 2);
    XFrame f;
    f.name = "Marker";
    f.meshes.push_back(std::move(b.mesh));
    file.frames.push_back(std::move(f));
    return file;
}

}  // namespace assets
