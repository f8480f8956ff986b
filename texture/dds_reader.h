// Reading DDS files that are already in memory into ImageLevel chains that
// point straight into the file bytes.
#pragma once

#include "texture/image_level.h"

// One recognised DDS pixel-format description. Fields a row does not use
// are 0 and are not compared.
struct DdsFormatEntry {
    D3DFORMAT format;  // D3DFMT_UNKNOWN ends the table
    DWORD flags;       // required ddspf.dwFlags, exactly
    DWORD fourCC;
    DWORD bitCount;
    DWORD redMask, greenMask, blueMask, alphaMask;
};

// In search order; the first matching row wins.
extern const DdsFormatEntry DdsFormatTable[];

// Parses a DDS file of `byteCount` bytes into `root` (a fresh record) and
// the records it links: one per level per face, pointing into `bytes`,
// which must outlive the chain. Every size is checked against the bytes
// present. S_OK; E_FAIL for anything that is not a readable DDS file;
// E_OUTOFMEMORY. On failure the caller releases what was linked.
HRESULT ReadDdsImage(ImageLevel* root, const BYTE* bytes, UINT byteCount);
