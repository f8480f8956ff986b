// Scenes, clearing, drawing and presenting: the device checks each call,
// gathers its state into a DrawState and hands it to the renderer.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/d3d9/debug_report.h"
#include "platform/d3d9/device.h"
#include "platform/shell/frame_sink.h"

namespace {

// Vertices a primitive count needs; 0 for an unknown primitive type.
std::uint64_t VerticesFor(D3DPRIMITIVETYPE type, UINT count) {
    const std::uint64_t n = count;
    switch (type) {
        case D3DPT_POINTLIST:
            return n;
        case D3DPT_LINELIST:
            return n * 2;
        case D3DPT_LINESTRIP:
            return n + 1;
        case D3DPT_TRIANGLELIST:
            return n * 3;
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN:
            return n + 2;
        default:
            return 0;
    }
}

// True when every index of the range, offset by `base`, names one of the
// first `vertexCount` vertices: the renderer never reads past them.
// The smallest and largest of `count` indices from `start` on; a loop
// without an early exit runs several indices a step.
void IndexRange(const void* bytes, D3DFORMAT format, UINT start, UINT count, DWORD& lo, DWORD& hi) {
    lo = 0xFFFFFFFFu, hi = 0;
    auto scan = [&](auto word) {
        using Word = decltype(word);
        const BYTE* p = static_cast<const BYTE*>(bytes) + size_t(start) * sizeof(Word);
        for (UINT i = 0; i < count; ++i) {
            Word w;
            std::memcpy(&w, p + size_t(i) * sizeof(Word), sizeof(Word));
            lo = std::min<DWORD>(lo, w), hi = std::max<DWORD>(hi, w);
        }
    };
    if (format == D3DFMT_INDEX32)
        scan(DWORD{});
    else
        scan(WORD{});
}

bool RangeWithin(DWORD lo, DWORD hi, std::int64_t base, std::uint64_t vertexCount) {
    return base + std::int64_t(lo) >= 0 && std::uint64_t(base + std::int64_t(hi)) < vertexCount;
}

bool IndicesWithin(const void* bytes, D3DFORMAT format, UINT start, UINT count, std::int64_t base,
                   std::uint64_t vertexCount) {
    if (count == 0) return true;
    DWORD lo, hi;
    IndexRange(bytes, format, start, count, lo, hi);
    return RangeWithin(lo, hi, base, vertexCount);
}

// Whole vertices of `extent` bytes at `stride` that fit in `size` bytes.
std::uint64_t VerticesIn(UINT size, UINT stride, UINT extent) {
    if (size < extent) return 0;
    return stride == 0 ? 1 : (std::uint64_t(size) - extent) / stride + 1;
}

}  // namespace

HRESULT Device::BeginScene() {
    if (inScene_) return InvalidCall("IDirect3DDevice9::BeginScene", "already inside a scene");
    inScene_ = true;
    return D3D_OK;
}

HRESULT Device::EndScene() {
    if (!inScene_) return InvalidCall("IDirect3DDevice9::EndScene", "not inside a scene");
    inScene_ = false;
    return D3D_OK;
}

