// Conversion of vertex elements between declaration types.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "geometry/math_half.h"
#include "geometry/mesh.h"

namespace {

template <class T>
T Load(const BYTE* p, int i) {
    T value;
    std::memcpy(&value, p + sizeof(T) * static_cast<size_t>(i), sizeof(T));
    return value;
}

template <class T>
void Store(BYTE* p, int i, T value) {
    std::memcpy(p + sizeof(T) * static_cast<size_t>(i), &value, sizeof(T));
}

// Components of a type (1 … 4); the rest default to (0, 0, 0, 1).
int Components(BYTE type) {
    static constexpr int counts[17] = {1, 2, 3, 4, 4, 4, 2, 4, 4, 2, 4, 2, 4, 3, 3, 2, 4};
    return type < 17 ? counts[type] : 0;
}

void Decode(const BYTE* p, BYTE type, float out[4]) {
    out[0] = out[1] = out[2] = 0.0f;
    out[3] = 1.0f;
    switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_FLOAT4:
        for (int i = 0; i <= type; ++i) out[i] = Load<float>(p, i);
        break;
    case D3DDECLTYPE_D3DCOLOR:
        out[0] = p[2] * 0.003921569f;
        out[1] = p[1] * 0.003921569f;
        out[2] = p[0] * 0.003921569f;
        out[3] = p[3] * 0.003921569f;
        break;
    case D3DDECLTYPE_UBYTE4:
        for (int i = 0; i < 4; ++i) out[i] = p[i];
        break;
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT4:
        for (int i = 0; i < Components(type); ++i) out[i] = Load<int16_t>(p, i);
        break;
    case D3DDECLTYPE_UBYTE4N:
        for (int i = 0; i < 4; ++i) out[i] = p[i] * 0.003921569f;
        break;
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_SHORT4N:
        for (int i = 0; i < Components(type); ++i) {
            const int v = std::max<int>(Load<int16_t>(p, i), -32767);
            out[i] = static_cast<float>(v) * 0.00003051851f;
        }
        break;
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_USHORT4N:
        for (int i = 0; i < Components(type); ++i) out[i] = Load<uint16_t>(p, i) * 0.000015259022f;
        break;
    case D3DDECLTYPE_UDEC3: {
        const uint32_t v = Load<uint32_t>(p, 0);
        for (int i = 0; i < 3; ++i) out[i] = static_cast<float>((v >> (10 * i)) & 0x3FF);
        break;
    }
    case D3DDECLTYPE_DEC3N: {
        const uint32_t v = Load<uint32_t>(p, 0);
        for (int i = 0; i < 3; ++i) {
            int field = static_cast<int>((v >> (10 * i)) & 0x3FF);
            if (field & 0x200) field -= 0x400;
            field = std::max(field, -511);
            out[i] = static_cast<float>(field) * 0.0019569471f;
        }
        break;
    }
    case D3DDECLTYPE_FLOAT16_2:
    case D3DDECLTYPE_FLOAT16_4:
        for (int i = 0; i < Components(type); ++i) out[i] = HalfToFloat(Load<uint16_t>(p, i));
        break;
    default: break;
    }
}

float Clamp(float v, float low, float high) { return v < low ? low : (v > high ? high : v); }

// (value × scale + 0.5) truncated toward zero.
int Quantize(float v, float scale) { return static_cast<int>(v * scale + 0.5f); }

