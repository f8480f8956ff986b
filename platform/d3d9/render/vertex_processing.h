// The front of the pipeline: reading vertices through the vertex layout,
// the world, view and projection transforms, lighting with material colour
// sources, vertex fog, texture coordinates, outcodes for clipping and the
// viewport mapping. Pre-transformed vertices pass through with their
// colours as given.
#pragma once

#include <cstdint>

#include "platform/d3d9/render/pixel_state.h"

namespace render {

// Outcodes of a clip-space position.
enum : uint32_t {
    kOutLeft = 1u << 0,  // x < -w: outside the view volume (used to reject)
    kOutRight = 1u << 1,
    kOutBottom = 1u << 2,
    kOutTop = 1u << 3,
    kOutNear = 1u << 4,  // z < 0
    kOutFar = 1u << 5,   // z > w
    kGuardLeft = 1u << 6,  // beyond the guard band: must be clipped
    kGuardRight = 1u << 7,
    kGuardBottom = 1u << 8,
    kGuardTop = 1u << 9,
    kBehind = 1u << 10,  // w too small to divide by
    kInvalid = 1u << 15,  // unreadable or not finite: triangles using it are dropped
    kRejectMask = kOutLeft | kOutRight | kOutBottom | kOutTop | kOutNear | kOutFar,
    kClipMask = kOutNear | kOutFar | kGuardLeft | kGuardRight | kGuardBottom | kGuardTop | kBehind,
};

// The smallest w a vertex may keep; below it the triangle is clipped there.
constexpr float kMinW = 1e-9f;
// Pre-transformed positions must lie within this many pixels of the origin.
constexpr float kMaxScreenCoord = 4194304.0f;

struct VertexPos {
    float cx, cy, cz, cw;  // clip space (pre-transformed: x, y, z, 1/rhw)
    float sx, sy, sz, rhw;  // screen; valid when no kClipMask bit is set
    int32_t fx, fy;         // screen position in 1/256 pixel
    uint32_t clip;
    uint32_t pad;
};

// Turns a clip-space position (inside the guard band) into screen values.
struct ViewportMap {
    float x0, y0, halfWidth, halfHeight, minZ, depthRange;
    float guardX, guardY;  // |x| <= guardX * w, |y| <= guardY * w
    void Apply(VertexPos& p) const;
};

class VertexProcessor {
public:
    // Reads the layout and the transform, lighting and fog state. False when
    // the layout has no position.
    bool Prepare(const DrawState& state, const PixelState& ps);
    bool Transformed() const { return transformed_; }
    const ViewportMap& Viewport() const { return viewport_; }
    // The position element as Positions reads it: byte offset in the vertex
    // and D3DDECLTYPE.
    int PositionOffset() const { return position_.offset; }
    int PositionType() const { return position_.type; }
    // World x view x projection, the matrix untransformed positions go
    // through.
    const float (&Transform() const)[4][4] { return wvp_; }
    // Positions of `count` vertices: vertex numbers[k] of stream 0, or
    // first + k without numbers. Clip codes and screen positions only; the
    // colours, fog and texture coordinates come from Attributes, for the
    // vertices a visible triangle uses. The clip codes also go to
    // `clipCodes`, packed for assembly to scan.
    void Positions(const uint32_t* numbers, uint32_t first, uint32_t count, VertexPos* positions,
                   uint32_t* clipCodes) const;
    // The ps.varyingCount floats of vertex `number`, which Positions found
    // readable.
    void Attributes(uint32_t number, float* varyings) const;
    // Whether AttributesFour can take this draw's vertices.
    bool HasAttributesFour() const { return litFour_.on; }
    // Attributes of four vertices at once, the same values.
    void AttributesFour(const uint32_t number[4], float* const varyings[4]) const;

private:
    struct Element {
        int offset = -1;
        int type = 0;
    };
    struct Light {
        DWORD type;
        Color diffuse, specular, ambient;
        float position[3];   // camera space
        float direction[3];  // camera space, unit; for directional lights the vector towards the light
        float range, falloff, att0, att1, att2, cosHalfTheta, cosHalfPhi;
    };
    struct TexSource {
        int varying = -1;
        int element = -1;  // index into texcoord_
        DWORD generate = 0;
    };

    void PrepareTransforms(const DrawState& state);
    bool ReadElement(const BYTE* vertex, const Element& e, float out[4]) const;
    // ReadElement with the float types read in line.
    bool Read(const BYTE* vertex, const Element& e, float out[4]) const;
    void PositionOne(uint32_t number, VertexPos& pos) const;
    // PositionOne for four readable vertices with float3 positions; false
    // (nothing written) when a lane needs the one-vertex path.
    bool PositionFour(const uint32_t number[4], VertexPos* out, uint32_t* clipCodes) const;

    const DrawState* state_ = nullptr;
    const PixelState* ps_ = nullptr;
    bool transformed_ = false;
    UINT extent_ = 0;  // bytes from a vertex's start to the end of the last element read
    Element position_, normal_, color0_, color1_;
    Element texcoord_[8];
    TexSource tex_[kTextureStages];
    int texCount_ = 0;
    float wvp_[4][4], wv_[4][4], normal3_[3][3];
    bool lighting_ = false, specular_ = false, normalize_ = false, localViewer_ = true, colorVertex_ = true;
    DWORD diffuseSource_ = 0, specularSource_ = 0, ambientSource_ = 0, emissiveSource_ = 0;
    Color globalAmbient_{0, 0, 0, 0};
    float power_ = 0;
    Light lights_[kMaxActiveLights];
    int lightCount_ = 0;
    bool flat_ = false;
    // Vertex fog: 0 none, else a D3DFOGMODE; range fog uses the distance.
    DWORD vertexFog_ = 0;
    bool rangeFog_ = false;
    bool fogFromSpecularAlpha_ = false;
    float fogStart_ = 0, fogEnd_ = 1, fogDensity_ = 1;
    ViewportMap viewport_{};
    // The common lit case four vertices at a time: one directional light, no
    // specular, no vertex colours or fog, one read texture coordinate pair.
    struct LitFour {
        bool on = false;
        float base[3];  // emissive + ambient material times the ambient light
        float lightDiffuse[3];
        float alpha;
        int uvAt, uvOffset, fogAt;
    } litFour_;
    void PrepareLitFour();
};

// Reads a 32-bit float render state.
float StateFloat(DWORD bits);

}  // namespace render