void Device::FillDrawState() {
    DrawState& d = draw_;
    std::copy(std::begin(renderStates_), std::end(renderStates_), d.renderStates);
    for (UINT s = 0; s < kTextureStages; ++s) {
        std::copy(std::begin(stageStates_[s]), std::end(stageStates_[s]), d.stageStates[s]);
        std::copy(std::begin(samplerStates_[s]), std::end(samplerStates_[s]), d.samplerStates[s]);
        d.textures[s] = TextureView{};
        if (textures_[s]) textures_[s]->FillView(&d.textures[s]);
    }
    d.world = world_[0];
    d.view = view_;
    d.projection = projection_;
    d.material = material_;
    d.lightCount = 0;
    for (const auto& [index, slot] : lights_)
        if (slot.enabled && d.lightCount < kMaxActiveLights) d.lights[d.lightCount++] = slot.light;
    d.viewport = viewport_;
    d.target = backBuffer_->Pixels().View();
    d.depth = SurfaceView{};
    if (depthStencil_) {
        d.depth = depthStencil_->Pixels().View();
        d.depth.format = D3DFMT_D16;
    }
    d.elementCount = 0;
    d.elements[0] = D3DVERTEXELEMENT9 D3DDECL_END();
    d.stream0 = VertexStreamView{};
    d.indices = IndexView{};
}

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    static const char* method = "IDirect3DDevice9::Clear";
    constexpr DWORD known = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL;
    if (flags == 0 || (flags & ~known)) return InvalidCall(method, "no or unknown clear flags");
    if (count != 0 && !rects) return InvalidCall(method, "rectangle count without rectangles");
    if ((flags & D3DCLEAR_ZBUFFER) && !depthStencil_) return InvalidCall(method, "no depth buffer to clear");
    if (flags & D3DCLEAR_STENCIL) return InvalidCall(method, "the depth buffer has no stencil bits");
    if (!(z >= 0.0f && z <= 1.0f)) return InvalidCall(method, "depth outside [0, 1]");
    if (backBuffer_->IsLocked() || (depthStencil_ && depthStencil_->IsLocked()))
        return InvalidCall(method, "the render target or depth buffer is locked");
    FillDrawState();
    renderer_.Clear(draw_, rects ? count : 0, rects, flags, color, z, stencil);
    return D3D_OK;
}

