// Decoding an image file of any supported container into an ImageLevel chain.
#include <clocale>
#include <cstring>
#include <string>

#include "texture/dds_reader.h"
#include "texture/image_readers.h"
#include "texture/pixel_format.h"
#include "texture/texture_from_file.h"

namespace {
using ReaderFunction = HRESULT (*)(ImageLevel*, const BYTE*, UINT);

HRESULT ReadDds(ImageLevel* root, const BYTE* bytes, UINT byteCount) {
    return ReadDdsImage(root, bytes, byteCount);
}

struct Reader {
    ImageFileType type;
    ReaderFunction read;
};

// The order matters: the first reader that accepts the bytes wins, and the
// bare DIB reader accepts so much that it must come last.
constexpr Reader kReaders[] = {
    {IFT_BMP, ReadBmpImage}, {IFT_PPM, ReadPpmImage}, {IFT_DDS, ReadDds},
    {IFT_JPG, ReadJpegImage}, {IFT_PNG, ReadPngImage}, {IFT_PFM, ReadPfmImage},
    {IFT_HDR, ReadHdrImage}, {IFT_TGA, ReadTgaImage}, {IFT_DIB, ReadDibImage},
};

// The text readers parse numbers with the C library, so the numeric locale
// is "C" while they run and restored afterwards.
class NumericLocaleC {
public:
    NumericLocaleC() {
        const char* current = std::setlocale(LC_NUMERIC, nullptr);
        if (current && std::strcmp(current, "C") != 0) {
            saved_ = current;
            changed_ = std::setlocale(LC_NUMERIC, "C") != nullptr;
        }
    }
    ~NumericLocaleC() {
        if (changed_) std::setlocale(LC_NUMERIC, saved_.c_str());
    }
    NumericLocaleC(const NumericLocaleC&) = delete;
    NumericLocaleC& operator=(const NumericLocaleC&) = delete;

private:
    std::string saved_;
    bool changed_ = false;
};
}  // namespace

HRESULT ReadImageFile(ImageLevel* root, const void* bytes, UINT byteCount, ImageInfo* info, BOOL decode) {
    if (!root || !bytes || byteCount == 0) return D3DERR_INVALIDCALL;
    if (!info && !decode) return S_OK;

    HRESULT hr = ERR_INVALID_DATA;
    {
        NumericLocaleC locale;
        for (const Reader& reader : kReaders) {
            root->Release();
            root->decodePixels = decode != FALSE;
            root->resourceType = D3DRTYPE_TEXTURE;
            root->fileType = reader.type;
            if (SUCCEEDED(reader.read(root, static_cast<const BYTE*>(bytes), byteCount))) {
                hr = S_OK;
                break;
            }
        }
        if (FAILED(hr)) root->Release();
    }
    if (FAILED(hr)) return hr;

    if (info) {
        *info = {};
        info->width = root->width;
        info->height = root->height;
        info->depth = root->depth;
        UINT levels = 1;
        for (const ImageLevel* level = root->nextLevel; level; level = level->nextLevel) ++levels;
        info->mipLevels = levels;
        info->format = ToStorageFormat(root->format);
        info->resourceType = root->resourceType;
        info->fileType = root->fileType;
    }
    for (ImageLevel* face = root; face; face = face->nextFace)
        for (ImageLevel* level = face; level; level = level->nextLevel)
            level->box = {0, 0, level->width, level->height, 0, level->depth};
    return S_OK;
}
