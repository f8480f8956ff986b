// What one draw or clear reads from the device. The device gathers it from
// its state and resources and hands it to the renderer; the views point into
// the device's own memory and are valid for that one call.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

// One mip level of a texture, a render target or a depth buffer.
struct SurfaceView {
    D3DFORMAT format = D3DFMT_UNKNOWN;
    UINT width = 0;
    UINT height = 0;
    INT pitch = 0;  // bytes from one row (of 4x4 blocks for DXT formats) to the next
    BYTE* bits = nullptr;
};

constexpr UINT kMaxTextureLevels = 16;

// A bound texture: its levels from the largest down. Cube and volume
// textures show their first face or slice. levelCount 0: nothing bound.
struct TextureView {
    D3DRESOURCETYPE type = D3DRTYPE_TEXTURE;
    UINT levelCount = 0;
    SurfaceView levels[kMaxTextureLevels];
};

// Where a view's bytes come from, for the renderer to keep what it derives
// from them across draws: a buffer's id and change count, both non-zero only
// while the bytes stay as they are under that pair (not for user memory, nor
// for a buffer locked for writing).
struct BufferVersion {
    uint64_t id = 0;
    uint64_t changes = 0;
    bool Known() const { return id != 0 && changes != 0; }
};

// Vertex bytes of stream 0, already advanced by the stream offset; `size`
// bytes may be read from `bytes`.
struct VertexStreamView {
    VertexStreamView(const BYTE* bytes_ = nullptr, UINT size_ = 0, UINT stride_ = 0, BufferVersion source_ = {},
                     UINT offset_ = 0)
        : bytes(bytes_), size(size_), stride(stride_), source(source_), offset(offset_) {}
    const BYTE* bytes = nullptr;
    UINT size = 0;
    UINT stride = 0;
    BufferVersion source;
    UINT offset = 0;  // the stream offset into the buffer
};

// Index bytes; `size` bytes may be read from `bytes`.
struct IndexView {
    IndexView(const void* bytes_ = nullptr, UINT size_ = 0, D3DFORMAT format_ = D3DFMT_INDEX16, BufferVersion source_ = {})
        : bytes(bytes_), size(size_), format(format_), source(source_) {}
    const void* bytes = nullptr;
    UINT size = 0;
    D3DFORMAT format = D3DFMT_INDEX16;
    BufferVersion source;
};

constexpr UINT kMaxActiveLights = 8;
constexpr UINT kTextureStages = 8;

struct DrawState {
    DWORD renderStates[D3DRS_STATE_COUNT] = {};
    DWORD stageStates[kTextureStages][D3DTSS_STATE_COUNT] = {};
    DWORD samplerStates[kTextureStages][D3DSAMP_STATE_COUNT] = {};
    D3DMATRIX world{}, view{}, projection{};
    D3DMATERIAL9 material{};
    // The enabled lights in index order.
    D3DLIGHT9 lights[kMaxActiveLights]{};
    UINT lightCount = 0;
    D3DVIEWPORT9 viewport{};
    TextureView textures[kTextureStages];
    // The vertex layout (from the declaration, or made from the FVF), ended
    // by an element with Stream 0xFF. A POSITIONT element means the vertices
    // are already transformed.
    D3DVERTEXELEMENT9 elements[MAXD3DDECLLENGTH + 1]{};
    UINT elementCount = 0;  // without the end marker
    VertexStreamView stream0;
    IndexView indices;
    SurfaceView target;  // D3DFMT_R5G6B5 or D3DFMT_X8R8G8B8
    SurfaceView depth;   // D3DFMT_D16; bits null when there is no depth buffer
};
