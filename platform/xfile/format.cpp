#include "platform/xfile/format.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "platform/xfile/dxfile.h"

namespace xfile {
namespace {

bool IsDigits(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] < '0' || p[i] > '9') return false;
    return true;
}

uint32_t ReadU16(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8); }
uint32_t ReadU32(const uint8_t* p) { return ReadU16(p) | (ReadU16(p + 2) << 16); }

constexpr size_t kWindow = 32768;

}  // namespace

HRESULT ReadHeader(const uint8_t* data, size_t size, FileHeader& header, std::string& reason) {
    if (size < kHeaderSize || std::memcmp(data, "xof ", 4) != 0) {
        reason = "not an .x file (no \"xof \" header)";
        return DXFILEERR_BADFILETYPE;
    }
    if (!IsDigits(data + 4, 4) || std::memcmp(data + 4, "03", 2) != 0 ||
        (std::memcmp(data + 6, "02", 2) != 0 && std::memcmp(data + 6, "03", 2) != 0)) {
        reason = "unsupported version " + std::string(reinterpret_cast<const char*>(data + 4), 4);
        return DXFILEERR_BADFILEVERSION;
    }
    const char* kind = reinterpret_cast<const char*>(data + 8);
    if (std::memcmp(kind, "txt ", 4) == 0) {
        header.encoding = Encoding::Text, header.compressed = false;
    } else if (std::memcmp(kind, "bin ", 4) == 0) {
        header.encoding = Encoding::Binary, header.compressed = false;
    } else if (std::memcmp(kind, "tzip", 4) == 0) {
        header.encoding = Encoding::Text, header.compressed = true;
    } else if (std::memcmp(kind, "bzip", 4) == 0) {
        header.encoding = Encoding::Binary, header.compressed = true;
    } else {
        reason = "unknown format \"" + std::string(kind, 4) + "\"";
        return std::memcmp(kind + 1, "zip", 3) == 0 ? DXFILEERR_BADFILECOMPRESSIONTYPE
                                                     : DXFILEERR_BADFILETYPE;
    }
    if (std::memcmp(data + 12, "0032", 4) == 0) {
        header.floatSize = 32;
    } else if (std::memcmp(data + 12, "0064", 4) == 0) {
        header.floatSize = 64;
    } else {
        reason = "unsupported float size " + std::string(reinterpret_cast<const char*>(data + 12), 4);
        return DXFILEERR_BADFILEFLOATSIZE;
    }
    return S_OK;
}

HRESULT Decompress(const uint8_t* body, size_t size, std::vector<uint8_t>& out, std::string& reason) {
    out.clear();
    if (size < 4) {
        reason = "compressed file without its size";
        return DXFILEERR_BADFILE;
    }
    const uint64_t declared = ReadU32(body);
    size_t pos = 4;

    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
        reason = "cannot start the decompressor";
        return DXFILEERR_BADALLOC;
    }
    struct Closer {
        z_stream* z;
        ~Closer() { inflateEnd(z); }
    } closer{&z};

    // The declared size bounds the output; it never reserves more than the
    // packed bytes could plausibly expand to.
    out.reserve(static_cast<size_t>(std::min<uint64_t>(declared, uint64_t(size) * 8 + kWindow)));
    while (pos < size) {
        if (size - pos < 6) {
            reason = "truncated compressed block header";
            return DXFILEERR_BADFILE;
        }
        const uint32_t unpacked = ReadU16(body + pos);
        const uint32_t packed = ReadU16(body + pos + 2);
        pos += 4;
        if (packed < 2 || size - pos < packed || body[pos] != 'C' || body[pos + 1] != 'K') {
            reason = "bad compressed block at byte " + std::to_string(kHeaderSize + pos);
            return DXFILEERR_BADFILE;
        }
        if (unpacked == 0 || unpacked > kWindow) {
            reason = "compressed block of " + std::to_string(unpacked) + " bytes";
            return DXFILEERR_BADFILE;
        }
        if (out.size() + unpacked > kMaxUnpackedSize || out.size() + unpacked > declared) {
            reason = "compressed data larger than its declared size";
            return DXFILEERR_BADFILE;
        }
        if (inflateReset(&z) != Z_OK) {
            reason = "cannot reset the decompressor";
            return DXFILEERR_INTERNALERROR;
        }
        if (!out.empty()) {
            const size_t dict = std::min(out.size(), kWindow);
            if (inflateSetDictionary(&z, out.data() + out.size() - dict, static_cast<uInt>(dict)) != Z_OK) {
                reason = "cannot set the decompression dictionary";
                return DXFILEERR_INTERNALERROR;
            }
        }
        const size_t start = out.size();
        out.resize(start + unpacked);
        z.next_in = const_cast<Bytef*>(body + pos + 2);
        z.avail_in = packed - 2;
        z.next_out = out.data() + start;
        z.avail_out = unpacked;
        const int status = inflate(&z, Z_FINISH);
        if (status != Z_STREAM_END || z.avail_out != 0) {
            reason = "corrupt compressed block at byte " + std::to_string(kHeaderSize + pos - 4);
            return DXFILEERR_BADFILE;
        }
        pos += packed;
    }
    if (out.size() + kHeaderSize != declared && out.size() != declared) {
        reason = "compressed data smaller than its declared size";
        return DXFILEERR_BADFILE;
    }
    return S_OK;
}

}  // namespace xfile
