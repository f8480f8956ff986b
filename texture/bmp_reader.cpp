// BMP files: the 14-byte file header in front of a device-independent bitmap.
#include "texture/byte_reader.h"
#include "texture/image_readers.h"

HRESULT ReadBmpImage(ImageLevel* root, const BYTE* bytes, UINT byteCount) {
    if (!bytes || byteCount < 14 || bytes[0] != 'B' || bytes[1] != 'M') return E_FAIL;
    if (LoadU32(bytes + 2) > byteCount) return E_FAIL;
    // The stored bits offset counts from the start of the file; the bitmap
    // reader checks it against the header and the data.
    const uint32_t bitsOffset = LoadU32(bytes + 10);
    return ReadDibBits(root, bytes + 14, byteCount - 14, bitsOffset >= 14 ? bitsOffset - 14 : 0);
}
