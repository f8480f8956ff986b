// The software device: all state the fixed-function pipeline reads, the
// resources it creates, and the calls that hand draws to the renderer.
// One thread calls it.
#pragma once

#include <map>
#include <unordered_map>

#include "platform/d3d9/buffers.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/render/draw_state.h"
#include "platform/d3d9/render/renderer.h"
#include "platform/d3d9/caps.h"
#include "platform/d3d9/surface.h"
#include "platform/d3d9/texture.h"
#include "platform/d3d9/vertex_declaration.h"

class Device final : public IDirect3DDevice9 {
public:
    // Draws what the renderer still holds back. Called before anything
    // reads, writes or frees the memory of a surface or texture outside a
    // draw.
    void FlushDrawing() { renderer_.Flush(); }

    // Checks the arguments as IDirect3D9::CreateDevice does (the adapter and
    // device type already checked), fills in the defaults of `parameters`
    // and creates the device with one reference.
    static HRESULT Create(IDirect3D9* parent, HWND focusWindow, DWORD behaviorFlags,
                          D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** out);

    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT TestCooperativeLevel() override;
    UINT GetAvailableTextureMem() override;
    HRESULT GetDirect3D(IDirect3D9** direct3d) override;
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
    HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override;
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* parameters) override;
    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                    const void* dirtyRegion) override;
    HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type,
                          IDirect3DSurface9** backBuffer) override;

    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, HANDLE* sharedHandle) override;
    HRESULT CreateVolumeTexture(UINT width, UINT height, UINT depth, UINT levels, DWORD usage, D3DFORMAT format,
                                D3DPOOL pool, IDirect3DVolumeTexture9** texture, HANDLE* sharedHandle) override;
    HRESULT CreateCubeTexture(UINT edgeLength, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DCubeTexture9** texture, HANDLE* sharedHandle) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                               HANDLE* sharedHandle) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) override;
    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                        IDirect3DSurface9** surface, HANDLE* sharedHandle) override;
    HRESULT UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* destination,
                          const POINT* destPoint) override;
    HRESULT UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* destination) override;
    HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* destination,
                        const RECT* destRect, D3DTEXTUREFILTERTYPE filter) override;
    HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** target) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) override;

    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;

    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT GetMaterial(D3DMATERIAL9* material) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT GetLight(DWORD index, D3DLIGHT9* light) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;

    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                 UINT numVertices, UINT startIndex, UINT primitiveCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                            UINT vertexStride) override;
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT numVertices,
                                   UINT primitiveCount, const void* indexData, D3DFORMAT indexFormat,
                                   const void* vertexData, UINT vertexStride) override;
    HRESULT CreateVertexDeclaration(const D3DVERTEXELEMENT9* elements,
                                    IDirect3DVertexDeclaration9** declaration) override;
    HRESULT SetVertexDeclaration(IDirect3DVertexDeclaration9* declaration) override;
    HRESULT GetVertexDeclaration(IDirect3DVertexDeclaration9** declaration) override;
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT GetFVF(DWORD* fvf) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
    HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offset, UINT* stride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* indices) override;
    HRESULT GetIndices(IDirect3DIndexBuffer9** indices) override;

private:
    Device(IDirect3D9* parent, HWND focusWindow, DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& parameters);
    ~Device();
    HRESULT CreateImplicitSurfaces();
    void SetStateDefaults();
    HRESULT CreateTextureCommon(const char* method, TextureSetup setup, void** out, HANDLE* sharedHandle);
    // The vertex layout for a draw, checked against a vertex stride.
    HRESULT PrepareDraw(const char* method, D3DPRIMITIVETYPE type, UINT primitiveCount, UINT stride,
                        UINT* vertexCount);
    void FillDrawState();
    // The smallest and largest of `count` indices of the buffer from `start`
    // on, remembered for the last few draws while the bytes stay the same:
    // every draw checks its indices, and most draw the same ones each frame.
    void BufferIndexRange(const IndexBuffer& buffer, UINT start, UINT count, DWORD& lo, DWORD& hi);
    bool OwnedByThis(const DeviceChild* child) const;

    ULONG refs_ = 1;
    IDirect3D9* parent_;
    D3DDEVICE_CREATION_PARAMETERS creation_{};
    D3DPRESENT_PARAMETERS present_{};
    D3DCAPS9 caps_{};
    Surface* backBuffer_ = nullptr;
    Surface* depthStencil_ = nullptr;
    bool inScene_ = false;
    bool lost_ = false;

    DWORD renderStates_[D3DRS_STATE_COUNT] = {};
    DWORD stageStates_[kStageCount][D3DTSS_STATE_COUNT] = {};
    DWORD samplerStates_[kSamplerCount][D3DSAMP_STATE_COUNT] = {};
    D3DMATRIX world_[256]{};
    D3DMATRIX view_{}, projection_{};
    D3DMATRIX textureTransforms_[8]{};
    D3DMATERIAL9 material_{};
    struct LightSlot {
        D3DLIGHT9 light;
        bool enabled;
    };
    std::map<DWORD, LightSlot> lights_;
    D3DVIEWPORT9 viewport_{};

    BaseTextureImpl* textures_[kSamplerCount] = {};
    VertexBuffer* stream_ = nullptr;
    UINT streamOffset_ = 0, streamStride_ = 0;
    IndexBuffer* indices_ = nullptr;
    VertexDeclaration* declaration_ = nullptr;
    DWORD fvf_ = 0;

    Renderer renderer_;
    DrawState draw_;

    // The smallest and largest index of each range drawn from an index
    // buffer, kept while the buffer stays unchanged: a frame draws its
    // ranges again every frame (the demo some thirty of them), and
    // scanning them each time costs more than some of the draws.
    struct IndexRangeKey {
        std::uint64_t id;
        UINT start, count;
        bool operator==(const IndexRangeKey&) const = default;
    };
    struct IndexRangeKeyHash {
        size_t operator()(const IndexRangeKey& k) const noexcept {
            return std::hash<std::uint64_t>{}(k.id * 0x9E3779B97F4A7C15ull ^ (std::uint64_t(k.start) << 32 | k.count));
        }
    };
    struct IndexRangeMemo {
        std::uint64_t changes;
        DWORD lo, hi;
    };
    // Past this many ranges the memo starts again, so that a program
    // drawing ever new ranges does not grow it without bound.
    static constexpr size_t kIndexRangeMemos = 4096;
    std::unordered_map<IndexRangeKey, IndexRangeMemo, IndexRangeKeyHash> indexRanges_;
};
