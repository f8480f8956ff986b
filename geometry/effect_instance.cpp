#include "geometry/effect_instance.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

EffectDefaultData Floats(const char* name, const float* values, size_t count) {
    EffectDefaultData d;
    d.parameterName = name;
    d.type = EFFECT_DEFAULT_FLOATS;
    d.value.resize(count * 4);
    std::memcpy(d.value.data(), values, count * 4);
    return d;
}

EffectDefaultData Colour(const char* name, const D3DCOLORVALUE& c) {
    const float rgba[4] = {c.r, c.g, c.b, c.a};
    return Floats(name, rgba, 4);
}

uint64_t Align(uint64_t n, uint64_t to) { return (n + to - 1) / to * to; }

}  // namespace

EffectInstanceData DefaultEffectInstance(const D3DMATERIAL9& material, const char* textureFilename) {
    EffectInstanceData e;
    e.defaults.reserve(6);
    e.defaults.push_back(Colour("Diffuse", material.Diffuse));
    e.defaults.push_back(Floats("Power", &material.Power, 1));
    e.defaults.push_back(Colour("Specular", material.Specular));
    e.defaults.push_back(Colour("Emissive", material.Emissive));
    e.defaults.push_back(Colour("Ambient", material.Ambient));
    if (textureFilename) {
        EffectDefaultData t;
        t.parameterName = "Texture0@Name";
        t.type = EFFECT_DEFAULT_STRING;
        const size_t n = std::strlen(textureFilename) + 1;
        t.value.assign(textureFilename, textureFilename + n);
        e.defaults.push_back(std::move(t));
    }
    return e;
}

HRESULT CreateEffectInstanceBuffer(const EffectInstanceData* instances, DWORD count, DataBuffer** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (count == 0) return S_OK;
    if (!instances) return D3DERR_INVALIDCALL;
    // Records first (pointer-aligned), then names and values, each value
    // starting on 4 bytes so floats and DWORDs can be read in place.
    uint64_t recordBytes = uint64_t{count} * sizeof(EffectInstance);
    for (DWORD i = 0; i < count; ++i) recordBytes += uint64_t{instances[i].defaults.size()} * sizeof(EffectDefault);
    uint64_t total = recordBytes;
    for (DWORD i = 0; i < count; ++i) {
        if (instances[i].hasEffectFile) total += instances[i].effectFilename.size() + 1;
        for (const EffectDefaultData& d : instances[i].defaults) {
            total += d.parameterName.size() + 1;
            total = Align(total, 4) + d.value.size();
        }
    }
    if (total > 0xFFFFFFFFull) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < count; ++i) {
        for (const EffectDefaultData& d : instances[i].defaults) {
            if (d.value.size() > 0xFFFFFFFFull) return E_OUTOFMEMORY;
        }
    }
    HRESULT hr = CreateDataBuffer(static_cast<DWORD>(total), out);
    if (FAILED(hr)) return hr;
    BYTE* base = static_cast<BYTE*>((*out)->GetDataPointer());
    std::memset(base, 0, static_cast<size_t>(total));
    auto* records = reinterpret_cast<EffectInstance*>(base);
    auto* defaults = reinterpret_cast<EffectDefault*>(base + size_t{count} * sizeof(EffectInstance));
    size_t tail = static_cast<size_t>(recordBytes);
    auto put = [&](const void* bytes, size_t n) {
        BYTE* at = base + tail;
        if (n) std::memcpy(at, bytes, n);
        tail += n;
        return at;
    };
    for (DWORD i = 0; i < count; ++i) {
        const EffectInstanceData& from = instances[i];
        EffectInstance& to = records[i];
        to.effectFilename = from.hasEffectFile
                                ? reinterpret_cast<char*>(put(from.effectFilename.c_str(), from.effectFilename.size() + 1))
                                : nullptr;
        to.numDefaults = static_cast<DWORD>(from.defaults.size());
        to.defaults = from.defaults.empty() ? nullptr : defaults;
        for (const EffectDefaultData& d : from.defaults) {
            EffectDefault& e = *defaults++;
            e.parameterName = reinterpret_cast<char*>(put(d.parameterName.c_str(), d.parameterName.size() + 1));
            e.type = d.type;
            e.numBytes = static_cast<DWORD>(d.value.size());
            tail = static_cast<size_t>(Align(tail, 4));
            e.value = put(d.value.data(), d.value.size());
        }
    }
    return S_OK;
}

std::vector<EffectInstanceData> ReadEffectInstances(DataBuffer* buffer, DWORD count) {
    std::vector<EffectInstanceData> out(count);
    if (!buffer) return out;
    const DWORD held = std::min<DWORD>(count, buffer->GetDataSize() / sizeof(EffectInstance));
    const EffectInstance* records = static_cast<const EffectInstance*>(buffer->GetDataPointer());
    for (DWORD i = 0; i < held; ++i) {
        EffectInstanceData& e = out[i];
        if (records[i].effectFilename) {
            e.hasEffectFile = true;
            e.effectFilename = records[i].effectFilename;
        }
        for (DWORD k = 0; records[i].defaults && k < records[i].numDefaults; ++k) {
            const EffectDefault& d = records[i].defaults[k];
            EffectDefaultData copy;
            copy.parameterName = d.parameterName ? d.parameterName : "";
            copy.type = d.type;
            if (d.value && d.numBytes) {
                const BYTE* v = static_cast<const BYTE*>(d.value);
                copy.value.assign(v, v + d.numBytes);
            }
            e.defaults.push_back(std::move(copy));
        }
    }
    return out;
}
