// Untrusted image bytes through the whole texture front end: decoding,
// format choice, level copies through every codec, mip generation, on a
// headless software device.
#include <cstddef>
#include <cstdint>

#include "texture/texture.h"
#include "platform/d3d9/offscreen_device.h"

namespace {
IDirect3DDevice9* Device() { return SharedOffscreenDevice(); }

void Build(const uint8_t* data, size_t size, D3DRESOURCETYPE type, DWORD filter, DWORD mipFilter, D3DPOOL pool,
           D3DCOLOR key) {
    IDirect3DBaseTexture9* texture = nullptr;
    PALETTEENTRY palette[256];
    ImageInfo info;
    if (SUCCEEDED(BuildTextureFromImage(Device(), data, UINT(size), USE_DEFAULT, USE_DEFAULT, USE_DEFAULT,
                                        USE_DEFAULT, 0, D3DFMT_UNKNOWN, pool, filter, mipFilter, key, &info,
                                        palette, type, &texture)))
        texture->Release();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!Device() || size == 0 || size > 0xFFFFFFFFu) return 0;
    ImageLevel root;
    ImageInfo info;
    if (FAILED(ReadImageFile(&root, data, UINT(size), &info, TRUE))) return 0;
    // Keep the work per input bounded: the file's own bytes bound the image,
    // but a texture rounds every side up.
    if (UINT64_C(1) * info.width * info.height * info.depth > (UINT64_C(1) << 22)) return 0;

    // The filter words vary with the input so every path gets exercised.
    static const DWORD filters[] = {USE_DEFAULT, FILTER_NONE, FILTER_POINT, FILTER_LINEAR | FILTER_MIRROR,
                                    FILTER_TRIANGLE | FILTER_DITHER_DIFFUSION, FILTER_BOX | FILTER_SRGB_IN};
    const DWORD filter = filters[size % 6];
    const DWORD mipFilter = filters[(size / 6) % 6];
    Build(data, size, D3DRTYPE_TEXTURE, filter, mipFilter, D3DPOOL_MANAGED, 0);
    Build(data, size, D3DRTYPE_TEXTURE, FILTER_TRIANGLE, FILTER_TRIANGLE, D3DPOOL_SCRATCH, 0xFF000000);
    if (info.resourceType == D3DRTYPE_CUBETEXTURE) Build(data, size, D3DRTYPE_CUBETEXTURE, filter, mipFilter, D3DPOOL_MANAGED, 0);
    if (info.resourceType == D3DRTYPE_VOLUMETEXTURE)
        Build(data, size, D3DRTYPE_VOLUMETEXTURE, filter, mipFilter, D3DPOOL_MANAGED, 0);
    return 0;
}
