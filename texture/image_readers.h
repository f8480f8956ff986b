// The image readers other than DDS. Each fills the root record (preset with
// the decode flag, D3DRTYPE_TEXTURE and its file type) from the whole file
// and returns S_OK, or E_FAIL when the bytes are not its format. The bytes
// are untrusted and must outlive the record, which may point into them.
#pragma once

#include "texture/image_level.h"

HRESULT ReadBmpImage(ImageLevel* root, const BYTE* bytes, UINT byteCount);
HRESULT ReadDibImage(ImageLevel* root, const BYTE* bytes, UINT byteCount);
// A bitmap behind a file header whose bits start `storedBitsOffset` bytes
// into `bytes` (0: right after the palette).
HRESULT ReadDibBits(ImageLevel* root, const BYTE* bytes, UINT byteCount, unsigned long long storedBitsOffset);
HRESULT ReadTgaImage(ImageLevel* root, const BYTE* bytes, UINT byteCount);
HRESULT ReadPpmImage(ImageLevel* root, const BYTE* bytes, UINT byteCount);
HRESULT ReadPfmImage(ImageLevel* root, const BYTE* bytes, UINT byteCount);
HRESULT ReadHdrImage(ImageLevel* root, const BYTE* bytes, UINT byteCount);
HRESULT ReadJpegImage(ImageLevel* root, const BYTE* bytes, UINT byteCount);
HRESULT ReadPngImage(ImageLevel* root, const BYTE* bytes, UINT byteCount);
