// The software device's back end: clears and draws into the surfaces a
// DrawState names, following the fixed-function semantics of Direct3D 9.
// The device validates every call before it gets here; the renderer still
// never reads a vertex or an index outside the views it is given.
#pragma once

#include <memory>

#include "platform/d3d9/render/draw_state.h"

class Renderer {
public:
    Renderer();
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Fills the rectangles (all of the viewport when count is 0) of the
    // target and/or the depth buffer.
    void Clear(const DrawState& state, DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
               DWORD stencil);
    // Primitives from consecutive vertices of stream 0, from startVertex on.
    void DrawPrimitive(const DrawState& state, D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount);
    // Primitives from the indices, from startIndex on; each index is offset
    // by baseVertexIndex.
    void DrawIndexedPrimitive(const DrawState& state, D3DPRIMITIVETYPE type, INT baseVertexIndex,
                              UINT minVertexIndex, UINT numVertices, UINT startIndex, UINT primitiveCount);

    // With more than one worker thread, small draws may wait, set up, to be
    // drawn together with the ones after them, spread over the workers:
    // each pixel is still drawn by one thread, in draw order. Flush draws
    // what waits; Clear and any large draw flush first. Off by default.
    // A caller that turns it on must flush before it reads or changes the
    // memory of any target, depth buffer or texture a draw has named, or
    // frees it.
    void SetDeferSmallDraws(bool on);
    void Flush();

    // Pixels covered by the triangles drawn so far (whether or not they
    // passed the depth test), for measurements.
    uint64_t CoveredPixels() const;
    // Triangles left out, summed over draws, because their block's box lay
    // outside the view volume.
    uint64_t SkippedTriangles() const;

    // Turns the leaving out of unseen blocks of large indexed draws on or
    // off for every renderer, for tests to draw a reference without it;
    // returns the previous setting.
    static bool SetBlockCullingForTesting(bool on);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