HRESULT Device::PrepareDraw(const char* method, D3DPRIMITIVETYPE type, UINT primitiveCount, UINT stride,
                            UINT* vertexCount) {
    if (!inScene_) return InvalidCall(method, "drawing outside BeginScene and EndScene");
    const std::uint64_t vertices = VerticesFor(type, primitiveCount);
    if (vertices == 0 && primitiveCount != 0) return InvalidCall(method, "unknown primitive type");
    if (VerticesFor(type, 1) == 0) return InvalidCall(method, "unknown primitive type");
    if (primitiveCount > caps_.MaxPrimitiveCount) return InvalidCall(method, "too many primitives");
    if (backBuffer_->IsLocked() || (depthStencil_ && depthStencil_->IsLocked()))
        return InvalidCall(method, "the render target or depth buffer is locked");
    FillDrawState();
    if (declaration_) {
        draw_.elementCount = declaration_->Count();
        std::copy(declaration_->Elements(), declaration_->Elements() + declaration_->Count() + 1, draw_.elements);
    } else if (fvf_ != 0) {
        draw_.elementCount = FvfToElements(fvf_, draw_.elements);
    } else {
        return InvalidCall(method, "no vertex declaration or FVF set");
    }
    for (UINT i = 0; i < draw_.elementCount; ++i)
        if (draw_.elements[i].Stream != 0) return InvalidCall(method, "vertex elements outside stream 0");
    if (VertexExtent(draw_.elements, draw_.elementCount) > stride)
        return InvalidCall(method, "vertex stride smaller than the vertex layout");
    *vertexCount = UINT(vertices);
    return D3D_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    static const char* method = "IDirect3DDevice9::DrawPrimitive";
    if (!stream_) return InvalidCall(method, "no vertex buffer on stream 0");
    UINT vertices = 0;
    HRESULT hr = PrepareDraw(method, type, primitiveCount, streamStride_, &vertices);
    if (FAILED(hr)) return hr;
    const UINT available = stream_->Store().Setup().length - streamOffset_;
    const UINT extent = VertexExtent(draw_.elements, draw_.elementCount);
    if (vertices != 0 &&
        (std::uint64_t(startVertex) + vertices - 1) * streamStride_ + extent > available)
        return InvalidCall(method, "vertices past the end of the vertex buffer");
    if (primitiveCount == 0) return D3D_OK;
    draw_.stream0 = VertexStreamView{stream_->Store().Bytes() + streamOffset_, available, streamStride_,
                                     {stream_->Store().Id(), stream_->Store().Changes()}, streamOffset_};
    renderer_.DrawPrimitive(draw_, type, startVertex, primitiveCount);
    return D3D_OK;
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                     UINT numVertices, UINT startIndex, UINT primitiveCount) {
    static const char* method = "IDirect3DDevice9::DrawIndexedPrimitive";
    if (!stream_) return InvalidCall(method, "no vertex buffer on stream 0");
    if (!indices_) return InvalidCall(method, "no index buffer");
    UINT indexCount = 0;
    HRESULT hr = PrepareDraw(method, type, primitiveCount, streamStride_, &indexCount);
    if (FAILED(hr)) return hr;
    const BufferSetup& ib = indices_->Store().Setup();
    const UINT indexSize = ib.format == D3DFMT_INDEX32 ? 4 : 2;
    if ((std::uint64_t(startIndex) + indexCount) * indexSize > ib.length)
        return InvalidCall(method, "indices past the end of the index buffer");
    const std::int64_t first = std::int64_t(baseVertexIndex) + minVertexIndex;
    if (numVertices == 0 || first < 0) return InvalidCall(method, "empty or negative vertex range");
    const UINT available = stream_->Store().Setup().length - streamOffset_;
    const UINT extent = VertexExtent(draw_.elements, draw_.elementCount);
    if ((std::uint64_t(first) + numVertices - 1) * streamStride_ + extent > available)
        return InvalidCall(method, "vertex range past the end of the vertex buffer");
    if (primitiveCount == 0) return D3D_OK;
    DWORD lo, hi;
    BufferIndexRange(*indices_, startIndex, indexCount, lo, hi);
    if (!RangeWithin(lo, hi, baseVertexIndex, VerticesIn(available, streamStride_, extent)))
        return InvalidCall(method, "an index names a vertex past the end of the vertex buffer");
    draw_.stream0 = VertexStreamView{stream_->Store().Bytes() + streamOffset_, available, streamStride_,
                                     {stream_->Store().Id(), stream_->Store().Changes()}, streamOffset_};
    draw_.indices = IndexView{indices_->Store().Bytes(), ib.length, ib.format,
                              {indices_->Store().Id(), indices_->Store().Changes()}};
    renderer_.DrawIndexedPrimitive(draw_, type, baseVertexIndex, minVertexIndex, numVertices, startIndex,
                                   primitiveCount);
    return D3D_OK;
}

void Device::BufferIndexRange(const IndexBuffer& buffer, UINT start, UINT count, DWORD& lo, DWORD& hi) {
    const BufferStore& store = buffer.Store();
    const std::uint64_t changes = store.Changes();
    // A buffer being written (changes 0) is scanned every time.
    if (changes == 0) {
        IndexRange(store.Bytes(), store.Setup().format, start, count, lo, hi);
        return;
    }
    const IndexRangeKey key{store.Id(), start, count};
    const auto found = indexRanges_.find(key);
    if (found != indexRanges_.end() && found->second.changes == changes) {
        lo = found->second.lo, hi = found->second.hi;
        return;
    }
    IndexRange(store.Bytes(), store.Setup().format, start, count, lo, hi);
    if (found != indexRanges_.end()) {
        found->second = {changes, lo, hi};
        return;
    }
    if (indexRanges_.size() >= kIndexRangeMemos) indexRanges_.clear();
    indexRanges_.emplace(key, IndexRangeMemo{changes, lo, hi});
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                                UINT vertexStride) {
    static const char* method = "IDirect3DDevice9::DrawPrimitiveUP";
    if (!vertexData) return InvalidCall(method, "null vertex data");
    if (vertexStride == 0) return InvalidCall(method, "zero stride");
    UINT vertices = 0;
    HRESULT hr = PrepareDraw(method, type, primitiveCount, vertexStride, &vertices);
    if (FAILED(hr)) return hr;
    const std::uint64_t size = std::uint64_t(vertices) * vertexStride;
    if (size > 0xFFFFFFFFull) return InvalidCall(method, "too much vertex data");
    // The caller's vertices stand in for stream 0, which is left unset.
    Rebind<VertexBuffer>(stream_, nullptr);
    streamOffset_ = streamStride_ = 0;
    if (primitiveCount == 0) return D3D_OK;
    draw_.stream0 = VertexStreamView{static_cast<const BYTE*>(vertexData), UINT(size), vertexStride};
    renderer_.DrawPrimitive(draw_, type, 0, primitiveCount);
    return D3D_OK;
}

