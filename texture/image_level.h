// A decoded image: one record per mip level per face, as every image reader
// fills it. The root record (first face, first level) belongs to whoever
// called the reader, normally on its stack; the records it links to are
// allocated by the reader and freed with the root.
#pragma once

#include "platform/d3d9/d3d9.h"

// Which reader produced an image.
enum ImageFileType : DWORD {
    IFT_BMP = 0,
    IFT_JPG = 1,
    IFT_TGA = 2,
    IFT_PNG = 3,
    IFT_DDS = 4,
    IFT_PPM = 5,
    IFT_DIB = 6,
    IFT_HDR = 7,
    IFT_PFM = 8,
};

struct ImageLevel {
    // Pixel format of `pixels`; also the internal codes FMT_AL16 and FMT_R16.
    D3DFORMAT format = D3DFMT_UNKNOWN;
    BYTE* pixels = nullptr;
    PALETTEENTRY* palette = nullptr;  // 256 entries, or null
    UINT width = 0, height = 0, depth = 0;
    D3DBOX box = {};    // region to use; the whole level once ReadImageFile succeeds
    UINT rowPitch = 0;  // bytes from one row (or row of 4x4 blocks) to the next
    UINT slicePitch = 0;
    bool ownsPixels = false;   // pixels were allocated with new BYTE[] and are freed here
    bool ownsPalette = false;  // palette was allocated with new PALETTEENTRY[] and is freed here
    bool decodePixels = false;  // set before each reader: false = parse the header only
    D3DRESOURCETYPE resourceType = D3DRTYPE_TEXTURE;
    ImageFileType fileType = IFT_BMP;
    ImageLevel* nextLevel = nullptr;  // owned: next smaller level of this face
    ImageLevel* nextFace = nullptr;   // owned: first level of the next cube face

    ImageLevel() = default;
    ImageLevel(const ImageLevel&) = delete;
    ImageLevel& operator=(const ImageLevel&) = delete;
    ~ImageLevel() { Release(); }

    // Frees what this record owns and the chains behind it, and makes the
    // record new again except for decodePixels, resourceType and fileType.
    void Release() {
        if (ownsPixels) delete[] pixels;
        if (ownsPalette) delete[] palette;
        pixels = nullptr;
        palette = nullptr;
        ownsPixels = ownsPalette = false;
        // Chains are freed iteratively so a long chain cannot exhaust the stack.
        while (nextLevel) {
            ImageLevel* next = nextLevel->nextLevel;
            nextLevel->nextLevel = nullptr;
            delete nextLevel;
            nextLevel = next;
        }
        while (nextFace) {
            ImageLevel* next = nextFace->nextFace;
            nextFace->nextFace = nullptr;
            delete nextFace;
            nextFace = next;
        }
        format = D3DFMT_UNKNOWN;
        width = height = depth = rowPitch = slicePitch = 0;
        box = {};
    }
};