void Encode(BYTE* p, BYTE type, const float in[4]) {
    switch (type) {
    case D3DDECLTYPE_FLOAT1:
    case D3DDECLTYPE_FLOAT2:
    case D3DDECLTYPE_FLOAT3:
    case D3DDECLTYPE_FLOAT4:
        for (int i = 0; i <= type; ++i) Store<float>(p, i, in[i]);
        break;
    case D3DDECLTYPE_D3DCOLOR: {
        uint32_t c = 0;
        const int order[4] = {3, 0, 1, 2};  // alpha, red, green, blue from the high byte down
        for (int i = 0; i < 4; ++i) {
            c = (c << 8) | static_cast<uint32_t>(Quantize(Clamp(in[order[i]], 0, 1), 255) & 0xFF);
        }
        Store<uint32_t>(p, 0, c);
        break;
    }
    case D3DDECLTYPE_UBYTE4:
        for (int i = 0; i < 4; ++i) p[i] = static_cast<BYTE>(Quantize(std::max(in[i], 0.0f), 1));
        break;
    case D3DDECLTYPE_SHORT2:
    case D3DDECLTYPE_SHORT4:
        for (int i = 0; i < Components(type); ++i) Store<int16_t>(p, i, static_cast<int16_t>(Quantize(in[i], 1)));
        break;
    case D3DDECLTYPE_UBYTE4N:
        for (int i = 0; i < 4; ++i) p[i] = static_cast<BYTE>(Quantize(Clamp(in[i], 0, 1), 255));
        break;
    case D3DDECLTYPE_SHORT2N:
    case D3DDECLTYPE_SHORT4N:
        for (int i = 0; i < Components(type); ++i) {
            Store<int16_t>(p, i, static_cast<int16_t>(Quantize(Clamp(in[i], -1, 1), 32767)));
        }
        break;
    case D3DDECLTYPE_USHORT2N:
    case D3DDECLTYPE_USHORT4N:
        for (int i = 0; i < Components(type); ++i) {
            Store<uint16_t>(p, i, static_cast<uint16_t>(Quantize(Clamp(in[i], 0, 1), 65535)));
        }
        break;
    case D3DDECLTYPE_UDEC3: {
        uint32_t v = 0;
        for (int i = 0; i < 3; ++i) v |= (static_cast<uint32_t>(Quantize(std::max(in[i], 0.0f), 1)) & 0x3FF) << (10 * i);
        Store<uint32_t>(p, 0, v);
        break;
    }
    case D3DDECLTYPE_DEC3N: {
        uint32_t v = 0;
        for (int i = 0; i < 3; ++i) {
            v |= (static_cast<uint32_t>(Quantize(Clamp(in[i], -1, 1), 511)) & 0x3FF) << (10 * i);
        }
        Store<uint32_t>(p, 0, v);
        break;
    }
    case D3DDECLTYPE_FLOAT16_2:
    case D3DDECLTYPE_FLOAT16_4:
        for (int i = 0; i < Components(type); ++i) Store<uint16_t>(p, i, FloatToHalf(in[i]));
        break;
    default: break;
    }
}

}  // namespace

void ConvertVertices(void* dst, const D3DVERTEXELEMENT9* dstElements, UINT dstStride, const void* src,
                     const D3DVERTEXELEMENT9* srcElements, UINT srcStride, DWORD count, bool zero) {
    BYTE* to = static_cast<BYTE*>(dst);
    const BYTE* from = static_cast<const BYTE*>(src);
    for (DWORD v = 0; v < count; ++v, to += dstStride, from += srcStride) {
        if (zero) std::memset(to, 0, dstStride);
        for (UINT e = 0; e < MAX_DECLARATION_ELEMENTS && dstElements[e].Stream != 0xFF; ++e) {
            const D3DVERTEXELEMENT9& d = dstElements[e];
            const D3DVERTEXELEMENT9* s = FindElement(srcElements, d.Usage, d.UsageIndex);
            if (!s) continue;
            float value[4];
            Decode(from + s->Offset, s->Type, value);
            if (s->Usage == D3DDECLUSAGE_BLENDWEIGHT && s->Type <= D3DDECLTYPE_FLOAT3) {
                float sum = 0;
                for (int i = 0; i <= s->Type; ++i) sum += value[i];
                value[s->Type + 1] = 1.0f - sum;
            }
            Encode(to + d.Offset, d.Type, value);
        }
    }
}