HRESULT Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                       UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                       const void* vertexData, UINT vertexStride) {
    static const char* method = "IDirect3DDevice9::DrawIndexedPrimitiveUP";
    if (!vertexData || !indexData) return InvalidCall(method, "null vertex or index data");
    if (vertexStride == 0) return InvalidCall(method, "zero stride");
    if (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32)
        return InvalidCall(method, "index format must be INDEX16 or INDEX32");
    if (numVertices == 0) return InvalidCall(method, "empty vertex range");
    UINT indexCount = 0;
    HRESULT hr = PrepareDraw(method, type, primitiveCount, vertexStride, &indexCount);
    if (FAILED(hr)) return hr;
    const std::uint64_t vertexBytes = (std::uint64_t(minVertexIndex) + numVertices) * vertexStride;
    const std::uint64_t indexBytes = std::uint64_t(indexCount) * (indexFormat == D3DFMT_INDEX32 ? 4 : 2);
    if (vertexBytes > 0xFFFFFFFFull || indexBytes > 0xFFFFFFFFull) return InvalidCall(method, "too much data");
    if (!IndicesWithin(indexData, indexFormat, 0, indexCount, 0, std::uint64_t(minVertexIndex) + numVertices))
        return InvalidCall(method, "an index outside the given vertices");
    // The caller's vertices and indices stand in for stream 0 and the index
    // buffer, which are left unset.
    Rebind<VertexBuffer>(stream_, nullptr);
    streamOffset_ = streamStride_ = 0;
    Rebind<IndexBuffer>(indices_, nullptr);
    if (primitiveCount == 0) return D3D_OK;
    draw_.stream0 = VertexStreamView{static_cast<const BYTE*>(vertexData), UINT(vertexBytes), vertexStride};
    draw_.indices = IndexView{indexData, UINT(indexBytes), indexFormat};
    renderer_.DrawIndexedPrimitive(draw_, type, 0, minVertexIndex, numVertices, 0, primitiveCount);
    return D3D_OK;
}

HRESULT Device::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                        const void* dirtyRegion) {
    static const char* method = "IDirect3DDevice9::Present";
    renderer_.Flush();
    if ((sourceRect || destRect || dirtyRegion) && present_.SwapEffect != D3DSWAPEFFECT_COPY)
        return InvalidCall(method, "rectangles need the copy swap effect");
    if (backBuffer_->IsLocked()) return InvalidCall(method, "the back buffer is locked");
    HWND window = destWindowOverride ? destWindowOverride
                                     : (present_.hDeviceWindow ? present_.hDeviceWindow : creation_.hFocusWindow);
    FrameSink* sink = GetFrameSink();
    if (!sink) return D3D_OK;  // no one to show frames to: they are dropped
    const PixelStore& back = backBuffer_->Pixels();
    FrameView frame;
    frame.width = back.width;
    frame.height = back.height;
    frame.pitch = back.pitch;
    frame.format = back.format == D3DFMT_R5G6B5 ? FramePixelFormat::R5G6B5 : FramePixelFormat::X8R8G8B8;
    frame.pixels = back.bits.get();
    lost_ = !sink->PresentFrame(window, frame);
    return lost_ ? D3DERR_DEVICELOST : D3D_OK;
}
