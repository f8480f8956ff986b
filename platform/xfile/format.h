// The 16-byte ".x" file header and the MSZIP-compressed body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/types.h"

namespace xfile {

enum class Encoding { Text, Binary };

struct FileHeader {
    Encoding encoding = Encoding::Text;
    bool compressed = false;
    int floatSize = 32;  // bits of each float in binary float lists
};

constexpr size_t kHeaderSize = 16;
// No file of any form may unpack to more than this.
constexpr size_t kMaxUnpackedSize = size_t(256) << 20;

// Reads "xof MMmmFFFFSSSS": magic, version (0302 or 0303), format ("txt ",
// "bin ", "tzip", "bzip") and float size ("0032" or "0064"). Returns 0 or a
// DXFILEERR_* code with a reason.
HRESULT ReadHeader(const uint8_t* data, size_t size, FileHeader& header, std::string& reason);

// Unpacks the body that follows the header of a compressed file: a DWORD
// total size (of the unpacked file, header included), then blocks of WORD
// unpacked size, WORD packed size, "CK" and a raw deflate stream, each block
// inflated with the previous 32 KiB of output as its dictionary.
HRESULT Decompress(const uint8_t* body, size_t size, std::vector<uint8_t>& out, std::string& reason);

}  // namespace xfile
